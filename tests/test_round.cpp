// The round: set-up from a stage entry, the frame loop in its order, lines,
// hits and deaths on the field's pixels, keys, scoring and ranks, the pause
// menu, the result screen and the stage effects. Rounds run headless on the
// test clock on stages written for each test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "graphics/dibsection.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "replay/replay.h"
#include "screens/pausemenu.h"
#include "screens/replayplay.h"
#include "screens/results.h"
#include "screens/roundintro.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "tests/testutil.h"

namespace {

constexpr uint32_t kNsPerPump = 1500;  // the platform's pump quantum: WAIT 80 = 2.4 ms

// A game folder whose stage list is the given text and whose one stage
// picture, EMPTY.PNG, is open ground; pictures come from the generated data.
class RoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        testutil::StartRoundsHeadless(kNsPerPump);
        m_saved = theRound.state.wait;
        theRound.state.wait = 80;
        theRound.explosionType = 0;
        theRound.explosionValues[0] = 16;
        theItemManager.itemMax = 0;  // no items unless a test asks for them
        theApp.keyboardType = 0;
        for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_NON;
        theRound.roundCounter = 0;
    }
    void TearDown() override {
        if (theRound.local.playfieldSurface) theRound.Teardown();
        theRound.state.wait = m_saved;
        theItemManager.itemMax = 1;
        theRound.safeStarts = 0;
        for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_MAN;
    }

    void WriteStages(const std::string& list) { testutil::WriteStageList(m_dir.path(), list); }

    // Set-up and a clean picture as the countdown leaves it, without its waits.
    void StartRound(bool scroll = false) {
        testutil::ScopedCwd cwd(m_dir.path());
        theStageSelect.cursor = scroll ? SELECT_SCROLL_GAME : SELECT_NORMAL_GAME;
        theRound.Setup(ChosenRoundStart());
        if (!scroll) theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
        theRound.local.lastSecondMs = plat::TimeMs();
    }

    int Frames(int n) {
        int result = FRAME_GO_ON;
        for (int k = 0; k < n && result == FRAME_GO_ON; k++) result = PlayFrame();
        return result;
    }

    uint8_t Field(int x, int y) { return testutil::PixelAt(theRound.local.fieldSurface, x, y); }

    testutil::TempDir m_dir;
    int32_t m_saved = 80;
};

const char kTwoPlayers[] = "FILE=EMPTY.PNG\nTITLE=EMPTY\n1P=100,100,0\n2P=300,200,90\n3P=-1,-1,-1\n4P=-1,-1,-1\n";

// Everything on the field that is not open ground or the outline.
std::vector<uint8_t> FieldBytes(SurfaceId id) {
    Surface* s = theDirectDraw.GetSurface(id);
    return std::vector<uint8_t>(s->pixels, s->pixels + s->pitch * s->height);
}

}  // namespace

