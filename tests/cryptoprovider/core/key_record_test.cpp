#include "cryptoprovider/core/key_record.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "cryptoprovider/core/errors.h"
#include "gost_algorithms.h"
#include "x509/errors.h"

namespace
{

TEST(KeyRecord, SignAlgorithmOfEachParameterSet)
{
    const struct {
        const char* oid;
        const AlgorithmId* expected;
    } cases[] = {
        {"1.2.643.2.2.35.1", &GOST256},    {"1.2.643.2.2.35.2", &GOST256},
        {"1.2.643.2.2.35.3", &GOST256},    {"1.2.643.2.2.36.0", &GOST256},
        {"1.2.643.2.2.36.1", &GOST256},    {"1.2.643.7.1.2.1.1.1", &GOST256},
        {"1.2.643.7.1.2.1.2.1", &GOST512}, {"1.2.643.7.1.2.1.2.2", &GOST512},
        {"1.2.643.7.1.2.1.2.3", &GOST512}, {"1.2.840.113549.1.1.1", &RSA_ENCRYPTION},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(findSignAlgorithmIdByParamsId(c.oid), *c.expected) << c.oid;
    }
    // Sets the table leaves out, near misses and the empty text.
    for (const char* oid : {"1.2.643.7.1.2.1.1.2", "1.2.643.2.2.35.0", "1.2.643.2.2.35.1 ", ""}) {
        EXPECT_THROW(findSignAlgorithmIdByParamsId(oid), UnsupportedAlgorithm) << oid;
    }
}

TEST(KeyRecord, FullAliasJoinsWithUnderscore)
{
    EXPECT_EQ(fullKeyAlias("bank", "key 1"), "bank_key 1");
    EXPECT_EQ(fullKeyAlias("", ""), "_");
}

TEST(KeyRecord, FieldsAndAlgorithmChanges)
{
    KeyRecord key("  my key ", GOST256, "1.2.643.2.2.35.1", "rutoken_2", X509());
    EXPECT_EQ(key.alias(), "  my key "); // the constructor keeps the alias as given
    EXPECT_EQ(key.digestAlgorithm(), GOST_R_3411_2012_256);
    EXPECT_EQ(key.id(), 255);
    EXPECT_TRUE(key.hasPassword());
    EXPECT_TRUE(key.isChangeable());

    key.setAlias("\t renamed \n");
    EXPECT_EQ(key.alias(), "renamed");
    key.setSignAlgorithm(GOST512);
    EXPECT_EQ(key.digestAlgorithm(), GOST_R_3411_2012_512);
    key.setSignAlgorithm(AlgorithmId());
    EXPECT_TRUE(key.signAlgorithm().empty());
    EXPECT_EQ(key.digestAlgorithm(), GOST_R_3411_2012_512);

    const KeyRecord noAlgorithm("k", AlgorithmId(), "", "", X509());
    EXPECT_TRUE(noAlgorithm.digestAlgorithm().empty());
}

template <class E> std::function<void(const KeyRecord&)> throws()
{
    return [](const KeyRecord& key) { EXPECT_THROW(key.check(), E); };
}

TEST(KeyRecord, CheckRejectsInOrder)
{
    const struct {
        const char* name;
        const char* alias;
        AlgorithmId algorithm;
        const char* params;
        std::function<void(const KeyRecord&)> expect;
    } cases[] = {
        // A blank alias is reported first, even with the other faults.
        {"blank alias", " \t", AlgorithmId(), "", throws<EmptyKeyAlias>()},
        {"no algorithm", "k", AlgorithmId(), "", throws<UnknownAlgorithm>()},
        {"GOST without parameters", "k", GOST256, "", throws<Gost3410ECParamsEmpty>()},
        {"RSA without parameters", "k", SHA256_WITH_RSA_ENCRYPTION, "",
         [](const KeyRecord& key) { EXPECT_NO_THROW(key.check()); }},
        {"complete GOST key", "k", GOST256, "1.2.643.2.2.35.1",
         [](const KeyRecord& key) { EXPECT_NO_THROW(key.check()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.expect(KeyRecord(c.alias, c.algorithm, c.params, "rutoken_2", X509()));
    }
}

// A record that can be copied, as the back ends' records are.
struct CopyableRecord : KeyRecord {
    using KeyRecord::KeyRecord;
    CopyableRecord(const CopyableRecord&) = default;
};

// A session's threads share its key records: one signs and stores the
// certificate it found (or an import replaces it) while others read it or
// copy the record. Each reader sees one certificate whole.
TEST(KeyRecord, CertificateReplacedWhileOtherThreadsReadIt)
{
    const X509 first(bytes{0x01}, bytes(300, 0x11));
    const X509 second(bytes{0x02}, bytes(700, 0x22));
    CopyableRecord record("key", GOST256, "1.2.643.2.2.35.1", "rutoken_2", first);
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < 2000; ++i)
            record.setX509(i % 2 ? first : second);
    });
    std::vector<int> torn(2, 0);
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const X509 seen = t == 0 ? record.x509() : CopyableRecord(record).x509();
                torn[t] += seen != first && seen != second;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(torn, std::vector<int>(2, 0));
}

} // namespace
