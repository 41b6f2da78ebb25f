#include "storage/storage_account.h"

#include "common/ascii.h"
#include "common/base64.h"
#include "common/ini_file.h"
#include "common/list_text.h"
#include "common/text_utils.h"
#include "protocol/scrambler.h"
#include "storage/http_text.h"

#include <cstdio>

namespace brindle {

namespace {

constexpr const char* kListSection = "WebDAV";
constexpr const char* kListKey = "URI";

bool HasControlOrBlank(std::string_view text) {
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F)
            return true;
    }
    return false;
}

uint32_t ReadNumber(const StorageAccount& account, const char* pcKey, uint32_t nDefault,
                    bool fHex = false) {
    std::string value;
    if (IniReadKey(account.cSettingsFile, account.cUri, pcKey, value) != 0 || value.empty())
        return nDefault;
    char* end = nullptr;
    long long n = std::strtoll(value.c_str(), &end, fHex ? 16 : 10);
    return end == value.c_str() ? nDefault : static_cast<uint32_t>(n);
}

void ReadText(const StorageAccount& account, const char* pcKey, std::string& out, size_t nMax) {
    std::string value;
    if (IniReadKey(account.cSettingsFile, account.cUri, pcKey, value) == 0)
        out = value.substr(0, Utf8FitLength(value, nMax));
}

} // namespace

bool HasHttpScheme(std::string_view uri) {
    auto starts = [&](std::string_view p) {
        return uri.size() >= p.size() && EqualNoCase(uri.substr(0, p.size()), p);
    };
    return uri.find("://") != std::string_view::npos && (starts("https://") || starts("http://"));
}

bool SplitStorageUri(std::string_view uri, UriParts& parts) {
    if (!HasHttpScheme(uri) || HasControlOrBlank(uri))
        return false;
    size_t start = uri.find("://") + 3;
    parts.fHttps = EqualNoCase(uri.substr(0, 5), "https");
    size_t slash = uri.find('/', start);
    std::string_view hostPart =
        uri.substr(start, slash == std::string_view::npos ? uri.npos : slash - start);
    std::string_view rest = slash == std::string_view::npos ? "" : uri.substr(slash + 1);
    size_t colon = hostPart.rfind(':');
    parts.nPort = 0;
    if (colon != std::string_view::npos) {
        std::string_view port = hostPart.substr(colon + 1);
        uint32_t n = 0;
        if (port.empty() || port.size() > 5)
            return false;
        for (char c : port) {
            if (c < '0' || c > '9')
                return false;
            n = n * 10 + static_cast<uint32_t>(c - '0');
        }
        if (n < 1 || n > 65535)
            return false;
        parts.nPort = static_cast<uint16_t>(n);
        hostPart = hostPart.substr(0, colon);
    }
    if (hostPart.empty())
        return false;
    parts.cHost = std::string(hostPart);
    std::string path = "/" + std::string(rest);
    if (path.back() != '/')
        path += '/';
    parts.cPath = UrlEncode(path, true);
    return true;
}

void BasicLine(StorageAccount& account) {
    account.cBasicLine =
        "Authorization: Basic " + Base64Encode(account.cUser + ":" + account.cPasswd) + "\r\n";
}

void ReadAccountValues(StorageAccount& account) {
    account.nSendNo = ReadNumber(account, "SendNo", 0);
    account.nAuth = ReadNumber(account, "Auth", AUTH_BASIC);
    account.nSsl = static_cast<int32_t>(ReadNumber(account, "SSL", 2));
    ReadText(account, "User", account.cUser, ACCOUNT_USER_MAX);
    std::string stored;
    ReadText(account, "Passwd", stored, 2 * ACCOUNT_USER_MAX);
    account.cPasswd = TextToSecret(stored);
    account.nInterval = ReadNumber(account, "Interval", 5);
    account.nWaitInterval = ReadNumber(account, "WaitInterval", 30);
    account.nWakeInterval = ReadNumber(account, "WakeInterval", 15);
    account.nRecvTimeout = ReadNumber(account, "RecvTimeout", 60000);
    account.nSetup = ReadNumber(account, "Setup", 0);
    account.nAnyCert = ReadNumber(account, "AnyCert", 0) == 1 ? 1 : 0;
    ReadText(account, "realm", account.cRealm, DIGEST_REALM_MAX);
    ReadText(account, "nonce", account.cNonce, DIGEST_REALM_MAX);
    ReadText(account, "algorithm", account.cAlgorithm, DIGEST_ALGORITHM_MAX);
    ReadText(account, "qop", account.cQop, DIGEST_ALGORITHM_MAX);
    account.nNc = ReadNumber(account, "nc", 0, true);
}

