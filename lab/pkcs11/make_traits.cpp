#include "make_traits.h"

#include <algorithm>

namespace labtoken
{

std::vector<GenRule> gostGenRules()
{
    const std::string f = family();
    if (f == "rutoken")
        return {{CKM_GOSTR3410_KEY_PAIR_GEN,
                 {"1.2.643.2.2.35.1", "1.2.643.2.2.35.2", "1.2.643.2.2.35.3", "1.2.643.2.2.36.0",
                  "1.2.643.2.2.36.1"}},
                {CKM_GOSTR3410_512_KEY_PAIR_GEN, {"1.2.643.7.1.2.1.2.1", "1.2.643.7.1.2.1.2.2"}}};
    if (f == "angara")
        return {{CKM_GOSTR3410_KEY_PAIR_GEN,
                 {"1.2.643.2.2.35.1", "1.2.643.2.2.35.2", "1.2.643.2.2.35.3", "1.2.643.2.2.36.0",
                  "1.2.643.2.2.36.1", "1.2.643.7.1.2.1.1.1"}},
                {CKM_GOSTR3410_512_KEY_PAIR_GEN,
                 {"1.2.643.7.1.2.1.2.1", "1.2.643.7.1.2.1.2.2", "1.2.643.7.1.2.1.2.3"}}};
    return {{CKM_GOSTR3410_KEY_PAIR_GEN, {"1.2.643.2.2.35.1", "1.2.643.2.2.36.0"}}};
}

bool hasRsa()
{
    return family() == "rutoken";
}

std::vector<CK_MECHANISM_TYPE> mechanisms()
{
    std::vector<CK_MECHANISM_TYPE> out;
    for (const auto& r : gostGenRules()) {
        out.push_back(r.mechanism);
        out.push_back(r.mechanism == CKM_GOSTR3410_KEY_PAIR_GEN ? CKM_GOSTR3410 : CKM_GOSTR3410_512);
    }
    if (hasRsa()) {
        out.push_back(CKM_RSA_PKCS_KEY_PAIR_GEN);
        out.push_back(CKM_RSA_PKCS);
    }
    for (CK_MECHANISM_TYPE m : {CKM_GOSTR3411, CKM_GOSTR3411_12_256, CKM_GOSTR3411_12_512, CKM_SHA_1,
                                CKM_SHA224, CKM_SHA256, CKM_SHA384, CKM_SHA512})
        out.push_back(m);
    return out;
}

bool supports(CK_MECHANISM_TYPE m)
{
    auto list = mechanisms();
    return std::find(list.begin(), list.end(), m) != list.end();
}

std::string manufacturer()
{
    const std::string f = family();
    if (f == "rutoken")
        return "Aktiv Co.";
    if (f == "angara")
        return "MS_KEY lab";
    return "Aladdin R.D.";
}

CK_ULONG tokenFlags(const Device& d)
{
    CK_FLAGS flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED;
    if (d.getBool(labdev::fact::USER_PIN_INITIALIZED, true))
        flags |= CKF_USER_PIN_INITIALIZED;
    const long long userLeft = d.getInt(labdev::fact::USER_TRIES_LEFT, 10),
                    userMax = d.getInt(labdev::fact::USER_TRIES_MAX, 10);
    const long long soLeft = d.getInt(labdev::fact::SO_TRIES_LEFT, 10),
                    soMax = d.getInt(labdev::fact::SO_TRIES_MAX, 10);
    if (userLeft <= 0)
        flags |= CKF_USER_PIN_LOCKED;
    else if (userLeft == 1)
        flags |= CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_COUNT_LOW;
    else if (userLeft < userMax)
        flags |= CKF_USER_PIN_COUNT_LOW;
    if (soLeft <= 0)
        flags |= CKF_SO_PIN_LOCKED;
    else if (soLeft == 1)
        flags |= CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_COUNT_LOW;
    else if (soLeft < soMax)
        flags |= CKF_SO_PIN_COUNT_LOW;
    if (family() == "angara") {
        // MS_KEY K reports the user PIN tries left in bits 12 to 15 and a
        // factory PIN as "to be changed".
        flags |= static_cast<CK_FLAGS>(std::clamp(userLeft, 0LL, 15LL)) << 12;
        if (d.getBool(labdev::fact::USER_PIN_DEFAULT, false))
            flags |= CKF_USER_PIN_TO_BE_CHANGED;
    }
    return flags;
}

} // namespace labtoken
