#include "client/app/client_runtime.h"

#include "client/app/client_relay.h"
#include "client/app/headless_host.h"
#include "client/app/property_console.h"
#include "client/connections/address.h"
#include "client/connections/client_context.h"
#include "client/connections/client_thread.h"
#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/file_io.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/version.h"
#include "imagestore/image_list.h"
#include "imagestore/navigation.h"
#include "platform/clock.h"
#include "platform/computer_name.h"
#include "platform/data_folder.h"
#include "platform/expand_path.h"
#include "platform/file_lock.h"
#include "platform/line_input.h"
#include "platform/power.h"
#include "platform/stop_signals.h"
#include "storage/account_command.h"
#include "storage/relay_names.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <poll.h>
#include <string_view>
#include <sys/signalfd.h>
#include <unistd.h>

namespace brindle {

namespace {

// The settings of BrindleView.ini [Settings] that the runtime uses.
struct ClientSettings {
    uint32_t nDebug = 0;
    char cFolder[EXPAND_PATH_BUFFER] = {};
    uint32_t fSave = 1;
    uint32_t nDays = 31;
};

ClientSettings ReadClientSettings() {
    ClientSettings s;
    static const uint32_t kYes = 1;
    SettingRead({"Settings", "Debug", nullptr, &s.nDebug, nullptr, SETTING_HEX});
    SettingRead({"Settings", "Folder", "", s.cFolder, nullptr, SettingTextFlags(sizeof s.cFolder)});
    SettingRead({"Settings", "Save", &kYes, &s.fSave, nullptr, SETTING_YESNO});
    SettingRead({"Settings", "Days", &s.nDays, &s.nDays, nullptr, 0});
    return s;
}

// The save folder: "Folder" expanded, the data folder when it is empty.
// The window asks before it creates a missing one; here nobody can be asked
// and the user has chosen the folder, so it is created.
std::string SaveFolderOf(const std::string& cFolder, const std::string& dataFolder,
                         const std::function<bool(const std::string&)>& askCreate) {
    std::string folder = ExpandPathText(cFolder);
    if (folder.empty())
        return dataFolder;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec) && (!askCreate || askCreate(folder))) {
        std::filesystem::create_directories(folder, ec);
        LogWrite("保存フォルダ %s を作成%s\r\n", folder.c_str(), ec ? "できません" : "");
    }
    return folder;
}

// The cameras of every server, as the listing tick walks them.
struct ListedCamera {
    ServerParams* psp;
    int nCamera;
    std::string cName2;
};

std::vector<ListedCamera> CamerasOf(ClientContext& ctx) {
    std::vector<ListedCamera> cameras;
    std::lock_guard<std::mutex> guard(ctx.lock);
    for (const auto& psp : ctx.servers)
        for (size_t i = 0; i < psp->cameras.size(); ++i)
            cameras.push_back({psp.get(), static_cast<int>(i), psp->cameras[i].cName2});
    return cameras;
}

// Listings started earlier are read on, so that each is complete by the
// next hour and that hour starts a new one (with its removal of old day
// folders) instead of only finishing this one.
void ReadOnListings(ClientContext& ctx) {
    std::vector<ClientViewer*> listing;
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        for (const auto& viewer : ctx.viewers)
            if (viewer->entry.hListFile.Valid())
                listing.push_back(viewer.get());
    }
    for (ClientViewer* viewer : listing)
        ListFilesSub(viewer->entry);
}

} // namespace

// Suspend and resume, as the power layer hears of them: the connection
// threads take the time spent suspended off their clocks.
class ClientRuntime::PowerEventsOf : public PowerEvents {
  public:
    explicit PowerEventsOf(ClientContext& ctx) : ctx_(ctx) {}
    void PowerSuspending() override { ctx_.nSuspendTick = NonZeroTick(); }
    void PowerResumed() override { ctx_.nResumeTick = NonZeroTick(); }

  private:
    ClientContext& ctx_;
};

