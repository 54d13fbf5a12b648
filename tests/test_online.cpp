// Online play: the message decoder against hostile bytes, and the lockstep
// session between a host and joining machines over a hand-driven network
// (every message held until the test lets it through, so loss, delay,
// duplication and reordering are exact).
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

#include "core/app.h"
#include "match/netproto.h"
#include "match/onlineround.h"
#include "match/round.h"
#include "match/session.h"
#include "screens/standings.h"

namespace {

std::vector<uint8_t> Encode(const NetMessage& m) {
    std::vector<uint8_t> bytes(kNetMessageMax);
    bytes.resize(EncodeNetMessage(m, bytes.data(), bytes.size()));
    return bytes;
}

NetMessage Blank(uint8_t type) {
    NetMessage m;
    std::memset(&m, 0, sizeof m);
    m.type = type;
    return m;
}

NetMessage FramesMessage() {
    NetMessage m = Blank(NET_FRAMES);
    m.roundId = 3;
    m.frame = 10;
    m.finalFrame = 40;
    m.sequence = 7;
    m.eventCount = 3;
    m.events[0] = {12, NEV_TICK, 0, 0};
    m.events[1] = {12, NEV_PRESS, 2, SEAT_LEFT | SEAT_ITEM};
    m.events[2] = {40, NEV_WAIT, 0, 95};
    return m;
}

NetDecodeResult Decode(const std::vector<uint8_t>& bytes) {
    static NetMessage out;
    return DecodeNetMessage(bytes.data(), bytes.size(), &out);
}

TEST(NetProtocol, EveryMessageReadsBackAsWrittenAndEveryShortenedOneIsRefused) {
    NetMessage hello = Blank(NET_HELLO);
    hello.seatsWanted = 2;
    hello.dataDigests[DATA_SOUNDS] = 0xCAFE;
    std::strcpy(hello.version, kGameVersion);
    std::strcpy(hello.name, "ALICE");
    NetMessage start = Blank(NET_ROUND_START);
    start.start.roundId = 9;
    start.start.stageCount = 5;
    start.start.selectedStage = 2;
    std::strcpy(start.start.stageFile, "meadow.png");
    start.start.settingCount = 3;
    start.start.settings[1] = -7;
    start.start.seatTypes[3] = PLAYER_HARD;
    start.start.delayFrames = 40;
    NetMessage lobby = Blank(NET_LOBBY);
    lobby.seatHolders[0] = 0, lobby.seatHolders[1] = 1, lobby.seatHolders[2] = kNoHolder, lobby.seatHolders[3] = 2;
    lobby.machineCount = 2;
    lobby.machines[1] = NetMachineInfo{3, 81, 2, "BOB"};
    for (const NetMessage& m : {hello, start, lobby, FramesMessage()}) {
        std::vector<uint8_t> bytes = Encode(m);
        ASSERT_FALSE(bytes.empty()) << int(m.type);
        NetMessage back;
        ASSERT_EQ(DecodeNetMessage(bytes.data(), bytes.size(), &back), NET_DECODE_OK);
        EXPECT_EQ(Encode(back), bytes);
        for (size_t n = 0; n < bytes.size(); n++)
            EXPECT_NE(Decode(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n))), NET_DECODE_OK) << n;
        bytes.push_back(0);
        EXPECT_EQ(Decode(bytes), NET_DECODE_MALFORMED);
    }
}

