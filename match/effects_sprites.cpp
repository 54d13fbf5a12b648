// The sprite effects: CMissile and CPingPong move 24x24 discs over the
// round's field surface after it is unlocked. Each frame a record first
// copies its eraser (a black disc on key 255) where it was drawn, clearing
// exactly the disc's pixels and whatever lay under them, then moves and copies
// its sprite at the new corner. Every copy is clipped to the playable area.
#include "graphics/directdraw.h"
#include "match/effects_area.h"
#include "match/round.h"
#include "match/rules.h"
#include "sound/directsound.h"

using namespace effects;

namespace {

constexpr uint8_t kEraserKey = 255;
constexpr uint32_t kBlackRef = 0x000000;
constexpr uint32_t kPureRedRef = 0x0000FF;  // 0x00BBGGRR

// A missile's disc centre starts 14 pixels ahead of the head; it flies at 3
// pixels per frame.
constexpr float kMissileLeadPx = 14.0f;
constexpr float kMissileSpeedPx = 3.0f;

// A missile goes once its corner is beyond these bounds (the screen's width
// and the field's rows 16..431 with a pixel to spare): its sprite is then
// wholly off the field.
bool MissileGone(const MissileRecord& r) {
    return r.ix + kSpriteSize < 0 || r.ix > kScreenWidth || r.iy + kSpriteSize < kFieldTop ||
           r.iy > kFieldTop + kFieldHeight;
}

// Balls bounce between corner columns 1 and 614 (sprite columns 1..638) and
// off the floor at corner row 406 (sprite bottom at row 430); after the
// fourth floor bounce a ball falls out and goes once its corner passes 430.
constexpr float kBallLeftX = 1.0f, kBallRightX = 614.0f;
constexpr float kBallFloorY = 406.0f, kBallGoneY = 430.0f;
constexpr float kBallRebound = -0.9f;
constexpr int32_t kBallFloorBounces = 4;
constexpr float kBallStartY = -7.0f;

// One frame of a ball's flight: gravity, the side walls, and the floor until
// the fourth bounce. False when the ball has fallen out.
bool FlyBall(BallRecord& r) {
    r.x += r.vx;
    r.y += r.vy;
    r.vy += kBallGravityPxPerFrame2;
    if (r.x < kBallLeftX) {
        r.vx = -r.vx;
        r.x = kBallLeftX;
        theDirectSound.Play(SE_PPONG, 0, 0);
    }
    if (r.x > kBallRightX) {
        r.vx = -r.vx;
        r.x = kBallRightX;
        theDirectSound.Play(SE_PPONG, 0, 0);
    }
    if (r.bounces >= kBallFloorBounces) return !(r.y > kBallGoneY);
    if (r.y > kBallFloorY) {
        r.vy *= kBallRebound;
        r.bounces++;
        r.y = kBallFloorY;
        theDirectSound.Play(SE_PPONG, 0, 0);
    }
    return true;
}

}  // namespace

namespace effects {

SurfaceId MakeDiscSprite(uint32_t colorRef) {
    SurfaceId id = theDirectDraw.CreateSurface(kSpriteSize, kSpriteSize, false);
    theDirectDraw.DrawDisc(id, kSpriteRadius, kSpriteRadius, kSpriteRadius, colorRef, nullptr);
    return id;
}

SurfaceId MakeEraser() {
    SurfaceId id = theDirectDraw.CreateSurface(kSpriteSize, kSpriteSize, false);
    theDirectDraw.SetColorKey(id, kEraserKey);
    theDirectDraw.FillRect(id, 0, 0, kSpriteSize, kSpriteSize, kEraserKey);
    theDirectDraw.DrawDisc(id, kSpriteRadius, kSpriteRadius, kSpriteRadius, kBlackRef, nullptr);
    return id;
}

void ClipToArea() {
    theDirectDraw.SetDestClip(kInteriorLeft, kInteriorTop, kInteriorRight - kInteriorLeft + 1,
                              kInteriorBottom - kInteriorTop + 1);
}

void DrawSprite(SurfaceId target, int x, int y, SurfaceId sprite) {
    theDirectDraw.Draw(target, x, y, kSpriteSize, kSpriteSize, sprite, 0, 0, true, CLIP_DEST);
}

}  // namespace effects

// ---- CMissile ---------------------------------------------------------------------

CMissile::CMissile() : sprites{}, eraser(0) { list.SetRecordSize(sizeof(MissileRecord)); }
CMissile::~CMissile() { list.Clear(); }

