// The lockstep session: the host's ordering of events, the stream each
// machine runs its frames from, acknowledgements and resends, round-trip
// times and the input delay they give, drop-outs and the desync check.
#include "net/session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/gamedata.h"

namespace {

// Margins of the delay (see DelayFor), in microseconds.
constexpr int64_t kLeadMarginUs = 6000;
constexpr int64_t kDelayMarginUs = 6000;
constexpr uint32_t kAdaptIntervalMs = 1000;
constexpr int kAdaptHysteresisFrames = 4;

bool Later(uint32_t now, uint32_t then, uint32_t intervalMs) { return uint32_t(now - then) >= intervalMs; }

// The order of a frame's events: by frame, then kind, then seat.
bool EventBefore(const NetEvent& a, const NetEvent& b) {
    if (a.frame != b.frame) return a.frame < b.frame;
    if (a.kind != b.kind) return a.kind < b.kind;
    return a.seat < b.seat;
}

}  // namespace

CSession::CSession() { Stop(); }

void CSession::Stop() {
    std::memset(static_cast<void*>(this), 0, sizeof *this);
    for (uint8_t& h : seatHolders) h = kNoHolder;
    for (uint8_t& k : seatKinds) k = SEAT_NON;
    m_delayFrames = m_leadFrames = 1;
}

void CSession::StartHost(const char* name) {
    Stop();
    m_role = SESSION_HOST;
    std::snprintf(m_name, sizeof m_name, "%s", name);
    MachineLink& self = m_links[0];
    self.present = true;
    std::snprintf(self.name, sizeof self.name, "%s", name);
    self.rttKnown = true;
    m_welcomed = true;
}

void CSession::StartClient(const char* name, bool watch, uint8_t seatsWanted, const uint32_t* digests) {
    Stop();
    m_role = SESSION_CLIENT;
    std::snprintf(m_name, sizeof m_name, "%s", name);
    m_watch = watch;
    m_seatsWanted = watch ? 0 : seatsWanted;
    std::memcpy(dataDigests, digests, sizeof dataDigests);
}

// ---- messages out ---------------------------------------------------------

void CSession::Send(int machine, const NetMessage& message, bool reliable) {
    if (m_outCount == kSessionOutboxCapacity) return;  // the transport is not being serviced; drop
    OutMessage& out = m_outbox[(m_outFirst + m_outCount) % kSessionOutboxCapacity];
    size_t size = EncodeNetMessage(message, out.bytes, sizeof out.bytes);
    if (!size) return;
    out.machine = uint8_t(machine);
    out.reliable = reliable;
    out.size = uint16_t(size);
    m_outCount++;
    stats.bytesSent += size;
    stats.messagesSent++;
}

void CSession::Broadcast(const NetMessage& message, bool reliable) {
    for (int m = 1; m < kNetLinksMax; m++)
        if (m_links[m].present && m_links[m].name[0]) Send(m, message, reliable);
}

bool CSession::TakeOutgoing(OutMessage* out) {
    if (!m_outCount) return false;
    *out = m_outbox[m_outFirst];
    m_outFirst = (m_outFirst + 1) % kSessionOutboxCapacity;
    m_outCount--;
    return true;
}

int CSession::TakeClosing() {
    if (!m_closingCount) return -1;
    int machine = m_closing[0];
    std::memmove(m_closing, m_closing + 1, sizeof m_closing[0] * size_t(--m_closingCount));
    return machine;
}

void CSession::Close(int machine, const char* logWhy, const char* told) {
    if (machine < 0 || machine >= kNetLinksMax) return;
    stats.refused++;
    std::fprintf(stderr, "online: machine %d closed: %s\n", machine, logWhy);
    if (m_role == SESSION_CLIENT) {
        EndLink(STOP_HOST_LEFT, told);
    } else if (machine != 0 && m_links[machine].present) {  // never the host's own link
        if (m_links[machine].name[0]) Notice("%s was let go: %s.", m_links[machine].name, logWhy);
        NetMessage& m = Fresh(NET_REFUSE);
        std::snprintf(m.text, sizeof m.text, "%s", told);
        Send(machine, m, true);
        Drop(machine, m_nowMs);
    }
    Forget(machine);
}

// The transport closes the machine's connection (once).
void CSession::Forget(int machine) {
    for (int k = 0; k < m_closingCount; k++)
        if (m_closing[k] == machine) return;
    if (m_closingCount < kNetLinksMax) m_closing[m_closingCount++] = machine;
}

NetMessage& CSession::Fresh(uint8_t type) {
    std::memset(&m_scratch, 0, sizeof m_scratch);
    m_scratch.type = type;
    return m_scratch;
}

void CSession::Notice(const char* format, const char* name, const char* detail) {
    if (m_role != SESSION_HOST) return;
    if (m_noticeCount == kSessionNoticesKept) {  // the oldest gives way
        std::memmove(m_notices[0], m_notices[1], sizeof m_notices[0] * (kSessionNoticesKept - 1));
        m_noticeCount--;
    }
    char text[kNetTextMax + 1];  // name may be a machine's, in this object
    std::snprintf(text, sizeof text, format, name, detail);
    std::memcpy(m_notices[m_noticeCount++], text, sizeof text);
}

bool CSession::TakeNotice(char* text, size_t size) {
    if (!m_noticeCount) return false;
    std::snprintf(text, size, "%s", m_notices[0]);
    std::memmove(m_notices[0], m_notices[1], sizeof m_notices[0] * size_t(kSessionNoticesKept - 1));
    m_noticeCount--;
    return true;
}

// ---- connections -------------------------------------------------------------

void CSession::Connected(int machine, uint32_t nowMs, uint32_t address) {
    if (machine < 0 || machine >= kNetLinksMax) return;
    m_nowMs = nowMs;
    if (m_role == SESSION_CLIENT) {
        m_links[0].present = true;
        m_links[0].lastHeardMs = m_links[0].connectedMs = nowMs;
        SendHello(nowMs);
        return;
    }
    if (machine == 0) return;
    Greet(machine);
    MachineLink& link = m_links[machine];
    std::memset(&link, 0, sizeof link);
    link.present = true;
    link.address = address;
    link.lastHeardMs = link.rateWindowMs = link.connectedMs = nowMs;
    link.nextInput = 1;
    std::fill(std::begin(link.digestFrames), std::end(link.digestFrames), -1);
}

