// Networked matches in the match runner (see netsim.h).
//
// Each simulated machine keeps its own engine state in a context of its own:
// the round object, the item manager, the recorder (each with its session as
// feed), the generator state and its visible surface. A machine is swapped
// in around each of its frames with the same exchanges that set a live match
// aside for a replay, and the visible surface by exchanging surface ids, so
// a switch costs no copy of the field. Every machine plays with the same
// settings (the host's, from the round start record), so settings are not
// swapped.
//
// Time is the test clock, moved by the runner from event to event: packets
// arriving, frames falling due at their WAIT, the sessions' timers every
// millisecond. Messages are sent over links that add latency, jitter, loss,
// duplication and reordering; the reliable channel is modelled as the
// transport makes it: a lost packet comes late (after a resend), never twice
// and never out of order.
#include "tools/sim/netsim.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <queue>
#include <vector>

#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/digest.h"
#include "match/round.h"
#include "match/rules.h"
#include "net/session.h"
#include "online/onlineround.h"
#include "replay/replay.h"
#include "screens/replayplay.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"

namespace {

constexpr int kMachinesMax = kNetMachinesMax;
constexpr int64_t kServiceUs = 1000;
constexpr int64_t kLobbyUs = 1500 * 1000;  // the lobby before round 1: joins and round-trip times
constexpr int64_t kResendUs = 60 * 1000;   // the reliable channel's resend after a loss, beyond the round trip
// A reliable packet for a connection the host has not taken yet is resent as
// the transport does before it has measured the link.
constexpr int64_t kUnmeasuredResendUs = 500 * 1000;
constexpr int kWireOverheadBytes = 40;  // IP, UDP and transport headers of one datagram
constexpr int kProbeSteps = 48;
constexpr int32_t kPerturbFrame = 100;  // where a staged fault changes a field pixel
// A machine in a round that has run no frame for this long, though it is not
// stalled on purpose, waits for frames that will never come: it froze.
constexpr int64_t kFrozenUs = 15 * 1000 * 1000;

// The runner's own generator: the engine's is never touched by the network.
class CSimRandom {
public:
    explicit CSimRandom(uint64_t seed = 1) : m_state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return uint32_t((m_state * 0x2545F4914F6CDD1Dull) >> 32);
    }
    int Below(int n) { return n > 0 ? int(Next() % uint32_t(n)) : 0; }
    bool Percent(int p) { return Below(100) < p; }

private:
    uint64_t m_state;
};

struct Packet {
    int64_t atUs;
    uint64_t order;
    uint8_t from, to;
    bool reliable;
    uint16_t size;
    uint8_t bytes[kNetMessageMax];
};
struct PacketLater {
    bool operator()(const Packet* a, const Packet* b) const {
        return a->atUs != b->atUs ? a->atUs > b->atUs : a->order > b->order;
    }
};

class CSimNetwork {
public:
    CSimNetwork(const NetPlan& plan, uint32_t seed) : m_plan(plan), m_random(seed ^ 0x6E6574u) {}
    ~CSimNetwork() {
        while (!m_queue.empty()) {
            delete m_queue.top();
            m_queue.pop();
        }
    }
    void Send(int from, int to, const OutMessage& out, int64_t nowUs) {
        if (m_cut[from] || m_cut[to]) return;
        bytesSent[from] += uint64_t(out.size) + kWireOverheadBytes;
        packetsSent[from]++;
        if (out.reliable) {
            int64_t at = nowUs + Delay();
            while (m_random.Percent(m_plan.lossPercent)) at += 2 * m_plan.latencyMs * 1000 + kResendUs;
            at = std::max(at, m_lastReliableUs[from][to]);  // in order
            m_lastReliableUs[from][to] = at;
            Queue(from, to, out, at);
            return;
        }
        if (m_random.Percent(m_plan.lossPercent)) return;
        int64_t at = nowUs + Delay();
        if (m_random.Percent(m_plan.reorderPercent)) at += m_random.Below(2 * m_plan.jitterMs * 1000 + 10000);
        Queue(from, to, out, at);
        if (m_random.Percent(m_plan.duplicatePercent)) Queue(from, to, out, nowUs + Delay());
    }
    int64_t NextUs() const { return m_queue.empty() ? INT64_MAX : m_queue.top()->atUs; }
    // The next packet due by nowUs; the caller deletes it.
    Packet* Take(int64_t nowUs) {
        if (m_queue.empty() || m_queue.top()->atUs > nowUs) return nullptr;
        Packet* p = m_queue.top();
        m_queue.pop();
        if (m_cut[p->from] || m_cut[p->to]) {
            delete p;
            return Take(nowUs);
        }
        return p;
    }
    // A packet for a machine that does not run yet waits in its socket until then.
    void Hold(Packet* p, int64_t untilUs) {
        p->atUs = untilUs;
        p->order = m_order++;
        m_queue.push(p);
    }
    // A machine whose packets are all lost, both ways (it went silent).
    void Cut(int machine, bool cut) { m_cut[machine] = cut; }
    uint64_t bytesSent[kMachinesMax] = {};
    uint64_t packetsSent[kMachinesMax] = {};

private:
    int64_t Delay() {
        int64_t jitter =
            m_plan.jitterMs > 0 ? m_random.Below(2 * m_plan.jitterMs * 1000 + 1) - m_plan.jitterMs * 1000 : 0;
        return std::max<int64_t>(m_plan.latencyMs * 1000 + jitter, 100);
    }
    void Queue(int from, int to, const OutMessage& out, int64_t atUs) {
        Packet* p = new Packet;
        p->atUs = atUs;
        p->order = m_order++;
        p->from = uint8_t(from);
        p->to = uint8_t(to);
        p->reliable = out.reliable;
        p->size = out.size;
        std::memcpy(p->bytes, out.bytes, out.size);
        m_queue.push(p);
    }
    NetPlan m_plan;
    CSimRandom m_random;
    std::priority_queue<Packet*, std::vector<Packet*>, PacketLater> m_queue;
    uint64_t m_order = 0;
    int64_t m_lastReliableUs[kMachinesMax][kMachinesMax] = {};
    bool m_cut[kMachinesMax] = {};
};

