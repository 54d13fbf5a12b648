// Held items that change the playfield: they clear an area ("BOMB",
// "BARRIER", "CLEAN"), draw walls ("LASER", "WALL", "BARRIER") or hand
// something to the round's effect containers to move in the next frames.
// Every shape is clipped to the play rectangle; the border stays.
#include "items/effectsupport.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "sound/directsound.h"

namespace {

constexpr uint32_t kBlastRed = 0x0000FF;  // RGB(255, 0, 0) as 0x00BBGGRR
constexpr int kBlastRadiusPx = 64;
constexpr int kBlastStepPx = 3;
constexpr float kLaserStartPx = 32.0f;
constexpr float kFarPx = 1000.0f;  // beyond any edge of the field
constexpr float kWallBehindPx = 3.0f;
constexpr int kBarrierOuterPx = 80;
constexpr int kBarrierInnerPx = 78;
constexpr int kCosmoParticles = 1000;
constexpr float kCosmoRadiusPx = 16.0f;

const PlayerSlot& Slot(int player) { return theRound.players[player]; }

// One frame of the blast: a flip brings the disc just drawn to the front
// (normal play) or the views show the field surface (scroll play).
void ShowBlastFrame() {
    if (theRound.state.scrollPlay) {
        theRound.DrawScrollViews(kVisibleSurface, false, true);
        theDirectDraw.Present();
    } else {
        theDirectDraw.Flip();
    }
    theApp.PumpMessages();
}

// Discs growing to the full blast, shown frame by frame. In normal play the
// two buffers take alternate discs; the full disc is drawn twice so both end
// with it, and the last one drawn is the field.
void BlastPass(SurfaceId canvas, int cx, int cy, uint32_t colorRef) {
    ClipRect clip = itemfx::PlayClip();
    for (int r = 1; r < kBlastRadiusPx; r += kBlastStepPx) {
        theDirectDraw.DrawDisc(canvas, cx, cy, r, colorRef, &clip);
        ShowBlastFrame();
    }
    theDirectDraw.DrawDisc(canvas, cx, cy, kBlastRadiusPx, colorRef, &clip);
    ShowBlastFrame();
    theDirectDraw.DrawDisc(canvas, cx, cy, kBlastRadiusPx, colorRef, &clip);
}

// A straight wall of the player's colour between two far points.
void DrawWallLine(int player, float x1, float y1, float x2, float y2) {
    ClipRect clip = itemfx::PlayClip();
    SurfaceId canvas = itemfx::BeginFieldEdit();
    theDirectDraw.DrawLine(canvas, CApp::FloatToInt(x1), CApp::FloatToInt(y1), CApp::FloatToInt(x2),
                           CApp::FloatToInt(y2), itemfx::PlayerColorRef(player), &clip);
    itemfx::EndFieldEdit();
}

}  // namespace

void CItemManager::Bomb(int user) {
    int cx = itemfx::HeadX(user), cy = itemfx::HeadY(user);
    theDirectSound.Play(SE_BOMB, 0, 0);
    SurfaceId canvas = itemfx::BeginFieldEdit();
    BlastPass(canvas, cx, cy, kBlastRed);
    BlastPass(canvas, cx, cy, itemfx::EmptyColorRef());
}

void CItemManager::Laser(int user) {
    theDirectSound.Play(SE_LASER, 0, 0);
    const PlayerSlot& slot = Slot(user);
    int h = slot.heading % 360;
    float c = theApp.cosTable[h], s = theApp.negSinTable[h];
    DrawWallLine(user, slot.x + kLaserStartPx * c, slot.y + kLaserStartPx * s, slot.x + kFarPx * c,
                 slot.y + kFarPx * s);
}

void CItemManager::Missile(int user) {
    theDirectSound.Play(SE_MISSILE, 0, 0);
    theRound.missile.Launch(user);
}

void CItemManager::Cosmo(int user) {
    theDirectSound.Play(SE_COSMO, 0, 0);
    theRound.particle.Ring(user, kCosmoParticles, kCosmoRadiusPx);
}

// A ring about two pixels wide round the user, everything inside cleared.
void CItemManager::Barrier(int user) {
    int cx = itemfx::HeadX(user), cy = itemfx::HeadY(user);
    theDirectSound.Play(SE_BARRIER, 0, 0);
    ClipRect clip = itemfx::PlayClip();
    SurfaceId canvas = itemfx::BeginFieldEdit();
    theDirectDraw.DrawDisc(canvas, cx, cy, kBarrierOuterPx, itemfx::PlayerColorRef(user), &clip);
    theDirectDraw.DrawDisc(canvas, cx, cy, kBarrierInnerPx, itemfx::EmptyColorRef(), &clip);
    itemfx::EndFieldEdit();
}

// Every pixel of exactly the user's colour becomes empty: the field is copied
// onto a cleared back buffer with that colour as the key.
void CItemManager::Clean(int user) {
    theDirectSound.Play(SE_CLEAN, 0, 0);
    const SurfaceId field = theRound.local.fieldSurface;
    theDirectDraw.ClearSurface(kBackBuffer);
    theDirectDraw.SetColorKey(field, uint8_t(PlayerTrailIndex(user)));
    theDirectDraw.Draw(kBackBuffer, 0, 0, kScreenWidth, kScreenHeight, field, 0, 0, true, 0);
    theDirectDraw.SetColorKey(field, kEmptyIndex);
    if (theRound.state.scrollPlay)
        theDirectDraw.CopyScreen(field, kBackBuffer);
    else
        theDirectDraw.Flip();
}

// A wall across the whole field at right angles to the heading, three pixels
// behind the head: it cuts off everyone behind the user.
void CItemManager::Wall(int user) {
    theDirectSound.Play(SE_WALL, 0, 0);
    const PlayerSlot& slot = Slot(user);
    int h = slot.heading % 360;
    int bx = CApp::FloatToInt(slot.x - kWallBehindPx * theApp.cosTable[h]);
    int by = CApp::FloatToInt(slot.y - kWallBehindPx * theApp.negSinTable[h]);
    int side1 = (h + 90) % 360, side2 = (h + 270) % 360;
    DrawWallLine(user, float(bx) + kFarPx * theApp.cosTable[side1], float(by) + kFarPx * theApp.negSinTable[side1],
                 float(bx) + kFarPx * theApp.cosTable[side2], float(by) + kFarPx * theApp.negSinTable[side2]);
}

void CItemManager::PingPong(int /*user*/) {
    theDirectSound.Play(SE_PPONG, 0, 0);
    theRound.pingPong.Drop();
}

void CItemManager::Mold(int /*user*/) {
    theDirectSound.Play(SE_MOLD, 0, 0);
    theRound.mold.Plant();
}
