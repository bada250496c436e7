#include "capi/container.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "base/encoding.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "capi/csp_engines.h"
#include "capi/errors.h"
#include "capi/functions.h"
#include "cryptoprovider/core/errors.h"
#include "x509/cert_builder.h"
#include "x509/errors.h"

namespace capi
{

namespace
{

std::string text(const bytes& value)
{
    return std::string(value.begin(), std::find(value.begin(), value.end(), 0));
}

// The key's public key as a certificate carries it.
SubjectPublicKeyInfo subjectPublicKeyInfo(const Key& key, const AlgorithmId& signAlgorithm,
                                          const std::string& paramsOid)
{
    SubjectPublicKeyInfo info;
    info.algorithm = getPublicKeyAlgorithmBySign(signAlgorithm);
    if (signAlgorithm.isRsa()) {
        info.publicKey = PublicKey(key.rsaPublicKey());
    } else {
        info.paramsOid = ObjectIdentifier(paramsOid);
        info.digestParamsOid = getDigestAlgorithmParams(signAlgorithm);
        info.publicKey = PublicKey(key.publicKey());
    }
    return info;
}

// The certificate stored with the key, else the one of "MY" that carries
// the key's public key, else none.
X509 keyCertificate(const Key& key, const AlgorithmId& signAlgorithm, const std::string& paramsOid)
{
    const bs::Logger log("capi::CspKeyRecord::certificate");
    bytes der;
    try {
        der = key.param(KP_CERTIFICATE, 0);
    } catch (const NoCertificate&) {
    }
    if (der.empty()) {
        log.info(signAlgorithm.isRsa() ? "findRsaCertificateInStore" : "findCertificateInStore");
        const CertStore store(L"MY");
        der = store.findCertificate(subjectPublicKeyInfo(key, signAlgorithm, paramsOid).derEncoding());
    }
    return der.empty() ? X509() : X509(der);
}

} // namespace

// ---- CspKeyRecord -------------------------------------------------------------

CspKeyRecord::CspKeyRecord(Key key) : CspKeyRecord(std::make_shared<OpenKey>(std::move(key))) {}

CspKeyRecord::CspKeyRecord(std::shared_ptr<OpenKey> open)
    : KeyRecord({}, AlgorithmId(), {}, {}, X509()), m_open(std::move(open))
{
}

std::shared_ptr<CspKeyRecord> CspKeyRecord::sharingKeyOf(const CspKeyRecord& record)
{
    return std::shared_ptr<CspKeyRecord>(new CspKeyRecord(record.m_open));
}

void CspKeyRecord::updateInfo(unsigned int aliasParam, unsigned int paramsParam, std::string_view cryptoType)
{
    const bs::Logger log("capi::CspKeyRecord::updateInfo");
    const std::string alias = encoding::cp1251_to_utf8(key().provider().stringParam(aliasParam, 0));
    log.info("alias: " + alias);
    const AlgorithmId algorithm = key().signAlgorithm();
    const std::string paramsOid = algorithm.isRsa() ? std::string() : text(key().param(paramsParam, 0));
    const X509 certificate = keyCertificate(key(), algorithm, paramsOid);
    setAlias(alias);
    setSignAlgorithm(algorithm);
    setAlgParamsOid(paramsOid);
    setCryptoType(cryptoType);
    setX509(certificate);
}

std::shared_ptr<CspKeyRecord> cspKey(const std::shared_ptr<KeyRecord>& key)
{
    auto record = std::dynamic_pointer_cast<CspKeyRecord>(key);
    if (!record) {
        throw std::logic_error("not csp key");
    }
    return record;
}

DWORD getKeySpec(const std::shared_ptr<KeyRecord>& key)
{
    const auto record = cspKey(key);
    const auto lock = record->lock();
    return record->key().dwordParam(KP_KEYSPEC, 0);
}

// ---- Container: what a CSP makes of it ---------------------------------------

Container::Container(PROV_TYPE provType, bool isNew) : m_provType(provType), m_isNew(isNew) {}

PROV_TYPE Container::providerTypeByAlgorithm(const AlgorithmId& algorithm) const
{
    if (isGost34102001(algorithm)) {
        return PROV_GOST_2001_DH;
    }
    if (isGost34102012_256(algorithm)) {
        return PROV_GOST_2012_256;
    }
    if (isGost34102012_512(algorithm)) {
        return PROV_GOST_2012_512;
    }
    bs::logAndThrow(bs::Logger("capi::Container::providerTypeByAlgorithm"),
                    UnsupportedAlgorithm(algorithm.name()));
}

std::string Container::containerId() const
{
    if (isNew()) {
        bs::logAndThrow(bs::Logger("capi::Container::containerId"), KeyNotFound());
    }
    return id();
}

bool Container::isNew() const
{
    std::lock_guard lock(m_stateMutex);
    return m_isNew;
}

PROV_TYPE Container::provType() const
{
    std::lock_guard lock(m_stateMutex);
    return m_provType;
}

void Container::setProvType(PROV_TYPE provType)
{
    std::lock_guard lock(m_stateMutex);
    m_provType = provType;
}

std::shared_ptr<KeyRecord> Container::key()
{
    Keys keys = getKeys();
    if (keys.empty()) {
        keys = getKeysList();
    }
    if (keys.empty()) {
        bs::logAndThrow(bs::Logger("capi::Container::key"), KeyNotFound());
    }
    return keys.begin()->second;
}

// ---- PINs and passwords: the CSP asks for them itself -------------------------

bool Container::isPinSet()
{
    return true;
}

void Container::setPin(std::wstring_view)
{
    throw FunctionNotImplemented();
}

void Container::changePin(std::wstring_view)
{
    throw FunctionNotImplemented();
}

void Container::setKeyPassword(const std::shared_ptr<KeyRecord>&, std::wstring_view)
{
    throw FunctionNotImplemented();
}

bool Container::isKeyPasswordSet(const std::shared_ptr<KeyRecord>&)
{
    return true;
}

// ---- keys -----------------------------------------------------------------------

std::shared_ptr<KeyRecord> Container::createNewKey(std::string_view alias, std::uint16_t,
                                                   const AlgorithmId& signAlgorithm,
                                                   std::string_view algParamsOid, std::string_view,
                                                   std::wstring_view password)
{
    return createKey(alias, signAlgorithm, algParamsOid, password, 0);
}

std::shared_ptr<KeyRecord> Container::createNewRsaKey(std::string_view alias, std::uint16_t,
                                                      std::wstring_view password, std::uint16_t bits)
{
    return createKey(alias, RSA_ENCRYPTION, {}, password, bits);
}

std::shared_ptr<KeyRecord> Container::createKey(std::string_view alias, const AlgorithmId& algorithm,
                                                std::string_view paramsOid, std::wstring_view password,
                                                unsigned int rsaBits)
{
    const bs::Logger log("capi::Container::createKey");
    std::lock_guard change(m_changeMutex);
    if (!isNew()) {
        bs::logAndThrow(log, bs::standardError<std::runtime_error>(cp::localization, "CP-012002"));
    }
    if (!isAlgParamsValid(algorithm, paramsOid)) {
        bs::logAndThrow(log, Gost3410ECParamsUnsupported(paramsOid));
    }
    const PROV_TYPE type = providerTypeByAlgorithm(algorithm);
    auto record = std::make_shared<CspKeyRecord>(Key(type, alias, algorithm, paramsOid, password, rsaBits));
    std::string uniqueName;
    try {
        record->updateInfo(keyAliasParam(), signParamsOid(), cryptoType());
        uniqueName = encoding::cp1251_to_utf8(record->key().provider().stringParam(PP_UNIQUE_CONTAINER, 0));
    } catch (const std::exception& e) {
        // The container is taken away again, so that the store stays new and
        // the alias free.
        log.error(e.what());
        record.reset();
        Provider::discardContainer(alias, type);
        throw;
    }
    log.info("uniqueName:" + uniqueName);
    {
        std::lock_guard lock(m_stateMutex);
        m_provType = type;
        m_isNew = false;
    }
    replaceKeysList({{record->alias(), record}});
    setId(uniqueName);
    return record;
}

void Container::setKeyExternalId(const std::shared_ptr<KeyRecord>&, std::uint64_t)
{
    throw FunctionNotImplemented();
}

void Container::changeKeyAlias(const std::shared_ptr<KeyRecord>&, std::string_view)
{
    throw FunctionNotImplemented();
}

void Container::changeKeyPass(const std::shared_ptr<KeyRecord>&, std::wstring_view)
{
    throw FunctionNotImplemented();
}

void Container::deleteKey(const std::shared_ptr<KeyRecord>& key)
{
    const bs::Logger log("capi::Container::deleteKey");
    std::lock_guard change(m_changeMutex);
    Provider::deleteContainer(containerId(), provType());
    removeKeyRecord(key);
}

void Container::updateKeysInfo()
{
    const bs::Logger log("capi::Container::updateKeysInfo");
    std::lock_guard change(m_changeMutex);
    if (isNew()) {
        return;
    }
    const Keys keys = getKeys();
    std::shared_ptr<CspKeyRecord> record;
    if (keys.empty()) {
        record = std::make_shared<CspKeyRecord>(Key(containerId(), provType()));
        record->updateInfo(keyAliasParam(), signParamsOid(), cryptoType());
    } else {
        // A fresh record of the open key: the listed one stays as callers saw it.
        record = CspKeyRecord::sharingKeyOf(*cspKey(keys.begin()->second));
        const auto lock = record->lock();
        record->updateInfo(keyAliasParam(), signParamsOid(), cryptoType());
    }
    replaceKeysList({{record->alias(), record}});
}

// ---- signing ----------------------------------------------------------------------

bytes Container::rawSign(const CspKeyRecord& key, const bytes& data, const AlgorithmId& digestAlgorithm,
                         bool kalvaMode)
{
    // The digest in the order the CSP gives and takes hash values.
    const bytes value = digest(data, digestAlgorithm, Endian::Big, gost3411::paramSet(kalvaMode));
    const auto lock = key.lock();
    const Hash hash(key.key().provider().get(), digestAlgorithm);
    hash.setParam(HP_HASHVAL, value, 0);
    return hash.sign(key.key().keySpec());
}

std::vector<bytes> Container::sign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                                   bool kalvaMode)
{
    const bs::Logger log("capi::Container::sign");
    const auto record = cspKey(key);
    std::vector<bytes> signatures;
    signatures.reserve(data.size());
    for (const bytes& item : data) {
        // The CSP gives each half little-endian.
        signatures.push_back(reverseHalves(rawSign(*record, item, record->digestAlgorithm(), kalvaMode)));
    }
    return signatures;
}

