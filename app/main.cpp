#include "app/app.h"

int main() {
    // Run in the game folder, or as an installed game from anywhere.
    plat::ChooseGameFolders();
    return WinMain();
}
