// COnline: the online screen, the lobby and the online match loops, and the
// transport glue (see online.h).
//
// The host runs the match loop as local play does (intro, selector, round,
// results), with the session as the round's feed; its menus send their cursor
// and choice to every machine. A joining machine is driven by what arrives:
// a menu message opens the same screen, which follows the host's cursor; a
// round start record starts the same round. Each machine keeps its own
// keyboard, music and sound settings; the host's round settings apply for the
// match only, and every machine's own settings are put back afterwards, so
// nothing a joining machine saves later is the host's.
#include "screens/online.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "items/itemmanager.h"
#include "match/onlineround.h"
#include "match/pausemenu.h"
#include "match/replay.h"
#include "match/round.h"
#include "match/settings.h"
#include "platform/net.h"
#include "screens/roundintro.h"
#include "screens/stageselect.h"
#include "screens/standings.h"
#include "sound/bgm.h"
#include "sound/directsound.h"

namespace {

constexpr int kHeadY = 24;
constexpr int kSubY = 56;
constexpr int kSeatY = 92;
constexpr int kSeatStep = 28;
constexpr int kStartY = 212;
constexpr int kMachinesY = 252;
constexpr int kMachineStep = 22;
constexpr int kNoteY = 448;
constexpr int kPumpsPerWait = 20;
constexpr uint32_t kMessageShownMs = 2500;
constexpr uint32_t kConnectTimeoutMs = 5000;
constexpr int kLobbyStartLine = kPlayers;  // the lobby's cursor: seats 0..3, then "START"

// A frame of the round at its WAIT, in microseconds (WAIT x 20 pumps of 1.5 us).
int32_t FrameUs() { return CRound::LimitWait(theRound.state.wait) * kPumpsPerWait * 3 / 2; }

// The font has capitals only.
void DrawUpper(int y, const char* text, uint8_t color) {
    char line[100];
    size_t n = 0;
    for (; text[n] && n + 1 < sizeof line; n++) line[n] = char(std::toupper(static_cast<unsigned char>(text[n])));
    line[n] = 0;
    theApp.DrawText(kBackBuffer, 0, y, line, color, true, 0);
}

void SeatText(const CSession& s, int seat, char* text, size_t size) {
    const uint8_t holder = s.seatHolders[seat];
    const char* who = s.seatKinds[seat] == SEAT_REMOTE
                          ? (holder != kNoHolder && s.Link(holder).name[0] ? s.Link(holder).name : "(FREE)")
                      : s.seatKinds[seat] == SEAT_LOCAL ? s.Link(0).name
                                                        : "";
    std::snprintf(text, size, "%dP <_%s_> %s", seat + 1, SeatKindName(s.seatKinds[seat]), who);
}

void PumpNetwork() { theOnline.Pump(); }
bool WaitHook() { return theOnline.Wait(); }
uint8_t PauseHook(CSession&) { return theOnline.Pause(); }
void CloseAtExit() { plat::NetClose(); }

uint32_t CrcOfFile(const char* gamePath, uint32_t crc) {
    crc = Crc32(reinterpret_cast<const uint8_t*>(gamePath), std::strlen(gamePath), crc);
    FILE* f = plat::OpenFile(gamePath, "rb");
    if (!f) return Crc32(reinterpret_cast<const uint8_t*>("-"), 1, crc);
    static uint8_t buffer[64 * 1024];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) crc = Crc32(buffer, n, crc);
    std::fclose(f);
    return crc;
}

}  // namespace

// ---- parsing ----------------------------------------------------------------------

bool ParseSeatKinds(const char* text, uint8_t* kinds) {
    int seat = 0;
    for (const char* at = text; seat < kPlayers; seat++) {
        const char* comma = std::strchr(at, ',');
        const size_t n = comma ? size_t(comma - at) : std::strlen(at);
        char name[16];
        if (n == 0 || n >= sizeof name) return false;
        std::memcpy(name, at, n);
        name[n] = 0;
        const int kind = SeatKindByName(name);
        if (kind < 0) return false;
        kinds[seat] = uint8_t(kind);
        if (!comma) return seat == kPlayers - 1;
        at = comma + 1;
    }
    return false;
}

