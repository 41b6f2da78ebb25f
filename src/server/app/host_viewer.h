// BrindleHost's side of a camera's image viewer: its title, folder tree and
// placement record, and the live pictures of the frame cycle.
#pragma once

#include "imagestore/viewer/viewer_host.h"

#include <memory>
#include <mutex>

namespace brindle {

class ServerRuntime;
class CompositionSurface;

inline constexpr int HOST_DATE_DIALOG_ID = 132;

class HostViewer final : public ViewerHost {
  public:
    HostViewer(ServerRuntime& runtime, int nCamera, bool fTray);

    std::string Title() const override;
    std::string PlacementKey() const override;
    ImageTree Tree() const override;
    int RetentionDays() const override;
    std::string Caption() const override { return "Brindle Host"; }
    int DateDialogId() const override { return HOST_DATE_DIALOG_ID; }
    bool TraceOn() const override { return false; }
    bool HasTray() const override { return fTray_; }
    std::string ReadPlacement(const std::string& key) override;
    void WritePlacement(const std::string& key, const std::string& value) override;
    void SetLiveSlot(std::shared_ptr<LiveFrameSlot> slot) override;

    // The frame cycle's side (the runtime's thread).
    bool WantsLive() const;
    // Offers the stamped picture (top-down) to the viewer.
    void OfferLive(const CompositionSurface& composed, uint64_t ftCapture);

  private:
    ServerRuntime& runtime_;
    int nCamera_;
    bool fTray_;
    std::shared_ptr<LiveFrameSlot> slot_;
};

} // namespace brindle
