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

}  // namespace plat
