// The match server's protocol: the datagrams a game and the match server send
// each other, and the ones two games send each other to open a path through
// their routers. One encoder and one decoder; everything that arrives is
// hostile until the decoder has checked every length, count, code and text.
//
// These datagrams travel on the very socket that carries the game's own
// transport, so that the server sees the address the game's peers will see.
// They start with 0xFF 0xFF, which the transport never sends first: its first
// two bytes hold a peer number with flag bits, and the one peer number that
// fills the low twelve bits (4095, "no peer yet") never comes with session
// bits. A game hands such datagrams here and the rest to its transport.
//
// A datagram: u8 0xFF, u8 0xFF, u8 'N', u8 kRvVersion, u8 type, body, little-endian.
// Texts are u8 length + printable ASCII; an address is u32 IPv4 + u16 port;
// a code is 6 bytes of the invite alphabet.
//   game -> server (main port)
//     HELLO        u64 nonce, u8 zero[24]          (padding: the answer is never larger)
//     HOST         u64 cookie, u32 stamp, room info, text name
//     UPDATE       u64 cookie, u32 stamp, room info              (a host's keep-alive)
//     ALIVE        u64 cookie, u32 stamp, u16 rtt ms              (anyone else's)
//     JOIN         u64 cookie, u32 stamp, code, u8 flags, text name
//     CONNECTED    u64 cookie, u32 stamp, u32 join id, u8 kind
//     LIST         u64 cookie, u32 stamp, u16 first
//     PROBE_REPLY  u64 cookie, u64 probe nonce
//     BYE          u64 cookie
//   server -> game
//     COOKIE       u64 nonce, u64 cookie, address as seen          (the only answer before the cookie)
//     ROOM         u32 stamp, code
//     ACK          u32 stamp
//     REFUSED      u32 stamp, u8 why
//     REDIRECT     u32 stamp, address of the server holding the room
//     JOINED       u32 stamp, u32 join id, host address, u8 direct, relay, u64 punch nonce
//     INTRODUCE    u32 join id, joiner address, relay, u64 punch nonce, text name   (to the host)
//     LIST_PAGE    u32 stamp, u16 total, u16 first, u8 count, per room: code, room info, text name
//     CLOSING      u8 why
//     PROBE        u64 probe nonce                                 (from another port)
//   game -> game
//     PUNCH        u64 punch nonce, u32 join id, u8 answer
//   host <-> server (a relay port)
//     BIND         u64 relay token, u64 answer, u8 zero[8]  (answer 0: asking for a challenge)
//     CHALLENGE    u64 challenge
//     BOUND        u8 ready                         (also to the joining machine, from the main port)
// Room info: u8 public, u8 seats total, u8 seats free, u16 round, u16 host rtt ms.
// Relay: u16 port (0: none), u64 token.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/netaddress.h"

constexpr uint8_t kRvMagic0 = 0xFF, kRvMagic1 = 0xFF, kRvMagic2 = 'N';
constexpr uint8_t kRvVersion = 1;
constexpr uint16_t kRvDefaultPort = 26470;
constexpr size_t kRvHeaderBytes = 5;
constexpr size_t kRvMessageMax = 1200;
constexpr size_t kRvHelloPadding = 24;
constexpr size_t kRvBindPadding = 8;
constexpr int kRvNameMax = 24;
constexpr int kRvListPageMax = 20;
constexpr int kRvSeatsMax = 8;

// Invite codes: six characters of an alphabet without look-alikes (no 0/O,
// no 1/I/L), so a code read aloud or from a screen is typed right.
constexpr int kRvCodeLength = 6;
constexpr char kRvCodeAlphabet[] = "23456789ABCDEFGHJKMNPQRSTUVWXYZ";
constexpr int kRvCodeAlphabetSize = sizeof kRvCodeAlphabet - 1;
bool RvCodeCharOk(char c);
// A code as typed: lower case is taken as upper case, spaces and dashes are
// skipped. False unless six characters of the alphabet remain.
bool RvNormaliseCode(const char* typed, char* code /* [kRvCodeLength + 1] */);

