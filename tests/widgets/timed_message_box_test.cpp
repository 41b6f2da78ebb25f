#include "widgets/timed_message_box.h"

#include "widget_wait.h"

#include <QAbstractButton>
#include <QTest>

#include <gtest/gtest.h>

namespace brindle {
namespace {

bool AnyMessageBoxLeft() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(widget))
            return true;
    }
    return false;
}

// Nobody answers: the box closes itself with 32000 and leaves nothing behind.
TEST(TimedMessageBox, ClosesItselfAtTheLimit) {
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool fOnTop = false;
    test::OnMessageBoxShown([&](QMessageBox& box) {
        title = box.windowTitle();
        icon = box.icon();
        fOnTop = box.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    });
    TimedMessageBoxOptions options;
    options.caption = QStringLiteral("Brindle View");
    EXPECT_EQ(TimedMessageBox(options, nullptr, QStringLiteral("text"), 100), TIMED_OUT_RESULT);
    EXPECT_EQ(title, QStringLiteral("Brindle View"));
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_TRUE(fOnTop);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(AnyMessageBoxLeft());
}

struct ClickCase {
    const char* name;
    QMessageBox::StandardButtons buttons;
    std::vector<ControlChange> changes;
    QMessageBox::StandardButton press;
    int nExpected;
};

// The pressed button answers with its id, or with the id a change gave it.
TEST(TimedMessageBox, ReturnsTheIdOfThePressedButton) {
    const ClickCase cases[] = {
        {"ok", QMessageBox::Ok, {}, QMessageBox::Ok, IDOK},
        {"cancel", QMessageBox::Ok | QMessageBox::Cancel, {}, QMessageBox::Cancel, IDCANCEL},
        {"yes", QMessageBox::Yes | QMessageBox::No, {}, QMessageBox::Yes, IDYES},
        {"no", QMessageBox::Yes | QMessageBox::No, {}, QMessageBox::No, IDNO},
        {"ok answers as cancel",
         QMessageBox::Ok,
         {{IDOK, IDCANCEL, 0, {}}},
         QMessageBox::Ok,
         IDCANCEL},
        {"list ends at id 0",
         QMessageBox::Yes | QMessageBox::No,
         {{IDYES, IDOK, 0, {}}, {0, 0, 0, {}}, {IDNO, IDOK, 0, {}}},
         QMessageBox::No,
         IDNO},
    };
    for (const ClickCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::OnMessageBoxShown(
            [&](QMessageBox& box) { QTest::mouseClick(box.button(c.press), Qt::LeftButton); });
        TimedMessageBoxOptions options{QStringLiteral("Brindle Host"), c.buttons, c.changes};
        EXPECT_EQ(TimedMessageBox(options, nullptr, QStringLiteral("?"), 600000), c.nExpected);
    }
}

// A change renames and disables a button; a click on it does nothing.
TEST(TimedMessageBox, ChangesRenameAndDisableButtons) {
    QString text;
    test::OnMessageBoxShown([&](QMessageBox& box) {
        QAbstractButton* yes = box.button(QMessageBox::Yes);
        text = yes->text();
        EXPECT_FALSE(yes->isEnabled());
        QTest::mouseClick(yes, Qt::LeftButton);
        QTest::mouseClick(box.button(QMessageBox::No), Qt::LeftButton);
    });
    TimedMessageBoxOptions options{QStringLiteral("Brindle Host"),
                                   QMessageBox::Yes | QMessageBox::No,
                                   {{IDYES, 0, CONTROL_DISABLE, QStringLiteral("続行")}}};
    EXPECT_EQ(TimedMessageBox(options, nullptr, QStringLiteral("?"), 600000), IDNO);
    EXPECT_EQ(text, QStringLiteral("続行"));
}

// The owner goes away while the box waits (the program closing): no crash,
// the box goes with it.
TEST(TimedMessageBox, SurvivesItsOwnerClosing) {
    auto* owner = new QWidget;
    test::OnMessageBoxShown([owner](QMessageBox&) { delete owner; });
    TimedMessageBoxOptions options;
    options.caption = QStringLiteral("Brindle Host");
    EXPECT_EQ(TimedMessageBox(options, owner, QStringLiteral("?"), 600000), IDCANCEL);
}

} // namespace
} // namespace brindle
