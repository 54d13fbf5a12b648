#include "server/relay.h"

#include <cstring>

#include "net/rendezvous.h"

namespace {

// Pipes when the port range is left to the system.
constexpr int kAnyPortPipesMax = 4096;

uint64_t Key(const plat::NetAddress& a) { return uint64_t(a.ip) << 16 | a.port; }

void Answer(plat::UdpDatagram* d, const plat::NetAddress& to, const RvMessage& m) {
    d->peer = to;
    d->size = uint16_t(EncodeRv(m, d->data, sizeof d->data));
}

}  // namespace

CRelay::~CRelay() {
    for (RelayPipe& p : m_pipes)
        if (p.used) plat::UdpClose(p.socket);
}

void CRelay::Configure(uint16_t firstPort, uint16_t lastPort, int roomsMax, const uint64_t key[2], int poller,
                       uint64_t tagBase) {
    m_firstPort = firstPort;
    m_lastPort = firstPort ? lastPort : 0;
    m_nextPort = firstPort;
    m_rooms.assign(size_t(roomsMax), Budget{0, 0, 0});
    m_poller = poller;
    m_tagBase = tagBase;
    m_proof.SetKey(key);
}

int CRelay::PipeOf(int room, uint32_t joinId) const {
    for (size_t i = 0; i < m_pipes.size(); i++)
        if (m_pipes[i].used && m_pipes[i].room == room && m_pipes[i].joinId == joinId) return int(i);
    return -1;
}

int CRelay::PipeOfJoiner(const plat::NetAddress& from) const {
    auto it = m_byJoiner.find(Key(from));
    return it == m_byJoiner.end() ? -1 : it->second;
}

int CRelay::Open(int room, uint32_t joinId, const plat::NetAddress& joiner, uint64_t nowUs) {
    const int portsMax = m_firstPort ? m_lastPort - m_firstPort + 1 : kAnyPortPipesMax;
    if (m_open >= portsMax) return -1;
    // The next port of the range that is free.
    int socket = -1;
    for (int tries = 0; socket < 0 && tries < (m_firstPort ? portsMax : 1); tries++) {
        const uint16_t port = m_nextPort;
        if (m_firstPort) m_nextPort = m_nextPort >= m_lastPort ? m_firstPort : uint16_t(m_nextPort + 1);
        socket = plat::UdpOpen(port);
    }
    if (socket < 0) return -1;
    // A machine joins one match at a time: an older pipe of its address goes.
    if (PipeOfJoiner(joiner) >= 0) Close(PipeOfJoiner(joiner));
    int index;
    if (!m_freePipes.empty()) {
        index = m_freePipes.back();
        m_freePipes.pop_back();
    } else {
        index = int(m_pipes.size());
        m_pipes.push_back(RelayPipe{});
    }
    RelayPipe& p = m_pipes[size_t(index)];
    p = RelayPipe{};
    p.used = true;
    p.socket = socket;
    p.port = plat::UdpLocalPort(socket);
    p.room = room;
    p.joinId = joinId;
    p.joiner = joiner;
    while (p.token == 0) plat::RandomBytes(&p.token, sizeof p.token);
    p.openedUs = p.lastTrafficUs = nowUs;
    m_byJoiner[Key(joiner)] = index;
    if (m_poller >= 0) plat::UdpPollerAdd(m_poller, socket, m_tagBase + uint64_t(index));
    if (m_rooms[size_t(room)].pipes++ == 0) {
        m_roomsRelaying++;
        m_rooms[size_t(room)].bytes = 4 * kRoomBytesPerSecond;
        m_rooms[size_t(room)].lastUs = nowUs;
    }
    m_open++;
    return index;
}

void CRelay::Close(int pipe) {
    RelayPipe& p = m_pipes[size_t(pipe)];
    if (!p.used) return;
    if (m_poller >= 0) plat::UdpPollerRemove(m_poller, p.socket);
    plat::UdpClose(p.socket);
    auto it = m_byJoiner.find(Key(p.joiner));
    if (it != m_byJoiner.end() && it->second == pipe) m_byJoiner.erase(it);
    if (--m_rooms[size_t(p.room)].pipes == 0) m_roomsRelaying--;
    p.used = false;
    m_open--;
    m_freePipes.push_back(pipe);
}

