// How every exported call of the simulated CSP runs: under one process-wide
// mutex and the state directory's file lock, fault injection first
// (csp/faults), then the call itself; a failure sets the calling thread's
// last error and every call is appended to csp/calls.log. Also the handles
// the CSP gives out (provider contexts, keys, hashes, stores, certificate
// contexts), all counted by ormid_lab_csp_open_handles().
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capi/capi_types.h"
#include "codes.h"
#include "state.h"

#define LAB_CSP_EXPORT extern "C" __attribute__((visibility("default")))

namespace labcsp
{

// ---- handles --------------------------------------------------------------

struct ProviderHandle {
    DWORD type = 0;
    bool verify = false;     // CRYPT_VERIFYCONTEXT: no private key operations
    std::string container;   // container id, empty for none
    std::string keyParamSet; // PP_KEY_PARAMSET_OID written for the next key
    std::size_t readerCursor = 0;
    std::optional<std::vector<std::string>> containerList; // PP_ENUMCONTAINERS snapshot
    std::size_t containerCursor = 0;
};

struct KeyHandle {
    DWORD provType = 0;
    std::string container;           // a container's key: re-read at every use
    bool verify = false;             // of a verify-only context
    std::optional<KeyPair> imported; // a public key imported from a blob
};

struct HashHandle {
    DWORD provType = 0;
    std::string container; // the container of the context the hash was made in
    bool verify = false;
    ALG_ID alg = 0;
    std::string paramSet; // GOST R 34.11-94 parameter set
    Bytes data;
    std::optional<Bytes> value; // set directly (HP_HASHVAL) or computed when finished
    bool finished = false;
};

struct StoreHandle {
    std::string name; // upper case
    bool readOnly = false;
};

struct CertHandle {
    CERT_CONTEXT context{};
    CERT_INFO info{};
    Bytes der;
    std::string algorithmOid;
    Bytes serialLe;
    std::optional<KeyProvInfo> keyProvInfo;
    std::string store;          // the store it came from, empty for none
    std::size_t storeIndex = 0; // its position there
};

struct Registry {
    std::map<HCRYPTPROV, ProviderHandle> providers;
    std::map<HCRYPTKEY, KeyHandle> keys;
    std::map<HCRYPTHASH, HashHandle> hashes;
    std::map<const void*, std::unique_ptr<StoreHandle>> stores;
    std::map<const CERT_CONTEXT*, std::unique_ptr<CertHandle>> certificates;
    std::uintptr_t next = 0x1000;

    std::uintptr_t newHandle() { return next += 0x10; }
    std::size_t open() const
    {
        return providers.size() + keys.size() + hashes.size() + stores.size() + certificates.size();
    }
};

// Only touched under the call mutex (every exported call holds it).
Registry& registry();
std::mutex& callMutex();

// The handle's state; NTE_BAD_UID, NTE_BAD_KEY, NTE_BAD_HASH, ERROR_INVALID_HANDLE
// (stores) and E_INVALIDARG (certificate contexts) for one the CSP did not give out.
ProviderHandle& provider(HCRYPTPROV h);
KeyHandle& key(HCRYPTKEY h);
HashHandle& hash(HCRYPTHASH h);
StoreHandle& store(HCERTSTORE h);
CertHandle& certificate(PCCERT_CONTEXT c);

// ---- calls ----------------------------------------------------------------

void setLastError(DWORD error);
DWORD lastError();

// The details of one call for the log line.
struct CallLog {
    std::string detail;
    void add(const std::string& text) { detail += (detail.empty() ? "" : " ") + text; }
};

// The injected error for this call of `function`, if a rule fires (a rule's
// remove=<READER> takes that reader's medium out as it fires).
std::optional<DWORD> injectedFault(const char* module, const char* function);
void logCall(const char* module, const char* function, const std::string& detail, DWORD error, bool injected);

// Holds the state directory's file lock for one call.
class StateLock
{
  public:
    StateLock();
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

  private:
    int m_fd = -1;
};

template <class R, class Body> R call(const char* module, const char* function, R failValue, Body&& body)
{
    std::lock_guard<std::mutex> guard(callMutex());
    CallLog log;
    DWORD error = 0;
    bool injected = false;
    R result = failValue;
    try {
        StateLock lock;
        if (auto fault = injectedFault(module, function)) {
            error = *fault;
            injected = true;
        } else {
            result = body(log);
        }
    } catch (const Fail& f) {
        error = f.error;
    } catch (const std::bad_alloc&) {
        error = NTE_NO_MEMORY;
    } catch (const std::exception&) {
        error = NTE_FAIL;
    }
    if (error != 0) {
        result = failValue;
        setLastError(error);
    }
    logCall(module, function, log.detail, error, injected);
    return result;
}

// ---- helpers of the calls -------------------------------------------------

// Hands out a value the CryptoAPI way: a null buffer asks for the size; a
// short buffer gets ERROR_MORE_DATA with the size. True when delivered.
bool put(const Bytes& value, BYTE* out, DWORD* length);
Bytes textValue(const std::string& text); // with its terminating NUL
Bytes dwordValue(DWORD value);            // 4 bytes, little-endian
// A NUL-terminated text parameter (at most `max` bytes); ERROR_INVALID_PARAMETER for null.
std::string textParam(const BYTE* data, std::size_t max = 4096);
// Text for the log: printable ASCII as is, other bytes as \xNN.
std::string printable(const std::string& text);
std::string hexNumber(std::uint64_t value);

} // namespace labcsp
