// The server records and the settings BrindleView keeps about them.
#include "client/client_test_support.h"
#include "client/connections/reception.h"
#include "client/connections/server_params.h"
#include "common/ini_file.h"
#include "protocol/scrambler.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <thread>

namespace brindle {
namespace {

TEST(ServerText, AddressAndPort) {
    struct Case {
        const char* text;
        bool ok;
        const char* address;
        int32_t port;
    } cases[] = {
        {"host.example:12345", true, "host.example", 12345},
        {" \t10.0.0.2:80 \t", true, "10.0.0.2", 80},
        {"storage-server", true, "storage-server", 0}, // no ":": storage-linked
        {"host:0", false, "", 0},
        {"host:abc", false, "", 0},
        {"host:70000", false, "", 0},                // would wrap around to 4464
        {"host:4294967297", false, "", 0},           // would wrap around to 1
        {"host:18446744073709551697", false, "", 0}, // would wrap around to 81
        {"host:-5", false, "", 0},                   // would become storage-linked
        {"host:65535", true, "host", 65535},
        {" host \t", true, "host", 0},
        {":12345", false, "", 0},
        {"   ", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string address;
        int32_t port = -1;
        ASSERT_EQ(ParseServerText(c.text, address, port), c.ok);
        if (c.ok) {
            EXPECT_EQ(address, c.address);
            EXPECT_EQ(port, c.port);
        }
    }
}

// Names from the network and the user become one folder level, never more.
TEST(ServerText, FolderLevelsNeverLeaveTheirFolder) {
    struct Case {
        const char* text;
        bool ok;
        const char* level;
    } cases[] = {
        {"Vendor: Cam 1", true, "Vendor_Cam_1"},
        {"../x", true, "..x"},
        {"a/b\\c", true, "abc"},
        {"..", false, ""},
        {".", false, ""},
        {"//", false, ""},
        {"", false, ""},
        {"カメラ 1", true, "カメラ_1"},
        {"line\nbreak", true, "linebreak"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string level;
        ASSERT_EQ(SafeFolderLevel(c.text, level), c.ok);
        if (c.ok) {
            EXPECT_EQ(level, c.level);
        }
    }
    EXPECT_EQ(ServerIniPath("/data", "../../etc/x", 12345), "/data/BrindleView_....etcx.ini");
}

TEST(SavedEntry, ReadsAndWritesTheStoredForm) {
    ServerParams psp;
    psp.cAddress = "cam-host";
    psp.nPort = 12345;
    psp.dwAddress = test::Ip("192.168.1.20");
    psp.nHostBits = 8;
    psp.qwMacAddress = 0x665544332211;
    psp.cPassword = "pw";
    psp.qwPasswordStamp = 0x1D9ABCDEF012345;
    std::string text = FormatSavedEntry(psp);
    EXPECT_EQ(text, "1401A8C0/8/665544332211/" + SecretToText("pw") + "/1D9ABCDEF012345");
    SavedEntry entry = ParseSavedEntry(text, false);
    EXPECT_EQ(entry.nFields, 4);
    EXPECT_EQ(entry.dwAddress, psp.dwAddress);
    EXPECT_EQ(entry.nHostBits, 8);
    EXPECT_EQ(entry.qwMacAddress, psp.qwMacAddress);
    EXPECT_EQ(entry.cPassword, "pw");
    EXPECT_EQ(entry.qwPasswordStamp, psp.qwPasswordStamp);

    psp.nPort = 0; // storage-linked: the password part only
    psp.cPassword.clear();
    EXPECT_EQ(FormatSavedEntry(psp), "/1D9ABCDEF012345");
    EXPECT_EQ(ParseSavedEntry("/1D9ABCDEF012345", true).qwPasswordStamp, psp.qwPasswordStamp);
}

TEST(SavedEntry, ShortOrDamagedEntries) {
    struct Case {
        const char* text;
        int fields;
        const char* password;
        uint64_t stamp;
    } cases[] = {
        {"A/8/0/", 3, "", 0},   // no password part at all
        {"A/8/0//0", 4, "", 0}, // an empty password as SavePasswd writes it
        {"A/8", 2, "", 0},      {"", 0, "", 0},
        {"zz/8/0/x", 0, "", 0}, {"A/8/0/6B/", 4, nullptr, 0}, // a stamp that does not read is 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SavedEntry entry = ParseSavedEntry(c.text, false);
        EXPECT_EQ(entry.nFields, c.fields);
        if (c.password) {
            EXPECT_EQ(entry.cPassword, c.password);
        }
        EXPECT_EQ(entry.qwPasswordStamp, c.stamp);
    }
    // Lower-case digits read like upper-case ones.
    std::string upper = SecretToText("Secret");
    std::string lower = upper;
    for (char& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(ParseSavedEntry("1/1/1/" + lower + "/5", false).cPassword, "Secret");
}

TEST(CameraTable, KeysDefaultsAndFormatClamps) {
    std::string text = "[Camera]\nPathList=a|b|c|\n"
                       "[a]\nName=Front\nName2=Front\nIndex=2\nUse=yes\nChange=Yes\n"
                       "FormatList=640x480x333333|320x240x0|160x120x666666|\nFormat=7\n"
                       "[b]\nFormatList=640x480x333333|\nFormat=-3\n"
                       "[c]\nFormat=4\n"
                       "[Settings]\nNoSleep=Yes\nCrypt=5\nWebdav=box\n";
    ServerIniContent content = ParseServerIni(text);
    ASSERT_EQ(content.cameras.size(), 3u);
    const CameraInfo& a = content.cameras[0];
    EXPECT_EQ(a.cName, "Front");
    EXPECT_EQ(a.nIndex, 2);
    EXPECT_TRUE(a.fUse);
    EXPECT_TRUE(a.fChange);
    EXPECT_FALSE(a.fSend);
    EXPECT_EQ(a.nCycle, 60);
    EXPECT_EQ(a.nQuality, 25);
    EXPECT_EQ(a.nDays, 31);
    ASSERT_EQ(a.formats.size(), 3u);
    EXPECT_EQ(a.formats[2].nDuration, 666666);
    EXPECT_EQ(a.nFormat, 2);                   // 7 with three formats
    EXPECT_EQ(content.cameras[1].nFormat, 0);  // -3
    EXPECT_EQ(content.cameras[2].nFormat, -1); // no formats at all
    EXPECT_EQ(content.cameras[2].nCameraId, 3);
    EXPECT_EQ(content.cameras[2].nIndex, 1);
    EXPECT_TRUE(content.fNoSleep);
    EXPECT_EQ(content.nCrypt, 5);
    EXPECT_EQ(content.cStorage, "box");

    EXPECT_EQ(CameraFormatsOf("640x480x1|junk|320x240x2|").size(), 1u);
}

TEST(CameraTable, ComboLines) {
    CameraInfo camera;
    camera.cName = "USB Camera";
    camera.cSection = "/dev/v4l/by-id/usb-cam";
    camera.nIndex = 2;
    std::string line = CameraComboLine(camera);
    EXPECT_EQ(line, "USB Camera [2]" + std::string(80 - 14, ' ') + "\t/dev/v4l/by-id/usb-cam");
    camera.nIndex = 1;
    EXPECT_EQ(CameraComboLine(camera).substr(0, 11), "USB Camera ");
    EXPECT_EQ(CameraComboLine(camera).find('['), std::string::npos);
}

TEST(CameraTable, SelectedCameraIsClampedAndWrittenBack) {
    test::TempDir dir;
    ClientContext ctx;
    ctx.cDataFolder = dir.Path();
    ctx.cSettingsFile = dir.File("BrindleView.ini");
    ServerParams* psp = CreateServerParams(ctx, "host", 1);
    test::WriteFileText(psp->cServerIni, "[Camera]\nPathList=a|b|c|d|\n");
    LoadCameraInfo(ctx, *psp);
    IniWriteKey(ctx.cSettingsFile, "Camera", "host", "9");
    CameraCombo combo = SetCameraCombo(ctx, *psp);
    EXPECT_EQ(combo.lines.size(), 4u);
    EXPECT_EQ(combo.nSelected, 3);
    std::string saved;
    IniReadKey(ctx.cSettingsFile, "Camera", "host", saved);
    EXPECT_EQ(saved, "3");
    IniWriteKey(ctx.cSettingsFile, "Camera", "host", "-2");
    EXPECT_EQ(SetCameraCombo(ctx, *psp).nSelected, 0);
}

TEST(CameraTable, ControlsFollowTheCameraAndTheLink) {
    ServerParams psp;
    EXPECT_FALSE(EnableControls(&psp, true, false).fAvailable); // not online
    psp.fOnline = 1;
    psp.cameras.resize(1);
    EXPECT_FALSE(EnableControls(&psp, true, false).fAvailable); // not connected on the server
    psp.cameras[0].nConnect = 1;
    CameraControlsState s = EnableControls(&psp, true, true);
    EXPECT_TRUE(s.fResolution && s.fBasics && s.fTimeStamp && s.fServerWide && s.fSaveOnServer);
    EXPECT_FALSE(s.fProperty); // the property dialog is open
    EXPECT_FALSE(s.fSensitivity);
    EXPECT_FALSE(s.fDays);
    psp.cameras[0].fChange = psp.cameras[0].fSave = true;
    s = EnableControls(&psp, true, false);
    EXPECT_TRUE(s.fProperty && s.fSensitivity && s.fDays);
    EXPECT_FALSE(EnableControls(&psp, false, false).fResolution);
    EXPECT_FALSE(EnableControls(nullptr, true, false).fAvailable);
}

TEST(ServerState, TextsFollowTheThread) {
    ServerParams psp;
    EXPECT_STREQ(ServerStateText(ServerStateIndex(nullptr)), "");
    EXPECT_STREQ(ServerStateText(ServerStateIndex(&psp)), "");
    psp.fThreadStarted = true;
    psp.dwThreadId = 5;
    EXPECT_STREQ(ServerStateText(ServerStateIndex(&psp)), "接続中");
    psp.fOnline = 1;
    EXPECT_STREQ(ServerStateText(ServerStateIndex(&psp)), "接続");
    psp.fStop = 1;
    EXPECT_STREQ(ServerStateText(ServerStateIndex(&psp)), "切断中");
    psp.dwThreadId = 0;
    EXPECT_STREQ(ServerStateText(ServerStateIndex(&psp)), "切断");
}

TEST(ServerList, RecordsRecentServersAndAutoConnect) {
    test::TempDir dir;
    ClientContext ctx;
    ctx.cDataFolder = dir.Path();
    ctx.cSettingsFile = dir.File("BrindleView.ini");
    ServerParams* a = CreateServerParams(ctx, "Host", 1);
    EXPECT_EQ(FindServerParams(ctx, "host", 1), a);
    EXPECT_EQ(FindServerParams(ctx, "host", 2), nullptr);

    AddRecentServer(ctx, "a:1");
    AddRecentServer(ctx, " b:2\t");
    AddRecentServer(ctx, "a:1");
    EXPECT_EQ(RecentServers(ctx), (std::vector<std::string>{"a:1", "b:2"}));
    EXPECT_FALSE(AutoConnectEnabled(ctx, "a"));
    SetAutoConnect(ctx, "a", true);
    EXPECT_TRUE(AutoConnectEnabled(ctx, "a"));
    SetAutoConnect(ctx, "a", false);
    EXPECT_FALSE(AutoConnectEnabled(ctx, "a"));
}

// Two servers on one address: each port keeps its own per-server file, and
// the whole-file rewrite after a settings transfer and single key writes
// into the same file do not undo each other.
TEST(ServerList, ServersOnOneAddressKeepTheirOwnFiles) {
    test::TempDir dir;
    ClientContext ctx;
    ctx.cDataFolder = dir.Path();
    ctx.cSettingsFile = dir.File("BrindleView.ini");
    ServerParams* plain = CreateServerParams(ctx, "Host", 12345);
    ServerParams* other = CreateServerParams(ctx, "Host", 12346);
    ServerParams* linked = CreateServerParams(ctx, "Host", 0);
    ASSERT_TRUE(plain && other && linked);
    EXPECT_EQ(plain->cServerIni, dir.File("BrindleView_Host.ini")); // the name files already have
    EXPECT_EQ(other->cServerIni, dir.File("BrindleView_Host_12346.ini"));
    EXPECT_EQ(linked->cServerIni, plain->cServerIni);
    EXPECT_EQ(ServerTempPath(dir.Path(), "Host", 12346), dir.File("BrindleView_Host_12346.tmp"));
    EXPECT_NE(ServerTempPath(dir.Path(), "Host", 12345), ServerTempPath(dir.Path(), "Host", 12346));

    constexpr int kRounds = 40;
    const ServerParams* servers[] = {plain, other};
    const char* cameras[] = {"camA", "camB"};
    std::vector<std::thread> threads;
    for (int s = 0; s < 2; ++s) {
        const std::string file = servers[s]->cServerIni;
        const std::string serverText =
            std::string("[Camera]\nPathList2=") + cameras[s] + "|\n[" + cameras[s] + "]\nName=n\n";
        threads.emplace_back([file, serverText] {
            auto transfer = [&](std::string& text) -> uint32_t {
                return CopyServerSettings(serverText, text) < 0 ? 1 : 0;
            };
            for (int i = 0; i < kRounds; ++i)
                ASSERT_EQ(IniEditFile(file, transfer), 0u);
        });
        threads.emplace_back([file] {
            for (int i = 0; i < kRounds; ++i)
                ASSERT_EQ(IniWriteKey(file, "Keys", "k" + std::to_string(i), "v"), 0u);
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (int s = 0; s < 2; ++s) {
        SCOPED_TRACE(servers[s]->cServerIni);
        std::string list;
        ASSERT_EQ(IniReadKey(servers[s]->cServerIni, "Camera", "PathList", list), 0u);
        EXPECT_EQ(list, std::string(cameras[s]) + "|");
        EXPECT_EQ(IniSectionKeys(servers[s]->cServerIni, "Keys").size(), size_t(kRounds));
    }
}

} // namespace
} // namespace brindle
