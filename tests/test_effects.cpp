// The effect containers on a real round's field: particles, meteorite waves,
// mould, missiles and ping-pong balls, their mirrors, and the explosions of a
// line's death. Rounds are set up headless on the test clock on an empty stage.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <tuple>
#include <vector>

#include "graphics/dibsection.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "tests/testutil.h"

namespace {

constexpr int kLeft = 1, kRight = 638, kTop = 17, kBottom = 430;

bool Inside(int x, int y) { return x >= kLeft && x <= kRight && y >= kTop && y <= kBottom; }

class FieldEffectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        testutil::StartRoundsHeadless(1500);
        theItemManager.itemMax = 0;
        for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_NON;
        m_meteorite = {theRound.meteorite.count, theRound.meteorite.intervalSeconds, theRound.meteorite.enable};
        m_explosionType = theRound.explosionType;
        StartRound();
    }
    void TearDown() override {
        if (theRound.local.playfieldSurface) theRound.Teardown();
        theRound.meteorite.count = m_meteorite.count;
        theRound.meteorite.intervalSeconds = m_meteorite.period;
        theRound.meteorite.enable = m_meteorite.enable;
        theRound.explosionType = m_explosionType;
        theItemManager.itemMax = 1;
        for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_MAN;
    }

    // Two human lines on open ground, set up without the countdown's waits.
    void StartRound() {
        testutil::WriteStageList(
            m_dir.path(), "FILE=EMPTY.PNG\nTITLE=EMPTY\n1P=100,100,0\n2P=300,200,90\n3P=-1,-1,-1\n4P=-1,-1,-1\n");
        testutil::ScopedCwd cwd(m_dir.path());
        theStageSelect.cursor = SELECT_NORMAL_GAME;
        theRound.players[0].type = PLAYER_MAN;
        theRound.players[1].type = PLAYER_MAN;
        theRound.Setup(ChosenRoundStart());
        theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
        theRound.local.lastSecondMs = plat::TimeMs();
    }

    // The pixel-level effects of one frame on the locked field.
    void PixelFrame() {
        SurfaceDesc field = theDirectDraw.Lock(0);
        theRound.particle.Update(field.pixels, field.pitch);
        theRound.meteorite.Update(field.pixels, field.pitch);
        theRound.mold.Update(field.pixels, field.pitch);
        theDirectDraw.Unlock(0);
    }
    void SpriteFrame() {
        theRound.missile.Update(0);
        theRound.pingPong.Update(0);
    }

    // Seeds the game's generator and a second one that a test draws from to
    // predict the game's draws.
    CApp& SeedBoth(uint32_t seed) {
        theApp.Seed(seed);
        m_expected.Seed(seed);
        return m_expected;
    }

    static uint8_t Field(int x, int y) { return testutil::PixelAt(0, x, y); }
    static uint8_t* Pixels() { return theDirectDraw.GetSurface(0)->pixels; }
    static void SetField(int x, int y, uint8_t v) { Pixels()[y * 640 + x] = v; }
    static int CountField(uint8_t v) {
        int n = 0;
        for (int y = kTop; y <= kBottom; y++)
            for (int x = kLeft; x <= kRight; x++) n += Field(x, y) == v ? 1 : 0;
        return n;
    }
    // Everything of the visible surface outside the playable area.
    static std::vector<uint8_t> OutsideArea() {
        std::vector<uint8_t> out;
        for (int y = 0; y < 480; y++)
            for (int x = 0; x < 640; x++)
                if (!Inside(x, y)) out.push_back(Field(x, y));
        return out;
    }
    static ParticleRecord& AddParticle(int kind, float x, float y, float vx, float vy) {
        ParticleRecord& r = *CDataList::Record<ParticleRecord>(theRound.particle.lists[kind].Add());
        r.x = x;
        r.y = y;
        r.vx = vx;
        r.vy = vy;
        r.color = 27;
        r.life = 10;
        return r;
    }
    static MeteoriteRecord& AddMeteorite(float x, float y, float vx, float vy) {
        MeteoriteRecord& r = *CDataList::Record<MeteoriteRecord>(theRound.meteorite.list.Add());
        r.x = x;
        r.y = y;
        r.vx = vx;
        r.vy = vy;
        return r;
    }

    testutil::TempDir m_dir;
    CApp m_expected;
    struct {
        int32_t count, period;
        uint8_t enable;
    } m_meteorite{};
    int8_t m_explosionType = 0;
};

