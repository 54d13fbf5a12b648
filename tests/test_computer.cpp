// Computer players: the look-ahead ray on a field of its own, the decision
// rule of the probing players and the random steering, each compared draw by
// draw with a second random generator seeded alike; then the round loop
// calling them only for slots that act, before the slot's move, and their
// deciding from their view of the round alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "computer/computer.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "tests/testutil.h"

namespace {

constexpr int kPitch = 640;

// An 8-bit field of open ground the size of the screen.
struct Field {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(kPitch * 480, 0);
    void Set(int x, int y, uint8_t v = 60) { pixels[y * kPitch + x] = v; }
    const uint8_t* data() const { return pixels.data(); }
};

// The first seed whose generator passes the test; it never touches theApp.
uint32_t SeedWhere(const std::function<bool(CApp&)>& test) {
    for (uint32_t seed = 1;; seed++) {
        CApp probe;
        probe.Seed(seed);
        if (test(probe)) return seed;
    }
}

// Rule-level tests: the thinking operations on a slot and a field of the
// test's own; every slot acts (phase counters 0), nothing lies on the field.
class ComputerTest : public ::testing::Test {
protected:
    void SetUp() override {
        theApp.FillDirectionTables();
        std::memset(theRound.state.phase, 0, sizeof theRound.state.phase);
        theRound.state.frameCounter = 100;
        theItemManager.fieldItems.Clear();
        m_slot.slowness = 2;
        m_slot.mirrorEndFrame = 0;
        m_slot.useItemRequest = 0;
        theRound.heldItems[0].SetRecordSize(sizeof(HeldItem));
        theRound.heldItems[0].Clear();
        Place(300.5f, 200.5f, 0);
    }
    void TearDown() override {
        theItemManager.fieldItems.Clear();
        theRound.heldItems[0].Clear();
    }

    void Place(float x, float y, uint16_t heading) {
        m_slot.x = x;
        m_slot.y = y;
        m_slot.heading = heading;
    }
    void Hold(int kind) { CDataList::Record<HeldItem>(theRound.heldItems[0].Add())->kind = uint16_t(kind); }
    int Ray(int heading, bool diagonalCheck = true) {
        return theRound.ProbeClearance(m_slot.x, m_slot.y, heading, 20, m_field.data(), kPitch, diagonalCheck);
    }
    // One thinking step of a probing player, started from the given seed.
    void Think(uint32_t seed, bool diagonalCheck = true) {
        theApp.Seed(seed);
        ThinkAs(diagonalCheck ? PLAYER_NORMAL : PLAYER_HARD);
    }
    // The presses of a computer player of this type for m_slot, applied.
    void ThinkAs(int type) {
        theRound.ApplyComputerPresses(
            m_slot, ThinkComputer(type, theRound.ViewFor(0, m_slot, m_field.data(), kPitch, theItemManager)));
    }
    // theApp has made exactly the given draws since it was seeded.
    static void ExpectDrawn(uint32_t seed, const std::function<void(CApp&)>& draws) {
        CApp expected;
        expected.Seed(seed);
        draws(expected);
        EXPECT_EQ(theApp.RandState(), expected.RandState());
    }
    void Lay(int x, int y, uint16_t kind = ITEM_BOMB) {
        FieldItem& item = *CDataList::Record<FieldItem>(theItemManager.fieldItems.Add());
        item.x = x;
        item.y = y;
        item.kind = kind;
    }

    PlayerSlot m_slot{};
    Field m_field;
};

}  // namespace

// A ray that starts outside the interior is blocked at once; one that leaves
// it or meets a pixel reports that step; the head's own pixel is not seen;
// a heading of any sign and size reads as its remainder.
TEST_F(ComputerTest, RaysStopAtTheAreaAndAtPixels) {
    const uint8_t* f = m_field.data();
    EXPECT_EQ(theRound.ProbeClearance(0.9f, 200.0f, 0, 20, f, kPitch, true), 1);
    EXPECT_EQ(theRound.ProbeClearance(639.0f, 200.0f, 180, 20, f, kPitch, true), 1);
    EXPECT_EQ(theRound.ProbeClearance(300.0f, 16.9f, 270, 20, f, kPitch, true), 1);
    EXPECT_EQ(theRound.ProbeClearance(300.0f, 431.0f, 90, 20, f, kPitch, true), 1);
    // From x 630.5 heading right: 638 is the last column inside, 639 step 9.
    EXPECT_EQ(theRound.ProbeClearance(630.5f, 200.5f, 0, 20, f, kPitch, false), 9);
    EXPECT_EQ(theRound.ProbeClearance(630.5f, 200.5f, 0, 8, f, kPitch, false), 0);
    EXPECT_EQ(theRound.ProbeClearance(300.5f, 20.5f, 90, 20, f, kPitch, false), 4);

    m_field.Set(310, 200);
    EXPECT_EQ(Ray(0), 10);
    EXPECT_EQ(Ray(360), 10);
    EXPECT_EQ(Ray(-720), 10);
    EXPECT_EQ(Ray(-360 - 180), Ray(180));
    EXPECT_EQ(Ray(-330), Ray(30));
    EXPECT_EQ(Ray(750), Ray(30));
    EXPECT_EQ(theRound.ProbeClearance(m_slot.x, m_slot.y, 0, 9, f, kPitch, true), 0);

    // Heading 45 from (100.1, 200.9): the first step stays in pixel (100, 200),
    // which holds the head's own colour.
    m_field.Set(100, 200, 28);
    EXPECT_EQ(theRound.ProbeClearance(100.1f, 200.9f, 45, 20, f, kPitch, true), 0);
}

