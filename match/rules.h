// The rules of play, each defined once: the numbers that the round, its
// moving objects, the computer players, the items and the screens obey, and
// the movement of a line, which the round runs and the planning computer
// player predicts with the same functions. A rule changed here changes the
// game and every prediction of it alike.
#pragma once
#include <cstdint>

#include "core/app.h"
#include "core/seats.h"
#include "platform/platform.h"

// ---- lines ----
// A line lives on the interior's pixels; a step outside kills it.
constexpr bool InsideInterior(int x, int y) {
    return x >= kInteriorLeft && x <= kInteriorRight && y >= kInteriorTop && y <= kInteriorBottom;
}
constexpr int kTurnDegrees = 30;             // one press of a turn key
constexpr int kGravityHeadingDegrees = 270;  // "GRAVITY" turns a line toward straight down

// ---- stage effects ----
enum StageEffect : uint16_t {
    STAGE_EFFECT_NONE = 0,
    STAGE_EFFECT_DOTS = 1,            // one random dot per frame
    STAGE_EFFECT_CLOSING_BORDER = 2,  // the field shrinks by a pixel a side each second
};
constexpr int kClosingBorderSeconds = 208;  // the border stops closing in this second

// ---- moving objects ----
constexpr float kBallGravityPxPerFrame2 = 0.08f;  // a ball falls faster by this much each frame

// ---- pace ----
// A frame of the round waits WAIT times this many message pumps.
constexpr int kPumpsPerWait = 20;
// How long a frame at this WAIT (already limited to the menu's range) waits.
constexpr int64_t WaitFrameUs(int32_t wait) {
    return int64_t(wait) * kPumpsPerWait * int64_t(plat::kPumpQuantumNs) / 1000;
}

// ---- movement ----
// A heading of any sign and size as the degrees 0..359 it stands for.
inline int NormalHeading(int degrees) {
    if (degrees < 0) degrees += 360 * ((359 - degrees) / 360);
    return degrees % 360;
}

// Gravity's turn in one frame: one degree toward straight down, the shorter
// way round.
inline uint16_t DriftDown(uint16_t heading) {
    if (heading <= 90) return heading == 0 ? 359 : heading - 1;
    if (heading < kGravityHeadingDegrees) return heading + 1;
    if (heading > kGravityHeadingDegrees) return heading - 1;
    return heading;
}

// The phase counter that says when a line of this slowness steps.
inline int StepPhase(int slowness) { return slowness <= kSlowestSlowness ? slowness : kSlowestSlowness; }
inline int StepPeriodFrames(int slowness) { return 1 << StepPhase(slowness); }
inline bool StepsThisFrame(const uint8_t (&phase)[kPhaseCounters], int slowness) {
    return phase[StepPhase(slowness)] == 0;
}

// One step along a heading 0..359, by the direction tables.
inline void StepAlong(float& x, float& y, int heading) {
    x += theApp.cosTable[heading];
    y += theApp.negSinTable[heading];
}

// One frame of a line's movement: while gravity holds it turns the heading,
// then, in a frame in which the line steps, the head moves one step.
inline void MoveOneFrame(float& x, float& y, uint16_t& heading, bool gravity, bool stepFrame) {
    if (gravity) heading = DriftDown(heading);
    if (stepFrame) StepAlong(x, y, heading % 360);
}
