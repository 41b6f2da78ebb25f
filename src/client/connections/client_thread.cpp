#include "client/connections/client_thread.h"

#include "client/connections/address.h"
#include "client/connections/client_link.h"
#include "client/connections/storage_link.h"
#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "common/os_error.h"
#include "platform/clock.h"
#include "protocol/sleeper.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>

namespace brindle {

namespace {

constexpr uint32_t RETRY_PAUSE_MS = 500;
constexpr uint32_t SOCKET_TIMEOUT_MS = 100;
constexpr uint32_t NO_ANSWER_LIMIT_MS = 60000;
constexpr uint32_t ECHO_INTERVAL_MS = 120000;
constexpr uint32_t NO_ANSWER_BOX_MS = 30000;
constexpr uint32_t DISCONNECT_WAIT_MS = 5000;
// A stopping storage link takes what the server still sends for so long.
constexpr uint32_t RELAY_REST_LIMIT_MS = 15000;
// A connect that hangs (a host that drops packets) is given up after this.
constexpr int CONNECT_LIMIT_MS = 20000;

bool Tracing() {
    return (g_nDebug.load() & DEBUG_TRACE) != 0;
}

ClientHost& DefaultHost() {
    static ClientHost host;
    return host;
}

std::atomic<uint32_t> g_nNextThreadId{1};

NetworkEnvironment& NetworkOf(const ClientContext& ctx) {
    static SystemNetwork systemNetwork;
    return ctx.pNetwork ? *ctx.pNetwork : systemNetwork;
}

void LogRequest(const ServerParams& psp, bool fProperty, int32_t nIndex, int32_t nId) {
    const char* a = psp.cAddress.c_str();
    if (!fProperty) {
        LogWrite("%sへカメラ%d(%d)要求送信\r\n", a, nIndex, nId);
        return;
    }
    const PropertyRequestFields& r = psp.propertyRequest;
    const char* text = r.cControlText.c_str();
    switch (r.nKind) {
    case 0:
        LogWrite("%sへカメラ%d(%d)プロパティオープン送信\r\n", a, nIndex, nId);
        break;
    case 3:
        LogWrite("%sへカメラ%d(%d)プロパティ(ボタン%sクリック)送信\r\n", a, nIndex, nId, text);
        break;
    case 4:
        LogWrite("%sへカメラ%d(%d)プロパティ(リスト%s選択)送信\r\n", a, nIndex, nId, text);
        break;
    case 5:
        LogWrite("%sへカメラ%d(%d)プロパティ(タブ%s選択)送信\r\n", a, nIndex, nId, text);
        break;
    case 6:
        LogWrite("%sへカメラ%d(%d)プロパティ(スライダ%s値%ld)送信\r\n", a, nIndex, nId, text,
                 static_cast<long>(r.anFields[4]));
        break;
    default:
        break;
    }
}

} // namespace

ClientLink::ClientLink(ClientContext& ctx, ServerParams& psp)
    : ctx_(ctx), psp_(psp), host_(ctx.pHost ? *ctx.pHost : DefaultHost()),
      fStorage_(psp.IsStorageLinked()) {}

uint32_t ClientLink::Now() const {
    return NonZeroTickOf(ClockOf(ctx_).Tick());
}

int64_t ClientLink::Elapsed(uint32_t nSince) const {
    return static_cast<int32_t>(ClockOf(ctx_).Tick() - nSince);
}

// The time a clock has run, without the time the system spent suspended
// while it ran; nothing while the system is between suspend and resume.
// Only a clock set before the suspend is corrected: one set after the resume
// never ran through it.
std::optional<int64_t> ClientLink::CorrectedElapsed(uint32_t nSince) const {
    uint32_t nSuspend = ctx_.nSuspendTick.load();
    uint32_t nResume = ctx_.nResumeTick.load();
    int64_t nCorrection = 0;
    if (nSuspend != 0) {
        int32_t nAsleep = static_cast<int32_t>(nResume - nSuspend);
        if (nResume == 0 || nAsleep < 0)
            return std::nullopt;
        if (static_cast<int32_t>(nSuspend - nSince) > 0)
            nCorrection = nAsleep;
    }
    return Elapsed(nSince) - nCorrection;
}

void ClientLink::Pause(uint32_t ms) {
    const Sleeper& sleeper = SleeperOf(ctx_);
    while (ms > 0 && !Stopping()) {
        uint32_t step = std::min<uint32_t>(ms, 100);
        sleeper.Sleep(step);
        ms -= step;
    }
}

uint32_t ClientLink::Send(uint16_t nType, std::span<const uint8_t> payload, bool fLog) {
    size_t need = PacketSendBufferSize(payload.size());
    if (sendBuffer_.size() < need)
        sendBuffer_.resize(need);
    std::copy(payload.begin(), payload.end(), sendBuffer_.begin() + PACKET_HEADER_SIZE);
    return SendPacket(psp_.conn, nType, sendBuffer_, static_cast<uint32_t>(payload.size()),
                      SEND_ENCIPHER, fLog);
}

int64_t ClientLink::Receive(uint32_t& nError) {
    return ReceivePacket(psp_.conn, PacketSide::Client, packet_, nError);
}

void ClientLink::CloseSocket() {
    socket_.Reset();
    psp_.conn.nSocket = -1;
}

void ClientLink::Run() {
    Start();
    while (!Stopping()) {
        if (Attempt())
            ReceivePasses();
    }
    Exit();
}

void ClientLink::Start() {
    if (Tracing())
        LogWrite("ENTER {  ClientThread() psp->cAddress=%s\n", Address());
    CloseSocket();
    psp_.nHostBits = 0;
    psp_.cPassword.clear();
    psp_.conn.cPeerName = psp_.cAddress;
    psp_.conn.pClock = ctx_.pClock;
    psp_.conn.pSleeper = ctx_.pSleeper;
    psp_.conn.fRelayed = fStorage_;
    if (fStorage_ && psp_.pStorage) {
        psp_.cStorage = psp_.pStorage->Name();
        IniWriteKey(psp_.cServerIni, "Settings", "Webdav", psp_.cStorage);
        psp_.pStorage->AddInuse(1);
    }
    int nFields = LoadSavedEntry(ctx_, psp_);
    if (!fStorage_ && nFields >= 4 && psp_.dwAddress != 0 && psp_.nHostBits != 0 &&
        psp_.qwMacAddress != 0)
        Wake(NetworkOf(ctx_), psp_.nHostBits, psp_.dwAddress, psp_.qwMacAddress);
    LoadCameraInfo(ctx_, psp_, &psp_.fStop);
}

// One connection attempt; true when the connect request went out.
bool ClientLink::Attempt() {
    psp_.nSettingsChunk = 0;
    psp_.fOnline = 0;
    fIdle_ = true;
    fServerDisconnect_ = false;
    if (fStorage_ ? !PrepareStorage() : !ConnectTcp())
        return false;
    if (fStorage_) {
        // A new log-in starts the chain of check values anew.
        psp_.relayPeer->fLoggedIn = false;
        psp_.abDigest.fill(0);
        fAuthAnswered_ = false;
    }
    SetAnswerClock();
    if (fStorage_)
        psp_.pStorage->PollNow(psp_.conn);
    nLinkStamp_ = fStorage_ ? psp_.pStorage->SendNo() : Now();
    if (Send(PT_CONNECT, {}, true) != 0) {
        Pause(RETRY_PAUSE_MS);
        if (!fStorage_)
            CloseSocket();
        return false;
    }
    assembly_.SetGate(fStorage_ ? 0 : -1);
    nPollClock_ = Now();
    return true;
}

bool ClientLink::ConnectTcp() {
    uint32_t dwAddress = psp_.dwAddress;
    int32_t nHostBits = psp_.nHostBits;
    uint64_t qwMac = psp_.qwMacAddress;
    Resolve(NetworkOf(ctx_), psp_.cAddress, psp_.fStop, psp_.dwAddress, &psp_.nHostBits,
            &psp_.qwMacAddress);
    if (psp_.dwAddress == 0) {
        Pause(RETRY_PAUSE_MS);
        return false;
    }
    // A sleeping server drops out of the neighbour table: a look-up that
    // finds nothing must not forget the address that wakes it.
    if (psp_.qwMacAddress == 0)
        psp_.qwMacAddress = qwMac;
    if (dwAddress != psp_.dwAddress || nHostBits != psp_.nHostBits || qwMac != psp_.qwMacAddress)
        SavePasswd(ctx_, psp_);
    if (!socket_.Valid()) {
        socket_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!socket_.Valid()) {
            uint32_t err = LastOsError();
            LogWrite("サーバ接続ソケット作成に失敗(0x%08X-%s)\r\n", err, ErrorText(err).c_str());
            Pause(RETRY_PAUSE_MS);
            return false;
        }
    }
    if (!ConnectSocket()) {
        CloseSocket();
        Pause(RETRY_PAUSE_MS);
        return false;
    }
    LearnEthernetAddress();
    timeval tv{0, static_cast<suseconds_t>(SOCKET_TIMEOUT_MS * 1000)};
    ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(socket_.Get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    psp_.conn.nSocket = socket_.Get();
    return true;
}

// The thread always reports with fSned 0.
void ClientLink::UpdateServerState() {
    if (Tracing())
        LogWrite("ENTER {  UpdateServerState() fSned=%d\n", 0);
    host_.UpdateServerState(psp_);
    if (Tracing())
        LogWrite("LEAVE }  UpdateServerState() fSned=%d\n", 0);
}

// Right after a connect the neighbour table holds the server even when the
// look-up before it found nothing.
void ClientLink::LearnEthernetAddress() {
    uint64_t qwMac = 0;
    if (NetworkOf(ctx_).EthernetAddress(psp_.dwAddress, qwMac) != 0 || qwMac == 0 ||
        qwMac == psp_.qwMacAddress)
        return;
    psp_.qwMacAddress = qwMac;
    SavePasswd(ctx_, psp_);
}

// Connects without blocking past a stop request, then leaves the socket
// blocking so that its receive time-out paces the receive pass.
bool ClientLink::ConnectSocket() {
    int fd = socket_.Get();
    int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(psp_.nPort));
    to.sin_addr.s_addr = psp_.dwAddress;
    uint32_t err = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        err = errno == EINPROGRESS ? 0 : LastOsError();
        for (int waited = 0; err == 0; waited += 100) {
            pollfd p{fd, POLLOUT, 0};
            int r = ::poll(&p, 1, 100);
            if (r > 0) {
                int soError = 0;
                socklen_t len = sizeof soError;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
                err = soError == 0 ? 0 : MapErrno(soError);
                break;
            }
            if (r < 0 && errno != EINTR)
                err = LastOsError();
            else if (Stopping() || waited >= CONNECT_LIMIT_MS)
                err = WSAETIMEDOUT_CODE;
        }
    }
    if (err != 0) {
        LogWrite("サーバ%s接続に失敗(0x%08X-%s)\r\n", Address(), err, ErrorText(err).c_str());
        return false;
    }
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return true;
}

