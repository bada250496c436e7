// Facts about the workstation: computer name, local address, hardware
// addresses and the operating system.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

struct ifaddrs;

namespace detector
{

struct OsCommonInfo {
    std::string type;    // kernel name
    std::string version; // kernel release
    bool isAdmin = false;
};

// Groups whose members may administer a Linux host: "sudo" (Debian and its
// derivatives), "wheel" (Red Hat, SUSE, Arch), "admin" (older Ubuntu).
inline constexpr std::array<std::string_view, 3> ADMIN_GROUP_NAMES = {"sudo", "wheel", "admin"};

// Node name from uname.
std::string computerName();

// Numeric text of the first IPv4 address of an interface that is up and not
// loopback; "" when there is none.
std::string localIp();

// Link-level addresses of the interfaces that are up and not loopback, in
// interface order, as upper-case hex without separators; empty addresses are
// skipped.
std::vector<std::string> macs();

OsCommonInfo getOsCommonInfo();

// Real user id 0, or the effective user is a member of an administrators' group.
bool isLocalAdmin();

// An entry that has an address of `family` on an interface that is up and not loopback.
bool isNeededInterface(const ifaddrs* entry, int family);

// The walks of localIp() and macs() over a given interface list (tests feed
// their own lists).
std::string firstIpv4(const ifaddrs* list);
std::vector<std::string> linkAddresses(const ifaddrs* list);

// Membership test of isLocalAdmin for a real user id and a group list.
bool isAdminOf(unsigned realUid, const std::vector<unsigned>& groupIds);

} // namespace detector
