// Signed-attribute blocks on arbitrary bytes; what parses re-encodes to a
// block that parses to the same map.
#include <cstdint>
#include <cstdlib>

#include "asn1/errors.h"
#include "asn1/tlv.h"
#include "pkcs7/attributes.h"
#include "pkcs7/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const pkcs9::Attributes attributes(bytes(data, data + size));
        const pkcs9::Attributes again(Tlv(attributes.derEncoding()).value());
        if (again.get() != attributes.get())
            std::abort();
        for (const auto& [oid, values] : attributes.get()) {
            try {
                (void)attributes.getSingleValue(oid);
            } catch (const pkcs9::SingleValuedException&) {
            }
        }
    } catch (const IncorrectPKCS9Attribute&) {
    } catch (const Asn1DecodingError&) {
    }
    return 0;
}
