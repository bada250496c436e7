// Assembly of CMS signatures from sign requests: the caller's signed
// attributes, the complete CAdES-BES signed attributes of each item, and the
// final SignedData messages.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "asn1/bytes.h"
#include "cryptoprovider/core/entities.h"
#include "pkcs7/attributes.h"
#include "pkcs7/pkcs7.h"
#include "x509/algorithms.h"
#include "x509/x509.h"

class KeyStore;

namespace conv
{
// true exactly for "true" after trimming, in any case.
bool str_to_bool(std::string_view text);
} // namespace conv

// The caller's attributes encoded by their universal tag; values of one OID
// are merged into one attribute. IncorrectPKCS9Attribute for contentType,
// messageDigest, an empty OID or value encoding, or an unsupported tag.
pkcs9::Attributes parseSignedAttributes(const std::vector<Pkcs9Attribute>& attributes);

// One attribute set per item, in order: content type, the item's message
// digest (made with the store's digest engine unless the item is a ready
// digest), the caller's attributes and the optional signing time,
// signing-certificate, content identifier and content references.
// `signerId` is the certificate serial, or the key's external id without a
// certificate.
std::vector<pkcs9::Attributes> generateSignedAttributes(const std::shared_ptr<KeyStore>& store,
                                                        const std::vector<DataForSign>& items,
                                                        const X509& certificate,
                                                        const AlgorithmId& digestAlgorithm,
                                                        const bytes& signerId, bool kalvaMode);

// The DER of `detachedMessage` (a new message of ours, without content) with
// `content` put in as its encapsulated data: the same octets as the message
// with the content set and encoded again, written with one copy of the
// content. std::invalid_argument when the message is not of that form.
bytes withAttachedContent(const bytes& detachedMessage, const bytes& content);
// The same with the content read from `content` piece by piece straight into
// its place; whatever the source throws reaches the caller.
bytes withAttachedContent(const bytes& detachedMessage, const ContentSource& content);

// One DER message per signed value: a new message (attached when the item
// asks for it and its data is content, not a digest) or the item's existing
// message with the new signer added.
std::vector<bytes> formCms(const std::vector<Pkcs7>& signedMessages, const std::vector<DataForSign>& items,
                           bool kalvaMode);