// One simulated machine.
struct SimMachine {
    bool exists = false;          // connected at some time
    bool silent = false;          // dropped out: neither runs nor talks
    bool inRound = false;         // its engine runs the round
    bool finished = false;        // the round ended on it (over or stopped)
    bool stopped = false;         // ... by a stop of the session (desync, host gone, let go)
    bool froze = false;           // waited for frames that never came
    int64_t stalledUntilUs = -1;  // stopped running and talking until then (-1: runs)
    int64_t hostTakesAtUs = -1;   // the host takes its connection then (-1: it has)
    int64_t lastFrameUs = 0;
    CSession session;
    CRound round;
    CItemManager items;
    CReplay replay;
    uint32_t rand = 0;
    SurfaceId screen = 0;
    ClipRect dest{}, source{};
    int64_t nextFrameUs = 0;
    CSimRandom bot;
    int32_t botQuietUntil[kPlayers] = {};  // a press is on its way: the next decision waits for it
    // The round's outcome on this machine.
    int32_t endFrame = 0;
    uint32_t endDigest = 0;
    int32_t scores[kPlayers] = {};
    // Pacing.
    uint64_t frames = 0, stalledFrames = 0;
    int64_t stallUs = 0, maxStallUs = 0;
};

// Puts a machine's engine state in place of the one in the game's objects,
// or back: the same exchanges both ways.
void Exchange(SimMachine& m) {
    theRound.Exchange(m.round);
    theItemManager.Exchange(m.items);
    theReplay.Exchange(m.replay);
    uint32_t rand = theApp.RandState();
    theApp.Seed(m.rand);
    m.rand = rand;
    theDirectDraw.ExchangeSurfaces(kVisibleSurface, m.screen);
    ClipRect dest = theDirectDraw.DestClip(), source = theDirectDraw.SourceClip();
    theDirectDraw.SetDestClip(m.dest.left, m.dest.top, m.dest.right - m.dest.left + 1, m.dest.bottom - m.dest.top + 1);
    theDirectDraw.SetSourceClip(m.source.left, m.source.top, m.source.right - m.source.left + 1,
                                m.source.bottom - m.source.top + 1);
    m.dest = dest;
    m.source = source;
}

class CSwappedIn {
public:
    explicit CSwappedIn(SimMachine& m) : m_m(m) { Exchange(m_m); }
    ~CSwappedIn() { Exchange(m_m); }

private:
    SimMachine& m_m;
};

struct NetTotals {
    int rounds = 0, desyncs = 0, disagreements = 0, refusedStarts = 0;
    int desyncStops = 0, hostStops = 0, letGo = 0, frozen = 0;
    int verified = 0, verifyFailed = 0;
    int desyncMachine = -1;
    uint64_t latePresses = 0;
    int64_t dropDetectUs = -1;
    int32_t takeoverFrame = -1;
};

class CNetMatch {
public:
    CNetMatch(const SimOptions& options) : m_options(options), m_plan(options.net), m_net(options.net, options.seed) {}
    int Run();

private:
    bool Setup();
    void Connect(int k, bool watch);
    void Lobby();
    void Handshakes();
    bool Joined();
    bool PlayRound(int round);
    void StartHostRound(int round);
    void StartClientRound(SimMachine& m, int k);
    void BeginRound(SimMachine& m, const RoundStart& chosen, NetRoundStart* start);
    bool Step(int round);
    bool RoundGoesOn();
    bool Runs(const SimMachine& m) const { return m.exists && !m.silent && m.stalledUntilUs < 0; }
    void RunFrame(SimMachine& m, int k);
    void BotPresses(SimMachine& m);
    void Finish(SimMachine& m);
    void Compare(int round);
    void Verify(int round);
    void EndRound();
    void Deliver();
    void Drain(int k);
    void Service();
    void Advance(int64_t toUs);
    uint32_t NowMs() const { return uint32_t(m_nowUs / 1000); }
    // A frame's length at WAIT (of the swapped-out round, or theRound).
    static int32_t FrameUs(const CRound& r) { return int32_t(WaitFrameUs(CRound::LimitWait(r.state.wait))); }
    static int32_t FrameUs(const SimMachine& m) { return FrameUs(m.round); }
    // Each machine's engine sees its own clock: the world's time when it
    // starts a frame; the flips of an item animation move only its clock.
    void MachineClock() const { plat::UseTestClock(uint32_t(m_nowUs / 1000), 0); }
    void Faults(int round);
    void Stall(int round);
    void Rejoin();
    void PrintSummary();

