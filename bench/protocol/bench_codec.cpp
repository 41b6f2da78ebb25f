// Cost of the packet codec: a round trip over a socket pair (send, then
// receive on the other end) for image pieces under each cipher and for
// control packets, next to the cost of the cipher alone and of the checksum
// alone on the same bytes. The summary at the end gives, per case, how much
// the codec adds on top of cipher + checksum.
#include "protocol/packet_codec.h"
#include "protocol/scrambler.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace brindle;

namespace {

// An image piece as the server cuts them for the client's 65,552-byte limit:
// payload = limit - 32, so that a padded piece still fits.
constexpr uint32_t IMAGE_PIECE = PACKET_LIMIT_CLIENT - 32;
constexpr uint32_t CONTROL_PAYLOAD = 1024;

std::vector<uint8_t> Noise(size_t n) {
    std::mt19937 random(1);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

std::vector<uint8_t> Text(size_t n) {
    static const char kLine[] = "[Camera1]\r\nName=Front door\r\nCycle=10\r\nQuality=80\r\n";
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(kLine[i % (sizeof kLine - 1)]);
    return bytes;
}

// Sender on one end of a socket pair, receiver on the other, with buffers
// large enough that one thread can send a whole packet and then read it.
struct Link {
    Link() {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
            throw std::runtime_error("socketpair");
        int size = 1 << 20;
        for (int fd : fds) {
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        sender.nSocket = fds[0];
        receiver.nSocket = fds[1];
    }
    ~Link() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    int fds[2];
    PacketConnection sender;
    PacketConnection receiver;
};

ImageCipherState ReadyState(int algorithm) {
    ImageCipherState state;
    state.nAlgorithm = algorithm;
    if (ImageCipherSetUp(state) != 0)
        throw std::runtime_error("cipher set-up");
    return state;
}

size_t EncipheredLength(int algorithm, size_t n) {
    ImageCipherState state = ReadyState(algorithm);
    std::vector<uint8_t> buffer(n + IMAGE_CIPHER_GROWTH);
    ImageCipherApply(state, CipherDirection::Encrypt, 0, buffer, n);
    return n;
}

void ImageRoundTrip(benchmark::State& state) {
    int algorithm = static_cast<int>(state.range(0));
    Link link;
    link.sender.imageCipher = ReadyState(algorithm);
    std::vector<uint8_t> buffer = Noise(PACKET_HEADER_SIZE + IMAGE_PIECE + PACKET_SEND_SPARE);
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    for (auto _ : state) {
        uint16_t type = static_cast<uint16_t>(PT_IMAGE + algorithm);
        if (SendPacket(link.sender, type, buffer, IMAGE_PIECE, SEND_ENCIPHER, false) != 0 ||
            ReceivePacket(link.receiver, PacketSide::Client, packet, err) <= 0)
            state.SkipWithError("round trip failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * IMAGE_PIECE);
}

// The cipher's share of a round trip: key derivation, encryption and
// decryption of one piece.
void ImageCipherOnly(benchmark::State& state) {
    ImageCipherState cipher = ReadyState(static_cast<int>(state.range(0)));
    std::vector<uint8_t> buffer = Noise(IMAGE_PIECE + IMAGE_CIPHER_GROWTH);
    for (auto _ : state) {
        size_t n = IMAGE_PIECE;
        ImageCipherApply(cipher, CipherDirection::Encrypt, 5, buffer, n);
        ImageCipherApply(cipher, CipherDirection::Decrypt, 5, buffer, n);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * IMAGE_PIECE);
}

// The checksum's share: once when sending, once when receiving, over the
// packet as it travels.
void ImageChecksumOnly(benchmark::State& state) {
    size_t n = PACKET_HEADER_SIZE + EncipheredLength(static_cast<int>(state.range(0)), IMAGE_PIECE);
    std::vector<uint8_t> packet = Noise(n);
    for (auto _ : state) {
        benchmark::DoNotOptimize(PacketChecksum(packet.data(), n));
        benchmark::DoNotOptimize(PacketChecksum(packet.data(), n));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * IMAGE_PIECE);
}

void ControlRoundTrip(benchmark::State& state) {
    bool fCompress = state.range(0) != 0;
    Link link;
    std::vector<uint8_t> payload = Text(CONTROL_PAYLOAD);
    std::vector<uint8_t> buffer(PACKET_HEADER_SIZE + CONTROL_PAYLOAD + PACKET_SEND_SPARE);
    std::vector<uint8_t> packet;
    uint32_t err = 0;
    uint32_t options = SEND_ENCIPHER | (fCompress ? SEND_COMPRESS : 0);
    for (auto _ : state) {
        std::copy(payload.begin(), payload.end(), buffer.begin() + PACKET_HEADER_SIZE);
        if (SendPacket(link.sender, PT_CONNECT, buffer, CONTROL_PAYLOAD, options, false) != 0 ||
            ReceivePacket(link.receiver, PacketSide::Server, packet, err) <= 0)
            state.SkipWithError("round trip failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * CONTROL_PAYLOAD);
}

void ControlCipherOnly(benchmark::State& state) {
    std::vector<uint8_t> payload = Text(CONTROL_PAYLOAD);
    for (auto _ : state) {
        ScrambleStream(payload, KeyBlockForPacket(7));
        ScrambleStream(payload, KeyBlockForPacket(7));
        benchmark::DoNotOptimize(payload.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * CONTROL_PAYLOAD);
}

void ControlChecksumOnly(benchmark::State& state) {
    std::vector<uint8_t> packet = Text(PACKET_HEADER_SIZE + CONTROL_PAYLOAD);
    for (auto _ : state) {
        benchmark::DoNotOptimize(PacketChecksum(packet.data(), packet.size()));
        benchmark::DoNotOptimize(PacketChecksum(packet.data(), packet.size()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * CONTROL_PAYLOAD);
}

BENCHMARK(ImageRoundTrip)->DenseRange(0, 8)->Unit(benchmark::kMicrosecond);
BENCHMARK(ImageCipherOnly)->DenseRange(0, 8)->Unit(benchmark::kMicrosecond);
BENCHMARK(ImageChecksumOnly)->DenseRange(0, 8)->Unit(benchmark::kMicrosecond);
BENCHMARK(ControlRoundTrip)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(ControlCipherOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(ControlChecksumOnly)->Unit(benchmark::kMicrosecond);

// Keeps the CPU time per iteration of every run for the summary. CPU time
// (user and system, the socket calls included) is steadier than wall time on
// a machine that is busy with other work.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    SummaryReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                times[run.benchmark_name()] = run.GetAdjustedCPUTime();
        }
    }
    std::map<std::string, double> times;
};

void PrintOverhead(const SummaryReporter& reporter, const std::string& label,
                   const std::string& roundTrip, const std::string& cipher,
                   const std::string& checksum) {
    auto find = [&](const std::string& name) {
        auto it = reporter.times.find(name);
        return it == reporter.times.end() ? -1.0 : it->second;
    };
    double total = find(roundTrip), c = find(cipher), k = find(checksum);
    if (total < 0 || c < 0 || k < 0)
        return;
    std::printf("%-24s %10.1f %10.1f %10.1f %+9.1f%%\n", label.c_str(), total, c, k,
                100.0 * (total / (c + k) - 1.0));
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-24s %10s %10s %10s %10s\n", "case (CPU us/packet)", "round trip", "cipher",
                "checksum", "codec adds");
    for (int algorithm = 0; algorithm < IMAGE_CIPHER_COUNT; ++algorithm) {
        char arg[8];
        char label[40];
        std::snprintf(arg, sizeof arg, "/%d", algorithm);
        std::snprintf(label, sizeof label, "image %d %s", algorithm,
                      algorithm == IMAGE_CIPHER_AES_128 ? "(AES-128)" : "");
        PrintOverhead(reporter, label, std::string("ImageRoundTrip") + arg,
                      std::string("ImageCipherOnly") + arg, std::string("ImageChecksumOnly") + arg);
    }
    PrintOverhead(reporter, "control 1 KB", "ControlRoundTrip/0", "ControlCipherOnly",
                  "ControlChecksumOnly");
    benchmark::Shutdown();
    return 0;
}