TEST(NetProtocol, HostileValuesAreRefused) {
    std::vector<uint8_t> good = Encode(FramesMessage());
    auto with = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> b = good;
        b[at] = value;
        return Decode(b);
    };
    EXPECT_EQ(with(0, 'X'), NET_DECODE_FOREIGN);
    EXPECT_EQ(with(1, kNetProtocolVersion + 1), NET_DECODE_VERSION);
    EXPECT_EQ(with(2, NET_TYPE_END), NET_DECODE_MALFORMED);
    // The event count is at byte 19, the first event (frame, kind, seat, value) at 21.
    const size_t event = 3 + 18;
    EXPECT_EQ(with(event + 5, kPlayers), NET_DECODE_MALFORMED);      // seat 4
    EXPECT_EQ(with(event + 4, NEV_KIND_END), NET_DECODE_MALFORMED);  // unknown kind
    EXPECT_EQ(with(event + 3, 0x80), NET_DECODE_MALFORMED);          // negative frame
    EXPECT_EQ(with(event, 9), NET_DECODE_MALFORMED);                 // not after "from" (10)
    EXPECT_EQ(with(3 + 18, 200), NET_DECODE_MALFORMED);              // more events than a message holds
    std::vector<uint8_t> huge(kNetMessageMax + 1, 0);
    EXPECT_EQ(Decode(huge), NET_DECODE_OVERSIZED);

    NetMessage input = Blank(NET_INPUT);
    input.eventCount = 1;
    input.events[0] = {5, NEV_PRESS, 1, SEAT_LEFT};
    std::vector<uint8_t> bytes = Encode(input);
    ASSERT_EQ(Decode(bytes), NET_DECODE_OK);
    bytes[3 + 14 + 4] = NEV_TAKEOVER;  // only the host makes those
    EXPECT_EQ(Decode(bytes), NET_DECODE_MALFORMED);
    input.events[0].kind = NEV_TAKEOVER;
    EXPECT_TRUE(Encode(input).empty());  // the encoder refuses it as well
}

TEST(NetProtocol, StageNamesAndTextsMustBePlain) {
    for (const char* bad : {"../option.txt", "/etc/passwd", "a/b.png", "a\\b.png", "..", ".hidden", "c:x.png", ""})
        EXPECT_FALSE(NetPlainFileName(bad)) << bad;
    EXPECT_TRUE(NetPlainFileName("Meadow 2.png"));
    NetMessage start = Blank(NET_ROUND_START);
    start.start.stageCount = 1;
    start.start.delayFrames = 1;
    std::strcpy(start.start.stageFile, "../../secret");
    EXPECT_TRUE(Encode(start).size() > 0);
    EXPECT_EQ(Decode(Encode(start)), NET_DECODE_MALFORMED);
    NetMessage hello = Blank(NET_HELLO);
    std::strcpy(hello.name, "A\x1b[2J");  // control bytes in a name
    EXPECT_TRUE(Encode(hello).empty());
    std::vector<uint8_t> bytes = Encode(Blank(NET_HELLO));
    bytes.back() = 1;  // the name's length
    bytes.push_back(0x07);
    EXPECT_EQ(Decode(bytes), NET_DECODE_MALFORMED);
    bytes.back() = 0;  // a NUL counted in the length would cut the name short unseen
    EXPECT_EQ(Decode(bytes), NET_DECODE_MALFORMED);
}

// ---- sessions --------------------------------------------------------------------------

struct Wire {
    int from, to;
    std::vector<uint8_t> bytes;
    bool reliable;
};

