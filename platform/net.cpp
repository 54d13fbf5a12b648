// The ENet transport behind platform/net.h. A peer's number is kept in the
// table of peers; the table maps numbers back to ENet's peers.
//
// ENet is tuned here for slow, lossy home links:
// - Its own time-outs are long: the session above decides when a peer is gone
//   (it hears unreliable traffic many times a second), and an ENet time-out
//   would otherwise end a connection on one unlucky reliable message.
// - ENet doubles the wait before resending a reliable message after every
//   loss and has no upper bound; on a link that loses one datagram in five, a
//   few losses in a row would hold the ordered channel for tens of seconds.
//   The wait is kept under a bound that follows the measured round trip.
// - A peer it has not measured yet is taken to have a 500 ms round trip, so a
//   lost handshake datagram would be resent only after half a second, then a
//   second, then two. The handshake resends start at kHandshakeResendMs.
// - A packet longer than the largest message is dropped while its fragments
//   arrive, before anything is put together (the default would take 32 MB).
#include "platform/net.h"

#include <arpa/inet.h>
#include <enet/enet.h>
#include <enet/time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace plat {

namespace {

enum : uint8_t { CHANNEL_RELIABLE = 0, CHANNEL_UNRELIABLE = 1, CHANNELS = 2 };

constexpr enet_uint32 kTimeoutLimit = 1 << 16;
constexpr enet_uint32 kTimeoutMinimumMs = 60000;
constexpr enet_uint32 kTimeoutMaximumMs = 120000;
constexpr enet_uint32 kResendMaxMs = 1000;
constexpr enet_uint32 kHandshakeResendMs = 150;
// Out-of-order reliable data one peer may leave waiting in this host.
constexpr size_t kWaitingDataMax = 64 * 1024;
// A peer this side closed is reset if it has not confirmed within this.
constexpr uint32_t kClosingMs = 3000;
// Closing the endpoint waits this long at most for the peers to confirm.
constexpr enet_uint32 kCloseWaitMs = 300;

struct Closing {
    ENetPeer* peer;
    enet_uint32 connectID;
    uint32_t deadlineMs;
};

struct NetState {
    bool started = false;
    ENetHost* host = nullptr;
    ENetPeer* peers[kNetPeersMax] = {};
    Closing closing[kNetPeersMax] = {};
};
NetState g_net;

int FreeSlot() {
    for (int i = 0; i < kNetPeersMax; i++)
        if (!g_net.peers[i]) return i;
    return -1;
}

int SlotOf(ENetPeer* peer) {
    for (int i = 0; i < kNetPeersMax; i++)
        if (g_net.peers[i] == peer) return i;
    return -1;
}

ENetPeer* PeerAt(int peer) { return peer >= 0 && peer < kNetPeersMax ? g_net.peers[peer] : nullptr; }

void Watch(ENetPeer* peer) { enet_peer_timeout(peer, kTimeoutLimit, kTimeoutMinimumMs, kTimeoutMaximumMs); }

ENetHost* CreateHost(const ENetAddress* address, size_t peers) {
    ENetHost* host = enet_host_create(address, peers, CHANNELS, 0, 0);
    if (!host) return nullptr;
    host->maximumPacketSize = kNetPacketMax;
    host->maximumWaitingData = kWaitingDataMax;
    return host;
}

bool Handshaking(const ENetPeer* peer) {
    return peer->state == ENET_PEER_STATE_CONNECTING || peer->state == ENET_PEER_STATE_ACKNOWLEDGING_CONNECT ||
           peer->state == ENET_PEER_STATE_CONNECTION_PENDING || peer->state == ENET_PEER_STATE_CONNECTION_SUCCEEDED;
}

// Bounds the wait before each reliable message in flight is resent (see
// above), and brings the peer's next time-out check forward to match.
void BoundResends(ENetPeer* peer) {
    if (enet_list_empty(&peer->sentReliableCommands)) return;
    const bool handshaking = Handshaking(peer);
    const enet_uint32 bound = std::max<enet_uint32>(kResendMaxMs, 2 * peer->roundTripTime);
    enet_uint32 next = 0;
    bool first = true;
    for (ENetListIterator it = enet_list_begin(&peer->sentReliableCommands);
         it != enet_list_end(&peer->sentReliableCommands); it = enet_list_next(it)) {
        ENetOutgoingCommand* command = reinterpret_cast<ENetOutgoingCommand*>(it);
        enet_uint32 limit = bound;
        if (handshaking && command->sendAttempts >= 1 && command->sendAttempts <= 4)
            limit = std::min(limit, kHandshakeResendMs << (command->sendAttempts - 1));
        command->roundTripTimeout = std::min(command->roundTripTimeout, limit);
        const enet_uint32 due = command->sentTime + command->roundTripTimeout;
        if (first || ENET_TIME_LESS(due, next)) next = due;
        first = false;
    }
    if (ENET_TIME_LESS(next, peer->nextTimeout)) peer->nextTimeout = next;
}

void BoundAllResends() {
    for (size_t i = 0; i < g_net.host->peerCount; i++) {
        ENetPeer* peer = &g_net.host->peers[i];
        if (peer->state != ENET_PEER_STATE_DISCONNECTED) BoundResends(peer);
    }
}

// Peers this side closed that have not confirmed in time are reset; a peer
// already taken for a new connection is left alone.
void ResetClosing() {
    const uint32_t now = enet_time_get();
    for (Closing& c : g_net.closing) {
        if (!c.peer || ENET_TIME_LESS(now, c.deadlineMs)) continue;
        if (c.peer->connectID == c.connectID && c.peer->state != ENET_PEER_STATE_DISCONNECTED) enet_peer_reset(c.peer);
        c.peer = nullptr;
    }
}

}  // namespace

