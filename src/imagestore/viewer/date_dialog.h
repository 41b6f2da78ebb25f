// The "go to date and time" dialog of the image viewer: six fields, and
// "表示" enabled only while they form a real date and time.
#pragma once

#include "platform/clock.h"

#include <QDialog>

#include <array>
#include <memory>

namespace Ui {
class DateDialog;
}

namespace brindle {

// The six fields (year, month, day, hour, minute, second) as a time:
// each must be a plain decimal number and together a real calendar date and
// time of day. Milliseconds come from `base`. False for anything else.
bool ParseDateFields(const std::array<QString, 6>& fields, const SystemTime& base,
                     SystemTime& result);

class DateDialog : public QDialog {
    Q_OBJECT

  public:
    // Starts from `target`; with a year of 0 the fields start empty. `nId`
    // is the dialog's id (132 or 136), kept in property "id".
    DateDialog(const SystemTime& target, int nId, QWidget* parent);
    ~DateDialog() override;

    // The time of the fields; valid while "表示" is enabled.
    SystemTime Chosen() const;

  private:
    std::array<QString, 6> Fields() const;
    void UpdateShowButton();

    std::unique_ptr<Ui::DateDialog> ui_;
    SystemTime target_;
};

} // namespace brindle
