// BrindleView's main window under the offscreen platform: the server box,
// the number fields, the password dialog, the questions of connection
// threads and the close that must not leave any thread behind.
#include "client/app/client_relay.h"
#include "client/app/client_window.h"
#include "client/app/password_dialog.h"
#include "client/client_test_support.h"
#include "client/connections/client_context.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "imagestore/viewer/viewer_window.h"
#include "storage/account_form.h"
#include "widgets/account_dialog.h"
#include "widgets/timed_message_box.h"
#include "widgets/translations.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

namespace brindle {
namespace {

using test::WaitUntil;

// Runs the event loop until `done` holds (a safety net of 20 s).
bool PumpUntil(const std::function<bool()>& done, int limitMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class ClientWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { LogOpen(dir.File("BrindleView.log")); }
    void TearDown() override {
        if (window)
            window->CloseNow();
        window.reset();
        LogClose();
    }

    std::string Ini() { return dir.File("BrindleView.ini"); }

    void Open(bool fAutoConnect = false) {
        ClientWindowOptions options;
        options.cDataFolder = dir.Path();
        options.pNetwork = &network;
        options.pClock = &clock;
        options.fWatchPower = false;
        options.fUseTray = false;
        options.askCreateFolder = [](const QString&) { return true; };
        window = std::make_unique<ClientMainWindow>(options);
        window->Start(fAutoConnect);
    }

    template <class T> T* Get(int id) {
        T* w = qobject_cast<T*>(window->Control(id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }
    QComboBox* ServerBox() { return Get<QComboBox>(9037); }
    ServerParams* Current() {
        std::lock_guard<std::mutex> guard(window->Runtime().Context().lock);
        return window->Runtime().Context().pCurrent;
    }

    // A server record with one camera, as a settings transfer leaves it.
    ServerParams* ServerWithCamera(const std::string& text) {
        ServerBox()->setEditText(QString::fromStdString(text));
        ServerParams* psp = Current();
        std::lock_guard<std::mutex> guard(window->Runtime().Context().lock);
        CameraInfo camera;
        camera.cName = "Cam";
        camera.cName2 = "Cam";
        camera.cSection = "testcam:0";
        camera.nConnect = 1;
        camera.nCameraId = 1;
        camera.formats = {{640, 480, 333333}};
        psp->cameras = {camera};
        psp->loadCameraInfo = 1;
        return psp;
    }

    test::TempDir dir;
    test::FakeNetwork network;
    test::TestClock clock;
    std::unique_ptr<ClientMainWindow> window;
};

TEST_F(ClientWindowTest, ServerTextSelectsOnlyUsableServers) {
    Open();
    struct Case {
        const char* text;
        bool fServer;
        const char* address;
        int32_t nPort;
        bool fConnect;
    } cases[] = {
        {"host:12345", true, "host", 12345, true},
        {" \thost2:80\t ", true, "host2", 80, true},
        {"host", true, "host", 0, false}, // storage-linked: no storage yet
        {"host:0", false, "", 0, false},
        {"host:70000", false, "", 0, false},
        {"host:-5", false, "", 0, false},
        {"host:x", false, "", 0, false},
        {"", false, "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ServerBox()->setEditText(QString::fromUtf8(c.text));
        ServerParams* psp = Current();
        ASSERT_EQ(psp != nullptr, c.fServer);
        if (psp != nullptr) {
            EXPECT_EQ(psp->cAddress, c.address);
            EXPECT_EQ(psp->nPort, c.nPort);
        }
        EXPECT_EQ(Get<QPushButton>(9042)->isEnabled(), c.fConnect);
    }
    // A server without a settings file: no cameras, nothing to show.
    ServerBox()->setEditText("fresh:12345");
    EXPECT_EQ(Get<QComboBox>(1005)->count(), 0);
    EXPECT_FALSE(Get<QPushButton>(9044)->isEnabled());
    // Connecting a text that names nothing starts nothing and saves nothing.
    ServerBox()->setEditText("host:0");
    QTest::mouseClick(Get<QPushButton>(9042), Qt::LeftButton);
    EXPECT_EQ(window->Runtime().RunningServers(), 0);
    std::string recent;
    EXPECT_NE(IniReadKey(Ini(), "Settings", "Server", recent), 0u);
}

TEST_F(ClientWindowTest, ConnectSavesRecentListAndDisconnectStops) {
    const uint16_t nPort = test::FreeLoopbackPort(); // nobody listens: it keeps trying
    Open();
    const std::string text = "127.0.0.1:" + std::to_string(nPort);
    ServerBox()->setEditText(QString::fromStdString("  " + text));
    Get<QPushButton>(9042)->click();
    std::string recent;
    IniReadKey(Ini(), "Settings", "Server", recent);
    EXPECT_EQ(recent, text);
    EXPECT_EQ(ServerBox()->itemText(0).toStdString(), text);
    EXPECT_EQ(Get<QLabel>(9039)->text(), "接続中");
    EXPECT_EQ(Get<QLabel>(9039)->palette().color(QPalette::Window), QColor(192, 255, 128));
    EXPECT_TRUE(Get<QPushButton>(1050)->isVisibleTo(window.get()));
    EXPECT_FALSE(Get<QPushButton>(9042)->isVisibleTo(window.get()));

    Get<QPushButton>(1050)->click();
    ServerParams* psp = Current();
    ASSERT_NE(psp, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return psp->dwThreadId.load() == 0; }));
    EXPECT_TRUE(PumpUntil([&] { return Get<QLabel>(9039)->text() == "切断"; }));
    EXPECT_EQ(Get<QLabel>(9039)->palette().color(QPalette::Window), QColor(255, 192, 128));
    EXPECT_TRUE(Get<QPushButton>(9042)->isVisibleTo(window.get()));
}

// Numbers act when the field is left, never per keystroke: "14" typed into
// the days field must not save 1 on the way.
TEST_F(ClientWindowTest, NumberFieldsCommitWhenLeftAndClamp) {
    Open();
    QLineEdit* days = Get<QLineEdit>(1016);
    days->clear();
    QTest::keyClicks(days, "14");
    std::string saved;
    EXPECT_NE(IniReadKey(Ini(), "Settings", "Days", saved), 0u);
    QTest::keyClick(days, Qt::Key_Return);
    IniReadKey(Ini(), "Settings", "Days", saved);
    EXPECT_EQ(saved, "14");
    EXPECT_EQ(window->Runtime().Days(), 14u);
    days->clear();
    QTest::keyClick(days, Qt::Key_Return);
    EXPECT_EQ(days->text(), "14"); // empty restores
    days->setText("0");
    QTest::keyClick(days, Qt::Key_Return);
    EXPECT_EQ(days->text(), "1");

    // Camera numbers edit the camera entry in memory; 9043 sends.
    ServerParams* psp = ServerWithCamera("127.0.0.1:1");
    window->CameraTableChanged(psp);
    struct Case {
        int id;
        const char* typed;
        const char* shown;
    } cases[] = {{1003, "150", "100"}, {1003, "-3", "0"}, {1010, "0", "1"}, {1033, "0", "1"},
                 {1003, "", "0"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        QLineEdit* edit = Get<QLineEdit>(c.id);
        edit->setEnabled(true);
        edit->setText(c.typed);
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(edit->text(), c.shown);
    }
    std::lock_guard<std::mutex> guard(window->Runtime().Context().lock);
    EXPECT_EQ(psp->cameras[0].nQuality, 0);
    EXPECT_EQ(psp->cameras[0].nCycle, 1);
    EXPECT_EQ(psp->nCameraRequest.load(), 0); // nothing sent yet
}

// The camera controls follow the link and the camera's own switches.
TEST_F(ClientWindowTest, EnablingFollowsLinkAndCamera) {
    Open();
    ServerParams* psp = ServerWithCamera("127.0.0.1:1");
    window->CameraTableChanged(psp);
    struct Case {
        const char* name;
        bool fRunning, fStopping, fOnline, fConnected, fChange, fSave;
        bool fBasics, fSensitivity, fDays;
    } cases[] = {
        {"offline", true, false, false, true, true, true, false, false, false},
        {"camera absent", true, false, true, false, true, true, false, false, false},
        {"thin-out off", true, false, true, true, false, true, true, false, true},
        {"save on server off", true, false, true, true, true, false, true, true, false},
        {"thread stopping", true, true, true, true, true, true, false, false, false},
        {"no thread", false, false, true, true, true, true, false, false, false},
        {"all on", true, false, true, true, true, true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        psp->dwThreadId = c.fRunning ? 1 : 0;
        psp->fStop = c.fStopping ? 1 : 0;
        psp->fOnline = c.fOnline ? 1 : 0;
        {
            std::lock_guard<std::mutex> guard(window->Runtime().Context().lock);
            psp->cameras[0].nConnect = c.fConnected ? 1 : 0;
            psp->cameras[0].fChange = c.fChange;
            psp->cameras[0].fSave = c.fSave;
        }
        window->ServerStateChanged(psp);
        EXPECT_EQ(Get<QLineEdit>(1003)->isEnabled(), c.fBasics);
        EXPECT_EQ(Get<QPushButton>(9043)->isEnabled(), c.fBasics);
        EXPECT_EQ(Get<QComboBox>(1028)->isEnabled(), c.fSensitivity);
        EXPECT_EQ(Get<QLineEdit>(1033)->isEnabled(), c.fDays);
        EXPECT_EQ(Get<QPushButton>(1007)->isEnabled(), c.fBasics);
        EXPECT_EQ(Get<QPushButton>(1050)->isEnabled(), c.fRunning && !c.fStopping);
    }
    psp->dwThreadId = 0;
}

TEST_F(ClientWindowTest, SetOnServerFillsTheRequestAndKeepsAnUnreadableFont) {
    Open();
    ServerParams* psp = ServerWithCamera("127.0.0.1:1");
    {
        std::lock_guard<std::mutex> guard(window->Runtime().Context().lock);
        psp->cameras[0].cFont = "not a font";
        psp->cameras[0].fUse = true;
        psp->cameras[0].fChange = true;
        psp->nCrypt = 4;
    }
    window->CameraTableChanged(psp);
    EXPECT_FALSE(Get<QPushButton>(9043)->isEnabled()); // offline
    // Online as a running thread leaves it (the test stands in for one).
    psp->dwThreadId = 1;
    psp->fOnline = 1;
    window->ServerStateChanged(psp);
    ASSERT_TRUE(Get<QPushButton>(9043)->isEnabled());
    QLineEdit* quality = Get<QLineEdit>(1003);
    quality->clear();
    QTest::keyClicks(quality, "150");
    Get<QPushButton>(9043)->click(); // commits the field first
    psp->dwThreadId = 0;
    std::lock_guard<std::mutex> guard(window->Runtime().Context().lock);
    EXPECT_EQ(quality->text(), "100");
    EXPECT_EQ(psp->nCameraRequest.load(), 1);
    EXPECT_EQ(psp->cameraRequest.nQuality, 100);
    EXPECT_EQ(psp->cameraRequest.nFlags, REQUEST_FLAG_USE | REQUEST_FLAG_CHANGE);
    EXPECT_EQ(psp->cameraRequest.nCrypt, 4);
    EXPECT_EQ(psp->cameraRequest.cFont, "not a font");
}

TEST(PasswordDialogTest, OkOnlyWhileEqualAndForcedAcceptStays) {
    PasswordDialog dialog("srv", "", false, nullptr);
    auto* first = qobject_cast<QLineEdit*>(dialog.Control(9040));
    auto* second = qobject_cast<QLineEdit*>(dialog.Control(9041));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.windowTitle(), "パスワードの入力 - srv");
    QWidget* ok = dialog.Control(1);
    QTest::keyClicks(first, "Secret");
    EXPECT_FALSE(ok->isEnabled());
    QTest::keyClicks(second, "Secret");
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_EQ(dialog.Password(), "Secret");
    second->setText("secret"); // letter case counts
    EXPECT_FALSE(ok->isEnabled());

    dialog.open();
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    auto* box = dialog.findChild<QMessageBox*>("mismatchBox");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "パスワードの入力が一致しません!");
    EXPECT_EQ(box->windowTitle(), "Brindle View");
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    box->close();

    // 255 bytes of UTF-8 at most, never half a character.
    first->setText(QString(200, QChar(0x3042))); // 3 bytes each
    EXPECT_EQ(first->text().toUtf8().size(), 255);
    EXPECT_EQ(first->text().size(), 85);
}

TEST(PasswordDialogTest, DebugBitFourShowsPlainText) {
    PasswordDialog dialog("srv", "known", true, nullptr);
    auto* first = qobject_cast<QLineEdit*>(dialog.Control(9040));
    EXPECT_EQ(first->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(first->text(), "known");
    EXPECT_TRUE(dialog.Control(1)->isEnabled());
}

// A connection thread asking for a password: OK gives the text, Cancel
// 1223, and a close while it waits ends the wait at once.
TEST_F(ClientWindowTest, PasswordQuestionsOfThreads) {
    Open();
    ServerBox()->setEditText("srv:1");
    ServerParams* psp = Current();
    for (int nAnswer : {0, 1, 2}) {
        SCOPED_TRACE(nAnswer);
        std::atomic<uint32_t> rc{99};
        std::string entered = "old";
        std::thread thread([&] { rc = window->Host().AskPassword(*psp, entered); });
        ASSERT_TRUE(PumpUntil([&] { return !window->OpenQuestions().empty(); }));
        auto* dialog = qobject_cast<PasswordDialog*>(window->OpenQuestions().front());
        ASSERT_NE(dialog, nullptr);
        if (nAnswer == 0) {
            qobject_cast<QLineEdit*>(dialog->Control(9040))->setText("Secret");
            qobject_cast<QLineEdit*>(dialog->Control(9041))->setText("Secret");
            dialog->accept();
        } else if (nAnswer == 1) {
            dialog->reject();
        } else {
            window->CloseNow();
        }
        ASSERT_TRUE(PumpUntil([&] { return rc.load() != 99; }));
        thread.join();
        EXPECT_EQ(rc.load(), nAnswer == 0 ? 0u : PASSWORD_CANCELLED);
        if (nAnswer == 0) {
            EXPECT_EQ(entered, "Secret");
        }
    }
    // Closed: a new question is answered at once.
    std::string entered;
    EXPECT_EQ(window->Host().AskPassword(*psp, entered), PASSWORD_CANCELLED);
}

TEST_F(ClientWindowTest, ThreadBoxesCloseThemselvesAndOnClose) {
    Open();
    window->SetBoxLimitDivisor(1000); // the 30,000 ms box closes after 30 ms
    std::thread timed([&] {
        window->Host().ShowMessage("サーバ1.2.3.4から応答がないため切断・再接続します。", 30000);
    });
    ASSERT_TRUE(PumpUntil([&] { return window->LastBoxResult() == TIMED_OUT_RESULT; }));
    timed.join();

    std::atomic<bool> fReturned{false};
    std::thread waiting([&] {
        window->Host().ShowMessage("メモリが確保できません!", 0);
        fReturned = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return !window->OpenQuestions().empty(); }));
    window->CloseNow();
    ASSERT_TRUE(PumpUntil([&] { return fReturned.load(); }));
    waiting.join();
}

TEST_F(ClientWindowTest, AutoConnectSkipsWhatCannotConnect) {
    const std::string a = "127.0.0.1:" + std::to_string(test::FreeLoopbackPort());
    const std::string b = "127.0.0.2:" + std::to_string(test::FreeLoopbackPort());
    IniWriteKey(Ini(), "Settings", "Server", "host:0|" + a + "|" + b);
    for (const char* key : {"host", "127.0.0.1", "127.0.0.2"})
        IniWriteKey(Ini(), "AutoConnect", key, "1");
    Open(true);
    EXPECT_TRUE(PumpUntil([&] { return window->Runtime().RunningServers() == 2; }));
}

// A live picture of a camera without an image window opens one in live
// mode and reaches it.
TEST_F(ClientWindowTest, LivePictureOpensTheViewer) {
    Open();
    ServerParams* psp = ServerWithCamera("127.0.0.1:1");
    ClientViewer* viewer = GetImage(window->Runtime().Context(), psp, 0);
    {
        std::lock_guard<std::mutex> guard(window->Runtime().Context().lock);
        viewer->picture.nWidth = 4;
        viewer->picture.nHeight = 2;
        viewer->picture.nStride = 12;
        viewer->picture.pixels.assign(24, 200);
    }
    std::atomic<bool> fDone{false};
    std::thread thread([&] {
        window->Host().ShowLivePicture(*viewer, 133000000000000000ull);
        fDone = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return fDone.load(); }));
    thread.join();
    ImageViewerWindow* shown = window->ViewerWindowOf(viewer);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(viewer->entry.nMode, VIEWER_LIVE);
    EXPECT_EQ(shown->windowTitle(), "127.0.0.1 Cam");
    EXPECT_TRUE(PumpUntil([&] { return shown->ShownImage().width() == 4; }));
    // The tray menu lists it.
    bool fListed = false;
    emit window->TrayMenu()->aboutToShow();
    for (QAction* a : window->TrayMenu()->actions())
        fListed |= a->property("id").toInt() == 30000 && a->isEnabled();
    EXPECT_TRUE(fListed);
}

// --- The storage list (9057) and its settings button (1051) -----------------

class ClientWindowStorageTest : public ClientWindowTest {
  protected:
    void SetUp() override {
        ClientWindowTest::SetUp();
        // Relay files carry this computer's name; the host's may not fit.
        ::setenv("COMPUTERNAME", "WINDOWTEST", 1);
        // Nobody listens there: a relayed connection keeps trying.
        base = "http://127.0.0.1:" + std::to_string(test::FreeLoopbackPort());
        a = base + "/a/";
        b = base + "/b/";
    }
    void TearDown() override {
        ClientWindowTest::TearDown();
        ::unsetenv("COMPUTERNAME");
    }

