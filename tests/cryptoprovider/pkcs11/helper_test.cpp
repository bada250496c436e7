// The object helper against the lab tokens: key templates and lookups,
// signing and verification byte orders (checked with openssl and libgcrypt),
// key metadata and password counters, and certificate objects.
#include <gtest/gtest.h>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/key_formats.h"
#include "cryptoprovider/pkcs11/return_values.h"
#include "token_lab.h"
#include "x509/errors.h"
#include "x509/gost_signature.h"
#include "x509/x509.h"

namespace
{

using namespace tokenlab;
using gostsoft::derConcat;
using gostsoft::derElement;
using gostsoft::derOid;
using pkcs11::Helper;

const bytes PASSWORD_HASH(32, 0x11);
const bytes WRONG_HASH(32, 0x22);

bytes derName(const std::string& commonName)
{
    return derElement(0x30,
                      derElement(0x31, derElement(0x30, derConcat({derOid("2.5.4.3"),
                                                                   derElement(0x0C, text(commonName))}))));
}

// A certificate (unsigned: the helper never checks the issuer's signature)
// around a SubjectPublicKeyInfo.
bytes certificate(const bytes& spki, const bytes& serial, const std::string& subject,
                  const std::string& issuer = "Lab CA")
{
    const bytes algorithm = derElement(0x30, derOid("1.2.643.7.1.1.3.2"));
    const bytes validity = derElement(
        0x30, derConcat({derElement(0x17, text("250101000000Z")), derElement(0x17, text("350101000000Z"))}));
    const bytes tbs =
        derElement(0x30, derConcat({derElement(0xA0, derElement(0x02, {0x02})), derElement(0x02, serial),
                                    algorithm, derName(issuer), validity, derName(subject), spki}));
    bytes signature(65, 0x00);
    return derElement(0x30, derConcat({tbs, algorithm, derElement(0x03, signature)}));
}

MetaInfoContainer containerOf(const Helper& helper, CK_OBJECT_HANDLE key)
{
    return MetaInfoContainer(std::string_view(helper.readStringAttribute(key, CKA_LABEL)), false);
}

class HelperTest : public TokenLab
{
  protected:
    void SetUp() override
    {
        TokenLab::SetUp();
        addDevice("rutoken-ecp-2", "0A1B2C3D");
    }

