// CTitle: the title screen. The five letters of the short title drop onto the
// scrolling background one by one, a band of light sweeps across them, and the
// main menu runs below until a choice leaves it.
#include "screens/title.h"

#include <cstdio>
#include <cstring>

#include "config/option.h"
#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "match/round.h"
#include "screens/matchloop.h"
#include "screens/online.h"
#include "screens/roundintro.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "screens/standings.h"
#include "sound/bgm.h"
#include "sound/directsound.h"

namespace {

constexpr int kLogoX = 40;
constexpr int kLogoY = 24;
constexpr int kLetterSize = 112;
constexpr int kLetters = 5;
constexpr int kLightWidth = 160;
constexpr int kMenuY = 200;
constexpr int kMenuStep = 29;

enum MenuLine { LINE_START = 0, LINE_OPTION = 5, LINE_EXIT = 6 };

constexpr uint32_t kOnlineKey = 'N';
// How to find online play, in the same band while the cursor is on START or OPTION.
const char kOnlineHint[] = "N: ONLINE";

const char kFullTitle[] = "TARNWICK";
const char kVersionLine[] = "VERSION " NUVEL_VERSION;
const char kMakerLine[] = "TARNWICK TEAM 2026";
constexpr int kVersionY = 414;
// Why START did nothing, for two seconds in the empty band over the version line.
const char kRefusal[] = "START NEEDS TWO PLAYERS";
constexpr int kRefusalY = kVersionY - 20;
constexpr int32_t kRefusalFrames = 60;
constexpr uint8_t kRefusalColor = 6;

using menu::EndFrame;

}  // namespace

CTitle::CTitle() : logoSurface(0), lines{}, visible{}, colors{5, 0, 1, 2, 3, 7, 6}, cursor(0), refusalFrames(0) {
    strcpy(lines[LINE_START], "START");
    strcpy(lines[LINE_OPTION], "OPTION");
    strcpy(lines[LINE_EXIT], "EXIT");
}

// Keys pressed during the opening are not lost: they skip what is left of it
// and then reach the menu in the order they were pressed, one a frame, as if
// typed after it.
void CTitle::Run() {
    BuildMenu();
    theApp.ClearKeys();
    theApp.anyKeyFlag = 0;
    theApp.KeepPresses(true);
    FadeIn();
    Intro();
    theApp.KeepPresses(false);
    theApp.ClearKeys();
    for (;;) {
        theApp.StartFrame();
        uint32_t early = theApp.TakeKeptPress();
        if (early) theApp.keyState[early] = 1;
        HandleMenuKeys();
        if (early && theApp.keyState[early] == 1) theApp.keyState[early] = 0;  // one the menu has no use for
        Draw();
        EndFrame();
    }
}

void CTitle::BuildMenu() {
    // Presses kept from the opening are for the menu as it was then; a screen
    // they led into has ended, and what is left of them is not replayed.
    while (theApp.TakeKeptPress() != 0) {
    }
    ReleaseLogo();
    logoSurface = theDirectDraw.CreateSurface(kLetters * kLetterSize, kLetterSize, false);
    theApp.DrawTextScaled(logoSurface, 0, 0, kLetterSize, kLetterSize, "NUVEL", 9, false, false);
    memset(visible, 1, sizeof visible);
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
    for (int p = 0; p < kPlayers; p++) {
        CyclePlayerType(p, 0);
        colors[p + 1] = uint8_t(p);
    }
}

void CTitle::ReleaseLogo() { theDirectDraw.ReleaseSurface(logoSurface); }

bool CTitle::CanStart() const {
    int players = 0;
    for (const PlayerSlot& slot : theRound.players)
        if (EffectivePlayerType(slot.type) != PLAYER_NON) players++;
    return players > 1;
}

