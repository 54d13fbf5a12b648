// Bitmap text, the tiled background, alpha tables, the highlight bar and the
// title menu's player lines, drawn with the generated game pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "graphics/directdraw.h"
#include "match/round.h"
#include "screens/title.h"
#include "tests/testutil.h"

using testutil::PixelAt;

namespace {

class TextTest : public testing::Test {
protected:
    void SetUp() override {
        testutil::StartHeadlessDisplay();
        testutil::LoadGamePictures();
    }
    // The columns of surface 1 in row band [y, y + 16) that differ from a
    // fill with index 0.
    std::vector<int> InkColumns(int y) {
        std::vector<int> cols;
        for (int x = 0; x < 640; x++)
            for (int r = y; r < y + 16; r++)
                if (PixelAt(1, x, r)) {
                    cols.push_back(x);
                    break;
                }
        return cols;
    }
    std::vector<uint8_t> Snapshot(SurfaceId id) {
        Surface* s = theDirectDraw.GetSurface(id);
        return std::vector<uint8_t>(s->pixels, s->pixels + s->pitch * s->height);
    }
};

}  // namespace

TEST_F(TextTest, WidthsAndCentring) {
    EXPECT_EQ(CApp::TextWidth("AB"), 32);
    EXPECT_EQ(CApp::TextWidth("A_B"), 40);
    EXPECT_EQ(CApp::TextWidth("1_PLAYER <_MAN_>"), 13 * 16 + 3 * 8);
    theApp.DrawText(1, 0, 100, "AB", 0, true, 0);
    std::vector<int> ink = InkColumns(100);
    ASSERT_FALSE(ink.empty());
    EXPECT_EQ(ink.front(), 304);  // the colour cell fills the glyph's cell
    EXPECT_EQ(ink.back(), 335);
    theDirectDraw.ClearSurface(1);
    theApp.DrawText(1, 0, 200, "A_B", 0, true, 0);
    ink = InkColumns(200);
    EXPECT_EQ(ink.front(), 300);
    EXPECT_EQ(ink.back(), 339);
    // The underscore is a half-width gap that draws nothing.
    for (int x = 316; x < 324; x++) EXPECT_EQ(PixelAt(1, x, 208), 0) << x;
}

TEST_F(TextTest, SpacesMoveThePenAndColourNineDrawsNoCell) {
    theApp.DrawText(1, 10, 10, "   ", 3, false, 0);
    EXPECT_TRUE(InkColumns(10).empty());
    theApp.DrawText(1, 10, 10, "  A", 3, false, 0);
    EXPECT_EQ(InkColumns(10).front(), 42);

    // Colour 9: second-face glyph over whatever is there; the glyph's own
    // transparent pixels show the destination.
    theDirectDraw.FillRect(1, 0, 40, 640, 16, 77);
    theApp.DrawText(1, 0, 40, "I", 9, false, 0);
    int kept = 0, inked = 0;
    for (int y = 40; y < 56; y++)
        for (int x = 0; x < 16; x++) (PixelAt(1, x, y) == 77 ? kept : inked)++;
    EXPECT_GT(kept, 0);
    EXPECT_GT(inked, 0);
    // Characters without a glyph draw nothing and take one cell.
    theDirectDraw.ClearSurface(1);
    theApp.DrawText(1, 0, 80, "-A", 2, false, 0);
    EXPECT_EQ(InkColumns(80).front(), 16);
}

