#include "widgets/font_chooser.h"

#include "common/font_text.h"
#include "image/font_mapping.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

QFont Base() {
    QFont base(QStringLiteral("DejaVu Sans"));
    base.setPixelSize(12);
    return base;
}

// The chooser opens at the stored font, and the chosen one comes back from
// its text unchanged.
TEST(FontChooser, ChosenFontRoundTripsAsText) {
    std::string text = "-30,0,0,0,700,1,0,0,1,0,0,0,0,DejaVu Serif";
    QFont initial;
    QFont pick(QStringLiteral("DejaVu Sans Mono"));
    pick.setPixelSize(21);
    pick.setWeight(QFont::DemiBold);
    pick.setItalic(true);
    pick.setStrikeOut(true);
    auto dialog = [&](QWidget*, const QFont& start) -> std::optional<QFont> {
        initial = start;
        return pick;
    };

    ASSERT_TRUE(ChooseFontText(nullptr, text, Base(), dialog));
    EXPECT_EQ(initial.family(), QStringLiteral("DejaVu Serif"));
    EXPECT_EQ(initial.pixelSize(), 30);
    EXPECT_EQ(initial.weight(), QFont::Bold);
    EXPECT_TRUE(initial.italic());

    LogFont stored;
    ASSERT_EQ(TextToFont(text, stored), 0u);
    QFont back = QFontFromLogFont(stored, Base());
    EXPECT_EQ(back.family(), pick.family());
    EXPECT_EQ(back.pixelSize(), 21);
    EXPECT_EQ(back.weight(), QFont::DemiBold);
    EXPECT_TRUE(back.italic());
    EXPECT_TRUE(back.strikeOut());
    EXPECT_FALSE(back.underline());
    EXPECT_EQ(FontToText(LogFontFromQFont(back)), text);
}

// The font dialog answers in points; the text keeps the pixel height the
// stored fonts were made with (96 dots per inch).
TEST(FontChooser, PointSizesBecomePixelHeights) {
    std::string text;
    QFont pick(QStringLiteral("DejaVu Sans"), 12);
    ASSERT_TRUE(ChooseFontText(nullptr, text, Base(),
                               [&](QWidget*, const QFont&) { return std::optional<QFont>(pick); }));
    EXPECT_EQ(text.rfind("-16,0,0,0,400,0,0,0,1,", 0), 0u) << text;
}

// Cancel, an unreadable stored text: the text stays, the chooser opens on
// the base font.
TEST(FontChooser, CancelKeepsTheText) {
    std::string text = "not a font";
    QFont initial;
    auto cancel = [&](QWidget*, const QFont& start) -> std::optional<QFont> {
        initial = start;
        return std::nullopt;
    };
    EXPECT_FALSE(ChooseFontText(nullptr, text, Base(), cancel));
    EXPECT_EQ(text, "not a font");
    EXPECT_EQ(initial, Base());
}

} // namespace
} // namespace brindle
