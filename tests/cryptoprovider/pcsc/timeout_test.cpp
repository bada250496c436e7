// Card exchanges bounded by the response timeout, and cards that stop
// answering or leave in the middle, through the real PC/SC service of a lab
// of its own (layout "scard" of scripts/lab).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cryptoprovider/pcsc/scard_provider.h"
#include "lab_readers.h"
#include "support/lab_script.h"

namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Far beyond the short timeouts below, far below "for good".
constexpr auto NO_HANG = 5s;

// Runs "scripts/lab VERB <this test's lab> 'READER' [KIND]".
void lab(const std::string& verb, const std::string& reader, const std::string& kind = "")
{
    labscript::run(verb, " '" + reader + "' " + kind);
}

// Sets the process-wide response timeout for one test.
class ResponseTimeout
{
  public:
    explicit ResponseTimeout(std::chrono::milliseconds timeout) : m_previous(SCardProvider::responseTimeout())
    {
        SCardProvider::setResponseTimeout(timeout);
    }
    ~ResponseTimeout() { SCardProvider::setResponseTimeout(m_previous); }

  private:
    std::chrono::milliseconds m_previous;
};

const apdu::Command PING(0x00, 0x6C, 0x01, 0x00); // the test card answers one byte

// The PC/SC result an action failed with, or nothing when it succeeded.
template <typename Action> std::optional<std::uint32_t> failure(Action action)
{
    try {
        action();
    } catch (const ScardException& e) {
        return e.code();
    }
    return std::nullopt;
}

constexpr std::uint32_t TIMEOUT = static_cast<std::uint32_t>(SCARD_E_TIMEOUT);

TEST(ResponseTimeout, RefusesLessThanAMillisecond)
{
    const auto before = SCardProvider::responseTimeout();
    EXPECT_THROW(SCardProvider::setResponseTimeout(0ms), std::invalid_argument);
    EXPECT_THROW(SCardProvider::setResponseTimeout(-5ms), std::invalid_argument);
    EXPECT_EQ(SCardProvider::responseTimeout(), before);
}

TEST(ResponseTimeout, MuteCardTimesOutAndLeavesNothingStuck)
{
    const ResponseTimeout bounded(300ms);
    std::optional<SCardProvider> mute(std::in_place, MUTE_READER);
    mute->beginTransaction();

    const auto start = Clock::now();
    EXPECT_EQ(failure([&] { mute->executeCommand(PING, true); }), TIMEOUT);
    EXPECT_FALSE(mute->isConnected());
    mute->endTransaction(); // nothing to end any more: must not reach the stuck connection
    mute.reset();           // nor must destroying the provider
    EXPECT_LT(Clock::now() - start, NO_HANG);

    // The abandoned connection still holds the reader and its transaction:
    // another connection to the mute card times out as well.
    const auto again = Clock::now();
    EXPECT_EQ(failure([] {
                  SCardProvider second(MUTE_READER);
                  second.beginTransaction();
              }),
              TIMEOUT);
    EXPECT_LT(Clock::now() - again, NO_HANG);

    // Other readers are not held up.
    SCardProvider test(T1_READER);
    EXPECT_EQ(test.executeCommand(PING, false).getSw(), 0x9000);

    // Pulling the card out ends the stuck calls, which let their connections
    // go: a fresh mute card is free at once.
    lab("remove", MUTE_READER);
    lab("insert", MUTE_READER, "mute");
    SCardProvider fresh(MUTE_READER);
    EXPECT_NO_THROW(ScardTransaction{fresh});
}

