// The small layer that stands in for the Windows services the game was
// written against: the window and its message queue, the multimedia timer,
// the message box, the 8-bit display and case-insensitive file names.
// Nothing here knows about the game, and no SDL type leaks out of it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plat {

// Window messages, in the shape the game's window procedure expects.
enum MessageType : uint32_t {
    MSG_NONE = 0,
    MSG_KEYDOWN,      // wParam: Windows virtual-key code; lParam bit 30: key was already down (auto-repeat)
    MSG_KEYUP,        // wParam: virtual-key code
    MSG_CLOSE,        // the user asked to close the window
    MSG_DESTROY,      // the window is going away
    MSG_QUIT,         // the quit message that ends message pumping
    MSG_MUSICNOTIFY,  // end of a MIDI piece played with notification; wParam: notify code (1 = successful)
    MSG_PADDOWN,      // a gamepad button went down; wParam: pad slot (0 to kPadSlots - 1), lParam: PadButton
    MSG_PADUP,        // a gamepad button went up (also posted for every held button when its pad is unplugged)
};

struct Message {
    uint32_t type;
    uint32_t wParam;
    uint32_t lParam;
};

// Virtual-key codes used by the game (the Windows values).
enum VirtualKey : uint32_t {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_PAUSE = 0x13,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_R = 0x52,
    VK_NUMPAD0 = 0x60,
    VK_NUMPAD3 = 0x63,
    VK_NUMPAD6 = 0x66,
    VK_NUMPAD9 = 0x69,
    VK_F1 = 0x70,
    VK_F6 = 0x75,
    VK_F12 = 0x7B,
    VK_DECIMAL = 0x6E,     // the keypad's point
    VK_OEM_1 = 0xBA,       // ;
    VK_OEM_PLUS = 0xBB,    // =
    VK_OEM_COMMA = 0xBC,   // ,
    VK_OEM_MINUS = 0xBD,   // -
    VK_OEM_PERIOD = 0xBE,  // .
    VK_OEM_2 = 0xBF,       // /
    VK_OEM_3 = 0xC0,       // `
    VK_OEM_4 = 0xDB,       // [
    VK_OEM_5 = 0xDC,       // backslash
    VK_OEM_6 = 0xDD,       // ]
    VK_OEM_7 = 0xDE,       // '
    VK_OEM_102 = 0xE2,     // the key beside the left Shift on ISO keyboards
};

// ---- start-up and the window ---------------------------------------------

// Brings up SDL's video and events. Headless runs use SDL's dummy video
// driver (SDL_VIDEODRIVER=dummy); false when no video driver at all works.
bool Init();
// Shuts down SDL; the process may Init again afterwards (tests do).
void Quit();
// Creates the one game window, no mouse pointer: desktop full screen, or
// with `windowed` a window with the window manager's frame, which can be
// moved, resized and closed, of twice the picture's size where the screen
// has room for it and a title bar (else the largest whole multiple that fits).
bool CreateGameWindow(const char* caption, int width, int height, bool windowed = false);
// Alt+Enter: from full screen to a window and back.
void ToggleFullscreen();
bool IsWindowed();

// How the picture is scaled to the window (applied at the next picture):
// by whole pixels and letterboxed; to fit the window at its aspect ratio;
// or by whole pixels where they fill at least 90% of the window's height,
// else to fit (a 1366x768 screen holds the picture only once by whole
// pixels, which would leave most of it black).
enum Scaling : uint8_t { SCALING_WHOLE = 0, SCALING_FIT = 1, SCALING_AUTO = 2, kScalings };
// Whether a picture of pictureW x pictureH is shown in an output of outW x
// outH scaled to fit rather than by whole pixels.
bool ScalesToFit(uint8_t scaling, int pictureW, int pictureH, int outW, int outH);

// How the window shows the picture. The settings file keeps these; the
// window and the presentation read them here, where they live.
struct DisplayChoices {
    // The window mode chosen last with Alt+Enter (1: a window); the window
    // opens in it unless the command line says otherwise.
    uint8_t windowed = 0;
    uint8_t scaling = SCALING_AUTO;
};
DisplayChoices& Display();
void HideGameWindow();
void DestroyGameWindow();
bool HasWindow();
// True when a message box can be shown on a real display.
bool HasDisplay();

// ---- messages -------------------------------------------------------------

// One message pump quantum: polls the window system when a millisecond has
// passed since the last poll, presents the visible picture when a display
// refresh is due, and accounts 1.5 us of game time, sleeping the debt off
// once it reaches a millisecond. Every wait loop of the game goes through it.
void PumpTick();
// Up to most pump quanta (at least one) without returning in between, as
// long as no message waits to be taken: returns after the quantum that left
// one, or after the last. On the real clock that is always one PumpTick. On
// the test clock the quanta are taken in bulk, at the cost of what they do
// rather than of their number, and every scripted message, poll and
// presentation happens at the same game time as with PumpTick one by one.
// Returns how many quanta were taken.
uint64_t PumpTicks(uint64_t most);
// Removes the next waiting message; false when the queue is empty.
bool GetMessage(Message* msg);
// True when a message is waiting (does not remove it).
bool PeekMessage();
// Appends a message to the queue. Safe from any thread (the music player
// reports the end of a piece from the audio thread).
void PostMessage(const Message& msg);
// Drops every waiting message and any scripted input.
void FlushMessages();

