// One PKCS#11 v2.20 implementation behind the three lab token modules. The
// devices live in the lab state directory (ORMID_LAB_DIR, see device/device.h);
// every call re-reads the device under its file lock, so other processes (the
// card simulator, lab-device, a test) see and change the same token.
#include <fcntl.h>
#include <gcrypt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "device/device.h"
#include "module.h"
#include "token_crypto.h"

namespace labtoken
{
namespace
{
namespace fs = std::filesystem;
using labdev::Device;
using labdev::TokenObject;
using Attributes = std::map<std::uint64_t, Bytes>;

// Attributes the lab keeps for itself (RSA primes and libgcrypt's u): never
// shown, never matched.
constexpr CK_ULONG LAB_INTERNAL = 0xC0DE0000UL;
constexpr CK_ULONG LAB_RSA_P = 0xC0DE0001UL;
constexpr CK_ULONG LAB_RSA_Q = 0xC0DE0002UL;
constexpr CK_ULONG LAB_RSA_U = 0xC0DE0003UL;
constexpr CK_OBJECT_HANDLE FIRST_SESSION_OBJECT = 0x40000000UL;

bool isInternal(CK_ULONG type)
{
    return type >= LAB_INTERNAL && type < LAB_INTERNAL + 0x10000;
}

// Internal early return with a PKCS#11 code.
struct Fail {
    CK_RV rv;
};
[[noreturn]] void fail(CK_RV rv)
{
    throw Fail{rv};
}

struct Operation {
    bool active = false;
    CK_MECHANISM_TYPE mechanism = 0;
    CK_OBJECT_HANDLE key = 0;
    int md = 0;
    Bytes data;
};

struct Session {
    CK_SLOT_ID slot = 0;
    std::string serial;
    CK_FLAGS flags = 0;
    bool findActive = false;
    std::vector<CK_OBJECT_HANDLE> found;
    std::size_t foundPos = 0;
    Operation sign, verify, digest;
};

struct SessionObject {
    CK_SESSION_HANDLE owner = 0;
    std::string serial;
    TokenObject object;
};

struct ModuleState {
    bool initialized = false;
    std::map<CK_SESSION_HANDLE, Session> sessions;
    CK_SESSION_HANDLE nextSession = 1;
    std::map<std::string, CK_USER_TYPE> logins; // by device serial
    std::map<CK_OBJECT_HANDLE, SessionObject> sessionObjects;
    CK_OBJECT_HANDLE nextSessionObject = FIRST_SESSION_OBJECT;
};

std::mutex g_mutex;
ModuleState g;

// ---------------------------------------------------------------- helpers

std::string family()
{
    return moduleFamily();
}

fs::path stateDir()
{
    const char* dir = std::getenv(labdev::STATE_DIR_ENV);
    return dir && *dir ? fs::path(dir) : fs::path();
}

Bytes ulongBytes(CK_ULONG v)
{
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

std::optional<CK_ULONG> ulongOf(const Bytes& b)
{
    if (b.size() != sizeof(CK_ULONG))
        return std::nullopt;
    CK_ULONG v;
    std::memcpy(&v, b.data(), sizeof v);
    return v;
}

const Bytes TRUE_BYTES{1};
const Bytes FALSE_BYTES{0};

bool boolAttr(const Attributes& a, CK_ULONG type, bool fallback)
{
    auto it = a.find(type);
    if (it == a.end() || it->second.size() != 1)
        return fallback;
    return it->second[0] != 0;
}

std::optional<CK_ULONG> ulongAttr(const Attributes& a, CK_ULONG type)
{
    auto it = a.find(type);
    if (it == a.end())
        return std::nullopt;
    return ulongOf(it->second);
}

bool isBoolType(CK_ULONG t)
{
    switch (t) {
    case CKA_TOKEN:
    case CKA_PRIVATE:
    case CKA_MODIFIABLE:
    case CKA_SENSITIVE:
    case CKA_ENCRYPT:
    case CKA_DECRYPT:
    case CKA_WRAP:
    case CKA_UNWRAP:
    case CKA_SIGN:
    case CKA_SIGN_RECOVER:
    case CKA_VERIFY:
    case CKA_VERIFY_RECOVER:
    case CKA_DERIVE:
    case CKA_EXTRACTABLE:
    case CKA_LOCAL:
    case CKA_NEVER_EXTRACTABLE:
    case CKA_ALWAYS_SENSITIVE:
    case CKA_TRUSTED:
    case CKA_WRAP_WITH_TRUSTED:
    case CKA_ALWAYS_AUTHENTICATE:
        return true;
    default:
        return false;
    }
}

bool isUlongType(CK_ULONG t)
{
    return t == CKA_CLASS || t == CKA_KEY_TYPE || t == CKA_CERTIFICATE_TYPE ||
           t == CKA_CERTIFICATE_CATEGORY || t == CKA_MODULUS_BITS || t == CKA_KEY_GEN_MECHANISM;
}

bool isSensitiveType(CK_ULONG t)
{
    return t == CKA_VALUE || t == CKA_PRIVATE_EXPONENT || t == CKA_PRIME_1 || t == CKA_PRIME_2 ||
           t == CKA_EXPONENT_1 || t == CKA_EXPONENT_2 || t == CKA_COEFFICIENT || isInternal(t);
}

Attributes readTemplate(CK_ATTRIBUTE_PTR tmpl, CK_ULONG count)
{
    if (count && !tmpl)
        fail(CKR_ARGUMENTS_BAD);
    Attributes out;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& a = tmpl[i];
        if (a.ulValueLen && !a.pValue)
            fail(CKR_ARGUMENTS_BAD);
        if (a.ulValueLen > (1UL << 24))
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        if (isInternal(a.type))
            fail(CKR_ATTRIBUTE_TYPE_INVALID);
        const auto* p = static_cast<const std::uint8_t*>(a.pValue);
        Bytes value = a.ulValueLen ? Bytes(p, p + a.ulValueLen) : Bytes{};
        if (isBoolType(a.type) && value.size() != 1)
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        if (isUlongType(a.type) && value.size() != sizeof(CK_ULONG))
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        if (!out.emplace(a.type, std::move(value)).second)
            fail(CKR_TEMPLATE_INCONSISTENT);
    }
    return out;
}

std::string hexNumber(CK_ULONG v)
{
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

// ---------------------------------------------------------------- devices

const labdev::ModelInfo& modelOf(const Device& d)
{
    const labdev::ModelInfo* m = labdev::findModel(d.model());
    if (!m)
        fail(CKR_DEVICE_ERROR);
    return *m;
}

// The devices this module serves, by slot id.
std::map<CK_SLOT_ID, Device> familyDevices()
{
    std::map<CK_SLOT_ID, Device> out;
    fs::path dir = stateDir();
    if (dir.empty())
        return out;
    labdev::DeviceDirectory devices(dir);
    for (const auto& serial : devices.serials()) {
        try {
            Device d = devices.load(serial);
            const labdev::ModelInfo* m = labdev::findModel(d.model());
            long long slot = d.getInt(labdev::fact::SLOT, -1);
            if (m && m->family == family() && slot >= 0)
                out.emplace(static_cast<CK_SLOT_ID>(slot), std::move(d));
        } catch (const std::exception&) {
            // A device removed while listing, or damaged by hand: not a slot.
        }
    }
    return out;
}

Device slotDevice(CK_SLOT_ID slot)
{
    auto all = familyDevices();
    auto it = all.find(slot);
    if (it == all.end())
        fail(CKR_SLOT_ID_INVALID);
    return it->second;
}

labdev::DeviceDirectory directory()
{
    return labdev::DeviceDirectory(stateDir());
}

Session& session(CK_SESSION_HANDLE h)
{
    auto it = g.sessions.find(h);
    if (it == g.sessions.end())
        fail(CKR_SESSION_HANDLE_INVALID);
    return it->second;
}

// The session's token, still present.
Device liveDevice(const Session& s)
{
    try {
        Device d = directory().load(s.serial);
        if (!d.getBool(labdev::fact::PRESENT, true))
            fail(CKR_DEVICE_REMOVED);
        return d;
    } catch (const std::runtime_error&) {
        fail(CKR_DEVICE_REMOVED);
    }
}

// Changes the session's device under its exclusive lock.
void updateDevice(const Session& s, const std::function<void(Device&)>& change)
{
    try {
        directory().update(s.serial, [&](Device& d) {
            if (!d.getBool(labdev::fact::PRESENT, true))
                fail(CKR_DEVICE_REMOVED);
            change(d);
        });
    } catch (const std::runtime_error&) {
        fail(CKR_DEVICE_REMOVED);
    }
}

CK_USER_TYPE loginOf(const std::string& serial)
{
    auto it = g.logins.find(serial);
    return it == g.logins.end() ? ~0UL : it->second;
}

bool visible(const Attributes& a, const Session& s)
{
    return !boolAttr(a, CKA_PRIVATE, false) || loginOf(s.serial) == CKU_USER;
}

bool isRw(const Session& s)
{
    return (s.flags & CKF_RW_SESSION) != 0;
}

std::set<CK_ULONG> rejectedAttributes(const Device& d)
{
    std::set<CK_ULONG> out;
    std::string list = d.get(labdev::fact::REJECT_ATTRIBUTES);
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            out.insert(std::stoul(item, nullptr, 16));
    return out;
}

void checkRejected(const Device& d, const Attributes& a)
{
    for (CK_ULONG t : rejectedAttributes(d))
        if (a.count(t))
            fail(CKR_ATTRIBUTE_TYPE_INVALID);
}

void checkRoom(const Device& d, std::size_t newObjects)
{
    long long limit = d.getInt(labdev::fact::MAX_OBJECTS, 0);
    if (limit > 0 && d.objects.size() + newObjects > static_cast<std::size_t>(limit))
        fail(CKR_DEVICE_MEMORY);
}

// An object of the session's token or a session object, as a copy.
struct FoundObject {
    bool onToken = false;
    Attributes attributes;
};

FoundObject findObject(const Session& s, CK_OBJECT_HANDLE h)
{
    if (h >= FIRST_SESSION_OBJECT) {
        auto it = g.sessionObjects.find(h);
        if (it == g.sessionObjects.end() || it->second.serial != s.serial ||
            !visible(it->second.object.attributes, s))
            fail(CKR_OBJECT_HANDLE_INVALID);
        return {false, it->second.object.attributes};
    }
    Device d = liveDevice(s);
    TokenObject* o = d.findObject(h);
    if (!o || !visible(o->attributes, s))
        fail(CKR_OBJECT_HANDLE_INVALID);
    return {true, o->attributes};
}

// ---------------------------------------------------------------- models

struct GenRule {
    CK_MECHANISM_TYPE mechanism;
    std::vector<std::string> paramSets;
};

std::vector<GenRule> gostGenRules()
{
    const std::string f = family();
    if (f == "rutoken")
        return {{CKM_GOSTR3410_KEY_PAIR_GEN,
                 {"1.2.643.2.2.35.1", "1.2.643.2.2.35.2", "1.2.643.2.2.35.3", "1.2.643.2.2.36.0",
                  "1.2.643.2.2.36.1"}},
                {CKM_GOSTR3410_512_KEY_PAIR_GEN, {"1.2.643.7.1.2.1.2.1", "1.2.643.7.1.2.1.2.2"}}};
    if (f == "angara")
        return {{CKM_GOSTR3410_KEY_PAIR_GEN,
                 {"1.2.643.2.2.35.1", "1.2.643.2.2.35.2", "1.2.643.2.2.35.3", "1.2.643.2.2.36.0",
                  "1.2.643.2.2.36.1", "1.2.643.7.1.2.1.1.1"}},
                {CKM_GOSTR3410_512_KEY_PAIR_GEN,
                 {"1.2.643.7.1.2.1.2.1", "1.2.643.7.1.2.1.2.2", "1.2.643.7.1.2.1.2.3"}}};
    return {{CKM_GOSTR3410_KEY_PAIR_GEN, {"1.2.643.2.2.35.1", "1.2.643.2.2.36.0"}}};
}

bool hasRsa()
{
    return family() == "rutoken";
}

std::vector<CK_MECHANISM_TYPE> mechanisms()
{
    std::vector<CK_MECHANISM_TYPE> out;
    for (const auto& r : gostGenRules()) {
        out.push_back(r.mechanism);
        out.push_back(r.mechanism == CKM_GOSTR3410_KEY_PAIR_GEN ? CKM_GOSTR3410 : CKM_GOSTR3410_512);
    }
    if (hasRsa()) {
        out.push_back(CKM_RSA_PKCS_KEY_PAIR_GEN);
        out.push_back(CKM_RSA_PKCS);
    }
    for (CK_MECHANISM_TYPE m : {CKM_GOSTR3411, CKM_GOSTR3411_12_256, CKM_GOSTR3411_12_512, CKM_SHA_1,
                                CKM_SHA224, CKM_SHA256, CKM_SHA384, CKM_SHA512})
        out.push_back(m);
    return out;
}

bool supports(CK_MECHANISM_TYPE m)
{
    auto list = mechanisms();
    return std::find(list.begin(), list.end(), m) != list.end();
}

std::string manufacturer()
{
    const std::string f = family();
    if (f == "rutoken")
        return "Aktiv Co.";
    if (f == "angara")
        return "MS_KEY lab";
    return "Aladdin R.D.";
}

void padCopy(CK_UTF8CHAR* field, std::size_t size, const std::string& text)
{
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

// ---------------------------------------------------------------- call log and faults

CK_RV parseRv(const std::string& text)
{
    static const std::map<std::string, CK_RV> names = {
        {"CKR_OK", CKR_OK},
        {"CKR_CANCEL", CKR_CANCEL},
        {"CKR_HOST_MEMORY", CKR_HOST_MEMORY},
        {"CKR_SLOT_ID_INVALID", CKR_SLOT_ID_INVALID},
        {"CKR_GENERAL_ERROR", CKR_GENERAL_ERROR},
        {"CKR_FUNCTION_FAILED", CKR_FUNCTION_FAILED},
        {"CKR_ARGUMENTS_BAD", CKR_ARGUMENTS_BAD},
        {"CKR_ATTRIBUTE_TYPE_INVALID", CKR_ATTRIBUTE_TYPE_INVALID},
        {"CKR_DEVICE_ERROR", CKR_DEVICE_ERROR},
        {"CKR_DEVICE_MEMORY", CKR_DEVICE_MEMORY},
        {"CKR_DEVICE_REMOVED", CKR_DEVICE_REMOVED},
        {"CKR_FUNCTION_CANCELED", CKR_FUNCTION_CANCELED},
        {"CKR_FUNCTION_NOT_SUPPORTED", CKR_FUNCTION_NOT_SUPPORTED},
        {"CKR_KEY_HANDLE_INVALID", CKR_KEY_HANDLE_INVALID},
        {"CKR_MECHANISM_INVALID", CKR_MECHANISM_INVALID},
        {"CKR_OBJECT_HANDLE_INVALID", CKR_OBJECT_HANDLE_INVALID},
        {"CKR_PIN_INCORRECT", CKR_PIN_INCORRECT},
        {"CKR_PIN_LEN_RANGE", CKR_PIN_LEN_RANGE},
        {"CKR_PIN_LOCKED", CKR_PIN_LOCKED},
        {"CKR_SESSION_HANDLE_INVALID", CKR_SESSION_HANDLE_INVALID},
        {"CKR_SIGNATURE_INVALID", CKR_SIGNATURE_INVALID},
        {"CKR_TEMPLATE_INCONSISTENT", CKR_TEMPLATE_INCONSISTENT},
        {"CKR_TOKEN_NOT_PRESENT", CKR_TOKEN_NOT_PRESENT},
        {"CKR_USER_NOT_LOGGED_IN", CKR_USER_NOT_LOGGED_IN},
        {"CKR_BUFFER_TOO_SMALL", CKR_BUFFER_TOO_SMALL},
        {"CKR_CRYPTOKI_ALREADY_INITIALIZED", CKR_CRYPTOKI_ALREADY_INITIALIZED},
        {"CKR_FUNCTION_REJECTED", CKR_FUNCTION_REJECTED},
    };
    auto it = names.find(text);
    if (it != names.end())
        return it->second;
    return std::stoul(text, nullptr, 0);
}

// Rules of DIR/faults, one a line:
//   <function|*> nth <N> <rv> [module=<family>] [seen=<K>]
//   <function|*> from <N> <rv> [module=<family>] [seen=<K>]
// with an optional remove=<serial>: the device is pulled out as the rule fires.
// `seen` counts the matching calls so far and is kept up to date by the modules.
std::optional<CK_RV> injectedFault(const fs::path& dir, const char* function)
{
    if (dir.empty())
        return std::nullopt;
    const fs::path file = dir / "faults";
    struct stat st;
    if (::stat(file.c_str(), &st) != 0)
        return std::nullopt;
    labdev::FileLock lock(dir / ".faults.lock", true);
    std::string text;
    try {
        text = labdev::readTextFile(file);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
    std::optional<CK_RV> result;
    std::string rewritten, pulled;
    bool changed = false;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream words(line);
        std::string fn, kind, n, rv, word, module, remove;
        unsigned long long seen = 0;
        words >> fn >> kind >> n >> rv;
        while (words >> word) {
            if (word.rfind("module=", 0) == 0)
                module = word.substr(7);
            else if (word.rfind("remove=", 0) == 0)
                remove = word.substr(7);
            else if (word.rfind("seen=", 0) == 0)
                seen = std::strtoull(word.c_str() + 5, nullptr, 10);
        }
        if (fn.empty() || fn[0] == '#' || (kind != "nth" && kind != "from") || rv.empty() ||
            (fn != "*" && fn != function) || (!module.empty() && module != family())) {
            rewritten += line + "\n";
            continue;
        }
        unsigned long long target = 0;
        CK_RV value = 0;
        try {
            target = std::stoull(n);
            value = parseRv(rv);
        } catch (const std::exception&) {
            rewritten += line + "\n"; // a malformed rule is kept and never fires
            continue;
        }
        ++seen;
        changed = true;
        if (!result && ((kind == "nth" && seen == target) || (kind == "from" && seen >= target))) {
            result = value;
            pulled = remove;
        }
        rewritten += fn + " " + kind + " " + n + " " + rv + (module.empty() ? "" : " module=" + module) +
                     (remove.empty() ? "" : " remove=" + remove) + " seen=" + std::to_string(seen) + "\n";
    }
    if (changed)
        labdev::writeFileAtomically(file, rewritten);
    if (!pulled.empty()) {
        // The rule pulls a token out of its slot as the call fails.
        try {
            labdev::DeviceDirectory(dir).update(pulled,
                                                [](Device& d) { d.setInt(labdev::fact::PRESENT, 0); });
        } catch (const std::exception&) {
            // No such device: only the return value is injected.
        }
    }
    return result;
}

void logCall(const fs::path& dir, const char* function, const std::string& detail, CK_RV rv, bool injected)
{
    if (dir.empty() || !fs::is_directory(dir))
        return;
    std::string line = std::to_string(::getpid()) + " " + family() + " " + function;
    if (!detail.empty())
        line += " " + detail;
    line += " rv=" + hexNumber(rv) + (injected ? " injected" : "") + "\n";
    int fd = ::open((dir / "calls.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t ignored = ::write(fd, line.data(), line.size());
    (void)ignored;
    ::close(fd);
}

// Runs one exported call under the module lock: fault injection first, then
// the body; every outcome is logged. `finished` sees the return value of the
// call, injected or not, while the lock is still held.
template <class Body>
CK_RV call(const char* function, const std::string& detail, Body&& body, bool needsInit = true,
           const std::function<void(CK_RV)>& finished = {})
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const fs::path dir = stateDir();
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

std::string slotDetail(CK_SLOT_ID slot)
{
    return "slot=" + std::to_string(slot);
}
std::string sessionDetail(CK_SESSION_HANDLE h)
{
    return "session=" + std::to_string(h);
}

// Two-call size pattern of output buffers: returns true when the result was
// written (the operation is then finished).
bool deliver(const Bytes& value, CK_BYTE_PTR out, CK_ULONG_PTR outLen)
{
    if (!outLen)
        fail(CKR_ARGUMENTS_BAD);
    if (!out) {
        *outLen = value.size();
        return false;
    }
    if (*outLen < value.size()) {
        *outLen = value.size();
        fail(CKR_BUFFER_TOO_SMALL);
    }
    std::memcpy(out, value.data(), value.size());
    *outLen = value.size();
    return true;
}

void closeSession(CK_SESSION_HANDLE h)
{
    auto it = g.sessions.find(h);
    if (it == g.sessions.end())
        return;
    const std::string serial = it->second.serial;
    g.sessions.erase(it);
    for (auto o = g.sessionObjects.begin(); o != g.sessionObjects.end();)
        o = o->second.owner == h ? g.sessionObjects.erase(o) : std::next(o);
    bool last = std::none_of(g.sessions.begin(), g.sessions.end(),
                             [&](const auto& s) { return s.second.serial == serial; });
    if (last)
        g.logins.erase(serial);
}

CK_OBJECT_HANDLE storeSessionObject(CK_SESSION_HANDLE owner, const std::string& serial, Attributes a)
{
    CK_OBJECT_HANDLE h = g.nextSessionObject++;
    SessionObject o;
    o.owner = owner;
    o.serial = serial;
    o.object.handle = h;
    o.object.attributes = std::move(a);
    g.sessionObjects.emplace(h, std::move(o));
    return h;
}

// Checks a PIN against the device and counts the try.
CK_RV checkPin(Device& d, CK_USER_TYPE user, const std::string& pin)
{
    const bool so = user == CKU_SO;
    const std::string pinKey = so ? labdev::fact::SO_PIN : labdev::fact::USER_PIN;
    const std::string leftKey = so ? labdev::fact::SO_TRIES_LEFT : labdev::fact::USER_TRIES_LEFT;
    const std::string maxKey = so ? labdev::fact::SO_TRIES_MAX : labdev::fact::USER_TRIES_MAX;
    long long left = d.getInt(leftKey, 10);
    if (left <= 0)
        return CKR_PIN_LOCKED;
    const long long minLen = d.getInt(labdev::fact::MIN_PIN_LEN, 4),
                    maxLen = d.getInt(labdev::fact::MAX_PIN_LEN, 32);
    if (static_cast<long long>(pin.size()) < minLen || static_cast<long long>(pin.size()) > maxLen)
        return CKR_PIN_LEN_RANGE;
    if (pin == d.get(pinKey)) {
        d.setInt(leftKey, d.getInt(maxKey, 10));
        return CKR_OK;
    }
    d.setInt(leftKey, left - 1);
    return CKR_PIN_INCORRECT;
}

std::string pinText(CK_UTF8CHAR_PTR pin, CK_ULONG len)
{
    if (len && !pin)
        fail(CKR_ARGUMENTS_BAD);
    if (len > 4096)
        fail(CKR_PIN_LEN_RANGE);
    return len ? std::string(reinterpret_cast<const char*>(pin), len) : std::string();
}

Bytes mechanismParameter(CK_MECHANISM_PTR m)
{
    if (!m)
        fail(CKR_ARGUMENTS_BAD);
    if (m->ulParameterLen && !m->pParameter)
        fail(CKR_ARGUMENTS_BAD);
    if (m->ulParameterLen > 4096)
        fail(CKR_MECHANISM_PARAM_INVALID);
    const auto* p = static_cast<const std::uint8_t*>(m->pParameter);
    return m->ulParameterLen ? Bytes(p, p + m->ulParameterLen) : Bytes{};
}

CK_ULONG tokenFlags(const Device& d)
{
    CK_FLAGS flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED;
    if (d.getBool(labdev::fact::USER_PIN_INITIALIZED, true))
        flags |= CKF_USER_PIN_INITIALIZED;
    const long long userLeft = d.getInt(labdev::fact::USER_TRIES_LEFT, 10),
                    userMax = d.getInt(labdev::fact::USER_TRIES_MAX, 10);
    const long long soLeft = d.getInt(labdev::fact::SO_TRIES_LEFT, 10),
                    soMax = d.getInt(labdev::fact::SO_TRIES_MAX, 10);
    if (userLeft <= 0)
        flags |= CKF_USER_PIN_LOCKED;
    else if (userLeft == 1)
        flags |= CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_COUNT_LOW;
    else if (userLeft < userMax)
        flags |= CKF_USER_PIN_COUNT_LOW;
    if (soLeft <= 0)
        flags |= CKF_SO_PIN_LOCKED;
    else if (soLeft == 1)
        flags |= CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_COUNT_LOW;
    else if (soLeft < soMax)
        flags |= CKF_SO_PIN_COUNT_LOW;
    if (family() == "angara") {
        // MS_KEY K reports the user PIN tries left in bits 12 to 15 and a
        // factory PIN as "to be changed".
        flags |= static_cast<CK_FLAGS>(std::clamp(userLeft, 0LL, 15LL)) << 12;
        if (d.getBool(labdev::fact::USER_PIN_DEFAULT, false))
            flags |= CKF_USER_PIN_TO_BE_CHANGED;
    }
    return flags;
}

// The attributes a new object has when its template leaves them out: the
// standard's defaults, and the lab's choices where the standard leaves them
// to the token (private keys sensitive, not extractable, able to sign).
// Keys made outside the token were never "always sensitive" nor "never
// extractable", and their generating mechanism is unknown; key generation
// sets these itself.
Attributes withDefaults(Attributes a, CK_OBJECT_CLASS cls)
{
    a.emplace(CKA_TOKEN, FALSE_BYTES);
    a.emplace(CKA_PRIVATE, cls == CKO_PRIVATE_KEY || cls == CKO_SECRET_KEY ? TRUE_BYTES : FALSE_BYTES);
    a.emplace(CKA_MODIFIABLE, TRUE_BYTES);
    a.emplace(CKA_LABEL, Bytes{});
    if (cls == CKO_CERTIFICATE)
        a.emplace(CKA_CERTIFICATE_TYPE, ulongBytes(CKC_X_509));
    if (cls != CKO_PUBLIC_KEY && cls != CKO_PRIVATE_KEY && cls != CKO_SECRET_KEY)
        return a;
    for (CK_ATTRIBUTE_TYPE t : {CKA_ID, CKA_START_DATE, CKA_END_DATE})
        a.emplace(t, Bytes{});
    a.emplace(CKA_DERIVE, FALSE_BYTES);
    a.emplace(CKA_LOCAL, FALSE_BYTES);
    a.emplace(CKA_KEY_GEN_MECHANISM, ulongBytes(CK_UNAVAILABLE_INFORMATION));
    if (cls != CKO_SECRET_KEY)
        a.emplace(CKA_SUBJECT, Bytes{});
    if (cls != CKO_PRIVATE_KEY)
        for (CK_ATTRIBUTE_TYPE t : {CKA_ENCRYPT, CKA_WRAP, CKA_TRUSTED})
            a.emplace(t, FALSE_BYTES);
    if (cls == CKO_PUBLIC_KEY) {
        a.emplace(CKA_VERIFY, TRUE_BYTES);
        a.emplace(CKA_VERIFY_RECOVER, FALSE_BYTES);
    }
    if (cls != CKO_PUBLIC_KEY) {
        a.emplace(CKA_SENSITIVE, TRUE_BYTES);
        a.emplace(CKA_EXTRACTABLE, FALSE_BYTES);
        a.emplace(CKA_SIGN, cls == CKO_PRIVATE_KEY ? TRUE_BYTES : FALSE_BYTES);
        for (CK_ATTRIBUTE_TYPE t :
             {CKA_DECRYPT, CKA_UNWRAP, CKA_WRAP_WITH_TRUSTED, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE})
            a.emplace(t, FALSE_BYTES);
    }
    if (cls == CKO_PRIVATE_KEY) {
        a.emplace(CKA_SIGN_RECOVER, FALSE_BYTES);
        a.emplace(CKA_ALWAYS_AUTHENTICATE, FALSE_BYTES);
    }
    if (cls == CKO_SECRET_KEY)
        a.emplace(CKA_VERIFY, FALSE_BYTES);
    return a;
}

// Stores new objects: token ones on the device in one locked update, the
// others as session objects. Returns the handles in order.
std::vector<CK_OBJECT_HANDLE> storeObjects(CK_SESSION_HANDLE h, const Session& s,
                                           std::vector<Attributes> objects)
{
    std::size_t onToken = 0;
    for (const auto& a : objects)
        if (boolAttr(a, CKA_TOKEN, false))
            ++onToken;
    if (onToken && !isRw(s))
        fail(CKR_SESSION_READ_ONLY);
    std::vector<CK_OBJECT_HANDLE> handles(objects.size());
    if (onToken) {
        updateDevice(s, [&](Device& d) {
            checkRoom(d, onToken);
            for (std::size_t i = 0; i < objects.size(); ++i)
                if (boolAttr(objects[i], CKA_TOKEN, false))
                    handles[i] = d.addObject(objects[i]);
        });
    } else {
        checkRoom(liveDevice(s), 0);
    }
    for (std::size_t i = 0; i < objects.size(); ++i)
        if (!boolAttr(objects[i], CKA_TOKEN, false))
            handles[i] = storeSessionObject(h, s.serial, std::move(objects[i]));
    return handles;
}

std::optional<GostCurve> keyCurve(const Attributes& a)
{
    auto it = a.find(CKA_GOSTR3410_PARAMS);
    if (it == a.end())
        return std::nullopt;
    return curveByParamsDer(it->second);
}

RsaKeyPair rsaPrivate(const Attributes& a)
{
    RsaKeyPair k;
    auto get = [&](CK_ULONG t) {
        auto it = a.find(t);
        return it == a.end() ? Bytes{} : it->second;
    };
    k.n = get(CKA_MODULUS);
    k.e = get(CKA_PUBLIC_EXPONENT);
    k.d = get(CKA_PRIVATE_EXPONENT);
    k.p = get(LAB_RSA_P);
    k.q = get(LAB_RSA_Q);
    k.u = get(LAB_RSA_U);
    return k;
}

// Between the little-endian coordinates of the crypto and the order the
// device shows (both ways: reversing each half is its own inverse).
Bytes tokenOrder(const Device& d, Bytes value)
{
    if (d.get(labdev::fact::PUBLIC_KEY_ORDER, "little") == "big") {
        std::reverse(value.begin(), value.begin() + value.size() / 2);
        std::reverse(value.begin() + value.size() / 2, value.end());
    }
    return value;
}

CK_KEY_TYPE keyTypeFor(CK_MECHANISM_TYPE m)
{
    switch (m) {
    case CKM_GOSTR3410:
        return CKK_GOSTR3410;
    case CKM_GOSTR3410_512:
        return CKK_GOSTR3410_512;
    case CKM_RSA_PKCS:
        return CKK_RSA;
    default:
        fail(CKR_MECHANISM_INVALID);
    }
}

} // namespace

CK_RV getTokenInfoExtended(CK_SLOT_ID slot, pkcs11::TokenInfoExtended* info)
{
    return call("C_EX_GetTokenInfoExtended", slotDetail(slot), [&]() -> CK_RV {
        if (!info)
            fail(CKR_ARGUMENTS_BAD);
        if (info->ulSizeofThisStructure != sizeof(pkcs11::TokenInfoExtended))
            fail(CKR_ARGUMENTS_BAD);
        Device d = slotDevice(slot);
        if (!d.getBool(labdev::fact::PRESENT, true))
            fail(CKR_TOKEN_NOT_PRESENT);
        std::memset(info, 0, sizeof *info);
        info->ulSizeofThisStructure = sizeof *info;
        info->ulTokenType = 1;
        info->ulProtocolNumber = 1;
        info->ulMicrocodeNumber = modelOf(d).chipModel;
        info->flags = d.getBool(labdev::fact::USER_PIN_DEFAULT, false) ? 0 : pkcs11::TOKEN_FLAGS_USER_PIN_CHANGED;
        info->ulMaxAdminPinLen = info->ulMaxUserPinLen = d.getInt(labdev::fact::MAX_PIN_LEN, 32);
        info->ulMinAdminPinLen = info->ulMinUserPinLen = d.getInt(labdev::fact::MIN_PIN_LEN, 4);
        info->ulMaxAdminRetryCount = d.getInt(labdev::fact::SO_TRIES_MAX, 10);
        info->ulAdminRetryCountLeft = d.getInt(labdev::fact::SO_TRIES_LEFT, 10);
        info->ulMaxUserRetryCount = d.getInt(labdev::fact::USER_TRIES_MAX, 10);
        info->ulUserRetryCountLeft = d.getInt(labdev::fact::USER_TRIES_LEFT, 10);
        std::string serial = d.serial();
        if (serial.size() % 2)
            serial = "0" + serial;
        try {
            Bytes b = labdev::fromHex(serial);
            std::memcpy(info->serialNumber, b.data(),
                        std::min<std::size_t>(b.size(), sizeof info->serialNumber));
        } catch (const std::invalid_argument&) {
            // A serial that is not hexadecimal has no binary form.
        }
        info->ulTotalMemory = 65536;
        info->ulFreeMemory = 65536 - std::min<std::size_t>(d.objects.size() * 512, 65536);
        info->ulTokenClass = pkcs11::TOKEN_CLASS_ECP;
        return CKR_OK;
    });
}

} // namespace labtoken

using namespace labtoken;

// ---------------------------------------------------------------- general

LAB_EXPORT CK_RV C_Initialize(CK_VOID_PTR pInitArgs)
{
    return call(
        "C_Initialize", "",
        [&]() -> CK_RV {
            if (pInitArgs && static_cast<CK_C_INITIALIZE_ARGS*>(pInitArgs)->pReserved)
                fail(CKR_ARGUMENTS_BAD);
            if (g.initialized)
                return CKR_CRYPTOKI_ALREADY_INITIALIZED;
            initCrypto();
            g = ModuleState{};
            g.initialized = true;
            return CKR_OK;
        },
        false);
}

LAB_EXPORT CK_RV C_Finalize(CK_VOID_PTR pReserved)
{
    return call("C_Finalize", "", [&]() -> CK_RV {
        if (pReserved)
            fail(CKR_ARGUMENTS_BAD);
        g = ModuleState{};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetInfo(CK_INFO_PTR pInfo)
{
    return call("C_GetInfo", "", [&]() -> CK_RV {
        if (!pInfo)
            fail(CKR_ARGUMENTS_BAD);
        std::memset(pInfo, 0, sizeof *pInfo);
        pInfo->cryptokiVersion = {2, 20};
        padCopy(pInfo->manufacturerID, sizeof pInfo->manufacturerID, manufacturer());
        padCopy(pInfo->libraryDescription, sizeof pInfo->libraryDescription, "lab token module " + family());
        pInfo->libraryVersion = {1, 0};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount)
{
    return call("C_GetSlotList", tokenPresent ? "present" : "all", [&]() -> CK_RV {
        if (!pulCount)
            fail(CKR_ARGUMENTS_BAD);
        std::vector<CK_SLOT_ID> slots;
        for (const auto& [id, d] : familyDevices())
            if (!tokenPresent || d.getBool(labdev::fact::PRESENT, true))
                slots.push_back(id);
        if (!pSlotList) {
            *pulCount = slots.size();
            return CKR_OK;
        }
        if (*pulCount < slots.size()) {
            *pulCount = slots.size();
            return CKR_BUFFER_TOO_SMALL;
        }
        std::copy(slots.begin(), slots.end(), pSlotList);
        *pulCount = slots.size();
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo)
{
    return call("C_GetSlotInfo", slotDetail(slotID), [&]() -> CK_RV {
        if (!pInfo)
            fail(CKR_ARGUMENTS_BAD);
        Device d = slotDevice(slotID);
        std::memset(pInfo, 0, sizeof *pInfo);
        padCopy(pInfo->slotDescription, sizeof pInfo->slotDescription, d.get(labdev::fact::READER));
        padCopy(pInfo->manufacturerID, sizeof pInfo->manufacturerID, manufacturer());
        pInfo->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
        if (d.getBool(labdev::fact::PRESENT, true))
            pInfo->flags |= CKF_TOKEN_PRESENT;
        pInfo->hardwareVersion = {1, 0};
        pInfo->firmwareVersion = {1, 0};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo)
{
    return call("C_GetTokenInfo", slotDetail(slotID), [&]() -> CK_RV {
        if (!pInfo)
            fail(CKR_ARGUMENTS_BAD);
        Device d = slotDevice(slotID);
        if (!d.getBool(labdev::fact::PRESENT, true))
            fail(CKR_TOKEN_NOT_PRESENT);
        std::memset(pInfo, 0, sizeof *pInfo);
        padCopy(pInfo->label, sizeof pInfo->label, d.get(labdev::fact::LABEL));
        padCopy(pInfo->manufacturerID, sizeof pInfo->manufacturerID, manufacturer());
        padCopy(pInfo->model, sizeof pInfo->model, std::string(modelOf(d).tokenModel));
        padCopy(pInfo->serialNumber, sizeof pInfo->serialNumber, d.serial());
        pInfo->flags = tokenFlags(d);
        pInfo->ulMaxSessionCount = 0; // no limit
        pInfo->ulMaxRwSessionCount = 0;
        CK_ULONG count = 0, rw = 0;
        for (const auto& [h, s] : g.sessions)
            if (s.serial == d.serial()) {
                ++count;
                rw += isRw(s) ? 1 : 0;
            }
        pInfo->ulSessionCount = count;
        pInfo->ulRwSessionCount = rw;
        pInfo->ulMaxPinLen = d.getInt(labdev::fact::MAX_PIN_LEN, 32);
        pInfo->ulMinPinLen = d.getInt(labdev::fact::MIN_PIN_LEN, 4);
        pInfo->ulTotalPublicMemory = pInfo->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
        pInfo->ulTotalPrivateMemory = pInfo->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
        pInfo->hardwareVersion = {2, 0};
        pInfo->firmwareVersion = {1, 0};
        std::memset(pInfo->utcTime, ' ', sizeof pInfo->utcTime);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList,
                                    CK_ULONG_PTR pulCount)
{
    return call("C_GetMechanismList", slotDetail(slotID), [&]() -> CK_RV {
        if (!pulCount)
            fail(CKR_ARGUMENTS_BAD);
        slotDevice(slotID);
        auto list = mechanisms();
        if (!pMechanismList) {
            *pulCount = list.size();
            return CKR_OK;
        }
        if (*pulCount < list.size()) {
            *pulCount = list.size();
            return CKR_BUFFER_TOO_SMALL;
        }
        std::copy(list.begin(), list.end(), pMechanismList);
        *pulCount = list.size();
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo)
{
    return call("C_GetMechanismInfo", slotDetail(slotID) + " mechanism=" + hexNumber(type), [&]() -> CK_RV {
        if (!pInfo)
            fail(CKR_ARGUMENTS_BAD);
        slotDevice(slotID);
        if (!supports(type))
            fail(CKR_MECHANISM_INVALID);
        *pInfo = {};
        pInfo->flags = CKF_HW;
        switch (type) {
        case CKM_GOSTR3410_KEY_PAIR_GEN:
        case CKM_GOSTR3410_512_KEY_PAIR_GEN:
        case CKM_RSA_PKCS_KEY_PAIR_GEN:
            pInfo->flags |= CKF_GENERATE_KEY_PAIR;
            break;
        case CKM_GOSTR3410:
        case CKM_GOSTR3410_512:
        case CKM_RSA_PKCS:
            pInfo->flags |= CKF_SIGN | CKF_VERIFY;
            break;
        default:
            pInfo->flags |= CKF_DIGEST;
        }
        if (type == CKM_GOSTR3410_KEY_PAIR_GEN || type == CKM_GOSTR3410)
            pInfo->ulMinKeySize = pInfo->ulMaxKeySize = 256;
        if (type == CKM_GOSTR3410_512_KEY_PAIR_GEN || type == CKM_GOSTR3410_512)
            pInfo->ulMinKeySize = pInfo->ulMaxKeySize = 512;
        if (type == CKM_RSA_PKCS_KEY_PAIR_GEN || type == CKM_RSA_PKCS) {
            pInfo->ulMinKeySize = 512;
            pInfo->ulMaxKeySize = 4096;
        }
        return CKR_OK;
    });
}

// ---------------------------------------------------------------- sessions and PINs

LAB_EXPORT CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY,
                               CK_SESSION_HANDLE_PTR phSession)
{
    return call("C_OpenSession", slotDetail(slotID) + " flags=" + hexNumber(flags), [&]() -> CK_RV {
        if (!phSession)
            fail(CKR_ARGUMENTS_BAD);
        if (!(flags & CKF_SERIAL_SESSION))
            fail(CKR_SESSION_PARALLEL_NOT_SUPPORTED);
        Device d = slotDevice(slotID);
        if (!d.getBool(labdev::fact::PRESENT, true))
            fail(CKR_TOKEN_NOT_PRESENT);
        if (!(flags & CKF_RW_SESSION) && loginOf(d.serial()) == CKU_SO)
            fail(CKR_SESSION_READ_WRITE_SO_EXISTS);
        Session s;
        s.slot = slotID;
        s.serial = d.serial();
        s.flags = flags & (CKF_RW_SESSION | CKF_SERIAL_SESSION);
        CK_SESSION_HANDLE h = g.nextSession++;
        g.sessions.emplace(h, std::move(s));
        *phSession = h;
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE hSession)
{
    return call("C_CloseSession", sessionDetail(hSession), [&]() -> CK_RV {
        session(hSession);
        closeSession(hSession);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID slotID)
{
    return call("C_CloseAllSessions", slotDetail(slotID), [&]() -> CK_RV {
        std::vector<CK_SESSION_HANDLE> handles;
        for (const auto& [h, s] : g.sessions)
            if (s.slot == slotID)
                handles.push_back(h);
        for (auto h : handles)
            closeSession(h);
        // Sessions of a device deleted meanwhile are closed all the same.
        if (handles.empty())
            slotDevice(slotID);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo)
{
    return call("C_GetSessionInfo", sessionDetail(hSession), [&]() -> CK_RV {
        if (!pInfo)
            fail(CKR_ARGUMENTS_BAD);
        Session& s = session(hSession);
        liveDevice(s);
        CK_USER_TYPE user = loginOf(s.serial);
        pInfo->slotID = s.slot;
        pInfo->flags = s.flags;
        pInfo->ulDeviceError = 0;
        if (user == CKU_SO)
            pInfo->state = CKS_RW_SO_FUNCTIONS;
        else if (user == CKU_USER)
            pInfo->state = isRw(s) ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
        else
            pInfo->state = isRw(s) ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin,
                         CK_ULONG ulPinLen)
{
    return call("C_Login", sessionDetail(hSession) + " user=" + std::to_string(userType), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (userType != CKU_SO && userType != CKU_USER)
            fail(CKR_USER_TYPE_INVALID);
        std::string pin = pinText(pPin, ulPinLen);
        CK_USER_TYPE current = loginOf(s.serial);
        if (current == userType)
            fail(CKR_USER_ALREADY_LOGGED_IN);
        if (current != ~0UL)
            fail(CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
        // The security officer works in read-write sessions only.
        if (userType == CKU_SO && std::any_of(g.sessions.begin(), g.sessions.end(), [&](const auto& other) {
                return other.second.serial == s.serial && !isRw(other.second);
            }))
            fail(CKR_SESSION_READ_ONLY_EXISTS);
        CK_RV rv = CKR_OK;
        updateDevice(s, [&](Device& d) {
            if (userType == CKU_USER && !d.getBool(labdev::fact::USER_PIN_INITIALIZED, true))
                fail(CKR_USER_PIN_NOT_INITIALIZED);
            rv = checkPin(d, userType, pin);
        });
        std::fill(pin.begin(), pin.end(), '\0');
        if (rv == CKR_OK)
            g.logins[s.serial] = userType;
        return rv;
    });
}

LAB_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE hSession)
{
    return call("C_Logout", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (loginOf(s.serial) == ~0UL)
            fail(CKR_USER_NOT_LOGGED_IN);
        g.logins.erase(s.serial);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen)
{
    return call("C_InitPIN", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (loginOf(s.serial) != CKU_SO)
            fail(CKR_USER_NOT_LOGGED_IN);
        if (!isRw(s))
            fail(CKR_SESSION_READ_ONLY);
        std::string pin = pinText(pPin, ulPinLen);
        updateDevice(s, [&](Device& d) {
            if (static_cast<long long>(pin.size()) < d.getInt(labdev::fact::MIN_PIN_LEN, 4) ||
                static_cast<long long>(pin.size()) > d.getInt(labdev::fact::MAX_PIN_LEN, 32))
                fail(CKR_PIN_LEN_RANGE);
            d.set(labdev::fact::USER_PIN, pin);
            d.setInt(labdev::fact::USER_TRIES_LEFT, d.getInt(labdev::fact::USER_TRIES_MAX, 10));
            d.setInt(labdev::fact::USER_PIN_INITIALIZED, 1);
        });
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
                          CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen)
{
    return call("C_SetPIN", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!isRw(s))
            fail(CKR_SESSION_READ_ONLY);
        const CK_USER_TYPE who = loginOf(s.serial) == CKU_SO ? CKU_SO : CKU_USER;
        std::string oldPin = pinText(pOldPin, ulOldLen), newPin = pinText(pNewPin, ulNewLen);
        CK_RV rv = CKR_OK;
        updateDevice(s, [&](Device& d) {
            if (static_cast<long long>(newPin.size()) < d.getInt(labdev::fact::MIN_PIN_LEN, 4) ||
                static_cast<long long>(newPin.size()) > d.getInt(labdev::fact::MAX_PIN_LEN, 32))
                fail(CKR_PIN_LEN_RANGE);
            rv = checkPin(d, who, oldPin);
            if (rv != CKR_OK)
                return;
            d.set(who == CKU_SO ? labdev::fact::SO_PIN : labdev::fact::USER_PIN, newPin);
            if (who == CKU_USER)
                d.setInt(labdev::fact::USER_PIN_DEFAULT, 0);
        });
        return rv;
    });
}

// ---------------------------------------------------------------- objects

LAB_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                                CK_OBJECT_HANDLE_PTR phObject)
{
    return call("C_CreateObject", sessionDetail(hSession), [&]() -> CK_RV {
        if (!phObject)
            fail(CKR_ARGUMENTS_BAD);
        Session& s = session(hSession);
        Attributes a = readTemplate(pTemplate, ulCount);
        auto cls = ulongAttr(a, CKA_CLASS);
        if (!cls)
            fail(CKR_TEMPLATE_INCOMPLETE);
        if (*cls > CKO_SECRET_KEY)
            fail(CKR_ATTRIBUTE_VALUE_INVALID);
        checkRejected(liveDevice(s), a);
        a = withDefaults(std::move(a), *cls);
        if ((*cls == CKO_CERTIFICATE || *cls == CKO_PRIVATE_KEY) && !a.count(CKA_VALUE) &&
            !a.count(CKA_MODULUS))
            fail(CKR_TEMPLATE_INCOMPLETE);
        if ((*cls == CKO_PUBLIC_KEY || *cls == CKO_PRIVATE_KEY) && !ulongAttr(a, CKA_KEY_TYPE))
            fail(CKR_TEMPLATE_INCOMPLETE);
        if (boolAttr(a, CKA_PRIVATE, false) && loginOf(s.serial) != CKU_USER)
            fail(CKR_USER_NOT_LOGGED_IN);
        *phObject = storeObjects(hSession, s, {std::move(a)}).front();
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject)
{
    return call("C_DestroyObject", sessionDetail(hSession) + " object=" + std::to_string(hObject),
                [&]() -> CK_RV {
                    Session& s = session(hSession);
                    FoundObject o = findObject(s, hObject);
                    if (!o.onToken) {
                        g.sessionObjects.erase(hObject);
                        return CKR_OK;
                    }
                    if (!isRw(s))
                        fail(CKR_SESSION_READ_ONLY);
                    updateDevice(s, [&](Device& d) {
                        if (!d.removeObject(hObject))
                            fail(CKR_OBJECT_HANDLE_INVALID);
                    });
                    return CKR_OK;
                });
}

LAB_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                     CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return call("C_GetAttributeValue", sessionDetail(hSession) + " object=" + std::to_string(hObject),
                [&]() -> CK_RV {
                    if (ulCount && !pTemplate)
                        fail(CKR_ARGUMENTS_BAD);
                    Session& s = session(hSession);
                    FoundObject o = findObject(s, hObject);
                    const auto cls = ulongAttr(o.attributes, CKA_CLASS);
                    const bool secret = (cls == CKO_PRIVATE_KEY || cls == CKO_SECRET_KEY) &&
                                        (boolAttr(o.attributes, CKA_SENSITIVE, true) ||
                                         !boolAttr(o.attributes, CKA_EXTRACTABLE, false));
                    CK_RV rv = CKR_OK;
                    for (CK_ULONG i = 0; i < ulCount; ++i) {
                        CK_ATTRIBUTE& a = pTemplate[i];
                        auto it = o.attributes.find(a.type);
                        if (isInternal(a.type) || it == o.attributes.end()) {
                            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                            rv = CKR_ATTRIBUTE_TYPE_INVALID;
                        } else if (secret && isSensitiveType(a.type)) {
                            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                            rv = CKR_ATTRIBUTE_SENSITIVE;
                        } else if (!a.pValue) {
                            a.ulValueLen = it->second.size();
                        } else if (a.ulValueLen < it->second.size()) {
                            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                            rv = CKR_BUFFER_TOO_SMALL;
                        } else {
                            if (!it->second.empty())
                                std::memcpy(a.pValue, it->second.data(), it->second.size());
                            a.ulValueLen = it->second.size();
                        }
                    }
                    return rv;
                });
}

LAB_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                     CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return call("C_SetAttributeValue", sessionDetail(hSession) + " object=" + std::to_string(hObject),
                [&]() -> CK_RV {
                    Session& s = session(hSession);
                    Attributes changes = readTemplate(pTemplate, ulCount);
                    FoundObject o = findObject(s, hObject);
                    if (!boolAttr(o.attributes, CKA_MODIFIABLE, true))
                        fail(CKR_ATTRIBUTE_READ_ONLY);
                    const auto cls = ulongAttr(o.attributes, CKA_CLASS);
                    const bool key = cls == CKO_PUBLIC_KEY || cls == CKO_PRIVATE_KEY || cls == CKO_SECRET_KEY;
                    for (const auto& [type, value] : changes) {
                        switch (type) {
                        case CKA_CLASS:
                        case CKA_TOKEN:
                        case CKA_PRIVATE:
                        case CKA_KEY_TYPE:
                        case CKA_CERTIFICATE_TYPE:
                        case CKA_LOCAL:
                        case CKA_KEY_GEN_MECHANISM:
                        case CKA_ALWAYS_SENSITIVE:
                        case CKA_NEVER_EXTRACTABLE:
                        case CKA_MODULUS:
                        case CKA_MODULUS_BITS:
                        case CKA_PUBLIC_EXPONENT:
                        case CKA_MODIFIABLE:
                            fail(CKR_ATTRIBUTE_READ_ONLY);
                        case CKA_VALUE:
                        case CKA_GOSTR3410_PARAMS:
                        case CKA_GOSTR3411_PARAMS:
                            if (key)
                                fail(CKR_ATTRIBUTE_READ_ONLY);
                            break;
                        default:
                            break;
                        }
                    }
                    checkRejected(liveDevice(s), changes);
                    if (!o.onToken) {
                        for (auto& [type, value] : changes)
                            g.sessionObjects[hObject].object.attributes[type] = value;
                        return CKR_OK;
                    }
                    if (!isRw(s))
                        fail(CKR_SESSION_READ_ONLY);
                    updateDevice(s, [&](Device& d) {
                        TokenObject* t = d.findObject(hObject);
                        if (!t)
                            fail(CKR_OBJECT_HANDLE_INVALID);
                        for (auto& [type, value] : changes)
                            t->attributes[type] = value;
                    });
                    return CKR_OK;
                });
}

LAB_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount)
{
    return call("C_FindObjectsInit", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (s.findActive)
            fail(CKR_OPERATION_ACTIVE);
        if (ulCount && !pTemplate)
            fail(CKR_ARGUMENTS_BAD);
        Attributes wanted;
        bool impossible = false;
        for (CK_ULONG i = 0; i < ulCount; ++i) {
            const CK_ATTRIBUTE& a = pTemplate[i];
            if (a.ulValueLen && !a.pValue)
                fail(CKR_ARGUMENTS_BAD);
            if (a.ulValueLen > (1UL << 24))
                fail(CKR_ATTRIBUTE_VALUE_INVALID);
            const auto* p = static_cast<const std::uint8_t*>(a.pValue);
            Bytes v = a.ulValueLen ? Bytes(p, p + a.ulValueLen) : Bytes{};
            auto [it, fresh] = wanted.emplace(a.type, v);
            if (!fresh && it->second != v)
                impossible = true;
            if (isInternal(a.type))
                impossible = true;
        }
        auto matches = [&](const Attributes& attrs) {
            if (impossible || !visible(attrs, s))
                return false;
            for (const auto& [type, value] : wanted) {
                auto it = attrs.find(type);
                if (it == attrs.end() || it->second != value)
                    return false;
            }
            return true;
        };
        s.found.clear();
        Device d = liveDevice(s);
        for (const auto& o : d.objects)
            if (matches(o.attributes))
                s.found.push_back(o.handle);
        for (const auto& [h, o] : g.sessionObjects)
            if (o.serial == s.serial && matches(o.object.attributes))
                s.found.push_back(h);
        s.foundPos = 0;
        s.findActive = true;
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject,
                               CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount)
{
    return call("C_FindObjects", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!s.findActive)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        if (!pulObjectCount || (ulMaxObjectCount && !phObject))
            fail(CKR_ARGUMENTS_BAD);
        CK_ULONG n = 0;
        while (n < ulMaxObjectCount && s.foundPos < s.found.size())
            phObject[n++] = s.found[s.foundPos++];
        *pulObjectCount = n;
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    return call("C_FindObjectsFinal", sessionDetail(hSession), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!s.findActive)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        s.findActive = false;
        s.found.clear();
        return CKR_OK;
    });
}

// ---------------------------------------------------------------- keys

LAB_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                                   CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                                   CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                                   CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey)
{
    const std::string detail =
        sessionDetail(hSession) + " mechanism=" + (pMechanism ? hexNumber(pMechanism->mechanism) : "null");
    return call("C_GenerateKeyPair", detail, [&]() -> CK_RV {
        if (!phPublicKey || !phPrivateKey)
            fail(CKR_ARGUMENTS_BAD);
        Session& s = session(hSession);
        const Bytes parameter = mechanismParameter(pMechanism);
        const CK_MECHANISM_TYPE mech = pMechanism->mechanism;
        if (!supports(mech) || (mech != CKM_GOSTR3410_KEY_PAIR_GEN &&
                                mech != CKM_GOSTR3410_512_KEY_PAIR_GEN && mech != CKM_RSA_PKCS_KEY_PAIR_GEN))
            fail(CKR_MECHANISM_INVALID);
        if (!parameter.empty())
            fail(CKR_MECHANISM_PARAM_INVALID);
        Attributes pub = readTemplate(pPublicKeyTemplate, ulPublicKeyAttributeCount);
        Attributes priv = readTemplate(pPrivateKeyTemplate, ulPrivateKeyAttributeCount);
        if (ulongAttr(pub, CKA_CLASS).value_or(CKO_PUBLIC_KEY) != CKO_PUBLIC_KEY ||
            ulongAttr(priv, CKA_CLASS).value_or(CKO_PRIVATE_KEY) != CKO_PRIVATE_KEY)
            fail(CKR_TEMPLATE_INCONSISTENT);
        if (pub.count(CKA_VALUE) || priv.count(CKA_VALUE) || pub.count(CKA_MODULUS) ||
            priv.count(CKA_MODULUS))
            fail(CKR_TEMPLATE_INCONSISTENT);
        if (loginOf(s.serial) != CKU_USER)
            fail(CKR_USER_NOT_LOGGED_IN);
        Device device = liveDevice(s);
        checkRejected(device, pub);
        checkRejected(device, priv);
        pub[CKA_CLASS] = ulongBytes(CKO_PUBLIC_KEY);
        priv[CKA_CLASS] = ulongBytes(CKO_PRIVATE_KEY);
        pub[CKA_LOCAL] = priv[CKA_LOCAL] = TRUE_BYTES;
        pub[CKA_KEY_GEN_MECHANISM] = priv[CKA_KEY_GEN_MECHANISM] = ulongBytes(mech);
        priv[CKA_ALWAYS_SENSITIVE] = boolAttr(priv, CKA_SENSITIVE, true) ? TRUE_BYTES : FALSE_BYTES;
        priv[CKA_NEVER_EXTRACTABLE] = boolAttr(priv, CKA_EXTRACTABLE, false) ? FALSE_BYTES : TRUE_BYTES;

        if (mech == CKM_RSA_PKCS_KEY_PAIR_GEN) {
            auto bits = ulongAttr(pub, CKA_MODULUS_BITS);
            if (!bits)
                fail(CKR_TEMPLATE_INCOMPLETE);
            if (*bits < 512 || *bits > 4096 || *bits % 256)
                fail(CKR_KEY_SIZE_RANGE);
            if (ulongAttr(pub, CKA_KEY_TYPE).value_or(CKK_RSA) != CKK_RSA ||
                ulongAttr(priv, CKA_KEY_TYPE).value_or(CKK_RSA) != CKK_RSA)
                fail(CKR_TEMPLATE_INCONSISTENT);
            checkRoom(device, boolAttr(pub, CKA_TOKEN, false) + boolAttr(priv, CKA_TOKEN, false));
            RsaKeyPair k = rsaGenerate(static_cast<unsigned>(*bits));
            pub[CKA_KEY_TYPE] = priv[CKA_KEY_TYPE] = ulongBytes(CKK_RSA);
            pub[CKA_MODULUS] = priv[CKA_MODULUS] = k.n;
            pub[CKA_PUBLIC_EXPONENT] = priv[CKA_PUBLIC_EXPONENT] = k.e;
            priv[CKA_PRIVATE_EXPONENT] = k.d;
            priv[LAB_RSA_P] = k.p;
            priv[LAB_RSA_Q] = k.q;
            priv[LAB_RSA_U] = k.u;
        } else {
            Bytes params =
                pub.count(CKA_GOSTR3410_PARAMS) ? pub[CKA_GOSTR3410_PARAMS] : priv[CKA_GOSTR3410_PARAMS];
            if (params.empty())
                fail(CKR_TEMPLATE_INCOMPLETE);
            if (priv.count(CKA_GOSTR3410_PARAMS) && priv[CKA_GOSTR3410_PARAMS] != params)
                fail(CKR_TEMPLATE_INCONSISTENT);
            auto curve = curveByParamsDer(params);
            bool allowed = false;
            for (const auto& rule : gostGenRules())
                if (rule.mechanism == mech && curve &&
                    std::find(rule.paramSets.begin(), rule.paramSets.end(), curve->oid) !=
                        rule.paramSets.end())
                    allowed = true;
            if (!allowed)
                fail(CKR_ATTRIBUTE_VALUE_INVALID);
            const CK_KEY_TYPE type = mech == CKM_GOSTR3410_KEY_PAIR_GEN ? CKK_GOSTR3410 : CKK_GOSTR3410_512;
            if (ulongAttr(pub, CKA_KEY_TYPE).value_or(type) != type ||
                ulongAttr(priv, CKA_KEY_TYPE).value_or(type) != type)
                fail(CKR_TEMPLATE_INCONSISTENT);
            checkRoom(device, boolAttr(pub, CKA_TOKEN, false) + boolAttr(priv, CKA_TOKEN, false));
            GostKeyPair k = gostGenerate(*curve);
            pub[CKA_KEY_TYPE] = priv[CKA_KEY_TYPE] = ulongBytes(type);
            pub[CKA_GOSTR3410_PARAMS] = priv[CKA_GOSTR3410_PARAMS] = params;
            pub[CKA_VALUE] = tokenOrder(device, k.publicLe);
            priv[CKA_VALUE] = k.privateLe;
        }
        auto handles = storeObjects(
            hSession, s,
            {withDefaults(std::move(pub), CKO_PUBLIC_KEY), withDefaults(std::move(priv), CKO_PRIVATE_KEY)});
        *phPublicKey = handles[0];
        *phPrivateKey = handles[1];
        return CKR_OK;
    });
}

// ---------------------------------------------------------------- signatures

namespace
{

std::string keyOperationDetail(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return sessionDetail(hSession) +
           " mechanism=" + (pMechanism ? hexNumber(pMechanism->mechanism) : "null") +
           " key=" + std::to_string(hKey);
}

// The mechanism of a sign or verify operation: a signature one without parameters.
CK_MECHANISM_TYPE signatureMechanism(CK_MECHANISM_PTR pMechanism)
{
    if (!mechanismParameter(pMechanism).empty())
        fail(CKR_MECHANISM_PARAM_INVALID);
    const CK_MECHANISM_TYPE mech = pMechanism->mechanism;
    if (!supports(mech) || (mech != CKM_GOSTR3410 && mech != CKM_GOSTR3410_512 && mech != CKM_RSA_PKCS))
        fail(CKR_MECHANISM_INVALID);
    return mech;
}

// The key a sign or verify operation starts with: of class `keyClass` and of
// the type `mech` needs, allowed the use `usage`.
FoundObject signatureKey(Session& s, CK_OBJECT_HANDLE hKey, CK_MECHANISM_TYPE mech, CK_OBJECT_CLASS keyClass,
                         CK_ATTRIBUTE_TYPE usage)
{
    FoundObject key;
    try {
        key = findObject(s, hKey);
    } catch (const Fail& f) {
        fail(f.rv == CKR_OBJECT_HANDLE_INVALID ? CKR_KEY_HANDLE_INVALID : f.rv);
    }
    if (ulongAttr(key.attributes, CKA_CLASS) != keyClass)
        fail(CKR_KEY_TYPE_INCONSISTENT);
    if (ulongAttr(key.attributes, CKA_KEY_TYPE) != keyTypeFor(mech))
        fail(CKR_KEY_TYPE_INCONSISTENT);
    if (!boolAttr(key.attributes, usage, true))
        fail(CKR_KEY_FUNCTION_NOT_PERMITTED);
    return key;
}

} // namespace

LAB_EXPORT CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return call("C_SignInit", keyOperationDetail(hSession, pMechanism, hKey), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (s.sign.active)
            fail(CKR_OPERATION_ACTIVE);
        const CK_MECHANISM_TYPE mech = signatureMechanism(pMechanism);
        signatureKey(s, hKey, mech, CKO_PRIVATE_KEY, CKA_SIGN);
        s.sign = Operation{true, mech, hKey, 0, {}};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                        CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen)
{
    const std::string detail = sessionDetail(hSession) + " length=" + std::to_string(ulDataLen);
    return operationStep("C_Sign", hSession, &Session::sign, detail, [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!s.sign.active)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        if ((ulDataLen && !pData) || !pulSignatureLen)
            fail(CKR_ARGUMENTS_BAD);
        Bytes data = ulDataLen ? Bytes(pData, pData + ulDataLen) : Bytes{};
        FoundObject key = findObject(s, s.sign.key);
        Bytes signature;
        if (s.sign.mechanism == CKM_RSA_PKCS) {
            RsaKeyPair k = rsaPrivate(key.attributes);
            auto n = k.n;
            while (!n.empty() && n.front() == 0)
                n.erase(n.begin());
            if (data.size() + 11 > n.size())
                fail(CKR_DATA_LEN_RANGE);
            if (!pSignature) {
                *pulSignatureLen = n.size();
                return CKR_OK;
            }
            auto sig = rsaSign(k, data);
            if (!sig)
                fail(CKR_DATA_LEN_RANGE);
            signature = std::move(*sig);
        } else {
            std::optional<GostCurve> curve = keyCurve(key.attributes);
            if (!curve)
                fail(CKR_KEY_TYPE_INCONSISTENT);
            if (data.size() != curve->size)
                fail(CKR_DATA_LEN_RANGE);
            if (!pSignature) {
                *pulSignatureLen = 2 * curve->size;
                return CKR_OK;
            }
            if (*pulSignatureLen < 2 * curve->size) {
                *pulSignatureLen = 2 * curve->size;
                return CKR_BUFFER_TOO_SMALL;
            }
            signature = gostSign(*curve, key.attributes.at(CKA_VALUE), data);
        }
        deliver(signature, pSignature, pulSignatureLen);
        s.sign = Operation{};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey)
{
    return call("C_VerifyInit", keyOperationDetail(hSession, pMechanism, hKey), [&]() -> CK_RV {
        Session& s = session(hSession);
        if (s.verify.active)
            fail(CKR_OPERATION_ACTIVE);
        const CK_MECHANISM_TYPE mech = signatureMechanism(pMechanism);
        FoundObject key = signatureKey(s, hKey, mech, CKO_PUBLIC_KEY, CKA_VERIFY);
        if (mech != CKM_RSA_PKCS) {
            auto curve = keyCurve(key.attributes);
            if (!curve || key.attributes[CKA_VALUE].size() != 2 * curve->size)
                fail(CKR_KEY_TYPE_INCONSISTENT);
            if ((mech == CKM_GOSTR3410) != (curve->size == 32))
                fail(CKR_KEY_TYPE_INCONSISTENT);
        }
        s.verify = Operation{true, mech, hKey, 0, {}};
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                          CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen)
{
    const std::string detail = sessionDetail(hSession) + " length=" + std::to_string(ulDataLen);
    return operationStep("C_Verify", hSession, &Session::verify, detail, [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!s.verify.active)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        s.verify.active = false; // whatever the outcome
        if ((ulDataLen && !pData) || (ulSignatureLen && !pSignature))
            fail(CKR_ARGUMENTS_BAD);
        Bytes data = ulDataLen ? Bytes(pData, pData + ulDataLen) : Bytes{};
        Bytes sig = ulSignatureLen ? Bytes(pSignature, pSignature + ulSignatureLen) : Bytes{};
        FoundObject key = findObject(s, s.verify.key);
        if (s.verify.mechanism == CKM_RSA_PKCS) {
            Bytes n = key.attributes[CKA_MODULUS];
            while (!n.empty() && n.front() == 0)
                n.erase(n.begin());
            if (sig.size() != n.size())
                fail(CKR_SIGNATURE_LEN_RANGE);
            if (data.size() + 11 > n.size())
                fail(CKR_DATA_LEN_RANGE);
            return rsaVerify(n, key.attributes[CKA_PUBLIC_EXPONENT], data, sig) ? CKR_OK
                                                                                : CKR_SIGNATURE_INVALID;
        }
        auto curve = keyCurve(key.attributes);
        if (!curve)
            fail(CKR_KEY_TYPE_INCONSISTENT);
        if (data.size() != curve->size)
            fail(CKR_DATA_LEN_RANGE);
        if (sig.size() != 2 * curve->size)
            fail(CKR_SIGNATURE_LEN_RANGE);
        const Bytes value = tokenOrder(liveDevice(s), key.attributes[CKA_VALUE]);
        return gostVerify(*curve, value, data, sig) ? CKR_OK : CKR_SIGNATURE_INVALID;
    });
}

// ---------------------------------------------------------------- digests

LAB_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism)
{
    const std::string detail =
        sessionDetail(hSession) + " mechanism=" + (pMechanism ? hexNumber(pMechanism->mechanism) : "null");
    return call("C_DigestInit", detail, [&]() -> CK_RV {
        Session& s = session(hSession);
        if (s.digest.active)
            fail(CKR_OPERATION_ACTIVE);
        const Bytes parameter = mechanismParameter(pMechanism);
        liveDevice(s);
        const CK_MECHANISM_TYPE mech = pMechanism->mechanism;
        int md = supports(mech) ? digestAlgorithm(mech, parameter) : 0;
        if (md == 0)
            fail(CKR_MECHANISM_INVALID);
        if (md < 0 || (mech != CKM_GOSTR3411 && !parameter.empty()))
            fail(CKR_MECHANISM_PARAM_INVALID);
        s.digest = Operation{true, mech, 0, md, {}};
        return CKR_OK;
    });
}

namespace
{
CK_RV finishDigest(Session& s, const Bytes& data, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    if (!s.digest.active)
        fail(CKR_OPERATION_NOT_INITIALIZED);
    if (!pulDigestLen)
        fail(CKR_ARGUMENTS_BAD);
    const std::size_t length = gcry_md_get_algo_dlen(s.digest.md);
    if (!pDigest) {
        *pulDigestLen = length;
        return CKR_OK;
    }
    if (*pulDigestLen < length) {
        *pulDigestLen = length;
        return CKR_BUFFER_TOO_SMALL;
    }
    Bytes out = digest(s.digest.md, data);
    std::memcpy(pDigest, out.data(), out.size());
    *pulDigestLen = out.size();
    s.digest = Operation{};
    return CKR_OK;
}
} // namespace

LAB_EXPORT CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,
                          CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    const std::string detail = sessionDetail(hSession) + " length=" + std::to_string(ulDataLen);
    return operationStep("C_Digest", hSession, &Session::digest, detail, [&]() -> CK_RV {
        Session& s = session(hSession);
        if (ulDataLen && !pData)
            fail(CKR_ARGUMENTS_BAD);
        Bytes data = s.digest.data;
        if (ulDataLen)
            data.insert(data.end(), pData, pData + ulDataLen);
        return finishDigest(s, data, pDigest, pulDigestLen);
    });
}

LAB_EXPORT CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen)
{
    const std::string detail = sessionDetail(hSession) + " length=" + std::to_string(ulPartLen);
    return operationStep("C_DigestUpdate", hSession, &Session::digest, detail, [&]() -> CK_RV {
        Session& s = session(hSession);
        if (!s.digest.active)
            fail(CKR_OPERATION_NOT_INITIALIZED);
        if (ulPartLen && !pPart)
            fail(CKR_ARGUMENTS_BAD);
        if (ulPartLen)
            s.digest.data.insert(s.digest.data.end(), pPart, pPart + ulPartLen);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen)
{
    return operationStep("C_DigestFinal", hSession, &Session::digest, sessionDetail(hSession),
                         [&]() -> CK_RV {
                             Session& s = session(hSession);
                             return finishDigest(s, s.digest.data, pDigest, pulDigestLen);
                         });
}

// ---------------------------------------------------------------- random

LAB_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen)
{
    return call("C_SeedRandom", sessionDetail(hSession), [&]() -> CK_RV {
        session(hSession);
        if (ulSeedLen && !pSeed)
            fail(CKR_ARGUMENTS_BAD);
        return CKR_OK;
    });
}

LAB_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen)
{
    return call("C_GenerateRandom", sessionDetail(hSession), [&]() -> CK_RV {
        session(hSession);
        if (ulRandomLen && !RandomData)
            fail(CKR_ARGUMENTS_BAD);
        if (ulRandomLen)
            gcry_randomize(RandomData, ulRandomLen, GCRY_STRONG_RANDOM);
        return CKR_OK;
    });
}

// ---------------------------------------------------------------- not offered by the tokens

namespace
{
CK_RV unsupported(const char* function)
{
    return call(function, "", []() -> CK_RV { return CKR_FUNCTION_NOT_SUPPORTED; });
}

// A step the tokens do not offer within an operation they do: the refusal
// ends the operation, so the caller can start it again.
CK_RV refusedStep(const char* function, CK_SESSION_HANDLE h, Operation Session::*operation)
{
    return operationStep(function, h, operation, sessionDetail(h),
                         []() -> CK_RV { return CKR_FUNCTION_NOT_SUPPORTED; });
}
} // namespace

#define LAB_REFUSED_STEP(name, operation, ...)                                                               \
    LAB_EXPORT CK_RV name(CK_SESSION_HANDLE hSession, __VA_ARGS__)                                           \
    {                                                                                                        \
        return refusedStep(#name, hSession, &Session::operation);                                            \
    }
LAB_REFUSED_STEP(C_DigestKey, digest, CK_OBJECT_HANDLE)
LAB_REFUSED_STEP(C_SignUpdate, sign, CK_BYTE_PTR, CK_ULONG)
LAB_REFUSED_STEP(C_SignFinal, sign, CK_BYTE_PTR, CK_ULONG_PTR)
LAB_REFUSED_STEP(C_VerifyUpdate, verify, CK_BYTE_PTR, CK_ULONG)
LAB_REFUSED_STEP(C_VerifyFinal, verify, CK_BYTE_PTR, CK_ULONG)

#define LAB_UNSUPPORTED(name, params)                                                                        \
    LAB_EXPORT CK_RV name params                                                                             \
    {                                                                                                        \
        return unsupported(#name);                                                                           \
    }
LAB_UNSUPPORTED(C_InitToken, (CK_SLOT_ID, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR))
LAB_UNSUPPORTED(C_GetOperationState, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_SetOperationState,
                (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE))
LAB_UNSUPPORTED(C_CopyObject,
                (CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR))
LAB_UNSUPPORTED(C_GetObjectSize, (CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_EncryptInit, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE))
LAB_UNSUPPORTED(C_Encrypt, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_EncryptUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_EncryptFinal, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DecryptInit, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE))
LAB_UNSUPPORTED(C_Decrypt, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DecryptUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DecryptFinal, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_SignRecoverInit, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE))
LAB_UNSUPPORTED(C_SignRecover, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_VerifyRecoverInit, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE))
LAB_UNSUPPORTED(C_VerifyRecover, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DigestEncryptUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DecryptDigestUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_SignEncryptUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_DecryptVerifyUpdate, (CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_GenerateKey,
                (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR))
LAB_UNSUPPORTED(C_WrapKey, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE,
                            CK_BYTE_PTR, CK_ULONG_PTR))
LAB_UNSUPPORTED(C_UnwrapKey, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG,
                              CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR))
LAB_UNSUPPORTED(C_DeriveKey, (CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR,
                              CK_ULONG, CK_OBJECT_HANDLE_PTR))
LAB_UNSUPPORTED(C_GetFunctionStatus, (CK_SESSION_HANDLE))
LAB_UNSUPPORTED(C_CancelFunction, (CK_SESSION_HANDLE))
LAB_UNSUPPORTED(C_WaitForSlotEvent, (CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR))

// ---------------------------------------------------------------- function list

LAB_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList);

namespace
{
#define LAB_LIST_ENTRY(name, params) name,
CK_FUNCTION_LIST g_functionList = {{2, 20}, ORMID_PKCS11_FUNCTIONS(LAB_LIST_ENTRY)};
#undef LAB_LIST_ENTRY
} // namespace

LAB_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList)
{
    return call(
        "C_GetFunctionList", "",
        [&]() -> CK_RV {
            if (!ppFunctionList)
                fail(CKR_ARGUMENTS_BAD);
            *ppFunctionList = &g_functionList;
            return CKR_OK;
        },
        false);
}
