// BrindleView's main window: the server box with connect and disconnect,
// the settings of the current server's cameras (sent only by "サーバに設定"),
// the local save folder, the log, the tray icon and the image windows.
//
// It owns the ClientRuntime and drives it as the headless program does;
// the connection threads reach it only through WindowHost, whose reports
// arrive here as queued calls. Nothing here waits for a connection thread
// except the close, which keeps the event loop running while it waits.
#pragma once

#include "client/app/client_runtime.h"
#include "client/app/window_host.h"
#include "imagestore/viewer/live_slot.h"

#include <QPointer>
#include <QWidget>

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QAction;
class QLineEdit;
class QMenu;
class QMessageBox;
class QSystemTrayIcon;
class QTimer;

namespace Ui {
class ClientMainWindow;
}

namespace brindle {

class AccountDialog;
class ImageViewerWindow;
class PasswordDialog;
class PropertyReplicaHost;
class RemotePropertyDialog;
class ViewerHost;

struct ClientWindowOptions {
    std::string cDataFolder; // opened and locked by the caller
    NetworkEnvironment* pNetwork = nullptr;
    const Clock* pClock = nullptr; // null: the system clock
    bool fWatchPower = true;
    bool fUseTray = true; // a tray icon when the desktop has a tray
    // Asks whether to create a missing save folder; tests answer here.
    std::function<bool(const QString& text)> askCreateFolder;
};

// The nine image cipher names, in the order of their numbers.
QStringList CipherNames();

class ClientMainWindow : public QWidget {
    Q_OBJECT

  public:
    explicit ClientMainWindow(ClientWindowOptions options, QWidget* parent = nullptr);
    ~ClientMainWindow() override;

    // Reads the settings, fills the controls and starts the timer; with
    // fAutoConnect the marked servers are connected right after.
    void Start(bool fAutoConnect = true);

    // Ends the program's work: cancels open questions, closes the image
    // windows, stops every connection thread (serving their calls while
    // they stop) and saves the position. Idempotent.
    void CloseNow();

    // Connects a server named on the command line as the connect button
    // would, so that the server box and the buttons show it.
    void ConnectFromCommandLine(const std::string& text) { ConnectWith(text, {}); }

    // Brings the window to the front (tray item 32777, a second start).
    void OpenFromTray();

    // A control by its id, for the tray, tests and screenshots.
    QWidget* Control(int id) const;
    QMenu* TrayMenu() const { return trayMenu_; }
    ClientRuntime& Runtime() { return *runtime_; }
    WindowHost& Host() { return host_; }
    bool HasTray() const { return tray_ != nullptr; }
    bool Closed() const { return fClosed_; }

    // Open question windows: the password dialogs and message boxes.
    std::vector<QWidget*> OpenQuestions() const;
    // The result of the last message box of a connection thread.
    int LastBoxResult() const { return nLastBoxResult_; }
    // Scales the self-closing limit of message boxes (tests shorten it).
    void SetBoxLimitDivisor(int n) { nBoxLimitDivisor_ = n < 1 ? 1 : n; }
    // The storage settings dialog while it is open (1051, or a connect
    // that found no usable account).
    AccountDialog* StorageDialog() const;
    // The image window of a viewer record, when open.
    ImageViewerWindow* ViewerWindowOf(const ClientViewer* viewer) const;

    // --- called by WindowHost on the GUI thread ---
    void OpenPasswordDialog(ServerParams* psp, std::shared_ptr<PendingAnswer> answer);
    void OpenMessageBox(const QString& text, uint32_t nTimeoutMs,
                        std::shared_ptr<PendingAnswer> answer);
    void ServerStateChanged(ServerParams* psp);
    void CameraTableChanged(ServerParams* psp);
    void CountsChanged(ServerParams* psp, int nCamera);
    void OpenViewer(ClientViewer* viewer, int nMode);
    // A property payload (after the header) from psp's thread, for the
    // remote property dialog; and psp's link went down.
    void PropertyPacket(ServerParams* psp, const std::vector<uint8_t>& payload);
    void PropertyLinkDown(ServerParams* psp);

    // The remote property dialog; null until the property button first
    // opened it.
    RemotePropertyDialog* PropertyDialog() const { return propertyDialog_; }
    bool PropertyDialogOpen() const;

    // A connection thread's box text, translated.
    static QString ThreadText(const QString& text);

    // --- any thread ---
    // The live slot of an open image window; with nWaitMs, waits that long
    // for one to appear.
    std::shared_ptr<LiveFrameSlot> LiveSlotOf(const ClientViewer* viewer, int nWaitMs = 0);
    void SetLiveSlot(const ClientViewer* viewer, std::shared_ptr<LiveFrameSlot> slot);
    void ViewerClosed(const ClientViewer* viewer);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void SetUpControls();
    void SetUpTray();
    void ReadSettings();
    void FillServerBox();

    // Server group.
    void ServerTextChanged(const QString& text);
    void SelectServer(ServerParams* psp);
    void RefreshServerControls();
    void Connect();
    void ConnectWith(const std::string& text, const std::string& storageUri);
    void ShowRecentServers();
    void Disconnect();
    void AutoConnectClicked(bool fOn);

    // Storage list and settings.
    void FillStorageList();
    void ShowServerStorage();
    void StorageChosen(int nIndex);
    void AttachStorage(ServerParams* psp, const std::string& uri);
    std::string StorageOf(ServerParams* psp);
    std::string UsableSelectedStorage();
    void OpenStorageSettings(std::function<void()> accepted);

    // Camera group.
    void ShowCamera(int nIndex);
    void ApplyEnabling();
    void EditCamera(const std::function<void(CameraInfo&)>& edit);
    void CommitNumber(QLineEdit* edit);
    void CommitNumbers();
    void ChooseFont();
    void SendToServer();
    void ShowImages();

    // Local group, log and exit.
    void BrowseFolder();
    void SaveClicked(bool fOn);
    void ShowLog();
    void ClearLog();
    void AskExit();
    void ShowVersion();
    void RefreshTrayViewers();
    void ReportWriteError(const char* key, uint32_t rc);

    ServerParams* Current() const { return current_; }
    // The property button: an open request for the current camera, and
    // the dialog waiting for its description.
    void OpenRemoteProperty();

    ClientWindowOptions options_;
    std::unique_ptr<Ui::ClientMainWindow> ui_;
    WindowHost host_;
    std::unique_ptr<ClientRuntime> runtime_;
    ServerParams* current_ = nullptr;
    bool fFilling_ = false; // controls are being filled, not edited
    bool fClosing_ = false;
    bool fClosed_ = false;
    int nLastBoxResult_ = 0;
    int nBoxLimitDivisor_ = 1;
    QTimer* timer_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QAction* exitAction_ = nullptr;
    QPointer<AccountDialog> storageDialog_;

    // Open questions and what answers them.
    std::map<QWidget*, std::shared_ptr<PendingAnswer>> questions_;

    // Image windows by viewer record, each with its host.
    struct OpenViewerWindow {
        QPointer<ImageViewerWindow> window;
        std::unique_ptr<ViewerHost> host;
    };
    std::map<const ClientViewer*, OpenViewerWindow> viewers_;
    std::vector<const ClientViewer*> trayViewers_; // item 30000 + n is entry n
    mutable std::mutex slotLock_;
    std::condition_variable slotCv_;
    std::map<const ClientViewer*, std::shared_ptr<LiveFrameSlot>> slots_;

    // The remote property dialog and the request slots it fills.
    std::shared_ptr<PropertyReplicaHost> propertyRequests_;
    RemotePropertyDialog* propertyDialog_ = nullptr;
};

} // namespace brindle
