// The token key store: key numbers and passwords, new keys, the key changes
// and key deletion.
#include "cryptoprovider/pkcs11/pkcs11_token.h"

#include <algorithm>
#include <array>
#include <exception>

#include "base/logger.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/token_secrets.h"
#include "icrypto/gost3411.h"
#include "x509/errors.h"

using pkcs11::Wiped;

namespace
{

// Every key allows this many wrong password entries.
constexpr std::uint8_t KEY_PASSWORD_TRIES = 16;

// Crypto types whose new private keys may also derive.
constexpr std::array<std::string_view, 6> DERIVING_CRYPTO_TYPES{
    "rutoken_2", "rutoken_3", "rutoken_2100", "rutoken_3000", "rutoken_3220", "angara"};

// Runs one clean-up step of a key deletion: a part that is not there is
// skipped, another failure is kept (the first one) to be reported.
template <class Step> void removePart(const bs::Logger& log, std::exception_ptr& failure, Step step)
{
    try {
        step();
    } catch (const KeyNotFound&) {
    } catch (const CertificateNotFound&) {
    } catch (const std::exception& error) {
        log.error(error.what());
        if (!failure) {
            failure = std::current_exception();
        }
    }
}

} // namespace

// ---- key numbers and passwords ----

std::vector<std::uint8_t> Pkcs11Token::keyFilesIds(const TokenSession& session, CK_OBJECT_CLASS objectClass)
{
    const pkcs11::Helper& helper = session.helper();
    const bytes classValue = pkcs11::ulongValue(objectClass);
    std::vector<std::uint8_t> ids;
    for (const CK_OBJECT_HANDLE object : helper.findObjects(
             {pkcs11::attribute(CKA_TOKEN, pkcs11::TRUE_VALUE), pkcs11::attribute(CKA_CLASS, classValue)})) {
        ids.push_back(getKeyIdByCertId(helper.readAttribute(object, CKA_ID)));
    }
    return ids;
}

std::uint8_t Pkcs11Token::findMinFreeId(std::vector<std::uint8_t> ids, std::uint8_t start)
{
    std::sort(ids.begin(), ids.end());
    unsigned candidate = start;
    for (const std::uint8_t id : ids) {
        if (id == candidate) {
            ++candidate;
        } else if (id > candidate) {
            break;
        }
    }
    if (candidate > 0xFF) {
        throw CardIsFull();
    }
    return static_cast<std::uint8_t>(candidate);
}

std::uint8_t Pkcs11Token::findMinFreeId(const TokenSession& session, CK_OBJECT_CLASS objectClass,
                                        std::uint8_t start)
{
    return findMinFreeId(keyFilesIds(session, objectClass), start);
}

bytes Pkcs11Token::getNextKeyId(const TokenSession& session)
{
    // A public key left behind by an interrupted deletion keeps its number,
    // so a new pair never shares an id with a stray key object.
    std::vector<std::uint8_t> ids = keyFilesIds(session, CKO_PRIVATE_KEY);
    const std::vector<std::uint8_t> publicIds = keyFilesIds(session, CKO_PUBLIC_KEY);
    ids.insert(ids.end(), publicIds.begin(), publicIds.end());
    return {0x01, findMinFreeId(std::move(ids), 1)};
}

bytes Pkcs11Token::passwordHash(std::wstring_view password)
{
    const Wiped<bytes> passwordBytes(makePasswordHash(password));
    return icrypto::gost3411Digest(*passwordBytes);
}

void Pkcs11Token::changePassword(const TokenSession& session, CK_OBJECT_HANDLE privateKey,
                                 std::wstring_view password)
{
    session.helper().changeKeyPassword(privateKey, passwordHash(password), KEY_PASSWORD_TRIES);
}

void Pkcs11Token::changePassword(const TokenSession& session, const std::shared_ptr<KeyRecord>& key,
                                 std::wstring_view password)
{
    changePassword(session, privateKeyHandle(session, key), password);
}

void Pkcs11Token::verifyPassword(const TokenSession& session, const std::shared_ptr<KeyRecord>& key,
                                 std::wstring_view password)
{
    bs::Logger log("Pkcs11Token::verifyPassword");
    session.helper().verifyKeyPassword(privateKeyHandle(session, key), passwordHash(password), true);
}

void Pkcs11Token::checkCachedPassword(const TokenSession& session, const std::shared_ptr<KeyRecord>& key)
{
    const Wiped<std::wstring> password(getCachedPassword(key->alias()));
    verifyPassword(session, key, *password);
}

CK_OBJECT_HANDLE Pkcs11Token::publicKeyHandle(const TokenSession& session,
                                              const std::shared_ptr<KeyRecord>& key)
{
    return session.helper().findKeyObject(pkcs11::key(key)->keyId(), pkcs11::PUBLIC_KEY_VALUE);
}

CK_OBJECT_HANDLE Pkcs11Token::privateKeyHandle(const TokenSession& session,
                                               const std::shared_ptr<KeyRecord>& key)
{
    return session.helper().findKeyObject(pkcs11::key(key)->keyId(), pkcs11::PRIVATE_KEY_VALUE);
}

