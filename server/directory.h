// CDirectory: where the invite codes and the public room list live. The
// rooms of this server are always known here; with Redis, the directory is
// shared by every server instance that uses the same Redis: a code claimed on
// one is found through any other (which then sends the machine to the server
// holding the room), the public list shows the rooms of all of them, and the
// wrong-code counters are counted together. Every key in Redis expires
// unless its server refreshes it, so a server that dies leaves nothing behind
// for long. When Redis does not answer, the server goes on with its own rooms
// and tries again every few seconds.
//
// Keys:  nuvel:code:<CODE>   "a.b.c.d:port" of the server holding the room
//        nuvel:pub:<CODE>    "seats-total seats-free round host-rtt name" of a public room
//        nuvel:public        the public codes (a sorted set, in code order)
//        nuvel:wrong:<ip>    wrong codes from an address in the last minute
#pragma once
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>

#include "net/rendezvous.h"
#include "platform/netaddress.h"

class CDirectory {
public:
    // Shares the directory through Redis at host:port, announcing this server
    // at self; false (nothing changed) when Redis cannot be reached.
    bool UseRedis(const char* host, uint16_t port, const plat::NetAddress& self);
    bool Shared() const { return m_shared; }
    bool RedisUp() const;

    // A new room's code: false when the code is taken, here or elsewhere.
    bool Claim(const char* code, int room, uint64_t nowUs);
    // What the room list shows of a room (only public rooms are listed).
    void Describe(const char* code, const RvRoomInfo& info, const char* name);
    void Release(const char* code);

    // Where a code lives: a room here (>= 0), another server (kElsewhere,
    // with its address) or nowhere (kNowhere).
    static constexpr int kNowhere = -1, kElsewhere = -2;
    int Find(const char* code, plat::NetAddress* elsewhere);
    // Wrong codes from an address in the last minute, counted by every
    // server sharing the directory (0 when not shared); Charge adds one.
    int SharedWrongCodes(uint32_t ip);
    void ChargeWrongCode(uint32_t ip);

    // A page of the public list from first on; the list's length in *total.
    int List(int first, RvListedRoom* out, int max, int* total);

    // Refreshes what is due in Redis and reconnects when it was lost.
    void Service(uint64_t nowUs);
    // Every Redis key refreshed this often, and kept this long without.
    static constexpr uint64_t kRefreshUs = 30 * 1000000ull;
    static constexpr int kKeySeconds = 90;
    static constexpr uint64_t kReconnectUs = 5 * 1000000ull;
    FILE* log = nullptr;

private:
    struct Entry {
        int room;
        RvListedRoom listed;
        uint64_t refreshedUs;
    };
    void Publish(const Entry& entry);
    void Lost();
    std::map<std::string, Entry> m_entries;  // this server's rooms, by code
    std::deque<std::string> m_refreshOrder;  // oldest refresh first
    bool m_shared = false;
    std::string m_redisHost;
    uint16_t m_redisPort = 0;
    std::string m_self;
    uint64_t m_lostUs = 0;
    bool m_lost = false;
};
