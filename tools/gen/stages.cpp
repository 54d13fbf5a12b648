// The stages: 640x416 pictures whose index 0 is open ground, and the stage
// list that names them. Every stage is symmetric about both axes and gives
// the four start places mirrored positions and headings, so each place is
// as good as the others.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "gen.h"

namespace gen {

namespace {

constexpr int kW = kScreenWidth;
constexpr int kH = 416;  // stage pictures are drawn from screen row 16 down

struct Start {
    int x, y, heading;  // -1: random
};

struct Stage {
    const char* file;
    const char* title;
    std::function<void(Image&, Random&)> draw;
    Start first;            // player 1's place; the others are its mirror images
    std::string extraKeys;  // item, scope and effect lines
};

// A bevelled stone block, lit from the upper left, with a grainy face.
void Block(Image& img, Random& rnd, int x, int y, int w, int h, int hue) {
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) {
            int shade = 4 + (rnd.Below(5) == 0 ? (rnd.Below(2) ? 1 : -1) : 0);
            if (i < 2 || j < 2) shade = 6;
            if (i >= w - 2 || j >= h - 2) shade = 2;
            if ((i < 1 || j < 1) && !(i >= w - 1 || j >= h - 1)) shade = 7;
            img.Set(x + i, y + j, Earth(hue, shade));
        }
}

// A rounded boulder or bush, shaded as a sphere lit from the upper left.
void Blob(Image& img, Random& rnd, double cx, double cy, double r, int hue) {
    for (int y = static_cast<int>(cy - r) - 1; y <= static_cast<int>(cy + r) + 1; y++)
        for (int x = static_cast<int>(cx - r) - 1; x <= static_cast<int>(cx + r) + 1; x++) {
            double dx = (x + 0.5 - cx) / r, dy = (y + 0.5 - cy) / r, d2 = dx * dx + dy * dy;
            if (d2 > 1.0) continue;
            double nz = std::sqrt(1.0 - d2), light = (-0.5 * dx - 0.6 * dy + 0.62 * nz) * 0.9 + 0.1;
            int shade = std::clamp(static_cast<int>(light * 7.0 + 1.0 + rnd.Signed() * 0.7), 1, 7);
            img.Set(x, y, Earth(hue, shade));
        }
}

// Draws a rectangle and its three mirror images with the same lighting; a
// rectangle that reaches a centre line joins its mirror image into one.
void Block4(Image& img, Random& rnd, int x, int y, int w, int h, int hue) {
    bool joinX = x + w == kW / 2, joinY = y + h == kH / 2;
    int ww = joinX ? 2 * w : w, hh = joinY ? 2 * h : h;
    Block(img, rnd, x, y, ww, hh, hue);
    if (!joinX) Block(img, rnd, kW - x - w, y, ww, hh, hue);
    if (!joinY) Block(img, rnd, x, kH - y - h, ww, hh, hue);
    if (!joinX && !joinY) Block(img, rnd, kW - x - w, kH - y - h, ww, hh, hue);
}

void Blob4(Image& img, Random& rnd, double cx, double cy, double r, int hue) {
    Blob(img, rnd, cx, cy, r, hue);
    Blob(img, rnd, kW - cx, cy, r, hue);
    Blob(img, rnd, cx, kH - cy, r, hue);
    Blob(img, rnd, kW - cx, kH - cy, r, hue);
}

void Pillars(Image& img, Random& rnd) {
    Block4(img, rnd, 200, 120, 56, 56, kStone);
    Block4(img, rnd, 40, 188, 60, 20, kStone);
}

void Crossroads(Image& img, Random& rnd) {
    Block4(img, rnd, 304, 40, 16, 120, kRust);
    Block4(img, rnd, 120, 200, 150, 8, kRust);
    Blob(img, rnd, 320, 208, 22, kStone);
}

void Garden(Image& img, Random& rnd) {
    Blob4(img, rnd, 180, 110, 26, kMoss);
    Blob4(img, rnd, 320, 70, 18, kMoss);
    Blob4(img, rnd, 90, 208, 16, kMoss);
    Blob4(img, rnd, 260, 208, 12, kMoss);
    Blob(img, rnd, 320, 208, 30, kMoss);
}

void ClosingRing(Image& img, Random& rnd) {
    Blob4(img, rnd, 250, 160, 10, kTeal);
    Blob(img, rnd, 320, 208, 14, kTeal);
}

void Corridors(Image& img, Random& rnd) {
    Block4(img, rnd, 40, 100, 220, 14, kDusk);
    Block4(img, rnd, 180, 180, 100, 14, kDusk);
    Block4(img, rnd, 312, 0, 8, 70, kDusk);
}

void Fortress(Image& img, Random& rnd) {
    // Four wall pieces round the keep leave a gate on every side.
    Block4(img, rnd, 220, 130, 70, 14, kStone);
    Block4(img, rnd, 220, 130, 14, 50, kStone);
    Blob4(img, rnd, 227, 137, 20, kStone);
    Blob(img, rnd, 320, 208, 24, kSoil);
}

void Diamonds(Image& img, Random& rnd) {
    auto diamond = [&](double cx, double cy, double r) {
        for (int y = static_cast<int>(cy - r); y <= static_cast<int>(cy + r); y++)
            for (int x = static_cast<int>(cx - r); x <= static_cast<int>(cx + r); x++) {
                double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                double d = std::fabs(dx) + std::fabs(dy);
                if (d > r) continue;
                int shade = d > r - 2 ? (dx + dy < 0 ? 7 : 2) : (dx + dy < 0 ? 5 : 4) + (rnd.Below(6) == 0);
                img.Set(x, y, Earth(kRust, shade));
            }
    };
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 4; i++) {
            double cx = 110 + 140 * i, cy = 78 + 130 * j;
            if ((i == 0 || i == 3) && j == 1) continue;
            diamond(cx, cy, j == 1 ? 36 : 26);
        }
}

