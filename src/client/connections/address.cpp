#include "client/connections/address.h"

#include "common/error_codes.h"
#include "common/os_error.h"
#include "common/text_utils.h"

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace brindle {

namespace {

// The state a lookup worker shares with its waiter; whichever ends last
// frees it, so a waiter that gave up leaves the worker nothing dangling.
struct LookupState {
    std::mutex lock;
    std::condition_variable done;
    bool fDone = false;
    uint32_t nError = 0;
    uint32_t dwAddress = 0;
};

uint32_t LookupError(int rc) {
    switch (rc) {
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND_CODE;
    case EAI_AGAIN:
        return WSATRY_AGAIN_CODE;
    case EAI_NODATA:
        return WSANO_DATA_CODE;
    case EAI_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    case EAI_SYSTEM:
        return LastOsError();
    default:
        return WSAHOST_NOT_FOUND_CODE;
    }
}

void RunLookup(std::shared_ptr<LookupState> state, std::string host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
    std::lock_guard<std::mutex> guard(state->lock);
    if (rc == 0 && result != nullptr && result->ai_addr != nullptr)
        state->dwAddress = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    else
        state->nError = rc == 0 ? WSANO_DATA_CODE : LookupError(rc);
    if (result != nullptr)
        ::freeaddrinfo(result);
    state->fDone = true;
    state->done.notify_all();
}

// Byte offset of the fourth character (the text's end when it is shorter).
size_t FourthCharacter(std::string_view text) {
    size_t pos = 0;
    for (int i = 0; i < 3 && pos < text.size(); ++i)
        pos += Utf8CharLength(text, pos);
    return pos;
}

} // namespace

uint32_t SystemNetwork::LookupHost(const std::string& host, const std::atomic<int32_t>& fStop,
                                   uint32_t& dwAddress) {
    auto state = std::make_shared<LookupState>();
    try {
        std::thread(RunLookup, state, host).detach();
    } catch (const std::system_error&) {
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    // Waiting in short steps keeps a stop request from waiting out the limit.
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(HOST_LOOKUP_LIMIT_MS);
    std::unique_lock<std::mutex> guard(state->lock);
    while (!state->fDone && fStop.load() == 0 && std::chrono::steady_clock::now() < deadline)
        state->done.wait_for(guard, std::chrono::milliseconds(100));
    if (!state->fDone)
        return WSAETIMEDOUT_CODE;
    dwAddress = state->dwAddress;
    return state->nError;
}

uint32_t SystemNetwork::InterfaceTable(std::vector<InterfaceAddress>& table) {
    return ReadInterfaceTable(table);
}

uint32_t SystemNetwork::EthernetAddress(uint32_t dwAddress, uint64_t& qwMacAddress) {
    return LookupNeighbour(dwAddress, qwMacAddress);
}

uint32_t SystemNetwork::SendBroadcast(uint32_t dwDestination, uint16_t nPort,
                                      std::span<const uint8_t> datagram) {
    std::lock_guard<std::mutex> guard(wakeLock_);
    if (!wakeSocket_.Valid()) {
        wakeSocket_.Reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!wakeSocket_.Valid())
            return LastOsError();
        int on = 1;
        if (::setsockopt(wakeSocket_.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            uint32_t err = LastOsError();
            wakeSocket_.Reset();
            return err;
        }
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(nPort);
    to.sin_addr.s_addr = dwDestination;
    ssize_t sent = ::sendto(wakeSocket_.Get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent == static_cast<ssize_t>(datagram.size()))
        return 0;
    uint32_t err = sent < 0 ? LastOsError() : WSAEMSGSIZE_CODE;
    wakeSocket_.Reset();
    return err;
}

std::string HostOfServerText(std::string_view text) {
    size_t pos = text.find("\\\\");
    if (pos != std::string_view::npos)
        text = text.substr(pos + 2);
    pos = text.find("//");
    if (pos != std::string_view::npos)
        text = text.substr(pos + 2);
    size_t from = FourthCharacter(text);
    size_t cut = text.find_first_of("\\/", from);
    return std::string(text.substr(0, cut));
}

bool ParseDottedAddress(std::string_view host, uint32_t& dwAddress) {
    unsigned parts[4];
    std::string_view rest = host;
    for (int i = 0; i < 4; ++i) {
        size_t n = 0;
        unsigned value = 0;
        while (n < rest.size() && n < 4 && rest[n] >= '0' && rest[n] <= '9')
            value = value * 10 + static_cast<unsigned>(rest[n++] - '0');
        if (n == 0 || value < 1 || value > 255)
            return false;
        parts[i] = value;
        rest = rest.substr(n);
        if (i < 3) {
            if (rest.empty() || rest[0] != '.')
                return false;
            rest = rest.substr(1);
        }
    }
    // Printing the parts back must give the text exactly (no leading zeros).
    char printed[16];
    std::snprintf(printed, sizeof printed, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    if (!rest.empty() || host != printed)
        return false;
    dwAddress = htonl((parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3]);
    return true;
}

int32_t HostBitsFor(const std::vector<InterfaceAddress>& table, uint32_t dwAddress) {
    for (const InterfaceAddress& row : table) {
        if (row.dwAddress == 0 || (row.dwAddress & row.dwMask) != (dwAddress & row.dwMask))
            continue;
        uint32_t hostMask = ~ntohl(row.dwMask);
        int32_t bits = 0;
        while (bits < 32 && (hostMask & (1u << bits)) != 0)
            ++bits;
        return bits;
    }
    return 0;
}

std::array<uint8_t, MAGIC_PACKET_SIZE> MagicPacket(uint64_t qwMacAddress) {
    std::array<uint8_t, MAGIC_PACKET_SIZE> packet;
    for (size_t i = 0; i < 6; ++i)
        packet[i] = 0xFF;
    for (size_t copy = 0; copy < 16; ++copy)
        for (size_t i = 0; i < 6; ++i)
            packet[6 + copy * 6 + i] = static_cast<uint8_t>(qwMacAddress >> (8 * i));
    return packet;
}

uint32_t WakeDestination(uint32_t dwAddress, int32_t nHostBits) {
    if (nHostBits >= 32)
        return 0xFFFFFFFFu;
    uint32_t hostMask = nHostBits <= 0 ? 0 : ~(0xFFFFFFFFu << nHostBits);
    return dwAddress | htonl(hostMask);
}

int Resolve(NetworkEnvironment& net, std::string_view serverText, const std::atomic<int32_t>& fStop,
            uint32_t& dwAddress, int32_t* pnHostBits, uint64_t* pqwMacAddress) {
    dwAddress = 0;
    if (pnHostBits)
        *pnHostBits = 0;
    if (pqwMacAddress)
        *pqwMacAddress = 0;
    std::string host = HostOfServerText(serverText);
    uint32_t address = 0;
    if (!ParseDottedAddress(host, address) && net.LookupHost(host, fStop, address) != 0)
        return 0;
    if (address == 0)
        return 0;
    dwAddress = address;
    if (!pnHostBits && !pqwMacAddress)
        return 1;
    std::vector<InterfaceAddress> table;
    if (net.InterfaceTable(table) != 0)
        return 0;
    if (pnHostBits)
        *pnHostBits = HostBitsFor(table, address);
    if (!pqwMacAddress)
        return 1;
    uint64_t mac = 0;
    if (net.EthernetAddress(address, mac) != 0) {
        *pqwMacAddress = 0;
        return 0;
    }
    *pqwMacAddress = mac;
    return 1;
}

int Wake(NetworkEnvironment& net, int32_t nHostBits, uint32_t dwAddress, uint64_t qwMacAddress,
         uint16_t nPort) {
    std::array<uint8_t, MAGIC_PACKET_SIZE> packet = MagicPacket(qwMacAddress);
    return net.SendBroadcast(WakeDestination(dwAddress, nHostBits), nPort, packet) == 0 ? 1 : 0;
}

} // namespace brindle
