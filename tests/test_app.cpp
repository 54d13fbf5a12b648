// Frame pacing, key states, random numbers and the fatal exit.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "core/app.h"
#include "match/round.h"
#include "tests/testutil.h"

using testutil::StartHeadlessDisplay;

namespace {

void PostKey(uint32_t type, uint32_t vk) { plat::PostMessage(plat::Message{type, vk, 0}); }

}  // namespace

TEST(Random, FollowsTheFifteenBitGenerator) {
    theApp.Seed(12345);
    uint32_t state = 12345;
    for (int i = 0; i < 1000; i++) {
        state = state * 214013u + 2531011u;
        ASSERT_EQ(theApp.RandRaw(), int((state >> 16) & 0x7FFF));
    }
}

TEST(Random, RangesAndDegenerateRanges) {
    theApp.Seed(7);
    std::set<int> seen;
    for (int i = 0; i < 5000; i++) {
        ASSERT_EQ(theApp.RandUpTo(0), 0);
        ASSERT_EQ(theApp.RandRange(5, 5), 5);
        int v = theApp.RandRange(-20, 20);
        ASSERT_GE(v, -20);
        ASSERT_LE(v, 20);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 41u);
    // Empty ranges give their lower end instead of dividing by zero, and still
    // advance the sequence.
    uint32_t before = theApp.RandState();
    EXPECT_EQ(theApp.RandUpTo(-1), 0);
    EXPECT_EQ(theApp.RandRange(10, 3), 10);
    EXPECT_NE(theApp.RandState(), before);
}

TEST(Random, ModuloBiasIsKept) {
    // (raw value) mod (n + 1) over 32768 raw values: with n = 32766 the value 0
    // comes from raw 0 and raw 32767.
    theApp.Seed(1);
    uint32_t state = 1;
    for (int i = 0; i < 200; i++) {
        state = state * 214013u + 2531011u;
        int raw = int((state >> 16) & 0x7FFF);
        ASSERT_EQ(theApp.RandUpTo(32766), raw % 32767);
    }
}

TEST(Conversions, FloatToIntTruncatesTowardZero) {
    EXPECT_EQ(CApp::FloatToInt(-0.5f), 0);
    EXPECT_EQ(CApp::FloatToInt(638.99f), 638);
    EXPECT_EQ(CApp::FloatToInt(-1.5f), -1);
}

TEST(Conversions, DirectionTablesPointTheScreenWay) {
    theApp.FillDirectionTables();
    EXPECT_FLOAT_EQ(theApp.cosTable[0], 1.0f);
    EXPECT_NEAR(theApp.negSinTable[90], -1.0f, 1e-6);  // 90 degrees is up
    EXPECT_NEAR(theApp.cosTable[180], -1.0f, 1e-6);
    EXPECT_NEAR(theApp.negSinTable[270], 1.0f, 1e-6);  // 270 is down
    EXPECT_EQ(theApp.cosTable[33], float(cos(33 * 0.017453292519943295)));
}

TEST(Keys, PressConsumeReleaseAndRepeat) {
    StartHeadlessDisplay();
    PostKey(plat::MSG_KEYDOWN, 'Q');
    theApp.PumpMessages();
    EXPECT_EQ(theApp.keyState['Q'], 1);
    EXPECT_EQ(theApp.anyKeyFlag, 1);
    theApp.keyState['Q'] = 2;         // a reader consumed the press
    PostKey(plat::MSG_KEYDOWN, 'Q');  // auto-repeat
    theApp.PumpMessages();
    EXPECT_EQ(theApp.keyState['Q'], 2);  // stays inert while held
    theApp.ClearKeys();
    PostKey(plat::MSG_KEYDOWN, 'Q');
    theApp.PumpMessages();
    EXPECT_EQ(theApp.keyState['Q'], 1);  // acts again on the next screen
    PostKey(plat::MSG_KEYUP, 'Q');
    theApp.PumpMessages();
    EXPECT_EQ(theApp.keyState['Q'], 0);
}

