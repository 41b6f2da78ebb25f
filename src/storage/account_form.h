// The checks and the saving of the storage account dialog, without Qt: the
// dialog and the --set-storage / --delete-storage commands share them.
#pragma once

#include "storage/storage_account.h"

#include <cstdint>
#include <string>

namespace brindle {

inline constexpr uint32_t INTERVAL_MAX_SECONDS = 3600;
inline constexpr uint32_t WAKE_INTERVAL_MAX_MINUTES = 1440;

// What the user entered.
struct AccountForm {
    std::string cUri;
    int nKind = 2; // TLS kind of the selected item (1-5)
    std::string cUser;
    std::string cPasswd;
    std::string cPasswdAgain;
    int64_t nInterval = 5;
    int64_t nWaitInterval = 30; // server only
    int64_t nWakeInterval = 15; // server only
    bool fAnyCert = false;
    bool fServer = false; // the server's dialog checks the two server fields too
};

// The form filled from an existing account (password in both fields).
AccountForm FormOfAccount(StorageAccount& account, bool fServer);

// Every failed check, one line each ("\n"-ended), in the dialog's order;
// empty when the form may be saved.
std::string CheckAccountForm(const AccountForm& form);

// Saves a checked form: creates the account when the URI is new, otherwise
// waits until no upload or poll runs and replaces its settings; resets the
// authentication state; moves the URI to the top of the list. Returns 0 or
// the code of the failed write; `saved` receives the account.
uint32_t SaveAccountForm(AccountStore& store, const AccountForm& form, AccountPtr& saved);

// When the checks fail for an existing account, its Setup is reset so that
// the relay does not run on settings the user is changing.
void ResetSetupAfterFailedCheck(AccountStore& store, const AccountForm& form);

// Deletes the account of `uri` from memory, list and file. Refused with
// ERROR_SHARING_VIOLATION_CODE while an upload or poll runs or the account
// is in use; 0 otherwise (also when no account of that URI was loaded).
uint32_t DeleteAccount(AccountStore& store, const std::string& uri);

// "Delete" is offered for an existing account that is not in use.
bool CanDeleteAccount(AccountStore& store, const std::string& uri);

} // namespace brindle
