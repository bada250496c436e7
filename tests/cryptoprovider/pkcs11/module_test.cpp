// The module wrapper: loading and the module cache, slot lookup by serial,
// login errors, object search limits, key generation on a full token,
// two tokens of one module signing from two threads at once, and one token
// digest engine driven from several threads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "cryptoprovider/core/errors.h"
#include "cryptoprovider/pkcs11/module_paths.h"
#include "cryptoprovider/pkcs11/return_values.h"
#include "cryptoprovider/pkcs11/session.h"
#include "cryptoprovider/pkcs11/token_engines.h"
#include "token_lab.h"
#include "x509/algorithms.h"
#include "x509/gost_signature.h"

namespace
{

using namespace tokenlab;
using pkcs11::Helper;
using pkcs11::Session;
using pkcs11::SessionMode;

class ModuleTest : public TokenLab
{
};

// ---- ENSURE_SUCCESS ----

template <class E> std::function<bool(CK_RV)> throws()
{
    return [](CK_RV rv) {
        try {
            pkcs11::ENSURE_SUCCESS(rv);
        } catch (const E&) {
            return true;
        } catch (...) {
        }
        return false;
    };
}

TEST(EnsureSuccess, MapsReturnValuesToCatalogueExceptions)
{
    EXPECT_NO_THROW(pkcs11::ENSURE_SUCCESS(CKR_OK));
    const std::vector<std::pair<CK_RV, std::function<bool(CK_RV)>>> cases{
        {CKR_CANCEL, throws<FunctionCanceled>()},
        {CKR_FUNCTION_CANCELED, throws<FunctionCanceled>()},
        {CKR_FUNCTION_NOT_SUPPORTED, throws<FunctionNotImplemented>()},
        {CKR_PIN_LEN_RANGE, throws<PinLengthRange>()},
        {CKR_PIN_LOCKED, throws<PinBlocked>()},
        {CKR_TOKEN_NOT_PRESENT, throws<DeviceNotFound>()},
        {0x1B6, throws<InvalidDevice>()},
        {CKR_PIN_INCORRECT, throws<pkcs11::Exception>()},
        {CKR_DEVICE_REMOVED, throws<pkcs11::Exception>()},
        {0x80001234, throws<pkcs11::Exception>()},
    };
    for (const auto& [rv, check] : cases)
        EXPECT_TRUE(check(rv)) << std::hex << rv;

    try {
        pkcs11::ENSURE_SUCCESS(0x80001234);
    } catch (const pkcs11::Exception& e) {
        EXPECT_EQ(e.code(), 0x80001234u);
        EXPECT_STREQ(e.errorCode(), "CP-017055");
        EXPECT_STREQ(e.name(), "UNKNOWN");
    }
}

// ---- where the modules are looked for ----

// The JaCarta module is looked for in the folder set first and in its
// default folder after, so a folder holding only the Rutoken modules does not
// hide an installed JaCarta; its companion comes from the same folder.
TEST(ModulePaths, JaCartaModuleInTheFolderSetElseInTheDefault)
{
    gostsoft::TempDir folder;
    const std::string path = folder.path().string();
    gostsoft::writeFile(folder.file("librtpkcs11ecp.so"), "");
    pkcs11::setRutokenPkcs11EcpPath(path);
    pkcs11::setJaCartaPkcs11Path(path);
    EXPECT_EQ(pkcs11::pkcs11Rutoken(), path + "/librtpkcs11ecp.so");
    EXPECT_EQ(pkcs11::pkcs11jcPKCS11(), "/usr/lib/libjcPKCS11-2.so");
    EXPECT_EQ(pkcs11::jckt2libPath(), "/usr/lib/libjckt2.so");

    gostsoft::writeFile(folder.file("libjcPKCS11-2.so"), "");
    EXPECT_EQ(pkcs11::pkcs11jcPKCS11(), path + "/libjcPKCS11-2.so");
    EXPECT_EQ(pkcs11::jckt2libPath(), path + "/libjckt2.so");

    pkcs11::setRutokenPkcs11EcpPath("");
    pkcs11::setJaCartaPkcs11Path("");
    EXPECT_EQ(pkcs11::pkcs11jcPKCS11(), "/usr/lib/libjcPKCS11-2.so");
}

// ---- loading and the cache ----

TEST_F(ModuleTest, LoadFailuresArePkcs11LoadError)
{
    EXPECT_THROW(Pkcs11(std::string(LAB_MODULES_DIR) + "/libmissing.so"), Pkcs11LoadError);
    // A library without C_GetFunctionList.
    EXPECT_THROW(Pkcs11(std::string(LAB_MODULES_DIR) + "/libjckt2.so"), Pkcs11LoadError);
    writeFaults("C_Initialize nth 1 CKR_GENERAL_ERROR\n");
    EXPECT_THROW(Pkcs11::instance(modulePath("jacarta"), false), Pkcs11LoadError);
}

TEST_F(ModuleTest, AlreadyInitialisedModuleIsUsable)
{
    addDevice("rutoken-ecp-2", "0A1B2C3D");
    writeFaults("C_Initialize nth 1 CKR_CRYPTOKI_ALREADY_INITIALIZED\n");
    auto pkcs11 = module();
    EXPECT_NE(callLog().find("C_Initialize rv=0x191 injected"), std::string::npos);
    EXPECT_EQ(pkcs11->findtSlot("0A1B2C3D"), slotOf("0A1B2C3D"));
    Helper helper(pkcs11, slotOf("0A1B2C3D"), SessionMode::User, USER_PIN);
    const bytes label = text("marker");
    const CK_OBJECT_HANDLE object = helper.createObject(
        {pkcs11::attribute(CKA_CLASS, pkcs11::DATA_VALUE), pkcs11::attribute(CKA_LABEL, label)});
    EXPECT_EQ(helper.findObjects({pkcs11::attribute(CKA_LABEL, label)}),
              std::vector<CK_OBJECT_HANDLE>{object});

    // Another user of the process initialised it: it is not finalised under
    // that user when our module goes; the test ends the lab module itself.
    m_modules.clear();
    pkcs11 = Pkcs11::instance(modulePath("rutoken"), true);
    pkcs11->get()->C_Finalize(nullptr);
    Pkcs11::instance(modulePath("rutoken"), false);
}

TEST_F(ModuleTest, CacheReturnsOrReplacesTheModuleOfAPath)
{
    addDevice("rutoken-ecp-2", "0A1B2C3D");
    const std::string path = modulePath("rutoken");
    auto first = Pkcs11::instance(path, false);
    EXPECT_EQ(Pkcs11::instance(path, true), first);

    auto second = Pkcs11::instance(path, false);
    EXPECT_NE(second, first);
    EXPECT_EQ(Pkcs11::instance(path, true), second);

    // The replaced module works while held, and dropping it does not end
    // the library under the module that replaced it.
    EXPECT_NO_THROW(pkcs11::Session(first, slotOf("0A1B2C3D")));
    first.reset();
    pkcs11::Session session(second, slotOf("0A1B2C3D"));
    EXPECT_NE(session.handle(), 0u);
    EXPECT_EQ(second->tokenInfo(slotOf("0A1B2C3D")).ulMaxPinLen, 32u);
}

TEST_F(ModuleTest, CacheIsSafeUnderConcurrentUse)
{
    const std::string path = modulePath("angara");
    std::vector<std::shared_ptr<Pkcs11>> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] { seen[i] = Pkcs11::instance(path, true); });
    for (auto& t : threads)
        t.join();
    for (const auto& m : seen)
        EXPECT_EQ(m, seen.front());
}

