// BrindleHost's main window driven as a user would: QTest events on its
// controls, an injected clock, choosers and question boxes, a scripted
// camera and the real runtime under it.
#include "../widgets/widget_wait.h"
#include "common/error_codes.h"
#include "common/font_text.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "protocol/scrambler.h"
#include "common/little_endian.h"
#include "server/app/host_property_dialog.h"
#include "server/app/main_window.h"
#include "server/app/preview_window.h"
#include "server/connections/camera_request.h"
#include "support/child_process.h"
#include "support/file_text.h"
#include "support/loopback.h"
#include "support/scoped_env.h"
#include "support/scripted_backend.h"
#include "support/temp_dir.h"
#include "widgets/timed_message_box.h"
#include "widgets/translations.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTabBar>
#include <QTest>

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace brindle::test {
namespace {

std::string Key(const std::string& file, const char* section, const char* key) {
    std::string value;
    IniReadKey(file, section, key, value);
    return value;
}

class HostWindowTest : public ::testing::Test {
  protected:
    HostWindowTest() {
        clock.SetTick(1000);
        clock.SetLocalNow(SystemTime{2026, 3, 2, 10, 9, 30, 0, 0});
        LogOpen(dir.File("BrindleHost.log"));
        AddCamera("Bench Cam", "scripted:0");
    }
    ~HostWindowTest() override {
        window.reset();
        LogClose();
    }

    void AddCamera(const std::string& name, const std::string& path) {
        backend.devices.push_back(
            CaptureDeviceInfo{name, path, 0, -1, {{64, 48, 333333}, {32, 24, 0}}});
        backend.SetFrame(path, MakeFrame(64, 48, [](int x, int y) { return x * 4 + y; }));
    }

    void Open(const std::string& ini = "[Settings]\r\nPort=0\r\n") {
        if (!ini.empty())
            WriteFileText(Ini(), ini);
        Reopen();
    }
    // A new window on the settings file as it is.
    void Reopen() {
        window.reset();
        HostWindowOptions options;
        options.runtime.cDataFolder = dir.Path();
        options.runtime.cBindAddress = "127.0.0.1";
        options.runtime.pBackend = &backend;
        options.runtime.pClock = &clock;
        options.folderDialog = [this](QWidget*, const QString&, const QString&) {
            return folderAnswer;
        };
        options.fontDialog = [this](QWidget*, const QFont&) { return fontAnswer; };
        options.ask = [this](const QString& text, QMessageBox::StandardButtons) {
            questions.push_back(text);
            return answer;
        };
        options.tell = [this](const QString& text) {
            told.push_back(text);
            if (tellHook)
                tellHook();
        };
        options.openLog = [this](const QString& path) {
            opened.push_back(path);
            return true;
        };
        options.fTray = false;
        options.fTimer = false;
        window = std::make_unique<HostMainWindow>(options);
        ASSERT_EQ(window->Start(), 0u);
        window->show();
    }

    template <typename T = QWidget> T* Find(int id) {
        T* widget = qobject_cast<T*>(window->Control(id));
        EXPECT_NE(widget, nullptr) << "control " << id;
        return widget;
    }
    // Replaces a field's text by typing, then presses Enter.
    void Type(int id, const QString& text, bool fEnter = true) {
        QLineEdit* edit = Find<QLineEdit>(id);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
        if (fEnter)
            QTest::keyClick(edit, Qt::Key_Return);
    }
    // A button pressed as by the mouse (wherever its label sits).
    void Click(int id) { Find<QAbstractButton>(id)->click(); }
    std::string Ini() { return dir.File("BrindleHost.ini"); }

    TempDir dir;
    ManualClock clock;
    ScriptedBackend backend;
    std::unique_ptr<HostMainWindow> window;
    std::optional<QString> folderAnswer;
    std::optional<QFont> fontAnswer;
    int answer = IDYES;
    std::vector<QString> questions;
    std::vector<QString> told;
    std::function<void()> tellHook;
    std::vector<QString> opened;
};

// Every enabling rule in one table: what the user did, and which controls
// are then on and off.
TEST_F(HostWindowTest, EnablingRules) {
    struct Case {
        const char* what;
        std::function<void()> act;
        std::vector<int> on;
        std::vector<int> off;
    };
    const std::vector<int> everythingElse = {1005, 1011, 1006, 1008, 1003, 1010, 1014,
                                             1027, 1015, 1021, 1026, 9044, 1039, 1030,
                                             1013, 1018, 1033, 1034, 1012, 1007};
    const std::vector<Case> cases = {
        {"passwords differ", [&] { Type(9041, "x"); }, {9040, 9041}, everythingElse},
        {"passwords agree again",
         [&] { Type(9040, "x"); },
         everythingElse,
         {9061, 9057, 1051}},
        {"skip unchanged off", [&] {}, {1027}, {1028}},
        {"skip unchanged on", [&] { Click(1027); }, {1028}, {}},
        {"save off", [&] {}, {1015}, {1016}},
        {"save on", [&] { Click(1015); }, {1016}, {}},
    };
    Open();
    for (const Case& c : cases) {
        c.act();
        for (int id : c.on)
            EXPECT_TRUE(Find(id)->isEnabled()) << c.what << ": " << id;
        for (int id : c.off)
            EXPECT_FALSE(Find(id)->isEnabled()) << c.what << ": " << id;
    }
}

// "プロパティ" shows the camera's own controls; what the user does there
// reaches the device and is made an update for a client, what a client
// does shows there, and closing it tells the client.
TEST_F(HostWindowTest, PropertyWorksTheCameraControlsBesideAClient) {
    backend.ScriptOf("scripted:0").controls = {
        {1, "User Controls", "Brightness", ControlType::Integer, 0, 255, 1, 128, 128, {}, 0},
        {2, "User Controls", "Show Time", ControlType::Boolean, 0, 1, 1, 1, 1, {}, 0},
        {3, "Camera Controls", "Pattern", ControlType::Menu, 0, 2, 1, 0, 0,
         {"Bars", "Gradient", "Checker"}, 0}};
    Open();
    Click(1007);
    HostPropertyDialog* view = window->PropertyView();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->windowTitle(), "Bench Cam");
    auto* slider = view->findChild<QSlider*>();
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->value(), 128);
    EXPECT_EQ(view->findChildren<QTabBar*>().size(), 1);

    PropertyRemote& remote = window->Runtime().Property();
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(backend.ScriptOf("scripted:0").controls[0].nValue, 129);
    EXPECT_TRUE(remote.UpdatePending());

    // A client's open and command: the window shows the new dialog and its
    // values at its next tick.
    int client = 0;
    ASSERT_FALSE(remote.Open(1, window->Runtime().CameraControlsOf(0), 65536, &client).empty());
    std::vector<PropertyWindow> windows;
    ASSERT_TRUE(remote.Snapshot(windows));
    uint32_t hSlider = 0;
    size_t nSlider = 0;
    for (size_t i = 0; i < windows.size(); ++i)
        if (windows[i].nKind == PROPERTY_KIND_SLIDER)
            hSlider = windows[i].hWindow, nSlider = i;
    std::vector<uint8_t> command(32, 0);
    StoreLe32(command.data(), 1);
    StoreLe32(command.data() + 4, PROPERTY_SLIDER);
    StoreLe32(command.data() + 16, hSlider);
    StoreLe32(command.data() + 28, 50);
    ASSERT_TRUE(remote.Command(command));
    window->TimerTick();
    slider = qobject_cast<QSlider*>(view->ControlWidget(nSlider));
    ASSERT_NE(slider, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(slider->value(), 50);

    view->close();
    EXPECT_FALSE(remote.IsOpen());
    PropertyRemote::Update update;
    ASSERT_TRUE(remote.TakeUpdate(update));
    EXPECT_EQ(update.nKind, PROPERTY_UPDATE_CLOSED);
    EXPECT_EQ(update.nCamera, 1);
}

// A camera remembered from an earlier run but not plugged in now: its
// settings show, its controls stay off; the viewer of its stored images
// still opens.
TEST_F(HostWindowTest, AbsentCameraShowsItsSettingsWithControlsOff) {
    AddCamera("Gone Cam", "scripted:1");
    Open("[Settings]\r\nPort=0\r\n[scripted:1]\r\nQuality=77\r\n");
    backend.devices.pop_back();
    Reopen();
    auto* box = Find<QComboBox>(1005);
    ASSERT_EQ(box->count(), 2);
    box->setCurrentIndex(1);
    emit box->activated(1);
    ASSERT_EQ(window->SelectedCamera(), 1);
    EXPECT_EQ(Find<QLineEdit>(1003)->text(), "77");
    for (int id : {1011, 1006, 1003, 1010, 1008, 1014, 1027, 1021, 1026, 1030})
        EXPECT_FALSE(Find(id)->isEnabled()) << id;
    EXPECT_TRUE(Find(9044)->isEnabled());
}

// Without any camera nothing indexes the empty list.
TEST_F(HostWindowTest, NoCameraLeavesCameraControlsOff) {
    backend.devices.clear();
    Open();
    EXPECT_EQ(window->SelectedCamera(), -1);
    for (int id : {1005, 1011, 1003, 1016, 1026, 9044})
        EXPECT_FALSE(Find(id)->isEnabled()) << id;
    Click(9044);
    window->TimerTick();
    window->PreviewTick();
    EXPECT_TRUE(Find(1018)->isEnabled());
}

// Numeric fields take their value on Enter: brought into range, shown,
// written. Nothing is written while the user types.
TEST_F(HostWindowTest, NumericFieldsCommitClampedValuesOnEnter) {
    struct Case {
        int id;
        const char* typed;
        const char* shown;
        const char* section;
        const char* key;
    };
    const Case cases[] = {
        {1003, "150", "100", "scripted:0", "Quality"},
        {1010, "0", "1", "scripted:0", "Cycle"},
        {1016, "0", "1", "scripted:0", "Days"},
        {1018, "0", "1", "Settings", "Port"},
        {1018, "70000", "65535", "Settings", "Port"},
        {1010, "99999999999", "2147483", "scripted:0", "Cycle"},
    };
    Open("[Settings]\r\nPort=0\r\n[scripted:0]\r\nSave=Yes\r\n");
    for (const Case& c : cases) {
        Type(c.id, c.typed);
        EXPECT_EQ(Find<QLineEdit>(c.id)->text(), c.shown) << c.typed;
        EXPECT_EQ(Key(Ini(), c.section, c.key), c.shown) << c.typed;
    }
}

TEST_F(HostWindowTest, TypingWritesOnlyTheFinishedValue) {
    Open("[Settings]\r\nPort=0\r\n[scripted:0]\r\nSave=Yes\r\nDays=31\r\n");
    // Retyping the retention: an empty field and a first digit write nothing.
    Type(1016, "3", false);
    EXPECT_EQ(Key(Ini(), "scripted:0", "Days"), "31");
    QTest::keyClicks(Find<QLineEdit>(1016), "0");
    EXPECT_EQ(Key(Ini(), "scripted:0", "Days"), "31");
    QTest::keyClick(Find<QLineEdit>(1016), Qt::Key_Return);
    EXPECT_EQ(Key(Ini(), "scripted:0", "Days"), "30");
    EXPECT_EQ(window->Runtime().Cameras()[0].settings.nDays, 30);
    // An emptied field gets its value back.
    Type(1016, "");
    EXPECT_EQ(Find<QLineEdit>(1016)->text(), "30");
    EXPECT_EQ(Key(Ini(), "scripted:0", "Days"), "30");
    // A field left by hiding the window still commits.
    Type(1003, "42", false);
    window->hide();
    EXPECT_EQ(Key(Ini(), "scripted:0", "Quality"), "42");
}

// A changed port reopens the listener there, not at each digit.
TEST_F(HostWindowTest, PortChangeReopensTheListener) {
    Open();
    uint16_t nFree = 0;
    {
        LoopbackListener probe;
        ASSERT_TRUE(probe.Valid());
        nFree = probe.Port();
    }
    const uint16_t nOld = window->Runtime().ListenerPort();
    ASSERT_NE(nOld, 0);
    Type(1018, QString::number(nFree).left(2), false);
    EXPECT_EQ(window->Runtime().ListenerPort(), nOld);
    Type(1018, QString::number(nFree));
    EXPECT_EQ(window->Runtime().ListenerPort(), nFree);
    EXPECT_EQ(Key(Ini(), "Settings", "Port"), std::to_string(nFree));
}

TEST_F(HostWindowTest, PasswordIsWrittenWhenTheFieldsAgreeAndNotAtStart) {
    WriteFileText(Ini(), "[Settings]\r\nPort=0\r\nDebug=4\r\n");
    ASSERT_EQ(WritePassword(Ini(), "old", 0x01D0000000000001ull), 0u);
    const std::string before = Key(Ini(), "Settings", "Passwd");
    Open("");
    EXPECT_EQ(Find<QLineEdit>(9040)->text(), "old");
    EXPECT_EQ(Find<QLineEdit>(9040)->echoMode(), QLineEdit::Normal); // Debug bit 4
    window->TimerTick();
    EXPECT_EQ(Key(Ini(), "Settings", "Passwd"), before);

    clock.SetLocalNow(SystemTime{2026, 4, 1, 8, 0, 0, 0, 0});
    Type(9040, "new");
    EXPECT_EQ(Key(Ini(), "Settings", "Passwd"), before);
    Type(9041, "new");
    uint64_t nStamp = 0;
    EXPECT_EQ(TextToStampedSecret(Key(Ini(), "Settings", "Passwd"), nStamp), "new");
    EXPECT_EQ(nStamp, SystemTimeToFileTime(clock.LocalNow()));
    // Longer than a client can send: the fields stop at 255 bytes.
    Type(9040, QString(300, QLatin1Char('a')));
    EXPECT_EQ(Find<QLineEdit>(9040)->text().toUtf8().size(), PASSWORD_BYTES_MAX);
}

// What clients and the frame cycle report reaches the controls: settings
// of the selected camera, the connection state, the indicators for 500 ms.
TEST_F(HostWindowTest, ReportsReachTheControls) {
    AddCamera("Other Cam", "scripted:1");
    Open();
    CameraRequest request = CameraRequestOf(window->Runtime().Cameras()[0].settings);
    request.nQuality = 64;
    window->Runtime().CameraSettingsChanged(0, request, false);
    window->TimerTick();
    EXPECT_EQ(Find<QLineEdit>(1003)->text(), "64");

    std::thread connection([&] { window->StatusChanged(2); });
    connection.join();
    EXPECT_TRUE(WaitWithEvents([&] { return Find<QLabel>(1032)->text() == "と接続"; }));
    EXPECT_EQ(Find(9039)->palette().color(QPalette::Window), QColor(192, 255, 255));

    window->ChangeDetected(1); // not the selected camera
    EXPECT_TRUE(Find(1035)->isHidden());
    window->ChangeDetected(0);
    window->ImageSaved(0);
    EXPECT_FALSE(Find(1035)->isHidden());
    EXPECT_FALSE(Find(1037)->isHidden());
    clock.Advance(400);
    window->TimerTick();
    EXPECT_FALSE(Find(1035)->isHidden());
    clock.Advance(200);
    window->TimerTick();
    EXPECT_TRUE(Find(1035)->isHidden());
    EXPECT_TRUE(Find(1037)->isHidden());
}

TEST_F(HostWindowTest, FontAndFolderChoices) {
    Open();
    fontAnswer = QFont(QStringLiteral("DejaVu Sans"), 20);
    Click(1026);
    LogFont font;
    ASSERT_EQ(TextToFont(Key(Ini(), "scripted:0", "Font"), font), 0u);
    EXPECT_STREQ(font.lfFaceName, "DejaVu Sans");

    // "Folder" holds 291 bytes: a longer choice is refused and said so.
    folderAnswer = QString::fromStdString(dir.Path() + "/" + std::string(300, 'f'));
    Click(1013);
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(window->Runtime().Settings().cFolder, dir.Path());
    folderAnswer = QString::fromStdString(dir.File("images"));
    Click(1013);
    EXPECT_EQ(Key(Ini(), "Settings", "Folder"), dir.File("images"));
    EXPECT_EQ(Find<QLineEdit>(1001)->text().toStdString(), dir.File("images"));
}

// "ログを表示" flushes the log and opens it; a log that cannot be opened
// is reported with its path. "ログを消去" asks first.
TEST_F(HostWindowTest, LogButtons) {
    Open();
    LogWrite("marker line\r\n");
    Click(1033);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toStdString(), dir.File("BrindleHost.log"));
    EXPECT_NE(ReadFileText(dir.File("BrindleHost.log")).find("marker line"), std::string::npos);
    answer = IDNO;
    Click(1034);
    EXPECT_EQ(questions.back(), "ログを消去しますか?");
    EXPECT_FALSE(ReadFileText(dir.File("BrindleHost.log")).empty());
    answer = IDYES;
    Click(1034);
    EXPECT_TRUE(ReadFileText(dir.File("BrindleHost.log")).empty());

    std::filesystem::remove(dir.File("BrindleHost.log"));
    Click(1033);
    EXPECT_EQ(opened.size(), 1u);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].contains(QString::fromStdString(dir.File("BrindleHost.log"))));
}

