// nuvel-server-load: the load generator for the match server's relay. It
// opens rooms of four machines on a running server (one host, three joining
// machines that ask for the relay), binds every pipe as a game does, then
// sends the traffic of a real online round through the relay for a while:
// the host about 2.5 kB/s to each joining machine (50 bytes every 20 ms),
// each joining machine about 1 kB/s to the host (40 bytes every 40 ms), each
// machine at a phase of its own. Every datagram carries its send time; the
// receiving side notes the delay.
//
//   nuvel-server-load --server 127.0.0.1:PORT --rooms N [--seconds S] [--direct]
//
// --direct sends the same traffic straight between the machines' sockets,
// no server: what the delay is without the relay, on the same machine under
// the same load. Prints one line: rooms, datagrams sent and received, the
// delay's percentiles in microseconds.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "net/rendezvous.h"
#include "platform/server/udp.h"

namespace {

constexpr int kJoiners = 3;
constexpr uint64_t kHostEveryUs = 20000, kJoinerEveryUs = 40000;
constexpr size_t kHostBytes = 50, kJoinerBytes = 40;
constexpr uint64_t kBucketUs = 5, kBuckets = 20000;  // delays up to 100 ms, in 5 us steps
constexpr uint8_t kTrafficMark = 0x01;               // never 0xFF: the relay passes it on

struct Machine {
    int socket;
    plat::NetAddress self;
    // Where each of its peers is reached (the pipe's port, or the peer itself).
    plat::NetAddress to[kJoiners];
    int peers;
    uint64_t everyUs, nextUs;
    size_t bytes;
    uint64_t cookie, nextAliveUs;  // keep-alives to the server, as a game sends them
};

struct Figures {
    uint64_t sent = 0, received = 0;
    std::vector<uint64_t> delays = std::vector<uint64_t>(kBuckets + 1);
};

plat::NetAddress g_server;

// Sends a message and waits for an answer of the wanted type (sent again
// every 200 ms, up to two seconds).
bool Exchange(int socket, const plat::NetAddress& to, const RvMessage& m, uint8_t wanted, RvMessage* answer) {
    uint8_t bytes[kRvMessageMax];
    const size_t size = EncodeRv(m, bytes, sizeof bytes);
    static plat::UdpDatagram in[16];
    for (int tries = 0; tries < 10; tries++) {
        plat::UdpSendOne(socket, to, bytes, size);
        const uint64_t untilUs = plat::MonotonicUs() + 200000;
        while (plat::MonotonicUs() < untilUs) {
            const int n = plat::UdpReceive(socket, in, 16);
            for (int k = 0; k < n; k++)
                if (DecodeRv(in[k].data, in[k].size, answer) == RV_DECODE_OK && answer->type == wanted) return true;
            if (n == 0) {
                timespec pause{0, 200000};
                nanosleep(&pause, nullptr);
            }
        }
    }
    return false;
}

// The keep-alive a game sends every few seconds: the host's room, the
// others' plain one. The answer is not waited for.
void KeepAlive(Machine& m, bool host, uint64_t nowUs) {
    if (nowUs < m.nextAliveUs || m.cookie == 0) return;
    m.nextAliveUs = nowUs + 5000000;
    RvMessage alive = RvBlank(host ? RV_UPDATE : RV_ALIVE);
    alive.cookie = m.cookie;
    alive.room = RvRoomInfo{0, 4, 0, 1, 1};
    uint8_t bytes[kRvMessageMax];
    plat::UdpSendOne(m.socket, g_server, bytes, EncodeRv(alive, bytes, sizeof bytes));
}

bool Hello(int socket, uint64_t* cookie) {
    RvMessage answer, hello = RvBlank(RV_HELLO);
    hello.nonce = 1;
    if (!Exchange(socket, g_server, hello, RV_COOKIE, &answer)) return false;
    *cookie = answer.cookie;
    return true;
}

// Proves the host's end of a pipe: bind, answer the challenge, bound.
bool Bind(int socket, const plat::NetAddress& pipe, uint64_t token) {
    RvMessage answer, bind = RvBlank(RV_BIND);
    bind.relayToken = token;
    if (!Exchange(socket, pipe, bind, RV_CHALLENGE, &answer)) return false;
    bind.answer = answer.answer;
    return Exchange(socket, pipe, bind, RV_BOUND, &answer);
}

// A room through the server: the host, three joining machines on relay
// pipes whose host ends are proven; the joining machines send to the
// server's own port.
bool OpenRoom(Machine* m) {
    uint64_t cookie = 0;
    RvMessage answer;
    if (!Hello(m[0].socket, &cookie)) return false;
    m[0].cookie = cookie;
    RvMessage host = RvBlank(RV_HOST);
    host.cookie = cookie;
    host.room = RvRoomInfo{0, 4, 3, 0, 0};
    std::strcpy(host.name, "LOAD");
    if (!Exchange(m[0].socket, g_server, host, RV_ROOM, &answer)) return false;
    const std::string code = answer.code;
    for (int j = 1; j <= kJoiners; j++) {
        uint64_t joinerCookie = 0;
        if (!Hello(m[j].socket, &joinerCookie)) return false;
        m[j].cookie = joinerCookie;
        RvMessage join = RvBlank(RV_JOIN);
        join.cookie = joinerCookie;
        std::memcpy(join.code, code.c_str(), sizeof join.code);
        join.flags = RV_JOIN_RELAY_ONLY;
        if (!Exchange(m[j].socket, g_server, join, RV_JOINED, &answer) || !answer.relayPort) return false;
        const uint32_t joinId = answer.joinId;
        RvMessage intro;  // the host hears of the pipe's own port
        plat::UdpDatagram d[16];
        bool introduced = false;
        for (int tries = 0; tries < 2000 && !introduced; tries++) {
            const int n = plat::UdpReceive(m[0].socket, d, 16);
            for (int k = 0; k < n; k++)
                introduced = introduced || (DecodeRv(d[k].data, d[k].size, &intro) == RV_DECODE_OK &&
                                            intro.type == RV_INTRODUCE && intro.joinId == joinId);
            if (!introduced) {
                timespec pause{0, 500000};
                nanosleep(&pause, nullptr);
            }
        }
        const plat::NetAddress pipe{g_server.ip, intro.relayPort};
        if (!introduced || !Bind(m[0].socket, pipe, intro.relayToken)) return false;
        m[0].to[j - 1] = pipe;
        m[j].to[0] = g_server;
        // Connected through the relay, as a game tells the server.
        RvMessage connected = RvBlank(RV_CONNECTED);
        connected.cookie = joinerCookie;
        connected.stamp = 1;
        connected.joinId = joinId;
        connected.value = RV_KIND_RELAYED;
        if (!Exchange(m[j].socket, g_server, connected, RV_ACK, &answer)) return false;
    }
    return true;
}

// The same machines, talking to each other's sockets.
void DirectRoom(Machine* m) {
    for (int j = 1; j <= kJoiners; j++) m[0].to[j - 1] = m[j].self, m[j].to[0] = m[0].self;
}

void SendDue(Machine& m, uint64_t nowUs, Figures& f) {
    while (m.nextUs <= nowUs) {
        uint8_t data[64] = {kTrafficMark};
        const uint64_t stampUs = plat::MonotonicUs();
        std::memcpy(data + 1, &stampUs, sizeof stampUs);
        for (int p = 0; p < m.peers; p++) f.sent += plat::UdpSendOne(m.socket, m.to[p], data, m.bytes);
        m.nextUs += m.everyUs;
    }
}

void ReceiveAll(int socket, Figures& f) {
    static plat::UdpDatagram in[64];
    int n;
    while ((n = plat::UdpReceive(socket, in, 64)) > 0) {
        const uint64_t nowUs = plat::MonotonicUs();
        for (int k = 0; k < n; k++) {
            if (in[k].size < 9 || in[k].data[0] != kTrafficMark) continue;
            uint64_t stampUs = 0;
            std::memcpy(&stampUs, in[k].data + 1, sizeof stampUs);
            f.received++;
            f.delays[std::min<uint64_t>((nowUs - stampUs) / kBucketUs, kBuckets)]++;
        }
    }
}

uint64_t Percentile(const Figures& f, double share) {
    uint64_t seen = 0;
    const uint64_t wanted = uint64_t(double(f.received) * share);
    for (uint64_t b = 0; b <= kBuckets; b++)
        if ((seen += f.delays[b]) > wanted) return b * kBucketUs;
    return kBuckets * kBucketUs;
}

}  // namespace

