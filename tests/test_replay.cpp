// Replays: rounds of computer players with items, every explosion type and
// meteorites in both play modes, and a round with human seats driven by
// scripted keys, are recorded and played back to the same final field;
// damaged, cut, foreign and tampered files are told apart from good ones;
// R on the result screen plays the round back and leaves the match as it
// was; the replay folder keeps the newest twenty files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/digest.h"
#include "match/headmarks.h"
#include "match/round.h"
#include "replay/replay.h"
#include "screens/replayplay.h"
#include "screens/results.h"
#include "screens/roundintro.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "tests/testutil.h"

namespace {

constexpr uint32_t kNsPerPump = 1500;
constexpr int32_t kMaxFrames = 400000;

struct Recipe {
    int8_t seats[kPlayers];
    int explosion;
    bool scroll;
    bool meteorites;
    bool items;
    int stage;  // -1: a random stage
    uint32_t seed;
};

class ReplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        testutil::StartRoundsHeadless(kNsPerPump);
        for (int s = 0; s < S_COUNT; s++) m_settings[s] = FetchValue(SettingAt(s));
        m_cwd = std::make_unique<testutil::ScopedCwd>(NUVEL_GAME_DIR);
        theStageSelect.LoadStageList();
        theRound.roundCounter = 0;
    }
    void TearDown() override {
        if (theRound.local.playfieldSurface) theRound.Teardown();
        for (int s = 0; s < S_COUNT; s++) StoreValue(SettingAt(s), m_settings[s]);
        theItemManager.BuildPool();
        theReplay.saveFiles = false;
        m_cwd.reset();
    }

    static void Configure(const Recipe& r) {
        for (int i = 0; i < kPlayers; i++) theRound.players[i].type = r.seats[i];
        theRound.state.wait = 20;  // a quarter of the usual pumps per frame: shorter runs
        theRound.explosionType = int8_t(r.explosion);
        theRound.meteorite.enable = r.meteorites ? 1 : 0;
        theRound.meteorite.intervalSeconds = 2;
        theRound.meteorite.count = 300;
        for (ItemTableRow& row : g_itemTable) row.weight = r.items ? 100 : 0;
        theItemManager.itemMax = r.items ? 4 : 0;
        theItemManager.itemShowTime = 20;
        BeginMatch();
        theStageSelect.cursor = r.scroll ? SELECT_SCROLL_GAME : SELECT_NORMAL_GAME;
        theStageSelect.selectedStage = r.stage < 0 ? theStageSelect.stageCount : r.stage;
        theApp.Seed(r.seed);
    }

    // One round as the round loop plays it (without the countdown's waits),
    // recorded; it is left at its end, as the result screen finds it.
    static int PlayRecorded(uint8_t oldDeathRule = 0) {
        RoundStart start = ChosenRoundStart();
        start.oldDeathRule = oldDeathRule;
        StartRound(start, false);
        int result = FRAME_GO_ON;
        while (result == FRAME_GO_ON && theRound.state.frameCounter < kMaxFrames) result = PlayFrame();
        if (result == FRAME_ROUND_OVER) theReplay.EndRecording();
        return result;
    }

    // The file form of the last round, read back.
    static std::vector<uint8_t> LastFile() {
        static uint8_t bytes[kReplayFileMax];
        size_t size = EncodeReplay(theReplay.last, bytes, sizeof bytes);
        return std::vector<uint8_t>(bytes, bytes + size);
    }

    static ReplayReadResult Decode(const std::vector<uint8_t>& file, ReplayData* out) {
        return DecodeReplay(file.data(), file.size(), out);
    }

    static int CountEvents(const ReplayData& d, bool seats) {
        size_t offset = 0;
        int32_t frame = 0;
        int n = 0;
        ReplayEvent e;
        while (NextReplayEvent(d, &offset, frame, &e)) {
            frame = e.frame;
            n += seats == (e.kind <= REPLAY_EVENT_SEATS_LAST);
        }
        return n;
    }

    // Whether the result screen, drawn, shows text in half-width glyphs at
    // the right end of its bottom line, where "R: REPLAY" stands.
    static bool CornerShows(CResultScreen& screen, const char* text) {
        theDirectDraw.SetDestClip(0, 0, 640, 480);  // as each frame of the screen sets it
        theApp.DrawBackground(false);
        screen.Draw();
        const int left = 624 - 8 * int(std::strlen(text));
        SurfaceId scratch = theDirectDraw.CreateSurface(640, 480, true);
        theApp.DrawTextScaled(scratch, left, 456, 8, 16, text, 5, false, false);
        bool same = true;
        for (int y = 456; y < 472; y++)
            for (int x = left; x < 624; x++)
                if (testutil::PixelAt(scratch, x, y))  // the space between the words shows what lies under it
                    same = same && testutil::PixelAt(kBackBuffer, x, y) == testutil::PixelAt(scratch, x, y);
        theDirectDraw.ReleaseSurface(scratch);
        return same;
    }

    int32_t m_settings[S_COUNT];
    std::unique_ptr<testutil::ScopedCwd> m_cwd;
    static ReplayData s_read;
};

ReplayData ReplayTest::s_read;

}  // namespace

