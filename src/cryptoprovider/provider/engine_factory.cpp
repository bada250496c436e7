#include "cryptoprovider/provider/engine_factory.h"

#include <stdexcept>

#include "base/log_and_throw.h"
#include "base/logger.h"
#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/core/verify_sign_engine.h"
#include "cryptoprovider/pkcs11/module_paths.h"
#include "cryptoprovider/pkcs11/token_engines.h"
#include "cryptoprovider/pkcs11/token_probes.h"
#include "cryptoprovider/provider/backend_hooks.h"

namespace
{

bool isRutoken(std::string_view cryptoType)
{
    return cryptoType.starts_with("rutoken_");
}

} // namespace

std::shared_ptr<DigestEngine> getDigestEngine(std::string_view cryptoType)
{
    bs::Logger log("getDigestEngine");
    log.info(cryptoType);
    if (cryptoType == "angara") {
        return std::make_shared<pkcs11::DigestAngara>();
    }
    if (isRutoken(cryptoType)) {
        return std::make_shared<pkcs11::DigestPkcs11>(pkcs11::pkcs11Rutoken(), pkcs11::findRutokenEcp(),
                                                      pkcs11::SessionMode::Public);
    }
    if (cryptoType == "jacarta_2") {
        return std::make_shared<pkcs11::DigestPkcs11>(pkcs11::pkcs11jcPKCS11(), pkcs11::findCryptoTokenEP2(),
                                                      pkcs11::SessionMode::Public);
    }
    if (provider::isCspCryptoType(cryptoType)) {
        return provider::cspDigestEngine(cryptoType);
    }
    bs::logAndThrow(log, FunctionNotImplemented());
}

std::shared_ptr<VerifySignEngine> getVerifySignEngineSoftware(std::string_view cryptoType)
{
    bs::Logger log("getVerifySignEngineSoftware");
    log.info(cryptoType);
    if (cryptoType == "angara") {
        return std::make_shared<pkcs11::VerifySignAngara>();
    }
    if (provider::isCspCryptoType(cryptoType)) {
        return provider::cspVerifySignEngine(cryptoType);
    }
    bs::logAndThrow(log, FunctionNotImplemented());
}

std::shared_ptr<VerifySignEngine> getVerifySignEngineHardware(const std::shared_ptr<HardwareDevice>& device)
{
    bs::Logger log("getVerifySignEngineHardware");
    if (!device) {
        bs::logAndThrow(log, bs::standardError<std::invalid_argument>(cp::localization, "CP-008060"));
    }
    const std::string cryptoType = device->cryptoType();
    std::shared_ptr<DigestEngine> digestEngine;
    if (cryptoType == "angara") {
        digestEngine = getDigestEngine("angara");
    } else if (isRutoken(cryptoType)) {
        // The Angara module's digest when that module is at hand, else the
        // token's own: a Rutoken verifies on a machine without the Angara
        // module too.
        digestEngine = device->digestEngine();
    } else if (cryptoType == "jacarta_2") {
        digestEngine = getDigestEngine("jacarta_2");
    } else {
        bs::logAndThrow(log, FunctionNotImplemented());
    }
    return std::make_shared<VerifySignHwDevice>(std::move(digestEngine), device);
}