    // No public-key session objects (those verification creates) are left.
    void expectNoSessionKeys(const Helper& helper)
    {
        EXPECT_TRUE(helper
                        .findObjects({pkcs11::attribute(CKA_TOKEN, pkcs11::FALSE_VALUE),
                                      pkcs11::attribute(CKA_CLASS, pkcs11::PUBLIC_KEY_VALUE)})
                        .empty());
    }
};

// ---- free functions ----

TEST(HelperFunctions, KeyLabelsAndMechanisms)
{
    const std::pair<std::uint8_t, const char*> labels[] = {
        {0, ""}, {1, "1"}, {10, "a"}, {31, "1f"}, {255, "ff"}};
    for (const auto& [id, label] : labels)
        EXPECT_EQ(pkcs11::keyLabel(id), label) << int(id);

    const std::pair<AlgorithmId, CK_MECHANISM_TYPE> digests[] = {
        {GOST_R_3411_1994, 0x1210},
        {GOST_R_3411_2012_256, 0xD4321012},
        {GOST_R_3411_2012_512, 0xD4321013},
        {SHA_1, 0x220},
        {SHA_224, 0x255},
        {SHA_256, 0x250},
        {SHA_384, 0x260},
        {SHA_512, 0x270},
    };
    for (const auto& [alg, mechanism] : digests)
        EXPECT_EQ(pkcs11::digestAlgorithm(alg), mechanism) << alg.name();
    EXPECT_THROW(pkcs11::digestAlgorithm(GOST_R_3410_2012_256), UnsupportedAlgorithm);

    const std::pair<AlgorithmId, CK_MECHANISM_TYPE> generation[] = {
        {GOST_R_3410_2001, 0x1200},
        {GOST_R_3410_2012_256_GOST_R_3411_2012_256_SIGN, 0x1200},
        {GOST_R_3410_2012_512, 0xD4321005},
        {SHA256_WITH_RSA_ENCRYPTION, 0},
        {RSA_ENCRYPTION, 0},
    };
    for (const auto& [alg, mechanism] : generation)
        EXPECT_EQ(pkcs11::keyPairGenAlgorithm(alg), mechanism) << alg.name();
    EXPECT_THROW(pkcs11::keyPairGenAlgorithm(GOST_28147), UnsupportedAlgorithm);
}

// ---- key pairs ----

TEST_F(HelperTest, GeneratedKeysCarryTheTemplatesAndAreFound)
{
    auto helper = user("0A1B2C3D");
    const ObjectIdentifier setA(crypto_pro_param::A);
    const auto [publicKey, privateKey] = helper->generateKeyPair({0x05}, GOST_R_3410_2001, setA, true);
    EXPECT_EQ(helper->readAttribute(publicKey, CKA_GOSTR3411_PARAMS),
              gost3411::CRYPTOPRO_PARAM_SET.derEncoding());
    EXPECT_EQ(helper->readAttribute(privateKey, CKA_DERIVE), pkcs11::TRUE_VALUE);
    EXPECT_EQ(helper->readAttribute(privateKey, CKA_ID), bytes{0x05});
    EXPECT_EQ(helper->readAttribute(publicKey, CKA_VALUE).size(), 64u);

    const auto wide = helper->generateKeyPair({0x06}, GOST_R_3410_2012_512,
                                              ObjectIdentifier(tc26_gost_3410::paramSetA_512), false);
    EXPECT_EQ(helper->readAttribute(wide.first, CKA_GOSTR3411_PARAMS),
              GOST_R_3411_2012_512.oid().derEncoding());
    EXPECT_EQ(helper->readAttribute(wide.second, CKA_DERIVE), pkcs11::FALSE_VALUE);
    EXPECT_EQ(helper->readAttribute(wide.first, CKA_VALUE).size(), 128u);

    EXPECT_EQ(helper->findKeyByParams(GOST_R_3410_2001, setA, true), std::make_pair(publicKey, privateKey));
    EXPECT_EQ(helper->findKeyObject({0x06}, pkcs11::PRIVATE_KEY_VALUE), wide.second);
    EXPECT_THROW(helper->findKeyByParams(GOST_R_3410_2001, ObjectIdentifier(crypto_pro_param::B), false),
                 KeyNotFound);
    EXPECT_THROW(helper->findKeyObject({0x09}, pkcs11::PUBLIC_KEY_VALUE), KeyNotFound);
    EXPECT_THROW(helper->generateKeyPair({0x07}, SHA256_WITH_RSA_ENCRYPTION, setA, false),
                 UnsupportedAlgorithm);
}

// ---- signing and verification ----

struct SignCase {
    const char* model;
    const char* family;
    AlgorithmId algorithm;
    std::string_view paramSet;
    CK_MECHANISM_TYPE mechanism;
    unsigned bits;
};

TEST_F(HelperTest, TokenSignaturesVerifyWithTheKeyAsTheCertificateGivesIt)
{
    addDevice("angara", "MSK00000001");
    const SignCase cases[] = {
        {"rutoken-ecp-2", "rutoken", GOST_R_3410_2012_256, crypto_pro_param::A, CKM_GOSTR3410, 256},
        {"rutoken-ecp-2", "rutoken", GOST_R_3410_2012_512, tc26_gost_3410::paramSetA_512, CKM_GOSTR3410_512,
         512},
        {"angara", "angara", GOST_R_3410_2012_256, tc26_gost_3410::paramSetA_256, CKM_GOSTR3410, 256},
    };
    for (const SignCase& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + std::string(c.paramSet));
        auto helper = user(c.family == std::string("angara") ? "MSK00000001" : "0A1B2C3D", c.family);
        const ObjectIdentifier paramSet{std::string(c.paramSet)};
        const auto pair = helper->generateKeyPair({0x01}, c.algorithm, paramSet, false);
        const bytes tokenKey = helper->readAttribute(pair.first, CKA_VALUE);
        const bytes digest = gostsoft::streebog(text("document"), c.bits);

        // r||s from the helper; the token's s||r is what openssl checks.
        const bytes signature = helper->sign(pair.second, digest, c.mechanism);
        ASSERT_TRUE(opensslVerifies(m_dir, "sig", tokenKey, paramSet.text(), digest,
                                    gost::swapSignatureHalves(signature)));

        // The key as a certificate carries it, read with each coordinate big-endian.
        const X509 cert(certificate(gostSpki(tokenKey, paramSet.text()), {0x01}, "Signer"));
        const bytes certificateKey = cert.gostPublicKey(Endian::Little);
        EXPECT_TRUE(helper->verifySign(digest, signature, certificateKey, paramSet));

        bytes tampered = signature;
        tampered[5] ^= 0x01;
        EXPECT_FALSE(helper->verifySign(digest, tampered, certificateKey, paramSet));
        bytes otherDigest = digest;
        otherDigest[0] ^= 0x80;
        EXPECT_FALSE(helper->verifySign(otherDigest, signature, certificateKey, paramSet));
        expectNoSessionKeys(*helper);
        helper->deleteObject(pair.first);
        helper->deleteObject(pair.second);
    }
}

