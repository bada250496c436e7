// Container and primitive decoders: readVector, getSequense, getSet and the
// INTEGER / OCTET STRING / BIT STRING readers.
#include <cstdint>
#include <cstdlib>

#include "asn1/der.h"
#include "asn1/errors.h"

namespace
{

template <class F> void tolerate(F&& f)
{
    try {
        f();
    } catch (const Asn1DecodingError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const bool allowEmpty = (data[0] & 1) != 0;
    const bytes input(data + 1, data + size);

    tolerate([&] {
        const auto children = der::readVector(input, allowEmpty);
        // Children re-joined in a SEQUENCE split back into the same children.
        if (!children.empty() && der::getSequense(der::encode(children)) != children) {
            std::abort();
        }
    });
    tolerate([&] { der::getSequense(input, allowEmpty); });
    tolerate([&] {
        const auto children = der::getSet(input);
        if (der::getSet(der::encode(children)) != children) {
            std::abort();
        }
    });
    tolerate([&] { der::getBinaryInt(input); });
    tolerate([&] { der::getOctetString(input); });
    tolerate([&] {
        const bytes bits = der::getBitString(input);
        if (der::getBitString(der::encode(bits, 0)) != bits) {
            std::abort();
        }
    });
    return 0;
}
