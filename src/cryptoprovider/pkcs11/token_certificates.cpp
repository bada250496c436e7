// The token key store: certificates on the token.
#include "cryptoprovider/pkcs11/pkcs11_token.h"

#include "base/logger.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/token_secrets.h"
#include "x509/errors.h"

using pkcs11::requirePassword;

// ---- certificates ----

std::vector<X509> Pkcs11Token::certificateList(CertType type)
{
    bs::Logger log("Pkcs11Token::certificateList");
    TokenSession session(this);
    return session.helper().certificateList(type);
}

bytes Pkcs11Token::importUserCertificate(const std::shared_ptr<KeyRecord>& key, const bytes& der)
{
    bs::Logger log("Pkcs11Token::importUserCertificate");
    TokenSession session(this);
    requirePassword(*this, *key);
    const bytes& keyId = pkcs11::key(key)->keyId();
    session.helper().importCertificate(keyId, key->alias(), der, CERT_USER, true);
    return keyId;
}

void Pkcs11Token::deleteUserCertificate(const std::shared_ptr<KeyRecord>& key)
{
    bs::Logger log("Pkcs11Token::deleteUserCertificate");
    TokenSession session(this);
    requirePassword(*this, *key);
    session.helper().deleteCertificate(pkcs11::key(key)->keyId(), CERT_USER);
}

bytes Pkcs11Token::importCertificate(const bytes& der, CertType type)
{
    bs::Logger log("Pkcs11Token::importCertificate");
    TokenSession session(this);
    const X509 certificate(der);
    const bytes id = certificate.serial();
    session.helper().importCertificate(id, certificate.subjectName(), der, type, true);
    return id;
}

void Pkcs11Token::deleteCertificate(const bytes& id, CertType type)
{
    bs::Logger log("Pkcs11Token::deleteCertificate");
    TokenSession session(this);
    session.helper().deleteCertificate(id, type);
}

X509 Pkcs11Token::findCertificateByKey(const std::shared_ptr<KeyRecord>& key)
{
    return findCertificate(pkcs11::key(key)->keyId(), {CERT_USER}, true);
}

std::shared_ptr<KeyRecord> Pkcs11Token::findKeyByCertificate(const bytes& certificateId, bool)
{
    bs::Logger log("Pkcs11Token::findKeyByCertificate");
    {
        TokenSession session(this);
        updateKeysInfoImpl(session);
    }
    for (const auto& [alias, key] : getKeys()) {
        const auto token = std::dynamic_pointer_cast<pkcs11::KeyRecord>(key);
        if (token && token->keyId() == certificateId) {
            return key;
        }
    }
    throw KeyNotFound();
}
