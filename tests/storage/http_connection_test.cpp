// The connection against scripted peers on loopback: time rules on an
// injected clock, the close classes, abandoning a request, and sending to a
// peer that went away.
#include "storage/http_connection.h"

#include "scripted_http.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace brindle {
namespace {

using test::ReadUntil;
using test::ScriptedHttpServer;
using test::SendText;

// A clock that moves on by a fixed step each time it is read.
class SteppingClock : public Clock {
  public:
    explicit SteppingClock(uint32_t nStep) : nStep_(nStep) {}
    uint32_t Tick() const override { return nTick_ += nStep_; }
    SystemTime LocalNow() const override { return {}; }

  private:
    uint32_t nStep_;
    mutable std::atomic<uint32_t> nTick_{1};
};

const std::string kGet = "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

uint32_t OpenPlain(HttpConnection& connection, uint16_t nPort) {
    TlsContext none;
    return connection.Open("127.0.0.1", nPort, 0, false, none);
}

TEST(HttpConnection, TimeOutStallAndNoAnswerAreToldApart) {
    struct Case {
        const char* name;
        std::string reply; // sent after the request, then the peer closes ("" + hold: silent)
        bool fHold;        // keep the connection open and silent
        uint32_t nError;
    };
    const Case cases[] = {
        {"silent peer times out", "", true, WSAETIMEDOUT_CODE},
        {"close after part of the header", "HTTP/1.1 200 OK\r\nContent-Le", false,
         ERR_RECV_STALLED},
        {"close inside the body", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", false,
         ERR_RECV_STALLED},
        {"close without a byte", "", false, ERR_NO_RESPONSE},
        {"not HTTP", "SSH-2.0-x\r\n\r\n", true, ERR_NOT_HTTP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> fRelease{false};
        ScriptedHttpServer server([&](int fd, int) {
            ReadUntil(fd, "\r\n\r\n");
            SendText(fd, c.reply);
            if (c.fHold)
                test::WaitUntil([&] { return fRelease.load(); });
            return false;
        });
        // Only the silent peer sees time pass: the others must not time out
        // however slowly the machine runs.
        SteppingClock clock(c.fHold && c.nError == WSAETIMEDOUT_CODE ? 10000 : 0);
        HttpConnection connection(clock);
        ASSERT_EQ(OpenPlain(connection, server.Port()), 0u);
        uint32_t nError = 0;
        ASSERT_EQ(HttpSend(connection, "127.0.0.1", kGet, nError), static_cast<long>(kGet.size()));
        uint32_t nLimit = 60000, nEnd = 0;
        HttpAnswer answer;
        EXPECT_EQ(HttpReceive(connection, "127.0.0.1", answer, nError, &nLimit, &nEnd), -1);
        EXPECT_EQ(nError, c.nError);
        EXPECT_EQ(nLimit, c.nError == WSAETIMEDOUT_CODE ? 70000u : 60000u);
        EXPECT_NE(nEnd, 0u);
        EXPECT_FALSE(connection.IsOpen());
        fRelease = true;
    }
}

TEST(HttpConnection, KeepAliveDecidesReuse) {
    ScriptedHttpServer server([](int fd, int) {
        ReadUntil(fd, "\r\n\r\n");
        SendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        ReadUntil(fd, "\r\n\r\n");
        SendText(fd, "HTTP/1.1 401 Unauthorized\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
        return false;
    });
    HttpConnection connection;
    ASSERT_EQ(OpenPlain(connection, server.Port()), 0u);
    uint32_t nError = 0;
    HttpAnswer answer;
    ASSERT_GT(HttpSend(connection, "h", kGet, nError), 0);
    ASSERT_GT(HttpReceive(connection, "h", answer, nError), 0);
    EXPECT_EQ(answer.body, "ok");
    EXPECT_TRUE(connection.Reusable());
    ASSERT_GT(HttpSend(connection, "h", kGet, nError), 0);
    ASSERT_GT(HttpReceive(connection, "h", answer, nError), 0);
    EXPECT_EQ(answer.nStatus, 401);
    EXPECT_FALSE(connection.Reusable());
}

TEST(HttpConnection, WakeAbandonsAWaitingRequest) {
    std::atomic<bool> fRelease{false};
    ScriptedHttpServer server([&](int fd, int) {
        ReadUntil(fd, "\r\n\r\n");
        test::WaitUntil([&] { return fRelease.load(); });
        return false;
    });
    HttpWake wake;
    HttpConnection connection(SystemClock(), &wake);
    ASSERT_EQ(OpenPlain(connection, server.Port()), 0u);
    uint32_t nError = 0;
    ASSERT_GT(HttpSend(connection, "h", kGet, nError), 0);
    std::thread waker([&] { wake.Wake(); });
    HttpAnswer answer;
    uint32_t nLimit = 600000;
    EXPECT_EQ(HttpReceive(connection, "h", answer, nError, &nLimit), -1);
    EXPECT_EQ(nError, WSAEINTR_CODE);
    EXPECT_EQ(nLimit, 600000u);
    waker.join();
    fRelease = true;
}

TEST(HttpConnection, PeerClosingMidUploadFailsCleanly) {
    // Without MSG_NOSIGNAL the write to the closed socket would end the
    // test program with SIGPIPE.
    ScriptedHttpServer server([](int fd, int) {
        ReadUntil(fd, "\r\n\r\n");
        ::shutdown(fd, SHUT_RDWR);
        return false;
    });
    HttpConnection connection;
    ASSERT_EQ(OpenPlain(connection, server.Port()), 0u);
    std::string upload = "PUT /f HTTP/1.1\r\nHost: h\r\nContent-Length: 8388608\r\n\r\n" +
                         std::string(8u << 20, 'x');
    uint32_t nError = 0;
    EXPECT_EQ(HttpSend(connection, "h", upload, nError), -1);
    EXPECT_TRUE(nError == WSAECONNRESET_CODE || nError == WSAESHUTDOWN_CODE ||
                nError == WSAECONNABORTED_CODE)
        << std::hex << nError;
    EXPECT_FALSE(connection.IsOpen());
}

TEST(HttpConnection, RefusedPortAndUnknownKindFail) {
    uint16_t nPort = test::FreeLoopbackPort();
    HttpConnection connection;
    EXPECT_EQ(OpenPlain(connection, nPort), WSAECONNREFUSED_CODE);
    TlsContext slot;
    EXPECT_EQ(connection.Open("127.0.0.1", nPort, 9, false, slot), ERR_TLS_INIT);
}

} // namespace
} // namespace brindle
