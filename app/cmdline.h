// The command line: what a start asks for, read by one table of options.
#pragma once
#include <cstdio>

// What the command line asks of this start.
struct StartOptions {
    // The window mode of this start: -1 the one remembered in the settings
    // file, 0 full screen, 1 a window. It is not remembered itself.
    int windowMode = -1;
    const char* replayFile = nullptr;  // --replay FILE: play one replay and exit
    bool help = false;
    bool version = false;
};

// Reads argv into *options. False, with a message on stderr, for an option
// it does not know or one without its argument.
bool ReadCommandLine(int argc, char** argv, StartOptions* options);
// The options and what they do, one line each.
void PrintUsage(FILE* out);
