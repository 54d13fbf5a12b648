// Drawing primitives, the PNG writer and the palette of the data set.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "gen.h"

namespace gen {

namespace {

Rgb Scale(Rgb c, double f) {
    auto ch = [f](int v) { return static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(v * f)), 0, 255)); };
    return {ch(c.r), ch(c.g), ch(c.b)};
}

Rgb Mix(Rgb a, Rgb b, double t) {
    auto ch = [t](int x, int y) { return static_cast<uint8_t>(std::lround(x + (y - x) * t)); };
    return {ch(a.r, b.r), ch(a.g, b.g), ch(a.b, b.b)};
}

// A shade from dark (f < 1 scales the colour down) to light (f > 1 mixes
// toward white), so one formula gives every ramp.
Rgb Shade(Rgb c, double f) {
    if (f <= 1.0) return Scale(c, f);
    return Mix(c, {255, 255, 255}, std::min(f - 1.0, 1.0));
}

constexpr Rgb kWhite = {255, 255, 255};

// Trail colours of the four players: red, blue, yellow and mint stay apart
// under the common kinds of colour blindness as well.
constexpr Rgb kPlayerHues[4] = {{240, 70, 50}, {40, 150, 255}, {255, 215, 0}, {170, 255, 170}};
// Text cell hues: 0..3 darker versions of the players' colours so that white
// letters stay readable on them, then grey, teal, crimson and violet.
constexpr Rgb kCellHues[8] = {{190, 50, 40},   {30, 100, 210}, {175, 135, 0}, {40, 150, 70},
                              {105, 105, 118}, {0, 125, 145},  {165, 30, 90}, {100, 65, 185}};
constexpr Rgb kEarthHues[6] = {{110, 116, 134}, {138, 100, 64}, {86, 128, 62},
                               {52, 126, 128},  {96, 76, 140},  {160, 78, 44}};
constexpr Rgb kBrightHues[8] = {{255, 40, 40}, {255, 140, 0}, {255, 240, 0},  {40, 230, 60},
                                {0, 220, 240}, {60, 90, 255}, {170, 60, 255}, {255, 80, 200}};

Rgb PlayerRamp(Rgb h, int k) {
    if (k <= 6) return Scale(h, 0.22 + 0.78 * k / 6.0);
    if (k <= 10) return Mix(h, kWhite, (k - 6) * 0.15);
    switch (k) {
    case 11:
        return Mix(h, {255, 255, 200}, 0.35);  // particles: a hot, lighter spark
    case 12:
        return h;  // trail
    case 13:
        return Mix(h, kWhite, 0.75);  // missiles
    case 14:
        // The brightest of the ramp: the rings grow in it and fade from it.
        return Mix(h, kWhite, 0.9);
    default:
        return Mix(Scale(h, 0.45), {90, 90, 90}, 0.5);
    }
}

std::vector<Rgb> BuildPalette() {
    std::vector<Rgb> pal(256, Rgb{0, 0, 0});
    for (int i = 1; i < 16; i++) {
        auto v = static_cast<uint8_t>(16 * i);
        pal[i] = {v, v, v};
    }
    for (int p = 0; p < 4; p++)
        for (int k = 0; k < 16; k++) pal[PlayerColor(p, k)] = PlayerRamp(kPlayerHues[p], k);
    for (int h = 0; h < 8; h++)
        for (int s = 0; s < 8; s++) pal[Cell(h, s)] = Shade(kCellHues[h], 0.3 + 0.14 * s);
    for (int h = 0; h < 6; h++)
        for (int s = 0; s < 8; s++) pal[Earth(h, s)] = Shade(kEarthHues[h], 0.22 + 0.14 * s);
    constexpr double kPastel[4] = {0.0, 0.3, 0.55, 0.8};
    for (int h = 0; h < 8; h++)
        for (int s = 0; s < 4; s++) pal[Bright(h, s)] = Mix(kBrightHues[h], kWhite, kPastel[s]);
    // Fine greys between the coarse ones, so the brightening tables find a
    // close grey for every level.
    for (int i = 0; i < 31; i += 2) {
        auto v = static_cast<uint8_t>(8 + 8 * i);
        pal[kFineGreyBase + i] = {v, v, v};
    }
    // Between them, the colours the menu highlight makes of the text cells
    // and the background (each lightened by 50, 50, 115), so the bar keeps
    // their hues.
    auto tinted = [](Rgb c) {
        return Rgb{static_cast<uint8_t>(std::min(255, c.r + 50)), static_cast<uint8_t>(std::min(255, c.g + 50)),
                   static_cast<uint8_t>(std::min(255, c.b + 115))};
    };
    const Rgb kTintSources[15] = {pal[Cell(0, 4)], pal[Cell(1, 4)],      pal[Cell(2, 4)],     pal[Cell(3, 4)],
                                  pal[Cell(4, 4)], pal[Cell(5, 4)],      pal[Cell(6, 4)],     pal[Cell(7, 4)],
                                  pal[Cell(0, 6)], pal[Cell(2, 6)],      pal[Cell(3, 6)],     pal[Cell(6, 6)],
                                  pal[Cell(7, 6)], pal[Earth(kDusk, 1)], pal[Earth(kDusk, 2)]};
    for (int i = 0; i < 15; i++) pal[kFineGreyBase + 1 + 2 * i] = tinted(kTintSources[i]);
    pal[kClosingBorderIndex] = {235, 50, 190};
    pal[239] = {246, 246, 246};
    pal[kPureRedIndex] = {255, 0, 0};
    pal[kOutlineIndex] = {255, 255, 255};
    // Every entry distinct, so a picture's exact colours always map back to
    // their own indices, and none of them as near to (0,1,0) as black is.
    for (int i = 1; i < 256; i++) {
        for (bool clash = true; clash;) {
            clash = pal[i].r + pal[i].g + pal[i].b < 6;
            for (int j = 0; j < i && !clash; j++)
                clash = pal[j].r == pal[i].r && pal[j].g == pal[i].g && pal[j].b == pal[i].b;
            if (clash) pal[i].b = static_cast<uint8_t>(pal[i].b < 250 ? pal[i].b + 3 : pal[i].b - 7);
        }
    }
    return pal;
}

}  // namespace

