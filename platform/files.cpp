// Game paths on a case-sensitive file system.
//
// The game names its files the way they were written for a case-insensitive
// system, with backslashes and any letter case ("stage\stage.txt" and
// "Stage\MEADOW.PNG" live in the same folder). Each component is matched
// against the directory's entries without regard to ASCII letter case.
//
// A relative game path names a file of the game folder. The game folder may
// be split in two (see SetGameFolders): the data set's folders are read from
// the data folder, and every other name (the files the game writes itself)
// lives in the writable folder. Both are the working directory by default.
//
// When no place for the game's own files can be written, the writable folder
// is only read: writes, new folders and removals of game paths are refused
// here, in one place, so no caller can leave a file where the game promised
// not to write.
#include <dirent.h>
#include <errno.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/platform_internal.h"

namespace plat {

namespace {

constexpr size_t kPathMax = 4096;

// The two halves of the game folder; empty means the working directory.
char g_dataFolder[kPathMax] = "";
char g_writableFolder[kPathMax] = "";
bool g_canWrite = true;

// The top-level folders of the data set; paths below them are data.
const char* const kDataSetFolders[] = {"Graphics", "Sound", "Bgm", "Stage"};

bool Exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

// Finds the entry of directory dir whose name equals name without regard to
// case; writes it to found. An exact match wins over a case-folded one.
bool FindEntry(const char* dir, const char* name, char* found, size_t foundSize) {
    DIR* d = opendir(dir[0] ? dir : ".");
    if (!d) return false;
    bool ok = false;
    while (dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, name) != 0) continue;
        if (strlen(e->d_name) >= foundSize) continue;
        strcpy(found, e->d_name);
        ok = true;
        if (strcmp(e->d_name, name) == 0) break;
    }
    closedir(d);
    return ok;
}

bool Append(char* out, size_t outSize, size_t* len, const char* part) {
    size_t n = strlen(part);
    if (*len + n + 2 > outSize) return false;
    if (*len > 0 && out[*len - 1] != '/') out[(*len)++] = '/';
    memcpy(out + *len, part, n + 1);
    *len += n;
    return true;
}

// True when the slash-separated relative path work lies in one of the data
// set's folders (its first component names one, in any letter case).
bool IsDataSetPath(const char* work) {
    size_t n = strcspn(work, "/");
    for (const char* folder : kDataSetFolders)
        if (strlen(folder) == n && strncasecmp(work, folder, n) == 0) return true;
    return false;
}

// The folder a path is resolved against: none for an absolute path, else the
// data folder or the writable folder. The folder itself is taken as it is.
const char* BaseFolder(const char* work) {
    if (work[0] == '/') return "/";
    return IsDataSetPath(work) ? g_dataFolder : g_writableFolder;
}

// True when a write to gamePath must not happen: no place for the game's own
// files can be written and the path is one of the game's (not absolute).
// Sets errno as a read-only file system would.
bool WriteRefused(const char* gamePath) {
    if (g_canWrite || !gamePath || gamePath[0] == '/') return false;
    errno = EROFS;
    return true;
}

bool ModeWrites(const char* mode) { return strpbrk(mode, "wa+") != nullptr; }

bool CopyFolder(char* dest, const char* folder) {
    if (!folder) folder = "";
    if (strlen(folder) >= kPathMax) return false;
    strcpy(dest, folder);
    return true;
}

}  // namespace

bool SetGameFolders(const char* dataFolder, const char* writableFolder, bool canWrite) {
    char data[kPathMax];
    char writable[kPathMax];
    if (!CopyFolder(data, dataFolder) || !CopyFolder(writable, writableFolder)) return false;
    strcpy(g_dataFolder, data);
    strcpy(g_writableFolder, writable);
    g_canWrite = canWrite;
    return true;
}

const char* DataFolder() { return g_dataFolder; }
const char* WritableFolder() { return g_writableFolder; }
bool CanWriteGameFiles() { return g_canWrite; }

FILE* OpenGameFolderCopy(const char* gamePath) {
    if (strcmp(g_dataFolder, g_writableFolder) == 0) return nullptr;
    char path[kPathMax];
    if (!ResolveInFolder(g_dataFolder, gamePath, path, sizeof path)) return nullptr;
    return fopen(path, "rb");
}