// A host (machine 0) and joining machines 1..n; messages wait in a queue.
class Net {
public:
    explicit Net(int clients) : clients(clients) {
        host.StartHost("HOST");
        for (uint32_t& digest : host.dataDigests) digest = 0xD1;
        host.seatKinds[0] = SEAT_LOCAL;
        for (int s = 1; s < kPlayers; s++) host.seatKinds[s] = s <= clients ? SEAT_REMOTE : SEAT_HARD;
        for (int k = 1; k <= clients; k++) Join(k, false);
        Run();
    }
    void Join(int k, bool watch) {
        const uint32_t digests[kNetDataParts] = {0xD1, 0xD1, 0xD1, 0xD1};
        machines[k].StartClient("GUEST", watch, 1, digests);
        host.Connected(k, nowMs);
        machines[k].Connected(0, nowMs);
    }
    CSession& At(int k) { return k == 0 ? host : machines[k]; }
    void Collect() {
        OutMessage out;
        for (int k = 0; k <= clients; k++)
            while (At(k).TakeOutgoing(&out))
                queue.push_back(Wire{k, k == 0 ? out.machine : 0, {out.bytes, out.bytes + out.size}, out.reliable});
    }
    void DeliverAll() {
        Collect();
        while (!queue.empty()) {
            Wire w = queue.front();
            queue.pop_front();
            if (w.from == cut || w.to == cut) continue;
            At(w.to).Receive(w.to == 0 ? w.from : 0, w.bytes.data(), w.bytes.size(), nowMs);
            Collect();
        }
    }
    void Run(int ms = 1) {
        for (int t = 0; t < ms; t++) {
            nowMs++;
            for (int k = 0; k <= clients; k++) At(k).Service(nowMs);
            DeliverAll();
        }
    }
    void StartRound() {
        NetRoundStart start{};
        start.stageCount = 1;
        host.BeginRound(&start, 2400, nowMs);
        DeliverAll();
        for (int k = 1; k <= clients; k++) {
            ASSERT_TRUE(machines[k].RoundStarting());
            NetRoundStart s = machines[k].StartRecord();
            machines[k].BeginRound(&s, 2400, nowMs);
        }
    }
    // Runs frame n on machine k as the round does: begin, then the events.
    uint8_t Frame(int k, int32_t n, uint8_t* takeovers = nullptr) {
        uint8_t t = 0;
        bool pause = false;
        At(k).BeginFrame(n, &t, &pause, nowMs);
        if (takeovers) *takeovers = t;
        uint8_t all = 0;
        for (int s = 0; s < kPlayers; s++) all |= At(k).TakePresses(n, s) ? uint8_t(1 << s) : 0;
        return all;
    }
    int clients;
    int cut = -1;  // a machine whose messages are all lost
    CSession host;
    CSession machines[4];
    std::deque<Wire> queue;
    uint32_t nowMs = 1000;
};

TEST(Session, JoiningMachinesTakeFreeRemoteSeatsAndWrongVersionsOrDataAreRefusedByName) {
    Net net(2);
    EXPECT_EQ(net.machines[1].SeatBits(), 0b0010);
    EXPECT_EQ(net.machines[2].SeatBits(), 0b0100);
    EXPECT_EQ(net.host.seatHolders[1], 1);

    CSession stranger;
    const uint32_t digests[kNetDataParts] = {0xD1, 0xBAD, 0xD1, 0xBAD};  // other pictures and music
    stranger.StartClient("EVE", false, 1, digests);
    net.host.Connected(3, net.nowMs);
    stranger.Connected(0, net.nowMs);
    OutMessage out;
    ASSERT_TRUE(stranger.TakeOutgoing(&out));
    net.host.Receive(3, out.bytes, out.size, net.nowMs);
    EXPECT_EQ(net.host.TakeClosing(), 3);
    while (net.host.TakeOutgoing(&out) && out.machine != 3) {
    }
    stranger.Receive(0, out.bytes, out.size, net.nowMs);
    EXPECT_NE(std::strstr(stranger.RefusalText(), "data sets differ: this machine's pictures, music are not"), nullptr)
        << stranger.RefusalText();
    EXPECT_EQ(net.host.seatHolders[3], kNoHolder);  // no seat for it
}

