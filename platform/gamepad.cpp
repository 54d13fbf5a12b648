// Gamepads through SDL's game-controller support.
//
// Four players on one keyboard run into the keyboard's key-rollover limit; a
// pad per seat lifts it. The game sees pads only as slots 0..kPadSlots-1 and
// button-down/up messages with its own button ids, so it never learns about
// SDL's device indices and instance ids, which change as pads come and go.
//
// Slot rule: a pad that is plugged in takes the lowest free slot. A pad that
// finds all slots taken is left closed; when a slot frees, the first such
// waiting pad (in SDL's device order) takes it. Unplugging a pad posts a
// button-up for every button it still held, so nothing stays pressed.
#include <SDL.h>

#include <algorithm>
#include <vector>

#include "platform/platform_internal.h"

namespace plat {

namespace {

struct Pad {
    SDL_GameController* controller = nullptr;
    SDL_JoystickID id = -1;
    bool held[PAD_BUTTONS] = {};            // down as far as the game has been told
    bool releasePending[PAD_BUTTONS] = {};  // let go, but the up is held back
    uint32_t downMs[PAD_BUTTONS] = {};
};

struct PadLayer {
    bool started = false;
    Pad slots[kPadSlots];
};
PadLayer pads;

// SDL's controller button behind each of the game's pad buttons, in
// PadButton order.
constexpr SDL_GameControllerButton kSdlButtons[] = {
    SDL_CONTROLLER_BUTTON_DPAD_LEFT,
    SDL_CONTROLLER_BUTTON_DPAD_RIGHT,
    SDL_CONTROLLER_BUTTON_DPAD_UP,
    SDL_CONTROLLER_BUTTON_DPAD_DOWN,
    SDL_CONTROLLER_BUTTON_A,
    SDL_CONTROLLER_BUTTON_B,
    SDL_CONTROLLER_BUTTON_Y,
    SDL_CONTROLLER_BUTTON_START,
    SDL_CONTROLLER_BUTTON_BACK,
    SDL_CONTROLLER_BUTTON_LEFTSHOULDER,
    SDL_CONTROLLER_BUTTON_RIGHTSHOULDER,
};
static_assert(sizeof kSdlButtons / sizeof kSdlButtons[0] == PAD_BUTTONS && PAD_SOUTH == 4 && PAD_RSHOULDER == 10,
              "kSdlButtons follows PadButton");

// The game's button for an SDL controller button, or -1 for one it does not use.
int ButtonFromSdl(uint8_t button) {
    for (int b = 0; b < int(PAD_BUTTONS); b++)
        if (kSdlButtons[b] == button) return b;
    return -1;
}

SDL_GameControllerButton SdlButton(PadButton button) {
    return button < PAD_BUTTONS ? kSdlButtons[button] : SDL_CONTROLLER_BUTTON_INVALID;
}

int SlotOf(SDL_JoystickID id) {
    if (id < 0) return -1;
    for (int s = 0; s < kPadSlots; s++)
        if (pads.slots[s].controller && pads.slots[s].id == id) return s;
    return -1;
}

int FreeSlot() {
    for (int s = 0; s < kPadSlots; s++)
        if (!pads.slots[s].controller) return s;
    return -1;
}

void PostUp(int slot, int button);

// Opens the controller at a device index into the lowest free slot, unless it
// already has one or none is free.
void Adopt(int deviceIndex) {
    if (!SDL_IsGameController(deviceIndex)) return;
    SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(deviceIndex);
    int slot = FreeSlot();
    if (id < 0 || SlotOf(id) >= 0 || slot < 0) return;
    SDL_GameController* controller = SDL_GameControllerOpen(deviceIndex);
    if (!controller) return;
    Pad& pad = pads.slots[slot];
    pad = Pad{};
    pad.controller = controller;
    pad.id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(controller));
}

// Gives free slots to the controllers without one, in SDL's device order
// (the order of connection). Device indices shift as devices come and go, so
// the whole list is read now rather than trusting the index an event carried.
void AdoptWaiting(SDL_JoystickID gone) {
    for (int i = 0, n = SDL_NumJoysticks(); i < n && FreeSlot() >= 0; i++)
        if (SDL_JoystickGetDeviceInstanceID(i) != gone) Adopt(i);
}

void Removed(SDL_JoystickID id) {
    int slot = SlotOf(id);
    if (slot < 0) return;
    Pad& pad = pads.slots[slot];
    for (int b = 0; b < int(PAD_BUTTONS); b++)
        if (pad.held[b]) PostUp(slot, b);
    SDL_GameControllerClose(pad.controller);
    pad = Pad{};
    AdoptWaiting(id);
}

void PostUp(int slot, int button) {
    Pad& pad = pads.slots[slot];
    pad.held[button] = false;
    pad.releasePending[button] = false;
    PostMessage(Message{MSG_PADUP, uint32_t(slot), uint32_t(button)});
}

void Button(const SDL_ControllerButtonEvent& ev) {
    int slot = SlotOf(ev.which);
    int button = ButtonFromSdl(ev.button);
    if (slot < 0 || button < 0) return;
    Pad& pad = pads.slots[slot];
    if (ev.state == SDL_PRESSED) {
        if (pad.held[button] && !pad.releasePending[button]) return;
        if (pad.releasePending[button]) PostUp(slot, button);  // a new press: the held-back release comes first
        pad.held[button] = true;
        pad.downMs[button] = RawTimeMs();
        PostMessage(Message{MSG_PADDOWN, uint32_t(slot), uint32_t(button)});
    } else if (pad.held[button]) {
        if (RawTimeMs() - pad.downMs[button] < kShortestPressMs)
            pad.releasePending[button] = true;
        else
            PostUp(slot, button);
    }
}

// The joysticks the tests attached, opened so that their buttons can be set
// whether or not a slot took them.
constexpr int kMostVirtualPads = 8;
SDL_Joystick* virtualPads[kMostVirtualPads];

SDL_Joystick* VirtualPad(int pad) {
    for (SDL_Joystick* joystick : virtualPads)
        if (joystick && SDL_JoystickInstanceID(joystick) == pad) return joystick;
    return nullptr;
}

// Scripted button changes of virtual pads, in time order. SDL asks each
// virtual pad for its state while it polls, and that is when the due ones
// are applied, so they come out of that same poll as controller events.
struct ScriptedButton {
    uint32_t atMs;
    int pad;
    PadButton button;
    bool down;
};
std::vector<ScriptedButton> padScript;

void SDLCALL ApplyScriptedButtons(void*) {
    uint32_t now = RawTimeMs();
    size_t due = 0;
    while (due < padScript.size() && int32_t(now - padScript[due].atMs) >= 0) due++;
    if (due == 0) return;
    std::vector<ScriptedButton> apply(padScript.begin(), padScript.begin() + long(due));
    padScript.erase(padScript.begin(), padScript.begin() + long(due));
    for (const ScriptedButton& change : apply) SetVirtualPadButton(change.pad, change.button, change.down);
}

}  // namespace

