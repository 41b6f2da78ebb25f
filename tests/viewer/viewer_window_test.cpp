#include "imagestore/viewer/viewer_window.h"

#include "common/log.h"
#include "image/jpeg_codec.h"
#include "imagestore/image_list.h"
#include "imagestore/viewer/brightness.h"
#include "imagestore/viewer/date_dialog.h"
#include "imagestore/viewer/speed_table.h"
#include "support/file_text.h"
#include "support/system_time.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QFile>
#include <QMenu>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <map>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

class TestHost : public ViewerHost {
  public:
    explicit TestHost(ImageTree tree) : tree_(std::move(tree)) {}
    std::string Title() const override { return FormatViewerTitle("", "Cam", 2); }
    std::string PlacementKey() const override { return "cam"; }
    ImageTree Tree() const override { return tree_; }
    int RetentionDays() const override { return 0; }
    std::string Caption() const override { return "Brindle Host"; }
    int DateDialogId() const override { return 132; }
    bool TraceOn() const override { return fTrace; }
    bool HasTray() const override { return fTray; }
    std::string ReadPlacement(const std::string& key) override { return placement[key]; }
    void WritePlacement(const std::string& key, const std::string& value) override {
        placement[key] = value;
    }
    void SetLiveSlot(std::shared_ptr<LiveFrameSlot> slot) override { live = std::move(slot); }
    void ShowMessage(const std::string& caption, const std::string& text,
                     ViewerMessageIcon icon) override {
        messages.push_back(text);
        captions.push_back(caption);
        icons.push_back(icon);
    }

    ImageTree tree_;
    bool fTray = false;
    bool fTrace = false;
    std::map<std::string, std::string> placement;
    std::shared_ptr<LiveFrameSlot> live;
    std::vector<std::string> messages;
    std::vector<std::string> captions;
    std::vector<ViewerMessageIcon> icons;
};

// A small picture of one grey level, so that a test can tell images apart.
std::vector<uint8_t> Jpeg(uint8_t level, int w = 32, int h = 16) {
    std::vector<uint8_t> bgr(static_cast<size_t>(w) * h * 3, level);
    JpegScratch scratch;
    std::vector<uint8_t> jpeg;
    EXPECT_EQ(EncodeJpeg(bgr.data(), w, h, w * 3, 90, scratch, jpeg), 0u);
    return jpeg;
}

// A camera archive in a temporary folder and a viewer over it, driven by
// a manual clock; the test runs the window's timer steps itself.
class ViewerTest : public ::testing::Test {
  protected:
    void SetUp() override { clock_.SetLocalNow(test::TimeOf(2024, 3, 1, 12)); }
    void TearDown() override {
        window_.reset();
        if (entry_.pListWorker)
            entry_.pListWorker->Wait();
    }

    // Images `count` of them, `gap` seconds apart from 1 March 2024 10:00.
    void AddImages(int count, int gap = 60) {
        for (int i = 0; i < count; ++i) {
            const SystemTime t = FileTimeToSystemTime(test::FileTimeOf(2024, 3, 1, 10) +
                                                      uint64_t(i) * gap * 10000000ull);
            AddImage(t, Jpeg(static_cast<uint8_t>(10 + i * 3)));
        }
    }
    std::string AddImage(const SystemTime& t, const std::vector<uint8_t>& bytes) {
        std::string path;
        EXPECT_EQ(SaveImageFile(tree_, t, bytes.data(), bytes.size()), 0u);
        EXPECT_EQ(CreateImagePath(tree_, t, path), 0u);
        return path;
    }

    void Open(int nMode = VIEWER_OPENING, bool fResize = true) {
        fs::create_directories(tmp_.File("cam"));
        entry_.nMode = nMode;
        window_ = std::make_unique<ImageViewerWindow>(entry_, host_, clock_);
        if (fResize)
            window_->resize(400, 300);
        window_->show();
        ASSERT_TRUE(test::WaitUntil([&] {
            window_->Tick();
            return !IsListing(entry_) && entry_.nMode != VIEWER_OPENING;
        }));
    }
    QString Status(int part) const { return window_->StatusText(part); }
    int Level() const {
        return window_->ShownImage().isNull() ? -1 : window_->ShownImage().pixel(4, 4) & 0xFF;
    }
    void Click(int id, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(window_->Control(id), button);
    }
    void Advance(uint32_t ms) {
        clock_.Advance(ms);
        window_->Tick();
    }

    TempDir tmp_;
    ImageTree tree_{tmp_.Path(), "", "cam"};
    ManualClock clock_;
    TestHost host_{tree_};
    ViewerEntry entry_;
    std::unique_ptr<ImageViewerWindow> window_;
};