bool ResolvePath(const char* gamePath, char* out, size_t outSize) {
    return ResolveInFolder(nullptr, gamePath, out, outSize);
}

bool ResolveInFolder(const char* folder, const char* gamePath, char* out, size_t outSize) {
    if (!out || outSize == 0) return false;
    out[0] = '\0';
    if (!gamePath || strlen(gamePath) >= kPathMax) return false;

    char work[kPathMax];
    strcpy(work, gamePath);
    for (char* c = work; *c; c++)
        if (*c == '\\') *c = '/';

    const char* base = (folder && work[0] != '/') ? folder : BaseFolder(work);
    size_t len = strlen(base);
    if (len + 1 > outSize) return false;
    strcpy(out, base);
    bool resolved = true;
    char* save = nullptr;
    for (char* part = strtok_r(work, "/", &save); part; part = strtok_r(nullptr, "/", &save)) {
        char found[256];
        const char* use = part;
        if (resolved) {
            char probe[kPathMax];
            snprintf(probe, sizeof probe, "%s%s%s", out, (len > 0 && out[len - 1] != '/') ? "/" : "", part);
            if (!Exists(probe)) {
                if (FindEntry(out, part, found, sizeof found))
                    use = found;
                else
                    resolved = false;
            }
        }
        if (!Append(out, outSize, &len, use)) return false;
    }
    return resolved && Exists(out);
}

FILE* OpenFile(const char* gamePath, const char* mode) {
    if (ModeWrites(mode) && WriteRefused(gamePath)) return nullptr;
    char path[kPathMax];
    ResolvePath(gamePath, path, sizeof path);
    if (!path[0]) return nullptr;
    return fopen(path, mode);
}

bool FileExists(const char* gamePath) {
    char path[kPathMax];
    return ResolvePath(gamePath, path, sizeof path);
}

bool RemoveFile(const char* gamePath) {
    if (WriteRefused(gamePath)) return false;
    char path[kPathMax];
    if (!ResolvePath(gamePath, path, sizeof path) || unlink(path) != 0) return false;
    GameFilesChanged(path);
    return true;
}

bool WriteFileAtomic(const char* gamePath, const void* data, size_t size) {
    if (WriteRefused(gamePath)) return false;
    char path[kPathMax];
    ResolvePath(gamePath, path, sizeof path);
    if (!path[0]) return errno = ENAMETOOLONG, false;
    char temp[kPathMax + 8];
    snprintf(temp, sizeof temp, "%s.new", path);
    FILE* f = fopen(temp, "wb");
    if (!f) return false;
    // The first failure is the one reported; a full disk may show only at the
    // flush or the sync.
    int why = 0;
    errno = 0;
    if (fwrite(data, 1, size, f) != size) why = errno ? errno : EIO;
    if (fflush(f) != 0 && !why) why = errno;
    if (fsync(fileno(f)) != 0 && !why) why = errno;
    if (fclose(f) != 0 && !why) why = errno;
    if (!why && rename(temp, path) != 0) why = errno;
    if (!why) {
        GameFilesChanged(path);
        return true;
    }
    unlink(temp);
    errno = why;
    return false;
}

bool MakeFolder(const char* gamePath) {
    if (WriteRefused(gamePath)) return false;
    char path[kPathMax];
    if (ResolvePath(gamePath, path, sizeof path)) return true;
    if (!path[0]) return false;
    // Each missing component in turn, so that "a/b" works when "a" is missing.
    for (char* c = path + 1; *c; c++) {
        if (*c != '/') continue;
        *c = '\0';
        if (!Exists(path)) mkdir(path, 0755);
        *c = '/';
    }
    if (!Exists(path)) mkdir(path, 0755);
    if (!Exists(path)) return false;
    GameFilesChanged(path);
    return true;
}

std::vector<std::string> ListFolder(const char* gamePath) {
    std::vector<std::string> names;
    char path[kPathMax];
    if (!ResolvePath(gamePath, path, sizeof path)) return names;
    DIR* dir = opendir(path);
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) {
        char full[kPathMax + 256];
        snprintf(full, sizeof full, "%s/%s", path, entry->d_name);
        struct stat st;
        if (stat(full, &st) == 0 && S_ISREG(st.st_mode)) names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return names;
}

}  // namespace plat
