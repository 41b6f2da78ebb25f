// The mapping between the logical-font record of the settings (LogFont) and
// QFont. Both programs use it: the server draws its time stamp with the
// QFont, and both font choosers turn the chosen QFont back into the record.
// Needs only QtGui.
#pragma once

#include "common/font_text.h"

#include <QFont>

namespace brindle {

// The QFont of a logical font, starting from `base` for what the record
// leaves open (an empty face name keeps the base's family, a height of 0
// its size). A negative height is the character height in pixels, a
// positive one the cell height (taken as the pixel size); weight 0 is
// normal. Escapement and orientation are not used: text is drawn
// horizontally.
QFont QFontFromLogFont(const LogFont& font, const QFont& base);

// The logical font of a QFont. A size in points becomes pixels at 96 dots
// per inch, the Windows default the stored heights were made with.
LogFont LogFontFromQFont(const QFont& font);

} // namespace brindle
