// COnline's match flow. The host runs the match loop as local play does
// (intro, selector, round, results), with the session as the round's feed;
// its menus send their cursor and choice to every machine. A joining machine
// is driven by what arrives: a menu message opens the same screen, which
// follows the host's cursor; a round start record starts the same round.
// Each machine keeps its own keyboard, music and sound settings; the host's
// round settings apply for the match only, and every machine's own settings
// are put back afterwards, so nothing a joining machine saves later is the
// host's.
#include "screens/online.h"

#include <cstdio>

#include "graphics/menu.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "match/rules.h"
#include "match/settings.h"
#include "online/onlineround.h"
#include "replay/replay.h"
#include "screens/matchloop.h"
#include "screens/onlinetext.h"
#include "screens/roundintro.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "screens/standings.h"
#include "sound/bgm.h"

namespace {

// A frame of the round at its WAIT, in microseconds.
int32_t FrameUs() { return int32_t(WaitFrameUs(CRound::LimitWait(theRound.state.wait))); }

}  // namespace

// ---- matches ----------------------------------------------------------------------

// The host's settings apply for the match; this machine's own come back after it.
void COnline::BeginMatch() {
    for (int s = 0; s < S_COUNT; s++) m_savedSettings[s] = FetchValue(SettingAt(s));
    SetOnlineMenuSession(&session);
    ::BeginMatch();
    // A joining machine learns the host's MATCH_ROUNDS with the first round:
    // its first intro counts no rounds rather than its own.
    if (session.Role() == SESSION_CLIENT) theRound.matchRounds = 0;
    theBgm.Close();
}

void COnline::EndMatch() {
    SetOnlineMenuSession(nullptr);
    for (int s = 0; s < S_COUNT; s++) StoreValue(SettingAt(s), m_savedSettings[s]);
    theItemManager.BuildPool();
    theReplay.feed = nullptr;
    theBgm.Stop();
    theApp.ClearKeys();
}

// The intro shows the seats as they will play.
void COnline::ShowSeatsAsTheyPlay() {
    for (int s = 0; s < kPlayers; s++)
        theRound.players[s].type = SeatPlayerType(session.seatKinds[s], session.seatHolders[s] != kNoHolder);
}

namespace {

// The match loop's online steps, on this machine's online screen.
void ShowSeatsStep() { theOnline.ShowSeatsAsTheyPlay(); }
void HostRoundStep(const RoundStart& chosen) { theOnline.HostRoundStarts(chosen); }
bool FollowHostStep(RoundStart* chosen) { return theOnline.FollowHostToRound(chosen); }

}  // namespace

void COnline::HostMatch() {
    BeginMatch();
    const MatchOnline online{&session, ShowSeatsStep, HostRoundStep, FollowHostStep};
    PlayMatch(&online);
    session.SendMenu(SCREEN_LOBBY, 0, 0);
    EndMatch();
}

// The host's round starts: its start record, with the music and the seats,
// goes to every machine.
void COnline::HostRoundStarts(const RoundStart& chosen) {
    theItemManager.BuildPool();
    NetRoundStart start;
    MakeRoundStart(session, chosen, theBgm.playing ? theStageSelect.playingBgm : -1, &start);
    for (int s = 0; s < kPlayers; s++) theRound.players[s].type = start.seatTypes[s];
    session.BeginRound(&start, FrameUs(), plat::TimeMs());
}

void COnline::ClientMatch() {
    BeginMatch();
    const MatchOnline online{&session, ShowSeatsStep, HostRoundStep, FollowHostStep};
    PlayMatch(&online);
    EndMatch();
}

// A joining machine's part between rounds: the screens the host opens, until
// the host's next round starts. False when the match is over for this
// machine: the host is gone or back in the lobby, or its round cannot be
// played here (the reason is in the note).
bool COnline::FollowHostToRound(RoundStart* chosen) {
    while (!session.HostLost()) {
        if (session.RoundStarting()) return ClientRoundStarts(chosen);
        NetMessage m;
        if (session.PeekMenu(&m)) {
            if (m.screen == SCREEN_INTRO) {
                if (theRound.roundCounter == 0) ShowSeatsAsTheyPlay();
                theRoundIntro.Run();
            } else if (m.screen == SCREEN_SELECTOR) {
                theStageSelect.Run();
                theStageSelect.cursor = 0;
            } else if (m.screen == SCREEN_STANDINGS) {
                theFinalStandings.Run();
            } else {
                session.TakeMenu(&m);  // the match is over, or a screen of a round this machine did not play
                if (m.screen == SCREEN_LOBBY) return false;
            }
            continue;
        }
        theApp.StartFrame();
        theApp.DrawBackground(true);
        DrawUpper(224, "WAITING FOR THE HOST", kTitleColor);
        if (TakeKey(plat::VK_ESCAPE) && OnlineConfirmLeave()) session.Leave();
        menu::EndFrame();
    }
    return false;
}

// A round the host started: its start applied here, with its music.
bool COnline::ClientRoundStarts(RoundStart* chosen) {
    const NetRoundStart start = session.StartRecord();
    session.TakeRoundStart();
    char why[kNetTextMax + 1];
    if (!ApplyRoundStart(start, theStageSelect.stages, theStageSelect.stageCount, chosen, why, sizeof why)) {
        std::snprintf(m_note, sizeof m_note, "%s", why);
        return false;
    }
    CStageSelect& select = theStageSelect;
    if (start.bgm >= 0 && start.bgm < select.bgmCount) {
        if (select.playingBgm != start.bgm || !theBgm.playing) select.PlayBgm(start.bgm);
    } else {
        theBgm.Stop();
    }
    NetRoundStart mine = start;
    session.BeginRound(&mine, FrameUs(), plat::TimeMs());
    return true;
}
