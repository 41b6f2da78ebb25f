#include "storage/account_form.h"

#include "common/ini_file.h"
#include "common/list_text.h"
#include "protocol/scrambler.h"

#include <cstdlib>

namespace brindle {

AccountForm FormOfAccount(StorageAccount& account, bool fServer) {
    std::lock_guard lock(account.lock);
    AccountForm form;
    form.cUri = account.cUri;
    form.nKind = std::abs(account.nSsl);
    form.nKind = form.nKind < 1 ? 1 : (form.nKind > 5 ? 5 : form.nKind);
    form.cUser = account.cUser;
    form.cPasswd = form.cPasswdAgain = account.cPasswd;
    form.nInterval = account.nInterval;
    form.nWaitInterval = account.nWaitInterval;
    form.nWakeInterval = account.nWakeInterval;
    form.fAnyCert = account.nAnyCert == 1;
    form.fServer = fServer;
    return form;
}

namespace {

bool HasControl(std::string_view text) {
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F)
            return true;
    }
    return false;
}

} // namespace

std::string CheckAccountForm(const AccountForm& form) {
    std::string message;
    UriParts parts;
    if (!HasHttpScheme(form.cUri))
        message += "URIにhttp://またはhttps://がありません!\n";
    else if (!SplitStorageUri(form.cUri, parts))
        message += "URIが正しくありません!\n";
    if (form.cUser.empty())
        message += "ユーザ名が入力されていません!\n";
    else if (HasControl(form.cUser) || form.cUser.find(':') != std::string::npos ||
             form.cUser.size() > ACCOUNT_USER_MAX)
        message += "ユーザ名が正しくありません!\n";
    if (form.cPasswd.empty() && form.cPasswdAgain.empty())
        message += "パスワードが入力されていません!\n";
    else if (form.cPasswd != form.cPasswdAgain)
        message += "パスワードの入力が一致しません!\n";
    else if (HasControl(form.cPasswd) || form.cPasswd.size() > ACCOUNT_USER_MAX)
        message += "パスワードが正しくありません!\n";
    auto outside = [](int64_t n, int64_t nMax) { return n < 1 || n > nMax; };
    if (outside(form.nInterval, INTERVAL_MAX_SECONDS))
        message += "接続時ストレージ読み出し間隔が正しくありません!\n";
    if (form.fServer && outside(form.nWaitInterval, INTERVAL_MAX_SECONDS))
        message += "待機時ストレージ読み出し間隔が正しくありません!\n";
    if (form.fServer && outside(form.nWakeInterval, WAKE_INTERVAL_MAX_MINUTES))
        message += "ストレージ確認サスペンド復帰間隔が正しくありません!\n";
    return message;
}

void ResetSetupAfterFailedCheck(AccountStore& store, const AccountForm& form) {
    AccountPtr account = store.Find(form.cUri);
    if (!account)
        return;
    std::lock_guard lock(account->lock);
    if (account->nSetup != 0) {
        account->nSetup = 0;
        SaveAccountNumber(*account, "Setup", 0);
    }
}

namespace {

uint32_t StoreForm(StorageAccount& account, const AccountForm& form) {
    UriParts parts;
    bool fHttp = !(SplitStorageUri(account.cUri, parts) && parts.fHttps);
    for (TlsContext& slot : account.tls)
        slot.reset();
    account.cUser = form.cUser;
    account.cPasswd = form.cPasswd;
    account.nInterval = static_cast<uint32_t>(form.nInterval);
    if (form.fServer) {
        account.nWaitInterval = static_cast<uint32_t>(form.nWaitInterval);
        account.nWakeInterval = static_cast<uint32_t>(form.nWakeInterval);
    }
    account.nSsl = fHttp ? -form.nKind : form.nKind;
    account.nAnyCert = form.fAnyCert ? 1 : 0;
    account.nAuth = AUTH_BASIC;
    account.nSetup = 1;
    account.cRealm.clear();
    account.cNonce.clear();
    account.cAlgorithm.clear();
    account.cQop.clear();
    account.nNc = 0;
    account.cTicket.clear();
    account.cCookieLine.clear();
    uint32_t e = SaveDigestState(account);
    const std::pair<const char*, std::string> texts[] = {
        {"SSL", std::to_string(account.nSsl)},
        {"User", account.cUser},
        {"Passwd", SecretToText(account.cPasswd)},
        {"Interval", std::to_string(account.nInterval)},
        {"WaitInterval", std::to_string(account.nWaitInterval)},
        {"WakeInterval", std::to_string(account.nWakeInterval)},
        {"AnyCert", std::to_string(account.nAnyCert)},
        {"Setup", std::to_string(account.nSetup)},
    };
    for (const auto& [pcKey, value] : texts)
        e = e ? e : SaveAccountKey(account, pcKey, value);
    BasicLine(account);
    return e;
}

} // namespace

uint32_t SaveAccountForm(AccountStore& store, const AccountForm& form, AccountPtr& saved) {
    store.LoadAccounts();
    AccountPtr account = store.Find(form.cUri);
    if (!account) {
        account = store.CreateAccount(form.cUri);
        if (!account)
            return ERROR_INVALID_PARAMETER_CODE;
        std::lock_guard lock(account->lock);
        ReadAccountValues(*account); // SendNo and RecvTimeout keep their stored values
    }
    uint32_t e = 0;
    {
        // The relay's uploads and polls use the TLS contexts and the
        // credentials: wait until none runs.
        std::unique_lock lock(account->lock);
        account->idle.wait(lock, [&] { return account->nBusy == 0; });
        e = StoreForm(*account, form);
    }
    std::vector<std::string> uris = store.UriList();
    ListAddTop(uris, account->cUri);
    uint32_t eList = store.SaveUriList(uris);
    saved = account;
    return e ? e : eList;
}

bool CanDeleteAccount(AccountStore& store, const std::string& uri) {
    store.LoadAccounts();
    AccountPtr account = store.Find(uri);
    if (!account)
        return false;
    std::lock_guard lock(account->lock);
    return account->nBusy == 0 && account->nInuse == 0;
}

uint32_t DeleteAccount(AccountStore& store, const std::string& uri) {
    store.LoadAccounts();
    if (AccountPtr account = store.Find(uri)) {
        std::lock_guard lock(account->lock);
        if (account->nBusy != 0 || account->nInuse != 0)
            return ERROR_SHARING_VIOLATION_CODE;
        store.FreeAccount(account);
    }
    std::vector<std::string> uris = store.UriList();
    ListRemove(uris, uri);
    uint32_t e = store.SaveUriList(uris);
    uint32_t eSection = IniDeleteSection(store.SettingsFile(), uri);
    return e ? e : eSection;
}

} // namespace brindle
