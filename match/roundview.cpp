// What the round shows besides the field: the status line, the player panels
// (below the field in normal play, beside the views in scroll play) and the
// four scroll views that follow the heads.
#include <cstdio>

#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"

namespace {

constexpr uint8_t kStatusColor = 5;
constexpr int kStatusX = 48;
constexpr int kWaitDigitsX = 304;
// "REPLAY" in narrow glyphs in the 48 pixels left of the status line, with
// room to spare before it, so that the line reads "REPLAY ROUND 001".
constexpr int kCaptionGlyphWidthPx = 7, kCaptionGlyphHeightPx = 16;

struct PanelArea {
    int x, y, width, height;
};

PanelArea PanelOf(int i, bool scroll) {
    if (scroll) return PanelArea{(i % 2) * 320, 176 + (i / 2) * 224, 320, 80};
    return PanelArea{(i % 2) * 320, 432 + (i / 2) * 24, 320, 24};
}

// The most recent held item's kind, or -1 when nothing is held.
int ShownItem(const CDataList& heldItems) {
    DataNode* last = heldItems.Last();
    if (!last) return -1;
    int kind = CDataList::Record<HeldItem>(last)->kind;
    return kind < kItemKinds ? kind : -1;
}

void DrawCentred(SurfaceId surface, int centreX, int y, const char* text, uint8_t color) {
    theApp.DrawText(surface, centreX - CApp::TextWidth(text) / 2, y, text, color, false, 0);
}

}  // namespace

// The status line; while a replay plays, "REPLAY" stands left of it.
void CRound::DrawStatus(SurfaceId surface) {
    char line[64];
    std::snprintf(line, sizeof line, "ROUND %03d  WAIT %04d  TIME %07ld", RoundNumber(), int(state.wait),
                  long(state.roundSeconds));
    theApp.DrawText(surface, kStatusX, 0, line, kStatusColor, false, 0);
    if (local.replayShown)
        theApp.DrawTextScaled(surface, 0, 0, kCaptionGlyphWidthPx, kCaptionGlyphHeightPx, "REPLAY", kStatusColor, false,
                              false);
}

void CRound::DrawPanel(SurfaceId surface, int i) {
    const PlayerSlot& slot = players[i];
    if (!slot.alive) {
        int panel = 0;
        RoundHint hint = WantedHint(&panel);
        if (hint != HINT_NONE && panel == i) DrawHint(surface, i, hint);
        return;
    }
    int kind = ShownItem(heldItems[i]);
    const char* name = kind >= 0 ? g_itemTable[kind].name : "NO ITEM";
    PanelArea area = PanelOf(i, state.scrollPlay);
    uint8_t color = uint8_t(i);
    if (!state.scrollPlay) {
        char text[64];
        std::snprintf(text, sizeof text, " %dP   %s", i + 1, name);
        theApp.DrawText(surface, area.x, area.y, text, color, false, 0);
        if (kind >= 0)
            theDirectDraw.Draw(surface, area.x + 64, area.y, kItemPx, kItemPx, theItemManager.pictures[kind], 0, 0,
                               true, 0);
        return;
    }
    char title[24];
    std::snprintf(title, sizeof title, "%d PLAYER", i + 1);
    DrawCentred(surface, area.x + 160, area.y, title, color);
    DrawCentred(surface, area.x + 160, area.y + 24, name, color);
    if (kind >= 0)
        theDirectDraw.Draw(surface, area.x + 148, area.y + 48, kItemPx, kItemPx, theItemManager.pictures[kind], 0, 0,
                           true, 0);
}

bool CRound::OnlyComputersLeft() const {
    for (const PlayerSlot& slot : players)
        if (slot.alive && EffectivePlayerType(slot.type) == PLAYER_MAN) return false;
    return true;
}

// The first empty panel shows the hint (the first human's, once the humans
// are out); with every panel in use there is none to show it in.
RoundHint CRound::WantedHint(int* panel) const {
    if (!OnlyComputersLeft()) return HINT_NONE;
    for (int i = 0; i < kPlayers; i++) {
        if (players[i].alive) continue;
        *panel = i;
        return autoFast ? HINT_AUTO_FAST : HINT_CTRL_FAST;
    }
    return HINT_NONE;
}

void CRound::UpdateHint() {
    int panel = 0;
    RoundHint hint = WantedHint(&panel);
    if (hint == local.hint && (hint == HINT_NONE || panel == local.hintPanel)) return;
    if (local.hint != HINT_NONE && !players[local.hintPanel].alive) ClearPanel(local.hintPanel);
    local.hint = hint;
    local.hintPanel = uint8_t(panel);
    if (hint != HINT_NONE) DrawHint(kVisibleSurface, panel, hint);
}

// The hint centred in the panel's first text line (the name line in scroll play).
void CRound::DrawHint(SurfaceId surface, int panel, RoundHint hint) {
    const char* text = hint == HINT_AUTO_FAST ? "AUTO FAST FORWARD" : "CTRL: FAST FORWARD";
    PanelArea area = PanelOf(panel, state.scrollPlay);
    DrawCentred(surface, area.x + area.width / 2, area.y + (state.scrollPlay ? 24 : 0), text, kStatusColor);
}

// Erases player i's panel on the visible surface with the still background.
void CRound::ClearPanel(int i) {
    PanelArea area = PanelOf(i, state.scrollPlay);
    theDirectDraw.SetDestClip(area.x, area.y, area.width, area.height);
    theApp.DrawBackground(false);
    theDirectDraw.Draw(kVisibleSurface, area.x, area.y, area.width, area.height, kBackBuffer, area.x, area.y, false, 0);
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
}

void CRound::ScrollViewAt(int i, int* x, int* y) {
    *x = 120 + (i % 2) * 320;
    *y = 80 + (i / 2) * 224;
}

// Each playing slot's 80x80 window round its head (where the head stopped,
// for a dead line); the parts beyond the playfield stay colour 255.
void CRound::DrawScrollViews(SurfaceId target, bool framed, bool waitVBlank) {
    theDirectDraw.SetSourceClip(0, kFieldTop, kFieldWidth, kFieldHeight);
    if (waitVBlank) theDirectDraw.WaitVBlank();
    for (int i = 0; i < kPlayers; i++) {
        const PlayerSlot& slot = players[i];
        if (EffectivePlayerType(slot.type) == PLAYER_NON) continue;
        int viewX, viewY;
        ScrollViewAt(i, &viewX, &viewY);
        int half = kScrollViewSize / 2;
        theDirectDraw.FillRect(local.scrollViewSurface, 0, 0, kScrollViewSize, kScrollViewSize, kOutlineIndex);
        theDirectDraw.Draw(local.scrollViewSurface, 0, 0, kScrollViewSize, kScrollViewSize, local.playfieldSurface,
                           CApp::FloatToInt(slot.x) - half, CApp::FloatToInt(slot.y) - half, false, CLIP_SOURCE);
        if (framed)
            theDirectDraw.DrawFrame(target, viewX - 1, viewY - 1, kScrollViewSize + 2, kScrollViewSize + 2,
                                    kOutlineIndex);
        theDirectDraw.Draw(target, viewX, viewY, kScrollViewSize, kScrollViewSize, local.scrollViewSurface, 0, 0, false,
                           0);
    }
}

void CRound::ChangeWait(int delta) {
    if (delta != 0) state.wait = LimitWait(int64_t(state.wait) + delta);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04d", int(state.wait));
    theApp.DrawText(kVisibleSurface, kWaitDigitsX, 0, digits, kStatusColor, false, 0);
}
