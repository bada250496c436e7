#include "base/localization.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(Replace, FillsTokensInOrderWithoutReexpanding)
{
    EXPECT_EQ(bs::replace("%1-%1", "x"), "x-x");
    EXPECT_EQ(bs::replace("a %2 b %1", "1", "2"), "a 2 b 1");
    EXPECT_EQ(bs::replace("<%1>", "%1"), "<%1>");
    EXPECT_EQ(bs::replace("", "x"), "");
    EXPECT_EQ(bs::replace("no tokens", std::string("x")), "no tokens");
    EXPECT_EQ(bs::replace("%2 only", "a", std::string_view("b")), "b only");
}

TEST(Localization, LooksUpByLanguageAndFailsOnMissingCodes)
{
    const Localization l({{RUSSIAN, {{"T-1", "один"}}}, {ENGLISH, {{"T-1", "one"}}}});
    EXPECT_STREQ(l.get("T-1"), "один");
    l.setLanguage(ENGLISH);
    EXPECT_STREQ(l.get("T-1"), "one");
    try {
        l.get("T-2");
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "map::at:  key not found");
    }
    l.setLanguage(static_cast<Language>(7));
    EXPECT_THROW(l.get("T-1"), std::out_of_range);
}
