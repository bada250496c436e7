// The byte conventions of the simulated tokens, proven against OpenSSL with
// the gost engine and against libgcrypt.
#include <gcrypt.h>

#include "token_fixture.h"

namespace labtest
{
namespace
{
using gostsoft::derConcat;
using gostsoft::derElement;
using gostsoft::derOid;

Bytes halvesSwapped(const Bytes& b)
{
    Bytes out(b.begin() + b.size() / 2, b.end());
    out.insert(out.end(), b.begin(), b.begin() + b.size() / 2);
    return out;
}

Bytes reversed(Bytes b)
{
    std::reverse(b.begin(), b.end());
    return b;
}

// SubjectPublicKeyInfo of a GOST R 34.10-2012 key from its CKA_VALUE.
Bytes gostSpki(const Bytes& value, const std::string& paramSet)
{
    const bool is512 = value.size() == 128;
    Bytes algorithm = derElement(
        0x30,
        derConcat({derOid(is512 ? "1.2.643.7.1.1.1.2" : "1.2.643.7.1.1.1.1"),
                   derElement(0x30, derConcat({derOid(paramSet), derOid(is512 ? "1.2.643.7.1.1.2.3"
                                                                              : "1.2.643.7.1.1.2.2")}))}));
    Bytes bits{0x00};
    Bytes octets = derElement(0x04, value);
    bits.insert(bits.end(), octets.begin(), octets.end());
    return derElement(0x30, derConcat({algorithm, derElement(0x03, bits)}));
}

Bytes unsignedInteger(Bytes v)
{
    if (!v.empty() && v[0] & 0x80)
        v.insert(v.begin(), 0x00);
    return derElement(0x02, v);
}

Bytes rsaSpki(const Bytes& modulus, const Bytes& exponent)
{
    Bytes algorithm = derElement(0x30, derConcat({derOid("1.2.840.113549.1.1.1"), Bytes{0x05, 0x00}}));
    Bytes key = derElement(0x30, derConcat({unsignedInteger(modulus), unsignedInteger(exponent)}));
    Bytes bits{0x00};
    bits.insert(bits.end(), key.begin(), key.end());
    return derElement(0x30, derConcat({algorithm, derElement(0x03, bits)}));
}

class ConventionsTest : public TokenTest
{
  protected:
    void SetUp() override
    {
        TokenTest::SetUp();
        addDevice("rutoken-ecp-3", "0A1B2C3D", "Aktiv Rutoken ECP 00 00");
        addDevice("angara", "ANG1", "Angara 0");
        addDevice("jacarta-gost2", "JC1", "JaCarta 0");
    }

    CK_SESSION_HANDLE userSession(Module& m)
    {
        CK_SESSION_HANDLE h = session(m, 0);
        EXPECT_EQ(login(m, h, "12345678"), CKR_OK);
        return h;
    }

    static Bytes tokenDigest(Module& m, CK_SESSION_HANDLE h, CK_MECHANISM_TYPE mech, const Bytes& data,
                             const Bytes& parameter = {})
    {
        CK_MECHANISM mechanism{mech,
                               parameter.empty() ? nullptr : const_cast<std::uint8_t*>(parameter.data()),
                               parameter.size()};
        EXPECT_EQ(m->C_DigestInit(h, &mechanism), CKR_OK);
        CK_ULONG n = 0;
        EXPECT_EQ(m->C_Digest(h, const_cast<std::uint8_t*>(data.data()), data.size(), nullptr, &n), CKR_OK);
        Bytes out(n);
        EXPECT_EQ(m->C_Digest(h, const_cast<std::uint8_t*>(data.data()), data.size(), out.data(), &n),
                  CKR_OK);
        return out;
    }

    static Bytes tokenSign(Module& m, CK_SESSION_HANDLE h, CK_MECHANISM_TYPE mech, CK_OBJECT_HANDLE key,
                           const Bytes& data)
    {
        CK_MECHANISM mechanism{mech, nullptr, 0};
        EXPECT_EQ(m->C_SignInit(h, &mechanism, key), CKR_OK);
        CK_ULONG n = 0;
        EXPECT_EQ(m->C_Sign(h, const_cast<std::uint8_t*>(data.data()), data.size(), nullptr, &n), CKR_OK);
        Bytes out(n);
        EXPECT_EQ(m->C_Sign(h, const_cast<std::uint8_t*>(data.data()), data.size(), out.data(), &n), CKR_OK);
        out.resize(n);
        return out;
    }

