#include "pkcs7/errors.h"

namespace pkcs
{

// clang-format off
const Localization localization({
    {"PKCS-000001", "Некорректный PKCS9 атрибут", "Incorrect PKCS9 attribute"},
    {"PKCS-000002", "Ошибка разбора контейнера CMS: %1", "Parsing CMS error: %1"},
    {"PKCS-001001", "Ошибка парсинга контейнера CMS", "Error parsing CMS sign"},
    {"PKCS-001002", "Отсутствует информация о подписантах", "No information about signers"},
    {"PKCS-001003", "Ошибка парсинга контейнера CMS enveloped", "Error parsing CMS enveloped"},
    {"PKCS-001004", "Отсутствует информация о получателях", "No information about recipients"},
    {"PKCS-002001", "Некорректная информация об издателе и серийном номере", "Incorrect issuer and serial number info"},
    {"PKCS-002002", "Отсутствует хэш сообщения", "No message digest"},
    {"PKCS-002003", "Подпись пуста", "Signature is empty"},
    {"PKCS-002004", "Неизвестный формат подписи", "Unknown signature format"},
    {"PKCS-003001", "Некорректная информация об издателе и серийном номере", "Incorrect issuer and serial number info"},
    {"PKCS-003002", "Ошибка парсинга информации о получателе", "Error parsing recipient info"},
    {"PKCS-004001", "Атрибут %1 с одним значением имеет несколько значений", "Single-value attribute %1 has multiple values"},
    {"PKCS-004002", "Отсутствует атрибут %1", "No attribute %1"},
});
// clang-format on

} // namespace pkcs

ParseCmsContainerError::ParseCmsContainerError(std::string_view detail)
    : bs::ComposedError(bs::composeError(pkcs::localization, "PKCS-000002", detail))
{
}

namespace pkcs9
{

SingleValuedException::SingleValuedException(std::string_view dottedOid)
    : bs::ComposedError(bs::composeError(pkcs::localization, "PKCS-004001", dottedOid)), m_oid(dottedOid)
{
}

NoAttribute::NoAttribute(std::string_view dottedOid)
    : bs::ComposedError(bs::composeError(pkcs::localization, "PKCS-004002", dottedOid)), m_oid(dottedOid)
{
}

} // namespace pkcs9