template <class T>
std::vector<T> Records(const CDataList& list) {
    std::vector<T> out;
    for (DataNode* n = list.First(); n; n = n->next) out.push_back(*CDataList::Record<T>(n));
    return out;
}

// A record's fields in order, for comparing records; positions come first.
std::vector<double> Fields(const ParticleRecord& r) {
    return {r.x,     r.y,  r.vx, r.vy, double(r.color), double(r.life), double(r.angle), double(r.turns),
            r.speed, r.ax, r.ay};
}
std::vector<double> Fields(const MeteoriteRecord& r) { return {r.x, r.y, r.vx, r.vy, double(r.entered)}; }
std::vector<double> Fields(const MoldRecord& r) { return {double(r.x), double(r.y), double(r.life)}; }
std::vector<double> Fields(const MissileRecord& r) {
    return {r.x, r.y, double(r.ix), double(r.iy), r.vx, r.vy, double(r.owner)};
}
std::vector<double> Fields(const BallRecord& r) {
    return {r.x, r.y, double(r.ix), double(r.iy), r.vx, r.vy, double(r.bounces)};
}

// Two lists of records agree: the same pixel positions, and every field the
// same within what single precision can carry through a reflection.
template <class T>
bool SameRecords(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        const std::vector<double> fa = Fields(a[i]), fb = Fields(b[i]);
        if (int(fa[0]) != int(fb[0]) || int(fa[1]) != int(fb[1])) return false;
        for (size_t k = 0; k < fa.size(); k++)
            if (std::abs(fa[k] - fb[k]) > 1e-3) return false;
    }
    return true;
}

}  // namespace

// A particle's life counts only frames outside: it comes back in with what it
// had left, draws and clears its pixel while inside, and the eleventh frame
// outside removes it.
TEST_F(FieldEffectsTest, ParticleLifeCountsOnlyFramesOutside) {
    ParticleRecord& r = AddParticle(0, 640.5f, 200.5f, -0.5f, 0.0f);
    for (int f = 0; f < 3; f++) PixelFrame();  // 640.5 -> 639.0, three frames outside
    EXPECT_EQ(r.life, 7);
    PixelFrame();  // from column 639 into 638
    EXPECT_EQ(r.life, 6);
    EXPECT_EQ(Field(638, 200), 27);
    EXPECT_EQ(Field(639, 200), 255);            // the outline is never cleared or written
    for (int f = 0; f < 20; f++) PixelFrame();  // ten columns further in, life kept
    EXPECT_EQ(r.life, 6);
    EXPECT_EQ(Field(628, 200), 27);
    EXPECT_EQ(Field(629, 200), 0);  // the old pixels are cleared behind it
    EXPECT_EQ(CountField(27), 1);

    r.vx = 30.0f;  // out again at once
    PixelFrame();
    EXPECT_EQ(CountField(27), 0);
    int framesOutside = 0;
    while (theRound.particle.lists[0].Count() == 1 && framesOutside < 100) {
        PixelFrame();
        framesOutside++;
    }
    EXPECT_EQ(framesOutside, 7);  // 6 left, removed on the 7th frame out
}

