#include "tests/itemtest.h"

#include <cmath>
#include <filesystem>

#include "graphics/dibsection.h"
#include "platform/audio.h"
#include "screens/roundintro.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "sound/directsound.h"

namespace {
constexpr uint32_t kNsPerPump = 1500;
constexpr double kRefreshUs = 1e6 / 60.0;
}  // namespace

void ItemRound::SetUp() {
    testutil::StartRoundsHeadless(kNsPerPump);
    {
        testutil::ScopedCwd cwd(NUVEL_GAME_DIR);
        theDirectSound.StartDirectSound(kEffectCount);
        for (int i = 0; i < kEffectCount; i++)
            theDirectSound.SetData(i, (std::string("Sound\\") + kEffectTable[i].file).c_str(), kEffectTable[i].buffers);
    }
    ASSERT_EQ(theDirectSound.deviceOpen, 1);
    plat::AudioSetPaused(true);  // voices keep their "playing" state
    for (int k = 0; k < kItemKinds; k++) m_savedPictures[k] = theItemManager.pictures[k];
    theRound.state.wait = 80;
    theRound.explosionType = 0;
    theRound.explosionValues[0] = 16;
    theItemManager.itemMax = 0;
    theItemManager.itemUseFlush = 1;
    theItemManager.itemGetDeath = 0;
    theItemManager.changeLimitation = 0;
    theApp.keyboardType = 0;
    for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_NON;
    theRound.roundCounter = 0;
}

void ItemRound::TearDown() {
    if (theRound.local.playfieldSurface) theRound.Teardown();
    for (int k = 0; k < kItemKinds; k++) theItemManager.pictures[k] = m_savedPictures[k];
    for (SurfaceId& id : m_made) theDirectDraw.ReleaseSurface(id);
    theItemManager.itemMax = 1;
    theItemManager.itemShowTime = 30;
    theItemManager.itemGetDeath = 0;
    theItemManager.changeLimitation = 0;
    theDirectSound.Shutdown();
}

void ItemRound::WriteStages(const std::string& list) { testutil::WriteStageList(m_dir.path(), list); }

void ItemRound::StartRound(int players, bool scroll) {
    if (theRound.local.playfieldSurface) theRound.Teardown();
    for (int i = 0; i < kPlayers; i++) theRound.players[i].type = i < players ? PLAYER_MAN : PLAYER_NON;
    testutil::ScopedCwd cwd(m_dir.path());
    theStageSelect.cursor = scroll ? SELECT_SCROLL_GAME : SELECT_NORMAL_GAME;
    ::StartRound(ChosenRoundStart(), false);
}

int ItemRound::Frames(int n) {
    int result = FRAME_GO_ON;
    for (int k = 0; k < n && result == FRAME_GO_ON; k++) result = PlayFrame();
    return result;
}

void ItemRound::SetField(int x, int y, uint8_t value) {
    theDirectDraw.FillRect(theRound.local.fieldSurface, x, y, 1, 1, value);
}

std::vector<uint8_t> ItemRound::FieldBytes() const {
    Surface* s = theDirectDraw.GetSurface(theRound.local.fieldSurface);
    return std::vector<uint8_t>(s->pixels, s->pixels + s->pitch * s->height);
}

void ItemRound::PlaceItem(int kind, int x, int y) {
    FieldItem* item = CDataList::Record<FieldItem>(theItemManager.fieldItems.Add());
    item->x = x;
    item->y = y;
    item->kind = uint16_t(kind);
    item->expirySecond = theRound.state.roundSeconds + theItemManager.itemShowTime;
    theItemManager.fieldCount++;
    theItemManager.DrawAll(theRound.local.fieldSurface);
}

void ItemRound::UsePicture(int kind, SurfaceId picture) { theItemManager.pictures[kind] = picture; }

SurfaceId ItemRound::SolidPicture(uint8_t value) {
    SurfaceId id = theDirectDraw.CreateSurface(kItemPx, kItemPx, true);
    theDirectDraw.FillRect(id, 0, 0, kItemPx, kItemPx, value);
    m_made.push_back(id);
    return id;
}

void ItemRound::Silence() {
    for (int s = 0; s < theDirectSound.slotCount; s++)
        for (int b = 0; theDirectSound.slots[s].buffers && b < theDirectSound.slots[s].count; b++)
            plat::StopVoice(theDirectSound.slots[s].buffers[b]);
}

bool ItemRound::Sounded(int effect) const {
    const EffectSlot& slot = theDirectSound.slots[effect];
    for (int b = 0; slot.buffers && b < slot.count; b++) {
        plat::VoiceState state{};
        if (plat::GetVoiceState(slot.buffers[b], &state) && state.playing) return true;
    }
    return false;
}

int ItemRound::RefreshesSince(uint64_t startUs) {
    return int(std::ceil(double(plat::TimeUs() - startUs) / kRefreshUs - 0.01));
}

void ItemRound::Place(int player, float x, float y, int heading) {
    PlayerSlot& slot = theRound.players[player];
    slot.x = x;
    slot.y = y;
    slot.lastPixelX = CApp::FloatToInt(x);
    slot.lastPixelY = CApp::FloatToInt(y);
    slot.heading = uint16_t(heading);
}

::testing::AssertionResult BorderIntact() {
    SurfaceId field = theRound.local.fieldSurface;
    for (int x = 0; x < 640; x++) {
        if (testutil::PixelAt(field, x, 16) != 255 || testutil::PixelAt(field, x, 431) != 255)
            return ::testing::AssertionFailure() << "outline row broken at column " << x;
    }
    for (int y = 16; y <= 431; y++) {
        if (testutil::PixelAt(field, 0, y) != 255 || testutil::PixelAt(field, 639, y) != 255)
            return ::testing::AssertionFailure() << "outline column broken at row " << y;
    }
    if (theRound.state.scrollPlay) {
        for (int y = 0; y < 480; y++)
            for (int x = 0; x < 640; x++)
                if ((y < 16 || y > 431) && testutil::PixelAt(field, x, y) != 0)
                    return ::testing::AssertionFailure() << "pixel outside the field rows at " << x << "," << y;
    }
    return ::testing::AssertionSuccess();
}
