// The held items' effects, checked on the field's pixels and the player
// records, in normal and scroll play: the ring animations (one refresh per
// step, the field untouched), the effects on players and on the playfield,
// and both mirrors.
#include <gtest/gtest.h>

#include <cmath>

#include "sound/directsound.h"
#include "tests/itemtest.h"

namespace {

const char kStage[] = "FILE=EMPTY.PNG\n1P=100,100,0\n2P=500,284,180\n3P=300,50,270\n";

class ItemEffects : public ItemRound {
protected:
    // Walls and scraps of trails round the heads, so that the ring's keyed
    // copy and the restores have something to keep.
    void Scatter() {
        for (int y = 17; y <= 430; y += 3)
            for (int x = 1 + y % 5; x <= 638; x += 7) SetField(x, y, uint8_t(16 + (x * 3 + y) % 200));
    }
    bool ClipsAreFull() const {
        const ClipRect& d = theDirectDraw.DestClip();
        return d.left == 0 && d.top == 0 && d.right == 639 && d.bottom == 479;
    }
};

}  // namespace

// Every ring step is shown for one refresh followed by one of the clean
// field: WarpOut has 21 steps, WarpIn 22, "CHANGE" 43. Afterwards the field
// is byte for byte as before and the clip rectangles are the caller's.
TEST_F(ItemEffects, RingAnimationsShowStepsAndLeaveTheField) {
    WriteStages(kStage);
    InBothPlayModes(2, [&](bool scroll) {
        Scatter();
        Place(0, 20.5f, 30.5f, 0);  // the ring is cut by the border here
        std::vector<uint8_t> before = FieldBytes();
        theDirectDraw.SetDestClip(0, 0, 640, 480);

        uint64_t t0 = plat::TimeUs();
        theItemManager.WarpOut(0);
        EXPECT_EQ(RefreshesSince(t0), 2 * 21);
        EXPECT_TRUE(FieldBytes() == before);
        t0 = plat::TimeUs();
        theItemManager.WarpIn(1);
        EXPECT_EQ(RefreshesSince(t0), 2 * 22);
        EXPECT_TRUE(FieldBytes() == before);
        if (!scroll) {
            // The last step's disc is left in the back buffer, behind the trails.
            EXPECT_EQ(testutil::PixelAt(1, 501, 300), PlayerRampIndex(1, 14));
            EXPECT_EQ(testutil::PixelAt(1, 500, 300), 44);
        }
        t0 = plat::TimeUs();
        Silence();
        theItemManager.Change(0);
        EXPECT_TRUE(Sounded(SE_CHANGE));
        EXPECT_EQ(RefreshesSince(t0), 2 * 43);
        EXPECT_TRUE(FieldBytes() == before);
        EXPECT_TRUE(ClipsAreFull());
        EXPECT_TRUE(BorderIntact());
    });
}

// The rings as the players see them, frame by frame: "WARP"'s ring grows
// in its player's brightest colour, fades through the ramp down to the
// darkest, and comes back brightening from the darkest to the brightest.
// (The brightest entry was once nearly black: a dark disc that jumped to
// white.) One pixel five to the right of the head is sampled in every
// picture shown; the pictures of the clean field between steps show 0 there.
TEST_F(ItemEffects, RingsGrowAndFadeInTheRampAsShown) {
    WriteStages(kStage);
    StartRound(2, false);
    Place(0, 300.5f, 200.5f, 0);
    static std::vector<uint8_t> shown;
    auto sample = [](uint8_t* pixels, int pitch, int, int) { shown.push_back(pixels[200 * pitch + 305]); };
    auto steps = [] {
        std::vector<int> out;
        for (uint8_t v : shown)
            if (v != 0) out.push_back(v);
        shown.clear();
        return out;
    };
    const PaletteEntry* palette = theDirectDraw.MasterPalette();
    auto light = [&](int index) {
        return palette[index].red * 299 + palette[index].green * 587 + palette[index].blue * 114;
    };
    auto ramp = [](int k) { return PlayerRampIndex(0, k); };

    shown.clear();
    PresentOverlay before = theDirectDraw.SetPresentOverlay(sample);
    theItemManager.WarpOut(0);
    std::vector<int> out = steps();
    theItemManager.WarpIn(0);
    std::vector<int> in = steps();
    theDirectDraw.SetPresentOverlay(before);

    // Out: radius 7 to 13 at the brightest entry (a disc ends before
    // centre + radius), then entries 13 down to 0.
    std::vector<int> expected(4, ramp(14));
    for (int k = 13; k >= 0; k--) expected.push_back(ramp(k));
    EXPECT_EQ(out, expected);
    // In: entries 0 up to 14 at full size, then shrinking at the brightest
    // while the radius is 6 or more.
    expected.clear();
    for (int k = 0; k <= 14; k++) expected.push_back(ramp(k));
    for (int r = 14; r >= 6; r -= 2) expected.push_back(ramp(14));
    EXPECT_EQ(in, expected);
    for (int k = 0; k < 14; k++) EXPECT_GT(light(ramp(14)), light(ramp(k))) << "entry " << k;
    for (int k = 1; k <= 14; k++) EXPECT_LT(light(ramp(0)), light(ramp(k))) << "entry " << k;
    EXPECT_GT(light(ramp(14)), 3 * light(ramp(0)));
}