TEST_F(HelperTest, VerifiesSignaturesOfAnIndependentSigner)
{
    auto helper = user("0A1B2C3D");
    const auto key = gostsoft::Key::generate(gostsoft::Curve::Tc26A256);
    const bytes digest = key.digest(text("statement"));
    const bytes signature = gost::swapSignatureHalves(key.signDigest(digest)); // r||s
    const bytes bigEndianKey = reverseHalves(key.publicKey());
    const ObjectIdentifier paramSet(key.paramSetOid());
    EXPECT_TRUE(helper->verifySign(digest, signature, bigEndianKey, paramSet));
    EXPECT_FALSE(helper->verifySign(digest, gost::swapSignatureHalves(signature), bigEndianKey, paramSet));
    EXPECT_FALSE(helper->verifySign(digest, signature, key.publicKey(), paramSet));
    expectNoSessionKeys(*helper);
}

TEST_F(HelperTest, VerificationFailureStillDestroysTheKeyObject)
{
    auto helper = user("0A1B2C3D");
    const auto key = gostsoft::Key::generate(gostsoft::Curve::CryptoProA256);
    const bytes digest = key.digest(text("x"));
    writeFaults("C_Verify nth 1 CKR_DEVICE_ERROR\n");
    EXPECT_THROW(helper->verifySign(digest, key.signDigest(digest), reverseHalves(key.publicKey()),
                                    ObjectIdentifier(key.paramSetOid())),
                 pkcs11::Exception);
    writeFaults("");
    expectNoSessionKeys(*helper);
    EXPECT_NE(callLog().find("C_DestroyObject"), std::string::npos);
}

