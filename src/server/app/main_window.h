// BrindleHost's main window: every server setting with its status, counters
// and indicators, the tray icon with its menu, the preview windows and the
// image viewers.
//
// The window owns the ServerRuntime and is its ServerHost: it never does
// the runtime's work itself. Its 50 ms timer calls ServerRuntime::Tick;
// edits go to the runtime's setters, which write the settings file and act.
// What connection threads report reaches the window by queued calls only.
#pragma once

#include "imagestore/viewer/viewer_window.h"
#include "server/app/server_host.h"
#include "server/app/server_runtime.h"
#include "widgets/choose_folder.h"
#include "widgets/font_chooser.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>

class QAction;
class QLineEdit;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace Ui {
class HostMainWindow;
}

namespace brindle {

class HostPropertyDialog;
class HostViewer;
class PreviewWindow;

// Tray menu ids; viewer items are TRAY_VIEWER_BASE + camera index.
inline constexpr int TRAY_OPEN = 32777;
inline constexpr int TRAY_ABOUT = 40001;
inline constexpr int TRAY_EXIT = 32771;
inline constexpr int TRAY_VIEWER_BASE = 30000;

inline constexpr uint32_t INDICATOR_MS = 500;
inline constexpr uint32_t PREVIEW_MS = 100;
// Clients send at most this many bytes of a password.
inline constexpr int PASSWORD_BYTES_MAX = 255;

struct HostWindowOptions {
    RuntimeOptions runtime; // pHost is set by the window
    FolderDialog folderDialog = QtFolderDialog;
    FontDialog fontDialog = QtFontDialog;
    // A question with the question icon: returns the id of the pressed
    // button (IDYES, IDNO, IDOK, IDCANCEL). Null: a QMessageBox.
    std::function<int(const QString& text, QMessageBox::StandardButtons buttons)> ask;
    // A failure the user must see. Null: a QMessageBox.
    std::function<void(const QString& text)> tell;
    // Opens the log file in the desktop's viewer; false when it could not.
    // Null: QDesktopServices.
    std::function<bool(const QString& path)> openLog;
    bool fTray = true;  // sit in the tray when the desktop has one
    bool fTimer = true; // run the 50 ms and 100 ms timers (tests tick by hand)
};

class HostMainWindow : public QWidget, public ServerHost {
    Q_OBJECT

  public:
    explicit HostMainWindow(HostWindowOptions options, QWidget* parent = nullptr);
    ~HostMainWindow() override;

    // Starts the runtime and fills the controls. Returns 0, or the
    // runtime's code after the failure was shown.
    uint32_t Start();
    // Shows the window as the tray's "開く(&O)" does (also for a second start).
    void ShowFromTray();
    // Asks "終了しますか?" and closes on yes.
    void RequestExit();
    // Closes as a yes to that question does (a stop signal).
    void EndWithoutQuestion();

    // One 50 ms step and one 100 ms preview step; the timers call them,
    // tests may too.
    void TimerTick();
    void PreviewTick();

    // For the owner and tests.
    ServerRuntime& Runtime() { return *runtime_; }
    QWidget* Control(int id) const;
    QMenu* TrayMenu() const { return trayMenu_; }
    bool HasTray() const { return tray_ != nullptr; }
    int SelectedCamera() const { return nSelected_; }
    PreviewWindow* Preview(int nCamera) const;
    ImageViewerWindow* ViewerWindow(int nCamera) const;
    // The camera control dialog ("プロパティ"); null until first shown.
    HostPropertyDialog* PropertyView() const { return propertyView_; }
    void OpenViewer(int nCamera);
    // Runs a tray-menu command by id.
    void RunTrayCommand(int id);

    // ServerHost.
    void CameraStartFailed(const CameraSettings& camera, uint32_t nCode,
                           const std::string& hint) override;
    void CameraStopFailed(const CameraSettings& camera) override;
    void CameraSettingsApplied(int nCamera) override;
    bool AskCreateImageFolder(const std::string& folder) override;
    void ChangeDetected(int nCamera) override;
    void ImageSaved(int nCamera) override;
    bool WantsLiveFrame(int nCamera) override;
    void LiveFrame(int nCamera, const CaptureFrame& raw, const CompositionSurface& composed,
                   uint64_t ftCapture) override;
    void PeerShown(const std::string& peer) override;
    void StatusChanged(int32_t nStatus) override;
    void CipherWarning(bool fShow) override;
    void SentCountsChanged() override;
    void ImageDropped(int nCamera, uint32_t nDroppedCount) override;

  signals:
    // The window has closed for good (the runtime is shut down).
    void Closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    enum class Field { kQuality, kCycle, kDays, kPort };

    void SetUpControls();
    void SetUpTray();
    void LoadGlobals();
    void FillCameraBox();
    void SelectCamera(int nCamera);
    void LoadCamera();
    void ApplyEnabling();
    void RefreshCounts();
    void ShowStatus(int32_t nStatus);

    // Numeric fields commit on Enter, focus loss, hide and close.
    void CommitField(Field field);
    void CommitFields();
    uint32_t FieldValue(Field field) const;
    QLineEdit* FieldEdit(Field field) const;

    // A camera edit: change a copy of the selected camera's settings and
    // hand it to the runtime.
    void EditCamera(const std::function<void(CameraSettings&)>& change);
    void ChooseFont();
    void ChooseFolder();
    // "プロパティ": the selected camera's controls, or the dialog a client
    // has open.
    void OpenProperty();
    void FollowProperty();
    void PasswordEdited();
    void ShowLog();
    void ClearLog();
    void ShowAbout();
    void UpdateTrayMenu();
    void AddViewerItem(int nCamera);
    void ShowWriteFailure(uint32_t nError);

    int Ask(const QString& text, QMessageBox::StandardButtons buttons);
    void Tell(const QString& text);

    HostWindowOptions options_;
    const Clock& clock_;
    std::unique_ptr<Ui::HostMainWindow> ui_;
    std::unique_ptr<ServerRuntime> runtime_;
    QTimer* timer_ = nullptr;
    QTimer* previewTimer_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QAction* viewerSeparator_ = nullptr;
    std::map<int, QAction*> viewerItems_;
    struct ViewerSlot {
        std::unique_ptr<HostViewer> host;
        QPointer<ImageViewerWindow> window;
    };
    std::map<int, ViewerSlot> viewers_;
    std::map<int, PreviewWindow*> previews_;
    HostPropertyDialog* propertyView_ = nullptr;
    // Previews the user closed: shown again when preview is switched on anew.
    std::map<int, bool> previewClosed_;

    int nSelected_ = -1;
    uint32_t nDetectTick_ = 0;
    uint32_t nSaveTick_ = 0;
    bool fStarted_ = false;
    bool fLoading_ = false;
    bool fTicking_ = false;
    bool fExitConfirmed_ = false;
    bool fClosing_ = false;
    bool fClosed_ = false;
};

} // namespace brindle
