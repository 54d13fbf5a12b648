// The round's online hooks (see onlineround.h).
#include "match/onlineround.h"

#include "match/digest.h"
#include "match/replay.h"
#include "match/round.h"
#include "match/session.h"

namespace {

OnlineWaitHook g_wait = nullptr;
OnlinePauseHook g_pause = nullptr;

}  // namespace

void SetOnlineWaitHook(OnlineWaitHook hook) { g_wait = hook; }
void SetOnlinePauseHook(OnlinePauseHook hook) { g_pause = hook; }

uint8_t OnlinePauseCheck(CSession& session) {
    CRound& r = theRound;
    const int32_t frame = r.state.frameCounter;
    // The state after the last frame that ticked, once a second.
    if (session.tickedFrame >= 0 && session.tickedFrame == frame - 1) session.RecordDigest(frame - 1, MatchDigest());
    if (session.Role() == SESSION_HOST) {
        int step = (TakeKey(plat::VK_NEXT) ? 1 : 0) - (TakeKey(plat::VK_PRIOR) ? 1 : 0);
        if (step) session.QueueWait(frame, uint16_t(CRound::LimitWait(int64_t(r.state.wait) + step)));
    }
    bool pauseKey = TakeKeyboardKey(plat::VK_ESCAPE) || TakePadButton(plat::PAD_START);
    for (int s = 0; pauseKey && s < kPlayers; s++)
        if (session.HoldsSeat(s)) {
            session.QueuePause(frame, s);
            break;
        }
    while (!session.FrameReady(frame) && !session.Stopped())
        if (!g_wait || !g_wait()) break;
    if (session.Stopped() || !session.FrameReady(frame)) return ROUND_EXIT;
    uint8_t takeovers = 0;
    bool pause = false;
    session.BeginFrame(frame, &takeovers, &pause, plat::TimeMs());
    for (int s = 0; s < kPlayers; s++)
        if ((takeovers >> s) & 1) r.players[s].type = PLAYER_NORMAL;
    if (pause && g_pause) return g_pause(session);
    return 0;
}

uint8_t OnlineSeatActions(CSession& session, int seat, uint8_t live) {
    const int32_t frame = theRound.state.frameCounter;
    if (live && session.HoldsSeat(seat)) session.QueuePress(frame, seat, live);
    return session.TakePresses(frame, seat);
}

bool OnlineClockTicks(CSession& session, bool timerSays) {
    CRound& r = theRound;
    const int32_t frame = r.state.frameCounter;
    if (timerSays) session.QueueTick(frame);
    uint16_t wait;
    if (session.TakeWait(frame, &wait)) {
        r.state.wait = wait;
        r.ChangeWait(0);  // the status line shows the new WAIT
    }
    const bool tick = session.TakeTick(frame);
    if (tick) session.tickedFrame = frame;
    return tick;
}
