// Certificate contexts and the current user's system stores ("MY"), under the
// names libcapi20 forwards to (ormid_lab_csp_<entry point>).
#include <algorithm>
#include <cstring>

#include "core.h"
#include "der.h"

namespace labcsp
{
namespace
{
constexpr DWORD ENCODING = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

PCCERT_CONTEXT newContext(Bytes der, const std::string& storeName, std::size_t index,
                          std::optional<KeyProvInfo> keyProvInfo, HCERTSTORE storeHandle)
{
    ParsedCertificate parsed = parseCertificate(der);
    auto h = std::make_unique<CertHandle>();
    h->der = std::move(der);
    h->serialLe.assign(parsed.serial.rbegin(), parsed.serial.rend());
    h->algorithmOid = parsed.algorithmOid;
    h->keyProvInfo = std::move(keyProvInfo);
    h->store = storeName;
    h->storeIndex = index;
    BYTE* base = h->der.data();
    CERT_INFO& info = h->info;
    info.dwVersion = parsed.version;
    info.SerialNumber = {static_cast<DWORD>(h->serialLe.size()), h->serialLe.data()};
    info.Issuer = {static_cast<DWORD>(parsed.issuer.length), base + parsed.issuer.at};
    info.Subject = {static_cast<DWORD>(parsed.subject.length), base + parsed.subject.at};
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = h->algorithmOid.data();
    if (parsed.algorithmParameters.length)
        info.SubjectPublicKeyInfo.Algorithm.Parameters = {
            static_cast<DWORD>(parsed.algorithmParameters.length), base + parsed.algorithmParameters.at};
    info.SubjectPublicKeyInfo.PublicKey = {static_cast<DWORD>(parsed.publicKey.length),
                                           base + parsed.publicKey.at, parsed.unusedBits};
    h->context = {ENCODING, base, static_cast<DWORD>(h->der.size()), &h->info, storeHandle};
    const CERT_CONTEXT* context = &h->context;
    registry().certificates.emplace(context, std::move(h));
    return context;
}

std::string storeName(const WCHAR* wide, const char* narrow)
{
    std::string name = wide ? toUtf8(wide) : std::string(narrow);
    if (name.empty() || name.size() > 32 ||
        !std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isalnum(c); }))
        fail(E_INVALIDARG);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    return name;
}

bool predefinedStore(const std::string& name)
{
    return name == "MY" || name == "ROOT" || name == "CA" || name == "ADDRESSBOOK";
}

// Where an enumeration or search goes on after `prev` in `certs`.
std::size_t after(const CertHandle& prev, const std::string& store,
                  const std::vector<StoredCertificate>& certs)
{
    if (prev.store == store) {
        if (prev.storeIndex < certs.size() && certs[prev.storeIndex].der == prev.der)
            return prev.storeIndex + 1;
        for (std::size_t i = 0; i < certs.size(); ++i)
            if (certs[i].der == prev.der)
                return i + 1;
        return prev.storeIndex; // it left the store: go on from where it was
    }
    return 0;
}

void releasePrevious(PCCERT_CONTEXT prev, std::optional<CertHandle>& copy)
{
    if (!prev)
        return;
    CertHandle& h = certificate(prev);
    copy.emplace();
    copy->der = h.der;
    copy->store = h.store;
    copy->storeIndex = h.storeIndex;
    registry().certificates.erase(prev);
}

bool matches(const StoredCertificate& c, DWORD findType, const void* para)
{
    switch (findType) {
    case CERT_FIND_ANY:
        return true;
    case CERT_FIND_EXISTING:
        return c.der == certificate(static_cast<PCCERT_CONTEXT>(para)).der;
    case CERT_FIND_PUBLIC_KEY: {
        const auto* info = static_cast<const CERT_PUBLIC_KEY_INFO*>(para);
        ParsedCertificate parsed = parseCertificate(c.der);
        if (info->Algorithm.pszObjId && parsed.algorithmOid != info->Algorithm.pszObjId)
            return false;
        const BYTE* bits = info->PublicKey.pbData;
        return info->PublicKey.cbData == parsed.publicKeyBits.size() &&
               (parsed.publicKeyBits.empty() ||
                (bits && std::memcmp(bits, parsed.publicKeyBits.data(), parsed.publicKeyBits.size()) == 0));
    }
    default:
        fail(E_INVALIDARG);
    }
}