int main(int argc, char** argv) {
    int rooms = 10;
    double seconds = 60;
    bool direct = false;
    for (int i = 1; i < argc;) {
        const std::string a = argv[i++];
        const char* v = i < argc ? argv[i] : "";
        if (a == "--direct")
            direct = true;
        else if (a == "--server" && plat::ParseNetAddress(v, kRvDefaultPort, &g_server))
            i++;
        else if (a == "--rooms" && v[0])
            rooms = std::atoi(argv[i++]);
        else if (a == "--seconds" && v[0])
            seconds = std::atof(argv[i++]);
        else {
            std::fprintf(stderr, "usage: nuvel-server-load --server ADDR:PORT --rooms N [--seconds S] [--direct]\n");
            return 2;
        }
    }
    plat::RaiseOpenFileLimit();
    std::vector<Machine> machines(size_t(rooms) * (kJoiners + 1));
    const int poller = plat::UdpPollerOpen();
    uint64_t phase = 0;
    for (size_t k = 0; k < machines.size(); k++) {
        Machine& m = machines[k];
        m.socket = plat::UdpOpen(0);
        if (m.socket < 0) {
            std::fprintf(stderr, "out of sockets after %zu\n", k);
            return 1;
        }
        m.self = plat::NetAddress{0x7F000001, plat::UdpLocalPort(m.socket)};
        const bool host = k % (kJoiners + 1) == 0;
        m.peers = host ? kJoiners : 1;
        m.everyUs = host ? kHostEveryUs : kJoinerEveryUs;
        m.bytes = host ? kHostBytes : kJoinerBytes;
        // Spread evenly: machines do not start their rounds together.
        phase = (phase + 7919) % m.everyUs;
        m.nextUs = phase;
        plat::UdpPollerAdd(poller, m.socket, k);
    }
    for (int r = 0; r < rooms; r++) {
        Machine* room = &machines[size_t(r) * (kJoiners + 1)];
        if (direct)
            DirectRoom(room);
        else if (!OpenRoom(room)) {
            std::fprintf(stderr, "room %d could not be opened on the server\n", r);
            return 1;
        }
    }
    Figures f;
    const uint64_t startUs = plat::MonotonicUs(), endUs = startUs + uint64_t(seconds * 1e6);
    for (Machine& m : machines) m.nextUs += startUs, m.nextAliveUs = startUs + m.nextUs % 5000000;
    uint64_t tags[64];
    uint64_t dueUs = startUs;  // the earliest send of any machine
    for (uint64_t nowUs = startUs; nowUs < endUs; nowUs = plat::MonotonicUs()) {
        if (nowUs >= dueUs) {
            dueUs = endUs;
            for (size_t k = 0; k < machines.size(); k++) {
                Machine& m = machines[k];
                SendDue(m, nowUs, f);
                KeepAlive(m, k % (kJoiners + 1) == 0, nowUs);
                dueUs = std::min(dueUs, m.nextUs);
            }
        }
        const int ready = plat::UdpPollerWait(poller, 1, tags, 64);
        for (int k = 0; k < ready; k++) ReceiveAll(machines[tags[k]].socket, f);
    }
    // What is still on its way arrives.
    for (int k = 0; k < 100; k++) {
        const int ready = plat::UdpPollerWait(poller, 1, tags, 64);
        for (int i = 0; i < ready; i++) ReceiveAll(machines[tags[i]].socket, f);
    }
    std::printf(
        "rooms %d %s: sent %llu received %llu (%.3f%% lost), %.0f datagrams/s; delay us p50 %llu p99 %llu "
        "p99.9 %llu\n",
        rooms, direct ? "direct" : "relayed", (unsigned long long)f.sent, (unsigned long long)f.received,
        f.sent ? 100.0 * double(f.sent - std::min(f.sent, f.received)) / double(f.sent) : 0.0, double(f.sent) / seconds,
        (unsigned long long)Percentile(f, 0.5), (unsigned long long)Percentile(f, 0.99),
        (unsigned long long)Percentile(f, 0.999));
    return 0;
}
