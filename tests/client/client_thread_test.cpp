// ClientThread against a server scripted packet by packet on a loopback
// socket: log-in, settings transfer, image reception, requests, clocks, and
// what a hostile or broken server can and cannot do to the client.
#include "client/client_test_support.h"
#include "client/connections/client_thread.h"
#include "client/connections/reception.h"
#include "common/error_codes.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "protocol/scrambler.h"
#include "support/file_text.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::ScriptedServer;
using test::TestImage;
using test::WaitUntil;

constexpr uint8_t kChallenge[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

class ClientThreadTest : public test::ClientContextTest {
  protected:
    void TearDown() override {
        if (psp != nullptr) {
            psp->fStop = 1;
            server.WaitClosed(3000);
        }
        ClientContextTest::TearDown();
    }

    // Starts the thread and takes its connection and connect request.
    void Connect() {
        if (psp == nullptr)
            psp = CreateServerParams(ctx, "127.0.0.1", server.Port());
        ASSERT_EQ(StartClientThread(ctx, *psp), 0u);
        ASSERT_TRUE(server.Accept()) << Log();
        ASSERT_TRUE(server.Expect(PT_CONNECT));
    }

    void GoOnline(const std::string& settings) {
        server.SendSettings(settings, 100);
        server.SendResult(PT_CONNECT, 0);
        ASSERT_TRUE(WaitUntil([&] { return psp->fOnline.load() == 1; }));
    }

    // The client sees its link fail: it says disconnect and comes back.
    void ExpectReconnect() {
        ASSERT_TRUE(server.WaitClosed());
        ASSERT_TRUE(server.Accept());
        ASSERT_TRUE(server.Expect(PT_CONNECT));
    }

    static size_t Count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
            ++n;
        return n;
    }

    // Makes sure the client's receive pass has run its clocks since the
    // test last moved the clock: the server sends two packets the client
    // only logs, and waits for the second line. The clocks run before each
    // receive, so whatever they send is on the socket before that line.
    void Sync() {
        for (int i = 0; i < 2; ++i) {
            size_t n = Count(Log(), "127.0.0.1からMAC受信");
            server.Send(PT_MAC, {});
            ASSERT_TRUE(WaitUntil([&] { return Count(Log(), "127.0.0.1からMAC受信") > n; }));
        }
    }

    void SaveEntry(const std::string& password, uint64_t stamp) {
        IniWriteKey(ctx.cSettingsFile, "Server", "127.0.0.1",
                    "100007F/24/0/" + StampedSecretToText(password, stamp));
    }

    std::array<uint8_t, 16> Digest(const std::string& password) {
        std::array<uint8_t, 16> digest;
        AuthDigest(password, std::span<const uint8_t, 16>(kChallenge), digest.data());
        return digest;
    }

    // Answers the challenge the server sends and returns the digest given.
    std::array<uint8_t, 16> Challenge(uint64_t stamp) {
        server.SendAuth(kChallenge, stamp);
        std::vector<uint8_t> answer;
        EXPECT_TRUE(server.Expect(PT_AUTH, &answer));
        std::array<uint8_t, 16> digest{};
        if (answer.size() >= 16)
            std::copy(answer.begin(), answer.begin() + 16, digest.begin());
        return digest;
    }

    ScriptedServer server;
    ServerParams* psp = nullptr;
};

