#include "server/scripted_client.h"

#include "server/connections/login.h"
#include "common/little_endian.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace brindle::test {

namespace {

using Steady = std::chrono::steady_clock;

uint32_t Remaining(Steady::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
    return left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
}

} // namespace

bool ParseImageBatch(std::span<const uint8_t> batch, std::vector<BatchRecord>& records) {
    records.clear();
    if (batch.size() < 8)
        return false;
    uint32_t k = LoadLe32(batch.data());
    size_t pos = 8;
    for (uint32_t i = 0; i < k; ++i) {
        if (batch.size() - pos < 24)
            return false;
        const uint8_t* p = batch.data() + pos;
        BatchRecord record;
        record.ftCapture = LoadLe64(p);
        record.nCamera = LoadLe32(p + 8);
        uint32_t m = LoadLe32(p + 12);
        record.nSent = LoadLe32(p + 16);
        record.nDropped = LoadLe32(p + 20);
        if (batch.size() - pos - 24 < m)
            return false;
        record.jpeg.assign(p + 24, p + 24 + m);
        records.push_back(std::move(record));
        pos += 24 + size_t{m};
    }
    return true;
}

void ClientDigest(const std::string& password, const uint8_t challenge[16], uint8_t digest[16]) {
    LoginBlock block;
    std::memcpy(block.data(), challenge, 16);
    LoginBlock out = LoginDigest(password, block);
    std::memcpy(digest, out.data(), 16);
}

ScriptedClient::ScriptedClient() {
    conn_.cPeerName = "test-server";
}

