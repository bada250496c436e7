#include "cryptoprovider/pcsc/apdu.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/conv.h"
#include "base/logger.h"

namespace apdu
{
namespace
{

const char* const COMMAND_TOO_SHORT = "Команда APDU должна быть не менее 4 байт";
const char* const COMMAND_BAD_SIZE = "Некорректный размер данных APDU команды";
const char* const RESPONSE_TOO_SHORT = "Ответ APDU должен быть не менее 2 байт";

struct StatusText {
    std::uint16_t sw;
    const char* text;
};

// Device status words reported as DeviceError with the device's own text.
// Values below 0x6000 are error codes some tokens return in place of a
// status word.
const StatusText DEVICE_TEXTS[] = {
    {0x0005, "Общий сбой"},
    {0x0006, "Выполнение команды привело к сбою"},
    {0x0010, "Атрибут доступен только для чтения"},
    {0x0012, "Передан некорректный тип атрибута"},
    {0x0013, "Передано некорректное значение атрибута"},
    {0x0030, "Устройство неисправно"},
    {0x0031, "Недостаточно памяти устройства"},
    {0x0060, "Нет ключа с заданным идентификатором"},
    {0x0062, "Заданный размер ключа выходит за пределы допустимого диапазона"},
    {0x0063, "Тип ключа не соответствует заданному"},
    {0x0082, "Нет объекта с заданным идентификатором"},
    {0x0101, "Устройство в настоящий момент не работает в нужном для выполнения команды режиме"},
    {0x0102, "Первоначальное значение ПИН-кода пользователя не установлено"},
    {0x0103, "Задан некорректный режим работы устройства"},
    {0x0104, "Устройство не находится в гостевом режиме"},
    {0x0121, "Ошибка датчика случайных чисел"},
    {0x0170, "Попытка доступа к закрытой информации"},
    {0x6581, "Ошибка целостности EEPROM"},
    {0x6700, "Неверная длина данных"},
    {0x6701, "Запрошено слишком много данных"},
    {0x6702, "Слишком много данных для проведения SM"},
    {0x6710, "Значение Le превышает размер коммуникационного буфера"},
    {0x6711, "Значение Lc превышает размер коммуникационного буфера"},
    {0x6900, "Выполнение команды запрещено"},
    {0x6910, "Директория не пуста (при попытке удалить)"},
    {0x6911, "Нельзя удалять MF"},
    {0x6985, "Не выполнены предварительные условия"},
    {0x6986, "Команда не применима к данному типу файла"},
    {0x6987, "Отсутствуют данные, необходимые для проведения SM"},
    {0x6988, "Некорректный объект SM"},
    {0x6989, "Команда недопустима на данной фазе жизни файла или карты"},
    {0x6990, "Ошибочная имитовставка при SM"},
    {0x6991, "Поврежден файл"},
    {0x6992, "Правило доступа с указанным номером уже определено"},
    {0x6993, "Требуется генерация производного ключа"},
    {0x6994, "Ключ не предназначен для выполнения указанной операции"},
    {0x6995, "Криптографическая операция не может быть продолжена"},
    {0x6997, "Необходимо использовать SM"},
    {0x6998, "Запрещено менять настройки SM при активном SM"},
    {0x6999, "Ключ не найден"},
    {0x699A, "Не найден указанный CRT"},
    {0x699B, "Недопустимый криптографический алгоритм ключа"},
    {0x699C, "Неверное выравнивание данных при SM"},
    {0x699D, "Ключ не загружен"},
    {0x699E, "Некорректное правило разграничения доступа"},
    {0x69A1, "Раздел уже занят"},
    {0x69A2, "Пересечение разделов"},
    {0x69A3, "Вектор расширения занят или блокирован"},
    {0x69A4, "Список команд-расширений уже полон"},
    {0x69A5, "Адрес обработчика вне заполненной части текущего раздела"},
    {0x6A00, "Неверные параметры команды"},
    {0x6A80, "Неверные данные команды"},
    {0x6A83, "Запись не найдена"},
    {0x6A86, "Неверные параметры P1-P2"},
    {0x6A89, "Файл с заданным идентификатором уже существует"},
    {0x6A91, "Неверные параметры криптографического алгоритма"},
    {0x6A92, "Неправильные параметры операции"},
    {0x6A93, "Недопустимая длина СЧ"},
    {0x6A94, "Недопустимый номер санкции"},
    {0x6A95, "Несовместимость алгоритма и назначения ключа или битов назначения ключа"},
    {0x6B00, "Указано смещение за границами файла"},
    {0x6E00, "Не найдена команда с данным CLA"},
    {0x9100, "Аппаратная ошибка"},
    {0x9101, "Таймаут ожидания данных"},
    {0x9102, "Обращение по несуществующему адресу в EEPROM"},
    {0x9103, "Переполнение буфера транзакций"},
    {0x9104, "Недостаточно оперативной памяти"},
    {0x9105, "Ошибочное освобождение памяти"},
    {0x9106, "Commit без открытия транзакции"},
    {0x9107, "Ошибка в транзакционном буфере"},
    {0x9109, "Повреждены служебные области EEPROM"},
    {0x910A, "Поврежден EEPROM"},
    {0x910B, "Недопустимые условия окружающей среды"},
    {0x9110, "Переполнение при выполнении арифметической операции"},
    {0x9120, "Алгоритм не определен"},
    {0x9121, "Неверный параметр алгоритма"},
    {0x9122, "Операция неприменима к данному типу алгоритма"},
    {0x9123, "Режим не определен"},
    {0x9124, "Неверный размер входных данных"},
    {0x9125, "Недостаточный размер буфера для выходных данных"},
    {0x9126, "Ошибка при выполнении криптографического преобразования"},
    {0x9127, "Тэг не определен"},
    {0x9128, "Контекст не инициализирован или поврежден"},
    {0x9129, "Переполнение буфера контекстов"},
    {0x912A, "Переполнение буфера данных"},
    {0x912B, "Неверное направление криптооперации (зашифровать/расшифровать)"},
    {0x912C, "Совпадение случайных чисел при выработке сессионного ключа (reflection attack)"},
    {0x912D, "Неверное значение индекса параметра по умолчанию"},
    {0x912E, "Ошибка ДСЧ"},
    {0x912F, "Ошибка выравнивания"},
    {0x9300, "Ошибка в ОС"},
};

const char* deviceText(std::uint16_t sw)
{
    const auto* end = std::end(DEVICE_TEXTS);
    const auto* it =
        std::find_if(std::begin(DEVICE_TEXTS), end, [sw](const StatusText& s) { return s.sw == sw; });
    return it == end ? nullptr : it->text;
}

void appendLength(std::vector<unsigned char>& out, std::size_t length)
{
    if (length < 256) {
        out.push_back(static_cast<unsigned char>(length));
    } else {
        out.push_back(0x00);
        out.push_back(static_cast<unsigned char>(length >> 8));
        out.push_back(static_cast<unsigned char>(length & 0xFF));
    }
}

} // namespace

FileNotFound::FileNotFound() : DeviceError(0x6A82, "Файл не найден или ошибка создания файла") {}
CardNotFormatted::CardNotFormatted() : DeviceError(0x69A6, "Карта еще не отформатирована") {}
NoMemory::NoMemory() : DeviceError(0x6A84, "Не хватает места") {}
UnknownCommand::UnknownCommand() : DeviceError(0x6D00, "Не найдена команда с данным INS") {}

namespace jacarta
{
IncorrectPin::IncorrectPin() : DeviceError(0x00A0, "Неверный ПИН-код") {}
WrongSign::WrongSign() : DeviceError(0x00C0, "Не удаётся проверить ЭП или ЭП является недействительной") {}
} // namespace jacarta

namespace rutoken
{
DataNotFound::DataNotFound() : DeviceError(0x6A88, "Отсутствуют необходимые данные") {}
CheckSumFailed::CheckSumFailed() : DeviceError(0x6F87, "Контрольная сумма не совпадает") {}
WrongSign::WrongSign() : DeviceError(0x6996, "Неверная ЭЦП") {}
} // namespace rutoken

Command::Command(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2)
    : Command(cla, ins, p1, p2, std::vector<unsigned char>{}, -1)
{
}

Command::Command(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2, short le)
    : Command(cla, ins, p1, p2, std::vector<unsigned char>{}, le)
{
}

Command::Command(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2,
                 const std::vector<unsigned char>& data)
    : Command(cla, ins, p1, p2, data, -1)
{
}

Command::Command(unsigned char cla, unsigned char ins, unsigned char p1, unsigned char p2,
                 const std::vector<unsigned char>& data, short le)
    : m_cla(cla), m_ins(ins), m_p1(p1), m_p2(p2), m_data(data), m_le(le)
{
    // Lc travels in at most two bytes and Le in one.
    if (le < -1 || le > 255 || data.size() > 0xFFFF) {
        throw std::invalid_argument(COMMAND_BAD_SIZE);
    }
}

Command::Command(std::string_view hex) : m_cla(0), m_ins(0), m_p1(0), m_p2(0)
{
    std::string upper(hex);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const std::vector<unsigned char> raw = conv::hex_to_bytes(upper);
    if (raw.size() < 4) {
        throw std::invalid_argument(COMMAND_TOO_SHORT);
    }
    m_cla = raw[0];
    m_ins = raw[1];
    m_p1 = raw[2];
    m_p2 = raw[3];
    if (raw.size() == 4) {
        return;
    }
    const std::size_t lc = raw[4];
    if (raw.size() != lc + 5 && raw.size() != lc + 6) {
        throw std::invalid_argument(COMMAND_BAD_SIZE);
    }
    m_data.assign(raw.begin() + 5, raw.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
    if (raw.size() == lc + 6) {
        m_le = raw.back();
    }
}

std::vector<unsigned char> Command::getRequest() const
{
    bs::Logger log("apdu::Command::getRequest");
    std::vector<unsigned char> request{m_cla, m_ins, m_p1, m_p2};
    const std::size_t lc = m_data.size();
    // Room for the longest form at once: growing later would free a copy of
    // the data (a PIN, a session token) unwiped.
    request.reserve(4 + 3 + lc + 2);
    if (lc > 0) {
        appendLength(request, lc);
        request.insert(request.end(), m_data.begin(), m_data.end());
    }
    if (m_le >= 0) {
        if (lc >= 256) {
            request.push_back(0x00);
        }
        request.push_back(static_cast<unsigned char>(m_le));
    }
    // Command data can hold PINs: the log gets the header and the sizes only.
    log.debug(conv::bytes_to_hex(request.data(), 4) + " Lc=" + std::to_string(lc) +
              " Le=" + std::to_string(m_le));
    return request;
}

bool isSuccess(std::uint16_t sw) noexcept
{
    const unsigned sw1 = sw >> 8;
    return sw == 0x9000 || sw == 0x6200 || sw == 0x0000 || sw1 == 0x61 || sw1 == 0x6C || sw1 == 0x3C;
}

Response::Response(const std::vector<unsigned char>& bytes, bool silent) : m_bytes(bytes)
{
    bs::Logger log("apdu::Response::Response");
    // The data can be a session token: only its size and the status word are logged.
    log.debug(
        "response apdu: " + std::to_string(m_bytes.size()) + " bytes" +
        (m_bytes.size() >= 2 ? ", SW " + conv::bytes_to_hex(m_bytes.data() + m_bytes.size() - 2, 2) : ""));
    if (m_bytes.size() < 2) {
        throw std::invalid_argument(RESPONSE_TOO_SHORT);
    }
    if (!silent) {
        check();
    }
}

void Response::check() const
{
    if (!isSuccess(getSw())) {
        handleError(getSw());
    }
}

void Response::handleError(std::uint16_t sw) const
{
    bs::Logger log("apdu::Response::handleError");
    log.debug("apdu::Response::handleError=" + std::to_string(sw));
    if (sw == 0x6300) {
        throw bs::withVendorCode(InvalidPassword(16), sw);
    }
    if ((sw & 0xFFF0) == 0x63C0) {
        const int tries = sw & 0x0F;
        if (tries == 0) {
            throw bs::withVendorCode(KeyBlocked(), sw);
        }
        throw bs::withVendorCode(InvalidPassword(tries), sw);
    }
    switch (sw) {
    case 0x00A0:
        throw jacarta::IncorrectPin();
    case 0x00A2:
        throw bs::withVendorCode(PinLengthRange(), sw);
    case 0x00A4:
        throw bs::withVendorCode(PinBlocked(), sw);
    case 0x00C0:
        throw jacarta::WrongSign();
    case 0x6400:
        throw DeviceError(sw, cp::localization.get("CP-000001"), "CP-000001");
    case 0x6982:
        throw bs::withVendorCode(AccessDenied(), sw);
    case 0x6983:
        throw bs::withVendorCode(KeyBlocked(), sw);
    case 0x6996:
        throw rutoken::WrongSign();
    case 0x69A6:
        throw CardNotFormatted();
    case 0x6A82:
        throw FileNotFound();
    case 0x6A84:
        throw NoMemory();
    case 0x6A88:
        throw rutoken::DataNotFound();
    case 0x6D00:
        throw UnknownCommand();
    case 0x6F87:
        throw rutoken::CheckSumFailed();
    case 0x9108:
        throw bs::withVendorCode(CardIsFull(), sw);
    case 0x9500:
        throw bs::withVendorCode(FunctionNotImplemented(), sw);
    default:
        break;
    }
    const char* text = deviceText(sw);
    throw DeviceError(sw, text ? text : "");
}

Tlv::Tlv(unsigned char tag, const std::vector<unsigned char>& value) : ::Tlv(tag, value)
{
    // The length field holds at most two bytes.
    if (value.size() > 0xFFFF) {
        throw std::invalid_argument(COMMAND_BAD_SIZE);
    }
}

std::vector<unsigned char> Tlv::dataLength() const
{
    std::vector<unsigned char> out;
    appendLength(out, valueRef().size());
    return out;
}

std::vector<unsigned char> Tlv::data() const
{
    std::vector<unsigned char> out{tag()};
    appendLength(out, valueRef().size());
    out.insert(out.end(), valueRef().begin(), valueRef().end());
    return out;
}

} // namespace apdu