// An item's 24x24 square hides the pixels it covers from the ray, its right
// edge excluded; without the item the same pixel blocks.
TEST_F(ComputerTest, RaysPassThroughItemSquares) {
    for (int y = 190; y <= 210; y++) m_field.Set(310, y, 255);
    ASSERT_EQ(Ray(0), 10);
    Lay(287, 190);  // covers columns 287..310
    EXPECT_EQ(Ray(0), 0);
    theItemManager.fieldItems.Clear();
    Lay(286, 190);  // 286..309: the wall pixel is just outside
    EXPECT_EQ(Ray(0), 10);
    theItemManager.fieldItems.Clear();
    Lay(300, 201);  // rows 201..224: row 200 is not covered
    EXPECT_EQ(Ray(0), 10);
}

// Between two pixels that touch at their corners the diagonal flag decides;
// one corner alone never blocks, and items do not open the corners.
TEST_F(ComputerTest, DiagonalGapsOpenOnlyWithoutTheCheck) {
    // Heading 45 from (100.5, 200.5) steps into (101, 199); the corners are
    // (101, 200) and (100, 199).
    Place(100.5f, 200.5f, 45);
    m_field.Set(101, 200);
    EXPECT_EQ(Ray(45, true), 0);
    m_field.Set(100, 199);
    EXPECT_EQ(Ray(45, true), 1);
    EXPECT_EQ(Ray(45, false), 0);
    Lay(90, 190);
    EXPECT_EQ(Ray(45, true), 1);
}

// "EASY COM": one draw of 0..100 turns on 1 and 2; a held item adds a draw
// of 0..20 that asks for its use on 0; nothing held, no second draw.
TEST_F(ComputerTest, EasyComTurnsAndUsesAtRandom) {
    struct Case {
        int turnDraw;
        int expectedHeading;
    } cases[] = {{1, 30}, {2, 330}, {50, 0}};
    for (const Case& c : cases) {
        uint32_t seed = SeedWhere([&](CApp& r) { return r.RandUpTo(100) == c.turnDraw && r.RandUpTo(20) == 0; });
        m_slot.heading = 0;
        theRound.heldItems[0].Clear();
        theApp.Seed(seed);
        ThinkAs(PLAYER_EASY);
        EXPECT_EQ(m_slot.heading, c.expectedHeading) << c.turnDraw;
        ExpectDrawn(seed, [](CApp& r) { r.RandUpTo(100); });
        EXPECT_EQ(m_slot.useItemRequest, 0);

        Hold(ITEM_BOMB);  // the class does not matter to this rule
        m_slot.heading = 0;
        theApp.Seed(seed);
        ThinkAs(PLAYER_EASY);
        ExpectDrawn(seed, [](CApp& r) {
            r.RandUpTo(100);
            r.RandUpTo(20);
        });
        EXPECT_EQ(m_slot.useItemRequest, 1);
        m_slot.useItemRequest = 0;
    }
}