void CRelay::CloseRoom(int room) {
    for (size_t i = 0; i < m_pipes.size() && m_rooms[size_t(room)].pipes > 0; i++)
        if (m_pipes[i].used && m_pipes[i].room == room) Close(int(i));
}

bool CRelay::FirstTraffic(int pipe) {
    RelayPipe& p = m_pipes[size_t(pipe)];
    const bool first = p.datagrams > 0 && !p.relaying;
    p.relaying = p.relaying || first;
    return first;
}

// Passes a datagram on to an end within the room's byte budget.
bool CRelay::Pass(RelayPipe& p, plat::UdpDatagram* d, const plat::NetAddress& to, uint64_t nowUs) {
    Budget& b = m_rooms[size_t(p.room)];
    const uint64_t elapsedUs = nowUs - b.lastUs > 4000000 ? 4000000 : nowUs - b.lastUs;
    b.lastUs = nowUs;
    b.bytes += int64_t(elapsedUs) * kRoomBytesPerSecond / 1000000;
    if (b.bytes > 4 * kRoomBytesPerSecond) b.bytes = 4 * kRoomBytesPerSecond;
    if (b.bytes < int64_t(d->size)) {
        stats.overBudget++;
        return false;
    }
    b.bytes -= int64_t(d->size);
    d->peer = to;
    p.lastTrafficUs = nowUs;
    p.datagrams++, p.bytes += d->size;
    stats.datagrams++, stats.bytes += d->size;
    return true;
}

RelayRoute CRelay::FromPipe(int pipe, plat::UdpDatagram* d, uint64_t nowUs, plat::UdpDatagram* also, bool* alsoSet) {
    *alsoSet = false;
    RelayPipe& p = m_pipes[size_t(pipe)];
    if (!p.used || d->size == 0) return RELAY_DROP;
    if (RvIsOurs(d->data, d->size)) {
        RvMessage m;
        if (DecodeRv(d->data, d->size, &m) != RV_DECODE_OK || m.type != RV_BIND) {
            stats.malformed++;
            return RELAY_DROP;
        }
        if (m.relayToken != p.token) {
            stats.badTokens++;
            return RELAY_DROP;
        }
        return Bind(p, m.answer, d, nowUs, also, alsoSet);
    }
    if (!p.hostBound || !(p.host == d->peer)) {
        stats.outsiders++;
        return RELAY_DROP;
    }
    return Pass(p, d, p.joiner, nowUs) ? RELAY_FROM_MAIN : RELAY_DROP;
}

bool CRelay::FromJoiner(int pipe, plat::UdpDatagram* d, uint64_t nowUs) {
    RelayPipe& p = m_pipes[size_t(pipe)];
    if (!p.used || d->size == 0) return false;
    if (!p.hostBound) {
        stats.early++;
        return false;
    }
    return Pass(p, d, p.host, nowUs);
}

// A bind: first a challenge to the address it came from, then, with the
// answer, that address becomes the host's end. The end may move (a router
// that gave the host a new port) only by proving the new address the same way.
RelayRoute CRelay::Bind(RelayPipe& p, uint64_t answer, plat::UdpDatagram* d, uint64_t nowUs, plat::UdpDatagram* also,
                        bool* alsoSet) {
    const plat::NetAddress from = d->peer;
    if (!(p.hostBound && p.host == from)) {
        if (answer == 0) {
            RvMessage challenge = RvBlank(RV_CHALLENGE);
            challenge.answer = m_proof.Make(from, p.token, nowUs);
            Answer(d, from, challenge);
            return RELAY_FROM_PIPE;
        }
        if (!m_proof.Check(from, p.token, answer, nowUs)) {
            stats.badAnswers++;
            return RELAY_DROP;
        }
        const bool first = !p.hostBound;
        p.host = from;
        p.hostBound = true;
        p.lastTrafficUs = nowUs;
        if (first) {  // the joining machine hears at once that it may send
            RvMessage ready = RvBlank(RV_BOUND);
            ready.value = 1;
            Answer(also, p.joiner, ready);
            *alsoSet = true;
        }
    }
    RvMessage bound = RvBlank(RV_BOUND);
    bound.value = 1;
    Answer(d, from, bound);
    return RELAY_FROM_PIPE;
}
