// The 23 item pictures, 24x24 each: one small emblem per item kind, with
// index 0 outside the emblem so that lines pass through its gaps.
#include <algorithm>
#include <cmath>
#include <vector>

#include "gen.h"

namespace gen {

namespace {

constexpr double kPi = 3.141592653589793;

void Arrowhead(Image& img, double x, double y, double dx, double dy, double size, int c) {
    double len = std::hypot(dx, dy);
    dx /= len;
    dy /= len;
    img.FillPolygon({x + dx * size, y + dy * size, x - dy * size * 0.8, y + dx * size * 0.8, x + dy * size * 0.8,
                     y - dx * size * 0.8},
                    c);
}

void Polyline(Image& img, const std::vector<double>& xy, double w, int c) {
    for (size_t i = 2; i + 1 < xy.size(); i += 2) img.Line(xy[i - 2], xy[i - 1], xy[i], xy[i + 1], w, c);
}

void SpeedUp(Image& g) {
    Polyline(g, {4, 13, 12, 5, 20, 13}, 3.2, Bright(kGreen, 0));
    Polyline(g, {4, 20, 12, 12, 20, 20}, 3.2, Bright(kGreen, 2));
}
void SpeedDown(Image& g) {
    Polyline(g, {4, 4, 12, 12, 20, 4}, 3.2, Bright(kBlue, 2));
    Polyline(g, {4, 11, 12, 19, 20, 11}, 3.2, Bright(kBlue, 0));
}
void Bomb(Image& g) {
    g.FillDisc(11, 14, 8.5, Grey(4));
    g.FillDisc(8.5, 11, 2.6, Grey(9));
    g.Line(15, 7, 18, 3.5, 2.2, Earth(kSoil, 6));
    g.Line(19, 1, 21, 5, 1.2, Bright(kYellow, 0));
    g.Line(17.5, 3, 22.5, 3, 1.2, Bright(kOrange, 0));
    g.Set(20, 3, Bright(kYellow, 3));
}
void Laser(Image& g) {
    g.FillRect(1, 15, 8, 7, Grey(8));
    g.FillRect(2, 16, 6, 2, Grey(12));
    g.Line(8, 16, 22, 2, 4.0, Bright(kRed, 0));
    g.Line(8, 16, 22, 2, 1.4, Bright(kRed, 3));
}
void Change(Image& g) {
    g.Line(3, 8, 16, 8, 2.6, Bright(kCyan, 0));
    Arrowhead(g, 16, 8, 1, 0, 5, Bright(kCyan, 0));
    g.Line(21, 16, 8, 16, 2.6, Bright(kPink, 0));
    Arrowhead(g, 8, 16, -1, 0, 5, Bright(kPink, 0));
}
void Warp(Image& g) {
    double px = 12, py = 12;
    for (int i = 1; i <= 80; i++) {
        double t = i * 4.2 * kPi / 80.0, r = 1.0 + 10.0 * i / 80.0;
        double x = 12 + r * std::cos(t), y = 12 + r * std::sin(t);
        g.Line(px, py, x, y, 2.4, Bright(kViolet, i < 30 ? 2 : i < 55 ? 1 : 0));
        px = x;
        py = y;
    }
    g.FillDisc(12, 12, 1.8, Bright(kViolet, 3));
}
void Missile(Image& g) {
    g.FillDisc(4.5, 19.5, 3.6, Bright(kOrange, 0));
    g.FillDisc(4, 20, 1.8, Bright(kYellow, 1));
    g.FillPolygon({4, 13, 9, 13, 10, 15}, Bright(kRed, 0));
    g.FillPolygon({11, 20, 11, 15, 9, 14}, Bright(kRed, 0));
    g.Line(7, 17, 15, 9, 6.0, Grey(12));
    g.FillPolygon({12.5, 7, 22, 2, 17, 11.5}, Bright(kRed, 0));
    g.FillDisc(12.5, 11.5, 1.3, Bright(kCyan, 1));
}
void Cosmo(Image& g) {
    auto ring = [&](bool front) {
        for (int i = 0; i < 72; i++) {
            double a0 = i * 2 * kPi / 72, a1 = (i + 1) * 2 * kPi / 72;
            if ((std::sin(a0) > 0) != front) continue;
            auto pt = [](double a, double& x, double& y) {
                double ex = 11.0 * std::cos(a), ey = 3.6 * std::sin(a), c = std::cos(-0.45), s = std::sin(-0.45);
                x = 12 + ex * c - ey * s;
                y = 12 + ex * s + ey * c;
            };
            double x0, y0, x1, y1;
            pt(a0, x0, y0);
            pt(a1, x1, y1);
            g.Line(x0, y0, x1, y1, 1.8, Bright(kYellow, 1));
        }
    };
    ring(false);
    g.FillDisc(12, 12, 6.5, Bright(kViolet, 0));
    g.FillDisc(10, 10, 2.5, Bright(kViolet, 2));
    ring(true);
    g.Set(3, 3, Grey(15));
    g.Set(20, 21, Grey(15));
    g.Set(21, 5, Grey(12));
}
void Jump(Image& g) {
    g.FillRect(1, 20, 22, 3, Earth(kSoil, 5));
    double px = 3, py = 18;
    for (int i = 1; i <= 20; i++) {
        double t = i / 20.0, x = 3 + 16 * t, y = 18 - 56 * t * (1 - t);
        g.Line(px, py, x, y, 2.4, Bright(kGreen, 1));
        px = x;
        py = y;
    }
    Arrowhead(g, 19, 15, 0.5, 1, 4.5, Bright(kGreen, 1));
}
void Barrier(Image& g) {
    g.FillPolygon({12, 1, 21, 4, 20, 13, 12, 22, 4, 13, 3, 4}, Bright(kBlue, 2));
    g.FillPolygon({12, 4, 18, 6, 17.5, 12.5, 12, 19, 6.5, 12.5, 6, 6}, Bright(kBlue, 0));
    g.Line(12, 6, 12, 16, 2, Bright(kBlue, 3));
    g.Line(8, 10, 16, 10, 2, Bright(kBlue, 3));
}
void LrFlip(Image& g) {
    g.Line(4, 12, 20, 12, 2.6, Bright(kOrange, 0));
    Arrowhead(g, 19, 12, 1, 0, 5, Bright(kOrange, 0));
    Arrowhead(g, 5, 12, -1, 0, 5, Bright(kOrange, 0));
    g.Line(12, 3, 12, 8, 2, Grey(14));
    g.Line(12, 16, 12, 21, 2, Grey(14));
}
void Clean(Image& g) {
    g.Line(19, 1.5, 11, 13, 2.4, Earth(kSoil, 6));
    g.FillPolygon({6, 13, 12, 11, 15, 15, 9, 22, 2, 21}, Bright(kYellow, 1));
    g.Line(8, 15, 5, 20.5, 1, Earth(kSoil, 5));
    g.Line(11, 15, 8, 21, 1, Earth(kSoil, 5));
    g.Line(19, 15, 19, 21, 1, Grey(15));
    g.Line(16, 18, 22, 18, 1, Grey(15));
}
void Move(Image& g) {
    g.Line(12, 5, 12, 19, 2.6, Bright(kCyan, 1));
    g.Line(5, 12, 19, 12, 2.6, Bright(kCyan, 1));
    Arrowhead(g, 12, 4.5, 0, -1, 4.2, Bright(kCyan, 1));
    Arrowhead(g, 12, 19.5, 0, 1, 4.2, Bright(kCyan, 1));
    Arrowhead(g, 4.5, 12, -1, 0, 4.2, Bright(kCyan, 1));
    Arrowhead(g, 19.5, 12, 1, 0, 4.2, Bright(kCyan, 1));
}
void ItemDel(Image& g) {
    g.FillPolygon({5, 8, 19, 8, 17.5, 22, 6.5, 22}, Grey(9));
    g.FillRect(3, 5, 18, 2, Grey(12));
    g.FillRect(9, 3, 6, 2, Grey(12));
    for (int x : {8, 12, 16}) g.Line(x, 10.5, x, 19.5, 1.2, Grey(5));
    g.Line(1.5, 1.5, 22.5, 22.5, 2.2, Bright(kRed, 0));
}
void Wall(Image& g) {
    g.FillRect(1, 3, 22, 19, Earth(kStone, 3));
    for (int row = 0; row < 4; row++) {
        int y = 4 + 4 * row, off = row % 2 ? -4 : 0;
        for (int x = 1 + off; x < 23; x += 8) {
            int x0 = std::max(x + 1, 2), x1 = std::min(x + 7, 22);
            g.FillRect(x0, y, x1 - x0, 3, Earth(kRust, 5));
            g.FillRect(x0, y, x1 - x0, 1, Earth(kRust, 7));
        }
    }
}
void Question(Image& g) {
    g.FillDisc(12, 12, 11, Bright(kViolet, 0));
    Polyline(g, {7.5, 8.5, 8.5, 5.5, 12, 4.5, 15.5, 5.5, 16.5, 8.5, 15, 11, 12, 12.5, 12, 15}, 2.6, Grey(15));
    g.FillDisc(12, 19, 1.7, Grey(15));
}
void Stop(Image& g) {
    std::vector<double> oct;
    for (int i = 0; i < 8; i++) {
        double a = (i + 0.5) * kPi / 4;
        oct.push_back(12 + 11.5 * std::cos(a));
        oct.push_back(12 + 11.5 * std::sin(a));
    }
    g.FillPolygon(oct, Bright(kRed, 0));
    g.FillRect(7, 6, 4, 12, Grey(15));
    g.FillRect(13, 6, 4, 12, Grey(15));
}
void LrMirror(Image& g) {
    g.FillPolygon({2, 5, 10, 12, 2, 19}, Bright(kPink, 0));
    g.FillPolygon({22, 5, 14, 12, 22, 19}, Bright(kPink, 2));
    for (int y = 1; y < 23; y += 4) g.FillRect(11, y, 2, 2, Grey(15));
}
void UdMirror(Image& g) {
    g.FillPolygon({5, 2, 12, 10, 19, 2}, Bright(kGreen, 0));
    g.FillPolygon({5, 22, 12, 14, 19, 22}, Bright(kGreen, 2));
    for (int x = 1; x < 23; x += 4) g.FillRect(x, 11, 2, 2, Grey(15));
}
void Gravity(Image& g) {
    for (int y = 0; y < 24; y++)
        for (int x = 0; x < 24; x++) {
            double d = std::hypot(x + 0.5 - 12, y + 0.5 - 11);
            bool lower = y + 0.5 >= 11 && d >= 3.5 && d <= 9.5;
            bool arms = y + 0.5 < 11 && y >= 2 && ((x >= 3 && x < 9) || (x >= 15 && x < 21));
            if (lower || arms) g.Set(x, y, y < 6 ? Grey(13) : Bright(kRed, 0));
        }
    g.Line(12, 19, 12, 23, 1.2, Grey(15));
}
void PingPong(Image& g) {
    g.Line(14, 14, 21, 21, 3.4, Earth(kSoil, 5));
    g.FillDisc(9.5, 9.5, 8, Bright(kRed, 0));
    g.FillDisc(7.5, 7.5, 3, Bright(kRed, 1));
    g.FillDisc(19.5, 4.5, 3, Grey(15));
}
void Mold(Image& g) {
    g.FillDisc(8, 15, 6, Earth(kMoss, 3));
    g.FillDisc(15.5, 9.5, 5, Earth(kMoss, 4));
    g.FillDisc(16.5, 17.5, 4.5, Earth(kMoss, 5));
    g.FillDisc(8.5, 6.5, 3, Earth(kMoss, 6));
    for (auto [x, y] : {std::pair{6, 14}, {10, 17}, {15, 8}, {17, 18}, {9, 6}, {4, 17}}) {
        g.Set(x, y, Earth(kMoss, 1));
        g.Set(x + 1, y, Earth(kMoss, 1));
    }
}
void Invincible(Image& g) {
    std::vector<double> star;
    for (int i = 0; i < 10; i++) {
        double a = -kPi / 2 + i * kPi / 5, r = i % 2 ? 4.8 : 11.5;
        star.push_back(12 + r * std::cos(a));
        star.push_back(12.8 + r * std::sin(a));
    }
    g.FillPolygon(star, Bright(kOrange, 0));
    for (size_t i = 0; i < star.size(); i += 2) {
        star[i] = 12 + (star[i] - 12) * 0.62;
        star[i + 1] = 12.8 + (star[i + 1] - 12.8) * 0.62;
    }
    g.FillPolygon(star, Bright(kYellow, 1));
}

// A dark rim round every emblem keeps it readable on trails of any colour.
void Outline(Image& g) {
    Image src = g;
    for (int y = 0; y < 24; y++)
        for (int x = 0; x < 24; x++) {
            if (src.At(x, y)) continue;
            for (int d = 0; d < 4; d++) {
                int xx = x + (d == 0) - (d == 1), yy = y + (d == 2) - (d == 3);
                if (src.Inside(xx, yy) && src.At(xx, yy)) {
                    g.At(x, y) = static_cast<uint8_t>(Grey(2));
                    break;
                }
            }
        }
}

}  // namespace

void WriteItems(const std::string& dir) {
    void (*const kDraw[kItemKinds])(Image&) = {
        SpeedUp, SpeedDown, Bomb, Laser,    Change, Warp,     Missile,  Cosmo,   Jump,     Barrier, LrFlip,    Clean,
        Move,    ItemDel,   Wall, Question, Stop,   LrMirror, UdMirror, Gravity, PingPong, Mold,    Invincible};
    for (int k = 0; k < kItemKinds; k++) {
        Image g(24, 24);
        kDraw[k](g);
        Outline(g);
        WritePng(dir + "Graphics/Items/" + kItemKeyNames[k].text + ".png", g);
    }
}

}  // namespace gen