// Connections that have not said hello are bounded apart from the machines:
// when one more comes than may wait, the one that waited longest goes.
void CSession::Greet(int machine) {
    int greeting = 0, oldest = -1;
    for (int k = 1; k < kNetLinksMax; k++) {
        const MachineLink& link = m_links[k];
        if (k == machine || !link.present || link.name[0]) continue;
        greeting++;
        if (oldest < 0 || int32_t(link.connectedMs - m_links[oldest].connectedMs) < 0) oldest = k;
    }
    if (greeting >= kNetGreetingMax && oldest > 0)
        Close(oldest, "too many connections were waiting to say hello",
              "Too many machines were joining at once. Try again.");
}

// The hello goes out at the connection and again until the host answers: the
// transport may take the connection as made before the host does, and drop
// what comes before that.
void CSession::SendHello(uint32_t nowMs) {
    m_lastHelloMs = nowMs;
    NetMessage& m = Fresh(NET_HELLO);
    m.watch = m_watch;
    m.seatsWanted = m_seatsWanted;
    std::memcpy(m.dataDigests, dataDigests, sizeof m.dataDigests);
    m.key = machineKey;
    std::snprintf(m.version, sizeof m.version, "%s", kGameVersion);
    std::snprintf(m.name, sizeof m.name, "%s", m_name);
    Send(0, m, false);
}

void CSession::Disconnected(int machine, uint32_t nowMs) {
    m_nowMs = nowMs;
    if (m_role == SESSION_CLIENT) {
        LinkSilent(nowMs);
        return;
    }
    if (machine > 0 && machine < kNetLinksMax && m_links[machine].present) {
        if (m_links[machine].name[0]) Notice("%s lost the connection.", m_links[machine].name);
        Drop(machine, nowMs);
    }
}

// A joining machine is gone: its seats become computer players from the
// first frame that is not final yet, which no machine can have run.
void CSession::Drop(int machine, uint32_t nowMs) {
    MachineLink& link = m_links[machine];
    if (!link.present) return;
    (void)nowMs;
    link.present = false;
    for (int s = 0; s < kPlayers; s++) {
        if (!((link.seatBits >> s) & 1)) continue;
        seatHolders[s] = kNoHolder;
        if (m_inRound && m_pendingCount < kSessionPendingCapacity)
            m_pending[m_pendingCount++] = NetEvent{m_finalFrame + 1, NEV_TAKEOVER, uint8_t(s), 0};
    }
    link.seatBits = 0;
    link.name[0] = 0;
    if (m_inRound) Trim();
    SendLobby();
}

void CSession::Remove(int machine) {
    if (m_role != SESSION_HOST || machine <= 0 || machine >= kNetLinksMax || !m_links[machine].present) return;
    const MachineLink& link = m_links[machine];
    if (m_banCount < kSessionBansMax) {
        Ban& ban = m_bans[m_banCount++];
        ban.key = link.key;
        ban.address = link.address;
        std::memcpy(ban.name, link.name, sizeof ban.name);
    }
    if (link.name[0]) Notice("%s was removed from the match.", link.name);
    m_links[machine].name[0] = 0;  // the notice above says it
    Close(machine, "the host removed it", "The host removed this machine from the match.");
}

// A machine the host removed is known again by its key, or by its name from
// the same address.
bool CSession::Banned(const NetMessage& hello, const MachineLink& link) const {
    for (int k = 0; k < m_banCount; k++) {
        const Ban& ban = m_bans[k];
        if ((ban.key && ban.key == hello.key) ||
            (ban.address && ban.address == link.address && std::strcmp(ban.name, hello.name) == 0))
            return true;
    }
    return false;
}

int CSession::MachineCount() const {
    int count = 0;
    for (const MachineLink& link : m_links) count += link.present && link.name[0] ? 1 : 0;
    return count;
}

// The joining machine's link to the host is over: the round in progress stops
// (and keeps its replay up to here), and the first reason is kept for the player.
void CSession::EndLink(uint8_t why, const char* text) {
    if (m_role != SESSION_CLIENT) return;
    if (!m_endText[0]) std::snprintf(m_endText, sizeof m_endText, "%s", text);
    if (!m_endWhy) m_endWhy = why;
    m_hostLost = true;
    if (m_inRound) StopRound(why, m_finalFrame, text);
}

// The host fell silent or its connection ended. If this machine was stopped
// itself for longer than a silence just before, the host let it go for that;
// otherwise the host is gone.
void CSession::LinkSilent(uint32_t nowMs) {
    if (m_hostLost) return;
    char text[kNetTextMax + 1];
    // What came in just after the stall had waited in the socket through it.
    const MachineLink& host = m_links[0];
    const bool nothingSinceStall =
        m_selfStallAtMs && int32_t(host.lastHeardMs - m_selfStallAtMs) < int32_t(kSessionSelfStallMs);
    if (m_selfStallMs >= kSessionSilenceMinMs && nothingSinceStall) {
        std::snprintf(text, sizeof text, "This machine stopped answering for %.1f s and was dropped.",
                      m_selfStallMs / 1000.0);
        return EndLink(STOP_LET_GO, text);
    }
    if (!m_welcomed || !Later(nowMs, host.lastHeardMs, SilenceLimitMs(host)))
        return EndLink(STOP_HOST_LEFT, "The connection to the host ended.");
    std::snprintf(text, sizeof text, "The host stopped answering %.1f s ago. The match is over here.",
                  (nowMs - host.lastHeardMs) / 1000.0);
    EndLink(STOP_HOST_LEFT, text);
}

void CSession::Leave() {
    if (m_role == SESSION_HOST) return Broadcast(Fresh(NET_BYE), true);  // the match is over for everyone
    if (m_role != SESSION_CLIENT || m_hostLost) return;
    Send(0, Fresh(NET_BYE), true);
    std::snprintf(m_endText, sizeof m_endText, "This machine left the match.");
    m_endWhy = STOP_LEFT;
    m_hostLost = true;
}

// ---- messages in ------------------------------------------------------------------

void CSession::Receive(int machine, const uint8_t* bytes, size_t size, uint32_t nowMs) {
    if (machine < 0 || machine >= kNetLinksMax) return;
    m_nowMs = nowMs;
    stats.bytesReceived += size;
    NetMessage& m = m_scratch;
    NetDecodeResult result = DecodeNetMessage(bytes, size, &m);
    if (result != NET_DECODE_OK) {
        char why[96], told[kNetTextMax + 1];
        std::snprintf(why, sizeof why, "it sent %s", NetDecodeText(result));
        std::snprintf(told, sizeof told, "%s sent %s.", m_role == SESSION_HOST ? "This machine" : "The host",
                      NetDecodeText(result));
        Close(machine, why, told);
        return;
    }
    if (m_role == SESSION_HOST) {
        MachineLink& link = m_links[machine];
        if (machine == 0 || !link.present) return;
        if (Later(nowMs, link.rateWindowMs, 1000)) {
            link.rateWindowMs = nowMs;
            link.rateMessages = 0;
            std::memset(link.ratePresses, 0, sizeof link.ratePresses);
        }
        if (++link.rateMessages > kNetMessagesPerSecondMax)
            return Close(machine, "it sent too many messages", "This machine sent too many messages and was dropped.");
        link.lastHeardMs = nowMs;
        HostReceive(machine, m, nowMs);
    } else if (m_role == SESSION_CLIENT) {
        if (machine != 0 || m_hostLost) return;
        m_links[0].lastHeardMs = nowMs;
        ClientReceive(m, nowMs);
    }
}

