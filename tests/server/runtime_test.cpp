// The runtime driven tick by tick with a hand-moved clock: settings, the
// image road from camera to client, client changes, the listener retry,
// keep-awake, resume, the hourly listing and what its host hears.
#include "common/error_codes.h"
#include "common/ini_file.h"
#include "imagestore/image_list.h"
#include "server/app/server_runtime.h"
#include "server/connections/camera_request.h"
#include "server/scripted_client.h"
#include "server/server_fixture.h"
#include "storage/account_form.h"
#include "storage/relay_worker.h"
#include "support/cycle_gate.h"
#include "support/file_text.h"
#include "support/loopback.h"
#include "support/scoped_env.h"
#include "support/scripted_backend.h"
#include "support/temp_dir.h"
#include "support/thread_count.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace brindle::test {
namespace {

class RecordingPower : public Power {
  public:
    void SetExecutionState(uint32_t nFlags) override { calls.push_back(nFlags); }
    uint32_t SetWakeTimer(uint32_t nMinutes) override {
        wakeMinutes.push_back(nMinutes);
        return nWakeResult;
    }
    void CancelWakeTimer() override { wakeMinutes.push_back(0); }
    std::vector<uint32_t> calls;
    std::vector<uint32_t> wakeMinutes; // 0: cancelled
    uint32_t nWakeResult = 0;
};

// Records what the runtime tells its host, from whichever thread.
class RecordingHost : public ServerHost {
  public:
    void CameraStartFailed(const CameraSettings& camera, uint32_t nCode,
                           const std::string&) override {
        Add("start failed " + camera.cPath + " " + std::to_string(nCode));
    }
    void CameraSettingsApplied(int nCamera) override { Add("applied " + std::to_string(nCamera)); }
    void ImageSaved(int nCamera) override { Add("saved " + std::to_string(nCamera)); }
    void PeerShown(const std::string& peer) override { Add("peer " + peer); }
    void StatusChanged(int32_t nStatus) override { Add("status " + std::to_string(nStatus)); }
    void SentCountsChanged() override { Add("sent"); }

    bool Heard(const std::string& event) {
        std::lock_guard<std::mutex> lock(lock_);
        return std::find(events_.begin(), events_.end(), event) != events_.end();
    }

  private:
    void Add(std::string event) {
        std::lock_guard<std::mutex> lock(lock_);
        events_.push_back(std::move(event));
    }
    std::mutex lock_;
    std::vector<std::string> events_;
};

std::string Key(const std::string& file, const char* section, const char* key) {
    std::string value;
    IniReadKey(file, section, key, value);
    return value;
}

class RuntimeTest : public ::testing::Test {
  protected:
    RuntimeTest() {
        clock.SetTick(1000);
        clock.SetLocalNow(SystemTime{2026, 3, 2, 10, 9, 30, 0, 0});
        LogOpen(dir.File("BrindleHost.log"));
        CaptureDeviceInfo device{"Bench Cam", "scripted:0", 0, -1, {{64, 48, 333333}, {32, 24, 0}}};
        backend.devices.push_back(device);
        backend.SetFrame("scripted:0", MakeFrame(64, 48, [](int x, int y) { return x * 4 + y; }));
    }
    ~RuntimeTest() override {
        runtime.reset();
        LogClose();
    }

    void Start(const std::string& ini) {
        WriteFileText(dir.File("BrindleHost.ini"), ini);
        RuntimeOptions options;
        options.cDataFolder = dir.Path();
        options.cBindAddress = "127.0.0.1";
        options.pBackend = &backend;
        options.pClock = &clock;
        options.pPower = &power;
        options.pHost = &host;
        runtime = std::make_unique<ServerRuntime>(options);
        ASSERT_EQ(runtime->Start(), 0u);
    }
    // Moves the clock and runs one tick.
    void TickAfter(uint32_t ms) {
        clock.Advance(ms);
        runtime->Tick();
    }
    // Waits until the workers have ended every cycle, then ticks once more
    // without moving the clock: what the cycles reported reaches the host.
    void FinishCycles() {
        ASSERT_TRUE(WaitUntil([&] { return runtime->CyclesIdle(); }));
        runtime->Tick();
    }
    // A second camera, "scripted:1", listed after the first.
    void AddSecondCamera() {
        backend.devices.push_back(
            CaptureDeviceInfo{"Side Cam", "scripted:1", 0, -1, {{64, 48, 333333}, {32, 24, 0}}});
        backend.SetFrame("scripted:1", MakeFrame(64, 48, [](int x, int y) { return x + y * 4; }));
    }
    std::string Ini() { return dir.File("BrindleHost.ini"); }