// Set-up reads the stage entry: starts, random starts in x, y, heading order,
// initial items, the outline and the start pixels; slowness 2 steps a line
// every fourth frame and leaves a trail in the player's colour.
TEST_F(RoundTest, SetupAndTheFirstStepsOfTwoLines) {
    WriteStages("FILE=EMPTY.PNG\n1P=100,100,0\n2P=-1,-1,-1\n3P=5,5,400\n4P=-1,-1,-1\n1P_ITEM=BOMB,2\n");
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    theApp.Seed(1234);
    CApp expected;
    expected.Seed(1234);
    StartRound();

    const PlayerSlot& p1 = theRound.players[0];
    const PlayerSlot& p2 = theRound.players[1];
    EXPECT_EQ(p1.x, 100.0f);
    EXPECT_EQ(p1.y, 116.0f);
    EXPECT_EQ(p1.heading, 0);
    EXPECT_EQ(theRound.heldItems[0].Count(), 2);
    // Player 2 draws x, y, heading; players 3 and 4 are empty but draw too.
    EXPECT_EQ(p2.x, float(expected.RandRange(1, 638)));
    EXPECT_EQ(p2.y, float(expected.RandRange(1, 414) + 16));
    EXPECT_EQ(p2.heading, expected.RandRange(0, 359));
    EXPECT_FALSE(theRound.players[2].alive);
    EXPECT_FALSE(theRound.players[3].alive);
    EXPECT_EQ(p1.slowness, 2);

    EXPECT_EQ(Field(0, 16), 255);
    EXPECT_EQ(Field(639, 431), 255);
    EXPECT_EQ(Field(100, 116), 28);
    EXPECT_EQ(Field(int(p2.x), int(p2.y)), 44);

    // The phase counter carries over between rounds, so count the steps.
    int steps = 0;
    for (int f = 0; f < 40; f++) {
        steps += theRound.state.phase[2] == 3 ? 1 : 0;  // phase 2 becomes 0 in this frame
        ASSERT_EQ(PlayFrame(), FRAME_GO_ON);
    }
    EXPECT_EQ(steps, 10);
    EXPECT_EQ(p1.x, 110.0f);
    for (int x = 100; x <= 110; x++) EXPECT_EQ(Field(x, 116), 28) << x;
    EXPECT_EQ(Field(111, 116), 0);
    EXPECT_EQ(theRound.state.frameCounter, 40);

    // Slowness 4: a step in every 16th frame only; the pixel test in the
    // frames between finds the head in the pixel it already holds.
    theRound.players[0].slowness = 4;
    int moves = 0;
    for (int f = 0; f < 64; f++) {
        float before = p1.x;
        ASSERT_EQ(PlayFrame(), FRAME_GO_ON);
        if (p1.x != before) {
            moves++;
            EXPECT_EQ(theRound.state.phase[4], 0);
        }
        EXPECT_FALSE(p1.hit);
    }
    EXPECT_EQ(moves, 4);
    EXPECT_EQ(Field(114, 116), 28);
    EXPECT_EQ(Field(115, 116), 0);
}

// Turns wrap round 0/360 and reverse while mirrored; gravity drifts a line
// from up to down by the shorter way and holds it there.
TEST_F(RoundTest, TurnsAndGravity) {
    PlayerSlot& slot = theRound.players[0];
    theRound.state.frameCounter = 100;
    slot.mirrorEndFrame = 0;
    slot.heading = 10;
    theRound.Turn(slot, -30);
    EXPECT_EQ(slot.heading, 340);
    slot.heading = 350;
    theRound.Turn(slot, +30);
    EXPECT_EQ(slot.heading, 20);
    slot.mirrorEndFrame = 101;
    theRound.Turn(slot, +30);
    EXPECT_EQ(slot.heading, 350);
    slot.mirrorEndFrame = 0;

    slot.heading = 90;
    slot.gravityEndFrame = 1000;
    slot.slowness = 4;
    std::vector<int> seen;
    for (int f = 0; f < 200; f++) {
        theRound.Advance(slot);
        seen.push_back(slot.heading);
    }
    EXPECT_EQ(seen[0], 89);
    EXPECT_EQ(seen[89], 0);
    EXPECT_EQ(seen[90], 359);
    EXPECT_EQ(seen[178], 271);
    EXPECT_EQ(seen[179], 270);
    EXPECT_EQ(seen[199], 270);
    slot.gravityEndFrame = 0;
}

