// The page as the game's window: its canvas shows the picture (present.cpp),
// its key events become the same key messages as on the desktop, and
// Alt+Enter switches full screen through the Fullscreen API.
//
// Key events arrive between the game's sleeps, while the game's own code is
// set aside; they are kept in a small ring and turned into messages by the
// next poll, at the same point of the pump as on the desktop.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>
#include <cstring>

#include "platform/platform_internal.h"
#include "platform/web/web.h"

namespace plat {

namespace {

struct KeyEvent {
    uint32_t vk;
    bool down;
    bool repeat;
};
constexpr int kRingSize = 256;

struct WindowState {
    bool initialised = false;
    bool window = false;
    int width = 0;
    int height = 0;
    void (*presentHook)() = nullptr;
    KeyEvent ring[kRingSize];
    int ringHead = 0;
    int ringCount = 0;
    bool down[256] = {};        // as the page reported them
    uint8_t laidOutFit = 0xFF;  // the scaling the canvas was last laid out for
};
WindowState w;

void Keep(uint32_t vk, bool down, bool repeat) {
    if (w.ringCount == kRingSize) return;  // a full ring drops input, as a full queue does
    w.ring[(w.ringHead + w.ringCount) % kRingSize] = KeyEvent{vk, down, repeat};
    w.ringCount++;
    w.down[vk] = down;
    web_input_arrived();
}

// The browser keeps these for itself: reloading, full screen, its tools.
bool BrowsersOwn(const char* code) {
    return strcmp(code, "F5") == 0 || strcmp(code, "F11") == 0 || strcmp(code, "F12") == 0;
}

EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* e, void*) {
    bool down = type == EMSCRIPTEN_EVENT_KEYDOWN;
    if (down && e->altKey && (strcmp(e->code, "Enter") == 0 || strcmp(e->code, "NumpadEnter") == 0)) {
        // Inside the key's own event: the browser grants full screen only there.
        if (!e->repeat) {
            ToggleFullscreen();
            Display().windowed = IsWindowed() ? 1 : 0;  // remembered in the settings file
        }
        return EM_TRUE;
    }
    uint32_t vk = VirtualKeyFromCode(e->code);
    if (vk == 0) return EM_FALSE;
    if (down || w.down[vk]) Keep(vk, down, down && e->repeat);
    return BrowsersOwn(e->code) ? EM_FALSE : EM_TRUE;
}

// Keys held when the page loses the focus never report their release.
EM_BOOL OnBlur(int, const EmscriptenFocusEvent*, void*) {
    for (uint32_t vk = 1; vk < 256; vk++)
        if (w.down[vk]) Keep(vk, false, false);
    return EM_FALSE;
}

EM_BOOL OnResize(int, const EmscriptenUiEvent*, void*) {
    w.laidOutFit = 0xFF;
    InvalidateShownPicture();
    return EM_FALSE;
}

void LayOutIfChosen() {
    if (!w.window || w.laidOutFit == Display().fitScaling) return;
    w.laidOutFit = Display().fitScaling;
    web_lay_out(w.width, w.height, w.laidOutFit);
}

}  // namespace

bool Init() {
    if (w.initialised) return true;
    const char* target = EMSCRIPTEN_EVENT_TARGET_WINDOW;
    emscripten_set_keydown_callback(target, nullptr, EM_TRUE, OnKey);
    emscripten_set_keyup_callback(target, nullptr, EM_TRUE, OnKey);
    emscripten_set_blur_callback(target, nullptr, EM_TRUE, OnBlur);
    emscripten_set_resize_callback(target, nullptr, EM_TRUE, OnResize);
    w.initialised = true;
    PadsInit();
    ClockInit();
    return true;
}

void Quit() {
    DestroyGameWindow();
    PadsQuit();
    w.initialised = false;
}

bool CreateGameWindow(const char*, int width, int height, bool windowed) {
    if (!w.initialised && !Init()) return false;
    w.width = width;
    w.height = height;
    w.window = true;
    w.laidOutFit = 0xFF;
    PresenterOpen(width, height);
    // A page cannot go full screen by itself, only in answer to a key or a
    // click; it opens in the page and Alt+Enter switches.
    (void)windowed;
    LayOutIfChosen();
    return true;
}

void ToggleFullscreen() {
    if (!w.window) return;
    web_set_fullscreen(web_is_fullscreen() ? 0 : 1);
    w.laidOutFit = 0xFF;
    InvalidateShownPicture();
}

bool IsWindowed() { return w.window && !web_is_fullscreen(); }

DisplayChoices& Display() {
    static DisplayChoices choices;
    return choices;
}

void HideGameWindow() {}

void DestroyGameWindow() {
    if (w.window) PresenterClose();
    w.window = false;
}

bool HasWindow() { return w.window; }

bool HasDisplay() { return w.initialised; }

bool PollEvents() {
    if (!w.initialised) return false;
    ReleaseHeldKeys();
    PadsPoll();
    MusicPoll();
    LayOutIfChosen();
    bool sawEvents = w.ringCount > 0;
    while (w.ringCount > 0) {
        KeyEvent e = w.ring[w.ringHead];
        w.ringHead = (w.ringHead + 1) % kRingSize;
        w.ringCount--;
        KeyChange(e.vk, e.down, e.repeat);
    }
    return sawEvents || KeysWaiting() || PadsWaiting();
}

void SetPresentHook(void (*hook)()) { w.presentHook = hook; }

void PresentNow() {
    if (w.presentHook) w.presentHook();
}

// A page cannot block on a dialog while the game runs: the text goes to the
// console and over the page, and the game goes on (or ends) as it would
// after the box was closed.
void MessageBox(const char* text, const char* caption) {
    fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    web_message_box(text ? text : "", caption ? caption : "");
}

}  // namespace plat
