// Playing a round (see roundplay.h).
#include "screens/roundplay.h"

#include "computer/computer.h"
#include "graphics/directdraw.h"
#include "match/headmarks.h"
#include "match/rules.h"
#include "net/session.h"
#include "online/onlineround.h"
#include "replay/replay.h"
#include "screens/pausemenu.h"
#include "screens/results.h"
#include "sound/directsound.h"

namespace {

constexpr uint32_t kSecondMs = 1000;

// This machine's one-second clock: the only read of time in a round. The
// mark is set to the time read, so late frames do not catch up. It counts
// game time, not the wall's: a frame that AUTO_FAST cut short counts as long
// as its wait would have lasted, so that hurrying a round along changes no
// second and no score.
bool ClockSecond(RoundLocals& local, int32_t wait) {
    const uint32_t wall = plat::TimeMs();
    if (local.autoFastedFrame) {
        // The frame lasted its engine work and one pump; at its pace it
        // would have lasted its wait, or its work if that was longer.
        const int64_t waitUs = WaitFrameUs(CRound::LimitWait(wait));
        const int64_t tookUs = int64_t(wall - local.frameWallMs) * 1000;
        if (tookUs < waitUs) local.clockAheadUs += waitUs - tookUs;
    }
    local.frameWallMs = wall;
    const uint32_t now = wall + uint32_t(local.clockAheadUs / 1000);
    if (now - local.lastSecondMs <= kSecondMs) return false;
    local.lastSecondMs = now;
    return true;
}

// The keys of the human seats whose lines act as the frame begins (a seat a
// computer takes over in this frame has none).
void TakeLiveSeatKeys(int32_t frame, uint8_t takeovers, uint8_t (&live)[kPlayers]) {
    for (int seat = 0; seat < kPlayers; seat++) {
        const PlayerSlot& slot = theRound.players[seat];
        const bool human = EffectivePlayerType(slot.type) == PLAYER_MAN && !((takeovers >> seat) & 1);
        live[seat] = human && SlotActs(slot, frame) ? TakeSeatKeys(seat) : 0;
    }
}

// Escape or any pad's start button opens the "STOP" menu, where WAIT can be
// changed and the round left; the round does not move meanwhile. A pad's
// east button, Escape in the menus, does not pause play, so that a thumb
// slipping off the item button cannot stop the round. Returns the menu's way
// out of the round, or 0; *wait is the WAIT it leaves.
uint8_t PauseMenu(int32_t* wait) {
    CRound& r = theRound;
    const int32_t before = r.state.wait;
    r.state.wait = *wait;  // the menu shows and changes the round's WAIT
    CPauseMenu menu;
    {
        CHeadMarkScope hidden(false);  // the menu stands over the field
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        menu.Run();
    }
    *wait = r.state.wait;
    r.state.wait = before;  // the frame's input changes it
    if (menu.cursor == PAUSE_NEXT_ROUND) return ROUND_NEXT;
    if (menu.cursor == PAUSE_EXIT) return ROUND_EXIT;
    return 0;
}

// Local play: Page Down and Page Up change WAIT, Escape pauses, the clock
// ticks, and the seats' keys press.
void LocalFrameInput(int32_t frame, FrameInput* input) {
    CRound& r = theRound;
    int32_t wait = r.state.wait;
    if (TakeKey(plat::VK_NEXT)) wait = CRound::LimitWait(int64_t(wait) + 1);
    if (TakeKey(plat::VK_PRIOR)) wait = CRound::LimitWait(int64_t(wait) - 1);
    bool pause = TakeKeyboardKey(plat::VK_ESCAPE);
    if (TakePadButton(plat::PAD_START)) pause = true;
    if (pause) input->leave = PauseMenu(&wait);
    if (wait != r.state.wait) {
        input->waitSet = 1;
        input->wait = wait;
    }
    if (input->leave) return;
    if (ClockSecond(r.local, wait)) {
        input->tick = 1;
        input->tickState = theApp.RandState();
    }
    TakeLiveSeatKeys(frame, 0, input->seats);
}

void OnlineFrameInput(CSession& session, int32_t frame, FrameInput* input) {
    if (!OnlineFrameBegins(session, frame, input)) return;
    const bool second = ClockSecond(theRound.local, theRound.state.wait);
    uint8_t live[kPlayers];
    TakeLiveSeatKeys(frame, input->takeovers, live);
    OnlineFrameEvents(session, frame, second, live, input);
}

// With AUTO_FAST, once only computer players are left the frame waits one
// pump, as with Control held: the pace changes, the round does not, and the
// clock counts the frame as long as its wait (Control held still counts the
// time that passed). WAIT from the settings file is used within the menu's
// limits.
void PaceFrame() {
    CRound& r = theRound;
    const bool hurried = r.autoFast && r.OnlyComputersLeft();
    r.local.autoFastedFrame = hurried && !theApp.ctrlFlag;
    theApp.PumpMessagesN(hurried ? 1 : CRound::LimitWait(r.state.wait) * kPumpsPerWait);
}

}  // namespace