// Adds a certificate (and its key-provider property) to a store by the
// CryptoAPI's dispositions; returns its index there.
std::size_t addToStore(const StoreHandle& s, const Bytes& der, const std::optional<KeyProvInfo>& property,
                       DWORD disposition)
{
    if (s.readOnly)
        fail(ERROR_ACCESS_DENIED);
    auto certs = loadStore(s.name);
    auto same =
        std::find_if(certs.begin(), certs.end(), [&](const StoredCertificate& c) { return c.der == der; });
    std::size_t index = static_cast<std::size_t>(same - certs.begin());
    switch (disposition) {
    case CERT_STORE_ADD_NEW:
        if (same != certs.end())
            fail(CRYPT_E_EXISTS);
        certs.push_back({der, property});
        break;
    case CERT_STORE_ADD_USE_EXISTING:
        if (same == certs.end())
            certs.push_back({der, property});
        else if (property)
            same->keyProvInfo = property;
        break;
    case CERT_STORE_ADD_REPLACE_EXISTING:
        if (same == certs.end())
            certs.push_back({der, property});
        else
            *same = {der, property};
        break;
    case CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES:
        if (same == certs.end())
            certs.push_back({der, property});
        else if (property)
            same->keyProvInfo = property;
        break;
    case CERT_STORE_ADD_ALWAYS:
        index = certs.size();
        certs.push_back({der, property});
        break;
    default:
        fail(E_INVALIDARG);
    }
    saveStore(s.name, certs);
    return index;
}

PCCERT_CONTEXT addAndReturn(HCERTSTORE hStore, const Bytes& der, const std::optional<KeyProvInfo>& property,
                            DWORD disposition, PCCERT_CONTEXT* out, CallLog& log)
{
    const StoreHandle& s = store(hStore);
    log.add("store=" + s.name + " disposition=" + std::to_string(disposition));
    parseCertificate(der);
    std::size_t index = addToStore(s, der, property, disposition);
    if (!out)
        return nullptr;
    const auto certs = loadStore(s.name);
    *out = newContext(der, s.name, index, certs[index].keyProvInfo, hStore);
    return *out;
}
} // namespace
} // namespace labcsp

using namespace labcsp;

LAB_CSP_EXPORT PCCERT_CONTEXT ormid_lab_csp_CertCreateCertificateContext(DWORD dwCertEncodingType,
                                                                         const BYTE* pbCertEncoded,
                                                                         DWORD cbCertEncoded)
{
    return call(
        "capi20", "CertCreateCertificateContext", PCCERT_CONTEXT{}, [&](CallLog& log) -> PCCERT_CONTEXT {
            log.add("encoding=" + hexNumber(dwCertEncodingType) + " length=" + std::to_string(cbCertEncoded));
            if (!(dwCertEncodingType & X509_ASN_ENCODING) || (!pbCertEncoded && cbCertEncoded))
                fail(E_INVALIDARG);
            if (cbCertEncoded == 0)
                fail(CRYPT_E_ASN1_EOD);
            PCCERT_CONTEXT c =
                newContext(Bytes(pbCertEncoded, pbCertEncoded + cbCertEncoded), {}, 0, {}, nullptr);
            log.add("context=" + hexNumber(reinterpret_cast<std::uintptr_t>(c)));
            return c;
        });
}

