#include "server/matchserver.h"

#include <cstring>

#include "server/log.h"

namespace {

uint64_t Key(const plat::NetAddress& a) { return uint64_t(a.ip) << 16 | a.port; }

uint64_t RandomNonZero() {
    uint64_t v = 0;
    while (v == 0) plat::RandomBytes(&v, sizeof v);
    return v;
}

// Six characters drawn evenly from the alphabet (bytes past the last whole
// multiple of its size are drawn again).
void NewCode(char* code) {
    int n = 0;
    while (n < kRvCodeLength) {
        uint8_t bytes[16];
        plat::RandomBytes(bytes, sizeof bytes);
        for (uint8_t b : bytes)
            if (n < kRvCodeLength && b < 256 / kRvCodeAlphabetSize * kRvCodeAlphabetSize)
                code[n++] = kRvCodeAlphabet[b % kRvCodeAlphabetSize];
    }
    code[kRvCodeLength] = 0;
}

}  // namespace

bool CMatchServer::Start(const ServerOptions& options, int poller, uint64_t pipeTagBase, FILE* log,
                         std::string* error) {
    m_options = options;
    m_log = log;
    directory.log = log;
    uint64_t key[2];
    plat::RandomBytes(key, sizeof key);
    m_cookies.SetKey(key);
    plat::RandomBytes(key, sizeof key);
    m_limits.Configure(key, options.messagesPerSecond, options.wrongCodesPerMinute);
    plat::RandomBytes(key, sizeof key);
    relay.Configure(options.relayFirstPort, options.relayLastPort, options.maxRooms, key, poller, pipeTagBase);
    m_rooms.assign(size_t(options.maxRooms), ServerRoom{});
    m_freeRooms.clear();
    for (int k = options.maxRooms - 1; k >= 0; k--) m_freeRooms.push_back(k);
    const int machinesMax = options.maxRooms * kMachinesPerRoom + 256;
    m_clients.assign(size_t(machinesMax), ServerClient{});
    m_freeClients.clear();
    for (int k = machinesMax - 1; k >= 0; k--) m_freeClients.push_back(k);
    if (!options.redisHost.empty() &&
        !directory.UseRedis(options.redisHost.c_str(), options.redisPort, options.publicAddress)) {
        *error = "cannot reach Redis at " + options.redisHost + ":" + std::to_string(options.redisPort);
        return false;
    }
    return true;
}

std::string CMatchServer::Who(const plat::NetAddress& a) const {
    char text[plat::kNetAddressTextMax];
    plat::FormatNetAddress(a, text);
    return text;
}

const ServerRoom* CMatchServer::RoomByCode(const char* code) const {
    for (const ServerRoom& r : m_rooms)
        if (r.used && std::strcmp(r.code, code) == 0) return &r;
    return nullptr;
}

// ---- sending ----

void CMatchServer::Send(const ServerClient& to, const RvMessage& m) {
    plat::UdpDatagram d;
    d.peer = to.address;
    d.size = uint16_t(EncodeRv(m, d.data, sizeof d.data));
    if (d.size) mainOut.push_back(d);
}

// An answer to an address that has not proved itself is never larger than
// the request: nobody can make the server send more to a forged address
// than was sent in its name.
void CMatchServer::Reply(const plat::NetAddress& to, const RvMessage& m, size_t requestSize) {
    plat::UdpDatagram d;
    d.peer = to;
    d.size = uint16_t(EncodeRv(m, d.data, sizeof d.data));
    if (d.size == 0) return;
    if (!m_byAddress.count(Key(to)) && d.size > requestSize) {
        stats.held++;
        return;
    }
    mainOut.push_back(d);
}

// ---- machines ----

ServerClient* CMatchServer::Established(const plat::NetAddress& from, uint64_t cookie, uint64_t nowUs) {
    auto it = m_byAddress.find(Key(from));
    if (it != m_byAddress.end()) {
        ServerClient& c = m_clients[size_t(it->second)];
        if (c.cookie != cookie) return nullptr;
        c.lastHeardUs = nowUs;
        return &c;
    }
    if (!m_cookies.Check(from, 0, cookie, nowUs)) return nullptr;
    if (m_freeClients.empty()) {
        stats.machinesFull++;
        return nullptr;
    }
    const int index = m_freeClients.back();
    m_freeClients.pop_back();
    ServerClient& c = m_clients[size_t(index)];
    c = ServerClient{true, from, cookie, nowUs, -1, 0, false, 0, 0};
    m_byAddress[Key(from)] = index;
    return &c;
}

