// The planning computer player ("MASTER COM"): what it sees of the round and
// the two halves of its thinking. The path search tries turn choices at the
// slot's own step times on the real pixel field and finds how long each
// first move can be survived; the territory count tells, from where such a
// path ends, how much free ground this line reaches before any other line.
//
// Everything here is read from what the screen shows: the field's pixels,
// the heads and headings of the lines, the items lying on the field, and the
// visible moving objects (meteorites that have entered, missiles, balls,
// growing mould). In scroll play a player sees only the 80x80 view round
// their own head, and so does the planner: what lies outside it is neither
// ground it can count on nor a line or object it knows of. Nothing reads keys or draws random numbers, and nothing is
// kept from one step to the next, so every machine that plays the same round
// thinks the same thoughts. The work is bounded by counts (search steps,
// pixels and cells visited), never by the clock.
#pragma once
#include <cstdint>

#include "match/computerview.h"
#include "match/round.h"
#include "match/rules.h"

namespace planner {

constexpr int kHorizonSteps = 24;    // how far ahead every first move is searched
constexpr int kMaxPredictions = 64;  // predicted pixels of another line's way ahead
constexpr int kMaxTracks = 48;       // moving objects near enough to matter
constexpr int kMaxItemsSeen = 16;    // item squares that a head may cross
constexpr int kMaxMoulds = 8;
constexpr int kMouldReachPx = 80;  // a mould spot grows pixels this far from its centre

// Another line, as its head moves on the screen.
struct OtherLine {
    int pixelX, pixelY;
    int firstStepFrame;  // the frame of its next step
    int periodFrames;    // frames per step
};

// A pixel another line reaches if it keeps its heading, and when.
struct PredictedPixel {
    int32_t index;  // y * pitch + x
    int32_t frame;
};

// A moving object near the head: its centre by frame, from its visible
// motion. Balls fall faster each frame, so their way is laid out in advance.
struct Track {
    float x, y, vx, vy, ay;
    int radiusPx;  // 0: a single pixel (a meteorite)
};

struct Mould {
    int x, y;
};

// The part of the field a player sees (both ends included).
struct Window {
    int left, top, right, bottom;
    bool Holds(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

// One thinking step's view of the round.
struct View {
    const uint8_t* pixels;
    int pitch;
    // The whole field in normal play; the scroll view in scroll play.
    Window seen;
    bool wholeField;
    int slot;
    int headX, headY;
    int nowFrame;
    int periodFrames;
    int mirrorEndFrame, noTrailEndFrame, gravityEndFrame, invincibleEndFrame;
    int closingBorderPx;  // pixels of every side the closing border will have taken soon; 0 without it
    // On the stage that sprinkles dots: a lone dot (no other set pixel round
    // it) does not shut its cell in the territory count, as a line passes it
    // within the cell. It stays a wall for the path search and the pixel floods.
    bool loneDotsPassable;
    int itemCount;
    int itemX[kMaxItemsSeen], itemY[kMaxItemsSeen];
    int otherCount;
    OtherLine others[kPlayers];
    int predictedCount;
    PredictedPixel predicted[kPlayers * kMaxPredictions];
    int trackCount;
    Track tracks[kMaxTracks];
    int mouldCount;
    Mould moulds[kMaxMoulds];
};

// The head as the search moves it: the same float steps as the round.
struct Head {
    float x, y;
    uint16_t heading;
    int lastX, lastY;
    int frame;  // the frame of the next step
};

// What the search found for one first move.
struct PathResult {
    int survivedSteps;  // kHorizonSteps when a way through the whole horizon was found
    int pathLength;
    int32_t path[kHorizonSteps + 1];  // pixel indices entered, the start pixel first
    Head end;
    int mouldSteps;  // steps of the way that lie in growing mould
};

// Fills the view from what the computer player sees of the round. With
// scrollView, only what its scroll view shows is seen.
void Look(View& view, const ComputerView& round, bool scrollView);

// What slot i's scroll view shows of the field: the 80x80 square round its
// head, as the round copies it into the view.
Window ScrollWindow(const PlayerSlot& slot);

// The player's head as the search starts it.
Head StartHead(const ComputerView& round);

// One step of the head as the round moves its line: the turn (+30, 0 or
// -30, mirroring not applied), then the frames up to its next step, each
// with gravity's turn while it holds, the first with the step. Inline: the
// search takes hundreds of such steps for every step of the line.
inline void MoveHead(Head& head, int turnDegrees, int periodFrames, int gravityEndFrame) {
    head.heading = uint16_t(NormalHeading(head.heading + turnDegrees));
    const int stepFrame = head.frame;
    head.frame = stepFrame + periodFrames;
    MoveOneFrame(head.x, head.y, head.heading, stepFrame < gravityEndFrame, true);
    for (int f = stepFrame + 1; f < head.frame; f++)
        MoveOneFrame(head.x, head.y, head.heading, f < gravityEndFrame, false);
}

// The longest survival of the first move turnDegrees (+30, 0 or -30, as the
// heading changes, mirroring not applied) within the step budget.
PathResult SearchFirstMove(const View& view, const Head& start, int turnDegrees);

// Coarse cells (4x4 pixels) this line reaches strictly before every other
// line, counted from the end of a path (the path itself is wall), and free
// pixels reachable near that end; both capped.
struct Territory {
    int cells;
    int nearPixels;
    // When the count reached its cap: how many cells away the last counted
    // cell lay. Ground that fills the cap closer by is worth more: it is
    // reached sooner, before another line can shut the way to it.
    int capDistanceCells;
};
constexpr int kNearFloodPx = 400;  // pixels counted near the end of a path
Territory CountTerritory(const View& view, const PathResult& path);
// Only the free pixels near the end of a path (the cheap half of the count).
int CountNearPixels(const View& view, const PathResult& path);

// Writes the counting's work tables once, before the first round that has a
// planning player: their pages are then in memory, and the first floods of
// a round do not pay for faulting them in (up to 2 ms in one frame). The
// tables are all zero before any count, and stay so.
void PrepareTables();

// Prepares the other lines' arrival times for CountTerritory; once per step.
// Lines too far away to matter are left out when near is false: then no
// line but this one is counted.
void MapOtherLines(const View& view, bool near);

// Whether the head's way straight ahead stays on open ground for `steps` steps.
bool ClearAhead(const View& view, const Head& head, int steps);

// Whether an item square that a head may cross covers a pixel.
bool UnderItem(const View& view, int x, int y);

// True when a pixel is open ground for the line: inside, and empty or part
// of an item picture (running into an item picks it up).
inline bool OpenPixel(const View& view, int x, int y) {
    const int border = view.closingBorderPx;
    if (!InsideInterior(x, y)) return false;
    if (!view.wholeField && !view.seen.Holds(x, y)) return false;
    if (border && (x < border || x > kFieldRight - border || y < kFieldTop + border || y > kFieldBottom - border))
        return false;
    return view.pixels[y * view.pitch + x] == 0 || (view.itemCount > 0 && UnderItem(view, x, y));
}

}  // namespace planner
