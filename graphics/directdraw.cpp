// CDirectDraw: surfaces, copies, fills and the palette.
//
// The front buffer (id 0) is what the player sees; it is presented at display
// rate by the message pump and at every flip. A flip swaps the front and back
// buffers as a page flip does, so the old front becomes the back buffer.
#include "graphics/directdraw.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "graphics/dibsection.h"

namespace {

const char kNoFreeSurface[] = "空きサーフェイスがありません";
const char kSurfaceFailed[] = "サーフェイスの作成に失敗しました";
constexpr int kLargestSurfaceSide = 16384;

void PresentHook() { theDirectDraw.Present(); }

uint8_t Clamp255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

}  // namespace

CDirectDraw::CDirectDraw()
    : m_surfaces(nullptr),
      m_locks(nullptr),
      m_destClip{},
      m_sourceClip{},
      m_screenWidth(0),
      m_screenHeight(0),
      m_masterPalette{},
      m_displayPalette{},
      m_overlay(nullptr),
      m_overlaid(nullptr) {
    // A fatal exit shuts the display down before the window goes.
    CApp::AddExitHook([] { theDirectDraw.Shutdown(); });
}

CDirectDraw::~CDirectDraw() { Shutdown(); }

// ---- start-up and shut-down ------------------------------------------------------

bool CDirectDraw::StartDirectDraw(int width, int height, int bitsPerPixel) {
    if (m_surfaces) Shutdown();
    m_screenWidth = width;
    m_screenHeight = height;
    if (bitsPerPixel != 8 || width <= 0 || height <= 0 || width > kLargestSurfaceSide || height > kLargestSurfaceSide ||
        !plat::HasWindow())
        return false;
    m_surfaces = static_cast<Surface*>(CApp::Alloc(sizeof(Surface) * kSurfaceSlots, "CDirectDraw::StartDirectDraw"));
    m_locks =
        static_cast<SurfaceDesc*>(CApp::Alloc(sizeof(SurfaceDesc) * kSurfaceSlots, "CDirectDraw::StartDirectDraw"));
    for (int id = 0; id < 2; id++) {
        Surface& s = m_surfaces[id];
        s.pixels = static_cast<uint8_t*>(calloc(size_t(width) * size_t(height), 1));
        if (!s.pixels) {
            Shutdown();
            return false;
        }
        s.width = s.pitch = width;
        s.height = height;
        s.colorKey = 0;
        s.used = 1;
    }
    memset(m_masterPalette, 0, sizeof m_masterPalette);
    ApplyPalette();
    m_destClip = m_sourceClip = ClipRect{0, 0, width - 1, height - 1};
    plat::SetPresentHook(PresentHook);
    return true;
}

void CDirectDraw::Shutdown() {
    if (!m_surfaces) return;
    plat::SetPresentHook(nullptr);
    m_overlay = nullptr;  // the last picture is black, with nothing over it
    ClearSurface(0);
    ClearSurface(1);
    Present();
    for (int id = 0; id < kSurfaceSlots; id++) FreeSurface(SurfaceId(id));
    CApp::Free(m_surfaces);
    CApp::Free(m_locks);
    CApp::Free(m_overlaid);
    m_surfaces = nullptr;
    m_locks = nullptr;
    m_overlaid = nullptr;
}

void CDirectDraw::FreeSurface(SurfaceId id) {
    Surface& s = m_surfaces[id];
    free(s.pixels);
    s = Surface{};
}

// ---- the pool ----------------------------------------------------------------------

SurfaceId CDirectDraw::GetUnusedSurface() {
    if (m_surfaces) {
        for (int id = 2; id < kSurfaceSlots; id++)
            if (!m_surfaces[id].used) return SurfaceId(id);
    }
    CApp::FatalExit(kNoFreeSurface, "CDirectDraw::GetUnusedSurface");
}

SurfaceId CDirectDraw::CreateSurface(int width, int height, bool /*systemMemory*/) {
    SurfaceId id = GetUnusedSurface();
    if (width <= 0 || height <= 0 || width > kLargestSurfaceSide || height > kLargestSurfaceSide)
        CApp::FatalExit(kSurfaceFailed, "CDirectDraw::CreateSurface");
    Surface& s = m_surfaces[id];
    s.pixels = static_cast<uint8_t*>(calloc(size_t(width) * size_t(height), 1));
    if (!s.pixels) CApp::FatalExit(kSurfaceFailed, "CDirectDraw::CreateSurface");
    s.width = s.pitch = width;
    s.height = height;
    s.colorKey = 0;
    s.used = 1;
    return id;
}

