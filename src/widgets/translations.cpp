#include "widgets/translations.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace brindle {

namespace {

// Object names of the translators we install, so a later call finds them.
constexpr char OWN_TRANSLATOR[] = "brindle-translator";
constexpr char QT_TRANSLATOR[] = "brindle-qt-translator";

void RemoveTranslator(QApplication& app, const char* objectName) {
    for (auto* translator :
         app.findChildren<QTranslator*>(QLatin1String(objectName), Qt::FindDirectChildrenOnly)) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

bool Install(QApplication& app, const char* objectName, const QString& file,
             const QString& folder) {
    auto* translator = new QTranslator(&app);
    translator->setObjectName(QLatin1String(objectName));
    if (!translator->load(file, folder) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

} // namespace

bool PrefersJapanese(const QLocale& locale) {
    QStringList languages = locale.uiLanguages();
    QString first = languages.isEmpty() ? locale.name() : languages.first();
    return first == QLatin1String("ja") || first.startsWith(QLatin1String("ja-")) ||
           first.startsWith(QLatin1String("ja_"));
}

bool InstallTranslations(QApplication& app, const QLocale& locale) {
    RemoveTranslator(app, OWN_TRANSLATOR);
    RemoveTranslator(app, QT_TRANSLATOR);
    if (PrefersJapanese(locale)) {
        // Optional: without it the standard buttons read in English.
        Install(app, QT_TRANSLATOR, QStringLiteral("qtbase_ja"),
                QLibraryInfo::path(QLibraryInfo::TranslationsPath));
        return true;
    }
    // Each library with windows embeds its own "<name>_en.qm" under ":/i18n"
    // (the shared widgets, the viewer, each program's windows).
    const QString folder = QStringLiteral(":/i18n");
    const QStringList files =
        QDir(folder).entryList({QStringLiteral("*_en.qm")}, QDir::Files, QDir::Name);
    bool fAll = !files.isEmpty();
    for (const QString& file : files)
        fAll = Install(app, OWN_TRANSLATOR, file, folder) && fAll;
    return fAll;
}

} // namespace brindle
