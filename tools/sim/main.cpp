// nuvel-sim: plays matches between computer players with no window on
// screen, no sound and no waiting, and checks the engine's invariants after
// every frame. Rounds run on the test clock, where every message pump stands
// for the platform's pump quantum of game time: a frame at WAIT w lasts
// w x 20 pumps, so round seconds, scores, meteorite waves and item lifetimes
// come out as in a real round at that WAIT, only sooner. The countdown and
// the result screen are skipped; scoring is the round loop's own.
//
// Exit status: 0 when every round ended and every check held, 1 when a check
// broke (the message says which, in which round and frame), 2 for a bad
// command line or game folder.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "config/option.h"
#include "core/app.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "replay/replay.h"
#include "screens/matchloop.h"
#include "screens/replayplay.h"
#include "screens/roundintro.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "tools/sim/invariants.h"
#include "tools/sim/netsim.h"
#include "tools/sim/simoptions.h"
#include "tools/sim/tally.h"

namespace {

constexpr uint32_t kClockStartMs = 1000;
constexpr uint32_t kNsPerPump = uint32_t(plat::kPumpQuantumNs);
constexpr const char kStageList[] = "Stage/stage.txt";

bool IsGameFolder(const std::string& dir) {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd) || chdir(dir.c_str()) != 0) return false;
    bool found = plat::FileExists(kStageList);
    return chdir(cwd) == 0 && found;
}

// The working directory when it holds a stage list, else a folder "game"
// beside the program or up to two levels above it (the build tree's layout).
std::string FindGameFolder() {
    if (IsGameFolder(".")) return ".";
    char exe[4096];
    ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) return {};
    std::string dir(exe, size_t(length));
    for (int up = 0; up <= 2; up++) {
        size_t slash = dir.find_last_of('/');
        if (slash == std::string::npos) break;
        dir.resize(slash);
        if (IsGameFolder(dir + "/game")) return dir + "/game";
    }
    return {};
}

// The display objects a round draws with, on SDL's dummy drivers, and the
// test clock; sound and music are never started.
bool StartHeadless() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    if (!plat::Init() || !plat::CreateGameWindow("nuvel-sim", kScreenWidth, kScreenHeight)) return false;
    if (!theDirectDraw.StartDirectDraw(kScreenWidth, kScreenHeight, 8)) return false;
    plat::UseTestClock(kClockStartMs, kNsPerPump);
    plat::SetPresentHook(nullptr);  // nothing to show: no presentation at display rate
    theApp.fontSurface = theDirectDraw.LoadPng("Graphics\\font.png", true, false);
    theApp.backgroundSurface = theDirectDraw.LoadPng("Graphics\\background.png", false, false);
    theStageSelect.LoadStageList();
    theItemManager.LoadPictures();
    theApp.FillDirectionTables();
    return true;
}

[[noreturn]] void Broken(int round, const std::string& why) {
    std::fflush(stdout);
    std::fprintf(stderr, "nuvel-sim: invariant broken in round %d, frame %ld (second %ld): %s\n", round,
                 long(theRound.state.frameCounter), long(theRound.state.roundSeconds), why.c_str());
    std::exit(1);
}

void ReportDeaths(const uint8_t aliveBefore[kPlayers]) {
    for (int i = 0; i < kPlayers; i++) {
        const PlayerSlot& slot = theRound.players[i];
        if (aliveBefore[i] && !slot.alive)
            std::printf("  frame %ld (%ld s): %dP dies at (%d, %d)\n", long(theRound.state.frameCounter),
                        long(theRound.state.roundSeconds), i + 1, CApp::FloatToInt(slot.x), CApp::FloatToInt(slot.y));
    }
}

