// Items during a round: spawning into the stage's item scope, expiry on the
// round's seconds, drawing into the field every frame (so the pictures are
// obstacles and their empty pixels clear trails), pickup, the two immediate
// speed items, the flash and the use of a held item.
#include <algorithm>
#include <cstdint>

#include "graphics/directdraw.h"
#include "items/effectsupport.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "match/rules.h"
#include "sound/directsound.h"

namespace {

constexpr int kSpawnChanceN = 200;  // one chance in 201 per frame

FieldItem& ItemOf(DataNode* node) { return *CDataList::Record<FieldItem>(node); }

// The first columns (or rows) a square may start at so that it lies inside
// both the stage's item scope and the interior; false when no square fits.
// The scope comes from the stage list and may hold any 32-bit value, so the
// sums are taken wide.
bool SquareStarts(int32_t scopeFrom, int32_t scopeTo, int interiorFrom, int interiorTo, int* first, int* last) {
    int64_t from = std::max<int64_t>(scopeFrom, interiorFrom);
    int64_t to = std::min<int64_t>(scopeTo, int64_t(interiorTo) + 1) - kItemPx;
    if (to < from) return false;
    *first = int(from);
    *last = int(to);
    return true;
}

}  // namespace

void CItemManager::Update() {
    if (fieldCount < itemMax && theApp.RandUpTo(kSpawnChanceN) == 0) Spawn();
    for (DataNode* node = fieldItems.First(); node;) {
        DataNode* next = node->next;
        if (ItemOf(node).expirySecond < theRound.state.roundSeconds) {
            EraseItem(ItemOf(node));
            fieldItems.Remove(node);
            fieldCount--;
        }
        node = next;
    }
    DrawAll(theRound.local.fieldSurface);
}

// The spawn square is kept inside the interior whatever the stage's item
// scope says; where not even one square fits, nothing spawns on that stage.
void CItemManager::Spawn() {
    if (poolCount == 0) return;
    const StageEntry& stage = theRound.Stage();
    int left, right, top, bottom;
    if (!SquareStarts(stage.scopeLeft, stage.scopeRight, kInteriorLeft, kInteriorRight, &left, &right) ||
        !SquareStarts(stage.scopeTop, stage.scopeBottom, kInteriorTop, kInteriorBottom, &top, &bottom))
        return;
    fieldCount++;
    FieldItem& item = ItemOf(fieldItems.Add());
    item.x = theApp.RandRange(left, right);
    item.y = theApp.RandRange(top, bottom);
    // Summed wide: whatever lifetime the field holds, the sum never wraps
    // round to an item that is gone at once.
    item.expirySecond = int32_t(std::min<int64_t>(int64_t(theRound.state.roundSeconds) + itemShowTime, INT32_MAX));
    item.kind = pool[theApp.RandRange(0, poolCount - 1)];
}

DataNode* CItemManager::FindItemAt(int x, int y) const {
    for (DataNode* node = fieldItems.First(); node; node = node->next) {
        const FieldItem& item = ItemOf(node);
        if (item.x <= x && x < item.x + kItemPx && item.y <= y && y < item.y + kItemPx) return node;
    }
    return nullptr;
}

bool CItemManager::PickUp(int player, DataNode* node) {
    int kind = ItemOf(node).kind;
    EraseItem(ItemOf(node));
    fieldItems.Remove(node);
    fieldCount--;
    if (theApp.RandRange(1, 100) <= itemGetDeath) return false;
    if (kind == ITEM_QUESTION) {
        while ((kind = theApp.RandUpTo(kItemKinds - 1)) == ITEM_QUESTION) theApp.PumpMessages();
    }
    PlayerSlot& slot = theRound.players[player];
    SurfaceDesc field = theDirectDraw.Lock(theRound.local.fieldSurface);
    int hx = CApp::FloatToInt(slot.x), hy = CApp::FloatToInt(slot.y);
    if (field.pixels && hx >= 0 && hy >= 0 && hx < field.width && hy < field.height)
        field.pixels[hy * field.pitch + hx] = uint8_t(PlayerTrailIndex(player));
    theDirectDraw.Unlock(theRound.local.fieldSurface);
    if (kind == ITEM_SPEED_UP) {
        SpeedUp(player);
    } else if (kind == ITEM_SPEED_DOWN) {
        SpeedDown(player);
    } else {
        CDataList::Record<HeldItem>(theRound.heldItems[player].Add())->kind = uint16_t(kind);
        theDirectSound.Play(SE_ITEM_GET, 0, 0);
        itemfx::RedrawPanel(player);
    }
    return true;
}

