// The data contract between the game, the generator of its data set and the
// tests: the sound effects, the item kinds, the fixed palette roles and the
// screen size. Everything here is constant and header-only, so the generator
// (which links libpng alone) includes it as well as the game does, and a
// file name or a key name cannot differ between the one that writes a file
// and the one that reads it.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// ---- version ----------------------------------------------------------------
// The title shows it, --version prints it, and every machine of an online
// match must run the same.

#define NUVEL_VERSION "1.02A"
constexpr char kGameVersion[] = NUVEL_VERSION;

// ---- online ------------------------------------------------------------------
// The match server a machine meets others through, as the settings file and
// the command line give it (HOST or HOST:PORT), is shorter than this.
constexpr size_t kMatchServerTextMax = 96;

// ---- screen -----------------------------------------------------------------

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 480;

// ---- the play area ------------------------------------------------------------
// The playfield is screen rows kFieldTop..kFieldBottom across the whole
// width; the stage picture fills it and its outline (the first and last row
// and column) is drawn in kOutlineIndex. A line lives in the interior inside
// the outline. Rows above hold the status line, rows below the panels.

constexpr int kFieldLeft = 0, kFieldRight = kScreenWidth - 1;
constexpr int kFieldTop = 16, kFieldBottom = 431;
constexpr int kFieldWidth = kFieldRight - kFieldLeft + 1;
constexpr int kFieldHeight = kFieldBottom - kFieldTop + 1;
constexpr int kInteriorLeft = kFieldLeft + 1, kInteriorRight = kFieldRight - 1;
constexpr int kInteriorTop = kFieldTop + 1, kInteriorBottom = kFieldBottom - 1;
static_assert(kFieldHeight == 416 && kInteriorRight == 638 && kInteriorBottom == 430);

// ---- sound effects ------------------------------------------------------------

constexpr int kEffectCount = 29;

// One effect: its WAV file in the "Sound\" folder and how many identical
// playback buffers it gets, i.e. how often it can sound at once.
struct EffectRecord {
    const char* file;
    int32_t buffers;
};

// The effect number callers pass to CDirectSound::Play is the row of kEffectTable.
enum Effect : int {
    SE_321 = 0,
    SE_BARRIER,
    SE_BOMB,
    SE_CHANGE,
    SE_CIRCLE,
    SE_CLEAN,
    SE_COSMO,
    SE_CUR_MOVE,
    SE_CUR_OK,
    SE_GRAVITY,
    SE_ITEM_DEL,
    SE_JUMP,
    SE_KEY0,
    SE_KEY1,
    SE_LASER,
    SE_LR_FLIP,
    SE_MIRROR,
    SE_MISSILE,
    SE_MOVE,
    SE_SPEED_UP,
    SE_SPEED_DOWN,
    SE_START,
    SE_STOP,
    SE_WALL,
    SE_WARP,
    SE_ITEM_GET,
    SE_PPONG,
    SE_MOLD,
    SE_INVINCIBLE,
    SE_COUNT
};
static_assert(SE_COUNT == kEffectCount);

inline constexpr EffectRecord kEffectTable[kEffectCount] = {
    {"321.wav", 3},        {"barrier.wav", 1}, {"bomb.wav", 1},      {"change.wav", 1},     {"circle.wav", 4},
    {"clean.wav", 1},      {"cosmo.wav", 4},   {"cur_move.wav", 10}, {"cur_ok.wav", 3},     {"gravity.wav", 1},
    {"item_del.wav", 1},   {"jump.wav", 1},    {"key0.wav", 5},      {"key1.wav", 5},       {"laser.wav", 1},
    {"lr_flip.wav", 1},    {"mirror.wav", 1},  {"missile.wav", 1},   {"move.wav", 1},       {"speed_up.wav", 1},
    {"speed_down.wav", 1}, {"start.wav", 1},   {"stop.wav", 1},      {"wall.wav", 5},       {"warp.wav", 1},
    {"item_get.wav", 4},   {"ppong.wav", 1},   {"mold.wav", 1},      {"invincible.wav", 1},
};

// ---- item kinds ---------------------------------------------------------------

constexpr int kItemKinds = 23;
constexpr int kItemNameSize = 40;  // name and key name, with the terminator

