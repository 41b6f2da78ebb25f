#include "widgets/account_dialog.h"

#include "ui_account_dialog.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QStringList>

namespace brindle {

namespace {

// The check messages of the form model and the texts set in code, for the
// translation.
[[maybe_unused]] const char* const kTexts[] = {
    QT_TRANSLATE_NOOP("AccountDialog", "ストレージ読み出し間隔"),
    QT_TRANSLATE_NOOP("AccountDialog", "オンラインストレージ設定を保存できません(0x%1)"),
    QT_TRANSLATE_NOOP("AccountDialog", "URIにhttp://またはhttps://がありません!"),
    QT_TRANSLATE_NOOP("AccountDialog", "URIが正しくありません!"),
    QT_TRANSLATE_NOOP("AccountDialog", "ユーザ名が入力されていません!"),
    QT_TRANSLATE_NOOP("AccountDialog", "ユーザ名が正しくありません!"),
    QT_TRANSLATE_NOOP("AccountDialog", "パスワードが入力されていません!"),
    QT_TRANSLATE_NOOP("AccountDialog", "パスワードの入力が一致しません!"),
    QT_TRANSLATE_NOOP("AccountDialog", "パスワードが正しくありません!"),
    QT_TRANSLATE_NOOP("AccountDialog", "接続時ストレージ読み出し間隔が正しくありません!"),
    QT_TRANSLATE_NOOP("AccountDialog", "待機時ストレージ読み出し間隔が正しくありません!"),
    QT_TRANSLATE_NOOP("AccountDialog", "ストレージ確認サスペンド復帰間隔が正しくありません!"),
};

// The encryption list of a library that negotiates: the first item lets
// client and server agree on the version, the others fix one.
constexpr int kNegotiateIndex = 0;

// The form's texts share the context of the form file.
QString Text(const char* source) {
    return QCoreApplication::translate("AccountDialog", source);
}

int64_t FieldNumber(const QString& text) {
    bool fOk = false;
    qlonglong n = text.trimmed().toLongLong(&fOk);
    return fOk ? n : 0;
}

} // namespace

AccountDialog::AccountDialog(AccountStore& store, bool fServer, AccountPtr selected,
                             QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AccountDialog>()), store_(store),
      fServer_(fServer) {
    ui_->setupUi(this);
    ui_->kind->addItem(QStringLiteral("TLS (SSLv3,TLSv11/1,1/2.0)"), 2);
    ui_->kind->addItem(QStringLiteral("TLSv1.0"), 3);
    ui_->kind->addItem(QStringLiteral("TLSv1.1"), 4);
    ui_->kind->addItem(QStringLiteral("TLSv1.2"), 5);
    if (!fServer_) {
        ui_->intervalLabel->setText(Text("ストレージ読み出し間隔"));
        for (QWidget* w : {static_cast<QWidget*>(ui_->waitIntervalLabel),
                           static_cast<QWidget*>(ui_->waitInterval),
                           static_cast<QWidget*>(ui_->waitIntervalUnit),
                           static_cast<QWidget*>(ui_->wakeIntervalLabel),
                           static_cast<QWidget*>(ui_->wakeInterval),
                           static_cast<QWidget*>(ui_->wakeIntervalUnit)})
            w->hide();
    }
    const std::pair<QLineEdit*, int> intervals[] = {
        {ui_->interval, static_cast<int>(INTERVAL_MAX_SECONDS)},
        {ui_->waitInterval, static_cast<int>(INTERVAL_MAX_SECONDS)},
        {ui_->wakeInterval, static_cast<int>(WAKE_INTERVAL_MAX_MINUTES)},
    };
    for (auto [edit, nMax] : intervals) {
        connect(edit, &QLineEdit::textEdited, this, [edit, nMax](const QString& text) {
            QString kept = KeepIntervalInRange(text, nMax);
            if (kept != text)
                edit->setText(kept);
        });
    }
    if (parent)
        setWindowIcon(parent->windowIcon());

    store_.LoadAccounts();
    FillUriList();
    QString first = selected ? QString::fromStdString(selected->cUri)
                             : (ui_->uri->count() > 0 ? ui_->uri->itemText(0) : QString());
    ui_->uri->setEditText(first);
    ShowAccount(first);
    connect(ui_->uri, &QComboBox::currentTextChanged, this, &AccountDialog::ShowAccount);
    connect(ui_->ok, &QPushButton::clicked, this, &AccountDialog::Accept);
    connect(ui_->remove, &QPushButton::clicked, this, &AccountDialog::Delete);
    connect(ui_->cancel, &QPushButton::clicked, this, &QDialog::reject);
}

AccountDialog::~AccountDialog() = default;

QString AccountDialog::KeepIntervalInRange(const QString& text, int nMax) {
    bool fOk = false;
    qlonglong n = text.trimmed().toLongLong(&fOk);
    if (fOk && n > nMax)
        return QString::number(nMax);
    if (!fOk && !text.trimmed().isEmpty()) {
        // Digits beyond what a number holds are above any maximum.
        bool fDigits = true;
        for (QChar c : text.trimmed())
            fDigits = fDigits && c.isDigit();
        if (fDigits)
            return QString::number(nMax);
    }
    if (!fOk || n < 1)
        return QStringLiteral("1");
    return text;
}

void AccountDialog::FillUriList() {
    QSignalBlocker block(ui_->uri);
    QString text = ui_->uri->currentText();
    ui_->uri->clear();
    for (const std::string& uri : store_.UriList())
        ui_->uri->addItem(QString::fromStdString(uri));
    ui_->uri->setEditText(text);
}

void AccountDialog::SetKind(int nKind) {
    // Kinds outside the list are shown brought into range; both
    // negotiating kinds show the first item, which keeps the stored one.
    nKind = nKind < 0 ? -nKind : nKind;
    if (nKind <= 2) {
        ui_->kind->setItemData(kNegotiateIndex, nKind == 1 ? 1 : 2);
        ui_->kind->setCurrentIndex(kNegotiateIndex);
    } else {
        ui_->kind->setCurrentIndex(ui_->kind->findData(nKind > 5 ? 5 : nKind));
    }
}

void AccountDialog::ShowAccount(const QString& uri) {
    AccountPtr account = store_.Find(uri.toStdString());
    ui_->remove->setEnabled(account && CanDeleteAccount(store_, account->cUri));
    AccountForm form;
    if (!account) {
        if (ui_->interval->text().isEmpty()) {
            SetKind(form.nKind);
            ui_->interval->setText(QString::number(form.nInterval));
            ui_->waitInterval->setText(QString::number(form.nWaitInterval));
            ui_->wakeInterval->setText(QString::number(form.nWakeInterval));
        }
        return;
    }
    form = FormOfAccount(*account, fServer_);
    ui_->user->setText(QString::fromStdString(form.cUser));
    ui_->passwd->setText(QString::fromStdString(form.cPasswd));
    ui_->passwdAgain->setText(QString::fromStdString(form.cPasswdAgain));
    ui_->interval->setText(QString::number(form.nInterval));
    ui_->waitInterval->setText(QString::number(form.nWaitInterval));
    ui_->wakeInterval->setText(QString::number(form.nWakeInterval));
    ui_->anyCert->setChecked(form.fAnyCert);
    SetKind(form.nKind);
}

AccountForm AccountDialog::Form() const {
    AccountForm form;
    form.cUri = ui_->uri->currentText().toStdString();
    form.nKind = ui_->kind->currentData().toInt();
    form.cUser = ui_->user->text().toStdString();
    form.cPasswd = ui_->passwd->text().toStdString();
    form.cPasswdAgain = ui_->passwdAgain->text().toStdString();
    form.nInterval = FieldNumber(ui_->interval->text());
    form.nWaitInterval = FieldNumber(ui_->waitInterval->text());
    form.nWakeInterval = FieldNumber(ui_->wakeInterval->text());
    form.fAnyCert = ui_->anyCert->isChecked();
    form.fServer = fServer_;
    return form;
}

void AccountDialog::Accept() {
    AccountForm form = Form();
    std::string failed = CheckAccountForm(form);
    if (!failed.empty()) {
        QString message;
        for (const QString& line : QString::fromStdString(failed).split(QLatin1Char('\n'))) {
            if (!line.isEmpty())
                message += Text(line.toUtf8().constData()) + QLatin1Char('\n');
        }
        ResetSetupAfterFailedCheck(store_, form);
        QMessageBox::question(this, QGuiApplication::applicationDisplayName(), message,
                              QMessageBox::StandardButtons(QMessageBox::Ok));
        return;
    }
    AccountPtr account;
    if (uint32_t e = SaveAccountForm(store_, form, account); e != 0) {
        QMessageBox::critical(
            this, QGuiApplication::applicationDisplayName(),
            Text("オンラインストレージ設定を保存できません(0x%1)")
                .arg(QString::number(e, 16).toUpper().rightJustified(8, QLatin1Char('0'))));
        return;
    }
    saved_ = account;
    accept();
}

void AccountDialog::Delete() {
    std::string uri = ui_->uri->currentText().toStdString();
    if (!store_.Find(uri) || DeleteAccount(store_, uri) != 0)
        return;
    {
        QSignalBlocker block(ui_->uri);
        ui_->uri->setEditText(QString());
    }
    FillUriList();
    ui_->user->clear();
    ui_->passwd->clear();
    ui_->passwdAgain->clear();
    ui_->remove->setEnabled(false);
}

} // namespace brindle
