// The viewer's picture: showing stored and live pictures, drawing with zoom
// and brightness, panning, and copying to the clipboard.
#include "common/error_text.h"
#include "common/log.h"
#include "image/jpeg_codec.h"
#include "imagestore/image_list.h"
#include "imagestore/viewer/brightness.h"
#include "imagestore/viewer/viewer_trace.h"
#include "imagestore/viewer/viewer_window.h"
#include "ui_viewer_window.h"

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace brindle {

namespace {

// Movement of the mouse, in pixels, before a press on the picture pans it.
constexpr int DRAG_THRESHOLD = 8;
// Scroll bar positions span this range over the whole picture.
constexpr int SCROLL_RANGE = 32768;

bool PictureFits(const ViewerPicture& picture) {
    if (picture.nWidth <= 0 || picture.nHeight <= 0)
        return false;
    const size_t nRow = static_cast<size_t>(picture.nWidth) * 3;
    return picture.nStride >= nRow &&
           picture.pixels.size() / picture.nStride >= static_cast<size_t>(picture.nHeight);
}

} // namespace

void ImageViewerWindow::ShowStored(int64_t index) {
    std::string path;
    uint32_t nError = LoadImagePath(entry_, host_.Tree(), index, path);
    if (nError == 0)
        nError = ReadImageFile(path, fileBuffer_);
    DecodedImage image;
    if (nError == 0)
        nError = DecodeJpeg(fileBuffer_.data(), fileBuffer_.size(), image);
    if (nError != 0) {
        // The previous picture stays; playback goes on past this file.
        NoteBadImage(path, nError);
    } else {
        entry_.picture.pixels = std::move(image.pixels);
        entry_.picture.nWidth = image.nWidth;
        entry_.picture.nHeight = image.nHeight;
        entry_.picture.nStride = image.nStride;
        entry_.nLiveTime = 0;
        statusPicture_ = QString::fromStdString(path);
        RebuildShown();
    }
    ui_->picture->update();
    if (entry_.nPlaying != 0)
        StartPlaying();
    RefreshStatus();
}

void ImageViewerWindow::NoteBadImage(const std::string& path, uint32_t nError) {
    statusPicture_ = tr("画像を表示できません: %1").arg(QString::fromStdString(path));
    if (badFiles_.insert(path).second)
        LogWrite("画像%sを表示できません (0x%08X %s)\r\n", path.c_str(), nError,
                 ErrorText(nError).c_str());
}

void ImageViewerWindow::TakeLivePicture() {
    ViewerPicture picture;
    uint64_t nFileTime = 0;
    if (!liveSlot_->Take(picture, nFileTime))
        return;
    if (!PictureFits(picture))
        return;
    std::swap(entry_.picture, picture);
    entry_.nLiveTime = nFileTime;
    RebuildShown();
    ui_->picture->update();
    RefreshStatus();
}

// The picture with its brightness, as a QImage over the entry's or the
// brightened buffer: rebuilt whenever either changes.
void ImageViewerWindow::RebuildShown() {
    const ViewerPicture& picture = entry_.picture;
    if (!PictureFits(picture)) {
        shown_ = QImage();
        return;
    }
    const size_t nBytes = picture.nStride * static_cast<size_t>(picture.nHeight);
    const uint8_t* pixels = picture.pixels.data();
    if (entry_.nBrightness > VIEWER_BRIGHTNESS_MIN) {
        brightPixels_.resize(nBytes);
        ApplyBrightness(pixels, brightPixels_.data(), nBytes, entry_.nBrightness);
        pixels = brightPixels_.data();
    }
    shown_ = QImage(pixels, picture.nWidth, picture.nHeight,
                    static_cast<qsizetype>(picture.nStride), QImage::Format_BGR888);
}

QRectF ImageViewerWindow::SourceRect() const {
    if (shown_.isNull())
        return {};
    const double w = shown_.width(), h = shown_.height();
    const double vw = w * VIEWER_ZOOM_MIN / entry_.nZoom;
    const double vh = h * VIEWER_ZOOM_MIN / entry_.nZoom;
    const double x = std::clamp(entry_.view.dScrollX * w, 0.0, w - vw);
    const double y = std::clamp(entry_.view.dScrollY * h, 0.0, h - vh);
    return {x, y, vw, vh};
}

QRect ImageViewerWindow::DrawnRect() const {
    if (shown_.isNull())
        return {};
    const QSize area = ui_->picture->size();
    const double scale =
        std::min(area.width() / double(shown_.width()), area.height() / double(shown_.height()));
    const int w = std::max(1, static_cast<int>(std::lround(shown_.width() * scale)));
    const int h = std::max(1, static_cast<int>(std::lround(shown_.height() * scale)));
    return {(area.width() - w) / 2, (area.height() - h) / 2, w, h};
}

void ImageViewerWindow::DrawPicture(QWidget* target) {
    // A live picture is drawn with its capture time, a stored one with none.
    const uint64_t nTime = entry_.nMode == VIEWER_LIVE ? entry_.nLiveTime : 0;
    WindowTrace trace(host_, this, "WM_DRAW_IMAGE", MSG_DRAW_IMAGE, static_cast<uint32_t>(nTime),
                      static_cast<uint32_t>(nTime >> 32));
    QPainter painter(target);
    painter.fillRect(target->rect(), Qt::white);
    if (shown_.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRectF(DrawnRect()), shown_, SourceRect());
}

void ImageViewerWindow::UpdateScrollBars() {
    const bool fZoomed = entry_.nZoom > VIEWER_ZOOM_MIN;
    fUpdatingScroll_ = true;
    const int nPage = SCROLL_RANGE * VIEWER_ZOOM_MIN / entry_.nZoom;
    const QRectF source = SourceRect();
    for (QScrollBar* bar : {ui_->hScroll, ui_->vScroll}) {
        const bool fHorizontal = bar == ui_->hScroll;
        bar->setVisible(fZoomed);
        bar->setRange(0, SCROLL_RANGE - nPage);
        bar->setPageStep(nPage);
        const int nSize = shown_.isNull() ? 0 : (fHorizontal ? shown_.width() : shown_.height());
        bar->setSingleStep(nSize > 0 ? std::max(1, SCROLL_RANGE / nSize) : 1);
        if (nSize > 0) {
            const double offset = (fHorizontal ? source.x() : source.y()) / nSize;
            bar->setValue(static_cast<int>(std::lround(offset * SCROLL_RANGE)));
        }
    }
    fUpdatingScroll_ = false;
}

void ImageViewerWindow::ScrollTo(double x, double y) {
    const double limit = 1.0 - double(VIEWER_ZOOM_MIN) / entry_.nZoom;
    entry_.view.dScrollX = std::clamp(x, 0.0, limit);
    entry_.view.dScrollY = std::clamp(y, 0.0, limit);
    UpdateScrollBars();
    ui_->picture->update();
}

void ImageViewerWindow::ZoomBy(int nDirection) {
    const QPointF cursor = ui_->picture->mapFromGlobal(QCursor::pos().toPointF());
    ZoomAbout(nDirection, &cursor);
}

void ImageViewerWindow::ZoomAbout(int nDirection, const QPointF* at) {
    const QRect drawn = DrawnRect();
    const QRectF source = SourceRect();
    entry_.nZoom = NextZoom(entry_.nZoom, nDirection);
    if (shown_.isNull() || drawn.isEmpty()) {
        UpdateScrollBars();
        ui_->picture->update();
        return;
    }
    // The focus: the picture point under `at`, else the picture's centre,
    // stays where it is drawn.
    QPointF place = QRectF(drawn).center();
    const bool fAtCursor = at != nullptr && drawn.contains(at->toPoint());
    if (fAtCursor)
        place = *at;
    const double fx = source.x() + (place.x() - drawn.x()) * source.width() / drawn.width();
    const double fy = source.y() + (place.y() - drawn.y()) * source.height() / drawn.height();
    // The scroll bars come or go with the zoom and take their room from the
    // picture control: lay the window out first, so that the point is kept
    // in the picture as it will be drawn.
    const bool fZoomed = entry_.nZoom > VIEWER_ZOOM_MIN;
    if (ui_->hScroll->isVisibleTo(this) != fZoomed) {
        ui_->hScroll->setVisible(fZoomed);
        ui_->vScroll->setVisible(fZoomed);
        if (layout() != nullptr)
            layout()->activate();
    }
    const QRect now = DrawnRect();
    if (!fAtCursor)
        place = QRectF(now).center();
    const double vw = shown_.width() * double(VIEWER_ZOOM_MIN) / entry_.nZoom;
    const double vh = shown_.height() * double(VIEWER_ZOOM_MIN) / entry_.nZoom;
    const double x = fx - (place.x() - now.x()) * vw / now.width();
    const double y = fy - (place.y() - now.y()) * vh / now.height();
    ScrollTo(x / shown_.width(), y / shown_.height());
    if (!fAtCursor || nDirection == 0)
        return;
    // Near an edge of the picture the view cannot follow all the way: the
    // cursor then moves to where the point is drawn now, so that it stays on
    // the point it was on.
    const QRectF shownPart = SourceRect();
    const QPointF drawnAt(now.x() + (fx - shownPart.x()) * now.width() / shownPart.width(),
                          now.y() + (fy - shownPart.y()) * now.height() / shownPart.height());
    if ((drawnAt - place).manhattanLength() >= 1.0)
        QCursor::setPos(ui_->picture->mapToGlobal(drawnAt.toPoint()));
}

void ImageViewerWindow::BrightenBy(int nDirection) {
    entry_.nBrightness = NextBrightness(entry_.nBrightness, nDirection);
    RebuildShown();
    ui_->picture->update();
}

bool ImageViewerWindow::PictureMouse(QEvent* event) {
    ViewerViewState& view = entry_.view;
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int nDirection = wheel->angleDelta().y() > 0   ? 1
                               : wheel->angleDelta().y() < 0 ? -1
                                                             : 0;
        if (nDirection == 0)
            return true;
        if (wheel->modifiers() & Qt::ShiftModifier) {
            BrightenBy(nDirection);
        } else {
            const QPointF at = wheel->position();
            ZoomAbout(nDirection, &at);
        }
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || entry_.nZoom <= VIEWER_ZOOM_MIN ||
            !DrawnRect().contains(mouse->position().toPoint()))
            return false;
        view.fDragging = true;
        view.fDragMoved = false;
        view.nDragStartX = mouse->position().toPoint().x();
        view.nDragStartY = mouse->position().toPoint().y();
        const QRectF source = SourceRect();
        view.dDragScrollX = source.x() / shown_.width();
        view.dDragScrollY = source.y() / shown_.height();
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!view.fDragging)
            return false;
        const int dx = mouse->position().toPoint().x() - view.nDragStartX;
        const int dy = mouse->position().toPoint().y() - view.nDragStartY;
        if (!view.fDragMoved && std::abs(dx) < DRAG_THRESHOLD && std::abs(dy) < DRAG_THRESHOLD)
            return true;
        if (!view.fDragMoved) {
            view.fDragMoved = true;
            ui_->picture->setCursor(Qt::ClosedHandCursor);
        }
        const QRect drawn = DrawnRect();
        const double scale = double(VIEWER_ZOOM_MIN) / entry_.nZoom;
        ScrollTo(view.dDragScrollX - dx * scale / drawn.width(),
                 view.dDragScrollY - dy * scale / drawn.height());
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !view.fDragging)
            return false;
        view.fDragging = false;
        view.fDragMoved = false;
        ui_->picture->unsetCursor();
        return true;
    }
    default:
        return false;
    }
}

void ImageViewerWindow::CopyToClipboard() {
    if (shown_.isNull())
        return;
    const QImage copy = shown_.copy();
    if (copy.isNull()) {
        ShowMessage(tr("メモリが確保できません!"), ViewerMessageIcon::kError);
        return;
    }
    QGuiApplication::clipboard()->setImage(copy);
}

void ImageViewerWindow::ShowMessage(const QString& text, ViewerMessageIcon icon) {
    host_.ShowMessage(host_.Caption(), text.toStdString(), icon);
}

} // namespace brindle
