// The fuzz input as the answers of a crypto means: every return value,
// count, length and output byte a double gives is read from it in call
// order. Once the input is used up every call fails, so each input ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace fuzzdouble
{

class Answers
{
  public:
    Answers(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool exhausted() const noexcept { return m_pos >= m_size; }

    // The next byte, 0 once the input is used up.
    std::uint8_t byte() noexcept { return exhausted() ? 0 : m_data[m_pos++]; }

    // How a call answers: as a working device would (bytes 00-7F), with
    // success but counts, lengths and bytes from the input (80-BF), or with a
    // failure picked by failure() (C0-FF, and always once the input is used
    // up).
    enum class Mode { Plausible, Hostile, Failure };
    Mode mode() noexcept
    {
        if (exhausted()) {
            m_failure = 0;
            return Mode::Failure;
        }
        m_failure = byte();
        return m_failure < 0x80 ? Mode::Plausible : m_failure < 0xC0 ? Mode::Hostile : Mode::Failure;
    }

    // Whether the call succeeds: most byte values say yes, the top quarter
    // picks a failure; no input left is always a failure.
    bool succeeds() noexcept
    {
        if (exhausted())
            return false;
        m_failure = byte();
        return m_failure < 0xC0;
    }
    // The failure succeeds() picked, one of `values`.
    template <class T> T failure(std::initializer_list<T> values) const noexcept
    {
        return values.begin()[m_failure % values.size()];
    }

    // One of `values`.
    template <class T> T pick(std::initializer_list<T> values) noexcept
    {
        return values.begin()[byte() % values.size()];
    }

    // A count or a length: mostly the byte itself; FF takes eight more bytes
    // (little-endian) for any value at all, FE the byte after it times 256.
    std::uint64_t length() noexcept
    {
        const std::uint8_t first = byte();
        if (first == 0xFF) {
            std::uint64_t value = 0;
            for (int i = 0; i < 8; ++i)
                value |= static_cast<std::uint64_t>(byte()) << (8 * i);
            return value;
        }
        if (first == 0xFE)
            return static_cast<std::uint64_t>(byte()) << 8;
        return first;
    }

    // Fills `size` bytes from the input, zeros once it is used up.
    void fill(void* out, std::size_t size) noexcept
    {
        if (size == 0)
            return;
        auto* target = static_cast<std::uint8_t*>(out);
        const std::size_t available = exhausted() ? 0 : std::min(size, m_size - m_pos);
        if (available != 0)
            std::memcpy(target, m_data + m_pos, available);
        std::memset(target + available, 0, size - available);
        m_pos += available;
    }

    std::vector<std::uint8_t> take(std::size_t size)
    {
        std::vector<std::uint8_t> out(size);
        fill(out.data(), size);
        return out;
    }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    std::uint8_t m_failure = 0;
};

// The answers of the input being run (set by the fuzz target).
inline Answers* current = nullptr;

// The reader a plausible PKCS#11 slot serves (its description).
inline std::string plausibleReader = "Fuzz Reader 00 00";

// What an operation of the library may end in besides a result: any of its
// exceptions, but never one that shows a count or length taken on trust.
template <class Operation> void expectOutcome(Operation&& operation)
{
    try {
        operation();
    } catch (const std::bad_alloc&) {
        std::abort();
    } catch (const std::length_error&) {
        std::abort();
    } catch (const std::exception&) {
    }
}

} // namespace fuzzdouble
