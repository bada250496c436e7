// How every exported call of a lab token module runs: the latency model's
// delay first (DIR/latency, outside the module lock), then under the module
// lock fault injection (DIR/faults) and the call itself; every call is
// appended to DIR/calls.log.
#pragma once

#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "state.h"

namespace labtoken
{

// The fault rule that fires for this call of `function`, if any (the rules
// are counted and rewritten in the file, so they work across processes).
std::optional<CK_RV> injectedFault(const std::filesystem::path& dir, const char* function);
void logCall(const std::filesystem::path& dir, const char* function, const std::string& detail, CK_RV rv,
             bool injected);

// Sleeps the latency model's delay of `function` (nothing without a model)
// and, while a model is in force, returns the lock of the token the call is
// for, held through the delay: the caller keeps it through the call, so one
// token does one command at a time while calls for other tokens wait out
// their delays at once. The token
// is the slot or session `detail` names first ("slot=N", "session=N"), an
// empty slot included; a call for no token (C_Initialize, C_GetSlotList, ...)
// or for a session not open takes no token lock. Takes the module lock only briefly, never while
// sleeping.
std::unique_lock<std::mutex> deviceLatency(const std::filesystem::path& dir, const char* function,
                                           const std::string& detail);

// Inside the body of a call: runs `work` with the module lock released and
// takes it again afterwards (also when `work` throws). For work on data the
// body took out of the module state (hashing a large part), so that calls
// for other sessions go on meanwhile; the body looks up what it needs again
// afterwards. Outside a body it just runs `work`.
void outsideModuleLock(const std::function<void()>& work);

// Makes the module lock of the running call known to outsideModuleLock.
class ModuleLockScope
{
  public:
    explicit ModuleLockScope(std::unique_lock<std::mutex>& lock);
    ~ModuleLockScope();
    ModuleLockScope(const ModuleLockScope&) = delete;
    ModuleLockScope& operator=(const ModuleLockScope&) = delete;

  private:
    std::unique_lock<std::mutex>* m_previous;
};

std::string hexNumber(CK_ULONG v);
std::string slotDetail(CK_SLOT_ID slot);
std::string sessionDetail(CK_SESSION_HANDLE h);

// Runs one exported call under the module lock: fault injection first, then
// the body; every outcome is logged. `finished` sees the return value of the
// call, injected or not, while the lock is still held.
template <class Body>
CK_RV call(const char* function, const std::string& detail, Body&& body, bool needsInit = true,
           const std::function<void(CK_RV)>& finished = {})
{
    const std::filesystem::path dir = stateDir();
    const std::unique_lock<std::mutex> device = deviceLatency(dir, function, detail);
    std::unique_lock<std::mutex> lock(g_mutex);
    const ModuleLockScope scope(lock);
    CK_RV rv = CKR_OK;
    bool injected = false;
    try {
        if (auto fault = injectedFault(dir, function)) {
            rv = *fault;
            injected = true;
            // Another user of the module initialised it already: it is usable.
            if (rv == CKR_CRYPTOKI_ALREADY_INITIALIZED && std::strcmp(function, "C_Initialize") == 0)
                g.initialized = true;
        } else if (needsInit && !g.initialized) {
            rv = CKR_CRYPTOKI_NOT_INITIALIZED;
        } else {
            rv = body();
        }
    } catch (const Fail& f) {
        rv = f.rv;
    } catch (const std::bad_alloc&) {
        rv = CKR_HOST_MEMORY;
    } catch (const std::exception&) {
        rv = CKR_DEVICE_ERROR;
    }
    if (finished)
        finished(rv);
    logCall(dir, function, detail, rv, injected);
    return rv;
}

// One step of a session's sign, verify or digest operation (C_Sign,
// C_SignUpdate, C_Digest, ...). As the standard has it, a step that fails
// with anything but CKR_BUFFER_TOO_SMALL ends the operation, whether the
// failure is the token's own, a refusal of an unsupported step or an
// injected fault; a successful step ends it only where its body says so.
template <class Body>
CK_RV operationStep(const char* function, CK_SESSION_HANDLE h, Operation Session::*operation,
                    const std::string& detail, Body&& body)
{
    return call(function, detail, std::forward<Body>(body), true, [h, operation](CK_RV rv) {
        if (rv == CKR_OK || rv == CKR_BUFFER_TOO_SMALL)
            return;
        auto it = g.sessions.find(h);
        if (it != g.sessions.end())
            it->second.*operation = Operation{};
    });
}

} // namespace labtoken