// Explode draws in the documented order per kind; a spiral turns one degree
// per frame for 99 frames, then flies straight; an accelerating particle
// speeds up along its direction.
TEST_F(FieldEffectsTest, ExplosionKindsDrawAndMove) {
    PlayerSlot& p = theRound.players[2];
    p.x = 320.5f;
    p.y = 220.5f;
    CApp& expected = SeedBoth(77);
    theRound.particle.Explode(0, 2, 1);
    theRound.particle.Explode(1, 2, 1);
    theRound.particle.Explode(2, 2, 1);
    const float* cosT = theApp.cosTable;
    const float* sinT = theApp.negSinTable;
    const ParticleRecord straight = Records<ParticleRecord>(theRound.particle.lists[0])[0];
    int a = expected.RandUpTo(359);
    float s = float(expected.RandRange(20, 100)) * 0.025f;
    EXPECT_EQ(straight.vx, s * cosT[a]);
    EXPECT_EQ(straight.vy, s * sinT[a]);
    EXPECT_EQ(straight.color, 59);
    EXPECT_EQ(straight.life, 10);
    ParticleRecord& spiral = *CDataList::Record<ParticleRecord>(theRound.particle.lists[1].First());
    expected.RandUpTo(359);
    const int angle0 = expected.RandUpTo(359);
    EXPECT_EQ(spiral.angle, angle0);
    EXPECT_EQ(spiral.turns, 100);
    EXPECT_EQ(spiral.speed, float(expected.RandRange(20, 100)) * 0.025f);
    EXPECT_EQ(spiral.x, 320.5f);
    const ParticleRecord accel = Records<ParticleRecord>(theRound.particle.lists[2])[0];
    a = expected.RandUpTo(359);
    s = float(expected.RandRange(5, 40)) * 0.008333334f;
    const float t = float(expected.RandRange(5, 20)) * 0.0016666667f;
    EXPECT_EQ(accel.vx, s * cosT[a]);
    EXPECT_EQ(accel.ax, t * cosT[a]);
    EXPECT_EQ(accel.ay, t * sinT[a]);
    EXPECT_EQ(theApp.RandState(), expected.RandState());

    // Frame by frame, the spiral moves along its current angle.
    float x = spiral.x, y = spiral.y;
    for (int f = 1; f <= 150; f++) {
        ASSERT_EQ(theRound.particle.lists[1].Count(), 1);
        const int before = spiral.angle;
        PixelFrame();
        x += cosT[before] * spiral.speed;
        y += sinT[before] * spiral.speed;
        ASSERT_EQ(spiral.x, x) << f;
        ASSERT_EQ(spiral.y, y) << f;
        ASSERT_EQ(spiral.angle, (angle0 + std::min(f, 99)) % 360) << f;
        if (f == 20) {
            const ParticleRecord moved = Records<ParticleRecord>(theRound.particle.lists[2])[0];
            EXPECT_NEAR(moved.vx, accel.vx + 20 * accel.ax, 1e-5);
            EXPECT_NEAR(moved.vy, accel.vy + 20 * accel.ay, 1e-5);
        }
    }
    // Each live particle is exactly one pixel of the slot's particle colour.
    int inside = 0;
    for (int kind = 0; kind < 3; kind++)
        for (const ParticleRecord& r : Records<ParticleRecord>(theRound.particle.lists[kind]))
            if (Inside(int(r.x), int(r.y))) {
                inside++;
                EXPECT_EQ(Field(int(r.x), int(r.y)), 59);
            }
    EXPECT_EQ(CountField(59), inside);
}

// Waves come on the first frame of each second that is a positive multiple of
// the period, once, from one side, each meteorite drawn in order; waiting
// meteorites stay however far out they are; disabled, nothing moves.
TEST_F(FieldEffectsTest, MeteoriteWavesOnTheSecondsClock) {
    CMeteorite& m = theRound.meteorite;
    m.enable = 1;
    m.intervalSeconds = 3;
    m.count = 4;
    std::vector<int> waveSeconds;
    for (int s = 0; s <= 10; s++) {
        theRound.state.roundSeconds = s;
        for (int f = 0; f < 3; f++) {
            int before = m.list.Count();
            PixelFrame();
            if (m.list.Count() > before) waveSeconds.push_back(s);
        }
    }
    EXPECT_EQ(waveSeconds, (std::vector<int>{3, 6, 9}));
    EXPECT_EQ(m.list.Count(), 12);  // none has been inside and out again

    // One wave's draws: the side, then per meteorite the speed and the place.
    m.list.Clear();
    theRound.state.roundSeconds = 12;
    CApp& expected = SeedBoth(4242);
    PixelFrame();
    const int side = expected.RandUpTo(3);
    for (const MeteoriteRecord& r : Records<MeteoriteRecord>(m.list)) {
        const float v = float(expected.RandRange(30, 70)) * 0.025f;
        const float before[4][2] = {{0, -v}, {0, v}, {-v, 0}, {v, 0}};
        EXPECT_EQ(r.vx, before[side][0]);
        EXPECT_EQ(r.vy, before[side][1]);
        const int lo[4][2] = {{1, 446}, {1, -639}, {654, 17}, {-655, 17}};
        const int hi[4][2] = {{638, 1086}, {638, 1}, {1294, 430}, {-15, 430}};
        const float x = float(expected.RandRange(lo[side][0], hi[side][0]));
        const float y = float(expected.RandRange(lo[side][1], hi[side][1]));
        EXPECT_EQ(r.x, x + r.vx);  // moved once in the wave's frame
        EXPECT_EQ(r.y, y + r.vy);
    }

    // Far out on its way in: kept; inside: drawn in 255, entered; out again: removed.
    m.list.Clear();
    MeteoriteRecord& far = AddMeteorite(-5000.5f, 300.5f, 1.0f, 0.0f);
    MeteoriteRecord& near = AddMeteorite(-1.5f, 100.5f, 1.0f, 0.0f);
    PixelFrame();
    PixelFrame();
    EXPECT_EQ(near.entered, 0);  // columns -0.5 and 0.5: still outside
    EXPECT_EQ(m.list.Count(), 2);
    PixelFrame();
    EXPECT_EQ(near.entered, 1);
    EXPECT_EQ(Field(1, 100), 255);
    for (int f = 0; f < 640; f++) PixelFrame();
    EXPECT_EQ(m.list.Count(), 1);
    EXPECT_EQ(far.entered, 0);
    EXPECT_EQ(far.x, -5000.5f + 643.0f);
    EXPECT_EQ(CountField(255), 0);
    EXPECT_EQ(Field(639, 100), 255);  // the outline stays

    // Disabled: no wave, no motion, no pixel.
    m.enable = 0;
    m.list.Clear();
    AddMeteorite(100.5f, 100.5f, 1.0f, 0.0f);
    theRound.state.roundSeconds = 15;
    std::vector<uint8_t> field(Pixels(), Pixels() + 640 * 480);
    for (int f = 0; f < 5; f++) PixelFrame();
    EXPECT_EQ(m.list.Count(), 1);
    EXPECT_EQ(Records<MeteoriteRecord>(m.list)[0].x, 100.5f);
    EXPECT_TRUE(std::equal(field.begin(), field.end(), Pixels()));
}

