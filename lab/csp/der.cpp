#include "der.h"

#include "token_crypto.h"

namespace labcsp
{
namespace
{
constexpr std::size_t MAX_CERTIFICATE = 1u << 20;

Tlv expect(const Bytes& in, std::size_t at, std::size_t end, std::uint8_t tag)
{
    auto t = readTlv(in, at, end);
    if (!t || t->tag != tag)
        fail(CRYPT_E_ASN1_BADTAG);
    return *t;
}
} // namespace

std::optional<Tlv> readTlv(const Bytes& in, std::size_t at, std::size_t end)
{
    if (end > in.size() || at + 2 > end)
        return std::nullopt;
    Tlv t;
    t.tag = in[at];
    t.at = at;
    if ((t.tag & 0x1F) == 0x1F)
        return std::nullopt; // multi-octet tags are not used here
    std::size_t len = in[at + 1], header = 2;
    if (len & 0x80) {
        const std::size_t n = len & 0x7F;
        if (n == 0 || n > 4 || at + 2 + n > end)
            return std::nullopt;
        len = 0;
        for (std::size_t i = 0; i < n; ++i)
            len = len << 8 | in[at + 2 + i];
        header += n;
    }
    if (len > end - at - header)
        return std::nullopt;
    t.header = header;
    t.length = len;
    return t;
}

ParsedCertificate parseCertificate(const Bytes& der)
{
    ParsedCertificate out;
    Tlv cert = expect(der, 0, der.size(), 0x30);
    if (cert.end() != der.size())
        fail(CRYPT_E_ASN1_BADTAG);
    Tlv tbs = expect(der, cert.content(), cert.end(), 0x30);
    Tlv signatureAlgorithm = expect(der, tbs.end(), cert.end(), 0x30);
    Tlv signature = expect(der, signatureAlgorithm.end(), cert.end(), 0x03);
    if (signature.end() != cert.end())
        fail(CRYPT_E_ASN1_BADTAG);

    std::size_t at = tbs.content();
    auto first = readTlv(der, at, tbs.end());
    if (first && first->tag == 0xA0) {
        Tlv version = expect(der, first->content(), first->end(), 0x02);
        if (version.length != 1)
            fail(CRYPT_E_ASN1_BADTAG);
        out.version = der[version.content()];
        at = first->end();
    }
    Tlv serial = expect(der, at, tbs.end(), 0x02);
    out.serial.assign(der.begin() + serial.content(), der.begin() + serial.end());
    Tlv algorithm = expect(der, serial.end(), tbs.end(), 0x30);
    Tlv issuer = expect(der, algorithm.end(), tbs.end(), 0x30);
    Tlv validity = expect(der, issuer.end(), tbs.end(), 0x30);
    Tlv subject = expect(der, validity.end(), tbs.end(), 0x30);
    Tlv spki = expect(der, subject.end(), tbs.end(), 0x30);
    out.issuer = {issuer.at, issuer.end() - issuer.at};
    out.subject = {subject.at, subject.end() - subject.at};

    Tlv keyAlgorithm = expect(der, spki.content(), spki.end(), 0x30);
    Tlv oid = expect(der, keyAlgorithm.content(), keyAlgorithm.end(), 0x06);
    out.algorithmOid = labtoken::derToOid(Bytes(der.begin() + oid.at, der.begin() + oid.end()));
    if (out.algorithmOid.empty())
        fail(CRYPT_E_ASN1_BADTAG);
    if (oid.end() < keyAlgorithm.end()) {
        auto params = readTlv(der, oid.end(), keyAlgorithm.end());
        if (!params || params->end() != keyAlgorithm.end())
            fail(CRYPT_E_ASN1_BADTAG);
        out.algorithmParameters = {params->at, params->end() - params->at};
    }
    Tlv key = expect(der, keyAlgorithm.end(), spki.end(), 0x03);
    if (key.length < 1 || key.end() != spki.end() || der[key.content()] > 7)
        fail(CRYPT_E_ASN1_BADTAG);
    out.unusedBits = der[key.content()];
    out.publicKey = {key.content() + 1, key.length - 1};
    out.publicKeyBits.assign(der.begin() + key.content() + 1, der.begin() + key.end());
    return out;
}

Bytes certificateAt(const BYTE* data)
{
    if (data[0] != 0x30)
        fail(CRYPT_E_ASN1_BADTAG);
    std::size_t len = data[1], header = 2;
    if (len & 0x80) {
        const std::size_t n = len & 0x7F;
        if (n == 0 || n > 3)
            fail(CRYPT_E_ASN1_BADTAG);
        len = 0;
        for (std::size_t i = 0; i < n; ++i)
            len = len << 8 | data[2 + i];
        header += n;
    }
    if (header + len > MAX_CERTIFICATE)
        fail(CRYPT_E_ASN1_BADTAG);
    return Bytes(data, data + header + len);
}

} // namespace labcsp
