// The online protocol: every message the machines of an online match send
// each other, with one encoder and one decoder. Everything that arrives is
// hostile until the decoder has checked it: the header and version, every
// length, count, seat, frame and name, and that nothing trails the message.
//
// A message: u8 'T', u8 kNetProtocolVersion, u8 type, then the type's body,
// little-endian. Texts are u8 length + printable ASCII bytes.
//   HELLO       u8 watch, u8 seats wanted, u32 data digest[4], u32 machine key, text version,
//               text name                        (joining machine -> host, resent until welcomed)
//   REFUSE      text reason                     (host -> joining machine, then it is closed)
//   WELCOME     u8 machine number, u8 seat bits
//   LOBBY       u8 seat kind[4], u8 seat holder[4], u8 machine count,
//               per machine: u8 number, u16 rtt ms, u8 seat bits, text name
//   ROUND_START u32 round id, u32 seed, u8 phase[5], u8 scroll play, u16 round counter,
//               i32 selected stage, i32 stage count, text stage file, i32 bgm,
//               u16 setting count, i32 settings[count], per seat: i8 type, i32 total score,
//               u16 match counter, i32 end frame, i32 end second; u16 delay frames
//   FRAMES      u32 round id, i32 from frame, i32 final through frame, u32 input ack,
//               u16 event count, events          (host -> machines, unreliable)
//   INPUT       u32 round id, i32 have through frame, u32 first sequence number,
//               u16 input count, inputs          (machine -> host, unreliable)
//   DIGEST      u32 round id, i32 frame, u32 digest
//   STOP        u32 round id, i32 frame, u8 why, u32 the host's state digest at the frame, text
//               message                          (host -> the one machine whose round stops)
//   MENU        u8 screen, u8 choice, i32 value
//   PING, PONG  u32 stamp ms
//   BYE         (nothing)
//   FILES       u8 part, u16 file count, u16 first, u8 count, u32 file digest[count]
//               (host -> a machine refused for its data set: the part's files one by one)
// An event or input: i32 frame, u8 kind, u8 seat, u16 value.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/seats.h"

constexpr uint8_t kNetMagic = 'T';
// Raised also when machines of two builds would play the same round apart,
// so that they refuse each other: 3 counts ground as "MASTER COM" now does
// on the stage that sprinkles dots.
constexpr uint8_t kNetProtocolVersion = 3;
constexpr uint16_t kNetDefaultPort = 26471;
// The data set is compared in parts, so that a refusal can name what differs.
enum NetDataPart : uint8_t { DATA_STAGES, DATA_PICTURES, DATA_SOUNDS, DATA_MUSIC, kNetDataParts };
const char* NetDataPartName(int part);
// Limits. A message fits one datagram well below the usual path MTU.
constexpr size_t kNetMessageMax = 1200;
constexpr int kNetMachinesMax = 8;  // the host and up to seven joining machines or spectators
// Connections that have not said hello yet are counted apart from the
// machines; one more than this may arrive, and then the oldest goes. A
// machine's number names its connection, so numbers run past the machines.
constexpr int kNetGreetingMax = 4;
constexpr int kNetLinksMax = kNetMachinesMax + kNetGreetingMax + 1;
// A data set part's files, each with its own digest, for a refusal that names
// the file that differs.
constexpr int kNetDataFilesMax = 1024;
constexpr int kNetFilesPerMessage = 250;
constexpr int kNetTextMax = 160;
constexpr int kNetNameMax = 24;
constexpr int kNetVersionMax = 32;
constexpr int kNetSettingsMax = 64;
constexpr int kNetEventsPerMessage = 120;
constexpr int kNetInputsPerMessage = 64;
constexpr int32_t kNetFrameMax = 60 * 1000 * 1000;  // as the longest replay
constexpr uint16_t kNetDelayFramesMax = 2000;
// Bounded rates: a machine sending more messages than this in a second is
// closed; a seat's presses beyond this per second are dropped.
constexpr int kNetMessagesPerSecondMax = 600;
constexpr int kNetPressesPerSecondMax = 40;

enum NetMessageType : uint8_t {
    NET_HELLO = 1,
    NET_REFUSE,
    NET_WELCOME,
    NET_LOBBY,
    NET_ROUND_START,
    NET_FRAMES,
    NET_INPUT,
    NET_DIGEST,
    NET_STOP,
    NET_MENU,
    NET_PING,
    NET_PONG,
    NET_BYE,
    NET_FILES,
    NET_TYPE_END,
};

// What happens at a frame of the lockstep stream, in the order a frame
// meets them (the order of the values).
enum NetEventKind : uint8_t {
    NEV_DELAY = 1,     // from this frame on, presses are stamped value frames ahead
    NEV_TAKEOVER = 2,  // the seat becomes a "NORMAL COM" (its machine dropped out)
    NEV_PAUSE = 3,     // the seat asked for the pause menu
    NEV_WAIT = 4,      // WAIT becomes value
    NEV_TICK = 5,      // the one-second clock ticks
    NEV_PRESS = 6,     // the seat's presses, value = SEAT_* bits
    NEV_KIND_END,
};

