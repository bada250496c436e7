// Sessions, logins and PINs.
#include <algorithm>

#include "calls.h"

namespace labtoken
{
namespace
{
// Checks a PIN against the device and counts the try.
CK_RV checkPin(Device& d, CK_USER_TYPE user, const std::string& pin)
{
    const bool so = user == CKU_SO;
    const std::string pinKey = so ? labdev::fact::SO_PIN : labdev::fact::USER_PIN;
    const std::string leftKey = so ? labdev::fact::SO_TRIES_LEFT : labdev::fact::USER_TRIES_LEFT;
    const std::string maxKey = so ? labdev::fact::SO_TRIES_MAX : labdev::fact::USER_TRIES_MAX;
    long long left = d.getInt(leftKey, 10);
    if (left <= 0)
        return CKR_PIN_LOCKED;
    const long long minLen = d.getInt(labdev::fact::MIN_PIN_LEN, 4),
                    maxLen = d.getInt(labdev::fact::MAX_PIN_LEN, 32);
    if (static_cast<long long>(pin.size()) < minLen || static_cast<long long>(pin.size()) > maxLen)
        return CKR_PIN_LEN_RANGE;
    if (pin == d.get(pinKey)) {
        d.setInt(leftKey, d.getInt(maxKey, 10));
        return CKR_OK;
    }
    d.setInt(leftKey, left - 1);
    return CKR_PIN_INCORRECT;
}

std::string pinText(CK_UTF8CHAR_PTR pin, CK_ULONG len)
{
    if (len && !pin)
        fail(CKR_ARGUMENTS_BAD);
    if (len > 4096)
        fail(CKR_PIN_LEN_RANGE);
    return len ? std::string(reinterpret_cast<const char*>(pin), len) : std::string();
}
} // namespace
} // namespace labtoken

using namespace labtoken;

