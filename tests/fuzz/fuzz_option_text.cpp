// The settings file "option.txt" on arbitrary text. Besides the sanitizers,
// it checks that what the game writes back reads in to the same settings:
// saving, loading and saving again must give the same file.
#include <cstdlib>

#include "config/option.h"
#include "tests/fuzz/fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteInput("option.txt", data, size);
    fuzz::Refusable([] {
        theOption.Load();
        fuzz::CheckSavedSettingsAreStable();
    });
    return 0;
}