TEST(Keys, ControlCutsWaitsShort) {
    StartHeadlessDisplay();
    PostKey(plat::MSG_KEYDOWN, plat::VK_CONTROL);
    theApp.PumpMessages();
    ASSERT_EQ(theApp.ctrlFlag, 1);
    uint64_t before = plat::PumpCount();
    theApp.PumpMessagesN(1000);
    EXPECT_EQ(plat::PumpCount() - before, 1u);
    theApp.StartFrame();
    before = plat::PumpCount();
    theApp.WaitFrame(1000);
    EXPECT_EQ(plat::PumpCount() - before, 1u);
    PostKey(plat::MSG_KEYUP, plat::VK_CONTROL);
    theApp.PumpMessages();
    EXPECT_EQ(theApp.ctrlFlag, 0);
}

TEST(Pacing, WaitsCountPumpsAndTime) {
    StartHeadlessDisplay(100000);  // 0.1 ms of game time per pump
    uint64_t before = plat::PumpCount();
    theApp.StartFrame();
    theApp.WaitFrame(0);
    EXPECT_EQ(plat::PumpCount() - before, 1u);

    before = plat::PumpCount();
    theApp.PumpMessagesN(0);  // pumps at least once
    theApp.PumpMessagesN(250);
    EXPECT_EQ(plat::PumpCount() - before, 251u);
}

// Menu frames of 33 ms keep to the 60 Hz refresh: a frame begun off the grid
// ends on a refresh no earlier than 8 ms before its nominal end, and from then
// on every frame lasts exactly two refreshes instead of drifting 0.33 ms a
// frame against them.
TEST(Pacing, MenuFramesKeepToTheRefreshGrid) {
    StartHeadlessDisplay(100000);
    plat::StepTestClock(5);
    constexpr double kTwoRefreshesUs = 2 * 16666.667;
    uint64_t previousEndUs = 0;
    for (int frame = 0; frame < 200; frame++) {
        uint32_t start = plat::TimeMs();
        theApp.StartFrame();
        theApp.WaitFrame(33);
        uint64_t endUs = plat::TimeUs();
        ASSERT_GE(endUs, uint64_t(start) * 1000 + 25000) << "frame " << frame;
        ASSERT_LE(endUs, uint64_t(start) * 1000 + 33000 + 8334 + 200) << "frame " << frame;
        ASSERT_LT(endUs * 1000 % 16666667, 200000u) << "frame " << frame << " ends off the refresh grid";
        if (frame > 0) {
            ASSERT_NEAR(double(endUs - previousEndUs), kTwoRefreshesUs, 200.0) << "frame " << frame;
        }
        previousEndUs = endUs;
    }
}

TEST(Pacing, WaitFrameSurvivesTimerWrap) {
    StartHeadlessDisplay(1000000);
    plat::UseTestClock(0xFFFFFFF0u, 1000000);
    theApp.StartFrame();
    uint64_t before = plat::PumpCount();
    theApp.WaitFrame(33);
    EXPECT_GE(plat::PumpCount() - before, 25u);
    EXPECT_LE(plat::PumpCount() - before, 42u);
}

TEST(Pacing, CalibrationGivesTheDefaultWaitAtTheRealPumpRate) {
    // At 1.5 us per pump a round frame of WAIT x 20 pumps lasts 2.4 ms with
    // WAIT 80; the calibration must find that value.
    StartHeadlessDisplay(1500);
    int32_t wait = theApp.CalibrateGameWait();
    EXPECT_GE(wait, 78);
    EXPECT_LE(wait, 80);
}

TEST(Messages, QuitEndsTheProcessSilently) {
    EXPECT_EXIT(
        {
            StartHeadlessDisplay();
            plat::PostMessage(plat::Message{plat::MSG_DESTROY, 0, 0});
            theApp.PumpMessages();
            theApp.PumpMessages();
        },
        testing::ExitedWithCode(0), "");
}

