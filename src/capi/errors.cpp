#include "capi/errors.h"

#include <string_view>
#include <utility>

#include "asn1/errors.h"
#include "base/conv.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "capi/capi_types.h"
#include "capi/wrapper.h"
#include "x509/errors.h"

namespace capi
{

// clang-format off
const Localization localization({
    {"CAPI-000001", "Тип поставщика не определен", "Provider type not defined"},
    {"CAPI-000002", "Проверка подписи не прошла", "Invalid Signature"},
    {"CAPI-000003", "Ключ не существует", "Key does not exist"},
    {"CAPI-000004", "Набор ключей не определен", "The keyset is not defined"},
    {"CAPI-000005", "Поставщик не смог выполнить действие, поскольку контекст был получен как \"тихий\"", "Provider could not perform the action since the context was acquired as silent"},
    {"CAPI-000006", "Отсутствует сертификат закрытого ключа", "The requested certificate does not exist"},
    {"CAPI-000007", "Объект не найден", "Object not found"},
    {"CAPI-000008", "Плохие данные (Ошибка при расшифровании данных)", "Bad Data"},
    {"CAPI-000009", "Указан неправильный тип", "Invalid type specified"},
    {"CAPI-000010", "Неправильный зарегистрированный набор ключей", "Registered keyset is invalid"},
    {"CAPI-000011", "Библиотека поставщика проинициализирована неправильно", "Failed to correctly initialize Provider's DLL"},
    {"CAPI-000012", "Неправильный параметр набора ключей", "The Keyset parameter is invalid"},
    {"CAPI-000013", "Объект или свойство не найдено", "Cannot find object or property"},
    {"CAPI-000014", "Не найден сертификат и закрытый ключ для шифрования", "Cannot find the certificate and private key for encryption"},
    {"CAPI-000015", "Сообщение не содержит указанного получателя", "The enveloped-data message does not contain the specified recipient"},
    {"CAPI-000016", "Не удается найти указанный файл (Установите более новую версию криптопровайдера)", "Cannot find specified file (Install newer version of cryptoprovider)"},
    {"CAPI-000017", "Внутренняя ошибка", "Internal error"},
    {"CAPI-000018", "Параметр задан неверно (ошибка при расшифровке). Установите более новую версию криптопровайдера", "Parameter is incorrect (decryption error). Install newer version of cryptoprovider"},
    {"CAPI-000019", "Не найден указанный модуль (ошибка при создании запроса)", "Cannot find specified module (request creating error)"},
    {"CAPI-000021", "Набор ключей не существует или доступ запрещен", "Keyset does not exist or access denied"},
    {"CAPI-000022", "Неизвестный тип провайдера", "Unknown provider type"},
    {"CAPI-000023", "Отсутствует ключевой носитель \"%1\"", "Keystore \"%1\" is not connected"},
    {"CAPI-000024", "Корневой сертификат уже установлен", "The root certificate is already installed"},
    {"CAPI-000025", "Объект уже существует", "Object already exists"},
    {"CAPI-000026", "Недостаточно свободного места для создания нового ключа на аппаратном устройстве", "Not enough free space to create a new key on the hardware device"},
    {"CAPI-000027", "Не удается найти сертификат и закрытый ключ", "Cannot find the certificate and private key for decryption"},
    {"CAPI-000028", "Пароль введен неверно", "Incorrect password"},
    {"CAPI-000029", "Превышено установленное ограничение количества неудачных попыток ввода PIN-кода", "PIN-code attempts have expired"},
    {"CAPI-000030", "Пользователь отказался от выполнения операции", "User canceled operation"},
    {"CAPI-000031", "Доступ запрещен", "Access denied"},
});
// clang-format on

} // namespace capi