bool ParseAddress(const char* text, char* host, size_t hostSize, uint16_t* port) {
    const char* colon = std::strrchr(text, ':');
    const size_t n = colon ? size_t(colon - text) : std::strlen(text);
    if (n == 0 || n >= hostSize) return false;
    std::memcpy(host, text, n);
    host[n] = 0;
    if (!colon) return true;
    char* end = nullptr;
    const long p = std::strtol(colon + 1, &end, 10);
    if (!colon[1] || *end || p < 1 || p > 65535) return false;
    *port = uint16_t(p);
    return true;
}

void DataSetDigests(uint32_t* digests) {
    const CStageSelect& s = theStageSelect;
    char path[300];
    uint32_t crc = CrcOfFile("stage\\stage.txt", 0);
    for (int i = 0; i < s.stageCount; i++) {
        std::snprintf(path, sizeof path, "Stage\\%s", s.stages[i].file);
        crc = CrcOfFile(path, crc);
    }
    digests[DATA_STAGES] = crc;
    crc = 0;
    for (const char* name : {"font", "background", "cursor", "title_light"}) {
        std::snprintf(path, sizeof path, "Graphics\\%s.png", name);
        crc = CrcOfFile(path, crc);
    }
    for (const ItemKeyName& key : kItemKeyNames) {
        std::snprintf(path, sizeof path, "Graphics\\Items\\%s.png", key.text);
        crc = CrcOfFile(path, crc);
    }
    digests[DATA_PICTURES] = crc;
    crc = 0;
    for (const EffectRecord& effect : kEffectTable) {
        std::snprintf(path, sizeof path, "Sound\\%.127s", effect.file);
        crc = CrcOfFile(path, crc);
    }
    digests[DATA_SOUNDS] = crc;
    crc = CrcOfFile("bgm\\bgm.txt", 0);
    for (int i = 0; i < s.bgmCount; i++) {
        std::snprintf(path, sizeof path, "Bgm\\%s", s.bgms[i].file);
        crc = CrcOfFile(path, crc);
    }
    digests[DATA_MUSIC] = crc;
}

// ---- the transport glue -------------------------------------------------------------

COnline::COnline() : m_hostPeer(-1), m_lastPumpMs(0), m_open(false), m_note{}, m_savedSettings{} {}

// Machines are numbered by the session: 0 is the host. On the host, peer p
// is machine p + 1; on a joining machine the host's peer is machine 0.
int COnline::MachineOfPeer(int peer) const {
    if (session.Role() == SESSION_HOST) return peer + 1;
    return peer == m_hostPeer ? 0 : -1;
}

int COnline::PeerOfMachine(int machine) const {
    if (session.Role() == SESSION_HOST) return machine - 1;
    return machine == 0 ? m_hostPeer : -1;
}

// At most once a millisecond: what arrived goes into the session, its timers
// run, and what it has to send goes out. A joining machine that has more of
// the stream than it needs skips its frames' waits until it is back in step.
void COnline::Pump() {
    if (!m_open) return;
    const uint32_t now = plat::TimeMs();
    if (now == m_lastPumpMs) return;
    m_lastPumpMs = now;
    static plat::NetEvent e;
    while (plat::NetPoll(&e)) {
        const int machine = MachineOfPeer(e.peer);
        if (machine < 0) continue;
        if (e.type == plat::NET_EVENT_CONNECT) session.Connected(machine, now);
        if (e.type == plat::NET_EVENT_DISCONNECT) session.Disconnected(machine, now);
        // An oversized message is refused by the decoder on its size alone.
        if (e.type == plat::NET_EVENT_RECEIVE) session.Receive(machine, e.data, e.size, now);
    }
    session.Service(now);
    static OutMessage out;
    while (session.TakeOutgoing(&out)) plat::NetSend(PeerOfMachine(out.machine), out.bytes, out.size, out.reliable);
    for (int machine; (machine = session.TakeClosing()) >= 0;) plat::NetDisconnect(PeerOfMachine(machine));
    plat::NetFlush();
    // Online, Control does not speed the round up; a machine behind catches up.
    theApp.ctrlFlag = session.Role() == SESSION_CLIENT && session.InRound() &&
                      session.FinalFrame() - theRound.state.frameCounter > 2 * session.DelayFrames() + 8;
}

bool COnline::Wait() {
    theApp.PumpMessages();
    plat::Idle(plat::TimeUs() + 1000);
    return !session.Stopped();
}

