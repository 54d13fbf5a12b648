// CParticle: the explosion particles of a death and of "COSMO". Three lists,
// one per kind: 0 flies straight, 1 spirals for its first 99 frames, 2
// accelerates. Each particle is one pixel in its player's particle colour,
// written straight into the locked field; it clears its old pixel as it
// moves, so it cuts gaps into the trails it crosses.
#include "match/effects_area.h"
#include "match/round.h"

using namespace effects;

namespace {

constexpr int32_t kOutsideLife = 10;   // frames a particle may spend outside the area
constexpr int32_t kSpiralTurns = 100;  // frames in which a spiral's angle advances (turns left > 0)
// The speed factors are single-precision: nearest floats to 1/40, 1/120, 1/600.
constexpr float kStraightSpeedUnit = 0.025f;
constexpr float kAccelSpeedUnit = 0.008333334f;
constexpr float kAccelRateUnit = 0.0016666667f;

enum : int { KIND_STRAIGHT = 0, KIND_SPIRAL = 1, KIND_ACCEL = 2, KIND_COUNT = 3 };

// A straight particle flies along heading a at 0.5 .. 2.5 pixels per frame.
void AimStraight(ParticleRecord& r, int a) {
    float s = float(theApp.RandRange(20, 100)) * kStraightSpeedUnit;
    r.vx = s * theApp.cosTable[a];
    r.vy = s * theApp.negSinTable[a];
}

// One frame of one particle kind's motion.
template <int Kind>
void Move(ParticleRecord& r) {
    if constexpr (Kind == KIND_SPIRAL) {
        r.x += theApp.cosTable[r.angle] * r.speed;
        r.y += theApp.negSinTable[r.angle] * r.speed;
        if (--r.turns > 0) r.angle = uint16_t((r.angle + 1) % 360);
    } else {
        r.x += r.vx;
        r.y += r.vy;
        if constexpr (Kind == KIND_ACCEL) {
            r.vx += r.ax;
            r.vy += r.ay;
        }
    }
}

// Clears, moves and redraws one kind's particles; life counts only the
// frames spent outside the area and is never given back.
template <int Kind>
void UpdateKind(CDataList& list, uint8_t* pixels, int pitch) {
    for (DataNode* node = list.First(); node;) {
        DataNode* const next = node->next;
        ParticleRecord& r = *CDataList::Record<ParticleRecord>(node);
        int px = CApp::FloatToInt(r.x), py = CApp::FloatToInt(r.y);
        if (InsideArea(px, py)) {
            FieldPixel(pixels, pitch, px, py) = kEmptyIndex;
        } else if (--r.life < 0) {
            list.Remove(node);
            node = next;
            continue;
        }
        Move<Kind>(r);
        px = CApp::FloatToInt(r.x);
        py = CApp::FloatToInt(r.y);
        if (InsideArea(px, py)) FieldPixel(pixels, pitch, px, py) = r.color;
        node = next;
    }
}

}  // namespace

CParticle::CParticle() {
    for (CDataList& list : lists) list.SetRecordSize(sizeof(ParticleRecord));
}

CParticle::~CParticle() { Clear(); }

void CParticle::Clear() {
    for (CDataList& list : lists) list.Clear();
}

// count particles of one kind at the slot's position, each with its own
// random direction and speed, drawn in the order the kinds need them.
void CParticle::Explode(int kind, int slot, int count) {
    if (kind < KIND_STRAIGHT || kind >= KIND_COUNT || slot < 0 || slot >= kPlayers) return;
    const PlayerSlot& player = theRound.players[slot];
    const uint8_t color = uint8_t(PlayerRampIndex(slot, kRampParticle));
    for (int n = 0; n < count; n++) {
        ParticleRecord& r = *CDataList::Record<ParticleRecord>(lists[kind].Add());
        r.x = player.x;
        r.y = player.y;
        r.color = color;
        r.life = kOutsideLife;
        const int a = theApp.RandUpTo(359);
        if (kind == KIND_STRAIGHT) {
            AimStraight(r, a);
        } else if (kind == KIND_SPIRAL) {
            // The spiral takes a second draw for its angle; a goes unused.
            r.angle = uint16_t(theApp.RandUpTo(359));
            r.turns = kSpiralTurns;
            r.speed = float(theApp.RandRange(20, 100)) * kStraightSpeedUnit;
        } else {
            float s = float(theApp.RandRange(5, 40)) * kAccelSpeedUnit;
            r.vx = s * theApp.cosTable[a];
            r.vy = s * theApp.negSinTable[a];
            float t = float(theApp.RandRange(5, 20)) * kAccelRateUnit;
            r.ax = t * theApp.cosTable[a];
            r.ay = t * theApp.negSinTable[a];
        }
    }
}

// count straight particles starting on a circle of the given radius round
// the slot's position, each flying outward.
void CParticle::Ring(int slot, int count, float radius) {
    if (slot < 0 || slot >= kPlayers) return;
    const PlayerSlot& player = theRound.players[slot];
    const uint8_t color = uint8_t(PlayerRampIndex(slot, kRampParticle));
    for (int n = 0; n < count; n++) {
        ParticleRecord& r = *CDataList::Record<ParticleRecord>(lists[KIND_STRAIGHT].Add());
        const int a = theApp.RandUpTo(359);
        r.x = radius * theApp.cosTable[a] + player.x;
        r.y = radius * theApp.negSinTable[a] + player.y;
        r.color = color;
        r.life = kOutsideLife;
        AimStraight(r, a);
    }
}

void CParticle::Update(uint8_t* pixels, int pitch) {
    if (!pixels) return;
    UpdateKind<KIND_STRAIGHT>(lists[KIND_STRAIGHT], pixels, pitch);
    UpdateKind<KIND_SPIRAL>(lists[KIND_SPIRAL], pixels, pitch);
    UpdateKind<KIND_ACCEL>(lists[KIND_ACCEL], pixels, pitch);
}

// The spiral particles keep turning counter-clockwise after a mirror; only
// their current direction is reflected.
void CParticle::MirrorLR() {
    for (CDataList& list : lists) MirrorPointsLR<ParticleRecord>(list);
    for (DataNode* node = lists[KIND_SPIRAL].First(); node; node = node->next) {
        ParticleRecord& r = *CDataList::Record<ParticleRecord>(node);
        r.angle = uint16_t(r.angle <= 180 ? 180 - r.angle : 540 - r.angle);
    }
    for (DataNode* node = lists[KIND_ACCEL].First(); node; node = node->next)
        CDataList::Record<ParticleRecord>(node)->ax *= -1.0f;
}

void CParticle::MirrorUD() {
    for (CDataList& list : lists) MirrorPointsUD<ParticleRecord>(list);
    for (DataNode* node = lists[KIND_SPIRAL].First(); node; node = node->next) {
        ParticleRecord& r = *CDataList::Record<ParticleRecord>(node);
        r.angle = uint16_t((360 - r.angle) % 360);
    }
    for (DataNode* node = lists[KIND_ACCEL].First(); node; node = node->next)
        CDataList::Record<ParticleRecord>(node)->ay *= -1.0f;
}

void CParticle::Exchange(CParticle& other) {
    for (int k = 0; k < 3; k++) lists[k].Swap(other.lists[k]);
}
