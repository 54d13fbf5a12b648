// CRoundIntro: the screen before every round. It shows the round number as a
// large banner, a table of the players with their keys, total score, rank and
// win count, and the two entries "OK NEXT" and "EXIT".
#include "screens/roundintro.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "match/round.h"
#include "online/onlineround.h"
#include "sound/directsound.h"

namespace {

constexpr int kBannerGlyphPx = 64;
constexpr int kNarrowGlyphPx = 48;
constexpr int kBannerY = 80;
constexpr int kHeaderY = 176;
constexpr int kPlayerLineY = 208;
constexpr int kEntryY = 352;
constexpr int kLineStep = 32;
constexpr uint8_t kHeaderColor = 7;
constexpr uint8_t kSecondFace = 9;
constexpr int kMostKeyColumn = 11;  // three labels of three characters, blanks between

// 1 + the number of slots (all four, empty ones too) with a strictly
// greater total score, so equal scores share a rank: 1, 1, 3.
int RankOf(int slot) {
    int rank = 1;
    for (const PlayerSlot& other : theRound.players)
        if (other.totalScore > theRound.players[slot].totalScore) rank++;
    return rank;
}

}  // namespace

CRoundIntro::CRoundIntro()
    : banner(0),
      bannerWidth(0),
      playerLines{},
      lines{"OK NEXT", "EXIT"},
      colors{5, 6},
      cursor(INTRO_OK_NEXT),
      header{},
      kindLabels{} {}

// The object outlives every screen; its end only forgets the round count.
CRoundIntro::~CRoundIntro() {}

int CRoundIntro::Run() {
    Prepare();
    for (;;) {
        theApp.StartFrame();
        const bool stay = HandleKeys();
        OnlineMenuLeads(SCREEN_INTRO, cursor, 0, !stay);
        if (!stay) break;
        Draw();
        menu::EndFrame();
    }
    theDirectDraw.ReleaseSurface(banner);
    return cursor;
}

// CRoundIntro::Prepare: the banner picture, the player table and a fresh
// cursor on "OK NEXT". In a match of MATCH_ROUNDS rounds the banner counts
// them ("ROUND 2/5") and the last one is the "FINAL ROUND"; a banner too
// wide for 64-pixel glyphs gets narrower ones.
void CRoundIntro::Prepare() {
    char text[32];
    const int rounds = theRound.matchRounds, number = theRound.RoundNumber();
    if (rounds > 0 && number >= rounds)
        std::snprintf(text, sizeof text, "FINAL ROUND");
    else if (rounds > 0)
        std::snprintf(text, sizeof text, "ROUND %d/%d", number, rounds);
    else
        std::snprintf(text, sizeof text, "ROUND %d", number);
    const int length = static_cast<int>(std::strlen(text));
    const int glyphWidth = length * kBannerGlyphPx <= kScreenWidth - kBannerGlyphPx ? kBannerGlyphPx : kNarrowGlyphPx;
    bannerWidth = glyphWidth * length;
    theDirectDraw.ReleaseSurface(banner);
    banner = theDirectDraw.CreateSurface(bannerWidth, kBannerGlyphPx, false);
    theApp.DrawTextScaled(banner, 0, 0, glyphWidth, kBannerGlyphPx, text, kSecondFace, false, false);
    PreparePlayerLines();
    cursor = INTRO_OK_NEXT;
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
}

// One line per slot: number, the seat's keys, total score, rank and the
// match counter (the WIN column). The key column is as wide as the widest
// seat's keys, three characters when every key shows as one.
void CRoundIntro::PreparePlayerLines() {
    char keys[kPlayers][kIntroTextSize];
    int keyWidth = 3;
    for (int i = 0; i < kPlayers; i++) {
        SeatKeysText(i, keys[i], sizeof keys[i]);
        if (EffectivePlayerType(theRound.players[i].type) != PLAYER_NON)
            keyWidth = std::max(keyWidth, static_cast<int>(std::strlen(keys[i])));
    }
    keyWidth = std::min(keyWidth, kMostKeyColumn);
    std::snprintf(header, sizeof header, "PL %-*s SCORE    RANK WIN", keyWidth, "KEY");
    for (int i = 0; i < kPlayers; i++) {
        const PlayerSlot& slot = theRound.players[i];
        std::snprintf(playerLines[i], sizeof playerLines[i], "%dP %-*.*s %08ld %-4d %-3d", i + 1, keyWidth, keyWidth,
                      keys[i], static_cast<long>(slot.totalScore), RankOf(i), static_cast<int>(slot.matchCounter));
        SeatLabel(i, kindLabels[i], sizeof kindLabels[i]);
    }
}

void CRoundIntro::Draw() {
    theApp.DrawBackground(true);
    theDirectDraw.Draw(kBackBuffer, (kScreenWidth - bannerWidth) / 2, kBannerY, bannerWidth, kBannerGlyphPx, banner, 0,
                       0, true, 0);
    theApp.DrawText(kBackBuffer, 0, kHeaderY, header, kHeaderColor, true, 0);
    // An empty seat keeps its row, blank.
    for (int d = 0; d < kPlayers; d++)
        if (EffectivePlayerType(theRound.players[d].type) != PLAYER_NON) {
            const int y = kPlayerLineY + kLineStep * d;
            theApp.DrawText(kBackBuffer, 0, y, playerLines[d], static_cast<uint8_t>(d), true, 0);
            menu::DrawLeftOf(playerLines[d], y, kindLabels[d], static_cast<uint8_t>(d));
        }
    for (int e = 0; e < 2; e++) theApp.DrawText(kBackBuffer, 0, kEntryY + kLineStep * e, lines[e], colors[e], true, 0);
    DrawCursor();
}

void CRoundIntro::DrawCursor() { menu::HighlightEntry(lines[cursor], kEntryY - 4 + kLineStep * cursor); }

// CRoundIntro::HandleKeys: true to stay, false to leave with the cursor set.
bool CRoundIntro::HandleKeys() {
    int32_t hostCursor = cursor, value = 0;
    bool chosen = false;
    if (OnlineMenuFollows(SCREEN_INTRO, &hostCursor, &value, &chosen)) {
        cursor = uint8_t(hostCursor ? INTRO_EXIT : INTRO_OK_NEXT);
        return !chosen;
    }
    bool up = TakeKey(plat::VK_UP);
    bool down = TakeKey(plat::VK_DOWN);
    if (up || down) {
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
        cursor = static_cast<uint8_t>(1 - cursor);
    }
    if (TakeKey(plat::VK_RETURN)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        return false;
    }
    if (TakeKey(plat::VK_ESCAPE)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        cursor = INTRO_EXIT;
        return false;
    }
    return true;
}