// The probing rule with the way ahead blocked at step 5: the turn goes to
// the clearer side without a draw, to a random side when both sides are
// equally clear, and while mirrored the turn comes out the other way round.
TEST_F(ComputerTest, ProbingComTurnsTowardTheClearerSide) {
    m_field.Set(305, 200);
    ASSERT_EQ(Ray(0), 5);
    ASSERT_EQ(Ray(30), 0);
    ASSERT_EQ(Ray(-30), 0);
    // Both sides clear: RandRange(0, 1) picks +30 on 0 and -30 on 1.
    for (int side = 0; side <= 1; side++) {
        uint32_t seed = SeedWhere([&](CApp& r) { return r.RandRange(0, 1) == side; });
        m_slot.heading = 0;
        Think(seed);
        EXPECT_EQ(m_slot.heading, side == 0 ? 30 : 330);
        ExpectDrawn(seed, [](CApp& r) { r.RandRange(0, 1); });
    }
    // A wall below blocks the -30 ray at step 9: +30 without a draw.
    for (int x = 290; x <= 340; x++) m_field.Set(x, 205);
    ASSERT_GT(Ray(-30), 5);
    m_slot.heading = 0;
    Think(7);
    EXPECT_EQ(m_slot.heading, 30);
    EXPECT_EQ(theApp.RandState(), 7u);
    // Mirrored: the same choice turns the slot clockwise.
    m_slot.heading = 0;
    m_slot.mirrorEndFrame = theRound.state.frameCounter + 1;
    Think(7);
    EXPECT_EQ(m_slot.heading, 330);
}

// With both side rays blocked no later than the way ahead, the player only
// wanders: a draw of 1 turns +30 only when that side is clear beyond step 10.
TEST_F(ComputerTest, ProbingComWandersWhenNoSideIsBetter) {
    uint32_t turnSeed = SeedWhere([](CApp& r) { return r.RandUpTo(100) == 1; });
    for (int x = 290; x <= 340; x++) m_field.Set(x, 194), m_field.Set(x, 207);
    m_field.Set(315, 200);
    int p = Ray(30), m = Ray(-30);
    ASSERT_GT(p, 10);
    ASSERT_LE(p, 15);
    ASSERT_LE(m, 15);
    Think(turnSeed);
    EXPECT_EQ(m_slot.heading, 30);

    // A wall one row closer blocks the +30 side at step 10 exactly: no turn.
    for (int x = 290; x <= 340; x++) m_field.Set(x, 195);
    ASSERT_EQ(Ray(30), 10);
    m_slot.heading = 0;
    Think(turnSeed);
    EXPECT_EQ(m_slot.heading, 0);
    ExpectDrawn(turnSeed, [](CApp& r) { r.RandUpTo(100); });
}

// A held item of class 0 or 2 is used on a draw of 0 of 0..50; one of class 1
// is kept however the draw comes, until the way ahead is blocked fewer than
// 10 steps away, and then it is used instead of a turn.
TEST_F(ComputerTest, ProbingComKeepsClassOneItemsForTheLastMoment) {
    uint32_t useSeed = SeedWhere([](CApp& r) { return r.RandUpTo(50) == 0 && r.RandUpTo(100) > 2; });
    Hold(ITEM_LASER);
    Think(useSeed);
    EXPECT_EQ(m_slot.useItemRequest, 1);
    EXPECT_EQ(m_slot.heading, 0);
    m_slot.useItemRequest = 0;
    Hold(ITEM_BOMB);  // the most recent one counts
    Think(useSeed);
    EXPECT_EQ(m_slot.useItemRequest, 0);

    // Blocked at step 15: a turn, not the item. Blocked at step 9: the item,
    // heading kept, and no draw after the one of 0..50.
    for (int x = 290; x <= 340; x++) m_field.Set(x, 205);
    m_field.Set(315, 200);
    Think(useSeed);
    EXPECT_EQ(m_slot.useItemRequest, 0);
    EXPECT_EQ(m_slot.heading, 30);
    m_slot.heading = 0;
    m_field.Set(309, 200);
    ASSERT_EQ(Ray(0), 9);
    Think(useSeed);
    EXPECT_EQ(m_slot.useItemRequest, 1);
    EXPECT_EQ(m_slot.heading, 0);
    ExpectDrawn(useSeed, [](CApp& r) { r.RandUpTo(50); });
}

// In a frame in which the slot's phase counter is not 0 neither rule draws,
// turns or asks for an item.
TEST_F(ComputerTest, NoThinkingBetweenMovementSteps) {
    Hold(ITEM_LASER);
    m_slot.slowness = 3;
    theRound.state.phase[3] = 5;
    for (int k = 0; k < 20; k++) {
        Think(1234);
        ThinkAs(PLAYER_EASY);
    }
    EXPECT_EQ(theApp.RandState(), 1234u);
    EXPECT_EQ(m_slot.heading, 0);
    EXPECT_EQ(m_slot.useItemRequest, 0);
}