void Pkcs11Token::setKeyPassword(const std::shared_ptr<KeyRecord>& key, std::wstring_view password)
{
    bs::Logger log("Pkcs11Token::setKeyPassword");
    TokenSession session(this);
    deleteCachedPassword(key->alias());
    verifyPassword(session, key, password);
    setCachedPassword(key->alias(), password);
}

std::shared_ptr<KeyRecord> Pkcs11Token::createNewKey(std::string_view alias, std::uint16_t systemId,
                                                     const AlgorithmId& signAlgorithm,
                                                     std::string_view algParamsOid, std::string_view,
                                                     std::wstring_view password)
{
    bs::Logger log("Pkcs11Token::createNewKey");
    TokenSession session(this);
    this->signAlgorithm(signAlgorithm);
    const auto paramSets = getGost3410AlgParams();
    getGost3410AlgParamsId(algParamsOid, paramSets);
    const bool derive = std::find(DERIVING_CRYPTO_TYPES.begin(), DERIVING_CRYPTO_TYPES.end(), cryptoType()) !=
                        DERIVING_CRYPTO_TYPES.end();
    const bytes keyId = getNextKeyId(session);
    auto record = std::make_shared<pkcs11::KeyRecord>(alias, systemId, signAlgorithm, algParamsOid, paramSets,
                                                      cryptoType(), keyId);
    const auto pair =
        session.helper().generateKeyPair(keyId, signAlgorithm, ObjectIdentifier(algParamsOid), derive);
    return completeNewKey(session, pair, record, password);
}

std::shared_ptr<KeyRecord> Pkcs11Token::completeNewKey(const TokenSession& session,
                                                       const pkcs11::Helper::KeyPair& pair,
                                                       const std::shared_ptr<pkcs11::KeyRecord>& record,
                                                       std::wstring_view password)
{
    bs::Logger log("Pkcs11Token::completeNewKey");
    try {
        changePassword(session, pair.second, password);
        writeKeyRecord(session, record);
        updateKeysInfoImpl(session);
    } catch (...) {
        // A pair without its record would be listed as a key of other
        // software: take it away again.
        for (const CK_OBJECT_HANDLE object : {pair.second, pair.first}) {
            try {
                session.helper().deleteObject(object);
            } catch (const std::exception& error) {
                log.error(error.what());
            }
        }
        try {
            updateKeysInfoImpl(session);
        } catch (const std::exception& error) {
            log.error(error.what());
        }
        throw;
    }
    forgetKey(record);
    setCachedPassword(record->alias(), password);
    const Keys keys = getKeys();
    const auto listed = keys.find(record->alias());
    return listed != keys.end() ? listed->second : record;
}

void Pkcs11Token::setKeyExternalId(const std::shared_ptr<KeyRecord>& key, std::uint64_t externalId)
{
    bs::Logger log("Pkcs11Token::setKeyExternalId");
    TokenSession session(this);
    checkCachedPassword(session, key);
    auto changed = std::make_shared<pkcs11::KeyRecord>(*pkcs11::key(key));
    changed->setExternalId(externalId);
    writeKeyRecord(session, changed);
    updateKeysInfoImpl(session);
}

void Pkcs11Token::changeKeyAlias(const std::shared_ptr<KeyRecord>& key, std::string_view newAlias)
{
    bs::Logger log("Pkcs11Token::changeKeyAlias");
    TokenSession session(this);
    const Wiped<std::wstring> password(getCachedPassword(key->alias()));
    verifyPassword(session, key, *password);
    auto changed = std::make_shared<pkcs11::KeyRecord>(*pkcs11::key(key));
    changed->setAlias(newAlias);
    writeKeyRecord(session, changed);
    // The token holds the new record: now the caches follow it.
    forgetKey(key);
    forgetKey(changed);
    setCachedPassword(changed->alias(), *password);
    updateKeysInfoImpl(session);
}

void Pkcs11Token::changeKeyPass(const std::shared_ptr<KeyRecord>& key, std::wstring_view newPassword)
{
    bs::Logger log("Pkcs11Token::changeKeyPass");
    TokenSession session(this);
    checkCachedPassword(session, key);
    changePassword(session, key, newPassword);
    setCachedPassword(key->alias(), newPassword);
}

void Pkcs11Token::deleteKey(const std::shared_ptr<KeyRecord>& key)
{
    bs::Logger log("Pkcs11Token::deleteKey");
    TokenSession session(this);
    const pkcs11::Helper& helper = session.helper();
    const auto token = pkcs11::key(key);
    pkcs11::requirePassword(*this, *key);
    // The private key goes first: while it stays, the key is listed whole.
    try {
        helper.deleteObject(privateKeyHandle(session, key));
    } catch (const KeyNotFound&) {
    }
    std::exception_ptr failure;
    removePart(log, failure, [&] { helper.deleteObject(publicKeyHandle(session, key)); });
    removePart(log, failure, [&] { helper.deleteCertificate(token->keyId(), CERT_USER); });
    removePart(log, failure, [&] { helper.deleteMetaInfo(pkcs11::keyLabel(key->id()), false); });
    forgetKey(key);
    updateKeysInfoImpl(session);
    if (failure) {
        std::rethrow_exception(failure);
    }
}
