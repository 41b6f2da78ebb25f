// Online storage accounts: the record, its keys in the settings file, the
// URI split, and the list of accounts.
//
// An account is shared: the list owns it, and a running upload or poll holds
// it too (AccountUse). Saving new settings waits until no upload or poll
// runs; deleting is refused while one runs or the account is marked in use.
#pragma once

#include "storage/tls.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

inline constexpr int AUTH_BASIC = 0;
inline constexpr int AUTH_DIGEST = 1;
inline constexpr int AUTH_PASSPORT = 6;

inline constexpr size_t ACCOUNT_USER_MAX = 255;    // bytes of user name and password
inline constexpr size_t DIGEST_REALM_MAX = 127;    // and nonce
inline constexpr size_t DIGEST_ALGORITHM_MAX = 15; // and qop

enum TlsSlot { TLS_SLOT_UPLOAD = 0, TLS_SLOT_POLL = 1, TLS_SLOT_AUTH = 2 };

struct StorageAccount {
    // Guards every field below against the relay's threads.
    std::mutex lock;
    std::condition_variable idle;
    int nBusy = 0; // uploads and polls running now

    std::string cSettingsFile; // where the keys live
    std::string cUri;          // the base URI, also the section name
    std::string cHost;         // derived: host name without port
    uint16_t nPort = 0;        // derived: 0 when the URI names none
    std::string cPath;         // derived: URL path, "/" first and last, encoded

    uint32_t nSendNo = 0;
    uint32_t nAuth = AUTH_BASIC;
    int32_t nSsl = 2; // above 0: TLS kind; 0 or below: plain, |kind| remembered
    std::string cUser;
    std::string cPasswd; // in memory in clear; scrambled in the file
    uint32_t nInterval = 5;
    uint32_t nWaitInterval = 30;
    uint32_t nWakeInterval = 15;
    uint32_t nRecvTimeout = 60000;
    uint32_t nSetup = 0;
    uint32_t nAnyCert = 0; // 1: accept any server certificate
    std::string cRealm, cNonce, cAlgorithm, cQop;
    uint32_t nNc = 0;
    uint32_t nInuse = 0;

    std::string cBasicLine;  // "Authorization: Basic ...\r\n"
    std::string cTicket;     // Passport ticket of this account
    std::string cCookieLine; // cookies of this account's storage server
    TlsContext tls[3];
};

// The parts of a base URI. False for a URI that is not usable: no
// "http://" or "https://", an empty host, a port that is not 1-65535,
// control bytes or blanks anywhere.
struct UriParts {
    bool fHttps = false;
    std::string cHost;
    uint16_t nPort = 0;
    std::string cPath;
};
bool SplitStorageUri(std::string_view uri, UriParts& parts);
// Only the scheme test: "://" present, "http://" or "https://" first.
bool HasHttpScheme(std::string_view uri);

// Rebuilds the account's Basic line from user name and password.
void BasicLine(StorageAccount& account);

// Reads the account's keys (missing keys keep their defaults). The stored
// Inuse is never read: it describes a run that is over.
void ReadAccountValues(StorageAccount& account);
// Writes one key of the account's section.
uint32_t SaveAccountKey(const StorageAccount& account, const char* pcKey, std::string_view value);
uint32_t SaveAccountNumber(const StorageAccount& account, const char* pcKey, uint32_t nValue);
// Writes the Digest state and Auth.
uint32_t SaveDigestState(const StorageAccount& account);

// Held while an upload or poll uses the account.
class AccountUse {
  public:
    explicit AccountUse(std::shared_ptr<StorageAccount> account);
    ~AccountUse();
    AccountUse(const AccountUse&) = delete;
    AccountUse& operator=(const AccountUse&) = delete;
    StorageAccount& operator*() const { return *account_; }
    StorageAccount* operator->() const { return account_.get(); }

  private:
    std::shared_ptr<StorageAccount> account_;
};

using AccountPtr = std::shared_ptr<StorageAccount>;

// The program's accounts in the order of the list in section "WebDAV",
// key "URI".
class AccountStore {
  public:
    explicit AccountStore(std::string settingsFile);

    // Reads the list and every account in it (once; later calls do nothing).
    void LoadAccounts();
    // A new account for `uri` with the defaults, appended; null when the
    // URI cannot be split.
    AccountPtr CreateAccount(std::string_view uri);
    // Removes the account from the list of loaded accounts (not from the
    // file); false when it is not there. Holders keep their reference.
    bool FreeAccount(const AccountPtr& account);
    AccountPtr Find(std::string_view uri) const;
    std::vector<AccountPtr> Accounts() const;
    // The URIs as stored, most recently saved first.
    std::vector<std::string> UriList() const;
    uint32_t SaveUriList(const std::vector<std::string>& uris) const;
    const std::string& SettingsFile() const { return settingsFile_; }

    // Server: marks the account the main window relays through. Client:
    // callers add and subtract one per storage-linked connection. Saved;
    // returns the new value.
    uint32_t SetInUse(StorageAccount& account, uint32_t nValue);

  private:
    std::string settingsFile_;
    mutable std::mutex lock_;
    std::vector<AccountPtr> accounts_;
    bool fLoaded_ = false;
};

} // namespace brindle