// The kinds by name, in table order.
enum ItemKind : int {
    ITEM_SPEED_UP = 0,
    ITEM_SPEED_DOWN,
    ITEM_BOMB,
    ITEM_LASER,
    ITEM_CHANGE,
    ITEM_WARP,
    ITEM_MISSILE,
    ITEM_COSMO,
    ITEM_JUMP,
    ITEM_BARRIER,
    ITEM_LR_FLIP,
    ITEM_CLEAN,
    ITEM_MOVE,
    ITEM_ITEM_DEL,
    ITEM_WALL,
    ITEM_QUESTION,
    ITEM_STOP,
    ITEM_LR_MIRROR,
    ITEM_UD_MIRROR,
    ITEM_GRAVITY,
    ITEM_PINGPONG,
    ITEM_MOLD,
    ITEM_INVINCIBLE,
    ITEM_KIND_COUNT
};
static_assert(ITEM_KIND_COUNT == kItemKinds, "one name per item kind");

// One item kind: its name as shown, the use class the computer players read,
// and its appearance weight before any settings file changes it.
struct ItemKindInfo {
    const char* name;
    uint8_t comClass;
    int8_t defaultWeight;
};

inline constexpr ItemKindInfo kItemKindInfo[kItemKinds] = {
    {"SPEED UP", 0, 100}, {"SPEED DOWN", 0, 100}, {"BOMB", 1, 100},       {"LASER", 2, 100},     {"CHANGE", 1, 100},
    {"WARP", 1, 100},     {"MISSILE", 2, 100},    {"COSMO", 1, 100},      {"JUMP", 1, 100},      {"BARRIER", 1, 100},
    {"LR FLIP", 0, 100},  {"CLEAN", 0, 100},      {"MOVE", 0, 100},       {"ITEM_DEL", 0, 100},  {"WALL", 2, 100},
    {"QUESTION", 0, 100}, {"STOP", 0, 100},       {"LR MIRROR", 0, 100},  {"UD MIRROR", 0, 100}, {"GRAVITY", 0, 100},
    {"PINGPONG", 2, 100}, {"MOLD", 2, 100},       {"INVINCIBLE", 1, 100},
};

// The key name of a kind names its picture file and its settings key, so it
// is the name with every blank written as an underscore.
struct ItemKeyName {
    char text[kItemNameSize];
};

constexpr ItemKeyName MakeItemKeyName(const char* name) {
    ItemKeyName key{};
    for (int i = 0; i < kItemNameSize - 1 && name[i] != '\0'; ++i) key.text[i] = (name[i] == ' ') ? '_' : name[i];
    return key;
}

inline constexpr std::array<ItemKeyName, kItemKinds> kItemKeyNames = [] {
    std::array<ItemKeyName, kItemKinds> keys{};
    for (int k = 0; k < kItemKinds; ++k) keys[k] = MakeItemKeyName(kItemKindInfo[k].name);
    return keys;
}();

// ---- palette roles --------------------------------------------------------------
// Collision reads the drawn pixels, so these indices are part of the game's
// rules: every picture carries a palette that honours them.

constexpr uint8_t kEmptyIndex = 0;   // empty ground, cleared value, colour key
constexpr int kPlayerRampBase = 16;  // player p's ramp: 16 x (p + 1) + k, k = 0..14
constexpr int kRampParticle = 11;
constexpr int kRampTrail = 12;
constexpr int kRampMissile = 13;
constexpr int kTitleLightFirst = 16;  // light levels of the title light picture
constexpr int kTitleLightLast = 31;
constexpr int kInvincibleFirst = 16;  // random colours of an invincible trail
constexpr int kInvincibleLast = 223;
constexpr uint8_t kMouldIndex = 36;
constexpr uint8_t kClosingBorderIndex = 234;
constexpr uint8_t kOutlineIndex = 255;  // outline, meteorites, random dots, view frames
// The entry that holds pure red (255, 0, 0), the colour of the ping-pong
// balls; the game finds it by colour, the data set puts it here.
constexpr uint8_t kPureRedIndex = 250;

constexpr int PlayerRampIndex(int player, int k) { return kPlayerRampBase * (player + 1) + k; }
constexpr int PlayerTrailIndex(int player) { return PlayerRampIndex(player, kRampTrail); }
static_assert(PlayerTrailIndex(0) == 28 && PlayerTrailIndex(3) == 76);
