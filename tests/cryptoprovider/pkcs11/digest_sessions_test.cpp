// Token digest engines on two sessions of a module double whose
// C_DigestUpdate can be held: a module that took OS locking hashes on both
// at once; one initialised without it gets one call at a time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "cryptoprovider/pkcs11/module.h"
#include "cryptoprovider/pkcs11/token_engines.h"

namespace
{

using namespace std::chrono_literals;

constexpr CK_SLOT_ID HELD_SLOT = 1;
constexpr CK_SLOT_ID FREE_SLOT = 2;

// The double's state: a session handle is its slot times 100 plus a count.
struct Double {
    bool canLock = true; // C_Initialize takes CKF_OS_LOCKING_OK
    std::mutex mutex;    // guards the double, never held while a call waits
    std::condition_variable changed;
    bool gateOpen = true;    // C_DigestUpdate on HELD_SLOT waits while closed
    bool heldInside = false; // such an update is waiting now
    int inside = 0;          // calls in the module now
    int mostInside = 0;
    CK_SESSION_HANDLE next = 1;
};
Double state;

// Counts one call in the module for its duration.
class Inside
{
  public:
    Inside()
    {
        std::lock_guard lock(state.mutex);
        state.mostInside = std::max(state.mostInside, ++state.inside);
    }
    ~Inside()
    {
        std::lock_guard lock(state.mutex);
        --state.inside;
    }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;
};

CK_RV initialize(CK_VOID_PTR args)
{
    if (args && !state.canLock)
        return CKR_CANT_LOCK;
    return CKR_OK;
}

CK_RV finalize(CK_VOID_PTR)
{
    return CKR_OK;
}

CK_RV openSession(CK_SLOT_ID slot, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session)
{
    Inside inside;
    std::lock_guard lock(state.mutex);
    *session = slot * 100 + state.next++ % 100;
    return CKR_OK;
}

CK_RV closeSession(CK_SESSION_HANDLE)
{
    Inside inside;
    return CKR_OK;
}

CK_RV digestInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR)
{
    Inside inside;
    return CKR_OK;
}

CK_RV digestUpdate(CK_SESSION_HANDLE session, CK_BYTE_PTR, CK_ULONG)
{
    Inside inside;
    if (session / 100 != HELD_SLOT)
        return CKR_OK;
    std::unique_lock lock(state.mutex);
    state.heldInside = true;
    state.changed.notify_all();
    state.changed.wait(lock, [] { return state.gateOpen; });
    state.heldInside = false;
    return CKR_OK;
}

// The value names the slot: 32 bytes of it.
CK_RV digestFinal(CK_SESSION_HANDLE session, CK_BYTE_PTR digest, CK_ULONG_PTR length)
{
    Inside inside;
    if (*length < 32) {
        *length = 32;
        return CKR_BUFFER_TOO_SMALL;
    }
    std::fill(digest, digest + 32, static_cast<CK_BYTE>(session / 100));
    *length = 32;
    return CKR_OK;
}

CK_FUNCTION_LIST functionList()
{
    CK_FUNCTION_LIST list{};
    list.C_Initialize = initialize;
    list.C_Finalize = finalize;
    list.C_OpenSession = openSession;
    list.C_CloseSession = closeSession;
    list.C_DigestInit = digestInit;
    list.C_DigestUpdate = digestUpdate;
    list.C_DigestFinal = digestFinal;
    return list;
}

void setGate(bool open)
{
    std::lock_guard lock(state.mutex);
    state.gateOpen = open;
    state.changed.notify_all();
}

void waitUntilHeld()
{
    std::unique_lock lock(state.mutex);
    state.changed.wait(lock, [] { return state.heldInside; });
}

const bytes DATA{'p', 'a', 'y'};

bytes digestOn(const std::string& path, CK_SLOT_ID slot)
{
    pkcs11::DigestPkcs11 engine(path, slot, pkcs11::SessionMode::Public);
    return engine.digest(DATA, GOST_R_3411_2012_256, Endian::Big, "");
}

class DigestSessions : public ::testing::TestWithParam<bool>
{
  protected:
    void SetUp() override
    {
        state.canLock = GetParam();
        state.mostInside = 0;
        // One function list per case: the process registers a library's
        // initialisation by its list.
        m_list = functionList();
        Pkcs11::supply(m_path, std::make_shared<Pkcs11>(m_path, Pkcs11::Supplied{&m_list, {}}));
    }
    void TearDown() override { Pkcs11::supply(m_path, nullptr); }

    std::string m_path = std::string("digest-double-") + (GetParam() ? "locking" : "single");
    CK_FUNCTION_LIST m_list{};
};

TEST_P(DigestSessions, SecondTokenHashesWhileTheFirstIsHeldUnlessTheModuleTakesOneCall)
{
    const bool threadSafe = GetParam();
    EXPECT_EQ(Pkcs11::instance(m_path, true)->threadSafe(), threadSafe);
    setGate(false);
    auto held = std::async(std::launch::async, [&] { return digestOn(m_path, HELD_SLOT); });
    waitUntilHeld();

    auto second = std::async(std::launch::async, [&] { return digestOn(m_path, FREE_SLOT); });
    // Guards against hanging only: the second digest needs nothing of the first.
    const auto status = second.wait_for(threadSafe ? 30s : 500ms);
    if (threadSafe) {
        EXPECT_EQ(status, std::future_status::ready) << "the second token waited for the first";
    } else {
        EXPECT_EQ(status, std::future_status::timeout) << "a module without OS locking got two calls at once";
    }
    setGate(true);
    EXPECT_EQ(held.get(), bytes(32, HELD_SLOT));
    EXPECT_EQ(second.get(), bytes(32, FREE_SLOT));
    {
        std::lock_guard lock(state.mutex);
        if (threadSafe) {
            EXPECT_EQ(state.mostInside, 2);
        } else {
            EXPECT_EQ(state.mostInside, 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Module, DigestSessions, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "OsLocking" : "WithoutOsLocking"; });

} // namespace
