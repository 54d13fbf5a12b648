// What the match server and its load generator need of the system: many
// non-blocking UDP sockets, a readiness set over them, batches of datagrams
// in and out with one system call each, a monotonic clock, random bytes and
// the stop signals. Plain functions over file descriptors; nothing of the game.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/netaddress.h"

namespace plat {

// The largest datagram taken in; a longer one arrives cut and is reported
// with its size as 0.
constexpr size_t kUdpDatagramMax = 1500;

struct UdpDatagram {
    NetAddress peer;  // where it came from, or where it goes
    uint16_t size;
    uint8_t data[kUdpDatagramMax];
};

// A socket bound to port on all addresses (0: any free port); -1 when the
// port is taken or sockets run out.
int UdpOpen(uint16_t port);
// Asks for socket buffers of this many bytes each way (beyond the system's
// limit only with the right to); the receive buffer's size as granted.
int UdpSetBuffers(int socket, int bytes);
void UdpClose(int socket);
uint16_t UdpLocalPort(int socket);
// Takes up to max datagrams that wait on the socket, without waiting; how
// many (0 when none).
int UdpReceive(int socket, UdpDatagram* out, int max);
// Sends datagrams, each to its peer; how many went (the rest met a full
// buffer or an error, and are dropped as a congested network would).
int UdpSend(int socket, const UdpDatagram* datagrams, int count);
bool UdpSendOne(int socket, const NetAddress& to, const void* bytes, size_t size);

// A readiness set: sockets with a tag each; a wait returns the tags of the
// sockets that have datagrams waiting.
int UdpPollerOpen();
bool UdpPollerAdd(int poller, int socket, uint64_t tag);
void UdpPollerRemove(int poller, int socket);
int UdpPollerWait(int poller, int timeoutMs, uint64_t* tags, int max);
void UdpPollerClose(int poller);

uint64_t MonotonicUs();
// Random bytes from the system's generator (for codes, tokens and keys).
void RandomBytes(void* out, size_t size);
// SIGTERM and SIGINT set a flag instead of ending the process.
void CatchStopSignals();
bool StopRequested();
// As many open files (sockets) as the system allows this process.
void RaiseOpenFileLimit();
// The process's CPU time (user and system) and resident memory.
uint64_t ProcessCpuUs();
uint64_t ProcessResidentBytes();

}  // namespace plat
