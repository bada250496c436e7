// The device-latency model: delays per function from DIR/latency, slept
// outside the module lock, one command at a time per token. Only lower
// bounds of time are checked; overlap is shown by the order calls finish in.
#include <atomic>
#include <chrono>
#include <thread>

#include "device/latency.h"
#include "token_fixture.h"

namespace labtest
{
namespace
{

using std::chrono::microseconds;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(LatencySpecification, ReadsDelaysPerFunctionWithDefault)
{
    const labdev::Latency l = labdev::parseLatency("C_Sign=150ms,C_Login=80ms, *=2ms\n"
                                                   "# a note\n"
                                                   "C_DigestUpdate=0.5ms  C_Initialize=1s # trailing note\n"
                                                   "C_GetSlotList=250us");
    EXPECT_EQ(l.delayOf("C_Sign"), milliseconds(150));
    EXPECT_EQ(l.delayOf("C_Login"), milliseconds(80));
    EXPECT_EQ(l.delayOf("C_DigestUpdate"), microseconds(500));
    EXPECT_EQ(l.delayOf("C_Initialize"), milliseconds(1000));
    EXPECT_EQ(l.delayOf("C_GetSlotList"), microseconds(250));
    EXPECT_EQ(l.delayOf("C_Verify"), milliseconds(2)); // '*'
    // The canonical form reads back as the same model.
    const labdev::Latency again = labdev::parseLatency(labdev::formatLatency(l));
    EXPECT_EQ(again.perFunction, l.perFunction);
    EXPECT_EQ(again.fallback, l.fallback);

    // Without '*' a function not named has no delay; an empty text is no model.
    EXPECT_EQ(labdev::parseLatency("C_Sign=1ms").delayOf("C_Login"), microseconds(0));
    EXPECT_TRUE(labdev::parseLatency(" # nothing\n").empty());
}

TEST(LatencySpecification, RefusesWhatItCannotRead)
{
    const struct {
        const char* text;
        const char* why;
    } cases[] = {
        {"C_Sign", "no '='"},
        {"C_Sgin=1ms", "no PKCS#11 function"},
        {"=1ms", "no PKCS#11 function"},
        {"C_Sign=1ms,C_Sign=2ms", "given twice"},
        {"*=1ms *=2ms", "'*' is given twice"},
        {"C_Sign=150", "needs a unit"},
        {"C_Sign=150 ms", "needs a unit"}, // spaces part items
        {"C_Sign=150min", "needs a unit"},
        {"C_Sign=ms", "not a number"},
        {"C_Sign=-1ms", "not a number"},
        {"C_Sign=1.2.3ms", "needs a unit"},
        {"C_Sign=61s", "at most 60 s"},
        {"C_Sign=99999999999999999999s", "at most 60 s"},
    };
    for (const auto& c : cases) {
        try {
            labdev::parseLatency(c.text);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << c.text << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find("C_Sign=150ms"), std::string::npos) << e.what(); // the form
        }
    }
}

class LatencyTest : public TokenTest
{
  protected:
    void SetUp() override
    {
        TokenTest::SetUp();
        addDevice("rutoken-ecp-2", "0A1B2C3D", "Aktiv Rutoken ECP 00 00", {{"slot", "0"}});
        addDevice("rutoken-ecp-2", "0A1B2C3E", "Aktiv Rutoken ECP 00 01", {{"slot", "1"}});
    }
    void model(const std::string& modelText)
    {
        labdev::writeLatency(m_dir.path(), labdev::parseLatency(modelText));
    }
    static CK_RV tokenInfo(Module& m, CK_SLOT_ID slot)
    {
        CK_TOKEN_INFO info{};
        return m->C_GetTokenInfo(slot, &info);
    }
    static CK_RV slotInfo(Module& m, CK_SLOT_ID slot)
    {
        CK_SLOT_INFO info{};
        return m->C_GetSlotInfo(slot, &info);
    }
    template <class F> static Clock::duration timed(F&& f)
    {
        const auto start = Clock::now();
        f();
        return Clock::now() - start;
    }
};

TEST_F(LatencyTest, OffByDefaultAndWhenTheFileDoesNotParse)
{
    EXPECT_FALSE(labdev::readLatency(m_dir.path()));
    gostsoft::writeFile(m_dir.file(labdev::LATENCY_FILE), "C_Sign=lots\n");
    EXPECT_FALSE(labdev::readLatency(m_dir.path()));
    model("C_Sign=1ms");
    ASSERT_TRUE(labdev::readLatency(m_dir.path()));
    // An empty model removes the file.
    labdev::writeLatency(m_dir.path(), {});
    EXPECT_FALSE(labdev::readLatency(m_dir.path()));
}

TEST_F(LatencyTest, EachCallWaitsAtLeastItsDelay)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE h = session(m, 0);
    model("C_GetTokenInfo=200ms,C_DigestInit=120ms,*=50ms");
    EXPECT_GE(timed([&] { EXPECT_EQ(tokenInfo(m, 0), CKR_OK); }), milliseconds(200));
    CK_MECHANISM mechanism{CKM_SHA256, nullptr, 0};
    EXPECT_GE(timed([&] { EXPECT_EQ(m->C_DigestInit(h, &mechanism), CKR_OK); }), milliseconds(120));
    // '*' for the functions not named, with or without a token.
    EXPECT_GE(timed([&] { slots(m); }), milliseconds(2 * 50));
    EXPECT_GE(timed([&] { EXPECT_EQ(slotInfo(m, 1), CKR_OK); }), milliseconds(50));
    // The delay comes before the call: an injected failure waits too.
    gostsoft::writeFile(m_dir.file("faults"), "C_GetTokenInfo nth 1 CKR_DEVICE_ERROR\n");
    EXPECT_GE(timed([&] { EXPECT_EQ(tokenInfo(m, 0), CKR_DEVICE_ERROR); }), milliseconds(200));
}

// A long command on token 0: calls for token 1 and calls for no token run
// meanwhile (the delay is not slept under the module lock); another call for
// token 0 waits until the long one has finished (one command at a time).
TEST_F(LatencyTest, TokensWaitInParallelAndOneTokenOneCommandAtATime)
{
    Module& m = open("rtpkcs11ecp");
    const CK_SESSION_HANDLE onSecond = session(m, 1);
    model("C_GetTokenInfo=2s");
    std::atomic<bool> longDone{false};
    const auto start = Clock::now();
    std::thread longCall([&] {
        EXPECT_EQ(tokenInfo(m, 0), CKR_OK);
        longDone = true;
    });
    std::this_thread::sleep_for(milliseconds(500)); // the long call is in its delay by now

    EXPECT_EQ(slotInfo(m, 1), CKR_OK);
    CK_SESSION_INFO info{};
    EXPECT_EQ(m->C_GetSessionInfo(onSecond, &info), CKR_OK);
    slots(m);
    EXPECT_FALSE(longDone) << "calls for another token or for none waited for token 0";

    EXPECT_EQ(slotInfo(m, 0), CKR_OK);
    EXPECT_GE(Clock::now() - start, milliseconds(2000)) << "a call for token 0 ran while its token was busy";
    longCall.join();
    EXPECT_TRUE(longDone);
}

} // namespace
} // namespace labtest
