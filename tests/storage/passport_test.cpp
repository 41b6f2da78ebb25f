// Passport1.4 through scripted servers: a plain storage server that sends
// the client to a TLS login server, the sign-in requests that reach it, the
// ticket and the cookie-only requests afterwards, and a login Location
// without TLS that never gets the password.
#include "storage/account_form.h"
#include "storage/http_auth.h"
#include "storage/http_connection.h"

#include "common/ini_file.h"
#include "common/log.h"
#include "scripted_http.h"
#include "support/file_text.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <mutex>
#include <openssl/ssl.h>

namespace brindle {
namespace {

// Every connection answers its requests (each ending at the empty line)
// with the next canned reply and records them; the test reads the record
// after the server is gone.
struct Canned {
    std::vector<std::string> replies;
    std::vector<std::string> requests;
    int nConnections = 0;
    std::mutex lock;

    // The reply for a request, or empty when the script is over.
    std::string Next(const std::string& request) {
        std::lock_guard guard(lock);
        requests.push_back(request);
        return requests.size() <= replies.size() ? replies[requests.size() - 1] : "";
    }
};

// A login server over TLS with a certificate for 127.0.0.1 made by the
// openssl command line; the test trusts it through SSL_CERT_FILE.
class TlsLoginServer {
  public:
    explicit TlsLoginServer(Canned& canned)
        : canned_(canned), context_(SSL_CTX_new(TLS_server_method())),
          server_([this](int fd, int) { return Serve(fd); }) {}
    ~TlsLoginServer() { SSL_CTX_free(context_); }

    bool Load(const test::TempDir& dir) {
        std::string d = dir.Path();
        std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 "
            "-keyout " +
            d + "/login.key -out " + d + "/login.pem -subj /CN=login " +
            "-addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1";
        return std::system(command.c_str()) == 0 &&
               SSL_CTX_use_certificate_file(context_, (d + "/login.pem").c_str(),
                                            SSL_FILETYPE_PEM) == 1 &&
               SSL_CTX_use_PrivateKey_file(context_, (d + "/login.key").c_str(),
                                           SSL_FILETYPE_PEM) == 1;
    }
    uint16_t Port() const { return server_.Port(); }

  private:
    bool Serve(int fd) {
        {
            std::lock_guard guard(canned_.lock);
            ++canned_.nConnections;
        }
        SSL* ssl = SSL_new(context_);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            for (;;) {
                std::string request;
                char buffer[4096];
                while (request.find("\r\n\r\n") == std::string::npos) {
                    int n = SSL_read(ssl, buffer, sizeof buffer);
                    if (n <= 0)
                        break;
                    request.append(buffer, static_cast<size_t>(n));
                }
                if (request.empty())
                    break;
                std::string reply = canned_.Next(request);
                if (reply.empty())
                    break;
                SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
            }
        }
        SSL_free(ssl);
        return true;
    }

    Canned& canned_;
    SSL_CTX* context_;
    test::ScriptedHttpServer server_;
};

// A plain scripted server with canned replies.
class PlainServer {
  public:
    explicit PlainServer(Canned& canned)
        : server_([&canned](int fd, int) {
              {
                  std::lock_guard guard(canned.lock);
                  ++canned.nConnections;
              }
              for (;;) {
                  std::string request = test::ReadUntil(fd, "\r\n\r\n");
                  if (request.empty())
                      break;
                  std::string reply = canned.Next(request);
                  if (reply.empty())
                      break;
                  test::SendText(fd, reply);
              }
              return true;
          }) {}
    uint16_t Port() const { return server_.Port(); }

  private:
    test::ScriptedHttpServer server_;
};

std::string Redirect(const std::string& location) {
    return "HTTP/1.1 302 Found\r\nWWW-Authenticate: Passport1.4 lc=1033,id=3\r\nLocation: " +
           location + "\r\nContent-Length: 0\r\n\r\n";
}

class Passport : public ::testing::Test {
  protected:
    AccountPtr Account(uint16_t nStoragePort) {
        AccountForm form;
        form.cUri = "http://127.0.0.1:" + std::to_string(nStoragePort) + "/dav";
        form.nKind = 2;
        form.cUser = "alice@example.com";
        form.cPasswd = form.cPasswdAgain = "p@ss word";
        AccountPtr account;
        EXPECT_EQ(SaveAccountForm(store_, form, account), 0u);
        return account;
    }

    // One request as the relay makes it: at most one repeat after the
    // authentication changed. The status, or -code.
    int Request(HttpConnection& connection, const AccountPtr& account, const std::string& path) {
        for (int nAttempt = 0; nAttempt < 2; ++nAttempt) {
            if (!connection.Reusable()) {
                uint32_t e = connection.Open(account->cHost, account->nPort, account->nSsl, false,
                                             account->tls[TLS_SLOT_POLL]);
                if (e != 0)
                    return -static_cast<int>(e);
            }
            std::string request = "PROPFIND " + path + " HTTP/1.1\r\nHost: " + account->cHost +
                                  "\r\n" + AuthorizationLines(*account, "PROPFIND", path) +
                                  "Content-Length: 0\r\n\r\n";
            uint32_t nError = 0;
            HttpAnswer answer;
            if (HttpSend(connection, account->cHost.c_str(), request, nError) < 0 ||
                HttpReceive(connection, account->cHost.c_str(), answer, nError) < 0)
                return -static_cast<int>(nError);
            if (!AuthAfterAnswer(*account, "PROPFIND", path, answer, nAttempt == 0))
                return answer.nStatus;
        }
        return 302;
    }