TEST_F(ViewerTest, OpensOnTheNewestImagePausedWithTheControlsOfTheForm) {
    AddImages(3);
    Open();
    EXPECT_EQ(window_->windowTitle(), "Cam [2]");
    EXPECT_EQ(entry_.nMode, VIEWER_FORWARD);
    EXPECT_EQ(entry_.nCurrentIndex, 2);
    EXPECT_EQ(entry_.nPlaying, 0u);
    EXPECT_EQ(Status(1), "x0");
    EXPECT_TRUE(Status(0).endsWith("20240301/100200-000.jpg")) << Status(0).toStdString();
    EXPECT_TRUE(window_->Control(1058)->isEnabled());
    const std::pair<int, const char*> texts[] = {{1014, "＜＜"}, {1015, "＜日"}, {1016, "＜時"},
                                                 {1018, "＜分"}, {1052, "＜"},   {1053, "｜｜"},
                                                 {1054, "＞"},   {1059, "分＞"}, {1056, "時＞"},
                                                 {1057, "日＞"}, {1055, "＞＞"}, {1058, "最新"}};
    for (const auto& [id, text] : texts)
        EXPECT_EQ(static_cast<QAbstractButton*>(window_->Control(id))->text(), QString(text)) << id;
    // The row lays the buttons side by side, left to right.
    for (size_t i = 0; i + 1 < std::size(texts); ++i) {
        const QWidget* button = window_->Control(texts[i].first);
        EXPECT_GE(button->width(), 24) << texts[i].first;
        EXPECT_LE(button->geometry().right(), window_->Control(texts[i + 1].first)->x())
            << texts[i].first;
    }
    EXPECT_FALSE(window_->Control(1017)->isVisible());
    EXPECT_NE(window_->Control(1004), nullptr);
}

TEST_F(ViewerTest, AnEmptyCameraIsWhiteAndIgnoresNavigation) {
    Open();
    EXPECT_TRUE(window_->ShownImage().isNull());
    for (int id : {1015, 1052, 1053, 1054, 1057, 1014, 1055}) {
        window_->RunCommand(id);
        EXPECT_EQ(entry_.nCurrentIndex, 0) << id;
        EXPECT_EQ(entry_.nPlaying, 0u) << id;
    }
    EXPECT_TRUE(window_->ShownImage().isNull());
}

TEST_F(ViewerTest, StepsStopAtTheEndsOfTheList) {
    AddImages(3);
    Open();
    Click(1052);
    Click(1052);
    EXPECT_EQ(entry_.nCurrentIndex, 0);
    const int first = Level();
    Click(1018); // a minute back from the first image stays there
    Click(1052);
    EXPECT_EQ(entry_.nCurrentIndex, 0);
    EXPECT_EQ(Level(), first);
    Click(1059);
    EXPECT_EQ(entry_.nCurrentIndex, 1);
    Click(1057);
    EXPECT_EQ(entry_.nCurrentIndex, 2);
}

TEST_F(ViewerTest, PlaybackStepsFollowTheSpeedAndTheFiveSecondRule) {
    AddImages(5);
    Open();
    window_->RunCommand(1052);
    window_->RunCommand(1052);
    window_->RunCommand(1052); // index 1, paused
    // "1倍": 60 s apart, so each step comes from the 5 s rule.
    window_->ChooseSpeed(true, 0);
    EXPECT_EQ(entry_.nCurrentIndex, 2);
    EXPECT_EQ(Status(1), "+1倍");
    Advance(4990);
    EXPECT_EQ(entry_.nCurrentIndex, 2);
    Advance(10);
    EXPECT_EQ(entry_.nCurrentIndex, 3);
    // "1分/秒": one image a second, none at 990 ms.
    window_->ChooseSpeed(true, 9);
    EXPECT_EQ(Status(1), "+1分/秒");
    Advance(990);
    EXPECT_EQ(entry_.nCurrentIndex, 3);
    Advance(10);
    EXPECT_EQ(entry_.nCurrentIndex, 4);
    // The last image going forwards: live.
    Advance(10);
    EXPECT_EQ(entry_.nMode, VIEWER_LIVE);
    EXPECT_EQ(entry_.nPlaying, 0u);
    EXPECT_FALSE(window_->Control(1058)->isEnabled());
    EXPECT_TRUE(host_.live->Wanted());
}

