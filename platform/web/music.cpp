// The music in a page. Browsers have no MIDI synthesizer of their own, so
// each piece is rendered when the site is built, by the desktop's own
// synthesizer and sound font, into a compressed file the page decodes
// (music/<piece>.ogg beside the page). A list made with them gives each
// piece's length in frames at 44.1 kHz, the length the synthesizer plays.
//
// The end of a piece is kept on the game's clock from that length, so it is
// reported on time whether or not the audio has arrived, been decoded or can
// be heard at all, as a piece without a sound font is on the desktop.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/audio.h"
#include "platform/midi.h"
#include "platform/platform_internal.h"
#include "platform/web/web.h"

namespace plat {

namespace {

// The list of rendered pieces in the page's data file: "<file> <frames>" a line.
constexpr char kPieceList[] = "/web/music.txt";
constexpr int kMostPieces = 64;
constexpr size_t kNameSize = 64;

struct Piece {
    char name[kNameSize];  // the MIDI file's name, as in the game folder
    uint64_t frames;
};

struct MusicState {
    bool running = false;
    Piece pieces[kMostPieces];
    int pieceCount = 0;
    const Piece* piece = nullptr;  // the loaded piece
    bool playing = false;
    bool notify = false;
    bool ended = false;
    uint64_t endNs = 0;  // on the platform's clock
};
MusicState m;

void ReadPieceList() {
    m.pieceCount = 0;
    FILE* f = fopen(kPieceList, "r");
    if (!f) return;
    char line[160];
    while (m.pieceCount < kMostPieces && fgets(line, sizeof line, f)) {
        Piece& p = m.pieces[m.pieceCount];
        unsigned long long frames = 0;
        if (sscanf(line, "%63s %llu", p.name, &frames) == 2 && frames > 0) {
            p.frames = frames;
            m.pieceCount++;
        }
    }
    fclose(f);
}

// The piece of a game path ("Bgm\NAME.mid"): its last component, in any case.
const Piece* FindPiece(const char* gamePath) {
    const char* base = gamePath;
    for (const char* c = gamePath; *c; c++)
        if (*c == '\\' || *c == '/') base = c + 1;
    for (int i = 0; i < m.pieceCount; i++)
        if (strcasecmp(m.pieces[i].name, base) == 0) return &m.pieces[i];
    return nullptr;
}

// A Standard MIDI File starts with its header chunk.
bool LooksLikeMidi(const char* gamePath) {
    FILE* f = OpenFile(gamePath, "rb");
    if (!f) return false;
    char head[4] = {};
    bool midi = fread(head, 1, 4, f) == 4 && memcmp(head, "MThd", 4) == 0;
    fclose(f);
    return midi;
}

void StartPiece(int passes, bool notify) {
    if (!m.running || !m.piece) return;
    MidiStop();
    const uint64_t pieceNs = m.piece->frames * 1000000000ull / kAudioRateHz;
    m.playing = true;
    m.notify = notify;
    // A play of very many passes (a loop for good) never ends.
    const uint64_t mostPasses = (UINT64_MAX / 2) / (pieceNs + 1);
    m.endNs = uint64_t(passes) < mostPasses ? MonotonicNs() + pieceNs * uint64_t(passes) : UINT64_MAX;
    web_music_play(m.piece->name, passes);
}

}  // namespace

void MusicPoll() {
    if (!m.playing || MonotonicNs() < m.endNs) return;
    m.playing = false;
    if (m.notify) {
        m.notify = false;
        m.ended = true;
        PostMessage(Message{MSG_MUSICNOTIFY, 1, 0});
    }
}

bool MidiInit() {
    if (m.running) return true;
    if (!AudioOpen()) return false;
    ReadPieceList();
    m.running = true;
    return true;
}

void MidiShutdown() {
    MidiUnload();
    if (m.running) AudioClose();
    m.running = false;
}

// The pieces were rendered with the desktop's sound font; the page has none.
const char* MidiSoundFont() { return m.running && m.pieceCount > 0 ? "rendered" : ""; }

void MidiUseSoundFont(const char*) {}

void MidiSetLevel(int32_t milliBel) { web_music_level(MilliBelToGain(milliBel)); }

bool MidiLoad(const char* gamePath) {
    MidiUnload();
    const Piece* piece = FindPiece(gamePath);
    if (!piece || !LooksLikeMidi(gamePath)) return false;
    m.piece = piece;
    if (m.running) web_music_load(piece->name);
    return true;
}

bool MidiCanPlay() { return m.piece != nullptr; }

void MidiPlay(int repeats) {
    constexpr int kMostRepeats = 1 << 30;
    StartPiece(repeats < 0 ? 1 : std::min(repeats, kMostRepeats) + 1, false);
}

void MidiPlayNotify() { StartPiece(1, true); }

void MidiStop() {
    web_music_stop();
    m.playing = false;
    m.notify = false;
    m.ended = false;
}

void MidiUnload() {
    MidiStop();
    m.piece = nullptr;
}

bool MidiIsPlaying() { return m.playing; }

bool MidiEnded() { return m.ended; }

}  // namespace plat
