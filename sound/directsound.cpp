// CDirectSound: the sound effects on the platform mixer. Each playback
// buffer is a mixer voice; "the device" is this object's hold on the audio
// stream. Nothing here is ever reported: sound is optional.
#include "sound/directsound.h"

#include <algorithm>

#include "core/app.h"
#include "platform/audio.h"
#include "platform/platform.h"
#include "sound/wavefile.h"

CDirectSound::CDirectSound() : slotCount(0), deviceOpen(0), slots(nullptr), effectsEnabled(1) {}

CDirectSound::~CDirectSound() { Shutdown(); }

// CDirectSound::StartDirectSound: without an audio device the effects stay
// off and nothing else happens.
void CDirectSound::StartDirectSound(int slots) {
    if (deviceOpen || !plat::AudioOpen()) return;
    deviceOpen = 1;
    slotCount = std::max(slots, 0);
    this->slots =
        static_cast<EffectSlot*>(CApp::Alloc(sizeof(EffectSlot) * slotCount, "void CDirectSound::StartDirectSound"));
}

// CDirectSound::SetData: (re)loads one effect into `buffers` voices, reading
// the file once per voice. The first failure turns all effects off.
void CDirectSound::SetData(int index, const char* path, int buffers) {
    if (index < 0 || index >= slotCount || !deviceOpen || buffers < 1) return;
    EffectSlot* slot = &slots[index];
    ReleaseSlot(slot);
    slot->buffers = static_cast<int32_t*>(CApp::Alloc(sizeof(int32_t) * buffers, "void CDirectSound::SetData"));
    slot->count = buffers;
    slot->next = 0;
    for (int i = 0; i < buffers; ++i) {
        if (!LoadWave(&slot->buffers[i], path)) {
            ReleaseDevice();
            return;
        }
    }
}

// CDirectSound::LoadWave: one voice made from a PCM WAVE file.
bool CDirectSound::LoadWave(int32_t* buffer, const char* path) {
    FILE* file = plat::OpenFile(path, "rb");
    if (!file) return false;
    WaveData wave;
    bool ok = ReadWaveFile(file, &wave);
    std::fclose(file);
    // A format whose block size does not match its channels and sample size
    // cannot describe a playback buffer.
    const WaveFormat& f = wave.format;
    if (ok && f.blockAlign == f.channels * (f.bitsPerSample / 8)) {
        *buffer = plat::CreateVoice(wave.samples, wave.bytes, PcmFormatOf(f));
        ok = *buffer != 0;
    } else {
        ok = false;
    }
    CApp::Free(wave.samples);
    return ok;
}

// CDirectSound::Play: the slot's buffers are used in turn, so an effect
// with n buffers sounds up to n times at once and the (n+1)-th play
// restarts the oldest. A buffer keeps the last rate given to it.
void CDirectSound::Play(int index, int pan, int frequency) {
    if (!deviceOpen || index < 0 || index >= slotCount || !effectsEnabled) return;
    EffectSlot* slot = &slots[index];
    if (!slot->buffers || slot->buffers[slot->next] == 0) return;
    int32_t voice = slot->buffers[slot->next];
    plat::SetVoicePan(voice, pan);
    if (frequency > 0) plat::SetVoiceRate(voice, static_cast<uint32_t>(frequency));
    plat::StopVoice(voice);
    plat::PlayVoice(voice);
    slot->next = (slot->next + 1) % slot->count;
}

int32_t VolumeMilliBel(int volume) { return std::clamp(volume, 0, 100) * 100 - 10000; }

// CDirectSound::SetVolume: the same level for every buffer.
void CDirectSound::SetVolume(int volume) {
    if (!deviceOpen) return;
    int32_t level = VolumeMilliBel(volume);
    for (int s = 0; s < slotCount; ++s)
        for (int b = 0; slots[s].buffers && b < slots[s].count; ++b) plat::SetVoiceVolume(slots[s].buffers[b], level);
}

// CDirectSound::Shutdown: buffers, lists, table and device.
void CDirectSound::Shutdown() {
    for (int s = 0; slots && s < slotCount; ++s) ReleaseSlot(&slots[s]);
    CApp::Free(slots);
    slots = nullptr;
    slotCount = 0;
    ReleaseDevice();
}

void CDirectSound::ReleaseSlot(EffectSlot* slot) {
    for (int b = 0; slot->buffers && b < slot->count; ++b) {
        plat::StopVoice(slot->buffers[b]);
        plat::DestroyVoice(slot->buffers[b]);
    }
    CApp::Free(slot->buffers);
    *slot = EffectSlot{};
}

// Lets go of the audio stream; the voices made so far go with it, so
// nothing of the effects can sound any more. The lists stay for Shutdown.
void CDirectSound::ReleaseDevice() {
    if (!deviceOpen) return;
    for (int s = 0; slots && s < slotCount; ++s) {
        for (int b = 0; slots[s].buffers && b < slots[s].count; ++b) {
            plat::DestroyVoice(slots[s].buffers[b]);
            slots[s].buffers[b] = 0;
        }
    }
    plat::AudioClose();
    deviceOpen = 0;
}