// Computer players with every item kind, each explosion type, meteorites, a
// random stage and a fixed one, normal and scroll play: each round is
// recorded, written, read back and played back to the same final field.
TEST_F(ReplayTest, ComputerRoundsReproduceInBothModes) {
    const Recipe recipes[] = {
        {{PLAYER_HARD, PLAYER_NORMAL, PLAYER_EASY, PLAYER_HARD}, 0, false, true, true, -1, 11},
        {{PLAYER_HARD, PLAYER_HARD, PLAYER_NORMAL, PLAYER_NON}, 1, false, true, true, 2, 12},
        {{PLAYER_NORMAL, PLAYER_HARD, PLAYER_HARD, PLAYER_EASY}, 2, true, true, true, -1, 13},
        {{PLAYER_HARD, PLAYER_NON, PLAYER_HARD, PLAYER_HARD}, 3, true, false, true, 4, 14},
        {{PLAYER_EASY, PLAYER_HARD, PLAYER_NON, PLAYER_NORMAL}, 0, true, true, false, -1, 15},
    };
    for (const Recipe& r : recipes) {
        SCOPED_TRACE("explosion " + std::to_string(r.explosion) + (r.scroll ? ", scroll" : ", normal"));
        Configure(r);
        ASSERT_EQ(PlayRecorded(), FRAME_ROUND_OVER);
        ASSERT_TRUE(theReplay.lastValid);
        const int32_t frames = theRound.state.frameCounter, seconds = theRound.state.roundSeconds;
        int32_t scores[kPlayers];
        for (int i = 0; i < kPlayers; i++) scores[i] = theRound.players[i].totalScore;
        theRound.Teardown();
        EXPECT_GT(seconds, 0);
        EXPECT_EQ(theReplay.last.lastFrame, frames);
        EXPECT_EQ(CountEvents(theReplay.last, false), seconds);  // one tick a second, no presses

        std::vector<uint8_t> file = LastFile();
        ASSERT_FALSE(file.empty());
        ASSERT_EQ(Decode(file, &s_read), REPLAY_READ_OK);
        EXPECT_EQ(s_read.scrollPlay, r.scroll ? 1 : 0);
        EXPECT_EQ(s_read.randomStageCount, r.stage < 0 ? theStageSelect.stageCount : 0);
        EXPECT_EQ(s_read.fieldChecksum, theReplay.last.fieldChecksum);

        // Played back over different live settings and generator state.
        theRound.explosionType = int8_t((r.explosion + 1) % 4);
        theApp.Seed(999);
        ReplayOutcome outcome = PlayReplay(s_read, false);
        EXPECT_EQ(outcome.verdict, REPLAY_REPRODUCED);
        EXPECT_EQ(outcome.frame, frames);
        EXPECT_EQ(theApp.RandState(), 999u);
        EXPECT_EQ(theRound.explosionType, int8_t((r.explosion + 1) % 4));
        for (int i = 0; i < kPlayers; i++) EXPECT_EQ(theRound.players[i].totalScore, scores[i]);
    }
}

// Rounds with planning computer players, items and meteorites, normal and
// scroll play: every machine that plays them back thinks the same thoughts,
// so each reproduces to the same final field and scores.
TEST_F(ReplayTest, PlanningPlayersReproduce) {
    const Recipe recipes[] = {
        {{PLAYER_MASTER, PLAYER_HARD, PLAYER_NORMAL, PLAYER_NON}, 0, false, true, true, -1, 51},
        {{PLAYER_EASY, PLAYER_MASTER, PLAYER_HARD, PLAYER_NON}, 1, true, true, true, 3, 52},
    };
    for (const Recipe& r : recipes) {
        SCOPED_TRACE(r.scroll ? "scroll" : "normal");
        Configure(r);
        ASSERT_EQ(PlayRecorded(), FRAME_ROUND_OVER);
        const int32_t frames = theRound.state.frameCounter;
        int32_t scores[kPlayers];
        for (int i = 0; i < kPlayers; i++) scores[i] = theRound.players[i].totalScore;
        theRound.Teardown();
        std::vector<uint8_t> file = LastFile();
        ASSERT_EQ(Decode(file, &s_read), REPLAY_READ_OK);
        theApp.Seed(4242);
        ReplayOutcome outcome = PlayReplay(s_read, false);
        EXPECT_EQ(outcome.verdict, REPLAY_REPRODUCED);
        EXPECT_EQ(outcome.frame, frames);
        for (int i = 0; i < kPlayers; i++) EXPECT_EQ(theRound.players[i].totalScore, scores[i]);
    }
}

// The replays kept with the fuzz corpus were written by earlier versions of
// the game (1, 2 and 3; among them a round of a planning player in scroll
// play, and one of a planning player on the stage that sprinkles dots): each
// still plays back to its own final field, by the rules it was recorded
// under, whatever rules added since are set to here.
TEST_F(ReplayTest, FilesOfEarlierVersionsStillReproduce) {
    const std::filesystem::path folder = std::filesystem::path(NUVEL_SOURCE_DIR) / "tests/fuzz/corpus/replay";
    theRound.safeStarts = 1;
    bool versions[kReplayVersion + 1] = {};
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().filename().string());
        ASSERT_EQ(LoadReplayFile(entry.path().c_str(), &s_read), REPLAY_READ_OK);
        versions[s_read.version] = true;
        EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_REPRODUCED);
    }
    EXPECT_TRUE(versions[1] && versions[2] && versions[3]);
}

// Human seats steered by scripted keys, with items to use: the presses are
// recorded by frame and played back without the keyboard, so other keys
// pressed during playback change nothing. A changed press that keeps the
// file whole is found as a round that is not reproduced.
TEST_F(ReplayTest, HumanSeatsWithScriptedPresses) {
    Configure({{PLAYER_MAN, PLAYER_MAN, PLAYER_HARD, PLAYER_NON}, 1, false, false, true, 0, 21});
    theApp.keyboardType = 0;
    theRound.state.wait = 80;
    uint32_t t0 = plat::TimeMs();
    for (int k = 0; k < 60; k++) {
        plat::ScriptKey(t0 + 20 + 90 * k, k % 4 == 3 ? 'A' : (k % 2 ? 'Q' : 'Z'));
        plat::ScriptKey(t0 + 50 + 110 * k, k % 3 == 2 ? 'N' : (k % 2 ? 'B' : 'M'));
    }
    // WAIT changes and a pause with CONTINUE on the way: pacing only.
    plat::ScriptKey(t0 + 100, plat::VK_NEXT);
    plat::ScriptKey(t0 + 260, plat::VK_PRIOR);
    plat::ScriptKey(t0 + 265, plat::VK_PRIOR);
    plat::ScriptKey(t0 + 400, plat::VK_ESCAPE);
    plat::ScriptKey(t0 + 1600, plat::VK_RETURN);
    ASSERT_EQ(PlayRecorded(), FRAME_ROUND_OVER);
    theRound.Teardown();
    plat::FlushMessages();
    theApp.ClearKeys();
    ASSERT_TRUE(theReplay.lastValid);
    const int presses = CountEvents(theReplay.last, true);
    EXPECT_GT(presses, 4);
    EXPECT_EQ(theRound.state.wait, 79);

    std::vector<uint8_t> file = LastFile();
    ASSERT_EQ(Decode(file, &s_read), REPLAY_READ_OK);
    uint32_t t1 = plat::TimeMs();
    for (int k = 0; k < 30; k++) plat::ScriptKey(t1 + 100 + 100 * k, k % 2 ? 'Q' : 'M');
    EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_REPRODUCED);
    plat::FlushMessages();
    theApp.ClearKeys();

    // Change the first press to another key of the same seat and re-seal the
    // file: it reads, but does not reproduce the round.
    size_t offset = 0;
    int32_t frame = 0;
    ReplayEvent e;
    size_t at = 0;
    while (NextReplayEvent(s_read, &offset, frame, &e)) {
        if (e.kind <= REPLAY_EVENT_SEATS_LAST) break;
        frame = e.frame;
        at = offset;
    }
    while (s_read.events[at] & 0x80) at++;  // past the frame distance
    at++;
    ASSERT_EQ(s_read.events[at], e.kind);
    s_read.events[at] = uint8_t((e.kind & ~7) | ((e.kind & 7) == SEAT_LEFT ? SEAT_RIGHT : SEAT_LEFT));
    static uint8_t resealed[kReplayFileMax];
    size_t size = EncodeReplay(s_read, resealed, sizeof resealed);
    ASSERT_EQ(DecodeReplay(resealed, size, &s_read), REPLAY_READ_OK);
    ReplayOutcome outcome = PlayReplay(s_read, false);
    EXPECT_EQ(outcome.verdict, REPLAY_DIFFERS);
    char text[600];
    ReplayVerdictText(s_read, outcome, "x.rpl", text, sizeof text);
    EXPECT_NE(std::string(text).find("does not reproduce"), std::string::npos) << text;
}