TEST_F(HelperTest, RsaSignaturesAreKeptAsTheTokenGivesThem)
{
    auto helper = user("0A1B2C3D");
    const auto [publicKey, privateKey] = helper->generateRSAKeyPair({0x0A}, SHA256_WITH_RSA_ENCRYPTION, 1024);
    const bytes modulus = helper->readAttribute(publicKey, CKA_MODULUS);
    const bytes exponent = helper->readAttribute(publicKey, CKA_PUBLIC_EXPONENT);
    EXPECT_EQ(modulus.size(), 128u);

    const bytes digestInfo = derElement(
        0x30, derConcat({derElement(0x30, derConcat({derOid("2.16.840.1.101.3.4.2.1"), bytes{0x05, 0x00}})),
                         derElement(0x04, gostsoft::sha256(text("data")))}));
    const bytes signature = helper->sign(privateKey, digestInfo, CKM_RSA_PKCS);

    const bytes rsaType = pkcs11::ulongValue(CKK_RSA);
    const std::vector<CK_ATTRIBUTE> keyTemplate{
        pkcs11::attribute(CKA_CLASS, pkcs11::PUBLIC_KEY_VALUE), pkcs11::attribute(CKA_KEY_TYPE, rsaType),
        pkcs11::attribute(CKA_VERIFY, pkcs11::TRUE_VALUE),      pkcs11::attribute(CKA_MODULUS, modulus),
        pkcs11::attribute(CKA_PUBLIC_EXPONENT, exponent),
    };
    const CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    EXPECT_TRUE(helper->verifyRsaSign(digestInfo, signature, keyTemplate, mechanism));
    EXPECT_FALSE(
        helper->verifyRsaSign(digestInfo, gost::swapSignatureHalves(signature), keyTemplate, mechanism));
    expectNoSessionKeys(*helper);
    EXPECT_EQ(helper->findPrivateKey(PublicKey(RsaPublicKey{modulus, 65537})), privateKey);
}

// ---- metadata ----

TEST_F(HelperTest, MetadataObjects)
{
    auto helper = user("0A1B2C3D");
    const CK_OBJECT_HANDLE plain = helper->createMetaInfo("key-meta", false);
    const CK_OBJECT_HANDLE kalva = helper->createMetaInfo("key-meta", true);
    EXPECT_EQ(helper->readAttribute(plain, CKA_VALUE), MetaInfoContainer().data());
    EXPECT_EQ(helper->readAttribute(kalva, CKA_APPLICATION), pkcs11::KALVA2_VALUE);
    EXPECT_EQ(helper->readAttribute(kalva, CKA_PRIVATE), pkcs11::TRUE_VALUE);
    EXPECT_EQ(helper->metaObjectId("key-meta", true), kalva);

    helper->deleteMetaInfo("key-meta", true);
    EXPECT_THROW(helper->metaObjectId("key-meta", true), KeyNotFound);
    EXPECT_EQ(helper->metaObjectId("key-meta", false), plain);
    EXPECT_THROW(helper->metaObjectId("other", false), KeyNotFound);

    // Private objects are out of sight once nobody is logged in.
    helper.reset();
    Helper anonymous(module(), slotOf("0A1B2C3D"), pkcs11::SessionMode::Public, {});
    EXPECT_THROW(anonymous.metaObjectId("key-meta", false), KeyNotFound);
}

