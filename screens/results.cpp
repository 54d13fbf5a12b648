// The result screen over the final field: the winner in large letters, each
// playing slot's round score and rank, and "NEXT ROUND" or "EXIT". The effects
// keep moving on the playfield surface underneath; Space hides the menu.
#include "screens/results.h"

#include <cstdio>
#include <cstring>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "online/onlineround.h"
#include "replay/replay.h"
#include "screens/replayplay.h"
#include "sound/directsound.h"

namespace {

constexpr int kBannerGlyphPx = 64;
constexpr int kBannerY = 80;
constexpr int kFieldY = 32;
constexpr int kScoreY = 208, kLineStep = 32;
constexpr int kEntryY = 352;
constexpr uint8_t kTitleColor = 5;
// "R: REPLAY" in half-width glyphs, right of the bottom line, where the
// screen is empty; in its place "REPLAY NOT SAVED" when the round's file
// could not be written (R still plays the round back).
const char kReplayHint[] = "R: REPLAY";
const char kNotSavedHint[] = "REPLAY NOT SAVED";
constexpr int kHintGlyphWidthPx = 8, kHintGlyphHeightPx = 16;
constexpr int kHintRightPx = kScreenWidth - 16, kHintY = 456;
constexpr uint8_t kHeadColor = 7;
constexpr uint8_t kDrawColor = 9;

// Rank 1 + the number of slots that scored strictly more: ties share a rank.
int RankOf(int i) {
    int rank = 1;
    for (const PlayerSlot& other : theRound.players)
        if (other.roundScore > theRound.players[i].roundScore) rank++;
    return rank;
}

// The winner is the last line alive (the highest-numbered, should there be
// more than one); -1 for a draw.
int Winner() {
    int winner = -1;
    for (int i = 0; i < kPlayers; i++)
        if (theRound.players[i].alive) winner = i;
    return winner;
}

// R plays the round just ended back, then the screen goes on as it was. A
// replay that does not reproduce the round says so instead of passing for it.
void WatchLastRound() {
    if (!theReplay.lastValid) return;
    ReplayOutcome outcome = PlayReplay(theReplay.last, true);
    if (outcome.verdict == REPLAY_DIFFERS || outcome.verdict == REPLAY_NO_STAGE) {
        char text[600];
        ReplayVerdictText(theReplay.last, outcome, theReplay.lastSavedName[0] ? theReplay.lastSavedName : "last round",
                          text, sizeof text);
        plat::MessageBox(text, "Replay");
    }
    theApp.ClearKeys();
}

// The effects go on moving on the final field; no new items appear.
void KeepEffectsMoving() {
    CRound& r = theRound;
    SurfaceDesc field = theDirectDraw.Lock(r.local.playfieldSurface);
    r.particle.Update(field.pixels, field.pitch);
    r.meteorite.Update(field.pixels, field.pitch);
    r.mold.Update(field.pixels, field.pitch);
    theDirectDraw.Unlock(r.local.playfieldSurface);
    theItemManager.DrawAll(r.local.playfieldSurface);
    r.missile.Update(r.local.playfieldSurface);
    r.pingPong.Update(r.local.playfieldSurface);
}

}  // namespace

CResultScreen::CResultScreen()
    : banner(0),
      bannerWidth(0),
      hidden(0),
      scoreLines{},
      kindLabels{},
      entries{"NEXT ROUND", "EXIT"},
      colors{7, 6},
      cursor(0) {}

void CResultScreen::Prepare() {
    for (int i = 0; i < kPlayers; i++) {
        std::snprintf(scoreLines[i], sizeof scoreLines[i], "%dP +%06d %d   ", i + 1,
                      int(theRound.players[i].roundScore), RankOf(i));
        SeatLabel(i, kindLabels[i], sizeof kindLabels[i]);
    }
    // The last round of a match of MATCH_ROUNDS rounds goes on to the final standings.
    const int rounds = theRound.matchRounds;
    std::snprintf(entries[RESULT_NEXT_ROUND], sizeof entries[RESULT_NEXT_ROUND], "%s",
                  rounds > 0 && theRound.RoundNumber() >= rounds ? "FINAL STANDINGS" : "NEXT ROUND");
    int winner = Winner();
    char text[16];
    if (winner < 0)
        std::snprintf(text, sizeof text, "DRAW");
    else
        std::snprintf(text, sizeof text, "%dP WIN", winner + 1);
    bannerWidth = kBannerGlyphPx * int(std::strlen(text));
    banner = theDirectDraw.CreateSurface(bannerWidth, kBannerGlyphPx, false);
    theApp.DrawTextScaled(banner, 0, 0, kBannerGlyphPx, kBannerGlyphPx, text, winner < 0 ? kDrawColor : uint8_t(winner),
                          false, false);
    // The playfield surface holds the final field in both play modes.
    if (!theRound.state.scrollPlay) theDirectDraw.CopyScreen(theRound.local.playfieldSurface, kVisibleSurface);
    cursor = RESULT_NEXT_ROUND;
    hidden = 0;
}

