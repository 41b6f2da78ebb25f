// The online storage account dialog: adds, changes and deletes the accounts
// of an AccountStore. Its checks and saving are the Qt-free AccountForm
// model that --set-storage uses too. The client's dialog hides the two
// server-only intervals.
#pragma once

#include "storage/account_form.h"

#include <QDialog>
#include <memory>

namespace Ui {
class AccountDialog;
}

namespace brindle {

class AccountDialog : public QDialog {
    Q_OBJECT

  public:
    // `selected`: the account shown first (null: the first of the list).
    AccountDialog(AccountStore& store, bool fServer, AccountPtr selected,
                  QWidget* parent = nullptr);
    ~AccountDialog() override;

    // The account saved by OK (null after Cancel).
    AccountPtr Saved() const { return saved_; }

    // What the fields hold now.
    AccountForm Form() const;

    // An interval field's text as typing leaves it: above `nMax` becomes
    // nMax, empty or not positive becomes 1.
    static QString KeepIntervalInRange(const QString& text, int nMax);

  private:
    void FillUriList();
    void ShowAccount(const QString& uri);
    void SetKind(int nKind);
    void Accept();
    void Delete();

    std::unique_ptr<Ui::AccountDialog> ui_;
    AccountStore& store_;
    bool fServer_;
    AccountPtr saved_;
};

} // namespace brindle