ClientRuntime::ClientRuntime(ClientRuntimeOptions options)
    : fWatchPower_(options.fWatchPower), listingClock_(std::make_unique<ListingClock>()),
      askCreateFolder_(std::move(options.askCreateFolder)) {
    ctx_.cDataFolder = options.cDataFolder;
    ctx_.cSettingsFile = options.cDataFolder + "/BrindleView.ini";
    ctx_.cSaveFolder = options.cDataFolder;
    ctx_.pHost = options.pHost;
    ctx_.pNetwork = options.pNetwork;
    ctx_.pClock = options.pClock;
    cStorageUri_ = options.cStorageUri;
    relay_ = std::make_unique<ClientRelay>(ctx_, ctx_.cSettingsFile,
                                           options.cComputerName.empty() ? ComputerName()
                                                                         : options.cComputerName);
}

ClientRuntime::~ClientRuntime() {
    Shutdown();
}

void ClientRuntime::Start() {
    SetProgramSettingsFile(ctx_.cSettingsFile);
    ClientSettings settings = ReadClientSettings();
    g_nDebug = settings.nDebug;
    {
        std::string folder = SaveFolderOf(settings.cFolder, ctx_.cDataFolder, askCreateFolder_);
        // What a crash left half-written goes before anything is written.
        RemoveLeftoverTempFiles(ctx_.cDataFolder);
        RemoveLeftoverImageTemps(folder);
        std::lock_guard<std::mutex> guard(ctx_.lock);
        ctx_.cSaveFolder = folder;
    }
    ctx_.fSave = settings.fSave != 0;
    nDays_ = settings.nDays;
    if (fWatchPower_) {
        powerEvents_ = std::make_unique<PowerEventsOf>(ctx_);
        sleepWatcher_ = std::make_unique<SleepWatcher>();
        sleepWatcher_->Start(powerEvents_.get());
    }
}

ConnectResult ClientRuntime::ConnectText(std::string_view text, bool fRemember,
                                         std::string_view storageUri) {
    std::string address;
    int32_t nPort = 0;
    if (!ParseServerText(text, address, nPort))
        return ConnectResult::kNotAServer;
    if (fRemember)
        AddRecentServer(ctx_, text);
    ServerParams* psp = FindServerParams(ctx_, address, nPort);
    if (psp == nullptr && (psp = CreateServerParams(ctx_, address, nPort)) == nullptr)
        return ConnectResult::kNotStarted;
    if (psp->dwThreadId.load() != 0)
        return ConnectResult::kRunning;
    if (psp->IsStorageLinked()) {
        LoadCameraInfo(ctx_, *psp); // its saved "Webdav"
        AccountLink* link = StorageLinkFor(*relay_, *psp, storageUri.empty() ? std::string_view(cStorageUri_) : storageUri);
        if (link == nullptr)
            return ConnectResult::kStorageLinked;
        std::string upper;
        for (const std::string& name : {relay_->ComputerName(), address})
            if (!RelayPeerName(name, upper)) {
                LogWrite("オンラインストレージ中継: "
                         "コンピュータ名\"%.64s\"は使えません(英数字・_・-の63文字以内)\r\n",
                         name.c_str());
                return ConnectResult::kRelayName;
            }
        psp->pStorage = link;
    }
    return StartClientThread(ctx_, *psp) == 0 ? ConnectResult::kStarted
                                              : ConnectResult::kNotStarted;
}

void ClientRuntime::ConnectAutomatic() {
    for (const std::string& text : RecentServers(ctx_)) {
        std::string_view key = std::string_view(text).substr(0, text.find(':'));
        if (AutoConnectEnabled(ctx_, key) && ConnectText(text, false) == ConnectResult::kNotAServer)
            LogWrite("サーバ%sは接続先として読めないため自動接続を中止\r\n", text.c_str());
    }
}

int ClientRuntime::RunningServers() {
    int nRunning = 0;
    std::lock_guard<std::mutex> guard(ctx_.lock);
    for (const auto& psp : ctx_.servers)
        nRunning += psp->dwThreadId.load() != 0 ? 1 : 0;
    return nRunning;
}

