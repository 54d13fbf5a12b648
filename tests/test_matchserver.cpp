// The match server: its protocol against hostile bytes, its rules driven
// message by message from made-up addresses (cookies, codes, limits, the
// relay's proven ends), and a game's side of it finding its way through
// modelled routers over a lossy network.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "net/rendezvous.h"
#include "net/serverlink.h"
#include "platform/net.h"
#include "server/matchserver.h"

namespace {

using plat::NetAddress;
constexpr NetAddress kServer{0xCB007002, kRvDefaultPort};
constexpr NetAddress kHost{0xCB00710B, 26471}, kJoiner{0xCB00710C, 40000}, kVictim{0xCB00714D, 5555};

std::vector<uint8_t> Encode(const RvMessage& m) {
    std::vector<uint8_t> bytes(kRvMessageMax);
    bytes.resize(EncodeRv(m, bytes.data(), bytes.size()));
    return bytes;
}

RvDecodeResult Decode(const std::vector<uint8_t>& bytes) {
    static RvMessage out;
    return DecodeRv(bytes.data(), bytes.size(), &out);
}

plat::UdpDatagram Datagram(const NetAddress& peer, const std::vector<uint8_t>& bytes) {
    plat::UdpDatagram d{};
    d.peer = peer;
    d.size = uint16_t(bytes.size());
    std::memcpy(d.data, bytes.data(), bytes.size());
    return d;
}

RvMessage Read(const plat::UdpDatagram& d) {
    RvMessage m;
    EXPECT_EQ(DecodeRv(d.data, d.size, &m), RV_DECODE_OK);
    return m;
}

std::vector<RvMessage> Everything() {
    std::vector<RvMessage> all;
    RvRoomInfo room{1, 4, 2, 7, 33};
    for (uint8_t type = RV_HELLO; type < RV_TYPE_END; type++) {
        RvMessage m = RvBlank(type);
        m.nonce = 0x1122334455667788, m.cookie = 99, m.stamp = 1234, m.address = kHost, m.room = room;
        m.rttMs = 40, m.joinId = 3, m.relayPort = 27001, m.relayToken = 0xABCDEF, m.answer = 77;
        std::strcpy(m.code, "K7QX3M");
        std::strcpy(m.name, "ALICE");
        if (type == RV_CONNECTED) m.value = RV_KIND_PUNCHED;
        if (type == RV_REFUSED) m.value = RV_NO_SUCH_MATCH;
        if (type == RV_CLOSING) m.value = RV_CLOSE_STOPPING;
        if (type == RV_LIST_PAGE) {
            m.total = 30, m.first = 20, m.count = 2;
            m.rooms[0] = RvListedRoom{"23456Z", room, "BOB"};
            m.rooms[1] = RvListedRoom{"ZZZZZZ", RvRoomInfo{1, 8, 0, 65535, 0}, "A NAME OF TWENTY-FOUR!!!"};
        }
        all.push_back(m);
    }
    return all;
}

TEST(MatchProtocol, EveryMessageReadsBackAsWrittenAndEveryShortenedOneIsRefused) {
    for (const RvMessage& m : Everything()) {
        std::vector<uint8_t> bytes = Encode(m);
        ASSERT_FALSE(bytes.empty()) << int(m.type);
        RvMessage back;
        ASSERT_EQ(DecodeRv(bytes.data(), bytes.size(), &back), RV_DECODE_OK) << int(m.type);
        EXPECT_EQ(Encode(back), bytes) << int(m.type);
        for (size_t n = 0; n < bytes.size(); n++)
            EXPECT_NE(Decode(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n))), RV_DECODE_OK) << n;
        bytes.push_back(0);
        EXPECT_EQ(Decode(bytes), RV_DECODE_MALFORMED) << int(m.type);
    }
    // Before a cookie the server answers only HELLO, with something no larger.
    EXPECT_LE(Encode(Everything()[RV_COOKIE - 1]).size(), Encode(Everything()[RV_HELLO - 1]).size());
    EXPECT_LT(Encode(Everything()[RV_CHALLENGE - 1]).size(), Encode(Everything()[RV_BIND - 1]).size());
}

