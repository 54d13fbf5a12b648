// CItemHelp: a list of the items in the style of the options menu: the
// "ITEMS" banner, eight items at a time (picture and name, the line on what
// it does below), the highlight bar on one of them, blinking marks where the
// list goes on, and the position counter. Up and Down (Page Up and Page
// Down by eight) move through the list; Return or Escape goes back.
#include "config/itemhelp.h"

#include <cstdio>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "items/itemmanager.h"
#include "sound/directsound.h"

const char* const kItemHelpLines[kItemKinds] = {
    "ACTS AT ONCE: YOUR LINE SPEEDS UP",    // SPEED UP
    "ACTS AT ONCE: YOUR LINE SLOWS DOWN",   // SPEED DOWN
    "CLEARS THE FIELD ROUND YOUR HEAD",     // BOMB
    "SHOOTS A WALL STRAIGHT AHEAD",         // LASER
    "SWAPS PLACES WITH ANOTHER LINE",       // CHANGE
    "JUMPS YOUR HEAD TO A RANDOM SPOT",     // WARP
    "FIRES A MISSILE THAT CUTS TRAILS",     // MISSILE
    "THROWS A RING OF SPARKS AROUND YOU",   // COSMO
    "YOUR HEAD SKIPS 20 PIXELS AHEAD",      // JUMP
    "CLEARS A CIRCLE AND WALLS YOU IN",     // BARRIER
    "ANOTHER LINE TURNS THE WRONG WAY",     // LR FLIP
    "WIPES YOUR WHOLE TRAIL AWAY",          // CLEAN
    "FOR A WHILE YOU LEAVE NO TRAIL",       // MOVE
    "TAKES ALL ITEMS FROM ANOTHER LINE",    // ITEM_DEL
    "DRAWS A WALL ACROSS JUST BEHIND YOU",  // WALL
    "TURNS INTO A RANDOM ITEM",             // QUESTION
    "FREEZES ANOTHER LINE FOR A WHILE",     // STOP
    "MIRRORS THE FIELD LEFT TO RIGHT",      // LR MIRROR
    "MIRRORS THE FIELD TOP TO BOTTOM",      // UD MIRROR
    "PULLS ANOTHER LINE DOWNWARD",          // GRAVITY
    "DROPS IN A BALL THAT BOUNCES ABOUT",   // PINGPONG
    "PLANTS MOLD THAT GROWS OVER TIME",     // MOLD
    "FOR A WHILE ONLY THE BORDER KILLS",    // INVINCIBLE
};

namespace {

constexpr int kVisibleItems = 8;
constexpr int kLastItem = kItemKinds - 1;
constexpr int kLastTop = kItemKinds - kVisibleItems;
constexpr int kTitleWidthPx = 320, kTitleHeightPx = 64;
constexpr int kTitleY = 16;
constexpr int kListY = 96;
constexpr int kItemStep = 44;          // an item: its name line, its help line, a gap
constexpr int kHelpLineOffsetPx = 20;  // the help line under the name
constexpr int kPictureX = 32, kTextX = 64;
constexpr int kBarX = 16, kBarWidth = 608;
constexpr uint8_t kNameColor = 2;  // the options menu's item rows
constexpr uint8_t kLineColor = 7;
constexpr uint8_t kMarkColor = 1;

void PlayCursorMove() { theDirectSound.Play(SE_CUR_MOVE, 0, 0); }

}  // namespace

CItemHelp::CItemHelp() : titleSurface(0), cursor(0), top(0), frameCount(0) {}

void CItemHelp::Run() {
    titleSurface = theDirectDraw.CreateSurface(kTitleWidthPx, kTitleHeightPx, false);
    theApp.DrawTextScaled(titleSurface, 0, 0, 64, 64, "ITEMS", 9, false, false);
    cursor = top = frameCount = 0;
    for (;;) {
        theApp.StartFrame();
        ++frameCount;
        if (!HandleKeys()) break;
        Draw();
        menu::EndFrame();
    }
    theDirectDraw.ReleaseSurface(titleSurface);
}

// The cursor moves and the list follows it so that it stays in view.
bool CItemHelp::HandleKeys() {
    int moved = cursor;
    if (TakeKey(plat::VK_UP) && cursor > 0) cursor--;
    if (TakeKey(plat::VK_DOWN) && cursor < kLastItem) cursor++;
    if (TakeKey(plat::VK_PRIOR)) cursor = cursor - kVisibleItems < 0 ? 0 : cursor - kVisibleItems;
    if (TakeKey(plat::VK_NEXT)) cursor = cursor + kVisibleItems > kLastItem ? kLastItem : cursor + kVisibleItems;
    if (cursor != moved) PlayCursorMove();
    if (cursor < top) top = cursor;
    if (cursor >= top + kVisibleItems) top = cursor - kVisibleItems + 1;
    if (top > kLastTop) top = kLastTop;
    if (TakeKey(plat::VK_RETURN) || TakeKey(plat::VK_ESCAPE)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        return false;
    }
    return true;
}

void CItemHelp::Draw() {
    theApp.DrawBackground(true);
    theDirectDraw.Draw(kBackBuffer, (kScreenWidth - kTitleWidthPx) / 2, kTitleY, kTitleWidthPx, kTitleHeightPx,
                       titleSurface, 0, 0, true, CLIP_DEST);
    for (int row = 0; row < kVisibleItems; row++) {
        const int kind = top + row, y = kListY + kItemStep * row;
        SurfaceId picture = theItemManager.pictures[kind];
        if (picture)
            theDirectDraw.Draw(kBackBuffer, kPictureX, y - 4, kItemPx, kItemPx, picture, 0, 0, false, CLIP_DEST);
        theApp.DrawText(kBackBuffer, kTextX, y, g_itemTable[kind].name, kNameColor, false, CLIP_DEST);
        theApp.DrawText(kBackBuffer, kTextX, y + kHelpLineOffsetPx, kItemHelpLines[kind], kLineColor, false, CLIP_DEST);
    }
    char position[16];
    std::snprintf(position, sizeof position, "%2d/%2d", cursor + 1, kItemKinds);
    theApp.DrawText(kBackBuffer, 560, 464, position, 0, false, CLIP_DEST);
    if ((frameCount & 8) == 0) {
        if (top > 0) theApp.DrawText(kBackBuffer, kBarX, kListY, "u", kMarkColor, false, CLIP_DEST);
        if (top < kLastTop) theApp.DrawText(kBackBuffer, kBarX, 440, "d", kMarkColor, false, CLIP_DEST);
    }
    theApp.DrawHighlightBar(kBarX, kListY - 4 + kItemStep * (cursor - top), kBarWidth);
}