const std::vector<Rgb>& Palette() {
    static const std::vector<Rgb> pal = BuildPalette();
    return pal;
}

int Nearest(int r, int g, int b) {
    const auto& pal = Palette();
    int best = 0;
    long bestD = 1L << 40;
    for (int i = 0; i < 256; i++) {
        long dr = pal[i].r - r, dg = pal[i].g - g, db = pal[i].b - b;
        long d = dr * dr + dg * dg + db * db;
        if (d < bestD) {
            bestD = d;
            best = i;
        }
    }
    return best;
}

void Image::FillRect(int x, int y, int w, int h, int index) {
    for (int j = y; j < y + h; j++)
        for (int i = x; i < x + w; i++) Set(i, j, index);
}

void Image::FillDisc(double cx, double cy, double r, int index) { FillRing(cx, cy, -1.0, r, index); }

// Pixels whose centres lie between the radii r0 (exclusive) and r1.
void Image::FillRing(double cx, double cy, double r0, double r1, int index) {
    for (int y = static_cast<int>(cy - r1) - 1; y <= static_cast<int>(cy + r1) + 1; y++)
        for (int x = static_cast<int>(cx - r1) - 1; x <= static_cast<int>(cx + r1) + 1; x++) {
            double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            if (d <= r1 && d > r0) Set(x, y, index);
        }
}

// A thick segment with round caps.
void Image::Line(double x0, double y0, double x1, double y1, double width, int index) {
    double r = width / 2.0;
    double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    int minX = static_cast<int>(std::min(x0, x1) - r) - 1, maxX = static_cast<int>(std::max(x0, x1) + r) + 1;
    int minY = static_cast<int>(std::min(y0, y1) - r) - 1, maxY = static_cast<int>(std::max(y0, y1) + r) + 1;
    for (int y = minY; y <= maxY; y++)
        for (int x = minX; x <= maxX; x++) {
            double px = x + 0.5 - x0, py = y + 0.5 - y0;
            double t = len2 > 0 ? std::clamp((px * dx + py * dy) / len2, 0.0, 1.0) : 0.0;
            if (std::hypot(px - t * dx, py - t * dy) <= r) Set(x, y, index);
        }
}

// Even-odd fill of a polygon given as x0, y0, x1, y1, ..., by pixel centres.
void Image::FillPolygon(const std::vector<double>& xy, int index) {
    size_t n = xy.size() / 2;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            double px = x + 0.5, py = y + 0.5;
            bool in = false;
            for (size_t i = 0, j = n - 1; i < n; j = i++) {
                double xi = xy[2 * i], yi = xy[2 * i + 1], xj = xy[2 * j], yj = xy[2 * j + 1];
                if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) in = !in;
            }
            if (in) At(x, y) = static_cast<uint8_t>(index);
        }
}

void WritePng(const std::string& path, const Image& image) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "nuvel-gen: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "nuvel-gen: PNG encoding failed for %s\n", path.c_str());
        std::exit(1);
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color colors[256];
    const auto& pal = Palette();
    for (int i = 0; i < 256; i++) colors[i] = {pal[i].r, pal[i].g, pal[i].b};
    png_set_PLTE(png, info, colors, 256);
    png_write_info(png, info);
    for (int y = 0; y < image.height; y++)
        png_write_row(png, image.pixels.data() + static_cast<size_t>(y) * image.width);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

void WriteFile(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size()) {
        std::fprintf(stderr, "nuvel-gen: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fclose(f);
}

}  // namespace gen
