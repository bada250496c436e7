#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/conv.h"
#include "base/errors.h"
#include "base/random.h"

namespace
{

using Bytes = std::vector<unsigned char>;

Bytes randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 engine(seed);
    Bytes bytes(size);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(engine());
    }
    return bytes;
}

// Output of a shell command run over a temporary file holding `input`.
std::string runOverFile(const std::string& command, const Bytes& input)
{
    char path[] = "/tmp/base-codec-XXXXXX";
    const int fd = ::mkstemp(path);
    EXPECT_GE(fd, 0);
    if (!input.empty()) {
        EXPECT_EQ(::write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    }
    ::close(fd);
    std::string output;
    if (FILE* pipe = ::popen((command + " " + path).c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
            output.append(buffer, n);
        }
        EXPECT_EQ(::pclose(pipe), 0) << command;
    }
    ::unlink(path);
    return output;
}

std::string notBase64()
{
    return bs::localization.get("BS-0001");
}
std::string notHex()
{
    return bs::localization.get("BS-0005");
}

template <class F> std::string invalidArgumentText(F&& call)
{
    try {
        call();
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "<no std::invalid_argument>";
}

} // namespace

TEST(Base64, KnownAnswers)
{
    EXPECT_EQ(conv::string_to_base64("abc"), "YWJj");
    EXPECT_EQ(conv::binary_to_base64(Bytes{0xFF}), "/w==");
    EXPECT_EQ(conv::binary_to_base64UrlSafe(Bytes{0xFF}), "_w==");
    EXPECT_EQ(conv::binary_to_base64(Bytes{}), "");
    EXPECT_EQ(conv::base64_to_string("YWJj\r\n"), "abc");
    EXPECT_EQ(conv::base64_to_string("YWI="), "ab");
    EXPECT_EQ(conv::base64_to_string("Y\nW\r\nJ\nj"), "abc");
    EXPECT_EQ(conv::base64UrlSafe_to_binary("_w=="), Bytes{0xFF});
    EXPECT_EQ(conv::base64_to_binary(""), Bytes{});
}

// Both alphabets against coreutils over every length class and a long input.
TEST(Base64, MatchesCoreutilsOnRandomData)
{
    for (const std::size_t size : {1u, 2u, 3u, 4u, 5u, 31u, 32u, 33u, 1000u, 65537u}) {
        const Bytes data = randomBytes(size, static_cast<unsigned>(size));
        const std::string standard = conv::binary_to_base64(data);
        const std::string urlSafe = conv::binary_to_base64UrlSafe(data);
        EXPECT_EQ(standard, runOverFile("base64 -w0", data)) << size;
        EXPECT_EQ(urlSafe, runOverFile("basenc --base64url -w0", data)) << size;
        EXPECT_EQ(conv::base64_to_binary(standard), data) << size;
        EXPECT_EQ(conv::base64UrlSafe_to_binary(urlSafe), data) << size;
    }
}

TEST(Base64, DecodesLineWrappedTextFromCoreutils)
{
    const Bytes data = randomBytes(1000, 7);
    const std::string wrapped = runOverFile("base64 -w64", data); // ends with "\n" after the padding
    ASSERT_EQ(wrapped.back(), '\n');
    EXPECT_EQ(conv::base64_to_binary(wrapped), data);
    std::string crlf;
    for (const char c : wrapped) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    EXPECT_EQ(conv::base64_to_binary(crlf), data);
}

TEST(Base64, StrictEndChecksRejectMalformedText)
{
    const char* bad[] = {
        "YW Jj",    // blank inside the data
        "YWI",      // unpadded, length not a multiple of 4
        "YWJj=",    // padding that makes the count 5
        "YR==",     // left-over bits not zero
        "Y===",     // six bits left over
        "YWJj====", // more than 3 padding characters
        "YW==YWJj", // data after the padding
        "YW=\r=x",  // data after the padding, behind a line break
        "YW== ",    // blank after the padding
        "=",        // padding alone
        "YW_j",     // URL-safe character in standard text
        "\xff\xff==",
    };
    for (const char* text : bad) {
        EXPECT_EQ(invalidArgumentText([&] { conv::base64_to_binary(text); }), notBase64()) << text;
    }
    // NUL ends the data part like any other foreign character.
    EXPECT_EQ(invalidArgumentText([] { conv::base64_to_binary(std::string_view("YWJ\0", 4)); }), notBase64());
    EXPECT_EQ(invalidArgumentText([] { conv::base64UrlSafe_to_binary("YW/j"); }), notBase64());
    EXPECT_EQ(invalidArgumentText([] { conv::base64UrlSafe_to_binary("_w"); }), notBase64());
    EXPECT_EQ(invalidArgumentText([] { conv::base64_to_string("YWI"); }), notBase64());
}

TEST(Hex, EncodesUpperCaseAndDecodesBothCases)
{
    const Bytes all = [] {
        Bytes b(256);
        for (int i = 0; i < 256; ++i) {
            b[i] = static_cast<unsigned char>(i);
        }
        return b;
    }();
    std::string expected;
    for (const unsigned char b : all) {
        char digits[3];
        std::snprintf(digits, sizeof(digits), "%02X", b);
        expected += digits;
    }
    EXPECT_EQ(conv::bytes_to_hex(all), expected);
    EXPECT_EQ(conv::hex_to_bytes(expected), all);
    std::string lower = expected;
    for (auto& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(conv::hex_to_bytes(lower), all);
    EXPECT_EQ(conv::hex_to_bytes("0a0B"), (Bytes{0x0A, 0x0B}));
    EXPECT_EQ(conv::hex_to_bytes(""), Bytes{});
    EXPECT_EQ(conv::bytes_to_hex(Bytes{}), "");
}

TEST(Hex, RejectsOddLengthAndNonDigits)
{
    for (const char* text : {"0g", "abc", "0", " 0a", "0a ", "0x0a", "G0", "+1"}) {
        EXPECT_EQ(invalidArgumentText([&] { conv::hex_to_bytes(text); }), notHex()) << text;
    }
    EXPECT_EQ(invalidArgumentText([] { conv::hex_to_bytes(std::string_view("0\0", 2)); }), notHex());
}

TEST(Hex, IntToHex)
{
    struct Case {
        unsigned long long value;
        unsigned char bytes;
        bool keep;
        const char* expected;
    };
    const Case cases[] = {
        {0x0A0B, 2, false, "A0B"},
        {0x0A0B, 2, true, "0A0B"},
        {0x0100, 2, false, "100"},
        {0x0100, 4, false, "100"},
        {0x0100, 4, true, "00000100"},
        {0x00AB0000, 4, false, "AB0000"},
        {0, 4, false, ""},
        {0, 2, true, "0000"},
        {0x1234, 0, true, ""},
        {0x123456, 2, false, "3456"}, // only the low bytes
        {0xFFFFFFFFFFFFFFFFull, 8, false, "FFFFFFFFFFFFFFFF"},
        {0x1, 10, true, "00000000000000000001"}, // wider than the value
        {0x1, 10, false, "1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(conv::int_to_hex(c.value, c.bytes, c.keep), c.expected)
            << std::hex << c.value << " " << int(c.bytes) << " " << c.keep;
    }
}

TEST(Conv, BinaryToStr)
{
    const Bytes data{0x41, 0, 0, 0, 0x10, 0x04, 0, 0, 0xFF};
    EXPECT_EQ(conv::binary_to_str<wchar_t>(data), std::wstring(L"A\u0410")); // trailing byte left out
    EXPECT_EQ(conv::binary_to_str<char>(data).size(), data.size());
    EXPECT_EQ(conv::binary_to_str<wchar_t>(Bytes{1, 2, 3}), std::wstring());
    EXPECT_EQ(conv::binary_to_str<wchar_t>(bs::getRandomBytes(128)).size(), 32u);
}

TEST(Conv, StrToBoolTrueOnlyForTheWord)
{
    EXPECT_TRUE(conv::str_to_bool("true"));
    EXPECT_TRUE(conv::str_to_bool("  TRUE\t"));
    EXPECT_FALSE(conv::str_to_bool("1"));
    EXPECT_FALSE(conv::str_to_bool("truex"));
    EXPECT_FALSE(conv::str_to_bool("t rue"));
}

TEST(ParallelHex, BlockSize)
{
    EXPECT_EQ(parallel::blockSize(101, 0, true), 101u);
    EXPECT_EQ(parallel::blockSize(101, 1, false), 101u);
    EXPECT_EQ(parallel::blockSize(100, 2, false), 50u);
    EXPECT_EQ(parallel::blockSize(102, 2, true), 50u); // 51 made even
    EXPECT_EQ(parallel::blockSize(102, 2, false), 51u);
    EXPECT_EQ(parallel::blockSize(10, 3, true), 2u);
}

// Sizes straddling the threshold, odd and even, so the work is split and the
// shares are rounded.
TEST(ParallelHex, MatchesSingleThreadAboveThreshold)
{
    const std::size_t sizes[] = {parallel::HEX_BLOCK + 1, 2 * parallel::HEX_BLOCK + 2,
                                 2 * parallel::HEX_BLOCK + 7};
    for (const std::size_t size : sizes) {
        const Bytes data = randomBytes(size, static_cast<unsigned>(size));
        const std::string hex = parallel::bytes_to_hex(data);
        EXPECT_TRUE(hex == conv::bytes_to_hex(data)) << size;
        EXPECT_TRUE(parallel::hex_to_bytes(hex) == data) << size;
    }
    // Below the threshold: one part on the calling thread.
    const Bytes small = randomBytes(1001, 3);
    EXPECT_EQ(parallel::bytes_to_hex(small), conv::bytes_to_hex(small));
    EXPECT_EQ(parallel::hex_to_bytes(conv::bytes_to_hex(small)), small);
}

TEST(ParallelHex, InvalidCharacterInAnyPartIsRethrown)
{
    const Bytes data = randomBytes(parallel::HEX_BLOCK + 3, 11); // 2 * that many digits: several parts
    const std::string good = conv::bytes_to_hex(data);
    const std::size_t positions[] = {0, good.size() / 4, good.size() / 2 + 1, good.size() - 1};
    for (const std::size_t at : positions) {
        std::string bad = good;
        bad[at] = 'x';
        EXPECT_EQ(invalidArgumentText([&] { parallel::hex_to_bytes(bad); }), notHex()) << at;
    }
    std::string both = good;
    both[1] = 'z';
    both[good.size() - 2] = 'z';
    EXPECT_EQ(invalidArgumentText([&] { parallel::hex_to_bytes(both); }), notHex());
    EXPECT_EQ(invalidArgumentText([&] { parallel::hex_to_bytes(std::string_view(good).substr(1)); }),
              notHex());
}
