// The token key store: public keys, signatures and the signatures of CMS
// messages.
#include "cryptoprovider/pkcs11/pkcs11_token.h"

#include <algorithm>

#include "asn1/binary.h"
#include "base/logger.h"
#include "cryptoprovider/pkcs11/token_engines.h"
#include "cryptoprovider/pkcs11/token_secrets.h"

using pkcs11::requirePassword;

// ---- public keys and signing ----

bytes Pkcs11Token::getPublicKey(const std::shared_ptr<KeyRecord>& key)
{
    bs::Logger log("Pkcs11Token::getPublicKey");
    TokenSession session(this);
    checkCachedPassword(session, key);
    return getPublicKeyImpl(session, key);
}

bytes Pkcs11Token::getPublicKeyImpl(const TokenSession& session, const std::shared_ptr<KeyRecord>& key)
{
    // The token holds each coordinate little-endian, as a certificate does;
    // the store hands them on big-endian.
    return reverseHalves(session.helper().readAttribute(publicKeyHandle(session, key), CKA_VALUE));
}

RsaPublicKey Pkcs11Token::getRsaPublicKeyImpl(const TokenSession& session,
                                              const std::shared_ptr<KeyRecord>& key)
{
    const pkcs11::Helper& helper = session.helper();
    const CK_OBJECT_HANDLE publicKey = publicKeyHandle(session, key);
    RsaPublicKey value;
    value.modulus = helper.readAttribute(publicKey, CKA_MODULUS);
    value.exponent = conv::binary_to_int(helper.readAttribute(publicKey, CKA_PUBLIC_EXPONENT));
    return value;
}

std::vector<bytes> Pkcs11Token::sign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                                     bool kalvaMode)
{
    bs::Logger log("Pkcs11Token::sign");
    const AlgorithmId digestAlgorithm = key->digestAlgorithm();
    const Endian endian = digestAlgorithm.isGost() ? Endian::Little : Endian::Big;
    std::vector<bytes> digests;
    digests.reserve(data.size());
    for (const bytes& item : data) {
        digests.push_back(digest(item, digestAlgorithm, endian, gost3411::paramSet(kalvaMode)));
    }
    TokenSession session(this);
    checkCachedPassword(session, key);
    std::vector<bytes> signatures;
    signatures.reserve(digests.size());
    for (const bytes& value : digests) {
        signatures.push_back(signHash(session, key, value, key->signAlgorithm()));
    }
    return signatures;
}

bytes Pkcs11Token::signHash(const TokenSession& session, const std::shared_ptr<KeyRecord>& key,
                            const bytes& digest, const AlgorithmId& algorithm)
{
    bytes value = digest;
    if (algorithm.isGost()) {
        // Digests "as produced" come reversed; the token takes the hash order.
        std::reverse(value.begin(), value.end());
    }
    return session.helper().sign(privateKeyHandle(session, key), value, signAlgorithm(algorithm));
}

std::vector<bytes> Pkcs11Token::signAttributes(const std::shared_ptr<KeyRecord>& key,
                                               const std::vector<bytes>& encodings,
                                               const std::vector<AlgorithmId>& digestAlgorithms,
                                               bool kalvaMode)
{
    bs::Logger log("Pkcs11Token::cmsSign");
    std::vector<bytes> digests;
    digests.reserve(encodings.size());
    for (std::size_t i = 0; i < encodings.size(); ++i) {
        digests.push_back(
            digest(encodings[i], digestAlgorithms.at(i), Endian::Big, gost3411::paramSet(kalvaMode)));
    }
    TokenSession session(this);
    requirePassword(*this, *key);
    const pkcs11::Helper& helper = session.helper();
    const CK_MECHANISM_TYPE mechanism = signAlgorithm(key->signAlgorithm());
    const CK_OBJECT_HANDLE privateKey = privateKeyHandle(session, key);
    const bool rsa = key->signAlgorithm().isRsa();
    std::vector<bytes> signatures;
    signatures.reserve(digests.size());
    for (std::size_t i = 0; i < digests.size(); ++i) {
        // PKCS#1 v1.5 covers the DigestInfo, not the bare hash.
        signatures.push_back(
            helper.sign(privateKey, rsa ? pkcs11::rsaDigestInfo(digestAlgorithms[i], digests[i]) : digests[i],
                        mechanism));
    }
    return signatures;
}
