// CFinalStandings: the screen that ends a match of MATCH_ROUNDS rounds, with
// every playing seat's total score, rank and wins, and the champion or a tie.
#pragma once
#include <cstdint>

#include "core/app.h"

constexpr int kStandingsTextSize = 41;  // 40 characters and the terminator

class CFinalStandings {
public:
    CFinalStandings();

    // The screen, until Return or Escape goes back to the title.
    void Run();

    void Prepare();
    void Draw();
    bool HandleKeys();

    // Fields: the banner picture and its text ("1P CHAMPION", or "TIE" when
    // more than one seat has the highest total), one line per playing seat
    // from first to last place (the rest empty), and the one entry.
    SurfaceId banner;
    int32_t bannerWidth;
    char bannerText[kStandingsTextSize];
    char lines[4][kStandingsTextSize];
    uint8_t lineColors[4];
    // The kind of each line's seat, shown left of it (SeatLabel).
    char kindLabels[4][kStandingsTextSize];
    char entry[kStandingsTextSize];
};

extern CFinalStandings theFinalStandings;