// "CHANGE" swaps exactly place, last pixel and heading; with its limitation
// one pixel before a wall it makes the user crash and moves nobody. "JUMP"
// twice skips 40 pixels. "WARP" lands on an empty pixel, and on a full field
// keeps its last try without writing anything.
TEST_F(ItemEffects, ChangeJumpAndWarp) {
    WriteStages(kStage);
    StartRound(2, false);
    PlayerSlot& p1 = theRound.players[0];
    PlayerSlot& p2 = theRound.players[1];
    Place(0, 100.25f, 116.5f, 0);
    p1.lastPixelX = 99;
    Place(1, 400.75f, 300.5f, 120);
    p2.lastPixelY = 301;
    p1.slowness = 1;
    p2.invincibleEndFrame = 77;
    theRound.GiveItems(p2, 1, ITEM_BOMB, 2, false);
    theItemManager.Change(0);
    EXPECT_EQ(p1.x, 400.75f);
    EXPECT_EQ(p1.y, 300.5f);
    EXPECT_EQ(p1.lastPixelX, 400);
    EXPECT_EQ(p1.lastPixelY, 301);
    EXPECT_EQ(p1.heading, 120);
    EXPECT_EQ(p2.x, 100.25f);
    EXPECT_EQ(p2.y, 116.5f);
    EXPECT_EQ(p2.lastPixelX, 99);
    EXPECT_EQ(p2.lastPixelY, 116);
    EXPECT_EQ(p2.heading, 0);
    EXPECT_EQ(p1.slowness, 1);
    EXPECT_EQ(p2.invincibleEndFrame, 77);
    EXPECT_EQ(theRound.heldItems[1].Count(), 2);

    // The limitation: a wall one pixel ahead.
    theItemManager.changeLimitation = 1;
    Place(0, 200.5f, 200.5f, 0);
    Place(1, 400.5f, 300.5f, 180);
    theDirectDraw.FillRect(theRound.local.fieldSurface, 201, 17, 1, 414, 200);
    Silence();
    theItemManager.Change(0);
    EXPECT_FALSE(Sounded(SE_CHANGE));
    EXPECT_EQ(p1.hit, 1);
    EXPECT_EQ(p1.x, 200.5f);
    EXPECT_EQ(p2.x, 400.5f);
    Frames(1);
    EXPECT_FALSE(p1.alive);
    EXPECT_TRUE(p2.alive);
    EXPECT_EQ(CApp::FloatToInt(p2.y), 300);
    theItemManager.changeLimitation = 0;

    // Alone on the field: "CHANGE" does nothing.
    Silence();
    theItemManager.Change(1);
    EXPECT_FALSE(Sounded(SE_CHANGE));
    EXPECT_EQ(theRound.heldItems[1].Count(), 2);

    // "JUMP" twice: 40 pixels ahead, nothing drawn in the gap.
    StartRound(2, false);
    Place(0, 100.5f, 116.5f, 0);
    theItemManager.Jump(0);
    theItemManager.Jump(0);
    EXPECT_EQ(p1.x, 140.5f);
    EXPECT_EQ(p1.y, 116.5f);
    Frames(8);
    EXPECT_TRUE(p1.alive);
    EXPECT_EQ(Field(120, 116), 0);
    EXPECT_EQ(Field(141, 116), 28);

    // "WARP" onto the one empty patch of an otherwise full interior.
    theDirectDraw.FillRect(theRound.local.fieldSurface, 1, 17, 638, 414, 200);
    theDirectDraw.FillRect(theRound.local.fieldSurface, 300, 200, 60, 60, 0);
    theApp.Seed(3);
    theItemManager.Warp(0);
    EXPECT_EQ(Field(CApp::FloatToInt(p1.x), CApp::FloatToInt(p1.y)), 0);
    EXPECT_EQ(p1.x, std::floor(p1.x));

    // A full interior: 9999 tries, the last one kept, nothing written.
    theDirectDraw.FillRect(theRound.local.fieldSurface, 1, 17, 638, 414, 200);
    std::vector<uint8_t> full = FieldBytes();
    theApp.Seed(11);
    CApp draws;
    draws.Seed(11);
    int lastX = 0, lastY = 0;
    for (int k = 0; k < 9999; k++) {
        lastX = draws.RandRange(1, 638);
        lastY = draws.RandRange(1, 414) + 16;
    }
    theItemManager.Warp(0);
    EXPECT_EQ(p1.x, float(lastX));
    EXPECT_EQ(p1.y, float(lastY));
    EXPECT_TRUE(FieldBytes() == full);
    EXPECT_EQ(theApp.RandState(), draws.RandState());
}

