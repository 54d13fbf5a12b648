// CServerLink: a game's side of the match server, for the host and for a
// joining machine alike. It registers a room and keeps it alive (host),
// finds a room by code and opens a path to its host (joining machine), and
// reads the public room list.
//
// A joining machine reaches the host by the first path that works, in this
// order: straight to the host's address when the server's probe reached it
// (DIRECT); through both routers at once, each machine sending to the other's
// address as the server saw it, so that each router lets the other's
// datagrams in (PUNCHED); through the server, which passes the datagrams on
// (RELAYED): the joining machine sends them to the server's own port, the
// host to a port of the relay pipe. The host proves its end of the pipe from
// the start, beside the punching, so that falling back to it costs no extra
// round trips. The link says where the game's
// transport should connect (ConnectTarget) and moves on when an attempt does
// not connect in time; the transport itself runs unchanged over any path.
//
// The object knows no socket: datagrams of the protocol come in through
// Receive (the transport takes them aside on its own socket), go out through
// the outbox, each with its address, from that same socket; time comes in
// as milliseconds.
#pragma once
#include <cstddef>
#include <cstdint>

#include "net/rendezvous.h"

enum LinkState : uint8_t {
    LINK_OFF,
    LINK_ASKING,      // waiting for the server's cookie or an answer to HOST or JOIN
    LINK_HOSTING,     // the room is registered: Code() holds its invite code
    LINK_CONNECTING,  // the host is known: the transport connects where ConnectTarget says
    LINK_CONNECTED,   // the transport connected (the server was told how)
    LINK_READY,       // the server answers (for the room list, nothing hosted or joined)
    LINK_FAILED,      // FailText() says why; nothing more is sent
};

struct LinkDatagram {
    plat::NetAddress to;
    uint16_t size;
    uint8_t bytes[kRvMessageMax];
};

// What a host knows of a machine the server introduced.
struct LinkIntroduction {
    uint32_t joinId;
    plat::NetAddress joiner;   // as the server saw it
    plat::NetAddress punched;  // where its punch came from (0: none yet)
    plat::NetAddress relay;    // the pipe's address (port 0: none)
    uint64_t punchNonce, relayToken;
    uint32_t sinceMs;
    bool bound;  // the host's end of the pipe is proven
    uint64_t challenge;
    uint32_t lastBindMs;
    char name[kRvNameMax + 1];
};

class CServerLink {
public:
    CServerLink();
    // Host: registers a room with these seats; public rooms are listed.
    void StartHost(const plat::NetAddress& server, const char* name, bool isPublic, uint8_t seatsTotal,
                   uint8_t seatsFree, uint32_t nowMs);
    // Joining machine: finds the room of this code (already normalised).
    // relayOnly skips the direct path and punching (for tests and the load tool).
    void StartJoin(const plat::NetAddress& server, const char* name, const char* code, bool relayOnly, uint32_t nowMs);
    // Only the list: asks for the page from first on, and again whenever called.
    void StartList(const plat::NetAddress& server, uint32_t nowMs);
    void RequestList(uint16_t first, uint32_t nowMs);
    // Leaves the server (a BYE), and goes off.
    void Stop();

    void Receive(const plat::NetAddress& from, const uint8_t* bytes, size_t size, uint32_t nowMs);
    // Timers: resends, punches, binds, keep-alives, attempts that took too long.
    void Service(uint32_t nowMs);
    bool TakeOutgoing(LinkDatagram* out);

    LinkState State() const { return m_state; }
    const char* FailText() const { return m_fail; }
    const char* Code() const { return m_code; }
    uint32_t ServerRttMs() const { return m_rttMs; }
    plat::NetAddress PublicAddress() const { return m_seen; }  // this machine as the server sees it

    // ---- host ----
    void UpdateRoom(bool isPublic, uint8_t seatsTotal, uint8_t seatsFree, uint16_t round, uint32_t nowMs);
    // How a peer of the transport came, by the address its datagrams come from.
    uint8_t KindOf(const plat::NetAddress& peer) const;
    bool Reachable() const { return m_reachable; }  // the server's probe came through
    int IntroductionCount() const { return m_introCount; }
    const LinkIntroduction& Introduction(int k) const { return m_intros[k]; }