// ---- key names ----------------------------------------------------------------

// Keys are read by their position on the keyboard, whatever the layout
// prints on them; a virtual-key code names a position.
// The position's name as the settings file keeps it: SDL's name of the
// physical key ("J", "Left", "Keypad 3", "["); "" for a code no key gives.
const char* KeyName(uint32_t vk);
// The virtual key of the position with this name, in any letter case; 0
// when no key the game reads has it.
uint32_t KeyFromName(const char* name);
// What the user's keyboard layout prints on the key at that position, as
// SDL names it (UTF-8): "A" at the Q position of an AZERTY keyboard, "Left",
// "Keypad 3"; "" when the layout is not known.
std::string KeyLabel(uint32_t vk);

// ---- gamepads ---------------------------------------------------------------

// Gamepads come and go at any time. A pad that is plugged in takes the lowest
// free slot 0..kPadSlots-1, so with no unplugging the slots follow the order in
// which pads were connected; unplugging frees the slot (after posting a
// button-up for each button it held), and a pad that found every slot taken
// waits and takes the first slot that frees. Button changes arrive as
// MSG_PADDOWN / MSG_PADUP messages in the same queue as the keys, read by the
// message pump; buttons are named by position, whatever the pad prints on them.
constexpr int kPadSlots = 4;
enum PadButton : uint32_t {
    PAD_LEFT,
    PAD_RIGHT,
    PAD_UP,
    PAD_DOWN,  // the d-pad
    PAD_SOUTH,
    PAD_EAST,
    PAD_NORTH,  // face buttons (the west one is not used)
    PAD_START,
    PAD_BACK,
    PAD_LSHOULDER,
    PAD_RSHOULDER,
    PAD_BUTTONS  // how many there are
};
// How many slots hold a pad now.
int ConnectedPads();

// Test support: SDL's virtual joysticks stand in for real pads, so the tests
// never include SDL. AttachVirtualPad plugs one in and returns its handle
// (-1 when the pad layer is not running); the pad takes a slot when the next
// pump polls the window system. PadSlotOf gives the slot a handle holds, or -1.
int AttachVirtualPad();
bool SetVirtualPadButton(int pad, PadButton button, bool down);
// The same change made by the first poll at or after test-clock time atMs,
// for menus and rounds that run their own loops.
void ScriptPadButton(uint32_t atMs, int pad, PadButton button, bool down);
bool DetachVirtualPad(int pad);
int PadSlotOf(int pad);

// ---- time -----------------------------------------------------------------

// Milliseconds since the platform started (timeGetTime). Wraps like the original.
uint32_t TimeMs();
// Microseconds, for benchmarks and pacing.
uint64_t TimeUs();
// Blocks until the next 60 Hz display refresh boundary (pumps nothing).
void WaitVBlank();
// When a frame of ms milliseconds begun at startMs (a TimeMs reading) ends,
// in TimeUs: frames of a refresh or longer end on the first display refresh
// no earlier than 8 ms before startMs + ms, so that they keep to the
// display's rhythm; shorter ones end at startMs + ms.
uint64_t FrameEndUs(uint32_t startMs, uint32_t ms);
// Sleeps until a window-system event or a message is waiting, the next
// display refresh is due or untilUs (TimeUs) comes, whichever is first; then
// reads the window system's events and presents if the refresh is due. The
// caller takes the messages afterwards. Returns at once on the test clock.
void Idle(uint64_t untilUs);
// Game time stands in for one PumpTick, in nanoseconds.
constexpr uint64_t kPumpQuantumNs = 1500;

// Test clock: from now on TimeMs reads a clock that only moves when a test
// steps it or when PumpTick advances it by nsPerPump; nothing ever sleeps.
// Reading it twice without a pump in between moves it by a microsecond, so
// that a loop timing something other than pumps still ends.
void UseTestClock(uint32_t startMs, uint32_t nsPerPump);
void UseRealClock();
bool UsingTestClock();
void StepTestClock(uint32_t ms);
// Scripted input for tests: the message is posted by the first PumpTick at or
// after test-clock time atMs. Entries are kept in time order.
void ScriptMessage(uint32_t atMs, const Message& msg);
void ScriptKey(uint32_t atMs, uint32_t vk);  // key down at atMs, key up 66 ms later
// How many PumpTick calls have been made (for tests and calibration checks).
uint64_t PumpCount();

// ---- presentation -----------------------------------------------------------

