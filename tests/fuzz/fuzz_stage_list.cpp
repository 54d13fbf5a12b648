// The stage list "stage\stage.txt" on arbitrary text: a list without stages
// is refused with its fatal message; every entry of an accepted list holds
// terminated names and start values on the field or "random".
#include <cstdlib>
#include <cstring>

#include "screens/stageselect.h"
#include "tests/fuzz/fuzzutil.h"

namespace {
bool OnFieldOrRandom(uint16_t value, uint16_t limit) { return value <= limit || value == 0xFFFF; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteInput("stage/stage.txt", data, size);
    CStageSelect select;
    fuzz::Refusable([&] {
        select.LoadStageList();
        if (select.stageCount < 1) std::abort();
        for (int i = 0; i < select.stageCount; i++) {
            const StageEntry& e = select.stages[i];
            if (!std::memchr(e.file, 0, sizeof e.file) || !std::memchr(e.title, 0, sizeof e.title)) std::abort();
            for (int p = 0; p < 4; p++)
                if (!OnFieldOrRandom(e.startX[p], 639) || !OnFieldOrRandom(e.startY[p], 415) ||
                    !OnFieldOrRandom(e.startHeading[p], 359))
                    std::abort();
        }
    });
    return 0;
}
