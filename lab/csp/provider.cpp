// Provider contexts: acquisition by container name, release, provider
// parameters; the last error and the open-handle count.
#include "containers.h"
#include "crypto.h"

namespace labcsp
{
namespace
{
constexpr DWORD KNOWN_ACQUIRE_FLAGS =
    CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET | CRYPT_MACHINE_KEYSET | CRYPT_SILENT;

// The ids of the containers a context of `type` lists.
std::vector<std::string> listContainers(const Settings& settings, DWORD type)
{
    std::vector<std::string> ids;
    auto all = loadContainers();
    for (const auto& reader : settings.readers)
        for (const auto& c : all)
            if (settings.reader(c.reader) == reader && settings.isConnected(reader) && fitsType(c, type))
                ids.push_back(c.id);
    return ids;
}

Bytes providerParam(ProviderHandle& p, DWORD param, BYTE* data, DWORD* length, DWORD flags, CallLog& log)
{
    const Settings settings = loadSettings();
    switch (param) {
    case PP_ENUMREADERS: {
        if (flags & CRYPT_FIRST)
            p.readerCursor = 0;
        if (p.readerCursor >= settings.readers.size())
            fail(ERROR_NO_MORE_ITEMS);
        Bytes value = textValue(settings.readers[p.readerCursor]);
        if (put(value, data, length))
            ++p.readerCursor;
        return value;
    }
    case PP_ENUMCONTAINERS: {
        if ((flags & CRYPT_FIRST) || !p.containerList) {
            p.containerList = listContainers(settings, p.type);
            p.containerCursor = 0;
        }
        // A container deleted since the listing began is skipped.
        while (p.containerCursor < p.containerList->size()) {
            try {
                Container c = loadContainer((*p.containerList)[p.containerCursor]);
                Bytes value = textValue((flags & CRYPT_UNIQUE) ? c.unique
                                        : (flags & CRYPT_FQCN) ? c.fullName()
                                                               : c.name);
                if (put(value, data, length))
                    ++p.containerCursor;
                return value;
            } catch (const Fail& f) {
                if (f.error != NTE_BAD_KEYSET)
                    throw;
                ++p.containerCursor;
            }
        }
        fail(ERROR_NO_MORE_ITEMS);
    }
    case PP_VERSION:
        return dwordValue(settings.major << 8 | settings.minor);
    case PP_NAME:
        return textValue(providerName(settings, p.type));
    case PP_PROVTYPE:
        return dwordValue(p.type);
    case PP_CONTAINER:
        return textValue(liveContainer(p.container).name);
    case PP_UNIQUE_CONTAINER:
        return textValue(liveContainer(p.container).unique);
    case PP_FQCN: {
        if (!p.container.empty())
            return textValue(liveContainer(p.container).fullName());
        // A verify context without a container: the default container, if any.
        auto c = settings.defaultContainer.empty() ? std::nullopt
                                                   : findContainer(settings, settings.defaultContainer);
        return textValue(c && fitsType(*c, p.type) ? c->fullName() : std::string());
    }
    case PP_CONTAINER_ALIAS:
        return textValue(liveContainer(p.container).alias);
    case PP_KEY_PARAMSET_OID: {
        if (!isGostType(p.type))
            fail(NTE_BAD_TYPE);
        if (!p.container.empty()) {
            Container c = liveContainer(p.container);
            if (c.key && !c.key->isRsa())
                return textValue(c.key->paramSet);
        }
        return textValue(p.keyParamSet.empty() ? defaultParamSet(gostKeyAlg(p.type)) : p.keyParamSet);
    }
    default:
        log.add("unknown");
        fail(NTE_BAD_TYPE);
    }
}
} // namespace

} // namespace labcsp

using namespace labcsp;

