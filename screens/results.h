// CResultScreen: "REPORT OF BATTLE RESULT" over the final field.
#pragma once
#include <cstdint>

#include "core/app.h"

class CResultScreen {
public:
    CResultScreen();
    void Prepare();
    void Run();
    bool HandleKeys();
    void Draw();
    void DrawCursor();

    SurfaceId banner;
    int32_t bannerWidth;
    uint8_t hidden;
    char scoreLines[4][40];
    // Each seat's kind, shown left of its line (SeatLabel).
    char kindLabels[4][40];
    char entries[2][40];
    uint8_t colors[2];
    int32_t cursor;
};

// The result screen's cursor: "NEXT ROUND" or "EXIT".
enum ResultEntry : int32_t { RESULT_NEXT_ROUND = 0, RESULT_EXIT = 1 };
