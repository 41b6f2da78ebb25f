// The viewer's commands: stepping through stored images, playback, live
// mode, the date dialog and the context menu.
#include "imagestore/image_list.h"
#include "imagestore/viewer/date_dialog.h"
#include "imagestore/viewer/speed_table.h"
#include "imagestore/viewer/viewer_trace.h"
#include "imagestore/viewer/viewer_window.h"
#include "ui_viewer_window.h"

#include <QMenu>
#include <QPushButton>

#include <algorithm>

namespace brindle {

void ImageViewerWindow::RunCommand(int id) {
    WindowTrace trace(host_, this, "WM_COMMAND", MSG_COMMAND, static_cast<uint32_t>(id));
    switch (id) {
    case CMD_DAY_BACK:
        StepTime(-SKIP_DAY, false);
        break;
    case CMD_HOUR_BACK:
        StepTime(-SKIP_HOUR, false);
        break;
    case CMD_MINUTE_BACK:
        StepTime(-SKIP_MINUTE, false);
        break;
    case CMD_MINUTE_FORWARD:
        StepTime(SKIP_MINUTE, true);
        break;
    case CMD_HOUR_FORWARD:
        StepTime(SKIP_HOUR, true);
        break;
    case CMD_DAY_FORWARD:
        StepTime(SKIP_DAY, true);
        break;
    case CMD_PREVIOUS:
        StepPrevious();
        break;
    case CMD_PAUSE:
        Pause();
        break;
    case CMD_NEXT:
        StepNext();
        break;
    case CMD_LATEST:
    case CMD_LIVE:
        GoLive();
        break;
    case CMD_REWIND:
        Playback(false, true);
        break;
    case CMD_FORWARD:
        Playback(true, true);
        break;
    case CMD_REWIND_HELD:
    case CMD_FORWARD_HELD: {
        const bool fForward = id == CMD_FORWARD_HELD;
        bool& fHeld = fForward ? entry_.fForwardHeld : entry_.fRewindHeld;
        fHeld = true;
        Playback(fForward, true);
        fHeld = false;
        break;
    }
    case CMD_ZOOM_IN:
    case CMD_ZOOM_IN_KEY:
        ZoomBy(1);
        break;
    case CMD_ZOOM_OUT:
    case CMD_ZOOM_OUT_KEY:
        ZoomBy(-1);
        break;
    case CMD_BRIGHTER:
    case CMD_BRIGHTER_KEY:
        BrightenBy(1);
        break;
    case CMD_DARKER:
    case CMD_DARKER_KEY:
        BrightenBy(-1);
        break;
    case CMD_TOPMOST:
        entry_.fTopmost = !entry_.fTopmost;
        ApplyTopmost();
        break;
    case CMD_STATUS_BAR:
        entry_.fStatusBar = !entry_.fStatusBar;
        ui_->statusBar->setVisible(entry_.fStatusBar);
        break;
    case CMD_DATE:
        OpenDateDialog();
        break;
    case CMD_COPY:
        CopyToClipboard();
        break;
    default:
        // CMD_SAVE_AS does nothing; speed ids come through ChooseSpeed.
        for (int row = 0; row < SPEED_COUNT; ++row) {
            if (id == SPEED_TABLE[row].nRewindId || id == SPEED_TABLE[row].nForwardId)
                ChooseSpeed(id == SPEED_TABLE[row].nForwardId, row);
        }
        break;
    }
}

// The valid count, read afresh for every command: the daily reset may have
// emptied the list under the open window. The current index is brought
// back inside the list.
int64_t ImageViewerWindow::ValidCount() {
    const int64_t n = entry_.nValidCount;
    // Opening starts one before the newest image, which is -1 for one image.
    const int64_t lowest = entry_.nMode == VIEWER_OPENING ? -1 : 0;
    if (entry_.nMode != VIEWER_LIVE && n > 0)
        entry_.nCurrentIndex = std::clamp<int64_t>(entry_.nCurrentIndex, lowest, n - 1);
    return n;
}

// A command that starts from live mode lists first; false when there is
// nothing to show.
bool ImageViewerWindow::ListFromLive() {
    if (entry_.nMode == VIEWER_LIVE)
        ListFiles(entry_, host_.Tree(), host_.RetentionDays(), clock_);
    return entry_.nValidCount > 0;
}

void ImageViewerWindow::LeaveLive() {
    liveSlot_->SetWanted(false);
    ui_->latest->setEnabled(true);
}

void ImageViewerWindow::StopPlaying() {
    entry_.nPlaying = 0;
}

void ImageViewerWindow::StartPlaying() {
    entry_.nPlaying = NonZeroTickOf(clock_.Tick());
}

void ImageViewerWindow::StepTime(int64_t offset, bool fForward) {
    const bool fFromLive = entry_.nMode == VIEWER_LIVE;
    if (!ListFromLive())
        return;
    int64_t n = ValidCount();
    if (fFromLive)
        entry_.nCurrentIndex = n - 1;
    if (fForward && entry_.nCurrentIndex + 1 >= n)
        n = ListFiles(entry_, host_.Tree(), host_.RetentionDays(), clock_);
    const int64_t old = entry_.nCurrentIndex;
    if (SkipImageIndex(entry_, offset) == old) {
        if (!fForward && old > 0)
            entry_.nCurrentIndex = old - 1;
        else if (fForward && old < n - 1)
            entry_.nCurrentIndex = old + 1;
    }
    entry_.nMode = fForward ? VIEWER_FORWARD : VIEWER_BACKWARD;
    LeaveLive();
    StopPlaying();
    ShowStored(entry_.nCurrentIndex);
}

void ImageViewerWindow::StepPrevious() {
    const bool fFromLive = entry_.nMode == VIEWER_LIVE;
    if (!ListFromLive())
        return;
    const int64_t n = ValidCount();
    if (fFromLive)
        entry_.nCurrentIndex = n;
    if (entry_.nCurrentIndex - 1 < 0) {
        RefreshStatus();
        return;
    }
    --entry_.nCurrentIndex;
    entry_.nMode = VIEWER_BACKWARD;
    LeaveLive();
    StopPlaying();
    ShowStored(entry_.nCurrentIndex);
}

void ImageViewerWindow::Pause() {
    const bool fFromLive = entry_.nMode == VIEWER_LIVE;
    if (!ListFromLive())
        return;
    const int64_t n = ValidCount();
    entry_.nMode = VIEWER_FORWARD;
    LeaveLive();
    StopPlaying();
    entry_.nSpeedIndex = 0;
    if (fFromLive) {
        entry_.nCurrentIndex = n - 1;
        ShowStored(entry_.nCurrentIndex);
    }
    RefreshStatus();
}

void ImageViewerWindow::StepNext() {
    const bool fFromLive = entry_.nMode == VIEWER_LIVE;
    if (!ListFromLive())
        return;
    int64_t n = ValidCount();
    if (fFromLive)
        entry_.nCurrentIndex = n - 2;
    if (entry_.nCurrentIndex + 1 >= n)
        n = ListFiles(entry_, host_.Tree(), host_.RetentionDays(), clock_);
    if (entry_.nCurrentIndex + 1 >= n) {
        RefreshStatus();
        return;
    }
    ++entry_.nCurrentIndex;
    if (entry_.nMode != VIEWER_OPENING)
        entry_.nMode = VIEWER_FORWARD;
    LeaveLive();
    StopPlaying();
    ShowStored(entry_.nCurrentIndex);
}

void ImageViewerWindow::GoLive() {
    entry_.nMode = VIEWER_LIVE;
    StopPlaying();
    liveSlot_->SetWanted(true);
    ui_->latest->setEnabled(false);
    RefreshStatus();
}

void ImageViewerWindow::ChooseSpeed(bool fForward, int row) {
    entry_.nSpeedIndex = std::clamp(row, 0, SPEED_COUNT - 1);
    Playback(fForward, false);
}

void ImageViewerWindow::HoldPlayback(bool fForward, bool fHeld) {
    (fForward ? entry_.fForwardHeld : entry_.fRewindHeld) = fHeld;
    if (fHeld)
        Playback(fForward, true);
}

// "<<" and ">>", from the button (fFromButton) or a speed menu. Held, the
// button lowers the speed of a running playback; clicked, it raises it.
void ImageViewerWindow::Playback(bool fForward, bool fFromButton) {
    const bool fFromLive = entry_.nMode == VIEWER_LIVE;
    if (!ListFromLive())
        return;
    const int64_t n = ValidCount();
    if (fFromLive) {
        entry_.nCurrentIndex = fForward ? n - 2 : n;
        StopPlaying();
    }
    const int nDirection = fForward ? VIEWER_FORWARD : VIEWER_BACKWARD;
    // Playing the other way: turn round at the same speed.
    const bool fOtherWay = fForward ? entry_.nMode < 0 : entry_.nMode == VIEWER_FORWARD;
    if (entry_.nPlaying != 0 && fOtherWay) {
        entry_.nMode = nDirection;
        RefreshStatus();
        return;
    }
    const int64_t next = entry_.nCurrentIndex + (fForward ? 1 : -1);
    if (next < 0 || next >= n) {
        RefreshStatus();
        return;
    }
    entry_.nMode = nDirection;
    LeaveLive();
    const bool fHeld = fForward ? entry_.fForwardHeld : entry_.fRewindHeld;
    if (entry_.nPlaying != 0) {
        if (fHeld)
            entry_.nSpeedIndex = std::max(entry_.nSpeedIndex - 1, 0);
        else if (fFromButton)
            entry_.nSpeedIndex = std::min(entry_.nSpeedIndex + 1, SPEED_COUNT - 1);
    } else {
        if (fFromButton)
            entry_.nSpeedIndex = 0;
        entry_.nCurrentIndex = next;
        StartPlaying();
        ShowStored(next);
    }
    RefreshStatus();
}

void ImageViewerWindow::TickPlayback() {
    const int64_t n = ValidCount();
    if (n == 0)
        return;
    const int64_t k = entry_.nCurrentIndex;
    const bool fForward = entry_.nMode > 0;
    if (!fForward && k == 0) {
        StopPlaying();
        entry_.nSpeedIndex = 0;
        RefreshStatus();
        return;
    }
    if (fForward && k >= n - 1) {
        entry_.nSpeedIndex = 0;
        GoLive();
        return;
    }
    const uint32_t elapsed = clock_.Tick() - entry_.nPlaying;
    const int64_t offset = PlaybackOffset(elapsed, entry_.nSpeedIndex);
    int64_t next = SkipImageIndex(entry_, fForward ? offset : -offset);
    if (next == k) {
        // No image within reach yet: after 5 s take the neighbour.
        if (elapsed < 5000)
            return;
        next = k + (fForward ? 1 : -1);
        entry_.nCurrentIndex = next;
    }
    ShowStored(next);
}

void ImageViewerWindow::OpenDateDialog() {
    if (!ListFromLive())
        return;
    auto* dialog = new DateDialog(entry_.targetTime, host_.DateDialogId(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] { ShowNearest(dialog->Chosen()); });
    dialog->open();
}

void ImageViewerWindow::ShowNearest(const SystemTime& target) {
    const int64_t n = ValidCount();
    if (n == 0)
        return;
    entry_.targetTime = target;
    entry_.nCurrentIndex = FindNearestImage(entry_.pItems.get(), n, ImageKeyFromTime(target));
    entry_.nMode = VIEWER_FORWARD;
    LeaveLive();
    StopPlaying();
    ShowStored(entry_.nCurrentIndex);
}

namespace {

QString SpeedMenuText(int row, bool fForward) {
    const uint32_t s = SPEED_TABLE[row].nSecondsPerSecond;
    if (row <= 8)
        return ImageViewerWindow::tr("%1倍").arg(s);
    if (row <= 14)
        return ImageViewerWindow::tr("%1分/秒").arg(s / 60);
    if (row <= 19)
        return fForward ? ImageViewerWindow::tr("%1時/秒").arg(s / 3600)
                        : ImageViewerWindow::tr("%1時間/秒").arg(s / 3600);
    return ImageViewerWindow::tr("%1日/秒").arg(s / 86400);
}

QAction* AddItem(QMenu* menu, int id, const QString& text, ImageViewerWindow* window) {
    QAction* action = menu->addAction(text);
    action->setProperty("id", id);
    QObject::connect(action, &QAction::triggered, window, [window, id] { window->RunCommand(id); });
    return action;
}

} // namespace

QMenu* ImageViewerWindow::BuildContextMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("image"));
    menu->setProperty("id", 135);
    const bool fLive = entry_.nMode == VIEWER_LIVE;
    auto check = [](QAction* action, bool fOn) {
        action->setCheckable(true);
        action->setChecked(fOn);
        return action;
    };
    check(AddItem(menu, CMD_TOPMOST, tr("手前に表示(&T)"), this), entry_.fTopmost);
    check(AddItem(menu, CMD_STATUS_BAR, tr("ステータスを表示(&S)"), this), entry_.fStatusBar);
    check(AddItem(menu, CMD_LIVE, tr("最新画像を表示(&R)"), this), fLive)->setEnabled(!fLive);

    QMenu* past = menu->addMenu(tr("過去画像を表示(&P)"));
    auto addSpeeds = [&](const QString& title, bool fForward) {
        QMenu* speeds = past->addMenu(title);
        const bool fThisWay =
            entry_.nPlaying != 0 && (fForward ? entry_.nMode > 0 : entry_.nMode < 0);
        for (int row = 0; row < SPEED_COUNT; ++row) {
            const int id = fForward ? SPEED_TABLE[row].nForwardId : SPEED_TABLE[row].nRewindId;
            check(AddItem(speeds, id, SpeedMenuText(row, fForward), this),
                  fThisWay && row == entry_.nSpeedIndex);
        }
    };
    addSpeeds(tr("早戻し\tHome"), false);
    for (int id : {CMD_DAY_BACK, CMD_HOUR_BACK, CMD_MINUTE_BACK, CMD_PREVIOUS, CMD_PAUSE, CMD_NEXT,
                   CMD_MINUTE_FORWARD, CMD_HOUR_FORWARD, CMD_DAY_FORWARD})
        AddItem(past, id, static_cast<QPushButton*>(Control(id))->text(), this);
    addSpeeds(tr("早送り\tEnd"), true);

    AddItem(menu, CMD_DATE, tr("指定した日時を表示(&G)\tEnter"), this);
    AddItem(menu, CMD_ZOOM_IN, tr("画像を拡大(&I)\tPageUp"), this);
    AddItem(menu, CMD_ZOOM_OUT, tr("画像を縮小(&O)\tPageDown"), this);
    AddItem(menu, CMD_BRIGHTER, tr("画像を明るく表示(&B)\tShift+PageUp"), this);
    AddItem(menu, CMD_DARKER, tr("画像を暗く表示(&D)\tShift+PageDown"), this);
    AddItem(menu, CMD_COPY, tr("クリップボードにコピー(&C)\tCtrl+C"), this);
    return menu;
}

} // namespace brindle
