// The audio stream and the voice mixer behind the sound effects.
//
// Each voice stands for one DirectSound playback buffer: its source is
// converted once, when it is made, to float frames at its own rate, and the
// mixer steps through it at playbackRate / 44100 source frames per output
// frame in 32.32 fixed point, interpolating linearly between neighbours.
// Music comes first into the float mix (written by the synthesizer hook),
// voices are added on top, and a soft limiter brings the sum into 16 bits
// without the hard edge of plain clipping.
//
// The device's pulls run with its lock held (AudioLock); every change the
// game thread makes to voices or to the hook is made under that same lock, so
// a pull never waits on anything else and never allocates.
#include "platform/audio.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/platform_internal.h"

namespace plat {

namespace {

constexpr uint32_t kMinRateHz = 100;
constexpr uint32_t kMaxRateHz = 200000;
constexpr int kChunkFrames = 512;  // the mix is built in blocks of this size
// Below this level the mix passes unchanged; above it the limiter bends the
// curve smoothly towards full scale, which it never reaches.
constexpr float kLimiterKnee = 0.75f;

struct Voice {
    float* samples;  // interleaved, `channels` per frame, full scale 1.0
    uint32_t frames;
    uint8_t channels;
    bool used;
    bool playing;
    uint32_t rateHz;
    uint64_t position;  // source frame in 32.32 fixed point
    int32_t panMilliBel;
    int32_t volumeMilliBel;
    float gainLeft;
    float gainRight;
};

struct MixerState {
    MusicRenderFn music = nullptr;
    Voice voices[kMaxVoices] = {};
};
MixerState a;

Voice* FindVoice(int32_t id) {
    if (id < 1 || id > kMaxVoices) return nullptr;
    Voice* v = &a.voices[id - 1];
    return v->used ? v : nullptr;
}

void UpdateGains(Voice* v) {
    // A pan attenuates only the opposite side.
    int32_t leftMilliBel = v->volumeMilliBel - std::max(v->panMilliBel, 0);
    int32_t rightMilliBel = v->volumeMilliBel + std::min(v->panMilliBel, 0);
    v->gainLeft = MilliBelToGain(leftMilliBel);
    v->gainRight = MilliBelToGain(rightMilliBel);
}

uint64_t StepFor(uint32_t rateHz) { return (static_cast<uint64_t>(rateHz) << 32) / kAudioRateHz; }

float SampleAt(const Voice& v, uint32_t frame, int channel) {
    return v.samples[static_cast<size_t>(frame) * v.channels + (v.channels == 2 ? channel : 0)];
}

// Adds one voice into the float mix; stops it when its source runs out.
void MixVoice(Voice* v, float* mix, int frames) {
    const uint64_t step = StepFor(v->rateHz);
    const float inv32 = 1.0f / 4294967296.0f;
    for (int i = 0; i < frames; ++i) {
        uint32_t frame = static_cast<uint32_t>(v->position >> 32);
        if (frame >= v->frames) {
            v->playing = false;
            return;
        }
        uint32_t nextFrame = frame + 1 < v->frames ? frame + 1 : frame;
        float t = static_cast<float>(v->position & 0xFFFFFFFFu) * inv32;
        for (int c = 0; c < 2; ++c) {
            float s0 = SampleAt(*v, frame, c);
            float s1 = SampleAt(*v, nextFrame, c);
            mix[2 * i + c] += (s0 + (s1 - s0) * t) * (c == 0 ? v->gainLeft : v->gainRight);
        }
        v->position += step;
    }
}

float SoftLimit(float x) {
    float magnitude = std::fabs(x);
    if (magnitude <= kLimiterKnee) return x;
    // over / (1 + over) starts with slope 1 at the knee and tends to 1.
    float over = (magnitude - kLimiterKnee) / (1.0f - kLimiterKnee);
    float limited = kLimiterKnee + (1.0f - kLimiterKnee) * over / (1.0f + over);
    return std::copysign(limited, x);
}

void MixChunk(int16_t* out, int frames) {
    float mix[2 * kChunkFrames];
    if (a.music)
        a.music(mix, frames);
    else
        std::memset(mix, 0, sizeof(float) * 2 * frames);
    for (Voice& v : a.voices)
        if (v.used && v.playing) MixVoice(&v, mix, frames);
    for (int i = 0; i < 2 * frames; ++i) out[i] = static_cast<int16_t>(std::lrint(SoftLimit(mix[i]) * 32767.0f));
}

// Converts 8-bit unsigned or 16-bit signed little-endian PCM to floats.
void ConvertPcm(const uint8_t* src, const PcmFormat& format, uint32_t frames, float* dst) {
    size_t count = static_cast<size_t>(frames) * format.channels;
    for (size_t i = 0; i < count; ++i) {
        if (format.bitsPerSample == 8) {
            dst[i] = (static_cast<int>(src[i]) - 128) / 128.0f;
        } else {
            int16_t s = static_cast<int16_t>(src[2 * i] | (src[2 * i + 1] << 8));
            dst[i] = s / 32768.0f;
        }
    }
}

bool FormatSupported(const PcmFormat& format) {
    return (format.channels == 1 || format.channels == 2) &&
           (format.bitsPerSample == 8 || format.bitsPerSample == 16) && format.samplesPerSec > 0;
}

}  // namespace

// Mixes with the lock already held (the device callback, or AudioRender).
void AudioMixLocked(int16_t* out, int frames) {
    while (frames > 0) {
        int n = std::min(frames, kChunkFrames);
        MixChunk(out, n);
        out += 2 * n;
        frames -= n;
    }
}

bool AnyVoicePlayingLocked() {
    for (const Voice& v : a.voices)
        if (v.used && v.playing) return true;
    return false;
}

float MilliBelToGain(int32_t milliBel) {
    if (milliBel <= kSilenceMilliBel) return 0.0f;
    if (milliBel >= 0) return 1.0f;
    return std::pow(10.0f, static_cast<float>(milliBel) / 2000.0f);
}

int32_t CreateVoice(const void* pcm, size_t bytes, const PcmFormat& format) {
    if (!pcm || !FormatSupported(format)) return 0;
    size_t frameBytes = static_cast<size_t>(format.channels) * (format.bitsPerSample / 8);
    size_t frames = bytes / frameBytes;
    if (frames == 0 || frames > UINT32_MAX) return 0;
    int slot = -1;
    for (int i = 0; i < kMaxVoices && slot < 0; ++i)
        if (!a.voices[i].used) slot = i;
    if (slot < 0) return 0;
    // Converted outside the lock; only the hand-over is locked.
    float* samples = new (std::nothrow) float[frames * format.channels];
    if (!samples) return 0;
    ConvertPcm(static_cast<const uint8_t*>(pcm), format, static_cast<uint32_t>(frames), samples);
    Voice v = {};
    v.samples = samples;
    v.frames = static_cast<uint32_t>(frames);
    v.channels = static_cast<uint8_t>(format.channels);
    v.used = true;
    v.rateHz = std::clamp(format.samplesPerSec, kMinRateHz, kMaxRateHz);
    UpdateGains(&v);
    AudioLock();
    a.voices[slot] = v;
    AudioUnlock();
    return slot + 1;
}

void DestroyVoice(int32_t voice) {
    AudioLock();
    Voice* v = FindVoice(voice);
    float* samples = v ? v->samples : nullptr;
    if (v) *v = Voice{};
    AudioUnlock();
    delete[] samples;
}

void PlayVoice(int32_t voice) {
    AudioLock();
    if (Voice* v = FindVoice(voice)) {
        v->position = 0;
        v->playing = true;
        AudioVoiceStarted();
    }
    AudioUnlock();
}

void StopVoice(int32_t voice) {
    AudioLock();
    if (Voice* v = FindVoice(voice)) v->playing = false;
    AudioUnlock();
}

void SetVoicePan(int32_t voice, int32_t panMilliBel) {
    AudioLock();
    if (Voice* v = FindVoice(voice)) {
        v->panMilliBel = std::clamp(panMilliBel, -10000, 10000);
        UpdateGains(v);
    }
    AudioUnlock();
}

void SetVoiceVolume(int32_t voice, int32_t volumeMilliBel) {
    AudioLock();
    if (Voice* v = FindVoice(voice)) {
        v->volumeMilliBel = std::clamp(volumeMilliBel, kSilenceMilliBel, 0);
        UpdateGains(v);
    }
    AudioUnlock();
}

void SetVoiceRate(int32_t voice, uint32_t rateHz) {
    AudioLock();
    if (Voice* v = FindVoice(voice)) v->rateHz = std::clamp(rateHz, kMinRateHz, kMaxRateHz);
    AudioUnlock();
}

bool GetVoiceState(int32_t voice, VoiceState* state) {
    AudioLock();
    Voice* v = FindVoice(voice);
    if (v) {
        state->playing = v->playing;
        state->frames = v->frames;
        state->positionFrame = static_cast<uint32_t>(std::min<uint64_t>(v->position >> 32, v->frames));
        state->rateHz = v->rateHz;
        state->panMilliBel = v->panMilliBel;
        state->volumeMilliBel = v->volumeMilliBel;
        state->gainLeft = v->gainLeft;
        state->gainRight = v->gainRight;
    }
    AudioUnlock();
    return v != nullptr;
}

void SetMusicRenderer(MusicRenderFn render) {
    AudioLock();
    a.music = render;
    AudioUnlock();
}

void AudioRender(int16_t* out, int frames) {
    AudioLock();
    AudioMixLocked(out, frames);
    AudioUnlock();
}

}  // namespace plat
