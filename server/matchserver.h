// CMatchServer: the match server's rules. Games register rooms and get an
// invite code, find a room by code or in the public list, and are introduced
// to each other; where they cannot reach each other, the relay passes their
// datagrams. The object owns no socket but the relay's: datagrams come in
// through Receive (the main port) and FromPipe (a relay pipe's port), and
// what the main port and the probe port send goes into two outboxes that
// the caller sends.
//
// Before a machine has echoed a cookie (which proves it receives at its
// address), the server answers nothing larger than what it was sent, and keeps
// no state for it. Every request after that carries the cookie. An address
// is held to a message rate and to a number of wrong codes a minute; rooms,
// machines and relayed rooms are bounded.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/rendezvous.h"
#include "platform/server/udp.h"
#include "server/directory.h"
#include "server/guard.h"
#include "server/relay.h"

struct ServerOptions {
    uint16_t port = kRvDefaultPort;
    std::string redisHost;  // empty: the directory lives in the process
    uint16_t redisPort = 0;
    plat::NetAddress publicAddress = {};  // how other instances send machines here
    int maxRooms = 2000;
    int maxRelayed = 500;  // rooms relaying at once
    uint16_t relayFirstPort = 27000, relayLastPort = 30999;
    int messagesPerSecond = 50;  // per address, sustained
    int wrongCodesPerMinute = 10;
    int statusSeconds = 60;
};

struct ServerStats {
    uint64_t received;
    uint64_t flood;        // over an address's message rate
    uint64_t malformed;    // refused by the decoder, or a type the server never takes
    uint64_t badCookie;    // a request without a valid cookie
    uint64_t wrongCodes;   // JOIN with a code that is nowhere
    uint64_t codeLimited;  // JOIN from an address over its wrong codes
    uint64_t machinesFull, roomsFull;
    uint64_t held;  // answers to an unproven address that would have been larger than the request
};

struct ServerClient {
    bool used;
    plat::NetAddress address;
    uint64_t cookie;
    uint64_t lastHeardUs;
    int room;             // hosting or joining, -1 for none
    uint32_t roomSerial;  // that room's serial: a room closed since is none
    bool host;
    uint32_t joinId;  // as a joining machine
    uint64_t punchNonce;
};

// A join the host must hear about; told again until the joining machine
// reports how it connected, or until it gives up.
struct Introduction {
    uint32_t joinId;
    plat::NetAddress joiner;
    uint64_t punchNonce;
    int pipe;
    char name[kRvNameMax + 1];
    uint64_t untilUs, nextUs;
};

struct ServerRoom {
    bool used;
    uint32_t serial;  // new for every room opened in this place
    char code[kRvCodeLength + 1];
    int host;
    RvRoomInfo info;
    char name[kRvNameMax + 1];
    bool direct;  // the probe reached the host's address
    uint64_t probeNonce;
    int probesSent;
    uint64_t probeNextUs;
    uint32_t nextJoinId;
    static constexpr int kIntroductionsMax = 8;
    Introduction introductions[kIntroductionsMax];
    int introductionCount;
};

class CMatchServer {
public:
    // Sets the server up (the directory as the options say); false, with a
    // message in *error, when Redis cannot be reached.
    bool Start(const ServerOptions& options, int poller, uint64_t pipeTagBase, FILE* log, std::string* error);
    // A datagram at the main port: a message of the protocol (answers go to
    // the outboxes; -1), or one a joining machine sends through the relay:
    // rewritten for the host, and the pipe whose port sends it returned.
    int Receive(plat::UdpDatagram* d, uint64_t nowUs);
    // A datagram at a relay pipe's port (see CRelay::FromPipe).
    RelayRoute FromPipe(int pipe, plat::UdpDatagram* d, uint64_t nowUs, plat::UdpDatagram* also, bool* alsoSet);
    // Timers: probes, introductions, silent machines, idle pipes, the
    // directory's refreshes and the status line.
    void Service(uint64_t nowUs);
    // Tells every machine that the server closes, and gives every code up.
    void Stop();
    // What the main port and the probe port send; the caller empties them.
    std::vector<plat::UdpDatagram> mainOut, probeOut;

    int Rooms() const { return m_roomCount; }
    int Machines() const { return int(m_byAddress.size()); }
    const ServerRoom* RoomByCode(const char* code) const;
    CRelay relay;
    CDirectory directory;
    ServerStats stats = {};
    static constexpr uint64_t kClientTimeoutUs = 20 * 1000000ull;
    static constexpr uint64_t kIntroduceEveryUs = 250 * 1000ull;
    static constexpr uint64_t kIntroduceForUs = 6 * 1000000ull;
    static constexpr uint64_t kProbeEveryUs = 250 * 1000ull;
    static constexpr int kProbes = 4;
    static constexpr int kMachinesPerRoom = 8;

private:
    void Request(const plat::UdpDatagram& in, uint64_t nowUs);
    int Relayed(int pipe);
    void Send(const ServerClient& to, const RvMessage& m);
    void Reply(const plat::NetAddress& to, const RvMessage& m, size_t requestSize);
    ServerClient* Established(const plat::NetAddress& from, uint64_t cookie, uint64_t nowUs);
    void Forget(int client, uint8_t closing, const char* why);
    void Host(ServerClient& c, const RvMessage& m, uint64_t nowUs);
    void Join(ServerClient& c, const RvMessage& m, uint64_t nowUs);
    void Joined(ServerClient& c, int room, const RvMessage& request, uint64_t nowUs);
    void Connected(ServerClient& c, const RvMessage& m);
    void List(ServerClient& c, const RvMessage& m);
    void CloseRoom(int room, const char* why);
    void Introduce(ServerRoom& r, const Introduction& in);
    void Status(uint64_t nowUs);
    int ClientIndex(const ServerClient& c) const { return int(&c - m_clients.data()); }
    // The room a machine hosts or joined, -1 when none (or it closed since).
    int RoomOf(const ServerClient& c) const {
        return c.room >= 0 && m_rooms[size_t(c.room)].used && m_rooms[size_t(c.room)].serial == c.roomSerial ? c.room
                                                                                                             : -1;
    }
    void Timers(ServerRoom& r, uint64_t nowUs);
    std::string Who(const plat::NetAddress& a) const;

    ServerOptions m_options;
    FILE* m_log = nullptr;
    std::vector<ServerClient> m_clients;
    std::vector<int> m_freeClients;
    std::unordered_map<uint64_t, int> m_byAddress;
    std::vector<ServerRoom> m_rooms;
    std::vector<int> m_freeRooms;
    int m_roomCount = 0;
    uint32_t m_nextSerial = 1;
    // Rooms with a probe or an introduction still to send (room, serial).
    std::vector<std::pair<int, uint32_t>> m_timed;
    CAddressProof m_cookies;
    CAddressLimits m_limits;
    uint64_t m_lastSweepUs = 0, m_lastStatusUs = 0, m_statusBytes = 0;
};