void PadsInit() {
    if (pads.started) return;
    // Face buttons by position (south, east, north), also on pads that print
    // their letters the other way round.
    SDL_SetHint(SDL_HINT_GAMECONTROLLER_USE_BUTTON_LABELS, "0");
    // The pads already plugged in are announced as added by the first poll.
    pads.started = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
}

void PadsQuit() {
    if (!pads.started) return;
    for (Pad& pad : pads.slots) {
        if (pad.controller) SDL_GameControllerClose(pad.controller);
        pad = Pad{};
    }
    for (SDL_Joystick*& joystick : virtualPads) {
        if (joystick) SDL_JoystickClose(joystick);
        joystick = nullptr;
    }
    padScript.clear();
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    pads.started = false;
}

void PadsPoll() {
    if (!pads.started) return;
    uint32_t now = RawTimeMs();
    for (int s = 0; s < kPadSlots; s++)
        for (int b = 0; b < int(PAD_BUTTONS); b++)
            if (pads.slots[s].releasePending[b] && now - pads.slots[s].downMs[b] >= kShortestPressMs) PostUp(s, b);
}

bool PadsWaiting() {
    if (!pads.started) return false;
    if (!padScript.empty()) return true;
    for (const Pad& pad : pads.slots)
        for (bool pending : pad.releasePending)
            if (pending) return true;
    return false;
}

bool HandlePadEvent(const SDL_Event& ev) {
    if (!pads.started) return false;
    switch (ev.type) {
    case SDL_CONTROLLERDEVICEADDED:
        AdoptWaiting(-1);
        return true;
    case SDL_CONTROLLERDEVICEREMOVED:
        Removed(ev.cdevice.which);  // an instance id
        return true;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
        Button(ev.cbutton);
        return true;
    default:
        return false;
    }
}

int ConnectedPads() {
    int n = 0;
    for (const Pad& pad : pads.slots) n += pad.controller != nullptr;
    return n;
}

// A virtual pad of every controller button and axis: SDL then maps virtual
// button b to controller button b, which is what SetVirtualPadButton relies on.
int AttachVirtualPad() {
    if (!pads.started) return -1;
    // SDL drops button presses while the window lacks input focus, and a
    // headless window never has it; the tests' pads are heard regardless.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    SDL_Joystick** free = nullptr;
    for (SDL_Joystick*& joystick : virtualPads)
        if (!joystick) free = &joystick;
    if (!free) return -1;
    SDL_VirtualJoystickDesc desc;
    SDL_zero(desc);
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.axis_mask = (1u << SDL_CONTROLLER_AXIS_MAX) - 1;
    desc.button_mask = (1u << SDL_CONTROLLER_BUTTON_MAX) - 1;
    desc.name = "Virtual test pad";
    desc.Update = ApplyScriptedButtons;
    int index = SDL_JoystickAttachVirtualEx(&desc);
    if (index < 0) return -1;
    *free = SDL_JoystickOpen(index);
    if (!*free) {
        SDL_JoystickDetachVirtual(index);
        return -1;
    }
    return SDL_JoystickInstanceID(*free);
}

bool SetVirtualPadButton(int pad, PadButton button, bool down) {
    SDL_Joystick* joystick = VirtualPad(pad);
    SDL_GameControllerButton b = SdlButton(button);
    if (!joystick || b == SDL_CONTROLLER_BUTTON_INVALID) return false;
    return SDL_JoystickSetVirtualButton(joystick, b, down ? SDL_PRESSED : SDL_RELEASED) == 0;
}

bool DetachVirtualPad(int pad) {
    for (SDL_Joystick*& joystick : virtualPads) {
        if (!joystick || SDL_JoystickInstanceID(joystick) != pad) continue;
        SDL_JoystickClose(joystick);
        joystick = nullptr;
        for (int i = 0, n = SDL_NumJoysticks(); i < n; i++)
            if (SDL_JoystickGetDeviceInstanceID(i) == pad) return SDL_JoystickDetachVirtual(i) == 0;
        return false;
    }
    return false;
}

void ScriptPadButton(uint32_t atMs, int pad, PadButton button, bool down) {
    ScriptedButton change{atMs, pad, button, down};
    auto later = [](const ScriptedButton& a, const ScriptedButton& b) { return int32_t(a.atMs - b.atMs) < 0; };
    padScript.insert(std::upper_bound(padScript.begin(), padScript.end(), change, later), change);
}

int PadSlotOf(int pad) { return SlotOf(pad); }

}  // namespace plat
