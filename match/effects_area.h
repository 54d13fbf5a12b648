// What the effect containers share: the playable area that bounds every
// pixel they write, the mirror rule for their coordinates, and the erasers
// and discs of the sprite effects.
#pragma once
#include <cmath>
#include <cstdint>

#include "core/app.h"
#include "core/datalist.h"
#include "match/round.h"

namespace effects {

// Inside the playable area (kInterior*, both ends included). Every effect
// pixel is written only there, so the outline and the status rows are never
// touched. One unsigned compare per axis: negative offsets wrap to large values.
inline bool InsideArea(int x, int y) {
    return unsigned(x - kInteriorLeft) <= unsigned(kInteriorRight - kInteriorLeft) &&
           unsigned(y - kInteriorTop) <= unsigned(kInteriorBottom - kInteriorTop);
}

// The pixel of the locked field at a truncated position known to be inside.
inline uint8_t& FieldPixel(uint8_t* pixels, int pitch, int x, int y) { return pixels[y * pitch + x]; }

// Reflects a float coordinate: c -> sum - c. A result that is not a whole
// number is raised by 1, so that its truncation is the reflected pixel of
// the old truncation. The sum is taken exactly in double precision. Rounding
// it back to a float can land on a whole number when the value lies a hair
// from one (rounding never crosses a whole number without landing on it);
// then the float next to it on the side of the exact value is taken, so that
// the pixel is right and a second reflection gives the old position back.
inline float MirrorCoordinate(float sum, float value) {
    double mirrored = double(sum) - double(value);
    if (std::floor(mirrored) != mirrored) mirrored += 1.0;
    float result = float(mirrored);
    if (std::floor(result) == result && double(result) != mirrored)
        result = std::nextafter(result, double(result) < mirrored ? HUGE_VALF : -HUGE_VALF);
    return result;
}

// Pixel columns map c -> 639 - c and rows r -> 447 - r.
constexpr float kMirrorColumnSum = float(kFieldRight);
constexpr float kMirrorRowSum = float(kFieldTop + kFieldBottom);
// The sprite effects reflect their 24x24 corner: 616 = 639 - 23, 424 = 447 - 23.
constexpr int kSpriteMirrorX = kFieldRight - 23;
constexpr int kSpriteMirrorY = kFieldTop + kFieldBottom - 23;

// Reflects every record of a list whose record starts with x, y and whose
// velocity is vx, vy (particles, meteorites).
template <class Record>
void MirrorPointsLR(CDataList& list) {
    for (DataNode* node = list.First(); node; node = node->next) {
        Record* r = CDataList::Record<Record>(node);
        r->x = MirrorCoordinate(kMirrorColumnSum, r->x);
        r->vx = -r->vx;
    }
}

template <class Record>
void MirrorPointsUD(CDataList& list) {
    for (DataNode* node = list.First(); node; node = node->next) {
        Record* r = CDataList::Record<Record>(node);
        r->y = MirrorCoordinate(kMirrorRowSum, r->y);
        r->vy = -r->vy;
    }
}

// The same for the sprite records (missiles, balls), which also keep the
// corner where they were last drawn.
template <class Record>
void MirrorSpritesLR(CDataList& list) {
    for (DataNode* node = list.First(); node; node = node->next) {
        Record* r = CDataList::Record<Record>(node);
        r->ix = kSpriteMirrorX - r->ix;
        r->x = MirrorCoordinate(float(kSpriteMirrorX), r->x);
        r->vx = -r->vx;
    }
}

template <class Record>
void MirrorSpritesUD(CDataList& list) {
    for (DataNode* node = list.First(); node; node = node->next) {
        Record* r = CDataList::Record<Record>(node);
        r->iy = kSpriteMirrorY - r->iy;
        r->y = MirrorCoordinate(float(kSpriteMirrorY), r->y);
        r->vy = -r->vy;
    }
}

// The sprites are 24x24 discs of radius 12 round (12, 12).
constexpr int kSpriteSize = 24;
constexpr int kSpriteRadius = 12;

// A sprite surface with a disc in the given 0x00BBGGRR colour on key 0.
SurfaceId MakeDiscSprite(uint32_t colorRef);
// An eraser: key 255 around a black disc, so a keyed copy clears exactly the
// pixels a sprite covered and leaves the corners alone.
SurfaceId MakeEraser();
// Sprite copies are clipped to the playable area.
void ClipToArea();
// Keyed, clipped copy of a whole sprite with its corner at (x, y).
void DrawSprite(SurfaceId target, int x, int y, SurfaceId sprite);

}  // namespace effects
