#include "x509/gost_signature.h"

#include <algorithm>

namespace gost
{

bytes swapSignatureHalves(const bytes& signature)
{
    bytes swapped = signature;
    if (swapped.size() % 2 == 0) {
        std::rotate(swapped.begin(), swapped.begin() + static_cast<std::ptrdiff_t>(swapped.size() / 2),
                    swapped.end());
    }
    return swapped;
}

} // namespace gost
