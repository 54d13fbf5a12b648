// SAFE_STARTS: a random start is drawn again, from the round's generator,
// until the line has open field straight ahead. Open means: inside the
// play area, on no pixel of the stage picture, and clear of the ways the
// lines placed before it take straight ahead, so that two lines are not
// started into each other either. A stage's fixed start is kept as it is.
#include <cstdlib>

#include "match/round.h"
#include "match/rules.h"

namespace {

// Draws for one line before a crowded stage keeps the last one.
constexpr int kMostStartDraws = 1000;
// How close a way may come to another line's way ahead.
constexpr int kLaneGapPx = 3;

bool NearLanes(const SafeStartLanes& lanes, int x, int y) {
    for (int k = 0; k < lanes.count; k++)
        if (std::abs(lanes.x[k] - x) <= kLaneGapPx && std::abs(lanes.y[k] - y) <= kLaneGapPx) return true;
    return false;
}

bool OpenAt(const SurfaceDesc& field, const SafeStartLanes& lanes, int x, int y) {
    if (!InsideInterior(x, y)) return false;
    return field.pixels[y * field.pitch + x] == 0 && !NearLanes(lanes, x, y);
}

// Calls visit(x, y) for the start pixel and each new pixel of the way
// straight ahead, stepped as the line steps; stops where visit says false.
template <class Visit>
bool WalkAhead(const PlayerSlot& slot, Visit visit) {
    float x = slot.x, y = slot.y;
    int px = CApp::FloatToInt(x), py = CApp::FloatToInt(y);
    if (!visit(px, py)) return false;
    const int h = slot.heading % 360;
    for (int step = 0; step < kSafeStartAheadPx; step++) {
        x += theApp.cosTable[h];
        y += theApp.negSinTable[h];
        const int nx = CApp::FloatToInt(x), ny = CApp::FloatToInt(y);
        if (nx == px && ny == py) continue;
        if (!visit(nx, ny)) return false;
        px = nx;
        py = ny;
    }
    return true;
}

}  // namespace

bool CRound::StartIsSafe(const PlayerSlot& slot, const SurfaceDesc& field, const SafeStartLanes& lanes) {
    if (!field.pixels) return true;
    return WalkAhead(slot, [&](int x, int y) { return OpenAt(field, lanes, x, y); });
}

void CRound::RedrawUnsafeStart(PlayerSlot& slot, const StageEntry& stage, int i, SafeStartLanes& lanes) {
    const bool random =
        stage.startX[i] == kRandomStart || stage.startY[i] == kRandomStart || stage.startHeading[i] == kRandomStart;
    SurfaceDesc field = theDirectDraw.Lock(local.playfieldSurface);
    for (int draw = 1; random && draw < kMostStartDraws && !StartIsSafe(slot, field, lanes); draw++)
        DrawStart(slot, stage, i);
    theDirectDraw.Unlock(local.playfieldSurface);
    WalkAhead(slot, [&](int x, int y) {
        if (lanes.count == kPlayers * kSafeStartLanePixels) return false;
        lanes.x[lanes.count] = int16_t(x);
        lanes.y[lanes.count++] = int16_t(y);
        return true;
    });
}
