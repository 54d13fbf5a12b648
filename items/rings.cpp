// The ring animation at a head: a filled disc in the player's colour ramp,
// drawn behind the trails (the field's own pixels stay in front of it).
//
// The steps never change the playfield for good. Normal play draws each step
// on the back buffer and flips twice: the step is shown for one refresh and
// the untouched field is in front again. Scroll play has no second picture
// of the field to flip to, so it draws the step on the field surface, shows
// the views, puts the 40x40 square round each head back from the clean copy
// in the back buffer and shows the views again.
#include "core/gamedata.h"
#include "items/effectsupport.h"
#include "items/itemmanager.h"
#include "match/round.h"

namespace {

constexpr int kRingRadiusPx = 14;
constexpr int kRingBrightest = 14;    // the last entry of a player's ramp
constexpr int kRestoreSquarePx = 40;  // covers the widest disc with room
constexpr int kAnimationClip = CLIP_DEST | CLIP_SOURCE;

// Where a step draws, and where its clean copy of the playfield lies.
SurfaceId Canvas() { return theRound.state.scrollPlay ? theRound.local.fieldSurface : kBackBuffer; }
SurfaceId CleanCopy() { return theRound.state.scrollPlay ? kBackBuffer : kVisibleSurface; }

void ShowScrollViews() {
    theRound.DrawScrollViews(kVisibleSurface, false, true);
    // The views are drawn into the visible surface right after a refresh;
    // presenting them now shows them for that whole refresh.
    theDirectDraw.Present();
}

void DiscsOfGroup(const itemfx::RingGroup& group, int radius, int rampEntry) {
    for (int i = 0; i < group.count; i++) theItemManager.RingDisc(group.players[i], radius, rampEntry);
}

}  // namespace

namespace itemfx {

RingScope::RingScope() : m_dest(theDirectDraw.DestClip()), m_source(theDirectDraw.SourceClip()) {
    theDirectDraw.SetDestClip(0, kFieldTop, kScreenWidth, kFieldHeight);
    theDirectDraw.SetSourceClip(0, kFieldTop, kScreenWidth, kFieldHeight);
    theDirectDraw.CopyScreen(kBackBuffer, theRound.local.fieldSurface);
}

RingScope::~RingScope() {
    theDirectDraw.SetDestClip(m_dest.left, m_dest.top, m_dest.right - m_dest.left + 1, m_dest.bottom - m_dest.top + 1);
    theDirectDraw.SetSourceClip(m_source.left, m_source.top, m_source.right - m_source.left + 1,
                                m_source.bottom - m_source.top + 1);
}

void ShowRingStep(const RingGroup& group) {
    if (!theRound.state.scrollPlay) {
        theDirectDraw.Flip();
        theDirectDraw.Flip();
    } else {
        ShowScrollViews();
        for (int i = 0; i < group.count; i++) theItemManager.RingRestore(group.players[i]);
        ShowScrollViews();
    }
    theApp.PumpMessages();
}

void GrowAndFade(const RingGroup& group) {
    for (int r = 1; r < kRingRadiusPx; r += 2) {
        DiscsOfGroup(group, r, kRingBrightest);
        ShowRingStep(group);
    }
    for (int k = kRingBrightest - 1; k >= 0; k--) {
        DiscsOfGroup(group, kRingRadiusPx, k);
        ShowRingStep(group);
    }
}

void BrightenAndShrink(const RingGroup& group) {
    for (int k = 0; k <= kRingBrightest; k++) {
        DiscsOfGroup(group, kRingRadiusPx, k);
        ShowRingStep(group);
    }
    for (int r = kRingRadiusPx; r >= 2; r -= 2) {
        for (int i = 0; i < group.count; i++) theItemManager.RingRestore(group.players[i]);
        DiscsOfGroup(group, r, kRingBrightest);
        ShowRingStep(group);
    }
}

}  // namespace itemfx

// The disc goes on the canvas, then the clean square over it with the colour
// key, so every non-empty field pixel stays in front of the disc.
void CItemManager::RingDisc(int player, int radius, int rampEntry) {
    int cx = itemfx::HeadX(player), cy = itemfx::HeadY(player);
    ClipRect clip = itemfx::PlayClip();
    theDirectDraw.DrawDisc(Canvas(), cx, cy, radius, theDirectDraw.PaletteColor(PlayerRampIndex(player, rampEntry)),
                           &clip);
    theDirectDraw.Draw(Canvas(), cx - radius, cy - radius, 2 * radius, 2 * radius, CleanCopy(), cx - radius,
                       cy - radius, true, kAnimationClip);
}

void CItemManager::RingRestore(int player) {
    int half = kRestoreSquarePx / 2;
    int x = itemfx::HeadX(player) - half, y = itemfx::HeadY(player) - half;
    theDirectDraw.Draw(Canvas(), x, y, kRestoreSquarePx, kRestoreSquarePx, CleanCopy(), x, y, false, kAnimationClip);
}

void CItemManager::WarpOut(int player) {
    itemfx::RingScope scope;
    itemfx::GrowAndFade(itemfx::RingGroup{{player, player}, 1});
    RingRestore(player);
}

void CItemManager::WarpIn(int player) {
    itemfx::RingScope scope;
    itemfx::BrightenAndShrink(itemfx::RingGroup{{player, player}, 1});
}
