// Message catalogue and exception classes of the crypto provider core and
// its token and smart-card backends (the PKCS#11 return values, their names
// and catalogue codes: cryptoprovider/pkcs11/return_values.h).
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "base/error.h"
#include "base/localization.h"

namespace cp
{

// Codes "CP-" and six digits.
extern const Localization localization;

} // namespace cp

// Looked-up errors of the provider catalogue: the text follows the language
// current when what() is read.
#define ORMID_CP_LOOKED_UP_ERROR(Name, code)                                                                 \
    class Name : public bs::LookedUpError                                                                    \
    {                                                                                                        \
      public:                                                                                                \
        Name() noexcept : LookedUpError(cp::localization, code) {}                                           \
    };

ORMID_CP_LOOKED_UP_ERROR(AccessDenied, "CP-008001")
ORMID_CP_LOOKED_UP_ERROR(UnknownCryptoType, "CP-008002")
ORMID_CP_LOOKED_UP_ERROR(ScardNoService, "CP-008004")
ORMID_CP_LOOKED_UP_ERROR(KeyStoreNotSelected, "CP-008005")
ORMID_CP_LOOKED_UP_ERROR(PinLengthRange, "CP-008012")
ORMID_CP_LOOKED_UP_ERROR(PinRequired, "CP-008013")
ORMID_CP_LOOKED_UP_ERROR(KeyNotSelected, "CP-008016")
ORMID_CP_LOOKED_UP_ERROR(KeyNotFound, "CP-008017")
ORMID_CP_LOOKED_UP_ERROR(CertificateNotFound, "CP-008018")
ORMID_CP_LOOKED_UP_ERROR(EmptyKeyAlias, "CP-008019")
ORMID_CP_LOOKED_UP_ERROR(KeyAliasContainCyrillic, "CP-008058")
ORMID_CP_LOOKED_UP_ERROR(EmptyExtKeyId, "CP-008023")
ORMID_CP_LOOKED_UP_ERROR(KeyIdAlreadySet, "CP-008025")
ORMID_CP_LOOKED_UP_ERROR(PublicKeyEmpty, "CP-008026")
ORMID_CP_LOOKED_UP_ERROR(InvalidKeyForCertificate, "CP-008059")
ORMID_CP_LOOKED_UP_ERROR(InvalidKeyForPkcs10, "CP-008062")
ORMID_CP_LOOKED_UP_ERROR(InvalidPkcs10Sign, "CP-008063")
ORMID_CP_LOOKED_UP_ERROR(InvalidDevice, "CP-008029")
ORMID_CP_LOOKED_UP_ERROR(CardIsFull, "CP-008031")
ORMID_CP_LOOKED_UP_ERROR(NotFileKeyStoreError, "CP-008032")
ORMID_CP_LOOKED_UP_ERROR(OldVersionFileKeyStoreError, "CP-008033")
ORMID_CP_LOOKED_UP_ERROR(OldVersionKeyError, "CP-008034")
ORMID_CP_LOOKED_UP_ERROR(CryptoComLoadError, "CP-008035")
ORMID_CP_LOOKED_UP_ERROR(CryptoProCSPLoadError, "CP-008048")
ORMID_CP_LOOKED_UP_ERROR(CryptoProRndNotSetted, "CP-008061")
ORMID_CP_LOOKED_UP_ERROR(SignalComCSPLoadError, "CP-008049")
ORMID_CP_LOOKED_UP_ERROR(ViPNetCSPLoadError, "CP-008050")
ORMID_CP_LOOKED_UP_ERROR(DigestContextNotInitialized, "CP-008052")
ORMID_CP_LOOKED_UP_ERROR(FunctionNotImplemented, "CP-008053")
ORMID_CP_LOOKED_UP_ERROR(XMLParseError, "CP-008054")
ORMID_CP_LOOKED_UP_ERROR(VelTokenCryptoComPackageError, "CP-008055")
ORMID_CP_LOOKED_UP_ERROR(NeedReconnectVelToken, "CP-008056")
ORMID_CP_LOOKED_UP_ERROR(InvalidPinCharacter, "CP-017027")
ORMID_CP_LOOKED_UP_ERROR(UnknownDevice, "CP-010001")
ORMID_CP_LOOKED_UP_ERROR(DeviceNotInitialized, "CP-010002")

namespace mespro
{
ORMID_CP_LOOKED_UP_ERROR(LoadError, "CP-008051")
} // namespace mespro

#undef ORMID_CP_LOOKED_UP_ERROR

// No tries are left: the key (its password) is blocked.
class KeyBlocked : public bs::LookedUpError
{
  public:
    KeyBlocked() noexcept : LookedUpError(cp::localization, "CP-008006", 0) {}
};

