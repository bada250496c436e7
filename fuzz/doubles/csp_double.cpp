#include "csp_double.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "answers.h"
#include "capi/capi_types.h"
#include "capi/wrapper.h"

namespace fuzzdouble
{

namespace
{

constexpr BOOL YES = 1;
constexpr BOOL NO = 0;

thread_local DWORD lastError = 0;

// Success, or FALSE with an error from the input for GetLastError.
BOOL succeeds()
{
    Answers& in = *current;
    if (in.succeeds())
        return YES;
    lastError = in.exhausted() ? NTE_PROVIDER_DLL_FAIL
                               : in.failure<DWORD>({NTE_BAD_KEYSET,
                                                    NTE_NO_KEY,
                                                    ERROR_MORE_DATA,
                                                    ERROR_NO_MORE_ITEMS,
                                                    NTE_BAD_DATA,
                                                    NTE_FAIL,
                                                    NTE_BAD_KEYSET_PARAM,
                                                    NTE_KEYSET_ENTRY_BAD,
                                                    CRYPT_E_NOT_FOUND,
                                                    NTE_BAD_SIGNATURE,
                                                    NTE_PERM,
                                                    ERROR_CANCELLED,
                                                    SCARD_W_CANCELLED_BY_USER,
                                                    SCARD_W_WRONG_CHV,
                                                    SCARD_W_CHV_BLOCKED,
                                                    NTE_TOKEN_KEYSET_STORAGE_FULL,
                                                    NTE_BAD_ALGID,
                                                    NTE_EXISTS,
                                                    ERROR_FILE_NOT_FOUND,
                                                    0x12345678});
    return NO;
}

// The two-call pattern of sized reads: a size query answers a length, a
// read writes what fits (at times asking for more) and reports a length.
BOOL sized(BYTE* out, DWORD* length)
{
    if (!succeeds())
        return NO;
    if (out == nullptr) {
        *length = static_cast<DWORD>(current->length());
        return YES;
    }
    if (current->byte() >= 0xF0) { // "more data", with a length of its choice
        *length = static_cast<DWORD>(current->length());
        lastError = ERROR_MORE_DATA;
        return NO;
    }
    const DWORD written = std::min<DWORD>(static_cast<DWORD>(current->length()), *length);
    current->fill(out, written);
    *length = current->byte() < 0xF0 ? written : static_cast<DWORD>(current->length());
    return YES;
}

BOOL acquireContext(HCRYPTPROV* provider, LPCSTR, LPCSTR, DWORD, DWORD)
{
    const BOOL ok = succeeds();
    *provider = ok ? 0x10 + current->byte() : 0;
    return ok;
}

BOOL releaseContext(HCRYPTPROV, DWORD)
{
    return YES;
}

BOOL getProvParam(HCRYPTPROV, DWORD, BYTE* data, DWORD* length, DWORD)
{
    return sized(data, length);
}

BOOL setProvParam(HCRYPTPROV, DWORD, const BYTE*, DWORD)
{
    return succeeds();
}

BOOL makeKey(HCRYPTKEY* key)
{
    const BOOL ok = succeeds();
    *key = ok ? 0x100 + current->byte() : 0;
    return ok;
}

BOOL genKey(HCRYPTPROV, ALG_ID, DWORD, HCRYPTKEY* key)
{
    return makeKey(key);
}

BOOL getUserKey(HCRYPTPROV, DWORD, HCRYPTKEY* key)
{
    return makeKey(key);
}

BOOL importKey(HCRYPTPROV, const BYTE*, DWORD, HCRYPTKEY, DWORD, HCRYPTKEY* key)
{
    return makeKey(key);
}

BOOL destroyKey(HCRYPTKEY)
{
    return YES;
}

BOOL getKeyParam(HCRYPTKEY, DWORD, BYTE* data, DWORD* length, DWORD)
{
    return sized(data, length);
}

BOOL setKeyParam(HCRYPTKEY, DWORD, const BYTE*, DWORD)
{
    return succeeds();
}

BOOL exportKey(HCRYPTKEY, HCRYPTKEY, DWORD, DWORD, BYTE* data, DWORD* length)
{
    return sized(data, length);
}

BOOL createHash(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH* hash)
{
    const BOOL ok = succeeds();
    *hash = ok ? 0x1000 + current->byte() : 0;
    return ok;
}

BOOL destroyHash(HCRYPTHASH)
{
    return YES;
}

BOOL hashData(HCRYPTHASH, const BYTE*, DWORD, DWORD)
{
    return succeeds();
}

BOOL signHash(HCRYPTHASH, DWORD, LPCSTR, DWORD, BYTE* signature, DWORD* length)
{
    return sized(signature, length);
}

BOOL verifySignature(HCRYPTHASH, const BYTE*, DWORD, HCRYPTKEY, LPCSTR, DWORD)
{
    return succeeds();
}

BOOL getHashParam(HCRYPTHASH, DWORD, BYTE* data, DWORD* length, DWORD)
{
    return sized(data, length);
}

BOOL setHashParam(HCRYPTHASH, DWORD, const BYTE*, DWORD)
{
    return succeeds();
}

BOOL encryptMessage(PCRYPT_ENCRYPT_MESSAGE_PARA, DWORD, PCCERT_CONTEXT*, const BYTE*, DWORD, BYTE* out,
                    DWORD* length)
{
    return sized(out, length);
}

BOOL decryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA, const BYTE*, DWORD, BYTE* out, DWORD* length,
                    PCCERT_CONTEXT* certificate)
{
    if (certificate != nullptr)
        *certificate = nullptr;
    return sized(out, length);
}

BOOL verifyDetached(PCRYPT_VERIFY_MESSAGE_PARA, DWORD, const BYTE*, DWORD, DWORD, const BYTE**, DWORD*,
                    PCCERT_CONTEXT* certificate)
{
    if (certificate != nullptr)
        *certificate = nullptr;
    return succeeds();
}

BOOL verifyMessage(PCRYPT_VERIFY_MESSAGE_PARA, DWORD, const BYTE*, DWORD, BYTE* out, DWORD* length,
                   PCCERT_CONTEXT* certificate)
{
    if (certificate != nullptr)
        *certificate = nullptr;
    if (length == nullptr)
        return succeeds();
    return sized(out, length);
}

// A certificate context owning its encoded bytes (taken from the input).
struct Context {
    CERT_CONTEXT context{};
    std::vector<BYTE> encoded;
};

// The contexts handed out and not freed yet.
std::map<const CERT_CONTEXT*, std::unique_ptr<Context>> contexts;

PCCERT_CONTEXT newContext()
{
    if (!succeeds())
        return nullptr;
    auto made = std::make_unique<Context>();
    made->encoded = current->take(current->length() % 4096);
    made->context.dwCertEncodingType = X509_ASN_ENCODING;
    made->context.pbCertEncoded = made->encoded.empty() ? nullptr : made->encoded.data();
    made->context.cbCertEncoded = static_cast<DWORD>(made->encoded.size());
    const CERT_CONTEXT* handle = &made->context;
    contexts.emplace(handle, std::move(made));
    return handle;
}

BOOL freeContext(PCCERT_CONTEXT context)
{
    if (context == nullptr)
        return YES;
    if (contexts.erase(context) == 0)
        std::abort(); // freed twice, or never handed out
    return YES;
}

PCCERT_CONTEXT createContext(DWORD, const BYTE*, DWORD)
{
    return newContext();
}

HCERTSTORE openStore(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*)
{
    static int store;
    return succeeds() ? &store : nullptr;
}

BOOL closeStore(HCERTSTORE, DWORD)
{
    return YES;
}

BOOL addContext(HCERTSTORE, PCCERT_CONTEXT, DWORD, PCCERT_CONTEXT* stored)
{
    const BOOL ok = succeeds();
    if (stored != nullptr)
        *stored = ok ? newContext() : nullptr;
    return ok;
}

BOOL setProperty(PCCERT_CONTEXT, DWORD, DWORD, const void*)
{
    return succeeds();
}

PCCERT_CONTEXT findInStore(HCERTSTORE, DWORD, DWORD, DWORD, const void*, PCCERT_CONTEXT previous)
{
    freeContext(previous);
    return newContext();
}

PCCERT_CONTEXT enumInStore(HCERTSTORE, PCCERT_CONTEXT previous)
{
    freeContext(previous);
    return newContext();
}

BOOL addEncoded(HCERTSTORE, DWORD, const BYTE*, DWORD, DWORD, PCCERT_CONTEXT* stored)
{
    return addContext(nullptr, nullptr, 0, stored);
}

DWORD getLastError()
{
    return lastError;
}

} // namespace

