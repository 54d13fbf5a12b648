// The round intro and the stage and music selector, run headless on the test
// clock with the generated game data and scripted keys. The tiled background
// is blanked, so every non-zero pixel of a shown frame is the screen's own.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

#include "match/round.h"
#include "platform/audio.h"
#include "platform/midi.h"
#include "screens/results.h"
#include "screens/roundintro.h"
#include "screens/stageselect.h"
#include "screens/title.h"
#include "sound/bgm.h"
#include "sound/directsound.h"
#include "tests/testutil.h"

using testutil::PixelAt;

namespace {

constexpr uint32_t kKeyGapMs = 100;

// Presses the keys one after another, kKeyGapMs apart, starting soon after
// now; a few Escapes follow so that a screen that misses a key still ends
// (with a result the test then rejects) instead of hanging.
void ScriptKeys(std::initializer_list<uint32_t> keys) {
    uint32_t at = plat::TimeMs() + kKeyGapMs;
    for (uint32_t vk : keys) {
        plat::ScriptKey(at, vk);
        at += kKeyGapMs;
    }
    for (int i = 0; i < 3; i++) plat::ScriptKey(at + 1000 + kKeyGapMs * i, plat::VK_ESCAPE);
}

// Rows [y, y + height) of two surfaces hold the same pixels.
bool SameBand(SurfaceId a, SurfaceId b, int y, int height) {
    for (int row = y; row < y + height; row++)
        for (int x = 0; x < 640; x++)
            if (PixelAt(a, x, row) != PixelAt(b, x, row)) return false;
    return true;
}

bool BandIsBlank(SurfaceId id, int y, int height) {
    for (int row = y; row < y + height; row++)
        for (int x = 0; x < 640; x++)
            if (PixelAt(id, x, row)) return false;
    return true;
}

class ScreensTest : public testing::Test {
protected:
    void SetUp() override {
        testutil::StartHeadlessDisplay();
        testutil::LoadGamePictures();
        theDirectDraw.ClearSurface(theApp.backgroundSurface);
        for (int i = 0; i < kPlayers; i++)
            m_saved[i] =
                Saved{theRound.players[i].type, theRound.players[i].totalScore, theRound.players[i].matchCounter};
        m_keyboard = theApp.keyboardType;
        m_device = theBgm.device;
        m_scratch = theDirectDraw.CreateSurface(640, 480, true);
    }
    void TearDown() override {
        theDirectDraw.ReleaseSurface(m_scratch);
        for (int i = 0; i < kPlayers; i++) SetPlayer(i, m_saved[i].type, m_saved[i].totalScore, m_saved[i].wins);
        theApp.keyboardType = m_keyboard;
        theBgm.Shutdown();
        theBgm.device = m_device;
        plat::MidiUseSoundFont(nullptr);
        theRound.roundCounter = 0;
        plat::FlushMessages();
        theApp.ClearKeys();
    }

    // A text line as the screens draw it (centred, clip mode 0), alone on
    // the scratch surface.
    SurfaceId Reference(int y, const char* text, uint8_t color) {
        theDirectDraw.ClearSurface(m_scratch);
        theApp.DrawText(m_scratch, 0, y, text, color, true, 0);
        return m_scratch;
    }
    // A seat's row: the line centred and the seat's kind left of it, a blank between.
    SurfaceId Reference(int y, const char* text, uint8_t color, const char* kind) {
        Reference(y, text, color);
        const int left = (640 - 16 * int(std::strlen(text))) / 2;
        theApp.DrawText(m_scratch, left - 16 - 16 * int(std::strlen(kind)), y, kind, color, false, 0);
        return m_scratch;
    }

    static void SetPlayer(int i, int type, int32_t score, uint16_t wins) {
        theRound.players[i].type = static_cast<int8_t>(type);
        theRound.players[i].totalScore = score;
        theRound.players[i].matchCounter = wins;
    }

