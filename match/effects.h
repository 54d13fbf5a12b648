// Effect containers of the round: lists of records with a per-frame update
// that draws into the playfield. Particles, meteorites and mould are single
// pixels written into the locked field; missiles and balls are small keyed
// sprites copied onto the field surface. Exchange swaps a container's
// records, surfaces and per-round numbers with another's (the round sets a
// live round aside this way); settings stay where they are.
#pragma once
#include <cstdint>

#include "core/app.h"
#include "core/datalist.h"
#include "core/record.h"

// One explosion particle; kind 0 flies straight, 1 spirals, 2 accelerates.
struct ParticleRecord {
    float x, y;
    float vx, vy;
    uint8_t color;
    int32_t life;    // frames it may still spend outside the area
    uint16_t angle;  // kind 1
    int32_t turns;   // kind 1
    float speed;     // kind 1
    float ax, ay;    // kind 2

    template <class F>
    constexpr void Fields(F&& f) const {
        f(x), f(y), f(vx), f(vy), f(color), f(life), f(angle), f(turns), f(speed), f(ax), f(ay);
    }
};
static_assert(ListsEveryField<ParticleRecord>());

class CParticle {
public:
    CParticle();
    ~CParticle();
    void Exchange(CParticle& other);
    void Explode(int kind, int slot, int count);
    void Ring(int slot, int count, float radius);
    void Update(uint8_t* pixels, int pitch);
    void Clear();
    void MirrorLR();
    void MirrorUD();

    CDataList lists[3];
};

// One falling meteorite.
struct MeteoriteRecord {
    float x, y;
    float vx, vy;
    uint8_t entered;  // 1 once it has been drawn inside the playable area

    template <class F>
    constexpr void Fields(F&& f) const {
        f(x), f(y), f(vx), f(vy), f(entered);
    }
};
static_assert(ListsEveryField<MeteoriteRecord>());

// Meteorite waves. The three settings live here.
class CMeteorite {
public:
    CMeteorite();
    ~CMeteorite();
    void Exchange(CMeteorite& other);
    void Begin();
    void Update(uint8_t* pixels, int pitch);
    void MirrorLR();
    void MirrorUD();

    // The settings as used: period at least 1, wave size within 0..9000.
    int32_t PeriodSeconds() const;
    int32_t WaveSize() const;

    CDataList list;
    int32_t count;            // METEORITE_VALUE: meteorites per wave
    int32_t intervalSeconds;  // METEORITE_TIME: seconds between waves
    int32_t lastWaveSecond;
    uint8_t enable;  // METEORITE_ENABLE

private:
    void StartWave();
};

// One mould spot.
struct MoldRecord {
    int32_t x, y;
    int32_t life;

    template <class F>
    constexpr void Fields(F&& f) const {
        f(x), f(y), f(life);
    }
};
static_assert(ListsEveryField<MoldRecord>());

class CMold {
public:
    CMold();
    ~CMold();
    void Exchange(CMold& other);
    void Plant();
    void Update(uint8_t* pixels, int pitch);
    void MirrorLR();
    void MirrorUD();

    CDataList list;
};

// One missile: the top-left corner of its 24x24 disc.
struct MissileRecord {
    float x, y;
    int32_t ix, iy;
    float vx, vy;
    uint8_t owner;

    template <class F>
    constexpr void Fields(F&& f) const {
        f(x), f(y), f(ix), f(iy), f(vx), f(vy), f(owner);
    }
};
static_assert(ListsEveryField<MissileRecord>());

class CMissile {
public:
    CMissile();
    ~CMissile();
    void Exchange(CMissile& other);
    void Begin();
    void End();
    void Launch(int slot);
    void Update(SurfaceId target);
    void MirrorLR();
    void MirrorUD();

    SurfaceId sprites[4];
    SurfaceId eraser;
    CDataList list;

private:
    void ReleaseSprites();
};

// One bouncing ball: the top-left corner of its 24x24 disc.
struct BallRecord {
    float x, y;
    int32_t ix, iy;
    float vx, vy;
    int32_t bounces;

    template <class F>
    constexpr void Fields(F&& f) const {
        f(x), f(y), f(ix), f(iy), f(vx), f(vy), f(bounces);
    }
};
static_assert(ListsEveryField<BallRecord>());

class CPingPong {
public:
    CPingPong();
    ~CPingPong();
    void Exchange(CPingPong& other);
    void Begin();
    void End();
    void Drop();
    void Update(SurfaceId target);
    void MirrorLR();
    void MirrorUD();

    SurfaceId sprite;
    SurfaceId eraser;
    CDataList list;

private:
    void ReleaseSprites();
};
