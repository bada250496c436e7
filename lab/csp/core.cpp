#include "core.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/never_destroyed.h"
#include "device/faults.h"

namespace labcsp
{
namespace fs = std::filesystem;

namespace
{
thread_local DWORD t_lastError = 0;
} // namespace

// Never destroyed: a user of the CSP may still release handles from its own
// static destructors at process exit.
Registry& registry()
{
    static bs::NeverDestroyed<Registry> registry;
    return *registry;
}

std::mutex& callMutex()
{
    static bs::NeverDestroyed<std::mutex> mutex;
    return *mutex;
}

ProviderHandle& provider(HCRYPTPROV h)
{
    auto it = registry().providers.find(h);
    if (it == registry().providers.end())
        fail(NTE_BAD_UID);
    return it->second;
}

KeyHandle& key(HCRYPTKEY h)
{
    auto it = registry().keys.find(h);
    if (it == registry().keys.end())
        fail(NTE_BAD_KEY);
    return it->second;
}

HashHandle& hash(HCRYPTHASH h)
{
    auto it = registry().hashes.find(h);
    if (it == registry().hashes.end())
        fail(NTE_BAD_HASH);
    return it->second;
}

StoreHandle& store(HCERTSTORE h)
{
    auto it = registry().stores.find(h);
    if (it == registry().stores.end())
        fail(ERROR_INVALID_HANDLE);
    return *it->second;
}

CertHandle& certificate(PCCERT_CONTEXT c)
{
    auto it = registry().certificates.find(c);
    if (it == registry().certificates.end())
        fail(E_INVALIDARG);
    return *it->second;
}

void setLastError(DWORD error)
{
    t_lastError = error;
}

DWORD lastError()
{
    return t_lastError;
}

std::optional<DWORD> injectedFault(const char* module, const char* function)
{
    fs::path dir = stateDir();
    if (dir.empty())
        return std::nullopt;
    auto hit = labdev::nextFault(dir / "faults", function, module, errorValue);
    if (!hit)
        return std::nullopt;
    if (!hit->remove.empty()) {
        // The medium of that reader is taken out as the call fails.
        Settings settings = loadSettings();
        std::string reader = settings.reader(hit->remove);
        std::erase_if(settings.connected, [&](const std::string& r) { return settings.reader(r) == reader; });
        saveSettings(settings);
    }
    return static_cast<DWORD>(hit->value);
}

void logCall(const char* module, const char* function, const std::string& detail, DWORD error, bool injected)
{
    fs::path dir = stateDir();
    if (!dir.empty())
        labdev::logCall(dir / "calls.log", module, function, detail, error, injected);
}

StateLock::StateLock()
{
    fs::path dir = stateDir();
    if (dir.empty())
        return;
    std::error_code ec;
    fs::create_directories(dir, ec);
    m_fd = ::open((dir / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        fail(NTE_PROVIDER_DLL_FAIL);
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
}

StateLock::~StateLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool put(const Bytes& value, BYTE* out, DWORD* length)
{
    if (!length)
        fail(ERROR_INVALID_PARAMETER);
    const auto size = static_cast<DWORD>(value.size());
    if (!out) {
        *length = size;
        return false;
    }
    if (*length < size) {
        *length = size;
        fail(ERROR_MORE_DATA);
    }
    std::memcpy(out, value.data(), value.size());
    *length = size;
    return true;
}

Bytes textValue(const std::string& text)
{
    Bytes out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

Bytes dwordValue(DWORD v)
{
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

std::string textParam(const BYTE* data, std::size_t max)
{
    if (!data)
        fail(ERROR_INVALID_PARAMETER);
    const char* text = reinterpret_cast<const char*>(data);
    std::size_t n = ::strnlen(text, max + 1);
    if (n > max)
        fail(NTE_BAD_DATA);
    return std::string(text, n);
}

std::string printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string hexNumber(std::uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

} // namespace labcsp
