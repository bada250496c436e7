#include "jni/keystore_selection.h"

#include <stdexcept>

#include "base/localization.h"
#include "cryptoprovider/core/errors.h"
#include "jni/errors.h"

namespace jni
{

void selectKeyStore(ICryptoProvider& provider, KeyStoreType type, const std::string& id, bool createNew)
{
    try {
        provider.selectKeyStore(type, id, createNew);
    } catch (const DeviceNotFound&) {
        throw std::runtime_error(bs::replace(ormid_signer::localization.get("BS-008005"), id));
    }
}

} // namespace jni