bool ClientLink::PrepareStorage() {
    if (psp_.pStorage == nullptr) {
        psp_.fStop = 1;
        return false;
    }
    RelayTransport* worker = psp_.pStorage->Worker();
    if (worker == nullptr) {
        if (psp_.pStorage->RestartWorker() != nullptr)
            Pause(RETRY_PAUSE_MS);
        else
            psp_.fStop = 1;
        return false;
    }
    if (worker != attached_) {
        // A worker started anew knows nothing of this link yet.
        psp_.relayPeer = psp_.pStorage->Attach(psp_.conn, psp_.cAddress);
        if (!psp_.relayPeer) {
            LogWrite("サーバ%sはオンラインストレージ中継の名前に使えません\r\n", Address());
            psp_.fStop = 1;
            return false;
        }
        attached_ = worker;
        psp_.relayPeer->fRunning = true;
    }
    psp_.conn.pRelay = worker;
    return true;
}

// Requests queued by the main window go out first; fSent tells whether one
// did (the pass then starts over).
ClientLink::Next ClientLink::SendPendingRequest(bool& fSent) {
    fSent = false;
    int32_t nIndex = psp_.nCameraRequest.load();
    bool fProperty = nIndex == 0;
    if (fProperty)
        nIndex = psp_.nPropertyRequest.load();
    if (nIndex == 0)
        return Next::Continue;
    fSent = true;
    int32_t nId = 0;
    std::vector<uint8_t> payload;
    bool fAnswered = true;
    {
        // The program may fill the next request while this one goes out:
        // the fields are copied under the process-wide lock it writes under.
        std::lock_guard<std::mutex> guard(ctx_.lock);
        if (nIndex > 0 && static_cast<size_t>(nIndex) <= psp_.cameras.size())
            nId = psp_.cameras[static_cast<size_t>(nIndex) - 1].nCameraId;
        if (nId != 0)
            payload = fProperty ? PropertyRequestPayload(nId, psp_.propertyRequest)
                                : CameraRequestPayload(nId, psp_.cameraRequest);
        // Of the property commands only the open is answered; an operation
        // that changes nothing gets no update, which must not drop the link.
        fAnswered = !fProperty || psp_.propertyRequest.nKind == 0;
    }
    if (nId != 0) {
        if (Send(fProperty ? PT_PROPERTY : PT_REQUEST, payload, false) != 0)
            return Next::Teardown; // the request stays pending for the next link
        LogRequest(psp_, fProperty, nIndex, nId);
        if (fAnswered)
            SetAnswerClock();
    }
    (fProperty ? psp_.nPropertyRequest : psp_.nCameraRequest) = 0;
    return Next::Continue;
}

