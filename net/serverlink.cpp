#include "net/serverlink.h"

#include <cstdio>
#include <cstring>
#include <random>

namespace {

bool Later(uint32_t now, uint32_t then, uint32_t intervalMs) { return uint32_t(now - then) >= intervalMs; }

uint64_t Nonce() {
    static std::random_device device;
    uint64_t v = 0;
    while (v == 0) v = uint64_t(device()) << 32 | device();
    return v;
}

}  // namespace

CServerLink::CServerLink() { std::memset(static_cast<void*>(this), 0, sizeof *this); }

// ---- starting ----

void CServerLink::Begin(const plat::NetAddress& server, uint8_t goal, uint32_t nowMs) {
    std::memset(static_cast<void*>(this), 0, sizeof *this);
    m_state = LINK_ASKING;
    m_goal = goal;
    m_server = server;
    m_nonce = Nonce();
    m_firstAskMs = m_lastHeardMs = m_lastAliveMs = nowMs;
    Ask(nowMs);
}

void CServerLink::StartHost(const plat::NetAddress& server, const char* name, bool isPublic, uint8_t seatsTotal,
                            uint8_t seatsFree, uint32_t nowMs) {
    Begin(server, GOAL_HOST, nowMs);
    std::snprintf(m_name, sizeof m_name, "%s", name);
    m_room = RvRoomInfo{uint8_t(isPublic), seatsTotal, seatsFree, 0, 0};
}

void CServerLink::StartJoin(const plat::NetAddress& server, const char* name, const char* code, bool relayOnly,
                            uint32_t nowMs) {
    Begin(server, GOAL_JOIN, nowMs);
    std::snprintf(m_name, sizeof m_name, "%s", name);
    std::snprintf(m_code, sizeof m_code, "%s", code);
    m_relayOnly = relayOnly;
}

void CServerLink::StartList(const plat::NetAddress& server, uint32_t nowMs) { Begin(server, GOAL_LIST, nowMs); }

void CServerLink::RequestList(uint16_t first, uint32_t nowMs) {
    m_listFirst = first;
    if (m_state == LINK_READY || m_state == LINK_HOSTING || m_state == LINK_CONNECTED) {
        RvMessage m = Request(RV_LIST, nowMs);
        m.first = first;
        Queue(m_server, m);
    }
}

void CServerLink::Stop() {
    if (m_haveCookie && m_state != LINK_OFF) Queue(m_server, Request(RV_BYE, 0));
    m_state = LINK_OFF;
}

void CServerLink::Fail(const char* text) {
    std::snprintf(m_fail, sizeof m_fail, "%s", text);
    m_state = LINK_FAILED;
}

// ---- sending ----

void CServerLink::Queue(const plat::NetAddress& to, const RvMessage& m) {
    if (m_outCount == kOutboxCapacity) return;  // a datagram more is lost as on the way
    LinkDatagram& d = m_outbox[(m_outFirst + m_outCount) % kOutboxCapacity];
    d.to = to;
    d.size = uint16_t(EncodeRv(m, d.bytes, sizeof d.bytes));
    if (d.size) m_outCount++;
}

bool CServerLink::TakeOutgoing(LinkDatagram* out) {
    if (m_outCount == 0) return false;
    *out = m_outbox[m_outFirst];
    m_outFirst = (m_outFirst + 1) % kOutboxCapacity;
    m_outCount--;
    return true;
}

RvMessage CServerLink::Request(uint8_t type, uint32_t nowMs) const {
    RvMessage m = RvBlank(type);
    m.cookie = m_cookie;
    m.stamp = nowMs;
    return m;
}

// The cookie first, then what the link is for.
void CServerLink::Ask(uint32_t nowMs) {
    m_askedMs = nowMs;
    if (!m_haveCookie) {
        RvMessage hello = RvBlank(RV_HELLO);
        hello.nonce = m_nonce;
        return Queue(m_server, hello);
    }
    RvMessage m = Request(RV_LIST, nowMs);
    switch (m_goal) {
    case GOAL_HOST:
        m.type = RV_HOST;
        m.room = m_room;
        m.room.hostRttMs = uint16_t(m_rttMs);
        std::memcpy(m.name, m_name, sizeof m.name);
        break;
    case GOAL_JOIN:
        m.type = RV_JOIN;
        std::memcpy(m.code, m_code, sizeof m.code);
        std::memcpy(m.name, m_name, sizeof m.name);
        m.flags = m_relayOnly ? RV_JOIN_RELAY_ONLY : 0;
        break;
    default:
        m.first = m_listFirst;
        break;
    }
    Queue(m_server, m);
}

