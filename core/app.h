// CApp: the application object. Frame clock, key states, random numbers,
// direction tables, guarded allocation, fatal exit, start-up, text drawing,
// the tiled background and the highlight bar.
//
// The object is declared here, at the bottom of the game's layers, because
// every layer uses its clock, keys, generator and allocation. Its operations
// are defined in the layer they belong to: pacing, keys, random numbers,
// memory and the way out here; text, background and highlight bar with the
// graphics; start-up, the logo intro, screenshots and the speed calibration
// with the application shell. Nothing here reaches up: the window procedure
// and the clean-up of the display are hooks that the upper layers hand in.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/gamedata.h"
#include "platform/platform.h"

using SurfaceId = uint16_t;
// The visible surface and its back buffer; the pool's surfaces follow. In a
// field that owns a surface, 0 also means that it holds none.
constexpr SurfaceId kVisibleSurface = 0;
constexpr SurfaceId kBackBuffer = 1;

// Captions and texts shared by several callers.
#define NUVEL_CAPTION_FORCED "強制終了しました"

// Called with every message CApp::PumpMessages fetches.
using WindowProcHook = long (*)(const plat::Message& msg);
// Called by CApp::FatalExit before the window is hidden (the display's clean-up).
using ExitHook = void (*)();
// Called by every CApp::PumpMessages after the window's messages: an online
// match keeps its network moving this way, in rounds, menus and waits alike.
using PumpHook = void (*)();

class CApp {
public:
    explicit CApp(WindowProcHook windowProc = nullptr);
    ~CApp();

    // ---- frame pacing and messages ----
    void StartFrame();
    void WaitFrame(uint32_t ms);
    void PumpMessagesN(int n);
    void PumpMessages();
    // Measures the machine and returns the WAIT that makes a round frame last
    // 2.4 ms; the caller stores it.
    int32_t CalibrateGameWait();
    void ClearKeys();
    // While on, every new key press is also written down, oldest first (up
    // to kKeptPresses), for a screen that cannot act on keys yet; the list
    // outlives ClearKeys and is emptied by turning it on again.
    void KeepPresses(bool on);
    void NotePress(uint32_t vk);
    // The oldest press written down and not yet taken, or 0 when none is left.
    uint32_t TakeKeptPress();

    // ---- random numbers ----
    void Seed(uint32_t seed) { m_randState = seed; }
    uint32_t RandState() const { return m_randState; }
    int RandRaw();
    int RandUpTo(int n);
    int RandRange(int lo, int hi);

    // ---- conversions and memory ----
    static int FloatToInt(float x) { return static_cast<int>(x); }
    static void* Alloc(size_t bytes, const char* who);
    static void Free(void* block);
    [[noreturn]] static void FatalExit(const char* text, const char* caption);
    // Registers what FatalExit must do before the process ends; the hooks
    // run newest first, as clean-up after construction does.
    static void AddExitHook(ExitHook hook);
    // One hook at a time; nullptr removes it.
    static void SetPumpHook(PumpHook hook);
#ifdef NUVEL_FUZZ
    // Fuzz builds only: FatalExit throws this instead of ending the process,
    // so that a fuzz target can take the game's own refusal as a clean outcome
    // and go on with its next input.
    struct FatalExitUnwind {
        int exitCode;
    };
#endif

    // ---- start-up and shell ----
    void Init();
    void FillDirectionTables();
    void LogoIntro();
    void Screenshot();

    // ---- text, background and highlight bar ----
    void DrawText(SurfaceId dest, int x, int y, const char* text, uint8_t color, bool centred, int clipMode);
    void DrawTextScaled(SurfaceId dest, int x, int y, int glyphWidth, int glyphHeight, const char* text, uint8_t color,
                        bool centreH, bool centreV);
    static int TextWidth(const char* text);
    // True when the font has a picture for the character (blanks have none).
    static bool HasGlyph(char ch);
    void DrawBackground(bool advance);
    void SetAlphaTable(uint8_t** slot, uint8_t red, uint8_t green, uint8_t blue);
    void DrawHighlightBar(int x, int y, int width);

    // Fields, in the documented order.
    uint32_t frameStartMs;
    SurfaceId fontSurface;
    SurfaceId backgroundSurface;
    SurfaceId cursorSurface;
    SurfaceId workSurface;
    int32_t backgroundScrollX;
    int32_t backgroundScrollY;
    uint8_t* tintTable;
    uint8_t ctrlFlag;
    uint8_t keyState[256];
    uint8_t anyKeyFlag;
    uint8_t* greyTables[16];
    uint8_t keyboardType;
    int8_t soundVolume;
    // The match server this machine meets others through (HOST or HOST:PORT);
    // empty: online play goes straight to an address only.
    char matchServer[kMatchServerTextMax];
    float cosTable[360];
    float negSinTable[360];
    // Each pad slot's buttons, with keyState's meaning: 0 up, 1 newly down,
    // 2 down and already acted on. Pads are never steered through keyState,
    // so a pad's d-pad cannot turn a seat that plays on the arrow keys.
    uint8_t padState[plat::kPadSlots][plat::PAD_BUTTONS];
    static constexpr int kKeptPresses = 32;
    uint8_t keptPresses[kKeptPresses];
    uint8_t keptPressCount;
    uint8_t keptPressNext;
    uint8_t keepingPresses;

private:
    // Hands every waiting message to the window procedure.
    void DispatchMessages();

    uint32_t m_randState;
    WindowProcHook m_windowProc;
};

// Takes a key from the key table for a menu: true when it was down, and marks
// it up so that a held key repeats only with the keyboard's auto-repeat.
// Failing that, takes the matching press from any pad (arrows: the d-pad,
// Return: south, Escape: east, R: north); a pad does not auto-repeat, so a
// held button acts once.
bool TakeKey(uint32_t vk);
// The keyboard half of TakeKey.
bool TakeKeyboardKey(uint32_t vk);
// Takes a button press from whichever pad has it down (as TakeKey does).
bool TakePadButton(plat::PadButton button);
// True while any pad holds the button down.
bool PadButtonHeld(plat::PadButton button);
// Marks every pad button up: one held now acts again only when pressed anew.
void ForgetPadPresses();

// A text starts with a prefix (the parsers' key test).
bool StartsWith(const char* prefix, const char* text);

extern CApp theApp;