bool NetAvailable() { return true; }

bool NetStart() {
    if (!g_net.started) g_net.started = enet_initialize() == 0;
    return g_net.started;
}

bool NetListen(uint16_t port, int peersMax) {
    if (!NetStart() || g_net.host) return false;
    ENetAddress address{};
    address.host = ENET_HOST_ANY;
    address.port = port;
    int limit = peersMax < kNetPeersMax ? peersMax : kNetPeersMax;
    g_net.host = CreateHost(&address, size_t(limit));
    return g_net.host != nullptr;
}

bool NetOpen() {
    if (!NetStart()) return false;
    if (!g_net.host) g_net.host = CreateHost(nullptr, 1);
    return g_net.host != nullptr;
}

int NetConnect(const char* hostName, uint16_t port) {
    if (!NetOpen()) return -1;
    ENetAddress address{};
    if (enet_address_set_host(&address, hostName) != 0) return -1;
    address.port = port;
    int slot = FreeSlot();
    if (slot < 0) return -1;
    ENetPeer* peer = enet_host_connect(g_net.host, &address, CHANNELS, 0);
    if (!peer) return -1;
    Watch(peer);
    // Not measured yet: the connection request is resent soon when lost.
    peer->roundTripTime = kHandshakeResendMs;
    peer->roundTripTimeVariance = 0;
    g_net.peers[slot] = peer;
    return slot;
}

bool NetSend(int peer, const void* bytes, size_t size, bool reliable) {
    ENetPeer* p = PeerAt(peer);
    if (!p || size > kNetPacketMax || p->state != ENET_PEER_STATE_CONNECTED) return false;
    ENetPacket* packet =
        enet_packet_create(bytes, size, reliable ? ENET_PACKET_FLAG_RELIABLE : ENET_PACKET_FLAG_UNSEQUENCED);
    if (!packet) return false;
    if (enet_peer_send(p, reliable ? CHANNEL_RELIABLE : CHANNEL_UNRELIABLE, packet) != 0) {
        enet_packet_destroy(packet);
        return false;
    }
    return true;
}

void NetFlush() {
    if (!g_net.host) return;
    BoundAllResends();
    enet_host_flush(g_net.host);
}

bool NetPoll(NetEvent* event) {
    event->type = NET_EVENT_NONE;
    if (!g_net.host) return false;
    ResetClosing();
    ENetEvent e;
    for (;;) {
        BoundAllResends();
        if (enet_host_service(g_net.host, &e, 0) <= 0) break;
        int slot = SlotOf(e.peer);
        switch (e.type) {
        case ENET_EVENT_TYPE_CONNECT:
            if (slot < 0) slot = FreeSlot();
            if (slot < 0) {
                enet_peer_reset(e.peer);
                continue;
            }
            g_net.peers[slot] = e.peer;
            Watch(e.peer);
            *event = NetEvent{NET_EVENT_CONNECT, slot, false, e.peer->address.host, 0, {}};
            return true;
        case ENET_EVENT_TYPE_DISCONNECT:
            if (slot < 0) continue;
            g_net.peers[slot] = nullptr;
            event->type = NET_EVENT_DISCONNECT;
            event->peer = slot;
            event->size = 0;
            return true;
        case ENET_EVENT_TYPE_RECEIVE: {
            const size_t size = e.packet->dataLength;
            event->type = NET_EVENT_RECEIVE;
            event->peer = slot;
            event->size = size;
            event->oversized = size > kNetPacketMax;
            if (!event->oversized) std::memcpy(event->data, e.packet->data, size);
            enet_packet_destroy(e.packet);
            if (slot < 0) continue;
            return true;
        }
        default:
            continue;
        }
    }
    return false;
}

