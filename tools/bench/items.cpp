// Item effects on this machine, run from the game folder in a real round of
// two lines on the first stage:
//  - how long each animated effect runs as a player sees it, in display
//    refreshes and milliseconds, in normal and in scroll play (the flash of
//    spending an item, two refreshes, is not included);
//  - the cost of a mirror and of "CLEAN" (scroll play, where neither waits
//    for a refresh; in normal play each adds one flip).
// Usage: nuvel-bench-items [repeats]   (run with the game folder as working directory)
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/app.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"

namespace {

constexpr double kRefreshMs = 1000.0 / 60.0;

double NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void StartRound(bool scroll) {
    theStageSelect.cursor = scroll ? SELECT_SCROLL_GAME : SELECT_NORMAL_GAME;
    theStageSelect.selectedStage = 0;
    for (int i = 0; i < kPlayers; i++) theRound.players[i].type = i < 2 ? PLAYER_MAN : PLAYER_NON;
    ::StartRound(ChosenRoundStart(), false);
}

template <class F>
void Animation(const char* name, bool scroll, F run) {
    StartRound(scroll);
    theDirectDraw.WaitVBlank();  // start right after a refresh, as a key press would be seen
    double start = NowMs();
    run();
    double ms = NowMs() - start;
    printf("  %-22s %-6s %5.1f refreshes  %7.1f ms\n", name, scroll ? "scroll" : "normal", ms / kRefreshMs, ms);
    theRound.Teardown();
}

template <class F>
void Cost(const char* name, int repeats, F run) {
    StartRound(true);
    double start = NowMs();
    for (int k = 0; k < repeats; k++) run();
    double us = (NowMs() - start) * 1e3 / repeats;
    printf("  %-22s %8.1f us per use (%d uses)\n", name, us, repeats);
    theRound.Teardown();
}

}  // namespace

int main(int argc, char** argv) {
    int repeats = argc > 1 ? atoi(argv[1]) : 200;
    if (repeats < 1) repeats = 1;
    if (!plat::Init() || !plat::CreateGameWindow("Tarnwick bench", kScreenWidth, kScreenHeight)) {
        fprintf(stderr, "no display\n");
        return 1;
    }
    theApp.Init();
    printf("video driver: %s\n", getenv("SDL_VIDEODRIVER") ? getenv("SDL_VIDEODRIVER") : "(default)");
    printf("animated effects as seen (refresh %.2f ms):\n", kRefreshMs);
    for (bool scroll : {false, true}) {
        Animation("WarpOut (INVINCIBLE)", scroll, [] { theItemManager.WarpOut(0); });
        Animation("WarpIn (STOP etc.)", scroll, [] { theItemManager.WarpIn(1); });
        Animation("WARP", scroll, [] { theItemManager.Warp(0); });
        Animation("CHANGE", scroll, [] { theItemManager.Change(0); });
        Animation("BOMB", scroll, [] { theItemManager.Bomb(0); });
        Animation("item flash", scroll, [] { theItemManager.Flash(); });
    }
    printf("costs (scroll play, no refresh waited for):\n");
    Cost("LR MIRROR", repeats, [] { theItemManager.MirrorField(MIRROR_LEFT_RIGHT); });
    Cost("UD MIRROR", repeats, [] { theItemManager.MirrorField(MIRROR_UP_DOWN); });
    Cost("CLEAN", repeats, [] { theItemManager.Clean(0); });
    return 0;
}