// The pixel test: leaving the interior is a hit even while invincible; an
// invincible line paints random colours across a trail and lives on; the
// no-trail timer erases the pixel behind; a diagonal gap can be passed.
TEST_F(RoundTest, TrailsHitsAndDeaths) {
    WriteStages(kTwoPlayers);
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    StartRound();
    SurfaceDesc field = theDirectDraw.Lock(0);
    PlayerSlot& p1 = theRound.players[0];
    theRound.state.frameCounter = 10;

    // x 638.5 heading 0 steps to 639.5: outside, and death even when invincible.
    p1.x = 638.5f;
    p1.y = 200.0f;
    p1.lastPixelX = 638;
    p1.lastPixelY = 200;
    p1.heading = 0;
    p1.invincibleEndFrame = 1000;
    std::memset(theRound.state.phase, 0, sizeof theRound.state.phase);
    theRound.Advance(p1);
    theRound.PlotTrail(p1, 0, field.pixels, field.pitch);
    EXPECT_TRUE(p1.hit);
    EXPECT_EQ(Field(639, 200), 255);  // the outline is not written
    theRound.ResolveHit(p1, 0);
    EXPECT_FALSE(p1.alive);
    EXPECT_EQ(p1.endFrame, 10);
    // The rings in the player's colour centred on the head, within the clip.
    theDirectDraw.Unlock(0);
    field = theDirectDraw.Lock(0);
    EXPECT_EQ(Field(639 - 16, 200), 28);
    EXPECT_EQ(Field(639, 200), 255);

    // Invincible crossing of a vertical trail of player 2's colour.
    PlayerSlot& p2 = theRound.players[1];
    for (int y = 300; y < 310; y++) field.pixels[y * field.pitch + 200] = 44;
    p2.x = 195.5f;
    p2.y = 305.5f;
    p2.lastPixelX = 195;
    p2.lastPixelY = 305;
    p2.heading = 0;
    p2.invincibleEndFrame = 1000;
    for (int step = 0; step < 10; step++) {
        theRound.Advance(p2);
        theRound.PlotTrail(p2, 1, field.pixels, field.pitch);
        theRound.ResolveHit(p2, 1);
    }
    EXPECT_TRUE(p2.alive);
    for (int x = 196; x <= 205; x++) {
        uint8_t v = Field(x, 305);
        EXPECT_TRUE(v >= 16 && v <= 223) << x << " " << int(v);
    }

    // No trail: the pixel left behind is erased; the trail starts again after.
    p2.invincibleEndFrame = 0;
    p2.noTrailEndFrame = 15;
    for (int step = 0; step < 5; step++) {
        theRound.Advance(p2);
        theRound.PlotTrail(p2, 1, field.pixels, field.pitch);
        theRound.state.frameCounter++;
    }
    EXPECT_EQ(Field(206, 305), 0);
    EXPECT_EQ(Field(209, 305), 0);
    EXPECT_EQ(Field(210, 305), 44);  // the head
    theRound.Advance(p2);
    theRound.PlotTrail(p2, 1, field.pixels, field.pitch);
    EXPECT_EQ(Field(210, 305), 44);
    EXPECT_EQ(Field(211, 305), 44);

    // Heading 45 from (400, 401) to (401, 400), between two pixels that
    // touch only at their corners.
    field.pixels[400 * field.pitch + 400] = 60;
    field.pixels[401 * field.pitch + 401] = 60;
    p2.x = 400.5f;
    p2.y = 401.5f;
    p2.lastPixelX = 400;
    p2.lastPixelY = 401;
    p2.heading = 45;
    for (int step = 0; step < 3; step++) {
        theRound.Advance(p2);
        theRound.PlotTrail(p2, 1, field.pixels, field.pitch);
    }
    EXPECT_FALSE(p2.hit);
    EXPECT_EQ(Field(401, 400), 44);
    theDirectDraw.Unlock(0);
}

// Keys act once per press; the 70th left turn with no right turn gives ten
// "BOMB", the 71st nothing; a held key does nothing more.
TEST_F(RoundTest, KeysAndTheTurnReward) {
    WriteStages(kTwoPlayers);
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    StartRound();
    PlayerSlot& p1 = theRound.players[0];
    uint8_t* keys = theApp.keyState;
    for (int k = 1; k <= 71; k++) {
        keys['Q'] = 1;
        theRound.HandleKeys(p1, 0, TakeSeatKeys(0));
        EXPECT_EQ(keys['Q'], 2);
        theRound.HandleKeys(p1, 0, TakeSeatKeys(0));  // still held: nothing more
        EXPECT_EQ(p1.leftTurns, k);
        EXPECT_EQ(theRound.heldItems[0].Count(), k >= 70 ? 10 : 0) << k;
    }
    EXPECT_EQ(p1.heading, (71 * 30) % 360);
    EXPECT_EQ(CDataList::Record<HeldItem>(theRound.heldItems[0].Last())->kind, 2);
    // The item key spends the newest record; the panel is redrawn.
    keys['A'] = 1;
    theRound.HandleKeys(p1, 0, TakeSeatKeys(0));
    EXPECT_EQ(theRound.heldItems[0].Count(), 9);
    // Player 4 on the desktop layout reads the numeric pad, on the notebook
    // layout the bracket keys.
    PlayerSlot& p4 = theRound.players[3];
    p4.heading = 0;
    keys[plat::VK_NUMPAD3] = 1;
    theRound.HandleKeys(p4, 3, TakeSeatKeys(3));
    EXPECT_EQ(p4.heading, 30);
    theApp.keyboardType = 1;
    keys[plat::VK_OEM_5] = 1;
    theRound.HandleKeys(p4, 3, TakeSeatKeys(3));
    EXPECT_EQ(p4.heading, 0);
    theApp.ClearKeys();
}

