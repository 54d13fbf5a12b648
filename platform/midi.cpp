// The MIDI player: a software synthesizer driven by its own Standard MIDI
// File player, rendered by the audio stream's music hook.
//
// The synthesizer and its player are not safe to change while the audio
// thread renders them, so every change is made under the audio lock. The
// piece is kept in memory as read; each play builds a fresh player from it,
// so a play always starts at the top whatever the old player's state was.
//
// The end of a piece is seen on the audio thread by comparing the player's
// tick with the piece's last tick (the player's own "done" state comes much
// later); the pass count tells the last pass of a looped play from the others.
#include "platform/midi.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/audio.h"
#include "platform/platform.h"

namespace plat {

namespace {

constexpr size_t kMaxPieceBytes = 16u << 20;
constexpr double kSynthGain = 0.5;

// Where Debian's General MIDI sound fonts live; default-GM.sf2 is the
// system-wide choice (an alternatives link), the others are the packages'
// own file names.
const char* const kSoundFontPaths[] = {
    "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/GeneralUser_GS.sf2",
    "/usr/share/soundfonts/default.sf2",    "/usr/share/soundfonts/FluidR3_GM.sf2",
};

struct MidiState {
    bool audioHeld = false;
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_player_t* player = nullptr;
    char soundFont[512] = "";
    char chosenFont[512] = "";
    bool fontChosen = false;
    unsigned char* piece = nullptr;  // the loaded file, as read
    size_t pieceBytes = 0;
    // Read and written by the audio thread while a piece plays.
    bool playing = false;
    bool notify = false;
    bool ended = false;
    int passesLeft = 0;
    int lastTick = 0;
    // The music's own level on top of the synthesizer's gain (1 is full);
    // changed under the audio lock, read by the audio thread.
    float levelGain = 1.0f;
};
MidiState m;

void QuietLog(int, const char*, void*) {}

void SilenceLog() {
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level) fluid_set_log_function(level, QuietLog, nullptr);
}

uint32_t ReadBe32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint16_t ReadBe16(const unsigned char* p) { return uint16_t((p[0] << 8) | p[1]); }

// A Standard MIDI File: an "MThd" header of at least 6 bytes with format
// 0..2, at least one track and a non-zero division, and chunks that all fit
// in the file, among them at least one "MTrk".
bool IsStandardMidiFile(const unsigned char* data, size_t bytes) {
    if (bytes < 14 || std::memcmp(data, "MThd", 4) != 0) return false;
    uint32_t headerBytes = ReadBe32(data + 4);
    if (headerBytes < 6 || headerBytes > bytes - 8) return false;
    if (ReadBe16(data + 8) > 2 || ReadBe16(data + 10) == 0 || ReadBe16(data + 12) == 0) return false;
    size_t at = 8 + headerBytes;
    int tracks = 0;
    while (bytes - at >= 8) {
        uint32_t chunkBytes = ReadBe32(data + at + 4);
        if (chunkBytes > bytes - at - 8) return false;
        if (std::memcmp(data + at, "MTrk", 4) == 0) tracks++;
        at += 8 + chunkBytes;
    }
    return tracks > 0;
}

// Reads a whole file into a new block; nullptr when it cannot be read.
unsigned char* ReadWholeFile(const char* gamePath, size_t* bytes) {
    FILE* f = OpenFile(gamePath, "rb");
    if (!f) return nullptr;
    unsigned char* data = nullptr;
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size > 0 && static_cast<size_t>(size) <= kMaxPieceBytes && std::fseek(f, 0, SEEK_SET) == 0) {
        data = new (std::nothrow) unsigned char[size];
        if (data && std::fread(data, 1, size, f) != static_cast<size_t>(size)) {
            delete[] data;
            data = nullptr;
        }
    }
    std::fclose(f);
    *bytes = data ? static_cast<size_t>(size) : 0;
    return data;
}

const char* FindSoundFont() {
    if (m.fontChosen) return m.chosenFont[0] ? m.chosenFont : nullptr;
    for (const char* path : kSoundFontPaths)
        if (fluid_is_soundfont(path)) return path;
    return nullptr;
}

// Must run under the audio lock.
void DropPlayerLocked() {
    if (m.player) {
        fluid_player_stop(m.player);
        delete_fluid_player(m.player);
        m.player = nullptr;
    }
    if (m.synth) fluid_synth_all_sounds_off(m.synth, -1);
    m.playing = false;
    m.notify = false;
    m.ended = false;
}

// Seen on the audio thread after each rendered block.
void WatchForEnd() {
    if (!m.playing || !m.player) return;
    int total = fluid_player_get_total_ticks(m.player);
    int tick = fluid_player_get_current_tick(m.player);
    if (total <= 0) return;                 // the player has not read the piece yet
    if (tick < m.lastTick) m.passesLeft--;  // a new pass began
    m.lastTick = tick;
    bool lastPass = m.passesLeft <= 1;
    if (!(lastPass && tick >= total) && fluid_player_get_status(m.player) != FLUID_PLAYER_DONE) return;
    m.playing = false;
    if (m.notify) {
        m.notify = false;
        m.ended = true;
        PostMessage(Message{MSG_MUSICNOTIFY, 1, 0});
    }
}

