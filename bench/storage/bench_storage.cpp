// A relay file's round trip: PUT then GET of a 300 KB file on one
// connection to lighttpd on loopback, plain and TLS, by our client and by
// curl (one process, the GET after --next on the same connection, the two
// time_total figures summed) in the same run. Reported per iteration:
// ours_ms, curl_ms and their ratio (target at most 1.25).
//
// Our client keeps its TLS context between iterations, as an account's slot
// does; each curl process makes its own.
#include "storage/http_connection.h"

#include "storage/lighttpd_fixture.h"
#include "support/file_text.h"
#include "support/scoped_env.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <memory>

namespace brindle {
namespace {

constexpr size_t FILE_BYTES = 300 * 1024;

test::LighttpdServer* Server() {
    static std::unique_ptr<test::LighttpdServer> server;
    static std::string failure;
    if (!server) {
        server = std::make_unique<test::LighttpdServer>();
        failure = server->Start();
        if (!failure.empty())
            std::fprintf(stderr, "bench_storage: %s\n", failure.c_str());
    }
    return failure.empty() ? server.get() : nullptr;
}

std::string Body() {
    std::string body(FILE_BYTES, '\0');
    uint32_t x = 12345;
    for (char& c : body) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>(x >> 24);
    }
    return body;
}

// One PUT and one GET with our client; seconds, or negative on failure.
double Ours(uint16_t nPort, bool fTls, TlsContext& slot, const std::string& body) {
    auto start = std::chrono::steady_clock::now();
    HttpConnection connection;
    if (connection.Open("127.0.0.1", nPort, fTls ? 2 : -2, false, slot) != 0)
        return -1;
    std::string head = "/open/ours.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    uint32_t nError = 0;
    HttpAnswer put, get;
    if (HttpSend(connection, "127.0.0.1",
                 "PUT " + head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                     body,
                 nError) < 0 ||
        HttpReceive(connection, "127.0.0.1", put, nError) < 0 || put.nStatus / 100 != 2 ||
        !connection.Reusable() ||
        HttpSend(connection, "127.0.0.1", "GET " + head + "Content-Length: 0\r\n\r\n", nError) <
            0 ||
        HttpReceive(connection, "127.0.0.1", get, nError) < 0 || get.nStatus != 200 ||
        get.body != body)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The same with curl; the sum of its two time_total figures.
double Curl(uint16_t nPort, bool fTls, const test::LighttpdServer& server) {
    std::string url = std::string(fTls ? "https" : "http") +
                      "://127.0.0.1:" + std::to_string(nPort) + "/open/curl.bin";
    std::string common = " --http1.1 -s -o /dev/null -w '%{time_total}\\n' ";
    std::string command = "curl" + common + "--cacert " + server.CaFile() + " -T " +
                          server.Dir().File("body.bin") + " " + url + " --next" + common +
                          "--cacert " + server.CaFile() + " " + url;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    double total = 0, t = 0;
    int n = 0;
    while (std::fscanf(pipe, "%lf", &t) == 1)
        total += t, ++n;
    return ::pclose(pipe) == 0 && n == 2 ? total : -1;
}

void BM_PutGet(benchmark::State& state) {
    bool fTls = state.range(0) != 0;
    test::LighttpdServer* server = Server();
    if (!server) {
        state.SkipWithError("lighttpd did not start");
        return;
    }
    test::ScopedEnv trust("SSL_CERT_FILE", server->CaFile().c_str());
    std::string body = Body();
    test::WriteFileText(server->Dir().File("body.bin"), body);
    uint16_t nPort = fTls ? server->TlsPort() : server->HttpPort();
    TlsContext slot;
    double ours = 0, curl = 0;
    for (auto _ : state) {
        double o = Ours(nPort, fTls, slot, body);
        double c = Curl(nPort, fTls, *server);
        if (o < 0 || c < 0) {
            state.SkipWithError(o < 0 ? "our client failed" : "curl failed");
            return;
        }
        state.SetIterationTime(o);
        ours += o, curl += c;
    }
    double n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters["curl_ms"] = curl / n * 1000;
    state.counters["ratio"] = ours / curl;
}
BENCHMARK(BM_PutGet)->ArgName("tls")->Arg(0)->Arg(1)->UseManualTime()->Iterations(50);

} // namespace
} // namespace brindle

BENCHMARK_MAIN();
