// Keys, hashes and signatures of the simulated CSP, checked against
// libgcrypt (hash values) and OpenSSL's gost engine (signatures).
#include <gcrypt.h>

#include <algorithm>

#include "csp_fixture.h"

namespace labcsptest
{
namespace
{
using gostsoft::derConcat;
using gostsoft::derElement;
using gostsoft::derOid;

Bytes gcryptHash(int md, const Bytes& data)
{
    Bytes out(gcry_md_get_algo_dlen(md));
    gcry_md_hash_buffer(md, out.data(), data.data(), data.size());
    return out;
}

// The CSP's signature (r then s, each little-endian) reversed: s||r big-endian.
Bytes reversed(Bytes b)
{
    std::reverse(b.begin(), b.end());
    return b;
}

// Each half reversed in place: r||s, which openssl refuses.
Bytes halvesReversed(Bytes b)
{
    std::reverse(b.begin(), b.begin() + b.size() / 2);
    std::reverse(b.begin() + b.size() / 2, b.end());
    return b;
}

struct GostCase {
    DWORD type;
    const char* paramSet;
    ALG_ID keyAlg;
    const char* keyAlgorithmOid;
    const char* digestParamSet; // in the blob
    const char* spkiDigest;     // in the SubjectPublicKeyInfo, empty for none
    ALG_ID hashAlg;
    int md;
};

const GostCase GOST_CASES[] = {
    {PROV_GOST_2001_DH, "1.2.643.2.2.35.1", CALG_GOST_R3410_2001, "1.2.643.2.2.19", "1.2.643.2.2.30.1",
     "1.2.643.2.2.30.1", CALG_GOST_R3411_94, GCRY_MD_GOSTR3411_CP},
    {PROV_GOST_2001_DH, "1.2.643.2.2.36.0", CALG_GOST_R3410_2001, "1.2.643.2.2.19", "1.2.643.2.2.30.1",
     "1.2.643.2.2.30.1", CALG_GOST_R3411_94, GCRY_MD_GOSTR3411_CP},
    {PROV_GOST_2012_256, "1.2.643.7.1.2.1.1.1", CALG_GOST_R3410_2012_256, "1.2.643.7.1.1.1.1",
     "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.2.2", CALG_GOST_R3411_2012_256, GCRY_MD_STRIBOG256},
    {PROV_GOST_2012_256, "1.2.643.7.1.2.1.1.2", CALG_GOST_R3410_2012_256, "1.2.643.7.1.1.1.1",
     "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.2.2", CALG_GOST_R3411_2012_256, GCRY_MD_STRIBOG256},
    {PROV_GOST_2012_256, "1.2.643.2.2.35.3", CALG_GOST_R3410_2012_256, "1.2.643.7.1.1.1.1",
     "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.2.2", CALG_GOST_R3411_2012_256, GCRY_MD_STRIBOG256},
    {PROV_GOST_2012_512, "1.2.643.7.1.2.1.2.1", CALG_GOST_R3410_2012_512, "1.2.643.7.1.1.1.2",
     "1.2.643.7.1.1.2.3", "", CALG_GOST_R3411_2012_512, GCRY_MD_STRIBOG512},
    {PROV_GOST_2012_512, "1.2.643.7.1.2.1.2.3", CALG_GOST_R3410_2012_512, "1.2.643.7.1.1.1.2",
     "1.2.643.7.1.1.2.3", "", CALG_GOST_R3411_2012_512, GCRY_MD_STRIBOG512},
};

class KeysTest : public CspTest
{
};

TEST_F(KeysTest, GostKeysSignAsTheCspDoesAndOpensslVerifies)
{
    gostsoft::TempDir work;
    const Bytes message = bytes("payment order 42");
    for (const GostCase& c : GOST_CASES) {
        SCOPED_TRACE(c.paramSet + std::string(" type ") + std::to_string(c.type));
        HCRYPTKEY key = 0;
        HCRYPTPROV h = newKey(std::string("key-") + c.paramSet, c.type, c.paramSet, key);
        Bytes keyAlg = read(a().getKeyParam, key, KP_ALGID);
        EXPECT_EQ(dwordAt(keyAlg, 0), c.keyAlg);
        Bytes set = read(a().getKeyParam, key, KP_PARAMSET_OID);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(set.data())), c.paramSet);
        EXPECT_EQ(read(a().getKeyParam, key, KP_KEYSPEC), (Bytes{AT_KEYEXCHANGE, 0, 0, 0}));