uint8_t TakeSeatKeys(int seat) {
    const SeatKeyCodes keys = SeatKeys(seat);
    uint8_t* state = theApp.keyState;
    uint8_t actions = 0;
    const int kinds[3][2] = {{SEAT_KEY_LEFT, SEAT_LEFT}, {SEAT_KEY_RIGHT, SEAT_RIGHT}, {SEAT_KEY_ITEM, SEAT_ITEM}};
    for (const auto& kind : kinds) {
        if (state[keys[kind[0]]] != 1) continue;
        state[keys[kind[0]]] = 2;
        actions |= uint8_t(kind[1]);
    }
    if (seat < 0 || seat >= plat::kPadSlots) return actions;
    uint8_t* pad = theApp.padState[seat];
    const uint32_t buttons[5][2] = {{plat::PAD_LEFT, SEAT_LEFT},
                                    {plat::PAD_LSHOULDER, SEAT_LEFT},
                                    {plat::PAD_RIGHT, SEAT_RIGHT},
                                    {plat::PAD_RSHOULDER, SEAT_RIGHT},
                                    {plat::PAD_SOUTH, SEAT_ITEM}};
    for (const auto& button : buttons) {
        if (pad[button[0]] != 1) continue;
        pad[button[0]] = 2;
        actions |= uint8_t(button[1]);
    }
    return actions;
}

void TakeFrameInput(int32_t frame, FrameInput* input) {
    *input = FrameInput{};
    if (theReplay.Playing())
        theReplay.PlaybackInput(frame, input);
    else if (theReplay.feed)
        OnlineFrameInput(*theReplay.feed, frame, input);
    else
        LocalFrameInput(frame, input);
}

int PlayFrame() {
    const int32_t frame = theRound.NextFrame();
    FrameInput input;
    TakeFrameInput(frame, &input);
    const FrameInput given = input;
    const int result = theRound.Frame(input, ThinkComputer);
    theReplay.FrameDone(given, input);
    if (result == FRAME_GO_ON) PaceFrame();
    return result;
}

void BeginMatch() {
    theRound.ResetMatch();
    theReplay.NewMatch();
}

void StartRound(const RoundStart& roundStart, bool shown) {
    CRound& r = theRound;
    const uint32_t seed = theApp.RandState();
    RoundStart started = roundStart;
    started.seed = seed;
    PrepareComputers(r.players);
    r.Setup(started);
    theReplay.BeginRecording(seed);
    if (shown)
        r.Countdown();
    else if (!r.state.scrollPlay)
        theDirectDraw.CopyScreen(kVisibleSurface, r.local.playfieldSurface);
    r.local.lastSecondMs = plat::TimeMs();
}

int PlayRound(const RoundStart& roundStart) {
    CRound& r = theRound;
    StartRound(roundStart, true);
    int result;
    {
        CHeadMarkScope marks(true);
        while ((result = PlayFrame()) == FRAME_GO_ON) {
        }
    }
    CSession* session = theReplay.feed;
    if (result != FRAME_ROUND_OVER) {
        // Online, a round the session stopped (this machine parted from the
        // host, was let go, or the host is gone) is kept up to the stop.
        if (session && session->Stopped()) {
            char note[2 * kNetTextMax];
            session->StopNote(note, sizeof note);
            OnlineRoundEnds(*session);
            theReplay.EndStoppedRecording();  // the stop came before this frame ran
            theReplay.KeepStoppedRound(note);
        } else {
            theReplay.AbandonRecording();
        }
        r.Teardown();
        return result;
    }
    if (session) OnlineRoundEnds(*session);
    theReplay.EndRecording();
    theReplay.SaveLast();
    // A pad's item button is south, Return on the result screen: a press
    // made or held in play must not choose there.
    ForgetPadPresses();
    CResultScreen results;
    results.Run();
    r.Teardown();
    return ROUND_NEXT + results.cursor;
}