void CTitle::HandleMenuKeys() {
    if (TakeKey(plat::VK_UP)) {
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
        cursor = cursor > 0 ? cursor - 1 : kTitleLines - 1;
    }
    if (TakeKey(plat::VK_DOWN)) {
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
        cursor = (cursor + 1) % kTitleLines;
    }
    bool onPlayer = cursor >= 1 && cursor <= kPlayers;
    if (onPlayer && TakeKey(plat::VK_LEFT)) {
        CyclePlayerType(cursor - 1, -1);
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
    }
    if (onPlayer && TakeKey(plat::VK_RIGHT)) {
        CyclePlayerType(cursor - 1, +1);
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
    }
    if (TakeKey(plat::VK_RETURN)) {
        if (cursor == LINE_START) {
            if (CanStart()) {
                theDirectSound.Play(SE_CUR_OK, 0, 0);
                refusalFrames = 0;
                RunMatch();
            } else {
                theDirectSound.Play(SE_STOP, 0, 0);
                refusalFrames = kRefusalFrames;
            }
        } else if (cursor <= kPlayers) {
            CyclePlayerType(cursor - 1, +1);
        } else if (cursor == LINE_OPTION) {
            theDirectSound.Play(SE_CUR_OK, 0, 0);
            ReleaseLogo();
            theOption.Run();
            theApp.ClearKeys();
            BuildMenu();
        } else {
            // The settings are written after the fade-out, right before the
            // process ends, so that the game is gone as soon as they are kept.
            theDirectSound.Play(SE_CUR_OK, 0, 0);
            FadeOut();
            theOption.Save();
            CApp::FatalExit(nullptr, NUVEL_CAPTION_FORCED);
        }
    }
    // N: the online screen (host, join or watch a match over the network).
    if (TakeKeyboardKey(kOnlineKey)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        ReleaseLogo();
        theOnline.Run();
        theApp.ClearKeys();
        BuildMenu();
    }
    if (TakeKey(plat::VK_ESCAPE)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        cursor = LINE_EXIT;
        FadeOut();
        CApp::FatalExit(nullptr, NUVEL_CAPTION_FORCED);
    }
}

// A match from the title, through the match loop.
void CTitle::RunMatch() {
    ReleaseLogo();
    BeginMatch();
    theBgm.Close();
    PlayMatch(nullptr);
    theApp.ClearKeys();
    BuildMenu();
    theBgm.Stop();
}

void CTitle::FadeIn() {
    for (int offset = -255; offset < 0; offset += 7) {
        theApp.StartFrame();
        theApp.DrawBackground(true);
        theDirectDraw.SetPaletteBrightness(offset);
        EndFrame();
    }
    theDirectDraw.SetPaletteBrightness(0);
}

// The letter drop and the light sweep; any key (also one pressed during the
// fade-in) skips what is left of them.
void CTitle::Intro() {
    for (int k = 0; k < kLetters; k++) {
        int x = kLetterSize * k;
        for (int y = -64; y <= 0; y += 32) {
            theApp.StartFrame();
            if (theApp.anyKeyFlag) return;
            theApp.DrawBackground(true);
            if (k >= 1) theDirectDraw.Draw(kBackBuffer, kLogoX, kLogoY, x, kLetterSize, logoSurface, 0, 0, true, 0);
            theDirectDraw.Draw(kBackBuffer, kLogoX + x, y, kLetterSize, kLetterSize, logoSurface, x, 0, true,
                               CLIP_DEST);
            EndFrame();
        }
        theDirectSound.Play(SE_WALL, -2000 + 1000 * k, 0);
        for (int i = -10; i <= 0; i += 2) {
            theApp.StartFrame();
            if (theApp.anyKeyFlag) return;
            theApp.DrawBackground(true);
            theDirectDraw.Draw(kBackBuffer, kLogoX + x, kLogoY, kLetterSize, kLetterSize, logoSurface, x, 0, true,
                               CLIP_DEST);
            for (int j = 0; j < k; j++) {
                int dy = theApp.RandRange(i, -i);
                int dx = theApp.RandRange(i, -i);
                theDirectDraw.Draw(kBackBuffer, kLogoX + kLetterSize * j + dx, kLogoY + dy, kLetterSize, kLetterSize,
                                   logoSurface, kLetterSize * j, 0, true, CLIP_DEST);
            }
            EndFrame();
        }
    }

    theDirectDraw.SetSourceClip(0, 0, kLetters * kLetterSize, kLetterSize);
    SurfaceId light = theDirectDraw.LoadPng("Graphics\\title_light.png", false, true);
    SurfaceId work = theDirectDraw.CreateSurface(kLightWidth, kLetterSize, true);
    for (int s = -kLightWidth; s <= 536; s += 24) {
        theApp.StartFrame();
        if (theApp.anyKeyFlag) break;
        theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
        theApp.DrawBackground(true);
        theDirectDraw.Draw(kBackBuffer, kLogoX, kLogoY, kLetters * kLetterSize, kLetterSize, logoSurface, 0, 0, true,
                           0);
        LightSweep(s, light, work);
        theDirectDraw.Draw(kBackBuffer, kLogoX + s, kLogoY, kLightWidth, kLetterSize, work, 0, 0, true, CLIP_DEST);
        EndFrame();
    }
    theDirectDraw.ReleaseSurface(light);
    theDirectDraw.ReleaseSurface(work);
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
}

