#include "protocol/scrambler.h"

#include "common/ascii.h"
#include "protocol/des.h"
#include "protocol/salt_table.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace brindle {

namespace {

KeyBlock KeyBlockAt(unsigned nIndex) {
    KeyBlock block;
    std::memcpy(block.data(), SaltWindow(nIndex), block.size());
    return block;
}

// Value of a hexadecimal digit; anything else counts as 0, since stored
// secrets are read without validation.
uint8_t HexValue(char c) {
    int d = HexDigitValue(c);
    return static_cast<uint8_t>(d < 0 ? 0 : d);
}

} // namespace

KeyBlock KeyBlockForPacket(unsigned nSaltIndex) {
    return KeyBlockAt(nSaltIndex & 63);
}

KeyBlock KeyBlockForSecret(size_t n) {
    return KeyBlockAt(static_cast<unsigned>(n & 63));
}

void ScrambleStream(std::span<uint8_t> data, const KeyBlock& keyBlock) {
    if (data.empty())
        return;
    DesKeySchedule schedule = DesSetKey(keyBlock.data());
    uint64_t registerValue = 0;
    for (size_t i = 8; i < 16; ++i)
        registerValue = (registerValue << 8) | keyBlock[i];
    DesOfb8(schedule, registerValue, data.data(), data.size());
}

std::string SecretToText(std::string_view secret) {
    std::string bytes(secret);
    ScrambleStream({reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()},
                   KeyBlockForSecret(bytes.size()));
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        text.push_back(kDigits[c >> 4]);
        text.push_back(kDigits[c & 15]);
    }
    return text;
}

std::string TextToSecret(std::string_view text) {
    std::string bytes(text.size() / 2, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((HexValue(text[2 * i]) << 4) | HexValue(text[2 * i + 1]));
    ScrambleStream({reinterpret_cast<uint8_t*>(bytes.data()), bytes.size()},
                   KeyBlockForSecret(bytes.size()));
    return bytes;
}

std::string StampedSecretToText(std::string_view secret, uint64_t nStamp) {
    char stamp[24];
    std::snprintf(stamp, sizeof stamp, "/%" PRIX64, nStamp);
    return SecretToText(secret) + stamp;
}

std::string TextToStampedSecret(std::string_view text, uint64_t& nStamp) {
    nStamp = 0;
    size_t slash = text.find('/');
    if (slash == std::string_view::npos)
        return TextToSecret(text);
    for (size_t i = slash + 1; i < text.size() && HexDigitValue(text[i]) >= 0; ++i)
        nStamp = (nStamp << 4) | HexValue(text[i]);
    return TextToSecret(text.substr(0, slash));
}

} // namespace brindle
