// CApp: frame clock, message pumping, key states, random numbers, direction
// tables, guarded allocation and the fatal exit.
#include "core/app.h"

#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define NUVEL_LEAK_CHECK
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NUVEL_LEAK_CHECK
#endif
#endif
#ifdef NUVEL_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

CApp::CApp(WindowProcHook windowProc)
    : frameStartMs(0),
      fontSurface(0),
      backgroundSurface(0),
      cursorSurface(0),
      workSurface(0),
      backgroundScrollX(0),
      backgroundScrollY(0),
      tintTable(nullptr),
      ctrlFlag(0),
      keyState{},
      anyKeyFlag(0),
      greyTables{},
      keyboardType(0),
      soundVolume(100),
      matchServer{},
      cosTable{},
      negSinTable{},
      padState{},
      keptPresses{},
      keptPressCount(0),
      keptPressNext(0),
      keepingPresses(0),
      m_randState(0),
      m_windowProc(windowProc) {}

CApp::~CApp() {
    Free(tintTable);
    tintTable = nullptr;
    for (uint8_t*& table : greyTables) {
        Free(table);
        table = nullptr;
    }
}

// ---- frame pacing ------------------------------------------------------------

void CApp::StartFrame() { frameStartMs = plat::TimeMs(); }

// Between pumps the process sleeps until there is something to do: a key, a
// display refresh, or the end of the frame, which keeps to the refresh grid.
void CApp::WaitFrame(uint32_t ms) {
    uint64_t endUs = plat::FrameEndUs(frameStartMs, ms);
    for (;;) {
        PumpMessages();
        if (plat::TimeUs() >= endUs || ctrlFlag) return;
        plat::Idle(endUs);
    }
}

// n pumps, or fewer when Control is down. Only a dispatched message can
// change the Ctrl flag, and the platform returns after every quantum that
// leaves a message, so taking quanta in bulk stops where pump by pump would.
void CApp::PumpMessagesN(int n) {
    do {
        n -= int(plat::PumpTicks(ctrlFlag || n <= 1 ? 1u : uint64_t(n)));
        DispatchMessages();
    } while (n > 0 && !ctrlFlag);
}

namespace {
PumpHook g_pumpHook = nullptr;
}  // namespace

void CApp::SetPumpHook(PumpHook hook) { g_pumpHook = hook; }

void CApp::PumpMessages() {
    plat::PumpTick();
    DispatchMessages();
}

void CApp::DispatchMessages() {
    // A stop request (SIGINT, SIGTERM) ends the game from wherever it pumps.
    if (plat::StopSignal()) FatalExit(nullptr, NUVEL_CAPTION_FORCED);
    plat::Message msg;
    while (plat::GetMessage(&msg)) {
        if (msg.type == plat::MSG_QUIT) FatalExit(nullptr, NUVEL_CAPTION_FORCED);
        if (m_windowProc) m_windowProc(msg);
    }
    if (g_pumpHook) g_pumpHook();
}

void CApp::ClearKeys() {
    memset(keyState, 0, sizeof keyState);
    memset(padState, 0, sizeof padState);
}

void CApp::KeepPresses(bool on) {
    if (on) keptPressCount = keptPressNext = 0;
    keepingPresses = on;
}

void CApp::NotePress(uint32_t vk) {
    if (keepingPresses && vk != 0 && vk < 256 && keptPressCount < kKeptPresses)
        keptPresses[keptPressCount++] = uint8_t(vk);
}

uint32_t CApp::TakeKeptPress() { return keptPressNext < keptPressCount ? keptPresses[keptPressNext++] : 0; }

// ---- random numbers ------------------------------------------------------------

int CApp::RandRaw() {
    m_randState = m_randState * 214013u + 2531011u;
    return int((m_randState >> 16) & 0x7FFF);
}

// An empty range (n below 0, hi below lo) gives its lower end instead of
// dividing by zero; the draw is still made so the sequence stays the same.
int CApp::RandUpTo(int n) {
    int raw = RandRaw();
    return n >= 0 ? raw % (n + 1) : 0;
}

int CApp::RandRange(int lo, int hi) {
    int raw = RandRaw();
    return hi >= lo ? lo + int(raw % (int64_t(hi) - lo + 1)) : lo;
}