    const SimOptions& m_options;
    NetPlan m_plan;
    CSimNetwork m_net;
    std::unique_ptr<SimMachine> m_machines[kMachinesMax];
    int m_count = 0;
    int64_t m_nowUs = 0;
    int64_t m_nextServiceUs = 0;
    int64_t m_roundStartUs = 0;
    int64_t m_silentSinceUs = -1;
    int64_t m_matchStartUs = 0;
    bool m_takeoverRound = false;
    bool m_perturbed = false;
    bool m_stalled = false;
    NetTotals m_totals;
};

SimMachine& Host(std::unique_ptr<SimMachine>* machines) { return *machines[0]; }

bool CNetMatch::Setup() {
    for (int k = 0; k < kMachinesMax; k++) m_machines[k] = std::make_unique<SimMachine>();
    m_count = m_plan.peers + (m_plan.watch ? 1 : 0);
    if (m_count > kMachinesMax) return false;
    for (int k = 0; k < m_count; k++) {
        SimMachine& m = *m_machines[k];
        m.screen = theDirectDraw.CreateSurface(kScreenWidth, kScreenHeight, false);
        m.rand = theApp.RandState();
        m.dest = theDirectDraw.DestClip();
        m.source = theDirectDraw.SourceClip();
        m.bot = CSimRandom(m_options.seed * 131u + uint32_t(k));
    }
    SimMachine& host = *m_machines[0];
    host.session.StartHost("HOST");
    for (uint32_t& digest : host.session.dataDigests) digest = 0x5EED;
    std::vector<std::string> kinds;
    for (size_t start = 0;;) {
        size_t comma = m_plan.seats.find(',', start);
        kinds.push_back(m_plan.seats.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (kinds.size() != kPlayers) return false;
    for (int s = 0; s < kPlayers; s++) {
        int kind = SeatKindByName(kinds[size_t(s)].c_str());
        if (kind < 0) return false;
        host.session.seatKinds[s] = uint8_t(kind);
    }
    host.exists = true;
    // The runner plays without waiting: a frame's pumps are cut to one, and
    // the test clock moves only where the runner moves it.
    theApp.ctrlFlag = 1;
    plat::UseTestClock(1000, 0);
    m_nowUs = int64_t(plat::TimeMs()) * 1000;
    m_nextServiceUs = m_nowUs;
    for (int k = 1; k < m_plan.peers; k++) Connect(k, false);
    return true;
}

void CNetMatch::Connect(int k, bool watch) {
    SimMachine& m = *m_machines[k];
    m.exists = true;
    m.silent = false;
    m.inRound = m.finished = m.stopped = false;
    m_net.Cut(k, false);
    char name[16];
    std::snprintf(name, sizeof name, "%s%d", watch ? "WATCH" : "GUEST", k);
    const uint32_t digests[kNetDataParts] = {0x5EED, 0x5EED, 0x5EED, 0x5EED};
    m.session.StartClient(name, watch, 1, digests);
    // The transport may make the connection on the joining machine first;
    // the host takes it a handshake later and drops what came before.
    m.session.Connected(0, NowMs());
    m.hostTakesAtUs = m_nowUs + int64_t(m_plan.handshakeMs) * 1000;
    Handshakes();
    Drain(k);
}

void CNetMatch::Handshakes() {
    for (int k = 1; k < m_count; k++) {
        SimMachine& m = *m_machines[k];
        if (m.hostTakesAtUs < 0 || m.hostTakesAtUs > m_nowUs) continue;
        m.hostTakesAtUs = -1;
        Host(m_machines).session.Connected(k, NowMs());
    }
}

void CNetMatch::Advance(int64_t toUs) { m_nowUs = std::max(m_nowUs, toUs); }

void CNetMatch::Drain(int k) {
    SimMachine& m = *m_machines[k];
    OutMessage out;
    while (m.session.TakeOutgoing(&out)) {
        if (m.silent) continue;
        const int to = k == 0 ? out.machine : 0;
        if (to < m_count) m_net.Send(k, to, out, m_nowUs);
    }
    int closing;
    while ((closing = m.session.TakeClosing()) >= 0) {
        if (k == 0 && m_plan.dropMachine == closing && m_silentSinceUs >= 0 && m_totals.dropDetectUs < 0)
            m_totals.dropDetectUs = m_nowUs - m_silentSinceUs;
    }
}

void CNetMatch::Deliver() {
    Handshakes();
    while (Packet* p = m_net.Take(m_nowUs)) {
        SimMachine& to = *m_machines[p->to];
        if (p->to == 0 && m_machines[p->from]->hostTakesAtUs >= 0) {  // the host has no such connection yet
            if (p->reliable)
                m_net.Hold(p, m_nowUs + kUnmeasuredResendUs);
            else
                delete p;
            continue;
        }
        if (to.stalledUntilUs >= 0) {
            m_net.Hold(p, to.stalledUntilUs);
            continue;
        }
        if (to.exists && !to.silent) to.session.Receive(p->to == 0 ? p->from : 0, p->bytes, p->size, NowMs());
        delete p;
    }
    for (int k = 0; k < m_count; k++) Drain(k);
}

void CNetMatch::Service() {
    for (int k = 0; k < m_count; k++) {
        SimMachine& m = *m_machines[k];
        if (!Runs(m)) continue;
        m.session.Service(NowMs());
        Drain(k);
    }
}

void CNetMatch::Lobby() {
    const int64_t end = m_nowUs + kLobbyUs;
    while (m_nowUs < end) {
        int64_t next = std::min(m_nextServiceUs, m_net.NextUs());
        for (int k = 1; k < m_count; k++)
            if (m_machines[k]->hostTakesAtUs >= 0) next = std::min(next, m_machines[k]->hostTakesAtUs);
        Advance(next);
        Deliver();
        if (m_nowUs >= m_nextServiceUs) {
            Service();
            m_nextServiceUs += kServiceUs;
        }
    }
}

void CNetMatch::StartHostRound(int round) {
    SimMachine& host = *m_machines[0];
    MachineClock();
    CSwappedIn in(host);
    if (m_options.cycleExplosions) theRound.explosionType = int8_t((round - 1) % 4);
    const int count = theStageSelect.stageCount;
    const int selected = m_options.stage == kRandomStage ? count : m_options.stage;
    RoundStart chosen{theStageSelect.stages, count, selected, uint8_t(m_options.scroll ? 1 : 0)};
    theItemManager.BuildPool();
    NetRoundStart start;
    MakeRoundStart(host.session, chosen, -1, &start);
    for (int i = 0; i < kPlayers; i++) theRound.players[i].type = start.seatTypes[i];
    BeginRound(host, chosen, &start);
    Drain(0);
}

void CNetMatch::StartClientRound(SimMachine& m, int k) {
    m.session.TakeRoundStart();
    NetRoundStart start = m.session.StartRecord();
    MachineClock();
    CSwappedIn in(m);
    RoundStart chosen;
    char why[200];
    if (!ApplyRoundStart(start, theStageSelect.stages, theStageSelect.stageCount, &chosen, why, sizeof why)) {
        std::printf("  machine %d refuses the round: %s\n", k, why);
        m_totals.refusedStarts++;
        return;
    }
    BeginRound(m, chosen, &start);
}

// The round started on the machine swapped in as the game starts it
// (headless), recorded, with the session feeding it.
void CNetMatch::BeginRound(SimMachine& m, const RoundStart& chosen, NetRoundStart* start) {
    m.session.BeginRound(start, FrameUs(theRound), NowMs());
    theReplay.feed = &m.session;
    StartRound(chosen, false);
    m.inRound = true;
    m.finished = m.stopped = false;
    m.nextFrameUs = m.lastFrameUs = m_nowUs;
}

// A simulated player on each seat this machine holds: turns away when the
// way ahead is short, now and then turns or uses an item at random. The
// decision is made from this machine's own picture, before the frame.
void CNetMatch::BotPresses(SimMachine& m) {
    SurfaceDesc field = theDirectDraw.Lock(theRound.local.fieldSurface);
    for (int s = 0; s < kPlayers; s++) {
        const PlayerSlot& p = theRound.players[s];
        if (!m.session.HoldsSeat(s) || !p.alive || EffectivePlayerType(p.type) != PLAYER_MAN) continue;
        const uint8_t* keys = KeyLayout(theApp.keyboardType, s);
        const int32_t frame = theRound.state.frameCounter + 1;
        if (frame < m.botQuietUntil[s]) continue;
        int press = -1;
        int ahead = theRound.ProbeClearance(p.x, p.y, p.heading, kProbeSteps, field.pixels, field.pitch, true);
        if (ahead < kProbeSteps) {
            int left = theRound.ProbeClearance(p.x, p.y, p.heading + 30, kProbeSteps, field.pixels, field.pitch, true);
            int right = theRound.ProbeClearance(p.x, p.y, p.heading - 30, kProbeSteps, field.pixels, field.pitch, true);
            press = left >= right ? KEY_LEFT : KEY_RIGHT;
        } else if (m.bot.Below(300) == 0) {
            press = m.bot.Below(3) == 0 ? KEY_ITEM : (m.bot.Below(2) ? KEY_LEFT : KEY_RIGHT);
        }
        if (press < 0) continue;
        theApp.keyState[keys[press]] = 1;
        m.botQuietUntil[s] = frame + m.session.DelayFrames() + 8;
    }
    theDirectDraw.Unlock(theRound.local.fieldSurface);
}

void CNetMatch::RunFrame(SimMachine& m, int k) {
    MachineClock();
    CSwappedIn in(m);
    BotPresses(m);
    uint8_t aliveBefore[kPlayers];
    for (int i = 0; i < kPlayers; i++) aliveBefore[i] = theRound.players[i].alive;
    const int result = PlayFrame();
    std::memset(theApp.keyState, 0, sizeof theApp.keyState);
    if (m_options.verbose && k == 0)
        for (int i = 0; i < kPlayers; i++)
            if (aliveBefore[i] && !theRound.players[i].alive)
                std::printf("  frame %ld (%ld s): %dP (%s) dies at (%d, %d)\n", long(theRound.state.frameCounter),
                            long(theRound.state.roundSeconds), i + 1, PlayerTypeName(theRound.players[i].type),
                            CApp::FloatToInt(theRound.players[i].x), CApp::FloatToInt(theRound.players[i].y));
    m.frames++;
    m.lastFrameUs = m_nowUs;
    if (k == m_plan.perturbMachine && m_plan.perturbRound > 0 && !m_perturbed &&
        theRound.state.frameCounter == kPerturbFrame && theRound.roundCounter + 1 == m_plan.perturbRound) {
        // A deliberate fault: one field pixel differs on this machine.
        SurfaceDesc f = theDirectDraw.Lock(theRound.local.fieldSurface);
        if (f.pixels) f.pixels[(kFieldTop + 200) * f.pitch + 320] ^= 0x01;
        theDirectDraw.Unlock(theRound.local.fieldSurface);
        m_perturbed = true;
        std::printf("  machine %d's field changed on purpose at frame %ld\n", k, long(theRound.state.frameCounter));
    }
    if (result == FRAME_GO_ON) return;
    m.finished = true;
    m.inRound = false;
    m.stopped = result != FRAME_ROUND_OVER;
    m.endFrame = theRound.state.frameCounter;
    if (m.stopped) {
        // As the game does: a round the session stopped is kept up to the stop.
        if (m.session.Stopped()) {
            OnlineRoundEnds(m.session);
            theReplay.EndStoppedRecording();
            std::printf("  machine %d stops at frame %ld: %s\n", k, long(m.endFrame), m.session.StopText());
        } else {
            theReplay.AbandonRecording();
        }
        return;
    }
    OnlineRoundEnds(m.session);
    theReplay.EndRecording();
    m.endDigest = MatchDigest();
    for (int i = 0; i < kPlayers; i++) m.scores[i] = theRound.players[i].roundScore;
}

// One step of the world: to the next thing that happens.
bool CNetMatch::Step(int round) {
    int64_t next = std::min(m_nextServiceUs, m_net.NextUs());
    for (int k = 0; k < m_count; k++) {
        SimMachine& m = *m_machines[k];
        if (m.stalledUntilUs >= 0) next = std::min(next, m.stalledUntilUs);
        if (m.inRound && Runs(m) && m.session.FrameReady(m.round.state.frameCounter + 1))
            next = std::min(next, std::max(m.nextFrameUs, m_nowUs));
    }
    Advance(next);
    Stall(round);
    Deliver();
    if (m_nowUs >= m_nextServiceUs) {
        Service();
        m_nextServiceUs += kServiceUs;
    }
    for (int k = 0; k < m_count; k++) {
        SimMachine& m = *m_machines[k];
        if (!Runs(m)) continue;
        if (k > 0 && m.session.RoundStarting()) StartClientRound(m, k);
        if (!m.inRound || m.nextFrameUs > m_nowUs) continue;
        const int32_t frame = m.round.state.frameCounter + 1;
        if (!m.session.FrameReady(frame) && !m.session.Stopped()) continue;  // stalled
        const int64_t lateUs = m_nowUs - m.nextFrameUs;
        if (lateUs > 0) {
            m.stalledFrames++;
            m.stallUs += lateUs;
            m.maxStallUs = std::max(m.maxStallUs, lateUs);
        }
        RunFrame(m, k);
        Drain(k);
        // Busy until its clock says (an item animation), then its frame's wait;
        // a machine with more of the stream than it needs catches up by not waiting.
        const int64_t busyUntilUs = std::max(m_nowUs, int64_t(plat::TimeMs()) * 1000);
        const bool ahead = m.session.FinalFrame() - frame > 2 * m.session.DelayFrames() + 8;
        m.nextFrameUs = ahead && k > 0 ? busyUntilUs : busyUntilUs + FrameUs(m);
    }
    Faults(round);
    return RoundGoesOn();
}

// The round goes on while the host plays it, and after that while a machine
// still plays it and may end it: one that stalls on purpose will run again,
// one that waits for frames that never come has frozen, which is a fault.
bool CNetMatch::RoundGoesOn() {
    bool goesOn = false;
    for (int k = 0; k < m_count; k++) {
        SimMachine& m = *m_machines[k];
        if (!m.exists || m.silent || !m.inRound) continue;
        if (m.stalledUntilUs >= 0 || m_nowUs - m.lastFrameUs <= kFrozenUs) {
            goesOn = true;
            continue;
        }
        std::printf("  machine %d froze at frame %ld: no frame for %.0f s and no stop\n", k,
                    long(m.round.state.frameCounter), double(m_nowUs - m.lastFrameUs) / 1e6);
        m_totals.frozen++;
        m.froze = true;
        CSwappedIn in(m);
        theReplay.AbandonRecording();
        m.inRound = false;
        m.finished = m.stopped = true;
    }
    return goesOn;
}

// The staged stall: a joining machine stops running and talking (its packets
// wait for it) and then goes on where it stood, as a process stopped and
// continued does.
void CNetMatch::Stall(int round) {
    for (int k = 0; k < m_count; k++) {
        SimMachine& m = *m_machines[k];
        if (m.stalledUntilUs < 0 || m_nowUs < m.stalledUntilUs) continue;
        m.stalledUntilUs = -1;
        std::printf("  machine %d goes on at %.3f s of round %d\n", k, double(m_nowUs - m_roundStartUs) / 1e6, round);
    }
    const SimMachine& host = *m_machines[0];
    if (m_plan.stallMachine <= 0 || round != m_plan.stallRound || m_stalled || !host.inRound ||
        host.round.state.roundSeconds < m_plan.stallSecond)
        return;
    m_stalled = true;
    SimMachine& m = *m_machines[m_plan.stallMachine];
    m.stalledUntilUs = m_nowUs + int64_t(m_plan.stallMs) * 1000;
    std::printf("  machine %d stops for %d ms at %.3f s of round %d\n", m_plan.stallMachine, m_plan.stallMs,
                double(m_nowUs - m_roundStartUs) / 1e6, round);
}

// The staged faults: a machine going silent mid-round, a spectator joining.
void CNetMatch::Faults(int round) {
    SimMachine& host = *m_machines[0];
    const int32_t seconds = host.round.state.roundSeconds;
    if (m_plan.dropMachine > 0 && round == m_plan.dropRound && m_silentSinceUs < 0 && seconds >= m_plan.dropSecond &&
        host.inRound) {
        SimMachine& m = *m_machines[m_plan.dropMachine];
        m.silent = true;
        m_net.Cut(m_plan.dropMachine, true);
        m_silentSinceUs = m_nowUs;
        m_takeoverRound = true;
        if (m.inRound) {
            CSwappedIn in(m);
            theReplay.AbandonRecording();
            theRound.Teardown();
            m.inRound = false;
        }
        std::printf("  machine %d goes silent at %.3f s of round %d\n", m_plan.dropMachine,
                    double(m_nowUs - m_roundStartUs) / 1e6, round);
    }
    if (m_plan.watch && round == 1 && seconds >= 1 && !m_machines[m_plan.peers]->exists) Connect(m_plan.peers, true);
    if (host.inRound && m_totals.takeoverFrame < 0 && m_takeoverRound) {
        for (int s = 0; s < kPlayers; s++)
            if (host.session.seatKinds[s] == SEAT_REMOTE && host.round.players[s].type == PLAYER_NORMAL &&
                host.session.seatHolders[s] == kNoHolder && host.round.state.frameCounter > 0)
                m_totals.takeoverFrame = host.round.state.frameCounter;
    }
}

bool CNetMatch::PlayRound(int round) {
    m_roundStartUs = m_nowUs;
    StartHostRound(round);
    while (Step(round)) {
        if (m_nowUs - m_roundStartUs > int64_t(3600) * 1000 * 1000) {
            std::printf("round %d: no end after an hour of game time\n", round);
            return false;
        }
    }
    return true;
}

void CNetMatch::Compare(int round) {
    const SimMachine& host = *m_machines[0];
    static uint8_t hostBytes[kReplayFileMax], bytes[kReplayFileMax];
    const size_t hostSize = host.replay.lastValid ? EncodeReplay(host.replay.last, hostBytes, sizeof hostBytes) : 0;
    bool stopped = false, differ = false;
    int compared = 0;
    for (int k = 0; k < m_count; k++) {
        const SimMachine& m = *m_machines[k];
        if (!m.exists || m.silent || !m.finished || m.froze) continue;
        compared++;
        if (m.stopped) {
            stopped = true;
            const uint8_t why = m.session.StopWhy();
            if (why == STOP_DESYNC) {
                m_totals.desyncStops++;
                m_totals.desyncMachine = k;
            } else if (why == STOP_HOST_LEFT || k == 0) {
                m_totals.hostStops++;
            } else {
                m_totals.letGo++;
            }
        }
        if (k == 0 || m.stopped || host.stopped) continue;
        const size_t size = m.replay.lastValid ? EncodeReplay(m.replay.last, bytes, sizeof bytes) : 0;
        bool same = m.endFrame == host.endFrame && m.endDigest == host.endDigest &&
                    std::memcmp(m.scores, host.scores, sizeof m.scores) == 0 && size == hostSize &&
                    std::memcmp(bytes, hostBytes, size) == 0;
        if (!same) {
            std::printf("  round %d: machine %d ended otherwise than the host (frame %ld / %ld, digest %08X / %08X)\n",
                        round, k, long(m.endFrame), long(host.endFrame), m.endDigest, host.endDigest);
            differ = true;
        }
    }
    if (stopped) m_totals.desyncs++;
    if (differ) m_totals.disagreements++;
    std::printf("round %d: %ld frames, %d machines agree%s, delay %d frames (%.1f ms), RTT %u ms\n", round,
                long(host.endFrame), compared, stopped ? " (some stopped)" : "", host.session.DelayFrames(),
                host.session.DelayFrames() * FrameUs(host) / 1000.0, host.session.RttMs());
}

void CNetMatch::Verify(int round) {
    if (m_plan.verifyEvery <= 0 || round % m_plan.verifyEvery != 0) return;
    for (int k = 0; k < m_count; k++) {
        SimMachine& m = *m_machines[k];
        if (!m.exists || m.silent || !m.finished || m.froze || !m.replay.lastValid) continue;
        // A field changed on purpose is not in the recording.
        if (k == m_plan.perturbMachine && round == m_plan.perturbRound) continue;
        CSwappedIn in(m);
        static ReplayData data;
        data = theReplay.last;
        theReplay.feed = nullptr;
        ReplayOutcome outcome = PlayReplay(data, false);
        theReplay.feed = &m.session;
        if (outcome.verdict == REPLAY_REPRODUCED) {
            m_totals.verified++;
        } else {
            m_totals.verifyFailed++;
            std::printf("  round %d: machine %d's replay does not reproduce (frame %ld)\n", round, k,
                        long(outcome.frame));
        }
    }
}

void CNetMatch::EndRound() {
    for (int k = 0; k < m_count; k++) {
        SimMachine& m = *m_machines[k];
        if (!m.exists || m.silent || !m.finished) continue;
        CSwappedIn in(m);
        theRound.Teardown();
        theRound.NextRound();
        m.finished = false;
    }
    m_takeoverRound = false;
}

int CNetMatch::Run() {
    if (!Setup()) {
        std::fprintf(stderr, "nuvel-sim: --net-seats takes four of local, remote, easy, normal, hard, master, non\n");
        return 2;
    }
    std::printf(
        "networked match: %d machines%s, latency %d ms one way, jitter %d ms, loss %d%%, dup %d%%, "
        "reorder %d%%, seats %s\n\n",
        m_plan.peers, m_plan.watch ? " and a spectator" : "", m_plan.latencyMs, m_plan.jitterMs, m_plan.lossPercent,
        m_plan.duplicatePercent, m_plan.reorderPercent, m_plan.seats.c_str());
    Lobby();
    if (!Joined()) return 1;
    m_matchStartUs = m_nowUs;
    {
        CSwappedIn in(*m_machines[0]);
        BeginMatch();
    }
    for (int round = 1; round <= m_options.rounds; round++) {
        if (!PlayRound(round)) return 1;
        m_totals.rounds++;
        Compare(round);
        Verify(round);
        EndRound();
        if (m_plan.rejoin) Rejoin();
        if (m_plan.dropMachine > 0 && round == m_plan.dropRound && m_plan.rejoin) {
            Connect(m_plan.dropMachine, false);
            std::printf("  machine %d joins again\n", m_plan.dropMachine);
            m_silentSinceUs = -2;
        }
        for (int k = 0; k < 200; k++) Step(round);  // a welcome arrives before the next start
    }
    PrintSummary();
    if (m_totals.disagreements || m_totals.verifyFailed || m_totals.refusedStarts || m_totals.frozen) return 1;
    // Only the host's state is the reference: a machine that parts from it
    // stops alone, and nothing else stops unless the plan stages it.
    if (m_totals.hostStops) return 1;
    if (m_plan.perturbRound > 0)
        return m_totals.desyncStops == 1 && m_totals.desyncMachine == m_plan.perturbMachine ? 0 : 1;
    if (m_totals.desyncStops) return 1;
    return m_totals.letGo > 0 && m_plan.stallMachine == 0 ? 1 : 0;
}

// Every machine that joined before the first round was welcomed.
bool CNetMatch::Joined() {
    bool all = true;
    for (int k = 1; k < m_count; k++) {
        const SimMachine& m = *m_machines[k];
        if (!m.exists || m.session.Welcomed()) continue;
        std::printf("machine %d did not join: %s\n", k, m.session.HostLost() ? m.session.EndText() : "no welcome");
        all = false;
    }
    return all;
}

// Machines the host let go (stalled for too long) join again between rounds.
void CNetMatch::Rejoin() {
    for (int k = 1; k < m_count; k++) {
        const SimMachine& m = *m_machines[k];
        if (!m.exists || m.silent || m.session.Role() != SESSION_CLIENT || !m.session.HostLost()) continue;
        std::printf("  machine %d joins again after: %s\n", k,
                    m.session.StopText()[0] ? m.session.StopText() : m.session.RefusalText());
        Connect(k, false);
    }
}

void CNetMatch::PrintSummary() {
    const double seconds = double(m_nowUs - m_matchStartUs) / 1e6;
    std::printf(
        "\n%d rounds, %d with a stop (%d machines parted, %d let go, %d lost the host, %d froze), %d disagreements, "
        "replays: %d verified, %d failed\n",
        m_totals.rounds, m_totals.desyncs, m_totals.desyncStops, m_totals.letGo, m_totals.hostStops, m_totals.frozen,
        m_totals.disagreements, m_totals.verified, m_totals.verifyFailed);
    std::printf("game time %.1f s\n", seconds);
    for (int k = 0; k < m_count; k++) {
        const SimMachine& m = *m_machines[k];
        if (!m.exists) continue;
        std::printf(
            "machine %d: %.0f bytes/s sent on the wire (%.0f packets/s), %llu frames, %llu stalled "
            "(%.3f%%), stall time %.1f ms in all, longest %.1f ms, late presses %u\n",
            k, double(m_net.bytesSent[k]) / seconds, double(m_net.packetsSent[k]) / seconds,
            (unsigned long long)m.frames, (unsigned long long)m.stalledFrames,
            m.frames ? 100.0 * double(m.stalledFrames) / double(m.frames) : 0.0, double(m.stallUs) / 1000.0,
            double(m.maxStallUs) / 1000.0, m.session.stats.latePresses);
    }
    if (m_totals.dropDetectUs >= 0)
        std::printf("drop-out detected after %.0f ms; the seat became a computer at frame %ld\n",
                    double(m_totals.dropDetectUs) / 1000.0, long(m_totals.takeoverFrame));
}

bool ParseInt(const std::string& text, int low, int high, int* out) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < low || v > high) return false;
    *out = int(v);
    return true;
}

}  // namespace

