#include "common/log.h"

#include "common/text_utils.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/time.h>
#include <unistd.h>

namespace brindle {

std::atomic<uint32_t> g_nDebug{0};

namespace {

std::mutex g_logLock;
std::atomic<int> g_logFd{-1};

void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // write failures are not reported to callers
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

} // namespace

bool LogOpen(const std::string& path) {
    // O_APPEND makes "move to the end, then write" one step, so lines of
    // another process writing the same file are never overwritten.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::lock_guard<std::mutex> lock(g_logLock);
    int old = g_logFd.exchange(fd);
    if (old >= 0)
        ::close(old);
    return fd >= 0;
}

void LogWrite(const char* format, ...) {
    if (g_logFd.load() < 0)
        return;

    char line[LOG_LINE_MAX];
    time_t now = ::time(nullptr);
    struct tm tmNow;
    ::localtime_r(&now, &tmNow);
    int head = std::snprintf(line, sizeof line, "%04d/%02d/%02d %02d:%02d:%02d\t",
                             tmNow.tm_year + 1900, tmNow.tm_mon + 1, tmNow.tm_mday, tmNow.tm_hour,
                             tmNow.tm_min, tmNow.tm_sec);
    va_list args;
    va_start(args, format);
    int body = std::vsnprintf(line + head, sizeof line - head, format, args);
    va_end(args);
    if (body < 0)
        body = 0;
    // vsnprintf reports the untruncated length; the line keeps what fitted,
    // in whole characters, and still ends the line so that the next one
    // starts with its timestamp.
    size_t size = static_cast<size_t>(head) + static_cast<size_t>(body);
    if (size > sizeof line - 1) {
        size = Utf8FitLength(std::string_view(line, sizeof line - 1), sizeof line - 3);
        line[size++] = '\r';
        line[size++] = '\n';
    }

    std::lock_guard<std::mutex> lock(g_logLock);
    int fd = g_logFd.load();
    if (fd < 0)
        return;
    // Seek to the end on every line so that lines from other processes and
    // a truncation from outside are respected.
    ::lseek(fd, 0, SEEK_END);
    WriteAll(fd, line, size);
    ::fdatasync(fd);
}

void LogClear() {
    std::lock_guard<std::mutex> lock(g_logLock);
    int fd = g_logFd.load();
    if (fd < 0)
        return;
    ::lseek(fd, 0, SEEK_SET);
    if (::ftruncate(fd, 0) != 0)
        return;
}

void LogFlush() {
    std::lock_guard<std::mutex> lock(g_logLock);
    int fd = g_logFd.load();
    if (fd >= 0)
        ::fdatasync(fd);
}

void LogClose() {
    std::lock_guard<std::mutex> lock(g_logLock);
    int fd = g_logFd.exchange(-1);
    if (fd >= 0)
        ::close(fd);
}

} // namespace brindle