uint8_t COnline::Pause() {
    CPauseMenu menu;
    theDirectSound.Play(SE_CUR_OK, 0, 0);
    const int32_t wait = theRound.state.wait;
    menu.Run();
    // A WAIT the host chose reaches every machine's round through the stream.
    const int32_t chosen = theRound.state.wait;
    theRound.state.wait = wait;
    if (session.Role() == SESSION_HOST && chosen != wait)
        session.QueueWait(theRound.state.frameCounter, uint16_t(CRound::LimitWait(chosen)));
    if (session.Stopped()) return ROUND_EXIT;
    if (menu.cursor == PAUSE_NEXT_ROUND) return ROUND_NEXT;
    if (menu.cursor == PAUSE_EXIT) return ROUND_EXIT;
    return 0;
}

bool COnline::Open() {
    m_note[0] = 0;
    if (!plat::NetStart()) return std::snprintf(m_note, sizeof m_note, "The network cannot be used."), false;
    char name[kNetNameMax + 1];
    std::snprintf(name, sizeof name, "%s", plan.name[0] ? plan.name : (std::getenv("USER") ? std::getenv("USER") : ""));
    if (!NetTextOk(name, kNetNameMax) || !name[0]) std::snprintf(name, sizeof name, "PLAYER");
    if (plan.mode == OnlinePlan::HOST) {
        if (!plat::NetListen(plan.port, kNetMachinesMax - 1)) {
            std::snprintf(m_note, sizeof m_note, "Port %u cannot be opened (in use?).", unsigned(plan.port));
            return false;
        }
        session.StartHost(name);
        session.allowSeveralSeats = plan.allowSeveralSeats;
        DataSetDigests(session.dataDigests);
        std::memcpy(session.seatKinds, plan.seatKinds, sizeof session.seatKinds);
    } else {
        char host[128];
        uint16_t port = kNetDefaultPort;
        if (!ParseAddress(plan.address, host, sizeof host, &port)) {
            std::snprintf(m_note, sizeof m_note, "\"%.60s\" is not an address (HOST or HOST:PORT).", plan.address);
            return false;
        }
        m_hostPeer = plat::NetConnect(host, port);
        if (m_hostPeer < 0) {
            std::snprintf(m_note, sizeof m_note, "The host \"%.60s\" is not known.", host);
            plat::NetClose();
            return false;
        }
        uint32_t digests[kNetDataParts];
        DataSetDigests(digests);
        session.StartClient(name, plan.watch, plan.seatsWanted, digests);
    }
    m_open = true;
    m_lastPumpMs = 0;
    CApp::SetPumpHook(PumpNetwork);
    SetOnlineWaitHook(WaitHook);
    SetOnlinePauseHook(PauseHook);
    static bool exitHooked = false;
    if (!exitHooked) CApp::AddExitHook(CloseAtExit);
    exitHooked = true;
    return true;
}

// Says goodbye (a joining machine) and closes the endpoint, which tells every peer.
void COnline::Close() {
    if (!m_open) return;
    if (session.Role() == SESSION_CLIENT && !session.HostLost()) {
        static uint8_t bytes[16];
        static NetMessage bye;
        std::memset(&bye, 0, sizeof bye);
        bye.type = NET_BYE;
        const size_t size = EncodeNetMessage(bye, bytes, sizeof bytes);
        if (size) plat::NetSend(m_hostPeer, bytes, size, true);
        plat::NetFlush();
    }
    plat::NetClose();
    session.Stop();
    m_open = false;
    CApp::SetPumpHook(nullptr);
    SetOnlineWaitHook(nullptr);
    SetOnlinePauseHook(nullptr);
    theApp.ctrlFlag = 0;
}

// ---- screens -----------------------------------------------------------------------

void COnline::Launch(const OnlinePlan& launch) {
    plan = launch;
    theDirectDraw.SetPaletteBrightness(0);  // the logo intro left it dark
    if (Open()) Lobby();
    ShowMessage(m_note);
    Close();
    theApp.ClearKeys();
}

