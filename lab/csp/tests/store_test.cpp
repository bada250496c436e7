// Certificates of the simulated CSP: the certificate kept with a key, the
// current user's store "MY" with key-provider properties, finding and
// enumerating.
#include "csp_fixture.h"

namespace labcsptest
{
namespace
{

class StoreTest : public CspTest
{
  protected:
    HCERTSTORE openMy(DWORD flags = CERT_SYSTEM_STORE_CURRENT_USER)
    {
        HCERTSTORE s = a().openStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, flags, L"MY");
        EXPECT_NE(s, nullptr) << hexText(a().lastError());
        return s;
    }
    PCCERT_CONTEXT create(const Bytes& der)
    {
        PCCERT_CONTEXT c =
            a().createCertificate(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        EXPECT_NE(c, nullptr) << hexText(a().lastError());
        return c;
    }
    static Bytes encoded(PCCERT_CONTEXT c)
    {
        return Bytes(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
    }
};

TEST_F(StoreTest, TheKeyKeepsOnlyItsOwnCertificate)
{
    HCRYPTKEY key = 0;
    HCRYPTPROV h = newKey("with-cert", PROV_GOST_2012_256, "1.2.643.2.2.35.1", key);
    const Bytes own = certificate(spkiOfBlob(exportPublic(key)), "own", 1);
    HCRYPTKEY otherKey = 0;
    HCRYPTPROV other = newKey("other", PROV_GOST_2012_256, "1.2.643.2.2.35.1", otherKey);
    const Bytes foreign = certificate(spkiOfBlob(exportPublic(otherKey)), "foreign", 2);

    DWORD size = 0;
    EXPECT_EQ(failure(a().getKeyParam(key, KP_CERTIFICATE, nullptr, &size, 0)), SCARD_E_NO_SUCH_CERTIFICATE);
    EXPECT_EQ(failure(a().setKeyParam(key, KP_CERTIFICATE, foreign.data(), 0)), NTE_BAD_PUBLIC_KEY);
    const Bytes garbage{0x04, 0x02, 0x01, 0x02};
    EXPECT_EQ(failure(a().setKeyParam(key, KP_CERTIFICATE, garbage.data(), 0)), CRYPT_E_ASN1_BADTAG);
    ASSERT_TRUE(a().setKeyParam(key, KP_CERTIFICATE, own.data(), 0)) << hexText(a().lastError());
    // Kept in the container: a new context of it sees the certificate.
    HCRYPTPROV again = acquire("with-cert", PROV_GOST_2012_256, 0);
    HCRYPTKEY userKey = 0;
    ASSERT_TRUE(a().getUserKey(again, AT_KEYEXCHANGE, &userKey));
    EXPECT_EQ(read(a().getKeyParam, userKey, KP_CERTIFICATE), own);

    for (HCRYPTKEY k : {key, otherKey, userKey})
        a().destroyKey(k);
    for (HCRYPTPROV p : {h, other, again})
        a().release(p, 0);
}

TEST_F(StoreTest, MyStoreKeepsCertificatesWithTheirKeyProvider)
{
    gostsoft::Key k1 = gostsoft::Key::generate(gostsoft::Curve::CryptoProA256);
    gostsoft::Key k2 = gostsoft::Key::generate(gostsoft::Curve::Tc26A512);
    const Bytes first = certificate(k1.subjectPublicKeyInfo(), "first", 1);
    const Bytes second = certificate(k2.subjectPublicKeyInfo(), "second", 2);

    // As the library installs a certificate: context, key-provider property, add.
    HCERTSTORE store = openMy();
    PCCERT_CONTEXT context = create(first);
    std::wstring container = L"\\\\.\\HDIMAGE\\\u041a\u043b\u044e\u0447";
    CRYPT_KEY_PROV_INFO info{container.data(), nullptr, PROV_GOST_2012_256, 0, 0, nullptr, AT_KEYEXCHANGE};
    ASSERT_TRUE(a().setCertificateProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    ASSERT_TRUE(a().addCertificate(store, context, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        << hexText(a().lastError());
    EXPECT_EQ(failure(a().addCertificate(store, context, CERT_STORE_ADD_NEW, nullptr)), CRYPT_E_EXISTS);
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(a().addEncodedCertificate(store, X509_ASN_ENCODING, second.data(),
                                          static_cast<DWORD>(second.size()), CERT_STORE_ADD_NEW, &added));
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(encoded(added), second);
    EXPECT_EQ(added->hCertStore, store);
    a().freeCertificate(added);
    a().freeCertificate(context);
    ASSERT_TRUE(a().closeStore(store, 0));

    // Another opening (the state is on disk) enumerates both, in order,
    // each step freeing the context before.
    store = openMy();
    std::vector<Bytes> listed;
    const unsigned long before = a().openHandles();
    PCCERT_CONTEXT c = nullptr;
    while ((c = a().enumCertificates(store, c)) != nullptr) {
        listed.push_back(encoded(c));
        EXPECT_EQ(a().openHandles(), before + 1);
    }
    EXPECT_EQ(a().lastError(), CRYPT_E_NOT_FOUND);
    EXPECT_EQ(a().openHandles(), before);
    EXPECT_EQ(listed, (std::vector<Bytes>{first, second}));

    // Found by its public key, with the key-provider property it was given.
    PCCERT_CONTEXT parsed = create(first);
    CERT_PUBLIC_KEY_INFO wanted = parsed->pCertInfo->SubjectPublicKeyInfo;
    EXPECT_STREQ(wanted.Algorithm.pszObjId, "1.2.643.7.1.1.1.1");
    PCCERT_CONTEXT found =
        a().findCertificate(store, X509_ASN_ENCODING, 0, CERT_FIND_PUBLIC_KEY, &wanted, nullptr);
    ASSERT_NE(found, nullptr) << hexText(a().lastError());
    EXPECT_EQ(encoded(found), first);
    DWORD size = 0;
    ASSERT_TRUE(a().getCertificateProperty(found, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    std::vector<std::uint64_t> buffer(size / 8 + 1);
    ASSERT_TRUE(a().getCertificateProperty(found, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size));
    const auto* back = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    EXPECT_EQ(std::wstring(back->pwszContainerName), container);
    EXPECT_EQ(back->dwProvType, static_cast<DWORD>(PROV_GOST_2012_256));
    EXPECT_EQ(back->dwKeySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
    // No further match after it; a key of no certificate is not found.
    EXPECT_EQ(a().findCertificate(store, X509_ASN_ENCODING, 0, CERT_FIND_PUBLIC_KEY, &wanted, found),
              nullptr);
    EXPECT_EQ(a().lastError(), CRYPT_E_NOT_FOUND);
    Bytes otherBits(wanted.PublicKey.pbData, wanted.PublicKey.pbData + wanted.PublicKey.cbData);
    otherBits.back() ^= 1;
    wanted.PublicKey.pbData = otherBits.data();
    EXPECT_EQ(a().findCertificate(store, X509_ASN_ENCODING, 0, CERT_FIND_PUBLIC_KEY, &wanted, nullptr),
              nullptr);
    EXPECT_EQ(a().lastError(), CRYPT_E_NOT_FOUND);
    a().freeCertificate(parsed);
    ASSERT_TRUE(a().closeStore(store, 0));
}

TEST_F(StoreTest, BadCertificatesAndStoresAreRefused)
{
    gostsoft::Key k = gostsoft::Key::generate(gostsoft::Curve::CryptoProA256);
    Bytes der = certificate(k.subjectPublicKeyInfo(), "x", 1);
    Bytes trailing = der;
    trailing.push_back(0);
    Bytes truncated(der.begin(), der.end() - 1);
    for (const Bytes& bad : {trailing, truncated, Bytes{0x30, 0x00}, Bytes{0x02, 0x01, 0x00}}) {
        EXPECT_EQ(a().createCertificate(X509_ASN_ENCODING, bad.data(), static_cast<DWORD>(bad.size())),
                  nullptr);
        EXPECT_EQ(a().lastError(), CRYPT_E_ASN1_BADTAG);
    }
    EXPECT_EQ(a().createCertificate(X509_ASN_ENCODING, nullptr, 0), nullptr);
    EXPECT_EQ(a().lastError(), CRYPT_E_ASN1_EOD);

    // A context given back twice, or never given out, is refused.
    PCCERT_CONTEXT c = create(der);
    EXPECT_TRUE(a().freeCertificate(c));
    EXPECT_EQ(failure(a().freeCertificate(c)), E_INVALIDARG);
    EXPECT_TRUE(a().freeCertificate(nullptr));

    EXPECT_EQ(a().openStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"M Y"), nullptr);
    EXPECT_EQ(a().lastError(), E_INVALIDARG);
    EXPECT_EQ(a().openStore(reinterpret_cast<LPCSTR>(2), 0, 0, 0, nullptr), nullptr);
    EXPECT_EQ(a().lastError(), E_INVALIDARG);
    EXPECT_EQ(a().openStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                            CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG, L"Nowhere"),
              nullptr);
    EXPECT_EQ(a().lastError(), ERROR_FILE_NOT_FOUND);
    HCERTSTORE readOnly = openMy(CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG);
    EXPECT_EQ(failure(a().addEncodedCertificate(readOnly, X509_ASN_ENCODING, der.data(),
                                                static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW, nullptr)),
              ERROR_ACCESS_DENIED);
    EXPECT_TRUE(a().closeStore(readOnly, 0));
    EXPECT_EQ(failure(a().closeStore(readOnly, 0)), ERROR_INVALID_HANDLE);
}

} // namespace
} // namespace labcsptest
