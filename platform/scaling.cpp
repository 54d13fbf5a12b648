// The SCALING rule, shared by the desktop's presentation and the page's
// layout: whole pixels, fit, or whole pixels only where they fill most of
// the output's height.
#include <algorithm>
#include <cstdint>

#include "platform/platform.h"

namespace plat {

bool ScalesToFit(uint8_t scaling, int pictureW, int pictureH, int outW, int outH) {
    if (scaling == SCALING_FIT) return true;
    if (scaling != SCALING_AUTO || pictureW <= 0 || pictureH <= 0) return false;
    const int whole = std::max(1, std::min(outW / pictureW, outH / pictureH));
    return int64_t(pictureH) * whole * 10 < int64_t(outH) * 9;  // whole pixels fill less than 90% of the height
}

}  // namespace plat