// Builds one frame of the lit band: the part of the logo under the light
// picture, each letter pixel brightened by the grey table its light level picks.
void CTitle::LightSweep(int sourceX, SurfaceId light, SurfaceId work) {
    theDirectDraw.ClearSurface(work);
    theDirectDraw.Draw(work, 0, 0, kLightWidth, kLetterSize, logoSurface, sourceX, 0, false, CLIP_SOURCE);
    SurfaceDesc lit = theDirectDraw.Lock(light);
    SurfaceDesc out = theDirectDraw.Lock(work);
    if (lit.pixels && out.pixels) {
        int rows = lit.height < out.height ? lit.height : out.height;
        int cols = lit.width < out.width ? lit.width : out.width;
        for (int row = 0; row < rows; row++) {
            for (int col = 0; col < cols; col++) {
                uint8_t v = lit.pixels[row * lit.pitch + col];
                uint8_t& p = out.pixels[row * out.pitch + col];
                // Light levels are 16..31; anything else in the picture is no light.
                if (v >= 16 && v <= 31 && p && theApp.greyTables[v - 16]) p = theApp.greyTables[v - 16][p];
            }
        }
    }
    theDirectDraw.Unlock(work);
    theDirectDraw.Unlock(light);
}

void CTitle::Draw() {
    theApp.DrawBackground(true);
    theDirectDraw.Draw(kBackBuffer, kLogoX, kLogoY, kLetters * kLetterSize, kLetterSize, logoSurface, 0, 0, true, 0);
    for (int i = 0; i < kTitleLines; i++)
        if (visible[i]) theApp.DrawText(kBackBuffer, 0, kMenuY + kMenuStep * i, lines[i], colors[i], true, 0);
    theApp.DrawText(kBackBuffer, 0, 160, kFullTitle, 7, true, 0);
    if (refusalFrames > 0) {
        refusalFrames--;
        theApp.DrawText(kBackBuffer, 0, kRefusalY, kRefusal, kRefusalColor, true, 0);
    } else if (cursor == LINE_START || cursor == LINE_OPTION) {
        theApp.DrawText(kBackBuffer, 0, kRefusalY, kOnlineHint, 7, true, 0);
    }
    theApp.DrawText(kBackBuffer, 0, kVersionY, kVersionLine, 7, true, 0);
    theApp.DrawText(kBackBuffer, 0, 442, kMakerLine, 7, true, 0);
    DrawCursor();
}

void CTitle::DrawCursor() { menu::HighlightEntry(lines[cursor], kMenuY - 4 + kMenuStep * cursor); }

// The chosen entry blinks while the palette fades to black.
void CTitle::FadeOut() {
    for (int offset = 0; offset >= -252; offset -= 7) {
        theApp.StartFrame();
        visible[cursor] ^= 1;
        Draw();
        theDirectDraw.SetPaletteBrightness(offset);
        EndFrame();
    }
    theDirectDraw.SetPaletteBrightness(-255);
}

// Steps a player's type through MAN, NON, EASY COM, NORMAL COM, HARD COM, MASTER COM with
// wrap-around and rewrites the player's menu line; a step of 0 only rewrites.
void CTitle::CyclePlayerType(int player, int step) {
    int8_t& type = theRound.players[player].type;
    if (step != 0) type = int8_t((EffectivePlayerType(type) + step + kPlayerTypes) % kPlayerTypes);
    snprintf(lines[player + 1], sizeof lines[player + 1], "%d_PLAYER <_%s_>", player + 1, PlayerTypeName(type));
}
