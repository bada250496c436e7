#include "attributes.h"

#include <cstring>

namespace labtoken
{

Bytes ulongBytes(CK_ULONG v)
{
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

std::optional<CK_ULONG> ulongOf(const Bytes& b)
{
    if (b.size() != sizeof(CK_ULONG))
        return std::nullopt;
    CK_ULONG v;
    std::memcpy(&v, b.data(), sizeof v);
    return v;
}

bool boolAttr(const Attributes& a, CK_ULONG type, bool fallback)
{
    auto it = a.find(type);
    if (it == a.end() || it->second.size() != 1)
        return fallback;
    return it->second[0] != 0;
}

std::optional<CK_ULONG> ulongAttr(const Attributes& a, CK_ULONG type)
{
    auto it = a.find(type);
    if (it == a.end())
        return std::nullopt;
    return ulongOf(it->second);
}

bool isBoolType(CK_ULONG t)
{
    switch (t) {
    case CKA_TOKEN:
    case CKA_PRIVATE:
    case CKA_MODIFIABLE:
    case CKA_SENSITIVE:
    case CKA_ENCRYPT:
    case CKA_DECRYPT:
    case CKA_WRAP:
    case CKA_UNWRAP:
    case CKA_SIGN:
    case CKA_SIGN_RECOVER:
    case CKA_VERIFY:
    case CKA_VERIFY_RECOVER:
    case CKA_DERIVE:
    case CKA_EXTRACTABLE:
    case CKA_LOCAL:
    case CKA_NEVER_EXTRACTABLE:
    case CKA_ALWAYS_SENSITIVE:
    case CKA_TRUSTED:
    case CKA_WRAP_WITH_TRUSTED:
    case CKA_ALWAYS_AUTHENTICATE:
        return true;
    default:
        return false;
    }
}

bool isUlongType(CK_ULONG t)
{
    return t == CKA_CLASS || t == CKA_KEY_TYPE || t == CKA_CERTIFICATE_TYPE ||
           t == CKA_CERTIFICATE_CATEGORY || t == CKA_MODULUS_BITS || t == CKA_KEY_GEN_MECHANISM;
}

bool isSensitiveType(CK_ULONG t)
{
    return t == CKA_VALUE || t == CKA_PRIVATE_EXPONENT || t == CKA_PRIME_1 || t == CKA_PRIME_2 ||
           t == CKA_EXPONENT_1 || t == CKA_EXPONENT_2 || t == CKA_COEFFICIENT || isInternal(t);
}

Attributes readTemplate(CK_ATTRIBUTE_PTR tmpl, CK_ULONG count)
{
    if (count && !tmpl)
        fail(CKR_ARGUMENTS_BAD);
    Attributes out;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& a = tmpl[i];
        if (a.ulValueLen && !a.pValue)
            fail(CKR_ARGUMENTS_BAD);
        if (a.ulValueLen > (1UL << 24))
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        if (isInternal(a.type))
            fail(CKR_ATTRIBUTE_TYPE_INVALID);
        const auto* p = static_cast<const std::uint8_t*>(a.pValue);
        Bytes value = a.ulValueLen ? Bytes(p, p + a.ulValueLen) : Bytes{};
        if (isBoolType(a.type) && value.size() != 1)
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        if (isUlongType(a.type) && value.size() != sizeof(CK_ULONG))
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        if (!out.emplace(a.type, std::move(value)).second)
            fail(CKR_TEMPLATE_INCONSISTENT);
    }
    return out;
}

Bytes mechanismParameter(CK_MECHANISM_PTR m)
{
    if (!m)
        fail(CKR_ARGUMENTS_BAD);
    if (m->ulParameterLen && !m->pParameter)
        fail(CKR_ARGUMENTS_BAD);
    if (m->ulParameterLen > 4096)
        fail(CKR_MECHANISM_PARAM_INVALID);
    const auto* p = static_cast<const std::uint8_t*>(m->pParameter);
    return m->ulParameterLen ? Bytes(p, p + m->ulParameterLen) : Bytes{};
}

// The attributes a new object has when its template leaves them out: the
// standard's defaults, and the lab's choices where the standard leaves them
// to the token (private keys sensitive, not extractable, able to sign).
// Keys made outside the token were never "always sensitive" nor "never
// extractable", and their generating mechanism is unknown; key generation
// sets these itself.
Attributes withDefaults(Attributes a, CK_OBJECT_CLASS cls)
{
    a.emplace(CKA_TOKEN, FALSE_BYTES);
    a.emplace(CKA_PRIVATE, cls == CKO_PRIVATE_KEY || cls == CKO_SECRET_KEY ? TRUE_BYTES : FALSE_BYTES);
    a.emplace(CKA_MODIFIABLE, TRUE_BYTES);
    a.emplace(CKA_LABEL, Bytes{});
    if (cls == CKO_CERTIFICATE)
        a.emplace(CKA_CERTIFICATE_TYPE, ulongBytes(CKC_X_509));
    if (cls != CKO_PUBLIC_KEY && cls != CKO_PRIVATE_KEY && cls != CKO_SECRET_KEY)
        return a;
    for (CK_ATTRIBUTE_TYPE t : {CKA_ID, CKA_START_DATE, CKA_END_DATE})
        a.emplace(t, Bytes{});
    a.emplace(CKA_DERIVE, FALSE_BYTES);
    a.emplace(CKA_LOCAL, FALSE_BYTES);
    a.emplace(CKA_KEY_GEN_MECHANISM, ulongBytes(CK_UNAVAILABLE_INFORMATION));
    if (cls != CKO_SECRET_KEY)
        a.emplace(CKA_SUBJECT, Bytes{});
    if (cls != CKO_PRIVATE_KEY)
        for (CK_ATTRIBUTE_TYPE t : {CKA_ENCRYPT, CKA_WRAP, CKA_TRUSTED})
            a.emplace(t, FALSE_BYTES);
    if (cls == CKO_PUBLIC_KEY) {
        a.emplace(CKA_VERIFY, TRUE_BYTES);
        a.emplace(CKA_VERIFY_RECOVER, FALSE_BYTES);
    }
    if (cls != CKO_PUBLIC_KEY) {
        a.emplace(CKA_SENSITIVE, TRUE_BYTES);
        a.emplace(CKA_EXTRACTABLE, FALSE_BYTES);
        a.emplace(CKA_SIGN, cls == CKO_PRIVATE_KEY ? TRUE_BYTES : FALSE_BYTES);
        for (CK_ATTRIBUTE_TYPE t :
             {CKA_DECRYPT, CKA_UNWRAP, CKA_WRAP_WITH_TRUSTED, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE})
            a.emplace(t, FALSE_BYTES);
    }
    if (cls == CKO_PRIVATE_KEY) {
        a.emplace(CKA_SIGN_RECOVER, FALSE_BYTES);
        a.emplace(CKA_ALWAYS_AUTHENTICATE, FALSE_BYTES);
    }
    if (cls == CKO_SECRET_KEY)
        a.emplace(CKA_VERIFY, FALSE_BYTES);
    return a;
}

std::optional<GostCurve> keyCurve(const Attributes& a)
{
    auto it = a.find(CKA_GOSTR3410_PARAMS);
    if (it == a.end())
        return std::nullopt;
    return curveByParamsDer(it->second);
}

RsaKeyPair rsaPrivate(const Attributes& a)
{
    RsaKeyPair k;
    auto get = [&](CK_ULONG t) {
        auto it = a.find(t);
        return it == a.end() ? Bytes{} : it->second;
    };
    k.n = get(CKA_MODULUS);
    k.e = get(CKA_PUBLIC_EXPONENT);
    k.d = get(CKA_PRIVATE_EXPONENT);
    k.p = get(LAB_RSA_P);
    k.q = get(LAB_RSA_Q);
    k.u = get(LAB_RSA_U);
    return k;
}

} // namespace labtoken
