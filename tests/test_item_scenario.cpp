// Every item in a round, in both play modes: a stage gives player 1 one of
// each kind and player 2 something to lose; player 1 spends them all
// between round frames. Every effect sounds, nothing is left held, no
// surface is lost, no animation leaves its clip behind, and the field holds
// nothing outside the play rectangle while the round goes on.
#include <gtest/gtest.h>

#include <string>

#include "sound/directsound.h"
#include "tests/itemtest.h"

namespace {

std::string StageGivingEveryItem() {
    std::string list = "FILE=EMPTY.PNG\nTITLE=ALL ITEMS\n1P=320,184,0\n2P=100,84,90\n3P=500,334,180\n";
    for (int k = 0; k < kItemKinds; k++) list += std::string("1P_ITEM=") + kItemKeyNames[k].text + "\n";
    return list + "2P_ITEM=JUMP,2\n";
}

int SurfacesInUse() {
    int used = 0;
    for (int id = 2; id < kSurfaceSlots; id++) used += theDirectDraw.GetSurface(SurfaceId(id)) ? 1 : 0;
    return used;
}

const int kHeldEffectSounds[] = {SE_BOMB,    SE_LASER,   SE_CHANGE, SE_WARP, SE_MISSILE,   SE_COSMO, SE_JUMP,
                                 SE_BARRIER, SE_LR_FLIP, SE_CLEAN,  SE_MOVE, SE_ITEM_DEL,  SE_WALL,  SE_STOP,
                                 SE_MIRROR,  SE_GRAVITY, SE_PPONG,  SE_MOLD, SE_INVINCIBLE};

}  // namespace

TEST_F(ItemRound, EveryItemInBothPlayModes) {
    WriteStages(StageGivingEveryItem());
    theApp.Seed(2024);
    InBothPlayModes(3, [&](bool /*scroll*/) {
        PlayerSlot& p1 = theRound.players[0];
        ASSERT_EQ(theRound.heldItems[0].Count(), kItemKinds);
        ASSERT_EQ(theRound.heldItems[1].Count(), 2);
        int surfaces = SurfacesInUse();
        Silence();
        int uses = 0;
        while (theRound.heldItems[0].Count() > 0) {
            theItemManager.UseItem(0);
            uses++;
            ASSERT_EQ(Frames(2), FRAME_GO_ON) << "after use " << uses;
            ASSERT_TRUE(BorderIntact()) << "after use " << uses;
        }
        EXPECT_EQ(uses, kItemKinds);
        for (int effect : kHeldEffectSounds) EXPECT_TRUE(Sounded(effect)) << kEffectTable[effect].file;
        EXPECT_FALSE(Sounded(SE_ITEM_GET));
        EXPECT_EQ(theRound.heldItems[1].Count(), 0) << "taken by ITEM_DEL";
        EXPECT_EQ(SurfacesInUse(), surfaces);
        // The frames end with the sprite effects, which leave the destination
        // clip on the play area; no item animation leaves its own behind.
        const ClipRect& clip = theDirectDraw.DestClip();
        EXPECT_TRUE(clip.left == 1 && clip.top == 17 && clip.right == 638 && clip.bottom == 430)
            << clip.left << "," << clip.top << "," << clip.right << "," << clip.bottom;
        EXPECT_EQ(theDirectDraw.GetSurface(theRound.local.fieldSurface)->colorKey, 0);
        EXPECT_EQ(theDirectDraw.GetSurface(0)->colorKey, 0);
        EXPECT_GT(p1.invincibleEndFrame, theRound.state.frameCounter);

        // The round plays on; whatever happens, nothing lands outside the field.
        int result = Frames(400);
        EXPECT_TRUE(result == FRAME_GO_ON || result == FRAME_ROUND_OVER);
        EXPECT_TRUE(BorderIntact());
    });
}
