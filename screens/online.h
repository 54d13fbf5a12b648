// COnline: online play as the player meets it. The online screen (from the
// title), the join address and host port prompts, the lobby, the match loops
// of the host and of a joining machine, and the glue that moves the lockstep
// session's messages over the network transport. The round itself never
// sees the network: it takes its input from the session (online/onlineround.h).
#pragma once
#include <cstdint>

#include "match/settings.h"
#include "match/stage.h"
#include "net/netproto.h"
#include "net/serverlink.h"
#include "net/session.h"

// What the command line or the online screen asks for.
struct OnlinePlan {
    enum Mode : uint8_t { NONE, HOST, JOIN } mode = NONE;
    bool watch = false;
    uint16_t port = kNetDefaultPort;
    char address[128] = "";  // HOST or HOST:PORT, or an invite code when a match server is set
    // The match server (HOST or HOST:PORT) for this start; empty: the
    // settings file's MATCH_SERVER, if any.
    char server[kMatchServerTextMax] = "";
    bool isPublic = false;  // host, with a match server: the room list shows the match
    bool byCode = false;    // join: address holds an invite code
    uint8_t seatKinds[kPlayers] = {SEAT_LOCAL, SEAT_REMOTE, SEAT_NORMAL, SEAT_NON};
    char name[kNetNameMax + 1] = "";
    bool allowSeveralSeats = false;  // host: a joining machine may take more than one remote seat
    uint8_t seatsWanted = 1;         // joining: the remote seats this machine asks for
};

// Reads "local,remote,easy,non" into four seat kinds; false when it is not that.
bool ParseSeatKinds(const char* text, uint8_t* kinds);
// The match server this machine uses: the plan's, else the settings file's;
// "" for none (online play goes straight to an address only).
const char* MatchServerText(const OnlinePlan& plan);
// A join by invite code, with a match server: the code, normalised.
bool JoinsByCode(const OnlinePlan& plan, char* code /* [kRvCodeLength + 1] */);
// Splits HOST[:PORT]; false for an empty host or a bad port.
bool ParseAddress(const char* text, char* host, size_t hostSize, uint16_t* port);
// The data set's digests, part by part (stage list and stages, pictures,
// sounds, music): two machines play together only with the same.
void DataSetDigests(uint32_t* digests);
// The files of a data set part in the order every machine lists them, each
// with a digest of its name and content and its name as the player reads it
// (folders split by '/'); the part's digest is made from these. Returns how
// many there are (at most max).
constexpr int kDataFileNameMax = 64;
int DataPartFiles(int part, uint32_t* digests, char (*names)[kDataFileNameMax], int max);
// The first file of a part whose digest differs from the host's list, as
// "STAGE/STAGE.TXT DIFFERS FROM THE FILE ON THE HOST."; false when they agree.
bool DifferingFileText(int part, const uint32_t* hostDigests, int hostCount, char* text, size_t size);

// An online line editor's text and cursor: Left and Right, Home and End move,
// Backspace and Delete take a character away, a character goes in at the
// cursor. Empty, it offers a suggestion (greyed) that Tab or Return takes.
struct LineEdit {
    char text[128];
    size_t cursor;
    const char* suggestion;
    bool digitsOnly;
    // One frame's keys; 1 when the line is accepted (Return), -1 when left
    // (Escape), 0 to go on.
    int Keys();
};

class COnline {
public:
    COnline();

    // From the command line: straight to the host's lobby or a join; back to
    // the caller (the title) when the player leaves or the host is gone, to
    // the online screen when the host let this machine go.
    void Launch(const OnlinePlan& plan);
    // From the title: the online screen.
    void Run();

    // The match loop's online steps. The intro shows the seats as they will
    // play; the host's chosen round starts on every machine; a joining
    // machine follows the host's screens to its next round (false: the
    // match is over for it).
    void ShowSeatsAsTheyPlay();
    void HostRoundStarts(const RoundStart& chosen);
    bool FollowHostToRound(RoundStart* chosen);

    // The transport glue, run by every message pump while a session is open.
    void Pump();
    // How the round waits for a frame's events: pumps and idles a little.
    bool Wait();
    // The host's pause menu decides for every machine.
    uint8_t Pause();

    OnlinePlan plan;
    CSession session;

private:
    bool Open();
    void Close();
    void Lobby();
    bool ClientLobbyGoesOn(uint32_t openedMs);
    void HostKeys(int* cursor);
    int LobbyMachines(int* numbers) const;
    bool CanStartMatch(char* why, size_t size) const;
    void DrawLobby(int cursor);
    void EndNote();
    void HostMatch();
    void ClientMatch();
    bool ClientRoundStarts(RoundStart* chosen);
    void BeginMatch();
    void EndMatch();
    bool OpenServerLink(const char* code, const char* name);
    void PumpLink(uint32_t nowMs);
    void LinkFailed();
    bool LinkLobbyGoesOn();
    void ConnectedKind(int machine, int peer);
    bool RoomListScreen();
    bool PromptCode();
    bool PromptAddress();
    bool PromptPort();
    bool EditLine(const char* title, LineEdit* line);
    void ShowMessage(const char* text);
    void TakeNotices();
    int MachineOfPeer(int peer) const;
    int PeerOfMachine(int machine) const;

    int m_hostPeer;
    uint32_t m_lastPumpMs;
    bool m_open;
    char m_note[kNetTextMax + 1];
    char m_lastAddress[128];
    int32_t m_savedSettings[S_COUNT];

    // The match server: the room this host registered, or the path a joining
    // machine opens to its host; how each machine came (RvKind, 0: straight
    // to the address, no server).
    CServerLink m_link;
    bool m_linked;
    bool m_linkLossSaid;
    uint8_t m_kinds[kNetLinksMax];
    uint32_t m_codeEnteredMs;
    bool m_lobbyReached;
    RvRoomInfo m_roomShown;
};

extern COnline theOnline;
