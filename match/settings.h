// The settings, described once for both of their users: the settings file
// ("option.txt", config/optionfile.cpp) and the options menu
// (config/optionmenu.cpp). A description says where a value lives, how wide
// its field is, how the file prints it, and how the menu steps and shows it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/gamedata.h"
#include "match/round.h"  // kPlayers

// Width and signedness of the field a setting lives in. Every value of a
// setting's range fits its field; a value from a file is held to the range
// before it is stored (config/optionfile.cpp).
// Keys: a seat's three virtual keys (left, item, right), all 0 for the
// keyboard type's layout; the file names them (KEYS_1P=J,K,L) and a number
// of them packs the three bytes, left lowest.
// Text: a line of text in a char[kSettingTextMax] field (a place, such as the
// match server's). It has no number: its value reads 0 and storing one
// changes nothing, so replays and online matches, which carry settings as
// numbers, neither hold it nor touch it; only the settings file holds it.
enum class FieldKind : uint8_t { I32, U8, I8, U16, Keys, Text };
constexpr size_t kSettingTextMax = kMatchServerTextMax;

// How the options menu shows a value.
enum class Shown : uint8_t {
    Number,    // "%d"
    Percent,   // "%d p"
    Choice,    // the value's name; a value beyond the names as a number
    Binary,    // the first name for 0, the second for any other value
    Decibels,  // a volume of 0..100 in decibel steps: "FULL" at 100, else "%d DB DOWN"
};

struct Setting {
    char key[48];  // the file key, including the '='
    void* field;
    FieldKind kind;
    bool writtenSigned;  // the file prints the field as a signed number of its width
    // The menu's step: Left and Right add -unit and +unit and the result is
    // limited to low..high; a unit of 0 makes the setting a 0/1 toggle.
    int16_t unit;
    int32_t low;
    int32_t high;
    Shown shown;
    const char* const* names;
    uint8_t nameCount;
    // A player's own choice on this machine (what is shown and heard, the
    // pace, the display and the seats' keys), which no round depends on: a
    // replay keeps the viewer's, and each machine of an online match its own.
    bool personal;
    // The value the owner starts with. Only the settings added after the
    // file format of version 1.02A use it: the file holds one of them only
    // when it differs from this.
    int32_t defaultValue;
};

// The settings in file order; the reader tries the keys in this order too.
enum : int {
    S_GAME_WAIT,
    S_KEYBOARD_TYPE,
    S_ITEM_MAX,
    S_ITEM_SHOW_TIME,
    S_ITEM_GET_DEATH,
    S_ITEM_USE_FLUSH,
    S_CHANGE_LIMITATION,
    S_EXPLOSION_TYPE,
    S_EXPLOSION_VALUE0,
    S_METEORITE_ENABLE = S_EXPLOSION_VALUE0 + 4,
    S_METEORITE_TIME,
    S_METEORITE_VALUE,
    S_MIDI_DEVICE,
    S_SOUND_EFFECT,
    S_SOUND_VOLUME,
    S_PLAYER_TYPE0,
    S_ITEM0 = S_PLAYER_TYPE0 + kPlayers,
    // Added after the file format of version 1.02A; appended, so that the
    // settings a replay holds keep their places.
    S_FIRST_ADDED = S_ITEM0 + kItemKinds,
    S_MUSIC_VOLUME = S_FIRST_ADDED,
    S_HEAD_MARKER,
    S_AUTO_FAST,
    S_MATCH_ROUNDS,
    S_WINDOWED,
    S_SCALING,
    S_KEYS0,
    S_SAFE_STARTS = S_KEYS0 + kPlayers,
    S_MATCH_SERVER,
    S_COUNT,
};

// The setting of index s (0..S_COUNT-1), pointing at its owner's field.
const Setting& SettingAt(int s);

// The stored value, widened by the field's own signedness.
int32_t FetchValue(const Setting& s);
// The stored value as the settings file prints it.
int32_t WrittenValue(const Setting& s);
// Stores a value, keeping the low-order bytes that fit the field.
void StoreValue(const Setting& s, int32_t value);

// The range a setting's value must lie in: the menu's limits (for a toggle
// 0..1). A seat's keys have no range; their names are checked when read.
bool InRange(const Setting& s, int64_t value);
// The value brought into the setting's range.
int32_t Limited(const Setting& s, int64_t value);
// The first of count values, in settings table order, that lies outside its
// setting's range, or -1 when all hold: a replay or a round start with such a
// value holds values no round can have.
int FirstOutOfRange(const int32_t* values, int count);
// "SOUND_VOLUME=500 is out of 0..100" for setting index s and a value.
void DescribeOutOfRange(int s, int64_t value, char* text, size_t size);

// One menu step of -1, 0 or +1 (0 changes nothing).
void StepSetting(const Setting& s, int step);
// A text setting's text ("" for any other). Text is stored only when it is
// printable, without blanks, and shorter than kSettingTextMax.
const char* SettingText(const Setting& s);
bool StoreSettingText(const Setting& s, const char* text);
// The menu's text for the stored value.
void FormatSetting(const Setting& s, char* text, size_t size);
