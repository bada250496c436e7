#include "cryptoprovider/core/errors.h"

#include <string>
#include <utility>

#include "cryptoprovider/core/crypto_types.h"

namespace cp
{

// clang-format off
const Localization localization({
    {"CP-000001", "Внутренняя ошибка", "Internal error"},
    {"CP-007001", "Контекст ключевого контейнера не инициализирован", "Context of key container is not initialized"},
    {"CP-007002", "Ошибка проверки контрольной суммы \"%1\"", "Error checking CRC \"%1\""},
    {"CP-008001", "Доступ запрещен", "Access denied"},
    {"CP-008002", "Неизвестное криптосредство", "Unknown crypto type"},
    {"CP-008004", "Не запущен сервис 'PC/SC Smart Card Daemon'", "'PC/SC Smart Card Daemon' is not running"},
    {"CP-008005", "Хранилище ключей не выбрано", "Keystore not selected"},
    {"CP-008006", "Истекло число попыток ввода пароля. Ключ блокирован", "Password attempts have expired. Key is blocked"},
    {"CP-008007", "Пароль введен неверно. Осталось %1 попыток ввода", "Incorrect password. You have %1 attempts to enter"},
    {"CP-008008", "Пароль введен неверно. Осталось %1 попытки ввода", "Incorrect password. You have %1 attempts to enter"},
    {"CP-008009", "Пароль введен неверно. Осталась 1 попытка ввода", "Incorrect password. You have 1 attempt to enter"},
    {"CP-008010", "Пароль введен неверно", "Incorrect password"},
    {"CP-008011", "Пользователь отказался от выполнения операции", "User canceled operation"},
    {"CP-008012", "PIN-код недопустимой длины", "Invalid PIN-code length"},
    {"CP-008013", "Требуется ввод PIN-кода", "PIN-code required"},
    {"CP-008014", "Требуется ввод пароля", "Password required"},
    {"CP-008016", "Ключ ЭП не выбран", "DS key not selected"},
    {"CP-008017", "Ключ ЭП не найден", "DS key not found"},
    {"CP-008018", "Сертификат ключа не найден", "Key certificate not found"},
    {"CP-008019", "Не заполнено имя ключа ЭП", "Name of DS key is empty"},
    {"CP-008020", "Имя ключа ЭП содержит недопустимый символ \"%1\"", "Name of DS key has invalid symbol \"%1\""},
    {"CP-008021", "Уже существует ключ ЭП с таким именем", "DS key with the same name already exist"},
    {"CP-008022", "Уже существует ключ ЭП с таким именем \"%1\"", "DS key with the same name already exist: \"%1\""},
    {"CP-008023", "Не заполнен идентификатор ключа ЭП", "ID of DS key is empty"},
    {"CP-008024", "Уже существует ключ ЭП с таким идентификатором \"%1\"", "DS key with the same ID \"%1\" already exist"},
    {"CP-008025", "Идентификатор ключа ЭП уже установлен", "ID of DS key already setted"},
    {"CP-008026", "Не заполнены данные открытого ключа", "Data of public key is empty"},
    {"CP-008027", "Ошибка при работе с аппаратным устройством", "Error during working with Hardware device"},
    {"CP-008028", "Устройство не найдено", "Device not found"},
    {"CP-008029", "Устройство нерабочее", "Device is out of order"},
    {"CP-008030", "Превышено установленное ограничение количества неудачных попыток ввода PIN-кода", "PIN-code attempts have expired"},
    {"CP-008031", "Недостаточно свободного места для создания нового ключа на аппаратном устройстве", "Not enough free space to create a new key on the hardware device"},
    {"CP-008032", "Файл не является хранилищем ключей ЭП", "File is not DS keystore"},
    {"CP-008033", "Старая версия хранилища ключей не поддерживается", "Old keystore version is not supported"},
    {"CP-008034", "Старая версия ключа", "Old DS key version"},
    {"CP-008035", "Необходимо криптосредство СКЗИ \"Крипто-КОМ 3.5\"", "\"Крипто-КОМ 3.5\" not installed"},
    {"CP-008036", "Криптосредство не поддерживается", "Crypto type is unsupported"},
    {"CP-008037", "Криптосредство \"%1\" не поддерживается", "Crypto type \"%1\" is unsupported"},
    {"CP-008043", "Ошибка загрузки библиотеки PKCS #11: %1", "Loading PKCS #11 library error: %1"},
    {"CP-008048", "Необходимо криптосредство СКЗИ \"КриптоПро CSP\"", "\"CryptoPro CSP\" not installed"},
    {"CP-008049", "Необходимо криптосредство СКЗИ \"SignalCom CSP\"", "\"SignalCom CSP\" not installed"},
    {"CP-008050", "Необходимо криптосредство СКЗИ \"ViPNet CSP\"", "\"ViPNet CSP\" not installed"},
    {"CP-008051", "Необходимо криптосредство СКЗИ \"Message-PRO\"", "\"Message-PRO\" not installed"},
    {"CP-008052", "Контекст хэш-функции не инициализирован", "Hash-function context is not initialized"},
    {"CP-008053", "Функция не реализована", "Function is not implemented"},
    {"CP-008054", "Ошибка разбора XML", "Error parsing XML"},
    {"CP-008055", "Невозможно работать с ключами на VEL-токен ORMID с использованием СКЗИ \"Крипто-КОМ 3.3\" Исполнение 1, 2. Установите СКЗИ \"Крипто-КОМ 3.5\"", "Unable to work with keys on VEL-token ORMID with \"Крипто-КОМ 3.3\" Исполнение 1, 2. Install \"Крипто-КОМ 3.5\""},
    {"CP-008056", "VEL-токен ORMID активирован. Необходимо переподключить устройство", "VEL-token ORMID is activated. Reconnect the device"},
    {"CP-008058", "Алиас ключа ЭП не должен содержать кириллические символы", "Alias of DS key can not contain cyrillic symbols"},
    {"CP-008059", "Закрытый ключ не соответствует открытому ключу в сертификате", "Private key does not matches the certificate public key"},
    {"CP-008060", "Пустые данные", "Empty data"},
    {"CP-008061", "Не настроен датчик случайных чисел", "Random number generator (RNG) is not configured"},
    {"CP-008062", "Закрытый ключ не соответствует открытому ключу в запросе на сертификат", "Private key does not matches the certificate request public key"},
    {"CP-008063", "Неверная подпись в запросе на сертификат", "Invalid certificate request signature"},
    {"CP-008064", "Имя ключа ЭП содержит недопустимый символ", "Name of DS key has invalid symbol"},
    {"CP-009001", "Ключ не является файловым", "DS key is not filekey"},
    {"CP-009002", "Некорректный формат хранилища ключей", "Incorrect keystore format"},
    {"CP-009003", "Ошибка вычисления контрольной суммы хранилища ключей", "Error calculating keystore CRC"},
    {"CP-009004", "Ошибка проверки контрольной суммы хранилища ключей", "Error checking keystore CRC"},
    {"CP-010001", "Неизвестный тип аппаратного устройства", "Unknown type of hardware device"},
    {"CP-010002", "Устройство не инициализировано", "Device is not initialized"},
    {"CP-011001", "Нет информации о подписантах", "No information about signers"},
    {"CP-011002", "Для проверки множественной подписи требуется наличие сертификатов", "Certificates are required for multiple signature verification"},
    {"CP-011003", "Различается контент в присоединенной множественной подписи", "Different content in attached multiple signature"},
    {"CP-012001", "Ошибка при работе с СКЗИ \"Message-PRO\"", "Error during working with \"Message-PRO\""},
    {"CP-012002", "Для создания нового ключа необходимо выбрать новый контейнер", "Select new key container to create new key"},
    {"CP-012003", "Неизвестный тип сертификата", "Unknown certificate type"},
    {"CP-012004", "Сертификат УЦ не найден", "CA certificate not found"},
    {"CP-017001", "Недостаточно памяти для выполнения функции", "Not enough memory to execute function"},
    {"CP-017002", "Неправильный идентификатор слота", "Incorrect slot ID"},
    {"CP-017003", "При выполнении функции возник сбой", "Function execution failure"},
    {"CP-017004", "Недопустимый аргумент", "Invalid argument"},
    {"CP-017005", "Устройства не подключались и не отключались", "Devices were not connect or disconnect"},
    {"CP-017006", "Приложение не поддерживает защиту потоков от одновременного использования различными функциями", "The application does not support thread protection against simultaneous use of different functions"},
    {"CP-017007", "Предпринята попытка присвоения значения атрибуту, который нельзя изменять", "Trying to change value of read-only attribute"},
    {"CP-017008", "Запрашиваемый атрибут недоступен для чтения", "Requested attribute is not available for reading"},
    {"CP-017009", "Некорректный тип атрибута", "Invalid attribute type"},
    {"CP-017010", "Атрибут нулевой длины", "Attribute has zero length"},
    {"CP-017011", "Ошибка при обращении к устройству или слоту", "Error accessing device or slot"},
    {"CP-017012", "Для выполнения функции недостаточно памяти в устройстве", "Not enough device memory for function execution"},
    {"CP-017013", "При выполнении функции устройство было отключено", "The device was disconnected during function execution"},
    {"CP-017014", "Выбранный механизм не поддерживает расшифрование данных выбранной длины", "The selected mechanism does not support decryption of data of the selected length"},
    {"CP-017015", "Вызванная функция не поддерживается модулем сопряжения или не найден дополнительный подключаемый модуль", "Called function is not supported or additional plugged module is not found"},
    {"CP-017016", "Функции передан некорректный дескриптор ключа", "Invalid key handle passed to function"},
    {"CP-017017", "Недопустимый размер ключа", "Invalid DS key size"},
    {"CP-017018", "Данный тип ключа не может использоваться с данным механизмом", "This DS key type can not be used with this mechanism"},
    {"CP-017019", "Ключ, используемый для выполнения криптографических операций, имеет атрибуты, не позволяющие использовать его для данных операций", "DS key used to perform cryptographic operations has attributes that prevent it from being used for these operations"},
    {"CP-017020", "Ключ не может быть экспортирован", "DS key can not be exported"},
    {"CP-017021", "При выполнении криптографической функции был указан неправильный механизм", "Wrong mechanism was setted during cryptographic function execution"},
    {"CP-017022", "При выполнении криптографической функции были заданы некорректные параметры механизма", "Incorrect mechanism params were setted during cryptographic function execution"},
    {"CP-017023", "Функции передан некорректный дескриптор объекта", "Invalid object handle passed to function"},
    {"CP-017024", "Одна или несколько выполняющихся операций препятствует выполнению новой операции", "One or more operations in progress prevent a new operation from running"},
    {"CP-017025", "Выполнение операции без предварительного указания параметров невозможно", "The operation cannot be performed without specifying the parameters"},
    {"CP-017026", "Функции передан неверный PIN-код", "Wrong PIN-code passed to function"},
    {"CP-017027", "Значение PIN-кода содержит недопустимые символы", "PIN-code value has invalid character"},
    {"CP-017028", "Недопустимая длина PIN-кода", "Invalid PIN-code length"},
    {"CP-017030", "При выполнении функции сеанс был закрыт", "During function execution session was closed"},
    {"CP-017031", "Достигнуто предельное количество открытых сеансов для данного устройства", "Reached limit of open sessions for this device"},
    {"CP-017032", "Функции передан некорректный дескриптор сеанса", "Invalid session handle passed to function"},
    {"CP-017033", "Невозможно открыть параллельный сеанс", "Unable to open parallel session"},
    {"CP-017034", "Открыт сеанс работы с тем же устройством", "The same device working session is open"},
    {"CP-017035", "Открыт сеанс только для чтения. Смена режима невозможна", "Read-only session is open. It is impossible to change session mode"},
    {"CP-017036", "Открыт сеанс чтения/записи. Открыть сеанс только для чтения невозможно", "Read/write session is open. It is impossible to open read-only session"},
    {"CP-017037", "Неправильное значение ЭП или имитовставки", "Wrong DS or MAC value"},
    {"CP-017038", "Значение ЭП неверно по крайней мере по длине", "DS value is incorrect at least by length size"},
    {"CP-017039", "Для создания объекта недостаточно атрибутов", "Not enough attributes count for object creation"},
    {"CP-017040", "Заданные в шаблоне значения атрибутов противоречат друг другу", "Attribute values specified in the template contradict each other"},
    {"CP-017041", "В момент выполнения функции устройство было отключено", "During function execution device was disconnect"},
    {"CP-017042", "Невозможно определить тип устройства, подключенного к слоту", "Impossible to detect type of connected device"},
    {"CP-017043", "Устройство недоступно для записи", "Device is not available for writing"},
    {"CP-017044", "Устройство уже работает в режиме, включение которого требует ввода данного PIN-кода", "The device is already operating in the mode, which requires entering this PIN-code"},
    {"CP-017045", "Действие не может быть выполнено, т.к. пользователь не залогинен", "The action cannot be performed because the user is not logged in"},
    {"CP-017046", "Начальное значение PIN-кода не установлено", "Initial PIN-code value is not setted"},
    {"CP-017047", "Задан некорректный режим работы с модулем сопряжения", "Incorrect working mode with the interface module is specified"},
    {"CP-017048", "Переключение из режима администратора в режим пользователя или из режима пользователя в режим администратора невозможно", "You cannot switch from administrator mode to user mode or from user mode to administrator mode"},
    {"CP-017049", "Размер заданного буфера является недостаточным для сохранения результатов функции", "Not enough buffer memory for saving function result"},
    {"CP-017050", "Запрашиваемый объект недоступен для чтения", "Requested object is unavailable for reading"},
    {"CP-017051", "Выполнение функции без инициализации модуля сопряжения невозможно", "Unable to execute function without interface module initialization"},
    {"CP-017052", "Модуль сопряжения уже инициализирован", "Interface module has been already initialized"},
    {"CP-017053", "Запрос ЭП отклонён пользователем", "DS request is canceled by user"},
    {"CP-017055", "Ошибка при работе с библиотекой PKCS #11", "Error operating with PKCS #11 library"},
    {"CP-020001", "Неизвестный протокол работы c устройством", "Unknown device operation protocol"},
});
// clang-format on

} // namespace cp

