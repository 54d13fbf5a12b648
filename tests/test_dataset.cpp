// The generated game folder holds what the game reads: pictures of the right
// sizes with the palette's fixed roles, the item pictures, stages that the
// real list parser accepts with every start place on open ground, PCM effects
// and Standard MIDI Files, and list entries that all exist.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/gamedata.h"
#include "graphics/dibsection.h"
#include "screens/stageselect.h"
#include "testutil.h"

namespace {

using testutil::ScopedCwd;

struct Color {
    int r, g, b;
};

std::vector<Color> ColorTable(const CDibSection& dib) {
    RgbQuad q[256];
    dib.GetColorTable(0, 256, q);
    std::vector<Color> out;
    for (const RgbQuad& c : q) out.push_back({c.red, c.green, c.blue});
    return out;
}

int Distance2(Color a, Color b) {
    return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
}

uint8_t Pixel(const CDibSection& dib, int x, int y) { return *dib.PixelAddress(x, y); }

std::string Resolve(const std::string& gamePath) {
    char real[4096];
    EXPECT_TRUE(plat::ResolvePath(gamePath.c_str(), real, sizeof real)) << gamePath;
    return real;
}

// Loads a picture of the game folder (the working directory) and checks its
// size and that it carries the font's palette.
void LoadPicture(CDibSection& dib, const std::string& gamePath, int width, int height,
                 const std::vector<Color>* palette) {
    ASSERT_TRUE(dib.LoadPng(gamePath.c_str())) << gamePath;
    EXPECT_EQ(dib.Width(), width) << gamePath;
    EXPECT_EQ(dib.Height(), height) << gamePath;
    if (palette) {
        auto table = ColorTable(dib);
        for (int i = 0; i < 256; i++) EXPECT_EQ(Distance2(table[i], (*palette)[i]), 0) << gamePath << " entry " << i;
    }
}

class GameFolder : public testing::Test {
protected:
    void SetUp() override {
        CDibSection font;
        ASSERT_TRUE(font.LoadPng("Graphics\\font.png"));
        palette = ColorTable(font);
    }
    ScopedCwd cwd{NUVEL_GAME_DIR};
    std::vector<Color> palette;
};

TEST_F(GameFolder, PaletteHoldsTheFixedRoles) {
    EXPECT_EQ(Distance2(palette[0], {0, 0, 0}), 0);
    for (int i = 1; i < 256; i++) {
        EXPECT_GT(Distance2(palette[i], {0, 1, 0}), 1) << "entry " << i << " is as near to (0,1,0) as black";
        for (int j = 0; j < i; j++) EXPECT_GT(Distance2(palette[i], palette[j]), 0) << i << " repeats " << j;
    }
    EXPECT_EQ(Distance2(palette[kPureRedIndex], {255, 0, 0}), 0) << "the ping-pong red";
    // The four trail colours stand well apart, and every ramp is visible on
    // black. Each ramp is brightest at its last entry, the colour the rings
    // grow in and fade from, and darkest at its first.
    auto light = [&](int index) { return palette[index].r * 299 + palette[index].g * 587 + palette[index].b * 114; };
    for (int p = 0; p < 4; p++) {
        for (int k = 0; k < 15; k++) EXPECT_GT(Distance2(palette[PlayerRampIndex(p, k)], {0, 0, 0}), 100);
        for (int k = 0; k < 14; k++) {
            EXPECT_GT(light(PlayerRampIndex(p, 14)), light(PlayerRampIndex(p, k))) << "player " << p << " entry " << k;
            EXPECT_LT(light(PlayerRampIndex(p, 0)), light(PlayerRampIndex(p, k + 1))) << "player " << p;
        }
        for (int q = 0; q < p; q++)
            EXPECT_GT(Distance2(palette[PlayerTrailIndex(p)], palette[PlayerTrailIndex(q)]), 100 * 100);
    }
    EXPECT_GT(Distance2(palette[kMouldIndex], {0, 0, 0}), 100);
    EXPECT_GT(Distance2(palette[kClosingBorderIndex], {0, 0, 0}), 100);
    const Color outline = palette[kOutlineIndex];
    EXPECT_GT(outline.r + outline.g + outline.b, 600) << "the outline should be bright";
}

TEST_F(GameFolder, BasePictures) {
    CDibSection font, background, cursor, light;
    ASSERT_TRUE(font.LoadPng("Graphics\\font.png"));
    ASSERT_GE(font.Width(), 16 * 36);
    ASSERT_GE(font.Height(), 80);
    for (int n = 0; n < 8; n++)
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 16; x++) ASSERT_NE(Pixel(font, 16 * n + x, y), 0) << "colour cell " << n;
    // Rows 1 and 3 hold 36 glyphs, rows 2 and 4 the 16 symbols; each glyph has
    // ink and a keyed background.
    for (int row = 1; row <= 4; row++)
        for (int col = 0; col < (row % 2 ? 36 : 16); col++) {
            int ink = 0;
            for (int y = 0; y < 16; y++)
                for (int x = 0; x < 16; x++) ink += Pixel(font, 16 * col + x, 16 * row + y) != 0;
            EXPECT_GT(ink, 8) << "glyph " << col << " of row " << row;
            EXPECT_LT(ink, 200) << "glyph " << col << " of row " << row;
        }