    static CK_RV tokenVerify(Module& m, CK_SESSION_HANDLE h, CK_MECHANISM_TYPE mech, CK_OBJECT_HANDLE key,
                             const Bytes& data, const Bytes& signature)
    {
        CK_MECHANISM mechanism{mech, nullptr, 0};
        CK_RV rv = m->C_VerifyInit(h, &mechanism, key);
        if (rv != CKR_OK)
            return rv;
        return m->C_Verify(h, const_cast<std::uint8_t*>(data.data()), data.size(),
                           const_cast<std::uint8_t*>(signature.data()), signature.size());
    }

    // openssl pkeyutl -verify; true when OpenSSL accepts the signature.
    bool opensslVerifies(const Bytes& spki, const Bytes& digest, const Bytes& signature)
    {
        gostsoft::writeFile(m_dir.file("pub.pem"), gostsoft::toPem(spki, "PUBLIC KEY"));
        gostsoft::writeFile(m_dir.file("digest.bin"), digest);
        gostsoft::writeFile(m_dir.file("sig.bin"), signature);
        auto r = gostsoft::openssl("pkeyutl -verify -pubin -inkey " + m_dir.file("pub.pem") + " -in " +
                                   m_dir.file("digest.bin") + " -sigfile " + m_dir.file("sig.bin"));
        return r.status == 0 && r.output.find("Signature Verified Successfully") != std::string::npos;
    }
};

struct GostCase {
    const char* module;
    CK_MECHANISM_TYPE generation;
    CK_MECHANISM_TYPE signing;
    CK_MECHANISM_TYPE digest;
    const char* paramSet;
};

TEST_F(ConventionsTest, TokenSignaturesVerifyWithOpenSsl)
{
    const GostCase cases[] = {
        {"rtpkcs11ecp", CKM_GOSTR3410_KEY_PAIR_GEN, CKM_GOSTR3410, CKM_GOSTR3411_12_256, "1.2.643.2.2.35.1"},
        {"rtpkcs11ecp", CKM_GOSTR3410_512_KEY_PAIR_GEN, CKM_GOSTR3410_512, CKM_GOSTR3411_12_512,
         "1.2.643.7.1.2.1.2.2"},
        {"pkcs11-angara", CKM_GOSTR3410_KEY_PAIR_GEN, CKM_GOSTR3410, CKM_GOSTR3411_12_256,
         "1.2.643.7.1.2.1.1.1"},
        {"pkcs11-angara", CKM_GOSTR3410_512_KEY_PAIR_GEN, CKM_GOSTR3410_512, CKM_GOSTR3411_12_512,
         "1.2.643.7.1.2.1.2.3"},
        {"jcPKCS11-2", CKM_GOSTR3410_KEY_PAIR_GEN, CKM_GOSTR3410, CKM_GOSTR3411_12_256, "1.2.643.2.2.35.1"},
    };
    const Bytes data = text("payment order 17, amount 1000.00");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.module) + " " + c.paramSet);
        Module& m = open(c.module);
        CK_SESSION_HANDLE h = userSession(m);
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        ASSERT_EQ(generate(m, h, c.generation, c.paramSet, pub, priv), CKR_OK);
        const Bytes digest = tokenDigest(m, h, c.digest, data);
        const Bytes signature = tokenSign(m, h, c.signing, priv, digest);
        const Bytes value = read(m, h, pub, CKA_VALUE);
        ASSERT_EQ(signature.size(), value.size());
        const Bytes spki = gostSpki(value, c.paramSet);

