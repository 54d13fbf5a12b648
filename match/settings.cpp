// The settings table: every setting's key, field, width, menu step, limits
// and texts in one place. There is no settings record; each value lives in
// the object that uses it, and the table points at those fields.
#include "match/settings.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "core/app.h"
#include "items/itemmanager.h"
#include "sound/bgm.h"
#include "sound/directsound.h"

namespace {

const char* const kOffOn[] = {"OFF", "ON"};
const char* const kKeyboardTypes[] = {"DESKTOP", "NOTE"};
const char* const kMidiDevices[] = {"DIRECTM", "MIDI M"};
const char* const kExplosionTypes[] = {"CIRCLE", "COSMO", "COSMO S", "COSMO A"};
const char* const kScalingNames[] = {"WHOLE", "FIT", "AUTO"};  // plat::Scaling
const char* const kMatchRounds[] = {"ENDLESS"};                // 0; any other count shows as its number

// The field kind follows the field's C++ type, so a description cannot
// claim a width its field does not have.
template <class T>
constexpr FieldKind KindOf();
template <>
constexpr FieldKind KindOf<int32_t>() {
    return FieldKind::I32;
}
template <>
constexpr FieldKind KindOf<uint8_t>() {
    return FieldKind::U8;
}
template <>
constexpr FieldKind KindOf<int8_t>() {
    return FieldKind::I8;
}
template <>
constexpr FieldKind KindOf<uint16_t>() {
    return FieldKind::U16;
}

// A number stepped by unit within low..high; the file prints it with the
// field's own signedness.
template <class T>
Setting Numeric(const char* key, T* field, int unit, int32_t low, int32_t high, Shown shown = Shown::Number) {
    Setting s{};
    std::snprintf(s.key, sizeof(s.key), "%s", key);
    s.field = field;
    s.kind = KindOf<T>();
    s.writtenSigned = (s.kind == FieldKind::I32 || s.kind == FieldKind::I8);
    s.unit = static_cast<int16_t>(unit);
    s.low = low;
    s.high = high;
    s.shown = shown;
    return s;
}

// A byte the menu flips between 0 and 1.
Setting Toggle(const char* key, uint8_t* field, const char* const (&names)[2], Shown shown = Shown::Choice) {
    Setting s = Numeric(key, field, 0, 0, 1, shown);
    s.names = names;
    s.nameCount = 2;
    return s;
}

std::array<Setting, S_COUNT> MakeTable() {
    std::array<Setting, S_COUNT> t{};
    t[S_GAME_WAIT] = Numeric("GAME_WAIT=", &theRound.state.wait, 1, 0, 9999);
    t[S_KEYBOARD_TYPE] = Toggle("KEYBORAD_TYPE=", &theApp.keyboardType, kKeyboardTypes, Shown::Binary);
    t[S_ITEM_MAX] = Numeric("ITEM_MAX=", &theItemManager.itemMax, 1, 0, 99);
    t[S_ITEM_SHOW_TIME] = Numeric("ITEM_SHOW_TIME=", &theItemManager.itemShowTime, 1, 0, 999);
    t[S_ITEM_GET_DEATH] = Numeric("ITEM_GET_DEATH=", &theItemManager.itemGetDeath, 5, 0, 100, Shown::Percent);
    t[S_ITEM_USE_FLUSH] = Toggle("ITEM_USE_FLUSH=", &theItemManager.itemUseFlush, kOffOn);
    // The file format prints this flag, unlike the others, as a signed byte.
    t[S_ITEM_USE_FLUSH].writtenSigned = true;
    t[S_CHANGE_LIMITATION] = Toggle("CHANGE_LIMITATION=", &theItemManager.changeLimitation, kOffOn);
    t[S_EXPLOSION_TYPE] = Numeric("EXPLOTION_TYPE=", &theRound.explosionType, 1, 0, 3, Shown::Choice);
    t[S_EXPLOSION_TYPE].names = kExplosionTypes;
    t[S_EXPLOSION_TYPE].nameCount = 4;
    // The circle's value is a radius, the other three are particle counts.
    t[S_EXPLOSION_VALUE0] = Numeric("EXPLOSION_VALUE_CIRCLE=", &theRound.explosionValues[0], 1, 0, 99);
    t[S_EXPLOSION_VALUE0 + 1] = Numeric("EXPLOSION_VALUE_COSMO=", &theRound.explosionValues[1], 100, 0, 5000);
    t[S_EXPLOSION_VALUE0 + 2] = Numeric("EXPLOSION_VALUE_COSMO_S=", &theRound.explosionValues[2], 100, 0, 5000);
    t[S_EXPLOSION_VALUE0 + 3] = Numeric("EXPLOSION_VALUE_COSMP_A=", &theRound.explosionValues[3], 100, 0, 5000);
    t[S_METEORITE_ENABLE] = Toggle("METEORITE_ENABLE=", &theRound.meteorite.enable, kOffOn);
    t[S_METEORITE_TIME] = Numeric("METEORITE_TIME=", &theRound.meteorite.intervalSeconds, 1, 1, 9000);
    t[S_METEORITE_VALUE] = Numeric("METEORITE_VALUE=", &theRound.meteorite.count, 100, 100, 9000);
    t[S_MIDI_DEVICE] = Toggle("MIDI_DEVICE=", &theBgm.device, kMidiDevices, Shown::Binary);
    t[S_SOUND_EFFECT] = Toggle("SOUND_EFFECT=", &theDirectSound.effectsEnabled, kOffOn);
    t[S_SOUND_VOLUME] = Numeric("SOUND_VOLUME=", &theApp.soundVolume, 1, 0, 100, Shown::Percent);
    // The player types are set on the title screen, not in the options menu.
    char key[sizeof(Setting::key)];
    for (int p = 0; p < kPlayers; ++p) {
        std::snprintf(key, sizeof(key), "PLAYER_TYPE_%dP=", p + 1);
        t[S_PLAYER_TYPE0 + p] = Numeric(key, &theRound.players[p].type, 1, 0, kPlayerTypes - 1);
    }
    for (int k = 0; k < kItemKinds; ++k) {
        std::snprintf(key, sizeof(key), "ITEM_%s=", kItemKeyNames[k].text);
        t[S_ITEM0 + k] = Numeric(key, &g_itemTable[k].weight, 5, 0, 100, Shown::Percent);
    }
    // Each step is a decibel (as the effects' volume is), and the menu says so.
    t[S_MUSIC_VOLUME] = Numeric("MUSIC_VOLUME=", &theBgm.musicVolume, 1, 0, 100, Shown::Decibels);
    t[S_MUSIC_VOLUME].personal = true;
    t[S_MUSIC_VOLUME].defaultValue = kFullVolume;
    t[S_HEAD_MARKER] = Toggle("HEAD_MARKER=", &theRound.headMarker, kOffOn);
    t[S_HEAD_MARKER].personal = true;
    t[S_AUTO_FAST] = Toggle("AUTO_FAST=", &theRound.autoFast, kOffOn);
    t[S_AUTO_FAST].personal = true;
    // The length of a match is the players' agreement, not one player's own.
    t[S_MATCH_ROUNDS] = Numeric("MATCH_ROUNDS=", &theRound.matchRounds, 1, 0, 99, Shown::Choice);
    t[S_MATCH_ROUNDS].names = kMatchRounds;
    t[S_MATCH_ROUNDS].nameCount = 1;
    // The display (the window mode that Alt+Enter chooses, the scaling) and
    // the seats' own keys; a key setting of 0 is the keyboard type's layout.
    t[S_WINDOWED] = Toggle("WINDOWED=", &plat::Display().windowed, kOffOn);
    t[S_SCALING] = Numeric("SCALING=", &plat::Display().scaling, 1, 0, plat::kScalings - 1, Shown::Choice);
    t[S_SCALING].names = kScalingNames;
    t[S_SCALING].nameCount = plat::kScalings;
    t[S_SCALING].defaultValue = plat::SCALING_AUTO;
    for (int p = 0; p < kPlayers; ++p) {
        std::snprintf(key, sizeof(key), "KEYS_%dP=", p + 1);
        t[S_KEYS0 + p] = Numeric(key, &theRound.ownKeys[p][0], 0, 0, 0);
        t[S_KEYS0 + p].kind = FieldKind::Keys;
    }
    for (int s = S_WINDOWED; s < S_KEYS0 + kPlayers; ++s) t[s].personal = true;
    // A rule of the round, like the length of a match: the host's online,
    // the recorded one in a replay.
    t[S_SAFE_STARTS] = Toggle("SAFE_STARTS=", &theRound.safeStarts, kOffOn);
    // Where this machine meets others online: a place, not a rule of the round.
    Setting& server = t[S_MATCH_SERVER];
    std::snprintf(server.key, sizeof(server.key), "MATCH_SERVER=");
    server.field = theApp.matchServer;
    server.kind = FieldKind::Text;
    server.personal = true;
    return t;
}

bool IsUnsigned(FieldKind kind) { return kind == FieldKind::U8 || kind == FieldKind::U16; }

// Keeps the low-order bits that fit an unsigned field.
int64_t WrapToField(int64_t value, FieldKind kind) {
    return (kind == FieldKind::U8) ? (value & 0xFF) : (value & 0xFFFF);
}

}  // namespace

