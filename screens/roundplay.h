// Playing a round: each frame's input from the one source that plays it,
// the frame, its recording, its pace; and a round from its start to its
// result screen, as every match plays it.
#pragma once
#include <cstdint>

#include "match/round.h"

// The presses of seat `seat`'s keys and of its pad since they were last
// taken: each press counts once, a held key or button no more.
uint8_t TakeSeatKeys(int seat);

// The input of frame `frame` (the frame counter has moved on to it), filled
// once from exactly one source: a replay being watched, the online session,
// or this machine's keys, pause menu and clock.
void TakeFrameInput(int32_t frame, FrameInput* input);

// One frame: begun, its input taken, run, kept by the recorder (or checked
// against the replay it plays), and paced. Returns what CRound::Frame does.
int PlayFrame();

// A match begins: the standings back to zero, and a replay that cannot be
// written is said again.
void BeginMatch();

// A round begins as every player of it begins it: set up from the start,
// recorded, and shown through the countdown; headless (the match runner),
// the picture the countdown leaves is made at once.
void StartRound(const RoundStart& start, bool shown);

// A round as a match plays it: started, its frames, and the result screen
// once it is over. Returns ROUND_NEXT or ROUND_EXIT.
int PlayRound(const RoundStart& start);
