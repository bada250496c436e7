#include "jni/keystore_selection.h"

#include <stdexcept>

#include "base/error.h"
#include "base/localization.h"
#include "cryptoprovider/core/errors.h"
#include "jni/enum_conv.h"
#include "jni/errors.h"

namespace jni
{

void selectKeyStore(ICryptoProvider& provider, std::int32_t type, const std::string& id, bool createNew)
{
    const auto kind = conv::to_keyStoreType(type);
    if (!kind) {
        provider.forgetKeyStore();
        throw KeyStoreNotSelected();
    }
    try {
        provider.selectKeyStore(*kind, id, createNew);
    } catch (const DeviceNotFound& missing) {
        auto error = bs::standardError<std::runtime_error>(ormid_signer::localization, "BS-008005", id);
        error.setFailedSerial(id);
        error.setVendorCode(missing.vendorCode());
        throw error;
    }
}

void createNewKey(ICryptoProvider& provider, const std::string& alias, std::int32_t systemId,
                  const std::string& signAlgorithmOid, const std::string& algParamsOid,
                  std::wstring_view password)
{
    KeyInfo keyInfo;
    provider.getKeyStoreInfo(); // KeyStoreNotSelected when no store is selected
    keyInfo.alias = alias;
    keyInfo.systemId = static_cast<std::uint16_t>(static_cast<std::uint32_t>(systemId) & 0xFFFF);
    keyInfo.signAlgorithmOid = signAlgorithmOid;
    keyInfo.algParamsOid = algParamsOid;
    if (provider.needInitRND()) {
        throw std::runtime_error("Требуется инициализация ПДСЧ");
    }
    provider.createNewKey(keyInfo, password);
}

} // namespace jni
