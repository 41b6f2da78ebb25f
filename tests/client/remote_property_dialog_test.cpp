// The remote property dialog under the offscreen platform: one widget per
// described window, chosen by class and placed and styled as described;
// only the user's actions make requests, updates never do.
#include "client/app/remote_property_dialog.h"
#include "client/property_fixture.h"
#include "platform/clock.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTest>

#include <gtest/gtest.h>

namespace brindle {
namespace {

using test::Desc;
using test::List;
using test::Slider;
using test::UpdateOf;

constexpr uint32_t CHILD = 0x40000000u, VISIBLE = 0x10000000u, DISABLED = 0x08000000u;
constexpr uint32_t SHOWN = CHILD | VISIBLE;

class Requests : public PropertyReplicaHost {
  public:
    struct Request {
        int32_t nKind;
        uint32_t hWindow;
        int32_t nCode, nValue;
    };
    bool RequestSlotFree(const void*) override { return fFree; }
    void PostRequest(const void*, int32_t, int32_t nKind, int32_t, uint32_t hWindow, int32_t nCode,
                     int32_t nValue, const std::string&) override {
        sent.push_back({nKind, hWindow, nCode, nValue});
    }
    bool fFree = true;
    std::vector<Request> sent;
};

// 0 the dialog; 1 tab control (A selected); 2 page A shown, 3 page B
// hidden; on page A: 4 label, 5 vertical slider -36,000..36,000, 6 check
// box, 7 disabled push button, 8 list (entry 1), 9 read-only edit, 10 a
// window of a class without a widget of its own. Handles are index + 1.
Desc Dialog() {
    Desc d;
    d.Window("#32770", 0, 1, 0, {}, "Cam", 300, 200, 50, 50, 0x90C800C0u);
    d.Window("SysTabControl32", 1, 2, 4, List({"A", "B"}, 0), "", 280, 180, 6, 6, SHOWN);
    d.Window("#32770", 1, 3, 0, {}, "A", 260, 150, 10, 30, SHOWN);
    d.Window("#32770", 1, 4, 0, {}, "B", 260, 150, 10, 30, CHILD);
    d.Window("Static", 3, 5, 0, {}, "Pan", 60, 20, 8, 12, SHOWN);
    d.Window("msctls_trackbar32", 3, 6, 7, Slider(-36000, 36000, 100), "", 30, 120, 70, 8,
             SHOWN | 0x2u);
    d.Window("Button", 3, 7, 1, {1}, "Show Time", 100, 20, 110, 8, SHOWN | 0x3u);
    d.Window("Button", 3, 8, 1, {0}, "Reset", 80, 24, 110, 40, SHOWN | DISABLED);
    d.Window("ComboBox", 3, 9, 2, List({"Bars", "Gradient", "Checker"}, 1), "", 120, 200, 110, 70,
             SHOWN | 0x3u);
    d.Window("Edit", 3, 10, 3, {}, "100", 60, 20, 110, 100, SHOWN | 0x800u);
    d.Window("Frobnicator", 3, 11, 0, {}, "", 10, 10, 200, 100, SHOWN);
    return d;
}

class RemoteDialogTest : public ::testing::Test {
  protected:
    void Open(bool fStorageLinked = false) {
        clock.SetTick(1000);
        dialog.OpenFor(&server, fStorageLinked);
        dialog.Packet(&server, Dialog().Payload(3));
    }
    void Pass(uint32_t ms) {
        clock.SetTick(clock.Tick() + ms);
        dialog.RunTimers();
    }
    template <class T> T* Widget(size_t nIndex) {
        T* w = qobject_cast<T*>(dialog.ControlWidget(nIndex));
        EXPECT_NE(w, nullptr) << nIndex;
        return w;
    }

