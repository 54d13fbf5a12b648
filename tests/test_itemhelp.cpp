// The item help: one line per item that the font can draw and the screen can
// hold, the same as the README's items table; the screen shows the items
// with their pictures as its cursor goes through the list, and the options
// menu's "ITEM HELP" row opens it.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>

#include "config/itemhelp.h"
#include "config/option.h"
#include "items/itemmanager.h"
#include "tests/testutil.h"

namespace {

constexpr int kHelpRow = 20;  // the options menu's "ITEM HELP"

std::string Upper(std::string text) {
    for (char& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    size_t a = text.find_first_not_of(' '), b = text.find_last_not_of(' ');
    return a == std::string::npos ? "" : text.substr(a, b - a + 1);
}

// Whether the 24x24 picture of an item kind is on the back buffer at (x, y).
bool PictureAt(int kind, int x, int y) {
    for (int dy = 0; dy < kItemPx; dy++)
        for (int dx = 0; dx < kItemPx; dx++)
            if (testutil::PixelAt(kBackBuffer, x + dx, y + dy) !=
                testutil::PixelAt(theItemManager.pictures[kind], dx, dy))
                return false;
    return true;
}

}  // namespace

// Drawn from x 64 to at most 624, in the font's glyphs (a character without
// one would leave a gap).
TEST(ItemHelp, LinesFitTheFontAndTheScreen) {
    const std::string glyphs = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .:=+<>*/";
    for (int k = 0; k < kItemKinds; k++) {
        const std::string line = kItemHelpLines[k];
        EXPECT_LE(CApp::TextWidth(line.c_str()), 560) << line;
        EXPECT_EQ(line.find_first_not_of(glyphs), std::string::npos) << line;
    }
}

// The README's items table lists the same items in the same order with the
// same lines (in ordinary letters there).
TEST(ItemHelp, ReadmeTableSaysTheSame) {
    std::ifstream readme(std::string(NUVEL_SOURCE_DIR) + "/README.md");
    ASSERT_TRUE(readme.good());
    std::string line;
    while (std::getline(readme, line) && line.rfind("| Item | What it does |", 0) != 0) {
    }
    ASSERT_TRUE(readme.good()) << "no items table in the README";
    std::getline(readme, line);  // the rule under the heading
    for (int k = 0; k < kItemKinds; k++) {
        ASSERT_TRUE(std::getline(readme, line)) << "the table ends before " << g_itemTable[k].name;
        std::stringstream cells(line);
        std::string empty, name, text;
        std::getline(cells, empty, '|');
        std::getline(cells, name, '|');
        std::getline(cells, text, '|');
        EXPECT_EQ(Upper(Trim(name)), g_itemTable[k].name) << line;
        EXPECT_EQ(Upper(Trim(text)), kItemHelpLines[k]) << line;
    }
    ASSERT_TRUE(std::getline(readme, line));
    EXPECT_EQ(line.rfind("|", 0), std::string::npos) << "the table goes on: " << line;
}

// Down and Page Down go through the list eight at a time, the list follows
// the cursor, and every item is shown with its picture in its row on the
// way (the highlight bar tints the cursor's own row).
TEST(ItemHelp, ScreenShowsEveryItemOnItsWay) {
    testutil::StartRoundsHeadless(100000);
    CItemHelp help;
    bool shown[kItemKinds] = {};
    auto look = [&] {
        help.Draw();
        EXPECT_LE(help.top, help.cursor);
        EXPECT_LT(help.cursor, help.top + 8);
        for (int row = 0; row < 8; row++) {
            const int kind = help.top + row;
            if (kind != help.cursor && PictureAt(kind, 32, 92 + 44 * row)) shown[kind] = true;
        }
    };
    look();
    for (int k = 1; k < kItemKinds; k++) {
        theApp.keyState[plat::VK_DOWN] = 1;
        EXPECT_TRUE(help.HandleKeys());
        EXPECT_EQ(help.cursor, k);
        look();
    }
    EXPECT_EQ(help.top, kItemKinds - 8);
    theApp.keyState[plat::VK_DOWN] = 1;
    help.HandleKeys();
    EXPECT_EQ(help.cursor, kItemKinds - 1);
    theApp.keyState[plat::VK_UP] = 1;  // the list stays where it is
    help.HandleKeys();
    look();
    EXPECT_EQ(help.top, kItemKinds - 8);
    theApp.keyState[plat::VK_PRIOR] = 1;
    help.HandleKeys();
    EXPECT_EQ(help.cursor, kItemKinds - 10);
    EXPECT_EQ(help.top, kItemKinds - 10);
    for (int k = 0; k < kItemKinds; k++) EXPECT_TRUE(shown[k]) << g_itemTable[k].name;
    theApp.keyState[plat::VK_ESCAPE] = 1;
    EXPECT_FALSE(help.HandleKeys());
}

// From the title's options menu: Return on "ITEM HELP" shows the items (the
// second picture in its place, under the first row's highlight bar), Escape
// comes back to the menu, and Escape there leaves it.
TEST(ItemHelp, OptionsMenuOpensIt) {
    testutil::StartRoundsHeadless(100000);
    testutil::TempDir dir;
    testutil::ScopedCwd cwd(dir.path());
    static bool sawHelp;
    sawHelp = false;
    PresentOverlay before = theDirectDraw.SetPresentOverlay([](uint8_t* pixels, int pitch, int, int) {
        Surface* second = theDirectDraw.GetSurface(theItemManager.pictures[1]);
        bool same = true;
        for (int y = 0; y < kItemPx && same; y++)
            for (int x = 0; x < kItemPx && same; x++)
                same = pixels[(136 + y) * pitch + 32 + x] == second->pixels[y * second->pitch + x];
        sawHelp = sawHelp || same;
    });
    uint32_t at = plat::TimeMs() + 200;
    for (int k = 0; k < kHelpRow; k++, at += 100) plat::ScriptKey(at, plat::VK_DOWN);
    plat::ScriptKey(at += 100, plat::VK_RETURN);
    plat::ScriptKey(at += 500, plat::VK_ESCAPE);
    plat::ScriptKey(at += 500, plat::VK_ESCAPE);
    theOption.Run();
    theDirectDraw.SetPresentOverlay(before);
    EXPECT_TRUE(sawHelp);
    EXPECT_GE(plat::TimeMs(), at);  // the second Escape, not the first, left the menu
    EXPECT_EQ(theOption.cursorRow, 0);
    EXPECT_STREQ(theOption.labels[kHelpRow], "ITEM HELP");
}