    struct Saved {
        int type;
        int32_t totalScore;
        uint16_t wins;
    } m_saved[kPlayers] = {};
    uint8_t m_keyboard = 0;
    uint8_t m_device = 0;
    SurfaceId m_scratch = 0;
};

// ---- round intro -------------------------------------------------------------------

TEST_F(ScreensTest, IntroShowsStandingsKeysAndBannerAndEscapeMeansExit) {
    theApp.keyboardType = 0;
    SetPlayer(0, PLAYER_MAN, 2240, 0);
    SetPlayer(1, PLAYER_EASY, 4360, 3);
    SetPlayer(2, PLAYER_NON, -5, 0);
    SetPlayer(3, PLAYER_MASTER, 4360, 12);
    theRound.roundCounter = 0;
    theRound.NextRound();
    theRound.NextRound();

    // Down and Up again: the cursor is back on "OK NEXT" when Escape leaves.
    ScriptKeys({plat::VK_DOWN, plat::VK_UP, plat::VK_ESCAPE});
    EXPECT_EQ(theRoundIntro.Run(), INTRO_EXIT);
    EXPECT_EQ(theRoundIntro.cursor, INTRO_EXIT);
    EXPECT_EQ(theRoundIntro.banner, 0) << "the banner lives only while the screen runs";

    // Equal totals share rank 1; the next rank is 3; the empty slot is ranked too.
    EXPECT_STREQ(theRoundIntro.playerLines[0], "1P QAZ 00002240 3    0  ");
    EXPECT_STREQ(theRoundIntro.playerLines[1], "2P BNM 00004360 1    3  ");
    EXPECT_STREQ(theRoundIntro.playerLines[2], "3P ldr -0000005 4    0  ");
    EXPECT_STREQ(theRoundIntro.playerLines[3], "4P 369 00004360 1    12 ");

    // The last frame shown: banner, header, the three seated players in their
    // colours with their kinds beside them, the empty row blank, the bar on
    // "OK NEXT".
    theDirectDraw.ClearSurface(m_scratch);
    theApp.DrawTextScaled(m_scratch, 96, 80, 64, 64, "ROUND 3", 9, false, false);
    EXPECT_TRUE(SameBand(0, m_scratch, 80, 64)) << "banner ROUND 3, 64 px glyphs, centred at y 80";
    EXPECT_TRUE(SameBand(0, Reference(176, "PL KEY SCORE    RANK WIN", 7), 176, 16));
    EXPECT_TRUE(SameBand(0, Reference(208, "1P QAZ 00002240 3    0  ", 0, "MAN"), 208, 16));
    EXPECT_TRUE(SameBand(0, Reference(240, "2P BNM 00004360 1    3  ", 1, "EASY"), 240, 16));
    EXPECT_TRUE(BandIsBlank(0, 272, 16)) << "an empty seat leaves its row blank";
    EXPECT_TRUE(SameBand(0, Reference(304, "4P 369 00004360 1    12 ", 3, "MSTR"), 304, 16));
    ASSERT_NE(theApp.tintTable[0], 0);
    EXPECT_EQ(PixelAt(0, 320, 349), theApp.tintTable[0]);
    EXPECT_EQ(PixelAt(0, 320, 381), 0);
}

// In a match of MATCH_ROUNDS rounds the intro counts the rounds and calls
// the last one so; the last round's result screen goes on to the final
// standings instead of the next round.
TEST_F(ScreensTest, TheLastRoundOfAMatchIsCalledSo) {
    const int32_t savedRounds = theRound.matchRounds;
    for (int i = 0; i < kPlayers; i++) SetPlayer(i, i < 2 ? PLAYER_MAN : PLAYER_NON, 0, 0);
    theRound.matchRounds = 3;
    struct Case {
        int roundCounter;
        const char* banner;
        int glyphWidth;
        const char* resultEntry;
    } cases[] = {{1, "ROUND 2/3", 64, "NEXT ROUND"}, {2, "FINAL ROUND", 48, "FINAL STANDINGS"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.banner);
        theRound.roundCounter = uint16_t(c.roundCounter);
        ScriptKeys({plat::VK_RETURN});
        theRoundIntro.Run();
        theDirectDraw.ClearSurface(m_scratch);
        const int width = c.glyphWidth * int(std::strlen(c.banner));
        theApp.DrawTextScaled(m_scratch, (640 - width) / 2, 80, c.glyphWidth, 64, c.banner, 9, false, false);
        EXPECT_TRUE(SameBand(0, m_scratch, 80, 64));
        CResultScreen results;
        theRound.local.playfieldSurface = theDirectDraw.CreateSurface(640, 480, false);
        results.Prepare();
        EXPECT_STREQ(results.entries[RESULT_NEXT_ROUND], c.resultEntry);
        theDirectDraw.ReleaseSurface(results.banner);
        theDirectDraw.ReleaseSurface(theRound.local.playfieldSurface);
    }
    theRound.matchRounds = savedRounds;
    theRound.roundCounter = 0;
}

TEST_F(ScreensTest, IntroFirstRoundOnTheNotebookLayoutAndReturnTakesTheCursorEntry) {
    theApp.keyboardType = 1;
    for (int i = 0; i < kPlayers; i++) SetPlayer(i, PLAYER_MAN, 0, 0);
    theRound.roundCounter = 0;

    ScriptKeys({plat::VK_RETURN});
    EXPECT_EQ(theRoundIntro.Run(), INTRO_OK_NEXT);
    EXPECT_STREQ(theRoundIntro.playerLines[0], "1P QAZ 00000000 1    0  ");
    EXPECT_STREQ(theRoundIntro.playerLines[3], "4P ][\\ 00000000 1    0  ");
    theDirectDraw.ClearSurface(m_scratch);
    theApp.DrawTextScaled(m_scratch, 96, 80, 64, 64, "ROUND 1", 9, false, false);
    EXPECT_TRUE(SameBand(0, m_scratch, 80, 64));
    EXPECT_TRUE(SameBand(0, Reference(304, "4P ][\\ 00000000 1    0  ", 3, "MAN"), 304, 16));

    // Each showing starts on "OK NEXT"; Down then Return chooses "EXIT", and
    // Up and Down pressed together move the cursor once.
    theRound.NextRound();
    ScriptKeys({plat::VK_DOWN, plat::VK_RETURN});
    EXPECT_EQ(theRoundIntro.Run(), INTRO_EXIT);
    theApp.keyState[plat::VK_UP] = 1;
    theApp.keyState[plat::VK_DOWN] = 1;
    EXPECT_TRUE(theRoundIntro.HandleKeys());
    EXPECT_EQ(theRoundIntro.cursor, INTRO_OK_NEXT);
    EXPECT_EQ(theApp.keyState[plat::VK_UP], 0);
    EXPECT_EQ(theApp.keyState[plat::VK_DOWN], 0);
}

// ---- stage and music selector --------------------------------------------------------

// A selector on the generated lists, run in the game folder.
class SelectorTest : public ScreensTest {
protected:
    void SetUp() override {
        ScreensTest::SetUp();
        m_cwd = std::make_unique<testutil::ScopedCwd>(NUVEL_GAME_DIR);
        m_select.LoadStageList();
        m_select.LoadBgmList();
        theBgm.device = 0;
    }
    void TearDown() override {
        m_select.End();
        ScreensTest::TearDown();
        m_cwd.reset();
    }
    bool Press(uint32_t vk) {
        theApp.keyState[vk] = 1;
        theApp.anyKeyFlag = 1;
        return m_select.HandleKeys();
    }
    std::string BgmPath(int i) const { return std::string("Bgm\\") + m_select.bgms[i].file; }

