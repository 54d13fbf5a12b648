// The options menu: cursor and scrolling, value steps and their limits, and
// values read from the settings file that lie outside the menu's ranges.
// Keys are set in theApp.keyState the way the window procedure sets them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "config/option.h"
#include "core/app.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "sound/bgm.h"
#include "sound/directsound.h"
#include "tests/testutil.h"

namespace {

enum : int {
    kRowExit = 0,
    kRowKeyboard = 2,
    kRowItemMax = 3,
    kRowGetDeath = 5,
    kRowFlush = 6,
    kRowExplosionType = 8,
    kRowExplosionValue = 9,
    kRowMeteoriteTime = 11,
    kRowMeteoriteValue = 12,
    kRowMidi = 13,
    kRowSoundEffect = 14,
    kRowVolume = 15,
    kRowMusicVolume = 16,
    kRowMatchRounds = 19,
    kRowFirstItem = 21,
    kRowKeys = kRowFirstItem + kItemKinds,  // the display and keys follow the items
    kRowScaling,
    kLastRow = kOptionRows - 1,
    kLastTopRow = kOptionRows - 14,
};

// Puts back every field the menu can change.
class OptionMenu : public ::testing::Test {
protected:
    void SetUp() override {
        m_wait = theRound.state.wait;
        m_keyboard = theApp.keyboardType;
        m_itemMax = theItemManager.itemMax;
        m_showTime = theItemManager.itemShowTime;
        m_getDeath = theItemManager.itemGetDeath;
        m_flush = theItemManager.itemUseFlush;
        m_limit = theItemManager.changeLimitation;
        m_type = theRound.explosionType;
        std::memcpy(m_values, theRound.explosionValues, sizeof(m_values));
        m_metEnable = theRound.meteorite.enable;
        m_metTime = theRound.meteorite.intervalSeconds;
        m_metCount = theRound.meteorite.count;
        m_device = theBgm.device;
        std::memcpy(m_path, theBgm.currentPath, sizeof(m_path));
        m_effects = theDirectSound.effectsEnabled;
        m_volume = theApp.soundVolume;
        m_musicVolume = theBgm.musicVolume;
        for (int k = 0; k < kItemKinds; ++k) m_weights[k] = g_itemTable[k].weight;
        std::memset(theApp.keyState, 0, sizeof(theApp.keyState));
        theOption.cursorRow = 0;
        theOption.topRow = 0;
        for (int row = 0; row < kOptionRows; ++row) theOption.ChangeValue(row, 0);
    }
    void TearDown() override {
        theRound.state.wait = m_wait;
        theApp.keyboardType = m_keyboard;
        theItemManager.itemMax = m_itemMax;
        theItemManager.itemShowTime = m_showTime;
        theItemManager.itemGetDeath = m_getDeath;
        theItemManager.itemUseFlush = m_flush;
        theItemManager.changeLimitation = m_limit;
        theRound.explosionType = m_type;
        std::memcpy(theRound.explosionValues, m_values, sizeof(m_values));
        theRound.meteorite.enable = m_metEnable;
        theRound.meteorite.intervalSeconds = m_metTime;
        theRound.meteorite.count = m_metCount;
        theBgm.device = m_device;
        std::memcpy(theBgm.currentPath, m_path, sizeof(m_path));
        theDirectSound.effectsEnabled = m_effects;
        theApp.soundVolume = m_volume;
        theDirectSound.SetVolume(m_volume);
        theBgm.musicVolume = m_musicVolume;
        theBgm.SetVolume(m_musicVolume);
        for (int k = 0; k < kItemKinds; ++k) g_itemTable[k].weight = m_weights[k];
        std::memset(theApp.keyState, 0, sizeof(theApp.keyState));
        theOption.cursorRow = 0;
        theOption.topRow = 0;
    }

    // One key press handled in one frame; the result of HandleKeys.
    static bool Press(uint32_t vk) {
        theApp.keyState[vk] = 1;
        return theOption.HandleKeys();
    }
    static void PressOn(int row, uint32_t vk, int times = 1) {
        theOption.cursorRow = row;
        for (int i = 0; i < times; ++i) Press(vk);
    }
    static std::string Text(int row) { return theOption.valueTexts[row]; }

