// nuvel-netprobe: machines for the online end-to-end tests and figures that
// a game process cannot be. It joins a host many times over through the
// game's own session and transport, or plays a hostile machine: one that
// reports false state digests, connections that never say hello, and one
// that sends a packet far larger than any message. Loopback addresses only
// (the tests' relay).
//
//   nuvel-netprobe --game DIR join HOST:PORT COUNT
//       joins COUNT times, one after the other, each as far as the welcome
//       (within the game's own 5 s limits), then leaves; prints every join
//       and the longest; exit 0 when all were welcomed.
//   nuvel-netprobe --game DIR spy HOST:PORT [watch]
//       joins (as a player, or watching) and in the first round sends a
//       false state digest for the first frame that ticked; prints what the
//       host answered; exit 0 when the host let it go.
//   nuvel-netprobe silent HOST:PORT COUNT SECONDS [VERSION]
//       COUNT connections that ping every 0.3 s and never say hello, made
//       again as soon as the host closes one; prints how long the longest
//       was held. VERSION writes another protocol version into the pings,
//       to try the hosts of older versions.
//   nuvel-netprobe oversize HOST:PORT MEGABYTES SECONDS [VERSION]
//       a connection that pings as the silent ones do and sends one reliable
//       packet of MEGABYTES, made again whenever the host closes it.
#include <enet/enet.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/netproto.h"
#include "net/session.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "screens/online.h"
#include "screens/stageselect.h"

namespace {

constexpr uint32_t kJoinLimitMs = 5000;  // as the game's lobby
constexpr uint32_t kSilentPingMs = 300;

uint32_t NowMs() { return plat::TimeMs(); }
void Nap() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

// A session of a joining machine over the game's transport.
class CProbe {
public:
    bool Join(const char* address, bool watch) {
        char host[128];
        uint16_t port = kNetDefaultPort;
        if (!ParseAddress(address, host, sizeof host, &port)) return false;
        m_peer = plat::NetConnect(host, port);
        if (m_peer < 0) return false;
        session.StartClient("PROBE", watch, 1, m_digests);
        session.machineKey = uint32_t(getpid()) * 2654435761u + m_joins++;
        return true;
    }
    void Pump() {
        static plat::NetEvent e;
        const uint32_t now = NowMs();
        while (plat::NetPoll(&e)) {
            if (e.peer != m_peer) continue;
            if (e.type == plat::NET_EVENT_CONNECT) session.Connected(0, now, e.address);
            if (e.type == plat::NET_EVENT_DISCONNECT) session.Disconnected(0, now);
            if (e.type == plat::NET_EVENT_RECEIVE) session.Receive(0, e.data, e.size, now);
        }
        session.Service(now);
        static OutMessage out;
        while (session.TakeOutgoing(&out)) plat::NetSend(m_peer, out.bytes, out.size, out.reliable);
        while (session.TakeClosing() >= 0) {
        }
        plat::NetFlush();
    }
    // The game's join rule: 5 s for an answer, then 5 s for the welcome.
    bool AwaitWelcome(const char** why) {
        const uint32_t started = NowMs();
        for (;;) {
            Pump();
            if (session.Welcomed()) return true;
            if (session.HostLost()) return *why = session.EndText(), false;
            if (!session.HostAnswered() && NowMs() - started > kJoinLimitMs) return *why = "no answer", false;
            if (session.HostAnswered() && NowMs() - session.Link(0).connectedMs > kJoinLimitMs)
                return *why = "no welcome", false;
            Nap();
        }
    }
    void Leave() {
        session.Leave();
        Pump();
        plat::NetClose();
        session.Stop();
    }
    void SendRaw(const NetMessage& m) {
        uint8_t bytes[kNetMessageMax];
        const size_t size = EncodeNetMessage(m, bytes, sizeof bytes);
        if (size) plat::NetSend(m_peer, bytes, size, true);
    }