void CServerLink::SendBind(const plat::NetAddress& relay, uint64_t token, uint64_t answer) {
    RvMessage m = RvBlank(RV_BIND);
    m.relayToken = token;
    m.answer = answer;
    Queue(relay, m);
}

void CServerLink::Sample(uint32_t stamp, uint32_t nowMs) {
    const uint32_t rtt = nowMs - stamp;
    if (rtt > 60000) return;
    m_rttMs = m_rttMs ? (7 * m_rttMs + rtt) / 8 : (rtt ? rtt : 1);
}

// ---- receiving ----

void CServerLink::Receive(const plat::NetAddress& from, const uint8_t* bytes, size_t size, uint32_t nowMs) {
    if (m_state == LINK_OFF || m_state == LINK_FAILED) return;
    RvMessage m;
    if (DecodeRv(bytes, size, &m) != RV_DECODE_OK) return;
    switch (m.type) {
    case RV_PUNCH:
        return Punch(from, m, nowMs);
    case RV_CHALLENGE:
    case RV_BOUND:
        if (from.ip == m_server.ip) Bind(from, m, nowMs);
        return;
    case RV_PROBE:
        // From the server's other port, unasked: nothing stands in the way
        // of a machine that sends to this one first.
        if (from.ip == m_server.ip && m_goal == GOAL_HOST && m_haveCookie) {
            m_reachable = true;
            RvMessage reply = Request(RV_PROBE_REPLY, nowMs);
            reply.nonce = m.nonce;
            Queue(m_server, reply);
        }
        return;
    default:
        if (from == m_server) FromServer(m, nowMs);
        return;
    }
}

void CServerLink::FromServer(const RvMessage& m, uint32_t nowMs) {
    m_lastHeardMs = nowMs;
    const bool asking = m_state == LINK_ASKING;
    switch (m.type) {
    case RV_COOKIE:
        if (!asking || m_haveCookie || m.nonce != m_nonce) return;
        m_cookie = m.cookie;
        m_seen = m.address;
        m_haveCookie = true;
        Sample(m_askedMs, nowMs);
        return Ask(nowMs);
    case RV_ROOM:
        if (!asking || m_goal != GOAL_HOST) return;
        std::memcpy(m_code, m.code, sizeof m_code);
        m_state = LINK_HOSTING;
        return Sample(m.stamp, nowMs);
    case RV_ACK:
        if (m.stamp == m_connectedStamp) m_connectedStamp = 0;
        return Sample(m.stamp, nowMs);
    case RV_REFUSED:
        if (asking) Fail(RvRefusalText(m.value));
        return;
    case RV_REDIRECT:
        if (!asking || m_goal != GOAL_JOIN) return;
        if (m_redirects == kRedirectsMax) return Fail("THE MATCH SERVERS SENT THIS MACHINE IN CIRCLES");
        m_redirects++;
        m_server = m.address;
        m_haveCookie = false;
        m_firstAskMs = nowMs;
        return Ask(nowMs);
    case RV_JOINED:
        if (asking && m_goal == GOAL_JOIN) Joined(m, nowMs);
        return;
    case RV_INTRODUCE:
        if (m_state == LINK_HOSTING) Introduced(m, nowMs);
        return;
    case RV_LIST_PAGE:
        m_list = m;
        m_listSerial++;
        if (asking && m_goal == GOAL_LIST) m_state = LINK_READY;
        return Sample(m.stamp, nowMs);
    case RV_CLOSING:
        return Fail(RvClosingText(m.value));
    default:
        return;
    }
}

void CServerLink::Joined(const RvMessage& m, uint32_t nowMs) {
    Sample(m.stamp, nowMs);
    m_state = LINK_CONNECTING;
    m_joinId = m.joinId;
    m_host = m_punched = m.address;
    m_hostDirect = m.value != 0;
    m_punchNonce = m.nonce;
    m_relay = m.relayPort ? plat::NetAddress{m_server.ip, m.relayPort} : plat::NetAddress{};
    m_joinedMs = m_lastAliveMs = nowMs;
    m_lastPunchMs = nowMs - kPunchEveryMs;
    ServiceJoin(nowMs);
}

