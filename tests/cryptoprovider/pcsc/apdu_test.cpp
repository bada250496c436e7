#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/conv.h"
#include "cryptoprovider/pcsc/apdu.h"
#include "cryptoprovider/pcsc/scard_provider.h"

namespace
{

using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string& text)
{
    return conv::hex_to_bytes(text);
}

Bytes counting(std::size_t n)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<unsigned char>(i);
    }
    return out;
}

std::string ru(const char* code)
{
    return cp::localization.get(RUSSIAN, code);
}

TEST(ApduCommand, EncodesShortAndExtendedForms)
{
    const Bytes five = hex("A000000001");
    const struct {
        apdu::Command command;
        std::string expected;
    } cases[] = {
        {apdu::Command(0x00, 0xB0, 0x00, 0x00), "00B00000"},
        {apdu::Command(0x00, 0x84, 0x00, 0x00, short{8}), "0084000008"},
        {apdu::Command(0x00, 0xCA, 0x01, 0x89, short{0}), "00CA018900"},
        {apdu::Command(0x00, 0xA4, 0x04, 0x00, five), "00A4040005A000000001"},
        {apdu::Command(0x00, 0xA4, 0x04, 0x00, five, 0), "00A4040005A00000000100"},
        {apdu::Command(0x00, 0xD6, 0x00, 0x00, counting(255), 0x80),
         "00D60000FF" + conv::bytes_to_hex(counting(255)) + "80"},
        {apdu::Command(0x00, 0xD6, 0x00, 0x00, counting(256)),
         "00D60000000100" + conv::bytes_to_hex(counting(256))},
        {apdu::Command(0x00, 0x2A, 0x9E, 0x80, counting(300), 0),
         "002A9E8000012C" + conv::bytes_to_hex(counting(300)) + "0000"},
        {apdu::Command(0x00, 0x2A, 0x9E, 0x80, counting(414), 0x80),
         "002A9E8000019E" + conv::bytes_to_hex(counting(414)) + "0080"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(conv::bytes_to_hex(c.command.getRequest()), c.expected);
    }
}

TEST(ApduCommand, RefusesWhatTheEncodingCannotCarry)
{
    EXPECT_THROW(apdu::Command(0x00, 0xB0, 0x00, 0x00, short{256}), std::invalid_argument);
    EXPECT_THROW(apdu::Command(0x00, 0xB0, 0x00, 0x00, short{-2}), std::invalid_argument);
    EXPECT_THROW(apdu::Command(0x00, 0xD6, 0x00, 0x00, Bytes(0x10000)), std::invalid_argument);
    EXPECT_NO_THROW(apdu::Command(0x00, 0xD6, 0x00, 0x00, Bytes(0xFFFF)));
}

TEST(ApduCommand, ParsesHexText)
{
    const struct {
        const char* text;
        Bytes data;
        short le;
    } cases[] = {
        {"00a4040002aabb", {0xAA, 0xBB}, -1},
        {"00a4040002aabb00", {0xAA, 0xBB}, 0},
        {"80380020", {}, -1},
    };
    for (const auto& c : cases) {
        const apdu::Command command{std::string_view(c.text)};
        EXPECT_EQ(command.getData(), c.data) << c.text;
        EXPECT_EQ(command.getLe(), c.le) << c.text;
        // The text is the request the command sends.
        EXPECT_EQ(command.getRequest(), hex(c.text)) << c.text;
    }
    const apdu::Command header{std::string_view("00a4040c")};
    EXPECT_EQ(header.getCla(), 0x00);
    EXPECT_EQ(header.getIns(), 0xA4);
    EXPECT_EQ(header.getP1(), 0x04);
    EXPECT_EQ(header.getP2(), 0x0C);
}

TEST(ApduCommand, RejectsMalformedHexText)
{
    const struct {
        const char* text;
        std::string message;
    } cases[] = {
        {"00a4040002aa", "Некорректный размер данных APDU команды"},
        {"00a4040002aabb0000", "Некорректный размер данных APDU команды"},
        {"00a404", "Команда APDU должна быть не менее 4 байт"},
        {"", "Команда APDU должна быть не менее 4 байт"},
    };
    for (const auto& c : cases) {
        try {
            apdu::Command{std::string_view(c.text)};
            ADD_FAILURE() << c.text << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(e.what(), c.message) << c.text;
        }
    }
    EXPECT_THROW(apdu::Command{std::string_view("00a4040g")}, std::invalid_argument);
    EXPECT_THROW(apdu::Command{std::string_view("00a404000")}, std::invalid_argument);
}

TEST(ApduResponse, SplitsDataAndStatusWord)
{
    const apdu::Response r(hex("0102036A82"), true);
    EXPECT_EQ(r.getData(), hex("010203"));
    EXPECT_EQ(r.getSw(), 0x6A82);
    EXPECT_EQ(r.getSw1(), 0x6A);
    EXPECT_EQ(r.getSw2(), 0x82);
    // Silent construction keeps an error status word for the caller.
    EXPECT_THROW(r.check(), apdu::FileNotFound);
    EXPECT_THROW(apdu::Response(hex("6A82"), false), apdu::FileNotFound);
}

TEST(ApduResponse, NeedsAStatusWord)
{
    for (const Bytes& b : {Bytes{}, Bytes{0x90}}) {
        try {
            apdu::Response(b, true);
            ADD_FAILURE() << b.size() << " bytes accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "Ответ APDU должен быть не менее 2 байт");
        }
    }
}

TEST(ApduResponse, AcceptsSuccessAndContinuationWords)
{
    for (const char* sw : {"9000", "6200", "0000", "6110", "6100", "6C08", "3C01"}) {
        EXPECT_NO_THROW(apdu::Response(hex(sw), false)) << sw;
    }
    for (const char* sw : {"9001", "6201", "6281", "0001"}) {
        EXPECT_ANY_THROW(apdu::Response(hex(sw), false)) << sw;
    }
}

struct Outcome {
    std::string type;
    long value = -1; // code() for device errors, tries() for wrong passwords
    std::string message;
};

Outcome outcomeOf(std::uint16_t sw)
{
    const apdu::Response response(Bytes{static_cast<unsigned char>(sw >> 8), static_cast<unsigned char>(sw)},
                                  true);
    try {
        response.handleError(sw);
    } catch (const apdu::FileNotFound& e) {
        return {"FileNotFound", e.code(), e.what()};
    } catch (const apdu::CardNotFormatted& e) {
        return {"CardNotFormatted", e.code(), e.what()};
    } catch (const apdu::NoMemory& e) {
        return {"NoMemory", e.code(), e.what()};
    } catch (const apdu::UnknownCommand& e) {
        return {"UnknownCommand", e.code(), e.what()};
    } catch (const apdu::jacarta::IncorrectPin& e) {
        return {"jacarta::IncorrectPin", e.code(), e.what()};
    } catch (const apdu::jacarta::WrongSign& e) {
        return {"jacarta::WrongSign", e.code(), e.what()};
    } catch (const apdu::rutoken::DataNotFound& e) {
        return {"rutoken::DataNotFound", e.code(), e.what()};
    } catch (const apdu::rutoken::CheckSumFailed& e) {
        return {"rutoken::CheckSumFailed", e.code(), e.what()};
    } catch (const apdu::rutoken::WrongSign& e) {
        return {"rutoken::WrongSign", e.code(), e.what()};
    } catch (const DeviceError& e) {
        return {"DeviceError", e.code(), e.what()};
    } catch (const InvalidPassword& e) {
        return {"InvalidPassword", e.tries(), e.what()};
    } catch (const KeyBlocked& e) {
        return {"KeyBlocked", -1, e.what()};
    } catch (const PinBlocked& e) {
        return {"PinBlocked", -1, e.what()};
    } catch (const PinLengthRange& e) {
        return {"PinLengthRange", -1, e.what()};
    } catch (const AccessDenied& e) {
        return {"AccessDenied", -1, e.what()};
    } catch (const CardIsFull& e) {
        return {"CardIsFull", -1, e.what()};
    } catch (const FunctionNotImplemented& e) {
        return {"FunctionNotImplemented", -1, e.what()};
    } catch (const std::exception& e) {
        return {"other", -1, e.what()};
    }
    return {"nothing thrown", -1, ""};
}

TEST(StatusWords, BecomeTheLibrarysExceptions)
{
    const struct {
        std::uint16_t sw;
        std::string type;
        long value;
        std::string message;
    } cases[] = {
        {0x0005, "DeviceError", 0x0005, "Общий сбой"},
        {0x0170, "DeviceError", 0x0170, "Попытка доступа к закрытой информации"},
        {0x00A0, "jacarta::IncorrectPin", 0x00A0, "Неверный ПИН-код"},
        {0x00A2, "PinLengthRange", -1, ru("CP-008012")},
        {0x00A4, "PinBlocked", -1, ru("CP-008030")},
        {0x00C0, "jacarta::WrongSign", 0x00C0, "Не удаётся проверить ЭП или ЭП является недействительной"},
        {0x6300, "InvalidPassword", 16, ru("CP-008010")},
        {0x63C2, "InvalidPassword", 2, ""},
        {0x63CF, "InvalidPassword", 15, ""},
        {0x63C1, "InvalidPassword", 1, ""},
        {0x63C0, "KeyBlocked", -1, ru("CP-008006")},
        {0x6400, "DeviceError", 0x6400, ru("CP-000001")},
        {0x6581, "DeviceError", 0x6581, "Ошибка целостности EEPROM"},
        {0x6982, "AccessDenied", -1, ru("CP-008001")},
        {0x6983, "KeyBlocked", -1, ru("CP-008006")},
        {0x6996, "rutoken::WrongSign", 0x6996, "Неверная ЭЦП"},
        {0x69A6, "CardNotFormatted", 0x69A6, "Карта еще не отформатирована"},
        {0x6A82, "FileNotFound", 0x6A82, "Файл не найден или ошибка создания файла"},
        {0x6A83, "DeviceError", 0x6A83, "Запись не найдена"},
        {0x6A84, "NoMemory", 0x6A84, "Не хватает места"},
        {0x6A88, "rutoken::DataNotFound", 0x6A88, "Отсутствуют необходимые данные"},
        {0x6D00, "UnknownCommand", 0x6D00, "Не найдена команда с данным INS"},
        {0x6E00, "DeviceError", 0x6E00, "Не найдена команда с данным CLA"},
        {0x6F87, "rutoken::CheckSumFailed", 0x6F87, "Контрольная сумма не совпадает"},
        {0x6F00, "DeviceError", 0x6F00, ru("CP-008027")},
        {0x9108, "CardIsFull", -1, ru("CP-008031")},
        {0x912C, "DeviceError", 0x912C,
         "Совпадение случайных чисел при выработке сессионного ключа (reflection attack)"},
        {0x9300, "DeviceError", 0x9300, "Ошибка в ОС"},
        {0x9500, "FunctionNotImplemented", -1, ru("CP-008053")},
    };
    for (const auto& c : cases) {
        const Outcome o = outcomeOf(c.sw);
        EXPECT_EQ(o.type, c.type) << std::hex << c.sw;
        EXPECT_EQ(o.value, c.value) << std::hex << c.sw;
        if (!c.message.empty()) {
            EXPECT_EQ(o.message, c.message) << std::hex << c.sw;
        }
    }
}

struct Facts {
    std::string code;
    int tries;
    long long vendor;
};

// What a failure tells Java beyond its text.
template <class Call> Facts factsOf(Call call)
{
    try {
        call();
    } catch (const std::exception& e) {
        const auto* failure = dynamic_cast<const bs::Failure*>(&e);
        if (failure == nullptr)
            return {"no code", -2, -2};
        return {failure->errorCode(), failure->triesLeft(), failure->vendorCode()};
    }
    return {"nothing thrown", -2, -2};
}

TEST(StatusWords, CarryTheirCodeTheTriesLeftAndTheStatusWord)
{
    const struct {
        std::uint16_t sw;
        Facts facts;
    } cases[] = {
        {0x63C2, {"CP-008008", 2, 0x63C2}},  {0x63C1, {"CP-008009", 1, 0x63C1}},
        {0x6300, {"CP-008010", 16, 0x6300}}, {0x63C0, {"CP-008006", 0, 0x63C0}},
        {0x6983, {"CP-008006", 0, 0x6983}},  {0x00A4, {"CP-008030", 0, 0x00A4}},
        {0x00A2, {"CP-008012", -1, 0x00A2}}, {0x6982, {"CP-008001", -1, 0x6982}},
        {0x9108, {"CP-008031", -1, 0x9108}}, {0x9500, {"CP-008053", -1, 0x9500}},
        {0x6400, {"CP-000001", -1, 0x6400}}, {0x6A82, {"CP-008027", -1, 0x6A82}},
        {0x6F00, {"CP-008027", -1, 0x6F00}}, {0x6581, {"CP-008027", -1, 0x6581}},
    };
    for (const auto& c : cases) {
        const apdu::Response response(
            Bytes{static_cast<unsigned char>(c.sw >> 8), static_cast<unsigned char>(c.sw)}, true);
        const Facts facts = factsOf([&] { response.handleError(c.sw); });
        EXPECT_EQ(facts.code, c.facts.code) << std::hex << c.sw;
        EXPECT_EQ(facts.tries, c.facts.tries) << std::hex << c.sw;
        EXPECT_EQ(facts.vendor, c.facts.vendor) << std::hex << c.sw;
    }
}

TEST(ScardResult, FailuresCarryThePcscResult)
{
    const struct {
        std::uint32_t result;
        Facts facts;
    } cases[] = {
        {0x80100069u, {"CP-008028", -1, 0x80100069}}, // card removed
        {0x80100009u, {"CP-008028", -1, 0x80100009}}, // unknown reader
        {0x8010001Du, {"CP-008004", -1, 0x8010001D}}, // no service
        {0x8010000Cu, {"CP-008027", -1, 0x8010000C}}, // no smart card: the platform's text
    };
    for (const auto& c : cases) {
        const Facts facts = factsOf([&] { SCardProvider::checkResult(static_cast<std::int32_t>(c.result)); });
        EXPECT_EQ(facts.code, c.facts.code) << std::hex << c.result;
        EXPECT_EQ(facts.tries, c.facts.tries) << std::hex << c.result;
        EXPECT_EQ(facts.vendor, c.facts.vendor) << std::hex << c.result;
    }
}

TEST(StatusWords, DeviceTextsStayRussianInEnglish)
{
    cp::localization.setLanguage(ENGLISH);
    const Outcome known = outcomeOf(0x6A80);
    const Outcome unknown = outcomeOf(0x6F00);
    cp::localization.setLanguage(RUSSIAN);
    EXPECT_EQ(known.message, "Неверные данные команды");
    EXPECT_EQ(unknown.message, cp::localization.get(ENGLISH, "CP-008027"));
}

TEST(ApduTlv, UsesTheShortLengthForm)
{
    const struct {
        std::size_t size;
        std::string length;
    } cases[] = {{0, "00"}, {4, "04"}, {255, "FF"}, {256, "000100"}, {400, "000190"}, {0xFFFF, "00FFFF"}};
    for (const auto& c : cases) {
        const apdu::Tlv tlv(0x02, counting(c.size));
        EXPECT_EQ(conv::bytes_to_hex(tlv.dataLength()), c.length) << c.size;
        EXPECT_EQ(conv::bytes_to_hex(tlv.data()), "02" + c.length + conv::bytes_to_hex(counting(c.size)));
    }
    EXPECT_THROW(apdu::Tlv(0x02, Bytes(0x10000)), std::invalid_argument);
}

TEST(ScardState, NamesTheSetFlagsInOrder)
{
    EXPECT_EQ(SCardProvider::stringifyState(0x30), "Card removed, Card in the reader");
    EXPECT_EQ(SCardProvider::stringifyState(0x22), "Card in the reader");
    EXPECT_EQ(SCardProvider::stringifyState(0x0), "");
    EXPECT_EQ(SCardProvider::stringifyState(0x10122), "Card in the reader, Shared Mode");
    EXPECT_EQ(SCardProvider::stringifyState(0x3FF),
              "Ignore this reader, Reader unknown, Status unavailable, Card removed, Card in the reader, "
              "ATR matches card, Exclusive Mode, Shared Mode, Unresponsive card");
}

TEST(ScardResult, MapsPcscFailures)
{
    EXPECT_NO_THROW(SCardProvider::checkResult(0));
    for (std::uint32_t code : {0x80100003u, 0x80100009u, 0x80100017u, 0x80100069u}) {
        EXPECT_THROW(SCardProvider::checkResult(static_cast<std::int32_t>(code)), DeviceNotFound)
            << std::hex << code;
    }
    EXPECT_THROW(SCardProvider::checkResult(static_cast<std::int32_t>(0x8010001Du)), ScardNoService);
    try {
        SCardProvider::checkResult(static_cast<std::int32_t>(0x8010000Cu));
        ADD_FAILURE() << "no exception";
    } catch (const ScardException& e) {
        EXPECT_EQ(e.code(), 0x8010000Cu);
        EXPECT_STREQ(e.what(), pcsc_stringify_error(static_cast<LONG>(0x8010000C)));
    }
}

TEST(NoService, EveryCallReportsIt)
{
    // The client library reads the socket name once, on first use; nothing
    // in this program has talked to PC/SC before.
    ::setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/ormid-no-pcscd.comm", 1);
    SCardProvider provider;
    EXPECT_THROW(provider.listReaders(), ScardNoService);
    EXPECT_THROW(provider.getStatus("Any Reader 00 00"), ScardNoService);
    EXPECT_THROW(SCardProvider("Any Reader 00 00"), ScardNoService);
}

} // namespace