namespace {

// Loop-level tests: real rounds on the first stage of the game folder (an
// open arena) with two computer players, headless on the test clock.
class ComputerRoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        testutil::StartRoundsHeadless(1500);
        testutil::ScopedCwd cwd(NUVEL_GAME_DIR);
        theStageSelect.LoadStageList();
        theStageSelect.selectedStage = 0;
        theStageSelect.cursor = SELECT_NORMAL_GAME;
        theItemManager.itemMax = 0;
        theRound.meteorite.enable = 0;
        for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_NON;
    }
    void TearDown() override {
        if (theRound.local.playfieldSurface) theRound.Teardown();
        theItemManager.itemMax = 1;
        for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_MAN;
    }

    void StartRound(int8_t type0, int8_t type1) {
        theRound.players[0].type = type0;
        theRound.players[1].type = type1;
        testutil::ScopedCwd cwd(NUVEL_GAME_DIR);
        theRound.Setup(ChosenRoundStart());
        theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
        theRound.local.lastSecondMs = plat::TimeMs();
        theRound.state.stageEffect = 0;
        // Open ground inside the outline, and both lines placed by the test.
        theDirectDraw.FillRect(0, kInteriorLeft, kInteriorTop, 638, 414, 0);
        Put(0, 100.5f, 300.5f, 45);
        Put(1, 400.5f, 300.5f, 45);
    }
    void Put(int i, float x, float y, uint16_t heading) {
        PlayerSlot& slot = theRound.players[i];
        slot.x = x;
        slot.y = y;
        slot.heading = heading;
        slot.lastPixelX = int(x);
        slot.lastPixelY = int(y);
    }
    // Runs frames up to (not including) the next one in which slowness 2 steps.
    void FramesUntilStep() {
        while (theRound.state.phase[2] != 3) ASSERT_EQ(PlayFrame(), FRAME_GO_ON);
    }
    void SetPixel(int x, int y) {
        SurfaceDesc field = theDirectDraw.Lock(0);
        field.pixels[y * field.pitch + x] = 60;
        theDirectDraw.Unlock(0);
    }
};

}  // namespace

// The loop lets a computer player think only in the frames in which its slot
// acts and steps: stopped or between steps, no random number is drawn.
TEST_F(ComputerRoundTest, ComputersThinkOnlyWhenTheirSlotActs) {
    StartRound(PLAYER_EASY, PLAYER_HARD);
    for (PlayerSlot& slot : theRound.players) slot.stoppedUntilFrame = theRound.state.frameCounter + 40;
    uint32_t state = theApp.RandState();
    for (int k = 0; k < 30; k++) ASSERT_EQ(PlayFrame(), FRAME_GO_ON);
    EXPECT_EQ(theApp.RandState(), state);
    EXPECT_EQ(theRound.players[0].x, 100.5f);

    for (PlayerSlot& slot : theRound.players) slot.stoppedUntilFrame = 0;
    int steps = 0;
    for (int k = 0; k < 40; k++) {
        float x = theRound.players[0].x;
        state = theApp.RandState();
        ASSERT_EQ(PlayFrame(), FRAME_GO_ON);
        bool stepped = theRound.players[0].x != x;
        EXPECT_EQ(theApp.RandState() != state, stepped) << k;
        steps += stepped;
    }
    EXPECT_EQ(steps, 10);
}

// "NORMAL COM" sees a gap between two corner-touching pixels 10 steps ahead as
// a wall and turns toward the clear side; the turn is in force for the move
// of the same frame. "HARD COM" sees the way clear and only wanders.
TEST_F(ComputerRoundTest, NormalTurnsAtADiagonalGapThatHardLooksThrough) {
    StartRound(PLAYER_NORMAL, PLAYER_HARD);
    FramesUntilStep();
    // Heading 45 from (x + 0.5, 300.5) steps from (x + 6, 294) to (x + 7, 293);
    // a pixel at (x + 14, 296) blocks the -30 ray at step 14.
    for (int x : {100, 400}) {
        SetPixel(x + 7, 294);
        SetPixel(x + 6, 293);
        SetPixel(x + 14, 296);
    }
    SurfaceDesc field = theDirectDraw.Lock(0);
    const PlayerSlot& normal = theRound.players[0];
    const PlayerSlot& hard = theRound.players[1];
    EXPECT_EQ(theRound.ProbeClearance(normal.x, normal.y, 45, 20, field.pixels, field.pitch, true), 10);
    EXPECT_EQ(theRound.ProbeClearance(hard.x, hard.y, 45, 20, field.pixels, field.pitch, false), 0);
    EXPECT_EQ(theRound.ProbeClearance(hard.x, hard.y, 15, 20, field.pixels, field.pitch, false), 14);
    theDirectDraw.Unlock(0);

    theApp.Seed(SeedWhere([](CApp& r) {
        int v = r.RandUpTo(100);
        return v != 1 && v != 2;
    }));
    ASSERT_EQ(PlayFrame(), FRAME_GO_ON);
    EXPECT_EQ(normal.heading, 75);
    EXPECT_EQ(normal.x, 100.5f + theApp.cosTable[75]);
    EXPECT_EQ(normal.y, 300.5f + theApp.negSinTable[75]);
    EXPECT_EQ(hard.heading, 45);
    for (int k = 0; k < 40; k++) ASSERT_EQ(PlayFrame(), FRAME_GO_ON);
    EXPECT_TRUE(theRound.players[1].alive);
    EXPECT_LT(hard.y, 293.0f);  // through the gap
}

