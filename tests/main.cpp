#include <cstdlib>

#include <gtest/gtest.h>

#include "replay/replay.h"

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    testing::InitGoogleTest(&argc, argv);
    // Rounds played by the tests are recorded but not kept as files; the
    // replay tests turn saving on in a scratch folder.
    theReplay.saveFiles = false;
    // The game's objects and SDL live in this process; death tests re-run the
    // binary instead of forking a copy of a possibly threaded process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
