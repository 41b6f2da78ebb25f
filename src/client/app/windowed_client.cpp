#include "client/app/windowed_client.h"
#include "platform/stop_signals.h"

#include "client/app/client_window.h"
#include "client/connections/address.h"
#include "common/error_text.h"
#include "common/log.h"
#include "platform/data_folder.h"
#include "platform/display.h"
#include "platform/file_lock.h"
#include "widgets/program_icon.h"
#include "widgets/single_instance.h"
#include "widgets/translations.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

namespace brindle {

int RunWindowedClient(int argc, char** argv, const ClientOptions& options) {
    if (std::string problem = DisplayProblem(); !problem.empty()) {
        std::fprintf(stderr, "BrindleView: %s; use --headless to run without a window\n",
                     problem.c_str());
        return 1;
    }
    std::string dataFolder;
    uint32_t rc = OpenDataFolder("BrindleView", options.cDataDir, dataFolder);
    if (rc != 0) {
        std::fprintf(stderr, "BrindleView: cannot open the data folder (0x%08X %s)\n", rc,
                     ErrorText(rc).c_str());
        return 1;
    }
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    // Every window of ours shows the icon, and the desktop matches our
    // windows to brindle-view.desktop.
    QApplication::setWindowIcon(ViewIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("brindle-view"));
    InstallTranslations(app);
    SingleInstance single(SINGLE_INSTANCE_VIEW, dataFolder);
    FileLock instance;
    if (LockSingleInstance(dataFolder, "BrindleView", instance) != 0) {
        // The running window comes to the front; this start ends.
        if (single.NotifyRunning() == 0)
            return 0;
        std::fprintf(stderr, "BrindleView: another BrindleView uses %s\n", dataFolder.c_str());
        return 1;
    }
    single.Listen();

    // The stop signals (blocked in every thread since main) close the window
    // as "終了" does, without the question.
    sigset_t set = StopSignals();
    int nSignalFd = ::signalfd(-1, &set, SFD_CLOEXEC);

    LogOpen(dataFolder + "/BrindleView.log");
    SystemNetwork network;
    int nExit = 0;
    {
        ClientWindowOptions windowOptions;
        windowOptions.cDataFolder = dataFolder;
        windowOptions.pNetwork = &network;
        ClientMainWindow window(windowOptions);
        QObject::connect(&single, &SingleInstance::ShowRequested, &window,
                         &ClientMainWindow::OpenFromTray);
        std::unique_ptr<QSocketNotifier> notifier;
        if (nSignalFd >= 0) {
            notifier = std::make_unique<QSocketNotifier>(nSignalFd, QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, &window,
                             [&window, nSignalFd] {
                                 signalfd_siginfo info{};
                                 if (::read(nSignalFd, &info, sizeof info) <= 0)
                                     return;
                                 window.CloseNow();
                                 QApplication::quit();
                             });
        }
        window.Start();
        for (const std::string& text : options.connect)
            window.ConnectFromCommandLine(text);
        nExit = app.exec();
        window.CloseNow();
    }
    if (nSignalFd >= 0)
        ::close(nSignalFd);
    LogClose();
    return nExit;
}

} // namespace brindle
