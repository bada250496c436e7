#include "cryptoprovider/core/engine_factory.h"

#include <stdexcept>

#include "base/logger.h"
#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/core/verify_sign_engine.h"

namespace
{

bool isRutoken(std::string_view cryptoType)
{
    return cryptoType.starts_with("rutoken_");
}

[[noreturn]] void notImplemented(const bs::Logger& log)
{
    FunctionNotImplemented error;
    log.error(error.what());
    throw error;
}

} // namespace

// The token-module and CSP engines arrive with their back ends; until then
// their crypto types are answered like any crypto type without an engine.

std::shared_ptr<DigestEngine> getDigestEngine(std::string_view cryptoType)
{
    bs::Logger log("getDigestEngine");
    log.info(cryptoType);
    notImplemented(log);
}

std::shared_ptr<VerifySignEngine> getVerifySignEngineSoftware(std::string_view cryptoType)
{
    bs::Logger log("getVerifySignEngineSoftware");
    log.info(cryptoType);
    notImplemented(log);
}

std::shared_ptr<VerifySignEngine> getVerifySignEngineHardware(const std::shared_ptr<HardwareDevice>& device)
{
    bs::Logger log("getVerifySignEngineHardware");
    if (!device) {
        std::invalid_argument error(cp::localization.get("CP-008060"));
        log.error(error.what());
        throw error;
    }
    const std::string cryptoType = device->cryptoType();
    std::shared_ptr<DigestEngine> digestEngine;
    if (cryptoType == "angara" || isRutoken(cryptoType)) {
        digestEngine = getDigestEngine("angara");
    } else if (cryptoType == "jacarta_2") {
        digestEngine = getDigestEngine("jacarta_2");
    } else {
        notImplemented(log);
    }
    return std::make_shared<VerifySignHwDevice>(std::move(digestEngine), device);
}
