// The options menu: the game's settings and one row per item kind, 14 rows
// visible at a time. Left and Right change the
// value under the cursor at once, in the field of the object that owns it;
// leaving the menu saves everything to "option.txt".
#include <cstdio>

#include "config/itemhelp.h"
#include "config/keyscreen.h"
#include "config/option.h"
#include "core/app.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "match/settings.h"
#include "sound/bgm.h"
#include "sound/directsound.h"

namespace {

// Rows of the menu.
enum : int {
    ROW_EXIT,
    ROW_GAME_WAIT,
    ROW_KEYBOARD_TYPE,
    ROW_ITEM_MAX,
    ROW_ITEM_SHOW_TIME,
    ROW_ITEM_GET_DEATH,
    ROW_ITEM_USE_FLUSH,
    ROW_CHANGE_LIMITATION,
    ROW_EXPLOSION_TYPE,
    ROW_EXPLOSION_VALUE,
    ROW_METEORITE_ENABLE,
    ROW_METEORITE_TIME,
    ROW_METEORITE_VALUE,
    ROW_MIDI_DEVICE,
    ROW_SOUND_EFFECT,
    ROW_SOUND_VOLUME,
    ROW_MUSIC_VOLUME,
    ROW_HEAD_MARKER,
    ROW_AUTO_FAST,
    ROW_MATCH_ROUNDS,
    ROW_ITEM_HELP,  // Return shows the item help screen
    ROW_FIRST_ITEM,
    ROW_KEYS = ROW_FIRST_ITEM + kItemKinds,  // Return opens the key screen
    ROW_SCALING,
    ROW_SAFE_STARTS,
};
static_assert(ROW_SAFE_STARTS + 1 == kOptionRows);

constexpr int kVisibleRows = 14;
constexpr int kBarX = 80, kBarWidth = 480;  // the highlight bar under a row
constexpr int kLastRow = kOptionRows - 1;
constexpr int kLastTopRow = kOptionRows - kVisibleRows;

// The rows before the item rows: label, colour byte and the setting they
// edit. The explosion value row edits the value of the current explosion type.
constexpr int kNoSetting = -1;
constexpr int kCurrentExplosionValue = -2;
struct FixedRow {
    const char* label;
    uint8_t color;
    int setting;
};
const FixedRow kFixedRows[ROW_FIRST_ITEM] = {
    {"EXIT", 6, kNoSetting},
    {"GAME WAIT", 5, S_GAME_WAIT},
    {"KEYBORAD TYPE", 5, S_KEYBOARD_TYPE},
    {"ITEM MAX", 1, S_ITEM_MAX},
    {"ITEM SHOW TIME", 1, S_ITEM_SHOW_TIME},
    {"ITEM GET DEATH", 1, S_ITEM_GET_DEATH},
    {"ITEM USE FLUSH", 1, S_ITEM_USE_FLUSH},
    {"CHANGE LIMITATION", 1, S_CHANGE_LIMITATION},
    {"EXPLOSION TYPE", 2, S_EXPLOSION_TYPE},
    {"EXPLOTION VALUE", 2, kCurrentExplosionValue},
    {"METEORITE ENABLE", 0, S_METEORITE_ENABLE},
    {"METEORITE TIME", 0, S_METEORITE_TIME},
    {"METEORITE VALUE", 0, S_METEORITE_VALUE},
    {"MIDI DEVICE", 7, S_MIDI_DEVICE},
    {"SOUND EFFECT", 7, S_SOUND_EFFECT},
    {"SOUND VOLUME", 7, S_SOUND_VOLUME},
    {"MUSIC VOLUME", 7, S_MUSIC_VOLUME},
    {"HEAD MARKER", 3, S_HEAD_MARKER},
    {"AUTO FAST", 3, S_AUTO_FAST},
    {"MATCH ROUNDS", 3, S_MATCH_ROUNDS},
    {"ITEM HELP", 2, kNoSetting},
};
constexpr uint8_t kItemRowColor = 2;
constexpr uint8_t kOwnRowColor = 5;
constexpr uint8_t kRuleRowColor = 3;

// The setting a row edits, or null for "EXIT", "ITEM HELP" and for the explosion value
// while the explosion type read from the file is none of the four (there is
// then nothing to edit on that row).
const Setting* RowSetting(int row) {
    if (row == ROW_KEYS) return nullptr;
    if (row == ROW_SCALING) return &SettingAt(S_SCALING);
    if (row == ROW_SAFE_STARTS) return &SettingAt(S_SAFE_STARTS);
    if (row >= ROW_FIRST_ITEM) return &SettingAt(S_ITEM0 + row - ROW_FIRST_ITEM);
    int setting = kFixedRows[row].setting;
    if (setting == kCurrentExplosionValue) {
        int type = theRound.explosionType;
        setting = (type >= 0 && type <= 3) ? S_EXPLOSION_VALUE0 + type : kNoSetting;
    }
    return (setting == kNoSetting) ? nullptr : &SettingAt(setting);
}

// Copies a label, cut to fit its 40-character slot.
void CopyLabel(char (&dest)[40], const char* src) {
    size_t i = 0;
    for (; i + 1 < sizeof(dest) && src[i] != '\0'; ++i) dest[i] = src[i];
    dest[i] = '\0';
}

}  // namespace

