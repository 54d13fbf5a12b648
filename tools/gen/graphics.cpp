// The four base pictures: the font with its colour cells (and the palette),
// the menu background tile, the highlight bar's ends and the title light.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "gen.h"

namespace gen {

namespace {

// 5x7 patterns of the glyph set, in font-grid order: A-Z, 0-9, then the
// symbol row l d r * = . < > + ] [ \ / u p : (l, d, r, u are arrows; p is the per-cent sign of
// the options menu's "%d p" values; the colon is for the game's hints).
const char* const kGlyphs[] = {
    ".###.#...##...#######...##...##...#",
    "####.#...##...#####.#...##...#####.",
    ".###.#...##....#....#....#...#.###.",
    "###..#..#.#...##...##...##..#.###..",
    "######....#....####.#....#....#####",
    "######....#....####.#....#....#....",
    ".###.#...##....#.####...##...#.####",
    "#...##...##...#######...##...##...#",
    ".###...#....#....#....#....#...###.",
    "..###...#....#....#....#.#..#..##..",
    "#...##..#.#.#..##...#.#..#..#.#...#",
    "#....#....#....#....#....#....#####",
    "#...###.###.#.##.#.##...##...##...#",
    "#...##...###..##.#.##..###...##...#",
    ".###.#...##...##...##...##...#.###.",
    "####.#...##...#####.#....#....#....",
    ".###.#...##...##...##.#.##..#..##.#",
    "####.#...##...#####.#.#..#..#.#...#",
    ".#####....#.....###.....#....#####.",
    "#####..#....#....#....#....#....#..",
    "#...##...##...##...##...##...#.###.",
    "#...##...##...##...##...#.#.#...#..",
    "#...##...##...##.#.##.#.##.#.#.#.#.",
    "#...##...#.#.#...#...#.#.#...##...#",
    "#...##...#.#.#...#....#....#....#..",
    "#####....#...#...#...#...#....#####",
    ".###.#...##..###.#.###..##...#.###.",
    "..#...##....#....#....#....#...###.",
    ".###.#...#....#...#...#...#...#####",
    "#####...#...#.....#.....##...#.###.",
    "...#...##..#.#.#..#.#####...#....#.",
    "######....####.....#....##...#.###.",
    "..##..#...#....####.#...##...#.###.",
    "#####....#...#...#...#....#....#...",
    ".###.#...##...#.###.#...##...#.###.",
    ".###.#...##...#.####....#...#..##..",
    // symbols
    ".......#...#...#####.#.....#.......",
    "..#....#....#..#.#.#.###...#.......",
    ".......#.....#.#####...#...#.......",
    ".....#.#.#.###.#####.###.#.#.#.....",
    "..........#####.....#####..........",
    ".........................##...##...",
    "...#...#...#...#.....#.....#.....#.",
    "#.....#.....#.....#...#...#...#....",
    ".......#....#..#####..#....#.......",
    ".###....#....#....#....#....#..###.",
    ".###..#....#....#....#....#....###.",
    "#....#.....#.....#.....#.....#....#",
    "....#....#...#...#...#...#....#....",
    "..#...###.#.#.#..#....#....#.......",
    "##...##..#...#...#...#...#..##...##",
    ".......##...##.............##...##.",
};
constexpr int kGlyphCount = sizeof(kGlyphs) / sizeof(kGlyphs[0]);

bool GlyphBit(int g, int x, int y) {
    if (x < 0 || y < 0 || x > 4 || y > 6) return false;
    const char* s = kGlyphs[g];
    int i = y * 5 + x;
    return i < static_cast<int>(std::strlen(s)) && s[i] == '#';
}

// Doubles a glyph with the Scale2x rule, which rounds the diagonals instead
// of making stairs: a 5x7 pattern becomes 10x14.
void Scale2x(int g, bool out[14][10]) {
    for (int y = 0; y < 7; y++)
        for (int x = 0; x < 5; x++) {
            bool e = GlyphBit(g, x, y), b = GlyphBit(g, x, y - 1), h = GlyphBit(g, x, y + 1);
            bool d = GlyphBit(g, x - 1, y), f = GlyphBit(g, x + 1, y);
            bool e0 = e, e1 = e, e2 = e, e3 = e;
            if (b != h && d != f) {
                e0 = d == b ? d : e;
                e1 = b == f ? f : e;
                e2 = d == h ? d : e;
                e3 = h == f ? f : e;
            }
            out[2 * y][2 * x] = e0;
            out[2 * y][2 * x + 1] = e1;
            out[2 * y + 1][2 * x] = e2;
            out[2 * y + 1][2 * x + 1] = e3;
        }
}

// First face: near-white letters with a dark shadow one pixel down-right, so
// they read on every colour cell and on the background.
void DrawFaceOne(Image& img, int g, int cx, int cy) {
    bool m[14][10];
    Scale2x(g, m);
    for (int y = 0; y < 14; y++)
        for (int x = 0; x < 10; x++)
            if (m[y][x]) img.Set(cx + 3 + x + 1, cy + 1 + y + 1, Grey(2));
    for (int y = 0; y < 14; y++)
        for (int x = 0; x < 10; x++)
            if (m[y][x]) img.Set(cx + 3 + x, cy + 1 + y, 239);
}

// Second face, shown large (the logo at 112x112): bold strokes with a warm
// gradient from pale gold at the top to deep orange at the bottom, a light
// upper edge and a dark outline.
void DrawFaceTwo(Image& img, int g, int cx, int cy) {
    bool m[14][10];
    Scale2x(g, m);
    bool bold[16][14] = {};
    for (int y = 0; y < 14; y++)
        for (int x = 0; x < 10; x++)
            if (m[y][x]) bold[y + 1][x + 1] = bold[y + 1][x + 2] = true;
    static const int kRows[14] = {Bright(kYellow, 2),
                                  Bright(kYellow, 1),
                                  Bright(kYellow, 0),
                                  Bright(kYellow, 0),
                                  Nearest(255, 200, 0),
                                  Nearest(255, 185, 0),
                                  Bright(kOrange, 1),
                                  Nearest(255, 160, 20),
                                  Bright(kOrange, 0),
                                  Bright(kOrange, 0),
                                  Nearest(240, 115, 10),
                                  Nearest(225, 95, 20),
                                  Cell(0, 6),
                                  Cell(0, 5)};
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 14; x++) {
            if (bold[y][x]) {
                bool top = y == 0 || !bold[y - 1][x];
                int row = std::clamp(y - 1, 0, 13);
                img.Set(cx + 1 + x, cy + y, top ? Bright(kYellow, 3) : kRows[row]);
                continue;
            }
            bool edge = false;
            for (int dy = -1; dy <= 1; dy++)
                for (int dx = -1; dx <= 1; dx++) {
                    int yy = y + dy, xx = x + dx;
                    if (yy >= 0 && yy < 16 && xx >= 0 && xx < 14 && bold[yy][xx]) edge = true;
                }
            if (edge) img.Set(cx + 1 + x, cy + y, Earth(kRust, 0));
        }
}

// Colour cell n: a soft vertical gradient of its hue with a light top edge.
void DrawCell(Image& img, int n) {
    static const int kShade[16] = {7, 6, 6, 5, 5, 5, 4, 4, 4, 4, 3, 3, 3, 2, 2, 1};
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) img.Set(16 * n + x, y, Cell(n, kShade[y]));
}

