#include "server/connections/property_remote.h"

#include "common/little_endian.h"
#include "server/capture/camera_control.h"

#include <new>

namespace brindle {

namespace {

constexpr uint32_t DESCRIPTION_EMPTY_LENGTH = 2;

std::vector<uint8_t> EmptyDescription(int32_t nCamera) {
    std::vector<uint8_t> reply(DESCRIPTION_EMPTY_LENGTH + PROPERTY_DECLARED_EXTRA, 0);
    StoreLe32(reply.data(), static_cast<uint32_t>(nCamera));
    StoreLe32(reply.data() + 8, DESCRIPTION_EMPTY_LENGTH);
    return reply;
}

} // namespace

void PropertyRemote::SetWaker(std::function<void()> waker) {
    std::lock_guard<std::mutex> guard(lock_);
    waker_ = std::move(waker);
}

void PropertyRemote::Wake() {
    std::function<void()> waker;
    {
        std::lock_guard<std::mutex> guard(lock_);
        waker = waker_;
    }
    if (waker)
        waker();
}

void PropertyRemote::CloseLocked() {
    ++nRevision_;
    dialog_.reset();
    device_.reset();
    owner_ = nullptr;
}

void PropertyRemote::MakePendingLocked(uint32_t nKind) {
    if (dialog_ == nullptr && nKind == PROPERTY_UPDATE_VALUES)
        return;
    // A close replaces a value update; a value update adds to one pending.
    if (nPendingCamera_ == 0 || nKind == PROPERTY_UPDATE_CLOSED)
        nPendingKind_ = nKind;
    if (dialog_ != nullptr)
        nPendingCamera_ = dialog_->Camera();
}

std::vector<uint8_t> PropertyRemote::Open(int32_t nCamera, std::shared_ptr<CameraControls> device,
                                          uint32_t nPacketMax, const void* owner) {
    std::vector<uint8_t> reply;
    bool fFollowUp = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        CloseLocked();
        nPendingCamera_ = 0;
        std::vector<CaptureControl> controls;
        if (device == nullptr || device->List(controls) != 0 || controls.empty())
            return EmptyDescription(nCamera);
        try {
            auto dialog = std::make_unique<PropertyDialog>(nCamera, device->Name(), controls);
            reply = dialog->Describe(nPacketMax, fFollowUp);
            if (dialog->Windows().empty())
                return reply;
            dialog_ = std::move(dialog);
        } catch (const std::bad_alloc&) {
            return EmptyDescription(nCamera);
        }
        device_ = std::move(device);
        owner_ = owner;
        ++nRevision_;
        if (fFollowUp)
            MakePendingLocked(PROPERTY_UPDATE_VALUES);
    }
    if (fFollowUp)
        Wake();
    return reply;
}

bool PropertyRemote::Command(std::span<const uint8_t> payload) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (dialog_ == nullptr || !dialog_->Replay(payload, *device_))
            return false;
        ++nRevision_;
        MakePendingLocked(PROPERTY_UPDATE_VALUES);
    }
    Wake();
    return true;
}

void PropertyRemote::ConversationEnded(const void* owner) {
    std::lock_guard<std::mutex> guard(lock_);
    if (dialog_ == nullptr || owner_ != owner)
        return;
    CloseLocked();
    nPendingCamera_ = 0;
}

void PropertyRemote::CloseFromView(uint32_t hDialog) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (dialog_ == nullptr || (hDialog != 0 && dialog_->Windows().front().hWindow != hDialog))
            return;
        MakePendingLocked(PROPERTY_UPDATE_CLOSED);
        CloseLocked();
    }
    Wake();
}

void PropertyRemote::RefreshFromView() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (dialog_ == nullptr)
            return;
        ++nRevision_;
        if (!dialog_->Refresh(*device_))
            return;
        MakePendingLocked(PROPERTY_UPDATE_VALUES);
    }
    Wake();
}

bool PropertyRemote::WithDialog(const std::function<void(PropertyDialog&, CameraControls&)>& fn) {
    std::lock_guard<std::mutex> guard(lock_);
    if (dialog_ == nullptr)
        return false;
    fn(*dialog_, *device_);
    ++nRevision_;
    return true;
}

bool PropertyRemote::Snapshot(std::vector<PropertyWindow>& windows) {
    std::lock_guard<std::mutex> guard(lock_);
    windows.clear();
    if (dialog_ == nullptr)
        return false;
    windows = dialog_->Windows();
    return true;
}

bool PropertyRemote::IsOpen() {
    std::lock_guard<std::mutex> guard(lock_);
    return dialog_ != nullptr;
}

bool PropertyRemote::UpdatePending() {
    std::lock_guard<std::mutex> guard(lock_);
    return nPendingCamera_ != 0;
}

bool PropertyRemote::TakeUpdate(Update& update) {
    std::lock_guard<std::mutex> guard(lock_);
    if (nPendingCamera_ == 0)
        return false;
    update = Update{};
    update.nCamera = nPendingCamera_;
    update.nKind = nPendingKind_;
    update.payload.assign(PROPERTY_DESCRIPTION_HEADER, 0);
    if (nPendingKind_ == PROPERTY_UPDATE_VALUES && dialog_ != nullptr)
        update.nItems = dialog_->TakeItems(update.payload);
    nPendingCamera_ = 0;
    nPendingKind_ = 0;
    if (update.nKind == PROPERTY_UPDATE_VALUES && update.nItems == 0)
        return false;
    StoreLe32(update.payload.data(), static_cast<uint32_t>(update.nCamera));
    StoreLe32(update.payload.data() + 4, update.nKind);
    StoreLe32(update.payload.data() + 8, update.nItems * uint32_t(PROPERTY_UPDATE_ITEM));
    return true;
}

} // namespace brindle
