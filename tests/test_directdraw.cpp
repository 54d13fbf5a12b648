// Surfaces, copies with clipping and colour keys, fills, the pool, the palette.
#include <gtest/gtest.h>

#include "graphics/directdraw.h"
#include "tests/testutil.h"

using testutil::PixelAt;
using testutil::StartHeadlessDisplay;

namespace {

// A surface whose pixel (x, y) is 1 + (x + 3y) % 250, never 0.
SurfaceId MakePattern(int w, int h) {
    SurfaceId id = theDirectDraw.CreateSurface(w, h, true);
    const SurfaceDesc& d = theDirectDraw.Lock(id);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) d.pixels[y * d.pitch + x] = uint8_t(1 + (x + 3 * y) % 250);
    theDirectDraw.Unlock(id);
    return id;
}

uint8_t Pattern(int x, int y) { return uint8_t(1 + (x + 3 * y) % 250); }

int CountNonZero(SurfaceId id) {
    Surface* s = theDirectDraw.GetSurface(id);
    int n = 0;
    for (int i = 0; i < s->pitch * s->height; i++) n += s->pixels[i] != 0;
    return n;
}

class DirectDrawTest : public testing::Test {
protected:
    void SetUp() override { StartHeadlessDisplay(); }
    void TearDown() override {
        for (SurfaceId& id : made) theDirectDraw.ReleaseSurface(id);
        theDirectDraw.SetDestClip(0, 0, 640, 480);
        theDirectDraw.SetSourceClip(0, 0, 640, 480);
    }
    SurfaceId Make(int w, int h) { return made.emplace_back(theDirectDraw.CreateSurface(w, h, true)); }
    SurfaceId MakeP(int w, int h) { return made.emplace_back(MakePattern(w, h)); }
    std::vector<SurfaceId> made;
};

}  // namespace

TEST_F(DirectDrawTest, NewSurfacesAreClearAndTakeTheLowestFreeSlot) {
    SurfaceId a = Make(10, 10);
    SurfaceId b = Make(3, 7);
    EXPECT_GE(a, 2);
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(CountNonZero(b), 0);
    SurfaceId old = a;
    EXPECT_EQ(theDirectDraw.ReleaseSurface(made[0]), old);
    EXPECT_EQ(made[0], 0);
    EXPECT_EQ(Make(5, 5), old);  // the freed slot is handed out again
    SurfaceId none = 0;
    EXPECT_EQ(theDirectDraw.ReleaseSurface(none), 0);
    EXPECT_EQ(none, 0);
}

TEST_F(DirectDrawTest, KeyedCopySkipsIndexZero) {
    SurfaceId src = Make(8, 8);
    SurfaceId dst = MakeP(8, 8);
    EXPECT_TRUE(theDirectDraw.Draw(dst, 0, 0, 8, 8, src, 0, 0, true, 0));
    EXPECT_EQ(PixelAt(dst, 5, 5), Pattern(5, 5));  // all-zero source leaves it alone
    EXPECT_TRUE(theDirectDraw.Draw(dst, 0, 0, 8, 8, src, 0, 0, false, 0));
    EXPECT_EQ(CountNonZero(dst), 0);
    // A changed colour key is honoured.
    SurfaceId pat = MakeP(8, 8);
    theDirectDraw.SetColorKey(pat, Pattern(2, 0));
    theDirectDraw.Draw(dst, 0, 0, 8, 8, pat, 0, 0, true, 0);
    EXPECT_EQ(PixelAt(dst, 2, 0), 0);
    EXPECT_EQ(PixelAt(dst, 3, 0), Pattern(3, 0));
}

