// "LR MIRROR" and "UD MIRROR": the field rows 16..431 (the play area with its
// top and bottom outline) are reflected as one block, and with them the live
// heads, the items on the field and every effect container, so the game goes
// on in the reflected picture exactly as it would have in the original.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "items/effectsupport.h"
#include "items/itemmanager.h"
#include "match/effects_area.h"
#include "match/round.h"
#include "sound/directsound.h"

namespace {

constexpr int kLastColumn = kScreenWidth - 1;                // 639
constexpr int kLastFieldRow = kFieldTop + kFieldHeight - 1;  // 431
// A pixel row y maps onto kFieldTop + kLastFieldRow - y = 447 - y.
constexpr int kRowMirrorSum = kFieldTop + kLastFieldRow;
static_assert(float(kLastColumn) == effects::kMirrorColumnSum && float(kRowMirrorSum) == effects::kMirrorRowSum);

uint16_t MirrorHeading(uint16_t h, MirrorAxis axis) {
    if (axis == MIRROR_UP_DOWN) return uint16_t((360 - h) % 360);
    return uint16_t(h <= 180 ? 180 - h : 540 - h);
}

void MirrorPlayer(PlayerSlot& slot, MirrorAxis axis) {
    // Heads follow the effect containers' rule (taken in double precision),
    // so a head a hair below a whole pixel still lands on the mirrored pixel.
    if (axis == MIRROR_LEFT_RIGHT) {
        slot.x = effects::MirrorCoordinate(effects::kMirrorColumnSum, slot.x);
        slot.lastPixelX = kLastColumn - slot.lastPixelX;
    } else {
        slot.y = effects::MirrorCoordinate(effects::kMirrorRowSum, slot.y);
        slot.lastPixelY = kRowMirrorSum - slot.lastPixelY;
    }
    slot.heading = MirrorHeading(slot.heading % 360, axis);
}

// to = from reflected; both are kFieldWidth x kFieldHeight.
void ReflectBlock(SurfaceId from, SurfaceId to, MirrorAxis axis) {
    SurfaceDesc src = theDirectDraw.Lock(from);
    SurfaceDesc dst = theDirectDraw.Lock(to);
    bool whole = src.pixels && dst.pixels && src.width >= kScreenWidth && dst.width >= kScreenWidth &&
                 src.height >= kFieldHeight && dst.height >= kFieldHeight;
    for (int row = 0; whole && row < kFieldHeight; row++) {
        uint8_t* out = dst.pixels + row * dst.pitch;
        if (axis == MIRROR_LEFT_RIGHT) {
            const uint8_t* in = src.pixels + row * src.pitch;
            std::reverse_copy(in, in + kScreenWidth, out);
        } else {
            std::memcpy(out, src.pixels + (kFieldHeight - 1 - row) * src.pitch, kScreenWidth);
        }
    }
    theDirectDraw.Unlock(to);
    theDirectDraw.Unlock(from);
}

// The reflected block goes back into the field rows; normal play shows it
// with a flip of a copy of the screen, so the status rows stay as they are.
void WriteFieldRows(SurfaceId block) {
    SurfaceId canvas = itemfx::BeginFieldEdit();
    theDirectDraw.Draw(canvas, 0, kFieldTop, kScreenWidth, kFieldHeight, block, 0, 0, false, 0);
    itemfx::EndFieldEdit();
}

void MirrorContainers(MirrorAxis axis) {
    if (axis == MIRROR_LEFT_RIGHT) {
        theRound.particle.MirrorLR();
        theRound.missile.MirrorLR();
        theRound.meteorite.MirrorLR();
        theRound.pingPong.MirrorLR();
        theRound.mold.MirrorLR();
    } else {
        theRound.particle.MirrorUD();
        theRound.missile.MirrorUD();
        theRound.meteorite.MirrorUD();
        theRound.pingPong.MirrorUD();
        theRound.mold.MirrorUD();
    }
}

}  // namespace

void CItemManager::MirrorField(MirrorAxis axis) {
    theDirectSound.Play(SE_MIRROR, 0, 0);
    SurfaceId original = theDirectDraw.CreateSurface(kScreenWidth, kFieldHeight, true);
    SurfaceId reflected = theDirectDraw.CreateSurface(kScreenWidth, kFieldHeight, true);
    theDirectDraw.Draw(original, 0, 0, kScreenWidth, kFieldHeight, theRound.local.fieldSurface, 0, kFieldTop, false, 0);
    ReflectBlock(original, reflected, axis);
    for (PlayerSlot& slot : theRound.players)
        if (slot.alive) MirrorPlayer(slot, axis);
    WriteFieldRows(reflected);
    theDirectDraw.ReleaseSurface(original);
    theDirectDraw.ReleaseSurface(reflected);

    // The 24x24 squares map onto each other.
    for (DataNode* node = fieldItems.First(); node; node = node->next) {
        FieldItem& item = *CDataList::Record<FieldItem>(node);
        if (axis == MIRROR_LEFT_RIGHT)
            item.x = kLastColumn + 1 - kItemPx - item.x;
        else
            item.y = kRowMirrorSum + 1 - kItemPx - item.y;
    }
    MirrorContainers(axis);
}
