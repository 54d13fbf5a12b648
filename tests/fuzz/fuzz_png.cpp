// The PNG loader on arbitrary files: a refusal is one of its fatal messages;
// a picture it accepts must have a sane size and every pixel readable.
#include <cstdlib>

#include "graphics/dibsection.h"
#include "tests/fuzz/fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteInput("pic.png", data, size);
    CDibSection dib;
    fuzz::Refusable([&] {
        if (!dib.LoadPng("pic.png")) return;
        if (dib.Width() < 1 || dib.Height() < 1 || dib.Width() > 4096 || dib.Height() > 4096) std::abort();
        unsigned sum = 0;
        for (int y = 0; y < dib.Height(); y++)
            for (int x = 0; x < dib.Width(); x++) sum += *dib.PixelAddress(x, y);
        (void)sum;
    });
    return 0;
}
