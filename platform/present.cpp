// Presentation: showing the game's 8-bit picture in the window.
//
// There are two ways to the screen, chosen when the window is made:
// - the renderer: the picture, converted through the palette, goes into a
//   streaming texture that the GPU scales to the window by whole pixels,
//   letterboxed, nearest neighbour;
// - the window surface: the same conversion and whole-pixel scaling done in
//   one pass straight into the window's own pixels, which the window system
//   copies out. Without a GPU this is the cheap way: a GL stack that
//   rasterises in software does the same copy several times over, and takes
//   a third of a second just to start.
// The renderer is used only where a GPU device exists and its driver does not
// rasterise in software; NUVEL_PRESENT=renderer or =surface overrides that.
//
// A picture that is the same as the one on screen (same pixels, same palette)
// is not presented again. The window system keeps the window's content, so
// nothing is lost; when it says it lost it (exposed, resized, toggled to or
// from full screen), the next picture is presented whatever it holds.
#include <SDL.h>
#include <glob.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/platform_internal.h"

namespace plat {

namespace {

enum PresentPath { PATH_NONE, PATH_RENDERER, PATH_SURFACE };

struct Presenter {
    SDL_Window* window = nullptr;
    PresentPath path = PATH_NONE;
    int width = 0;
    int height = 0;
    // the renderer
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    uint32_t* rgb = nullptr;  // the palette-converted picture
    // the window surface
    SDL_Surface* surface = nullptr;  // as last drawn into; null: clear it first
    uint32_t* line = nullptr;        // one scaled row
    int lineCapacity = 0;
    // what is on screen
    uint8_t* shown = nullptr;
    uint32_t shownPalette[256];
    bool shownValid = false;
    PresentCounts counts;
    uint64_t lastPresentNs = 0;
    FILE* log = nullptr;
};
Presenter p;

// ---- choosing the path ------------------------------------------------------------

bool GpuDeviceExists() {
    glob_t found;
    bool any = glob("/dev/dri/renderD*", 0, nullptr, &found) == 0 && found.gl_pathc > 0;
    globfree(&found);
    return any;
}

bool RasterisesInSoftware(SDL_Renderer* renderer) {
    SDL_RendererInfo info;
    if (SDL_GetRendererInfo(renderer, &info) != 0 || (info.flags & SDL_RENDERER_SOFTWARE)) return true;
    if (strncmp(info.name, "opengl", 6) != 0) return false;
    using GetString = const unsigned char* (*)(unsigned);
    auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    constexpr unsigned kGlRenderer = 0x1F01;
    const char* name = getString ? reinterpret_cast<const char*>(getString(kGlRenderer)) : nullptr;
    return name &&
           (strstr(name, "llvmpipe") || strstr(name, "softpipe") || strstr(name, "swrast") || strstr(name, "Software"));
}

// The path NUVEL_PRESENT names, or else the one this machine suits; `forced`
// says which, since a named renderer is kept even when it draws in software.
PresentPath PreferredPath(bool* forced) {
    const char* named = getenv("NUVEL_PRESENT");
    *forced = true;
    if (named && strcmp(named, "renderer") == 0) return PATH_RENDERER;
    if (named && strcmp(named, "surface") == 0) return PATH_SURFACE;
    *forced = false;
    return HasDisplay() && GpuDeviceExists() ? PATH_RENDERER : PATH_SURFACE;
}

bool CreateRenderer(Uint32 flags) {
    p.renderer = SDL_CreateRenderer(p.window, -1, flags);
    if (!p.renderer) return false;
    SDL_RenderSetLogicalSize(p.renderer, p.width, p.height);
    SDL_RenderSetIntegerScale(p.renderer, SDL_TRUE);
    p.texture = SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, p.width, p.height);
    p.rgb = static_cast<uint32_t*>(SDL_calloc(size_t(p.width) * size_t(p.height), sizeof(uint32_t)));
    if (p.texture && p.rgb) {
        p.path = PATH_RENDERER;
        return true;
    }
    DestroyPresenter();
    return false;
}

bool UseWindowSurface() {
    // Without this SDL would back the window surface with a renderer of its
    // own where a GL stack exists, software or not.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_Surface* s = SDL_GetWindowSurface(p.window);
    if (!s || s->format->BytesPerPixel != 4) return false;
    p.path = PATH_SURFACE;
    p.surface = nullptr;
    return true;
}

// ---- drawing ------------------------------------------------------------------------

void PresentThroughRenderer(const uint8_t* pixels, int pitch, const uint32_t* palette) {
    for (int y = 0; y < p.height; y++) {
        const uint8_t* src = pixels + size_t(y) * size_t(pitch);
        uint32_t* dst = p.rgb + size_t(y) * size_t(p.width);
        for (int x = 0; x < p.width; x++) dst[x] = palette[src[x]] | 0xFF000000u;
    }
    SDL_UpdateTexture(p.texture, nullptr, p.rgb, p.width * int(sizeof(uint32_t)));
    SDL_SetRenderDrawColor(p.renderer, 0, 0, 0, 255);
    SDL_RenderClear(p.renderer);
    SDL_RenderCopy(p.renderer, p.texture, nullptr, nullptr);
    SDL_RenderPresent(p.renderer);
}

// Where the picture lands in a window surface: the largest whole-pixel scale
// that fits (at least 1), centred; parts outside a too-small window are cut.
struct Placement {
    int scale, left, top;
};

Placement PlaceIn(const SDL_Surface* s) {
    int scale = std::min(s->w / p.width, s->h / p.height);
    if (scale < 1) scale = 1;
    return Placement{scale, (s->w - p.width * scale) / 2, (s->h - p.height * scale) / 2};
}

bool GrowLine(int pixels) {
    if (pixels <= p.lineCapacity) return true;
    void* grown = SDL_realloc(p.line, size_t(pixels) * sizeof(uint32_t));
    if (!grown) return false;
    p.line = static_cast<uint32_t*>(grown);
    p.lineCapacity = pixels;
    return true;
}

void PresentToSurface(const uint8_t* pixels, int pitch, const uint32_t* palette) {
    SDL_Surface* s = SDL_GetWindowSurface(p.window);
    if (!s || s->format->BytesPerPixel != 4) return;
    Placement at = PlaceIn(s);
    int outWidth = p.width * at.scale;
    if (!GrowLine(outWidth)) return;
    bool fresh = s != p.surface;
    if (SDL_MUSTLOCK(s) && SDL_LockSurface(s) != 0) return;
    if (fresh) SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));

    uint32_t colour[256];
    for (int i = 0; i < 256; i++)
        colour[i] = SDL_MapRGB(s->format, uint8_t(palette[i] >> 16), uint8_t(palette[i] >> 8), uint8_t(palette[i]));
    int x0 = std::max(at.left, 0), x1 = std::min(at.left + outWidth, s->w);
    for (int y = 0; y < p.height; y++) {
        const uint8_t* src = pixels + size_t(y) * size_t(pitch);
        uint32_t* out = p.line;
        for (int x = 0; x < p.width; x++)
            for (int k = 0; k < at.scale; k++) *out++ = colour[src[x]];
        for (int k = 0; k < at.scale; k++) {
            int row = at.top + y * at.scale + k;
            if (row < 0 || row >= s->h || x1 <= x0) continue;
            auto* dst = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(s->pixels) + size_t(row) * size_t(s->pitch));
            memcpy(dst + x0, p.line + (x0 - at.left), size_t(x1 - x0) * sizeof(uint32_t));
        }
    }
    if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);

    if (fresh) {
        SDL_UpdateWindowSurface(p.window);
        p.surface = s;
        return;
    }
    int y0 = std::max(at.top, 0), y1 = std::min(at.top + p.height * at.scale, s->h);
    SDL_Rect changed{x0, y0, x1 - x0, y1 - y0};
    SDL_UpdateWindowSurfaceRects(p.window, &changed, 1);
}

