#include <cstdio>
#include <cstring>

#include "app/shell.h"

int main(int argc, char** argv) {
    // Run in the game folder, or as an installed game from anywhere.
    plat::ChooseGameFolders();
    if (argc >= 2 && std::strcmp(argv[1], "--replay") == 0) {
        if (argc != 3) {
            std::fprintf(stderr, "usage: nuvel [--replay FILE]\n");
            return 1;
        }
        return ReplayMain(argv[2]);
    }
    return WinMain();
}
