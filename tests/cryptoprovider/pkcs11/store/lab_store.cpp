#include "lab_store.h"

#include "base/encoding.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/token_engines.h"
#include "x509/errors.h"

namespace storelab
{

LabStore::LabStore(const std::string& modulePath, const labdev::DeviceDirectory& devices,
                   const std::string& serial)
    : Pkcs11Token(devices.load(serial).get(labdev::fact::READER), "rutoken_2", "RUTOKEN_ECP_2", 401,
                  modulePath),
      m_devices(devices)
{
    setId(serial);
    setHasPinCode(true);
}

int LabStore::pinTries()
{
    return static_cast<int>(m_devices.load(id()).getInt(labdev::fact::USER_TRIES_LEFT));
}

bytes LabStore::makePasswordHash(std::wstring_view text)
{
    const std::string cp1251 = encoding::utf16_to_cp1251(text);
    return bytes(cp1251.begin(), cp1251.end());
}

std::map<std::uint8_t, std::string_view> LabStore::getGost3410AlgParams()
{
    return {{0x10, "1.2.840.113549.1.1.1"}, {0x20, "1.2.643.2.2.35.1"},    {0x30, "1.2.643.2.2.35.2"},
            {0x40, "1.2.643.2.2.35.3"},     {0x50, "1.2.643.7.1.2.1.2.1"}, {0x60, "1.2.643.7.1.2.1.2.2"}};
}

CK_MECHANISM_TYPE LabStore::signAlgorithm(const AlgorithmId& algorithm)
{
    if (isGost2012_256(algorithm)) {
        return CKM_GOSTR3410;
    }
    if (isGost2012_512(algorithm)) {
        return CKM_GOSTR3410_512;
    }
    if (algorithm == RSA_ENCRYPTION) {
        return CKM_RSA_PKCS;
    }
    throw UnsupportedAlgorithm(algorithm.name());
}

std::shared_ptr<KeyRecord> LabStore::createRsaKey(std::string_view alias, CK_ULONG bits)
{
    TokenSession session(this);
    const bytes keyId = getNextKeyId(session);
    auto record = std::make_shared<pkcs11::KeyRecord>(alias, 0, RSA_ENCRYPTION, "1.2.840.113549.1.1.1",
                                                      getGost3410AlgParams(), cryptoType(), keyId);
    return completeNewKey(session, session.helper().generateRSAKeyPair(keyId, RSA_ENCRYPTION, bits), record,
                          L"");
}

RsaPublicKey LabStore::rsaPublicKey(const std::shared_ptr<KeyRecord>& key)
{
    TokenSession session(this);
    return getRsaPublicKeyImpl(session, key);
}

std::shared_ptr<DigestEngine> LabStore::digestEngine()
{
    const CK_SLOT_ID slot = static_cast<CK_SLOT_ID>(m_devices.load(id()).getInt(labdev::fact::SLOT));
    return std::make_shared<pkcs11::DigestPkcs11>(modulePath(), slot, pkcs11::SessionMode::Public);
}

bool LabStore::verifySign(const bytes&, const bytes&, const bytes&, const AlgorithmId&, std::string_view,
                          bool)
{
    throw FunctionNotImplemented();
}

} // namespace storelab