    int32_t m_wait, m_itemMax, m_showTime, m_metTime, m_metCount;
    uint8_t m_keyboard, m_flush, m_limit, m_metEnable, m_device, m_effects;
    int8_t m_getDeath, m_type, m_volume, m_musicVolume;
    uint16_t m_values[4];
    char m_path[sizeof(theBgm.currentPath)];
    int8_t m_weights[kItemKinds];
};

TEST_F(OptionMenu, LabelsKeepTheirSpelling) {
    EXPECT_STREQ(theOption.labels[0], "EXIT");
    EXPECT_STREQ(theOption.labels[kRowKeyboard], "KEYBORAD TYPE");
    EXPECT_STREQ(theOption.labels[kRowExplosionType], "EXPLOSION TYPE");
    EXPECT_STREQ(theOption.labels[kRowExplosionValue], "EXPLOTION VALUE");
    EXPECT_STREQ(theOption.labels[kRowFirstItem], "SPEED UP");
    EXPECT_STREQ(theOption.labels[kRowFirstItem + kItemKinds - 1], "INVINCIBLE");
    // The rows added since: player comfort, the item help, then the keys and the display.
    const char* const added[] = {"MUSIC VOLUME", "HEAD MARKER", "AUTO FAST", "MATCH ROUNDS", "ITEM HELP"};
    for (int k = 0; k < 5; ++k) EXPECT_STREQ(theOption.labels[kRowMusicVolume + k], added[k]);
    EXPECT_STREQ(theOption.labels[kRowKeys], "KEYS");
    EXPECT_STREQ(theOption.labels[kRowScaling], "SCALING");
    EXPECT_EQ(theOption.colors[0], 6);
    EXPECT_EQ(theOption.colors[kRowVolume], 7);
    EXPECT_EQ(theOption.colors[kRowFirstItem + 4], 2);
}

TEST_F(OptionMenu, CursorScrollsTheFourteenVisibleRows) {
    for (int i = 0; i < 13; ++i) Press(plat::VK_DOWN);
    EXPECT_EQ(theOption.cursorRow, 13);
    EXPECT_EQ(theOption.topRow, 0);
    Press(plat::VK_DOWN);
    EXPECT_EQ(theOption.cursorRow, 14);
    EXPECT_EQ(theOption.topRow, 1);
    for (int i = 0; i < 14; ++i) Press(plat::VK_UP);
    EXPECT_EQ(theOption.cursorRow, 0);
    EXPECT_EQ(theOption.topRow, 0);

    // Up on the first row waits, still pressed, until it can act.
    EXPECT_TRUE(Press(plat::VK_UP));
    EXPECT_EQ(theApp.keyState[plat::VK_UP], 1);
    EXPECT_EQ(theOption.cursorRow, 0);
    Press(plat::VK_DOWN);  // Up is looked at before Down, so it goes on waiting
    EXPECT_EQ(theOption.cursorRow, 1);
    EXPECT_EQ(theApp.keyState[plat::VK_UP], 1);
}

// Page Down moves cursor and top by 14, the top no further than shows the
// last row, the cursor no further than the last row; Page Up back likewise.
TEST_F(OptionMenu, PageKeysMoveFourteenRowsWithinTheList) {
    int cursor = 0, top = 0;
    while (cursor != kLastRow) {
        Press(plat::VK_NEXT);
        cursor = std::min(cursor + 14, int(kLastRow));
        top = std::min(top + 14, int(kLastTopRow));
        EXPECT_EQ(theOption.cursorRow, cursor);
        EXPECT_EQ(theOption.topRow, top);
    }
    EXPECT_TRUE(Press(plat::VK_NEXT));  // at the last row it waits
    EXPECT_EQ(theApp.keyState[plat::VK_NEXT], 1);
    theApp.keyState[plat::VK_NEXT] = 0;
    Press(plat::VK_DOWN);
    EXPECT_EQ(theOption.cursorRow, kLastRow);
    theApp.keyState[plat::VK_DOWN] = 0;

    Press(plat::VK_PRIOR);
    EXPECT_EQ(theOption.cursorRow, kLastRow - 14);
    EXPECT_EQ(theOption.topRow, kLastTopRow - 14);
    while (theOption.cursorRow > 0) Press(plat::VK_PRIOR);
    EXPECT_EQ(theOption.topRow, 0);
}

TEST_F(OptionMenu, NumbersStopAtTheirLimits) {
    theItemManager.itemGetDeath = 0;
    PressOn(kRowGetDeath, plat::VK_LEFT);
    EXPECT_EQ(theItemManager.itemGetDeath, 0);
    theItemManager.itemGetDeath = 90;
    PressOn(kRowGetDeath, plat::VK_RIGHT, 5);
    EXPECT_EQ(theItemManager.itemGetDeath, 100);
    EXPECT_EQ(Text(kRowGetDeath), "100 p");

    theRound.meteorite.count = 100;
    PressOn(kRowMeteoriteValue, plat::VK_LEFT);
    EXPECT_EQ(theRound.meteorite.count, 100);
    theRound.meteorite.intervalSeconds = 1;
    PressOn(kRowMeteoriteTime, plat::VK_LEFT);
    EXPECT_EQ(theRound.meteorite.intervalSeconds, 1);

    theItemManager.itemMax = 98;
    PressOn(kRowItemMax, plat::VK_RIGHT, 3);
    EXPECT_EQ(theItemManager.itemMax, 99);

    theApp.soundVolume = 1;
    PressOn(kRowVolume, plat::VK_LEFT, 2);
    EXPECT_EQ(theApp.soundVolume, 0);
    EXPECT_EQ(Text(kRowVolume), "0 p");
    // The music's volume is its own row, beside the effects', in the
    // decibel steps it is made of.
    theBgm.musicVolume = 99;
    PressOn(kRowMusicVolume, plat::VK_RIGHT, 3);
    EXPECT_EQ(theBgm.musicVolume, 100);
    EXPECT_EQ(Text(kRowMusicVolume), "FULL");
    PressOn(kRowMusicVolume, plat::VK_LEFT, 20);
    EXPECT_EQ(Text(kRowMusicVolume), "20 DB DOWN");
    EXPECT_EQ(theApp.soundVolume, 0);

    g_itemTable[3].weight = 100;
    PressOn(kRowFirstItem + 3, plat::VK_LEFT);
    EXPECT_EQ(g_itemTable[3].weight, 95);
}

TEST_F(OptionMenu, ExplosionValueFollowsTheType) {
    theRound.explosionType = 0;
    theRound.explosionValues[0] = 16;
    theRound.explosionValues[1] = 300;
    theOption.ChangeValue(kRowExplosionType, 0);
    EXPECT_EQ(Text(kRowExplosionType), "CIRCLE");
    EXPECT_EQ(Text(kRowExplosionValue), "16");
    PressOn(kRowExplosionType, plat::VK_RIGHT);
    EXPECT_EQ(Text(kRowExplosionType), "COSMO");
    EXPECT_EQ(Text(kRowExplosionValue), "300");

    // Stepping down from 0 wraps the unsigned value round to the limit.
    theRound.explosionValues[1] = 0;
    PressOn(kRowExplosionValue, plat::VK_LEFT);
    EXPECT_EQ(theRound.explosionValues[1], 5000);
    PressOn(kRowExplosionValue, plat::VK_RIGHT);
    EXPECT_EQ(theRound.explosionValues[1], 5000);
    theRound.explosionType = 0;
    theRound.explosionValues[0] = 0;
    PressOn(kRowExplosionValue, plat::VK_LEFT);
    EXPECT_EQ(theRound.explosionValues[0], 99);
}

TEST_F(OptionMenu, TogglesAndSideEffects) {
    theDirectSound.effectsEnabled = 1;
    PressOn(kRowSoundEffect, plat::VK_RETURN);
    EXPECT_EQ(theDirectSound.effectsEnabled, 0);
    EXPECT_EQ(Text(kRowSoundEffect), "OFF");
    PressOn(kRowSoundEffect, plat::VK_LEFT);
    EXPECT_EQ(theDirectSound.effectsEnabled, 1);

    // A match of 0 rounds has no end and says so; it has at most 99.
    const int32_t rounds = theRound.matchRounds;
    theRound.matchRounds = 0;
    theOption.ChangeValue(kRowMatchRounds, 0);
    EXPECT_EQ(Text(kRowMatchRounds), "ENDLESS");
    PressOn(kRowMatchRounds, plat::VK_RIGHT, 2);
    EXPECT_EQ(Text(kRowMatchRounds), "2");
    theRound.matchRounds = 98;
    PressOn(kRowMatchRounds, plat::VK_RIGHT, 3);
    EXPECT_EQ(theRound.matchRounds, 99);
    theRound.matchRounds = rounds;

    // Changing the music device makes the next piece open anew; merely
    // showing the row does not.
    std::strcpy(theBgm.currentPath, "Bgm\\a.mid");
    theBgm.device = 0;
    theOption.ChangeValue(kRowMidi, 0);
    EXPECT_STREQ(theBgm.currentPath, "Bgm\\a.mid");
    EXPECT_EQ(Text(kRowMidi), "DIRECTM");
    PressOn(kRowMidi, plat::VK_RIGHT);
    EXPECT_EQ(theBgm.device, 1);
    EXPECT_EQ(theBgm.currentPath[0], '\0');
    EXPECT_EQ(Text(kRowMidi), "MIDI M");
}

TEST_F(OptionMenu, ReturnOnExitAndEscapeLeave) {
    Press(plat::VK_DOWN);
    EXPECT_TRUE(Press(plat::VK_RETURN));  // Return on a value row steps it
    theOption.cursorRow = 0;
    EXPECT_FALSE(Press(plat::VK_RETURN));
    theOption.cursorRow = 20;
    theOption.topRow = 10;
    EXPECT_FALSE(Press(plat::VK_ESCAPE));
    EXPECT_EQ(theOption.cursorRow, 0);
    EXPECT_EQ(theApp.keyState[plat::VK_ESCAPE], 0);
}

// Values from a hand-edited settings file: shown without reading past any
// table, and pulled into range by the first step.
TEST_F(OptionMenu, OutOfRangeFileValuesAreSafe) {
    theRound.explosionType = 7;
    theOption.ChangeValue(kRowExplosionType, 0);
    EXPECT_EQ(Text(kRowExplosionType), "7");
    EXPECT_EQ(Text(kRowExplosionValue), "");
    uint16_t before[4];
    std::memcpy(before, theRound.explosionValues, sizeof(before));
    PressOn(kRowExplosionValue, plat::VK_RIGHT);
    PressOn(kRowExplosionValue, plat::VK_LEFT);
    EXPECT_EQ(std::memcmp(before, theRound.explosionValues, sizeof(before)), 0);
    PressOn(kRowExplosionType, plat::VK_LEFT);
    EXPECT_EQ(theRound.explosionType, 3);
    EXPECT_EQ(Text(kRowExplosionType), "COSMO A");
    theRound.explosionType = -3;
    PressOn(kRowExplosionType, plat::VK_RIGHT);
    EXPECT_EQ(theRound.explosionType, 0);

    theItemManager.itemUseFlush = 5;
    theOption.ChangeValue(kRowFlush, 0);
    EXPECT_EQ(Text(kRowFlush), "5");
    PressOn(kRowFlush, plat::VK_RIGHT);
    EXPECT_EQ(theItemManager.itemUseFlush, 0);

    theApp.keyboardType = 9;
    theOption.ChangeValue(kRowKeyboard, 0);
    EXPECT_EQ(Text(kRowKeyboard), "NOTE");

    // A weight above the menu's 100 (as far as a signed byte reaches) is
    // shown as read and comes back to the limit, not round to 0.
    g_itemTable[0].weight = 127;
    theOption.ChangeValue(kRowFirstItem, 0);
    EXPECT_EQ(Text(kRowFirstItem), "127 p");
    PressOn(kRowFirstItem, plat::VK_RIGHT);
    EXPECT_EQ(g_itemTable[0].weight, 100);

    theItemManager.itemMax = -5;
    PressOn(kRowItemMax, plat::VK_RIGHT);
    EXPECT_EQ(theItemManager.itemMax, 0);
    theRound.state.wait = 2147483647;
    PressOn(1, plat::VK_RIGHT);
    EXPECT_EQ(theRound.state.wait, 9999);
}

// The whole screen on the test clock: scripted keys change a value, scroll to
// the item rows and leave with Escape; leaving saves the file.
TEST_F(OptionMenu, RunsUntilEscapeAndSavesOnLeaving) {
    testutil::StartHeadlessDisplay();
    testutil::LoadGamePictures();
    {
        testutil::ScopedCwd gameDir(NUVEL_GAME_DIR);
        theItemManager.LoadPictures();
    }
    testutil::TempDir dir;
    testutil::ScopedCwd cwd(dir.path());
    theRound.state.wait = 80;

    // Each key is held for two frames: a tap shorter than a frame can fall
    // between two reads of the key table, as with a real keyboard.
    auto hold = [](uint32_t atMs, uint32_t vk) {
        plat::ScriptMessage(atMs, plat::Message{plat::MSG_KEYDOWN, vk, 0});
        plat::ScriptMessage(atMs + 66, plat::Message{plat::MSG_KEYUP, vk, 0});
    };
    hold(1100, plat::VK_DOWN);
    hold(1200, plat::VK_RIGHT);  // GAME WAIT 80 -> 81
    hold(1300, plat::VK_NEXT);
    hold(1400, plat::VK_NEXT);  // item rows with their pictures
    hold(1900, plat::VK_ESCAPE);
    theOption.Run();

    EXPECT_EQ(theRound.state.wait, 81);
    EXPECT_EQ(theOption.cursorRow, 0);
    EXPECT_EQ(theOption.topRow, std::min(28, int(kLastTopRow)));
    EXPECT_EQ(theOption.titleSurface, 0);
    EXPECT_NE(testutil::ReadFile("option.txt").find("\r\nGAME_WAIT=81\r\n"), std::string::npos);
    for (SurfaceId& picture : theItemManager.pictures) theDirectDraw.ReleaseSurface(picture);
}

}  // namespace