// Settings that the options menu never makes: a period below 1 counts as 1
// (a wave every second, no division by zero), a huge wave size is limited to
// 9,000 and a size of 0 or less gives empty waves. The settings stay as read.
TEST_F(FieldEffectsTest, MeteoriteSettingsOutOfRange) {
    CMeteorite& m = theRound.meteorite;
    m.enable = 1;
    for (int32_t period : {0, -7, INT_MIN}) {
        m.intervalSeconds = period;
        m.count = 1;
        theRound.Teardown();
        StartRound();
        for (int s = 1; s <= 4; s++) {
            theRound.state.roundSeconds = s;
            PixelFrame();
            PixelFrame();
        }
        EXPECT_EQ(m.list.Count(), 4) << period;
        EXPECT_EQ(m.intervalSeconds, period);
    }
    m.intervalSeconds = 1;
    struct Case {
        int32_t count, records;
    } cases[] = {{INT_MAX, 9000}, {9001, 9000}, {0, 0}, {-5, 0}, {INT_MIN, 0}};
    for (const Case& c : cases) {
        m.count = c.count;
        m.list.Clear();
        theRound.state.roundSeconds++;
        PixelFrame();
        EXPECT_EQ(m.list.Count(), c.records) << c.count;
        EXPECT_EQ(m.count, c.count);
    }
}

// A mould spot grows for 499 frames within 80 pixels of its centre and is
// gone on the 500th; its pixels stay.
TEST_F(FieldEffectsTest, MouldGrowsAndStays) {
    CApp& expected = SeedBoth(99);
    theRound.mold.Plant();
    const MoldRecord spot = Records<MoldRecord>(theRound.mold.list)[0];
    EXPECT_EQ(spot.x, expected.RandRange(1, 638));
    EXPECT_EQ(spot.y, expected.RandRange(17, 430));
    EXPECT_EQ(spot.life, 500);
    for (int f = 0; f < 499; f++) PixelFrame();
    EXPECT_EQ(theRound.mold.list.Count(), 1);
    PixelFrame();
    EXPECT_EQ(theRound.mold.list.Count(), 0);
    const int grown = CountField(36);
    EXPECT_GT(grown, 200);
    for (int y = kTop; y <= kBottom; y++)
        for (int x = kLeft; x <= kRight; x++)
            if (Field(x, y) == 36) {
                const int dx = x - spot.x, dy = y - spot.y;
                ASSERT_LE(dx * dx + dy * dy, 82 * 82) << x << "," << y;
            }
    PixelFrame();
    EXPECT_EQ(CountField(36), grown);
}

