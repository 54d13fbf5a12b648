// Keys by position: a key event's KeyboardEvent.code names the position, as
// a scancode does on the desktop. The names kept in the settings file are
// the desktop's names of the same positions, so that one option.txt serves
// both.
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "platform/platform_internal.h"
#include "platform/web/web.h"

namespace plat {

namespace {

struct KeyPosition {
    const char* code;  // KeyboardEvent.code
    uint32_t vk;
    const char* name;  // as the settings file keeps it
};

// Where two positions give one code (the two Control keys), the first one
// names it. Letters, digits, function keys and keypad digits are runs (below).
const KeyPosition kPositions[] = {
    {"Numpad0", VK_NUMPAD0, "Keypad 0"},
    {"Enter", VK_RETURN, "Return"},
    {"NumpadEnter", VK_RETURN, "Keypad Enter"},
    {"Escape", VK_ESCAPE, "Escape"},
    {"Space", VK_SPACE, "Space"},
    {"Backspace", VK_BACK, "Backspace"},
    {"Tab", VK_TAB, "Tab"},
    {"ArrowLeft", VK_LEFT, "Left"},
    {"ArrowUp", VK_UP, "Up"},
    {"ArrowRight", VK_RIGHT, "Right"},
    {"ArrowDown", VK_DOWN, "Down"},
    {"PageUp", VK_PRIOR, "PageUp"},
    {"PageDown", VK_NEXT, "PageDown"},
    {"Home", VK_HOME, "Home"},
    {"End", VK_END, "End"},
    {"Insert", VK_INSERT, "Insert"},
    {"Delete", VK_DELETE, "Delete"},
    {"ControlLeft", VK_CONTROL, "Left Ctrl"},
    {"ControlRight", VK_CONTROL, "Right Ctrl"},
    {"ShiftLeft", VK_SHIFT, "Left Shift"},
    {"ShiftRight", VK_SHIFT, "Right Shift"},
    {"AltLeft", VK_MENU, "Left Alt"},
    {"AltRight", VK_MENU, "Right Alt"},
    {"Pause", VK_PAUSE, "Pause"},
    {"BracketLeft", VK_OEM_4, "["},
    {"Backslash", VK_OEM_5, "\\"},
    {"BracketRight", VK_OEM_6, "]"},
    {"Semicolon", VK_OEM_1, ";"},
    {"Equal", VK_OEM_PLUS, "="},
    {"Comma", VK_OEM_COMMA, ","},
    {"Minus", VK_OEM_MINUS, "-"},
    {"Period", VK_OEM_PERIOD, "."},
    {"Slash", VK_OEM_2, "/"},
    {"Backquote", VK_OEM_3, "`"},
    {"Quote", VK_OEM_7, "'"},
    {"IntlBackslash", VK_OEM_102, ""},  // the desktop has no name for it either
    {"NumpadMultiply", 0x6A, "Keypad *"},
    {"NumpadAdd", 0x6B, "Keypad +"},
    {"NumpadSubtract", 0x6D, "Keypad -"},
    {"NumpadDecimal", VK_DECIMAL, "Keypad ."},
    {"NumpadDivide", 0x6F, "Keypad /"},
};

// A run of positions whose codes, virtual keys and names count up together.
struct KeyRun {
    const char* codePrefix;
    const char* namePrefix;
    char first;  // the first suffix, counting up as a character ('A') or a number ('1')
    int count;
    uint32_t vk;
    bool numbered;  // suffixes are numbers ("F10"), not characters
};
const KeyRun kRuns[] = {
    {"Key", "", 'A', 26, 0x41, false}, {"Digit", "", '1', 9, 0x31, false},         {"Digit", "", '0', 1, 0x30, false},
    {"F", "F", 1, 12, VK_F1, true},    {"Numpad", "Keypad ", '1', 9, 0x61, false},
};

void Suffix(const KeyRun& run, int i, char* out, size_t size) {
    if (run.numbered)
        snprintf(out, size, "%d", run.first + i);
    else
        snprintf(out, size, "%c", run.first + i);
}

// Finds the run entry of a virtual key; writes its code and name.
bool FromRuns(uint32_t vk, char* code, char* name, size_t size) {
    for (const KeyRun& run : kRuns) {
        if (vk < run.vk || vk >= run.vk + uint32_t(run.count)) continue;
        char suffix[8];
        Suffix(run, int(vk - run.vk), suffix, sizeof suffix);
        snprintf(code, size, "%s%s", run.codePrefix, suffix);
        snprintf(name, size, "%s%s", run.namePrefix, suffix);
        return true;
    }
    return false;
}

const KeyPosition* FirstOf(uint32_t vk) {
    for (const KeyPosition& k : kPositions)
        if (k.vk == vk) return &k;
    return nullptr;
}

}  // namespace

uint32_t VirtualKeyFromCode(const char* code) {
    for (const KeyPosition& k : kPositions)
        if (strcmp(k.code, code) == 0) return k.vk;
    for (const KeyRun& run : kRuns) {
        size_t n = strlen(run.codePrefix);
        if (strncmp(code, run.codePrefix, n) != 0) continue;
        for (int i = 0; i < run.count; i++) {
            char suffix[8];
            Suffix(run, i, suffix, sizeof suffix);
            if (strcmp(code + n, suffix) == 0) return run.vk + uint32_t(i);
        }
    }
    return 0;
}

namespace {

// The code and the name of a virtual key's position ("" for none). Each key
// keeps its own strings for good, as the desktop's names are: a caller may
// hold several names at once (a seat's three keys on one line).
KeyPosition Describe(uint32_t vk) {
    static char codes[256][16], names[256][16];
    if (vk >= 256) return KeyPosition{"", 0, ""};
    if (FromRuns(vk, codes[vk], names[vk], sizeof codes[vk])) return KeyPosition{codes[vk], vk, names[vk]};
    const KeyPosition* k = FirstOf(vk);
    return k ? *k : KeyPosition{"", 0, ""};
}

}  // namespace

const char* KeyCodeOf(uint32_t vk) { return Describe(vk).code; }

const char* KeyName(uint32_t vk) { return Describe(vk).name; }

uint32_t KeyFromName(const char* name) {
    if (!name || !*name) return 0;
    for (const KeyPosition& k : kPositions)
        if (strcasecmp(k.name, name) == 0) return k.vk;
    for (uint32_t vk = 1; vk < 256; vk++) {
        char code[32], own[32];
        if (FromRuns(vk, code, own, sizeof own) && strcasecmp(own, name) == 0) return vk;
    }
    return 0;
}

std::string KeyLabel(uint32_t vk) {
    const char* code = KeyCodeOf(vk);
    if (!*code) return "";
    char printed[32];
    web_key_label(code, printed, sizeof printed);
    if (!printed[0]) return KeyName(vk);
    // Letters as capitals, the way the desktop shows what a key prints.
    for (char* c = printed; *c; c++)
        if (*c >= 'a' && *c <= 'z') *c = char(*c - 'a' + 'A');
    return printed;
}

}  // namespace plat
