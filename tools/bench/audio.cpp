// The cost of the audio callback: CPU time spent mixing per second of sound
// with 16 effect voices sounding at all times and music playing, rendered
// through the same path as the device callback (the stream stays paused so
// that only this loop mixes). Without a sound device it measures on a null
// output; if even that cannot be opened, the voices are still measured on
// the mixer alone and the music is left out. Usage: nuvel-bench-audio [sound font]
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/midi.h"

namespace {

constexpr int kVoices = 16;
constexpr int kSeconds = 20;
constexpr int kBlockFrames = 1024;  // one device pull

// A dense General MIDI piece: eight melodic channels holding four-note
// chords that change every beat, and a drum pattern, for 8 s, looped.
std::string DensePiece() {
    std::string t;
    auto var = [&](uint32_t v) {
        uint8_t bytes[4];
        int n = 0;
        do {
            bytes[n++] = uint8_t(v & 0x7F);
            v >>= 7;
        } while (v);
        while (n--) t.push_back(char(bytes[n] | (n ? 0x80 : 0)));
    };
    auto ev = [&](uint32_t delta, uint8_t a, uint8_t b, uint8_t c) {
        var(delta);
        t += char(a);
        t += char(b);
        t += char(c);
    };
    for (int ch = 0; ch < 8; ++ch) {
        var(0);
        t += char(0xC0 | ch);
        t += char(ch * 8);
    }
    const int roots[4] = {48, 53, 55, 50};
    for (int beat = 0; beat < 16; ++beat) {
        int root = roots[(beat / 4) % 4];
        for (int ch = 0; ch < 8; ++ch)
            for (int k = 0; k < 4; ++k) ev(0, uint8_t(0x90 | ch), uint8_t(root + 12 * (ch % 3) + 3 * k), 90);
        ev(0, 0x99, beat % 2 ? 38 : 36, 110);
        ev(0, 0x99, 42, 80);
        for (int ch = 0; ch < 8; ++ch)
            for (int k = 0; k < 4; ++k)
                ev(k == 0 && ch == 0 ? 480 : 0, uint8_t(0x80 | ch), uint8_t(root + 12 * (ch % 3) + 3 * k), 64);
    }
    var(0);
    t += "\xFF\x2F";
    t += char(0);
    std::string f("MThd\0\0\0\6\0\0\0\1\1\xE0MTrk", 18);
    for (int i = 3; i >= 0; --i) f += char(t.size() >> (8 * i));
    return f + t;
}

// 0.3 s of a decaying 16-bit mono tone at 22050 Hz, like a short effect.
std::vector<int16_t> EffectTone(int index) {
    std::vector<int16_t> pcm(6615);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = int16_t(9000 * std::exp(-double(i) / 3000) * std::sin(2 * M_PI * (300 + 40 * index) * i / 22050.0));
    return pcm;
}

// CPU time of this thread, so that other load on the machine does not count.
double ThreadCpuMs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double MeasureCpuMsPerSecond(const std::vector<int32_t>& voices) {
    std::vector<int16_t> out(2 * kBlockFrames);
    const int blocks = kSeconds * plat::kAudioRateHz / kBlockFrames;
    double startMs = ThreadCpuMs();
    for (int b = 0; b < blocks; ++b) {
        // Keep every voice sounding (restarting them costs next to nothing).
        for (int32_t v : voices) {
            plat::VoiceState state;
            if (plat::GetVoiceState(v, &state) && !state.playing) plat::PlayVoice(v);
        }
        plat::AudioRender(out.data(), kBlockFrames);
    }
    double soundSeconds = double(blocks) * kBlockFrames / plat::kAudioRateHz;
    return (ThreadCpuMs() - startMs) / soundSeconds;
}

// Brings up the synthesizer on the sound device, or on the null output when
// there is none. False when neither opens.
bool StartSynth() {
    if (plat::MidiInit()) {
        std::printf("output: sound device\n");
        return true;
    }
    plat::AudioUseNullOutput();
    if (plat::MidiInit()) {
        std::printf("output: null (no sound device)\n");
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) plat::MidiUseSoundFont(argv[1]);
    auto loadStart = std::chrono::steady_clock::now();
    bool synth = StartSynth();
    std::chrono::duration<double, std::milli> loadMs = std::chrono::steady_clock::now() - loadStart;
    plat::AudioSetPaused(true);
    const char* font = plat::MidiSoundFont();
    if (synth)
        std::printf("sound font: %s (start-up %.0f ms)\n", font[0] ? font : "(none: music silent)", loadMs.count());
    else
        std::printf("no output at all: music not measured, voices rendered on the mixer alone\n");

    std::vector<int32_t> voices;
    for (int i = 0; i < kVoices; ++i) {
        std::vector<int16_t> pcm = EffectTone(i);
        int32_t v = plat::CreateVoice(pcm.data(), pcm.size() * 2, plat::PcmFormat{1, 22050, 16});
        plat::SetVoicePan(v, (i - 8) * 1000);
        plat::SetVoiceRate(v, 18000 + 500 * i);
        voices.push_back(v);
    }

    std::filesystem::path piece = std::filesystem::temp_directory_path() / "nuvel-bench-audio.mid";
    std::string bytes = DensePiece();
    if (FILE* f = std::fopen(piece.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    bool loaded = synth && plat::MidiLoad(piece.c_str());
    std::filesystem::remove(piece);

    double effectsOnly = MeasureCpuMsPerSecond(voices);
    if (loaded) plat::MidiPlay(1000);
    double both = MeasureCpuMsPerSecond(voices);
    double musicOnly = MeasureCpuMsPerSecond({});
    plat::MidiStop();

    std::printf("rendered %d s of sound per case, %d-frame blocks\n", kSeconds, kBlockFrames);
    std::printf("%2d voices, no music : %7.3f ms CPU per second of sound (%.2f%% of one core)\n", kVoices, effectsOnly,
                effectsOnly / 10);
    if (loaded) {
        std::printf("music only         : %7.3f ms CPU per second of sound (%.2f%% of one core)\n", musicOnly,
                    musicOnly / 10);
        std::printf("%2d voices and music: %7.3f ms CPU per second of sound (%.2f%% of one core)\n", kVoices, both,
                    both / 10);
    }
    for (int32_t v : voices) plat::DestroyVoice(v);
    plat::MidiShutdown();
    return 0;
}