void CMatchServer::Forget(int client, uint8_t closing, const char* why) {
    ServerClient& c = m_clients[size_t(client)];
    if (!c.used) return;
    if (closing) {
        RvMessage m = RvBlank(RV_CLOSING);
        m.value = closing;
        Send(c, m);
    }
    if (c.host && RoomOf(c) >= 0) CloseRoom(c.room, why);
    if (!c.host && relay.PipeOfJoiner(c.address) >= 0) relay.Close(relay.PipeOfJoiner(c.address));
    m_byAddress.erase(Key(c.address));
    c.used = false;
    m_freeClients.push_back(client);
}

// ---- requests ----

int CMatchServer::Receive(plat::UdpDatagram* d, uint64_t nowUs) {
    // The relay's traffic first: a joining machine's transport, from the
    // address of its pipe.
    if (!RvIsOurs(d->data, d->size)) {
        const int pipe = relay.PipeOfJoiner(d->peer);
        if (pipe >= 0) return relay.FromJoiner(pipe, d, nowUs) ? Relayed(pipe) : -1;
    }
    Request(*d, nowUs);
    return -1;
}

int CMatchServer::Relayed(int pipe) {
    if (relay.FirstTraffic(pipe)) {
        const RelayPipe& p = relay.Pipe(pipe);
        ServerLog(m_log, "room %s: relaying for join %u through port %u", m_rooms[size_t(p.room)].code,
                  unsigned(p.joinId), unsigned(p.port));
    }
    return pipe;
}

void CMatchServer::Request(const plat::UdpDatagram& in, uint64_t nowUs) {
    stats.received++;
    if (!m_limits.AllowMessage(in.peer.ip, nowUs)) {
        stats.flood++;
        return;
    }
    RvMessage m;
    if (in.size == 0 || DecodeRv(in.data, in.size, &m) != RV_DECODE_OK || m.type > RV_BYE) {
        stats.malformed++;
        return;
    }
    if (m.type == RV_HELLO) {
        RvMessage cookie = RvBlank(RV_COOKIE);
        cookie.nonce = m.nonce;
        cookie.cookie = m_cookies.Make(in.peer, 0, nowUs);
        cookie.address = in.peer;
        return Reply(in.peer, cookie, in.size);
    }
    ServerClient* c = Established(in.peer, m.cookie, nowUs);
    if (!c) {
        stats.badCookie++;
        return;
    }
    RvMessage ack = RvBlank(RV_ACK);
    ack.stamp = m.stamp;
    switch (m.type) {
    case RV_HOST:
        return Host(*c, m, nowUs);
    case RV_UPDATE:
        if (c->host && RoomOf(*c) >= 0) {
            ServerRoom& r = m_rooms[size_t(c->room)];
            r.info = m.room;
            directory.Describe(r.code, r.info, r.name);
        }
        return Send(*c, ack);
    case RV_ALIVE:
        return Send(*c, ack);
    case RV_JOIN:
        return Join(*c, m, nowUs);
    case RV_CONNECTED:
        Connected(*c, m);
        return Send(*c, ack);
    case RV_LIST:
        return List(*c, m);
    case RV_PROBE_REPLY:
        if (c->host && RoomOf(*c) >= 0 && m.nonce == m_rooms[size_t(c->room)].probeNonce &&
            !m_rooms[size_t(c->room)].direct) {
            m_rooms[size_t(c->room)].direct = true;
            ServerLog(m_log, "room %s: the host is reachable directly", m_rooms[size_t(c->room)].code);
        }
        return;
    case RV_BYE:
        return Forget(ClientIndex(*c), 0, "the host left");
    default:
        return;
    }
}

