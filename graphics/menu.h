// Small pieces every menu screen shares: the highlight bar under a centred
// entry and ending a 33 ms menu frame. (Taking a key is TakeKey in app.h.)
#pragma once
#include <cstdint>
#include <cstdio>

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

// A label left of a centred line, one blank apart (a seat's kind beside
// its row): how many characters fit there, and the drawing, cut to fit.
inline int RoomLeftOf(const char* line) {
    const int lineLeft = (kScreenWidth - CApp::TextWidth(line)) / 2;
    return lineLeft > 16 ? (lineLeft - 16) / 16 : 0;
}
inline void DrawLeftOf(const char* line, int y, const char* label, uint8_t colour) {
    char cut[kScreenWidth / 16 + 1];
    std::snprintf(cut, sizeof cut, "%.*s", RoomLeftOf(line), label);
    const int lineLeft = (kScreenWidth - CApp::TextWidth(line)) / 2;
    theApp.DrawText(kBackBuffer, lineLeft - 16 - CApp::TextWidth(cut), y, cut, colour, false, 0);
}

// Shows the finished back buffer and waits out the rest of the frame.
inline void EndFrame() {
    theDirectDraw.Flip();
    theApp.WaitFrame(kFrameMs);
}

}  // namespace menu