    // An account as the dialog saves it; with fSetUp false its relay
    // folder counts as not set up (Setup 0).
    void AddAccount(const std::string& uri, bool fSetUp = true) {
        AccountStore store(Ini());
        store.LoadAccounts();
        AccountForm form;
        form.cUri = uri;
        form.cUser = "alice";
        form.cPasswd = form.cPasswdAgain = "pw";
        AccountPtr saved;
        ASSERT_EQ(SaveAccountForm(store, form, saved), 0u);
        if (!fSetUp)
            IniWriteKey(Ini(), uri, "Setup", "0");
    }

    QComboBox* StorageList() { return Get<QComboBox>(9057); }
    QPushButton* StorageButton() { return Get<QPushButton>(1051); }
    void Choose(const std::string& uri) {
        int n = StorageList()->findText(QString::fromStdString(uri));
        ASSERT_GE(n, 0) << uri;
        StorageList()->setCurrentIndex(n);
    }
    std::string SavedStorage(ServerParams* psp) {
        std::string value;
        IniReadKey(psp->cServerIni, "Settings", "Webdav", value);
        return value;
    }
    // The storage dialog's field `name`.
    template <class T> T* Field(const char* name) {
        AccountDialog* dialog = window->StorageDialog();
        T* w = dialog ? dialog->findChild<T*>(name) : nullptr;
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    std::string Log() { return test::ReadFileText(dir.File("BrindleView.log")); }

    std::string base, a, b;
};

TEST_F(ClientWindowStorageTest, ListShowsAndKeepsEachServersAccount) {
    AddAccount(a);
    AddAccount(b);
    // A server that relayed before names its account, in any case.
    const std::string upper = QString::fromStdString(b).toUpper().toStdString();
    IniWriteKey(ServerIniPath(dir.Path(), "known", 0), "Settings", "Webdav", upper);
    Open();
    ASSERT_EQ(StorageList()->count(), 2);

    // No server: nothing to choose for.
    ServerBox()->setEditText("");
    EXPECT_FALSE(StorageList()->isEnabled());
    EXPECT_FALSE(StorageButton()->isEnabled());

    ServerBox()->setEditText("known");
    EXPECT_EQ(StorageList()->currentText().toStdString(), b);
    EXPECT_TRUE(Get<QCheckBox>(1018)->isEnabled());

    // A new storage-linked server has none until one is chosen; the
    // choice is saved with the server and shown when it is selected again.
    ServerBox()->setEditText("fresh");
    ServerParams* fresh = Current();
    EXPECT_EQ(StorageList()->currentIndex(), -1);
    EXPECT_TRUE(StorageList()->isEnabled());
    EXPECT_TRUE(Get<QPushButton>(9042)->isEnabled());
    EXPECT_FALSE(Get<QCheckBox>(1018)->isEnabled()); // no account: no auto-connect
    Choose(a);
    EXPECT_EQ(SavedStorage(fresh), a);
    EXPECT_TRUE(Get<QCheckBox>(1018)->isEnabled());
    ServerBox()->setEditText("127.0.0.1:5000");
    EXPECT_EQ(StorageList()->currentIndex(), -1);
    EXPECT_TRUE(Get<QCheckBox>(1018)->isEnabled()); // a TCP server needs none
    ServerBox()->setEditText("fresh");
    EXPECT_EQ(StorageList()->currentText().toStdString(), a);
    {
        std::lock_guard<std::mutex> guard(window->Runtime().Context().lock);
        EXPECT_EQ(fresh->cStorage, a);
    }
}

// Without accounts a storage-linked server cannot be connected; 1051 adds
// one, which the list then holds and the server relays through.
TEST_F(ClientWindowStorageTest, SettingsButtonAddsAnAccountForTheServer) {
    Open();
    ServerBox()->setEditText("relayhost");
    ServerParams* psp = Current();
    EXPECT_EQ(StorageList()->count(), 0);
    EXPECT_FALSE(Get<QPushButton>(9042)->isEnabled());
    ASSERT_TRUE(StorageButton()->isEnabled());

    StorageButton()->click();
    ASSERT_NE(window->StorageDialog(), nullptr);
    EXPECT_TRUE(window->StorageDialog()->isVisible());
    Field<QComboBox>("uri")->setEditText(QString::fromStdString(a));
    Field<QLineEdit>("user")->setText("bob");
    Field<QLineEdit>("passwd")->setText("secret");
    Field<QLineEdit>("passwdAgain")->setText("secret");
    Field<QPushButton>("ok")->click();
    ASSERT_TRUE(PumpUntil([&] { return window->StorageDialog() == nullptr; }));

    EXPECT_EQ(StorageList()->count(), 1);
    EXPECT_EQ(StorageList()->currentText().toStdString(), a);
    EXPECT_EQ(SavedStorage(psp), a);
    EXPECT_TRUE(Get<QPushButton>(9042)->isEnabled());
    AccountPtr account = window->Runtime().Relay().Store().Find(a);
    ASSERT_TRUE(account);
    EXPECT_EQ(account->cUser, "bob");
    EXPECT_EQ(window->Runtime().RunningServers(), 0); // the button only sets up

    // Cancel changes nothing.
    StorageButton()->click();
    ASSERT_NE(window->StorageDialog(), nullptr);
    EXPECT_EQ(Field<QComboBox>("uri")->currentText().toStdString(), a);
    Field<QPushButton>("cancel")->click();
    ASSERT_TRUE(PumpUntil([&] { return window->StorageDialog() == nullptr; }));
    EXPECT_EQ(StorageList()->currentText().toStdString(), a);
}

// Connect relays through the account chosen in the list (not the first),
// through the runtime; while it runs the choice cannot change.
TEST_F(ClientWindowStorageTest, ConnectRelaysThroughTheChosenAccount) {
    AddAccount(a);
    AddAccount(b);
    Open();
    ServerBox()->setEditText("relayhost");
    ServerParams* psp = Current();
    Choose(b);
    Get<QPushButton>(9042)->click();
    EXPECT_EQ(window->StorageDialog(), nullptr);
    ASSERT_NE(psp->dwThreadId.load(), 0u);
    ASSERT_NE(psp->pStorage, nullptr);
    EXPECT_EQ(psp->pStorage->Name(), b);
    EXPECT_EQ(psp->pStorage, window->Runtime().Relay().Link(b));
    std::string recent;
    IniReadKey(Ini(), "Settings", "Server", recent);
    EXPECT_EQ(recent, "relayhost");
    EXPECT_FALSE(StorageList()->isEnabled());
    EXPECT_FALSE(StorageButton()->isEnabled());
    EXPECT_EQ(StorageList()->currentText().toStdString(), b);

    Get<QPushButton>(1050)->click();
    EXPECT_TRUE(PumpUntil([&] { return psp->dwThreadId.load() == 0; }));
    EXPECT_TRUE(PumpUntil([&] { return StorageList()->isEnabled(); }));
    EXPECT_EQ(SavedStorage(psp), b);
}

// A server whose name cannot name relay files is refused with a box that
// says why, not left looking as if nothing happened.
TEST_F(ClientWindowStorageTest, ConnectRefusesANameRelayFilesCannotCarry) {
    AddAccount(a);
    Open();
    ServerBox()->setEditText("relay.host");
    Choose(a);
    Get<QPushButton>(9042)->click();
    EXPECT_EQ(window->Runtime().RunningServers(), 0);
    QMessageBox* shown = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->text().contains("63"))
            shown = box;
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->text().contains("コンピュータ名またはサーバ名"));
    shown->close();
}

// An account whose folder is not set up (or none chosen) opens the storage
// settings at connect; Cancel connects nothing, OK connects through the
// account it saved.
TEST_F(ClientWindowStorageTest, ConnectWithoutUsableAccountAsksFirst) {
    AddAccount(a, false);
    Open();
    ServerBox()->setEditText("relayhost");
    ServerParams* psp = Current();
    for (bool fChosen : {false, true}) {
        SCOPED_TRACE(fChosen);
        if (fChosen)
            Choose(a);
        Get<QPushButton>(9042)->click();
        ASSERT_NE(window->StorageDialog(), nullptr);
        EXPECT_EQ(psp->dwThreadId.load(), 0u);
        Field<QPushButton>("cancel")->click();
        ASSERT_TRUE(PumpUntil([&] { return window->StorageDialog() == nullptr; }));
        EXPECT_EQ(window->Runtime().RunningServers(), 0);
    }

    Get<QPushButton>(9042)->click();
    ASSERT_NE(window->StorageDialog(), nullptr);
    EXPECT_EQ(Field<QComboBox>("uri")->currentText().toStdString(), a);
    Field<QPushButton>("ok")->click(); // the saved password is shown in both fields
    ASSERT_TRUE(PumpUntil([&] { return window->StorageDialog() == nullptr; }));
    ASSERT_NE(psp->dwThreadId.load(), 0u);
    EXPECT_EQ(psp->pStorage->Name(), a);
}

// Auto-connect of storage-linked servers follows the runtime: through the
// saved account when it is set up, else cancelled with a log line.
TEST_F(ClientWindowStorageTest, AutoConnectNeedsASetUpAccount) {
    AddAccount(a);
    AddAccount(b, false);
    IniWriteKey(Ini(), "Settings", "Server", "good|bad");
    IniWriteKey(ServerIniPath(dir.Path(), "good", 0), "Settings", "Webdav", a);
    IniWriteKey(ServerIniPath(dir.Path(), "bad", 0), "Settings", "Webdav", b);
    for (const char* key : {"good", "bad"})
        IniWriteKey(Ini(), "AutoConnect", key, "1");
    Open(true);
    EXPECT_TRUE(PumpUntil([&] { return window->Runtime().RunningServers() == 1; }));
    EXPECT_TRUE(PumpUntil([&] {
        return Log().find("サーバbadのオンラインストレージ設定が不十分なため自動接続を中止") !=
               std::string::npos;
    }));
    ServerBox()->setEditText("good");
    EXPECT_EQ(StorageList()->currentText().toStdString(), a);
    EXPECT_FALSE(StorageList()->isEnabled());
}

// English is a complete translation: every text of the catalogue has one,
// and the window, its state texts and the thread boxes use it.
TEST_F(ClientWindowTest, EnglishTranslation) {
    const std::string ts = test::ReadFileText(BRINDLE_SOURCE_DIR "/i18n/view_en.ts");
    EXPECT_EQ(ts.find("unfinished"), std::string::npos);
    ASSERT_TRUE(InstallTranslations(*qApp, QLocale(QLocale::English)));
    Open();
    EXPECT_EQ(Get<QPushButton>(9042)->text(), "Connect");
    EXPECT_EQ(Get<QPushButton>(1012)->text(), "Exit");
    EXPECT_EQ(CipherNames().value(2), "112-bit two-key DES");
    EXPECT_EQ(ClientMainWindow::ThreadText("サーバ10.0.0.1から応答がないため切断・再接続します。"),
              "Server 10.0.0.1 does not answer; disconnecting and connecting again.");
    InstallTranslations(*qApp, QLocale(QLocale::Japanese));
    EXPECT_EQ(ClientMainWindow::ThreadText("メモリが確保できません!"), "メモリが確保できません!");
}

} // namespace
} // namespace brindle
