#include "cryptoprovider/core/cms_assembly.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>

#include "asn1/asn1_time.h"
#include "asn1/der.h"
#include "asn1/tlv.h"
#include "base/conv.h"
#include "base/logger.h"
#include "base/strings.h"
#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/core/key_store.h"
#include "icrypto/endian.h"
#include "pkcs7/errors.h"

namespace
{

pkcs7::Format messageFormat(bool kalvaMode)
{
    return kalvaMode ? pkcs7::Format::SerialOnly : pkcs7::Format::SerialWithIssuer;
}

// The whole text (blanks around it aside) must be decimal digits: a sign or
// trailing characters would otherwise be read as some other number.
std::uint64_t parseUnsigned(const std::string& text)
{
    const std::string trimmed = bs::trim(text);
    if (trimmed.empty() ||
        !std::all_of(trimmed.begin(), trimmed.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        throw std::invalid_argument("stoull");
    }
    return std::stoull(trimmed, nullptr, 10);
}

bytes encodeValue(const Pkcs9Attribute& attribute)
{
    switch (attribute.tag) {
    case 1:
        return der::encode(der::Boolean(conv::str_to_bool(attribute.value)));
    case 2:
        return der::encode(parseUnsigned(attribute.value));
    case 4:
        return der::encode(conv::hex_to_bytes(attribute.value));
    case 5:
        return der::encode();
    case 6:
        return der::encode(ObjectIdentifier(attribute.value));
    case 12:
    case 18:
    case 19:
    case 20:
    case 21:
    case 22:
    case 26:
        return der::encodeString(static_cast<Asn1Tag>(attribute.tag), attribute.value);
    case 23:
    case 24: {
        const Asn1Time time{std::string_view(attribute.value)};
        // An empty text makes an empty time, which has no valid encoding.
        return time.empty() ? bytes() : time.derEncoding();
    }
    default:
        throw IncorrectPKCS9Attribute();
    }
}

// Header octets of a DER element: the tag and the definite length.
bytes elementHeader(std::uint8_t tag, std::size_t length)
{
    bytes header{tag};
    const bytes lengthOctets = Tlv::encodeLength(length);
    header.insert(header.end(), lengthOctets.begin(), lengthOctets.end());
    return header;
}

// Where one element of a DER encoding lies: its offset, tag, header and total size.
struct Element {
    std::size_t offset;
    std::uint8_t tag;
    std::size_t headerSize;
    std::size_t size;

    std::size_t end() const { return offset + size; }
    std::size_t valueOffset() const { return offset + headerSize; }
};

Element elementAt(const bytes& der, std::size_t offset, std::uint8_t tag)
{
    if (offset >= der.size()) {
        throw std::invalid_argument("message ends early");
    }
    const Tlv tlv(der.data() + offset, der.size() - offset);
    if (tlv.tag() != tag) {
        throw std::invalid_argument("unexpected element in the message");
    }
    return {offset, tlv.tag(), tlv.encodedSize() - tlv.valueRef().size(), tlv.encodedSize()};
}

void append(bytes& out, const bytes& part)
{
    out.insert(out.end(), part.begin(), part.end());
}

void append(bytes& out, const bytes& from, std::size_t begin, std::size_t end)
{
    out.insert(out.end(), from.begin() + static_cast<std::ptrdiff_t>(begin),
               from.begin() + static_cast<std::ptrdiff_t>(end));
}

// An attached message in three parts: every octet before the content
// (`prefix`), the content, and the detached message's octets from
// `suffixBegin` to its end.
struct AttachedLayout {
    bytes prefix;
    std::size_t suffixBegin;
};

AttachedLayout attachedLayout(const bytes& detachedMessage, std::size_t contentSize)
{
    // ContentInfo { contentType, [0] SignedData { version, digestAlgorithms,
    // encapContentInfo { eContentType }, the rest } }: the encapsulated
    // content info gets [0] OCTET STRING content and every enclosing length grows.
    const bytes& der = detachedMessage;
    const Element contentInfo = elementAt(der, 0, 0x30);
    const Element contentType = elementAt(der, contentInfo.valueOffset(), 0x06);
    const Element explicitSignedData = elementAt(der, contentType.end(), 0xA0);
    const Element signedData = elementAt(der, explicitSignedData.valueOffset(), 0x30);
    const Element version = elementAt(der, signedData.valueOffset(), 0x02);
    const Element digestAlgorithms = elementAt(der, version.end(), 0x31);
    const Element encap = elementAt(der, digestAlgorithms.end(), 0x30);
    const Element eContentType = elementAt(der, encap.valueOffset(), 0x06);
    if (contentInfo.end() != der.size() || explicitSignedData.end() != contentInfo.end() ||
        signedData.end() != explicitSignedData.end() || eContentType.end() != encap.end()) {
        throw std::invalid_argument("not a new message without content");
    }

    const bytes octetHeader = elementHeader(0x04, contentSize);
    const std::size_t explicitContentSize = octetHeader.size() + contentSize;
    const bytes explicitContentHeader = elementHeader(0xA0, explicitContentSize);
    const std::size_t encapValueSize = eContentType.size + explicitContentHeader.size() + explicitContentSize;
    const bytes encapHeader = elementHeader(0x30, encapValueSize);
    const std::size_t signedDataValueSize =
        signedData.size - signedData.headerSize - encap.size + encapHeader.size() + encapValueSize;
    const bytes signedDataHeader = elementHeader(0x30, signedDataValueSize);
    const std::size_t explicitValueSize = signedDataHeader.size() + signedDataValueSize;
    const bytes explicitHeader = elementHeader(0xA0, explicitValueSize);
    const std::size_t contentInfoValueSize = contentType.size + explicitHeader.size() + explicitValueSize;
    const bytes contentInfoHeader = elementHeader(0x30, contentInfoValueSize);

    AttachedLayout layout{{}, encap.end()};
    append(layout.prefix, contentInfoHeader);
    append(layout.prefix, der, contentType.offset, contentType.end());
    append(layout.prefix, explicitHeader);
    append(layout.prefix, signedDataHeader);
    append(layout.prefix, der, version.offset, encap.offset);
    append(layout.prefix, encapHeader);
    append(layout.prefix, der, eContentType.offset, eContentType.end());
    append(layout.prefix, explicitContentHeader);
    append(layout.prefix, octetHeader);
    return layout;
}

// The attached message with `size` content octets appended by `writeContent`.
bytes attachContent(const bytes& detachedMessage, std::size_t contentSize,
                    const std::function<void(bytes& out)>& writeContent)
{
    const AttachedLayout layout = attachedLayout(detachedMessage, contentSize);
    bytes out;
    out.reserve(layout.prefix.size() + contentSize + detachedMessage.size() - layout.suffixBegin);
    append(out, layout.prefix);
    writeContent(out);
    append(out, detachedMessage, layout.suffixBegin, detachedMessage.size());
    return out;
}

// Room kept before a captured content for the octets that precede it in the
// message: the headers and the digest algorithms (a few dozen octets).
constexpr std::size_t CAPTURE_HEADROOM = 512;

// The item's content, read through `source` when it has one.
bool contentEquals(const DataForSign& item, const ContentSource* source, const bytes& other)
{
    return source != nullptr ? source->equals(other) : item.data == other;
}

} // namespace

bytes withAttachedContent(const bytes& detachedMessage, const bytes& content)
{
    return attachContent(detachedMessage, content.size(), [&](bytes& out) { append(out, content); });
}

bytes withAttachedContent(const bytes& detachedMessage, ContentCapture& content)
{
    bytes& buffer = content.buffer();
    const std::size_t headroom = content.headroom();
    const std::size_t contentSize = buffer.size() - headroom;
    const AttachedLayout layout = attachedLayout(detachedMessage, contentSize);
    const std::size_t prefixSize = layout.prefix.size();
    // The prefix goes just before the content and the unused room is cut off
    // (one move of the content within the buffer, no second read).
    if (prefixSize <= headroom) {
        std::copy(layout.prefix.begin(), layout.prefix.end(),
                  buffer.begin() + static_cast<std::ptrdiff_t>(headroom - prefixSize));
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(headroom - prefixSize));
    } else {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(headroom));
        buffer.insert(buffer.begin(), layout.prefix.begin(), layout.prefix.end());
    }
    append(buffer, detachedMessage, layout.suffixBegin, detachedMessage.size());
    return std::move(buffer);
}

