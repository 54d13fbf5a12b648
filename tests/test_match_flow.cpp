// A whole match from the title's START, headless on the test clock with
// scripted keys: round intro, selector, countdown, a round in which player 1
// steers into the border, the results, NEXT ROUND, the intro with the
// standings, a second round that player 2 loses, and EXIT back to the title;
// and a match of two rounds that ends on the final standings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "items/itemmanager.h"
#include "match/round.h"
#include "screens/roundintro.h"
#include "screens/stageselect.h"
#include "screens/standings.h"
#include "screens/title.h"
#include "sound/bgm.h"
#include "tests/testutil.h"

namespace {

constexpr uint32_t kNsPerPump = 1500;  // WAIT 80 gives 2.4 ms frames
constexpr int kPillarsStage = 1;       // fixed starts: 1P (120, 96) right, 2P (519, 96) left

struct Keyed {
    uint32_t afterMs;
    uint32_t vk;
};

// Two players on a stage with fixed starts, no items, silence; everything
// the matches change is put back afterwards.
class MatchFlow : public ::testing::Test {
protected:
    void SetUp() override {
        testutil::StartRoundsHeadless(kNsPerPump);
        m_cwd = std::make_unique<testutil::ScopedCwd>(NUVEL_GAME_DIR);
        theStageSelect.LoadStageList();
        theStageSelect.LoadBgmList();
        m_wait = theRound.state.wait;
        m_itemMax = theItemManager.itemMax;
        m_rounds = theRound.matchRounds;
        theRound.state.wait = 80;
        theRound.explosionType = 0;
        theItemManager.itemMax = 0;
        theApp.keyboardType = 0;
        const int8_t types[kPlayers] = {PLAYER_MAN, PLAYER_MAN, PLAYER_NON, PLAYER_NON};
        for (int i = 0; i < kPlayers; i++) theRound.players[i].type = types[i];
        theStageSelect.selectedStage = kPillarsStage;
        theStageSelect.selectedBgm = theStageSelect.bgmCount + 1;  // silence
        theStageSelect.cursor = SELECT_NORMAL_GAME;
    }
    void TearDown() override {
        theTitle.ReleaseLogo();
        theRound.state.wait = m_wait;
        theRound.matchRounds = m_rounds;
        theItemManager.itemMax = m_itemMax;
        for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_MAN;
        theRound.roundCounter = 0;
        m_cwd.reset();
    }

    // Keys for two rounds, the first lost by player 1 and the second by
    // player 2, each left with NEXT ROUND; then the last key at 17.5 s.
    // Generous times: each round is over well before its results are left.
    // Returns the time the script starts from.
    static uint32_t ScriptTwoRounds(uint32_t lastKey) {
        const Keyed script[] = {
            {100, plat::VK_RETURN},    // intro: OK NEXT
            {300, plat::VK_RETURN},    // selector: NORMAL GAME START; countdown 3.6 s
            {4100, 'Q'},               // player 1 turns up into the top border
            {8000, plat::VK_RETURN},   // results: NEXT ROUND
            {8300, plat::VK_RETURN},   // intro of round 2
            {8500, plat::VK_RETURN},   // selector
            {12300, 'M'},              // player 2 turns up-left into the top border
            {17000, plat::VK_RETURN},  // results: NEXT ROUND
            {17500, lastKey},
        };
        uint32_t start = plat::TimeMs();
        for (const Keyed& k : script) plat::ScriptKey(start + k.afterMs, k.vk);
        return start;
    }

    std::unique_ptr<testutil::ScopedCwd> m_cwd;
    int32_t m_wait = 0, m_itemMax = 0, m_rounds = 0;
};

}  // namespace