void CServerLink::Introduced(const RvMessage& m, uint32_t nowMs) {
    for (int k = 0; k < m_introCount; k++)
        if (m_intros[k].joinId == m.joinId) return;  // told again: nothing new
    if (m_introCount == kIntroductionsMax) {         // the oldest gives way
        std::memmove(&m_intros[0], &m_intros[1], sizeof m_intros[0] * (kIntroductionsMax - 1));
        m_introCount--;
    }
    LinkIntroduction& in = m_intros[m_introCount++];
    in = LinkIntroduction{};
    in.joinId = m.joinId;
    in.joiner = m.address;
    in.relay = m.relayPort ? plat::NetAddress{m_server.ip, m.relayPort} : plat::NetAddress{};
    in.punchNonce = m.nonce;
    in.relayToken = m.relayToken;
    in.sinceMs = nowMs;
    in.lastBindMs = nowMs - kBindEveryMs;
    std::memcpy(in.name, m.name, sizeof in.name);
    ServiceHost(nowMs);
}

// A punch with the right nonce came through: the path from its sender is
// open. Answered once, so that the sender learns it too.
void CServerLink::Punch(const plat::NetAddress& from, const RvMessage& m, uint32_t) {
    bool ours = false;
    if (m_goal == GOAL_JOIN && m_state == LINK_CONNECTING && m.nonce == m_punchNonce && m.joinId == m_joinId) {
        ours = true;
        m_punchOpen = true;
        m_punched = from;
    }
    for (int k = 0; k < m_introCount && m_goal == GOAL_HOST; k++) {
        LinkIntroduction& in = m_intros[k];
        if (in.punchNonce == m.nonce && in.joinId == m.joinId) ours = true, in.punched = from;
    }
    if (!ours || m.value) return;
    RvMessage answer = RvBlank(RV_PUNCH);
    answer.nonce = m.nonce;
    answer.joinId = m.joinId;
    answer.value = 1;
    Queue(from, answer);
}

void CServerLink::Bind(const plat::NetAddress& from, const RvMessage& m, uint32_t) {
    // The joining machine's end is where it talks to the server: it only
    // hears when the host's end is proven.
    if (m_goal == GOAL_JOIN && from == m_relay && m_relay.port) {
        if (m.type == RV_BOUND && m.value) m_relayReady = true;
        return;
    }
    for (int k = 0; k < m_introCount && m_goal == GOAL_HOST; k++) {
        LinkIntroduction& in = m_intros[k];
        if (!(in.relay == from) || !in.relay.port) continue;
        if (m.type == RV_CHALLENGE) {
            in.challenge = m.answer;
            SendBind(in.relay, in.relayToken, in.challenge);
        } else {
            in.bound = true;
        }
    }
}

// ---- timers ----

void CServerLink::Service(uint32_t nowMs) {
    if (m_state == LINK_OFF || m_state == LINK_FAILED) return;
    if (m_state == LINK_ASKING) {
        if (Later(nowMs, m_firstAskMs, kGiveUpMs)) return Fail("NO ANSWER FROM THE MATCH SERVER");
        if (Later(nowMs, m_askedMs, kResendMs)) Ask(nowMs);
        return;
    }
    if (Later(nowMs, m_lastHeardMs, kSilentMs)) return Fail("LOST THE MATCH SERVER");
    if (Later(nowMs, m_lastAliveMs, kKeepAliveMs) || m_roomChanged) {
        m_lastAliveMs = nowMs;
        m_roomChanged = false;
        RvMessage m = Request(m_goal == GOAL_HOST ? RV_UPDATE : RV_ALIVE, nowMs);
        if (m_goal == GOAL_HOST) m.room = m_room, m.room.hostRttMs = uint16_t(m_rttMs);
        m.rttMs = uint16_t(m_rttMs);
        Queue(m_server, m);
    }
    if (m_connectedStamp && Later(nowMs, m_connectedStamp, kResendMs)) TransportConnected(nowMs);
    if (m_goal == GOAL_HOST) ServiceHost(nowMs);
    if (m_goal == GOAL_JOIN) ServiceJoin(nowMs);
}

void CServerLink::UpdateRoom(bool isPublic, uint8_t seatsTotal, uint8_t seatsFree, uint16_t round, uint32_t) {
    const RvRoomInfo room{uint8_t(isPublic), seatsTotal, seatsFree, round, m_room.hostRttMs};
    if (room == m_room) return;
    m_room = room;
    m_roomChanged = m_state == LINK_HOSTING;
}