TEST_F(DirectDrawTest, DestinationClipCutsAndShiftsTheSource) {
    SurfaceId src = MakeP(40, 40);
    SurfaceId dst = Make(100, 100);
    theDirectDraw.SetDestClip(10, 10, 50, 50);  // 10..59
    // Straddling the left and top edges: only the visible part, from the
    // matching part of the source.
    EXPECT_TRUE(theDirectDraw.Draw(dst, 0, 5, 40, 40, src, 0, 0, false, CLIP_DEST));
    EXPECT_EQ(PixelAt(dst, 9, 20), 0);
    EXPECT_EQ(PixelAt(dst, 10, 10), Pattern(10, 5));
    EXPECT_EQ(PixelAt(dst, 39, 44), Pattern(39, 39));
    EXPECT_EQ(PixelAt(dst, 40, 20), 0);
    // Right and bottom edges shrink the rectangle.
    EXPECT_TRUE(theDirectDraw.Draw(dst, 45, 45, 40, 40, src, 0, 0, false, CLIP_DEST));
    EXPECT_EQ(PixelAt(dst, 59, 59), Pattern(14, 14));
    EXPECT_EQ(PixelAt(dst, 60, 59), 0);
    EXPECT_EQ(PixelAt(dst, 59, 60), 0);
    // Wholly outside draws nothing and says so.
    EXPECT_FALSE(theDirectDraw.Draw(dst, 70, 70, 10, 10, src, 0, 0, false, CLIP_DEST));
    EXPECT_FALSE(theDirectDraw.Draw(dst, -20, 20, 10, 10, src, 0, 0, false, CLIP_DEST));
}

TEST_F(DirectDrawTest, SourceClipMovesTheDestinationAndRunsAfterTheDestinationClip) {
    SurfaceId src = MakeP(60, 60);
    SurfaceId dst = Make(100, 100);
    theDirectDraw.SetSourceClip(0, 0, 20, 20);  // 0..19
    EXPECT_TRUE(theDirectDraw.Draw(dst, 30, 30, 40, 40, src, -5, -5, false, CLIP_SOURCE));
    EXPECT_EQ(PixelAt(dst, 34, 34), 0);
    EXPECT_EQ(PixelAt(dst, 35, 35), Pattern(0, 0));
    EXPECT_EQ(PixelAt(dst, 54, 54), Pattern(19, 19));
    EXPECT_EQ(PixelAt(dst, 55, 54), 0);

    // Both bits: the destination cut on the left (3 pixels) moves the source to
    // x 15, then the source clip (15..19) leaves 5 columns.
    SurfaceId dst2 = Make(100, 100);
    theDirectDraw.SetDestClip(3, 0, 97, 100);
    theDirectDraw.SetSourceClip(0, 0, 20, 60);
    EXPECT_TRUE(theDirectDraw.Draw(dst2, 0, 0, 30, 1, src, 12, 0, false, CLIP_DEST | CLIP_SOURCE));
    EXPECT_EQ(PixelAt(dst2, 2, 0), 0);
    EXPECT_EQ(PixelAt(dst2, 3, 0), Pattern(15, 0));
    EXPECT_EQ(PixelAt(dst2, 7, 0), Pattern(19, 0));
    EXPECT_EQ(PixelAt(dst2, 8, 0), 0);
}

TEST_F(DirectDrawTest, NothingIsWrittenOutsideASurface) {
    // Unclipped copies, fills, frames and stretched copies that leave their
    // surfaces are cut to them instead of writing past the end.
    SurfaceId src = MakeP(16, 16);
    SurfaceId dst = Make(20, 20);
    theDirectDraw.Draw(dst, 15, 15, 16, 16, src, 0, 0, false, 0);
    theDirectDraw.Draw(dst, -8, -8, 16, 16, src, 0, 0, false, 0);
    theDirectDraw.Draw(dst, 0, 0, 16, 16, src, 10, 10, false, 0);  // source runs out
    EXPECT_EQ(PixelAt(dst, 19, 19), Pattern(4, 4));
    theDirectDraw.FillRect(dst, -100, -100, 1000, 1000, 9);
    EXPECT_EQ(CountNonZero(dst), 400);
    theDirectDraw.DrawFrame(dst, -1, -1, 50, 50, 3);
    theDirectDraw.DrawStretched(dst, -30, -30, 100, 100, src, 0, 0, 16, 16);
    theDirectDraw.DrawStretched(dst, 0, 0, 20, 20, src, 8, 8, 16, 16);
    EXPECT_TRUE(theDirectDraw.Draw(dst, 0, 0, 5, 5, src, 0, 0, false, 0));
    // Operations on a surface that does not exist do nothing.
    theDirectDraw.FillRect(200, 0, 0, 10, 10, 1);
    EXPECT_FALSE(theDirectDraw.Draw(200, 0, 0, 5, 5, src, 0, 0, false, 0));
}

