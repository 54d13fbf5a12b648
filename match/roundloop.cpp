// The round: set-up from the chosen stage, the countdown, the frames in their
// fixed order on their input, the end test with scoring, and tear-down.
//
// Normal play draws straight into the visible surface, which is also the
// collision map; the message pump presents it at display rate while the frame
// waits. Scroll play draws into the playfield surface and shows only the four
// views that follow the heads.
#include <algorithm>
#include <cstdio>
#include <optional>

#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/computerview.h"
#include "match/headmarks.h"
#include "match/round.h"
#include "match/rules.h"
#include "sound/directsound.h"

namespace {

constexpr int kCountdownSteps = 5;
constexpr uint32_t kCountdownStepMs = 900;
constexpr int kCountdownGlyphPx = 80;
constexpr int kCountdownTextY = 184;
constexpr int kTimeDigitsX = 480;  // where the status line's TIME digits start
constexpr int kSurvivorExtraFrames = 10;

const char* const kCountdownTexts[4] = {"3", "2", "1", "START"};

}  // namespace

void CRound::Setup(const RoundStart& roundStart) {
    start = roundStart;
    local.playfieldSurface = theDirectDraw.CreateSurface(kScreenWidth, kScreenHeight, false);
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
    state.roundSeconds = 0;
    state.frameCounter = 0;
    particle.Clear();
    missile.Begin();
    meteorite.Begin();
    pingPong.Begin();
    mold.list.Clear();

    state.scrollPlay = start.scrollPlay ? 1 : 0;
    local.hint = HINT_NONE;
    local.replayShown = 0;
    local.clockAheadUs = 0;
    local.autoFastedFrame = 0;
    local.fieldSurface = state.scrollPlay ? local.playfieldSurface : kVisibleSurface;
    if (state.scrollPlay)
        local.scrollViewSurface = theDirectDraw.CreateSurface(kScrollViewSize, kScrollViewSize, false);

    int count = start.stageCount;
    int selected = start.selectedStage;
    state.stageIndex = static_cast<uint16_t>(selected >= 0 && selected < count ? selected : theApp.RandUpTo(count - 1));

    const StageEntry& stage = Stage();
    // SAFE_STARTS looks at the stage's picture while it draws the starts;
    // loading it first draws no random number, so the rule's draws stay.
    if (safeStarts) LoadStage();
    SafeStartLanes lanes{};
    for (int i = 0; i < kPlayers; i++) {
        PlayerSlot& slot = players[i];
        slot.alive = EffectivePlayerType(slot.type) != PLAYER_NON ? 1 : 0;
        heldItems[i].SetRecordSize(sizeof(HeldItem));
        heldItems[i].Clear();
        slot.slowness = 2;
        slot.hit = 0;
        slot.roundScore = 0;
        slot.leftTurns = slot.rightTurns = 0;
        slot.mirrorEndFrame = slot.noTrailEndFrame = slot.stoppedUntilFrame = slot.gravityEndFrame =
            slot.invincibleEndFrame = 0;
        slot.useItemRequest = 0;
        DrawStart(slot, stage, i);
        if (safeStarts && slot.alive) RedrawUnsafeStart(slot, stage, i, lanes);
        slot.lastPixelX = CApp::FloatToInt(slot.x);
        slot.lastPixelY = CApp::FloatToInt(slot.y);
        for (DataNode* node = stage.initialItems[i].First(); node; node = node->next) {
            const InitialItem* gift = CDataList::Record<InitialItem>(node);
            GiveItems(slot, i, gift->kind, gift->count, false);
        }
    }
    if (!safeStarts) LoadStage();
    PlotStarts();
    state.stageEffect = stage.effect;
}

// The stage's start of slot i; the random parts are drawn in the order x, y,
// heading (and slot by slot).
void CRound::DrawStart(PlayerSlot& slot, const StageEntry& stage, int i) {
    uint16_t sx = stage.startX[i], sy = stage.startY[i], sh = stage.startHeading[i];
    slot.x = float(sx == kRandomStart ? theApp.RandRange(kInteriorLeft, kInteriorRight) : sx);
    slot.y = float(sy == kRandomStart ? theApp.RandRange(kInteriorTop, kInteriorBottom) : sy + kFieldTop);
    slot.heading = static_cast<uint16_t>(sh == kRandomStart ? theApp.RandRange(0, 359) : sh % 360);
}

// The stage picture and the playfield outline.
void CRound::LoadStage() {
    const StageEntry& stage = Stage();
    char path[300];
    std::snprintf(path, sizeof path, "Stage\\%s", stage.file);
    theDirectDraw.LoadPngInto(local.playfieldSurface, path, 0, kFieldTop);
    theDirectDraw.DrawFrame(local.playfieldSurface, 0, kFieldTop, kFieldWidth, kFieldHeight, kOutlineIndex);
}

