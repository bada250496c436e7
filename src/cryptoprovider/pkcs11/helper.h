// One open PKCS#11 session on one slot, optionally logged in, with the
// object-level operations of the token key store and the token models: key
// pairs and their templates, key lookups, the key metadata kept in a private
// key's label, metadata data objects, signing and verification with session
// objects, and certificate objects.
//
// A helper lives for one logical operation and is used by one thread at a
// time (a PKCS#11 session is); helpers on different slots of one module may
// run on different threads at once.
//
// The certificate operations are defined in helper_certificates.cpp, the
// rest in helper.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "asn1/bytes.h"
#include "asn1/oid.h"
#include "cryptoprovider/core/entities.h"
#include "cryptoprovider/pkcs11/module.h"
#include "cryptoprovider/pkcs11/session.h"
#include "x509/algorithms.h"
#include "x509/public_key.h"
#include "x509/x509.h"

class MetaInfoContainer;

namespace pkcs11
{

enum class SessionMode : std::uint32_t {
    Admin = 0,  // log in as security officer when a PIN is given
    User = 1,   // log in as user when a PIN is given
    Public = 2, // no login
    Rescan = 3, // no login; the module's slot list is read once first
};

// A CK_ULONG as an attribute value (8 bytes, little-endian).
bytes ulongValue(CK_ULONG value);

// Attribute values.
inline const bytes TRUE_VALUE{0x01};
inline const bytes FALSE_VALUE{0x00};
inline const bytes DATA_VALUE = ulongValue(CKO_DATA);
inline const bytes CERTIFICATE_VALUE = ulongValue(CKO_CERTIFICATE);
inline const bytes PUBLIC_KEY_VALUE = ulongValue(CKO_PUBLIC_KEY);
inline const bytes PRIVATE_KEY_VALUE = ulongValue(CKO_PRIVATE_KEY);
inline const bytes SECRET_KEY_VALUE = ulongValue(CKO_SECRET_KEY);
inline const bytes KALVA2_VALUE{'K', 'a', 'l', 'v', 'a', '2'};  // application of metadata objects
inline const bytes FAKTURA_LABEL{'f', 't', 'c', 'g', 'p', 'k'}; // label of Faktura key objects

// An attribute pointing at `value`, which must outlive every use of it.
CK_ATTRIBUTE attribute(CK_ATTRIBUTE_TYPE type, const bytes& value);

// The key id in lower-case hex without leading zeros ("a", "ff"); "" for 0.
std::string keyLabel(std::uint8_t id);

// Digest mechanism of a digest algorithm: GOST R 34.11-94 0x1210,
// GOST R 34.11-2012 256/512 0xD4321012/0xD4321013, SHA-1/224/256/384/512.
// UnsupportedAlgorithm for anything else.
CK_MECHANISM_TYPE digestAlgorithm(const AlgorithmId& alg);

// Key-pair generation mechanism of a key or signature algorithm:
// CKM_GOSTR3410_KEY_PAIR_GEN for GOST R 34.10-2001 and 2012-256,
// 0xD4321005 for 2012-512, CKM_RSA_PKCS_KEY_PAIR_GEN for SHA/RSA ones.
// UnsupportedAlgorithm for anything else.
CK_MECHANISM_TYPE keyPairGenAlgorithm(const AlgorithmId& alg);

class Helper
{
  public:
    using KeyPair = std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE>; // (public, private)

    // Opens a read-write session on `slot` and, when `pin` is not empty,
    // logs in as SO (Admin) or user (User); Public and Rescan never log in,
    // Rescan reads the slot list first. On a failed login the session is
    // closed and the error propagates (PinLengthRange, PinBlocked,
    // pkcs11::Exception, ...). The PIN is not kept.
    Helper(const std::shared_ptr<Pkcs11>& module, CK_SLOT_ID slot, SessionMode mode, const bytes& pin);
    // The same on the slot of the token with `serial` (Pkcs11::findtSlot,
    // DeviceNotFound).
    Helper(const std::shared_ptr<Pkcs11>& module, std::string_view serial, SessionMode mode,
           const bytes& pin);
    // Logs out (Admin, User) and closes the session, errors ignored.
    ~Helper();
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    const std::shared_ptr<Pkcs11>& get() const noexcept { return m_session.module(); }
    CK_SLOT_ID slot() const noexcept { return m_session.slot(); }
    CK_SESSION_HANDLE session() const noexcept { return m_session.handle(); }
    SessionMode mode() const noexcept { return m_mode; }

    // C_SetPIN of the logged-in user (the SO's PIN in an Admin session).
    void changePin(const bytes& oldPin, const bytes& newPin) const;

    // Token key pair of a GOST algorithm with parameter set `paramSet`
    // (CKA_DERIVE on the private key when `derive`). UnsupportedAlgorithm for
    // a non-GOST algorithm, CardIsFull when the token has no room.
    KeyPair generateKeyPair(const bytes& id, const AlgorithmId& alg, const ObjectIdentifier& paramSet,
                            bool derive) const;
    KeyPair generateRSAKeyPair(const bytes& id, const AlgorithmId& alg, CK_ULONG bits) const;

