// Circles, discs and lines with exclusive right and bottom edges.
#include <gtest/gtest.h>

#include "graphics/directdraw.h"
#include "tests/testutil.h"

using testutil::PixelAt;

namespace {

class ShapesTest : public testing::Test {
protected:
    void SetUp() override {
        testutil::StartHeadlessDisplay();
        testutil::SetDistinctPalette();
        surface = theDirectDraw.CreateSurface(120, 120, true);
    }
    void TearDown() override { theDirectDraw.ReleaseSurface(surface); }
    int Count(uint8_t index) {
        Surface* s = theDirectDraw.GetSurface(surface);
        int n = 0;
        for (int i = 0; i < s->pitch * s->height; i++) n += s->pixels[i] == index;
        return n;
    }
    SurfaceId surface = 0;
};

}  // namespace

TEST_F(ShapesTest, DiscFillsTheInscribedCircle) {
    uint32_t colour = theDirectDraw.PaletteColor(40);
    theDirectDraw.DrawDisc(surface, 12, 12, 12, colour, nullptr);
    // Spans 24 pixels: columns and rows 0..23.
    EXPECT_EQ(PixelAt(surface, 0, 12), 40);
    EXPECT_EQ(PixelAt(surface, 23, 11), 40);
    EXPECT_EQ(PixelAt(surface, 24, 12), 0);
    EXPECT_EQ(PixelAt(surface, 12, 23), 40);
    EXPECT_EQ(PixelAt(surface, 12, 24), 0);
    for (int c : {0, 23})
        for (int r : {0, 23}) EXPECT_EQ(PixelAt(surface, c, r), 0) << c << "," << r;
    // Close to the area of the circle and symmetric.
    EXPECT_NEAR(Count(40), 3.14159 * 144, 30);
    for (int y = 0; y < 24; y++)
        for (int x = 0; x < 24; x++) {
            ASSERT_EQ(PixelAt(surface, x, y), PixelAt(surface, 23 - x, y));
            ASSERT_EQ(PixelAt(surface, x, y), PixelAt(surface, y, x));
        }
}

TEST_F(ShapesTest, CircleIsTheClosedOutlineOfTheDisc) {
    uint32_t colour = theDirectDraw.PaletteColor(50);
    theDirectDraw.DrawCircle(surface, 60, 60, 20, colour, nullptr);
    EXPECT_EQ(PixelAt(surface, 60, 60), 0);
    EXPECT_EQ(PixelAt(surface, 40, 60), 50);
    EXPECT_EQ(PixelAt(surface, 79, 60), 50);
    EXPECT_EQ(PixelAt(surface, 80, 60), 0);
    EXPECT_EQ(PixelAt(surface, 60, 40), 50);
    // Every outline pixel lies in the disc, and no gap lets a 4-connected
    // path escape: a flood from the centre stays inside.
    SurfaceId disc = theDirectDraw.CreateSurface(120, 120, true);
    theDirectDraw.DrawDisc(disc, 60, 60, 20, colour, nullptr);
    std::vector<int> stack{60 * 120 + 60};
    std::vector<bool> seen(120 * 120);
    while (!stack.empty()) {
        int p = stack.back();
        stack.pop_back();
        int x = p % 120, y = p / 120;
        if (seen[p] || PixelAt(surface, x, y) == 50) continue;
        ASSERT_EQ(PixelAt(disc, x, y), 50) << "escaped at " << x << "," << y;
        seen[p] = true;
        stack.insert(stack.end(), {p - 1, p + 1, p - 120, p + 120});
    }
    for (int y = 0; y < 120; y++)
        for (int x = 0; x < 120; x++) {
            if (PixelAt(surface, x, y) == 50) {
                ASSERT_EQ(PixelAt(disc, x, y), 50);
            }
        }
    theDirectDraw.ReleaseSurface(disc);
}

TEST_F(ShapesTest, ClipRectangleIsExclusiveOnTheRightAndBottom) {
    ClipRect clip{0, 0, 100, 100};
    uint32_t colour = theDirectDraw.PaletteColor(60);
    theDirectDraw.DrawDisc(surface, 100, 100, 30, colour, &clip);
    theDirectDraw.DrawLine(surface, 0, 100, 119, 100, colour, &clip);
    theDirectDraw.DrawLine(surface, 100, 0, 100, 119, colour, &clip);
    for (int i = 0; i < 120; i++) {
        ASSERT_EQ(PixelAt(surface, 100, i), 0);
        ASSERT_EQ(PixelAt(surface, i, 100), 0);
    }
    EXPECT_EQ(PixelAt(surface, 99, 99), 60);
    // Shapes running off the surface are cut at its edges.
    theDirectDraw.DrawDisc(surface, 0, 0, 50, colour, nullptr);
    theDirectDraw.DrawCircle(surface, 119, 119, 60, colour, nullptr);
}

TEST_F(ShapesTest, LinesLeaveOutTheirEndPoint) {
    uint32_t colour = theDirectDraw.PaletteColor(70);
    theDirectDraw.DrawLine(surface, 5, 5, 5, 5, colour, nullptr);
    EXPECT_EQ(Count(70), 0);
    theDirectDraw.DrawLine(surface, 10, 10, 20, 10, colour, nullptr);
    EXPECT_EQ(Count(70), 10);
    EXPECT_EQ(PixelAt(surface, 20, 10), 0);
    theDirectDraw.ClearSurface(surface);
    theDirectDraw.DrawLine(surface, 30, 40, 10, 30, colour, nullptr);
    EXPECT_EQ(Count(70), 20);
    EXPECT_EQ(PixelAt(surface, 30, 40), 70);
    EXPECT_EQ(PixelAt(surface, 10, 30), 0);
}

TEST_F(ShapesTest, PlainColoursLandOnTheNearestEntry) {
    theDirectDraw.FillRect(surface, 0, 0, 120, 120, 0);
    theDirectDraw.DrawDisc(surface, 50, 50, 20, 0x000000, nullptr);  // black on cleared stays all 0
    EXPECT_EQ(Count(0), 120 * 120);
    theDirectDraw.DrawDisc(surface, 50, 50, 20, 0x0000FF, nullptr);  // red
    uint8_t red = theDirectDraw.NearestIndex(255, 0, 0);
    EXPECT_EQ(PixelAt(surface, 50, 50), red);
}
