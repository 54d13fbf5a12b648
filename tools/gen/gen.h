// Shared pieces of the data set generator: an 8-bit picture with the game's
// palette, a deterministic random generator, and the writers of each part of
// the game folder.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/gamedata.h"

namespace gen {

struct Rgb {
    uint8_t r, g, b;
};

// The palette every picture carries (font.png makes it the game's palette).
const std::vector<Rgb>& Palette();

// The generator's own colour groups around the fixed palette roles of the
// data contract (app/gamedata.h). Player p's ramp is PlayerRampIndex(p, k).
constexpr int kGreyBase = 0;        // 0..15: black and fifteen greys
constexpr int kCellBase = 80;       // 8 text colours x 8 shades, dark to light
constexpr int kEarthBase = 144;     // 6 scenery hues x 8 shades
constexpr int kBrightBase = 192;    // 8 hues x 4 shades (saturated to pastel)
constexpr int kFineGreyBase = 224;  // 224..254 fine greys and highlighted text hues, except the roles
static_assert(kCellBase == PlayerRampIndex(4, 0), "the player ramps end where the text colours begin");

inline int PlayerColor(int p, int k) { return PlayerRampIndex(p, k); }
inline int Cell(int hue, int shade) { return kCellBase + 8 * hue + shade; }
inline int Earth(int hue, int shade) { return kEarthBase + 8 * hue + shade; }
inline int Bright(int hue, int shade) { return kBrightBase + 4 * hue + shade; }
// Greys 1..15 lighten from 16 to 240.
inline int Grey(int level) { return kGreyBase + level; }

// Scenery hues of the Earth group.
enum EarthHue { kStone = 0, kSoil, kMoss, kTeal, kDusk, kRust };
// Hues of the Bright group.
enum BrightHue { kRed = 0, kOrange, kYellow, kGreen, kCyan, kBlue, kViolet, kPink };

// An 8-bit palette picture, rows top-down.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    Image(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h, 0) {}
    uint8_t& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    uint8_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    void Set(int x, int y, int index) {
        if (Inside(x, y)) At(x, y) = static_cast<uint8_t>(index);
    }
    void FillRect(int x, int y, int w, int h, int index);
    void FillDisc(double cx, double cy, double r, int index);
    void FillRing(double cx, double cy, double r0, double r1, int index);
    void Line(double x0, double y0, double x1, double y1, double width, int index);
    void FillPolygon(const std::vector<double>& xy, int index);
};

// Deterministic random numbers (xorshift), so every run writes the same bytes.
class Random {
public:
    explicit Random(uint32_t seed) : m_state(seed ? seed : 1) {}
    uint32_t Next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
    double Unit() { return (Next() >> 8) * (1.0 / 16777216.0); }
    double Signed() { return Unit() * 2.0 - 1.0; }

private:
    uint32_t m_state;
};

// Index of the palette entry nearest to a colour (least squares, ties low).
int Nearest(int r, int g, int b);

// Writes a picture as an 8-bit PNG with the full 256-entry palette.
void WritePng(const std::string& path, const Image& image);
void WriteFile(const std::string& path, const std::string& data);

// The parts of the game folder; dir is the game folder with a trailing '/'.
void WriteGraphics(const std::string& dir);
void WriteItems(const std::string& dir);
void WriteStages(const std::string& dir);
void WriteSounds(const std::string& dir);
void WriteMusic(const std::string& dir);
// The desktop icons tarnwick_64.png and tarnwick_256.png; dir ends in '/'.
void WriteIcons(const std::string& dir);

}  // namespace gen
