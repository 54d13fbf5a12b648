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

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "items/itemmanager.h"
#include "match/onlineround.h"
#include "match/pausemenu.h"
#include "match/replay.h"
#include "match/round.h"
#include "match/roundplay.h"
#include "match/rules.h"
#include "match/settings.h"
#include "platform/net.h"
#include "screens/matchloop.h"
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
// A join gives up when the host has not answered for this long: the
// transport's connection, and then the welcome.
constexpr uint32_t kJoinLimitMs = 5000;
constexpr int kLobbyStartLine = kPlayers;  // the lobby's cursor: seats 0..3, "START", then the machines
constexpr int kMessageLineChars = 38;
constexpr uint32_t kNoticeShownMs = 4000;
constexpr uint8_t kTextColor = 5, kTitleColor = 7, kWarningColor = 6, kGreyColor = 4;

// The transport carries every message of the protocol whole.
static_assert(kNetMessageMax <= plat::kNetPacketMax);
static_assert(kNetLinksMax - 1 <= plat::kNetPeersMax);

// A frame of the round at its WAIT, in microseconds.
int32_t FrameUs() { return int32_t(WaitFrameUs(CRound::LimitWait(theRound.state.wait))); }

void Upper(const char* text, char* line, size_t size) {
    size_t n = 0;
    for (; text[n] && n + 1 < size; n++) line[n] = char(std::toupper(static_cast<unsigned char>(text[n])));
    line[n] = 0;
}

// The font has capitals only.
void DrawUpper(int y, const char* text, uint8_t color) {
    char line[100];
    Upper(text, line, sizeof line);
    theApp.DrawText(kBackBuffer, 0, y, line, color, true, 0);
}

void SeatText(const CSession& s, int seat, char* text, size_t size) {
    const uint8_t holder = s.seatHolders[seat];
    const char* who = s.seatKinds[seat] == SEAT_REMOTE
                          ? (holder != kNoHolder && s.Link(holder).name[0] ? s.Link(holder).name : "FREE")
                      : s.seatKinds[seat] == SEAT_LOCAL ? s.Link(0).name
                                                        : "";
    std::snprintf(text, size, "%dP <_%s_> %s", seat + 1, SeatKindName(s.seatKinds[seat]), who);
}

// What the host's player is told while it plays (a machine left, was
// dropped, ...): a band over the top of the picture shown, never in a
// surface, for a few seconds. Another overlay in place before it (the head
// marks) is drawn first; one set later hides the band until it ends.
struct Notice {
    char text[kNetTextMax + 1];
    uint32_t untilMs;
    SurfaceId band;
    PresentOverlay before;
    bool shown;
} g_notice{};

void NoticeOverlay(uint8_t* pixels, int pitch, int width, int height) {
    if (g_notice.before) g_notice.before(pixels, pitch, width, height);
    const SurfaceDesc& band = theDirectDraw.Lock(g_notice.band);
    if (band.pixels && width >= band.width && height >= band.height)
        for (int y = 0; y < band.height; y++)
            std::memcpy(pixels + y * pitch, band.pixels + y * band.pitch, size_t(band.width));
    theDirectDraw.Unlock(g_notice.band);
}

void ShowNotice(const char* text) {
    if (!g_notice.band) g_notice.band = theDirectDraw.CreateSurface(kScreenWidth, 16, false);
    char line[kNetTextMax + 1];
    Upper(text, line, sizeof line);
    theDirectDraw.ClearSurface(g_notice.band);
    theApp.DrawText(g_notice.band, 0, 0, line, kWarningColor, true, 0);
    g_notice.untilMs = plat::TimeMs() + kNoticeShownMs;
    if (!g_notice.shown) g_notice.before = theDirectDraw.SetPresentOverlay(NoticeOverlay);
    g_notice.shown = true;
}

