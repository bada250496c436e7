// Key-press seeding of a crypto means' random generator: the meeting point of
// the thread that runs the crypto means' initialisation (it asks for one
// character after another through `callback` and waits for each) and the
// Java threads that deliver key presses and ask what to prompt next.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

class ICryptoProvider;

// (requestedChar, currentCharNum) as Java receives it.
using KeyPressRequest = std::pair<std::int32_t, std::int32_t>;

class RandomGenerator
{
  public:
    // "No character".
    static constexpr std::int32_t UNDEFINED_CHAR = -1;

    // The one generator of the process.
    static RandomGenerator& instance();

    RandomGenerator() = default;
    RandomGenerator(const RandomGenerator&) = delete;
    RandomGenerator& operator=(const RandomGenerator&) = delete;

    // Starts a seeding (nothing requested, no key waiting) unless one runs;
    // false when one was running already.
    bool start();
    // Ends the seeding: wakes every waiter; nothing requested, no key waiting.
    void stop();
    // Forgets the request and any key waiting.
    void reset();
    bool running() const;

    // Delivers a key press; the pending request counts as answered.
    void setKeyPressed(std::int32_t key);
    // While the seeding runs, waits until a character is requested; then (or
    // at once when not running) the requested character (UNDEFINED_CHAR when
    // none) and its number in the sequence.
    KeyPressRequest request() const;

    // The crypto means asks for character `requested`, number `number`:
    // while the seeding runs this waits for a key press or the end of the
    // seeding; it returns the key pressed (consuming it) or -1. Not running,
    // it returns a key already waiting, else -1, at once.
    std::int32_t keyPressEvent(std::int32_t requested, std::int32_t number);
    // keyPressEvent on the process's generator, in the form the key stores'
    // initRND takes; the last two arguments are not used.
    static int callback(int requested, int number, int, void*);

  private:
    void resetLocked();

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_running = false;
    std::optional<std::int32_t> m_requestedChar;
    std::int32_t m_currentCharNum = 0;
    std::optional<std::int32_t> m_keyPressed;
};

namespace jni
{

// Session.sendKeyPressEvent: a store that needs no seeding answers
// (UNDEFINED_CHAR, 0) and nothing starts. Otherwise key 0 starts the seeding
// (the provider's initRND runs on a detached thread of its own, which stops
// the generator when initRND returns or throws; a key 0 while a seeding runs
// starts no second one) and any other key is delivered; then the next
// request is returned. When the seeding thread cannot start, the generator
// stays idle and SystemError (the system's code, the catalogue's text for a
// lack of resources) is thrown; the next key 0 tries again.
KeyPressRequest sendKeyPressEvent(const std::shared_ptr<ICryptoProvider>& provider, std::int32_t key);

// Starts `body` on a detached thread of its own; throws (std::system_error)
// when no thread can be started.
using SeedingThreadStart = void (*)(std::function<void()> body);
// Replaces how the seeding thread is started (tests make it fail); returns
// the starter in use before.
SeedingThreadStart setSeedingThreadStart(SeedingThreadStart start) noexcept;

} // namespace jni