LAB_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                               CK_SESSION_HANDLE_PTR phSession)
{
    return call("C_OpenSession", slotDetail(slotID) + " flags=" + hexNumber(flags), [&]() -> CK_RV {
        if (!phSession)
            fail(CKR_ARGUMENTS_BAD);
        if (!(flags & CKF_SERIAL_SESSION))
            fail(CKR_SESSION_PARALLEL_NOT_SUPPORTED);
        Device d = slotDevice(slotID);
        if (!d.getBool(labdev::fact::PRESENT, true))
            fail(CKR_TOKEN_NOT_PRESENT);
        if (!(flags & CKF_RW_SESSION) && loginOf(d.serial()) == CKU_SO)
            fail(CKR_SESSION_READ_WRITE_SO_EXISTS);
        Session s;
        s.slot = slotID;
        s.serial = d.serial();
        s.flags = flags & (CKF_RW_SESSION | CKF_SERIAL_SESSION);
        CK_SESSION_HANDLE h = g.nextSession++;
        g.sessions.emplace(h, std::move(s));
        *phSession = h;
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE hSession)
{
    return call("C_CloseSession", sessionDetail(hSession), [&]() -> CK_RV {
        session(hSession);
        closeSession(hSession);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slotID)
{
    return call("C_CloseAllSessions", slotDetail(slotID), [&]() -> CK_RV {
        std::vector<CK_SESSION_HANDLE> handles;
        for (const auto& [h, s] : g.sessions)
            if (s.slot == slotID)
                handles.push_back(h);
        for (auto h : handles)
            closeSession(h);
        // Sessions of a device deleted meanwhile are closed all the same.
        if (handles.empty())
            slotDevice(slotID);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo)
{
    return call("C_GetSessionInfo", sessionDetail(hSession), [&]() -> CK_RV {
        if (!pInfo)
            fail(CKR_ARGUMENTS_BAD);
        Session& s = session(hSession);
        liveDevice(s);
        CK_USER_TYPE user = loginOf(s.serial);
        pInfo->slotID = s.slot;
        pInfo->flags = s.flags;
        pInfo->ulDeviceError = 0;
        if (user == CKU_SO)
            pInfo->state = CKS_RW_SO_FUNCTIONS;
        else if (user == CKU_USER)
            pInfo->state = isRw(s) ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
        else
            pInfo->state = isRw(s) ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin,
                         CK_ULONG ulPinLen)
{
    return call("C_Login", sessionDetail(hSession) + " user=" + std::to_string(userType), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (userType != CKU_SO && userType != CKU_USER)
            fail(CKR_USER_TYPE_INVALID);
        std::string pin = pinText(pPin, ulPinLen);
        CK_USER_TYPE current = loginOf(s.serial);
        if (current == userType)
            fail(CKR_USER_ALREADY_LOGGED_IN);
        if (current != ~0UL)
            fail(CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
        // The security officer works in read-write sessions only.
        if (userType == CKU_SO && std::any_of(g.sessions.begin(), g.sessions.end(), [&](const auto& other) {
                return other.second.serial == s.serial && !isRw(other.second);
            }))
            fail(CKR_SESSION_READ_ONLY_EXISTS);
        CK_RV rv = CKR_OK;
        updateDevice(s, [&](Device& d) {
            if (userType == CKU_USER && !d.getBool(labdev::fact::USER_PIN_INITIALIZED, true))
                fail(CKR_USER_PIN_NOT_INITIALIZED);
            rv = checkPin(d, userType, pin);
        });
        std::fill(pin.begin(), pin.end(), '\0');
        if (rv == CKR_OK)
            g.logins[s.serial] = userType;
        return rv;
    });
}

LAB_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE hSession)
{
    return call("C_Logout", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (loginOf(s.serial) == ~0UL)
            fail(CKR_USER_NOT_LOGGED_IN);
        g.logins.erase(s.serial);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return call("C_InitPIN", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (loginOf(s.serial) != CKU_SO)
            fail(CKR_USER_NOT_LOGGED_IN);
        if (!isRw(s))
            fail(CKR_SESSION_READ_ONLY);
        std::string pin = pinText(pPin, ulPinLen);
        updateDevice(s, [&](Device& d) {
            if (static_cast<long long>(pin.size()) < d.getInt(labdev::fact::MIN_PIN_LEN, 4) ||
                static_cast<long long>(pin.size()) > d.getInt(labdev::fact::MAX_PIN_LEN, 32))
                fail(CKR_PIN_LEN_RANGE);
            d.set(labdev::fact::USER_PIN, pin);
            d.setInt(labdev::fact::USER_TRIES_LEFT, d.getInt(labdev::fact::USER_TRIES_MAX, 10));
            d.setInt(labdev::fact::USER_PIN_INITIALIZED, 1);
        });
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
                          CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen)
{
    return call("C_SetPIN", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!isRw(s))
            fail(CKR_SESSION_READ_ONLY);
        const CK_USER_TYPE who = loginOf(s.serial) == CKU_SO ? CKU_SO : CKU_USER;
        std::string oldPin = pinText(pOldPin, ulOldLen), newPin = pinText(pNewPin, ulNewLen);
        CK_RV rv = CKR_OK;
        updateDevice(s, [&](Device& d) {
            if (static_cast<long long>(newPin.size()) < d.getInt(labdev::fact::MIN_PIN_LEN, 4) ||
                static_cast<long long>(newPin.size()) > d.getInt(labdev::fact::MAX_PIN_LEN, 32))
                fail(CKR_PIN_LEN_RANGE);
            rv = checkPin(d, who, oldPin);
            if (rv != CKR_OK)
                return;
            d.set(who == CKU_SO ? labdev::fact::SO_PIN : labdev::fact::USER_PIN, newPin);
            if (who == CKU_USER)
                d.setInt(labdev::fact::USER_PIN_DEFAULT, 0);
        });
        return rv;
    });
}
