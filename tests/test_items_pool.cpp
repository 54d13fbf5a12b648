// The item table, the item pool and the state a match starts from.
#include <gtest/gtest.h>

#include <cstring>

#include "core/app.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "screens/roundintro.h"

namespace {

class ItemPool : public ::testing::Test {
protected:
    void SetUp() override {
        for (int k = 0; k < kItemKinds; ++k) m_weights[k] = g_itemTable[k].weight;
    }
    void TearDown() override {
        for (int k = 0; k < kItemKinds; ++k) g_itemTable[k].weight = m_weights[k];
        theItemManager.BuildPool();
    }
    static void SetAllWeights(int8_t weight) {
        for (ItemTableRow& row : g_itemTable) row.weight = weight;
    }
    int8_t m_weights[kItemKinds];
};

TEST_F(ItemPool, KeyNamesHaveNoBlanks) {
    EXPECT_STREQ(theItemManager.keyNames[0], "SPEED_UP");
    EXPECT_STREQ(theItemManager.keyNames[10], "LR_FLIP");
    EXPECT_STREQ(theItemManager.keyNames[13], "ITEM_DEL");
    EXPECT_STREQ(theItemManager.keyNames[22], "INVINCIBLE");
    EXPECT_STREQ(g_itemTable[18].name, "UD MIRROR");
    for (int k = 0; k < kItemKinds; ++k) EXPECT_EQ(std::strchr(theItemManager.keyNames[k], ' '), nullptr) << k;
}

TEST_F(ItemPool, HoldsOneEntryPerUnitOfWeightInKindOrder) {
    SetAllWeights(100);
    theItemManager.BuildPool();
    ASSERT_EQ(theItemManager.poolCount, 2300);
    for (int i = 0; i < 2300; ++i) ASSERT_EQ(theItemManager.pool[i], i / 100) << i;

    SetAllWeights(0);
    theItemManager.BuildPool();
    EXPECT_EQ(theItemManager.poolCount, 0);

    g_itemTable[2].weight = 5;    // BOMB only
    g_itemTable[7].weight = -20;  // a negative weight adds nothing
    theItemManager.BuildPool();
    ASSERT_EQ(theItemManager.poolCount, 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(theItemManager.pool[i], 2);
}

TEST_F(ItemPool, HoldsTheLargestWeightsAFileCanGive) {
    SetAllWeights(127);
    theItemManager.BuildPool();
    ASSERT_EQ(theItemManager.poolCount, 23 * 127);
    EXPECT_EQ(theItemManager.pool[23 * 127 - 1], 22);
}

TEST(RoundState, ConstructedWithTheDefaults) {
    CRound* round = new CRound;
    EXPECT_EQ(round->state.wait, 80);
    EXPECT_EQ(round->explosionType, 0);
    EXPECT_EQ(round->explosionValues[0], 16);
    EXPECT_EQ(round->explosionValues[3], 300);
    EXPECT_EQ(kPlayClip.left, 1);
    EXPECT_EQ(kPlayClip.top, 17);
    EXPECT_EQ(kPlayClip.right, 639);
    EXPECT_EQ(kPlayClip.bottom, 431);
    EXPECT_EQ(round->meteorite.enable, 0);
    EXPECT_EQ(round->meteorite.intervalSeconds, 60);
    EXPECT_EQ(round->meteorite.count, 200);
    for (int i = 0; i < kPlayers; i++) {
        const PlayerSlot& slot = round->players[i];
        EXPECT_EQ(slot.type, 0);
        EXPECT_EQ(slot.alive, 0);
        EXPECT_EQ(round->heldItems[i].RecordSize(), 2);
        EXPECT_EQ(round->heldItems[i].Count(), 0);
    }
    EXPECT_EQ(round->CountAlive(), 0);
    round->players[1].alive = 1;
    round->players[3].alive = 1;
    EXPECT_EQ(round->CountAlive(), 2);
    delete round;
}

TEST_F(ItemPool, MatchResetClearsStandingsAndRebuildsThePool) {
    int32_t totals[kPlayers];
    uint16_t counters[kPlayers];
    for (int p = 0; p < kPlayers; ++p) {
        totals[p] = theRound.players[p].totalScore;
        counters[p] = theRound.players[p].matchCounter;
        theRound.players[p].totalScore = 50 + p;
        theRound.players[p].matchCounter = 3;
    }
    int32_t roundCounter = theRound.roundCounter;
    theRound.roundCounter = 7;
    SetAllWeights(0);
    g_itemTable[22].weight = 3;

    theRound.ResetMatch();
    for (const PlayerSlot& slot : theRound.players) {
        EXPECT_EQ(slot.totalScore, 0);
        EXPECT_EQ(slot.matchCounter, 0);
    }
    EXPECT_EQ(theRound.roundCounter, 0);
    EXPECT_EQ(theItemManager.poolCount, 3);

    for (int p = 0; p < kPlayers; ++p) {
        theRound.players[p].totalScore = totals[p];
        theRound.players[p].matchCounter = counters[p];
    }
    theRound.roundCounter = roundCounter;
}

TEST(RoundState, UnknownTypesAndKeyboardsStayInsideTheTables) {
    EXPECT_STREQ(PlayerTypeName(4), "HARD COM");
    EXPECT_STREQ(PlayerTypeName(5), "MASTER COM");
    EXPECT_STREQ(PlayerTypeName(6), "NON");
    EXPECT_EQ(EffectivePlayerType(6), PLAYER_NON);
    EXPECT_STREQ(PlayerTypeName(-1), "NON");
    EXPECT_STREQ(PlayerTypeName(127), "NON");

    // The notebook layout differs only in player 4's keys.
    for (int p = 0; p < 3; ++p) EXPECT_EQ(std::memcmp(KeyLayout(0, p), KeyLayout(1, p), 6), 0) << p;
    EXPECT_EQ(KeyLayout(0, 3)[KEY_LEFT], 0x63);
    EXPECT_EQ(KeyLayout(1, 3)[KEY_LEFT], 0xDD);
    EXPECT_EQ(KeyLayout(1, 3)[KEY_ITEM], 0xDB);
    EXPECT_EQ(KeyLayout(1, 3)[KEY_RIGHT], 0xDC);
    // Any other keyboard type from the file uses the notebook layout.
    EXPECT_EQ(KeyLayout(200, 3), KeyLayout(1, 3));
}

}  // namespace