// The online screen: host, join, watch or back.
void COnline::Run() {
    static const char* const kEntries[] = {"HOST A GAME", "JOIN A GAME", "WATCH A GAME", "BACK"};
    constexpr int kEntriesCount = 4;
    if (!plat::NetAvailable()) {
        ShowMessage("ONLINE PLAY NEEDS THE DESKTOP GAME");
        return;
    }
    int cursor = 0;
    theApp.ClearKeys();
    for (;;) {
        theApp.StartFrame();
        theApp.DrawBackground(true);
        DrawUpper(kHeadY + 60, "ONLINE", 7);
        char port[48];
        std::snprintf(port, sizeof port, "PORT %u", unsigned(plan.port));
        DrawUpper(kHeadY + 100, port, 7);
        for (int i = 0; i < kEntriesCount; i++) DrawUpper(200 + 32 * i, kEntries[i], uint8_t(i == 3 ? 6 : 5));
        menu::HighlightEntry(kEntries[cursor], 196 + 32 * cursor);
        if (m_note[0]) DrawUpper(kNoteY, m_note, 6);
        menu::EndFrame();
        if (TakeKey(plat::VK_UP)) cursor = (cursor + kEntriesCount - 1) % kEntriesCount;
        if (TakeKey(plat::VK_DOWN)) cursor = (cursor + 1) % kEntriesCount;
        if (TakeKey(plat::VK_ESCAPE) || (cursor == 3 && TakeKey(plat::VK_RETURN))) break;
        if (!TakeKey(plat::VK_RETURN)) continue;
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        plan.mode = cursor == 0 ? OnlinePlan::HOST : OnlinePlan::JOIN;
        plan.watch = cursor == 2;
        if (plan.mode == OnlinePlan::JOIN && !PromptAddress()) continue;
        if (Open()) Lobby();
        if (m_note[0]) ShowMessage(m_note);
        Close();
        theApp.ClearKeys();
    }
    theApp.ClearKeys();
}

// Typing the host's address: letters, digits, '.', '-' and ':' (the ';' key
// also gives ':'); Backspace takes one back, Return joins, Escape cancels.
bool COnline::PromptAddress() {
    static const struct {
        uint32_t vk;
        char c;
    } kExtra[] = {
        {plat::VK_OEM_PERIOD, '.'}, {plat::VK_DECIMAL, '.'}, {plat::VK_OEM_MINUS, '-'}, {plat::VK_OEM_1, ':'}};
    char text[sizeof plan.address];
    std::snprintf(text, sizeof text, "%s", plan.address[0] ? plan.address : "127.0.0.1");
    theApp.ClearKeys();
    for (;;) {
        theApp.StartFrame();
        theApp.DrawBackground(true);
        DrawUpper(160, "HOST ADDRESS", 7);
        char shown[sizeof text + 2];
        std::snprintf(shown, sizeof shown, "%s_", text);
        DrawUpper(200, shown, 5);
        DrawUpper(260, "RETURN JOIN   ESC BACK", 7);
        menu::EndFrame();
        size_t n = std::strlen(text);
        if (TakeKey(plat::VK_ESCAPE)) return false;
        if (TakeKeyboardKey(plat::VK_RETURN)) break;
        if (TakeKeyboardKey(plat::VK_BACK) && n > 0) text[--n] = 0;
        for (uint32_t vk = 0; vk < 256; vk++) {
            char c = 0;
            if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) c = char(std::tolower(int(vk)));
            for (const auto& extra : kExtra)
                if (extra.vk == vk) c = extra.c;
            if (c && TakeKeyboardKey(vk) && n + 1 < sizeof text) {
                text[n++] = c;
                text[n] = 0;
            }
        }
    }
    std::snprintf(plan.address, sizeof plan.address, "%s", text);
    return true;
}

// A message over the background for a moment; any key ends it early.
void COnline::ShowMessage(const char* text) {
    if (!text || !text[0]) return;
    std::fprintf(stderr, "online: %s\n", text);
    theApp.ClearKeys();
    theApp.anyKeyFlag = 0;
    const uint32_t start = plat::TimeMs();
    while (plat::TimeMs() - start < kMessageShownMs && !theApp.anyKeyFlag) {
        theApp.StartFrame();
        theApp.DrawBackground(true);
        // Long texts on two lines.
        const size_t n = std::strlen(text), half = n > 38 ? n / 2 : n;
        size_t cut = half;
        while (cut < n && text[cut] != ' ') cut++;
        char first[kNetTextMax + 1];
        std::snprintf(first, sizeof first, "%.*s", int(cut), text);
        DrawUpper(200, first, 6);
        if (cut < n) DrawUpper(232, text + cut + 1, 6);
        menu::EndFrame();
    }
    theApp.ClearKeys();
    m_note[0] = 0;
}

bool COnline::CanStartMatch(char* why, size_t size) const {
    int players = 0;
    for (int s = 0; s < kPlayers; s++) {
        if (session.seatKinds[s] == SEAT_REMOTE && session.seatHolders[s] == kNoHolder)
            return std::snprintf(why, size, "Seat %dP is remote and not taken yet.", s + 1), false;
        if (session.seatKinds[s] != SEAT_NON) players++;
    }
    if (players < 2) return std::snprintf(why, size, "A match needs two seats or more."), false;
    return true;
}

