// CRelay: the relay ports. When two machines of a room cannot reach each
// other, each sends its datagrams to a port the server opened for that pair
// (a pipe), and the server passes them on to the other end unchanged, so the
// game's transport runs over it as over any path. Each machine sees the
// other at the pipe's address, one pipe per joining machine, so the host
// tells its peers apart by address as it always does.
//
// A pipe passes datagrams only between its two ends, and an end is an
// address that proved two things: the pipe's token (which only the two
// machines were told) and that it receives at that address (it answered a
// challenge sent there). Nothing is ever sent to another address, a
// challenge is smaller than the request it answers, and each room's pipes
// share a byte budget.
#pragma once
#include <cstdint>
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
    plat::NetAddress ends[2];  // RV_SIDE_HOST, RV_SIDE_JOINER
    bool bound[2];
    uint64_t openedUs, lastTrafficUs;
    uint64_t datagrams, bytes;
    bool relaying;  // something has passed (logged once)
};

struct RelayStats {
    uint64_t datagrams, bytes;  // passed on
    uint64_t outsiders;         // from an address that is no end of the pipe
    uint64_t badTokens;         // a bind with another token
    uint64_t badAnswers;        // a bind with a wrong challenge answer
    uint64_t overBudget;        // beyond the room's byte budget
    uint64_t malformed;
};

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
    // Opens a pipe for a room's joining machine; its index, or -1 when no
    // port is free.
    int Open(int room, uint32_t joinId, uint64_t nowUs);
    void Close(int pipe);
    void CloseRoom(int room);
    const RelayPipe& Pipe(int pipe) const { return m_pipes[size_t(pipe)]; }
    int PipeCount() const { return int(m_pipes.size()); }
    int PipeOf(int room, uint32_t joinId) const;
    int RoomsRelaying() const { return m_roomsRelaying; }
    int RoomPipes(int room) const { return m_rooms[size_t(room)].pipes; }
    // True once per pipe: when the first datagram has passed.
    bool FirstTraffic(int pipe) {
        RelayPipe& p = m_pipes[size_t(pipe)];
        const bool first = p.datagrams > 0 && !p.relaying;
        p.relaying = p.relaying || first;
        return first;
    }
    int PipesOpen() const { return m_open; }

    // A datagram that arrived at a pipe's port. Rewrites *d into what the
    // pipe's socket sends (passed on, or the answer to a bind) and returns
    // true, or returns false to drop it; *also, when set, goes too (both
    // ends learn together that the pipe is ready).
    bool Receive(int pipe, plat::UdpDatagram* d, uint64_t nowUs, plat::UdpDatagram* also, bool* alsoSet);
    // Closes pipes that were never bound or fell silent; calls closed(pipe)
    // before each.
    template <class F>
    void Expire(uint64_t nowUs, F closed) {
        for (size_t i = 0; i < m_pipes.size(); i++) {
            const RelayPipe& p = m_pipes[i];
            if (!p.used) continue;
            const bool ready = p.bound[0] && p.bound[1];
            if ((!ready && nowUs - p.openedUs > kUnboundUs) || (ready && nowUs - p.lastTrafficUs > kIdleUs)) {
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
    bool Bind(RelayPipe& p, int side, uint64_t answer, plat::UdpDatagram* d, uint64_t nowUs, plat::UdpDatagram* also,
              bool* alsoSet);
    bool Spend(int room, size_t bytes, uint64_t nowUs);
    std::vector<RelayPipe> m_pipes;
    std::vector<int> m_freePipes;
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
