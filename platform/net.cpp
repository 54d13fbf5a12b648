// The ENet transport behind platform/net.h. A peer's number is kept in the
// ENet peer's data field; the table maps numbers back to peers.
#include "platform/net.h"

#include <enet/enet.h>

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

}  // namespace plat
