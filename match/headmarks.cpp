// Head marks on the picture shown. A mark is the four corners of a square
// round the head pixel, each two short arms, in the player's trail colour:
// unlike a trail or a ring it has gaps, so it reads as a marker, and the
// head pixel itself stays as the field has it.
#include "match/headmarks.h"

#include "core/gamedata.h"
#include "match/round.h"

namespace {

constexpr int kMarkReachPx = 5;  // the corners lie this far from the head pixel
constexpr int kMarkArmPx = 3;    // pixels along each arm, the corner included

// Where marks may go, both ends included.
struct Area {
    int left, top, right, bottom;
};

void Put(uint8_t* pixels, int pitch, const Area& area, int x, int y, uint8_t colour) {
    if (x < area.left || x > area.right || y < area.top || y > area.bottom) return;
    pixels[y * pitch + x] = colour;
}

void DrawMark(uint8_t* pixels, int pitch, const Area& area, int cx, int cy, uint8_t colour) {
    for (int sx = -1; sx <= 1; sx += 2)
        for (int sy = -1; sy <= 1; sy += 2) {
            int x = cx + sx * kMarkReachPx, y = cy + sy * kMarkReachPx;
            for (int k = 0; k < kMarkArmPx; k++) {
                Put(pixels, pitch, area, x - sx * k, y, colour);
                Put(pixels, pitch, area, x, y - sy * k, colour);
            }
        }
}

}  // namespace

void DrawHeadMarks(uint8_t* pixels, int pitch, int width, int height) {
    const CRound& r = theRound;
    if (width < kScreenWidth || height < kScreenHeight) return;
    if (!r.state.scrollPlay) {
        // Within the play area, so that the status line and panels stay clean.
        const Area interior{kInteriorLeft, kInteriorTop, kInteriorRight, kInteriorBottom};
        for (int i = 0; i < kPlayers; i++) {
            const PlayerSlot& slot = r.players[i];
            if (slot.alive)
                DrawMark(pixels, pitch, interior, CApp::FloatToInt(slot.x), CApp::FloatToInt(slot.y),
                         uint8_t(PlayerTrailIndex(i)));
        }
        return;
    }
    // A view shows the 80x80 square of the field round its own head (as
    // CRound::DrawScrollViews copies it); any live head inside is marked.
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
            if (slot.alive)
                DrawMark(pixels, pitch, view, CApp::FloatToInt(slot.x) + shiftX, CApp::FloatToInt(slot.y) + shiftY,
                         uint8_t(PlayerTrailIndex(i)));
        }
    }
}

CHeadMarkScope::CHeadMarkScope(bool show)
    : m_before(theDirectDraw.SetPresentOverlay(show && theRound.headMarker ? DrawHeadMarks : nullptr)) {}

CHeadMarkScope::~CHeadMarkScope() { theDirectDraw.SetPresentOverlay(m_before); }