    TempDir dir;
    ManualClock clock;
    ScriptedBackend backend;
    RecordingPower power;
    RecordingHost host;
    std::unique_ptr<ServerRuntime> runtime;
};

constexpr char kCameraInUse[] = "[Settings]\r\nPort=0\r\n"
                                "[scripted:0]\r\nUse=Yes\r\nSend=Yes\r\nCycle=1\r\n";

TEST_F(RuntimeTest, SettingsAreClampedAndCryptIsWrittenBack) {
    Start("[Settings]\r\nPort=0\r\nCrypt=12\r\nPacket=100\r\nMaxImage=0\r\nNoSleep=Yes\r\n"
          "Debug=4\r\n");
    const ServerSettings& s = runtime->Settings();
    EXPECT_EQ(s.nCrypt, 8u);
    EXPECT_EQ(Key(Ini(), "Settings", "Crypt"), "8");
    EXPECT_EQ(s.nPacket, 1024u);
    EXPECT_EQ(Key(Ini(), "Settings", "Packet"), "100");
    EXPECT_EQ(runtime->QueueCapacity(), 1u);
    EXPECT_EQ(s.cFolder, dir.Path());
    EXPECT_TRUE(s.fNoSleep);
    EXPECT_EQ(s.nDebug, 4u);
    EXPECT_EQ(runtime->PacketMax(), 1024u);
}

// "TestCamera=N" offers N test-pattern cameras as "--test-camera N" does;
// the larger of the two counts.
TEST_F(RuntimeTest, TestCameraSettingOffersTestPatternCameras) {
    for (auto [nSetting, nOption, nExpected] :
         {std::tuple{2, 0, 2}, std::tuple{0, 1, 1}, std::tuple{1, 3, 3}, std::tuple{0, 0, 0}}) {
        runtime.reset();
        WriteFileText(Ini(),
                      "[Settings]\r\nPort=0\r\nTestCamera=" + std::to_string(nSetting) + "\r\n");
        RuntimeOptions options;
        options.cDataFolder = dir.Path();
        options.cBindAddress = "127.0.0.1";
        options.nTestCameras = nOption;
        options.fRealCameras = false;
        options.pClock = &clock;
        options.pPower = &power;
        runtime = std::make_unique<ServerRuntime>(options);
        ASSERT_EQ(runtime->Start(), 0u);
        EXPECT_EQ(runtime->Cameras().size(), size_t(nExpected)) << nSetting << " " << nOption;
        EXPECT_EQ(Key(Ini(), "testcam:0", "Name"), nExpected > 0 ? "Brindle Test Camera" : "");
    }
}

// A property open reaches the device of the camera it names, and only it.
TEST_F(RuntimeTest, EachCameraHandsOutItsOwnControls) {
    runtime.reset();
    WriteFileText(Ini(), "[Settings]\r\nPort=0\r\n");
    RuntimeOptions options;
    options.cDataFolder = dir.Path();
    options.cBindAddress = "127.0.0.1";
    options.nTestCameras = 2;
    options.fRealCameras = false;
    options.pClock = &clock;
    options.pPower = &power;
    runtime = std::make_unique<ServerRuntime>(options);
    ASSERT_EQ(runtime->Start(), 0u);
    std::shared_ptr<CameraControls> first = runtime->CameraControlsOf(0);
    std::shared_ptr<CameraControls> second = runtime->CameraControlsOf(1);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->Name(), "Brindle Test Camera");
    EXPECT_EQ(second->Set(TEST_CONTROL_BRIGHTNESS, 200), 0u);
    auto brightness = [](CameraControls& device) {
        std::vector<CaptureControl> controls;
        EXPECT_EQ(device.List(controls), 0u);
        EXPECT_EQ(controls.size(), 3u);
        return controls.empty() ? -1 : controls[0].nValue;
    };
    EXPECT_EQ(brightness(*second), 200);
    EXPECT_EQ(brightness(*first), 128);
    EXPECT_EQ(runtime->CameraControlsOf(2), nullptr);
    EXPECT_EQ(runtime->CameraControlsOf(-1), nullptr);
}