// A stamp font that does not parse: the default font, one log line naming
// the camera, the key as it was. A settings write that fails is shown.
TEST_F(HostWindowTest, BadFontAndFailedWrite) {
    Open("[Settings]\r\nPort=0\r\n[scripted:0]\r\nFont=12,bold\r\n");
    LogFlush();
    const std::string log = ReadFileText(dir.File("BrindleHost.log"));
    EXPECT_NE(log.find("Bench Cam"), std::string::npos);
    EXPECT_NE(log.find("12,bold"), std::string::npos);
    EXPECT_EQ(Key(Ini(), "scripted:0", "Font"), "12,bold");
    EXPECT_EQ(window->Runtime().Cameras()[0].settings.fFont, 0);

    // The settings file turned into a folder: no write can succeed.
    std::filesystem::remove(Ini());
    std::filesystem::create_directory(Ini());
    Type(1003, "50");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].contains(QString::fromStdString(Ini()))) << told[0].toStdString();
    EXPECT_EQ(window->Runtime().Cameras()[0].settings.nQuality, 50);
}

// A missing image folder is offered for creation at start.
TEST_F(HostWindowTest, MissingImageFolderIsOffered) {
    const std::string folder = dir.File("later/images");
    answer = IDOK;
    Open("[Settings]\r\nPort=0\r\nFolder=" + folder + "\r\n");
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].contains(QString::fromStdString(folder)));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST_F(HostWindowTest, TrayMenuAndViewerItems) {
    Open();
    QMenu* menu = window->TrayMenu();
    std::vector<std::pair<int, QString>> items;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            items.emplace_back(action->property("id").toInt(), action->text());
    const std::vector<std::pair<int, QString>> expected = {
        {32777, "開く(&O)"}, {40001, "バージョン情報(&V)"}, {32771, "終了(&X)"}};
    EXPECT_EQ(items, expected);

    Click(9044);
    ImageViewerWindow* viewer = window->ViewerWindow(0);
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->windowTitle(), "Bench Cam");
    QAction* item = menu->actions().front();
    EXPECT_EQ(item->property("id").toInt(), 30000);
    EXPECT_EQ(item->text(), "カメラ#&1 Bench Cam");
    viewer->close();
    EXPECT_TRUE(WaitWithEvents([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return window->ViewerWindow(0) == nullptr;
    }));
    emit menu->aboutToShow();
    EXPECT_FALSE(item->isEnabled());

    // Without a tray a right click in the window shows the same menu.
    ASSERT_FALSE(window->HasTray());
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            window->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(window.get(), &event);
    EXPECT_TRUE(menu->isVisible());
    menu->hide();

    window->RunTrayCommand(TRAY_ABOUT);
    auto* about = window->findChild<QMessageBox*>("aboutBox");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), "Brindle Host Ver 1.02");
    about->close();
}