// Empty, foreign, cut and damaged files are refused with their reason;
// every cut and every changed byte is caught, none is taken for a replay.
TEST_F(ReplayTest, DamagedTruncatedAndForeignFiles) {
    Configure({{PLAYER_HARD, PLAYER_EASY, PLAYER_NON, PLAYER_NON}, 0, false, false, false, 0, 31});
    ASSERT_EQ(PlayRecorded(), FRAME_ROUND_OVER);
    theRound.Teardown();
    const std::vector<uint8_t> good = LastFile();
    ASSERT_EQ(Decode(good, &s_read), REPLAY_READ_OK);

    EXPECT_EQ(Decode({}, &s_read), REPLAY_EMPTY);
    const std::string png = "\x89PNG\r\n\x1a\n and more";
    EXPECT_EQ(Decode(std::vector<uint8_t>(png.begin(), png.end()), &s_read), REPLAY_FOREIGN);
    for (size_t n = 1; n < good.size(); n++) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
        ReplayReadResult r = Decode(cut, &s_read);
        ASSERT_TRUE(r == REPLAY_TRUNCATED || (n < 8 && r == REPLAY_FOREIGN)) << n;
    }
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_EQ(Decode(longer, &s_read), REPLAY_OVERLONG);
    for (size_t k = 0; k < good.size(); k++) {
        std::vector<uint8_t> changed = good;
        changed[k] ^= 0x10;
        ASSERT_NE(Decode(changed, &s_read), REPLAY_READ_OK) << k;
    }
    std::vector<uint8_t> newer = good;
    newer[8] = uint8_t(kReplayVersion + 1);
    EXPECT_EQ(Decode(newer, &s_read), REPLAY_NEWER);

    // Whole files whose values no round can have: a stage picture outside the
    // stage folder, a stage that is not in this game folder.
    ASSERT_EQ(Decode(good, &s_read), REPLAY_READ_OK);
    static uint8_t bytes[kReplayFileMax];
    std::snprintf(s_read.stage.file, sizeof s_read.stage.file, "../option.txt");
    EXPECT_EQ(DecodeReplay(bytes, EncodeReplay(s_read, bytes, sizeof bytes), &s_read), REPLAY_MALFORMED);
    std::snprintf(s_read.stage.file, sizeof s_read.stage.file, "NOSUCH.png");
    ASSERT_EQ(DecodeReplay(bytes, EncodeReplay(s_read, bytes, sizeof bytes), &s_read), REPLAY_READ_OK);
    EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_NO_STAGE);

    // A replay made before the last setting existed holds one setting less:
    // it reads, reproduces its round and leaves that setting as it is; a
    // replay that claims more settings than the game has, or none, is refused.
    ASSERT_EQ(Decode(good, &s_read), REPLAY_READ_OK);
    s_read.settingCount = S_COUNT - 1;
    ASSERT_EQ(DecodeReplay(bytes, EncodeReplay(s_read, bytes, sizeof bytes), &s_read), REPLAY_READ_OK);
    EXPECT_EQ(s_read.settingCount, S_COUNT - 1);
    const Setting& newest = SettingAt(S_COUNT - 1);
    const int32_t kept = FetchValue(newest);
    StoreValue(newest, kept == 0 ? 1 : 0);
    const int32_t live = FetchValue(newest);
    EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_REPRODUCED);
    EXPECT_EQ(FetchValue(newest), live);
    StoreValue(newest, kept);
    for (uint16_t count : {uint16_t(0), uint16_t(S_COUNT + 1)}) {
        s_read.settingCount = count;
        size_t size = EncodeReplay(s_read, bytes, sizeof bytes);
        EXPECT_NE(DecodeReplay(bytes, size, &s_read), REPLAY_READ_OK) << count;
    }

    // A seat taken over by a computer (its machine left an online round):
    // seats 0..3 read, any other seat is refused.
    for (uint8_t seat : {uint8_t(3), uint8_t(4), uint8_t(255)}) {
        ASSERT_EQ(Decode(good, &s_read), REPLAY_READ_OK);
        std::memmove(s_read.events + 3, s_read.events, s_read.eventBytes);
        s_read.events[0] = 1;  // frame 1; every later event moves a frame on
        s_read.events[1] = REPLAY_EVENT_TAKEOVER;
        s_read.events[2] = seat;
        s_read.eventBytes += 3;
        s_read.lastFrame++;
        const size_t size = EncodeReplay(s_read, bytes, sizeof bytes);
        EXPECT_EQ(DecodeReplay(bytes, size, &s_read), seat < kPlayers ? REPLAY_READ_OK : REPLAY_MALFORMED) << int(seat);
    }

    EXPECT_EQ(LoadReplayFile("/nonexistent/x.rpl", &s_read), REPLAY_UNOPENED);
    EXPECT_STRNE(ReplayReadText(REPLAY_DAMAGED), ReplayReadText(REPLAY_TRUNCATED));
}

