// Takes the screenshots of BrindleView's windows on a real X server (the
// script scripts/screenshots_view.sh runs it under Xvfb): the main window in
// Japanese and English, a storage-linked server with its account, the
// password dialog, the tray menu and the remote property dialog.
#include "client/app/client_window.h"
#include "client/app/password_dialog.h"
#include "client/app/remote_property_dialog.h"
#include "client/connections/client_context.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "platform/clock.h"
#include "storage/account_form.h"
#include "widgets/translations.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>

// In a file of its own: the server's headers and the client's do not mix.
std::vector<uint8_t> TestCameraDescription();

namespace {

void Settle() {
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget& widget, const QString& path) {
    widget.show();
    widget.raise();
    Settle();
    QPixmap shot = widget.grab();
    bool ok = shot.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
    return ok;
}

bool MainWindow(const QString& dataDir, const QString& out) {
    brindle::ClientWindowOptions options;
    options.cDataFolder = dataDir.toStdString();
    options.fWatchPower = false;
    options.fUseTray = false;
    options.askCreateFolder = [](const QString&) { return true; };
    brindle::ClientMainWindow window(options);
    window.Start(false);
    brindle::ServerParams* psp = nullptr;
    {
        auto& ctx = window.Runtime().Context();
        std::lock_guard<std::mutex> guard(ctx.lock);
        psp = ctx.pCurrent;
        if (psp != nullptr) {
            brindle::CameraInfo camera;
            camera.cName = "Brindle Test Camera";
            camera.cName2 = "Brindle_Test_Camera";
            camera.cSection = "testcam:0";
            camera.nConnect = 1;
            camera.fUse = camera.fSend = true;
            camera.nQuality = 75;
            camera.nCycle = 10;
            camera.formats = {{640, 480, 333333}, {320, 240, 333333}};
            psp->cameras = {camera};
            psp->loadCameraInfo = 1;
        }
    }
    window.CameraTableChanged(psp);
    const bool ok = Save(window, out);
    window.CloseNow();
    return ok;
}

// A server reached through an online storage, its account chosen.
bool StorageWindow(const QString& dataDir, const QString& out) {
    QDir().mkpath(dataDir);
    const std::string folder = dataDir.toStdString();
    const std::string ini = folder + "/BrindleView.ini";
    brindle::AccountStore store(ini);
    store.LoadAccounts();
    for (const char* uri : {"https://dav.example.net/brindle/", "https://files.example.org/relay/"}) {
        brindle::AccountForm form;
        form.cUri = uri;
        form.cUser = "brindle";
        form.cPasswd = form.cPasswdAgain = "secret";
        brindle::AccountPtr saved;
        brindle::SaveAccountForm(store, form, saved);
    }
    brindle::IniWriteKey(ini, "Settings", "Server", "camera-pc|192.168.1.20:12345");
    brindle::IniWriteKey(brindle::ServerIniPath(folder, "camera-pc", 0), "Settings", "Webdav",
                         "https://dav.example.net/brindle/");
    brindle::IniWriteKey(ini, "AutoConnect", "camera-pc", "1");
    return MainWindow(dataDir, out);
}

// The replica of the test camera's dialog, from the description the
// server's own model writes for it.
bool PropertyDialogShot(const QString& out) {
    class NoRequests : public brindle::PropertyReplicaHost {
      public:
        bool RequestSlotFree(const void*) override { return true; }
        void PostRequest(const void*, int32_t, int32_t, int32_t, uint32_t, int32_t, int32_t,
                         const std::string&) override {}
    } requests;
    std::vector<uint8_t> description = TestCameraDescription();
    brindle::RemotePropertyDialog dialog(requests, brindle::SystemClock());
    int server = 0;
    dialog.OpenFor(&server, false);
    dialog.Packet(&server, description);
    return Save(dialog, out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: view_screenshots DATA_DIR OUT_DIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QString dataDir = QString::fromLocal8Bit(argv[1]);
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(outDir);
    QDir().mkpath(dataDir);
    const std::string ini = dataDir.toStdString() + "/BrindleView.ini";
    brindle::IniWriteKey(ini, "Settings", "Server", "192.168.1.20:12345|camera-pc:12345");
    brindle::LogOpen(dataDir.toStdString() + "/BrindleView.log");
    bool ok = true;

    brindle::InstallTranslations(app, QLocale(QLocale::Japanese));
    ok &= MainWindow(dataDir, outDir + "/view-main-ja.png");
    ok &= StorageWindow(dataDir + "/storage", outDir + "/view-storage-ja.png");
    {
        brindle::PasswordDialog dialog("192.168.1.20", "secret", false, nullptr);
        ok &= Save(dialog, outDir + "/view-password-ja.png");
    }
    {
        brindle::ClientWindowOptions options;
        options.cDataFolder = dataDir.toStdString();
        options.fWatchPower = false;
        options.fUseTray = false;
        brindle::ClientMainWindow window(options);
        window.Start(false);
        QMenu* menu = window.TrayMenu();
        menu->popup(QPoint(40, 40));
        Settle();
        QPixmap shot = menu->grab();
        ok &= shot.save(outDir + "/view-tray-menu-ja.png");
        std::printf("wrote %s\n", (outDir + "/view-tray-menu-ja.png").toUtf8().constData());
        menu->hide();
        window.CloseNow();
    }
    ok &= PropertyDialogShot(outDir + "/view-property.png");
    brindle::InstallTranslations(app, QLocale(QLocale::English));
    ok &= MainWindow(dataDir, outDir + "/view-main-en.png");
    brindle::LogClose();
    return ok ? 0 : 1;
}
