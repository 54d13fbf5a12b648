// Helpers shared by the tests: a headless display on the test clock, a
// scratch folder, a known palette, and running a piece of the game in a
// child process that must end through the fatal exit.
#pragma once
#include <cstdint>
#include <string>

#include "core/app.h"
#include "graphics/directdraw.h"

namespace testutil {

// Starts SDL (dummy drivers), the window and the display once per process and
// switches to the test clock (nsPerPump of game time per message pump).
// Every call clears the message queue, the key table and the surfaces 0 and 1.
void StartHeadlessDisplay(uint32_t nsPerPump = 100000);

// Gives the master palette 256 distinct colours: entry 0 black, entry i
// (r, g, b) = (i, (i * 7) & 255, 255 - i), entry 255 white.
void SetDistinctPalette();

// Reads one pixel of a surface.
uint8_t PixelAt(SurfaceId id, int x, int y);

// The colour (0x00RRGGBB) the window shows for pixel (x, y) of the game's
// picture, as last presented; plat::kNoPixel where the window cannot be read.
uint32_t ShownColour(int x, int y);

// The folder that temporary folders go in: $TMPDIR, else /tmp.
std::string TempRoot();

// A fresh empty folder in TempRoot(), named <prefix>-XXXXXX, that is removed
// with everything in it at the end of scope. A process that ends through
// exit() inside the scope (a death test's child ends through the game's fatal
// exit) removes it at exit, so a death test leaves no folder behind either.
class TempDir {
public:
    explicit TempDir(const char* prefix = "nuvel-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
    bool m_made;
};

// Makes a folder the working directory for the rest of the scope.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& dir);
    ~ScopedCwd();

private:
    std::string m_old;
};

// A small file system of its own (tmpfs) mounted on a fresh folder for the
// scope, to make a disk full or read-only for real. Mounting needs root;
// mounted() is false where it was not allowed, and the test should skip.
class ScopedTmpfs {
public:
    explicit ScopedTmpfs(size_t kilobytes);
    ~ScopedTmpfs();
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;
    bool mounted() const { return m_mounted; }
    const std::string& path() const { return m_dir.path(); }
    std::string File(const std::string& name) const { return m_dir.File(name); }
    // Writes a filler file until the file system is full, less keepBytes.
    void Fill(size_t keepBytes);
    bool MakeReadOnly();
    // Bytes still free.
    uint64_t FreeBytes() const;

private:
    TempDir m_dir;
    bool m_mounted;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Everything a round needs besides a stage list: the headless display on the
// test clock, the game pictures, the item pictures and the direction tables.
void StartRoundsHeadless(uint32_t nsPerPump);

// Makes dir a game folder for rounds: "stage/stage.txt" holds the given list
// text and "stage/EMPTY.PNG" is a stage picture of open ground. Loads the list
// and selects its first stage.
void WriteStageList(const std::string& dir, const std::string& list);

// Loads the generated game pictures (font with its palette, background,
// cursor) and builds the alpha tables, as start-up does. Needs the display.
void LoadGamePictures();

// Pumps messages for ms of test-clock time (the platform polls every ms).
void PumpFor(uint32_t ms);

// A virtual gamepad plugged in for the scope; it takes its slot at the next
// poll, which the constructor pumps for. Unplugging is optional.
class VirtualPad {
public:
    VirtualPad();
    ~VirtualPad();
    VirtualPad(const VirtualPad&) = delete;
    VirtualPad& operator=(const VirtualPad&) = delete;
    int handle() const { return m_handle; }
    int slot() const { return plat::PadSlotOf(m_handle); }
    // Sets a button and pumps until the change has come through (a release
    // only comes once the press has lasted the platform's shortest press).
    void Set(plat::PadButton button, bool down);
    // Holds a button down while act runs, then lets it go.
    template <class Act>
    void Press(plat::PadButton button, Act act) {
        Set(button, true);
        act();
        Set(button, false);
    }
    // Scripted: down at test-clock atMs, up 66 ms later.
    void ScriptPress(uint32_t atMs, plat::PadButton button);
    void Unplug();

private:
    int m_handle;
};

}  // namespace testutil
