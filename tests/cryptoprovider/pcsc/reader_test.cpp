// Reader access through the real PC/SC client and daemon, against the lab's
// test cards (layout "scard" of scripts/lab).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gcrypt.h>

#include "base/conv.h"
#include "cryptoprovider/pcsc/scard_provider.h"
#include "lab_readers.h"
#include "support/lab_script.h"

namespace
{

using Bytes = std::vector<unsigned char>;

Bytes counting(std::size_t n)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<unsigned char>(i);
    }
    return out;
}

Bytes sha256(const Bytes& data)
{
    Bytes digest(32);
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), data.data(), data.size());
    return digest;
}

// Runs "scripts/lab VERB <this test's lab> 'READER' [KIND]".
void lab(const std::string& verb, const std::string& reader, const std::string& kind = "")
{
    labscript::run(verb, " '" + reader + "' " + kind);
}

TEST(Readers, ListsEveryReaderOfTheService)
{
    SCardProvider provider;
    std::vector<std::string> readers = provider.listReaders();
    std::sort(readers.begin(), readers.end());
    const std::vector<std::string> expected = {"Lab Mute Reader 00 00",  "Lab Mute Reader 00 01",
                                               "Lab Spare Reader 00 00", "Lab Spare Reader 00 01",
                                               "Lab Test Reader 00 00",  "Lab Test Reader 00 01"};
    EXPECT_EQ(readers, expected);
}

TEST(Readers, StatusShowsTheCardAndItsAtr)
{
    SCardProvider provider;
    const struct {
        const char* reader;
        bool present;
        const char* atr;
    } cases[] = {
        {T1_READER, true, "3B85014C41425431"}, // followed by its check byte
        {T0_READER, true, "3B054C41425430"},
        {SPARE_READER, false, ""},
    };
    for (const auto& c : cases) {
        const SCardProvider::ReaderState state = provider.getStatus(c.reader);
        EXPECT_EQ((state.eventState & SCARD_STATE_PRESENT) != 0, c.present) << c.reader;
        EXPECT_EQ((state.eventState & SCARD_STATE_EMPTY) != 0, !c.present) << c.reader;
        EXPECT_EQ(conv::bytes_to_hex(state.atr).substr(0, std::string(c.atr).size()), c.atr) << c.reader;
    }
    EXPECT_EQ(provider.getStatus(T1_READER).atr.size(), 9u);
}

TEST(Readers, MissingReaderOrCardIsReported)
{
    SCardProvider provider;
    EXPECT_THROW(provider.getStatus("No Such Reader 00 00"), DeviceNotFound);
    EXPECT_THROW(SCardProvider("No Such Reader 00 00"), DeviceNotFound);
    try {
        SCardProvider empty(SPARE_READER);
        ADD_FAILURE() << "connected to an empty reader";
    } catch (const ScardException& e) {
        EXPECT_EQ(e.code(), static_cast<std::uint32_t>(SCARD_E_NO_SMARTCARD));
    }
}

TEST(Exchange, BothProtocolsCarryCommands)
{
    // The protocol control information must match the card's protocol, or
    // PC/SC refuses the exchange.
    for (const char* reader : {T1_READER, T0_READER}) {
        SCardProvider provider(reader);
        const Bytes data = counting(5);
        const apdu::Response r =
            provider.executeCommand(apdu::Command(0x00, 0x12, 0x00, 0x00, data, 0), false);
        EXPECT_EQ(r.getSw(), 0x9000) << reader;
        // Short form, Lc 5, Le 0 meaning 256, the data intact.
        Bytes expected = {0x00, 0x00, 0x05, 0x01, 0x00};
        const Bytes digest = sha256(data);
        expected.insert(expected.end(), digest.begin(), digest.end());
        EXPECT_EQ(r.getData(), expected) << reader;
    }
}

TEST(Exchange, ExtendedLengthCommandArrivesWhole)
{
    SCardProvider provider(T1_READER);
    const Bytes data = counting(300);
    const apdu::Response r = provider.executeCommand(apdu::Command(0x00, 0x12, 0x00, 0x00, data, 0), false);
    Bytes expected = {0x01, 0x01, 0x2C, 0x00, 0x00}; // extended, Lc 300, Le 0 (65536)
    const Bytes digest = sha256(data);
    expected.insert(expected.end(), digest.begin(), digest.end());
    EXPECT_EQ(r.getData(), expected);
}

TEST(Exchange, FetchesTheAnswerAnnouncedBy61xx)
{
    SCardProvider provider(T0_READER);
    const apdu::Command command(0x00, 0x61, 0x10, 0x00);
    EXPECT_EQ(provider.transmit(command.getRequest(), false).getSw(), 0x6110);
    const apdu::Response r = provider.executeCommand(command, false);
    EXPECT_EQ(r.getSw(), 0x9000);
    EXPECT_EQ(r.getData(), counting(0x10));
}

