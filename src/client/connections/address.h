// Address discovery and Wake-on-LAN: the server text becomes an IPv4
// address, and on the way the client learns the size of the local subnet
// that holds the server and the server's Ethernet address, so that it can
// wake the server computer with a magic packet later.
//
// Addresses are in network byte order; Ethernet addresses in the low 6 bytes
// of a uint64_t, first wire byte lowest (platform/netinfo.h).
#pragma once

#include "common/unique_fd.h"
#include "platform/netinfo.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// The name lookup gives up after this long.
inline constexpr uint32_t HOST_LOOKUP_LIMIT_MS = 30000;
inline constexpr size_t MAGIC_PACKET_SIZE = 102;
inline constexpr uint16_t WAKE_PORT = 80;

// The machine's network, as address discovery and wake-up use it. Tests
// put a table of their own in its place; nothing here sends to a real
// network unless the system implementation is used.
class NetworkEnvironment {
  public:
    virtual ~NetworkEnvironment() = default;
    // Looks a host name up (IPv4). `fStop` non-zero ends the wait early.
    // Returns 0 with the address, or a code.
    virtual uint32_t LookupHost(const std::string& host, const std::atomic<int32_t>& fStop,
                                uint32_t& dwAddress) = 0;
    virtual uint32_t InterfaceTable(std::vector<InterfaceAddress>& table) = 0;
    virtual uint32_t EthernetAddress(uint32_t dwAddress, uint64_t& qwMacAddress) = 0;
    // Sends one UDP datagram with broadcasting allowed. Returns 0, or a code
    // (a short send included).
    virtual uint32_t SendBroadcast(uint32_t dwDestination, uint16_t nPort,
                                   std::span<const uint8_t> datagram) = 0;
};

// The real thing: getaddrinfo on a worker thread with the 30 s limit,
// getifaddrs, the kernel's neighbour table, and one UDP socket kept open
// between wake-ups and closed after any failure.
class SystemNetwork : public NetworkEnvironment {
  public:
    uint32_t LookupHost(const std::string& host, const std::atomic<int32_t>& fStop,
                        uint32_t& dwAddress) override;
    uint32_t InterfaceTable(std::vector<InterfaceAddress>& table) override;
    uint32_t EthernetAddress(uint32_t dwAddress, uint64_t& qwMacAddress) override;
    uint32_t SendBroadcast(uint32_t dwDestination, uint16_t nPort,
                           std::span<const uint8_t> datagram) override;

  private:
    std::mutex wakeLock_;
    UniqueFd wakeSocket_;
};

// The host part of a server text: after "\\" when present, then after "//"
// when present; cut at the first "\" or "/" from the fourth character on.
std::string HostOfServerText(std::string_view text);

// A dotted address "a.b.c.d" with every part from 1 to 255 and written the
// way "%d.%d.%d.%d" prints it (no leading zeros, no signs, nothing behind).
bool ParseDottedAddress(std::string_view host, uint32_t& dwAddress);

// Host bits of the first interface row with a non-zero address whose mask
// puts it in the same network as dwAddress: the trailing 1 bits of the
// inverted mask. 0 when no local subnet holds the address, which keeps the
// server from ever being sent a wake-up packet.
int32_t HostBitsFor(const std::vector<InterfaceAddress>& table, uint32_t dwAddress);

// Bytes 0-5 0xFF, then 16 copies of the Ethernet address.
std::array<uint8_t, MAGIC_PACKET_SIZE> MagicPacket(uint64_t qwMacAddress);

// The server's address with all nHostBits host bits set; 32 or more give
// 255.255.255.255.
uint32_t WakeDestination(uint32_t dwAddress, int32_t nHostBits);

// Turns the server text into an address; host bits and Ethernet address
// when asked for (null pointers skip them). All outputs start at 0. Returns
// 1 on full success, 0 otherwise; callers rely only on the address being
// non-zero.
int Resolve(NetworkEnvironment& net, std::string_view serverText, const std::atomic<int32_t>& fStop,
            uint32_t& dwAddress, int32_t* pnHostBits, uint64_t* pqwMacAddress);

// Sends one magic packet to the server's subnet. Returns 1 when all 102
// bytes went out. No retries.
int Wake(NetworkEnvironment& net, int32_t nHostBits, uint32_t dwAddress, uint64_t qwMacAddress,
         uint16_t nPort = WAKE_PORT);

} // namespace brindle