    // The first private key of the parameter set (with CKA_DERIVE when
    // `derive`) and the public key of its id. KeyNotFound when none.
    KeyPair findKeyByParams(const AlgorithmId& alg, const ObjectIdentifier& paramSet, bool derive) const;
    // The token key object of `id` and class (PUBLIC_KEY_VALUE, ...),
    // cached for this session. KeyNotFound when none.
    CK_OBJECT_HANDLE findKeyObject(const bytes& id, const bytes& classValue) const;
    // The private key of the certificate's id, else of its public key.
    CK_OBJECT_HANDLE findPrivateKey(const X509& certificate) const;
    // The private key sharing the id of the token public key whose CKA_VALUE
    // (GOST: X||Y as the token and the certificate hold it) or modulus and
    // exponent (RSA) equal `key`. KeyNotFound when none.
    CK_OBJECT_HANDLE findPrivateKey(const PublicKey& key) const;
    // The private key of the first token certificate with this issuer (DER
    // of the Name) and serial (content of the INTEGER). KeyNotFound.
    CK_OBJECT_HANDLE findPrivateKey(const bytes& issuer, const bytes& serial) const;

    bytes readAttribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const;
    // "" when the attribute cannot be read.
    std::string readStringAttribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const;
    void writeAttribute(CK_OBJECT_HANDLE object, const bytes& value, CK_ATTRIBUTE_TYPE type) const;

    // Metadata data objects named `label` (with the Kalva2 application
    // attributes when `kalva`). metaObjectId and deleteMetaInfo: KeyNotFound
    // when there is none.
    CK_OBJECT_HANDLE createMetaInfo(std::string_view label, bool kalva) const;
    CK_OBJECT_HANDLE metaObjectId(std::string_view label, bool kalva) const;
    void deleteMetaInfo(std::string_view label, bool kalva) const;

    // Checks a key password hash against the metadata container in the
    // private key's CKA_LABEL. A key whose label holds no container, or a
    // container without password, passes; a label that cannot be read fails
    // with the read's error. KeyBlocked when no tries are left; a wrong hash
    // counts a failure on the token when `countFailure` and throws
    // InvalidPassword(tries left); the right hash resets the failures.
    void verifyKeyPassword(CK_OBJECT_HANDLE privateKey, const bytes& passwordHash, bool countFailure) const;
    // Reads the container in the private key's CKA_LABEL (a fresh one when
    // the label holds none), lets `change` alter it and writes it back in
    // one attribute write. A label that cannot be read fails before
    // anything is written: a fresh container would drop the key's record.
    void updateKeyContainer(CK_OBJECT_HANDLE privateKey,
                            const std::function<void(MetaInfoContainer&)>& change) const;
    // Stores a new password hash and try limit in the key's container
    // (updateKeyContainer), failures reset; the payload stays.
    void changeKeyPassword(CK_OBJECT_HANDLE privateKey, const bytes& passwordHash,
                           std::uint8_t maxTries) const;

    // Signs `data` (a digest for GOST, a DigestInfo for CKM_RSA_PKCS). GOST
    // signatures come back r||s (the token's s||r with the halves
    // exchanged); RSA ones as the token gives them.
    bytes sign(CK_OBJECT_HANDLE privateKey, const bytes& data, CK_MECHANISM_TYPE mechanism) const;
    // Verifies an r||s GOST signature of `digest` on the token with a
    // session object made from `publicKey`, given with each coordinate
    // big-endian (X||Y; each half is reversed into the token's order) and
    // the parameter set; `extra` attributes are appended to the object's
    // template. False for an invalid signature; the object is destroyed in
    // every case.
    bool verifySign(const bytes& digest, const bytes& signature, const bytes& publicKey,
                    const ObjectIdentifier& paramSet, const std::vector<CK_ATTRIBUTE>& extra = {}) const;
    // Verifies with a session object made from `keyTemplate`, destroyed in
    // every case.
    bool verifyRsaSign(const bytes& data, const bytes& signature,
                       const std::vector<CK_ATTRIBUTE>& keyTemplate, const CK_MECHANISM& mechanism) const;

    // Token certificates of a category; unreadable ones are skipped.
    std::vector<X509> certificateList(CertType type) const;
    // Replaces the certificates of `id` (token or session objects after
    // `onToken`) with this one; retried once without CKA_CERTIFICATE_CATEGORY
    // after any failure but one of the device (or CKR_GENERAL_ERROR), the
    // session, the token's presence, the login or memory, which is reported. Returns the new
    // object.
    CK_OBJECT_HANDLE importCertificate(const bytes& id, std::string_view label, const bytes& der,
                                       CertType type, bool onToken) const;
    // Each certificate (DER or PEM) as a session object with id = its serial
    // and label = its subject; the handles in order.
    std::vector<CK_OBJECT_HANDLE> importCertificateChain(const std::vector<bytes>& certificates,
                                                         CertType type) const;
    // CertificateNotFound when there is none.
    CK_OBJECT_HANDLE findCertificate(const bytes& id, CertType type) const;
    void deleteCertificate(const bytes& id, CertType type) const;
    // DER of the first token certificate whose public key (as the token
    // holds it, see findPrivateKey) equals `publicKey`. CertificateNotFound.
    bytes findCertificateByPublicKey(const bytes& publicKey) const;

    // Pkcs11 calls on this session.
    CK_OBJECT_HANDLE createObject(const std::vector<CK_ATTRIBUTE>& pattern) const;
    std::vector<CK_OBJECT_HANDLE> findObjects(const std::vector<CK_ATTRIBUTE>& pattern) const;
    void deleteObject(CK_OBJECT_HANDLE object) const;

  private:
    const Pkcs11& module() const { return *m_session.module(); }

    SessionMode m_mode;
    Session m_session;
    std::optional<Login> m_login; // after the session: logged out before it closes
    mutable std::mutex m_cacheMutex;
    mutable std::map<std::pair<bytes, bytes>, CK_OBJECT_HANDLE> m_keyObjects; // (id, class) -> handle
};

} // namespace pkcs11