void ClientLink::ReceivePasses() {
    for (;;) {
        if (psp_.fOnline.load() != 0) {
            bool fSent = false;
            Next next = SendPendingRequest(fSent);
            if (next == Next::Continue && !fSent)
                next = Clocks();
            if (next == Next::Teardown)
                break;
            if (fSent)
                continue;
        }
        if (Stopping())
            break;
        uint32_t nError = 0;
        int64_t n = 0;
        bool fSkip = fStorage_ && fIdle_ &&
                     Elapsed(nPollClock_) <= int64_t{psp_.pStorage->IntervalSeconds()} * 1000;
        if (fSkip) {
            // Nothing is fetched between polls of an idle storage; the pause
            // keeps this wait from spinning.
            SleeperOf(ctx_).Sleep(SOCKET_TIMEOUT_MS);
        } else {
            n = Receive(nError);
            if (fStorage_)
                nPollClock_ = Now();
        }
        if (Stopping())
            break;
        Next next = n == 0 ? OnNothingReceived() : n < 0 ? OnReceiveError(nError) : Dispatch(n);
        if (next == Next::Teardown)
            break;
    }
    Teardown();
}

ClientLink::Next ClientLink::Clocks() {
    if (nAnswerClock_ != 0) {
        std::optional<int64_t> elapsed = CorrectedElapsed(nAnswerClock_);
        if (elapsed && *elapsed > NO_ANSWER_LIMIT_MS) {
            if (!fStorage_ || Unread() <= 0) {
                char text[512];
                std::snprintf(text, sizeof text, "サーバ%sから応答がないため切断・再接続します。",
                              Address());
                host_.ShowMessage(text, NO_ANSWER_BOX_MS);
                LogWrite("サーバ%sから応答がないため切断・再接続\r\n", Address());
                return Next::Teardown;
            }
            LogWrite("サーバ%sが要求を読み出さないため切断・再接続要求の送信を中止します。\r\n",
                     Address());
            SetAnswerClock();
        }
    }
    if (nEchoClock_ != 0) {
        std::optional<int64_t> elapsed = CorrectedElapsed(nEchoClock_);
        if (elapsed && *elapsed > ECHO_INTERVAL_MS) {
            nEchoClock_ = Now();
            if (!fStorage_ || Unread() <= 0) {
                if (Send(PT_ECHO, {}, true) == 0 && nAnswerClock_ == 0)
                    SetAnswerClock();
            } else {
                LogWrite("サーバ%sが要求を読み出さないためエコー要求の送信を中止します。\r\n",
                         Address());
            }
        }
    }
    return Next::Continue;
}

