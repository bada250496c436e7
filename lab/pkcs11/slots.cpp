// The general and slot and token functions, the Rutoken extended token
// information and the function list.
#include <algorithm>
#include <cstring>

#include "calls.h"
#include "make_traits.h"

namespace labtoken
{
namespace
{
void padCopy(CK_UTF8CHAR* field, std::size_t size, const std::string& text)
{
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

// Two-call size pattern of the slot and mechanism lists: a null list asks
// for the count; a short one gets the count and CKR_BUFFER_TOO_SMALL.
CK_RV deliverList(const std::vector<CK_ULONG>& items, CK_ULONG* out, CK_ULONG_PTR count)
{
    if (out && *count < items.size()) {
        *count = items.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    if (out)
        std::copy(items.begin(), items.end(), out);
    *count = items.size();
    return CKR_OK;
}
} // namespace

CK_RV getTokenInfoExtended(CK_SLOT_ID slot, pkcs11::TokenInfoExtended* info)
{
    return call("C_EX_GetTokenInfoExtended", slotDetail(slot), [&]() -> CK_RV {
        if (!info)
            fail(CKR_ARGUMENTS_BAD);
        if (info->ulSizeofThisStructure != sizeof(pkcs11::TokenInfoExtended))
            fail(CKR_ARGUMENTS_BAD);
        Device d = slotDevice(slot);
        if (!d.getBool(labdev::fact::PRESENT, true))
            fail(CKR_TOKEN_NOT_PRESENT);
        std::memset(info, 0, sizeof *info);
        info->ulSizeofThisStructure = sizeof *info;
        info->ulTokenType = 1;
        info->ulProtocolNumber = 1;
        info->ulMicrocodeNumber = modelOf(d).chipModel;
        info->flags =
            d.getBool(labdev::fact::USER_PIN_DEFAULT, false) ? 0 : pkcs11::TOKEN_FLAGS_USER_PIN_CHANGED;
        info->ulMaxAdminPinLen = info->ulMaxUserPinLen = d.getInt(labdev::fact::MAX_PIN_LEN, 32);
        info->ulMinAdminPinLen = info->ulMinUserPinLen = d.getInt(labdev::fact::MIN_PIN_LEN, 4);
        info->ulMaxAdminRetryCount = d.getInt(labdev::fact::SO_TRIES_MAX, 10);
        info->ulAdminRetryCountLeft = d.getInt(labdev::fact::SO_TRIES_LEFT, 10);
        info->ulMaxUserRetryCount = d.getInt(labdev::fact::USER_TRIES_MAX, 10);
        info->ulUserRetryCountLeft = d.getInt(labdev::fact::USER_TRIES_LEFT, 10);
        std::string serial = d.serial();
        if (serial.size() % 2)
            serial = "0" + serial;
        try {
            Bytes b = labdev::fromHex(serial);
            std::memcpy(info->serialNumber, b.data(),
                        std::min<std::size_t>(b.size(), sizeof info->serialNumber));
        } catch (const std::invalid_argument&) {
            // A serial that is not hexadecimal has no binary form.
        }
        info->ulTotalMemory = 65536;
        info->ulFreeMemory = 65536 - std::min<std::size_t>(d.objects.size() * 512, 65536);
        info->ulTokenClass = pkcs11::TOKEN_CLASS_ECP;
        return CKR_OK;
    });
}

} // namespace labtoken

using namespace labtoken;

LAB_EXPORT CK_RV C_Initialize(CK_VOID_PTR pInitArgs)
{
    return call(
        "C_Initialize", "",
        [&]() -> CK_RV {
            if (pInitArgs && static_cast<CK_C_INITIALIZE_ARGS*>(pInitArgs)->pReserved)
                fail(CKR_ARGUMENTS_BAD);
            if (g.initialized)
                return CKR_CRYPTOKI_ALREADY_INITIALIZED;
            initCrypto();
            g = ModuleState{};
            g.initialized = true;
            return CKR_OK;
        },
        false);
}

LAB_EXPORT CK_RV C_Finalize(CK_VOID_PTR pReserved)
{
    return call("C_Finalize", "", [&]() -> CK_RV {
        if (pReserved)
            fail(CKR_ARGUMENTS_BAD);
        // Sessions still open are closed as C_CloseSession would (their
        // objects and logins go with them), as the standard allows.
        std::vector<CK_SESSION_HANDLE> open;
        for (const auto& [h, s] : g.sessions)
            open.push_back(h);
        for (const CK_SESSION_HANDLE h : open)
            closeSession(h);
        g = ModuleState{};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo)
{
    return call("C_GetInfo", "", [&]() -> CK_RV {
        if (!pInfo)
            fail(CKR_ARGUMENTS_BAD);
        std::memset(pInfo, 0, sizeof *pInfo);
        pInfo->cryptokiVersion = {2, 20};
        padCopy(pInfo->manufacturerID, sizeof pInfo->manufacturerID, manufacturer());
        padCopy(pInfo->libraryDescription, sizeof pInfo->libraryDescription, "lab token module " + family());
        pInfo->libraryVersion = {1, 0};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount)
{
    return call("C_GetSlotList", tokenPresent ? "present" : "all", [&]() -> CK_RV {
        if (!pulCount)
            fail(CKR_ARGUMENTS_BAD);
        std::vector<CK_SLOT_ID> slots;
        for (const auto& [id, d] : familyDevices())
            if (!tokenPresent || d.getBool(labdev::fact::PRESENT, true))
                slots.push_back(id);
        return deliverList(slots, pSlotList, pulCount);
    });
}

LAB_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo)
{
    return call("C_GetSlotInfo", slotDetail(slotID), [&]() -> CK_RV {
        if (!pInfo)
            fail(CKR_ARGUMENTS_BAD);
        Device d = slotDevice(slotID);
        std::memset(pInfo, 0, sizeof *pInfo);
        padCopy(pInfo->slotDescription, sizeof pInfo->slotDescription, d.get(labdev::fact::READER));
        padCopy(pInfo->manufacturerID, sizeof pInfo->manufacturerID, manufacturer());
        pInfo->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
        if (d.getBool(labdev::fact::PRESENT, true))
            pInfo->flags |= CKF_TOKEN_PRESENT;
        pInfo->hardwareVersion = {1, 0};
        pInfo->firmwareVersion = {1, 0};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo)
{
    return call("C_GetTokenInfo", slotDetail(slotID), [&]() -> CK_RV {
        if (!pInfo)
            fail(CKR_ARGUMENTS_BAD);
        Device d = slotDevice(slotID);
        if (!d.getBool(labdev::fact::PRESENT, true))
            fail(CKR_TOKEN_NOT_PRESENT);
        std::memset(pInfo, 0, sizeof *pInfo);
        padCopy(pInfo->label, sizeof pInfo->label, d.get(labdev::fact::LABEL));
        padCopy(pInfo->manufacturerID, sizeof pInfo->manufacturerID, manufacturer());
        padCopy(pInfo->model, sizeof pInfo->model, std::string(modelOf(d).tokenModel));
        padCopy(pInfo->serialNumber, sizeof pInfo->serialNumber, d.serial());
        pInfo->flags = tokenFlags(d);
        pInfo->ulMaxSessionCount = 0; // no limit
        pInfo->ulMaxRwSessionCount = 0;
        CK_ULONG count = 0, rw = 0;
        for (const auto& [h, s] : g.sessions)
            if (s.serial == d.serial()) {
                ++count;
                rw += isRw(s) ? 1 : 0;
            }
        pInfo->ulSessionCount = count;
        pInfo->ulRwSessionCount = rw;
        pInfo->ulMaxPinLen = d.getInt(labdev::fact::MAX_PIN_LEN, 32);
        pInfo->ulMinPinLen = d.getInt(labdev::fact::MIN_PIN_LEN, 4);
        pInfo->ulTotalPublicMemory = pInfo->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
        pInfo->ulTotalPrivateMemory = pInfo->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
        pInfo->hardwareVersion = {2, 0};
        pInfo->firmwareVersion = {1, 0};
        std::memset(pInfo->utcTime, ' ', sizeof pInfo->utcTime);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList,
                                    CK_ULONG_PTR pulCount)
{
    return call("C_GetMechanismList", slotDetail(slotID), [&]() -> CK_RV {
        if (!pulCount)
            fail(CKR_ARGUMENTS_BAD);
        slotDevice(slotID);
        return deliverList(mechanisms(), pMechanismList, pulCount);
    });
}

LAB_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo)
{
    return call("C_GetMechanismInfo", slotDetail(slotID) + " mechanism=" + hexNumber(type), [&]() -> CK_RV {
        if (!pInfo)
            fail(CKR_ARGUMENTS_BAD);
        slotDevice(slotID);
        if (!supports(type))
            fail(CKR_MECHANISM_INVALID);
        *pInfo = {};
        pInfo->flags = CKF_HW;
        switch (type) {
        case CKM_GOSTR3410_KEY_PAIR_GEN:
        case CKM_GOSTR3410_512_KEY_PAIR_GEN:
        case CKM_RSA_PKCS_KEY_PAIR_GEN:
            pInfo->flags |= CKF_GENERATE_KEY_PAIR;
            break;
        case CKM_GOSTR3410:
        case CKM_GOSTR3410_512:
        case CKM_RSA_PKCS:
            pInfo->flags |= CKF_SIGN | CKF_VERIFY;
            break;
        default:
            pInfo->flags |= CKF_DIGEST;
        }
        if (type == CKM_GOSTR3410_KEY_PAIR_GEN || type == CKM_GOSTR3410)
            pInfo->ulMinKeySize = pInfo->ulMaxKeySize = 256;
        if (type == CKM_GOSTR3410_512_KEY_PAIR_GEN || type == CKM_GOSTR3410_512)
            pInfo->ulMinKeySize = pInfo->ulMaxKeySize = 512;
        if (type == CKM_RSA_PKCS_KEY_PAIR_GEN || type == CKM_RSA_PKCS) {
            pInfo->ulMinKeySize = 512;
            pInfo->ulMaxKeySize = 4096;
        }
        return CKR_OK;
    });
}

namespace
{
#define LAB_LIST_ENTRY(name, params) name,
CK_FUNCTION_LIST g_functionList = {{2, 20}, ORMID_PKCS11_FUNCTIONS(LAB_LIST_ENTRY)};
#undef LAB_LIST_ENTRY
} // namespace

LAB_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList)
{
    return call(
        "C_GetFunctionList", "",
        [&]() -> CK_RV {
            if (!ppFunctionList)
                fail(CKR_ARGUMENTS_BAD);
            *ppFunctionList = &g_functionList;
            return CKR_OK;
        },
        false);
}
