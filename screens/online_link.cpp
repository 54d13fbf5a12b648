// COnline's transport glue: opening and closing the network transport, the
// pump that moves the lockstep session's messages over it, the match
// server's link, and the notices the host's player is shown while it plays.
#include "screens/online.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "graphics/directdraw.h"
#include "match/round.h"
#include "online/onlineround.h"
#include "platform/net.h"
#include "screens/onlinetext.h"
#include "screens/pausemenu.h"
#include "sound/directsound.h"

namespace {

constexpr uint32_t kNoticeShownMs = 4000;

// The transport carries every message of the protocol whole.
static_assert(kNetMessageMax <= plat::kNetPacketMax);
static_assert(kNetLinksMax - 1 <= plat::kNetPeersMax);

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

}  // namespace

// ---- the transport glue -------------------------------------------------------------

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
