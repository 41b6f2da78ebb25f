// The stamp font of a camera: its text form in the settings ("Font"), the
// logical-font record, and the QFont the stamp is drawn with.
#pragma once

#include "common/font_text.h"
#include "image/font_mapping.h"
#include "server/capture/camera_entry.h"

#include <QFont>

#include <mutex>
#include <string_view>

namespace brindle {

// The QFont of a logical font, on the default stamp font. The mapping and
// its way back, LogFontFromQFont, are in image/font_mapping.h.
QFont QFontFromLogFont(const LogFont& font);

// Replaces the camera's stamp font with the one of a "Font" text. The
// QFont is swapped under `mainLock` (the frame cycle and the font chooser
// share it). An empty text restores the default font. Returns 0, or
// ERROR_INVALID_PARAMETER_CODE when the text does not parse (the font then
// stays as it was).
uint32_t SetStampFont(CameraEntry& camera, std::string_view text, std::mutex& mainLock);

// The "Font" text of a camera's settings: empty without a font of its own.
std::string StampFontText(const CameraSettings& settings);

} // namespace brindle
