#include "server/connections/connection_thread.h"

#include "common/error_codes.h"
#include "common/error_text.h"
#include "common/log.h"

#include <poll.h>
#include <sys/socket.h>

namespace brindle {

namespace {

constexpr int RECEIVE_WAIT_MS = 100;          // the receive time-out of the socket
constexpr uint32_t DISCONNECT_WAIT_MS = 5000; // for the client's own disconnect
constexpr uint32_t DISCONNECT_PAUSE_MS = 100; // after each packet meanwhile

} // namespace

void ConnectionThreadMain(ConnectionManager& manager, ClientConnection& record) {
    ConnectionThread(manager, record).Run();
}

ConnectionThread::ConnectionThread(ConnectionManager& manager, ClientConnection& record)
    : manager_(manager), ctx_(manager.Context()), rec_(record) {}

void ConnectionThread::Run() {
    ctx_.host.PeerShown(rec_.cPeerName);
    for (;;) {
        SetStatus(CONNECTION_IDLE);
        rec_.nLoginState.store(LOGIN_NONE);
        if (rec_.relayPeer)
            rec_.relayPeer->fLoggedIn.store(false);
        fClientDisconnected_ = false;
        fChallengePending_ = false;
        fRelayEmpty_ = false; // the first receive of a relayed conversation happens at once
        Converse();
        EndConversation();
        uint32_t nStop = rec_.nStopRequest.load();
        if (nStop == STOP_STAND_DOWN && !fClientDisconnected_) {
            // Another client logged in and owns the status now.
            EndThread(false);
            return;
        }
        // A direct client's socket is closed now, so only relayed clients
        // have another conversation.
        if (nStop != STOP_NONE || fClientDisconnected_ || !rec_.Relayed())
            break;
    }
    EndThread(true);
}

void ConnectionThread::EndThread(bool fTouchStatus) {
    if (fTouchStatus)
        SetStatus(CONNECTION_DISCONNECTED);
    rec_.nTransport.store(0);
    rec_.nLoginState.store(LOGIN_NONE);
    if (rec_.relayPeer) {
        rec_.relayPeer->fLoggedIn.store(false);
        rec_.relayPeer->fRunning.store(false);
    }
    manager_.ThreadEnding(rec_);
    rec_.nThreadId.store(0);
}

void ConnectionThread::SetStatus(int32_t nStatus) {
    // While another client is logged in the status is that client's: a
    // second peer that connects and fails must not stop its images.
    if (nStatus != CONNECTION_CONNECTED && manager_.AnotherLoggedIn(&rec_))
        return;
    ctx_.shared.nConnectionStatus.store(nStatus);
    ctx_.host.StatusChanged(nStatus);
}

std::span<const uint8_t> ConnectionThread::Payload() const {
    if (packet_.size() < PACKET_HEADER_SIZE)
        return {};
    PacketHeader header = PacketHeaderRead(packet_.data());
    size_t n = std::min<size_t>(header.length, packet_.size() - PACKET_HEADER_SIZE);
    return std::span<const uint8_t>(packet_).subspan(PACKET_HEADER_SIZE, n);
}

void ConnectionThread::Converse() {
    while (Pass()) {
    }
}

// One pass of the inner loop; false ends the conversation.
bool ConnectionThread::Pass() {
    // A relayed file that failed its check ends the conversation.
    if (rec_.relayPeer && rec_.relayPeer->fStopRequest.exchange(false))
        rec_.nStopRequest.store(STOP_REQUEST);
    if (StopRequested())
        return false;
    if (LoggedIn()) {
        // A property update goes out before any image.
        if (!SendPropertyUpdate())
            return false;
        bool fImages = false;
        {
            std::lock_guard<std::mutex> lock(ctx_.shared.mainLock);
            fImages = !ctx_.shared.queue.Empty();
        }
        if (fImages && !SendImageBatch())
            return false;
    }
    if (!ReceiveDue()) {
        if (StopRequested())
            return false;
        if (rec_.Relayed())
            WaitForWork();
        return true;
    }
    uint32_t nError = 0;
    uint32_t nRelayValue = 0;
    int64_t n = ReceivePacket(rec_.packet, PacketSide::Server, packet_, nError, &nRelayValue);
    if (rec_.Relayed()) {
        nLastRelayReceive_ = ctx_.clock.Tick();
        fRelayEmpty_ = n < 0 && nError == WSAEWOULDBLOCK_CODE;
    }
    if (StopRequested())
        return false;
    if (n <= 0)
        return NothingReceived(n, nError);
    if (n < static_cast<int64_t>(PACKET_HEADER_SIZE)) {
        LogWrite("パケット受信サイズエラー(%u)\r\n", static_cast<unsigned>(n - 16));
        return false;
    }
    uint16_t nType = PacketHeaderRead(packet_.data()).type;
    LogWrite("%sから%s受信\r\n", rec_.cPeerName.c_str(), PacketTypeName(nType));
    return Dispatch(nType, nRelayValue);
}

// A receive that brought no packet; false ends the conversation.
bool ConnectionThread::NothingReceived(int64_t n, uint32_t nError) {
    if (n == 0) {
        if (rec_.Relayed()) {
            WaitForWork();
            return true;
        }
        LogWrite("%sから切断\r\n", rec_.cPeerName.c_str());
        return false;
    }
    if (nError == WSAEWOULDBLOCK_CODE)
        WaitForWork();
    if (nError == WSAEWOULDBLOCK_CODE || nError == WSAETIMEDOUT_CODE)
        return true;
    LogWrite("パケット受信でエラー発生(0x%08X-%s)\r\n", nError, ErrorText(nError).c_str());
    rec_.nStopRequest.store(STOP_REQUEST);
    return false;
}

// Direct: whether a packet is waiting (false after the receive time-out or
// when woken for images). Relayed: whether the poll interval has passed.
bool ConnectionThread::ReceiveDue() {
    if (!rec_.Relayed())
        return WaitReadable();
    if (!fRelayEmpty_)
        return true;
    uint32_t nSeconds = rec_.nLoginState.load() != LOGIN_NONE ? rec_.relayIntervals.nInterval
                                                              : rec_.relayIntervals.nWaitInterval;
    return ctx_.clock.Tick() - nLastRelayReceive_ >= nSeconds * 1000u;
}

bool ConnectionThread::WaitReadable() {
    // With images still queued (more than one batch came at once) only a
    // look at the socket: the next batch must not wait for the time-out.
    int nWait = RECEIVE_WAIT_MS;
    if (LoggedIn()) {
        std::lock_guard<std::mutex> lock(ctx_.shared.mainLock);
        if (!ctx_.shared.queue.Empty())
            nWait = 0;
    }
    pollfd fds[2] = {{rec_.packet.nSocket, POLLIN, 0}, {rec_.wake.Get(), POLLIN, 0}};
    int r = ::poll(fds, 2, nWait);
    if (r <= 0)
        return false;
    if (fds[1].revents != 0)
        DrainWake();
    return fds[0].revents != 0;
}

// The pause of a relayed connection that found nothing: up to 100 ms, cut
// short when images or a stop request arrive.
void ConnectionThread::WaitForWork() {
    pollfd fd{rec_.wake.Get(), POLLIN, 0};
    if (::poll(&fd, 1, RECEIVE_WAIT_MS) > 0)
        DrainWake();
}

void ConnectionThread::DrainWake() {
    uint64_t value = 0;
    ssize_t r = ::read(rec_.wake.Get(), &value, sizeof value);
    (void)r;
}

bool ConnectionThread::Dispatch(uint16_t nType, uint32_t nRelayValue) {
    switch (nType) {
    case PT_RESULT:
        return true;
    case PT_ECHO:
        return LoggedIn() ? HandleEcho() : true;
    case PT_CONNECT:
        return HandleConnect(nRelayValue);
    case PT_AUTH:
        return HandleAuth();
    case PT_DISCONNECT:
        SetStatus(CONNECTION_DISCONNECTING);
        fClientDisconnected_ = true;
        return false;
    case PT_REQUEST:
        return LoggedIn() ? HandleRequest() : true;
    case PT_PROPERTY:
        // Only a logged-in client may reach the camera's own dialog.
        return LoggedIn() ? HandleProperty() : true;
    default:
        return LoggedIn() ? ReplyResult(nType, ERR_UNSUPPORTED_TYPE) : true;
    }
}

void ConnectionThread::EndConversation() {
    ctx_.property.ConversationEnded(&rec_);
    std::vector<uint8_t>().swap(packet_);
    std::vector<uint8_t>().swap(send_);
    std::vector<uint8_t>().swap(pieces_);
    ImageCipherRelease(rec_.packet.imageCipher);
    if (fClientDisconnected_) {
        CloseSocket();
        return;
    }
    uint8_t disconnect[PacketSendBufferSize(0)] = {};
    uint32_t err = SendPacket(rec_.packet, PT_DISCONNECT, disconnect, 0, SEND_ENCIPHER, true);
    if (!rec_.Relayed() && err != WSAECONNRESET_CODE)
        DisconnectWait();
    CloseSocket();
}

// Gives the client up to 5 s to answer with its own disconnect, so that
// its last packets are not cut off by a reset.
void ConnectionThread::DisconnectWait() {
    uint32_t nStart = ctx_.clock.Tick();
    while (ctx_.clock.Tick() - nStart < DISCONNECT_WAIT_MS) {
        uint32_t nError = 0;
        int64_t n = ReceivePacket(rec_.packet, PacketSide::Server, packet_, nError);
        if (n == 0)
            return;
        if (n < 0) {
            // A dead connection will not answer; only a quiet one might.
            if (nError != WSAETIMEDOUT_CODE && nError != WSAEWOULDBLOCK_CODE)
                return;
            continue;
        }
        if (n >= static_cast<int64_t>(PACKET_HEADER_SIZE) &&
            PacketHeaderRead(packet_.data()).type == PT_DISCONNECT)
            return;
        ctx_.sleeper.Sleep(DISCONNECT_PAUSE_MS);
    }
}

void ConnectionThread::CloseSocket() {
    if (rec_.Relayed())
        return;
    std::lock_guard<std::mutex> lock(rec_.socketLock);
    rec_.socket.Reset();
    rec_.packet.nSocket = -1;
}

} // namespace brindle