namespace
{

// The message handed in, else the text of `code`; either way the error
// carries `code`, the entry of its class.
bs::ComposedError givenOr(std::string&& message, const char* code)
{
    if (message.empty())
        return bs::composeError(cp::localization, code);
    return bs::ComposedError(std::move(message), code);
}

bs::ComposedError invalidPasswordText(std::int32_t tries)
{
    if (tries <= 0)
        throw KeyBlocked();
    if (tries == 1)
        return bs::composeError(cp::localization, "CP-008009");
    if (tries <= 4)
        return bs::composeError(cp::localization, "CP-008008", std::to_string(tries));
    if (tries <= 15)
        return bs::composeError(cp::localization, "CP-008007", std::to_string(tries));
    return bs::composeError(cp::localization, "CP-008010");
}

} // namespace

UnsupportedCryptoType::UnsupportedCryptoType(std::string_view cryptoType)
    : bs::ComposedError(crypto::findName(cryptoType).empty()
                            ? bs::composeError(cp::localization, "CP-008036")
                            : bs::composeError(cp::localization, "CP-008037", crypto::findName(cryptoType))),
      m_cryptoType(cryptoType)
{
}

InvalidPassword::InvalidPassword(std::int32_t tries)
    : bs::ComposedError(invalidPasswordText(tries)), m_tries(tries)
{
    setTriesLeft(tries);
}