// A process may end with modules in the cache, sessions left open and a
// session owned by a static object: it exits cleanly. Cached modules are not
// finalised at exit (a loaded module's own statics may be gone by then).
TEST_F(ModuleTest, ProcessExitsCleanlyWithCachedModulesAndOpenSessions)
{
    addDevice("rutoken-ecp-2", "0A1B2C3D");
    addDevice("angara", "MSK00000001");
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            static std::optional<Helper> held;
            held.emplace(Pkcs11::instance(modulePath("rutoken"), true), slotOf("0A1B2C3D"), SessionMode::User,
                         USER_PIN);
            const auto angara = Pkcs11::instance(modulePath("angara"), true);
            CK_SESSION_HANDLE open = 0;
            angara->get()->C_OpenSession(slotOf("MSK00000001"), Session::READ_WRITE, nullptr, nullptr, &open);
            std::fprintf(stderr, "open=%lu\n", static_cast<unsigned long>(open));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "open=[1-9]");
    // The static session logged out and closed; nothing was finalised.
    const std::string calls = callLog();
    EXPECT_NE(calls.find("rutoken C_Logout"), std::string::npos) << calls;
    EXPECT_NE(calls.find("rutoken C_CloseSession"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("C_Finalize"), std::string::npos) << calls;
}