void CItemManager::EraseItem(const FieldItem& item) {
    theDirectDraw.FillRect(theRound.local.fieldSurface, item.x, item.y, kItemPx, kItemPx, 0);
}

void CItemManager::DrawAll(SurfaceId target) {
    for (DataNode* node = fieldItems.First(); node; node = node->next) {
        const FieldItem& item = ItemOf(node);
        // Only a loaded picture: surface 0 is the screen itself, not a picture.
        if (item.kind < kItemKinds && pictures[item.kind])
            theDirectDraw.Draw(target, item.x, item.y, kItemPx, kItemPx, pictures[item.kind], 0, 0, false, 0);
    }
}

void CItemManager::SpeedUp(int player) {
    PlayerSlot& slot = theRound.players[player];
    if (slot.slowness == 0) return;
    theDirectSound.Play(SE_SPEED_UP, 0, 0);
    Flash();
    slot.slowness--;
}

void CItemManager::SpeedDown(int player) {
    PlayerSlot& slot = theRound.players[player];
    if (slot.slowness >= kSlowestSlowness) return;
    theDirectSound.Play(SE_SPEED_DOWN, 0, 0);
    Flash();
    slot.slowness++;
}

// One displayed frame in which exactly the empty pixels show colour 255,
// then the unchanged picture again.
void CItemManager::Flash() {
    if (itemUseFlush == 0) return;
    theDirectDraw.FillRect(kBackBuffer, 0, 0, kScreenWidth, kScreenHeight, kOutlineIndex);
    theDirectDraw.Draw(kBackBuffer, 0, 0, kScreenWidth, kScreenHeight, kVisibleSurface, 0, 0, true, 0);
    theDirectDraw.Flip();
    theDirectDraw.Flip();
}

// Spends the most recent held item and runs its effect to the end.
void CItemManager::UseItem(int player) {
    CDataList& held = theRound.heldItems[player];
    DataNode* last = held.Last();
    if (!last) return;
    int kind = CDataList::Record<HeldItem>(last)->kind;
    held.Remove(last);
    itemfx::RedrawPanel(player);
    Flash();
    RunEffect(kind, player);
}

// The held effect of a kind. "SPEED UP", "SPEED DOWN" and "QUESTION" act at
// pickup and have none; a stage's starting items may still hold them, and
// spending one of those (or any unknown value) does nothing more.
void CItemManager::RunEffect(int kind, int user) {
    switch (kind) {
    case ITEM_BOMB:
        Bomb(user);
        break;
    case ITEM_LASER:
        Laser(user);
        break;
    case ITEM_CHANGE:
        Change(user);
        break;
    case ITEM_WARP:
        Warp(user);
        break;
    case ITEM_MISSILE:
        Missile(user);
        break;
    case ITEM_COSMO:
        Cosmo(user);
        break;
    case ITEM_JUMP:
        Jump(user);
        break;
    case ITEM_BARRIER:
        Barrier(user);
        break;
    case ITEM_LR_FLIP:
        LrFlip(user);
        break;
    case ITEM_CLEAN:
        Clean(user);
        break;
    case ITEM_MOVE:
        Move(user);
        break;
    case ITEM_ITEM_DEL:
        ItemDel(user);
        break;
    case ITEM_WALL:
        Wall(user);
        break;
    case ITEM_STOP:
        Stop(user);
        break;
    case ITEM_LR_MIRROR:
        MirrorField(MIRROR_LEFT_RIGHT);
        break;
    case ITEM_UD_MIRROR:
        MirrorField(MIRROR_UP_DOWN);
        break;
    case ITEM_GRAVITY:
        Gravity(user);
        break;
    case ITEM_PINGPONG:
        PingPong(user);
        break;
    case ITEM_MOLD:
        Mold(user);
        break;
    case ITEM_INVINCIBLE:
        Invincible(user);
        break;
    default:
        break;
    }
}
