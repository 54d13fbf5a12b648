// The planning computer player on hand-made fields: at a fork it takes the
// larger region, also while its turns are mirrored; it leaves a corridor that
// another line is about to close while it still can; it uses an item kept
// for the last moment before it would die; between its steps it neither
// thinks nor draws, and in a round it never draws at all.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "computer/computer.h"
#include "computer/planner.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "tests/testutil.h"

namespace {

constexpr int kPitch = 640;
constexpr uint8_t kWall = 255;

class MasterTest : public ::testing::Test {
protected:
    void SetUp() override {
        theApp.FillDirectionTables();
        std::memcpy(m_saved, theRound.players, sizeof m_saved);
        std::memset(theRound.state.phase, 0, sizeof theRound.state.phase);
        theRound.state.frameCounter = 100;
        theRound.state.stageEffect = 0;
        theItemManager.fieldItems.Clear();
        theRound.meteorite.list.Clear();
        theRound.missile.list.Clear();
        theRound.pingPong.list.Clear();
        theRound.mold.list.Clear();
        theRound.state.scrollPlay = 0;
        for (int i = 0; i < kPlayers; i++) {
            theRound.players[i] = PlayerSlot{};
            theRound.heldItems[i].SetRecordSize(sizeof(HeldItem));
            theRound.heldItems[i].Clear();
        }
    }
    void TearDown() override {
        theItemManager.fieldItems.Clear();
        theRound.pingPong.list.Clear();
        for (CDataList& held : theRound.heldItems) held.Clear();
        std::memcpy(theRound.players, m_saved, sizeof m_saved);
    }

    void Fill(int x0, int y0, int x1, int y1, uint8_t v = kWall) {
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) m_pixels[y * kPitch + x] = v;
    }
    PlayerSlot& Put(int i, float x, float y, uint16_t heading) {
        PlayerSlot& slot = theRound.players[i];
        slot.alive = 1;
        slot.type = i == 0 ? PLAYER_MASTER : PLAYER_HARD;
        slot.slowness = 2;
        slot.x = x;
        slot.y = y;
        slot.heading = heading;
        slot.lastPixelX = int(x);
        slot.lastPixelY = int(y);
        m_pixels[int(y) * kPitch + int(x)] = uint8_t(PlayerTrailIndex(i));
        return slot;
    }
    // One frame in which every live slot steps: the planner thinks for slot
    // 0, the other lines keep their headings.
    void Frame() {
        theRound.state.frameCounter++;
        for (int i = 0; i < kPlayers; i++) {
            PlayerSlot& slot = theRound.players[i];
            if (!slot.alive) continue;
            if (i == 0) Think(slot);
            theRound.Advance(slot);
            theRound.PlotTrail(slot, i, m_pixels.data(), kPitch);
            if (slot.hit) slot.alive = 0;
        }
    }
    // The planner's presses for slot 0, applied as the round applies them.
    void Think(PlayerSlot& slot) { theRound.ApplyComputerPresses(slot, ThinkComputer(PLAYER_MASTER, View())); }
    ComputerView View() { return theRound.ViewFor(0, theRound.players[0], m_pixels.data(), kPitch, theItemManager); }
    void Hold(int kind) { CDataList::Record<HeldItem>(theRound.heldItems[0].Add())->kind = uint16_t(kind); }

    std::vector<uint8_t> m_pixels = std::vector<uint8_t>(kPitch * 480, 0);
    PlayerSlot m_saved[kPlayers];
};

