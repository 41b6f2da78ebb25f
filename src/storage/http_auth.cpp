#include "storage/http_auth.h"

#include "common/log.h"
#include "common/md5.h"
#include "common/text_utils.h"
#include "storage/http_text.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace brindle {

namespace {

constexpr const char* kUserAgent = "Brindleshank";

bool StartsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimLow(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) < '!')
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) < '!')
        s.remove_suffix(1);
    return s;
}

bool SafeValue(std::string_view value, size_t nMax) {
    if (value.empty() || value.size() > nMax)
        return false;
    for (char c : value) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '"' || c == '\\')
            return false;
    }
    return true;
}

// The comma-separated parameters of a challenge, quoted values unquoted.
// Calls take(name, value) for each.
template <class F> void ForEachParameter(std::string_view text, F take) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (static_cast<unsigned char>(text[i]) < '!' || text[i] == ','))
            ++i;
        size_t eq = text.find('=', i);
        size_t comma = text.find(',', i);
        if (eq == std::string_view::npos || (comma != std::string_view::npos && comma < eq)) {
            take(TrimLow(text.substr(i, comma - i)), std::string_view());
            i = comma == std::string_view::npos ? text.size() : comma + 1;
            continue;
        }
        std::string_view name = TrimLow(text.substr(i, eq - i));
        size_t v = eq + 1;
        while (v < text.size() && (text[v] == ' ' || text[v] == '\t'))
            ++v;
        std::string_view value;
        if (v < text.size() && text[v] == '"') {
            size_t close = text.find('"', v + 1);
            if (close == std::string_view::npos)
                close = text.size();
            value = text.substr(v + 1, close - v - 1);
            i = text.find(',', close);
        } else {
            size_t end = text.find(',', v);
            value = TrimLow(text.substr(v, end == std::string_view::npos ? text.npos : end - v));
            i = end;
        }
        take(name, value);
        if (i == std::string_view::npos)
            break;
        ++i;
    }
}

bool HasQopAuth(std::string_view qop) {
    bool found = false;
    size_t start = 0;
    while (start <= qop.size()) {
        size_t end = qop.find(',', start);
        if (EqualNoCase(TrimLow(qop.substr(start, end == qop.npos ? qop.npos : end - start)),
                        "auth"))
            found = true;
        if (end == qop.npos)
            break;
        start = end + 1;
    }
    return found;
}

std::vector<std::string_view> AuthenticateFields(std::string_view header, std::string_view name) {
    return HttpHeaderFields(header, name);
}

bool TakeDigestChallenge(StorageAccount& account, std::string_view header) {
    for (std::string_view field : AuthenticateFields(header, "WWW-Authenticate")) {
        if (!StartsNoCase(field, "digest"))
            continue;
        std::string_view realm, nonce, algorithm, qop;
        bool fAlgorithm = false, fQop = false;
        ForEachParameter(field.substr(6), [&](std::string_view name, std::string_view value) {
            if (EqualNoCase(name, "realm"))
                realm = value;
            else if (EqualNoCase(name, "nonce"))
                nonce = value;
            else if (EqualNoCase(name, "algorithm"))
                algorithm = value, fAlgorithm = true;
            else if (EqualNoCase(name, "qop"))
                qop = value, fQop = true;
        });
        // Only MD5 with qop=auth is computed; anything else would be answered
        // with a digest the server does not expect.
        if (!fAlgorithm || !EqualNoCase(algorithm, "MD5") || !fQop || !HasQopAuth(qop) ||
            !SafeValue(realm, DIGEST_REALM_MAX) || !SafeValue(nonce, DIGEST_REALM_MAX))
            continue;
        account.cRealm = std::string(realm);
        account.cNonce = std::string(nonce);
        account.cAlgorithm = "MD5";
        account.cQop = "auth";
        return true;
    }
    return false;
}

std::string DigestLine(StorageAccount& account, std::string_view method, std::string_view path,
                       const Clock& clock) {
    ++account.nNc;
    uint64_t nCnonce = SystemTimeToFileTime(clock.LocalNow());
    std::string ha1 =
        Md5Hex("%s:%s:%s", account.cUser.c_str(), account.cRealm.c_str(), account.cPasswd.c_str());
    std::string ha2 = Md5Hex("%.*s:%.*s", static_cast<int>(method.size()), method.data(),
                             static_cast<int>(path.size()), path.data());
    std::string response =
        Md5Hex("%s:%s:%08x:%016" PRIx64 ":%s:%s", ha1.c_str(), account.cNonce.c_str(), account.nNc,
               nCnonce, account.cQop.c_str(), ha2.c_str());
    char head[1024];
    std::snprintf(head, sizeof head,
                  "Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", "
                  "uri=\"%.*s\", algorithm=%s, qop=%s, nc=%08x, cnonce=\"%016" PRIx64
                  "\", response=\"",
                  account.cUser.c_str(), account.cRealm.c_str(), account.cNonce.c_str(),
                  static_cast<int>(std::min<size_t>(path.size(), 512)), path.data(),
                  account.cAlgorithm.c_str(), account.cQop.c_str(), account.nNc, nCnonce);
    return head + response + "\"\r\n";
}

} // namespace

