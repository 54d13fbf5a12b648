// CItemManager: the item table, the item pool, the items lying on the field.
#pragma once
#include <array>
#include <cstdint>

#include "core/app.h"
#include "core/datalist.h"
#include "core/gamedata.h"  // kItemKinds, names, classes, default weights
#include "core/record.h"

// A row of the item table (42 bytes). Names and classes are those of the
// data contract; the weights are settings and change at run time.
struct ItemTableRow {
    char name[kItemNameSize];
    uint8_t comClass;
    int8_t weight;  // appearance weight, setting "ITEM_%s="
};

// The item table, made from the constant kinds with their default weights.
extern std::array<ItemTableRow, kItemKinds> g_itemTable;

// Items are 24x24 pictures.
constexpr int kItemPx = 24;

struct FieldItem {
    int32_t x;
    int32_t y;
    uint16_t kind;
    int32_t expirySecond;

    template <class F>
    constexpr void Fields(F&& f) const {
        f(x), f(y), f(kind), f(expirySecond);
    }
};
static_assert(ListsEveryField<FieldItem>());

enum MirrorAxis : int { MIRROR_LEFT_RIGHT, MIRROR_UP_DOWN };

class CItemManager {
public:
    CItemManager();
    ~CItemManager();

    void LoadPictures();
    void BuildPool();
    void Clear();
    // Exchanges the match's items (the pool, the items on the field) with
    // another item manager; the round sets a live match aside this way.
    void Exchange(CItemManager& other);

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
    void RunEffect(int kind, int user);

    // Effects on players (each takes the user, the player who spent the item).
    void Change(int user);
    void Warp(int user);
    void Jump(int user);
    void LrFlip(int user);
    void Move(int user);
    void ItemDel(int user);
    void Stop(int user);
    void Gravity(int user);
    void Invincible(int user);

    // The ring at a head: a disc in the player's colour ramp that grows,
    // fades, brightens and shrinks, shown frame by frame over the field.
    void RingDisc(int player, int radius, int rampEntry);
    void RingRestore(int player);
    void WarpOut(int player);
    void WarpIn(int player);

    // Effects on the playfield.
    void Bomb(int user);
    void Laser(int user);
    void Missile(int user);
    void Cosmo(int user);
    void Barrier(int user);
    void Clean(int user);
    void Wall(int user);
    void MirrorField(MirrorAxis axis);
    void PingPong(int user);
    void Mold(int user);

    CDataList fieldItems;
    char keyNames[kItemKinds][kItemNameSize];
    SurfaceId pictures[kItemKinds];
    // One entry per unit of weight. Weights read from a settings file may
    // exceed the menu's 100 (up to 127 in the signed byte), so the pool is
    // sized for the largest possible sum.
    uint16_t pool[kItemKinds * 127];
    int32_t poolCount;
    int32_t fieldCount;
    int32_t itemMax;           // ITEM_MAX
    int32_t itemShowTime;      // ITEM_SHOW_TIME
    uint8_t changeLimitation;  // CHANGE_LIMITATION
    int8_t itemGetDeath;       // ITEM_GET_DEATH
    uint8_t itemUseFlush;      // ITEM_USE_FLUSH
};

extern CItemManager theItemManager;