// ---- what is on screen ----------------------------------------------------------------

// Compares the picture with the one last shown and keeps it; true when they
// are the same.
bool SameAsShown(const uint8_t* pixels, int pitch, const uint32_t* palette) {
    bool same = memcmp(p.shownPalette, palette, sizeof p.shownPalette) == 0;
    if (!same) memcpy(p.shownPalette, palette, sizeof p.shownPalette);
    for (int y = 0; y < p.height; y++) {
        const uint8_t* src = pixels + size_t(y) * size_t(pitch);
        uint8_t* kept = p.shown + size_t(y) * size_t(p.width);
        if (memcmp(kept, src, size_t(p.width)) == 0) continue;
        memcpy(kept, src, size_t(p.width));
        same = false;
    }
    return same;
}

// Diagnostics: with NUVEL_PRESENT_LOG naming a file, one line per present,
// "<monotonic ns> <1 when the picture repeats the one on screen>"; the file
// with ".first" added gets the time the window first showed a picture.
void OpenLog() {
    const char* name = getenv("NUVEL_PRESENT_LOG");
    if (!name || !*name || p.log) return;
    p.log = fopen(name, "w");
    char first[4096];
    snprintf(first, sizeof first, "%s.first", name);
    if (FILE* f = fopen(first, "w")) {
        fprintf(f, "%llu\n", (unsigned long long)MonotonicNs());
        fclose(f);
    }
}

