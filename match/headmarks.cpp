// Head marks on the picture shown. A mark is the four corners of a square
// round the head pixel, each two short arms, in the player's trail colour:
// unlike a trail or a ring it has gaps, so it reads as a marker, and the
// head pixel itself stays as the field has it.
//
// Start arrows, during the countdown, frame each line's start with larger
// corners and point along its heading, in the player's trail colour (the
// colour of the number and panel they know as theirs): a player sees where
// their line will go before it moves.
#include "match/headmarks.h"

#include "core/gamedata.h"
#include "match/round.h"

namespace {

constexpr int kMarkReachPx = 5;  // the corners lie this far from the head pixel
constexpr int kMarkArmPx = 3;    // pixels along each arm, the corner included
// Start arrows: the corners frame the player number the countdown draws
// over the start (16x16 round it); the shaft leaves from the frame.
constexpr int kStartReachPx = 10;
constexpr int kArrowFirstPx = 11;
constexpr int kArrowLastPx = 34;
constexpr int kArrowHeadPx = 7;
constexpr int kArrowHeadDegrees = 150;  // each stroke of the head, from the heading

// Where marks may go, both ends included.
struct Area {
    int left, top, right, bottom;
};

void Put(uint8_t* pixels, int pitch, const Area& area, int x, int y, uint8_t colour) {
    if (x < area.left || x > area.right || y < area.top || y > area.bottom) return;
    pixels[y * pitch + x] = colour;
}

void DrawCorners(uint8_t* pixels, int pitch, const Area& area, int cx, int cy, int reach, uint8_t colour) {
    for (int sx = -1; sx <= 1; sx += 2)
        for (int sy = -1; sy <= 1; sy += 2) {
            int x = cx + sx * reach, y = cy + sy * reach;
            for (int k = 0; k < kMarkArmPx; k++) {
                Put(pixels, pitch, area, x - sx * k, y, colour);
                Put(pixels, pitch, area, x, y - sy * k, colour);
            }
        }
}

// The pixels from `from` to `to` along a heading, from a head pixel.
void DrawRay(uint8_t* pixels, int pitch, const Area& area, float x, float y, int heading, int from, int to,
             uint8_t colour) {
    const int h = ((heading % 360) + 360) % 360;
    for (int d = from; d <= to; d++)
        Put(pixels, pitch, area, CApp::FloatToInt(x + float(d) * theApp.cosTable[h]),
            CApp::FloatToInt(y + float(d) * theApp.negSinTable[h]), colour);
}

void DrawArrow(uint8_t* pixels, int pitch, const Area& area, int cx, int cy, int heading, uint8_t colour) {
    DrawCorners(pixels, pitch, area, cx, cy, kStartReachPx, colour);
    const float x = float(cx) + 0.5f, y = float(cy) + 0.5f;
    DrawRay(pixels, pitch, area, x, y, heading, kArrowFirstPx, kArrowLastPx, colour);
    const int h = ((heading % 360) + 360) % 360;
    const float tipX = x + float(kArrowLastPx) * theApp.cosTable[h];
    const float tipY = y + float(kArrowLastPx) * theApp.negSinTable[h];
    for (int side = -1; side <= 1; side += 2)
        DrawRay(pixels, pitch, area, tipX, tipY, heading + side * kArrowHeadDegrees, 1, kArrowHeadPx, colour);
}

// Calls draw(area, x, y, i) for every live head where the picture shows it:
// in normal play at its place within the play area, so that the status
// line and panels stay clean; in scroll play in every view that shows it (a
// view shows the 80x80 square of the field round its own head, as
// CRound::DrawScrollViews copies it).
template <class Draw>
void ForEachHeadShown(int width, int height, Draw draw) {
    const CRound& r = theRound;
    if (width < kScreenWidth || height < kScreenHeight) return;
    if (!r.state.scrollPlay) {
        const Area interior{kInteriorLeft, kInteriorTop, kInteriorRight, kInteriorBottom};
        for (int i = 0; i < kPlayers; i++) {
            const PlayerSlot& slot = r.players[i];
            if (slot.alive) draw(interior, CApp::FloatToInt(slot.x), CApp::FloatToInt(slot.y), i);
        }
        return;
    }
    const int half = kScrollViewSize / 2;
    for (int v = 0; v < kPlayers; v++) {
        const PlayerSlot& owner = r.players[v];
        if (EffectivePlayerType(owner.type) == PLAYER_NON) continue;
        int viewX, viewY;
        CRound::ScrollViewAt(v, &viewX, &viewY);
        const Area view{viewX, viewY, viewX + kScrollViewSize - 1, viewY + kScrollViewSize - 1};
        const int shiftX = viewX - (CApp::FloatToInt(owner.x) - half);
        const int shiftY = viewY - (CApp::FloatToInt(owner.y) - half);
        for (int i = 0; i < kPlayers; i++) {
            const PlayerSlot& slot = r.players[i];
            if (slot.alive) draw(view, CApp::FloatToInt(slot.x) + shiftX, CApp::FloatToInt(slot.y) + shiftY, i);
        }
    }
}

}  // namespace

void DrawHeadMarks(uint8_t* pixels, int pitch, int width, int height) {
    ForEachHeadShown(width, height, [&](const Area& area, int x, int y, int i) {
        DrawCorners(pixels, pitch, area, x, y, kMarkReachPx, uint8_t(PlayerTrailIndex(i)));
    });
}

namespace {
// The overlay the start arrows are drawn over, while their scope lives.
PresentOverlay g_underArrows = nullptr;
}  // namespace

void DrawStartArrows(uint8_t* pixels, int pitch, int width, int height) {
    if (g_underArrows) g_underArrows(pixels, pitch, width, height);
    ForEachHeadShown(width, height, [&](const Area& area, int x, int y, int i) {
        DrawArrow(pixels, pitch, area, x, y, theRound.players[i].heading, uint8_t(PlayerTrailIndex(i)));
    });
}

CHeadMarkScope::CHeadMarkScope(bool show)
    : m_before(theDirectDraw.SetPresentOverlay(show && theRound.headMarker ? DrawHeadMarks : nullptr)) {}

CHeadMarkScope::~CHeadMarkScope() { theDirectDraw.SetPresentOverlay(m_before); }

CStartArrowScope::CStartArrowScope() : m_before(theDirectDraw.SetPresentOverlay(DrawStartArrows)) {
    g_underArrows = m_before == DrawStartArrows ? nullptr : m_before;
}

CStartArrowScope::~CStartArrowScope() {
    theDirectDraw.SetPresentOverlay(m_before);
    g_underArrows = nullptr;
}
