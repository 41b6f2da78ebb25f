// The state of one run of ClientThread and its steps. Internal to the
// connection library: the thread body, the packet dispatch and the handling
// of received content are split over several files.
#pragma once

#include "client/connections/client_context.h"
#include "client/connections/client_host.h"
#include "client/connections/reception.h"
#include "common/unique_fd.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brindle {

class ClientLink {
  public:
    ClientLink(ClientContext& ctx, ServerParams& psp);
    ClientLink(const ClientLink&) = delete;
    ClientLink& operator=(const ClientLink&) = delete;

    void Run();

  private:
    enum class Next { Continue, Teardown };

    // client_thread.cpp: start, attempts, the receive pass, teardown, exit.
    void Start();
    bool Attempt();
    bool ConnectTcp();
    bool ConnectSocket();
    void LearnEthernetAddress();
    void UpdateServerState();
    bool PrepareStorage();
    void ReceivePasses();
    Next SendPendingRequest(bool& fSent);
    Next Clocks();
    Next OnNothingReceived();
    Next OnReceiveError(uint32_t nError);
    void Teardown();
    void AwaitServerDisconnect();
    void TakeRelayRest();
    void Exit();

    // client_dispatch.cpp: what the server's packets do.
    Next Dispatch(int64_t nReceived);
    Next OnResult(std::span<const uint8_t> payload);
    Next OnAuthFailed();
    Next OnAuth(std::span<uint8_t> payload);
    Next OnProperty();
    bool AskPassword();
    void DrainRelay();

    // client_content.cpp: the settings transfer and image sets.
    Next OnSettingsChunk(std::span<const uint8_t> payload);
    Next FinishSettingsTransfer();
    void DropSettingsFile(bool fDelete);
    Next OnImagePiece(std::span<const uint8_t> payload, uint16_t nType, uint32_t nFlags);
    void StoreImageSet(std::span<const uint8_t> set, uint16_t nType, uint32_t nFlags);
    void StoreImageRecord(const ImageRecord& record, uint16_t nType, uint32_t nFlags);
    void SaveImage(const ImageRecord& record, const std::string& cName2, const std::string& cWhat);
    void ShowImage(ClientViewer& viewer, const ImageRecord& record);

    // Helpers.
    uint32_t Now() const;
    void SetAnswerClock() { nAnswerClock_ = Now(); }
    std::optional<int64_t> CorrectedElapsed(uint32_t nSince) const;
    int64_t Elapsed(uint32_t nSince) const;
    void Pause(uint32_t ms);
    uint32_t Send(uint16_t nType, std::span<const uint8_t> payload, bool fLog);
    int64_t Receive(uint32_t& nError);
    void CloseSocket();
    bool Stopping() const { return psp_.fStop.load() != 0; }
    // Storage links: our files the server has not read yet, as the last
    // listing found them.
    int32_t Unread() const { return psp_.relayPeer ? psp_.relayPeer->nBacklog.load() : 0; }
    const char* Address() const { return psp_.cAddress.c_str(); }

    ClientContext& ctx_;
    ServerParams& psp_;
    ClientHost& host_;
    const bool fStorage_;

    std::vector<uint8_t> packet_; // the receive buffer
    std::vector<uint8_t> sendBuffer_;
    UniqueFd socket_;

    uint32_t nAnswerClock_ = 0; // request sent that expects an answer; 0 = none
    uint32_t nEchoClock_ = 0;   // last image set or echo; 0 until online
    uint32_t nPollClock_ = 0;   // storage links: last poll
    bool fIdle_ = true;         // storage links: the last poll brought nothing
    uint32_t nLinkStamp_ = 0;
    bool fAuthAnswered_ = false;         // storage links: this log-in answered a challenge
    RelayTransport* attached_ = nullptr; // storage links: the worker the link is attached to
    uint64_t nServerStamp_ = 0; // password stamp of the last authentication request
    bool fServerDisconnect_ = false;

    ImageAssembly assembly_;
    UniqueFd settingsFile_;
    uint64_t nSettingsBytes_ = 0;
    DecodedImage scratch_; // decoded live picture before it goes to the viewer
};

} // namespace brindle
