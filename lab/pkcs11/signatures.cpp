// Signing and verification in one part.
#include <cstring>

#include "calls.h"
#include "make_traits.h"

using namespace labtoken;

namespace
{
// Two-call size pattern of output buffers: returns true when the result was
// written (the operation is then finished).
bool deliver(const Bytes& value, CK_BYTE_PTR out, CK_ULONG_PTR outLen)
{
    if (!outLen)
        fail(CKR_ARGUMENTS_BAD);
    if (!out) {
        *outLen = value.size();
        return false;
    }
    if (*outLen < value.size()) {
        *outLen = value.size();
        fail(CKR_BUFFER_TOO_SMALL);
    }
    std::memcpy(out, value.data(), value.size());
    *outLen = value.size();
    return true;
}

CK_KEY_TYPE keyTypeFor(CK_MECHANISM_TYPE m)
{
    switch (m) {
    case CKM_GOSTR3410:
        return CKK_GOSTR3410;
    case CKM_GOSTR3410_512:
        return CKK_GOSTR3410_512;
    case CKM_RSA_PKCS:
        return CKK_RSA;
    default:
        fail(CKR_MECHANISM_INVALID);
    }
}

std::string keyOperationDetail(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return sessionDetail(hSession) +
           " mechanism=" + (pMechanism ? hexNumber(pMechanism->mechanism) : "null") +
           " key=" + std::to_string(hKey);
}

// The mechanism of a sign or verify operation: a signature one without parameters.
CK_MECHANISM_TYPE signatureMechanism(CK_MECHANISM_PTR pMechanism)
{
    if (!mechanismParameter(pMechanism).empty())
        fail(CKR_MECHANISM_PARAM_INVALID);
    const CK_MECHANISM_TYPE mech = pMechanism->mechanism;
    if (!supports(mech) || (mech != CKM_GOSTR3410 && mech != CKM_GOSTR3410_512 && mech != CKM_RSA_PKCS))
        fail(CKR_MECHANISM_INVALID);
    return mech;
}

// The key a sign or verify operation starts with: of class `keyClass` and of
// the type `mech` needs, allowed the use `usage`.
FoundObject signatureKey(Session& s, CK_OBJECT_HANDLE hKey, CK_MECHANISM_TYPE mech, CK_OBJECT_CLASS keyClass,
                         CK_ATTRIBUTE_TYPE usage)
{
    FoundObject key;
    try {
        key = findObject(s, hKey);
    } catch (const Fail& f) {
        fail(f.rv == CKR_OBJECT_HANDLE_INVALID ? CKR_KEY_HANDLE_INVALID : f.rv);
    }
    if (ulongAttr(key.attributes, CKA_CLASS) != keyClass)
        fail(CKR_KEY_TYPE_INCONSISTENT);
    if (ulongAttr(key.attributes, CKA_KEY_TYPE) != keyTypeFor(mech))
        fail(CKR_KEY_TYPE_INCONSISTENT);
    if (!boolAttr(key.attributes, usage, true))
        fail(CKR_KEY_FUNCTION_NOT_PERMITTED);
    return key;
}

} // namespace

