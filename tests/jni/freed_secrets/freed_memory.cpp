#include "freed_memory.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace freed
{

namespace
{

constexpr int MAX_PATTERNS = 8;
constexpr std::size_t MAX_PATTERN = 256;

struct Pattern {
    unsigned char bytes[MAX_PATTERN];
    std::size_t size = 0;
};

// Written only while no watch is on; the scan reads them without allocating.
Pattern patterns[MAX_PATTERNS];
int patternCount = 0;
std::atomic<bool> watching{false};
std::atomic<unsigned> hits{0}; // bit i: pattern i was found

void scan(const void* block) noexcept
{
    const std::size_t size = ::malloc_usable_size(const_cast<void*>(block));
    for (int i = 0; i < patternCount; ++i) {
        if (patterns[i].size != 0 && ::memmem(block, size, patterns[i].bytes, patterns[i].size) != nullptr) {
            hits.fetch_or(1u << i);
        }
    }
}

void release(void* block) noexcept
{
    if (block != nullptr && watching.load()) {
        scan(block);
    }
    std::free(block);
}

void* allocate(std::size_t size)
{
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

} // namespace

Watch::Watch(const std::vector<std::string>& watched)
{
    patternCount = 0;
    hits = 0;
    for (const std::string& pattern : watched) {
        if (patternCount == MAX_PATTERNS || pattern.size() > MAX_PATTERN) {
            std::abort();
        }
        std::memcpy(patterns[patternCount].bytes, pattern.data(), pattern.size());
        patterns[patternCount].size = pattern.size();
        ++patternCount;
    }
    watching = true;
}

Watch::~Watch()
{
    watching = false;
}

std::vector<int> Watch::found() const
{
    const unsigned seen = hits.load();
    std::vector<int> result;
    for (int i = 0; i < MAX_PATTERNS; ++i) {
        if ((seen & (1u << i)) != 0) {
            result.push_back(i);
        }
    }
    return result;
}

std::string wideBytes(std::wstring_view text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::string utf16Bytes(std::wstring_view text)
{
    std::u16string units(text.begin(), text.end());
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(char16_t));
}

} // namespace freed

void* operator new(std::size_t size)
{
    return freed::allocate(size);
}

void* operator new[](std::size_t size)
{
    return freed::allocate(size);
}

void operator delete(void* block) noexcept
{
    freed::release(block);
}

void operator delete[](void* block) noexcept
{
    freed::release(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    freed::release(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    freed::release(block);
}