// No tries are left: the device's PIN is blocked.
class PinBlocked : public bs::LookedUpError
{
  public:
    PinBlocked() noexcept : LookedUpError(cp::localization, "CP-008030", 0) {}
};

// A crypto type the operation does not support; names it when the crypto
// type catalogue knows a display name for it.
class UnsupportedCryptoType : public bs::ComposedError
{
  public:
    explicit UnsupportedCryptoType(std::string_view cryptoType);
    const std::string& cryptoType() const noexcept { return m_cryptoType; }

  private:
    std::string m_cryptoType;
};

// An operating-system or platform failure with its numeric code (handed on
// as the vendor's value when not 0); `catalogueCode` names the message's
// entry, else the hardware-device error's.
class SystemError : public bs::ComposedError
{
  public:
    SystemError(std::uint32_t code, std::string message, const char* catalogueCode = "CP-008027")
        : ComposedError(std::move(message), catalogueCode), m_code(code)
    {
        if (code != 0)
            setVendorCode(code);
    }
    std::uint32_t code() const noexcept { return m_code; }

  private:
    std::uint32_t m_code;
};

// A PC/SC call failed; the code is the PC/SC result.
class ScardException : public SystemError
{
  public:
    ScardException(std::uint32_t code, std::string message, const char* catalogueCode = "CP-008027")
        : SystemError(code, std::move(message), catalogueCode)
    {
    }
};

// Wrong password or PIN with `tries` attempts left; no attempts left is
// reported as KeyBlocked instead (thrown from the constructor).
class InvalidPassword : public bs::ComposedError
{
  public:
    explicit InvalidPassword(std::int32_t tries);
    std::int32_t tries() const noexcept { return m_tries; }

  private:
    std::int32_t m_tries;
};

// The user (or the device on the user's behalf) canceled the operation.
class FunctionCanceled : public bs::ComposedError
{
  public:
    explicit FunctionCanceled(std::string message = {});
};

// The key needs its password; `alias` names the key (not part of the text).
class PasswordRequired : public bs::LookedUpError
{
  public:
    explicit PasswordRequired(std::string alias)
        : LookedUpError(cp::localization, "CP-008014"), m_alias(std::move(alias))
    {
        setFailedAlias(m_alias);
    }
    const std::string& alias() const noexcept { return m_alias; }

  private:
    std::string m_alias;
};

// A key alias holding a forbidden symbol (named when known).
class InvalidKeyAlias : public bs::ComposedError
{
  public:
    explicit InvalidKeyAlias(std::string_view symbol = {});
};

class KeyAliasAlreadyExist : public bs::ComposedError
{
  public:
    explicit KeyAliasAlreadyExist(std::string_view alias = {});
    const std::string& alias() const noexcept { return m_alias; }

  private:
    std::string m_alias;
};

class KeyIdAlreadyExist : public bs::ComposedError
{
  public:
    explicit KeyIdAlreadyExist(std::uint64_t id);
    std::uint64_t id() const noexcept { return m_id; }

  private:
    std::uint64_t m_id;
};

// A hardware device failure with its 16-bit status (handed on as the
// vendor's value when not 0); base of the APDU status word exceptions.
// `catalogueCode` names the entry of a catalogue text passed in; any other
// text counts as the hardware-device error's.
class DeviceError : public bs::ComposedError
{
  public:
    DeviceError(std::uint16_t code, std::string message, const char* catalogueCode = "CP-008027");
    std::uint16_t code() const noexcept { return m_code; }

  private:
    std::uint16_t m_code;
};

// No device with the given serial number; the serial is not part of the text.
class DeviceNotFound : public bs::LookedUpError
{
  public:
    explicit DeviceNotFound(std::string serial = {})
        : LookedUpError(cp::localization, "CP-008028"), m_serial(std::move(serial))
    {
        if (!m_serial.empty())
            setFailedSerial(m_serial);
    }
    const std::string& serial() const noexcept { return m_serial; }

  private:
    std::string m_serial;
};

class CryptoComError : public bs::ComposedError
{
  public:
    CryptoComError(std::uint16_t code, std::string message)
        : ComposedError(std::move(message), "CP-008027"), m_code(code)
    {
        setVendorCode(code);
    }
    std::uint16_t code() const noexcept { return m_code; }

  private:
    std::uint16_t m_code;
};

// A PKCS#11 module could not be loaded; `detail` is the loader's text.
class Pkcs11LoadError : public bs::ComposedError
{
  public:
    explicit Pkcs11LoadError(std::string_view detail);
};

namespace detector
{

// Same Russian text in both languages.
class InternalError : public std::exception
{
  public:
    const char* what() const noexcept override { return "Внутренняя ошибка"; }
};

} // namespace detector
