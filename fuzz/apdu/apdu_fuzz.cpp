// APDU commands read from hex text, responses and their status words, and
// the card command TLV, on arbitrary input.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "base/conv.h"
#include "cryptoprovider/pcsc/apdu.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<unsigned char> input(data, data + size);

    // The input as hex text of a command: a parsed command sends what it read.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const apdu::Command command(text);
        const std::vector<unsigned char> raw = conv::hex_to_bytes(text);
        if (raw.size() > 5 && raw[4] != 0 && command.getRequest() != raw) {
            std::abort();
        }
    } catch (const std::invalid_argument&) {
    }

    // The input as a card's answer, checked as the library checks answers.
    try {
        const apdu::Response response(input, true);
        if (response.getData().size() + 2 != size) {
            std::abort();
        }
        response.check();
        if (!apdu::isSuccess(response.getSw())) {
            std::abort();
        }
    } catch (const std::exception&) {
    }

    // The input as a TLV value: the length field says how long it is.
    if (size > 0 && size <= 0xFFFF) {
        const apdu::Tlv tlv(data[0], input);
        const std::vector<unsigned char> encoded = tlv.data();
        if (encoded.size() != 1 + tlv.dataLength().size() + size) {
            std::abort();
        }
        // And as a command body, sent in the short or the extended form.
        const apdu::Command command(0x00, 0x2A, 0x9E, 0x80, input, 0x80);
        const std::vector<unsigned char> request = command.getRequest();
        if (request.size() != 4 + (size < 256 ? 1 : 3) + size + (size < 256 ? 1 : 2)) {
            std::abort();
        }
    }
    return 0;
}
