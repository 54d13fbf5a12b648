// Items on the field: spawning within ITEM_MAX and the stage's item scope,
// the pool's kinds, lifetime, pickup (deadly or not, "QUESTION", the speed
// items at their limits), the held-item stack, and how a line meets an item
// on the field's pixels.
#include <gtest/gtest.h>

#include <algorithm>

#include "sound/directsound.h"
#include "tests/itemtest.h"

namespace {

// Stage 0 has the default scope; 1 is far wider than the field; 2 is one
// pixel too narrow for an item; 3 lies at the ends of the 32-bit range.
const char kScopes[] =
    "FILE=EMPTY.PNG\n1P=100,100,0\n2P=500,284,180\n"
    "FILE=EMPTY.PNG\n1P=100,100,0\n2P=500,284,180\nITEM_SCOPE=-5000,-5000,9000,9000\n"
    "FILE=EMPTY.PNG\n1P=100,100,0\n2P=500,284,180\nITEM_SCOPE=100,100,123,300\n"
    "FILE=EMPTY.PNG\n1P=100,100,0\n2P=500,284,180\nITEM_SCOPE=-2147483648,2147483647,-2147483648,2147483647\n";

// A seed with which a "QUESTION" taken at once (ITEM_GET_DEATH draw first)
// turns into the given kind.
uint32_t SeedTurningQuestionInto(int kind) {
    for (uint32_t seed = 1;; seed++) {
        CApp draws;
        draws.Seed(seed);
        draws.RandRange(1, 100);
        int k;
        while ((k = draws.RandUpTo(kItemKinds - 1)) == ITEM_QUESTION) {
        }
        if (k == kind) return seed;
    }
}

class ItemField : public ItemRound {
protected:
    void SetUp() override {
        ItemRound::SetUp();
        for (int k = 0; k < kItemKinds; k++) m_weights[k] = g_itemTable[k].weight;
        theItemManager.BuildPool();  // as a match start does
    }
    void TearDown() override {
        for (int k = 0; k < kItemKinds; k++) g_itemTable[k].weight = m_weights[k];
        theItemManager.BuildPool();
        ItemRound::TearDown();
    }
    int HeldKind(int player) const {
        DataNode* last = theRound.heldItems[player].Last();
        return last ? CDataList::Record<HeldItem>(last)->kind : -1;
    }
    int8_t m_weights[kItemKinds];
};

}  // namespace

// ITEM_MAX caps the items at once; with only "BOMB" weighted every spawn is
// one; ITEM_SHOW_TIME 0 lets an item go at the next tick of the round clock
// and leaves an empty square.
TEST_F(ItemField, SpawnsWithinTheLimitAndTheirLifetime) {
    WriteStages(kScopes);
    StartRound(2, false);
    UsePicture(ITEM_BOMB, SolidPicture(200));
    theItemManager.itemMax = 0;
    for (int f = 0; f < 3000; f++) theItemManager.Update();
    EXPECT_EQ(theItemManager.fieldCount, 0);

    for (ItemTableRow& row : g_itemTable) row.weight = 0;
    g_itemTable[ITEM_BOMB].weight = 5;
    theItemManager.BuildPool();
    theItemManager.itemMax = 3;
    int most = 0;
    for (int f = 0; f < 3000; f++) {
        theItemManager.Update();
        most = std::max(most, int(theItemManager.fieldCount));
        ASSERT_EQ(theItemManager.fieldCount, theItemManager.fieldItems.Count());
    }
    EXPECT_EQ(most, 3);
    for (DataNode* n = theItemManager.fieldItems.First(); n; n = n->next)
        EXPECT_EQ(CDataList::Record<FieldItem>(n)->kind, ITEM_BOMB);

    theItemManager.Clear();
    theItemManager.itemShowTime = 0;
    theItemManager.Spawn();
    const FieldItem item = *CDataList::Record<FieldItem>(theItemManager.fieldItems.First());
    theItemManager.itemMax = 1;
    theItemManager.Update();
    EXPECT_EQ(theItemManager.fieldCount, 1) << "still the same second";
    EXPECT_EQ(Field(item.x, item.y + 23), 200);
    SetField(item.x + 5, item.y + 5, 44);  // a trail pixel inside the square
    theRound.state.roundSeconds++;
    theItemManager.itemMax = 0;
    theItemManager.Update();
    EXPECT_EQ(theItemManager.fieldCount, 0);
    for (int y = item.y; y < item.y + kItemPx; y++)
        for (int x = item.x; x < item.x + kItemPx; x++) ASSERT_EQ(Field(x, y), 0) << x << "," << y;
}

