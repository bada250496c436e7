// Message catalogue and exception classes of the CSP backend.
#pragma once

#include <cstdint>
#include <string>

#include "base/error.h"
#include "base/localization.h"

namespace capi
{

// Codes "CAPI-" and six digits.
extern const Localization localization;

// A CSP failure: the CSP error value (handed on as the vendor's) and the
// message chosen for it, with its catalogue code.
class Error : public bs::ComposedError
{
  public:
    Error(std::uint32_t value, std::string message, const char* catalogueCode);
    // Message is the text of `catalogueCode` in the current language.
    static Error fromCatalogue(std::uint32_t value, const char* catalogueCode);

    std::uint32_t code() const noexcept { return m_value; }
    // Symbolic name of the value as the CryptoAPI and PC/SC headers spell it
    // ("NTE_NO_KEY", "CRYPT_E_NOT_FOUND", "SCARD_W_WRONG_CHV"), else "UNKNOWN".
    virtual const char* name() const noexcept;

  private:
    std::uint32_t m_value;
};

// Symbolic name of a CSP error value (see Error::name).
const char* errorName(std::uint32_t value) noexcept;

// Turns the CSP's last error value (GetLastError of the loaded CSP) into the
// library's exception; see handleError(value).
[[noreturn]] void handleError();
// Logs `value` as 8 upper-case hex digits and throws the exception it
// stands for: the classes below for their own values, UnknownAlgorithm for
// CRYPT_E_UNKNOWN_ALGO, Asn1DecodingError for the CRYPT_E_ASN1_ values, and
// otherwise a capi::Error carrying `value` with the catalogue text chosen
// for it ("CAPI-000017" for values without a text of their own). The text
// is logged before the throw.
[[noreturn]] void handleError(std::uint32_t value);

class ProvTypeNotDef : public Error
{
  public:
    ProvTypeNotDef();
};

class WrongSign : public Error
{
  public:
    WrongSign();
};

class NoKey : public Error
{
  public:
    NoKey();
};

class NoContainer : public Error
{
  public:
    NoContainer();
};

class SilentContext : public Error
{
  public:
    SilentContext();
};

class NoCertificate : public Error
{
  public:
    NoCertificate();
};

class NoObject : public Error
{
  public:
    NoObject();
};

} // namespace capi
