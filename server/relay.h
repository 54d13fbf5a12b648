// CRelay: the relay pipes. When a joining machine cannot reach the host, the
// server passes their datagrams on, unchanged, so that the game's transport
// runs over it as over any path. Each pipe serves one joining machine:
//   - the joining machine sends to the server's main port, from the very
//     address it talks to the server from (proven by its cookie), and hears
//     the host from there;
//   - the host sends to a port of the pipe's own and hears that joining
//     machine from it, so that the host tells its peers apart by address as
//     it always does.
// The host's end is an address that proved two things: the pipe's token
// (which only the two machines were told) and that it receives at that
// address (it answered a challenge sent there, smaller than the request).
// Nothing is ever sent to any other address, and each room's pipes share a
// byte budget.
//
// Either way one side of the server's work is batched: what the hosts send
// leaves through the main port together, what the joining machines send
// arrives there together.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/netaddress.h"
#include "platform/server/udp.h"
#include "server/guard.h"

struct RelayPipe {
    bool used;
    int socket;
    uint16_t port;
    int room;
    uint32_t joinId;
    uint64_t token;
    plat::NetAddress joiner;  // at the main port
    plat::NetAddress host;    // at the pipe's port, once proven
    bool hostBound;
    uint64_t openedUs, lastTrafficUs;
    uint64_t datagrams, bytes;
    bool relaying;  // something has passed (logged once)
};

struct RelayStats {
    uint64_t datagrams, bytes;  // passed on
    uint64_t outsiders;         // at a pipe's port from an address that is not its host
    uint64_t badTokens;         // a bind with another token
    uint64_t badAnswers;        // a bind with a wrong challenge answer
    uint64_t overBudget;        // beyond the room's byte budget
    uint64_t early;             // from the joining machine before the host's end was proven
    uint64_t malformed;
};

// Where what a pipe's port received goes out.
enum RelayRoute : uint8_t { RELAY_DROP, RELAY_FROM_PIPE, RELAY_FROM_MAIN };

class CRelay {
public:
    CRelay() = default;
    CRelay(const CRelay&) = delete;
    CRelay& operator=(const CRelay&) = delete;
    ~CRelay();
    // Ports first..last (first 0: any free port), sockets registered with
    // poller (when >= 0) under tag tagBase + pipe index.
    void Configure(uint16_t firstPort, uint16_t lastPort, int roomsMax, const uint64_t key[2], int poller,
                   uint64_t tagBase);
    // Opens a pipe for a room's joining machine at its address; the pipe's
    // index, or -1 when no port is free.
    int Open(int room, uint32_t joinId, const plat::NetAddress& joiner, uint64_t nowUs);
    void Close(int pipe);
    void CloseRoom(int room);
    const RelayPipe& Pipe(int pipe) const { return m_pipes[size_t(pipe)]; }
    int PipeCount() const { return int(m_pipes.size()); }
    int PipeOf(int room, uint32_t joinId) const;
    int RoomsRelaying() const { return m_roomsRelaying; }
    int RoomPipes(int room) const { return m_rooms[size_t(room)].pipes; }
    int PipesOpen() const { return m_open; }

    // A datagram that arrived at a pipe's port (the host's side). Rewrites
    // *d into what goes out and says from where: the answer to a bind from
    // the pipe's port, the datagram passed on to the joining machine from the
    // main port. *also, when set, goes from the main port too: the joining
    // machine hears that the pipe is ready.
    RelayRoute FromPipe(int pipe, plat::UdpDatagram* d, uint64_t nowUs, plat::UdpDatagram* also, bool* alsoSet);
    // The pipe whose joining machine is at this address, or -1.
    int PipeOfJoiner(const plat::NetAddress& from) const;
    // A datagram of the game's transport from a pipe's joining machine, at the
    // main port: rewritten to go to the host from the pipe's port; false to drop it.
    bool FromJoiner(int pipe, plat::UdpDatagram* d, uint64_t nowUs);
    // True once per pipe: when the first datagram has passed.
    bool FirstTraffic(int pipe);
    // Closes pipes whose host never proved its end or that fell silent;
    // calls closed(pipe) before each.
    template <class F>
    void Expire(uint64_t nowUs, F closed) {
        for (size_t i = 0; i < m_pipes.size(); i++) {
            const RelayPipe& p = m_pipes[i];
            if (!p.used) continue;
            if ((!p.hostBound && nowUs - p.openedUs > kUnboundUs) ||
                (p.hostBound && nowUs - p.lastTrafficUs > kIdleUs)) {
                closed(int(i));
                Close(int(i));
            }
        }
    }
    static constexpr uint64_t kUnboundUs = 15 * 1000000ull;
    static constexpr uint64_t kIdleUs = 30 * 1000000ull;
    // A room's pipes together: this many bytes a second, bursts of four times as many.
    static constexpr int64_t kRoomBytesPerSecond = 64 * 1024;
    RelayStats stats = {};

private:
    RelayRoute Bind(RelayPipe& p, uint64_t answer, plat::UdpDatagram* d, uint64_t nowUs, plat::UdpDatagram* also,
                    bool* alsoSet);
    bool Pass(RelayPipe& p, plat::UdpDatagram* d, const plat::NetAddress& to, uint64_t nowUs);
    std::vector<RelayPipe> m_pipes;
    std::vector<int> m_freePipes;
    std::unordered_map<uint64_t, int> m_byJoiner;
    struct Budget {
        int pipes;
        int64_t bytes;
        uint64_t lastUs;
    };
    std::vector<Budget> m_rooms;
    uint16_t m_firstPort = 0, m_lastPort = 0, m_nextPort = 0;
    int m_poller = -1;
    uint64_t m_tagBase = 0;
    int m_roomsRelaying = 0;
    int m_open = 0;
    CAddressProof m_proof;
};
