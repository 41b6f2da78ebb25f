#include "server/capture/change_detect.h"

#include <gtest/gtest.h>

#include <vector>

namespace brindle {
namespace {

TEST(ChangeState, FollowsTheTable) {
    struct Case {
        int nBefore;
        int nUnchanged;
        int nChanged;
    } cases[] = {{0, 0, 3}, {1, 2, 3}, {2, 4, 1}, {3, 2, 3}, {4, 4, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(NextChangeState(c.nBefore, false), c.nUnchanged) << c.nBefore;
        EXPECT_EQ(NextChangeState(c.nBefore, true), c.nChanged) << c.nBefore;
    }
    EXPECT_EQ(NextChangeState(7, true), 3);
}

// Feeds levels in order and returns, per level, whether it was a change.
std::vector<bool> Changes(const std::vector<int32_t>& levels, int32_t nSensitivity,
                          DifferenceHistory& history) {
    std::vector<bool> changes;
    for (int32_t nLevel : levels)
        changes.push_back(UpdateHistory(history, nLevel, nSensitivity));
    return changes;
}

TEST(DifferenceHistoryTest, JumpsAgainstTheAverageAreChanges) {
    DifferenceHistory history;
    // Steady noise, then one jump up and back down.
    std::vector<int32_t> levels(20, 30);
    levels.push_back(900);
    levels.push_back(30);
    levels.push_back(30);
    std::vector<bool> changes = Changes(levels, 5, history);
    // The very first level jumps from the empty history's 0.
    EXPECT_TRUE(changes[0]);
    for (size_t i = 1; i < 20; ++i)
        EXPECT_FALSE(changes[i]) << i;
    EXPECT_TRUE(changes[20]);
    EXPECT_TRUE(changes[21]);
    EXPECT_FALSE(changes[22]);
}

TEST(DifferenceHistoryTest, SensitivityZeroNeverReportsAChange) {
    DifferenceHistory history;
    for (bool fChanged : Changes({0, 76500, 0, 76500, 1, 40000}, 0, history))
        EXPECT_FALSE(fChanged);
}

TEST(DifferenceHistoryTest, KeepsOnlyTheLastHundredLevels) {
    DifferenceHistory history;
    Changes(std::vector<int32_t>(100, 1000), 5, history);
    Changes(std::vector<int32_t>(150, 10), 5, history);
    EXPECT_EQ(history.nCount, 100);
    EXPECT_EQ(history.nTotal, 1000);
    EXPECT_EQ(history.nOldest, history.nNext);
}

// Higher sensitivity reports smaller jumps: 2 x J x s > A.
TEST(DifferenceHistoryTest, SensitivityScalesTheJump) {
    for (int32_t s = 1; s <= 9; ++s) {
        DifferenceHistory history;
        Changes(std::vector<int32_t>(100, 100), s, history);
        // Average after the next level is about 100; jump J.
        int32_t nJump = 100 / (2 * s) + 2;
        EXPECT_TRUE(UpdateHistory(history, 100 + nJump, s)) << s;
        DifferenceHistory quiet;
        Changes(std::vector<int32_t>(100, 100), s, quiet);
        EXPECT_FALSE(UpdateHistory(quiet, 100 + 100 / (2 * s) - 1, s)) << s;
    }
}

} // namespace
} // namespace brindle
