// CTitle: the title screen and its main menu.
#pragma once
#include <cstdint>

#include "core/app.h"

constexpr int kTitleLines = 7;

class CTitle {
public:
    CTitle();

    [[noreturn]] void Run();
    void BuildMenu();
    void ReleaseLogo();
    void HandleMenuKeys();
    bool CanStart() const;
    void RunMatch();
    void FadeIn();
    void Intro();
    void LightSweep(int sourceX, SurfaceId light, SurfaceId work);
    void Draw();
    void DrawCursor();
    void FadeOut();
    void CyclePlayerType(int player, int step);

    SurfaceId logoSurface;
    char lines[kTitleLines][100];
    uint8_t visible[kTitleLines];
    uint8_t colors[kTitleLines];
    int32_t cursor;
    // Frames left to show why START was refused (fewer than two players).
    int32_t refusalFrames;
};

extern CTitle theTitle;
