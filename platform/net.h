// The network transport: a small set of plain functions over ENet, the only
// place that sees it. One endpoint per process, either listening (a host) or
// connecting (a joining machine). Peers are small numbers 0..kNetPeersMax-1.
// Two channels: reliable and ordered (lobby, round starts, menu outcomes) and
// unreliable, unsequenced (the lockstep stream, which carries its own
// redundancy and tolerates loss, duplication and reordering).
//
// The transport never decides that a peer is gone while it still talks: the
// session above measures silence against the link's round trip and loss and
// closes what it gives up. A peer closed here is reset once it has had a
// moment to take the last messages.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/netaddress.h"

namespace plat {

// A host's connections: its places, those still greeting, and one more.
constexpr int kNetPeersMax = 12;
// The largest message the game sends; anything bigger is dropped by the
// transport before it is put together, whatever the sender claims.
constexpr size_t kNetPacketMax = 1400;

enum NetEventType : uint8_t {
    NET_EVENT_NONE = 0,
    NET_EVENT_CONNECT,     // a peer came (host) or the connection was made (joining)
    NET_EVENT_DISCONNECT,  // a peer left, timed out or refused the connection
    NET_EVENT_RECEIVE,     // bytes arrived
};

struct NetEvent {
    NetEventType type;
    int peer;
    bool oversized;
    uint32_t address;  // CONNECT: the peer's IPv4 address
    size_t size;
    uint8_t data[kNetPacketMax];
};

// False where this platform has no network play at all (a browser page);
// the game then says so instead of offering it.
bool NetAvailable();
// Starts the library once per process; false when it cannot.
bool NetStart();
// Opens the host's endpoint on all addresses at port; false when taken.
bool NetListen(uint16_t port, int peersMax);
// Opens an endpoint for joining and starts connecting to hostName:port;
// returns the host's peer number, or -1 when the name does not resolve.
int NetConnect(const char* hostName, uint16_t port);
bool NetOpen();
// Queues bytes for a peer; false when the peer is not connected or the
// message is too large.
bool NetSend(int peer, const void* bytes, size_t size, bool reliable);
// Sends what is queued.
void NetFlush();
// Takes the next event without waiting; false when there is none.
bool NetPoll(NetEvent* event);
// The transport's smoothed round-trip time to a peer, in milliseconds.
uint32_t NetPeerRttMs(int peer);
// Ends a peer's connection after sending what is queued for it.
void NetDisconnect(int peer);
// Closes the endpoint (peers are told) and frees it.
void NetClose();
bool NetIsOpen();

// ---- Other datagrams on the endpoint's socket ----
// A match server, and the machines a game opens a path to through their
// routers, are reached from the very socket the transport uses, so that a
// router on the way keeps one mapping for both. Datagrams that start with
// 0xFF 0xFF (which the transport never sends first) are taken aside into a
// small queue instead of reaching the transport. They are read from the
// socket while NetPoll runs.
constexpr size_t kNetRawMax = 1200;
struct NetRawDatagram {
    NetAddress from;
    size_t size;
    uint8_t data[kNetRawMax];
};
// Takes such datagrams aside on the open endpoint from now on (NetListen or
// NetOpen first); false when no endpoint is open.
bool NetRawAttach();
// Sends one datagram from the endpoint's socket; false when none is open or
// the system refuses it.
bool NetRawSend(const NetAddress& to, const void* bytes, size_t size);
// Takes the next datagram taken aside; false when there is none. When the
// queue is full, newer datagrams are dropped (and counted).
bool NetRawPoll(NetRawDatagram* out);
uint32_t NetRawDropped();
// The endpoint's local port: 0 when none is open, and for a joining
// machine's endpoint until its first datagram (the system gives it a port then).
uint16_t NetLocalPort();
// Starts connecting to an address (the host itself, or the match server
// that relays for it); the peer's number, or -1.
int NetConnectAddress(const NetAddress& to);
// The address a peer's datagrams come from; false for no such peer.
bool NetPeerAddress(int peer, NetAddress* out);
// Forgets a peer at once without telling the other side: a connection
// attempt on a path that did not answer, so that another can start.
void NetAbandon(int peer);

}  // namespace plat
