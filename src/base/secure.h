// Wiping of secrets (PINs, passwords, key material) in a way the optimiser
// cannot drop.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bs
{

// Overwrites `size` bytes at `data` with zeros. A null pointer is ignored.
void secureZero(void* data, std::size_t size) noexcept;

// Overwrites every byte of the vector with zeros, then empties it; the
// allocation (capacity) is kept. A null pointer is ignored.
void secureZero(std::vector<unsigned char>* data) noexcept;

// The same for text that held a secret (PIN, password): every character of
// the string is overwritten, then the string is emptied.
void secureZero(std::string* text) noexcept;
void secureZero(std::wstring* text) noexcept;

} // namespace bs
