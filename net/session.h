// CSession: one machine's part in an online match by deterministic lockstep.
//
// The host orders everything that enters a round from outside: presses of
// every human seat (its own included), the one-second clock's ticks, WAIT
// changes, pauses, and seats taken over by a computer when their machine
// drops out. Each such event is stamped with the frame it acts in: a press
// with the frame its machine was at plus the agreed input delay, the same for
// every seat. The host makes the stream final a few frames ahead of its own
// frame (the lead) and sends every machine what it has not acknowledged yet;
// no machine runs a frame before the stream is final through it, so a late
// message stalls a frame but never changes it.
//
// The object knows no sockets and no engine: messages come in through
// Receive, go out through the outbox, and the round asks it at its frame
// hooks (online/onlineround.cpp). The transport (the game's, or the match
// runner's simulated network) moves the outbox.
#pragma once
#include <cstddef>
#include <cstdint>

#include "net/netproto.h"

enum SessionRole : uint8_t { SESSION_OFF, SESSION_HOST, SESSION_CLIENT };

// Silence after which a machine counts as gone: follows the measured round
// trip and loss of its link (see SilenceLimitMs), within these bounds, so a
// slow lossy link holds and a machine really gone is noticed within 3 s.
constexpr uint32_t kSessionSilenceMinMs = 1000;
constexpr uint32_t kSessionSilenceMaxMs = 2500;
// Every machine sends something at least this often (a ping when nothing else).
constexpr uint32_t kSessionPingIntervalMs = 100;
// Pings counted for one figure of a link's loss.
constexpr int kSessionLossWindowPings = 20;
// A connection has this long to say hello; a joining machine repeats its
// hello this often until the host answers.
constexpr uint32_t kSessionHelloLimitMs = 3000;
constexpr uint32_t kSessionHelloResendMs = 200;
// A machine whose own timers did not run for this long was stopped itself
// (suspended, or busy): the silence it saw meanwhile is not the others'.
constexpr uint32_t kSessionSelfStallMs = 250;
// A joining machine may ask for the pause menu this often at most.
constexpr uint32_t kSessionPauseIntervalMs = 10000;
constexpr int kSessionBansMax = 16;
constexpr int kSessionNoticesKept = 4;
// How often the host sends a machine the stream, and a machine its inputs
// and acknowledgements, while something is unacknowledged (else a little
// less often, as a keep-alive).
constexpr uint32_t kSessionSendIntervalMs = 8;
constexpr uint32_t kSessionIdleSendIntervalMs = 40;
// Events the stream keeps (those not yet acknowledged by every machine).
constexpr int kSessionStreamCapacity = 4096;
constexpr int kSessionPendingCapacity = 256;
constexpr int kSessionOutboxCapacity = 64;
constexpr int kSessionDigestsKept = 32;
constexpr int kSessionMenusKept = 16;

struct OutMessage {
    uint8_t machine;
    bool reliable;
    uint16_t size;
    uint8_t bytes[kNetMessageMax];
};

// The host's view of one machine (machine 0 is the host itself). A
// connection is present from the transport's connect; it is a machine of the
// match once it said hello (its name is set).
struct MachineLink {
    bool present;
    bool watch;
    char name[kNetNameMax + 1];
    uint32_t key;      // from its hello
    uint32_t address;  // the transport's address of the connection (0: not known)
    uint32_t connectedMs;
    uint8_t seatBits;
    uint32_t roundId;    // the round this machine is in (0: none yet)
    int32_t haveFrame;   // the stream is acknowledged through this frame
    uint32_t nextInput;  // the sequence number of the next input expected
    uint32_t lastHeardMs;
    uint32_t lastSentMs;
    uint32_t lastPingMs;
    uint32_t srttMs, rttVarMs;
    bool rttKnown;
    // Pings sent and answered in the current window, and the share of pings
    // lost on the way there or back, in thousandths, smoothed over windows.
    // A window's share counts once an answer comes after it: a link that
    // fell silent (its machine gone) keeps the loss it had while it talked.
    int pingsSent, pongsHeard;
    uint32_t lossPermille;
    bool lossKnown;
    uint32_t windowLossPermille;
    bool windowPending;
    uint32_t lastPauseMs;  // its last pause request that counted (0: none)
    uint32_t rateWindowMs;
    int rateMessages;
    int ratePresses[kPlayers];
    int32_t digestFrames[kSessionDigestsKept];
    uint32_t digests[kSessionDigestsKept];
};

