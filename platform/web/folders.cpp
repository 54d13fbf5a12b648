// The page's folders: the data set is packed into the page's data file and
// mounted read-only at /game; the game's own files (settings, screenshots,
// replays) live in /save, which the browser keeps in its IndexedDB storage
// across reloads (the page mounts and loads it before the game starts).
#include <strings.h>

#include <cstring>

#include "platform/platform_internal.h"
#include "platform/web/web.h"

namespace plat {

namespace {

constexpr char kDataFolder[] = "/game";
constexpr char kSaveFolder[] = "/save";

// A picture written straight into the save folder (a screenshot) is also
// handed to the player, since a page's storage cannot be opened by hand.
bool OffersDownload(const char* path) {
    size_t folder = strlen(kSaveFolder), n = strlen(path);
    return strncmp(path, kSaveFolder, folder) == 0 && path[folder] == '/' && !strchr(path + folder + 1, '/') && n > 4 &&
           strcasecmp(path + n - 4, ".png") == 0;
}

}  // namespace

void GameFilesChanged(const char* path) { web_file_changed(path, OffersDownload(path) ? 1 : 0); }

void ChooseGameFolders(const char*) { SetGameFolders(kDataFolder, kSaveFolder); }

std::string UserDataFolder() { return kSaveFolder; }

}  // namespace plat
