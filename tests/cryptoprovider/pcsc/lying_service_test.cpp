// Reader lists from a PC/SC service that lies about their size: bounded
// attempts and lengths, refused as ScardException, never allocated or read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/scard_api.h"
#include "cryptoprovider/pcsc/scard_provider.h"

namespace
{

struct ServiceLies {
    DWORD listSize = 0;   // the size the query reports
    bool growing = false; // every read: SCARD_E_INSUFFICIENT_BUFFER
    int listCalls = 0;
};
ServiceLies serviceLies;

const char LIST[] = "Reader A\0Reader B\0";

LONG establish(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context)
{
    *context = 1;
    return SCARD_S_SUCCESS;
}

LONG release(SCARDCONTEXT)
{
    return SCARD_S_SUCCESS;
}

LONG listReaders(SCARDCONTEXT, LPCSTR, LPSTR readers, LPDWORD size)
{
    if (++serviceLies.listCalls > 1000)
        return SCARD_F_INTERNAL_ERROR;
    if (readers == nullptr) {
        *size = serviceLies.listSize;
        return SCARD_S_SUCCESS;
    }
    if (serviceLies.growing) {
        *size += 10;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(readers, LIST, std::min<DWORD>(*size, sizeof LIST));
    return SCARD_S_SUCCESS;
}

class LyingService : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        serviceLies = ServiceLies{};
        m_api.SCardEstablishContext = establish;
        m_api.SCardReleaseContext = release;
        m_api.SCardListReaders = listReaders;
        pcsc::installApi(&m_api);
    }
    void TearDown() override { pcsc::installApi(nullptr); }

    pcsc::Api m_api{};
};

TEST_F(LyingService, ReaderListsWithinBoundsAreRead)
{
    serviceLies.listSize = sizeof LIST;
    EXPECT_EQ(SCardProvider().listReaders(), (std::vector<std::string>{"Reader A", "Reader B"}));
}

TEST_F(LyingService, ReaderListsBeyondBoundsAreRefused)
{
    for (const DWORD size : {DWORD{65537}, static_cast<DWORD>(-1)}) {
        serviceLies = ServiceLies{size, false, 0};
        EXPECT_THROW(SCardProvider().listReaders(), ScardException) << size;
        EXPECT_EQ(serviceLies.listCalls, 1);
    }
    serviceLies = ServiceLies{sizeof LIST, true, 0};
    try {
        SCardProvider().listReaders();
        ADD_FAILURE() << "a list that keeps growing was taken";
    } catch (const ScardException& error) {
        EXPECT_EQ(static_cast<LONG>(error.code()), SCARD_E_INSUFFICIENT_BUFFER);
    }
    EXPECT_EQ(serviceLies.listCalls, 8);
}

} // namespace
