// BrindleHost with its window.
#pragma once

#include "server/app/host_options.h"

namespace brindle {

// Runs the server with its main window in the tray until the user exits.
// A second start on the same data folder asks the first to show itself and
// returns HOST_EXIT_RUNNING. `argc` and `argv` go to the QApplication,
// which this creates.
int RunWindowed(const HostOptions& options, int& argc, char** argv);

} // namespace brindle