// The timers: "STOP" holds the other line still for 1000 frames without a
// crash; "LR FLIP", "MOVE", "GRAVITY" and "INVINCIBLE" set theirs from the
// frame counter; "ITEM_DEL" with nobody holding items only flashes, with a
// holder it empties that player's stack.
TEST_F(ItemEffects, TimersAndItemDel) {
    WriteStages(kStage);
    StartRound(2, false);
    PlayerSlot& p1 = theRound.players[0];
    PlayerSlot& p2 = theRound.players[1];
    Place(0, 30.5f, 200.5f, 0);
    Silence();
    theItemManager.Stop(0);
    EXPECT_TRUE(Sounded(SE_STOP));
    const float x = p2.x, y = p2.y;
    EXPECT_EQ(Frames(1000), FRAME_GO_ON);
    EXPECT_TRUE(p2.alive);
    EXPECT_FALSE(p2.hit);
    EXPECT_EQ(p2.x, x);
    EXPECT_EQ(p2.y, y);
    Frames(8);
    EXPECT_NE(p2.x, x);
    EXPECT_TRUE(p1.alive);

    int32_t now = theRound.state.frameCounter;
    theItemManager.LrFlip(0);
    EXPECT_EQ(p2.mirrorEndFrame, now + 2000);
    theItemManager.Move(0);
    EXPECT_EQ(p1.noTrailEndFrame, now + 2000);
    theItemManager.Gravity(0);
    EXPECT_EQ(p2.gravityEndFrame, now + 1000);
    theItemManager.Invincible(0);
    EXPECT_EQ(p1.invincibleEndFrame, now + 1000);
    EXPECT_EQ(p2.invincibleEndFrame, 0);

    // "ITEM_DEL": nobody else holds anything, so only the flash.
    theRound.GiveItems(p1, 0, ITEM_ITEM_DEL, 2, true);
    Silence();
    uint64_t t0 = plat::TimeUs();
    theItemManager.UseItem(0);
    EXPECT_FALSE(Sounded(SE_ITEM_DEL));
    EXPECT_EQ(RefreshesSince(t0), 2);
    EXPECT_EQ(theRound.heldItems[0].Count(), 1);
    theRound.GiveItems(p2, 1, ITEM_JUMP, 3, true);
    theItemManager.UseItem(0);
    EXPECT_TRUE(Sounded(SE_ITEM_DEL));
    EXPECT_EQ(theRound.heldItems[1].Count(), 0);
    EXPECT_EQ(theRound.heldItems[0].Count(), 0);
}