    // ---- joining machine ----
    // A new place to connect to: true once per change; the game drops any
    // attempt it has and connects to *to. *kind is how (RvKind).
    bool ConnectTarget(plat::NetAddress* to, uint8_t* kind);
    // The transport connected on the current target.
    void TransportConnected(uint32_t nowMs);
    uint8_t ConnectedKind() const { return m_kind; }
    bool HostDirect() const { return m_hostDirect; }

    // ---- the room list ----
    // The latest page; its serial grows with every page that arrives.
    const RvMessage& ListPage() const { return m_list; }
    uint32_t ListSerial() const { return m_listSerial; }

    // Timings.
    static constexpr uint32_t kResendMs = 300;
    static constexpr uint32_t kGiveUpMs = 5000;
    static constexpr uint32_t kKeepAliveMs = 5000;
    static constexpr uint32_t kSilentMs = 20000;
    static constexpr uint32_t kPunchEveryMs = 40;
    static constexpr uint32_t kPunchForMs = 4000;
    static constexpr uint32_t kBindEveryMs = 200;
    static constexpr uint32_t kPunchWaitMs = 600;  // plus twice the server's round trip
    static constexpr uint32_t kAttemptMs = 1500;   // a direct or punched connection attempt
    static constexpr uint32_t kRelayAttemptMs = 3000;
    static constexpr int kIntroductionsMax = 16;
    static constexpr int kRedirectsMax = 2;

private:
    enum Goal : uint8_t { GOAL_NONE, GOAL_HOST, GOAL_JOIN, GOAL_LIST };
    void Begin(const plat::NetAddress& server, uint8_t goal, uint32_t nowMs);
    void Fail(const char* text);
    void Queue(const plat::NetAddress& to, const RvMessage& m);
    void Ask(uint32_t nowMs);  // sends HELLO, or the goal's request
    void FromServer(const RvMessage& m, uint32_t nowMs);
    void Joined(const RvMessage& m, uint32_t nowMs);
    void Introduced(const RvMessage& m, uint32_t nowMs);
    void Punch(const plat::NetAddress& from, const RvMessage& m, uint32_t nowMs);
    void Bind(const plat::NetAddress& from, const RvMessage& m, uint32_t nowMs);
    void SendBind(const plat::NetAddress& relay, uint64_t token, uint64_t answer);
    void ServiceHost(uint32_t nowMs);
    void ServiceJoin(uint32_t nowMs);
    void Choose(const plat::NetAddress& to, uint8_t kind, uint32_t nowMs);
    void Sample(uint32_t stamp, uint32_t nowMs);
    RvMessage Request(uint8_t type, uint32_t nowMs) const;

    LinkState m_state;
    uint8_t m_goal;
    char m_fail[64];
    plat::NetAddress m_server;
    plat::NetAddress m_seen;
    uint64_t m_nonce, m_cookie;
    bool m_haveCookie;
    uint32_t m_askedMs, m_firstAskMs, m_lastHeardMs, m_lastAliveMs;
    uint32_t m_rttMs;
    int m_redirects;
    char m_name[kRvNameMax + 1];
    char m_code[kRvCodeLength + 1];
    RvRoomInfo m_room;
    bool m_roomChanged;
    bool m_relayOnly;
    uint16_t m_listFirst;
    RvMessage m_list;
    uint32_t m_listSerial;

    // host
    bool m_reachable;
    LinkIntroduction m_intros[kIntroductionsMax];
    int m_introCount;

    // joining machine
    uint32_t m_joinId;
    plat::NetAddress m_host, m_punched;
    plat::NetAddress m_relay;  // the server's main port, when a pipe is open for this machine
    bool m_hostDirect, m_punchOpen, m_relayReady;
    uint64_t m_punchNonce;
    uint32_t m_joinedMs, m_lastPunchMs, m_attemptMs;
    plat::NetAddress m_target;
    uint8_t m_kind;
    bool m_targetNew;
    bool m_triedDirect, m_triedPunched, m_triedRelay;
    uint32_t m_connectedStamp;  // CONNECTED waits for the server's ACK of this stamp (0: none)

    static constexpr int kOutboxCapacity = 48;
    LinkDatagram m_outbox[kOutboxCapacity];
    int m_outFirst, m_outCount;
};
