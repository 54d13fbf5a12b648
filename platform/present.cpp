// Presentation: showing the game's 8-bit picture in the window.
//
// There are two ways to the screen, chosen when the window is made:
// - the renderer: the picture, converted through the palette, goes into a
//   streaming texture that the GPU scales to the window by whole pixels,
//   letterboxed, nearest neighbour;
// - the window surface: the same conversion and whole-pixel scaling done in
//   one pass straight into the window's own pixels, which the window system
//   copies out.
// Either way, fit scaling (chosen by the player, or by the AUTO rule where
// whole pixels would leave much of the window black; DisplayChoices) fills
// the window at the picture's aspect ratio instead, scaled by area. Without a GPU this is the cheap way: a GL stack
// that
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
    SDL_Texture* sharp = nullptr;  // fit scaling: the picture blown up by whole pixels, then filtered down
    int sharpScale = 0;
    uint32_t* rgb = nullptr;  // the palette-converted picture
    // the window surface
    SDL_Surface* surface = nullptr;  // as last drawn into; null: clear it first
    uint32_t* line = nullptr;        // scaled rows: one, or two for fit scaling
    int lineCapacity = 0;
    // The palette as the window surface's pixel values, 256 entries looked
    // up per pixel; rebuilt only when the palette or the surface changes.
    uint32_t colour[256];
    bool colourValid = false;
    uint8_t scaling = SCALING_WHOLE;  // the choice as last presented; a change redraws the whole window
    bool fitting = false;             // whether the last picture was scaled to fit
    // what is on screen
    uint8_t* shown = nullptr;
    uint8_t* rowChanged = nullptr;  // per picture row: differs from the one shown before
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

// Fit scaling: the largest size of the picture's aspect ratio that the
// window holds, centred. Zero width when it is no larger than whole-pixel
// scaling would make it, which then serves.
struct FitPlacement {
    int width, height, left, top;
};

FitPlacement FitIn(const SDL_Surface* s) {
    int w = s->w, h = int(int64_t(s->w) * p.height / p.width);
    if (h > s->h) {
        h = s->h;
        w = int(int64_t(s->h) * p.width / p.height);
    }
    Placement whole = PlaceIn(s);
    if (w <= p.width * whole.scale || h <= p.height * whole.scale) return FitPlacement{0, 0, 0, 0};
    return FitPlacement{w, h, (s->w - w) / 2, (s->h - h) / 2};
}

bool GrowLine(int pixels) {
    if (pixels <= p.lineCapacity) return true;
    void* grown = SDL_realloc(p.line, size_t(pixels) * sizeof(uint32_t));
    if (!grown) return false;
    p.line = static_cast<uint32_t*>(grown);
    p.lineCapacity = pixels;
    return true;
}

void BuildColourTable(const SDL_PixelFormat* format, const uint32_t* palette) {
    for (int i = 0; i < 256; i++)
        p.colour[i] = SDL_MapRGB(format, uint8_t(palette[i] >> 16), uint8_t(palette[i] >> 8), uint8_t(palette[i]));
    p.colourValid = true;
}

// One picture row through the colour table, each pixel repeated `scale`
// times. Scales 1 and 2 (a window, most full screens) have loops of their
// own. The table is copied to the stack first: the compiler then knows that
// writing the row cannot change it, and the loops come to three or four
// instructions a pixel (a byte load, a table load, one or two stores).
void ConvertRow(const uint8_t* __restrict src, uint32_t* __restrict out, int width, int scale) {
    uint32_t colour[256];
    memcpy(colour, p.colour, sizeof colour);
    if (scale == 1) {
#pragma GCC unroll 8
        for (int x = 0; x < width; x++) out[x] = colour[src[x]];
    } else if (scale == 2) {
#pragma GCC unroll 8
        for (int x = 0; x < width; x++) out[2 * x] = out[2 * x + 1] = colour[src[x]];
    } else {
        for (int x = 0; x < width; x++)
            for (int k = 0; k < scale; k++) *out++ = colour[src[x]];
    }
}

uint32_t* SurfaceRow(SDL_Surface* s, int row) {
    return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(s->pixels) + size_t(row) * size_t(s->pitch));
}

