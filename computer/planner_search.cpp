// The path search of the planning player. A first move (turn +30, none, -30)
// is followed by the slot's own steps, moved with the same float additions as
// the round moves the line, so the search enters exactly the pixels the line
// would. After the first step it chooses, every few steps, to hold the
// heading or to turn one or two times 30 degrees; the first way that lasts
// the whole horizon ends the search. A step dies where the line would die:
// outside the interior, on a taken pixel that is no item, on its own new
// trail, on a pixel another line reaches first if it keeps its heading, or
// where a moving object will be.
#include <algorithm>
#include <cmath>

#include "computer/planner.h"
#include "match/rules.h"

namespace planner {

namespace {

constexpr int kSegmentSteps = 3;
constexpr int kSearchBudgetSteps = 800;  // steps tried for one first move
// Another line's predicted pixel is a wall from a little before it gets
// there: its step times are known, its turns are not.
constexpr int kPredictionMarginSteps = 2;

// Holding first, then one turn either way, then two.
constexpr int kChoices[] = {0, +1, -1, +2, -2};

bool NearTrack(const Track& t, int x, int y, int frame, int nowFrame) {
    const float d = float(frame - nowFrame);
    const float tx = t.x + t.vx * d, ty = t.y + t.vy * d + t.ay * d * (d + 1) * 0.5f;
    if (t.radiusPx == 0) return std::abs(CApp::FloatToInt(tx) - x) <= 1 && std::abs(CApp::FloatToInt(ty) - y) <= 1;
    const float dx = float(x) + 0.5f - tx, dy = float(y) + 0.5f - ty;
    const float r = float(t.radiusPx);
    return dx * dx + dy * dy <= r * r;
}

class Search {
public:
    Search(const View& view, PathResult& best) : m_view(view), m_best(best) {}

    void Run(const Head& start, int turnDegrees) {
        m_best.survivedSteps = 0;
        m_best.pathLength = 0;
        m_best.end = start;
        m_best.mouldSteps = 0;
        m_length = 0;
        m_mould = 0;
        Enter(start.lastY * m_view.pitch + start.lastX);
        m_budget = kSearchBudgetSteps;
        Head head = start;
        if (!Step(head, turnDegrees)) return;
        Keep(head, 1);
        Explore(head, 1);
    }

private:
    // One step of the line: the turn, gravity in every frame up to the next
    // step, the move, and the test of the pixel entered. False where the
    // line would die.
    bool Step(Head& h, int turnDegrees) {
        const View& v = m_view;
        m_budget--;
        const int stepFrame = h.frame;
        MoveHead(h, turnDegrees, v.periodFrames, v.gravityEndFrame);
        const int px = CApp::FloatToInt(h.x), py = CApp::FloatToInt(h.y);
        if (px == h.lastX && py == h.lastY) return true;
        h.lastX = px;
        h.lastY = py;
        if (!InsideInterior(px, py)) return false;
        const bool invincible = stepFrame < v.invincibleEndFrame;
        if (!invincible && Deadly(px, py, stepFrame)) return false;
        if (InMould(px, py)) m_mould++;
        Enter(py * v.pitch + px);
        return true;
    }

    bool Deadly(int px, int py, int frame) const {
        const View& v = m_view;
        if (!OpenPixel(v, px, py)) return true;
        const int32_t index = py * v.pitch + px;
        if (frame >= v.noTrailEndFrame)
            for (int k = 0; k < m_length; k++)
                if (m_path[k] == index) return true;
        const int margin = kPredictionMarginSteps * v.periodFrames;
        for (int k = 0; k < v.predictedCount; k++)
            if (v.predicted[k].index == index && v.predicted[k].frame <= frame + margin) return true;
        for (int k = 0; k < v.trackCount; k++)
            if (NearTrack(v.tracks[k], px, py, frame, v.nowFrame)) return true;
        return false;
    }

    bool InMould(int px, int py) const {
        for (int k = 0; k < m_view.mouldCount; k++) {
            const int dx = px - m_view.moulds[k].x, dy = py - m_view.moulds[k].y;
            if (dx * dx + dy * dy <= kMouldReachPx * kMouldReachPx) return true;
        }
        return false;
    }

    void Enter(int32_t index) {
        if (m_length < kHorizonSteps + 1) m_path[m_length++] = index;
    }

    void Keep(const Head& head, int steps) {
        if (steps <= m_best.survivedSteps) return;
        m_best.survivedSteps = steps;
        m_best.end = head;
        m_best.pathLength = m_length;
        m_best.mouldSteps = m_mould;
        std::copy(m_path, m_path + m_length, m_best.path);
    }

    // Depth first over the choices of each segment, until a way through the
    // horizon is found or the budget is spent.
    void Explore(const Head& from, int steps) {
        if (steps >= kHorizonSteps) return;
        const int segment = std::min(kSegmentSteps, kHorizonSteps - steps);
        for (int choice : kChoices) {
            if (m_budget <= 0 || m_best.survivedSteps >= kHorizonSteps) return;
            Head head = from;
            const int savedLength = m_length, savedMould = m_mould;
            const int turns = std::abs(choice), sign = choice < 0 ? -1 : 1;
            int done = 0;
            bool alive = true;
            for (int k = 0; k < segment && alive; k++) {
                alive = Step(head, k < turns ? sign * kTurnDegrees : 0);
                done += alive;
            }
            Keep(head, steps + done);
            if (alive) Explore(head, steps + done);
            m_length = savedLength;
            m_mould = savedMould;
        }
    }

    const View& m_view;
    PathResult& m_best;
    int32_t m_path[kHorizonSteps + 1] = {};
    int m_length = 0;
    int m_mould = 0;
    int m_budget = 0;
};

}  // namespace

PathResult SearchFirstMove(const View& view, const Head& start, int turnDegrees) {
    PathResult result;
    Search(view, result).Run(start, turnDegrees);
    return result;
}

}  // namespace planner
