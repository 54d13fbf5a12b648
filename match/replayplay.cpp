// Playing a replay on the one round object. The result screen may ask for it
// while its own round still owns the field, the effects and the items, so
// everything a round touches is first moved aside (lists by swapping, surface
// handles and numbers by copy) and put back afterwards: the live match comes
// out exactly as it went in.
#include <cstdio>
#include <cstring>
#include <new>

#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/replay.h"
#include "screens/roundintro.h"
#include "screens/stageselect.h"

namespace {

constexpr uint32_t kLastPictureMs = 1000;

// A player record without its held-items list (which is swapped instead).
struct SlotNumbers {
    uint8_t alive, hit;
    int32_t leftTurns, rightTurns;
    int8_t type;
    int32_t totalScore;
    uint16_t matchCounter;
    int32_t roundScore, endFrame, endSecond;
    float x, y;
    int32_t lastPixelX, lastPixelY;
    uint16_t heading;
    uint8_t slowness;
    int32_t mirrorEnd, noTrailEnd, stoppedUntil, gravityEnd, invincibleEnd;
    uint8_t useItemRequest;
};

// One value of the live match and the place it is kept in while a replay
// plays: moving aside copies the live value there, putting back returns it.
template <typename T>
void Carry(bool aside, T& live, T& kept) {
    if (aside)
        kept = live;
    else
        live = kept;
}

template <typename T, size_t N>
void Carry(bool aside, T (&live)[N], T (&kept)[N]) {
    for (size_t i = 0; i < N; i++) Carry(aside, live[i], kept[i]);
}

void CarrySlot(bool aside, PlayerSlot& live, SlotNumbers& kept) {
    Carry(aside, live.alive, kept.alive);
    Carry(aside, live.hit, kept.hit);
    Carry(aside, live.leftTurns, kept.leftTurns);
    Carry(aside, live.rightTurns, kept.rightTurns);
    Carry(aside, live.type, kept.type);
    Carry(aside, live.totalScore, kept.totalScore);
    Carry(aside, live.matchCounter, kept.matchCounter);
    Carry(aside, live.roundScore, kept.roundScore);
    Carry(aside, live.endFrame, kept.endFrame);
    Carry(aside, live.endSecond, kept.endSecond);
    Carry(aside, live.x, kept.x);
    Carry(aside, live.y, kept.y);
    Carry(aside, live.lastPixelX, kept.lastPixelX);
    Carry(aside, live.lastPixelY, kept.lastPixelY);
    Carry(aside, live.heading, kept.heading);
    Carry(aside, live.slowness, kept.slowness);
    Carry(aside, live.mirrorEnd, kept.mirrorEnd);
    Carry(aside, live.noTrailEnd, kept.noTrailEnd);
    Carry(aside, live.stoppedUntil, kept.stoppedUntil);
    Carry(aside, live.gravityEnd, kept.gravityEnd);
    Carry(aside, live.invincibleEnd, kept.invincibleEnd);
    Carry(aside, live.useItemRequest, kept.useItemRequest);
}

// Everything of the live round, the match and the settings that playing a
// replay changes.
class CLiveRound {
public:
    void MoveAside();
    void PutBack();

private:
    void CarryNumbers(bool aside);
    void SwapLists();
    void ReleaseReplayLists();