TEST(Session, PressesActAtTheirStampedFrameOnEveryMachineAndLateOnesAreMovedNeverLost) {
    Net net(2);
    net.StartRound();
    const int delay = net.host.DelayFrames();
    // Machine 1 presses at its frame 1; the host at its frame 1 too.
    net.machines[1].QueuePress(1, 1, SEAT_LEFT);
    net.host.QueuePress(1, 0, SEAT_RIGHT);
    net.DeliverAll();
    std::vector<uint8_t> seen[3];
    for (int32_t n = 1; n <= delay + 2; n++) {
        net.Frame(0, n);
        net.Run(kSessionSendIntervalMs);
        for (int k = 0; k < 3; k++) {
            ASSERT_TRUE(net.At(k).FrameReady(n)) << k << " " << n;
            if (k) net.Frame(k, n);
            seen[k].push_back(k ? net.At(k).TakePresses(n, 0) | net.At(k).TakePresses(n, 1) << 2
                                : net.host.TakePresses(n, 0) | net.host.TakePresses(n, 1) << 2);
        }
    }
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(seen[0], seen[2]);
    EXPECT_EQ(seen[0][size_t(delay)], SEAT_RIGHT | SEAT_LEFT << 2);  // both at frame 1 + delay

    // A press whose frame is final already comes at the first open frame;
    // two presses of a seat for one frame act in two frames.
    const int32_t now = net.host.FinalFrame();
    net.machines[1].QueuePress(now - delay - 5, 1, SEAT_ITEM);
    net.machines[1].QueuePress(now - delay - 5, 1, SEAT_LEFT);
    net.DeliverAll();
    for (int32_t n = delay + 3; n <= now + 3; n++) net.Frame(0, n);
    EXPECT_EQ(net.host.TakePresses(now + 1, 1), 0);  // the frame has moved on by now
    EXPECT_EQ(net.host.stats.latePresses, 2u);
}

TEST(Session, AMachineStallsWithoutTheHostsEventsAndOldOrRepeatedMessagesNeverChangeAFrame) {
    Net net(1);
    net.StartRound();
    CSession& guest = net.machines[1];
    const int32_t lead = net.host.LeadFrames();
    // The host runs ahead while nothing reaches the guest.
    std::vector<Wire> held;
    for (int32_t n = 1; n <= 50; n++) {
        net.Frame(0, n);
        if (n == 20) net.host.QueueTick(n);
        net.nowMs += 3;
        net.host.Service(net.nowMs);
        net.Collect();
        for (Wire& w : net.queue) held.push_back(w);
        net.queue.clear();
    }
    net.nowMs += kSessionSendIntervalMs;
    net.host.Service(net.nowMs);
    net.Collect();
    for (Wire& w : net.queue) held.push_back(w);
    net.queue.clear();
    EXPECT_FALSE(guest.FrameReady(lead + 1));  // stalls: never runs a frame it does not have
    // Newest first, each twice: the stream only grows from its end.
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        for (int twice = 0; twice < 2; twice++) guest.Receive(0, it->bytes.data(), it->bytes.size(), net.nowMs);
    for (const Wire& w : held) guest.Receive(0, w.bytes.data(), w.bytes.size(), net.nowMs);
    EXPECT_EQ(guest.FinalFrame(), net.host.FinalFrame());
    const int32_t tickFrame = 20 + net.host.DelayFrames();
    for (int32_t n = 1; n <= guest.FinalFrame(); n++) {
        net.Frame(1, n);
        EXPECT_EQ(guest.TakeTick(n), n == tickFrame) << n;
    }
}

TEST(Session, ADroppedMachinesSeatBecomesAComputerFromAFrameNoMachineHasRun) {
    Net net(2);
    net.StartRound();
    int32_t hostFrame = 0, guestFrame = 0;
    for (int t = 0; t < 30; t++) {
        net.Frame(0, ++hostFrame);
        net.Run(3);
        while (net.machines[2].FrameReady(guestFrame + 1)) net.Frame(2, ++guestFrame);
    }
    const int32_t finalWhenDropped = net.host.FinalFrame();
    ASSERT_LE(guestFrame, finalWhenDropped);
    // Machine 1 falls silent: the host notices within the drop time-out.
    net.cut = 1;
    for (int t = 0; t < int(kSessionDropTimeoutMs) + 5; t++) {
        net.nowMs++;
        net.host.Service(net.nowMs);
        net.machines[2].Service(net.nowMs);
        net.DeliverAll();
    }
    EXPECT_EQ(net.host.TakeClosing(), 1);
    EXPECT_EQ(net.host.seatHolders[1], kNoHolder);
    int32_t takeoverHost = -1, takeoverGuest = -1;
    for (int t = 0; t < 200; t++) {
        uint8_t seats = 0;
        net.Frame(0, ++hostFrame, &seats);
        if (seats) {
            takeoverHost = hostFrame;
            EXPECT_EQ(seats, 0b0010);
        }
        net.Run(3);
        while (net.machines[2].FrameReady(guestFrame + 1)) {
            net.Frame(2, ++guestFrame, &seats);
            if (seats) takeoverGuest = guestFrame;
        }
    }
    EXPECT_GT(takeoverHost, finalWhenDropped);
    EXPECT_EQ(takeoverHost, takeoverGuest);
}