// A scope wider than the field puts squares anywhere inside the interior and
// never outside; one narrower than an item, or at the ends of the 32-bit
// range, spawns nothing at all.
TEST_F(ItemField, SpawnScopeIsClippedToTheInterior) {
    WriteStages(kScopes);
    StartRound(2, false);
    theApp.Seed(5);
    theRound.state.stageIndex = 1;
    int minX = 999, maxX = 0, minY = 999, maxY = 0;
    for (int k = 0; k < 4000; k++) {
        theItemManager.Spawn();
        ASSERT_EQ(theItemManager.fieldItems.Count(), k + 1);
        const FieldItem& item = *CDataList::Record<FieldItem>(theItemManager.fieldItems.Last());
        minX = std::min(minX, int(item.x));
        maxX = std::max(maxX, int(item.x));
        minY = std::min(minY, int(item.y));
        maxY = std::max(maxY, int(item.y));
    }
    EXPECT_EQ(minX, 1);
    EXPECT_EQ(maxX, 638 - 23);
    EXPECT_EQ(minY, 17);
    EXPECT_EQ(maxY, 430 - 23);
    theItemManager.DrawAll(theRound.local.fieldSurface);
    EXPECT_TRUE(BorderIntact());
    theItemManager.Clear();

    for (int stage : {2, 3}) {
        theRound.state.stageIndex = uint16_t(stage);
        for (int k = 0; k < 100; k++) theItemManager.Spawn();
        EXPECT_EQ(theItemManager.fieldCount, 0) << stage;
        EXPECT_EQ(theItemManager.fieldItems.Count(), 0) << stage;
    }
    // The default scope: x 1..614, y 17..406.
    theRound.state.stageIndex = 0;
    for (int k = 0; k < 4000; k++) theItemManager.Spawn();
    for (DataNode* n = theItemManager.fieldItems.First(); n; n = n->next) {
        const FieldItem& item = *CDataList::Record<FieldItem>(n);
        ASSERT_TRUE(item.x >= 1 && item.x <= 614 && item.y >= 17 && item.y <= 406) << item.x << "," << item.y;
    }
}