TEST(Messages, PauseAndCloseEndTheProcessWithoutAMessage) {
    EXPECT_EXIT(
        {
            StartHeadlessDisplay();
            PostKey(plat::MSG_KEYDOWN, plat::VK_PAUSE);
            theApp.PumpMessages();
            fprintf(stderr, "still running\n");
        },
        testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(
        {
            StartHeadlessDisplay();
            plat::PostMessage(plat::Message{plat::MSG_CLOSE, 0, 0});
            theApp.PumpMessages();
        },
        testing::ExitedWithCode(0), "^$");
}

TEST(Memory, AllocIsZeroFilledAndFailureIsFatal) {
    auto* block = static_cast<unsigned char*>(CApp::Alloc(4096, "test"));
    for (int i = 0; i < 4096; i++) ASSERT_EQ(block[i], 0);
    CApp::Free(block);
    EXPECT_EXIT(CApp::Alloc(size_t(1) << 62, "CDataList::Add()"), testing::ExitedWithCode(1),
                "CDataList::Add\\(\\): .* バイトのメモリ確保に失敗しました");
}

TEST(Text, StartsWith) {
    EXPECT_TRUE(StartsWith("ITEM_MAX=", "ITEM_MAX=7"));
    EXPECT_FALSE(StartsWith("ITEM_MAX=", "ITEM_MAX"));
    EXPECT_FALSE(StartsWith("ITEM_MAX=", "ITEM_MAX =7"));
    EXPECT_TRUE(StartsWith("", "anything"));
}

namespace {

// What a window procedure saw: each message with the pump count it came at.
struct SeenMessage {
    uint32_t type, key;
    uint64_t pump;
    bool operator==(const SeenMessage&) const = default;
};
std::vector<SeenMessage> g_seen;
CApp* g_pumping = nullptr;
uint64_t g_firstPump = 0;

long RecordMessage(const plat::Message& msg) {
    g_seen.push_back({msg.type, msg.wParam, plat::PumpCount() - g_firstPump});
    if (msg.type == plat::MSG_KEYDOWN && msg.wParam == plat::VK_CONTROL) g_pumping->ctrlFlag = 1;
    return 0;
}

struct PumpRun {
    std::vector<SeenMessage> seen;
    uint64_t pumps, endUs, presents;
    bool operator==(const PumpRun&) const = default;
};

// Round frames of WAIT 9999 and 80 pumped with keys scripted at odd times, a
// burst of keys within one pump, and Control going down in the middle of a
// frame, which cuts that frame and the later ones short.
PumpRun RunFrames(bool oneByOne) {
    StartHeadlessDisplay(1500);
    CApp app(RecordMessage);
    g_pumping = &app;
    g_seen.clear();
    const uint32_t t0 = plat::TimeMs();
    plat::ScriptKey(t0 + 3, 'A');
    plat::ScriptKey(t0 + 250, 'B');
    for (uint32_t k = 0; k < 5; k++) plat::ScriptMessage(t0 + 301, plat::Message{plat::MSG_KEYDOWN, 'C' + k, 0});
    plat::ScriptKey(t0 + 617, 'Q');
    plat::ScriptMessage(t0 + 700, plat::Message{plat::MSG_KEYDOWN, plat::VK_CONTROL, 0});
    const uint64_t pumpsBefore = g_firstPump = plat::PumpCount();
    const plat::PresentCounts presentsBefore = plat::GetPresentCounts();
    for (int n : {199980, 1600, 199980, 199980, 1600, 0, 1}) {
        if (!oneByOne) {
            app.PumpMessagesN(n);
            continue;
        }
        do {  // the loop the bulk stands in for
            app.PumpMessages();
            n--;
        } while (n > 0 && !app.ctrlFlag);
    }
    plat::PresentCounts presents = plat::GetPresentCounts();
    g_pumping = nullptr;
    return PumpRun{g_seen, plat::PumpCount() - pumpsBefore, plat::TimeUs(),
                   presents.presented + presents.skipped - presentsBefore.presented - presentsBefore.skipped};
}

}  // namespace

// Pumps taken in bulk on the test clock are the same pumps, one by one: every
// message reaches the window procedure at the same pump, the clock ends at the
// same time, the picture is presented at the same refreshes, and Control stops
// a frame at the same pump.
TEST(Pacing, PumpsInBulkDoWhatPumpsOneByOneDo) {
    PumpRun bulk = RunFrames(false);
    PumpRun single = RunFrames(true);
    EXPECT_EQ(bulk.seen.size(), 12u);
    EXPECT_GT(bulk.presents, 30u);
    EXPECT_LT(bulk.pumps, 199980u * 3 + 1600 * 2 + 2);  // Control cut the last frames short
    EXPECT_TRUE(bulk == single) << "pumps " << bulk.pumps << " / " << single.pumps << ", messages " << bulk.seen.size()
                                << " / " << single.seen.size() << ", presents " << bulk.presents << " / "
                                << single.presents;
}
