#include "imagestore/viewer/viewer_window.h"

#include "common/log.h"
#include "imagestore/image_list.h"
#include "imagestore/viewer/speed_table.h"
#include "imagestore/viewer/viewer_trace.h"
#include "ui_viewer_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace brindle {

namespace {

struct ShortcutKey {
    QKeyCombination key;
    int nId;
};

// The 28 keyboard shortcuts.
const ShortcutKey SHORTCUTS[] = {
    {Qt::CTRL | Qt::Key_Home, CMD_REWIND_HELD},
    {QKeyCombination(Qt::Key_Home), CMD_REWIND},
    {Qt::CTRL | Qt::SHIFT | Qt::Key_Up, CMD_DAY_BACK},
    {Qt::CTRL | Qt::SHIFT | Qt::Key_Left, CMD_DAY_BACK},
    {Qt::SHIFT | Qt::Key_Up, CMD_HOUR_BACK},
    {Qt::SHIFT | Qt::Key_Left, CMD_HOUR_BACK},
    {Qt::CTRL | Qt::Key_Up, CMD_MINUTE_BACK},
    {Qt::CTRL | Qt::Key_Left, CMD_MINUTE_BACK},
    {QKeyCombination(Qt::Key_Up), CMD_PREVIOUS},
    {QKeyCombination(Qt::Key_Left), CMD_PREVIOUS},
    {QKeyCombination(Qt::Key_Space), CMD_PAUSE},
    {QKeyCombination(Qt::Key_Right), CMD_NEXT},
    {QKeyCombination(Qt::Key_Down), CMD_NEXT},
    {Qt::CTRL | Qt::Key_Right, CMD_MINUTE_FORWARD},
    {Qt::CTRL | Qt::Key_Down, CMD_MINUTE_FORWARD},
    {Qt::SHIFT | Qt::Key_Right, CMD_HOUR_FORWARD},
    {Qt::SHIFT | Qt::Key_Down, CMD_HOUR_FORWARD},
    {Qt::CTRL | Qt::SHIFT | Qt::Key_Right, CMD_DAY_FORWARD},
    {Qt::CTRL | Qt::SHIFT | Qt::Key_Down, CMD_DAY_FORWARD},
    {QKeyCombination(Qt::Key_End), CMD_FORWARD},
    {Qt::CTRL | Qt::Key_End, CMD_FORWARD_HELD},
    {QKeyCombination(Qt::Key_Return), CMD_DATE},
    {Qt::CTRL | Qt::Key_C, CMD_COPY},
    {Qt::CTRL | Qt::Key_A, CMD_SAVE_AS},
    {QKeyCombination(Qt::Key_PageUp), CMD_ZOOM_IN_KEY},
    {QKeyCombination(Qt::Key_PageDown), CMD_ZOOM_OUT_KEY},
    {Qt::SHIFT | Qt::Key_PageUp, CMD_BRIGHTER_KEY},
    {Qt::SHIFT | Qt::Key_PageDown, CMD_DARKER_KEY},
};
static_assert(std::size(SHORTCUTS) == 28);

// "left,top,width,height,topmost,status": exactly six integers.
bool ParsePlacement(const std::string& text, int v[6]) {
    int nEnd = -1;
    if (std::sscanf(text.c_str(), "%d,%d,%d,%d,%d,%d%n", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                    &nEnd) != 6)
        return false;
    return static_cast<size_t>(nEnd) == text.size() && v[2] > 0 && v[3] > 0;
}

} // namespace

ImageViewerWindow::ImageViewerWindow(ViewerEntry& entry, ViewerHost& host, const Clock& clock,
                                     QWidget* parent)
    : QWidget(parent, Qt::Window), entry_(entry), host_(host), clock_(clock),
      ui_(std::make_unique<Ui::ImageViewerWindow>()), liveSlot_(std::make_shared<LiveFrameSlot>()) {
    WindowTrace trace(host_, this, "WM_INITDIALOG", MSG_INITDIALOG, 0, Low32(&entry_));
    ui_->setupUi(this);
    setWindowTitle(QString::fromStdString(host_.Title()));
    setFocusPolicy(Qt::StrongFocus);
    entry_.fTrace = host_.TraceOn();
    SetUpControls();
    SetUpShortcuts();
    RestorePlacement();
    ApplyTopmost();
    ui_->statusBar->setVisible(entry_.fStatusBar);
    RebuildShown();
    UpdateScrollBars();

    liveSlot_->SetWanted(entry_.nMode == VIEWER_LIVE);
    host_.SetLiveSlot(liveSlot_);
    if (entry_.nMode != VIEWER_LIVE)
        ListFiles(entry_, host_.Tree(), host_.RetentionDays(), clock_);
    else
        QTimer::singleShot(
            0, this, [this] { ListFiles(entry_, host_.Tree(), host_.RetentionDays(), clock_); });
    ui_->latest->setEnabled(entry_.nMode != VIEWER_LIVE);
    RefreshStatus();

    timer_ = new QTimer(this);
    timer_->setInterval(10);
    connect(timer_, &QTimer::timeout, this, &ImageViewerWindow::Tick);
    timer_->start();
}