ClientLink::Next ClientLink::OnNothingReceived() {
    if (!fStorage_) {
        LogWrite("サーバ%sから切断\r\n", Address());
        UpdateServerState();
        return Next::Teardown;
    }
    if (psp_.nSettingsChunk.load() >= 0 || nAnswerClock_ == 0 ||
        Elapsed(nAnswerClock_) <= NO_ANSWER_LIMIT_MS)
        return Next::Continue;
    if (Unread() > 0) {
        LogWrite("サーバ%sが要求を読み出さないため切断・再接続要求の送信を中止します。\r\n",
                 Address());
        SetAnswerClock();
        return Next::Continue;
    }
    char text[512];
    std::snprintf(text, sizeof text, "サーバ%sから応答がないため切断・再接続します。", Address());
    host_.ShowMessage(text, NO_ANSWER_BOX_MS);
    LogWrite("サーバ%sから応答がないため切断・再接続\r\n", Address());
    return Next::Teardown;
}

ClientLink::Next ClientLink::OnReceiveError(uint32_t nError) {
    if (nError != WSAEWOULDBLOCK_CODE && nError != WSAETIMEDOUT_CODE) {
        LogWrite("サーバ%sから受信でエラー発生(0x%08X-%s)\r\n", Address(), nError,
                 ErrorText(nError).c_str());
        return Next::Teardown;
    }
    Next next = Next::Continue;
    if (psp_.fOnline.load() == 0 && psp_.nSettingsChunk.load() >= 0 && nAnswerClock_ != 0 &&
        Elapsed(nAnswerClock_) > NO_ANSWER_LIMIT_MS) {
        if (!fStorage_ || Unread() <= 0) {
            if (nError == WSAEWOULDBLOCK_CODE)
                LogWrite("サーバ%sへ再接続開始\r\n", Address());
            else
                LogWrite("サーバへ再接続開始\r\n");
            next = Next::Teardown;
        } else {
            LogWrite("サーバ%sが要求を読み出さないため再接続開始要求の送信を中止します。\r\n",
                     Address());
            SetAnswerClock();
        }
    }
    fIdle_ = true;
    return next;
}

