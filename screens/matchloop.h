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

// Round by round until a screen chooses to leave, the session ends it, the
// runner has played its rounds or, with MATCH_ROUNDS, the last round has been
// played and the final standings are shown. Local play and the host choose
// each round on the round intro and the selector; a joining machine follows
// the host's screens until the host's round starts. session: the online
// session of this machine (host or joined), null for local play and the
// runner.
void PlayMatch(CSession* session, const MatchRunner* runner = nullptr);