TEST(MatchProtocol, LookAlikesHostileValuesAndTheTransportsOwnDatagramsAreRefused) {
    char code[kRvCodeLength + 1];
    EXPECT_TRUE(RvNormaliseCode("k7qx-3m", code));
    EXPECT_STREQ(code, "K7QX3M");
    for (const char* bad : {"K0QX3M", "KOQX3M", "K1QX3M", "KIQX3M", "KLQX3M", "K7QX3", "K7QX3MM", ""})
        EXPECT_FALSE(RvNormaliseCode(bad, code)) << bad;
    for (char c = '!'; c <= '~'; c++)
        EXPECT_EQ(RvCodeCharOk(c),
                  std::strchr("01OIL", c) == nullptr && ((c >= '2' && c <= '9') || (c >= 'A' && c <= 'Z')))
            << c;

    auto changed = [](uint8_t type, auto change) {
        RvMessage m = Everything()[type - 1];
        change(m);
        return m;
    };
    EXPECT_TRUE(Encode(changed(RV_JOIN, [](RvMessage& m) { m.code[2] = 'O'; })).empty());
    EXPECT_TRUE(Encode(changed(RV_HOST, [](RvMessage& m) { m.room.seatsFree = 5; })).empty());
    EXPECT_TRUE(Encode(changed(RV_JOINED, [](RvMessage& m) { m.relayToken = 0; })).empty());
    EXPECT_TRUE(Encode(changed(RV_LIST_PAGE, [](RvMessage& m) { m.total = 21; })).empty());
    EXPECT_TRUE(Encode(changed(RV_HOST, [](RvMessage& m) { m.name[1] = '\t'; })).empty());
    std::vector<uint8_t> join = Encode(Everything()[RV_JOIN - 1]);
    join[kRvHeaderBytes + 12] = 'o';  // the code's first character, in lower case
    EXPECT_EQ(Decode(join), RV_DECODE_MALFORMED);
    std::vector<uint8_t> hello = Encode(Everything()[RV_HELLO - 1]);
    hello.back() = 1;  // padding that is not zero
    EXPECT_EQ(Decode(hello), RV_DECODE_MALFORMED);
    std::vector<uint8_t> host = Encode(Everything()[RV_HOST - 1]);
    host[host.size() - 3] = 0;  // a NUL counted in the name's length
    EXPECT_EQ(Decode(host), RV_DECODE_MALFORMED);
    host[4] = RV_TYPE_END;
    EXPECT_EQ(Decode(host), RV_DECODE_MALFORMED);
    host[3] = kRvVersion + 1;
    EXPECT_EQ(Decode(host), RV_DECODE_VERSION);
    EXPECT_EQ(Decode(std::vector<uint8_t>(kRvMessageMax + 1, 0xFF)), RV_DECODE_OVERSIZED);
    // The transport's connect datagram starts with "no peer yet" and its
    // flags: never 0xFF 0xFF, so it is never taken for ours.
    const std::vector<uint8_t> transport = {0x8F, 0xFF, 0x12, 0x34, 0x82, 0xFF};
    EXPECT_FALSE(RvIsOurs(transport.data(), transport.size()));
    EXPECT_EQ(Decode(transport), RV_DECODE_FOREIGN);
}

