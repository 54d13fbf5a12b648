// nuvel-match-client: behaves like a game towards the match server, on the
// game's own transport and the platform functions a game uses, without a
// window or a round. For the tests through real routers and for trying a
// server by hand.
//
//   nuvel-match-client --server ADDR[:PORT] host [--port P] [--public] [--seats N] [--name NAME]
//                      [--expect N] [--seconds S]
//   nuvel-match-client --server ADDR[:PORT] join CODE [--name NAME] [--relay-only] [--seconds S]
//   nuvel-match-client --server ADDR[:PORT] list
//
// The host prints "CODE <code>" once the room is registered, then a line per
// machine that connects ("PEER <n> <KIND> <address>"), and after the last
// expected machine has left, a line per machine with what it received. A
// joining machine prints "LOBBY <KIND> <ms>": the time from the code being
// entered to the host's welcome, as a game would show its lobby.
//
// Once connected, the machines send what an online round sends: the host a
// stream to each joining machine every 20 ms (about 2.5 kB/s), each joining
// machine its inputs every 40 ms (about 1 kB/s), both unreliable, echoing
// the other's latest stamp for the round trip; greetings go reliable. Exit
// 0 when every machine got at least half of what was sent to it (the
// transport drops unreliable datagrams while the round trip varies, as on a
// busy machine), 1 otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "net/rendezvous.h"
#include "net/serverlink.h"
#include "platform/net.h"

namespace {

constexpr uint32_t kStreamEveryMs = 20, kInputEveryMs = 40;
constexpr size_t kStreamBytes = 50, kInputBytes = 40;
constexpr double kEnoughShare = 0.5;

uint32_t NowMs() {
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return uint32_t(duration_cast<milliseconds>(steady_clock::now() - start).count()) + 1;
}

struct Options {
    plat::NetAddress server{};
    std::string mode, code, name = "CLIENT";
    uint16_t port = 26471;
    bool isPublic = false, relayOnly = false;
    int seats = 4, expect = 1;
    uint32_t seconds = 5;
};

// What one side knows of the traffic of one peer.
struct Traffic {
    bool present, greeted;
    uint8_t kind;
    uint32_t sent, received, sinceMs, lastSendMs, lastStamp, rttMs;
};

void Put32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; k++) p[k] = uint8_t(v >> (8 * k));
}
uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// A lockstep-like datagram: kind, this side's stamp, the other side's
// latest stamp echoed, padding to the size a round's message has.
void SendTraffic(int peer, Traffic& t, char kind, size_t bytes, uint32_t nowMs) {
    uint8_t data[64] = {};
    data[0] = uint8_t(kind);
    Put32(data + 1, nowMs);
    Put32(data + 5, t.lastStamp);
    if (plat::NetSend(peer, data, bytes, false)) t.sent++;
    t.lastSendMs = nowMs;
}

void TakeTraffic(Traffic& t, const plat::NetEvent& e, uint32_t nowMs) {
    if (e.size < 9) return;
    t.received++;
    t.lastStamp = Get32(e.data + 1);
    const uint32_t echoed = Get32(e.data + 5);
    if (echoed) t.rttMs = nowMs - echoed;
}

bool Enough(const Traffic& t, uint32_t everyMs) {
    const uint32_t expected = (t.lastSendMs - t.sinceMs) / everyMs;
    return t.received >= uint32_t(expected * kEnoughShare);
}

// The datagrams the transport took aside go to the link; what the link has
// to send goes out from the transport's socket.
void Pump(CServerLink& link, uint32_t nowMs) {
    static plat::NetRawDatagram raw;
    while (plat::NetRawPoll(&raw)) link.Receive(raw.from, raw.data, raw.size, nowMs);
    link.Service(nowMs);
    LinkDatagram out;
    while (link.TakeOutgoing(&out)) plat::NetRawSend(out.to, out.bytes, out.size);
}

bool Failed(const CServerLink& link) {
    if (link.State() != LINK_FAILED) return false;
    std::printf("FAILED %s\n", link.FailText());
    return true;
}

