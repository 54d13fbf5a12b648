// One number for the state of a running match, for comparing two machines
// that play the same round (and a match before and after something that
// must leave it alone, such as showing a replay).
#pragma once
#include <cstdint>

// The generator, the round counter, the round's numbers, every slot with its
// held items, the playfield's pixels, the items lying on the field and every
// record of the effect containers. What belongs to this machine alone (the
// surfaces, the one-second clock's mark, the settings) is left out.
uint32_t MatchDigest();