const ContentSource& AttachedContents::capture(std::size_t index, const ContentSource& source)
{
    auto& slot = m_captures[index];
    if (!slot) {
        slot = std::make_unique<ContentCapture>(source, CAPTURE_HEADROOM);
    }
    return slot->source();
}

ContentCapture* AttachedContents::find(std::size_t index) const
{
    const auto found = m_captures.find(index);
    return found != m_captures.end() ? found->second.get() : nullptr;
}

AlgorithmId signerDigestAlgorithm(const AlgorithmId& keyDigest, const pkcs9::Attributes& attributes)
{
    if (!keyDigest.isSha()) {
        return keyDigest;
    }
    return getShaAlgorithmByDigest(
        der::getOctetString(attributes.getSingleValue(pkcs9::oid::MESSAGE_DIGEST)));
}

pkcs9::Attributes parseSignedAttributes(const std::vector<Pkcs9Attribute>& attributes)
{
    pkcs9::Attributes parsed;
    for (const Pkcs9Attribute& attribute : attributes) {
        const ObjectIdentifier oid(attribute.oid);
        // These two are always made here; an identifier that does not encode
        // is rejected now rather than when the attributes are signed.
        if (oid.empty() || oid == pkcs9::oid::CONTENT_TYPE || oid == pkcs9::oid::MESSAGE_DIGEST ||
            oid.derEncoding().empty()) {
            throw IncorrectPKCS9Attribute();
        }
        const bytes value = encodeValue(attribute);
        if (value.empty()) {
            // An empty identifier or time text.
            throw IncorrectPKCS9Attribute();
        }
        parsed.insert(oid, value);
    }
    return parsed;
}

