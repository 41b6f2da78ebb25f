// ClientRuntime on an injected clock: the listing and retention tick, and
// connecting by server text.
#include "client/app/client_relay.h"
#include "client/app/client_runtime.h"
#include "client/client_test_support.h"
#include "client/connections/server_params.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "imagestore/image_list.h"
#include "storage/account_form.h"
#include "support/system_time.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::WaitUntil;

class SetClock : public Clock {
  public:
    uint32_t Tick() const override { return 1000; }
    SystemTime LocalNow() const override {
        std::lock_guard<std::mutex> guard(lock_);
        return now_;
    }
    void Set(const SystemTime& now) {
        std::lock_guard<std::mutex> guard(lock_);
        now_ = now;
    }

  private:
    mutable std::mutex lock_;
    SystemTime now_ = test::TimeOf(2024, 5, 6, 10, 0);
};

class ClientRuntimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LogOpen(dir.File("BrindleView.log"));
        IniWriteKey(dir.File("BrindleView.ini"), "Settings", "Folder", dir.File("images"));
        ClientRuntimeOptions options;
        options.cDataFolder = dir.Path();
        options.pHost = &host;
        options.pNetwork = &network;
        options.pClock = &clock;
        options.fWatchPower = false;
        runtime = std::make_unique<ClientRuntime>(options);
        runtime->Start();
    }
    void TearDown() override {
        runtime->Shutdown();
        runtime.reset();
        LogClose();
    }

    void MakeDay(const char* day) {
        fs::create_directories(dir.File("images") + "/10.0.0.9/Cam/" + day);
        test::WriteFileText(dir.File("images") + "/10.0.0.9/Cam/" + day + "/100000-000.jpg", "x");
    }
    bool DayExists(const char* day) {
        return fs::exists(dir.File("images") + "/10.0.0.9/Cam/" + day);
    }

    test::TempDir dir;
    test::TestHost host;
    test::FakeNetwork network;
    SetClock clock;
    test::QuickSleeper sleeper;
    std::unique_ptr<ClientRuntime> runtime;
};

// The first tick of the hour finds no camera table yet; a table loaded later
// in the same hour is listed (and cleaned up) at the next tick, not an hour
// later. Further ticks of that hour leave it alone; a new hour lists again.
TEST_F(ClientRuntimeTest, CameraTableLoadedMidHourIsListedAtTheNextTick) {
    EXPECT_EQ(runtime->SaveFolder(), dir.File("images"));
    runtime->Tick();
    MakeDay("20240101");
    MakeDay("20240505");
    ClientContext& ctx = runtime->Context();
    ServerParams* psp = CreateServerParams(ctx, "10.0.0.9", 12345);
    ASSERT_NE(psp, nullptr);
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        CameraInfo camera;
        camera.cName2 = "Cam";
        camera.nCameraId = 1;
        psp->cameras = {camera};
    }
    clock.Set(test::TimeOf(2024, 5, 6, 10, 5));
    runtime->Tick();
    ASSERT_TRUE(WaitUntil([&] {
        runtime->Tick();
        return !DayExists("20240101");
    }));
    EXPECT_TRUE(DayExists("20240505"));
    // A listing still being read when the hour turns is only read on, so
    // the next hour's listing starts from a finished one.
    ClientViewer* viewer = GetImage(ctx, psp, 0);
    ASSERT_TRUE(WaitUntil([&] {
        runtime->Tick();
        return !IsListing(viewer->entry);
    }));

    MakeDay("20240102");
    runtime->Tick();
    runtime->Tick();
    EXPECT_TRUE(DayExists("20240102"));
    clock.Set(test::TimeOf(2024, 5, 6, 11, 0));
    ASSERT_TRUE(WaitUntil([&] {
        runtime->Tick();
        return !DayExists("20240102");
    }));
}

// A storage-linked server relays through the account of --storage, else
// the one it used last, else the first; an unknown --storage URI, no
// account or one whose Setup is 0 refuses it with the auto-connect line.
TEST_F(ClientRuntimeTest, StorageLinkedServersTakeTheirAccountInOrder) {
    const std::string first = "https://first.example/r/", saved = "https://saved.example/r/";
    {
        AccountStore store(dir.File("BrindleView.ini"));
        for (const std::string& uri : {saved, first}) { // the last saved is first in the list
            AccountForm form;
            form.cUri = uri;
            form.cUser = "u";
            form.cPasswd = form.cPasswdAgain = "p";
            AccountPtr account;
            ASSERT_EQ(SaveAccountForm(store, form, account), 0u);
        }
    }
    ClientRelay relay(runtime->Context(), dir.File("BrindleView.ini"), "pc2");
    ServerParams psp;
    psp.cAddress = "host1";
    struct Case {
        const char* pcSaved;
        std::string uri;
        std::string expected; // empty: refused
    } cases[] = {
        {"", "", first},
        {saved.c_str(), "", saved},
        {"https://gone.example/", "", first},
        {saved.c_str(), first, first},
        {"", "HTTPS://SAVED.EXAMPLE/r/", saved},
        {"", "https://unknown.example/", ""},
    };
    for (const Case& c : cases) {
        psp.cStorage = c.pcSaved;
        AccountLink* link = StorageLinkFor(relay, psp, c.uri);
        EXPECT_EQ(link ? link->Name() : "", c.expected) << c.pcSaved << " " << c.uri;
    }
    relay.Link(first)->Account()->nSetup = 0;
    EXPECT_EQ(StorageLinkFor(relay, psp, ""), nullptr);
    EXPECT_NE(test::ReadFileText(dir.File("BrindleView.log"))
                  .find("サーバhost1のオンラインストレージ設定が不十分なため自動接続を中止"),
              std::string::npos);
}

// A text that names no server is neither connected nor remembered.
TEST_F(ClientRuntimeTest, BadServerTextsAreNotConnectedNorSaved) {
    for (const char* text : {"host:0", "host:70000", "host:-5", "host:x", ":80", "  "}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(runtime->ConnectText(text, true), ConnectResult::kNotAServer);
    }
    EXPECT_EQ(runtime->ConnectText(" storage-box ", true), ConnectResult::kStorageLinked);
    runtime->Context().pSleeper = &sleeper;
    test::ScriptedServer server;
    std::string good = "127.0.0.1:" + std::to_string(server.Port());
    EXPECT_EQ(runtime->ConnectText(good, true), ConnectResult::kStarted);
    EXPECT_EQ(runtime->ConnectText(good, true), ConnectResult::kRunning);
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(runtime->RunningServers(), 1);

    std::string recent;
    IniReadKey(dir.File("BrindleView.ini"), "Settings", "Server", recent);
    EXPECT_EQ(recent, good + "|storage-box");
    runtime->Shutdown();
    EXPECT_EQ(runtime->RunningServers(), 0);
}

} // namespace
} // namespace brindle