void CMatchServer::Host(ServerClient& c, const RvMessage& m, uint64_t nowUs) {
    RvMessage answer = RvBlank(RV_ROOM);
    answer.stamp = m.stamp;
    if (c.host && RoomOf(c) >= 0) {  // asked again: the answer was lost
        std::memcpy(answer.code, m_rooms[size_t(c.room)].code, sizeof answer.code);
        return Send(c, answer);
    }
    if (m_freeRooms.empty()) {
        stats.roomsFull++;
        RvMessage refused = RvBlank(RV_REFUSED);
        refused.stamp = m.stamp;
        refused.value = RV_SERVER_FULL;
        return Send(c, refused);
    }
    const int index = m_freeRooms.back();
    ServerRoom& r = m_rooms[size_t(index)];
    r = ServerRoom{};
    bool claimed = false;
    for (int tries = 0; tries < 8 && !claimed; tries++) {
        NewCode(r.code);
        claimed = directory.Claim(r.code, index, nowUs);
    }
    if (!claimed) return;  // the code space is crowded: the host asks again
    m_freeRooms.pop_back();
    m_roomCount++;
    r.used = true;
    r.serial = m_nextSerial++;
    r.host = ClientIndex(c);
    r.info = m.room;
    std::memcpy(r.name, m.name, sizeof r.name);
    r.probeNonce = RandomNonZero();
    r.probeNextUs = nowUs;
    r.nextJoinId = 1;
    c.room = index;
    c.roomSerial = r.serial;
    c.host = true;
    m_timed.push_back({index, r.serial});
    directory.Describe(r.code, r.info, r.name);
    ServerLog(m_log, "room %s opened by %s (%s, %s)", r.code, Who(c.address).c_str(),
              r.info.isPublic ? "public" : "invite only", r.name);
    std::memcpy(answer.code, r.code, sizeof answer.code);
    Send(c, answer);
}

void CMatchServer::Join(ServerClient& c, const RvMessage& m, uint64_t nowUs) {
    RvMessage refused = RvBlank(RV_REFUSED);
    refused.stamp = m.stamp;
    // Asked again for the room it already joined: the answer was lost.
    if (!c.host && RoomOf(c) >= 0 && std::strcmp(m_rooms[size_t(c.room)].code, m.code) == 0)
        return Joined(c, c.room, m, nowUs);
    if (!m_limits.MayTryCode(c.address.ip, nowUs) ||
        (directory.Shared() && directory.SharedWrongCodes(c.address.ip) >= m_options.wrongCodesPerMinute)) {
        stats.codeLimited++;
        refused.value = RV_TOO_MANY_WRONG_CODES;
        return Send(c, refused);
    }
    plat::NetAddress elsewhere{};
    const int room = directory.Find(m.code, &elsewhere);
    if (room == CDirectory::kElsewhere) {
        RvMessage redirect = RvBlank(RV_REDIRECT);
        redirect.stamp = m.stamp;
        redirect.address = elsewhere;
        return Send(c, redirect);
    }
    if (room < 0 || (c.host && RoomOf(c) == room)) {
        stats.wrongCodes++;
        m_limits.CountWrongCode(c.address.ip, nowUs);
        directory.ChargeWrongCode(c.address.ip);
        refused.value = RV_NO_SUCH_MATCH;
        return Send(c, refused);
    }
    if (c.host && RoomOf(c) >= 0) CloseRoom(c.room, "the host joined another match");
    c.host = false;
    c.room = room;
    c.roomSerial = m_rooms[size_t(room)].serial;
    c.joinId = m_rooms[size_t(room)].nextJoinId++;
    c.punchNonce = RandomNonZero();
    Joined(c, room, m, nowUs);
}

// Tells the joining machine where the host is, and the host who comes; both
// get the same relay pipe (opened now, so that it is ready should the direct
// path and hole punching fail) and the same punch nonce.
void CMatchServer::Joined(ServerClient& c, int room, const RvMessage& request, uint64_t nowUs) {
    ServerRoom& r = m_rooms[size_t(room)];
    int pipe = relay.PipeOf(room, c.joinId);
    // A room that relays already may open more pipes; a new one only while
    // fewer rooms than the bound relay.
    if (pipe < 0 && (relay.RoomPipes(room) > 0 || relay.RoomsRelaying() < m_options.maxRelayed))
        pipe = relay.Open(room, c.joinId, c.address, nowUs);
    if (pipe < 0 && (request.flags & RV_JOIN_RELAY_ONLY)) {
        RvMessage refused = RvBlank(RV_REFUSED);
        refused.stamp = request.stamp;
        refused.value = RV_RELAY_FULL;
        return Send(c, refused);
    }
    RvMessage joined = RvBlank(RV_JOINED);
    joined.stamp = request.stamp;
    joined.joinId = c.joinId;
    joined.address = m_clients[size_t(r.host)].address;
    joined.value = r.direct;
    joined.nonce = c.punchNonce;
    // The joining machine's end of the pipe is where it talks to the server.
    if (pipe >= 0) joined.relayPort = m_options.port, joined.relayToken = relay.Pipe(pipe).token;
    Send(c, joined);

    Introduction in{c.joinId, c.address, c.punchNonce, pipe, {}, nowUs + kIntroduceForUs, nowUs};
    std::memcpy(in.name, request.name, sizeof in.name);
    for (int k = 0; k < r.introductionCount; k++)
        if (r.introductions[k].joinId == c.joinId) return Introduce(r, r.introductions[k]);
    if (r.introductionCount == ServerRoom::kIntroductionsMax) {  // the oldest gives way
        std::memmove(&r.introductions[0], &r.introductions[1], sizeof in * (ServerRoom::kIntroductionsMax - 1));
        r.introductionCount--;
    }
    r.introductions[r.introductionCount++] = in;
    Introduce(r, r.introductions[r.introductionCount - 1]);
    m_timed.push_back({room, r.serial});
}

