// One image through the storage relay, as the two programs move it: the
// server's SendPacket uploads a 300 KB image packet (PUT into tmp/, MOVE),
// the client's ReceivePacket polls (PROPFIND, GET, DELETE) and returns it,
// back to back without interval waits, against curl's PUT and GET of the
// same bytes on one connection (two time_total figures summed) in the same
// run. Reported: ours_ms, curl_ms, their ratio (target at most 2), and the
// requests one image takes.
//
// The burst: images queued at once, sent by the server's thread, then taken
// by the client; images/s, MB/s and requests per image.
#include "protocol/packet_codec.h"
#include "storage/account_form.h"
#include "storage/relay_worker.h"

#include "bench_lighttpd.h"
#include "support/file_text.h"
#include "support/scoped_env.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace brindle {
namespace {

constexpr size_t IMAGE_BYTES = 300 * 1024;
constexpr int BURST_IMAGES = 20;

test::LighttpdServer* Server() {
    return bench::LighttpdForBench("bench_relay", "open/relay");
}

// JPEG-like bytes that do not compress.
std::vector<uint8_t> Image() {
    return bench::NoiseBytes<std::vector<uint8_t>>(IMAGE_BYTES);
}

// Both programs' workers on one relay folder, each with its peer attached.
struct RelayPair {
    test::TempDir dir;
    AccountStore hostStore{dir.File("BrindleHost.ini")};
    AccountStore viewStore{dir.File("BrindleView.ini")};
    std::unique_ptr<RelayWorker> host, view;
    PacketConnection hostConn, viewConn;
    std::string failure;

    RelayPair(const test::LighttpdServer& server, bool fTls) {
        std::string uri = std::string(fTls ? "https" : "http") + "://127.0.0.1:" +
                          std::to_string(fTls ? server.TlsPort() : server.HttpPort()) +
                          "/open/relay/";
        host = Worker(hostStore, uri, true, "host1");
        view = Worker(viewStore, uri, false, "pc2");
        if (!host || !view) {
            failure = "the relay workers did not start";
            return;
        }
        auto client = std::make_shared<RelayPeer>();
        client->cName = "PC2";
        client->fRunning = true;
        host->Attach(hostConn, client);
        auto serverEntry = std::make_shared<RelayPeer>();
        serverEntry->cName = "HOST1";
        serverEntry->fRunning = true;
        view->Attach(viewConn, serverEntry);
    }
    ~RelayPair() {
        if (host)
            host->Close();
        if (view)
            view->Close();
    }

    static std::unique_ptr<RelayWorker> Worker(AccountStore& store, const std::string& uri,
                                               bool fServer, const char* name) {
        AccountForm form;
        form.cUri = uri;
        form.cUser = "bench";
        form.cPasswd = form.cPasswdAgain = "bench";
        form.fServer = fServer;
        AccountPtr account;
        if (SaveAccountForm(store, form, account) != 0)
            return nullptr;
        RelayWorkerOptions options;
        options.fServer = fServer;
        options.cComputerName = name;
        options.fetchBudget = [] { return 600000u; };
        auto worker = std::make_unique<RelayWorker>(account, options);
        return worker->Start() == 0 ? std::move(worker) : nullptr;
    }

    uint64_t Requests() const { return host->RequestCount() + view->RequestCount(); }

    bool Send(std::vector<uint8_t>& buffer) {
        return SendPacket(hostConn, PT_IMAGE, buffer, static_cast<uint32_t>(IMAGE_BYTES), 0,
                          false) == 0;
    }
    // The next packet on the client; false when none came in 60 s.
    bool Receive(std::vector<uint8_t>& packet) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < until) {
            uint32_t nError = 0;
            if (ReceivePacket(viewConn, PacketSide::Client, packet, nError) > 0)
                return PacketHeaderRead(packet.data()).length == IMAGE_BYTES;
        }
        return false;
    }
};

std::vector<uint8_t> SendBuffer(const std::vector<uint8_t>& image) {
    std::vector<uint8_t> buffer(PacketSendBufferSize(image.size()));
    std::copy(image.begin(), image.end(), buffer.begin() + PACKET_HEADER_SIZE);
    return buffer;
}

