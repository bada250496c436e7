#include "jni/random_generator.h"

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

#include "base/logger.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/provider/crypto_provider.h"

RandomGenerator& RandomGenerator::instance()
{
    static RandomGenerator generator;
    return generator;
}

void RandomGenerator::resetLocked()
{
    m_requestedChar.reset();
    m_currentCharNum = 0;
    m_keyPressed.reset();
}

bool RandomGenerator::start()
{
    std::lock_guard lock(m_mutex);
    if (m_running) {
        return false;
    }
    m_running = true;
    resetLocked();
    m_changed.notify_all();
    return true;
}

void RandomGenerator::stop()
{
    std::lock_guard lock(m_mutex);
    m_running = false;
    resetLocked();
    m_changed.notify_all();
}

void RandomGenerator::reset()
{
    std::lock_guard lock(m_mutex);
    resetLocked();
    m_changed.notify_all();
}

bool RandomGenerator::running() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

void RandomGenerator::setKeyPressed(std::int32_t key)
{
    std::lock_guard lock(m_mutex);
    m_keyPressed = key;
    m_requestedChar.reset();
    m_changed.notify_all();
}

KeyPressRequest RandomGenerator::request() const
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_running || m_requestedChar.has_value(); });
    return {m_requestedChar.value_or(UNDEFINED_CHAR), m_currentCharNum};
}

std::int32_t RandomGenerator::keyPressEvent(std::int32_t requested, std::int32_t number)
{
    std::unique_lock lock(m_mutex);
    m_requestedChar = requested;
    m_currentCharNum = number;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_running || m_keyPressed.has_value(); });
    m_requestedChar.reset();
    m_currentCharNum = 0;
    const std::int32_t key = m_keyPressed.value_or(-1);
    m_keyPressed.reset();
    return key;
}

int RandomGenerator::callback(int requested, int number, int, void*)
{
    return instance().keyPressEvent(requested, number);
}

namespace jni
{

namespace
{

// The seeding thread: the store's initialisation asks for characters until it
// has enough; whatever ends it, the generator stops and every waiter wakes.
void initRandomGenerator(const std::shared_ptr<ICryptoProvider>& provider)
{
    try {
        provider->initRND(RandomGenerator::callback);
    } catch (const std::exception& e) {
        bs::Logger("initRandomGenerator").error(e.what());
    } catch (...) {
        bs::Logger("initRandomGenerator").error("unknown error");
    }
    RandomGenerator::instance().stop();
}

void startDetached(std::function<void()> body)
{
    std::thread(std::move(body)).detach();
}

std::atomic<SeedingThreadStart> g_startSeedingThread{startDetached};

// Starts the seeding thread for a generator just started; when no thread
// starts, the generator is stopped again (nobody would ever stop it) and the
// failure reported.
void startSeeding(const std::shared_ptr<ICryptoProvider>& provider)
{
    std::uint32_t code = 0;
    try {
        g_startSeedingThread.load()([provider] { initRandomGenerator(provider); });
        return;
    } catch (const std::system_error& e) {
        bs::Logger("sendKeyPressEvent").error(e.what());
        code = static_cast<std::uint32_t>(e.code().value());
    } catch (const std::exception& e) {
        bs::Logger("sendKeyPressEvent").error(e.what());
    }
    RandomGenerator::instance().stop();
    throw SystemError(code, cp::localization.get("CP-017001"), "CP-017001");
}

} // namespace

SeedingThreadStart setSeedingThreadStart(SeedingThreadStart start) noexcept
{
    return g_startSeedingThread.exchange(start);
}

KeyPressRequest sendKeyPressEvent(const std::shared_ptr<ICryptoProvider>& provider, std::int32_t key)
{
    if (!provider->needInitRND()) {
        return {RandomGenerator::UNDEFINED_CHAR, 0};
    }
    RandomGenerator& generator = RandomGenerator::instance();
    if (key == 0) {
        if (generator.start()) {
            startSeeding(provider);
        }
    } else {
        generator.setKeyPressed(key);
    }
    return generator.request();
}

} // namespace jni
