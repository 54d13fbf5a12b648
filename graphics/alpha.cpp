// Alpha tables and the menu highlight bar.
//
// On an 8-bit screen a pixel is lightened by looking up the palette index of
// the colour nearest to its own colour plus a fixed amount of red, green and
// blue. Index 255 is reserved for outlines, so no table ever yields it.
#include <algorithm>

#include "core/app.h"
#include "core/gamedata.h"
#include "graphics/directdraw.h"

namespace {
constexpr int kBarHeight = 24;
constexpr int kEndWidth = 12;
}  // namespace

void CApp::SetAlphaTable(uint8_t** slot, uint8_t red, uint8_t green, uint8_t blue) {
    Free(*slot);
    *slot = static_cast<uint8_t*>(Alloc(256, "CApp::SetAlphaTable"));
    const PaletteEntry* palette = theDirectDraw.MasterPalette();
    for (int i = 0; i < 256; i++) {
        uint8_t index = theDirectDraw.NearestIndex(uint8_t(std::min(palette[i].red + red, 255)),
                                                   uint8_t(std::min(palette[i].green + green, 255)),
                                                   uint8_t(std::min(palette[i].blue + blue, 255)));
        (*slot)[i] = index == 255 ? 239 : index;
    }
}

// Lightens a 24-pixel-high band of the back buffer with the tint table; the
// cursor picture's non-zero pixels give the band its rounded ends.
void CApp::DrawHighlightBar(int x, int y, int width) {
    width = std::clamp(width, 2 * kEndWidth, kScreenWidth);
    if (!tintTable) return;
    theDirectDraw.Draw(workSurface, 0, 0, width, kBarHeight, kBackBuffer, x, y, false, 0);
    SurfaceDesc work = theDirectDraw.Lock(workSurface);
    SurfaceDesc cursor = theDirectDraw.Lock(cursorSurface);
    if (work.pixels && cursor.pixels && cursor.width >= 2 * kEndWidth && cursor.height >= kBarHeight) {
        for (int row = 0; row < kBarHeight; row++) {
            uint8_t* line = work.pixels + row * work.pitch;
            const uint8_t* shape = cursor.pixels + row * cursor.pitch;
            for (int col = 0; col < kEndWidth; col++) {
                if (shape[col]) line[col] = tintTable[line[col]];
                if (shape[kEndWidth + col]) line[width - kEndWidth + col] = tintTable[line[width - kEndWidth + col]];
            }
            for (int col = kEndWidth; col < width - kEndWidth; col++) line[col] = tintTable[line[col]];
        }
    }
    theDirectDraw.Unlock(cursorSurface);
    theDirectDraw.Unlock(workSurface);
    theDirectDraw.Draw(kBackBuffer, x, y, width, kBarHeight, workSurface, 0, 0, false, 0);
}
