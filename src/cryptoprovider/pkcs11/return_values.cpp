#include "cryptoprovider/pkcs11/return_values.h"

namespace pkcs11
{

namespace
{

struct ReturnValue {
    std::uint32_t rv;
    const char* name;
    const char* code; // catalogue text, nullptr when the value has none of its own
};

// clang-format off
constexpr ReturnValue RETURN_VALUES[] = {
    {0x000, "CKR_OK", nullptr},
    {0x001, "CKR_CANCEL", nullptr},
    {0x002, "CKR_HOST_MEMORY", "CP-017001"},
    {0x003, "CKR_SLOT_ID_INVALID", "CP-017002"},
    {0x005, "CKR_GENERAL_ERROR", nullptr},
    {0x006, "CKR_FUNCTION_FAILED", "CP-017003"},
    {0x007, "CKR_ARGUMENTS_BAD", "CP-017004"},
    {0x008, "CKR_NO_EVENT", "CP-017005"},
    {0x009, "CKR_NEED_TO_CREATE_THREADS", nullptr},
    {0x00A, "CKR_CANT_LOCK", "CP-017006"},
    {0x010, "CKR_ATTRIBUTE_READ_ONLY", "CP-017007"},
    {0x011, "CKR_ATTRIBUTE_SENSITIVE", "CP-017008"},
    {0x012, "CKR_ATTRIBUTE_TYPE_INVALID", "CP-017009"},
    {0x013, "CKR_ATTRIBUTE_VALUE_INVALID", "CP-017010"},
    {0x01B, "CKR_ACTION_PROHIBITED", nullptr},
    {0x020, "CKR_DATA_INVALID", nullptr},
    {0x021, "CKR_DATA_LEN_RANGE", nullptr},
    {0x030, "CKR_DEVICE_ERROR", "CP-017011"},
    {0x031, "CKR_DEVICE_MEMORY", "CP-017012"},
    {0x032, "CKR_DEVICE_REMOVED", "CP-017013"},
    {0x040, "CKR_ENCRYPTED_DATA_INVALID", nullptr},
    {0x041, "CKR_ENCRYPTED_DATA_LEN_RANGE", "CP-017014"},
    {0x050, "CKR_FUNCTION_CANCELED", nullptr},
    {0x051, "CKR_FUNCTION_NOT_PARALLEL", nullptr},
    {0x054, "CKR_FUNCTION_NOT_SUPPORTED", "CP-017015"},
    {0x060, "CKR_KEY_HANDLE_INVALID", "CP-017016"},
    {0x062, "CKR_KEY_SIZE_RANGE", "CP-017017"},
    {0x063, "CKR_KEY_TYPE_INCONSISTENT", "CP-017018"},
    {0x064, "CKR_KEY_NOT_NEEDED", nullptr},
    {0x065, "CKR_KEY_CHANGED", nullptr},
    {0x066, "CKR_KEY_NEEDED", nullptr},
    {0x067, "CKR_KEY_INDIGESTIBLE", nullptr},
    {0x068, "CKR_KEY_FUNCTION_NOT_PERMITTED", "CP-017019"},
    {0x069, "CKR_KEY_NOT_WRAPPABLE", "CP-017020"},
    {0x06A, "CKR_KEY_UNEXTRACTABLE", nullptr},
    {0x070, "CKR_MECHANISM_INVALID", "CP-017021"},
    {0x071, "CKR_MECHANISM_PARAM_INVALID", "CP-017022"},
    {0x082, "CKR_OBJECT_HANDLE_INVALID", "CP-017023"},
    {0x090, "CKR_OPERATION_ACTIVE", "CP-017024"},
    {0x091, "CKR_OPERATION_NOT_INITIALIZED", "CP-017025"},
    {0x0A0, "CKR_PIN_INCORRECT", "CP-017026"},
    {0x0A1, "CKR_PIN_INVALID", "CP-017027"},
    {0x0A2, "CKR_PIN_LEN_RANGE", "CP-017028"},
    {0x0A3, "CKR_PIN_EXPIRED", nullptr},
    {0x0A4, "CKR_PIN_LOCKED", "CP-008030"},
    {0x0B0, "CKR_SESSION_CLOSED", "CP-017030"},
    {0x0B1, "CKR_SESSION_COUNT", "CP-017031"},
    {0x0B3, "CKR_SESSION_HANDLE_INVALID", "CP-017032"},
    {0x0B4, "CKR_SESSION_PARALLEL_NOT_SUPPORTED", "CP-017033"},
    {0x0B5, "CKR_SESSION_READ_ONLY", nullptr},
    {0x0B6, "CKR_SESSION_EXISTS", "CP-017034"},
    {0x0B7, "CKR_SESSION_READ_ONLY_EXISTS", "CP-017035"},
    {0x0B8, "CKR_SESSION_READ_WRITE_SO_EXISTS", "CP-017036"},
    {0x0C0, "CKR_SIGNATURE_INVALID", "CP-017037"},
    {0x0C1, "CKR_SIGNATURE_LEN_RANGE", "CP-017038"},
    {0x0D0, "CKR_TEMPLATE_INCOMPLETE", "CP-017039"},
    {0x0D1, "CKR_TEMPLATE_INCONSISTENT", "CP-017040"},
    {0x0E0, "CKR_TOKEN_NOT_PRESENT", "CP-017041"},
    {0x0E1, "CKR_TOKEN_NOT_RECOGNIZED", "CP-017042"},
    {0x0E2, "CKR_TOKEN_WRITE_PROTECTED", "CP-017043"},
    {0x0F0, "CKR_UNWRAPPING_KEY_HANDLE_INVALID", nullptr},
    {0x0F1, "CKR_UNWRAPPING_KEY_SIZE_RANGE", nullptr},
    {0x0F2, "CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT", nullptr},
    {0x100, "CKR_USER_ALREADY_LOGGED_IN", "CP-017044"},
    {0x101, "CKR_USER_NOT_LOGGED_IN", "CP-017045"},
    {0x102, "CKR_USER_PIN_NOT_INITIALIZED", "CP-017046"},
    {0x103, "CKR_USER_TYPE_INVALID", "CP-017047"},
    {0x104, "CKR_USER_ANOTHER_ALREADY_LOGGED_IN", "CP-017048"},
    {0x105, "CKR_USER_TOO_MANY_TYPES", nullptr},
    {0x110, "CKR_WRAPPED_KEY_INVALID", nullptr},
    {0x112, "CKR_WRAPPED_KEY_LEN_RANGE", nullptr},
    {0x113, "CKR_WRAPPING_KEY_HANDLE_INVALID", nullptr},
    {0x114, "CKR_WRAPPING_KEY_SIZE_RANGE", nullptr},
    {0x115, "CKR_WRAPPING_KEY_TYPE_INCONSISTENT", nullptr},
    {0x120, "CKR_RANDOM_SEED_NOT_SUPPORTED", nullptr},
    {0x121, "CKR_RANDOM_NO_RNG", nullptr},
    {0x130, "CKR_DOMAIN_PARAMS_INVALID", nullptr},
    {0x140, "CKR_CURVE_NOT_SUPPORTED", nullptr},
    {0x150, "CKR_BUFFER_TOO_SMALL", "CP-017049"},
    {0x160, "CKR_SAVED_STATE_INVALID", nullptr},
    {0x170, "CKR_INFORMATION_SENSITIVE", "CP-017050"},
    {0x180, "CKR_STATE_UNSAVEABLE", nullptr},
    {0x190, "CKR_CRYPTOKI_NOT_INITIALIZED", "CP-017051"},
    {0x191, "CKR_CRYPTOKI_ALREADY_INITIALIZED", "CP-017052"},
    {0x1A0, "CKR_MUTEX_BAD", nullptr},
    {0x1A1, "CKR_MUTEX_NOT_LOCKED", nullptr},
    {0x1B0, "CKR_NEW_PIN_MODE", nullptr},
    {0x1B1, "CKR_NEXT_OTP", nullptr},
    {0x1B5, "CKR_EXCEEDED_MAX_ITERATIONS", nullptr},
    {0x1B6, "CKR_FIPS_SELF_TEST_FAILED", nullptr},
    {0x1B7, "CKR_LIBRARY_LOAD_FAILED", nullptr},
    {0x1B8, "CKR_PIN_TOO_WEAK", nullptr},
    {0x1B9, "CKR_PUBLIC_KEY_INVALID", nullptr},
    {0x200, "CKR_FUNCTION_REJECTED", "CP-017053"},
    {0xA3A00008, "CKR_MAX_HDL_NUMBER_REACHED", nullptr},
};
// clang-format on

const ReturnValue* find(std::uint32_t rv) noexcept
{
    for (const ReturnValue& entry : RETURN_VALUES) {
        if (entry.rv == rv)
            return &entry;
    }
    return nullptr;
}

} // namespace

const char* messageCode(std::uint32_t rv) noexcept
{
    const ReturnValue* entry = find(rv);
    return entry != nullptr && entry->code != nullptr ? entry->code : "CP-017055";
}

const char* returnValueName(std::uint32_t rv) noexcept
{
    const ReturnValue* entry = find(rv);
    return entry != nullptr ? entry->name : "UNKNOWN";
}

} // namespace pkcs11
