#include <gtest/gtest.h>

#include <iconv.h>

#include <optional>
#include <string>

#include "base/encoding.h"
#include "base/errors.h"

namespace
{

// glibc iconv as the independent reference; nullopt when it refuses the input.
std::optional<std::string> iconvConvert(const char* from, const char* to, const std::string& input)
{
    const iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "iconv cannot convert " << from << " to " << to;
        return std::nullopt;
    }
    std::string in = input;
    std::string out(input.size() * 4 + 16, '\0');
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) {
        return std::nullopt;
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::u32string toUtf32(const std::string& utf32le)
{
    std::u32string out;
    for (std::size_t i = 0; i + 3 < utf32le.size(); i += 4) {
        out.push_back(static_cast<char32_t>(static_cast<unsigned char>(utf32le[i]) |
                                            static_cast<unsigned char>(utf32le[i + 1]) << 8 |
                                            static_cast<unsigned char>(utf32le[i + 2]) << 16 |
                                            static_cast<unsigned char>(utf32le[i + 3]) << 24));
    }
    return out;
}

std::string fromWide(const std::wstring& text)
{
    std::string out;
    for (const wchar_t c : text) {
        const auto v = static_cast<std::uint32_t>(c);
        for (int shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<char>((v >> shift) & 0xFF));
        }
    }
    return out;
}

} // namespace

TEST(Encoding, CodePageTablesMatchIconv)
{
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const auto cp1251 = iconvConvert("CP1251", "UTF-32LE", byte);
        if (b == 0x98) {
            EXPECT_FALSE(cp1251.has_value()); // unassigned in the code page
            EXPECT_EQ(encoding::CP1251_TABLE[b - 0x80], 0x0098);
        } else {
            ASSERT_TRUE(cp1251.has_value()) << b;
            EXPECT_EQ(toUtf32(*cp1251), std::u32string(1, encoding::CP1251_TABLE[b - 0x80])) << std::hex << b;
        }
        const auto cp866 = iconvConvert("CP866", "UTF-32LE", byte);
        ASSERT_TRUE(cp866.has_value()) << b;
        EXPECT_EQ(toUtf32(*cp866), std::u32string(1, encoding::CP866_TABLE[b - 0x80])) << std::hex << b;
    }
}

TEST(Encoding, Cp1251RoundTripsAgainstIconv)
{
    std::string all;
    for (int b = 1; b <= 0xFF; ++b) {
        if (b != 0x98) {
            all.push_back(static_cast<char>(b));
        }
    }
    const auto utf8 = iconvConvert("CP1251", "UTF-8", all);
    ASSERT_TRUE(utf8.has_value());
    EXPECT_EQ(encoding::cp1251_to_utf8(all), *utf8);
    EXPECT_EQ(encoding::utf8_to_cp1251(*utf8), all);
    EXPECT_EQ(encoding::utf16_to_cp1251(encoding::cp1251_to_utf16(all)), all);

    EXPECT_EQ(encoding::cp1251_to_utf8("\x98"), "\xC2\x98");
    EXPECT_EQ(encoding::utf16_to_cp1251(L"\u0098"), "\x98");
    EXPECT_EQ(encoding::utf16_to_cp1251(L"€"), "\x88");
    EXPECT_EQ(encoding::utf16_to_cp1251(L"é"), "?");
    EXPECT_EQ(encoding::utf16_to_cp1251(L"a\u0085\U0001F600z"), "a??z");
    EXPECT_EQ(encoding::utf8_to_cp1251("Ключ №1"), "\xCA\xEB\xFE\xF7 \xB9"
                                                   "1");
}

TEST(Encoding, Utf8AndWideAgreeWithIconvOverTheBasicPlane)
{
    std::wstring plane;
    for (wchar_t c = 1; c <= 0xFFFF; ++c) {
        if (c < 0xD800 || c > 0xDFFF) {
            plane.push_back(c);
        }
    }
    const auto utf8 = iconvConvert("UTF-32LE", "UTF-8", fromWide(plane));
    ASSERT_TRUE(utf8.has_value());
    EXPECT_TRUE(encoding::utf16_to_utf8(plane) == *utf8);
    EXPECT_TRUE(encoding::utf8_to_utf16(*utf8) == plane);
    EXPECT_EQ(encoding::sys_to_utf16(*utf8), plane);
    EXPECT_EQ(encoding::utf16_to_sys(plane), *utf8);
    EXPECT_EQ(encoding::utf8_to_sys("Привет"), "Привет");
    EXPECT_EQ(encoding::sys_to_utf8("Привет"), "Привет");
}

