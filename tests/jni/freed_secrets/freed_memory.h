// A scan of freed memory for secrets. The test program replaces the global
// operator new and delete: while a watch is on, every block handed back is
// searched for the watched byte patterns before it is freed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace freed
{

// Watches for each pattern (at most 8, each at most 256 bytes; empty ones are
// ignored) until the Watch is dropped.
class Watch
{
  public:
    explicit Watch(const std::vector<std::string>& patterns);
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    ~Watch();

    // The indexes of the patterns found in freed blocks so far, each once.
    std::vector<int> found() const;
};

// The bytes of wide text as it lies in memory (4 bytes a character), and as
// the UTF-16 units of a Java string.
std::string wideBytes(std::wstring_view text);
std::string utf16Bytes(std::wstring_view text);

} // namespace freed
