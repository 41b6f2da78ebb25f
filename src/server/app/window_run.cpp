#include "server/app/window_run.h"

#include "common/log.h"
#include "platform/data_folder.h"
#include "platform/file_lock.h"
#include "platform/power.h"
#include "server/app/host_run.h"
#include "server/app/main_window.h"
#include "server/app/server_settings.h"
#include "widgets/program_icon.h"
#include "widgets/single_instance.h"
#include "widgets/translations.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sys/signalfd.h>
#include <unistd.h>

namespace brindle {

int RunWindowed(const HostOptions& options, int& argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Every window of ours (previews, image windows, dialogs) shows the
    // icon, and the desktop matches our windows to brindle-host.desktop.
    QApplication::setWindowIcon(HostIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("brindle-host"));
    InstallTranslations(app);

    std::string folder;
    FileLock instance;
    if (int nExit = OpenAndLockDataFolder(options, folder, instance); nExit != HOST_EXIT_OK) {
        // The first instance shows itself; this one ends.
        if (nExit == HOST_EXIT_RUNNING)
            SingleInstance(SINGLE_INSTANCE_HOST, folder).NotifyRunning();
        return nExit;
    }
    SingleInstance single(SINGLE_INSTANCE_HOST, folder);
    if (uint32_t err = single.Listen())
        std::fprintf(stderr, "BrindleHost: a second start cannot reach this one (error 0x%08X)\n",
                     err);

    LogOpen(folder + "/" + SERVER_LOG_FILE_NAME);
    std::unique_ptr<Power> power = CreateSystemPower();
    HostWindowOptions windowOptions;
    windowOptions.runtime = MakeRuntimeOptions(options, folder, power.get());
    int nExit = HOST_EXIT_OK;
    std::unique_ptr<HostMainWindow> window;
    try {
        window = std::make_unique<HostMainWindow>(windowOptions);
    } catch (const std::bad_alloc&) {
        QMessageBox::critical(
            nullptr, QStringLiteral("Brindle Host"),
            QCoreApplication::translate("HostMainWindow",
                                        "ウインドウを作成できませんでした。実行を中止します!"));
        LogClose();
        return HOST_EXIT_ERROR;
    }
    if (window->Start() != 0) {
        nExit = HOST_EXIT_ERROR;
    } else {
        QObject::connect(&single, &SingleInstance::ShowRequested, window.get(),
                         &HostMainWindow::ShowFromTray);
        QObject::connect(window.get(), &HostMainWindow::Closed, &app, &QApplication::quit);
        // SIGINT, SIGTERM and SIGHUP (blocked in every thread since main)
        // end the program as "終了" does, without the question: the session
        // is ending.
        sigset_t set;
        sigemptyset(&set);
        for (int nSignal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&set, nSignal);
        const int nSignalFd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
        std::unique_ptr<QSocketNotifier> stop;
        if (nSignalFd >= 0) {
            stop = std::make_unique<QSocketNotifier>(nSignalFd, QSocketNotifier::Read);
            QObject::connect(stop.get(), &QSocketNotifier::activated, window.get(), [&] {
                signalfd_siginfo info{};
                while (::read(nSignalFd, &info, sizeof info) > 0) {
                }
                window->EndWithoutQuestion();
            });
        }
        power->Watch(&window->Runtime());
        // In the tray the window starts hidden; without a tray it is the
        // only way in, so it shows.
        if (!window->HasTray())
            window->show();
        nExit = app.exec();
        power->Watch(nullptr);
        stop.reset();
        if (nSignalFd >= 0)
            ::close(nSignalFd);
    }
    window.reset();
    LogClose();
    return nExit;
}

} // namespace brindle
