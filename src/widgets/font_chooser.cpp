#include "widgets/font_chooser.h"

#include "common/font_text.h"
#include "image/font_mapping.h"

#include <QFontDialog>

namespace brindle {

std::optional<QFont> QtFontDialog(QWidget* owner, const QFont& initial) {
    bool fOk = false;
    QFont font = QFontDialog::getFont(&fOk, initial, owner);
    if (!fOk)
        return std::nullopt;
    return font;
}

bool ChooseFontText(QWidget* owner, std::string& fontText, const QFont& base,
                    const FontDialog& dialog) {
    QFont initial = base;
    LogFont current;
    if (!fontText.empty() && TextToFont(fontText, current) == 0)
        initial = QFontFromLogFont(current, base);
    std::optional<QFont> chosen = dialog(owner, initial);
    if (!chosen)
        return false;
    fontText = FontToText(LogFontFromQFont(*chosen));
    return true;
}

} // namespace brindle
