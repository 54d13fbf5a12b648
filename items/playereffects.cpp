// Held items that act on players: they move a head ("CHANGE", "WARP",
// "JUMP"), take another player's items ("ITEM_DEL") or start one of the
// per-player timers that movement and collision obey.
#include <utility>

#include "items/effectsupport.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "sound/directsound.h"

namespace {

constexpr int kProbeSteps = 20;  // "CHANGE" with its limitation looks this far ahead
constexpr int kWarpTries = 9999;
constexpr float kJumpPx = 20.0f;
constexpr int32_t kTurnReversalFrames = 2000;
constexpr int32_t kNoTrailFrames = 2000;
constexpr int32_t kStopFrames = 1000;
constexpr int32_t kGravityFrames = 1000;
constexpr int32_t kInvincibleFrames = 1000;

PlayerSlot& Slot(int player) { return theRound.players[player]; }

// True when the way ahead of the player is blocked within kProbeSteps pixels
// (corner-touching pixels count as a wall).
bool BlockedAhead(const PlayerSlot& slot) {
    SurfaceDesc field = theDirectDraw.Lock(theRound.local.fieldSurface);
    int blocked = theRound.ProbeClearance(slot.x, slot.y, slot.heading, kProbeSteps, field.pixels, field.pitch, true);
    theDirectDraw.Unlock(theRound.local.fieldSurface);
    return blocked != 0;
}

// The field pixel at (x, y); a pixel the field does not have counts as taken.
uint8_t FieldPixel(int x, int y) {
    SurfaceDesc field = theDirectDraw.Lock(theRound.local.fieldSurface);
    bool inside = field.pixels && x >= 0 && y >= 0 && x < field.width && y < field.height;
    uint8_t value = inside ? field.pixels[y * field.pitch + x] : kOutlineIndex;
    theDirectDraw.Unlock(theRound.local.fieldSurface);
    return value;
}

// The head goes to random interior pixels until one is empty; after the last
// try it stays on that one, empty or not, and the next step decides.
void PlaceOnRandomEmptyPixel(PlayerSlot& slot) {
    for (int tries = 0; tries < kWarpTries; tries++) {
        int x = theApp.RandRange(kInteriorLeft, kInteriorRight);
        int y = theApp.RandRange(1, kInteriorBottom - kFieldTop) + kFieldTop;
        slot.x = float(x);
        slot.y = float(y);
        if (FieldPixel(x, y) == kEmptyIndex) return;
        theApp.PumpMessages();
    }
}

// Place and direction change hands; speed, items, timers and colour do not.
void SwapPlaces(PlayerSlot& a, PlayerSlot& b) {
    std::swap(a.x, b.x);
    std::swap(a.y, b.y);
    std::swap(a.lastPixelX, b.lastPixelX);
    std::swap(a.lastPixelY, b.lastPixelY);
    std::swap(a.heading, b.heading);
}

bool HoldsItems(int player, int user) {
    const PlayerSlot& slot = Slot(player);
    return player != user && slot.alive && theRound.heldItems[player].Count() > 0;
}

}  // namespace

void CItemManager::Change(int user) {
    if (theRound.CountAlive() < 2) return;
    int target = theRound.PickOtherAlive(user);
    if (changeLimitation && BlockedAhead(Slot(user))) {
        Slot(user).hit = 1;  // handled as a crash in the user's next frame
        return;
    }
    theDirectSound.Play(SE_CHANGE, 0, 0);
    itemfx::RingGroup both{{user, target}, 2};
    itemfx::RingScope scope;
    itemfx::GrowAndFade(both);
    RingRestore(user);
    RingRestore(target);
    SwapPlaces(Slot(user), Slot(target));
    itemfx::BrightenAndShrink(both);
}

void CItemManager::Warp(int user) {
    theDirectSound.Play(SE_WARP, 0, 0);
    WarpOut(user);
    PlaceOnRandomEmptyPixel(Slot(user));
    WarpIn(user);
}

// The head skips ahead; the gap stays empty.
void CItemManager::Jump(int user) {
    theDirectSound.Play(SE_JUMP, 0, 0);
    PlayerSlot& slot = Slot(user);
    int h = slot.heading % 360;
    slot.x += kJumpPx * theApp.cosTable[h];
    slot.y += kJumpPx * theApp.negSinTable[h];
}

void CItemManager::LrFlip(int user) {
    if (theRound.CountAlive() < 2) return;
    theDirectSound.Play(SE_LR_FLIP, 0, 0);
    int target = theRound.PickOtherAlive(user);
    WarpIn(target);
    Slot(target).mirrorEndFrame = theRound.state.frameCounter + kTurnReversalFrames;
}

void CItemManager::Move(int user) {
    theDirectSound.Play(SE_MOVE, 0, 0);
    Slot(user).noTrailEndFrame = theRound.state.frameCounter + kNoTrailFrames;
}

void CItemManager::ItemDel(int user) {
    bool anyone = false;
    for (int p = 0; p < kPlayers; p++) anyone = anyone || HoldsItems(p, user);
    if (!anyone) return;
    int target;
    while (!HoldsItems(target = theApp.RandUpTo(kPlayers - 1), user)) theApp.PumpMessages();
    theDirectSound.Play(SE_ITEM_DEL, 0, 0);
    WarpIn(target);
    theRound.heldItems[target].Clear();
    itemfx::RedrawPanel(target);
}

void CItemManager::Stop(int user) {
    if (theRound.CountAlive() < 2) return;
    int target = theRound.PickOtherAlive(user);
    theDirectSound.Play(SE_STOP, 0, 0);
    WarpIn(target);
    Slot(target).stoppedUntilFrame = theRound.state.frameCounter + kStopFrames;
}

void CItemManager::Gravity(int user) {
    if (theRound.CountAlive() < 2) return;
    theDirectSound.Play(SE_GRAVITY, 0, 0);
    int target = theRound.PickOtherAlive(user);
    WarpIn(target);
    Slot(target).gravityEndFrame = theRound.state.frameCounter + kGravityFrames;
}

void CItemManager::Invincible(int user) {
    theDirectSound.Play(SE_INVINCIBLE, 0, 0);
    WarpOut(user);
    Slot(user).invincibleEndFrame = theRound.state.frameCounter + kInvincibleFrames;
}