// "BOMB" empties radius 64 inside the play rectangle only, over other heads
// too, which go on unharmed; "LASER" starts 32 pixels ahead and passes
// walls; "WALL" crosses the field behind the user; "BARRIER" is cut by the
// border; "CLEAN" takes exactly the user's colour. Both play modes.
TEST_F(ItemEffects, PlayfieldEffectsOnThePixels) {
    WriteStages(kStage);
    InBothPlayModes(2, [&](bool scroll) {
        theDirectDraw.FillRect(theRound.local.fieldSurface, 1, 100, 200, 200, 60);
        Place(0, 10.5f, 200.5f, 0);
        Place(1, 40.5f, 210.5f, 0);
        SetField(40, 210, 44);
        uint64_t t0 = plat::TimeUs();
        theItemManager.Bomb(0);
        EXPECT_EQ(RefreshesSince(t0), 44);
        for (int y = 100; y < 300; y++)
            for (int x = 0; x < 100; x++) {
                double d = std::hypot(x + 0.5 - 10, y + 0.5 - 200);
                int expected = x == 0 ? 255 : (d < 63 ? 0 : (d > 65 ? 60 : -1));
                if (expected >= 0) {
                    ASSERT_EQ(Field(x, y), expected) << x << "," << y;
                }
            }
        Frames(8);
        EXPECT_TRUE(theRound.players[1].alive);
        EXPECT_EQ(Field(42, 210), 44);

        StartRound(2, scroll);
        Place(0, 100.5f, 200.5f, 0);
        theDirectDraw.FillRect(theRound.local.fieldSurface, 120, 17, 1, 414, 200);
        theItemManager.Laser(0);
        EXPECT_EQ(Field(131, 200), 0);
        EXPECT_EQ(Field(132, 200), 28);
        EXPECT_EQ(Field(120, 200), 200);
        EXPECT_EQ(Field(638, 200), 28);
        EXPECT_EQ(Field(639, 200), 255);

        StartRound(2, scroll);
        Place(0, 300.5f, 200.0f, 0);
        theItemManager.Wall(0);
        for (int y = 17; y <= 430; y++) ASSERT_EQ(Field(297, y), 28) << y;
        EXPECT_EQ(Field(297, 16), 255);
        EXPECT_EQ(Field(297, 431), 255);
        EXPECT_EQ(Field(296, 100), 0);
        EXPECT_EQ(Field(298, 100), 0);

        StartRound(2, scroll);
        theDirectDraw.FillRect(theRound.local.fieldSurface, 1, 17, 200, 200, 60);
        Place(0, 30.5f, 40.5f, 0);
        theItemManager.Barrier(0);
        EXPECT_EQ(Field(30, 40), 0);
        EXPECT_EQ(Field(100, 40), 0);
        EXPECT_EQ(Field(30, 115), 0);
        EXPECT_EQ(Field(30 + 79, 40), 28);
        EXPECT_EQ(Field(30, 40 + 79), 28);
        EXPECT_EQ(Field(30 + 85, 40), 60);
        EXPECT_EQ(Field(1, 40), 0) << "inside the ring, at the border";
        EXPECT_TRUE(BorderIntact());

        StartRound(2, scroll);
        const uint8_t kept[] = {27, 29, 44, 100, 223};
        for (int k = 0; k < 5; k++) SetField(200 + k, 300, kept[k]);
        for (int k = 0; k < 5; k++) SetField(210 + k, 300, 28);
        theItemManager.Clean(0);
        for (int k = 0; k < 5; k++) EXPECT_EQ(Field(200 + k, 300), kept[k]);
        for (int k = 0; k < 5; k++) EXPECT_EQ(Field(210 + k, 300), 0);
        EXPECT_EQ(Field(100, 116), 0) << "the user's start pixel";
        EXPECT_EQ(Field(500, 300), 44);
        EXPECT_EQ(theDirectDraw.GetSurface(theRound.local.fieldSurface)->colorKey, 0);
        EXPECT_TRUE(BorderIntact());
    });
}

