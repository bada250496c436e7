// Records that carry a request or a result between the Java interface, the
// provider and the key stores.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "asn1/bytes.h"
#include "cryptoprovider/core/content_source.h"
#include "cryptoprovider/core/crypto_types.h"
#include "x509/algorithms.h"

// Certificate category: the PKCS#11 certificate categories, plus the
// revocation lists a key store can import.
enum CertType : std::uint32_t {
    CERT_UNSPECIFIED = 0,
    CERT_USER = 1, // the user's own certificates
    CERT_AUTHORITY = 2,
    CERT_OTHER_ENTITY = 3,
    CERT_CRL = 4, // a certificate revocation list
};

// One key of a key store as the caller sees it.
struct KeyInfo {
    std::string alias;
    std::uint16_t systemId = 0;
    std::uint64_t externalId = 0;
    std::string signAlgorithmOid;
    std::string algParamsOid;
    std::string digestAlgorithmOid;
    std::string signAlgorithmName;
    std::string algParamsName;
    std::string digestAlgorithmName;
    std::string cryptoType;
    std::string cryptoName;
    bool loginRequired = false;
    bool hasPassword = false;
    // Key length for a new RSA key; never carried to or from Java.
    std::uint16_t rsaKeyBits = 0;
};

// The selected key store.
struct KeyStoreInfo {
    std::int32_t type = 0; // KeyStoreType
    std::string id;
    std::string cryptoType;
    std::string cryptoName;
    std::string chipType;
    std::string shortName;
    bool adminPinLocked = false;
    bool userPinLocked = false;
    bool loginRequired = false;
    bool userPinChanged = false;
};

// A signed attribute given by the caller.
struct Pkcs9Attribute {
    std::string oid;      // dotted text
    std::uint8_t tag = 0; // ASN.1 universal tag number of the value (12: UTF8String)
    std::string value;
};

// One item to sign as CMS.
struct DataForSign {
    bytes data;
    // The content read in pieces instead of `data` (which is then empty): a
    // large document is never copied whole. Read only on the signing thread,
    // during the call.
    std::shared_ptr<const ContentSource> source;
    bool attached = false;
    // true: data is the content and is digested; false: data already is the digest.
    bool computeDigest = true;
    // Write the signer certificates into the message.
    bool withCertificates = false;
    // A message to which the new signature is added; empty: a new message.
    bytes existingCms;
    std::vector<Pkcs9Attribute> signedAttributes;
    bool addSigningTime = false;
    bool addSigningCertificate = false;
    bool addContentReference = false;
    std::vector<bytes> contentReferences;
    // Digest used instead of the key's when the key's digest is a SHA algorithm (RSA keys).
    AlgorithmId shaDigestAlgorithm;
};
