#include "client/connections/client_context.h"

#include "client/connections/client_host.h"
#include "client/connections/client_thread.h"
#include "client/connections/text_scan.h"
#include "common/ini_file.h"
#include "common/ini_text.h"
#include "common/list_text.h"
#include "common/log.h"
#include "common/text_utils.h"
#include "platform/clock.h"
#include "protocol/sleeper.h"

#include <new>

namespace brindle {

namespace {

bool Tracing() {
    return (g_nDebug.load() & DEBUG_TRACE) != 0;
}

} // namespace

ClientContext::~ClientContext() {
    StopClientThreads(*this);
}

const Clock& ClockOf(const ClientContext& ctx) {
    return ctx.pClock ? *ctx.pClock : SystemClock();
}

const Sleeper& SleeperOf(const ClientContext& ctx) {
    return ctx.pSleeper ? *ctx.pSleeper : SystemSleeper();
}

ServerParams* CreateServerParams(ClientContext& ctx, std::string_view pcAddress, int32_t nPort) {
    if (Tracing())
        LogWrite("ENTER {  CreateServerParams() pcAddress=%.*s nPort=%d\n",
                 static_cast<int>(pcAddress.size()), pcAddress.data(), nPort);
    ServerParams* psp = nullptr;
    try {
        auto record = std::make_unique<ServerParams>();
        record->cAddress.assign(pcAddress.substr(0, Utf8FitLength(pcAddress, SERVER_ADDRESS_MAX)));
        record->nPort = nPort;
        record->cServerIni = ServerIniPath(ctx.cDataFolder, record->cAddress, nPort);
        record->conn.cPeerName = record->cAddress;
        record->conn.pClock = ctx.pClock;
        record->conn.pSleeper = ctx.pSleeper;
        std::lock_guard<std::mutex> guard(ctx.lock);
        ctx.servers.push_back(std::move(record));
        psp = ctx.servers.back().get();
    } catch (const std::bad_alloc&) {
        if (ctx.pHost)
            ctx.pHost->ShowMessage("メモリが確保できません!", 0);
    }
    if (Tracing())
        LogWrite("LEAVE }  CreateServerParams() pcAddress=%.*s nPort=%d\n",
                 static_cast<int>(pcAddress.size()), pcAddress.data(), nPort);
    return psp;
}

ServerParams* FindServerParams(ClientContext& ctx, std::string_view cAddress, int32_t nPort) {
    std::lock_guard<std::mutex> guard(ctx.lock);
    for (const auto& psp : ctx.servers)
        if (psp->nPort == nPort && IniNameEqual(psp->cAddress, cAddress))
            return psp.get();
    return nullptr;
}

ClientViewer* GetImage(ClientContext& ctx, ServerParams* psp, int nCamera) {
    const char* address = psp ? psp->cAddress.c_str() : "";
    if (Tracing())
        LogWrite("ENTER {  GetImage() psp->cAddress=%s camera=%d\n", address, nCamera);
    ClientViewer* viewer = nullptr;
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        for (const auto& v : ctx.viewers)
            if (v->psp == psp && v->nCamera == nCamera)
                viewer = v.get();
        if (viewer == nullptr) {
            try {
                auto entry = std::make_unique<ClientViewer>();
                entry->psp = psp;
                entry->nCamera = nCamera;
                entry->entry.fTrace = true;
                ctx.viewers.push_back(std::move(entry));
                viewer = ctx.viewers.back().get();
            } catch (const std::bad_alloc&) {
                viewer = nullptr;
            }
        }
    }
    if (Tracing())
        LogWrite("LEAVE }  GetImage() psp->cAddress=%s camera=%d\n", address, nCamera);
    return viewer;
}

int LoadCameraInfo(ClientContext& ctx, ServerParams& psp, const std::atomic<int32_t>* pfStop) {
    int32_t loaded = psp.loadCameraInfo.load();
    if (Tracing())
        LogWrite("ENTER {  LoadCameraInfo() cAddress=%s loadCameraInfo=%d\n", psp.cAddress.c_str(),
                 loaded);
    if (psp.loadCameraInfo.exchange(1) == 0) {
        std::string text;
        IniReadFile(psp.cServerIni, text);
        ServerIniContent content = ParseServerIni(text, pfStop);
        std::lock_guard<std::mutex> guard(ctx.lock);
        if (pfStop != nullptr && pfStop->load() != 0) {
            psp.loadCameraInfo = 0;
        } else {
            psp.cameras = std::move(content.cameras);
            psp.fNoSleep = content.fNoSleep;
            psp.nCrypt = content.nCrypt;
            if (content.fHasStorage)
                psp.cStorage = content.cStorage;
        }
    }
    if (Tracing())
        LogWrite("LEAVE }  LoadCameraInfo() cAddress=%s loadCameraInfo=%d\n", psp.cAddress.c_str(),
                 psp.loadCameraInfo.load());
    return 1;
}

