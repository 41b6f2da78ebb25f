#include "client/client_test_support.h"

#include "client/connections/client_thread.h"
#include "common/error_codes.h"
#include "common/little_endian.h"
#include "common/log.h"
#include "image/jpeg_codec.h"

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace brindle::test {

namespace {

using SteadyClock = std::chrono::steady_clock;

void Append32(std::vector<uint8_t>& out, uint32_t v) {
    out.resize(out.size() + 4);
    StoreLe32(out.data() + out.size() - 4, v);
}

} // namespace

void QuickSleeper::Sleep(uint32_t ms) const {
    (void)ms;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeNetwork::FakeNetwork() {
    interfaces.push_back({Ip("127.0.0.1"), Ip("255.0.0.0")});
}

uint32_t FakeNetwork::LookupHost(const std::string& host, const std::atomic<int32_t>& fStop,
                                 uint32_t& dwAddress) {
    (void)fStop;
    std::lock_guard<std::mutex> guard(lock_);
    lookups.push_back(host);
    for (const auto& entry : hosts)
        if (entry.first == host) {
            dwAddress = entry.second;
            return 0;
        }
    // Numeric texts resolve as getaddrinfo resolves them.
    in_addr addr{};
    if (::inet_pton(AF_INET, host.c_str(), &addr) != 1)
        return WSAHOST_NOT_FOUND_CODE;
    dwAddress = addr.s_addr;
    return 0;
}

uint32_t FakeNetwork::InterfaceTable(std::vector<InterfaceAddress>& table) {
    std::lock_guard<std::mutex> guard(lock_);
    table = interfaces;
    return 0;
}

uint32_t FakeNetwork::EthernetAddress(uint32_t dwAddress, uint64_t& qwMacAddress) {
    std::lock_guard<std::mutex> guard(lock_);
    if (nMisses > 0) {
        --nMisses;
        return ERROR_FILE_NOT_FOUND_CODE;
    }
    for (const auto& entry : neighbours)
        if (entry.first == dwAddress) {
            qwMacAddress = entry.second;
            return 0;
        }
    return ERROR_FILE_NOT_FOUND_CODE;
}

uint32_t FakeNetwork::SendBroadcast(uint32_t dwDestination, uint16_t nPort,
                                    std::span<const uint8_t> datagram) {
    std::lock_guard<std::mutex> guard(lock_);
    sent.push_back({dwDestination, nPort, std::vector<uint8_t>(datagram.begin(), datagram.end())});
    return 0;
}

uint32_t Ip(const char* dotted) {
    in_addr addr{};
    ::inet_pton(AF_INET, dotted, &addr);
    return addr.s_addr;
}

uint32_t TestHost::AskPassword(ServerParams& psp, std::string& cPassword) {
    (void)psp;
    ++nPasswordAsks;
    if (fCancelPassword)
        return PASSWORD_CANCELLED;
    cPassword = cAnswer;
    return 0;
}

void TestHost::ShowMessage(const std::string& text, uint32_t nTimeoutMs) {
    (void)nTimeoutMs;
    std::lock_guard<std::mutex> guard(lock_);
    messages_.push_back(text);
}

void TestHost::SettingsTransferred(ServerParams& psp) {
    (void)psp;
    ++nTransfers;
}

void TestHost::ShowLivePicture(ClientViewer& viewer, uint64_t nFileTime) {
    (void)viewer;
    std::lock_guard<std::mutex> guard(lock_);
    pictures_.push_back(nFileTime);
    ++nPictures;
}

std::vector<std::string> TestHost::Messages() {
    std::lock_guard<std::mutex> guard(lock_);
    return messages_;
}

std::vector<uint64_t> TestHost::PictureTimes() {
    std::lock_guard<std::mutex> guard(lock_);
    return pictures_;
}

void ClientContextTest::SetUp() {
    ctx.cDataFolder = dir.Path();
    ctx.cSettingsFile = dir.File("BrindleView.ini");
    ctx.cSaveFolder = dir.File("images");
    std::filesystem::create_directory(ctx.cSaveFolder);
    ctx.pHost = &host;
    ctx.pClock = &clock;
    ctx.pSleeper = &sleeper;
    ctx.pNetwork = &network;
    LogOpen(dir.File("BrindleView.log"));
}

void ClientContextTest::TearDown() {
    StopClientThreads(ctx);
    LogClose();
}

ScriptedServer::ScriptedServer() {
    conn_.cPeerName = "client";
}

ScriptedServer::~ScriptedServer() {
    Close();
}

void ScriptedServer::Close() {
    if (conn_.nSocket >= 0)
        ::close(conn_.nSocket);
    conn_.nSocket = -1;
    ImageCipherRelease(conn_.imageCipher);
}

bool ScriptedServer::Accept(int limitMs) {
    Close();
    pollfd p{listener_.Fd(), POLLIN, 0};
    if (::poll(&p, 1, limitMs) <= 0)
        return false;
    int fd = ::accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return false;
    timeval tv{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    conn_.nSocket = fd;
    return true;
}

bool ScriptedServer::Expect(uint16_t nType, std::vector<uint8_t>* payload, int limitMs) {
    auto end = SteadyClock::now() + std::chrono::milliseconds(limitMs);
    std::vector<uint8_t> packet;
    while (conn_.nSocket >= 0 && SteadyClock::now() < end) {
        uint32_t nError = 0;
        int64_t n = ReceivePacket(conn_, PacketSide::Server, packet, nError);
        if (n == 0)
            return false;
        if (n > 0 && PacketIs(packet, nType, payload))
            return true;
    }
    return false;
}

bool ScriptedServer::WaitClosed(int limitMs) {
    auto end = SteadyClock::now() + std::chrono::milliseconds(limitMs);
    std::vector<uint8_t> packet;
    while (conn_.nSocket >= 0 && SteadyClock::now() < end) {
        uint32_t nError = 0;
        int64_t n = ReceivePacket(conn_, PacketSide::Server, packet, nError);
        if (n == 0 || (n < 0 && nError == WSAECONNRESET_CODE)) {
            Close();
            return true;
        }
        // The client's disconnect: answer it, as the server does, so that the
        // client need not wait for the socket to close.
        if (n > 0 && PacketHeaderRead(packet.data()).type == PT_DISCONNECT)
            Send(PT_DISCONNECT, {});
    }
    return false;
}

uint32_t ScriptedServer::Send(uint16_t nType, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> buffer(PACKET_HEADER_SIZE + payload.size() + PACKET_SEND_SPARE);
    std::copy(payload.begin(), payload.end(), buffer.begin() + PACKET_HEADER_SIZE);
    return SendPacket(conn_, nType, buffer, static_cast<uint32_t>(payload.size()),
                      SEND_COMPRESS | SEND_ENCIPHER, false);
}

void ScriptedServer::SendResult(uint16_t nAnswered, uint32_t nCode) {
    std::vector<uint8_t> payload(8, 0);
    payload[0] = static_cast<uint8_t>(nAnswered);
    payload[1] = static_cast<uint8_t>(nAnswered >> 8);
    StoreLe32(payload.data() + 4, nCode);
    Send(PT_RESULT, payload);
}

void ScriptedServer::SendAuth(const uint8_t challenge[16], uint64_t nStamp) {
    std::vector<uint8_t> payload(32, 0);
    std::copy(challenge, challenge + 16, payload.begin());
    StoreLe32(payload.data() + 16, static_cast<uint32_t>(nStamp));
    StoreLe32(payload.data() + 20, static_cast<uint32_t>(nStamp >> 32));
    Send(PT_AUTH, payload);
}

void ScriptedServer::SendPieces(uint16_t nType, std::span<const uint8_t> bytes, size_t chunk,
                                std::vector<int32_t> numbers, size_t nHeader) {
    size_t nCount = (bytes.size() + chunk - 1) / chunk;
    if (numbers.empty())
        for (size_t i = 1; i <= nCount; ++i)
            numbers.push_back(static_cast<int32_t>(i));
    for (int32_t number : numbers) {
        // A number beyond the content (a test of a broken server) carries no bytes.
        size_t offset = std::min(static_cast<size_t>(number - 1) * chunk, bytes.size());
        size_t n = std::min(chunk, bytes.size() - offset);
        std::vector<uint8_t> payload =
            PiecePayload(number, nCount, bytes.subspan(offset, n), nHeader);
        payload.resize(payload.size() + 3, 0);
        Send(nType, payload);
    }
}

void ScriptedServer::SendSettings(const std::string& text, size_t chunk,
                                  std::vector<int32_t> numbers) {
    SendPieces(PT_CONNECT, BytesOf(text), chunk, std::move(numbers), 12);
}

void ScriptedServer::SendImageSet(const std::vector<uint8_t>& set, size_t chunk,
                                  std::vector<int32_t> order, uint16_t nType) {
    SendPieces(nType, set, chunk, std::move(order), 20);
}

bool PacketIs(const std::vector<uint8_t>& packet, uint16_t nType, std::vector<uint8_t>* payload) {
    PacketHeader header = PacketHeaderRead(packet.data());
    if (header.type != nType)
        return false;
    if (payload)
        payload->assign(packet.begin() + PACKET_HEADER_SIZE,
                        packet.begin() + PACKET_HEADER_SIZE + header.length);
    return true;
}

std::vector<uint8_t> PiecePayload(int32_t number, size_t nCount, std::span<const uint8_t> piece,
                                  size_t nHeader) {
    std::vector<uint8_t> payload;
    Append32(payload, static_cast<uint32_t>(number));
    Append32(payload, static_cast<uint32_t>(nCount));
    Append32(payload, static_cast<uint32_t>(piece.size()));
    payload.resize(nHeader, 0);
    payload.insert(payload.end(), piece.begin(), piece.end());
    return payload;
}

std::vector<uint8_t> ImageSetBytes(const std::vector<TestImage>& images) {
    std::vector<uint8_t> set;
    Append32(set, static_cast<uint32_t>(images.size()));
    Append32(set, 0);
    for (const TestImage& image : images) {
        Append32(set, static_cast<uint32_t>(image.nFileTime));
        Append32(set, static_cast<uint32_t>(image.nFileTime >> 32));
        Append32(set, static_cast<uint32_t>(image.nCameraId));
        Append32(set, static_cast<uint32_t>(image.jpeg.size()));
        Append32(set, image.nSent);
        Append32(set, image.nAbandoned);
        set.insert(set.end(), image.jpeg.begin(), image.jpeg.end());
    }
    return set;
}

std::vector<uint8_t> TestJpeg(int width, int height, uint8_t shade) {
    size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    std::vector<uint8_t> pixels(stride * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x)
            pixels[static_cast<size_t>(y) * stride + static_cast<size_t>(x)] =
                static_cast<uint8_t>(shade + x + y);
    JpegScratch scratch;
    std::vector<uint8_t> jpeg;
    EncodeJpeg(pixels.data(), width, height, stride, 75, scratch, jpeg);
    return jpeg;
}

std::string ServerSettingsText(const std::vector<std::pair<std::string, std::string>>& cameras) {
    std::string text =
        "[Settings]\r\nPort=12345\r\nCrypt=3\r\nNoSleep=Yes\r\n[Camera]\r\nPathList2=";
    for (const auto& camera : cameras)
        text += camera.first + "|";
    text += "\r\n";
    for (const auto& camera : cameras)
        text += "[" + camera.first + "]\r\nName=Test Camera\r\nName2=" + camera.second +
                "\r\nConnect=1\r\nUse=Yes\r\nFormatList=640x480x333333|320x240x333333|\r\n"
                "Format=1\r\nQuality=80\r\n";
    return text;
}

} // namespace brindle::test
