// Networked matches in one process: several machines' engines time-share the
// game's one set of engine objects, and a simulated network with per-link
// latency, jitter, loss, duplication and reordering carries their messages.
// Everything is decided by the runner's seed through a generator of its own,
// so a failing run repeats exactly.
#pragma once
#include <string>

#include "tools/sim/simoptions.h"

// Reads "--net peers=3,latency=40,jitter=10,loss=5,..." into options->netPlan
// fields; false with a message.
bool ParseNetPlan(const std::string& text, NetPlan* plan, std::string* error);
// Plays options.rounds networked rounds; returns the exit status (0 when
// every round agreed on every machine and nothing desynchronised unless
// the plan asked for it).
int RunNetMatch(const SimOptions& options);
