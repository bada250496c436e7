// Message functions of libcapi20 that the lab does not implement: they
// answer NTE_NOT_SUPPORTED (the signing library verifies CMS itself).
#include "core.h"

using namespace labcsp;

namespace
{
BOOL notSupported(const char* function)
{
    return call("capi20", function, ORMID_CAPI_FALSE, [](CallLog&) -> BOOL { fail(NTE_NOT_SUPPORTED); });
}
} // namespace

LAB_CSP_EXPORT BOOL ormid_lab_csp_CryptEncryptMessage(PCRYPT_ENCRYPT_MESSAGE_PARA, DWORD, PCCERT_CONTEXT*,
                                                      const BYTE*, DWORD, BYTE*, DWORD*)
{
    return notSupported("CryptEncryptMessage");
}

LAB_CSP_EXPORT BOOL ormid_lab_csp_CryptDecryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA, const BYTE*, DWORD, BYTE*,
                                                      DWORD*, PCCERT_CONTEXT*)
{
    return notSupported("CryptDecryptMessage");
}

LAB_CSP_EXPORT BOOL ormid_lab_csp_CryptVerifyDetachedMessageSignature(PCRYPT_VERIFY_MESSAGE_PARA, DWORD,
                                                                      const BYTE*, DWORD, DWORD, const BYTE**,
                                                                      DWORD*, PCCERT_CONTEXT* ppSignerCert)
{
    if (ppSignerCert)
        *ppSignerCert = nullptr;
    return notSupported("CryptVerifyDetachedMessageSignature");
}

LAB_CSP_EXPORT BOOL ormid_lab_csp_CryptVerifyMessageSignature(PCRYPT_VERIFY_MESSAGE_PARA, DWORD, const BYTE*,
                                                              DWORD, BYTE*, DWORD*,
                                                              PCCERT_CONTEXT* ppSignerCert)
{
    if (ppSignerCert)
        *ppSignerCert = nullptr;
    return notSupported("CryptVerifyMessageSignature");
}
