#include "widgets/translations.h"

#include "widgets/choose_folder.h"

#include <QApplication>
#include <QFile>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace brindle {
namespace {

QApplication& App() {
    return *qobject_cast<QApplication*>(QCoreApplication::instance());
}

class TranslationsTest : public ::testing::Test {
  protected:
    // Back to the source texts for the other tests.
    void TearDown() override {
        InstallTranslations(App(), QLocale(QLocale::Japanese, QLocale::Japan));
    }
};

TEST_F(TranslationsTest, JapaneseKeepsTheSourceOthersGetEnglish) {
    const QString japanese = QStringLiteral("保存業フォルダを選択してください");
    const QString english = QStringLiteral("Choose the folder to save images in");
    const struct {
        QLocale locale;
        QString expected;
    } cases[] = {
        {QLocale::c(), english},
        {QLocale(QLocale::Japanese, QLocale::Japan), japanese},
        {QLocale(QLocale::English, QLocale::UnitedStates), english},
        {QLocale(QLocale::German, QLocale::Germany), english},
        {QLocale(QLocale::Japanese, QLocale::Japan), japanese},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        EXPECT_TRUE(InstallTranslations(App(), c.locale));
        EXPECT_EQ(ChooseFolderTitle(), c.expected);
    }
}

// Every text of the translation file is translated and marked finished.
TEST_F(TranslationsTest, TranslationFileHasNoUnfinishedEntries) {
    QFile file(QStringLiteral(BRINDLE_TS_FILE));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int nMessages = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("TS")) {
            EXPECT_EQ(xml.attributes().value(QLatin1String("sourcelanguage")), QLatin1String("ja"));
            EXPECT_EQ(xml.attributes().value(QLatin1String("language")), QLatin1String("en"));
        } else if (xml.name() == QLatin1String("translation")) {
            ++nMessages;
            EXPECT_FALSE(xml.attributes().hasAttribute(QLatin1String("type")))
                << "entry " << nMessages << " is "
                << xml.attributes().value(QLatin1String("type")).toString().toStdString();
            EXPECT_FALSE(xml.readElementText().trimmed().isEmpty()) << "entry " << nMessages;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(nMessages, 0);
}

} // namespace
} // namespace brindle
