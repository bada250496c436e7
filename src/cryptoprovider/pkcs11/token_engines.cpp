#include "cryptoprovider/pkcs11/token_engines.h"

#include <algorithm>
#include <utility>

#include "asn1/der.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/module_paths.h"

namespace pkcs11
{

namespace
{

constexpr CK_SLOT_ID ANGARA_SLOT = 0;

CK_ULONG ulongOf(std::size_t size)
{
    return static_cast<CK_ULONG>(size);
}

} // namespace

// ---- TokenDigest ----

TokenDigest::TokenDigest(std::shared_ptr<Pkcs11> module, CK_SLOT_ID slot)
    : m_module(std::move(module)), m_slot(slot)
{
}

void TokenDigest::init(const AlgorithmId& digestAlgorithm, std::string_view paramsOid)
{
    bs::Logger log("DigestPkcs11::init");
    std::lock_guard lock(m_mutex);
    const auto calls = m_module->serialiseCalls();
    m_active = nullptr;
    if (digestAlgorithm == GOST_R_3411_1994 && paramsOid == gost3411::paramSet(true)) {
        bs::logAndThrow(log, FunctionNotImplemented());
    }
    CK_MECHANISM mechanism{pkcs11::digestAlgorithm(digestAlgorithm), nullptr, 0};
    // A session still holding an unfinished hash is replaced.
    Session& session = sessionForHash(m_busy);
    m_busy = false;
    ENSURE_SUCCESS(m_module->get()->C_DigestInit(session.handle(), &mechanism));
    m_busy = true;
    m_active = &session;
    m_gost = digestAlgorithm.isGost();
}

void TokenDigest::update(const bytes& data)
{
    bs::Logger log("DigestPkcs11::update");
    std::lock_guard lock(m_mutex);
    if (!m_active) {
        throw DigestContextNotInitialized();
    }
    const auto calls = m_module->serialiseCalls();
    log.debug("session.handle: " + std::to_string(m_active->handle()));
    // The module does not write through the pointer; the API lacks const.
    auto* input = const_cast<CK_BYTE*>(data.data());
    const CK_RV rv = m_module->get()->C_DigestUpdate(m_active->handle(), input, ulongOf(data.size()));
    if (rv != CKR_OK) {
        m_active = nullptr; // a failed update ends the hash
        ENSURE_SUCCESS(rv);
    }
}

bytes TokenDigest::doFinal(Endian endian)
{
    bs::Logger log("DigestPkcs11::doFinal");
    std::lock_guard lock(m_mutex);
    if (!m_active) {
        throw DigestContextNotInitialized();
    }
    const auto calls = m_module->serialiseCalls();
    const CK_SESSION_HANDLE session = std::exchange(m_active, nullptr)->handle();
    // A buffer for the longest digest (64 octets) spares the size query; a
    // module that wants more says so and keeps the operation.
    bytes digest(64, 0);
    CK_ULONG length = digest.size();
    CK_RV rv = m_module->get()->C_DigestFinal(session, digest.data(), &length);
    if (rv == CKR_BUFFER_TOO_SMALL) {
        pkcs11::checkOutputLength(length, pkcs11::MAX_OUTPUT_LENGTH, "C_DigestFinal");
        digest.assign(length, 0);
        rv = m_module->get()->C_DigestFinal(session, digest.data(), &length);
    }
    ENSURE_SUCCESS(rv);
    log.debug("digestLen=" + std::to_string(length));
    m_busy = false;
    pkcs11::checkOutputLength(length, digest.size(), "C_DigestFinal");
    digest.resize(length);
    if (m_gost && endian == Endian::Little) {
        std::reverse(digest.begin(), digest.end());
    }
    return digest;
}

// ---- DigestPkcs11 ----

DigestPkcs11::DigestPkcs11(std::string modulePath, CK_SLOT_ID slot, SessionMode mode)
    : TokenDigest(Pkcs11::instance(modulePath, true), slot), m_mode(mode)
{
}

DigestPkcs11::~DigestPkcs11()
{
    const auto calls = module()->serialiseCalls();
    m_session.reset();
}

Session& DigestPkcs11::sessionForHash(bool)
{
    if (m_mode == SessionMode::Rescan && !m_rescanned) {
        module()->slotList(false);
        m_rescanned = true;
    }
    // Every hash runs in a read-write session of its own.
    m_session.reset();
    m_session.emplace(module(), slot(), Session::READ_WRITE);
    return *m_session;
}

// ---- DigestAngara ----

DigestAngara::DigestAngara() : TokenDigest(Pkcs11::instance(pkcs11Mskey(), true), ANGARA_SLOT)
{
    const auto calls = module()->serialiseCalls();
    module()->slotList(false);
    m_session.emplace(module(), slot(), CKF_SERIAL_SESSION);
}

DigestAngara::~DigestAngara()
{
    const auto calls = module()->serialiseCalls();
    m_session.reset();
}

Session& DigestAngara::sessionForHash(bool fresh)
{
    if (fresh || !m_session) {
        m_session.reset();
        m_session.emplace(module(), slot(), CKF_SERIAL_SESSION);
    }
    return *m_session;
}

// ---- VerifySignAngara ----

VerifySignAngara::VerifySignAngara(std::shared_ptr<DigestEngine> digestEngine)
    : VerifySignEngine(digestEngine ? std::move(digestEngine) : std::make_shared<DigestAngara>())
{
}

bool VerifySignAngara::verifyGostSign(const bytes& data, const bytes& signature, const bytes& publicKey,
                                      const AlgorithmId& signAlgorithm, std::string_view paramsOid,
                                      bool kalvaMode)
{
    bs::Logger log("VerifySignAngara::verifyGostSign");
    const bytes hash =
        digest(data, getDigestAlgorithm(signAlgorithm), Endian::Big, gost3411::paramSet(kalvaMode));
    Helper helper(Pkcs11::instance(pkcs11Mskey(), true), ANGARA_SLOT, SessionMode::Rescan, {});
    return helper.verifySign(hash, signature, publicKey, ObjectIdentifier(paramsOid), {});
}

bool VerifySignAngara::verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                                     const AlgorithmId& digestAlgorithm)
{
    bs::Logger log("VerifySignAngara::verifyRsaSign");
    const bytes hash = digest(data, digestAlgorithm, Endian::Big, gost3411::paramSet(false));
    Helper helper(Pkcs11::instance(pkcs11Mskey(), true), ANGARA_SLOT, SessionMode::Rescan, {});
    return verifyRsaDigest(helper, hash, signature, publicKey, digestAlgorithm);
}

// ---- RSA ----

bytes rsaDigestInfo(const AlgorithmId& digestAlgorithm, const bytes& digest)
{
    return der::encode(std::vector<bytes>{digestAlgorithm.derEncoding(true), der::encode(digest)});
}

bool verifyRsaDigest(const Helper& helper, const bytes& digest, const bytes& signature,
                     const RsaPublicKey& publicKey, const AlgorithmId& digestAlgorithm)
{
    const bytes keyType = ulongValue(CKK_RSA);
    const bytes exponent = publicKey.exponentData();
    const std::vector<CK_ATTRIBUTE> keyTemplate{
        attribute(CKA_CLASS, PUBLIC_KEY_VALUE),    attribute(CKA_KEY_TYPE, keyType),
        attribute(CKA_TOKEN, FALSE_VALUE),         attribute(CKA_VERIFY, TRUE_VALUE),
        attribute(CKA_MODULUS, publicKey.modulus), attribute(CKA_PUBLIC_EXPONENT, exponent),
    };
    const CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    return helper.verifyRsaSign(rsaDigestInfo(digestAlgorithm, digest), signature, keyTemplate, mechanism);
}

} // namespace pkcs11
