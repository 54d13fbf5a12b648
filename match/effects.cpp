// Effect containers of the round.
#include "match/effects.h"

CMeteorite::CMeteorite() : count(200), intervalSeconds(60), lastWaveSecond(0), enable(0)
{
    list.SetRecordSize(sizeof(MeteoriteRecord));
}