void RenderMusic(float* stereo, int frames) {
    if (!m.synth) {
        std::memset(stereo, 0, sizeof(float) * 2 * frames);
        return;
    }
    fluid_synth_write_float(m.synth, frames, stereo, 0, 2, stereo, 1, 2);
    if (m.levelGain != 1.0f)
        for (int i = 0; i < 2 * frames; ++i) stereo[i] *= m.levelGain;
    WatchForEnd();
}

void StartPiece(int passes, bool notify) {
    if (!m.synth || !m.piece) return;
    // Making the player hooks it into the synthesizer's clock, so it is done
    // under the lock as well; a player is small and quick to make.
    AudioLock();
    DropPlayerLocked();
    m.player = new_fluid_player(m.synth);
    if (m.player && fluid_player_add_mem(m.player, m.piece, m.pieceBytes) == FLUID_OK) {
        fluid_player_set_loop(m.player, passes);
        fluid_player_play(m.player);
        m.playing = true;
        m.notify = notify;
        m.passesLeft = passes;
        m.lastTick = 0;
    }
    AudioUnlock();
}

bool CreateSynth() {
    m.settings = new_fluid_settings();
    if (!m.settings) return false;
    fluid_settings_setnum(m.settings, "synth.sample-rate", kAudioRateHz);
    // The synthesizer's own default level leaves a single note some 30 dB
    // below full scale, far under the effects; the mixer's limiter takes
    // care of dense passages.
    fluid_settings_setnum(m.settings, "synth.gain", kSynthGain);
    // The player is clocked by the rendered samples, not by a timer thread.
    fluid_settings_setstr(m.settings, "player.timing-source", "sample");
    m.synth = new_fluid_synth(m.settings);
    if (!m.synth) return false;
    const char* font = FindSoundFont();
    if (font && fluid_synth_sfload(m.synth, font, 1) != FLUID_FAILED)
        std::snprintf(m.soundFont, sizeof m.soundFont, "%s", font);
    return true;
}

void DeleteSynth() {
    if (m.synth) delete_fluid_synth(m.synth);
    if (m.settings) delete_fluid_settings(m.settings);
    m.synth = nullptr;
    m.settings = nullptr;
    m.soundFont[0] = '\0';
}

}  // namespace

bool MidiInit() {
    if (m.synth) return true;
    SilenceLog();
    if (!AudioOpen()) return false;
    m.audioHeld = true;
    if (!CreateSynth()) {
        DeleteSynth();
        MidiShutdown();
        return false;
    }
    SetMusicRenderer(RenderMusic);
    return true;
}

void MidiShutdown() {
    AudioLock();
    DropPlayerLocked();
    AudioUnlock();
    SetMusicRenderer(nullptr);
    DeleteSynth();
    delete[] m.piece;
    m.piece = nullptr;
    m.pieceBytes = 0;
    if (m.audioHeld) AudioClose();
    m.audioHeld = false;
}

const char* MidiSoundFont() { return m.soundFont; }

void MidiSetLevel(int32_t milliBel) {
    AudioLock();
    m.levelGain = MilliBelToGain(milliBel);
    AudioUnlock();
}

void MidiUseSoundFont(const char* path) {
    m.fontChosen = path != nullptr;
    std::snprintf(m.chosenFont, sizeof m.chosenFont, "%s", path ? path : "");
}

bool MidiLoad(const char* gamePath) {
    MidiUnload();
    size_t bytes = 0;
    unsigned char* data = ReadWholeFile(gamePath, &bytes);
    if (!data) return false;
    if (!IsStandardMidiFile(data, bytes)) {
        delete[] data;
        return false;
    }
    m.piece = data;
    m.pieceBytes = bytes;
    return true;
}

bool MidiCanPlay() { return m.piece != nullptr; }

void MidiPlay(int repeats) {
    constexpr int kMostRepeats = 1 << 30;
    StartPiece(repeats < 0 ? 1 : std::min(repeats, kMostRepeats) + 1, false);
}

void MidiPlayNotify() { StartPiece(1, true); }

void MidiStop() {
    AudioLock();
    DropPlayerLocked();
    AudioUnlock();
}

void MidiUnload() {
    MidiStop();
    delete[] m.piece;
    m.piece = nullptr;
    m.pieceBytes = 0;
}

bool MidiIsPlaying() {
    AudioLock();
    bool playing = m.playing;
    AudioUnlock();
    return playing;
}

bool MidiEnded() {
    AudioLock();
    bool ended = m.ended;
    AudioUnlock();
    return ended;
}

}  // namespace plat
