// CRoundIntro: the round intro screen with the standings.
#pragma once
#include <cstdint>

// The intro's cursor after the screen: what the players chose.
enum IntroChoice : int32_t { INTRO_OK_NEXT = 0, INTRO_EXIT = 1 };

class CRoundIntro {
public:
    CRoundIntro();
    ~CRoundIntro();

    int Run();
    // The round counter: 0 in the first round of a match. The match loop
    // resets and advances it; the round's status line shows RoundNumber().
    void ResetRounds() { roundCounter = 0; }
    void NextRound() { roundCounter++; }
    int RoundNumber() const { return roundCounter + 1; }

    char lines[2][100];
    int32_t cursor;
    int32_t roundCounter;
};

extern CRoundIntro theRoundIntro;
