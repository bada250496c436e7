// The owners of the PC/SC handles release each handle exactly once and hand
// it over on move; checked against the real PC/SC service of the lab.
#include <gtest/gtest.h>

#include <utility>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pcsc/scard_handles.h"
#include "lab_readers.h"

namespace
{

bool contextAlive(SCARDCONTEXT handle)
{
    return SCardIsValidContext(handle) == SCARD_S_SUCCESS;
}

// Whether another program could take the card for itself: only when no
// connection to it is left open.
bool cardFree(const char* reader)
{
    pcsc::Context context = pcsc::Context::establish();
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    const LONG rv = SCardConnect(context.handle(), reader, SCARD_SHARE_EXCLUSIVE,
                                 SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    if (rv == SCARD_S_SUCCESS) {
        SCardDisconnect(card, SCARD_LEAVE_CARD);
        return true;
    }
    EXPECT_EQ(rv, SCARD_E_SHARING_VIOLATION);
    return false;
}

TEST(PcscContext, MovesItsHandleAndReleasesItOnce)
{
    pcsc::Context first = pcsc::Context::establish();
    const SCARDCONTEXT handle = first.handle();
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(contextAlive(handle));

    pcsc::Context second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(second.handle(), handle);
    first.reset(); // holds nothing: must not release the moved handle
    EXPECT_TRUE(contextAlive(handle));

    // Assigning over a context releases the one it held.
    pcsc::Context third = pcsc::Context::establish();
    const SCARDCONTEXT replaced = third.handle();
    third = std::move(second);
    EXPECT_FALSE(contextAlive(replaced));
    EXPECT_TRUE(contextAlive(handle));
    {
        pcsc::Context last(std::move(third));
    }
    EXPECT_FALSE(contextAlive(handle));
}

TEST(PcscCard, KnowsItsProtocolAndLeavesTheCardOnce)
{
    const pcsc::Context context = pcsc::Context::establish();
    EXPECT_EQ(pcsc::Card::connect(context, T0_READER).pci(), SCARD_PCI_T0);

    pcsc::Card first = pcsc::Card::connect(context, T1_READER);
    EXPECT_EQ(first.pci(), SCARD_PCI_T1);
    EXPECT_FALSE(cardFree(T1_READER));

    pcsc::Card second(std::move(first));
    EXPECT_FALSE(first.connected());
    EXPECT_EQ(first.pci(), nullptr);
    first.reset(); // holds nothing: the card stays connected through `second`
    EXPECT_FALSE(cardFree(T1_READER));
    EXPECT_EQ(SCardStatus(second.handle(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              SCARD_S_SUCCESS);

    pcsc::Card third;
    third = std::move(second);
    EXPECT_TRUE(third.connected());
    third.reset();
    EXPECT_FALSE(third.connected());
    EXPECT_TRUE(cardFree(T1_READER));
}

TEST(PcscCard, FailedConnectionsHoldNothing)
{
    const pcsc::Context context = pcsc::Context::establish();
    EXPECT_THROW(pcsc::Card::connect(context, "No Such Reader 00 00"), DeviceNotFound);
    EXPECT_THROW(pcsc::Card::connect(pcsc::Context(), T1_READER), DeviceNotFound);
    EXPECT_TRUE(cardFree(T1_READER));
}

} // namespace