std::vector<std::string> FilesUnder(const std::string& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files.push_back(fs::relative(entry.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(ClientThreadTest, SettingsBecomeTheServerFileAndImagesAreStoredByteForByte) {
    Connect();
    GoOnline(test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}, {"/dev/cam-b", "../x"}}));

    std::string ini = test::ReadFileText(psp->cServerIni);
    EXPECT_NE(ini.find("PathList=/dev/cam-a|/dev/cam-b|"), std::string::npos);
    EXPECT_NE(ini.find("Count=2"), std::string::npos);
    EXPECT_NE(ini.find("NoSleep=Yes"), std::string::npos);
    EXPECT_EQ(ini.find("Port="), std::string::npos); // only the camera keys are kept
    ASSERT_EQ(psp->cameras.size(), 2u);
    EXPECT_EQ(psp->cameras[1].nCameraId, 2);
    EXPECT_EQ(psp->cameras[0].formats.size(), 2u);
    EXPECT_EQ(psp->cameras[0].nFormat, 1);
    EXPECT_EQ(psp->nCrypt, 3);
    EXPECT_TRUE(psp->fNoSleep);
    EXPECT_FALSE(fs::exists(ServerTempPath(ctx.cDataFolder, "127.0.0.1", psp->nPort)));

    // Five records: camera 1, camera 0 and camera 3 (both unknown), camera 2
    // whose folder name tries to climb out of the save folder, and the
    // lowest id of all (no overflow on the way to its table index). Pieces
    // come in the order 3, 1, 2.
    std::vector<TestImage> images(5);
    images[0] = {test::FileTimeOf(2024, 5, 6, 7, 8, 9, 10), 1, test::TestJpeg(64, 48, 10), 7, 1};
    images[1] = {test::FileTimeOf(2024, 5, 6, 7, 8, 9, 20), 0, test::TestJpeg(8, 8, 0), 0, 0};
    images[2] = {test::FileTimeOf(2024, 5, 6, 7, 8, 9, 30), 3, test::TestJpeg(8, 8, 0), 0, 0};
    images[3] = {test::FileTimeOf(2024, 5, 6, 23, 59, 59, 999), 2, test::TestJpeg(32, 24, 90), 2,
                 0};
    images[4] = {test::FileTimeOf(2024, 5, 6, 7, 8, 9, 40), INT32_MIN, test::TestJpeg(8, 8, 0), 0,
                 0};
    std::vector<uint8_t> set = test::ImageSetBytes(images);
    server.SendImageSet(set, set.size() / 3 + 1, {3, 1, 2});
    ASSERT_TRUE(WaitUntil([&] { return host.nPictures.load() == 2; }));

    std::string root = dir.File("images");
    EXPECT_EQ(FilesUnder(root),
              (std::vector<std::string>{"127.0.0.1/..x/20240506/235959-999.jpg",
                                        "127.0.0.1/Cam_A/20240506/070809-010.jpg"}));
    std::string stored = test::ReadFileText(root + "/127.0.0.1/Cam_A/20240506/070809-010.jpg");
    EXPECT_EQ(stored, std::string(images[0].jpeg.begin(), images[0].jpeg.end()));
    stored = test::ReadFileText(root + "/127.0.0.1/..x/20240506/235959-999.jpg");
    EXPECT_EQ(stored, std::string(images[3].jpeg.begin(), images[3].jpeg.end()));
    EXPECT_EQ(psp->cameras[0].nSent, 7u);
    EXPECT_EQ(psp->cameras[0].nAbandoned, 1u);
    std::string log = Log();
    EXPECT_NE(log.find("サーバ127.0.0.1の受信画像カメラ番号#0不正"), std::string::npos);
    EXPECT_NE(log.find("サーバ127.0.0.1の受信画像カメラ番号#3不正"), std::string::npos);
    EXPECT_NE(log.find("サーバ127.0.0.1の受信画像カメラ番号#-2147483648不正"), std::string::npos);

    ClientViewer* viewer = GetImage(ctx, psp, 0);
    std::lock_guard<std::mutex> guard(ctx.lock);
    EXPECT_EQ(viewer->picture.nWidth, 64);
    EXPECT_EQ(viewer->picture.nHeight, 48);
    EXPECT_EQ(viewer->picture.nStride, 192u);
}

TEST_F(ClientThreadTest, SavingSwitchedOffStoresNothingButStillShows) {
    ctx.fSave = false;
    Connect();
    GoOnline(test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}}));
    server.SendImageSet(test::ImageSetBytes({{test::FileTimeOf(2024, 1, 2, 3, 4, 5, 6), 1,
                                              test::TestJpeg(16, 16, 1), 1, 0}}),
                        60000);
    ASSERT_TRUE(WaitUntil([&] { return host.nPictures.load() == 1; }));
    EXPECT_TRUE(FilesUnder(dir.File("images")).empty());
}

TEST_F(ClientThreadTest, ImagesBeforeTheSettingsTransferAreIgnored) {
    Connect();
    std::vector<uint8_t> set = test::ImageSetBytes(
        {{test::FileTimeOf(2024, 1, 2, 3, 4, 5, 6), 1, test::TestJpeg(16, 16, 1), 1, 0}});
    server.SendImageSet(set, 60000);
    GoOnline(test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}}));
    server.SendImageSet(set, 60000);
    ASSERT_TRUE(WaitUntil([&] { return host.nPictures.load() == 1; }));
    EXPECT_EQ(FilesUnder(dir.File("images")).size(), 1u);
}

