#include "imagestore/viewer/date_dialog.h"

#include "imagestore/image_path.h"
#include "ui_date_dialog.h"

#include <QPushButton>

namespace brindle {

namespace {

bool ParseField(const QString& text, uint16_t& value) {
    if (text.isEmpty() || text.size() > 4)
        return false;
    unsigned n = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        n = n * 10 + static_cast<unsigned>(c.unicode() - u'0');
    }
    value = static_cast<uint16_t>(n);
    return true;
}

} // namespace

bool ParseDateFields(const std::array<QString, 6>& fields, const SystemTime& base,
                     SystemTime& result) {
    SystemTime st{};
    uint16_t* const parts[6] = {&st.wYear, &st.wMonth,  &st.wDay,
                                &st.wHour, &st.wMinute, &st.wSecond};
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!ParseField(fields[i].trimmed(), *parts[i]))
            return false;
    }
    st.wMilliseconds = base.wMilliseconds < 1000 ? base.wMilliseconds : 0;
    if (!IsValidTime(st))
        return false;
    result = st;
    return true;
}

DateDialog::DateDialog(const SystemTime& target, int nId, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::DateDialog>()), target_(target) {
    ui_->setupUi(this);
    setProperty("id", nId);
    if (target.wYear != 0) {
        ui_->year->setText(QString::number(target.wYear));
        ui_->month->setText(QString::number(target.wMonth));
        ui_->day->setText(QString::number(target.wDay));
        ui_->hour->setText(QString::number(target.wHour));
        ui_->minute->setText(QString::number(target.wMinute));
        ui_->second->setText(QString::number(target.wSecond));
    }
    for (QLineEdit* edit : {ui_->year, ui_->month, ui_->day, ui_->hour, ui_->minute, ui_->second})
        connect(edit, &QLineEdit::textChanged, this, &DateDialog::UpdateShowButton);
    connect(ui_->show, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancel, &QPushButton::clicked, this, &QDialog::reject);
    UpdateShowButton();
    if (parent != nullptr) {
        adjustSize();
        move(parent->frameGeometry().center() - rect().center());
    }
}

DateDialog::~DateDialog() = default;

std::array<QString, 6> DateDialog::Fields() const {
    return {ui_->year->text(), ui_->month->text(),  ui_->day->text(),
            ui_->hour->text(), ui_->minute->text(), ui_->second->text()};
}

void DateDialog::UpdateShowButton() {
    SystemTime st;
    ui_->show->setEnabled(ParseDateFields(Fields(), target_, st));
}

SystemTime DateDialog::Chosen() const {
    SystemTime st = target_;
    ParseDateFields(Fields(), target_, st);
    return st;
}

} // namespace brindle
