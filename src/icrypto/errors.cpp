#include "icrypto/errors.h"

namespace icrypto
{

// clang-format off
const Localization localization({
    {"IC-001001", "Ошибка при вычислении хеш-вектора", "Error calculating hash-vector"},
    {"IC-001002", "Ошибка шифрования в режиме гаммирования", "Error encrypting in gamma mode"},
    {"IC-001003", "Ошибка при выработке имитовставки", "Error producing MAC"},
    {"IC-001004", "Ошибка при генерации псевдослучайных чисел", "Error generating pseudorandom numbers"},
    {"IC-001005", "Неизвестные параметры алгоритма", "Unknown algorithm params"},
});
// clang-format on

} // namespace icrypto
