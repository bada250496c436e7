// Message catalogue and exception classes of the base services.
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"
#include "base/localization.h"

namespace bs
{

// Codes "BS-" and four digits.
extern const Localization localization;

// Text of `code` in the current language, with "%1", "%2"... filled in.
template <class... Args>
std::string message(const Localization& catalogue, std::string_view code, const Args&... args)
{
    if constexpr (sizeof...(Args) == 0)
        return catalogue.get(code);
    else
        return replace(catalogue.get(code), args...);
}

class GetRandomError : public LookedUpError
{
  public:
    GetRandomError() noexcept : LookedUpError(localization, "BS-0014") {}
};

// Wide text holding a lone UTF-16 surrogate (half of a pair without the
// other half) or an element beyond U+10FFFF, which has no UTF-8 form.
class InvalidUnicodeText : public LookedUpError
{
  public:
    InvalidUnicodeText() noexcept : LookedUpError(localization, "BS-0017") {}
};

// A library or folder named by a relative path, which would be taken from
// the process's working directory: "BS-0018" with the path.
class RelativePath : public ComposedError
{
  public:
    explicit RelativePath(std::string_view path);
};

// Whether `path` starts at the root; "" and bare library names (no "/") are
// not absolute.
bool isAbsolutePath(std::string_view path) noexcept;

} // namespace bs

// A shared library (name or path) could not be loaded.
class LoadLibraryError : public bs::ComposedError
{
  public:
    explicit LoadLibraryError(std::string_view library);
    const std::string& library() const noexcept { return m_library; }

  private:
    std::string m_library;
};

// Same English text in both languages.
class UnsupportedShaAlgorithm : public std::exception
{
  public:
    const char* what() const noexcept override { return "Unsupported SHA algorithm"; }
};