COption::COption() : labels{}, valueTexts{}, colors{}, cursorRow(0), topRow(0), titleSurface(0), frameCount(0) {
    for (int row = 0; row < ROW_FIRST_ITEM; ++row) {
        CopyLabel(labels[row], kFixedRows[row].label);
        colors[row] = kFixedRows[row].color;
    }
    for (int k = 0; k < kItemKinds; ++k) {
        CopyLabel(labels[ROW_FIRST_ITEM + k], kItemKindInfo[k].name);
        colors[ROW_FIRST_ITEM + k] = kItemRowColor;
    }
    CopyLabel(labels[ROW_KEYS], "KEYS");
    CopyLabel(labels[ROW_SCALING], "SCALING");
    colors[ROW_KEYS] = colors[ROW_SCALING] = kOwnRowColor;
    CopyLabel(labels[ROW_SAFE_STARTS], "SAFE STARTS");
    colors[ROW_SAFE_STARTS] = kRuleRowColor;
}

// COption::ChangeValue: applies a step of -1, 0 or +1 to the row's setting
// and rebuilds the row's value text. The steps, limits and texts are the
// settings table's; what a change sets off beyond its field is done here.
void COption::ChangeValue(int row, int step) {
    if (row < 0 || row >= kOptionRows) return;
    const Setting* setting = RowSetting(row);
    if (!setting) {
        valueTexts[row][0] = '\0';
        return;
    }
    // The next piece is then opened anew on the chosen device; what is
    // playing now goes on.
    if (row == ROW_MIDI_DEVICE && step != 0) theBgm.currentPath[0] = '\0';
    StepSetting(*setting, step);
    FormatSetting(*setting, valueTexts[row], sizeof(valueTexts[row]));
    if (row == ROW_EXPLOSION_TYPE) ChangeValue(ROW_EXPLOSION_VALUE, 0);  // the value row follows the type
    if (row == ROW_SOUND_VOLUME) theDirectSound.SetVolume(theApp.soundVolume);
    if (row == ROW_MUSIC_VOLUME) theBgm.SetVolume(theBgm.musicVolume);
}

namespace {

void PlayCursorMove() { theDirectSound.Play(SE_CUR_MOVE, 0, 0); }

}  // namespace