SurfaceId CDirectDraw::ReleaseSurface(SurfaceId& id) {
    SurfaceId old = id;
    if (id >= 2 && m_surfaces) FreeSurface(id);
    id = 0;
    return old;
}

bool CDirectDraw::SurfaceReady(SurfaceId id) const { return m_surfaces && id < kSurfaceSlots && m_surfaces[id].pixels; }

Surface* CDirectDraw::GetSurface(SurfaceId id) { return SurfaceReady(id) ? &m_surfaces[id] : nullptr; }

void CDirectDraw::SetColorKey(SurfaceId id, uint8_t index) {
    if (SurfaceReady(id)) m_surfaces[id].colorKey = index;
}

void CDirectDraw::ClearSurface(SurfaceId id) {
    if (!SurfaceReady(id)) return;
    Surface& s = m_surfaces[id];
    memset(s.pixels, 0, size_t(s.pitch) * size_t(s.height));
}

const SurfaceDesc& CDirectDraw::Lock(SurfaceId id) {
    static const SurfaceDesc kNoPixels{};
    if (!SurfaceReady(id) || !m_locks) return kNoPixels;
    const Surface& s = m_surfaces[id];
    SurfaceDesc& d = m_locks[id];
    d = SurfaceDesc{s.width, s.height, s.pitch, s.pixels};
    return d;
}

void CDirectDraw::Unlock(SurfaceId /*id*/) {}

// ---- pictures ------------------------------------------------------------------------

SurfaceId CDirectDraw::LoadPng(const char* path, bool setPalette, bool systemMemory) {
    CDibSection dib;
    dib.LoadPng(path);
    SurfaceId id = CreateSurface(dib.Width(), dib.Height(), systemMemory);
    if (setPalette) {
        RgbQuad colors[256];
        dib.GetColorTable(0, 256, colors);
        memset(m_masterPalette, 0, sizeof m_masterPalette);
        for (int i = 0; i < 256; i++)
            m_masterPalette[i] = PaletteEntry{colors[i].red, colors[i].green, colors[i].blue, 1};
        ApplyPalette();
    }
    CopyPicture(dib, id, 0, 0);
    return id;
}

void CDirectDraw::LoadPngInto(SurfaceId id, const char* path, int x, int y) {
    CDibSection dib;
    dib.LoadPng(path);
    CopyPicture(dib, id, x, y);
}

// Copies a decoded picture onto a surface, turning each of its colours into
// the palette index of that colour: a colour found at its own index keeps it,
// any other goes to the nearest palette entry.
void CDirectDraw::CopyPicture(const CDibSection& dib, SurfaceId id, int x, int y) {
    if (!SurfaceReady(id)) return;
    RgbQuad colors[256];
    dib.GetColorTable(0, 256, colors);
    uint8_t map[256];
    for (int i = 0; i < 256; i++) {
        const PaletteEntry& own = m_masterPalette[i];
        bool same = own.red == colors[i].red && own.green == colors[i].green && own.blue == colors[i].blue;
        map[i] = same ? uint8_t(i) : NearestIndex(colors[i].red, colors[i].green, colors[i].blue);
    }
    Surface& s = m_surfaces[id];
    int x0 = std::max(0, x), y0 = std::max(0, y);
    int x1 = std::min(s.width, x + dib.Width()), y1 = std::min(s.height, y + dib.Height());
    for (int row = y0; row < y1; row++) {
        uint8_t* dst = s.pixels + size_t(row) * size_t(s.pitch);
        const uint8_t* src = dib.PixelAddress(0, row - y);
        for (int col = x0; col < x1; col++) dst[col] = map[src[col - x]];
    }
}

// ---- copies and fills -------------------------------------------------------------------

