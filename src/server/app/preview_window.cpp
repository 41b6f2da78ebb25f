#include "server/app/preview_window.h"

#include <QCloseEvent>
#include <QPainter>

namespace brindle {

PreviewWindow::PreviewWindow(const QString& title, QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(title);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(320, 240);
}

void PreviewWindow::SetPicture(const QImage& picture) {
    if (picture_.isNull() && !picture.isNull())
        resize(picture.size());
    picture_ = picture;
    update();
}

void PreviewWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (picture_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(rect(), picture_);
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
    emit ClosedByUser();
}

} // namespace brindle
