// Building blocks of the library's exception classes.
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "base/localization.h"

namespace bs
{

// An error whose text is looked up each time what() is read, so it follows
// the language current at that moment.
class LookedUpError : public std::exception
{
  public:
    LookedUpError(const Localization& catalogue, const char* code) noexcept
        : m_catalogue(&catalogue), m_code(code)
    {
    }
    // A language without texts (set on a single catalogue by hand) falls back
    // to the Russian text, and a missing code to the code itself, so that
    // reading a message can never end the process.
    const char* what() const noexcept override
    {
        try {
            return m_catalogue->get(m_code);
        } catch (...) {
        }
        try {
            return m_catalogue->get(RUSSIAN, m_code);
        } catch (...) {
            return m_code;
        }
    }
    const char* errorCode() const noexcept { return m_code; }

  private:
    const Localization* m_catalogue;
    const char* m_code;
};

// An error whose text is fixed when it is built (language of the throw).
// `code` names the catalogue entry the text came from (empty when the text
// was handed in by the thrower).
class ComposedError : public std::exception
{
  public:
    explicit ComposedError(std::string message, const char* code = "")
        : m_message(std::move(message)), m_code(code)
    {
    }
    const char* what() const noexcept override { return m_message.c_str(); }
    const char* errorCode() const noexcept { return m_code; }

  private:
    std::string m_message;
    const char* m_code;
};

// A ComposedError carrying the text of catalogue entry `code` in the current
// language, its "%1", "%2"... filled with `args`, and the code itself.
template <class... Args>
ComposedError composeError(const Localization& catalogue, const char* code, const Args&... args)
{
    if constexpr (sizeof...(Args) == 0)
        return ComposedError(catalogue.get(code), code);
    else
        return ComposedError(replace(catalogue.get(code), args...), code);
}

} // namespace bs