        EXPECT_TRUE(opensslVerifies(spki, digest, signature));
        // Negative controls: r||s instead of s||r, the digest reversed, the key's coordinates reversed.
        EXPECT_FALSE(opensslVerifies(spki, digest, halvesSwapped(signature)));
        EXPECT_FALSE(opensslVerifies(spki, reversed(digest), signature));
        Bytes bigEndianKey = value;
        std::reverse(bigEndianKey.begin(), bigEndianKey.begin() + value.size() / 2);
        std::reverse(bigEndianKey.begin() + value.size() / 2, bigEndianKey.end());
        EXPECT_FALSE(opensslVerifies(gostSpki(bigEndianKey, c.paramSet), digest, signature));

        // The private value never leaves the token.
        CK_RV rv = CKR_OK;
        EXPECT_TRUE(read(m, h, priv, CKA_VALUE, &rv).empty());
        EXPECT_EQ(rv, CKR_ATTRIBUTE_SENSITIVE);
        EXPECT_EQ(m->C_Finalize(nullptr), CKR_OK);
        m_initialised.pop_back();
    }
}

TEST_F(ConventionsTest, BigEndianPublicKeyOrderIsUsedBothWays)
{
    devices().update("0A1B2C3D", [](labdev::Device& d) { d.set("public-key-order", "big"); });
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE h = userSession(m);
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    ASSERT_EQ(generate(m, h, CKM_GOSTR3410_KEY_PAIR_GEN, "1.2.643.2.2.35.1", pub, priv), CKR_OK);
    const Bytes digest = tokenDigest(m, h, CKM_GOSTR3411_12_256, text("order"));
    const Bytes signature = tokenSign(m, h, CKM_GOSTR3410, priv, digest);
    const Bytes value = read(m, h, pub, CKA_VALUE);
    Bytes certificateOrder = value;
    std::reverse(certificateOrder.begin(), certificateOrder.begin() + 32);
    std::reverse(certificateOrder.begin() + 32, certificateOrder.end());
    EXPECT_TRUE(opensslVerifies(gostSpki(certificateOrder, "1.2.643.2.2.35.1"), digest, signature));
    EXPECT_FALSE(opensslVerifies(gostSpki(value, "1.2.643.2.2.35.1"), digest, signature));
    EXPECT_EQ(tokenVerify(m, h, CKM_GOSTR3410, pub, digest, signature), CKR_OK);
}

TEST_F(ConventionsTest, TokenVerifiesOpenSslSignatures)
{
    const std::pair<gostsoft::Curve, const char*> curves[] = {
        {gostsoft::Curve::CryptoProA256, "rtpkcs11ecp"},
        {gostsoft::Curve::Tc26B512, "rtpkcs11ecp"},
        {gostsoft::Curve::Tc26A256, "pkcs11-angara"},
    };
    for (const auto& [curve, name] : curves) {
        auto key = gostsoft::Key::generate(curve);
        SCOPED_TRACE(key.paramSetOid());
        Module& m = open(name);
        CK_SESSION_HANDLE h = session(m, 0);
        const Bytes digest = key.digest(text("statement for March"));
        gostsoft::writeFile(m_dir.file("key.pem"), key.privateKeyPem());
        gostsoft::writeFile(m_dir.file("digest.bin"), digest);
        auto r = gostsoft::openssl("pkeyutl -sign -inkey " + m_dir.file("key.pem") + " -in " +
                                   m_dir.file("digest.bin") + " -out " + m_dir.file("sig.bin"));
        ASSERT_EQ(r.status, 0) << r.output;
        const Bytes signature = gostsoft::readFile(m_dir.file("sig.bin"));

        // A session public-key object, as the signing library builds it for verification.
        const CK_ULONG type = key.is512() ? CKK_GOSTR3410_512 : CKK_GOSTR3410;
        const Bytes value = key.publicKey(), params = derOid(key.paramSetOid());
        std::vector<CK_ATTRIBUTE> t = {attr(CKA_CLASS, CLASS_PUBLIC), attr(CKA_VERIFY, YES),
                                       attr(CKA_KEY_TYPE, type), attr(CKA_GOSTR3410_PARAMS, params),
                                       attr(CKA_VALUE, value)};
        CK_OBJECT_HANDLE object = 0;
        ASSERT_EQ(m->C_CreateObject(h, t.data(), t.size(), &object), CKR_OK);
        const CK_MECHANISM_TYPE mech = key.is512() ? CKM_GOSTR3410_512 : CKM_GOSTR3410;
        EXPECT_EQ(tokenVerify(m, h, mech, object, digest, signature), CKR_OK);
        EXPECT_EQ(tokenVerify(m, h, mech, object, digest, halvesSwapped(signature)), CKR_SIGNATURE_INVALID);
        EXPECT_EQ(tokenVerify(m, h, mech, object, reversed(digest), signature), CKR_SIGNATURE_INVALID);
        EXPECT_EQ(tokenVerify(m, h, mech, object, digest, Bytes(signature.begin(), signature.end() - 1)),
                  CKR_SIGNATURE_LEN_RANGE);
        // The wrong mechanism for the key size.
        EXPECT_EQ(
            tokenVerify(m, h, key.is512() ? CKM_GOSTR3410 : CKM_GOSTR3410_512, object, digest, signature),
            CKR_KEY_TYPE_INCONSISTENT);
        EXPECT_EQ(m->C_Finalize(nullptr), CKR_OK);
        m_initialised.pop_back();
    }
}

