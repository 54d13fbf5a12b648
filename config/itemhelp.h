// CItemHelp: the item help screen, reached from the options menu: each of
// the 23 items with its picture, its name and one line on what it does.
#pragma once
#include <cstdint>

#include "core/app.h"
#include "core/gamedata.h"

// What each item kind does, one line each in item-table order. The screen
// shows these; the README's items table says the same (a test compares).
extern const char* const kItemHelpLines[kItemKinds];

class CItemHelp {
public:
    CItemHelp();

    // The screen, until Return or Escape.
    void Run();
    bool HandleKeys();
    void Draw();

    SurfaceId titleSurface;
    int32_t cursor;      // the item under the highlight bar, 0..22
    int32_t top;         // the first item shown
    int32_t frameCount;  // blinks the scroll marks
};
