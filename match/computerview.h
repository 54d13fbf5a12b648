// What a computer player sees of the round in its thinking step: every part
// read only. A computer player decides from this view alone, drawing its
// random numbers from the app's generator, and returns the presses its seat
// makes; the round applies them as it applies a player's keys.
#pragma once
#include <cstdint>

#include "core/datalist.h"
#include "items/itemmanager.h"
#include "match/round.h"

struct ComputerView {
    int seat;
    const PlayerSlot& self;                 // the seat's own slot
    const PlayerSlot (&players)[kPlayers];  // every slot; the seat's own is `self` in a round
    const CDataList& heldItems;             // the seat's held items, the most recent last
    const RoundState& state;                // phase counters, frame, seconds, stage effect, scroll play
    const RoundStart& start;                // the round's seed and the rules of old replays
    uint16_t roundCounter;
    const uint8_t* pixels;  // the field the lines are tested on
    int pitch;
    const CItemManager& items;  // the items lying on the field
    const CDataList& meteorites;
    const CDataList& missiles;
    const CDataList& balls;
    const CDataList& moulds;
};
