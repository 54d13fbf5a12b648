// The match runner's per-frame checks on a stage that starts every line on
// the outline: what the game's rules do to the outline ("LR MIRROR" and
// "UD MIRROR" move its pixels, "CLEAN" wipes its user's start pixel) passes;
// any other change of it is caught, also one made in the same frame as a
// mirror.
#include <gtest/gtest.h>

#include "items/itemmanager.h"
#include "match/round.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "tests/testutil.h"
#include "tools/sim/invariants.h"

namespace {

constexpr char kOutlineStarts[] =
    "FILE=EMPTY.PNG\nTITLE=OUTLINE\n1P=0,200,0\n2P=639,200,180\n3P=320,0,270\n4P=320,415,90\n";

void SetPixel(int x, int y, uint8_t value) {
    SurfaceDesc field = theDirectDraw.Lock(theRound.local.fieldSurface);
    field.pixels[y * field.pitch + x] = value;
    theDirectDraw.Unlock(theRound.local.fieldSurface);
}

TEST(SimInvariants, TheOutlineChangesOnlyAsMirrorsAndCleanChangeIt) {
    testutil::StartRoundsHeadless(1500);
    testutil::TempDir dir;
    testutil::WriteStageList(dir.path(), kOutlineStarts);
    int8_t types[kPlayers];
    for (int p = 0; p < kPlayers; p++) types[p] = theRound.players[p].type, theRound.players[p].type = PLAYER_MAN;
    {
        testutil::ScopedCwd cwd(dir.path());
        theRound.Setup(ChosenRoundStart());
    }
    theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
    CRoundInvariants invariants;
    invariants.Begin();
    for (int k = 0; k < 30; k++) {
        PlayFrame();
        ASSERT_EQ(invariants.Check(), "") << k;
    }
    ASSERT_EQ(testutil::PixelAt(theRound.local.fieldSurface, 0, 216), PlayerTrailIndex(0));

    // The game's own changes: the start pixels move with the mirrors, and
    // player 1's is wiped by its "CLEAN".
    for (MirrorAxis axis : {MIRROR_LEFT_RIGHT, MIRROR_UP_DOWN}) {
        theItemManager.MirrorField(axis);
        EXPECT_EQ(invariants.Check(), "");
    }
    EXPECT_EQ(testutil::PixelAt(theRound.local.fieldSurface, 639, 231), PlayerTrailIndex(0));
    theItemManager.Clean(0);
    EXPECT_EQ(invariants.Check(), "");
    EXPECT_EQ(testutil::PixelAt(theRound.local.fieldSurface, 639, 231), 0);

    // Anything else: a pixel drawn on the outline, the outline cleared, a
    // mirror with another change in the same frame, a dead line's start
    // pixel wiped. Each is caught, and once put back the outline passes.
    const struct {
        int x, y;
        uint8_t value;
    } faults[] = {{5, 16, 200}, {0, 100, 0}, {639, 431, uint8_t(PlayerTrailIndex(2))}};
    for (const auto& f : faults) {
        const uint8_t was = testutil::PixelAt(theRound.local.fieldSurface, f.x, f.y);
        SetPixel(f.x, f.y, f.value);
        EXPECT_NE(invariants.Check(), "") << f.x << "," << f.y;
        SetPixel(f.x, f.y, was);
        EXPECT_EQ(invariants.Check(), "");
    }
    theItemManager.MirrorField(MIRROR_LEFT_RIGHT);
    SetPixel(100, 431, 0);
    EXPECT_NE(invariants.Check(), "");
    SetPixel(100, 431, kOutlineIndex);
    EXPECT_EQ(invariants.Check(), "");

    // Player 2's start pixel, mirrored three times, is at (639, 231).
    ASSERT_EQ(testutil::PixelAt(theRound.local.fieldSurface, 639, 231), PlayerTrailIndex(1));
    theRound.players[1].alive = 0;
    EXPECT_EQ(invariants.Check(), "");
    SetPixel(639, 231, 0);
    EXPECT_NE(invariants.Check(), "");

    theRound.Teardown();
    for (int p = 0; p < kPlayers; p++) theRound.players[p].type = types[p];
}

}  // namespace
