// A client that speaks the protocol through the real codec over loopback,
// scripted by tests and benchmarks: log-in, requests, image batches.
#pragma once

#include "common/unique_fd.h"
#include "protocol/packet_codec.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace brindle::test {

struct ReceivedPacket {
    uint16_t nType = 0;
    uint32_t nFlags = 0;
    std::vector<uint8_t> payload;
};

struct BatchRecord {
    uint64_t ftCapture = 0;
    uint32_t nCamera = 0; // from 1
    uint32_t nSent = 0;
    uint32_t nDropped = 0;
    std::vector<uint8_t> jpeg;
};

// Splits an image batch into its records; false when a length points past
// the end.
bool ParseImageBatch(std::span<const uint8_t> batch, std::vector<BatchRecord>& records);

struct LoginOutcome {
    uint32_t nResult = 0xFFFFFFFF; // the result code for the log-in packet
    uint16_t nAnswered = 0;        // the type it answers (2 or 3)
    bool fChallenged = false;
    uint64_t nStamp = 0; // password stamp from the challenge
    std::string info;    // the camera information, joined
};

class ScriptedClient {
  public:
    ScriptedClient();

    // Connects from `source` (a loopback address) to 127.0.0.1:nPort.
    // nReceiveBuffer > 0 sets a small receive buffer before connecting.
    bool Connect(uint16_t nPort, const char* source = "127.0.0.1", int nReceiveBuffer = 0);
    // Orderly close, and an abortive one (the peer sees a reset).
    void Close();
    void Reset();
    bool Connected() const { return socket_.Valid(); }

    uint32_t Send(uint16_t nType, std::span<const uint8_t> payload,
                  uint32_t nOptions = SEND_ENCIPHER);
    uint32_t SendEmpty(uint16_t nType) { return Send(nType, {}); }

    // One packet within nTimeoutMs; false on time-out or failure (nError).
    bool Receive(ReceivedPacket& packet, uint32_t nTimeoutMs = 5000);
    // Skips packets until one of nType arrives.
    bool ReceiveType(uint16_t nType, ReceivedPacket& packet, uint32_t nTimeoutMs = 5000);
    // The next PT_RESULT: its answered type and code.
    bool ReceiveResult(uint16_t& nAnswered, uint32_t& nCode, uint32_t nTimeoutMs = 5000);
    // True when nothing at all arrives within nMs.
    bool Quiet(uint32_t nMs);
    // True when the server closes the connection within nTimeoutMs
    // (packets arriving meanwhile are skipped; a PT_DISCONNECT is noted).
    bool WaitClosed(uint32_t nTimeoutMs, bool* pfSawDisconnect = nullptr);

    // Sends PT_CONNECT, answers a challenge with `password`, and collects
    // the camera information and the result.
    LoginOutcome Login(const std::string& password);
    // Answers a challenge already received with a given digest, collecting
    // the outcome as Login does.
    LoginOutcome AnswerChallenge(const uint8_t digest[16]);
    // Sends PT_CONNECT and returns the challenge packet (or whatever came).
    bool StartLogin(ReceivedPacket& first, uint32_t nTimeoutMs = 5000);

    // Receives image pieces until one batch is whole. nType receives the
    // type of the last piece.
    bool ReceiveBatch(std::vector<BatchRecord>& records, uint32_t nTimeoutMs = 5000,
                      uint16_t* pnType = nullptr);

    uint32_t LastError() const { return nError_; }
    int Socket() const { return socket_.Get(); }

  private:
    LoginOutcome CollectLogin(LoginOutcome outcome);

    UniqueFd socket_;
    PacketConnection conn_;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> send_;
    uint32_t nError_ = 0;
};

// The digest a client sends for a challenge.
void ClientDigest(const std::string& password, const uint8_t challenge[16], uint8_t digest[16]);

} // namespace brindle::test