bool ScriptedClient::Connect(uint16_t nPort, const char* source, int nReceiveBuffer) {
    socket_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket_.Valid())
        return false;
    if (nReceiveBuffer > 0)
        ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUF, &nReceiveBuffer, sizeof nReceiveBuffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &local.sin_addr);
    if (::bind(socket_.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    ::inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    if (::connect(socket_.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        socket_.Reset();
        return false;
    }
    timeval tv{0, 100 * 1000};
    ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    conn_.nSocket = socket_.Get();
    ImageCipherRelease(conn_.imageCipher);
    return true;
}

void ScriptedClient::Close() {
    socket_.Reset();
    conn_.nSocket = -1;
}

void ScriptedClient::Reset() {
    if (socket_.Valid()) {
        linger lg{1, 0};
        ::setsockopt(socket_.Get(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
    Close();
}

uint32_t ScriptedClient::Send(uint16_t nType, std::span<const uint8_t> payload, uint32_t nOptions) {
    send_.assign(PacketSendBufferSize(payload.size()), 0);
    std::copy(payload.begin(), payload.end(), send_.begin() + PACKET_HEADER_SIZE);
    return SendPacket(conn_, nType, send_, static_cast<uint32_t>(payload.size()), nOptions, false);
}

bool ScriptedClient::Receive(ReceivedPacket& packet, uint32_t nTimeoutMs) {
    auto deadline = Steady::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        int64_t n = ReceivePacket(conn_, PacketSide::Client, buffer_, nError_);
        if (n > 0) {
            PacketHeader header = PacketHeaderRead(buffer_.data());
            packet.nType = header.type;
            packet.nFlags = header.flags;
            packet.payload.assign(buffer_.begin() + PACKET_HEADER_SIZE,
                                  buffer_.begin() + PACKET_HEADER_SIZE + header.length);
            return true;
        }
        bool fRetry = n < 0 && (nError_ == 10060 || nError_ == 10035);
        if (!fRetry || Remaining(deadline) == 0)
            return false;
    }
}

bool ScriptedClient::ReceiveType(uint16_t nType, ReceivedPacket& packet, uint32_t nTimeoutMs) {
    auto deadline = Steady::now() + std::chrono::milliseconds(nTimeoutMs);
    while (Receive(packet, Remaining(deadline))) {
        if (packet.nType == nType)
            return true;
    }
    return false;
}

bool ScriptedClient::ReceiveResult(uint16_t& nAnswered, uint32_t& nCode, uint32_t nTimeoutMs) {
    ReceivedPacket packet;
    if (!ReceiveType(PT_RESULT, packet, nTimeoutMs) || packet.payload.size() < 8)
        return false;
    nAnswered = LoadLe16(packet.payload.data());
    nCode = LoadLe32(packet.payload.data() + 4);
    return true;
}

bool ScriptedClient::Quiet(uint32_t nMs) {
    pollfd fd{socket_.Get(), POLLIN, 0};
    return ::poll(&fd, 1, static_cast<int>(nMs)) == 0;
}

bool ScriptedClient::WaitClosed(uint32_t nTimeoutMs, bool* pfSawDisconnect) {
    auto deadline = Steady::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        int64_t n = ReceivePacket(conn_, PacketSide::Client, buffer_, nError_);
        if (n == 0)
            return true;
        if (n > 0 && pfSawDisconnect != nullptr &&
            PacketHeaderRead(buffer_.data()).type == PT_DISCONNECT)
            *pfSawDisconnect = true;
        if (n < 0 && nError_ != 10060 && nError_ != 10035)
            return nError_ == 10054 || nError_ == 1226;
        if (Remaining(deadline) == 0)
            return false;
    }
}

bool ScriptedClient::StartLogin(ReceivedPacket& first, uint32_t nTimeoutMs) {
    if (SendEmpty(PT_CONNECT) != 0)
        return false;
    return Receive(first, nTimeoutMs);
}

LoginOutcome ScriptedClient::Login(const std::string& password) {
    LoginOutcome outcome;
    ReceivedPacket first;
    if (!StartLogin(first))
        return outcome;
    if (first.nType == PT_AUTH && first.payload.size() >= 32) {
        uint8_t digest[16];
        ClientDigest(password, first.payload.data(), digest);
        outcome = AnswerChallenge(digest);
        outcome.fChallenged = true;
        outcome.nStamp = LoadLe64(first.payload.data() + 16);
        return outcome;
    }
    // No challenge: the first packet is the first information piece.
    buffer_.clear();
    LoginOutcome collected;
    if (first.nType == PT_CONNECT && first.payload.size() >= 12) {
        uint32_t n = LoadLe32(first.payload.data() + 8);
        collected.info.assign(first.payload.begin() + 12, first.payload.begin() + 12 + n);
    } else if (first.nType == PT_RESULT && first.payload.size() >= 8) {
        collected.nAnswered = LoadLe16(first.payload.data());
        collected.nResult = LoadLe32(first.payload.data() + 4);
        return collected;
    }
    return CollectLogin(std::move(collected));
}

LoginOutcome ScriptedClient::AnswerChallenge(const uint8_t digest[16]) {
    uint8_t payload[32] = {};
    std::memcpy(payload, digest, 16);
    LoginOutcome outcome;
    if (Send(PT_AUTH, payload) != 0)
        return outcome;
    return CollectLogin(outcome);
}

LoginOutcome ScriptedClient::CollectLogin(LoginOutcome outcome) {
    ReceivedPacket packet;
    while (Receive(packet)) {
        if (packet.nType == PT_CONNECT && packet.payload.size() >= 12) {
            uint32_t n = LoadLe32(packet.payload.data() + 8);
            if (n > packet.payload.size() - 12)
                break;
            outcome.info.append(packet.payload.begin() + 12, packet.payload.begin() + 12 + n);
        } else if (packet.nType == PT_RESULT && packet.payload.size() >= 8) {
            outcome.nAnswered = LoadLe16(packet.payload.data());
            outcome.nResult = LoadLe32(packet.payload.data() + 4);
            break;
        }
    }
    return outcome;
}

bool ScriptedClient::ReceiveBatch(std::vector<BatchRecord>& records, uint32_t nTimeoutMs,
                                  uint16_t* pnType) {
    auto deadline = Steady::now() + std::chrono::milliseconds(nTimeoutMs);
    std::vector<uint8_t> batch;
    ReceivedPacket packet;
    while (Receive(packet, Remaining(deadline))) {
        if (packet.nType < PT_IMAGE || packet.nType > PT_IMAGE + 8 || packet.payload.size() < 20)
            continue;
        uint32_t nPiece = LoadLe32(packet.payload.data());
        uint32_t nCount = LoadLe32(packet.payload.data() + 4);
        uint32_t n = LoadLe32(packet.payload.data() + 8);
        if (n > packet.payload.size() - 20)
            return false;
        if (nPiece == 1)
            batch.clear();
        batch.insert(batch.end(), packet.payload.begin() + 20, packet.payload.begin() + 20 + n);
        if (pnType != nullptr)
            *pnType = packet.nType;
        if (nPiece == nCount)
            return ParseImageBatch(batch, records);
    }
    return false;
}

} // namespace brindle::test
