#include "cryptoprovider/pkcs11/pkcs11_token.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <stdexcept>

#include "asn1/binary.h"
#include "asn1/der.h"
#include "base/conv.h"
#include "base/encoding.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "base/secure.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "cryptoprovider/pkcs11/token_engines.h"
#include "icrypto/gost3411.h"
#include "x509/errors.h"
#include "x509/subject_dn.h"

namespace
{

// Every key allows this many wrong password entries.
constexpr std::uint8_t KEY_PASSWORD_TRIES = 16;

// Crypto types whose new private keys may also derive.
constexpr std::array<std::string_view, 6> DERIVING_CRYPTO_TYPES{
    "rutoken_2", "rutoken_3", "rutoken_2100", "rutoken_3000", "rutoken_3220", "angara"};

std::string text(const bytes& value)
{
    return std::string(value.begin(), value.end());
}

bytes octets(std::string_view value)
{
    return bytes(value.begin(), value.end());
}

// A key label as it may be logged: a metadata container carries the key
// password's hash and try counters, so only its presence is told.
std::string loggableLabel(const std::string& label)
{
    try {
        MetaInfoContainer(std::string_view(label), false);
        return "(key metadata, " + std::to_string(label.size()) + " characters)";
    } catch (const std::exception&) {
        return label;
    }
}

// Wipes a PIN or password copy when it goes out of scope.
template <class Secret> class Wiped
{
  public:
    explicit Wiped(Secret value) : m_value(std::move(value)) {}
    ~Wiped() { bs::secureZero(&m_value); }
    Wiped(const Wiped&) = delete;
    Wiped& operator=(const Wiped&) = delete;
    const Secret& operator*() const noexcept { return m_value; }

  private:
    Secret m_value;
};

// The text a private key's CKA_SUBJECT gives for an alias: the common name
// of a DER Name, or the value itself when it is plain text.
std::string subjectText(const bytes& subject)
{
    if (!subject.empty() && subject.front() == 0x30) {
        try {
            return bs::trim(SubjectDNParser().parse(subject).commonName);
        } catch (const std::exception&) {
            return {};
        }
    }
    const std::string value = text(subject);
    const bool printable =
        std::none_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    return printable && encoding::isValidUTF8(value) ? bs::trim(value) : std::string();
}

// PasswordRequired unless the key's password is cached.
void requirePassword(const KeyStore& store, const KeyRecord& key)
{
    std::wstring password = store.getCachedPassword(key.alias());
    bs::secureZero(&password);
}

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

// The signature algorithm of a key with the certificate's GOST public key,
// as key records name it: the catalogue's first pairing for that public-key
// algorithm (GOST R 34.10-2001, or 2012 with its own digest).
// UnsupportedAlgorithm for any other key.
AlgorithmId certificateKeyAlgorithm(const X509& certificate)
{
    const AlgorithmId key = certificate.signAlgorithm();
    if (key.isGost()) {
        for (const auto& [publicKey, sign] : PUBLIC_KEY_SIGN_ALGORITHMS) {
            if (publicKey == key) {
                return sign;
            }
        }
    }
    throw UnsupportedAlgorithm(key.name());
}

} // namespace

// The facts of one private key object the listing works from.
struct Pkcs11Token::ObjectFacts {
    CK_OBJECT_HANDLE handle;
    bytes id;
    std::string label;
};

// ---- token session ----

Pkcs11Token::TokenSession::TokenSession(Pkcs11Token* token) : m_token(token), m_lock(token->tokenMutex())
{
    if (m_token->m_helper) {
        return; // inside a session of this thread
    }
    const Wiped<std::wstring> pin(m_token->hasPinCode() ? m_token->getCachedPin() : std::wstring());
    open(*pin);
}

Pkcs11Token::TokenSession::TokenSession(Pkcs11Token* token, std::wstring_view pin)
    : m_token(token), m_lock(token->tokenMutex())
{
    if (m_token->m_helper) {
        return;
    }
    open(pin); // no unwiped copy of the PIN is made
}

void Pkcs11Token::TokenSession::open(std::wstring_view pin)
{
    m_token->login(pin);
    m_outer = true;
}

Pkcs11Token::TokenSession::~TokenSession()
{
    if (m_outer) {
        m_token->logout();
    }
}

