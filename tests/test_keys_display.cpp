// A seat's own keys from the settings file to the round, the round intro and
// back to the file; the key screen; fit scaling; skipping the logo intro.
// Run headless with the generated game data and scripted keys.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/keyscreen.h"
#include "config/option.h"
#include "match/round.h"
#include "match/settings.h"
#include "screens/roundintro.h"
#include "screens/roundplay.h"
#include "tests/testutil.h"

using testutil::PixelAt;

namespace {

constexpr uint32_t kJ = 'J', kK = 'K', kL = 'L', kQ = 'Q', kX = 'X';

// Puts back everything these tests change: the seats' keys and types, the
// keyboard type and the display choices.
class OwnKeys : public testing::Test {
protected:
    void SetUp() override {
        testutil::StartHeadlessDisplay();
        testutil::LoadGamePictures();
        theDirectDraw.ClearSurface(theApp.backgroundSurface);
        std::memcpy(m_keys, theRound.ownKeys, sizeof m_keys);
        std::memset(theRound.ownKeys, 0, sizeof theRound.ownKeys);
        for (int i = 0; i < kPlayers; i++) m_types[i] = theRound.players[i].type;
        m_keyboard = theApp.keyboardType;
        theApp.keyboardType = 0;
        m_display = plat::Display();
        plat::Display() = plat::DisplayChoices{};  // the defaults, which the file does not name
    }
    void TearDown() override {
        std::memcpy(theRound.ownKeys, m_keys, sizeof m_keys);
        for (int i = 0; i < kPlayers; i++) theRound.players[i].type = m_types[i];
        theApp.keyboardType = m_keyboard;
        plat::Display() = m_display;
        theRound.roundCounter = 0;
        plat::FlushMessages();
        theApp.ClearKeys();
    }

    static std::string Saved() {
        theOption.Save();
        return testutil::ReadFile("option.txt");
    }
    static SeatKeyCodes Codes(uint32_t left, uint32_t item, uint32_t right) {
        return SeatKeyCodes{uint8_t(left), uint8_t(item), uint8_t(right)};
    }

