// CMeteorite: waves of meteorites on the round's seconds clock. A wave comes
// in from one side, its meteorites spread over some 640 pixels beyond the
// edge so that they arrive one after another; each is one pixel of index 255
// in the locked field, clearing its old pixel as it moves.
#include <algorithm>

#include "match/effects_area.h"
#include "match/round.h"

using namespace effects;

namespace {

// The settings file may hold anything; the options menu never goes beyond these.
constexpr int32_t kLargestWave = 9000;
constexpr float kSpeedUnit = 0.025f;  // nearest float to 1/40: 0.75 .. 1.75 pixels per frame

enum : int { SIDE_BELOW = 0, SIDE_ABOVE = 1, SIDE_RIGHT = 2, SIDE_LEFT = 3 };

// A new meteorite somewhere beyond the wave's side, heading into the area.
void Place(MeteoriteRecord& r, int side) {
    const float v = float(theApp.RandRange(30, 70)) * kSpeedUnit;
    switch (side) {
    case SIDE_BELOW:
        r.x = float(theApp.RandRange(kInteriorLeft, kInteriorRight));
        r.y = float(theApp.RandRange(446, 1086));
        r.vy = -v;
        break;
    case SIDE_ABOVE:
        r.x = float(theApp.RandRange(kInteriorLeft, kInteriorRight));
        r.y = float(theApp.RandRange(-639, 1));
        r.vy = v;
        break;
    case SIDE_RIGHT:
        r.x = float(theApp.RandRange(654, 1294));
        r.y = float(theApp.RandRange(kInteriorTop, kInteriorBottom));
        r.vx = -v;
        break;
    default:
        r.x = float(theApp.RandRange(-655, -15));
        r.y = float(theApp.RandRange(kInteriorTop, kInteriorBottom));
        r.vx = v;
        break;
    }
}

}  // namespace

CMeteorite::CMeteorite() : count(200), intervalSeconds(60), lastWaveSecond(0), enable(0) {
    list.SetRecordSize(sizeof(MeteoriteRecord));
}

CMeteorite::~CMeteorite() { list.Clear(); }

void CMeteorite::Begin() {
    lastWaveSecond = 0;
    list.Clear();
}

// The wave rule divides by the period, so a period below 1 from the settings
// file counts as 1. The stored setting is left as it was read.
int32_t CMeteorite::PeriodSeconds() const { return intervalSeconds < 1 ? 1 : intervalSeconds; }

// A wave size far beyond the menu's range would ask for billions of records;
// it is limited here, and a size of 0 or less makes an empty wave.
int32_t CMeteorite::WaveSize() const { return std::clamp(count, int32_t(0), kLargestWave); }

void CMeteorite::StartWave() {
    const int side = theApp.RandUpTo(3);
    const int32_t size = WaveSize();
    for (int32_t n = 0; n < size; n++) Place(*CDataList::Record<MeteoriteRecord>(list.Add()), side);
}

void CMeteorite::Update(uint8_t* pixels, int pitch) {
    if (!enable || !pixels) return;
    const int32_t s = theRound.state.roundSeconds;
    if (s % PeriodSeconds() == 0 && s != lastWaveSecond) {
        lastWaveSecond = s;
        StartWave();
    }
    // A meteorite still on its way in stays however far out it is; one that
    // has been inside goes as soon as it is out again.
    for (DataNode* node = list.First(); node;) {
        DataNode* const next = node->next;
        MeteoriteRecord& r = *CDataList::Record<MeteoriteRecord>(node);
        int px = CApp::FloatToInt(r.x), py = CApp::FloatToInt(r.y);
        if (InsideArea(px, py)) {
            FieldPixel(pixels, pitch, px, py) = kEmptyIndex;
        } else if (r.entered) {
            list.Remove(node);
            node = next;
            continue;
        }
        r.x += r.vx;
        r.y += r.vy;
        px = CApp::FloatToInt(r.x);
        py = CApp::FloatToInt(r.y);
        if (InsideArea(px, py)) {
            FieldPixel(pixels, pitch, px, py) = kOutlineIndex;
            r.entered = 1;
        }
        node = next;
    }
}

void CMeteorite::MirrorLR() { MirrorPointsLR<MeteoriteRecord>(list); }
void CMeteorite::MirrorUD() { MirrorPointsUD<MeteoriteRecord>(list); }

void CMeteorite::Exchange(CMeteorite& other) {
    list.Swap(other.list);
    std::swap(lastWaveSecond, other.lastWaveSecond);
}
