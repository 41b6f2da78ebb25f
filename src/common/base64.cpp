#include "common/base64.h"

#include "common/error_codes.h"

namespace brindle {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Decodes one group of four; `last` allows padding in it.
bool DecodeGroup(std::string_view group, bool last, std::string& bytes) {
    size_t pad = 0;
    if (last && group[3] == '=')
        pad = group[2] == '=' ? 2 : 1;
    uint32_t bits = 0;
    for (size_t i = 0; i < 4; ++i) {
        int sextet = i < 4 - pad ? SextetOf(group[i]) : 0;
        if (sextet < 0)
            return false;
        bits = bits << 6 | static_cast<uint32_t>(sextet);
    }
    bytes.push_back(static_cast<char>(bits >> 16));
    if (pad < 2)
        bytes.push_back(static_cast<char>(bits >> 8));
    if (pad < 1)
        bytes.push_back(static_cast<char>(bits));
    return true;
}

} // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        uint32_t bits = 0;
        for (size_t j = 0; j < 3; ++j)
            bits = bits << 8 | (j < n ? static_cast<uint8_t>(bytes[i + j]) : 0u);
        text.push_back(kAlphabet[bits >> 18 & 63]);
        text.push_back(kAlphabet[bits >> 12 & 63]);
        text.push_back(n > 1 ? kAlphabet[bits >> 6 & 63] : '=');
        text.push_back(n > 2 ? kAlphabet[bits & 63] : '=');
    }
    return text;
}

uint32_t Base64Decode(std::string_view text, std::string& bytes) {
    bytes.clear();
    if (text.size() % 4 != 0)
        return ERROR_INVALID_PARAMETER_CODE;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        if (!DecodeGroup(text.substr(i, 4), i + 4 == text.size(), bytes)) {
            bytes.clear();
            return ERROR_INVALID_PARAMETER_CODE;
        }
    }
    return 0;
}

} // namespace brindle
