// Online play: the message decoder against hostile bytes, and the lockstep
// session between a host and joining machines over a hand-driven network
// (every message held until the test lets it through, so loss, delay,
// duplication and reordering are exact).
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "core/app.h"
#include "match/round.h"
#include "net/netproto.h"
#include "net/session.h"
#include "online/onlineround.h"
#include "screens/online.h"
#include "screens/pausemenu.h"
#include "screens/standings.h"
#include "tests/testutil.h"

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

// The online screens draw their texts in capitals: every character must
// have a glyph in the font (or be a space, wide or narrow).
bool Drawable(const char* text) {
    for (const char* c = text; *c; c++)
        if (*c != ' ' && *c != '_' && !CApp::HasGlyph(char(std::toupper(static_cast<unsigned char>(*c))))) return false;
    return true;
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
        machines[k].machineKey = 100 + uint32_t(k);
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
            if (w.from == cut || w.to == cut || w.to > clients) continue;
            if (!w.reliable && lossPercent && int(losses() % 100) < lossPercent) continue;
            if (w.to == stalled) {  // waits in its socket
                held.push_back(w);
                continue;
            }
            At(w.to).Receive(w.to == 0 ? w.from : 0, w.bytes.data(), w.bytes.size(), nowMs);
            Collect();
        }
    }
    void Run(int ms = 1) {
        for (int t = 0; t < ms; t++) {
            nowMs++;
            for (int k = 0; k <= clients; k++)
                if (k != stalled) At(k).Service(nowMs);
            DeliverAll();
        }
    }
    // The stalled machine runs again and finds what waited for it.
    void Resume() {
        stalled = -1;
        queue.insert(queue.begin(), held.begin(), held.end());
        held.clear();
        DeliverAll();
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
    // Machine k's inputs as its own session would not send them, straight to the host.
    void ForgedInputs(int k, uint32_t sequence, std::initializer_list<NetEvent> events) {
        NetMessage input = Blank(NET_INPUT);
        input.roundId = host.StartRecord().roundId;
        input.sequence = sequence;
        for (const NetEvent& e : events) input.events[input.eventCount++] = e;
        std::vector<uint8_t> bytes = Encode(input);
        host.Receive(k, bytes.data(), bytes.size(), nowMs);
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
    int cut = -1;         // a machine whose messages are all lost
    int lossPercent = 0;  // the share of unreliable messages lost
    std::minstd_rand losses{7};
    int stalled = -1;  // a machine that neither runs nor reads; what comes for it waits
    std::deque<Wire> held;
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
    const uint32_t hostPictures[] = {7, 8, 9};
    net.host.SetDataFiles(DATA_PICTURES, hostPictures, 3);
    stranger.StartClient("EVE", false, 1, digests);
    net.host.Connected(3, net.nowMs);
    stranger.Connected(0, net.nowMs);
    OutMessage out;
    ASSERT_TRUE(stranger.TakeOutgoing(&out));
    net.host.Receive(3, out.bytes, out.size, net.nowMs);
    EXPECT_EQ(net.host.TakeClosing(), 3);
    while (net.host.TakeOutgoing(&out))
        if (out.machine == 3) stranger.Receive(0, out.bytes, out.size, net.nowMs);
    EXPECT_STREQ(stranger.RefusalText(),
                 "The data sets differ: this machine has other pictures and music than the host.");
    EXPECT_TRUE(Drawable(stranger.RefusalText()));
    int count = 0;  // the host's files of the part, for the refused machine to name the one that differs
    const uint32_t* files = stranger.DataFiles(DATA_PICTURES, &count);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(std::vector<uint32_t>(files, files + 3), std::vector<uint32_t>(hostPictures, hostPictures + 3));
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
    for (int t = 0; t < int(kSessionSilenceMaxMs) + 5; t++) {
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

// Only the host's state is the reference: a machine whose digest disagrees
// with it stops alone, keeps both digests of that frame for its note, and is
// let go; its seat plays on as a computer on every other machine. A watching
// machine sends no digests, and one that does is let go.
TEST(Session, AMachineThatPartsFromTheHostStopsAloneAndTheMatchGoesOn) {
    Net net(2);
    net.StartRound();
    for (int k = 0; k < 3; k++) net.At(k).RecordDigest(300, 0xAAAA);
    net.DeliverAll();
    net.machines[1].RecordDigest(720, 0xBBBB);  // a machine may be ahead of the host
    net.machines[2].RecordDigest(720, 0xCCCC);
    net.DeliverAll();
    net.host.RecordDigest(720, 0xCCCC);
    net.DeliverAll();
    EXPECT_FALSE(net.host.Stopped());
    EXPECT_FALSE(net.machines[2].Stopped());
    CSession& parted = net.machines[1];
    ASSERT_TRUE(parted.Stopped());
    EXPECT_EQ(parted.StopWhy(), STOP_DESYNC);
    EXPECT_EQ(parted.StopFrame(), 720);
    EXPECT_TRUE(parted.HostLost());
    EXPECT_TRUE(Drawable(parted.StopText())) << parted.StopText();
    char note[400];
    parted.StopNote(note, sizeof note);
    EXPECT_NE(std::strstr(note, "at frame 720: this machine 0000BBBB, the host 0000CCCC."), nullptr) << note;
    EXPECT_EQ(net.host.TakeClosing(), 1);

    int32_t takeoverHost = -1, takeoverGuest = -1;
    for (int32_t n = 1; n <= 60; n++) {
        uint8_t seats = 0;
        net.Frame(0, n, &seats);
        if (seats) {
            takeoverHost = n;
            EXPECT_EQ(seats, 0b0010);
        }
        net.Run(3);
        ASSERT_TRUE(net.machines[2].FrameReady(n));
        net.Frame(2, n, &seats);
        if (seats) takeoverGuest = n;
    }
    EXPECT_GT(takeoverHost, 0);
    EXPECT_EQ(takeoverHost, takeoverGuest);

    net.clients = 3;
    net.Join(3, true);
    net.Run(5);
    net.machines[3].RecordDigest(720, 0xCCCC);  // not in the round: sends nothing
    net.DeliverAll();
    EXPECT_EQ(net.host.TakeClosing(), -1);
    NetMessage digest = Blank(NET_DIGEST);
    digest.roundId = net.host.StartRecord().roundId;
    digest.frame = 720;
    digest.digest = 0xCCCC;
    std::vector<uint8_t> bytes = Encode(digest);
    net.host.Receive(3, bytes.data(), bytes.size(), net.nowMs);
    EXPECT_EQ(net.host.TakeClosing(), 3);
    EXPECT_FALSE(net.host.Stopped());
}

TEST(Session, PressesForAnotherMachinesSeatCloseThatMachineAndTheOthersGoOn) {
    Net net(2);
    net.StartRound();
    net.ForgedInputs(1, 1, {{5, NEV_PRESS, 2, SEAT_LEFT}});  // seat 2 belongs to machine 2
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

// The transport may take a connection as made on the joining machine before
// the host does, and drops what comes before that. The hello is repeated
// until the host answers, and silence counts only from the welcome: a join
// gives up at the lobby's own limit, never at the first lost packet.
TEST(Session, AJoinSurvivesLostHellosAndSilenceCountsFromTheWelcome) {
    Net net(0);
    net.host.seatKinds[1] = SEAT_REMOTE;
    net.clients = 1;
    const uint32_t digests[kNetDataParts] = {0xD1, 0xD1, 0xD1, 0xD1};
    CSession& guest = net.machines[1];
    guest.StartClient("LATE", false, 1, digests);
    guest.Connected(0, net.nowMs);
    net.cut = 1;  // the host has not taken the connection yet: all is lost
    net.Run(2000);
    EXPECT_FALSE(guest.HostLost());
    EXPECT_FALSE(guest.Welcomed());
    net.cut = -1;
    net.host.Connected(1, net.nowMs);
    net.Run(kSessionHelloResendMs + 5);
    ASSERT_TRUE(guest.Welcomed());
    EXPECT_EQ(guest.SeatBits(), 0b0010);
    net.Run(3000);  // and the link holds
    EXPECT_FALSE(guest.HostLost());
    EXPECT_EQ(net.host.TakeClosing(), -1);
}

// Connections that never say hello take no place: each has 3 s to say it,
// whatever else it sends, and at most kNetGreetingMax wait at once (the one
// that waited longest goes when another comes). A machine that says hello
// gets its place meanwhile; the places are counted apart.
TEST(Session, ConnectionsThatNeverSayHelloAreClosedAndHoldNoPlace) {
    Net net(0);
    net.host.seatKinds[1] = SEAT_REMOTE;
    const std::vector<uint8_t> ping = Encode(Blank(NET_PING));
    for (int k = 5; k <= 10; k++) net.host.Connected(k, net.nowMs++);
    EXPECT_EQ(net.host.TakeClosing(), 5);
    EXPECT_EQ(net.host.TakeClosing(), 6);
    EXPECT_EQ(net.host.TakeClosing(), -1);
    net.clients = 1;
    net.Join(1, false);  // the oldest greeting connection makes way
    EXPECT_EQ(net.host.TakeClosing(), 7);
    net.Run(5);
    EXPECT_TRUE(net.machines[1].Welcomed());
    for (uint32_t t = 0; t < kSessionHelloLimitMs; t += 300) {
        for (int k = 8; k <= 10; k++) net.host.Receive(k, ping.data(), ping.size(), net.nowMs);
        net.Run(300);
    }
    for (int k = 8; k <= 10; k++) EXPECT_EQ(net.host.TakeClosing(), k);
    EXPECT_EQ(net.host.MachineCount(), 2);

    NetMessage hello = Blank(NET_HELLO);
    std::strcpy(hello.version, kGameVersion);
    for (uint32_t& d : hello.dataDigests) d = 0xD1;
    const std::vector<uint8_t> bytes = Encode(hello);
    for (int k = 2; k < kNetMachinesMax; k++) {
        net.host.Connected(k, net.nowMs);
        net.host.Receive(k, bytes.data(), bytes.size(), net.nowMs);
    }
    EXPECT_EQ(net.host.MachineCount(), kNetMachinesMax);
    EXPECT_EQ(net.host.TakeClosing(), -1);
    net.host.Connected(kNetMachinesMax, net.nowMs);
    net.host.Receive(kNetMachinesMax, bytes.data(), bytes.size(), net.nowMs);
    EXPECT_EQ(net.host.TakeClosing(), kNetMachinesMax);  // the match is full
}

// A joining machine that stops for longer than its link's silence limit is
// let go by the host and, once it runs again, is told why: its round stops
// (keeping its replay) instead of waiting for frames that never come. One
// that stops for less goes on. Should the host's word be lost, the machine
// knows from its own stall.
TEST(Session, AMachineThatStallsIsToldWhyAndItsRoundStops) {
    for (int lost = 0; lost < 2; lost++)
        for (int stallMs : {500, 1500, 3000}) {
            Net net(2);
            net.StartRound();
            for (int32_t n = 1; n <= 20; n++) {
                for (int k = 0; k < 3; k++) net.Frame(k, n);
                net.Run(3);
            }
            CSession& guest = net.machines[1];
            net.stalled = 1;
            net.Run(stallMs);
            if (lost) net.held.clear();
            net.Resume();
            net.Run(kSessionSilenceMaxMs + 10);
            const bool dropped = stallMs > int(kSessionSilenceMinMs);
            EXPECT_EQ(net.host.Link(1).present, !dropped) << stallMs;
            EXPECT_EQ(guest.Stopped(), dropped) << stallMs << " " << lost;
            EXPECT_FALSE(net.machines[2].Stopped());
            if (!dropped) continue;
            EXPECT_EQ(guest.StopWhy(), STOP_LET_GO);
            EXPECT_NE(std::strstr(guest.StopText(), "This machine stopped answering for "), nullptr)
                << guest.StopText();
            EXPECT_NE(std::strstr(guest.StopText(), "s and was dropped."), nullptr) << guest.StopText();
            EXPECT_TRUE(Drawable(guest.StopText())) << guest.StopText();
            char notice[kNetTextMax + 1];
            ASSERT_TRUE(net.host.TakeNotice(notice, sizeof notice));
            EXPECT_STREQ(notice, "GUEST stopped answering and was dropped.");
        }
}

// The silence limit holds a slow lossy link (300 ms round trip, 20% lost
// each way: 13 keep-alives in a row would have to be lost) and still lets a
// machine really gone be noticed within 3 s.
TEST(Session, TheSilenceLimitFollowsTheLinksRoundTripAndLoss) {
    MachineLink link{};
    link.srttMs = 20, link.rttVarMs = 2;
    EXPECT_EQ(CSession::SilenceLimitMs(link), kSessionSilenceMinMs);
    link.srttMs = 300, link.rttVarMs = 20, link.lossPermille = 360;
    EXPECT_GE(CSession::SilenceLimitMs(link), 300 + 13 * kSessionPingIntervalMs);
    link.srttMs = 600, link.lossPermille = 98;
    EXPECT_GT(CSession::SilenceLimitMs(link), 600 + 6 * kSessionPingIntervalMs);
    link.srttMs = 2000, link.lossPermille = 900;
    EXPECT_EQ(CSession::SilenceLimitMs(link), kSessionSilenceMaxMs);
}

// A machine that falls silent is noticed at the limit its link had while it
// talked: the pings it no longer answers are no loss figure (counted as loss,
// they stretched the limit while the machine was already gone), whatever the
// phase of the loss window when it went.
TEST(Session, AMachineGoneIsNoticedAtTheLimitItsLinkHadWhileItTalked) {
    for (int phaseMs = 0; phaseMs < 2000; phaseMs += 250) {
        Net net(1);
        net.lossPercent = 20;  // 36% of the pings go unanswered: the limit is well above its least
        net.Run(5000 + phaseMs);
        const uint32_t limitMs = CSession::SilenceLimitMs(net.host.Link(1));
        net.cut = 1;
        int silentMs = 0;
        while (net.host.TakeClosing() != 1 && silentMs < 5000) net.Run(1), silentMs++;
        EXPECT_LE(uint32_t(silentMs), limitMs + 2) << "cut " << phaseMs << " ms into the match";
    }
}

// A joining player leaves: the host is told by name, and a computer plays
// the seat. The host removes a machine: it is told why, and is refused when
// it comes back. A joining machine's pause requests count once per 10 s.
// The host leaving tells every machine.
TEST(Session, LeavingRemovingAndPauseRequests) {
    Net net(2);
    net.StartRound();
    net.ForgedInputs(1, 1, {{5, NEV_PAUSE, 1, 0}, {6, NEV_PAUSE, 1, 0}});
    net.nowMs += kSessionPauseIntervalMs;
    net.ForgedInputs(1, 3, {{7, NEV_PAUSE, 1, 0}});
    int pauses = 0;
    for (int32_t n = 1; n <= 40; n++) {
        bool pause = false;
        uint8_t seats = 0;
        net.host.BeginFrame(n, &seats, &pause, net.nowMs);
        pauses += pause;
    }
    EXPECT_EQ(pauses, 2);
    EXPECT_EQ(net.host.TakeClosing(), -1);

    net.machines[2].Leave();
    net.DeliverAll();
    char notice[kNetTextMax + 1];
    ASSERT_TRUE(net.host.TakeNotice(notice, sizeof notice));
    EXPECT_STREQ(notice, "GUEST has left the match.");
    EXPECT_EQ(net.host.seatHolders[2], kNoHolder);
    EXPECT_EQ(net.host.TakeClosing(), 2);  // its connection goes too
    EXPECT_TRUE(net.machines[2].HostLost());

    net.host.Remove(1);
    net.DeliverAll();
    EXPECT_EQ(net.host.TakeClosing(), 1);
    EXPECT_TRUE(net.machines[1].Stopped());
    EXPECT_STREQ(net.machines[1].EndText(), "The host removed this machine from the match.");
    net.Join(1, false);  // the same machine (its key) comes back
    net.Run(5);
    EXPECT_FALSE(net.machines[1].Welcomed());
    EXPECT_TRUE(Drawable(net.machines[1].RefusalText())) << net.machines[1].RefusalText();
    EXPECT_NE(std::strstr(net.machines[1].RefusalText(), "It cannot join again."), nullptr)
        << net.machines[1].RefusalText();

    Net closing(1);  // the host's player leaves: every machine is told
    closing.host.Leave();
    closing.DeliverAll();
    EXPECT_STREQ(closing.machines[1].EndText(), "The host has left the match.");
    EXPECT_EQ(closing.machines[1].EndWhy(), STOP_HOST_LEFT);
}

// Escape in a round asks the host for the pause menu, where a joining player
// can leave. Where no request would count (a watching machine holds no seat;
// a player asked within the interval) Escape asks about leaving at once
// rather than doing nothing.
TEST(Session, EscapeInARoundAlwaysLetsAJoiningPlayerLeave) {
    Net net(1);
    net.clients = 2;
    net.Join(2, true);
    net.Run(5);
    net.StartRound();
    EXPECT_FALSE(OnlineEscapeOffersLeaving(net.host, net.nowMs));
    EXPECT_FALSE(OnlineEscapeOffersLeaving(net.machines[1], net.nowMs));
    EXPECT_TRUE(OnlineEscapeOffersLeaving(net.machines[2], net.nowMs));
    net.machines[1].QueuePause(3, 1);
    net.Run(100);
    EXPECT_TRUE(OnlineEscapeOffersLeaving(net.machines[1], net.nowMs));
    net.Run(kSessionPauseIntervalMs);
    EXPECT_FALSE(OnlineEscapeOffersLeaving(net.machines[1], net.nowMs));
}

// The pause menu online: a joining machine shows the host's WAIT as the host
// changes it and keeps showing it, and says how to leave; the host's menu
// offers to remove a joined machine, and Return on that row removes it.
TEST(Session, ThePauseMenuFollowsTheHostsWaitAndOffersLeavingAndRemoving) {
    Net net(1);
    theRound.state.wait = 80;
    SetOnlineMenuSession(&net.host);
    net.host.SendMenu(SCREEN_PAUSE, PAUSE_WAIT, 95 * 2);
    net.DeliverAll();
    SetOnlineMenuSession(&net.machines[1]);
    CPauseMenu guest;
    guest.AdjustWait(0);
    EXPECT_EQ(guest.rows, 5);
    EXPECT_STREQ(guest.entries[PAUSE_ONLINE], "ESC: LEAVE THE MATCH");
    for (int frame = 0; frame < 3; frame++) {
        EXPECT_TRUE(guest.HandleKeys());
        EXPECT_STREQ(guest.entries[PAUSE_WAIT], "WAIT <_0095_>") << frame;
        EXPECT_EQ(guest.cursor, PAUSE_WAIT);
    }

    SetOnlineMenuSession(&net.host);
    CPauseMenu host;
    ASSERT_EQ(host.rows, 5);
    EXPECT_STREQ(host.entries[PAUSE_ONLINE], "REMOVE <_GUEST_>");
    host.cursor = PAUSE_ONLINE;
    theApp.keyState[plat::VK_RETURN] = 1;
    EXPECT_TRUE(host.HandleKeys());  // the menu stays open
    EXPECT_EQ(net.host.TakeClosing(), 1);
    EXPECT_STREQ(host.entries[PAUSE_ONLINE], "NOBODY TO REMOVE");
    SetOnlineMenuSession(nullptr);
    CPauseMenu local;
    EXPECT_EQ(local.rows, 4);
}

// The address of JOIN is edited in place at a cursor, and an empty line
// offers the last address, which Tab or Return takes.
TEST(OnlineScreens, TheAddressLineEditsInPlaceAndTakesItsSuggestion) {
    LineEdit line{};
    line.suggestion = "10.0.0.7:26471";
    auto press = [&](uint32_t vk) {
        theApp.ClearKeys();
        theApp.keyState[vk] = 1;
        return line.Keys();
    };
    EXPECT_EQ(press(plat::VK_RETURN), 0);
    EXPECT_STREQ(line.text, "10.0.0.7:26471");
    EXPECT_EQ(line.cursor, 14u);
    press(plat::VK_HOME);
    press(plat::VK_DELETE);
    press(plat::VK_DELETE);
    press('9');
    EXPECT_STREQ(line.text, "9.0.0.7:26471");
    press(plat::VK_END);
    press(plat::VK_LEFT);
    press(plat::VK_BACK);
    press(plat::VK_OEM_MINUS);
    EXPECT_STREQ(line.text, "9.0.0.7:264-1");
    EXPECT_EQ(press(plat::VK_RETURN), 1);
    EXPECT_EQ(press(plat::VK_ESCAPE), -1);

    LineEdit port{};
    port.digitsOnly = true;
    port.suggestion = "26471";
    line = port;
    press(plat::VK_TAB);
    press('A');
    press(plat::VK_NUMPAD0 + 2);
    EXPECT_STREQ(line.text, "264712");
    theApp.ClearKeys();
}

// A data set refusal names the first file that differs from the host's, in
// the order both machines list a part's files (the pictures: the four of
// the menus, then the items').
TEST(OnlineScreens, ADataSetRefusalNamesTheFirstFileThatDiffers) {
    testutil::ScopedCwd cwd(NUVEL_GAME_DIR);
    static uint32_t host[kNetDataFilesMax];
    const int count = DataPartFiles(DATA_PICTURES, host, nullptr, kNetDataFilesMax);
    ASSERT_GT(count, 6);
    char text[kNetTextMax + 1];
    EXPECT_FALSE(DifferingFileText(DATA_PICTURES, host, count, text, sizeof text));
    host[5] ^= 1;
    ASSERT_TRUE(DifferingFileText(DATA_PICTURES, host, count, text, sizeof text));
    EXPECT_EQ(std::string(text),
              std::string("Graphics/Items/") + kItemKeyNames[1].text + ".png differs from the file on the host.");
    EXPECT_TRUE(Drawable(text)) << text;
    host[5] ^= 1;
    ASSERT_TRUE(DifferingFileText(DATA_PICTURES, host, count - 1, text, sizeof text));
    EXPECT_NE(std::strstr(text, ".png is on this machine but not on the host."), nullptr) << text;
    ASSERT_TRUE(DifferingFileText(DATA_PICTURES, host, count + 1, text, sizeof text));
    EXPECT_STREQ(text, "The host has more pictures than this machine.");
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