// A line runs up beside its own trail toward a wall across the field. On one
// side of its trail lies a strip 19 pixels wide, on the other the rest of the
// field; it turns toward the larger side, whichever side that is and whether
// or not its turns are mirrored.
TEST_F(MasterTest, AtAForkItTakesTheLargerRegion) {
    struct Case {
        int smallSideWallX;  // the strip lies between this wall and the trail at x 300
        bool mirrored;
        bool expectRight;
    } cases[] = {{280, false, true}, {280, true, true}, {320, false, false}, {320, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.smallSideWallX) + (c.mirrored ? " mirrored" : ""));
        std::fill(m_pixels.begin(), m_pixels.end(), 0);
        Fill(kInteriorLeft, 98, kInteriorRight, 100);
        Fill(c.smallSideWallX, 100, c.smallSideWallX, kInteriorBottom);
        Fill(300, 107, 300, kInteriorBottom, uint8_t(PlayerTrailIndex(0)));
        PlayerSlot& slot = Put(0, 300.5f, 106.5f, 90);
        slot.mirrorEndFrame = c.mirrored ? 1000000 : 0;
        for (int k = 0; k < 40; k++) Frame();
        EXPECT_TRUE(slot.alive);
        if (c.expectRight)
            EXPECT_GT(slot.x, 310.0f);
        else
            EXPECT_LT(slot.x, 290.0f);
    }
}

// A dead-end corridor (rows 191..229, open to the left at column 60) with a
// gap in its upper wall at columns 95..105, through which another line is
// coming down: it will cut the corridor at column 100 and die on the lower
// wall. The planner, heading deeper into the corridor, turns round and gets
// out before the cut closes it in.
TEST_F(MasterTest, ItLeavesAClosingCorridorWhileItStillCan) {
    Fill(60, 190, 250, 190);
    Fill(95, 190, 105, 190, 0);
    Fill(60, 230, 250, 230);
    Fill(250, 190, 250, 230);
    PlayerSlot& master = Put(0, 130.5f, 210.5f, 0);
    PlayerSlot& other = Put(1, 100.5f, 150.5f, 270);
    for (int k = 0; k < 160; k++) Frame();
    EXPECT_FALSE(other.alive);
    ASSERT_TRUE(master.alive);
    const bool inCorridor = master.x > 60.0f && master.x < 250.0f && master.y > 190.0f && master.y < 230.0f;
    EXPECT_FALSE(inCorridor) << master.x << ", " << master.y;
}

// In a passage three pixels high, too narrow to turn round in, with a wall
// two steps ahead, a held "BOMB" (kept for the last moment) is asked for in
// the line's step, and not a frame earlier: between steps the planner
// changes nothing and draws nothing.
TEST_F(MasterTest, BetweenStepsItNeitherThinksNorDraws) {
    Fill(302, 150, 302, 250);
    Fill(270, 198, 302, 198);
    Fill(270, 202, 302, 202);
    PlayerSlot& slot = Put(0, 300.5f, 200.5f, 0);
    Hold(ITEM_BOMB);
    theApp.Seed(4321);
    theRound.state.phase[2] = 1;
    for (int k = 0; k < 3; k++) Think(slot);
    EXPECT_EQ(slot.useItemRequest, 0);
    EXPECT_EQ(slot.heading, 0);
    theRound.state.phase[2] = 0;
    Think(slot);
    EXPECT_EQ(slot.useItemRequest, 1);
    EXPECT_EQ(theApp.RandState(), 4321u);

    // With room ahead the "BOMB" is kept.
    slot.useItemRequest = 0;
    Fill(302, 150, 302, 250, 0);
    Think(slot);
    EXPECT_EQ(slot.useItemRequest, 0);
}

// The planner moves a head as the round moves its line from a step frame to
// its next: for every slowness and heading, each first move, and gravity
// that does not hold, holds throughout, or ends within the step, the head
// reaches the same place with the same heading, and its next step falls in
// the frame in which the round's phase counter next lets the line step.
TEST_F(MasterTest, ThePlannersStepIsTheRounds) {
    for (int slowness = 0; slowness <= kSlowestSlowness; slowness++) {
        const int period = StepPeriodFrames(slowness);
        for (int heading = 0; heading < 360; heading++)
            for (int turn : {0, +kTurnDegrees, -kTurnDegrees})
                for (int gravityFrames : {0, 1, period / 2 + 1, period}) {
                    const int32_t now = 100;
                    std::memset(theRound.state.phase, 0, sizeof theRound.state.phase);
                    theRound.state.frameCounter = now;
                    PlayerSlot slot{};
                    slot.alive = 1;
                    slot.slowness = uint8_t(slowness);
                    slot.x = 300.25f;
                    slot.y = 200.75f;
                    slot.heading = uint16_t(heading);
                    slot.gravityEndFrame = gravityFrames ? now + gravityFrames : 0;
                    planner::Head head{slot.x, slot.y, slot.heading, 300, 200, now};

                    theRound.Turn(slot, turn);
                    theRound.Advance(slot);
                    for (int f = 1; f < period; f++) {
                        theRound.TickPhases();
                        theRound.state.frameCounter++;
                        theRound.Advance(slot);
                    }
                    theRound.TickPhases();
                    planner::MoveHead(head, turn, period, slot.gravityEndFrame);

                    if (head.x != slot.x || head.y != slot.y || head.heading != slot.heading ||
                        !StepsThisFrame(theRound.state.phase, slowness) || head.frame != now + period) {
                        ADD_FAILURE() << "slowness " << slowness << ", heading " << heading << ", turn " << turn
                                      << ", gravity " << gravityFrames << ": planner (" << head.x << ", " << head.y
                                      << ") " << head.heading << ", round (" << slot.x << ", " << slot.y << ") "
                                      << slot.heading;
                        return;
                    }
                }
    }
}

