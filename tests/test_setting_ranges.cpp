// Every value that comes in from outside is held to its setting's range: the
// settings file brings an out-of-range value to the nearer limit and says so
// once; a replay or an online round start holding one is refused, naming the
// setting. Every setting is tried at the ends of its type, just outside its
// limits and on them, through all three ways in; then rounds are played with
// every setting at each end of its range.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/option.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "match/settings.h"
#include "net/netproto.h"
#include "online/onlineround.h"
#include "replay/replay.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "tests/testutil.h"

namespace {

constexpr uint32_t kNsPerPump = 1500;

std::string KeyName(const Setting& s) { return std::string(s.key, std::strlen(s.key) - 1); }

// The ends of the type, -1, and each limit with its neighbours on both sides.
std::vector<int64_t> TriedValues(const Setting& s) {
    std::vector<int64_t> v = {INT32_MIN,           -1,     int64_t(s.low) - 1,  s.low,    int64_t(s.low) + 1,
                              int64_t(s.high) - 1, s.high, int64_t(s.high) + 1, INT32_MAX};
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    v.erase(std::remove_if(v.begin(), v.end(), [](int64_t x) { return x < INT32_MIN || x > INT32_MAX; }), v.end());
    return v;
}

class SettingRanges : public ::testing::Test {
protected:
    void SetUp() override {
        for (int s = 0; s < S_COUNT; s++) m_saved[s] = FetchValue(SettingAt(s));
        m_cwd = std::make_unique<testutil::ScopedCwd>(m_dir.path());
    }
    void TearDown() override {
        m_cwd.reset();
        if (theRound.local.playfieldSurface) theRound.Teardown();
        for (int s = 0; s < S_COUNT; s++) StoreValue(SettingAt(s), m_saved[s]);
        theItemManager.BuildPool();
    }

    // Every setting at its lower limit: a state every way in accepts.
    static void AllAtLow() {
        for (int s = 0; s < S_COUNT; s++) StoreValue(SettingAt(s), SettingAt(s).low);
    }

    // Loads a settings file of these lines; returns what was said on stderr.
    static std::string LoadLines(const std::string& lines) {
        testutil::WriteFile("option.txt", lines);
        testing::internal::CaptureStderr();
        theOption.Load();
        return testing::internal::GetCapturedStderr();
    }

    // A replay of one frame with the current settings, as the file form.
    static ReplayReadResult ReplayWith(int s, int64_t value, ReplayData* read) {
        static ReplayData d;
        std::memset(static_cast<void*>(&d), 0, sizeof d);
        d.version = kReplayVersion;
        d.settingCount = S_COUNT;
        for (int k = 0; k < S_COUNT; k++) d.settings[k] = FetchValue(SettingAt(k));
        d.settings[s] = int32_t(value);
        std::snprintf(d.stage.file, sizeof d.stage.file, "ARENA.png");
        for (int p = 0; p < kPlayers; p++)
            d.stage.startX[p] = d.stage.startY[p] = d.stage.startHeading[p] = kRandomStart;
        d.lastFrame = 1;
        static uint8_t bytes[kReplayFileMax];
        const size_t size = EncodeReplay(d, bytes, sizeof bytes);
        return DecodeReplay(bytes, size, read);
    }

    // A round start with the current settings, sent and received as a
    // message, then taken by a joining machine.
    static bool RoundStartWith(int s, int64_t value, char* why, size_t whySize) {
        NetMessage m{};
        m.type = NET_ROUND_START;
        NetRoundStart& start = m.start;
        start.stageCount = 1;
        start.selectedStage = 1;  // drawn at random: no stage picture is looked up
        start.bgm = -1;
        start.delayFrames = 1;
        start.settingCount = S_COUNT;
        for (int k = 0; k < S_COUNT; k++) start.settings[k] = FetchValue(SettingAt(k));
        start.settings[s] = int32_t(value);
        for (int p = 0; p < kPlayers; p++) start.seatTypes[p] = PLAYER_HARD;
        uint8_t bytes[kNetMessageMax];
        const size_t size = EncodeNetMessage(m, bytes, sizeof bytes);
        static NetMessage got;
        if (size == 0 || DecodeNetMessage(bytes, size, &got) != NET_DECODE_OK) return ADD_FAILURE(), false;
        static StageEntry stage;
        RoundStart chosen;
        return ApplyRoundStart(got.start, &stage, 1, &chosen, why, whySize);
    }

