// CryptoProviderRU: signing, verification, certificates, PKCS#10 requests,
// confirmations and the digest in progress.
#include <exception>

#include "asn1/binary.h"
#include "asn1/der.h"
#include "base/log_and_throw.h"
#include "cryptoprovider/core/cms_assembly.h"
#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/core/key_store.h"
#include "cryptoprovider/core/verify_sign_engine.h"
#include "cryptoprovider/provider/backend_hooks.h"
#include "cryptoprovider/provider/crypto_provider_ru.h"
#include "cryptoprovider/provider/device_detection.h"
#include "cryptoprovider/provider/engine_factory.h"
#include "x509/errors.h"
#include "x509/pem.h"
#include "x509/pkcs10.h"

namespace
{

// CMS messages name the signer by serial alone in legacy-bank mode.
pkcs7::Format cmsFormat(bool kalvaMode)
{
    return kalvaMode ? pkcs7::Format::SerialOnly : pkcs7::Format::SerialWithIssuer;
}

// PKCS#10 and self-signed certificates are not made for GOST R 34.10-2001 keys.
void requirePkcs10Algorithm(const KeyRecord& key)
{
    if (isGost34102001(key.signAlgorithm())) {
        throw UnsupportedAlgorithm(GOST_R_3410_2001.name());
    }
}

// DER of a request given as DER or PEM.
Pkcs10 parseRequest(const bytes& request)
{
    return Pkcs10(pkcs10::isPemFormat(request) ? pkcs10::pem_to_der(request) : request);
}

} // namespace

// ---- signing and keys -------------------------------------------------------

std::vector<bytes> CryptoProviderRU::rawSign(const std::vector<bytes>& data, bool kalvaMode,
                                             const std::vector<AlgorithmId>& rsaDigests)
{
    bs::Logger log("CryptoProviderRU::rawSign");
    const auto store = currentKeyStore();
    return store->rawSign(currentKey(), data, kalvaMode, rsaDigests);
}

std::vector<bytes> CryptoProviderRU::cmsSign(const std::vector<DataForSign>& items, bool kalvaMode)
{
    bs::Logger log("CryptoProviderRU::cmsSign");
    const auto store = currentKeyStore();
    const auto key = currentKey();
    key->check();
    X509 certificate = key->x509();
    if (!kalvaMode && certificate.empty()) {
        try {
            certificate = store->findCertificateByKey(key);
            key->setX509(certificate);
        } catch (const std::exception& e) {
            // Signing goes on without a certificate.
            log.error(e.what());
            certificate = X509();
        }
    }
    const bytes signerId =
        certificate.empty() ? conv::int_to_binary(key->externalId()) : certificate.serial();
    AttachedContents attached;
    const auto attributes = generateSignedAttributes(store, items, certificate, key->digestAlgorithm(),
                                                     signerId, kalvaMode, attached);
    return formCms(store->cmsSign(key, attributes, kalvaMode), items, kalvaMode, attached);
}

PublicKey CryptoProviderRU::getPublicKey(bool kalvaMode)
{
    bs::Logger log("CryptoProviderRU::getPublicKey");
    const auto store = currentKeyStore();
    return store->publicKey(currentKey(), kalvaMode ? Endian::Little : Endian::Big);
}

SubjectPublicKeyInfo CryptoProviderRU::getSubjectPublicKeyInfo()
{
    bs::Logger log("CryptoProviderRU::getSubjectPublicKeyInfo");
    const auto store = currentKeyStore();
    return store->getSubjectPublicKeyInfo(currentKey());
}

X509 CryptoProviderRU::getCertificate()
{
    bs::Logger log("CryptoProviderRU::getCertificate");
    return currentKey()->x509();
}

// ---- verification -------------------------------------------------------------

std::shared_ptr<HardwareDevice> CryptoProviderRU::getAnyHardwareDevice(std::string_view cryptoType)
{
    bs::Logger log("CryptoProviderRU::getAnyHardwareDevice");
    try {
        return findHwDeviceByCryptoType(cryptoType, cachedKeyStores());
    } catch (const DeviceNotFound&) {
        keyStoreList(KeyStoreType::HardwareDevice);
    }
    return findHwDeviceByCryptoType(cryptoType, cachedKeyStores());
}

std::shared_ptr<VerifySignEngine> CryptoProviderRU::verifySignEngine(std::string_view cryptoType)
{
    if (crypto::isHardwareDevice(cryptoType) && cryptoType != "angara") {
        const auto device = getAnyHardwareDevice(cryptoType);
        // Verifying on a token makes it this session's key store.
        selectKeyStore(KeyStoreType::HardwareDevice, device->id(), false);
        return getVerifySignEngineHardware(device);
    }
    return getVerifySignEngineSoftware(cryptoType);
}