// The round's seconds are its clock ticks, so a last second that is not the
// number of ticks recorded (one more, one less, or the largest number there
// is) marks a file no round can have written, even under a valid checksum.
// A file whose last tick is taken out and its last second lowered to match
// reads, but the round it plays ends on another second than the recorded
// one: it does not reproduce (a file of version 2 cannot tell).
TEST_F(ReplayTest, TheLastSecondMustBeTheTicksRecorded) {
    Configure({{PLAYER_HARD, PLAYER_HARD, PLAYER_NON, PLAYER_NON}, 0, false, false, false, 0, 33});
    ASSERT_EQ(PlayRecorded(), FRAME_ROUND_OVER);
    theRound.Teardown();
    ASSERT_EQ(Decode(LastFile(), &s_read), REPLAY_READ_OK);
    const int32_t seconds = s_read.lastSecond;
    ASSERT_GE(seconds, 1);
    static uint8_t bytes[kReplayFileMax];
    for (int32_t wrong : {seconds + 1, seconds - 1, 0, INT32_MAX, s_read.lastFrame}) {
        s_read.lastSecond = wrong;
        EXPECT_EQ(DecodeReplay(bytes, EncodeReplay(s_read, bytes, sizeof bytes), &s_read), REPLAY_MALFORMED) << wrong;
        ASSERT_EQ(Decode(LastFile(), &s_read), REPLAY_READ_OK);
    }
    EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_REPRODUCED);

    // The events again without the last tick; the distance of the event
    // after it grows by the tick's.
    std::vector<ReplayEvent> events;
    size_t offset = 0;
    ReplayEvent e;
    for (int32_t frame = 0; NextReplayEvent(s_read, &offset, frame, &e); frame = e.frame) events.push_back(e);
    auto last =
        std::find_if(events.rbegin(), events.rend(), [](const ReplayEvent& x) { return x.kind == REPLAY_EVENT_TICK; });
    ASSERT_NE(last, events.rend());
    events.erase(std::next(last).base());
    s_read.eventBytes = 0;
    int32_t frame = 0;
    for (const ReplayEvent& x : events) {
        for (uint32_t d = uint32_t(x.frame - frame);; d >>= 7) {
            s_read.events[s_read.eventBytes++] = uint8_t((d & 0x7F) | (d > 0x7F ? 0x80 : 0));
            if (d <= 0x7F) break;
        }
        s_read.events[s_read.eventBytes++] = x.kind;
        const int payload = x.kind == REPLAY_EVENT_TICK   ? 4
                            : x.kind == REPLAY_EVENT_WAIT ? 2
                                                          : x.kind == REPLAY_EVENT_TAKEOVER;
        for (int k = 0; k < payload; k++) s_read.events[s_read.eventBytes++] = uint8_t(x.value >> (8 * k));
        frame = x.frame;
    }
    s_read.lastSecond = seconds - 1;
    ASSERT_EQ(DecodeReplay(bytes, EncodeReplay(s_read, bytes, sizeof bytes), &s_read), REPLAY_READ_OK);
    EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_DIFFERS);
}

// A line killed in a frame does not act in it any more. Player 1 (a "HARD
// COM" one pixel from the right border, heading into it, holding "CHANGE")
// asks for its item as it takes its last step; it dies in the next frame.
// Its "CHANGE" used then would put a live line on the crash point, where
// it dies too: that is how the old rule played, and how a replay of
// version 1, recorded under it, plays back. The same recording taken for
// version 2 is told apart as a round that does not reproduce.
TEST_F(ReplayTest, DeadLinesDoNotActAndOldReplaysKeepTheirRule) {
    testutil::TempDir dir;
    testutil::WriteStageList(dir.path(),
                             "FILE=EMPTY.PNG\n1P=638,100,0\n1P_ITEM=CHANGE\n2P=200,100,0\n3P=400,300,180\n");
    testutil::ScopedCwd cwd(dir.path());
    Configure({{PLAYER_HARD, PLAYER_HARD, PLAYER_HARD, PLAYER_NON}, 1, false, false, false, 0, 61});
    theStageSelect.selectedStage = 0;
    const uint32_t seed = theApp.RandState();

    // Until player 1 is gone, then 200 frames more: the other two fly on.
    auto playUntilDeath = [](uint8_t oldDeathRule) {
        std::memset(theRound.state.phase, 0, sizeof theRound.state.phase);  // each run from the same phase
        RoundStart start = ChosenRoundStart();
        start.oldDeathRule = oldDeathRule;
        theRound.Setup(start);
        theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
        theRound.local.lastSecondMs = plat::TimeMs();
        int result = FRAME_GO_ON;
        while (theRound.players[0].alive && result == FRAME_GO_ON) result = PlayFrame();
        int32_t deathFrame = theRound.state.frameCounter;
        while (theRound.state.frameCounter < deathFrame + 200 && result == FRAME_GO_ON) result = PlayFrame();
        return deathFrame;
    };
    const int32_t deathFrame = playUntilDeath(0);
    EXPECT_LT(deathFrame, 20);
    EXPECT_EQ(theRound.heldItems[0].Count(), 1);  // the "CHANGE" was not used
    EXPECT_TRUE(theRound.players[1].alive && theRound.players[2].alive);
    EXPECT_LT(theRound.players[1].x, 638.0f);
    EXPECT_LT(theRound.players[2].x, 638.0f);
    theRound.Teardown();

    theApp.Seed(seed);
    EXPECT_EQ(playUntilDeath(1), deathFrame);
    EXPECT_EQ(theRound.heldItems[0].Count(), 0);
    EXPECT_EQ(theRound.CountAlive(), 1);  // the line moved onto the crash point died there
    theRound.Teardown();

    // Recorded under each rule and played back by the version in the file.
    static uint8_t again[kReplayFileMax];
    for (uint16_t version : {uint16_t(1), kReplayVersion}) {
        SCOPED_TRACE("version " + std::to_string(version));
        theApp.Seed(seed);
        ASSERT_EQ(PlayRecorded(version == 1 ? 1 : 0), FRAME_ROUND_OVER);
        ASSERT_TRUE(theReplay.lastValid);
        EXPECT_EQ(theReplay.last.version, kReplayVersion);
        theReplay.last.version = version;
        theReplay.last.fieldChecksum = FinalChecksum(version);  // an old file checks the field only
        theRound.Teardown();
        std::vector<uint8_t> file = LastFile();
        EXPECT_EQ(file[8], version);
        ASSERT_EQ(Decode(file, &s_read), REPLAY_READ_OK);
        EXPECT_EQ(s_read.version, version);
        EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_REPRODUCED);
        ASSERT_EQ(EncodeReplay(s_read, again, sizeof again), file.size());
        EXPECT_EQ(std::memcmp(again, file.data(), file.size()), 0);

        // Taken for the other version, the recording shows another game:
        // found and said, never shown as this round.
        s_read.version = version == 1 ? kReplayVersion : 1;
        EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_DIFFERS);
    }
    s_read.version = 0;  // a version no program wrote is not written
    EXPECT_EQ(EncodeReplay(s_read, again, sizeof again), 0u);
}

