#include "jni/verify_route.h"

#include <exception>
#include <stdexcept>

#include "asn1/tlv.h"
#include "jni/errors.h"

namespace jni
{

namespace
{
// DER of the OBJECT IDENTIFIER 1.2.840.113549.1.7.2 (signedData).
const bytes SIGNED_DATA_OID_DER = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
} // namespace

bool isCms(const bytes& signature)
{
    try {
        if (signature.size() >= 2 && signature[0] == asn1tag::SEQUENCE && signature[1] == 0x80) {
            // A streamed message (BER, indefinite length): its first child
            // follows the two header octets.
            return Tlv(signature.data() + 2, signature.size() - 2).data() == SIGNED_DATA_OID_DER;
        }
        const Tlv outer(signature);
        if (outer.tag() != asn1tag::SEQUENCE) {
            return false;
        }
        const Tlv first(outer.valueRef());
        return first.data() == SIGNED_DATA_OID_DER;
    } catch (const std::exception&) {
        return false;
    }
}

VerifyRoute verifyRoute(const bytes& signature, const bytes& data)
{
    if (!isCms(signature)) {
        return VerifyRoute::Raw;
    }
    return data.empty() ? VerifyRoute::Attached : VerifyRoute::Detached;
}

bool verifySign(ICryptoProvider& provider, bool kalvaMode, const std::string& cryptoType,
                const bytes& signature, const bytes& data, const bytes& publicKey,
                const std::string& signAlgorithmOid, const std::string& algParamsOid)
{
    if (signature.empty() || cryptoType.empty()) {
        throw bs::standardError<std::invalid_argument>(ormid_signer::localization, "BS-006004");
    }
    const PublicKey key(publicKey);
    switch (verifyRoute(signature, data)) {
    case VerifyRoute::Attached:
        return provider.verifyAttachedSign(signature, cryptoType, kalvaMode, key, algParamsOid);
    case VerifyRoute::Detached:
        return provider.verifyDetachedSign(data, signature, cryptoType, kalvaMode, key, algParamsOid);
    case VerifyRoute::Raw:
        break;
    }
    return provider.verifyRawSign(data, signature, key, signAlgorithmOid, algParamsOid, cryptoType,
                                  kalvaMode);
}

} // namespace jni
