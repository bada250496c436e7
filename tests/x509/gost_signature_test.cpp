#include "x509/gost_signature.h"

#include <gtest/gtest.h>

namespace
{

TEST(GostSignatureHalves, EvenValuesExchangeHalvesAndOddValuesStayAsGiven)
{
    struct Case
    {
        bytes in;
        bytes out;
    };
    const Case cases[] = {
        {{}, {}},
        {{1, 2}, {2, 1}},
        {{1, 2, 3, 4}, {3, 4, 1, 2}},
        {{1, 2, 3}, {1, 2, 3}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(gost::swapSignatureHalves(c.in), c.out);
        EXPECT_EQ(gost::swapSignatureHalves(gost::swapSignatureHalves(c.in)), c.in);
    }
}

} // namespace
