#include "cryptoprovider/pkcs11/token_probes.h"

#include <cstring>
#include <string_view>

#include "base/log_and_throw.h"
#include "base/logger.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/module.h"
#include "cryptoprovider/pkcs11/module_paths.h"

namespace pkcs11
{

namespace
{

[[noreturn]] void notFound(const bs::Logger& log)
{
    bs::logAndThrow(log, DeviceNotFound());
}

} // namespace

CK_SLOT_ID findRutokenEcp()
{
    bs::Logger log("findRutokenEcp");
    const auto module = Pkcs11::instance(pkcs11Rutoken(), true);
    const auto getInfoExtended = module->function<CK_C_EX_GetTokenInfoExtended>("C_EX_GetTokenInfoExtended");
    for (const CK_SLOT_ID slot : module->slotList(true)) {
        TokenInfoExtended info{};
        info.ulSizeofThisStructure = sizeof(info);
        if (getInfoExtended(slot, &info) == CKR_OK && info.ulTokenClass == TOKEN_CLASS_ECP) {
            return slot;
        }
    }
    notFound(log);
}

CK_SLOT_ID findCryptoTokenEP2()
{
    bs::Logger log("findCryptoTokenEP2");
    constexpr std::string_view model = "JaCarta GOST 2.0";
    const auto module = Pkcs11::instance(pkcs11jcPKCS11(), true);
    for (const CK_SLOT_ID slot : module->slotList(true)) {
        const CK_TOKEN_INFO info = module->tokenInfo(slot);
        if (std::memcmp(info.model, model.data(), model.size()) == 0) {
            return slot;
        }
    }
    notFound(log);
}

} // namespace pkcs11
