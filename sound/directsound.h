// CDirectSound: the 29 sound effects, each loaded into a few identical
// playback buffers so that an effect can overlap itself. The buffers are
// voices of the platform mixer (platform/audio.h); one effect file that
// cannot be loaded turns all effects off, silently, until the next start.
#pragma once
#include <cstdint>

constexpr int kEffectCount = 29;

struct EffectRecord {
    char file[128];
    int32_t buffers;
};
extern const EffectRecord kEffectTable[kEffectCount];

enum Effect : int {
    SE_321 = 0, SE_BARRIER, SE_BOMB, SE_CHANGE, SE_CIRCLE, SE_CLEAN, SE_COSMO, SE_CUR_MOVE, SE_CUR_OK,
    SE_GRAVITY, SE_ITEM_DEL, SE_JUMP, SE_KEY0, SE_KEY1, SE_LASER, SE_LR_FLIP, SE_MIRROR, SE_MISSILE,
    SE_MOVE, SE_SPEED_UP, SE_SPEED_DOWN, SE_START, SE_STOP, SE_WALL, SE_WARP, SE_ITEM_GET, SE_PPONG,
    SE_MOLD, SE_INVINCIBLE,
};

struct EffectSlot {
    int32_t* buffers;   // platform voice ids, 0 where none was made
    int32_t next;       // the buffer the next play takes
    int32_t count;
};

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
    uint8_t deviceOpen;       // 0 while sound is off (no device, or a file failed)
    EffectSlot* slots;
    uint8_t effectsEnabled;   // SOUND_EFFECT; 1 when made

private:
    void ReleaseSlot(EffectSlot* slot);
    void ReleaseDevice();
};

extern CDirectSound theDirectSound;