struct SessionStats {
    uint64_t bytesSent;
    uint64_t messagesSent;
    uint64_t bytesReceived;
    uint32_t latePresses;  // presses placed after the frame they were stamped for
    uint32_t refused;      // messages refused by the decoder or the rules
};

class CSession {
public:
    CSession();

    // ---- set-up ----
    void StartHost(const char* name);
    void StartClient(const char* name, bool watch, uint8_t seatsWanted, const uint32_t* digests);
    void Stop();
    SessionRole Role() const { return m_role; }
    // The data set's digests, part by part: a joining machine's must match
    // the host's.
    uint32_t dataDigests[kNetDataParts];
    // The frame whose state digest is due (the last frame that ticked).
    int32_t tickedFrame;
    // A joining machine may hold more than one remote seat.
    bool allowSeveralSeats;
    // The seats, as the host sets them.
    uint8_t seatKinds[kPlayers];
    uint8_t seatHolders[kPlayers];

    // ---- transport side ----
    // address identifies the other end for the host's list of removed
    // machines (0 when the transport does not tell).
    void Connected(int machine, uint32_t nowMs, uint32_t address = 0);
    void Disconnected(int machine, uint32_t nowMs);
    void Receive(int machine, const uint8_t* bytes, size_t size, uint32_t nowMs);
    // Timers: pings, resends, drop-out detection. Call often (every frame
    // and while waiting).
    void Service(uint32_t nowMs);
    bool TakeOutgoing(OutMessage* out);
    // A machine to close (it broke the rules, or was refused); -1 for none.
    int TakeClosing();

    // ---- round side ----
    // Host: a round starts with this record (delay filled in here) and is
    // sent to every machine. Joining machine: what the host sent.
    void BeginRound(NetRoundStart* start, int32_t frameUs, uint32_t nowMs);
    bool RoundStarting() const { return m_startArrived; }
    const NetRoundStart& StartRecord() const { return m_start; }
    // Takes the start; the menu messages that came before it (screens
    // before the round) are dropped, later ones (the round's) are kept.
    void TakeRoundStart();
    void EndRound();
    bool InRound() const { return m_inRound; }
    // The stream is final through this frame.
    bool FrameReady(int32_t frame) const { return m_inRound && frame <= m_finalFrame; }
    int32_t FinalFrame() const { return m_finalFrame; }
    // At the start of frame n (after the frame counter moved): moves past
    // earlier frames, applies DELAY, reports TAKEOVER and PAUSE events of
    // frame n through the out-parameters; the host makes the stream final
    // through n + lead.
    void BeginFrame(int32_t frame, uint8_t* takeoverSeats, bool* pause, uint32_t nowMs);
    // Events of the current frame.
    bool TakeTick(int32_t frame);
    bool TakeWait(int32_t frame, uint16_t* wait);
    uint8_t TakePresses(int32_t frame, int seat);
    // Local intents, stamped with the current frame plus the delay.
    bool HoldsSeat(int seat) const { return (m_seatBits >> seat) & 1; }
    void QueuePress(int32_t frame, int seat, uint8_t bits);
    void QueuePause(int32_t frame, int seat);
    void QueueTick(int32_t frame);                 // host
    void QueueWait(int32_t frame, uint16_t wait);  // host
    // The state digest after a frame that ticked; compared with the host's.
    void RecordDigest(int32_t frame, uint32_t digest);

    // ---- the round stopped on this machine ----
    bool Stopped() const { return m_stopWhy != 0; }
    uint8_t StopWhy() const { return m_stopWhy; }
    int32_t StopFrame() const { return m_stopFrame; }
    const char* StopText() const { return m_stopText; }
    // What a stopped round's replay keeps beside it: the message and the
    // state digests there are for it (both machines' at the frame where they
    // parted).
    void StopNote(char* note, size_t size) const;

