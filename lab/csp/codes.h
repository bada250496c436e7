// Values of the simulated CSP beyond those the signing library declares
// (src/capi/capi_types.h): further error values and constants of the
// CryptoAPI that the lab answers with or accepts, and the names the fault
// rules and the call log use for error values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "capi/capi_types.h"

#ifndef ERROR_INVALID_HANDLE
#define ERROR_INVALID_HANDLE 6u
#endif
#ifndef ERROR_NOT_SUPPORTED
#define ERROR_NOT_SUPPORTED 50u
#endif
#ifndef E_INVALIDARG
#define E_INVALIDARG 0x80070057u
#endif
#ifndef NTE_BAD_UID
#define NTE_BAD_UID 0x80090001u
#endif
#ifndef NTE_BAD_HASH
#define NTE_BAD_HASH 0x80090002u
#endif
#ifndef NTE_BAD_KEY
#define NTE_BAD_KEY 0x80090003u
#endif
#ifndef NTE_BAD_LEN
#define NTE_BAD_LEN 0x80090004u
#endif
#ifndef NTE_BAD_KEY_STATE
#define NTE_BAD_KEY_STATE 0x8009000Bu
#endif
#ifndef NTE_BAD_HASH_STATE
#define NTE_BAD_HASH_STATE 0x8009000Cu
#endif
#ifndef NTE_NO_MEMORY
#define NTE_NO_MEMORY 0x8009000Eu
#endif
#ifndef NTE_BAD_PUBLIC_KEY
#define NTE_BAD_PUBLIC_KEY 0x80090015u
#endif
#ifndef NTE_NOT_SUPPORTED
#define NTE_NOT_SUPPORTED 0x80090029u
#endif
#ifndef CRYPT_E_EXISTS
#define CRYPT_E_EXISTS 0x80092005u
#endif
#ifndef CRYPT_E_ASN1_EOD
#define CRYPT_E_ASN1_EOD 0x80093102u
#endif

#ifndef PP_PROVTYPE
#define PP_PROVTYPE 16
#endif
#ifndef CRYPT_NOHASHOID
#define CRYPT_NOHASHOID 0x00000001u
#endif
#ifndef CERT_STORE_PROV_SYSTEM_A
#define CERT_STORE_PROV_SYSTEM_A ((LPCSTR)9)
#endif
#ifndef CERT_SYSTEM_STORE_LOCATION_MASK
#define CERT_SYSTEM_STORE_LOCATION_MASK 0x00FF0000u
#endif
#ifndef CERT_STORE_OPEN_EXISTING_FLAG
#define CERT_STORE_OPEN_EXISTING_FLAG 0x00004000u
#endif
#ifndef CERT_STORE_READONLY_FLAG
#define CERT_STORE_READONLY_FLAG 0x00008000u
#endif
#ifndef CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES
#define CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES 5
#endif
#ifndef CERT_FIND_EXISTING
#define CERT_FIND_EXISTING 0x000D0000u
#endif

namespace labcsp
{

// The value of an error name ("NTE_BAD_KEYSET", "ERROR_MORE_DATA", ...) or
// of a number ("0x80090016", "87"); nullopt for anything else.
std::optional<std::uint64_t> errorValue(const std::string& text);
// The name of an error value, or its hexadecimal form when it has none.
std::string errorName(DWORD value);

} // namespace labcsp
