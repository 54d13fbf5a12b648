// Presentation on the page's canvas: the 8-bit picture through its palette
// into RGBA, handed to the canvas whole. The canvas is the picture's size;
// the page scales it (web_lay_out). A picture that is the same as the one on
// screen is not handed over again.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform_internal.h"
#include "platform/web/web.h"

namespace plat {

namespace {

struct Presenter {
    bool open = false;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> shown;  // the 8-bit picture on screen
    uint32_t shownPalette[256] = {};
    bool shownValid = false;
    std::vector<uint32_t> rgba;  // what the canvas holds, in its byte order
    PresentCounts counts;
    uint64_t lastPresentNs = 0;
};
Presenter p;

// Compares the picture and palette with those on screen and keeps them; true
// when neither changed.
bool SameAsShown(const uint8_t* pixels, int pitch, const uint32_t* palette) {
    bool same = memcmp(p.shownPalette, palette, sizeof p.shownPalette) == 0;
    if (!same) memcpy(p.shownPalette, palette, sizeof p.shownPalette);
    for (int y = 0; y < p.height; y++) {
        const uint8_t* src = pixels + size_t(y) * size_t(pitch);
        uint8_t* kept = p.shown.data() + size_t(y) * size_t(p.width);
        if (memcmp(kept, src, size_t(p.width)) == 0) continue;
        memcpy(kept, src, size_t(p.width));
        same = false;
    }
    return same;
}

// The canvas wants R, G, B, A in memory order: on a little-endian machine
// that is 0xAABBGGRR.
void Convert(const uint8_t* pixels, int pitch, const uint32_t* palette) {
    uint32_t colour[256];
    for (int i = 0; i < 256; i++) {
        uint32_t c = palette[i];
        colour[i] = 0xFF000000u | (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu);
    }
    for (int y = 0; y < p.height; y++) {
        const uint8_t* src = pixels + size_t(y) * size_t(pitch);
        uint32_t* out = p.rgba.data() + size_t(y) * size_t(p.width);
        for (int x = 0; x < p.width; x++) out[x] = colour[src[x]];
    }
}

}  // namespace

void PresenterOpen(int width, int height) {
    p.open = true;
    p.width = width;
    p.height = height;
    p.shown.assign(size_t(width) * size_t(height), 0);
    p.rgba.assign(size_t(width) * size_t(height), 0xFF000000u);
    p.shownValid = false;
    web_show_picture(reinterpret_cast<const uint8_t*>(p.rgba.data()), width, height);  // black
}

void PresenterClose() {
    p.open = false;
    p.shownValid = false;
}

void InvalidateShownPicture() { p.shownValid = false; }

void Present(const uint8_t* pixels, int width, int height, int pitch, const uint32_t* palette) {
    if (!p.open || width != p.width || height != p.height) return;
    bool same = SameAsShown(pixels, pitch, palette);
    if (same && p.shownValid) {
        p.counts.skipped++;
        return;
    }
    p.shownValid = true;
    uint64_t start = MonotonicNs();
    Convert(pixels, pitch, palette);
    web_show_picture(reinterpret_cast<const uint8_t*>(p.rgba.data()), width, height);
    p.lastPresentNs = MonotonicNs() - start;
    p.counts.presented++;
}

uint64_t LastPresentNs() { return p.lastPresentNs; }

PresentCounts GetPresentCounts() { return p.counts; }

const char* PresentPathName() { return p.open ? "canvas" : "none"; }

uint32_t ShownPixel(int x, int y) {
    if (!p.open || x < 0 || y < 0 || x >= p.width || y >= p.height) return kNoPixel;
    uint32_t c = p.rgba[size_t(y) * size_t(p.width) + size_t(x)];
    return (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu);
}

}  // namespace plat