void ClientLink::Teardown() {
    host_.ClosePropertyDialogOf(psp_);
    if (fStorage_ && !fServerDisconnect_) {
        Send(PT_DISCONNECT, {}, true);
        if (Stopping() && psp_.fOnline.load() != 0)
            TakeRelayRest();
    }
    assembly_.FreePieces();
    DropSettingsFile(false);
    if (!fStorage_) {
        if (socket_.Valid()) {
            Send(PT_DISCONNECT, {}, true);
            AwaitServerDisconnect();
        }
        CloseSocket();
    }
    psp_.fOnline = 0;
    if (psp_.relayPeer)
        psp_.relayPeer->fLoggedIn = false;
    UpdateServerState();
}

// A storage link that stops takes the images the server had already put in
// the folder for it, until the server has read our disconnect and sends no
// more: they were sent while we were logged in, and no later link would
// want them. Our files count as read once a listing finds none of them;
// the server may still be finishing a batch then, so the wait goes on for
// two poll intervals after that. At most RELAY_REST_LIMIT_MS.
void ClientLink::TakeRelayRest() {
    uint32_t nStart = Now();
    uint32_t nReadAt = 0; // a poll found our files read
    int64_t nSettle = int64_t{psp_.pStorage->IntervalSeconds()} * 2000 + 1000;
    // Each turn sleeps at least once or polls, so the count bounds the wait
    // also on a clock that stands still.
    for (uint32_t turn = 0;
         turn < RELAY_REST_LIMIT_MS / SOCKET_TIMEOUT_MS && Elapsed(nStart) < RELAY_REST_LIMIT_MS;
         ++turn) {
        uint32_t nError = 0;
        int64_t n = Receive(nError);
        if (n >= static_cast<int64_t>(PACKET_HEADER_SIZE)) {
            uint16_t nType = PacketHeaderRead(packet_.data()).type;
            if (nType == PT_DISCONNECT)
                return; // the server has gone: nothing more comes
            if (nType >= PT_IMAGE && nType <= PT_IMAGE + 8)
                Dispatch(n);
            continue;
        }
        if (n < 0 && nError != WSAEWOULDBLOCK_CODE && nError != WSAETIMEDOUT_CODE)
            return;
        if (Unread() > 0) {
            nReadAt = 0;
        } else if (nReadAt == 0) {
            nReadAt = Now();
        } else if (Elapsed(nReadAt) >= nSettle) {
            return;
        }
        SleeperOf(ctx_).Sleep(SOCKET_TIMEOUT_MS);
    }
}

