// Address discovery and Wake-on-LAN, over injected interface tables. The one
// datagram that really goes out is sent to 127.0.0.1.
#include "client/client_test_support.h"
#include "client/connections/address.h"
#include "platform/netinfo.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace brindle {
namespace {

using test::Ip;

TEST(Address, HostPartOfServerTexts) {
    struct Case {
        const char* text;
        const char* host;
    } cases[] = {
        {"cam-host", "cam-host"},
        {"\\\\cam-host\\share\\x", "cam-host"},
        {"http://cam-host/path/x", "cam-host"},
        {"https://cam-host:8080/x", "cam-host:8080"},
        {"ab/c", "ab/c"}, // a "/" before the fourth character stays
        {"192.168.1.20", "192.168.1.20"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HostOfServerText(c.text), c.host) << c.text;
}

TEST(Address, DottedAddresses) {
    struct Case {
        const char* text;
        bool dotted;
    } cases[] = {
        {"192.168.1.20", true}, {"192.168.001.010", false},
        {"0.1.2.3", false},     {"10.0.0.256", false},
        {"10.1.1.256", false},  {"10.1.1.255", true},
        {"1.2.3", false},       {"1.2.3.4.5", false},
        {"1.2.3.4 ", false},    {"+1.2.3.4", false},
        {"host", false},        {"127.0.0.1", false},
    };
    for (const Case& c : cases) {
        uint32_t address = 0;
        EXPECT_EQ(ParseDottedAddress(c.text, address), c.dotted) << c.text;
        if (c.dotted) {
            EXPECT_EQ(address, Ip(c.text));
        }
    }
}

TEST(Address, ResolveUsesTheLookupOnlyWhenNotDotted) {
    test::FakeNetwork net;
    net.interfaces = {{Ip("10.9.8.7"), Ip("255.255.0.0")},
                      {Ip("192.168.1.5"), Ip("255.255.255.0")}};
    net.neighbours = {{Ip("192.168.1.20"), 0x665544332211}};
    net.hosts = {{"192.168.001.020", Ip("192.168.1.20")}, {"far", Ip("203.0.113.9")}};
    std::atomic<int32_t> fStop{0};
    uint32_t address = 0;
    int32_t bits = -1;
    uint64_t mac = 1;

    EXPECT_EQ(Resolve(net, "http://192.168.1.20/", fStop, address, &bits, &mac), 1);
    EXPECT_TRUE(net.lookups.empty());
    EXPECT_EQ(address, Ip("192.168.1.20"));
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(mac, 0x665544332211u);

    // Leading zeros go through the name lookup.
    EXPECT_EQ(Resolve(net, "192.168.001.020", fStop, address, &bits, &mac), 1);
    EXPECT_EQ(net.lookups, std::vector<std::string>{"192.168.001.020"});

    // Outside every local subnet: no host bits, so never a wake-up packet.
    EXPECT_EQ(Resolve(net, "far", fStop, address, &bits, &mac), 0);
    EXPECT_EQ(address, Ip("203.0.113.9"));
    EXPECT_EQ(bits, 0);
    EXPECT_EQ(mac, 0u);

    EXPECT_EQ(Resolve(net, "nowhere", fStop, address, &bits, &mac), 0);
    EXPECT_EQ(address, 0u);
    EXPECT_EQ(Resolve(net, "far", fStop, address, nullptr, nullptr), 1);
}

TEST(Address, HostBitsOfTheFirstMatchingRow) {
    std::vector<InterfaceAddress> table = {
        {0, 0}, {Ip("10.1.0.1"), Ip("255.255.0.0")}, {Ip("10.1.2.1"), Ip("255.255.255.0")}};
    EXPECT_EQ(HostBitsFor(table, Ip("10.1.2.3")), 16); // the first row that matches wins
    EXPECT_EQ(HostBitsFor(table, Ip("10.2.0.1")), 0);
    EXPECT_EQ(HostBitsFor({{Ip("127.0.0.1"), Ip("255.0.0.0")}}, Ip("127.0.0.1")), 24);
}

TEST(Wake, MagicPacketAndItsBroadcastAddress) {
    std::array<uint8_t, MAGIC_PACKET_SIZE> packet = MagicPacket(0x665544332211);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(packet[i], 0xFF);
    for (size_t copy = 0; copy < 16; ++copy)
        for (size_t i = 0; i < 6; ++i)
            ASSERT_EQ(packet[6 + copy * 6 + i], 0x11 * (i + 1)) << copy << " " << i;

    EXPECT_EQ(WakeDestination(Ip("192.168.1.20"), 8), Ip("192.168.1.255"));
    EXPECT_EQ(WakeDestination(Ip("10.1.2.3"), 16), Ip("10.1.255.255"));
    EXPECT_EQ(WakeDestination(Ip("10.1.2.3"), 32), Ip("255.255.255.255"));
    EXPECT_EQ(WakeDestination(Ip("10.1.2.3"), 40), Ip("255.255.255.255"));

    // The table of the 255.255.255.0 example: the packet goes to .255, port 80.
    test::FakeNetwork net;
    net.interfaces = {{Ip("192.168.1.5"), Ip("255.255.255.0")}};
    int32_t bits = HostBitsFor(net.interfaces, Ip("192.168.1.20"));
    EXPECT_EQ(Wake(net, bits, Ip("192.168.1.20"), 0x665544332211), 1);
    ASSERT_EQ(net.sent.size(), 1u);
    EXPECT_EQ(net.sent[0].dwDestination, Ip("192.168.1.255"));
    EXPECT_EQ(net.sent[0].nPort, 80);
    EXPECT_EQ(net.sent[0].bytes, std::vector<uint8_t>(packet.begin(), packet.end()));
}

// The real socket path, with the packet sent to a receiver on 127.0.0.1.
TEST(Wake, SystemNetworkSendsTheWholePacket) {
    int receiver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = Ip("127.0.0.1");
    ASSERT_EQ(::bind(receiver, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ::getsockname(receiver, reinterpret_cast<sockaddr*>(&addr), &len);

    SystemNetwork net;
    EXPECT_EQ(Wake(net, 0, Ip("127.0.0.1"), 0xAABBCCDDEEFF, ntohs(addr.sin_port)), 1);
    pollfd p{receiver, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    uint8_t bytes[200];
    ssize_t n = ::recv(receiver, bytes, sizeof bytes, 0);
    ASSERT_EQ(n, static_cast<ssize_t>(MAGIC_PACKET_SIZE));
    EXPECT_EQ(bytes[6], 0xFF);
    EXPECT_EQ(bytes[11], 0xAA);
    EXPECT_EQ(bytes[101], 0xAA);
    ::close(receiver);
}

TEST(Neighbours, TableLines) {
    const char* table =
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "192.168.1.9      0x1         0x0         00:00:00:00:00:00     *        eth0\n"
        "192.168.1.20     0x1         0x2         11:22:33:44:55:66     *        eth0\n"
        "192.168.1.21     0x1         0x2         zz:22:33:44:55:66     *        eth0\n"
        "192.168.1.22     0x1         0x2         11:22:33";
    uint64_t mac = 0;
    EXPECT_EQ(ParseNeighbourTable(table, Ip("192.168.1.20"), mac), 0u);
    EXPECT_EQ(mac, 0x665544332211u);
    for (const char* address : {"192.168.1.9", "192.168.1.21", "192.168.1.22", "10.0.0.1"})
        EXPECT_NE(ParseNeighbourTable(table, Ip(address), mac), 0u) << address;
    EXPECT_NE(ParseNeighbourTable("", Ip("192.168.1.20"), mac), 0u);
}

TEST(Neighbours, InterfaceTableHasLoopback) {
    std::vector<InterfaceAddress> table;
    ASSERT_EQ(ReadInterfaceTable(table), 0u);
    bool fLoopback = false;
    for (const InterfaceAddress& row : table)
        fLoopback |= row.dwAddress == Ip("127.0.0.1");
    EXPECT_TRUE(fLoopback);
}

} // namespace
} // namespace brindle