TEST_F(MatchFlow, TwoRoundsFromTheTitleAndBack) {
    uint32_t start = ScriptTwoRounds(plat::VK_ESCAPE);  // the intro of round 3: EXIT
    theTitle.RunMatch();
    uint32_t took = plat::TimeMs() - start;
    EXPECT_GE(took, 17500u);
    EXPECT_LT(took, 19000u);

    const PlayerSlot& p1 = theRound.players[0];
    const PlayerSlot& p2 = theRound.players[1];
    // One win each; the WIN column counts them.
    EXPECT_EQ(p1.matchCounter, 1);
    EXPECT_EQ(p2.matchCounter, 1);
    EXPECT_EQ(theRound.players[2].matchCounter, 0);
    // Round 2 was won by player 1 at S seconds: S x 30 + 4000 against S x 20 + 2000.
    int s = (p1.roundScore - 4000) / 30;
    EXPECT_EQ(p1.roundScore, s * 30 + 4000);
    EXPECT_EQ(p2.roundScore, s * 20 + 2000);
    EXPECT_GE(s, 1);
    // Round 1 went the other way, at its own S.
    int p1First = p1.totalScore - p1.roundScore, p2First = p2.totalScore - p2.roundScore;
    int s1 = (p2First - 4000) / 30;
    EXPECT_GE(s1, 1);
    EXPECT_EQ(p2First, s1 * 30 + 4000);
    EXPECT_EQ(p1First, s1 * 20 + 2000);
    // Empty seats score as well (and are never shown).
    EXPECT_GT(theRound.players[2].totalScore, 0);

    // The third intro showed the standings of both rounds, then EXIT.
    EXPECT_EQ(theRound.RoundNumber(), 3);
    EXPECT_EQ(theRoundIntro.cursor, INTRO_EXIT);
    char expected[64];
    int rank1 = p1.totalScore >= p2.totalScore ? 1 : 2, rank2 = p2.totalScore >= p1.totalScore ? 1 : 2;
    std::snprintf(expected, sizeof expected, "1P QAZ %08ld %-4d %-3d", long(p1.totalScore), rank1, 1);
    EXPECT_STREQ(theRoundIntro.playerLines[0], expected);
    std::snprintf(expected, sizeof expected, "2P BNM %08ld %-4d %-3d", long(p2.totalScore), rank2, 1);
    EXPECT_STREQ(theRoundIntro.playerLines[1], expected);

    // Back on the title: the menu is built again, no surface of the round is
    // left, and the keys are clear.
    EXPECT_NE(theTitle.logoSurface, 0);
    EXPECT_EQ(theRound.local.playfieldSurface, 0);
    for (uint8_t state : theApp.keyState) ASSERT_EQ(state, 0);
}

// MATCH_ROUNDS 2: after the second round's results the final standings end
// the match, best first with totals, places and wins and the champion's
// banner, and Return goes back to the title instead of a third round.
TEST_F(MatchFlow, TwoRoundMatchEndsOnTheFinalStandings) {
    theRound.matchRounds = 2;
    std::snprintf(theFinalStandings.bannerText, sizeof theFinalStandings.bannerText, "NONE YET");
    uint32_t start = ScriptTwoRounds(plat::VK_RETURN);  // the final standings: back to the title
    theTitle.RunMatch();
    uint32_t took = plat::TimeMs() - start;
    EXPECT_GE(took, 17500u);
    EXPECT_LT(took, 19000u);

    EXPECT_EQ(theRound.roundCounter, 2);
    EXPECT_EQ(theFinalStandings.banner, 0);
    // Back on the title, as after any match.
    EXPECT_NE(theTitle.logoSurface, 0);
    EXPECT_EQ(theRound.local.playfieldSurface, 0);
    for (uint8_t state : theApp.keyState) ASSERT_EQ(state, 0);

    // One win each; the standings the screen showed, and then both other
    // outcomes of the totals: each seat champion once, and a tie.
    auto expectStandings = [] {
        const PlayerSlot& p1 = theRound.players[0];
        const PlayerSlot& p2 = theRound.players[1];
        const bool tie = p1.totalScore == p2.totalScore;
        const int first = p2.totalScore > p1.totalScore ? 1 : 0, second = 1 - first;
        char expected[64];
        std::snprintf(expected, sizeof expected, "%dP CHAMPION", first + 1);
        EXPECT_STREQ(theFinalStandings.bannerText, tie ? "TIE" : expected);
        for (int row = 0; row < 2; row++) {
            const int seat = row == 0 ? first : second;
            std::snprintf(expected, sizeof expected, "%dP %08ld %-4d %-3d", seat + 1,
                          long(theRound.players[seat].totalScore), row == 0 || tie ? 1 : 2, 1);
            EXPECT_STREQ(theFinalStandings.lines[row], expected);
            EXPECT_EQ(theFinalStandings.lineColors[row], seat);
        }
        EXPECT_STREQ(theFinalStandings.lines[2], "");  // empty seats take no place
    };
    expectStandings();
    EXPECT_EQ(theRound.players[0].matchCounter, 1);
    const int32_t total = theRound.players[0].totalScore;
    for (int32_t other : {total + 10, total - 10, total}) {
        theRound.players[1].totalScore = other;
        theFinalStandings.Prepare();
        expectStandings();
        theDirectDraw.ReleaseSurface(theFinalStandings.banner);
    }
}
