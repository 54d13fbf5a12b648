// The music list "bgm\bgm.txt" on arbitrary text: a list without pieces is
// refused with its fatal message; every entry of an accepted list holds
// terminated file names and titles.
#include <cstdlib>
#include <cstring>

#include "screens/stageselect.h"
#include "tests/fuzz/fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteInput("bgm/bgm.txt", data, size);
    CStageSelect select;
    fuzz::Refusable([&] {
        select.LoadBgmList();
        if (select.bgmCount < 1) std::abort();
        for (int i = 0; i < select.bgmCount; i++) {
            const BgmEntry& e = select.bgms[i];
            if (!std::memchr(e.file, 0, sizeof e.file) || !std::memchr(e.title, 0, sizeof e.title)) std::abort();
        }
    });
    return 0;
}