// A computer player decides from its view alone. Through a real round of all
// four kinds holding items, before each frame every acting computer player
// thinks once on the live round, and once more from a copy of what it saw
// while the live round is set aside (another round and item manager stand
// in for it, its field is blanked): it presses the same, draws the same
// random numbers, and its thinking leaves the round as it was.
TEST_F(ComputerRoundTest, ComputersDecideFromTheirViewAlone) {
    theRound.players[2].type = PLAYER_EASY;
    theRound.players[3].type = PLAYER_MASTER;
    StartRound(PLAYER_NORMAL, PLAYER_HARD);
    Put(2, 100.5f, 150.5f, 45);
    Put(3, 400.5f, 150.5f, 45);
    // Each line holds items, and has a wall pixel ahead that an item covers.
    for (int i = 0; i < kPlayers; i++) {
        const PlayerSlot& slot = theRound.players[i];
        theRound.GiveItems(theRound.players[i], i, ITEM_SPEED_DOWN, 2, false);
        theRound.GiveItems(theRound.players[i], i, ITEM_JUMP, 2, false);
        float x = slot.x, y = slot.y;
        for (int k = 0; k < 8; k++) StepAlong(x, y, slot.heading);
        const int wallX = CApp::FloatToInt(x), wallY = CApp::FloatToInt(y), half = kItemPx / 2;
        if (!InsideInterior(wallX - half, wallY - half) || !InsideInterior(wallX + half, wallY + half)) continue;
        SetPixel(wallX, wallY);
        FieldItem& item = *CDataList::Record<FieldItem>(theItemManager.fieldItems.Add());
        item = FieldItem{};
        item.x = wallX - half;
        item.y = wallY - half;
        item.kind = ITEM_BOMB;
        item.expirySecond = 1000;
        theItemManager.fieldCount++;
    }
    static CRound aside;
    static CItemManager asideItems;
    int thoughts = 0, pressed = 0;
    for (int frame = 0; frame < 600; frame++) {
        for (int i = 0; i < kPlayers; i++) {
            const int type = theRound.players[i].type;
            if (!theRound.players[i].alive) continue;
            SurfaceDesc field = theDirectDraw.Lock(theRound.local.fieldSurface);
            const size_t size = size_t(field.pitch) * size_t(field.height);
            const std::vector<uint8_t> pixels(field.pixels, field.pixels + size);
            PlayerSlot slots[kPlayers];
            std::memcpy(slots, theRound.players, sizeof slots);
            const RoundState state = theRound.state;
            const uint32_t seed = theApp.RandState();

            const SeatPresses live = ThinkComputer(
                type, theRound.ViewFor(i, theRound.players[i], field.pixels, field.pitch, theItemManager));
            const uint32_t drawn = theApp.RandState();
            EXPECT_TRUE(std::equal(slots, slots + kPlayers, theRound.players));
            EXPECT_EQ(theRound.state, state);
            EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), field.pixels));

            aside.Exchange(theRound);
            asideItems.Exchange(theItemManager);
            std::fill(field.pixels, field.pixels + size, 0);
            theApp.Seed(seed);
            const SeatPresses fromCopy =
                ThinkComputer(type, aside.ViewFor(i, aside.players[i], pixels.data(), field.pitch, asideItems));
            EXPECT_TRUE(fromCopy == live) << "seat " << i << ", frame " << theRound.state.frameCounter;
            EXPECT_EQ(theApp.RandState(), drawn);
            std::copy(pixels.begin(), pixels.end(), field.pixels);
            asideItems.Exchange(theItemManager);
            aside.Exchange(theRound);
            theDirectDraw.Unlock(theRound.local.fieldSurface);
            theApp.Seed(seed);
            thoughts++;
            pressed += live.turnLeft || live.turnRight || live.useItem;
        }
        if (PlayFrame() != FRAME_GO_ON) break;
    }
    EXPECT_GT(thoughts, 400);
    EXPECT_GT(pressed, 10);
}
