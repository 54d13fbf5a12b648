// CBgm: background music from Standard MIDI Files, on one of two devices.
// Device 0 ("DIRECTM") loads a piece and loops it by a repeat count; device
// 1 ("MIDI M") behaves as a sequencer that opens a file, plays it once and
// reports its end, after which the window procedure calls Replay. Both
// play through the platform's MIDI player (platform/midi.h).
#pragma once
#include <cstdint>

class CBgm {
public:
    CBgm();
    ~CBgm();

    void StartDirectMusic();
    void Load(const char* path);
    void Play();
    void Stop();
    void Close();
    void Replay();
    void Shutdown();
    // Applies a music volume of 0..100 (MUSIC_VOLUME), now and to every
    // piece after; the effects have their own (SOUND_VOLUME).
    void SetVolume(int volume);

    char currentPath[256];  // empty: the next Load opens whatever it is given
    uint8_t directMusicUp;  // device 0's player was brought up
    uint8_t mciOpen;        // device 1 has a piece open
    uint8_t device;         // MIDI_DEVICE: 0 "DIRECTM", 1 "MIDI M"
    uint8_t playing;
    int8_t musicVolume;  // MUSIC_VOLUME, 0..100

private:
    void DirectMusicLoad(const char* path);
    void DirectMusicPlay();
    void DirectMusicStop();
    void MciOpen(const char* path);
    void MciPlay();
    void MciStop();
    void MciClose();
};

extern CBgm theBgm;
