// Test harness of the simulated CSP: a fresh lab state directory per test
// and the three libraries loaded with dlopen, as the signing library loads a
// CSP. Every test that passes gives back every handle it was given.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "capi/capi_types.h"
#include "codes.h"
#include "support/gost_soft.h"

namespace labcsptest
{

using Bytes = std::vector<std::uint8_t>;

inline std::string cspPath(const std::string& library, const char* dir = LAB_CSP_DIR)
{
    return std::string(dir) + "/lib" + library + ".so";
}

// The entry points of the three libraries (loaded once for the process).
struct Api {
    PFN_CryptAcquireContextA acquire;
    PFN_CryptReleaseContext release;
    PFN_CryptGetProvParam getProvParam;
    PFN_CryptSetProvParam setProvParam;
    PFN_CryptGenKey genKey;
    PFN_CryptGetUserKey getUserKey;
    PFN_CryptImportKey importKey;
    PFN_CryptDestroyKey destroyKey;
    PFN_CryptGetKeyParam getKeyParam;
    PFN_CryptSetKeyParam setKeyParam;
    PFN_CryptExportKey exportKey;
    PFN_CryptCreateHash createHash;
    PFN_CryptDestroyHash destroyHash;
    PFN_CryptHashData hashData;
    PFN_CryptSignHashA signHash;
    PFN_CryptVerifySignatureA verifySignature;
    PFN_CryptGetHashParam getHashParam;
    PFN_CryptSetHashParam setHashParam;
    PFN_CertCreateCertificateContext createCertificate;
    PFN_CertFreeCertificateContext freeCertificate;
    PFN_CertOpenStore openStore;
    PFN_CertCloseStore closeStore;
    PFN_CertAddCertificateContextToStore addCertificate;
    PFN_CertAddEncodedCertificateToStore addEncodedCertificate;
    PFN_CertSetCertificateContextProperty setCertificateProperty;
    BOOL (*getCertificateProperty)(PCCERT_CONTEXT, DWORD, void*, DWORD*);
    PFN_CertFindCertificateInStore findCertificate;
    PFN_CertEnumCertificatesInStore enumCertificates;
    PFN_CryptVerifyMessageSignature verifyMessage;
    PFN_GetLastError lastError;       // librdrsup's
    PFN_GetLastError capi10LastError; // libcapi10's
    unsigned long (*openHandles)();
};

inline void* load(const std::string& path)
{
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h)
        throw std::runtime_error(::dlerror());
    return h;
}

template <class F> F symbol(void* library, const char* name)
{
    void* s = ::dlsym(library, name);
    if (!s)
        throw std::runtime_error(std::string("missing ") + name);
    return reinterpret_cast<F>(s);
}

inline const Api& api()
{
    static const Api a = [] {
        void* c10 = load(cspPath("capi10"));
        void* c20 = load(cspPath("capi20"));
        void* rdr = load(cspPath("rdrsup"));
        Api r{};
#define LAB_SYM(lib, field, name) r.field = symbol<decltype(r.field)>(lib, name)
        LAB_SYM(c10, acquire, "CryptAcquireContextA");
        LAB_SYM(c10, release, "CryptReleaseContext");
        LAB_SYM(c10, getProvParam, "CryptGetProvParam");
        LAB_SYM(c10, setProvParam, "CryptSetProvParam");
        LAB_SYM(c10, genKey, "CryptGenKey");
        LAB_SYM(c10, getUserKey, "CryptGetUserKey");
        LAB_SYM(c10, importKey, "CryptImportKey");
        LAB_SYM(c10, destroyKey, "CryptDestroyKey");
        LAB_SYM(c10, getKeyParam, "CryptGetKeyParam");
        LAB_SYM(c10, setKeyParam, "CryptSetKeyParam");
        LAB_SYM(c10, exportKey, "CryptExportKey");
        LAB_SYM(c10, createHash, "CryptCreateHash");
        LAB_SYM(c10, destroyHash, "CryptDestroyHash");
        LAB_SYM(c10, hashData, "CryptHashData");
        LAB_SYM(c10, signHash, "CryptSignHashA");
        LAB_SYM(c10, verifySignature, "CryptVerifySignatureA");
        LAB_SYM(c10, getHashParam, "CryptGetHashParam");
        LAB_SYM(c10, setHashParam, "CryptSetHashParam");
        LAB_SYM(c20, createCertificate, "CertCreateCertificateContext");
        LAB_SYM(c20, freeCertificate, "CertFreeCertificateContext");
        LAB_SYM(c20, openStore, "CertOpenStore");
        LAB_SYM(c20, closeStore, "CertCloseStore");
        LAB_SYM(c20, addCertificate, "CertAddCertificateContextToStore");
        LAB_SYM(c20, addEncodedCertificate, "CertAddEncodedCertificateToStore");
        LAB_SYM(c20, setCertificateProperty, "CertSetCertificateContextProperty");
        LAB_SYM(c20, getCertificateProperty, "CertGetCertificateContextProperty");
        LAB_SYM(c20, findCertificate, "CertFindCertificateInStore");
        LAB_SYM(c20, enumCertificates, "CertEnumCertificatesInStore");
        LAB_SYM(c20, verifyMessage, "CryptVerifyMessageSignature");
        LAB_SYM(rdr, lastError, "GetLastError");
        LAB_SYM(c10, capi10LastError, "GetLastError");
        LAB_SYM(c10, openHandles, "ormid_lab_csp_open_handles");
#undef LAB_SYM
        return r;
    }();
    return a;
}

