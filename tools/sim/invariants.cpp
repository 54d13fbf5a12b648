// The frames may write only inside the playfield's interior. The outline
// (rows 16 and 431, columns 0 and 639) is taken as it is after set-up, since
// a stage may start a line on it; the closing border draws from second 1 on
// and so never reaches it. What the game's own rules do to the outline is
// allowed, and nothing else: "LR MIRROR" and "UD MIRROR" reflect the field
// rows with the outline in them, so its pixels change places, and "CLEAN"
// clears every pixel of its user's trail colour, a start pixel on the
// outline too. A line started on the outline lives there until its first
// step into another pixel, which is always a hit when that pixel is outside
// the interior too (a mirror may carry it, still unmoved, to the mirrored
// pixel). In scroll play the field is an offscreen surface and its rows
// above and below the playfield belong to nobody, so they too must stay as
// created; in normal play they hold the status line and panels, which the
// round redraws, so only the outline is held there.
#include "tools/sim/invariants.h"

#include <cstdarg>
#include <cstdio>
#include <unordered_map>

#include "graphics/directdraw.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "match/rules.h"

namespace {

constexpr int kOutlineTop = kFieldTop;
constexpr int kOutlineBottom = kFieldTop + kFieldHeight - 1;
constexpr int kItemSquarePx = 24;

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char text[200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// Where pixel (x, y) of the field rows comes from under a mirror (bit 1 left
// to right, bit 2 top to bottom); rows outside the field stay where they are.
void Mirrored(int mirror, int* x, int* y) {
    if (*y < kOutlineTop || *y > kOutlineBottom) return;
    if (mirror & 1) *x = kScreenWidth - 1 - *x;
    if (mirror & 2) *y = kOutlineTop + kOutlineBottom - *y;
}

// The player whose trail has this colour, or -1.
int TrailOwner(uint8_t value) {
    for (int p = 0; p < kPlayers; p++)
        if (value == PlayerTrailIndex(p)) return p;
    return -1;
}

}  // namespace

void CRoundInvariants::Begin() {
    const Surface* field = theDirectDraw.GetSurface(theRound.local.fieldSurface);
    m_offsets.clear();
    auto hold = [&](int x, int y) { m_offsets.push_back(uint32_t(y * field->pitch + x)); };
    for (int x = 0; x < field->width; x++) hold(x, kOutlineTop), hold(x, kOutlineBottom);
    for (int y = kOutlineTop + 1; y < kOutlineBottom; y++) hold(0, y), hold(field->width - 1, y);
    if (theRound.state.scrollPlay) {
        for (int y = 0; y < field->height; y++)
            if (y < kOutlineTop || y > kOutlineBottom)
                for (int x = 0; x < field->width; x++) hold(x, y);
    }
    m_values.clear();
    for (uint32_t offset : m_offsets) m_values.push_back(field->pixels[offset]);
    std::unordered_map<uint32_t, uint32_t> heldAt;
    for (size_t k = 0; k < m_offsets.size(); k++) heldAt[m_offsets[k]] = uint32_t(k);
    for (int mirror = 0; mirror < 4; mirror++) {
        m_mirrored[mirror].clear();
        for (uint32_t offset : m_offsets) {
            int x = int(offset % uint32_t(field->pitch)), y = int(offset / uint32_t(field->pitch));
            Mirrored(mirror, &x, &y);
            m_mirrored[mirror].push_back(heldAt.at(uint32_t(y * field->pitch + x)));
        }
    }
    m_aliveCount = 0;
    for (int i = 0; i < kPlayers; i++) {
        const PlayerSlot& slot = theRound.players[i];
        m_alive[i] = slot.alive;
        m_aliveCount += m_alive[i];
        m_startX[i] = CApp::FloatToInt(slot.x);
        m_startY[i] = CApp::FloatToInt(slot.y);
        m_onStart[i] = true;
    }
}

std::string CRoundInvariants::Check() {
    std::string why = CheckOutsideField();
    if (why.empty()) why = CheckLines();
    if (why.empty()) why = CheckItems();
    return why;
}

// The held pixels either stayed, or show what a mirror and the trails wiped
// by "CLEAN" in this frame make of them; they are then taken as they are.
std::string CRoundInvariants::CheckOutsideField() {
    const Surface* field = theDirectDraw.GetSurface(theRound.local.fieldSurface);
    for (int mirror = 0; mirror < 4; mirror++) {
        int wiped = 0;
        if (!Follows(mirror, field->pixels, &wiped)) continue;
        if (mirror != 0 || wiped != 0)
            for (size_t k = 0; k < m_offsets.size(); k++) m_values[k] = field->pixels[m_offsets[k]];
        return {};
    }
    for (size_t k = 0; k < m_offsets.size(); k++) {
        uint8_t now = field->pixels[m_offsets[k]];
        if (now == m_values[k]) continue;
        int x = int(m_offsets[k] % uint32_t(field->pitch)), y = int(m_offsets[k] / uint32_t(field->pitch));
        return Format("pixel (%d, %d) outside the playfield interior changed from %d to %d", x, y, m_values[k], now);
    }
    return {};
}

// A pixel that differs from its source under the mirror must be cleared, and
// of a live player's trail colour; that player's colour is then gone from
// every held pixel, as "CLEAN" leaves no pixel of it anywhere.
bool CRoundInvariants::Follows(int mirror, const uint8_t* pixels, int* wiped) const {
    *wiped = 0;
    for (size_t k = 0; k < m_offsets.size(); k++) {
        const uint8_t was = m_values[m_mirrored[mirror][k]], now = pixels[m_offsets[k]];
        if (now == was) continue;
        const int owner = TrailOwner(was);
        if (now != kEmptyIndex || owner < 0 || !m_alive[owner]) return false;
        *wiped |= 1 << owner;
    }
    for (size_t k = 0; k < m_offsets.size() && *wiped; k++) {
        const int owner = TrailOwner(pixels[m_offsets[k]]);
        if (owner >= 0 && (*wiped >> owner & 1)) return false;
    }
    return true;
}

// A live head is inside the interior, already marked hit, or still on the
// pixel it started on; no line comes back to life, and the count of live
// lines only falls.
std::string CRoundInvariants::CheckLines() {
    int alive = 0;
    for (int i = 0; i < kPlayers; i++) {
        const PlayerSlot& slot = theRound.players[i];
        if (slot.alive && !m_alive[i]) return Format("slot %dP came back to life", i + 1);
        m_alive[i] = slot.alive;
        if (!slot.alive) continue;
        alive++;
        int x = CApp::FloatToInt(slot.x), y = CApp::FloatToInt(slot.y);
        bool onStart = false;
        for (int mirror = 0; mirror < 4; mirror++) {
            int sx = m_startX[i], sy = m_startY[i];
            Mirrored(mirror, &sx, &sy);
            onStart = onStart || (x == sx && y == sy);
        }
        m_onStart[i] = m_onStart[i] && onStart;
        if (!InsideInterior(x, y) && !slot.hit && !m_onStart[i])
            return Format("live head of %dP at (%d, %d) outside the interior and not hit", i + 1, x, y);
        if (slot.heading >= 360 || slot.slowness > 4)
            return Format("%dP has heading %d, slowness %d", i + 1, slot.heading, slot.slowness);
    }
    if (alive != theRound.CountAlive() || alive > m_aliveCount)
        return Format("live lines counted %d, the round says %d, before %d", alive, theRound.CountAlive(),
                      m_aliveCount);
    m_aliveCount = alive;
    return {};
}

// The item count matches the list, and every item's square lies in the interior.
std::string CRoundInvariants::CheckItems() const {
    if (theItemManager.fieldCount != theItemManager.fieldItems.Count())
        return Format("item count %d but %d items on the field", theItemManager.fieldCount,
                      theItemManager.fieldItems.Count());
    for (DataNode* node = theItemManager.fieldItems.First(); node; node = node->next) {
        const FieldItem& item = *CDataList::Record<FieldItem>(node);
        if (!InsideInterior(item.x, item.y) || !InsideInterior(item.x + kItemSquarePx - 1, item.y + kItemSquarePx - 1))
            return Format("item of kind %d at (%d, %d) reaches outside the interior", item.kind, item.x, item.y);
    }
    return {};
}
