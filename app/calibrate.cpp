// The first-run speed calibration.
#include "core/app.h"
#include "graphics/directdraw.h"
#include "match/round.h"

// Measures the cost of a message pump (a) and of a one-pixel surface probe
// (b) and gives the round's WAIT so that a round frame of WAIT x 20 pumps plus
// one probe lasts 2.4 ms.
int32_t CApp::CalibrateGameWait() {
    uint32_t start = plat::TimeMs();
    long pumps = 0;
    do {
        PumpMessages();
        pumps++;
    } while (plat::TimeMs() - start <= 1000);
    float msPerPump = 1000.0f / float(pumps);

    start = plat::TimeMs();
    long probes = 0;
    do {
        const SurfaceDesc& desc = theDirectDraw.Lock(kVisibleSurface);
        if (desc.pixels) desc.pixels[0] = 0;
        theDirectDraw.Unlock(kVisibleSurface);
        probes++;
    } while (plat::TimeMs() - start <= 1000);
    float msPerProbe = 1000.0f / float(probes);

    float wait = (2.4f - msPerProbe) / (20.0f * msPerPump);
    if (!(wait > 0.0f)) wait = 0.0f;
    if (wait > float(kMaxWait)) wait = float(kMaxWait);
    return FloatToInt(wait);
}