    std::unique_ptr<testutil::ScopedCwd> m_cwd;
    CStageSelect m_select;
};

TEST_F(SelectorTest, CursorSkipsLabelsAndChoicesWrapThroughRandomAndSilence) {
    ASSERT_EQ(m_select.stageCount, 9);
    ASSERT_EQ(m_select.bgmCount, 5);
    m_select.Begin();
    EXPECT_STREQ(m_select.lines[3], "<_OPEN ARENA_>");
    EXPECT_EQ(std::string(m_select.lines[5]), std::string("<_") + m_select.bgms[0].title + "_>");
    EXPECT_EQ(theBgm.currentPath, BgmPath(0)) << "the first piece starts with the screen";
    EXPECT_EQ(theBgm.playing, 1);

    const int down[] = {1, 3, 5, 6, 0};
    for (int expected : down) {
        EXPECT_TRUE(Press(plat::VK_DOWN));
        EXPECT_EQ(m_select.cursor, expected);
    }
    const int up[] = {6, 5, 3, 1, 0};
    for (int expected : up) {
        EXPECT_TRUE(Press(plat::VK_UP));
        EXPECT_EQ(m_select.cursor, expected);
    }

    m_select.cursor = 3;
    Press(plat::VK_LEFT);
    EXPECT_EQ(m_select.selectedStage, 9);
    EXPECT_STREQ(m_select.lines[3], "<_RANDOM_>");
    Press(plat::VK_RIGHT);
    EXPECT_EQ(m_select.selectedStage, 0);
    Press(plat::VK_RIGHT);
    EXPECT_STREQ(m_select.lines[3], "<_FOUR PILLARS_>");
    EXPECT_TRUE(Press(plat::VK_RETURN)) << "Return on a value line stays";
    EXPECT_EQ(theApp.keyState[plat::VK_RETURN], 0);

    m_select.cursor = 5;
    Press(plat::VK_LEFT);
    EXPECT_STREQ(m_select.lines[5], "<_SILENCE_>");
    EXPECT_EQ(theBgm.playing, 0) << "silence stops the music at once";
    Press(plat::VK_LEFT);
    EXPECT_STREQ(m_select.lines[5], "<_RANDOM_>");
    EXPECT_EQ(theBgm.playing, 0) << "the random piece is drawn only on leaving";
    Press(plat::VK_RIGHT);
    Press(plat::VK_RIGHT);
    EXPECT_EQ(m_select.selectedBgm, 0);
    EXPECT_EQ(theBgm.playing, 1);
    Press(plat::VK_RIGHT);
    EXPECT_EQ(theBgm.currentPath, BgmPath(1)) << "a chosen piece starts at once";
    EXPECT_TRUE(Press(plat::VK_RETURN));

    m_select.cursor = 1;
    EXPECT_FALSE(Press(plat::VK_RETURN));
    EXPECT_EQ(m_select.cursor, SELECT_SCROLL_GAME);
    m_select.cursor = 3;
    EXPECT_FALSE(Press(plat::VK_ESCAPE));
    EXPECT_EQ(m_select.cursor, SELECT_EXIT);
}

TEST_F(SelectorTest, SpaceHidesTheMenuAndTheNextKeyOnlyBringsItBack) {
    m_select.Begin();
    m_select.cursor = 3;
    EXPECT_TRUE(Press(plat::VK_SPACE));
    EXPECT_EQ(m_select.hidden, 1);
    EXPECT_EQ(theApp.anyKeyFlag, 0);
    EXPECT_EQ(theApp.keyState[plat::VK_SPACE], 1) << "Space keeps its entry";

    // Hidden: only the caption and the hint are drawn.
    theDirectDraw.ClearSurface(1);
    m_select.Draw();
    EXPECT_FALSE(BandIsBlank(1, 8, 16));
    EXPECT_FALSE(BandIsBlank(1, 456, 16));
    EXPECT_TRUE(BandIsBlank(1, 24, 432));

    // A key held since before hiding does nothing to the unseen menu.
    theApp.keyState[plat::VK_SPACE] = 0;
    theApp.keyState[plat::VK_RIGHT] = 1;
    EXPECT_TRUE(m_select.HandleKeys());
    EXPECT_EQ(m_select.selectedStage, 0);

    // Escape while hidden only brings the menu back, and clears the keys.
    EXPECT_TRUE(Press(plat::VK_ESCAPE));
    EXPECT_EQ(m_select.hidden, 0);
    EXPECT_EQ(theApp.keyState[plat::VK_ESCAPE], 0);
    EXPECT_EQ(theApp.keyState[plat::VK_RIGHT], 0);
    EXPECT_EQ(m_select.cursor, 3);
    theDirectDraw.ClearSurface(1);
    m_select.Draw();
    EXPECT_TRUE(SameBand(1, Reference(144, "NORMAL GAME START", 6), 144, 16));
    EXPECT_FALSE(Press(plat::VK_ESCAPE));
    EXPECT_EQ(m_select.cursor, SELECT_EXIT);
}

// A pad works the running selector: back hides the menu, the next press
// (south) only brings it back, the d-pad moves, south leaves from the entry.
TEST_F(SelectorTest, APadHidesMovesAndChooses) {
    testutil::VirtualPad pad;
    ASSERT_GE(pad.slot(), 0);
    m_select.cursor = SELECT_NORMAL_GAME;
    uint32_t t = plat::TimeMs();
    pad.ScriptPress(t + 100, plat::PAD_BACK);
    pad.ScriptPress(t + 250, plat::PAD_SOUTH);
    pad.ScriptPress(t + 400, plat::PAD_DOWN);
    pad.ScriptPress(t + 550, plat::PAD_SOUTH);
    for (int k = 0; k < 3; k++) pad.ScriptPress(t + 1500 + 100 * k, plat::PAD_EAST);  // ends a run that missed a press
    EXPECT_EQ(m_select.Run(), SELECT_SCROLL_GAME);
    EXPECT_LT(plat::TimeMs() - t, 1500u);
}

TEST_F(SelectorTest, PreviewFramesTheStageAndMarksFixedStartsAndChoicesStayBetweenShowings) {
    // The picture itself has no frame: the one seen is the selector's.
    SurfaceId raw = theDirectDraw.LoadPng("Stage\\PILLARS.PNG", false, true);
    bool rawFramed = true;
    for (int x = 0; x < 640; x++) rawFramed = rawFramed && PixelAt(raw, x, 0) == 255;
    theDirectDraw.ReleaseSurface(raw);
    ASSERT_FALSE(rawFramed);

    // Stage line, Right to "FOUR PILLARS", music line, Right to the second
    // piece, back up to "SCROLL GAME START" and Return.
    ScriptKeys({plat::VK_DOWN, plat::VK_DOWN, plat::VK_RIGHT, plat::VK_DOWN, plat::VK_RIGHT, plat::VK_UP, plat::VK_UP,
                plat::VK_RETURN});
    EXPECT_EQ(m_select.Run(), SELECT_SCROLL_GAME);
    EXPECT_EQ(m_select.preview, 0) << "the preview lives only while the screen runs";
    EXPECT_EQ(m_select.selectedStage, 1);
    EXPECT_EQ(theBgm.currentPath, BgmPath(1));

    // The preview sits at (0, 32): a 255 frame round 640x416 and the four
    // start pixels in the players' trail colours (stage rows + 32).
    for (int x = 0; x < 640; x++) {
        ASSERT_EQ(PixelAt(0, x, 32), 255) << x;
        ASSERT_EQ(PixelAt(0, x, 447), 255) << x;
    }
    for (int y = 32; y < 448; y++) {
        ASSERT_EQ(PixelAt(0, 0, y), 255) << y;
        ASSERT_EQ(PixelAt(0, 639, y), 255) << y;
    }
    EXPECT_EQ(PixelAt(0, 120, 96 + 32), 28);
    EXPECT_EQ(PixelAt(0, 519, 96 + 32), 44);
    EXPECT_EQ(PixelAt(0, 120, 319 + 32), 60);
    EXPECT_EQ(PixelAt(0, 519, 319 + 32), 76);
    EXPECT_TRUE(SameBand(0, Reference(8, "STAGE AND BGM SELECTOR", 5), 8, 16));

    // Shown again: same choices, same cursor, and the playing piece is left
    // alone (the marker path would be replaced by a new load).
    std::strcpy(theBgm.currentPath, "still playing");
    ScriptKeys({plat::VK_RETURN});
    EXPECT_EQ(m_select.Run(), SELECT_SCROLL_GAME);
    EXPECT_STREQ(m_select.lines[3], "<_FOUR PILLARS_>");
    EXPECT_EQ(m_select.selectedBgm, 1);
    EXPECT_STREQ(theBgm.currentPath, "still playing");

    // Stopped music starts again with the screen.
    theBgm.Stop();
    ScriptKeys({plat::VK_RETURN});
    EXPECT_EQ(m_select.Run(), SELECT_SCROLL_GAME);
    EXPECT_EQ(theBgm.currentPath, BgmPath(1));
    EXPECT_EQ(theBgm.playing, 1);

    // "<_RANDOM_>" shows no preview and picks a listed piece on leaving.
    theBgm.Stop();
    m_select.selectedStage = m_select.stageCount;
    m_select.selectedBgm = m_select.bgmCount;
    m_select.cursor = 0;
    ScriptKeys({plat::VK_RETURN});
    EXPECT_EQ(m_select.Run(), SELECT_NORMAL_GAME);
    EXPECT_EQ(PixelAt(0, 0, 100), 0);
    EXPECT_EQ(theBgm.playing, 1);
    bool listed = false;
    for (int i = 0; i < m_select.bgmCount; i++) listed = listed || theBgm.currentPath == BgmPath(i);
    EXPECT_TRUE(listed) << theBgm.currentPath;
}

// A music list whose first two files are missing and broken, and a stage
// list with one stage: the screen runs on, the bad pieces are silent.
TEST_F(ScreensTest, SelectorRunsOnWithMissingAndBrokenMusic) {
    testutil::TempDir dir;
    namespace fs = std::filesystem;
    fs::create_directories(dir.File("Stage"));
    fs::create_directories(dir.File("Bgm"));
    fs::copy_file(std::string(NUVEL_GAME_DIR) + "/Stage/ARENA.png", dir.File("Stage/ARENA.png"));
    fs::copy_file(std::string(NUVEL_GAME_DIR) + "/Bgm/SUNNY_RUN.mid", dir.File("Bgm/good.mid"));
    testutil::WriteFile(dir.File("Stage/stage.txt"), "FILE=ARENA.PNG\nTITLE=ONLY\n");
    // A header and a track chunk that claims nine bytes it does not have.
    const char broken[] =
        "MThd\0\0\0\6\0\0\0\1\0\x60"
        "MTrk\0\0\0\x09";
    testutil::WriteFile(dir.File("Bgm/broken.mid"), std::string(broken, sizeof broken - 1));
    testutil::WriteFile(dir.File("Bgm/bgm.txt"),
                        "FILE=MISSING.MID\nTITLE=GONE\nFILE=BROKEN.MID\nTITLE=BAD\nFILE=GOOD.MID\nTITLE=GOOD\n");
    testutil::ScopedCwd cwd(dir.path());
    plat::MidiUseSoundFont("");  // a synthesizer that keeps time unheard
    theBgm.device = 0;
    theBgm.StartDirectMusic();
    CStageSelect select;
    select.LoadStageList();
    select.LoadBgmList();

    // The screen opens on the missing piece, steps over the broken one to
    // the good one, then to silence; on the one-stage list Left and Right
    // wrap through "<_RANDOM_>".
    select.Begin();
    EXPECT_FALSE(plat::MidiIsPlaying());
    select.cursor = 5;
    theApp.keyState[plat::VK_RIGHT] = 1;
    select.HandleKeys();
    EXPECT_STREQ(select.lines[5], "<_BAD_>");
    EXPECT_FALSE(plat::MidiIsPlaying());
    theApp.keyState[plat::VK_RIGHT] = 1;
    select.HandleKeys();
    EXPECT_TRUE(plat::MidiIsPlaying()) << "a good piece after bad ones still plays";
    theApp.keyState[plat::VK_LEFT] = 1;
    select.HandleKeys();
    EXPECT_FALSE(plat::MidiIsPlaying()) << "the broken piece replaces it with silence";
    select.cursor = 3;
    theApp.keyState[plat::VK_LEFT] = 1;
    select.HandleKeys();
    EXPECT_EQ(select.selectedStage, 1);
    theApp.keyState[plat::VK_RIGHT] = 1;
    select.HandleKeys();
    EXPECT_EQ(select.selectedStage, 0);
    select.End();

    // Whole showings with only bad pieces to draw from: each ends normally.
    select.selectedBgm = 0;
    select.cursor = 0;
    ScriptKeys({plat::VK_RETURN});
    EXPECT_EQ(select.Run(), SELECT_NORMAL_GAME);
    select.selectedBgm = select.bgmCount;  // random, from the three pieces
    ScriptKeys({plat::VK_RETURN});
    EXPECT_EQ(select.Run(), SELECT_NORMAL_GAME);
    EXPECT_EQ(PixelAt(0, 5, 32), 255) << "the preview is shown";
}

}  // namespace