// Takes the band away when its time is over (or the session closes): the
// overlay before it comes back, unless another was set over it meanwhile.
void EndNotice(bool now) {
    if (!g_notice.shown || (!now && int32_t(plat::TimeMs() - g_notice.untilMs) < 0)) return;
    const PresentOverlay current = theDirectDraw.SetPresentOverlay(nullptr);
    theDirectDraw.SetPresentOverlay(current == NoticeOverlay ? g_notice.before : current);
    g_notice.shown = false;
    if (now) theDirectDraw.ReleaseSurface(g_notice.band);
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

namespace {

// Each file of a part in the order every machine lists them: the part's list
// file (when it has one), then its files in the list's order, or the fixed
// names the game uses.
template <class Visit>
void ForEachDataFile(int part, Visit visit) {
    const CStageSelect& s = theStageSelect;
    char path[300];
    if (part == DATA_STAGES) {
        visit("stage\\stage.txt");
        for (int i = 0; i < s.stageCount; i++) {
            std::snprintf(path, sizeof path, "Stage\\%s", s.stages[i].file);
            visit(path);
        }
    } else if (part == DATA_PICTURES) {
        for (const char* name : {"font", "background", "cursor", "title_light"}) {
            std::snprintf(path, sizeof path, "Graphics\\%s.png", name);
            visit(path);
        }
        for (const ItemKeyName& key : kItemKeyNames) {
            std::snprintf(path, sizeof path, "Graphics\\Items\\%s.png", key.text);
            visit(path);
        }
    } else if (part == DATA_SOUNDS) {
        for (const EffectRecord& effect : kEffectTable) {
            std::snprintf(path, sizeof path, "Sound\\%.127s", effect.file);
            visit(path);
        }
    } else if (part == DATA_MUSIC) {
        visit("bgm\\bgm.txt");
        for (int i = 0; i < s.bgmCount; i++) {
            std::snprintf(path, sizeof path, "Bgm\\%s", s.bgms[i].file);
            visit(path);
        }
    }
}

// The player reads a game path with '/' between its folders.
void ShownName(const char* path, char* name) {
    size_t n = 0;
    for (; path[n] && n + 1 < size_t(kDataFileNameMax); n++) name[n] = path[n] == '\\' ? '/' : path[n];
    name[n] = 0;
}

}  // namespace

int DataPartFiles(int part, uint32_t* digests, char (*names)[kDataFileNameMax], int max) {
    int n = 0;
    ForEachDataFile(part, [&](const char* path) {
        if (n == max) return;
        digests[n] = CrcOfFile(path, 0);
        if (names) ShownName(path, names[n]);
        n++;
    });
    return n;
}

void DataSetDigests(uint32_t* digests) {
    static uint32_t files[kNetDataFilesMax];
    for (int part = 0; part < kNetDataParts; part++) {
        const int n = DataPartFiles(part, files, nullptr, kNetDataFilesMax);
        digests[part] = Crc32(reinterpret_cast<const uint8_t*>(files), sizeof files[0] * size_t(n), 0);
    }
}

bool DifferingFileText(int part, const uint32_t* hostDigests, int hostCount, char* text, size_t size) {
    static uint32_t digests[kNetDataFilesMax];
    static char names[kNetDataFilesMax][kDataFileNameMax];
    const int n = DataPartFiles(part, digests, names, kNetDataFilesMax);
    for (int i = 0; i < n; i++) {
        if (i < hostCount && digests[i] == hostDigests[i]) continue;
        if (i < hostCount)
            std::snprintf(text, size, "%s differs from the file on the host.", names[i]);
        else
            std::snprintf(text, size, "%s is on this machine but not on the host.", names[i]);
        return true;
    }
    if (hostCount <= n) return false;
    std::snprintf(text, size, "The host has more %s than this machine.", NetDataPartName(part));
    return true;
}

// ---- the transport glue -------------------------------------------------------------

COnline::COnline()
    : m_hostPeer(-1),
      m_lastPumpMs(0),
      m_open(false),
      m_note{},
      m_lastAddress{},
      m_savedSettings{},
      m_linked(false),
      m_linkLossSaid(false),
      m_kinds{},
      m_codeEnteredMs(0),
      m_lobbyReached(false),
      m_roomShown{} {}

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
        if (e.type == plat::NET_EVENT_CONNECT) {
            session.Connected(machine, now, e.address);
            ConnectedKind(machine, e.peer);
        }
        if (e.type == plat::NET_EVENT_DISCONNECT) session.Disconnected(machine, now);
        // An oversized message is refused by the decoder on its size alone.
        if (e.type == plat::NET_EVENT_RECEIVE) session.Receive(machine, e.data, e.size, now);
    }
    PumpLink(now);
    session.Service(now);
    static OutMessage out;
    while (session.TakeOutgoing(&out)) plat::NetSend(PeerOfMachine(out.machine), out.bytes, out.size, out.reliable);
    for (int machine; (machine = session.TakeClosing()) >= 0;) plat::NetDisconnect(PeerOfMachine(machine));
    plat::NetFlush();
    TakeNotices();
    // Online, Control does not speed the round up; a machine behind catches up.
    theApp.ctrlFlag = session.Role() == SESSION_CLIENT && session.InRound() &&
                      session.FinalFrame() - theRound.state.frameCounter > 2 * session.DelayFrames() + 8;
}

// ---- the match server ----------------------------------------------------------------

namespace {

// What the room list shows of the match: seats in play and free, the round.
RvRoomInfo RoomInfo(const CSession& s, bool isPublic) {
    RvRoomInfo info{};
    info.isPublic = isPublic ? 1 : 0;
    for (int seat = 0; seat < kPlayers; seat++) {
        if (s.seatKinds[seat] != SEAT_NON) info.seatsTotal++;
        if (s.seatKinds[seat] == SEAT_REMOTE && s.seatHolders[seat] == kNoHolder) info.seatsFree++;
    }
    info.round = uint16_t(theRound.roundCounter);
    return info;
}

}  // namespace

const char* MatchServerText(const OnlinePlan& plan) { return plan.server[0] ? plan.server : theApp.matchServer; }

bool JoinsByCode(const OnlinePlan& plan, char* code) {
    return plan.byCode && MatchServerText(plan)[0] && RvNormaliseCode(plan.address, code);
}

// Registers the room (code null) or starts finding the host of the code, on
// the endpoint just opened, so that the server sees the address the other
// machines will see.
bool COnline::OpenServerLink(const char* code, const char* name) {
    const char* text = MatchServerText(plan);
    plat::NetAddress server{};
    if (!plat::ResolveNetAddress(text, kRvDefaultPort, &server))
        return std::snprintf(m_note, sizeof m_note, "The match server %.60s is not known.", text), false;
    if (!plat::NetRawAttach()) return std::snprintf(m_note, sizeof m_note, "The network cannot be used."), false;
    const uint32_t now = plat::TimeMs();
    m_linkLossSaid = false;
    m_lobbyReached = false;
    if (code) {
        m_codeEnteredMs = now;
        m_hostPeer = -1;
        m_link.StartJoin(server, name, code, false, now);
    } else {
        m_roomShown = RoomInfo(session, plan.isPublic);
        m_link.StartHost(server, name, plan.isPublic, m_roomShown.seatsTotal, m_roomShown.seatsFree, now);
    }
    m_linked = true;
    return true;
}

