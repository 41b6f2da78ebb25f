// BrindleHost: the camera server.
#include "common/version.h"
#include "platform/display.h"
#include "server/app/host_options.h"
#include "server/app/host_run.h"
#include "server/app/window_run.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    using namespace brindle;
    BlockStopSignals();
    HostOptions options;
    std::string error;
    if (ParseHostOptions(argc, argv, options, error) != 0) {
        std::fprintf(stderr, "BrindleHost: %s\n\n%s", error.c_str(), HostUsage().c_str());
        return HOST_EXIT_USAGE;
    }
    if (options.fHelp) {
        std::fputs(HostUsage().c_str(), stdout);
        return HOST_EXIT_OK;
    }
    if (options.fVersion) {
        std::printf("BrindleHost %s\n", BRINDLE_VERSION_TEXT);
        return HOST_EXIT_OK;
    }
    if (options.fSetPassword)
        return SetPasswordFromInput(options);
    if (!options.cSetStorage.empty())
        return SetStorageFromInput(options);
    if (!options.cDeleteStorage.empty())
        return DeleteStorage(options);
    if (!options.fHeadless) {
        if (std::string problem = DisplayProblem(); !problem.empty()) {
            std::fprintf(stderr, "BrindleHost: %s; run with --headless to serve without a window.\n",
                         problem.c_str());
            return HOST_EXIT_ERROR;
        }
        return RunWindowed(options, argc, argv);
    }
    // A data folder that cannot serve ends the start with its one line,
    // before Qt has anything to say.
    std::string folder;
    if (int nExit = PrepareDataFolder(options, folder); nExit != HOST_EXIT_OK)
        return nExit;
    // The time stamp is drawn with QPainter, which needs a GUI application;
    // without a window the offscreen platform serves.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    return RunHeadless(options);
}
