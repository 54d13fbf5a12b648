// Replays. A round is a pure function of what it starts from (the random
// generator, the settings, the seats, the stage entry, the play mode, the
// phase counters) and of the few things that reach it from outside while it
// runs: the frames at which the one-second clock ticked, WAIT changes (pacing
// only) and the human seats' presses. A replay keeps exactly those, and plays
// the round back through the round's own code, substituting the recorded
// ticks and presses as the round's input of each frame (FrameInput), in
// place of this machine's keys and clock.
//
// File layout, little-endian:
//   header  "NUVELRPL", u16 version, u16 0, u32 body bytes, u32 CRC-32 of the body
//   body    u32 generator state at round start, u8 phase counters[5],
//           u8 scroll play, u16 round counter,
//           u16 setting count, i32 value per setting (settings table order;
//             a replay from before a setting was added holds fewer),
//           u16 stage index, i32 stage count when the stage was drawn at random (else 0),
//           stage entry: u8 length + title, u8 length + picture file,
//             u16 start x[4], start y[4], heading[4], i32 scope[4], u16 effect,
//             per seat: u8 gift count, then (u16 kind, i32 count) per gift,
//           i32 last frame, i32 last second, u32 CRC-32 of the final field
//             (and from version 3 on of the last second after it),
//           u32 event bytes, events
// An event is a LEB128 frame distance from the previous event, then a byte:
//   1..31  seat presses: seat x 8 + SEAT_* bits (never 0 bits)
//   32     the clock ticked; u32 generator state at that moment (a divergence check)
//   33     WAIT changed; u16 new value
//   34     the seat plays as "NORMAL COM" from this frame on (its machine left
//          an online round); u8 seat 0..3
// Events of one frame come in the order the round meets them: seats taken
// over (by seat), WAIT, tick, seats 0..3.
//
// Versions: 4 is written, in the layout of 3. From version 3 on the final
// checksum also covers the round's last second (u32, after the field rows),
// so that playback checks the second count the round ended on, which the
// field alone does not show; versions 1 and 2, of the same layout
// otherwise, check the field only. The older ones are read and played back
// by the rules they were recorded under, so that each shows its own round:
// version 1 was recorded while a line killed in a frame still read its keys
// and used its item in that frame (RoundStart::oldDeathRule); versions 1 and
// 2 while "MASTER COM" saw the whole field in scroll play and settled equal
// choices always the same way (RoundStart::oldMasterRule); versions 1 to 3
// while it took a field cell with any dot in it as shut
// (RoundStart::oldGroundRule). A file holds the settings the game had when
// it was made; a rule added later (SAFE_STARTS) plays at its default in an
// older file.
#pragma once
#include <cstddef>
#include <cstdint>

#include "match/round.h"
#include "match/settings.h"

class CSession;

constexpr char kReplayMagic[8] = {'N', 'U', 'V', 'E', 'L', 'R', 'P', 'L'};
constexpr uint16_t kReplayVersion = 4;
// The first version whose final checksum covers the last second.
constexpr uint16_t kReplayFirstSecondChecked = 3;
// The last versions recorded under the old death rule and the old way of
// "MASTER COM".
constexpr uint16_t kReplayLastOldDeathRule = 1;
constexpr uint16_t kReplayLastOldMasterRule = 2;
// The last version recorded while "MASTER COM" shut every dotted cell.
constexpr uint16_t kReplayLastOldGroundRule = 3;
constexpr size_t kReplayHeaderBytes = 20;
// The input of one round is kept in a fixed buffer: a clock tick takes about
// 7 bytes a second and a press 2 bytes, so this holds hours of play. A round
// whose input does not fit is simply not kept.
constexpr size_t kReplayEventCapacity = 64 * 1024;
// Gift records per seat that a replay can carry (stage lists give a few).
constexpr int kReplayGiftsPerSeat = 32;
// Everything but the events fits in this many bytes.
constexpr size_t kReplayFixedBytesMax = 4096;
constexpr size_t kReplayFileMax = kReplayHeaderBytes + kReplayFixedBytesMax + kReplayEventCapacity;
// A round longer than this is refused by the reader (about 40 hours at WAIT 80).
constexpr int32_t kReplayFramesMax = 60 * 1000 * 1000;
constexpr int kReplaysKept = 20;
constexpr char kReplayFolder[] = "replays";
constexpr char kReplayExtension[] = ".rpl";

