// The image viewer window of one camera, in both programs.
//
// It shows the camera's live pictures or steps and plays through its stored
// images in time; it zooms, pans, brightens, copies to the clipboard and
// remembers its placement. State lives in the camera's ViewerEntry, which
// outlives the window; what differs between the programs comes from the
// ViewerHost. Everything runs on the GUI thread; live pictures arrive
// through the LiveFrameSlot and are taken on the 10 ms timer.
#pragma once

#include "imagestore/viewer/viewer_host.h"
#include "imagestore/viewer_entry.h"
#include "platform/clock.h"

#include <QImage>
#include <QWidget>

#include <memory>
#include <optional>
#include <set>
#include <vector>

class QAbstractButton;
class QLabel;
class QMenu;
class QScrollBar;
class QTimer;

namespace Ui {
class ImageViewerWindow;
}

namespace brindle {

// Command ids: the buttons and the menu and key commands.
enum ViewerCommand : int {
    CMD_REWIND = 1014,
    CMD_DAY_BACK = 1015,
    CMD_HOUR_BACK = 1016,
    CMD_MINUTE_BACK = 1018,
    CMD_PREVIOUS = 1052,
    CMD_PAUSE = 1053,
    CMD_NEXT = 1054,
    CMD_FORWARD = 1055,
    CMD_HOUR_FORWARD = 1056,
    CMD_DAY_FORWARD = 1057,
    CMD_LATEST = 1058,
    CMD_MINUTE_FORWARD = 1059,
    CMD_FORWARD_HELD = 1060,
    CMD_REWIND_HELD = 1061,
    CMD_ZOOM_IN_KEY = 32772,
    CMD_ZOOM_OUT_KEY = 32773,
    CMD_TOPMOST = 32774,
    CMD_STATUS_BAR = 32775,
    CMD_DATE = 32776,
    CMD_LIVE = 32779,
    CMD_COPY = 32780,
    CMD_SAVE_AS = 32781,
    CMD_ZOOM_IN = 32782,
    CMD_ZOOM_OUT = 32783,
    CMD_BRIGHTER_KEY = 32784,
    CMD_DARKER_KEY = 32785,
    CMD_BRIGHTER = 32786,
    CMD_DARKER = 32787,
};

class ImageViewerWindow : public QWidget {
    Q_OBJECT

  public:
    // The caller sets entry.nMode (VIEWER_OPENING from the main window, or
    // VIEWER_LIVE when a live picture opens it) before creating the window.
    ImageViewerWindow(ViewerEntry& entry, ViewerHost& host, const Clock& clock,
                      QWidget* parent = nullptr);
    ~ImageViewerWindow() override;

    // Runs a command by id, as a button, a menu item or a key does.
    void RunCommand(int id);
    // A speed chosen from the rewind (false) or forward (true) submenu.
    void ChooseSpeed(bool fForward, int row);
    // The right button held on "<<" / ">>" (true on press, false on release).
    void HoldPlayback(bool fForward, bool fHeld);

    // One 10 ms timer step; the timer calls it, tests may too.
    void Tick();

    // Zoom: +1 in, -1 out, 0 redraw, about the cursor's picture point.
    void ZoomBy(int nDirection);
    // Brightness: +1 brighter, -1 darker.
    void BrightenBy(int nDirection);

    // The context menu as it would open now (ids in property "id"); the
    // caller owns it.
    QMenu* BuildContextMenu();

    // For the owner and tests.
    QString StatusText(int nPart) const;
    QWidget* Control(int id) const;
    // The picture with its brightness, as drawn; null while white.
    const QImage& ShownImage() const { return shown_; }
    // Where the picture is drawn inside the picture control.
    QRect DrawnRect() const;
    // The part of the picture drawn (all of it at zoom 100).
    QRectF SourceRect() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Opening.
    void SetUpControls();
    void SetUpShortcuts();
    void RestorePlacement();
    void SavePlacement();
    void ApplyTopmost();

    // Commands.
    int64_t ValidCount();
    bool ListFromLive();
    void LeaveLive();
    void StepTime(int64_t offset, bool fForward);
    void StepPrevious();
    void StepNext();
    void Pause();
    void GoLive();
    void Playback(bool fForward, bool fFromButton);
    void OpenDateDialog();
    void ShowNearest(const SystemTime& target);
    void StopPlaying();
    void StartPlaying();

    // Timer.
    void ContinueListing();
    void TickOpening();
    void TickPlayback();
    void TakeLivePicture();

    // Pictures.
    void ShowStored(int64_t index);
    void NoteBadImage(const std::string& path, uint32_t nError);
    void RebuildShown();
    void DrawPicture(QWidget* target);
    void UpdateScrollBars();
    void ScrollTo(double x, double y);
    void CopyToClipboard();
    void ShowMessage(const QString& text, ViewerMessageIcon icon);

    // Status.
    void RefreshStatus();
    void SetStatus(int nPart, const QString& text);

    // Mouse on the picture.
    bool PictureMouse(QEvent* event);
    // Zooms keeping the picture point under `at` (a point of the picture
    // control) in place; without a point inside the picture, its centre.
    void ZoomAbout(int nDirection, const QPointF* at);

    ViewerEntry& entry_;
    ViewerHost& host_;
    const Clock& clock_;
    std::unique_ptr<Ui::ImageViewerWindow> ui_;
    std::shared_ptr<LiveFrameSlot> liveSlot_;
    QTimer* timer_ = nullptr;
    QImage shown_;
    std::vector<uint8_t> brightPixels_;
    std::vector<uint8_t> fileBuffer_;
    // Files already logged as undecodable: one log line each.
    std::set<std::string> badFiles_;
    // Mode-2 index last shown, so that the opening does not decode the same
    // image again on every tick.
    int64_t nOpeningShown_ = -1;
    // Status part 0 for the picture shown: its path, its live time or a note
    // that it could not be shown. A running listing shows its progress there
    // instead.
    QString statusPicture_;
    bool fTicking_ = false;
    bool fUpdatingScroll_ = false;
};

} // namespace brindle
