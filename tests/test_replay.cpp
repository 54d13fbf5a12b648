// Replays: rounds of computer players with items, every explosion type and
// meteorites in both play modes, and a round with human seats driven by
// scripted keys, are recorded and played back to the same final field;
// damaged, cut, foreign and tampered files are told apart from good ones;
// R on the result screen plays the round back and leaves the match as it
// was; the replay folder keeps the newest twenty files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/digest.h"
#include "match/replay.h"
#include "match/results.h"
#include "match/round.h"
#include "screens/roundintro.h"
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
        theRound.ResetMatch();
        theStageSelect.cursor = r.scroll ? SELECT_SCROLL_GAME : SELECT_NORMAL_GAME;
        theStageSelect.selectedStage = r.stage < 0 ? theStageSelect.stageCount : r.stage;
        theApp.Seed(r.seed);
    }

    // One round as the round loop plays it (without the countdown's waits),
    // recorded; it is left at its end, as the result screen finds it.
    static int PlayRecorded() {
        uint32_t seed = theApp.RandState();
        theRound.Setup(ChosenRoundStart());
        theReplay.BeginRecording(seed);
        if (!theRound.state.scrollPlay) theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
        theRound.local.lastSecondMs = plat::TimeMs();
        int result = FRAME_GO_ON;
        while (result == FRAME_GO_ON && theRound.state.frameCounter < kMaxFrames) result = theRound.Frame();
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

    EXPECT_EQ(LoadReplayFile("/nonexistent/x.rpl", &s_read), REPLAY_UNOPENED);
    EXPECT_STRNE(ReplayReadText(REPLAY_DAMAGED), ReplayReadText(REPLAY_TRUNCATED));
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
    const uint64_t pumps = plat::PumpCount();
    theApp.keyState[plat::VK_R] = 1;
    EXPECT_TRUE(screen.HandleKeys());
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
    EXPECT_EQ(theRound.Run(ChosenRoundStart()), ROUND_NEXT);
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