// A missile carves a 24-pixel path through a trail-covered field, is drawn in
// its owner's missile colour and clipped at the border, and is removed only
// once its sprite is wholly off the field.
TEST_F(FieldEffectsTest, MissileCarvesItsPathAndLeavesTheField) {
    for (int y = kTop; y <= kBottom; y++) std::memset(Pixels() + y * 640 + kLeft, 44, kRight - kLeft + 1);
    PlayerSlot& p = theRound.players[1];
    p.x = 600.5f;
    p.y = 200.5f;
    p.heading = 180;
    theRound.missile.Launch(1);
    const MissileRecord start = Records<MissileRecord>(theRound.missile.list)[0];
    EXPECT_EQ(start.x, -14.0f + 600.5f - 12.0f);
    EXPECT_EQ(start.iy, 188);
    EXPECT_EQ(start.vx, -3.0f);
    EXPECT_EQ(start.owner, 1);
    const std::vector<uint8_t> outside = OutsideArea();
    int frames = 0, lastIx = start.ix;
    while (theRound.missile.list.Count() > 0 && frames < 300) {
        SpriteFrame();
        frames++;
        // Kept while any part of the sprite may still be on the field.
        ASSERT_EQ(theRound.missile.list.Count() == 0, lastIx + 24 < 0) << frames;
        if (theRound.missile.list.Count() == 0) break;
        const MissileRecord r = Records<MissileRecord>(theRound.missile.list)[0];
        lastIx = r.ix;
        if (frames == 100) {
            EXPECT_EQ(r.ix, 274);
            EXPECT_EQ(Field(r.ix + 12, r.iy + 12), 45);  // slot 1's missile colour
            for (int x = r.ix + 30; x <= 560; x++) {
                for (int y = 190; y <= 209; y++) ASSERT_EQ(Field(x, y), 0) << x << "," << y;
                ASSERT_EQ(Field(x, 187), 44);  // the band is rows 188..211
                ASSERT_EQ(Field(x, 212), 44);
            }
        }
    }
    EXPECT_EQ(frames, 201);
    for (int x = kLeft; x <= 560; x++) ASSERT_EQ(Field(x, 200), 0) << x;
    EXPECT_TRUE(OutsideArea() == outside);
}

// A ball falls in from the top, stays between the walls, bounces off the
// floor four times and falls out at the fifth contact, leaving nothing behind.
TEST_F(FieldEffectsTest, BallBouncesFourTimesThenFallsOut) {
    CApp& expected = SeedBoth(5);
    theRound.pingPong.Drop();
    const BallRecord ball = Records<BallRecord>(theRound.pingPong.list)[0];
    EXPECT_EQ(ball.x, float(expected.RandRange(1, 614)));
    EXPECT_EQ(ball.vx, float(expected.RandRange(-5, 5)));
    EXPECT_EQ(ball.y, -7.0f);
    const uint8_t red = theDirectDraw.NearestIndex(255, 0, 0);
    EXPECT_EQ(red, kPureRedIndex);
    const std::vector<uint8_t> outside = OutsideArea();
    int floorContacts = 0, frames = 0;
    float lastY = ball.y;
    bool falling = true, sawRed = false;
    while (theRound.pingPong.list.Count() > 0 && frames < 5000) {
        SpriteFrame();
        frames++;
        if (theRound.pingPong.list.Count() == 0) break;
        const BallRecord r = Records<BallRecord>(theRound.pingPong.list)[0];
        ASSERT_GE(r.x, 1.0f);
        ASSERT_LE(r.x, 614.0f);
        if (falling && r.y < lastY) floorContacts++;
        falling = r.y >= lastY;
        lastY = r.y;
        if (r.iy >= 17 && r.iy <= 406) sawRed = sawRed || Field(r.ix + 12, r.iy + 12) == red;
        if (r.bounces == 4 && r.y > 406.0f) {
            EXPECT_LE(r.y, 430.0f);  // falling out, not yet past row 430
        }
    }
    EXPECT_EQ(floorContacts, 4);
    EXPECT_LT(frames, 5000);
    EXPECT_TRUE(sawRed);
    EXPECT_EQ(CountField(red), 0);  // erased where it was last drawn
    EXPECT_TRUE(OutsideArea() == outside);
}

