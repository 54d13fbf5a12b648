// CItemManager basics: the item table, construction, the item pool and the
// item pictures. Spawning, pickup and the effects live beside this file.
#include "items/itemmanager.h"

#include <cstdio>

#include "graphics/directdraw.h"

// Name, COM use class (read by the computer players), default weight.
ItemTableRow g_itemTable[kItemKinds] = {
    {"SPEED UP", 0, 100},   {"SPEED DOWN", 0, 100}, {"BOMB", 1, 100},       {"LASER", 2, 100},
    {"CHANGE", 1, 100},     {"WARP", 1, 100},       {"MISSILE", 2, 100},    {"COSMO", 1, 100},
    {"JUMP", 1, 100},       {"BARRIER", 1, 100},    {"LR FLIP", 0, 100},    {"CLEAN", 0, 100},
    {"MOVE", 0, 100},       {"ITEM_DEL", 0, 100},   {"WALL", 2, 100},       {"QUESTION", 0, 100},
    {"STOP", 0, 100},       {"LR MIRROR", 0, 100},  {"UD MIRROR", 0, 100},  {"GRAVITY", 0, 100},
    {"PINGPONG", 2, 100},   {"MOLD", 2, 100},       {"INVINCIBLE", 1, 100},
};

CItemManager::CItemManager()
    : keyNames{}, pictures{}, pool{}, poolCount(0), fieldCount(0), itemMax(1), itemShowTime(30),
      changeLimitation(0), itemGetDeath(0), itemUseFlush(1)
{
    fieldItems.SetRecordSize(sizeof(FieldItem));
    // The key name names the picture file and the settings key, so it must
    // not contain blanks.
    for (int k = 0; k < kItemKinds; ++k) {
        for (int i = 0; i < kItemNameSize - 1 && g_itemTable[k].name[i] != '\0'; ++i) {
            char ch = g_itemTable[k].name[i];
            keyNames[k][i] = (ch == ' ') ? '_' : ch;
        }
    }
}

CItemManager::~CItemManager()
{
    Clear();
}

// Loads one 24x24 picture per kind from "Graphics\Items\<key name>.png".
// The pictures keep the game palette; they never replace it.
void CItemManager::LoadPictures()
{
    for (int k = 0; k < kItemKinds; ++k) {
        char path[96];
        std::snprintf(path, sizeof(path), "Graphics\\Items\\%s.png", keyNames[k]);
        pictures[k] = theDirectDraw.LoadPng(path, false, true);
    }
}

// One pool entry per unit of appearance weight, kinds in table order, so a
// spawn draws kind k with chance weight(k) / sum of weights. The weights come
// from the settings file unchecked; the pool is sized for the largest signed
// byte, and the bound below only guards that sizing.
void CItemManager::BuildPool()
{
    constexpr int32_t capacity = static_cast<int32_t>(sizeof(pool) / sizeof(pool[0]));
    poolCount = 0;
    for (int k = 0; k < kItemKinds; ++k) {
        for (int n = 0; n < g_itemTable[k].weight && poolCount < capacity; ++n)
            pool[poolCount++] = static_cast<uint16_t>(k);
    }
}

// Forgets every item lying on the field (end of a round).
void CItemManager::Clear()
{
    fieldCount = 0;
    fieldItems.Clear();
}