void ClientRuntime::Tick() {
    ReadOnListings(ctx_);
    const Clock& clock = ClockOf(ctx_);
    ListingTick tick = CheckListingTick(*listingClock_, clock.LocalNow());
    std::string saveFolder = SaveFolder();
    for (const ListedCamera& camera : CamerasOf(ctx_)) {
        ClientViewer* viewer = GetImage(ctx_, camera.psp, camera.nCamera);
        if (viewer == nullptr)
            continue;
        // A camera table loaded after the hour began still gets its first
        // listing (and cleanup) now rather than up to an hour later.
        bool fFirst = listed_.insert(viewer).second;
        if (tick == ListingTick::kNone && !fFirst)
            continue;
        ImageTree tree;
        tree.cFolder = saveFolder;
        if (SafeFolderLevel(camera.psp->cAddress, tree.cServer) &&
            SafeFolderLevel(camera.cName2, tree.cCamera))
            RunListingTick(viewer->entry, tick == ListingTick::kNone ? ListingTick::kHour : tick,
                           tree, static_cast<int>(nDays_), clock);
    }
}

void ClientRuntime::Shutdown() {
    if (fShutDown_)
        return;
    fShutDown_ = true;
    if (sleepWatcher_)
        sleepWatcher_->Stop();
    StopClientThreads(ctx_);
    relay_->Close();
}

uint32_t ClientRuntime::SetFolder(const std::string& cFolder) {
    uint32_t rc = IniWriteKey(ctx_.cSettingsFile, "Settings", "Folder", SettingQuoteText(cFolder));
    std::string folder = SaveFolderOf(cFolder, ctx_.cDataFolder, nullptr);
    std::lock_guard<std::mutex> guard(ctx_.lock);
    ctx_.cSaveFolder = folder;
    return rc;
}

uint32_t ClientRuntime::SetSave(bool fSave) {
    ctx_.fSave = fSave;
    return IniWriteKey(ctx_.cSettingsFile, "Settings", "Save", fSave ? "Yes" : "No");
}

uint32_t ClientRuntime::SetDays(uint32_t nDays) {
    nDays_ = nDays;
    return IniWriteKey(ctx_.cSettingsFile, "Settings", "Days", std::to_string(nDays));
}

std::string ClientRuntime::SaveFolder() {
    std::lock_guard<std::mutex> guard(ctx_.lock);
    return ctx_.cSaveFolder;
}

namespace {

// Ticks every minute until a stop signal arrives; returns the signal.
// Runs the runtime's timer duty every minute and the property console's
// commands and packets as they come, until a stop signal arrives.
int TickUntilSignal(ClientRuntime& runtime, int nSignalFd, PropertyConsole& console) {
    using Steady = std::chrono::steady_clock;
    LineInput input(STDIN_FILENO);
    auto nextTick = Steady::now();
    for (;;) {
        if (Steady::now() >= nextTick) {
            runtime.Tick();
            nextTick = Steady::now() + std::chrono::seconds(60);
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Steady::now());
        int nWait = console.TimeoutMs(static_cast<int>(std::max<int64_t>(left.count(), 0)));
        pollfd fds[3] = {
            {nSignalFd, POLLIN, 0}, {console.WakeFd(), POLLIN, 0}, {input.Fd(), POLLIN, 0}};
        if (::poll(fds, input.Fd() >= 0 ? 3 : 2, nWait) > 0 && fds[0].revents != 0) {
            signalfd_siginfo info{};
            ssize_t r = ::read(nSignalFd, &info, sizeof info);
            return r == sizeof info ? static_cast<int>(info.ssi_signo) : 0;
        }
        if (fds[2].revents != 0) {
            std::vector<std::string> lines;
            input.Read(lines);
            for (const std::string& line : lines) {
                if (!console.Command(line) && line.find_first_not_of(" \t") != std::string::npos)
                    std::fprintf(stderr, "BrindleView: unknown command: %s\n", line.c_str());
            }
        }
        console.Run();
    }
}

void ReportConnect(ClientRuntime& runtime, const std::string& text, ConnectResult result) {
    switch (result) {
    case ConnectResult::kNotAServer:
        std::fprintf(stderr, "BrindleView: not a server: %s\n", text.c_str());
        break;
    case ConnectResult::kStorageLinked:
        std::fprintf(stderr,
                     "BrindleView: %s is reached through an online storage, and no usable "
                     "storage account is set (--set-storage URI, --storage URI)\n",
                     text.c_str());
        break;
    case ConnectResult::kRelayName:
        std::fprintf(stderr,
                     "BrindleView: %s: names in relay files are 1-63 letters, digits, _ or -; "
                     "this computer's name (COMPUTERNAME, else the host name) or the server's "
                     "is not\n",
                     text.c_str());
        break;
    case ConnectResult::kNotStarted:
        std::fprintf(stderr, "BrindleView: cannot start the connection to %s\n", text.c_str());
        break;
    case ConnectResult::kStarted:
        std::fprintf(stderr, "BrindleView: connecting to %s; images go under %s\n", text.c_str(),
                     runtime.SaveFolder().c_str());
        break;
    case ConnectResult::kRunning:
        break;
    }
}

} // namespace