void CSession::HostReceive(int machine, const NetMessage& m, uint32_t nowMs) {
    MachineLink& link = m_links[machine];
    // Before HELLO only HELLO and BYE count (a ping may overtake the HELLO).
    if (!link.name[0] && m.type != NET_HELLO && m.type != NET_BYE) return;
    switch (m.type) {
    case NET_HELLO:
        return Hello(machine, m);
    case NET_INPUT:
        return Inputs(machine, m, nowMs);
    case NET_DIGEST:
        // Only machines that play send their state; the host's is the reference.
        if (link.watch)
            return Close(machine, "it sent a state digest though it watches",
                         "A watching machine sends no state digests.");
        if (m.roundId == m_roundId && m_inRound && link.roundId == m_roundId) ClientDigest(machine, m.frame, m.digest);
        return;
    case NET_PING:
        return Pinged(link, m.stampMs);
    case NET_PONG:
        return Ponged(link, m.stampMs, nowMs);
    case NET_BYE:
        if (link.name[0]) Notice("%s has left the match.", link.name);
        Drop(machine, nowMs);
        return Forget(machine);  // its connection too, should its own closing not arrive
    default:
        return Close(machine, "it sent a message only the host may send",
                     "This machine sent a message only the host may send.");
    }
}

void CSession::Pinged(MachineLink& link, uint32_t stampMs) {
    const int machine = int(&link - m_links);
    NetMessage& r = Fresh(NET_PONG);
    r.stampMs = stampMs;
    Send(machine, r, false);
}

void CSession::Ponged(MachineLink& link, uint32_t stampMs, uint32_t nowMs) {
    // A stamp this machine never sent, or one of a connection before this one.
    if (uint32_t(nowMs - stampMs) > 60000 || int32_t(stampMs - link.connectedMs) < 0) return;
    link.pongsHeard++;
    LossHeard(link);
    Rtt(link, nowMs - stampMs);
}

// A joining machine: the same version and data set, a place free, then seats.
void CSession::Hello(int machine, const NetMessage& m) {
    MachineLink& link = m_links[machine];
    if (link.name[0]) return;  // said again (its hello is repeated until welcomed): the first counts
    char why[kNetTextMax + 1];
    if (Banned(m, link))
        return Close(machine, "the host removed it from this match before",
                     "The host removed this machine from this match. It cannot join again.");
    if (std::strcmp(m.version, kGameVersion) != 0) {
        std::snprintf(why, sizeof why, "The host runs version %s and this machine %s.", kGameVersion, m.version);
        return Close(machine, "it runs another version", why);
    }
    char parts[64] = "";
    for (int p = 0; p < kNetDataParts; p++)
        if (m.dataDigests[p] != dataDigests[p])
            std::snprintf(parts + std::strlen(parts), sizeof parts - std::strlen(parts), "%s%s",
                          parts[0] ? " and " : "", NetDataPartName(p));
    if (parts[0]) {
        for (int p = 0; p < kNetDataParts; p++)
            if (m.dataDigests[p] != dataDigests[p]) SendDataFiles(machine, p);
        std::snprintf(why, sizeof why, "The data sets differ: this machine has other %s than the host.", parts);
        return Close(machine, "its data set differs", why);
    }
    if (MachineCount() >= kNetMachinesMax)
        return Close(machine, "the match is full", "The match is full: it has all the machines it can take.");
    std::snprintf(link.name, sizeof link.name, "%s", m.name[0] ? m.name : "GUEST");
    link.key = m.key;
    link.watch = m.watch;
    int wanted = m.watch ? 0 : (allowSeveralSeats ? (m.seatsWanted ? m.seatsWanted : 1) : 1);
    for (int s = 0; s < kPlayers && wanted > 0; s++) {
        if (seatKinds[s] != SEAT_REMOTE || seatHolders[s] != kNoHolder) continue;
        seatHolders[s] = uint8_t(machine);
        link.seatBits |= uint8_t(1 << s);
        wanted--;
    }
    std::fprintf(stderr, "online: %s joined as machine %d%s\n", link.name, machine, link.watch ? " to watch" : "");
    NetMessage& w = Fresh(NET_WELCOME);
    w.machine = uint8_t(machine);
    w.seatBits = link.seatBits;
    Send(machine, w, true);
    SendLobby();
}

// The digests of a part's files, for the machine to find the file that differs.
void CSession::SendDataFiles(int machine, int part) {
    const int count = m_dataFileCount[part];
    for (int first = 0; first < count; first += kNetFilesPerMessage) {
        NetMessage& f = Fresh(NET_FILES);
        f.part = uint8_t(part);
        f.fileCount = uint16_t(count);
        f.firstFile = uint16_t(first);
        f.fileDigestCount = uint8_t(std::min(kNetFilesPerMessage, count - first));
        std::memcpy(f.fileDigests, m_dataFiles[part] + first, sizeof f.fileDigests[0] * f.fileDigestCount);
        Send(machine, f, true);
    }
}

void CSession::SetDataFiles(int part, const uint32_t* digests, int count) {
    if (part < 0 || part >= kNetDataParts) return;
    count = std::clamp(count, 0, kNetDataFilesMax);
    m_dataFileCount[part] = uint16_t(count);
    std::memcpy(m_dataFiles[part], digests, sizeof digests[0] * size_t(count));
}

const uint32_t* CSession::DataFiles(int part, int* count) const {
    *count = part >= 0 && part < kNetDataParts ? m_dataFileCount[part] : 0;
    return *count ? m_dataFiles[part] : nullptr;
}

