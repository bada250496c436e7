// Containers of the simulated CSP: names, readers and media, enumerations,
// provider types and the provider parameters.
#include <algorithm>

#include "csp_fixture.h"

namespace labcsptest
{
namespace
{

class ContainersTest : public CspTest
{
  protected:
    // Every item of an enumerating parameter, CRYPT_FIRST then CRYPT_NEXT,
    // each sized first; the enumeration must end with ERROR_NO_MORE_ITEMS.
    std::vector<std::string> enumerate(HCRYPTPROV h, DWORD param, DWORD extra = 0)
    {
        std::vector<std::string> out;
        for (DWORD flags = CRYPT_FIRST | extra;; flags = CRYPT_NEXT | extra) {
            DWORD size = 0;
            if (!a().getProvParam(h, param, nullptr, &size, flags)) {
                EXPECT_EQ(a().lastError(), ERROR_NO_MORE_ITEMS);
                return out;
            }
            Bytes item(size);
            EXPECT_TRUE(a().getProvParam(h, param, item.data(), &size, flags));
            out.emplace_back(reinterpret_cast<const char*>(item.data()));
            if (out.size() > 100)
                return out;
        }
    }
    void make(const std::string& name, DWORD type)
    {
        HCRYPTKEY key = 0;
        HCRYPTPROV h = newKey(name, type, "", key);
        a().destroyKey(key);
        a().release(h, 0);
    }
};

TEST_F(ContainersTest, NamesReadersAndUniqueNames)
{
    // "Ключ" in CP1251.
    const std::string cyrillic = "\xCA\xEB\xFE\xF7";
    HCRYPTPROV h = acquire("\\\\.\\HDIMAGE\\" + cyrillic, PROV_GOST_2012_256, CRYPT_NEWKEYSET);
    EXPECT_EQ(text(h, PP_CONTAINER), cyrillic);
    EXPECT_EQ(text(h, PP_FQCN), "\\\\.\\HDIMAGE\\" + cyrillic);
    EXPECT_EQ(text(h, PP_CONTAINER_ALIAS), "\\\\.\\HDIMAGE\\" + cyrillic);
    const std::string unique = text(h, PP_UNIQUE_CONTAINER);
    // HDIMAGE\\<8 hex>.000\<4 hex>
    ASSERT_EQ(unique.size(), std::string("HDIMAGE\\\\12345678.000\\ABCD").size()) << unique;
    EXPECT_EQ(unique.substr(0, 9), "HDIMAGE\\\\");
    EXPECT_EQ(unique.substr(17, 5), ".000\\");
    a().release(h, 0);

    // The container opens by its full name, its bare name and its unique name.
    for (const std::string& name :
         {"\\\\.\\HDIMAGE\\" + cyrillic, cyrillic, unique, "\\\\.\\hdimage\\" + cyrillic}) {
        HCRYPTPROV again = acquire(name, PROV_GOST_2012_256, 0);
        EXPECT_EQ(text(again, PP_UNIQUE_CONTAINER), unique) << name;
        a().release(again, 0);
    }
    // A bare name is made on HDIMAGE and may be renamed through its alias.
    HCRYPTPROV bare = acquire("bare", PROV_GOST_2001_DH, CRYPT_NEWKEYSET);
    EXPECT_EQ(text(bare, PP_FQCN), "\\\\.\\HDIMAGE\\bare");
    EXPECT_EQ(text(bare, PP_CONTAINER_ALIAS), "bare");
    ASSERT_TRUE(a().setProvParam(bare, PP_CONTAINER_ALIAS, reinterpret_cast<const BYTE*>("payroll"), 0));
    EXPECT_EQ(text(bare, PP_CONTAINER_ALIAS), "payroll");
    a().release(bare, 0);
}

TEST_F(ContainersTest, AcquisitionRefusals)
{
    make("key1", PROV_GOST_2012_256);
    make("rsa1", PROV_RSA_AES);
    struct Case {
        const char* name;
        DWORD type;
        DWORD flags;
        DWORD error;
    };
    const Case cases[] = {
        {"\\\\.\\FLASH\\key1", PROV_GOST_2012_256, CRYPT_NEWKEYSET,
         NTE_BAD_KEYSET_PARAM}, // no medium in FLASH
        {"\\\\.\\FLOPPY\\key1", PROV_GOST_2012_256, CRYPT_NEWKEYSET, NTE_KEYSET_ENTRY_BAD}, // no such reader
        {"key1", PROV_GOST_2012_256, CRYPT_NEWKEYSET, NTE_EXISTS},
        {"\\\\.\\HDIMAGE\\", PROV_GOST_2012_256, CRYPT_NEWKEYSET, NTE_BAD_KEYSET_PARAM},
        {"a\\b", PROV_GOST_2012_256, CRYPT_NEWKEYSET, NTE_BAD_KEYSET_PARAM},
        {"missing", PROV_GOST_2012_256, 0, NTE_BAD_KEYSET},
        {"\\\\.\\FLASH\\key1", PROV_GOST_2012_256, 0, NTE_BAD_KEYSET},
        {"key1", 77, 0, NTE_PROV_TYPE_NOT_DEF},
        {"key1", PROV_RSA_AES, 0, NTE_BAD_KEYSET}, // a GOST container is not the RSA provider's
        {"rsa1", PROV_GOST_2001_DH, 0, NTE_BAD_KEYSET},
        {"key1", PROV_GOST_2012_256, 0x100, NTE_BAD_FLAGS},
        {"key1", PROV_GOST_2012_256, CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET, NTE_BAD_FLAGS},
        {"key1", PROV_GOST_2012_256, CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET, NTE_BAD_FLAGS},
        {"", PROV_GOST_2012_256, 0, NTE_BAD_KEYSET}, // no default container
    };
    for (const Case& c : cases)
        EXPECT_EQ(hexText(acquireError(c.name, c.type, c.flags)), hexText(c.error))
            << "'" << c.name << "' type " << c.type << " flags " << hexText(c.flags);
    // GOST contexts of every type open a GOST container: the key decides its algorithms.
    for (DWORD type : {PROV_GOST_2001_DH, PROV_GOST_2012_512}) {
        HCRYPTPROV h = acquire("key1", type, 0);
        HCRYPTKEY key = 0;
        EXPECT_TRUE(a().getUserKey(h, AT_KEYEXCHANGE, &key));
        EXPECT_EQ(read(a().getKeyParam, key, KP_ALGID), (Bytes{0x41, 0x2e, 0, 0}));
        a().destroyKey(key);
        a().release(h, 0);
    }
    HCRYPTPROV h = 0;
    EXPECT_EQ(failure(a().acquire(nullptr, "key1", nullptr, PROV_GOST_2012_256, 0)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(failure(a().acquire(&h, "key1", "Another CSP", PROV_GOST_2012_256, 0)), NTE_KEYSET_NOT_DEF);
}

TEST_F(ContainersTest, FlashTakesContainersOnceConnectedAndHidesThemWhenPulled)
{
    writeCspFile("settings", "connected=HDIMAGE,FLASH\n");
    make("\\\\.\\FLASH\\card", PROV_GOST_2012_512);
    HCRYPTPROV h = acquire("card", PROV_GOST_2012_512, 0);
    EXPECT_EQ(text(h, PP_FQCN), "\\\\.\\FLASH\\card");
    writeCspFile("settings", "connected=HDIMAGE\n");
    // The open context loses its container with the medium.
    DWORD size = 0;
    EXPECT_EQ(failure(a().getProvParam(h, PP_UNIQUE_CONTAINER, nullptr, &size, 0)), NTE_BAD_KEYSET);
    EXPECT_EQ(acquireError("card", PROV_GOST_2012_512, 0), NTE_BAD_KEYSET);
    a().release(h, 0);
}

TEST_F(ContainersTest, EnumerationsOfReadersAndContainers)
{
    make("k2001", PROV_GOST_2001_DH);
    make("k256", PROV_GOST_2012_256);
    make("krsa", PROV_RSA_AES);
    HCRYPTPROV gost = acquire("", PROV_GOST_2001_DH, CRYPT_VERIFYCONTEXT);
    EXPECT_EQ(enumerate(gost, PP_ENUMREADERS), (std::vector<std::string>{"HDIMAGE", "FLASH"}));
    auto names = enumerate(gost, PP_ENUMCONTAINERS);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"k2001", "k256"}));
    auto full = enumerate(gost, PP_ENUMCONTAINERS, CRYPT_FQCN);
    EXPECT_EQ(std::count(full.begin(), full.end(), "\\\\.\\HDIMAGE\\k256"), 1);
    for (const auto& unique : enumerate(gost, PP_ENUMCONTAINERS, CRYPT_UNIQUE)) {
        HCRYPTPROV h = acquire(unique, PROV_GOST_2001_DH, 0);
        EXPECT_EQ(text(h, PP_UNIQUE_CONTAINER), unique);
        a().release(h, 0);
    }
    HCRYPTPROV rsa = acquire("", PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    EXPECT_EQ(enumerate(rsa, PP_ENUMCONTAINERS), (std::vector<std::string>{"krsa"}));

    // A short buffer gets ERROR_MORE_DATA with the size and keeps the item.
    DWORD size = 3;
    Bytes item(16);
    EXPECT_EQ(failure(a().getProvParam(gost, PP_ENUMREADERS, item.data(), &size, CRYPT_FIRST)),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_TRUE(a().getProvParam(gost, PP_ENUMREADERS, item.data(), &size, CRYPT_NEXT));
    EXPECT_STREQ(reinterpret_cast<const char*>(item.data()), "HDIMAGE");

    // A deleted container leaves the listing.
    HCRYPTPROV none = 0;
    ASSERT_TRUE(a().acquire(&none, "k256", nullptr, PROV_GOST_2012_256, CRYPT_DELETEKEYSET));
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(enumerate(gost, PP_ENUMCONTAINERS), (std::vector<std::string>{"k2001"}));
    EXPECT_EQ(acquireError("k256", PROV_GOST_2012_256, 0), NTE_BAD_KEYSET);
    a().release(rsa, 0);
    a().release(gost, 0);
}

TEST_F(ContainersTest, VersionNameAndDefaultContainer)
{
    HCRYPTPROV h = acquire("", PROV_GOST_2012_256, CRYPT_VERIFYCONTEXT);
    EXPECT_EQ(read(a().getProvParam, h, PP_VERSION), (Bytes{0x00, 0x05, 0x00, 0x00}));
    EXPECT_EQ(text(h, PP_NAME).substr(0, 11), "Crypto-Pro ");
    EXPECT_EQ(text(h, PP_KEY_PARAMSET_OID), "1.2.643.2.2.35.1");
    EXPECT_EQ(text(h, PP_FQCN), ""); // no container, no default one
    DWORD size = 0;
    EXPECT_EQ(failure(a().getProvParam(h, PP_UNIQUE_CONTAINER, nullptr, &size, 0)), NTE_BAD_KEYSET);
    EXPECT_EQ(failure(a().getProvParam(h, 0x4242, nullptr, &size, 0)), NTE_BAD_TYPE);
    EXPECT_EQ(failure(a().getProvParam(h, PP_VERSION, nullptr, nullptr, 0)), ERROR_INVALID_PARAMETER);
    a().release(h, 0);

    make("main", PROV_GOST_2012_256);
    writeCspFile("settings", "vendor=Other\nversion=4.1\ndefault-container=main\n");
    h = acquire("", PROV_GOST_2012_256, CRYPT_VERIFYCONTEXT);
    EXPECT_EQ(read(a().getProvParam, h, PP_VERSION), (Bytes{0x01, 0x04, 0x00, 0x00}));
    EXPECT_EQ(text(h, PP_NAME).substr(0, 6), "Other ");
    EXPECT_EQ(text(h, PP_FQCN), "\\\\.\\HDIMAGE\\main");
    a().release(h, 0);
    h = acquire("", PROV_GOST_2012_256, 0);
    EXPECT_EQ(text(h, PP_CONTAINER), "main");
    a().release(h, 0);
}

} // namespace
} // namespace labcsptest