// ---- slots ----

TEST_F(ModuleTest, FindsTheSlotOfASerial)
{
    addDevice("rutoken-ecp-2", "0A1B2C3D");
    addDevice("rutoken-ecp-3", "abc1234");
    auto pkcs11 = module();

    struct Case {
        const char* requested;
        const char* found; // nullptr: DeviceNotFound
    };
    const Case cases[] = {
        {"0A1B2C3D", "0A1B2C3D"}, {"0ABC1234", "abc1234"}, // padded on the left, compared in upper case
        {"ABC1234", "abc1234"},   {"000ABC1234", "abc1234"},
        {"0abc1234", nullptr}, // the request is taken as given
        {"abc1234", nullptr},     {"0A1B2C3", nullptr},
    };
    for (const Case& c : cases) {
        if (c.found) {
            EXPECT_EQ(pkcs11->findtSlot(c.requested), slotOf(c.found)) << c.requested;
        } else {
            try {
                pkcs11->findtSlot(c.requested);
                ADD_FAILURE() << c.requested;
            } catch (const DeviceNotFound& e) {
                EXPECT_EQ(e.serial(), c.requested);
            }
        }
    }

    // A token pulled out is not found.
    setFact("abc1234", "present", "0");
    EXPECT_THROW(pkcs11->findtSlot("0ABC1234"), DeviceNotFound);
    EXPECT_EQ(pkcs11->slotList(true), std::vector<CK_SLOT_ID>{slotOf("0A1B2C3D")});
    EXPECT_EQ(pkcs11->slotList(false).size(), 2u);
}

TEST_F(ModuleTest, MechanismsAndSlotInformation)
{
    addDevice("jacarta-gost2", "JC01");
    auto pkcs11 = module("jacarta");
    const auto mechanisms = pkcs11->getMechanismList(slotOf("JC01"));
    EXPECT_NE(std::find(mechanisms.begin(), mechanisms.end(), CKM_GOSTR3410), mechanisms.end());
    EXPECT_EQ(std::find(mechanisms.begin(), mechanisms.end(), CKM_GOSTR3410_512), mechanisms.end());
    const CK_SLOT_INFO info = pkcs11->slotInfo(slotOf("JC01"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.slotDescription), 15), "Lab Reader JC01");
    EXPECT_THROW(pkcs11->tokenInfo(4242), pkcs11::Exception);
}

// ---- login ----

