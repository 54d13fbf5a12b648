// What every fuzz target shares: a scratch game folder that is the working
// directory for the whole run, writing the input into it as a file, and
// taking the game's fatal exits as clean refusals.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/app.h"

namespace fuzz {

// Makes a fresh temporary folder the working directory (once per process)
// and returns its path. The game resolves its file names against it.
const std::string& GameDir();

// Writes the input to gamePath (e.g. "stage/stage.txt") in the game folder,
// making the folders on the way.
void WriteInput(const char* gamePath, const uint8_t* data, size_t size);

// Reads a file of the game folder whole ("" when it is missing).
std::string ReadBack(const char* gamePath);

// Saves the settings, loads and saves them again, and aborts unless both
// option.txt files are the same: what the game writes it must read back.
void CheckSavedSettingsAreStable();

// Runs a reader; a fatal exit (the game's message for input it refuses)
// ends it cleanly. True when the reader returned normally.
template <typename Reader>
bool Refusable(Reader&& reader) {
    try {
        reader();
        return true;
    } catch (const CApp::FatalExitUnwind&) {
        return false;
    }
}

}  // namespace fuzz