// Whole-pixel scaling. Only the rows that changed since the picture on
// screen are converted (all of them on a fresh surface or a new palette);
// each is converted once, straight into its first window row where the
// window holds the whole width, and copied for its repeats. The letterbox
// bars are drawn once, when the surface is fresh. Returns the changed span
// of window rows.
SDL_Rect DrawWholePixels(SDL_Surface* s, const uint8_t* pixels, int pitch, bool all) {
    Placement at = PlaceIn(s);
    int outWidth = p.width * at.scale;
    int x0 = std::max(at.left, 0), x1 = std::min(at.left + outWidth, s->w);
    bool direct = x0 == at.left && x1 == at.left + outWidth;
    if (x1 <= x0 || (!direct && !GrowLine(outWidth))) return SDL_Rect{0, 0, 0, 0};
    int first = s->h, last = -1;
    for (int y = 0; y < p.height; y++) {
        if (!all && !p.rowChanged[y]) continue;
        int top = at.top + y * at.scale;
        int rows0 = std::max(top, 0), rows1 = std::min(top + at.scale, s->h);
        if (rows1 <= rows0) continue;
        const uint8_t* src = pixels + size_t(y) * size_t(pitch);
        uint32_t* converted = direct ? SurfaceRow(s, rows0) + x0 : p.line;
        ConvertRow(src, converted, p.width, at.scale);
        const uint32_t* from = direct ? converted : p.line + (x0 - at.left);
        for (int row = rows0; row < rows1; row++) {
            uint32_t* to = SurfaceRow(s, row) + x0;
            if (to != from) memcpy(to, from, size_t(x1 - x0) * sizeof(uint32_t));
        }
        first = std::min(first, rows0);
        last = std::max(last, rows1 - 1);
    }
    if (last < first) return SDL_Rect{0, 0, 0, 0};
    return SDL_Rect{x0, first, x1 - x0, last - first + 1};
}

// Fit scaling of whole pictures by area: an output pixel takes the colours
// of the picture pixels it covers, in proportion to how much of it each
// covers. The picture is enlarged (by less than a whole pixel's worth per
// step), so an output pixel covers one or two picture pixels per axis: most
// are one picture pixel's colour exactly, and only where two picture pixels
// meet is one output pixel a mix of both. Lines keep one weight wherever
// they lie, edges stay sharp.
//
// Per output column or row: the picture column or row it starts in and the
// weight (0..256) of the next one.
struct Tap {
    uint16_t index;
    uint16_t weight;
};

void MakeTaps(Tap* taps, int outSize, int inSize) {
    for (int i = 0; i < outSize; i++) {
        int64_t start = int64_t(i) * inSize, end = start + inSize;  // in 1/outSize picture pixels
        int first = int(start / outSize);
        int64_t boundary = int64_t(first + 1) * outSize;
        int weight = end > boundary && first + 1 < inSize ? int((end - boundary) * 256 / inSize) : 0;
        taps[i] = Tap{uint16_t(first), uint16_t(weight)};
    }
}

// Mixes two 32-bit pixels of any byte-per-channel format: weight 0..256 of b.
inline uint32_t Mix(uint32_t a, uint32_t b, uint32_t weight) {
    uint32_t keep = 256 - weight;
    uint32_t evens = (((a & 0x00FF00FFu) * keep + (b & 0x00FF00FFu) * weight) >> 8) & 0x00FF00FFu;
    uint32_t odds = (((a >> 8) & 0x00FF00FFu) * keep + ((b >> 8) & 0x00FF00FFu) * weight) & 0xFF00FF00u;
    return evens | odds;
}

void ScaleRowByArea(const uint8_t* __restrict src, uint32_t* __restrict out, const Tap* __restrict taps,
                    const uint32_t* __restrict colour, int outWidth) {
    for (int x = 0; x < outWidth; x++) {
        Tap t = taps[x];
        uint32_t c = colour[src[t.index]];
        out[x] = t.weight ? Mix(c, colour[src[t.index + 1]], t.weight) : c;
    }
}

void MixRows(uint32_t* __restrict to, const uint32_t* __restrict a, const uint32_t* __restrict b, uint32_t weight,
             int width) {
    for (int x = 0; x < width; x++) to[x] = a[x] == b[x] ? a[x] : Mix(a[x], b[x], weight);
}

