#include "client/app/client_runtime.h"

#include "client/app/headless_host.h"
#include "client/connections/address.h"
#include "client/connections/client_context.h"
#include "client/connections/client_thread.h"
#include "common/error_text.h"
#include "common/file_io.h"
#include "common/log.h"
#include "common/settings.h"
#include "imagestore/image_list.h"
#include "platform/clock.h"
#include "platform/data_folder.h"
#include "platform/expand_path.h"
#include "platform/file_lock.h"
#include "platform/power.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string_view>
#include <unistd.h>

namespace brindle {

namespace {

// The settings of BrindleView.ini [Settings] that the headless run uses.
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
std::string SaveFolderOf(const ClientSettings& s, const std::string& dataFolder) {
    std::string folder = ExpandPathText(s.cFolder);
    if (folder.empty())
        return dataFolder;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        std::filesystem::create_directories(folder, ec);
        LogWrite("保存フォルダ %s を作成%s\r\n", folder.c_str(), ec ? "できません" : "");
    }
    return folder;
}

void ConnectServer(ClientContext& ctx, std::string_view text) {
    std::string address;
    int32_t nPort = 0;
    if (!ParseServerText(text, address, nPort)) {
        std::fprintf(stderr, "BrindleView: not a server: %.*s\n", static_cast<int>(text.size()),
                     text.data());
        return;
    }
    if (nPort <= 0) {
        LogWrite("サーバ%sのオンラインストレージ設定が不十分なため自動接続を中止\r\n",
                 address.c_str());
        std::fprintf(stderr,
                     "BrindleView: %s is reached through an online storage, which this "
                     "program cannot use yet\n",
                     address.c_str());
        return;
    }
    ServerParams* psp = FindServerParams(ctx, address, nPort);
    if (psp == nullptr && (psp = CreateServerParams(ctx, address, nPort)) == nullptr)
        return;
    if (psp->dwThreadId.load() != 0)
        return;
    uint32_t rc = StartClientThread(ctx, *psp);
    if (rc != 0) {
        std::fprintf(stderr, "BrindleView: cannot start the connection to %s (0x%08X)\n",
                     address.c_str(), rc);
        return;
    }
    std::string level;
    std::fprintf(stderr, "BrindleView: connecting to %s:%d; images go to %s/%s\n", address.c_str(),
                 nPort, ctx.cSaveFolder.c_str(),
                 SafeFolderLevel(address, level) ? level.c_str() : "(not saved)");
}

// The servers of the command line first (they join the recently used list,
// as the connect button does), then those marked for auto-connect.
int ConnectServers(ClientContext& ctx, const ClientOptions& options) {
    for (const std::string& text : options.connect) {
        AddRecentServer(ctx, text);
        ConnectServer(ctx, text);
    }
    for (const std::string& text : RecentServers(ctx)) {
        std::string_view key = std::string_view(text).substr(0, text.find(':'));
        if (AutoConnectEnabled(ctx, key))
            ConnectServer(ctx, text);
    }
    int nRunning = 0;
    std::lock_guard<std::mutex> guard(ctx.lock);
    for (const auto& psp : ctx.servers)
        nRunning += psp->dwThreadId.load() != 0 ? 1 : 0;
    return nRunning;
}

// Suspend and resume, as the power layer hears of them: the connection
// threads take the time spent suspended off their clocks.
class ClientPowerEvents : public PowerEvents {
  public:
    explicit ClientPowerEvents(ClientContext& ctx) : ctx_(ctx) {}
    void PowerSuspending() override { ctx_.nSuspendTick = NonZeroTick(); }
    void PowerResumed() override { ctx_.nResumeTick = NonZeroTick(); }

  private:
    ClientContext& ctx_;
};

// What the main window's minute timer does for the stored images: at every
// new hour list each camera's images again, which also removes the day
// folders past the retention period; a new date rebuilds the lists.
void ListingTickForAll(ClientContext& ctx, ListingClock& listingClock, int nDays) {
    // Listings started earlier are read on, so that each is complete by the
    // next hour and that hour starts a new one (with its removal of old day
    // folders) instead of only finishing this one.
    std::vector<ClientViewer*> listing;
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        for (const auto& viewer : ctx.viewers)
            if (viewer->entry.hListFile.Valid())
                listing.push_back(viewer.get());
    }
    for (ClientViewer* viewer : listing)
        ListFilesSub(viewer->entry);
    ListingTick tick = CheckListingTick(listingClock, LocalTimeNow());
    if (tick == ListingTick::kNone)
        return;
    struct Camera {
        ServerParams* psp;
        int nCamera;
        std::string cName2;
    };
    std::vector<Camera> cameras;
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        for (const auto& psp : ctx.servers)
            for (size_t i = 0; i < psp->cameras.size(); ++i)
                cameras.push_back({psp.get(), static_cast<int>(i), psp->cameras[i].cName2});
    }
    for (const Camera& camera : cameras) {
        ImageTree tree;
        tree.cFolder = ctx.cSaveFolder;
        ClientViewer* viewer = GetImage(ctx, camera.psp, camera.nCamera);
        if (viewer != nullptr && SafeFolderLevel(camera.psp->cAddress, tree.cServer) &&
            SafeFolderLevel(camera.cName2, tree.cCamera))
            RunListingTick(viewer->entry, tick, tree, nDays);
    }
}