size_t DigestStep(std::string& line, std::string_view method, StorageAccount& account,
                  const HttpAnswer* answer, std::string_view path, const Clock& clock) {
    line.clear();
    std::lock_guard lock(account.lock);
    if (answer) {
        if (TakeDigestChallenge(account, answer->header)) {
            account.nNc = 0;
            account.cCookieLine.clear();
            account.nAuth = AUTH_DIGEST;
            SaveDigestState(account);
        } else {
            if (account.nAuth == AUTH_DIGEST) {
                account.cCookieLine.clear();
                account.nAuth = AUTH_BASIC;
                SaveAccountNumber(account, "Auth", account.nAuth);
            }
            return 0;
        }
    }
    if (account.nAuth != AUTH_DIGEST || account.cNonce.empty())
        return 0;
    line = DigestLine(account, method, path, clock);
    return line.size();
}

size_t CookieStep(const HttpAnswer& answer, StorageAccount& account) {
    std::lock_guard lock(account.lock);
    if (account.nAuth != AUTH_PASSPORT)
        return 0;
    std::string_view info;
    if (!HttpHeaderField(answer.header, "Authentication-Info", info) ||
        !StartsNoCase(info, "Passport1.4")) {
        LogWrite("Passport1.4 missing Authentication-Info\r\n");
        return 0;
    }
    std::string& cookies = account.cCookieLine;
    if (cookies.size() >= 2 && cookies.compare(cookies.size() - 2, 2, "\r\n") == 0)
        cookies.resize(cookies.size() - 2);
    ForEachParameter(info.substr(11), [&](std::string_view name, std::string_view value) {
        if (!EqualNoCase(name, "tname") || value.empty())
            return;
        for (std::string_view field : AuthenticateFields(answer.header, "Set-Cookie")) {
            if (!StartsNoCase(field, value))
                continue;
            std::string_view cookie = field.substr(0, field.find(';'));
            if (!SafeValue(cookie, 4096))
                break;
            size_t at = FindTextNoCase(cookies, std::string(value) + "=");
            if (at != std::string_view::npos) {
                size_t end = cookies.find(';', at);
                cookies.replace(at, end == std::string::npos ? std::string::npos : end - at,
                                cookie);
            } else {
                cookies += cookies.empty() ? "Cookie: " : "\r\n ";
                cookies.append(cookie);
                cookies += "; ";
            }
            break;
        }
    });
    if (!cookies.empty())
        cookies += "\r\n";
    return cookies.size();
}

std::string AuthorizationLines(StorageAccount& account, std::string_view method,
                               std::string_view path, const Clock& clock) {
    std::string line;
    if (DigestStep(line, method, account, nullptr, path, clock) == 0) {
        uint32_t nError = 0;
        PassportStep(line, method, account, nullptr, path, nError, clock);
    }
    std::lock_guard lock(account.lock);
    std::string out;
    if (account.nAuth == AUTH_PASSPORT && !account.cCookieLine.empty())
        out.clear();
    else if (!line.empty())
        out = line;
    else
        out = account.cBasicLine;
    return out + account.cCookieLine;
}

bool AuthAfterAnswer(StorageAccount& account, std::string_view method, std::string_view path,
                     const HttpAnswer& answer, bool fFirstAttempt, const Clock& clock,
                     const HttpWake* wake) {
    if (answer.nStatus >= 200 && answer.nStatus < 300) {
        CookieStep(answer, account);
        return false;
    }
    std::string line;
    size_t n = 0;
    if (fFirstAttempt && answer.nStatus == 302) {
        uint32_t nError = 0;
        n = PassportStep(line, method, account, &answer, path, nError, clock, wake);
    } else if (fFirstAttempt && answer.nStatus == 401) {
        n = DigestStep(line, method, account, &answer, path, clock);
        if (n > 0) {
            // The line was built for a request that is not sent: the next
            // request builds its own with the next count.
            std::lock_guard lock(account.lock);
            --account.nNc;
        }
    }
    if (n == 0) {
        std::string_view status =
            std::string_view(answer.header).substr(0, answer.header.find("\r\n"));
        LogWrite("%s %.*s response %.*s\r\n", account.cHost.c_str(),
                 static_cast<int>(method.size()), method.data(), static_cast<int>(status.size()),
                 status.data());
    }
    return n > 0;
}

} // namespace brindle