pkcs11::Helper& Pkcs11Token::TokenSession::helper() const
{
    return *m_token->m_helper;
}

// ---- construction ----

Pkcs11Token::Pkcs11Token(std::string_view name, std::string_view cryptoType, std::string_view chipType,
                         PACKAGE package, std::string modulePath)
    : HardwareDevice(name, cryptoType, chipType, package), m_modulePath(std::move(modulePath))
{
    Pkcs11::instance(m_modulePath, true);
}

Pkcs11Token::~Pkcs11Token() = default;

std::recursive_mutex& Pkcs11Token::tokenMutex()
{
    std::call_once(m_tokenMutexOnce, [this] {
        static std::mutex registryMutex;
        static std::map<std::string, std::weak_ptr<std::recursive_mutex>> registry;
        const std::string key = m_modulePath + '\n' + pkcs11Serial();
        std::lock_guard lock(registryMutex);
        m_tokenMutex = registry[key].lock();
        if (!m_tokenMutex) {
            m_tokenMutex = std::make_shared<std::recursive_mutex>();
            registry[key] = m_tokenMutex;
        }
    });
    return *m_tokenMutex;
}

pkcs11::Helper& Pkcs11Token::pkcs11Helper()
{
    std::lock_guard lock(tokenMutex());
    if (!m_helper) {
        throw std::logic_error("no token session is open");
    }
    return *m_helper;
}

std::string Pkcs11Token::pkcs11Serial() const
{
    bs::Logger log("Pkcs11Token::pkcs11Serial");
    return id();
}

CK_TOKEN_INFO Pkcs11Token::tokenInfo()
{
    bs::Logger log("Pkcs11Token::tokenInfo");
    const std::shared_ptr<Pkcs11> module = Pkcs11::instance(m_modulePath, true);
    for (const CK_SLOT_ID slot : module->slotList(true)) {
        const CK_SLOT_INFO info = module->slotInfo(slot);
        const std::string description(std::begin(info.slotDescription), std::end(info.slotDescription));
        log.debug("slot: " + description);
        if (description.find(name()) != std::string::npos) {
            return module->tokenInfo(slot);
        }
    }
    throw DeviceNotFound(name());
}

void Pkcs11Token::connectReader()
{
    SCardProvider reader(name());
}

// ---- login ----

void Pkcs11Token::login(std::wstring_view pin)
{
    bs::Logger log("Pkcs11Token::login");
    if (hasPinCode() && pin.empty()) {
        throw PinLengthRange();
    }
    const Wiped<bytes> pinBytes(hasPinCode() ? makePasswordHash(pin) : bytes());
    const std::shared_ptr<Pkcs11> module = Pkcs11::instance(m_modulePath, true);
    const auto open = [&] {
        m_helper =
            std::make_shared<pkcs11::Helper>(module, pkcs11Serial(), pkcs11::SessionMode::User, *pinBytes);
    };
    try {
        try {
            open();
        } catch (const pkcs11::Exception& error) {
            if (error.code() != CKR_USER_ALREADY_LOGGED_IN &&
                error.code() != CKR_USER_ANOTHER_ALREADY_LOGGED_IN) {
                throw;
            }
            // A login left behind by a logout that failed: the sessions of
            // this process share it and none of our operations runs (token
            // sessions are serialised), so end it and log in anew.
            log.warning(error.name());
            endStaleLogin(module);
            open();
        }
    } catch (const pkcs11::Exception& error) {
        if (error.code() != CKR_PIN_INCORRECT) {
            throw;
        }
        if (isUserPinDefault()) {
            setIsUserPinDefault(false);
            throw PinRequired();
        }
        handlePinError(error.code());
    }
}

void Pkcs11Token::endStaleLogin(const std::shared_ptr<Pkcs11>& module)
{
    const pkcs11::Helper session(module, pkcs11Serial(), pkcs11::SessionMode::Public, {});
    module->get()->C_Logout(session.session());
}

void Pkcs11Token::logout()
{
    bs::Logger log("Pkcs11Token::logout");
    m_helper.reset();
}

