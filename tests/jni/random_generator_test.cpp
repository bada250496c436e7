// Key-press seeding: the generator's rendezvous, and the whole protocol as
// Session.sendKeyPressEvent drives it with a key store that needs seeding.
#include "jni/random_generator.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "cryptoprovider/core/errors.h"
#include "provider_fixture.h"

namespace
{

using providertest::TestProvider;

// A store whose random generator asks for the characters of `sequence`, one
// after another, and keeps the keys it gets; with `failAfter` it gives up
// after that many.
class SeedingStore : public softstore::SoftKeyStore
{
  public:
    bool needInitRND() override { return true; }
    void initRND(InitRndCallback callback) override
    {
        for (std::size_t i = 0; i < sequence.size(); ++i) {
            if (failAfter && i == *failAfter) {
                throw std::runtime_error("seeding failed");
            }
            received.push_back(callback(sequence[i], static_cast<int>(i) + 1, 0, nullptr));
        }
    }

    std::vector<int> sequence{'q', 'w', 'e'};
    std::optional<std::size_t> failAfter;
    std::vector<int> received;
};

// A provider with `store` selected.
std::shared_ptr<TestProvider> providerWith(const std::shared_ptr<KeyStore>& store)
{
    auto provider = std::make_shared<TestProvider>();
    store->setId("store");
    provider->cacheKeyStore(store);
    provider->selectKeyStore(KeyStoreType::CryptoProContainer, "store", true);
    return provider;
}

class KeyPressSeeding : public ::testing::Test
{
  protected:
    void TearDown() override { RandomGenerator::instance().stop(); }
};

TEST_F(KeyPressSeeding, EachKeyIsDeliveredAndTheNextCharacterAsked)
{
    const auto store = std::make_shared<SeedingStore>();
    const auto provider = providerWith(store);
    EXPECT_EQ(jni::sendKeyPressEvent(provider, 0), KeyPressRequest('q', 1));
    EXPECT_EQ(jni::sendKeyPressEvent(provider, 'Q'), KeyPressRequest('w', 2));
    EXPECT_EQ(jni::sendKeyPressEvent(provider, 'W'), KeyPressRequest('e', 3));
    // The last key ends the seeding: nothing is asked any more.
    EXPECT_EQ(jni::sendKeyPressEvent(provider, 'E'), KeyPressRequest(-1, 0));
    EXPECT_EQ(store->received, (std::vector<int>{'Q', 'W', 'E'}));
    EXPECT_FALSE(RandomGenerator::instance().running());

    // A new seeding can start after the previous one.
    store->received.clear();
    store->sequence = {'z'};
    EXPECT_EQ(jni::sendKeyPressEvent(provider, 0), KeyPressRequest('z', 1));
    EXPECT_EQ(jni::sendKeyPressEvent(provider, 'Z'), KeyPressRequest(-1, 0));
    EXPECT_EQ(store->received, std::vector<int>{'Z'});
}

// Closing the session drops the caller's provider while its store still asks
// for characters: the seeding thread keeps the provider (and its store) until
// the seeding ends, then lets it go.
TEST_F(KeyPressSeeding, SeedingOutlivesTheSessionThatStartedIt)
{
    const auto store = std::make_shared<SeedingStore>();
    std::weak_ptr<TestProvider> provider;
    {
        const auto session = providerWith(store);
        provider = session;
        EXPECT_EQ(jni::sendKeyPressEvent(session, 0), KeyPressRequest('q', 1));
    }
    EXPECT_FALSE(provider.expired());
    RandomGenerator& generator = RandomGenerator::instance();
    for (const int key : {'Q', 'W', 'E'}) {
        generator.setKeyPressed(key);
        generator.request();
    }
    EXPECT_FALSE(generator.running());
    EXPECT_EQ(store->received, (std::vector<int>{'Q', 'W', 'E'}));
    // The thread lets go of the provider once it has stopped the generator.
    for (int turn = 0; turn < 1000 && !provider.expired(); ++turn) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(provider.expired());
}

TEST_F(KeyPressSeeding, AFailingSeedingStopsTheGenerator)
{
    const auto store = std::make_shared<SeedingStore>();
    store->failAfter = 1;
    const auto provider = providerWith(store);
    EXPECT_EQ(jni::sendKeyPressEvent(provider, 0), KeyPressRequest('q', 1));
    EXPECT_EQ(jni::sendKeyPressEvent(provider, 'Q'), KeyPressRequest(-1, 0));
    EXPECT_FALSE(RandomGenerator::instance().running());
}

// A system that has no thread to give: the generator stays idle, so later
// key presses answer at once instead of waiting for a seeding that never
// runs, and the next key 0 starts the seeding once threads start again.
TEST_F(KeyPressSeeding, ASeedingThreadThatCannotStartLeavesTheGeneratorIdle)
{
    const auto store = std::make_shared<SeedingStore>();
    const auto provider = providerWith(store);
    const jni::SeedingThreadStart previous = jni::setSeedingThreadStart([](std::function<void()>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    try {
        jni::sendKeyPressEvent(provider, 0);
        ADD_FAILURE() << "no error";
    } catch (const SystemError& e) {
        EXPECT_EQ(e.code(), static_cast<std::uint32_t>(EAGAIN));
        EXPECT_STREQ(e.what(), cp::localization.get("CP-017001"));
    }
    EXPECT_FALSE(RandomGenerator::instance().running());
    EXPECT_EQ(jni::sendKeyPressEvent(provider, 'Q'), KeyPressRequest(-1, 0));

    jni::setSeedingThreadStart(previous);
    EXPECT_EQ(jni::sendKeyPressEvent(provider, 0), KeyPressRequest('q', 1));
    for (const int key : {'Q', 'W', 'E'})
        jni::sendKeyPressEvent(provider, key);
    EXPECT_EQ(store->received, (std::vector<int>{'Q', 'W', 'E'}));
}

TEST_F(KeyPressSeeding, StoresWithoutSeedingAnswerNothingRequested)
{
    const auto provider = providerWith(std::make_shared<softstore::SoftKeyStore>());
    for (int key : {0, int('a'), 0}) {
        EXPECT_EQ(jni::sendKeyPressEvent(provider, key), KeyPressRequest(-1, 0));
        EXPECT_FALSE(RandomGenerator::instance().running());
    }
    // Without a store the provider cannot tell.
    EXPECT_THROW(jni::sendKeyPressEvent(std::make_shared<TestProvider>(), 0), KeyStoreNotSelected);
}

TEST_F(KeyPressSeeding, IdleGeneratorNeverWaits)
{
    RandomGenerator& generator = RandomGenerator::instance();
    ASSERT_FALSE(generator.running());
    EXPECT_EQ(generator.request(), KeyPressRequest(-1, 0));
    EXPECT_EQ(RandomGenerator::callback('x', 4, 0, nullptr), -1);
    // A key already waiting is consumed once.
    generator.setKeyPressed('k');
    EXPECT_EQ(RandomGenerator::callback('x', 4, 0, nullptr), 'k');
    EXPECT_EQ(RandomGenerator::callback('x', 4, 0, nullptr), -1);
    EXPECT_EQ(generator.request(), KeyPressRequest(-1, 0));
}

} // namespace
