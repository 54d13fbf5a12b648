// The match server's decoder on arbitrary bytes: every input is refused with
// a reason or read whole, and what is read encodes back to the very same
// bytes. Each input is also a datagram for a running server (its main port
// and a relay pipe) and for a host's and a joining machine's side of it,
// which must take or refuse it without harm. The first byte picks the
// sender among a few machines the server knows; a request gets that
// machine's real cookie written in, so that the fuzzer reaches past the
// cookie check.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "net/rendezvous.h"
#include "net/serverlink.h"
#include "server/matchserver.h"

namespace {

constexpr plat::NetAddress kServer{0xCB007002, kRvDefaultPort};
// Two machines made known to the server here, the host's and the joining
// machine's sides, and the server's own address.
constexpr int kSenders = 5, kHostSide = 2, kJoinerSide = 3, kFromServer = 4;
const plat::NetAddress kSenders_[kSenders] = {
    {0xCB00710B, 26471}, {0xCB00710C, 40000}, {0xCB00710D, 26471}, {0xCB00710E, 40001}, kServer};

struct World {
    CMatchServer server;
    uint64_t cookies[kSenders] = {};
    uint64_t nowUs = 1000000000, keptUs = 0;
    CServerLink host, joiner;
};
World* g_world = nullptr;

RvMessage g_read;
uint8_t g_written[kRvMessageMax];

plat::UdpDatagram Datagram(const plat::NetAddress& from, const uint8_t* bytes, size_t size) {
    plat::UdpDatagram d;
    d.peer = from;
    d.size = uint16_t(size);
    std::memcpy(d.data, bytes, size);
    return d;
}

void Receive(World& w, plat::UdpDatagram d) { w.server.Receive(&d, w.nowUs); }

// The two sides and the server exchange what they sent; the rest is dropped.
void Route(World& w) {
    const uint32_t nowMs = uint32_t(w.nowUs / 1000);
    LinkDatagram out;
    while (w.host.TakeOutgoing(&out))
        if (out.to == kServer) Receive(w, Datagram(kSenders_[kHostSide], out.bytes, out.size));
    while (w.joiner.TakeOutgoing(&out))
        if (out.to == kServer) Receive(w, Datagram(kSenders_[kJoinerSide], out.bytes, out.size));
    for (const plat::UdpDatagram& d : w.server.mainOut) {
        if (d.size == 0 || d.size > kRvMessageMax) std::abort();
        if (d.peer == kSenders_[kHostSide]) w.host.Receive(kServer, d.data, d.size, nowMs);
        if (d.peer == kSenders_[kJoinerSide]) w.joiner.Receive(kServer, d.data, d.size, nowMs);
    }
    for (const plat::UdpDatagram& d : w.server.probeOut)
        if (d.peer == kSenders_[kHostSide]) w.host.Receive(plat::NetAddress{kServer.ip, 1}, d.data, d.size, nowMs);
    w.server.mainOut.clear();
    w.server.probeOut.clear();
}

// Sides that failed or ended start again (the joining one once there is a code).
void Restart(World& w) {
    const uint32_t nowMs = uint32_t(w.nowUs / 1000);
    if (w.host.State() == LINK_FAILED || w.host.State() == LINK_OFF)
        w.host.StartHost(kServer, "HOST", true, 4, 3, nowMs);
    if ((w.joiner.State() == LINK_FAILED || w.joiner.State() == LINK_OFF) && w.host.Code()[0])
        w.joiner.StartJoin(kServer, "JOINER", w.host.Code(), false, nowMs);
}

// The answer of the server to a message from a sender (type 0: none).
RvMessage Ask(World& w, int sender, const RvMessage& m) {
    uint8_t bytes[kRvMessageMax];
    w.server.mainOut.clear();
    Receive(w, Datagram(kSenders_[sender], bytes, EncodeRv(m, bytes, sizeof bytes)));
    RvMessage answer = RvBlank(0);
    for (const plat::UdpDatagram& d : w.server.mainOut)
        if (d.peer == kSenders_[sender] && DecodeRv(d.data, d.size, &answer) == RV_DECODE_OK) break;
    w.server.mainOut.clear();
    return answer;
}

// The senders stay known to the server (or become known again with a fresh
// cookie when an input made the server forget them), so that inputs with
// their cookie keep reaching past the check.
void KeepKnown(World& w) {
    if (w.nowUs - w.keptUs < 5000000) return;
    w.keptUs = w.nowUs;
    for (int k = 0; k < kFromServer; k++) {
        RvMessage alive = RvBlank(RV_ALIVE);
        alive.cookie = w.cookies[k];
        if (Ask(w, k, alive).type == RV_ACK) continue;
        w.cookies[k] = Ask(w, k, RvBlank(RV_HELLO)).cookie;
    }
}

// A server with a room: sender 0 hosts it, sender 1 has joined it.
World* Start() {
    World* w = new World;
    ServerOptions o;
    o.maxRooms = 4;
    o.maxRelayed = 2;
    o.relayFirstPort = 0;
    o.messagesPerSecond = 1000000;
    std::string error;
    if (!w->server.Start(o, -1, 0, nullptr, &error)) std::abort();
    for (int k = 0; k < kFromServer; k++) w->cookies[k] = Ask(*w, k, RvBlank(RV_HELLO)).cookie;
    RvMessage host = RvBlank(RV_HOST);
    host.cookie = w->cookies[0];
    host.room = RvRoomInfo{1, 4, 3, 0, 0};
    RvMessage join = RvBlank(RV_JOIN);
    join.cookie = w->cookies[1];
    std::memcpy(join.code, Ask(*w, 0, host).code, sizeof join.code);
    if (Ask(*w, 1, join).type != RV_JOINED) std::abort();
    for (int k = 0; k < 50; k++, w->nowUs += 10000) Restart(*w), Route(*w);
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const RvDecodeResult result = DecodeRv(data + 1, size - 1, &g_read);
    if (result == RV_DECODE_OK) {
        const size_t written = EncodeRv(g_read, g_written, sizeof g_written);
        if (written != size - 1 || std::memcmp(g_written, data + 1, size - 1) != 0) std::abort();
    } else if (!RvDecodeText(result)[0]) {
        std::abort();
    }
    if (!g_world) g_world = Start();
    World& w = *g_world;
    const int sender = data[0] % kSenders;
    const plat::NetAddress from = kSenders_[sender];
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
    std::memcpy(bytes.get(), data + 1, size - 1);
    if (data[0] & 0x80 && size - 1 >= kRvHeaderBytes + 8)
        for (int k = 0; k < 8; k++) bytes[kRvHeaderBytes + k] = uint8_t(w.cookies[sender] >> (8 * k));
    w.nowUs += 10000;
    if (size - 1 <= plat::kUdpDatagramMax && sender != kFromServer) {
        Receive(w, Datagram(from, bytes.get(), size - 1));
        for (int pipe = 0; pipe < w.server.relay.PipeCount(); pipe++) {
            if (!w.server.relay.Pipe(pipe).used) continue;
            plat::UdpDatagram d = Datagram(from, bytes.get(), size - 1), also;
            bool alsoSet = false;
            w.server.FromPipe(pipe, &d, w.nowUs, &also, &alsoSet);
        }
    }
    const uint32_t nowMs = uint32_t(w.nowUs / 1000);
    w.host.Receive(from, bytes.get(), size - 1, nowMs);
    w.joiner.Receive(from, bytes.get(), size - 1, nowMs);
    w.server.Service(w.nowUs);
    w.host.Service(nowMs);
    w.joiner.Service(nowMs);
    Route(w);
    Restart(w);
    Route(w);
    KeepKnown(w);
    return 0;
}
