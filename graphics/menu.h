// Small pieces every menu screen shares: the highlight bar under a centred
// entry and ending a 33 ms menu frame. (Taking a key is TakeKey in app.h.)
#pragma once
#include <cstdint>

#include "core/app.h"
#include "core/gamedata.h"
#include "graphics/directdraw.h"

namespace menu {

constexpr uint32_t kFrameMs = 33;

// Marks a centred entry with the highlight bar: 32 pixels wider than the
// text on each side, its top at barY (4 pixels above the text line).
inline void HighlightEntry(const char* text, int barY) {
    int width = CApp::TextWidth(text) + 64;
    theApp.DrawHighlightBar((kScreenWidth - width) / 2, barY, width);
}

// Shows the finished back buffer and waits out the rest of the frame.
inline void EndFrame() {
    theDirectDraw.Flip();
    theApp.WaitFrame(kFrameMs);
}

}  // namespace menu
