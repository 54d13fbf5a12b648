// The round's online hooks (see onlineround.h).
#include "online/onlineround.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "graphics/menu.h"
#include "items/itemmanager.h"
#include "match/digest.h"
#include "match/headmarks.h"
#include "match/round.h"
#include "match/settings.h"
#include "net/session.h"
#include "sound/directsound.h"

namespace {

OnlineWaitHook g_wait = nullptr;
OnlinePauseHook g_pause = nullptr;

}  // namespace

void SetOnlineWaitHook(OnlineWaitHook hook) { g_wait = hook; }
void SetOnlinePauseHook(OnlinePauseHook hook) { g_pause = hook; }

bool OnlineFrameBegins(CSession& session, int32_t frame, FrameInput* input) {
    const CRound& r = theRound;
    // The state after the last frame that ticked, once a second.
    if (session.tickedFrame >= 0 && session.tickedFrame == frame - 1) session.RecordDigest(frame - 1, MatchDigest());
    if (session.Role() == SESSION_HOST) {
        int step = (TakeKey(plat::VK_NEXT) ? 1 : 0) - (TakeKey(plat::VK_PRIOR) ? 1 : 0);
        if (step) session.QueueWait(frame, uint16_t(CRound::LimitWait(int64_t(r.state.wait) + step)));
    }
    bool pauseKey = TakeKeyboardKey(plat::VK_ESCAPE) || TakePadButton(plat::PAD_START);
    if (pauseKey && OnlineEscapeOffersLeaving(session, plat::TimeMs())) {
        // No pause menu comes for this key: the player is asked here.
        CHeadMarkScope hidden(false);
        if (OnlineConfirmLeave()) session.Leave();
        pauseKey = false;
    }
    for (int s = 0; pauseKey && s < kPlayers; s++)
        if (session.HoldsSeat(s)) {
            session.QueuePause(frame, s);
            break;
        }
    // The round waits for the host's events; it ends when this machine's
    // session stopped it or is over (never a frozen picture).
    while (!session.FrameReady(frame) && !session.Stopped() && !session.HostLost())
        if (!g_wait || !g_wait()) break;
    if (session.Stopped() || session.HostLost() || !session.FrameReady(frame)) {
        input->leave = ROUND_EXIT;
        return false;
    }
    bool pause = false;
    session.BeginFrame(frame, &input->takeovers, &pause, plat::TimeMs());
    if (pause && g_pause) input->leave = g_pause(session);
    return input->leave == 0;
}

void OnlineFrameEvents(CSession& session, int32_t frame, bool timerSays, const uint8_t (&live)[kPlayers],
                       FrameInput* input) {
    if (timerSays) session.QueueTick(frame);
    uint16_t wait;
    if (session.TakeWait(frame, &wait)) {
        input->waitSet = 1;
        input->wait = wait;
    }
    if (session.TakeTick(frame)) {
        session.tickedFrame = frame;
        input->tick = 1;
        input->tickState = theApp.RandState();
    }
    for (int seat = 0; seat < kPlayers; seat++) {
        if (live[seat]) session.QueuePress(frame, seat, live[seat]);
        input->seats[seat] = session.TakePresses(frame, seat);
    }
}

void OnlineRoundEnds(CSession& session) { session.RecordDigest(theRound.state.frameCounter, MatchDigest()); }

namespace {

// Settings that belong to each machine and never travel.
// The display, the keys and the sound stay this machine's own in a match
// another machine hosts.
bool MachineOwnSetting(int s) {
    return SettingAt(s).personal || s == S_KEYBOARD_TYPE || s == S_MIDI_DEVICE || s == S_SOUND_EFFECT ||
           s == S_SOUND_VOLUME;
}

}  // namespace

void MakeRoundStart(const CSession& session, const RoundStart& chosen, int32_t bgm, NetRoundStart* out) {
    std::memset(out, 0, sizeof *out);
    const CRound& r = theRound;
    out->seed = theApp.RandState();
    std::memcpy(out->phase, r.state.phase, sizeof out->phase);
    out->scrollPlay = chosen.scrollPlay;
    out->roundCounter = r.roundCounter;
    out->stageCount = chosen.stageCount;
    const bool fixed = chosen.selectedStage >= 0 && chosen.selectedStage < chosen.stageCount;
    out->selectedStage = fixed ? chosen.selectedStage : chosen.stageCount;
    if (fixed) std::snprintf(out->stageFile, sizeof out->stageFile, "%s", chosen.stages[chosen.selectedStage].file);
    out->bgm = bgm;
    for (int i = 0; i < kPlayers; i++) {
        const bool held = session.seatHolders[i] != kNoHolder || session.seatKinds[i] == SEAT_LOCAL;
        out->seatTypes[i] = SeatPlayerType(session.seatKinds[i], held);
        out->totalScores[i] = r.players[i].totalScore;
        out->matchCounters[i] = r.players[i].matchCounter;
        out->endFrames[i] = r.players[i].endFrame;
        out->endSeconds[i] = r.players[i].endSecond;
    }
    static_assert(S_COUNT <= kNetSettingsMax, "a round start record carries every setting");
    out->settingCount = S_COUNT;
    for (int s = 0; s < S_COUNT; s++)
        out->settings[s] = (s >= S_PLAYER_TYPE0 && s < S_PLAYER_TYPE0 + kPlayers) ? out->seatTypes[s - S_PLAYER_TYPE0]
                                                                                  : FetchValue(SettingAt(s));
    out->delayFrames = 1;
}