// Broken sequences from the server drop the link; the client connects anew.
TEST_F(ClientThreadTest, BrokenSequencesDropTheLinkAndTheClientComesBack) {
    Connect();
    std::string settings = test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}});
    server.SendSettings(settings, 100, {1, 2, 2});
    ExpectReconnect();
    EXPECT_EQ(psp->fOnline.load(), 0);
    // The partly written file stays until the next transfer overwrites it.
    EXPECT_TRUE(fs::exists(ServerTempPath(ctx.cDataFolder, "127.0.0.1", psp->nPort)));

    GoOnline(settings);
    std::vector<uint8_t> set = test::ImageSetBytes(
        {{test::FileTimeOf(2024, 1, 2, 3, 4, 5, 6), 1, test::TestJpeg(64, 64, 1), 1, 0}});
    server.SendImageSet(set, set.size() / 2 + 1, {1, 1});
    ExpectReconnect();
    EXPECT_NE(Log().find("カメラ画像受信シーケンスエラー1/2"), std::string::npos);

    GoOnline(settings);
    server.SendImageSet(set, set.size() / 2 + 1, {3});
    ExpectReconnect();

    // A piece whose stated length runs past its packet is refused likewise.
    GoOnline(settings);
    // Piece 1 of 1 with a chunk length of 65,535 in a 24-byte payload.
    std::vector<uint8_t> piece(24, 0);
    piece[0] = 1;
    piece[4] = 1;
    piece[8] = 0xFF;
    piece[9] = 0xFF;
    server.Send(PT_IMAGE, piece);
    ExpectReconnect();
    EXPECT_TRUE(FilesUnder(dir.File("images")).empty());
}

TEST_F(ClientThreadTest, ServerThatClosesOrDisconnectsIsConnectedAgain) {
    Connect();
    GoOnline(test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}}));
    server.Close();
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Expect(PT_CONNECT));
    EXPECT_NE(Log().find("サーバ127.0.0.1から切断"), std::string::npos);
    GoOnline(test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}}));
    server.Send(PT_DISCONNECT, {});
    ExpectReconnect();
}

TEST_F(ClientThreadTest, FirstChallengeWithoutPasswordAsksOnceAndSavesIt) {
    host.cAnswer = "open sesame";
    Connect();
    EXPECT_EQ(Challenge(0x1234), Digest("open sesame"));
    EXPECT_EQ(host.nPasswordAsks.load(), 1);
    GoOnline(test::ServerSettingsText({}));
    EXPECT_EQ(psp->cameras.size(), 0u);
    EXPECT_NE(test::ReadFileText(psp->cServerIni).find("Count=0"), std::string::npos);

    std::string entry;
    IniReadKey(ctx.cSettingsFile, "Server", "127.0.0.1", entry);
    SavedEntry saved = ParseSavedEntry(entry, false);
    EXPECT_EQ(saved.cPassword, "open sesame");
    EXPECT_EQ(saved.qwPasswordStamp, 0x1234u);
    EXPECT_EQ(saved.dwAddress, test::Ip("127.0.0.1"));
}

TEST_F(ClientThreadTest, RefusedPasswordVouchedForByTheSavedStampRebuildsWithoutAsking) {
    SaveEntry("secret", 0x55);
    Connect();
    EXPECT_EQ(Challenge(0x55), Digest("secret"));
    server.SendResult(PT_AUTH, ERR_AUTH_FAILED);
    ExpectReconnect();
    EXPECT_EQ(host.nPasswordAsks.load(), 0);
}