inline std::string hexText(DWORD v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
    return buf;
}

class CspTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ::setenv("ORMID_LAB_DIR", m_dir.path().c_str(), 1);
        m_openBefore = api().openHandles();
    }
    void TearDown() override
    {
        // Every handle given out was given back.
        if (!HasFailure()) {
            EXPECT_EQ(api().openHandles(), m_openBefore);
        }
        ::unsetenv("ORMID_LAB_DIR");
    }

    const Api& a() const { return api(); }
    std::string cspFile(const std::string& name) const { return (m_dir.path() / "csp" / name).string(); }
    void writeCspFile(const std::string& name, const std::string& text)
    {
        std::filesystem::create_directories(m_dir.path() / "csp");
        gostsoft::writeFile(cspFile(name), text);
    }

    // The error of a failed call: it must have failed, and GetLastError tells why.
    DWORD failure(BOOL ok) const
    {
        EXPECT_FALSE(ok);
        return a().lastError();
    }

    HCRYPTPROV acquire(const std::string& name, DWORD type, DWORD flags)
    {
        HCRYPTPROV h = 0;
        EXPECT_TRUE(a().acquire(&h, name.empty() ? nullptr : name.c_str(), nullptr, type, flags))
            << name << ": " << hexText(a().lastError());
        return h;
    }
    DWORD acquireError(const std::string& name, DWORD type, DWORD flags)
    {
        HCRYPTPROV h = 0;
        BOOL ok = a().acquire(&h, name.empty() ? nullptr : name.c_str(), nullptr, type, flags);
        if (ok)
            a().release(h, 0);
        return failure(ok);
    }

    // A two-call read of a provider, key or hash parameter.
    template <class F, class H> Bytes read(F getter, H handle, DWORD param, DWORD flags = 0)
    {
        DWORD size = 0;
        if (!getter(handle, param, nullptr, &size, flags)) {
            ADD_FAILURE() << "size of parameter " << param << ": " << hexText(a().lastError());
            return {};
        }
        Bytes out(size);
        EXPECT_TRUE(getter(handle, param, out.data(), &size, flags)) << hexText(a().lastError());
        out.resize(size);
        return out;
    }
    std::string text(HCRYPTPROV h, DWORD param, DWORD flags = 0)
    {
        Bytes b = read(a().getProvParam, h, param, flags);
        return std::string(b.begin(), std::find(b.begin(), b.end(), 0));
    }

    // A new container with a key of `type` (parameter set when not empty).
    HCRYPTPROV newKey(const std::string& name, DWORD type, const std::string& paramSet, HCRYPTKEY& key,
                      DWORD flags = 0)
    {
        HCRYPTPROV h = acquire(name, type, CRYPT_NEWKEYSET);
        if (!paramSet.empty()) {
            EXPECT_TRUE(
                a().setProvParam(h, PP_KEY_PARAMSET_OID, reinterpret_cast<const BYTE*>(paramSet.c_str()), 0))
                << hexText(a().lastError());
        }
        EXPECT_TRUE(a().genKey(h, AT_KEYEXCHANGE, flags, &key)) << hexText(a().lastError());
        return h;
    }

    HCRYPTHASH hashOf(HCRYPTPROV h, ALG_ID alg, const Bytes& data)
    {
        HCRYPTHASH hash = 0;
        EXPECT_TRUE(a().createHash(h, alg, 0, 0, &hash)) << hexText(a().lastError());
        EXPECT_TRUE(a().hashData(hash, data.data(), static_cast<DWORD>(data.size()), 0));
        return hash;
    }

    Bytes sign(HCRYPTHASH hash, DWORD keySpec = AT_KEYEXCHANGE)
    {
        DWORD size = 0;
        EXPECT_TRUE(a().signHash(hash, keySpec, nullptr, 0, nullptr, &size)) << hexText(a().lastError());
        Bytes out(size);
        EXPECT_TRUE(a().signHash(hash, keySpec, nullptr, 0, out.data(), &size)) << hexText(a().lastError());
        out.resize(size);
        return out;
    }

    Bytes exportPublic(HCRYPTKEY key)
    {
        DWORD size = 0;
        EXPECT_TRUE(a().exportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size));
        Bytes out(size);
        EXPECT_TRUE(a().exportKey(key, 0, PUBLICKEYBLOB, 0, out.data(), &size)) << hexText(a().lastError());
        return out;
    }

    gostsoft::TempDir m_dir;
    unsigned long m_openBefore = 0; // left over by a failed test before
};

