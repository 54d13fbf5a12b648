// The audio device behind the mixer in a page: a Web Audio node that pulls
// the mix in blocks (web_audio_pull) on the page's one thread, between the
// game's sleeps. With one thread there is nothing to lock against.
#include <emscripten.h>

#include <algorithm>

#include "platform/audio.h"
#include "platform/platform_internal.h"
#include "platform/web/web.h"

namespace plat {

namespace {

constexpr int kMostPullFrames = 8192;

struct DeviceState {
    int openCount = 0;
    int16_t block[2 * kMostPullFrames];
};
DeviceState a;

}  // namespace

bool AudioOpen() {
    if (a.openCount > 0) {
        a.openCount++;
        return true;
    }
    if (!web_audio_open()) return false;
    a.openCount = 1;
    web_audio_pause(0);
    return true;
}

void AudioUseNullOutput() {}

void AudioClose() {
    if (a.openCount == 0 || --a.openCount > 0) return;
    web_audio_pause(1);
}

bool AudioIsOpen() { return a.openCount > 0; }

void AudioSetPaused(bool paused) {
    if (AudioIsOpen()) web_audio_pause(paused ? 1 : 0);
}

void AudioVoiceStarted() { web_audio_wake(); }

void AudioLock() {}
void AudioUnlock() {}

}  // namespace plat

// The page's audio node asks for the next frames of the mix: interleaved
// signed 16-bit stereo, valid until the next pull.
// Whether the mix has anything to play: while it has not, the page may stop
// its audio output (web_audio_wake starts it again).
extern "C" EMSCRIPTEN_KEEPALIVE int web_audio_busy() { return plat::AnyVoicePlayingLocked() ? 1 : 0; }

extern "C" EMSCRIPTEN_KEEPALIVE const int16_t* web_audio_pull(int frames) {
    frames = std::clamp(frames, 0, plat::kMostPullFrames);
    plat::AudioMixLocked(plat::a.block, frames);
    return plat::a.block;
}
