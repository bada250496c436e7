#include "jni/host_info.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <sys/utsname.h>

#include <cstring>
#include <deque>
#include <initializer_list>
#include <regex>

namespace
{

// A hand-made getifaddrs list.
class FakeInterfaces
{
  public:
    FakeInterfaces& ipv4(const char* name, const char* address, unsigned flags)
    {
        sockaddr_in& in = m_inet.emplace_back();
        in.sin_family = AF_INET;
        inet_pton(AF_INET, address, &in.sin_addr);
        return add(name, reinterpret_cast<sockaddr*>(&in), flags);
    }
    FakeInterfaces& link(const char* name, std::initializer_list<unsigned char> address, unsigned flags)
    {
        sockaddr_ll& ll = m_link.emplace_back();
        ll.sll_family = AF_PACKET;
        ll.sll_halen = static_cast<unsigned char>(address.size());
        std::copy(address.begin(), address.end(), ll.sll_addr);
        return add(name, reinterpret_cast<sockaddr*>(&ll), flags);
    }
    FakeInterfaces& noAddress(const char* name, unsigned flags) { return add(name, nullptr, flags); }

    const ifaddrs* list()
    {
        for (std::size_t i = 0; i + 1 < m_entries.size(); ++i) {
            m_entries[i].ifa_next = &m_entries[i + 1];
        }
        return m_entries.empty() ? nullptr : &m_entries.front();
    }

  private:
    FakeInterfaces& add(const char* name, sockaddr* address, unsigned flags)
    {
        ifaddrs& entry = m_entries.emplace_back();
        entry.ifa_name = const_cast<char*>(name);
        entry.ifa_addr = address;
        entry.ifa_flags = flags;
        return *this;
    }

    std::deque<sockaddr_in> m_inet;
    std::deque<sockaddr_ll> m_link;
    std::deque<ifaddrs> m_entries;
};

constexpr unsigned UP = IFF_UP;
constexpr unsigned LOOPBACK_UP = IFF_UP | IFF_LOOPBACK;

TEST(HostInfoTest, LoopbackOnlyMachineHasNoAddresses)
{
    FakeInterfaces interfaces;
    interfaces.link("lo", {0, 0, 0, 0, 0, 0}, LOOPBACK_UP).ipv4("lo", "127.0.0.1", LOOPBACK_UP);
    EXPECT_EQ(detector::firstIpv4(interfaces.list()), "");
    EXPECT_TRUE(detector::linkAddresses(interfaces.list()).empty());
    EXPECT_EQ(detector::firstIpv4(nullptr), "");
}

TEST(HostInfoTest, FirstUpNonLoopbackIpv4Wins)
{
    FakeInterfaces interfaces;
    interfaces.noAddress("tun0", UP)
        .ipv4("lo", "127.0.0.1", LOOPBACK_UP)
        .ipv4("eth0", "10.1.2.3", 0) // down
        .link("eth1", {1, 2, 3, 4, 5, 6}, UP)
        .ipv4("eth1", "192.0.2.17", UP)
        .ipv4("eth2", "198.51.100.1", UP);
    EXPECT_EQ(detector::firstIpv4(interfaces.list()), "192.0.2.17");
}

TEST(HostInfoTest, LinkAddressesKeepOrderAndDuplicatesAndSkipEmpty)
{
    FakeInterfaces interfaces;
    interfaces.link("eth0", {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, UP)
        .link("tun0", {}, UP)                        // no hardware address
        .link("eth1", {1, 2, 3, 4, 5, 6}, 0)         // down
        .link("lo", {0, 0, 0, 0, 0, 0}, LOOPBACK_UP) // loopback
        .ipv4("eth0", "192.0.2.1", UP)
        .link("bond0", {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, UP)
        .link("ib0", {0xff, 0xee, 0xdd, 0xcc, 0xbb, 0xaa, 0x99, 0x88}, UP);
    EXPECT_EQ(detector::linkAddresses(interfaces.list()),
              (std::vector<std::string>{"0A1B2C3D4E5F", "0A1B2C3D4E5F", "FFEEDDCCBBAA9988"}));
}

TEST(HostInfoTest, AdministratorsAreRootOrMembersOfAnAdminGroup)
{
    EXPECT_TRUE(detector::isAdminOf(0, {}));
    EXPECT_FALSE(detector::isAdminOf(1000, {}));
    EXPECT_FALSE(detector::isAdminOf(1000, {0x7FFFFFF0u})); // no such group

    // getgrnam returns static storage: take each id before the next lookup.
    const group* entry = getgrnam("sudo");
    const unsigned sudoGid = entry != nullptr ? entry->gr_gid : 0;
    entry = getgrnam("adm");
    const unsigned admGid = entry != nullptr ? entry->gr_gid : 0;
    if (sudoGid == 0 || admGid == 0) {
        GTEST_SKIP() << "this host has no sudo or adm group";
    }
    EXPECT_TRUE(detector::isAdminOf(1000, {admGid, sudoGid}));
    EXPECT_FALSE(detector::isAdminOf(1000, {admGid}));
}

TEST(HostInfoTest, RealHostFacts)
{
    utsname name{};
    ASSERT_EQ(uname(&name), 0);
    EXPECT_EQ(detector::computerName(), name.nodename);
    EXPECT_FALSE(detector::computerName().empty());

    const detector::OsCommonInfo os = detector::getOsCommonInfo();
    EXPECT_EQ(os.type, name.sysname);
    EXPECT_EQ(os.version, name.release);
    if (getuid() == 0) {
        EXPECT_TRUE(os.isAdmin);
    }

    const std::regex hexAddress("([0-9A-F]{2})+");
    for (const std::string& mac : detector::macs()) {
        EXPECT_TRUE(std::regex_match(mac, hexAddress)) << mac;
    }
    const std::string ip = detector::localIp();
    if (!ip.empty()) {
        in_addr parsed{};
        EXPECT_EQ(inet_pton(AF_INET, ip.c_str(), &parsed), 1) << ip;
    }
}

} // namespace
