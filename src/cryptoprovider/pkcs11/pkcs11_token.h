// The key store of a PKCS#11 token: keys with their records and passwords on
// the token, a login for each operation with the cached PIN, signing,
// certificates. What differs between token makes (module, PIN tries,
// password bytes, parameter sets, mechanisms, RSA) comes from the models.
// An operation that needs the login opens a TokenSession and hands it to
// the steps it calls: the helper is reached only through a session.
//
// The definitions are kept by concern: pkcs11_token.cpp (construction, the
// token session, login and PINs), token_key_list.cpp (key listing and the
// record formats on the token), token_key_changes.cpp (key numbers,
// passwords, new keys, key changes and deletion), token_signing.cpp (public
// keys and signing), token_certificates.cpp (certificates).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "asn1/bytes.h"
#include "cryptoprovider/core/hardware_device.h"
#include "cryptoprovider/pkcs11/helper.h"
#include "cryptoprovider/pkcs11/key_formats.h"
#include "cryptoprovider/pkcs11/pkcs11_types.h"

class Pkcs11Token : public HardwareDevice
{
  public:
    // Logged in on the token for its lifetime: with the given PIN, or with
    // the cached one (PinRequired when none). PinLengthRange for an empty PIN
    // on a store that has one. Token operations of every store on the same
    // token (module and serial) are serialised by these scopes, so two
    // threads never share a login or a helper; a scope opened inside another
    // on the same thread shares the outer login. The destructor logs out.
    // The operations below that take a session work within it; it must be
    // a session of the same store.
    class TokenSession
    {
      public:
        explicit TokenSession(Pkcs11Token* token);
        TokenSession(Pkcs11Token* token, std::wstring_view pin);
        ~TokenSession();
        TokenSession(const TokenSession&) = delete;
        TokenSession& operator=(const TokenSession&) = delete;

        // The logged-in session of this scope; valid while the scope lives.
        pkcs11::Helper& helper() const noexcept { return *m_helper; }

      private:
        void open(std::wstring_view pin);

        Pkcs11Token* m_token;
        std::unique_lock<std::recursive_mutex> m_lock;
        bool m_outer = false;
        pkcs11::Helper* m_helper = nullptr;
    };

    // Loads the module at once, so a missing library fails here
    // (Pkcs11LoadError).
    Pkcs11Token(std::string_view name, std::string_view cryptoType, std::string_view chipType,
                PACKAGE package, std::string modulePath);
    ~Pkcs11Token() override;

    // --- Model hooks ---
    // The serial by which the token's slot is found; the store id here.
    virtual std::string pkcs11Serial() const;
    // Checks the key's password against the hash on the token, counting a
    // wrong one: InvalidPassword with the tries left, KeyBlocked when none.
    virtual void verifyPassword(const TokenSession& session, const std::shared_ptr<KeyRecord>& key,
                                std::wstring_view password);
    // KeyNotFound when the key's objects are gone.
    virtual CK_OBJECT_HANDLE publicKeyHandle(const TokenSession& session,
                                             const std::shared_ptr<KeyRecord>& key);
    virtual CK_OBJECT_HANDLE privateKeyHandle(const TokenSession& session,
                                              const std::shared_ptr<KeyRecord>& key);
    // User PIN tries left (PinBlocked when the model finds none).
    virtual int pinTries() = 0;
    // The bytes a PIN or password becomes for the token and for hashing.
    virtual bytes makePasswordHash(std::wstring_view text) = 0;
    // Parameter-set index stored in records to OID.
    virtual std::map<std::uint8_t, std::string_view> getGost3410AlgParams() = 0;
    // The signing mechanism for an algorithm; UnsupportedAlgorithm for what
    // the make cannot do.
    virtual CK_MECHANISM_TYPE signAlgorithm(const AlgorithmId& algorithm) = 0;