// A human seat's presses reach the round through the frame's input; the
// recording keeps only those the round used. Presses go on after the seat's
// line has died: none of them is kept, and the replay reproduces the round.
// A press written into the file for the dead line is one the round cannot
// use: the playback says the round went another way.
TEST_F(ReplayTest, PressesOfADeadLineAreNeitherUsedNorKept) {
    testutil::TempDir dir;
    testutil::WriteStageList(dir.path(), "FILE=EMPTY.PNG\n1P=630,100,0\n2P=200,100,0\n3P=400,300,180\n");
    testutil::ScopedCwd cwd(dir.path());
    Configure({{PLAYER_MAN, PLAYER_HARD, PLAYER_HARD, PLAYER_NON}, 1, false, false, false, 0, 71});
    theStageSelect.selectedStage = 0;
    theApp.keyboardType = 0;
    const uint32_t t0 = plat::TimeMs();
    for (int k = 0; k < 400; k++) plat::ScriptKey(t0 + 5 + 7 * k, 'A');  // player 1's item key, on and on
    ASSERT_EQ(PlayRecorded(), FRAME_ROUND_OVER);
    theRound.Teardown();
    plat::FlushMessages();
    theApp.ClearKeys();
    ASSERT_TRUE(theReplay.lastValid);
    ASSERT_FALSE(theRound.players[0].alive);
    const int32_t deathFrame = theRound.players[0].endFrame;
    ASSERT_GT(theReplay.last.lastFrame, deathFrame + 50);  // the others flew on while the key was pressed
    size_t offset = 0;
    int32_t frame = 0;
    int presses = 0;
    ReplayEvent e;
    while (NextReplayEvent(theReplay.last, &offset, frame, &e)) {
        frame = e.frame;
        if (e.kind > REPLAY_EVENT_SEATS_LAST) continue;
        presses++;
        EXPECT_EQ(e.kind, SEAT_ITEM);
        EXPECT_LT(e.frame, deathFrame);
    }
    EXPECT_GT(presses, 0);
    ASSERT_EQ(Decode(LastFile(), &s_read), REPLAY_READ_OK);
    EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_REPRODUCED);

    // One press more, for the dead line in the round's last frame.
    const uint32_t distance = uint32_t(s_read.lastFrame - frame);
    ASSERT_LT(distance, 0x4000u);
    uint8_t* end = s_read.events + s_read.eventBytes;
    *end++ = uint8_t((distance & 0x7F) | (distance > 0x7F ? 0x80 : 0));
    if (distance > 0x7F) *end++ = uint8_t(distance >> 7);
    *end++ = SEAT_ITEM;
    s_read.eventBytes = uint32_t(end - s_read.events);
    static uint8_t resealed[kReplayFileMax];
    const size_t size = EncodeReplay(s_read, resealed, sizeof resealed);
    ASSERT_EQ(DecodeReplay(resealed, size, &s_read), REPLAY_READ_OK);
    EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_DIFFERS);
}

// Head marks are drawn on the pictures shown and nowhere else. Two rounds
// from one start, marks off and on, in both play modes: the pictures shown
// carry a mark round a live head only when the marks are on, and the rounds
// end on byte-identical fields, match digests and replay files.
TEST_F(ReplayTest, HeadMarksStayOffTheFieldAndTheReplay) {
    const uint8_t savedMarker = theRound.headMarker;
    // Whether the picture shown has slot i's mark 5 pixels right of and
    // below its head where the field itself has something else.
    auto markShown = [](int i) {
        const PlayerSlot& slot = theRound.players[i];
        int x = CApp::FloatToInt(slot.x) + 5, y = CApp::FloatToInt(slot.y) + 5;
        SurfaceId surface = theRound.local.fieldSurface;
        if (theRound.state.scrollPlay) {
            CRound::ScrollViewAt(i, &x, &y);
            x += kScrollViewSize / 2 + 5;
            y += kScrollViewSize / 2 + 5;
            surface = kVisibleSurface;
        } else if (x > kInteriorRight || y > kInteriorBottom) {
            return false;
        }
        const uint8_t trail = uint8_t(PlayerTrailIndex(i));
        theDirectDraw.Present();
        return testutil::PixelAt(surface, x, y) != trail &&
               testutil::ShownColour(x, y) == theDirectDraw.DisplayPalette()[trail];
    };
    for (bool scroll : {false, true}) {
        SCOPED_TRACE(scroll ? "scroll play" : "normal play");
        struct Outcome {
            std::vector<uint8_t> field, replay;
            uint32_t digest;
            int marksShown;
        } outcome[2];
        for (uint8_t marker : {uint8_t(0), uint8_t(1)}) {
            Configure({{PLAYER_HARD, PLAYER_NORMAL, PLAYER_EASY, PLAYER_HARD}, 0, scroll, true, true, 2, 71});
            theRound.headMarker = marker;
            // Both from the same phase and the same moment of the clock.
            std::memset(theRound.state.phase, 0, sizeof theRound.state.phase);
            plat::UseTestClock(1000, kNsPerPump);
            Outcome& o = outcome[marker];
            o.marksShown = 0;
            const uint32_t seed = theApp.RandState();
            theRound.Setup(ChosenRoundStart());
            theReplay.BeginRecording(seed);
            if (!scroll) theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
            theRound.local.lastSecondMs = plat::TimeMs();
            int result = FRAME_GO_ON;
            {
                CHeadMarkScope marks(true);
                while (result == FRAME_GO_ON && theRound.state.frameCounter < kMaxFrames) {
                    result = PlayFrame();
                    if (result == FRAME_GO_ON && theRound.state.frameCounter % 300 == 0)
                        for (int i = 0; i < kPlayers; i++)
                            if (theRound.players[i].alive) o.marksShown += markShown(i);
                }
            }
            ASSERT_EQ(result, FRAME_ROUND_OVER);
            theReplay.EndRecording();
            Surface* field = theDirectDraw.GetSurface(theRound.local.fieldSurface);
            o.field.assign(field->pixels, field->pixels + field->pitch * field->height);
            o.digest = MatchDigest();
            o.replay = LastFile();
            theRound.Teardown();
        }
        EXPECT_EQ(outcome[0].marksShown, 0);
        EXPECT_GT(outcome[1].marksShown, 10);
        EXPECT_TRUE(outcome[0].field == outcome[1].field);
        EXPECT_EQ(outcome[0].digest, outcome[1].digest);
        ASSERT_FALSE(outcome[0].replay.empty());
        EXPECT_TRUE(outcome[0].replay == outcome[1].replay);
    }
    theRound.headMarker = savedMarker;
}

