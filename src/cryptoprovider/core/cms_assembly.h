// Assembly of CMS signatures from sign requests: the caller's signed
// attributes, the complete CAdES-BES signed attributes of each item, and the
// final SignedData messages.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "asn1/bytes.h"
#include "cryptoprovider/core/entities.h"
#include "pkcs7/attributes.h"
#include "pkcs7/pkcs7.h"
#include "x509/algorithms.h"
#include "x509/x509.h"

class KeyStore;

// The digest algorithm a signer of `attributes` names and signs them under,
// for a key whose digest algorithm is `keyDigest`: that one, except that a
// key with a SHA digest takes the SHA the length of the message-digest value
// names (an item may have asked for another SHA than the key's).
// UnknownAlgorithm for a length of no SHA, pkcs9::NoAttribute without the
// value.
AlgorithmId signerDigestAlgorithm(const AlgorithmId& keyDigest, const pkcs9::Attributes& attributes);

// The caller's attributes encoded by their universal tag; values of one OID
// are merged into one attribute. IncorrectPKCS9Attribute for contentType,
// messageDigest, an empty OID or value encoding, or an unsupported tag.
pkcs9::Attributes parseSignedAttributes(const std::vector<Pkcs9Attribute>& attributes);

// Contents of attached messages read from their sources (ContentCapture)
// while their digests are taken, kept for the messages: one per item of a
// sign request that has a source, asks for an attached message and for a
// digest of its content. Filled by generateSignedAttributes, used by formCms.
class AttachedContents
{
  public:
    AttachedContents() = default;
    AttachedContents(const AttachedContents&) = delete;
    AttachedContents& operator=(const AttachedContents&) = delete;

    // The source to read item `index` through (made on the first call).
    const ContentSource& capture(std::size_t index, const ContentSource& source);
    // The capture of item `index`, or nullptr.
    ContentCapture* find(std::size_t index) const;

  private:
    std::map<std::size_t, std::unique_ptr<ContentCapture>> m_captures;
};

// One attribute set per item, in order: content type, the item's message
// digest (made with the store's digest engine unless the item is a ready
// digest), the caller's attributes and the optional signing time,
// signing-certificate, content identifier and content references.
// `signerId` is the certificate serial, or the key's external id without a
// certificate. The content of an item with a source that gets an attached
// message is read once, into `attached`, which formCms then takes it from.
std::vector<pkcs9::Attributes>
generateSignedAttributes(const std::shared_ptr<KeyStore>& store, const std::vector<DataForSign>& items,
                         const X509& certificate, const AlgorithmId& digestAlgorithm, const bytes& signerId,
                         bool kalvaMode, AttachedContents& attached);

// The DER of `detachedMessage` (a new message of ours, without content) with
// `content` put in as its encapsulated data: the same octets as the message
// with the content set and encoded again, written with one copy of the
// content. std::invalid_argument when the message is not of that form.
bytes withAttachedContent(const bytes& detachedMessage, const bytes& content);
// The same built in the capture's buffer, around the content already in
// place (what no digest read is read now; whatever the source throws reaches
// the caller). The buffer is taken: call it once per capture.
bytes withAttachedContent(const bytes& detachedMessage, ContentCapture& content);

// One DER message per signed value: a new message (attached when the item
// asks for it and its data is content, not a digest) or the item's existing
// message with the new signer added. An attached message of an item with a
// source is built around the content captured in `attached` (given to
// generateSignedAttributes for the same items), each capture used once.
std::vector<bytes> formCms(const std::vector<Pkcs7>& signedMessages, const std::vector<DataForSign>& items,
                           bool kalvaMode, const AttachedContents& attached);