// The server's datagrams (taken aside by the transport) go to the link, and
// what it sends leaves from the transport's socket. A joining machine
// connects its transport wherever the link says, dropping an attempt that
// did not answer; the host keeps its room's seats up to date.
void COnline::PumpLink(uint32_t nowMs) {
    if (!m_linked) return;
    static plat::NetRawDatagram raw;
    while (plat::NetRawPoll(&raw)) m_link.Receive(raw.from, raw.data, raw.size, nowMs);
    if (session.Role() == SESSION_HOST && m_link.State() == LINK_HOSTING && !m_lobbyReached) {
        // For the player to pass on, and for scripts.
        m_lobbyReached = true;
        std::printf("INVITE CODE %s\n", m_link.Code());
        std::fflush(stdout);
    }
    if (session.Role() == SESSION_HOST && m_link.State() == LINK_HOSTING) {
        const RvRoomInfo now = RoomInfo(session, plan.isPublic);
        if (!(now == m_roomShown)) m_link.UpdateRoom(now.isPublic, now.seatsTotal, now.seatsFree, now.round, nowMs);
        m_roomShown = now;
    }
    m_link.Service(nowMs);
    static LinkDatagram out;
    while (m_link.TakeOutgoing(&out)) plat::NetRawSend(out.to, out.bytes, out.size);
    plat::NetAddress to{};
    uint8_t kind = 0;
    if (session.Role() == SESSION_CLIENT && m_link.ConnectTarget(&to, &kind)) {
        if (m_hostPeer >= 0) plat::NetAbandon(m_hostPeer);
        m_hostPeer = plat::NetConnectAddress(to);
    }
    if (m_link.State() == LINK_FAILED) LinkFailed();
}

// The server is gone, or refused: before a joining machine reached its host
// that ends the join (ClientLobbyGoesOn says why); otherwise the machines
// already here play on, and only the invite code stops working.
void COnline::LinkFailed() {
    if (m_linkLossSaid) return;
    m_linkLossSaid = true;
    const bool joining = session.Role() == SESSION_CLIENT && !session.HostAnswered();
    if (joining) return;
    char text[kNetTextMax + 1];
    const bool registered = m_link.Code()[0] != 0;
    std::snprintf(text, sizeof text, "%s: %s", m_link.FailText(),
                  session.Role() == SESSION_HOST && registered ? "the invite code no longer works"
                  : session.Role() == SESSION_HOST             ? "no invite code, join by address"
                                                               : "the match goes on");
    std::fprintf(stderr, "online: %s\n", text);
    // The host's lobby keeps saying it; a joining machine's note would end its match.
    if (session.Role() == SESSION_HOST) std::snprintf(m_note, sizeof m_note, "%s", text);
    ShowNotice(text);
}

// How a machine came, said once when its transport connects (the host sees
// every machine's, a joining machine its own).
void COnline::ConnectedKind(int machine, int peer) {
    if (!m_linked) return;
    plat::NetAddress from{};
    plat::NetPeerAddress(peer, &from);
    char address[plat::kNetAddressTextMax];
    plat::FormatNetAddress(from, address);
    if (session.Role() == SESSION_HOST) {
        m_kinds[machine] = m_link.KindOf(from);
        std::fprintf(stderr, "online: a machine connected %s from %s\n", RvKindName(m_kinds[machine]), address);
    } else {
        m_link.TransportConnected(plat::TimeMs());
        m_kinds[machine] = m_link.ConnectedKind();
        std::fprintf(stderr, "online: connected to the host %s at %s\n", RvKindName(m_kinds[machine]), address);
    }
}

// A joining machine finding its host through the server: false when that
// failed (m_note says why). Once in the lobby, the time from the code is said.
bool COnline::LinkLobbyGoesOn() {
    if (!m_linked) return true;
    if (!session.HostAnswered() && m_link.State() == LINK_FAILED) {
        std::snprintf(m_note, sizeof m_note, "%s", m_link.FailText());
        return false;
    }
    if (session.Welcomed() && !m_lobbyReached) {
        m_lobbyReached = true;
        std::printf("LOBBY %s %u ms after the code\n", RvKindName(m_kinds[0]),
                    unsigned(plat::TimeMs() - m_codeEnteredMs));
        std::fflush(stdout);
    }
    return true;
}

void COnline::TakeNotices() {
    char text[kNetTextMax + 1];
    while (session.TakeNotice(text, sizeof text)) {
        std::fprintf(stderr, "online: %s\n", text);
        std::snprintf(m_note, sizeof m_note, "%s", text);
        ShowNotice(text);
    }
    EndNotice(false);
}

bool COnline::Wait() {
    theApp.PumpMessages();
    plat::Idle(plat::TimeUs() + 1000);
    return !session.Stopped() && !session.HostLost();
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
    if (session.Stopped() || session.HostLost()) return ROUND_EXIT;
    if (menu.cursor == PAUSE_NEXT_ROUND) return ROUND_NEXT;
    if (menu.cursor == PAUSE_EXIT) return ROUND_EXIT;
    return 0;
}

namespace {

// The key a joining machine keeps while it runs: a host that removed it
// knows it again, also under another name.
uint32_t MachineKey() {
    static const uint32_t key = [] {
        std::random_device device;
        return uint32_t(device()) | 1u;
    }();
    return key;
}

}  // namespace