TEST_F(ModuleTest, LoginErrors)
{
    addDevice("rutoken-ecp-2", "0A1B2C3D");
    auto pkcs11 = module();
    const CK_SLOT_ID slot = slotOf("0A1B2C3D");

    // Outside the token's length limits: refused before the token is asked.
    EXPECT_THROW(Helper(pkcs11, slot, SessionMode::User, text("123")), PinLengthRange);
    EXPECT_EQ(fact("0A1B2C3D", "user-tries-left"), "10");
    EXPECT_EQ(callLog().find("C_Login"), std::string::npos);

    try {
        Helper(pkcs11, slot, SessionMode::User, text("00000000"));
        ADD_FAILURE() << "wrong PIN accepted";
    } catch (const pkcs11::Exception& e) {
        EXPECT_EQ(e.code(), CKR_PIN_INCORRECT);
        EXPECT_STREQ(e.errorCode(), "CP-017026");
        EXPECT_STREQ(e.name(), "CKR_PIN_INCORRECT");
    }
    EXPECT_EQ(fact("0A1B2C3D", "user-tries-left"), "9");
    // The session of the failed login was closed.
    EXPECT_NE(callLog().find("C_CloseSession"), std::string::npos);

    setFact("0A1B2C3D", "user-tries-left", "0");
    EXPECT_THROW(Helper(pkcs11, slot, SessionMode::User, USER_PIN), PinBlocked);

    // The SO logs in with its own PIN; a public session never logs in.
    EXPECT_NO_THROW(Helper(pkcs11, slot, SessionMode::Admin, text("87654321")));
    EXPECT_NO_THROW(Helper(pkcs11, slot, SessionMode::Public, text("whatever")));
}

TEST_F(ModuleTest, HelperBySerialAndRescan)
{
    addDevice("angara", "MSK00000001");
    auto pkcs11 = module("angara");
    Helper helper(pkcs11, std::string_view("MSK00000001"), SessionMode::Rescan, {});
    EXPECT_EQ(helper.slot(), slotOf("MSK00000001"));
    EXPECT_NE(helper.session(), 0u);
    EXPECT_THROW(Helper(pkcs11, std::string_view("MSK2"), SessionMode::User, USER_PIN), DeviceNotFound);
}

// ---- objects and keys ----

TEST_F(ModuleTest, FindObjectsReturnsAtMost256Handles)
{
    addDevice("rutoken-ecp-2", "0A1B2C3D");
    devices().update("0A1B2C3D", [](labdev::Device& d) {
        for (int i = 0; i < 300; ++i)
            d.addObject({{CKA_CLASS, pkcs11::DATA_VALUE},
                         {CKA_TOKEN, pkcs11::TRUE_VALUE},
                         {CKA_PRIVATE, pkcs11::FALSE_VALUE},
                         {CKA_LABEL, text("bulk")}});
    });
    auto helper = user("0A1B2C3D");
    const bytes label = text("bulk");
    const auto found = helper->findObjects({pkcs11::attribute(CKA_LABEL, label)});
    EXPECT_EQ(found.size(), pkcs11::MAX_FOUND_OBJECTS);
    // The search was ended: another one runs.
    EXPECT_EQ(helper->findObjects({pkcs11::attribute(CKA_LABEL, text("none"))}).size(), 0u);
}

TEST_F(ModuleTest, FullTokenIsCardIsFull)
{
    addDevice("rutoken-ecp-2", "0A1B2C3D", {{"max-objects", "1"}});
    auto helper = user("0A1B2C3D");
    const ObjectIdentifier paramSet(crypto_pro_param::A);
    EXPECT_THROW(helper->generateKeyPair({0x01}, GOST_R_3410_2012_256, paramSet, false), CardIsFull);

    // The other values that mean "no room", and one that does not.
    setFact("0A1B2C3D", "max-objects", "0");
    for (const char* rv : {"0x2", "0x5", "0x6", "0x80009108"}) {
        writeFaults(std::string("C_GenerateKeyPair nth 1 ") + rv + "\n");
        EXPECT_THROW(helper->generateKeyPair({0x01}, GOST_R_3410_2012_256, paramSet, false), CardIsFull)
            << rv;
    }
    writeFaults("C_GenerateKeyPair nth 1 CKR_MECHANISM_INVALID\n");
    EXPECT_THROW(helper->generateKeyPair({0x01}, GOST_R_3410_2012_256, paramSet, false), pkcs11::Exception);
    writeFaults("");
    EXPECT_NO_THROW(helper->generateKeyPair({0x01}, GOST_R_3410_2012_256, paramSet, false));
}

