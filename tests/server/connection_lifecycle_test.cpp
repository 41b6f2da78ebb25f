// Connections coming and going: stand-down at a new log-in, reuse of a
// peer's record, the disconnect handshake, the listener and closing.
#include "common/error_codes.h"
#include "server/scripted_client.h"
#include "server/server_fixture.h"
#include "support/loopback.h"

#include <gtest/gtest.h>
#include <thread>

namespace brindle::test {
namespace {

// Answers the server's disconnect as a client does, then waits for the close.
void AnswerDisconnect(ScriptedClient& client) {
    ReceivedPacket packet;
    ASSERT_TRUE(client.ReceiveType(PT_DISCONNECT, packet));
    client.SendEmpty(PT_DISCONNECT);
    EXPECT_TRUE(client.WaitClosed(5000));
}

TEST(ConnectionLifecycle, SecondLogInStandsTheFirstDown) {
    ServerFixture server;
    uint16_t nPort = server.Listen();
    ScriptedClient first;
    ScriptedClient second;
    ASSERT_TRUE(first.Connect(nPort, "127.0.0.2"));
    ASSERT_EQ(first.Login("").nResult, 0u);
    ASSERT_TRUE(second.Connect(nPort, "127.0.0.3"));
    ASSERT_EQ(second.Login("").nResult, 0u);
    AnswerDisconnect(first);
    ASSERT_TRUE(WaitUntil([&] { return !server.PeerRunning("127.0.0.2"); }));
    // The one that stood down left the status to the new client.
    EXPECT_EQ(server.shared.nConnectionStatus.load(), CONNECTION_CONNECTED);
    server.Queue(0, {1, 2, 3}, 7);
    std::vector<BatchRecord> records;
    ASSERT_TRUE(second.ReceiveBatch(records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].ftCapture, 7u);
}

TEST(ConnectionLifecycle, ImagesLeftInTheQueueGoToTheNextClient) {
    ServerFixture server;
    uint16_t nPort = server.Listen();
    ScriptedClient first;
    ASSERT_TRUE(first.Connect(nPort, "127.0.0.2"));
    ASSERT_EQ(first.Login("").nResult, 0u);
    ASSERT_EQ(first.SendEmpty(PT_DISCONNECT), 0u);
    ASSERT_TRUE(first.WaitClosed(5000));
    ASSERT_TRUE(WaitUntil([&] { return !server.PeerRunning("127.0.0.2"); }));
    EXPECT_EQ(server.shared.nConnectionStatus.load(), CONNECTION_DISCONNECTED);
    server.Queue(0, {1}, 1);
    server.Queue(1, {2}, 2);
    ScriptedClient second;
    ASSERT_TRUE(second.Connect(nPort, "127.0.0.3"));
    ASSERT_EQ(second.Login("").nResult, 0u);
    std::vector<BatchRecord> records;
    ASSERT_TRUE(second.ReceiveBatch(records));
    ASSERT_GE(records.size(), 1u);
    EXPECT_EQ(records[0].ftCapture, 1u);
}

TEST(ConnectionLifecycle, SameAddressAgainStopsTheOldThreadAndReusesItsRecord) {
    ServerFixture server;
    uint16_t nPort = server.Listen();
    ScriptedClient old;
    ASSERT_TRUE(old.Connect(nPort));
    ASSERT_EQ(old.Login("").nResult, 0u);
    std::thread answer([&] { AnswerDisconnect(old); });
    ScriptedClient again;
    ASSERT_TRUE(again.Connect(nPort));
    EXPECT_EQ(again.Login("").nResult, 0u);
    answer.join();
    std::vector<ConnectionInfo> records = server.manager.Snapshot();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].fRunning);
    EXPECT_EQ(records[0].nLoginState, LOGIN_DONE);
}

