// The client against a real WebDAV server (lighttpd on loopback): the six
// methods with Basic and Digest over plain and TLS connections, refused
// credentials, and certificate verification.
#include "storage/account_form.h"
#include "storage/http_auth.h"
#include "storage/http_connection.h"

#include "lighttpd_fixture.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

using test::LighttpdServer;

class WebDav : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server_ = new LighttpdServer;
        failure_ = server_->Start();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (!LighttpdServer::Installed())
            GTEST_SKIP() << failure_;
        ASSERT_TRUE(failure_.empty()) << failure_;
    }

    // A saved account for base path `folder` on the plain or TLS port.
    AccountPtr Account(const std::string& folder, bool fTls, const std::string& password) {
        AccountForm form;
        form.cUri = std::string(fTls ? "https" : "http") + "://127.0.0.1:" +
                    std::to_string(fTls ? server_->TlsPort() : server_->HttpPort()) + "/" + folder;
        form.nKind = 2;
        form.cUser = LighttpdServer::kUser;
        form.cPasswd = form.cPasswdAgain = password;
        form.fAnyCert = false;
        AccountPtr account;
        EXPECT_EQ(SaveAccountForm(store_, form, account), 0u);
        return account;
    }

    // One request as the relay makes it: credentials, at most one repeat
    // after the authentication changed. Returns the status, or -code.
    int Request(HttpConnection& connection, const AccountPtr& account, const std::string& method,
                const std::string& name, const std::string& extra = "",
                const std::string& body = "", std::string* answerBody = nullptr) {
        std::string path = account->cPath + name;
        for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
            if (!connection.Reusable()) {
                ++nOpened_;
                uint32_t e = connection.Open(account->cHost, account->nPort, account->nSsl,
                                             account->nAnyCert == 1, account->tls[TLS_SLOT_UPLOAD]);
                if (e != 0)
                    return -static_cast<int>(e);
            }
            std::string request = method + " " + path + " HTTP/1.1\r\nHost: " + account->cHost +
                                  "\r\n" + AuthorizationLines(*account, method, path) + extra +
                                  "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                                  body;
            uint32_t nError = 0;
            HttpAnswer answer;
            if (HttpSend(connection, account->cHost.c_str(), request, nError) < 0 ||
                HttpReceive(connection, account->cHost.c_str(), answer, nError) < 0)
                return -static_cast<int>(nError);
            if (answer.nStatus == 401)
                ++n401_;
            if (answerBody)
                *answerBody = answer.body;
            if (!AuthAfterAnswer(*account, method, path, answer, nAttempt == 0))
                return answer.nStatus;
        }
        return 401;
    }

    // MKCOL, PUT, MOVE, PROPFIND, GET and DELETE in a fresh folder.
    void SixMethods(const AccountPtr& account) {
        HttpConnection connection;
        std::string dest = "Destination: " + std::string(account->nSsl > 0 ? "https" : "http") +
                           "://127.0.0.1" + account->cPath + "d/b.txt\r\n";
        std::string got;
        EXPECT_EQ(Request(connection, account, "MKCOL", "d/"), 201);
        EXPECT_EQ(Request(connection, account, "PUT", "d/a.txt", "", "relay bytes"), 201);
        EXPECT_EQ(Request(connection, account, "MOVE", "d/a.txt", dest), 201);
        EXPECT_EQ(Request(connection, account, "PROPFIND", "d/", "Depth: 1\r\n", "", &got), 207);
        EXPECT_NE(got.find("b.txt"), std::string::npos);
        EXPECT_EQ(Request(connection, account, "GET", "d/b.txt", "", "", &got), 200);
        EXPECT_EQ(got, "relay bytes");
        EXPECT_EQ(Request(connection, account, "DELETE", "d/"), 204);
    }

    static LighttpdServer* server_;
    static std::string failure_;
    test::TempDir data_;
    AccountStore store_{data_.File("BrindleView.ini")};
    int nOpened_ = 0;
    int n401_ = 0;
};

LighttpdServer* WebDav::server_ = nullptr;
std::string WebDav::failure_;

