#include "device/faults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "device/device.h"

namespace labdev
{

std::optional<FaultHit>
nextFault(const std::filesystem::path& file, std::string_view function, std::string_view module,
          const std::function<std::optional<std::uint64_t>(const std::string&)>& parseValue)
{
    struct stat st;
    if (::stat(file.c_str(), &st) != 0)
        return std::nullopt;
    FileLock lock(file.parent_path() / ".faults.lock", true);
    std::string text;
    try {
        text = readTextFile(file);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
    std::optional<FaultHit> result;
    std::string rewritten;
    bool changed = false;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream words(line);
        std::string fn, kind, n, value, word, ruleModule, remove;
        unsigned long long seen = 0;
        words >> fn >> kind >> n >> value;
        while (words >> word) {
            if (word.rfind("module=", 0) == 0)
                ruleModule = word.substr(7);
            else if (word.rfind("remove=", 0) == 0)
                remove = word.substr(7);
            else if (word.rfind("seen=", 0) == 0)
                seen = std::strtoull(word.c_str() + 5, nullptr, 10);
        }
        if (fn.empty() || fn[0] == '#' || (kind != "nth" && kind != "from") || value.empty() ||
            (fn != "*" && fn != function) || (!ruleModule.empty() && ruleModule != module)) {
            rewritten += line + "\n";
            continue;
        }
        unsigned long long target = 0;
        std::optional<std::uint64_t> parsed;
        try {
            target = std::stoull(n);
            parsed = parseValue(value);
        } catch (const std::exception&) {
            parsed.reset();
        }
        if (!parsed) {
            rewritten += line + "\n"; // a malformed rule is kept and never fires
            continue;
        }
        ++seen;
        changed = true;
        if (!result && ((kind == "nth" && seen == target) || (kind == "from" && seen >= target)))
            result = FaultHit{*parsed, remove};
        rewritten += fn + " " + kind + " " + n + " " + value +
                     (ruleModule.empty() ? "" : " module=" + ruleModule) +
                     (remove.empty() ? "" : " remove=" + remove) + " seen=" + std::to_string(seen) + "\n";
    }
    if (changed)
        writeFileAtomically(file, rewritten);
    return result;
}

void logCall(const std::filesystem::path& file, std::string_view module, std::string_view function,
             std::string_view detail, std::uint64_t rv, bool injected)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(file.parent_path(), ec))
        return;
    std::ostringstream line;
    line << ::getpid() << " " << module << " " << function;
    if (!detail.empty())
        line << " " << detail;
    line << " rv=0x" << std::hex << rv << (injected ? " injected" : "") << "\n";
    const std::string text = line.str();
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t ignored = ::write(fd, text.data(), text.size());
    (void)ignored;
    ::close(fd);
}

} // namespace labdev