TEST(ResponseTimeout, AnAbandonedTransactionStartLeavesNoTransaction)
{
    const ResponseTimeout bounded(300ms);
    SCardProvider holder(T1_READER);
    SCardProvider waiter(T1_READER);
    holder.beginTransaction();

    // Both the transaction start and a new connection wait on the holder.
    EXPECT_EQ(failure([&] { waiter.beginTransaction(); }), TIMEOUT);
    EXPECT_FALSE(waiter.isConnected());
    EXPECT_EQ(failure([] { SCardProvider late(T1_READER); }), TIMEOUT);

    // Once the holder is done, the abandoned start gets its transaction late
    // and its connection is let go at once: nobody is kept waiting.
    holder.endTransaction();
    const ResponseTimeout generous(NO_HANG);
    SCardProvider next(T1_READER);
    const ScardTransaction transaction(next);
    EXPECT_EQ(next.executeCommand(PING, false).getSw(), 0x9000);
}

TEST(ResponseTimeout, CardPulledOutInATransactionLeavesNoneOpen)
{
    const ResponseTimeout bounded(NO_HANG);
    lab("insert", SPARE_READER, "test");
    SCardProvider provider(SPARE_READER);
    {
        const ScardTransaction transaction(provider);
        EXPECT_EQ(provider.executeCommand(PING, false).getSw(), 0x9000);
        lab("remove", SPARE_READER);
        // Either the transaction breaks first or PC/SC already noticed the removal.
        try {
            provider.executeCommand(PING, false);
            ADD_FAILURE() << "exchange with a removed card succeeded";
        } catch (const DeviceNotFound&) {
        } catch (const ScardException& e) {
            EXPECT_EQ(e.code(), static_cast<std::uint32_t>(SCARD_E_NOT_TRANSACTED));
        }
    }
    lab("insert", SPARE_READER, "test");
    {
        const auto start = Clock::now();
        SCardProvider again(SPARE_READER);
        const ScardTransaction transaction(again);
        EXPECT_EQ(again.executeCommand(PING, false).getSw(), 0x9000);
        EXPECT_LT(Clock::now() - start, NO_HANG);
    }
    lab("remove", SPARE_READER); // as the lab started
}

} // namespace

namespace
{

// Card connections take turns in the process: the PC/SC client library
// changes its table of card handles under a per-context lock while calls on
// other handles search it under its global lock, which crashed a process
// with several threads connecting and exchanging at once.
TEST(ConnectionTurns, AnotherThreadsConnectionWaitsForTheTurn)
{
    const ResponseTimeout bounded(300ms);
    std::optional<SCardProvider> held(std::in_place, T1_READER);
    // The same thread may connect a second provider while it holds the turn.
    SCardProvider nested(T1_READER);
    EXPECT_EQ(nested.executeCommand(PING, false).getSw(), 0x9000);

    std::optional<std::uint32_t> waited;
    std::thread([&] { waited = failure([] { SCardProvider other(T1_READER); }); }).join();
    EXPECT_EQ(waited, TIMEOUT);

    held.reset();
    nested.disconnect();
    std::thread([] {
        SCardProvider other(T1_READER);
        EXPECT_EQ(other.executeCommand(PING, false).getSw(), 0x9000);
    }).join();
}

TEST(ConnectionTurns, ThreadsConnectingAndExchangingAtOnceAllSucceed)
{
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 40; ++i) {
                SCardProvider provider(T1_READER);
                if (provider.executeCommand(PING, false).getSw() == 0x9000) {
                    ++done;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(done, 160);
}

// A provider that lists readers holds a context and no card. Releasing that
// context changes the client library's context list as well, which crashed
// the JVM while another thread left its card (threads of one session walking
// the readers while one selects the confirmation token): it waits for the
// turn too.
TEST(ConnectionTurns, ReleasingAContextWaitsForAnotherThreadsConnection)
{
    std::optional<SCardProvider> lister(std::in_place);
    EXPECT_FALSE(lister->listReaders().empty());
    std::atomic<bool> connected{false};
    std::atomic<bool> leaving{false};
    std::thread holder([&] {
        SCardProvider provider(T1_READER);
        connected = true;
        std::this_thread::sleep_for(300ms);
        leaving = true;
    });
    while (!connected) {
        std::this_thread::sleep_for(1ms);
    }
    lister.reset();
    EXPECT_TRUE(leaving) << "the context was released while another thread's provider was connected";
    holder.join();
}

} // namespace
