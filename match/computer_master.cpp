// "MASTER COM": the computer player that plans. In every movement step of its
// slot, and only then, it weighs its three possible first moves (turn +30,
// hold, turn -30): first by how long the best way after each can be
// survived, then by the ground it holds at that way's end, and last by
// holding before turning +30 before turning -30. It turns with the same
// operation as the keys, undoing the mirror of "LR FLIP" so that the line
// goes where it chose, and asks for its held item through the same request
// as the other computer players, by the same item classes: class 1 only when
// it is about to die, classes 0 and 2 when they help. It draws no random
// numbers and keeps nothing between steps.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "items/itemmanager.h"
#include "match/planner.h"
#include "match/round.h"

namespace {

constexpr int kTurnDegrees = 30;
constexpr int kFirstMoves[3] = {0, +kTurnDegrees, -kTurnDegrees};  // in the order ties are settled
constexpr int kCellWeightPx = 16;                                  // a counted cell stands for its 4x4 pixels
constexpr int kMouldStepCost = 64;
// An item kept for the last moment is used while the line can still go this
// many steps: the request is served at the start of its next step.
constexpr int kLastMomentSteps = 8;
constexpr int kSmallGroundCells = 150;  // ground this small makes "CLEAN" worth using
constexpr int kMissileLanePx = 12;
constexpr int kMissileRangePx = 320;
constexpr int kMissileNearestPx = 16;
constexpr int kBehindPx = 8;
// The ground count looks far; it is needed only where a choice is near: by
// another head, by a wall ahead, or by walls that close in on some first move.
constexpr int kOtherNearPx = 160;
constexpr int kOpenAheadSteps = 40;

struct Option {
    int turnDegrees;
    planner::PathResult path;
    planner::Territory ground;
};

long GroundValue(const Option& o) {
    return long(o.ground.cells - o.ground.capDistanceCells) * kCellWeightPx + o.ground.nearPixels -
           long(o.path.mouldSteps) * kMouldStepCost;
}

bool Better(const Option& a, const Option& b) {
    if (a.path.survivedSteps != b.path.survivedSteps) return a.path.survivedSteps > b.path.survivedSteps;
    return GroundValue(a) > GroundValue(b);
}

// Where another head lies seen from this one: along the heading and across it.
struct Bearing {
    float along, across;
};
Bearing BearingOf(const PlayerSlot& from, const PlayerSlot& to) {
    const int h = from.heading % 360;
    const float dx = to.x - from.x, dy = to.y - from.y;
    const float c = theApp.cosTable[h], s = theApp.negSinTable[h];
    return {dx * c + dy * s, std::fabs(dx * s - dy * c)};
}

bool OtherInMissileLane(const CRound& round, int i) {
    for (int j = 0; j < kPlayers; j++) {
        if (j == i || !round.players[j].alive) continue;
        Bearing b = BearingOf(round.players[i], round.players[j]);
        if (b.along >= kMissileNearestPx && b.along <= kMissileRangePx && b.across <= kMissileLanePx) return true;
    }
    return false;
}

bool EveryOtherBehind(const CRound& round, int i) {
    for (int j = 0; j < kPlayers; j++)
        if (j != i && round.players[j].alive && BearingOf(round.players[i], round.players[j]).along > -kBehindPx)
            return false;
    return true;
}

// Whether the most recent held item is worth its use now.
bool WorthUsing(const CRound& round, int i, int kind, const Option& best) {
    const bool lastMoment = best.path.survivedSteps <= kLastMomentSteps;
    if (kind >= kItemKinds) return true;  // no effect: spent to reach the item below
    switch (kind) {
    case ITEM_CLEAN:
        return lastMoment || best.ground.cells < kSmallGroundCells;
    case ITEM_MISSILE:
        return OtherInMissileLane(round, i);
    case ITEM_WALL:
        return EveryOtherBehind(round, i);
    default:
        return g_itemTable[kind].comClass == 1 ? lastMoment : true;
    }
}

bool OtherHeadNear(const planner::View& view) {
    for (int o = 0; o < view.otherCount; o++)
        if (std::abs(view.others[o].pixelX - view.headX) <= kOtherNearPx &&
            std::abs(view.others[o].pixelY - view.headY) <= kOtherNearPx)
            return true;
    return false;
}

}  // namespace

void CRound::ThinkMasterCom(PlayerSlot& slot, int i, const uint8_t* pixels, int pitch) {
    if (state.phase[slot.slowness < 5 ? slot.slowness : 4] != 0 || !pixels) return;
    static planner::View view;
    planner::Look(view, *this, i, pixels, pitch);
    const planner::Head start = planner::StartHead(*this, i);

    static Option options[3];
    const bool otherNear = OtherHeadNear(view);
    bool open = !otherNear && planner::ClearAhead(view, start, kOpenAheadSteps);
    int longest = 0;
    for (int k = 0; k < 3; k++) {
        Option& o = options[k];
        o.turnDegrees = kFirstMoves[k];
        o.path = planner::SearchFirstMove(view, start, o.turnDegrees);
        o.ground = {0, planner::CountNearPixels(view, o.path), 0};
        open = open && o.ground.nearPixels >= planner::kNearFloodPx;
        longest = std::max(longest, o.path.survivedSteps);
    }
    if (!open) {
        planner::MapOtherLines(view, otherNear);
        for (Option& o : options)
            if (o.path.survivedSteps == longest) o.ground = planner::CountTerritory(view, o.path);
    }
    int best = 0;
    for (int k = 1; k < 3; k++)
        if (Better(options[k], options[best])) best = k;

    if (DataNode* last = heldItems[i].Last()) {
        const int kind = CDataList::Record<HeldItem>(last)->kind;
        if (WorthUsing(*this, i, kind, options[best])) slot.useItemRequest = 1;
    }
    const int turn = options[best].turnDegrees;
    const bool mirrored = state.frameCounter < slot.mirrorEndFrame;
    if (turn != 0) Turn(slot, mirrored ? -turn : turn);
}
