// Streaming from the server's image queue to a client over loopback.
//
// BM_Stream sends 1080p test-camera JPEGs through the queue, the connection
// thread and the codec to a scripted client, with no image cipher and with
// AES-128, and measures in the same run the bound that the cipher and the
// CRC alone set for the same bytes: encrypting the pieces and
// checksumming the packets on one thread. ratio = streamed / bound.
//
// BM_Latency appends one image a second and reports the time from the
// append to the client's receipt of the whole batch.
#include "common/log.h"
#include "common/test_support.h"
#include "platform/clock.h"
#include "protocol/packet.h"
#include "server/capture/jpeg_codec.h"
#include "server/capture/test_camera.h"
#include "server/connections/connection_manager.h"
#include "server/connections/image_batch.h"
#include "server/scripted_client.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

namespace brindle {
namespace {

using Steady = std::chrono::steady_clock;

class BenchHost : public ConnectionHost {
  public:
    int CameraCount() override { return 1; }
    bool CameraView(int, CameraRequestView& view) override {
        view = CameraRequestView{true, false, 0, 1};
        return true;
    }
    void CameraSettingsChanged(int, const CameraRequest&, bool) override {}
};

// One 1080p picture of the test camera at the default quality (25).
const std::vector<uint8_t>& TestJpeg() {
    static const std::vector<uint8_t> jpeg = [] {
        TestCameraScene scene(SystemClock());
        CaptureFrame frame;
        scene.Render(1920, 1080, frame);
        JpegScratch scratch;
        std::vector<uint8_t> out;
        EncodeJpeg(frame.pixels.data(), frame.nWidth, frame.nHeight, DibStride(frame.nWidth), 25,
                   scratch, out);
        return out;
    }();
    return jpeg;
}

// A server core listening on loopback with one logged-in scripted client.
struct Session {
    explicit Session(int nCipher) : context(shared, host), manager(context, "127.0.0.1") {
        shared.SetCameras({"Bench"});
        context.nCrypt = nCipher;
        context.cSettingsFile = dir.File("BrindleHost.ini");
        test::WriteFileText(context.cSettingsFile, "[Settings]\r\nPort=0\r\n");
        manager.OpenListener(0);
        fReady = client.Connect(manager.ListenerPort()) && client.Login("").nResult == 0;
    }
    ~Session() {
        client.Close();
        manager.StopAll();
    }
    void Queue(uint64_t nId) {
        {
            std::lock_guard<std::mutex> lock(shared.mainLock);
            shared.AppendImage(SendQueueEntry{0, TestJpeg(), nId});
        }
        manager.NotifyWork();
    }

