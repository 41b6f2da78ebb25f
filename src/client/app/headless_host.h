// The connection threads' program edge when BrindleView runs without
// windows: the password comes from a file, message boxes go to the log and
// to standard error, and link states are reported on standard error.
#pragma once

#include "client/connections/client_host.h"

#include <atomic>
#include <mutex>
#include <string>

namespace brindle {

class PropertyConsole;

class HeadlessHost : public ClientHost {
  public:
    // passwordFile: the --password-file argument; empty when none was given.
    explicit HeadlessHost(std::string passwordFile) : passwordFile_(std::move(passwordFile)) {}

    // The file's first line. A password the server has just refused is not
    // offered again (there is nobody to type another), so the thread stops.
    uint32_t AskPassword(ServerParams& psp, std::string& cPassword) override;
    void ShowMessage(const std::string& text, uint32_t nTimeoutMs) override;
    void UpdateServerState(ServerParams& psp) override;
    // Nothing shows pictures here; they are only stored.
    bool LivePicturesWanted() const override { return false; }

    // Property packets and link ends go to the console while one is set;
    // it is set before the connections start and cleared after they stop.
    void SetConsole(PropertyConsole* console) { console_.store(console); }
    void PropertyPacket(ServerParams& psp, std::span<const uint8_t> packet) override;
    void ClosePropertyDialogOf(ServerParams& psp) override;

  private:
    std::string passwordFile_;
    std::mutex lock_;
    std::atomic<PropertyConsole*> console_{nullptr};
};

} // namespace brindle