inline Bytes bytes(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

inline DWORD dwordAt(const Bytes& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<DWORD>(b[at + 3]) << 24;
}

// A GOST SubjectPublicKeyInfo: the parameters carry the digest set when given.
inline Bytes gostSpki(const std::string& keyAlgorithm, const std::string& paramSet, const std::string& digest,
                      const Bytes& publicLe)
{
    using gostsoft::derConcat, gostsoft::derElement, gostsoft::derOid;
    Bytes params =
        derElement(0x30, digest.empty() ? derOid(paramSet) : derConcat({derOid(paramSet), derOid(digest)}));
    Bytes algorithm = derElement(0x30, derConcat({derOid(keyAlgorithm), params}));
    Bytes key = derElement(0x03, derConcat({Bytes{0}, derElement(0x04, publicLe)}));
    return derElement(0x30, derConcat({algorithm, key}));
}

// A certificate outline around a SubjectPublicKeyInfo (its signature is
// filler: the CSP does not check it).
inline Bytes certificate(const Bytes& spki, const std::string& commonName, std::uint8_t serial)
{
    using gostsoft::derConcat, gostsoft::derElement, gostsoft::derOid;
    Bytes name = derElement(
        0x30,
        derElement(0x31,
                   derElement(0x30, derConcat({derOid("2.5.4.3"), derElement(0x0C, bytes(commonName))}))));
    Bytes algorithm = derElement(0x30, derOid("1.2.643.7.1.1.3.2"));
    Bytes validity = derElement(0x30, derConcat({derElement(0x17, bytes("250101000000Z")),
                                                 derElement(0x17, bytes("350101000000Z"))}));
    Bytes tbs =
        derElement(0x30, derConcat({derElement(0xA0, derElement(0x02, Bytes{2})),
                                    derElement(0x02, Bytes{serial}), algorithm, name, validity, name, spki}));
    return derElement(0x30,
                      derConcat({tbs, algorithm, derElement(0x03, derConcat({Bytes{0}, Bytes(64, 0xAB)}))}));
}

// The SubjectPublicKeyInfo of a GOST R 34.10-2012-256 key from its exported blob.
inline Bytes spkiOfBlob(const Bytes& blob)
{
    return gostSpki("1.2.643.7.1.1.1.1", "1.2.643.2.2.35.1", "1.2.643.7.1.1.2.2",
                    Bytes(blob.end() - 64, blob.end()));
}

} // namespace labcsptest