namespace {

// Cuts a rectangle at point p (moving the partner point q along) so that it
// lies inside the clip rectangle c. False when nothing is left.
bool ClipAgainst(const ClipRect& c, int& px, int& py, int& qx, int& qy, int& w, int& h) {
    if (px < c.left) {
        int cut = c.left - px;
        qx += cut;
        w -= cut;
        px = c.left;
    }
    if (py < c.top) {
        int cut = c.top - py;
        qy += cut;
        h -= cut;
        py = c.top;
    }
    if (px + w - 1 > c.right) w = c.right - px + 1;
    if (py + h - 1 > c.bottom) h = c.bottom - py + 1;
    return w >= 1 && h >= 1;
}

ClipRect Bounds(const Surface& s) { return ClipRect{0, 0, s.width - 1, s.height - 1}; }

// A keyed copy of one row (source and destination apart): every byte but the
// colour key. Eight bytes at a time: a mask marks the bytes that differ from
// the key, and those are taken from the source.
void CopyKeyedRow(uint8_t* to, const uint8_t* from, int width, uint8_t key) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full, kHigh = 0x8080808080808080ull;
    const uint64_t keys = 0x0101010101010101ull * key;
    int col = 0;
    for (; col + 8 <= width; col += 8) {
        uint64_t src, dst;
        memcpy(&src, from + col, 8);
        memcpy(&dst, to + col, 8);
        uint64_t diff = src ^ keys;
        uint64_t nonKey = (((diff & kLow7) + kLow7) | diff) & kHigh;  // high bit of each byte that is not the key
        uint64_t take = (nonKey >> 7) * 0xFF;
        dst = (dst & ~take) | (src & take);
        memcpy(to + col, &dst, 8);
    }
    for (; col < width; col++)
        if (from[col] != key) to[col] = from[col];
}

}  // namespace

bool CDirectDraw::Draw(SurfaceId dest, int dx, int dy, int width, int height, SurfaceId src, int sx, int sy, bool keyed,
                       int clipMode) {
    if (!SurfaceReady(dest) || !SurfaceReady(src)) return false;
    if ((clipMode & CLIP_DEST) && !ClipAgainst(m_destClip, dx, dy, sx, sy, width, height)) return false;
    if ((clipMode & CLIP_SOURCE) && !ClipAgainst(m_sourceClip, sx, sy, dx, dy, width, height)) return false;
    // Whatever the caller asked for, nothing is read or written outside a surface.
    Surface& d = m_surfaces[dest];
    const Surface& s = m_surfaces[src];
    if (!ClipAgainst(Bounds(d), dx, dy, sx, sy, width, height)) return false;
    if (!ClipAgainst(Bounds(s), sx, sy, dx, dy, width, height)) return false;

    // Copying within one surface: take the rows bottom-up when moving down so
    // that no source row is overwritten before it is read.
    bool upward = (&d == &s) && dy > sy;
    for (int i = 0; i < height; i++) {
        int row = upward ? height - 1 - i : i;
        const uint8_t* from = s.pixels + size_t(sy + row) * size_t(s.pitch) + size_t(sx);
        uint8_t* to = d.pixels + size_t(dy + row) * size_t(d.pitch) + size_t(dx);
        if (!keyed) {
            memmove(to, from, size_t(width));
        } else if (&d == &s && from < to && to < from + width) {
            for (int col = width - 1; col >= 0; col--)
                if (from[col] != s.colorKey) to[col] = from[col];
        } else {
            CopyKeyedRow(to, from, width, s.colorKey);
        }
    }
    return true;
}