    CSession session;
    uint32_t m_digests[kNetDataParts] = {};

private:
    int m_peer = -1;
    uint32_t m_joins = 0;
};

CProbe g_probe;  // large: kept off the stack

int Joins(const char* address, int count) {
    int welcomed = 0;
    uint32_t longest = 0;
    for (int k = 1; k <= count; k++) {
        const uint32_t started = NowMs();
        const char* why = "";
        const bool ok = g_probe.Join(address, false) && g_probe.AwaitWelcome(&why);
        const uint32_t ms = NowMs() - started;
        if (ok) {
            welcomed++;
            longest = std::max(longest, ms);
            std::printf("join %d: welcomed after %u ms\n", k, unsigned(ms));
        } else {
            std::printf("join %d: failed after %u ms: %s\n", k, unsigned(ms), why);
        }
        std::fflush(stdout);
        g_probe.Leave();
    }
    std::printf("joins: %d of %d welcomed, %d failed, longest %u ms\n", welcomed, count, count - welcomed,
                unsigned(longest));
    return welcomed == count ? 0 : 1;
}

// Joins and plays the stream without an engine (acknowledging it as a
// machine does), and once a frame has ticked reports a false digest for it.
int Spy(const char* address, bool watch) {
    const char* why = "";
    if (!g_probe.Join(address, watch) || !g_probe.AwaitWelcome(&why)) {
        std::printf("spy: could not join: %s\n", why);
        return 1;
    }
    CSession& s = g_probe.session;
    std::printf("spy: joined, waiting for a round\n");
    std::fflush(stdout);
    int32_t frame = 0;
    bool sent = false;
    const uint32_t started = NowMs();
    while (!s.HostLost() && NowMs() - started < 120 * 1000) {
        g_probe.Pump();
        if (s.RoundStarting()) {
            s.TakeRoundStart();
            NetRoundStart start = s.StartRecord();
            s.BeginRound(&start, 2400, NowMs());
            frame = 0;
        }
        while (s.InRound() && !sent && s.FrameReady(frame + 1)) {
            uint8_t seats;
            bool pause;
            s.BeginFrame(++frame, &seats, &pause, NowMs());
            if (!s.TakeTick(frame)) continue;
            NetMessage m{};
            m.type = NET_DIGEST;
            m.roundId = s.StartRecord().roundId;
            m.frame = frame;
            m.digest = 0xDEADBEEF;
            g_probe.SendRaw(m);
            std::printf("spy: false digest sent for frame %ld\n", long(frame));
            std::fflush(stdout);
            sent = true;
        }
        Nap();
    }
    std::printf("spy: %s\n", s.HostLost() ? s.EndText() : "the host took no notice");
    std::fflush(stdout);
    g_probe.Leave();
    return sent && s.HostLost() ? 0 : 1;
}

// ---- hostile connections, with ENet directly --------------------------------------

bool ParseEnetAddress(const char* text, ENetAddress* address) {
    char host[128];
    uint16_t port = kNetDefaultPort;
    if (!ParseAddress(text, host, sizeof host, &port) || enet_address_set_host(address, host) != 0) return false;
    address->port = port;
    return true;
}

struct Hostile {
    ENetHost* host = nullptr;
    ENetPeer* peer = nullptr;
    bool connected = false;
    uint32_t connectedMs = 0, lastPingMs = 0;
};

void Connect(Hostile& h, const ENetAddress& address) {
    if (!h.host) h.host = enet_host_create(nullptr, 1, 2, 0, 0);
    h.peer = h.host ? enet_host_connect(h.host, &address, 2, 0) : nullptr;
    h.connected = false;
}

// Services one connection; returns how long it was held when the host closed it (else 0).
uint32_t Service(Hostile& h, const ENetAddress& address) {
    ENetEvent e;
    uint32_t held = 0;
    while (h.host && enet_host_service(h.host, &e, 0) > 0) {
        if (e.type == ENET_EVENT_TYPE_CONNECT) {
            h.connected = true;
            h.connectedMs = NowMs();
        } else if (e.type == ENET_EVENT_TYPE_DISCONNECT) {
            if (h.connected) held = std::max<uint32_t>(1, NowMs() - h.connectedMs);
            Connect(h, address);
        } else if (e.type == ENET_EVENT_TYPE_RECEIVE) {
            enet_packet_destroy(e.packet);
        }
    }
    return held;
}

// A ping every kSilentPingMs keeps a connection talking (in the given
// protocol version, 0 for this one).
void KeepTalking(Hostile& h, int version) {
    if (!h.connected || NowMs() - h.lastPingMs < kSilentPingMs) return;
    h.lastPingMs = NowMs();
    NetMessage ping{};
    ping.type = NET_PING;
    uint8_t bytes[16];
    const size_t size = EncodeNetMessage(ping, bytes, sizeof bytes);
    if (version > 0) bytes[1] = uint8_t(version);
    enet_peer_send(h.peer, 1, enet_packet_create(bytes, size, ENET_PACKET_FLAG_UNSEQUENCED));
    enet_host_flush(h.host);
}

int Silent(const char* address, int count, int seconds, int version) {
    ENetAddress to{};
    if (!ParseEnetAddress(address, &to)) return 2;
    std::vector<Hostile> all(static_cast<size_t>(count));
    for (Hostile& h : all) Connect(h, to);
    uint32_t longest = 0, closed = 0;
    const uint32_t end = NowMs() + uint32_t(seconds) * 1000;
    while (int32_t(NowMs() - end) < 0) {
        for (Hostile& h : all) {
            if (const uint32_t held = Service(h, to)) {
                closed++;
                longest = std::max(longest, held);
            }
            KeepTalking(h, version);
        }
        Nap();
    }
    uint32_t open = 0;
    for (Hostile& h : all) {
        if (h.connected) open = std::max(open, NowMs() - h.connectedMs);
        if (h.host) enet_host_destroy(h.host);
    }
    std::printf("silent: %u connections closed by the host, the longest held %u ms, open now at most %u ms\n",
                unsigned(closed), unsigned(longest), unsigned(open));
    return 0;
}

int Oversize(const char* address, int megabytes, int seconds, int version) {
    ENetAddress to{};
    if (!ParseEnetAddress(address, &to)) return 2;
    Hostile h;
    Connect(h, to);
    std::vector<uint8_t> payload(size_t(megabytes) * 1024 * 1024, 0);
    payload[0] = kNetMagic;
    payload[1] = kNetProtocolVersion;
    payload[2] = NET_HELLO;
    uint32_t sent = 0, closed = 0;
    bool pending = true;
    const uint32_t end = NowMs() + uint32_t(seconds) * 1000;
    while (int32_t(NowMs() - end) < 0) {
        if (Service(h, to)) closed++, pending = true;
        if (h.connected && pending) {
            enet_peer_send(h.peer, 0, enet_packet_create(payload.data(), payload.size(), ENET_PACKET_FLAG_RELIABLE));
            enet_host_flush(h.host);
            pending = false;
            sent++;
        }
        KeepTalking(h, version);
        Nap();
    }
    if (h.host) enet_host_destroy(h.host);
    std::printf("oversize: %u packets of %d MB sent, %u connections closed by the host\n", unsigned(sent), megabytes,
                unsigned(closed));
    return 0;
}

bool LoadDataSet(const char* game, uint32_t* digests) {
    if (chdir(game) != 0) return false;
    theStageSelect.LoadStageList();
    theStageSelect.LoadBgmList();
    DataSetDigests(digests);
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: nuvel-netprobe --game DIR join HOST:PORT COUNT\n"
                 "       nuvel-netprobe --game DIR spy HOST:PORT [watch]\n"
                 "       nuvel-netprobe silent HOST:PORT COUNT SECONDS [VERSION]\n"
                 "       nuvel-netprobe oversize HOST:PORT MEGABYTES SECONDS [VERSION]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "--game") {
        if (!LoadDataSet(args[1].c_str(), g_probe.m_digests)) return Usage();
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() < 2 || !plat::NetStart() || enet_initialize() != 0) return Usage();
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const char* address = args[1].c_str();
    if (args[0] == "join" && args.size() == 3) return Joins(address, std::atoi(args[2].c_str()));
    if (args[0] == "spy") return Spy(address, args.size() > 2 && args[2] == "watch");
    if (args[0] == "silent" && (args.size() == 4 || args.size() == 5))
        return Silent(address, std::atoi(args[2].c_str()), std::atoi(args[3].c_str()),
                      args.size() == 5 ? std::atoi(args[4].c_str()) : 0);
    if (args[0] == "oversize" && (args.size() == 4 || args.size() == 5))
        return Oversize(address, std::atoi(args[2].c_str()), std::atoi(args[3].c_str()),
                        args.size() == 5 ? std::atoi(args[4].c_str()) : 0);
    return Usage();
}
