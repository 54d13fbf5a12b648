// Playing a replay on the one round object. The result screen may ask for it
// while its own round still owns the field, the effects and the items, so
// everything a round touches is first moved aside and put back afterwards:
// the live match comes out exactly as it went in.
#include "screens/replayplay.h"

#include <cstdio>
#include <cstring>

#include "computer/computer.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/headmarks.h"
#include "replay/replay.h"
#include "screens/roundplay.h"

namespace {

constexpr uint32_t kLastPictureMs = 1000;

// Everything of the live match that playing a replay changes. The round and
// the item manager exchange what they own with the objects kept here, so
// the same call moves the live match aside and puts it back; the settings
// and the generator are copied, the drawing clips are saved and restored.
class CLiveRound {
public:
    void MoveAside();
    void PutBack();

private:
    uint32_t m_randState;
    int32_t m_settings[S_COUNT];
    CRound m_round;
    CItemManager m_items;
    ClipRect m_destClip, m_sourceClip;
};

void CLiveRound::MoveAside() {
    m_randState = theApp.RandState();
    for (int s = 0; s < S_COUNT; s++) m_settings[s] = FetchValue(SettingAt(s));
    theRound.Exchange(m_round);
    theItemManager.Exchange(m_items);
    m_destClip = theDirectDraw.DestClip();
    m_sourceClip = theDirectDraw.SourceClip();
}

// What the replay's round left behind comes back here and is let go; its
// surfaces were released when that round was torn down.
void CLiveRound::PutBack() {
    theApp.Seed(m_randState);
    for (int s = 0; s < S_COUNT; s++) StoreValue(SettingAt(s), m_settings[s]);
    theRound.Exchange(m_round);
    theItemManager.Exchange(m_items);
    for (CDataList& list : m_round.heldItems) list.Clear();
    m_round.particle.Clear();
    m_round.meteorite.list.Clear();
    m_round.mold.list.Clear();
    m_round.missile.list.Clear();
    m_round.pingPong.list.Clear();
    m_round.local = RoundLocals{};
    m_items.Clear();
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

// The state the round started from, as recorded (the settings but the
// personal ones); returns the round's start
// with the recorded stage as a one-entry list.
RoundStart ApplyStart(const ReplayData& d, StageEntry* stage) {
    // The viewer keeps their own volume, marks, pace, display and keys. A
    // rule added after the replay was made played as its default did then.
    for (int s = 0; s < S_COUNT; s++)
        if (!SettingAt(s).personal)
            StoreValue(SettingAt(s), s < d.settingCount ? d.settings[s] : SettingAt(s).defaultValue);
    std::memcpy(theRound.state.phase, d.phase, sizeof d.phase);
    theItemManager.BuildPool();
    theItemManager.fieldCount = 0;
    FillStage(d.stage, stage);
    theApp.Seed(d.seed);
    // The draw that chose a random stage, so that the draws after it match.
    if (d.randomStageCount > 0) theApp.RandUpTo(d.randomStageCount - 1);
    theRound.roundCounter = d.roundCounter;
    return RoundStart{stage,
                      1,
                      0,
                      d.scrollPlay,
                      uint8_t(d.version <= kReplayLastOldDeathRule ? 1 : 0),
                      uint8_t(d.version <= kReplayLastOldMasterRule ? 1 : 0),
                      d.seed,
                      uint8_t(d.version <= kReplayLastOldGroundRule ? 1 : 0)};
}

ReplayOutcome RunFrames(const ReplayData& d, bool shown) {
    CHeadMarkScope marks(shown);
    for (;;) {
        int result = PlayFrame();
        if (theReplay.Diverged()) return {REPLAY_DIFFERS, theRound.state.frameCounter};
        if (result == FRAME_ROUND_OVER) break;
        if (result != FRAME_GO_ON) return {REPLAY_STOPPED, theRound.state.frameCounter};
        // A round that was stopped (an online round whose machines parted
        // ways) is kept up to its last frame: it must match there.
        if (theRound.state.frameCounter >= d.lastFrame) break;
    }
    bool same = theRound.state.frameCounter == d.lastFrame && theReplay.AllEventsUsed() &&
                FinalChecksum(d.version) == d.fieldChecksum;
    return {same ? REPLAY_REPRODUCED : REPLAY_DIFFERS, theRound.state.frameCounter};
}

}  // namespace

ReplayOutcome PlayReplay(const ReplayData& data, bool shown) {
    char picture[300];
    std::snprintf(picture, sizeof picture, "Stage\\%s", data.stage.file);
    if (!plat::FileExists(picture)) return {REPLAY_NO_STAGE, 0};

    static CLiveRound live;  // large; one playback at a time
    static StageEntry stage;
    live.MoveAside();
    const RoundStart start = ApplyStart(data, &stage);
    PrepareComputers(theRound.players);
    theRound.Setup(start);
    theReplay.StartPlayback(&data);
    theRound.local.replayShown = 1;
    if (shown)
        theRound.Countdown();
    else if (!theRound.state.scrollPlay)
        theDirectDraw.CopyScreen(kVisibleSurface, theRound.local.playfieldSurface);  // the picture the countdown leaves
    ReplayOutcome outcome = RunFrames(data, shown);
    theReplay.StopPlayback();
    if (shown && outcome.verdict == REPLAY_REPRODUCED) {
        // The last picture a moment longer (Control cuts it short).
        theApp.StartFrame();
        theApp.WaitFrame(kLastPictureMs);
    }
    theRound.Teardown();
    live.PutBack();
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
