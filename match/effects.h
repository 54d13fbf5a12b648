// Effect containers of the round: lists of records with a per-frame update
// that draws into the playfield.
#pragma once
#include <cstdint>

#include "app/datalist.h"

// One falling meteorite.
struct MeteoriteRecord {
    float x, y;
    float vx, vy;
    uint8_t entered;     // 1 once it has been drawn inside the playable area
};

// Meteorite waves. The three settings live here.
class CMeteorite {
public:
    CMeteorite();

    CDataList list;
    int32_t count;            // METEORITE_VALUE: meteorites per wave
    int32_t intervalSeconds;  // METEORITE_TIME: seconds between waves (divides, keep >= 1)
    int32_t lastWaveSecond;
    uint8_t enable;           // METEORITE_ENABLE
};