TEST(Session, DifferingDigestsStopTheRoundEverywhereNamingTheFrame) {
    Net net(2);
    net.StartRound();
    net.host.RecordDigest(300, 0xAAAA);
    net.machines[1].RecordDigest(300, 0xAAAA);
    net.machines[2].RecordDigest(300, 0xAAAA);
    net.DeliverAll();
    EXPECT_FALSE(net.host.Stopped());
    net.machines[1].RecordDigest(720, 0xBBBB);  // the machine may be ahead of the host
    net.DeliverAll();
    net.host.RecordDigest(720, 0xCCCC);
    net.DeliverAll();
    for (int k = 0; k < 3; k++) {
        EXPECT_TRUE(net.At(k).Stopped()) << k;
        EXPECT_EQ(net.At(k).StopWhy(), STOP_DESYNC);
        EXPECT_EQ(net.At(k).StopFrame(), 720);
        EXPECT_NE(std::strstr(net.At(k).StopText(), "frame 720"), nullptr) << net.At(k).StopText();
    }
}

TEST(Session, PressesForAnotherMachinesSeatCloseThatMachineAndTheOthersGoOn) {
    Net net(2);
    net.StartRound();
    NetMessage forged = Blank(NET_INPUT);
    forged.roundId = net.host.StartRecord().roundId;
    forged.sequence = 1;
    forged.eventCount = 1;
    forged.events[0] = {5, NEV_PRESS, 2, SEAT_LEFT};  // seat 2 belongs to machine 2
    std::vector<uint8_t> bytes = Encode(forged);
    net.host.Receive(1, bytes.data(), bytes.size(), net.nowMs);
    EXPECT_EQ(net.host.TakeClosing(), 1);
    std::vector<uint8_t> junk = {'T', kNetProtocolVersion, NET_INPUT, 1};
    net.host.Receive(2, junk.data(), junk.size(), net.nowMs);
    EXPECT_EQ(net.host.TakeClosing(), 2);
    EXPECT_FALSE(net.host.Stopped());
    for (int32_t n = 1; n <= 10; n++) net.Frame(0, n);
    EXPECT_TRUE(net.host.FrameReady(11));
}

TEST(Session, ASpectatorHoldsNoSeatAndFollowsFromTheNextRound) {
    Net net(1);
    net.StartRound();
    net.clients = 2;
    net.Join(2, true);
    net.Run(5);
    EXPECT_EQ(net.machines[2].SeatBits(), 0);
    EXPECT_FALSE(net.machines[2].RoundStarting());  // the running round is not its
    net.StartRound();
    net.Run(20);
    EXPECT_TRUE(net.machines[2].FrameReady(1));
    net.machines[2].QueuePress(1, 1, SEAT_LEFT);  // not its seat: nothing is sent
    net.DeliverAll();
    EXPECT_EQ(net.host.TakeClosing(), -1);
}

TEST(Session, DelayCoversTheRoundTripAtTheFrameLength) {
    uint16_t delay = 1, lead = 1;
    CSession::DelayFor(150, 10, 2400, &delay, &lead);
    EXPECT_GE(delay * 2400, 150 * 1000 + lead * 2400);
    EXPECT_LT(delay * 2400, 260 * 1000);
}