// A "QUESTION" that becomes "SPEED UP" acts at once: faster, its own sound,
// no "item_get.wav", nothing held. The speed items at their limits are used
// up without sound or flash. Two items taken and one used: the newer goes.
TEST_F(ItemField, PickupKindsSpeedLimitsAndTheStack) {
    WriteStages(kScopes);
    StartRound(2, false);
    UsePicture(ITEM_QUESTION, SolidPicture(200));
    PlayerSlot& p1 = theRound.players[0];
    Place(0, 100.5f, 116.5f, 0);

    theApp.Seed(SeedTurningQuestionInto(ITEM_SPEED_UP));
    PlaceItem(ITEM_QUESTION, 90, 110);
    Silence();
    ASSERT_TRUE(theItemManager.PickUp(0, theItemManager.FindItemAt(100, 116)));
    EXPECT_EQ(p1.slowness, 1);
    EXPECT_TRUE(Sounded(SE_SPEED_UP));
    EXPECT_FALSE(Sounded(SE_ITEM_GET));
    EXPECT_EQ(theRound.heldItems[0].Count(), 0);
    EXPECT_EQ(theItemManager.fieldCount, 0);
    EXPECT_EQ(Field(100, 116), 28) << "the head pixel is put back in the cleared square";
    EXPECT_EQ(Field(99, 116), 0);

    // At the limits: no sound, no flash (the back buffer keeps its pixels,
    // no refresh is waited for).
    theDirectDraw.FillRect(1, 0, 0, 640, 480, 7);
    uint64_t t0 = plat::TimeUs();
    Silence();
    p1.slowness = 0;
    theItemManager.SpeedUp(0);
    p1.slowness = 4;
    theItemManager.SpeedDown(0);
    EXPECT_EQ(p1.slowness, 4);
    EXPECT_FALSE(Sounded(SE_SPEED_UP) || Sounded(SE_SPEED_DOWN));
    EXPECT_EQ(testutil::PixelAt(1, 300, 300), 7);
    EXPECT_EQ(RefreshesSince(t0), 0);
    // Below the limit: sound and one flashed frame (empty pixels as 255).
    p1.slowness = 2;
    theItemManager.SpeedDown(0);
    EXPECT_EQ(p1.slowness, 3);
    EXPECT_TRUE(Sounded(SE_SPEED_DOWN));
    EXPECT_EQ(testutil::PixelAt(1, 300, 300), 255);
    EXPECT_EQ(testutil::PixelAt(1, 100, 116), 28);

    // The stack: "JUMP" then "MOVE" taken; one use spends "MOVE".
    UsePicture(ITEM_JUMP, SolidPicture(201));
    UsePicture(ITEM_MOVE, SolidPicture(202));
    PlaceItem(ITEM_JUMP, 95, 105);
    PlaceItem(ITEM_MOVE, 88, 100);
    Silence();
    ASSERT_TRUE(theItemManager.PickUp(0, theItemManager.FindItemAt(100, 116)));
    ASSERT_TRUE(theItemManager.PickUp(0, theItemManager.FindItemAt(100, 116)));
    EXPECT_TRUE(Sounded(SE_ITEM_GET));
    EXPECT_EQ(HeldKind(0), ITEM_MOVE);
    theItemManager.UseItem(0);
    EXPECT_GT(p1.noTrailEndFrame, theRound.state.frameCounter);
    EXPECT_EQ(theRound.heldItems[0].Count(), 1);
    EXPECT_EQ(HeldKind(0), ITEM_JUMP);
    EXPECT_EQ(p1.x, 100.5f) << "the jump is still held";
}

// A line meets items only on their drawn pixels: entering a square at its
// corner pixel takes the item and keeps the trail unbroken; with
// ITEM_GET_DEATH 100 the same contact removes the item and kills; crossing a
// square through its empty pixels takes nothing and the trail there goes.
TEST_F(ItemField, LinesMeetItemsOnTheirPixels) {
    WriteStages("FILE=EMPTY.PNG\n1P=100,100,0\n2P=500,284,180\n");
    UsePicture(ITEM_JUMP, SolidPicture(201));
    SurfaceId hollow = SolidPicture(0);
    theDirectDraw.FillRect(hollow, 0, 0, kItemPx, 1, 203);  // only the top row is drawn
    UsePicture(ITEM_WALL, hollow);

    StartRound(2, false);
    PlaceItem(ITEM_JUMP, 110, 116);  // its corner pixel lies on the line's path
    Frames(80);
    const PlayerSlot& p1 = theRound.players[0];
    EXPECT_TRUE(p1.alive);
    EXPECT_EQ(theItemManager.fieldCount, 0);
    ASSERT_EQ(theRound.heldItems[0].Count(), 1);
    for (int x = 100; x < CApp::FloatToInt(p1.x); x++) EXPECT_EQ(Field(x, 116), 28) << x;
    EXPECT_EQ(Field(120, 130), 0);

    StartRound(2, false);
    theItemManager.itemGetDeath = 100;
    PlaceItem(ITEM_JUMP, 110, 116);
    Frames(80);
    EXPECT_FALSE(theRound.players[0].alive);
    EXPECT_EQ(theItemManager.fieldCount, 0);
    EXPECT_EQ(theRound.heldItems[0].Count(), 0);
    theItemManager.itemGetDeath = 0;

    StartRound(2, false);
    PlaceItem(ITEM_WALL, 110, 106);  // the line crosses its row 10, all empty
    Frames(160);
    EXPECT_TRUE(theRound.players[0].alive);
    EXPECT_EQ(theRound.players[0].x, 140.0f);
    EXPECT_EQ(theItemManager.fieldCount, 1);
    EXPECT_EQ(theRound.heldItems[0].Count(), 0);
    for (int x = 110; x < 134; x++) EXPECT_EQ(Field(x, 116), 0) << x;
    EXPECT_EQ(Field(109, 116), 28);
    EXPECT_EQ(Field(134, 116), 28);
    EXPECT_EQ(Field(115, 106), 203);
}
