// CFinalStandings: the final standings of a match, in the style of the round
// intro: the banner, a table of the seats (best first) and one entry, over
// the scrolling background.
#include "screens/standings.h"

#include <cstdio>
#include <cstring>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "match/round.h"
#include "online/onlineround.h"
#include "sound/directsound.h"

namespace {

constexpr int kTitleY = 8;
constexpr int kBannerHeightPx = 64;
constexpr int kBannerY = 80;
constexpr int kHeaderY = 176;
constexpr int kLineY = 208;
constexpr int kEntryY = 352;
constexpr int kLineStep = 32;
constexpr uint8_t kTitleColor = 5;
constexpr uint8_t kHeaderColor = 7;
constexpr uint8_t kEntryColor = 6;
constexpr uint8_t kSecondFace = 9;

const char kTitle[] = "FINAL STANDINGS";
const char kHeader[] = "PL SCORE    RANK WIN";

bool Plays(int i) { return EffectivePlayerType(theRound.players[i].type) != PLAYER_NON; }

// 1 + the number of playing seats with a strictly greater total: equal
// totals share a place. Empty seats score too, but take no place here.
int PlaceOf(int i) {
    int place = 1;
    for (int j = 0; j < kPlayers; j++)
        if (Plays(j) && theRound.players[j].totalScore > theRound.players[i].totalScore) place++;
    return place;
}

}  // namespace

CFinalStandings::CFinalStandings()
    : banner(0), bannerWidth(0), bannerText{}, lines{}, lineColors{}, kindLabels{}, entry("BACK TO TITLE") {}

void CFinalStandings::Run() {
    Prepare();
    for (;;) {
        theApp.StartFrame();
        if (!HandleKeys()) break;
        Draw();
        menu::EndFrame();
    }
    theDirectDraw.ReleaseSurface(banner);
    theApp.ClearKeys();
}

// The seats in order of place (slot order among equals), the champion's
// banner in their colour, or "TIE" in the second face.
void CFinalStandings::Prepare() {
    int champion = -1, firstPlaces = 0, row = 0;
    for (int place = 1; place <= kPlayers; place++)
        for (int i = 0; i < kPlayers; i++) {
            if (!Plays(i) || PlaceOf(i) != place) continue;
            const PlayerSlot& slot = theRound.players[i];
            std::snprintf(lines[row], sizeof lines[row], "%dP %08ld %-4d %-3d", i + 1, long(slot.totalScore), place,
                          int(slot.matchCounter));
            SeatLabel(i, kindLabels[row], sizeof kindLabels[row]);
            lineColors[row++] = uint8_t(i);
            if (place == 1) {
                champion = i;
                firstPlaces++;
            }
        }
    for (; row < kPlayers; row++) lines[row][0] = '\0';
    const bool tie = firstPlaces != 1;
    if (tie)
        std::snprintf(bannerText, sizeof bannerText, "TIE");
    else
        std::snprintf(bannerText, sizeof bannerText, "%dP CHAMPION", champion + 1);
    // Glyphs 64 high, and as wide as fits the screen with room to spare.
    const int length = int(std::strlen(bannerText));
    const int glyphWidth = length * kBannerHeightPx <= kScreenWidth - 64 ? kBannerHeightPx : 48;
    bannerWidth = glyphWidth * length;
    theDirectDraw.ReleaseSurface(banner);
    banner = theDirectDraw.CreateSurface(bannerWidth, kBannerHeightPx, false);
    theApp.DrawTextScaled(banner, 0, 0, glyphWidth, kBannerHeightPx, bannerText, tie ? kSecondFace : uint8_t(champion),
                          false, false);
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
}

void CFinalStandings::Draw() {
    theApp.DrawBackground(true);
    theApp.DrawText(kBackBuffer, 0, kTitleY, kTitle, kTitleColor, true, 0);
    theDirectDraw.Draw(kBackBuffer, (kScreenWidth - bannerWidth) / 2, kBannerY, bannerWidth, kBannerHeightPx, banner, 0,
                       0, true, 0);
    theApp.DrawText(kBackBuffer, 0, kHeaderY, kHeader, kHeaderColor, true, 0);
    for (int row = 0; row < kPlayers; row++)
        if (lines[row][0]) {
            const int y = kLineY + kLineStep * row;
            theApp.DrawText(kBackBuffer, 0, y, lines[row], lineColors[row], true, 0);
            menu::DrawLeftOf(lines[row], y, kindLabels[row], lineColors[row]);
        }
    theApp.DrawText(kBackBuffer, 0, kEntryY, entry, kEntryColor, true, 0);
    menu::HighlightEntry(entry, kEntryY - 4);
}

// True to stay; Return or Escape leaves for the title. In an online match
// the host leaves it for every machine.
bool CFinalStandings::HandleKeys() {
    int32_t cursor = 0, value = 0;
    bool chosen = false;
    if (OnlineMenuFollows(SCREEN_STANDINGS, &cursor, &value, &chosen)) return !chosen;
    OnlineMenuLeads(SCREEN_STANDINGS, 0, 0, false);  // the others open it too
    if (TakeKey(plat::VK_RETURN) || TakeKey(plat::VK_ESCAPE)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        OnlineMenuLeads(SCREEN_STANDINGS, 0, 0, true);
        return false;
    }
    return true;
}