void CDirectDraw::DrawStretched(SurfaceId dest, int dx, int dy, int dw, int dh, SurfaceId src, int sx, int sy, int sw,
                                int sh) {
    if (!SurfaceReady(dest) || !SurfaceReady(src) || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    Surface& d = m_surfaces[dest];
    const Surface& s = m_surfaces[src];
    for (int j = 0; j < dh; j++) {
        int ty = dy + j;
        int fy = sy + int(int64_t(j) * sh / dh);
        if (ty < 0 || ty >= d.height || fy < 0 || fy >= s.height) continue;
        uint8_t* to = d.pixels + size_t(ty) * size_t(d.pitch);
        const uint8_t* from = s.pixels + size_t(fy) * size_t(s.pitch);
        for (int i = 0; i < dw; i++) {
            int tx = dx + i;
            int fx = sx + int(int64_t(i) * sw / dw);
            if (tx < 0 || tx >= d.width || fx < 0 || fx >= s.width) continue;
            uint8_t p = from[fx];
            if (p != s.colorKey) to[tx] = p;
        }
    }
}

void CDirectDraw::ExchangeSurfaces(SurfaceId a, SurfaceId b) {
    if (!m_surfaces || a >= kSurfaceSlots || b >= kSurfaceSlots) return;
    std::swap(m_surfaces[a], m_surfaces[b]);
    std::swap(m_locks[a], m_locks[b]);
}

void CDirectDraw::CopyScreen(SurfaceId dest, SurfaceId src) {
    Draw(dest, 0, 0, m_screenWidth, m_screenHeight, src, 0, 0, false, 0);
}

void CDirectDraw::FillRect(SurfaceId id, int x, int y, int width, int height, uint8_t index) {
    if (!SurfaceReady(id)) return;
    Surface& s = m_surfaces[id];
    int x0 = std::max(x, 0), y0 = std::max(y, 0);
    int x1 = int(std::min<int64_t>(int64_t(x) + width, s.width));
    int y1 = int(std::min<int64_t>(int64_t(y) + height, s.height));
    if (x1 <= x0) return;
    for (int row = y0; row < y1; row++)
        memset(s.pixels + size_t(row) * size_t(s.pitch) + size_t(x0), index, size_t(x1 - x0));
}

void CDirectDraw::DrawFrame(SurfaceId id, int x, int y, int width, int height, uint8_t index) {
    FillRect(id, x, y, width, 1, index);
    FillRect(id, x, y + height - 1, width, 1, index);
    FillRect(id, x, y, 1, height, index);
    FillRect(id, x + width - 1, y, 1, height, index);
}

void CDirectDraw::SetDestClip(int x, int y, int width, int height) {
    m_destClip = ClipRect{x, y, x + width - 1, y + height - 1};
}

void CDirectDraw::SetSourceClip(int x, int y, int width, int height) {
    m_sourceClip = ClipRect{x, y, x + width - 1, y + height - 1};
}

// ---- flipping and presentation -------------------------------------------------------------

void CDirectDraw::WaitVBlank() { plat::WaitVBlank(); }

void CDirectDraw::Flip() {
    if (!m_surfaces) return;
    plat::WaitVBlank();
    std::swap(m_surfaces[0], m_surfaces[1]);
    Present();
}

void CDirectDraw::Present() {
    if (!SurfaceReady(0)) return;
    const Surface& s = m_surfaces[0];
    if (!m_overlay) {
        plat::Present(s.pixels, s.width, s.height, s.pitch, m_displayPalette);
        return;
    }
    // The overlay draws on a copy: surface 0 is the round's field in normal
    // play, and nothing shown only to the players may change it.
    const size_t bytes = size_t(s.pitch) * size_t(s.height);
    if (!m_overlaid) m_overlaid = static_cast<uint8_t*>(CApp::Alloc(bytes, "CDirectDraw::Present"));
    memcpy(m_overlaid, s.pixels, bytes);
    m_overlay(m_overlaid, s.pitch, s.width, s.height);
    plat::Present(m_overlaid, s.width, s.height, s.pitch, m_displayPalette);
}

PresentOverlay CDirectDraw::SetPresentOverlay(PresentOverlay overlay) {
    PresentOverlay before = m_overlay;
    m_overlay = overlay;
    return before;
}

// ---- the palette ---------------------------------------------------------------------------

namespace {
uint32_t PackRgb(int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }
}  // namespace

void CDirectDraw::SetPaletteBrightness(int offset) {
    for (int i = 0; i < 256; i++) {
        const PaletteEntry& e = m_masterPalette[i];
        if (i == 0 || i == 255)
            m_displayPalette[i] = PackRgb(e.red, e.green, e.blue);
        else
            m_displayPalette[i] =
                PackRgb(Clamp255(e.red + offset), Clamp255(e.green + offset), Clamp255(e.blue + offset));
    }
}

void CDirectDraw::ApplyPalette() {
    for (int i = 0; i < 256; i++) {
        const PaletteEntry& e = m_masterPalette[i];
        m_displayPalette[i] = PackRgb(e.red, e.green, e.blue);
    }
}

uint32_t CDirectDraw::PaletteColor(int index) const {
    const PaletteEntry& e = m_masterPalette[index & 0xFF];
    return uint32_t(e.red) | uint32_t(e.green) << 8 | uint32_t(e.blue) << 16;
}

uint8_t CDirectDraw::NearestIndex(uint32_t colorRef) const {
    return NearestIndex(uint8_t(colorRef), uint8_t(colorRef >> 8), uint8_t(colorRef >> 16));
}

uint8_t CDirectDraw::NearestIndex(uint8_t red, uint8_t green, uint8_t blue) const {
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < 256; i++) {
        const PaletteEntry& e = m_masterPalette[i];
        int dr = e.red - red, dg = e.green - green, db = e.blue - blue;
        int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
            if (distance == 0) break;
        }
    }
    return uint8_t(best);
}
