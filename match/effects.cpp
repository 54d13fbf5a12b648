// Effect containers of the round. The lists, their lifetimes and the calls of
// the round loop are in place; the records' motion and drawing come with the
// explosions, meteorites and item effects.
#include "match/effects.h"

#include "graphics/directdraw.h"

CParticle::CParticle() {
    for (CDataList& list : lists) list.SetRecordSize(sizeof(ParticleRecord));
}
CParticle::~CParticle() { Clear(); }
void CParticle::Explode(int, int, int) {}
void CParticle::Ring(int, int, float) {}
void CParticle::Update(uint8_t*, int) {}
void CParticle::Clear() {
    for (CDataList& list : lists) list.Clear();
}
void CParticle::MirrorLR() {}
void CParticle::MirrorUD() {}

CMeteorite::CMeteorite() : count(200), intervalSeconds(60), lastWaveSecond(0), enable(0) {
    list.SetRecordSize(sizeof(MeteoriteRecord));
}
CMeteorite::~CMeteorite() { list.Clear(); }
void CMeteorite::Begin() {
    lastWaveSecond = 0;
    list.Clear();
}
void CMeteorite::Update(uint8_t*, int) {}
void CMeteorite::MirrorLR() {}
void CMeteorite::MirrorUD() {}

CMold::CMold() { list.SetRecordSize(sizeof(MoldRecord)); }
CMold::~CMold() { list.Clear(); }
void CMold::Plant() {}
void CMold::Update(uint8_t*, int) {}
void CMold::MirrorLR() {}
void CMold::MirrorUD() {}

CMissile::CMissile() : sprites{}, eraser(0) { list.SetRecordSize(sizeof(MissileRecord)); }
CMissile::~CMissile() { list.Clear(); }
void CMissile::Begin() { list.Clear(); }
void CMissile::End() {
    for (SurfaceId& s : sprites) theDirectDraw.ReleaseSurface(s);
    theDirectDraw.ReleaseSurface(eraser);
    list.Clear();
}
void CMissile::Launch(int) {}
void CMissile::Update(SurfaceId) {}
void CMissile::MirrorLR() {}
void CMissile::MirrorUD() {}

CPingPong::CPingPong() : sprite(0), eraser(0) { list.SetRecordSize(sizeof(BallRecord)); }
CPingPong::~CPingPong() { list.Clear(); }
void CPingPong::Begin() { list.Clear(); }
void CPingPong::End() {
    theDirectDraw.ReleaseSurface(sprite);
    theDirectDraw.ReleaseSurface(eraser);
    list.Clear();
}
void CPingPong::Drop() {}
void CPingPong::Update(SurfaceId) {}
void CPingPong::MirrorLR() {}
void CPingPong::MirrorUD() {}
