// CRound: construction, the per-match reset, the player type names and the
// key layouts. The round loop itself lives in its own file.
#include "match/round.h"

#include <utility>

#include "items/itemmanager.h"

const char kPlayerTypeNames[kPlayerTypes][20] = {"MAN", "NON", "EASY COM", "NORMAL COM", "HARD COM", "MASTER COM"};

int EffectivePlayerType(int type) { return (type < 0 || type >= kPlayerTypes) ? PLAYER_NON : type; }

const char* PlayerTypeName(int type) { return kPlayerTypeNames[EffectivePlayerType(type)]; }

const uint8_t kKeyLayouts[2][kPlayers][6] = {
    {
        // desktop: player 4 on the numeric pad
        {'Q', 'A', 'Z', 0x51, 0x41, 0x5A},
        {'B', 'N', 'M', 0x42, 0x4E, 0x4D},
        {'l', 'd', 'r', 0x25, 0x28, 0x27},
        {'3', '6', '9', 0x63, 0x66, 0x69},
    },
    {
        // notebook: player 4 on the bracket keys
        {'Q', 'A', 'Z', 0x51, 0x41, 0x5A},
        {'B', 'N', 'M', 0x42, 0x4E, 0x4D},
        {'l', 'd', 'r', 0x25, 0x28, 0x27},
        {']', '[', '\\', 0xDD, 0xDB, 0xDC},
    },
};

const uint8_t* KeyLayout(int keyboardType, int player) {
    int type = (keyboardType == 0) ? 0 : 1;
    if (player < 0 || player >= kPlayers) player = 0;
    return kKeyLayouts[type][player];
}

CRound::CRound()
    : roundCounter(0), start{}, state{}, local{}, players{}, explosionType(0), explosionValues{16, 300, 300, 300} {
    state.wait = 80;
    for (CDataList& list : heldItems) list.SetRecordSize(sizeof(HeldItem));
}

CRound::~CRound() {
    for (CDataList& list : heldItems) list.Clear();
}

void CRound::Exchange(CRound& other) {
    std::swap(roundCounter, other.roundCounter);
    std::swap(start, other.start);
    std::swap(state, other.state);
    std::swap(local, other.local);
    std::swap(players, other.players);
    for (int i = 0; i < kPlayers; i++) heldItems[i].Swap(other.heldItems[i]);
    missile.Exchange(other.missile);
    particle.Exchange(other.particle);
    meteorite.Exchange(other.meteorite);
    pingPong.Exchange(other.pingPong);
    mold.Exchange(other.mold);
}

// Start of a match: standings back to zero and the item pool rebuilt from
// the current weights (the options menu may have changed them).
void CRound::ResetMatch() {
    for (PlayerSlot& slot : players) {
        slot.totalScore = 0;
        slot.matchCounter = 0;
    }
    roundCounter = 0;
    theItemManager.BuildPool();
}

int CRound::CountAlive() const {
    int alive = 0;
    for (const PlayerSlot& slot : players) alive += slot.alive ? 1 : 0;
    return alive;
}

// Draws slot indices until one names a live slot other than i. The caller
// makes sure there is one.
int CRound::PickOtherAlive(int i) {
    for (;;) {
        int j = theApp.RandRange(0, kPlayers - 1);
        if (j != i && players[j].alive) return j;
        theApp.PumpMessages();
    }
}

// A gift from a stage list may ask for any count; more than a player could
// ever spend in a round only costs memory, so a gift is limited to this.
constexpr int kMostItemsPerGift = 1000;

void CRound::GiveItems([[maybe_unused]] PlayerSlot& slot, int i, int kind, int n, bool redraw) {
    if (n > kMostItemsPerGift) n = kMostItemsPerGift;
    for (int k = 0; k < n; k++) CDataList::Record<HeldItem>(heldItems[i].Add())->kind = static_cast<uint16_t>(kind);
    if (redraw) {
        ClearPanel(i);
        DrawPanel(kVisibleSurface, i);
    }
}

const StageEntry& CRound::Stage() const { return start.stages[state.stageIndex]; }