TEST_F(RuntimeTest, PasswordIsStoredScrambledWithItsStampAndReadBack) {
    ASSERT_EQ(WritePassword(Ini(), "s3cret", 0x01DC0102030405ull), 0u);
    std::string stored = Key(Ini(), "Settings", "Passwd");
    EXPECT_EQ(stored.find("s3cret"), std::string::npos);
    EXPECT_EQ(stored.substr(stored.find('/')), "/1DC0102030405");
    ServerSettings settings;
    ReadServerSettings(Ini(), dir.Path(), settings);
    EXPECT_EQ(settings.cPassword, "s3cret");
    EXPECT_EQ(settings.nPasswordStamp, 0x01DC0102030405ull);
}

TEST_F(RuntimeTest, ImagesEnterTheQueueOnlyWhileAClientIsLoggedIn) {
    Start(kCameraInUse);
    for (int i = 0; i < 4; ++i)
        TickAfter(1000);
    FinishCycles();
    EXPECT_EQ(runtime->QueuedImageCount(), 0u);
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(runtime->ListenerPort()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    TickAfter(1000);
    std::vector<BatchRecord> records;
    ASSERT_TRUE(client.ReceiveBatch(records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].nCamera, 1u);
    EXPECT_EQ(records[0].nSent, 1u);
    ASSERT_GT(records[0].jpeg.size(), 2u);
    EXPECT_EQ(records[0].jpeg[0], 0xFF);
    EXPECT_EQ(records[0].jpeg[1], 0xD8);
    EXPECT_EQ(records[0].ftCapture, SystemTimeToFileTime(clock.LocalNow()));
}

// The host hears the connection from its thread and the image from the tick,
// and the counts it is told about can be read back.
TEST_F(RuntimeTest, HostHearsTheClientAndTheImagesSavedAndSent) {
    Start(std::string(kCameraInUse) + "Save=Yes\r\n");
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(runtime->ListenerPort()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    EXPECT_TRUE(WaitUntil([&] {
        return host.Heard("peer 127.0.0.1") &&
               host.Heard("status " + std::to_string(CONNECTION_CONNECTED));
    }));
    TickAfter(1000);
    FinishCycles();
    EXPECT_TRUE(host.Heard("saved 0"));
    std::vector<BatchRecord> records;
    ASSERT_TRUE(client.ReceiveBatch(records));
    EXPECT_TRUE(WaitUntil([&] { return host.Heard("sent"); }));
    EXPECT_EQ(runtime->CountsOf(0).nSent, 1u);
    EXPECT_EQ(runtime->CountsOf(1).nSent, 0u); // no such camera
}

std::vector<uint8_t> RequestPayload(uint32_t nFormat, uint32_t nQuality) {
    CameraRequest request;
    request.nCamera = 1;
    request.nOptions = REQUEST_USE | REQUEST_SEND | REQUEST_SAVE;
    request.nFormat = nFormat;
    request.nCycle = 2;
    request.nSensitivity = 3;
    request.nQuality = nQuality;
    request.nTime = 2;
    request.nDays = 9;
    request.nCrypt = 5;
    request.fNoSleep = 1;
    request.cFont = "-20,0,0,0,700,0,0,0,0,0,0,0,0,DejaVu Sans";
    std::vector<uint8_t> payload(REQUEST_PAYLOAD_SIZE);
    WriteCameraRequest(request, payload.data());
    return payload;
}

TEST_F(RuntimeTest, ClientRequestIsSavedAndRestartsTheCaptureWhenTheFormatChanges) {
    Start(kCameraInUse);
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(runtime->ListenerPort()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    int nStarts = backend.ScriptOf("scripted:0").nStarts;

    ASSERT_EQ(client.Send(PT_REQUEST, RequestPayload(0, 70)), 0u);
    uint16_t nAnswered = 0;
    uint32_t nCode = 1;
    ASSERT_TRUE(client.ReceiveResult(nAnswered, nCode));
    EXPECT_EQ(nCode, 0u);
    TickAfter(50);
    EXPECT_EQ(Key(Ini(), "scripted:0", "Quality"), "70");
    EXPECT_EQ(backend.ScriptOf("scripted:0").nStarts, nStarts); // same format: no restart

    ASSERT_EQ(client.Send(PT_REQUEST, RequestPayload(1, 40)), 0u);
    ASSERT_TRUE(client.ReceiveResult(nAnswered, nCode));
    EXPECT_EQ(nCode, 0u);
    TickAfter(50);
    EXPECT_EQ(backend.ScriptOf("scripted:0").nStarts, nStarts + 1);
    EXPECT_EQ(backend.ScriptOf("scripted:0").lastWanted, (CaptureFormat{32, 24, 0}));
    struct {
        const char *section, *key, *value;
    } keys[] = {{"scripted:0", "Format", "1"},
                {"scripted:0", "Quality", "40"},
                {"scripted:0", "Cycle", "2"},
                {"scripted:0", "Days", "9"},
                {"scripted:0", "Time", "2"},
                {"scripted:0", "Sensitivity", "3"},
                {"scripted:0", "Save", "Yes"},
                {"scripted:0", "Preview", "No"},
                {"Settings", "Crypt", "5"},
                {"Settings", "NoSleep", "Yes"},
                {"scripted:0", "Font", "-20,0,0,0,700,0,0,0,0,0,0,0,0,DejaVu Sans"}};
    for (const auto& k : keys)
        EXPECT_EQ(Key(Ini(), k.section, k.key), k.value) << k.key;
}

TEST_F(RuntimeTest, ACameraThatFailedToStartIsRetriedWhenItsSettingsChange) {
    backend.ScriptOf("scripted:0").nStartError = 2;
    Start(kCameraInUse);
    EXPECT_FALSE(runtime->Cameras()[0].capture.fRunning);
    EXPECT_TRUE(host.Heard("start failed scripted:0 2"));
    backend.ScriptOf("scripted:0").nStartError = 0;
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(runtime->ListenerPort()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    ASSERT_EQ(client.Send(PT_REQUEST, RequestPayload(0, 50)), 0u);
    uint16_t nAnswered = 0;
    uint32_t nCode = 1;
    ASSERT_TRUE(client.ReceiveResult(nAnswered, nCode));
    TickAfter(50);
    EXPECT_TRUE(runtime->Cameras()[0].capture.fRunning);
    EXPECT_TRUE(host.Heard("applied 0"));
}

TEST_F(RuntimeTest, FailedListenerIsReopenedFiveSecondsLater) {
    LoopbackListener busy(0, 1);
    ASSERT_TRUE(busy.Valid());
    uint16_t nPort = busy.Port();
    Start("[Settings]\r\nPort=" + std::to_string(nPort) + "\r\n");
    EXPECT_EQ(runtime->ListenerPort(), 0);
    TickAfter(50);
    busy.Close();
    TickAfter(5000); // retry tick set 5 s ago: not yet more than 5 s
    EXPECT_EQ(runtime->ListenerPort(), 0);
    TickAfter(1);
    EXPECT_EQ(runtime->ListenerPort(), nPort);
}

TEST_F(RuntimeTest, KeepAwakeIsRenewedEveryThirtySecondsAndAsksForMoreWhileServing) {
    Start("[Settings]\r\nPort=0\r\nNoSleep=Yes\r\n");
    TickAfter(50);
    ASSERT_EQ(power.calls.size(), 1u);
    EXPECT_EQ(power.calls[0], POWER_CONTINUOUS); // nobody connected
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(runtime->ListenerPort()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    TickAfter(29000);
    EXPECT_EQ(power.calls.size(), 1u);
    TickAfter(1001);
    ASSERT_EQ(power.calls.size(), 2u);
    EXPECT_EQ(power.calls[1], POWER_CONTINUOUS | POWER_SYSTEM_REQUIRED | POWER_AWAYMODE_REQUIRED);
}

TEST_F(RuntimeTest, ThirtySecondsAfterResumeCamerasInUseStartAfresh) {
    Start(kCameraInUse);
    int nStarts = backend.ScriptOf("scripted:0").nStarts;
    runtime->PowerSuspending();
    TickAfter(50);
    EXPECT_TRUE(runtime->PowerStateNow().fSuspending);
    runtime->PowerResumed();
    TickAfter(50);
    EXPECT_NE(runtime->PowerStateNow().nResumeTick, 0u);
    TickAfter(30000);
    EXPECT_EQ(backend.ScriptOf("scripted:0").nStarts, nStarts);
    TickAfter(50);
    EXPECT_EQ(backend.ScriptOf("scripted:0").nStarts, nStarts + 1);
    EXPECT_FALSE(runtime->PowerStateNow().fSuspending);
    EXPECT_EQ(runtime->PowerStateNow().nResumeTick, 0u);
}

TEST_F(RuntimeTest, FirstTickListsAndRemovesDayFoldersPastRetention) {
    std::string camera = dir.File("Bench_Cam");
    ::mkdir(camera.c_str(), 0700);
    ::mkdir((camera + "/20260101").c_str(), 0700);
    ::mkdir((camera + "/20260301").c_str(), 0700);
    Start(std::string(kCameraInUse) + "Days=10\r\n");
    TickAfter(50);
    struct stat st {};
    EXPECT_TRUE(WaitUntil([&] { return ::stat((camera + "/20260101").c_str(), &st) != 0; }));
    EXPECT_EQ(::stat((camera + "/20260301").c_str(), &st), 0);
    EXPECT_EQ(::stat((camera + ".lst").c_str(), &st), 0);
}

TEST_F(RuntimeTest, EveryHourRemovesTheDayThatHasPassedRetention) {
    std::string camera = dir.File("Bench_Cam");
    ::mkdir(camera.c_str(), 0700);
    ::mkdir((camera + "/20260101").c_str(), 0700);
    Start(std::string(kCameraInUse) + "Days=10\r\n");
    TickAfter(50);
    struct stat st {};
    ASSERT_TRUE(WaitUntil([&] { return ::stat((camera + "/20260101").c_str(), &st) != 0; }));
    // The folder is gone a moment before the run that removed it is over, and
    // a new hour starts no run while the last one still goes: tick on until
    // the list is read and the worker has ended.
    ASSERT_TRUE(WaitUntil([&] {
        TickAfter(50);
        return !IsListing(runtime->Viewers().at(0));
    }));

    // An hour later the day that has meanwhile passed retention goes too.
    ::mkdir((camera + "/20260219").c_str(), 0700);
    clock.SetLocalNow(SystemTime{2026, 3, 2, 10, 10, 0, 0, 0});
    TickAfter(50);
    EXPECT_TRUE(WaitUntil([&] { return ::stat((camera + "/20260219").c_str(), &st) != 0; }));
}

TEST_F(RuntimeTest, ShutdownStopsConnectionsAndCameras) {
    Start(kCameraInUse);
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(runtime->ListenerPort()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    std::thread answer([&] {
        ReceivedPacket packet;
        if (client.ReceiveType(PT_DISCONNECT, packet))
            client.SendEmpty(PT_DISCONNECT);
    });
    runtime->Shutdown();
    answer.join();
    EXPECT_FALSE(runtime->Cameras()[0].capture.fRunning);
    for (const ConnectionInfo& info : runtime->ConnectionSnapshot())
        EXPECT_FALSE(info.fRunning);
    EXPECT_EQ(power.calls.back(), POWER_CONTINUOUS);
}

TEST_F(RuntimeTest, RelayRunsOnTheFirstAccountAndRefusesAnUnusableComputerName) {
    auto start = [&](const char* computer) {
        runtime.reset();
        WriteFileText(Ini(), "[Settings]\r\nPort=0\r\nWebdav=Yes\r\n");
        AccountStore store(Ini());
        AccountForm form;
        form.cUri = "http://127.0.0.1:9/relay/";
        form.cUser = "u";
        form.cPasswd = form.cPasswdAgain = "p";
        form.fServer = true;
        AccountPtr account;
        EXPECT_EQ(SaveAccountForm(store, form, account), 0u);
        ScopedEnv name("COMPUTERNAME", computer);
        RuntimeOptions options;
        options.cDataFolder = dir.Path();
        options.cBindAddress = "127.0.0.1";
        options.pBackend = &backend;
        options.pClock = &clock;
        options.pPower = &power;
        runtime = std::make_unique<ServerRuntime>(options);
        return runtime->Start();
    };
    EXPECT_EQ(start("host.example"), ERR_RELAY_NAME);
    EXPECT_TRUE(power.wakeMinutes.empty());
    ASSERT_EQ(start("host-1"), 0u);
    EXPECT_EQ(Key(Ini(), "http://127.0.0.1:9/relay/", "Inuse"), "1");
    // The background check wakes a suspended computer every WakeInterval minutes.
    EXPECT_EQ(power.wakeMinutes, std::vector<uint32_t>{15});
    EXPECT_NE(ReadFileText(dir.File("BrindleHost.log"))
                  .find("オンラインストレージ確認サスペンド復帰タイマ設定\r\n"),
              std::string::npos);
    runtime->Shutdown();
    EXPECT_EQ(Key(Ini(), "http://127.0.0.1:9/relay/", "Inuse"), "0");
    EXPECT_EQ(power.wakeMinutes.back(), 0u);

    // Where the system refuses alarm timers, the failure is logged with its code.
    power.nWakeResult = ERROR_ACCESS_DENIED_CODE;
    ASSERT_EQ(start("host-1"), 0u);
    EXPECT_NE(ReadFileText(dir.File("BrindleHost.log"))
                  .find("オンラインストレージ確認サスペンド復帰タイマ設定失敗(00000005)"),
              std::string::npos);
}

// --- frame cycles on the workers ---

std::string TwoCameras(int nWorkers, const char* extra = "") {
    std::string text = "[Settings]\r\nPort=0\r\nCycleWorkers=" + std::to_string(nWorkers) + "\r\n";
    for (const char* path : {"scripted:0", "scripted:1"})
        text += std::string("[") + path + "]\r\nUse=Yes\r\nSend=Yes\r\nCycle=1\r\n" + extra;
    return text;
}

// Receives image records until `n` have come; false when a batch fails.
bool ReceiveRecords(ScriptedClient& client, size_t n, std::vector<BatchRecord>& records) {
    while (records.size() < n) {
        std::vector<BatchRecord> batch;
        if (!client.ReceiveBatch(batch, 30000))
            return false;
        records.insert(records.end(), batch.begin(), batch.end());
    }
    return true;
}

// Both cameras are due in one tick: while camera 0's cycle is held in its
// frame fetch, camera 1's image reaches the client, and camera 0 gets no
// second cycle; its image follows once it goes on.
TEST_F(RuntimeTest, TwoCamerasDueInOneTickRunAtOnce) {
    AddSecondCamera();
    CycleGate gate;
    backend.ScriptOf("scripted:0").beforeFrame = [&] { gate.Pass(0); };
    gate.Close(0);
    Start(TwoCameras(2));
    EXPECT_EQ(runtime->CycleWorkerCount(), 2);
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(runtime->ListenerPort()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    TickAfter(1000);
    ASSERT_TRUE(WaitUntil([&] { return gate.Held() == 1; }));
    std::vector<BatchRecord> records;
    ASSERT_TRUE(ReceiveRecords(client, 1, records));
    EXPECT_EQ(records[0].nCamera, 2u);
    EXPECT_FALSE(runtime->CyclesIdle()); // camera 0 is still held
    // Due again meanwhile, camera 0 gets no second cycle beside the held one.
    TickAfter(1000);
    TickAfter(1000);
    EXPECT_EQ(gate.Held(), 1);
    gate.Open();
    std::vector<BatchRecord> firsts;
    while (firsts.empty()) {
        records.clear();
        ASSERT_TRUE(ReceiveRecords(client, 1, records));
        std::copy_if(records.begin(), records.end(), std::back_inserter(firsts),
                     [](const BatchRecord& record) { return record.nCamera == 1; });
    }
    EXPECT_EQ(firsts.size(), 1u);
    EXPECT_EQ(firsts[0].nSent, 1u);
}

// A camera's settings change while cycles are out: camera 1's cycle, which
// waits for the one worker, is taken back at once (not waiting for camera
// 0) and runs at the next tick on the restarted capture; stopping camera 0
// waits for its running cycle, which ends on the capture it began with.
TEST_F(RuntimeTest, StopAndRestartDuringCyclesWaitOnlyForThatCamerasCycle) {
    AddSecondCamera();
    CycleGate gate;
    ScriptedBackend::Script& first = backend.ScriptOf("scripted:0");
    ScriptedBackend::Script& second = backend.ScriptOf("scripted:1");
    std::atomic<int> nRunningInCycle{-1};
    first.beforeFrame = [&] {
        gate.Pass(0);
        nRunningInCycle = first.nRunning;
    };
    gate.Close(0);
    Start(TwoCameras(1, "Save=Yes\r\n"));
    TickAfter(1000);
    ASSERT_TRUE(WaitUntil([&] { return gate.Held() == 1; }));

    const int nStarts = second.nStarts;
    CameraRequest request = CameraRequestOf(runtime->Cameras()[1].settings);
    request.nFormat = 1;
    EXPECT_EQ(runtime->EditCamera(1, request), 0u);
    EXPECT_EQ(second.nStarts, nStarts + 1);
    EXPECT_FALSE(runtime->CyclesIdle()); // camera 0 is still held

    // The runtime's thread is waiting in EditCamera when the gate opens (on
    // a correct runtime the test passes in either order).
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        gate.Open();
    });
    request = CameraRequestOf(runtime->Cameras()[0].settings);
    request.nOptions &= ~REQUEST_USE;
    EXPECT_EQ(runtime->EditCamera(0, request), 0u);
    opener.join();
    EXPECT_EQ(nRunningInCycle, 1);
    EXPECT_FALSE(runtime->Cameras()[0].capture.fRunning);
    FinishCycles(); // hands on camera 0's image and gives camera 1 its cycle
    EXPECT_TRUE(host.Heard("saved 0"));
    FinishCycles();
    EXPECT_TRUE(host.Heard("saved 1"));
}

// Shutdown while cycles are held: it waits for them, and afterwards no
// thread of the runtime is left.
TEST_F(RuntimeTest, ShutdownDuringCyclesLeavesNoThread) {
    AddSecondCamera();
    CycleGate gate;
    for (int n : {0, 1})
        backend.ScriptOf("scripted:" + std::to_string(n)).beforeFrame = [&gate, n] {
            gate.Pass(n);
        };
    gate.Close(0);
    gate.Close(1);
    const size_t nThreads = ThreadCount();
    Start(TwoCameras(2));
    TickAfter(1000);
    ASSERT_TRUE(WaitUntil([&] { return gate.Held() == 2; }));
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        gate.Open();
    });
    runtime->Shutdown();
    opener.join();
    EXPECT_TRUE(runtime->CyclesIdle());
    runtime.reset();
    EXPECT_LE(ThreadCount(), nThreads);
}

// Each camera's images enter the queue in the order they were taken,
// whichever worker ran them.
TEST_F(RuntimeTest, QueueOrderPerCameraHolds) {
    AddSecondCamera();
    Start(TwoCameras(2));
    ScriptedClient client;
    ASSERT_TRUE(client.Connect(runtime->ListenerPort()));
    ASSERT_EQ(client.Login("").nResult, 0u);
    constexpr uint16_t kCycles = 8;
    for (uint16_t i = 0; i < kCycles; ++i) {
        clock.SetLocalNow(SystemTime{2026, 3, 2, 10, 9, uint16_t(31 + i), 0, 0});
        TickAfter(1000);
        FinishCycles();
    }
    std::vector<BatchRecord> records;
    ASSERT_TRUE(ReceiveRecords(client, 2 * kCycles, records));
    std::vector<BatchRecord> last(2);
    for (const BatchRecord& record : records) {
        ASSERT_TRUE(record.nCamera == 1 || record.nCamera == 2);
        BatchRecord& before = last[record.nCamera - 1];
        EXPECT_EQ(record.nSent, before.nSent + 1);
        EXPECT_GT(record.ftCapture, before.ftCapture);
        before = record;
    }
}

} // namespace
} // namespace brindle::test
