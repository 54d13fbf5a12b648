// CDirectSound: the 29 sound effects, each loaded into a few identical
// playback buffers so that an effect can overlap itself. The buffers are
// voices of the platform mixer (platform/audio.h); one effect file that
// cannot be loaded turns all effects off, silently, until the next start.
#pragma once
#include <cstdint>

#include "core/gamedata.h"  // the effect table and the SE_* numbers

struct EffectSlot {
    int32_t* buffers;  // platform voice ids, 0 where none was made
    int32_t next;      // the buffer the next play takes
    int32_t count;
};

// A volume setting of 0..100 as a level in hundredths of a decibel: linear
// from -10000 (silent) to 0 (full), for the effects and the music alike.
int32_t VolumeMilliBel(int volume);
// The volume both settings start from.
constexpr int8_t kFullVolume = 100;

class CDirectSound {
public:
    CDirectSound();
    ~CDirectSound();

    void StartDirectSound(int slots);
    void SetData(int index, const char* path, int buffers);
    bool LoadWave(int32_t* buffer, const char* path);
    void Play(int index, int pan, int frequency);
    void SetVolume(int volume);
    void Shutdown();

    int32_t slotCount;
    uint8_t deviceOpen;  // 0 while sound is off (no device, or a file failed)
    EffectSlot* slots;
    uint8_t effectsEnabled;  // SOUND_EFFECT; 1 when made

private:
    void ReleaseSlot(EffectSlot* slot);
    void ReleaseDevice();
};

extern CDirectSound theDirectSound;
