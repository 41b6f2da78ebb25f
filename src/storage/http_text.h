// Text helpers of the HTTP client: URL encoding and the traffic dump.
#pragma once

#include <string>
#include <string_view>

namespace brindle {

// Bytes 0x00-0x1F, the reserved characters !$&+,:;=?@ "<>#%{}|\^~[]` and,
// unless fKeepSlash, "/" become "%XX" (upper-case digits); every other byte,
// 0x7F and bytes from 0x80 included, is copied.
std::string UrlEncode(std::string_view text, bool fKeepSlash);

// The dump file beside a settings file: its ".ini" ending (any case)
// replaced by "-html.dmp", or "-html.dmp" appended.
std::string HttpDumpPathFor(std::string_view settingsPath);

// Sets the dump file (empty: no dump). The dump is written only while the
// "Debug" setting has DEBUG_HTTP_DUMP.
void SetHttpDumpFile(const std::string& path);
// Closes the dump file; the next record opens it again.
void CloseHttpDumpFile();

// A header block with the values of Authorization, Proxy-Authorization,
// Cookie, Set-Cookie and Authentication-Info replaced by "****", so that
// no credential reaches the dump.
std::string MaskSecretHeaders(std::string_view header);

// Appends "[date time] SEND host=..." or "RECV" and the masked header of a
// request or answer to the dump file (created 0600, never truncated).
void HttpDumpRecord(const char* pcDirection, std::string_view host, std::string_view header);

} // namespace brindle
