// Which verification a signature handed to Session.verifySign gets.
#pragma once

#include <string>

#include "asn1/bytes.h"
#include "cryptoprovider/provider/crypto_provider.h"

namespace jni
{

enum class VerifyRoute {
    Attached, // a CMS message that carries its content
    Detached, // a CMS message checked against the data given with it
    Raw,      // a bare signature value
};

// A CMS message is one DER SEQUENCE whose first element is the OID
// 1.2.840.113549.1.7.2 (signedData); anything that does not parse as such is
// a raw signature. A CMS message with empty data is verified as attached.
bool isCms(const bytes& signature);
VerifyRoute verifyRoute(const bytes& signature, const bytes& data);

// Session.verifySign: std::invalid_argument "BS-006004" for an empty
// signature or crypto type; otherwise the provider's verification of the
// route the signature takes (`signAlgorithmOid` serves raw signatures only).
// True when the signature verifies.
bool verifySign(ICryptoProvider& provider, bool kalvaMode, const std::string& cryptoType,
                const bytes& signature, const bytes& data, const bytes& publicKey,
                const std::string& signAlgorithmOid, const std::string& algParamsOid);

} // namespace jni
