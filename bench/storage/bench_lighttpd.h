// What the storage benchmarks share: one lighttpd of the test fixture for
// the whole run, incompressible file bytes, and curl's PUT and GET of a file
// on one connection as the yardstick.
#pragma once

#include "storage/lighttpd_fixture.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace brindle::bench {

// The run's server, started at the first call with `folder` (below its
// root, may be empty) made; null when it did not start (said on stderr).
inline test::LighttpdServer* LighttpdForBench(const char* program, const char* folder = "") {
    static std::unique_ptr<test::LighttpdServer> server;
    static std::string failure;
    if (!server) {
        server = std::make_unique<test::LighttpdServer>();
        failure = server->Start();
        if (!failure.empty())
            std::fprintf(stderr, "%s: %s\n", program, failure.c_str());
        else if (*folder != '\0')
            std::filesystem::create_directories(server->Dir().File(std::string("root/") + folder));
    }
    return failure.empty() ? server.get() : nullptr;
}

// `n` bytes that do not compress, the same in every run.
template <class Bytes> Bytes NoiseBytes(size_t n) {
    Bytes bytes(n, 0);
    uint32_t x = 12345;
    for (auto& c : bytes) {
        x = x * 1103515245 + 12345;
        c = static_cast<typename Bytes::value_type>(x >> 24);
    }
    return bytes;
}

// curl's PUT of `localFile` to /open/curl.bin and GET of it back on one
// connection (the GET after --next); the sum of the two time_total figures
// in seconds, or negative on failure.
inline double CurlPutGet(const test::LighttpdServer& server, bool fTls,
                         const std::string& localFile) {
    std::string url = std::string(fTls ? "https" : "http") + "://127.0.0.1:" +
                      std::to_string(fTls ? server.TlsPort() : server.HttpPort()) +
                      "/open/curl.bin";
    std::string common =
        " --http1.1 -s -o /dev/null -w '%{time_total}\\n' --cacert " + server.CaFile() + " ";
    std::string command = "curl" + common + "-T " + localFile + " " + url + " --next" + common + url;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    double total = 0, t = 0;
    int n = 0;
    while (std::fscanf(pipe, "%lf", &t) == 1)
        total += t, ++n;
    return ::pclose(pipe) == 0 && n == 2 ? total : -1;
}

} // namespace brindle::bench