TEST(Encoding, Utf8EdgeCases)
{
    struct Case {
        std::string_view utf8;
        std::wstring wide;
    };
    const Case cases[] = {
        {"\xD0", L"\u0400"},                     // cut off: bits gathered so far
        {"\xE2\x82", L"\u2080"},                 // cut off after one continuation byte
        {"\xE2", L"\u2000"},                     //
        {"\xD0\x41", L"\u0401"},                 // continuation bits not checked
        {"a\x80z", L"a\uFFFDz"},                 // stray continuation byte
        {"a\xF0\x9F\x98\x80z", L"a\U0001F600z"}, // four-byte sequence
        {"\xF0\x9F", L"\uFFFD"},                 // cut-off four-byte sequence
        {"\xF0\x9F\x98z", L"\uFFFDz"},           //
        {"\xF4\x90\x80\x80", L"\uFFFD"},         // beyond U+10FFFF
        {"\xF0\x8F\xBF\xBF", L"\uFFFD"},         // overlong: not above U+FFFF
        {"\xFF\xFE", L"\uFFFD\uFFFD"},           // never a lead byte
        {std::string_view("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encoding::utf8_to_utf16(c.utf8), c.wide) << c.utf8;
    }
}

TEST(Encoding, BeyondTheBasicPlaneAgreesWithIconv)
{
    // Code points from U+10000 on, as one element each and as the surrogate
    // pairs of a Java string: the same UTF-8 as iconv's.
    std::wstring points;
    std::wstring pairs;
    for (char32_t c = 0x10000; c <= 0x10FFFF; c += 0xFFF) {
        points.push_back(static_cast<wchar_t>(c));
        pairs.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
        pairs.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
    points += L"\U0010FFFF";
    pairs += L"\xDBFF\xDFFF";
    const auto utf8 = iconvConvert("UTF-32LE", "UTF-8", fromWide(points));
    ASSERT_TRUE(utf8.has_value());
    EXPECT_TRUE(encoding::utf16_to_utf8(points) == *utf8);
    EXPECT_TRUE(encoding::utf16_to_utf8(pairs) == *utf8);
    EXPECT_TRUE(encoding::utf8_to_utf16(*utf8) == points);
    EXPECT_TRUE(encoding::utf8_to_utf16_units(*utf8) == std::u16string(pairs.begin(), pairs.end()));
    EXPECT_EQ(encoding::utf8_to_utf16_units("Я\xF0\x9F\x98\x80\xFF"), u"Я\xD83D\xDE00\xFFFD");
    EXPECT_EQ(encoding::utf16_to_utf8(L"Привет \xD83D\xDE00!"), "Привет \xF0\x9F\x98\x80!");
}

TEST(Encoding, LoneSurrogatesAreNotText)
{
    const std::wstring lone[] = {
        L"\xD800",       L"a\xDC00z",
        L"ab\xDBFF",     L"\xD83D\xD83D\xDE00",
        L"\xDE00\xD83D", std::wstring(1, 0x110000),
    };
    for (const std::wstring& text : lone) {
        EXPECT_THROW(encoding::utf16_to_utf8(text), bs::InvalidUnicodeText) << text.size();
        std::wstring replaced = text;
        encoding::replaceLoneSurrogates(replaced);
        if (text[0] != 0x110000) {
            // What stays is a pair or no surrogate at all.
            EXPECT_NO_THROW(encoding::utf16_to_utf8(replaced));
            EXPECT_NE(replaced.find(L'\uFFFD'), std::wstring::npos);
        }
    }
    // Three-byte sequences naming a surrogate (half of a pair encoded on its
    // own, or bytes read leniently) decode to U+FFFD, so what was decoded
    // always converts back.
    for (const std::string_view utf8 :
         {"\xED\xA0\x80", "\xED\xB0\x80", "\xED\xA0\xBD\xED\xB8\x80", "\xED\xED\xED\xED\xE2\x05"}) {
        const std::wstring decoded = encoding::utf8_to_utf16(utf8);
        EXPECT_NE(decoded.find(L'\uFFFD'), std::wstring::npos);
        EXPECT_EQ(encoding::utf8_to_utf16(encoding::utf16_to_utf8(decoded)), decoded);
    }
    std::wstring mixed = L"\xD83D\xD83D\xDE00\xDE00";
    encoding::replaceLoneSurrogates(mixed);
    EXPECT_EQ(mixed, L"\uFFFD\xD83D\xDE00\uFFFD");
}

TEST(Encoding, IsValidUtf8IsDeliberatelyNarrow)
{
    struct Case {
        std::string_view text;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"\xFF", true},   // one byte: always valid
        {"Привет", true}, // two-byte sequences
        {"key 1", true},
        {"a\xD0", true},  // the last byte is not examined on its own
        {"ab\x80", true}, //
        {"€", false},     // three bytes
        {"\xF0\x9F\x98\x80", false},
        {"\xD0\x41", false}, // bad continuation
        {"\x80\x80", false}, // stray continuation
        {"Ключ\xE2\x82\xAC", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encoding::isValidUTF8(c.text), c.valid) << c.text;
    }
}

TEST(Encoding, Cp866LetterShift)
{
    const std::string letters = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя";
    const auto cp866 = iconvConvert("UTF-8", "CP866", letters);
    const auto cp1251 = iconvConvert("UTF-8", "CP1251", letters);
    ASSERT_TRUE(cp866 && cp1251);
    EXPECT_EQ(encoding::cp866_to_cp1251(*cp866), *cp1251);
    EXPECT_EQ(encoding::cp1251_to_cp866(*cp1251), *cp866);
    EXPECT_EQ(encoding::cp866_to_utf8(*cp866), letters);
    EXPECT_EQ(encoding::utf8_to_cp866("Ключ 1"), *iconvConvert("UTF-8", "CP866", "Ключ 1"));

    // Ё, ё and pseudographics are not shifted; rewriting stops at NUL.
    EXPECT_EQ(encoding::cp866_to_cp1251("\xF0\xF1\xB0\xDF"), "\xF0\xF1\xB0\xDF");
    EXPECT_EQ(encoding::cp1251_to_cp866("\xA8\xB8"), "\xA8\xB8");
    EXPECT_EQ(encoding::cp1251_to_cp866(std::string_view("\xC0\0\xC0", 3)), std::string("\x80\0\xC0", 3));
    EXPECT_EQ(encoding::cp866_to_cp1251(std::string_view("\x80\0\x80", 3)), std::string("\xC0\0\x80", 3));
}
