#include "pkcs11_double.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "answers.h"
#include "cryptoprovider/pkcs11/module.h"
#include "cryptoprovider/pkcs11/module_paths.h"
#include "cryptoprovider/pkcs11/pkcs11_types.h"
#include "pcsc_double.h"

namespace fuzzdouble
{

namespace
{

using Mode = Answers::Mode;

// The token a working module would show: one slot serving the fuzz reader,
// serial 12345678, one key (CKA_ID 01 01) on parameter set A.
constexpr CK_SLOT_ID SLOT = 1;
constexpr CK_OBJECT_HANDLE OBJECT = 0x101;
constexpr std::string_view SERIAL = "12345678";

CK_RV failure()
{
    if (current->exhausted())
        return CKR_DEVICE_REMOVED;
    return current->failure<CK_RV>({CKR_GENERAL_ERROR,
                                    CKR_FUNCTION_FAILED,
                                    CKR_DEVICE_ERROR,
                                    CKR_DEVICE_REMOVED,
                                    CKR_TOKEN_NOT_PRESENT,
                                    CKR_SESSION_HANDLE_INVALID,
                                    CKR_OBJECT_HANDLE_INVALID,
                                    CKR_ATTRIBUTE_TYPE_INVALID,
                                    CKR_ATTRIBUTE_SENSITIVE,
                                    CKR_ATTRIBUTE_READ_ONLY,
                                    CKR_BUFFER_TOO_SMALL,
                                    CKR_PIN_INCORRECT,
                                    CKR_PIN_LOCKED,
                                    CKR_PIN_LEN_RANGE,
                                    CKR_USER_ALREADY_LOGGED_IN,
                                    CKR_USER_ANOTHER_ALREADY_LOGGED_IN,
                                    CKR_USER_NOT_LOGGED_IN,
                                    CKR_CANCEL,
                                    CKR_FUNCTION_NOT_SUPPORTED,
                                    CKR_SIGNATURE_INVALID,
                                    CKR_DEVICE_MEMORY,
                                    CKR_HOST_MEMORY,
                                    CKR_CRYPTOKI_ALREADY_INITIALIZED,
                                    CKR_KEY_HANDLE_INVALID,
                                    CKR_TEMPLATE_INCONSISTENT,
                                    0x1B6,
                                    0x80009108,
                                    0x80001234});
}

// An operation without output: success unless the input picks a failure.
CK_RV result()
{
    return current->mode() == Mode::Failure ? failure() : CKR_OK;
}

// A length reported after a write of `written` bytes: mostly the truth.
CK_ULONG reported(std::size_t written)
{
    return current->byte() < 0xF0 ? written : static_cast<CK_ULONG>(current->length());
}

void padded(CK_UTF8CHAR* field, std::size_t size, std::string_view text)
{
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

// The plausible value of an attribute.
std::vector<CK_BYTE> plausible(CK_ATTRIBUTE_TYPE type)
{
    switch (type) {
    case CKA_ID:
        return {0x01, 0x01};
    case CKA_LABEL:
        return {'f', 'u', 'z', 'z', ' ', 'k', 'e', 'y'};
    case CKA_GOSTR3410_PARAMS:
        return {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
    case CKA_GOSTR3411_PARAMS:
        return {0x06, 0x08, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x02};
    case CKA_VALUE:
        return std::vector<CK_BYTE>(64, 0x42);
    case CKA_CLASS:
        return {CKO_PRIVATE_KEY, 0, 0, 0, 0, 0, 0, 0};
    default:
        return {};
    }
}

// The two-call pattern: a size query answers a length, a read writes what
// fits and reports a length; plausible outputs are `size` bytes of 0x5A.
CK_RV sizedOutput(CK_BYTE_PTR out, CK_ULONG_PTR length, std::size_t size)
{
    switch (current->mode()) {
    case Mode::Failure:
        return failure();
    case Mode::Plausible:
        if (out == nullptr) {
            *length = size;
            return CKR_OK;
        }
        if (*length < size) {
            *length = size;
            return CKR_BUFFER_TOO_SMALL;
        }
        std::memset(out, 0x5A, size);
        *length = size;
        return CKR_OK;
    case Mode::Hostile:
        break;
    }
    if (out == nullptr || current->byte() >= 0xF0) {
        *length = static_cast<CK_ULONG>(current->length());
        return out == nullptr ? CKR_OK : CKR_BUFFER_TOO_SMALL;
    }
    const std::size_t written = std::min<std::uint64_t>(current->length(), *length);
    current->fill(out, written);
    *length = reported(written);
    return CKR_OK;
}

CK_RV initialize(CK_VOID_PTR)
{
    return current->pick<CK_RV>({CKR_OK, CKR_OK, CKR_OK, CKR_OK, CKR_OK, CKR_OK, CKR_OK, CKR_CANT_LOCK,
                                 CKR_CRYPTOKI_ALREADY_INITIALIZED, CKR_GENERAL_ERROR});
}

CK_RV finalize(CK_VOID_PTR)
{
    return CKR_OK;
}

CK_RV getSlotList(CK_BBOOL, CK_SLOT_ID_PTR slots, CK_ULONG_PTR count)
{
    switch (current->mode()) {
    case Mode::Failure:
        return failure();
    case Mode::Plausible:
        if (slots != nullptr && *count >= 1)
            slots[0] = SLOT;
        *count = 1;
        return CKR_OK;
    case Mode::Hostile:
        break;
    }
    if (slots == nullptr || current->byte() >= 0xF0) {
        *count = static_cast<CK_ULONG>(current->length());
        return slots == nullptr ? CKR_OK : CKR_BUFFER_TOO_SMALL;
    }
    const CK_ULONG written = std::min<CK_ULONG>(current->byte() % 5, *count);
    for (CK_ULONG i = 0; i < written; ++i)
        slots[i] = current->byte();
    *count = reported(written);
    return CKR_OK;
}

CK_RV getSlotInfo(CK_SLOT_ID, CK_SLOT_INFO_PTR info)
{
    switch (current->mode()) {
    case Mode::Failure:
        return failure();
    case Mode::Plausible:
        *info = CK_SLOT_INFO{};
        padded(info->slotDescription, sizeof info->slotDescription, plausibleReader);
        padded(info->manufacturerID, sizeof info->manufacturerID, "Fuzz");
        info->flags = CKF_TOKEN_PRESENT | CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
        return CKR_OK;
    case Mode::Hostile:
        current->fill(info, sizeof *info);
        return CKR_OK;
    }
    return CKR_OK;
}

CK_RV getTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO_PTR info)
{
    switch (current->mode()) {
    case Mode::Failure:
        return failure();
    case Mode::Plausible:
        *info = CK_TOKEN_INFO{};
        padded(info->label, sizeof info->label, "fuzz token");
        padded(info->manufacturerID, sizeof info->manufacturerID, "Fuzz");
        padded(info->model, sizeof info->model, "JaCarta GOST 2.0");
        padded(info->serialNumber, sizeof info->serialNumber, SERIAL);
        info->flags = CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_LOGIN_REQUIRED |
                      (static_cast<CK_FLAGS>(current->byte() & 0x0F) << 12);
        info->ulMaxPinLen = 32;
        info->ulMinPinLen = 4;
        return CKR_OK;
    case Mode::Hostile:
        current->fill(info, sizeof *info);
        return CKR_OK;
    }
    return CKR_OK;
}

CK_RV getTokenInfoExtended(CK_SLOT_ID, pkcs11::TokenInfoExtended* info)
{
    // The caller says how much it gave; a module fills up to that.
    const std::size_t size = std::min<std::size_t>(info->ulSizeofThisStructure, sizeof *info);
    switch (current->mode()) {
    case Mode::Failure:
        return failure();
    case Mode::Plausible: {
        pkcs11::TokenInfoExtended plausibleInfo{};
        plausibleInfo.ulSizeofThisStructure = sizeof plausibleInfo;
        plausibleInfo.ulTokenClass = current->byte() & 3;
        plausibleInfo.flags = current->byte();
        const CK_BYTE serial[] = {0x12, 0x34, 0x56, 0x78};
        std::memcpy(plausibleInfo.serialNumber, serial, sizeof serial);
        std::memcpy(info, &plausibleInfo, size);
        return CKR_OK;
    }
    case Mode::Hostile:
        current->fill(info, size);
        return CKR_OK;
    }
    return CKR_OK;
}

CK_RV getMechanismList(CK_SLOT_ID, CK_MECHANISM_TYPE_PTR mechanisms, CK_ULONG_PTR count)
{
    switch (current->mode()) {
    case Mode::Failure:
        return failure();
    case Mode::Plausible:
        if (mechanisms != nullptr && *count >= 2) {
            mechanisms[0] = CKM_GOSTR3410;
            mechanisms[1] = CKM_GOSTR3411;
        }
        *count = 2;
        return CKR_OK;
    case Mode::Hostile:
        break;
    }
    if (mechanisms == nullptr) {
        *count = static_cast<CK_ULONG>(current->length());
        return CKR_OK;
    }
    const CK_ULONG written = std::min<CK_ULONG>(current->byte(), *count);
    for (CK_ULONG i = 0; i < written; ++i)
        mechanisms[i] = current->pick<CK_MECHANISM_TYPE>({CKM_GOSTR3410, CKM_GOSTR3411, CKM_RSA_PKCS});
    *count = reported(written);
    return CKR_OK;
}

CK_RV openSession(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session)
{
    const CK_RV rv = result();
    if (rv == CKR_OK)
        *session = 1 + current->byte();
    return rv;
}

CK_RV closeSession(CK_SESSION_HANDLE)
{
    return CKR_OK;
}

CK_RV login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR, CK_ULONG)
{
    return result();
}

CK_RV logout(CK_SESSION_HANDLE)
{
    return result();
}

CK_RV setPin(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR, CK_ULONG)
{
    return result();
}

CK_RV createObject(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR object)
{
    const CK_RV rv = result();
    if (rv == CKR_OK)
        *object = 0x100 + current->byte();
    return rv;
}

CK_RV destroyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE)
{
    return result();
}

CK_RV getAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR attributes, CK_ULONG count)
{
    const Mode mode = current->mode();
    if (mode == Mode::Failure)
        return failure();
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& attribute = attributes[i];
        if (mode == Mode::Plausible) {
            const std::vector<CK_BYTE> value = plausible(attribute.type);
            if (attribute.pValue != nullptr) {
                if (attribute.ulValueLen < value.size()) {
                    rv = CKR_BUFFER_TOO_SMALL;
                } else if (!value.empty()) {
                    std::memcpy(attribute.pValue, value.data(), value.size());
                }
            }
            attribute.ulValueLen = value.size();
            continue;
        }
        if (attribute.pValue == nullptr) {
            attribute.ulValueLen = static_cast<CK_ULONG>(current->length());
            continue;
        }
        // The buffer given is filled whole: the module keeps to the length it
        // reported before, unless the input says otherwise afterwards.
        current->fill(attribute.pValue, attribute.ulValueLen);
        attribute.ulValueLen = reported(attribute.ulValueLen);
    }
    return rv;
}