// COption::HandleKeys: cursor movement, value changes and leaving. A key whose
// condition does not hold (Up on the first row) stays set. False when the
// menu is to be left.
bool COption::HandleKeys() {
    uint8_t* keys = theApp.keyState;
    if (cursorRow > 0 && TakeKey(plat::VK_UP)) {
        if (--cursorRow < topRow) --topRow;
        PlayCursorMove();
    }
    if (cursorRow != kLastRow && TakeKey(plat::VK_DOWN)) {
        if (++cursorRow - topRow >= kVisibleRows) ++topRow;
        PlayCursorMove();
    }
    if (keys[plat::VK_PRIOR] && cursorRow > 0) {
        keys[plat::VK_PRIOR] = 0;
        cursorRow = (cursorRow - kVisibleRows < 0) ? 0 : cursorRow - kVisibleRows;
        topRow = (topRow - kVisibleRows < 0) ? 0 : topRow - kVisibleRows;
        PlayCursorMove();
    }
    if (keys[plat::VK_NEXT] && cursorRow != kLastRow) {
        keys[plat::VK_NEXT] = 0;
        cursorRow = (cursorRow + kVisibleRows > kLastRow) ? kLastRow : cursorRow + kVisibleRows;
        topRow = (topRow + kVisibleRows > kLastTopRow) ? kLastTopRow : topRow + kVisibleRows;
        PlayCursorMove();
    }
    if (TakeKey(plat::VK_LEFT)) ChangeValue(cursorRow, -1);
    if (TakeKey(plat::VK_RIGHT)) ChangeValue(cursorRow, +1);
    if (TakeKey(plat::VK_RETURN)) {
        if (cursorRow == ROW_EXIT) {
            theDirectSound.Play(SE_CUR_OK, 0, 0);
            return false;
        }
        if (cursorRow == ROW_KEYS) {
            theDirectSound.Play(SE_CUR_OK, 0, 0);
            static CKeyScreen keyScreen;
            keyScreen.Run();
            theApp.ClearKeys();
            return true;
        }
        if (cursorRow == ROW_ITEM_HELP) {
            theDirectSound.Play(SE_CUR_OK, 0, 0);
            CItemHelp help;
            help.Run();
            theApp.ClearKeys();
            return true;
        }
        ChangeValue(cursorRow, +1);
    }
    if (TakeKey(plat::VK_ESCAPE)) {
        cursorRow = ROW_EXIT;
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        return false;
    }
    return true;
}

// COption::Draw: one frame of the menu onto the back buffer.
void COption::Draw() {
    constexpr SurfaceId back = 1;
    theApp.DrawBackground(true);
    theDirectDraw.Draw(back, 128, 16, 384, 64, titleSurface, 0, 0, true, CLIP_DEST);

    for (int i = 0; i < kVisibleRows; ++i) {
        int y = 96 + 27 * i;
        int row = topRow + i;
        if (row < 0 || row >= kOptionRows) continue;
        int labelX = 112;
        if (row >= ROW_FIRST_ITEM && row < ROW_FIRST_ITEM + kItemKinds) {
            SurfaceId picture = theItemManager.pictures[row - ROW_FIRST_ITEM];
            if (picture != 0) theDirectDraw.Draw(back, 112, y - 4, 24, 24, picture, 0, 0, false, CLIP_DEST);
            labelX = 144;
        }
        theApp.DrawText(back, labelX, y, labels[row], colors[row], false, CLIP_DEST);
        theApp.DrawText(back, 416, y, valueTexts[row], colors[row], false, CLIP_DEST);
    }

    char position[16];
    std::snprintf(position, sizeof(position), "%2d/%2d", cursorRow + 1, kOptionRows);
    theApp.DrawText(back, 560, 464, position, 0, false, CLIP_DEST);

    // Scroll marks blink: eight frames on, eight off.
    if ((frameCount & 8) == 0) {
        if (topRow > 0) theApp.DrawText(back, 48, 96, "u", 1, false, CLIP_DEST);
        if (topRow < kLastTopRow) theApp.DrawText(back, 48, 447, "d", 1, false, CLIP_DEST);
    }
    theApp.DrawHighlightBar(kBarX, (cursorRow - topRow) * 27 + 92, kBarWidth);
}

// COption::Run: the menu screen; returns when the player leaves it, after
// saving the settings.
void COption::Run() {
    titleSurface = theDirectDraw.CreateSurface(384, 64, false);
    theApp.DrawTextScaled(titleSurface, 0, 0, 64, 64, "OPTION", 9, false, false);
    for (int row = 0; row < kOptionRows; ++row) ChangeValue(row, 0);
    cursorRow = 0;
    topRow = 0;
    frameCount = 0;
    for (;;) {
        theApp.StartFrame();
        ++frameCount;
        if (!HandleKeys()) break;
        Draw();
        theDirectDraw.Flip();
        theApp.WaitFrame(33);
    }
    Save();
    theDirectDraw.ReleaseSurface(titleSurface);
}
