// SigningCertificateV2 and SigningCertificate values on arbitrary bytes.
#include <cstdint>
#include <cstdlib>

#include "asn1/errors.h"
#include "pkcs7/attributes.h"
#include "pkcs7/errors.h"
#include "x509/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        // The older form always hashes with SHA-1.
        if (pkcs9::essCertIdV1(bytes(data, data + size)).hashAlgorithm != SHA_1)
            std::abort();
    } catch (const IncorrectPKCS9Attribute&) {
    } catch (const Asn1DecodingError&) {
    }
    try {
        const pkcs9::EssCertIdV2 ess(bytes(data, data + size));
        const pkcs9::EssCertIdV2 again(ess.derEncoding());
        if (again.certHash != ess.certHash || again.hashAlgorithm != ess.hashAlgorithm ||
            again.issuerSerial != ess.issuerSerial)
            std::abort();
    } catch (const IncorrectPKCS9Attribute&) {
    } catch (const Asn1DecodingError&) {
    } catch (const UnknownAlgorithm&) {
    } catch (const UnsupportedAlgorithm&) {
    }
    return 0;
}