TEST(Exchange, ResendsWithTheLeAskedBy6Cxx)
{
    SCardProvider provider(T1_READER);
    const apdu::Response r = provider.executeCommand(apdu::Command(0x00, 0x6C, 0x08, 0x00), false);
    EXPECT_EQ(r.getSw(), 0x9000);
    EXPECT_EQ(r.getData(), counting(8));
}

TEST(Exchange, StatusWordsComeBackAsExceptions)
{
    SCardProvider provider(T1_READER);
    try {
        provider.executeCommand(apdu::Command(0x00, 0xEE, 0x63, 0xC2), false);
        ADD_FAILURE() << "63C2 accepted";
    } catch (const InvalidPassword& e) {
        EXPECT_EQ(e.tries(), 2);
    }
    EXPECT_THROW(provider.executeCommand(apdu::Command(0x00, 0xEE, 0x6A, 0x82), false), apdu::FileNotFound);
    EXPECT_THROW(provider.executeCommand(apdu::Command(0x00, 0x55, 0x00, 0x00), false), apdu::UnknownCommand);
    EXPECT_EQ(provider.executeCommand(apdu::Command(0x00, 0xEE, 0x6A, 0x82), true).getSw(), 0x6A82);
}

TEST(Exchange, AnswerLongerThanTheBufferFails)
{
    SCardProvider provider(T1_READER);
    const apdu::Command big(0x00, 0x4C, 0x01, 0x00); // 256 data bytes and the status word
    try {
        provider.transmit(big.getRequest(), false);
        ADD_FAILURE() << "258-byte answer accepted";
    } catch (const ScardException& e) {
        EXPECT_EQ(e.code(), static_cast<std::uint32_t>(SCARD_E_INSUFFICIENT_BUFFER));
    }
    // Silent: no PC/SC error, but no answer to build a response from.
    EXPECT_THROW(provider.transmit(big.getRequest(), true), std::invalid_argument);
    // The largest answer that fits still arrives.
    EXPECT_EQ(provider.transmit(apdu::Command(0x00, 0x4C, 0x00, 0xFD).getRequest(), false).getData(),
              counting(253));
}

TEST(Transactions, KeepOtherConnectionsWaiting)
{
    SCardProvider first(T1_READER);
    SCardProvider second(T1_READER);
    first.beginTransaction();
    std::atomic<bool> secondIn{false};
    std::thread other([&] {
        second.beginTransaction();
        secondIn = true;
        second.endTransaction();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const bool enteredEarly = secondIn;
    EXPECT_EQ(first.executeCommand(apdu::Command(0x00, 0x6C, 0x02, 0x00), false).getData(), counting(2));
    first.endTransaction();
    other.join();
    EXPECT_FALSE(enteredEarly);
    EXPECT_TRUE(secondIn);
}

TEST(Removal, MidSessionFailsAsAReaderError)
{
    lab("insert", SPARE_READER, "test");
    SCardProvider provider(SPARE_READER);
    EXPECT_EQ(provider.executeCommand(apdu::Command(0x00, 0x6C, 0x04, 0x00), false).getSw(), 0x9000);
    lab("remove", SPARE_READER);
    // Either the transaction breaks first or PC/SC already noticed the removal.
    try {
        provider.executeCommand(apdu::Command(0x00, 0x6C, 0x04, 0x00), false);
        ADD_FAILURE() << "exchange with a removed card succeeded";
    } catch (const DeviceNotFound&) {
    } catch (const ScardException& e) {
        EXPECT_EQ(e.code(), static_cast<std::uint32_t>(SCARD_E_NOT_TRANSACTED));
    }
    try {
        provider.connect(SPARE_READER);
        ADD_FAILURE() << "connected to an empty reader";
    } catch (const ScardException& e) {
        EXPECT_EQ(e.code(), static_cast<std::uint32_t>(SCARD_E_NO_SMARTCARD));
    }
}

TEST(MuteCard, NeverAnswersAndLeavesOtherReadersAlone)
{
    // The exchange blocks for good: run it in a child and bound it.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            SCardProvider provider(MUTE_READER);
            provider.transmit(apdu::Command(0x00, 0xB0, 0x00, 0x00, short{4}).getRequest(), true);
        } catch (...) {
        }
        _exit(0);
    }
    int status = 0;
    pid_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (done == 0 && std::chrono::steady_clock::now() < deadline) {
        done = waitpid(child, &status, WNOHANG);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    EXPECT_EQ(done, 0) << "the mute card answered";
    SCardProvider provider(T1_READER);
    EXPECT_EQ(provider.executeCommand(apdu::Command(0x00, 0x6C, 0x01, 0x00), false).getSw(), 0x9000);
}

} // namespace
