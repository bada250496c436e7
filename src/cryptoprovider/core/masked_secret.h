// A PIN or password kept in memory only in masked form.
#pragma once

#include <string>
#include <string_view>

// The text with character i replaced by character i XOR mask[i mod size]:
// the clear text never lives in the object. The stored form is wiped when
// the object is dropped, replaced or moved from.
class MaskedSecret
{
  public:
    MaskedSecret() = default;
    // `mask` must not be empty (std::invalid_argument).
    MaskedSecret(std::wstring_view clear, std::wstring_view mask);
    ~MaskedSecret() { wipe(); }
    MaskedSecret(MaskedSecret&& other) noexcept;
    MaskedSecret& operator=(MaskedSecret&& other) noexcept;
    MaskedSecret(const MaskedSecret&) = delete;
    MaskedSecret& operator=(const MaskedSecret&) = delete;

    // The clear text; the caller wipes it when done.
    std::wstring reveal(std::wstring_view mask) const;
    // The stored (masked) characters.
    const std::wstring& masked() const noexcept { return m_masked; }
    bool empty() const noexcept { return m_masked.empty(); }
    void wipe() noexcept;

  private:
    std::wstring m_masked;
};
