// The desktop icon: the playfield in small, four trails turning at right
// angles on the dark ground inside the white outline, each ending in a
// bright head. Drawn on a 64-unit grid and scaled, so every size shows the
// same picture with lines of proportionate width.
#include <string>
#include <vector>

#include "gen.h"

namespace gen {

namespace {

// Each trail as corner points on the 64-unit grid.
const std::vector<std::vector<double>> kTrails = {
    {10, 54, 10, 22, 30, 22, 30, 12},
    {54, 54, 40, 54, 40, 30, 50, 30, 50, 10},
    {22, 54, 22, 34, 34, 34, 34, 44},
    {54, 12, 40, 12, 40, 20},
};

Image Icon(int size) {
    Image img(size, size);
    const double u = size / 64.0;
    img.FillRect(0, 0, size, size, Earth(kDusk, 0));
    img.FillRect(static_cast<int>(3 * u), static_cast<int>(3 * u), size - static_cast<int>(6 * u),
                 size - static_cast<int>(6 * u), kOutlineIndex);
    img.FillRect(static_cast<int>(5 * u), static_cast<int>(5 * u), size - static_cast<int>(10 * u),
                 size - static_cast<int>(10 * u), 0);
    for (int p = 0; p < 4; p++) {
        const std::vector<double>& xy = kTrails[static_cast<size_t>(p)];
        for (size_t i = 0; i + 3 < xy.size(); i += 2) {
            img.Line(xy[i] * u, xy[i + 1] * u, xy[i + 2] * u, xy[i + 3] * u, 3.0 * u, PlayerColor(p, kRampTrail));
            img.FillDisc(xy[i] * u, xy[i + 1] * u, 1.5 * u, PlayerColor(p, kRampTrail));
        }
        img.FillDisc(xy[xy.size() - 2] * u, xy.back() * u, 2.5 * u, PlayerColor(p, kRampMissile));
    }
    return img;
}

}  // namespace

void WriteIcons(const std::string& dir) {
    for (int size : {64, 256}) WritePng(dir + "tarnwick_" + std::to_string(size) + ".png", Icon(size));
}

}  // namespace gen
