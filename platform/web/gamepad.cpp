// Gamepads through the Gamepad API, by the same rules as on the desktop: a
// pad takes the lowest free slot when it appears, frees it when it goes
// (releasing what it held), and a pad that found every slot taken takes the
// first that frees. Buttons are read by position from the browser's
// "standard" layout; short taps' releases are held back as keys' are.
#include <emscripten/html5.h>

#include <cstring>

#include "platform/platform_internal.h"

namespace plat {

namespace {

// The standard layout's button behind each of the game's pad buttons, in
// PadButton order.
constexpr int kStandardButtons[] = {14, 15, 12, 13, 0, 1, 3, 9, 8, 4, 5};
static_assert(sizeof kStandardButtons / sizeof kStandardButtons[0] == PAD_BUTTONS, "one per PadButton");

constexpr int kMostBrowserPads = 16;

struct Pad {
    int browserIndex = -1;  // -1: the slot is free
    bool held[PAD_BUTTONS] = {};
    bool releasePending[PAD_BUTTONS] = {};
    uint32_t downMs[PAD_BUTTONS] = {};
};

struct PadLayer {
    bool started = false;
    Pad slots[kPadSlots];
};
PadLayer pads;

int SlotOf(int browserIndex) {
    for (int s = 0; s < kPadSlots; s++)
        if (pads.slots[s].browserIndex == browserIndex) return s;
    return -1;
}

void PostUp(int slot, int button) {
    Pad& pad = pads.slots[slot];
    pad.held[button] = false;
    pad.releasePending[button] = false;
    PostMessage(Message{MSG_PADUP, uint32_t(slot), uint32_t(button)});
}

void Press(int slot, int button) {
    Pad& pad = pads.slots[slot];
    if (pad.held[button] && !pad.releasePending[button]) return;
    if (pad.releasePending[button]) PostUp(slot, button);  // a new press: the held-back release comes first
    pad.held[button] = true;
    pad.downMs[button] = RawTimeMs();
    PostMessage(Message{MSG_PADDOWN, uint32_t(slot), uint32_t(button)});
}

void Release(int slot, int button) {
    Pad& pad = pads.slots[slot];
    if (!pad.held[button] || pad.releasePending[button]) return;
    if (RawTimeMs() - pad.downMs[button] < kShortestPressMs)
        pad.releasePending[button] = true;
    else
        PostUp(slot, button);
}

void Removed(int slot) {
    Pad& pad = pads.slots[slot];
    for (int b = 0; b < int(PAD_BUTTONS); b++)
        if (pad.held[b]) PostUp(slot, b);
    pad = Pad{};
}

// Reads every pad the browser knows: the gone ones free their slots first,
// then the new ones take free slots in the browser's order, then buttons.
void ReadPads() {
    if (emscripten_sample_gamepad_data() != EMSCRIPTEN_RESULT_SUCCESS) return;
    int count = emscripten_get_num_gamepads();
    if (count > kMostBrowserPads) count = kMostBrowserPads;
    EmscriptenGamepadEvent state[kMostBrowserPads];
    bool connected[kMostBrowserPads] = {};
    for (int i = 0; i < count; i++)
        connected[i] = emscripten_get_gamepad_status(i, &state[i]) == EMSCRIPTEN_RESULT_SUCCESS && state[i].connected &&
                       strcmp(state[i].mapping, "standard") == 0;
    for (int s = 0; s < kPadSlots; s++) {
        int index = pads.slots[s].browserIndex;
        if (index >= 0 && (index >= count || !connected[index])) Removed(s);
    }
    for (int i = 0; i < count; i++) {
        if (!connected[i]) continue;
        int slot = SlotOf(i);
        if (slot < 0) slot = SlotOf(-1);
        if (slot < 0) continue;  // waits for a free slot
        pads.slots[slot].browserIndex = i;
        for (int b = 0; b < int(PAD_BUTTONS); b++) {
            int standard = kStandardButtons[b];
            if (standard < state[i].numButtons && state[i].digitalButton[standard])
                Press(slot, b);
            else
                Release(slot, b);
        }
    }
}

}  // namespace

void PadsInit() { pads.started = true; }

void PadsQuit() {
    for (Pad& pad : pads.slots) pad = Pad{};
    pads.started = false;
}

void PadsPoll() {
    if (!pads.started) return;
    ReadPads();
    uint32_t now = RawTimeMs();
    for (int s = 0; s < kPadSlots; s++)
        for (int b = 0; b < int(PAD_BUTTONS); b++)
            if (pads.slots[s].releasePending[b] && now - pads.slots[s].downMs[b] >= kShortestPressMs) PostUp(s, b);
}

bool PadsWaiting() {
    for (const Pad& pad : pads.slots)
        for (bool pending : pad.releasePending)
            if (pending) return true;
    return false;
}

int ConnectedPads() {
    int n = 0;
    for (const Pad& pad : pads.slots) n += pad.browserIndex >= 0;
    return n;
}

// The tests' virtual pads exist on the desktop only: here the pad layer
// reports that it cannot make one.
int AttachVirtualPad() { return -1; }
bool SetVirtualPadButton(int, PadButton, bool) { return false; }
void ScriptPadButton(uint32_t, int, PadButton, bool) {}
bool DetachVirtualPad(int) { return false; }
int PadSlotOf(int) { return -1; }

}  // namespace plat
