#include "common/font_text.h"

#include "common/error_codes.h"
#include "common/text_utils.h"

#include <cstdio>
#include <cstring>

namespace brindle {

namespace {

// One "%ld"-style number at `pos` (ScanNumber), wrapped to 32 bits.
// Advances `pos` past it.
bool ReadNumber(std::string_view text, size_t& pos, uint32_t& value) {
    std::optional<ScannedNumber> number = ScanNumber(text.substr(pos), 10);
    if (!number)
        return false;
    value = static_cast<uint32_t>(number->value);
    pos += number->used;
    return true;
}

} // namespace

std::string FontToText(const LogFont& font) {
    char face[LF_FACESIZE + 1];
    std::memcpy(face, font.lfFaceName, LF_FACESIZE);
    face[LF_FACESIZE] = '\0';
    char text[256];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d,%u,%u,%u,%u,%u,%u,%u,%u,%s", font.lfHeight,
                  font.lfWidth, font.lfEscapement, font.lfOrientation, font.lfWeight, font.lfItalic,
                  font.lfUnderline, font.lfStrikeOut, font.lfCharSet, font.lfOutPrecision,
                  font.lfClipPrecision, font.lfQuality, font.lfPitchAndFamily, face);
    return text;
}

uint32_t TextToFont(std::string_view text, LogFont& font) {
    uint32_t numbers[13];
    size_t pos = 0;
    for (int i = 0; i < 13; ++i) {
        if (i > 0 && (pos >= text.size() || text[pos++] != ','))
            return ERROR_INVALID_PARAMETER_CODE;
        if (!ReadNumber(text, pos, numbers[i]))
            return ERROR_INVALID_PARAMETER_CODE;
    }
    LogFont read;
    int32_t* wide[] = {&read.lfHeight, &read.lfWidth, &read.lfEscapement, &read.lfOrientation,
                       &read.lfWeight};
    uint8_t* narrow[] = {&read.lfItalic,  &read.lfUnderline,     &read.lfStrikeOut,
                         &read.lfCharSet, &read.lfOutPrecision,  &read.lfClipPrecision,
                         &read.lfQuality, &read.lfPitchAndFamily};
    for (int i = 0; i < 5; ++i)
        *wide[i] = static_cast<int32_t>(numbers[i]);
    for (int i = 0; i < 8; ++i)
        *narrow[i] = static_cast<uint8_t>(numbers[5 + i]);
    if (pos < text.size() && text[pos] == ',') {
        std::string_view face = text.substr(pos + 1);
        face = face.substr(0, Utf8FitLength(face.substr(0, face.find('\0')), LF_FACESIZE - 1));
        std::memcpy(read.lfFaceName, face.data(), face.size());
    }
    font = read;
    return 0;
}

} // namespace brindle
