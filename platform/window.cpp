// The window, its message queue and presentation.
//
// The game draws into 8-bit surfaces of its own; present.cpp shows them.
// Key events become key-down and key-up messages carrying Windows virtual-key
// codes, auto-repeat included, as the game's window procedure expects.
#include <SDL.h>

#include <cstring>

#include "platform/platform_internal.h"

namespace plat {

namespace {

struct WindowState {
    bool initialised = false;
    SDL_Window* window = nullptr;
    int width = 0;
    int height = 0;
    bool fullscreen = true;
    bool blockingWait = false;  // the video driver can sleep until an event
    void (*presentHook)() = nullptr;
};
WindowState w;

// The size of a window: twice the picture where the screen's usable area
// has room for it, else the largest whole multiple that fits (at least 1).
void WindowSize(int* width, int* height) {
    int scale = 2;
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0)
        while (scale > 1 && (w.width * scale > usable.w || w.height * scale > usable.h)) scale--;
    *width = w.width * scale;
    *height = w.height * scale;
}

// The window stays borderless, as it opened: a frame round a window of
// twice the picture's size would not fit a screen of that width.
void EnterWindow() {
    int width, height;
    WindowSize(&width, &height);
    SDL_SetWindowFullscreen(w.window, 0);
    SDL_SetWindowSize(w.window, width, height);
    SDL_SetWindowPosition(w.window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
}

// Full screen is the desktop's: the window covers the whole display and the
// window manager is asked to treat it as full screen. Without a window
// manager nobody answers that request, and the window keeps the place and
// size it had as a window, which showed the picture 32 rows low with its
// bottom cut off; so the window is first put over the whole display by
// hand, as it is when it first opens, and only then asked to be full screen.
void EnterFullscreen() {
    SDL_Rect display;
    if (SDL_GetDisplayBounds(0, &display) == 0) {
        SDL_SetWindowPosition(w.window, display.x, display.y);
        SDL_SetWindowSize(w.window, display.w, display.h);
    }
    SDL_SetWindowFullscreen(w.window, SDL_WINDOW_FULLSCREEN_DESKTOP);
}

void TranslateKey(const SDL_KeyboardEvent& key) {
    if (key.type == SDL_KEYDOWN && key.keysym.scancode == SDL_SCANCODE_RETURN && (key.keysym.mod & KMOD_ALT)) {
        if (!key.repeat) {
            ToggleFullscreen();
            Display().windowed = w.fullscreen ? 0 : 1;  // remembered in the settings file
        }
        return;
    }
    KeyChange(VirtualKeyFromScancode(key.keysym.scancode), key.type == SDL_KEYDOWN, key.repeat != 0);
}

}  // namespace

bool Init() {
    if (w.initialised) return true;
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) return false;
    w.initialised = true;
    PadsInit();
    ClockInit();
    return true;
}

void Quit() {
    DestroyGameWindow();
    PadsQuit();
    if (w.initialised) SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    w.initialised = false;
}

bool CreateGameWindow(const char* caption, int width, int height, bool windowed) {
    if (!w.initialised && !Init()) return false;
    DestroyGameWindow();
    w.width = width;
    w.height = height;
    w.fullscreen = !windowed;
    // Full screen: the window first opens borderless over the whole desktop
    // and shows its first (black) picture, and only then asks for full
    // screen: a window system without a window manager never answers that
    // request, and SDL waits a tenth of a second for the answer.
    SDL_DisplayMode desktop;
    bool placed = SDL_GetDesktopDisplayMode(0, &desktop) == 0;
    if (windowed) {
        int windowWidth, windowHeight;
        WindowSize(&windowWidth, &windowHeight);
        w.window = SDL_CreateWindow(caption, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, windowWidth, windowHeight,
                                    SDL_WINDOW_BORDERLESS);
    } else {
        w.window = placed ? SDL_CreateWindow(caption, 0, 0, desktop.w, desktop.h, SDL_WINDOW_BORDERLESS)
                          : SDL_CreateWindow(caption, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                                             SDL_WINDOW_FULLSCREEN_DESKTOP);
    }
    if (!w.window) return false;
    if (!CreatePresenter(w.window, width, height)) {
        DestroyGameWindow();
        return false;
    }
    if (placed && !windowed) {
        SDL_SetWindowFullscreen(w.window, SDL_WINDOW_FULLSCREEN_DESKTOP);
        InvalidateShownPicture();
    }
    SDL_ShowCursor(SDL_DISABLE);
    // Drivers that talk to a real window system can wait for its events;
    // the others (dummy, offscreen) have none to wait for.
    const char* driver = SDL_GetCurrentVideoDriver();
    w.blockingWait = driver && (strcmp(driver, "x11") == 0 || strcmp(driver, "wayland") == 0);
    return true;
}

void ToggleFullscreen() {
    if (!w.window) return;
    w.fullscreen = !w.fullscreen;
    if (w.fullscreen)
        EnterFullscreen();
    else
        EnterWindow();
    SDL_ShowCursor(SDL_DISABLE);
    InvalidateShownPicture();
}

bool IsWindowed() { return w.window && !w.fullscreen; }

DisplayChoices& Display() {
    static DisplayChoices choices;
    return choices;
}

void HideGameWindow() {
    if (w.window) SDL_HideWindow(w.window);
}

void DestroyGameWindow() {
    DestroyPresenter();
    if (w.window) SDL_DestroyWindow(w.window);
    w.window = nullptr;
}

bool HasWindow() { return w.window != nullptr; }

bool HasDisplay() {
    if (!w.initialised) return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && strcmp(driver, "dummy") != 0 && strcmp(driver, "offscreen") != 0;
}

bool PollEvents() {
    if (!w.initialised) return false;
    ReleaseHeldKeys();
    PadsPoll();
    bool sawEvents = false;
    SDL_Event ev;
    while (SDL_PollEvent(&ev)) {
        sawEvents = true;
        switch (ev.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            TranslateKey(ev.key);
            break;
        case SDL_QUIT:
            PostMessage(Message{MSG_CLOSE, 0, 0});
            break;
        case SDL_WINDOWEVENT:
            if (ev.window.event == SDL_WINDOWEVENT_CLOSE) PostMessage(Message{MSG_CLOSE, 0, 0});
            if (ev.window.event == SDL_WINDOWEVENT_EXPOSED || ev.window.event == SDL_WINDOWEVENT_SIZE_CHANGED ||
                ev.window.event == SDL_WINDOWEVENT_RESTORED)
                InvalidateShownPicture();
            break;
        default:
            HandlePadEvent(ev);
            break;
        }
    }
    return sawEvents || KeysWaiting() || PadsWaiting();
}

void WaitForEvent(uint64_t ns) {
    if (!w.initialised) return;
    uint64_t deadline = MonotonicNs() + ns;
    // SDL waits in whole milliseconds; the rest is slept off so that a
    // refresh is not missed by a fraction and waited for twice.
    if (w.blockingWait && ns >= 1000000 && SDL_WaitEventTimeout(nullptr, int(ns / 1000000)) != 0) return;
    SleepUntilNs(deadline);
}

void SetPresentHook(void (*hook)()) { w.presentHook = hook; }

void PresentNow() {
    if (w.presentHook) w.presentHook();
}

void MessageBox(const char* text, const char* caption) {
    fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    if (HasDisplay() && !UsingTestClock())
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption ? caption : "", text ? text : "", nullptr);
}

}  // namespace plat
