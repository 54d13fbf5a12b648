// The seats of a round and the few numbers of a round that the layers below
// the round know too: the network protocol carries player types, a seat's
// presses, the phase counters and WAIT, and checks them against these.
#pragma once
#include <cstdint>

constexpr int kPlayers = 4;

enum PlayerType : uint8_t {
    PLAYER_MAN = 0,
    PLAYER_NON = 1,
    PLAYER_EASY = 2,
    PLAYER_NORMAL = 3,
    PLAYER_HARD = 4,
    PLAYER_MASTER = 5,
};
constexpr int kPlayerTypes = 6;

// A seat's presses in one frame, as a bit set.
enum : uint8_t { SEAT_LEFT = 1, SEAT_RIGHT = 2, SEAT_ITEM = 4 };

// Slowness 0..4: a line steps once every 2^slowness frames, when the phase
// counter of its slowness stands at 0.
constexpr int kSlowestSlowness = 4;
// Counter i cycles 0..2^i - 1, advanced once per frame.
constexpr int kPhaseCounters = kSlowestSlowness + 1;

// The largest WAIT (the pause menu's range ends here).
constexpr int kMaxWait = 9999;
