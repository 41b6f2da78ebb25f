// What BrindleView's image windows need of the program: titles and
// placement keys made from the server and camera, the camera's folder under
// the save folder, and the live pictures of the connection thread.
#pragma once

#include "imagestore/viewer/viewer_host.h"

namespace brindle {

class ClientMainWindow;
struct ClientViewer;

class ViewViewerHost : public ViewerHost {
  public:
    ViewViewerHost(ClientMainWindow& window, ClientViewer& viewer)
        : window_(window), viewer_(viewer) {}

    std::string Title() const override;        // "<server> <name>" and " [n]"
    std::string PlacementKey() const override; // "<server>-<camera folder>"
    ImageTree Tree() const override;           // under the save folder
    int RetentionDays() const override;
    std::string Caption() const override { return "Brindle View"; }
    int DateDialogId() const override { return 136; }
    bool TraceOn() const override { return true; }
    bool HasTray() const override;
    std::string ReadPlacement(const std::string& key) override;
    void WritePlacement(const std::string& key, const std::string& value) override;
    void SetLiveSlot(std::shared_ptr<LiveFrameSlot> slot) override;
    void ViewerClosed() override;

  private:
    ClientMainWindow& window_;
    ClientViewer& viewer_;
};

} // namespace brindle