// Scoring by the order of death at 12 seconds, the ranks and lines of the
// result screen, the winner's WIN count; then a draw with shared ranks.
TEST_F(RoundTest, ScoresRanksAndWins) {
    WriteStages(kTwoPlayers);
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    for (PlayerSlot& slot : theRound.players) slot.totalScore = slot.matchCounter = 0, slot.endFrame = 0;
    StartRound();
    theRound.state.roundSeconds = 12;
    theRound.state.frameCounter = 500;
    theRound.players[1].alive = 0;
    theRound.players[1].endFrame = 500;
    ASSERT_TRUE(theRound.IsOver());
    EXPECT_EQ(theRound.players[0].roundScore, 4360);
    EXPECT_EQ(theRound.players[1].roundScore, 2240);
    EXPECT_EQ(theRound.players[2].roundScore, 1120);
    EXPECT_EQ(theRound.players[0].endFrame, 510);
    EXPECT_EQ(theRound.players[0].totalScore, 4360);
    EXPECT_EQ(theRound.players[0].matchCounter, 1);
    EXPECT_EQ(theRound.players[1].matchCounter, 0);
    CResultScreen results;
    results.Prepare();
    EXPECT_STREQ(results.scoreLines[0], "1P +004360 1   ");
    EXPECT_STREQ(results.scoreLines[1], "2P +002240 2   ");
    EXPECT_EQ(results.bannerWidth, 64 * 6);  // "1P WIN"
    theDirectDraw.ReleaseSurface(results.banner);

    // Both die in the same frame: a draw, equal scores, ranks 1, 1, 3, 3 and no win.
    theRound.players[0].alive = theRound.players[1].alive = 0;
    theRound.players[0].endFrame = theRound.players[1].endFrame = 600;
    theRound.players[2].endFrame = theRound.players[3].endFrame = 0;
    theRound.state.roundSeconds = 20;
    ASSERT_TRUE(theRound.IsOver());
    EXPECT_EQ(theRound.players[0].roundScore, 20 * 30 + 4000);
    EXPECT_EQ(theRound.players[1].roundScore, 20 * 30 + 4000);
    EXPECT_EQ(theRound.players[0].matchCounter, 1);
    CResultScreen draw;
    draw.Prepare();
    EXPECT_STREQ(draw.scoreLines[0], "1P +004600 1   ");
    EXPECT_STREQ(draw.scoreLines[1], "2P +004600 1   ");
    EXPECT_STREQ(draw.scoreLines[2], "3P +001200 3   ");
    EXPECT_STREQ(draw.scoreLines[3], "4P +001200 3   ");
    EXPECT_EQ(draw.bannerWidth, 64 * 4);  // "DRAW"
    theDirectDraw.ReleaseSurface(draw.banner);
}