std::vector<bytes> Container::rsaSign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                                      const std::vector<AlgorithmId>& digestAlgorithms)
{
    const bs::Logger log("capi::Container::rsaSign");
    const auto record = cspKey(key);
    std::vector<bytes> signatures;
    signatures.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        bytes signature = rawSign(*record, data[i], digestAlgorithms.at(i), false);
        std::reverse(signature.begin(), signature.end());
        signatures.push_back(std::move(signature));
    }
    return signatures;
}

// ---- public keys and verification -------------------------------------------------

bytes Container::getPublicKey(const std::shared_ptr<KeyRecord>& key)
{
    const auto record = cspKey(key);
    const auto lock = record->lock();
    return reverseHalves(record->key().publicKey());
}

RsaPublicKey Container::getRsaPublicKey(const std::shared_ptr<KeyRecord>& key)
{
    const auto record = cspKey(key);
    const auto lock = record->lock();
    return record->key().rsaPublicKey();
}

// ---- certificates -------------------------------------------------------------------

bytes Container::importUserCertificate(const std::shared_ptr<KeyRecord>& key, const bytes& der)
{
    const bs::Logger log("capi::Container::importUserCertificate");
    const auto record = cspKey(key);
    const PROV_TYPE type =
        record->signAlgorithm().isRsa() ? provType() : providerTypeByAlgorithm(record->signAlgorithm());
    DWORD keySpec = 0;
    {
        const auto lock = record->lock();
        record->key().setParam(KP_CERTIFICATE, der, 0);
        keySpec = record->key().dwordParam(KP_KEYSPEC, 0);
    }
    installCertificateToSystemStore(type, containerId(), keySpec, der);
    return X509::DEFAULT_CERT_ID;
}

void Container::deleteUserCertificate(const std::shared_ptr<KeyRecord>&)
{
    throw FunctionNotImplemented();
}

bytes Container::importCertificate(const bytes&, CertType)
{
    throw FunctionNotImplemented();
}

void Container::deleteCertificate(const bytes&, CertType)
{
    throw FunctionNotImplemented();
}

std::shared_ptr<KeyRecord> Container::findKeyByCertificate(const bytes&, bool)
{
    return key();
}

X509 Container::findCertificateByKey(const std::shared_ptr<KeyRecord>& key)
{
    if (!key || key->x509().empty()) {
        bs::logAndThrow(bs::Logger("capi::Container::findCertificateByKey"), CertificateNotFound());
    }
    return key->x509();
}

std::vector<X509> Container::certificateList(CertType type)
{
    if (type != CERT_USER) {
        return {};
    }
    const Keys keys = getKeys();
    if (keys.empty() || keys.begin()->second->x509().empty()) {
        return {};
    }
    return {keys.begin()->second->x509()};
}

} // namespace capi