// ---- two tokens of one module, two threads ----

TEST_F(ModuleTest, TwoTokensOfOneModuleSignFromTwoThreads)
{
    addDevice("rutoken-ecp-2", "0A1B2C3D");
    addDevice("rutoken-ecp-3", "0B2C3D4E");
    const std::string paramSet(crypto_pro_param::A);
    const std::string serials[2] = {"0A1B2C3D", "0B2C3D4E"};
    bytes publicKeys[2];
    for (int i = 0; i < 2; ++i) {
        auto helper = user(serials[i]);
        const auto pair =
            helper->generateKeyPair({0x07}, GOST_R_3410_2012_256, ObjectIdentifier(paramSet), false);
        publicKeys[i] = helper->readAttribute(pair.first, CKA_VALUE);
    }
    ASSERT_NE(publicKeys[0], publicKeys[1]);

    const bytes digest = gostsoft::streebog(text("payment order"), 256);
    bytes lastSignature[2];
    std::string failures[2];
    auto work = [&](int i) {
        try {
            for (int round = 0; round < 15; ++round) {
                // Same key id on both tokens: only the slot tells them apart.
                Helper helper(module(), std::string_view(serials[i]), SessionMode::User, USER_PIN);
                const CK_OBJECT_HANDLE key = helper.findKeyObject({0x07}, pkcs11::PRIVATE_KEY_VALUE);
                lastSignature[i] = helper.sign(key, digest, CKM_GOSTR3410);
            }
        } catch (const std::exception& e) {
            failures[i] = e.what();
        }
    };
    module(); // loaded before the threads start
    std::thread first(work, 0);
    std::thread second(work, 1);
    first.join();
    second.join();
    ASSERT_EQ(failures[0], "");
    ASSERT_EQ(failures[1], "");

    // Each signature (r||s from the helper) verifies with its own token's key only.
    for (int i = 0; i < 2; ++i) {
        const bytes tokenOrder = gost::swapSignatureHalves(lastSignature[i]);
        EXPECT_TRUE(
            opensslVerifies(m_dir, "own" + std::to_string(i), publicKeys[i], paramSet, digest, tokenOrder));
        EXPECT_FALSE(opensslVerifies(m_dir, "other" + std::to_string(i), publicKeys[1 - i], paramSet, digest,
                                     tokenOrder));
    }
}

// ---- one token digest engine, several threads ----

// Java threads sharing a session share its digest engine: they start, feed
// and finish hashes at once. Their calls may interleave (a piece may land in
// another thread's hash, a finish may find the hash already finished), but
// each call ends in a digest or DigestContextNotInitialized, never on a
// session another call closed; a hash run alone afterwards is right.
TEST_F(ModuleTest, OneTokenDigestEngineUsedFromSeveralThreads)
{
    addDevice("rutoken-ecp-2", "0A1B2C3D");
    module();
    pkcs11::DigestPkcs11 engine(modulePath("rutoken"), slotOf("0A1B2C3D"), SessionMode::Public);
    const bytes data = text("payment order");
    const bytes expected = gostsoft::streebog(data, 256);
    constexpr int THREADS = 3;
    std::vector<std::string> failures(THREADS);
    auto work = [&](int i) {
        for (int round = 0; round < 150; ++round) {
            try {
                engine.init(GOST_R_3411_2012_256, "");
                engine.update(data);
                engine.update({});
                engine.doFinal(Endian::Big);
            } catch (const DigestContextNotInitialized&) {
                // another thread finished or replaced this hash
            } catch (const std::exception& e) {
                failures[i] = e.what();
                return;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < THREADS; ++i)
        threads.emplace_back(work, i);
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < THREADS; ++i)
        EXPECT_EQ(failures[i], "") << "thread " << i;

    engine.init(GOST_R_3411_2012_256, "");
    engine.update(data);
    EXPECT_EQ(engine.doFinal(Endian::Big), expected);
}

} // namespace
