// A relayed client connection through a real WebDAV server (lighttpd,
// Digest over TLS): the storage relay worker on both sides, a password
// log-in, then files whose check values chain from the log-in; a file that
// breaks the chain ends the connection.
#include "common/little_endian.h"
#include "server/scripted_client.h"
#include "server/server_fixture.h"
#include "storage/account_form.h"
#include "storage/lighttpd_fixture.h"
#include "storage/relay_worker.h"
#include "support/scoped_env.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brindle::test {
namespace {

AccountPtr RelayAccount(AccountStore& store, const LighttpdServer& lighttpd) {
    AccountForm form;
    form.cUri = "https://127.0.0.1:" + std::to_string(lighttpd.TlsPort()) + "/digest/relayed/";
    form.cUser = LighttpdServer::kUser;
    form.cPasswd = form.cPasswdAgain = LighttpdServer::kPassword;
    AccountPtr account;
    EXPECT_EQ(SaveAccountForm(store, form, account), 0u);
    return account;
}

RelayWorkerOptions WorkerOptions(bool fServer, const char* name) {
    RelayWorkerOptions options;
    options.fServer = fServer;
    options.cComputerName = name;
    options.fetchBudget = [] { return 600000u; };
    return options;
}

TEST(StorageRelayedConnection, PasswordLoginAndChainedFilesThroughWebDav) {
    LighttpdServer lighttpd;
    if (std::string why = lighttpd.Start(); !why.empty())
        GTEST_SKIP() << why;
    ScopedEnv trust("SSL_CERT_FILE", lighttpd.CaFile().c_str());
    std::filesystem::create_directories(lighttpd.Dir().File("root/digest/relayed"));
    ServerFixture server;
    server.context.SetPassword(ServerPassword{"secret", 0x01DA0203040506ull});
    TempDir data;
    AccountStore hostStore(data.File("BrindleHost.ini")), viewStore(data.File("BrindleView.ini"));

    std::mutex askedLock;
    std::vector<std::string> asked;
    RelayWorkerOptions hostOptions = WorkerOptions(true, "host1");
    hostOptions.onPeer = [&](const std::string& name) {
        std::lock_guard lock(askedLock);
        asked.push_back(name);
    };
    RelayWorker host(RelayAccount(hostStore, lighttpd), hostOptions);
    RelayWorker view(RelayAccount(viewStore, lighttpd), WorkerOptions(false, "pc2"));
    ASSERT_EQ(host.Start(), 0u);
    ASSERT_EQ(view.Start(), 0u);
    auto serverEntry = std::make_shared<RelayPeer>();
    serverEntry->cName = "HOST1";
    serverEntry->fRunning = true;
    PacketConnection conn;
    view.Attach(conn, serverEntry);

    auto send = [&](uint16_t nType, std::vector<uint8_t> payload) {
        std::vector<uint8_t> buffer(16 + payload.size() + 32);
        std::copy(payload.begin(), payload.end(), buffer.begin() + 16);
        return SendPacket(conn, nType, buffer, uint32_t(payload.size()), SEND_ENCIPHER, false);
    };
    std::vector<uint8_t> packet;
    auto receive = [&](uint16_t& nType, std::vector<uint8_t>& payload) {
        bool fGot = WaitUntil(
            [&] {
                uint32_t nError = 0;
                return ReceivePacket(conn, PacketSide::Client, packet, nError) > 0;
            },
            60000, 100);
        if (fGot) {
            PacketHeader header = PacketHeaderRead(packet.data());
            nType = header.type;
            payload.assign(packet.begin() + 16, packet.begin() + 16 + header.length);
        }
        return fGot;
    };

    // The client's connect finds no connection: the server is asked for
    // one, and starts it as its main window does.
    ASSERT_EQ(send(PT_CONNECT, {}), 0u);
    PacketConnection none;
    ASSERT_TRUE(WaitUntil(
        [&] {
            host.Poll(none);
            std::lock_guard lock(askedLock);
            return !asked.empty();
        },
        60000, 100));
    EXPECT_EQ(asked.front(), "PC2");
    ClientConnection* record = nullptr;
    ASSERT_EQ(server.manager.StartRelayed("PC2", &host, RelayIntervals{1, 1}, &record,
                                          [&](ClientConnection& r) {
                                              auto peer = std::make_shared<RelayPeer>();
                                              peer->cName = "PC2";
                                              r.relayPeer = peer;
                                              host.Attach(r.packet, peer);
                                          }),
              0u);
    ASSERT_NE(record, nullptr);

    uint16_t nType = 0;
    std::vector<uint8_t> payload;
    ASSERT_TRUE(receive(nType, payload));
    ASSERT_EQ(nType, PT_AUTH);
    ASSERT_GE(payload.size(), 32u);
    uint8_t digest[32] = {};
    ClientDigest("secret", payload.data(), digest);
    ASSERT_EQ(send(PT_AUTH, std::vector<uint8_t>(digest, digest + 32)), 0u);
    do {
        ASSERT_TRUE(receive(nType, payload));
    } while (nType == PT_CONNECT);
    ASSERT_EQ(nType, PT_RESULT);
    EXPECT_EQ(LoadLe32(payload.data() + 4), 0u);
    EXPECT_TRUE(record->relayPeer->fLoggedIn);

    // Online: every file carries the next check value of the chain.
    RelayCheckValue chain;
    std::copy(digest, digest + 16, chain.begin());
    serverEntry->SetLogin("secret", chain);
    serverEntry->fLoggedIn = true;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(send(PT_ECHO, {1, 2, 3}), 0u);
        EXPECT_TRUE(WaitUntil([&] { return record->relayPeer->Chain() == serverEntry->Chain(); },
                              60000, 100));
    }
    EXPECT_TRUE(record->Running());

    serverEntry->SetChain(RelayCheckValue{9});
    ASSERT_EQ(send(PT_ECHO, {1, 2, 3}), 0u);
    EXPECT_TRUE(WaitUntil([&] { return !record->Running(); }, 60000, 100));
    server.manager.StopAll();
    host.Close();
    view.Close();
}

} // namespace
} // namespace brindle::test
