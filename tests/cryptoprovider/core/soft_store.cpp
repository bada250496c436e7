#include "soft_store.h"

#include <gcrypt.h>

#include <algorithm>

#include "base/secure.h"
#include "cryptoprovider/core/errors.h"
#include "x509/errors.h"
#include "x509/public_key.h"

namespace softstore
{

namespace
{

struct Sexp {
    gcry_sexp_t value = nullptr;
    ~Sexp() { gcry_sexp_release(value); }
};

void check(gcry_error_t error, const char* what)
{
    if (error) {
        throw std::runtime_error(std::string(what) + ": " + gcry_strerror(error));
    }
}

const char* curveName(std::string_view paramsOid)
{
    static const std::map<std::string_view, const char*> curves{
        {"1.2.643.2.2.35.1", "GOST2001-CryptoPro-A"},   {"1.2.643.2.2.35.2", "GOST2001-CryptoPro-B"},
        {"1.2.643.2.2.35.3", "GOST2001-CryptoPro-C"},   {"1.2.643.7.1.2.1.1.1", "GOST2012-256-A"},
        {"1.2.643.7.1.2.1.2.1", "GOST2012-512-tc26-A"}, {"1.2.643.7.1.2.1.2.2", "GOST2012-512-tc26-B"},
        {"1.2.643.7.1.2.1.2.3", "GOST2012-512-tc26-C"},
    };
    const auto found = curves.find(paramsOid);
    if (found == curves.end()) {
        throw std::runtime_error("no curve for " + std::string(paramsOid));
    }
    return found->second;
}

} // namespace

struct SoftDigestEngine::Handle {
    gcry_md_hd_t md = nullptr;
    ~Handle() { gcry_md_close(md); }
};

SoftDigestEngine::SoftDigestEngine() = default;
SoftDigestEngine::~SoftDigestEngine() = default;

void SoftDigestEngine::init(const AlgorithmId& digestAlgorithm, std::string_view paramsOid)
{
    static const bool ready = gcry_check_version(nullptr) != nullptr;
    (void)ready;
    int algorithm = 0;
    m_gost = digestAlgorithm.isGost();
    if (digestAlgorithm == GOST_R_3411_1994) {
        algorithm = paramsOid == "1.2.643.2.2.30.0" ? GCRY_MD_GOSTR3411_94 : GCRY_MD_GOSTR3411_CP;
    } else if (digestAlgorithm == GOST_R_3411_2012_256) {
        algorithm = GCRY_MD_STRIBOG256;
    } else if (digestAlgorithm == GOST_R_3411_2012_512) {
        algorithm = GCRY_MD_STRIBOG512;
    } else if (digestAlgorithm == SHA_1) {
        algorithm = GCRY_MD_SHA1;
    } else if (digestAlgorithm == SHA_256) {
        algorithm = GCRY_MD_SHA256;
    } else if (digestAlgorithm == SHA_512) {
        algorithm = GCRY_MD_SHA512;
    } else {
        throw UnknownAlgorithm();
    }
    m_handle = std::make_unique<Handle>();
    check(gcry_md_open(&m_handle->md, algorithm, 0), "gcry_md_open");
}

void SoftDigestEngine::update(const bytes& data)
{
    if (!m_handle) {
        throw DigestContextNotInitialized();
    }
    ++updates;
    gcry_md_write(m_handle->md, data.data(), data.size());
}

bytes SoftDigestEngine::doFinal(Endian endian)
{
    if (!m_handle) {
        throw DigestContextNotInitialized();
    }
    const int algorithm = gcry_md_get_algo(m_handle->md);
    const unsigned char* value = gcry_md_read(m_handle->md, algorithm);
    bytes digest(value, value + gcry_md_get_algo_dlen(algorithm));
    m_handle.reset();
    // libgcrypt gives GOST values in their CMS form, the reversal of what a
    // token produces.
    if (m_gost && endian == Endian::Little) {
        std::reverse(digest.begin(), digest.end());
    }
    return digest;
}

bool SoftVerifyEngine::verifyGostSign(const bytes& data, const bytes& signature, const bytes& publicKey,
                                      const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                                      bool kalvaMode)
{
    // The hash value e as a big-endian integer: the token order.
    const bytes e =
        digest(data, getDigestAlgorithm(signAlgorithm), Endian::Little, gost3411::paramSet(kalvaMode));
    const std::size_t n = signature.size() / 2;
    if (signature.size() % 2 != 0 || publicKey.size() != 2 * n) {
        return false;
    }
    bytes q{0x04};
    q.insert(q.end(), publicKey.begin(), publicKey.end());
    Sexp key, sig, value;
    check(gcry_sexp_build(&key.value, nullptr, "(public-key (ecc (curve %s) (q %b)))", curveName(paramsOid),
                          static_cast<int>(q.size()), q.data()),
          "key");
    check(gcry_sexp_build(&sig.value, nullptr, "(sig-val (gost (r %b)(s %b)))", static_cast<int>(n),
                          signature.data(), static_cast<int>(n), signature.data() + n),
          "signature");
    check(gcry_sexp_build(&value.value, nullptr, "(data (flags gost) (value %b))", static_cast<int>(e.size()),
                          e.data()),
          "data");
    return gcry_pk_verify(sig.value, value.value, key.value) == 0;
}

bool SoftRsaVerifyEngine::verifyRsaSign(const bytes& data, const bytes& signature,
                                        const RsaPublicKey& publicKey, const AlgorithmId& digestAlgorithm)
{
    static const std::map<std::string_view, const char*> hashes{
        {"SHA1", "sha1"}, {"SHA256", "sha256"}, {"SHA512", "sha512"}};
    const auto hash = hashes.find(digestAlgorithm.nameRef());
    if (hash == hashes.end()) {
        throw UnknownAlgorithm();
    }
    const bytes value = digest(data, digestAlgorithm, Endian::Big, {});
    const bytes exponent = publicKey.exponentData();
    Sexp key, sig, hashed;
    check(gcry_sexp_build(&key.value, nullptr, "(public-key (rsa (n %b) (e %b)))",
                          static_cast<int>(publicKey.modulus.size()), publicKey.modulus.data(),
                          static_cast<int>(exponent.size()), exponent.data()),
          "key");
    check(gcry_sexp_build(&sig.value, nullptr, "(sig-val (rsa (s %b)))", static_cast<int>(signature.size()),
                          signature.data()),
          "signature");
    check(gcry_sexp_build(&hashed.value, nullptr, "(data (flags pkcs1) (hash %s %b))", hash->second,
                          static_cast<int>(value.size()), value.data()),
          "data");
    return gcry_pk_verify(sig.value, hashed.value, key.value) == 0;
}

Bytes backendPublicKey(const gostsoft::Key& key)
{
    return reverseHalves(key.publicKey());
}

std::shared_ptr<KeyRecord> SoftKeyStore::addDeviceKey(const std::string& alias,
                                                      std::shared_ptr<const gostsoft::Key> key,
                                                      const X509& certificate)
{
    const AlgorithmId algorithm = key->is512() ? GOST_R_3410_2012_512_GOST_R_3411_2012_512_SIGN
                                               : GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN;
    auto record =
        std::make_shared<KeyRecord>(alias, algorithm, key->paramSetOid(), m_cryptoType, certificate);
    deviceKeys[alias] = record;
    deviceGostKeys[alias] = std::move(key);
    return record;
}

X509 SoftKeyStore::findCertificateByKey(const std::shared_ptr<KeyRecord>& key)
{
    if (key->x509().empty()) {
        throw CertificateNotFound();
    }
    return key->x509();
}

bytes SoftKeyStore::getPublicKey(const std::shared_ptr<KeyRecord>& key)
{
    ++calls.getPublicKey;
    return backendPublicKey(*deviceGostKeys.at(key->alias()));
}

std::vector<X509> SoftKeyStore::certificateList(CertType type)
{
    ++calls.certificateList[type];
    if (failingCertificateLists.count(type)) {
        throw std::runtime_error("certificate list unreadable");
    }
    return deviceCertificates[type];
}

void SoftKeyStore::updateKeysInfo()
{
    ++calls.updateKeysInfo;
    replaceKeysList(deviceKeys);
}

std::vector<bytes> SoftKeyStore::sign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                                      bool)
{
    ++calls.sign;
    const gostsoft::Key& gostKey = *deviceGostKeys.at(key->alias());
    std::vector<bytes> signatures;
    for (const bytes& item : data) {
        const Bytes sr = gostKey.sign(item);
        // s||r from libgcrypt; the device orientation is r||s.
        signatures.push_back(swapSignatureHalves(sr));
    }
    return signatures;
}

} // namespace softstore
