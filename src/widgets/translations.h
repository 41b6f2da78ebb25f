// The language of the windows. The Japanese texts are the source; English
// is a translation embedded in the program.
#pragma once

#include <QLocale>

class QApplication;

namespace brindle {

// True when the first UI language of `locale` is Japanese.
bool PrefersJapanese(const QLocale& locale);

// Installs the translation for `locale` (the system's by default): none
// when it prefers Japanese (Qt's own Japanese texts are added when
// installed, for the standard buttons), English otherwise: every
// "<name>_en.qm" embedded under ":/i18n". A translation
// installed by an earlier call is removed first. Returns false only when
// the English translation could not be loaded; the texts then stay
// Japanese.
bool InstallTranslations(QApplication& app, const QLocale& locale = QLocale::system());

} // namespace brindle
