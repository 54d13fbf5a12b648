// CRoundIntro: the round intro screen with the standings.
#pragma once
#include <cstdint>

class CRoundIntro {
public:
    CRoundIntro();
    ~CRoundIntro();

    int Run();

    char lines[2][100];
    int32_t cursor;
    int32_t roundCounter;
};

extern CRoundIntro theRoundIntro;