TEST_F(ViewerTest, RewindClicksRaiseTheSpeedAndHoldingLowersIt) {
    AddImages(3, 3600);
    Open();
    Click(1014); // starts playing backwards at "1倍"
    EXPECT_EQ(entry_.nCurrentIndex, 1);
    EXPECT_EQ(Status(1), "-1倍");
    for (int i = 0; i < 40; ++i)
        Click(1014);
    EXPECT_EQ(entry_.nSpeedIndex, SPEED_COUNT - 1);
    EXPECT_EQ(Status(1), "-30日/秒");
    QTest::mousePress(window_->Control(1014), Qt::RightButton);
    EXPECT_TRUE(entry_.fRewindHeld);
    QTest::mouseRelease(window_->Control(1014), Qt::RightButton);
    EXPECT_FALSE(entry_.fRewindHeld);
    EXPECT_EQ(entry_.nSpeedIndex, SPEED_COUNT - 2);
    for (int i = 0; i < 30; ++i)
        window_->RunCommand(CMD_REWIND_HELD);
    EXPECT_EQ(entry_.nSpeedIndex, 0);
    EXPECT_FALSE(entry_.fRewindHeld);

    struct Row {
        int row;
        bool fForward;
        const char* status;
    } const rows[] = {{8, false, "-50倍"}, {17, true, "+4時/秒"}, {23, false, "-7日/秒"}};
    for (const Row& r : rows) {
        window_->ChooseSpeed(r.fForward, r.row);
        if (entry_.nMode != (r.fForward ? 1 : -1))
            window_->ChooseSpeed(r.fForward, r.row); // the first choice turned round
        EXPECT_EQ(Status(1), QString(r.status));
    }
    window_->RunCommand(1053);
    EXPECT_EQ(Status(1), "x0");
    // Backwards to the first image: playback stops there.
    window_->RunCommand(1054);
    window_->ChooseSpeed(false, SPEED_COUNT - 1);
    while (entry_.nPlaying != 0 && entry_.nCurrentIndex > 0)
        Advance(1000);
    Advance(10);
    EXPECT_EQ(entry_.nCurrentIndex, 0);
    EXPECT_EQ(entry_.nPlaying, 0u);
    EXPECT_EQ(Status(1), "x0");
}

TEST_F(ViewerTest, TheFastestSpeedFromEitherSubmenuPlaysAndIsTicked) {
    AddImages(6, 86400 * 10);
    for (bool fForward : {false, true}) {
        window_.reset();
        entry_ = ViewerEntry();
        Open();
        for (int i = 0; i < (fForward ? 4 : 1); ++i)
            window_->RunCommand(1052);
        std::unique_ptr<QMenu> menu(window_->BuildContextMenu());
        QAction* fastest = nullptr;
        const int id = fForward ? 31136 : 31036;
        for (QAction* a : menu->findChildren<QAction*>())
            if (a->property("id").toInt() == id)
                fastest = a;
        ASSERT_NE(fastest, nullptr);
        EXPECT_EQ(fastest->text(), "30日/秒");
        fastest->trigger();
        ASSERT_NE(entry_.nPlaying, 0u);
        EXPECT_EQ(SPEED_TABLE[entry_.nSpeedIndex].nSecondsPerSecond, 2592000u);
        std::unique_ptr<QMenu> again(window_->BuildContextMenu());
        int ticked = 0;
        for (QAction* a : again->findChildren<QAction*>())
            if (a->isChecked() && a->property("id").toInt() >= 31000)
                ticked = a->property("id").toInt();
        EXPECT_EQ(ticked, id);
        // 2,592,000 s/s: 30 days in one second, so the next step comes at
        // 1/3 s for images 10 days apart.
        const int64_t before = entry_.nCurrentIndex;
        Advance(340);
        EXPECT_EQ(entry_.nCurrentIndex, before + (fForward ? 1 : -1));
    }
}

TEST_F(ViewerTest, TheContextMenuHasItsItemsAndNoSaveCommand) {
    Open();
    std::unique_ptr<QMenu> menu(window_->BuildContextMenu());
    std::map<int, QString> items;
    std::vector<int> all;
    for (QAction* a : menu->findChildren<QAction*>())
        if (a->property("id").isValid()) {
            items[a->property("id").toInt()] = a->text();
            all.push_back(a->property("id").toInt());
        }
    EXPECT_EQ(all.size(), items.size());
    EXPECT_EQ(items.count(32781), 0u);
    EXPECT_EQ(items[32776], "指定した日時を表示(&G)\tEnter");
    EXPECT_EQ(items[32787], "画像を暗く表示(&D)\tShift+PageDown");
    EXPECT_EQ(items[31020], "1時間/秒");
    EXPECT_EQ(items[31120], "1時/秒");
    EXPECT_EQ(items[31115], "30分/秒");
    EXPECT_EQ(items.size(), 9u + 9u + 54u);
    QStringList submenus;
    for (QMenu* m : menu->findChildren<QMenu*>())
        submenus << m->title();
    EXPECT_TRUE(submenus.contains("早戻し\tHome"));
    EXPECT_TRUE(submenus.contains("早送り\tEnd"));
}