void CSession::Inputs(int machine, const NetMessage& m, uint32_t nowMs) {
    MachineLink& link = m_links[machine];
    if (!m_inRound || m.roundId != m_roundId || link.roundId != m_roundId) return;
    if (m.frame > m_finalFrame)
        return Close(machine, "it claims frames the host never sent",
                     "This machine claimed frames the host never sent.");
    link.haveFrame = std::max(link.haveFrame, m.frame);
    for (int k = 0; k < m.eventCount; k++) {
        const NetEvent& e = m.events[k];
        const uint32_t sequence = m.sequence + uint32_t(k);
        if (sequence != link.nextInput) {
            if (int32_t(sequence - link.nextInput) > 0) break;  // an earlier one was lost: wait for the resend
            continue;                                           // seen already
        }
        if (!((link.seatBits >> e.seat) & 1))
            return Close(machine, "it sent presses for a seat it does not hold",
                         "This machine sent presses for a seat it does not hold.");
        if (e.kind != NEV_PRESS && e.kind != NEV_PAUSE)
            return Close(machine, "it sent an event only the host makes",
                         "This machine sent an event only the host makes.");
        link.nextInput++;
        if (++link.ratePresses[e.seat] > kNetPressesPerSecondMax) continue;  // bounded rate: dropped
        if (e.kind == NEV_PAUSE) {
            // Pause requests of a machine count once per interval: the others
            // are not held in the menu again and again.
            if (link.lastPauseMs && !Later(nowMs, link.lastPauseMs, kSessionPauseIntervalMs)) continue;
            link.lastPauseMs = nowMs ? nowMs : 1;
        }
        // A stamp too far ahead would hold the seat's later presses back.
        NetEvent stamped = e;
        stamped.frame = std::min(e.frame, m_finalFrame + 2 * m_delayFrames + m_leadFrames);
        Pending(stamped);
    }
    Trim();
}

bool CSession::Pending(const NetEvent& e) {
    if (m_pendingCount == kSessionPendingCapacity) return false;
    m_pending[m_pendingCount++] = e;
    return true;
}

void CSession::ClientReceive(const NetMessage& m, uint32_t nowMs) {
    switch (m.type) {
    case NET_REFUSE:
        std::snprintf(m_refusal, sizeof m_refusal, "%s", m.text);
        return EndLink(STOP_LET_GO, m.text);
    case NET_WELCOME:
        m_welcomed = true;
        m_machine = m.machine;
        m_seatBits = m.seatBits;
        m_links[0].lastHeardMs = nowMs;  // silence counts from here
        return;
    case NET_LOBBY:
        std::memcpy(seatKinds, m.seatKinds, sizeof seatKinds);
        std::memcpy(seatHolders, m.seatHolders, sizeof seatHolders);
        // The machines as the host sees them; machines that left are gone.
        // Link 0 keeps this machine's own round-trip time to the host.
        for (MachineLink& link : m_links) link.name[0] = 0;
        for (int k = 0; k < m.machineCount; k++) {
            MachineLink& link = m_links[m.machines[k].number];
            std::snprintf(link.name, sizeof link.name, "%s", m.machines[k].name);
            if (m.machines[k].number != 0) link.srttMs = m.machines[k].rttMs;
            link.seatBits = m.machines[k].seatBits;
            // The host may have changed this machine's seats in the lobby.
            if (m.machines[k].number == m_machine && m_machine != 0 && !m_inRound) m_seatBits = link.seatBits;
        }
        return;
    case NET_ROUND_START:
        if (m.start.roundId == m_roundId && m_inRound) return;
        m_start = m.start;
        m_startArrived = true;
        m_menusBeforeStart = m_menuCount;
        return;
    case NET_FRAMES:
        return Frames(m);
    case NET_STOP:
        if (m.roundId != m_roundId || !m_inRound) return;
        m_stopHostDigest = m.digest;
        StopRound(m.why, m.frame, m.text);
        if (!m_endText[0]) std::snprintf(m_endText, sizeof m_endText, "%s", m.text);
        if (!m_endWhy) m_endWhy = m.why;
        return;
    case NET_MENU:
        if (m_menuCount == kSessionMenusKept) {  // the oldest cursor move gives way
            m_menuFirst = (m_menuFirst + 1) % kSessionMenusKept;
            m_menuCount--;
        }
        m_menus[(m_menuFirst + m_menuCount++) % kSessionMenusKept] = MenuOutcome{m.screen, m.choice, m.value};
        return;
    case NET_PING:
        return Pinged(m_links[0], m.stampMs);
    case NET_PONG:
        return Ponged(m_links[0], m.stampMs, nowMs);
    case NET_BYE:
        return EndLink(STOP_HOST_LEFT, "The host has left the match.");
    case NET_FILES:
        if (m.firstFile == 0) m_dataFileCount[m.part] = m.fileCount;
        if (m.fileCount != m_dataFileCount[m.part]) return;
        std::memcpy(m_dataFiles[m.part] + m.firstFile, m.fileDigests, sizeof m.fileDigests[0] * m.fileDigestCount);
        return;
    default:
        return;  // a joining machine never closes its only link; it ignores what is not for it
    }
}

// The stream grows only at its end: a message must start at or before the
// frame through which this machine has it, and reach beyond it.
void CSession::Frames(const NetMessage& m) {
    if (!m_inRound || m.roundId != m_roundId) return;
    int drop = int(int32_t(m.sequence - m_unackedFirst) + 1);  // inputs acknowledged
    if (drop > 0) {
        drop = std::min(drop, m_unackedCount);
        std::memmove(m_unacked, m_unacked + drop, sizeof m_unacked[0] * size_t(m_unackedCount - drop));
        m_unackedCount -= drop;
        m_unackedFirst += uint32_t(drop);
    }
    if (m.frame > m_finalFrame || m.finalFrame <= m_finalFrame) return;
    for (int k = 0; k < m.eventCount; k++) {
        if (m.events[k].frame <= m_finalFrame) continue;
        if (m_end - m_begin == uint32_t(kSessionStreamCapacity)) return;  // cannot happen: the host keeps less
        Append(m.events[k]);
    }
    m_finalFrame = m.finalFrame;
}

// ---- the round ---------------------------------------------------------------------