void SaveRoundReplay(const std::string& dir, int round) {
    static uint8_t bytes[kReplayFileMax];
    char path[4200];
    std::snprintf(path, sizeof path, "%s/round-%04d.rpl", dir.c_str(), round);
    size_t size = theReplay.lastValid ? EncodeReplay(theReplay.last, bytes, sizeof bytes) : 0;
    if (size == 0 || !plat::WriteFileAtomic(path, bytes, size))
        std::fprintf(stderr, "nuvel-sim: round %d: no replay written to %s\n", round, path);
}

// Each file played back headless: OK, MISMATCH or UNREADABLE, one line each.
int VerifyReplays(const std::vector<std::string>& files) {
    static ReplayData data;
    int failed = 0;
    for (const std::string& file : files) {
        ReplayReadResult read = LoadReplayFile(file.c_str(), &data);
        if (read != REPLAY_READ_OK) {
            char text[300];
            ReplayReadMessage("the file", read, data, text, sizeof text);
            std::printf("%s: UNREADABLE: %s\n", file.c_str(), text);
            failed++;
            continue;
        }
        ReplayOutcome outcome = PlayReplay(data, false);
        if (outcome.verdict == REPLAY_REPRODUCED) {
            std::printf("%s: OK (%ld frames, %ld s)\n", file.c_str(), long(data.lastFrame), long(data.lastSecond));
            continue;
        }
        char text[600];
        ReplayVerdictText(data, outcome, file.c_str(), text, sizeof text);
        std::printf("%s: MISMATCH: %s\n", file.c_str(), text + file.size() + 2);
        failed++;
    }
    std::printf("%zu replays, %zu OK, %d failed\n", files.size(), files.size() - size_t(failed), failed);
    return failed ? 1 : 0;
}

// A path of the command line, taken before the runner enters the game folder.
std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

long ResidentKb() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmRSS: %ld", &kb) == 1) break;
    std::fclose(status);
    return kb;
}

// The runner's part in the match loop: the options choose every round, each
// frame is checked, each round is tallied.
struct SimMatch {
    const SimOptions* options;
    std::optional<CMatchTally> tally;
    CRoundInvariants invariants;
    uint8_t aliveBefore[kPlayers];
    int round;
};
SimMatch g_sim;

void NoteAlive() {
    for (int i = 0; i < kPlayers; i++) g_sim.aliveBefore[i] = theRound.players[i].alive;
}

bool BeforeRound(int round) {
    const SimOptions& options = *g_sim.options;
    if (round > options.rounds) return false;
    if (options.cycleExplosions) theRound.explosionType = (round - 1) % 4;
    theStageSelect.cursor = options.scroll ? SELECT_SCROLL_GAME : SELECT_NORMAL_GAME;
    theStageSelect.selectedStage = options.stage == kRandomStage ? theStageSelect.stageCount : options.stage;
    g_sim.round = round;
    return true;
}

void RoundStarted(int round) {
    if (g_sim.options->verbose)
        std::printf("round %d on stage %d, %s\n", round, theRound.state.stageIndex, theRound.Stage().title);
    g_sim.invariants = CRoundInvariants();
    g_sim.invariants.Begin();
    NoteAlive();
}

void AfterFrame(int result) {
    const SimOptions& options = *g_sim.options;
    const int round = g_sim.round;
    std::string why = g_sim.invariants.Check();
    if (!why.empty()) Broken(round, why);
    if (options.verbose) ReportDeaths(g_sim.aliveBefore);
    NoteAlive();
    if (result == FRAME_ROUND_OVER) return;
    if (result != FRAME_GO_ON) Broken(round, "the round left through the pause menu");
    if (theRound.state.frameCounter >= options.maxFrames) Broken(round, "the round did not end");
}

