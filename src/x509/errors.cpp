#include "x509/errors.h"

namespace x509
{

// clang-format off
const Localization localization({
    {"X509-000001", "Неизвестный криптографический алгоритм", "Unknown cryptographic algorithm"},
    {"X509-000002", "Алгоритм \"%1\" не поддерживается", "Algorithm \"%1\" is unsupported"},
    {"X509-000003", "Недопустимые параметры алгоритма", "Invalid params of algorithm"},
    {"X509-001001", "Ошибка парсинга PKCS #10 запроса на сертификат", "Error parsing PKCS #10 request"},
    {"X509-001002", "Данные запроса на сертификат представлены в формате отличном от PEM", "Certificate request data format is not PEM"},
    {"X509-002001", "Ошибка разбора X.509 сертификата", "Error parsing X.509 certificate"},
    {"X509-002002", "Данные сертификата представлены в формате отличном от PEM", "Certificate data format is not PEM"},
    {"X509-003001", "Не заполнены параметры алгоритма", "Algorithm params are empty"},
    {"X509-003002", "Неизвестные параметры алгоритма", "Unknown algorithm params"},
    {"X509-003003", "Набор параметров алгоритма %1 не поддерживается", "Algorithm params %1 is unsupported"},
    {"x509-004001", "Неизвестный тип открытого ключа", "Unknown public key type"},
});
// clang-format on

} // namespace x509

UnsupportedAlgorithm::UnsupportedAlgorithm(std::string_view name)
    : bs::ComposedError(name.empty() ? bs::composeError(x509::localization, "X509-000001", name)
                                     : bs::composeError(x509::localization, "X509-000002", name)),
      m_algorithm(name)
{
}

namespace
{

// An unsupported set without a name is an empty set.
bs::ComposedError composeUnsupportedParams(std::string_view paramSet)
{
    if (paramSet.empty()) {
        throw Gost3410ECParamsEmpty();
    }
    return bs::composeError(x509::localization, "X509-003003", paramSet);
}

} // namespace

Gost3410ECParamsUnsupported::Gost3410ECParamsUnsupported(std::string_view paramSet)
    : bs::ComposedError(composeUnsupportedParams(paramSet)), m_oid(paramSet)
{
}
