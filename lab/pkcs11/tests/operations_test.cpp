// How sign, verify and digest operations end, and the attributes keys answer
// with when their template left them out: what standard clients rely on.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "token_fixture.h"

namespace labtest
{
namespace
{

class OperationsTest : public TokenTest
{
  protected:
    void SetUp() override
    {
        TokenTest::SetUp();
        addDevice("rutoken-ecp-3", "0A1B2C3D", "Aktiv Rutoken ECP 00 00");
    }
};

enum class Kind { Sign, Verify, Digest };

TEST_F(OperationsTest, FailedStepsEndTheOperationExceptBufferTooSmallAndLengthQueries)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE first = session(m, 0);
    ASSERT_EQ(login(m, first, "12345678"), CKR_OK);
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    ASSERT_EQ(generate(m, first, CKM_GOSTR3410_KEY_PAIR_GEN, "1.2.643.2.2.35.1", pub, priv), CKR_OK);

    Bytes digest(32, 0x5A), signature(64, 0x11), out(64);
    auto injectOnce = [&](const std::string& function) {
        gostsoft::writeFile(m_dir.file("faults"), function + " nth 1 CKR_DEVICE_ERROR\n");
    };
    using Step = std::function<CK_RV(CK_SESSION_HANDLE)>;
    struct Case {
        const char* name;
        Kind kind;
        Step step;
        CK_RV expected;
        bool ends;
    };
    const Case cases[] = {
        {"SignUpdate", Kind::Sign, [&](auto h) { return m->C_SignUpdate(h, digest.data(), 5); },
         CKR_FUNCTION_NOT_SUPPORTED, true},
        {"SignFinal", Kind::Sign,
         [&](auto h) {
             CK_ULONG n = out.size();
             return m->C_SignFinal(h, out.data(), &n);
         },
         CKR_FUNCTION_NOT_SUPPORTED, true},
        {"Sign without a length", Kind::Sign,
         [&](auto h) { return m->C_Sign(h, digest.data(), digest.size(), out.data(), nullptr); },
         CKR_ARGUMENTS_BAD, true},
        {"Sign length query", Kind::Sign,
         [&](auto h) {
             CK_ULONG n = 0;
             return m->C_Sign(h, digest.data(), digest.size(), nullptr, &n);
         },
         CKR_OK, false},
        {"Sign short buffer", Kind::Sign,
         [&](auto h) {
             CK_ULONG n = 10;
             return m->C_Sign(h, digest.data(), digest.size(), out.data(), &n);
         },
         CKR_BUFFER_TOO_SMALL, false},
        {"Sign injected fault", Kind::Sign,
         [&](auto h) {
             injectOnce("C_Sign");
             CK_ULONG n = out.size();
             return m->C_Sign(h, digest.data(), digest.size(), out.data(), &n);
         },
         CKR_DEVICE_ERROR, true},
        {"VerifyUpdate", Kind::Verify, [&](auto h) { return m->C_VerifyUpdate(h, digest.data(), 5); },
         CKR_FUNCTION_NOT_SUPPORTED, true},
        {"VerifyFinal", Kind::Verify,
         [&](auto h) { return m->C_VerifyFinal(h, signature.data(), signature.size()); },
         CKR_FUNCTION_NOT_SUPPORTED, true},
        {"Verify of a wrong signature", Kind::Verify,
         [&](auto h) {
             return m->C_Verify(h, digest.data(), digest.size(), signature.data(), signature.size());
         },
         CKR_SIGNATURE_INVALID, true},
        {"DigestUpdate without data", Kind::Digest, [&](auto h) { return m->C_DigestUpdate(h, nullptr, 5); },
         CKR_ARGUMENTS_BAD, true},
        {"DigestKey", Kind::Digest, [&](auto h) { return m->C_DigestKey(h, priv); },
         CKR_FUNCTION_NOT_SUPPORTED, true},
        {"Digest short buffer", Kind::Digest,
         [&](auto h) {
             CK_ULONG n = 10;
             return m->C_Digest(h, digest.data(), digest.size(), out.data(), &n);
         },
         CKR_BUFFER_TOO_SMALL, false},
        {"DigestFinal injected fault", Kind::Digest,
         [&](auto h) {
             injectOnce("C_DigestFinal");
             CK_ULONG n = out.size();
             return m->C_DigestFinal(h, out.data(), &n);
         },
         CKR_DEVICE_ERROR, true},
    };
    CK_MECHANISM gost{CKM_GOSTR3410, nullptr, 0}, sha256{CKM_SHA256, nullptr, 0};
    auto start = [&](Kind kind, CK_SESSION_HANDLE h) {
        switch (kind) {
        case Kind::Sign:
            return m->C_SignInit(h, &gost, priv);
        case Kind::Verify:
            return m->C_VerifyInit(h, &gost, pub);
        default:
            return m->C_DigestInit(h, &sha256);
        }
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CK_SESSION_HANDLE h = session(m, 0);
        ASSERT_EQ(start(c.kind, h), CKR_OK);
        EXPECT_EQ(c.step(h), c.expected);
        gostsoft::writeFile(m_dir.file("faults"), "");
        EXPECT_EQ(start(c.kind, h), c.ends ? CKR_OK : CKR_OPERATION_ACTIVE);
        EXPECT_EQ(m->C_CloseSession(h), CKR_OK);
    }
}

TEST_F(OperationsTest, KeysAnswerTheStandardAttributesWithTheirDefaults)
{
    Module& m = open("rtpkcs11ecp");
    CK_SESSION_HANDLE h = session(m, 0);
    ASSERT_EQ(login(m, h, "12345678"), CKR_OK);
    CK_OBJECT_HANDLE pub = 0, priv = 0, created = 0;
    ASSERT_EQ(generate(m, h, CKM_GOSTR3410_KEY_PAIR_GEN, "1.2.643.2.2.35.1", pub, priv), CKR_OK);
    const CK_ULONG keyType = CKK_GOSTR3410;
    Bytes value(64, 0x42), params = gostsoft::derOid("1.2.643.2.2.35.1");
    std::vector<CK_ATTRIBUTE> t = {attr(CKA_CLASS, CLASS_PUBLIC), attr(CKA_KEY_TYPE, keyType),
                                   attr(CKA_VALUE, value), attr(CKA_GOSTR3410_PARAMS, params)};
    ASSERT_EQ(m->C_CreateObject(h, t.data(), t.size(), &created), CKR_OK);

    const Bytes no{0}, yes{1}, empty{}, none{0xEE}; // none: the key has no such attribute
    auto ulong = [](CK_ULONG v) {
        return Bytes(reinterpret_cast<const std::uint8_t*>(&v),
                     reinterpret_cast<const std::uint8_t*>(&v) + sizeof v);
    };
    struct Row {
        CK_ATTRIBUTE_TYPE type;
        Bytes generatedPrivate, generatedPublic, createdPublic;
    };
    const Row rows[] = {
        {CKA_SIGN, yes, none, none},
        {CKA_DECRYPT, no, none, none},
        {CKA_UNWRAP, no, none, none},
        {CKA_SIGN_RECOVER, no, none, none},
        {CKA_ALWAYS_AUTHENTICATE, no, none, none},
        {CKA_WRAP_WITH_TRUSTED, no, none, none},
        {CKA_ALWAYS_SENSITIVE, yes, none, none},
        {CKA_NEVER_EXTRACTABLE, yes, none, none},
        {CKA_VERIFY, none, yes, yes},
        {CKA_ENCRYPT, none, no, no},
        {CKA_WRAP, none, no, no},
        {CKA_VERIFY_RECOVER, none, no, no},
        {CKA_TRUSTED, none, no, no},
        {CKA_START_DATE, empty, empty, empty},
        {CKA_END_DATE, empty, empty, empty},
        {CKA_SUBJECT, empty, empty, empty},
        {CKA_LOCAL, yes, yes, no},
        {CKA_DERIVE, yes, no, no}, // the template asked for a deriving private key
        {CKA_KEY_GEN_MECHANISM, ulong(CKM_GOSTR3410_KEY_PAIR_GEN), ulong(CKM_GOSTR3410_KEY_PAIR_GEN),
         ulong(CK_UNAVAILABLE_INFORMATION)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.type);
        for (auto [object, expected] :
             {std::pair{priv, row.generatedPrivate}, std::pair{pub, row.generatedPublic},
              std::pair{created, row.createdPublic}}) {
            CK_RV rv = CKR_OK;
            Bytes got = read(m, h, object, row.type, &rv);
            if (expected == none) {
                EXPECT_EQ(rv, CKR_ATTRIBUTE_TYPE_INVALID) << "object " << object;
            } else {
                EXPECT_EQ(rv, CKR_OK) << "object " << object;
                EXPECT_EQ(got, expected) << "object " << object;
            }
        }
    }
    // Where the key came from cannot be rewritten.
    CK_ULONG other = CKM_RSA_PKCS_KEY_PAIR_GEN;
    CK_ATTRIBUTE change = attr(CKA_KEY_GEN_MECHANISM, other);
    EXPECT_EQ(m->C_SetAttributeValue(h, created, &change, 1), CKR_ATTRIBUTE_READ_ONLY);
}

// A large part is hashed outside the module lock: calls for another session
// go on meanwhile, and the digest is that of every part.
TEST_F(OperationsTest, ALargeDigestPartHoldsUpNoCallForAnotherSession)
{
    Module& m = open("rtpkcs11ecp");
    const CK_SESSION_HANDLE hashing = session(m, 0);
    const CK_SESSION_HANDLE other = session(m, 0);
    CK_MECHANISM streebog{0xD4321012UL, nullptr, 0}; // GOST R 34.11-2012 256
    ASSERT_EQ(m->C_DigestInit(hashing, &streebog), CKR_OK);
    Bytes large(64u << 20, 0x5A); // most of a second of hashing
    std::atomic<bool> done{false};
    std::thread update([&] {
        EXPECT_EQ(m->C_DigestUpdate(hashing, large.data(), large.size()), CKR_OK);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the update is hashing by now
    CK_SESSION_INFO info{};
    EXPECT_EQ(m->C_GetSessionInfo(other, &info), CKR_OK);
    EXPECT_FALSE(done) << "the other session's call waited for the whole part";
    update.join();

    Bytes tail{1, 2, 3};
    ASSERT_EQ(m->C_DigestUpdate(hashing, tail.data(), tail.size()), CKR_OK);
    Bytes value(32);
    CK_ULONG length = value.size();
    ASSERT_EQ(m->C_DigestFinal(hashing, value.data(), &length), CKR_OK);
    large.insert(large.end(), tail.begin(), tail.end());
    EXPECT_EQ(value, gostsoft::streebog(large, 256));
}

} // namespace
} // namespace labtest