LAB_CSP_EXPORT BOOL ormid_lab_csp_CertFreeCertificateContext(PCCERT_CONTEXT pCertContext)
{
    return call("capi20", "CertFreeCertificateContext", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("context=" + hexNumber(reinterpret_cast<std::uintptr_t>(pCertContext)));
        if (!pCertContext)
            return ORMID_CAPI_TRUE;
        certificate(pCertContext);
        registry().certificates.erase(pCertContext);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT HCERTSTORE ormid_lab_csp_CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                                      HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags,
                                                      const void* pvPara)
{
    (void)dwEncodingType;
    (void)hCryptProv;
    return call("capi20", "CertOpenStore", HCERTSTORE{}, [&](CallLog& log) -> HCERTSTORE {
        const bool wide = lpszStoreProvider == CERT_STORE_PROV_SYSTEM_W;
        if ((!wide && lpszStoreProvider != CERT_STORE_PROV_SYSTEM_A) || !pvPara)
            fail(E_INVALIDARG);
        const DWORD location = dwFlags & CERT_SYSTEM_STORE_LOCATION_MASK;
        if (location != 0 && location != CERT_SYSTEM_STORE_CURRENT_USER)
            fail(ERROR_ACCESS_DENIED); // only the current user's stores
        auto s = std::make_unique<StoreHandle>();
        s->name = wide ? storeName(static_cast<const WCHAR*>(pvPara), nullptr)
                       : storeName(nullptr, static_cast<const char*>(pvPara));
        s->readOnly = dwFlags & CERT_STORE_READONLY_FLAG;
        log.add("store=" + s->name + " flags=" + hexNumber(dwFlags));
        if ((dwFlags & CERT_STORE_OPEN_EXISTING_FLAG) && !predefinedStore(s->name) && !storeExists(s->name))
            fail(ERROR_FILE_NOT_FOUND);
        requireStateDir();
        HCERTSTORE h = s.get();
        registry().stores.emplace(h, std::move(s));
        return h;
    });
}

LAB_CSP_EXPORT BOOL ormid_lab_csp_CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags)
{
    return call("capi20", "CertCloseStore", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("flags=" + hexNumber(dwFlags));
        if (!hCertStore)
            return ORMID_CAPI_TRUE;
        log.add("store=" + store(hCertStore).name);
        registry().stores.erase(hCertStore);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL ormid_lab_csp_CertAddCertificateContextToStore(HCERTSTORE hCertStore,
                                                                   PCCERT_CONTEXT pCertContext,
                                                                   DWORD dwAddDisposition,
                                                                   PCCERT_CONTEXT* ppStoreContext)
{
    return call("capi20", "CertAddCertificateContextToStore", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        if (ppStoreContext)
            *ppStoreContext = nullptr;
        if (!pCertContext)
            fail(E_INVALIDARG);
        const CertHandle& c = certificate(pCertContext);
        addAndReturn(hCertStore, c.der, c.keyProvInfo, dwAddDisposition, ppStoreContext, log);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL ormid_lab_csp_CertAddEncodedCertificateToStore(
    HCERTSTORE hCertStore, DWORD dwCertEncodingType, const BYTE* pbCertEncoded, DWORD cbCertEncoded,
    DWORD dwAddDisposition, PCCERT_CONTEXT* ppCertContext)
{
    return call("capi20", "CertAddEncodedCertificateToStore", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        if (ppCertContext)
            *ppCertContext = nullptr;
        if (!(dwCertEncodingType & X509_ASN_ENCODING) || !pbCertEncoded)
            fail(E_INVALIDARG);
        addAndReturn(hCertStore, Bytes(pbCertEncoded, pbCertEncoded + cbCertEncoded), std::nullopt,
                     dwAddDisposition, ppCertContext, log);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL ormid_lab_csp_CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext,
                                                                    DWORD dwPropId, DWORD dwFlags,
                                                                    const void* pvData)
{
    return call("capi20", "CertSetCertificateContextProperty", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("property=" + std::to_string(dwPropId) + " flags=" + hexNumber(dwFlags));
        CertHandle& c = certificate(pCertContext);
        if (dwPropId != CERT_KEY_PROV_INFO_PROP_ID)
            fail(E_INVALIDARG); // the lab keeps the key-provider property only
        std::optional<KeyProvInfo> property;
        if (pvData) {
            const auto* info = static_cast<const CRYPT_KEY_PROV_INFO*>(pvData);
            if (!info->pwszContainerName)
                fail(E_INVALIDARG);
            property = KeyProvInfo{toUtf8(info->pwszContainerName), toUtf8(info->pwszProvName),
                                   info->dwProvType, info->dwFlags, info->dwKeySpec};
            log.add("container=" + printable(property->container) +
                    " type=" + std::to_string(info->dwProvType) + " keyspec=" + std::to_string(info->dwKeySpec));
        }
        c.keyProvInfo = property;
        // A context of a store changes the store's certificate too.
        if (!c.store.empty()) {
            auto certs = loadStore(c.store);
            std::size_t i =
                c.storeIndex < certs.size() && certs[c.storeIndex].der == c.der ? c.storeIndex : 0;
            for (; i < certs.size(); ++i)
                if (certs[i].der == c.der) {
                    certs[i].keyProvInfo = property;
                    saveStore(c.store, certs);
                    break;
                }
        }
        return ORMID_CAPI_TRUE;
    });
}

// Not called by the signing library: lets tests read the key-provider
// property back (CRYPT_KEY_PROV_INFO followed by its strings).
LAB_CSP_EXPORT BOOL ormid_lab_csp_CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext,
                                                                    DWORD dwPropId, void* pvData,
                                                                    DWORD* pcbData)
{
    return call("capi20", "CertGetCertificateContextProperty", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("property=" + std::to_string(dwPropId));
        const CertHandle& c = certificate(pCertContext);
        if (!pcbData)
            fail(E_INVALIDARG);
        if (dwPropId != CERT_KEY_PROV_INFO_PROP_ID || !c.keyProvInfo)
            fail(CRYPT_E_NOT_FOUND);
        const std::wstring container = fromUtf8(c.keyProvInfo->container);
        const std::wstring providerName = fromUtf8(c.keyProvInfo->provider);
        const std::size_t header = sizeof(CRYPT_KEY_PROV_INFO);
        const std::size_t size = header + (container.size() + 1 + providerName.size() + 1) * sizeof(WCHAR);
        if (!pvData) {
            *pcbData = static_cast<DWORD>(size);
            return ORMID_CAPI_TRUE;
        }
        if (*pcbData < size) {
            *pcbData = static_cast<DWORD>(size);
            fail(ERROR_MORE_DATA);
        }
        auto* base = static_cast<BYTE*>(pvData);
        auto* names = reinterpret_cast<WCHAR*>(base + header);
        std::memcpy(names, container.c_str(), (container.size() + 1) * sizeof(WCHAR));
        WCHAR* provName = names + container.size() + 1;
        std::memcpy(provName, providerName.c_str(), (providerName.size() + 1) * sizeof(WCHAR));
        CRYPT_KEY_PROV_INFO info{names, provName, c.keyProvInfo->provType, c.keyProvInfo->flags,
                                 0,     nullptr,  c.keyProvInfo->keySpec};
        std::memcpy(base, &info, sizeof info);
        *pcbData = static_cast<DWORD>(size);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT PCCERT_CONTEXT ormid_lab_csp_CertFindCertificateInStore(HCERTSTORE hCertStore,
                                                                       DWORD dwCertEncodingType,
                                                                       DWORD dwFindFlags, DWORD dwFindType,
                                                                       const void* pvFindPara,
                                                                       PCCERT_CONTEXT pPrevCertContext)
{
    (void)dwCertEncodingType;
    (void)dwFindFlags;
    return call("capi20", "CertFindCertificateInStore", PCCERT_CONTEXT{},
                [&](CallLog& log) -> PCCERT_CONTEXT {
                    log.add("type=" + hexNumber(dwFindType));
                    const StoreHandle& s = store(hCertStore);
                    log.add("store=" + s.name);
                    std::optional<CertHandle> prev;
                    releasePrevious(pPrevCertContext, prev);
                    if (dwFindType != CERT_FIND_ANY && !pvFindPara)
                        fail(E_INVALIDARG);
                    const auto certs = loadStore(s.name);
                    for (std::size_t i = prev ? after(*prev, s.name, certs) : 0; i < certs.size(); ++i)
                        if (matches(certs[i], dwFindType, pvFindPara)) {
                            log.add("index=" + std::to_string(i));
                            return newContext(certs[i].der, s.name, i, certs[i].keyProvInfo, hCertStore);
                        }
                    fail(CRYPT_E_NOT_FOUND);
                });
}

LAB_CSP_EXPORT PCCERT_CONTEXT ormid_lab_csp_CertEnumCertificatesInStore(HCERTSTORE hCertStore,
                                                                        PCCERT_CONTEXT pPrevCertContext)
{
    return call("capi20", "CertEnumCertificatesInStore", PCCERT_CONTEXT{},
                [&](CallLog& log) -> PCCERT_CONTEXT {
                    const StoreHandle& s = store(hCertStore);
                    log.add("store=" + s.name);
                    std::optional<CertHandle> prev;
                    releasePrevious(pPrevCertContext, prev);
                    const auto certs = loadStore(s.name);
                    const std::size_t i = prev ? after(*prev, s.name, certs) : 0;
                    if (i >= certs.size())
                        fail(CRYPT_E_NOT_FOUND);
                    log.add("index=" + std::to_string(i));
                    return newContext(certs[i].der, s.name, i, certs[i].keyProvInfo, hCertStore);
                });
}