    test::TempDir dir;
    ServerShared shared;
    BenchHost host;
    ServerContext context;
    ConnectionManager manager;
    test::ScriptedClient client;
    bool fReady = false;
};

double CpuSeconds(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Seconds the cipher and CRC take for nImages images sent as pieces of the
// largest packet, on one thread.
double CipherCrcSeconds(int nCipher, size_t nImages) {
    ImageCipherState state;
    state.nAlgorithm = nCipher;
    ImageCipherSetUp(state);
    size_t nBatch = IMAGE_BATCH_HEADER + nImages * (IMAGE_RECORD_HEADER + TestJpeg().size());
    size_t nChunk = PACKET_PAYLOAD_MAX - IMAGE_PIECE_OVERHEAD;
    std::vector<uint8_t> piece(PACKET_HEADER_SIZE + nChunk + IMAGE_PIECE_EXTRA + 64, 0x5A);
    auto start = Steady::now();
    for (size_t nOffset = 0; nOffset < nBatch; nOffset += nChunk) {
        size_t n = std::min(nChunk, nBatch - nOffset) + IMAGE_PIECE_EXTRA;
        std::span<uint8_t> room(piece.data() + PACKET_HEADER_SIZE, piece.size() - 16);
        ImageCipherApply(state, CipherDirection::Encrypt, 7, room, n);
        benchmark::DoNotOptimize(PacketChecksum(piece.data(), PACKET_HEADER_SIZE + n));
    }
    ImageCipherRelease(state);
    return std::chrono::duration<double>(Steady::now() - start).count();
}

void BM_Stream(benchmark::State& state) {
    int nCipher = static_cast<int>(state.range(0));
    constexpr size_t kImages = 64;
    Session session(nCipher);
    if (!session.fReady) {
        state.SkipWithError("no session");
        return;
    }
    double streamSeconds = 0;
    size_t nTotalImages = 0;
    double cpuStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    double clientStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state) {
        auto start = Steady::now();
        for (size_t i = 0; i < kImages; ++i)
            session.Queue(i);
        size_t nReceived = 0;
        std::vector<test::BatchRecord> records;
        while (nReceived < kImages && session.client.ReceiveBatch(records, 10000))
            nReceived += records.size();
        streamSeconds += std::chrono::duration<double>(Steady::now() - start).count();
        nTotalImages += nReceived;
    }
    double cpuSeconds = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    double clientSeconds = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - clientStart;
    double nBytes = double(nTotalImages) * double(TestJpeg().size());
    double boundSeconds = 0;
    for (int i = 0; i < 5; ++i)
        boundSeconds += CipherCrcSeconds(nCipher, kImages);
    double boundRate = 5.0 * kImages * double(TestJpeg().size()) / boundSeconds;
    double streamRate = nBytes / streamSeconds;
    state.counters["images_per_s"] = double(nTotalImages) / streamSeconds;
    state.counters["MB_per_s"] = streamRate / 1e6;
    state.counters["bound_MB_per_s"] = boundRate / 1e6;
    state.counters["ratio"] = streamRate / boundRate;
    // On a machine whose cores are busy with other work the two sides cannot
    // run side by side; this compares CPU time instead: both sides' cipher
    // and CRC work (twice the bound) against all the CPU the process used.
    state.counters["cpu_ratio"] = 2.0 * nBytes / boundRate / cpuSeconds;
    // The server's own share: the CPU of every thread but the client's
    // (this one) against the bound for the bytes it sent.
    state.counters["server_cpu_ratio"] = nBytes / boundRate / (cpuSeconds - clientSeconds);
    state.counters["jpeg_KB"] = double(TestJpeg().size()) / 1e3;
    state.SetBytesProcessed(static_cast<int64_t>(nBytes));
}
BENCHMARK(BM_Stream)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Latency(benchmark::State& state) {
    int nImages = static_cast<int>(state.range(0));
    Session session(3);
    if (!session.fReady) {
        state.SkipWithError("no session");
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        std::mutex lock;
        std::map<uint64_t, Steady::time_point> appended;
        std::thread receiver([&] {
            std::vector<test::BatchRecord> records;
            while (latencies.size() < size_t(nImages) &&
                   session.client.ReceiveBatch(records, 5000)) {
                auto now = Steady::now();
                std::lock_guard<std::mutex> guard(lock);
                for (const test::BatchRecord& record : records)
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(now - appended[record.ftCapture])
                            .count());
            }
        });
        for (int i = 0; i < nImages; ++i) {
            {
                std::lock_guard<std::mutex> guard(lock);
                appended[uint64_t(i)] = Steady::now();
            }
            session.Queue(uint64_t(i));
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        receiver.join();
    }
    // The first image also sets the connection's cipher up.
    state.counters["first_ms"] = latencies.empty() ? 0.0 : latencies.front();
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) {
        return latencies.empty() ? 0.0
                                 : latencies[std::min(latencies.size() - 1,
                                                      size_t(q * double(latencies.size())))];
    };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = latencies.empty() ? 0.0 : latencies.back();
    state.counters["samples"] = double(latencies.size());
}
BENCHMARK(BM_Latency)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
} // namespace brindle

BENCHMARK_MAIN();