CK_RV setAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG)
{
    return result();
}

CK_RV findObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG)
{
    return result();
}

CK_RV findObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR objects, CK_ULONG most, CK_ULONG_PTR count)
{
    switch (current->mode()) {
    case Mode::Failure:
        return failure();
    case Mode::Plausible:
        if (most >= 1)
            objects[0] = OBJECT;
        *count = most >= 1 ? 1 : 0;
        return CKR_OK;
    case Mode::Hostile:
        break;
    }
    const CK_ULONG written = std::min<CK_ULONG>(current->byte() % 8, most);
    for (CK_ULONG i = 0; i < written; ++i)
        objects[i] = 0x100 + current->byte();
    *count = reported(written);
    return CKR_OK;
}

CK_RV findObjectsFinal(CK_SESSION_HANDLE)
{
    return result();
}

CK_RV generateKeyPair(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR,
                      CK_ULONG, CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR privateKey)
{
    const CK_RV rv = result();
    if (rv == CKR_OK) {
        *publicKey = 0x100 + current->byte();
        *privateKey = 0x100 + current->byte();
    }
    return rv;
}

CK_RV operationInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
{
    return result();
}

CK_RV signature(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR out, CK_ULONG_PTR length)
{
    return sizedOutput(out, length, 64);
}

