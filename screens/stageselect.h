// CStageSelect: the stage and music lists and the selector screen.
#pragma once
#include <cstdint>

#include "core/app.h"
#include "core/datalist.h"

// A start value of a stage entry is a pixel of the field or a heading within
// these limits, or kRandomStart: drawn at random when the round begins.
constexpr uint16_t kRandomStart = 0xFFFF;
constexpr int kStartXMax = 639, kStartYMax = 415, kStartHeadingMax = 359;
inline bool ValidStartValue(uint16_t value, int limit) { return value <= limit || value == kRandomStart; }

struct StageEntry {
    char title[31];
    char file[255];
    uint16_t startX[4];
    uint16_t startY[4];
    uint16_t startHeading[4];
    int32_t scopeLeft, scopeTop, scopeRight, scopeBottom;
    CDataList initialItems[4];
    uint16_t effect;
};

// A record of an initial-item list.
struct InitialItem {
    uint16_t kind;
    int32_t count;
};

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

private:
    bool HandleMenuKeys();
    void MoveCursor(int step);
    void ChangeValue(int step);
};

extern CStageSelect theStageSelect;
