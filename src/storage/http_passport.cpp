// The Passport1.4 sign-in: a storage server that answers 302 with a
// Passport1.4 challenge sends us to a login server; the ticket from there
// goes with later requests of the same account.
#include "storage/http_auth.h"

#include "common/error_text.h"
#include "common/log.h"
#include "common/text_utils.h"
#include "storage/http_text.h"

#include <cstdlib>

namespace brindle {

namespace {

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

struct LoginTarget {
    std::string cHost;
    uint16_t nPort = 0;
    std::string cPath; // without the leading "/"
};

// "https://host[:port]/path?query" -> host, port, path with "2" before its
// last ".". Only https: the sign-in carries the password.
bool ParseLocation(std::string_view location, LoginTarget& target) {
    if (!StartsNoCase(location, "https://")) {
        LogWrite(StartsNoCase(location, "http://")
                     ? "Passport1.4 refused plain http Location\r\n"
                     : "Passport1.4 unknown protocol scheme Location\r\n");
        return false;
    }
    std::string_view rest = location.substr(8);
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        LogWrite("Passport1.4 missing / to separate Location host and path\r\n");
        return false;
    }
    std::string_view host = rest.substr(0, slash);
    size_t colon = host.rfind(':');
    if (colon != std::string_view::npos) {
        target.nPort =
            static_cast<uint16_t>(std::atoi(std::string(host.substr(colon + 1)).c_str()));
        host = host.substr(0, colon);
    }
    target.cHost = std::string(host);
    std::string path(rest.substr(slash + 1));
    path = path.substr(0, path.find('?'));
    size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        path += '2';
    else
        path.insert(dot, "2");
    target.cPath = path;
    for (char c : target.cHost + target.cPath) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
            return false;
    }
    return !target.cHost.empty();
}

// The parameters of an authentication server challenge that go back with
// the sign-in, each as ",name=value".
std::string KeptParameters(std::string_view challenge) {
    static constexpr std::string_view kDropped[] = {"prompt", "da-status", "srealm", "cburl",
                                                    "cbtxt"};
    std::string kept;
    size_t start = 0;
    while (start < challenge.size()) {
        size_t end = challenge.find(',', start);
        std::string_view item = TrimSpaceTab(
            challenge.substr(start, end == challenge.npos ? challenge.npos : end - start));
        std::string_view name = item.substr(0, item.find('='));
        bool fDrop = item.empty();
        for (std::string_view d : kDropped)
            fDrop = fDrop || EqualNoCase(name, d);
        if (!fDrop)
            kept += "," + std::string(item);
        if (end == challenge.npos)
            break;
        start = end + 1;
    }
    return kept;
}

// One request and its answer on the login connection, reopening it when the
// previous answer closed it.
bool Exchange(HttpConnection& connection, const LoginTarget& target, StorageAccount& account,
              const std::string& request, HttpAnswer& answer, uint32_t& nError) {
    int nKind = std::abs(account.nSsl);
    if (nKind == 0)
        nKind = 1; // an "http://" account that never chose a method negotiates
    if (!connection.Reusable()) {
        bool fAnyCert = false;
        {
            std::lock_guard lock(account.lock);
            fAnyCert = account.nAnyCert == 1;
        }
        nError = connection.Open(target.cHost, target.nPort, nKind, fAnyCert,
                                 account.tls[TLS_SLOT_AUTH]);
        if (nError != 0) {
            LogWrite("パスポート認証サーバ%s接続失敗(0x%08X-%s)\r\n", target.cHost.c_str(), nError,
                     ErrorText(nError).c_str());
            return false;
        }
    }
    return HttpSend(connection, target.cHost.c_str(), request, nError) >= 0 &&
           HttpReceive(connection, target.cHost.c_str(), answer, nError) >= 0;
}

std::string LoginRequest(const LoginTarget& target, const std::string& authorization) {
    return "GET /" + target.cPath + " HTTP/1.1\r\nHost: " + target.cHost +
           "\r\nAuthorization: Passport1.4 " + authorization +
           "\r\nConnection: Keep-Alive\r\nUser-Agent: Brindleshank (Win32)\r\nContent-Length: "
           "0\r\n\r\n";
}

// OrgUrl: the account's base URI up to the first segment of the request
// path, then the whole request path.
bool OrgUrl(const std::string& uri, std::string_view path, std::string& orgUrl) {
    size_t end = path.find('/', 1);
    std::string_view segment = path.substr(0, end);
    size_t hostStart = uri.find("://");
    size_t at = uri.find(segment, hostStart == std::string::npos ? 0 : hostStart + 3);
    if (segment.empty() || at == std::string::npos) {
        LogWrite("Passport1.4 missing / in request path\r\n");
        return false;
    }
    orgUrl = uri.substr(0, at) + std::string(path);
    return true;
}