// A round is a pure function of the seed, the settings, the stage and the
// key changes: the same scripted round twice ends on the same field, frame
// and scores; it ends when the first line dies.
TEST_F(RoundTest, AScriptedRoundPlaysOutTheSameTwice) {
    WriteStages(kTwoPlayers);
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    theRound.state.stageEffect = 0;
    auto play = [&](std::vector<uint8_t>* field, int32_t* frames, int32_t* seconds) {
        testutil::StartHeadlessDisplay(kNsPerPump);
        std::memset(theRound.state.phase, 0, sizeof theRound.state.phase);
        theApp.Seed(77);
        StartRound();
        uint32_t t0 = plat::TimeMs();
        for (int k = 0; k < 12; k++) {
            plat::ScriptKey(t0 + 200 + 300 * k, k % 3 ? 'Q' : 'M');
            plat::ScriptKey(t0 + 350 + 300 * k, 'B');
        }
        int result = Frames(100000);
        EXPECT_EQ(result, FRAME_ROUND_OVER);
        *field = FieldBytes(0);
        *frames = theRound.state.frameCounter;
        *seconds = theRound.state.roundSeconds;
        theRound.Teardown();
    };
    std::vector<uint8_t> first, second;
    int32_t frames1 = 0, frames2 = 0, seconds1 = 0, seconds2 = 0;
    play(&first, &frames1, &seconds1);
    play(&second, &frames2, &seconds2);
    EXPECT_EQ(frames1, frames2);
    EXPECT_EQ(seconds1, seconds2);
    EXPECT_GT(seconds1, 0);
    EXPECT_TRUE(first == second);
    EXPECT_EQ(theRound.CountAlive(), 1);
}

// Page Down and Page Up change WAIT during play within 0..9999; Escape opens
// the menu over the frozen field; "NEXT ROUND" leaves without scoring; Escape
// in the menu resumes whatever the cursor showed and restores the field.
TEST_F(RoundTest, PauseKeysAndMenu) {
    WriteStages(kTwoPlayers);
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    StartRound();
    Frames(10);
    theApp.keyState[plat::VK_NEXT] = 1;
    Frames(1);
    EXPECT_EQ(theRound.state.wait, 81);
    theApp.keyState[plat::VK_PRIOR] = 1;
    Frames(1);
    EXPECT_EQ(theRound.state.wait, 80);
    theRound.state.wait = 9999;
    theRound.ChangeWait(+1);
    EXPECT_EQ(theRound.state.wait, 9999);
    theRound.state.wait = 0;
    theRound.ChangeWait(-1);
    EXPECT_EQ(theRound.state.wait, 0);
    theRound.state.wait = 80;

    // Escape opens the menu; Up wraps to "EXIT", Down comes back to
    // "CONTINUE"; Down, Down to the WAIT line; Left, Right, Right and Return
    // (which raises WAIT and stays); Escape resumes.
    std::vector<uint8_t> before = FieldBytes(0);
    int32_t frame = theRound.state.frameCounter;
    uint32_t t = plat::TimeMs();
    theApp.keyState[plat::VK_ESCAPE] = 1;
    const uint32_t keys[] = {plat::VK_UP,    plat::VK_DOWN,  plat::VK_DOWN,   plat::VK_DOWN,  plat::VK_LEFT,
                             plat::VK_RIGHT, plat::VK_RIGHT, plat::VK_RETURN, plat::VK_ESCAPE};
    for (int k = 0; k < 9; k++) plat::ScriptKey(t + 100 + 100 * k, keys[k]);
    EXPECT_EQ(Frames(1), FRAME_GO_ON);
    EXPECT_EQ(theRound.state.wait, 82);
    EXPECT_EQ(theRound.state.frameCounter, frame + 1);
    std::vector<uint8_t> after = FieldBytes(0);
    // The field rows are as before the pause, but for the frame's own step.
    int changed = 0;
    for (int y = 17; y <= 430; y++)
        for (int x = 1; x <= 638; x++) changed += before[y * 640 + x] != after[y * 640 + x];
    EXPECT_LE(changed, 2);

    // "NEXT ROUND": Escape, Down, Return. No scores.
    t = plat::TimeMs();
    theApp.keyState[plat::VK_ESCAPE] = 1;
    plat::ScriptKey(t + 100, plat::VK_DOWN);
    plat::ScriptKey(t + 200, plat::VK_RETURN);
    int32_t total = theRound.players[0].totalScore;
    EXPECT_EQ(Frames(1), FRAME_PAUSE_NEXT);
    EXPECT_EQ(theRound.players[0].totalScore, total);
}

