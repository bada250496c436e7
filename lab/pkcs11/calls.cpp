#include "calls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>

namespace labtoken
{
namespace fs = std::filesystem;

namespace
{
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
} // namespace

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

std::string hexNumber(CK_ULONG v)
{
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

std::string slotDetail(CK_SLOT_ID slot)
{
    return "slot=" + std::to_string(slot);
}
std::string sessionDetail(CK_SESSION_HANDLE h)
{
    return "session=" + std::to_string(h);
}

} // namespace labtoken
