// Command lines from standard input: lines split across reads, CR LF, an
// unterminated last line, the end of the input, and the words of a line.
#include "platform/line_input.h"

#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brindle {
namespace {

TEST(LineInput, JoinsPiecesAndEndsWithTheLastUnterminatedLine) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    LineInput input(fds[0]);
    std::vector<std::string> lines;
    for (const char* piece : {"property op", "en 1\r\nproperty close\n\n", "tail"}) {
        ASSERT_GT(::write(fds[1], piece, strlen(piece)), 0);
        input.Read(lines);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"property open 1", "property close", ""}));
    ::close(fds[1]);
    input.Read(lines);
    EXPECT_EQ(lines.back(), "tail");
    EXPECT_EQ(input.Fd(), -1);
    input.Read(lines); // ended: nothing more, nothing read
    EXPECT_EQ(lines.size(), 4u);
    ::close(fds[0]);
}

TEST(LineInput, OverlongLineIsCut) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    LineInput input(fds[0]);
    std::string big(LINE_INPUT_MAX + 500, 'x');
    big += "\n";
    ASSERT_EQ(::write(fds[1], big.data(), big.size()), ssize_t(big.size())); // fits the pipe
    std::vector<std::string> lines;
    for (int i = 0; i < 100 && lines.empty(); ++i)
        input.Read(lines);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), LINE_INPUT_MAX);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(SplitCommandWords, BlanksTabsAndQuotes) {
    struct Case {
        const char* line;
        bool fOk;
        std::vector<std::string> words;
    } cases[] = {
        {"property slider Brightness 200", true, {"property", "slider", "Brightness", "200"}},
        {"  property\tclick  \"Auto Exposure\" ", true, {"property", "click", "Auto Exposure"}},
        {"\"\"", true, {""}},
        {"   ", true, {}},
        {"property click \"Auto", false, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words;
        EXPECT_EQ(SplitCommandWords(c.line, words), c.fOk) << c.line;
        if (c.fOk) {
            EXPECT_EQ(words, c.words) << c.line;
        }
    }
}

} // namespace
} // namespace brindle
