// Feeds arbitrary bytes to every decoder of the base services and checks the
// round trips that must hold for whatever they accept.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/conv.h"
#include "base/date.h"
#include "base/encoding.h"
#include "base/strings.h"

namespace
{

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    try {
        const auto bytes = conv::base64_to_binary(text);
        check(conv::base64_to_binary(conv::binary_to_base64(bytes)) == bytes);
    } catch (const std::invalid_argument&) {
    }
    try {
        const auto bytes = conv::base64UrlSafe_to_binary(text);
        check(conv::base64UrlSafe_to_binary(conv::binary_to_base64UrlSafe(bytes)) == bytes);
    } catch (const std::invalid_argument&) {
    }
    try {
        const auto bytes = conv::hex_to_bytes(text);
        check(conv::hex_to_bytes(conv::bytes_to_hex(bytes)) == bytes);
    } catch (const std::invalid_argument&) {
    }

    const std::wstring wide = encoding::utf8_to_utf16(text);
    check(encoding::utf8_to_utf16(encoding::utf16_to_utf8(wide)) == wide);
    (void)encoding::isValidUTF8(text);
    const std::wstring fromCp1251 = encoding::cp1251_to_utf16(text);
    check(encoding::utf16_to_cp1251(fromCp1251) == text);
    (void)encoding::cp866_to_utf8(text);

    (void)bs::splitVector(text, '.', true, true);
    (void)bs::splitMap(text, '=', true);
    try {
        const Date date = Date::fromDump(text);
        check(Date::fromDump(date.dump()) == date);
    } catch (const std::runtime_error&) {
    }
    return 0;
}