void AfterRound(int round) {
    const SimOptions& options = *g_sim.options;
    RoundOutcome outcome{};
    outcome.winner = -1;
    for (int i = 0; i < kPlayers; i++) {
        if (theRound.players[i].alive) outcome.winner = i;
        outcome.scores[i] = theRound.players[i].roundScore;
        const PlayerSlot& slot = theRound.players[i];
        const bool died = EffectivePlayerType(slot.type) != PLAYER_NON && !slot.alive;
        outcome.firstSecondDeaths += died && slot.endSecond == 0;
        outcome.twoSecondDeaths += died && slot.endSecond <= 1;
    }
    outcome.frames = theRound.state.frameCounter;
    outcome.seconds = theRound.state.roundSeconds;
    if (!options.recordDir.empty()) SaveRoundReplay(options.recordDir, round);
    g_sim.tally->Add(outcome);
    g_sim.tally->PrintRound(outcome);
    if (options.memory) std::printf("  resident memory after round %d: %ld KB\n", round, ResidentKb());
}

void PrintHeader(const SimOptions& options) {
    std::printf("seats:");
    for (int i = 0; i < kPlayers; i++)
        std::printf(" %dP %s%s", i + 1, PlayerTypeName(options.seats[i]), i < 3 ? "," : "");
    std::printf("\nseed %u, %d rounds, stage %s, %s play, WAIT %d\n", options.seed, options.rounds,
                options.stage == kRandomStage ? "random" : std::to_string(options.stage).c_str(),
                options.scroll ? "scroll" : "normal", theRound.state.wait);
    std::printf(
        "explosion type %d, meteorites %s (every %d s, value %d), ITEM_MAX %d, ITEM_SHOW_TIME %d, "
        "ITEM_GET_DEATH %d, item weights",
        theRound.explosionType, theRound.meteorite.enable ? "on" : "off", theRound.meteorite.intervalSeconds,
        theRound.meteorite.count, theItemManager.itemMax, theItemManager.itemShowTime, theItemManager.itemGetDeath);
    for (const ItemTableRow& row : g_itemTable) std::printf(" %d", row.weight);
    std::printf("\n\n");
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "nuvel-sim: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!ParseSimOptions(argc, argv, &options, &error)) {
        if (error == SimUsage()) return std::printf("%s", SimUsage()), 0;
        return Fail(error + "\n" + SimUsage());
    }
    for (std::string& file : options.verify) file = AbsolutePath(file);
    options.recordDir = AbsolutePath(options.recordDir);
    theReplay.saveFiles = false;
    theReplay.enabled = !options.recordDir.empty();
    std::string game = options.gameDir.empty() ? FindGameFolder() : options.gameDir;
    if (game.empty() || !IsGameFolder(game)) return Fail("no game folder with " + std::string(kStageList) + " found");
    if (chdir(game.c_str()) != 0) return Fail("cannot enter " + game);
    if (!StartHeadless()) return Fail("the dummy display could not be started");
    if (!options.verify.empty()) return VerifyReplays(options.verify);
    if (!options.recordDir.empty() && !plat::MakeFolder(options.recordDir.c_str()))
        return Fail("cannot make the folder " + options.recordDir);
    // The folder's settings file, if any, is read but never written.
    if (plat::FileExists("option.txt")) theOption.Load();
    if (!ApplySimSettings(options, &error)) return Fail(error);
    if (options.net.peers > 0) return RunNetMatch(options);
    int seated = 0;
    for (int8_t seat : options.seats) seated += seat != PLAYER_NON;
    if (seated < 2) return Fail("a match needs at least two seats that are not 'non'");
    if (theStageSelect.stageCount <= 0) return Fail("the stage list holds no stage");
    if (options.stage >= theStageSelect.stageCount) return Fail("no stage " + std::to_string(options.stage));

    theApp.Seed(options.seed);
    PrintHeader(options);
    BeginMatch();
    g_sim.options = &options;
    g_sim.tally.emplace(options.seats);
    const MatchRunner runner{BeforeRound, RoundStarted, AfterFrame, AfterRound};
    PlayMatch(nullptr, &runner);
    g_sim.tally->PrintSummary();
    g_sim.options = nullptr;
    return 0;
}
