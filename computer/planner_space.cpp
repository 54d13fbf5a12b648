// The territory count of the planning player: which line reaches each part
// of the free field first.
//
// The far field is looked at in cells of 4x4 pixels; a cell is open only
// when all its pixels are, so a one-pixel trail is a wall of cells and no
// count leaks through a gap the line could not take. Lone dots of the stage
// that sprinkles them are the exception: a line steers round one within its
// cell, and a field strewn with them is open ground, not a maze of shut cells. Near a head, where
// lines run closer to walls than a cell, a small flood over single pixels
// finds the open cells the head can get into, and counts the pixels it can
// reach nearby. Cell floods count steps of one cell; a line needs four of
// its own steps for one, so its arrival frame is its next step frame plus
// cells x 4 x its frames per step.
//
// The scratch below is reused by every thinking step and never read before
// it is written in the same step: stamps tell what was written when.
#include <algorithm>
#include <cstring>

#include "computer/planner.h"

namespace planner {
namespace {

constexpr int kCellPx = 4;
constexpr int kCellsX = kScreenWidth / kCellPx, kCellsY = kScreenHeight / kCellPx;
constexpr int kCells = kCellsX * kCellsY;
constexpr int kPixels = kScreenWidth * kScreenHeight;
constexpr int kSeedRadiusPx = 6;     // how far from a head its first open cells are looked for
constexpr int kSeedFloodPx = 60;     // pixels flooded to find them
constexpr int kMyCellsCap = 500;     // cells counted for this line
constexpr int kOtherCellsCap = 600;  // cells flooded for the other lines together

uint32_t g_serial;  // one value per flood; 0 is never used
uint32_t g_viewSerial;
uint32_t g_cellSeen[kCells];
uint8_t g_cellShut[kCells];
uint32_t g_otherSeen[kCells];
int32_t g_otherFrames[kCells];
uint32_t g_mine[kCells];
uint32_t g_pixelSeen[kPixels];
int32_t g_pixelQueue[kPixels];
uint8_t g_pixelDistance[kPixels];
int32_t g_cellQueue[kCells];
int32_t g_cellSteps[kCells];
uint8_t g_cellOwner[kCells];

uint32_t NextSerial() {
    if (++g_serial == 0) {
        std::memset(g_pixelSeen, 0, sizeof g_pixelSeen);
        std::memset(g_mine, 0, sizeof g_mine);
        std::memset(g_cellSeen, 0, sizeof g_cellSeen);
        std::memset(g_otherSeen, 0, sizeof g_otherSeen);
        g_serial = 1;
    }
    return g_serial;
}

bool g_tablesPrepared = false;

int CellOf(int x, int y) { return (y / kCellPx) * kCellsX + x / kCellPx; }

bool OpenBorder(const View& v, int x, int y) {
    const int b = v.closingBorderPx;
    return b == 0 || (x >= b && x <= kFieldRight - b && y >= kFieldTop + b && y <= kFieldBottom - b);
}

// A dot of the sprinkled stage with nothing set in the eight pixels round
// it. Dots that touch each other or a trail are walls like any other.
bool LoneDot(const View& v, int x, int y) {
    const uint8_t* p = v.pixels + y * v.pitch + x;
    if (*p != kOutlineIndex) return false;
    for (int dy = -1; dy <= 1; dy++)
        for (int dx = -1; dx <= 1; dx++)
            if ((dx != 0 || dy != 0) && p[dy * v.pitch + dx] != 0) return false;
    return true;
}

bool ComputeShut(const View& v, int cell) {
    const int x0 = (cell % kCellsX) * kCellPx, y0 = (cell / kCellsX) * kCellPx;
    if (x0 < kInteriorLeft || x0 + kCellPx - 1 > kInteriorRight || y0 < kInteriorTop ||
        y0 + kCellPx - 1 > kInteriorBottom)
        return true;
    // The corners tell whether the closing border takes any of the cell, and
    // whether all of it is in sight.
    if (!OpenBorder(v, x0, y0) || !OpenBorder(v, x0 + kCellPx - 1, y0 + kCellPx - 1)) return true;
    if (!v.wholeField && (!v.seen.Holds(x0, y0) || !v.seen.Holds(x0 + kCellPx - 1, y0 + kCellPx - 1))) return true;
    for (int y = y0; y < y0 + kCellPx; y++) {
        uint32_t row;
        std::memcpy(&row, v.pixels + y * v.pitch + x0, sizeof row);
        if (row == 0) continue;
        if (v.itemCount == 0 && !v.loneDotsPassable) return true;
        for (int x = x0; x < x0 + kCellPx; x++) {
            if (OpenPixel(v, x, y)) continue;
            if (!v.loneDotsPassable || !LoneDot(v, x, y)) return true;
        }
    }
    return false;
}

// Whether a cell holds anything a line cannot enter; worked out once per
// thinking step, when first asked.
bool CellShut(const View& v, int cell) {
    if (g_cellSeen[cell] != g_viewSerial) {
        g_cellSeen[cell] = g_viewSerial;
        g_cellShut[cell] = ComputeShut(v, cell) ? 1 : 0;
    }
    return g_cellShut[cell] != 0;
}

// A flood over open pixels from a head pixel (itself taken), up to `cap`
// pixels. Calls seed(cell) for every open cell met within kSeedRadiusPx.
// Returns the pixels reached.
template <class Seed>
int FloodPixels(const View& v, int x, int y, int cap, uint32_t serial, Seed seed) {
    int head = 0, tail = 0;
    const int start = y * kScreenWidth + x;
    g_pixelSeen[start] = serial;
    g_pixelQueue[tail++] = start;
    g_pixelDistance[start] = 0;
    const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
    while (head < tail && tail < cap) {
        const int p = g_pixelQueue[head++];
        const int px = p % kScreenWidth, py = p / kScreenWidth, d = g_pixelDistance[p];
        for (int k = 0; k < 4 && tail < cap; k++) {
            const int nx = px + dx[k], ny = py + dy[k], n = ny * kScreenWidth + nx;
            if (nx < 0 || nx >= kScreenWidth || ny < 0 || ny >= kScreenHeight) continue;
            if (g_pixelSeen[n] == serial || !OpenPixel(v, nx, ny)) continue;
            g_pixelSeen[n] = serial;
            g_pixelDistance[n] = uint8_t(std::min(d + 1, 255));
            g_pixelQueue[tail++] = n;
            if (d + 1 <= kSeedRadiusPx) seed(CellOf(nx, ny));
        }
    }
    return tail - 1;
}

// Breadth first over open cells from the queued seeds; `take(cell, steps,
// owner)` says whether a cell is entered.
template <class Take>
int FloodCells(const View& v, int head, int tail, int cap, Take take) {
    const int delta[4] = {1, -1, kCellsX, -kCellsX};
    while (head < tail && tail < cap) {
        const int c = g_cellQueue[head++];
        for (int k = 0; k < 4 && tail < cap; k++) {
            const int n = c + delta[k];
            if (CellShut(v, n) || !take(n, g_cellSteps[c] + 1, g_cellOwner[c])) continue;
            g_cellSteps[n] = g_cellSteps[c] + 1;
            g_cellOwner[n] = g_cellOwner[c];
            g_cellQueue[tail++] = n;
        }
    }
    return tail;
}

}  // namespace

void PrepareTables() {
    if (g_tablesPrepared) return;
    g_tablesPrepared = true;
    // Zero never matches a serial in use, so it means "not seen" whatever
    // was counted before; writing it makes the pages the process's own.
    std::memset(g_cellSeen, 0, sizeof g_cellSeen);
    std::memset(g_cellShut, 0, sizeof g_cellShut);
    std::memset(g_otherSeen, 0, sizeof g_otherSeen);
    std::memset(g_otherFrames, 0, sizeof g_otherFrames);
    std::memset(g_mine, 0, sizeof g_mine);
    std::memset(g_pixelSeen, 0, sizeof g_pixelSeen);
    std::memset(g_pixelQueue, 0, sizeof g_pixelQueue);
    std::memset(g_pixelDistance, 0, sizeof g_pixelDistance);
    std::memset(g_cellQueue, 0, sizeof g_cellQueue);
    std::memset(g_cellSteps, 0, sizeof g_cellSteps);
    std::memset(g_cellOwner, 0, sizeof g_cellOwner);
}

void MapOtherLines(const View& v, bool near) {
    g_viewSerial = NextSerial();
    const uint32_t serial = g_viewSerial;
    int tail = 0;
    for (int o = 0; near && o < v.otherCount; o++) {
        const OtherLine& line = v.others[o];
        const int waitFrames = line.firstStepFrame - v.nowFrame;
        FloodPixels(v, line.pixelX, line.pixelY, kSeedFloodPx, NextSerial(), [&](int cell) {
            if (CellShut(v, cell) || (g_otherSeen[cell] == serial && g_otherFrames[cell] <= waitFrames)) return;
            g_otherSeen[cell] = serial;
            g_otherFrames[cell] = waitFrames;
            g_cellSteps[cell] = 0;
            g_cellOwner[cell] = uint8_t(o);
            g_cellQueue[tail++] = cell;
        });
    }
    FloodCells(v, 0, tail, kOtherCellsCap, [&](int cell, int steps, int owner) {
        if (g_otherSeen[cell] == serial) return false;
        const OtherLine& line = v.others[owner];
        g_otherSeen[cell] = serial;
        g_otherFrames[cell] = line.firstStepFrame - v.nowFrame + steps * kCellPx * line.periodFrames;
        return true;
    });
}

int CountNearPixels(const View& v, const PathResult& path) {
    const uint32_t serial = NextSerial();
    for (int k = 0; k < path.pathLength; k++)
        g_pixelSeen[(path.path[k] / v.pitch) * kScreenWidth + path.path[k] % v.pitch] = serial;
    return FloodPixels(v, path.end.lastX, path.end.lastY, kNearFloodPx + 1, serial, [](int) {});
}

Territory CountTerritory(const View& v, const PathResult& path) {
    const uint32_t serial = NextSerial();
    for (int k = 0; k < path.pathLength; k++) {
        const int x = path.path[k] % v.pitch, y = path.path[k] / v.pitch;
        g_pixelSeen[y * kScreenWidth + x] = serial;
        g_mine[CellOf(x, y)] = serial;
    }
    const int endFrames = path.end.frame - v.nowFrame;
    auto mine = [&](int cell, int steps) {
        if (g_mine[cell] == serial) return false;
        const int frames = endFrames + steps * kCellPx * v.periodFrames;
        return g_otherSeen[cell] != g_viewSerial || frames < g_otherFrames[cell];
    };
    int tail = 0;
    Territory t{};
    t.nearPixels = FloodPixels(v, path.end.lastX, path.end.lastY, kNearFloodPx + 1, serial, [&](int cell) {
        if (CellShut(v, cell) || !mine(cell, 0)) return;
        g_mine[cell] = serial;
        g_cellSteps[cell] = 0;
        g_cellOwner[cell] = 0;
        g_cellQueue[tail++] = cell;
    });
    t.cells = FloodCells(v, 0, tail, kMyCellsCap, [&](int cell, int steps, int) {
        if (!mine(cell, steps)) return false;
        g_mine[cell] = serial;
        return true;
    });
    if (t.cells >= kMyCellsCap) t.capDistanceCells = g_cellSteps[g_cellQueue[t.cells - 1]];
    return t;
}

}  // namespace planner
