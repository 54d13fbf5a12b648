// The older binary settings file "option.dat" on arbitrary bytes: read once
// (and deleted) when no "option.txt" exists; what it sets must save and read
// back unchanged.
#include <cstdio>
#include <cstdlib>

#include "config/option.h"
#include "tests/fuzz/fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::remove("option.txt");
    fuzz::WriteInput("option.dat", data, size);
    fuzz::Refusable([] {
        if (!theOption.Load()) std::abort();                      // option.dat exists, so it is read
        if (!fuzz::ReadBack("option.dat").empty()) std::abort();  // and gone
        fuzz::CheckSavedSettingsAreStable();
    });
    return 0;
}
