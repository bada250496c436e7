// The module wrapper against a module that lies about counts and lengths:
// each answer it cannot take is refused as InvalidDevice, without hanging,
// allocating what the module asks for or reading beyond what it wrote.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/module.h"

namespace
{

constexpr CK_ULONG HUGE_COUNT = std::numeric_limits<CK_ULONG>::max();

// What the double answers; one set per test case.
struct Lies {
    // C_GetSlotList: the count of the size query, and how many reads answer
    // CKR_BUFFER_TOO_SMALL before one succeeds (-1: every read).
    CK_ULONG slotCount = 2;
    int growingReads = 0;
    CK_ULONG mechanismCount = 3;
    // C_GetAttributeValue: the size query's length, and the length the read
    // reports beyond the bytes it wrote.
    CK_ULONG attributeLength = 4;
    CK_ULONG attributeOverstated = 0;
    // C_Sign: the length asked for, and the length reported after a read.
    CK_ULONG signatureAskedFor = 0;
    CK_ULONG signatureOverstated = 0;
    // Calls of the double in all; past a few thousand it gives up, so a
    // wrapper that never stops fails the test instead of hanging it.
    int calls = 0;
};
Lies lies;

bool givesUp()
{
    return ++lies.calls > 10000;
}

CK_RV initialize(CK_VOID_PTR)
{
    return CKR_OK;
}

CK_RV finalize(CK_VOID_PTR)
{
    return CKR_OK;
}

CK_RV getSlotList(CK_BBOOL, CK_SLOT_ID_PTR slots, CK_ULONG_PTR count)
{
    if (givesUp())
        return CKR_GENERAL_ERROR;
    if (slots == nullptr) {
        *count = lies.slotCount;
        return CKR_OK;
    }
    if (lies.growingReads != 0) {
        if (lies.growingReads > 0)
            --lies.growingReads;
        *count = lies.slotCount + 1;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < *count; ++i)
        slots[i] = i + 1;
    return CKR_OK;
}

CK_RV getMechanismList(CK_SLOT_ID, CK_MECHANISM_TYPE_PTR mechanisms, CK_ULONG_PTR count)
{
    if (givesUp())
        return CKR_GENERAL_ERROR;
    if (mechanisms != nullptr) {
        for (CK_ULONG i = 0; i < *count; ++i)
            mechanisms[i] = CKM_GOSTR3410;
    }
    *count = lies.mechanismCount;
    return CKR_OK;
}

CK_RV getAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR attribute, CK_ULONG)
{
    if (givesUp())
        return CKR_GENERAL_ERROR;
    if (attribute->pValue == nullptr) {
        attribute->ulValueLen = lies.attributeLength;
        return CKR_OK;
    }
    std::memset(attribute->pValue, 0xA5, attribute->ulValueLen);
    attribute->ulValueLen += lies.attributeOverstated;
    return CKR_OK;
}

CK_RV signInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE)
{
    return CKR_OK;
}

CK_RV sign(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR signature, CK_ULONG_PTR length)
{
    if (givesUp())
        return CKR_GENERAL_ERROR;
    if (lies.signatureAskedFor > *length) {
        *length = lies.signatureAskedFor;
        return CKR_BUFFER_TOO_SMALL;
    }
    std::memset(signature, 0x5A, 64);
    *length = 64 + lies.signatureOverstated;
    return CKR_OK;
}

class LyingModule : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        lies = Lies{};
        m_functions.C_Initialize = initialize;
        m_functions.C_Finalize = finalize;
        m_functions.C_GetSlotList = getSlotList;
        m_functions.C_GetMechanismList = getMechanismList;
        m_functions.C_GetAttributeValue = getAttributeValue;
        m_functions.C_SignInit = signInit;
        m_functions.C_Sign = sign;
        m_module = std::make_unique<Pkcs11>("lying module", Pkcs11::Supplied{&m_functions, {}});
    }

    CK_FUNCTION_LIST m_functions{};
    std::unique_ptr<Pkcs11> m_module;
};

TEST_F(LyingModule, TruthfulAnswersAreTaken)
{
    lies.growingReads = 3; // readers came three times between size query and read
    EXPECT_EQ(m_module->slotList(true), (std::vector<CK_SLOT_ID>{1, 2}));
    EXPECT_EQ(m_module->getMechanismList(1).size(), 3u);
    EXPECT_EQ(m_module->getAttribute(1, 2, CKA_VALUE), bytes(4, 0xA5));
    lies.signatureAskedFor = 1024;
    EXPECT_EQ(m_module->sign(1, CKM_GOSTR3410, 2, bytes(32)), bytes(64, 0x5A));
}

TEST_F(LyingModule, AnswersBeyondBoundsAreInvalidDevice)
{
    struct Case {
        const char* name;
        void (*lie)();
        void (*call)(const Pkcs11&);
    };
    const Case cases[] = {
        {"slot list growing for ever", [] { lies.growingReads = -1; },
         [](const Pkcs11& m) { m.slotList(true); }},
        {"slot count beyond any buffer", [] { lies.slotCount = HUGE_COUNT; },
         [](const Pkcs11& m) { m.slotList(false); }},
        {"mechanism count beyond any buffer", [] { lies.mechanismCount = HUGE_COUNT; },
         [](const Pkcs11& m) { m.getMechanismList(1); }},
        {"attribute length unavailable yet CKR_OK", [] { lies.attributeLength = CK_UNAVAILABLE_INFORMATION; },
         [](const Pkcs11& m) { m.getAttribute(1, 2, CKA_VALUE); }},
        {"attribute longer than its buffer", [] { lies.attributeOverstated = 100; },
         [](const Pkcs11& m) { m.getAttribute(1, 2, CKA_VALUE); }},
        {"signature buffer beyond any signature", [] { lies.signatureAskedFor = HUGE_COUNT; },
         [](const Pkcs11& m) { m.sign(1, CKM_GOSTR3410, 2, bytes(32)); }},
        {"signature longer than its buffer", [] { lies.signatureOverstated = 1000; },
         [](const Pkcs11& m) { m.sign(1, CKM_GOSTR3410, 2, bytes(32)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lies = Lies{};
        c.lie();
        EXPECT_THROW(c.call(*m_module), InvalidDevice);
        EXPECT_LT(lies.calls, 20);
    }
}

TEST_F(LyingModule, SuppliedModuleServesTheCacheAndItsVendorFunctions)
{
    static int vendorCalls = 0;
    const auto vendor = [](std::string_view name) -> void* {
        ++vendorCalls;
        return name == "C_EX_Vendor" ? reinterpret_cast<void*>(&initialize) : nullptr;
    };
    auto module = std::make_shared<Pkcs11>("supplied", Pkcs11::Supplied{&m_functions, vendor});
    EXPECT_EQ(module->getFunction("C_EX_Vendor"), reinterpret_cast<void*>(&initialize));
    EXPECT_THROW(module->getFunction("C_EX_Missing"), std::runtime_error);
    EXPECT_EQ(vendorCalls, 2);

    Pkcs11::supply("/no/such/libsupplied.so", module);
    EXPECT_EQ(Pkcs11::instance("/no/such/libsupplied.so", true), module);
    EXPECT_THROW(Pkcs11::instance("/no/such/libsupplied.so", false), Pkcs11LoadError);
    Pkcs11::supply("/no/such/libsupplied.so", module);
    Pkcs11::supply("/no/such/libsupplied.so", nullptr); // no entry: loaded from the path again
    EXPECT_THROW(Pkcs11::instance("/no/such/libsupplied.so", true), Pkcs11LoadError);
}

} // namespace
