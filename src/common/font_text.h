// The text form of a logical font, as stored in the settings files and sent
// in property descriptions: "height,width,escapement,orientation,weight,
// italic,underline,strikeOut,charSet,outPrecision,clipPrecision,quality,
// pitchAndFamily,faceName".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

inline constexpr size_t LF_FACESIZE = 32;

// The fields of the Windows LOGFONT, kept as a plain value; the window code
// maps it to and from QFont.
struct LogFont {
    int32_t lfHeight = 0;
    int32_t lfWidth = 0;
    int32_t lfEscapement = 0;
    int32_t lfOrientation = 0;
    int32_t lfWeight = 0;
    uint8_t lfItalic = 0;
    uint8_t lfUnderline = 0;
    uint8_t lfStrikeOut = 0;
    uint8_t lfCharSet = 0;
    uint8_t lfOutPrecision = 0;
    uint8_t lfClipPrecision = 0;
    uint8_t lfQuality = 0;
    uint8_t lfPitchAndFamily = 0;
    char lfFaceName[LF_FACESIZE] = {}; // NUL-terminated UTF-8
};

std::string FontToText(const LogFont& font);

// Reads the text form. All 13 numbers are required; otherwise returns
// ERROR_INVALID_PARAMETER_CODE and leaves `font` unchanged. On success the
// font is reset, the numbers stored (the last eight as bytes, truncated) and
// the face name is the rest of the text after the comma that follows the
// 13th number (commas in it included), cut to fit lfFaceName.
uint32_t TextToFont(std::string_view text, LogFont& font);

} // namespace brindle
