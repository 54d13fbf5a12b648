// CItemManager: the item table, the item pool, the items lying on the field.
#pragma once
#include <array>
#include <cstdint>

#include "app/app.h"
#include "app/datalist.h"
#include "app/gamedata.h"   // kItemKinds, names, classes, default weights

// A row of the item table (42 bytes). Names and classes are those of the
// data contract; the weights are settings and change at run time.
struct ItemTableRow {
    char name[kItemNameSize];
    uint8_t comClass;
    int8_t weight;       // appearance weight, setting "ITEM_%s="
};

// The item table, made from the constant kinds with their default weights.
extern std::array<ItemTableRow, kItemKinds> g_itemTable;

struct FieldItem {
    int32_t x;
    int32_t y;
    uint16_t kind;
    int32_t expiry;
};

class CItemManager {
public:
    CItemManager();
    ~CItemManager();

    void LoadPictures();
    void BuildPool();
    void Clear();

    // Items on the field during a round.
    void Update();
    void Spawn();
    DataNode* FindItemAt(int x, int y) const;
    bool PickUp(int player, DataNode* item);
    void EraseItem(const FieldItem& item);
    void DrawAll(SurfaceId target);
    void SpeedUp(int player);
    void SpeedDown(int player);
    void Flash();
    void UseItem(int player);

    CDataList fieldItems;
    char keyNames[kItemKinds][kItemNameSize];
    SurfaceId pictures[kItemKinds];
    // One entry per unit of weight. Weights read from a settings file may
    // exceed the menu's 100 (up to 127 in the signed byte), so the pool is
    // sized for the largest possible sum.
    uint16_t pool[kItemKinds * 127];
    int32_t poolCount;
    int32_t fieldCount;
    int32_t itemMax;          // ITEM_MAX
    int32_t itemShowTime;     // ITEM_SHOW_TIME
    uint8_t changeLimitation; // CHANGE_LIMITATION
    int8_t itemGetDeath;      // ITEM_GET_DEATH
    uint8_t itemUseFlush;     // ITEM_USE_FLUSH
};

extern CItemManager theItemManager;
