// The server's own view of a camera's control dialog ("プロパティ"): the
// window tree of the one PropertyDialog, as widgets. It works the same
// dialog a client may be working remotely: what the user does here is
// carried out on the device and goes to the client as an update, and what
// the client does shows here when the window looks again (Follow, from the
// main window's timer).
#pragma once

#include "server/connections/property_remote.h"
#include "widgets/window_tree.h"

#include <QDialog>

#include <memory>
#include <vector>

namespace Ui {
class HostPropertyDialog;
}

namespace brindle {

class HostPropertyDialog : public QDialog {
    Q_OBJECT

  public:
    explicit HostPropertyDialog(PropertyRemote& remote, QWidget* parent = nullptr);
    ~HostPropertyDialog() override;

    // Looks at the dialog again when it changed: a new dialog is built and
    // shown, a changed one shown again, a closed one hides the window.
    void Follow();
    // The widget of window nIndex (description order); null when none.
    QWidget* ControlWidget(size_t nIndex) const { return tree_.Widget(nIndex); }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // Runs an operation on window nIndex and lets the dialog re-read the
    // device.
    void Operate(size_t nIndex,
                 const std::function<void(PropertyDialog&, CameraControls&, uint32_t)>& op);
    void Rebuild();

    std::unique_ptr<Ui::HostPropertyDialog> ui_;
    PropertyRemote& remote_;
    WindowTree tree_;
    std::vector<PropertyWindow> windows_; // as last shown
    uint64_t nRevision_ = 0;
    uint32_t hShown_ = 0; // the dialog window shown; 0: none
};

// The windows of a dialog as the widgets show them.
std::vector<TreeWindow> TreeWindowsOf(const std::vector<PropertyWindow>& windows);

} // namespace brindle