    uint32_t m_randState;
    int32_t m_settings[S_COUNT];
    uint8_t m_phase[5];
    uint32_t m_lastSecondMs;
    SurfaceId m_scrollViewSurface, m_playfieldSurface, m_fieldSurface;
    uint16_t m_stageEffect, m_stageIndex, m_roundCounter;
    int32_t m_roundSeconds, m_frameCounter;
    uint8_t m_scrollPlay;
    SlotNumbers m_slots[kPlayers];
    CDataList m_heldItems[kPlayers];
    CDataList m_particles[3], m_meteorites, m_mold, m_missiles, m_balls, m_fieldItems;
    int32_t m_lastWaveSecond, m_fieldCount, m_poolCount;
    SurfaceId m_missileSprites[kPlayers], m_missileEraser, m_ballSprite, m_ballEraser;
    uint16_t m_pool[sizeof(CItemManager::pool) / sizeof(uint16_t)];
    StageEntry* m_stages;
    int32_t m_stageCount, m_selectedStage, m_selectorCursor;
    ClipRect m_destClip, m_sourceClip;
};

// Both sides keep the round's record size, so the round's lists stay usable.
void Exchange(CDataList& aside, CDataList& used) {
    aside.SetRecordSize(used.RecordSize());
    aside.Swap(used);
}

void CLiveRound::SwapLists() {
    CRound& r = theRound;
    for (int i = 0; i < kPlayers; i++) Exchange(m_heldItems[i], r.players[i].heldItems);
    for (int k = 0; k < 3; k++) Exchange(m_particles[k], r.particle.lists[k]);
    Exchange(m_meteorites, r.meteorite.list);
    Exchange(m_mold, r.mold.list);
    Exchange(m_missiles, r.missile.list);
    Exchange(m_balls, r.pingPong.list);
    Exchange(m_fieldItems, theItemManager.fieldItems);
}

// After the swap back these hold what the replay's round left behind.
void CLiveRound::ReleaseReplayLists() {
    for (CDataList& list : m_heldItems) list.Clear();
    for (CDataList& list : m_particles) list.Clear();
    m_meteorites.Clear();
    m_mold.Clear();
    m_missiles.Clear();
    m_balls.Clear();
    m_fieldItems.Clear();
}

// The round's, the items' and the screens' numbers and surface handles.
void CLiveRound::CarryNumbers(bool aside) {
    CRound& r = theRound;
    Carry(aside, r.phase, m_phase);
    Carry(aside, r.lastSecondMs, m_lastSecondMs);
    Carry(aside, r.scrollViewSurface, m_scrollViewSurface);
    Carry(aside, r.playfieldSurface, m_playfieldSurface);
    Carry(aside, r.fieldSurface, m_fieldSurface);
    Carry(aside, r.stageEffect, m_stageEffect);
    Carry(aside, r.stageIndex, m_stageIndex);
    Carry(aside, theRoundIntro.roundCounter, m_roundCounter);
    Carry(aside, r.roundSeconds, m_roundSeconds);
    Carry(aside, r.frameCounter, m_frameCounter);
    Carry(aside, r.scrollPlay, m_scrollPlay);
    for (int i = 0; i < kPlayers; i++) CarrySlot(aside, r.players[i], m_slots[i]);
    Carry(aside, r.meteorite.lastWaveSecond, m_lastWaveSecond);
    Carry(aside, theItemManager.fieldCount, m_fieldCount);
    Carry(aside, theItemManager.poolCount, m_poolCount);
    Carry(aside, theItemManager.pool, m_pool);
    Carry(aside, r.missile.sprites, m_missileSprites);
    Carry(aside, r.missile.eraser, m_missileEraser);
    Carry(aside, r.pingPong.sprite, m_ballSprite);
    Carry(aside, r.pingPong.eraser, m_ballEraser);
    Carry(aside, theStageSelect.stages, m_stages);
    Carry(aside, theStageSelect.stageCount, m_stageCount);
    Carry(aside, theStageSelect.selectedStage, m_selectedStage);
    Carry(aside, theStageSelect.cursor, m_selectorCursor);
}

void CLiveRound::MoveAside() {
    CRound& r = theRound;
    m_randState = theApp.RandState();
    for (int s = 0; s < S_COUNT; s++) m_settings[s] = FetchValue(SettingAt(s));
    CarryNumbers(true);
    SwapLists();
    // The sprites and the views belong to the live round: the replay's round
    // makes its own.
    std::memset(r.missile.sprites, 0, sizeof r.missile.sprites);
    r.missile.eraser = r.pingPong.sprite = r.pingPong.eraser = 0;
    r.playfieldSurface = r.scrollViewSurface = 0;
    m_destClip = theDirectDraw.DestClip();
    m_sourceClip = theDirectDraw.SourceClip();
}

void CLiveRound::PutBack() {
    theApp.Seed(m_randState);
    for (int s = 0; s < S_COUNT; s++) StoreValue(SettingAt(s), m_settings[s]);
    CarryNumbers(false);
    SwapLists();
    ReleaseReplayLists();
    theDirectDraw.SetDestClip(m_destClip.left, m_destClip.top, m_destClip.right - m_destClip.left + 1,
                              m_destClip.bottom - m_destClip.top + 1);
    theDirectDraw.SetSourceClip(m_sourceClip.left, m_sourceClip.top, m_sourceClip.right - m_sourceClip.left + 1,
                                m_sourceClip.bottom - m_sourceClip.top + 1);
}

// The recorded stage as a one-entry stage list.
void FillStage(const ReplayStage& s, StageEntry* entry) {
    std::snprintf(entry->title, sizeof entry->title, "%s", s.title);
    std::snprintf(entry->file, sizeof entry->file, "%s", s.file);
    for (int p = 0; p < kPlayers; p++) {
        entry->startX[p] = s.startX[p];
        entry->startY[p] = s.startY[p];
        entry->startHeading[p] = s.startHeading[p];
        entry->initialItems[p].SetRecordSize(sizeof(InitialItem));
        entry->initialItems[p].Clear();
        for (int g = 0; g < s.giftCount[p]; g++) {
            InitialItem* item = CDataList::Record<InitialItem>(entry->initialItems[p].Add());
            item->kind = s.gifts[p][g].kind;
            item->count = s.gifts[p][g].count;
        }
    }
    entry->scopeLeft = s.scope[0];
    entry->scopeTop = s.scope[1];
    entry->scopeRight = s.scope[2];
    entry->scopeBottom = s.scope[3];
    entry->effect = s.effect;
}

// The state the round started from, as recorded.
void ApplyStart(const ReplayData& d, StageEntry* stage) {
    for (int s = 0; s < S_COUNT; s++) StoreValue(SettingAt(s), d.settings[s]);
    std::memcpy(theRound.phase, d.phase, sizeof d.phase);
    theRoundIntro.roundCounter = d.roundCounter;
    theItemManager.BuildPool();
    theItemManager.fieldCount = 0;
    FillStage(d.stage, stage);
    theStageSelect.stages = stage;
    theStageSelect.stageCount = 1;
    theStageSelect.selectedStage = 0;
    theStageSelect.cursor = d.scrollPlay ? SELECT_SCROLL_GAME : SELECT_NORMAL_GAME;
    theApp.Seed(d.seed);
    // The draw that chose a random stage, so that the draws after it match.
    if (d.randomStageCount > 0) theApp.RandUpTo(d.randomStageCount - 1);
}

ReplayOutcome RunFrames(const ReplayData& d) {
    for (;;) {
        int result = theRound.Frame();
        if (theReplay.Diverged()) return {REPLAY_DIFFERS, theRound.frameCounter};
        if (result == FRAME_ROUND_OVER) break;
        if (result != FRAME_GO_ON) return {REPLAY_STOPPED, theRound.frameCounter};
        if (theRound.frameCounter >= d.lastFrame) return {REPLAY_DIFFERS, theRound.frameCounter};
    }
    bool same = theRound.frameCounter == d.lastFrame && theReplay.AllEventsUsed() && FieldChecksum() == d.fieldChecksum;
    return {same ? REPLAY_REPRODUCED : REPLAY_DIFFERS, theRound.frameCounter};
}

}  // namespace