void CMatchServer::Introduce(ServerRoom& r, const Introduction& in) {
    RvMessage m = RvBlank(RV_INTRODUCE);
    m.joinId = in.joinId;
    m.address = in.joiner;
    m.nonce = in.punchNonce;
    std::memcpy(m.name, in.name, sizeof m.name);
    const bool piped = in.pipe >= 0 && relay.Pipe(in.pipe).used && relay.Pipe(in.pipe).joinId == in.joinId &&
                       relay.Pipe(in.pipe).room == int(&r - m_rooms.data());
    if (piped) m.relayPort = relay.Pipe(in.pipe).port, m.relayToken = relay.Pipe(in.pipe).token;
    Send(m_clients[size_t(r.host)], m);
    // Told again too: the host proved its end of the pipe (the first word
    // of it may have been lost).
    if (piped && relay.Pipe(in.pipe).hostBound) {
        RvMessage ready = RvBlank(RV_BOUND);
        ready.value = 1;
        plat::UdpDatagram d;
        d.peer = in.joiner;
        d.size = uint16_t(EncodeRv(ready, d.data, sizeof d.data));
        mainOut.push_back(d);
    }
}

void CMatchServer::Connected(ServerClient& c, const RvMessage& m) {
    if (c.host || RoomOf(c) < 0 || m.joinId != c.joinId) return;
    ServerRoom& r = m_rooms[size_t(c.room)];
    for (int k = 0; k < r.introductionCount; k++)
        if (r.introductions[k].joinId == c.joinId) r.introductions[k].untilUs = 0;
    const int pipe = relay.PipeOf(c.room, c.joinId);
    if (m.value != RV_KIND_RELAYED && pipe >= 0) relay.Close(pipe);
    ServerLog(m_log, "room %s: %s joined, %s", r.code, Who(c.address).c_str(), RvKindName(m.value));
}

void CMatchServer::List(ServerClient& c, const RvMessage& m) {
    RvMessage page = RvBlank(RV_LIST_PAGE);
    page.stamp = m.stamp;
    page.first = m.first;
    int total = 0;
    page.count = uint8_t(directory.List(m.first, page.rooms, kRvListPageMax, &total));
    page.total = uint16_t(total > 0xFFFF ? 0xFFFF : total);
    if (page.first > page.total) page.first = page.total, page.count = 0;
    if (page.first + page.count > page.total) page.count = uint8_t(page.total - page.first);
    Send(c, page);
}

void CMatchServer::CloseRoom(int room, const char* why) {
    ServerRoom& r = m_rooms[size_t(room)];
    if (!r.used) return;
    ServerLog(m_log, "room %s closed (%s)", r.code, why);
    relay.CloseRoom(room);
    directory.Release(r.code);
    r.used = false;  // its machines see it gone by its serial
    m_freeRooms.push_back(room);
    m_roomCount--;
}

RelayRoute CMatchServer::FromPipe(int pipe, plat::UdpDatagram* d, uint64_t nowUs, plat::UdpDatagram* also,
                                  bool* alsoSet) {
    const RelayRoute route = relay.FromPipe(pipe, d, nowUs, also, alsoSet);
    if (route == RELAY_FROM_MAIN) Relayed(pipe);
    return route;
}

// ---- timers ----

