// The storage account dialog offscreen: saving through its fields, the
// combined message of failed checks, showing and deleting an account, the
// interval fields kept in range while typing, the client's smaller form and
// the English texts.
#include "widgets/account_dialog.h"

#include "common/ini_file.h"
#include "support/temp_dir.h"
#include "widget_wait.h"
#include "widgets/translations.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace brindle {
namespace {

class AccountDialogTest : public ::testing::Test {
  protected:
    template <class T> static T* Child(AccountDialog& dialog, const char* name) {
        T* child = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    static void Type(AccountDialog& dialog, const char* name, const QString& text) {
        QLineEdit* edit = Child<QLineEdit>(dialog, name);
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    // Clicks OK and returns the text of the message box it shows (closing
    // it), or empty when none came.
    static QString ClickOk(AccountDialog& dialog) {
        QString shown;
        QTimer poll; // ends with the call, also when no box came
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box && box->isVisible()) {
                    shown = box->text();
                    box->close();
                }
            }
        });
        poll.start();
        QTimer::singleShot(0, Child<QPushButton>(dialog, "ok"), &QPushButton::click);
        test::WaitWithEvents([&] { return !shown.isEmpty() || dialog.result() != 0; }, 10000);
        return shown;
    }
    std::string Key(const std::string& section, const char* key) {
        std::string value;
        IniReadKey(store_.SettingsFile(), section, key, value);
        return value;
    }

    test::TempDir dir_;
    AccountStore store_{dir_.File("BrindleHost.ini")};
};

TEST_F(AccountDialogTest, OkSavesTheFieldsThroughTheModel) {
    AccountDialog dialog(store_, true, nullptr);
    dialog.show();
    Child<QComboBox>(dialog, "uri")->setEditText(QStringLiteral("https://dav.example:8443/relay"));
    Child<QComboBox>(dialog, "kind")->setCurrentIndex(3); // TLSv1.2
    Child<QCheckBox>(dialog, "anyCert")->setChecked(true);
    Type(dialog, "user", QStringLiteral("alice"));
    Type(dialog, "passwd", QStringLiteral("pw"));
    Type(dialog, "passwdAgain", QStringLiteral("pw"));
    Type(dialog, "waitInterval", QStringLiteral("45"));
    EXPECT_EQ(ClickOk(dialog), QString());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_NE(dialog.Saved(), nullptr);
    const std::string uri = "https://dav.example:8443/relay";
    EXPECT_EQ(dialog.Saved()->cUri, uri);
    EXPECT_EQ(Key("WebDAV", "URI"), uri);
    EXPECT_EQ(Key(uri, "SSL"), "5");
    EXPECT_EQ(Key(uri, "AnyCert"), "1");
    EXPECT_EQ(Key(uri, "User"), "alice");
    EXPECT_EQ(Key(uri, "Interval"), "5");
    EXPECT_EQ(Key(uri, "WaitInterval"), "45");
}

TEST_F(AccountDialogTest, FailedChecksShowOneMessageAndResetSetup) {
    const std::string uri = "http://dav.example/relay";
    AccountForm form;
    form.cUri = uri;
    form.cUser = "alice";
    form.cPasswd = form.cPasswdAgain = "pw";
    AccountPtr account;
    ASSERT_EQ(SaveAccountForm(store_, form, account), 0u);
    ASSERT_EQ(Key(uri, "Setup"), "1");

    AccountDialog dialog(store_, true, account);
    dialog.show();
    Child<QLineEdit>(dialog, "user")->clear();
    Type(dialog, "passwdAgain", QStringLiteral("other"));
    EXPECT_EQ(ClickOk(dialog), QStringLiteral("ユーザ名が入力されていません!\n"
                                              "パスワードの入力が一致しません!\n"));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Saved(), nullptr);
    EXPECT_EQ(Key(uri, "User"), "alice");
    EXPECT_EQ(Key(uri, "Setup"), "0");
}