TEST_F(ViewerTest, EachShortcutRunsItsCommandInTheActiveViewer) {
    Open();
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    const std::pair<QKeyCombination, int> keys[] = {{Qt::CTRL | Qt::Key_Home, 1061},
                                                    {QKeyCombination(Qt::Key_Home), 1014},
                                                    {Qt::CTRL | Qt::SHIFT | Qt::Key_Up, 1015},
                                                    {Qt::CTRL | Qt::SHIFT | Qt::Key_Left, 1015},
                                                    {Qt::SHIFT | Qt::Key_Up, 1016},
                                                    {Qt::SHIFT | Qt::Key_Left, 1016},
                                                    {Qt::CTRL | Qt::Key_Up, 1018},
                                                    {Qt::CTRL | Qt::Key_Left, 1018},
                                                    {QKeyCombination(Qt::Key_Up), 1052},
                                                    {QKeyCombination(Qt::Key_Left), 1052},
                                                    {QKeyCombination(Qt::Key_Space), 1053},
                                                    {QKeyCombination(Qt::Key_Right), 1054},
                                                    {QKeyCombination(Qt::Key_Down), 1054},
                                                    {Qt::CTRL | Qt::Key_Right, 1059},
                                                    {Qt::CTRL | Qt::Key_Down, 1059},
                                                    {Qt::SHIFT | Qt::Key_Right, 1056},
                                                    {Qt::SHIFT | Qt::Key_Down, 1056},
                                                    {Qt::CTRL | Qt::SHIFT | Qt::Key_Right, 1057},
                                                    {Qt::CTRL | Qt::SHIFT | Qt::Key_Down, 1057},
                                                    {QKeyCombination(Qt::Key_End), 1055},
                                                    {Qt::CTRL | Qt::Key_End, 1060},
                                                    {QKeyCombination(Qt::Key_Return), 32776},
                                                    {Qt::CTRL | Qt::Key_C, 32780},
                                                    {Qt::CTRL | Qt::Key_A, 32781},
                                                    {QKeyCombination(Qt::Key_PageUp), 32772},
                                                    {QKeyCombination(Qt::Key_PageDown), 32773},
                                                    {Qt::SHIFT | Qt::Key_PageUp, 32784},
                                                    {Qt::SHIFT | Qt::Key_PageDown, 32785}};
    const auto shortcuts = window_->findChildren<QShortcut*>();
    ASSERT_EQ(shortcuts.size(), 28);
    for (const auto& [key, id] : keys) {
        std::vector<int> fired;
        std::vector<QMetaObject::Connection> links;
        for (QShortcut* s : shortcuts)
            links.push_back(QObject::connect(s, &QShortcut::activated, [&fired, s] {
                fired.push_back(s->property("id").toInt());
            }));
        QTest::keyClick(window_.get(), key.key(), key.keyboardModifiers());
        for (auto& link : links)
            QObject::disconnect(link);
        EXPECT_EQ(fired, std::vector<int>{id}) << QKeySequence(key).toString().toStdString();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != window_.get() && w->isVisible())
                w->close(); // the date dialog
    }
}

