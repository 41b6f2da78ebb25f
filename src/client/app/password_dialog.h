// The password dialog (131): two masked fields that must agree.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

namespace Ui {
class PasswordDialog;
}

namespace brindle {

// The password field takes at most this many bytes of UTF-8; a longer text
// is cut at a character boundary.
inline constexpr int PASSWORD_FIELD_MAX_BYTES = 255;

class PasswordDialog : public QDialog {
    Q_OBJECT

  public:
    // fPlain shows the fields unmasked (bit value 4 of "Debug").
    PasswordDialog(const std::string& cAddress, const std::string& cPassword, bool fPlain,
                   QWidget* parent = nullptr);
    ~PasswordDialog() override;

    std::string Password() const;
    QWidget* Control(int id) const;

    // OK with differing texts shows the mismatch box and keeps the dialog.
    void accept() override;

  private:
    void FieldsChanged();

    std::unique_ptr<Ui::PasswordDialog> ui_;
};

// The mismatch box of the password dialog, captioned "Brindle View".
QString PasswordMismatchText();

} // namespace brindle