        // The blob: header, ALG_ID, "MAG1", bit length, the two OIDs, then X||Y.
        const Bytes blob = exportPublic(key);
        const std::size_t size = c.type == PROV_GOST_2012_512 ? 128 : 64;
        Bytes oids = derConcat({derOid(c.paramSet), derOid(c.digestParamSet)});
        ASSERT_EQ(blob.size(), 16 + oids.size() + size);
        EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 4), (Bytes{0x06, 0x20, 0x00, 0x00}));
        EXPECT_EQ(dwordAt(blob, 4), c.keyAlg);
        EXPECT_EQ(std::string(blob.begin() + 8, blob.begin() + 12), "MAG1");
        EXPECT_EQ(dwordAt(blob, 12), size * 8);
        EXPECT_EQ(Bytes(blob.begin() + 16, blob.begin() + 16 + oids.size()), oids);
        const Bytes publicLe(blob.end() - size, blob.end());
        const Bytes spki = gostSpki(c.keyAlgorithmOid, c.paramSet, c.spkiDigest, publicLe);
        const Bytes digest = gcryptHash(c.md, message);

        // Hashed by the CSP, and a ready value set directly: both verify.
        HCRYPTHASH hashed = hashOf(h, c.hashAlg, message);
        const Bytes first = sign(hashed);
        HCRYPTHASH ready = 0;
        ASSERT_TRUE(a().createHash(h, c.hashAlg, 0, 0, &ready));
        ASSERT_TRUE(a().setHashParam(ready, HP_HASHVAL, digest.data(), 0));
        const Bytes second = sign(ready);
        ASSERT_EQ(first.size(), size);
        EXPECT_NE(first, second); // GOST signatures are randomised
        EXPECT_TRUE(gostsoft::opensslVerifies(work, "first", spki, digest, reversed(first)));
        EXPECT_TRUE(gostsoft::opensslVerifies(work, "second", spki, digest, reversed(second)));
        EXPECT_FALSE(gostsoft::opensslVerifies(work, "as given", spki, digest, first));
        EXPECT_FALSE(gostsoft::opensslVerifies(work, "halves", spki, digest, halvesReversed(first)));

        // The CSP verifies its own form under the imported blob, and refuses other data.
        HCRYPTPROV verifier = acquire("", c.type, CRYPT_VERIFYCONTEXT);
        HCRYPTKEY imported = 0;
        ASSERT_TRUE(a().importKey(verifier, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &imported))
            << hexText(a().lastError());
        HCRYPTHASH good = hashOf(verifier, c.hashAlg, message);
        EXPECT_TRUE(
            a().verifySignature(good, first.data(), static_cast<DWORD>(first.size()), imported, nullptr, 0))
            << hexText(a().lastError());
        HCRYPTHASH other = hashOf(verifier, c.hashAlg, bytes("payment order 43"));
        EXPECT_EQ(failure(a().verifySignature(other, first.data(), static_cast<DWORD>(first.size()), imported,
                                              nullptr, 0)),
                  NTE_BAD_SIGNATURE);

        for (HCRYPTHASH x : {hashed, ready, good, other})
            a().destroyHash(x);
        a().destroyKey(imported);
        a().destroyKey(key);
        a().release(verifier, 0);
        a().release(h, 0);
    }
}

TEST_F(KeysTest, RsaKeysSignLittleEndianPkcs1AndOpensslVerifies)
{
    HCRYPTPROV h = acquire("rsa", PROV_RSA_AES, CRYPT_NEWKEYSET);
    HCRYPTKEY key = 0;
    ASSERT_TRUE(a().genKey(h, AT_SIGNATURE, 1024u << 16, &key)) << hexText(a().lastError());
    EXPECT_EQ(read(a().getKeyParam, key, KP_KEYLEN), (Bytes{0x00, 0x04, 0, 0}));

    // BLOBHEADER, RSAPUBKEY ("RSA1", bits, exponent), modulus little-endian.
    const Bytes blob = exportPublic(key);
    ASSERT_EQ(blob.size(), 20u + 128);
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 4), (Bytes{0x06, 0x02, 0x00, 0x00}));
    EXPECT_EQ(dwordAt(blob, 4), CALG_RSA_SIGN);
    EXPECT_EQ(dwordAt(blob, 8), RSA1_MAGIC);
    EXPECT_EQ(dwordAt(blob, 12), 1024u);
    const DWORD exponent = dwordAt(blob, 16);
    Bytes n(blob.rbegin(), blob.rbegin() + 128);
    Bytes e;
    for (int shift = 24; shift >= 0; shift -= 8)
        if (exponent >> shift || !e.empty())
            e.push_back(static_cast<std::uint8_t>(exponent >> shift));
    auto integer = [](Bytes v) {
        if (v[0] & 0x80)
            v.insert(v.begin(), 0);
        return derElement(0x02, v);
    };
    const Bytes rsaKey = derElement(0x30, derConcat({integer(n), integer(e)}));
    const Bytes spki = derElement(
        0x30, derConcat({derElement(0x30, derConcat({derOid("1.2.840.113549.1.1.1"), Bytes{0x05, 0x00}})),
                         derElement(0x03, derConcat({Bytes{0}, rsaKey}))}));

    const Bytes message = bytes("statement");
    HCRYPTHASH hash = hashOf(h, CALG_SHA_256, message);
    const Bytes signature = sign(hash, AT_SIGNATURE);
    ASSERT_EQ(signature.size(), 128u);
    const Bytes bigEndian(signature.rbegin(), signature.rend());
    gostsoft::TempDir work;
    auto r = gostsoft::opensslVerify(work, "rsa", spki, gostsoft::sha256(message), bigEndian,
                                     "-pkeyopt digest:sha256");
    EXPECT_NE(r.output.find("Signature Verified Successfully"), std::string::npos) << r.output;

    // The blob imported into a verify context checks the CSP's own form.
    HCRYPTPROV verifier = acquire("", PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    HCRYPTKEY imported = 0;
    ASSERT_TRUE(a().importKey(verifier, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &imported))
        << hexText(a().lastError());
    for (const Bytes* form : {&signature, &bigEndian}) {
        HCRYPTHASH check = hashOf(verifier, CALG_SHA_256, message);
        BOOL ok =
            a().verifySignature(check, form->data(), static_cast<DWORD>(form->size()), imported, nullptr, 0);
        EXPECT_EQ(ok, form == &signature ? ORMID_CAPI_TRUE : ORMID_CAPI_FALSE);
        a().destroyHash(check);
    }
    a().destroyKey(imported);
    a().release(verifier, 0);

    // A GOST hash is not signed with an RSA key (nor made in an RSA context).
    HCRYPTHASH gost = 0;
    EXPECT_EQ(failure(a().createHash(h, CALG_GOST_R3411_2012_256, 0, 0, &gost)), NTE_BAD_ALGID);
    a().destroyHash(hash);
    a().destroyKey(key);
    a().release(h, 0);
}