TEST_F(WebDav, SixMethodsWithBasicAndDigestPlainAndTls) {
    test::ScopedEnv trust("SSL_CERT_FILE", server_->CaFile().c_str());
    for (bool fTls : {false, true}) {
        SCOPED_TRACE(fTls ? "TLS" : "plain");
        AccountPtr basic = Account("basic/", fTls, LighttpdServer::kPassword);
        SixMethods(basic);
        EXPECT_EQ(basic->nAuth, 0u);

        AccountPtr digest = Account("digest/", fTls, LighttpdServer::kPassword);
        n401_ = 0;
        SixMethods(digest);
        EXPECT_EQ(n401_, 1); // the first Basic attempt; the challenge serves the rest
        EXPECT_EQ(digest->nAuth, static_cast<uint32_t>(AUTH_DIGEST));
        EXPECT_EQ(digest->nNc, 6u); // one count per request on one nonce
    }
}

TEST_F(WebDav, DigestCountsAndTheStoredNonceAfterARestart) {
    AccountPtr account = Account("digest/", false, LighttpdServer::kPassword);
    HttpConnection connection;
    ASSERT_EQ(Request(connection, account, "PROPFIND", "", "Depth: 0\r\n"), 207);
    std::string nonce = account->cNonce;
    EXPECT_EQ(account->nNc, 1u);
    std::string line;
    ASSERT_GT(DigestStep(line, "GET", *account, nullptr, account->cPath, SystemClock()), 0u);
    EXPECT_NE(line.find("nc=00000002"), std::string::npos);
    EXPECT_NE(line.find("qop=auth, "), std::string::npos);

    // A new run reads the challenge back and starts counting at 1 again.
    AccountStore restarted(store_.SettingsFile());
    restarted.LoadAccounts();
    AccountPtr again = restarted.Find(account->cUri);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->nAuth, static_cast<uint32_t>(AUTH_DIGEST));
    EXPECT_EQ(again->cNonce, nonce);
    n401_ = 0;
    HttpConnection fresh;
    EXPECT_EQ(Request(fresh, again, "PROPFIND", "", "Depth: 0\r\n"), 207);
    EXPECT_EQ(n401_, 0);
    EXPECT_EQ(again->nNc, 1u);
}

TEST_F(WebDav, WrongPasswordFailsAndTheNextRequestReconnects) {
    for (const char* folder : {"basic/", "digest/"}) {
        SCOPED_TRACE(folder);
        AccountPtr account = Account(folder, false, "wrong");
        HttpConnection connection;
        nOpened_ = 0;
        EXPECT_EQ(Request(connection, account, "PROPFIND", "", "Depth: 0\r\n"), 401);
        EXPECT_EQ(Request(connection, account, "PROPFIND", "", "Depth: 0\r\n"), 401);
        // lighttpd closes after refused credentials: every request found
        // the connection closed and opened a new one.
        EXPECT_GE(nOpened_, 2);
        EXPECT_FALSE(connection.Reusable());
    }
}

TEST_F(WebDav, CertificateVerification) {
    struct Case {
        const char* name;
        const char* host;
        bool fOtherIp;
        int nKind;
        bool fTrustCa;
        bool fAnyCert;
        uint32_t nExpected;
    };
    const Case cases[] = {
        {"untrusted CA", "127.0.0.1", false, 2, false, false, ERR_TLS_SSL},
        {"trusted CA", "127.0.0.1", false, 2, true, false, 0},
        {"trusted CA by name", "localhost", false, 2, true, false, 0},
        {"any certificate", "127.0.0.1", false, 2, false, true, 0},
        {"address outside the certificate", "127.0.0.2", true, 2, true, false, ERR_TLS_SSL},
        {"TLS 1.2 only", "127.0.0.1", false, 5, true, false, 0},
        {"TLS 1.0 against a TLS 1.2 server", "127.0.0.1", false, 3, true, false, ERR_TLS_SSL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScopedEnv trust("SSL_CERT_FILE",
                              c.fTrustCa ? server_->CaFile().c_str() : "/dev/null");
        TlsContext slot;
        HttpConnection connection;
        uint16_t nPort = c.fOtherIp ? server_->OtherIpTlsPort() : server_->TlsPort();
        uint32_t e = connection.Open(c.host, nPort, c.nKind, c.fAnyCert, slot);
        EXPECT_EQ(e, c.nExpected) << connection.TlsFailure();
        EXPECT_EQ(connection.IsOpen(), e == 0);
        if (e != 0) {
            EXPECT_FALSE(connection.TlsFailure().empty());
        }
    }
}

} // namespace
} // namespace brindle
