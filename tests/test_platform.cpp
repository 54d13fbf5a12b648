// Case-insensitive game paths, atomic writes, the message queue, screenshots,
// presentation.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "graphics/dibsection.h"
#include "tests/testutil.h"

using testutil::TempDir;

TEST(Paths, ResolveComponentsWithoutRegardToCase) {
    TempDir dir;
    testutil::ScopedCwd cwd(dir.path());
    mkdir("Stage", 0755);
    mkdir("Graphics", 0755);
    mkdir("Graphics/Items", 0755);
    testutil::WriteFile("Stage/stage.txt", "x");
    testutil::WriteFile("Stage/MEADOW.png", "y");
    testutil::WriteFile("Graphics/Items/SPEED_UP.png", "z");
    char out[256];
    EXPECT_TRUE(plat::ResolvePath("stage\\stage.txt", out, sizeof out));
    EXPECT_STREQ(out, "Stage/stage.txt");
    EXPECT_TRUE(plat::ResolvePath("Stage\\meadow.PNG", out, sizeof out));
    EXPECT_STREQ(out, "Stage/MEADOW.png");
    EXPECT_TRUE(plat::ResolvePath("GRAPHICS/items\\speed_up.png", out, sizeof out));
    EXPECT_STREQ(out, "Graphics/Items/SPEED_UP.png");
    EXPECT_FALSE(plat::ResolvePath("Stage\\nothing.png", out, sizeof out));
    EXPECT_STREQ(out, "Stage/nothing.png");  // still usable to create the file
    FILE* f = plat::OpenFile("STAGE\\Stage.TXT", "rb");
    ASSERT_TRUE(f);
    EXPECT_EQ(fgetc(f), 'x');
    fclose(f);
    EXPECT_EQ(plat::OpenFile("none\\x.txt", "rb"), nullptr);
}

TEST(Paths, AtomicWriteReplacesWholeFilesOnly) {
    TempDir dir;
    testutil::ScopedCwd cwd(dir.path());
    ASSERT_TRUE(plat::WriteFileAtomic("option.txt", "first", 5));
    ASSERT_TRUE(plat::WriteFileAtomic("OPTION.TXT", "second!", 7));
    EXPECT_EQ(testutil::ReadFile("option.txt"), "second!");
    EXPECT_FALSE(plat::FileExists("option.txt.new"));
    EXPECT_FALSE(plat::WriteFileAtomic("missing-folder\\option.txt", "x", 1));
    EXPECT_TRUE(plat::RemoveFile("Option.Txt"));
    EXPECT_FALSE(plat::FileExists("option.txt"));
}

TEST(Messages, QueueKeepsOrderAndScriptedKeysArriveOnTime) {
    testutil::StartHeadlessDisplay(1000000);  // 1 ms per pump
    uint32_t now = plat::TimeMs();
    plat::ScriptKey(now + 10, 'B');
    plat::ScriptKey(now + 5, 'A');
    plat::Message m;
    for (int i = 0; i < 4; i++) plat::PumpTick();
    EXPECT_FALSE(plat::GetMessage(&m));
    for (int i = 0; i < 2; i++) plat::PumpTick();
    ASSERT_TRUE(plat::GetMessage(&m));
    EXPECT_EQ(m.type, plat::MSG_KEYDOWN);
    EXPECT_EQ(m.wParam, uint32_t('A'));
    for (int i = 0; i < 30; i++) plat::PumpTick();
    ASSERT_TRUE(plat::GetMessage(&m));
    EXPECT_EQ(m.wParam, uint32_t('B'));
    EXPECT_FALSE(plat::GetMessage(&m));  // both keys are still held
    for (int i = 0; i < 80; i++) plat::PumpTick();
    std::vector<std::pair<uint32_t, uint32_t>> rest;
    while (plat::GetMessage(&m)) rest.push_back({m.type, m.wParam});
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[0], std::make_pair(uint32_t(plat::MSG_KEYUP), uint32_t('A')));
    EXPECT_EQ(rest[1], std::make_pair(uint32_t(plat::MSG_KEYUP), uint32_t('B')));
}

