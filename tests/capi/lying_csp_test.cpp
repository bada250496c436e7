// The handles against a CSP that lies about the size of what it returns: a
// buffer it asks for beyond the library's bound is refused, never allocated.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "capi/capi_types.h"
#include "capi/errors.h"
#include "capi/handles.h"
#include "capi/wrapper.h"

namespace
{

struct CspLies {
    DWORD firstSize = 4;  // the size query's answer
    DWORD secondSize = 0; // when not 0: the read asks for this much (ERROR_MORE_DATA)
    int reads = 0;
};
CspLies cspLies;
DWORD cspError = 0;

BOOL acquire(HCRYPTPROV* provider, LPCSTR, LPCSTR, DWORD, DWORD)
{
    *provider = 1;
    return 1;
}

BOOL release(HCRYPTPROV, DWORD)
{
    return 1;
}

BOOL getProvParam(HCRYPTPROV, DWORD, BYTE* data, DWORD* length, DWORD)
{
    ++cspLies.reads;
    if (data == nullptr) {
        *length = cspLies.firstSize;
        return 1;
    }
    if (cspLies.secondSize != 0) {
        *length = cspLies.secondSize;
        cspError = ERROR_MORE_DATA;
        return 0;
    }
    for (DWORD i = 0; i < *length; ++i)
        data[i] = 7;
    return 1;
}

DWORD lastError()
{
    return cspError;
}

class LyingCsp : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        cspLies = CspLies{};
        auto wrapper = std::make_shared<capi::Wrapper>(capi::Wrapper::Unloaded{});
        wrapper->CryptAcquireContextA = acquire;
        wrapper->CryptReleaseContext = release;
        wrapper->CryptGetProvParam = getProvParam;
        wrapper->GetLastError = lastError;
        capi::Wrapper::supply(wrapper);
    }
    void TearDown() override { capi::Wrapper::supply(nullptr); }
};

TEST_F(LyingCsp, SizedReadsWithinTheBoundAreRead)
{
    EXPECT_EQ(capi::Provider::verifyContext(75).param(PP_VERSION, 0), bytes(4, 7));
    cspLies = CspLies{capi::MAX_READ_SIZE, 0, 0}; // the longest output taken
    EXPECT_EQ(capi::Provider::verifyContext(75).param(PP_VERSION, 0).size(), capi::MAX_READ_SIZE);
}

TEST_F(LyingCsp, SizesBeyondTheBoundAreRefused)
{
    const std::pair<DWORD, DWORD> cases[] = {
        {0xFFFFFFFF, 0},              // the size query
        {capi::MAX_READ_SIZE + 1, 0}, // just beyond
        {4, 0xFFFFFFFF},              // the read asking for more
    };
    for (const auto& [first, second] : cases) {
        cspLies = CspLies{first, second, 0};
        try {
            (void)capi::Provider::verifyContext(75).param(PP_VERSION, 0);
            ADD_FAILURE() << "taken: " << first << " then " << second;
        } catch (const capi::Error& error) {
            EXPECT_STREQ(error.errorCode(), "CAPI-000017") << first << " then " << second;
        }
        EXPECT_LE(cspLies.reads, 2);
    }
}

TEST_F(LyingCsp, EnumeratedNamesBeyondTheirBoundAreRefused)
{
    std::vector<std::string> names;
    cspLies = CspLies{capi::MAX_ENUMERATED_NAME + 1, 0, 0};
    try {
        capi::Provider::verifyContext(75).enumerate(PP_ENUMCONTAINERS, 0,
                                                    [&](std::string name) { names.push_back(std::move(name)); });
        ADD_FAILURE() << "a name beyond the bound was taken";
    } catch (const capi::Error& error) {
        EXPECT_STREQ(error.errorCode(), "CAPI-000017");
    }
    EXPECT_TRUE(names.empty());
}

} // namespace