// The viewer's live mode shows the frame cycle's stamped picture.
TEST_F(HostWindowTest, ViewerShowsLivePictures) {
    Open("[Settings]\r\nPort=0\r\n[scripted:0]\r\nUse=Yes\r\nCycle=1\r\nTime=1\r\n");
    Click(9044);
    ImageViewerWindow* viewer = window->ViewerWindow(0);
    ASSERT_NE(viewer, nullptr);
    viewer->RunCommand(CMD_LIVE);
    ASSERT_TRUE(window->WantsLiveFrame(0));
    // The cycles run on workers: the picture comes at a tick after its cycle.
    EXPECT_TRUE(WaitWithEvents([&] {
        clock.Advance(1100);
        window->TimerTick();
        viewer->Tick();
        return !viewer->ShownImage().isNull();
    }));
    EXPECT_EQ(viewer->ShownImage().size(), QSize(64, 48));
}

TEST_F(HostWindowTest, PreviewShowsTheStampedPictureAndCloseHidesIt) {
    Open("[Settings]\r\nPort=0\r\n[scripted:0]\r\nUse=Yes\r\nPreview=Yes\r\nTime=1\r\n");
    window->PreviewTick();
    PreviewWindow* preview = window->Preview(0);
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_EQ(preview->windowTitle(), "Bench Cam");
    EXPECT_EQ(preview->Picture().size(), QSize(64, 48));
    preview->close();
    window->PreviewTick();
    EXPECT_FALSE(preview->isVisible());
    // Switching preview on again brings it back.
    Click(1008);
    Click(1008);
    window->PreviewTick();
    EXPECT_TRUE(preview->isVisible());
}

