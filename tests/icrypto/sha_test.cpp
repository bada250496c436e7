// The SHA family against OpenSSL and the FIPS 180-4 examples, on each code
// path the CPU has.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "icrypto/sha.h"
#include "icrypto/sha_path.h"
#include "reference.h"

using namespace icrypto;
using ref::Bytes;

namespace
{

struct Algorithm {
    const char* name; // OpenSSL name
    const char* oid;
    std::size_t size;  // digest bytes
    std::size_t block; // block bytes
    Bytes (*oneShot)(const Bytes&);
};

const Algorithm ALGORITHMS[] = {
    {"SHA1", "1.3.14.3.2.26", 20, 64, sha1},
    {"SHA224", "2.16.840.1.101.3.4.2.4", 28, 64, sha224},
    {"SHA256", "2.16.840.1.101.3.4.2.1", 32, 64, sha256},
    {"SHA384", "2.16.840.1.101.3.4.2.2", 48, 128, sha384},
    {"SHA512", "2.16.840.1.101.3.4.2.3", 64, 128, sha512},
};

// Runs every test on each code path this CPU has: the fastest (SHA
// extensions, AVX-512 for SHA-384/512), the AVX2 code for SHA-384/512 where
// AVX-512 would otherwise be chosen, and the portable code.
class Sha : public ::testing::TestWithParam<ShaPath>
{
  protected:
    void SetUp() override
    {
        if (GetParam() == ShaPath::NoAvx512 && !shaAcceleration().sha512Avx512)
            GTEST_SKIP() << "without AVX-512 the fastest path already is the AVX2 one";
        forceShaPath(GetParam());
    }
    void TearDown() override { forceShaPath(ShaPath::Fastest); }
};

std::string pathName(const ::testing::TestParamInfo<ShaPath>& info)
{
    switch (info.param) {
    case ShaPath::Fastest:
        return "Fastest";
    case ShaPath::NoAvx512:
        return "NoAvx512";
    case ShaPath::Portable:
        return "Portable";
    }
    return "Unknown";
}

} // namespace

TEST_P(Sha, KnownAnswers)
{
    struct Case {
        const char* oid;
        std::string message;
        const char* digest;
    };
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const Case cases[] = {
        {"1.3.14.3.2.26", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"1.3.14.3.2.26", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"1.3.14.3.2.26", two, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {"2.16.840.1.101.3.4.2.4", "", "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
        {"2.16.840.1.101.3.4.2.4", "abc", "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
        {"2.16.840.1.101.3.4.2.1", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"2.16.840.1.101.3.4.2.1", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"2.16.840.1.101.3.4.2.1", two, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"2.16.840.1.101.3.4.2.2", "",
         "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
        {"2.16.840.1.101.3.4.2.2", "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {"2.16.840.1.101.3.4.2.3", "",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b"
         "931bd4741"
         "7a81a538327af927da3e"},
        {"2.16.840.1.101.3.4.2.3", "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454"
         "d4423643c"
         "e80e2a9ac94fa54ca49f"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.oid) + " / " + c.message);
        EXPECT_EQ(ref::toHex(getShaEngine(c.oid)->digest(ref::text(c.message))), c.digest);
    }
}

TEST_P(Sha, EqualsOpenSslOverLengthsAndSplits)
{
    const Bytes data = ref::pattern(70000, 21);
    std::vector<std::size_t> lengths = {0,   1,   3,   55,  56,  57,  63,  64,  65,  111,  112,
                                        113, 119, 120, 127, 128, 129, 191, 255, 256, 1000, 70000};
    std::mt19937 rng(22);
    for (const Algorithm& a : ALGORITHMS) {
        const std::shared_ptr<ShaEngine> engine = getShaEngine(a.oid);
        for (std::size_t n : lengths) {
            SCOPED_TRACE(std::string(a.name) + ", length " + std::to_string(n));
            const Bytes msg(data.begin(), data.begin() + n);
            const Bytes expected = ref::opensslDigest(a.name, msg);
            ASSERT_EQ(expected.size(), a.size);
            EXPECT_EQ(a.oneShot(msg), expected);
            // Random pieces (some empty, some longer than a block) on an
            // engine that was used before: doFinal leaves it ready.
            for (std::size_t pos = 0; pos < n;) {
                const std::size_t k = std::min<std::size_t>(n - pos, rng() % (3 * a.block));
                engine->update(Bytes(msg.begin() + pos, msg.begin() + pos + k));
                pos += k;
            }
            EXPECT_EQ(engine->doFinal(), expected);
        }
    }
}

// Every length up to five blocks in one call: whole blocks in pairs and
// singly, and each place the padding can fall.
TEST_P(Sha, EqualsOpenSslForEveryShortLength)
{
    const Bytes data = ref::pattern(640, 23);
    for (const Algorithm& a : ALGORITHMS) {
        for (std::size_t n = 0; n <= data.size(); ++n) {
            const Bytes msg(data.begin(), data.begin() + n);
            ASSERT_EQ(a.oneShot(msg), ref::opensslDigest(a.name, msg)) << a.name << ", length " << n;
        }
    }
}

TEST_P(Sha, DoFinalTwiceGivesTheEmptyDigest)
{
    for (const Algorithm& a : ALGORITHMS) {
        SCOPED_TRACE(a.name);
        const std::shared_ptr<ShaEngine> engine = getShaEngine(a.oid);
        engine->update(ref::text("abc"));
        EXPECT_EQ(engine->doFinal(), ref::opensslDigest(a.name, ref::text("abc")));
        EXPECT_EQ(engine->doFinal(), ref::opensslDigest(a.name, {}));
        // init() drops what was fed so far.
        engine->update(ref::text("junk"));
        engine->init();
        EXPECT_EQ(engine->digest(ref::text("abc")), ref::opensslDigest(a.name, ref::text("abc")));
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha,
                         ::testing::Values(ShaPath::Fastest, ShaPath::NoAvx512, ShaPath::Portable), pathName);

TEST(ShaEngineSelection, UnknownOidThrows)
{
    for (const char* oid : {"1.2.643.7.1.1.2.2", "", "2.16.840.1.101.3.4.2.1.0", "1.3.14.3.2.26 "}) {
        EXPECT_THROW(getShaEngine(oid), UnsupportedShaAlgorithm) << oid;
    }
    try {
        getShaEngine("1.2.643.7.1.1.2.2");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Unsupported SHA algorithm");
    }
}
