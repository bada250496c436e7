// Keys: generation in a new container, the container's key pair, imported
// public keys, key parameters and public-key export.
#include "containers.h"
#include "crypto.h"
#include "der.h"

namespace labcsp
{
namespace
{
constexpr DWORD KNOWN_GENKEY_FLAGS = CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED;

// The key pair behind a handle (a container's is re-read).
KeyPair keyPair(const KeyHandle& k)
{
    if (k.imported)
        return *k.imported;
    Container c = liveContainer(k.container);
    if (!c.key)
        fail(NTE_NO_KEY);
    return *c.key;
}

HCRYPTKEY newKey(KeyHandle k, CallLog& log)
{
    const HCRYPTKEY h = registry().newHandle();
    registry().keys.emplace(h, std::move(k));
    log.add("key=" + hexNumber(h));
    return h;
}

// The key algorithm and key specification CryptGenKey makes for `algid` in a
// context of `type`.
std::pair<ALG_ID, DWORD> generatedKind(DWORD type, ALG_ID algid)
{
    const bool rsa = type == PROV_RSA_AES;
    if (algid == AT_KEYEXCHANGE || algid == AT_SIGNATURE)
        return {rsa ? (algid == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX) : gostKeyAlg(type), algid};
    if (rsa && isRsaKeyAlg(algid))
        return {algid, algid == CALG_RSA_SIGN ? AT_SIGNATURE : AT_KEYEXCHANGE};
    if (!rsa && algid == gostKeyAlg(type))
        return {algid, AT_SIGNATURE};
    fail(NTE_BAD_ALGID);
}
} // namespace
} // namespace labcsp

using namespace labcsp;

