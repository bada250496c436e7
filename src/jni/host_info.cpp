#include "jni/host_info.h"

#include <grp.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netpacket/packet.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>

#include "base/conv.h"
#include "cryptoprovider/core/errors.h"

namespace detector
{

namespace
{

struct IfaddrsFree {
    void operator()(ifaddrs* list) const noexcept { freeifaddrs(list); }
};
using IfaddrsList = std::unique_ptr<ifaddrs, IfaddrsFree>;

IfaddrsList interfaces()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        throw InternalError();
    }
    return IfaddrsList(list);
}

utsname systemName()
{
    utsname name{};
    if (uname(&name) != 0) {
        throw InternalError();
    }
    return name;
}

// Password entry of the effective user; the buffer outlives the entry.
bool effectiveUser(passwd& entry, std::vector<char>& buffer)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    buffer.assign(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd* found = nullptr;
    for (;;) {
        const int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.assign(buffer.size() * 2, '\0');
            continue;
        }
        return rc == 0 && found != nullptr;
    }
}

bool groupIsAdmin(gid_t gid)
{
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    for (;;) {
        const int rc = getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 22)) {
            buffer.assign(buffer.size() * 2, '\0');
            continue;
        }
        if (rc != 0 || found == nullptr || found->gr_name == nullptr) {
            return false;
        }
        const std::string_view name = found->gr_name;
        return std::find(ADMIN_GROUP_NAMES.begin(), ADMIN_GROUP_NAMES.end(), name) != ADMIN_GROUP_NAMES.end();
    }
}

} // namespace

bool isNeededInterface(const ifaddrs* entry, int family)
{
    return entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == family &&
           (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_LOOPBACK) == 0;
}

std::string computerName()
{
    return systemName().nodename;
}

std::string firstIpv4(const ifaddrs* list)
{
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (!isNeededInterface(entry, AF_INET)) {
            continue;
        }
        std::array<char, NI_MAXHOST> host{};
        if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host.data(), host.size(), nullptr, 0,
                        NI_NUMERICHOST) != 0) {
            throw InternalError();
        }
        return host.data();
    }
    return {};
}

std::string localIp()
{
    IfaddrsList list = interfaces();
    return firstIpv4(list.get());
}

std::vector<std::string> linkAddresses(const ifaddrs* list)
{
    std::vector<std::string> result;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (!isNeededInterface(entry, AF_PACKET)) {
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        const std::size_t length = std::min<std::size_t>(link->sll_halen, sizeof(link->sll_addr));
        if (length == 0) {
            continue;
        }
        result.push_back(conv::bytes_to_hex(link->sll_addr, length));
    }
    return result;
}

std::vector<std::string> macs()
{
    IfaddrsList list = interfaces();
    return linkAddresses(list.get());
}

bool isAdminOf(unsigned realUid, const std::vector<unsigned>& groupIds)
{
    if (realUid == 0) {
        return true;
    }
    for (unsigned gid : groupIds) {
        if (groupIsAdmin(static_cast<gid_t>(gid))) {
            return true;
        }
    }
    return false;
}

bool isLocalAdmin()
{
    const uid_t realUid = getuid();
    if (realUid == 0) {
        return true;
    }
    passwd entry{};
    std::vector<char> buffer;
    if (!effectiveUser(entry, buffer)) {
        throw InternalError();
    }
    long maxGroups = sysconf(_SC_NGROUPS_MAX);
    int count = maxGroups > 0 ? static_cast<int>(maxGroups) : 65536;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) {
        // More groups than the system maximum: take what fitted.
        count = static_cast<int>(groups.size());
    }
    std::vector<unsigned> ids(groups.begin(), groups.begin() + count);
    return isAdminOf(static_cast<unsigned>(realUid), ids);
}

OsCommonInfo getOsCommonInfo()
{
    const utsname name = systemName();
    OsCommonInfo info;
    info.type = name.sysname;
    info.version = name.release;
    info.isAdmin = isLocalAdmin();
    return info;
}

} // namespace detector
