// Digests in one or more parts, and the token's random numbers.
#include <gcrypt.h>

#include <cstring>

#include "calls.h"
#include "make_traits.h"

using namespace labtoken;

LAB_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    const std::string detail =
        sessionDetail(hSession) + " mechanism=" + (pMechanism ? hexNumber(pMechanism->mechanism) : "null");
    return call("C_DigestInit", detail, [&]() -> CK_RV {
        Session& s = session(hSession);
        if (s.digest.active)
            fail(CKR_OPERATION_ACTIVE);
        const Bytes parameter = mechanismParameter(pMechanism);
        liveDevice(s);
        const CK_MECHANISM_TYPE mech = pMechanism->mechanism;
        int md = supports(mech) ? digestAlgorithm(mech, parameter) : 0;
        if (md == 0)
            fail(CKR_MECHANISM_INVALID);
        if (md < 0 || (mech != CKM_GOSTR3411 && !parameter.empty()))
            fail(CKR_MECHANISM_PARAM_INVALID);
        s.digest = Operation{true, mech, 0, md, RunningDigest(md)};
        return CKR_OK;
    });
}

namespace
{
// Ends the session's digest with `last` (a final part, may be empty) once
// the caller's buffer can take the value; a size query or a short buffer
// leaves the operation as it was, `last` not yet taken.
CK_RV finishDigest(Session& s, const CK_BYTE* last, CK_ULONG lastLength, CK_BYTE_PTR pDigest,
                   CK_ULONG_PTR pulDigestLen)
{
    if (!s.digest.active)
        fail(CKR_OPERATION_NOT_INITIALIZED);
    if (s.digest.hashing)
        fail(CKR_OPERATION_ACTIVE); // another thread's part is being hashed
    if (!pulDigestLen)
        fail(CKR_ARGUMENTS_BAD);
    const std::size_t length = s.digest.running.length();
    if (!pDigest) {
        *pulDigestLen = length;
        return CKR_OK;
    }
    if (*pulDigestLen < length) {
        *pulDigestLen = length;
        return CKR_BUFFER_TOO_SMALL;
    }
    s.digest.running.write(last, lastLength);
    Bytes out = s.digest.running.finish();
    std::memcpy(pDigest, out.data(), out.size());
    *pulDigestLen = out.size();
    s.digest = Operation{};
    return CKR_OK;
}
} // namespace

LAB_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                          CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    const std::string detail = sessionDetail(hSession) + " length=" + std::to_string(ulDataLen);
    return operationStep("C_Digest", hSession, &Session::digest, detail, [&]() -> CK_RV {
        Session& s = session(hSession);
        if (ulDataLen && !pData)
            fail(CKR_ARGUMENTS_BAD);
        return finishDigest(s, pData, ulDataLen, pDigest, pulDigestLen);
    });
}

LAB_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    const std::string detail = sessionDetail(hSession) + " length=" + std::to_string(ulPartLen);
    return operationStep("C_DigestUpdate", hSession, &Session::digest, detail, [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!s.digest.active)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        // Another thread's part of this session is being hashed: one
        // session is used by one thread at a time.
        if (s.digest.hashing)
            fail(CKR_OPERATION_ACTIVE);
        if (ulPartLen && !pPart)
            fail(CKR_ARGUMENTS_BAD);
        // The part is hashed outside the module lock, so that a large
        // document on one token holds up no call for another.
        RunningDigest running = std::move(s.digest.running);
        s.digest.hashing = true;
        outsideModuleLock([&] { running.write(pPart, ulPartLen); });
        // The session may have been closed, or its operation ended, meanwhile.
        auto it = g.sessions.find(hSession);
        if (it == g.sessions.end())
            fail(CKR_SESSION_HANDLE_INVALID);
        Operation& digest = it->second.digest;
        if (!digest.active || !digest.hashing)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        digest.running = std::move(running);
        digest.hashing = false;
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    return operationStep("C_DigestFinal", hSession, &Session::digest, sessionDetail(hSession),
                         [&]() -> CK_RV {
                             Session& s = session(hSession);
                             return finishDigest(s, nullptr, 0, pDigest, pulDigestLen);
                         });
}

LAB_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen)
{
    return call("C_SeedRandom", sessionDetail(hSession), [&]() -> CK_RV {
        session(hSession);
        if (ulSeedLen && !pSeed)
            fail(CKR_ARGUMENTS_BAD);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen)
{
    return call("C_GenerateRandom", sessionDetail(hSession), [&]() -> CK_RV {
        session(hSession);
        if (ulRandomLen && !RandomData)
            fail(CKR_ARGUMENTS_BAD);
        if (ulRandomLen)
            gcry_randomize(RandomData, ulRandomLen, GCRY_STRONG_RANDOM);
        return CKR_OK;
    });
}