TEST_F(KeysTest, HashValuesAreLibgcryptsInTheOrderTheHashProduces)
{
    const Bytes data = bytes("The quick brown fox jumps over the lazy dog");
    struct Case {
        ALG_ID alg;
        const char* paramSet;
        int md;
    };
    const Case cases[] = {
        {CALG_GOST_R3411_94, nullptr, GCRY_MD_GOSTR3411_CP},
        {CALG_GOST_R3411_94, "1.2.643.2.2.30.0", GCRY_MD_GOSTR3411_94},
        {CALG_GOST_R3411_94, "1.2.643.2.2.30.1", GCRY_MD_GOSTR3411_CP},
        {CALG_GOST_R3411_2012_256, nullptr, GCRY_MD_STRIBOG256},
        {CALG_GOST_R3411_2012_512, nullptr, GCRY_MD_STRIBOG512},
        {CALG_SHA1, nullptr, GCRY_MD_SHA1},
        {CALG_SHA_256, nullptr, GCRY_MD_SHA256},
        {CALG_SHA_384, nullptr, GCRY_MD_SHA384},
        {CALG_SHA_512, nullptr, GCRY_MD_SHA512},
    };
    HCRYPTPROV h = acquire("", PROV_GOST_2012_256, CRYPT_VERIFYCONTEXT);
    for (const Case& c : cases) {
        SCOPED_TRACE(hexText(c.alg) + " " + (c.paramSet ? c.paramSet : "default"));
        HCRYPTHASH hash = 0;
        ASSERT_TRUE(a().createHash(h, c.alg, 0, 0, &hash));
        if (c.paramSet) {
            ASSERT_TRUE(
                a().setHashParam(hash, HP_PARAMSET_OID, reinterpret_cast<const BYTE*>(c.paramSet), 0));
        }
        // Two pieces hash as one.
        ASSERT_TRUE(a().hashData(hash, data.data(), 10, 0));
        ASSERT_TRUE(a().hashData(hash, data.data() + 10, static_cast<DWORD>(data.size() - 10), 0));
        const Bytes expected = gcryptHash(c.md, data);
        EXPECT_EQ(read(a().getHashParam, hash, HP_HASHSIZE),
                  (Bytes{static_cast<std::uint8_t>(expected.size()), 0, 0, 0}));
        EXPECT_EQ(read(a().getHashParam, hash, HP_HASHVAL), expected);
        // A finished hash takes no more data.
        EXPECT_EQ(failure(a().hashData(hash, data.data(), 1, 0)), NTE_BAD_HASH_STATE);
        a().destroyHash(hash);
    }
    a().release(h, 0);
}