enum : uint8_t {
    REPLAY_EVENT_SEATS_LAST = 31,
    REPLAY_EVENT_TICK = 32,
    REPLAY_EVENT_WAIT = 33,
    REPLAY_EVENT_TAKEOVER = 34,
};

struct ReplayGift {
    uint16_t kind;
    int32_t count;
};

// The stage entry the round was played on, as plain data.
struct ReplayStage {
    char title[31];
    char file[255];
    uint16_t startX[kPlayers], startY[kPlayers], startHeading[kPlayers];
    int32_t scope[4];
    uint16_t effect;
    uint8_t giftCount[kPlayers];
    ReplayGift gifts[kPlayers][kReplayGiftsPerSeat];
};

struct ReplayData {
    // The file version it was recorded in (1..kReplayVersion); the writer
    // keeps it, so a file read and written again is the same file.
    uint16_t version;
    uint32_t seed;
    uint8_t phase[5];
    uint8_t scrollPlay;
    uint16_t roundCounter;
    // Settings added to the game later than a replay was made are not in
    // it: a replay holds the first settingCount of the settings table.
    uint16_t settingCount;
    int32_t settings[S_COUNT];
    uint16_t stageIndex;
    int32_t randomStageCount;
    ReplayStage stage;
    int32_t lastFrame;
    int32_t lastSecond;
    uint32_t fieldChecksum;
    uint32_t eventBytes;
    uint8_t events[kReplayEventCapacity];
};

// Why a file could not be taken as a replay.
enum ReplayReadResult {
    REPLAY_READ_OK,
    REPLAY_UNOPENED,  // the file could not be opened or read
    REPLAY_EMPTY,
    REPLAY_FOREIGN,        // not a replay of this game
    REPLAY_NEWER,          // a version this program does not know
    REPLAY_TRUNCATED,      // shorter than its header says
    REPLAY_OVERLONG,       // longer than its header says, or than any replay can be
    REPLAY_DAMAGED,        // the content checksum does not match
    REPLAY_MALFORMED,      // the checksum holds but a value is out of range
    REPLAY_SETTING_RANGE,  // a setting lies outside its range (named by ReplayReadMessage)
};
const char* ReplayReadText(ReplayReadResult result);
// The whole message for a file that could not be read: its name, why, and
// for settings out of range the setting and its range. data is what the
// reader filled in.
void ReplayReadMessage(const char* name, ReplayReadResult result, const ReplayData& data, char* text, size_t size);

// Writes the file form in the data's own version; returns its size, 0 when
// out is too small or the version is none this program knows.
size_t EncodeReplay(const ReplayData& data, uint8_t* out, size_t capacity);
// Reads the file form, checking every length against the size.
ReplayReadResult DecodeReplay(const uint8_t* bytes, size_t size, ReplayData* out);
// Reads a file named by a path of the file system (not a game path).
ReplayReadResult LoadReplayFile(const char* path, ReplayData* out);

// One event of the stream: frame, kind byte and its value (generator state or WAIT).
struct ReplayEvent {
    int32_t frame;
    uint8_t kind;
    uint32_t value;
};
// Reads the event at *offset and moves past it; false at the end or on a
// malformed event (the reader has checked the stream, so only at the end).
bool NextReplayEvent(const ReplayData& data, size_t* offset, int32_t previousFrame, ReplayEvent* event);

