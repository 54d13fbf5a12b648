// The match loop (see matchloop.h).
#include "screens/matchloop.h"

#include "net/session.h"
#include "replay/replay.h"
#include "screens/roundintro.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "screens/standings.h"

namespace {

// The round intro and the selector choose the next round; false when either
// leaves the match.
bool ChooseRound(RoundStart* chosen) {
    if (theRoundIntro.Run() == INTRO_EXIT) return false;
    theStageSelect.Run();
    if (theStageSelect.cursor == SELECT_EXIT) {
        theStageSelect.cursor = 0;
        return false;
    }
    *chosen = ChosenRoundStart();
    return true;
}

// A round played headless for the runner: ROUND_NEXT once it is over.
int RunHeadless(const RoundStart& chosen, const MatchRunner& runner, int round) {
    StartRound(chosen, false);
    runner.roundStarted(round);
    int result;
    do {
        result = PlayFrame();
        runner.afterFrame(result);
    } while (result == FRAME_GO_ON);
    theReplay.EndRecording();
    theRound.Teardown();
    return result == FRAME_ROUND_OVER ? ROUND_NEXT : ROUND_EXIT;
}

}  // namespace

void PlayMatch(const MatchOnline* online, const MatchRunner* runner) {
    CSession* session = online ? online->session : nullptr;
    const bool joined = session && session->Role() == SESSION_CLIENT;
    const int32_t matchRounds = runner ? 0 : theRound.matchRounds;  // as the match began
    for (int round = 1;; round++) {
        RoundStart chosen;
        if (runner) {
            if (!runner->beforeRound(round)) break;
            chosen = ChosenRoundStart();
        } else if (joined) {
            if (!online->followHostToRound(&chosen)) break;
        } else {
            if (online) online->showSeats();
            if (!ChooseRound(&chosen)) break;
            if (online) online->hostRoundStarts(chosen);
        }
        theReplay.feed = session;
        const int result = runner ? RunHeadless(chosen, *runner, round) : PlayRound(chosen);
        theReplay.feed = nullptr;
        if (session) session->EndRound();
        // A joining machine plays on until its session ends the match.
        if (joined ? session->Stopped() || session->HostLost() : result == ROUND_EXIT) break;
        if (!runner) theApp.WaitFrame(0);
        theRound.NextRound();
        if (runner) runner->afterRound(round);
        if (matchRounds > 0 && theRound.roundCounter >= matchRounds) {
            theFinalStandings.Run();
            break;
        }
    }
}