std::shared_ptr<capi::Wrapper> supplyCsp()
{
    auto wrapper = std::make_shared<capi::Wrapper>(capi::Wrapper::Unloaded{});
    capi::Wrapper& w = *wrapper;
    w.CryptAcquireContextA = acquireContext;
    w.CryptReleaseContext = releaseContext;
    w.CryptGetProvParam = getProvParam;
    w.CryptSetProvParam = setProvParam;
    w.CryptGenKey = genKey;
    w.CryptGetUserKey = getUserKey;
    w.CryptImportKey = importKey;
    w.CryptDestroyKey = destroyKey;
    w.CryptGetKeyParam = getKeyParam;
    w.CryptSetKeyParam = setKeyParam;
    w.CryptExportKey = exportKey;
    w.CryptCreateHash = createHash;
    w.CryptDestroyHash = destroyHash;
    w.CryptHashData = hashData;
    w.CryptSignHashA = signHash;
    w.CryptVerifySignatureA = verifySignature;
    w.CryptGetHashParam = getHashParam;
    w.CryptSetHashParam = setHashParam;
    w.CryptEncryptMessage = encryptMessage;
    w.CryptDecryptMessage = decryptMessage;
    w.CryptVerifyDetachedMessageSignature = verifyDetached;
    w.CryptVerifyMessageSignature = verifyMessage;
    w.CertCreateCertificateContext = createContext;
    w.CertFreeCertificateContext = freeContext;
    w.CertOpenStore = openStore;
    w.CertCloseStore = closeStore;
    w.CertAddCertificateContextToStore = addContext;
    w.CertSetCertificateContextProperty = setProperty;
    w.CertFindCertificateInStore = findInStore;
    w.CertEnumCertificatesInStore = enumInStore;
    w.CertAddEncodedCertificateToStore = addEncoded;
    w.GetLastError = getLastError;
    capi::Wrapper::supply(wrapper);
    return wrapper;
}

int openCertificateContexts()
{
    return static_cast<int>(contexts.size());
}

} // namespace fuzzdouble