uint32_t SavePasswd(ClientContext& ctx, ServerParams& psp) {
    if (Tracing())
        LogWrite("ENTER {  SavePasswd() psp->cAddress=%s\n", psp.cAddress.c_str());
    uint32_t rc = IniWriteKey(ctx.cSettingsFile, "Server", psp.cAddress, FormatSavedEntry(psp));
    if (Tracing())
        LogWrite("LEAVE }  SavePasswd() psp->cAddress=%s\n", psp.cAddress.c_str());
    return rc;
}

int LoadSavedEntry(ClientContext& ctx, ServerParams& psp) {
    std::string text;
    IniReadKey(ctx.cSettingsFile, "Server", psp.cAddress, text);
    if (text.size() > SAVED_ENTRY_MAX)
        text.resize(SAVED_ENTRY_MAX);
    SavedEntry entry = ParseSavedEntry(text, psp.IsStorageLinked());
    if (!psp.IsStorageLinked()) {
        psp.dwAddress = entry.dwAddress;
        psp.nHostBits = entry.nHostBits;
        psp.qwMacAddress = entry.qwMacAddress;
    }
    if (entry.nFields >= 4) {
        psp.cPassword = entry.cPassword;
        psp.qwPasswordStamp = entry.qwPasswordStamp;
    }
    return entry.nFields;
}

CameraCombo SetCameraCombo(ClientContext& ctx, ServerParams& psp) {
    if (Tracing())
        LogWrite("ENTER {  SetCameraCombo() GetImage psp->cAddress=%s\n", psp.cAddress.c_str());
    CameraCombo combo;
    std::string saved;
    bool fSaved = IniReadKey(ctx.cSettingsFile, "Camera", psp.cAddress, saved) == 0;
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        for (const CameraInfo& camera : psp.cameras)
            combo.lines.push_back(CameraComboLine(camera));
        int32_t nCurrent = fSaved ? ReadDecimal(saved, psp.nCurrentCamera) : psp.nCurrentCamera;
        int32_t nClamped = ClampCurrentCamera(nCurrent, psp.cameras.size());
        psp.nCurrentCamera = nClamped;
        combo.nSelected = nClamped;
        if (nClamped != nCurrent)
            saved = std::to_string(nClamped);
        else
            saved.clear();
    }
    if (!saved.empty())
        IniWriteKey(ctx.cSettingsFile, "Camera", psp.cAddress, saved);
    if (Tracing())
        LogWrite("LEAVE }  SetCameraCombo() GetImage psp->cAddress=%s\n", psp.cAddress.c_str());
    return combo;
}

bool AutoConnectEnabled(const ClientContext& ctx, std::string_view cAddress) {
    std::string value;
    if (IniReadKey(ctx.cSettingsFile, "AutoConnect", cAddress, value) != 0)
        return false;
    return ReadDecimal(value, 0) != 0;
}

uint32_t SetAutoConnect(const ClientContext& ctx, std::string_view cAddress, bool fOn) {
    if (cAddress.empty())
        return 0;
    return IniWriteKey(ctx.cSettingsFile, "AutoConnect", cAddress, fOn ? "1" : "0");
}

std::vector<std::string> RecentServers(const ClientContext& ctx) {
    std::string text;
    IniReadKey(ctx.cSettingsFile, "Settings", "Server", text);
    return ListSplit(text);
}

uint32_t AddRecentServer(const ClientContext& ctx, std::string_view text) {
    text = TrimSpaceTab(text);
    if (text.empty())
        return 0;
    std::vector<std::string> items = RecentServers(ctx);
    ListAddTop(items, text);
    return IniWriteKey(ctx.cSettingsFile, "Settings", "Server", ListJoin(items));
}

} // namespace brindle