// The transport's own socket: datagrams of the match server's protocol are
// taken aside and can be sent from it; the transport's own go on to it.
TEST(TransportSocket, TheProtocolsDatagramsAreTakenAsideAndTheRestLeftToTheTransport) {
    ASSERT_TRUE(plat::NetOpen());
    ASSERT_TRUE(plat::NetRawAttach());
    EXPECT_EQ(plat::NetLocalPort(), 0);  // a joining endpoint has its port from its first datagram
    const uint8_t nothing = 0;
    ASSERT_TRUE(plat::NetRawSend(NetAddress{0x7F000001, 9}, &nothing, 1));
    const NetAddress self{0x7F000001, plat::NetLocalPort()};
    ASSERT_NE(self.port, 0);
    const std::vector<uint8_t> ours = Encode(Everything()[RV_PUNCH - 1]);
    const std::vector<uint8_t> transports = {0x8F, 0xFF, 0x00, 0x01, 0x02};  // "no peer yet", then nonsense
    ASSERT_TRUE(plat::NetRawSend(self, transports.data(), transports.size()));
    ASSERT_TRUE(plat::NetRawSend(self, ours.data(), ours.size()));
    plat::NetRawDatagram got;
    bool arrived = false;
    for (int k = 0; k < 200 && !arrived; k++) {
        plat::NetEvent event;
        while (plat::NetPoll(&event)) {
        }
        arrived = plat::NetRawPoll(&got);
        if (!arrived) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(arrived);
    EXPECT_EQ(got.from, self);
    EXPECT_EQ(std::vector<uint8_t>(got.data, got.data + got.size), ours);
    EXPECT_FALSE(plat::NetRawPoll(&got));  // the transport's datagram was not taken
    plat::NetClose();
}

// ---- the server's rules, message by message ----

class MatchServerTest : public testing::Test {
protected:
    void SetUp() override { Start(8, 2); }
    void Start(int maxRooms, int maxRelayed) {
        server = std::make_unique<CMatchServer>();
        ServerOptions o;
        o.relayFirstPort = 0;  // pipes on any free port
        o.maxRooms = maxRooms;
        o.maxRelayed = maxRelayed;
        std::string error;
        ASSERT_TRUE(server->Start(o, -1, 0, nullptr, &error)) << error;
    }
    // Sends a message from an address; what the server sent (to anyone).
    std::vector<plat::UdpDatagram> Send(const NetAddress& from, const RvMessage& m) {
        server->mainOut.clear();
        plat::UdpDatagram d = Datagram(from, Encode(m));
        server->Receive(&d, nowUs);
        return server->mainOut;
    }
    // The one answer to from, decoded (type 0 when there is none).
    RvMessage Ask(const NetAddress& from, const RvMessage& m) {
        for (const plat::UdpDatagram& d : Send(from, m))
            if (d.peer == from) return Read(d);
        return RvBlank(0);
    }
    uint64_t Cookie(const NetAddress& from) {
        RvMessage hello = RvBlank(RV_HELLO);
        hello.nonce = 5;
        RvMessage answer = Ask(from, hello);
        EXPECT_EQ(answer.type, RV_COOKIE);
        EXPECT_EQ(answer.address, from);
        return answer.cookie;
    }
    RvMessage Request(uint8_t type, const NetAddress& from) {
        const uint64_t key = uint64_t(from.ip) << 16 | from.port;
        if (!cookies.count(key)) cookies[key] = Cookie(from);
        RvMessage m = RvBlank(type);
        m.cookie = cookies[key];
        m.stamp = 1;
        return m;
    }
    std::string Host(const NetAddress& host, bool isPublic) {
        RvMessage m = Request(RV_HOST, host);
        m.room = RvRoomInfo{uint8_t(isPublic), 4, 3, 0, 20};
        std::strcpy(m.name, "ALICE");
        RvMessage answer = Ask(host, m);
        EXPECT_EQ(answer.type, RV_ROOM);
        return answer.code;
    }
    RvMessage Join(const NetAddress& joiner, const std::string& code, uint8_t flags = 0) {
        RvMessage m = Request(RV_JOIN, joiner);
        std::snprintf(m.code, sizeof m.code, "%s", code.c_str());
        m.flags = flags;
        return Ask(joiner, m);
    }
    std::unique_ptr<CMatchServer> server;
    std::map<uint64_t, uint64_t> cookies;
    uint64_t nowUs = 100000000;
};

TEST_F(MatchServerTest, BeforeACookieNothingIsKeptAndNoAnswerIsLargerThanItsRequest) {
    std::mt19937 random(7);
    for (int k = 0; k < 3000; k++) {
        const NetAddress from{uint32_t(random()), uint16_t(random() | 1)};
        std::vector<uint8_t> bytes(1 + random() % 80);
        for (uint8_t& b : bytes) b = uint8_t(random());
        if (k % 3) std::memcpy(bytes.data(), Encode(Everything()[0]).data(), std::min<size_t>(bytes.size(), 4));
        if (k % 3 && bytes.size() > 4) bytes[4] = uint8_t(k % RV_TYPE_END);
        if (k % 5 == 0) bytes = Encode(Everything()[RV_HELLO - 1]);
        if (k % 7 == 0) bytes = Encode(Everything()[RV_JOIN - 1]);  // a made-up cookie
        server->mainOut.clear();
        plat::UdpDatagram d = Datagram(from, bytes);
        server->Receive(&d, nowUs);
        for (const plat::UdpDatagram& d : server->mainOut) {
            EXPECT_LE(d.size, bytes.size());
            EXPECT_EQ(d.peer, from);
            EXPECT_EQ(Read(d).type, RV_COOKIE);
        }
    }
    EXPECT_EQ(server->Machines(), 0);
    EXPECT_GT(server->stats.badCookie, 400u);
    // A cookie is good for its own address only.
    RvMessage alive = Request(RV_ALIVE, kHost);
    EXPECT_EQ(Ask(kJoiner, alive).type, 0);
    EXPECT_EQ(Ask(kHost, alive).type, RV_ACK);
    EXPECT_EQ(server->Machines(), 1);
}

TEST_F(MatchServerTest, AJoiningMachineAndTheHostAreIntroducedWithOnePipeAndOneNonce) {
    const std::string code = Host(kHost, false);
    ASSERT_EQ(code.size(), size_t(kRvCodeLength));
    for (char c : code) EXPECT_TRUE(RvCodeCharOk(c));
    EXPECT_EQ(Host(kHost, false), code);  // asked again: the same room

    RvMessage join = Request(RV_JOIN, kJoiner);
    std::strcpy(join.code, code.c_str());
    std::strcpy(join.name, "BOB");
    std::vector<plat::UdpDatagram> out = Send(kJoiner, join);
    ASSERT_EQ(out.size(), 2u);
    const RvMessage joined = Read(out[0]), intro = Read(out[1]);
    EXPECT_EQ(out[0].peer, kJoiner);
    EXPECT_EQ(out[1].peer, kHost);
    ASSERT_EQ(joined.type, RV_JOINED);
    ASSERT_EQ(intro.type, RV_INTRODUCE);
    EXPECT_EQ(joined.address, kHost);
    EXPECT_EQ(intro.address, kJoiner);
    EXPECT_STREQ(intro.name, "BOB");
    EXPECT_EQ(joined.joinId, intro.joinId);
    EXPECT_EQ(joined.nonce, intro.nonce);
    EXPECT_EQ(joined.relayPort, kRvDefaultPort);  // the joining machine's end is at the main port
    EXPECT_NE(intro.relayPort, 0);                // the host's at the pipe's own
    EXPECT_EQ(joined.relayToken, intro.relayToken);
    EXPECT_EQ(joined.value, 0);  // the probe has not come back
    // Asked again: the same join; the host is told again until the joining
    // machine says how it connected.
    EXPECT_EQ(Join(kJoiner, code).joinId, joined.joinId);
    server->mainOut.clear();
    nowUs += CMatchServer::kIntroduceEveryUs;
    server->Service(nowUs);
    ASSERT_EQ(server->mainOut.size(), 1u);
    EXPECT_EQ(Read(server->mainOut[0]).type, RV_INTRODUCE);
    RvMessage connected = Request(RV_CONNECTED, kJoiner);
    connected.joinId = joined.joinId;
    connected.value = RV_KIND_PUNCHED;
    EXPECT_EQ(Ask(kJoiner, connected).type, RV_ACK);
    EXPECT_EQ(server->relay.PipesOpen(), 0);  // punched: the pipe is not needed
    server->mainOut.clear();
    nowUs += CMatchServer::kIntroduceEveryUs;
    server->Service(nowUs);
    EXPECT_TRUE(server->mainOut.empty());

    // The probe: a host that answers it is reachable, and later joins say so.
    server->Service(nowUs);
    RvMessage reply = Request(RV_PROBE_REPLY, kHost);
    reply.nonce = server->RoomByCode(code.c_str())->probeNonce;
    Send(kHost, reply);
    EXPECT_EQ(Join(NetAddress{kJoiner.ip + 1, 1}, code).value, 1);
}

TEST_F(MatchServerTest, OnlyPublicRoomsAreListedAndWrongCodesAreLimitedPerAddressForAMinute) {
    const std::string open = Host(kHost, true);
    Host(NetAddress{kHost.ip + 1, 1}, false);
    RvMessage update = Request(RV_UPDATE, kHost);
    update.room = RvRoomInfo{1, 4, 1, 3, 25};
    EXPECT_EQ(Ask(kHost, update).type, RV_ACK);
    RvMessage page = Ask(kJoiner, Request(RV_LIST, kJoiner));
    ASSERT_EQ(page.type, RV_LIST_PAGE);
    ASSERT_EQ(page.total, 1);
    ASSERT_EQ(page.count, 1);
    EXPECT_STREQ(page.rooms[0].code, open.c_str());
    EXPECT_EQ(page.rooms[0].info, update.room);
    EXPECT_STREQ(page.rooms[0].name, "ALICE");

    std::string wrong = open;
    wrong[0] = wrong[0] == '2' ? '3' : '2';
    for (int k = 0; k < 10; k++) EXPECT_EQ(Join(kJoiner, wrong).value, RV_NO_SUCH_MATCH) << k;
    // The eleventh try is refused for the limit, even with the right code;
    // another address is not held back.
    EXPECT_EQ(Join(NetAddress{kJoiner.ip, 2}, open).value, RV_TOO_MANY_WRONG_CODES);
    EXPECT_EQ(Join(kVictim, open).type, RV_JOINED);
    nowUs += 61000000;
    EXPECT_EQ(Join(kJoiner, open).type, RV_JOINED);
    EXPECT_EQ(server->stats.wrongCodes, 10u);
}

TEST_F(MatchServerTest, AFloodFromOneAddressIsDroppedAndOthersAreStillAnswered) {
    RvMessage alive = Request(RV_ALIVE, kJoiner);
    int answered = 0;
    for (int k = 0; k < 400; k++) answered += Ask(kJoiner, alive).type == RV_ACK;
    EXPECT_EQ(answered, 99);  // the burst (the cookie's HELLO took one)
    // Other ports of the same machine share its rate.
    EXPECT_EQ(Ask(NetAddress{kJoiner.ip, 7}, Everything()[RV_HELLO - 1]).type, 0);
    EXPECT_EQ(server->stats.flood, 302u);
    EXPECT_EQ(Ask(kHost, Request(RV_ALIVE, kHost)).type, RV_ACK);
    nowUs += 2000000;  // the rate fills up again
    EXPECT_EQ(Ask(kJoiner, alive).type, RV_ACK);
}

TEST_F(MatchServerTest, APipePassesDatagramsOnlyBetweenItsJoiningMachineAndAProvenHost) {
    Join(kJoiner, Host(kHost, false));
    RvMessage intro = RvBlank(0);
    for (const plat::UdpDatagram& d : server->mainOut)
        if (d.peer == kHost) intro = Read(d);
    ASSERT_EQ(intro.type, RV_INTRODUCE);
    int pipe = -1;
    for (int k = 0; k < server->relay.PipeCount(); k++)
        if (server->relay.Pipe(k).used && server->relay.Pipe(k).port == intro.relayPort) pipe = k;
    ASSERT_GE(pipe, 0);
    plat::UdpDatagram also;
    bool alsoSet = false;
    RelayRoute route = RELAY_DROP;
    // Bytes to the pipe's port from an address: what goes out (size 0:
    // nothing), from where in route.
    auto toPipe = [&](const NetAddress& from, const std::vector<uint8_t>& bytes) {
        plat::UdpDatagram d = Datagram(from, bytes);
        route = server->FromPipe(pipe, &d, nowUs, &also, &alsoSet);
        if (route == RELAY_DROP) d.size = 0;
        return d;
    };
    // Bytes to the main port: passed on from the pipe's port, or not (size 0).
    auto toMain = [&](const NetAddress& from, const std::vector<uint8_t>& bytes) {
        plat::UdpDatagram d = Datagram(from, bytes);
        if (server->Receive(&d, nowUs) != pipe) d.size = 0;
        return d;
    };
    auto bind = [&](uint64_t token, uint64_t answer) {
        RvMessage m = RvBlank(RV_BIND);
        m.relayToken = token, m.answer = answer;
        return Encode(m);
    };
    const std::vector<uint8_t> data(60, 0x42);
    EXPECT_EQ(toMain(kJoiner, data).size, 0);                         // the host's end is not proven yet
    EXPECT_EQ(toPipe(kHost, data).size, 0);                           // nor is the host
    EXPECT_EQ(toPipe(kHost, bind(intro.relayToken + 1, 0)).size, 0);  // a guessed token
    // A bind in the victim's name with the right token: only a challenge,
    // smaller than the bind, and without its answer the victim is no end.
    plat::UdpDatagram challenge = toPipe(kVictim, bind(intro.relayToken, 0));
    EXPECT_EQ(route, RELAY_FROM_PIPE);
    EXPECT_EQ(challenge.peer, kVictim);
    EXPECT_LT(challenge.size, bind(1, 0).size());
    EXPECT_EQ(toPipe(kVictim, bind(intro.relayToken, Read(challenge).answer + 1)).size, 0);
    // An answer is good for its own address only.
    const uint64_t hostAnswer = Read(toPipe(kHost, bind(intro.relayToken, 0))).answer;
    EXPECT_EQ(toPipe(kJoiner, bind(intro.relayToken, hostAnswer)).size, 0);
    // The host proves its end; the joining machine hears it at once.
    EXPECT_EQ(Read(toPipe(kHost, bind(intro.relayToken, hostAnswer))).value, 1);
    ASSERT_TRUE(alsoSet);
    EXPECT_EQ(also.peer, kJoiner);
    EXPECT_EQ(Read(also).type, RV_BOUND);

    plat::UdpDatagram passed = toPipe(kHost, data);
    EXPECT_EQ(route, RELAY_FROM_MAIN);
    EXPECT_EQ(passed.peer, kJoiner);
    EXPECT_EQ(std::vector<uint8_t>(passed.data, passed.data + passed.size), data);
    EXPECT_EQ(toMain(kJoiner, data).peer, kHost);
    EXPECT_EQ(toPipe(kVictim, data).size, 0);
    EXPECT_EQ(toPipe(NetAddress{kHost.ip, uint16_t(kHost.port + 1)}, data).size, 0);
    EXPECT_EQ(toMain(kVictim, data).size, 0);  // not a joining machine: a malformed message
    // The room's byte budget: a burst far over it is cut, and it refills.
    const std::vector<uint8_t> big(1400, 1);
    int passedCount = 0;
    for (int k = 0; k < 1000; k++) passedCount += toPipe(kHost, big).size > 0;
    EXPECT_LT(passedCount, 300);
    EXPECT_GT(server->relay.stats.overBudget, 700u);
    nowUs += 1000000;
    EXPECT_GT(toMain(kJoiner, big).size, 0);
    EXPECT_EQ(server->relay.stats.outsiders, 3u);
    EXPECT_EQ(server->relay.stats.badTokens, 1u);
    EXPECT_EQ(server->relay.stats.badAnswers, 2u);
    EXPECT_EQ(server->relay.stats.early, 1u);
    // The joining machine leaves: its pipe goes with it.
    Send(kJoiner, Request(RV_BYE, kJoiner));
    EXPECT_EQ(server->relay.PipesOpen(), 0);
}

TEST_F(MatchServerTest, RoomsCloseWithTheirHostAndEverythingIsBounded) {
    Start(2, 1);
    const std::string first = Host(kHost, false);
    const NetAddress second{kHost.ip + 1, 9};
    const std::string other = Host(second, false);
    RvMessage full = Request(RV_HOST, kVictim);
    full.room = RvRoomInfo{0, 2, 1, 0, 0};
    EXPECT_EQ(Ask(kVictim, full).value, RV_SERVER_FULL);
    // One room may relay: the other's joins get no pipe, and a join that
    // needs one is refused.
    EXPECT_NE(Join(kJoiner, first).relayPort, 0);
    EXPECT_EQ(Join(NetAddress{kJoiner.ip + 1, 1}, other).relayPort, 0);
    EXPECT_EQ(Join(NetAddress{kJoiner.ip + 2, 1}, other, RV_JOIN_RELAY_ONLY).value, RV_RELAY_FULL);

    // The host leaves: its room, code and pipes go.
    Send(kHost, Request(RV_BYE, kHost));
    EXPECT_EQ(server->Rooms(), 1);
    EXPECT_EQ(server->relay.PipesOpen(), 0);
    EXPECT_EQ(Join(kVictim, first).value, RV_NO_SUCH_MATCH);
    // A host that falls silent is told, and its room goes too.
    nowUs += CMatchServer::kClientTimeoutUs + 2000000;
    server->mainOut.clear();
    server->Service(nowUs);
    EXPECT_EQ(server->Rooms(), 0);
    bool toldSecond = false;
    for (const plat::UdpDatagram& d : server->mainOut)
        toldSecond = toldSecond || (d.peer == second && Read(d).value == RV_CLOSE_TIMED_OUT);
    EXPECT_TRUE(toldSecond);
    // Stopping tells every machine still there.
    Host(kHost, true);
    Send(kJoiner, Request(RV_ALIVE, kJoiner));
    server->mainOut.clear();
    server->Stop();
    ASSERT_EQ(server->mainOut.size(), 2u);
    for (const plat::UdpDatagram& d : server->mainOut) EXPECT_EQ(Read(d).value, RV_CLOSE_STOPPING);
    EXPECT_EQ(server->Rooms(), 0);
}

// ---- a game's side, through modelled routers ----

// Machines behind routers: none (a public address), one that keeps the
// machine's port for every destination, or one that gives every destination
// a port of its own (symmetric). Either lets a datagram in only from where
// the machine has sent to. The network loses a share of every datagram; the
// server's main port and relay pipes are reached through the server object.
enum Router { PUBLIC, KEEPING, SYMMETRIC };

struct Machine {
    Router router;
    NetAddress inside, outside;          // outside.port is the next port a symmetric router hands out
    std::map<uint64_t, uint16_t> ports;  // destination -> the port the router uses towards it
    CServerLink link;
};

class ModelNetwork {
public:
    ModelNetwork(CMatchServer& server, int lossPercent) : m_server(server), m_loss(lossPercent) {}
    // Sends from a machine's socket; true when the datagram arrived at the
    // server or a machine, which then is *to (a machine index, or -1 for the
    // server) and saw it come from *seenFrom.
    void Send(Machine& from, const NetAddress& to, const uint8_t* bytes, size_t size, std::vector<Machine*>& all) {
        if (m_random() % 100 < unsigned(m_loss)) return;
        NetAddress source = from.inside;
        if (from.router != PUBLIC) {
            const uint64_t key = uint64_t(to.ip) << 16 | to.port;
            if (!from.ports.count(key))
                from.ports[key] = from.router == KEEPING ? from.inside.port : from.outside.port++;
            source = NetAddress{from.outside.ip, from.ports[key]};
        }
        plat::UdpDatagram d{};
        d.peer = source;
        d.size = uint16_t(size);
        std::memcpy(d.data, bytes, size);
        if (to == kServer) {
            const int pipe = m_server.Receive(&d, nowUs);
            if (pipe >= 0) pending.push_back({d, m_server.relay.Pipe(pipe).port});
            return;
        }
        for (int p = 0; p < m_server.relay.PipeCount(); p++) {
            if (!m_server.relay.Pipe(p).used || m_server.relay.Pipe(p).port != to.port || to.ip != kServer.ip) continue;
            plat::UdpDatagram also;
            bool alsoSet = false;
            const RelayRoute route = m_server.FromPipe(p, &d, nowUs, &also, &alsoSet);
            if (route != RELAY_DROP) pending.push_back({d, route == RELAY_FROM_PIPE ? to.port : kServer.port});
            if (alsoSet) pending.push_back({also, kServer.port});
            return;
        }
        for (Machine* m : all) Arrive(*m, NetAddress{source}, to, d);
    }
    // A datagram from (ip, port) "from" to a machine's outside address: let
    // in when the machine sent there before.
    void Arrive(Machine& m, const NetAddress& from, const NetAddress& to, const plat::UdpDatagram& d) {
        if (m.router == PUBLIC ? !(m.inside == to) : to.ip != m.outside.ip) return;
        if (m.router != PUBLIC) {
            auto it = m.ports.find(uint64_t(from.ip) << 16 | from.port);
            if (it == m.ports.end() || it->second != to.port) return;
        }
        if (RvIsOurs(d.data, d.size))
            m.link.Receive(from, d.data, d.size, uint32_t(nowUs / 1000));
        else
            transport.push_back({&m, from, d.data[0]});
    }
    // What the server and its pipes sent goes out (with the same loss).
    void Deliver(std::vector<Machine*>& all) {
        std::vector<std::pair<plat::UdpDatagram, uint16_t>> out;
        for (const plat::UdpDatagram& d : m_server.mainOut) out.push_back({d, kServer.port});
        for (const plat::UdpDatagram& d : m_server.probeOut) out.push_back({d, uint16_t(kServer.port + 1)});
        for (auto& p : pending) out.push_back(p);
        m_server.mainOut.clear(), m_server.probeOut.clear(), pending.clear();
        for (auto& [d, port] : out)
            if (m_random() % 100 >= unsigned(m_loss))
                for (Machine* m : all) Arrive(*m, NetAddress{kServer.ip, port}, d.peer, d);
    }
    struct TransportDatagram {
        Machine* to;
        NetAddress from;
        uint8_t what;  // 'C' an attempt, 'A' its answer
    };
    std::vector<TransportDatagram> transport;
    std::vector<std::pair<plat::UdpDatagram, uint16_t>> pending;
    uint64_t nowUs = 50000000;

private:
    CMatchServer& m_server;
    int m_loss;
    std::mt19937 m_random{11};
};

struct Outcome {
    uint8_t joinerKind, hostKind;
    std::string fail;
};

// A host and a joining machine behind their routers find each other; the
// transport "connects" when an attempt datagram and its answer both pass.
Outcome Connect(Router hostRouter, Router joinerRouter, int lossPercent, int maxRelayed = 4) {
    CMatchServer server;
    ServerOptions o;
    o.relayFirstPort = 0;
    o.maxRelayed = maxRelayed;
    o.maxRooms = 4;
    std::string error;
    EXPECT_TRUE(server.Start(o, -1, 0, nullptr, &error));
    ModelNetwork net(server, lossPercent);
    Machine host{hostRouter, {0xC0A80102, 26471}, {0xCB00710B, 30000}, {}, {}};
    Machine joiner{joinerRouter, {0xC0A80202, 41000}, {0xCB00710C, 50000}, {}, {}};
    if (hostRouter == PUBLIC) host.inside = NetAddress{0xCB007114, 26471};
    std::vector<Machine*> all = {&host, &joiner};
    auto now = [&] { return uint32_t(net.nowUs / 1000); };
    host.link.StartHost(kServer, "HOST", false, 4, 3, now());
    NetAddress target{}, hostSaw{};
    bool connected = false;
    for (int ms = 0; ms < 12000 && !connected; ms++, net.nowUs += 1000) {
        if (host.link.State() == LINK_HOSTING && joiner.link.State() == LINK_OFF)
            joiner.link.StartJoin(kServer, "JOINER", host.link.Code(), false, now());
        for (Machine* m : all) {
            m->link.Service(now());
            LinkDatagram d;
            while (m->link.TakeOutgoing(&d)) net.Send(*m, d.to, d.bytes, d.size, all);
        }
        uint8_t kind = 0;
        if (joiner.link.ConnectTarget(&target, &kind)) net.transport.clear();
        if (target.ip && ms % 50 == 0) {  // the transport's attempt, sent again and again
            const uint8_t attempt = 'C';
            net.Send(joiner, target, &attempt, 1, all);
        }
        server.Service(net.nowUs);
        net.Deliver(all);
        std::vector<ModelNetwork::TransportDatagram> arrived;
        arrived.swap(net.transport);
        for (const auto& t : arrived) {
            if (t.what == 'C' && t.to == &host) {
                hostSaw = t.from;
                const uint8_t answer = 'A';
                net.Send(host, t.from, &answer, 1, all);
            } else if (t.what == 'A' && t.to == &joiner) {
                connected = true;
            }
        }
        net.Deliver(all);
        for (const auto& t : net.transport) connected = connected || (t.what == 'A' && t.to == &joiner);
        if (joiner.link.State() == LINK_FAILED) return Outcome{0, 0, joiner.link.FailText()};
    }
    if (!connected) return Outcome{0, 0, "no connection"};
    joiner.link.TransportConnected(now());
    return Outcome{joiner.link.ConnectedKind(), host.link.KindOf(hostSaw), ""};
}

TEST(ServerLink, MachinesFindTheFirstPathThatWorksThroughEveryKindOfRouterDespiteLoss) {
    struct Case {
        Router host, joiner;
        uint8_t kind;
    };
    const Case cases[] = {{PUBLIC, KEEPING, RV_KIND_DIRECT},      {PUBLIC, SYMMETRIC, RV_KIND_DIRECT},
                          {KEEPING, KEEPING, RV_KIND_PUNCHED},    {KEEPING, PUBLIC, RV_KIND_PUNCHED},
                          {KEEPING, SYMMETRIC, RV_KIND_RELAYED},  {SYMMETRIC, KEEPING, RV_KIND_RELAYED},
                          {SYMMETRIC, SYMMETRIC, RV_KIND_RELAYED}};
    for (int loss : {0, 20}) {
        for (const Case& c : cases) {
            const Outcome out = Connect(c.host, c.joiner, loss);
            EXPECT_EQ(out.fail, "") << c.host << " " << c.joiner << " loss " << loss;
            EXPECT_STREQ(RvKindName(out.joinerKind), RvKindName(c.kind)) << c.host << " " << c.joiner << " " << loss;
            EXPECT_STREQ(RvKindName(out.hostKind), RvKindName(c.kind)) << c.host << " " << c.joiner << " " << loss;
        }
    }
    // Without a pipe to fall back on, a symmetric router leaves no way, and
    // the joining machine says why.
    EXPECT_EQ(Connect(KEEPING, SYMMETRIC, 0, 0).fail, RvRefusalText(RV_RELAY_FULL));
}

}  // namespace
