// What the planning player sees before it searches: the other heads and the
// way each would take if it kept its heading, the moving objects whose way
// comes near this head within the horizon, the item squares a head may run
// into, and the closing border.
#include <algorithm>
#include <cmath>

#include "computer/planner.h"
#include "items/itemmanager.h"
#include "match/effects_area.h"
#include "match/rules.h"

namespace planner {
namespace {

constexpr int kClosingMarginPx = 2;                        // the line the next second fills, and one more
constexpr int kDiscRadiusPx = effects::kSpriteRadius + 1;  // a missile's or ball's disc, and the pixel beside it
constexpr int kExtraPredictedSteps = 8;

// The first frame, not before `from`, in which a slot of this period steps,
// given its phase counter's value in frame `now`. Slot j acts after the
// thinking seat in the same frame only when j is the greater.
int NextStepFrame(const ComputerView& round, const PlayerSlot& slot, int j) {
    const int period = StepPeriodFrames(slot.slowness), now = round.state.frameCounter;
    const int value = round.state.phase[StepPhase(slot.slowness)];
    int frame = now + (period - value) % period;
    if (frame == now && j < round.seat) frame += period;
    while (frame <= slot.stoppedUntilFrame) frame += period;
    return frame;
}

// The pixels a head enters if it keeps its heading, with their frames.
void PredictStraightWay(View& view, const PlayerSlot& slot, const OtherLine& line) {
    const int steps =
        std::min(kMaxPredictions, kHorizonSteps * view.periodFrames / line.periodFrames + kExtraPredictedSteps);
    float x = slot.x, y = slot.y;
    const int h = slot.heading % 360;
    int lastX = line.pixelX, lastY = line.pixelY;
    for (int k = 0; k < steps; k++) {
        StepAlong(x, y, h);
        const int px = CApp::FloatToInt(x), py = CApp::FloatToInt(y);
        if (!InsideInterior(px, py)) break;
        if (px == lastX && py == lastY) continue;
        lastX = px;
        lastY = py;
        // Only pixels this head can reach within the horizon matter.
        if (std::abs(px - view.headX) > kHorizonSteps + 1 || std::abs(py - view.headY) > kHorizonSteps + 1) continue;
        view.predicted[view.predictedCount++] = {py * view.pitch + px, line.firstStepFrame + k * line.periodFrames};
    }
}

// Whether something at x, y (reaching radius pixels round it) shows in the view.
bool Seen(const View& view, float x, float y, int radius) {
    const int px = CApp::FloatToInt(x), py = CApp::FloatToInt(y);
    return view.wholeField || (px + radius >= view.seen.left && px - radius <= view.seen.right &&
                               py + radius >= view.seen.top && py - radius <= view.seen.bottom);
}

void LookAtOtherLines(View& view, const ComputerView& round) {
    view.otherCount = 0;
    view.predictedCount = 0;
    for (int j = 0; j < kPlayers; j++) {
        const PlayerSlot& slot = round.players[j];
        if (j == round.seat || !slot.alive || !Seen(view, slot.x, slot.y, 0)) continue;
        OtherLine& line = view.others[view.otherCount++];
        line.pixelX = CApp::FloatToInt(slot.x);
        line.pixelY = CApp::FloatToInt(slot.y);
        line.periodFrames = StepPeriodFrames(slot.slowness);
        line.firstStepFrame = NextStepFrame(round, slot, j);
        PredictStraightWay(view, slot, line);
    }
}

// Keeps a moving object when its way within the horizon passes near enough
// to the head to be met.
void AddTrack(View& view, const Track& track, float headX, float headY, int horizonFrames) {
    if (view.trackCount >= kMaxTracks || !Seen(view, track.x, track.y, track.radiusPx)) return;
    const float t = float(horizonFrames);
    const float endX = track.x + track.vx * t, endY = track.y + track.vy * t + track.ay * t * t * 0.5f;
    const float reach = float(kHorizonSteps + track.radiusPx + 2);
    if (std::max(track.x, endX) < headX - reach || std::min(track.x, endX) > headX + reach) return;
    if (std::max(track.y, endY) < headY - reach || std::min(track.y, endY) > headY + reach) return;
    view.tracks[view.trackCount++] = track;
}

void LookAtMovingObjects(View& view, const ComputerView& round, float headX, float headY) {
    view.trackCount = 0;
    const int horizonFrames = kHorizonSteps * view.periodFrames;
    // A meteorite is seen once it has entered the field.
    for (DataNode* n = round.meteorites.First(); n; n = n->next) {
        const MeteoriteRecord& m = *CDataList::Record<MeteoriteRecord>(n);
        if (m.entered && InsideInterior(CApp::FloatToInt(m.x), CApp::FloatToInt(m.y)))
            AddTrack(view, {m.x, m.y, m.vx, m.vy, 0.0f, 0}, headX, headY, horizonFrames);
    }
    const float half = float(effects::kSpriteRadius);  // from a sprite's corner to its centre
    for (DataNode* n = round.missiles.First(); n; n = n->next) {
        const MissileRecord& m = *CDataList::Record<MissileRecord>(n);
        AddTrack(view, {m.x + half, m.y + half, m.vx, m.vy, 0.0f, kDiscRadiusPx}, headX, headY, horizonFrames);
    }
    for (DataNode* n = round.balls.First(); n; n = n->next) {
        const BallRecord& b = *CDataList::Record<BallRecord>(n);
        AddTrack(view, {b.x + half, b.y + half, b.vx, b.vy, kBallGravityPxPerFrame2, kDiscRadiusPx}, headX, headY,
                 horizonFrames);
    }
    view.mouldCount = 0;
    for (DataNode* n = round.moulds.First(); n && view.mouldCount < kMaxMoulds; n = n->next) {
        const MoldRecord& m = *CDataList::Record<MoldRecord>(n);
        if (Seen(view, float(m.x), float(m.y), 0) && std::abs(m.x - int(headX)) <= kMouldReachPx + kHorizonSteps &&
            std::abs(m.y - int(headY)) <= kMouldReachPx + kHorizonSteps)
            view.moulds[view.mouldCount++] = {m.x, m.y};
    }
}

// Item squares are open to a head when taking an item cannot kill.
void LookAtItems(View& view, const CItemManager& items) {
    view.itemCount = 0;
    if (items.itemGetDeath > 0) return;
    for (DataNode* n = items.fieldItems.First(); n && view.itemCount < kMaxItemsSeen; n = n->next) {
        const FieldItem& item = *CDataList::Record<FieldItem>(n);
        const int half = kItemPx / 2;
        if (!Seen(view, float(item.x + half), float(item.y + half), half)) continue;
        view.itemX[view.itemCount] = item.x;
        view.itemY[view.itemCount++] = item.y;
    }
}

}  // namespace

Window ScrollWindow(const PlayerSlot& slot) {
    const int half = kScrollViewSize / 2;
    const int left = CApp::FloatToInt(slot.x) - half, top = CApp::FloatToInt(slot.y) - half;
    return Window{left, top, left + kScrollViewSize - 1, top + kScrollViewSize - 1};
}

void Look(View& view, const ComputerView& round, bool scrollView) {
    const PlayerSlot& slot = round.self;
    view.pixels = round.pixels;
    view.pitch = round.pitch;
    view.wholeField = !scrollView;
    view.seen = scrollView ? ScrollWindow(slot) : Window{0, 0, kScreenWidth - 1, kScreenHeight - 1};
    view.slot = round.seat;
    view.headX = CApp::FloatToInt(slot.x);
    view.headY = CApp::FloatToInt(slot.y);
    view.nowFrame = round.state.frameCounter;
    view.periodFrames = StepPeriodFrames(slot.slowness);
    view.mirrorEndFrame = slot.mirrorEndFrame;
    view.noTrailEndFrame = slot.noTrailEndFrame;
    view.gravityEndFrame = slot.gravityEndFrame;
    view.invincibleEndFrame = slot.invincibleEndFrame;
    const int s = round.state.roundSeconds;
    const bool closing = round.state.stageEffect == STAGE_EFFECT_CLOSING_BORDER && s < kClosingBorderSeconds;
    view.closingBorderPx = closing ? s + kClosingMarginPx : 0;
    view.loneDotsPassable = round.state.stageEffect == STAGE_EFFECT_DOTS && !round.start.oldGroundRule;
    LookAtItems(view, round.items);
    LookAtOtherLines(view, round);
    LookAtMovingObjects(view, round, slot.x, slot.y);
}

Head StartHead(const ComputerView& round) {
    const PlayerSlot& slot = round.self;
    return Head{slot.x,          slot.y,          uint16_t(slot.heading % 360),
                slot.lastPixelX, slot.lastPixelY, round.state.frameCounter};
}

bool ClearAhead(const View& view, const Head& head, int steps) {
    float x = head.x, y = head.y;
    int lastX = head.lastX, lastY = head.lastY;
    for (int k = 0; k < steps; k++) {
        StepAlong(x, y, head.heading);
        const int px = CApp::FloatToInt(x), py = CApp::FloatToInt(y);
        if (px == lastX && py == lastY) continue;
        if (!OpenPixel(view, px, py)) return false;
        lastX = px;
        lastY = py;
    }
    return true;
}

bool UnderItem(const View& view, int x, int y) {
    for (int k = 0; k < view.itemCount; k++)
        if (x >= view.itemX[k] && x < view.itemX[k] + kItemPx && y >= view.itemY[k] && y < view.itemY[k] + kItemPx)
            return true;
    return false;
}

}  // namespace planner
