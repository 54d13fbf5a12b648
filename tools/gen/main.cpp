// nuvel-gen: writes the game's whole data set into the game folder given on
// the command line, and the desktop icons into the icon folder when one is
// given. Every run writes the same bytes.
#include <cstdio>
#include <filesystem>
#include <string>

#include "gen.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: nuvel-gen GAME_FOLDER [ICON_FOLDER]\n");
        return 2;
    }
    std::string dir = argv[1];
    if (dir.back() != '/') dir += '/';
    // The four data folders belong to the generator alone (the game writes
    // its settings and screenshots beside them), so they are rebuilt from
    // scratch and no file of an earlier data set lingers.
    for (const char* sub : {"Graphics", "Stage", "Sound", "Bgm"}) std::filesystem::remove_all(dir + sub);
    for (const char* sub : {"Graphics/Items", "Stage", "Sound", "Bgm"}) std::filesystem::create_directories(dir + sub);
    gen::WriteGraphics(dir);
    gen::WriteItems(dir);
    gen::WriteStages(dir);
    gen::WriteSounds(dir);
    gen::WriteMusic(dir);
    if (argc == 3) {
        std::string icons = std::string(argv[2]) + "/";
        std::filesystem::create_directories(icons);
        gen::WriteIcons(icons);
    }
    return 0;
}
