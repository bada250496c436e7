// CMS SignedData parsing and re-encoding on arbitrary bytes. Only the
// library's own error classes may escape the parser.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "asn1/errors.h"
#include "pkcs7/errors.h"
#include "pkcs7/pkcs7.h"
#include "x509/errors.h"

namespace
{

template <class F> void tolerate(F&& f)
{
    try {
        f();
    } catch (const ParseCmsContainerError&) {
    } catch (const IncorrectPKCS9Attribute&) {
    } catch (const Asn1DecodingError&) {
    } catch (const UnknownAlgorithm&) {
    } catch (const UnsupportedAlgorithm&) {
    } catch (const pkcs9::NoAttribute&) {
    } catch (const pkcs9::SingleValuedException&) {
    } catch (const X509ParseError&) { // a matched certificate that is not one
    } catch (const std::out_of_range&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes input(data, data + size);
    for (auto format : {pkcs7::Format::SerialOnly, pkcs7::Format::SerialWithIssuer}) {
        tolerate([&] {
            Pkcs7 cms(input, format);
            (void)cms.contentType();
            tolerate([&] { (void)cms.content(); });
            for (const SignerInfo& signer : cms.signerInfos()) {
                (void)signer.signature(pkcs7::Format::FromCertificate);
                tolerate([&] { (void)signer.digest(); });
                tolerate([&] { (void)signer.derEncoding(format); });
            }
            tolerate([&] { (void)cms.derEncoding(true); });
            // Co-signing: the earlier signers come back as they were read.
            Pkcs7 grown = cms;
            grown.addSignerInfo(cms.signerInfos().front());
            tolerate([&] {
                const Pkcs7 again(grown.derEncoding(false), format);
                if (again.signerInfos().size() < cms.signerInfos().size())
                    std::abort();
            });
            cms.setContent(input);
            tolerate([&] { (void)Pkcs7(cms.derEncoding(false), format).content(); });
        });
    }
    tolerate([&] { (void)pkcs9::contentReference({input}, false); });
    return 0;
}
