// CPauseMenu: the "STOP" menu over the frozen round.
#pragma once
#include <cstdint>

#include "core/app.h"

class CPauseMenu {
public:
    CPauseMenu();
    void Run();
    void Begin();
    void End();
    void Draw();
    void DrawCursor();
    bool HandleKeys();
    void AdjustWait(int step);

    SurfaceId banner;
    char entries[5][40];
    uint8_t colors[5];
    int32_t cursor;
    // Four rows in local play; online a fifth (see OnlinePauseRow).
    int32_t rows;
    // The WAIT the WAIT line shows (online, a joining machine shows the host's).
    int32_t shownWait;
};

// The pause menu's entries, which are also its answers.
enum PauseEntry : int32_t {
    PAUSE_CONTINUE = 0,
    PAUSE_NEXT_ROUND = 1,
    PAUSE_WAIT = 2,
    PAUSE_EXIT = 3,
    PAUSE_ONLINE = 4
};