    int server = 0;
    ManualClock clock;
    Requests requests;
    RemotePropertyDialog dialog{requests, clock};
};

TEST_F(RemoteDialogTest, WidgetsByClassWhereAndAsDescribed) {
    Open();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.windowTitle(), "Cam");
    EXPECT_EQ(dialog.size(), QSize(300, 200));
    EXPECT_EQ(dialog.ControlWidget(0), nullptr); // the dialog is the window itself
    const std::pair<size_t, const char*> classes[] = {
        {1, "QTabBar"},   {2, "QWidget"},     {3, "QWidget"},   {4, "QLabel"},    {5, "QSlider"},
        {6, "QCheckBox"}, {7, "QPushButton"}, {8, "QComboBox"}, {9, "QLineEdit"}, {10, "QWidget"},
    };
    for (const auto& [i, cls] : classes) {
        ASSERT_NE(dialog.ControlWidget(i), nullptr) << i;
        EXPECT_STREQ(dialog.ControlWidget(i)->metaObject()->className(), cls) << i;
    }
    auto* slider = Widget<QSlider>(5);
    EXPECT_EQ(slider->parentWidget(), dialog.ControlWidget(2));
    EXPECT_EQ(slider->geometry(), QRect(70, 8, 30, 120));
    EXPECT_EQ(slider->orientation(), Qt::Vertical);
    EXPECT_EQ(slider->minimum(), -36000);
    EXPECT_EQ(slider->maximum(), 36000);
    EXPECT_EQ(slider->value(), 100);
    EXPECT_TRUE(Widget<QCheckBox>(6)->isChecked());
    EXPECT_FALSE(Widget<QPushButton>(7)->isEnabled());
    EXPECT_EQ(Widget<QComboBox>(8)->count(), 3);
    EXPECT_EQ(Widget<QComboBox>(8)->currentIndex(), 1);
    EXPECT_TRUE(Widget<QLineEdit>(9)->isReadOnly());
    EXPECT_EQ(Widget<QLineEdit>(9)->text(), "100");
    EXPECT_EQ(Widget<QLabel>(4)->text(), "Pan");
    EXPECT_FALSE(dialog.ControlWidget(2)->isHidden());
    EXPECT_TRUE(dialog.ControlWidget(3)->isHidden());
    EXPECT_EQ(Widget<QTabBar>(1)->currentIndex(), 0);
}

TEST_F(RemoteDialogTest, UserActionsMakeRequestsUpdatesDoNot) {
    Open();
    Pass(1000); // the described tab, selected as a click would
    ASSERT_EQ(requests.sent.size(), 1u);
    EXPECT_EQ(requests.sent[0].nKind, 5);
    requests.sent.clear();

    auto* tabs = Widget<QTabBar>(1);
    const struct {
        std::function<void()> act;
        uint32_t nSettle;
        int32_t nKind;
        uint32_t hWindow;
        int32_t nCode, nValue;
    } cases[] = {
        {[&] { QTest::mouseClick(Widget<QCheckBox>(6), Qt::LeftButton); }, 1000, 3, 7, 0, 0},
        {[&] { QTest::keyClick(Widget<QComboBox>(8), Qt::Key_Down); }, 1000, 4, 9, 1, 2},
        {[&] { QTest::keyClick(Widget<QSlider>(5), Qt::Key_PageUp); }, 2000, 6, 6, 3, 110},
        {[&] { QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center()); }, 1000, 5,
         2, -551, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nKind);
        requests.sent.clear();
        c.act();
        Pass(c.nSettle - 1);
        EXPECT_TRUE(requests.sent.empty());
        Pass(1);
        ASSERT_EQ(requests.sent.size(), 1u);
        EXPECT_EQ(requests.sent[0].nKind, c.nKind);
        EXPECT_EQ(requests.sent[0].hWindow, c.hWindow);
        EXPECT_EQ(requests.sent[0].nCode, c.nCode);
        EXPECT_EQ(requests.sent[0].nValue, c.nValue);
    }

    // The server's answer moves the widgets and asks nothing of it.
    requests.sent.clear();
    dialog.Packet(&server, UpdateOf(3, 1,
                                    {{{7, 6, SHOWN | 0x2u, 0, 500},
                                      {1, 7, SHOWN | 0x3u, 0, 0},
                                      {0, 3, CHILD, 0, 0},
                                      {0, 4, SHOWN, 0, 0},
                                      {3 | (1u << 16), 10, SHOWN | 0x800u, 0, 250}}}));
    Pass(5000);
    EXPECT_TRUE(requests.sent.empty());
    EXPECT_EQ(Widget<QSlider>(5)->value(), 500);
    EXPECT_FALSE(Widget<QCheckBox>(6)->isChecked());
    EXPECT_TRUE(dialog.ControlWidget(2)->isHidden());
    EXPECT_FALSE(dialog.ControlWidget(3)->isHidden());
    EXPECT_EQ(Widget<QLineEdit>(9)->text(), "25.0");
}

TEST_F(RemoteDialogTest, TakenSlotPutsTheClickBackAndClosesAfterTenSeconds) {
    Open();
    Pass(1000);
    requests.sent.clear();
    requests.fFree = false;
    QPointer<QCheckBox> box = Widget<QCheckBox>(6);
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_FALSE(box->isChecked()); // as clicked, for now
    Pass(9990);
    EXPECT_TRUE(dialog.isVisible());
    Pass(10);
    ASSERT_TRUE(box); // goes with the next turn of the event loop
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.Replica().IsOpen());
    EXPECT_TRUE(requests.sent.empty());
}

TEST_F(RemoteDialogTest, StorageLinkedServerCoversTheDialogUntilTheNextUpdate) {
    Open(true);
    EXPECT_FALSE(dialog.Covered());
    Pass(1000); // the tab request goes out
    EXPECT_TRUE(dialog.Covered());
    EXPECT_FALSE(Widget<QCheckBox>(6)->isEnabled());
    dialog.Packet(&server, UpdateOf(3, 1, {{{4, 2, SHOWN, 0, 0}}}));
    EXPECT_FALSE(dialog.Covered());
    EXPECT_TRUE(Widget<QCheckBox>(6)->isEnabled());
}

} // namespace
} // namespace brindle
