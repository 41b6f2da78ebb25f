#include "storage/http_text.h"

#include "common/log.h"
#include "common/text_utils.h"
#include "common/unique_fd.h"
#include "platform/clock.h"

#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {

std::string UrlEncode(std::string_view text, bool fKeepSlash) {
    static constexpr std::string_view kReserved = "!$&+,:;=?@ \"<>#%{}|\\^~[]`";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || (c == '/' && !fKeepSlash) || kReserved.find(c) != std::string_view::npos) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string HttpDumpPathFor(std::string_view settingsPath) {
    std::string_view base = settingsPath;
    if (base.size() >= 4 && EqualNoCase(base.substr(base.size() - 4), ".ini"))
        base.remove_suffix(4);
    return std::string(base) + "-html.dmp";
}

std::string MaskSecretHeaders(std::string_view header) {
    static constexpr std::string_view kSecret[] = {"Authorization", "Proxy-Authorization", "Cookie",
                                                   "Set-Cookie", "Authentication-Info"};
    std::string out;
    bool fMasking = false;
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find("\r\n", pos);
        end = end == std::string_view::npos ? header.size() : end + 2;
        std::string_view line = header.substr(pos, end - pos);
        pos = end;
        bool fFolded = !line.empty() && (line[0] == ' ' || line[0] == '\t');
        if (fFolded && fMasking)
            continue; // a folded line goes on with the masked value
        fMasking = false;
        size_t colon = line.find(':');
        if (!fFolded && colon != std::string_view::npos) {
            for (std::string_view name : kSecret) {
                if (EqualNoCase(TrimSpaceTab(line.substr(0, colon)), name))
                    fMasking = true;
            }
        }
        if (fMasking) {
            out.append(line.substr(0, colon + 1));
            out += " ****\r\n";
        } else {
            out.append(line);
        }
    }
    return out;
}

namespace {

std::mutex g_dumpLock;
std::string g_dumpPath;
UniqueFd g_dumpFd;

} // namespace

void SetHttpDumpFile(const std::string& path) {
    std::lock_guard lock(g_dumpLock);
    g_dumpFd.Reset();
    g_dumpPath = path;
}

void CloseHttpDumpFile() {
    std::lock_guard lock(g_dumpLock);
    g_dumpFd.Reset();
}

void HttpDumpRecord(const char* pcDirection, std::string_view host, std::string_view header) {
    if ((g_nDebug.load() & DEBUG_HTTP_DUMP) == 0)
        return;
    SystemTime st = SystemClock().LocalNow();
    char head[512];
    std::snprintf(head, sizeof head, "[%04hu/%02hu/%02hu %02hu:%02hu:%02hu] %s host=%.*s\r\n",
                  st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, pcDirection,
                  static_cast<int>(std::min<size_t>(host.size(), 256)), host.data());
    std::string record = head + MaskSecretHeaders(header);
    std::lock_guard lock(g_dumpLock);
    if (!g_dumpFd && !g_dumpPath.empty()) {
        g_dumpFd.Reset(::open(g_dumpPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
        if (g_dumpFd)
            ::fchmod(g_dumpFd.Get(), 0600); // an older dump may have been readable by others
    }
    if (g_dumpFd) {
        ssize_t n = ::write(g_dumpFd.Get(), record.data(), record.size());
        (void)n;
    }
}

} // namespace brindle
