// F6 screenshots: the visible picture as the next free "shot_%03d.png".
#include <cstdio>

#include "core/app.h"
#include "core/gamedata.h"
#include "graphics/dibsection.h"
#include "graphics/directdraw.h"

void CApp::Screenshot() {
    char name[32];
    for (int n = 0;; n++) {
        snprintf(name, sizeof name, "shot_%03d.png", n);
        if (!plat::FileExists(name)) break;
        PumpMessages();
    }

    CDibSection dib;
    dib.Create(kScreenWidth, kScreenHeight, 8);
    RgbQuad colors[256];
    // The colours as the display shows them now, so a shot taken during a fade
    // looks like the screen did.
    const uint32_t* palette = theDirectDraw.DisplayPalette();
    for (int i = 0; i < 256; i++)
        colors[i] = RgbQuad{uint8_t(palette[i]), uint8_t(palette[i] >> 8), uint8_t(palette[i] >> 16), 0};
    dib.SetColorTable(0, 256, colors);

    const SurfaceDesc& desc = theDirectDraw.Lock(kVisibleSurface);
    if (desc.pixels) {
        for (int y = 0; y < kScreenHeight && y < desc.height; y++)
            for (int x = 0; x < kScreenWidth && x < desc.width; x++)
                *dib.PixelAddress(x, y) = desc.pixels[y * desc.pitch + x];
    }
    theDirectDraw.Unlock(kVisibleSurface);
    dib.SavePng(name);
}
