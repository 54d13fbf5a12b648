// CDirectDraw: the 8-bit display. A 640x480 front and back buffer that flip,
// a pool of off-screen surfaces addressed by SurfaceId, the master palette,
// two clip rectangles, rectangle copies and fills, palette fades, shapes.
// Surfaces are plain byte arrays (pitch = width); only presentation goes to
// the platform.
#pragma once
#include <cstdint>

#include "core/app.h"

class CDibSection;

struct ClipRect {
    int32_t left, top, right, bottom;
};

// What the last lock of a surface returned.
struct SurfaceDesc {
    int32_t width;
    int32_t height;
    int32_t pitch;
    uint8_t* pixels;
};

struct PaletteEntry {
    uint8_t red, green, blue, flags;
};

// One surface of the pool.
struct Surface {
    int32_t width;
    int32_t height;
    int32_t pitch;
    uint8_t* pixels;
    uint8_t colorKey;
    uint8_t used;
};

enum : int { CLIP_DEST = 1, CLIP_SOURCE = 2 };

// Draws over the picture about to be shown: pixels is a copy of surface 0
// (width x height, pitch bytes a row) that only the display sees, so what an
// overlay draws never reaches a surface, a screenshot or the round's field.
using PresentOverlay = void (*)(uint8_t* pixels, int pitch, int width, int height);

constexpr int kSurfaceSlots = 256;

class CDirectDraw {
public:
    CDirectDraw();
    ~CDirectDraw();

    bool StartDirectDraw(int width, int height, int bitsPerPixel);
    void Shutdown();
    bool Started() const { return m_surfaces != nullptr; }

    SurfaceId GetUnusedSurface();
    SurfaceId CreateSurface(int width, int height, bool systemMemory);
    SurfaceId LoadPng(const char* path, bool setPalette, bool systemMemory);
    void LoadPngInto(SurfaceId id, const char* path, int x, int y);
    SurfaceId ReleaseSurface(SurfaceId& id);
    void SetColorKey(SurfaceId id, uint8_t index);
    void ClearSurface(SurfaceId id);
    // The surface's pixels for direct access until Unlock. A surface that
    // does not exist (or no display) gives a descriptor without pixels, so
    // callers test desc.pixels, never the descriptor.
    const SurfaceDesc& Lock(SurfaceId id);
    void Unlock(SurfaceId id);
    void Flip();
    void WaitVBlank();

    bool Draw(SurfaceId dest, int dx, int dy, int width, int height, SurfaceId src, int sx, int sy, bool keyed,
              int clipMode);
    void DrawStretched(SurfaceId dest, int dx, int dy, int dw, int dh, SurfaceId src, int sx, int sy, int sw, int sh);
    void CopyScreen(SurfaceId dest, SurfaceId src);
    // Exchanges what two surface ids stand for, in constant time (the match
    // runner keeps several machines' visible surfaces and swaps them in).
    void ExchangeSurfaces(SurfaceId a, SurfaceId b);
    void FillRect(SurfaceId id, int x, int y, int width, int height, uint8_t index);
    void DrawFrame(SurfaceId id, int x, int y, int width, int height, uint8_t index);
    void SetDestClip(int x, int y, int width, int height);
    void SetSourceClip(int x, int y, int width, int height);

    void SetPaletteBrightness(int offset);
    void ApplyPalette();
    uint32_t PaletteColor(int index) const;
    // Index of the master-palette colour nearest to a 0x00BBGGRR colour
    // (least squared distance, ties to the lower index).
    uint8_t NearestIndex(uint32_t colorRef) const;
    uint8_t NearestIndex(uint8_t red, uint8_t green, uint8_t blue) const;

    // Shapes, drawn with exclusive right and bottom edges.
    void DrawCircle(SurfaceId id, int cx, int cy, int radius, uint32_t colorRef, const ClipRect* clip);
    void DrawDisc(SurfaceId id, int cx, int cy, int radius, uint32_t colorRef, const ClipRect* clip);
    void DrawLine(SurfaceId id, int x1, int y1, int x2, int y2, uint32_t colorRef, const ClipRect* clip);

    // Access for the highlight bar, text and tests.
    Surface* GetSurface(SurfaceId id);
    const PaletteEntry* MasterPalette() const { return m_masterPalette; }
    PaletteEntry* MasterPalette() { return m_masterPalette; }
    // The palette as the display shows it now (after brightness), 0x00RRGGBB.
    const uint32_t* DisplayPalette() const { return m_displayPalette; }
    const ClipRect& DestClip() const { return m_destClip; }
    const ClipRect& SourceClip() const { return m_sourceClip; }
    int ScreenWidth() const { return m_screenWidth; }
    int ScreenHeight() const { return m_screenHeight; }
    // Shows surface 0 through the display palette, with the overlay drawn
    // over a copy of it when one is set.
    void Present();
    // The overlay every presentation draws from now on (null for none); the
    // one set before is returned, so that a caller can put it back.
    PresentOverlay SetPresentOverlay(PresentOverlay overlay);

private:
    bool SurfaceReady(SurfaceId id) const;
    void FreeSurface(SurfaceId id);
    void CopyPicture(const CDibSection& dib, SurfaceId id, int x, int y);
    void ShapeSpan(Surface* s, int y, int x0, int x1, uint8_t index, const ClipRect& bounds);

    Surface* m_surfaces;   // surface table, kSurfaceSlots entries
    SurfaceDesc* m_locks;  // lock table, kSurfaceSlots entries
    ClipRect m_destClip;
    ClipRect m_sourceClip;
    int32_t m_screenWidth;
    int32_t m_screenHeight;
    PaletteEntry m_masterPalette[256];
    uint32_t m_displayPalette[256];
    PresentOverlay m_overlay;
    uint8_t* m_overlaid;  // the copy of surface 0 an overlay draws on; made at its first use
};

extern CDirectDraw theDirectDraw;
