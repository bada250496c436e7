// Hash objects, signing a hash with a container's key and verifying a
// signature under a key.
#include "containers.h"
#include "crypto.h"

namespace labcsp
{
namespace
{
constexpr const char* GOST94_CRYPTOPRO = "1.2.643.2.2.30.1";
constexpr const char* GOST94_TEST = "1.2.643.2.2.30.0";

// The value of a hash, finishing it.
const Bytes& finish(HashHandle& h)
{
    if (!h.value)
        h.value = hashValue(h.alg, h.paramSet, h.data);
    h.finished = true;
    h.data.clear();
    return *h.value;
}
} // namespace
} // namespace labcsp

using namespace labcsp;

LAB_CSP_EXPORT BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                                    HCRYPTHASH* phHash)
{
    return call("capi10", "CryptCreateHash", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("handle=" + hexNumber(hProv) + " alg=" + hexNumber(Algid));
        const ProviderHandle& p = provider(hProv);
        if (!phHash)
            fail(ERROR_INVALID_PARAMETER);
        if (hKey != 0)
            fail(NTE_BAD_KEY); // keyed hashes are not made here
        if (dwFlags != 0)
            fail(NTE_BAD_FLAGS);
        if (!hashAllowed(p.type, Algid))
            fail(NTE_BAD_ALGID);
        HashHandle h;
        h.provType = p.type;
        h.container = p.container;
        h.verify = p.verify;
        h.alg = Algid;
        h.paramSet = GOST94_CRYPTOPRO;
        const HCRYPTHASH handle = registry().newHandle();
        registry().hashes.emplace(handle, std::move(h));
        *phHash = handle;
        log.add("hash=" + hexNumber(handle));
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptDestroyHash(HCRYPTHASH hHash)
{
    return call("capi10", "CryptDestroyHash", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("hash=" + hexNumber(hHash));
        hash(hHash);
        registry().hashes.erase(hHash);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags)
{
    return call("capi10", "CryptHashData", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("hash=" + hexNumber(hHash) + " length=" + std::to_string(dwDataLen) +
                " flags=" + hexNumber(dwFlags));
        HashHandle& h = hash(hHash);
        if (!pbData && dwDataLen)
            fail(ERROR_INVALID_PARAMETER);
        if (h.finished || h.value)
            fail(NTE_BAD_HASH_STATE);
        if (dwDataLen)
            h.data.insert(h.data.end(), pbData, pbData + dwDataLen);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                      DWORD dwFlags)
{
    return call("capi10", "CryptGetHashParam", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("hash=" + hexNumber(hHash) + " param=" + std::to_string(dwParam) +
                " flags=" + hexNumber(dwFlags));
        HashHandle& h = hash(hHash);
        if (!pdwDataLen)
            fail(ERROR_INVALID_PARAMETER);
        switch (dwParam) {
        case HP_ALGID:
            put(dwordValue(h.alg), pbData, pdwDataLen);
            break;
        case HP_HASHSIZE:
            put(dwordValue(static_cast<DWORD>(hashSize(h.alg))), pbData, pdwDataLen);
            break;
        case HP_HASHVAL:
            if (!pbData) {
                *pdwDataLen = static_cast<DWORD>(hashSize(h.alg));
                break;
            }
            if (*pdwDataLen < hashSize(h.alg)) {
                *pdwDataLen = static_cast<DWORD>(hashSize(h.alg));
                fail(ERROR_MORE_DATA);
            }
            put(finish(h), pbData, pdwDataLen);
            break;
        case HP_PARAMSET_OID:
            if (h.alg != CALG_GOST_R3411_94)
                fail(NTE_BAD_TYPE);
            put(textValue(h.paramSet), pbData, pdwDataLen);
            break;
        default:
            fail(NTE_BAD_TYPE);
        }
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags)
{
    return call("capi10", "CryptSetHashParam", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("hash=" + hexNumber(hHash) + " param=" + std::to_string(dwParam) +
                " flags=" + hexNumber(dwFlags));
        HashHandle& h = hash(hHash);
        if (!pbData)
            fail(ERROR_INVALID_PARAMETER);
        switch (dwParam) {
        case HP_HASHVAL:
            // The caller's buffer holds exactly one value of the hash's size.
            if (h.finished)
                fail(NTE_BAD_HASH_STATE);
            h.value = Bytes(pbData, pbData + hashSize(h.alg));
            h.data.clear();
            return ORMID_CAPI_TRUE;
        case HP_PARAMSET_OID: {
            if (h.alg != CALG_GOST_R3411_94)
                fail(NTE_BAD_TYPE);
            std::string oid = textParam(pbData, 64);
            log.add("oid=" + printable(oid));
            if (oid != GOST94_CRYPTOPRO && oid != GOST94_TEST)
                fail(NTE_BAD_DATA);
            if (h.finished || h.value || !h.data.empty())
                fail(NTE_BAD_HASH_STATE);
            h.paramSet = oid;
            return ORMID_CAPI_TRUE;
        }
        default:
            fail(NTE_BAD_TYPE);
        }
    });
}

LAB_CSP_EXPORT BOOL CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR szDescription, DWORD dwFlags,
                                   BYTE* pbSignature, DWORD* pdwSigLen)
{
    (void)szDescription;
    return call("capi10", "CryptSignHashA", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("hash=" + hexNumber(hHash) + " keyspec=" + std::to_string(dwKeySpec) +
                " flags=" + hexNumber(dwFlags));
        HashHandle& h = hash(hHash);
        if (!pdwSigLen)
            fail(ERROR_INVALID_PARAMETER);
        if (dwFlags & ~CRYPT_NOHASHOID)
            fail(NTE_BAD_FLAGS);
        if (h.container.empty())
            fail(NTE_NO_KEY);
        if (h.verify)
            fail(NTE_PERM);
        Container c = liveContainer(h.container);
        if (!c.key || c.key->keySpec != dwKeySpec)
            fail(NTE_NO_KEY);
        if (!signsHash(c.key->alg, h.alg))
            fail(NTE_BAD_ALGID);
        const DWORD size = c.key->isRsa() ? keyBits(*c.key) / 8 : static_cast<DWORD>(c.key->publicLe.size());
        if (!pbSignature || *pdwSigLen < size) {
            const bool sizeOnly = !pbSignature;
            *pdwSigLen = size;
            if (sizeOnly)
                return ORMID_CAPI_TRUE;
            fail(ERROR_MORE_DATA);
        }
        Bytes signature = sign(*c.key, h.alg, finish(h), dwFlags & CRYPT_NOHASHOID);
        put(signature, pbSignature, pdwSigLen);
        log.add("length=" + std::to_string(signature.size()));
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
                                          HCRYPTKEY hPubKey, LPCSTR szDescription, DWORD dwFlags)
{
    (void)szDescription;
    return call("capi10", "CryptVerifySignatureA", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("hash=" + hexNumber(hHash) + " key=" + hexNumber(hPubKey) +
                " length=" + std::to_string(dwSigLen));
        HashHandle& h = hash(hHash);
        const KeyHandle& k = key(hPubKey);
        if (!pbSignature && dwSigLen)
            fail(ERROR_INVALID_PARAMETER);
        if (dwFlags & ~CRYPT_NOHASHOID)
            fail(NTE_BAD_FLAGS);
        KeyPair pair;
        if (k.imported) {
            pair = *k.imported;
        } else {
            Container c = liveContainer(k.container);
            if (!c.key)
                fail(NTE_NO_KEY);
            pair = *c.key;
        }
        if (!signsHash(pair.alg, h.alg))
            fail(NTE_BAD_ALGID);
        Bytes signature(pbSignature, pbSignature + dwSigLen);
        if (!verify(pair, h.alg, finish(h), signature, dwFlags & CRYPT_NOHASHOID))
            fail(NTE_BAD_SIGNATURE);
        return ORMID_CAPI_TRUE;
    });
}
