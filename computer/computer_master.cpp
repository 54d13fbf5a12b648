// "MASTER COM": the computer player that plans. In every movement step of its
// slot, and only then, it weighs its three possible first moves (turn +30,
// hold, turn -30): first by how long the best way after each can be
// survived, then by the ground it holds at that way's end. Equal choices
// are settled by a hash of the round's start, the frame and the seat:
// holding, as a rule, and now and then one of the equal turns, so that two
// rounds from the same start positions differ while every machine that
// plays a round thinks the same. It presses the turn keys, undoing the
// mirror of "LR FLIP" so that the line goes where it chose, and asks for
// its held item as the other computer players do, by the same item
// classes: class 1 only when it is about to die, classes 0 and 2 when they
// help. In scroll play it sees only its own scroll view. It draws no random
// numbers and keeps nothing between steps.
//
// Replays made before it worked so (RoundStart::oldMasterRule) are played
// by the old way: the whole field seen in scroll play too, and equal choices
// settled always alike, holding before turning +30 before turning -30.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "computer/computer.h"
#include "computer/planner.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "match/rules.h"

namespace {

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
// When holding is one of the equal choices, one step in this many turns instead.
constexpr uint32_t kTieTurnOdds = 32;

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

// Another live head that the player sees.
bool SeenOther(const planner::View& view, const ComputerView& round, int j) {
    const PlayerSlot& other = round.players[j];
    return j != round.seat && other.alive &&
           (view.wholeField || view.seen.Holds(CApp::FloatToInt(other.x), CApp::FloatToInt(other.y)));
}

bool OtherInMissileLane(const planner::View& view, const ComputerView& round) {
    for (int j = 0; j < kPlayers; j++) {
        if (!SeenOther(view, round, j)) continue;
        Bearing b = BearingOf(round.self, round.players[j]);
        if (b.along >= kMissileNearestPx && b.along <= kMissileRangePx && b.across <= kMissileLanePx) return true;
    }
    return false;
}

bool EveryOtherBehind(const planner::View& view, const ComputerView& round) {
    for (int j = 0; j < kPlayers; j++)
        if (SeenOther(view, round, j) && BearingOf(round.self, round.players[j]).along > -kBehindPx) return false;
    return true;
}

// Whether the most recent held item is worth its use now.
bool WorthUsing(const planner::View& view, const ComputerView& round, int kind, const Option& best) {
    const bool lastMoment = best.path.survivedSteps <= kLastMomentSteps;
    if (kind >= kItemKinds) return true;  // no effect: spent to reach the item below
    switch (kind) {
    case ITEM_CLEAN:
        return lastMoment || best.ground.cells < kSmallGroundCells;
    case ITEM_MISSILE:
        return OtherInMissileLane(view, round);
    case ITEM_WALL:
        return EveryOtherBehind(view, round);
    default:
        return g_itemTable[kind].comClass == 1 ? lastMoment : true;
    }
}

uint32_t Mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    return h ^ (h >> 16);
}

// The same for every machine that plays the round, different from round to
// round and from step to step; the generator is not drawn from.
uint32_t TieHash(const ComputerView& round) {
    uint32_t h = Mix(round.start.seed);
    h = Mix(h ^ round.roundCounter);
    h = Mix(h ^ uint32_t(round.state.frameCounter));
    return Mix(h ^ uint32_t(round.seat));
}

// The best of the three first moves. Among equals, the old way takes the
// first; else holding stays, but one step in kTieTurnOdds (by the hash) takes
// one of the equal turns instead, and two equal turns are chosen between by it.
int Choose(const Option (&options)[3], bool oldWay, uint32_t hash) {
    int best = 0;
    for (int k = 1; k < 3; k++)
        if (Better(options[k], options[best])) best = k;
    if (oldWay) return best;
    int turns[2], turnCount = 0;
    bool holdEqual = false;
    for (int k = 0; k < 3; k++) {
        if (Better(options[best], options[k])) continue;
        if (options[k].turnDegrees == 0)
            holdEqual = true;
        else
            turns[turnCount++] = k;
    }
    if (turnCount == 0 || (holdEqual && hash % kTieTurnOdds != 0)) return best;
    return turns[(hash >> 16) % uint32_t(turnCount)];
}

bool OtherHeadNear(const planner::View& view) {
    for (int o = 0; o < view.otherCount; o++)
        if (std::abs(view.others[o].pixelX - view.headX) <= kOtherNearPx &&
            std::abs(view.others[o].pixelY - view.headY) <= kOtherNearPx)
            return true;
    return false;
}

}  // namespace

SeatPresses ThinkMasterCom(const ComputerView& round) {
    SeatPresses presses{};
    if (!StepsThisFrame(round.state.phase, round.self.slowness) || !round.pixels) return presses;
    static planner::View view;
    const bool oldWay = round.start.oldMasterRule != 0;
    planner::Look(view, round, round.state.scrollPlay && !oldWay);
    const planner::Head start = planner::StartHead(round);

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
    const int best = Choose(options, oldWay, oldWay ? 0 : TieHash(round));

    if (DataNode* last = round.heldItems.Last()) {
        const int kind = CDataList::Record<HeldItem>(last)->kind;
        presses.useItem = WorthUsing(view, round, kind, options[best]);
    }
    const bool mirrored = round.state.frameCounter < round.self.mirrorEndFrame;
    const int keyTurn = mirrored ? -options[best].turnDegrees : options[best].turnDegrees;
    presses.turnLeft = keyTurn > 0;
    presses.turnRight = keyTurn < 0;
    return presses;
}