TEST_F(AccountDialogTest, SelectingShowsAnAccountAndDeleteRemovesIt) {
    AccountPtr a, b;
    AccountForm form;
    form.cUri = "http://one.example/dav";
    form.nKind = 4;
    form.cUser = "one";
    form.cPasswd = form.cPasswdAgain = "pw1";
    ASSERT_EQ(SaveAccountForm(store_, form, a), 0u);
    form.cUri = "https://two.example/dav";
    form.nKind = 2;
    form.cUser = "two";
    form.cPasswd = form.cPasswdAgain = "pw2";
    form.nInterval = 9;
    ASSERT_EQ(SaveAccountForm(store_, form, b), 0u);

    AccountDialog dialog(store_, true, nullptr);
    dialog.show();
    auto* uri = Child<QComboBox>(dialog, "uri");
    auto* remove = Child<QPushButton>(dialog, "remove");
    ASSERT_EQ(uri->count(), 2);
    EXPECT_EQ(uri->currentText(), QStringLiteral("https://two.example/dav")); // last saved first
    EXPECT_EQ(Child<QLineEdit>(dialog, "interval")->text(), QStringLiteral("9"));
    uri->setCurrentIndex(1);
    EXPECT_EQ(Child<QLineEdit>(dialog, "user")->text(), QStringLiteral("one"));
    EXPECT_EQ(Child<QLineEdit>(dialog, "passwdAgain")->text(), QStringLiteral("pw1"));
    EXPECT_EQ(Child<QComboBox>(dialog, "kind")->currentText(), QStringLiteral("TLSv1.1"));
    EXPECT_TRUE(remove->isEnabled());

    store_.SetInUse(*a, 1);
    uri->setEditText(QStringLiteral("http://new.example/"));
    EXPECT_FALSE(remove->isEnabled());
    uri->setEditText(QStringLiteral("http://one.example/dav"));
    EXPECT_FALSE(remove->isEnabled()); // in use
    store_.SetInUse(*a, 0);
    uri->setEditText(QStringLiteral("https://two.example/dav"));
    ASSERT_TRUE(remove->isEnabled());
    remove->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(uri->currentText(), QString());
    EXPECT_EQ(Child<QLineEdit>(dialog, "user")->text(), QString());
    EXPECT_EQ(uri->count(), 1);
    EXPECT_EQ(Key("WebDAV", "URI"), "http://one.example/dav");
    EXPECT_EQ(Key("https://two.example/dav", "User"), "");
}

TEST_F(AccountDialogTest, IntervalsStayInRangeWhileTyping) {
    const struct {
        const char* typed;
        int nMax;
        const char* kept;
    } cases[] = {
        {"30", 3600, "30"},
        {"3601", 3600, "3600"},
        {"1441", 1440, "1440"},
        {"0", 3600, "1"},
        {"", 3600, "1"},
        {"-5", 3600, "1"},
        {"99999999999999999999", 3600, "3600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(AccountDialog::KeepIntervalInRange(QString::fromLatin1(c.typed), c.nMax),
                  QString::fromLatin1(c.kept));
    }
    AccountDialog dialog(store_, true, nullptr);
    dialog.show();
    Type(dialog, "wakeInterval", QStringLiteral("5000"));
    EXPECT_EQ(Child<QLineEdit>(dialog, "wakeInterval")->text(), QStringLiteral("1440"));
    QLineEdit* interval = Child<QLineEdit>(dialog, "interval");
    interval->selectAll();
    QTest::keyClick(interval, Qt::Key_Backspace);
    EXPECT_EQ(interval->text(), QStringLiteral("1"));
}

TEST_F(AccountDialogTest, ClientFormAndEnglishTexts) {
    QApplication& app = *qobject_cast<QApplication*>(QCoreApplication::instance());
    ASSERT_TRUE(InstallTranslations(app, QLocale(QLocale::English, QLocale::UnitedStates)));
    {
        AccountDialog dialog(store_, false, nullptr);
        dialog.show();
        EXPECT_FALSE(Child<QLineEdit>(dialog, "waitInterval")->isVisible());
        EXPECT_FALSE(Child<QLineEdit>(dialog, "wakeInterval")->isVisible());
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Online storage settings"));
        Child<QComboBox>(dialog, "uri")->setEditText(QStringLiteral("dav.example"));
        Type(dialog, "user", QStringLiteral("alice"));
        Type(dialog, "passwd", QStringLiteral("pw"));
        Type(dialog, "passwdAgain", QStringLiteral("pw"));
        Child<QLineEdit>(dialog, "waitInterval")->setText(QStringLiteral("0")); // not checked
        EXPECT_EQ(ClickOk(dialog), QStringLiteral("The URI lacks http:// or https://!\n"));
    }
    InstallTranslations(app, QLocale(QLocale::Japanese, QLocale::Japan));
    AccountDialog dialog(store_, false, nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("オンラインストレージの設定"));
}

} // namespace
} // namespace brindle