TEST(Screenshot, F6TakesOneShotPerPressAndNeverOverwrites) {
    testutil::StartHeadlessDisplay();
    testutil::SetDistinctPalette();
    TempDir dir;
    testutil::ScopedCwd cwd(dir.path());
    for (int i = 0; i < 5; i++) testutil::WriteFile("shot_00" + std::to_string(i) + ".png", "keep");
    theDirectDraw.FillRect(0, 10, 20, 30, 40, 77);

    plat::PostMessage(plat::Message{plat::MSG_KEYDOWN, plat::VK_F6, 0});
    plat::PostMessage(plat::Message{plat::MSG_KEYDOWN, plat::VK_F6, 1u << 30});  // held: auto-repeat
    theApp.PumpMessages();
    EXPECT_TRUE(plat::FileExists("shot_005.png"));
    EXPECT_FALSE(plat::FileExists("shot_006.png"));
    EXPECT_EQ(testutil::ReadFile("shot_000.png"), "keep");
    plat::PostMessage(plat::Message{plat::MSG_KEYUP, plat::VK_F6, 0});
    plat::PostMessage(plat::Message{plat::MSG_KEYDOWN, plat::VK_F6, 0});
    theApp.PumpMessages();
    EXPECT_TRUE(plat::FileExists("shot_006.png"));

    CDibSection shot;
    shot.LoadPng("shot_005.png");
    EXPECT_EQ(shot.Width(), 640);
    EXPECT_EQ(shot.Height(), 480);
    EXPECT_EQ(*shot.PixelAddress(10, 20), 77);
    EXPECT_EQ(*shot.PixelAddress(40, 20), 0);
    RgbQuad table[256];
    shot.GetColorTable(0, 256, table);
    EXPECT_EQ(table[77].red, 77);
    EXPECT_EQ(table[77].blue, 255 - 77);
}

// Without a GPU the picture is scaled by whole pixels into the window's own
// surface, centred on black; a picture already on screen is not presented
// again, while a change of one pixel or of one palette entry is.
TEST(Presentation, ShowsEachNewPictureOnceScaledAndLetterboxed) {
    testutil::StartHeadlessDisplay();
    ASSERT_STREQ(plat::PresentPathName(), "surface");
    static uint8_t pixels[480][640];
    memset(pixels, 0, sizeof pixels);
    uint32_t palette[256] = {};
    palette[1] = 0x102030;
    palette[2] = 0xA0B0C0;
    palette[3] = 0x00FF00;
    palette[4] = 0x123456;
    pixels[0][0] = 1;
    pixels[479][639] = 2;
    pixels[240][320] = 3;

    plat::PresentCounts before = plat::GetPresentCounts();
    plat::Present(&pixels[0][0], 640, 480, 640, palette);
    plat::Present(&pixels[0][0], 640, 480, 640, palette);
    plat::PresentCounts after = plat::GetPresentCounts();
    EXPECT_EQ(after.presented - before.presented, 1u);
    EXPECT_EQ(after.skipped - before.skipped, 1u);

    int windowWidth = 0, windowHeight = 0;
    while (plat::ShownPixel(windowWidth, 0) != plat::kNoPixel) windowWidth++;
    while (plat::ShownPixel(0, windowHeight) != plat::kNoPixel) windowHeight++;
    ASSERT_GE(windowWidth, 640);
    ASSERT_GE(windowHeight, 480);
    int scale = std::min(windowWidth / 640, windowHeight / 480);
    int left = (windowWidth - 640 * scale) / 2, top = (windowHeight - 480 * scale) / 2;
    for (int k = 0; k < scale; k++) {
        EXPECT_EQ(plat::ShownPixel(left + k, top + k), 0x102030u);
        EXPECT_EQ(plat::ShownPixel(left + 640 * scale - 1 - k, top + 480 * scale - 1 - k), 0xA0B0C0u);
    }
    EXPECT_EQ(plat::ShownPixel(left + 320 * scale, top + 240 * scale), 0x00FF00u);
    EXPECT_EQ(plat::ShownPixel(left + scale, top), 0u);
    EXPECT_EQ(left > 0 ? plat::ShownPixel(left - 1, top) : 0u, 0u);
    EXPECT_EQ(top > 0 ? plat::ShownPixel(left, top - 1) : 0u, 0u);
    EXPECT_EQ(plat::ShownPixel(windowWidth - 1, windowHeight - 1), left + 640 * scale < windowWidth ? 0u : 0xA0B0C0u);

    pixels[240][320] = 4;
    plat::Present(&pixels[0][0], 640, 480, 640, palette);
    EXPECT_EQ(plat::ShownPixel(left + 320 * scale, top + 240 * scale), 0x123456u);
    palette[4] = 0xFEDCBA;
    plat::Present(&pixels[0][0], 640, 480, 640, palette);
    EXPECT_EQ(plat::ShownPixel(left + 320 * scale, top + 240 * scale), 0xFEDCBAu);
    plat::Present(&pixels[0][0], 640, 480, 640, palette);
    after = plat::GetPresentCounts();
    EXPECT_EQ(after.presented - before.presented, 3u);
    EXPECT_EQ(after.skipped - before.skipped, 2u);
}
