#include "token_fixture.h"

namespace labtest
{
namespace
{

class ObjectsTest : public TokenTest
{
  protected:
    void SetUp() override
    {
        TokenTest::SetUp();
        addDevice("angara", "ANG1", "Angara 0");
    }

    CK_OBJECT_HANDLE createData(Module& m, CK_SESSION_HANDLE h, const std::string& label, CK_BBOOL onToken,
                                CK_BBOOL isPrivate, CK_RV expected = CKR_OK)
    {
        Bytes l = text(label), value = text("payload of " + label);
        std::vector<CK_ATTRIBUTE> t = {attr(CKA_CLASS, CLASS_DATA), attr(CKA_TOKEN, onToken),
                                       attr(CKA_PRIVATE, isPrivate), attr(CKA_LABEL, l),
                                       attr(CKA_VALUE, value)};
        CK_OBJECT_HANDLE o = 0;
        EXPECT_EQ(m->C_CreateObject(h, t.data(), t.size(), &o), expected);
        return o;
    }
};

TEST_F(ObjectsTest, TokenObjectsPersistAndSessionObjectsEndWithTheirSession)
{
    Module& m = open("pkcs11-angara");
    CK_SESSION_HANDLE h = session(m, 0);
    ASSERT_EQ(login(m, h, "12345678"), CKR_OK);
    CK_OBJECT_HANDLE kept = createData(m, h, "kept", YES, YES);
    createData(m, h, "transient", NO, NO);
    EXPECT_EQ(find(m, h, {attr(CKA_CLASS, CLASS_DATA)}).size(), 2u);

    // A new "process": the module is finalised and initialised again.
    ASSERT_EQ(m->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(m->C_Initialize(nullptr), CKR_OK);
    h = session(m, 0);
    // Private objects are hidden until the user logs in.
    EXPECT_TRUE(find(m, h, {attr(CKA_CLASS, CLASS_DATA)}).empty());
    EXPECT_EQ(read(m, h, kept, CKA_LABEL), Bytes{});
    ASSERT_EQ(login(m, h, "12345678"), CKR_OK);
    auto found = find(m, h, {attr(CKA_CLASS, CLASS_DATA)});
    ASSERT_EQ(found, std::vector<CK_OBJECT_HANDLE>{kept});
    EXPECT_EQ(read(m, h, kept, CKA_LABEL), text("kept"));
    EXPECT_EQ(read(m, h, kept, CKA_VALUE), text("payload of kept"));
    // The defaults a token gives a data object.
    EXPECT_EQ(read(m, h, kept, CKA_MODIFIABLE), Bytes{1});
    EXPECT_EQ(device("ANG1").objects.size(), 1u);
}

TEST_F(ObjectsTest, FindMatchesEveryTemplateAttributeByValue)
{
    Module& m = open("pkcs11-angara");
    CK_SESSION_HANDLE h = session(m, 0);
    ASSERT_EQ(login(m, h, "12345678"), CKR_OK);
    CK_OBJECT_HANDLE meta = 0;
    {
        // A metadata object as the signing library writes it for legacy keys.
        Bytes label = text("1"), app = text("Kalva2"), value{1, 2, 3};
        std::vector<CK_ATTRIBUTE> t = {attr(CKA_TOKEN, YES),        attr(CKA_MODIFIABLE, YES),
                                       attr(CKA_VALUE, value),      attr(CKA_LABEL, label),
                                       attr(CKA_CLASS, CLASS_DATA), attr(CKA_PRIVATE, YES),
                                       attr(CKA_APPLICATION, app),  attr(CKA_VENDOR_DEFINED, NO)};
        ASSERT_EQ(m->C_CreateObject(h, t.data(), t.size(), &meta), CKR_OK);
    }
    createData(m, h, "1", YES, YES);
    Bytes label = text("1"), app = text("Kalva2");
    EXPECT_EQ(
        find(m, h, {attr(CKA_CLASS, CLASS_DATA), attr(CKA_LABEL, label), attr(CKA_MODIFIABLE, YES)}).size(),
        2u);
    EXPECT_EQ(find(m, h,
                   {attr(CKA_CLASS, CLASS_DATA), attr(CKA_LABEL, label), attr(CKA_APPLICATION, app),
                    attr(CKA_VENDOR_DEFINED, NO)}),
              std::vector<CK_OBJECT_HANDLE>{meta});
    EXPECT_TRUE(find(m, h, {attr(CKA_VENDOR_DEFINED, YES)}).empty());

    // Set: label and the vendor attribute change; class and read-only objects do not.
    Bytes newLabel = text("renamed");
    CK_ATTRIBUTE set[] = {attr(CKA_LABEL, newLabel), attr(CKA_VENDOR_DEFINED, YES)};
    ASSERT_EQ(m->C_SetAttributeValue(h, meta, set, 2), CKR_OK);
    EXPECT_EQ(read(m, h, meta, CKA_LABEL), newLabel);
    EXPECT_EQ(read(m, h, meta, CKA_VENDOR_DEFINED), Bytes{1});
    // Any vendor attribute type is kept.
    Bytes vendorValue{9, 8, 7};
    CK_ATTRIBUTE vendor = attr(0xD4321100UL, vendorValue);
    ASSERT_EQ(m->C_SetAttributeValue(h, meta, &vendor, 1), CKR_OK);
    EXPECT_EQ(read(m, h, meta, 0xD4321100UL), vendorValue);
    EXPECT_EQ(find(m, h, {vendor}), std::vector<CK_OBJECT_HANDLE>{meta});
    CK_ATTRIBUTE setClass = attr(CKA_CLASS, CLASS_PUBLIC);
    EXPECT_EQ(m->C_SetAttributeValue(h, meta, &setClass, 1), CKR_ATTRIBUTE_READ_ONLY);

    // Reading: missing attributes, short buffers.
    CK_RV rv = CKR_OK;
    read(m, h, meta, CKA_SUBJECT, &rv);
    EXPECT_EQ(rv, CKR_ATTRIBUTE_TYPE_INVALID);
    std::uint8_t small[2];
    CK_ATTRIBUTE shortRead = attr(CKA_LABEL, small, sizeof small);
    EXPECT_EQ(m->C_GetAttributeValue(h, meta, &shortRead, 1), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortRead.ulValueLen, CK_UNAVAILABLE_INFORMATION);

    ASSERT_EQ(m->C_DestroyObject(h, meta), CKR_OK);
    EXPECT_EQ(m->C_DestroyObject(h, meta), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(find(m, h, {attr(CKA_CLASS, CLASS_DATA)}).size(), 1u);
}

TEST_F(ObjectsTest, ManyObjectsAreFoundInBatches)
{
    Module& m = open("pkcs11-angara");
    CK_SESSION_HANDLE h = session(m, 0);
    for (int i = 0; i < 300; ++i)
        createData(m, h, "n" + std::to_string(i), YES, NO);
    CK_ULONG cls = CKO_DATA;
    CK_ATTRIBUTE t = attr(CKA_CLASS, cls);
    ASSERT_EQ(m->C_FindObjectsInit(h, &t, 1), CKR_OK);
    EXPECT_EQ(m->C_FindObjectsInit(h, &t, 1), CKR_OPERATION_ACTIVE);
    std::vector<CK_OBJECT_HANDLE> handles(256);
    CK_ULONG n = 0;
    ASSERT_EQ(m->C_FindObjects(h, handles.data(), 256, &n), CKR_OK);
    EXPECT_EQ(n, 256u);
    ASSERT_EQ(m->C_FindObjects(h, handles.data(), 256, &n), CKR_OK);
    EXPECT_EQ(n, 44u);
    ASSERT_EQ(m->C_FindObjectsFinal(h), CKR_OK);
}

TEST_F(ObjectsTest, AccessRules)
{
    Module& m = open("pkcs11-angara");
    CK_SESSION_HANDLE ro = session(m, 0, false);
    // Token objects need a read-write session, private ones a logged-in user.
    createData(m, ro, "x", YES, NO, CKR_SESSION_READ_ONLY);
    createData(m, ro, "y", NO, YES, CKR_USER_NOT_LOGGED_IN);
    std::vector<CK_ATTRIBUTE> noClass = {attr(CKA_TOKEN, NO)};
    CK_OBJECT_HANDLE o = 0;
    EXPECT_EQ(m->C_CreateObject(ro, noClass.data(), noClass.size(), &o), CKR_TEMPLATE_INCOMPLETE);
    std::uint8_t twoBytes[2] = {1, 0};
    std::vector<CK_ATTRIBUTE> badBool = {attr(CKA_CLASS, CLASS_DATA), attr(CKA_TOKEN, twoBytes, 2)};
    EXPECT_EQ(m->C_CreateObject(ro, badBool.data(), badBool.size(), &o), CKR_ATTRIBUTE_VALUE_INVALID);
    std::vector<CK_ATTRIBUTE> nullValue = {attr(CKA_CLASS, CLASS_DATA), attr(CKA_LABEL, nullptr, 4)};
    EXPECT_EQ(m->C_CreateObject(ro, nullValue.data(), nullValue.size(), &o), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(m->C_CreateObject(ro + 100, noClass.data(), noClass.size(), &o), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(ObjectsTest, RejectedAttributeTypesAreRefusedByCreate)
{
    // Some tokens know no certificate category.
    devices().update("ANG1", [](labdev::Device& d) { d.set("reject-attributes", "87"); });
    Module& m = open("pkcs11-angara");
    CK_SESSION_HANDLE h = session(m, 0);
    CK_ULONG cls = CKO_CERTIFICATE, category = 1;
    Bytes der{0x30, 0x00};
    std::vector<CK_ATTRIBUTE> t = {attr(CKA_CLASS, cls), attr(CKA_TOKEN, YES), attr(CKA_VALUE, der),
                                   attr(CKA_CERTIFICATE_CATEGORY, category)};
    CK_OBJECT_HANDLE o = 0;
    EXPECT_EQ(m->C_CreateObject(h, t.data(), t.size(), &o), CKR_ATTRIBUTE_TYPE_INVALID);
    t.pop_back();
    EXPECT_EQ(m->C_CreateObject(h, t.data(), t.size(), &o), CKR_OK);
}

} // namespace
} // namespace labtest