    // ---- a joining machine and its host ----
    // The match is over for this machine (the host is gone, let it go, or it
    // left), and why, for the player.
    bool HostLost() const { return m_hostLost; }
    const char* EndText() const { return m_endText; }
    // Why: STOP_HOST_LEFT (the host is gone), STOP_LET_GO or STOP_DESYNC (the
    // host let this machine go), STOP_LEFT (the player left); 0 while it lasts.
    uint8_t EndWhy() const { return m_endWhy; }
    // A refusal the host sent.
    const char* RefusalText() const { return m_refusal; }
    bool Welcomed() const { return m_welcomed; }
    bool HostAnswered() const { return m_links[0].present; }
    // This machine's number with the host (0 before the welcome).
    uint8_t MachineNumber() const { return m_machine; }
    // The number this machine keeps while it runs: a host that removed it
    // knows it again. Set before Connected.
    uint32_t machineKey;
    // The player leaves: the host is told, and the match is over here. The
    // host leaving tells every machine.
    void Leave();
    // A pause request is sent at most every kSessionPauseIntervalMs.
    bool MayAskForPause(uint32_t nowMs) const;

    // ---- the data set's files, for a refusal that names the one that differs ----
    // Host: the digests of a part's files, in the order both machines list
    // them. Joining machine: the host's, as they came with a refusal.
    void SetDataFiles(int part, const uint32_t* digests, int count);
    const uint32_t* DataFiles(int part, int* count) const;

    // ---- host: machines leaving and removed ----
    // Removes a machine: it is told, and cannot join this match again.
    void Remove(int machine);
    // What the host's player is told (a machine left, was dropped, ...).
    bool TakeNotice(char* text, size_t size);
    // Machines of the match (the host included) and connections still greeting.
    int MachineCount() const;

    // ---- lobby and figures ----
    const MachineLink& Link(int machine) const { return m_links[machine]; }
    uint16_t DelayFrames() const { return m_delayFrames; }
    uint16_t LeadFrames() const { return m_leadFrames; }
    uint32_t RttMs() const;  // the largest smoothed RTT of the seated machines (host), or to the host
    uint8_t SeatBits() const { return m_seatBits; }
    // Delay and lead for a round-trip time and its variation at a frame length.
    static void DelayFor(uint32_t rttMs, uint32_t rttVarMs, int32_t frameUs, uint16_t* delayFrames,
                         uint16_t* leadFrames);
    // How long a link may be silent before its machine counts as gone.
    static uint32_t SilenceLimitMs(const MachineLink& link);
    SessionStats stats;

    // Host: menu outcome for every machine (reliable).
    void SendMenu(uint8_t screen, uint8_t choice, int32_t value);
    void SendLobby();
    // Host, in the lobby: a seat's kind. A machine that held the seat loses
    // it; a new remote seat goes to the first machine without a seat (or to
    // any seated one when several seats are allowed); spectators stay
    // spectators.
    void SetSeatKind(int seat, uint8_t kind);
    // Joining machine: the host's menu messages in the order they came (a
    // screen's outcome is never lost under a later screen's cursor).
    bool PeekMenu(NetMessage* out) const;
    bool TakeMenu(NetMessage* out);

private:
    void Send(int machine, const NetMessage& message, bool reliable);
    void Broadcast(const NetMessage& message, bool reliable);
    void StopRound(uint8_t why, int32_t frame, const char* text);
    void EndLink(uint8_t why, const char* text);
    void LinkSilent(uint32_t nowMs);
    void Notice(const char* format, const char* name, const char* detail = "");
    // The scratch message, emptied, for a message of this type to be sent.
    NetMessage& Fresh(uint8_t type);
    // Lets a machine go: logWhy for this machine's log, told for the player
    // there (sent before its connection is closed).
    void Close(int machine, const char* logWhy, const char* told);
    void Drop(int machine, uint32_t nowMs);
    void Forget(int machine);
    void Greet(int machine);
    void SendHello(uint32_t nowMs);
    void SendDataFiles(int machine, int part);
    bool Banned(const NetMessage& hello, const MachineLink& link) const;
    void Ping(int machine, uint32_t nowMs);
    void LossHeard(MachineLink& link);
    void Pinged(MachineLink& link, uint32_t stampMs);
    void Ponged(MachineLink& link, uint32_t stampMs, uint32_t nowMs);
    void ServiceHost(uint32_t nowMs);
    void ServiceClient(uint32_t nowMs);
    void Parted(int machine, int32_t frame, uint32_t digest, uint32_t hostDigest);
    void HostReceive(int machine, const NetMessage& m, uint32_t nowMs);
    void ClientReceive(const NetMessage& m, uint32_t nowMs);
    void Hello(int machine, const NetMessage& m);
    void Inputs(int machine, const NetMessage& m, uint32_t nowMs);
    void Frames(const NetMessage& m);
    void ClientDigest(int machine, int32_t frame, uint32_t digest);
    void CompareDigests(int machine);
    void Commit(int32_t through);
    void Append(const NetEvent& e);
    void Trim();
    void SendFrames(int machine, uint32_t nowMs);
    void SendInputs(uint32_t nowMs);
    void Rtt(MachineLink& link, uint32_t sampleMs);
    void StallSeen(uint32_t nowMs);
    void Adapt(uint32_t nowMs);
    bool Pending(const NetEvent& e);
    const NetEvent& At(uint32_t index) const { return m_stream[index % kSessionStreamCapacity]; }

