// The font chooser over the text form of a font ("Font" settings).
#pragma once

#include <QFont>

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace brindle {

// Asks the user for a font: owner, the font it opens with → the chosen
// font, or nothing when cancelled. The windows use QtFontDialog; tests put
// their own in.
using FontDialog = std::function<std::optional<QFont>(QWidget* owner, const QFont& initial)>;

// A modal QFontDialog.
std::optional<QFont> QtFontDialog(QWidget* owner, const QFont& initial);

// Opens the chooser at the font of `fontText` (on `base`, which also
// stands in when the text is empty or does not parse). On OK `fontText`
// becomes the text of the chosen font and the result is true; on cancel it
// stays as it was.
bool ChooseFontText(QWidget* owner, std::string& fontText, const QFont& base,
                    const FontDialog& dialog = QtFontDialog);

} // namespace brindle