LAB_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return call("C_SignInit", keyOperationDetail(hSession, pMechanism, hKey), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (s.sign.active)
            fail(CKR_OPERATION_ACTIVE);
        const CK_MECHANISM_TYPE mech = signatureMechanism(pMechanism);
        signatureKey(s, hKey, mech, CKO_PRIVATE_KEY, CKA_SIGN);
        s.sign = Operation{true, mech, hKey, 0, {}};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                        CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    const std::string detail = sessionDetail(hSession) + " length=" + std::to_string(ulDataLen);
    return operationStep("C_Sign", hSession, &Session::sign, detail, [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!s.sign.active)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        if ((ulDataLen && !pData) || !pulSignatureLen)
            fail(CKR_ARGUMENTS_BAD);
        Bytes data = ulDataLen ? Bytes(pData, pData + ulDataLen) : Bytes{};
        FoundObject key = findObject(s, s.sign.key);
        Bytes signature;
        if (s.sign.mechanism == CKM_RSA_PKCS) {
            RsaKeyPair k = rsaPrivate(key.attributes);
            auto n = k.n;
            while (!n.empty() && n.front() == 0)
                n.erase(n.begin());
            if (data.size() + 11 > n.size())
                fail(CKR_DATA_LEN_RANGE);
            if (!pSignature) {
                *pulSignatureLen = n.size();
                return CKR_OK;
            }
            auto sig = rsaSign(k, data);
            if (!sig)
                fail(CKR_DATA_LEN_RANGE);
            signature = std::move(*sig);
        } else {
            std::optional<GostCurve> curve = keyCurve(key.attributes);
            if (!curve)
                fail(CKR_KEY_TYPE_INCONSISTENT);
            if (data.size() != curve->size)
                fail(CKR_DATA_LEN_RANGE);
            if (!pSignature) {
                *pulSignatureLen = 2 * curve->size;
                return CKR_OK;
            }
            if (*pulSignatureLen < 2 * curve->size) {
                *pulSignatureLen = 2 * curve->size;
                return CKR_BUFFER_TOO_SMALL;
            }
            signature = gostSign(*curve, key.attributes.at(CKA_VALUE), data);
        }
        deliver(signature, pSignature, pulSignatureLen);
        s.sign = Operation{};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return call("C_VerifyInit", keyOperationDetail(hSession, pMechanism, hKey), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (s.verify.active)
            fail(CKR_OPERATION_ACTIVE);
        const CK_MECHANISM_TYPE mech = signatureMechanism(pMechanism);
        FoundObject key = signatureKey(s, hKey, mech, CKO_PUBLIC_KEY, CKA_VERIFY);
        if (mech != CKM_RSA_PKCS) {
            auto curve = keyCurve(key.attributes);
            if (!curve || key.attributes[CKA_VALUE].size() != 2 * curve->size)
                fail(CKR_KEY_TYPE_INCONSISTENT);
            if ((mech == CKM_GOSTR3410) != (curve->size == 32))
                fail(CKR_KEY_TYPE_INCONSISTENT);
        }
        s.verify = Operation{true, mech, hKey, 0, {}};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                          CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen)
{
    const std::string detail = sessionDetail(hSession) + " length=" + std::to_string(ulDataLen);
    return operationStep("C_Verify", hSession, &Session::verify, detail, [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!s.verify.active)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        s.verify.active = false; // whatever the outcome
        if ((ulDataLen && !pData) || (ulSignatureLen && !pSignature))
            fail(CKR_ARGUMENTS_BAD);
        Bytes data = ulDataLen ? Bytes(pData, pData + ulDataLen) : Bytes{};
        Bytes sig = ulSignatureLen ? Bytes(pSignature, pSignature + ulSignatureLen) : Bytes{};
        FoundObject key = findObject(s, s.verify.key);
        if (s.verify.mechanism == CKM_RSA_PKCS) {
            Bytes n = key.attributes[CKA_MODULUS];
            while (!n.empty() && n.front() == 0)
                n.erase(n.begin());
            if (sig.size() != n.size())
                fail(CKR_SIGNATURE_LEN_RANGE);
            if (data.size() + 11 > n.size())
                fail(CKR_DATA_LEN_RANGE);
            return rsaVerify(n, key.attributes[CKA_PUBLIC_EXPONENT], data, sig) ? CKR_OK
                                                                                : CKR_SIGNATURE_INVALID;
        }
        auto curve = keyCurve(key.attributes);
        if (!curve)
            fail(CKR_KEY_TYPE_INCONSISTENT);
        if (data.size() != curve->size)
            fail(CKR_DATA_LEN_RANGE);
        if (sig.size() != 2 * curve->size)
            fail(CKR_SIGNATURE_LEN_RANGE);
        const Bytes value = tokenOrder(liveDevice(s), key.attributes[CKA_VALUE]);
        return gostVerify(*curve, value, data, sig) ? CKR_OK : CKR_SIGNATURE_INVALID;
    });
}