    SessionRole m_role;
    char m_name[kNetNameMax + 1];
    MachineLink m_links[kNetLinksMax];
    uint8_t m_seatBits;  // the seats this machine holds
    uint8_t m_machine;   // this machine's number (joining machine)
    bool m_welcomed;
    bool m_watch;
    uint8_t m_seatsWanted;
    char m_refusal[kNetTextMax + 1];
    char m_endText[kNetTextMax + 1];
    uint8_t m_endWhy;
    uint32_t m_lastHelloMs;
    uint32_t m_lastPauseMs;
    // This machine's own timers: when they last ran, and the last time they
    // found that this machine itself had stopped, for how long.
    uint32_t m_lastServiceMs;
    uint32_t m_selfStallMs, m_selfStallAtMs;
    struct Ban {
        uint32_t key, address;
        char name[kNetNameMax + 1];
    };
    Ban m_bans[kSessionBansMax];
    int m_banCount;
    char m_notices[kSessionNoticesKept][kNetTextMax + 1];
    int m_noticeCount;
    uint16_t m_dataFileCount[kNetDataParts];
    uint32_t m_dataFiles[kNetDataParts][kNetDataFilesMax];

    bool m_inRound;
    bool m_startArrived;
    NetRoundStart m_start;
    uint32_t m_roundId;
    int32_t m_frameUs;
    uint16_t m_delayFrames, m_leadFrames;
    // The stream: events [m_begin, m_end) by absolute index, final through m_finalFrame.
    NetEvent m_stream[kSessionStreamCapacity];
    uint32_t m_begin, m_end, m_read;
    int32_t m_finalFrame;
    int32_t m_lastPlaced[NEV_KIND_END][kPlayers];
    // Host: stamped intents waiting to become final, in arrival order.
    NetEvent m_pending[kSessionPendingCapacity];
    int m_pendingCount;
    // Joining machine: inputs sent but not acknowledged.
    NetEvent m_unacked[kNetInputsPerMessage];
    int m_unackedCount;
    uint32_t m_unackedFirst;
    uint32_t m_nextSequence;
    uint32_t m_lastAdaptMs;

    uint8_t m_stopWhy;
    int32_t m_stopFrame;
    char m_stopText[kNetTextMax + 1];
    // Where a stopped round parted from the host: the host's digest at the
    // stop frame (this machine's is in its own digests below).
    uint32_t m_stopHostDigest;
    int32_t m_ownDigestFrames[kSessionDigestsKept];
    uint32_t m_ownDigests[kSessionDigestsKept];
    bool m_hostLost;
    uint32_t m_nowMs;
    int32_t m_lastStamp;

    OutMessage m_outbox[kSessionOutboxCapacity];
    int m_outFirst, m_outCount;
    int m_closing[kNetLinksMax];
    int m_closingCount;
    struct MenuOutcome {
        uint8_t screen, choice;
        int32_t value;
    };
    MenuOutcome m_menus[kSessionMenusKept];
    int m_menuFirst, m_menuCount;
    int m_menusBeforeStart;
    NetMessage m_scratch;  // decoded incoming message (large; kept off the stack)
};

// Seat kinds and player types: the type a seat plays as (held: a machine
// holds the remote seat), and the kinds' names on the command line.
int8_t SeatPlayerType(uint8_t kind, bool held);
const char* SeatKindName(uint8_t kind);
int SeatKindByName(const char* name);  // -1 for an unknown name