void COnline::HostKeys(int* cursor) {
    if (TakeKey(plat::VK_UP)) *cursor = (*cursor + kLobbyStartLine) % (kLobbyStartLine + 1);
    if (TakeKey(plat::VK_DOWN)) *cursor = (*cursor + 1) % (kLobbyStartLine + 1);
    const int step = (TakeKey(plat::VK_RIGHT) ? 1 : 0) - (TakeKey(plat::VK_LEFT) ? 1 : 0);
    if (step && *cursor < kLobbyStartLine) {
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
        session.SetSeatKind(*cursor, uint8_t((session.seatKinds[*cursor] + SEAT_KIND_END + step) % SEAT_KIND_END));
    }
}

void COnline::DrawLobby(int cursor) {
    theApp.DrawBackground(true);
    const bool host = session.Role() == SESSION_HOST;
    DrawUpper(kHeadY, "ONLINE LOBBY", 7);
    char line[100];
    if (host)
        std::snprintf(line, sizeof line, "HOSTING ON PORT %u", unsigned(plan.port));
    else
        std::snprintf(line, sizeof line, "%s %.60s", session.Welcomed() ? "JOINED" : "JOINING", plan.address);
    DrawUpper(kSubY, line, 7);
    for (int s = 0; s < kPlayers; s++) {
        SeatText(session, s, line, sizeof line);
        DrawUpper(kSeatY + kSeatStep * s, line, uint8_t(s));
    }
    if (host) DrawUpper(kStartY, "START", 5);
    int row = 0;
    for (int k = 0; k < kNetMachinesMax; k++) {
        const MachineLink& link = session.Link(k);
        if (!link.name[0]) continue;
        char seats[16] = "";
        for (int s = 0; s < kPlayers; s++) {
            const bool held = k == 0 ? session.seatKinds[s] == SEAT_LOCAL : ((link.seatBits >> s) & 1) != 0;
            if (held) std::snprintf(seats + std::strlen(seats), 4, "%dP", s + 1);
        }
        const uint32_t rtt = k == 0 ? 0 : (host ? link.srttMs : session.Link(k).srttMs);
        std::snprintf(line, sizeof line, "%-12.12s %4uMS %s", link.name, unsigned(rtt), seats[0] ? seats : "WATCH");
        DrawUpper(kMachinesY + kMachineStep * row++, line, 7);
    }
    if (host) {
        const int y = cursor < kLobbyStartLine ? kSeatY + kSeatStep * cursor : kStartY;
        if (cursor < kLobbyStartLine) SeatText(session, cursor, line, sizeof line);
        menu::HighlightEntry(cursor < kLobbyStartLine ? line : "START", y - 4);
    }
    DrawUpper(kNoteY - 28, host ? "RETURN START  ESC LEAVE" : "ESC LEAVE", 7);
    if (m_note[0]) DrawUpper(kNoteY, m_note, 6);
}

// The lobby, until the player leaves or the host is gone. The host changes
// seats and starts matches; a joining machine waits for the host's match.
void COnline::Lobby() {
    int cursor = kLobbyStartLine;
    const uint32_t openedMs = plat::TimeMs();
    theApp.ClearKeys();
    for (;;) {
        theApp.StartFrame();
        if (session.Role() == SESSION_CLIENT) {
            if (session.RefusalText()[0]) {
                std::snprintf(m_note, sizeof m_note, "%s", session.RefusalText());
                return;
            }
            if (session.HostLost() || (!session.Welcomed() && plat::TimeMs() - openedMs > kConnectTimeoutMs)) {
                std::snprintf(m_note, sizeof m_note, "%s",
                              session.Welcomed() ? "The host has left the match." : "The host does not answer.");
                return;
            }
            NetMessage m;
            const bool menu = session.PeekMenu(&m);
            if (menu && m.screen == SCREEN_LOBBY) session.TakeMenu(&m);
            if (session.RoundStarting() || (menu && m.screen != SCREEN_LOBBY)) {
                ClientMatch();
                if (session.HostLost() || m_note[0]) return;
                continue;
            }
        } else {
            HostKeys(&cursor);
            if (cursor == kLobbyStartLine && TakeKey(plat::VK_RETURN)) {
                if (CanStartMatch(m_note, sizeof m_note)) {
                    theDirectSound.Play(SE_CUR_OK, 0, 0);
                    m_note[0] = 0;
                    HostMatch();
                    theApp.ClearKeys();
                    continue;
                }
            }
            // The round-trip times shown to everyone stay fresh.
            static uint32_t lastLobbyMs = 0;
            if (plat::TimeMs() - lastLobbyMs > 1000) session.SendLobby(), lastLobbyMs = plat::TimeMs();
        }
        if (TakeKey(plat::VK_ESCAPE)) return;
        DrawLobby(cursor);
        menu::EndFrame();
    }
}

