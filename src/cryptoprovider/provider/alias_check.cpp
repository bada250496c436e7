#include "cryptoprovider/provider/alias_check.h"

#include <array>
#include <string>

#include "base/encoding.h"
#include "base/log_and_throw.h"
#include "base/logger.h"
#include "cryptoprovider/core/errors.h"

namespace provider
{

namespace
{

// clang-format off
constexpr std::array<unsigned char, 72> FORBIDDEN_ALIAS_BYTES = {
    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
    0x0B, 0x0C,
    0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x7F, 0x80, 0x85, 0x86, 0x87, 0x89, 0x8A, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x99, 0x9A,
    0x9C, 0x9D, 0x9E, 0x9F, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
    0xA9,
    0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7,
    0xBC, 0xBD, 0xBE, 0xBF,
};
// clang-format on

} // namespace

void checkAliasSymbols(std::string_view alias)
{
    bs::Logger log("CryptoProviderRU::checkNewAlias");
    if (alias.empty()) {
        bs::logAndThrow(log, EmptyKeyAlias());
    }
    if (!encoding::isValidUTF8(alias)) {
        bs::logAndThrow(log, InvalidKeyAlias());
    }
    const std::string windows1251 = encoding::utf8_to_cp1251(alias);
    for (const unsigned char forbidden : FORBIDDEN_ALIAS_BYTES) {
        if (windows1251.find(static_cast<char>(forbidden)) != std::string::npos) {
            bs::logAndThrow(
                log, InvalidKeyAlias(encoding::cp1251_to_utf8(std::string(1, static_cast<char>(forbidden)))));
        }
    }
}

} // namespace provider
