// A real WebDAV server for the tests: lighttpd on free loopback ports, with
// Basic and Digest folders, plain and TLS, a CA and a leaf certificate made
// with the openssl command line into the test's temporary folder.
#pragma once

#include "common/md5.h"
#include "support/child_process.h"
#include "support/file_text.h"
#include "support/loopback.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace brindle::test {

class LighttpdServer {
  public:
    static constexpr const char* kUser = "alice";
    static constexpr const char* kPassword = "s3cret pass";

    // Only a machine without lighttpd skips these tests; any other reason
    // the server does not run is a failure.
    static bool Installed() { return std::filesystem::exists("/usr/sbin/lighttpd"); }

    // Empty when the server runs; otherwise why not. A port taken between
    // choosing it and lighttpd binding it costs a retry with new ports.
    std::string Start() {
        if (!Installed())
            return "lighttpd is not installed";
        if (!std::filesystem::exists("/usr/lib/lighttpd/mod_openssl.so"))
            return "lighttpd is installed without mod_openssl (lighttpd-mod-openssl)";
        for (const char* sub : {"root/basic", "root/digest", "root/open", "upload"})
            std::filesystem::create_directories(dir_.File(sub));
        WriteFileText(dir_.File("htdigest"), std::string(kUser) + ":brindle:" +
                                                 Md5Hex("%s:brindle:%s", kUser, kPassword) + "\n");
        std::string d = dir_.Path();
        std::string req = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                          "-days 1 ";
        if (Run(req + "-keyout " + d + "/ca.key -out " + d + "/ca.pem -subj /CN=BrindleTestCA") !=
                0 ||
            Run(req + "-keyout " + d + "/server.key -out " + d +
                "/server.pem -subj /CN=localhost " + "-CA " + d + "/ca.pem -CAkey " + d +
                "/ca.key " + "-addext subjectAltName=IP:127.0.0.1,DNS:localhost " +
                "-addext basicConstraints=critical,CA:FALSE") != 0)
            return "openssl could not make the certificates";
        std::string failure;
        for (int nTry = 0; nTry < 3; ++nTry) {
            failure = StartOnNewPorts();
            if (failure.empty())
                break;
        }
        return failure;
    }
    ~LighttpdServer() { process_.Stop(); }

    uint16_t HttpPort() const { return nHttp_; }
    uint16_t TlsPort() const { return nTls_; }
    uint16_t OtherIpTlsPort() const { return nOtherIp_; } // on 127.0.0.2, not in the certificate
    std::string CaFile() const { return dir_.File("ca.pem"); }
    const TempDir& Dir() const { return dir_; }

  private:
    std::string StartOnNewPorts() {
        std::string d = dir_.Path();
        nHttp_ = FreeLoopbackPort();
        nTls_ = FreeLoopbackPort();
        nOtherIp_ = FreeLoopbackPort();
        std::string tls = " { ssl.engine = \"enable\" ssl.pemfile = \"" + d +
                          "/server.pem\" ssl.privkey = \"" + d + "/server.key\" }\n";
        WriteFileText(
            dir_.File("lighttpd.conf"),
            "server.modules = (\"mod_auth\", \"mod_authn_file\", \"mod_webdav\", \"mod_openssl\")\n"
            "server.document-root = \"" +
                d +
                "/root\"\n"
                "server.bind = \"127.0.0.1\"\n"
                "server.port = " +
                std::to_string(nHttp_) +
                "\n"
                "server.errorlog = \"" +
                d +
                "/error.log\"\n"
                "server.upload-dirs = (\"" +
                d +
                "/upload\")\n"
                "webdav.activate = \"enable\"\n"
                "webdav.is-readonly = \"disable\"\n"
                "auth.backend = \"htdigest\"\n"
                "auth.backend.htdigest.userfile = \"" +
                d +
                "/htdigest\"\n"
                "$HTTP[\"url\"] =^ \"/basic/\" { auth.require = (\"\" => (\"method\" => \"basic\", "
                "\"realm\" => \"brindle\", \"require\" => \"valid-user\")) }\n"
                "$HTTP[\"url\"] =^ \"/digest/\" { auth.require = (\"\" => (\"method\" => "
                "\"digest\", "
                "\"realm\" => \"brindle\", \"require\" => \"valid-user\", \"algorithm\" => "
                "\"MD5\")) }\n"
                "$SERVER[\"socket\"] == \"127.0.0.1:" +
                std::to_string(nTls_) + "\"" + tls +
                "$SERVER[\"socket\"] == \"127.0.0.2:" + std::to_string(nOtherIp_) + "\"" + tls);
        std::filesystem::remove(dir_.File("error.log"));
        if (!process_.Start("/usr/sbin/lighttpd", {"-D", "-f", dir_.File("lighttpd.conf")},
                            dir_.File("lighttpd.out")))
            return "lighttpd could not be run";
        // lighttpd binds every socket before it logs that it started, and
        // ends at once when a bind fails.
        bool fExited = false;
        WaitUntil(
            [&] {
                fExited = !process_.Running() || process_.Wait(0) != -1;
                return fExited || ReadFileText(dir_.File("error.log")).find("server started") !=
                                      std::string::npos;
            },
            20000, 20);
        if (fExited || !WaitAccepting(nHttp_, 20000) || !WaitAccepting(nTls_, 20000)) {
            process_.Stop();
            return "lighttpd did not start: " + ReadFileText(dir_.File("lighttpd.out")) +
                   ReadFileText(dir_.File("error.log"));
        }
        return "";
    }

    static int Run(const std::string& command) {
        return std::system((command + " >/dev/null 2>&1").c_str());
    }

    TempDir dir_;
    ChildProcess process_;
    uint16_t nHttp_ = 0, nTls_ = 0, nOtherIp_ = 0;
};

} // namespace brindle::test