// The sprites are made once per round; a second Begin without End first gives
// the old ones back.
void CMissile::Begin() {
    ReleaseSprites();
    for (int slot = 0; slot < kPlayers; slot++)
        sprites[slot] = MakeDiscSprite(theDirectDraw.PaletteColor(PlayerRampIndex(slot, kRampMissile)));
    eraser = MakeEraser();
    list.Clear();
}

void CMissile::End() {
    ReleaseSprites();
    list.Clear();
}

void CMissile::ReleaseSprites() {
    for (SurfaceId& s : sprites) theDirectDraw.ReleaseSurface(s);
    theDirectDraw.ReleaseSurface(eraser);
}

void CMissile::Launch(int slot) {
    if (slot < 0 || slot >= kPlayers) return;
    const PlayerSlot& player = theRound.players[slot];
    const int h = player.heading % 360;
    MissileRecord& r = *CDataList::Record<MissileRecord>(list.Add());
    r.x = kMissileLeadPx * theApp.cosTable[h] + player.x - float(kSpriteRadius);
    r.y = kMissileLeadPx * theApp.negSinTable[h] + player.y - float(kSpriteRadius);
    r.ix = CApp::FloatToInt(r.x);
    r.iy = CApp::FloatToInt(r.y);
    r.vx = kMissileSpeedPx * theApp.cosTable[h];
    r.vy = kMissileSpeedPx * theApp.negSinTable[h];
    r.owner = uint8_t(slot);
}

void CMissile::Update(SurfaceId target) {
    ClipToArea();
    for (DataNode* node = list.First(); node;) {
        DataNode* next = node->next;
        MissileRecord& r = *CDataList::Record<MissileRecord>(node);
        if (MissileGone(r)) {
            list.Remove(node);
            node = next;
            continue;
        }
        DrawSprite(target, r.ix, r.iy, eraser);
        r.x += r.vx;
        r.y += r.vy;
        r.ix = CApp::FloatToInt(r.x);
        r.iy = CApp::FloatToInt(r.y);
        DrawSprite(target, r.ix, r.iy, sprites[r.owner % kPlayers]);
        node = next;
    }
}

void CMissile::MirrorLR() { MirrorSpritesLR<MissileRecord>(list); }
void CMissile::MirrorUD() { MirrorSpritesUD<MissileRecord>(list); }

// ---- CPingPong --------------------------------------------------------------------

CPingPong::CPingPong() : sprite(0), eraser(0) { list.SetRecordSize(sizeof(BallRecord)); }
CPingPong::~CPingPong() { list.Clear(); }

void CPingPong::Begin() {
    ReleaseSprites();
    sprite = MakeDiscSprite(kPureRedRef);
    eraser = MakeEraser();
    list.Clear();
}

void CPingPong::End() {
    ReleaseSprites();
    list.Clear();
}

void CPingPong::ReleaseSprites() {
    theDirectDraw.ReleaseSurface(sprite);
    theDirectDraw.ReleaseSurface(eraser);
}

void CPingPong::Drop() {
    BallRecord& r = *CDataList::Record<BallRecord>(list.Add());
    r.bounces = 0;
    r.x = float(theApp.RandRange(int(kBallLeftX), int(kBallRightX)));
    r.y = kBallStartY;
    r.vx = float(theApp.RandRange(-5, 5));
    r.vy = 0.0f;
    r.ix = CApp::FloatToInt(r.x);
    r.iy = CApp::FloatToInt(r.y);
}

void CPingPong::Update(SurfaceId target) {
    ClipToArea();
    for (DataNode* node = list.First(); node;) {
        DataNode* next = node->next;
        BallRecord& r = *CDataList::Record<BallRecord>(node);
        DrawSprite(target, r.ix, r.iy, eraser);
        if (!FlyBall(r)) {
            list.Remove(node);
            node = next;
            continue;
        }
        r.ix = CApp::FloatToInt(r.x);
        r.iy = CApp::FloatToInt(r.y);
        DrawSprite(target, r.ix, r.iy, sprite);
        node = next;
    }
}

void CPingPong::MirrorLR() { MirrorSpritesLR<BallRecord>(list); }
void CPingPong::MirrorUD() { MirrorSpritesUD<BallRecord>(list); }

void CMissile::Exchange(CMissile& other) {
    list.Swap(other.list);
    std::swap(sprites, other.sprites);
    std::swap(eraser, other.eraser);
}

void CPingPong::Exchange(CPingPong& other) {
    list.Swap(other.list);
    std::swap(sprite, other.sprite);
    std::swap(eraser, other.eraser);
}
