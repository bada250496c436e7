#include "base/system.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <stdexcept>
#include <vector>

namespace bs
{

std::string currentTime(std::string_view format)
{
    const std::string pattern(format);
    if (pattern.empty()) {
        return {};
    }
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    if (::localtime_r(&now, &tm) == nullptr) {
        return {};
    }
    // strftime reports 0 both for an empty expansion and for a buffer that
    // is too small; grow a few times before settling on the empty answer.
    for (std::size_t size = 256; size <= 64 * 1024; size *= 4) {
        std::vector<char> buffer(size);
        const std::size_t written = std::strftime(buffer.data(), buffer.size(), pattern.c_str(), &tm);
        if (written != 0) {
            return std::string(buffer.data(), written);
        }
    }
    return {};
}

std::string userName()
{
    long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? static_cast<std::size_t>(hint) : 4096);
    passwd entry{};
    passwd* found = nullptr;
    int rc = 0;
    while ((rc = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < 1024 * 1024) {
        buffer.resize(buffer.size() * 2);
    }
    if (rc != 0 || found == nullptr || found->pw_name == nullptr) {
        throw std::runtime_error("get user name error");
    }
    return found->pw_name;
}

} // namespace bs
