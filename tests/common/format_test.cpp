#include "common/error_codes.h"
#include "common/font_text.h"
#include "common/format_list.h"
#include "common/list_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace brindle {
namespace {

TEST(FontText, RoundTripsEveryField) {
    LogFont font;
    font.lfHeight = -16;
    font.lfWidth = 0;
    font.lfEscapement = 900;
    font.lfOrientation = -900;
    font.lfWeight = 700;
    font.lfItalic = 1;
    font.lfUnderline = 1;
    font.lfStrikeOut = 0;
    font.lfCharSet = 128;
    font.lfOutPrecision = 3;
    font.lfClipPrecision = 2;
    font.lfQuality = 5;
    font.lfPitchAndFamily = 49;
    std::strcpy(font.lfFaceName, "Noto Sans CJK JP");
    const std::string text = FontToText(font);
    EXPECT_EQ(text, "-16,0,900,-900,700,1,1,0,128,3,2,5,49,Noto Sans CJK JP");
    LogFont back;
    ASSERT_EQ(TextToFont(text, back), 0u);
    EXPECT_EQ(std::memcmp(&back, &font, sizeof font), 0);
}

TEST(FontText, ReadingRules) {
    struct Case {
        const char* text;
        int32_t height;
        uint8_t italic;
        uint8_t pitchAndFamily;
        const char* face;
    };
    const Case cases[] = {
        {"1,2,3,4,5,300,0,0,0,0,0,0,7,ＭＳ ゴシック", 1, 44, 7, "ＭＳ ゴシック"}, // bytes truncated
        {" -12, 0,0,0,400,1,0,0,0,0,0,0,0,Face, Bold", -12, 1, 0, "Face, Bold"},
        {"1,2,3,4,5,6,7,8,9,10,11,12,13", 1, 6, 13, ""}, // no face name
        {"1,2,3,4,5,6,7,8,9,10,11,12,13,", 1, 6, 13, ""},
        {"1,2,3,4,5,6,7,8,9,10,11,12,13,0123456789012345678901234567890123456789", 1, 6, 13,
         "0123456789012345678901234567890"}, // cut to 31 bytes
        {"1,2,3,4,5,6,7,8,9,10,11,12,13,abcdefghijklmnopqrstuvwxyz0表示", 1, 6, 13,
         "abcdefghijklmnopqrstuvwxyz0表"}, // cut before a split character
    };
    for (const Case& c : cases) {
        LogFont font;
        std::strcpy(font.lfFaceName, "stale");
        ASSERT_EQ(TextToFont(c.text, font), 0u) << c.text;
        EXPECT_EQ(font.lfHeight, c.height) << c.text;
        EXPECT_EQ(font.lfItalic, c.italic) << c.text;
        EXPECT_EQ(font.lfPitchAndFamily, c.pitchAndFamily) << c.text;
        EXPECT_STREQ(font.lfFaceName, c.face) << c.text;
    }
}

TEST(FontText, IncompleteTextLeavesTheFontUnchanged) {
    for (const char* bad : {"", "1,2,3,4,5,6,7,8,9,10,11,12", "1,2,3,4,5,6,7,8,9,10,11,12,x",
                            "1;2;3;4;5;6;7;8;9;10;11;12;13", "1 ,2,3,4,5,6,7,8,9,10,11,12,13,F"}) {
        LogFont font;
        font.lfWeight = 123;
        std::strcpy(font.lfFaceName, "keep");
        EXPECT_EQ(TextToFont(bad, font), ERROR_INVALID_PARAMETER_CODE) << bad;
        EXPECT_EQ(font.lfWeight, 123);
        EXPECT_STREQ(font.lfFaceName, "keep");
    }
}

using Items = std::vector<std::string>;

TEST(ListText, SplitsAndJoinsWithEscapedBars) {
    struct Case {
        const char* text;
        Items items;
        const char* rejoined;
    };
    const Case cases[] = {
        {"a|b|c", {"a", "b", "c"}, "a|b|c"},
        {"http://h/a||b|x|", {"http://h/a|b", "x"}, "http://h/a||b|x"}, // trailing bar ignored
        {"|a||||b|", {"a||b"}, "a||||b"},
        {"a||", {"a|"}, "a||"},
        {"Cam|cam|CAM|x", {"Cam", "x"}, "Cam|x"}, // repeats dropped, as the combo box does
        {"表|示", {"表", "示"}, "表|示"},
        {"", {}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ListSplit(c.text), c.items) << c.text;
        EXPECT_EQ(ListJoin(c.items), c.rejoined) << c.text;
    }
}

TEST(ListText, PlainSplitKeepsRepeatsAndKnowsNoEscape) {
    struct Case {
        const char* text;
        Items items;
    } const cases[] = {
        {"", {}},
        {"|||", {}},
        {"/dev/a|/dev/b|", {"/dev/a", "/dev/b"}},
        {"a||b", {"a", "b"}},
        {"|cam|CAM|cam", {"cam", "CAM", "cam"}},
        {"only", {"only"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ListSplitPlain(c.text), c.items) << c.text;
}

TEST(ListText, JoinDropsItemsFromTheEndToFitTheCap) {
    const Items items = {std::string(2000, 'a'), std::string(2094, 'b'), "c"};
    EXPECT_EQ(ListJoin(items).size(), 4095u) << "exactly at the cap";
    EXPECT_EQ(ListJoin({std::string(2000, 'a'), std::string(2095, 'b'), "c"}),
              std::string(2000, 'a'));
    EXPECT_EQ(ListJoin({std::string(4096, 'a')}), "");
    EXPECT_EQ(ListJoin({"a|b", "c"}, 4), "a||b") << "escapes count against the cap";
}

TEST(ListText, AddAndRemoveLikeTheComboBoxes) {
    Items recent = {"srv1:12345", "srv2:12345", "srv3:12345"};
    ListAddTop(recent, "SRV3:12345");
    EXPECT_EQ(recent, (Items{"SRV3:12345", "srv1:12345", "srv2:12345"}));
    ListAddTop(recent, "new");
    EXPECT_EQ(recent.front(), "new");
    EXPECT_EQ(recent.size(), 4u);
    EXPECT_TRUE(ListRemove(recent, "Srv1:12345"));
    EXPECT_FALSE(ListRemove(recent, "srv1:12345"));
    EXPECT_EQ(recent, (Items{"new", "SRV3:12345", "srv2:12345"}));

    Items sorted;
    for (const char* item : {"delta", "Alpha", "charlie", "bravo", "ALPHA"})
        ListAddSorted(sorted, item);
    EXPECT_EQ(sorted, (Items{"Alpha", "bravo", "charlie", "delta"}));
}

// The camera format list with both readings of a bad item: the server
// keeps its place as an all-zero format, the client stops there.
TEST(FormatList, BadItemsAsEachReaderWants) {
    using F = std::vector<FormatListItem>;
    struct Case {
        const char* text;
        F zero;
        F stop;
    } cases[] = {
        {"640x480x333333|1920x1080x0|",
         {{640, 480, 333333}, {1920, 1080, 0}},
         {{640, 480, 333333}, {1920, 1080, 0}}},
        {"640x480x333333", {{640, 480, 333333}}, {{640, 480, 333333}}},
        {"", {}, {}},
        {"||1x2x3|", {{1, 2, 3}}, {}},
        {"garbage|640x480|1x2x3|", {{}, {}, {1, 2, 3}}, {}},
        {"640x480x1|junk|320x240x2|", {{640, 480, 1}, {}, {320, 240, 2}}, {{640, 480, 1}}},
        {"1x2x3junk|4x5x6|", {{1, 2, 3}, {4, 5, 6}}, {{1, 2, 3}}},
        {"-5x 7x99999999999|+8x9x-1|",
         {{-5, 7, 99999999999}, {8, 9, -1}},
         {{-5, 7, 99999999999}, {8, 9, -1}}},
        {"4294967297x480x1|", {{1, 480, 1}}, {{1, 480, 1}}}, // wraps as "%ld" does
        {"1 x2x3|", {{}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseFormatList(c.text, BadFormatItem::Zero), c.zero);
        EXPECT_EQ(ParseFormatList(c.text, BadFormatItem::Stop), c.stop);
    }
    std::string many;
    for (int i = 0; i < 50; ++i)
        many += "1x1x1|";
    EXPECT_EQ(ParseFormatList(many, BadFormatItem::Zero, 20).size(), 20u);
    EXPECT_EQ(ParseFormatList(many, BadFormatItem::Stop, 20).size(), 20u);
}

} // namespace
} // namespace brindle
