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

// Whether n bytes are equal, eight at a time: the library's comparison goes
// byte by byte here, and a picture that stands still is compared whole.
bool BytesEqual(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        memcpy(&x, a + i, 8);
        memcpy(&y, b + i, 8);
        if (x != y) return false;
    }
    for (; i < n; i++)
        if (a[i] != b[i]) return false;
    return true;
}

// Compares the picture and palette with those on screen and keeps them; true
// when neither changed. A changed picture is kept whole: the copy is one call
// where the rows lie end to end, rather than a call per changed row.
bool SameAsShown(const uint8_t* pixels, int pitch, const uint32_t* palette) {
    const size_t width = size_t(p.width), rowBytes = size_t(pitch);
    bool same = BytesEqual(reinterpret_cast<const uint8_t*>(p.shownPalette), reinterpret_cast<const uint8_t*>(palette),
                           sizeof p.shownPalette);
    if (!same) memcpy(p.shownPalette, palette, sizeof p.shownPalette);
    int y = 0;
    while (y < p.height && BytesEqual(p.shown.data() + size_t(y) * width, pixels + size_t(y) * rowBytes, width)) y++;
    if (y == p.height) return same;
    if (rowBytes == width) {
        memcpy(p.shown.data() + size_t(y) * width, pixels + size_t(y) * width, size_t(p.height - y) * width);
    } else {
        for (; y < p.height; y++) memcpy(p.shown.data() + size_t(y) * width, pixels + size_t(y) * rowBytes, width);
    }
    return false;
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
