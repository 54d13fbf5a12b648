// The stage a round is played on and what else the round starts from. The
// stage list and the selector make these; the round, its replays and the
// match runner only read them.
#pragma once
#include <cstdint>

#include "core/datalist.h"
#include "core/gamedata.h"

// A start value of a stage entry is a pixel of the field or a heading within
// these limits, or kRandomStart: drawn at random when the round begins.
constexpr uint16_t kRandomStart = 0xFFFF;
constexpr int kStartXMax = kFieldRight, kStartYMax = kFieldHeight - 1, kStartHeadingMax = 359;
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

// What a round is started from besides the settings and the generator: the
// stage list with the selector's choice and the play mode. The match loop
// fills it from the selector; a replay fills it from its recording.
struct RoundStart {
    const StageEntry* stages;
    int32_t stageCount;
    // An entry of the list; any other value draws one at random.
    int32_t selectedStage;
    uint8_t scrollPlay;
    // 1 for the rule rounds were recorded under before replay version 2: a
    // line killed in a frame still read its keys and used its item in that
    // frame. Only old replays play by it; every new round has 0.
    uint8_t oldDeathRule = 0;
    // 1 for the way "MASTER COM" played before replay version 3: it saw the
    // whole field in scroll play too and settled equal choices always the
    // same way. Only old replays play by it.
    uint8_t oldMasterRule = 0;
    // The generator's state the round starts from, before a random stage is
    // drawn (what a replay and an online round start record). "MASTER COM"
    // settles equal choices by a hash of it, so rounds differ without the
    // generator being drawn from.
    uint32_t seed = 0;
    // 1 for the way "MASTER COM" counted ground before replay version 4: on
    // the stage that sprinkles dots, a cell with any dot in it was shut.
    // Only old replays play by it.
    uint8_t oldGroundRule = 0;
};
