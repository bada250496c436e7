// Choice of the digest and verification engines of a crypto type. The
// engines belong to the back ends, so the factories live here in the
// provider module, above them.
#pragma once

#include <memory>
#include <string_view>

class DigestEngine;
class HardwareDevice;
class VerifySignEngine;

// "angara", "rutoken_*", "jacarta_2", "cryptopro", "signalcom";
// FunctionNotImplemented for any other crypto type or a back end this build
// lacks.
std::shared_ptr<DigestEngine> getDigestEngine(std::string_view cryptoType);
// Software verifiers: "angara" and the CSP crypto types.
std::shared_ptr<VerifySignEngine> getVerifySignEngineSoftware(std::string_view cryptoType);
// Verification on the device itself, with the digest engine of its family;
// std::invalid_argument for a null device.
std::shared_ptr<VerifySignEngine> getVerifySignEngineHardware(const std::shared_ptr<HardwareDevice>& device);