Image Font() {
    Image img(640, 80);
    for (int n = 0; n < 8; n++) DrawCell(img, n);
    for (int g = 0; g < kGlyphCount; g++) {
        int col = g < 36 ? g : g - 36, row = g < 36 ? 1 : 2;
        DrawFaceOne(img, g, 16 * col, 16 * row);
        DrawFaceTwo(img, g, 16 * col, 16 * (row + 2));
    }
    return img;
}

// A calm 128x128 tile: dark slate with two slow diagonal swells and a fine
// weave. Every term has a period that divides 128, so the tile repeats.
Image Background() {
    Image img(128, 128);
    constexpr double kTau = 6.283185307179586;
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 128; x++) {
            double v = 0.5 * std::sin(kTau * (x + y) / 128.0) + 0.3 * std::sin(kTau * (x - y) / 64.0) +
                       0.25 * std::sin(kTau * (2 * x + y) / 128.0);
            bool weave = ((x + y) % 8 == 0) || ((x - y + 128) % 8 == 0);
            int shade = std::clamp(static_cast<int>(std::lround(1.4 + v)), 0, 3);
            if (weave && shade < 3) shade++;
            img.At(x, y) = static_cast<uint8_t>(Earth(kDusk, shade));
        }
    return img;
}

// The highlight bar's ends: a disc of diameter 24, the left half giving the
// left end and the right half the right end.
Image Cursor() {
    Image img(24, 24);
    img.FillDisc(12.0, 12.0, 12.0, Grey(15));
    return img;
}

// The title's light: a soft diagonal band, brightest along its middle. The
// values are grey-table numbers (16 dimmest to 31 brightest), 0 is no light.
Image TitleLight() {
    Image img(160, 112);
    for (int y = 0; y < 112; y++)
        for (int x = 0; x < 160; x++) {
            double d = std::fabs((x - 80.0) + 0.45 * (y - 56.0));
            double glow = 1.0 - d / 34.0;
            double streak = 1.0 - std::fabs((x - 118.0) + 0.45 * (y - 56.0)) / 7.0;
            double v = std::max(glow > 0 ? glow * glow * (3 - 2 * glow) : 0.0, streak > 0 ? 0.45 * streak : 0.0);
            if (v > 0.02) img.At(x, y) = static_cast<uint8_t>(16 + std::clamp(static_cast<int>(v * 15.99), 0, 15));
        }
    return img;
}

}  // namespace

void WriteGraphics(const std::string& dir) {
    WritePng(dir + "Graphics/font.png", Font());
    WritePng(dir + "Graphics/background.png", Background());
    WritePng(dir + "Graphics/cursor.png", Cursor());
    WritePng(dir + "Graphics/title_light.png", TitleLight());
}

}  // namespace gen