TEST_F(KeysTest, KeyGenerationRefusals)
{
    // Parameter sets that do not fit the provider type, algorithms of another type.
    HCRYPTPROV h = acquire("refusals", PROV_GOST_2012_256, CRYPT_NEWKEYSET);
    for (const char* set : {"1.2.643.7.1.2.1.2.1", "1.2.643.2.2.99", "not an oid"})
        EXPECT_EQ(failure(a().setProvParam(h, PP_KEY_PARAMSET_OID, reinterpret_cast<const BYTE*>(set), 0)),
                  NTE_BAD_DATA)
            << set;
    HCRYPTKEY key = 0;
    EXPECT_EQ(failure(a().genKey(h, CALG_GOST_R3410_2012_512, 0, &key)), NTE_BAD_ALGID);
    EXPECT_EQ(failure(a().genKey(h, CALG_RSA_SIGN, 0, &key)), NTE_BAD_ALGID);
    EXPECT_EQ(failure(a().getUserKey(h, AT_KEYEXCHANGE, &key)), NTE_NO_KEY);
    // The default parameter set; a second key in the container is refused.
    ASSERT_TRUE(a().genKey(h, AT_SIGNATURE, 0, &key));
    EXPECT_EQ(read(a().getKeyParam, key, KP_PARAMSET_OID), bytes(std::string("1.2.643.2.2.35.1") + '\0'));
    HCRYPTKEY second = 0;
    EXPECT_EQ(failure(a().genKey(h, AT_KEYEXCHANGE, 0, &second)), NTE_EXISTS);
    // The key answers for its own specification only; keys never leave the container.
    EXPECT_EQ(failure(a().getUserKey(h, AT_KEYEXCHANGE, &second)), NTE_NO_KEY);
    DWORD size = 0;
    EXPECT_EQ(failure(a().exportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size)), NTE_BAD_KEY_STATE);
    // A Streebog-512 hash is not signed with a 256-bit key.
    HCRYPTHASH hash = hashOf(h, CALG_GOST_R3411_2012_512, bytes("x"));
    EXPECT_EQ(failure(a().signHash(hash, AT_SIGNATURE, nullptr, 0, nullptr, &size)), NTE_BAD_ALGID);
    a().destroyHash(hash);
    a().destroyKey(key);
    a().release(h, 0);

    // A verify context has no private key to make or use.
    HCRYPTPROV verify = acquire("refusals", PROV_GOST_2012_256, CRYPT_VERIFYCONTEXT);
    EXPECT_EQ(failure(a().genKey(verify, AT_KEYEXCHANGE, 0, &key)), NTE_PERM);
    ASSERT_TRUE(a().getUserKey(verify, AT_SIGNATURE, &key)); // its public part
    hash = hashOf(verify, CALG_GOST_R3411_2012_256, bytes("x"));
    EXPECT_EQ(failure(a().signHash(hash, AT_SIGNATURE, nullptr, 0, nullptr, &size)), NTE_PERM);
    a().destroyHash(hash);
    a().destroyKey(key);
    a().release(verify, 0);
}

TEST_F(KeysTest, BadBlobsAreRefused)
{
    HCRYPTKEY key = 0;
    HCRYPTPROV h = newKey("blob", PROV_GOST_2012_256, "", key);
    const Bytes good = exportPublic(key);
    HCRYPTPROV verify = acquire("", PROV_GOST_2012_256, CRYPT_VERIFYCONTEXT);
    auto importError = [&](const Bytes& blob) {
        HCRYPTKEY k = 0;
        BOOL ok = a().importKey(verify, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &k);
        if (ok)
            a().destroyKey(k);
        return failure(ok);
    };
    Bytes shortBlob(good.begin(), good.end() - 1);
    Bytes badMagic = good;
    badMagic[8] = 'X';
    Bytes badType = good;
    badType[0] = PRIVATEKEYBLOB;
    Bytes badBits = good;
    badBits[13] = 4; // 1024 bits for a 256-bit parameter set
    Bytes unknownSet = good;
    unknownSet[16 + 2 + good[17] - 1] ^= 0x7F; // last arc of the parameter-set OID
    EXPECT_EQ(importError(shortBlob), NTE_BAD_DATA);
    EXPECT_EQ(importError(Bytes(good.begin(), good.begin() + 10)), NTE_BAD_DATA);
    EXPECT_EQ(importError(badMagic), NTE_BAD_DATA);
    EXPECT_EQ(importError(badType), NTE_BAD_TYPE);
    EXPECT_EQ(importError(badBits), NTE_BAD_DATA);
    EXPECT_EQ(importError(unknownSet), NTE_BAD_DATA);
    // A GOST key has no place in an RSA context.
    HCRYPTPROV rsa = acquire("", PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    HCRYPTKEY k = 0;
    EXPECT_EQ(failure(a().importKey(rsa, good.data(), static_cast<DWORD>(good.size()), 0, 0, &k)),
              NTE_BAD_ALGID);
    a().release(rsa, 0);
    a().release(verify, 0);
    a().destroyKey(key);
    a().release(h, 0);
}

} // namespace
} // namespace labcsptest
