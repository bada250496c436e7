// CMS assembly over the key store base: caller attributes, signed
// attributes, signing through the test store and the final messages,
// checked with openssl (gost engine) and, when ORMID_BC_VERIFIER names its
// command, Bouncy Castle.
#include "cryptoprovider/core/cms_assembly.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "asn1/der.h"
#include "base/conv.h"
#include "cryptoprovider/core/errors.h"
#include "pkcs7/errors.h"
#include "pkcs7/gost_fixture.h"
#include "soft_store.h"
#include "x509/errors.h"

using namespace softstore;
using cmstest::GostSigner;
using cmstest::toBytes;
using gostsoft::Curve;

namespace
{

const char* const OID = "1.2.643.100.200.1";

bytes hex(std::string_view text)
{
    return conv::hex_to_bytes(text);
}

// ---- caller attributes ----

TEST(CallerAttributes, EncodedByTag)
{
    const struct {
        std::uint8_t tag;
        const char* value;
        const char* der;
    } cases[] = {
        {1, " TRUE ", "0101ff"},
        {1, "tRuE", "0101ff"},
        {1, "yes", "010100"},
        {1, "", "010100"},
        {2, "0", "020100"},
        {2, "300", "0202012c"},
        {2, "18446744073709551615", "020900ffffffffffffffff"},
        {4, "0aFF", "04020aff"},
        {4, "", "0400"},
        {5, "ignored", "0500"},
        {6, "1.2.840.113549", "06062a864886f70d"},
        {12, "Да", "0c04d094d0b0"},
        {18, "123", "1203313233"},
        {19, "Ab", "13024162"},
        {20, "t", "140174"},
        {21, "v", "150176"},
        {22, "a@b", "1603614062"},
        {26, "Vis", "1a03566973"},
        {23, "240102030405Z", "170d3234303130323033303430355a"},
        {24, "20500102030405Z", "180f32303530303130323033303430355a"},
    };
    for (const auto& c : cases) {
        const pkcs9::Attributes parsed = parseSignedAttributes({{OID, c.tag, c.value}});
        EXPECT_EQ(parsed.getSingleValue(ObjectIdentifier(OID)), hex(c.der))
            << "tag " << int(c.tag) << " value '" << c.value << "'";
    }
    EXPECT_TRUE(parseSignedAttributes({}).empty());
}

TEST(CallerAttributes, RejectedInput)
{
    for (const std::uint8_t tag : {0, 3, 7, 8, 9, 10, 11, 13, 16, 17, 25, 27, 30, 255}) {
        EXPECT_THROW(parseSignedAttributes({{OID, tag, "1"}}), IncorrectPKCS9Attribute) << int(tag);
    }
    // Attributes the signer always makes itself, and identifiers without an encoding.
    for (const char* oid : {"1.2.840.113549.1.9.3", "1.2.840.113549.1.9.4", ""}) {
        EXPECT_THROW(parseSignedAttributes({{oid, 12, "x"}}), IncorrectPKCS9Attribute) << oid;
    }
    EXPECT_THROW(parseSignedAttributes({{"not an oid", 12, "x"}}), std::exception);
    EXPECT_THROW(parseSignedAttributes({{OID, 6, ""}}), IncorrectPKCS9Attribute);
    EXPECT_THROW(parseSignedAttributes({{OID, 23, ""}}), IncorrectPKCS9Attribute);
    // Integers are whole unsigned decimal numbers.
    for (const char* value : {"", "-1", "12abc", "0x10", "1 2", "+5"}) {
        EXPECT_THROW(parseSignedAttributes({{OID, 2, value}}), std::invalid_argument) << value;
    }
    EXPECT_THROW(parseSignedAttributes({{OID, 2, "18446744073709551616"}}), std::out_of_range);
    EXPECT_THROW(parseSignedAttributes({{OID, 4, "abc"}}), std::exception);
    EXPECT_THROW(parseSignedAttributes({{OID, 23, "2401"}}), std::invalid_argument);
    // A bad attribute anywhere fails the whole list.
    EXPECT_THROW(parseSignedAttributes({{OID, 12, "ok"}, {OID, 3, "1"}}), IncorrectPKCS9Attribute);
}

TEST(CallerAttributes, SameOidMerges)
{
    const pkcs9::Attributes two = parseSignedAttributes({{OID, 12, "a"}, {OID, 12, "b"}, {"1.2.3", 5, ""}});
    EXPECT_EQ(two.getValues(ObjectIdentifier(OID)),
              (pkcs9::Attributes::Values{hex("0c0161"), hex("0c0162")}));
    EXPECT_EQ(two.get().size(), 2u);
    const pkcs9::Attributes one = parseSignedAttributes({{OID, 12, "a"}, {OID, 12, "a"}});
    EXPECT_EQ(one.getValues(ObjectIdentifier(OID)).size(), 1u);
}

// ---- signed attributes ----

TEST(SignedAttributes, Gost94DigestParametersAndOrderFollowTheMode)
{
    const auto store = std::make_shared<SoftKeyStore>();
    AttachedContents none;
    DataForSign item;
    item.data = toBytes("abc");
    const struct {
        bool kalvaMode;
        const char* digest;
    } cases[] = {
        // CryptoPro set, CMS order.
        {false, "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
        // Test set, as the algorithm produces it (the reversal of the CMS order).
        {true, "1dd5a4067c49703b75bc75c9290f5ecbb5eb85229e7277a2b2b14fc4484313f3"},
    };
    for (const auto& c : cases) {
        const auto attributes =
            generateSignedAttributes(store, {item}, X509(), GOST_R_3411_1994, {}, c.kalvaMode, none);
        ASSERT_EQ(attributes.size(), 1u);
        EXPECT_EQ(attributes[0].getSingleValue(pkcs9::oid::MESSAGE_DIGEST), der::encode(hex(c.digest)))
            << c.kalvaMode;
        EXPECT_FALSE(attributes[0].contains(pkcs9::oid::SIGNING_TIME));
    }
    // A ready digest is taken as given.
    item.computeDigest = false;
    item.data = hex("0102");
    EXPECT_EQ(
        generateSignedAttributes(store, {item}, X509(), GOST_R_3411_1994, {}, false, none)[0].getSingleValue(
            pkcs9::oid::MESSAGE_DIGEST),
        der::encode(hex("0102")));
    EXPECT_THROW(generateSignedAttributes(nullptr, {item}, X509(), GOST_R_3411_1994, {}, false, none),
                 KeyStoreNotSelected);
}

// ---- whole messages ----

class CmsPath
{
  public:
    explicit CmsPath(const GostSigner& signer, std::uint64_t externalId = 0, bool withCertificate = true)
        : store(std::make_shared<SoftKeyStore>())
    {
        // The store signs with the signer's own key (not owned).
        record = store->addDeviceKey(
            "k", std::shared_ptr<const gostsoft::Key>(std::shared_ptr<void>(), &signer.key),
            withCertificate ? signer.cert : X509());
        record->setExternalId(externalId);
    }

    std::vector<bytes> sign(const std::vector<DataForSign>& items, bool kalvaMode)
    {
        const X509 certificate = record->x509();
        const bytes signerId =
            certificate.empty() ? der::getBinaryInt(der::encode(record->externalId())) : certificate.serial();
        AttachedContents attached;
        const auto attributes = generateSignedAttributes(store, items, certificate, record->digestAlgorithm(),
                                                         signerId, kalvaMode, attached);
        return formCms(store->cmsSign(record, attributes, kalvaMode), items, kalvaMode, attached);
    }

    std::shared_ptr<SoftKeyStore> store;
    std::shared_ptr<KeyRecord> record;
};

// Exit code of openssl cms -verify -cades; `content` is the detached content.
int opensslVerify(const GostSigner& signer, const bytes& message, const bytes* content,
                  const std::string& caFile = {})
{
    gostsoft::writeFile(signer.dir.file("m.p7s"), message);
    std::string args = "cms -verify -cades -binary -inform DER -in " + signer.dir.file("m.p7s") +
                       " -CAfile " + (caFile.empty() ? signer.certPem : caFile) + " -out " +
                       signer.dir.file("out.bin");
    if (content) {
        gostsoft::writeFile(signer.dir.file("m.bin"), *content);
        args += " -content " + signer.dir.file("m.bin");
    }
    const auto result = gostsoft::openssl(args);
    if (result.status != 0) {
        ADD_FAILURE() << result.output;
    }
    return result.status;
}

const char* bcVerifier()
{
    const char* command = std::getenv("ORMID_BC_VERIFIER");
    return command && *command ? command : nullptr;
}

std::vector<Pkcs9Attribute> everyTag()
{
    return {{"1.2.643.100.200.1", 1, "true"},
            {"1.2.643.100.200.2", 2, "42"},
            {"1.2.643.100.200.3", 4, "c0ffee"},
            {"1.2.643.100.200.4", 5, ""},
            {"1.2.643.100.200.5", 6, "1.2.643.100.1"},
            {"1.2.643.100.200.6", 12, "Платёж"},
            {"1.2.643.100.200.7", 18, "0042"},
            {"1.2.643.100.200.8", 19, "Order 17"},
            {"1.2.643.100.200.9", 20, "t61"},
            {"1.2.643.100.200.10", 21, "vtx"},
            {"1.2.643.100.200.11", 22, "ia5@x"},
            {"1.2.643.100.200.12", 26, "visible"},
            {"1.2.643.100.200.13", 23, "240102030405Z"},
            {"1.2.643.100.200.14", 24, "20500102030405Z"}};
}

DataForSign standardItem(const std::string& content, bool attached)
{
    DataForSign item;
    item.data = toBytes(content);
    item.attached = attached;
    item.withCertificates = true;
    item.addSigningTime = true;
    item.addSigningCertificate = true;
    item.signedAttributes = everyTag();
    return item;
}

struct KeyCase {
    const char* name;
    Curve curve;
    bool bouncyCastle; // BC reads TC26-256-A keys only with a digest parameter
};

class CmsSigning : public ::testing::TestWithParam<KeyCase>
{
};

TEST_P(CmsSigning, GroupOfThreeVerifiedIndependently)
{
    const GostSigner signer(GetParam().curve);
    CmsPath path(signer);
    std::string bcArgs;
    int bcCount = 0;
    for (const bool attached : {false, true}) {
        SCOPED_TRACE(attached ? "attached" : "detached");
        const std::vector<DataForSign> items{standardItem("Payment order 1: 100.00 RUB", attached),
                                             standardItem("Payment order 2: 200.00 RUB", attached),
                                             standardItem(std::string(5000, 'x'), attached)};
        const std::vector<bytes> messages = path.sign(items, false);
        ASSERT_EQ(messages.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(opensslVerify(signer, messages[i], attached ? nullptr : &items[i].data), 0);
            if (attached) {
                EXPECT_EQ(gostsoft::readFile(signer.dir.file("out.bin")), items[i].data);
            }
            // Each message belongs to its own item: another item's content fails.
            const Pkcs7 parsed(messages[i], pkcs7::Format::SerialWithIssuer);
            EXPECT_EQ(parsed.content(), attached ? items[i].data : bytes{});
            ASSERT_EQ(parsed.signerInfos().size(), 1u);
            const pkcs9::Attributes& attributes = parsed.signerInfos()[0].attributes();
            for (const Pkcs9Attribute& a : everyTag()) {
                EXPECT_TRUE(attributes.contains(ObjectIdentifier(a.oid))) << a.oid;
            }
            EXPECT_TRUE(attributes.contains(pkcs9::oid::SIGNING_TIME));
            EXPECT_TRUE(attributes.contains(pkcs9::oid::SIGNING_CERTIFICATE_V2));
            EXPECT_EQ(parsed.certificates(), std::set<bytes>{signer.cert.data()});

            const std::string base = signer.dir.file("bc" + std::to_string(bcCount++));
            gostsoft::writeFile(base + ".p7s", messages[i]);
            gostsoft::writeFile(base + ".txt", items[i].data);
            bcArgs += " accept " + base + ".p7s " + (attached ? std::string("-") : base + ".txt");
            gostsoft::writeFile(base + "x.txt", items[(i + 1) % 3].data);
            if (!attached) {
                bcArgs += " reject " + base + ".p7s " + base + "x.txt";
            }
        }
        if (!attached) {
            gostsoft::writeFile(signer.dir.file("m.p7s"), messages[0]);
            gostsoft::writeFile(signer.dir.file("m.bin"), items[1].data);
            EXPECT_NE(gostsoft::openssl("cms -verify -binary -inform DER -in " + signer.dir.file("m.p7s") +
                                        " -CAfile " + signer.certPem + " -content " +
                                        signer.dir.file("m.bin") + " -out /dev/null")
                          .status,
                      0);
        }
    }
    if (bcVerifier() && GetParam().bouncyCastle) {
        const auto result = gostsoft::run(std::string(bcVerifier()) + bcArgs);
        EXPECT_EQ(result.status, 0) << result.output;
    }
}

TEST_P(CmsSigning, ReadyDigestGivesDetachedMessage)
{
    const GostSigner signer(GetParam().curve);
    CmsPath path(signer);
    const bytes content = toBytes("Statement for March");
    DataForSign item = standardItem("", true);
    item.computeDigest = false;
    item.data = signer.key.digest(content);
    const bytes message = path.sign({item}, false).at(0);
    EXPECT_TRUE(Pkcs7(message, pkcs7::Format::SerialWithIssuer).content().empty());
    EXPECT_EQ(opensslVerify(signer, message, &content), 0);
}

INSTANTIATE_TEST_SUITE_P(Keys, CmsSigning,
                         ::testing::Values(KeyCase{"CryptoProA256", Curve::CryptoProA256, true},
                                           KeyCase{"Tc26A256", Curve::Tc26A256, false},
                                           KeyCase{"Tc26A512", Curve::Tc26A512, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CmsSigningKalva, NoTimeNoCertificateSerialOnlySigner)
{
    const GostSigner signer(Curve::CryptoProA256);
    CmsPath path(signer, 0x1234, false); // a legacy key without certificate
    // As the Java side fills items in this mode.
    DataForSign item;
    item.data = toBytes("legacy payment");
    item.attached = true;
    item.signedAttributes = {{"1.2.643.100.200.1", 12, "x"}};
    const bytes message = path.sign({item}, true).at(0);

    const Pkcs7 parsed(message, pkcs7::Format::SerialOnly);
    EXPECT_TRUE(parsed.certificates().empty());
    EXPECT_EQ(parsed.content(), item.data);
    ASSERT_EQ(parsed.signerInfos().size(), 1u);
    const SignerInfo& si = parsed.signerInfos()[0];
    EXPECT_EQ(si.serial(), (bytes{0x12, 0x34}));
    EXPECT_FALSE(si.attributes().contains(pkcs9::oid::SIGNING_TIME));
    EXPECT_FALSE(si.attributes().contains(pkcs9::oid::SIGNING_CERTIFICATE_V2));
    // The digest in the order the hash produces it, the signature halves as stored.
    bytes reversed = signer.key.digest(item.data);
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(si.digest(), reversed);
    const bytes stored = si.signature(pkcs7::Format::SerialOnly);
    EXPECT_TRUE(signer.key.verifyDigest(signer.key.digest(si.attributes().derEncoding()),
                                        swapSignatureHalves(stored)));
    // Signer identifier: the empty issuer name and the external id.
    EXPECT_NE(gostsoft::toHex(message).find("3006300002021234"), std::string::npos);
}

TEST(CmsSigningAdd, SecondSignerJoinsAnExistingMessage)
{
    const GostSigner first(Curve::CryptoProA256, "/CN=First/O=Lab/C=RU");
    const GostSigner second(Curve::Tc26A512, "/CN=Second/O=Lab/C=RU");
    CmsPath firstPath(first);
    CmsPath secondPath(second);
    const bytes content = toBytes("Joint payment order");
    const bytes original = firstPath.sign({standardItem("Joint payment order", true)}, false).at(0);

    DataForSign addition = standardItem("Joint payment order", true);
    addition.existingCms = original;
    const bytes joint = secondPath.sign({addition}, false).at(0);
    const Pkcs7 parsed(joint, pkcs7::Format::SerialWithIssuer);
    EXPECT_EQ(parsed.signerInfos().size(), 2u);
    EXPECT_EQ(parsed.content(), content);
    bytes bothPem = gostsoft::readFile(first.certPem);
    const bytes secondPem = gostsoft::readFile(second.certPem);
    bothPem.insert(bothPem.end(), secondPem.begin(), secondPem.end());
    const std::string both = first.dir.file("both.pem");
    gostsoft::writeFile(both, bothPem);
    EXPECT_EQ(opensslVerify(first, joint, nullptr, both), 0);

    addition.data = toBytes("Another order");
    try {
        secondPath.sign({addition}, false);
        ADD_FAILURE() << "different content accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), cp::localization.get("CP-011003"));
    }
}

TEST(CmsForm, CountsAndMissingItems)
{
    EXPECT_TRUE(formCms({}, {DataForSign()}, false, AttachedContents()).empty());
    const GostSigner signer(Curve::CryptoProA256);
    const Pkcs7 message(signer.cert, toBytes("sig"), pkcs9::Attributes(), pkcs7::Format::SerialWithIssuer);
    EXPECT_THROW(formCms({message, message}, {DataForSign()}, false, AttachedContents()), std::out_of_range);
    EXPECT_THROW(formCms({Pkcs7(std::vector<SignerInfo>{}, pkcs7::Format::SerialWithIssuer)}, {DataForSign()},
                         false, AttachedContents()),
                 std::invalid_argument);
}

TEST(CmsForm, AttachedContentWrittenAsTheWholeMessageEncodes)
{
    const GostSigner signer(Curve::CryptoProA256);
    const Pkcs7 message(signer.cert, toBytes("sig"), pkcs9::Attributes(), pkcs7::Format::SerialWithIssuer);
    // Sizes on each side of the DER length forms, of the content and of the
    // elements around it (16777000: the content's length takes three octets,
    // the enclosing ones four).
    for (const std::size_t size : {0u, 1u, 100u, 127u, 128u, 255u, 256u, 65000u, 65535u, 65536u, 16777000u,
                                   16777216u}) {
        bytes content(size);
        for (std::size_t i = 0; i < size; ++i) {
            content[i] = static_cast<std::uint8_t>(i * 131 + 7);
        }
        Pkcs7 whole = message;
        whole.setContent(content);
        for (const bool withCertificates : {true, false}) {
            EXPECT_EQ(withAttachedContent(message.derEncoding(withCertificates), content),
                      whole.derEncoding(withCertificates))
                << size << (withCertificates ? " with certificates" : "");
        }
    }
    // Only a message without content, and a whole one, is taken.
    Pkcs7 attached = message;
    attached.setContent(toBytes("x"));
    EXPECT_THROW(withAttachedContent(attached.derEncoding(true), toBytes("y")), std::invalid_argument);
    bytes trailing = message.derEncoding(true);
    trailing.push_back(0);
    EXPECT_THROW(withAttachedContent(trailing, toBytes("y")), std::invalid_argument);
    EXPECT_THROW(withAttachedContent({}, toBytes("y")), std::invalid_argument);
    EXPECT_THROW(withAttachedContent({0x30, 0x00}, toBytes("y")), std::invalid_argument);
}

// ---- content read in pieces ----

// A source over `content` that records the largest piece it was asked for.
std::shared_ptr<const ContentSource> sourceOver(const bytes& content, std::size_t& largestRead)
{
    return std::make_shared<const ContentSource>(
        content.size(), [&content, &largestRead](std::size_t offset, std::span<std::uint8_t> into) {
            largestRead = std::max(largestRead, into.size());
            std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
        });
}

TEST(SourcedContent, SignsToTheSameMessageAsTheBytes)
{
    const GostSigner signer(Curve::Tc26A256);
    CmsPath path(signer);
    // Two whole pieces and a short one.
    bytes content(2 * ContentSource::PIECE_SIZE + 1001);
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<std::uint8_t>(i * 131 + i / 4099);
    }
    for (const bool attached : {false, true}) {
        SCOPED_TRACE(attached ? "attached" : "detached");
        DataForSign asBytes = standardItem("", attached);
        asBytes.data = content;
        asBytes.addSigningTime = false; // the attributes are then the same on each run
        DataForSign sourced = asBytes;
        sourced.data.clear();
        std::size_t largestRead = 0;
        sourced.source = sourceOver(content, largestRead);

        const X509 certificate = path.record->x509();
        AttachedContents captured;
        const auto attributes =
            generateSignedAttributes(path.store, {sourced, asBytes}, certificate,
                                     path.record->digestAlgorithm(), certificate.serial(), false, captured);
        ASSERT_EQ(attributes.size(), 2u);
        EXPECT_EQ(attributes[0].derEncoding(), attributes[1].derEncoding());
        const auto signedMessages = path.store->cmsSign(path.record, {attributes[0]}, false);
        const bytes fromSource = formCms(signedMessages, {sourced}, false, captured).at(0);
        EXPECT_EQ(fromSource, formCms(signedMessages, {asBytes}, false, AttachedContents()).at(0));
        EXPECT_EQ(opensslVerify(signer, fromSource, attached ? nullptr : &content), 0);
        // Neither the digest nor the message asked for the whole content at once.
        EXPECT_EQ(largestRead, ContentSource::PIECE_SIZE);
    }
}

// A source over `content` that changes what it handed out once read, as a
// Java array another thread writes to; `reads` counts the octets read.
std::shared_ptr<const ContentSource> changingSource(bytes& content, std::size_t& reads)
{
    return std::make_shared<const ContentSource>(
        content.size(), [&content, &reads](std::size_t offset, std::span<std::uint8_t> into) {
            const auto from = content.begin() + static_cast<std::ptrdiff_t>(offset);
            std::copy_n(from, into.size(), into.begin());
            std::for_each(from, from + static_cast<std::ptrdiff_t>(into.size()),
                          [](std::uint8_t& b) { b ^= 0x5A; });
            reads += into.size();
        });
}

TEST(SourcedContent, AttachedMessageHoldsWhatWasDigestedWhenTheSourceChanges)
{
    const GostSigner signer(Curve::Tc26A256);
    CmsPath path(signer);
    const bytes original = [] {
        bytes content(ContentSource::PIECE_SIZE + 777);
        for (std::size_t i = 0; i < content.size(); ++i) {
            content[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        }
        return content;
    }();
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "signer added to a message" : "new message");
        bytes live = original;
        std::size_t reads = 0;
        DataForSign item = standardItem("", true);
        item.source = changingSource(live, reads);
        if (existing) {
            DataForSign first = standardItem("", true);
            first.data = original;
            item.existingCms = CmsPath(GostSigner(Curve::CryptoProA256)).sign({first}, false).at(0);
        }
        const bytes message = path.sign({item}, false).at(0);
        // Each octet was read once (the comparison with an existing message
        // included), and a new message verifies over what it holds.
        EXPECT_EQ(reads, original.size());
        const Pkcs7 cms(message, pkcs7::Format::SerialWithIssuer);
        EXPECT_EQ(cms.content(), original);
        EXPECT_EQ(cms.signerInfos().size(), existing ? 2u : 1u);
        if (!existing) {
            EXPECT_EQ(opensslVerify(signer, message, nullptr), 0);
        }
    }
}

TEST(SourcedContent, ExistingMessageComparedWithTheSource)
{
    const GostSigner first(Curve::CryptoProA256, "/CN=First/O=Lab/C=RU");
    const GostSigner second(Curve::Tc26A512, "/CN=Second/O=Lab/C=RU");
    CmsPath secondPath(second);
    const bytes original = CmsPath(first).sign({standardItem("Joint payment order", true)}, false).at(0);
    std::size_t largestRead = 0;
    const struct {
        const char* content;
        bool accepted;
    } cases[] = {{"Joint payment order", true}, {"Joint payment orded", false}, {"Joint payment", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        const bytes content = toBytes(c.content);
        DataForSign addition = standardItem("", true);
        addition.source = sourceOver(content, largestRead);
        addition.existingCms = original;
        if (c.accepted) {
            const Pkcs7 joint(secondPath.sign({addition}, false).at(0), pkcs7::Format::SerialWithIssuer);
            EXPECT_EQ(joint.signerInfos().size(), 2u);
            EXPECT_EQ(joint.content(), content);
        } else {
            EXPECT_THROW(secondPath.sign({addition}, false), std::invalid_argument);
        }
    }
}

// ---- the signer's digest algorithm ----

TEST(SignerDigestAlgorithm, KeysOwnUnlessShaThenTheMessageDigestLengthNamesIt)
{
    const auto withDigestOf = [](std::size_t length) {
        pkcs9::Attributes attributes;
        attributes.insert(pkcs9::oid::MESSAGE_DIGEST, der::encode(bytes(length, 0x5a)));
        return attributes;
    };
    const struct {
        const AlgorithmId* key;
        std::size_t length;
        const AlgorithmId* expected;
    } cases[] = {
        {&GOST_R_3411_2012_256, 64, &GOST_R_3411_2012_256},
        {&GOST_R_3411_2012_512, 32, &GOST_R_3411_2012_512},
        {&GOST_R_3411_1994, 20, &GOST_R_3411_1994},
        {&SHA_256, 20, &SHA_1},
        {&SHA_1, 28, &SHA_224},
        {&SHA_1, 32, &SHA_256},
        {&SHA_256, 48, &SHA_384},
        {&SHA_256, 64, &SHA_512},
        {&SHA_512, 32, &SHA_256},
    };
    for (const auto& c : cases) {
        const AlgorithmId chosen = signerDigestAlgorithm(*c.key, withDigestOf(c.length));
        EXPECT_TRUE(chosen == *c.expected)
            << c.key->nameRef() << " with " << c.length << " octets gave " << chosen.nameRef();
    }
    // A GOST key never looks at the attributes; a SHA key needs the value.
    EXPECT_TRUE(signerDigestAlgorithm(GOST_R_3411_2012_256, pkcs9::Attributes()) == GOST_R_3411_2012_256);
    EXPECT_THROW(signerDigestAlgorithm(SHA_256, withDigestOf(24)), UnknownAlgorithm);
    EXPECT_THROW(signerDigestAlgorithm(SHA_256, pkcs9::Attributes()), pkcs9::NoAttribute);
}

} // namespace
