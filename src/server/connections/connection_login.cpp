// Log-in: the connect, the optional password challenge, and the camera
// information that completes it.
#include "common/error_codes.h"
#include "common/little_endian.h"
#include "common/log.h"
#include "server/connections/connection_thread.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <poll.h>

namespace brindle {

namespace {

constexpr size_t AUTH_PAYLOAD_SIZE = 32;
// Camera information piece: +0 number, +4 count, +8 chunk length, +12 chunk,
// then 3 bytes that are not used.
constexpr size_t INFO_PIECE_HEADER = 12;
constexpr uint32_t INFO_PIECE_OVERHEAD = 15;

// Compares without stopping at the first difference.
bool SameBlock(const uint8_t* a, const uint8_t* b, size_t n) {
    uint8_t diff = 0;
    for (size_t i = 0; i < n; ++i)
        diff |= static_cast<uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

bool ConnectionThread::HandleConnect(uint32_t nRelayValue) {
    SetStatus(CONNECTION_CONNECTING);
    if (rec_.Relayed() && !DrainRelayed(nRelayValue))
        return false;
    if (LoggedIn())
        LogWrite("%sから再接続開始\r\n", rec_.cPeerName.c_str());
    rec_.nLoginState.store(LOGIN_PENDING);
    if (rec_.relayPeer)
        rec_.relayPeer->fLoggedIn.store(false);
    fChallengePending_ = false;
    if (!ctx_.Password().cPassword.empty())
        return PaceLogin() && SendChallenge(nRelayValue);
    rec_.chain.fill(0);
    return CompleteLogin(PT_CONNECT);
}

// A relay may hold more packets that the client sent before it saw an
// answer; they belong to attempts that are over. Returns false when the
// last word among them was a disconnect.
bool ConnectionThread::DrainRelayed(uint32_t& nRelayValue) {
    bool fDisconnect = false;
    int nEmpty = 0;
    while (nEmpty < 2) {
        uint32_t nError = 0;
        uint32_t nValue = 0;
        int64_t n = ReceivePacket(rec_.packet, PacketSide::Server, packet_, nError, &nValue);
        if (n < static_cast<int64_t>(PACKET_HEADER_SIZE)) {
            ++nEmpty;
            continue;
        }
        nEmpty = 0;
        uint16_t nType = PacketHeaderRead(packet_.data()).type;
        bool fKept = nType == PT_CONNECT || nType == PT_DISCONNECT;
        LogWrite("%sから%s受信%s\r\n", rec_.cPeerName.c_str(), PacketTypeName(nType),
                 fKept ? "" : "破棄");
        if (nType == PT_CONNECT) {
            nRelayValue = nValue;
            fDisconnect = false;
        } else if (nType == PT_DISCONNECT) {
            fDisconnect = true;
        }
    }
    return !fDisconnect;
}

// Waits out the pause that earlier failed log-ins from this address
// earned, without holding up anyone else; false when a stop request came
// meanwhile.
bool ConnectionThread::PaceLogin() {
    for (;;) {
        if (StopRequested())
            return false;
        uint32_t nDelay = manager_.Pacer().Delay(rec_.cPeerName);
        if (nDelay == 0)
            return true;
        pollfd fd{rec_.wake.Get(), POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(std::min<uint32_t>(nDelay, 100))) > 0)
            DrainWake();
    }
}

bool ConnectionThread::SendChallenge(uint32_t nRelayValue) {
    ServerPassword password = ctx_.Password();
    rec_.chain = LoginChallenge(SystemTimeToFileTime(ctx_.clock.LocalNow()));
    uint8_t payload[AUTH_PAYLOAD_SIZE] = {};
    std::memcpy(payload, rec_.chain.data(), rec_.chain.size());
    StoreLe64(payload + 16, password.nStamp);
    StoreLe32(payload + 24, nRelayValue);
    fChallengePending_ = true;
    return Reply(PT_AUTH, payload);
}

bool ConnectionThread::HandleAuth() {
    // A response counts only as the answer to a challenge of this
    // conversation: an old challenge or digest left in the record must not
    // let a replayed response in.
    // A guess against a challenge already given is paced like a new one.
    if (!PaceLogin())
        return false;
    std::span<const uint8_t> payload = Payload();
    bool fMatch = false;
    if (fChallengePending_ && payload.size() >= rec_.chain.size()) {
        LoginBlock digest = LoginDigest(ctx_.Password().cPassword, rec_.chain);
        fMatch = SameBlock(digest.data(), payload.data(), digest.size());
        if (fMatch)
            rec_.chain = digest;
    }
    if (!fMatch) {
        if (manager_.Pacer().Failed(rec_.cPeerName))
            LogWrite("%sからのログイン失敗が続いているため応答を遅らせます\r\n",
                     rec_.cPeerName.c_str());
        return ReplyResult(PT_AUTH, ERR_AUTH_FAILED);
    }
    manager_.Pacer().Succeeded(rec_.cPeerName);
    fChallengePending_ = false;
    return CompleteLogin(PT_AUTH);
}

bool ConnectionThread::CompleteLogin(uint16_t nType) {
    std::string text;
    uint32_t err = 0;
    {
        std::lock_guard<std::mutex> lock(ctx_.shared.mainLock);
        err = ReadCameraInformation(ctx_.cSettingsFile, text);
    }
    if (err != 0)
        return ReplyResult(nType, err);
    uint32_t nSendError = SendCameraInformation(text);
    if (nSendError == 0) {
        // Before the result goes out: a client that has its result may take
        // it for granted that the others stand down, and a peer that
        // connects after that moment must not be stood down itself.
        rec_.nLoginState.store(LOGIN_DONE);
        // Relayed files from now on carry check values chained from here.
        if (rec_.relayPeer) {
            RelayCheckValue chain;
            std::memcpy(chain.data(), rec_.chain.data(), chain.size());
            rec_.relayPeer->SetLogin(ctx_.Password().cPassword, chain);
            rec_.relayPeer->fLoggedIn.store(true);
        }
        manager_.StandDownOthers(&rec_);
        SetStatus(CONNECTION_CONNECTED);
    }
    if (!ReplyResult(nType, nSendError) || nSendError != 0)
        return false;
    // The first image should not wait for the cipher to be set up.
    EnsureCipher();
    return true;
}

uint32_t ConnectionThread::SendCameraInformation(const std::string& text) {
    size_t nChunk = ctx_.PacketMax() - INFO_PIECE_OVERHEAD;
    if (rec_.Relayed())
        nChunk = std::max<size_t>(nChunk, text.size());
    size_t nPieces = std::max<size_t>(1, (text.size() + nChunk - 1) / nChunk);
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(PacketSendBufferSize(nChunk + INFO_PIECE_OVERHEAD));
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY_CODE;
    }
    for (size_t i = 0; i < nPieces; ++i) {
        size_t nOffset = i * nChunk;
        size_t n = std::min(nChunk, text.size() - std::min(nOffset, text.size()));
        uint8_t* p = buffer.data() + PACKET_HEADER_SIZE;
        StoreLe32(p, static_cast<uint32_t>(i + 1));
        StoreLe32(p + 4, static_cast<uint32_t>(nPieces));
        StoreLe32(p + 8, static_cast<uint32_t>(n));
        std::memcpy(p + INFO_PIECE_HEADER, text.data() + nOffset, n);
        std::memset(p + INFO_PIECE_HEADER + n, 0, 3);
        uint32_t err = SendPacket(rec_.packet, PT_CONNECT, buffer,
                                  static_cast<uint32_t>(n + INFO_PIECE_OVERHEAD),
                                  SEND_COMPRESS | SEND_ENCIPHER, false);
        if (err != 0)
            return err;
    }
    return 0;
}

} // namespace brindle
