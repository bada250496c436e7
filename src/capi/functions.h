// What the library asks of a CSP beyond single handles: its version, the
// readers and containers it sees, installing a certificate for a container,
// algorithm numbers, public-key blobs and signature verification.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"
#include "capi/capi_types.h"
#include "capi/handles.h"
#include "x509/algorithms.h"
#include "x509/public_key.h"

namespace capi
{

// PP_VERSION of a verify-only context of `provType` as text: each byte, from
// the first to the last, put in front of the text so far ("." between); a
// zero byte is skipped once the text is not empty (00 05 00 00 -> "5.0").
std::string version(PROV_TYPE provType);
// The text version() makes of PP_VERSION bytes.
std::string versionText(const bytes& value);

// The readers the CSP sees (PP_ENUMREADERS of a verify-only context of type
// 75), UTF-8, in the CSP's order.
std::vector<std::string> availableReaders();

// The container names of each provider type in turn (PP_ENUMCONTAINERS of a
// verify-only context, `flags` added, e.g. CRYPT_FQCN), UTF-8, each name
// once. The enumeration of a type ends at its first failure (a type the CSP
// does not know gives no names); the CSP not loadable throws as
// Wrapper::instance().
std::vector<std::string> availableContainers(const std::vector<PROV_TYPE>& provTypes, unsigned int flags);

// Puts `certificate` (DER) into the current user's store "MY", bound to the
// key `keySpec` of `container` (UTF-8) through its key-provider property.
void installCertificateToSystemStore(PROV_TYPE provType, std::string_view container, unsigned long keySpec,
                                     const bytes& certificate);

// 24: RSA encryption; 2, 75: GOST R 34.10-2001/GOST R 34.11-94; 77, 80:
// GOST R 34.10-2012-256/GOST R 34.11-2012-256; 78, 81: the 512-bit pair.
// std::invalid_argument "CAPI-000022" for any other type.
AlgorithmId signAlgorithmByProvType(PROV_TYPE provType);
// The provider parameter that reports (and, before key generation, sets) the
// key parameter-set OID: 95 for types 75, 80, 81; 94 for 2, 77, 78;
// std::invalid_argument "CAPI-000022" otherwise.
unsigned int getOidParamByProviderType(PROV_TYPE provType);
// The provider type that handles a signature or public-key algorithm: 75 for
// the GOST R 34.10-2001 family, 80 and 81 for GOST R 34.10-2012-256/-512, 24
// for RSA; UnsupportedAlgorithm otherwise.
PROV_TYPE provTypeBySignAlgorithm(const AlgorithmId& signAlgorithm);

// The CSP number of a digest; UnsupportedAlgorithm (the algorithm's name)
// for one the CSP does not know.
ALG_ID getDigestAlgorithmId(const AlgorithmId& digest);
// The CSP number of a GOST or RSA key of a signature or public-key
// algorithm; UnsupportedAlgorithm otherwise.
ALG_ID getKeyAlgorithmId(const AlgorithmId& signAlgorithm);

// GOST public-key blob (capi_types.h): 06 20 00 00, the key's ALG_ID, "MAG1",
// twice the parameter set's bit size, DER of `paramsOid`, DER of the digest
// parameter set of `signAlgorithm`, then `publicKey` as given.
// std::invalid_argument "Public key is empty"; Gost3410ECParamsEmpty for an
// empty `paramsOid`; UnsupportedAlgorithm for a non-GOST algorithm.
bytes makePublicKeyBlob(const bytes& publicKey, const AlgorithmId& signAlgorithm, std::string_view paramsOid);
// RSA public-key blob (capi_types.h) of a signature key; the modulus's
// leading zero octets are not counted in its length. std::invalid_argument
// "Public key is empty"; std::invalid_argument when the exponent does not
// fit 32 bits.
bytes makeRsaPublicKeyBlob(const RsaPublicKey& key);

// Checks a GOST signature over `data` (hashed by the CSP with the digest of
// `signAlgorithm`) with `publicKey` (octets as a certificate carries them)
// of parameter set `paramsOid`. The signature is in the form CryptSignHashA
// returns (two halves, each little-endian). Returns when it holds; a wrong
// signature throws WrongSign, other refusals go through handleError.
// std::invalid_argument "Empty data" / "Public key is empty".
void verifySign(const bytes& data, const bytes& signature, const bytes& publicKey,
                const AlgorithmId& signAlgorithm, std::string_view paramsOid);
// The same for an RSA signature (little-endian, as the CSP makes it) with
// `digestAlgorithm`.
void verifyRsaSign(const bytes& data, const bytes& signature, const RsaPublicKey& publicKey,
                   const AlgorithmId& digestAlgorithm);
// Checks the first signer of an attached CMS message (its certificate taken
// from the message); failures through handleError.
void verifyMessageSignature(const bytes& cms);
// The same for a detached CMS message over `data`.
void verifyDetachedMessageSignature(const bytes& cms, const bytes& data);

} // namespace capi