void LogPresent(bool repeat) {
    if (!p.log) return;
    fprintf(p.log, "%llu %d\n", (unsigned long long)MonotonicNs(), repeat ? 1 : 0);
    fflush(p.log);
}

}  // namespace

bool CreatePresenter(SDL_Window* window, int width, int height) {
    DestroyPresenter();
    p.window = window;
    p.width = width;
    p.height = height;
    p.shown = static_cast<uint8_t*>(SDL_calloc(size_t(width) * size_t(height), 1));
    if (!p.shown) return false;
    p.shownValid = false;
    bool made = false;
    bool forced = false;
    if (PreferredPath(&forced) == PATH_RENDERER && CreateRenderer(SDL_RENDERER_ACCELERATED)) {
        made = forced || !RasterisesInSoftware(p.renderer);
        if (!made) DestroyPresenterObjects();
    }
    if (!made) made = UseWindowSurface();
    // A video driver without a window surface of its own (Wayland) still
    // has a renderer, in software if need be.
    if (!made) made = CreateRenderer(SDL_RENDERER_ACCELERATED) || CreateRenderer(SDL_RENDERER_SOFTWARE);
    if (!made) return false;

    // The first picture: a black window.
    if (p.path == PATH_RENDERER) {
        SDL_SetRenderDrawColor(p.renderer, 0, 0, 0, 255);
        SDL_RenderClear(p.renderer);
        SDL_RenderPresent(p.renderer);
    } else {
        SDL_Surface* s = SDL_GetWindowSurface(p.window);
        SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));
        SDL_UpdateWindowSurface(p.window);
        p.surface = s;
    }
    OpenLog();
    return true;
}

void DestroyPresenterObjects() {
    if (p.texture) SDL_DestroyTexture(p.texture);
    if (p.renderer) SDL_DestroyRenderer(p.renderer);
    SDL_free(p.rgb);
    SDL_free(p.line);
    p.texture = nullptr;
    p.renderer = nullptr;
    p.rgb = nullptr;
    p.line = nullptr;
    p.lineCapacity = 0;
    p.surface = nullptr;
    p.path = PATH_NONE;
}

void DestroyPresenter() {
    DestroyPresenterObjects();
    SDL_free(p.shown);
    p.shown = nullptr;
    p.shownValid = false;
    p.window = nullptr;
}

void InvalidateShownPicture() {
    p.shownValid = false;
    p.surface = nullptr;
}

void Present(const uint8_t* pixels, int width, int height, int pitch, const uint32_t* palette) {
    if (p.path == PATH_NONE || width != p.width || height != p.height) return;
    bool same = SameAsShown(pixels, pitch, palette);
    if (same && p.shownValid) {
        p.counts.skipped++;
        return;
    }
    p.shownValid = true;
    uint64_t start = MonotonicNs();
    if (p.path == PATH_RENDERER)
        PresentThroughRenderer(pixels, pitch, palette);
    else
        PresentToSurface(pixels, pitch, palette);
    p.lastPresentNs = MonotonicNs() - start;
    p.counts.presented++;
    LogPresent(same);
}

uint64_t LastPresentNs() { return p.lastPresentNs; }

PresentCounts GetPresentCounts() { return p.counts; }

const char* PresentPathName() {
    switch (p.path) {
    case PATH_RENDERER:
        return "renderer";
    case PATH_SURFACE:
        return "surface";
    default:
        return "none";
    }
}

uint32_t ShownPixel(int x, int y) {
    if (p.path != PATH_SURFACE) return kNoPixel;
    SDL_Surface* s = SDL_GetWindowSurface(p.window);
    if (!s || x < 0 || y < 0 || x >= s->w || y >= s->h) return kNoPixel;
    uint32_t raw =
        reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(s->pixels) + size_t(y) * size_t(s->pitch))[x];
    uint8_t r, g, b;
    SDL_GetRGB(raw, s->format, &r, &g, &b);
    return uint32_t(r) << 16 | uint32_t(g) << 8 | b;
}

}  // namespace plat
