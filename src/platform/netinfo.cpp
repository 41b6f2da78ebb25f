#include "platform/netinfo.h"

#include "common/ascii.h"
#include "common/error_codes.h"
#include "common/file_io.h"
#include "common/os_error.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <string>

namespace brindle {

namespace {

// ATF_COM of <net/if_arp.h>: the entry is complete.
constexpr unsigned long NEIGHBOUR_COMPLETE = 0x02;
// The kernel's table is small; a larger file is not what we expect.
constexpr size_t NEIGHBOUR_TABLE_MAX = 4u << 20;

std::string_view NextField(std::string_view& line) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        line = {};
        return {};
    }
    size_t end = line.find_first_of(" \t", start);
    std::string_view field = line.substr(start, end == std::string_view::npos ? end : end - start);
    line = end == std::string_view::npos ? std::string_view{} : line.substr(end);
    return field;
}

// "aa:bb:cc:dd:ee:ff" into the low 6 bytes, first byte lowest.
bool ParseEthernet(std::string_view text, uint64_t& mac) {
    if (text.size() != 17)
        return false;
    uint64_t value = 0;
    for (size_t i = 0; i < 6; ++i) {
        int hi = HexDigitValue(text[i * 3]);
        int lo = HexDigitValue(text[i * 3 + 1]);
        if (hi < 0 || lo < 0 || (i < 5 && text[i * 3 + 2] != ':'))
            return false;
        value |= static_cast<uint64_t>(hi * 16 + lo) << (8 * i);
    }
    mac = value;
    return true;
}

bool ParseFlags(std::string_view text, unsigned long& flags) {
    if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    unsigned long value = 0;
    for (size_t i = 2; i < text.size(); ++i) {
        int d = HexDigitValue(text[i]);
        if (d < 0)
            return false;
        value = value * 16 + static_cast<unsigned long>(d);
    }
    flags = value;
    return true;
}

bool LineMatches(std::string_view line, uint32_t dwAddress, uint64_t& mac) {
    std::string ip(NextField(line));
    NextField(line); // hardware type
    std::string_view flagsText = NextField(line);
    std::string_view hw = NextField(line);
    in_addr parsed{};
    unsigned long flags = 0;
    if (ip.empty() || ::inet_pton(AF_INET, ip.c_str(), &parsed) != 1 ||
        parsed.s_addr != dwAddress || !ParseFlags(flagsText, flags) ||
        (flags & NEIGHBOUR_COMPLETE) == 0)
        return false;
    uint64_t value = 0;
    if (!ParseEthernet(hw, value) || value == 0)
        return false;
    mac = value;
    return true;
}

} // namespace

uint32_t ReadInterfaceTable(std::vector<InterfaceAddress>& table) {
    table.clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return LastOsError();
    for (ifaddrs* p = list; p != nullptr; p = p->ifa_next) {
        if (p->ifa_addr == nullptr || p->ifa_addr->sa_family != AF_INET)
            continue;
        InterfaceAddress row;
        row.dwAddress = reinterpret_cast<const sockaddr_in*>(p->ifa_addr)->sin_addr.s_addr;
        if (p->ifa_netmask != nullptr)
            row.dwMask = reinterpret_cast<const sockaddr_in*>(p->ifa_netmask)->sin_addr.s_addr;
        table.push_back(row);
    }
    ::freeifaddrs(list);
    return 0;
}

uint32_t ParseNeighbourTable(std::string_view text, uint32_t dwAddress, uint64_t& qwMacAddress) {
    bool first = true;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (first) { // the column titles
            first = false;
            continue;
        }
        if (LineMatches(line, dwAddress, qwMacAddress))
            return 0;
    }
    return ERROR_FILE_NOT_FOUND_CODE;
}

uint32_t LookupNeighbour(uint32_t dwAddress, uint64_t& qwMacAddress) {
    std::string text;
    uint32_t err = ReadWholeFile("/proc/net/arp", NEIGHBOUR_TABLE_MAX, text);
    if (err != 0)
        return err;
    return ParseNeighbourTable(text, dwAddress, qwMacAddress);
}

} // namespace brindle