    uint8_t m_keys[kPlayers][kSeatKeys];
    int8_t m_types[kPlayers];
    uint8_t m_keyboard;
    plat::DisplayChoices m_display;
    testutil::TempDir m_dir;
    testutil::ScopedCwd m_cwd{m_dir.path()};
};

TEST_F(OwnKeys, FromTheFileToTheRoundTheIntroAndBack) {
    for (int i = 0; i < kPlayers; i++) theRound.players[i].type = PLAYER_MAN;
    theRound.players[3].type = PLAYER_NON;
    std::string plain = Saved();  // no own choices: the file as it always was
    EXPECT_EQ(plain.find("KEYS_"), std::string::npos);
    EXPECT_EQ(plain.find("WINDOWED"), std::string::npos);

    testutil::WriteFile("option.txt", "KEYS_1P=J,K,L\r\nkeys_3p=left, space ,Keypad 3\r\nWINDOWED=1\r\nSCALING=1\r\n");
    ASSERT_TRUE(theOption.Load());
    EXPECT_EQ(SeatKeys(0), Codes(kJ, kK, kL));
    EXPECT_EQ(SeatKeys(1), Codes('B', 'N', 'M')) << "a seat without KEYS_ keeps its layout";
    EXPECT_EQ(SeatKeys(2), Codes(plat::VK_LEFT, plat::VK_SPACE, plat::VK_NUMPAD3));
    EXPECT_EQ(plat::Display().windowed, 1);
    EXPECT_EQ(plat::Display().scaling, plat::SCALING_FIT);

    // The round reads the seat's own keys, and no longer its layout's.
    theApp.keyState[kQ] = 1;
    theApp.keyState[kK] = 1;
    EXPECT_EQ(TakeSeatKeys(0), SEAT_ITEM);
    EXPECT_EQ(theApp.keyState[kQ], 1) << "Q is nobody's key now";

    // The intro shows the keys in use; a seat with a long label widens the column.
    plat::ScriptKey(plat::TimeMs() + 100, plat::VK_ESCAPE);
    theRoundIntro.Run();
    EXPECT_STREQ(theRoundIntro.header, "PL KEY     SCORE    RANK WIN");
    EXPECT_STREQ(theRoundIntro.playerLines[0], "1P JKL     00000000 1    0  ");
    EXPECT_STREQ(theRoundIntro.playerLines[2], "3P l SPC 3 00000000 1    0  ");
    SurfaceId reference = theDirectDraw.CreateSurface(640, 480, true);
    theApp.DrawText(reference, 0, 208, theRoundIntro.playerLines[0], 0, true, 0);
    // The seat's kind, left of its row with a blank between.
    theApp.DrawText(reference, (640 - CApp::TextWidth(theRoundIntro.playerLines[0])) / 2 - 16 - 48, 208, "MAN", 0,
                    false, 0);
    for (int x = 0; x < 640; x++)
        for (int y = 208; y < 224; y++) ASSERT_EQ(PixelAt(0, x, y), PixelAt(reference, x, y)) << x << "," << y;
    theDirectDraw.ReleaseSurface(reference);

    // Saved by their names after the file's usual lines, which stay as they were.
    std::string saved = Saved();
    ASSERT_EQ(saved.compare(0, plain.size(), plain), 0);
    std::string own = saved.substr(plain.size());
    EXPECT_NE(own.find("\r\nWINDOWED=1\r\nSCALING=1\r\nKEYS_1P=J,K,L\r\nKEYS_3P=Left,Space,Keypad 3\r\n"),
              std::string::npos)
        << own;

    // Without own keys the intro is what it always was.
    std::memset(theRound.ownKeys, 0, sizeof theRound.ownKeys);
    plat::ScriptKey(plat::TimeMs() + 100, plat::VK_ESCAPE);
    theRoundIntro.Run();
    EXPECT_STREQ(theRoundIntro.header, "PL KEY SCORE    RANK WIN");
    EXPECT_STREQ(theRoundIntro.playerLines[0], "1P QAZ 00000000 1    0  ");
}

TEST_F(OwnKeys, UnknownReservedOrRepeatedNamesLeaveTheSeatOnItsLayout) {
    testing::internal::CaptureStderr();
    testutil::WriteFile("option.txt",
                        "KEYS_1P=J,NOSUCHKEY,L\r\nKEYS_2P=J,J,L\r\nKEYS_3P=Escape,K,L\r\nKEYS_4P=,,.,/\r\n");
    ASSERT_TRUE(theOption.Load());
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("KEYS_1P ignored: \"NOSUCHKEY\" is no key name it knows"), std::string::npos) << messages;
    EXPECT_NE(messages.find("KEYS_2P ignored: \"J\" is named twice"), std::string::npos) << messages;
    EXPECT_NE(messages.find("KEYS_3P ignored: \"ESCAPE\" is a key the game keeps"), std::string::npos) << messages;
    EXPECT_EQ(SeatKeys(0), Codes(kQ, 'A', 'Z'));
    EXPECT_EQ(SeatKeys(1), Codes('B', 'N', 'M'));
    EXPECT_EQ(SeatKeys(2), Codes(plat::VK_LEFT, plat::VK_DOWN, plat::VK_RIGHT));
    // The comma key's name is a comma.
    EXPECT_EQ(SeatKeys(3), Codes(plat::VK_OEM_COMMA, plat::VK_OEM_PERIOD, plat::VK_OEM_2));
    EXPECT_NE(Saved().find("\r\nKEYS_4P=,,.,/\r\n"), std::string::npos);
}

