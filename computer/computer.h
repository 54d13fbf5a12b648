// The computer players: "EASY COM", "NORMAL COM", "HARD COM" and "MASTER
// COM". Each looks at its view of the round once per frame in which its
// slot acts, and returns what its seat presses; none of them writes the
// round or keeps anything between frames.
#pragma once
#include "match/computerview.h"

// The presses of a computer player of this type (a PlayerType); other types
// press nothing.
SeatPresses ThinkComputer(int type, const ComputerView& view);

// Before a round in which these slots play: the tables of the planning
// player are written once, before its first frame, when one of them plays.
void PrepareComputers(const PlayerSlot (&players)[kPlayers]);

// "MASTER COM", the planning player (its own file).
SeatPresses ThinkMasterCom(const ComputerView& view);
