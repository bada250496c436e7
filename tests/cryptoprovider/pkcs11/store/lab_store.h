// A token key store over the lab's Rutoken module for the store tests: the
// make-specific parts as a Rutoken has them, except that the PIN tries are
// read from the lab device instead of over PC/SC.
#pragma once

#include <memory>
#include <string>

#include "cryptoprovider/pkcs11/pkcs11_token.h"
#include "device/device.h"

namespace storelab
{

inline const char* const SERIAL = "0A1B2C3D";
inline const std::wstring PIN = L"12345678";

class LabStore : public Pkcs11Token
{
  public:
    LabStore(const std::string& modulePath, const labdev::DeviceDirectory& devices,
             const std::string& serial);

    int pinTries() override;
    bytes makePasswordHash(std::wstring_view text) override;
    std::map<std::uint8_t, std::string_view> getGost3410AlgParams() override;
    CK_MECHANISM_TYPE signAlgorithm(const AlgorithmId& algorithm) override;
    std::shared_ptr<DigestEngine> digestEngine() override;
    bool verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                    const AlgorithmId& signAlgorithm, std::string_view paramsOid, bool kalvaMode) override;

    // A token RSA key pair with its record (the make's own RSA keys are the
    // model's; this is enough to sign CMS messages with one).
    std::shared_ptr<KeyRecord> createRsaKey(std::string_view alias, CK_ULONG bits);
    RsaPublicKey rsaPublicKey(const std::shared_ptr<KeyRecord>& key);

    using Pkcs11Token::findMinFreeId;

  private:
    labdev::DeviceDirectory m_devices;
};

} // namespace storelab