// AUTO_FAST: once both human seats are out, every frame waits one pump
// instead of WAIT x 20, and the first human's empty panel says so; with it
// off that panel says "CTRL: FAST FORWARD" and the frames keep their pace.
// A hurried round is recorded and played back to the same field: the pace
// changes, the round does not.
TEST_F(ReplayTest, AutoFastHurriesOnlyThePaceAndKeepsTheScores) {
    testutil::TempDir dir;
    testutil::WriteStageList(dir.path(), "FILE=EMPTY.PNG\n1P=620,100,0\n2P=620,200,0\n3P=200,100,270\n4P=300,350,90\n");
    testutil::ScopedCwd cwd(dir.path());
    const uint8_t saved = theRound.autoFast;
    // The panel of player 1 as the hint should leave it.
    auto hintShown = [](RoundHint hint) {
        theApp.DrawBackground(false);
        theRound.DrawHint(kBackBuffer, 0, hint);
        for (int y = 432; y < 456; y++)
            for (int x = 0; x < 320; x++)
                if (testutil::PixelAt(kVisibleSurface, x, y) != testutil::PixelAt(kBackBuffer, x, y)) return false;
        return true;
    };
    int32_t normalPace[2 + kPlayers] = {};
    for (uint8_t autoFast : {uint8_t(0), uint8_t(1)}) {
        SCOPED_TRACE(autoFast ? "AUTO_FAST on" : "AUTO_FAST off");
        Configure({{PLAYER_MAN, PLAYER_MAN, PLAYER_HARD, PLAYER_HARD}, 0, false, false, false, 0, 81});
        theStageSelect.selectedStage = 0;
        theRound.autoFast = autoFast;
        std::memset(theRound.state.phase, 0, sizeof theRound.state.phase);  // both rounds from the same phase
        const uint32_t seed = theApp.RandState();
        theRound.Setup(ChosenRoundStart());
        theReplay.BeginRecording(seed);
        theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
        theRound.local.lastSecondMs = plat::TimeMs();
        // Each frame waits WAIT x 20 pumps, from the frame the last human
        // seat is out in on only one with AUTO_FAST.
        const uint64_t fullWait = uint64_t(theRound.state.wait) * 20;
        int result = FRAME_GO_ON;
        int framesWithHumans = 0, framesWithout = 0;
        while (result == FRAME_GO_ON && theRound.state.frameCounter < kMaxFrames) {
            const uint64_t before = plat::PumpCount();
            result = PlayFrame();
            if (result != FRAME_GO_ON) break;
            const bool humansOut = !theRound.players[0].alive && !theRound.players[1].alive;
            ASSERT_EQ(plat::PumpCount() - before, autoFast && humansOut ? 1u : fullWait)
                << "frame " << theRound.state.frameCounter;
            if (!humansOut) {
                framesWithHumans++;
                EXPECT_FALSE(theRound.OnlyComputersLeft());
            } else if (framesWithout++ == 0) {
                EXPECT_TRUE(theRound.OnlyComputersLeft());
                EXPECT_TRUE(hintShown(autoFast ? HINT_AUTO_FAST : HINT_CTRL_FAST));
                EXPECT_FALSE(hintShown(autoFast ? HINT_CTRL_FAST : HINT_AUTO_FAST));
            }
        }
        ASSERT_EQ(result, FRAME_ROUND_OVER);
        EXPECT_GT(framesWithHumans, 20);
        EXPECT_GT(framesWithout, 100);
        // The clock counts the hurried frames as long as their waits: the
        // same seconds and scores as at the normal pace.
        int32_t outcome[2 + kPlayers] = {theRound.state.frameCounter, theRound.state.roundSeconds};
        for (int i = 0; i < kPlayers; i++) outcome[2 + i] = theRound.players[i].roundScore;
        if (!autoFast) std::memcpy(normalPace, outcome, sizeof outcome);
        EXPECT_GT(outcome[1], 5);
        for (int k = 0; k < 2 + kPlayers; k++) EXPECT_EQ(outcome[k], normalPace[k]) << k;
        theReplay.EndRecording();
        theRound.Teardown();
        ASSERT_EQ(Decode(LastFile(), &s_read), REPLAY_READ_OK);
        EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_REPRODUCED);
    }
    theRound.autoFast = saved;
}

