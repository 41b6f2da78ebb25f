// Telling a service manager (systemd, Type=notify) how the program is doing.
//
// Only a program that a service manager started has NOTIFY_SOCKET in its
// environment; without it every call here does nothing, so the programs
// call these unconditionally.
#pragma once

#include <string>

namespace brindle {

// True when a service manager waits for our notifications.
bool ServiceManagerWatches();

// "READY=1" with a status line: the program serves now.
void NotifyServiceReady(const std::string& status);

// "STOPPING=1": the program has begun to shut down.
void NotifyServiceStopping();

} // namespace brindle