LAB_CSP_EXPORT BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey)
{
    return call("capi10", "CryptGenKey", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("handle=" + hexNumber(hProv) + " alg=" + hexNumber(Algid) + " flags=" + hexNumber(dwFlags));
        ProviderHandle& p = provider(hProv);
        if (!phKey)
            fail(ERROR_INVALID_PARAMETER);
        if (p.verify || p.container.empty())
            fail(NTE_PERM);
        Container c = liveContainer(p.container);
        if (c.key)
            fail(NTE_EXISTS);
        auto [alg, keySpec] = generatedKind(p.type, Algid);
        if (dwFlags & 0xFFFFu & ~KNOWN_GENKEY_FLAGS)
            fail(NTE_BAD_FLAGS);
        if (isRsaKeyAlg(alg)) {
            unsigned bits = dwFlags >> 16;
            if (bits == 0)
                bits = 2048;
            if (bits < 512 || bits > 4096 || bits % 64 != 0)
                fail(NTE_BAD_FLAGS);
            log.add("bits=" + std::to_string(bits));
            c.key = generateRsa(bits, keySpec);
        } else {
            if (dwFlags >> 16)
                fail(NTE_BAD_FLAGS);
            const std::string set = p.keyParamSet.empty() ? defaultParamSet(alg) : p.keyParamSet;
            log.add("paramset=" + set);
            c.key = generateGost(alg, set, keySpec);
        }
        saveContainer(c);
        KeyHandle k;
        k.provType = p.type;
        k.container = c.id;
        *phKey = newKey(std::move(k), log);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey)
{
    return call("capi10", "CryptGetUserKey", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("handle=" + hexNumber(hProv) + " keyspec=" + std::to_string(dwKeySpec));
        ProviderHandle& p = provider(hProv);
        if (!phUserKey)
            fail(ERROR_INVALID_PARAMETER);
        if (p.container.empty())
            fail(NTE_NO_KEY);
        Container c = liveContainer(p.container);
        if (!c.key || c.key->keySpec != dwKeySpec)
            fail(NTE_NO_KEY);
        KeyHandle k;
        k.provType = p.type;
        k.container = c.id;
        k.verify = p.verify;
        *phUserKey = newKey(std::move(k), log);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                                   DWORD dwFlags, HCRYPTKEY* phKey)
{
    return call("capi10", "CryptImportKey", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("handle=" + hexNumber(hProv) + " length=" + std::to_string(dwDataLen) +
                " flags=" + hexNumber(dwFlags));
        ProviderHandle& p = provider(hProv);
        if (!phKey || (!pbData && dwDataLen))
            fail(ERROR_INVALID_PARAMETER);
        if (hPubKey != 0)
            fail(NTE_BAD_KEY); // only public keys, never wrapped ones
        KeyPair imported = importPublicKey(Bytes(pbData, pbData + dwDataLen));
        if (isGostType(p.type) == imported.isRsa())
            fail(NTE_BAD_ALGID);
        KeyHandle k;
        k.provType = p.type;
        k.verify = true;
        k.imported = std::move(imported);
        *phKey = newKey(std::move(k), log);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptDestroyKey(HCRYPTKEY hKey)
{
    return call("capi10", "CryptDestroyKey", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("key=" + hexNumber(hKey));
        key(hKey);
        registry().keys.erase(hKey);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                     DWORD dwFlags)
{
    return call("capi10", "CryptGetKeyParam", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("key=" + hexNumber(hKey) + " param=" + std::to_string(dwParam) +
                " flags=" + hexNumber(dwFlags));
        const KeyHandle& k = key(hKey);
        if (!pdwDataLen)
            fail(ERROR_INVALID_PARAMETER);
        const KeyPair pair = keyPair(k);
        Bytes value;
        switch (dwParam) {
        case KP_ALGID:
            value = dwordValue(pair.alg);
            break;
        case KP_KEYLEN:
            value = dwordValue(keyBits(pair));
            break;
        case KP_KEYSPEC:
            if (k.imported)
                fail(NTE_BAD_TYPE);
            value = dwordValue(pair.keySpec);
            break;
        case KP_PARAMSET_OID:
            if (pair.isRsa())
                fail(NTE_BAD_TYPE);
            value = textValue(pair.paramSet);
            break;
        case KP_CERTIFICATE:
            if (k.imported)
                fail(NTE_BAD_TYPE);
            if (pair.certificate.empty())
                fail(SCARD_E_NO_SUCH_CERTIFICATE);
            value = pair.certificate;
            break;
        default:
            fail(NTE_BAD_TYPE);
        }
        put(value, pbData, pdwDataLen);
        log.add("length=" + std::to_string(value.size()));
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags)
{
    return call("capi10", "CryptSetKeyParam", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("key=" + hexNumber(hKey) + " param=" + std::to_string(dwParam) +
                " flags=" + hexNumber(dwFlags));
        const KeyHandle& k = key(hKey);
        if (dwParam != KP_CERTIFICATE)
            fail(NTE_BAD_TYPE);
        if (!pbData)
            fail(ERROR_INVALID_PARAMETER);
        if (k.imported || k.verify)
            fail(NTE_PERM);
        Container c = liveContainer(k.container);
        if (!c.key)
            fail(NTE_NO_KEY);
        // The value is one DER certificate; its length is in its own header.
        Bytes der = certificateAt(pbData);
        ParsedCertificate cert = parseCertificate(der);
        if (!certificateKeyMatches(*c.key, cert.publicKeyBits))
            fail(NTE_BAD_PUBLIC_KEY);
        c.key->certificate = std::move(der);
        saveContainer(c);
        log.add("length=" + std::to_string(c.key->certificate.size()));
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                                   BYTE* pbData, DWORD* pdwDataLen)
{
    return call("capi10", "CryptExportKey", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("key=" + hexNumber(hKey) + " type=" + std::to_string(dwBlobType) +
                " flags=" + hexNumber(dwFlags));
        const KeyHandle& k = key(hKey);
        if (!pdwDataLen)
            fail(ERROR_INVALID_PARAMETER);
        if (hExpKey != 0)
            fail(NTE_BAD_KEY);
        if (dwBlobType == PRIVATEKEYBLOB || dwBlobType == SIMPLEBLOB)
            fail(NTE_BAD_KEY_STATE); // keys never leave the container
        if (dwBlobType != PUBLICKEYBLOB)
            fail(NTE_BAD_TYPE);
        Bytes blob = exportPublicKey(keyPair(k));
        put(blob, pbData, pdwDataLen);
        log.add("length=" + std::to_string(blob.size()));
        return ORMID_CAPI_TRUE;
    });
}