struct NetEvent {
    int32_t frame;
    uint8_t kind;
    uint8_t seat;
    uint16_t value;
    bool operator==(const NetEvent&) const = default;
};

// Seat kinds as the host sets them (--seats, the lobby).
enum SeatKind : uint8_t {
    SEAT_LOCAL,
    SEAT_REMOTE,
    SEAT_EASY,
    SEAT_NORMAL,
    SEAT_HARD,
    SEAT_MASTER,
    SEAT_NON,
    SEAT_KIND_END
};
constexpr uint8_t kNoHolder = 0xFF;

// Why a round stopped: this machine parted from the host's state, the host
// is gone, the host let this machine go (it stopped answering, or was
// removed), or this machine left.
enum NetStopWhy : uint8_t { STOP_DESYNC = 1, STOP_HOST_LEFT, STOP_LET_GO, STOP_LEFT, STOP_WHY_END };

// The screens whose outcome the host sends (MENU).
enum NetScreen : uint8_t {
    SCREEN_INTRO = 1,
    SCREEN_SELECTOR,
    SCREEN_RESULT,
    SCREEN_PAUSE,
    SCREEN_LOBBY,
    SCREEN_STANDINGS,
    SCREEN_END
};

struct NetMachineInfo {
    uint8_t number;
    uint16_t rttMs;
    uint8_t seatBits;
    char name[kNetNameMax + 1];
};

// The start record of a round as the host sends it: what the replay header
// holds, plus the standings a machine that joined late does not have.
struct NetRoundStart {
    uint32_t roundId;
    uint32_t seed;
    uint8_t phase[kPhaseCounters];
    uint8_t scrollPlay;
    uint16_t roundCounter;
    int32_t selectedStage;
    int32_t stageCount;
    char stageFile[255];
    int32_t bgm;
    uint16_t settingCount;
    int32_t settings[kNetSettingsMax];
    int8_t seatTypes[kPlayers];
    int32_t totalScores[kPlayers];
    uint16_t matchCounters[kPlayers];
    // Where each seat's last round ended for it: an empty seat keeps its
    // value and scoring compares it, so every machine must have the same.
    int32_t endFrames[kPlayers];
    int32_t endSeconds[kPlayers];
    uint16_t delayFrames;
};

// A decoded message: the fields its type uses are set.
struct NetMessage {
    uint8_t type;
    // HELLO
    uint8_t watch;
    uint8_t seatsWanted;
    uint32_t dataDigests[kNetDataParts];
    uint32_t key;  // a number the joining machine keeps while it runs: the host knows it again
    char version[kNetVersionMax + 1];
    char name[kNetNameMax + 1];
    // REFUSE, STOP
    char text[kNetTextMax + 1];
    // WELCOME
    uint8_t machine;
    uint8_t seatBits;
    // LOBBY
    uint8_t seatKinds[kPlayers];
    uint8_t seatHolders[kPlayers];
    uint8_t machineCount;
    NetMachineInfo machines[kNetMachinesMax];
    // ROUND_START
    NetRoundStart start;
    // FRAMES, INPUT, DIGEST, STOP
    uint32_t roundId;
    int32_t frame;       // FRAMES: from frame; INPUT: have through; DIGEST, STOP: the frame
    int32_t finalFrame;  // FRAMES: final through
    uint32_t sequence;   // FRAMES: input ack; INPUT: first sequence number
    uint16_t eventCount;
    NetEvent events[kNetEventsPerMessage];
    uint32_t digest;  // DIGEST: the machine's; STOP: the host's
    uint8_t why;
    // MENU
    uint8_t screen;
    uint8_t choice;
    int32_t value;
    // PING, PONG
    uint32_t stampMs;
    // FILES
    uint8_t part;
    uint16_t fileCount;
    uint16_t firstFile;
    uint8_t fileDigestCount;
    uint32_t fileDigests[kNetFilesPerMessage];
};

enum NetDecodeResult : uint8_t {
    NET_DECODE_OK,
    NET_DECODE_FOREIGN,    // not this game's protocol
    NET_DECODE_VERSION,    // another protocol version
    NET_DECODE_OVERSIZED,  // longer than any message
    NET_DECODE_TRUNCATED,  // shorter than its content says
    NET_DECODE_MALFORMED,  // a value out of range, bytes left over
};
const char* NetDecodeText(NetDecodeResult result);

// Writes a message; returns its size, or 0 when a field is out of range or
// it does not fit into capacity (the encoder refuses what the decoder would).
size_t EncodeNetMessage(const NetMessage& message, uint8_t* out, size_t capacity);
// Reads a message, checking everything; out is fully written on NET_DECODE_OK.
NetDecodeResult DecodeNetMessage(const uint8_t* bytes, size_t size, NetMessage* out);

// A text fit for a name, a version or a message: printable ASCII only.
bool NetTextOk(const char* text, size_t max);
// A stage picture name that may be looked up in the data set: a plain file
// name, no folder parts, no "..", not absolute.
bool NetPlainFileName(const char* name);