    test::TempDir data_;
    AccountStore store_{data_.File("BrindleView.ini")};
};

TEST_F(Passport, SignInAtTheLoginServerThenCookiesOnly) {
    Canned login;
    login.replies = {
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Passport1.4 da-status=failed,"
        "srealm=Passport.NET,ts=-3,prompt,cburl=http://x/cb.gif,cbtxt=Text,ct=1234,rver=1\r\n"
        "Content-Length: 0\r\n\r\n",
        "HTTP/1.1 200 OK\r\nAuthentication-Info: Passport1.4 da-status=success,tname=MSPAuth,"
        "from-PP='t=TICKET&p=P',ru=https://x/\r\nContent-Length: 0\r\n\r\n",
    };
    Canned storage;
    test::TempDir certs;
    {
        TlsLoginServer loginServer(login);
        ASSERT_TRUE(loginServer.Load(certs));
        test::ScopedEnv trust("SSL_CERT_FILE", certs.File("login.pem").c_str());
        PlainServer storageServer(storage);
        std::string location =
            "https://127.0.0.1:" + std::to_string(loginServer.Port()) + "/login/form.cgi?x=1";
        storage.replies = {
            Redirect(location),
            "HTTP/1.1 207 Multi-Status\r\nAuthentication-Info: Passport1.4 tname=MSPAuth,"
            "tname=MSPProf\r\nSet-Cookie: MSPAuth=abc; path=/\r\nSet-Cookie: MSPProf=def\r\n"
            "Content-Length: 0\r\n\r\n",
            "HTTP/1.1 207 Multi-Status\r\nAuthentication-Info: Passport1.4 tname=MSPAuth\r\n"
            "Set-Cookie: mspauth=xyz; path=/\r\nContent-Length: 0\r\n\r\n",
            "HTTP/1.1 207 Multi-Status\r\nContent-Length: 0\r\n\r\n",
        };
        AccountPtr account = Account(storageServer.Port());
        HttpConnection connection;
        EXPECT_EQ(Request(connection, account, "/dav/relay/"), 207);
        EXPECT_EQ(account->nAuth, static_cast<uint32_t>(AUTH_PASSPORT));
        EXPECT_EQ(Request(connection, account, "/dav/relay/"), 207);
        EXPECT_EQ(Request(connection, account, "/dav/relay/"), 207);
        std::string stored;
        IniReadKey(store_.SettingsFile(), account->cUri, "Auth", stored);
        EXPECT_EQ(stored, "6");
    }

    // The login server: both requests at form2.cgi on one connection, the
    // user name's "@" as %40, the dropped parameters gone.
    ASSERT_EQ(login.requests.size(), 2u);
    EXPECT_EQ(login.nConnections, 1);
    for (const std::string& request : login.requests) {
        EXPECT_EQ(request.rfind("GET /login/form2.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n", 0), 0u)
            << request;
        EXPECT_NE(request.find(",lc=1033,id=3\r\n"), std::string::npos) << request;
    }
    EXPECT_NE(login.requests[0].find("Authorization: Passport1.4 tname=,OrgVerb=PROPFIND,"
                                     "OrgUrl=http://127.0.0.1:"),
              std::string::npos)
        << login.requests[0];
    const std::string& signIn = login.requests[1];
    EXPECT_NE(signIn.find("sign-in=alice%40example.com,pwd=p%40ss%20word,elapsed-time=0,"),
              std::string::npos)
        << signIn;
    EXPECT_NE(signIn.find("/dav/relay/,ts=-3,ct=1234,rver=1,lc=1033,id=3\r\n"), std::string::npos)
        << signIn;
    for (const char* dropped : {"da-status", "srealm", "prompt", "cburl", "cbtxt"})
        EXPECT_EQ(signIn.find(dropped), std::string::npos) << dropped;

    // The storage server: the repeat carries the ticket; afterwards only
    // the cookies go, the renewed MSPAuth in its place.
    ASSERT_EQ(storage.requests.size(), 4u);
    EXPECT_NE(storage.requests[0].find("Authorization: Basic "), std::string::npos);
    EXPECT_NE(storage.requests[1].find(
                  "\r\nAuthorization: Passport1.4 from-PP='t=TICKET&p=P'\r\nContent-Length"),
              std::string::npos)
        << storage.requests[1];
    EXPECT_NE(storage.requests[2].find("\r\nCookie: MSPAuth=abc; \r\n MSPProf=def; \r\n"),
              std::string::npos)
        << storage.requests[2];
    EXPECT_NE(storage.requests[3].find("\r\nCookie: mspauth=xyz; \r\n MSPProf=def; \r\n"),
              std::string::npos)
        << storage.requests[3];
    for (size_t i = 2; i < storage.requests.size(); ++i)
        EXPECT_EQ(storage.requests[i].find("Authorization"), std::string::npos)
            << storage.requests[i];
}

TEST_F(Passport, LoginLocationWithoutTlsNeverGetsThePassword) {
    test::TempDir logDir;
    ASSERT_TRUE(LogOpen(logDir.File("test.log")));
    Canned login;
    login.replies = {"HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n"};
    Canned storage;
    {
        PlainServer loginServer(login);
        PlainServer storageServer(storage);
        storage.replies = {
            Redirect("http://127.0.0.1:" + std::to_string(loginServer.Port()) + "/login/form.cgi")};
        AccountPtr account = Account(storageServer.Port());
        HttpConnection connection;
        EXPECT_EQ(Request(connection, account, "/dav/relay/"), 302);
        EXPECT_EQ(account->nAuth, static_cast<uint32_t>(AUTH_BASIC));
        EXPECT_TRUE(account->cTicket.empty());
    }
    LogClose();
    EXPECT_EQ(login.nConnections, 0);
    EXPECT_NE(
        test::ReadFileText(logDir.File("test.log")).find("Passport1.4 refused plain http Location"),
        std::string::npos);
}

} // namespace
} // namespace brindle
