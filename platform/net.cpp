// The ENet transport behind platform/net.h. A peer's number is kept in the
// ENet peer's data field; the table maps numbers back to peers.
#include "platform/net.h"

#include <arpa/inet.h>
#include <enet/enet.h>

#include <cstdio>
#include <cstring>

namespace plat {

namespace {

enum : uint8_t { CHANNEL_RELIABLE = 0, CHANNEL_UNRELIABLE = 1, CHANNELS = 2 };

struct NetState {
    bool started = false;
    ENetHost* host = nullptr;
    ENetPeer* peers[kNetPeersMax] = {};
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

void Watch(ENetPeer* peer) {
    // Drop-outs are seen within kNetPeerTimeoutMs of silence.
    enet_peer_timeout(peer, 0, kNetPeerTimeoutMs, kNetPeerTimeoutMs);
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
    g_net.host = enet_host_create(&address, size_t(limit), CHANNELS, 0, 0);
    return g_net.host != nullptr;
}

bool NetOpen() {
    if (!NetStart()) return false;
    if (!g_net.host) g_net.host = enet_host_create(nullptr, 1, CHANNELS, 0, 0);
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
    if (g_net.host) enet_host_flush(g_net.host);
}

bool NetPoll(NetEvent* event) {
    event->type = NET_EVENT_NONE;
    if (!g_net.host) return false;
    ENetEvent e;
    while (enet_host_service(g_net.host, &e, 0) > 0) {
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
            *event = NetEvent{NET_EVENT_CONNECT, slot, false, 0, {}};
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
}

void NetClose() {
    if (!g_net.host) return;
    for (ENetPeer*& p : g_net.peers) {
        if (p) enet_peer_disconnect_now(p, 0);
        p = nullptr;
    }
    enet_host_flush(g_net.host);
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