bool COnline::Open() {
    m_note[0] = 0;
    m_linked = false;
    std::memset(m_kinds, 0, sizeof m_kinds);
    if (!plat::NetStart()) return std::snprintf(m_note, sizeof m_note, "The network cannot be used."), false;
    char name[kNetNameMax + 1];
    std::snprintf(name, sizeof name, "%s", plan.name[0] ? plan.name : (std::getenv("USER") ? std::getenv("USER") : ""));
    if (!NetTextOk(name, kNetNameMax) || !name[0]) std::snprintf(name, sizeof name, "PLAYER");
    if (plan.mode == OnlinePlan::HOST) {
        if (!plat::NetListen(plan.port, kNetLinksMax - 1)) {
            std::snprintf(m_note, sizeof m_note, "Port %u cannot be opened: another program may use it.",
                          unsigned(plan.port));
            return false;
        }
        session.StartHost(name);
        session.allowSeveralSeats = plan.allowSeveralSeats;
        DataSetDigests(session.dataDigests);
        static uint32_t files[kNetDataFilesMax];
        for (int part = 0; part < kNetDataParts; part++)
            session.SetDataFiles(part, files, DataPartFiles(part, files, nullptr, kNetDataFilesMax));
        std::memcpy(session.seatKinds, plan.seatKinds, sizeof session.seatKinds);
        if (MatchServerText(plan)[0] && !OpenServerLink(nullptr, name)) return plat::NetClose(), false;
    } else if (char code[kRvCodeLength + 1]; JoinsByCode(plan, code)) {
        if (!plat::NetOpen()) return std::snprintf(m_note, sizeof m_note, "The network cannot be used."), false;
        if (!OpenServerLink(code, name)) return plat::NetClose(), false;
        uint32_t digests[kNetDataParts];
        DataSetDigests(digests);
        session.StartClient(name, plan.watch, plan.seatsWanted, digests);
        session.machineKey = MachineKey();
    } else {
        char host[128];
        uint16_t port = kNetDefaultPort;
        if (!ParseAddress(plan.address, host, sizeof host, &port)) {
            std::snprintf(m_note, sizeof m_note, "%.60s is not an address: type HOST or HOST:PORT.", plan.address);
            return false;
        }
        std::snprintf(m_lastAddress, sizeof m_lastAddress, "%s", plan.address);
        m_hostPeer = plat::NetConnect(host, port);
        if (m_hostPeer < 0) {
            std::snprintf(m_note, sizeof m_note, "No machine is known by the name %.60s.", host);
            plat::NetClose();
            return false;
        }
        uint32_t digests[kNetDataParts];
        DataSetDigests(digests);
        session.StartClient(name, plan.watch, plan.seatsWanted, digests);
        session.machineKey = MachineKey();
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

// Says goodbye (the host to every machine, a joining machine to the host)
// and closes the endpoint, which tells every peer.
void COnline::Close() {
    if (!m_open) return;
    session.Leave();
    static OutMessage out;
    while (session.TakeOutgoing(&out)) plat::NetSend(PeerOfMachine(out.machine), out.bytes, out.size, out.reliable);
    if (m_linked) {
        // The server hears the goodbye too: the room, or this machine's place, goes at once.
        m_link.Stop();
        static LinkDatagram datagram;
        while (m_link.TakeOutgoing(&datagram)) plat::NetRawSend(datagram.to, datagram.bytes, datagram.size);
        m_linked = false;
    }
    plat::NetFlush();
    plat::NetClose();
    session.Stop();
    m_open = false;
    EndNotice(true);
    CApp::SetPumpHook(nullptr);
    SetOnlineWaitHook(nullptr);
    SetOnlinePauseHook(nullptr);
    theApp.ctrlFlag = 0;
}

// ---- screens -----------------------------------------------------------------------

void COnline::Launch(const OnlinePlan& launch) {
    plan = launch;
    // With the settings file's match server, a join's text without a dot or a
    // colon that reads as an invite code is one.
    char code[kRvCodeLength + 1];
    if (plan.mode == OnlinePlan::JOIN && !plan.byCode && theApp.matchServer[0] && !std::strpbrk(plan.address, ".:") &&
        RvNormaliseCode(plan.address, code)) {
        std::snprintf(plan.address, sizeof plan.address, "%s", code);
        plan.byCode = true;
    }
    theDirectDraw.SetPaletteBrightness(0);  // the logo intro left it dark
    if (Open()) Lobby();
    const uint8_t why = session.EndWhy();
    const bool joinAgain = plan.mode == OnlinePlan::JOIN && m_note[0] && why != STOP_HOST_LEFT;
    ShowMessage(m_note);
    Close();
    theApp.ClearKeys();
    // A machine the host let go (or that could not join) may try again.
    if (joinAgain) Run();
}

// The online screen: host, join, watch or back. It keeps its place: after a
// match that ended here the cursor is where it was, to join again.
void COnline::Run() {
    if (!plat::NetAvailable()) {
        ShowMessage("ONLINE PLAY NEEDS THE DESKTOP GAME");
        return;
    }
    // With a match server the screen gains hosting through it (invite only
    // or listed), joining by code and the room list; without one it is the
    // screen of direct play.
    enum Row : uint8_t { HOST, HOST_ON_SERVER, JOIN_BY_CODE, ROOM_LIST, JOIN, WATCH, BACK };
    static const Row kDirect[] = {HOST, JOIN, WATCH, BACK};
    static const Row kServer[] = {HOST_ON_SERVER, JOIN_BY_CODE, ROOM_LIST, JOIN, WATCH, BACK};
    const bool server = MatchServerText(plan)[0] != 0;
    const Row* rows = server ? kServer : kDirect;
    const int count = server ? int(std::size(kServer)) : int(std::size(kDirect));
    const Row first = plan.mode != OnlinePlan::JOIN ? rows[0]
                      : plan.watch                  ? WATCH
                      : server && plan.byCode       ? JOIN_BY_CODE
                                                    : JOIN;
    int cursor = int(std::find(rows, rows + count, first) - rows);
    theApp.ClearKeys();
    for (;;) {
        char texts[std::size(kServer)][32];
        for (int i = 0; i < count; i++) {
            static const char* const kNames[] = {"HOST A GAME",  "",    "JOIN BY CODE", "ROOM LIST", "",
                                                 "WATCH A GAME", "BACK"};
            std::snprintf(texts[i], sizeof texts[i], "%s", kNames[rows[i]]);
            if (rows[i] == HOST_ON_SERVER)
                std::snprintf(texts[i], sizeof texts[i], "HOST <_%s_>", plan.isPublic ? "PUBLIC" : "INVITE ONLY");
            if (rows[i] == JOIN) std::snprintf(texts[i], sizeof texts[i], server ? "JOIN BY ADDRESS" : "JOIN A GAME");
        }
        theApp.StartFrame();
        theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
        theApp.DrawBackground(true);
        DrawUpper(kHeadY + 60, "ONLINE", kTitleColor);
        const int top = 200 - 16 * (count - 4);
        for (int i = 0; i < count; i++)
            DrawUpper(top + 32 * i, texts[i], uint8_t(rows[i] == BACK ? kWarningColor : kTextColor));
        menu::HighlightEntry(texts[cursor], top - 4 + 32 * cursor);
        if (server)
            DrawUpper(kNoteY, "MATCH SERVER", kGreyColor), DrawUpper(kNoteY + 16, MatchServerText(plan), kGreyColor);
        menu::EndFrame();
        if (TakeKey(plat::VK_UP)) cursor = (cursor + count - 1) % count;
        if (TakeKey(plat::VK_DOWN)) cursor = (cursor + 1) % count;
        const Row row = rows[cursor];
        if (row == HOST_ON_SERVER && (TakeKey(plat::VK_LEFT) || TakeKey(plat::VK_RIGHT))) {
            theDirectSound.Play(SE_CUR_MOVE, 0, 0);
            plan.isPublic = !plan.isPublic;
        }
        if (TakeKey(plat::VK_ESCAPE) || (row == BACK && TakeKey(plat::VK_RETURN))) break;
        if (!TakeKey(plat::VK_RETURN)) continue;
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        plan.mode = row == HOST || row == HOST_ON_SERVER ? OnlinePlan::HOST : OnlinePlan::JOIN;
        plan.watch = row == WATCH;
        plan.byCode = row == JOIN_BY_CODE || row == ROOM_LIST;
        if (row == ROOM_LIST) {
            if (!RoomListScreen()) continue;
        } else if (row == JOIN_BY_CODE     ? !PromptCode()
                   : row == HOST           ? !PromptPort()
                   : row == HOST_ON_SERVER ? false
                                           : !PromptAddress()) {
            continue;
        }
        if (Open()) Lobby();
        ShowMessage(m_note);
        Close();
        theApp.ClearKeys();
    }
    theApp.ClearKeys();
}

int LineEdit::Keys() {
    const size_t n = std::strlen(text);
    if (TakeKey(plat::VK_ESCAPE)) return -1;
    const bool offered = !n && suggestion && suggestion[0];
    if (offered && (TakeKeyboardKey(plat::VK_TAB) || TakeKeyboardKey(plat::VK_RETURN))) {
        std::snprintf(text, sizeof text, "%s", suggestion);
        cursor = std::strlen(text);
        return 0;
    }
    if (TakeKeyboardKey(plat::VK_RETURN)) return n ? 1 : 0;
    if (TakeKeyboardKey(plat::VK_LEFT) && cursor > 0) cursor--;
    if (TakeKeyboardKey(plat::VK_RIGHT) && cursor < n) cursor++;
    if (TakeKeyboardKey(plat::VK_HOME)) cursor = 0;
    if (TakeKeyboardKey(plat::VK_END)) cursor = n;
    if (TakeKeyboardKey(plat::VK_BACK) && cursor > 0) {
        std::memmove(text + cursor - 1, text + cursor, n - cursor + 1);
        cursor--;
    }
    if (TakeKeyboardKey(plat::VK_DELETE) && cursor < std::strlen(text))
        std::memmove(text + cursor, text + cursor + 1, std::strlen(text) - cursor);
    // Letters, digits, '.', '-' and ':' (the ';' key gives ':' as well).
    static const struct {
        uint32_t vk;
        char c;
    } kExtra[] = {
        {plat::VK_OEM_PERIOD, '.'}, {plat::VK_DECIMAL, '.'}, {plat::VK_OEM_MINUS, '-'}, {plat::VK_OEM_1, ':'}};
    for (uint32_t vk = 0; vk < 256; vk++) {
        char c = 0;
        if (vk >= '0' && vk <= '9') c = char(vk);
        if (vk >= plat::VK_NUMPAD0 && vk <= plat::VK_NUMPAD0 + 9) c = char('0' + vk - plat::VK_NUMPAD0);
        if (!digitsOnly && vk >= 'A' && vk <= 'Z') c = char(std::tolower(int(vk)));
        for (const auto& extra : kExtra)
            if (!digitsOnly && extra.vk == vk) c = extra.c;
        const size_t length = std::strlen(text);
        if (!c || !TakeKeyboardKey(vk) || length + 1 >= sizeof text) continue;
        std::memmove(text + cursor + 1, text + cursor, length - cursor + 1);
        text[cursor++] = c;
    }
    return 0;
}

// A line to type: the text (or its greyed suggestion) with a bar where the
// next character goes.
bool COnline::EditLine(const char* title, LineEdit* line) {
    constexpr int kTitleY = 160, kLineY = 200, kHintY = 260;
    theApp.ClearKeys();
    for (;;) {
        theApp.StartFrame();
        theApp.DrawBackground(true);
        DrawUpper(kTitleY, title, kTitleColor);
        char shown[sizeof line->text];
        const bool offered = !line->text[0] && line->suggestion && line->suggestion[0];
        Upper(offered ? line->suggestion : line->text, shown, sizeof shown);
        theApp.DrawText(kBackBuffer, 0, kLineY, shown, offered ? kGreyColor : kTextColor, true, 0);
        char before[sizeof line->text];
        std::snprintf(before, sizeof before, "%.*s", int(line->cursor), line->text);
        const int x = kScreenWidth / 2 - CApp::TextWidth(shown) / 2 + CApp::TextWidth(before);
        theDirectDraw.FillRect(kBackBuffer, x - 1, kLineY - 1, 2, 18, kOutlineIndex);
        DrawUpper(kHintY, offered ? "TAB OR RETURN: TAKE IT   ESC: BACK" : "RETURN: GO   ESC: BACK", kTitleColor);
        menu::EndFrame();
        const int result = line->Keys();
        if (result) return result > 0;
    }
}

// The public matches on the server, a page at a time (Left and Right turn
// pages), asked for again every few seconds; Return joins the one chosen.
bool COnline::RoomListScreen() {
    constexpr int kRowsY = 96, kRowStep = 16;
    constexpr uint32_t kRefreshMs = 3000;
    const char* text = MatchServerText(plan);
    plat::NetAddress server{};
    if (!plat::NetStart() || !plat::NetOpen() || !plat::NetRawAttach()) {
        plat::NetClose();
        ShowMessage("The network cannot be used.");
        return false;
    }
    if (!plat::ResolveNetAddress(text, kRvDefaultPort, &server)) {
        plat::NetClose();
        char message[kNetTextMax + 1];
        std::snprintf(message, sizeof message, "The match server %.60s is not known.", text);
        ShowMessage(message);
        return false;
    }
    uint32_t askedMs = plat::TimeMs();
    m_link.StartList(server, askedMs);
    int cursor = 0;
    uint16_t first = 0;
    bool chosen = false;
    theApp.ClearKeys();
    for (;;) {
        const uint32_t now = plat::TimeMs();
        static plat::NetEvent e;
        while (plat::NetPoll(&e)) {
        }
        static plat::NetRawDatagram raw;
        while (plat::NetRawPoll(&raw)) m_link.Receive(raw.from, raw.data, raw.size, now);
        m_link.Service(now);
        if (m_link.State() == LINK_READY && now - askedMs > kRefreshMs) m_link.RequestList(first, now), askedMs = now;
        static LinkDatagram out;
        while (m_link.TakeOutgoing(&out)) plat::NetRawSend(out.to, out.bytes, out.size);
        const RvMessage& page = m_link.ListPage();
        cursor = std::max(0, std::min(cursor, int(page.count) - 1));

        theApp.StartFrame();
        theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
        theApp.DrawBackground(true);
        char line[100];
        std::snprintf(line, sizeof line, "ROOM LIST  %u-%u OF %u", unsigned(page.count ? page.first + 1 : 0),
                      unsigned(page.first + page.count), unsigned(page.total));
        DrawUpper(kHeadY, line, kTitleColor);
        DrawUpper(kSubY, "CODE   HOST         FREE ROUND   MS", kGreyColor);
        char rows[kRvListPageMax][64];
        for (int k = 0; k < page.count; k++) {
            const RvListedRoom& r = page.rooms[k];
            std::snprintf(rows[k], sizeof rows[k], "%s %-12.12s %u/%u %5u %4u", r.code, r.name,
                          unsigned(r.info.seatsFree), unsigned(r.info.seatsTotal), unsigned(r.info.round),
                          unsigned(r.info.hostRttMs + m_link.ServerRttMs()));
            DrawUpper(kRowsY + kRowStep * k, rows[k], kTextColor);
        }
        if (page.count) {
            char upper[64];
            Upper(rows[cursor], upper, sizeof upper);
            menu::HighlightEntry(upper, kRowsY + kRowStep * cursor - 4);
        }
        const char* state = m_link.State() == LINK_FAILED   ? m_link.FailText()
                            : m_link.State() == LINK_ASKING ? "ASKING THE MATCH SERVER"
                            : !page.count                   ? "NO PUBLIC MATCHES JUST NOW"
                                                            : "";
        DrawUpper(kNoteY, state, kWarningColor);
        DrawUpper(kNoteY - 28, "RETURN: JOIN   LEFT, RIGHT: PAGES   ESC: BACK", kTitleColor);
        menu::EndFrame();

        if (TakeKey(plat::VK_ESCAPE)) break;
        if (page.count && TakeKey(plat::VK_UP)) cursor = (cursor + page.count - 1) % page.count;
        if (page.count && TakeKey(plat::VK_DOWN)) cursor = (cursor + 1) % page.count;
        const int turn = (TakeKey(plat::VK_RIGHT) ? 1 : 0) - (TakeKey(plat::VK_LEFT) ? 1 : 0);
        const int next = int(first) + turn * kRvListPageMax;
        if (turn && next >= 0 && next < page.total && m_link.State() == LINK_READY) {
            first = uint16_t(next);
            m_link.RequestList(first, now), askedMs = now;
        }
        if (page.count && TakeKey(plat::VK_RETURN)) {
            std::snprintf(plan.address, sizeof plan.address, "%s", page.rooms[cursor].code);
            chosen = true;
            break;
        }
    }
    m_link.Stop();
    static LinkDatagram bye;
    while (m_link.TakeOutgoing(&bye)) plat::NetRawSend(bye.to, bye.bytes, bye.size);
    plat::NetFlush();
    plat::NetClose();
    theApp.ClearKeys();
    return chosen;
}

bool COnline::PromptCode() {
    for (;;) {
        LineEdit line{};
        char last[kRvCodeLength + 1];
        line.suggestion = RvNormaliseCode(plan.address, last) ? plan.address : nullptr;
        if (!EditLine("INVITE CODE", &line)) return false;
        char code[kRvCodeLength + 1];
        if (RvNormaliseCode(line.text, code)) {
            std::snprintf(plan.address, sizeof plan.address, "%s", code);
            return true;
        }
        ShowMessage("An invite code is six letters and digits, such as K7QX3M.");
    }
}

bool COnline::PromptAddress() {
    LineEdit line{};
    line.suggestion = m_lastAddress[0] ? m_lastAddress : nullptr;
    if (!EditLine("HOST ADDRESS", &line)) return false;
    std::snprintf(plan.address, sizeof plan.address, "%s", line.text);
    return true;
}

bool COnline::PromptPort() {
    for (;;) {
        LineEdit line{};
        char suggestion[8];
        std::snprintf(suggestion, sizeof suggestion, "%u", unsigned(plan.port));
        line.suggestion = suggestion;
        line.digitsOnly = true;
        if (!EditLine("HOST ON PORT", &line)) return false;
        const long port = std::strtol(line.text, nullptr, 10);
        if (port >= 1 && port <= 65535) {
            plan.port = uint16_t(port);
            return true;
        }
        ShowMessage("A port is a number from 1 to 65535.");
    }
}

// A message on a clean screen, in lines that fit, until a key is pressed.
void COnline::ShowMessage(const char* text) {
    if (!text || !text[0]) return;
    std::fprintf(stderr, "online: %s\n", text);
    char lines[4][kMessageLineChars + 1] = {};
    int count = 0;
    for (const char* at = text; *at && count < 4; count++) {
        size_t n = std::strlen(at);
        if (n > size_t(kMessageLineChars)) {
            n = kMessageLineChars;
            while (n > 0 && at[n] != ' ') n--;
            if (n == 0) n = kMessageLineChars;
        }
        std::snprintf(lines[count], sizeof lines[count], "%.*s", int(n), at);
        at += n;
        while (*at == ' ') at++;
    }
    theApp.ClearKeys();
    theApp.anyKeyFlag = 0;
    while (!theApp.anyKeyFlag) {
        theApp.StartFrame();
        theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
        theApp.DrawBackground(true);
        for (int i = 0; i < count; i++) DrawUpper(200 + 32 * i - 16 * (count - 1), lines[i], kWarningColor);
        DrawUpper(kNoteY - 28, "PRESS A KEY", kTitleColor);
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

// The machines of the match in the lobby's order (the host first).
int COnline::LobbyMachines(int* numbers) const {
    int count = 0;
    for (int k = 0; k < kNetLinksMax; k++)
        if (session.Link(k).name[0]) numbers[count++] = k;
    return count;
}

// The host's lobby keys: seats (Left and Right change a seat's kind),
// "START", and the joined machines (Delete removes one).
void COnline::HostKeys(int* cursor) {
    int machines[kNetLinksMax];
    // The seats, START, and the machines after the host's own.
    const int rows = kLobbyStartLine + LobbyMachines(machines);
    *cursor = std::min(*cursor, rows - 1);
    if (TakeKey(plat::VK_UP)) *cursor = (*cursor + rows - 1) % rows;
    if (TakeKey(plat::VK_DOWN)) *cursor = (*cursor + 1) % rows;
    const int step = (TakeKey(plat::VK_RIGHT) ? 1 : 0) - (TakeKey(plat::VK_LEFT) ? 1 : 0);
    if (step && *cursor < kLobbyStartLine) {
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
        session.SetSeatKind(*cursor, uint8_t((session.seatKinds[*cursor] + SEAT_KIND_END + step) % SEAT_KIND_END));
    }
    if (*cursor > kLobbyStartLine && TakeKey(plat::VK_DELETE)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        session.Remove(machines[*cursor - kLobbyStartLine]);
    }
}

void COnline::DrawLobby(int cursor) {
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);  // a round that stopped may have left a clip
    theApp.DrawBackground(true);
    const bool host = session.Role() == SESSION_HOST;
    DrawUpper(kHeadY, "ONLINE LOBBY", kTitleColor);
    char line[100];
    if (host && m_linked && m_link.Code()[0])
        std::snprintf(line, sizeof line, "INVITE CODE %s   %s", m_link.Code(),
                      plan.isPublic ? "PUBLIC" : "INVITE ONLY");
    else if (host && m_linked && m_link.State() == LINK_ASKING)
        std::snprintf(line, sizeof line, "HOSTING ON PORT %u, ASKING FOR A CODE", unsigned(plan.port));
    else if (host)
        std::snprintf(line, sizeof line, "HOSTING ON PORT %u", unsigned(plan.port));
    else if (m_linked && !session.HostAnswered())
        std::snprintf(line, sizeof line, "FINDING %.60s", plan.address);
    else
        std::snprintf(line, sizeof line, "%s %.60s", session.Welcomed() ? "JOINED" : "JOINING", plan.address);
    DrawUpper(kSubY, line, kTitleColor);
    for (int s = 0; s < kPlayers; s++) {
        SeatText(session, s, line, sizeof line);
        DrawUpper(kSeatY + kSeatStep * s, line, uint8_t(s));
    }
    DrawUpper(kStartY, host ? "START" : session.Welcomed() ? "WAITING FOR THE HOST" : "", kTextColor);
    int machines[kNetLinksMax];
    const int count = LobbyMachines(machines);
    char lines[kNetLinksMax][64];
    for (int row = 0; row < count; row++) {
        const int k = machines[row];
        const MachineLink& link = session.Link(k);
        char seats[16] = "";
        for (int s = 0; s < kPlayers; s++) {
            const bool held = k == 0 ? session.seatKinds[s] == SEAT_LOCAL : ((link.seatBits >> s) & 1) != 0;
            if (held) std::snprintf(seats + std::strlen(seats), 4, "%dP", s + 1);
        }
        // This machine's own row is marked.
        const bool own = !host && k == session.MachineNumber();
        // How the machine came through the match server: the host knows every
        // machine's way, a joining machine its own.
        const uint8_t kind = host ? m_kinds[k] : own ? m_kinds[0] : 0;
        std::snprintf(lines[row], sizeof lines[row], "%s%-12.12s %4uMS %s%s%s%s", own ? "> " : "", link.name,
                      unsigned(k == 0 ? 0 : link.srttMs), seats[0] ? seats : "WATCH", kind ? " " : "",
                      kind ? RvKindName(kind) : "", own ? " <" : "");
        DrawUpper(kMachinesY + kMachineStep * row, lines[row], own ? kTextColor : kTitleColor);
    }
    if (host) {
        char upper[100];
        if (cursor < kLobbyStartLine) SeatText(session, cursor, line, sizeof line);
        const int row = cursor - kLobbyStartLine;  // 0: START, then the machines after the host's own
        const char* shown = cursor < kLobbyStartLine ? line : row == 0 ? "START" : row < count ? lines[row] : "";
        Upper(shown, upper, sizeof upper);
        const int y = cursor < kLobbyStartLine ? kSeatY + kSeatStep * cursor
                      : row == 0               ? kStartY
                                               : kMachinesY + kMachineStep * row;
        menu::HighlightEntry(upper, y - 4);
    }
    DrawUpper(kNoteY - 28,
              host ? (cursor > kLobbyStartLine ? "DEL: REMOVE   ESC: CLOSE THE MATCH"
                                               : "RETURN: START   ESC: CLOSE THE MATCH")
                   : "ESC: LEAVE",
              kTitleColor);
    if (m_note[0]) DrawUpper(kNoteY, m_note, kWarningColor);
}

// What the player is told when the match is over for this machine: nothing
// when the player left; for a data set refusal, the file that differs.
void COnline::EndNote() {
    if (session.EndWhy() == STOP_LEFT) return;
    std::snprintf(m_note, sizeof m_note, "%s", session.EndText());
    for (int part = 0; part < kNetDataParts; part++) {
        int count = 0;
        const uint32_t* files = session.DataFiles(part, &count);
        if (files && DifferingFileText(part, files, count, m_note, sizeof m_note)) return;
    }
}

// A joining machine's lobby: waits for the welcome (within the join's time
// limit), then for the host's match. False when it is over.
bool COnline::ClientLobbyGoesOn(uint32_t openedMs) {
    if (session.HostLost()) return EndNote(), false;
    if (!LinkLobbyGoesOn()) return false;
    if (!session.Welcomed()) {
        const uint32_t now = plat::TimeMs();
        // Through a match server the path to the host has time limits of its own.
        if (!session.HostAnswered() && !m_linked && now - openedMs > kJoinLimitMs) {
            std::snprintf(m_note, sizeof m_note, "No answer from %.60s within 5 s.", plan.address);
            return false;
        }
        if (session.HostAnswered() && now - session.Link(0).connectedMs > kJoinLimitMs) {
            std::snprintf(m_note, sizeof m_note, "The host answered but did not let this machine in within 5 s.");
            return false;
        }
        return true;
    }
    NetMessage m;
    const bool menu = session.PeekMenu(&m);
    if (menu && m.screen == SCREEN_LOBBY) session.TakeMenu(&m);
    if (!session.RoundStarting() && !(menu && m.screen != SCREEN_LOBBY)) return true;
    ClientMatch();
    if (session.HostLost()) return EndNote(), false;
    return !m_note[0];
}

// The lobby, until the player leaves or the match is over. The host changes
// seats, removes machines and starts matches; a joining machine waits for the
// host's match.
void COnline::Lobby() {
    int cursor = kLobbyStartLine;
    const uint32_t openedMs = plat::TimeMs();
    theApp.ClearKeys();
    for (;;) {
        theApp.StartFrame();
        if (session.Role() == SESSION_CLIENT) {
            if (!ClientLobbyGoesOn(openedMs)) return;
            if (TakeKey(plat::VK_ESCAPE) && (!session.Welcomed() || OnlineConfirmLeave())) return;
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
            if (TakeKey(plat::VK_ESCAPE)) return;
        }
        DrawLobby(cursor);
        menu::EndFrame();
    }
}

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