bool CryptoProviderRU::verifyRawSign(const bytes& data, const bytes& sign, const PublicKey& publicKey,
                                     std::string_view signAlgorithmOid, std::string_view paramSet,
                                     std::string_view cryptoType, bool kalvaMode)
{
    bs::Logger log("CryptoProviderRU::verifyRawSign");
    const AlgorithmId algorithm = findSignAlgorithmId(ObjectIdentifier(signAlgorithmOid));
    return verifySignEngine(cryptoType)->verifyRawSign(data, sign, publicKey, algorithm, paramSet, kalvaMode);
}

bool CryptoProviderRU::verifyDetachedSign(const bytes& data, const bytes& cms, std::string_view cryptoType,
                                          bool kalvaMode, const PublicKey& publicKey,
                                          std::string_view paramSet)
{
    bs::Logger log("CryptoProviderRU::verifyDetachedSign");
    const Pkcs7 message(cms, cmsFormat(kalvaMode));
    const auto engine = verifySignEngine(cryptoType);
    if (!message.certificates().empty()) {
        return engine->verifyWithCertificates(data, message.signerInfos());
    }
    return engine->verifyCmsSign(data, message.signerInfos(), kalvaMode, publicKey, paramSet);
}

bool CryptoProviderRU::verifyAttachedSign(const bytes& cms, std::string_view cryptoType, bool kalvaMode,
                                          const PublicKey& publicKey, std::string_view paramSet)
{
    bs::Logger log("CryptoProviderRU::verifyAttachedSign");
    const bytes content = Pkcs7(cms, cmsFormat(kalvaMode)).content();
    return verifyDetachedSign(content, cms, cryptoType, kalvaMode, publicKey, paramSet);
}

// ---- certificates ---------------------------------------------------------------

bytes CryptoProviderRU::importCertificate(const bytes& certificate, CertType type)
{
    bs::Logger log("CryptoProviderRU::importCertificate " + std::to_string(static_cast<unsigned>(type)));
    const auto store = currentKeyStore();
    const bytes der = cert::isPemFormat(certificate) ? conv::pem_to_x509(certificate) : certificate;
    if (type == CERT_CRL) {
        store->importCertificateCrl(crl::isPemFormat(certificate) ? crl::pem_to_x509(certificate)
                                                                  : certificate);
        return {};
    }
    if (type == CERT_USER) {
        const auto key = currentKey();
        requireChangeable(*key, log);
        X509 x509(der);
        if (x509.publicKey(Endian::Big) != store->publicKey(key, Endian::Big)) {
            bs::logAndThrow(log, InvalidKeyForCertificate());
        }
        const bytes id = store->importUserCertificate(key, der);
        x509.setId(id);
        key->setX509(x509);
        store->addX509(x509, CERT_USER);
        return id;
    }
    const bytes id = store->importCertificate(der, type);
    store->addX509(X509(id, der), type);
    return id;
}

void CryptoProviderRU::deleteCertificate(const bytes& id, CertType type)
{
    bs::Logger log("CryptoProviderRU::deleteCertificate");
    const auto store = currentKeyStore();
    if (type == CERT_USER) {
        // The id only picks the cache entry: the certificate deleted on the
        // store is the selected key's.
        const auto key = currentKey();
        requireChangeable(*key, log);
        store->deleteUserCertificate(key);
        key->setX509(X509());
    } else {
        store->deleteCertificate(id, type);
    }
    store->removeX509(id, type);
}

std::vector<X509> CryptoProviderRU::certificates(CertType type)
{
    bs::Logger log("CryptoProviderRU::certificateList");
    return currentKeyStore()->certificates(type);
}

KeyInfo CryptoProviderRU::setKeyByCertificate(const bytes& id)
{
    bs::Logger log("CryptoProviderRU::setKeyByCertificate");
    std::lock_guard lock(m_mutex);
    const auto store = currentKeyStore();
    store->findCertificate(id, {CERT_USER}, true);
    const auto key = store->findKeyByCertificate(id, true);
    setCurrentKeyAlias(key->alias());
    log.info("m_currentKeyAlias=" + key->alias());
    return keyInfoOf(store, key);
}

// ---- PKCS#10 and self-signed certificates ---------------------------------------

