// KeyStore: public keys, raw, CMS and PKCS#10 signing on the back end's
// primitives, and digests with the store's engine.
#include "cryptoprovider/core/key_store.h"

#include <optional>
#include <string>

#include "base/conv.h"
#include "base/logger.h"
#include "base/strings.h"
#include "cryptoprovider/core/cms_assembly.h"
#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/errors.h"
#include "x509/errors.h"
#include "x509/pkcs10.h"

namespace
{

std::string pemRequest(const bytes& der)
{
    const std::string base64 = conv::binary_to_base64(der);
    std::string body;
    body.reserve(base64.size() + base64.size() / 64 + 1);
    for (std::size_t pos = 0; pos < base64.size(); pos += 64) {
        body.append(base64, pos, 64).push_back('\n');
    }
    return bs::replace("-----BEGIN CERTIFICATE REQUEST-----\n%1-----END CERTIFICATE REQUEST-----", body);
}

std::shared_ptr<DigestEngine> requireEngine(KeyStore& store)
{
    std::shared_ptr<DigestEngine> engine = store.digestEngine();
    if (!engine) {
        throw DigestContextNotInitialized();
    }
    return engine;
}

} // namespace

// ---- public keys ----

PublicKey KeyStore::publicKey(const std::shared_ptr<KeyRecord>& key, Endian endian)
{
    const AlgorithmId algorithm = requireKey(key)->signAlgorithm();
    const std::string alias = key->alias();
    std::optional<PublicKey> value;
    {
        std::lock_guard lock(m_mutex);
        const auto cached = m_publicKeys.find(alias);
        if (cached != m_publicKeys.end()) {
            value = cached->second;
        }
    }
    if (!value) {
        if (algorithm.isGost() || algorithm.empty()) {
            value = PublicKey(getPublicKey(key));
        } else if (algorithm.isRsa()) {
            value = PublicKey(getRsaPublicKey(key));
        } else {
            throw UnknownPublicKeyType();
        }
        std::lock_guard lock(m_mutex);
        m_publicKeys[alias] = *value;
    }
    if (value->isGost() && endian == Endian::Big) {
        return value->reverseKalva2();
    }
    return *value;
}

SubjectPublicKeyInfo KeyStore::getSubjectPublicKeyInfo(const std::shared_ptr<KeyRecord>& key)
{
    const AlgorithmId& algorithm = requireKey(key)->signAlgorithm();
    SubjectPublicKeyInfo info;
    info.algorithm = getPublicKeyAlgorithmBySign(algorithm);
    info.paramsOid = ObjectIdentifier(key->algParamsOid());
    info.digestParamsOid = getDigestAlgorithmParams(algorithm);
    info.publicKey = publicKey(key, Endian::Big);
    return info;
}

// ---- signing ----

std::vector<bytes> KeyStore::rawSign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                                     bool kalvaMode, const std::vector<AlgorithmId>& rsaDigests)
{
    const AlgorithmId algorithm = requireKey(key)->signAlgorithm();
    if (algorithm.isGost()) {
        std::vector<bytes> signatures = sign(key, data, kalvaMode);
        if (!kalvaMode) {
            for (bytes& signature : signatures) {
                signature = swapSignatureHalves(signature);
            }
        }
        return signatures;
    }
    if (algorithm.isRsa()) {
        return rsaSign(key, data, rsaDigests);
    }
    throw UnknownAlgorithm();
}

std::vector<Pkcs7> KeyStore::cmsSign(const std::shared_ptr<KeyRecord>& key,
                                     const std::vector<pkcs9::Attributes>& attributesList, bool kalvaMode)
{
    requireKey(key);
    std::vector<bytes> encodings;
    std::vector<AlgorithmId> digestAlgorithms;
    encodings.reserve(attributesList.size());
    digestAlgorithms.reserve(attributesList.size());
    for (const pkcs9::Attributes& attributes : attributesList) {
        encodings.push_back(attributes.derEncoding());
        digestAlgorithms.push_back(signerDigestAlgorithm(key->digestAlgorithm(), attributes));
    }
    const std::vector<bytes> signatures = signAttributes(key, encodings, digestAlgorithms, kalvaMode);
    std::vector<Pkcs7> messages;
    messages.reserve(attributesList.size());
    for (std::size_t i = 0; i < attributesList.size(); ++i) {
        messages.emplace_back(key->externalId(), key->signAlgorithm(), key->x509(), signatures.at(i),
                              attributesList[i], kalvaMode, digestAlgorithms[i]);
    }
    return messages;
}

std::vector<bytes> KeyStore::signAttributes(const std::shared_ptr<KeyRecord>& key,
                                            const std::vector<bytes>& encodings,
                                            const std::vector<AlgorithmId>& digestAlgorithms, bool kalvaMode)
{
    if (key->signAlgorithm().isRsa()) {
        return rsaSign(key, encodings, digestAlgorithms);
    }
    return sign(key, encodings, kalvaMode);
}

bytes KeyStore::createPkcs10(const std::shared_ptr<KeyRecord>& key, const SubjectDN& subject,
                             Extensions& extensions, bool der, const AlgorithmId& rsaDigest)
{
    requireKey(key);
    if (extensions.hasSubjectSignTool && extensions.subjectSignTool.empty()) {
        extensions.subjectSignTool = std::string(crypto::getName(key->cryptoType()));
    }
    Pkcs10::Info info;
    info.subject = subject;
    info.subjectPublicKeyInfo = getSubjectPublicKeyInfo(key);
    info.extensions = extensions;
    return pkcs10Sign(key, info.derEncoding(), der, rsaDigest);
}

bytes KeyStore::pkcs10Sign(const std::shared_ptr<KeyRecord>& key, const bytes& requestInfo, bool der,
                           const AlgorithmId& rsaDigest)
{
    bs::Logger log("KeyStore::pkcs10Sign");
    const bytes signature = rawSign(requireKey(key), {requestInfo}, false, {rsaDigest}).at(0);
    const AlgorithmId algorithm =
        key->signAlgorithm().isRsa() ? getSignAlgorithm(rsaDigest) : key->signAlgorithm();
    const Pkcs10 request(algorithm, requestInfo, signature);
    if (request.publicKeyInfo().publicKey != publicKey(key, Endian::Big)) {
        InvalidKeyForPkcs10 error;
        log.error(error.what());
        throw error;
    }
    const bytes encoding = request.derEncoding();
    if (der) {
        return encoding;
    }
    const std::string pem = pemRequest(encoding);
    return bytes(pem.begin(), pem.end());
}

// ---- digests ----

bytes KeyStore::digest(const bytes& data, const AlgorithmId& algorithm, Endian endian,
                       std::string_view paramSet)
{
    return requireEngine(*this)->digest(data, algorithm, endian, paramSet);
}

bytes KeyStore::digest(const ContentSource& content, const AlgorithmId& algorithm, Endian endian,
                       std::string_view paramSet)
{
    return requireEngine(*this)->digest(content, algorithm, endian, paramSet);
}
