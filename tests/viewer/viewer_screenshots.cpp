// Saves pictures of the image viewer for the documentation: live, paused on
// a stored image with its status, zoomed, with its context menu and with the
// date dialog. Run it on a real X server (scripts/screenshots_viewer.sh
// starts one with Xvfb):
//   viewer_screenshots OUTPUT_FOLDER
// The archive is generated in a temporary folder: a test camera's street
// scene, one image a minute, each with its time stamp.
#include "image/jpeg_codec.h"
#include "imagestore/image_list.h"
#include "imagestore/image_path.h"
#include "imagestore/viewer/date_dialog.h"
#include "imagestore/viewer/viewer_window.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <random>

namespace brindle {
namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

SystemTime TimeAt(int nMinutes) {
    return FileTimeToSystemTime(
        SystemTimeToFileTime(SystemTime{.wYear = 2025, .wMonth = 3, .wDay = 4, .wHour = 9}) +
        uint64_t(nMinutes) * 60 * 10000000ull);
}

// A street scene with the capture time stamped at the bottom right, as the
// server stamps its images.
QImage Scene(int n, const SystemTime& t) {
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, kHeight * 0.6);
    sky.setColorAt(0, QColor(90, 140, 210));
    sky.setColorAt(1, QColor(200, 220, 240));
    p.fillRect(0, 0, kWidth, kHeight, sky);
    std::mt19937 random(42);
    std::uniform_int_distribution<int> u(0, 1 << 20);
    for (int b = 0; b < 12; ++b) {
        const int w = 60 + u(random) % 90, h = 150 + u(random) % 250;
        const int x = b * 110, y = int(kHeight * 0.62) - h;
        p.fillRect(x, y, w, h,
                   QColor::fromHsv(u(random) % 360, 30 + u(random) % 50, 100 + u(random) % 100));
        for (int wy = y + 10; wy < y + h - 16; wy += 22)
            for (int wx = x + 8; wx < x + w - 12; wx += 18)
                p.fillRect(wx, wy, 9, 12,
                           (u(random) % 3) ? QColor(40, 50, 70) : QColor(250, 230, 150));
    }
    p.fillRect(0, int(kHeight * 0.62), kWidth, kHeight, QColor(80, 80, 85));
    p.setPen(QPen(QColor(230, 230, 230), 6, Qt::DashLine));
    p.drawLine(0, int(kHeight * 0.8), kWidth, int(kHeight * 0.8));
    p.setPen(Qt::NoPen);
    for (int c = 0; c < 3; ++c) {
        p.setBrush(QColor::fromHsv(c * 110, 200, 210));
        p.drawRoundedRect((c * 420 + n * 37) % kWidth, int(kHeight * 0.68) + c * 50, 160, 60, 14,
                          14);
    }
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u/%02u/%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    QFont font = p.font();
    font.setPixelSize(28);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, kWidth - 16, kHeight - 12), Qt::AlignRight | Qt::AlignBottom,
               QString::fromLatin1(stamp));
    p.end();
    return image.rgbSwapped();
}

class ShotHost : public ViewerHost {
  public:
    explicit ShotHost(ImageTree tree) : tree_(std::move(tree)) {}
    std::string Title() const override { return FormatViewerTitle("", "Brindle Test Camera", 1); }
    std::string PlacementKey() const override { return "Brindle_Test_Camera"; }
    ImageTree Tree() const override { return tree_; }
    int RetentionDays() const override { return 0; }
    std::string Caption() const override { return "Brindle Host"; }
    int DateDialogId() const override { return 132; }
    bool TraceOn() const override { return false; }
    bool HasTray() const override { return false; }
    std::string ReadPlacement(const std::string&) override { return "40,40,800,560,0,1"; }
    void WritePlacement(const std::string&, const std::string&) override {}
    void SetLiveSlot(std::shared_ptr<LiveFrameSlot> slot) override { live = std::move(slot); }
    std::shared_ptr<LiveFrameSlot> live;

  private:
    ImageTree tree_;
};

