// Helpers every item effect uses: colours and the clip of the shapes, the
// head pixel, writing into the playfield in either view mode, the panel.
#include "items/effectsupport.h"

#include "core/gamedata.h"
#include "match/round.h"

namespace itemfx {

uint32_t EmptyColorRef() { return theDirectDraw.PaletteColor(kEmptyIndex); }

uint32_t PlayerColorRef(int player) { return theDirectDraw.PaletteColor(PlayerTrailIndex(player)); }

ClipRect PlayClip() { return kPlayClip; }

int HeadX(int player) { return CApp::FloatToInt(theRound.players[player].x); }

int HeadY(int player) { return CApp::FloatToInt(theRound.players[player].y); }

SurfaceId BeginFieldEdit() {
    if (theRound.state.scrollPlay) return theRound.local.fieldSurface;
    theDirectDraw.CopyScreen(kBackBuffer, kVisibleSurface);
    return 1;
}

void EndFieldEdit() {
    if (!theRound.state.scrollPlay) theDirectDraw.Flip();
}

void RedrawPanel(int player) {
    theRound.ClearPanel(player);
    theRound.DrawPanel(kVisibleSurface, player);
}

}  // namespace itemfx
