#include "common/text_utils.h"

#include "common/ascii.h"

#include <gtest/gtest.h>

#include <utility>

namespace brindle {
namespace {

constexpr size_t kNone = std::string_view::npos;

TEST(TextSearch, FindsAtCharacterStartsOnly) {
    struct Case {
        const char* text;
        const char* pattern;
        size_t exact;
        size_t noCase;
    };
    // "表示" is E8 A1 A8 E7 A4 BA: the bytes A8 E7 occur but start no character.
    const Case cases[] = {
        {"abcabc", "ca", 2, 2},
        {"abc", "", 0, 0},
        {"", "a", kNone, kNone},
        {"ab", "abc", kNone, kNone},
        {"Content-LENGTH: 5", "length", kNone, 8},
        {"表示/表", "表", 0, 0},
        {"表示/表", "/表", 6, 6},
        {"表示", "\xA8\xE7", kNone, kNone},
        {"\xC3\x84", "\xC3\xA4", kNone, kNone}, // only ASCII letters fold
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindText(c.text, c.pattern), c.exact) << c.text << " / " << c.pattern;
        EXPECT_EQ(FindTextNoCase(c.text, c.pattern), c.noCase) << c.text << " / " << c.pattern;
        EXPECT_EQ(FindTextLower(c.text, c.pattern), c.noCase) << c.text << " / " << c.pattern;
    }
}

TEST(TextSearch, WildcardMatchesWholeTexts) {
    struct Case {
        const char* text;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"camera1", "cam*", true},
        {"camera1", "*1", true},
        {"camera1", "CAMERA?", true},
        {"camera", "camera?", false},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"abcabd", "*abd", true}, // the first "ab" is a false start
        {"mississippi", "m*iss*ppi", true},
        {"mississippi", "m*iss*ppx", false},
        {"aXbXc", "a*b*c", true},
        {"abc", "*?*?*?*?", false},
        {"", "*", true},
        {"", "", true},
        {"a", "", false},
        {"", "?", false},
        {"表示.txt", "??.txt", true}, // a multi-byte character is one "?"
        {"表示.txt", "???????.txt", false},
        {"表示.txt", "表*", true},
        {"表示", "表\xA1*", false},
        {"\xFF\xFE", "??", true}, // invalid bytes count one each
        {"Properties: Camera", "Prop*: *", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WildcardMatch(c.text, c.pattern), c.matches) << c.text << " ~ " << c.pattern;
}

TEST(TextSearch, HeaderValueFindsWholeHeaderLines) {
    struct Case {
        const char* header;
        const char* name;
        size_t expected;
    };
    const std::string reply = "HTTP/1.1 200 OK\r\ncontent-length: 5\r\n\r\n";
    const Case cases[] = {
        {reply.c_str(), "Content-Length:", reply.find('5')},
        {"Content-Length:7\r\n", "Content-Length:", 15},
        {"X-Note: Content-Length: 7\r\n", "Content-Length:", kNone},
        {"Content-Lengthy: 3\r\n", "Content-Length:", kNone},
        {"A: 1\r\nWWW-Authenticate:\r\n \tDigest x\r\n", "www-authenticate:", 27},
        {"A: 1\r\nEmpty:  \r\nB: 2\r\n", "Empty:", 14}, // the CR of an empty value
        {"Trailing:", "Trailing:", 9},
        {"Location: x", "", kNone},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HeaderValue(c.header, c.name), c.expected) << c.header;
}

TEST(TextSearch, Utf8FitLengthNeverCutsACharacter) {
    const std::string text = "ab表示"; // 2 + 3 + 3 bytes
    const size_t expected[] = {0, 1, 2, 2, 2, 5, 5, 5, 8, 8};
    for (size_t max = 0; max < std::size(expected); ++max)
        EXPECT_EQ(Utf8FitLength(text, max), expected[max]) << max;
    EXPECT_EQ(Utf8FitLength("\xE8\xA1", 1), 1u) << "a broken sequence is single bytes";
}

TEST(TextTrim, TrimSpaceTabTakesOnlySpacesAndTabsAtTheEnds) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {" \t ", ""},
        {"x", "x"},
        {" \tsrv 1:80\t ", "srv 1:80"},
        {"\r srv\n", "\r srv\n"},
    };
    for (const auto& [text, trimmed] : cases)
        EXPECT_EQ(TrimSpaceTab(text), trimmed) << text;
}

TEST(AsciiRules, HexDigitsAndCaseFoldStopAtTheirRanges) {
    // The neighbours of each range ("/", ":", "@", "G", "`", "g") and bytes
    // from 0x80 are no digits.
    const std::pair<char, int> digits[] = {
        {'0', 0},  {'9', 9},  {'a', 10}, {'f', 15}, {'A', 10}, {'F', 15},    {'/', -1},
        {':', -1}, {'@', -1}, {'G', -1}, {'`', -1}, {'g', -1}, {'\xB0', -1}, {'\0', -1},
    };
    for (const auto& [c, value] : digits)
        EXPECT_EQ(HexDigitValue(c), value) << int(c);
    const std::pair<char, char> folds[] = {
        {'A', 'a'}, {'Z', 'z'}, {'a', 'a'}, {'@', '@'}, {'[', '['}, {'\xC4', '\xC4'},
    };
    for (const auto& [c, folded] : folds)
        EXPECT_EQ(FoldAscii(c), folded) << int(c);
}

// The one number rule of the stored texts: blanks, sign, "0x", overflow and
// what follows the digits.
TEST(ScanNumber, ReadsAsTheCConversions) {
    constexpr uint64_t kMinus7 = 0 - uint64_t{7};
    struct Case {
        const char* text;
        unsigned base;
        bool found;
        uint64_t value;
        size_t used;
        bool wrapped;
    } cases[] = {
        {"42", 10, true, 42, 2, false},
        {" \t\r\n\v\f+15", 10, true, 15, 9, false},
        {"  -7x", 10, true, kMinus7, 4, false},
        {"12abc", 10, true, 12, 2, false},
        {"1 2", 10, true, 1, 1, false},
        {"", 10, false, 0, 0, false},
        {"   ", 10, false, 0, 0, false},
        {"-", 10, false, 0, 0, false},
        {"- 5", 10, false, 0, 0, false},
        {"x12", 10, false, 0, 0, false},
        {"A", 10, false, 0, 0, false},
        {"4294967296", 10, true, 4294967296, 10, false},           // 0 in 32 bits
        {"18446744073709551615", 10, true, UINT64_MAX, 20, false}, // the largest that fits
        {"18446744073709551617", 10, true, 1, 20, true},
        {"-18446744073709551617", 10, true, UINT64_MAX, 21, true},
        {"0x1F", 16, true, 31, 4, false},
        {"0X1f", 16, true, 31, 4, false},
        {"0x", 16, true, 0, 1, false}, // "0", then the "x" is left
        {"0xg", 16, true, 0, 1, false},
        {"ffz", 16, true, 255, 2, false},
        {"-1", 16, true, UINT64_MAX, 2, false},
        {"0x10", 10, true, 0, 1, false}, // no "0x" in decimal
        {"10000000000000000", 16, true, 0, 17, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<ScannedNumber> n = ScanNumber(c.text, c.base);
        ASSERT_EQ(n.has_value(), c.found);
        if (!n)
            continue;
        EXPECT_EQ(n->value, c.value);
        EXPECT_EQ(n->used, c.used);
        EXPECT_EQ(n->fWrapped, c.wrapped);
    }
}

} // namespace
} // namespace brindle