// The exit question: no keeps everything running, yes closes the window,
// stops the connections and saves the window's place.
TEST_F(HostWindowTest, ExitAsksAndShutsDown) {
    Open();
    bool fClosed = false;
    QObject::connect(window.get(), &HostMainWindow::Closed, [&] { fClosed = true; });
    answer = IDNO;
    Click(1012);
    EXPECT_FALSE(fClosed);
    EXPECT_NE(window->Runtime().ListenerPort(), 0);
    answer = IDYES;
    window->close(); // the title bar's close asks too
    EXPECT_TRUE(WaitWithEvents([&] { return fClosed; }));
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions.back(), "終了しますか?");
    EXPECT_EQ(window->Runtime().ListenerPort(), 0);
    EXPECT_TRUE(window->Runtime().ConnectionSnapshot().empty());
    EXPECT_FALSE(Key(Ini(), "Settings", "Left").empty());
}

// A close that arrives while the tick runs (here from the nested loop of
// a failure box) waits for the tick to end, then closes.
TEST_F(HostWindowTest, CloseDuringTickIsPostedAgain) {
    Open();
    bool fClosed = false;
    QObject::connect(window.get(), &HostMainWindow::Closed, [&] { fClosed = true; });
    backend.ScriptOf("scripted:0").nStartError = ERROR_ACCESS_DENIED_CODE;
    bool fRunningInBox = false;
    tellHook = [&] {
        window->EndWithoutQuestion();
        fRunningInBox = window->Runtime().ListenerPort() != 0;
    };
    CameraRequest request = CameraRequestOf(window->Runtime().Cameras()[0].settings);
    request.nOptions |= REQUEST_USE;
    window->Runtime().CameraSettingsChanged(0, request, false);
    window->TimerTick();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(fRunningInBox);
    EXPECT_FALSE(fClosed);
    EXPECT_TRUE(WaitWithEvents([&] { return fClosed; }));
    EXPECT_EQ(window->Runtime().ListenerPort(), 0);
}

