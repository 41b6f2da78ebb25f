#include "server/capture/stamp_font.h"

#include "common/error_codes.h"

namespace brindle {

QFont QFontFromLogFont(const LogFont& font) {
    return QFontFromLogFont(font, DefaultStampFont());
}

uint32_t SetStampFont(CameraEntry& camera, std::string_view text, std::mutex& mainLock) {
    CameraSettings& settings = camera.settings;
    if (text.empty()) {
        settings.lfFont = LogFont{};
        settings.fFont = 0;
        std::lock_guard<std::mutex> guard(mainLock);
        camera.stampFont = DefaultStampFont();
        return 0;
    }
    LogFont font;
    if (TextToFont(text, font) != 0)
        return ERROR_INVALID_PARAMETER_CODE;
    QFont qfont = QFontFromLogFont(font);
    settings.lfFont = font;
    settings.fFont = 1;
    std::lock_guard<std::mutex> guard(mainLock);
    camera.stampFont = qfont;
    return 0;
}

std::string StampFontText(const CameraSettings& settings) {
    return settings.fFont ? FontToText(settings.lfFont) : std::string();
}

} // namespace brindle
