// Head marks: a small bracket in its player's colour round every live head,
// so that each player finds their own line at a glance. They are drawn only
// on the picture shown (the display's presentation overlay), never into the
// field that collisions and computer players read, so no round depends on
// them. HEAD_MARKER turns them on; screenshots show the field without them.
#pragma once
#include <cstdint>

#include "graphics/directdraw.h"

// While a scope lives, the pictures shown carry the marks when show is set
// and HEAD_MARKER is on, and carry none when show is clear (a menu over the
// round). The round's frames run inside one; the scope before comes back
// when it ends.
class CHeadMarkScope {
public:
    explicit CHeadMarkScope(bool show);
    ~CHeadMarkScope();
    CHeadMarkScope(const CHeadMarkScope&) = delete;
    CHeadMarkScope& operator=(const CHeadMarkScope&) = delete;

private:
    PresentOverlay m_before;
};

// The overlay: marks every live head of the round in a picture about to be
// shown. In scroll play a head is marked in every view it shows in.
void DrawHeadMarks(uint8_t* pixels, int pitch, int width, int height);

// During the countdown the pictures shown frame every live line's start and
// carry an arrow along its heading, in the player's colour, whatever
// HEAD_MARKER says; like the marks, never on a surface, a screenshot or in
// a replay's field. They are drawn over the overlay that was there before.
class CStartArrowScope {
public:
    CStartArrowScope();
    ~CStartArrowScope();
    CStartArrowScope(const CStartArrowScope&) = delete;
    CStartArrowScope& operator=(const CStartArrowScope&) = delete;

private:
    PresentOverlay m_before;
};

void DrawStartArrows(uint8_t* pixels, int pitch, int width, int height);
