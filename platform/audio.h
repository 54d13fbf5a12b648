// The sound output that stands in for DirectSound: one audio stream at
// 44.1 kHz stereo and a mixer of PCM voices, one voice per playback buffer.
// The MIDI synthesizer renders into the same stream through a hook.
//
// Levels are in hundredths of a decibel (millibels), with DirectSound's
// meaning: volume 0 is full level and -10000 is silence; pan -10000 is the
// left channel only, 10000 the right only, and a pan attenuates the other
// channel by its amount while leaving its own side at full level.
//
// Everything here works without a device: when the stream cannot be opened
// the voices still exist and nothing is heard. Tests and benchmarks drive
// the mixer directly with AudioRender.
#pragma once
#include <cstddef>
#include <cstdint>

namespace plat {

constexpr int kAudioRateHz = 44100;
constexpr int kAudioChannels = 2;
constexpr int32_t kSilenceMilliBel = -10000;
// Voices live in a fixed table; the game's effects take 63.
constexpr int kMaxVoices = 256;

// Opens the stream (the audio subsystem is brought up on its own, whatever
// the video side does). Counted: each successful open needs one AudioClose.
// False when no device can be opened; the mixer then runs on unheard.
bool AudioOpen();
void AudioClose();
// Makes the next AudioOpen (when the stream is not open yet) use a null
// output that pulls and discards the mix at the real rate, so that the music
// synthesizer can run where the machine has no sound device (benchmarks).
void AudioUseNullOutput();
bool AudioIsOpen();
// Stops or resumes the device's pulls on the mixer (tests render by hand).
void AudioSetPaused(bool paused);

// Holds the audio thread off the mixer and the music state while the game
// thread changes them. Short sections only. No-ops without a device.
void AudioLock();
void AudioUnlock();

// The format of a voice's source data, as a WAVE "fmt " chunk gives it.
struct PcmFormat {
    uint16_t channels;       // 1 or 2
    uint32_t samplesPerSec;  // the voice's own rate
    uint16_t bitsPerSample;  // 8 (unsigned) or 16 (signed little-endian)
};

// Makes a voice from PCM data (copied; whole frames only). Returns a voice
// id above 0, or 0 when the format is not supported, there is no whole
// frame, or the voice table is full. A new voice is stopped, centred, at
// full level and at its source rate.
int32_t CreateVoice(const void* pcm, size_t bytes, const PcmFormat& format);
void DestroyVoice(int32_t voice);
// Plays the voice once from its first frame (restarting it if it sounds).
void PlayVoice(int32_t voice);
void StopVoice(int32_t voice);
void SetVoicePan(int32_t voice, int32_t panMilliBel);
void SetVoiceVolume(int32_t voice, int32_t volumeMilliBel);
// Playback rate, clamped to 100..200000 Hz; kept until changed again.
void SetVoiceRate(int32_t voice, uint32_t rateHz);

struct VoiceState {
    bool playing;
    uint32_t frames;         // length of the source
    uint32_t positionFrame;  // next source frame to be mixed
    uint32_t rateHz;
    int32_t panMilliBel;
    int32_t volumeMilliBel;
    float gainLeft;  // the linear gains that pan and volume give
    float gainRight;
};
bool GetVoiceState(int32_t voice, VoiceState* state);

// The music hook writes (not adds) `frames` interleaved stereo float frames
// at full scale 1.0. It runs on the audio thread with the audio lock held,
// so it must not wait or allocate.
using MusicRenderFn = void (*)(float* stereo, int frames);
void SetMusicRenderer(MusicRenderFn render);

// Mixes `frames` stereo frames of music and voices into out (interleaved
// signed 16-bit), exactly as the device callback does. Takes the lock.
void AudioRender(int16_t* out, int frames);

// The linear gain of a level in millibels (0 for -10000 and below).
float MilliBelToGain(int32_t milliBel);

}  // namespace plat
