// The remote property dialog (137): the replica of a server camera's own
// control dialog. The replica model (PropertyReplica) decides; this window
// shows its control table with a WindowTree, hands the user's actions to
// it, runs its timers on a QTimer (nothing here waits on the GUI thread)
// and covers itself while a storage-linked server works on a request.
#pragma once

#include "client/connections/property_replica.h"
#include "widgets/window_tree.h"

#include <QDialog>
#include <QTimer>

#include <memory>
#include <span>

namespace Ui {
class RemotePropertyDialog;
}

namespace brindle {

class RemotePropertyDialog : public QDialog, private PropertyReplicaHost {
    Q_OBJECT

  public:
    // `requests` takes the requests (its RequestSlotFree and PostRequest
    // are used; it must outlive the dialog).
    RemotePropertyDialog(PropertyReplicaHost& requests, const Clock& clock,
                         QWidget* parent = nullptr);
    ~RemotePropertyDialog() override;

    // Opened for `server`, empty until its description arrives.
    void OpenFor(const void* server, bool fStorageLinked);
    // A property payload (after the packet header) from `server`.
    void Packet(const void* server, std::span<const uint8_t> payload);
    // The link to `server` went down.
    void ServerGone(const void* server);

    const PropertyReplica& Replica() const { return replica_; }
    // The widget of control nIndex of the description; null when none.
    QWidget* ControlWidget(size_t nIndex) const { return tree_.Widget(nIndex); }
    bool Covered() const;
    // What the timer does when it fires, at once (tests move the clock).
    void RunTimers();

  signals:
    // The dialog closed, by its user, the server or itself.
    void Closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    // PropertyReplicaHost.
    bool RequestSlotFree(const void* server) override;
    void PostRequest(const void* server, int32_t nCamera, int32_t nKind, int32_t nControlKind,
                     uint32_t hWindow, int32_t nCode, int32_t nValue,
                     const std::string& cText) override;
    void Build() override;
    void ControlChanged(size_t nIndex) override;
    void CloseDialog() override;
    void ShowBusy(bool fShow) override;
    void Refused(const std::string& reason) override;

    void Schedule();
    void Finish();

    std::unique_ptr<Ui::RemotePropertyDialog> ui_;
    PropertyReplicaHost& requests_;
    PropertyReplica replica_;
    WindowTree tree_;
    QTimer timer_;
};

// The control table of a description as the widgets show it.
std::vector<TreeWindow> TreeWindowsOf(const ReplicaDescription& description);
TreeWindow TreeWindowOf(const ReplicaControl& control);

} // namespace brindle