// The pair with a first image through, which makes the relay folders (not
// part of the figures); null after telling `state` why not.
std::unique_ptr<RelayPair> ReadyPair(benchmark::State& state, const test::LighttpdServer& server,
                                     bool fTls, const std::vector<uint8_t>& image,
                                     std::vector<uint8_t>& packet) {
    auto pair = std::make_unique<RelayPair>(server, fTls);
    if (!pair->failure.empty()) {
        state.SkipWithError(pair->failure.c_str());
        return nullptr;
    }
    std::vector<uint8_t> buffer = SendBuffer(image);
    if (!pair->Send(buffer) || !pair->Receive(packet)) {
        state.SkipWithError("the first image did not come through");
        return nullptr;
    }
    return pair;
}

void BM_RelayOneImage(benchmark::State& state) {
    bool fTls = state.range(0) != 0;
    test::LighttpdServer* server = Server();
    if (!server) {
        state.SkipWithError("lighttpd did not start");
        return;
    }
    test::ScopedEnv trust("SSL_CERT_FILE", server->CaFile().c_str());
    std::vector<uint8_t> image = Image();
    test::WriteFileText(server->Dir().File("image.bin"), std::string(image.begin(), image.end()));
    std::vector<uint8_t> packet;
    std::unique_ptr<RelayPair> ready = ReadyPair(state, *server, fTls, image, packet);
    if (!ready)
        return;
    RelayPair& pair = *ready;
    uint64_t nRequests = pair.Requests();
    double ours = 0, curl = 0;
    for (auto _ : state) {
        std::vector<uint8_t> buffer = SendBuffer(image);
        auto start = std::chrono::steady_clock::now();
        bool fOk = pair.Send(buffer) && pair.Receive(packet);
        double o = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        double c = bench::CurlPutGet(*server, fTls, server->Dir().File("image.bin"));
        if (!fOk || c < 0) {
            state.SkipWithError(!fOk ? "the relay failed" : "curl failed");
            return;
        }
        state.SetIterationTime(o);
        ours += o, curl += c;
    }
    double n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters["curl_ms"] = curl / n * 1000;
    state.counters["ratio"] = ours / curl;
    state.counters["requests"] = static_cast<double>(pair.Requests() - nRequests) / n;
}
BENCHMARK(BM_RelayOneImage)->ArgName("tls")->Arg(0)->Arg(1)->UseManualTime()->Iterations(30);

void BM_RelayBurst(benchmark::State& state) {
    bool fTls = state.range(0) != 0;
    test::LighttpdServer* server = Server();
    if (!server) {
        state.SkipWithError("lighttpd did not start");
        return;
    }
    test::ScopedEnv trust("SSL_CERT_FILE", server->CaFile().c_str());
    std::vector<uint8_t> image = Image();
    std::vector<uint8_t> packet;
    std::unique_ptr<RelayPair> ready = ReadyPair(state, *server, fTls, image, packet);
    if (!ready)
        return;
    RelayPair& pair = *ready;
    uint64_t nRequests = pair.Requests();
    double seconds = 0;
    for (auto _ : state) {
        // The server's thread sends what was queued at once; the client
        // then takes it all. Timed together.
        auto start = std::chrono::steady_clock::now();
        bool fSent = true;
        for (int i = 0; i < BURST_IMAGES && fSent; ++i) {
            std::vector<uint8_t> buffer = SendBuffer(image);
            fSent = pair.Send(buffer);
        }
        int nReceived = 0;
        while (fSent && nReceived < BURST_IMAGES && pair.Receive(packet))
            ++nReceived;
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!fSent || nReceived < BURST_IMAGES) {
            state.SkipWithError("the burst did not come through");
            return;
        }
        state.SetIterationTime(s);
        seconds += s;
    }
    double images = static_cast<double>(state.iterations()) * BURST_IMAGES;
    state.counters["images_per_s"] = images / seconds;
    state.counters["MB_per_s"] = images * IMAGE_BYTES / seconds / 1e6;
    state.counters["requests_per_image"] =
        static_cast<double>(pair.Requests() - nRequests) / images;
}
BENCHMARK(BM_RelayBurst)->ArgName("tls")->Arg(0)->Arg(1)->UseManualTime()->Iterations(3);

} // namespace
} // namespace brindle

BENCHMARK_MAIN();