TEST_F(ConventionsTest, DigestsEqualLibgcrypt)
{
    struct DigestCase {
        CK_MECHANISM_TYPE mechanism;
        const char* parameter;
        int gcrypt;
    };
    const DigestCase cases[] = {
        {CKM_GOSTR3411, nullptr, GCRY_MD_GOSTR3411_CP},
        {CKM_GOSTR3411, "1.2.643.2.2.30.1", GCRY_MD_GOSTR3411_CP},
        {CKM_GOSTR3411, "1.2.643.2.2.30.0", GCRY_MD_GOSTR3411_94},
        {CKM_GOSTR3411_12_256, nullptr, GCRY_MD_STRIBOG256},
        {CKM_GOSTR3411_12_512, nullptr, GCRY_MD_STRIBOG512},
        {CKM_SHA_1, nullptr, GCRY_MD_SHA1},
        {CKM_SHA224, nullptr, GCRY_MD_SHA224},
        {CKM_SHA256, nullptr, GCRY_MD_SHA256},
        {CKM_SHA384, nullptr, GCRY_MD_SHA384},
        {CKM_SHA512, nullptr, GCRY_MD_SHA512},
    };
    Module& m = open("jcPKCS11-2");
    CK_SESSION_HANDLE h = session(m, 0, false);
    Bytes big(100000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mechanism);
        const Bytes parameter = c.parameter ? derOid(c.parameter) : Bytes{};
        for (const Bytes& data : {text("abc"), big}) {
            Bytes expected(gcry_md_get_algo_dlen(c.gcrypt));
            gcry_md_hash_buffer(c.gcrypt, expected.data(), data.data(), data.size());
            EXPECT_EQ(tokenDigest(m, h, c.mechanism, data, parameter), expected);
        }
        // In parts, split anywhere.
        CK_MECHANISM mechanism{c.mechanism,
                               parameter.empty() ? nullptr : const_cast<std::uint8_t*>(parameter.data()),
                               parameter.size()};
        ASSERT_EQ(m->C_DigestInit(h, &mechanism), CKR_OK);
        ASSERT_EQ(m->C_DigestUpdate(h, big.data(), 33), CKR_OK);
        ASSERT_EQ(m->C_DigestUpdate(h, big.data() + 33, big.size() - 33), CKR_OK);
        Bytes out(64);
        CK_ULONG n = 1;
        EXPECT_EQ(m->C_DigestFinal(h, out.data(), &n), CKR_BUFFER_TOO_SMALL);
        n = out.size();
        ASSERT_EQ(m->C_DigestFinal(h, out.data(), &n), CKR_OK);
        out.resize(n);
        EXPECT_EQ(out, tokenDigest(m, h, c.mechanism, big, parameter));
    }
    // Known answer of GOST R 34.11-94 with the CryptoPro parameters, as the tools print it.
    EXPECT_EQ(gostsoft::toHex(tokenDigest(m, h, CKM_GOSTR3411, text("abc"))),
              "B285056DBF18D7392D7677369524DD14747459ED8143997E163B2986F92FD42C");
    Bytes unknownSet = derOid("1.2.643.2.2.30.7");
    CK_MECHANISM bad{CKM_GOSTR3411, unknownSet.data(), unknownSet.size()};
    EXPECT_EQ(m->C_DigestInit(h, &bad), CKR_MECHANISM_PARAM_INVALID);
    CK_MECHANISM md5{0x210, nullptr, 0};
    EXPECT_EQ(m->C_DigestInit(h, &md5), CKR_MECHANISM_INVALID);
}