void CSession::BeginRound(NetRoundStart* start, int32_t frameUs, uint32_t nowMs) {
    m_inRound = true;
    m_frameUs = frameUs;
    m_begin = m_end = m_read = 0;
    m_finalFrame = 0;
    m_pendingCount = 0;
    m_unackedCount = 0;
    m_unackedFirst = m_nextSequence = 1;
    m_lastStamp = 0;
    tickedFrame = -1;
    m_stopWhy = 0;
    m_stopText[0] = 0;
    m_stopHostDigest = 0;
    std::fill(std::begin(m_ownDigestFrames), std::end(m_ownDigestFrames), -1);
    m_lastAdaptMs = nowMs;
    for (auto& kind : m_lastPlaced)
        for (int32_t& f : kind) f = 0;
    if (m_role == SESSION_HOST) {
        m_seatBits = 0;
        for (int s = 0; s < kPlayers; s++)
            if (seatKinds[s] == SEAT_LOCAL) m_seatBits |= uint8_t(1 << s);
        start->roundId = ++m_roundId;
        DelayFor(RttMs(), 0, frameUs, &m_delayFrames, &m_leadFrames);
        for (int m = 1; m < kNetLinksMax; m++) {
            MachineLink& link = m_links[m];
            if (link.present && link.name[0])
                DelayFor(link.srttMs, link.rttVarMs, frameUs, &m_delayFrames, &m_leadFrames);
        }
        start->delayFrames = m_delayFrames;
        m_start = *start;
        NetMessage& m = Fresh(NET_ROUND_START);
        m.start = *start;
        for (int k = 1; k < kNetLinksMax; k++) {
            MachineLink& link = m_links[k];
            if (!link.present || !link.name[0]) continue;
            link.roundId = m_roundId;
            link.haveFrame = 0;
            link.nextInput = 1;
            std::fill(std::begin(link.digestFrames), std::end(link.digestFrames), -1);
            Send(k, m, true);
        }
        std::fill(std::begin(m_links[0].digestFrames), std::end(m_links[0].digestFrames), -1);
        Commit(m_leadFrames);
    } else {
        m_roundId = start->roundId;
        m_delayFrames = start->delayFrames;
        m_leadFrames = 0;
    }
    std::fprintf(stderr, "online: round %u begins\n", unsigned(m_roundId));
}

void CSession::EndRound() { m_inRound = false; }

void CSession::Append(const NetEvent& e) {
    m_stream[m_end % kSessionStreamCapacity] = e;
    m_end++;
}

// Host: every intent stamped for frames up to through is placed and the
// stream becomes final through that frame. An intent whose frame is final
// already (it came late) takes the first open frame; a seat gets at most one
// event of a kind per frame, the next one moves to the frame after; an
// intent that does not fit waits, and so do the later ones of its kind and
// seat, so that a seat's presses keep their order.
void CSession::Commit(int32_t through) {
    if (through <= m_finalFrame) return;
    NetEvent placed[kSessionPendingCapacity];
    int placedCount = 0, kept = 0;
    bool deferred[NEV_KIND_END][kPlayers] = {};
    const uint32_t room = uint32_t(kSessionStreamCapacity) - (m_end - m_begin);
    for (int k = 0; k < m_pendingCount; k++) {
        NetEvent e = m_pending[k];
        int32_t& last = m_lastPlaced[e.kind][e.seat];
        int32_t frame = std::max({e.frame, m_finalFrame + 1, last + 1});
        if (deferred[e.kind][e.seat] || frame > through || uint32_t(placedCount) == room) {
            deferred[e.kind][e.seat] = true;
            m_pending[kept++] = e;
            continue;
        }
        if (frame > e.frame && e.kind == NEV_PRESS) stats.latePresses++;
        e.frame = frame;
        last = frame;
        placed[placedCount++] = e;
    }
    m_pendingCount = kept;
    std::sort(placed, placed + placedCount, EventBefore);
    for (int k = 0; k < placedCount; k++) Append(placed[k]);
    m_finalFrame = through;
}

// Events are kept until every machine in the round has them and this
// machine has run past them. A machine that stays so far behind that the
// stream would overflow is let go (its seats become computers).
void CSession::Trim() {
    int32_t keepFrom = m_read < m_end ? At(m_read).frame : m_finalFrame + 1;
    if (m_role == SESSION_HOST)
        for (int k = 1; k < kNetLinksMax; k++)
            if (m_links[k].present && m_links[k].roundId == m_roundId)
                keepFrom = std::min(keepFrom, m_links[k].haveFrame + 1);
    while (m_begin < m_end && m_begin < m_read && At(m_begin).frame < keepFrom) m_begin++;
}

void CSession::BeginFrame(int32_t frame, uint8_t* takeoverSeats, bool* pause, uint32_t nowMs) {
    *takeoverSeats = 0;
    *pause = false;
    m_nowMs = nowMs;
    while (m_read < m_end && At(m_read).frame < frame) m_read++;  // events the round did not meet
    for (uint32_t k = m_read; k < m_end && At(k).frame == frame; k++) {
        const NetEvent& e = At(k);
        if (e.kind == NEV_DELAY) m_delayFrames = e.value;
        if (e.kind == NEV_TAKEOVER) *takeoverSeats |= uint8_t(1 << e.seat);
        if (e.kind == NEV_PAUSE) *pause = true;
    }
    if (m_role == SESSION_HOST) {
        Adapt(nowMs);
        Commit(frame + m_leadFrames);
        if (m_end - m_begin > uint32_t(kSessionStreamCapacity) * 3 / 4) {
            // Someone lags far behind: let the slowest machine go.
            int slowest = -1;
            for (int k = 1; k < kNetLinksMax; k++)
                if (m_links[k].present && m_links[k].roundId == m_roundId &&
                    (slowest < 0 || m_links[k].haveFrame < m_links[slowest].haveFrame))
                    slowest = k;
            if (slowest > 0)
                Close(slowest, "it fell too far behind the match",
                      "This machine fell too far behind the match and was dropped.");
        }
    }
    Trim();
}

bool CSession::TakeTick(int32_t frame) {
    for (uint32_t k = m_read; k < m_end && At(k).frame == frame; k++)
        if (At(k).kind == NEV_TICK) return true;
    return false;
}

bool CSession::TakeWait(int32_t frame, uint16_t* wait) {
    for (uint32_t k = m_read; k < m_end && At(k).frame == frame; k++)
        if (At(k).kind == NEV_WAIT) return *wait = At(k).value, true;
    return false;
}

uint8_t CSession::TakePresses(int32_t frame, int seat) {
    for (uint32_t k = m_read; k < m_end && At(k).frame == frame; k++)
        if (At(k).kind == NEV_PRESS && At(k).seat == seat) return uint8_t(At(k).value);
    return 0;
}

void CSession::QueuePress(int32_t frame, int seat, uint8_t bits) {
    if (!HoldsSeat(seat) || !bits) return;
    // Stamps never go back (the delay may shrink), so inputs stay in order.
    m_lastStamp = std::max(m_lastStamp, frame + m_delayFrames);
    NetEvent e{m_lastStamp, NEV_PRESS, uint8_t(seat), uint16_t(bits & 7)};
    if (m_role == SESSION_HOST) {
        Pending(e);
        return;
    }
    if (m_unackedCount == kNetInputsPerMessage) return;  // cannot happen at a bounded press rate
    m_unacked[m_unackedCount++] = e;
    m_links[0].lastSentMs = m_nowMs - kSessionSendIntervalMs;  // a new press goes out at once
    SendInputs(m_nowMs);
}

