// Real rounds on this machine, run from the game folder: four computer lines
// on the first stage, in normal and in scroll play, four "HARD COM" unless
// other seats are given.
//  - the round frame period at WAIT 80 (mean, p99, max; expected 2.4 ms) and
//    the CPU used meanwhile, with presentation at display rate, after a
//    warm-up of a few hundred frames;
//  - the engine's own work per frame (everything but the pump), with WAIT 0
//    and presentation off, with the slowest single frame;
//  - key press to changed picture: a turn key posted at a random moment, to
//    the first presentation that shows the line's first pixel in the new
//    direction.
// Usage: nuvel-bench-round [frames] [seats]   (run with the game folder as working
// directory; seats as four of master, hard, normal, easy, e.g. master,master,master,master)
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "core/app.h"
#include "graphics/directdraw.h"
#include "match/round.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "tools/bench/benchutil.h"

namespace {

using bench::NowUs;
using bench::Stats;
using bench::Summarise;

int8_t g_seats[kPlayers] = {PLAYER_HARD, PLAYER_HARD, PLAYER_HARD, PLAYER_HARD};

// "master,hard,hard,hard": four computer seats by the lower-case word of
// their type's name.
bool ParseSeats(const std::string& list) {
    const char* const words[kPlayerTypes] = {"", "", "easy", "normal", "hard", "master"};
    size_t start = 0;
    for (int i = 0; i < kPlayers; i++) {
        size_t comma = list.find(',', start);
        std::string word = list.substr(start, comma - start);
        g_seats[i] = PLAYER_NON;
        for (int t = PLAYER_EASY; t < kPlayerTypes; t++)
            if (strcasecmp(word.c_str(), words[t]) == 0) g_seats[i] = int8_t(t);
        if (g_seats[i] == PLAYER_NON || (comma == std::string::npos) != (i == kPlayers - 1)) return false;
        start = comma + 1;
    }
    return true;
}

// A round of four computer lines whose setup skips the countdown.
void StartRound(bool scroll) {
    theStageSelect.cursor = scroll ? SELECT_SCROLL_GAME : SELECT_NORMAL_GAME;
    theStageSelect.selectedStage = 0;
    for (int i = 0; i < kPlayers; i++) theRound.players[i].type = g_seats[i];
    ::StartRound(ChosenRoundStart(), false);
}

// Frames until n are collected with four lines alive; when one dies the
// round is set up again, and that frame (which loads a stage) is not counted.
template <class F>
void RunFrames(bool scroll, int n, F each) {
    StartRound(scroll);
    for (int k = 0; k < n;) {
        bool counted = PlayFrame() == FRAME_GO_ON && theRound.CountAlive() == 4;
        if (!counted) {
            theRound.Teardown();
            StartRound(scroll);
        }
        if (each(counted)) k++;
    }
    theRound.Teardown();
}

// Rounds played before anything is measured. A browser compiles the hot code
// of a page into its optimising tier in the background during the first
// second or so, and frames then stall for tens of milliseconds; a player meets
// a round only after the title and the menus, when that is long done.
constexpr int kWarmUpFrames = 500;

void WarmUp() {
    theRound.state.wait = 80;
    RunFrames(false, kWarmUpFrames, [](bool counted) { return counted; });
}

void FramePeriod(bool scroll, int frames) {
    theRound.state.wait = 80;
    std::vector<double> periods;
    double last = NowUs();
    double cpu0 = bench::ProcessCpuMs(), wall0 = last;
    plat::PresentCounts shown0 = plat::GetPresentCounts();
    RunFrames(scroll, frames, [&](bool counted) {
        double now = NowUs();
        if (counted) periods.push_back((now - last) / 1000.0);
        last = now;
        return counted;
    });
    double cpu = bench::ProcessCpuMs() - cpu0, wall = (NowUs() - wall0) / 1000.0;
    plat::PresentCounts shown = plat::GetPresentCounts();
    Stats s = Summarise(periods);
    printf(
        "%s play, WAIT 80, %d frames: period mean %.3f ms, median %.3f, p99 %.3f, max %.3f; CPU %.0f%% of a core; "
        "%.1f presents/s, %.1f/s skipped as unchanged\n",
        scroll ? "scroll" : "normal", frames, s.mean, s.median, s.p99, s.worst, 100.0 * cpu / wall,
        double(shown.presented - shown0.presented) * 1000.0 / wall,
        double(shown.skipped - shown0.skipped) * 1000.0 / wall);
}

// Wall time per frame, and the CPU time of this thread per frame, which a
// busy machine's other processes do not inflate.
void EngineWork(bool scroll, int frames) {
    theRound.state.wait = 0;
    plat::SetPresentHook(nullptr);
    std::vector<double> work, cpu;
    double last = NowUs(), lastCpu = bench::ClockUs(CLOCK_THREAD_CPUTIME_ID);
    RunFrames(scroll, frames, [&](bool counted) {
        double now = NowUs(), nowCpu = bench::ClockUs(CLOCK_THREAD_CPUTIME_ID);
        if (counted) work.push_back(now - last), cpu.push_back(nowCpu - lastCpu);
        last = now;
        lastCpu = nowCpu;
        return counted;
    });
    Stats s = Summarise(work), c = Summarise(cpu);
    printf("%s play, engine work per frame with four lines: mean %.1f us, median %.1f, p99 %.1f, max %.1f\n",
           scroll ? "scroll" : "normal", s.mean, s.median, s.p99, s.worst);
    printf("%s play, thread CPU per frame: mean %.1f us, median %.1f, p99 %.1f, max %.1f\n",
           scroll ? "scroll" : "normal", c.mean, c.median, c.p99, c.worst);
}

void PrintSeats() {
    printf("seats:");
    for (int i = 0; i < kPlayers; i++) printf(" %dP %s%s", i + 1, PlayerTypeName(g_seats[i]), i < 3 ? "," : "\n");
}

// The presentation hook records when a picture reached the screen and
// whether it already shows the turn being measured.
struct LatencyProbe {
    bool pending = false;
    uint16_t headingAtKey = 0;
    int pixelXAtKey = 0, pixelYAtKey = 0;
    double keyUs = 0;
    std::vector<double> latencies;
} probe;

void ProbePresent() {
    theDirectDraw.Present();
    if (!probe.pending) return;
    const PlayerSlot& p1 = theRound.players[0];
    // The key is read at the start of the next frame, before the line moves,
    // so once the heading has changed any new head pixel is the first pixel
    // of the new direction.
    if (p1.heading != probe.headingAtKey &&
        (p1.lastPixelX != probe.pixelXAtKey || p1.lastPixelY != probe.pixelYAtKey)) {
        probe.latencies.push_back((NowUs() - probe.keyUs) / 1000.0);
        probe.pending = false;
    }
}

void KeyToPicture(int presses) {
    theRound.state.wait = 80;
    plat::SetPresentHook(ProbePresent);
    int nextPressFrame = 50;
    bool keyDown = false;
    StartRound(false);
    theRound.players[0].type = PLAYER_MAN;
    for (int frame = 0; int(probe.latencies.size()) < presses; frame++) {
        PlayerSlot& p1 = theRound.players[0];
        if (PlayFrame() != FRAME_GO_ON || !p1.alive) {
            theRound.Teardown();
            StartRound(false);
            theRound.players[0].type = PLAYER_MAN;
            probe.pending = false;
            if (keyDown) plat::PostMessage(plat::Message{plat::MSG_KEYUP, 'Q', 0});
            keyDown = false;
            nextPressFrame = frame + 50;
            continue;
        }
        if (keyDown && p1.heading != probe.headingAtKey) {
            plat::PostMessage(plat::Message{plat::MSG_KEYUP, 'Q', 0});
            keyDown = false;
        }
        if (!probe.pending && !keyDown && frame >= nextPressFrame) {
            // Pressed at a random moment within the frame's wait.
            theApp.PumpMessagesN(theApp.RandUpTo(1599));
            probe.headingAtKey = p1.heading;
            probe.pixelXAtKey = p1.lastPixelX;
            probe.pixelYAtKey = p1.lastPixelY;
            probe.pending = true;
            probe.keyUs = NowUs();
            plat::PostMessage(plat::Message{plat::MSG_KEYDOWN, 'Q', 0});
            keyDown = true;
            nextPressFrame = frame + 60 + theApp.RandUpTo(40);
        }
    }
    theRound.Teardown();
    Stats s = Summarise(probe.latencies);
    printf(
        "key press to changed picture (normal play, slowness 2), %d presses: mean %.1f ms, median %.1f, p99 %.1f, "
        "max %.1f\n",
        presses, s.mean, s.median, s.p99, s.worst);
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? atoi(argv[1]) : 2000;
    if (frames < 100) frames = 100;
    if (argc > 2 && !ParseSeats(argv[2])) {
        fprintf(stderr, "seats: four of master, hard, normal, easy, e.g. master,hard,hard,hard\n");
        return 2;
    }
    if (!plat::Init() || !plat::CreateGameWindow("Tarnwick bench", kScreenWidth, kScreenHeight)) {
        fprintf(stderr, "no display\n");
        return 1;
    }
    theApp.Init();
    printf("video driver: %s\n", getenv("SDL_VIDEODRIVER") ? getenv("SDL_VIDEODRIVER") : "(default)");
    PrintSeats();
    WarmUp();
    FramePeriod(false, frames);
    FramePeriod(true, frames);
    KeyToPicture(60);
    EngineWork(false, frames);
    EngineWork(true, frames);
    return 0;
}