// The key screen on the test clock: 2P takes J, K, L; Q (1P's) and a second
// J are refused on the way; 3P's keys are asked for and Escape keeps them;
// Delete gives 2P its layout back only when no other seat holds those keys.
TEST_F(OwnKeys, KeyScreenSetsASeatAndRefusesAKeyUsedTwice) {
    uint32_t at = plat::TimeMs() + 100;
    const uint32_t keys[] = {plat::VK_DOWN,   plat::VK_RETURN, kQ, kJ, kJ, kK, kL, plat::VK_DOWN, plat::VK_RETURN, kX,
                             plat::VK_ESCAPE, plat::VK_ESCAPE};
    for (uint32_t vk : keys) {
        plat::ScriptKey(at, vk);
        at += 150;
    }
    CKeyScreen screen;
    screen.Run();
    EXPECT_EQ(SeatKeys(1), Codes(kJ, kK, kL));
    EXPECT_EQ(SeatKeys(2), Codes(plat::VK_LEFT, plat::VK_DOWN, plat::VK_RIGHT)) << "Escape keeps the old keys";
    EXPECT_STREQ(screen.message, "3P KEYS KEPT");
    EXPECT_EQ(screen.titleSurface, 0);

    // A refusal says why, and the seat goes on asking for the same key.
    screen.capturing = 0;
    screen.captured = 0;
    theApp.keyState[kK] = 1;
    screen.HandleKeys();
    EXPECT_STREQ(screen.message, "K IS USED BY 2P");
    EXPECT_EQ(screen.captured, 0);
    theApp.keyState[plat::VK_F6] = 1;
    screen.HandleKeys();
    EXPECT_STREQ(screen.message, "F6 IS KEPT BY THE GAME");
    // Keys are named whole, as the layout prints them.
    const struct {
        uint32_t vk;
        const char* message;
    } named[] = {{plat::VK_MENU, "LEFT ALT IS KEPT BY THE GAME"},
                 {plat::VK_PRIOR, "PAGE UP IS KEPT BY THE GAME"},
                 {plat::VK_NEXT, "PAGE DOWN IS KEPT BY THE GAME"},
                 {plat::VK_LEFT, "LEFT IS USED BY 3P"}};
    for (const auto& key : named) {
        theApp.keyState[key.vk] = 1;
        screen.HandleKeys();
        EXPECT_STREQ(screen.message, key.message);
    }
    theRound.ownKeys[2][SEAT_KEY_ITEM] = plat::VK_SPACE;
    theRound.ownKeys[2][SEAT_KEY_LEFT] = plat::VK_LEFT;
    theRound.ownKeys[2][SEAT_KEY_RIGHT] = plat::VK_RIGHT;
    theApp.keyState[plat::VK_SPACE] = 1;
    screen.HandleKeys();
    EXPECT_STREQ(screen.message, "SPACE IS USED BY 3P");
    std::memset(theRound.ownKeys[2], 0, sizeof theRound.ownKeys[2]);
    screen.capturing = -1;
    // The numeric pad's keys of seat 4 are labelled as such in its row.
    char row[41];
    screen.RowText(3, row, sizeof row);
    EXPECT_STREQ(row, "4P KP3   KP6   KP9  ");

    // 2P back to B, N, M; then 1P takes B, and 2P can no longer go back.
    screen.cursor = 1;
    theApp.keyState[plat::VK_DELETE] = 1;
    screen.HandleKeys();
    EXPECT_EQ(SeatKeys(1), Codes('B', 'N', 'M'));
    theRound.ownKeys[0][SEAT_KEY_LEFT] = 'B';
    theRound.ownKeys[0][SEAT_KEY_ITEM] = 'A';
    theRound.ownKeys[0][SEAT_KEY_RIGHT] = 'Z';
    theRound.ownKeys[1][SEAT_KEY_LEFT] = 'J';
    theRound.ownKeys[1][SEAT_KEY_ITEM] = 'K';
    theRound.ownKeys[1][SEAT_KEY_RIGHT] = 'L';
    theApp.keyState[plat::VK_DELETE] = 1;
    screen.HandleKeys();
    EXPECT_STREQ(screen.message, "B IS USED BY 1P");
    EXPECT_EQ(SeatKeys(1), Codes(kJ, kK, kL));
}