bytes CryptoProviderRU::createPkcs10(const SubjectDN& subject, Extensions& extensions, bool der,
                                     const AlgorithmId& rsaDigest)
{
    bs::Logger log("CryptoProviderRU::createPkcs10");
    const auto store = currentKeyStore();
    const auto key = currentKey();
    requirePkcs10Algorithm(*key);
    return store->createPkcs10(key, subject, extensions, der, rsaDigest);
}

bytes CryptoProviderRU::pkcs10Sign(const bytes& requestInfo, bool der, const AlgorithmId& rsaDigest)
{
    bs::Logger log("CryptoProviderRU::pkcs10Sign");
    const auto store = currentKeyStore();
    const auto key = currentKey();
    requirePkcs10Algorithm(*key);
    return store->pkcs10Sign(key, requestInfo, der, rsaDigest);
}

bool CryptoProviderRU::verifyPkcs10Sign(const bytes& request, std::string_view cryptoType)
{
    bs::Logger log("CryptoProviderRU::verifyPkcs10Sign");
    const Pkcs10 p10 = parseRequest(request);
    const AlgorithmId algorithm = findSignAlgorithmId(p10.signAlgorithmOid());
    const SubjectPublicKeyInfo keyInfo = p10.publicKeyInfo();
    return verifySignEngine(cryptoType)
        ->verifyRawSign(der::encode(p10.certRequestInfo()), p10.signature(), keyInfo.publicKey, algorithm,
                        keyInfo.paramsOid.text(), false);
}

X509 CryptoProviderRU::createSelfSignedCertificate(const bytes& request, std::uint64_t serialNumber,
                                                   const ValidityPeriod& period)
{
    bs::Logger log("CryptoProviderRU::createSelfSignedCertificate");
    const bytes requestDer = pkcs10::isPemFormat(request) ? pkcs10::pem_to_der(request) : request;
    const Pkcs10 p10(requestDer);
    const SubjectPublicKeyInfo keyInfo = p10.publicKeyInfo();
    const auto key = currentKey();
    if (keyInfo.publicKey != currentKeyStore()->publicKey(key, Endian::Big)) {
        bs::logAndThrow(log, InvalidKeyForPkcs10());
    }
    // GOST requests are checked by the software verifier.
    const std::string verifier = keyInfo.publicKey.isRsa() ? key->cryptoType() : std::string("angara");
    if (!verifyRawSign(der::encode(p10.certRequestInfo()), p10.signature(), keyInfo.publicKey,
                       p10.signAlgorithmOid().text(), keyInfo.paramsOid.text(), verifier, false)) {
        bs::logAndThrow(log, InvalidPkcs10Sign());
    }
    const TbsCertificate tbs(conv::int_to_binary(serialNumber), requestDer, period);
    const AlgorithmId algorithm = findSignAlgorithmId(p10.signAlgorithmOid());
    const auto signatures = rawSign({tbs.derEncoding()}, false, {getDigestAlgorithm(algorithm)});
    return X509(X509::DEFAULT_CERT_ID, tbs, der::encode(signatures.at(0), 0));
}

// ---- confirmation -----------------------------------------------------------------

bytes CryptoProviderRU::confirm(const bytes& data, const std::vector<Pkcs9Attribute>& attributes)
{
    bs::Logger log("CryptoProviderRU::confirm");
    std::shared_ptr<KeyStore> store;
    try {
        store = currentKeyStore();
    } catch (const KeyStoreNotSelected&) {
    }
    if (!store || !provider::isConfirmationToken(*store)) {
        bs::logAndThrow(log, KeyStoreNotSelected());
    }
    const pkcs9::Attributes userAttributes = parseSignedAttributes(attributes);
    // The data is the message digest as given; no signing time is added.
    const pkcs9::Attributes signedAttributes =
        pkcs9::generateSignedAttributes(data, userAttributes, false, pkcs9::EssCertIdV2(), {}, {});
    const provider::DeviceSignature device = provider::signByDeviceKey(*store, signedAttributes);
    const AlgorithmId& algorithm = GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN;
    const SignerInfo signer(device.signerSerial, device.signature, signedAttributes, algorithm,
                            getDigestAlgorithm(algorithm), X509(), pkcs7::Format::SerialOnly);
    return Pkcs7({signer}, pkcs7::Format::SerialOnly).derEncoding(false);
}

// ---- digest in progress --------------------------------------------------------------

void CryptoProviderRU::initDigestEngine(std::string_view cryptoType)
{
    auto engine = getDigestEngine(cryptoType);
    std::lock_guard lock(m_stateMutex);
    m_digestEngine = std::move(engine);
}

std::shared_ptr<DigestEngine> CryptoProviderRU::digestEngine()
{
    std::lock_guard lock(m_stateMutex);
    return m_digestEngine;
}
