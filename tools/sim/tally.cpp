// Figures printed by the match runner. Everything comes from the rounds
// themselves, never from the wall clock, so one seed prints the same bytes.
#include "tools/sim/tally.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kZ95 = 1.959963984540054;  // two-sided 95% normal quantile

}  // namespace

ShareInterval WilsonInterval(int64_t wins, int64_t trials) {
    if (trials <= 0) return {0.0, 0.0, 1.0};
    const double n = double(trials), p = double(wins) / n, z2 = kZ95 * kZ95;
    const double centre = (p + z2 / (2 * n)) / (1 + z2 / n);
    const double half = kZ95 / (1 + z2 / n) * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n));
    return {p, std::fmax(0.0, centre - half), std::fmin(1.0, centre + half)};
}

CMatchTally::CMatchTally(const int8_t seats[kPlayers]) {
    for (int i = 0; i < kPlayers; i++) m_seats[i] = seats[i];
}

void CMatchTally::Add(const RoundOutcome& outcome) {
    m_rounds++;
    if (outcome.winner < 0)
        m_draws++;
    else
        m_wins[outcome.winner]++;
    for (int i = 0; i < kPlayers; i++) m_totals[i] += outcome.scores[i];
    m_frames += outcome.frames;
    m_seconds += outcome.seconds;
    m_firstSecondDeaths += outcome.firstSecondDeaths;
    m_twoSecondDeaths += outcome.twoSecondDeaths;
}

void CMatchTally::PrintRound(const RoundOutcome& outcome) const {
    char winner[32] = "draw";
    if (outcome.winner >= 0) std::snprintf(winner, sizeof winner, "%dP wins", outcome.winner + 1);
    std::printf("round %4lld  %-8s %8d frames %5d s  scores", static_cast<long long>(m_rounds), winner, outcome.frames,
                outcome.seconds);
    for (int i = 0; i < kPlayers; i++)
        if (m_seats[i] != PLAYER_NON) std::printf("  %dP %6d", i + 1, outcome.scores[i]);
    std::printf("\n");
}

void CMatchTally::PrintShare(const char* label, int64_t count, const char* noun) const {
    ShareInterval s = WilsonInterval(count, m_rounds);
    std::printf("  %-16s %6lld %-6s %5.1f%%  [%5.1f%%, %5.1f%%]\n", label, static_cast<long long>(count), noun,
                100 * s.share, 100 * s.low, 100 * s.high);
}

void CMatchTally::PrintSummary() const {
    const double rounds = m_rounds > 0 ? double(m_rounds) : 1.0;
    std::printf("\n%lld rounds, mean length %.1f frames, %.2f s\n", static_cast<long long>(m_rounds),
                double(m_frames) / rounds, double(m_seconds) / rounds);
    std::printf("total scores:");
    for (int i = 0; i < kPlayers; i++)
        if (m_seats[i] != PLAYER_NON) std::printf("  %dP %lld", i + 1, static_cast<long long>(m_totals[i]));
    int seated = 0;
    for (int i = 0; i < kPlayers; i++) seated += m_seats[i] != PLAYER_NON;
    std::printf("\nlines dead in the first second: %lld of %lld, in the first two seconds: %lld\n",
                static_cast<long long>(m_firstSecondDeaths), static_cast<long long>(m_rounds * seated),
                static_cast<long long>(m_twoSecondDeaths));
    std::printf("win share per seat (95%% Wilson interval):\n");
    char label[48];
    for (int i = 0; i < kPlayers; i++) {
        if (m_seats[i] == PLAYER_NON) continue;
        std::snprintf(label, sizeof label, "%dP %s", i + 1, PlayerTypeName(m_seats[i]));
        PrintShare(label, m_wins[i], "wins");
    }
    PrintShare("draw", m_draws, "rounds");
    std::printf("win share per strength (any seat of it):\n");
    for (int type = PLAYER_MASTER; type >= PLAYER_EASY; type--) {
        int64_t wins = 0;
        int seats = 0;
        for (int i = 0; i < kPlayers; i++)
            if (m_seats[i] == type) wins += m_wins[i], seats++;
        if (seats == 0) continue;
        std::snprintf(label, sizeof label, "%s x%d", PlayerTypeName(type), seats);
        PrintShare(label, wins, "wins");
    }
}