    LoadPicture(background, "Graphics\\background.png", 128, 128, &palette);
    LoadPicture(cursor, "Graphics\\cursor.png", 24, 24, &palette);
    EXPECT_EQ(Pixel(cursor, 0, 0), 0);
    EXPECT_EQ(Pixel(cursor, 23, 23), 0);
    EXPECT_NE(Pixel(cursor, 0, 12), 0);
    EXPECT_NE(Pixel(cursor, 23, 12), 0);
    for (int y = 0; y < 24; y++)  // both ends have the same rounding
        for (int x = 0; x < 12; x++) EXPECT_EQ(Pixel(cursor, x, y) != 0, Pixel(cursor, 23 - x, y) != 0);

    LoadPicture(light, "Graphics\\title_light.png", 160, 112, &palette);
    int lit = 0, brightest = 0;
    for (int y = 0; y < 112; y++)
        for (int x = 0; x < 160; x++) {
            int v = Pixel(light, x, y);
            ASSERT_TRUE(v == 0 || (v >= kTitleLightFirst && v <= kTitleLightLast)) << "light value " << v;
            lit += v != 0;
            brightest = std::max(brightest, v);
        }
    EXPECT_GT(lit, 1000);
    EXPECT_LT(lit, 160 * 112);
    EXPECT_EQ(brightest, kTitleLightLast);
}

TEST_F(GameFolder, ItemPictures) {
    for (const ItemKeyName& name : kItemKeyNames) {
        std::string key = name.text;
        CDibSection pic;
        LoadPicture(pic, "Graphics\\Items\\" + key + ".png", 24, 24, &palette);
        if (!pic.Created()) continue;
        int ink = 0;
        for (int y = 0; y < 24; y++)
            for (int x = 0; x < 24; x++) ink += Pixel(pic, x, y) != 0;
        EXPECT_GT(ink, 60) << key;
        EXPECT_LT(ink, 24 * 24) << key << " has no open pixel for lines to pass";
    }
}

