// The options menu: 39 rows, 14 visible at a time. Left and Right change the
// value under the cursor at once, in the field of the object that owns it;
// leaving the menu saves everything to "option.txt".
#include <cstdio>

#include "app/app.h"
#include "config/option.h"
#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "sound/bgm.h"
#include "sound/directsound.h"

namespace {

// Rows of the menu.
enum : int {
    ROW_EXIT, ROW_GAME_WAIT, ROW_KEYBOARD_TYPE, ROW_ITEM_MAX, ROW_ITEM_SHOW_TIME, ROW_ITEM_GET_DEATH,
    ROW_ITEM_USE_FLUSH, ROW_CHANGE_LIMITATION, ROW_EXPLOSION_TYPE, ROW_EXPLOSION_VALUE, ROW_METEORITE_ENABLE,
    ROW_METEORITE_TIME, ROW_METEORITE_VALUE, ROW_MIDI_DEVICE, ROW_SOUND_EFFECT, ROW_SOUND_VOLUME, ROW_FIRST_ITEM,
};
static_assert(ROW_FIRST_ITEM + kItemKinds == kOptionRows);

constexpr int kVisibleRows = 14;
constexpr int kLastRow = kOptionRows - 1;
constexpr int kLastTopRow = kOptionRows - kVisibleRows;

struct FixedRow {
    const char* label;
    uint8_t color;
};
const FixedRow kFixedRows[ROW_FIRST_ITEM] = {
    {"EXIT", 6},           {"GAME WAIT", 5},         {"KEYBORAD TYPE", 5},    {"ITEM MAX", 1},
    {"ITEM SHOW TIME", 1}, {"ITEM GET DEATH", 1},    {"ITEM USE FLUSH", 1},   {"CHANGE LIMITATION", 1},
    {"EXPLOSION TYPE", 2}, {"EXPLOTION VALUE", 2},   {"METEORITE ENABLE", 0}, {"METEORITE TIME", 0},
    {"METEORITE VALUE", 0}, {"MIDI DEVICE", 7},      {"SOUND EFFECT", 7},     {"SOUND VOLUME", 7},
};
constexpr uint8_t kItemRowColor = 2;

const char* const kExplosionNames[4] = {"CIRCLE", "COSMO", "COSMO S", "COSMO A"};

// Adds step x unit to a number and keeps the result within lo..hi. Only a
// real step limits: a value read from the file outside the menu's range is
// shown unchanged until the player changes it. The sum is taken wide, so a
// value at the edge of its field never wraps round to the other limit.
template <class T>
void StepNumber(T& value, int step, int unit, int lo, int hi)
{
    if (step == 0)
        return;
    long long next = static_cast<long long>(value) + static_cast<long long>(step) * unit;
    if (next < lo)
        next = lo;
    if (next > hi)
        next = hi;
    value = static_cast<T>(next);
}

// A toggle flips between 0 and 1; any value other than 0 counts as on.
void StepToggle(uint8_t& value, int step)
{
    if (step != 0)
        value = (value == 0) ? 1 : 0;
}

// The explosion value belonging to the current explosion type, or null when
// the type read from the file is none of the four (there is then nothing to
// edit on that row).
uint16_t* CurrentExplosionValue()
{
    int type = theRound.explosionType;
    if (type < 0 || type > 3)
        return nullptr;
    return &theRound.explosionValues[type];
}

// The explosion value is unsigned, so only its upper limit applies: stepping
// down from 0 wraps round and lands on the limit.
void StepExplosionValue(int step)
{
    uint16_t* value = CurrentExplosionValue();
    if (!value || step == 0)
        return;
    bool circle = (theRound.explosionType == 0);
    int limit = circle ? 99 : 5000;
    uint16_t next = static_cast<uint16_t>(*value + step * (circle ? 1 : 100));
    *value = (next > limit) ? static_cast<uint16_t>(limit) : next;
}

// Copies a label, cut to fit its 40-character slot.
void CopyLabel(char (&dest)[40], const char* src)
{
    size_t i = 0;
    for (; i + 1 < sizeof(dest) && src[i] != '\0'; ++i)
        dest[i] = src[i];
    dest[i] = '\0';
}

}  // namespace

