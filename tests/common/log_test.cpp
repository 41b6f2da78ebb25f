#include "common/log.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace brindle {
namespace {

using test::ReadFileText;
using test::TempDir;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

// "YYYY/MM/DD hh:mm:ss" and a tab.
bool StartsWithStamp(const std::string& line) {
    const char* shape = "dddd/dd/dd dd:dd:dd\t";
    if (line.size() < 20)
        return false;
    for (size_t i = 0; i < 20; ++i) {
        bool ok = shape[i] == 'd' ? (line[i] >= '0' && line[i] <= '9') : line[i] == shape[i];
        if (!ok)
            return false;
    }
    return true;
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override { path_ = dir_.File("BrindleHost.log"); }
    void TearDown() override { LogClose(); }
    TempDir dir_;
    std::string path_;
};

TEST_F(LogTest, WritesOnlyWhileOpen) {
    LogWrite("before open\r\n");
    ASSERT_TRUE(LogOpen(path_));
    LogWrite("接続しました %s:%d\r\n", "127.0.0.1", 12345);
    LogClose();
    LogWrite("after close\r\n");
    std::vector<std::string> lines = SplitLines(ReadFileText(path_));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(StartsWithStamp(lines[0]));
    EXPECT_EQ(lines[0].substr(20), "接続しました 127.0.0.1:12345");
    EXPECT_FALSE(LogOpen(dir_.File("missing/x.log")));
    LogWrite("nowhere\r\n"); // disabled: must not crash
}

TEST_F(LogTest, ReopeningKeepsEarlierLines) {
    test::WriteFileText(path_, "old line\r\n");
    ASSERT_TRUE(LogOpen(path_));
    LogWrite("new line\r\n");
    std::vector<std::string> lines = SplitLines(ReadFileText(path_));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "old line");
}

TEST_F(LogTest, LinesFromSeveralThreadsNeverInterleave) {
    ASSERT_TRUE(LogOpen(path_));
    constexpr int kThreads = 4, kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int n = 0; n < kLines; ++n)
                LogWrite("T%d %d %s\r\n", t, n, std::string(100 + 37 * n, 'a' + t).c_str());
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::vector<std::string> lines = SplitLines(ReadFileText(path_));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
        ASSERT_TRUE(StartsWithStamp(line)) << line.substr(0, 40);
        int t = -1, n = -1, used = 0;
        ASSERT_EQ(std::sscanf(line.c_str() + 20, "T%d %d %n", &t, &n, &used), 2) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 40);
        EXPECT_EQ(n, next[t]++) << "each thread's lines stay in order";
        EXPECT_EQ(line.substr(20 + used), std::string(100 + 37 * n, 'a' + t));
    }
}

TEST_F(LogTest, ALineAfterAnOutsideTruncationGoesToTheNewEnd) {
    ASSERT_TRUE(LogOpen(path_));
    LogWrite("first line that is rather long\r\n");
    LogWrite("second\r\n");
    ASSERT_EQ(::truncate(path_.c_str(), 10), 0);
    LogWrite("third\r\n");
    const std::string text = ReadFileText(path_);
    EXPECT_EQ(text.find('\0'), std::string::npos) << "no hole where the old end was";
    ASSERT_GT(text.size(), 10u);
    const std::string tail = text.substr(10);
    EXPECT_TRUE(StartsWithStamp(tail)) << tail;
    EXPECT_EQ(tail.substr(20), "third\r\n");
}

TEST_F(LogTest, ClearingWhileAnotherThreadWritesLeavesWholeLines) {
    ASSERT_TRUE(LogOpen(path_));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int n = 0; !stop.load() || n < 200; ++n)
            LogWrite("line %d %s\r\n", n, std::string(500, 'x').c_str());
    });
    for (int i = 0; i < 50; ++i) {
        LogClear();
        std::string text = ReadFileText(path_);
        if (!text.empty()) {
            EXPECT_TRUE(StartsWithStamp(text)) << text.substr(0, 40);
        }
    }
    stop = true;
    writer.join();
    const std::string text = ReadFileText(path_);
    ASSERT_FALSE(text.empty());
    for (const std::string& line : SplitLines(text))
        ASSERT_TRUE(StartsWithStamp(line)) << line.substr(0, 40);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(LogTest, ALongMessageIsCutToTheLineCap) {
    ASSERT_TRUE(LogOpen(path_));
    const std::string huge(40000, 'x');
    LogWrite("%s表示\r\n", huge.c_str());
    LogWrite("next\r\n");
    std::vector<std::string> lines = SplitLines(ReadFileText(path_));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_LE(lines[0].size() + 2, LOG_LINE_MAX);
    EXPECT_GT(lines[0].size() + 2, LOG_LINE_MAX - 4);
    EXPECT_TRUE(StartsWithStamp(lines[1])) << "the next line starts on its own line";
    EXPECT_EQ(lines[1].substr(20), "next");
}

} // namespace
} // namespace brindle