TEST_F(GameFolder, StagesParseAndStartOnOpenGround) {
    CStageSelect list;
    list.LoadStageList();
    int pictures = 0;
    for (const auto& f : std::filesystem::directory_iterator("Stage"))
        pictures += f.path().extension() == ".png" || f.path().extension() == ".PNG";
    EXPECT_GE(list.stageCount, 8);
    EXPECT_EQ(list.stageCount, pictures);

    bool emptyArena = false, randomStart = false, narrowScope = false, items = false;
    bool effect[3] = {};
    for (int s = 0; s < list.stageCount; s++) {
        const StageEntry& e = list.stages[s];
        SCOPED_TRACE(e.file);
        EXPECT_GT(std::strlen(e.title), 0u);
        CDibSection pic;
        LoadPicture(pic, std::string("Stage\\") + e.file, kScreenWidth, 416, &palette);
        if (!pic.Created()) continue;
        int obstacles = 0;
        for (int y = 0; y < 416; y++)
            for (int x = 0; x < 640; x++) obstacles += Pixel(pic, x, y) != 0;
        emptyArena |= obstacles == 0;
        for (int p = 0; p < 4; p++) {
            randomStart |= e.startX[p] == 0xFFFF || e.startHeading[p] == 0xFFFF;
            items |= e.initialItems[p].Count() > 0;
            if (e.startX[p] == 0xFFFF || e.startY[p] == 0xFFFF) continue;
            // Room to move: a 7x7 square of open ground round the start place.
            for (int dy = -3; dy <= 3; dy++)
                for (int dx = -3; dx <= 3; dx++) {
                    int x = e.startX[p] + dx, y = e.startY[p] + dy;
                    ASSERT_TRUE(x > 0 && y > 0 && x < 639 && y < 415) << "player " << p + 1;
                    EXPECT_EQ(Pixel(pic, x, y), 0) << "player " << p + 1 << " at " << x << "," << y;
                }
        }
        narrowScope |= e.scopeLeft > 1 || e.scopeTop > 17 || e.scopeRight < 638 || e.scopeBottom < 430;
        ASSERT_LE(e.effect, 2);
        effect[e.effect] = true;
    }
    EXPECT_TRUE(emptyArena);
    EXPECT_TRUE(randomStart);
    EXPECT_TRUE(narrowScope);
    EXPECT_TRUE(items);
    EXPECT_TRUE(effect[1] && effect[2]);
    EXPECT_NE(testutil::ReadFile(Resolve("stage\\stage.txt")).find("\n;"), std::string::npos) << "no comment line";
}

uint32_t Le(const std::string& s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
    return v;
}

uint32_t Be(const std::string& s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; i++) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
    return v;
}

TEST_F(GameFolder, SoundEffectsArePcmWithData) {
    for (const EffectRecord& effect : kEffectTable) {
        const char* name = effect.file;
        SCOPED_TRACE(name);
        std::string w = testutil::ReadFile(Resolve(std::string("Sound\\") + name));
        ASSERT_GE(w.size(), 44u);
        ASSERT_EQ(w.compare(0, 4, "RIFF"), 0);
        ASSERT_EQ(w.compare(8, 4, "WAVE"), 0);
        EXPECT_EQ(Le(w, 4, 4) + 8, w.size());
        size_t at = 12, dataAt = 0, dataSize = 0;
        uint32_t fmtSize = 0, tag = 0, channels = 0, rate = 0, bits = 0;
        while (at + 8 <= w.size()) {
            uint32_t size = Le(w, at + 4, 4);
            ASSERT_LE(at + 8 + size, w.size());
            if (w.compare(at, 4, "fmt ") == 0) {
                fmtSize = size;
                tag = Le(w, at + 8, 2);
                channels = Le(w, at + 10, 2);
                rate = Le(w, at + 12, 4);
                bits = Le(w, at + 22, 2);
            } else if (w.compare(at, 4, "data") == 0) {
                dataAt = at + 8;
                dataSize = size;
            }
            at += 8 + size + (size & 1);
        }
        EXPECT_GE(fmtSize, 18u);
        EXPECT_EQ(tag, 1u);
        EXPECT_EQ(channels, 1u);
        EXPECT_TRUE(rate == 22050 || rate == 44100);
        ASSERT_EQ(bits, 16u);
        ASSERT_GT(dataSize, 200u);
        // Clean: silent at both ends, never at full scale, short.
        size_t samples = dataSize / 2;
        int peak = 0;
        for (size_t i = 0; i < samples; i++)
            peak = std::max(peak, std::abs(static_cast<int16_t>(Le(w, dataAt + 2 * i, 2))));
        EXPECT_LT(peak, 32000);
        EXPECT_GT(peak, 8000);
        EXPECT_LT(std::abs(static_cast<int16_t>(Le(w, dataAt, 2))), 500);
        EXPECT_LT(std::abs(static_cast<int16_t>(Le(w, dataAt + 2 * (samples - 1), 2))), 500);
        EXPECT_LT(samples, rate * 2u);
    }
}

// Reads a Standard MIDI File: chunk structure, every event of every track up
// to its end-of-track, the tempo map; gives the length in seconds.
struct SmfFacts {
    bool valid = false;
    double seconds = 0;
    bool drums = false;
    int programs = 0;
};

