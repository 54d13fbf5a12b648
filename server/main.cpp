// nuvel-server: the match server. Reads its options, opens its ports and
// runs until SIGTERM or SIGINT: datagrams in, the server's answers and the
// relayed datagrams out, the timers every few milliseconds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "net/rendezvous.h"
#include "platform/server/udp.h"
#include "server/log.h"
#include "server/matchserver.h"

namespace {

constexpr uint64_t kMainTag = 0, kProbeTag = 1, kPipeTagBase = 2;
constexpr uint64_t kServiceEveryUs = 10000;
constexpr int kBatch = 64;
// A relay port mostly holds one datagram or two when it wakes: a short batch
// costs less to set up.
constexpr int kPipeBatch = 8;
constexpr int kMainBufferBytes = 8 << 20;

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: nuvel-server [options]\n"
                 "  --port N               UDP port for the games (default %u)\n"
                 "  --redis redis://H:P    share the room directory with other servers through Redis\n"
                 "  --public-address ADDR  this server's IPv4 address as the games reach it (needed with --redis)\n"
                 "  --max-rooms N          rooms at once (default 2000)\n"
                 "  --max-relayed N        rooms relayed at once (default 500)\n"
                 "  --relay-ports A-B      UDP ports for relaying (default 27000-30999; any: the system's choice)\n"
                 "  --rate N               messages a second from one address (default 50)\n"
                 "  --status-seconds N     seconds between status lines (default 60)\n"
                 "  --help, --version\n",
                 unsigned(kRvDefaultPort));
}

bool Number(const char* text, long min, long max, long* out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < min || v > max) return false;
    *out = v;
    return true;
}

bool Redis(const char* text, ServerOptions* o) {
    const char* scheme = "redis://";
    if (std::strncmp(text, scheme, std::strlen(scheme)) != 0) return false;
    plat::NetAddress a{};
    if (!plat::ResolveNetAddress(text + std::strlen(scheme), 6379, &a)) return false;
    char host[plat::kNetAddressTextMax];
    std::snprintf(host, sizeof host, "%u.%u.%u.%u", a.ip >> 24, (a.ip >> 16) & 255, (a.ip >> 8) & 255, a.ip & 255);
    o->redisHost = host;
    o->redisPort = a.port;
    return true;
}

// "A-B", or "any" for ports the system picks (for tests: no firewall could
// open those ahead).
bool Ports(const char* text, ServerOptions* o) {
    if (!std::strcmp(text, "any")) return o->relayFirstPort = o->relayLastPort = 0, true;
    unsigned first = 0, last = 0;
    char tail = 0;
    if (std::sscanf(text, "%u-%u%c", &first, &last, &tail) != 2 || first < 1 || last > 65535 || first > last)
        return false;
    o->relayFirstPort = uint16_t(first), o->relayLastPort = uint16_t(last);
    return true;
}

// Reads a number option's value into *field.
template <class T>
bool NumberInto(const char* v, long min, long max, T* field) {
    long n = 0;
    if (!v || !Number(v, min, max, &n)) return false;
    *field = T(n);
    return true;
}

// 0: run; 1: done (help, version); 2: a bad command line.
int ReadOptions(int argc, char** argv, ServerOptions* o) {
    bool publicGiven = false;
    // Every option but --help and --version takes the word after it.
    for (int i = 1; i < argc; i += 2) {
        const char* a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = false;
        if (!std::strcmp(a, "--help")) return Usage(stdout), 1;
        if (!std::strcmp(a, "--version")) return std::printf("nuvel-server, protocol %u\n", kRvVersion), 1;
        if (!std::strcmp(a, "--port"))
            ok = NumberInto(v, 1, 65535, &o->port);
        else if (!std::strcmp(a, "--redis"))
            ok = v && Redis(v, o);
        else if (!std::strcmp(a, "--public-address"))
            ok = publicGiven = v && plat::ParseNetAddress(v, 0, &o->publicAddress);
        else if (!std::strcmp(a, "--max-rooms"))
            ok = NumberInto(v, 1, 1000000, &o->maxRooms);
        else if (!std::strcmp(a, "--max-relayed"))
            ok = NumberInto(v, 0, 1000000, &o->maxRelayed);
        else if (!std::strcmp(a, "--relay-ports"))
            ok = v && Ports(v, o);
        else if (!std::strcmp(a, "--rate"))
            ok = NumberInto(v, 1, 1000000, &o->messagesPerSecond);
        else if (!std::strcmp(a, "--status-seconds"))
            ok = NumberInto(v, 1, 86400, &o->statusSeconds);
        else {
            std::fprintf(stderr, "nuvel-server: unknown option %s\n", a);
            return Usage(stderr), 2;
        }
        if (!ok) {
            std::fprintf(stderr, "nuvel-server: %s needs %s\n", a, v ? "a valid value" : "a value");
            return 2;
        }
    }
    if (!o->redisHost.empty() && !publicGiven) {
        std::fprintf(stderr, "nuvel-server: --redis needs --public-address (how games reach this server)\n");
        return 2;
    }
    if (o->publicAddress.ip) o->publicAddress.port = o->port;
    return 0;
}

struct Sockets {
    int poller = -1, main = -1, probe = -1;
};

void Flush(const Sockets& s, CMatchServer& server) {
    if (!server.mainOut.empty()) plat::UdpSend(s.main, server.mainOut.data(), int(server.mainOut.size()));
    if (!server.probeOut.empty()) plat::UdpSend(s.probe, server.probeOut.data(), int(server.probeOut.size()));
    server.mainOut.clear();
    server.probeOut.clear();
}