COption::COption() : labels{}, valueTexts{}, colors{}, cursorRow(0), topRow(0), titleSurface(0), frameCount(0)
{
    for (int row = 0; row < ROW_FIRST_ITEM; ++row) {
        CopyLabel(labels[row], kFixedRows[row].label);
        colors[row] = kFixedRows[row].color;
    }
    for (int k = 0; k < kItemKinds; ++k) {
        CopyLabel(labels[ROW_FIRST_ITEM + k], g_itemTable[k].name);
        colors[ROW_FIRST_ITEM + k] = kItemRowColor;
    }
}

// COption::ChangeValue: applies a step of -1, 0 or +1 to the row's setting
// and rebuilds the row's value text.
void COption::ChangeValue(int row, int step)
{
    if (row < 0 || row >= kOptionRows)
        return;
    char* text = valueTexts[row];
    const size_t size = sizeof(valueTexts[row]);
    auto number = [&](int value) { std::snprintf(text, size, "%d", value); };
    auto percent = [&](int value) { std::snprintf(text, size, "%d p", value); };
    // 0 and 1 have names; a value read from the file beyond them shows as a number.
    auto offOn = [&](uint8_t value) {
        if (value <= 1)
            std::snprintf(text, size, "%s", value ? "ON" : "OFF");
        else
            number(value);
    };

    switch (row) {
    case ROW_EXIT:
        text[0] = '\0';
        break;
    case ROW_GAME_WAIT:
        StepNumber(theRound.wait, step, 1, 0, 9999);
        number(theRound.wait);
        break;
    case ROW_KEYBOARD_TYPE:
        StepToggle(theApp.keyboardType, step);
        std::snprintf(text, size, "%s", theApp.keyboardType ? "NOTE" : "DESKTOP");
        break;
    case ROW_ITEM_MAX:
        StepNumber(theItemManager.itemMax, step, 1, 0, 99);
        number(theItemManager.itemMax);
        break;
    case ROW_ITEM_SHOW_TIME:
        StepNumber(theItemManager.itemShowTime, step, 1, 0, 999);
        number(theItemManager.itemShowTime);
        break;
    case ROW_ITEM_GET_DEATH:
        StepNumber(theItemManager.itemGetDeath, step, 5, 0, 100);
        percent(theItemManager.itemGetDeath);
        break;
    case ROW_ITEM_USE_FLUSH:
        StepToggle(theItemManager.itemUseFlush, step);
        offOn(theItemManager.itemUseFlush);
        break;
    case ROW_CHANGE_LIMITATION:
        StepToggle(theItemManager.changeLimitation, step);
        offOn(theItemManager.changeLimitation);
        break;
    case ROW_EXPLOSION_TYPE: {
        StepNumber(theRound.explosionType, step, 1, 0, 3);
        int type = theRound.explosionType;
        if (type >= 0 && type <= 3)
            std::snprintf(text, size, "%s", kExplosionNames[type]);
        else
            number(type);
        ChangeValue(ROW_EXPLOSION_VALUE, 0);   // the value row follows the type
        break;
    }
    case ROW_EXPLOSION_VALUE:
        StepExplosionValue(step);
        if (const uint16_t* value = CurrentExplosionValue())
            number(*value);
        else
            text[0] = '\0';
        break;
    case ROW_METEORITE_ENABLE:
        StepToggle(theRound.meteorite.enable, step);
        offOn(theRound.meteorite.enable);
        break;
    case ROW_METEORITE_TIME:
        StepNumber(theRound.meteorite.intervalSeconds, step, 1, 1, 9000);
        number(theRound.meteorite.intervalSeconds);
        break;
    case ROW_METEORITE_VALUE:
        StepNumber(theRound.meteorite.count, step, 100, 100, 9000);
        number(theRound.meteorite.count);
        break;
    case ROW_MIDI_DEVICE:
        // The next piece is then opened anew on the chosen device; what is
        // playing now goes on.
        if (step != 0) {
            StepToggle(theBgm.device, step);
            theBgm.currentPath[0] = '\0';
        }
        std::snprintf(text, size, "%s", theBgm.device ? "MIDI M" : "DIRECTM");
        break;
    case ROW_SOUND_EFFECT:
        StepToggle(theDirectSound.effectsEnabled, step);
        offOn(theDirectSound.effectsEnabled);
        break;
    case ROW_SOUND_VOLUME:
        StepNumber(theApp.soundVolume, step, 1, 0, 100);
        percent(theApp.soundVolume);
        theDirectSound.SetVolume(theApp.soundVolume);
        break;
    default: {
        // Item weights; the pool follows them at the next match start.
        int8_t& weight = g_itemTable[row - ROW_FIRST_ITEM].weight;
        StepNumber(weight, step, 5, 0, 100);
        percent(weight);
        break;
    }
    }
}