void CApp::FillDirectionTables() {
    for (int i = 0; i < 360; i++) {
        cosTable[i] = float(cos(i * 0.017453292519943295));
        negSinTable[i] = float(-sin(i * 0.017453292519943295));
    }
}

// ---- memory and the way out ----------------------------------------------------

void* CApp::Alloc(size_t bytes, const char* who) {
    void* block = calloc(1, bytes ? bytes : 1);
    if (!block) {
        char text[128];
        snprintf(text, sizeof text, "%d バイトのメモリ確保に失敗しました", int(bytes));
        FatalExit(text, who);
    }
    return block;
}

void CApp::Free(void* block) { free(block); }

namespace {

constexpr int kMostExitHooks = 4;
ExitHook g_exitHooks[kMostExitHooks];
int g_exitHookCount = 0;

}  // namespace

void CApp::AddExitHook(ExitHook hook) {
    if (g_exitHookCount < kMostExitHooks) g_exitHooks[g_exitHookCount++] = hook;
}

namespace {

// Ends the process with status without taking the window, the audio device
// and the synthesizer down one by one (more than a second with a sound
// server): the system frees them with the process. Only the standard streams
// are flushed. Builds with the leak checker run it first, as exit() would;
// what the game's objects still hold is reachable and so not reported.
[[noreturn]] void EndAtOnce(int status) {
    fflush(stdout);
    fflush(stderr);
#ifdef NUVEL_LEAK_CHECK
    __lsan_do_leak_check();
#endif
    _exit(status);
}

}  // namespace

// Runs the exit hooks and ends the process. Leaving without a message is the
// normal way out and reports success to whoever started the game at once:
// every file the game keeps is written whole when it is made, so nothing is
// left to do. A message means failure: the window is hidden and the message
// shown before the process ends. A stop request, before or during the
// message, ends it as a shell reports a process ended by that signal (130
// for SIGINT, 143 for SIGTERM).
void CApp::FatalExit(const char* text, const char* caption) {
#ifdef NUVEL_FUZZ
    (void)caption;
    throw FatalExitUnwind{text ? 1 : 0};
#endif
    while (g_exitHookCount > 0) g_exitHooks[--g_exitHookCount]();
    if (!text) EndAtOnce(plat::StopSignal() ? 128 + plat::StopSignal() : 0);
    plat::HideGameWindow();
    plat::MessageBox(text, caption);
    fflush(stdout);
    const int stop = plat::StopSignal();
    exit(stop ? 128 + stop : 1);
}

bool TakeKeyboardKey(uint32_t vk) {
    if (!theApp.keyState[vk & 0xFF]) return false;
    theApp.keyState[vk & 0xFF] = 0;
    return true;
}

bool TakePadButton(plat::PadButton button) {
    if (button >= plat::PAD_BUTTONS) return false;
    for (auto& pad : theApp.padState) {
        if (!pad[button]) continue;
        pad[button] = 0;
        return true;
    }
    return false;
}

bool PadButtonHeld(plat::PadButton button) {
    if (button >= plat::PAD_BUTTONS) return false;
    for (const auto& pad : theApp.padState)
        if (pad[button]) return true;
    return false;
}

void ForgetPadPresses() { memset(theApp.padState, 0, sizeof theApp.padState); }

namespace {

// The pad button that stands for a menu key, or PAD_BUTTONS for none.
plat::PadButton PadButtonForKey(uint32_t vk) {
    switch (vk) {
    case plat::VK_LEFT:
        return plat::PAD_LEFT;
    case plat::VK_RIGHT:
        return plat::PAD_RIGHT;
    case plat::VK_UP:
        return plat::PAD_UP;
    case plat::VK_DOWN:
        return plat::PAD_DOWN;
    case plat::VK_RETURN:
        return plat::PAD_SOUTH;
    case plat::VK_ESCAPE:
        return plat::PAD_EAST;
    case plat::VK_R:
        return plat::PAD_NORTH;
    default:
        return plat::PAD_BUTTONS;
    }
}

}  // namespace

bool TakeKey(uint32_t vk) { return TakeKeyboardKey(vk) || TakePadButton(PadButtonForKey(vk)); }

bool StartsWith(const char* prefix, const char* text) {
    for (; *prefix; prefix++, text++)
        if (*text != *prefix) return false;
    return true;
}