// The result screen: Space hides all but the two fixed texts, the next key
// only brings the menu back, Up toggles, Escape leaves with "EXIT".
TEST_F(RoundTest, ResultScreenKeys) {
    WriteStages(kTwoPlayers);
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    StartRound();
    theRound.players[1].alive = 0;
    ASSERT_TRUE(theRound.IsOver());
    CResultScreen screen;
    screen.Prepare();
    uint8_t* keys = theApp.keyState;
    keys[plat::VK_SPACE] = 1;
    EXPECT_TRUE(screen.HandleKeys());
    EXPECT_TRUE(screen.hidden);
    keys[plat::VK_SPACE] = 0;
    keys[plat::VK_RETURN] = 1;
    EXPECT_TRUE(screen.HandleKeys());  // hidden: Return is not acted on
    theApp.anyKeyFlag = 1;
    EXPECT_TRUE(screen.HandleKeys());
    EXPECT_FALSE(screen.hidden);
    EXPECT_EQ(keys[plat::VK_RETURN], 0);
    keys[plat::VK_UP] = 1;
    EXPECT_TRUE(screen.HandleKeys());
    EXPECT_EQ(screen.cursor, RESULT_EXIT);
    keys[plat::VK_DOWN] = 1;
    EXPECT_TRUE(screen.HandleKeys());
    EXPECT_EQ(screen.cursor, RESULT_NEXT_ROUND);
    keys[plat::VK_ESCAPE] = 1;
    EXPECT_FALSE(screen.HandleKeys());
    EXPECT_EQ(screen.cursor, RESULT_EXIT);
    theDirectDraw.ReleaseSurface(screen.banner);
}

// The closing border fills the lines s and 639 - s, s + 16 and 431 - s at
// each second, up to second 207; random dots add one 255 pixel per frame.
TEST_F(RoundTest, StageEffects) {
    WriteStages(
        "FILE=EMPTY.PNG\n1P=100,100,0\n2P=300,200,90\nEFFECT=2\nFILE=EMPTY.PNG\n1P=100,100,0\n"
        "2P=300,200,90\nEFFECT=1\n");
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    StartRound();
    EXPECT_EQ(theRound.state.stageEffect, 2);
    for (int s = 1; s <= 3; s++) {
        theRound.state.roundSeconds = s;
        theRound.CloseBorder();
    }
    for (int k = 1; k <= 3; k++) {
        EXPECT_EQ(Field(k, 200), 234);
        EXPECT_EQ(Field(639 - k, 200), 234);
        EXPECT_EQ(Field(300, 16 + k), 234);
        EXPECT_EQ(Field(300, 431 - k), 234);
    }
    EXPECT_EQ(Field(4, 200), 0);
    EXPECT_EQ(Field(300, 20), 0);
    EXPECT_EQ(Field(0, 200), 255);
    // The last lines close at second 207; from 208 on nothing more is drawn.
    theRound.state.roundSeconds = 207;
    theRound.CloseBorder();
    EXPECT_EQ(Field(207, 300), 234);
    EXPECT_EQ(Field(432, 300), 234);
    EXPECT_EQ(Field(300, 223), 234);
    EXPECT_EQ(Field(300, 224), 234);
    theRound.state.roundSeconds = 208;
    std::vector<uint8_t> closed = FieldBytes(0);
    theRound.CloseBorder();
    EXPECT_TRUE(FieldBytes(0) == closed);
    theRound.Teardown();

    theStageSelect.selectedStage = 1;
    StartRound();
    EXPECT_EQ(theRound.state.stageEffect, 1);
    std::vector<uint8_t> before = FieldBytes(0);
    Frames(50);
    std::vector<uint8_t> after = FieldBytes(0);
    int dots = 0;
    for (size_t k = 0; k < after.size(); k++) dots += after[k] == 255 && before[k] != 255;
    EXPECT_GE(dots, 45);  // a dot may land on another
    EXPECT_LE(dots, 50);
}

// Starts the stage list allows but the field does not: a start on the
// outline or at its corner dies at its first step without writing outside.
TEST_F(RoundTest, StartsOnTheOutline) {
    WriteStages("FILE=EMPTY.PNG\n1P=0,0,180\n2P=639,415,0\n");
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    StartRound();
    EXPECT_EQ(Frames(100), FRAME_ROUND_OVER);
    EXPECT_EQ(theRound.CountAlive(), 0);
    EXPECT_EQ(Field(0, 16), 28);  // the start pixels themselves
    EXPECT_EQ(Field(639, 431), 44);
}

