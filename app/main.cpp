#include <cstdio>

#include "app/cmdline.h"
#include "app/shell.h"
#include "core/gamedata.h"

int main(int argc, char** argv) {
    // A message box of the game is shown by this program started again.
    if (plat::RunMessageBoxHelper(argc, argv)) return 0;
    // The command line is read before anything is opened: --help and
    // --version need neither a display nor the game folder.
    StartOptions options;
    if (!ReadCommandLine(argc, argv, &options)) return 1;
    if (options.help) {
        PrintUsage(stdout);
        return 0;
    }
    if (options.version) {
        std::printf("Tarnwick %s\n", kGameVersion);
        return 0;
    }
    // Run in the game folder, or as an installed game from anywhere.
    plat::ChooseGameFolders();
    if (options.replayFile) return ReplayMain(options.replayFile, options);
    return WinMain(options);
}