// CRC-32 of the playfield rows (16..431) of the surface the round draws into.
uint32_t FieldChecksum();
// The final checksum of a replay of this version: the field's, continued
// over the round's second count from version 3 on.
uint32_t FinalChecksum(uint16_t version);

// ---- recording and playback ------------------------------------------------

class CReplay {
public:
    CReplay();

    // Recording: the round loop (and the match runner) call these around a round.
    // seedBefore is the generator state before CRound::Setup.
    void BeginRecording(uint32_t seedBefore);
    // The round ended normally: the record is complete and becomes the last round.
    void EndRecording();
    void AbandonRecording() { m_recording = false; }
    // An online round the session stopped: it stops at the start of a frame,
    // after the frame counter moved on and before the frame ran, so the record
    // ends with the frame before (a playback runs every frame through the
    // last). A frame that recorded something before the stop stays the last.
    // Call before KeepStoppedRound.
    void EndStoppedRecording();
    // Writes the last round into replays/ under its date and time and keeps
    // only the newest kReplaysKept files there; false when nothing was
    // written. A file that could not be written sets lastNotSaved and is
    // said on stderr, once a match.
    bool SaveLast();
    // A match begins: a replay that cannot be written is said again.
    void NewMatch() { m_notSavedSaid = false; }
    // An online round that the session stopped on this machine (it parted
    // from the host, was let go, or lost the host): its record up to the stop
    // is kept like a finished round's, with a text file beside it (same name,
    // .txt) that holds the note: the stop message and the state digests there
    // are for it, so that the machines' files can be compared.
    bool KeepStoppedRound(const char* note);

    // The frame's input in playback: the recorded seats taken over, WAIT,
    // tick and presses of this frame; Escape stops watching.
    void PlaybackInput(int32_t frame, FrameInput* input);
    // After a frame ran on `given`, which left `used` (the presses of seats
    // that acted): recording keeps it; playback checks that the round used
    // every recorded press, else it went another way than the recording.
    void FrameDone(const FrameInput& given, const FrameInput& used);

    bool Playing() const { return m_play != nullptr; }
    void StartPlayback(const ReplayData* data);
    void StopPlayback() { m_play = nullptr; }
    // The playback left the recording (a tick or press the round did not meet).
    bool Diverged() const { return m_diverged; }
    bool AllEventsUsed() const { return m_play && m_offset >= m_play->eventBytes; }

    // The last round recorded (valid once a recorded round ended normally).
    ReplayData last;
    bool lastValid;
    // The game keeps its rounds in replays/; tests and the runner turn this off.
    bool saveFiles;
    // Whether rounds are recorded at all (the runner records only when asked).
    bool enabled;
    // The file name the last save used (a game path), for messages.
    char lastSavedName[64];
    // The last round ended normally, but its file could not be written.
    bool lastNotSaved;
    // An online round: the session whose stream is the round's input
    // (online/onlineround.h); null otherwise.
    CSession* feed;

    // Exchanges the recorder's whole state with another recorder, copying
    // only the part of the event buffers in use (the match runner keeps one
    // recorder per simulated machine and swaps it in around each frame).
    void Exchange(CReplay& other);

private:
    bool WriteLast();
    bool Append(uint8_t kind, const uint8_t* payload, size_t payloadBytes);
    bool PeekEvent(ReplayEvent* event) const;
    // Moves past the event PeekEvent gave.
    void TakeEvent(ReplayEvent* event);
    void Record(const FrameInput& used);

    bool m_notSavedSaid;
    bool m_recording;
    bool m_overflowed;
    int32_t m_lastEventFrame;
    int32_t m_lastWait;

    const ReplayData* m_play;
    size_t m_offset;
    int32_t m_playFrame;  // frame of the last event consumed
    bool m_diverged;
};

extern CReplay theReplay;

// Removes what replay writes stopped half-way left in replays/ before
// startedNs (wall clock, as plat::ModifiedNs): called once at start-up.
void RemoveStaleReplayWrites(int64_t startedNs);
