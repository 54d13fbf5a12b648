// Computer players. They keep nothing between frames: once per movement step
// they look at their own slot and the field, may turn 30 degrees with the
// same operation as the keys, and may ask for their held item to be used.
#include "items/itemmanager.h"
#include "match/round.h"
#include "match/rules.h"

namespace {

constexpr int kRaySteps = 20;
constexpr int kClearRay = 30;  // stands for "clear" beside a blocked ray (at most 20)
constexpr int kUrgentSteps = 10;

// The class of the most recent held item, or -1 when nothing is held.
int HeldClass(const CDataList& heldItems) {
    DataNode* last = heldItems.Last();
    if (!last) return -1;
    int kind = CDataList::Record<HeldItem>(last)->kind;
    return kind < kItemKinds ? g_itemTable[kind].comClass : -1;
}

}  // namespace

// The look-ahead ray: 0 when the way is clear for every step, else the
// 1-based step at which it is blocked. Items lying on the field do not block
// it; with diagonalCheck a gap between two corner-touching pixels does.
int CRound::ProbeClearance(float x, float y, int heading, int steps, const uint8_t* pixels, int pitch,
                           bool diagonalCheck) {
    int px = CApp::FloatToInt(x), py = CApp::FloatToInt(y);
    if (!InsideInterior(px, py) || !pixels) return 1;
    heading = NormalHeading(heading);
    for (int i = 1; i <= steps; i++) {
        StepAlong(x, y, heading);
        int nx = CApp::FloatToInt(x), ny = CApp::FloatToInt(y);
        if (!InsideInterior(nx, ny)) return i;
        if (nx == px && ny == py) continue;
        if (pixels[ny * pitch + nx] != 0 && !theItemManager.FindItemAt(nx, ny)) return i;
        if (diagonalCheck && nx != px && ny != py && pixels[py * pitch + nx] != 0 && pixels[ny * pitch + px] != 0)
            return i;
        px = nx;
        py = ny;
    }
    return 0;
}

void CRound::ThinkEasyCom(PlayerSlot& slot, int i) {
    if (!StepsThisFrame(state.phase, slot.slowness)) return;
    int r = theApp.RandUpTo(100);
    if (r == 1) Turn(slot, +kTurnDegrees);
    if (r == 2) Turn(slot, -kTurnDegrees);
    if (heldItems[i].Count() > 0 && theApp.RandUpTo(20) == 0) slot.useItemRequest = 1;
}

void CRound::ThinkProbingCom(PlayerSlot& slot, int i, const uint8_t* pixels, int pitch, bool diagonalCheck) {
    if (!StepsThisFrame(state.phase, slot.slowness)) return;
    int itemClass = HeldClass(heldItems[i]);
    if (heldItems[i].Count() > 0 && theApp.RandUpTo(50) == 0 && (itemClass == 0 || itemClass == 2))
        slot.useItemRequest = 1;

    int f = ProbeClearance(slot.x, slot.y, slot.heading, kRaySteps, pixels, pitch, diagonalCheck);
    int p = ProbeClearance(slot.x, slot.y, slot.heading + kTurnDegrees, kRaySteps, pixels, pitch, diagonalCheck);
    int m = ProbeClearance(slot.x, slot.y, slot.heading - kTurnDegrees, kRaySteps, pixels, pitch, diagonalCheck);
    if (p == 0) p = kClearRay;
    if (m == 0) m = kClearRay;
    if (f != 0) {
        if (itemClass == 1 && f < kUrgentSteps) {
            slot.useItemRequest = 1;
            return;
        }
        if (p > f && p > m) return Turn(slot, +kTurnDegrees);
        if (m > f && m > p) return Turn(slot, -kTurnDegrees);
        if (m == p && m > f) return Turn(slot, theApp.RandRange(0, 1) == 0 ? +kTurnDegrees : -kTurnDegrees);
    }
    int r = theApp.RandUpTo(100);
    if (r == 1 && p > 10) Turn(slot, +kTurnDegrees);
    if (r == 2 && m > 10) Turn(slot, -kTurnDegrees);
}
