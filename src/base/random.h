// Random bytes from the operating system.
#pragma once

#include <vector>

namespace bs
{

// `count` bytes read from "/dev/urandom". Throws bs::GetRandomError when the
// device cannot be opened or delivers fewer bytes than asked.
std::vector<unsigned char> getRandomBytes(unsigned count);

} // namespace bs
