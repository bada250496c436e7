#include "jni/errors.h"

#include <stdexcept>

#include "asn1/errors.h"
#include "base/errors.h"
#include "capi/errors.h"
#include "cryptoprovider/core/errors.h"
#include "icrypto/errors.h"
#include "pkcs7/errors.h"
#include "x509/errors.h"

namespace ormid_signer
{

// clang-format off
const Localization localization({
    {"BS-001001", "Сессия не распознана или уже закрыта", "Session is not recognized or already closed"},
    {"BS-005001", "Генератор ПДСЧ не инициализирован", "The RNG generator is not initialized"},
    {"BS-006001", "Неизвестная команда", "Unknown command"},
    {"BS-006002", "Внутренняя ошибка", "Internal error"},
    {"BS-006003", "Некорректные параметры", "Incorrect parameters"},
    {"BS-006004", "Пустые данные", "Empty data"},
    {"BS-008005", "Отсутствует аппаратное устройство с серийным номером \"%1\"", "Hardware device with serial number \"%1\" is not present"},
    {"BS-008006", "Устройство не найдено", "Device not found"},
});
// clang-format on

} // namespace ormid_signer

namespace ormid_signer
{

std::array<const Localization*, 8> allCatalogues()
{
    return {&bs::localization,      &asn1::localization, &x509::localization, &pkcs::localization,
            &icrypto::localization, &cp::localization,   &capi::localization, &localization};
}

void setLanguageEverywhere(Language language)
{
    if (language != RUSSIAN && language != ENGLISH)
        throw bs::standardError<std::invalid_argument>(localization, "BS-006003");
    for (const Localization* catalogue : allCatalogues())
        catalogue->setLanguage(language);
}

} // namespace ormid_signer