TEST_F(HelperTest, KeyPasswordCounters)
{
    auto helper = user("0A1B2C3D");
    const CK_OBJECT_HANDLE key =
        helper->generateKeyPair({0x01}, GOST_R_3410_2012_256, ObjectIdentifier(crypto_pro_param::A), false)
            .second;

    // A label that is no container: the key has no password.
    helper->writeAttribute(key, text("plain label"), CKA_LABEL);
    EXPECT_NO_THROW(helper->verifyKeyPassword(key, WRONG_HASH, true));
    EXPECT_EQ(helper->readStringAttribute(key, CKA_LABEL), "plain label");

    // A container with a payload keeps it through a password change.
    MetaInfoContainer withRecord;
    withRecord.setPayload({0xAB, 0xCD});
    const std::string stored = withRecord.base64();
    helper->writeAttribute(key, text(stored), CKA_LABEL);
    EXPECT_NO_THROW(helper->verifyKeyPassword(key, WRONG_HASH, true)); // no password yet
    helper->changeKeyPassword(key, PASSWORD_HASH, 10);
    EXPECT_EQ(containerOf(*helper, key).payload(), (bytes{0xAB, 0xCD}));
    EXPECT_EQ(containerOf(*helper, key).passHash(), PASSWORD_HASH);

    // Without counting, a wrong hash changes nothing on the token.
    try {
        helper->verifyKeyPassword(key, WRONG_HASH, false);
        ADD_FAILURE();
    } catch (const InvalidPassword& e) {
        EXPECT_EQ(e.tries(), 10);
    }
    EXPECT_EQ(containerOf(*helper, key).failedTries(), 0);

    for (int expected : {9, 8}) {
        try {
            helper->verifyKeyPassword(key, WRONG_HASH, true);
            ADD_FAILURE();
        } catch (const InvalidPassword& e) {
            EXPECT_EQ(e.tries(), expected);
        }
    }
    EXPECT_EQ(containerOf(*helper, key).failedTries(), 2);
    helper->verifyKeyPassword(key, PASSWORD_HASH, true);
    EXPECT_EQ(containerOf(*helper, key).failedTries(), 0);

    // One try left: a wrong hash uses it (no tries left reads as KeyBlocked),
    // and then even the right hash is refused.
    MetaInfoContainer lastTry = containerOf(*helper, key);
    lastTry.setFailedTries(9);
    helper->writeAttribute(key, text(lastTry.base64()), CKA_LABEL);
    EXPECT_THROW(helper->verifyKeyPassword(key, WRONG_HASH, true), KeyBlocked);
    EXPECT_EQ(containerOf(*helper, key).failedTries(), 10);
    EXPECT_THROW(helper->verifyKeyPassword(key, PASSWORD_HASH, true), KeyBlocked);

    // A new password lifts the block; a label without container gets one.
    helper->changeKeyPassword(key, PASSWORD_HASH, 3);
    EXPECT_NO_THROW(helper->verifyKeyPassword(key, PASSWORD_HASH, true));
    helper->writeAttribute(key, text("plain label"), CKA_LABEL);
    helper->changeKeyPassword(key, PASSWORD_HASH, 5);
    EXPECT_EQ(containerOf(*helper, key).maxTries(), 5);
}

// A label that cannot be read is a failure, never "no password" or "no
// container": the password is not waved through and the record survives.
TEST_F(HelperTest, UnreadableLabelFailsPasswordCheckAndChange)
{
    auto helper = user("0A1B2C3D");
    const CK_OBJECT_HANDLE key =
        helper->generateKeyPair({0x01}, GOST_R_3410_2012_256, ObjectIdentifier(crypto_pro_param::A), false)
            .second;
    MetaInfoContainer stored;
    stored.setPayload({0xAB, 0xCD});
    helper->writeAttribute(key, text(stored.base64()), CKA_LABEL);
    helper->changeKeyPassword(key, PASSWORD_HASH, 10);
    const std::string before = helper->readStringAttribute(key, CKA_LABEL);

    // The size query and the value read of the label, each failing once.
    for (const char* rule :
         {"C_GetAttributeValue nth 1 CKR_DEVICE_ERROR\n", "C_GetAttributeValue nth 2 CKR_DEVICE_ERROR\n"}) {
        SCOPED_TRACE(rule);
        writeFaults(rule);
        EXPECT_THROW(helper->verifyKeyPassword(key, WRONG_HASH, true), pkcs11::Exception);
        writeFaults(rule);
        EXPECT_THROW(helper->changeKeyPassword(key, WRONG_HASH, 3), pkcs11::Exception);
        writeFaults("");
        EXPECT_EQ(helper->readStringAttribute(key, CKA_LABEL), before);
    }
    EXPECT_EQ(containerOf(*helper, key).payload(), (bytes{0xAB, 0xCD}));
    EXPECT_NO_THROW(helper->verifyKeyPassword(key, PASSWORD_HASH, true));
}

// ---- certificates ----