int RunHeadlessClient(const ClientOptions& options) {
    std::string dataFolder;
    uint32_t rc = OpenDataFolder("BrindleView", options.cDataDir, dataFolder);
    if (rc != 0) {
        std::fprintf(stderr, "BrindleView: cannot open the data folder (0x%08X %s)\n", rc,
                     ErrorText(rc).c_str());
        return 1;
    }
    FileLock instance;
    if (uint32_t err = LockSingleInstance(dataFolder, "BrindleView", instance); err != 0) {
        if (err == ERROR_SHARING_VIOLATION_CODE)
            std::fprintf(stderr, "BrindleView: another BrindleView uses %s\n", dataFolder.c_str());
        else
            std::fprintf(stderr, "BrindleView: cannot write the data folder %s (0x%08X %s)\n",
                         dataFolder.c_str(), err, ErrorText(err).c_str());
        return 1;
    }
    sigset_t set = StopSignals();
    int nSignalFd = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (nSignalFd < 0) {
        std::perror("BrindleView: signalfd");
        return 1;
    }
    LogOpen(dataFolder + "/BrindleView.log");
    SystemNetwork network;
    HeadlessHost host(options.cPasswordFile);
    int nExit = 0;
    {
        ClientRuntimeOptions runtimeOptions;
        runtimeOptions.cDataFolder = dataFolder;
        runtimeOptions.pHost = &host;
        runtimeOptions.pNetwork = &network;
        runtimeOptions.cStorageUri = options.cStorage;
        ClientRuntime runtime(runtimeOptions);
        runtime.Start();
        // The servers of the command line first (they join the recently
        // used list, as the connect button does), then those marked for
        // auto-connect.
        PropertyConsole console(runtime.Context(), stdout, stderr);
        host.SetConsole(&console);
        bool fStorageRefused = false;
        for (const std::string& text : options.connect) {
            ConnectResult result = runtime.ConnectText(text, true);
            fStorageRefused |=
                result == ConnectResult::kStorageLinked || result == ConnectResult::kRelayName;
            ReportConnect(runtime, text, result);
        }
        runtime.ConnectAutomatic();
        if (fStorageRefused) {
            nExit = 1;
        } else if (runtime.RunningServers() == 0) {
            std::fprintf(stderr, "BrindleView: no server to connect; give one with --connect "
                                 "HOST:PORT\n");
            nExit = 2;
        } else {
            int nSignal = TickUntilSignal(runtime, nSignalFd, console);
            std::fprintf(stderr, "BrindleView: signal %d, stopping\n", nSignal);
        }
        runtime.Shutdown();
        host.SetConsole(nullptr);
    }
    ::close(nSignalFd);
    LogClose();
    return nExit;
}

// Storage account commands.

namespace {

// The data folder and the command for `uri`; false after the message when
// the folder cannot be opened.
bool StorageCommand(const ClientOptions& options, const std::string& uri, std::string& folder,
                    AccountCommand& command) {
    uint32_t rc = OpenDataFolder("BrindleView", options.cDataDir, folder);
    if (rc != 0) {
        std::fprintf(stderr, "BrindleView: cannot open the data folder (0x%08X %s)\n", rc,
                     ErrorText(rc).c_str());
        return false;
    }
    command.cProgram = "BrindleView";
    command.cSettingsFile = folder + "/BrindleView.ini";
    command.cUri = uri;
    command.fAnyCert = options.fAnyCertificate;
    return true;
}

} // namespace

