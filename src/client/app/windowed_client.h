// BrindleView with its window: one window per data folder, the tray, and
// the connection threads served by the window's event loop.
#pragma once

#include "client/app/client_runtime.h"

namespace brindle {

// Runs the windowed program until it is closed; returns the exit code:
// 0, or 1 when there is no display or the data folder cannot be used. A
// second start on the same data folder shows the running window and ends
// with 0.
int RunWindowedClient(int argc, char** argv, const ClientOptions& options);

} // namespace brindle