namespace {

void PlayCursorMove()
{
    theDirectSound.Play(SE_CUR_MOVE, 0, 0);
}

}  // namespace

// COption::HandleKeys: cursor movement, value changes and leaving. A key whose
// condition does not hold (Up on the first row) stays set. False when the
// menu is to be left.
bool COption::HandleKeys()
{
    uint8_t* keys = theApp.keyState;
    if (keys[plat::VK_UP] && cursorRow > 0) {
        keys[plat::VK_UP] = 0;
        if (--cursorRow < topRow)
            --topRow;
        PlayCursorMove();
    }
    if (keys[plat::VK_DOWN] && cursorRow != kLastRow) {
        keys[plat::VK_DOWN] = 0;
        if (++cursorRow - topRow >= kVisibleRows)
            ++topRow;
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
    if (TakeKey(plat::VK_LEFT))
        ChangeValue(cursorRow, -1);
    if (TakeKey(plat::VK_RIGHT))
        ChangeValue(cursorRow, +1);
    if (TakeKey(plat::VK_RETURN)) {
        if (cursorRow == ROW_EXIT) {
            theDirectSound.Play(SE_CUR_OK, 0, 0);
            return false;
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
void COption::Draw()
{
    constexpr SurfaceId back = 1;
    theApp.DrawBackground(true);
    theDirectDraw.Draw(back, 128, 16, 384, 64, titleSurface, 0, 0, true, CLIP_DEST);

    for (int i = 0; i < kVisibleRows; ++i) {
        int y = 96 + 27 * i;
        int row = topRow + i;
        if (row < 0 || row >= kOptionRows)
            continue;
        int labelX = 112;
        if (row >= ROW_FIRST_ITEM) {
            SurfaceId picture = theItemManager.pictures[row - ROW_FIRST_ITEM];
            if (picture != 0)
                theDirectDraw.Draw(back, 112, y - 4, 24, 24, picture, 0, 0, false, CLIP_DEST);
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
        if (topRow > 0)
            theApp.DrawText(back, 48, 96, "u", 1, false, CLIP_DEST);
        if (topRow < kLastTopRow)
            theApp.DrawText(back, 48, 447, "d", 1, false, CLIP_DEST);
    }
    theApp.DrawHighlightBar(80, (cursorRow - topRow) * 27 + 92, 480);
}

// COption::Run: the menu screen; returns when the player leaves it, after
// saving the settings.
void COption::Run()
{
    titleSurface = theDirectDraw.CreateSurface(384, 64, false);
    theApp.DrawTextScaled(titleSurface, 0, 0, 64, 64, "OPTION", 9, false, false);
    for (int row = 0; row < kOptionRows; ++row)
        ChangeValue(row, 0);
    cursorRow = 0;
    topRow = 0;
    frameCount = 0;
    for (;;) {
        theApp.StartFrame();
        ++frameCount;
        if (!HandleKeys())
            break;
        Draw();
        theDirectDraw.Flip();
        theApp.WaitFrame(33);
    }
    Save();
    theDirectDraw.ReleaseSurface(titleSurface);
}