// In scroll play the planner sees what its scroll view shows, the 80x80
// square round its head: not a head 60 pixels away, not an item or a ball
// beyond it, and no ground there to count. In normal play it sees them all.
TEST_F(MasterTest, InScrollPlayItSeesOnlyItsView) {
    Put(0, 300.5f, 200.5f, 90);
    Put(1, 360.5f, 200.5f, 90);
    CDataList::Record<FieldItem>(theItemManager.fieldItems.Add())->x = 100;
    BallRecord* ball = CDataList::Record<BallRecord>(theRound.pingPong.list.Add());
    ball->x = 290;
    ball->y = 110;
    static planner::View view;
    for (bool scroll : {false, true}) {
        SCOPED_TRACE(scroll ? "scroll play" : "normal play");
        planner::Look(view, View(), scroll);
        EXPECT_EQ(view.otherCount, scroll ? 0 : 1);
        EXPECT_EQ(view.itemCount, scroll ? 0 : 1);
        EXPECT_EQ(view.trackCount, scroll ? 0 : 1);
        EXPECT_TRUE(planner::OpenPixel(view, 339, 239));
        EXPECT_EQ(planner::OpenPixel(view, 340, 200), !scroll);
        EXPECT_EQ(planner::OpenPixel(view, 300, 159), !scroll);
        const planner::Head start = planner::StartHead(View());
        const planner::PathResult path = planner::SearchFirstMove(view, start, 0);
        planner::MapOtherLines(view, true);
        const planner::Territory ground = planner::CountTerritory(view, path);
        if (scroll)
            EXPECT_LE(ground.cells, (80 / 4) * (80 / 4));
        else
            EXPECT_GT(ground.cells, (80 / 4) * (80 / 4));
    }
}

// On the stage that sprinkles dots, a box of 20x20 cells strewn with lone
// dots (two cell columns and rows of every three hold one) is open ground
// to the count; a row of touching dots across it is a wall that keeps the
// count to the part below it. Replays made before counted every dotted cell
// as shut, and still play so.
TEST_F(MasterTest, LoneDotsDoNotShutGroundButAWallOfDotsDoes) {
    theRound.state.stageEffect = 1;
    Fill(199, 151, 280, 232);
    Fill(200, 152, 279, 231, 0);
    for (int y = 155; y <= 231; y += 6)
        for (int x = 203; x <= 279; x += 6) m_pixels[y * kPitch + x] = kOutlineIndex;
    Put(0, 240.5f, 226.5f, 90);
    static planner::View view;
    auto count = [&](bool oldRule) {
        theRound.start.oldGroundRule = oldRule ? 1 : 0;
        planner::Look(view, View(), false);
        const planner::PathResult path = planner::SearchFirstMove(view, planner::StartHead(View()), 0);
        EXPECT_EQ(path.survivedSteps, planner::kHorizonSteps);
        planner::MapOtherLines(view, true);
        return planner::CountTerritory(view, path).cells;
    };
    const int boxCells = 20 * 20;
    EXPECT_GT(count(false), boxCells - 20);
    EXPECT_LT(count(true), boxCells * 2 / 3);

    Fill(200, 192, 279, 192, kOutlineIndex);
    const int belowWallCells = 20 * 9;
    EXPECT_LE(count(false), belowWallCells);
    EXPECT_GT(count(false), belowWallCells - 20);
    theRound.start.oldGroundRule = 0;
}