// English for every other language; the Japanese source stays for Japanese.
TEST_F(HostWindowTest, TranslationsFollowTheLocale) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    ASSERT_TRUE(InstallTranslations(*app, QLocale(QLocale::English)));
    Open();
    EXPECT_EQ(Find<QCheckBox>(1011)->text(), "Use");
    EXPECT_EQ(window->TrayMenu()->actions().back()->text(), "E&xit");
    InstallTranslations(*app, QLocale(QLocale::Japanese, QLocale::Japan));
    Reopen();
    EXPECT_EQ(Find<QCheckBox>(1011)->text(), "使用する");
    const std::string ts = ReadFileText(std::string(BRINDLE_SOURCE_DIR) + "/i18n/host_en.ts");
    ASSERT_FALSE(ts.empty());
    EXPECT_EQ(ts.find("unfinished"), std::string::npos);
}

// The program itself: without a display it names --headless and ends with
// 1; on one data folder a second start hands over to the first and ends
// with 2; a stop signal ends the first in order.
TEST(HostProgram, NoDisplayAndSecondStart) {
    const std::string program = std::string(BRINDLE_BINARY_DIR) + "/bin/BrindleHost";
    TempDir dir;
    WriteFileText(dir.File("BrindleHost.ini"), "[Settings]\r\nPort=0\r\n");
    {
        ScopedEnv platform("QT_QPA_PLATFORM", nullptr);
        ScopedEnv display("DISPLAY", nullptr);
        ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
        ChildProcess child;
        ASSERT_TRUE(child.Start(program, {"--data-dir", dir.Path()}, dir.File("none.out")));
        EXPECT_EQ(child.Wait(60000), 1);
        EXPECT_NE(ReadFileText(dir.File("none.out")).find("--headless"), std::string::npos);
    }
    ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    ChildProcess first;
    ASSERT_TRUE(first.Start(program, {"--data-dir", dir.Path(), "--listen", "127.0.0.1"},
                            dir.File("first.out")));
    // The log is opened once the data folder is locked.
    ASSERT_TRUE(
        WaitUntil([&] { return std::filesystem::exists(dir.File("BrindleHost.log")); }, 60000, 20));
    ChildProcess second;
    ASSERT_TRUE(second.Start(program, {"--data-dir", dir.Path()}, dir.File("second.out")));
    EXPECT_EQ(second.Wait(60000), 2);
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(first.Stop(60000), 0);
}

} // namespace
} // namespace brindle::test
