// Building blocks of the library's exception classes.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "base/localization.h"

namespace bs
{

// What a failure tells a program beyond its text: the catalogue code of the
// message and the data behind it. Every exception class of the library
// derives from it beside its std::exception base; the Java frame hands all
// of it on.
class Failure
{
  public:
    // The catalogue code of the message ("CP-008017"); never null, empty only
    // for a text that has no catalogue entry.
    const char* errorCode() const noexcept { return m_code; }
    // What a wrong PIN or password leaves; 0 for a blocked PIN or key; -1
    // where tries do not apply.
    std::int32_t triesLeft() const noexcept { return m_triesLeft; }
    // The value the crypto means returned (CK_RV, status word, PC/SC result,
    // CSP error value); -1 when the failure did not come from one.
    std::int64_t vendorCode() const noexcept { return m_vendorCode; }
    const std::optional<std::string>& failedAlias() const noexcept { return m_alias; }
    const std::optional<std::string>& failedSerial() const noexcept { return m_serial; }

    void setVendorCode(std::int64_t value) noexcept { m_vendorCode = value; }
    void setFailedAlias(std::string alias) { m_alias = std::move(alias); }
    void setFailedSerial(std::string serial) { m_serial = std::move(serial); }

  protected:
    explicit Failure(const char* code, std::int32_t triesLeft = -1) noexcept
        : m_code(code != nullptr ? code : ""), m_triesLeft(triesLeft)
    {
    }
    ~Failure() = default;
    Failure(const Failure&) = default;
    Failure& operator=(const Failure&) = default;
    void setTriesLeft(std::int32_t tries) noexcept { m_triesLeft = tries; }

  private:
    const char* m_code;
    std::int32_t m_triesLeft;
    std::int64_t m_vendorCode = -1;
    std::optional<std::string> m_alias;
    std::optional<std::string> m_serial;
};

// `error` with the vendor's value attached, to throw at once.
template <class Error> Error withVendorCode(Error error, std::int64_t value) noexcept
{
    error.setVendorCode(value);
    return error;
}

// An error whose text is looked up each time what() is read, so it follows
// the language current at that moment.
class LookedUpError : public std::exception, public Failure
{
  public:
    LookedUpError(const Localization& catalogue, const char* code, std::int32_t triesLeft = -1) noexcept
        : Failure(code, triesLeft), m_catalogue(&catalogue)
    {
    }
    // A language without texts (set on a single catalogue by hand) falls back
    // to the Russian text, and a missing code to the code itself, so that
    // reading a message can never end the process.
    const char* what() const noexcept override
    {
        try {
            return m_catalogue->get(errorCode());
        } catch (...) {
        }
        try {
            return m_catalogue->get(RUSSIAN, errorCode());
        } catch (...) {
            return errorCode();
        }
    }

  private:
    const Localization* m_catalogue;
};

// An error whose text is fixed when it is built (language of the throw).
// `code` names the catalogue entry the text came from, or the entry of the
// error's class when the thrower handed in a text of its own.
class ComposedError : public std::exception, public Failure
{
  public:
    ComposedError(std::string message, const char* code, std::int32_t triesLeft = -1)
        : Failure(code, triesLeft), m_message(std::move(message))
    {
    }
    const char* what() const noexcept override { return m_message.c_str(); }

  private:
    std::string m_message;
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

// A standard exception (std::invalid_argument, std::runtime_error...) whose
// text is a catalogue text: callers that catch the standard class keep
// working, and the code travels with it.
template <class Standard> class StandardError : public Standard, public Failure
{
  public:
    StandardError(const std::string& message, const char* code) : Standard(message), Failure(code) {}
};

// The standard exception `Standard` with the text of catalogue entry `code`
// in the current language ("%1", "%2"... filled with `args`) and the code.
template <class Standard, class... Args>
StandardError<Standard> standardError(const Localization& catalogue, const char* code, const Args&... args)
{
    if constexpr (sizeof...(Args) == 0)
        return StandardError<Standard>(catalogue.get(code), code);
    else
        return StandardError<Standard>(replace(catalogue.get(code), args...), code);
}

} // namespace bs