// A heading above 359 in the stage list turns modulo 360: 450 starts the line
// straight up, and a replay of the round carries that heading, is accepted by
// the reader and reproduces the round.
TEST_F(RoundTest, AHeadingAbove359TurnsModulo360) {
    WriteStages("FILE=EMPTY.PNG\n1P=320,200,450\n2P=100,100,0\n");
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    theApp.Seed(77);
    StartRound();
    theReplay.BeginRecording(77);
    const PlayerSlot& p1 = theRound.players[0];
    EXPECT_EQ(p1.heading, 90);
    EXPECT_EQ(Frames(400), FRAME_GO_ON);
    EXPECT_EQ(p1.x, 320.0f);
    EXPECT_LT(p1.y, 216.0f - 90);
    EXPECT_EQ(Field(320, 200), 28);
    EXPECT_EQ(Frames(4000), FRAME_ROUND_OVER);
    EXPECT_FALSE(p1.alive);
    theReplay.EndRecording();
    ASSERT_TRUE(theReplay.lastValid);

    static uint8_t bytes[kReplayFileMax];
    static ReplayData read;
    size_t size = EncodeReplay(theReplay.last, bytes, sizeof bytes);
    ASSERT_EQ(DecodeReplay(bytes, size, &read), REPLAY_READ_OK);
    EXPECT_EQ(read.stage.startHeading[0], 90);
    theRound.Teardown();
    testutil::ScopedCwd cwd(m_dir.path());
    EXPECT_EQ(PlayReplay(read, false).verdict, REPLAY_REPRODUCED);
}

// Scroll play: the field is the playfield surface; every playing slot's view
// shows the 80x80 around its head, framed, with 255 beyond the field; a dead
// line's view stays where its head stopped.
TEST_F(RoundTest, ScrollViews) {
    WriteStages("FILE=EMPTY.PNG\n1P=20,20,0\n2P=300,200,90\n");
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_MAN;
    StartRound(true);
    EXPECT_EQ(theRound.local.fieldSurface, theRound.local.playfieldSurface);
    Frames(8);
    theRound.DrawScrollViews(0, true, false);
    // Player 1's head at (22, 36): its view at (120, 80) shows column 22 - 40.
    EXPECT_EQ(testutil::PixelAt(0, 119, 79), 255);            // the frame
    EXPECT_EQ(testutil::PixelAt(0, 120, 80), 255);            // beyond the field
    EXPECT_EQ(testutil::PixelAt(0, 120 + 40, 80 + 40), 28);   // the head
    EXPECT_EQ(testutil::PixelAt(0, 120 + 38, 80 + 40), 28);   // its trail
    EXPECT_EQ(testutil::PixelAt(0, 120 + 18, 80 + 40), 255);  // the outline at x 0
    // Player 2 dies; its view keeps its last place.
    PlayerSlot& p2 = theRound.players[1];
    p2.alive = 0;
    float x = p2.x, y = p2.y;
    Frames(8);
    EXPECT_EQ(p2.x, x);
    EXPECT_EQ(p2.y, y);
    theRound.DrawScrollViews(0, false, false);
    EXPECT_EQ(testutil::PixelAt(0, 440 + 40, 80 + 40), 44);
}

