// Costs of the display path and of the message pump on this machine:
// presentation of a 640x480 frame, a keyed full-screen copy, a palette fade
// step, one message pump, and the real length and CPU time of round-frame
// waits at WAIT 80 (expected 2.4 ms each).
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/app.h"
#include "core/gamedata.h"
#include "graphics/directdraw.h"
#include "match/rules.h"

namespace {

double CpuMs() {
    rusage use;
    getrusage(RUSAGE_SELF, &use);
    return use.ru_utime.tv_sec * 1e3 + use.ru_utime.tv_usec / 1e3 + use.ru_stime.tv_sec * 1e3 +
           use.ru_stime.tv_usec / 1e3;
}

// Wall time from the system clock: the test clock used at the end must not
// measure itself.
double NowUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

template <class F>
double MicrosPer(int runs, F f) {
    double start = NowUs();
    for (int i = 0; i < runs; i++) f(i);
    return (NowUs() - start) / runs;
}

}  // namespace

// Presents `count` pictures, each changed in every row, and nothing else:
// with instruction counts (valgrind --tool=callgrind, perf stat) taken for
// two counts, the difference is the cost of presenting, free of the noise of
// a busy machine.
int PresentOnly(int count) {
    for (int i = 0; i < count; i++) {
        Surface* s = theDirectDraw.GetSurface(0);
        for (int y = 0; y < kScreenHeight; y++) s->pixels[y * s->pitch + (i % kScreenWidth)] ^= 2;
        theDirectDraw.Present();
    }
    return 0;
}

int main(int argc, char** argv) {
    if (!plat::Init() || !plat::CreateGameWindow("Tarnwick bench", kScreenWidth, kScreenHeight) ||
        !theDirectDraw.StartDirectDraw(kScreenWidth, kScreenHeight, 8)) {
        fprintf(stderr, "no display\n");
        return 1;
    }
    PaletteEntry* palette = theDirectDraw.MasterPalette();
    for (int i = 0; i < 256; i++) palette[i] = PaletteEntry{uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), 1};
    theDirectDraw.ApplyPalette();
    SurfaceId picture = theDirectDraw.CreateSurface(kScreenWidth, kScreenHeight, true);
    const SurfaceDesc& d = theDirectDraw.Lock(picture);
    for (int i = 0; i < kScreenWidth * kScreenHeight; i++) d.pixels[i] = uint8_t((i * 7) % 5 ? i % 251 : 0);
    theDirectDraw.Unlock(picture);
    theDirectDraw.CopyScreen(0, picture);
    if (argc == 3 && strcmp(argv[1], "--present-only") == 0) return PresentOnly(atoi(argv[2]));

    printf("video driver: %s\n", getenv("SDL_VIDEODRIVER") ? getenv("SDL_VIDEODRIVER") : "(default)");
    double present = MicrosPer(300, [](int) { theDirectDraw.Present(); });
    printf("presentation of a 640x480 frame already shown: %.1f us\n", present);
    // A picture changed in every row each time, as the scrolling menu
    // background gives: the whole conversion, per pixel of the picture.
    auto perPixelNs = [&](const char* what) {
        double us = MicrosPer(300, [](int i) {
            Surface* s = theDirectDraw.GetSurface(0);
            for (int y = 0; y < kScreenHeight; y++) s->pixels[y * s->pitch + (i % kScreenWidth)] ^= 2;
            theDirectDraw.Present();
        });
        printf("presentation of a changed 640x480 frame, %s (window %s, %s): %.1f us, %.2f ns per picture pixel\n",
               what, plat::IsWindowed() ? "windowed" : "full screen", plat::PresentPathName(), us,
               us * 1000.0 / (kScreenWidth * kScreenHeight));
    };
    plat::Display().scaling = plat::SCALING_WHOLE;
    perPixelNs("whole pixels");
    plat::ToggleFullscreen();  // a window of twice the size: scale 2
    perPixelNs("whole pixels");
    plat::ToggleFullscreen();
    plat::Display().scaling = plat::SCALING_FIT;
    perPixelNs("fit");
    plat::Display().scaling = plat::SCALING_WHOLE;
    double keyed =
        MicrosPer(2000, [&](int) { theDirectDraw.Draw(1, 0, 0, kScreenWidth, kScreenHeight, picture, 0, 0, true, 0); });
    printf("keyed 640x480 copy: %.1f us\n", keyed);
    double fade = MicrosPer(2000, [](int i) {
        theDirectDraw.SetPaletteBrightness(-(i % 255));
        theDirectDraw.Present();
    });
    printf("palette fade step (brightness + presentation): %.1f us\n", fade);
    double brightness = MicrosPer(20000, [](int i) { theDirectDraw.SetPaletteBrightness(-(i % 255)); });
    printf("  of which the brightness table: %.2f us\n", brightness);
    theDirectDraw.SetPaletteBrightness(0);

    const int frames = 100, wait = 80;
    double cpuBefore = CpuMs();
    double start = NowUs();
    for (int f = 0; f < frames; f++) theApp.PumpMessagesN(wait * kPumpsPerWait);
    double wallMs = (NowUs() - start) / 1000.0;
    double cpu = CpuMs() - cpuBefore;
    printf("one message pump: %.3f us average (includes its share of sleeping)\n",
           wallMs * 1000.0 / (frames * wait * kPumpsPerWait));
    printf("%d round-frame waits at WAIT %d: %.3f ms each (expected 2.4), CPU %.1f ms in %.1f ms (%.0f%%)\n", frames,
           wait, wallMs / frames, cpu, wallMs, 100.0 * cpu / wallMs);

    // The pump's own cost without sleeping: the test clock never sleeps.
    plat::UseTestClock(0, 1500);
    double pumpOnly = MicrosPer(200000, [](int) { theApp.PumpMessages(); });
    printf("one message pump without its sleep: %.3f us\n", pumpOnly);
    return 0;
}
