// CItemManager basics: the item table, construction, the item pool and the
// item pictures. Spawning, pickup and the effects live beside this file.
#include "items/itemmanager.h"

#include <cstdio>
#include <cstring>

#include "graphics/directdraw.h"

namespace {

constexpr ItemTableRow MakeRow(const ItemKindInfo& info) {
    ItemTableRow row{};
    for (int i = 0; i < kItemNameSize - 1 && info.name[i] != '\0'; ++i) row.name[i] = info.name[i];
    row.comClass = info.comClass;
    row.weight = info.defaultWeight;
    return row;
}

}  // namespace

// Built at compile time, so the table holds its defaults before any other
// object's constructor (the options menu takes its labels from it) runs.
constinit std::array<ItemTableRow, kItemKinds> g_itemTable = [] {
    std::array<ItemTableRow, kItemKinds> table{};
    for (int k = 0; k < kItemKinds; ++k) table[k] = MakeRow(kItemKindInfo[k]);
    return table;
}();

CItemManager::CItemManager()
    : keyNames{},
      pictures{},
      pool{},
      poolCount(0),
      fieldCount(0),
      itemMax(1),
      itemShowTime(30),
      changeLimitation(0),
      itemGetDeath(0),
      itemUseFlush(1) {
    fieldItems.SetRecordSize(sizeof(FieldItem));
    for (int k = 0; k < kItemKinds; ++k) std::memcpy(keyNames[k], kItemKeyNames[k].text, kItemNameSize);
}

CItemManager::~CItemManager() { Clear(); }

void CItemManager::Exchange(CItemManager& other) {
    fieldItems.Swap(other.fieldItems);
    std::swap(pool, other.pool);
    std::swap(poolCount, other.poolCount);
    std::swap(fieldCount, other.fieldCount);
}

// Loads one 24x24 picture per kind from "Graphics\Items\<key name>.png".
// The pictures keep the game palette; they never replace it.
void CItemManager::LoadPictures() {
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
void CItemManager::BuildPool() {
    constexpr int32_t capacity = static_cast<int32_t>(sizeof(pool) / sizeof(pool[0]));
    poolCount = 0;
    for (int k = 0; k < kItemKinds; ++k) {
        for (int n = 0; n < g_itemTable[k].weight && poolCount < capacity; ++n)
            pool[poolCount++] = static_cast<uint16_t>(k);
    }
}

// Forgets every item lying on the field (end of a round).
void CItemManager::Clear() {
    fieldCount = 0;
    fieldItems.Clear();
}