// A machine that asks for two seats gets them only where the host allows
// several; otherwise the first free remote seat, as any machine.
TEST(Session, AMachineTakesSeveralSeatsOnlyWhereTheHostAllowsIt) {
    for (bool allow : {false, true}) {
        Net net(0);
        net.host.allowSeveralSeats = allow;
        for (int s = 1; s < kPlayers; s++) net.host.seatKinds[s] = SEAT_REMOTE;
        net.clients = 1;
        const uint32_t digests[kNetDataParts] = {0xD1, 0xD1, 0xD1, 0xD1};
        net.machines[1].StartClient("DUO", false, 2, digests);
        net.host.Connected(1, net.nowMs);
        net.machines[1].Connected(0, net.nowMs);
        net.Run(5);
        EXPECT_EQ(net.machines[1].SeatBits(), allow ? 0b0110 : 0b0010) << allow;
        EXPECT_EQ(net.host.seatHolders[3], kNoHolder);
    }
}

// The final standings of a match of MATCH_ROUNDS rounds open on every machine
// when the host's open, ignore a joining machine's keys and close everywhere
// with the host's Return.
TEST(Session, FinalStandingsFollowTheHost) {
    Net net(1);
    SetOnlineMenuSession(&net.host);
    EXPECT_TRUE(theFinalStandings.HandleKeys());
    net.DeliverAll();
    NetMessage m;
    ASSERT_TRUE(net.machines[1].PeekMenu(&m));
    EXPECT_EQ(m.screen, SCREEN_STANDINGS);

    SetOnlineMenuSession(&net.machines[1]);
    theApp.keyState[plat::VK_RETURN] = 1;
    EXPECT_TRUE(theFinalStandings.HandleKeys());  // open, and the joining machine cannot close it
    EXPECT_EQ(theApp.keyState[plat::VK_RETURN], 0);

    SetOnlineMenuSession(&net.host);
    theApp.keyState[plat::VK_RETURN] = 1;
    EXPECT_FALSE(theFinalStandings.HandleKeys());
    net.DeliverAll();
    SetOnlineMenuSession(&net.machines[1]);
    EXPECT_FALSE(theFinalStandings.HandleKeys());
    SetOnlineMenuSession(nullptr);
}

// Beside each seat the screens show its kind: online a person's seat by
// the name of the machine that holds it (the host's own seat by the host's
// name) on every machine, a computer's by its strength; in local play a
// person is "MAN".
TEST(Session, SeatsShowTheMachinesThatHoldThem) {
    Net net(1);
    net.host.seatKinds[3] = SEAT_MASTER;
    net.host.SendLobby();
    net.DeliverAll();
    int8_t saved[kPlayers];
    for (int s = 0; s < kPlayers; s++) {
        saved[s] = theRound.players[s].type;
        theRound.players[s].type = SeatPlayerType(net.host.seatKinds[s], net.host.seatHolders[s] != kNoHolder);
    }
    char label[kNetNameMax + 1];
    for (int k = 0; k <= 1; k++) {
        SCOPED_TRACE(k == 0 ? "host" : "joining machine");
        SetOnlineMenuSession(&net.At(k));
        const char* const expected[kPlayers] = {"HOST", "GUEST", "HARD", "MSTR"};
        for (int s = 0; s < kPlayers; s++) {
            SeatLabel(s, label, sizeof label);
            EXPECT_STREQ(label, expected[s]);
        }
    }
    SetOnlineMenuSession(nullptr);
    SeatLabel(0, label, sizeof label);
    EXPECT_STREQ(label, "MAN");
    theRound.players[2].type = PLAYER_NORMAL;
    SeatLabel(2, label, sizeof label);
    EXPECT_STREQ(label, "NORM");
    for (int s = 0; s < kPlayers; s++) theRound.players[s].type = saved[s];
}

}  // namespace