TEST_F(HelperTest, CertificatesOfAKey)
{
    auto helper = user("0A1B2C3D");
    const ObjectIdentifier paramSet(crypto_pro_param::A);
    const auto [publicKey, privateKey] =
        helper->generateKeyPair({0x03}, GOST_R_3410_2012_256, paramSet, false);
    const bytes tokenKey = helper->readAttribute(publicKey, CKA_VALUE);
    const bytes der = certificate(gostSpki(tokenKey, paramSet.text()), {0x12, 0x34}, "Signer", "Bank CA");
    const bytes certificateId{0x00, 0x03};

    helper->importCertificate(certificateId, "Signer", der, CERT_USER, true);
    const CK_OBJECT_HANDLE object = helper->importCertificate(certificateId, "Signer", der, CERT_USER, true);
    const auto users = helper->certificateList(CERT_USER);
    ASSERT_EQ(users.size(), 1u); // the second import replaced the first
    EXPECT_EQ(users[0].id(), certificateId);
    EXPECT_EQ(users[0].data(), der);
    EXPECT_TRUE(helper->certificateList(CERT_AUTHORITY).empty());
    EXPECT_EQ(helper->findCertificate(certificateId, CERT_USER), object);
    EXPECT_THROW(helper->findCertificate(certificateId, CERT_AUTHORITY), CertificateNotFound);
    EXPECT_EQ(helper->readAttribute(object, CKA_SERIAL_NUMBER), (bytes{0x12, 0x34}));
    EXPECT_EQ(helper->readAttribute(object, CKA_CERTIFICATE_CATEGORY), pkcs11::ulongValue(CERT_USER));

    // The key of the certificate: by id, by public key, by issuer and serial.
    EXPECT_EQ(helper->findCertificateByPublicKey(tokenKey), der);
    EXPECT_EQ(helper->findPrivateKey(X509(bytes{0x03}, der)), privateKey);
    EXPECT_EQ(helper->findPrivateKey(X509(bytes{0x44}, der)), privateKey);
    EXPECT_EQ(helper->findPrivateKey(X509(der).issuer(), bytes{0x12, 0x34}), privateKey);
    EXPECT_THROW(helper->findPrivateKey(X509(der).issuer(), bytes{0x12, 0x35}), KeyNotFound);

    helper->deleteCertificate(certificateId, CERT_USER);
    EXPECT_THROW(helper->findCertificate(certificateId, CERT_USER), CertificateNotFound);
    EXPECT_THROW(helper->findCertificateByPublicKey(tokenKey), CertificateNotFound);
    EXPECT_ANY_THROW(helper->importCertificate(certificateId, "broken", {0x30, 0x03, 0x02}, CERT_USER, true));
}

TEST_F(HelperTest, TokenWithoutCertificateCategoriesStillStoresCertificates)
{
    setFact("0A1B2C3D", "reject-attributes", "87");
    auto helper = user("0A1B2C3D");
    const auto soft = gostsoft::Key::generate(gostsoft::Curve::Tc26A256);
    const bytes der = certificate(soft.subjectPublicKeyInfo(), {0x05}, "Peer");
    const bytes id{0x07};
    const CK_OBJECT_HANDLE object = helper->importCertificate(id, "Peer", der, CERT_USER, true);
    EXPECT_EQ(helper->readAttribute(object, CKA_VALUE), der);
    EXPECT_THROW(helper->readAttribute(object, CKA_CERTIFICATE_CATEGORY), pkcs11::Exception);
    EXPECT_EQ(helper->findObjects({pkcs11::attribute(CKA_ID, id)}), std::vector<CK_OBJECT_HANDLE>{object});
    EXPECT_EQ(helper->findCertificateByPublicKey(soft.publicKey()), der);
}