// SIGINT and SIGTERM are caught, not blocked: a blocked signal would be
// inherited blocked by the helper programs the power layer starts, which
// then could not be stopped. The handler only writes the signal number into
// a pipe that the main thread waits on.
int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int nSignal) {
    char c = static_cast<char>(nSignal);
    ssize_t n = ::write(g_stopPipe[1], &c, 1);
    (void)n;
}

bool CatchStopSignals() {
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

// Waits for SIGINT or SIGTERM, running the listing tick every minute.
int WaitForStopSignal(ClientContext& ctx, int nDays) {
    ListingClock listingClock;
    for (;;) {
        ListingTickForAll(ctx, listingClock, nDays);
        pollfd p{g_stopPipe[0], POLLIN, 0};
        if (::poll(&p, 1, 60000) > 0) {
            char c = 0;
            if (::read(g_stopPipe[0], &c, 1) == 1)
                return c;
        }
    }
}

} // namespace

int RunHeadlessClient(const ClientOptions& options) {
    if (!CatchStopSignals()) {
        std::fprintf(stderr, "BrindleView: cannot catch SIGINT and SIGTERM\n");
        return 1;
    }

    std::string dataFolder;
    uint32_t rc = OpenDataFolder("BrindleView", options.cDataDir, dataFolder);
    if (rc != 0) {
        std::fprintf(stderr, "BrindleView: cannot open the data folder (0x%08X %s)\n", rc,
                     ErrorText(rc).c_str());
        return 1;
    }
    FileLock instance;
    if (LockSingleInstance(dataFolder, "BrindleView", instance) != 0) {
        std::fprintf(stderr, "BrindleView: another BrindleView uses %s\n", dataFolder.c_str());
        return 1;
    }
    LogOpen(dataFolder + "/BrindleView.log");
    SetProgramSettingsFile(dataFolder + "/BrindleView.ini");
    ClientSettings settings = ReadClientSettings();
    g_nDebug = settings.nDebug;

    SystemNetwork network;
    HeadlessHost host(options.cPasswordFile);
    ClientContext ctx;
    ctx.cDataFolder = dataFolder;
    ctx.cSettingsFile = dataFolder + "/BrindleView.ini";
    ctx.cSaveFolder = SaveFolderOf(settings, dataFolder);
    // What a crash left half-written goes before anything is written.
    RemoveLeftoverTempFiles(dataFolder);
    RemoveLeftoverImageTemps(ctx.cSaveFolder);
    ctx.fSave = settings.fSave != 0;
    ctx.pHost = &host;
    ctx.pNetwork = &network;

    ClientPowerEvents powerEvents(ctx);
    SleepWatcher sleepWatcher;
    sleepWatcher.Start(&powerEvents);

    int nExit = 0;
    if (ConnectServers(ctx, options) == 0) {
        std::fprintf(stderr, "BrindleView: no server to connect; give one with --connect "
                             "HOST:PORT\n");
        nExit = 2;
    } else {
        int nSignal = WaitForStopSignal(ctx, static_cast<int>(settings.nDays));
        std::fprintf(stderr, "BrindleView: signal %d, stopping\n", nSignal);
    }
    sleepWatcher.Stop();
    StopClientThreads(ctx);
    LogClose();
    return nExit;
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
        else
            error = "unknown option " + std::string(arg);
        if (!error.empty())
            return false;
    }
    return true;
}

std::string ClientUsage() {
    return "Usage: BrindleView [--headless] [--data-dir DIR] [--connect HOST:PORT]...\n"
           "                   [--password-file FILE]\n"
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
           "                       auto-connect are connected as well\n"
           "  --password-file FILE the password for servers that ask for one (first line)\n"
           "  --help, --version    print this text or the version and exit\n";
}

std::string ClientVersion() {
    return "Brindle View Ver 1.02";
}

} // namespace brindle
