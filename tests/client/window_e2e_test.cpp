// The main window against a real headless BrindleHost on loopback, directly
// and relayed through a real WebDAV folder, and the BrindleView program's
// start modes.
#include "client/app/client_window.h"
#include "client/app/password_dialog.h"
#include "client/app/remote_property_dialog.h"
#include "client/client_test_support.h"
#include "client/connections/client_context.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "imagestore/viewer/viewer_window.h"
#include "storage/account_form.h"
#include "storage/lighttpd_fixture.h"
#include "support/child_process.h"
#include "support/scoped_env.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTest>

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::WriteFileText;

bool Pump(const std::function<bool()>& done, int limitMs = 60000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class WindowE2eTest : public ::testing::Test {
  protected:
    void SetUp() override {
        nPort = test::FreeLoopbackPort();
        fs::create_directories(HostDir());
        fs::create_directories(ViewDir());
        WriteFileText(HostDir() + "/BrindleHost.ini",
                      "[Settings]\r\nPort=" + std::to_string(nPort) +
                          "\r\n[testcam:0]\r\nUse=Yes\r\nSend=Yes\r\nCycle=1\r\nQuality=25\r\n");
        test::ChildProcess setter;
        ASSERT_TRUE(setter.Start(BRINDLE_HOST_PROGRAM, {"--set-password", "--data-dir", HostDir()},
                                 dir.File("set.out"), "Secret\n"));
        ASSERT_EQ(setter.Wait(20000), 0);
        ASSERT_TRUE(host.Start(BRINDLE_HOST_PROGRAM,
                               {"--headless", "--data-dir", HostDir(), "--test-camera", "--listen",
                                "127.0.0.1"},
                               dir.File("host.out")));
        ASSERT_TRUE(test::WaitAccepting(nPort, 20000)) << ReadFileText(dir.File("host.out"));
        LogOpen(ViewDir() + "/BrindleView.log");
        ClientWindowOptions options;
        options.cDataFolder = ViewDir();
        options.pNetwork = &network;
        options.fWatchPower = false;
        options.fUseTray = false;
        window = std::make_unique<ClientMainWindow>(options);
        window->Start(false);
    }
    void TearDown() override {
        if (window)
            window->CloseNow();
        window.reset();
        LogClose();
        host.Stop();
    }

    std::string HostDir() { return dir.File("host"); }
    std::string ViewDir() { return dir.File("view"); }
    template <class T> T* Get(int id) { return qobject_cast<T*>(window->Control(id)); }
    QString State() { return Get<QLabel>(9039)->text(); }

    void Connect() {
        Get<QComboBox>(9037)->setEditText(QString("127.0.0.1:%1").arg(nPort));
        Get<QPushButton>(9042)->click();
    }
    PasswordDialog* WaitPasswordDialog() {
        PasswordDialog* dialog = nullptr;
        Pump([&] {
            for (QWidget* w : window->OpenQuestions())
                if ((dialog = qobject_cast<PasswordDialog*>(w)) != nullptr)
                    return true;
            return false;
        });
        return dialog;
    }

    test::TempDir dir;
    uint16_t nPort = 0;
    test::ChildProcess host;
    SystemNetwork network;
    std::unique_ptr<ClientMainWindow> window;
};

// The password saved before differs in letter case and carries an older
// stamp: the server refuses it, the dialog offers it, and "Secret" logs in.
TEST_F(WindowE2eTest, LogsInShowsLiveImagesAndSendsCameraSettings) {
    ServerParams saved;
    saved.cAddress = "127.0.0.1";
    saved.nPort = nPort;
    saved.cPassword = "secret";
    saved.qwPasswordStamp = 1;
    IniWriteKey(ViewDir() + "/BrindleView.ini", "Server", "127.0.0.1", FormatSavedEntry(saved));
    Connect();
    EXPECT_EQ(State(), "接続中");
    PasswordDialog* dialog = WaitPasswordDialog();
    ASSERT_NE(dialog, nullptr);
    auto* first = qobject_cast<QLineEdit*>(dialog->Control(9040));
    auto* second = qobject_cast<QLineEdit*>(dialog->Control(9041));
    EXPECT_EQ(first->text(), "secret");
    first->clear();
    second->clear();
    QTest::keyClicks(first, "Secret");
    QTest::keyClicks(second, "Secret");
    dialog->accept();
    ASSERT_TRUE(Pump([&] { return State() == "接続"; })) << ReadFileText(dir.File("host.out"));
    EXPECT_EQ(Get<QLabel>(9039)->palette().color(QPalette::Window), QColor(192, 255, 255));
    ASSERT_TRUE(Pump([&] { return Get<QComboBox>(1005)->count() == 1; }));

    // The first live picture opens the camera's image window.
    ServerParams* psp = window->Runtime().Context().pCurrent;
    ClientViewer* viewer = GetImage(window->Runtime().Context(), psp, 0);
    ASSERT_TRUE(Pump([&] { return window->ViewerWindowOf(viewer) != nullptr; }));

    QLineEdit* quality = Get<QLineEdit>(1003);
    ASSERT_TRUE(Pump([&] { return quality->isEnabled(); }));
    quality->clear();
    QTest::keyClicks(quality, "150");
    Get<QPushButton>(9043)->click();
    EXPECT_EQ(quality->text(), "100");
    ASSERT_TRUE(Pump([&] {
        std::string value;
        IniReadKey(HostDir() + "/BrindleHost.ini", "testcam:0", "Quality", value);
        return value == "100";
    }));

    Get<QPushButton>(1050)->click();
    EXPECT_EQ(State(), "切断中");
    ASSERT_TRUE(Pump([&] { return State() == "切断"; }));
    EXPECT_EQ(window->Runtime().RunningServers(), 0);
}

// The property button opens the replica of the test camera's dialog; a
// slider step there reaches the camera, and the value the camera took
// comes back into the slider.
TEST_F(WindowE2eTest, PropertyButtonWorksTheTestCameraThroughItsReplica) {
    Connect();
    PasswordDialog* password = WaitPasswordDialog();
    ASSERT_NE(password, nullptr);
    qobject_cast<QLineEdit*>(password->Control(9040))->setText("Secret");
    qobject_cast<QLineEdit*>(password->Control(9041))->setText("Secret");
    password->accept();
    QPushButton* button = Get<QPushButton>(1007);
    ASSERT_TRUE(Pump([&] { return button->isEnabled(); })) << ReadFileText(dir.File("host.out"));
    button->click();
    EXPECT_FALSE(button->isEnabled());
    QSlider* slider = nullptr;
    ASSERT_TRUE(Pump([&] {
        RemotePropertyDialog* d = window->PropertyDialog();
        slider = d != nullptr ? d->findChild<QSlider*>() : nullptr;
        return slider != nullptr && d->isVisible();
    }));
    RemotePropertyDialog* dialog = window->PropertyDialog();
    EXPECT_EQ(dialog->windowTitle(), "Brindle Test Camera");
    EXPECT_EQ(slider->value(), 128);
    EXPECT_EQ(slider->maximum(), 255);
    EXPECT_EQ(dialog->findChildren<QTabBar*>().size(), 1);
    ASSERT_EQ(dialog->findChildren<QComboBox*>().size(), 1);
    EXPECT_EQ(dialog->findChild<QComboBox*>()->count(), 4); // Bars, Gradient, Checker, Texture
    auto* check = dialog->findChild<QCheckBox*>();
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->text(), "Show Time");
    EXPECT_TRUE(check->isChecked());

    QTest::keyClick(slider, Qt::Key_Right);
    auto value = [&] {
        for (const ReplicaControl& c : dialog->Replica().Description().controls)
            if (c.nKind == REPLICA_KIND_SLIDER)
                return c.nValue;
        return -1;
    };
    ASSERT_TRUE(Pump([&] { return value() == 129; }));
    EXPECT_EQ(slider->value(), 129);
    EXPECT_NE(ReadFileText(HostDir() + "/BrindleHost.log").find("プロパティ更新"),
              std::string::npos);

    dialog->close();
    ASSERT_TRUE(Pump([&] { return button->isEnabled(); }));
}

