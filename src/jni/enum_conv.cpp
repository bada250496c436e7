#include "jni/enum_conv.h"

#include <stdexcept>

#include "jni/errors.h"

namespace conv
{

std::optional<KeyStoreType> to_keyStoreType(std::int32_t value) noexcept
{
    switch (value) {
    case static_cast<std::int32_t>(KeyStoreType::HardwareDevice):
        return KeyStoreType::HardwareDevice;
    case static_cast<std::int32_t>(KeyStoreType::CryptoProContainer):
        return KeyStoreType::CryptoProContainer;
    case static_cast<std::int32_t>(KeyStoreType::VelToken):
        return KeyStoreType::VelToken;
    default:
        return std::nullopt;
    }
}

CertType to_certType(std::int32_t value)
{
    switch (value) {
    case CERT_UNSPECIFIED:
    case CERT_USER:
    case CERT_AUTHORITY:
    case CERT_OTHER_ENTITY:
    case CERT_CRL:
        return static_cast<CertType>(value);
    default:
        throw bs::standardError<std::invalid_argument>(ormid_signer::localization, "BS-006003");
    }
}

} // namespace conv
