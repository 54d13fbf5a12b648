// Playing a replay back on the round object, on screen or headless, and
// what the playback found.
#pragma once
#include <cstddef>
#include <cstdint>

#include "replay/replay.h"

enum ReplayVerdict {
    REPLAY_REPRODUCED,  // same ticks, presses, last frame and final field
    REPLAY_DIFFERS,     // the round came out otherwise
    REPLAY_STOPPED,     // the viewer stopped it
    REPLAY_NO_STAGE,    // the stage picture is not in this game folder
};

struct ReplayOutcome {
    ReplayVerdict verdict;
    int32_t frame;  // where the playback ended
};

// Plays a replay on the round object and puts everything back as it was
// afterwards (the live match, its result screen's field, the settings, the
// generator). shown: with the countdown and at the recorded speed, as the
// game does; otherwise headless at once, as the match runner does.
ReplayOutcome PlayReplay(const ReplayData& data, bool shown);

// The message for a verdict other than REPLAY_REPRODUCED / REPLAY_STOPPED.
void ReplayVerdictText(const ReplayData& data, const ReplayOutcome& outcome, const char* name, char* text, size_t size);
