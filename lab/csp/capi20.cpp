// libcapi20: the certificate and message entry points, forwarded to the
// implementation in libcapi10 (one process-wide CSP state and last error).
// Built with LAB_CSP_BROKEN it lacks CertAddEncodedCertificateToStore, for
// the tests of a CSP missing an entry point.
#include "capi/capi_types.h"

#define LAB_CSP_EXPORT extern "C" __attribute__((visibility("default")))

// One entry point forwarded to its implementation in libcapi10.
#define LAB_CSP_FORWARD(ret, name, params, args)                                                             \
    extern "C" ret ormid_lab_csp_##name params;                                                              \
    LAB_CSP_EXPORT ret name params                                                                           \
    {                                                                                                        \
        return ormid_lab_csp_##name args;                                                                    \
    }

LAB_CSP_FORWARD(BOOL, CryptEncryptMessage,
                (PCRYPT_ENCRYPT_MESSAGE_PARA a, DWORD b, PCCERT_CONTEXT* c, const BYTE* d, DWORD e, BYTE* f,
                 DWORD* g),
                (a, b, c, d, e, f, g))
LAB_CSP_FORWARD(BOOL, CryptDecryptMessage,
                (PCRYPT_DECRYPT_MESSAGE_PARA a, const BYTE* b, DWORD c, BYTE* d, DWORD* e, PCCERT_CONTEXT* f),
                (a, b, c, d, e, f))
LAB_CSP_FORWARD(BOOL, CryptVerifyDetachedMessageSignature,
                (PCRYPT_VERIFY_MESSAGE_PARA a, DWORD b, const BYTE* c, DWORD d, DWORD e, const BYTE** f,
                 DWORD* g, PCCERT_CONTEXT* h),
                (a, b, c, d, e, f, g, h))
LAB_CSP_FORWARD(BOOL, CryptVerifyMessageSignature,
                (PCRYPT_VERIFY_MESSAGE_PARA a, DWORD b, const BYTE* c, DWORD d, BYTE* e, DWORD* f,
                 PCCERT_CONTEXT* g),
                (a, b, c, d, e, f, g))
LAB_CSP_FORWARD(PCCERT_CONTEXT, CertCreateCertificateContext, (DWORD a, const BYTE* b, DWORD c), (a, b, c))
LAB_CSP_FORWARD(BOOL, CertFreeCertificateContext, (PCCERT_CONTEXT a), (a))
LAB_CSP_FORWARD(HCERTSTORE, CertOpenStore, (LPCSTR a, DWORD b, HCRYPTPROV_LEGACY c, DWORD d, const void* e),
                (a, b, c, d, e))
LAB_CSP_FORWARD(BOOL, CertCloseStore, (HCERTSTORE a, DWORD b), (a, b))
LAB_CSP_FORWARD(BOOL, CertAddCertificateContextToStore,
                (HCERTSTORE a, PCCERT_CONTEXT b, DWORD c, PCCERT_CONTEXT* d), (a, b, c, d))
LAB_CSP_FORWARD(BOOL, CertSetCertificateContextProperty, (PCCERT_CONTEXT a, DWORD b, DWORD c, const void* d),
                (a, b, c, d))
LAB_CSP_FORWARD(BOOL, CertGetCertificateContextProperty, (PCCERT_CONTEXT a, DWORD b, void* c, DWORD* d),
                (a, b, c, d))
LAB_CSP_FORWARD(PCCERT_CONTEXT, CertFindCertificateInStore,
                (HCERTSTORE a, DWORD b, DWORD c, DWORD d, const void* e, PCCERT_CONTEXT f),
                (a, b, c, d, e, f))
LAB_CSP_FORWARD(PCCERT_CONTEXT, CertEnumCertificatesInStore, (HCERTSTORE a, PCCERT_CONTEXT b), (a, b))
#ifndef LAB_CSP_BROKEN
LAB_CSP_FORWARD(BOOL, CertAddEncodedCertificateToStore,
                (HCERTSTORE a, DWORD b, const BYTE* c, DWORD d, DWORD e, PCCERT_CONTEXT* f),
                (a, b, c, d, e, f))
#endif
