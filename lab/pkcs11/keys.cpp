// Key pair generation: GOST R 34.10 pairs on the make's parameter sets, RSA
// pairs where the make has them.
#include <algorithm>

#include "calls.h"
#include "make_traits.h"

using namespace labtoken;

LAB_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                   CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                                   CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                                   CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey)
{
    const std::string detail =
        sessionDetail(hSession) + " mechanism=" + (pMechanism ? hexNumber(pMechanism->mechanism) : "null");
    return call("C_GenerateKeyPair", detail, [&]() -> CK_RV {
        if (!phPublicKey || !phPrivateKey)
            fail(CKR_ARGUMENTS_BAD);
        Session& s = session(hSession);
        const Bytes parameter = mechanismParameter(pMechanism);
        const CK_MECHANISM_TYPE mech = pMechanism->mechanism;
        if (!supports(mech) || (mech != CKM_GOSTR3410_KEY_PAIR_GEN &&
                                mech != CKM_GOSTR3410_512_KEY_PAIR_GEN && mech != CKM_RSA_PKCS_KEY_PAIR_GEN))
            fail(CKR_MECHANISM_INVALID);
        if (!parameter.empty())
            fail(CKR_MECHANISM_PARAM_INVALID);
        Attributes pub = readTemplate(pPublicKeyTemplate, ulPublicKeyAttributeCount);
        Attributes priv = readTemplate(pPrivateKeyTemplate, ulPrivateKeyAttributeCount);
        if (ulongAttr(pub, CKA_CLASS).value_or(CKO_PUBLIC_KEY) != CKO_PUBLIC_KEY ||
            ulongAttr(priv, CKA_CLASS).value_or(CKO_PRIVATE_KEY) != CKO_PRIVATE_KEY)
            fail(CKR_TEMPLATE_INCONSISTENT);
        if (pub.count(CKA_VALUE) || priv.count(CKA_VALUE) || pub.count(CKA_MODULUS) ||
            priv.count(CKA_MODULUS))
            fail(CKR_TEMPLATE_INCONSISTENT);
        if (loginOf(s.serial) != CKU_USER)
            fail(CKR_USER_NOT_LOGGED_IN);
        Device device = liveDevice(s);
        checkRejected(device, pub);
        checkRejected(device, priv);
        pub[CKA_CLASS] = ulongBytes(CKO_PUBLIC_KEY);
        priv[CKA_CLASS] = ulongBytes(CKO_PRIVATE_KEY);
        pub[CKA_LOCAL] = priv[CKA_LOCAL] = TRUE_BYTES;
        pub[CKA_KEY_GEN_MECHANISM] = priv[CKA_KEY_GEN_MECHANISM] = ulongBytes(mech);
        priv[CKA_ALWAYS_SENSITIVE] = boolAttr(priv, CKA_SENSITIVE, true) ? TRUE_BYTES : FALSE_BYTES;
        priv[CKA_NEVER_EXTRACTABLE] = boolAttr(priv, CKA_EXTRACTABLE, false) ? FALSE_BYTES : TRUE_BYTES;

        if (mech == CKM_RSA_PKCS_KEY_PAIR_GEN) {
            auto bits = ulongAttr(pub, CKA_MODULUS_BITS);
            if (!bits)
                fail(CKR_TEMPLATE_INCOMPLETE);
            if (*bits < 512 || *bits > 4096 || *bits % 256)
                fail(CKR_KEY_SIZE_RANGE);
            if (ulongAttr(pub, CKA_KEY_TYPE).value_or(CKK_RSA) != CKK_RSA ||
                ulongAttr(priv, CKA_KEY_TYPE).value_or(CKK_RSA) != CKK_RSA)
                fail(CKR_TEMPLATE_INCONSISTENT);
            checkRoom(device, boolAttr(pub, CKA_TOKEN, false) + boolAttr(priv, CKA_TOKEN, false));
            RsaKeyPair k = rsaGenerate(static_cast<unsigned>(*bits));
            pub[CKA_KEY_TYPE] = priv[CKA_KEY_TYPE] = ulongBytes(CKK_RSA);
            pub[CKA_MODULUS] = priv[CKA_MODULUS] = k.n;
            pub[CKA_PUBLIC_EXPONENT] = priv[CKA_PUBLIC_EXPONENT] = k.e;
            priv[CKA_PRIVATE_EXPONENT] = k.d;
            priv[LAB_RSA_P] = k.p;
            priv[LAB_RSA_Q] = k.q;
            priv[LAB_RSA_U] = k.u;
        } else {
            Bytes params =
                pub.count(CKA_GOSTR3410_PARAMS) ? pub[CKA_GOSTR3410_PARAMS] : priv[CKA_GOSTR3410_PARAMS];
            if (params.empty())
                fail(CKR_TEMPLATE_INCOMPLETE);
            if (priv.count(CKA_GOSTR3410_PARAMS) && priv[CKA_GOSTR3410_PARAMS] != params)
                fail(CKR_TEMPLATE_INCONSISTENT);
            auto curve = curveByParamsDer(params);
            bool allowed = false;
            for (const auto& rule : gostGenRules())
                if (rule.mechanism == mech && curve &&
                    std::find(rule.paramSets.begin(), rule.paramSets.end(), curve->oid) !=
                        rule.paramSets.end())
                    allowed = true;
            if (!allowed)
                fail(CKR_ATTRIBUTE_VALUE_INVALID);
            const CK_KEY_TYPE type = mech == CKM_GOSTR3410_KEY_PAIR_GEN ? CKK_GOSTR3410 : CKK_GOSTR3410_512;
            if (ulongAttr(pub, CKA_KEY_TYPE).value_or(type) != type ||
                ulongAttr(priv, CKA_KEY_TYPE).value_or(type) != type)
                fail(CKR_TEMPLATE_INCONSISTENT);
            checkRoom(device, boolAttr(pub, CKA_TOKEN, false) + boolAttr(priv, CKA_TOKEN, false));
            GostKeyPair k = gostGenerate(*curve);
            pub[CKA_KEY_TYPE] = priv[CKA_KEY_TYPE] = ulongBytes(type);
            pub[CKA_GOSTR3410_PARAMS] = priv[CKA_GOSTR3410_PARAMS] = params;
            pub[CKA_VALUE] = tokenOrder(device, k.publicLe);
            priv[CKA_VALUE] = k.privateLe;
        }
        auto handles = storeObjects(
            hSession, s,
            {withDefaults(std::move(pub), CKO_PUBLIC_KEY), withDefaults(std::move(priv), CKO_PRIVATE_KEY)});
        *phPublicKey = handles[0];
        *phPrivateKey = handles[1];
        return CKR_OK;
    });
}
