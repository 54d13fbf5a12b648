// Computer players. They keep nothing between frames: once per movement step
// they look at their own slot and the field, may press a key to turn 30
// degrees, and may ask for their held item to be used.
#include "computer/computer.h"

#include "computer/planner.h"
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

int Ray(const ComputerView& view, int heading, bool diagonalCheck) {
    return CRound::ProbeClearance(view.self.x, view.self.y, heading, kRaySteps, view.pixels, view.pitch, diagonalCheck,
                                  view.items);
}

// "EASY COM": turns and uses its items at random.
SeatPresses ThinkEasyCom(const ComputerView& view) {
    SeatPresses presses{};
    if (!StepsThisFrame(view.state.phase, view.self.slowness)) return presses;
    const int r = theApp.RandUpTo(100);
    presses.turnLeft = r == 1;
    presses.turnRight = r == 2;
    presses.useItem = view.heldItems.Count() > 0 && theApp.RandUpTo(20) == 0;
    return presses;
}

// "NORMAL COM" and "HARD COM": look ahead and to both sides and turn toward
// the clearer way; "NORMAL COM" also sees a diagonal gap as a wall.
SeatPresses ThinkProbingCom(const ComputerView& view, bool diagonalCheck) {
    SeatPresses presses{};
    if (!StepsThisFrame(view.state.phase, view.self.slowness)) return presses;
    const int itemClass = HeldClass(view.heldItems);
    if (view.heldItems.Count() > 0 && theApp.RandUpTo(50) == 0 && (itemClass == 0 || itemClass == 2))
        presses.useItem = true;

    const int heading = view.self.heading;
    const int f = Ray(view, heading, diagonalCheck);
    int p = Ray(view, heading + kTurnDegrees, diagonalCheck);
    int m = Ray(view, heading - kTurnDegrees, diagonalCheck);
    if (p == 0) p = kClearRay;
    if (m == 0) m = kClearRay;
    if (f != 0) {
        if (itemClass == 1 && f < kUrgentSteps) {
            presses.useItem = true;
            return presses;
        }
        const bool leftClearer = p > f && p > m, rightClearer = m > f && m > p, bothAlike = m == p && m > f;
        if (leftClearer || rightClearer || bothAlike) {
            // Both sides alike: a coin decides.
            const bool left = leftClearer || (bothAlike && theApp.RandRange(0, 1) == 0);
            presses.turnLeft = left;
            presses.turnRight = !left;
            return presses;
        }
    }
    const int r = theApp.RandUpTo(100);
    presses.turnLeft = r == 1 && p > 10;
    presses.turnRight = r == 2 && m > 10;
    return presses;
}

}  // namespace

SeatPresses ThinkComputer(int type, const ComputerView& view) {
    switch (type) {
    case PLAYER_EASY:
        return ThinkEasyCom(view);
    case PLAYER_NORMAL:
        return ThinkProbingCom(view, true);
    case PLAYER_HARD:
        return ThinkProbingCom(view, false);
    case PLAYER_MASTER:
        return ThinkMasterCom(view);
    default:
        return {};
    }
}

void PrepareComputers(const PlayerSlot (&players)[kPlayers]) {
    for (const PlayerSlot& slot : players)
        if (EffectivePlayerType(slot.type) == PLAYER_MASTER) planner::PrepareTables();
}