// SAFE_STARTS on a stage whose picture is wall but for a band on the right:
// every random start is drawn again (from the round's generator, so a seed
// gives the same starts) until the line has open field 120 pixels straight
// ahead, clear of the other lines' ways ahead; the fixed start of 1P stays
// where the stage puts it, inside the wall.
TEST_F(RoundTest, SafeStartsFindOpenWaysAhead) {
    WriteStages("FILE=WALLED.PNG\n1P=10,10,0\n2P=-1,-1,-1\n3P=-1,-1,-1\n4P=-1,-1,-1\n");
    {
        CDibSection walled;
        ASSERT_TRUE(walled.Create(640, 416, 8));
        RgbQuad colors[256] = {};
        colors[1] = RgbQuad{255, 255, 255, 0};
        walled.SetColorTable(0, 256, colors);
        for (int y = 0; y < 416; y++)
            for (int x = 0; x < 470; x++) *walled.PixelAddress(x, y) = 1;
        testutil::ScopedCwd cwd(m_dir.path());
        walled.SavePng("stage/WALLED.PNG");
    }
    for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_HARD;
    theRound.safeStarts = 1;
    for (uint32_t seed : {1u, 2u, 77u, 4242u}) {
        theApp.Seed(seed);
        StartRound();
        PlayerSlot starts[kPlayers];
        std::memcpy(starts, theRound.players, sizeof starts);
        EXPECT_EQ(starts[0].x, 10.0f);
        EXPECT_EQ(starts[0].y, 26.0f);
        SurfaceDesc field = theDirectDraw.Lock(theRound.local.playfieldSurface);
        // The ways ahead, as the hard computer's ray sees them (start pixels
        // of the other lines are obstacles on the field too).
        for (int i = 1; i < kPlayers; i++) {
            const PlayerSlot& s = starts[i];
            EXPECT_GE(s.x, 470.0f) << "seed " << seed << ", " << i + 1 << "P";
            EXPECT_EQ(theRound.ProbeClearance(s.x, s.y, s.heading, 120, field.pixels, field.pitch, false), 0)
                << "seed " << seed << ", " << i + 1 << "P at " << s.x << "," << s.y << " heading " << s.heading;
        }
        // No two ways ahead meet.
        for (int i = 1; i < kPlayers; i++)
            for (int j = i + 1; j < kPlayers; j++)
                for (int a = 0; a <= 120; a += 4)
                    for (int b = 0; b <= 120; b += 4) {
                        float ax = starts[i].x + a * theApp.cosTable[starts[i].heading];
                        float ay = starts[i].y + a * theApp.negSinTable[starts[i].heading];
                        float bx = starts[j].x + b * theApp.cosTable[starts[j].heading];
                        float by = starts[j].y + b * theApp.negSinTable[starts[j].heading];
                        ASSERT_GT(std::max(std::abs(ax - bx), std::abs(ay - by)), 2.0f)
                            << "seed " << seed << ": the ways of " << i + 1 << "P and " << j + 1 << "P meet";
                    }
        theDirectDraw.Unlock(theRound.local.playfieldSurface);
        theRound.Teardown();
        // The same seed gives the same starts.
        theApp.Seed(seed);
        StartRound();
        for (int i = 0; i < kPlayers; i++) {
            EXPECT_EQ(theRound.players[i].x, starts[i].x);
            EXPECT_EQ(theRound.players[i].heading, starts[i].heading);
        }
        theRound.Teardown();
    }
}

// The countdown's pictures frame each line's start and carry an arrow along
// its heading in the player's colour; the surfaces never have them, and the
// picture after the countdown has none.
TEST_F(RoundTest, StartArrowsShowOnlyDuringTheCountdown) {
    WriteStages("FILE=EMPTY.PNG\n1P=100,100,0\n2P=300,200,90\n");
    theRound.players[0].type = PLAYER_MAN;
    theRound.players[1].type = PLAYER_HARD;
    StartRound();
    // Points on the two shafts, 20 pixels ahead of each start.
    struct Seen {
        int arrows = 0, onSurface = 0;
        uint32_t lastMs = 0;
    };
    static Seen seen;
    seen = Seen{};
    auto sample = [] {
        if (plat::TimeMs() - seen.lastMs < 100) return;  // about nine looks at each step
        seen.lastMs = plat::TimeMs();
        const uint32_t* palette = theDirectDraw.DisplayPalette();
        const int points[2][3] = {{120, 116, 0}, {300, 196, 1}};
        for (const auto& p : points) {
            const uint8_t bright = uint8_t(PlayerTrailIndex(p[2]));
            seen.arrows += testutil::ShownColour(p[0], p[1]) == palette[bright];
            seen.onSurface += testutil::PixelAt(kVisibleSurface, p[0], p[1]) == bright;
        }
    };
    CApp::SetPumpHook(sample);
    theRound.Countdown();
    CApp::SetPumpHook(nullptr);
    EXPECT_GT(seen.arrows, 40);
    EXPECT_EQ(seen.onSurface, 0);
    seen = Seen{};
    theDirectDraw.Present();
    sample();
    EXPECT_EQ(seen.arrows, 0) << "the picture after the countdown";
}
