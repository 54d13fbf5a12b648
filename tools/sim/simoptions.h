// The match runner's command line: seats, rounds, seed, stage and the
// settings it changes on top of the game folder's settings file.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "match/round.h"

constexpr int kRandomStage = -1;

// A networked match in the runner (--net): the machines, the links and the
// faults to stage. Latency is one way; a round trip is twice it.
struct NetPlan {
    int peers = 0;  // machines, the host included; 0: no networked match
    int latencyMs = 40;
    int jitterMs = 0;
    int lossPercent = 0;
    int duplicatePercent = 0;
    int reorderPercent = 0;
    int dropMachine = 0;     // a joining machine that goes silent (0: none) ...
    int dropRound = 1;       // ... in this round ...
    int dropSecond = 3;      // ... at this second of it
    bool rejoin = false;     // it joins again after that round
    int perturbRound = 0;    // a joining machine's field is changed in this round (0: never) ...
    int perturbMachine = 1;  // ... on this machine
    int stallMachine = 0;    // a joining machine that stops running and talking (0: none) ...
    int stallRound = 1;      // ... in this round ...
    int stallSecond = 1;     // ... at this second of it ...
    int stallMs = 0;         // ... for this long, and then goes on where it stood
    int handshakeMs = 0;     // the host takes a connection this much later than the joining machine
    bool watch = false;      // one more machine joins as a spectator during round 1
    int verifyEvery = 10;    // replays played back every this many rounds (0: never)
    std::string seats = "local,remote,remote,hard";
};

struct SimOptions {
    int8_t seats[kPlayers] = {PLAYER_HARD, PLAYER_NORMAL, PLAYER_EASY, PLAYER_NON};
    int rounds = 10;
    uint32_t seed = 1;
    int stage = kRandomStage;
    bool scroll = false;
    bool verbose = false;
    bool cycleExplosions = false;     // round r uses explosion type (r - 1) mod 4
    bool memory = false;              // report resident memory after every round
    int64_t maxFrames = 2000000;      // a round still going after this many frames is reported as a fault
    std::string gameDir;              // empty: found next to the program or in the working directory
    std::string items;                // "all", "none", an item key name, or empty to keep the weights
    std::string recordDir;            // write a replay of every round into this folder
    std::vector<std::string> verify;  // replay files to verify instead of playing rounds
    NetPlan net;
    // Settings as "KEY=VALUE" in the settings file's own keys, applied in order.
    std::vector<std::pair<std::string, std::string>> settings;
};

// Reads the command line. False with a message (or the usage text) in error.
bool ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error);

// Stores the chosen settings and item weights into the game's fields.
// False with a message when a key or value is not known.
bool ApplySimSettings(const SimOptions& options, std::string* error);

// The usage text.
const char* SimUsage();
