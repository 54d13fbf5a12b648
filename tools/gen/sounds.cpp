// The 29 sound effects, synthesized: 16-bit mono PCM at 22050 Hz. Every
// effect is built from a few oscillators and noise with envelopes, then
// faded in and out over a few milliseconds (no clicks) and normalised to a
// peak of -1 dBFS (no clipping).
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "gen.h"

namespace gen {

namespace {

constexpr int kRate = 22050;
constexpr double kTau = 6.283185307179586;

using Buffer = std::vector<double>;

int Samples(double seconds) { return static_cast<int>(seconds * kRate); }

// Every voice starts and ends with a 4 ms ramp, so none of them clicks.
double Edge(int i, int n) {
    constexpr int kRamp = static_cast<int>(0.004 * kRate);
    return std::min({1.0, static_cast<double>(i) / kRamp, static_cast<double>(n - 1 - i) / kRamp});
}

// Band-limiting correction of a step at phase 0 (polyBLEP), so square and saw
// voices do not alias into whistles at this low sample rate.
double Blep(double p, double dt) {
    if (p < dt) {
        double t = p / dt;
        return t + t - t * t - 1.0;
    }
    if (p > 1.0 - dt) {
        double t = (p - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

// An oscillator whose frequency follows a function of time; the phase is
// accumulated so that sweeps stay smooth.
template <class Freq, class Amp>
void Tone(Buffer& b, double start, double length, Freq freq, Amp amp, int wave = 0) {
    double phase = 0.0;
    int s0 = Samples(start), n = Samples(length);
    for (int i = 0; i < n && s0 + i < static_cast<int>(b.size()); i++) {
        double t = static_cast<double>(i) / kRate, u = t / length;
        double dt = freq(u) / kRate;
        phase += dt;
        double p = phase - std::floor(phase), v;
        switch (wave) {
        case 1: {  // square
            double half = p + 0.5 - std::floor(p + 0.5);
            v = 0.6 * ((p < 0.5 ? 1.0 : -1.0) + Blep(p, dt) - Blep(half, dt));
            break;
        }
        case 2:
            v = 1.0 - 4.0 * std::fabs(p - 0.5);
            break;  // triangle
        case 3:
            v = 0.8 * (2.0 * p - 1.0 - Blep(p, dt));
            break;  // saw
        default:
            v = std::sin(kTau * p);
            break;
        }
        b[s0 + i] += v * amp(u) * Edge(i, n);
    }
}

// Noise through a one-pole low-pass whose cut-off follows a function of time.
template <class Cut, class Amp>
void Noise(Buffer& b, Random& rnd, double start, double length, Cut cutoff, Amp amp) {
    double y = 0.0;
    int s0 = Samples(start), n = Samples(length);
    for (int i = 0; i < n && s0 + i < static_cast<int>(b.size()); i++) {
        double u = static_cast<double>(i) / n;
        double a = 1.0 - std::exp(-kTau * cutoff(u) / kRate);
        y += a * (rnd.Signed() - y);
        b[s0 + i] += y * amp(u) * 2.0 * Edge(i, n);
    }
}

double Decay(double u, double k) { return std::exp(-k * u); }
double Hump(double u) { return std::sin(3.141592653589793 * std::min(u, 1.0)); }
auto Const(double v) {
    return [v](double) { return v; };
}
auto Sweep(double a, double b) {
    return [a, b](double u) { return a * std::pow(b / a, u); };
}

void Finish(Buffer& b) {
    int fadeIn = Samples(0.003), fadeOut = Samples(0.010);
    for (int i = 0; i < fadeIn && i < static_cast<int>(b.size()); i++) b[i] *= static_cast<double>(i) / fadeIn;
    for (int i = 0; i < fadeOut && i < static_cast<int>(b.size()); i++)
        b[b.size() - 1 - i] *= static_cast<double>(i) / fadeOut;
    double peak = 1e-9;
    for (double v : b) peak = std::max(peak, std::fabs(v));
    double gain = 0.891 / peak;  // -1 dBFS
    for (double& v : b) v *= gain;
}

void PutLe(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; i++) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// RIFF/WAVE with an 18-byte format chunk (the PCM fields and a zero
// extension size) and the data chunk.
std::string Wave(const Buffer& b) {
    std::string data;
    for (double v : b) {
        auto s = static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
        PutLe(data, static_cast<uint16_t>(s), 2);
    }
    std::string w = "RIFF";
    PutLe(w, static_cast<uint32_t>(4 + 8 + 18 + 8 + data.size()), 4);
    w += "WAVEfmt ";
    PutLe(w, 18, 4);
    PutLe(w, 1, 2);  // PCM
    PutLe(w, 1, 2);  // mono
    PutLe(w, kRate, 4);
    PutLe(w, kRate * 2, 4);  // bytes per second
    PutLe(w, 2, 2);          // block alignment
    PutLe(w, 16, 2);         // bits per sample
    PutLe(w, 0, 2);          // no extension
    w += "data";
    PutLe(w, static_cast<uint32_t>(data.size()), 4);
    return w + data;
}

// Notes as frequencies, semitones from A4.
double Note(int semis) { return 440.0 * std::pow(2.0, semis / 12.0); }

void Arpeggio(Buffer& b, const std::vector<int>& notes, double step, double len, int wave, double amp) {
    for (size_t i = 0; i < notes.size(); i++)
        Tone(
            b, i * step, len, Const(Note(notes[i])), [amp](double u) { return amp * Decay(u, 4.0); }, wave);
}

Buffer Make(int effect, Random& rnd) {
    auto env = [](double k) { return [k](double u) { return Decay(u, k); }; };
    Buffer b;
    auto len = [&](double s) { b.assign(Samples(s), 0.0); };
    switch (effect) {
    case 0:  // countdown blip
        len(0.22);
        Tone(b, 0, 0.22, Const(880), env(5), 2);
        Tone(b, 0, 0.22, Const(1760), env(9));
        break;
    case 1:  // barrier: a rising shimmer
        len(0.7);
        for (int k = 0; k < 3; k++)
            Tone(
                b, 0, 0.7, [k](double u) { return (400 + 150 * k) * (1 + u) * (1 + 0.02 * std::sin(60 * u)); },
                [](double u) { return Hump(u) * 0.4; });
        break;
    case 2:  // bomb: a deep blast
        len(1.2);
        Noise(b, rnd, 0, 1.2, Sweep(3000, 120), env(3.5));
        Tone(b, 0, 1.0, Sweep(90, 35), env(4));
        break;
    case 3:  // change: two voices trading places
        len(0.4);
        Tone(b, 0, 0.4, Sweep(400, 900), env(2.5), 1);
        Tone(b, 0, 0.4, Sweep(900, 400), env(2.5), 2);
        break;
    case 4:  // circle explosion: burst and a ringing drop
        len(0.8);
        Noise(b, rnd, 0, 0.8, Sweep(5000, 300), env(5));
        Tone(b, 0, 0.8, Sweep(300, 60), env(4), 2);
        break;
    case 5:  // clean: a sweeping whoosh
        len(0.6);
        Noise(b, rnd, 0, 0.6, Sweep(300, 6000), [](double u) { return Hump(u); });
        break;
    case 6:  // cosmo: a scattering sparkle burst
        len(0.9);
        Noise(b, rnd, 0, 0.9, Sweep(6000, 500), env(4));
        for (int k = 0; k < 8; k++) {
            double t0 = 0.05 * k;
            Tone(b, t0, 0.25, Const(Note(12 + rnd.Below(24))), env(6), 2);
        }
        break;
    case 7:  // menu move: a short tick
        len(0.05);
        Tone(b, 0, 0.05, Const(1320), env(8), 1);
        break;
    case 8:  // menu confirm: two rising notes
        len(0.3);
        Tone(b, 0, 0.12, Const(Note(3)), env(3), 2);
        Tone(b, 0.09, 0.21, Const(Note(10)), env(4), 2);
        break;
    case 9:  // gravity: a heavy pull downward
        len(0.8);
        Tone(
            b, 0, 0.8, [](double u) { return 220 * std::pow(0.25, u) * (1 + 0.08 * std::sin(40 * u)); },
            [](double u) { return Hump(u); }, 3);
        break;
    case 10:  // item delete: falling bloops
        len(0.45);
        Arpeggio(b, {7, 2, -3, -8}, 0.09, 0.1, 2, 0.8);
        break;
    case 11:  // jump: a springy rise
        len(0.3);
        Tone(b, 0, 0.3, Sweep(200, 900), env(3), 1);
        break;
    case 12:  // typing click, low
    case 13:  // typing click, high
        len(0.045);
        Noise(b, rnd, 0, 0.045, Const(effect == 12 ? 2500 : 4500), env(14));
        Tone(b, 0, 0.045, Const(effect == 12 ? 420 : 640), env(18));
        break;
    case 14:  // laser: a falling zap
        len(0.35);
        Tone(b, 0, 0.35, Sweep(2400, 300), env(4), 1);
        Tone(b, 0, 0.35, Sweep(2420, 310), env(4), 3);
        break;
    case 15:  // left-right flip: a quick warble
        len(0.35);
        Tone(
            b, 0, 0.35, [](double u) { return 600 + 250 * std::sin(kTau * 4 * u); }, env(2), 2);
        break;
    case 16:  // mirror: glassy chimes
        len(0.7);
        for (int k : {14, 19, 23, 26}) Tone(b, 0.04 * (k % 5), 0.6, Const(Note(k)), env(4.5));
        break;
    case 17:  // missile: launch roar and rising tone
        len(0.7);
        Noise(b, rnd, 0, 0.7, Sweep(800, 3000), [](double u) { return Hump(u) * 0.8; });
        Tone(
            b, 0, 0.7, Sweep(150, 700), [](double u) { return Hump(u) * 0.4; }, 3);
        break;
    case 18:  // move: a gliding slide
        len(0.3);
        Tone(
            b, 0, 0.3, Sweep(500, 1000), [](double u) { return Hump(u); }, 2);
        break;
    case 19:  // speed up: a rising run
        len(0.32);
        Arpeggio(b, {0, 4, 7, 12}, 0.06, 0.14, 1, 0.7);
        break;
    case 20:  // speed down: a falling run
        len(0.4);
        Arpeggio(b, {0, -4, -7, -12}, 0.075, 0.16, 1, 0.7);
        break;
    case 21:  // start: a bright chord
        len(0.7);
        for (int k : {12, 16, 19, 24}) Tone(b, 0, 0.7, Const(Note(k)), env(3.5), 2);
        break;
    case 22:  // stop: a falling freeze with a clunk
        len(0.45);
        Tone(
            b, 0, 0.35, Sweep(900, 120), [](double u) { return Decay(u, 2) * (0.6 + 0.4 * std::sin(70 * u)); }, 1);
        Noise(b, rnd, 0.3, 0.15, Const(1200), env(10));
        break;
    case 23:  // wall: a heavy thump
        len(0.4);
        Tone(b, 0, 0.4, Sweep(130, 45), env(6));
        Noise(b, rnd, 0, 0.08, Const(2000), env(12));
        break;
    case 24:  // warp: a swirling phaser
        len(0.8);
        Tone(
            b, 0, 0.8, [](double u) { return 300 + 900 * u + 200 * std::sin(kTau * 6 * u); },
            [](double u) { return Hump(u); }, 2);
        Tone(
            b, 0, 0.8, [](double u) { return 1200 - 700 * u; }, [](double u) { return Hump(u) * 0.4; });
        break;
    case 25:  // item pickup: two quick notes
        len(0.28);
        Tone(b, 0, 0.08, Const(Note(14)), Const(0.6), 1);
        Tone(b, 0.07, 0.21, Const(Note(21)), env(4), 1);
        break;
    case 26:  // ping-pong bounce
        len(0.09);
        Tone(b, 0, 0.09, Const(Note(3)), env(6), 2);
        break;
    case 27:  // mould: wet bubbling
        len(0.6);
        for (int k = 0; k < 7; k++)
            Tone(b, 0.075 * k, 0.1, Sweep(120 + rnd.Below(80), 320 + rnd.Below(160)), [](double u) { return Hump(u); });
        break;
    default:  // invincible: a sparkling climb
        len(0.85);
        Arpeggio(b, {0, 4, 7, 12, 16, 19, 24}, 0.08, 0.3, 2, 0.5);
        for (int k = 0; k < 10; k++) Tone(b, 0.07 * k, 0.12, Const(Note(28 + rnd.Below(10))), env(8), 0);
        break;
    }
    Finish(b);
    return b;
}

}  // namespace

void WriteSounds(const std::string& dir) {
    for (int i = 0; i < kEffectCount; i++) {
        Random rnd(0xa0d10000u + static_cast<uint32_t>(i));
        WriteFile(dir + "Sound/" + kEffectTable[i].file, Wave(Make(i, rnd)));
    }
}

}  // namespace gen
