#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/secure.h"
#include "base/strings.h"

using Bytes = std::vector<unsigned char>;
using Strings = std::vector<std::string>;

TEST(Strings, TrimRemovesControlsAndSpacesButStopsAtNul)
{
    EXPECT_EQ(bs::trim(" \t\r\n\x01key\x1F \x20"), "key");
    EXPECT_EQ(bs::ltrim("  a b  "), "a b  ");
    EXPECT_EQ(bs::rtrim("  a b  "), "  a b");
    EXPECT_EQ(bs::trim(" \t "), "");
    EXPECT_EQ(bs::trim(std::string_view(" \0 a", 4)), std::string("\0 a", 3));
    EXPECT_EQ(bs::rtrim(std::string_view("a \0 ", 4)), std::string("a \0", 3));
    EXPECT_EQ(bs::trim("\xA0x\xA0"), "\xA0x\xA0"); // bytes above 0x7F are never blank
    EXPECT_TRUE(bs::isspacesymb(0x01));
    EXPECT_TRUE(bs::isspacesymb(' '));
    EXPECT_FALSE(bs::isspacesymb(0));
    EXPECT_FALSE(bs::isspacesymb(0x21));
}

TEST(Strings, SplitVector)
{
    EXPECT_EQ(bs::splitVector(" a, b ,,a", ',', true, true), (Strings{"a", "b"}));
    EXPECT_EQ(bs::splitVector(" a, b ,,a", ',', false, false), (Strings{" a", " b ", "a"}));
    EXPECT_EQ(bs::splitVector("a,a, a", ',', false, true), (Strings{"a", " a"}));
    EXPECT_EQ(bs::splitVector("1.2.643.2.2.3.", '.', false, false),
              (Strings{"1", "2", "643", "2", "2", "3"}));
    EXPECT_EQ(bs::splitVector("\\\\.\\HDIMAGE\\key", '\\', false, false), (Strings{".", "HDIMAGE", "key"}));
    EXPECT_TRUE(bs::splitVector("", ',', false, false).empty());
    EXPECT_TRUE(bs::splitVector(" , ,", ',', false, false).empty());
}

TEST(Strings, SplitKeyValueAndMap)
{
    std::string key = "old";
    std::string value = "old";
    EXPECT_FALSE(bs::splitKeyValue("", key, value, '=', true));
    EXPECT_FALSE(bs::splitKeyValue("novalue", key, value, '=', true));
    EXPECT_TRUE(bs::splitKeyValue(" k = v=w ", key, value, '=', true));
    EXPECT_EQ(key, "k");
    EXPECT_EQ(value, "v=w");
    EXPECT_TRUE(bs::splitKeyValue(" k = v ", key, value, '=', false));
    EXPECT_EQ(key, " k ");
    EXPECT_EQ(value, " v ");
    EXPECT_TRUE(bs::splitKeyValue("=", key, value, '=', false));
    EXPECT_EQ(key, "");
    EXPECT_EQ(value, "");

    const auto map = bs::splitMap("a = 1\r\nskip me\nb=2\na=3\n\nc=", '=', true);
    EXPECT_EQ(map, (std::map<std::string, std::string>{{"a", "1"}, {"b", "2"}, {"c", ""}}));
}

TEST(Strings, JoinSizeAndOccurrences)
{
    EXPECT_EQ(bs::join({}, ", "), "");
    EXPECT_EQ(bs::join({"a"}, ", "), "a");
    EXPECT_EQ(bs::join({"a", "", "c"}, ", "), "a, , c");
    EXPECT_EQ(bs::textSize({"ab", "", "cde"}), 5u);
    EXPECT_EQ(bs::countStringOccurrences("aaaa", "aa"), 2u); // non-overlapping
    EXPECT_EQ(bs::countStringOccurrences("abcabc", "bc"), 2u);
    EXPECT_EQ(bs::countStringOccurrences("abc", "abcd"), 0u);
    EXPECT_EQ(bs::countStringOccurrences("abc", ""), 0u);
}

TEST(Strings, IsContainCyrillic)
{
    EXPECT_FALSE(bs::isContainCyrillic("key"));
    EXPECT_FALSE(bs::isContainCyrillic(""));
    EXPECT_TRUE(bs::isContainCyrillic("ключ"));
    EXPECT_TRUE(bs::isContainCyrillic("café")); // any non-ASCII UTF-8 counts
    EXPECT_TRUE(bs::isContainCyrillic("\xD0"));
    EXPECT_FALSE(bs::isContainCyrillic("\xC0\xE0\xFF")); // none of 0xD0, 0xD1, 0x80..0xBF
}

TEST(Strings, LeadingZerosAndByteOrder)
{
    EXPECT_EQ(bs::addLeadingZeros("1A", 4), "001A");
    EXPECT_EQ(bs::addLeadingZeros("12345", 4), "12345");
    EXPECT_EQ(bs::addLeadingZeros("", 2), "00");

    EXPECT_EQ(bs::deleteLeadingZeros({0, 0, 1}), Bytes{1});
    EXPECT_EQ(bs::deleteLeadingZeros({0, 0}), Bytes{0});
    EXPECT_EQ(bs::deleteLeadingZeros({0}), Bytes{0});
    EXPECT_EQ(bs::deleteLeadingZeros({}), Bytes{});
    EXPECT_EQ(bs::deleteLeadingZeros({1, 0}), (Bytes{1, 0}));

    Bytes data{1, 2, 3, 4, 5};
    bs::changeByteOrder(data.data(), data.size());
    EXPECT_EQ(data, (Bytes{2, 1, 4, 3, 5}));
    bs::changeByteOrder(nullptr, 4);
}

TEST(Secure, SecureZeroWipesBuffersAndSecrets)
{
    unsigned char raw[5] = {1, 2, 3, 4, 5};
    bs::secureZero(raw, 4);
    EXPECT_EQ(Bytes(raw, raw + 5), (Bytes{0, 0, 0, 0, 5}));
    bs::secureZero(nullptr, 10);

    Bytes secret(100, 0xAB);
    const auto capacity = secret.capacity();
    const unsigned char* storage = secret.data();
    bs::secureZero(&secret);
    EXPECT_TRUE(secret.empty());
    EXPECT_EQ(secret.capacity(), capacity);
    EXPECT_EQ(secret.data(), storage);
    bs::secureZero(static_cast<Bytes*>(nullptr));

    std::wstring pin = L"12345678901234567890";
    bs::secureZero(&pin);
    EXPECT_TRUE(pin.empty());
}
