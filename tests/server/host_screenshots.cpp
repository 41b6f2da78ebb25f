// Pictures of BrindleHost's windows for docs/screenshots: run by
// scripts/screenshots.sh under Xvfb, one language per run.
//
//   host_screenshots OUTPUT_FOLDER ja|en
#include "common/log.h"
#include "server/app/host_property_dialog.h"
#include "server/app/main_window.h"
#include "server/app/preview_window.h"
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "widgets/translations.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {

void Settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(QWidget* widget, const QString& file) {
    Settle(300);
    const bool fSaved = widget->grab().save(file);
    std::printf("%s %s\n", fSaved ? "wrote" : "could not write", qPrintable(file));
    return fSaved;
}

} // namespace

int main(int argc, char** argv) {
    using namespace brindle;
    if (argc != 3) {
        std::fprintf(stderr, "usage: host_screenshots OUTPUT_FOLDER ja|en\n");
        return 1;
    }
    QApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const bool fEnglish = QString::fromLocal8Bit(argv[2]) == "en";
    InstallTranslations(app, fEnglish ? QLocale(QLocale::English)
                                      : QLocale(QLocale::Japanese, QLocale::Japan));
    test::TempDir dir;
    test::WriteFileText(dir.File("BrindleHost.ini"),
                        "[Settings]\r\nPort=0\r\n[testcam:0]\r\nUse=Yes\r\nPreview=Yes\r\n"
                        "Send=Yes\r\nSave=Yes\r\nChange=Yes\r\nCycle=1\r\nTime=4\r\n");
    LogOpen(dir.File("BrindleHost.log"));
    HostWindowOptions options;
    options.runtime.cDataFolder = dir.Path();
    options.runtime.cBindAddress = "127.0.0.1";
    options.runtime.nTestCameras = 1;
    options.runtime.fRealCameras = false;
    options.fTray = false;
    bool fOk = true;
    {
        HostMainWindow window(options);
        if (window.Start() != 0)
            return 1;
        window.show();
        Settle(1500);
        const QString suffix = fEnglish ? "en" : "ja";
        fOk &= Save(&window, out + "/host-main-" + suffix + ".png");
        if (!fEnglish) {
            QMenu* menu = window.TrayMenu();
            window.OpenViewer(0);
            Settle(500);
            menu->popup(window.mapToGlobal(QPoint(40, 40)));
            fOk &= Save(menu, out + "/host-tray-menu.png");
            menu->hide();
            window.RunTrayCommand(TRAY_ABOUT);
            if (auto* about = window.findChild<QMessageBox*>("aboutBox"))
                fOk &= Save(about, out + "/host-about.png");
            if (PreviewWindow* preview = window.Preview(0))
                fOk &= Save(preview, out + "/host-preview.png");
            else
                fOk = false;
            if (auto* button = qobject_cast<QAbstractButton*>(window.Control(1007)))
                button->click();
            if (HostPropertyDialog* view = window.PropertyView())
                fOk &= Save(view, out + "/host-property.png");
            else
                fOk = false;
        }
    }
    LogClose();
    return fOk ? 0 : 1;
}