// A refused password with a new stamp asks; the answer goes out on the same
// link. The digest is over the exact bytes, so an answer that differs only in
// letter case is a new password too (a mis-cased saved one can be corrected).
TEST_F(ClientThreadTest, RefusedPasswordWithANewStampAsksAndTriesAgainOnTheSameLink) {
    struct Case {
        const char* answer;
        const char* used;
    };
    for (Case c : {Case{"better", "better"}, Case{"SECRET", "SECRET"}}) {
        SCOPED_TRACE(c.answer);
        SaveEntry("secret", 0x55);
        host.cAnswer = c.answer;
        host.nPasswordAsks = 0;
        Connect();
        EXPECT_EQ(Challenge(0x66), Digest("secret"));
        server.SendResult(PT_AUTH, ERR_AUTH_FAILED);
        ASSERT_TRUE(server.Expect(PT_CONNECT));
        EXPECT_EQ(host.nPasswordAsks.load(), 1);
        EXPECT_EQ(Challenge(0x66), Digest(c.used));
        GoOnline(test::ServerSettingsText({}));
        psp->fStop = 1;
        server.WaitClosed();
        StopClientThreads(ctx);
    }
}

TEST_F(ClientThreadTest, CancelledPasswordDialogEndsTheThread) {
    host.fCancelPassword = true;
    Connect();
    server.SendAuth(kChallenge, 1);
    ASSERT_TRUE(server.WaitClosed());
    ASSERT_TRUE(WaitUntil([&] { return psp->dwThreadId.load() == 0; }));
    EXPECT_EQ(psp->fStop.load(), 1);
}

TEST_F(ClientThreadTest, EchoEveryTwoMinutesAndSilenceTearsDownAfterAMinute) {
    Connect();
    GoOnline(test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}}));
    clock.Advance(120000);
    Sync();
    EXPECT_FALSE(server.Expect(PT_ECHO, nullptr, 50));
    clock.Advance(1);
    Sync();
    ASSERT_TRUE(server.Expect(PT_ECHO, nullptr, 50));
    // The echo expects an answer; none comes.
    clock.Advance(60000);
    Sync();
    EXPECT_TRUE(host.Messages().empty());
    clock.Advance(1);
    ExpectReconnect();
    std::vector<std::string> messages = host.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "サーバ127.0.0.1から応答がないため切断・再接続します。");
}

// A property operation that changes nothing gets no answer; only the open
// is waited for.
TEST_F(ClientThreadTest, OnlyThePropertyOpenWaitsForAnAnswer) {
    Connect();
    GoOnline(test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}}));
    auto request = [&](int32_t nKind) {
        {
            std::lock_guard<std::mutex> guard(ctx.lock);
            psp->propertyRequest.nKind = nKind;
            psp->propertyRequest.anFields = {7, 42, 0, 8, 200};
        }
        psp->nPropertyRequest = 1;
        ASSERT_TRUE(server.Expect(PT_PROPERTY));
    };
    request(6);
    Sync(); // the request's pass is over before the clock moves
    clock.Advance(60001);
    Sync();
    EXPECT_TRUE(host.Messages().empty());
    EXPECT_EQ(psp->fOnline.load(), 1);
    request(0);
    Sync();
    clock.Advance(60001);
    ExpectReconnect();
}

TEST_F(ClientThreadTest, AnsweredEchoKeepsTheLink) {
    Connect();
    GoOnline(test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}}));
    clock.Advance(120001);
    ASSERT_TRUE(server.Expect(PT_ECHO));
    server.Send(PT_ECHO, {});
    Sync();
    clock.Advance(119000);
    Sync();
    EXPECT_TRUE(host.Messages().empty());
    EXPECT_EQ(psp->fOnline.load(), 1);
}

TEST_F(ClientThreadTest, SilenceDuringTheHandshakeReconnects) {
    Connect();
    clock.Advance(60001);
    ExpectReconnect();
    EXPECT_NE(Log().find("再接続開始"), std::string::npos);
}

// Time spent suspended does not count; while suspended nothing is judged.
TEST_F(ClientThreadTest, TimeSpentSuspendedDoesNotCount) {
    Connect();
    GoOnline(test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}}));
    clock.Advance(1000);
    ctx.nSuspendTick = clock.Tick();
    clock.Advance(500000);
    Sync();
    EXPECT_FALSE(server.Expect(PT_ECHO, nullptr, 50)); // suspended: no clock is judged
    ctx.nResumeTick = clock.Tick();
    clock.Advance(119000); // 120 s awake since going online
    Sync();
    EXPECT_FALSE(server.Expect(PT_ECHO, nullptr, 50));
    clock.Advance(1);
    Sync();
    ASSERT_TRUE(server.Expect(PT_ECHO, nullptr, 50));
    // The echo's answer clock started after the resume: nothing is taken
    // off it, so a minute of silence still ends the link.
    clock.Advance(60001);
    ExpectReconnect();
}

