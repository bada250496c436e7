#include "cryptoprovider/core/masked_secret.h"

#include <stdexcept>
#include <utility>

#include "base/secure.h"

namespace
{

void applyMask(std::wstring& text, std::wstring_view mask)
{
    if (mask.empty()) {
        throw std::invalid_argument("empty secret mask");
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<wchar_t>(text[i] ^ mask[i % mask.size()]);
    }
}

} // namespace

MaskedSecret::MaskedSecret(std::wstring_view clear, std::wstring_view mask)
{
    if (mask.empty()) {
        throw std::invalid_argument("empty secret mask");
    }
    // Masked character by character so that no clear copy is made.
    m_masked.resize(clear.size());
    for (std::size_t i = 0; i < clear.size(); ++i) {
        m_masked[i] = static_cast<wchar_t>(clear[i] ^ mask[i % mask.size()]);
    }
}

MaskedSecret::MaskedSecret(MaskedSecret&& other) noexcept : m_masked(std::move(other.m_masked))
{
    other.wipe();
}

MaskedSecret& MaskedSecret::operator=(MaskedSecret&& other) noexcept
{
    if (this != &other) {
        wipe();
        m_masked = std::move(other.m_masked);
        other.wipe();
    }
    return *this;
}

std::wstring MaskedSecret::reveal(std::wstring_view mask) const
{
    std::wstring clear = m_masked;
    applyMask(clear, mask);
    return clear;
}

void MaskedSecret::wipe() noexcept
{
    // The whole buffer, so that characters a move left in a short string's
    // inline storage are cleared as well.
    bs::secureZero(m_masked.data(), (m_masked.capacity() + 1) * sizeof(wchar_t));
    m_masked.clear();
}
