#include <gtest/gtest.h>

#include <ctime>
#include <stdexcept>

#include "asn1/asn1_time.h"
#include "base/conv.h"

namespace
{

TEST(Asn1Time, ShapeDecidesTheTag)
{
    EXPECT_EQ(Asn1Time("240315101112Z").tag(), 0x17);
    EXPECT_EQ(Asn1Time("20240315101112Z").tag(), 0x18);
    EXPECT_EQ(Asn1Time("").tag(), 0);
    for (const char* bad : {"20240315101112", "20240315101112+0300", "2403151011Z", "240315101112", "x"}) {
        EXPECT_THROW(Asn1Time{std::string_view(bad)}, std::invalid_argument) << bad;
    }
}

TEST(Asn1Time, ComparesAcrossFormsWithTheCenturyRule)
{
    EXPECT_LT(Asn1Time("491231235959Z"), Asn1Time("20500101000000Z"));
    EXPECT_LT(Asn1Time("500101000000Z"), Asn1Time("20000101000000Z"));
    EXPECT_EQ(Asn1Time("240315101112Z"), Asn1Time("20240315101112Z"));
    EXPECT_GT(Asn1Time("000101000000Z"), Asn1Time("991231235959Z"));
    EXPECT_LE(Asn1Time("20240315101112Z"), Asn1Time("240315101112Z"));
    EXPECT_GE(Asn1Time("20240315101113Z"), Asn1Time("240315101112Z"));
    EXPECT_EQ(Asn1Time(""), Asn1Time(""));
    EXPECT_LT(Asn1Time(""), Asn1Time("240315101112Z"));
}

TEST(Asn1Time, DatesAndEncoding)
{
    const Asn1Time t("240315101112Z");
    EXPECT_EQ(t.calendareDate(), "15.03.2024");
    EXPECT_EQ(t.date(), Date::fromDump("2024-03-15"));
    EXPECT_EQ(conv::bytes_to_hex(t.derEncoding()), "170D3234303331353130313131325A");
    EXPECT_EQ(Asn1Time("991231235959Z").calendareDate(), "31.12.1999");
    EXPECT_EQ(conv::bytes_to_hex(Asn1Time("20500101000000Z").derEncoding()).substr(0, 4), "180F");
    EXPECT_EQ(Asn1Time("").calendareDate(), "");
}

TEST(Asn1Time, CurrentTime)
{
    const Asn1Time utc(0x17);
    const Asn1Time generalized(0x18);
    EXPECT_EQ(utc.time().size(), 13u);
    EXPECT_EQ(generalized.time().size(), 15u);
    EXPECT_THROW(Asn1Time(std::uint8_t{0x13}), std::logic_error);

    // Checked against the C library's own UTC calendar.
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char year[8];
    std::strftime(year, sizeof year, "%Y", &parts);
    EXPECT_EQ(generalized.time().substr(0, 4), year);
    EXPECT_EQ(utc.time().substr(0, 2), std::string(year).substr(2));
    const Asn1Time fresh;
    EXPECT_EQ(fresh.tag(), 0x17); // this decade is inside 1950-2049
    EXPECT_LE(utc, fresh);
}

} // namespace