// The host punches towards every machine it was told of, and proves its end
// of each relay pipe, for a few seconds after the introduction.
void CServerLink::ServiceHost(uint32_t nowMs) {
    for (int k = 0; k < m_introCount; k++) {
        LinkIntroduction& in = m_intros[k];
        if (Later(nowMs, in.sinceMs, kPunchForMs)) continue;
        if (Later(nowMs, m_lastPunchMs, kPunchEveryMs)) {
            RvMessage punch = RvBlank(RV_PUNCH);
            punch.nonce = in.punchNonce;
            punch.joinId = in.joinId;
            Queue(in.joiner, punch);
        }
        if (in.relay.port && !in.bound && Later(nowMs, in.lastBindMs, kBindEveryMs)) {
            in.lastBindMs = nowMs;
            SendBind(in.relay, in.relayToken, in.challenge);
        }
    }
    if (Later(nowMs, m_lastPunchMs, kPunchEveryMs)) m_lastPunchMs = nowMs;
}

void CServerLink::Choose(const plat::NetAddress& to, uint8_t kind, uint32_t nowMs) {
    m_target = to;
    m_kind = kind;
    m_attemptMs = nowMs;
    m_targetNew = true;
}

void CServerLink::ServiceJoin(uint32_t nowMs) {
    if (m_state != LINK_CONNECTING) return;
    const uint32_t sinceMs = nowMs - m_joinedMs;
    if (!m_relayOnly && sinceMs < kPunchForMs && Later(nowMs, m_lastPunchMs, kPunchEveryMs)) {
        m_lastPunchMs = nowMs;
        RvMessage punch = RvBlank(RV_PUNCH);
        punch.nonce = m_punchNonce;
        punch.joinId = m_joinId;
        Queue(m_host, punch);
        if (!(m_punched == m_host)) Queue(m_punched, punch);
    }
    // An attempt that runs keeps its time; one that ran out is not tried again.
    if (m_kind && !Later(nowMs, m_attemptMs, m_kind == RV_KIND_RELAYED ? kRelayAttemptMs : kAttemptMs)) return;
    if (m_kind == RV_KIND_DIRECT) m_triedDirect = true;
    if (m_kind == RV_KIND_PUNCHED) m_triedPunched = true;
    if (m_kind == RV_KIND_RELAYED) m_triedRelay = true;
    m_kind = 0;
    const bool punchWaited = sinceMs >= kPunchWaitMs + 2 * m_rttMs || m_triedPunched;
    if (!m_relayOnly && m_hostDirect && !m_triedDirect) return Choose(m_host, RV_KIND_DIRECT, nowMs);
    if (!m_relayOnly && m_punchOpen && !m_triedPunched) return Choose(m_punched, RV_KIND_PUNCHED, nowMs);
    if (m_relayReady && !m_triedRelay && (m_relayOnly || punchWaited)) return Choose(m_relay, RV_KIND_RELAYED, nowMs);
    // Nothing to try yet: wait while a punch or the relay may still come.
    const bool punchMayCome = !m_relayOnly && !m_triedPunched && sinceMs < kPunchForMs;
    const bool relayMayCome = m_relay.port && !m_triedRelay && (m_relayReady || sinceMs < kGiveUpMs);
    if (!punchMayCome && !relayMayCome)
        Fail(m_relay.port || m_triedRelay ? "CANNOT REACH THE HOST" : RvRefusalText(RV_RELAY_FULL));
}

bool CServerLink::ConnectTarget(plat::NetAddress* to, uint8_t* kind) {
    if (!m_targetNew) return false;
    m_targetNew = false;
    *to = m_target;
    *kind = m_kind;
    return true;
}

void CServerLink::TransportConnected(uint32_t nowMs) {
    if (m_state != LINK_CONNECTING && m_state != LINK_CONNECTED) return;
    m_state = LINK_CONNECTED;
    RvMessage m = Request(RV_CONNECTED, nowMs);
    m.joinId = m_joinId;
    m.value = m_kind;
    m_connectedStamp = nowMs ? nowMs : 1;  // resent until the server acknowledges it
    m.stamp = m_connectedStamp;
    Queue(m_server, m);
}

uint8_t CServerLink::KindOf(const plat::NetAddress& peer) const {
    for (int k = 0; k < m_introCount; k++)
        if (m_intros[k].relay.port && peer == m_intros[k].relay) return RV_KIND_RELAYED;
    if (m_reachable) return RV_KIND_DIRECT;
    for (int k = 0; k < m_introCount; k++)
        if (peer == m_intros[k].joiner || peer == m_intros[k].punched) return RV_KIND_PUNCHED;
    return RV_KIND_DIRECT;  // never introduced: the local network, or an address typed in
}
