// The pause menu. Page Down and Page Up change WAIT during play; Escape
// freezes the round under the "STOP" menu, where WAIT can be changed too and
// the round can be left. Nothing of the round moves while the menu is open.
#include "screens/pausemenu.h"

#include <cstdio>
#include <cstring>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "match/round.h"
#include "online/onlineround.h"
#include "sound/directsound.h"

namespace {

constexpr int kBannerWidthPx = 256, kBannerHeightPx = 64;
constexpr int kBannerX = 192, kBannerY = 112;
constexpr int kEntryY = 224, kEntryStep = 32;

// The frozen field or the views, the status line and the panels, on the back buffer.
void DrawRoundBehind() {
    theRound.DrawStatus(kBackBuffer);
    if (theRound.state.scrollPlay)
        theRound.DrawScrollViews(kBackBuffer, true, false);
    else
        theDirectDraw.Draw(kBackBuffer, 0, kFieldTop, kFieldWidth, kFieldHeight, theRound.local.playfieldSurface, 0,
                           kFieldTop, false, 0);
    for (int i = 0; i < kPlayers; i++) theRound.DrawPanel(kBackBuffer, i);
}

}  // namespace

CPauseMenu::CPauseMenu()
    : banner(0),
      entries{"CONTINUE", "NEXT ROUND", "", "EXIT", ""},
      colors{0, 7, 5, 6, 6},
      cursor(0),
      rows(4),
      shownWait(0) {
    if (OnlinePauseRow(0, false, entries[PAUSE_ONLINE], sizeof entries[PAUSE_ONLINE])) rows = 5;
}

void CPauseMenu::Run() {
    Begin();
    for (;;) {
        theApp.StartFrame();
        theApp.DrawBackground(true);
        DrawRoundBehind();
        const bool stay = HandleKeys();
        OnlineMenuLeads(SCREEN_PAUSE, cursor, theRound.state.wait, !stay);
        if (!stay) break;
        Draw();
        menu::EndFrame();
    }
    End();
}

void CPauseMenu::Begin() {
    banner = theDirectDraw.CreateSurface(kBannerWidthPx, kBannerHeightPx, false);
    theApp.DrawTextScaled(banner, 0, 0, 64, 64, "STOP", 9, false, false);
    cursor = PAUSE_CONTINUE;
    // In normal play the field is the visible surface, which the menu is
    // about to draw over: keep the frozen field in the playfield surface.
    if (!theRound.state.scrollPlay) theDirectDraw.CopyScreen(theRound.local.playfieldSurface, kVisibleSurface);
    AdjustWait(0);
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
}

// On "CONTINUE" one clean frame takes the menu off the screen; in normal play
// the flip makes the restored picture the field again.
void CPauseMenu::End() {
    theDirectDraw.ReleaseSurface(banner);
    if (cursor != PAUSE_CONTINUE) return;
    theApp.DrawBackground(false);
    DrawRoundBehind();
    theDirectDraw.Flip();
}

void CPauseMenu::Draw() {
    theDirectDraw.Draw(kBackBuffer, kBannerX, kBannerY, kBannerWidthPx, kBannerHeightPx, banner, 0, 0, true, 0);
    for (int i = 0; i < rows; i++)
        theApp.DrawText(kBackBuffer, 0, kEntryY + kEntryStep * i, entries[i], colors[i], true, 0);
    DrawCursor();
}

void CPauseMenu::DrawCursor() { menu::HighlightEntry(entries[cursor], kEntryY - 4 + kEntryStep * cursor); }

// True to stay in the menu.
bool CPauseMenu::HandleKeys() {
    int32_t hostCursor = cursor, wait = shownWait;
    bool chosen = false;
    if (OnlineMenuFollows(SCREEN_PAUSE, &hostCursor, &wait, &chosen)) {
        // The host's WAIT is shown as it changes; it reaches the round through
        // the stream. The host's own row (removing a machine) is not shown here.
        if (hostCursor >= 0 && hostCursor <= PAUSE_EXIT) cursor = hostCursor;
        shownWait = CRound::LimitWait(wait);
        std::snprintf(entries[PAUSE_WAIT], sizeof entries[PAUSE_WAIT], "WAIT <_%04d_>", int(shownWait));
        return !chosen;
    }
    if (TakeKey(plat::VK_ESCAPE)) {
        cursor = PAUSE_CONTINUE;
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        return false;
    }
    if (TakeKey(plat::VK_UP)) {
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
        cursor = cursor > 0 ? cursor - 1 : rows - 1;
    }
    if (TakeKey(plat::VK_DOWN)) {
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
        cursor = (cursor + 1) % rows;
    }
    const int step = (TakeKey(plat::VK_RIGHT) ? 1 : 0) - (TakeKey(plat::VK_LEFT) ? 1 : 0);
    if (step && cursor == PAUSE_WAIT) AdjustWait(step);
    if (step && cursor == PAUSE_ONLINE)
        OnlinePauseRow(step, false, entries[PAUSE_ONLINE], sizeof entries[PAUSE_ONLINE]);
    if (TakeKey(plat::VK_RETURN)) {
        if (cursor == PAUSE_WAIT) {
            AdjustWait(+1);
            return true;
        }
        if (cursor == PAUSE_ONLINE) {
            theDirectSound.Play(SE_CUR_OK, 0, 0);
            OnlinePauseRow(0, true, entries[PAUSE_ONLINE], sizeof entries[PAUSE_ONLINE]);
            return true;
        }
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        return false;
    }
    return true;
}

void CPauseMenu::AdjustWait(int step) {
    theRound.state.wait = CRound::LimitWait(int64_t(theRound.state.wait) + step);
    shownWait = theRound.state.wait;
    std::snprintf(entries[PAUSE_WAIT], sizeof entries[PAUSE_WAIT], "WAIT <_%04d_>", int(theRound.state.wait));
}