TEST_F(ViewerTest, ZoomKeepsThePointUnderTheCursorAndShowsScrollBarsAboveHundred) {
    AddImages(1);
    Open();
    EXPECT_FALSE(window_->Control(1019)->isVisible());
    QWidget* picture = window_->Control(1004);
    const QRect drawn = window_->DrawnRect();
    const QPoint at = drawn.topLeft() + QPoint(drawn.width() / 4, drawn.height() / 4);
    QWheelEvent wheel(at, picture->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(picture, &wheel);
    EXPECT_EQ(entry_.nZoom, 110);
    EXPECT_TRUE(window_->Control(1019)->isVisible());
    EXPECT_TRUE(window_->Control(1020)->isVisible());
    // The picture point under the cursor (a quarter in) stays a quarter in.
    const QRectF source = window_->SourceRect();
    const double fx = source.x() + (at.x() - drawn.x()) * source.width() / drawn.width();
    EXPECT_NEAR(fx, window_->ShownImage().width() / 4.0, 0.5);
    const auto* bar = static_cast<QScrollBar*>(window_->Control(1019));
    EXPECT_EQ(bar->pageStep(), 32768 * 100 / 110);
    EXPECT_EQ(bar->maximum() + bar->pageStep(), 32768);
    window_->ZoomBy(-1);
    EXPECT_EQ(entry_.nZoom, 100);
    EXPECT_FALSE(window_->Control(1019)->isVisible());
    // Shift + wheel brightens.
    QWheelEvent shifted(at, picture->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                        Qt::ShiftModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(picture, &shifted);
    EXPECT_EQ(entry_.nBrightness, 150);
}

// Zooming keeps the picture point under the cursor under it; where the view
// cannot follow (at an edge of the picture) the cursor moves to the point.
TEST_F(ViewerTest, ZoomKeepsTheCursorOnItsPicturePointAtTheEdges) {
    AddImages(1);
    Open();
    QWidget* picture = window_->Control(1004);
    auto* hBar = static_cast<QScrollBar*>(window_->Control(1019));
    // The picture point under the cursor, in picture pixels.
    auto pointUnderCursor = [&] {
        const QRectF source = window_->SourceRect();
        const QRect drawn = window_->DrawnRect();
        const QPointF at = picture->mapFromGlobal(QCursor::pos().toPointF());
        return QPointF(source.x() + (at.x() - drawn.x()) * source.width() / drawn.width(),
                       source.y() + (at.y() - drawn.y()) * source.height() / drawn.height());
    };
    const struct {
        int nZoomSteps;   // zoom-in steps before
        bool fScrollLeft; // then scrolled to the left edge (else the right)
        double dCursorX;  // the cursor's place across the drawn picture
        int nDirection;
        bool fMoves; // the cursor must move
    } cases[] = {
        {0, true, 0.03, 1, false}, {7, true, 0.95, -1, true}, {7, false, 0.05, -1, true},
        {7, true, 0.50, 1, false}, {7, true, 0.50, -1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dCursorX);
        // Outside the picture the zoom is about its centre.
        QCursor::setPos(picture->mapToGlobal(QPoint(-3, -3)));
        while (entry_.nZoom > 100)
            window_->ZoomBy(-1);
        for (int i = 0; i < c.nZoomSteps; ++i)
            window_->ZoomBy(1);
        if (c.nZoomSteps > 0)
            hBar->setValue(c.fScrollLeft ? hBar->minimum() : hBar->maximum());
        const QRect drawn = window_->DrawnRect();
        const QPoint at(drawn.x() + int(drawn.width() * c.dCursorX), drawn.center().y());
        QCursor::setPos(picture->mapToGlobal(at));
        ASSERT_EQ(picture->mapFromGlobal(QCursor::pos()), at);
        const QPointF before = pointUnderCursor();
        window_->ZoomBy(c.nDirection);
        // One screen pixel of rounding, in picture pixels.
        const double tolerance = window_->SourceRect().width() / drawn.width();
        const QPointF after = pointUnderCursor();
        EXPECT_NEAR(after.x(), before.x(), tolerance);
        EXPECT_NEAR(after.y(), before.y(), tolerance);
        EXPECT_EQ(picture->mapFromGlobal(QCursor::pos()) != at, c.fMoves);
    }
}

TEST_F(ViewerTest, DraggingPansAfterEightPixels) {
    AddImages(1);
    Open();
    for (int i = 0; i < 8; ++i)
        window_->ZoomBy(1);
    QWidget* picture = window_->Control(1004);
    const QPoint start = window_->DrawnRect().center();
    const double x0 = window_->SourceRect().x();
    QTest::mousePress(picture, Qt::LeftButton, {}, start);
    QMouseEvent small(QEvent::MouseMove, start + QPoint(7, 0), picture->mapToGlobal(start),
                      Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &small);
    EXPECT_EQ(window_->SourceRect().x(), x0);
    QMouseEvent far(QEvent::MouseMove, start + QPoint(-30, 0), picture->mapToGlobal(start),
                    Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &far);
    EXPECT_GT(window_->SourceRect().x(), x0);
    EXPECT_EQ(picture->cursor().shape(), Qt::ClosedHandCursor);
    QTest::mouseRelease(picture, Qt::LeftButton, {}, start + QPoint(-30, 0));
    EXPECT_EQ(picture->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(ViewerTest, ACopyCarriesTheBrightenedPicture) {
    AddImages(1);
    Open();
    window_->BrightenBy(1);
    const QImage shown = window_->ShownImage();
    EXPECT_EQ(shown.pixel(4, 4) & 0xFF,
              BrightenByte(shown.isNull() ? 0 : entry_.picture.pixels[12], 19));
    window_->RunCommand(CMD_COPY);
    const QImage copied = QApplication::clipboard()->image();
    ASSERT_FALSE(copied.isNull());
    EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB32),
              shown.convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(host_.messages.empty());
}

// When no copy of the picture can be had, the clipboard is left alone and
// the user is told. The copy is made to fail for real: the address space is
// capped just above what the process uses while the copy is asked for.
TEST_F(ViewerTest, ACopyWithoutMemoryTellsTheUserAndLeavesTheClipboard) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator ends the process when memory runs out";
#else
    Open(VIEWER_LIVE);
    ViewerPicture picture;
    // Larger than a malloc arena's reserve (64 MB), which a smaller copy
    // could still come from under the cap.
    picture.nWidth = picture.nHeight = 5000;
    picture.nStride = 15000;
    picture.pixels.assign(size_t(15000) * 5000, 77);
    ASSERT_TRUE(host_.live->Offer(std::move(picture), test::FileTimeOf(2024, 3, 1, 9)));
    window_->Tick();
    ASSERT_EQ(window_->ShownImage().width(), 5000);
    QApplication::clipboard()->setImage(QImage(3, 3, QImage::Format_RGB32));

    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_AS, &old), 0);
    long nPages = 0;
    ASSERT_EQ(std::sscanf(test::ReadFileText("/proc/self/statm").c_str(), "%ld", &nPages), 1);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(nPages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (4u << 20);
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &tight), 0);
    window_->RunCommand(CMD_COPY);
    ::setrlimit(RLIMIT_AS, &old);

    EXPECT_EQ(host_.messages, std::vector<std::string>{"メモリが確保できません!"});
    EXPECT_EQ(host_.captions, std::vector<std::string>{"Brindle Host"});
    EXPECT_EQ(host_.icons, std::vector<ViewerMessageIcon>{ViewerMessageIcon::kError});
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(3, 3));
#endif
}

