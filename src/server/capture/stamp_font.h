// The stamp font of a camera: its text form in the settings ("Font"), the
// logical-font record, and the QFont the stamp is drawn with.
#pragma once

#include "common/font_text.h"
#include "server/capture/camera_entry.h"

#include <QFont>

#include <mutex>
#include <string_view>

namespace brindle {

// The QFont of a logical font. A negative height is the character height
// in pixels, a positive one the cell height (taken as the pixel size), 0
// the default size; weight 0 is normal. Escapement and orientation are not
// used: the stamp is always horizontal.
QFont QFontFromLogFont(const LogFont& font);

// The logical font of a QFont, for the font chooser and the settings.
LogFont LogFontFromQFont(const QFont& font);

// Replaces the camera's stamp font with the one of a "Font" text. The
// QFont is swapped under `mainLock` (the frame cycle and the font chooser
// share it). An empty text restores the default font. Returns 0, or
// ERROR_INVALID_PARAMETER_CODE when the text does not parse (the font then
// stays as it was).
uint32_t SetStampFont(CameraEntry& camera, std::string_view text, std::mutex& mainLock);

// The "Font" text of a camera's settings: empty without a font of its own.
std::string StampFontText(const CameraSettings& settings);

} // namespace brindle