namespace capi
{

Error::Error(std::uint32_t value, std::string message, const char* catalogueCode)
    : bs::ComposedError(std::move(message), catalogueCode), m_value(value)
{
    setVendorCode(value);
    if (std::string_view(catalogueCode) == "CAPI-000029") // the PIN is blocked
        setTriesLeft(0);
}

Error Error::fromCatalogue(std::uint32_t value, const char* catalogueCode)
{
    return Error(value, localization.get(catalogueCode), catalogueCode);
}

const char* Error::name() const noexcept
{
    return errorName(m_value);
}

namespace
{

struct NamedValue {
    std::uint32_t value;
    const char* name;
};

// clang-format off
constexpr NamedValue ERROR_NAMES[] = {
    {0x80090001, "NTE_BAD_UID"}, {0x80090002, "NTE_BAD_HASH"}, {0x80090003, "NTE_BAD_KEY"},
    {0x80090004, "NTE_BAD_LEN"}, {0x80090005, "NTE_BAD_DATA"}, {0x80090006, "NTE_BAD_SIGNATURE"},
    {0x80090007, "NTE_BAD_VER"}, {0x80090008, "NTE_BAD_ALGID"}, {0x80090009, "NTE_BAD_FLAGS"},
    {0x8009000A, "NTE_BAD_TYPE"}, {0x8009000B, "NTE_BAD_KEY_STATE"}, {0x8009000C, "NTE_BAD_HASH_STATE"},
    {0x8009000D, "NTE_NO_KEY"}, {0x8009000E, "NTE_NO_MEMORY"}, {0x8009000F, "NTE_EXISTS"},
    {0x80090010, "NTE_PERM"}, {0x80090011, "NTE_NOT_FOUND"}, {0x80090012, "NTE_DOUBLE_ENCRYPT"},
    {0x80090013, "NTE_BAD_PROVIDER"}, {0x80090014, "NTE_BAD_PROV_TYPE"}, {0x80090015, "NTE_BAD_PUBLIC_KEY"},
    {0x80090016, "NTE_BAD_KEYSET"}, {0x80090017, "NTE_PROV_TYPE_NOT_DEF"}, {0x80090018, "NTE_PROV_TYPE_ENTRY_BAD"},
    {0x80090019, "NTE_KEYSET_NOT_DEF"}, {0x8009001A, "NTE_KEYSET_ENTRY_BAD"}, {0x8009001B, "NTE_PROV_TYPE_NO_MATCH"},
    {0x8009001C, "NTE_SIGNATURE_FILE_BAD"}, {0x8009001D, "NTE_PROVIDER_DLL_FAIL"}, {0x8009001E, "NTE_PROV_DLL_NOT_FOUND"},
    {0x8009001F, "NTE_BAD_KEYSET_PARAM"}, {0x80090020, "NTE_FAIL"}, {0x80090021, "NTE_SYS_ERR"},
    {0x80090022, "NTE_SILENT_CONTEXT"}, {0x80090023, "NTE_TOKEN_KEYSET_STORAGE_FULL"}, {0x80090024, "NTE_TEMPORARY_PROFILE"},
    {0x80090025, "NTE_FIXEDPARAMETER"}, {0x80090026, "NTE_INVALID_HANDLE"}, {0x80090027, "NTE_INVALID_PARAMETER"},
    {0x80090028, "NTE_BUFFER_TOO_SMALL"}, {0x80090029, "NTE_NOT_SUPPORTED"}, {0x8009002A, "NTE_NO_MORE_ITEMS"},
    {0x8009002B, "NTE_BUFFERS_OVERLAP"}, {0x8009002C, "NTE_DECRYPTION_FAILURE"}, {0x8009002D, "NTE_INTERNAL_ERROR"},
    {0x8009002E, "NTE_UI_REQUIRED"}, {0x8009002F, "NTE_HMAC_NOT_SUPPORTED"}, {0x80090030, "NTE_DEVICE_NOT_READY"},
    {0x80090031, "NTE_AUTHENTICATION_IGNORED"}, {0x80090032, "NTE_VALIDATION_FAILED"}, {0x80090033, "NTE_INCORRECT_PASSWORD"},
    {0x80090034, "NTE_ENCRYPTION_FAILURE"}, {0x80090035, "NTE_DEVICE_NOT_FOUND"},
    {0x80091001, "CRYPT_E_MSG_ERROR"}, {0x80091002, "CRYPT_E_UNKNOWN_ALGO"}, {0x80091003, "CRYPT_E_OID_FORMAT"},
    {0x80091004, "CRYPT_E_INVALID_MSG_TYPE"}, {0x80091005, "CRYPT_E_UNEXPECTED_ENCODING"}, {0x80091006, "CRYPT_E_AUTH_ATTR_MISSING"},
    {0x80091007, "CRYPT_E_HASH_VALUE"}, {0x80091008, "CRYPT_E_INVALID_INDEX"}, {0x80091009, "CRYPT_E_ALREADY_DECRYPTED"},
    {0x8009100A, "CRYPT_E_NOT_DECRYPTED"}, {0x8009100B, "CRYPT_E_RECIPIENT_NOT_FOUND"}, {0x8009100C, "CRYPT_E_CONTROL_TYPE"},
    {0x8009100D, "CRYPT_E_ISSUER_SERIALNUMBER"}, {0x8009100E, "CRYPT_E_SIGNER_NOT_FOUND"}, {0x8009100F, "CRYPT_E_ATTRIBUTES_MISSING"},
    {0x80091010, "CRYPT_E_STREAM_MSG_NOT_READY"}, {0x80091011, "CRYPT_E_STREAM_INSUFFICIENT_DATA"},
    {0x80092001, "CRYPT_E_BAD_LEN"}, {0x80092002, "CRYPT_E_BAD_ENCODE"}, {0x80092003, "CRYPT_E_FILE_ERROR"},
    {0x80092004, "CRYPT_E_NOT_FOUND"}, {0x80092005, "CRYPT_E_EXISTS"}, {0x80092006, "CRYPT_E_NO_PROVIDER"},
    {0x80092007, "CRYPT_E_SELF_SIGNED"}, {0x80092008, "CRYPT_E_DELETED_PREV"}, {0x80092009, "CRYPT_E_NO_MATCH"},
    {0x8009200A, "CRYPT_E_UNEXPECTED_MSG_TYPE"}, {0x8009200B, "CRYPT_E_NO_KEY_PROPERTY"}, {0x8009200C, "CRYPT_E_NO_DECRYPT_CERT"},
    {0x8009200D, "CRYPT_E_BAD_MSG"}, {0x8009200E, "CRYPT_E_NO_SIGNER"}, {0x8009200F, "CRYPT_E_PENDING_CLOSE"},
    {0x80092010, "CRYPT_E_REVOKED"}, {0x80092011, "CRYPT_E_NO_REVOCATION_DLL"}, {0x80092012, "CRYPT_E_NO_REVOCATION_CHECK"},
    {0x80092013, "CRYPT_E_REVOCATION_OFFLINE"}, {0x80092014, "CRYPT_E_NOT_IN_REVOCATION_DATABASE"},
    {0x80092020, "CRYPT_E_INVALID_NUMERIC_STRING"}, {0x80092021, "CRYPT_E_INVALID_PRINTABLE_STRING"},
    {0x80092022, "CRYPT_E_INVALID_IA5_STRING"}, {0x80092023, "CRYPT_E_INVALID_X500_STRING"}, {0x80092024, "CRYPT_E_NOT_CHAR_STRING"},
    {0x80092025, "CRYPT_E_FILERESIZED"}, {0x80092026, "CRYPT_E_SECURITY_SETTINGS"}, {0x80092027, "CRYPT_E_NO_VERIFY_USAGE_DLL"},
    {0x80092028, "CRYPT_E_NO_VERIFY_USAGE_CHECK"}, {0x80092029, "CRYPT_E_VERIFY_USAGE_OFFLINE"}, {0x8009202A, "CRYPT_E_NOT_IN_CTL"},
    {0x8009202B, "CRYPT_E_NO_TRUSTED_SIGNER"}, {0x8009202C, "CRYPT_E_MISSING_PUBKEY_PARA"}, {0x80093000, "CRYPT_E_OSS_ERROR"},
    {0x80093100, "CRYPT_E_ASN1_ERROR"}, {0x80093101, "CRYPT_E_ASN1_INTERNAL"}, {0x80093102, "CRYPT_E_ASN1_EOD"},
    {0x80093103, "CRYPT_E_ASN1_CORRUPT"}, {0x80093104, "CRYPT_E_ASN1_LARGE"}, {0x80093105, "CRYPT_E_ASN1_CONSTRAINT"},
    {0x80093106, "CRYPT_E_ASN1_MEMORY"}, {0x80093107, "CRYPT_E_ASN1_OVERFLOW"}, {0x80093108, "CRYPT_E_ASN1_BADPDU"},
    {0x80093109, "CRYPT_E_ASN1_BADARGS"}, {0x8009310A, "CRYPT_E_ASN1_BADREAL"}, {0x8009310B, "CRYPT_E_ASN1_BADTAG"},
    {0x8009310C, "CRYPT_E_ASN1_CHOICE"}, {0x8009310D, "CRYPT_E_ASN1_RULE"}, {0x8009310E, "CRYPT_E_ASN1_UTF8"},
    {0x80093133, "CRYPT_E_ASN1_PDU_TYPE"}, {0x80093134, "CRYPT_E_ASN1_NYI"}, {0x80093201, "CRYPT_E_ASN1_EXTENDED"},
    {0x80093202, "CRYPT_E_ASN1_NOEOD"},
    {0x80100001, "SCARD_F_INTERNAL_ERROR"}, {0x80100002, "SCARD_E_CANCELLED"}, {0x80100003, "SCARD_E_INVALID_HANDLE"},
    {0x80100004, "SCARD_E_INVALID_PARAMETER"}, {0x80100005, "SCARD_E_INVALID_TARGET"}, {0x80100006, "SCARD_E_NO_MEMORY"},
    {0x80100007, "SCARD_F_WAITED_TOO_LONG"}, {0x80100008, "SCARD_E_INSUFFICIENT_BUFFER"}, {0x80100009, "SCARD_E_UNKNOWN_READER"},
    {0x8010000A, "SCARD_E_TIMEOUT"}, {0x8010000B, "SCARD_E_SHARING_VIOLATION"}, {0x8010000C, "SCARD_E_NO_SMARTCARD"},
    {0x8010000D, "SCARD_E_UNKNOWN_CARD"}, {0x8010000E, "SCARD_E_CANT_DISPOSE"}, {0x8010000F, "SCARD_E_PROTO_MISMATCH"},
    {0x80100010, "SCARD_E_NOT_READY"}, {0x80100011, "SCARD_E_INVALID_VALUE"}, {0x80100012, "SCARD_E_SYSTEM_CANCELLED"},
    {0x80100013, "SCARD_F_COMM_ERROR"}, {0x80100014, "SCARD_F_UNKNOWN_ERROR"}, {0x80100015, "SCARD_E_INVALID_ATR"},
    {0x80100016, "SCARD_E_NOT_TRANSACTED"}, {0x80100017, "SCARD_E_READER_UNAVAILABLE"}, {0x80100018, "SCARD_P_SHUTDOWN"},
    {0x80100019, "SCARD_E_PCI_TOO_SMALL"}, {0x8010001A, "SCARD_E_READER_UNSUPPORTED"}, {0x8010001B, "SCARD_E_DUPLICATE_READER"},
    {0x8010001C, "SCARD_E_CARD_UNSUPPORTED"}, {0x8010001D, "SCARD_E_NO_SERVICE"}, {0x8010001E, "SCARD_E_SERVICE_STOPPED"},
    {0x8010001F, "SCARD_E_UNEXPECTED"}, {0x80100020, "SCARD_E_ICC_INSTALLATION"}, {0x80100021, "SCARD_E_ICC_CREATEORDER"},
    {0x80100022, "SCARD_E_UNSUPPORTED_FEATURE"}, {0x80100023, "SCARD_E_DIR_NOT_FOUND"}, {0x80100024, "SCARD_E_FILE_NOT_FOUND"},
    {0x80100025, "SCARD_E_NO_DIR"}, {0x80100026, "SCARD_E_NO_FILE"}, {0x80100027, "SCARD_E_NO_ACCESS"},
    {0x80100028, "SCARD_E_WRITE_TOO_MANY"}, {0x80100029, "SCARD_E_BAD_SEEK"}, {0x8010002A, "SCARD_E_INVALID_CHV"},
    {0x8010002B, "SCARD_E_UNKNOWN_RES_MNG"}, {0x8010002C, "SCARD_E_NO_SUCH_CERTIFICATE"}, {0x8010002D, "SCARD_E_CERTIFICATE_UNAVAILABLE"},
    {0x8010002E, "SCARD_E_NO_READERS_AVAILABLE"}, {0x8010002F, "SCARD_E_COMM_DATA_LOST"}, {0x80100030, "SCARD_E_NO_KEY_CONTAINER"},
    {0x80100031, "SCARD_E_SERVER_TOO_BUSY"}, {0x80100032, "SCARD_E_PIN_CACHE_EXPIRED"}, {0x80100033, "SCARD_E_NO_PIN_CACHE"},
    {0x80100034, "SCARD_E_READ_ONLY_CARD"},
    {0x80100065, "SCARD_W_UNSUPPORTED_CARD"}, {0x80100066, "SCARD_W_UNRESPONSIVE_CARD"}, {0x80100067, "SCARD_W_UNPOWERED_CARD"},
    {0x80100068, "SCARD_W_RESET_CARD"}, {0x80100069, "SCARD_W_REMOVED_CARD"}, {0x8010006A, "SCARD_W_SECURITY_VIOLATION"},
    {0x8010006B, "SCARD_W_WRONG_CHV"}, {0x8010006C, "SCARD_W_CHV_BLOCKED"}, {0x8010006D, "SCARD_W_EOF"},
    {0x8010006E, "SCARD_W_CANCELLED_BY_USER"}, {0x8010006F, "SCARD_W_CARD_NOT_AUTHENTICATED"},
    {0x80100070, "SCARD_W_CACHE_ITEM_NOT_FOUND"}, {0x80100071, "SCARD_W_CACHE_ITEM_STALE"}, {0x80100072, "SCARD_W_CACHE_ITEM_TOO_BIG"},
};
// clang-format on

Error catalogued(std::uint32_t value, const char* catalogueCode)
{
    return Error::fromCatalogue(value, catalogueCode);
}

} // namespace

const char* errorName(std::uint32_t value) noexcept
{
    for (const NamedValue& entry : ERROR_NAMES) {
        if (entry.value == value)
            return entry.name;
    }
    return "UNKNOWN";
}

ProvTypeNotDef::ProvTypeNotDef() : Error(catalogued(0x80090017, "CAPI-000001")) {}
WrongSign::WrongSign() : Error(catalogued(0x80090006, "CAPI-000002")) {}
NoKey::NoKey() : Error(catalogued(0x8009000D, "CAPI-000003")) {}
NoContainer::NoContainer() : Error(catalogued(0x80090019, "CAPI-000004")) {}
SilentContext::SilentContext() : Error(catalogued(0x80090022, "CAPI-000005")) {}
NoCertificate::NoCertificate() : Error(catalogued(0x8010002C, "CAPI-000006")) {}
NoObject::NoObject() : Error(catalogued(0x80090011, "CAPI-000007")) {}

namespace
{

struct CataloguedValue {
    std::uint32_t value;
    const char* catalogueCode;
};

// Values that become a plain capi::Error with a text of their own.
constexpr CataloguedValue CATALOGUED_VALUES[] = {
    {ERROR_FILE_NOT_FOUND, "CAPI-000016"},
    {ERROR_ACCESS_DENIED, "CAPI-000031"},
    {ERROR_INVALID_PARAMETER, "CAPI-000018"},
    {ERROR_MOD_NOT_FOUND, "CAPI-000019"},
    {ERROR_CANCELLED, "CAPI-000030"},
    {NTE_BAD_DATA, "CAPI-000008"},
    {NTE_BAD_TYPE, "CAPI-000009"},
    {NTE_EXISTS, "CAPI-000025"},
    {NTE_PERM, "CAPI-000031"},
    {NTE_BAD_KEYSET, "CAPI-000021"},
    {NTE_KEYSET_ENTRY_BAD, "CAPI-000010"},
    {NTE_PROVIDER_DLL_FAIL, "CAPI-000011"},
    {NTE_BAD_KEYSET_PARAM, "CAPI-000012"},
    {NTE_FAIL, "CAPI-000017"},
    {NTE_TOKEN_KEYSET_STORAGE_FULL, "CAPI-000026"},
    {CRYPT_E_RECIPIENT_NOT_FOUND, "CAPI-000015"},
    {CRYPT_E_NOT_FOUND, "CAPI-000013"},
    {CRYPT_E_NO_KEY_PROPERTY, "CAPI-000027"},
    {CRYPT_E_NO_DECRYPT_CERT, "CAPI-000014"},
    {SCARD_W_WRONG_CHV, "CAPI-000028"},
    {SCARD_W_CHV_BLOCKED, "CAPI-000029"},
    {SCARD_W_CANCELLED_BY_USER, "CAPI-000030"},
};

// The CRYPT_E_ASN1_ values: a DER the CSP could not decode.
bool isAsn1Error(std::uint32_t value) noexcept
{
    return (value >= 0x80093100 && value <= 0x8009310E) || value == 0x80093133 || value == 0x80093134 ||
           value == 0x80093201 || value == 0x80093202;
}

const char* catalogueCodeOf(std::uint32_t value) noexcept
{
    for (const CataloguedValue& entry : CATALOGUED_VALUES) {
        if (entry.value == value)
            return entry.catalogueCode;
    }
    return "CAPI-000017";
}

} // namespace

void handleError()
{
    handleError(Wrapper::instance()->GetLastError());
}

void handleError(std::uint32_t value)
{
    const bs::Logger log("capi::handleError");
    log.error(conv::int_to_hex(value, 4, true));
    switch (value) {
    case NTE_BAD_SIGNATURE:
        bs::logAndThrow(log, WrongSign());
    case NTE_NO_KEY:
        bs::logAndThrow(log, NoKey());
    case NTE_NOT_FOUND:
        bs::logAndThrow(log, NoObject());
    case NTE_PROV_TYPE_NOT_DEF:
        bs::logAndThrow(log, ProvTypeNotDef());
    case NTE_KEYSET_NOT_DEF:
        bs::logAndThrow(log, NoContainer());
    case NTE_SILENT_CONTEXT:
        bs::logAndThrow(log, SilentContext());
    case SCARD_E_NO_SUCH_CERTIFICATE:
        bs::logAndThrow(log, NoCertificate());
    case CRYPT_E_UNKNOWN_ALGO:
        bs::logAndThrow(log, bs::withVendorCode(UnknownAlgorithm(), value));
    default:
        break;
    }
    if (isAsn1Error(value))
        bs::logAndThrow(log, bs::withVendorCode(Asn1DecodingError(), value));
    bs::logAndThrow(log, Error::fromCatalogue(value, catalogueCodeOf(value)));
}

} // namespace capi
