// Digest and verification engines that run on a token: DigestPkcs11 on any
// token's slot, DigestAngara and VerifySignAngara on the MS_KEY K Angara
// module.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "asn1/bytes.h"
#include "cryptoprovider/core/digest_engine.h"
#include "cryptoprovider/core/verify_sign_engine.h"
#include "cryptoprovider/pkcs11/helper.h"
#include "cryptoprovider/pkcs11/module.h"
#include "cryptoprovider/pkcs11/pkcs11_types.h"
#include "cryptoprovider/pkcs11/session.h"

namespace pkcs11
{

// A hash computed by a token in a session of its own (never shared with
// another engine, so two engines on two tokens of one make stay apart).
//
// Byte order of doFinal for GOST digests: Endian::Big gives the value as the
// token delivers it, which is the order libgcrypt and OpenSSL print and CMS
// carries (GOST R 34.11-94 CryptoPro of "abc" starts b285056d);
// Endian::Little gives those bytes reversed. SHA digests have one order and
// are returned as delivered for either value.
//
// Life cycle: init starts a hash (dropping any unfinished one), update feeds
// it, doFinal finishes it; after doFinal the engine is idle and can start
// again with init. update or doFinal while idle: DigestContextNotInitialized.
//
// Java threads sharing a session share its engine: each step runs under the
// engine's own lock, so steps of several threads interleave (a piece may go
// into another thread's hash) but never use a session another step closed;
// DigestEngine::digest gives each thread a whole digest. Engines on other
// sessions run at once, but each call into a module that is not thread safe
// holds the module's call lock (Pkcs11::serialiseCalls), and so does opening
// and closing the engine's sessions.
class TokenDigest : public DigestEngine
{
  public:
    // GOST R 34.11-94 with the test parameter set: FunctionNotImplemented
    // (tokens hash with the CryptoPro set only); an algorithm the token
    // library has no mechanism for: UnsupportedAlgorithm.
    void init(const AlgorithmId& digestAlgorithm, std::string_view paramsOid) override;
    void update(const bytes& data) override;
    bytes doFinal(Endian endian) override;

  protected:
    TokenDigest(std::shared_ptr<Pkcs11> module, CK_SLOT_ID slot);
    // The session the next hash runs in; `fresh` asks for a new one because
    // the previous one still holds an unfinished operation. Called under the
    // engine's lock, which also guards what the override keeps.
    virtual Session& sessionForHash(bool fresh) = 0;

    const std::shared_ptr<Pkcs11>& module() const noexcept { return m_module; }
    CK_SLOT_ID slot() const noexcept { return m_slot; }

  private:
    std::shared_ptr<Pkcs11> m_module;
    CK_SLOT_ID m_slot;
    std::mutex m_mutex;          // one step at a time; guards the members below and the sessions
    Session* m_active = nullptr; // the session of the hash callers may feed, or none
    bool m_busy = false;         // the last session used may still hold an unfinished hash
    bool m_gost = false;
};

// DigestPkcs11(modulePath, slot, mode): the module at `modulePath` (shared,
// loaded on first use: Pkcs11LoadError when it cannot be) hashing on `slot`
// in a read-write session opened by each init. SessionMode::Rescan reads the
// slot list before the first session; no mode logs in.
class DigestPkcs11 : public TokenDigest
{
  public:
    DigestPkcs11(std::string modulePath, CK_SLOT_ID slot, SessionMode mode);
    ~DigestPkcs11() override;
    DigestPkcs11(const DigestPkcs11&) = delete;
    DigestPkcs11& operator=(const DigestPkcs11&) = delete;

  protected:
    Session& sessionForHash(bool fresh) override;

  private:
    SessionMode m_mode;
    bool m_rescanned = false;
    std::optional<Session> m_session;
};

// The Angara module hashing on slot 0 in a read-only session opened at
// construction, so that a missing module or token fails here (callers fall
// back to another engine).
class DigestAngara : public TokenDigest
{
  public:
    DigestAngara();
    ~DigestAngara() override;
    DigestAngara(const DigestAngara&) = delete;
    DigestAngara& operator=(const DigestAngara&) = delete;

  protected:
    Session& sessionForHash(bool fresh) override;

  private:
    std::optional<Session> m_session;
};

// GOST and RSA verification by the Angara module (slot 0, slot list read
// first, no login), hashing with its digest engine (DigestAngara unless one
// is given).
class VerifySignAngara : public VerifySignEngine
{
  public:
    explicit VerifySignAngara(std::shared_ptr<DigestEngine> digestEngine = nullptr);

    // Hashes `data` (Endian::Big, the CryptoPro or, in kalvaMode, the test
    // parameter set) and has the token verify. `signature` and `publicKey`
    // come as the verification base hands them on (halves exchanged, each
    // key coordinate reversed from the certificate's form); the helper turns
    // them back into the token's order. False when the signature does not
    // verify.
    bool verifyGostSign(const bytes& data, const bytes& signature, const bytes& publicKey,
                        const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                        bool kalvaMode) override;
    // PKCS#1 v1.5 over the DigestInfo of `data` with `digestAlgorithm`.
    bool verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                       const AlgorithmId& digestAlgorithm) override;
};

// The DER DigestInfo a PKCS#1 v1.5 signature covers: the digest algorithm
// (with NULL parameters) and the digest.
bytes rsaDigestInfo(const AlgorithmId& digestAlgorithm, const bytes& digest);

// Has the helper's token verify a PKCS#1 v1.5 signature over `digest` (made
// with `digestAlgorithm`) with a session object of the public key. False
// when the signature does not verify.
bool verifyRsaDigest(const Helper& helper, const bytes& digest, const bytes& signature,
                     const RsaPublicKey& publicKey, const AlgorithmId& digestAlgorithm);

} // namespace pkcs11