const Setting& SettingAt(int s) {
    // Built on first use; the fields it points at belong to objects of
    // static storage, whose addresses never change.
    static const std::array<Setting, S_COUNT> table = MakeTable();
    return table[s];
}

int32_t FetchValue(const Setting& s) {
    switch (s.kind) {
    case FieldKind::I32:
        return *static_cast<const int32_t*>(s.field);
    case FieldKind::U8:
        return *static_cast<const uint8_t*>(s.field);
    case FieldKind::I8:
        return *static_cast<const int8_t*>(s.field);
    case FieldKind::U16:
        return *static_cast<const uint16_t*>(s.field);
    case FieldKind::Keys: {
        const uint8_t* keys = static_cast<const uint8_t*>(s.field);
        return static_cast<int32_t>(keys[0] | keys[1] << 8 | keys[2] << 16);
    }
    case FieldKind::Text:
        return 0;
    }
    return 0;
}

int32_t WrittenValue(const Setting& s) {
    int32_t value = FetchValue(s);
    if (!s.writtenSigned) return value;
    switch (s.kind) {
    case FieldKind::U8:
        return static_cast<int8_t>(value);
    case FieldKind::U16:
        return static_cast<int16_t>(value);
    default:
        return value;
    }
}

void StoreValue(const Setting& s, int32_t value) {
    switch (s.kind) {
    case FieldKind::I32:
        *static_cast<int32_t*>(s.field) = value;
        break;
    case FieldKind::U8:
        *static_cast<uint8_t*>(s.field) = static_cast<uint8_t>(value);
        break;
    case FieldKind::I8:
        *static_cast<int8_t*>(s.field) = static_cast<int8_t>(value);
        break;
    case FieldKind::U16:
        *static_cast<uint16_t*>(s.field) = static_cast<uint16_t>(value);
        break;
    case FieldKind::Keys:
        for (int k = 0; k < 3; ++k) static_cast<uint8_t*>(s.field)[k] = static_cast<uint8_t>(value >> (8 * k));
        break;
    case FieldKind::Text:
        break;
    }
}

