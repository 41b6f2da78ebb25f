// The thread of one ClientConnection: the outer loop (one conversation per
// pass), the inner loop (one packet or one image batch per pass) and the
// handling of every packet type. Internal to the connections library.
#pragma once

#include "server/connections/connection_manager.h"
#include "server/connections/image_batch.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace brindle {

class ConnectionThread {
  public:
    ConnectionThread(ConnectionManager& manager, ClientConnection& record);
    void Run();

  private:
    // Loops (connection_thread.cpp).
    void Converse();
    bool Pass();
    bool NothingReceived(int64_t n, uint32_t nError);
    bool ReceiveDue();
    bool WaitReadable();
    void WaitForWork();
    void DrainWake();
    bool Dispatch(uint16_t nType, uint32_t nRelayValue);
    void EndConversation();
    void DisconnectWait();
    void CloseSocket();
    void EndThread(bool fTouchStatus);

    // Log-in (connection_login.cpp).
    bool HandleConnect(uint32_t nRelayValue);
    bool DrainRelayed(uint32_t& nRelayValue);
    bool PaceLogin();
    bool SendChallenge(uint32_t nRelayValue);
    bool HandleAuth();
    bool CompleteLogin(uint16_t nType);
    uint32_t SendCameraInformation(const std::string& text);

    // Requests (connection_requests.cpp).
    bool HandleEcho();
    bool HandleRequest();
    uint32_t ApplyRequest(const CameraRequest& request);
    bool HandleProperty();
    bool SendPropertyUpdate();
    bool Reply(uint16_t nType, std::span<const uint8_t> payload, bool fLog = true);
    bool ReplyResult(uint16_t nType, uint32_t nCode);

    // Images (connection_images.cpp).
    bool SendImageBatch();
    uint32_t SendPieces(const ImageBatch& batch, bool& fLastPlain);
    void EnsureCipher();
    void BatchFailed(std::vector<SendQueueEntry>&& entries, uint32_t nError);

    void SetStatus(int32_t nStatus);
    bool LoggedIn() const { return rec_.nLoginState.load() == LOGIN_DONE; }
    bool StopRequested() const { return rec_.nStopRequest.load() != STOP_NONE; }
    std::span<const uint8_t> Payload() const;

    ConnectionManager& manager_;
    ServerContext& ctx_;
    ClientConnection& rec_;
    std::vector<uint8_t> packet_; // the packet received last
    std::vector<uint8_t> send_;   // work area for replies
    std::vector<uint8_t> pieces_; // work area for image pieces, kept between batches
    std::vector<std::span<const uint8_t>> parts_; // where a piece's bytes come from
    bool fClientDisconnected_ = false;
    bool fChallengePending_ = false;
    bool fRelayEmpty_ = false;
    uint32_t nLastRelayReceive_ = 0;
};

} // namespace brindle
