#include "base/secure.h"

#include <cstring>

namespace bs
{

void secureZero(void* data, std::size_t size) noexcept
{
    if (data == nullptr || size == 0) {
        return;
    }
    std::memset(data, 0, size);
    // The empty statement claims to read the memory through `data`, so the
    // stores above cannot be treated as dead even when the buffer is freed
    // right after.
    __asm__ __volatile__("" : : "r"(data) : "memory");
}

void secureZero(std::vector<unsigned char>* data) noexcept
{
    if (data == nullptr) {
        return;
    }
    secureZero(data->data(), data->size());
    data->clear();
}

void secureZero(std::string* text) noexcept
{
    if (text == nullptr) {
        return;
    }
    secureZero(text->data(), text->size());
    text->clear();
}

void secureZero(std::wstring* text) noexcept
{
    if (text == nullptr) {
        return;
    }
    secureZero(text->data(), text->size() * sizeof(wchar_t));
    text->clear();
}

} // namespace bs