void CSession::QueuePause(int32_t frame, int seat) {
    if (!HoldsSeat(seat)) return;
    if (m_role == SESSION_CLIENT && !MayAskForPause(m_nowMs)) return;
    m_lastStamp = std::max(m_lastStamp, frame + m_delayFrames);
    NetEvent e{m_lastStamp, NEV_PAUSE, uint8_t(seat), 0};
    if (m_role == SESSION_HOST) {
        Pending(e);
    } else if (m_unackedCount < kNetInputsPerMessage) {
        m_unacked[m_unackedCount++] = e;
        m_lastPauseMs = m_nowMs ? m_nowMs : 1;
    }
}

bool CSession::MayAskForPause(uint32_t nowMs) const {
    return m_role == SESSION_HOST || !m_lastPauseMs || Later(nowMs, m_lastPauseMs, kSessionPauseIntervalMs);
}

void CSession::QueueTick(int32_t frame) {
    if (m_role == SESSION_HOST) Pending(NetEvent{frame + m_delayFrames, NEV_TICK, 0, 0});
}

void CSession::QueueWait(int32_t frame, uint16_t wait) {
    if (m_role == SESSION_HOST) Pending(NetEvent{frame + m_delayFrames, NEV_WAIT, 0, wait});
}

// ---- desync check -----------------------------------------------------------------

// Every machine that plays keeps its digests; a joining machine sends them to
// the host, whose own are the reference. A watching machine sends none.
void CSession::RecordDigest(int32_t frame, uint32_t digest) {
    if (!m_inRound) return;
    const int slot = int(uint32_t(frame) % kSessionDigestsKept);
    m_ownDigestFrames[slot] = frame;
    m_ownDigests[slot] = digest;
    if (m_role == SESSION_CLIENT) {
        if (m_watch || m_hostLost) return;
        NetMessage& m = Fresh(NET_DIGEST);
        m.roundId = m_roundId;
        m.frame = frame;
        m.digest = digest;
        return Send(0, m, true);
    }
    MachineLink& self = m_links[0];
    self.digestFrames[slot] = frame;
    self.digests[slot] = digest;
    for (int k = 1; k < kNetLinksMax; k++)
        if (m_links[k].present && m_links[k].roundId == m_roundId) CompareDigests(k);
}

void CSession::ClientDigest(int machine, int32_t frame, uint32_t digest) {
    MachineLink& link = m_links[machine];
    const int slot = int(uint32_t(frame) % kSessionDigestsKept);
    link.digestFrames[slot] = frame;
    link.digests[slot] = digest;
    CompareDigests(machine);
}

// Digests the host and a machine both have for the same frame must agree.
void CSession::CompareDigests(int machine) {
    MachineLink& link = m_links[machine];
    const MachineLink& self = m_links[0];
    for (int slot = 0; slot < kSessionDigestsKept; slot++) {
        if (link.digestFrames[slot] < 0 || link.digestFrames[slot] != self.digestFrames[slot]) continue;
        const int32_t frame = link.digestFrames[slot];
        link.digestFrames[slot] = -1;
        if (link.digests[slot] != self.digests[slot])
            return Parted(machine, frame, link.digests[slot], self.digests[slot]);
    }
}

// A machine whose state parted from the host's is the one that went astray:
// its round alone stops, with both digests, and it is let go; its seats play
// on as computers here and on the other machines.
void CSession::Parted(int machine, int32_t frame, uint32_t digest, uint32_t hostDigest) {
    MachineLink& link = m_links[machine];
    std::fprintf(stderr, "online: %s parted ways at frame %ld (%08X, host %08X)\n", link.name, long(frame), digest,
                 hostDigest);
    NetMessage& m = Fresh(NET_STOP);
    m.roundId = m_roundId;
    m.frame = frame;
    m.why = STOP_DESYNC;
    m.digest = hostDigest;
    std::snprintf(m.text, sizeof m.text, "This machine parted ways with the host at frame %ld and was let go.",
                  long(frame));
    Send(machine, m, true);
    char logWhy[96];
    std::snprintf(logWhy, sizeof logWhy, "its state parted from the state here at frame %ld", long(frame));
    Close(machine, logWhy, m_scratch.text);
}

void CSession::StopRound(uint8_t why, int32_t frame, const char* text) {
    if (m_stopWhy) return;
    m_stopWhy = why;
    m_stopFrame = frame;
    std::snprintf(m_stopText, sizeof m_stopText, "%s", text);
}

void CSession::StopNote(char* note, size_t size) const {
    const int slot = int(uint32_t(m_stopFrame) % kSessionDigestsKept);
    if (m_stopWhy == STOP_DESYNC && m_ownDigestFrames[slot] == m_stopFrame) {
        std::snprintf(note, size, "%s\nState digests at frame %ld: this machine %08X, the host %08X.\n", m_stopText,
                      long(m_stopFrame), m_ownDigests[slot], m_stopHostDigest);
        return;
    }
    // Otherwise this machine's last digest, for comparing with the others' replays.
    int last = -1;
    for (int k = 0; k < kSessionDigestsKept; k++)
        if (m_ownDigestFrames[k] >= 0 && (last < 0 || m_ownDigestFrames[k] > m_ownDigestFrames[last])) last = k;
    if (last < 0) {
        std::snprintf(note, size, "%s\n", m_stopText);
        return;
    }
    std::snprintf(note, size, "%s\nThis machine's state digest at frame %ld: %08X.\n", m_stopText,
                  long(m_ownDigestFrames[last]), m_ownDigests[last]);
}

// ---- timers -------------------------------------------------------------------------

void CSession::Service(uint32_t nowMs) {
    m_nowMs = nowMs;
    if (m_lastServiceMs && Later(nowMs, m_lastServiceMs, kSessionSelfStallMs)) StallSeen(nowMs);
    m_lastServiceMs = nowMs;
    if (m_role == SESSION_HOST) ServiceHost(nowMs);
    if (m_role == SESSION_CLIENT) ServiceClient(nowMs);
}

// This machine's timers did not run for a while (it was stopped, or busy).
// What the others sent meanwhile waited in the socket and is taken before
// the timers run again, so their silences are judged fairly as they are; the
// stall is kept, for the reason when this machine finds itself let go.
void CSession::StallSeen(uint32_t nowMs) {
    m_selfStallMs = nowMs - m_lastServiceMs;
    m_selfStallAtMs = nowMs;
    if (m_selfStallMs >= kSessionSilenceMinMs)
        std::fprintf(stderr, "online: this machine did not run for %u ms\n", unsigned(m_selfStallMs));
}