SDL_Rect DrawFitted(SDL_Surface* s, const uint8_t* pixels, int pitch, const FitPlacement& at) {
    static Tap columns[8192], rows[8192];
    if (at.width > 8192 || at.height > 8192 || !GrowLine(2 * at.width)) return SDL_Rect{0, 0, 0, 0};
    MakeTaps(columns, at.width, p.width);
    MakeTaps(rows, at.height, p.height);
    uint32_t colour[256];  // on the stack: writing rows cannot change it (see ConvertRow)
    memcpy(colour, p.colour, sizeof colour);
    // Two scaled picture rows at a time: the one an output row starts in
    // and the next.
    uint32_t* scaled[2] = {p.line, p.line + at.width};
    int have[2] = {-1, -1};
    auto scaledRow = [&](int y) -> const uint32_t* {
        for (int k = 0; k < 2; k++)
            if (have[k] == y) return scaled[k];
        int k = have[0] < have[1] ? 0 : 1;
        ScaleRowByArea(pixels + size_t(y) * size_t(pitch), scaled[k], columns, colour, at.width);
        have[k] = y;
        return scaled[k];
    };
    for (int y = 0; y < at.height; y++) {
        Tap t = rows[y];
        uint32_t* to = SurfaceRow(s, at.top + y) + at.left;
        const uint32_t* a = scaledRow(t.index);
        if (!t.weight) {
            memcpy(to, a, size_t(at.width) * sizeof(uint32_t));
            continue;
        }
        const uint32_t* b = scaledRow(t.index + 1);
        MixRows(to, a, b, t.weight, at.width);
    }
    return SDL_Rect{at.left, at.top, at.width, at.height};
}

// Fit scaling through the renderer, by the same rule as DrawFitted: the
// picture is drawn by whole pixels into a target a whole multiple larger
// than the window needs, which the GPU then shrinks to the window with
// linear filtering, so that only where two picture pixels meet is one
// output pixel a mix. Null where the renderer cannot draw into textures.
SDL_Texture* SharpTarget() {
    int outW = 0, outH = 0;
    if (SDL_GetRendererOutputSize(p.renderer, &outW, &outH) != 0) return nullptr;
    int scale = std::max(1, std::max((outW + p.width - 1) / p.width, (outH + p.height - 1) / p.height));
    if (p.sharp && p.sharpScale == scale) return p.sharp;
    if (p.sharp) SDL_DestroyTexture(p.sharp);
    p.sharp = SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_TARGET, p.width * scale,
                                p.height * scale);
    p.sharpScale = scale;
    if (p.sharp) SDL_SetTextureScaleMode(p.sharp, SDL_ScaleModeLinear);
    return p.sharp;
}

void PresentThroughRenderer(const uint8_t* pixels, int pitch, const uint32_t* palette, bool paletteChanged) {
    if (paletteChanged || !p.colourValid) {
        for (int i = 0; i < 256; i++) p.colour[i] = palette[i] | 0xFF000000u;
        p.colourValid = true;
    }
    for (int y = 0; y < p.height; y++)
        ConvertRow(pixels + size_t(y) * size_t(pitch), p.rgb + size_t(y) * size_t(p.width), p.width, 1);
    SDL_UpdateTexture(p.texture, nullptr, p.rgb, p.width * int(sizeof(uint32_t)));
    int outW = 0, outH = 0;
    SDL_GetRendererOutputSize(p.renderer, &outW, &outH);
    const bool fit = ScalesToFit(Display().scaling, p.width, p.height, outW, outH);
    p.scaling = Display().scaling;
    if (fit != p.fitting) {
        p.fitting = fit;
        SDL_RenderSetIntegerScale(p.renderer, fit ? SDL_FALSE : SDL_TRUE);
    }
    SDL_SetRenderDrawColor(p.renderer, 0, 0, 0, 255);
    SDL_RenderClear(p.renderer);
    SDL_Texture* sharp = fit ? SharpTarget() : nullptr;
    if (sharp && SDL_SetRenderTarget(p.renderer, sharp) == 0) {
        SDL_RenderCopy(p.renderer, p.texture, nullptr, nullptr);
        SDL_SetRenderTarget(p.renderer, nullptr);
        SDL_RenderCopy(p.renderer, sharp, nullptr, nullptr);
    } else {
        SDL_RenderCopy(p.renderer, p.texture, nullptr, nullptr);
    }
    SDL_RenderPresent(p.renderer);
}