// R on the result screen shows the round again (countdown, frames at their
// pace) and returns to the same screen over the same match: scores, ranks,
// wins, generator, settings, round counter, the field and its effects.
TEST_F(ReplayTest, ResultScreenPlaysBackAndLeavesTheMatchAsItWas) {
    Configure({{PLAYER_HARD, PLAYER_NORMAL, PLAYER_HARD, PLAYER_NON}, 2, false, true, true, 1, 41});
    theRound.roundCounter = 3;
    ASSERT_EQ(PlayRecorded(), FRAME_ROUND_OVER);
    CResultScreen screen;
    screen.Prepare();
    screen.cursor = RESULT_EXIT;

    struct Seen {
        int32_t total[kPlayers], round[kPlayers], end[kPlayers];
        uint16_t wins[kPlayers];
        uint8_t alive[kPlayers];
        uint32_t rand;
        int32_t settings[S_COUNT];
        uint16_t roundCounter;
        int32_t frame, seconds, items, particles, meteorites;
        std::vector<uint8_t> field;
        std::string lines;
        // Whole records, compared field by field by construction, and the
        // digest of every list record, the field and the generator.
        RoundState state;
        RoundLocals local;
        PlayerSlot players[kPlayers];
        uint32_t digest;
    };
    auto see = [&] {
        Seen s{};
        s.state = theRound.state;
        s.local = theRound.local;
        std::copy(std::begin(theRound.players), std::end(theRound.players), s.players);
        s.digest = MatchDigest();
        for (int i = 0; i < kPlayers; i++) {
            const PlayerSlot& p = theRound.players[i];
            s.total[i] = p.totalScore;
            s.round[i] = p.roundScore;
            s.end[i] = p.endFrame;
            s.wins[i] = p.matchCounter;
            s.alive[i] = p.alive;
            s.lines += screen.scoreLines[i];
        }
        s.rand = theApp.RandState();
        for (int k = 0; k < S_COUNT; k++) s.settings[k] = FetchValue(SettingAt(k));
        s.roundCounter = theRound.roundCounter;
        s.frame = theRound.state.frameCounter;
        s.seconds = theRound.state.roundSeconds;
        s.items = theItemManager.fieldItems.Count();
        s.particles = theRound.particle.lists[0].Count() + theRound.particle.lists[1].Count();
        s.meteorites = theRound.meteorite.list.Count();
        Surface* f = theDirectDraw.GetSurface(theRound.local.playfieldSurface);
        s.field.assign(f->pixels, f->pixels + f->pitch * f->height);
        return s;
    };
    const Seen before = see();

    // "R: REPLAY" stands right of the bottom line while the menu shows and
    // there is a round to play back; "REPLAY" left of the status line while
    // it plays, in every picture shown from its countdown on.
    EXPECT_TRUE(CornerShows(screen, "R: REPLAY"));
    screen.hidden = 1;
    EXPECT_FALSE(CornerShows(screen, "R: REPLAY"));
    screen.hidden = 0;
    static uint8_t caption[16][48];
    static int captioned, presented;
    {
        SurfaceId scratch = theDirectDraw.CreateSurface(48, 16, true);
        theApp.DrawTextScaled(scratch, 0, 0, 7, 16, "REPLAY", 5, false, false);
        // A blank's worth of room between the caption and "ROUND": the
        // caption ends at least five columns before the status line.
        for (int y = 0; y < 16; y++)
            for (int x = 43; x < 48; x++) EXPECT_EQ(testutil::PixelAt(scratch, x, y), 0) << x << "," << y;
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 48; x++) caption[y][x] = testutil::PixelAt(scratch, x, y);
        theDirectDraw.ReleaseSurface(scratch);
    }
    captioned = presented = 0;
    PresentOverlay overlay = theDirectDraw.SetPresentOverlay([](uint8_t* pixels, int pitch, int, int) {
        bool same = true;
        for (int y = 0; y < 16; y++) same = same && std::memcmp(pixels + y * pitch, caption[y], 6 * 7) == 0;
        captioned += same;
        presented++;
    });

    const uint64_t pumps = plat::PumpCount();
    theApp.keyState[plat::VK_R] = 1;
    EXPECT_TRUE(screen.HandleKeys());
    theDirectDraw.SetPresentOverlay(overlay);
    EXPECT_GT(presented, 100);
    EXPECT_EQ(captioned, presented);
    // The whole round went by again, at its WAIT.
    EXPECT_GE(plat::PumpCount() - pumps, uint64_t(theReplay.last.lastFrame) * 20 * 20);
    const Seen after = see();
    EXPECT_EQ(std::memcmp(before.total, after.total, sizeof before.total), 0);
    EXPECT_EQ(std::memcmp(before.round, after.round, sizeof before.round), 0);
    EXPECT_EQ(std::memcmp(before.end, after.end, sizeof before.end), 0);
    EXPECT_EQ(std::memcmp(before.wins, after.wins, sizeof before.wins), 0);
    EXPECT_EQ(std::memcmp(before.alive, after.alive, sizeof before.alive), 0);
    EXPECT_EQ(before.rand, after.rand);
    EXPECT_EQ(std::memcmp(before.settings, after.settings, sizeof before.settings), 0);
    EXPECT_EQ(before.roundCounter, after.roundCounter);
    EXPECT_EQ(before.frame, after.frame);
    EXPECT_EQ(before.seconds, after.seconds);
    EXPECT_EQ(before.items, after.items);
    EXPECT_EQ(before.particles, after.particles);
    EXPECT_EQ(before.meteorites, after.meteorites);
    EXPECT_TRUE(before.field == after.field);
    EXPECT_EQ(before.lines, after.lines);
    EXPECT_TRUE(before.state == after.state);
    EXPECT_TRUE(before.local == after.local);
    for (int i = 0; i < kPlayers; i++) EXPECT_TRUE(before.players[i] == after.players[i]) << "slot " << i;
    EXPECT_EQ(before.digest, after.digest);
    EXPECT_EQ(screen.cursor, RESULT_EXIT);
    EXPECT_FALSE(screen.hidden);

    // Escape stops a playback early; the screen goes on all the same.
    plat::ScriptKey(plat::TimeMs() + 3700, plat::VK_ESCAPE);
    const uint64_t before2 = plat::PumpCount();
    theApp.keyState[plat::VK_R] = 1;
    EXPECT_TRUE(screen.HandleKeys());
    EXPECT_LT(plat::PumpCount() - before2, uint64_t(theReplay.last.lastFrame) * 20 * 20);
    EXPECT_EQ(theApp.RandState(), before.rand);
    plat::FlushMessages();
    theDirectDraw.ReleaseSurface(screen.banner);
}

