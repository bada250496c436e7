// The session registry: every session opened from Java, each with its own
// crypto provider.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cryptoprovider/provider/crypto_provider.h"

struct Session {
    Session(std::string id, std::shared_ptr<ICryptoProvider> provider, bool kalvaMode)
        : id(std::move(id)), provider(std::move(provider)), kalvaMode(kalvaMode)
    {
    }

    const std::string id; // 32 upper-case hex characters
    const std::shared_ptr<ICryptoProvider> provider;
    // Legacy-bank compatibility mode; Java threads may switch it while others read it.
    std::atomic<bool> kalvaMode;
};

class Sessions
{
  public:
    // A new session with a fresh provider; returns its id.
    std::string open(bool kalvaMode);
    // The session with this id; std::runtime_error "BS-001001" when unknown or closed.
    std::shared_ptr<Session> find(std::string_view id) const;
    // Removes the session; "BS-001001" when unknown or closed. Calls still
    // running on the session keep it alive until they return.
    void close(std::string_view id);

    std::size_t size() const;

  private:
    // Guards m_list only; never held while a provider runs.
    static std::mutex m_mutex;
    std::vector<std::shared_ptr<Session>> m_list;
};

// The registry of the process.
extern Sessions m_sessions;