// After our disconnect the server answers with its own and closes; waits
// for that at most 5 s. A socket that has failed for good ends the wait too.
void ClientLink::AwaitServerDisconnect() {
    uint32_t nStart = Now();
    // Each turn takes at least the 100 ms pause, so the count bounds the wait
    // in real time even when the clock is a test's clock that stands still.
    for (int turn = 0; turn < 50 && Elapsed(nStart) < DISCONNECT_WAIT_MS; ++turn) {
        uint32_t nError = 0;
        int64_t n = Receive(nError);
        if (n == 0)
            return;
        if (n > 0 && PacketHeaderRead(packet_.data()).type == PT_DISCONNECT)
            return;
        bool fSocketCode = nError >= WSAEINTR_CODE && nError < 12000;
        if (n < 0 && fSocketCode && nError != WSAETIMEDOUT_CODE && nError != WSAEWOULDBLOCK_CODE)
            return;
        SleeperOf(ctx_).Sleep(100);
    }
}

void ClientLink::Exit() {
    ImageCipherRelease(psp_.conn.imageCipher);
    if (!fStorage_) {
        CloseSocket();
    } else if (psp_.pStorage) {
        if (psp_.relayPeer) {
            psp_.relayPeer->fLoggedIn = false;
            psp_.relayPeer->fRunning = false;
            psp_.pStorage->Detach(psp_.conn);
            attached_ = nullptr;
        }
        bool fOthers = false;
        {
            std::lock_guard<std::mutex> guard(ctx_.lock);
            for (const auto& other : ctx_.servers)
                if (other.get() != &psp_ && other->IsStorageLinked() &&
                    other->dwThreadId.load() != 0)
                    fOthers = true;
        }
        if (!fOthers)
            psp_.pStorage->CloseWorker();
        psp_.pStorage->AddInuse(-1);
    }
    psp_.dwThreadId = 0;
    UpdateServerState();
    if (Tracing())
        LogWrite("LEAVE }  ClientThread() psp->cAddress=%s\n", Address());
}

uint32_t ClientThread(ClientContext& ctx, ServerParams& psp) {
    ClientLink link(ctx, psp);
    link.Run();
    return 0;
}

uint32_t StartClientThread(ClientContext& ctx, ServerParams& psp) {
    if (psp.dwThreadId.load() != 0)
        return ERROR_ALREADY_EXISTS_CODE;
    if (psp.hThread.joinable())
        psp.hThread.join();
    psp.abDigest.fill(0);
    psp.fOnline = 0;
    psp.fStop = 0;
    psp.dwThreadId = g_nNextThreadId.fetch_add(1) | 1;
    try {
        psp.hThread = std::thread([&ctx, &psp] { ClientThread(ctx, psp); });
    } catch (const std::system_error& e) {
        psp.dwThreadId = 0;
        return MapErrno(e.code().value());
    }
    psp.fThreadStarted = true;
    return 0;
}

void StopClientThreads(ClientContext& ctx) {
    std::vector<ServerParams*> servers;
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        for (const auto& psp : ctx.servers)
            servers.push_back(psp.get());
    }
    for (ServerParams* psp : servers)
        psp->fStop = 1;
    for (ServerParams* psp : servers)
        if (psp->hThread.joinable())
            psp->hThread.join();
}

} // namespace brindle