SmfFacts ReadSmf(const std::string& s) {
    SmfFacts f;
    if (s.size() < 14 || s.compare(0, 4, "MThd") != 0 || Be(s, 4, 4) != 6) return f;
    uint32_t format = Be(s, 8, 2), tracks = Be(s, 10, 2), division = Be(s, 12, 2);
    if (format > 1 || tracks == 0 || division == 0 || (division & 0x8000)) return f;
    std::vector<std::pair<uint32_t, uint32_t>> tempos;  // tick, microseconds per beat
    uint32_t lastTick = 0;
    size_t at = 14;
    for (uint32_t t = 0; t < tracks; t++) {
        if (at + 8 > s.size() || s.compare(at, 4, "MTrk") != 0) return f;
        size_t p = at + 8, end = p + Be(s, at + 4, 4);
        if (end > s.size()) return f;
        uint32_t tick = 0;
        int status = 0;
        bool ended = false;
        auto vlq = [&](uint32_t& v) {
            v = 0;
            for (int n = 0; n < 4 && p < end; n++) {
                uint8_t b = static_cast<uint8_t>(s[p++]);
                v = (v << 7) | (b & 0x7F);
                if (!(b & 0x80)) return true;
            }
            return false;
        };
        while (p < end && !ended) {
            uint32_t delta, len;
            if (!vlq(delta) || p >= end) return f;
            tick += delta;
            uint8_t b = static_cast<uint8_t>(s[p]);
            if (b == 0xFF) {
                if (p + 2 > end) return f;
                uint8_t type = static_cast<uint8_t>(s[p + 1]);
                p += 2;
                if (!vlq(len) || p + len > end) return f;
                if (type == 0x51 && len == 3) tempos.push_back({tick, Be(s, p, 3)});
                ended = type == 0x2F;
                p += len;
            } else if (b == 0xF0 || b == 0xF7) {
                p++;
                if (!vlq(len) || p + len > end) return f;
                p += len;
            } else {
                if (b & 0x80) {
                    status = b;
                    p++;
                }
                if (!status) return f;
                int kind = status & 0xF0, n = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
                if (p + n > end) return f;
                if (kind == 0x90 && (status & 0x0F) == 9) f.drums = true;
                if (kind == 0xC0) f.programs++;
                p += n;
            }
        }
        if (!ended || p != end) return f;
        lastTick = std::max(lastTick, tick);
        at = end;
    }
    std::sort(tempos.begin(), tempos.end());
    uint32_t usPerBeat = 500000, from = 0;
    for (auto [tick, us] : tempos) {
        f.seconds += double(tick - from) / division * usPerBeat / 1e6;
        from = tick;
        usPerBeat = us;
    }
    f.seconds += double(lastTick - from) / division * usPerBeat / 1e6;
    f.valid = at == s.size();
    return f;
}

TEST_F(GameFolder, MusicListAndMidiFiles) {
    CStageSelect list;
    list.LoadBgmList();
    EXPECT_GE(list.bgmCount, 5);
    for (int i = 0; i < list.bgmCount; i++) {
        const BgmEntry& e = list.bgms[i];
        SCOPED_TRACE(e.file);
        EXPECT_GT(std::strlen(e.title), 0u);
        SmfFacts f = ReadSmf(testutil::ReadFile(Resolve(std::string("Bgm\\") + e.file)));
        EXPECT_TRUE(f.valid);
        EXPECT_GE(f.seconds, 60.0);
        EXPECT_LE(f.seconds, 180.0);
        EXPECT_TRUE(f.drums);
        EXPECT_GE(f.programs, 3);
    }
}

TEST_F(GameFolder, GeneratorWritesTheSameBytesEveryRun) {
    // The folder is a build output; a second run of the generator into a
    // scratch folder must reproduce it byte for byte.
    const std::string gen = std::string(NUVEL_GAME_DIR) + "/../tools/gen/nuvel-gen";
    if (!std::filesystem::exists(gen)) GTEST_SKIP() << "generator not found beside the game folder";
    testutil::TempDir dir;
    ASSERT_EQ(std::system((gen + " " + dir.path() + " >/dev/null").c_str()), 0);
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir.path())) {
        if (!f.is_regular_file()) continue;
        std::string rel = std::filesystem::relative(f.path(), dir.path()).string();
        EXPECT_EQ(testutil::ReadFile(f.path().string()), testutil::ReadFile(std::string(NUVEL_GAME_DIR) + "/" + rel))
            << rel;
    }
}

}  // namespace
