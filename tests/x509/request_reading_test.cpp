// Requests from outside: another signature algorithm reads with its OID
// kept; a version other than 0 is refused.
#include <gtest/gtest.h>

#include "asn1/der.h"
#include "base/conv.h"
#include "x509/errors.h"
#include "x509/pkcs10.h"

namespace
{

bytes requestInfo(std::uint64_t version)
{
    SubjectDN subject;
    subject.commonName = "Petrov";
    const SubjectPublicKeyInfo key{RSA_ENCRYPTION, {}, {}, PublicKey(RsaPublicKey{conv::hex_to_bytes("C001"), 3})};
    std::vector<bytes> fields = der::getSequense(Pkcs10::Info{0, subject, key, {}}.derEncoding());
    fields[0] = der::encode(version);
    return der::encode(fields);
}

TEST(RequestReading, ForeignSignatureAlgorithmKeptAndVersionChecked)
{
    const ObjectIdentifier ecdsaWithSha256("1.2.840.10045.4.3.2");
    const bytes foreign = Pkcs10(AlgorithmId::unknown(ecdsaWithSha256), requestInfo(0), bytes{0x30, 0x00}).derEncoding();
    const Pkcs10 read(foreign);
    EXPECT_EQ(read.signAlgorithmOid(), ecdsaWithSha256);
    EXPECT_EQ(read.subject().commonName, "Petrov");
    EXPECT_EQ(read.publicKeyInfo().publicKey, PublicKey(RsaPublicKey{conv::hex_to_bytes("C001"), 3}));
    EXPECT_THROW(findSignAlgorithmId(read.signAlgorithmOid()), UnsupportedAlgorithm);

    const bytes ours = Pkcs10(SHA256_WITH_RSA_ENCRYPTION, requestInfo(0), bytes{0x01}).derEncoding();
    EXPECT_EQ(Pkcs10(ours).signAlgorithmOid(), SHA256_WITH_RSA_ENCRYPTION.oid());
    EXPECT_EQ(Pkcs10(ours).derEncoding(), ours);
    for (const std::uint64_t version : {1u, 2u}) {
        EXPECT_THROW(Pkcs10(Pkcs10(SHA256_WITH_RSA_ENCRYPTION, requestInfo(version), bytes{0x01}).derEncoding()),
                     ParsePkcs10Error)
            << version;
    }
}

} // namespace
