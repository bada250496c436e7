#include "codes.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace labcsp
{
namespace
{
const std::map<std::string, DWORD>& names()
{
    static const std::map<std::string, DWORD> table = {
#define LAB_CSP_NAME(n) {#n, n}
        LAB_CSP_NAME(ERROR_FILE_NOT_FOUND),
        LAB_CSP_NAME(ERROR_ACCESS_DENIED),
        LAB_CSP_NAME(ERROR_INVALID_HANDLE),
        LAB_CSP_NAME(ERROR_NOT_SUPPORTED),
        LAB_CSP_NAME(ERROR_INVALID_PARAMETER),
        LAB_CSP_NAME(ERROR_MOD_NOT_FOUND),
        LAB_CSP_NAME(ERROR_MORE_DATA),
        LAB_CSP_NAME(ERROR_NO_MORE_ITEMS),
        LAB_CSP_NAME(ERROR_CANCELLED),
        LAB_CSP_NAME(E_INVALIDARG),
        LAB_CSP_NAME(NTE_BAD_UID),
        LAB_CSP_NAME(NTE_BAD_HASH),
        LAB_CSP_NAME(NTE_BAD_KEY),
        LAB_CSP_NAME(NTE_BAD_LEN),
        LAB_CSP_NAME(NTE_BAD_DATA),
        LAB_CSP_NAME(NTE_BAD_SIGNATURE),
        LAB_CSP_NAME(NTE_BAD_ALGID),
        LAB_CSP_NAME(NTE_BAD_FLAGS),
        LAB_CSP_NAME(NTE_BAD_TYPE),
        LAB_CSP_NAME(NTE_BAD_KEY_STATE),
        LAB_CSP_NAME(NTE_BAD_HASH_STATE),
        LAB_CSP_NAME(NTE_NO_KEY),
        LAB_CSP_NAME(NTE_NO_MEMORY),
        LAB_CSP_NAME(NTE_EXISTS),
        LAB_CSP_NAME(NTE_PERM),
        LAB_CSP_NAME(NTE_NOT_FOUND),
        LAB_CSP_NAME(NTE_BAD_PUBLIC_KEY),
        LAB_CSP_NAME(NTE_BAD_KEYSET),
        LAB_CSP_NAME(NTE_PROV_TYPE_NOT_DEF),
        LAB_CSP_NAME(NTE_KEYSET_NOT_DEF),
        LAB_CSP_NAME(NTE_KEYSET_ENTRY_BAD),
        LAB_CSP_NAME(NTE_PROVIDER_DLL_FAIL),
        LAB_CSP_NAME(NTE_BAD_KEYSET_PARAM),
        LAB_CSP_NAME(NTE_FAIL),
        LAB_CSP_NAME(NTE_SILENT_CONTEXT),
        LAB_CSP_NAME(NTE_TOKEN_KEYSET_STORAGE_FULL),
        LAB_CSP_NAME(NTE_NOT_SUPPORTED),
        LAB_CSP_NAME(CRYPT_E_UNKNOWN_ALGO),
        LAB_CSP_NAME(CRYPT_E_RECIPIENT_NOT_FOUND),
        LAB_CSP_NAME(CRYPT_E_NOT_FOUND),
        LAB_CSP_NAME(CRYPT_E_EXISTS),
        LAB_CSP_NAME(CRYPT_E_NO_KEY_PROPERTY),
        LAB_CSP_NAME(CRYPT_E_NO_DECRYPT_CERT),
        LAB_CSP_NAME(CRYPT_E_ASN1_ERROR),
        LAB_CSP_NAME(CRYPT_E_ASN1_EOD),
        LAB_CSP_NAME(CRYPT_E_ASN1_BADTAG),
        LAB_CSP_NAME(SCARD_E_NO_SUCH_CERTIFICATE),
        LAB_CSP_NAME(SCARD_W_WRONG_CHV),
        LAB_CSP_NAME(SCARD_W_CHV_BLOCKED),
        LAB_CSP_NAME(SCARD_W_CANCELLED_BY_USER),
#undef LAB_CSP_NAME
    };
    return table;
}
} // namespace

std::optional<std::uint64_t> errorValue(const std::string& text)
{
    auto it = names().find(text);
    if (it != names().end())
        return it->second;
    if (text.empty() || text[0] == '-')
        return std::nullopt;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || v > 0xFFFFFFFFull)
        return std::nullopt;
    return v;
}

std::string errorName(DWORD value)
{
    for (const auto& [name, v] : names())
        if (v == value)
            return name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(value));
    return buf;
}

} // namespace labcsp