// ---- title -------------------------------------------------------------------------

// START with fewer than two players: no match, but a sound and the reason,
// for two seconds, in the empty band over the version line; START with two
// players clears it.
TEST_F(ScreensTest, RefusedStartSaysWhyWithASound) {
    {
        testutil::ScopedCwd cwd(NUVEL_GAME_DIR);
        theDirectSound.StartDirectSound(kEffectCount);
        for (int i = 0; i < kEffectCount; i++)
            theDirectSound.SetData(i, (std::string("Sound\\") + kEffectTable[i].file).c_str(), kEffectTable[i].buffers);
    }
    plat::AudioSetPaused(true);  // voices keep their "playing" state
    auto sounded = [](int effect) {
        const EffectSlot& slot = theDirectSound.slots[effect];
        for (int b = 0; slot.buffers && b < slot.count; b++) {
            plat::VoiceState state{};
            if (plat::GetVoiceState(slot.buffers[b], &state) && state.playing) return true;
        }
        return false;
    };
    SetPlayer(0, PLAYER_MAN, 0, 0);
    for (int i = 1; i < kPlayers; i++) SetPlayer(i, PLAYER_NON, 0, 0);
    theTitle.BuildMenu();
    theTitle.cursor = 0;
    theRound.roundCounter = 7;  // a match would reset it
    ASSERT_EQ(theTitle.refusalFrames, 0);
    theTitle.Draw();
    EXPECT_TRUE(SameBand(kBackBuffer, Reference(394, "N: ONLINE", 7), 394, 16)) << "how to find online play, before";

    theApp.keyState[plat::VK_RETURN] = 1;
    theTitle.HandleMenuKeys();
    EXPECT_EQ(theRound.roundCounter, 7);
    EXPECT_TRUE(sounded(SE_STOP));
    EXPECT_FALSE(sounded(SE_CUR_OK));
    for (int frame = 0; frame < 60; frame++) {
        theTitle.Draw();
        ASSERT_TRUE(SameBand(kBackBuffer, Reference(394, "START NEEDS TWO PLAYERS", 6), 394, 16)) << frame;
    }
    theTitle.Draw();
    EXPECT_TRUE(SameBand(kBackBuffer, Reference(394, "N: ONLINE", 7), 394, 16)) << "gone after two seconds";
    theTitle.cursor = 1;
    theTitle.Draw();
    EXPECT_TRUE(BandIsBlank(kBackBuffer, 394, 16)) << "the online hint only on START and OPTION";
    theTitle.cursor = 0;
    theTitle.ReleaseLogo();
    theRound.roundCounter = 0;
    theDirectSound.Shutdown();
}