    int32_t m_saved[S_COUNT];
    testutil::TempDir m_dir{"nuvel-ranges"};
    std::unique_ptr<testutil::ScopedCwd> m_cwd;
};

TEST_F(SettingRanges, EveryWayInHoldsEverySettingToItsRange) {
    static ReplayData read;
    int tried = 0, settings = 0;
    for (int s = 0; s < S_COUNT; s++) {
        const Setting& setting = SettingAt(s);
        // Keys are read by name and a text (the match server) as written; a
        // number never sets either, from a replay or a peer.
        if (setting.kind == FieldKind::Keys || setting.kind == FieldKind::Text) continue;
        settings++;
        const std::string key = KeyName(setting);
        for (int64_t v : TriedValues(setting)) {
            SCOPED_TRACE(key + "=" + std::to_string(v));
            tried++;
            const bool in = v >= setting.low && v <= setting.high;
            const int32_t limited = int32_t(std::clamp<int64_t>(v, setting.low, setting.high));

            // The settings file: limited, said once, and written back limited.
            AllAtLow();
            const std::string said = LoadLines(key + "=" + std::to_string(v) + "\r\n");
            EXPECT_EQ(FetchValue(setting), limited);
            EXPECT_EQ(said, in ? ""
                               : "option.txt: " + key + "=" + std::to_string(v) + " is out of " +
                                     std::to_string(setting.low) + ".." + std::to_string(setting.high) + "; " +
                                     std::to_string(limited) + " is used\n");
            if (!in) {
                // An added setting at its default is not written at all.
                theOption.Save();
                const bool listed = s < S_FIRST_ADDED || limited != setting.defaultValue;
                const std::string line = "\n" + key + "=" + std::to_string(limited) + "\r\n";
                EXPECT_EQ(testutil::ReadFile("option.txt").find(line) != std::string::npos, listed);
            }

            // A replay: read as it is, or refused naming the setting.
            AllAtLow();
            const ReplayReadResult result = ReplayWith(s, v, &read);
            EXPECT_EQ(result, in ? REPLAY_READ_OK : REPLAY_SETTING_RANGE);
            if (!in) {
                char text[300];
                ReplayReadMessage("x.rpl", result, read, text, sizeof text);
                EXPECT_EQ(std::string(text), "x.rpl holds values no round can have: " + key + "=" + std::to_string(v) +
                                                 " is out of " + std::to_string(setting.low) + ".." +
                                                 std::to_string(setting.high) + ".");
            }

            // An online round start: taken, or refused naming the setting
            // with nothing of it applied.
            AllAtLow();
            char why[kNetTextMax + 1] = "";
            EXPECT_EQ(RoundStartWith(s, v, why, sizeof why), in);
            if (!in) {
                EXPECT_NE(std::strstr(why, "holds values no round can have"), nullptr) << why;
                EXPECT_NE(std::strstr(why, (key + "=").c_str()), nullptr) << why;
                EXPECT_EQ(FetchValue(setting), setting.low);
            }
        }
    }
    std::printf("[ ranges   ] %d settings, %d values tried through 3 ways: %d cases\n", settings, tried, 3 * tried);
}

// Whatever a file holds, the round runs within its settings' ranges: every
// setting at the far end of its type, through the settings file, plays
// rounds with items, explosions and meteorites at the limits. An item's
// lifetime, summed onto the round's seconds, cannot wrap round however long
// the field says it is.
TEST_F(SettingRanges, RoundsAtEitherEndOfEveryRangeRunClean) {
    testutil::StartRoundsHeadless(kNsPerPump);
    for (int64_t end : {int64_t(INT32_MIN), int64_t(INT32_MAX)}) {
        std::string lines;
        for (int s = 0; s < S_COUNT; s++)
            if (SettingAt(s).kind != FieldKind::Keys) lines += KeyName(SettingAt(s)) + "=" + std::to_string(end) + "\n";
        LoadLines(lines);
        for (int s = 0; s < S_COUNT; s++)
            ASSERT_TRUE(InRange(SettingAt(s), FetchValue(SettingAt(s)))) << SettingAt(s).key;
        for (int p = 0; p < kPlayers; p++) theRound.players[p].type = PLAYER_HARD;
        for (int type = 0; type < 4; type++) {
            testutil::ScopedCwd game(NUVEL_GAME_DIR);
            theStageSelect.LoadStageList();
            theStageSelect.selectedStage = theStageSelect.stageCount;
            theRound.explosionType = int8_t(type);
            theRound.ResetMatch();
            theApp.Seed(uint32_t(77 + type));
            theRound.Setup(ChosenRoundStart());
            theRound.local.lastSecondMs = plat::TimeMs();
            int result = FRAME_GO_ON;
            while (result == FRAME_GO_ON && theRound.state.frameCounter < 3000) result = PlayFrame();
            if (end == INT32_MAX && type == 3) {
                theItemManager.itemShowTime = INT32_MAX;
                theRound.state.roundSeconds = 5;
                const int before = theItemManager.fieldItems.Count();
                theItemManager.Spawn();
                ASSERT_EQ(theItemManager.fieldItems.Count(), before + 1);
                EXPECT_EQ(CDataList::Record<FieldItem>(theItemManager.fieldItems.Last())->expirySecond, INT32_MAX);
            }
            theRound.Teardown();
        }
    }
}

}  // namespace
