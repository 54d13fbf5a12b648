// The settings file: "option.txt" read at start-up and written on leaving the
// options menu and the title, and the older binary "option.dat" that is read
// once when no "option.txt" exists and then deleted.
//
// What each setting is and where it lives is described in config/settings.h.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/option.h"
#include "core/app.h"
#include "match/round.h"
#include "match/settings.h"
#include "sound/bgm.h"
#include "sound/directsound.h"

namespace {

const char kTextFile[] = "option.txt";
const char kLegacyFile[] = "option.dat";

bool IsBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r'; }

// A decimal number with the "%d" rules: leading blanks, an optional sign,
// digits up to the first non-digit. A number beyond 64 bits stops at their
// limit, which lies outside every setting's range as the number itself does.
// False when no digit follows; the setting then keeps its old value.
bool ParseDecimal(const char* text, int64_t* out) {
    while (IsBlank(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = (*text++ == '-');
    if (*text < '0' || *text > '9') return false;
    constexpr uint64_t kMost = uint64_t(INT64_MAX);
    uint64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const uint64_t digit = uint64_t(*text - '0');
        magnitude = magnitude > (kMost - digit) / 10 ? kMost : magnitude * 10 + digit;
    }
    *out = negative ? -int64_t(magnitude) : int64_t(magnitude);
    return true;
}

// A value outside its setting's range (the menu's limits) is brought to the
// nearer limit and said once: the limited value is what the game shows,
// plays and writes back.
void StoreLimited(int setting, int64_t value, const char* file) {
    const Setting& s = SettingAt(setting);
    const int32_t limited = Limited(s, value);
    if (limited != value) {
        char why[96];
        DescribeOutOfRange(setting, value, why, sizeof why);
        std::fprintf(stderr, "%s: %s; %ld is used\n", file, why, static_cast<long>(limited));
    }
    StoreValue(s, limited);
}

void UpperCase(char* text) {
    for (; *text; ++text) {
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
    }
}

// A seat's keys: three key names parted by commas ("J,K,L"; the comma
// key's own name is ",", so a name is never empty: ",,.,/" names the comma,
// the full stop and the slash). Blanks round a name do not count.
bool ParseKeyNames(const char* text, int32_t* packed, std::string* fault) {
    int32_t value = 0;
    for (int k = 0; k < kSeatKeys; ++k) {
        while (*text == ' ' || *text == '\t') ++text;
        const char* end = (k + 1 < kSeatKeys && *text) ? std::strchr(text + 1, ',') : text + std::strlen(text);
        if (!end) end = text + std::strlen(text);
        std::string name(text, static_cast<size_t>(end - text));
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
        uint32_t vk = plat::KeyFromName(name.c_str());
        if (vk == 0 || IsReservedKey(vk)) {
            *fault = "\"" + name + "\" is " + (vk ? "a key the game keeps for itself" : "no key name it knows");
            return false;
        }
        for (int j = 0; j < k; ++j)
            if (((value >> (8 * j)) & 0xFF) == static_cast<int32_t>(vk)) {
                *fault = "\"" + name + "\" is named twice";
                return false;
            }
        value |= static_cast<int32_t>(vk) << (8 * k);
        text = *end ? end + 1 : end;
    }
    *packed = value;
    return true;
}

// One line of "option.txt": line end removed, upper-cased, then matched
// against the keys. Blanks before a key or around its '=' make it no match.
void ApplyLine(char* line) {
    size_t len = std::strlen(line);
    while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = '\0';
    const std::string asWritten = line;  // a text setting keeps its letters as they are
    UpperCase(line);
    if (line[0] == '\0' || line[0] == ';') return;
    for (int i = 0; i < S_COUNT; ++i) {
        const Setting& s = SettingAt(i);
        if (!StartsWith(s.key, line)) continue;
        int64_t number;
        int32_t keys;
        std::string fault;
        if (s.kind == FieldKind::Text) {
            // An empty text is valid (no server); anything else unusable is said.
            if (!StoreSettingText(s, asWritten.c_str() + std::strlen(s.key)))
                std::fprintf(stderr, "option.txt: %.*s ignored: it is not one word of at most %d characters\n",
                             static_cast<int>(std::strlen(s.key) - 1), s.key, static_cast<int>(kSettingTextMax - 1));
        } else if (s.kind != FieldKind::Keys) {
            if (ParseDecimal(line + std::strlen(s.key), &number)) StoreLimited(i, number, kTextFile);
        } else if (ParseKeyNames(line + std::strlen(s.key), &keys, &fault)) {
            StoreValue(s, keys);
        } else {
            // The seat keeps the keys it has (its layout's, at start-up).
            std::fprintf(stderr, "option.txt: %.*s ignored: %s\n", static_cast<int>(std::strlen(s.key) - 1), s.key,
                         fault.c_str());
        }
    }
}

void ApplySoundVolume() {
    theDirectSound.SetVolume(theApp.soundVolume);
    theBgm.SetVolume(theBgm.musicVolume);
}

// ---- writing ----------------------------------------------------------------

// The comment lines of "option.txt" as Shift-JIS (code page 932) bytes, so
// that the file stays byte-identical to what earlier versions wrote.
const char* const kComments[] = {
    ";NUVEL \x8A"
    "e\x8E\xED\x90\xDD\x92\xE8\x83t\x83@\x83"
    "C\x83\x8B",  // ;NUVEL 各種設定ファイル
    ";\x90\xE6\x93\xAA\x82\xC9\x81u;\x81v\x82\xAA\x95t\x82\xAD\x8Ds\x82\xCD\x83R\x83\x81\x83\x93\x83g\x82\xC9\x82\xC8"
    "\x82\xE8\x82\xDC\x82\xB7",  // ;先頭に「;」が付く行はコメントになります
    ";\x82\xB1\x82\xB1\x82\xC5\x82\xCC\x90\xDD\x92\xE8\x82\xCD\x81"
    "A\x91S\x82\xC4OPTION\x93\x99\x82\xC5\x95\xCF\x8D"
    "X\x8Fo\x97\x88\x82\xE9\x82\xE0\x82\xCC\x82\xC5\x82\xB7",  // ;ここでの設定は、全てOPTION等で変更出来るものです
    ";\x82\xB1\x82\xBF\x82\xE7\x82\xCC\x83"
    "f\x81[\x83^\x82\xF0\x89\xBA\x8E\xE8\x82\xC9\x82\xA2\x82\xB6\x82\xE9\x82"
    "\xC6\x81"
    "A\x83Q\x81[\x83\x80\x82\xAA\x8BN\x93\xAE\x8Fo\x97\x88\x82\xC8\x82\xAD\x82\xC8\x82\xE9\x8F\xEA\x8D\x87"
    "\x82\xAA\x82\xA0\x82\xE9\x82\xA9\x82\xE0\x82\xB5\x82\xEA\x82\xDC\x82\xB9\x82\xF1",
    // ;こちらのデータを下手にいじると、ゲームが起動出来なくなる場合があるかもしれません
    ";\x82\xBB\x82\xCC\x8F\xEA\x8D\x87\x81"
    "A\x82\xB1\x82\xCC\x83t\x83@\x83"
    "C\x83\x8B\x82\xF0\x8D\xED\x8F\x9C\x82"
    "\xB5\x82\xC4\x82\xA9\x82\xE7\x83Q\x81[\x83\x80\x82\xF0\x8BN\x93\xAE\x82\xB5\x82\xC4\x82\xDD\x82\xC4\x89\xBA\x82"
    "\xB3\x82\xA2",  // ;その場合、このファイルを削除してからゲームを起動してみて下さい
    ";\x83o\x81[\x83W\x83\x87\x83\x93",  // ;バージョン
    ";\x83Q\x81[\x83\x80\x83"
    "E\x83"
    "F\x83"
    "C\x83g",                                                                 // ;ゲームウェイト
    ";\x83L\x81[\x83{\x81[\x83h\x82\xCC\x8E\xED\x97\xDE(0:DESK TOP 1:NOTE)",  // ;キーボードの種類(0:DESK TOP 1:NOTE)
    ";\x83"
    "A\x83"
    "C\x83"
    "e\x83\x80\x8D\xC5\x91\xE5\x93\xAF\x8E\x9E\x95\x5C\x8E\xA6\x90\x94",  // ;アイテム最大同時表示数
    ";\x83"
    "A\x83"
    "C\x83"
    "e\x83\x80\x95\x5C\x8E\xA6\x8E\x9E\x8A\xD4\x81i\x92P\x88\xCA\x81"
    "F\x95"
    "b\x81j",
    // ;アイテム表示時間（単位：秒）
    ";\x83"
    "A\x83"
    "C\x83"
    "e\x83\x80\x8E\xE6\x93\xBE\x8E\x80\x82\xB7\x82\xE9\x8Am\x97\xA6\x81i0\x81`100%\x81j",
    // ;アイテム取得死する確率（0～100%）
    ";\x83"
    "A\x83"
    "C\x83"
    "e\x83\x80\x8Eg\x97p\x8E\x9E\x82\xCC\x83t\x83\x89\x83"
    "b\x83V\x83\x85\x81i0:off 1:on\x81j",
    // ;アイテム使用時のフラッシュ（0:off 1:on）
    ";\x95\xC7\x8D\xDB\x82\xC5\x82\xCC\x83"
    "A\x83"
    "C\x83"
    "e\x83\x80\x81uCHANGE\x81v\x82\xCC\x8Eg\x97p\x90\xA7\x8C"
    "\xC0(0:\x90\xA7\x8C\xC0\x96\xB3\x82\xB5 1:\x90\xA7\x8C\xC0\x97L\x82\xE8)",
    // ;壁際でのアイテム「CHANGE」の使用制限(0:制限無し 1:制限有り)
    ";\x94\x9A\x94\xAD\x82\xCC\x8E\xED\x97\xDE(0:circle 1:cosmo 2:cosmo spiral 3:cosmo accell)",
    // ;爆発の種類(0:circle 1:cosmo 2:cosmo spiral 3:cosmo accell)
    ";\x94\x9A\x94\xAD\x8E\xED\x97\xDE\x96\x88\x82\xCC\x92l",  // ;爆発種類毎の値
    ";\x83Q\x81[\x83\x80\x92\x86\x82\xC9\x81"
    "A\xE8\xA6\x90\xCE\x82\xF0\x8Fo\x8C\xBB\x82\xB3\x82\xB9\x82\xE9\x82\xA9"
    "(0:off 1:on)",  // ;ゲーム中に、隕石を出現させるか(0:off 1:on)
    ";\x82\xB1\x82\xCC\x8E\x9E\x8A\xD4\x96\x88\x82\xC9\xE8\xA6\x90\xCE\x82\xF0\x8D~\x82\xE8\x92\x8D\x82\xAA\x82\xB9"
    "\x82\xDC\x82\xB7(\x92P\x88\xCA\x81"
    "F\x95"
    "b)",  // ;この時間毎に隕石を降り注がせます(単位：秒)
    ";\x8D~\x82\xE7\x82\xB7\xE8\xA6\x90\xCE\x82\xCC\x90\x94",  // ;降らす隕石の数
    ";\x82"
    "a\x82"
    "f\x82l\x82\xC6\x82\xB5\x82\xC4\x8Eg\x97p\x82\xB7\x82\xE9MIDI\x83"
    "f\x83o\x83"
    "C\x83X"
    "(0:DirectMusic 1:Midi Mapper)",  // ;ＢＧＭとして使用するMIDIデバイス(0:DirectMusic 1:Midi Mapper)
    ";\x8C\xF8\x89\xCA\x89\xB9\x82\xF0\x96\xC2\x82\xE7\x82\xB7\x82\xA9\x82\xC7\x82\xA4\x82\xA9(0:off 1:on)",
    // ;効果音を鳴らすかどうか(0:off 1:on)
    ";\x8C\xF8\x89\xCA\x89\xB9\x82\xCC\x89\xB9\x97\xCA(0\x81`100)",  // ;効果音の音量(0～100)
    ";\x83v\x83\x8C\x83"
    "C\x83\x84\x82\xCC\x8E\xED\x97\xDE(0:MAN 1:NON 2:EASY COM 3:NORMAL COM 4:HARD COM 5:MASTER COM)",
    // ;プレイヤの種類(0:MAN 1:NON 2:EASY COM 3:NORMAL COM 4:HARD COM 5:MASTER COM)
    ";\x83"
    "A\x83"
    "C\x83"
    "e\x83\x80\x96\x88\x82\xCC\x8Fo\x8C\xBB\x8Am\x97\xA6(0\x81`100%)",
    // ;アイテム毎の出現確率(0～100%)
};

const char kAddedComment[] = ";Settings added after version 1.02A, written when changed from their defaults";

enum : int {
    C_TITLE,
    C_COMMENTS,
    C_MENU,
    C_CAREFUL,
    C_DELETE,
    C_VERSION,
    C_FIRST_SETTING,
    C_PLAYERS = C_FIRST_SETTING + 15,
    C_ITEMS,
    C_COUNT,
};
static_assert(sizeof(kComments) / sizeof(kComments[0]) == C_COUNT);

// The single settings of the file, each under its comment and followed by an
// empty line; the four explosion values share one comment.
struct SettingGroup {
    int first;
    int count;
};
const SettingGroup kGroups[15] = {
    {S_GAME_WAIT, 1},        {S_KEYBOARD_TYPE, 1},    {S_ITEM_MAX, 1},          {S_ITEM_SHOW_TIME, 1},
    {S_ITEM_GET_DEATH, 1},   {S_ITEM_USE_FLUSH, 1},   {S_CHANGE_LIMITATION, 1}, {S_EXPLOSION_TYPE, 1},
    {S_EXPLOSION_VALUE0, 4}, {S_METEORITE_ENABLE, 1}, {S_METEORITE_TIME, 1},    {S_METEORITE_VALUE, 1},
    {S_MIDI_DEVICE, 1},      {S_SOUND_EFFECT, 1},     {S_SOUND_VOLUME, 1},
};

// The whole file is built in memory and written in one go. 4 KiB is twice
// what the longest possible file needs.
struct TextOut {
    char text[4096];
    size_t length = 0;
    bool overflow = false;

    void Line(const char* line) {
        int n = std::snprintf(text + length, sizeof(text) - length, "%s\r\n", line);
        Advance(n);
    }
    void Value(const Setting& s) {
        int n =
            std::snprintf(text + length, sizeof(text) - length, "%s%d\r\n", s.key, static_cast<int>(WrittenValue(s)));
        Advance(n);
    }
    void Text(const Setting& s) {
        int n = std::snprintf(text + length, sizeof(text) - length, "%s%s\r\n", s.key, SettingText(s));
        Advance(n);
    }
    // A seat's keys by their names: KEYS_1P=J,K,L.
    void Keys(const Setting& s) {
        int32_t packed = FetchValue(s);
        int n =
            std::snprintf(text + length, sizeof(text) - length, "%s%s,%s,%s\r\n", s.key, plat::KeyName(packed & 0xFF),
                          plat::KeyName((packed >> 8) & 0xFF), plat::KeyName((packed >> 16) & 0xFF));
        Advance(n);
    }
    void Advance(int n) {
        if (n < 0 || static_cast<size_t>(n) >= sizeof(text) - length)
            overflow = true;
        else
            length += static_cast<size_t>(n);
    }
};

// The settings added since version 1.02A follow the file of that version,
// each only while it differs from its default: a file of a game whose
// players never changed them stays that version's file byte for byte.
void ComposeAdded(TextOut& out) {
    bool any = false;
    for (int i = S_FIRST_ADDED; i < S_COUNT; ++i) {
        const Setting& s = SettingAt(i);
        if (s.kind == FieldKind::Text ? !SettingText(s)[0] : FetchValue(s) == s.defaultValue) continue;
        if (!any) out.Line(kAddedComment);
        any = true;
        if (s.kind == FieldKind::Text)
            out.Text(s);
        else if (s.kind == FieldKind::Keys)
            out.Keys(s);
        else
            out.Value(s);
    }
    if (any) out.Line("");
}

void ComposeFile(TextOut& out) {
    out.Line(kComments[C_TITLE]);
    out.Line(kComments[C_COMMENTS]);
    out.Line("");
    out.Line(kComments[C_MENU]);
    out.Line(kComments[C_CAREFUL]);
    out.Line(kComments[C_DELETE]);
    out.Line("");
    out.Line(kComments[C_VERSION]);
    char version[32];
    std::snprintf(version, sizeof(version), "VERSION=%s", kGameVersion);
    out.Line(version);
    out.Line("");
    for (int g = 0; g < 15; ++g) {
        out.Line(kComments[C_FIRST_SETTING + g]);
        for (int i = 0; i < kGroups[g].count; ++i) out.Value(SettingAt(kGroups[g].first + i));
        out.Line("");
    }
    out.Line(kComments[C_PLAYERS]);
    for (int p = 0; p < kPlayers; ++p) out.Value(SettingAt(S_PLAYER_TYPE0 + p));
    out.Line("");
    out.Line(kComments[C_ITEMS]);
    for (int k = 0; k < kItemKinds; ++k) out.Value(SettingAt(S_ITEM0 + k));
    out.Line("");
    out.Line("");
    ComposeAdded(out);
}

// ---- the older binary file ------------------------------------------------

// Byte offset and size of each field of "option.dat" (39 bytes, little-endian).
struct LegacyField {
    int setting;
    int offset;
    int size;
};
const LegacyField kLegacyFields[] = {
    {S_GAME_WAIT, 0, 4},
    {S_ITEM_MAX, 4, 4},
    {S_ITEM_SHOW_TIME, 8, 4},
    {S_CHANGE_LIMITATION, 12, 1},
    {S_EXPLOSION_TYPE, 13, 1},
    {S_EXPLOSION_VALUE0, 14, 2},
    {S_EXPLOSION_VALUE0 + 1, 16, 2},
    {S_EXPLOSION_VALUE0 + 2, 18, 2},
    {S_EXPLOSION_VALUE0 + 3, 20, 2},
    {S_METEORITE_ENABLE, 22, 1},
    {S_METEORITE_TIME, 23, 4},
    {S_METEORITE_VALUE, 27, 4},
    {S_MIDI_DEVICE, 31, 1},
    {S_SOUND_EFFECT, 32, 1},
    {S_SOUND_VOLUME, 33, 1},
    {S_PLAYER_TYPE0, 34, 1},
    {S_PLAYER_TYPE0 + 1, 35, 1},
    {S_PLAYER_TYPE0 + 2, 36, 1},
    {S_PLAYER_TYPE0 + 3, 37, 1},
    {S_KEYBOARD_TYPE, 38, 1},
};
constexpr int kLegacySize = 39;

// Reads the settings from an open "option.txt" and closes it; false when
// there is no file.
bool ReadTextFile(FILE* file) {
    if (!file) return false;
    // A read takes at most 1022 characters; the rest of a longer line is
    // read and matched as a line of its own.
    char line[1023];
    while (std::fgets(line, sizeof(line), file)) ApplyLine(line);
    std::fclose(file);
    ApplySoundVolume();
    return true;
}

// Reads the settings from an open "option.dat" and closes it; false when
// there is no file. A short file sets only the fields it holds completely;
// the others keep their values.
bool ReadLegacyFile(FILE* file) {
    if (!file) return false;
    uint8_t bytes[kLegacySize];
    size_t got = std::fread(bytes, 1, sizeof(bytes), file);
    std::fclose(file);

    for (const LegacyField& f : kLegacyFields) {
        if (static_cast<size_t>(f.offset + f.size) > got) continue;
        uint32_t value = 0;
        for (int i = f.size - 1; i >= 0; --i) value = (value << 8) | bytes[f.offset + i];
        // Each field has the width of the setting's own field: stored, a
        // signed field sign-extends it, and then it is held to its range.
        StoreValue(SettingAt(f.setting), static_cast<int32_t>(value));
        StoreLimited(f.setting, FetchValue(SettingAt(f.setting)), kLegacyFile);
    }
    ApplySoundVolume();
    return true;
}

}  // namespace

// COption::Load: reads "option.txt"; without it, falls back to "option.dat".
// True when a settings file was read.
//
// Both are looked for in the writable folder first. While that is a per-user
// folder with no settings of its own yet (the game folder cannot be written,
// or the game is installed), the game folder's own files are read instead, so
// a read-only game folder keeps its settings; they are saved to the writable
// folder, and the game folder's files are never changed.
bool COption::Load() {
    if (ReadTextFile(plat::OpenFile(kTextFile, "rb")) || LoadLegacy()) return true;
    return ReadTextFile(plat::OpenGameFolderCopy(kTextFile)) || ReadLegacyFile(plat::OpenGameFolderCopy(kLegacyFile));
}

// COption::LoadLegacy: reads "option.dat" of the writable folder and deletes
// it (where the game may write; elsewhere the file stays as it is).
bool COption::LoadLegacy() {
    if (!ReadLegacyFile(plat::OpenFile(kLegacyFile, "rb"))) return false;
    plat::RemoveFile(kLegacyFile);
    return true;
}

// COption::Save: writes "option.txt" through a new file that replaces the old
// one only when it is complete, so a failure leaves the old file whole.
void COption::Save() {
    static TextOut out;  // static: 4 KiB stays off the stack
    out.length = 0;
    out.overflow = false;
    ComposeFile(out);
    if (out.overflow) return;
    // A settings file that cannot be written costs the changes, not the game.
    // Where nothing can be kept at all, start-up has said so already.
    if (!plat::WriteFileAtomic(kTextFile, out.text, out.length) && plat::CanWriteGameFiles())
        std::fprintf(stderr, "Tarnwick: the settings could not be saved to %s (%s).\n", kTextFile,
                     std::strerror(errno));
}
