// The audio device behind the mixer: SDL's audio stream at 44.1 kHz stereo,
// which pulls the mix from its own thread with the device lock held.
#include <SDL.h>

#include "platform/audio.h"
#include "platform/platform_internal.h"

namespace plat {

namespace {

constexpr int kDeviceFrames = 1024;  // ~23 ms per device pull

struct DeviceState {
    SDL_AudioDeviceID device = 0;
    int openCount = 0;
    bool nullOutput = false;  // open SDL's dummy driver instead of a device
};
DeviceState a;

void AudioCallback(void*, Uint8* stream, int bytes) {
    AudioMixLocked(reinterpret_cast<int16_t*>(stream), bytes / static_cast<int>(2 * sizeof(int16_t)));
}

// The device may have gone with a shutdown of all of SDL behind our back.
void ForgetStaleDevice() {
    if (a.openCount > 0 && !SDL_WasInit(SDL_INIT_AUDIO)) {
        a.openCount = 0;
        a.device = 0;
    }
}

}  // namespace

bool AudioOpen() {
    ForgetStaleDevice();
    if (a.openCount > 0) {
        a.openCount++;
        return true;
    }
    if (a.nullOutput) SDL_SetHint(SDL_HINT_AUDIODRIVER, "dummy");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    SDL_AudioSpec want = {};
    want.freq = kAudioRateHz;
    want.format = AUDIO_S16SYS;
    want.channels = kAudioChannels;
    want.samples = kDeviceFrames;
    want.callback = AudioCallback;
    // No changes allowed: SDL converts to whatever the hardware takes.
    a.device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    if (a.device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    a.openCount = 1;
    SDL_PauseAudioDevice(a.device, 0);
    return true;
}

void AudioUseNullOutput() { a.nullOutput = true; }

void AudioClose() {
    ForgetStaleDevice();
    if (a.openCount == 0) return;
    if (--a.openCount > 0) return;
    SDL_CloseAudioDevice(a.device);
    a.device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool AudioIsOpen() {
    ForgetStaleDevice();
    return a.openCount > 0;
}

void AudioSetPaused(bool paused) {
    if (AudioIsOpen()) SDL_PauseAudioDevice(a.device, paused ? 1 : 0);
}

// SDL's device keeps pulling through silence; nothing to wake.
void AudioVoiceStarted() {}

void AudioLock() {
    if (a.device != 0) SDL_LockAudioDevice(a.device);
}

void AudioUnlock() {
    if (a.device != 0) SDL_UnlockAudioDevice(a.device);
}

}  // namespace plat
