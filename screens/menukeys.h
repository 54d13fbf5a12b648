// Small pieces every menu screen of this folder shares: taking a key from
// the key table, the highlight bar under a centred entry, and ending a
// 33 ms menu frame.
#pragma once
#include <cstdint>

#include "app/app.h"
#include "graphics/directdraw.h"

namespace menu {

constexpr uint32_t kFrameMs = 33;

// Takes a key from the key table: true when it was down, and marks it up so
// that a held key repeats only with the keyboard's auto-repeat.
inline bool TakeKey(uint32_t vk) {
    if (!theApp.keyState[vk]) return false;
    theApp.keyState[vk] = 0;
    return true;
}

// Marks a centred entry with the highlight bar: 32 pixels wider than the
// text on each side, its top at barY (4 pixels above the text line).
inline void HighlightEntry(const char* text, int barY) {
    int width = CApp::TextWidth(text) + 64;
    theApp.DrawHighlightBar((640 - width) / 2, barY, width);
}

// Shows the finished back buffer and waits out the rest of the frame.
inline void EndFrame() {
    theDirectDraw.Flip();
    theApp.WaitFrame(kFrameMs);
}

}  // namespace menu