// A whole round through the round loop saves its replay in replays/ of the
// writable folder; the folder keeps the newest twenty replays and leaves
// other files alone.
TEST_F(ReplayTest, RoundsAreSavedAndTheNewestTwentyKept) {
    testutil::TempDir writable;
    const std::string data = plat::DataFolder(), oldWritable = plat::WritableFolder();
    ASSERT_TRUE(plat::SetGameFolders(data.c_str(), writable.path().c_str()));
    const std::string folder = writable.File("replays");
    std::filesystem::create_directories(folder);
    for (int k = 0; k < 22; k++)
        testutil::WriteFile(folder + "/2020010" + std::to_string(k / 10) + "-0000" + std::to_string(k % 10) + "0.rpl",
                            "old");
    testutil::WriteFile(folder + "/notes.txt", "mine");
    theReplay.saveFiles = true;

    // Player 1 turns into the border; Return leaves the result screen.
    Configure({{PLAYER_MAN, PLAYER_MAN, PLAYER_NON, PLAYER_NON}, 0, false, false, false, 1, 51});
    theRound.state.wait = 80;
    uint32_t t0 = plat::TimeMs();
    plat::ScriptKey(t0 + 4100, 'Q');
    plat::ScriptKey(t0 + 9000, plat::VK_RETURN);
    EXPECT_EQ(PlayRound(ChosenRoundStart()), ROUND_NEXT);
    ASSERT_TRUE(theReplay.lastValid);
    std::string first = theReplay.lastSavedName;
    ASSERT_TRUE(theReplay.SaveLast());  // the same second again: another name
    EXPECT_NE(first, theReplay.lastSavedName);

    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names.size(), 21u);  // 20 replays and the notes
    EXPECT_TRUE(std::find(names.begin(), names.end(), "notes.txt") != names.end());
    EXPECT_TRUE(std::find(names.begin(), names.end(), "20200100-000000.rpl") == names.end());
    EXPECT_TRUE(std::find(names.begin(), names.end(), "20200100-000030.rpl") == names.end());
    EXPECT_TRUE(std::find(names.begin(), names.end(), "20200100-000040.rpl") != names.end());
    for (const std::string& saved : {first, std::string(theReplay.lastSavedName)}) {
        ReplayReadResult read = LoadReplayFile(writable.File(saved).c_str(), &s_read);
        EXPECT_EQ(read, REPLAY_READ_OK) << saved;
        if (read == REPLAY_READ_OK) {
            EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_REPRODUCED);
        }
    }
    plat::SetGameFolders(data.c_str(), oldWritable.c_str());
}

// A replay that cannot be written (a full disk) is said on stderr once a
// match, and the result screen shows "REPLAY NOT SAVED" where "R: REPLAY"
// would stand; nothing is left on the disk. Once there is room again, the
// next round's replay is written and the screen offers R as before.
TEST_F(ReplayTest, AReplayThatCannotBeWrittenIsSaidOnceAMatchAndShown) {
    testutil::ScopedTmpfs disk(64);
    if (!disk.mounted()) GTEST_SKIP() << "mounting a small file system needs root";
    const std::string data = plat::DataFolder(), oldWritable = plat::WritableFolder();
    ASSERT_TRUE(plat::SetGameFolders(data.c_str(), disk.path().c_str()));
    theReplay.saveFiles = true;
    Configure({{PLAYER_HARD, PLAYER_EASY, PLAYER_NON, PLAYER_NON}, 0, false, false, false, 0, 31});
    ASSERT_EQ(PlayRecorded(), FRAME_ROUND_OVER);
    disk.Fill(0);

    CResultScreen screen;
    screen.Prepare();
    auto shown = [&](const char* text) { return CornerShows(screen, text); };
    auto saveRounds = [](int rounds) {
        testing::internal::CaptureStderr();
        for (int k = 0; k < rounds; k++) EXPECT_FALSE(theReplay.SaveLast());
        return testing::internal::GetCapturedStderr();
    };
    std::string said = saveRounds(3);
    EXPECT_EQ(said.find("Tarnwick: the replay replays/"), 0u) << said;
    EXPECT_NE(said.find("could not be written (No space left on device)"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_TRUE(theReplay.lastNotSaved);
    EXPECT_TRUE(shown("REPLAY NOT SAVED"));
    EXPECT_FALSE(shown("R: REPLAY"));
    BeginMatch();  // the next match says it again
    said = saveRounds(2);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    // At most the (empty) folder was made.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(disk.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_TRUE(names == (std::vector<std::string>{"filler", "replays"}) ||
                names == std::vector<std::string>{"filler"});

    ASSERT_EQ(unlink(disk.File("filler").c_str()), 0);
    EXPECT_TRUE(theReplay.SaveLast());
    EXPECT_FALSE(theReplay.lastNotSaved);
    EXPECT_TRUE(shown("R: REPLAY"));
    theDirectDraw.ReleaseSurface(screen.banner);
    theRound.Teardown();
    plat::SetGameFolders(data.c_str(), oldWritable.c_str());
}

// An online round stopped because the machines parted ways is kept up to the
// stop: the replay plays back to the same state, and a note beside it holds
// the stop message and this machine's digest of that state.
TEST_F(ReplayTest, ARoundStoppedByADesyncIsKeptWithItsDigest) {
    testutil::TempDir writable;
    const std::string data = plat::DataFolder(), oldWritable = plat::WritableFolder();
    ASSERT_TRUE(plat::SetGameFolders(data.c_str(), writable.path().c_str()));
    theReplay.saveFiles = true;
    Configure({{PLAYER_HARD, PLAYER_HARD, PLAYER_HARD, PLAYER_NON}, 0, false, true, true, 2, 91});
    const uint32_t seed = theApp.RandState();
    theRound.Setup(ChosenRoundStart());
    theReplay.BeginRecording(seed);
    theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
    theRound.local.lastSecondMs = plat::TimeMs();
    while (theRound.state.frameCounter < 300) ASSERT_EQ(PlayFrame(), FRAME_GO_ON);
    const char kNote[] =
        "This machine parted ways with the host at frame 299.\n"
        "State digests at frame 299: this machine 00000001, the host 00000002.\n";
    ASSERT_TRUE(theReplay.KeepStoppedRound(kNote));
    theRound.Teardown();

    const std::string saved = theReplay.lastSavedName;
    ASSERT_EQ(LoadReplayFile(writable.File(saved).c_str(), &s_read), REPLAY_READ_OK);
    EXPECT_EQ(s_read.lastFrame, 300);
    EXPECT_EQ(PlayReplay(s_read, false).verdict, REPLAY_REPRODUCED);
    EXPECT_EQ(testutil::ReadFile(writable.File(saved.substr(0, saved.size() - 4) + ".txt")), kNote);
    plat::SetGameFolders(data.c_str(), oldWritable.c_str());
}