bool InRange(const Setting& s, int64_t value) {
    return s.kind == FieldKind::Keys || s.kind == FieldKind::Text || (value >= s.low && value <= s.high);
}

int32_t Limited(const Setting& s, int64_t value) {
    if (InRange(s, value)) return static_cast<int32_t>(value);
    return value < s.low ? s.low : s.high;
}

int FirstOutOfRange(const int32_t* values, int count) {
    for (int s = 0; s < count && s < S_COUNT; ++s)
        if (!InRange(SettingAt(s), values[s])) return s;
    return -1;
}

void DescribeOutOfRange(int s, int64_t value, char* text, size_t size) {
    const Setting& setting = SettingAt(s);
    std::snprintf(text, size, "%.*s=%lld is out of %ld..%ld", static_cast<int>(std::strlen(setting.key) - 1),
                  setting.key, static_cast<long long>(value), static_cast<long>(setting.low),
                  static_cast<long>(setting.high));
}

const char* SettingText(const Setting& s) { return s.kind == FieldKind::Text ? static_cast<const char*>(s.field) : ""; }

bool StoreSettingText(const Setting& s, const char* text) {
    const size_t n = std::strlen(text);
    if (s.kind != FieldKind::Text || n >= kSettingTextMax) return false;
    for (size_t i = 0; i < n; ++i)
        if (text[i] <= ' ' || text[i] > '~') return false;
    std::memcpy(s.field, text, n + 1);
    return true;
}

// A toggle becomes 1 from 0 and 0 from anything else. A signed number is
// summed wide and limited to low..high, so a value at the edge of its field
// (or outside the limits, read from the file) never wraps round to the other
// limit. An unsigned number wraps within its field and only its upper limit
// applies, so stepping down from 0 lands on the limit.
void StepSetting(const Setting& s, int step) {
    if (step == 0 || s.kind == FieldKind::Keys || s.kind == FieldKind::Text) return;
    if (s.unit == 0) {
        StoreValue(s, FetchValue(s) == 0 ? 1 : 0);
        return;
    }
    int64_t next = static_cast<int64_t>(FetchValue(s)) + static_cast<int64_t>(step) * s.unit;
    if (IsUnsigned(s.kind)) {
        next = WrapToField(next, s.kind);
    } else if (next < s.low) {
        next = s.low;
    }
    if (next > s.high) next = s.high;
    StoreValue(s, static_cast<int32_t>(next));
}

void FormatSetting(const Setting& s, char* text, size_t size) {
    int32_t value = FetchValue(s);
    switch (s.shown) {
    case Shown::Number:
        std::snprintf(text, size, "%d", static_cast<int>(value));
        break;
    case Shown::Percent:
        std::snprintf(text, size, "%d p", static_cast<int>(value));
        break;
    case Shown::Choice:
        // A value read from the file beyond the named ones shows as a number.
        if (value >= 0 && value < s.nameCount)
            std::snprintf(text, size, "%s", s.names[value]);
        else
            std::snprintf(text, size, "%d", static_cast<int>(value));
        break;
    case Shown::Binary:
        std::snprintf(text, size, "%s", s.names[value != 0 ? 1 : 0]);
        break;
    case Shown::Decibels:
        if (value >= kFullVolume)
            std::snprintf(text, size, "FULL");
        else
            std::snprintf(text, size, "%d DB DOWN", static_cast<int>(kFullVolume - value));
        break;
    }
}
