// Shared between the platform's own files; never included by the game.
#pragma once
#include "platform/platform.h"

struct SDL_Window;
union SDL_Event;

namespace plat {

// A key or pad button tapped faster than a menu frame (33 ms) would go down
// and up between two reads of the key table and be lost. Releases that come
// sooner than this after their press are held back until the press has
// lasted this long.
constexpr uint32_t kShortestPressMs = 50;

void ClockInit();
// Mixes frames of music and voices into out with the audio lock already
// held: the device's pull (mixer.cpp).
void AudioMixLocked(int16_t* out, int frames);
// True while any voice plays (mixer.cpp), with the audio lock already held.
bool AnyVoicePlayingLocked();
// A voice started (mixer.cpp tells the device, audio lock held): a device
// that stopped to save power while all was silent starts again.
void AudioVoiceStarted();
// Key changes of a key position, as every window system reports them
// (queue.cpp): posts the key messages and holds short taps' releases back.
// vk 0 (a key the game has no code for) is ignored.
void KeyChange(uint32_t vk, bool down, bool repeat);
// Posts the releases held back that are due; true while any waits.
void ReleaseHeldKeys();
bool KeysWaiting();
// The game's own files changed on disk (written, removed, a folder made):
// the absolute or working-directory path of the file. The desktop keeps
// nothing more; a browser copies the change to its storage.
void GameFilesChanged(const char* path);
// Makes SIGINT and SIGTERM stop requests (see StopSignal); before SDL starts.
void InstallStopSignals();
// The virtual key of a key position (an SDL scancode), 0 for a key the game
// has no code for (keys.cpp).
uint32_t VirtualKeyFromScancode(int scancode);
// The system's monotonic clock, whatever clock the game reads, and a sleep
// until a time on it.
uint64_t MonotonicNs();
void SleepUntilNs(uint64_t deadlineNs);
// Reads pending window-system events and turns them into messages. Returns
// true when a later poll may find something even if nothing outside the
// process happens in between: this poll saw events (which may have more to
// follow), or a held-back release or a scripted pad change waits for its time.
bool PollEvents();
// The gamepad layer (gamepad.cpp): started and stopped with SDL; PollEvents
// hands it every controller event. Pads are optional: when SDL's controller
// support cannot start, the game runs on the keyboard alone.
void PadsInit();
void PadsQuit();
// Posts the button-ups held back from taps (called by every poll).
void PadsPoll();
// True while a held-back button-up or a scripted button change is waiting.
bool PadsWaiting();
// True when the event was a controller event (and is handled).
bool HandlePadEvent(const SDL_Event& ev);
void ClearScript();
// The clock in milliseconds without the side effects of TimeMs.
uint32_t RawTimeMs();
// ResolvePath against a given folder instead of the game folders; a null
// folder means the game folder that the path belongs to.
bool ResolveInFolder(const char* folder, const char* gamePath, char* out, size_t outSize);

// Presentation (present.cpp): made with the window, gone with it.
bool CreatePresenter(SDL_Window* window, int width, int height);
void DestroyPresenter();
void DestroyPresenterObjects();
// The window system lost the window's content: present the next picture
// even when it is unchanged.
void InvalidateShownPicture();
// Sleeps until a window-system event arrives or ns nanoseconds pass.
void WaitForEvent(uint64_t ns);

}  // namespace plat