ImageViewerWindow::~ImageViewerWindow() {
    if (liveSlot_) {
        liveSlot_->SetWanted(false);
        host_.SetLiveSlot(nullptr);
    }
}

void ImageViewerWindow::SetUpControls() {
    for (QPushButton* button : findChildren<QPushButton*>()) {
        const int id = button->property("id").toInt();
        // Each button is as wide as its text where the window has room; in a
        // narrow window the buttons shrink rather than widen it.
        button->setMinimumWidth(24);
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        connect(button, &QPushButton::clicked, this, [this, id] { RunCommand(id); });
    }
    ui_->rewind->installEventFilter(this);
    ui_->forward->installEventFilter(this);
    ui_->picture->installEventFilter(this);
    ui_->picture->setAttribute(Qt::WA_OpaquePaintEvent);
    ui_->picture->setFocusPolicy(Qt::NoFocus);
    for (QScrollBar* bar : {ui_->hScroll, ui_->vScroll}) {
        bar->setFocusPolicy(Qt::NoFocus);
        connect(bar, &QScrollBar::valueChanged, this, [this] {
            if (!fUpdatingScroll_)
                ScrollTo(ui_->hScroll->value() / 32768.0, ui_->vScroll->value() / 32768.0);
        });
    }
}

void ImageViewerWindow::SetUpShortcuts() {
    for (const ShortcutKey& key : SHORTCUTS) {
        auto* shortcut = new QShortcut(QKeySequence(key.key), this);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setProperty("id", key.nId);
        if (key.nId == CMD_DATE)
            shortcut->setKeys({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
        const int id = key.nId;
        connect(shortcut, &QShortcut::activated, this, [this, id] { RunCommand(id); });
    }
}

void ImageViewerWindow::RestorePlacement() {
    int v[6];
    if (ParsePlacement(host_.ReadPlacement(host_.PlacementKey()), v)) {
        move(v[0], v[1]);
        resize(v[2], v[3]);
        entry_.fTopmost = v[4] != 0;
        entry_.fStatusBar = v[5] != 0;
        return;
    }
    entry_.fTopmost = true;
    entry_.fStatusBar = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void ImageViewerWindow::SavePlacement() {
    if (isMinimized() || isMaximized())
        return;
    char text[96];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d,%d", x(), y(), width(), height(),
                  entry_.fTopmost ? 1 : 0, entry_.fStatusBar ? 1 : 0);
    host_.WritePlacement(host_.PlacementKey(), text);
}

void ImageViewerWindow::ApplyTopmost() {
    const bool fVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, entry_.fTopmost);
    if (fVisible)
        show();
}

QWidget* ImageViewerWindow::Control(int id) const {
    for (QWidget* child : findChildren<QWidget*>()) {
        if (child->property("id").toInt() == id)
            return child;
    }
    return nullptr;
}

void ImageViewerWindow::Tick() {
    if (fTicking_)
        return;
    fTicking_ = true;
    WindowTrace trace(host_, this, "WM_TIMER", MSG_TIMER, TIMER_ID);
    ContinueListing();
    if (entry_.nMode == VIEWER_OPENING)
        TickOpening();
    else if (entry_.nMode == VIEWER_LIVE)
        TakeLivePicture();
    else if (entry_.nPlaying != 0)
        TickPlayback();
    fTicking_ = false;
}

void ImageViewerWindow::ContinueListing() {
    if (!IsListing(entry_))
        return;
    ListFilesSub(entry_);
    RefreshStatus();
}

void ImageViewerWindow::TickOpening() {
    const int64_t n = entry_.nValidCount;
    if (n > 0 && nOpeningShown_ != n - 1) {
        entry_.nCurrentIndex = n - 2;
        RunCommand(CMD_NEXT);
        nOpeningShown_ = n - 1;
    }
    if (!IsListing(entry_)) {
        entry_.nMode = VIEWER_FORWARD;
        nOpeningShown_ = -1;
        RefreshStatus();
    }
}

void ImageViewerWindow::closeEvent(QCloseEvent* event) {
    // The window manager's close is the system menu's; it runs the cancel
    // command, as Esc does.
    std::optional<WindowTrace> system;
    if (event->spontaneous())
        system.emplace(host_, this, "WM_SYSCOMMAND", MSG_SYSCOMMAND, SC_CLOSE);
    WindowTrace trace(host_, this, "WM_COMMAND", MSG_COMMAND, COMMAND_CANCEL);
    timer_->stop();
    SavePlacement();
    liveSlot_->SetWanted(false);
    host_.SetLiveSlot(nullptr);
    liveSlot_.reset();
    event->accept();
    host_.ViewerClosed();
}

void ImageViewerWindow::changeEvent(QEvent* event) {
    std::optional<WindowTrace> trace;
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        trace.emplace(host_, this, "WM_SYSCOMMAND", MSG_SYSCOMMAND, SC_MINIMIZE);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && host_.HasTray()) {
        // The main window's tray menu brings it back.
        setWindowState(windowState() & ~Qt::WindowMinimized);
        QTimer::singleShot(0, this, &QWidget::hide);
    }
    QWidget::changeEvent(event);
}

void ImageViewerWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = BuildContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void ImageViewerWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ImageViewerWindow::resizeEvent(QResizeEvent* event) {
    const uint32_t nState = isMinimized()   ? SIZE_MINIMIZED
                            : isMaximized() ? SIZE_MAXIMIZED
                                            : SIZE_RESTORED;
    WindowTrace trace(host_, this, "WM_SIZE", MSG_SIZE, nState,
                      MakeParam(event->size().width(), event->size().height()));
    QWidget::resizeEvent(event);
    ZoomBy(0);
}

bool ImageViewerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->picture) {
        if (event->type() == QEvent::Paint) {
            DrawPicture(ui_->picture);
            return true;
        }
        if (event->type() == QEvent::Resize)
            UpdateScrollBars();
        return PictureMouse(event);
    }
    const bool fForward = watched == ui_->forward;
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
        event->type() == QEvent::MouseButtonDblClick) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            HoldPlayback(fForward, event->type() != QEvent::MouseButtonRelease);
            return true;
        }
    }
    if (event->type() == QEvent::ContextMenu)
        return true;
    return false;
}

// ---------------------------------------------------------------------------
// Status

namespace {

QString SpeedText(uint32_t s) {
    if (s < 60)
        return ImageViewerWindow::tr("%1倍").arg(s);
    if (s < 3600)
        return ImageViewerWindow::tr("%1分/秒").arg(s / 60);
    if (s >= 86400)
        return ImageViewerWindow::tr("%1日/秒").arg(s / 86400);
    return ImageViewerWindow::tr("%1時/秒").arg(s / 3600);
}

} // namespace

void ImageViewerWindow::RefreshStatus() {
    if (entry_.nMode == VIEWER_LIVE) {
        if (entry_.nLiveTime != 0) {
            const SystemTime t = FileTimeToSystemTime(entry_.nLiveTime);
            char text[64];
            std::snprintf(text, sizeof text, "%04hu-%02hu-%02hu %02hu:%02hu:%02hu.%03hu", t.wYear,
                          t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
            statusPicture_ = QString::fromLatin1(text);
            SetStatus(0, statusPicture_);
            SetStatus(1, tr("最新"));
        } else {
            SetStatus(1, QString());
        }
    } else if (entry_.nPlaying != 0) {
        const QString sign = entry_.nMode < 0 ? QStringLiteral("-") : QStringLiteral("+");
        SetStatus(1, sign + SpeedText(SPEED_TABLE[entry_.nSpeedIndex].nSecondsPerSecond));
    } else {
        SetStatus(1, QStringLiteral("x0"));
    }
    if (entry_.nMode == VIEWER_LIVE && entry_.nLiveTime != 0)
        return;
    if (IsListing(entry_))
        SetStatus(0, tr("画像一覧を読み込み中… %1枚").arg(entry_.nValidCount));
    else if (entry_.nListError != 0)
        SetStatus(0,
                  tr("画像一覧を読み込めません (0x%1)").arg(entry_.nListError, 8, 16, QChar(u'0')));
    else
        SetStatus(0, statusPicture_);
}

void ImageViewerWindow::SetStatus(int nPart, const QString& text) {
    (nPart == 0 ? ui_->statusPart0 : ui_->statusPart1)->setText(text);
}

QString ImageViewerWindow::StatusText(int nPart) const {
    return (nPart == 0 ? ui_->statusPart0 : ui_->statusPart1)->text();
}

} // namespace brindle
