// The match runner's figures: the Wilson score interval against values
// worked out by hand, and a tally's lines for seats, draws and strengths.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tools/sim/tally.h"

// 15 of 20: p 0.75, interval 0.531..0.888; 0 of n starts at 0 and 10 of 10
// ends at 1; no trials says nothing (0..1).
TEST(SimTally, WilsonIntervals) {
    ShareInterval s = WilsonInterval(15, 20);
    EXPECT_DOUBLE_EQ(s.share, 0.75);
    EXPECT_NEAR(s.low, 0.5313, 1e-4);
    EXPECT_NEAR(s.high, 0.8881, 1e-4);
    s = WilsonInterval(0, 10);
    EXPECT_EQ(s.low, 0.0);
    EXPECT_NEAR(s.high, 0.2775, 1e-4);
    s = WilsonInterval(10, 10);
    EXPECT_NEAR(s.low, 0.7225, 1e-4);
    EXPECT_NEAR(s.high, 1.0, 1e-12);
    s = WilsonInterval(0, 0);
    EXPECT_EQ(s.low, 0.0);
    EXPECT_EQ(s.high, 1.0);
}

// Two easy seats count together for their strength; a draw is no one's win;
// empty seats are not listed.
TEST(SimTally, SharesPerSeatAndStrength) {
    const int8_t seats[kPlayers] = {PLAYER_HARD, PLAYER_EASY, PLAYER_NON, PLAYER_EASY};
    CMatchTally tally(seats);
    for (int winner : {0, 1, 3, 3, -1}) tally.Add(RoundOutcome{winner, 100, 1, {1, 2, 3, 4}, winner == 1, 2});
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    tally.PrintSummary();
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("5 rounds, mean length 100.0 frames, 1.00 s"), std::string::npos) << out;
    EXPECT_NE(out.find("total scores:  1P 5  2P 10  4P 20\n"), std::string::npos) << out;
    EXPECT_NE(out.find("lines dead in the first second: 1 of 15, in the first two seconds: 10\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("4P EASY COM           2 wins    40.0%"), std::string::npos) << out;
    EXPECT_NE(out.find("draw                  1 rounds  20.0%"), std::string::npos) << out;
    EXPECT_NE(out.find("EASY COM x2           3 wins    60.0%"), std::string::npos) << out;
    EXPECT_EQ(out.find("3P"), std::string::npos) << out;
}
