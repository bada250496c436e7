// der::parseString over every tag: BMPString, UTF-8 and the CP1251 fallback.
#include <cstdint>

#include "asn1/der.h"
#include "asn1/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes input(data, data + size);
    try {
        const std::string text = der::parseString(input);
        (void)text;
    } catch (const Asn1DecodingError&) {
    }
    return 0;
}