int Host(const Options& o) {
    if (!plat::NetListen(o.port, plat::kNetPeersMax) || !plat::NetRawAttach()) {
        std::printf("FAILED cannot listen on port %u\n", unsigned(o.port));
        return 1;
    }
    CServerLink link;
    link.StartHost(o.server, o.name.c_str(), o.isPublic, uint8_t(o.seats), uint8_t(o.seats - 1), NowMs());
    Traffic peers[plat::kNetPeersMax] = {};
    int came = 0, left = 0;
    bool codeShown = false;
    const uint32_t endMs = NowMs() + o.seconds * 1000;
    plat::NetEvent e;
    while (left < o.expect && int32_t(NowMs() - endMs) < 0) {
        const uint32_t now = NowMs();
        while (plat::NetPoll(&e)) {
            Traffic& t = peers[e.peer];
            if (e.type == plat::NET_EVENT_CONNECT) {
                plat::NetAddress from{};
                plat::NetPeerAddress(e.peer, &from);
                char text[plat::kNetAddressTextMax];
                plat::FormatNetAddress(from, text);
                t = Traffic{true, false, link.KindOf(from), 0, 0, now, now, 0, 0};
                std::printf("PEER %d %s %s\n", e.peer, RvKindName(t.kind), text);
                came++;
                link.UpdateRoom(o.isPublic, uint8_t(o.seats), uint8_t(o.seats - 1 - came), 0, now);
            } else if (e.type == plat::NET_EVENT_DISCONNECT && t.present) {
                t.present = false;
                left++;
            } else if (e.type == plat::NET_EVENT_RECEIVE && e.size == 1 && e.data[0] == 'J') {
                plat::NetSend(e.peer, "W", 1, true);
            } else if (e.type == plat::NET_EVENT_RECEIVE && e.size == 1 && e.data[0] == 'B' && t.present) {
                t.present = false;  // it leaves: its traffic ends here
                left++;
            } else if (e.type == plat::NET_EVENT_RECEIVE) {
                TakeTraffic(t, e, now);
            }
        }
        Pump(link, now);
        if (Failed(link)) return link.Stop(), Pump(link, NowMs()), 1;
        if (!codeShown && link.State() == LINK_HOSTING) {
            std::printf("CODE %s\n", link.Code());
            std::fflush(stdout);
            codeShown = true;
        }
        for (int p = 0; p < plat::kNetPeersMax; p++)
            if (peers[p].present && now - peers[p].lastSendMs >= kStreamEveryMs)
                SendTraffic(p, peers[p], 'F', kStreamBytes, now);
        plat::NetFlush();
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    bool good = came >= o.expect;
    for (int p = 0; p < plat::kNetPeersMax; p++) {
        const Traffic& t = peers[p];
        if (t.sent == 0) continue;
        std::printf("PEER %d %s received %u of about %u inputs, round trip %u ms\n", p, RvKindName(t.kind), t.received,
                    (t.lastSendMs - t.sinceMs) / kInputEveryMs, t.rttMs);
        good = good && Enough(t, kInputEveryMs);
    }
    link.Stop();
    Pump(link, NowMs());
    plat::NetClose();
    std::printf("%s\n", good ? "HOST OK" : "HOST SHORT");
    return good ? 0 : 1;
}

int Join(const Options& o) {
    char code[kRvCodeLength + 1];
    if (!RvNormaliseCode(o.code.c_str(), code)) {
        std::printf("FAILED %s is no invite code\n", o.code.c_str());
        return 1;
    }
    if (!plat::NetOpen() || !plat::NetRawAttach()) return 1;
    CServerLink link;
    const uint32_t enteredMs = NowMs();
    link.StartJoin(o.server, o.name.c_str(), code, o.relayOnly, enteredMs);
    int peer = -1;
    Traffic t{};
    uint32_t endMs = 0;
    plat::NetEvent e;
    while (endMs == 0 || int32_t(NowMs() - endMs) < 0) {
        const uint32_t now = NowMs();
        while (plat::NetPoll(&e)) {
            if (e.type == plat::NET_EVENT_CONNECT && e.peer == peer) {
                link.TransportConnected(now);
                plat::NetSend(peer, "J", 1, true);
            } else if (e.type == plat::NET_EVENT_DISCONNECT && e.peer == peer && t.present) {
                std::printf("FAILED the host left\n");
                return 1;
            } else if (e.type == plat::NET_EVENT_RECEIVE && e.size == 1 && e.data[0] == 'W' && !t.present) {
                t = Traffic{true, true, link.ConnectedKind(), 0, 0, now, now, 0, 0};
                endMs = now + o.seconds * 1000;
                std::printf("LOBBY %s %u\n", RvKindName(t.kind), now - enteredMs);
            } else if (e.type == plat::NET_EVENT_RECEIVE && t.present) {
                TakeTraffic(t, e, now);
            }
        }
        Pump(link, now);
        if (Failed(link)) return link.Stop(), Pump(link, NowMs()), 1;
        plat::NetAddress to{};
        uint8_t kind = 0;
        if (link.ConnectTarget(&to, &kind)) {
            if (peer >= 0) plat::NetAbandon(peer);
            peer = plat::NetConnectAddress(to);
            char text[plat::kNetAddressTextMax];
            plat::FormatNetAddress(to, text);
            std::printf("TRY %s %s\n", RvKindName(kind), text);
        }
        if (t.present && now - t.lastSendMs >= kInputEveryMs) SendTraffic(peer, t, 'I', kInputBytes, now);
        plat::NetFlush();
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool good = Enough(t, kStreamEveryMs);
    std::printf("JOINED %s received %u of about %u, round trip %u ms\n", RvKindName(t.kind), t.received,
                (t.lastSendMs - t.sinceMs) / kStreamEveryMs, t.rttMs);
    // Says goodbye on the reliable channel, and gives it time to arrive.
    plat::NetSend(peer, "B", 1, true);
    link.Stop();
    for (uint32_t untilMs = NowMs() + 300; int32_t(NowMs() - untilMs) < 0;) {
        while (plat::NetPoll(&e)) {
        }
        Pump(link, NowMs());
        plat::NetFlush();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    plat::NetDisconnect(peer);
    plat::NetClose();
    return good ? 0 : 1;
}

int List(const Options& o) {
    if (!plat::NetOpen() || !plat::NetRawAttach()) return 1;
    CServerLink link;
    link.StartList(o.server, NowMs());
    plat::NetEvent e;
    while (link.State() == LINK_ASKING) {
        while (plat::NetPoll(&e)) {
        }
        Pump(link, NowMs());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (Failed(link)) return link.Stop(), Pump(link, NowMs()), 1;
    const RvMessage& page = link.ListPage();
    std::printf("ROOMS %u\n", unsigned(page.total));
    for (int k = 0; k < page.count; k++) {
        const RvListedRoom& r = page.rooms[k];
        std::printf("ROOM %s %s %u/%u free, round %u, about %u ms\n", r.code, r.name, unsigned(r.info.seatsFree),
                    unsigned(r.info.seatsTotal), unsigned(r.info.round),
                    unsigned(r.info.hostRttMs + link.ServerRttMs()));
    }
    link.Stop();
    Pump(link, NowMs());
    plat::NetClose();
    return 0;
}

bool Read(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc;) {
        const std::string a = argv[i++];
        if (a == "--public" || a == "--relay-only" || a == "host" || a == "list") {
            o->isPublic = o->isPublic || a == "--public";
            o->relayOnly = o->relayOnly || a == "--relay-only";
            if (a[0] != '-') o->mode = a;
            continue;
        }
        // Every other word takes the one after it.
        if (i == argc) return false;
        const char* v = argv[i++];
        if (a == "join")
            o->mode = a, o->code = v;
        else if (a == "--server" && plat::ResolveNetAddress(v, kRvDefaultPort, &o->server))
            continue;
        else if (a == "--name")
            o->name = v;
        else if (a == "--port")
            o->port = uint16_t(std::atoi(v));
        else if (a == "--seats")
            o->seats = std::atoi(v);
        else if (a == "--expect")
            o->expect = std::atoi(v);
        else if (a == "--seconds")
            o->seconds = uint32_t(std::atoi(v));
        else
            return false;
    }
    return o->server.ip && !o->mode.empty() && o->seats >= 2 && o->seats <= kRvSeatsMax;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Read(argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: nuvel-match-client --server ADDR[:PORT] host [--port P] [--public] [--seats N] "
                     "[--name NAME] [--expect N] [--seconds S]\n"
                     "       nuvel-match-client --server ADDR[:PORT] join CODE [--name NAME] [--relay-only] "
                     "[--seconds S]\n"
                     "       nuvel-match-client --server ADDR[:PORT] list\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!plat::NetStart()) return 1;
    if (o.mode == "host") return Host(o);
    if (o.mode == "join") return Join(o);
    return List(o);
}