enum RvType : uint8_t {
    RV_HELLO = 1,
    RV_HOST,
    RV_UPDATE,
    RV_ALIVE,
    RV_JOIN,
    RV_CONNECTED,
    RV_LIST,
    RV_PROBE_REPLY,
    RV_BYE,
    RV_COOKIE,
    RV_ROOM,
    RV_ACK,
    RV_REFUSED,
    RV_REDIRECT,
    RV_JOINED,
    RV_INTRODUCE,
    RV_LIST_PAGE,
    RV_CLOSING,
    RV_PROBE,
    RV_PUNCH,
    RV_BIND,
    RV_CHALLENGE,
    RV_BOUND,
    RV_TYPE_END,
};

// How a joining machine reached the host.
enum RvKind : uint8_t { RV_KIND_DIRECT = 1, RV_KIND_PUNCHED, RV_KIND_RELAYED, RV_KIND_END };
const char* RvKindName(uint8_t kind);  // "DIRECT", "PUNCHED", "RELAYED"

// Why the server refused a request.
enum RvRefusal : uint8_t {
    RV_NO_SUCH_MATCH = 1,
    RV_TOO_MANY_WRONG_CODES,
    RV_SERVER_FULL,
    RV_RELAY_FULL,
    RV_REFUSAL_END,
};
const char* RvRefusalText(uint8_t why);

// Why the server ends a machine's place on it.
enum RvClosing : uint8_t { RV_CLOSE_STOPPING = 1, RV_CLOSE_TIMED_OUT, RV_CLOSE_ROOM_GONE, RV_CLOSING_END };
const char* RvClosingText(uint8_t why);

// JOIN flags.
enum : uint8_t { RV_JOIN_RELAY_ONLY = 1 };

struct RvRoomInfo {
    uint8_t isPublic;
    uint8_t seatsTotal;
    uint8_t seatsFree;
    uint16_t round;
    uint16_t hostRttMs;
    bool operator==(const RvRoomInfo&) const = default;
};

struct RvListedRoom {
    char code[kRvCodeLength + 1];
    RvRoomInfo info;
    char name[kRvNameMax + 1];
};

// A decoded message: the fields its type uses are set, the others zero.
struct RvMessage {
    uint8_t type;
    uint64_t nonce;                // HELLO, COOKIE; PROBE, PROBE_REPLY; JOINED, INTRODUCE, PUNCH (punch nonce)
    uint64_t cookie;               // COOKIE and every request after it
    uint32_t stamp;                // requests and their answers: the asker's clock, echoed
    plat::NetAddress address;      // COOKIE: as seen; REDIRECT: server; JOINED: host; INTRODUCE: joiner
    RvRoomInfo room;               // HOST, UPDATE
    uint16_t rttMs;                // ALIVE
    char code[kRvCodeLength + 1];  // ROOM, JOIN
    uint8_t flags;                 // JOIN
    char name[kRvNameMax + 1];     // HOST, JOIN, INTRODUCE
    uint32_t joinId;               // JOINED, INTRODUCE, CONNECTED, PUNCH
    uint8_t value;        // CONNECTED: kind; REFUSED, CLOSING: why; JOINED: host direct; PUNCH: answer; BOUND: ready
    uint16_t relayPort;   // JOINED: the server's main port; INTRODUCE: the pipe's own port
    uint64_t relayToken;  // JOINED, INTRODUCE, BIND
    uint64_t answer;      // BIND: the challenge answered; CHALLENGE: the challenge
    uint16_t first;       // LIST, LIST_PAGE
    uint16_t total;       // LIST_PAGE
    uint8_t count;        // LIST_PAGE
    RvListedRoom rooms[kRvListPageMax];
};

enum RvDecodeResult : uint8_t {
    RV_DECODE_OK,
    RV_DECODE_FOREIGN,    // not a datagram of this protocol
    RV_DECODE_VERSION,    // another version of it
    RV_DECODE_OVERSIZED,  // longer than any message
    RV_DECODE_TRUNCATED,  // shorter than its content says
    RV_DECODE_MALFORMED,  // a value out of range, bytes left over
};
const char* RvDecodeText(RvDecodeResult result);

// Whether a datagram belongs to this protocol (its first bytes), before it is read.
bool RvIsOurs(const uint8_t* bytes, size_t size);
// Writes a message; its size, or 0 when a field is out of range or it does not
// fit into capacity (the encoder refuses what the decoder would).
size_t EncodeRv(const RvMessage& message, uint8_t* out, size_t capacity);
// Reads a message, checking everything; out is fully written either way.
RvDecodeResult DecodeRv(const uint8_t* bytes, size_t size, RvMessage* out);
// A message with everything zero but its type.
RvMessage RvBlank(uint8_t type);
