// The engine's own work per round frame under a heavy effect load, run from
// the game folder: four computer lines on the first stage in normal play,
// WAIT 0 and presentation off, while
//  - every slot has exploded once with each particle kind (5,000 particles
//    each, 60,000 in all) and
//  - a 9,000-meteorite wave is in flight.
// The lines are made invincible so that all four keep moving and thinking
// through the storm. Each run measures the frames that follow the explosions
// and the wave, then the round is set up again.
// Usage: nuvel-bench-effects [frames-per-run] [runs]
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "core/app.h"
#include "graphics/directdraw.h"
#include "match/round.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "tools/bench/benchutil.h"

namespace {

constexpr int kParticlesPerExplosion = 5000;
constexpr int kWaveSize = 9000;
constexpr int kParticleKinds = 3;

using bench::ClockUs;
using bench::Stats;
using bench::Summarise;

void Print(const char* what, const Stats& s) {
    printf("%s per frame: mean %.1f us, median %.1f, p99 %.1f, worst %.1f\n", what, s.mean, s.median, s.p99, s.worst);
}

// A round of four invincible computer lines, set up without the countdown,
// with the explosions made and a meteorite wave due in the first frame.
void StartLoadedRound() {
    theStageSelect.cursor = SELECT_NORMAL_GAME;
    theStageSelect.selectedStage = 0;
    for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_HARD;
    theRound.Setup(ChosenRoundStart());
    theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
    theRound.local.lastSecondMs = plat::TimeMs();
    for (PlayerSlot& slot : theRound.players) slot.invincibleEndFrame = INT_MAX;
    for (int slot = 0; slot < kPlayers; slot++)
        for (int kind = 0; kind < kParticleKinds; kind++) theRound.particle.Explode(kind, slot, kParticlesPerExplosion);
    // The wave comes in the first frame: the seconds clock stands on a
    // multiple of the period that has had no wave yet.
    theRound.meteorite.enable = 1;
    theRound.meteorite.count = kWaveSize;
    theRound.meteorite.intervalSeconds = 9000;
    theRound.state.roundSeconds = 9000;
}

int ParticleCount() {
    int n = 0;
    for (const CDataList& list : theRound.particle.lists) n += list.Count();
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    int framesPerRun = argc > 1 ? atoi(argv[1]) : 100;
    int runs = argc > 2 ? atoi(argv[2]) : 20;
    framesPerRun = std::max(framesPerRun, 10);
    runs = std::max(runs, 1);
    if (!plat::Init() || !plat::CreateGameWindow("Tarnwick bench", kScreenWidth, kScreenHeight)) {
        fprintf(stderr, "no display\n");
        return 1;
    }
    theApp.Init();
    theRound.state.wait = 0;
    plat::SetPresentHook(nullptr);

    // Wall time is what the frame costs; on a shared machine it also holds
    // the time the thread was preempted, which the thread's CPU time leaves out.
    std::vector<double> work, cpu;
    long particlesSeen = 0, meteoritesSeen = 0;
    for (int run = 0; run < runs; run++) {
        StartLoadedRound();
        for (int f = 0; f < framesPerRun; f++) {
            const double startUs = ClockUs(CLOCK_MONOTONIC), startCpuUs = ClockUs(CLOCK_THREAD_CPUTIME_ID);
            const int result = PlayFrame();
            cpu.push_back(ClockUs(CLOCK_THREAD_CPUTIME_ID) - startCpuUs);
            work.push_back(ClockUs(CLOCK_MONOTONIC) - startUs);
            particlesSeen += ParticleCount();
            meteoritesSeen += theRound.meteorite.list.Count();
            if (result != FRAME_GO_ON) break;
        }
        theRound.Teardown();
    }
    const double n = double(work.size());
    printf("effects load: %d explosions of %d particles, a %d-meteorite wave, four invincible HARD COM lines\n",
           kPlayers * kParticleKinds, kParticlesPerExplosion, kWaveSize);
    printf("%zu frames (%d runs of up to %d): on average %.0f particles and %.0f meteorites alive\n", work.size(), runs,
           framesPerRun, double(particlesSeen) / n, double(meteoritesSeen) / n);
    Print("engine work (wall)", Summarise(work));
    Print("engine work (thread CPU)", Summarise(cpu));
    return 0;
}
