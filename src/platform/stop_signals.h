// How a stop signal ends either program. main blocks SIGINT, SIGTERM and
// SIGHUP before any thread exists (BlockStopSignals), so every thread
// inherits the mask: no signal interrupts a worker or kills the process
// halfway through a write. The signals stay pending until the main thread
// reads them from a signalfd in its loop; it then shuts down in order. No
// handler runs asynchronously, so nothing has to be async-signal-safe.
// Children get an empty mask and default dispositions when spawned.
#pragma once

#include <signal.h>

namespace brindle {

// SIGINT, SIGTERM and SIGHUP.
sigset_t StopSignals();

// Blocks the stop signals in the calling thread (call before any thread
// starts) and ignores SIGPIPE: a peer that closes its end costs a send
// error, not the process.
void BlockStopSignals();

} // namespace brindle
