// The controls of the simulated CSP: fault rules, the call log, the last
// error per thread, the open-handle count and the copy missing an entry point.
#include <thread>

#include "csp_fixture.h"

namespace labcsptest
{
namespace
{

class ControlTest : public CspTest
{
};

TEST_F(ControlTest, FaultRulesFailTheNamedCallsAndAreLogged)
{
    HCRYPTKEY key = 0;
    HCRYPTPROV h = newKey("faulty", PROV_GOST_2012_256, "", key);
    writeCspFile("faults", "CryptSignHashA nth 2 NTE_FAIL\n"
                           "CryptCreateHash from 4 0x80090008\n"
                           "GetLastError nth 1 SCARD_W_WRONG_CHV module=rdrsup\n"
                           "CryptGenKey nth 1 NTE_BOGUS\n");
    DWORD size = 0;
    std::vector<BOOL> signs;
    for (int i = 0; i < 3; ++i) {
        HCRYPTHASH hash = 0;
        ASSERT_TRUE(a().createHash(h, CALG_GOST_R3411_2012_256, 0, 0, &hash));
        signs.push_back(a().signHash(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size));
        if (!signs.back()) {
            // The rdrsup rule fires at the first question; libcapi10's
            // GetLastError tells the value itself.
            EXPECT_EQ(a().lastError(), SCARD_W_WRONG_CHV);
            EXPECT_EQ(a().lastError(), NTE_FAIL);
            EXPECT_EQ(a().capi10LastError(), NTE_FAIL);
        }
        a().destroyHash(hash);
    }
    EXPECT_EQ(signs, (std::vector<BOOL>{ORMID_CAPI_TRUE, ORMID_CAPI_FALSE, ORMID_CAPI_TRUE}));
    HCRYPTHASH hash = 0;
    EXPECT_EQ(failure(a().createHash(h, CALG_GOST_R3411_2012_256, 0, 0, &hash)), NTE_BAD_ALGID);
    EXPECT_EQ(failure(a().createHash(h, CALG_GOST_R3411_2012_256, 0, 0, &hash)), NTE_BAD_ALGID);

    const Bytes logBytes = gostsoft::readFile(cspFile("calls.log"));
    const std::string log(logBytes.begin(), logBytes.end());
    EXPECT_NE(log.find("capi10 CryptSignHashA hash="), std::string::npos);
    EXPECT_NE(log.find("rv=0x80090020 injected"), std::string::npos);
    EXPECT_NE(log.find("rdrsup GetLastError rv=0x8010006b injected"), std::string::npos);
    EXPECT_NE(log.find("capi10 CryptAcquireContextA container=faulty type=80 flags=0x8"), std::string::npos);
    // The malformed rule never fires; emptying the file ends the faults.
    writeCspFile("faults", "");
    ASSERT_TRUE(a().createHash(h, CALG_GOST_R3411_2012_256, 0, 0, &hash));
    a().destroyHash(hash);
    a().destroyKey(key);
    a().release(h, 0);
}

TEST_F(ControlTest, AFaultMayTakeAMediumOut)
{
    writeCspFile("settings", "connected=HDIMAGE,FLASH\n");
    writeCspFile("faults", "CryptAcquireContextA nth 1 NTE_BAD_KEYSET_PARAM remove=FLASH\n");
    EXPECT_EQ(acquireError("\\\\.\\FLASH\\k", PROV_GOST_2012_256, CRYPT_NEWKEYSET), NTE_BAD_KEYSET_PARAM);
    // The medium stays out for the calls after.
    EXPECT_EQ(acquireError("\\\\.\\FLASH\\k", PROV_GOST_2012_256, CRYPT_NEWKEYSET), NTE_BAD_KEYSET_PARAM);
    Bytes settings = gostsoft::readFile(cspFile("settings"));
    EXPECT_NE(std::string(settings.begin(), settings.end()).find("connected=HDIMAGE\n"), std::string::npos);
}

TEST_F(ControlTest, TheLastErrorBelongsToTheThread)
{
    EXPECT_EQ(failure(a().release(0x7777, 0)), NTE_BAD_UID);
    DWORD seenThere = 0;
    std::thread other([&] {
        DWORD size = 0;
        a().getKeyParam(0x7777, KP_ALGID, nullptr, &size, 0);
        seenThere = a().lastError();
    });
    other.join();
    EXPECT_EQ(seenThere, NTE_BAD_KEY);
    EXPECT_EQ(a().lastError(), NTE_BAD_UID);
}

TEST_F(ControlTest, OpenHandlesAreCountedUntilGivenBack)
{
    HCRYPTKEY key = 0;
    HCRYPTPROV h = newKey("counted", PROV_GOST_2012_256, "", key);
    HCRYPTHASH hash = hashOf(h, CALG_GOST_R3411_2012_256, bytes("x"));
    HCERTSTORE store = a().openStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    EXPECT_EQ(a().openHandles(), m_openBefore + 4);
    // A handle of one kind is no handle of another, and each goes back once.
    EXPECT_EQ(failure(a().destroyKey(hash)), NTE_BAD_KEY);
    EXPECT_EQ(failure(a().destroyHash(key)), NTE_BAD_HASH);
    EXPECT_EQ(failure(a().release(key, 0)), NTE_BAD_UID);
    EXPECT_TRUE(a().destroyHash(hash));
    EXPECT_EQ(failure(a().destroyHash(hash)), NTE_BAD_HASH);
    EXPECT_TRUE(a().destroyKey(key));
    EXPECT_TRUE(a().closeStore(store, 0));
    EXPECT_EQ(a().openHandles(), m_openBefore + 1);
    EXPECT_EQ(failure(a().release(h, 1)), NTE_BAD_FLAGS);
    EXPECT_TRUE(a().release(h, 0));
    EXPECT_EQ(a().openHandles(), m_openBefore);
}

TEST_F(ControlTest, TheBrokenCopyLacksOneEntryPoint)
{
    void* broken = load(cspPath("capi20", LAB_CSP_BROKEN_DIR));
    EXPECT_EQ(::dlsym(broken, "CertAddEncodedCertificateToStore"), nullptr);
    EXPECT_NE(::dlsym(broken, "CertOpenStore"), nullptr);
    for (const char* library : {"capi10", "rdrsup"}) {
        void* h = load(cspPath(library, LAB_CSP_BROKEN_DIR));
        EXPECT_NE(::dlsym(h, "GetLastError"), nullptr);
        ::dlclose(h);
    }
    ::dlclose(broken);
}

TEST_F(ControlTest, NoStateDirectoryLeavesOnlyVerifyContexts)
{
    ::unsetenv("ORMID_LAB_DIR");
    HCRYPTPROV h = acquire("", PROV_GOST_2012_256, CRYPT_VERIFYCONTEXT);
    HCRYPTHASH hash = hashOf(h, CALG_SHA_256, bytes("abc"));
    EXPECT_EQ(read(a().getHashParam, hash, HP_HASHVAL), gostsoft::sha256(bytes("abc")));
    a().destroyHash(hash);
    a().release(h, 0);
    EXPECT_EQ(acquireError("key", PROV_GOST_2012_256, CRYPT_NEWKEYSET), NTE_PROVIDER_DLL_FAIL);
}

} // namespace
} // namespace labcsptest
