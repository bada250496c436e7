// The functions the tokens do not offer: CKR_FUNCTION_NOT_SUPPORTED. A
// refused step of an operation the tokens do offer also ends that operation.
#include "calls.h"

using namespace labtoken;

namespace
{
CK_RV unsupported(const char* function)
{
    return call(function, "", []() -> CK_RV { return CKR_FUNCTION_NOT_SUPPORTED; });
}

// A step the tokens do not offer within an operation they do: the refusal
// ends the operation, so the caller can start it again.
CK_RV refusedStep(const char* function, CK_SESSION_HANDLE h, Operation Session::*operation)
{
    return operationStep(function, h, operation, sessionDetail(h),
                         []() -> CK_RV { return CKR_FUNCTION_NOT_SUPPORTED; });
}
} // namespace

#define LAB_REFUSED_STEP(name, operation, ...)                                                               \
    LAB_EXPORT CK_RV name(CK_SESSION_HANDLE hSession, __VA_ARGS__)                                           \
    {                                                                                                        \
        return refusedStep(#name, hSession, &Session::operation);                                            \
    }
LAB_REFUSED_STEP(C_DigestKey, digest, CK_OBJECT_HANDLE)
LAB_REFUSED_STEP(C_SignUpdate, sign, CK_BYTE_PTR, CK_ULONG)
LAB_REFUSED_STEP(C_SignFinal, sign, CK_BYTE_PTR, CK_ULONG_PTR)
LAB_REFUSED_STEP(C_VerifyUpdate, verify, CK_BYTE_PTR, CK_ULONG)
LAB_REFUSED_STEP(C_VerifyFinal, verify, CK_BYTE_PTR, CK_ULONG)

#define LAB_UNSUPPORTED(name, params)                                                                        \
    LAB_EXPORT CK_RV name params                                                                             \
    {                                                                                                        \
        return unsupported(#name);                                                                           \
    }
LAB_UNSUPPORTED(C_InitToken, (CK_SLOT_ID, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR))
LAB_UNSUPPORTED(C_GetOperationState, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_SetOperationState,
                (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE))
LAB_UNSUPPORTED(C_CopyObject,
                (CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR))
LAB_UNSUPPORTED(C_GetObjectSize, (CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_EncryptInit, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE))
LAB_UNSUPPORTED(C_Encrypt, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_EncryptUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_EncryptFinal, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DecryptInit, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE))
LAB_UNSUPPORTED(C_Decrypt, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DecryptUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DecryptFinal, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_SignRecoverInit, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE))
LAB_UNSUPPORTED(C_SignRecover, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_VerifyRecoverInit, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE))
LAB_UNSUPPORTED(C_VerifyRecover, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DigestEncryptUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DecryptDigestUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_SignEncryptUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DecryptVerifyUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_GenerateKey,
                (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR))
LAB_UNSUPPORTED(C_WrapKey, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE,
                            CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_UnwrapKey, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG,
                              CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR))
LAB_UNSUPPORTED(C_DeriveKey, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR,
                              CK_ULONG, CK_OBJECT_HANDLE_PTR))
LAB_UNSUPPORTED(C_GetFunctionStatus, (CK_SESSION_HANDLE))
LAB_UNSUPPORTED(C_CancelFunction, (CK_SESSION_HANDLE))
LAB_UNSUPPORTED(C_WaitForSlotEvent, (CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR))