FunctionCanceled::FunctionCanceled(std::string message)
    : bs::ComposedError(givenOr(std::move(message), "CP-008011"))
{
}

InvalidKeyAlias::InvalidKeyAlias(std::string_view symbol)
    : bs::ComposedError(symbol.empty() ? bs::composeError(cp::localization, "CP-008064")
                                       : bs::composeError(cp::localization, "CP-008020", symbol))
{
}

KeyAliasAlreadyExist::KeyAliasAlreadyExist(std::string_view alias)
    : bs::ComposedError(alias.empty() ? bs::composeError(cp::localization, "CP-008021")
                                      : bs::composeError(cp::localization, "CP-008022", alias)),
      m_alias(alias)
{
    if (!m_alias.empty())
        setFailedAlias(m_alias);
}

KeyIdAlreadyExist::KeyIdAlreadyExist(std::uint64_t id)
    : bs::ComposedError(bs::composeError(cp::localization, "CP-008024", std::to_string(id))), m_id(id)
{
}

DeviceError::DeviceError(std::uint16_t code, std::string message, const char* catalogueCode)
    : bs::ComposedError(givenOr(std::move(message), catalogueCode)), m_code(code)
{
    if (code != 0)
        setVendorCode(code);
}

Pkcs11LoadError::Pkcs11LoadError(std::string_view detail)
    : bs::ComposedError(bs::composeError(cp::localization, "CP-008043", detail))
{
}