void CSession::ServiceHost(uint32_t nowMs) {
    m_links[0].lastHeardMs = nowMs;  // the host's own clock, for the send stamps
    for (int k = 1; k < kNetLinksMax; k++) {
        MachineLink& link = m_links[k];
        if (!link.present) continue;
        if (!link.name[0]) {
            if (Later(nowMs, link.connectedMs, kSessionHelloLimitMs))
                Close(k, "it said no hello within 3 s", "This machine did not say hello within 3 s.");
            continue;  // a connection that has not said hello is not pinged
        }
        if (Later(nowMs, link.lastHeardMs, SilenceLimitMs(link))) {
            char logWhy[96], told[kNetTextMax + 1];
            const double seconds = (nowMs - link.lastHeardMs) / 1000.0;
            std::snprintf(logWhy, sizeof logWhy, "it answered nothing for %.1f s", seconds);
            std::snprintf(told, sizeof told, "This machine stopped answering for %.1f s and was dropped.", seconds);
            Notice("%s stopped answering and was dropped.", link.name);
            link.name[0] = 0;  // the notice above says it
            Close(k, logWhy, told);
            continue;
        }
        if (Later(nowMs, link.lastPingMs, kSessionPingIntervalMs)) Ping(k, nowMs);
        if (m_inRound && link.roundId == m_roundId) SendFrames(k, nowMs);
    }
}

void CSession::ServiceClient(uint32_t nowMs) {
    MachineLink& host = m_links[0];
    if (!host.present || m_hostLost) return;
    if (!m_welcomed) {
        // Until the welcome only the join's own time limit applies (the lobby's).
        if (Later(nowMs, m_lastHelloMs, kSessionHelloResendMs)) SendHello(nowMs);
        return;
    }
    if (Later(nowMs, host.lastHeardMs, SilenceLimitMs(host))) return LinkSilent(nowMs);
    if (Later(nowMs, host.lastPingMs, kSessionPingIntervalMs)) Ping(0, nowMs);
    if (m_inRound) SendInputs(nowMs);
}

// A ping keeps the link alive and measures it: its answer gives the round
// trip, and the share of pings never answered the link's loss, both ways
// together.
void CSession::Ping(int machine, uint32_t nowMs) {
    MachineLink& link = m_links[machine];
    link.lastPingMs = nowMs;
    NetMessage& m = Fresh(NET_PING);
    m.stampMs = nowMs;
    Send(machine, m, false);
    if (++link.pingsSent < kSessionLossWindowPings) return;
    const int lost = std::max(0, link.pingsSent - link.pongsHeard);
    link.windowLossPermille = uint32_t(1000 * lost / link.pingsSent);
    link.windowPending = true;
    link.pingsSent = link.pongsHeard = 0;
}

// An answer: the link still works, so the window before counts in its loss.
void CSession::LossHeard(MachineLink& link) {
    if (!link.windowPending) return;
    link.windowPending = false;
    const uint32_t window = link.windowLossPermille;
    link.lossPermille = link.lossKnown ? (3 * link.lossPermille + window) / 4 : window;
    link.lossKnown = true;
}

// Everything of the stream the machine has not acknowledged, as far as one
// message holds; cut at a frame's edge so that a frame is never half final.
void CSession::SendFrames(int machine, uint32_t nowMs) {
    MachineLink& link = m_links[machine];
    const bool behind = link.haveFrame < m_finalFrame;
    if (!Later(nowMs, link.lastSentMs, behind ? kSessionSendIntervalMs : kSessionIdleSendIntervalMs)) return;
    NetMessage& m = Fresh(NET_FRAMES);
    m.roundId = m_roundId;
    m.frame = link.haveFrame;
    m.finalFrame = m_finalFrame;
    m.sequence = link.nextInput - 1;
    uint32_t k = m_begin;
    while (k < m_end && At(k).frame <= link.haveFrame) k++;
    for (; k < m_end; k++) {
        if (m.eventCount == kNetEventsPerMessage) {
            m.finalFrame = At(k).frame - 1;
            while (m.eventCount > 0 && m.events[m.eventCount - 1].frame > m.finalFrame) m.eventCount--;
            break;
        }
        m.events[m.eventCount++] = At(k);
    }
    Send(machine, m, false);
    link.lastSentMs = nowMs;
}

void CSession::SendInputs(uint32_t nowMs) {
    MachineLink& host = m_links[0];
    const bool waiting = m_unackedCount > 0;
    if (!Later(nowMs, host.lastSentMs, waiting ? kSessionSendIntervalMs : kSessionIdleSendIntervalMs)) return;
    NetMessage& m = Fresh(NET_INPUT);
    m.roundId = m_roundId;
    m.frame = m_finalFrame;
    m.sequence = m_unackedFirst;
    m.eventCount = uint16_t(m_unackedCount);
    std::memcpy(m.events, m_unacked, sizeof m_unacked[0] * size_t(m_unackedCount));
    Send(0, m, false);
    host.lastSentMs = nowMs;
}

// ---- round-trip time and the input delay ---------------------------------------------

void CSession::Rtt(MachineLink& link, uint32_t sampleMs) {
    if (sampleMs > 60000) return;  // a stamp this machine never sent
    if (!link.rttKnown) {
        link.srttMs = sampleMs;
        link.rttVarMs = sampleMs / 2;
        link.rttKnown = true;
        return;
    }
    const uint32_t deviation = sampleMs > link.srttMs ? sampleMs - link.srttMs : link.srttMs - sampleMs;
    link.rttVarMs = (3 * link.rttVarMs + deviation) / 4;
    link.srttMs = (7 * link.srttMs + sampleMs) / 8;
}

// How long a link may stay silent before its machine counts as gone: the
// round trip with four times its variation, plus as many keep-alive
// intervals as make losing every one of them in a row less likely than one in
// a billion at the loss measured (each way taken as half the round trip's).
// Within kSessionSilenceMinMs and kSessionSilenceMaxMs.
uint32_t CSession::SilenceLimitMs(const MachineLink& link) {
    const double roundTripLoss = std::min<uint32_t>(link.lossPermille, 900) / 1000.0;
    const double oneWayLoss = std::max(0.02, 1.0 - std::sqrt(1.0 - roundTripLoss));
    const uint32_t intervals = uint32_t(std::ceil(std::log(1e-9) / std::log(oneWayLoss)));
    const uint32_t limitMs = link.srttMs + 4 * link.rttVarMs + intervals * kSessionPingIntervalMs;
    return std::clamp(limitMs, kSessionSilenceMinMs, kSessionSilenceMaxMs);
}

uint32_t CSession::RttMs() const {
    if (m_role == SESSION_CLIENT) return m_links[0].srttMs;
    uint32_t rtt = 0;
    for (int k = 1; k < kNetLinksMax; k++)
        if (m_links[k].present && m_links[k].seatBits) rtt = std::max(rtt, m_links[k].srttMs);
    return rtt;
}

