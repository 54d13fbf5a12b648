// Lines: one step at most per frame along the heading, a pixel test before
// every new pixel, hits resolved in the slot's next acting frame, the human
// turn and item keys, the computer players' presses, the look-ahead ray that
// they and "CHANGE" use, and the ring explosion of a death.
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "match/rules.h"
#include "sound/directsound.h"

namespace {

constexpr int kRewardTurns = 70;
constexpr int kRewardCount = 10;
// A ring wider than this lies wholly outside the playfield wherever it is
// centred, so bigger radii from the settings file draw nothing more.
constexpr int kWidestRingPx = 800;

}  // namespace

void CRound::Advance(PlayerSlot& slot) {
    MoveOneFrame(slot.x, slot.y, slot.heading, state.frameCounter < slot.gravityEndFrame,
                 StepsThisFrame(state.phase, slot.slowness));
}

void CRound::PlotTrail(PlayerSlot& slot, int i, uint8_t* pixels, int pitch) {
    if (!slot.alive || !pixels) return;
    int px = CApp::FloatToInt(slot.x), py = CApp::FloatToInt(slot.y);
    if (px == slot.lastPixelX && py == slot.lastPixelY) return;
    if (state.frameCounter < slot.noTrailEndFrame && InsideInterior(px, py) &&
        InsideInterior(slot.lastPixelX, slot.lastPixelY))
        pixels[slot.lastPixelY * pitch + slot.lastPixelX] = 0;
    slot.lastPixelX = px;
    slot.lastPixelY = py;
    if (!InsideInterior(px, py)) {
        slot.hit = 1;
        return;
    }
    uint8_t& pixel = pixels[py * pitch + px];
    if (state.frameCounter < slot.invincibleEndFrame) {
        // An invincible line paints every pixel it enters in a random colour.
        if (pixel) slot.hit = 1;
        pixel = uint8_t(theApp.RandRange(kInvincibleFirst, kInvincibleLast));
        return;
    }
    if (pixel == 0)
        pixel = uint8_t(PlayerTrailIndex(i));
    else
        slot.hit = 1;
}

void CRound::ResolveHit(PlayerSlot& slot, int i) {
    if (!slot.hit) return;
    DataNode* item = theItemManager.FindItemAt(CApp::FloatToInt(slot.x), CApp::FloatToInt(slot.y));
    if (item) {
        slot.hit = 0;
        if (theItemManager.PickUp(i, item)) return;
    }
    // Invincibility saves a line from anything but leaving the interior.
    if (state.frameCounter < slot.invincibleEndFrame && slot.x >= float(kInteriorLeft) &&
        slot.x <= float(kInteriorRight) && slot.y >= float(kInteriorTop) && slot.y <= float(kInteriorBottom)) {
        slot.hit = 0;
        return;
    }
    slot.alive = 0;
    switch (explosionType) {
    case 0:
        theDirectSound.Play(SE_CIRCLE, 0, 0);
        CircleExplosion(slot, i);
        break;
    case 1:
    case 2:
    case 3:
        theDirectSound.Play(SE_COSMO, 0, 0);
        particle.Explode(explosionType - 1, i, explosionValues[explosionType]);
        break;
    default:
        break;
    }
    ClearPanel(i);
    slot.endFrame = state.frameCounter;
    slot.endSecond = state.roundSeconds;
}

// The presses seat i makes this frame, on its keys and on the pad in slot i.
// Each press acts once: a key or button read as newly down (1) is marked as
// seen (2) so that holding it does nothing more.
// A human seat's presses of this frame: turns, which count toward the turn
// rewards, and the use of its newest item.
void CRound::HandleKeys(PlayerSlot& slot, int i, uint8_t actions) {
    if (actions & SEAT_LEFT) {
        Turn(slot, +kTurnDegrees);
        if (++slot.leftTurns == kRewardTurns && slot.rightTurns == 0) GiveItems(slot, i, ITEM_BOMB, kRewardCount, true);
    }
    if (actions & SEAT_RIGHT) {
        Turn(slot, -kTurnDegrees);
        if (++slot.rightTurns == kRewardTurns && slot.leftTurns == 0)
            GiveItems(slot, i, ITEM_MISSILE, kRewardCount, true);
    }
    if (actions & SEAT_ITEM) theItemManager.UseItem(i);
}

int CRound::ProbeClearance(float x, float y, int heading, int steps, const uint8_t* pixels, int pitch,
                           bool diagonalCheck, const CItemManager& items) {
    int px = CApp::FloatToInt(x), py = CApp::FloatToInt(y);
    if (!InsideInterior(px, py) || !pixels) return 1;
    heading = NormalHeading(heading);
    for (int i = 1; i <= steps; i++) {
        StepAlong(x, y, heading);
        int nx = CApp::FloatToInt(x), ny = CApp::FloatToInt(y);
        if (!InsideInterior(nx, ny)) return i;
        if (nx == px && ny == py) continue;
        if (pixels[ny * pitch + nx] != 0 && !items.FindItemAt(nx, ny)) return i;
        if (diagonalCheck && nx != px && ny != py && pixels[py * pitch + nx] != 0 && pixels[ny * pitch + px] != 0)
            return i;
        px = nx;
        py = ny;
    }
    return 0;
}

int CRound::ProbeClearance(float x, float y, int heading, int steps, const uint8_t* pixels, int pitch,
                           bool diagonalCheck) {
    return ProbeClearance(x, y, heading, steps, pixels, pitch, diagonalCheck, theItemManager);
}

// A computer's presses act in the same order as a player's keys.
void CRound::ApplyComputerPresses(PlayerSlot& slot, SeatPresses presses) {
    if (presses.turnLeft) Turn(slot, +kTurnDegrees);
    if (presses.turnRight) Turn(slot, -kTurnDegrees);
    if (presses.useItem) slot.useItemRequest = 1;
}

void CRound::Turn(PlayerSlot& slot, int delta) {
    if (state.frameCounter < slot.mirrorEndFrame) delta = -delta;
    slot.heading = uint16_t(NormalHeading(slot.heading + delta));
}

// Rings of radius 0, 2, 4, ... in the player's colour round the head. In
// normal play they are drawn on a copy of the screen that is then flipped in,
// so the visible picture, and with it the collision map, gains the rings.
void CRound::CircleExplosion(PlayerSlot& slot, int i) {
    int cx = CApp::FloatToInt(slot.x), cy = CApp::FloatToInt(slot.y);
    uint32_t color = theDirectDraw.PaletteColor(PlayerTrailIndex(i));
    ClipRect clip = kPlayClip;
    SurfaceId target = state.scrollPlay ? local.fieldSurface : kBackBuffer;
    if (!state.scrollPlay) theDirectDraw.CopyScreen(kBackBuffer, kVisibleSurface);
    int widest = explosionValues[0] < kWidestRingPx ? explosionValues[0] : kWidestRingPx;
    for (int r = 0; r <= widest; r += 2) theDirectDraw.DrawCircle(target, cx, cy, r, color, &clip);
    if (!state.scrollPlay) theDirectDraw.Flip();
}
