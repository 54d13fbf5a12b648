// Items during a round: spawning into the stage's item scope, expiry on the
// round's seconds, drawing into the field every frame (so the pictures are
// obstacles and their empty pixels clear trails), pickup, the two immediate
// speed items, the flash and the use of a held item.
#include <algorithm>

#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "screens/stageselect.h"
#include "sound/directsound.h"

namespace {

constexpr int kItemPx = 24;
constexpr int kSpawnChanceN = 200;   // one chance in 201 per frame
constexpr int kSlowest = 4;

FieldItem& ItemOf(DataNode* node) { return *CDataList::Record<FieldItem>(node); }

void RedrawPanel(int player)
{
    theRound.ClearPanel(player);
    theRound.DrawPanel(0, player);
}

}  // namespace

void CItemManager::Update()
{
    if (fieldCount < itemMax && theApp.RandUpTo(kSpawnChanceN) == 0) Spawn();
    for (DataNode* node = fieldItems.First(); node;) {
        DataNode* next = node->next;
        if (ItemOf(node).expiry < theRound.roundSeconds) {
            EraseItem(ItemOf(node));
            fieldItems.Remove(node);
            fieldCount--;
        }
        node = next;
    }
    DrawAll(theRound.fieldSurface);
}

// The spawn square is kept inside the interior whatever the stage's item
// scope says; where not even one square fits, nothing spawns on that stage.
void CItemManager::Spawn()
{
    if (poolCount == 0) return;
    const StageEntry& stage = theRound.Stage();
    int left = std::max(stage.scopeLeft, kInteriorLeft);
    int top = std::max(stage.scopeTop, kInteriorTop);
    int right = std::min(stage.scopeRight, kInteriorRight + 1) - kItemPx;
    int bottom = std::min(stage.scopeBottom, kInteriorBottom + 1) - kItemPx;
    if (right < left || bottom < top) return;
    fieldCount++;
    FieldItem& item = ItemOf(fieldItems.Add());
    item.x = theApp.RandRange(left, right);
    item.y = theApp.RandRange(top, bottom);
    item.expiry = theRound.roundSeconds + itemShowTime;
    item.kind = pool[theApp.RandRange(0, poolCount - 1)];
}

DataNode* CItemManager::FindItemAt(int x, int y) const
{
    for (DataNode* node = fieldItems.First(); node; node = node->next) {
        const FieldItem& item = ItemOf(node);
        if (item.x <= x && x < item.x + kItemPx && item.y <= y && y < item.y + kItemPx) return node;
    }
    return nullptr;
}

bool CItemManager::PickUp(int player, DataNode* node)
{
    int kind = ItemOf(node).kind;
    EraseItem(ItemOf(node));
    fieldItems.Remove(node);
    fieldCount--;
    if (theApp.RandRange(1, 100) <= itemGetDeath) return false;
    if (kind == ITEM_QUESTION) {
        while ((kind = theApp.RandUpTo(kItemKinds - 1)) == ITEM_QUESTION) theApp.PumpMessages();
    }
    PlayerSlot& slot = theRound.players[player];
    SurfaceDesc field = *theDirectDraw.Lock(theRound.fieldSurface);
    int hx = CApp::FloatToInt(slot.x), hy = CApp::FloatToInt(slot.y);
    if (field.pixels && hx >= 0 && hy >= 0 && hx < field.width && hy < field.height)
        field.pixels[hy * field.pitch + hx] = uint8_t(PlayerTrailIndex(player));
    theDirectDraw.Unlock(theRound.fieldSurface);
    if (kind == ITEM_SPEED_UP) {
        SpeedUp(player);
    } else if (kind == ITEM_SPEED_DOWN) {
        SpeedDown(player);
    } else {
        CDataList::Record<HeldItem>(slot.heldItems.Add())->kind = uint16_t(kind);
        theDirectSound.Play(SE_ITEM_GET, 0, 0);
        RedrawPanel(player);
    }
    return true;
}

void CItemManager::EraseItem(const FieldItem& item)
{
    theDirectDraw.FillRect(theRound.fieldSurface, item.x, item.y, kItemPx, kItemPx, 0);
}

void CItemManager::DrawAll(SurfaceId target)
{
    for (DataNode* node = fieldItems.First(); node; node = node->next) {
        const FieldItem& item = ItemOf(node);
        if (item.kind < kItemKinds)
            theDirectDraw.Draw(target, item.x, item.y, kItemPx, kItemPx, pictures[item.kind], 0, 0, false, 0);
    }
}

void CItemManager::SpeedUp(int player)
{
    PlayerSlot& slot = theRound.players[player];
    if (slot.slowness == 0) return;
    theDirectSound.Play(SE_SPEED_UP, 0, 0);
    Flash();
    slot.slowness--;
}

void CItemManager::SpeedDown(int player)
{
    PlayerSlot& slot = theRound.players[player];
    if (slot.slowness >= kSlowest) return;
    theDirectSound.Play(SE_SPEED_DOWN, 0, 0);
    Flash();
    slot.slowness++;
}

// One displayed frame in which exactly the empty pixels show colour 255,
// then the unchanged picture again.
void CItemManager::Flash()
{
    if (itemUseFlush == 0) return;
    theDirectDraw.FillRect(1, 0, 0, 640, 480, kOutlineIndex);
    theDirectDraw.Draw(1, 0, 0, 640, 480, 0, 0, 0, true, 0);
    theDirectDraw.Flip();
    theDirectDraw.Flip();
}

// Spends the most recent held item. The effects of the kinds are run by the
// item effect operations; until a kind has one, using it only spends it.
void CItemManager::UseItem(int player)
{
    PlayerSlot& slot = theRound.players[player];
    DataNode* last = slot.heldItems.Last();
    if (!last) return;
    slot.heldItems.Remove(last);
    RedrawPanel(player);
    Flash();
}
