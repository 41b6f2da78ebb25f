// BrindleView's program core without its windows: settings, the save
// folder, connecting servers by their text, the hourly listing and
// retention cleanup of the stored images, and the power watch. The headless
// program drives it now; the main window drives it the same way.
#pragma once

#include "platform/stop_signals.h" // BlockStopSignals, for main

#include "client/connections/client_context.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

class Clock;
class ClientHost;
class ClientRelay;
class NetworkEnvironment;
class SleepWatcher;
struct ListingClock;

struct ClientOptions {
    bool fHeadless = false;
    bool fHelp = false;
    bool fVersion = false;
    std::string cDataDir;
    std::vector<std::string> connect; // "host:port" texts; a name alone: through a storage
    std::string cStorage;             // --storage URI: the account for storage-linked servers
    std::string cPasswordFile;
    // Storage account commands.
    std::string cSetStorage;    // --set-storage URI
    std::string cDeleteStorage; // --delete-storage URI
    bool fAnyCertificate = false;
};

// Reads the command line. Returns false with `error` set for an unknown
// option or a missing value.
bool ParseClientOptions(int argc, const char* const* argv, ClientOptions& options,
                        std::string& error);

std::string ClientUsage();
std::string ClientVersion(); // the version box's text, "Brindle View Ver 1.02"

struct ClientRuntimeOptions {
    std::string cDataFolder; // holds BrindleView.ini; opened and locked by the caller
    ClientHost* pHost = nullptr;
    NetworkEnvironment* pNetwork = nullptr;
    const Clock* pClock = nullptr; // null: the system clock
    bool fWatchPower = true;       // follow suspend and resume
    // Storage-linked servers: the account of this URI (empty: the server's
    // saved one, else the first), and this computer's name in relay files
    // (empty: the system's).
    std::string cStorageUri;
    std::string cComputerName;
    // Asked before a missing save folder is created (the window asks the
    // user); null: created without asking. A folder refused stays missing.
    std::function<bool(const std::string& folder)> askCreateFolder;
};

enum class ConnectResult {
    kStarted,       // a connection thread runs for the server now
    kRunning,       // one ran already
    kNotAServer,    // the text names no server (bad port, empty address)
    kStorageLinked, // reached through an online storage without a usable account
    kRelayName,     // this computer's or the server's name cannot name relay files
    kNotStarted,    // the thread could not be started
};

class ClientRuntime {
  public:
    explicit ClientRuntime(ClientRuntimeOptions options);
    ~ClientRuntime(); // Shutdown
    ClientRuntime(const ClientRuntime&) = delete;
    ClientRuntime& operator=(const ClientRuntime&) = delete;

    // Reads the settings ("Debug", "Folder", "Save", "Days") and starts the
    // power watch. The log is the caller's.
    void Start();

    // Connects the server a text names. A usable text joins the recently
    // used list when fRemember is set; a bad one is never saved. A
    // storage-linked server relays through the account of `storageUri`
    // (the window's choice) when given, else as the options say.
    ConnectResult ConnectText(std::string_view text, bool fRemember,
                              std::string_view storageUri = {});
    // Connects the recently used servers marked for auto-connect.
    void ConnectAutomatic();
    // Connection threads running now.
    int RunningServers();

    // The timer duty, called at least once a minute: at every new hour each
    // camera's images are listed anew (which removes day folders past the
    // retention days); a camera not listed yet is listed at the first tick
    // that finds it in a loaded camera table.
    void Tick();

    // Stops the connection threads and the power watch.
    void Shutdown();

    // The settings the window edits; each is saved to BrindleView.ini.
    // Returns 0 or the code of the failed write (the value is in force
    // all the same).
    uint32_t SetFolder(const std::string& cFolder);
    uint32_t SetSave(bool fSave);
    uint32_t SetDays(uint32_t nDays);
    std::string SaveFolder();
    bool Save() const { return ctx_.fSave.load(); }
    uint32_t Days() const { return nDays_; }

    ClientContext& Context() { return ctx_; }
    ClientRelay& Relay() { return *relay_; }

  private:
    class PowerEventsOf;

    ClientContext ctx_;
    std::string cStorageUri_;
    std::unique_ptr<ClientRelay> relay_;
    bool fWatchPower_;
    uint32_t nDays_ = 31;
    std::unique_ptr<ListingClock> listingClock_;
    std::set<const ClientViewer*> listed_; // cameras listed at least once
    std::unique_ptr<PowerEventsOf> powerEvents_;
    std::unique_ptr<SleepWatcher> sleepWatcher_;
    bool fShutDown_ = false;
    std::function<bool(const std::string&)> askCreateFolder_;
};

// --set-storage (user name and password lines from standard input) and
// --delete-storage: the storage account in BrindleView.ini. Deleting is
// refused while a BrindleView uses the data folder. Return the exit code.
int SetStorageFromInput(const ClientOptions& options);
int DeleteStorage(const ClientOptions& options);

// Runs until SIGINT, SIGTERM or SIGHUP; returns the exit code.
int RunHeadlessClient(const ClientOptions& options);

} // namespace brindle