void CResultScreen::Run() {
    Prepare();
    for (;;) {
        theApp.StartFrame();
        theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
        theApp.DrawBackground(true);
        theDirectDraw.Draw(kBackBuffer, 0, kFieldY, kFieldWidth, kFieldHeight, theRound.local.playfieldSurface, 0,
                           kFieldTop, false, 0);
        const bool stay = HandleKeys();
        OnlineMenuLeads(SCREEN_RESULT, cursor, 0, !stay);
        if (!stay) break;
        Draw();
        KeepEffectsMoving();
        menu::EndFrame();
    }
    theDirectDraw.ReleaseSurface(banner);
}

void CResultScreen::Draw() {
    theApp.DrawText(kBackBuffer, 0, 8, "REPORT OF BATTLE RESULT", kTitleColor, true, 0);
    theApp.DrawText(kBackBuffer, 0, 456, "PUSH SPACE KEY TO HIDE MENU", kTitleColor, true, 0);
    if (hidden) return;
    if (theReplay.lastValid) {
        const char* hint = theReplay.lastNotSaved ? kNotSavedHint : kReplayHint;
        const int x = kHintRightPx - kHintGlyphWidthPx * int(std::strlen(hint));
        theApp.DrawTextScaled(kBackBuffer, x, kHintY, kHintGlyphWidthPx, kHintGlyphHeightPx, hint, kTitleColor, false,
                              false);
    }
    theDirectDraw.Draw(kBackBuffer, (kScreenWidth - bannerWidth) / 2, kBannerY, bannerWidth, kBannerGlyphPx, banner, 0,
                       0, true, 0);
    theApp.DrawText(kBackBuffer, 0, 176, "PL SCORE   RANK", kHeadColor, true, 0);
    for (int d = 0; d < kPlayers; d++)
        if (EffectivePlayerType(theRound.players[d].type) != PLAYER_NON) {
            const int y = kScoreY + kLineStep * d;
            theApp.DrawText(kBackBuffer, 0, y, scoreLines[d], uint8_t(d), true, 0);
            menu::DrawLeftOf(scoreLines[d], y, kindLabels[d], uint8_t(d));
        }
    for (int k = 0; k < 2; k++)
        theApp.DrawText(kBackBuffer, 0, kEntryY + kLineStep * k, entries[k], colors[k], true, 0);
    DrawCursor();
}

void CResultScreen::DrawCursor() { menu::HighlightEntry(entries[cursor], kEntryY - 4 + kLineStep * cursor); }

// True to stay. While the menu is hidden any key only brings it back.
bool CResultScreen::HandleKeys() {
    int32_t hostCursor = cursor, value = 0;
    bool chosen = false;
    if (OnlineMenuFollows(SCREEN_RESULT, &hostCursor, &value, &chosen)) {
        cursor = hostCursor ? RESULT_EXIT : RESULT_NEXT_ROUND;
        return !chosen;
    }
    if (hidden && theApp.anyKeyFlag) {
        hidden = 0;
        theApp.ClearKeys();
        return true;
    }
    if (theApp.keyState[plat::VK_SPACE] || PadButtonHeld(plat::PAD_BACK)) {
        // The Space entry (or back button) is left as it is; it goes back to 0 on key-up.
        theApp.anyKeyFlag = 0;
        hidden = 1;
        return true;
    }
    if (hidden) return true;
    if (TakeKey(plat::VK_R)) {
        WatchLastRound();
        return true;
    }
    bool up = TakeKey(plat::VK_UP);
    bool down = TakeKey(plat::VK_DOWN);
    if (up || down) {
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
        cursor = 1 - cursor;
    }
    if (TakeKey(plat::VK_RETURN)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        return false;
    }
    if (TakeKey(plat::VK_ESCAPE)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        cursor = RESULT_EXIT;
        return false;
    }
    return true;
}