void Islands(Image& img, Random& rnd) {
    for (int k = 0; k < 6; k++) {
        double a = k * 3.141592653589793 / 3.0;
        Blob(img, rnd, 320 + 130 * std::cos(a), 208 + 110 * std::sin(a), 18, kTeal);
    }
    Block4(img, rnd, 150, 60, 40, 10, kTeal);
}

std::vector<Stage> Stages() {
    return {
        {"ARENA.png", "OPEN ARENA", nullptr, {-1, -1, -1}, ""},
        {"PILLARS.png", "FOUR PILLARS", Pillars, {120, 96, 0}, ""},
        {"CROSSROADS.png",
         "CROSSROADS",
         Crossroads,
         {80, 80, 0},
         "1P_ITEM=BOMB,2\n2P_ITEM=BOMB,2\n3P_ITEM=BOMB,2\n4P_ITEM=BOMB,2\n"
         "1P_ITEM=JUMP\n2P_ITEM=JUMP\n3P_ITEM=JUMP\n4P_ITEM=JUMP\n"},
        {"GARDEN.png", "MOSS GARDEN", Garden, {60, 60, 330}, "EFFECT=1\n"},
        {"RING.png",
         "CLOSING RING",
         ClosingRing,
         {200, 120, 0},
         "; the border closes in by one pixel every second\nEFFECT=2\n"},
        {"CORRIDORS.png", "CORRIDORS", Corridors, {140, 50, -1}, "ITEM_SCOPE=160,120,480,296\n"},
        {"FORTRESS.png",
         "FORTRESS",
         Fortress,
         {80, 60, 0},
         "1P_ITEM=BARRIER\n2P_ITEM=BARRIER\n3P_ITEM=BARRIER\n4P_ITEM=BARRIER\n"},
        {"DIAMONDS.png", "DIAMOND FIELD", Diamonds, {40, 150, 90}, ""},
        {"ISLANDS.png", "ISLANDS", Islands, {60, 150, 0}, "ITEM_SCOPE=200,110,440,306\n"},
    };
}

Start Mirror(Start s, bool mx, bool my) {
    if (s.x < 0) return s;
    Start m = s;
    if (mx) {
        m.x = kW - 1 - s.x;
        if (s.heading >= 0) m.heading = (540 - s.heading) % 360;
    }
    if (my) {
        m.y = kH - 1 - s.y;
        if (m.heading >= 0) m.heading = (360 - m.heading) % 360;
    }
    return m;
}

// A start place must lie on open ground with room round it and a clear run
// ahead of it (any way ahead when the heading is random).
void CheckStart(const Image& img, const char* file, Start s) {
    if (s.x < 0) return;
    auto open = [&](double x, double y) {
        int ix = static_cast<int>(x), iy = static_cast<int>(y);
        return ix >= 1 && iy >= 1 && ix < kW - 1 && iy < kH - 1 && img.At(ix, iy) == 0;
    };
    bool ok = true;
    for (int a = 0; a < 360 && ok; a += 30) {
        bool ahead = s.heading < 0 || a == s.heading;
        double reach = ahead ? 48.0 : 10.0;
        for (double r = 0; r <= reach && ok; r += 1.0)
            ok = open(s.x + r * std::cos(a * 3.14159265 / 180.0), s.y - r * std::sin(a * 3.14159265 / 180.0));
    }
    if (!ok) {
        std::fprintf(stderr, "nuvel-gen: start place %d,%d of %s has no room\n", s.x, s.y, file);
        std::exit(1);
    }
}

}  // namespace

void WriteStages(const std::string& dir) {
    std::string list =
        "; Stage list: FILE= opens an entry, the other keys describe it.\n"
        "; nP=x,y,heading (-1 for random), nP_ITEM=item[,count], ITEM_SCOPE=left,top,right,bottom,\n"
        "; EFFECT=0 none, 1 random dots, 2 closing border.\n";
    uint32_t seed = 1;
    for (const Stage& st : Stages()) {
        Image img(kW, kH);
        Random rnd(0x5eed0000u + seed++);
        if (st.draw) st.draw(img, rnd);
        WritePng(dir + "Stage/" + st.file, img);
        list += std::string("\nFILE=") + st.file + "\nTITLE=" + st.title + "\n";
        for (int p = 0; p < 4; p++) {
            Start s = Mirror(st.first, p % 2 == 1, p >= 2);
            CheckStart(img, st.file, s);
            list += std::to_string(p + 1) + "P=" + std::to_string(s.x) + "," + std::to_string(s.y) + "," +
                    std::to_string(s.heading) + "\n";
        }
        list += st.extraKeys;
    }
    WriteFile(dir + "Stage/stage.txt", list);
}

}  // namespace gen
