// A PKCS#11 module for the signing benchmarks that stands in for a lab module
// under the same file name: it loads the module of its own file name from
// ORMID_TIMING_MODULES (the folder of the real modules),
// hands out a function list whose every entry calls the real one and adds the
// time spent inside it to a counter file (ORMID_TIMING_FILE, mapped shared:
// two 64-bit little-endian words, nanoseconds and calls), which the benchmark
// reads before and after each operation.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

#include "cryptoprovider/pkcs11/pkcs11_types.h"

namespace
{

struct Counters {
    std::uint64_t nanoseconds;
    std::uint64_t calls;
};

CK_FUNCTION_LIST* g_real = nullptr;
CK_FUNCTION_LIST g_timed{};
Counters* g_counters = nullptr;
CK_C_EX_GetTokenInfoExtended g_realExtended = nullptr;
std::once_flag g_loaded;

void add(std::chrono::steady_clock::duration spent)
{
    if (g_counters == nullptr) {
        return;
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count();
    std::atomic_ref<std::uint64_t>(g_counters->nanoseconds).fetch_add(static_cast<std::uint64_t>(ns));
    std::atomic_ref<std::uint64_t>(g_counters->calls).fetch_add(1);
}

template <class Pointer, Pointer Member>
struct Timed;

template <class... Args, CK_RV (*CK_FUNCTION_LIST::*Member)(Args...)>
struct Timed<CK_RV (*CK_FUNCTION_LIST::*)(Args...), Member> {
    static CK_RV call(Args... args)
    {
        const auto start = std::chrono::steady_clock::now();
        const CK_RV rv = (g_real->*Member)(args...);
        add(std::chrono::steady_clock::now() - start);
        return rv;
    }
};

CK_RV timedFunctionList(CK_FUNCTION_LIST_PTR_PTR list);

Counters* mapCounters()
{
    const char* path = std::getenv("ORMID_TIMING_FILE");
    if (path == nullptr) {
        return nullptr;
    }
    const int fd = open(path, O_RDWR | O_CREAT, 0644);
    if (fd < 0) {
        return nullptr;
    }
    if (ftruncate(fd, sizeof(Counters)) != 0) {
        close(fd);
        return nullptr;
    }
    void* memory = mmap(nullptr, sizeof(Counters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return memory == MAP_FAILED ? nullptr : static_cast<Counters*>(memory);
}

// The real module of the same file name as this one.
std::string realModulePath()
{
    const char* folder = std::getenv("ORMID_TIMING_MODULES");
    Dl_info self{};
    if (folder == nullptr || dladdr(reinterpret_cast<void*>(&mapCounters), &self) == 0 || self.dli_fname == nullptr) {
        return {};
    }
    const std::string own = self.dli_fname;
    return std::string(folder) + "/" + own.substr(own.find_last_of('/') + 1);
}

void load()
{
    const std::string path = realModulePath();
    void* module = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        return;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    g_realExtended = reinterpret_cast<CK_C_EX_GetTokenInfoExtended>(dlsym(module, "C_EX_GetTokenInfoExtended"));
    if (getList == nullptr || getList(&g_real) != CKR_OK) {
        g_real = nullptr;
        return;
    }
    g_counters = mapCounters();
    g_timed.version = g_real->version;
#define ORMID_TIMED(name, args) \
    g_timed.name = &Timed<decltype(&CK_FUNCTION_LIST::name), &CK_FUNCTION_LIST::name>::call;
    ORMID_PKCS11_FUNCTIONS(ORMID_TIMED)
#undef ORMID_TIMED
    g_timed.C_GetFunctionList = timedFunctionList;
}

CK_RV timedFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    std::call_once(g_loaded, load);
    if (g_real == nullptr) {
        return CKR_GENERAL_ERROR;
    }
    if (list == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    *list = &g_timed;
    return CKR_OK;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list)
{
    return timedFunctionList(list);
}

__attribute__((visibility("default"))) CK_RV C_EX_GetTokenInfoExtended(CK_SLOT_ID slot,
                                                                       pkcs11::TokenInfoExtended* info)
{
    std::call_once(g_loaded, load);
    if (g_realExtended == nullptr) {
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
    const auto start = std::chrono::steady_clock::now();
    const CK_RV rv = g_realExtended(slot, info);
    add(std::chrono::steady_clock::now() - start);
    return rv;
}

} // extern "C"
