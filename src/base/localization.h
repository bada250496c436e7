// Message catalogues and the process-wide language switch.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>

enum Language : std::int32_t { RUSSIAN = 0, ENGLISH = 1 };

// One module's catalogue: code -> text, per language. The maps are fixed at
// construction; only the current language changes (atomically, so a switch
// from one Java thread is seen cleanly by the others).
class Localization
{
  public:
    using Texts = std::map<std::string, std::string, std::less<>>;
    using Catalogue = std::map<Language, Texts>;

    // One literal row of a module's catalogue.
    struct Row {
        const char* code;
        const char* russian;
        const char* english;
    };

    explicit Localization(const Catalogue& catalogue);
    // Builds the Russian and English maps from literal rows; a code given
    // twice is a programming error (std::logic_error).
    explicit Localization(std::initializer_list<Row> rows);
    Localization(const Localization&) = delete;
    Localization& operator=(const Localization&) = delete;

    // No check is made: with a language the catalogue holds no texts for,
    // every later lookup fails (ormid_signer::setLanguageEverywhere refuses
    // such values before they get here).
    void setLanguage(Language language) const noexcept;
    bool hasLanguage(Language language) const noexcept;
    Language language() const noexcept;

    // Text of `code` in the current language; std::out_of_range when missing.
    const char* get(std::string_view code) const;

    // Text of `code` in the given language (tests and completeness checks).
    const char* get(Language language, std::string_view code) const;

    const Catalogue& catalogue() const noexcept { return m_catalogue; }

  private:
    Catalogue m_catalogue;
    mutable std::atomic<std::int32_t> m_language{RUSSIAN};
};

namespace bs
{

std::string replaceArgs(std::string_view format, const std::string_view* args, std::size_t count);

// Fills "%1", "%2", ... in order; each pass scans left to right and does not
// search the text it just inserted for the same token.
template <class... Args> std::string replace(std::string_view format, const Args&... args)
{
    const std::string_view views[sizeof...(Args) > 0 ? sizeof...(Args) : 1] = {std::string_view(args)...};
    return replaceArgs(format, views, sizeof...(Args));
}

} // namespace bs
