// Token key records, the alias codec and key metadata containers on
// arbitrary bytes: what a token's label or data object may hold.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "base/errors.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/token_key_record.h"
#include "cryptoprovider/pkcs11/key_formats.h"
#include "x509/errors.h"

namespace
{

const TokenKeyRecord::ParamSets PARAM_SETS{
    {0x20, "1.2.643.2.2.35.1"},    {0x30, "1.2.643.2.2.35.2"},    {0x40, "1.2.643.2.2.35.3"},
    {0x50, "1.2.643.7.1.2.1.2.1"}, {0x60, "1.2.643.7.1.2.1.2.2"}, {0x70, "1.2.643.7.1.2.1.1.1"},
};

// Decoding undoes encoding for every text that holds no code byte.
void aliasRoundTrip(const std::string& input)
{
    std::string text;
    for (const char c : input) {
        if (decodeAlias(std::string(1, c)) == std::string(1, c))
            text.push_back(c);
    }
    if (decodeAlias(encodeAlias(text)) != text)
        std::abort();
}

void records(const bytes& data)
{
    try {
        const TokenKeyRecord record(1, data, PARAM_SETS, "rutoken_2", false);
        const TokenKeyRecord again(1, record.data(FORMAT_VERSION::V1), PARAM_SETS, "rutoken_2", false);
        if (again.systemId() != record.systemId() || again.externalId() != record.externalId() ||
            again.paramSetIndex() != record.paramSetIndex())
            std::abort();
    } catch (const std::invalid_argument&) {
    } catch (const UnsupportedAlgorithm&) {
    } catch (const UnknownAlgorithm&) {
    } catch (const EmptyKeyAlias&) {
    }
    try {
        const TokenKeyRecord record(data, PARAM_SETS, "ovt");
        (void)record.data(FORMAT_VERSION::V2);
    } catch (const std::invalid_argument&) {
    } catch (const UnsupportedAlgorithm&) {
    } catch (const UnknownAlgorithm&) {
    } catch (const EmptyKeyAlias&) {
    }
}

void containers(const bytes& data)
{
    const MetaInfoContainer fromBytes(data, true);
    if (fromBytes.data().size() < MetaInfoContainer::HEADER_SIZE)
        std::abort();
    (void)fromBytes.passHash();
    (void)fromBytes.payload();
    try {
        (void)fromBytes.cryptoType();
    } catch (const UnknownCryptoType&) {
    }
    const MetaInfoContainer fromText(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), true);
    if (MetaInfoContainer(fromText.base64(), false).data() != fromText.data())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes input(data, data + size);
    aliasRoundTrip(std::string(input.begin(), input.end()));
    records(input);
    containers(input);
    return 0;
}
