// The match loop that every match plays through: the title's, the host's,
// a joining machine's and the match runner's.
#pragma once
#include "match/stage.h"

class CSession;

// The match runner's part in a match: it sets up each round's choice itself,
// plays headless, and looks at every frame and every round.
struct MatchRunner {
    // Before round `round` (from 1): false ends the match.
    bool (*beforeRound)(int round);
    // Once the round is set up, before its first frame.
    void (*roundStarted)(int round);
    // After every frame, with what the frame ended with.
    void (*afterFrame)(int result);
    // After round `round` has been torn down.
    void (*afterRound)(int round);
};

// An online match's part in it, which the online screens hand in: the
// session of this machine (host or joined) and the steps that only an
// online match takes. The intro shows the seats as they will play; the
// host's chosen round starts on every machine; a joining machine follows
// the host's screens to the host's next round (false: the match is over for
// it).
struct MatchOnline {
    CSession* session;
    void (*showSeats)();
    void (*hostRoundStarts)(const RoundStart& chosen);
    bool (*followHostToRound)(RoundStart* chosen);
};

// Round by round until a screen chooses to leave, the session ends it, the
// runner has played its rounds or, with MATCH_ROUNDS, the last round has been
// played and the final standings are shown. Local play and the host choose
// each round on the round intro and the selector; a joining machine follows
// the host's screens until the host's round starts. online is null for local
// play and for the runner.
void PlayMatch(const MatchOnline* online, const MatchRunner* runner = nullptr);