TEST_F(ConventionsTest, RutokenRsaKeysSignPkcs1)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE h = userSession(m);
    auto generateRsa = [&](CK_ULONG bits, CK_OBJECT_HANDLE& pub, CK_OBJECT_HANDLE& priv) {
        Bytes id{1, 2};
        CK_ULONG rsa = CKK_RSA;
        std::vector<CK_ATTRIBUTE> pubT = {attr(CKA_TOKEN, YES),          attr(CKA_ID, id),
                                          attr(CKA_CLASS, CLASS_PUBLIC), attr(CKA_KEY_TYPE, rsa),
                                          attr(CKA_ENCRYPT, YES),        attr(CKA_PRIVATE, NO),
                                          attr(CKA_MODULUS_BITS, bits)};
        std::vector<CK_ATTRIBUTE> privT = {attr(CKA_TOKEN, YES),           attr(CKA_ID, id),
                                           attr(CKA_CLASS, CLASS_PRIVATE), attr(CKA_KEY_TYPE, rsa),
                                           attr(CKA_DECRYPT, YES),         attr(CKA_PRIVATE, YES)};
        CK_MECHANISM mechanism{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        return m->C_GenerateKeyPair(h, &mechanism, pubT.data(), pubT.size(), privT.data(), privT.size(), &pub,
                                    &priv);
    };
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    EXPECT_EQ(generateRsa(1000, pub, priv), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(generateRsa(4352, pub, priv), CKR_KEY_SIZE_RANGE);
    ASSERT_EQ(generateRsa(1024, pub, priv), CKR_OK);

    // A SHA-256 DigestInfo, signed as given.
    Bytes digestInfo = gostsoft::derElement(
        0x30, derConcat({derElement(0x30, derConcat({derOid("2.16.840.1.101.3.4.2.1"), Bytes{0x05, 0x00}})),
                         derElement(0x04, gostsoft::sha256(text("invoice")))}));
    const Bytes signature = tokenSign(m, h, CKM_RSA_PKCS, priv, digestInfo);
    EXPECT_EQ(signature.size(), 128u);
    const Bytes spki = rsaSpki(read(m, h, pub, CKA_MODULUS), read(m, h, pub, CKA_PUBLIC_EXPONENT));
    EXPECT_TRUE(opensslVerifies(spki, digestInfo, signature));
    EXPECT_EQ(tokenVerify(m, h, CKM_RSA_PKCS, pub, digestInfo, signature), CKR_OK);
    Bytes tampered = signature;
    tampered[5] ^= 1;
    EXPECT_EQ(tokenVerify(m, h, CKM_RSA_PKCS, pub, digestInfo, tampered), CKR_SIGNATURE_INVALID);

    // Angara and JaCarta have no RSA.
    EXPECT_EQ(m->C_Finalize(nullptr), CKR_OK);
    m_initialised.pop_back();
    Module& angara = open("pkcs11-angara");
    CK_MECHANISM_INFO info{};
    EXPECT_EQ(angara->C_GetMechanismInfo(0, CKM_RSA_PKCS_KEY_PAIR_GEN, &info), CKR_MECHANISM_INVALID);
}

TEST_F(ConventionsTest, ModelsGenerateOnlyTheirParameterSets)
{
    struct Case {
        const char* module;
        CK_MECHANISM_TYPE mechanism;
        const char* paramSet;
        CK_RV expected;
    };
    const Case cases[] = {
        {"rtpkcs11ecp", CKM_GOSTR3410_KEY_PAIR_GEN, "1.2.643.2.2.35.3", CKR_OK},
        {"rtpkcs11ecp", CKM_GOSTR3410_KEY_PAIR_GEN, "1.2.643.7.1.2.1.1.1", CKR_ATTRIBUTE_VALUE_INVALID},
        {"rtpkcs11ecp", CKM_GOSTR3410_KEY_PAIR_GEN, "1.2.643.7.1.2.1.2.1", CKR_ATTRIBUTE_VALUE_INVALID},
        {"rtpkcs11ecp", CKM_GOSTR3410_512_KEY_PAIR_GEN, "1.2.643.7.1.2.1.2.3", CKR_ATTRIBUTE_VALUE_INVALID},
        {"pkcs11-angara", CKM_GOSTR3410_512_KEY_PAIR_GEN, "1.2.643.7.1.2.1.2.3", CKR_OK},
        {"jcPKCS11-2", CKM_GOSTR3410_KEY_PAIR_GEN, "1.2.643.2.2.35.2", CKR_ATTRIBUTE_VALUE_INVALID},
        {"jcPKCS11-2", CKM_GOSTR3410_512_KEY_PAIR_GEN, "1.2.643.7.1.2.1.2.1", CKR_MECHANISM_INVALID},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.module) + " " + c.paramSet);
        Module& m = open(c.module);
        CK_SESSION_HANDLE h = userSession(m);
        CK_OBJECT_HANDLE pub = 0, priv = 0;
        EXPECT_EQ(generate(m, h, c.mechanism, c.paramSet, pub, priv), c.expected);
        EXPECT_EQ(m->C_Finalize(nullptr), CKR_OK);
        m_initialised.pop_back();
    }
}