    // --- KeyStore ---
    // Caches the PIN after a successful login (a wrong one reports
    // InvalidPassword with the tries left or PinBlocked).
    void setPin(std::wstring_view pin) override;
    void changePin(std::wstring_view newPin) override;
    // Drops the cached password, checks the new one, caches it.
    void setKeyPassword(const std::shared_ptr<KeyRecord>& key, std::wstring_view password) override;
    // A GOST key pair with CKA_ID 01 nn (nn the lowest number no key uses),
    // its password (16 tries, also for an empty password) and its record.
    // A failure after the pair was made removes the pair again.
    std::shared_ptr<KeyRecord> createNewKey(std::string_view alias, std::uint16_t systemId,
                                            const AlgorithmId& signAlgorithm, std::string_view algParamsOid,
                                            std::string_view text, std::wstring_view password) override;
    // The key changes need the key's password cached and right. Each writes
    // the token first and changes the list and caches only when that
    // succeeded, so a failure leaves the key with its old record.
    void setKeyExternalId(const std::shared_ptr<KeyRecord>& key, std::uint64_t externalId) override;
    // Moves the cached password to the new alias.
    void changeKeyAlias(const std::shared_ptr<KeyRecord>& key, std::string_view newAlias) override;
    void changeKeyPass(const std::shared_ptr<KeyRecord>& key, std::wstring_view newPassword) override;
    // Removes the private key first (its failure leaves the key whole), then
    // the public key, the user certificate and the older metadata object;
    // parts that are not there are skipped, a failure to remove one that is
    // there is reported after the list is read again.
    void deleteKey(const std::shared_ptr<KeyRecord>& key) override;
    // Stores the certificate under the key's CKA_ID; returns that id.
    bytes importUserCertificate(const std::shared_ptr<KeyRecord>& key, const bytes& der) override;
    void deleteUserCertificate(const std::shared_ptr<KeyRecord>& key) override;
    // Stores the certificate under its serial number; returns it.
    bytes importCertificate(const bytes& der, CertType type) override;
    void deleteCertificate(const bytes& id, CertType type) override;
    // The listed key whose CKA_ID equals the id; KeyNotFound when none.
    std::shared_ptr<KeyRecord> findKeyByCertificate(const bytes& certificateId, bool useList) override;
    X509 findCertificateByKey(const std::shared_ptr<KeyRecord>& key) override;
    // The key's public value X then Y, each coordinate big-endian (the
    // token's CKA_VALUE holds them little-endian, as a certificate does;
    // KeyStore::publicKey turns them back for certificates and requests).
    bytes getPublicKey(const std::shared_ptr<KeyRecord>& key) override;
    std::vector<X509> certificateList(CertType type) override;
    void updateKeysInfo() override;
    // One signature per item, over its digest, s then r as the token gives
    // them after the halves exchange of the helper.
    std::vector<bytes> sign(const std::shared_ptr<KeyRecord>& key, const std::vector<bytes>& data,
                            bool kalvaMode) override;

    // The token information of the slot whose description holds the reader
    // name; DeviceNotFound when no slot does.
    CK_TOKEN_INFO tokenInfo();
    const std::string& modulePath() const noexcept { return m_modulePath; }

  protected:
    // Opens and closes the reader through PC/SC: a device that was pulled
    // out fails with the reader errors.
    void connectReader() override;

    // InvalidPassword with pinTries() when tries are left, else PinBlocked.
    [[noreturn]] void handlePinError(CK_RV rv);

