// Accounts: the URI split, the list, the stored values, the form checks,
// the shared ownership rules, the Digest challenge rules and the dump.
#include "storage/account_form.h"
#include "storage/http_auth.h"
#include "storage/http_text.h"

#include "common/ini_file.h"
#include "common/log.h"
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>

namespace brindle {
namespace {

TEST(StorageUri, SplitCases) {
    struct Case {
        const char* uri;
        bool fOk;
        const char* host;
        uint16_t nPort;
        const char* path;
    };
    const Case cases[] = {
        {"https://dav.example/dav", true, "dav.example", 0, "/dav/"},
        {"http://dav.example/dav/", true, "dav.example", 0, "/dav/"},
        {"HTTP://h:8080/a b/x", false, "", 0, ""}, // blank
        {"http://h:8080/a%b/x", true, "h", 8080, "/a%25b/x/"},
        {"http://h:8080", true, "h", 8080, "/"},
        {"http://h", true, "h", 0, "/"},
        {"http://h:0/", false, "", 0, ""},
        {"http://h:65536/", false, "", 0, ""},
        {"http://h:/", false, "", 0, ""},
        {"http://:80/", false, "", 0, ""},
        {"http:///x", false, "", 0, ""},
        {"ftp://h/x", false, "", 0, ""},
        {"http://h/x\x7f", false, "", 0, ""},
        {"http://h/x\ty", false, "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uri);
        UriParts parts;
        ASSERT_EQ(SplitStorageUri(c.uri, parts), c.fOk);
        if (!c.fOk)
            continue;
        EXPECT_EQ(parts.cHost, c.host);
        EXPECT_EQ(parts.nPort, c.nPort);
        EXPECT_EQ(parts.cPath, c.path);
    }
    EXPECT_EQ(UrlEncode("/a b/!x", true), "/a%20b/%21x");
    EXPECT_EQ(UrlEncode("/a b/!x", false), "%2Fa%20b%2F%21x");
    EXPECT_EQ(UrlEncode("\x7f\xe3\x81\x82@", false), "\x7f\xe3\x81\x82%40");
}

class Accounts : public ::testing::Test {
  protected:
    AccountForm Form(const std::string& uri) {
        AccountForm form;
        form.cUri = uri;
        form.nKind = 5;
        form.cUser = "bob";
        form.cPasswd = form.cPasswdAgain = "12345";
        form.fServer = true;
        return form;
    }
    test::TempDir dir_;
    std::string ini_ = dir_.File("BrindleHost.ini");
};

TEST_F(Accounts, SaveStoresKindPasswordAndResetsDigest) {
    AccountStore store(ini_);
    AccountPtr https, http;
    ASSERT_EQ(SaveAccountForm(store, Form("https://h/dav"), https), 0u);
    ASSERT_EQ(SaveAccountForm(store, Form("http://h/dav"), http), 0u);
    EXPECT_EQ(https->nSsl, 5);
    EXPECT_EQ(http->nSsl, -5);
    std::string passwd;
    IniReadKey(ini_, "https://h/dav", "Passwd", passwd);
    EXPECT_EQ(passwd.size(), 10u);
    EXPECT_EQ(passwd.find("12345"), std::string::npos);

    // Digest state of an earlier run is dropped by a new save.
    https->nAuth = AUTH_DIGEST;
    https->cNonce = "n";
    SaveDigestState(*https);
    ASSERT_EQ(SaveAccountForm(store, Form("https://h/dav"), https), 0u);
    AccountStore next(ini_);
    next.LoadAccounts();
    AccountPtr back = next.Find("https://h/dav");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->nAuth, 0u);
    EXPECT_EQ(back->cNonce, "");
    EXPECT_EQ(back->cPasswd, "12345");
    EXPECT_EQ(back->cBasicLine, "Authorization: Basic Ym9iOjEyMzQ1\r\n");
    EXPECT_EQ(next.UriList().front(), "https://h/dav"); // most recently saved first
}

TEST_F(Accounts, ListWithDoubledBarTrailingBarAndCap) {
    IniWriteKey(ini_, "WebDAV", "URI", "http://a/x||y|http://b/|");
    AccountStore store(ini_);
    store.LoadAccounts();
    ASSERT_EQ(store.Accounts().size(), 2u);
    EXPECT_EQ(store.Accounts()[0]->cUri, "http://a/x|y");

    // A save that would make the list longer than 4095 bytes drops the
    // oldest URIs.
    std::string full;
    for (int i = 0; full.size() < 4000; ++i)
        full += "http://h/" + std::string(90, 'a' + i % 26) + std::to_string(i) + "|";
    full += "http://oldest/";
    IniWriteKey(ini_, "WebDAV", "URI", full);
    AccountPtr saved;
    ASSERT_EQ(SaveAccountForm(store, Form("http://newest/"), saved), 0u);
    std::string list;
    IniReadKey(ini_, "WebDAV", "URI", list);
    EXPECT_LE(list.size(), 4095u);
    EXPECT_EQ(list.rfind("http://newest/|", 0), 0u);
    EXPECT_EQ(list.find("http://oldest/"), std::string::npos);
}

TEST_F(Accounts, StoredInuseIsIgnoredAndDeleteRules) {
    AccountStore store(ini_);
    AccountPtr account;
    ASSERT_EQ(SaveAccountForm(store, Form("http://h/d"), account), 0u);
    store.SetInUse(*account, 1); // as a crash would leave it
    AccountStore next(ini_);
    next.LoadAccounts();
    EXPECT_TRUE(CanDeleteAccount(next, "http://h/d"));

    AccountPtr loaded = next.Find("http://h/d");
    next.SetInUse(*loaded, 1);
    EXPECT_EQ(DeleteAccount(next, "http://h/d"), ERROR_SHARING_VIOLATION_CODE);
    next.SetInUse(*loaded, 0);
    {
        AccountUse use(loaded);
        EXPECT_EQ(DeleteAccount(next, "http://h/d"), ERROR_SHARING_VIOLATION_CODE);
    }
    EXPECT_EQ(DeleteAccount(next, "http://h/d"), 0u);
    EXPECT_FALSE(next.Find("http://h/d"));
    EXPECT_TRUE(next.UriList().empty());
    EXPECT_TRUE(IniSectionKeys(ini_, "http://h/d").empty());
}

TEST_F(Accounts, SavingWaitsForARunningUpload) {
    AccountStore store(ini_);
    AccountPtr account;
    ASSERT_EQ(SaveAccountForm(store, Form("https://h/d"), account), 0u);
    auto use = std::make_unique<AccountUse>(account);
    std::atomic<bool> fSaved{false};
    std::thread saver([&] {
        AccountPtr again;
        AccountForm form = Form("https://h/d");
        form.cUser = "carol";
        SaveAccountForm(store, form, again);
        fSaved = true;
    });
    // The upload still uses the old credentials; nothing changes under it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(fSaved.load());
    {
        std::lock_guard lock(account->lock);
        EXPECT_EQ(account->cUser, "bob");
    }
    use.reset();
    EXPECT_TRUE(test::WaitUntil([&] { return fSaved.load(); }));
    saver.join();
    EXPECT_EQ(account->cUser, "carol");
}

TEST_F(Accounts, FormChecksCombineTheirMessages) {
    struct Case {
        const char* name;
        AccountForm form;
        std::string expected;
    };
    AccountForm good = Form("https://h/dav");
    auto with = [&](auto change) {
        AccountForm f = good;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"good", good, ""},
        {"no scheme, no user, different passwords",
         with([](AccountForm& f) { f.cUri = "h/dav", f.cUser = "", f.cPasswdAgain = "x"; }),
         "URIにhttp://またはhttps://がありません!\nユーザ名が入力されていません!\n"
         "パスワードの入力が一致しません!\n"},
        {"bad port, colon in user",
         with([](AccountForm& f) { f.cUri = "http://h:99999/", f.cUser = "a:b"; }),
         "URIが正しくありません!\nユーザ名が正しくありません!\n"},
        {"no password", with([](AccountForm& f) { f.cPasswd = f.cPasswdAgain = ""; }),
         "パスワードが入力されていません!\n"},
        {"intervals", with([](AccountForm& f) {
             f.nInterval = 0, f.nWaitInterval = 3601, f.nWakeInterval = 1441;
         }),
         "接続時ストレージ読み出し間隔が正しくありません!"
         "\n待機時ストレージ読み出し間隔が正しくありません!\n"
         "ストレージ確認サスペンド復帰間隔が正しくありません!\n"},
        {"client ignores server intervals",
         with([](AccountForm& f) { f.fServer = false, f.nWaitInterval = 0; }), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckAccountForm(c.form), c.expected);
    }
}

TEST(DigestChallenge, OnlyMd5WithQopAuthIsTakenUp) {
    struct Case {
        const char* name;
        std::string challenge;
        bool fTaken;
    };
    const Case cases[] = {
        {"md5 auth", "Digest realm=\"r\", nonce=\"n1\", qop=\"auth\", algorithm=MD5", true},
        {"qop list", "Digest realm=\"r\", nonce=\"n1\", qop=\"auth-int,auth\", algorithm=md5",
         true},
        {"no algorithm", "Digest realm=\"r\", nonce=\"n1\", qop=\"auth\"", false},
        {"SHA-256", "Digest realm=\"r\", nonce=\"n1\", qop=\"auth\", algorithm=SHA-256", false},
        {"auth-int only", "Digest realm=\"r\", nonce=\"n1\", qop=\"auth-int\", algorithm=MD5",
         false},
        {"no qop", "Digest realm=\"r\", nonce=\"n1\", algorithm=MD5", false},
        {"nonce too long",
         "Digest realm=\"r\", nonce=\"" + std::string(200, 'n') + "\", qop=auth, algorithm=MD5",
         false},
        {"realm with control byte", "Digest realm=\"r\x01\", nonce=\"n\", qop=auth, algorithm=MD5",
         false},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AccountStore store(dir.File("BrindleView.ini"));
        AccountPtr account = store.CreateAccount("http://h/d");
        account->cUser = "u";
        account->nAuth = AUTH_DIGEST; // a taken-up Digest that a bad challenge drops
        HttpAnswer answer;
        answer.nStatus = 401;
        answer.header = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
                        "WWW-Authenticate: " +
                        c.challenge + "\r\n\r\n";
        std::string line;
        size_t n = DigestStep(line, "GET", *account, &answer, "/d/", SystemClock());
        EXPECT_EQ(n > 0, c.fTaken);
        EXPECT_EQ(account->nAuth, c.fTaken ? static_cast<uint32_t>(AUTH_DIGEST) : 0u);
        if (c.fTaken) {
            EXPECT_NE(line.find("algorithm=MD5, qop=auth, nc=00000001"), std::string::npos) << line;
        }
    }
}

TEST(HttpDump, SecretsAreMaskedAndTheFileIsPrivate) {
    test::TempDir dir;
    std::string path = HttpDumpPathFor(dir.File("BrindleHost.INI"));
    EXPECT_EQ(path, dir.File("BrindleHost-html.dmp"));
    SetHttpDumpFile(path);
    uint32_t nOld = g_nDebug.exchange(DEBUG_HTTP_DUMP);
    HttpDumpRecord(
        "SEND", "h",
        "GET / HTTP/1.1\r\nHost: h\r\nAuthorization: Passport1.4 sign-in=a,pwd=SECRET1\r\n"
        "Cookie: s=SECRET2; \r\n t=SECRET3; \r\n\r\n");
    HttpDumpRecord("RECV", "h",
                   "HTTP/1.1 200 OK\r\nSet-Cookie: s=SECRET4\r\nauthentication-info: "
                   "Passport1.4 from-PP=SECRET5\r\nX-Kept: visible\r\n\r\n");
    g_nDebug = nOld;
    CloseHttpDumpFile();
    std::string dump = test::ReadFileText(path);
    EXPECT_EQ(dump.find("SECRET"), std::string::npos) << dump;
    EXPECT_NE(dump.find("X-Kept: visible"), std::string::npos);
    EXPECT_NE(dump.find("] SEND host=h\r\nGET / HTTP/1.1"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace
} // namespace brindle