TEST_F(ViewerTest, BadFilesKeepThePictureNoteItOnceAndPlaybackGoesOn) {
    TempDir logDir;
    ASSERT_TRUE(LogOpen(logDir.File("viewer.log")));
    AddImages(2);
    std::vector<uint8_t> truncated = Jpeg(200);
    truncated.resize(truncated.size() / 2);
    std::vector<uint8_t> huge = Jpeg(200, 8, 8);
    for (size_t i = 0; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) { // frame header: claim 65000 x 65000
            huge[i + 5] = huge[i + 7] = 0xFD;
            huge[i + 6] = huge[i + 8] = 0xE8;
            break;
        }
    }
    const std::vector<std::vector<uint8_t>> bad = {truncated, {'n', 'o', 't', 'j', 'p', 'g'}, huge};
    for (size_t i = 0; i < bad.size(); ++i)
        AddImage(test::TimeOf(2024, 3, 1, 11, 0, int(i)), bad[i]);
    AddImage(test::TimeOf(2024, 3, 1, 11, 1), Jpeg(90));
    // A listed day whose folder went away is no different.
    AddImage(test::TimeOf(2024, 3, 2, 9), Jpeg(120));
    Open();
    fs::remove_all(tmp_.File("cam/20240302"));
    window_->RunCommand(1052); // the good image of 11:01
    window_->RunCommand(1054); // the day that went away
    EXPECT_NEAR(Level(), 90, 3);
    window_->RunCommand(1052);
    window_->RunCommand(1052); // a bad one
    EXPECT_EQ(entry_.nCurrentIndex, 4);
    EXPECT_NEAR(Level(), 90, 3);
    EXPECT_TRUE(Status(0).startsWith("画像を表示できません")) << Status(0).toStdString();
    // Playing backwards passes the bad files.
    window_->ChooseSpeed(false, 0);
    for (int i = 0; i < 10 && entry_.nCurrentIndex > 1; ++i)
        Advance(5000);
    EXPECT_EQ(entry_.nCurrentIndex, 1);
    EXPECT_NEAR(Level(), 13, 3);
    window_->RunCommand(1054);
    window_->RunCommand(1054);
    LogClose();
    const std::string log = test::ReadFileText(logDir.File("viewer.log"));
    size_t lines = 0;
    for (size_t at = 0; (at = log.find("を表示できません", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 4u) << log; // three bad files and the missing day, once each
}

TEST_F(ViewerTest, TheDailyResetUnderAPlayingViewerIsSafe) {
    AddImages(4);
    Open();
    window_->RunCommand(1052);
    window_->ChooseSpeed(false, 0);
    ResetDailyListing(entry_);
    Advance(6000);
    for (int id : {1052, 1054, 1057, 1014})
        window_->RunCommand(id);
    EXPECT_EQ(entry_.nValidCount, 0);
    // The next listing rebuilds the list and the index is brought inside it.
    ListFiles(entry_, tree_, 0, clock_);
    ASSERT_TRUE(test::WaitUntil([&] {
        window_->Tick();
        return !IsListing(entry_);
    }));
    window_->RunCommand(1052);
    EXPECT_GE(entry_.nCurrentIndex, 0);
    EXPECT_LT(entry_.nCurrentIndex, 4);
}

TEST_F(ViewerTest, AListThatCannotBeReadKeepsTheListAndIsTriedAgain) {
    AddImages(2);
    Open();
    fs::remove(tmp_.File("cam.lst"));
    fs::create_directories(tmp_.File("cam.lst/x"));
    AddImage(test::TimeOf(2024, 3, 1, 11), Jpeg(70));
    window_->RunCommand(1054); // at the end: list again
    EXPECT_EQ(entry_.nValidCount, 2);
    EXPECT_TRUE(Status(0).startsWith("画像一覧を読み込めません")) << Status(0).toStdString();
    fs::remove_all(tmp_.File("cam.lst"));
    window_->RunCommand(1054);
    ASSERT_TRUE(test::WaitUntil([&] {
        window_->Tick();
        return !IsListing(entry_);
    }));
    window_->RunCommand(1054);
    EXPECT_EQ(entry_.nValidCount, 3);
    EXPECT_EQ(entry_.nCurrentIndex, 2);
}

TEST_F(ViewerTest, LivePicturesShowWithTheirTimeAndBrightness) {
    Open(VIEWER_LIVE);
    ASSERT_TRUE(host_.live);
    EXPECT_TRUE(host_.live->Wanted());
    ViewerPicture picture;
    picture.nWidth = 4;
    picture.nHeight = 2;
    picture.nStride = 12;
    picture.pixels.assign(24, 100);
    ASSERT_TRUE(host_.live->Offer(std::move(picture), test::FileTimeOf(2024, 3, 1, 9, 8, 7, 6)));
    window_->Tick();
    EXPECT_EQ(Status(0), "2024-03-01 09:08:07.006");
    EXPECT_EQ(Status(1), "最新");
    window_->BrightenBy(1);
    EXPECT_EQ(window_->ShownImage().pixel(0, 0) & 0xFF, 147u);
    // A picture that does not fit its own size is dropped.
    ViewerPicture broken;
    broken.nWidth = 100;
    broken.nHeight = 100;
    broken.nStride = 300;
    ASSERT_TRUE(host_.live->Offer(std::move(broken), 1));
    window_->Tick();
    EXPECT_EQ(window_->ShownImage().width(), 4);
    // Stored images: live pictures are no longer taken.
    AddImages(1);
    ASSERT_TRUE(test::WaitUntil([&] {
        window_->Tick();
        ListFiles(entry_, tree_, 0, clock_);
        return entry_.nValidCount == 1 && !IsListing(entry_);
    }));
    window_->RunCommand(1053);
    EXPECT_FALSE(host_.live->Wanted());
    EXPECT_EQ(Status(1), "x0");
}

// The trace lines name each message with the parameters it stands for.
TEST_F(ViewerTest, TraceLinesCarryTheMessagesParameters) {
    TempDir logDir;
    ASSERT_TRUE(LogOpen(logDir.File("viewer.log")));
    const uint32_t nDebug = g_nDebug.exchange(DEBUG_TRACE);
    host_.fTrace = true;
    Open(VIEWER_LIVE);
    const uint64_t nTime = test::FileTimeOf(2024, 3, 1, 9, 8, 7, 6);
    ViewerPicture picture;
    picture.nWidth = 4;
    picture.nHeight = 2;
    picture.nStride = 12;
    picture.pixels.assign(24, 100);
    ASSERT_TRUE(host_.live->Offer(std::move(picture), nTime));
    window_->Tick();
    window_->Control(1004)->grab();
    window_->RunCommand(CMD_PAUSE);
    window_->close();
    const uint32_t entryLow = uint32_t(reinterpret_cast<uintptr_t>(&entry_));
    const uint32_t windowLow = uint32_t(reinterpret_cast<uintptr_t>(window_.get()));
    window_.reset();
    g_nDebug.store(nDebug);
    LogClose();

    const std::string log = test::ReadFileText(logDir.File("viewer.log"));
    auto line = [&](const char* side, const char* name, unsigned msg, uint32_t wp, uint32_t lp) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%s  ImageWindowProc(%s) hwnd=%08X msg=%08X wp=%08X lp=%08X\n", side, name,
                      windowLow, msg, wp, lp);
        return std::string(text);
    };
    const std::string expected[] = {
        line("ENTER {", "WM_INITDIALOG", 0x110, 0, entryLow),
        line("LEAVE }", "WM_INITDIALOG", 0x110, 0, entryLow),
        line("ENTER {", "WM_SIZE", 0x5, 0, 300u << 16 | 400u),
        line("ENTER {", "WM_TIMER", 0x113, 1, 0),
        line("ENTER {", "WM_DRAW_IMAGE", 32764, uint32_t(nTime), uint32_t(nTime >> 32)),
        line("ENTER {", "WM_COMMAND", 0x111, CMD_PAUSE, 0),
        line("LEAVE }", "WM_COMMAND", 0x111, 2, 0),
    };
    for (const std::string& text : expected)
        EXPECT_NE(log.find(text), std::string::npos) << text << "in\n" << log;
}