// Shows an 8-bit picture through a 256-entry palette (0x00RRGGBB entries),
// unless it is the picture already on screen.
void Present(const uint8_t* pixels, int width, int height, int pitch, const uint32_t* palette);
// The pump calls this hook when a display refresh is due; the display object
// registers it so that the visible surface is shown at display rate.
void SetPresentHook(void (*hook)());
// Presents through the hook at once (used by flips).
void PresentNow();
// Nanoseconds spent in the last picture actually presented (benchmarks).
uint64_t LastPresentNs();
// Pictures presented, and presents skipped because the picture on screen
// was the same.
struct PresentCounts {
    uint64_t presented = 0;
    uint64_t skipped = 0;
};
PresentCounts GetPresentCounts();
// "renderer" (GPU scaling) or "surface" (scaled into the window's own
// pixels); "none" without a window.
const char* PresentPathName();
// The colour (0x00RRGGBB) shown at window position x, y, for tests; kNoPixel
// outside the window or when the renderer presents.
constexpr uint32_t kNoPixel = 0xFFFFFFFFu;
uint32_t ShownPixel(int x, int y);

// ---- stop requests and the message box --------------------------------------

// SIGINT and SIGTERM ask the game to end (from Init on): the signal that
// asked, or 0. The game ends at its next message pump; a second request
// ends the process at once.
int StopSignal();

// A blocking message box with an OK button; written to stderr as well, and
// only to stderr where there is no display. The box is shown by a helper
// process that ends with the game, and a stop request closes it at once.
void MessageBox(const char* text, const char* caption);
// Called first in main: when this process was started as a message box's
// helper, shows the box and returns true, and main returns. Otherwise it
// returns false and lets this program's boxes be shown by helpers.
bool RunMessageBoxHelper(int argc, char** argv);

// ---- files ----------------------------------------------------------------

// The game folder may be split in two: the data set (the folders Graphics,
// Sound, Bgm and Stage) is read from the data folder, and everything else the
// game names (its settings, screenshots) from and to the writable folder. An
// installed game reads its data set from a shared place that only the system
// may change and keeps its own files in a per-user folder. Both folders are
// the working directory (the empty string) until they are set. Returns false,
// changing nothing, when a folder name is too long.
//
// canWrite false says that no place for the game's own files can be written:
// the writable folder is then only read (the game runs on with what it has),
// and every write, new folder or removal of a game path that would land in
// it is refused. Paths given absolute are the caller's own and never refused.
bool SetGameFolders(const char* dataFolder, const char* writableFolder, bool canWrite = true);
const char* DataFolder();
const char* WritableFolder();
// False when the game's own files cannot be kept anywhere (see SetGameFolders).
bool CanWriteGameFiles();
// The game folder's own copy of a file of the writable folder: gamePath
// resolved against the data folder, opened for reading. Null when it is
// missing, or when the data folder is the writable folder (the file was
// already looked for there).
FILE* OpenGameFolderCopy(const char* gamePath);

// Chooses the two folders at start-up and sets them:
// - the working directory holds the data set: it is the data folder, and also
//   the writable folder when it can be written (a game run in its game folder);
// - else the data set installed beside the program (installedDataFolder, or
//   when that is null the folder <program's folder>/../share/tarnwick): its
//   files are only read, and the game's own files go to the per-user folder;
// - else both stay the working directory, and the missing files are reported
//   where the game loads them.
// The per-user folder is $XDG_DATA_HOME/tarnwick (~/.local/share/tarnwick by
// default), created when missing; an existing one is used as it is. When it
// is needed and cannot be made, nothing of the game's own is kept: the
// writable folder is the data folder, read only (CanWriteGameFiles is false).
void ChooseGameFolders(const char* installedDataFolder = nullptr);
// The per-user folder's name for the current environment (not created).
std::string UserDataFolder();

// Resolves a game path written with backslashes or slashes ("Graphics\font.png")
// against its folder (see SetGameFolders), component by component without
// regard to letter case. Writes the real path into out (size outSize) and returns true
// when the file or folder exists; otherwise out holds the path with the
// existing prefix resolved and the rest as given (usable for creating files).
bool ResolvePath(const char* gamePath, char* out, size_t outSize);
// fopen through ResolvePath. A mode that writes is refused (null, errno
// EROFS) for a game file that cannot be kept (see SetGameFolders).
FILE* OpenFile(const char* gamePath, const char* mode);
bool FileExists(const char* gamePath);
bool RemoveFile(const char* gamePath);
// Writes a whole file so that a failure or a crash half-way leaves the old
// file untouched: writes a temporary file beside it, then renames it over.
// On failure nothing new is left behind and errno says why. A symbolic link
// is written through: the file it leads to is replaced, the link stays.
bool WriteFileAtomic(const char* gamePath, const void* data, size_t size);
// Creates a folder (and the folders above it) unless it exists; true when it
// exists afterwards.
bool MakeFolder(const char* gamePath);
// When a file was last changed, in nanoseconds of the wall clock since 1970;
// -1 when it is missing.
int64_t ModifiedNs(const char* gamePath);
// The wall clock now, in the same unit.
int64_t WallClockNs();
// The names of the plain files in a folder, in no particular order; empty
// when the folder is missing or cannot be read.
std::vector<std::string> ListFolder(const char* gamePath);

}  // namespace plat