bool ApplyRoundStart(const NetRoundStart& start, const StageEntry* stages, int32_t stageCount, RoundStart* out,
                     char* why, size_t whySize) {
    if (start.stageCount != stageCount || start.settingCount != S_COUNT) {
        std::snprintf(why, whySize, "The stage list or the settings of the host differ from those here.");
        return false;
    }
    // Settings out of range would reach the round (and its arithmetic) as
    // they are: such a start is refused before anything of it is applied.
    const int bad = FirstOutOfRange(start.settings, S_COUNT);
    if (bad >= 0) {
        char value[96];
        DescribeOutOfRange(bad, start.settings[bad], value, sizeof value);
        std::snprintf(why, whySize, "The host's round start holds values no round can have: %s.", value);
        return false;
    }
    const bool fixed = start.selectedStage < stageCount;
    if (fixed) {
        char path[300];
        std::snprintf(path, sizeof path, "Stage\\%s", start.stageFile);
        if (!NetPlainFileName(start.stageFile) || std::strcmp(start.stageFile, stages[start.selectedStage].file) != 0 ||
            !plat::FileExists(path)) {
            std::snprintf(why, whySize, "The stage picture %.60s of the host is not in the data set here.",
                          start.stageFile);
            return false;
        }
    }
    for (int s = 0; s < S_COUNT; s++)
        if (!MachineOwnSetting(s)) StoreValue(SettingAt(s), start.settings[s]);
    CRound& r = theRound;
    std::memcpy(r.state.phase, start.phase, sizeof start.phase);
    r.roundCounter = start.roundCounter;
    for (int i = 0; i < kPlayers; i++) {
        r.players[i].type = start.seatTypes[i];
        r.players[i].totalScore = start.totalScores[i];
        r.players[i].matchCounter = start.matchCounters[i];
        r.players[i].endFrame = start.endFrames[i];
        r.players[i].endSecond = start.endSeconds[i];
    }
    theItemManager.BuildPool();
    theItemManager.fieldCount = 0;
    theApp.Seed(start.seed);
    *out = RoundStart{stages, stageCount, start.selectedStage, start.scrollPlay, 0, 0, start.seed};
    return true;
}

// ---- menus --------------------------------------------------------------------

namespace {

CSession* g_menuSession = nullptr;
struct LastLead {
    uint8_t screen;
    int32_t cursor, value;
} g_lastLead{0, -1, -1};
int g_removeMachine = 0;  // the machine the host's pause menu offers to remove

// The menu keys a following machine must not act on (Escape and the arrows
// would otherwise wait in the key table for the next local menu).
void DropMenuKeys() {
    for (uint32_t vk : {plat::VK_UP, plat::VK_DOWN, plat::VK_LEFT, plat::VK_RIGHT, plat::VK_RETURN, plat::VK_ESCAPE,
                        plat::VK_SPACE, plat::VK_R})
        TakeKey(vk);
}

}  // namespace

void SetOnlineMenuSession(CSession* session) {
    g_menuSession = session;
    g_lastLead = LastLead{0, -1, -1};
}

// A menu message: choice is the cursor, value is the screen's value times
// two plus one when the host chose.
bool OnlineMenuFollows(uint8_t screen, int32_t* cursor, int32_t* value, bool* chosen) {
    if (!g_menuSession || g_menuSession->Role() != SESSION_CLIENT) return false;
    if (TakeKey(plat::VK_ESCAPE) && OnlineConfirmLeave()) g_menuSession->Leave();
    DropMenuKeys();
    *chosen = g_menuSession->HostLost();
    NetMessage m;
    while (!*chosen && g_menuSession->PeekMenu(&m)) {
        // The host is on another screen already: this one is over, and the
        // message is the next screen's.
        if (m.screen != screen) return *chosen = true, true;
        g_menuSession->TakeMenu(&m);
        *cursor = m.choice;
        *value = m.value >> 1;
        *chosen = (m.value & 1) != 0;
    }
    return true;
}

void OnlineMenuLeads(uint8_t screen, int32_t cursor, int32_t value, bool chosen) {
    if (!g_menuSession || g_menuSession->Role() != SESSION_HOST) return;
    if (!chosen && g_lastLead.screen == screen && g_lastLead.cursor == cursor && g_lastLead.value == value) return;
    g_lastLead = chosen ? LastLead{0, -1, -1} : LastLead{screen, cursor, value};
    g_menuSession->SendMenu(screen, uint8_t(cursor), value * 2 + (chosen ? 1 : 0));
}

