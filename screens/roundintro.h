// CRoundIntro: the round intro screen with the standings.
#pragma once
#include <cstdint>

#include "core/app.h"

// The intro's cursor after the screen: what the players chose.
enum IntroChoice : int32_t { INTRO_OK_NEXT = 0, INTRO_EXIT = 1 };

constexpr int kIntroTextSize = 41;  // 40 characters and the terminator

class CRoundIntro {
public:
    CRoundIntro();
    ~CRoundIntro();

    // The screen; returns the cursor, which also stays in the object.
    int Run();

    void Prepare();
    void Draw();
    void DrawCursor();
    bool HandleKeys();

    // Fields, in the documented order.
    SurfaceId banner;
    int32_t bannerWidth;
    char playerLines[4][kIntroTextSize];
    char lines[2][kIntroTextSize];
    uint8_t colors[2];
    uint8_t cursor;
    // The table's heading, its key column as wide as the widest seat's keys.
    char header[kIntroTextSize];
    // Each seat's kind, shown left of its row (SeatLabel).
    char kindLabels[4][kIntroTextSize];

private:
    void PreparePlayerLines();
};

extern CRoundIntro theRoundIntro;
