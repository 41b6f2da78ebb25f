#include "client/app/password_dialog.h"

#include "ui_password_dialog.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace brindle {

namespace {

// Cuts the field's text to PASSWORD_FIELD_MAX_BYTES bytes of UTF-8 without
// splitting a character.
void LimitBytes(QLineEdit* edit) {
    QString text = edit->text();
    if (text.toUtf8().size() <= PASSWORD_FIELD_MAX_BYTES)
        return;
    while (!text.isEmpty() && text.toUtf8().size() > PASSWORD_FIELD_MAX_BYTES)
        text.chop(text.size() >= 2 && text.at(text.size() - 1).isLowSurrogate() ? 2 : 1);
    const QSignalBlocker block(edit);
    edit->setText(text);
}

} // namespace

QString PasswordMismatchText() {
    return QCoreApplication::translate("PasswordDialog", "パスワードの入力が一致しません!");
}

PasswordDialog::PasswordDialog(const std::string& cAddress, const std::string& cPassword,
                               bool fPlain, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::PasswordDialog>()) {
    ui_->setupUi(this);
    setWindowTitle(QCoreApplication::translate("PasswordDialog", "パスワードの入力 - %1").arg(QString::fromStdString(cAddress)));
    const QString known = QString::fromStdString(cPassword);
    for (QLineEdit* edit : {ui_->passwordEdit, ui_->confirmEdit}) {
        edit->setEchoMode(fPlain ? QLineEdit::Normal : QLineEdit::Password);
        edit->setText(known);
        LimitBytes(edit);
        connect(edit, &QLineEdit::textChanged, this, [this, edit] {
            LimitBytes(edit);
            FieldsChanged();
        });
    }
    connect(ui_->buttons, &QDialogButtonBox::accepted, this, &PasswordDialog::accept);
    connect(ui_->buttons, &QDialogButtonBox::rejected, this, &PasswordDialog::reject);
    FieldsChanged();
    if (parent != nullptr) {
        adjustSize();
        move(parent->geometry().center() - rect().center());
    }
}

PasswordDialog::~PasswordDialog() = default;

std::string PasswordDialog::Password() const {
    return ui_->passwordEdit->text().toStdString();
}

QWidget* PasswordDialog::Control(int id) const {
    for (QWidget* w : findChildren<QWidget*>())
        if (w->property("id").toInt() == id)
            return w;
    if (id == 1)
        return ui_->buttons->button(QDialogButtonBox::Ok);
    if (id == 2)
        return ui_->buttons->button(QDialogButtonBox::Cancel);
    return nullptr;
}

void PasswordDialog::FieldsChanged() {
    ui_->buttons->button(QDialogButtonBox::Ok)
        ->setEnabled(ui_->passwordEdit->text() == ui_->confirmEdit->text());
}

void PasswordDialog::accept() {
    if (ui_->passwordEdit->text() != ui_->confirmEdit->text()) {
        auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Brindle View"),
                                    PasswordMismatchText(), QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setObjectName(QStringLiteral("mismatchBox"));
        box->open();
        return;
    }
    QDialog::accept();
}

} // namespace brindle
