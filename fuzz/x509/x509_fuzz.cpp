// Every X509 accessor on arbitrary bytes. Only the library's own error classes
// and the standard exceptions the accessors document may escape; serial(),
// subjectName() and issuerName() must never throw.
#include <cstdint>
#include <stdexcept>

#include "asn1/errors.h"
#include "x509/errors.h"
#include "x509/x509.h"

namespace
{

template <class F> void tolerate(F&& f)
{
    try {
        f();
    } catch (const Asn1DecodingError&) {
    } catch (const X509ParseError&) {
    } catch (const UnknownAlgorithm&) {
    } catch (const UnsupportedAlgorithm&) {
    } catch (const std::out_of_range&) {     // TBSCertificate too short
    } catch (const std::invalid_argument&) { // validity text of the wrong shape
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const X509 cert(bytes(data, data + size));
    (void)cert.serial();
    (void)cert.subjectName();
    (void)cert.issuerName();
    (void)cert.version();
    tolerate([&] { cert.certInfo(); });
    tolerate([&] { cert.tbsVersion(); });
    tolerate([&] { cert.algorithm(); });
    tolerate([&] { cert.issuer(); });
    tolerate([&] { cert.subject(); });
    tolerate([&] { cert.keyInfo(); });
    tolerate([&] { cert.signAlgorithm(); });
    tolerate([&] { cert.gost3410ParamsOid(); });
    tolerate([&] { cert.gost3410ParamsName(); });
    tolerate([&] { cert.publicKey(Endian::Little).derEncoding(); });
    tolerate([&] { cert.gostPublicKey(Endian::Big); });
    tolerate([&] { cert.rsaPublicKey(); });
    tolerate([&] {
        const ValidityPeriod period = cert.validityPeriod();
        (void)period.notBefore.calendareDate();
        (void)(period.notBefore < period.notAfter);
    });
    tolerate([&] { cert.signature(); });
    return 0;
}
