// SignerInfo parsing on arbitrary bytes; a parsed signer encodes back to
// its input and parses to the same signature, attributes and identifiers.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "asn1/errors.h"
#include "pkcs7/errors.h"
#include "pkcs7/pkcs7.h"
#include "x509/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes input(data, data + size);
    try {
        const SignerInfo signer(input, {}, pkcs7::Format::SerialWithIssuer);
        const SignerInfo again(signer.derEncoding(pkcs7::Format::SerialWithIssuer), {},
                               pkcs7::Format::SerialWithIssuer);
        if (again.signature(pkcs7::Format::SerialOnly) != signer.signature(pkcs7::Format::SerialOnly) ||
            again.attributes().get() != signer.attributes().get() || again.serial() != signer.serial() ||
            again.foreignAlgorithm() != signer.foreignAlgorithm() ||
            again.subjectKeyId() != signer.subjectKeyId())
            std::abort();
        // A parsed signer is written back as it came.
        if (signer.derEncoding(pkcs7::Format::SerialOnly) != input)
            std::abort();
        (void)signer.digest();
    } catch (const ParseCmsContainerError&) {
    } catch (const IncorrectPKCS9Attribute&) {
    } catch (const Asn1DecodingError&) {
    } catch (const UnknownAlgorithm&) {
    } catch (const UnsupportedAlgorithm&) {
    } catch (const pkcs9::SingleValuedException&) {
    }
    return 0;
}
