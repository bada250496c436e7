// Object attributes of the lab tokens: the stored form, reading what callers
// pass (templates, mechanism parameters) and the defaults of new objects.
#pragma once

#include <map>
#include <optional>

#include "module.h"
#include "token_crypto.h"

namespace labtoken
{

// An object's attributes by type, values as the caller gave them.
using Attributes = std::map<std::uint64_t, Bytes>;

// Attributes the lab keeps for itself (RSA primes and libgcrypt's u): never
// shown, never matched.
constexpr CK_ULONG LAB_INTERNAL = 0xC0DE0000UL;
constexpr CK_ULONG LAB_RSA_P = 0xC0DE0001UL;
constexpr CK_ULONG LAB_RSA_Q = 0xC0DE0002UL;
constexpr CK_ULONG LAB_RSA_U = 0xC0DE0003UL;

inline bool isInternal(CK_ULONG type)
{
    return type >= LAB_INTERNAL && type < LAB_INTERNAL + 0x10000;
}

inline const Bytes TRUE_BYTES{1};
inline const Bytes FALSE_BYTES{0};

// A CK_ULONG value in its stored form (native byte order) and back; nullopt
// for bytes of another length.
Bytes ulongBytes(CK_ULONG v);
std::optional<CK_ULONG> ulongOf(const Bytes& b);

// A CK_BBOOL attribute, `fallback` when absent or malformed.
bool boolAttr(const Attributes& a, CK_ULONG type, bool fallback);
// A CK_ULONG attribute, nullopt when absent or malformed.
std::optional<CK_ULONG> ulongAttr(const Attributes& a, CK_ULONG type);

bool isBoolType(CK_ULONG t);
bool isUlongType(CK_ULONG t);
// Attributes of private keys never shown while the key is sensitive or
// unextractable (CKR_ATTRIBUTE_SENSITIVE).
bool isSensitiveType(CK_ULONG t);

// A caller's template: fails CKR_ARGUMENTS_BAD for null values with a length,
// CKR_ATTRIBUTE_VALUE_INVALID for sizes a boolean or CK_ULONG cannot have,
// CKR_ATTRIBUTE_TYPE_INVALID for the lab's internal types and
// CKR_TEMPLATE_INCONSISTENT for a type given twice.
Attributes readTemplate(CK_ATTRIBUTE_PTR tmpl, CK_ULONG count);

// The parameter of a mechanism (empty when none): fails CKR_ARGUMENTS_BAD
// for a null mechanism, CKR_MECHANISM_PARAM_INVALID when oversized.
Bytes mechanismParameter(CK_MECHANISM_PTR m);

Attributes withDefaults(Attributes a, CK_OBJECT_CLASS cls);

// The GOST curve of a key (from CKA_GOSTR3410_PARAMS), nullopt without one.
std::optional<GostCurve> keyCurve(const Attributes& a);
// An RSA private key object as libgcrypt's key parts.
RsaKeyPair rsaPrivate(const Attributes& a);

} // namespace labtoken