void SignIn(std::string_view method, StorageAccount& account, const HttpAnswer& answer,
            std::string_view path, uint32_t& nError, const Clock& clock, const HttpWake* wake) {
    std::string_view challenge, location;
    if (!HttpHeaderField(answer.header, "WWW-Authenticate", challenge) ||
        !StartsNoCase(challenge, "Passport1.4")) {
        LogWrite("Passport1.4 missing Partner Server Challenge Message\r\n");
        return;
    }
    std::string partner(TrimSpaceTab(challenge.substr(11)));
    std::string uri, user, password;
    {
        std::lock_guard lock(account.lock);
        uri = account.cUri, user = account.cUser, password = account.cPasswd;
    }
    std::string orgUrl;
    if (!OrgUrl(uri, path, orgUrl))
        return;
    if (!HttpHeaderField(answer.header, "Location", location)) {
        LogWrite("Passport1.4 missing Location\r\n");
        return;
    }
    LoginTarget target;
    if (!ParseLocation(location, target))
        return;

    HttpConnection connection(clock, wake);
    HttpAnswer reply;
    std::string verb(method);
    if (!Exchange(
            connection, target, account,
            LoginRequest(target, "tname=,OrgVerb=" + verb + ",OrgUrl=" + orgUrl + "," + partner),
            reply, nError))
        return;
    nError = ERR_PASSPORT;
    if (reply.nStatus != 401) {
        LogWrite("Passport1.4 response %d with 1st Token Request message\r\n", reply.nStatus);
        return;
    }
    std::string_view server;
    if (!HttpHeaderField(reply.header, "WWW-Authenticate", server) ||
        !StartsNoCase(server, "Passport1.4")) {
        LogWrite("Passport1.4 missing Authentication Server Challenge Message\r\n");
        return;
    }
    std::string kept = KeptParameters(server.substr(11));
    std::string signIn = "sign-in=" + UrlEncode(user, false) +
                         ",pwd=" + UrlEncode(password, false) + ",elapsed-time=0,OrgVerb=" + verb +
                         ",OrgUrl=" + orgUrl + kept + "," + partner;
    if (!Exchange(connection, target, account, LoginRequest(target, signIn), reply, nError))
        return;
    nError = ERR_PASSPORT;
    if (reply.nStatus < 200 || reply.nStatus > 299) {
        LogWrite("Passport1.4 response %d with Sign-in Request Message\r\n", reply.nStatus);
        return;
    }
    std::string_view info;
    if (!HttpHeaderField(reply.header, "Authentication-Info", info) ||
        !StartsNoCase(info, "Passport1.4")) {
        LogWrite("Passport1.4 missing Authentication-Info\r\n");
        return;
    }
    size_t at = FindTextNoCase(info, "from-PP=");
    std::string ticket;
    if (at != std::string_view::npos) {
        std::string_view value = info.substr(at + 8);
        value = value.substr(0, value.find(','));
        while (!value.empty() && static_cast<unsigned char>(value.back()) < '!')
            value.remove_suffix(1);
        ticket = std::string(value);
    }
    for (char c : ticket) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            ticket.clear();
    }
    if (ticket.empty()) {
        LogWrite("パスポート認証結果異常(%.*s)\r\n", static_cast<int>(info.size()), info.data());
        return;
    }
    std::lock_guard lock(account.lock);
    account.cTicket = ticket;
    account.nAuth = AUTH_PASSPORT;
    SaveAccountNumber(account, "Auth", account.nAuth);
    nError = 0;
}

} // namespace

size_t PassportStep(std::string& line, std::string_view method, StorageAccount& account,
                    const HttpAnswer* answer, std::string_view path, uint32_t& nError,
                    const Clock& clock, const HttpWake* wake) {
    line.clear();
    if (answer) {
        nError = ERR_PASSPORT;
        {
            std::lock_guard lock(account.lock);
            account.cTicket.clear();
        }
        SignIn(method, account, *answer, path, nError, clock, wake);
    }
    std::lock_guard lock(account.lock);
    if (account.cTicket.empty())
        return 0;
    line = "Authorization: Passport1.4 from-PP=" + account.cTicket + "\r\n";
    return line.size();
}

} // namespace brindle
