// Circles, discs and lines, rasterised the way the original vector drawing
// did: the bounding box of a circle runs from (cx - r, cy - r) to
// (cx + r, cy + r) with the right and bottom edges exclusive, so the figure
// spans 2r pixels; a line leaves out its end point. A clip rectangle, when
// given, keeps left <= x < right and top <= y < bottom.
#include <algorithm>
#include <cstdlib>

#include "graphics/directdraw.h"

namespace {

// The drawable area: the surface, narrowed to the clip rectangle if any.
// Right and bottom are exclusive here.
ClipRect ShapeBounds(const Surface& s, const ClipRect* clip) {
    ClipRect b{0, 0, s.width, s.height};
    if (clip) {
        b.left = std::max(b.left, clip->left);
        b.top = std::max(b.top, clip->top);
        b.right = std::min(b.right, clip->right);
        b.bottom = std::min(b.bottom, clip->bottom);
    }
    return b;
}

void PutPixel(Surface& s, const ClipRect& b, int x, int y, uint8_t index) {
    if (x < b.left || x >= b.right || y < b.top || y >= b.bottom) return;
    s.pixels[size_t(y) * size_t(s.pitch) + size_t(x)] = index;
}

// Half-width of the disc in row dy (counted from the top of the box) as the
// span [left offset, right offset) relative to the box's left edge: the
// pixels whose centres lie within radius r of the box's centre.
void DiscSpan(int r, int row, int* from, int* to) {
    // Pixel centre offsets from the box centre, doubled to stay in integers.
    int py = 2 * row + 1 - 2 * r;
    int limit = 4 * r * r - py * py;  // (2dx)^2 must not exceed this
    if (limit < 0) {
        *from = *to = 0;
        return;
    }
    // Largest k >= 0 with (2k + 1)^2 <= limit: pixels r - 1 - k .. r + k.
    int k = -1;
    while ((2 * (k + 1) + 1) * (2 * (k + 1) + 1) <= limit) k++;
    *from = r - 1 - k;
    *to = r + k + 1;
}

}  // namespace

void CDirectDraw::ShapeSpan(Surface* s, int y, int x0, int x1, uint8_t index, const ClipRect& bounds) {
    if (y < bounds.top || y >= bounds.bottom) return;
    x0 = std::max(x0, bounds.left);
    x1 = std::min(x1, bounds.right);
    for (int x = x0; x < x1; x++) s->pixels[size_t(y) * size_t(s->pitch) + size_t(x)] = index;
}

void CDirectDraw::DrawDisc(SurfaceId id, int cx, int cy, int radius, uint32_t colorRef, const ClipRect* clip) {
    Surface* s = GetSurface(id);
    if (!s || radius <= 0) return;
    uint8_t index = NearestIndex(colorRef);
    ClipRect b = ShapeBounds(*s, clip);
    for (int row = 0; row < 2 * radius; row++) {
        int from, to;
        DiscSpan(radius, row, &from, &to);
        if (to > from) ShapeSpan(s, cy - radius + row, cx - radius + from, cx - radius + to, index, b);
    }
}

// The outline is the disc's boundary: in each row the pixels of the span that
// are not covered by the spans of both neighbouring rows, plus the span ends.
void CDirectDraw::DrawCircle(SurfaceId id, int cx, int cy, int radius, uint32_t colorRef, const ClipRect* clip) {
    Surface* s = GetSurface(id);
    if (!s || radius <= 0) return;
    uint8_t index = NearestIndex(colorRef);
    ClipRect b = ShapeBounds(*s, clip);
    int rows = 2 * radius;
    for (int row = 0; row < rows; row++) {
        int from, to, upFrom = 0, upTo = 0, downFrom = 0, downTo = 0;
        DiscSpan(radius, row, &from, &to);
        if (to <= from) continue;
        if (row > 0) DiscSpan(radius, row - 1, &upFrom, &upTo);
        if (row < rows - 1) DiscSpan(radius, row + 1, &downFrom, &downTo);
        int y = cy - radius + row;
        for (int col = from; col < to; col++) {
            bool inner = col > from && col < to - 1 && col >= upFrom && col < upTo && col >= downFrom && col < downTo;
            if (!inner) PutPixel(*s, b, cx - radius + col, y, index);
        }
    }
}

void CDirectDraw::DrawLine(SurfaceId id, int x1, int y1, int x2, int y2, uint32_t colorRef, const ClipRect* clip) {
    Surface* s = GetSurface(id);
    if (!s) return;
    uint8_t index = NearestIndex(colorRef);
    ClipRect b = ShapeBounds(*s, clip);
    int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
    int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    int x = x1, y = y1;
    // The end point itself is not drawn.
    while (x != x2 || y != y2) {
        PutPixel(*s, b, x, y, index);
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}