uint32_t SaveAccountKey(const StorageAccount& account, const char* pcKey, std::string_view value) {
    return IniWriteKey(account.cSettingsFile, account.cUri, pcKey, value);
}

uint32_t SaveAccountNumber(const StorageAccount& account, const char* pcKey, uint32_t nValue) {
    return SaveAccountKey(account, pcKey, std::to_string(nValue));
}

uint32_t SaveDigestState(const StorageAccount& account) {
    char nc[16];
    std::snprintf(nc, sizeof nc, "%08X", account.nNc);
    uint32_t e = SaveAccountKey(account, "realm", account.cRealm);
    e = e ? e : SaveAccountKey(account, "nonce", account.cNonce);
    e = e ? e : SaveAccountKey(account, "algorithm", account.cAlgorithm);
    e = e ? e : SaveAccountKey(account, "qop", account.cQop);
    e = e ? e : SaveAccountKey(account, "nc", nc);
    return e ? e : SaveAccountNumber(account, "Auth", account.nAuth);
}

AccountUse::AccountUse(std::shared_ptr<StorageAccount> account) : account_(std::move(account)) {
    std::lock_guard lock(account_->lock);
    ++account_->nBusy;
}

AccountUse::~AccountUse() {
    std::lock_guard lock(account_->lock);
    --account_->nBusy;
    account_->idle.notify_all();
}

AccountStore::AccountStore(std::string settingsFile) : settingsFile_(std::move(settingsFile)) {}

std::vector<std::string> AccountStore::UriList() const {
    std::string text;
    IniReadKey(settingsFile_, kListSection, kListKey, text);
    return ListSplit(text);
}

uint32_t AccountStore::SaveUriList(const std::vector<std::string>& uris) const {
    return IniWriteKey(settingsFile_, kListSection, kListKey, ListJoin(uris, LIST_TEXT_MAX));
}

void AccountStore::LoadAccounts() {
    {
        std::lock_guard lock(lock_);
        if (fLoaded_)
            return;
        fLoaded_ = true;
    }
    for (const std::string& uri : UriList()) {
        if (AccountPtr account = CreateAccount(uri)) {
            std::lock_guard lock(account->lock);
            ReadAccountValues(*account);
            BasicLine(*account);
        }
    }
}

AccountPtr AccountStore::CreateAccount(std::string_view uri) {
    UriParts parts;
    if (!SplitStorageUri(uri, parts))
        return nullptr;
    auto account = std::make_shared<StorageAccount>();
    account->cSettingsFile = settingsFile_;
    account->cUri = std::string(uri);
    account->cHost = parts.cHost;
    account->nPort = parts.nPort;
    account->cPath = parts.cPath;
    BasicLine(*account);
    std::lock_guard lock(lock_);
    accounts_.push_back(account);
    return account;
}

bool AccountStore::FreeAccount(const AccountPtr& account) {
    std::lock_guard lock(lock_);
    for (auto it = accounts_.begin(); it != accounts_.end(); ++it) {
        if (*it == account) {
            accounts_.erase(it);
            return true;
        }
    }
    return false;
}

AccountPtr AccountStore::Find(std::string_view uri) const {
    std::lock_guard lock(lock_);
    for (const AccountPtr& account : accounts_) {
        if (EqualNoCase(account->cUri, uri))
            return account;
    }
    return nullptr;
}

std::vector<AccountPtr> AccountStore::Accounts() const {
    std::lock_guard lock(lock_);
    return accounts_;
}

uint32_t AccountStore::SetInUse(StorageAccount& account, uint32_t nValue) {
    std::lock_guard lock(account.lock);
    account.nInuse = nValue;
    SaveAccountNumber(account, "Inuse", nValue);
    return nValue;
}

} // namespace brindle