TEST_F(ClientThreadTest, CameraRequestCarriesItsFieldsAndAServerErrorIsShown) {
    Connect();
    GoOnline(test::ServerSettingsText({{"/dev/cam-a", "Cam_A"}, {"/dev/cam-b", "Cam_B"}}));
    psp->cameraRequest.nFlags = REQUEST_FLAG_USE | REQUEST_FLAG_SAVE;
    psp->cameraRequest.nCycle = 5;
    psp->cameraRequest.nQuality = 90;
    psp->cameraRequest.cFont = "-12,0,0,0,400,0,0,0,0,0,0,0,0,Sans";
    psp->nCameraRequest = 2;
    std::vector<uint8_t> payload;
    ASSERT_TRUE(server.Expect(PT_REQUEST, &payload));
    ASSERT_EQ(payload.size(), CAMERA_REQUEST_SIZE);
    EXPECT_EQ(payload[0], 2);
    EXPECT_EQ(payload[4], REQUEST_FLAG_USE | REQUEST_FLAG_SAVE);
    EXPECT_EQ(payload[12], 5);
    EXPECT_EQ(payload[20], 90);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&payload[40])),
              "-12,0,0,0,400,0,0,0,0,0,0,0,0,Sans");
    EXPECT_TRUE(WaitUntil([&] { return psp->nCameraRequest.load() == 0; }));
    server.SendResult(PT_REQUEST, ERR_NO_SUCH_CAMERA);
    ASSERT_TRUE(WaitUntil([&] { return !host.Messages().empty(); }));
    EXPECT_EQ(host.Messages()[0], "画像要求時にサーバでエラーが発生しました(0x20000101)!");
    EXPECT_EQ(psp->fOnline.load(), 1); // the link stays up
}

// A saved entry with address, host bits and Ethernet address wakes the
// server once before the first attempt; a short or incomplete one does not.
// A look-up that finds nothing in the neighbour table keeps the known
// Ethernet address.
TEST_F(ClientThreadTest, SavedEntryWithAllThreeValuesWakesTheServerOnce) {
    struct Case {
        const char* entry;
        bool wakes;
        const char* after;
    } cases[] = {
        {"100007F/8/665544332211//0", true, "100007F/24/665544332211//0"},
        {"100007F/8/665544332211/", false, "100007F/24/665544332211//0"}, // fewer than four fields
        {"100007F/0/665544332211//0", false, "100007F/24/665544332211//0"},
        {"100007F/8/0//0", false, "100007F/24/0//0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        IniWriteKey(ctx.cSettingsFile, "Server", "127.0.0.1", c.entry);
        network.sent.clear();
        Connect();
        ASSERT_EQ(network.sent.size(), c.wakes ? 1u : 0u);
        if (c.wakes) {
            EXPECT_EQ(network.sent[0].dwDestination, test::Ip("127.0.0.255"));
            EXPECT_EQ(network.sent[0].nPort, WAKE_PORT);
            auto magic = MagicPacket(0x665544332211);
            EXPECT_EQ(network.sent[0].bytes, std::vector<uint8_t>(magic.begin(), magic.end()));
        }
        std::string entry;
        IniReadKey(ctx.cSettingsFile, "Server", "127.0.0.1", entry);
        EXPECT_EQ(entry, c.after);
        psp->fStop = 1;
        server.WaitClosed();
        StopClientThreads(ctx);
    }
}

// The neighbour table learns the server on connecting: what the look-up
// before the connect missed is asked again after it and saved.
TEST_F(ClientThreadTest, EthernetAddressMissedBeforeTheConnectIsLearnedAfterIt) {
    network.neighbours = {{test::Ip("127.0.0.1"), 0x665544332211}};
    network.nMisses = 1;
    Connect();
    ASSERT_TRUE(WaitUntil([&] { return psp->qwMacAddress == 0x665544332211u; }));
    std::string entry;
    IniReadKey(ctx.cSettingsFile, "Server", "127.0.0.1", entry);
    EXPECT_EQ(entry, "100007F/24/665544332211//0");
}

} // namespace
} // namespace brindle
