#include "client/app/window_host.h"

#include "client/app/client_window.h"
#include "client/connections/client_context.h"
#include "protocol/packet.h"

#include <QMetaObject>

#include <chrono>

namespace brindle {

namespace {

// How long a live picture waits for the image window it has asked for.
constexpr int LIVE_WINDOW_WAIT_MS = 1000;

} // namespace

void PendingAnswer::Answer(uint32_t result, std::string text) {
    std::lock_guard<std::mutex> guard(lock);
    if (fDone)
        return;
    fDone = true;
    nResult = result;
    cText = std::move(text);
    cv.notify_all();
}

uint32_t PendingAnswer::Wait(const std::atomic<bool>& fGiveUp, std::string* pText) {
    std::unique_lock<std::mutex> guard(lock);
    // The window answers every open question when it closes; the give-up
    // check only covers a question queued after that.
    while (!fDone)
        if (!cv.wait_for(guard, std::chrono::milliseconds(100), [this] { return fDone; }) &&
            fGiveUp.load())
            return PASSWORD_CANCELLED;
    if (pText != nullptr)
        *pText = cText;
    return nResult;
}

uint32_t WindowHost::AskPassword(ServerParams& psp, std::string& cPassword) {
    if (fClosing_.load() || window_ == nullptr)
        return PASSWORD_CANCELLED;
    auto answer = std::make_shared<PendingAnswer>();
    ClientMainWindow* window = window_;
    QMetaObject::invokeMethod(
        window, [window, &psp, answer] { window->OpenPasswordDialog(&psp, answer); },
        Qt::QueuedConnection);
    std::string entered;
    uint32_t rc = answer->Wait(fClosing_, &entered);
    if (rc == 0)
        cPassword = entered;
    return rc;
}

void WindowHost::ShowMessage(const std::string& text, uint32_t nTimeoutMs) {
    if (fClosing_.load() || window_ == nullptr)
        return;
    auto answer = std::make_shared<PendingAnswer>();
    ClientMainWindow* window = window_;
    QString body = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        window,
        [window, body, nTimeoutMs, answer] { window->OpenMessageBox(body, nTimeoutMs, answer); },
        Qt::QueuedConnection);
    answer->Wait(fClosing_, nullptr);
}

void WindowHost::UpdateServerState(ServerParams& psp) {
    if (window_ == nullptr)
        return;
    ClientMainWindow* window = window_;
    QMetaObject::invokeMethod(
        window, [window, p = &psp] { window->ServerStateChanged(p); }, Qt::QueuedConnection);
}

void WindowHost::SettingsTransferred(ServerParams& psp) {
    if (window_ == nullptr)
        return;
    ClientMainWindow* window = window_;
    QMetaObject::invokeMethod(
        window, [window, p = &psp] { window->CameraTableChanged(p); }, Qt::QueuedConnection);
}

void WindowHost::ImageCountsChanged(ServerParams& psp, int nCamera, uint16_t nType) {
    (void)nType;
    if (window_ == nullptr)
        return;
    ClientMainWindow* window = window_;
    QMetaObject::invokeMethod(
        window, [window, p = &psp, nCamera] { window->CountsChanged(p, nCamera); },
        Qt::QueuedConnection);
}

// The picture goes to the camera's image window; a camera without one gets
// one opened in live mode, and the picture waits up to a second for it.
void WindowHost::ShowLivePicture(ClientViewer& viewer, uint64_t nFileTime) {
    if (window_ == nullptr || fClosing_.load())
        return;
    ClientMainWindow* window = window_;
    std::shared_ptr<LiveFrameSlot> slot = window->LiveSlotOf(&viewer);
    if (!slot) {
        QMetaObject::invokeMethod(
            window, [window, v = &viewer] { window->OpenViewer(v, VIEWER_LIVE); },
            Qt::QueuedConnection);
        slot = window->LiveSlotOf(&viewer, LIVE_WINDOW_WAIT_MS);
    }
    if (!slot || !slot->Wanted())
        return;
    ViewerPicture picture;
    {
        std::lock_guard<std::mutex> guard(window->Runtime().Context().lock);
        picture.pixels = viewer.picture.pixels;
        picture.nWidth = viewer.picture.nWidth;
        picture.nHeight = viewer.picture.nHeight;
        picture.nStride = viewer.picture.nStride;
    }
    slot->Offer(std::move(picture), nFileTime);
}

void WindowHost::PropertyPacket(ServerParams& psp, std::span<const uint8_t> packet) {
    if (window_ == nullptr || fClosing_.load() || packet.size() < PACKET_HEADER_SIZE)
        return;
    ClientMainWindow* window = window_;
    std::vector<uint8_t> payload(packet.begin() + PACKET_HEADER_SIZE, packet.end());
    QMetaObject::invokeMethod(
        window,
        [window, p = &psp, payload = std::move(payload)] { window->PropertyPacket(p, payload); },
        Qt::QueuedConnection);
}

void WindowHost::ClosePropertyDialogOf(ServerParams& psp) {
    if (window_ == nullptr || fClosing_.load())
        return;
    ClientMainWindow* window = window_;
    QMetaObject::invokeMethod(
        window, [window, p = &psp] { window->PropertyLinkDown(p); }, Qt::QueuedConnection);
}

} // namespace brindle