// A server named on the command line shows in the server box and its
// state, as one connected with the button does.
TEST_F(WindowE2eTest, ACommandLineServerShowsInTheWindow) {
    window->ConnectFromCommandLine("127.0.0.1:" + std::to_string(nPort));
    EXPECT_EQ(Get<QComboBox>(9037)->currentText(), QString("127.0.0.1:%1").arg(nPort));
    EXPECT_EQ(State(), "接続中");
    EXPECT_NE(WaitPasswordDialog(), nullptr);
}

// The thread waits in the password dialog; the close cancels it and ends
// in seconds with no thread left.
TEST_F(WindowE2eTest, CloseWhileThreadWaitsInPasswordDialog) {
    Connect();
    ASSERT_NE(WaitPasswordDialog(), nullptr);
    window->CloseNow();
    EXPECT_TRUE(window->Closed());
    EXPECT_EQ(window->Runtime().RunningServers(), 0);
}

// A storage-linked server connected from the window: the account chosen in
// the storage list, the password asked, the camera table relayed through
// lighttpd (Digest over TLS with the test CA), and the disconnect.
TEST(WindowRelayE2eTest, ConnectsThroughTheChosenAccount) {
    test::TempDir dir;
    test::LighttpdServer lighttpd;
    if (std::string why = lighttpd.Start(); !why.empty())
        GTEST_SKIP() << why;
    fs::create_directories(lighttpd.Dir().File("root/digest/relay"));
    const std::string uri =
        "https://127.0.0.1:" + std::to_string(lighttpd.TlsPort()) + "/digest/relay/";
    test::ScopedEnv trust("SSL_CERT_FILE", lighttpd.CaFile().c_str());
    const std::string credentials =
        std::string(test::LighttpdServer::kUser) + "\n" + test::LighttpdServer::kPassword + "\n";

    // The server: relaying through the folder, with a password.
    const std::string hostDir = dir.File("host");
    fs::create_directories(hostDir);
    WriteFileText(hostDir + "/BrindleHost.ini",
                  "[Settings]\r\nWebdav=Yes\r\nPort=" + std::to_string(test::FreeLoopbackPort()) +
                      "\r\n[testcam:0]\r\nUse=Yes\r\nSend=Yes\r\nCycle=1\r\n");
    for (auto [args, input] :
         {std::pair<std::vector<std::string>, std::string>{
              {"--set-storage", uri, "--data-dir", hostDir}, credentials},
          {{"--set-password", "--data-dir", hostDir}, "Secret\n"}}) {
        test::ChildProcess command;
        ASSERT_TRUE(command.Start(BRINDLE_HOST_PROGRAM, args, dir.File("command.out"), input));
        ASSERT_EQ(command.Wait(30000), 0) << ReadFileText(dir.File("command.out"));
    }
    for (const char* key : {"Interval", "WaitInterval"})
        ASSERT_EQ(IniWriteKey(hostDir + "/BrindleHost.ini", uri, key, "1"), 0u);
    test::ChildProcess host;
    {
        test::ScopedEnv computer("COMPUTERNAME", "shank");
        ASSERT_TRUE(host.Start(BRINDLE_HOST_PROGRAM,
                               {"--headless", "--data-dir", hostDir, "--test-camera", "--listen",
                                "127.0.0.1"},
                               dir.File("host.out")));
    }

    // The client: a decoy account first in the list, the relay's second.
    const std::string viewDir = dir.File("view");
    fs::create_directories(viewDir);
    const std::string viewIni = viewDir + "/BrindleView.ini";
    {
        AccountStore store(viewIni);
        store.LoadAccounts();
        for (const std::string& account : {uri, std::string("http://127.0.0.1:1/decoy/")}) {
            AccountForm form;
            form.cUri = account;
            form.cUser = test::LighttpdServer::kUser;
            form.cPasswd = form.cPasswdAgain = test::LighttpdServer::kPassword;
            AccountPtr saved;
            ASSERT_EQ(SaveAccountForm(store, form, saved), 0u);
        }
        ASSERT_EQ(IniWriteKey(viewIni, uri, "Interval", "1"), 0u);
    }
    test::ScopedEnv computer("COMPUTERNAME", "pc2");
    LogOpen(viewDir + "/BrindleView.log");
    SystemNetwork network;
    ClientWindowOptions options;
    options.cDataFolder = viewDir;
    options.pNetwork = &network;
    options.fWatchPower = false;
    options.fUseTray = false;
    auto window = std::make_unique<ClientMainWindow>(options);
    window->Start(false);
    auto get = [&](int id) { return window->Control(id); };
    auto* storage = qobject_cast<QComboBox*>(get(9057));
    auto* state = qobject_cast<QLabel*>(get(9039));
    qobject_cast<QComboBox*>(get(9037))->setEditText("shank");
    ASSERT_EQ(storage->count(), 2);
    storage->setCurrentIndex(storage->findText(QString::fromStdString(uri)));
    qobject_cast<QPushButton*>(get(9042))->click();

    PasswordDialog* dialog = nullptr;
    Pump(
        [&] {
            for (QWidget* w : window->OpenQuestions())
                if ((dialog = qobject_cast<PasswordDialog*>(w)) != nullptr)
                    return true;
            return false;
        },
        180000);
    ASSERT_NE(dialog, nullptr) << ReadFileText(viewDir + "/BrindleView.log");
    QTest::keyClicks(qobject_cast<QLineEdit*>(dialog->Control(9040)), "Secret");
    QTest::keyClicks(qobject_cast<QLineEdit*>(dialog->Control(9041)), "Secret");
    dialog->accept();
    EXPECT_TRUE(Pump([&] { return qobject_cast<QComboBox*>(get(1005))->count() == 1; }, 180000))
        << ReadFileText(viewDir + "/BrindleView.log");
    EXPECT_EQ(state->text(), "接続");
    std::string saved;
    IniReadKey(ServerIniPath(viewDir, "shank", 0), "Settings", "Webdav", saved);
    EXPECT_EQ(saved, uri);
    EXPECT_FALSE(storage->isEnabled());

    qobject_cast<QPushButton*>(get(1050))->click();
    EXPECT_TRUE(Pump([&] { return window->Runtime().RunningServers() == 0; }, 120000));
    EXPECT_TRUE(Pump([&] { return storage->isEnabled(); })); // the thread's last report
    window->CloseNow();
    window.reset();
    LogClose();
    EXPECT_EQ(host.Stop(60000), 0);
}