// The lead covers the jitter of the way down and the send interval; the
// delay covers a press's way up and the lead, so that a press reaches the
// host before its frame becomes final. The larger of the current values
// and this machine's is kept.
void CSession::DelayFor(uint32_t rttMs, uint32_t rttVarMs, int32_t frameUs, uint16_t* delayFrames,
                        uint16_t* leadFrames) {
    if (frameUs < 1) frameUs = 1;
    const int64_t leadUs = int64_t(2 * rttVarMs) * 1000 + int64_t(kSessionSendIntervalMs) * 1000 + kLeadMarginUs;
    const int64_t delayUs =
        int64_t(rttMs + 2 * rttVarMs) * 1000 + int64_t(kSessionSendIntervalMs) * 1000 + leadUs + kDelayMarginUs;
    const int64_t lead = std::min<int64_t>((leadUs + frameUs - 1) / frameUs, kNetDelayFramesMax / 2);
    const int64_t delay = std::min<int64_t>((delayUs + frameUs - 1) / frameUs, kNetDelayFramesMax);
    *leadFrames = uint16_t(std::max<int64_t>(*leadFrames, std::max<int64_t>(lead, 1)));
    *delayFrames = uint16_t(std::max<int64_t>(*delayFrames, std::max<int64_t>(delay, *leadFrames + 1)));
}

// Once a second the host fits the delay to the times it measures; small
// changes are let be, so the delay does not wander.
void CSession::Adapt(uint32_t nowMs) {
    if (!Later(nowMs, m_lastAdaptMs, kAdaptIntervalMs)) return;
    m_lastAdaptMs = nowMs;
    uint16_t delay = 1, lead = 1;
    for (int k = 1; k < kNetLinksMax; k++) {
        const MachineLink& link = m_links[k];
        if (link.present && link.roundId == m_roundId && link.seatBits)
            DelayFor(link.srttMs, link.rttVarMs, m_frameUs, &delay, &lead);
    }
    m_leadFrames = std::max(m_leadFrames, lead);
    if (std::abs(int(delay) - int(m_delayFrames)) < kAdaptHysteresisFrames || delay <= m_leadFrames) return;
    Pending(NetEvent{m_finalFrame + 1, NEV_DELAY, 0, delay});
}

// ---- menus and the lobby ----------------------------------------------------------------

void CSession::SendMenu(uint8_t screen, uint8_t choice, int32_t value) {
    NetMessage& m = Fresh(NET_MENU);
    m.screen = screen;
    m.choice = choice;
    m.value = value;
    Broadcast(m, true);
}

void CSession::SendLobby() {
    if (m_role != SESSION_HOST) return;
    NetMessage& m = Fresh(NET_LOBBY);
    std::memcpy(m.seatKinds, seatKinds, sizeof seatKinds);
    std::memcpy(m.seatHolders, seatHolders, sizeof seatHolders);
    for (int k = 0; k < kNetLinksMax; k++) {
        const MachineLink& link = m_links[k];
        if (!link.present || !link.name[0]) continue;
        NetMachineInfo& info = m.machines[m.machineCount++];
        info.number = uint8_t(k);
        info.rttMs = uint16_t(std::min<uint32_t>(link.srttMs, 0xFFFF));
        info.seatBits = link.seatBits;
        std::snprintf(info.name, sizeof info.name, "%s", link.name);
    }
    Broadcast(m, true);
}

void CSession::SetSeatKind(int seat, uint8_t kind) {
    if (m_role != SESSION_HOST || m_inRound || seat < 0 || seat >= kPlayers || kind >= SEAT_KIND_END) return;
    const uint8_t bit = uint8_t(1 << seat);
    if (seatHolders[seat] != kNoHolder) m_links[seatHolders[seat]].seatBits &= uint8_t(~bit);
    seatHolders[seat] = kNoHolder;
    seatKinds[seat] = kind;
    if (kind == SEAT_REMOTE)
        for (int k = 1; k < kNetLinksMax; k++) {
            MachineLink& link = m_links[k];
            if (!link.present || !link.name[0] || link.watch || (link.seatBits && !allowSeveralSeats)) continue;
            link.seatBits |= bit;
            seatHolders[seat] = uint8_t(k);
            break;
        }
    SendLobby();
}

bool CSession::PeekMenu(NetMessage* out) const {
    if (!m_menuCount) return false;
    const MenuOutcome& o = m_menus[m_menuFirst];
    out->type = NET_MENU;
    out->screen = o.screen;
    out->choice = o.choice;
    out->value = o.value;
    return true;
}

bool CSession::TakeMenu(NetMessage* out) {
    if (!PeekMenu(out)) return false;
    m_menuFirst = (m_menuFirst + 1) % kSessionMenusKept;
    m_menuCount--;
    if (m_menusBeforeStart > 0) m_menusBeforeStart--;
    return true;
}

void CSession::TakeRoundStart() {
    m_startArrived = false;
    NetMessage m;
    while (m_menusBeforeStart > 0) TakeMenu(&m);
}

// One row per seat kind: the player type the seat plays as. A remote seat
// that no machine holds plays as a computer until someone takes it.
namespace {
struct SeatKindRow {
    uint8_t kind;
    const char* name;
    int8_t held;
    int8_t free;
};
constexpr SeatKindRow kSeatKindTable[] = {
    {SEAT_LOCAL, "local", PLAYER_MAN, PLAYER_MAN}, {SEAT_REMOTE, "remote", PLAYER_MAN, PLAYER_NORMAL},
    {SEAT_EASY, "easy", PLAYER_EASY, PLAYER_EASY}, {SEAT_NORMAL, "normal", PLAYER_NORMAL, PLAYER_NORMAL},
    {SEAT_HARD, "hard", PLAYER_HARD, PLAYER_HARD}, {SEAT_MASTER, "master", PLAYER_MASTER, PLAYER_MASTER},
    {SEAT_NON, "non", PLAYER_NON, PLAYER_NON},
};
static_assert(sizeof kSeatKindTable / sizeof kSeatKindTable[0] == SEAT_KIND_END);
}  // namespace

int8_t SeatPlayerType(uint8_t kind, bool held) {
    for (const SeatKindRow& row : kSeatKindTable)
        if (row.kind == kind) return held ? row.held : row.free;
    return PLAYER_NON;
}

const char* SeatKindName(uint8_t kind) { return kind < SEAT_KIND_END ? kSeatKindTable[kind].name : "non"; }

int SeatKindByName(const char* name) {
    for (const SeatKindRow& row : kSeatKindTable)
        if (std::strcmp(row.name, name) == 0) return row.kind;
    return -1;
}