TEST_F(TextTest, RandomCellsAndScaledText) {
    // Colour 8 picks a cell per character: over many characters more than one
    // cell colour appears at the cells' corner pixel.
    theApp.Seed(3);
    theApp.DrawText(1, 0, 0, "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", 8, false, 0);
    std::vector<uint8_t> corners;
    for (int i = 0; i < 40; i++) corners.push_back(PixelAt(1, 16 * i, 0));
    std::sort(corners.begin(), corners.end());
    EXPECT_GT(std::unique(corners.begin(), corners.end()) - corners.begin(), 2);

    theDirectDraw.ClearSurface(1);
    theApp.DrawTextScaled(1, 0, 0, 64, 64, "OPTION", 9, true, true);
    int left = 640, right = -1, top = 480, bottom = -1;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++)
            if (PixelAt(1, x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    EXPECT_GE(left, 128);  // six 64-pixel glyphs centred: 128..511
    EXPECT_LE(right, 511);
    EXPECT_GE(top, 208);  // (480 - 64) / 2
    EXPECT_LE(bottom, 271);
    EXPECT_GT(right - left, 300);
}

TEST_F(TextTest, BackgroundDriftsAndReturnsAfter128Steps) {
    theApp.backgroundScrollX = theApp.backgroundScrollY = 5;
    theApp.DrawBackground(false);
    std::vector<uint8_t> first = Snapshot(1);
    theApp.DrawBackground(false);
    EXPECT_EQ(Snapshot(1), first);
    theApp.DrawBackground(true);
    EXPECT_NE(Snapshot(1), first);
    EXPECT_EQ(PixelAt(1, 101, 101), first[100 * 640 + 100]);  // one pixel right and down
    for (int i = 0; i < 127; i++) theApp.DrawBackground(true);
    EXPECT_EQ(Snapshot(1), first);
    EXPECT_EQ(theApp.backgroundScrollX, 5);
}

TEST_F(TextTest, AlphaTablesNeverGive255) {
    uint8_t* table = nullptr;
    theApp.SetAlphaTable(&table, 0, 0, 0);
    // All palette entries of the game are distinct, so adding nothing is the
    // identity, except that 255 becomes 239.
    for (int i = 0; i < 255; i++) EXPECT_EQ(table[i], i);
    EXPECT_EQ(table[255], 239);
    theApp.SetAlphaTable(&table, 255, 255, 255);
    for (int i = 0; i < 256; i++) EXPECT_NE(table[i], 255);
    CApp::Free(table);
    for (int k = 0; k < 16; k++)
        for (int i = 0; i < 256; i++) ASSERT_NE(theApp.greyTables[k][i], 255);
    // Brightening moves colours up, never down, on the game palette.
    const PaletteEntry* pal = theDirectDraw.MasterPalette();
    auto luma = [&](int i) { return pal[i].red * 3 + pal[i].green * 6 + pal[i].blue; };
    int brighter = 0;
    for (int i = 1; i < 255; i++) brighter += luma(theApp.greyTables[15][i]) >= luma(i);
    EXPECT_GT(brighter, 240);
}

TEST_F(TextTest, HighlightBarHasRoundedEnds) {
    theDirectDraw.FillRect(1, 0, 0, 640, 480, 40);
    uint8_t tinted = theApp.tintTable[40];
    ASSERT_NE(tinted, 40);
    Surface* cursor = theDirectDraw.GetSurface(theApp.cursorSurface);
    ASSERT_EQ(cursor->width, 24);

    theApp.DrawHighlightBar(100, 50, 24);  // the two ends only
    for (int row = 0; row < 24; row++)
        for (int col = 0; col < 24; col++) {
            bool shape = cursor->pixels[row * cursor->pitch + col] != 0;
            ASSERT_EQ(PixelAt(1, 100 + col, 50 + row), shape ? tinted : 40) << col << "," << row;
        }
    EXPECT_EQ(PixelAt(1, 99, 60), 40);
    EXPECT_EQ(PixelAt(1, 124, 60), 40);

    theApp.DrawHighlightBar(160, 200, 320);  // a 16-character title line
    EXPECT_EQ(PixelAt(1, 160 + 12, 200), tinted);
    EXPECT_EQ(PixelAt(1, 160 + 307, 223), tinted);
    EXPECT_EQ(PixelAt(1, 159, 212), 40);
    EXPECT_EQ(PixelAt(1, 480, 212), 40);
    EXPECT_EQ(PixelAt(1, 160, 200), cursor->pixels[0] ? tinted : 40);  // rounded corner
}

TEST(TitleMenu, PlayerTypesCycleWithWrapAndRewriteTheirLines) {
    int8_t saved = theRound.players[1].type;
    theRound.players[1].type = PLAYER_MAN;
    theTitle.CyclePlayerType(1, -1);
    EXPECT_EQ(theRound.players[1].type, PLAYER_MASTER);
    EXPECT_STREQ(theTitle.lines[2], "2_PLAYER <_MASTER COM_>");
    theTitle.CyclePlayerType(1, -1);
    EXPECT_STREQ(theTitle.lines[2], "2_PLAYER <_HARD COM_>");
    theTitle.CyclePlayerType(1, +1);
    theTitle.CyclePlayerType(1, +1);
    EXPECT_EQ(theRound.players[1].type, PLAYER_MAN);
    theTitle.CyclePlayerType(1, +1);
    theTitle.CyclePlayerType(1, +1);
    theTitle.CyclePlayerType(1, +1);
    EXPECT_STREQ(theTitle.lines[2], "2_PLAYER <_NORMAL COM_>");
    // A type read from a damaged settings file is an empty seat and steps on from there.
    theRound.players[1].type = 42;
    theTitle.CyclePlayerType(1, 0);
    EXPECT_STREQ(theTitle.lines[2], "2_PLAYER <_NON_>");
    theTitle.CyclePlayerType(1, +1);
    EXPECT_EQ(theRound.players[1].type, PLAYER_EASY);
    theRound.players[1].type = -7;
    theTitle.CyclePlayerType(1, -1);
    EXPECT_EQ(theRound.players[1].type, PLAYER_MAN);
    theRound.players[1].type = saved;
}

TEST(TitleMenu, StartNeedsTwoPlayers) {
    int8_t saved[4];
    for (int i = 0; i < 4; i++) saved[i] = theRound.players[i].type;
    for (PlayerSlot& p : theRound.players) p.type = PLAYER_NON;
    theRound.players[2].type = PLAYER_HARD;
    EXPECT_FALSE(theTitle.CanStart());
    theRound.players[0].type = 42;  // unknown types are empty seats
    EXPECT_FALSE(theTitle.CanStart());
    theRound.players[0].type = PLAYER_MAN;
    EXPECT_TRUE(theTitle.CanStart());
    for (int i = 0; i < 4; i++) theRound.players[i].type = saved[i];
}