// Every live line's start pixel in its colour.
void CRound::PlotStarts() {
    SurfaceDesc field = theDirectDraw.Lock(local.playfieldSurface);
    for (int i = 0; i < kPlayers; i++) {
        const PlayerSlot& slot = players[i];
        // A start on the outline is drawn there; the line dies on its first step out.
        if (slot.alive && field.pixels && slot.lastPixelX >= 0 && slot.lastPixelX < field.width &&
            slot.lastPixelY >= 0 && slot.lastPixelY < field.height)
            field.pixels[slot.lastPixelY * field.pitch + slot.lastPixelX] = uint8_t(PlayerTrailIndex(i));
    }
    theDirectDraw.Unlock(local.playfieldSurface);
}

// "3", "2", "1", "START", each for about 900 ms over the field, then a clean
// picture: after the last flip the visible surface holds the stage with the
// start pixels. Until then the pictures shown carry the start arrows.
void CRound::Countdown() {
    std::optional<CStartArrowScope> arrows(std::in_place);
    for (int k = 0; k < kCountdownSteps; k++) {
        if (k == kCountdownSteps - 1) arrows.reset();
        theApp.StartFrame();
        theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
        theApp.DrawBackground(false);
        if (state.scrollPlay)
            DrawScrollViews(kBackBuffer, true, false);
        else
            theDirectDraw.Draw(kBackBuffer, 0, kFieldTop, kFieldWidth, kFieldHeight, local.playfieldSurface, 0,
                               kFieldTop, false, 0);
        DrawStatus(kBackBuffer);
        for (int i = 0; i < kPlayers; i++) DrawPanel(kBackBuffer, i);
        if (k < 4) {
            theDirectSound.Play(k < 3 ? SE_321 : SE_START, 0, 0);
            theApp.DrawTextScaled(kBackBuffer, 0, kCountdownTextY, kCountdownGlyphPx, kCountdownGlyphPx,
                                  kCountdownTexts[k], 9, true, false);
        }
        if (k < 3 && !state.scrollPlay) {
            theDirectDraw.SetDestClip(0, kFieldTop, kFieldWidth, kFieldHeight);
            for (int i = 0; i < kPlayers; i++) {
                const PlayerSlot& slot = players[i];
                if (!slot.alive) continue;
                char number[4];
                std::snprintf(number, sizeof number, "%d", i + 1);
                theApp.DrawText(kBackBuffer, CApp::FloatToInt(slot.x) - 8, CApp::FloatToInt(slot.y) - 8, number,
                                uint8_t(i), false, CLIP_DEST);
            }
        }
        theDirectDraw.Flip();
        if (k == kCountdownSteps - 1) break;
        theApp.WaitFrame(kCountdownStepMs);
    }
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
}

int32_t CRound::NextFrame() {
    TickPhases();
    return ++state.frameCounter;
}

// One frame of the round, in the fixed order: what came from outside first
// (seats taken over, leaving, WAIT, the clock), then the lines seat by seat.
int CRound::Frame(FrameInput& input, ComputerThink think) {
    for (int i = 0; i < kPlayers; i++)
        if ((input.takeovers >> i) & 1) players[i].type = PLAYER_NORMAL;
    if (input.leave) return input.leave;
    if (input.waitSet) {
        state.wait = input.wait;
        ChangeWait(0);  // the status line shows the new WAIT
    }
    if (input.tick) TickSecond();

    uint8_t used[kPlayers] = {};
    for (int i = 0; i < kPlayers; i++) {
        PlayerSlot& slot = players[i];
        if (!SlotActs(slot, state.frameCounter)) continue;
        ResolveHit(slot, i);
        // A line killed just now does not act: its keys and a pending use
        // of an item are not served (a "CHANGE" would put a live line on
        // the crash point). Replays of the old rule still play by it.
        if (!slot.alive && !start.oldDeathRule) continue;
        if (EffectivePlayerType(slot.type) == PLAYER_MAN) {
            used[i] = input.seats[i];
            HandleKeys(slot, i, used[i]);
        }
        if (slot.useItemRequest) {
            theItemManager.UseItem(i);
            slot.useItemRequest = 0;
        }
    }
    std::copy(used, used + kPlayers, input.seats);

    SurfaceDesc field = theDirectDraw.Lock(local.fieldSurface);
    for (int i = 0; i < kPlayers; i++) {
        PlayerSlot& slot = players[i];
        if (!SlotActs(slot, state.frameCounter)) continue;
        // A computer player decides here, seat by seat, so that it sees the
        // lines that moved before it in this frame; its turn takes effect in
        // this frame's move.
        const int type = EffectivePlayerType(slot.type);
        if (type != PLAYER_MAN && type != PLAYER_NON)
            ApplyComputerPresses(slot, think(type, ViewFor(i, slot, field.pixels, field.pitch, theItemManager)));
        Advance(slot);
        PlotTrail(slot, i, field.pixels, field.pitch);
    }
    particle.Update(field.pixels, field.pitch);
    meteorite.Update(field.pixels, field.pitch);
    mold.Update(field.pixels, field.pitch);
    SprinkleDots(field.pixels, field.pitch);
    theDirectDraw.Unlock(local.fieldSurface);

    theItemManager.Update();
    missile.Update(local.fieldSurface);
    pingPong.Update(local.fieldSurface);
    if (IsOver()) return FRAME_ROUND_OVER;
    UpdateHint();
    if (state.scrollPlay) DrawScrollViews(kVisibleSurface, false, false);
    return FRAME_GO_ON;
}

