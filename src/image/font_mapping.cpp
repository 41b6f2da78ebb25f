#include "image/font_mapping.h"

#include "common/text_utils.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace brindle {

namespace {

// The output quality values of the logical font that matter here.
constexpr uint8_t NONANTIALIASED_QUALITY = 3;
constexpr uint8_t ANTIALIASED_QUALITY = 4;
constexpr uint8_t CLEARTYPE_QUALITY = 5;
constexpr uint8_t DEFAULT_CHARSET = 1;

} // namespace

QFont QFontFromLogFont(const LogFont& font, const QFont& base) {
    QFont qfont = base;
    size_t nFace = strnlen(font.lfFaceName, sizeof font.lfFaceName);
    if (nFace > 0)
        qfont.setFamily(QString::fromUtf8(font.lfFaceName, int(nFace)));
    if (font.lfHeight != 0)
        qfont.setPixelSize(std::clamp(std::abs(font.lfHeight), 1, 2000));
    int nWeight = font.lfWeight == 0 ? int(QFont::Normal) : std::clamp(font.lfWeight, 1, 1000);
    qfont.setWeight(QFont::Weight(nWeight));
    qfont.setItalic(font.lfItalic != 0);
    qfont.setUnderline(font.lfUnderline != 0);
    qfont.setStrikeOut(font.lfStrikeOut != 0);
    if (font.lfQuality == NONANTIALIASED_QUALITY)
        qfont.setStyleStrategy(QFont::NoAntialias);
    else if (font.lfQuality == ANTIALIASED_QUALITY || font.lfQuality == CLEARTYPE_QUALITY)
        qfont.setStyleStrategy(QFont::PreferAntialias);
    return qfont;
}

LogFont LogFontFromQFont(const QFont& qfont) {
    LogFont font;
    int nPixels = qfont.pixelSize();
    if (nPixels <= 0)
        nPixels = int(qfont.pointSizeF() * 96.0 / 72.0 + 0.5);
    font.lfHeight = -nPixels;
    font.lfWeight = int32_t(qfont.weight());
    font.lfItalic = qfont.italic() ? 1 : 0;
    font.lfUnderline = qfont.underline() ? 1 : 0;
    font.lfStrikeOut = qfont.strikeOut() ? 1 : 0;
    font.lfCharSet = DEFAULT_CHARSET;
    if (qfont.styleStrategy() & QFont::NoAntialias)
        font.lfQuality = NONANTIALIASED_QUALITY;
    QByteArray face = qfont.family().toUtf8();
    size_t nFace = Utf8FitLength(std::string_view(face.constData(), size_t(face.size())),
                                 sizeof font.lfFaceName - 1);
    std::memcpy(font.lfFaceName, face.constData(), nFace);
    return font;
}

} // namespace brindle
