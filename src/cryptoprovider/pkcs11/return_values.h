// The return values of PKCS#11 calls: their names, the catalogue texts
// they are reported with (the CP catalogue), and the exception a failed call
// raises when no error of its own class fits.
#pragma once

#include <cstdint>

#include "cryptoprovider/core/errors.h"

namespace pkcs11
{

// Catalogue code of a PKCS#11 return value ("CP-017055" for values without
// a text of their own).
const char* messageCode(std::uint32_t rv) noexcept;

// Symbolic name of a PKCS#11 return value ("CKR_PIN_INCORRECT"), "UNKNOWN"
// for values the standard does not name.
const char* returnValueName(std::uint32_t rv) noexcept;

// A PKCS#11 call returned `rv`; the text is looked up when read. The value
// goes with it as the vendor's; CKR_PIN_LOCKED leaves no tries.
class Exception : public bs::LookedUpError
{
    static constexpr std::uint32_t PIN_LOCKED = 0xA4;

  public:
    explicit Exception(std::uint32_t rv) noexcept
        : LookedUpError(cp::localization, messageCode(rv), rv == PIN_LOCKED ? 0 : -1), m_rv(rv)
    {
        setVendorCode(rv);
    }
    std::uint32_t code() const noexcept { return m_rv; }
    virtual const char* name() const noexcept { return returnValueName(m_rv); }

  private:
    std::uint32_t m_rv;
};

} // namespace pkcs11