ComputerView CRound::ViewFor(int i, const PlayerSlot& self, const uint8_t* pixels, int pitch,
                             const CItemManager& items) const {
    return ComputerView{.seat = i,
                        .self = self,
                        .players = players,
                        .heldItems = heldItems[i],
                        .state = state,
                        .start = start,
                        .roundCounter = roundCounter,
                        .pixels = pixels,
                        .pitch = pitch,
                        .items = items,
                        .meteorites = meteorite.list,
                        .missiles = missile.list,
                        .balls = pingPong.list,
                        .moulds = mold.list};
}

void CRound::Teardown() {
    theDirectDraw.ReleaseSurface(local.playfieldSurface);
    particle.Clear();
    theItemManager.Clear();
    missile.End();
    meteorite.list.Clear();
    pingPong.End();
    mold.list.Clear();
    if (state.scrollPlay) theDirectDraw.ReleaseSurface(local.scrollViewSurface);
}

void CRound::TickPhases() {
    for (int i = 0; i < kPhaseCounters; i++) state.phase[i] = uint8_t((state.phase[i] + 1) % (1 << i));
}

void CRound::TickSecond() {
    state.roundSeconds++;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%07ld", long(state.roundSeconds));
    theApp.DrawText(kVisibleSurface, kTimeDigitsX, 0, digits, 5, false, 0);
    CloseBorder();
}

bool CRound::IsOver() {
    if (CountAlive() >= 2) return false;
    ScoreRound();
    CountWin();
    return true;
}

// Every slot scores by how many slots outlived it; slots that died in the
// same frame score alike. Empty slots score too and are never shown.
void CRound::ScoreRound() {
    for (PlayerSlot& slot : players)
        if (slot.alive) slot.endFrame = state.frameCounter + kSurvivorExtraFrames;
    const int32_t s = state.roundSeconds;
    const int32_t table[4] = {s * 30 + 4000, s * 20 + 2000, s * 10 + 1000, s * 5};
    for (PlayerSlot& slot : players) {
        int outlived = 0;
        for (const PlayerSlot& other : players)
            if (other.endFrame > slot.endFrame) outlived++;
        slot.roundScore = table[outlived];
        slot.totalScore += slot.roundScore;
    }
}

// The match counter shown in the WIN column counts rounds won: it rises for
// the last line alive, not on a draw.
void CRound::CountWin() {
    for (PlayerSlot& slot : players)
        if (slot.alive) slot.matchCounter++;
}

// Stage effect 1: one random dot of colour 255 per frame.
void CRound::SprinkleDots(uint8_t* pixels, int pitch) {
    if (state.stageEffect != STAGE_EFFECT_DOTS || !pixels) return;
    int y = theApp.RandRange(kInteriorTop, kInteriorBottom);
    int x = theApp.RandRange(kInteriorLeft, kInteriorRight);
    pixels[y * pitch + x] = kOutlineIndex;
}

// Stage effect 2: the field shrinks by one pixel on every side per second
// until second 208, overwriting whatever lies on those lines.
void CRound::CloseBorder() {
    const int s = state.roundSeconds;
    if (state.stageEffect != STAGE_EFFECT_CLOSING_BORDER || s < 0 || s >= kClosingBorderSeconds) return;
    const int height = kInteriorBottom - kInteriorTop + 1, width = kInteriorRight - kInteriorLeft + 1;
    theDirectDraw.FillRect(local.fieldSurface, s, kInteriorTop, 1, height, kClosingBorderIndex);
    theDirectDraw.FillRect(local.fieldSurface, kFieldRight - s, kInteriorTop, 1, height, kClosingBorderIndex);
    theDirectDraw.FillRect(local.fieldSurface, kInteriorLeft, s + kFieldTop, width, 1, kClosingBorderIndex);
    theDirectDraw.FillRect(local.fieldSurface, kInteriorLeft, kFieldBottom - s, width, 1, kClosingBorderIndex);
}
