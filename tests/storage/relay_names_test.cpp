// Relay file names, listing names from untrusted servers, and the serial
// order in which files are fetched and packets handed out.
#include "storage/relay_names.h"
#include "storage/relay_stall.h"

#include <gtest/gtest.h>

#include <string>

namespace brindle {
namespace {

TEST(RelayNames, PeerNamesAreUpperCasedAndChecked) {
    struct Case {
        std::string in;
        const char* out; // null: refused
    } cases[] = {
        {"host1", "HOST1"},
        {"My-PC_2", "MY-PC_2"},
        {std::string(63, 'a'), nullptr}, // replaced below
        {std::string(64, 'a'), nullptr},
        {"", nullptr},
        {"pc.local", nullptr},
        {"pc 2", nullptr},
        {"p\xC3\xA9", nullptr},
        {std::string("pc\0x", 4), nullptr},
        {"a/b", nullptr},
    };
    std::string upper63(63, 'A');
    cases[2].out = upper63.c_str();
    for (const Case& c : cases) {
        std::string upper = "junk";
        EXPECT_EQ(RelayPeerName(c.in, upper), c.out != nullptr) << c.in;
        EXPECT_EQ(upper, c.out ? c.out : "") << c.in;
    }
}

TEST(RelayNames, FileNamesByDirectionAndType) {
    EXPECT_EQ(RelayFileName("HOST1", RelayBracket(true, true), "PC2", 26), "HOST1{PC2.0000001A");
    EXPECT_EQ(RelayFileNameEncoded("HOST1", RelayBracket(true, true), "PC2", 26),
              "HOST1%7BPC2.0000001A");
    EXPECT_EQ(RelayFileNameEncoded("PC2", RelayBracket(false, false), "HOST1", 0xFFFFFFFF),
              "PC2%29HOST1.FFFFFFFF");
    EXPECT_EQ(RelayFileNameEncoded("H", RelayBracket(true, false), "C", 1), "H%28C.00000001");
    EXPECT_EQ(RelayFileNameEncoded("C", RelayBracket(false, true), "H", 1), "C%7DH.00000001");
    EXPECT_EQ(RelayKind('('), 1);
    EXPECT_EQ(RelayKind('}'), 0);
}

TEST(RelayNames, ListingNamesMustMatchTheGrammarExactly) {
    struct Case {
        std::string href;
        bool ok;
        const char* sender;
        char bracket;
        const char* receiver;
        uint32_t nSequence;
    } cases[] = {
        {"/base/%21Brindleshank%21/HOST1%7BPC2.0000001A", true, "HOST1", '{', "PC2", 0x1A},
        {"/base/!Brindleshank!/PC2)HOST1.ffffffff", true, "PC2", ')', "HOST1", 0xFFFFFFFF},
        {"HOST1(PC2.00000000", true, "HOST1", '(', "PC2", 0},
        {"/r/HOST1%7BPC2.0000001A.err", false, "", 0, "", 0},
        {"/r/HOST1%7BPC2.0000001", false, "", 0, "", 0},
        {"/r/HOST1%7BPC2.0000001AB", false, "", 0, "", 0},
        {"/r/HOST1%7BPC2.0000001G", false, "", 0, "", 0},
        {"/r/HOST1%7BPC2-0000001A", false, "", 0, "", 0},
        {"/r/host1%7BPC2.0000001A", false, "", 0, "", 0}, // writers upper-case
        {"/r/%7BPC2.0000001A", false, "", 0, "", 0},
        {"/r/HOST1%7B.0000001A", false, "", 0, "", 0},
        {"/r/HO%0D%0AST%7BPC2.0000001A", false, "", 0, "", 0},
        {"/r/HOST%00%7BPC2.0000001A", false, "", 0, "", 0},
        {"/r/HOST%2F1%7BPC2.0000001A", false, "", 0, "", 0},
        {"/r/HOST1%7BPC2(X.0000001A", false, "", 0, "", 0},
        {"/r/HOST1%7B%7BPC2.0000001A", false, "", 0, "", 0},
        {"/r/" + std::string(64, 'A') + "%7BPC2.0000001A", false, "", 0, "", 0},
        {"/r/" + std::string(63, 'A') + "%7BPC2.0000001A", true, "", '{', "PC2", 0x1A},
        {"/r/tmp/", false, "", 0, "", 0},
        {"/r/HOST1%7BPC2.0000001%", false, "", 0, "", 0},
    };
    for (const Case& c : cases) {
        RelayFileInfo info;
        bool ok = ParseRelayName(HrefFileName(c.href), info);
        EXPECT_EQ(ok, c.ok) << c.href;
        if (!ok || !c.ok)
            continue;
        if (*c.sender) {
            EXPECT_EQ(info.cSender, c.sender);
        }
        EXPECT_EQ(info.cBracket, c.bracket);
        EXPECT_EQ(info.cReceiver, c.receiver);
        EXPECT_EQ(info.nSequence, c.nSequence);
    }
}

TEST(RelayNames, UrlDecodeLeavesBrokenEscapes) {
    EXPECT_EQ(UrlDecode("a%41%6a%"), "aAj%");
    EXPECT_EQ(UrlDecode("%4"), "%4");
    EXPECT_EQ(UrlDecode("%zz%2f"), "%zz/");
}

std::vector<std::pair<int, uint32_t>> Order(std::vector<FoundFile> files) {
    SortFetchOrder(files);
    std::vector<std::pair<int, uint32_t>> out;
    for (const FoundFile& f : files)
        out.emplace_back(f.nKind, f.nSequence);
    return out;
}

TEST(RelayNames, FetchOrderIsControlFirstThenOldestAcrossTheWrap) {
    using P = std::vector<std::pair<int, uint32_t>>;
    EXPECT_EQ(Order({{0, 0xFFFFFFFE, ""}, {0, 1, ""}, {1, 7, ""}, {0, 0xFFFFFFFF, ""}}),
              (P{{1, 7}, {0, 0xFFFFFFFE}, {0, 0xFFFFFFFF}, {0, 1}}));
    EXPECT_EQ(Order({{1, 3, ""}, {1, 0x80000001, ""}, {1, 2, ""}}), // plain order without a wrap
              (P{{1, 2}, {1, 3}, {1, 0x80000001}}));
    EXPECT_EQ(Order({{1, 0, ""}, {1, 0xFFFFFFFF, ""}, {1, 0, ""}}),
              (P{{1, 0xFFFFFFFF}, {1, 0}, {1, 0}}));
    EXPECT_TRUE(SerialBefore(0xFFFFFFFF, 0));
    EXPECT_FALSE(SerialBefore(0, 0xFFFFFFFF));
    EXPECT_FALSE(SerialBefore(5, 5));
    EXPECT_EQ(SerialBase({}), 0u);
}

TEST(StallTrackerTest, ThirdConsecutiveFailureOnOneFileMarksItBroken) {
    StallTracker tracker;
    EXPECT_FALSE(tracker.Stalled("/a"));
    EXPECT_FALSE(tracker.Stalled("/a"));
    EXPECT_FALSE(tracker.Stalled("/b")); // another file starts anew
    EXPECT_FALSE(tracker.Stalled("/b"));
    tracker.Forget("/a"); // not the tracked file: nothing changes
    EXPECT_TRUE(tracker.Stalled("/b"));
    tracker.Forget("/b");
    EXPECT_FALSE(tracker.Stalled("/b"));
    EXPECT_EQ(CappedRecvTimeout(310000), RELAY_RECV_TIMEOUT_MAX);
    EXPECT_EQ(CappedRecvTimeout(70000), 70000u);
}

} // namespace
} // namespace brindle