// Mirroring twice gives every record of every container back; once, a pixel
// goes to 639 - c (rows 447 - r), a mould centre to 640 - c (448 - r), a
// sprite corner to 616 - c (424 - r).
TEST_F(FieldEffectsTest, MirrorsReflectAndMirroringTwiceRestores) {
    theApp.Seed(31337);
    theRound.players[0].x = 200.25f;
    theRound.players[0].y = 150.75f;
    for (int kind = 0; kind < 3; kind++) theRound.particle.Explode(kind, 0, 50);
    for (int f = 0; f < 7; f++) PixelFrame();  // fractional positions, turned spirals
    AddParticle(0, 10.0f, 20.0f, 1.0f, 1.0f);  // whole numbers stay whole
    AddMeteorite(-300.5f, 99.25f, 1.0f, 0.0f);
    AddMeteorite(50.0f, 1000.5f, 0.0f, -1.0f);
    // A hair below and above whole numbers: single-precision rounding must
    // not carry a reflection into the wrong pixel.
    AddMeteorite(std::nextafter(100.0f, 0.0f), std::nextafter(100.0f, 1000.0f), 0.0f, 0.0f);
    theRound.mold.Plant();
    theRound.missile.Launch(0);
    theRound.pingPong.Drop();
    SpriteFrame();

    auto snapshot = [] {
        std::vector<std::vector<ParticleRecord>> p;
        for (const CDataList& l : theRound.particle.lists) p.push_back(Records<ParticleRecord>(l));
        return std::make_tuple(p, Records<MeteoriteRecord>(theRound.meteorite.list),
                               Records<MoldRecord>(theRound.mold.list), Records<MissileRecord>(theRound.missile.list),
                               Records<BallRecord>(theRound.pingPong.list));
    };
    auto same = [](const auto& a, const auto& b) {
        for (int k = 0; k < 3; k++)
            if (!SameRecords(std::get<0>(a)[k], std::get<0>(b)[k])) return false;
        return SameRecords(std::get<1>(a), std::get<1>(b)) && SameRecords(std::get<2>(a), std::get<2>(b)) &&
               SameRecords(std::get<3>(a), std::get<3>(b)) && SameRecords(std::get<4>(a), std::get<4>(b));
    };
    auto mirrorLR = [] {
        theRound.particle.MirrorLR();
        theRound.meteorite.MirrorLR();
        theRound.mold.MirrorLR();
        theRound.missile.MirrorLR();
        theRound.pingPong.MirrorLR();
    };
    auto mirrorUD = [] {
        theRound.particle.MirrorUD();
        theRound.meteorite.MirrorUD();
        theRound.mold.MirrorUD();
        theRound.missile.MirrorUD();
        theRound.pingPong.MirrorUD();
    };
    const auto before = snapshot();

    mirrorLR();
    const auto lr = snapshot();
    for (int k = 0; k < 3; k++)
        for (size_t i = 0; i < std::get<0>(before)[k].size(); i++) {
            const ParticleRecord &a = std::get<0>(before)[k][i], &b = std::get<0>(lr)[k][i];
            ASSERT_EQ(int(b.x), 639 - int(a.x));
            ASSERT_EQ(b.y, a.y);
            ASSERT_EQ(b.vx, -a.vx);
            if (k == 1) {
                ASSERT_EQ(b.angle, a.angle <= 180 ? 180 - a.angle : 540 - a.angle);
            }
            if (k == 2) {
                ASSERT_EQ(b.ax, -a.ax);
            }
        }
    EXPECT_EQ(std::get<0>(lr)[0].back().x, 629.0f);
    EXPECT_EQ(std::get<1>(lr)[0].x, 940.5f);
    EXPECT_EQ(int(std::get<1>(lr)[2].x), 639 - 99);
    EXPECT_EQ(std::get<2>(lr)[0].x, 640 - std::get<2>(before)[0].x);
    EXPECT_EQ(std::get<3>(lr)[0].ix, 616 - std::get<3>(before)[0].ix);
    EXPECT_EQ(int(std::get<3>(lr)[0].x), std::get<3>(lr)[0].ix);
    EXPECT_EQ(std::get<4>(lr)[0].vx, -std::get<4>(before)[0].vx);
    mirrorLR();
    EXPECT_TRUE(same(snapshot(), before));

    mirrorUD();
    const auto ud = snapshot();
    for (size_t i = 0; i < std::get<0>(before)[1].size(); i++) {
        const ParticleRecord &a = std::get<0>(before)[1][i], &b = std::get<0>(ud)[1][i];
        ASSERT_EQ(int(b.y), 447 - int(a.y));
        ASSERT_EQ(b.angle, (360 - a.angle) % 360);
    }
    EXPECT_EQ(std::get<1>(ud)[1].y, -553.5f + 1.0f);  // 447 - 1000.5 raised by one
    EXPECT_EQ(int(std::get<1>(ud)[2].y), 447 - 100);
    EXPECT_EQ(std::get<2>(ud)[0].y, 448 - std::get<2>(before)[0].y);
    EXPECT_EQ(std::get<4>(ud)[0].iy, 424 - std::get<4>(before)[0].iy);
    mirrorUD();
    EXPECT_TRUE(same(snapshot(), before));
}