LAB_CSP_EXPORT BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                                         DWORD dwProvType, DWORD dwFlags)
{
    return call("capi10", "CryptAcquireContextA", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        const std::string name = szContainer ? szContainer : "";
        log.add("container=" + (szContainer ? printable(name) : std::string("(null)")) +
                " type=" + std::to_string(dwProvType) + " flags=" + hexNumber(dwFlags));
        const bool remove = dwFlags & CRYPT_DELETEKEYSET;
        if (!phProv && !remove)
            fail(ERROR_INVALID_PARAMETER);
        const Settings settings = loadSettings();
        if (!settings.servesType(dwProvType))
            fail(NTE_PROV_TYPE_NOT_DEF);
        if (szProvider && providerName(settings, dwProvType) != szProvider)
            fail(NTE_KEYSET_NOT_DEF);
        const bool verify = (dwFlags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
        const bool create = dwFlags & CRYPT_NEWKEYSET;
        if ((dwFlags & ~KNOWN_ACQUIRE_FLAGS) || ((dwFlags & CRYPT_VERIFYCONTEXT) && !verify) ||
            (create && remove) || (verify && (create || remove)))
            fail(NTE_BAD_FLAGS);

        ProviderHandle p;
        p.type = dwProvType;
        p.verify = verify;
        if (create) {
            Container c = createContainer(settings, name);
            p.container = c.id;
            log.add("unique=" + printable(c.unique));
        } else if (!name.empty() || !verify) {
            const std::string wanted = name.empty() ? settings.defaultContainer : name;
            auto c = wanted.empty() ? std::nullopt : findContainer(settings, wanted);
            if (!c || !fitsType(*c, dwProvType))
                fail(NTE_BAD_KEYSET);
            if (remove) {
                removeContainer(c->id);
                if (phProv)
                    *phProv = 0;
                return ORMID_CAPI_TRUE;
            }
            p.container = c->id;
        }
        const HCRYPTPROV h = registry().newHandle();
        registry().providers.emplace(h, std::move(p));
        *phProv = h;
        log.add("handle=" + hexNumber(h));
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags)
{
    return call("capi10", "CryptReleaseContext", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("handle=" + hexNumber(hProv));
        provider(hProv);
        if (dwFlags != 0)
            fail(NTE_BAD_FLAGS);
        registry().providers.erase(hProv);
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                      DWORD dwFlags)
{
    return call("capi10", "CryptGetProvParam", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("handle=" + hexNumber(hProv) + " param=" + std::to_string(dwParam) +
                " flags=" + hexNumber(dwFlags));
        ProviderHandle& p = provider(hProv);
        if (!pdwDataLen)
            fail(ERROR_INVALID_PARAMETER);
        Bytes value = providerParam(p, dwParam, pbData, pdwDataLen, dwFlags, log);
        // The enumerations hand their items out themselves.
        if (dwParam != PP_ENUMREADERS && dwParam != PP_ENUMCONTAINERS)
            put(value, pbData, pdwDataLen);
        log.add("length=" + std::to_string(value.size()));
        return ORMID_CAPI_TRUE;
    });
}

LAB_CSP_EXPORT BOOL CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags)
{
    return call("capi10", "CryptSetProvParam", ORMID_CAPI_FALSE, [&](CallLog& log) -> BOOL {
        log.add("handle=" + hexNumber(hProv) + " param=" + std::to_string(dwParam) +
                " flags=" + hexNumber(dwFlags));
        ProviderHandle& p = provider(hProv);
        switch (dwParam) {
        case PP_KEYEXCHANGE_PIN:
        case PP_SIGNATURE_PIN:
            // The lab keeps no container passwords (and never logs them).
            return ORMID_CAPI_TRUE;
        case PP_KEY_PARAMSET_OID: {
            if (!isGostType(p.type))
                fail(NTE_BAD_TYPE);
            std::string oid = textParam(pbData, 64);
            log.add("oid=" + printable(oid));
            const ParamSet* set = paramSet(oid);
            if (!set || !paramSetFits(gostKeyAlg(p.type), *set))
                fail(NTE_BAD_DATA);
            p.keyParamSet = oid;
            return ORMID_CAPI_TRUE;
        }
        case PP_CONTAINER_ALIAS: {
            if (p.verify)
                fail(NTE_PERM);
            Container c = liveContainer(p.container);
            c.alias = textParam(pbData, 255);
            saveContainer(c);
            return ORMID_CAPI_TRUE;
        }
        default:
            fail(NTE_BAD_TYPE);
        }
    });
}

// The calling thread's last error, asked through `module`'s GetLastError.
// Only an injected value is logged: the library asks after every failure.
LAB_CSP_EXPORT DWORD ormid_lab_csp_last_error(const char* module)
{
    std::optional<DWORD> fault;
    {
        std::lock_guard<std::mutex> guard(callMutex());
        try {
            StateLock lock;
            fault = injectedFault(module, "GetLastError");
            if (fault)
                logCall(module, "GetLastError", {}, *fault, true);
        } catch (const std::exception&) {
        } catch (const Fail&) {
        }
    }
    return fault ? *fault : lastError();
}

LAB_CSP_EXPORT DWORD GetLastError(void)
{
    return ormid_lab_csp_last_error("capi10");
}

// The number of provider, key, hash, store and certificate handles open now.
LAB_CSP_EXPORT unsigned long ormid_lab_csp_open_handles(void)
{
    std::lock_guard<std::mutex> guard(callMutex());
    return registry().open();
}
