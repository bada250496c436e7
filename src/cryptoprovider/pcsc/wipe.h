// Wiping of the buffers a card exchange passes through: commands carry PINs
// and session tokens, answers carry session tokens.
#pragma once

#include <cstdint>
#include <vector>

#include "base/secure.h"

namespace pcsc
{

// Overwrites the bytes of a buffer owned by the caller that is only handed
// out read-only (a command's data, a response's bytes). The object behind
// `buffer` must not be const itself.
inline void wipeOwned(const std::vector<std::uint8_t>& buffer) noexcept
{
    bs::secureZero(const_cast<std::uint8_t*>(buffer.data()), buffer.size());
}

// Wipes a buffer of the caller's when the scope ends, also on an exception.
class WipeOnExit
{
  public:
    explicit WipeOnExit(const std::vector<std::uint8_t>& buffer) noexcept : m_buffer(buffer) {}
    ~WipeOnExit() { wipeOwned(m_buffer); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

  private:
    const std::vector<std::uint8_t>& m_buffer;
};

} // namespace pcsc
