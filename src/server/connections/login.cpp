#include "server/connections/login.h"

#include "common/error_codes.h"
#include "common/file_io.h"
#include "common/ini_text.h"
#include "common/little_endian.h"
#include "common/md5.h"

#include <cstring>

namespace brindle {

namespace {

// Settings files beyond this size are not sent; the client would refuse
// them anyway.
constexpr size_t CAMERA_INFO_MAX = 16u << 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// True when the line (without its line end) is a "Passwd" key line.
bool IsPasswordLine(std::string_view line) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    std::string_view key = line.substr(0, eq);
    while (!key.empty() && IsBlank(key.front()))
        key.remove_prefix(1);
    while (!key.empty() && IsBlank(key.back()))
        key.remove_suffix(1);
    return IniNameEqual(key, "Passwd");
}

// Removes one line end ("\r\n" or "\n") from the end of `text`.
void DropLineEnd(std::string& text) {
    if (text.empty() || text.back() != '\n')
        return;
    text.pop_back();
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
}

} // namespace

LoginBlock LoginChallenge(uint64_t nFileTime) {
    uint8_t bytes[8];
    StoreLe64(bytes, nFileTime);
    Md5Context context;
    Md5Init(context);
    Md5Update(context, bytes, sizeof bytes);
    LoginBlock out{};
    Md5Final(context, out.data());
    return out;
}

LoginBlock LoginDigest(std::string_view password, const LoginBlock& challenge) {
    Md5Context context;
    Md5Init(context);
    Md5Update(context, LOGIN_PRODUCT_WORD, sizeof LOGIN_PRODUCT_WORD - 1);
    Md5Update(context, password.data(), password.size());
    Md5Update(context, challenge.data(), challenge.size());
    LoginBlock out{};
    Md5Final(context, out.data());
    return out;
}

std::string StripPasswordLines(std::string_view text) {
    // A removed line goes with its own line end; a last line without one
    // takes the line end in front of it, so that no dangling line end stays.
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        size_t next = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view line = text.substr(pos, next - pos);
        if (!IsPasswordLine(line))
            out.append(line);
        else if (end == std::string_view::npos)
            DropLineEnd(out);
        pos = next;
    }
    return out;
}

uint32_t ReadCameraInformation(const std::string& path, std::string& text) {
    text.clear();
    std::string bytes;
    if (uint32_t err = ReadWholeFile(path, CAMERA_INFO_MAX, bytes))
        return err;
    if (bytes.empty())
        return ERR_INFO_EMPTY;
    text = StripPasswordLines(bytes);
    return 0;
}

} // namespace brindle
