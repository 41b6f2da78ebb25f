// What the machine knows about its local networks: the IPv4 addresses and
// masks of its interfaces, and the Ethernet addresses of neighbours.
//
// Addresses are uint32_t in network byte order (as in_addr.s_addr holds
// them); Ethernet addresses sit in the low 6 bytes of a uint64_t in wire
// order (the first byte on the wire is the lowest byte).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace brindle {

struct InterfaceAddress {
    uint32_t dwAddress = 0; // network byte order
    uint32_t dwMask = 0;    // network byte order
};

// The IPv4 rows of the local interface table (getifaddrs), in the order the
// kernel lists them. Returns 0 or a mapped system code.
uint32_t ReadInterfaceTable(std::vector<InterfaceAddress>& table);

// Finds `dwAddress` in the text of /proc/net/arp ("IP address  HW type
// Flags  HW address  Mask  Device" lines) and reads its Ethernet address.
// Incomplete entries (flags without ATF_COM) and all-zero addresses do not
// count. Returns 0, or ERROR_FILE_NOT_FOUND_CODE when there is no usable
// entry. Reads only inside `text`.
uint32_t ParseNeighbourTable(std::string_view text, uint32_t dwAddress, uint64_t& qwMacAddress);

// The Ethernet address of a neighbour from the kernel's table. The kernel
// learns it from traffic, so a host that was never talked to has no entry
// yet. Returns 0, ERROR_FILE_NOT_FOUND_CODE, or a mapped system code.
uint32_t LookupNeighbour(uint32_t dwAddress, uint64_t& qwMacAddress);

} // namespace brindle