TEST(ConnectionLifecycle, DisconnectWaitEndsAtOnceWhenThePeerCloses) {
    // The clock stands still, so only the peer's close can end the wait.
    ManualClock clock;
    ServerFixture server(clock);
    uint16_t nPort = server.Listen();
    ScriptedClient first;
    ScriptedClient second;
    ASSERT_TRUE(first.Connect(nPort, "127.0.0.2"));
    ASSERT_EQ(first.Login("").nResult, 0u);
    ASSERT_TRUE(second.Connect(nPort, "127.0.0.3"));
    ASSERT_EQ(second.Login("").nResult, 0u);
    ReceivedPacket packet;
    ASSERT_TRUE(first.ReceiveType(PT_DISCONNECT, packet));
    EXPECT_TRUE(first.Quiet(300));
    EXPECT_TRUE(server.PeerRunning("127.0.0.2"));
    first.Close();
    EXPECT_TRUE(WaitUntil([&] { return !server.PeerRunning("127.0.0.2"); }));
}

TEST(ConnectionLifecycle, AFailedLogInElsewhereDoesNotStopTheLoggedInClient) {
    ServerFixture server;
    server.context.SetPassword(ServerPassword{"pw", 0});
    uint16_t nPort = server.Listen();
    ScriptedClient viewer;
    ASSERT_TRUE(viewer.Connect(nPort, "127.0.0.2"));
    ASSERT_EQ(viewer.Login("pw").nResult, 0u);
    {
        ScriptedClient stranger;
        ASSERT_TRUE(stranger.Connect(nPort, "127.0.0.3"));
        ReceivedPacket challenge;
        ASSERT_TRUE(stranger.StartLogin(challenge));
        EXPECT_EQ(challenge.nType, PT_AUTH);
    }
    ASSERT_TRUE(WaitUntil([&] { return !server.PeerRunning("127.0.0.3"); }));
    EXPECT_EQ(server.shared.nConnectionStatus.load(), CONNECTION_CONNECTED);
    server.Queue(0, {5}, 5);
    std::vector<BatchRecord> records;
    ASSERT_TRUE(viewer.ReceiveBatch(records));
    EXPECT_EQ(records.at(0).ftCapture, 5u);
}

TEST(ConnectionLifecycle, ListenerFailureIsLoggedAndReportedOnce) {
    ServerFixture server;
    LoopbackListener busy(0, 1);
    ASSERT_TRUE(busy.Valid());
    uint16_t nPort = busy.Port();

    EXPECT_EQ(server.manager.OpenListener(nPort), WSAEADDRINUSE_CODE);
    EXPECT_EQ(server.manager.ListenerPort(), 0);
    EXPECT_TRUE(server.manager.TakeListenerFailure());
    EXPECT_FALSE(server.manager.TakeListenerFailure());
    EXPECT_NE(server.LogText().find("ソケットバインドに失敗(0x00002740-"), std::string::npos);
    busy.Close();
    EXPECT_EQ(server.manager.OpenListener(nPort), 0u);
    EXPECT_EQ(server.manager.ListenerPort(), nPort);
    server.manager.CloseListener();
    EXPECT_NE(server.LogText().find("を破棄\r\n"), std::string::npos);
}

TEST(ConnectionLifecycle, StopAllEndsEveryConversationAndTheListener) {
    ServerFixture server;
    uint16_t nPort = server.Listen();
    ScriptedClient a;
    ScriptedClient b;
    ASSERT_TRUE(a.Connect(nPort, "127.0.0.2"));
    ASSERT_EQ(a.Login("").nResult, 0u);
    ASSERT_TRUE(b.Connect(nPort, "127.0.0.3"));
    // Accepted, not only queued in the backlog that closing resets.
    ASSERT_TRUE(WaitUntil([&] { return server.PeerRunning("127.0.0.3"); }));
    std::thread answerA([&] { AnswerDisconnect(a); });
    std::thread answerB([&] { AnswerDisconnect(b); });
    server.manager.StopAll();
    answerA.join();
    answerB.join();
    for (const ConnectionInfo& info : server.manager.Snapshot())
        EXPECT_FALSE(info.fRunning) << info.cPeerName;
    ScriptedClient late;
    EXPECT_FALSE(late.Connect(nPort));
}

} // namespace
} // namespace brindle::test
