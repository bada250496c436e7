#include "asn1/errors.h"

namespace asn1
{

// clang-format off
const Localization localization({
    {"ASN1-001001", "Ошибка расшифровки ASN.1 данных", "Error parsing ASN.1 data"},
    {"ASN1-001002", "Время должно быть представлено в формате UTC и заканчиваться 'Z'", "Time value must be in universal coordinated time format and must end with 'Z'"},
});
// clang-format on

} // namespace asn1
