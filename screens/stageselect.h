// CStageSelect: the stage and music lists and the selector screen.
#pragma once
#include <cstdint>

#include "core/app.h"
#include "core/datalist.h"
#include "match/stage.h"

struct BgmEntry {
    char title[31];
    char file[255];
};

// The selector's cursor after the screen, which is also its result.
enum SelectorResult : int32_t { SELECT_NORMAL_GAME = 0, SELECT_SCROLL_GAME = 1, SELECT_EXIT = 6 };

class CStageSelect {
public:
    CStageSelect();
    ~CStageSelect();

    void LoadStageList();
    void LoadBgmList();
    // The screen; returns the cursor, which is also the selector result.
    int Run();

    void Begin();
    void End();
    void Draw();
    void DrawCursor();
    bool HandleKeys();
    void ShowStage();
    void ShowBgm(bool keep);
    void ChangeStage(int step);
    void ChangeBgm(int step);
    void PlayBgm(int index);
    void FollowHost(int32_t hostCursor, int32_t stage, int32_t bgm);

    uint8_t hidden;
    SurfaceId preview;
    char lines[7][100];
    uint8_t colors[7];
    StageEntry* stages;
    BgmEntry* bgms;
    int32_t stageCount;
    int32_t bgmCount;
    int32_t selectedStage;
    int32_t selectedBgm;
    int32_t cursor;
    // The piece PlayBgm started last (-1: none or silence); an online round
    // start names it for every machine.
    int32_t playingBgm = -1;

private:
    bool HandleMenuKeys();
    void MoveCursor(int step);
    void ChangeValue(int step);
};

extern CStageSelect theStageSelect;

// The round the match loop starts next: the selector's stage and play mode,
// starting from the generator's state now (the round is set up at once).
RoundStart ChosenRoundStart();