// The program itself: without a display it says so and ends with 1; a
// second windowed start on the same data folder raises the first and ends.
TEST(ViewProgramTest, NoDisplayAndSecondStart) {
    test::TempDir dir;
    // No display set, and a display left over from a session that ended
    // (Qt would abort on it).
    for (auto [display, message] : {std::pair<const char*, const char*>{nullptr, "no display"},
                                    {":9876", "the display :9876 does not answer"}}) {
        test::ScopedEnv noPlatform("QT_QPA_PLATFORM", nullptr);
        test::ScopedEnv x("DISPLAY", display);
        test::ScopedEnv noWayland("WAYLAND_DISPLAY", nullptr);
        test::ChildProcess view;
        ASSERT_TRUE(
            view.Start(BRINDLE_VIEW_PROGRAM, {"--data-dir", dir.Path()}, dir.File("none.out")));
        EXPECT_EQ(view.Wait(30000), 1);
        EXPECT_NE(ReadFileText(dir.File("none.out")).find(message), std::string::npos)
            << ReadFileText(dir.File("none.out"));
    }
    test::ScopedEnv offscreen("QT_QPA_PLATFORM", "offscreen");
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.Path().c_str());
    test::ChildProcess first;
    ASSERT_TRUE(
        first.Start(BRINDLE_VIEW_PROGRAM, {"--data-dir", dir.File("view")}, dir.File("first.out")));
    ASSERT_TRUE(test::WaitUntil([&] { return fs::exists(dir.File("view") + "/BrindleView.log"); },
                                30000, 20));
    int nSecond = -1;
    // The first may still be setting up its socket: a second start that
    // finds nobody listening says so and ends with 1; try again then.
    test::WaitUntil(
        [&] {
            test::ChildProcess second;
            second.Start(BRINDLE_VIEW_PROGRAM, {"--data-dir", dir.File("view")},
                         dir.File("second.out"));
            nSecond = second.Wait(30000);
            return nSecond == 0;
        },
        30000, 100);
    EXPECT_EQ(nSecond, 0) << ReadFileText(dir.File("second.out"));
    EXPECT_EQ(first.Stop(), 0) << ReadFileText(dir.File("first.out"));
}

} // namespace
} // namespace brindle