bool OnlineEscapeOffersLeaving(const CSession& session, uint32_t nowMs) {
    if (session.Role() != SESSION_CLIENT) return false;
    bool seated = false;
    for (int s = 0; s < kPlayers; s++) seated = seated || session.HoldsSeat(s);
    return !seated || !session.MayAskForPause(nowMs);
}

bool OnlineConfirmLeave() {
    static const char* const kChoices[2] = {"STAY", "LEAVE"};
    constexpr int kQuestionY = 184, kChoiceY = 232, kChoiceStep = 32;
    const ClipRect clip = theDirectDraw.DestClip();
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
    theApp.ClearKeys();
    int cursor = 0;
    bool leave = false;
    for (;;) {
        theApp.StartFrame();
        if (g_menuSession && g_menuSession->HostLost()) break;  // over anyway
        theApp.DrawBackground(true);
        theApp.DrawText(kBackBuffer, 0, kQuestionY, "LEAVE THE MATCH", 7, true, 0);
        for (int i = 0; i < 2; i++)
            theApp.DrawText(kBackBuffer, 0, kChoiceY + kChoiceStep * i, kChoices[i], 5, true, 0);
        menu::HighlightEntry(kChoices[cursor], kChoiceY - 4 + kChoiceStep * cursor);
        menu::EndFrame();
        if (TakeKey(plat::VK_UP) || TakeKey(plat::VK_DOWN)) {
            theDirectSound.Play(SE_CUR_MOVE, 0, 0);
            cursor ^= 1;
        }
        if (TakeKey(plat::VK_ESCAPE)) break;
        if (TakeKey(plat::VK_RETURN)) {
            theDirectSound.Play(SE_CUR_OK, 0, 0);
            leave = cursor == 1;
            break;
        }
    }
    theApp.ClearKeys();
    theDirectDraw.SetDestClip(clip.left, clip.top, clip.right - clip.left + 1, clip.bottom - clip.top + 1);
    return leave;
}

namespace {

// The joined machines in turn from `from`, step by step (0: from itself if
// it is still joined); 0 when there is none.
int RemovableMachine(const CSession& s, int from, int step) {
    const int direction = step < 0 ? -1 : 1;
    for (int n = step == 0 ? 0 : 1; n <= kNetLinksMax; n++) {
        const int k = ((from + direction * n) % kNetLinksMax + kNetLinksMax) % kNetLinksMax;
        if (k > 0 && s.Link(k).present && s.Link(k).name[0]) return k;
    }
    return 0;
}

}  // namespace

// ---- seats --------------------------------------------------------------------

namespace {

const char* const kSeatLabels[kPlayerTypes] = {"MAN", "NON", "EASY", "NORM", "HARD", "MSTR"};

// The machine that holds a person's seat online, or -1 (local play, a seat
// without a holder).
int SeatHolder(int seat) {
    if (!g_menuSession) return -1;
    const CSession& s = *g_menuSession;
    if (s.seatKinds[seat] == SEAT_LOCAL) return 0;
    return s.seatKinds[seat] == SEAT_REMOTE && s.seatHolders[seat] < kNetMachinesMax ? s.seatHolders[seat] : -1;
}

}  // namespace

bool OnlinePauseRow(int step, bool choose, char* entry, size_t size) {
    CSession* s = g_menuSession;
    if (!s || s->Role() == SESSION_OFF) return false;
    if (s->Role() == SESSION_CLIENT) {
        std::snprintf(entry, size, "ESC: LEAVE THE MATCH");
        return true;
    }
    if (choose && g_removeMachine > 0) {
        s->Remove(g_removeMachine);
        step = 1;
    }
    const bool opening = step == 0 && !choose;
    g_removeMachine = RemovableMachine(*s, g_removeMachine, step);
    if (!g_removeMachine) {
        std::snprintf(entry, size, "NOBODY TO REMOVE");
        return !opening;
    }
    char name[kNetNameMax + 1];
    size_t n = 0;
    for (const char* c = s->Link(g_removeMachine).name; *c && n < size_t(kNetNameMax); c++)
        name[n++] = char(std::toupper(static_cast<unsigned char>(*c)));
    name[n] = 0;
    std::snprintf(entry, size, "REMOVE <_%s_>", name);
    return true;
}

void SeatLabel(int seat, char* text, size_t size) {
    if (size == 0) return;
    text[0] = '\0';
    if (seat < 0 || seat >= kPlayers) return;
    const int type = EffectivePlayerType(theRound.players[seat].type);
    const int holder = type == PLAYER_MAN ? SeatHolder(seat) : -1;
    const char* name = holder >= 0 ? g_menuSession->Link(holder).name : "";
    size_t n = 0;
    // Lower-case letters are glyphs of their own (the arrows), so a name is
    // shown in capitals; what the font does not draw is left out.
    for (const char* c = name; *c && n + 1 < size; c++) {
        const char upper = char(std::toupper(static_cast<unsigned char>(*c)));
        if (upper == ' ' || CApp::HasGlyph(upper)) text[n++] = upper;
    }
    text[n] = '\0';
    if (n == 0) std::snprintf(text, size, "%s", kSeatLabels[type]);
}