TEST_F(ViewerTest, PlacementIsWrittenAtCloseAndAMalformedOneCentres) {
    host_.placement["cam"] = "10,20,abc,300,0,1";
    Open();
    EXPECT_TRUE(entry_.fTopmost);
    window_->RunCommand(CMD_STATUS_BAR);
    window_->move(30, 40);
    window_->resize(500, 350);
    window_->close();
    EXPECT_EQ(host_.placement["cam"], "30,40,500,350,1,0");
    window_.reset();
    host_.placement["cam"] = "15,25,420,310,0,1";
    Open(VIEWER_OPENING, false);
    EXPECT_EQ(window_->size(), QSize(420, 310));
    EXPECT_FALSE(entry_.fTopmost);
    EXPECT_TRUE(entry_.fStatusBar);
}

TEST(DateDialogFields, OnlyRealDatesAndTimesEnableShow) {
    struct Case {
        std::array<QString, 6> fields;
        bool fValid;
    } const cases[] = {
        {{"2024", "2", "31", "0", "0", "0"}, false},   {{"2023", "2", "29", "0", "0", "0"}, false},
        {{"2100", "2", "29", "0", "0", "0"}, false},   {{"2024", "3", "1", "24", "0", "0"}, false},
        {{"2024", "3", "1", "", "0", "0"}, false},     {{"2024", "3", "1", "1", "2", "x"}, false},
        {{"2024", "2", "29", "23", "59", "59"}, true}, {{"2000", "2", "29", "0", "0", "0"}, true}};
    for (const Case& c : cases) {
        SystemTime st;
        EXPECT_EQ(ParseDateFields(c.fields, SystemTime{}, st), c.fValid)
            << c.fields[0].toStdString() << "-" << c.fields[1].toStdString() << "-"
            << c.fields[2].toStdString() << " " << c.fields[3].toStdString();
    }
    DateDialog empty(SystemTime{}, 136, nullptr);
    EXPECT_EQ(empty.windowTitle(), "日時指定");
    EXPECT_EQ(empty.property("id").toInt(), 136);
    QAbstractButton* show = empty.findChild<QAbstractButton*>("show");
    ASSERT_NE(show, nullptr);
    EXPECT_FALSE(show->isEnabled());
    DateDialog set(test::TimeOf(2024, 2, 29, 1, 2, 3), 132, nullptr);
    EXPECT_TRUE(set.findChild<QAbstractButton*>("show")->isEnabled());
}