// A mirror reflects field rows, heads (landing on the mirrored pixel),
// headings and items; twice it gives back everything. "UD MIRROR" of a line
// heading up at y 100 makes it head down at y 347.
TEST_F(ItemEffects, MirrorsTwiceRestoreEverything) {
    WriteStages(kStage);
    InBothPlayModes(3, [&](bool /*scroll*/) {
        Scatter();
        PlaceItem(ITEM_BOMB, 50, 60);
        Place(0, 100.5f, 116.25f, 30);
        Place(1, 400.0f, 300.75f, 200);
        Place(2, 300.0f, 100.0f, 90);
        theRound.players[2].alive = 0;  // dead slots stay as they are
        std::vector<uint8_t> before = FieldBytes();

        for (MirrorAxis axis : {MIRROR_LEFT_RIGHT, MIRROR_UP_DOWN}) {
            Silence();
            theItemManager.MirrorField(axis);
            EXPECT_TRUE(Sounded(SE_MIRROR));
            const PlayerSlot& p1 = theRound.players[0];
            const FieldItem& item = *CDataList::Record<FieldItem>(theItemManager.fieldItems.First());
            if (axis == MIRROR_LEFT_RIGHT) {
                EXPECT_EQ(CApp::FloatToInt(p1.x), 639 - 100);
                EXPECT_EQ(p1.lastPixelX, 539);
                EXPECT_EQ(p1.heading, 150);
                EXPECT_EQ(theRound.players[1].heading, 340);
                EXPECT_EQ(item.x, 616 - 50);
                EXPECT_EQ(Field(639 - 1 - 5, 20), before[20 * 640 + 1 + 5]);
            } else {
                EXPECT_EQ(CApp::FloatToInt(p1.y), 447 - 116);
                EXPECT_EQ(p1.heading, 330);
                EXPECT_EQ(item.y, 424 - 60);
                EXPECT_EQ(Field(7, 447 - 20), before[20 * 640 + 7]);
            }
            EXPECT_EQ(theRound.players[2].y, 100.0f);
            EXPECT_TRUE(BorderIntact());
            theItemManager.MirrorField(axis);
            EXPECT_TRUE(FieldBytes() == before);
            EXPECT_EQ(p1.x, 100.5f);
            EXPECT_EQ(p1.y, 116.25f);
            EXPECT_EQ(p1.heading, 30);
            EXPECT_EQ(theRound.players[1].x, 400.0f);
            EXPECT_EQ(theRound.players[1].y, 300.75f);
            EXPECT_EQ(theRound.players[1].heading, 200);
            EXPECT_EQ(item.x, 50);
            EXPECT_EQ(item.y, 60);
        }

        Place(0, 200.0f, 100.0f, 90);
        theItemManager.MirrorField(MIRROR_UP_DOWN);
        EXPECT_EQ(theRound.players[0].heading, 270);
        EXPECT_EQ(theRound.players[0].y, 347.0f);

        // A head a hair below a whole pixel: 639 - 100.9999924 and
        // 447 - 100.9999924 round to whole floats (538, 346) in single
        // precision, and the head would land one pixel short, next to its own
        // mirrored trail. It lands on 539 and 347, and mirrors back onto its
        // own pixel.
        Place(0, 100.9999924f, 100.9999924f, 0);
        theItemManager.MirrorField(MIRROR_LEFT_RIGHT);
        EXPECT_EQ(CApp::FloatToInt(theRound.players[0].x), 539);
        EXPECT_EQ(theRound.players[0].lastPixelX, 539);
        theItemManager.MirrorField(MIRROR_UP_DOWN);
        EXPECT_EQ(CApp::FloatToInt(theRound.players[0].y), 347);
        EXPECT_EQ(theRound.players[0].lastPixelY, 347);
        theItemManager.MirrorField(MIRROR_UP_DOWN);
        theItemManager.MirrorField(MIRROR_LEFT_RIGHT);
        EXPECT_EQ(CApp::FloatToInt(theRound.players[0].x), 100);
        EXPECT_EQ(CApp::FloatToInt(theRound.players[0].y), 100);
    });
}