uint32_t NetPeerRttMs(int peer) {
    ENetPeer* p = PeerAt(peer);
    return p ? p->roundTripTime : 0;
}

void NetDisconnect(int peer) {
    ENetPeer* p = PeerAt(peer);
    if (!p) return;
    enet_peer_disconnect_later(p, 0);
    NetFlush();
    g_net.peers[peer] = nullptr;
    for (Closing& c : g_net.closing)
        if (!c.peer) {
            c = Closing{p, p->connectID, enet_time_get() + kClosingMs};
            break;
        }
}

// The last messages (a goodbye) go first: each peer is closed once what is
// queued for it has arrived, waiting kCloseWaitMs at most; a peer that
// closes at once would make the other side drop what it had not handed on.
void NetClose() {
    if (!g_net.host) return;
    int open = 0;
    for (ENetPeer*& p : g_net.peers) {
        if (p && p->state == ENET_PEER_STATE_CONNECTED) enet_peer_disconnect_later(p, 0), open++;
        p = nullptr;
    }
    const uint32_t until = enet_time_get() + kCloseWaitMs;
    ENetEvent e;
    while (open > 0 && ENET_TIME_LESS(enet_time_get(), until)) {
        const int got = enet_host_service(g_net.host, &e, 1);
        if (got > 0 && e.type == ENET_EVENT_TYPE_DISCONNECT) open--;
        if (got > 0 && e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
    }
    for (Closing& c : g_net.closing) c.peer = nullptr;
    enet_host_destroy(g_net.host);
    g_net.host = nullptr;
}

bool NetIsOpen() { return g_net.host != nullptr; }

// ---- Other datagrams on the endpoint's socket ----

namespace {

constexpr int kRawQueueCapacity = 32;
struct RawQueue {
    NetRawDatagram items[kRawQueueCapacity];
    int first = 0, count = 0;
    uint32_t dropped = 0;
};
RawQueue g_raw;

NetAddress FromEnet(const ENetAddress& a) { return NetAddress{ntohl(a.host), a.port}; }
ENetAddress ToEnet(const NetAddress& a) { return ENetAddress{htonl(a.ip), a.port}; }

// ENet hands every datagram it reads to this first; 1 takes it away from
// the transport.
int ENET_CALLBACK TakeAside(ENetHost* host, ENetEvent*) {
    const uint8_t* data = host->receivedData;
    const size_t size = host->receivedDataLength;
    if (size < 2 || data[0] != 0xFF || data[1] != 0xFF) return 0;
    if (g_raw.count == kRawQueueCapacity || size > kNetRawMax) {
        g_raw.dropped++;
        return 1;
    }
    NetRawDatagram& d = g_raw.items[(g_raw.first + g_raw.count++) % kRawQueueCapacity];
    d.from = FromEnet(host->receivedAddress);
    d.size = size;
    std::memcpy(d.data, data, size);
    return 1;
}

}  // namespace

bool NetRawAttach() {
    if (!g_net.host) return false;
    g_net.host->intercept = TakeAside;
    g_raw.first = g_raw.count = 0;
    return true;
}

bool NetRawSend(const NetAddress& to, const void* bytes, size_t size) {
    if (!g_net.host || size > kNetRawMax) return false;
    ENetAddress address = ToEnet(to);
    ENetBuffer buffer{const_cast<void*>(bytes), size};
    return enet_socket_send(g_net.host->socket, &address, &buffer, 1) == int(size);
}

bool NetRawPoll(NetRawDatagram* out) {
    if (g_raw.count == 0) return false;
    std::memcpy(out, &g_raw.items[g_raw.first], sizeof *out);
    g_raw.first = (g_raw.first + 1) % kRawQueueCapacity;
    g_raw.count--;
    return true;
}

uint32_t NetRawDropped() { return g_raw.dropped; }

uint16_t NetLocalPort() {
    ENetAddress address{};
    if (!g_net.host || enet_socket_get_address(g_net.host->socket, &address) != 0) return 0;
    return address.port;
}

int NetConnectAddress(const NetAddress& to) {
    char ip[kNetAddressTextMax];
    std::snprintf(ip, sizeof ip, "%u.%u.%u.%u", to.ip >> 24, (to.ip >> 16) & 255, (to.ip >> 8) & 255, to.ip & 255);
    return NetConnect(ip, to.port);
}

bool NetPeerAddress(int peer, NetAddress* out) {
    ENetPeer* p = PeerAt(peer);
    if (!p) return false;
    *out = FromEnet(p->address);
    return true;
}

void NetAbandon(int peer) {
    ENetPeer* p = PeerAt(peer);
    if (!p) return;
    enet_peer_reset(p);
    g_net.peers[peer] = nullptr;
}

}  // namespace plat
