// PKCS#10 requests (DER or PEM) on arbitrary bytes, and the certificate body
// built from a request that parses.
#include <cstdint>
#include <stdexcept>

#include "asn1/errors.h"
#include "x509/cert_builder.h"
#include "x509/errors.h"
#include "x509/pkcs10.h"

namespace
{

template <class F> void tolerate(F&& f)
{
    try {
        f();
    } catch (const ParsePkcs10Error&) {
    } catch (const Asn1DecodingError&) {
    } catch (const UnknownAlgorithm&) {
    } catch (const UnsupportedAlgorithm&) {
    } catch (const UnknownPublicKeyType&) {
    } catch (const std::invalid_argument&) { // not PEM, bad Base64, bad key usage bits
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    bytes input(data, data + size);
    if (pkcs10::isPemFormat(input))
        tolerate([&] { input = pkcs10::pem_to_der(input); });
    tolerate([&] {
        const Pkcs10 request(input);
        (void)request.derEncoding();
        tolerate([&] { (void)request.subject(); });
        tolerate([&] { (void)request.publicKeyInfo().derEncoding(); });
        tolerate([&] { (void)der::encode(request.extensions()); });
        const ValidityPeriod validity{Asn1Time(std::string_view("250101000000Z")),
                                      Asn1Time(std::string_view("20500101000000Z"))};
        const TbsCertificate tbs(bytes{0x01}, input, validity);
        (void)tbs.derEncoding();
        (void)tbs.getSubjectKeyIdentyfier();
    });
    return 0;
}