TEST_F(DirectDrawTest, FillsFramesAndStretches) {
    SurfaceId dst = Make(30, 30);
    theDirectDraw.FillRect(dst, 2, 3, 4, 5, 7);
    EXPECT_EQ(CountNonZero(dst), 20);
    EXPECT_EQ(PixelAt(dst, 5, 7), 7);
    EXPECT_EQ(PixelAt(dst, 6, 7), 0);
    theDirectDraw.ClearSurface(dst);
    theDirectDraw.DrawFrame(dst, 1, 1, 10, 5, 4);
    EXPECT_EQ(CountNonZero(dst), 2 * 10 + 2 * 3);
    EXPECT_EQ(PixelAt(dst, 10, 5), 4);
    EXPECT_EQ(PixelAt(dst, 5, 3), 0);

    SurfaceId src = MakeP(2, 2);
    theDirectDraw.ClearSurface(dst);
    theDirectDraw.DrawStretched(dst, 0, 0, 8, 8, src, 0, 0, 2, 2);
    EXPECT_EQ(PixelAt(dst, 3, 3), Pattern(0, 0));
    EXPECT_EQ(PixelAt(dst, 4, 3), Pattern(1, 0));
    EXPECT_EQ(PixelAt(dst, 7, 7), Pattern(1, 1));
    EXPECT_EQ(PixelAt(dst, 8, 8), 0);
}

TEST_F(DirectDrawTest, FlipSwapsFrontAndBack) {
    theDirectDraw.FillRect(1, 0, 0, 640, 480, 5);
    theDirectDraw.FillRect(0, 0, 0, 640, 480, 6);
    uint32_t before = plat::TimeMs();
    theDirectDraw.Flip();
    EXPECT_EQ(PixelAt(0, 100, 100), 5);
    EXPECT_EQ(PixelAt(1, 100, 100), 6);
    EXPECT_LE(plat::TimeMs() - before, 17u);  // waited for the next refresh at most
    theDirectDraw.CopyScreen(1, 0);
    EXPECT_EQ(PixelAt(1, 639, 479), 5);
}

// An overlay draws on the picture shown, on every presentation (the pump's
// and each flip's), and never on surface 0.
TEST_F(DirectDrawTest, OverlayDrawsOnlyOnWhatIsShown) {
    testutil::SetDistinctPalette();
    const uint32_t* shown = theDirectDraw.DisplayPalette();
    static int calls;
    calls = 0;
    PresentOverlay mark = [](uint8_t* pixels, int pitch, int width, int height) {
        calls++;
        EXPECT_EQ(width, 640);
        EXPECT_EQ(height, 480);
        pixels[100 * pitch + 200] = 9;
    };
    theDirectDraw.FillRect(0, 0, 0, 640, 480, 5);
    EXPECT_EQ(theDirectDraw.SetPresentOverlay(mark), nullptr);
    theDirectDraw.Present();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(PixelAt(0, 200, 100), 5);
    EXPECT_EQ(testutil::ShownColour(200, 100), shown[9]);
    EXPECT_EQ(testutil::ShownColour(201, 100), shown[5]);

    theDirectDraw.FillRect(1, 0, 0, 640, 480, 6);
    theDirectDraw.Flip();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(PixelAt(0, 200, 100), 6);
    EXPECT_EQ(PixelAt(1, 200, 100), 5);
    EXPECT_EQ(testutil::ShownColour(200, 100), shown[9]);
    EXPECT_EQ(testutil::ShownColour(201, 100), shown[6]);

    EXPECT_EQ(theDirectDraw.SetPresentOverlay(nullptr), mark);
    theDirectDraw.Present();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(testutil::ShownColour(200, 100), shown[6]);
}

