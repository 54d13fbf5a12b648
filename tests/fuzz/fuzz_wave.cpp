// The sound-effect loader on arbitrary files: a WAVE it accepts becomes a
// voice that is played and mixed; anything else is refused with false.
#include "platform/audio.h"
#include "sound/directsound.h"
#include "tests/fuzz/fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteInput("sound/effect.wav", data, size);
    int32_t voice = 0;
    fuzz::Refusable([&] {
        if (!theDirectSound.LoadWave(&voice, "Sound\\effect.wav")) return;
        plat::PlayVoice(voice);
        int16_t out[2 * 256];
        plat::AudioRender(out, 256);
        plat::DestroyVoice(voice);
    });
    return 0;
}