std::vector<pkcs9::Attributes>
generateSignedAttributes(const std::shared_ptr<KeyStore>& store, const std::vector<DataForSign>& items,
                         const X509& certificate, const AlgorithmId& digestAlgorithm, const bytes& signerId,
                         bool kalvaMode, AttachedContents& attached)
{
    bs::Logger log("generateSignedAttributes");
    if (!store) {
        KeyStoreNotSelected error;
        log.error(error.what());
        throw error;
    }
    bytes certHash;
    if (!certificate.empty()) {
        certHash = store->digest(certificate.data(), getDigestAlgorithm(certificate.algorithm()), Endian::Big,
                                 gost3411::CRYPTOPRO_PARAM_SET.text());
    }
    const std::string paramSet = gost3411::paramSet(kalvaMode);
    std::vector<pkcs9::Attributes> result;
    result.reserve(items.size());
    for (std::size_t index = 0; index < items.size(); ++index) {
        const DataForSign& item = items[index];
        // Content from a source that ends up in a message, or is compared
        // with one, is read once through a capture: the digest is taken over
        // the very bytes the message holds.
        const ContentSource* source = item.source.get();
        if (source != nullptr && item.attached && item.computeDigest) {
            source = &attached.capture(index, *source);
        }
        if (!item.existingCms.empty() && item.attached &&
            !contentEquals(item, source, Pkcs7(item.existingCms, messageFormat(kalvaMode)).content())) {
            const auto error = bs::standardError<std::invalid_argument>(cp::localization, "CP-011003");
            log.error(error.what());
            throw error;
        }
        // A key with a SHA digest may be asked for another SHA digest.
        const AlgorithmId& algorithm = digestAlgorithm.isSha() && !item.shaDigestAlgorithm.empty()
                                           ? item.shaDigestAlgorithm
                                           : digestAlgorithm;
        // The content itself is never copied here: it may be large.
        bytes digest;
        if (!item.computeDigest) {
            digest = item.source ? item.source->materialise() : item.data;
        } else if (source != nullptr) {
            digest = store->digest(*source, algorithm, Endian(kalvaMode), paramSet);
        } else {
            digest = store->digest(item.data, algorithm, Endian(kalvaMode), paramSet);
        }
        const pkcs9::Attributes extra = parseSignedAttributes(item.signedAttributes);
        const pkcs9::EssCertIdV2 essCertId = item.addSigningCertificate && !certHash.empty()
                                                 ? pkcs9::signingCertificateV2(certificate, certHash)
                                                 : pkcs9::EssCertIdV2();
        bytes contentId;
        std::set<bytes> references;
        if (item.addContentReference) {
            contentId = pkcs9::contentIdentifier(signerId);
            references = pkcs9::contentReference(item.contentReferences, kalvaMode);
        }
        result.push_back(pkcs9::generateSignedAttributes(digest, extra, item.addSigningTime, essCertId,
                                                         contentId, references));
    }
    return result;
}

std::vector<bytes> formCms(const std::vector<Pkcs7>& signedMessages, const std::vector<DataForSign>& items,
                           bool kalvaMode, const AttachedContents& attached)
{
    std::vector<bytes> result;
    result.reserve(signedMessages.size());
    for (std::size_t i = 0; i < signedMessages.size(); ++i) {
        const DataForSign& item = items.at(i);
        const Pkcs7& message = signedMessages[i];
        if (message.signerInfos().empty()) {
            throw bs::standardError<std::invalid_argument>(cp::localization, "CP-011001");
        }
        if (!item.existingCms.empty()) {
            Pkcs7 old(item.existingCms, messageFormat(kalvaMode));
            old.addSignerInfo(message.signerInfos().front());
            result.push_back(old.derEncoding(item.withCertificates));
            continue;
        }
        if (item.computeDigest && item.attached) {
            // The content goes straight into the output, not through copies
            // in each enclosing element.
            const bytes detached = message.derEncoding(item.withCertificates);
            if (!item.source) {
                result.push_back(withAttachedContent(detached, item.data));
            } else if (ContentCapture* captured = attached.find(i)) {
                result.push_back(withAttachedContent(detached, *captured));
            } else {
                throw std::logic_error("attached content not captured while its digest was taken");
            }
            continue;
        }
        result.push_back(message.derEncoding(item.withCertificates));
    }
    return result;
}
