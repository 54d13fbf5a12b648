// What the item effects share: the play rectangle their shapes are clipped
// to, writing into the playfield in either view mode, and the frames of the
// ring animation. Only the items/ files include this.
#pragma once
#include <cstdint>

#include "core/app.h"
#include "graphics/directdraw.h"

namespace itemfx {

// The colour reference (0x00BBGGRR) of palette entry 0, which a shape
// drawn in it stores as empty ground whatever else the palette holds.
uint32_t EmptyColorRef();
// The RGB of player p's trail colour, for the shapes that take RGB.
uint32_t PlayerColorRef(int player);
// Columns 1..638 and rows 17..430 with exclusive right and bottom edges, as
// the shape primitives take them: the border is never drawn by an effect.
ClipRect PlayClip();

// The head of a player as a pixel (truncated toward zero).
int HeadX(int player);
int HeadY(int player);

// Writing into the playfield. Normal play: the visible surface is the
// field, so the effect draws on a copy in the back buffer that a flip then
// shows (and makes the field). Scroll play: it draws on the field surface.
SurfaceId BeginFieldEdit();
void EndFieldEdit();

// The player panel shows the most recent held item; redrawn on change.
void RedrawPanel(int player);

// One or two heads animated together (two only for "CHANGE").
struct RingGroup {
    int players[2];
    int count;
};

// Ring animation frames. The scope sets both clip rectangles to the field
// rows and takes the clean copy of the playfield the steps draw from; it
// gives the caller's clip rectangles back when it ends.
class RingScope {
public:
    RingScope();
    ~RingScope();
    RingScope(const RingScope&) = delete;
    RingScope& operator=(const RingScope&) = delete;

private:
    ClipRect m_dest;
    ClipRect m_source;
};

// Shows the step just drawn for one display refresh and then the unchanged
// playfield for one; afterwards the field holds exactly what it held before.
void ShowRingStep(const RingGroup& group);
// Discs growing to full size in the brightest ramp entry, then fading.
void GrowAndFade(const RingGroup& group);
// Full discs brightening, then shrinking away.
void BrightenAndShrink(const RingGroup& group);

}  // namespace itemfx