// What the hosts send through the relay leaves the main port in one batch
// per wake; it is read straight into place.
constexpr int kToJoinersMax = 512;
struct ToJoiners {
    plat::UdpDatagram d[kToJoinersMax];
    int count = 0;
};

void SendToJoiners(const Sockets& s, ToJoiners& out) {
    if (out.count) plat::UdpSend(s.main, out.d, out.count);
    out.count = 0;
}

// Everything waiting on one pipe's port: passed on to the joining machine
// (kept in out), or the answer to a bind (sent from the pipe's port).
void FromPipe(const Sockets& s, CMatchServer& server, int pipe, uint64_t nowUs, ToJoiners& out) {
    if (pipe >= server.relay.PipeCount() || !server.relay.Pipe(pipe).used) return;
    if (out.count + kPipeBatch > kToJoinersMax) SendToJoiners(s, out);
    const int socket = server.relay.Pipe(pipe).socket;
    const int first = out.count;
    const int n = plat::UdpReceive(socket, out.d + first, kPipeBatch);
    for (int k = 0; k < n; k++) {
        plat::UdpDatagram& d = out.d[out.count];
        if (first + k != out.count) d = out.d[first + k];  // closes up behind one not kept
        plat::UdpDatagram also;
        bool alsoSet = false;
        const RelayRoute route = server.FromPipe(pipe, &d, nowUs, &also, &alsoSet);
        if (route == RELAY_FROM_PIPE) plat::UdpSendOne(socket, d.peer, d.data, d.size);
        if (alsoSet) server.mainOut.push_back(also);
        if (route == RELAY_FROM_MAIN) out.count++;
    }
}

// The main port: the protocol's messages, and what joining machines send
// through the relay, which leaves from its pipe's port.
void FromMain(const Sockets& s, CMatchServer& server, uint64_t nowUs) {
    static plat::UdpDatagram in[kBatch];
    const int n = plat::UdpReceive(s.main, in, kBatch);
    for (int i = 0; i < n; i++) {
        const int pipe = server.Receive(&in[i], nowUs);
        if (pipe >= 0) plat::UdpSend(server.relay.Pipe(pipe).socket, &in[i], 1);
    }
}

void Run(const Sockets& s, CMatchServer& server) {
    static ToJoiners toJoiners;
    static plat::UdpDatagram drain[kBatch];
    uint64_t tags[kBatch];
    uint64_t lastServiceUs = 0;
    while (!plat::StopRequested()) {
        const int ready = plat::UdpPollerWait(s.poller, int(kServiceEveryUs / 1000), tags, kBatch);
        const uint64_t nowUs = plat::MonotonicUs();
        for (int k = 0; k < ready; k++) {
            if (tags[k] == kMainTag)
                FromMain(s, server, nowUs);
            else if (tags[k] == kProbeTag)
                plat::UdpReceive(s.probe, drain, kBatch);  // nothing is expected here
            else
                FromPipe(s, server, int(tags[k] - kPipeTagBase), nowUs, toJoiners);
        }
        SendToJoiners(s, toJoiners);
        if (nowUs - lastServiceUs >= kServiceEveryUs) {
            lastServiceUs = nowUs;
            server.Service(nowUs);
        }
        Flush(s, server);
    }
}

}  // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    if (int r = ReadOptions(argc, argv, &options)) return r == 1 ? 0 : 2;
    plat::CatchStopSignals();
    plat::RaiseOpenFileLimit();  // a socket per relay pipe
    Sockets s;
    s.poller = plat::UdpPollerOpen();
    s.main = plat::UdpOpen(options.port);
    s.probe = plat::UdpOpen(0);
    if (s.poller < 0 || s.main < 0 || s.probe < 0) {
        std::fprintf(stderr, "nuvel-server: cannot open UDP port %u (is another server running?)\n",
                     unsigned(options.port));
        return 1;
    }
    // The main port takes what every relayed joining machine sends: a large
    // buffer rides out a moment in which the server does not run.
    const int buffer = plat::UdpSetBuffers(s.main, kMainBufferBytes);
    plat::UdpPollerAdd(s.poller, s.main, kMainTag);
    plat::UdpPollerAdd(s.poller, s.probe, kProbeTag);
    auto server = std::make_unique<CMatchServer>();
    std::string error;
    if (!server->Start(options, s.poller, kPipeTagBase, stdout, &error)) {
        std::fprintf(stderr, "nuvel-server: %s\n", error.c_str());
        return 1;
    }
    char ports[32] = "any";
    if (options.relayFirstPort)
        std::snprintf(ports, sizeof ports, "%u-%u", unsigned(options.relayFirstPort), unsigned(options.relayLastPort));
    ServerLog(stdout,
              "nuvel-server on UDP port %u (receive buffer %d KiB), relay ports %s, up to %d rooms and %d relayed; "
              "directory %s",
              unsigned(options.port), buffer / 1024, ports, options.maxRooms, options.maxRelayed,
              options.redisHost.empty() ? "in this process" : ("in Redis at " + options.redisHost).c_str());
    Run(s, *server);
    server->Stop();
    Flush(s, *server);
    ServerLog(stdout, "nuvel-server stops: %llu datagrams relayed", (unsigned long long)server->relay.stats.datagrams);
    plat::UdpClose(s.main);
    plat::UdpClose(s.probe);
    plat::UdpPollerClose(s.poller);
    return 0;
}
