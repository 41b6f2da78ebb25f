// The connection threads' program edge when BrindleView has its window.
//
// Every report is handed to the GUI thread as a queued call; a thread that
// needs an answer (password, message box) waits on its own request record,
// never the GUI thread on it. The window answers the records when the user
// closes the dialog or box, and answers every open one with "cancelled"
// when it closes, so a waiting thread always gets to see its fStop.
#pragma once

#include "client/connections/client_host.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace brindle {

class ClientMainWindow;

// One question a connection thread waits on.
struct PendingAnswer {
    std::mutex lock;
    std::condition_variable cv;
    bool fDone = false;
    uint32_t nResult = 0;
    std::string cText; // the password entered

    void Answer(uint32_t result, std::string text = {});
    // Waits until answered or `fGiveUp` is set; the result of a give-up is
    // PASSWORD_CANCELLED.
    uint32_t Wait(const std::atomic<bool>& fGiveUp, std::string* pText);
};

class WindowHost : public ClientHost {
  public:
    void Attach(ClientMainWindow* window) { window_ = window; }
    // Once set, no question reaches the window any more: the window is
    // closing, and every new question is answered "cancelled" at once.
    void SetClosing() { fClosing_ = true; }
    bool Closing() const { return fClosing_.load(); }

    uint32_t AskPassword(ServerParams& psp, std::string& cPassword) override;
    void ShowMessage(const std::string& text, uint32_t nTimeoutMs) override;
    void UpdateServerState(ServerParams& psp) override;
    void SettingsTransferred(ServerParams& psp) override;
    void ImageCountsChanged(ServerParams& psp, int nCamera, uint16_t nType) override;
    void ShowLivePicture(ClientViewer& viewer, uint64_t nFileTime) override;
    // Handed over as copies: the thread goes on at once.
    void PropertyPacket(ServerParams& psp, std::span<const uint8_t> packet) override;
    void ClosePropertyDialogOf(ServerParams& psp) override;

  private:
    ClientMainWindow* window_ = nullptr; // set before any thread starts
    std::atomic<bool> fClosing_{false};
};

} // namespace brindle
