// Keys: SDL's key positions (scancodes) as the Windows virtual-key codes the
// game reads, and the names of keys.
//
// A key is read by its position, so that the layouts of the players' keys
// sit where they were designed to sit on any keyboard. Its name in the
// settings file is the name of that position, which does not change with
// the keyboard layout; what is shown to players is what their layout prints
// on the key.
#include <SDL.h>

#include "platform/platform_internal.h"

namespace plat {

namespace {

struct KeyPosition {
    SDL_Scancode scancode;
    uint32_t vk;
};

// The positions besides the runs of letters, digits, function keys and
// numeric-pad digits. Where two positions give one code (the two Control
// keys), the first one names it.
const KeyPosition kPositions[] = {
    {SDL_SCANCODE_0, 0x30},
    {SDL_SCANCODE_KP_0, VK_NUMPAD0},
    {SDL_SCANCODE_RETURN, VK_RETURN},
    {SDL_SCANCODE_KP_ENTER, VK_RETURN},
    {SDL_SCANCODE_ESCAPE, VK_ESCAPE},
    {SDL_SCANCODE_SPACE, VK_SPACE},
    {SDL_SCANCODE_BACKSPACE, VK_BACK},
    {SDL_SCANCODE_TAB, VK_TAB},
    {SDL_SCANCODE_LEFT, VK_LEFT},
    {SDL_SCANCODE_UP, VK_UP},
    {SDL_SCANCODE_RIGHT, VK_RIGHT},
    {SDL_SCANCODE_DOWN, VK_DOWN},
    {SDL_SCANCODE_PAGEUP, VK_PRIOR},
    {SDL_SCANCODE_PAGEDOWN, VK_NEXT},
    {SDL_SCANCODE_HOME, VK_HOME},
    {SDL_SCANCODE_END, VK_END},
    {SDL_SCANCODE_INSERT, VK_INSERT},
    {SDL_SCANCODE_DELETE, VK_DELETE},
    {SDL_SCANCODE_LCTRL, VK_CONTROL},
    {SDL_SCANCODE_RCTRL, VK_CONTROL},
    {SDL_SCANCODE_LSHIFT, VK_SHIFT},
    {SDL_SCANCODE_RSHIFT, VK_SHIFT},
    {SDL_SCANCODE_LALT, VK_MENU},
    {SDL_SCANCODE_RALT, VK_MENU},
    {SDL_SCANCODE_PAUSE, VK_PAUSE},
    {SDL_SCANCODE_LEFTBRACKET, VK_OEM_4},
    {SDL_SCANCODE_BACKSLASH, VK_OEM_5},
    {SDL_SCANCODE_RIGHTBRACKET, VK_OEM_6},
    {SDL_SCANCODE_SEMICOLON, VK_OEM_1},
    {SDL_SCANCODE_EQUALS, VK_OEM_PLUS},
    {SDL_SCANCODE_COMMA, VK_OEM_COMMA},
    {SDL_SCANCODE_MINUS, VK_OEM_MINUS},
    {SDL_SCANCODE_PERIOD, VK_OEM_PERIOD},
    {SDL_SCANCODE_SLASH, VK_OEM_2},
    {SDL_SCANCODE_GRAVE, VK_OEM_3},
    {SDL_SCANCODE_APOSTROPHE, VK_OEM_7},
    {SDL_SCANCODE_NONUSBACKSLASH, VK_OEM_102},
    {SDL_SCANCODE_KP_MULTIPLY, 0x6A},
    {SDL_SCANCODE_KP_PLUS, 0x6B},
    {SDL_SCANCODE_KP_MINUS, 0x6D},
    {SDL_SCANCODE_KP_PERIOD, 0x6E},
    {SDL_SCANCODE_KP_DIVIDE, 0x6F},
};

// The position that gives a virtual key, SDL_SCANCODE_UNKNOWN for none.
SDL_Scancode ScancodeOf(uint32_t vk) {
    if (vk >= 0x41 && vk <= 0x5A) return SDL_Scancode(SDL_SCANCODE_A + int(vk - 0x41));
    if (vk >= 0x31 && vk <= 0x39) return SDL_Scancode(SDL_SCANCODE_1 + int(vk - 0x31));
    if (vk >= VK_F1 && vk <= VK_F12) return SDL_Scancode(SDL_SCANCODE_F1 + int(vk - VK_F1));
    if (vk >= 0x61 && vk <= 0x69) return SDL_Scancode(SDL_SCANCODE_KP_1 + int(vk - 0x61));
    for (const KeyPosition& k : kPositions)
        if (k.vk == vk) return k.scancode;
    return SDL_SCANCODE_UNKNOWN;
}

}  // namespace

uint32_t VirtualKeyFromScancode(int scancode) {
    SDL_Scancode sc = SDL_Scancode(scancode);
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 0x41 + (sc - SDL_SCANCODE_A);
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return 0x31 + (sc - SDL_SCANCODE_1);
    if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return VK_F1 + (sc - SDL_SCANCODE_F1);
    if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) return 0x61 + (sc - SDL_SCANCODE_KP_1);
    for (const KeyPosition& k : kPositions)
        if (k.scancode == sc) return k.vk;
    return 0;
}

const char* KeyName(uint32_t vk) {
    SDL_Scancode sc = ScancodeOf(vk);
    return sc == SDL_SCANCODE_UNKNOWN ? "" : SDL_GetScancodeName(sc);
}

uint32_t KeyFromName(const char* name) {
    if (!name || !*name) return 0;
    SDL_Scancode sc = SDL_GetScancodeFromName(name);
    return sc == SDL_SCANCODE_UNKNOWN ? 0 : VirtualKeyFromScancode(sc);
}

std::string KeyLabel(uint32_t vk) {
    SDL_Scancode sc = ScancodeOf(vk);
    if (sc == SDL_SCANCODE_UNKNOWN) return "";
    SDL_Keycode printed = SDL_GetKeyFromScancode(sc);
    return printed == SDLK_UNKNOWN ? "" : SDL_GetKeyName(printed);
}

}  // namespace plat