CK_RV verify(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG)
{
    return result();
}

CK_RV digestInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR)
{
    return result();
}

CK_RV digestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG)
{
    return result();
}

CK_RV digestFinal(CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG_PTR length)
{
    return sizedOutput(out, length, 32);
}

CK_FUNCTION_LIST makeFunctions()
{
    CK_FUNCTION_LIST list{};
    list.C_Initialize = initialize;
    list.C_Finalize = finalize;
    list.C_GetSlotList = getSlotList;
    list.C_GetSlotInfo = getSlotInfo;
    list.C_GetTokenInfo = getTokenInfo;
    list.C_GetMechanismList = getMechanismList;
    list.C_OpenSession = openSession;
    list.C_CloseSession = closeSession;
    list.C_Login = login;
    list.C_Logout = logout;
    list.C_SetPIN = setPin;
    list.C_CreateObject = createObject;
    list.C_DestroyObject = destroyObject;
    list.C_GetAttributeValue = getAttributeValue;
    list.C_SetAttributeValue = setAttributeValue;
    list.C_FindObjectsInit = findObjectsInit;
    list.C_FindObjects = findObjects;
    list.C_FindObjectsFinal = findObjectsFinal;
    list.C_GenerateKeyPair = generateKeyPair;
    list.C_SignInit = operationInit;
    list.C_Sign = signature;
    list.C_VerifyInit = operationInit;
    list.C_Verify = verify;
    list.C_DigestInit = digestInit;
    list.C_DigestUpdate = digestUpdate;
    list.C_DigestFinal = digestFinal;
    return list;
}

CK_FUNCTION_LIST functions = makeFunctions();

void* vendorFunction(std::string_view name)
{
    if (name == "C_EX_GetTokenInfoExtended")
        return reinterpret_cast<void*>(&getTokenInfoExtended);
    return nullptr;
}

} // namespace

std::shared_ptr<Pkcs11> supplyPkcs11(const std::string& path)
{
    auto module = std::make_shared<Pkcs11>(path, Pkcs11::Supplied{&functions, vendorFunction});
    Pkcs11::supply(path, module);
    return module;
}

void installTokenDoubles()
{
    installPcsc();
    pkcs11::setJaCartaPkcs11Path(FUZZ_COMPANION_DIR);
}

} // namespace fuzzdouble
