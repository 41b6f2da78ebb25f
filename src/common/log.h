// The program's log: one timestamped line per event, flushed to disk before
// LogWrite returns. Any thread may log; lines never interleave.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace brindle {

// One line, timestamp included, holds at most this many bytes; a longer
// message is cut.
inline constexpr size_t LOG_LINE_MAX = 32768;

// Opens (creating when missing, keeping what is there) the log file at
// `path` and enables logging. Returns false when the file cannot be opened;
// logging then stays disabled and every LogWrite is a no-op.
bool LogOpen(const std::string& path);

// Formats "YYYY/MM/DD hh:mm:ss\t" + the message and appends it to the end
// of the file in one write, then flushes. Messages carry their own "\r\n".
void LogWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Cuts the file to zero length; later lines start at the top.
void LogClear();

// Flushes the file to disk (before the log is shown to the user).
void LogFlush();

// Closes the file; later LogWrite calls are no-ops.
void LogClose();

// The process-wide "Debug" bit word of the settings file.
inline constexpr uint32_t DEBUG_HTTP_DUMP = 1;
inline constexpr uint32_t DEBUG_RELAY_DETAIL = 2;
inline constexpr uint32_t DEBUG_SHOW_PASSWORDS = 4;
inline constexpr uint32_t DEBUG_TRACE = 8;
extern std::atomic<uint32_t> g_nDebug;

} // namespace brindle
