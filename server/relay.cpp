#include "server/relay.h"

#include <cstring>

#include "net/rendezvous.h"

namespace {

// Pipes when the port range is left to the system.
constexpr int kAnyPortPipesMax = 4096;

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

int CRelay::Open(int room, uint32_t joinId, uint64_t nowUs) {
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
    while (p.token == 0) plat::RandomBytes(&p.token, sizeof p.token);
    p.openedUs = p.lastTrafficUs = nowUs;
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
    if (--m_rooms[size_t(p.room)].pipes == 0) m_roomsRelaying--;
    p.used = false;
    m_open--;
    m_freePipes.push_back(pipe);
}

void CRelay::CloseRoom(int room) {
    for (size_t i = 0; i < m_pipes.size(); i++)
        if (m_pipes[i].used && m_pipes[i].room == room) Close(int(i));
}

bool CRelay::Spend(int room, size_t bytes, uint64_t nowUs) {
    Budget& b = m_rooms[size_t(room)];
    const uint64_t elapsedUs = nowUs - b.lastUs > 4000000 ? 4000000 : nowUs - b.lastUs;
    b.lastUs = nowUs;
    b.bytes += int64_t(elapsedUs) * kRoomBytesPerSecond / 1000000;
    if (b.bytes > 4 * kRoomBytesPerSecond) b.bytes = 4 * kRoomBytesPerSecond;
    if (b.bytes < int64_t(bytes)) return false;
    b.bytes -= int64_t(bytes);
    return true;
}

bool CRelay::Receive(int pipe, plat::UdpDatagram* d, uint64_t nowUs, plat::UdpDatagram* also, bool* alsoSet) {
    *alsoSet = false;
    RelayPipe& p = m_pipes[size_t(pipe)];
    if (!p.used || d->size == 0) return false;
    if (RvIsOurs(d->data, d->size)) {
        RvMessage m;
        if (DecodeRv(d->data, d->size, &m) != RV_DECODE_OK || m.type != RV_BIND) {
            stats.malformed++;
            return false;
        }
        if (m.relayToken != p.token) {
            stats.badTokens++;
            return false;
        }
        return Bind(p, m.value, m.answer, d, nowUs, also, alsoSet);
    }
    // Passed on only from one proven end to the other.
    int from = -1;
    for (int side = 0; side < 2; side++)
        if (p.bound[side] && p.ends[side] == d->peer) from = side;
    if (from < 0 || !p.bound[1 - from]) {
        stats.outsiders++;
        return false;
    }
    if (!Spend(p.room, d->size, nowUs)) {
        stats.overBudget++;
        return false;
    }
    d->peer = p.ends[1 - from];
    p.lastTrafficUs = nowUs;
    p.datagrams++, p.bytes += d->size;
    stats.datagrams++, stats.bytes += d->size;
    return true;
}

// A bind: first a challenge to the address it came from, then, with the
// answer, that address becomes the end. An end may move (a router that gave
// the machine a new port) only by proving the new address the same way.
bool CRelay::Bind(RelayPipe& p, int side, uint64_t answer, plat::UdpDatagram* d, uint64_t nowUs,
                  plat::UdpDatagram* also, bool* alsoSet) {
    const uint64_t context = p.token ^ uint64_t(side);
    const plat::NetAddress from = d->peer;
    if (!(p.bound[side] && p.ends[side] == from)) {
        if (answer == 0) {
            RvMessage challenge = RvBlank(RV_CHALLENGE);
            challenge.answer = m_proof.Make(from, context, nowUs);
            Answer(d, from, challenge);
            return true;
        }
        if (!m_proof.Check(from, context, answer, nowUs)) {
            stats.badAnswers++;
            return false;
        }
        const bool wasReady = p.bound[0] && p.bound[1];
        p.ends[side] = from;
        p.bound[side] = true;
        p.lastTrafficUs = nowUs;
        // Both ends hear at once that the pipe is ready.
        if (!wasReady && p.bound[1 - side]) {
            RvMessage ready = RvBlank(RV_BOUND);
            ready.value = 1;
            Answer(also, p.ends[1 - side], ready);
            *alsoSet = true;
        }
    }
    RvMessage bound = RvBlank(RV_BOUND);
    bound.value = p.bound[0] && p.bound[1];
    Answer(d, from, bound);
    return true;
}
