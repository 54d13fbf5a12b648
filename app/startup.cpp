// Start-up: the window, the display, pictures, tables, lists, sound; the
// maker-logo intro; the settings; then the title screen, which never returns.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/shell.h"
#include "config/option.h"
#include "core/gamedata.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "replay/replay.h"
#include "screens/online.h"
#include "screens/replayplay.h"
#include "screens/stageselect.h"
#include "screens/title.h"
#include "sound/bgm.h"
#include "sound/directsound.h"

namespace {

const char kLogoText[] = "TARNWICK TEAM";
constexpr int kLogoGlyph = 32;
constexpr int kLogoY = 224;
constexpr int kFrameMs = 33;

void LoadEffects() {
    theDirectSound.StartDirectSound(kEffectCount);
    for (int i = 0; i < kEffectCount; i++) {
        char path[160];
        snprintf(path, sizeof path, "Sound\\%.127s", kEffectTable[i].file);
        theDirectSound.SetData(i, path, kEffectTable[i].buffers);
    }
}

// A key press skips the logo: any key or pad button but Alt (of Alt+Enter),
// Shift and Control held alone, and F6, which takes a picture of the logo.
bool SkipsLogo(int vk) {
    return vk != plat::VK_MENU && vk != plat::VK_SHIFT && vk != plat::VK_CONTROL && vk != plat::VK_F6;
}

bool LogoSkipped() {
    for (int vk = 1; vk < 256; vk++)
        if (theApp.keyState[vk] && SkipsLogo(vk)) return true;
    for (const auto& pad : theApp.padState)
        for (uint8_t button : pad)
            if (button) return true;
    return false;
}

}  // namespace

void CApp::Init() {
    if (!theDirectDraw.StartDirectDraw(kScreenWidth, kScreenHeight, 8))
        FatalExit("DirectDraw初期化に失敗しました", NUVEL_CAPTION_FORCED);
    fontSurface = theDirectDraw.LoadPng("Graphics\\font.png", true, false);
    backgroundSurface = theDirectDraw.LoadPng("Graphics\\background.png", false, false);
    cursorSurface = theDirectDraw.LoadPng("Graphics\\cursor.png", false, true);
    workSurface = theDirectDraw.CreateSurface(kScreenWidth, 24, true);
    SetAlphaTable(&tintTable, 50, 50, 115);
    for (int k = 0; k < 16; k++) {
        uint8_t add = uint8_t(8 + 10 * k);
        SetAlphaTable(&greyTables[k], add, add, add);
    }
    Seed(uint32_t(time(nullptr)));
    ClearKeys();
    theStageSelect.LoadStageList();
    theStageSelect.LoadBgmList();
    theItemManager.LoadPictures();
    FillDirectionTables();
    theBgm.StartDirectMusic();
    LoadEffects();
    theDirectSound.SetVolume(soundVolume);
}

// The maker logo typed out key by key with a blinking block cursor, then a fade
// to black. Everything is drawn straight onto the visible surface; surface 1
// serves as scratch space for the glyphs. A key press ends it at once, on
// black, as its fade would have.
void CApp::LogoIntro() {
    StartFrame();
    WaitFrame(200);
    theDirectDraw.ClearSurface(kBackBuffer);
    if (LogoSkipped()) {
        theDirectDraw.SetPaletteBrightness(-255);
        return;
    }

    const int length = int(strlen(kLogoText));
    int x = (20 - length) * 16;
    int shown = 0;
    int countdown = 40;
    int closingFrames = 0;
    for (int frame = 1; closingFrames < 40; frame++) {
        StartFrame();
        if (shown < length) {
            if (--countdown == 0) {
                int pitch = RandRange(-20, 20);
                int pick = RandUpTo(1);
                theDirectSound.Play(pick == 0 ? SE_KEY1 : SE_KEY0, 0, (pitch + 110) * 100);
                theDirectDraw.FillRect(kVisibleSurface, x, kLogoY, 16, 32, 0);
                char glyph[2] = {kLogoText[shown], 0};
                DrawTextScaled(1, x, kLogoY, kLogoGlyph, kLogoGlyph, glyph, 9, false, false);
                theDirectDraw.Draw(kVisibleSurface, x, kLogoY, kLogoGlyph, kLogoGlyph, kBackBuffer, x, kLogoY, false,
                                   0);
                x += kLogoGlyph;
                shown++;
                countdown = RandRange(3, 7);
            }
            theDirectDraw.FillRect(kVisibleSurface, x, kLogoY, 16, 32, (frame / 3) % 2 ? 255 : 0);
        } else {
            theDirectDraw.FillRect(kVisibleSurface, x, kLogoY, 16, 32, 0);
            closingFrames++;
        }
        WaitFrame(kFrameMs);
        if (LogoSkipped()) break;
    }

    for (int brightness = 0; brightness >= -250 && !LogoSkipped(); brightness -= 10) {
        StartFrame();
        theDirectDraw.WaitVBlank();
        theDirectDraw.SetPaletteBrightness(brightness);
        WaitFrame(kFrameMs);
    }
    theDirectDraw.SetPaletteBrightness(-255);
}

namespace {

// The window opens in the mode the command line names, else in the one the
// settings file remembers.
bool OpenWindow(const StartOptions& options) {
    bool windowed = options.windowMode >= 0 ? options.windowMode == 1 : plat::Display().windowed != 0;
    if (plat::Init() && plat::CreateGameWindow("Tarnwick", kScreenWidth, kScreenHeight, windowed)) return true;
    // Without a window there is nothing to show a message in.
    fprintf(stderr, "Tarnwick: no display could be opened.\n");
    return false;
}

}  // namespace

// The settings are read before the window opens, so that it opens the way
// they say; the first-run calibration still runs after the logo intro.
int WinMain(const StartOptions& options) {
    RemoveStaleReplayWrites(plat::WallClockNs());
    bool settingsRead = theOption.Load();
    if (!OpenWindow(options)) return 1;
    theApp.Init();
    theApp.LogoIntro();
    if (!settingsRead) theRound.state.wait = theApp.CalibrateGameWait();
    // --host or --join: the lobby first, then the title.
    if (theOnline.plan.mode != OnlinePlan::NONE) theOnline.Launch(theOnline.plan);
    theTitle.Run();  // never returns: the process ends through CApp::FatalExit
}

int ReplayMain(const char* path, const StartOptions& options) {
    theOption.Load();  // volume and sound; the replay brings the round's own settings
    static ReplayData data;
    char text[600];
    // The file is read before the window opens, so that one that cannot be
    // played is said on standard error also where no window (and no box) can
    // open; with a window, the box says it too.
    const ReplayReadResult read = LoadReplayFile(path, &data);
    if (read != REPLAY_READ_OK) ReplayReadMessage(path, read, data, text, sizeof text);
    if (!OpenWindow(options)) {
        if (read != REPLAY_READ_OK) fprintf(stderr, "Replay: %s\n", text);
        return 1;
    }
    if (read != REPLAY_READ_OK) CApp::FatalExit(text, "Replay");
    theApp.Init();
    ReplayOutcome outcome = PlayReplay(data, true);
    if (outcome.verdict == REPLAY_DIFFERS || outcome.verdict == REPLAY_NO_STAGE) {
        ReplayVerdictText(data, outcome, path, text, sizeof text);
        CApp::FatalExit(text, "Replay");
    }
    CApp::FatalExit(nullptr, NUVEL_CAPTION_FORCED);
}