TEST_F(DirectDrawTest, BrightnessLeavesEntriesZeroAnd255) {
    testutil::SetDistinctPalette();
    const uint32_t* shown = theDirectDraw.DisplayPalette();
    theDirectDraw.SetPaletteBrightness(-255);
    for (int i = 1; i < 255; i++) ASSERT_EQ(shown[i], 0u);
    EXPECT_EQ(shown[255], 0xFFFFFFu);
    theDirectDraw.SetPaletteBrightness(255);
    for (int i = 1; i < 255; i++) ASSERT_EQ(shown[i], 0xFFFFFFu);
    EXPECT_EQ(shown[0], 0u);
    theDirectDraw.SetPaletteBrightness(10);
    EXPECT_EQ(shown[100], uint32_t(110 << 16 | ((700 & 255) + 10) << 8 | 165));
    theDirectDraw.SetPaletteBrightness(0);
    EXPECT_EQ(shown[100], uint32_t(100 << 16 | (700 & 255) << 8 | 155));
    // The master palette itself never changes.
    EXPECT_EQ(theDirectDraw.PaletteColor(100), uint32_t(100 | (700 & 255) << 8 | 155 << 16));
}

TEST_F(DirectDrawTest, NearestColourPrefersTheLowerIndexOnTies) {
    PaletteEntry* pal = theDirectDraw.MasterPalette();
    for (int i = 0; i < 256; i++) pal[i] = PaletteEntry{200, 200, 200, 1};
    pal[0] = PaletteEntry{0, 0, 0, 1};
    pal[7] = PaletteEntry{10, 0, 0, 1};
    pal[9] = PaletteEntry{0, 10, 0, 1};
    pal[12] = PaletteEntry{10, 0, 0, 1};
    EXPECT_EQ(theDirectDraw.NearestIndex(0, 1, 0), 0);
    EXPECT_EQ(theDirectDraw.NearestIndex(10, 0, 0), 7);  // exact, first of two
    EXPECT_EQ(theDirectDraw.NearestIndex(5, 5, 0), 0);   // 50 to black, 50 to 7 and 9: lowest
    EXPECT_EQ(theDirectDraw.NearestIndex(6, 5, 0), 7);
    EXPECT_EQ(theDirectDraw.NearestIndex(0x0000FF), 7);  // 0x00BBGGRR: pure red
    EXPECT_EQ(theDirectDraw.NearestIndex(250, 250, 250), 1);
}

TEST(DirectDrawPool, RunningOutOfSlotsIsFatal) {
    EXPECT_EXIT(
        {
            StartHeadlessDisplay();
            for (int i = 0; i < 255; i++) theDirectDraw.CreateSurface(4, 4, true);
        },
        testing::ExitedWithCode(1), "CDirectDraw::GetUnusedSurface: 空きサーフェイスがありません");
    EXPECT_EXIT(
        {
            StartHeadlessDisplay();
            theDirectDraw.CreateSurface(0, 4, true);
        },
        testing::ExitedWithCode(1), "CDirectDraw::CreateSurface: サーフェイスの作成に失敗しました");
}

TEST(DirectDrawPool, SlotsTwoTo255AreAllUsable) {
    StartHeadlessDisplay();
    std::vector<SurfaceId> ids;
    auto anyFree = [] {
        for (int id = 2; id < kSurfaceSlots; id++)
            if (!theDirectDraw.GetSurface(SurfaceId(id))) return true;
        return false;
    };
    while (anyFree()) ids.push_back(theDirectDraw.CreateSurface(2, 2, true));
    EXPECT_GE(ids.size(), 200u);
    EXPECT_EQ(ids.back(), 255);
    for (SurfaceId& id : ids) theDirectDraw.ReleaseSurface(id);
}