void Pkcs11Token::handlePinError(CK_RV rv)
{
    bs::Logger log("Pkcs11Token::handlePinError");
    const int tries = pinTries();
    if (tries > 0) {
        bs::logAndThrow(log, bs::withVendorCode(InvalidPassword(tries), rv));
    }
    bs::logAndThrow(log, bs::withVendorCode(PinBlocked(), rv));
}

void Pkcs11Token::setPin(std::wstring_view pin)
{
    bs::Logger log("Pkcs11Token::setPin");
    deleteCachedPin();
    if (hasPinCode() && pin.empty()) {
        throw PinLengthRange();
    }
    {
        TokenSession session(this, pin);
    }
    setCachedPin(pin);
}

void Pkcs11Token::changePin(std::wstring_view newPin)
{
    bs::Logger log("Pkcs11Token::changePin");
    TokenSession session(this);
    const Wiped<std::wstring> oldPin(getCachedPin());
    const Wiped<bytes> oldBytes(makePasswordHash(*oldPin));
    const Wiped<bytes> newBytes(makePasswordHash(newPin));
    session.helper().changePin(*oldBytes, *newBytes);
    setCachedPin(newPin);
}

// ---- key numbers and passwords ----

std::vector<std::uint8_t> Pkcs11Token::keyFilesIds(CK_OBJECT_CLASS objectClass)
{
    const pkcs11::Helper& helper = pkcs11Helper();
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

std::uint8_t Pkcs11Token::findMinFreeId(CK_OBJECT_CLASS objectClass, std::uint8_t start)
{
    return findMinFreeId(keyFilesIds(objectClass), start);
}

bytes Pkcs11Token::getNextKeyId()
{
    // A public key left behind by an interrupted deletion keeps its number,
    // so a new pair never shares an id with a stray key object.
    std::vector<std::uint8_t> ids = keyFilesIds(CKO_PRIVATE_KEY);
    const std::vector<std::uint8_t> publicIds = keyFilesIds(CKO_PUBLIC_KEY);
    ids.insert(ids.end(), publicIds.begin(), publicIds.end());
    return {0x01, findMinFreeId(std::move(ids), 1)};
}

bytes Pkcs11Token::passwordHash(std::wstring_view password)
{
    const Wiped<bytes> passwordBytes(makePasswordHash(password));
    return icrypto::gost3411Digest(*passwordBytes);
}

void Pkcs11Token::changePassword(CK_OBJECT_HANDLE privateKey, std::wstring_view password)
{
    pkcs11Helper().changeKeyPassword(privateKey, passwordHash(password), KEY_PASSWORD_TRIES);
}

void Pkcs11Token::changePassword(const std::shared_ptr<KeyRecord>& key, std::wstring_view password)
{
    changePassword(privateKeyHandle(key), password);
}

void Pkcs11Token::verifyPassword(const std::shared_ptr<KeyRecord>& key, std::wstring_view password)
{
    bs::Logger log("Pkcs11Token::verifyPassword");
    pkcs11Helper().verifyKeyPassword(privateKeyHandle(key), passwordHash(password), true);
}

void Pkcs11Token::checkCachedPassword(const std::shared_ptr<KeyRecord>& key)
{
    const Wiped<std::wstring> password(getCachedPassword(key->alias()));
    verifyPassword(key, *password);
}

CK_OBJECT_HANDLE Pkcs11Token::publicKeyHandle(const std::shared_ptr<KeyRecord>& key)
{
    return pkcs11Helper().findKeyObject(pkcs11::key(key)->keyId(), pkcs11::PUBLIC_KEY_VALUE);
}

CK_OBJECT_HANDLE Pkcs11Token::privateKeyHandle(const std::shared_ptr<KeyRecord>& key)
{
    return pkcs11Helper().findKeyObject(pkcs11::key(key)->keyId(), pkcs11::PRIVATE_KEY_VALUE);
}

void Pkcs11Token::setKeyPassword(const std::shared_ptr<KeyRecord>& key, std::wstring_view password)
{
    bs::Logger log("Pkcs11Token::setKeyPassword");
    TokenSession session(this);
    deleteCachedPassword(key->alias());
    verifyPassword(key, password);
    setCachedPassword(key->alias(), password);
}

// ---- key records ----

void Pkcs11Token::writeKeyRecord(const std::shared_ptr<pkcs11::KeyRecord>& record)
{
    bs::Logger log("Pkcs11Token::writeKeyRecord");
    const bytes data = record->data(FORMAT_VERSION::V1);
    pkcs11Helper().updateKeyContainer(privateKeyHandle(record),
                                      [&](MetaInfoContainer& container) { container.setPayload(data); });
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
    const bytes keyId = getNextKeyId();
    auto record = std::make_shared<pkcs11::KeyRecord>(alias, systemId, signAlgorithm, algParamsOid, paramSets,
                                                      cryptoType(), keyId);
    const auto pair =
        session.helper().generateKeyPair(keyId, signAlgorithm, ObjectIdentifier(algParamsOid), derive);
    return completeNewKey(pair, record, password);
}

std::shared_ptr<KeyRecord> Pkcs11Token::completeNewKey(const pkcs11::Helper::KeyPair& pair,
                                                       const std::shared_ptr<pkcs11::KeyRecord>& record,
                                                       std::wstring_view password)
{
    bs::Logger log("Pkcs11Token::completeNewKey");
    try {
        changePassword(pair.second, password);
        writeKeyRecord(record);
        updateKeysInfoImpl();
    } catch (...) {
        // A pair without its record would be listed as a key of other
        // software: take it away again.
        for (const CK_OBJECT_HANDLE object : {pair.second, pair.first}) {
            try {
                pkcs11Helper().deleteObject(object);
            } catch (const std::exception& error) {
                log.error(error.what());
            }
        }
        try {
            updateKeysInfoImpl();
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
    checkCachedPassword(key);
    auto changed = std::make_shared<pkcs11::KeyRecord>(*pkcs11::key(key));
    changed->setExternalId(externalId);
    writeKeyRecord(changed);
    updateKeysInfoImpl();
}

void Pkcs11Token::changeKeyAlias(const std::shared_ptr<KeyRecord>& key, std::string_view newAlias)
{
    bs::Logger log("Pkcs11Token::changeKeyAlias");
    TokenSession session(this);
    const Wiped<std::wstring> password(getCachedPassword(key->alias()));
    verifyPassword(key, *password);
    auto changed = std::make_shared<pkcs11::KeyRecord>(*pkcs11::key(key));
    changed->setAlias(newAlias);
    writeKeyRecord(changed);
    // The token holds the new record: now the caches follow it.
    forgetKey(key);
    forgetKey(changed);
    setCachedPassword(changed->alias(), *password);
    updateKeysInfoImpl();
}

void Pkcs11Token::changeKeyPass(const std::shared_ptr<KeyRecord>& key, std::wstring_view newPassword)
{
    bs::Logger log("Pkcs11Token::changeKeyPass");
    TokenSession session(this);
    checkCachedPassword(key);
    changePassword(key, newPassword);
    setCachedPassword(key->alias(), newPassword);
}

void Pkcs11Token::deleteKey(const std::shared_ptr<KeyRecord>& key)
{
    bs::Logger log("Pkcs11Token::deleteKey");
    TokenSession session(this);
    const pkcs11::Helper& helper = session.helper();
    const auto token = pkcs11::key(key);
    requirePassword(*this, *key);
    // The private key goes first: while it stays, the key is listed whole.
    try {
        helper.deleteObject(privateKeyHandle(key));
    } catch (const KeyNotFound&) {
    }
    std::exception_ptr failure;
    removePart(log, failure, [&] { helper.deleteObject(publicKeyHandle(key)); });
    removePart(log, failure, [&] { helper.deleteCertificate(token->keyId(), CERT_USER); });
    removePart(log, failure, [&] { helper.deleteMetaInfo(pkcs11::keyLabel(key->id()), false); });
    forgetKey(key);
    updateKeysInfoImpl();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// ---- key listing ----

void Pkcs11Token::updateKeysInfo()
{
    bs::Logger log("Pkcs11Token::updateKeysInfo");
    TokenSession session(this);
    updateKeysInfoImpl();
}

void Pkcs11Token::updateKeysInfoImpl()
{
    bs::Logger log("Pkcs11Token::updateKeysInfoImpl");
    const pkcs11::Helper& helper = pkcs11Helper();
    Keys keys;
    for (const CK_OBJECT_HANDLE object :
         helper.findObjects({pkcs11::attribute(CKA_TOKEN, pkcs11::TRUE_VALUE),
                             pkcs11::attribute(CKA_CLASS, pkcs11::PRIVATE_KEY_VALUE)})) {
        ObjectFacts facts{object, {}, {}};
        try {
            facts.id = helper.readAttribute(object, CKA_ID);
            facts.label = text(helper.readAttribute(object, CKA_LABEL));
        } catch (const std::exception& error) {
            log.error(error.what());
            continue;
        }
        log.debug("object: " + std::to_string(object));
        log.debug("label: " + loggableLabel(facts.label));
        if (octets(facts.label) == pkcs11::FAKTURA_LABEL) {
            addFakturaKey(keys, facts);
        } else if (!addKalvaKey(keys, facts)) {
            addCommonKey(keys, facts);
        }
    }
    replaceKeysList(std::move(keys));
}

bool Pkcs11Token::addFakturaKey(Keys& keys, const ObjectFacts& object)
{
    bs::Logger log("Pkcs11Token::addFakturaKey");
    const pkcs11::Helper& helper = pkcs11Helper();
    try {
        const PublicKey tokenKey(
            helper.readAttribute(helper.findKeyObject(object.id, pkcs11::PUBLIC_KEY_VALUE), CKA_VALUE));
        for (const CK_OBJECT_HANDLE data :
             helper.findObjects({pkcs11::attribute(CKA_TOKEN, pkcs11::TRUE_VALUE),
                                 pkcs11::attribute(CKA_CLASS, pkcs11::DATA_VALUE),
                                 pkcs11::attribute(CKA_LABEL, pkcs11::FAKTURA_LABEL)})) {
            try {
                const bytes value = helper.readAttribute(data, CKA_VALUE);
                if (value.size() < 5) {
                    continue;
                }
                const X509 certificate(
                    object.id, der::encode(std::vector<bytes>{bytes(value.begin() + 4, value.end())}));
                log.debug("x509 = " + conv::bytes_to_hex(certificate.data()));
                if (tokenKey != certificate.publicKey(Endian::Big)) {
                    continue;
                }
                log.debug("meta from ftcgpk object");
                // The algorithm is the certificate's: a parameter set alone
                // does not tell a 2001 key from a 2012-256 one.
                auto record = std::make_shared<pkcs11::KeyRecord>(
                    certificate.subjectName(), 0, certificateKeyAlgorithm(certificate),
                    certificate.gost3410ParamsOid(), getGost3410AlgParams(), cryptoType(), object.id);
                record->setExternalId(conv::binary_to_int(certificate.serial()));
                record->setHasPassword(false);
                record->setIsChangeable(false);
                addKeyToList(keys, std::move(record), certificate);
                return true;
            } catch (const std::exception& error) {
                log.error(error.what());
            }
        }
    } catch (const std::exception& error) {
        log.error(error.what());
    }
    return false;
}

bool Pkcs11Token::addKalvaKey(Keys& keys, const ObjectFacts& object)
{
    bs::Logger log("Pkcs11Token::addKalvaKey");
    std::optional<MetaInfoContainer> container;
    try {
        container.emplace(std::string_view(object.label), false);
        log.debug("meta from key label");
    } catch (const AccessDenied&) {
        try {
            container = convertKeyMetaInfo(object);
        } catch (const std::exception& error) {
            log.debug(error.what());
            return false;
        }
    }
    addKeyToList(keys, object.id, container->payload(), container->hasPass(), true, X509());
    return true;
}

MetaInfoContainer Pkcs11Token::convertKeyMetaInfo(const ObjectFacts& object)
{
    bs::Logger log("Pkcs11Token::convertKeyMetaInfo");
    const pkcs11::Helper& helper = pkcs11Helper();
    const CK_OBJECT_HANDLE meta = helper.metaObjectId(pkcs11::keyLabel(getKeyIdByCertId(object.id)), false);
    MetaInfoContainer container(helper.readAttribute(meta, CKA_VALUE), false);
    try {
        helper.writeAttribute(object.handle, octets(container.base64()), CKA_LABEL);
    } catch (const std::exception& error) {
        log.error(error.what());
    }
    return container;
}

bool Pkcs11Token::addCommonKey(Keys& keys, const ObjectFacts& object)
{
    bs::Logger log("Pkcs11Token::addCommonKey");
    const pkcs11::Helper& helper = pkcs11Helper();
    try {
        std::string name = subjectText(octets(helper.readStringAttribute(object.handle, CKA_SUBJECT)));
        if (name.empty()) {
            name = bs::trim(object.label);
        }
        const std::string hex = conv::bytes_to_hex(object.id);
        const std::string alias = name.empty() ? hex : name + " (" + hex + ")";
        log.debug("keyAlias:" + alias);
        const std::string paramsOid =
            der::getObjectIdentifier(helper.readAttribute(object.handle, CKA_GOSTR3410_PARAMS)).text();
        auto record =
            std::make_shared<pkcs11::KeyRecord>(alias, 0, findSignAlgorithmIdByParamsId(paramsOid), paramsOid,
                                                getGost3410AlgParams(), cryptoType(), object.id);
        record->setHasPassword(false);
        record->setIsChangeable(false);
        addKeyToList(keys, std::move(record), X509());
        return true;
    } catch (const std::exception& error) {
        log.error(error.what());
        return false;
    }
}

void Pkcs11Token::addKeyToList(Keys& keys, const bytes& keyId, const bytes& recordBytes, bool hasPassword,
                               bool isChangeable, const X509& certificate)
{
    bs::Logger log("Pkcs11Token::addKeyToList");
    try {
        addKeyToList(keys,
                     std::make_shared<pkcs11::KeyRecord>(keyId, recordBytes, getGost3410AlgParams(),
                                                         cryptoType(), hasPassword, isChangeable),
                     certificate);
    } catch (const std::exception& error) {
        log.error(error.what());
    }
}

void Pkcs11Token::addKeyToList(Keys& keys, std::shared_ptr<pkcs11::KeyRecord> record, const X509& certificate)
{
    bs::Logger log("Pkcs11Token::addKeyToList");
    if (record->alias().empty()) {
        EmptyKeyAlias error;
        log.error(error.what());
        return;
    }
    if (!record->hasPassword()) {
        setCachedPassword(record->alias(), L"");
    }
    if (!certificate.empty()) {
        record->setX509(certificate);
    }
    const std::string alias = record->alias();
    keys[alias] = std::move(record);
}

// ---- public keys and signing ----

bytes Pkcs11Token::getPublicKey(const std::shared_ptr<KeyRecord>& key)
{
    bs::Logger log("Pkcs11Token::getPublicKey");
    TokenSession session(this);
    checkCachedPassword(key);
    return getPublicKeyImpl(key);
}

bytes Pkcs11Token::getPublicKeyImpl(const std::shared_ptr<KeyRecord>& key)
{
    // The token holds each coordinate little-endian, as a certificate does;
    // the store hands them on big-endian.
    return reverseHalves(pkcs11Helper().readAttribute(publicKeyHandle(key), CKA_VALUE));
}

RsaPublicKey Pkcs11Token::getRsaPublicKeyImpl(const std::shared_ptr<KeyRecord>& key)
{
    const pkcs11::Helper& helper = pkcs11Helper();
    const CK_OBJECT_HANDLE publicKey = publicKeyHandle(key);
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
    checkCachedPassword(key);
    std::vector<bytes> signatures;
    signatures.reserve(digests.size());
    for (const bytes& value : digests) {
        signatures.push_back(signHash(key, value, key->signAlgorithm()));
    }
    return signatures;
}

bytes Pkcs11Token::signHash(const std::shared_ptr<KeyRecord>& key, const bytes& digest,
                            const AlgorithmId& algorithm)
{
    bytes value = digest;
    if (algorithm.isGost()) {
        // Digests "as produced" come reversed; the token takes the hash order.
        std::reverse(value.begin(), value.end());
    }
    return pkcs11Helper().sign(privateKeyHandle(key), value, signAlgorithm(algorithm));
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
    const CK_OBJECT_HANDLE privateKey = privateKeyHandle(key);
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
        updateKeysInfoImpl();
    }
    for (const auto& [alias, key] : getKeys()) {
        const auto token = std::dynamic_pointer_cast<pkcs11::KeyRecord>(key);
        if (token && token->keyId() == certificateId) {
            return key;
        }
    }
    throw KeyNotFound();
}
