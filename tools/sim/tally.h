// Results of the match runner: one line per round, then totals and the win
// shares of each seat and each computer strength with their 95% intervals.
#pragma once
#include <cstdint>

#include "match/round.h"

// What one round ended with.
struct RoundOutcome {
    int winner;  // slot index, or -1 for a draw
    int32_t frames;
    int32_t seconds;
    int32_t scores[kPlayers];
    // Lines that died before the round's clock showed 1, and before it showed 2.
    int32_t firstSecondDeaths;
    int32_t twoSecondDeaths;
};

// The Wilson score interval of a share of wins in trials at 95% confidence.
struct ShareInterval {
    double share, low, high;
};
ShareInterval WilsonInterval(int64_t wins, int64_t trials);

class CMatchTally {
public:
    explicit CMatchTally(const int8_t seats[kPlayers]);
    void Add(const RoundOutcome& outcome);
    void PrintRound(const RoundOutcome& outcome) const;
    void PrintSummary() const;

private:
    void PrintShare(const char* label, int64_t count, const char* noun) const;

    int8_t m_seats[kPlayers];
    int64_t m_rounds = 0;
    int64_t m_draws = 0;
    int64_t m_wins[kPlayers] = {};
    int64_t m_totals[kPlayers] = {};
    int64_t m_frames = 0;
    int64_t m_seconds = 0;
    int64_t m_firstSecondDeaths = 0;
    int64_t m_twoSecondDeaths = 0;
};
