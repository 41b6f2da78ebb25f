// What the connection threads need of the program around them: the password
// dialog, message boxes and the hand-overs to the windows. The window
// program implements it with calls onto its GUI thread; the headless program
// and the tests with plain code. Every method is called from a connection
// thread and may block it (a message box does, until it closes).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace brindle {

struct ServerParams;
struct ClientViewer;

// The password dialog was cancelled.
inline constexpr uint32_t PASSWORD_CANCELLED = 1223;

class ClientHost {
  public:
    virtual ~ClientHost() = default;

    // Asks for the server's password. `cPassword` comes in as the known one
    // and goes out as the one entered. Returns 0 for OK or
    // PASSWORD_CANCELLED.
    virtual uint32_t AskPassword(ServerParams& psp, std::string& cPassword) {
        (void)psp;
        (void)cPassword;
        return PASSWORD_CANCELLED;
    }

    // A message box captioned "Brindle View"; with nTimeoutMs above 0 it
    // closes itself after that long. Returns when it is closed.
    virtual void ShowMessage(const std::string& text, uint32_t nTimeoutMs) {
        (void)text;
        (void)nTimeoutMs;
    }

    // The server's link state changed (UpdateServerState).
    virtual void UpdateServerState(ServerParams& psp) { (void)psp; }

    // A settings transfer completed: the camera table was rebuilt.
    virtual void SettingsTransferred(ServerParams& psp) { (void)psp; }

    // An image record of camera table entry nCamera arrived: its counts and
    // the server's plain flag changed. nType is the packet type (100-108).
    virtual void ImageCountsChanged(ServerParams& psp, int nCamera, uint16_t nType) {
        (void)psp;
        (void)nCamera;
        (void)nType;
    }

    // Whether received pictures are decoded for display at all. A program
    // without windows answers false and saves the decoding work.
    virtual bool LivePicturesWanted() const { return true; }

    // A live picture was decoded into the viewer (its picture and time, under
    // the process-wide lock). The window draws it; when it does not exist the
    // implementation has it created and waits up to 1,000 ms for it.
    virtual void ShowLivePicture(ClientViewer& viewer, uint64_t nFileTime) {
        (void)viewer;
        (void)nFileTime;
    }

    // A property packet (header and payload) for the remote property dialog.
    virtual void PropertyPacket(ServerParams& psp, std::span<const uint8_t> packet) {
        (void)psp;
        (void)packet;
    }

    // Closes the remote property dialog when one is open.
    virtual void ClosePropertyDialog() {}
    // The link to `psp` went down: closes the remote property dialog only
    // when it serves that server.
    virtual void ClosePropertyDialogOf(ServerParams& psp) {
        (void)psp;
        ClosePropertyDialog();
    }
};

} // namespace brindle