ReplayOutcome PlayReplay(const ReplayData& data, bool shown) {
    char picture[300];
    std::snprintf(picture, sizeof picture, "Stage\\%s", data.stage.file);
    if (!plat::FileExists(picture)) return {REPLAY_NO_STAGE, 0};

    static CLiveRound live;  // large; one playback at a time
    // The one-entry stage list is made as the stage list makes its entries, so
    // that a fatal exit during the playback leaves a list the selector can free.
    auto* stage = static_cast<StageEntry*>(CApp::Alloc(sizeof(StageEntry), "PlayReplay"));
    new (stage) StageEntry();
    live.MoveAside();
    ApplyStart(data, stage);
    theRound.Setup();
    theReplay.StartPlayback(&data);
    if (shown)
        theRound.Countdown();
    else if (!theRound.scrollPlay)
        theDirectDraw.CopyScreen(0, theRound.playfieldSurface);  // the picture the countdown leaves
    ReplayOutcome outcome = RunFrames(data);
    theReplay.StopPlayback();
    if (shown && outcome.verdict == REPLAY_REPRODUCED) {
        // The last picture a moment longer (Control cuts it short).
        theApp.StartFrame();
        theApp.WaitFrame(kLastPictureMs);
    }
    theRound.Teardown();
    live.PutBack();
    stage->~StageEntry();
    CApp::Free(stage);
    return outcome;
}

void ReplayVerdictText(const ReplayData& data, const ReplayOutcome& outcome, const char* name, char* text,
                       size_t size) {
    if (outcome.verdict == REPLAY_NO_STAGE)
        std::snprintf(text, size, "%s: the stage picture \"%s\" of this replay is not in the game folder.", name,
                      data.stage.file);
    else if (outcome.verdict == REPLAY_DIFFERS)
        std::snprintf(text, size,
                      "%s: the replay does not reproduce the round (it parts from the recording by frame %ld; "
                      "the round ended at frame %ld).",
                      name, long(outcome.frame), long(data.lastFrame));
    else
        std::snprintf(text, size, "%s: the replay reproduces the round.", name);
}
