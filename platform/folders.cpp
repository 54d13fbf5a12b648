// Where the game folder is: the data set and the place for the game's own
// files. A game started in its game folder (the build's game folder, or an
// unpacked copy) reads and writes there as it always has. An installed game
// is started from anywhere; its data set lies in the shared data folder of
// the installation, which only the system may change, so its settings,
// screenshots and replays go to a per-user folder instead. Where that folder
// cannot be made either, the game keeps nothing and runs on.
#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/platform_internal.h"

#ifndef NUVEL_DATA_FROM_BIN
#define NUVEL_DATA_FROM_BIN "../share/tarnwick"
#endif

namespace plat {

namespace {

// A folder holds the data set when the files every start loads are there.
// The names are matched without regard to case, as the game matches them.
bool HoldsDataSet(const std::string& folder) {
    char path[PATH_MAX];
    return ResolveInFolder(folder.c_str(), "Graphics\\font.png", path, sizeof path) &&
           ResolveInFolder(folder.c_str(), "Stage\\stage.txt", path, sizeof path);
}

// The data set installed beside the program, as an absolute path; empty when
// the program's own location is unknown.
std::string InstalledDataFolder() {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    exe[n] = '\0';
    std::string dir(exe);
    dir.erase(dir.find_last_of('/') + 1);
    return dir + NUVEL_DATA_FROM_BIN;
}

// Creates a folder and any missing parents. New folders are private to the
// user, as the base directory rules ask for.
bool MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Absolute(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) ? std::string(real) : path;
}

// Sets the game folders for a data folder whose own files are kept in the
// per-user folder. When that folder cannot be made, there is no place to keep
// them: the data folder is read for them (its own settings, say) and nothing
// is ever written, there or anywhere else.
void UsePerUserFolder(const std::string& dataFolder) {
    std::string user = UserDataFolder();
    if (!user.empty() && MakeFolders(user)) {
        SetGameFolders(dataFolder.c_str(), user.c_str());
        return;
    }
    fprintf(stderr, "Tarnwick: cannot create the folder \"%s\"; settings, screenshots and replays are not kept.\n",
            user.c_str());
    SetGameFolders(dataFolder.c_str(), dataFolder.c_str(), false);
}

}  // namespace

std::string UserDataFolder() {
    // A relative XDG_DATA_HOME is invalid and is ignored, as the rules say.
    const char* xdg = getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/tarnwick";
    const char* home = getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* pw = getpwuid(getuid());
        home = (pw && pw->pw_dir && pw->pw_dir[0] == '/') ? pw->pw_dir : nullptr;
    }
    if (!home) return "";
    return std::string(home) + "/.local/share/tarnwick";
}

// The desktop's files are kept where they are written.
void GameFilesChanged(const char*) {}

void ChooseGameFolders(const char* installedDataFolder) {
    if (HoldsDataSet(".")) {
        if (access(".", W_OK | X_OK) == 0)
            SetGameFolders("", "");
        else
            UsePerUserFolder("");
        return;
    }
    std::string installed = installedDataFolder ? installedDataFolder : InstalledDataFolder();
    if (!installed.empty() && HoldsDataSet(installed)) {
        UsePerUserFolder(Absolute(installed));
        return;
    }
    SetGameFolders("", "");
}

}  // namespace plat