// Fit scaling on the dummy driver's 1024x768 screen: the picture fills the
// height, 1.6 output pixels per picture pixel. Output column 0 lies in
// picture column 0, column 2 in column 1, and column 1 straddles both, so it
// alone is a mix (0.4 of the second, 102/256); whole pixels come back with
// the letterbox.
TEST_F(OwnKeys, FitScalingFillsTheScreenAndMixesOnlyWhereTwoPixelsMeet) {
    if (plat::ShownPixel(1023, 767) == plat::kNoPixel || plat::ShownPixel(1024, 0) != plat::kNoPixel)
        GTEST_SKIP() << "the test window is not 1024x768";
    static uint8_t pixels[480][640];
    std::memset(pixels, 1, sizeof pixels);
    for (auto& row : pixels) row[0] = 2;
    pixels[479][639] = 3;
    uint32_t palette[256] = {};
    palette[1] = 0xFFFFFF;
    palette[2] = 0x000000;
    palette[3] = 0x336699;

    plat::Display().scaling = plat::SCALING_FIT;
    plat::Present(&pixels[0][0], 640, 480, 640, palette);
    EXPECT_EQ(plat::ShownPixel(0, 0), 0x000000u);
    EXPECT_EQ(plat::ShownPixel(1, 0), 0x656565u);  // 255 x 102 / 256, rounded down
    EXPECT_EQ(plat::ShownPixel(2, 0), 0xFFFFFFu);
    EXPECT_EQ(plat::ShownPixel(1023, 767), 0x336699u);
    EXPECT_NE(plat::ShownPixel(1022, 766), 0xFFFFFFu) << "where picture pixels 638 and 639 meet";
    EXPECT_EQ(plat::ShownPixel(1021, 766), 0xFFFFFFu) << "the mix stays one pixel wide";

    plat::Display().scaling = plat::SCALING_WHOLE;
    plat::Present(&pixels[0][0], 640, 480, 640, palette);
    EXPECT_EQ(plat::ShownPixel(0, 0), 0u) << "letterbox";
    EXPECT_EQ(plat::ShownPixel(192, 144), 0x000000u);
    EXPECT_EQ(plat::ShownPixel(193, 144), 0xFFFFFFu);
}

// SCALING=AUTO, the default: whole pixels where they fill at least 90% of
// the height (1280x1024: 960 rows; a window of the picture's own size), else
// fit (1366x768 and 1920x1080, where whole pixels leave 480 of 768 rows or
// 960 of 1080). The test window's full screen is 1024x768; Alt+Enter makes
// it a window of 640x480 there.
TEST_F(OwnKeys, AutoScalingFitsWhereWholePixelsLeaveTooMuchBlack) {
    EXPECT_EQ(plat::DisplayChoices{}.scaling, plat::SCALING_AUTO);
    EXPECT_TRUE(plat::ScalesToFit(plat::SCALING_AUTO, 640, 480, 1366, 768));
    EXPECT_TRUE(plat::ScalesToFit(plat::SCALING_AUTO, 640, 480, 1920, 1080));
    EXPECT_FALSE(plat::ScalesToFit(plat::SCALING_AUTO, 640, 480, 1280, 1024));
    EXPECT_FALSE(plat::ScalesToFit(plat::SCALING_AUTO, 640, 480, 2560, 1440));
    EXPECT_FALSE(plat::ScalesToFit(plat::SCALING_WHOLE, 640, 480, 1366, 768));
    EXPECT_TRUE(plat::ScalesToFit(plat::SCALING_FIT, 640, 480, 1280, 1024));
    if (plat::ShownPixel(1023, 767) == plat::kNoPixel || plat::ShownPixel(1024, 0) != plat::kNoPixel)
        GTEST_SKIP() << "the test window is not 1024x768";
    static uint8_t pixels[480][640];
    std::memset(pixels, 1, sizeof pixels);
    for (auto& row : pixels) row[0] = 2;
    uint32_t palette[256] = {};
    palette[1] = 0xFFFFFF;
    plat::Display().scaling = plat::SCALING_AUTO;
    plat::Present(&pixels[0][0], 640, 480, 640, palette);
    EXPECT_EQ(plat::ShownPixel(1, 0), 0x656565u) << "fit: column 1 mixes picture columns 0 and 1";
    plat::ToggleFullscreen();
    plat::Present(&pixels[0][0], 640, 480, 640, palette);
    EXPECT_EQ(plat::ShownPixel(0, 0), 0x000000u);
    EXPECT_EQ(plat::ShownPixel(1, 0), 0xFFFFFFu) << "a 640x480 window: by whole pixels";
    plat::ToggleFullscreen();
}

// A key press during the logo intro ends it at once, on black; the intro
// otherwise lasts about five seconds.
TEST_F(OwnKeys, AKeySkipsTheLogoIntro) {
    uint32_t start = plat::TimeMs();
    plat::ScriptKey(start + 400, plat::VK_SPACE);
    theApp.LogoIntro();
    EXPECT_LT(plat::TimeMs() - start, 1000u);
    EXPECT_EQ(theDirectDraw.DisplayPalette()[100], 0u);
}

}  // namespace