// ---- matches ----------------------------------------------------------------------

// The host's settings apply for the match; this machine's own come back after it.
void COnline::BeginMatch() {
    for (int s = 0; s < S_COUNT; s++) m_savedSettings[s] = FetchValue(SettingAt(s));
    SetOnlineMenuSession(&session);
    theRound.ResetMatch();
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
void SeatsAsTheyPlay(const CSession& session) {
    for (int s = 0; s < kPlayers; s++)
        theRound.players[s].type = SeatPlayerType(session.seatKinds[s], session.seatHolders[s] != kNoHolder);
}

void COnline::HostMatch() {
    BeginMatch();
    const int32_t matchRounds = theRound.matchRounds;  // the host's, as the match began
    for (;;) {
        SeatsAsTheyPlay(session);
        if (theRoundIntro.Run() == INTRO_EXIT) break;
        theStageSelect.Run();
        if (theStageSelect.cursor == SELECT_EXIT) {
            theStageSelect.cursor = 0;
            break;
        }
        const RoundStart chosen = ChosenRoundStart();
        theItemManager.BuildPool();
        NetRoundStart start;
        MakeRoundStart(session, chosen, theBgm.playing ? theStageSelect.playingBgm : -1, &start);
        for (int s = 0; s < kPlayers; s++) theRound.players[s].type = start.seatTypes[s];
        session.BeginRound(&start, FrameUs(), plat::TimeMs());
        theReplay.feed = &session;
        const int result = theRound.Run(chosen);
        theReplay.feed = nullptr;
        session.EndRound();
        if (session.Stopped()) {
            ShowMessage(session.StopText());
            break;
        }
        if (result == ROUND_EXIT) break;
        theApp.WaitFrame(0);
        theRound.NextRound();
        if (matchRounds > 0 && theRound.roundCounter >= matchRounds) {
            theFinalStandings.Run();
            break;
        }
    }
    session.SendMenu(SCREEN_LOBBY, 0, 0);
    EndMatch();
}

// A joining machine's part: the screens the host opens, the rounds it starts.
void COnline::ClientMatch() {
    BeginMatch();
    while (!session.HostLost()) {
        if (session.RoundStarting()) {
            if (!ClientRound()) break;
            continue;
        }
        NetMessage m;
        if (session.PeekMenu(&m)) {
            if (m.screen == SCREEN_INTRO) {
                if (theRound.roundCounter == 0) SeatsAsTheyPlay(session);
                theRoundIntro.Run();
            } else if (m.screen == SCREEN_SELECTOR) {
                theStageSelect.Run();
                theStageSelect.cursor = 0;
            } else if (m.screen == SCREEN_STANDINGS) {
                theFinalStandings.Run();
            } else {
                session.TakeMenu(&m);  // the match is over, or a screen of a round this machine did not play
                if (m.screen == SCREEN_LOBBY) break;
            }
            continue;
        }
        theApp.StartFrame();
        theApp.DrawBackground(true);
        DrawUpper(224, "WAITING FOR THE HOST", 7);
        menu::EndFrame();
    }
    if (session.HostLost()) std::snprintf(m_note, sizeof m_note, "The host has left the match.");
    EndMatch();
}

bool COnline::ClientRound() {
    const NetRoundStart start = session.StartRecord();
    session.TakeRoundStart();
    RoundStart chosen;
    char why[kNetTextMax + 1];
    if (!ApplyRoundStart(start, theStageSelect.stages, theStageSelect.stageCount, &chosen, why, sizeof why)) {
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
    theReplay.feed = &session;
    theRound.Run(chosen);
    theReplay.feed = nullptr;
    session.EndRound();
    if (session.Stopped()) {
        std::snprintf(m_note, sizeof m_note, "%s", session.StopText());
        if (!session.HostLost()) ShowMessage(m_note);
        return !session.HostLost();
    }
    theApp.WaitFrame(0);
    theRound.NextRound();
    return true;
}