// A room's probes of the host, and introductions told again.
void CMatchServer::Timers(ServerRoom& r, uint64_t nowUs) {
    if (!r.direct && r.probesSent < kProbes && nowUs >= r.probeNextUs) {
        RvMessage probe = RvBlank(RV_PROBE);
        probe.nonce = r.probeNonce;
        plat::UdpDatagram d;
        d.peer = m_clients[size_t(r.host)].address;
        d.size = uint16_t(EncodeRv(probe, d.data, sizeof d.data));
        probeOut.push_back(d);
        r.probesSent++;
        r.probeNextUs = nowUs + kProbeEveryUs;
    }
    for (int k = 0; k < r.introductionCount; k++) {
        Introduction& in = r.introductions[k];
        if (nowUs >= in.untilUs) {
            r.introductions[k--] = r.introductions[--r.introductionCount];
        } else if (nowUs >= in.nextUs) {
            in.nextUs = nowUs + kIntroduceEveryUs;
            Introduce(r, in);
        }
    }
}

void CMatchServer::Service(uint64_t nowUs) {
    // Only rooms with something still to send; one that has nothing more
    // (or closed) leaves the list.
    for (size_t k = 0; k < m_timed.size(); k++) {
        ServerRoom& r = m_rooms[size_t(m_timed[k].first)];
        if (r.used && r.serial == m_timed[k].second) Timers(r, nowUs);
        const bool pending = r.used && r.serial == m_timed[k].second &&
                             ((!r.direct && r.probesSent < kProbes) || r.introductionCount > 0);
        if (!pending) m_timed[k--] = m_timed.back(), m_timed.pop_back();
    }
    if (nowUs - m_lastSweepUs >= 1000000) {
        m_lastSweepUs = nowUs;
        for (size_t i = 0; i < m_clients.size(); i++) {
            ServerClient& c = m_clients[i];
            if (!c.used || nowUs - c.lastHeardUs <= kClientTimeoutUs) continue;
            // A joining machine whose transport still runs through its pipe is there.
            const int pipe = relay.PipeOfJoiner(c.address);
            if (pipe >= 0 && nowUs - relay.Pipe(pipe).lastTrafficUs <= kClientTimeoutUs) continue;
            Forget(int(i), RV_CLOSE_TIMED_OUT, "the host fell silent");
        }
        relay.Expire(nowUs, [&](int pipe) {
            const RelayPipe& p = relay.Pipe(pipe);
            if (p.relaying)
                ServerLog(m_log, "room %s: relay for join %u closed after %llu datagrams", m_rooms[size_t(p.room)].code,
                          unsigned(p.joinId), (unsigned long long)p.datagrams);
        });
    }
    directory.Service(nowUs);
    if (m_lastStatusUs == 0) m_lastStatusUs = nowUs;
    if (nowUs - m_lastStatusUs >= uint64_t(m_options.statusSeconds) * 1000000) Status(nowUs);
}

void CMatchServer::Status(uint64_t nowUs) {
    const double seconds = double(nowUs - m_lastStatusUs) / 1e6;
    const double rate = double(relay.stats.bytes - m_statusBytes) / (seconds > 0 ? seconds : 1);
    m_lastStatusUs = nowUs;
    m_statusBytes = relay.stats.bytes;
    const RelayStats& rs = relay.stats;
    ServerLog(m_log,
              "status: %d rooms, %d machines, %d rooms relaying through %d ports, %.0f relayed bytes/s; "
              "refused: %llu flood, %llu malformed, %llu bad cookie, %llu wrong codes, %llu over the code limit, "
              "%llu relay outsiders, %llu bad relay tokens, %llu bad relay answers, %llu over the relay budget, "
              "%llu relayed too early",
              m_roomCount, Machines(), relay.RoomsRelaying(), relay.PipesOpen(), rate, (unsigned long long)stats.flood,
              (unsigned long long)stats.malformed, (unsigned long long)stats.badCookie,
              (unsigned long long)stats.wrongCodes, (unsigned long long)stats.codeLimited,
              (unsigned long long)rs.outsiders, (unsigned long long)rs.badTokens, (unsigned long long)rs.badAnswers,
              (unsigned long long)rs.overBudget, (unsigned long long)rs.early);
}

void CMatchServer::Stop() {
    for (size_t i = 0; i < m_clients.size(); i++)
        if (m_clients[i].used) Forget(int(i), RV_CLOSE_STOPPING, "the server stops");
    for (size_t i = 0; i < m_rooms.size(); i++) CloseRoom(int(i), "the server stops");
}
