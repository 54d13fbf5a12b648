// F6 screenshots: the visible picture as the next free "shot_%03d.png".
//
// A screenshot is a convenience: one that cannot be kept (a full disk, a
// folder that cannot be written, no place for the game's files at all) is
// reported on standard error and the game goes on. The file is written whole
// or not at all, so a failed attempt leaves nothing behind.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/app.h"
#include "core/gamedata.h"
#include "graphics/dibsection.h"
#include "graphics/directdraw.h"

void CApp::Screenshot() {
    if (!plat::CanWriteGameFiles()) {
        std::fprintf(stderr, "Tarnwick: no screenshot taken: there is no folder to keep it in.\n");
        return;
    }
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
    PngWriteResult result = dib.WritePng(name);
    if (result == PNG_NOT_WRITTEN)
        std::fprintf(stderr, "Tarnwick: the screenshot %s could not be written (%s).\n", name, std::strerror(errno));
    else if (result == PNG_NOT_ENCODED)
        std::fprintf(stderr, "Tarnwick: the screenshot %s could not be encoded.\n", name);
}
