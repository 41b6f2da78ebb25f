// What BrindleHost does once its command line is read.
#pragma once

#include "platform/stop_signals.h" // BlockStopSignals, for main

#include "platform/file_lock.h"
#include "server/app/host_options.h"
#include "server/app/server_runtime.h"

#include <string>

namespace brindle {

// Exit codes. 2 has two meanings, both of which a retry cannot mend; the
// systemd units list 2 and 73 in RestartPreventExitStatus.
inline constexpr int HOST_EXIT_OK = 0;
inline constexpr int HOST_EXIT_ERROR = 1;
inline constexpr int HOST_EXIT_RUNNING = 2;      // another instance serves the data folder
inline constexpr int HOST_EXIT_USAGE = 2;        // a bad command line
inline constexpr int HOST_EXIT_DATA_FOLDER = 73; // the data folder cannot be made or written

// Opens the data folder (made when missing) and checks that it can be
// written. Returns HOST_EXIT_OK, or HOST_EXIT_DATA_FOLDER after one line on
// standard error.
int PrepareDataFolder(const HostOptions& options, std::string& folder);

// What both modes do first: opens the data folder, checks that it can be
// written, and takes its instance lock. Returns HOST_EXIT_OK,
// HOST_EXIT_DATA_FOLDER after one line on standard error, or
// HOST_EXIT_RUNNING when another BrindleHost holds the lock.
int OpenAndLockDataFolder(const HostOptions& options, std::string& folder, FileLock& instance);

// The runtime's options for the command line and the data folder.
RuntimeOptions MakeRuntimeOptions(const HostOptions& options, const std::string& folder,
                                  Power* power);

// Runs the server without a window until SIGINT, SIGTERM or SIGHUP, which
// must be blocked in every thread before any thread starts (see
// BlockStopSignals). Writes nothing to standard output; camera failures go
// to the log and to standard error. Under a service manager it reports
// READY=1 once the listener is open and STOPPING=1 when a signal ends it.
int RunHeadless(const HostOptions& options);

// Reads one line from standard input and stores it as the password.
int SetPasswordFromInput(const HostOptions& options);

// --set-storage and --delete-storage: the storage account of the settings
// file. Deleting is refused while a BrindleHost serves the data folder.
int SetStorageFromInput(const HostOptions& options);
int DeleteStorage(const HostOptions& options);

} // namespace brindle