void PresentToSurface(const uint8_t* pixels, int pitch, const uint32_t* palette, bool paletteChanged) {
    SDL_Surface* s = SDL_GetWindowSurface(p.window);
    if (!s || s->format->BytesPerPixel != 4) return;
    const bool fit = ScalesToFit(Display().scaling, p.width, p.height, s->w, s->h);
    bool fresh = s != p.surface || fit != p.fitting;
    if (SDL_MUSTLOCK(s) && SDL_LockSurface(s) != 0) return;
    if (fresh) SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));
    if (fresh || paletteChanged || !p.colourValid) BuildColourTable(s->format, palette);

    p.scaling = Display().scaling;
    p.fitting = fit;
    FitPlacement fitted = fit ? FitIn(s) : FitPlacement{0, 0, 0, 0};
    SDL_Rect changed = fitted.width ? DrawFitted(s, pixels, pitch, fitted)
                                    : DrawWholePixels(s, pixels, pitch, fresh || paletteChanged);
    if (SDL_MUSTLOCK(s)) SDL_UnlockSurface(s);

    if (fresh) {
        SDL_UpdateWindowSurface(p.window);
        p.surface = s;
    } else if (changed.w > 0 && changed.h > 0) {
        SDL_UpdateWindowSurfaceRects(p.window, &changed, 1);
    }
}

// ---- what is on screen ----------------------------------------------------------------

// Compares the picture with the one last shown and keeps it, noting which
// rows changed; true when nothing did. *paletteChanged tells whether the
// palette did.
bool SameAsShown(const uint8_t* pixels, int pitch, const uint32_t* palette, bool* paletteChanged) {
    *paletteChanged = memcmp(p.shownPalette, palette, sizeof p.shownPalette) != 0;
    if (*paletteChanged) memcpy(p.shownPalette, palette, sizeof p.shownPalette);
    bool same = !*paletteChanged;
    for (int y = 0; y < p.height; y++) {
        const uint8_t* src = pixels + size_t(y) * size_t(pitch);
        uint8_t* kept = p.shown + size_t(y) * size_t(p.width);
        p.rowChanged[y] = memcmp(kept, src, size_t(p.width)) != 0;
        if (!p.rowChanged[y]) continue;
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
    p.rowChanged = static_cast<uint8_t*>(SDL_calloc(size_t(height), 1));
    if (!p.shown || !p.rowChanged) return false;
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
    if (p.sharp) SDL_DestroyTexture(p.sharp);
    if (p.texture) SDL_DestroyTexture(p.texture);
    if (p.renderer) SDL_DestroyRenderer(p.renderer);
    SDL_free(p.rgb);
    SDL_free(p.line);
    p.texture = nullptr;
    p.sharp = nullptr;
    p.sharpScale = 0;
    p.renderer = nullptr;
    p.rgb = nullptr;
    p.line = nullptr;
    p.lineCapacity = 0;
    p.surface = nullptr;
    p.colourValid = false;
    p.scaling = SCALING_WHOLE;
    p.fitting = false;
    p.path = PATH_NONE;
}

void DestroyPresenter() {
    DestroyPresenterObjects();
    SDL_free(p.shown);
    SDL_free(p.rowChanged);
    p.shown = nullptr;
    p.rowChanged = nullptr;
    p.shownValid = false;
    p.window = nullptr;
}

void InvalidateShownPicture() {
    p.shownValid = false;
    p.surface = nullptr;
}

void Present(const uint8_t* pixels, int width, int height, int pitch, const uint32_t* palette) {
    if (p.path == PATH_NONE || width != p.width || height != p.height) return;
    bool paletteChanged = false;
    bool same = SameAsShown(pixels, pitch, palette, &paletteChanged);
    bool rechosen = Display().scaling != p.scaling;
    if (same && p.shownValid && !rechosen) {
        p.counts.skipped++;
        return;
    }
    // A picture presented after the window lost its content is drawn whole.
    bool whole = !p.shownValid || paletteChanged;
    p.shownValid = true;
    uint64_t start = MonotonicNs();
    if (p.path == PATH_RENDERER)
        PresentThroughRenderer(pixels, pitch, palette, whole);
    else
        PresentToSurface(pixels, pitch, palette, whole);
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