int SetStorageFromInput(const ClientOptions& options) {
    std::string folder;
    AccountCommand command;
    if (!StorageCommand(options, options.cSetStorage, folder, command))
        return 1;
    int nExit = SetStorageAccount(command, std::cin, stdout, stderr);
    FileLock instance;
    if (nExit == 0 && LockSingleInstance(folder, "BrindleView", instance) != 0)
        std::printf("The BrindleView that is running uses it from its next start.\n");
    return nExit;
}

int DeleteStorage(const ClientOptions& options) {
    std::string folder;
    AccountCommand command;
    if (!StorageCommand(options, options.cDeleteStorage, folder, command))
        return 1;
    // A running client may relay through the account.
    FileLock instance;
    if (LockSingleInstance(folder, "BrindleView", instance) != 0) {
        std::fprintf(stderr, "BrindleView: a running BrindleView uses %s; stop it first\n",
                     folder.c_str());
        return 1;
    }
    return DeleteStorageAccount(command, stdout, stderr);
}

bool ParseClientOptions(int argc, const char* const* argv, ClientOptions& options,
                        std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto value = [&](std::string_view name, std::string& out) {
            if (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
                arg[name.size()] == '=') {
                out = std::string(arg.substr(name.size() + 1));
                return true;
            }
            if (arg != name)
                return false;
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return true;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--headless")
            options.fHeadless = true;
        else if (arg == "--help" || arg == "-h")
            options.fHelp = true;
        else if (arg == "--version")
            options.fVersion = true;
        else if (value("--data-dir", options.cDataDir) ||
                 value("--password-file", options.cPasswordFile))
            ;
        else if (value("--connect", text))
            options.connect.push_back(text);
        else if (value("--storage", options.cStorage))
            ;
        else if (value("--set-storage", text) || value("--delete-storage", text)) {
            if (error.empty() && text.empty())
                error = std::string(arg.substr(0, arg.find('='))) + " needs a URI";
            (arg.starts_with("--set") ? options.cSetStorage : options.cDeleteStorage) = text;
        } else if (arg == "--any-certificate")
            options.fAnyCertificate = true;
        else
            error = "unknown option " + std::string(arg);
        if (!error.empty())
            return false;
    }
    return true;
}

std::string ClientUsage() {
    return "Usage: BrindleView [--headless] [--data-dir DIR] [--connect HOST:PORT]...\n"
           "                   [--password-file FILE] [--storage URI]\n"
           "       BrindleView --set-storage URI [--any-certificate] [--data-dir DIR]\n"
           "       BrindleView --delete-storage URI [--data-dir DIR]\n"
           "       BrindleView --help | --version\n"
           "\n"
           "Connects to BrindleHost servers, stores the images they send under the save\n"
           "folder (setting \"Folder\" of BrindleView.ini; the data folder by default) and\n"
           "runs until SIGINT or SIGTERM.\n"
           "\n"
           "  --headless           run without windows\n"
           "  --data-dir DIR       settings, log and images in DIR instead of\n"
           "                       <documents>/BrindleView\n"
           "  --connect HOST:PORT  connect to this server (repeatable); servers marked for\n"
           "                       auto-connect are connected as well. A name without a port\n"
           "                       is a server reached through an online storage\n"
           "  --storage URI        the storage account for such servers (default: the one\n"
           "                       the server used last, else the first)\n"
           "  --password-file FILE the password for servers that ask for one (first line)\n"
           "  --set-storage URI    add or change the online storage account of URI; reads\n"
           "                       the user name and the password from standard input\n"
           "  --any-certificate    with --set-storage: accept any server certificate\n"
           "  --delete-storage URI delete the online storage account of URI\n"
           "  --version            print the version\n"
           "  -h, --help           print this text\n"
           "\n"
           "Exit status: 0 a normal end, 1 an error, 2 a bad command line or no server\n"
           "to connect. See BrindleView(1).\n";
}

std::string ClientVersion() {
    return VersionBoxText("Brindle View");
}

} // namespace brindle