// In real rounds of two planning lines (no items, no stage effect) the
// generator is never drawn, and a heading changes only in a step frame.
TEST(MasterRound, NeverDrawsAndTurnsOnlyInStepFrames) {
    testutil::StartRoundsHeadless(1500);
    testutil::ScopedCwd cwd(NUVEL_GAME_DIR);
    theStageSelect.LoadStageList();
    theStageSelect.selectedStage = 0;
    theStageSelect.cursor = SELECT_NORMAL_GAME;
    theItemManager.itemMax = 0;
    theRound.meteorite.enable = 0;
    int8_t saved[kPlayers];
    for (int i = 0; i < kPlayers; i++) saved[i] = theRound.players[i].type;
    theRound.players[0].type = theRound.players[1].type = PLAYER_MASTER;
    theRound.players[2].type = theRound.players[3].type = PLAYER_NON;
    theApp.Seed(77);
    theRound.Setup(ChosenRoundStart());
    theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
    theRound.state.stageEffect = 0;
    const uint32_t afterSetup = theApp.RandState();
    int turns = 0, result = FRAME_GO_ON;
    for (int k = 0; k < 4000 && result == FRAME_GO_ON; k++) {
        uint16_t headings[2] = {theRound.players[0].heading, theRound.players[1].heading};
        result = PlayFrame();
        const bool stepFrame = theRound.state.phase[2] == 0;
        for (int i = 0; i < 2; i++)
            if (theRound.players[i].heading != headings[i]) {
                EXPECT_TRUE(stepFrame) << "frame " << theRound.state.frameCounter;
                turns++;
            }
    }
    EXPECT_GT(turns, 0);
    EXPECT_EQ(theApp.RandState(), afterSetup);
    theRound.Teardown();
    theItemManager.itemMax = 1;
    for (int i = 0; i < kPlayers; i++) theRound.players[i].type = saved[i];
}

// Two planning lines from the fixed starts of a stage play another round
// from another start of the generator, and the same round from the same one;
// they still never draw from it. Played by the old way (replays of version
// 2), every round from those starts was the same.
TEST(MasterRound, RoundsFromFixedStartsDifferAndRepeat) {
    testutil::StartRoundsHeadless(1500);
    testutil::ScopedCwd cwd(NUVEL_GAME_DIR);
    theStageSelect.LoadStageList();
    theStageSelect.selectedStage = 1;  // FOUR PILLARS: fixed starts
    theStageSelect.cursor = SELECT_NORMAL_GAME;
    theItemManager.itemMax = 0;
    theRound.meteorite.enable = 0;
    PlayerSlot saved[kPlayers];
    std::memcpy(saved, theRound.players, sizeof saved);
    theRound.players[0].type = theRound.players[1].type = PLAYER_MASTER;
    theRound.players[2].type = theRound.players[3].type = PLAYER_NON;
    auto play = [](uint32_t seed, bool oldWay) {
        theApp.Seed(seed);
        std::memset(theRound.state.phase, 0, sizeof theRound.state.phase);
        RoundStart start = ChosenRoundStart();
        start.oldMasterRule = oldWay ? 1 : 0;
        theRound.Setup(start);
        theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
        for (int k = 0; k < 6000 && PlayFrame() == FRAME_GO_ON; k++) {
        }
        EXPECT_EQ(theApp.RandState(), seed);
        std::vector<float> heads;
        for (const PlayerSlot& slot : theRound.players) {
            heads.push_back(slot.x);
            heads.push_back(slot.y);
        }
        theRound.Teardown();
        return heads;
    };
    EXPECT_EQ(play(1, false), play(1, false));
    EXPECT_NE(play(1, false), play(2, false));
    EXPECT_EQ(play(1, true), play(2, true));
    theItemManager.itemMax = 1;
    std::memcpy(theRound.players, saved, sizeof saved);
}

}  // namespace