TEST_F(ConventionsTest, KeyGenerationNeedsLoginAndRoom)
{
    devices().update("JC1", [](labdev::Device& d) { d.setInt("max-objects", 3); });
    Module& m = open("jcPKCS11-2");
    CK_SESSION_HANDLE h = session(m, 0);
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    EXPECT_EQ(generate(m, h, CKM_GOSTR3410_KEY_PAIR_GEN, "1.2.643.2.2.35.1", pub, priv),
              CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(login(m, h, "12345678"), CKR_OK);
    ASSERT_EQ(generate(m, h, CKM_GOSTR3410_KEY_PAIR_GEN, "1.2.643.2.2.35.1", pub, priv), CKR_OK);
    // Two more objects do not fit in a token holding three.
    EXPECT_EQ(generate(m, h, CKM_GOSTR3410_KEY_PAIR_GEN, "1.2.643.2.2.35.1", pub, priv), CKR_DEVICE_MEMORY);
    EXPECT_EQ(device("JC1").objects.size(), 2u);

    // Signing input must be one digest; a short buffer keeps the operation.
    CK_MECHANISM mechanism{CKM_GOSTR3410, nullptr, 0};
    Bytes digest(32, 0x5A), shortDigest(20, 0x5A), sig(64);
    CK_ULONG n = 0;
    EXPECT_EQ(m->C_Sign(h, digest.data(), digest.size(), sig.data(), &n), CKR_OPERATION_NOT_INITIALIZED);
    ASSERT_EQ(m->C_SignInit(h, &mechanism, priv), CKR_OK);
    EXPECT_EQ(m->C_Sign(h, shortDigest.data(), shortDigest.size(), sig.data(), &n), CKR_DATA_LEN_RANGE);
    ASSERT_EQ(m->C_SignInit(h, &mechanism, priv), CKR_OK);
    n = 10;
    EXPECT_EQ(m->C_Sign(h, digest.data(), digest.size(), sig.data(), &n), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(n, 64u);
    EXPECT_EQ(m->C_Sign(h, digest.data(), digest.size(), sig.data(), &n), CKR_OK);
    // A public key cannot sign.
    EXPECT_EQ(m->C_SignInit(h, &mechanism, pub), CKR_KEY_TYPE_INCONSISTENT);
}

} // namespace
} // namespace labtest
