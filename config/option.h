// COption: the settings file and the options menu.
#pragma once
#include <cstdint>

#include "core/app.h"

// The 39 rows of the original menu, the added settings and item help, then the key
// screen, the scaling and the safe starts.
constexpr int kOptionRows = 47;

class COption {
public:
    COption();

    bool Load();
    bool LoadLegacy();
    void Save();
    void Run();
    void ChangeValue(int row, int step);
    bool HandleKeys();
    void Draw();

    char labels[kOptionRows][40];
    char valueTexts[kOptionRows][20];
    uint8_t colors[kOptionRows];
    int32_t cursorRow;
    int32_t topRow;
    SurfaceId titleSurface;
    int32_t frameCount;
};

extern COption theOption;