    // 01 nn with nn the lowest number from 1 that no private or public key
    // object of the token uses.
    bytes getNextKeyId(const TokenSession& session);
    // The lowest value >= start missing from `ids`.
    static std::uint8_t findMinFreeId(std::vector<std::uint8_t> ids, std::uint8_t start);
    std::uint8_t findMinFreeId(const TokenSession& session, CK_OBJECT_CLASS objectClass, std::uint8_t start);
    // Key numbers (getKeyIdByCertId of CKA_ID) of the token objects of a class.
    std::vector<std::uint8_t> keyFilesIds(const TokenSession& session, CK_OBJECT_CLASS objectClass);
    // Finishes a new key pair: password hash, record, fresh key list, cached
    // password; returns the listed key. Any failure removes the pair again
    // before it propagates, so no key without record is left behind.
    std::shared_ptr<KeyRecord> completeNewKey(const TokenSession& session,
                                              const pkcs11::Helper::KeyPair& pair,
                                              const std::shared_ptr<pkcs11::KeyRecord>& record,
                                              std::wstring_view password);
    // Replaces the payload of the container in the private key's label with
    // the version-1 record; the password data stays.
    void writeKeyRecord(const TokenSession& session, const std::shared_ptr<pkcs11::KeyRecord>& record);
    // Reads the key list from the token and installs it in one step.
    void updateKeysInfoImpl(const TokenSession& session);
    // The password hash with 16 tries, failures reset, for a private key.
    void changePassword(const TokenSession& session, CK_OBJECT_HANDLE privateKey, std::wstring_view password);
    void changePassword(const TokenSession& session, const std::shared_ptr<KeyRecord>& key,
                        std::wstring_view password);
    // GOST R 34.11-94 of makePasswordHash(password).
    bytes passwordHash(std::wstring_view password);
    // The cached password must be there and right.
    void checkCachedPassword(const TokenSession& session, const std::shared_ptr<KeyRecord>& key);

    bytes signHash(const TokenSession& session, const std::shared_ptr<KeyRecord>& key, const bytes& digest,
                   const AlgorithmId& algorithm);
    // The signatures of cmsSign, with one login for the whole group: every
    // digest is taken first (Endian::Big), then each is signed within one
    // TokenSession with the cached password present (RSA keys over a
    // DigestInfo).
    std::vector<bytes> signAttributes(const std::shared_ptr<KeyRecord>& key,
                                      const std::vector<bytes>& encodings,
                                      const std::vector<AlgorithmId>& digestAlgorithms,
                                      bool kalvaMode) override;

    bytes getPublicKeyImpl(const TokenSession& session, const std::shared_ptr<KeyRecord>& key);
    RsaPublicKey getRsaPublicKeyImpl(const TokenSession& session, const std::shared_ptr<KeyRecord>& key);

  private:
    struct ObjectFacts;

    // Opens the helper of an outer TokenSession: PinLengthRange for an
    // empty PIN where one is needed; a wrong PIN is PinRequired when the
    // default PIN was tried (the flag is cleared), else handlePinError().
    void login(std::wstring_view pin);
    // Drops the helper of the outer TokenSession (it logs out).
    void logout();
    // Logs the process out of the token through a session without login.
    void endStaleLogin(const std::shared_ptr<Pkcs11>& module);

    // The keys kinds a token holds; each returns false when the object is
    // not of its kind.
    bool addFakturaKey(const TokenSession& session, Keys& keys, const ObjectFacts& object);
    bool addKalvaKey(const TokenSession& session, Keys& keys, const ObjectFacts& object);
    bool addCommonKey(const TokenSession& session, Keys& keys, const ObjectFacts& object);
    // A container from the older data object, copied into the private key's
    // label; throws when there is none.
    MetaInfoContainer convertKeyMetaInfo(const TokenSession& session, const ObjectFacts& object);
    // Builds the record and adds it to `keys`; a key without password gets
    // an empty cached password. Errors are logged and the key left out.
    void addKeyToList(Keys& keys, const bytes& keyId, const bytes& recordBytes, bool hasPassword,
                      bool isChangeable, const X509& certificate);
    void addKeyToList(Keys& keys, std::shared_ptr<pkcs11::KeyRecord> record, const X509& certificate);

    // The process-wide lock of this token (module and serial).
    std::recursive_mutex& tokenMutex();

    std::string m_modulePath;
    // The helper of the outer token session; guarded by tokenMutex() and
    // reached only through TokenSession.
    std::shared_ptr<pkcs11::Helper> m_helper;
    std::once_flag m_tokenMutexOnce;
    std::shared_ptr<std::recursive_mutex> m_tokenMutex;
};