TEST_F(ViewerTest, TheDateDialogShowsTheNearestImage) {
    AddImages(3, 3600); // 10:00, 11:00, 12:00
    Open();
    entry_.targetTime = test::TimeOf(2024, 3, 1, 11, 20);
    window_->RunCommand(CMD_DATE);
    DateDialog* dialog = window_->findChild<DateDialog*>();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QAbstractButton*>("show")->click();
    EXPECT_EQ(entry_.nCurrentIndex, 1);
    EXPECT_EQ(entry_.nMode, VIEWER_FORWARD);
}

} // namespace
} // namespace brindle

namespace brindle {
namespace {

// The English translation embedded in the viewer library, installed for one
// test and removed again so that the other tests see the source texts.
class EnglishViewerTest : public ViewerTest {
  protected:
    void SetUp() override {
        ViewerTest::SetUp();
        ASSERT_TRUE(translator_.load(QStringLiteral("viewer_en.qm"), QStringLiteral(":/i18n")));
        ASSERT_TRUE(QCoreApplication::installTranslator(&translator_));
    }
    void TearDown() override {
        ViewerTest::TearDown();
        QCoreApplication::removeTranslator(&translator_);
    }
    QTranslator translator_;
};

TEST_F(EnglishViewerTest, TheWindowMenuStatusAndDialogReadInEnglish) {
    AddImages(3);
    Open();
    EXPECT_EQ(static_cast<QAbstractButton*>(window_->Control(1014))->text(), "<<");
    EXPECT_EQ(static_cast<QAbstractButton*>(window_->Control(1058))->text(), "Latest");
    window_->ChooseSpeed(false, 20);
    EXPECT_EQ(Status(1), "-1 days/s");
    std::unique_ptr<QMenu> menu(window_->BuildContextMenu());
    std::map<int, QString> items;
    for (QAction* a : menu->findChildren<QAction*>())
        items[a->property("id").toInt()] = a->text();
    EXPECT_EQ(items[32776], "&Go to Date and Time...\tEnter");
    EXPECT_EQ(items[CMD_DAY_BACK], "<Day");
    EXPECT_EQ(items[31020], "1 hours/s");
    EXPECT_EQ(items[31000], "1x");
    DateDialog dialog(SystemTime{}, 132, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Date and Time");
    EXPECT_EQ(dialog.findChild<QAbstractButton*>("show")->text(), "Show");
}

// Every text of the viewer's translation file is translated and finished.
TEST(ViewerTranslationFile, HasNoUnfinishedEntries) {
    QFile file(QStringLiteral(BRINDLE_VIEWER_TS_FILE));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int nMessages = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("TS")) {
            EXPECT_EQ(xml.attributes().value(QLatin1String("sourcelanguage")), QLatin1String("ja"));
            EXPECT_EQ(xml.attributes().value(QLatin1String("language")), QLatin1String("en"));
        } else if (xml.name() == QLatin1String("translation")) {
            ++nMessages;
            EXPECT_FALSE(xml.attributes().hasAttribute(QLatin1String("type"))) << nMessages;
            EXPECT_FALSE(xml.readElementText().trimmed().isEmpty()) << nMessages;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(nMessages, 0);
}

} // namespace
} // namespace brindle
