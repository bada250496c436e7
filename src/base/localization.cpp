#include "base/localization.h"

#include <stdexcept>
#include <string>

Localization::Localization(const Catalogue& catalogue) : m_catalogue(catalogue) {}

Localization::Localization(std::initializer_list<Row> rows)
{
    Texts& russian = m_catalogue[RUSSIAN];
    Texts& english = m_catalogue[ENGLISH];
    for (const Row& row : rows) {
        if (!russian.emplace(row.code, row.russian).second || !english.emplace(row.code, row.english).second)
            throw std::logic_error(std::string("duplicate catalogue code ") + row.code);
    }
}

void Localization::setLanguage(Language language) const noexcept
{
    m_language.store(language, std::memory_order_relaxed);
}

bool Localization::hasLanguage(Language language) const noexcept
{
    return m_catalogue.find(language) != m_catalogue.end();
}

Language Localization::language() const noexcept
{
    return static_cast<Language>(m_language.load(std::memory_order_relaxed));
}

const char* Localization::get(std::string_view code) const
{
    return get(language(), code);
}

const char* Localization::get(Language language, std::string_view code) const
{
    static constexpr const char* kNotFound = "map::at:  key not found";
    auto texts = m_catalogue.find(language);
    if (texts == m_catalogue.end())
        throw std::out_of_range(kNotFound);
    auto text = texts->second.find(code);
    if (text == texts->second.end())
        throw std::out_of_range(kNotFound);
    return text->second.c_str();
}

namespace bs
{

std::string replaceArgs(std::string_view format, const std::string_view* args, std::size_t count)
{
    std::string result(format);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string token = "%" + std::to_string(i + 1);
        std::string next;
        next.reserve(result.size());
        std::size_t from = 0;
        for (std::size_t at; (at = result.find(token, from)) != std::string::npos; from = at + token.size()) {
            next.append(result, from, at - from);
            next.append(args[i]);
        }
        next.append(result, from, std::string::npos);
        result.swap(next);
    }
    return result;
}

} // namespace bs