bool ParseNetPlan(const std::string& text, NetPlan* plan, std::string* error) {
    plan->peers = 3;
    for (size_t start = 0; start < text.size();) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma - start);
        start = comma == std::string::npos ? text.size() : comma + 1;
        size_t eq = item.find('=');
        std::string key = item.substr(0, eq), value = eq == std::string::npos ? "" : item.substr(eq + 1);
        int v = 0;
        bool ok = true;
        if (key == "drop") {
            int a = 0, b = 0, c = 0;
            ok = std::sscanf(value.c_str(), "%d:%d:%d", &a, &b, &c) == 3 && a >= 1 && b >= 1 && c >= 0;
            plan->dropMachine = a, plan->dropRound = b, plan->dropSecond = c;
        } else if (key == "stall") {
            int a = 0, b = 0, c = 0, d = 0;
            ok = std::sscanf(value.c_str(), "%d:%d:%d:%d", &a, &b, &c, &d) == 4 && a >= 1 && b >= 1 && c >= 0 &&
                 d >= 1 && d <= 600000;
            plan->stallMachine = a, plan->stallRound = b, plan->stallSecond = c, plan->stallMs = d;
        } else if (key == "perturb") {
            int a = 0, b = 1;
            const int n = std::sscanf(value.c_str(), "%d:%d", &a, &b);
            ok = n >= 1 && a >= 0 && b >= 1;
            plan->perturbRound = a, plan->perturbMachine = b;
        } else if (!ParseInt(value, 0, 100000, &v)) {
            ok = false;
        } else if (key == "peers" && v >= 2 && v <= kNetMachinesMax - 1) {
            plan->peers = v;
        } else if (key == "latency") {
            plan->latencyMs = v;
        } else if (key == "jitter") {
            plan->jitterMs = v;
        } else if (key == "loss" && v <= 100) {
            plan->lossPercent = v;
        } else if (key == "dup" && v <= 100) {
            plan->duplicatePercent = v;
        } else if (key == "reorder" && v <= 100) {
            plan->reorderPercent = v;
        } else if (key == "handshake" && v <= 10000) {
            plan->handshakeMs = v;
        } else if (key == "rejoin") {
            plan->rejoin = v != 0;
        } else if (key == "watch") {
            plan->watch = v != 0;
        } else if (key == "verify") {
            plan->verifyEvery = v;
        } else {
            ok = false;
        }
        if (!ok) return *error = "--net: cannot use '" + item + "'", false;
    }
    if (plan->dropMachine >= plan->peers) return *error = "--net: drop names no joining machine", false;
    if (plan->stallMachine >= plan->peers) return *error = "--net: stall names no joining machine", false;
    if (plan->perturbRound > 0 && plan->perturbMachine >= plan->peers + (plan->watch ? 1 : 0))
        return *error = "--net: perturb names no joining machine", false;
    return true;
}

int RunNetMatch(const SimOptions& options) {
    static CNetMatch* match = nullptr;  // large: kept off the stack
    match = new CNetMatch(options);
    int status = match->Run();
    delete match;
    return status;
}
