// Time and the message pump quantum.
//
// The round is paced only by pumping messages, so one pump must cost the same
// on every machine: each PumpTick stands for kPumpQuantumNs of game time. The
// pump accumulates that as a debt and sleeps it off against the real clock
// once it reaches a millisecond; oversleeping and the pump's own work (polling
// the window system, presenting) are paid back by later pumps. The average
// rate is exact while the CPU stays mostly idle.
//
// The test clock replaces all of that with a clock that moves only when a test
// steps it or by a fixed amount per pump, so a test can run any number of
// frames at once while the game sees time pass. A long run of pumps on it
// (a round frame is WAIT x 20 of them) is taken in bulk: game time jumps from
// one thing a pump does to the next (a scripted message, a poll that can find
// something, a refresh), each at the same game time as pump by pump, so a
// headless round costs the same at any WAIT and still comes out the same.
#include <algorithm>
#include <cstring>

#include "platform/platform_internal.h"

namespace plat {

namespace {

constexpr uint64_t kMsNs = 1000000;
constexpr uint64_t kRefreshPeriodNs = 16666667;  // 60 Hz
constexpr int64_t kMostCreditNs = 20 * kMsNs;    // bound on paid-back time
constexpr uint64_t kPollIntervalNs = kMsNs;
constexpr uint64_t kPumpGapNs = 20000;  // 20 us: pumps in one wait loop
constexpr uint64_t kMostStepProbeNs = 5 * kMsNs;

struct ScriptedMessage {
    uint64_t atNs;
    Message msg;
};
constexpr int kScriptSize = 1024;

struct ClockState {
    uint64_t epochNs = 0;
    uint64_t pumpGapNs = kPumpGapNs;
    bool testClock = false;
    uint64_t testNowNs = 0;
    uint32_t testNsPerPump = 0;
    int64_t debtNs = 0;
    uint64_t lastPollNs = 0;
    uint64_t lastPumpEndNs = 0;
    uint64_t nextRefreshNs = 0;
    uint64_t pumpCount = 0;
    bool pumpedSinceRead = false;
    ScriptedMessage script[kScriptSize];
    int scriptCount = 0;
    int scriptNext = 0;
};
ClockState g;

// Game time in nanoseconds since start, on whichever clock is in use.
uint64_t NowNs() {
    if (g.testClock) return g.testNowNs;
    return MonotonicNs() - g.epochNs;
}

void DeliverScript() {
    while (g.scriptNext < g.scriptCount && g.script[g.scriptNext].atNs <= g.testNowNs) {
        PostMessage(g.script[g.scriptNext].msg);
        g.scriptNext++;
    }
    if (g.scriptNext == g.scriptCount) g.scriptNext = g.scriptCount = 0;
}

// Presents through the hook when the display would have refreshed.
void RefreshIfDue(uint64_t nowNs) {
    if (nowNs < g.nextRefreshNs) return;
    PresentNow();
    g.nextRefreshNs += kRefreshPeriodNs;
    if (g.nextRefreshNs <= nowNs) g.nextRefreshNs = nowNs - nowNs % kRefreshPeriodNs + kRefreshPeriodNs;
}

// A loop that reads the test clock without pumping (a busy measurement) would
// never see time pass; each such read moves the clock by a microsecond.
constexpr uint64_t kIdleReadNs = 1000;

uint64_t ReadClockNs() {
    if (g.testClock) {
        if (!g.pumpedSinceRead) g.testNowNs += kIdleReadNs;
        g.pumpedSinceRead = false;
    }
    return NowNs();
}

void TestPumpTick() {
    g.pumpedSinceRead = true;
    g.testNowNs += g.testNsPerPump;
    DeliverScript();
    uint64_t now = NowNs();
    if (now - g.lastPollNs >= kPollIntervalNs) {
        g.lastPollNs = now;
        PollEvents();
    }
    RefreshIfDue(now);
}

// How many pumps from now until the clock reaches atNs: at least one.
uint64_t PumpsUntil(uint64_t atNs) {
    const uint64_t step = g.testNsPerPump;
    if (atNs <= g.testNowNs + step) return 1;
    return (atNs - g.testNowNs + step - 1) / step;
}

// Up to most pumps on the test clock, each doing what TestPumpTick does, and
// in the same order; stops after a pump that left a message to dispatch.
// Pumps at which nothing is due are only counted. A poll that follows a quiet
// one (no events, nothing held back or scripted for later) within the same
// run would find nothing either, since nothing can have changed in between,
// and is only counted too; on a real display events may come at any time, so
// there every poll is made.
uint64_t TestPumpTicks(uint64_t most) {
    const bool quietCanLast = !HasDisplay();
    bool quiet = false;
    uint64_t done = 0;
    while (done < most) {
        uint64_t k = most - done;
        if (g.testNsPerPump == 0) {
            // Time stands still: only the first pump can find anything due.
            if (done == 0) k = 1;
        } else {
            k = std::min(k, PumpsUntil(g.lastPollNs + kPollIntervalNs));
            k = std::min(k, PumpsUntil(g.nextRefreshNs));
            if (g.scriptNext < g.scriptCount) k = std::min(k, PumpsUntil(g.script[g.scriptNext].atNs));
        }
        g.pumpCount += k;
        done += k;
        g.testNowNs += k * g.testNsPerPump;
        g.pumpedSinceRead = true;
        DeliverScript();
        uint64_t now = NowNs();
        if (now - g.lastPollNs >= kPollIntervalNs) {
            g.lastPollNs = now;
            if (!quiet) quiet = !PollEvents() && quietCanLast;
        }
        RefreshIfDue(now);
        if (PeekMessage()) break;
    }
    return done;
}

// The smallest step the system clock moves by, read off a few steps (a
// browser's clock moves in steps of 5 or 100 us, the desktop's by nanoseconds).
uint64_t ClockStepNs() {
    const uint64_t start = MonotonicNs();
    uint64_t last = start, step = UINT64_MAX;
    for (int seen = 0; seen < 4;) {
        const uint64_t now = MonotonicNs();
        if (now != last) {
            step = std::min(step, now - last);
            last = now;
            seen++;
        }
        if (now - start > kMostStepProbeNs) break;
    }
    return step == UINT64_MAX ? kMostStepProbeNs : step;
}

}  // namespace

void ClockInit() {
    // A clock of coarse steps shows a short gap between two pumps as nothing
    // or as a whole step; gaps are unbiased on average only when every gap
    // under two steps still counts as the pumps' own.
    g.pumpGapNs = std::max(kPumpGapNs, 2 * ClockStepNs());
    g.epochNs = MonotonicNs();
    g.debtNs = 0;
    g.lastPollNs = 0;
    g.nextRefreshNs = kRefreshPeriodNs;
}

uint64_t PumpTicks(uint64_t most) {
    if (!g.testClock || most <= 1 || PeekMessage()) {
        PumpTick();
        return 1;
    }
    return TestPumpTicks(most);
}

void PumpTick() {
    g.pumpCount++;
    if (g.testClock) {
        TestPumpTick();
        return;
    }
    g.debtNs += int64_t(kPumpQuantumNs);
    uint64_t now = NowNs();
    // Back-to-back pumps (a wait loop) spend their own time too; a longer gap
    // is the game's work between waits, which the quantum does not cover.
    uint64_t gap = now - g.lastPumpEndNs;
    if (gap < g.pumpGapNs) g.debtNs -= int64_t(gap);
    if (now - g.lastPollNs >= kPollIntervalNs || now >= g.nextRefreshNs) {
        g.lastPollNs = now;
        PollEvents();
        RefreshIfDue(now);
        uint64_t after = NowNs();
        g.debtNs -= int64_t(after - now);
        now = after;
    }
    if (g.debtNs >= int64_t(kMsNs)) {
        SleepUntilNs(g.epochNs + now + uint64_t(g.debtNs));
        uint64_t after = NowNs();
        g.debtNs -= int64_t(after - now);
        now = after;
    }
    g.debtNs = std::max(g.debtNs, -kMostCreditNs);
    g.lastPumpEndNs = now;
}

// A frame of whole refreshes ends on a refresh: at 33 ms against a 16.7 ms
// refresh, frames timed by the clock alone drift against the display and
// every fiftieth one is shown for one refresh or three. Ending the frame at
// the first refresh no earlier than kFrameSlackNs before its nominal end keeps
// it at exactly two, even when the process wakes a few milliseconds late. A
// frame begun off the grid is shorter or longer by less than half a refresh,
// once.
constexpr uint64_t kFrameSlackNs = 8 * kMsNs;

uint64_t FrameEndUs(uint32_t startMs, uint32_t ms) {
    uint64_t now = NowNs();
    uint64_t sinceStartNs = uint64_t(uint32_t(uint32_t(now / kMsNs) - startMs)) * kMsNs;
    uint64_t startNs = now > sinceStartNs ? now - now % kMsNs - sinceStartNs : 0;
    uint64_t endNs = startNs + uint64_t(ms) * kMsNs;
    if (uint64_t(ms) * kMsNs >= kRefreshPeriodNs) {
        uint64_t earliest = endNs - kFrameSlackNs;
        endNs = (earliest + kRefreshPeriodNs - 1) / kRefreshPeriodNs * kRefreshPeriodNs;
    }
    return endNs / 1000;
}

void Idle(uint64_t untilUs) {
    if (g.testClock) return;
    uint64_t now = NowNs();
    uint64_t wake = std::min(untilUs * 1000, g.nextRefreshNs);
    if (wake > now && !PeekMessage()) WaitForEvent(wake - now);
    now = NowNs();
    g.lastPollNs = now;
    PollEvents();
    RefreshIfDue(now);
}

uint32_t RawTimeMs() { return uint32_t(NowNs() / kMsNs); }

uint32_t TimeMs() { return uint32_t(ReadClockNs() / kMsNs); }

uint64_t TimeUs() { return ReadClockNs() / 1000; }

void WaitVBlank() {
    uint64_t now = NowNs();
    uint64_t boundary = now - now % kRefreshPeriodNs + kRefreshPeriodNs;
    if (g.testClock) {
        g.testNowNs = boundary;
        DeliverScript();
    } else {
        SleepUntilNs(g.epochNs + boundary);
    }
    g.nextRefreshNs = boundary + kRefreshPeriodNs;
}

void UseTestClock(uint32_t startMs, uint32_t nsPerPump) {
    g.testClock = true;
    g.testNowNs = uint64_t(startMs) * kMsNs;
    g.testNsPerPump = nsPerPump;
    g.scriptCount = g.scriptNext = 0;
    g.lastPollNs = 0;
    g.nextRefreshNs = NowNs() - NowNs() % kRefreshPeriodNs + kRefreshPeriodNs;
}

void UseRealClock() {
    g.testClock = false;
    g.scriptCount = g.scriptNext = 0;
    ClockInit();
}

bool UsingTestClock() { return g.testClock; }

void StepTestClock(uint32_t ms) {
    g.testNowNs += uint64_t(ms) * kMsNs;
    DeliverScript();
}

void ScriptMessage(uint32_t atMs, const Message& msg) {
    if (g.scriptCount >= kScriptSize) return;
    ScriptedMessage entry{uint64_t(atMs) * kMsNs, msg};
    // Keep the pending entries in time order; equal times keep posting order.
    int i = g.scriptCount;
    while (i > g.scriptNext && g.script[i - 1].atNs > entry.atNs) {
        g.script[i] = g.script[i - 1];
        i--;
    }
    g.script[i] = entry;
    g.scriptCount++;
}

void ScriptKey(uint32_t atMs, uint32_t vk) {
    // Held for two menu frames, as a person's key press is.
    ScriptMessage(atMs, Message{MSG_KEYDOWN, vk, 0});
    ScriptMessage(atMs + 66, Message{MSG_KEYUP, vk, 0});
}

void ClearScript() { g.scriptCount = g.scriptNext = 0; }

uint64_t PumpCount() { return g.pumpCount; }

}  // namespace plat