// A first attempt refused in any other words than a failure of the device,
// the session, the token's presence, the login or memory is retried without
// the category; those failures are the import's and store nothing.
TEST_F(HelperTest, CertificateImportRetriesWithoutCategoryUnlessTheDeviceFailed)
{
    auto helper = user("0A1B2C3D");
    const auto soft = gostsoft::Key::generate(gostsoft::Curve::Tc26A256);
    const bytes der = certificate(soft.subjectPublicKeyInfo(), {0x06}, "Peer");
    const auto createCalls = [&] {
        const std::string log = callLog();
        std::size_t count = 0;
        for (std::size_t at = log.find("C_CreateObject"); at != std::string::npos;
             at = log.find("C_CreateObject", at + 1))
            ++count;
        return count;
    };
    const struct {
        CK_RV rv;
        bool retried;
    } cases[] = {
        {CKR_ATTRIBUTE_READ_ONLY, true},     {CKR_FUNCTION_FAILED, true},
        {CKR_GENERAL_ERROR, false},          {CKR_ATTRIBUTE_TYPE_INVALID, true},
        {CKR_TEMPLATE_INCONSISTENT, true},   {CKR_FUNCTION_NOT_SUPPORTED, true},
        {CKR_DEVICE_ERROR, false},           {CKR_DEVICE_REMOVED, false},
        {CKR_DEVICE_MEMORY, false},          {CKR_HOST_MEMORY, false},
        {CKR_SESSION_HANDLE_INVALID, false}, {CKR_USER_NOT_LOGGED_IN, false},
    };
    std::uint8_t number = 0x20;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rv));
        const bytes id{number++};
        writeFaults("C_CreateObject nth 1 " + std::to_string(c.rv) + "\n");
        const std::size_t callsBefore = createCalls();
        if (c.retried) {
            const CK_OBJECT_HANDLE object = helper->importCertificate(id, "Peer", der, CERT_USER, true);
            EXPECT_EQ(helper->readAttribute(object, CKA_VALUE), der);
            EXPECT_THROW(helper->readAttribute(object, CKA_CERTIFICATE_CATEGORY), pkcs11::Exception);
            EXPECT_EQ(createCalls() - callsBefore, 2u);
            continue;
        }
        try {
            helper->importCertificate(id, "Peer", der, CERT_USER, true);
            ADD_FAILURE() << "imported while the first attempt failed";
        } catch (const pkcs11::Exception& error) {
            EXPECT_EQ(error.code(), c.rv);
        }
        EXPECT_EQ(createCalls() - callsBefore, 1u);
        writeFaults("");
        EXPECT_TRUE(helper->findObjects({pkcs11::attribute(CKA_ID, id)}).empty());
    }
}

TEST_F(HelperTest, CertificateChainsBecomeSessionObjects)
{
    auto helper = user("0A1B2C3D");
    const auto first = gostsoft::Key::generate(gostsoft::Curve::Tc26A256);
    const auto second = gostsoft::Key::generate(gostsoft::Curve::Tc26A512);
    const bytes rootDer = certificate(first.subjectPublicKeyInfo(), {0x01, 0x01}, "Root");
    const bytes leafDer = certificate(second.subjectPublicKeyInfo(), {0x02, 0x02}, "Leaf", "Root");
    const std::string leafPem = gostsoft::toPem(leafDer, "CERTIFICATE");

    const auto handles = helper->importCertificateChain({rootDer, text(leafPem)}, CERT_AUTHORITY);
    ASSERT_EQ(handles.size(), 2u);
    EXPECT_EQ(helper->readAttribute(handles[0], CKA_ID), (bytes{0x01, 0x01}));
    EXPECT_EQ(helper->readAttribute(handles[1], CKA_VALUE), leafDer);
    EXPECT_EQ(helper->readStringAttribute(handles[1], CKA_LABEL), "Leaf");
    EXPECT_EQ(helper->readAttribute(handles[1], CKA_TOKEN), pkcs11::FALSE_VALUE);
    EXPECT_TRUE(helper->certificateList(CERT_AUTHORITY).empty()); // nothing on the token
}

// ---- PIN ----

TEST_F(HelperTest, ChangePin)
{
    {
        auto helper = user("0A1B2C3D");
        helper->changePin(USER_PIN, text("87878787"));
    }
    EXPECT_EQ(fact("0A1B2C3D", "user-pin"), "87878787");
    EXPECT_THROW(user("0A1B2C3D"), pkcs11::Exception);
    EXPECT_NO_THROW(Helper(module(), slotOf("0A1B2C3D"), pkcs11::SessionMode::User, text("87878787")));
}

} // namespace
