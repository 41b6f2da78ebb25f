// A relay file's round trip: PUT then GET of a 300 KB file on one
// connection to lighttpd on loopback, plain and TLS, by our client and by
// curl (one process, the GET after --next on the same connection, the two
// time_total figures summed) in the same run. Reported per iteration:
// ours_ms, curl_ms and their ratio (target at most 1.25).
//
// Our client keeps its TLS context between iterations, as an account's slot
// does; each curl process makes its own.
#include "storage/http_connection.h"

#include "bench_lighttpd.h"
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
    return bench::LighttpdForBench("bench_storage");
}

std::string Body() {
    return bench::NoiseBytes<std::string>(FILE_BYTES);
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
        double c = bench::CurlPutGet(*server, fTls, server->Dir().File("body.bin"));
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