// Heavy use of every effect along every edge writes nothing outside columns
// 1..638 and rows 17..430: the outline and everything beyond stay as they were.
TEST_F(FieldEffectsTest, NothingIsWrittenOutsideThePlayableArea) {
    const std::vector<uint8_t> outside = OutsideArea();
    const float corners[4][2] = {{1.5f, 17.5f}, {638.5f, 17.5f}, {1.5f, 430.5f}, {638.5f, 430.5f}};
    for (int slot = 0; slot < 4; slot++) {
        theRound.players[slot].x = corners[slot][0];
        theRound.players[slot].y = corners[slot][1];
        theRound.players[slot].heading = uint16_t(45 + 90 * slot);
        for (int kind = 0; kind < 3; kind++) theRound.particle.Explode(kind, slot, 400);
        theRound.particle.Ring(slot, 400, 16.0f);
        theRound.missile.Launch(slot);
        theRound.players[slot].heading = uint16_t(225 + 90 * slot);
        theRound.missile.Launch(slot);
    }
    for (int k = 0; k < 6; k++) {
        theRound.mold.Plant();
        MoldRecord& spot = *CDataList::Record<MoldRecord>(theRound.mold.list.Last());
        spot.x = k % 2 ? 638 : 1;
        spot.y = k < 2 ? 17 : (k < 4 ? 430 : 200);
        theRound.pingPong.Drop();
    }
    CMeteorite& m = theRound.meteorite;
    m.enable = 1;
    m.intervalSeconds = 1;
    m.count = 300;
    theApp.Seed(2024);
    for (int f = 0; f < 1200; f++) {
        theRound.state.roundSeconds = f / 30;  // a wave every 30 frames, from random sides
        PixelFrame();
        SpriteFrame();
        if (f % 100 == 0) theRound.pingPong.Drop();
    }
    EXPECT_GT(CountField(255), 0);
    EXPECT_TRUE(OutsideArea() == outside);
}

// A line that dies explodes by the explosion type: types 1..3 make the
// counted particles of kind 0..2 in the line's particle colour; a type above
// 3 makes neither particles nor rings.
TEST_F(FieldEffectsTest, DeathsExplodeByTheExplosionType) {
    for (int type = 1; type <= 4; type++) {
        theRound.Teardown();
        theRound.players[2].type = PLAYER_MAN;  // a third line keeps the round going
        StartRound();
        theRound.explosionType = int8_t(type);
        theRound.explosionValues[1] = 40;
        theRound.explosionValues[2] = 50;
        theRound.explosionValues[3] = 60;
        PlayerSlot& p1 = theRound.players[0];
        theRound.players[1].stoppedUntilFrame = INT_MAX;  // the other lines wait
        theRound.players[2].stoppedUntilFrame = INT_MAX;
        p1.x = 630.5f;
        p1.y = 300.5f;
        p1.heading = 0;
        int frames = 0;
        while (p1.alive && frames < 400) {
            ASSERT_EQ(PlayFrame(), FRAME_GO_ON);
            frames++;
        }
        ASSERT_FALSE(p1.alive) << type;
        int total = 0;
        for (int kind = 0; kind < 3; kind++) {
            const int n = theRound.particle.lists[kind].Count();
            total += n;
            EXPECT_EQ(n, kind == type - 1 ? theRound.explosionValues[type] : 0) << type;
        }
        if (type == 4) {
            EXPECT_EQ(total, 0);
            EXPECT_EQ(CountField(27), 0);
            EXPECT_EQ(CountField(28), 9);  // only the trail: 631..638 and the start pixel
            continue;
        }
        for (int f = 0; f < 10; f++) ASSERT_EQ(PlayFrame(), FRAME_GO_ON);
        for (const ParticleRecord& r : Records<ParticleRecord>(theRound.particle.lists[type - 1]))
            EXPECT_EQ(r.color, 27);
        EXPECT_GT(CountField(27), 0) << type;
    }
}