// Lets the window system and the viewer's timer run for a while.
void Wait(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The screen around the viewer, with what lies over it (menus, dialogs).
bool Save(const QWidget& viewer, const QString& file, QRect extra = {}) {
    Wait(300);
    QRect area = viewer.frameGeometry().adjusted(-8, -8, 8, 8);
    if (!extra.isNull())
        area = area.united(extra.adjusted(-8, -8, 8, 8));
    const QPixmap shot =
        viewer.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const bool fSaved = shot.save(file);
    std::printf("%s %s\n", fSaved ? "saved" : "FAILED", file.toLocal8Bit().constData());
    return fSaved;
}

int Run(const QString& out) {
    QTemporaryDir dir;
    ImageTree tree{dir.path().toStdString(), "", "Brindle_Test_Camera"};
    JpegScratch scratch;
    std::vector<uint8_t> jpeg;
    for (int i = 0; i < 30; ++i) {
        const QImage bgr = Scene(i, TimeAt(i));
        EncodeJpeg(bgr.constBits(), kWidth, kHeight, bgr.bytesPerLine(), 25, scratch, jpeg);
        SaveImageFile(tree, TimeAt(i), jpeg.data(), jpeg.size());
    }
    QDir().mkpath(out);
    ShotHost host(tree);
    const Clock& clock = SystemClock();
    bool fAll = true;

    {
        // Live: a picture from the camera with its capture time.
        ViewerEntry entry;
        entry.nMode = VIEWER_LIVE;
        ImageViewerWindow viewer(entry, host, clock);
        viewer.show();
        Wait(200);
        const QImage bgr = Scene(31, TimeAt(31));
        ViewerPicture picture;
        picture.nWidth = kWidth;
        picture.nHeight = kHeight;
        picture.nStride = size_t(bgr.bytesPerLine());
        picture.pixels.assign(bgr.constBits(), bgr.constBits() + bgr.sizeInBytes());
        host.live->Offer(std::move(picture), SystemTimeToFileTime(TimeAt(31)) + 4560000);
        fAll &= Save(viewer, out + "/viewer-live.png");
        viewer.close();
        if (entry.pListWorker)
            entry.pListWorker->Wait();
    }

    ViewerEntry entry;
    entry.nMode = VIEWER_OPENING;
    ImageViewerWindow viewer(entry, host, clock);
    viewer.show();
    Wait(500);
    // Paused a few images back, with the path and "x0" in the status bar.
    for (int i = 0; i < 5; ++i)
        viewer.RunCommand(CMD_PREVIOUS);
    fAll &= Save(viewer, out + "/viewer-paused.png");

    // Playing backwards at "10倍", brightened.
    viewer.ChooseSpeed(false, 3);
    viewer.BrightenBy(1);
    fAll &= Save(viewer, out + "/viewer-playing.png");
    viewer.RunCommand(CMD_PAUSE);
    viewer.BrightenBy(-1);

    // Zoomed about a point of the picture, with the scroll bars.
    QWidget* picture = viewer.Control(1004);
    const QRect drawn = viewer.DrawnRect();
    QCursor::setPos(picture->mapToGlobal(drawn.topLeft() +
                                         QPoint(drawn.width() * 3 / 4, drawn.height() * 2 / 3)));
    for (int i = 0; i < 9; ++i)
        viewer.ZoomBy(1);
    fAll &= Save(viewer, out + "/viewer-zoomed.png");
    while (entry.nZoom > 100)
        viewer.ZoomBy(-1);

    // The context menu with the rewind speeds open.
    QMenu* menu = viewer.BuildContextMenu();
    menu->popup(viewer.mapToGlobal(QPoint(120, 90)));
    Wait(300);
    QMenu* past = nullptr;
    for (QAction* action : menu->actions())
        if (action->menu() != nullptr)
            past = action->menu();
    QRect menus = menu->geometry();
    if (past != nullptr) {
        menu->setActiveAction(past->menuAction());
        past->popup(menu->mapToGlobal(
            QPoint(menu->width() - 4, menu->actionGeometry(past->menuAction()).y())));
        Wait(300);
        menus = menus.united(past->geometry());
        for (QAction* action : past->actions())
            if (action->menu() != nullptr) {
                past->setActiveAction(action);
                action->menu()->popup(
                    past->mapToGlobal(QPoint(past->width() - 4, past->actionGeometry(action).y())));
                Wait(300);
                menus = menus.united(action->menu()->geometry());
                break;
            }
    }
    fAll &= Save(viewer, out + "/viewer-menu.png", menus);
    menu->close();
    delete menu;
    Wait(200);

    // The date dialog, starting from the time of the image shown.
    entry.targetTime = TimeAt(20);
    viewer.RunCommand(CMD_DATE);
    Wait(300);
    QRect dialogArea;
    if (auto* dialog = viewer.findChild<DateDialog*>())
        dialogArea = dialog->frameGeometry();
    fAll &= Save(viewer, out + "/viewer-date.png", dialogArea);

    viewer.close();
    if (entry.pListWorker)
        entry.pListWorker->Wait();
    return fAll ? 0 : 1;
}

} // namespace
} // namespace brindle

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: viewer_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    return brindle::Run(QString::fromLocal8Bit(argv[1]));
}
