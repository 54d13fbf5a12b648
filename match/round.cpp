// CRound: construction, the per-match reset, the player type names and the
// key layouts. The round loop itself lives in its own file.
#include "match/round.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
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

SeatKeyCodes SeatKeys(int player) {
    if (player < 0 || player >= kPlayers) player = 0;
    const uint8_t* own = theRound.ownKeys[player];
    if (own[SEAT_KEY_LEFT] && own[SEAT_KEY_ITEM] && own[SEAT_KEY_RIGHT])
        return SeatKeyCodes{own[SEAT_KEY_LEFT], own[SEAT_KEY_ITEM], own[SEAT_KEY_RIGHT]};
    const uint8_t* layout = KeyLayout(theApp.keyboardType, player);
    return SeatKeyCodes{layout[KEY_LEFT], layout[KEY_ITEM], layout[KEY_RIGHT]};
}

bool IsReservedKey(uint32_t vk) {
    switch (vk) {
    case plat::VK_ESCAPE:   // pause
    case plat::VK_PAUSE:    // quit
    case plat::VK_F6:       // screenshot
    case plat::VK_CONTROL:  // fast-forward
    case plat::VK_MENU:     // Alt: Alt+Enter switches the window
    case plat::VK_PRIOR:    // slower
    case plat::VK_NEXT:     // faster
        return true;
    default:
        return vk == 0 || vk > 0xFF;
    }
}

namespace {

// Short forms of key names that are longer than a label, or that the font
// has no glyph for. The arrows are the font's arrow glyphs.
struct ShortForm {
    const char* name;
    const char* label;
};
const ShortForm kShortForms[] = {
    {"Left", "l"},     {"Up", "u"},         {"Right", "r"},        {"Down", "d"},     {"Space", "SPC"},
    {"Return", "RET"}, {"Backspace", "BS"}, {"Tab", "TAB"},        {"Insert", "INS"}, {"Delete", "DEL"},
    {"Home", "HOM"},   {"End", "END"},      {"Left Shift", "SFT"}, {",", "CMA"},      {";", "SCL"},
    {"'", "QT"},       {"-", "MIN"},        {"`", "GRV"},          {"#", "NUM"},      {"Keypad *", "*"},
    {"Keypad +", "+"}, {"Keypad -", "MIN"}, {"Keypad .", "."},     {"Keypad /", "/"},
};

// A name as a label: its short form, a numeric-pad key as its digit (as
// the desktop layout shows them), else its first three characters that the
// font draws, letters in capitals. False when none is left.
bool LabelFromName(const std::string& name, char (&label)[4]) {
    for (const ShortForm& form : kShortForms) {
        if (name != form.name) continue;
        std::snprintf(label, sizeof label, "%s", form.label);
        return true;
    }
    const char kKeypad[] = "Keypad ";
    std::string rest = name.compare(0, sizeof kKeypad - 1, kKeypad) == 0 ? name.substr(sizeof kKeypad - 1) : name;
    size_t n = 0;
    for (char ch : rest) {
        // Lower-case letters are glyphs of their own (the arrows), so a name is read in capitals.
        char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (n < 3 && static_cast<unsigned char>(ch) < 0x80 && CApp::HasGlyph(upper)) label[n++] = upper;
    }
    label[n] = '\0';
    return n > 0;
}

}  // namespace

void ShownKeyLabel(uint32_t vk, char (&label)[4]) {
    // What the layout prints on the key; failing that, the position's own
    // name; failing both, the code.
    if (LabelFromName(plat::KeyLabel(vk), label)) return;
    if (LabelFromName(plat::KeyName(vk), label)) return;
    std::snprintf(label, sizeof label, "%02X", static_cast<unsigned>(vk & 0xFF));
}

namespace {

// A key name in capitals and the characters the font draws, words apart: a
// capital that follows a small letter starts a word ("PageUp" is "PAGE UP").
void ShownName(const std::string& name, char* text, size_t size) {
    size_t n = 0;
    char before = ' ';
    for (char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        const bool newWord = std::isupper(c) && std::islower(static_cast<unsigned char>(before));
        before = ch;
        if (c >= 0x80) continue;
        const char upper = static_cast<char>(std::toupper(c));
        if (upper != ' ' && !CApp::HasGlyph(upper)) continue;
        if (newWord && n > 0 && text[n - 1] != ' ' && n + 1 < size) text[n++] = ' ';
        if (upper == ' ' && (n == 0 || text[n - 1] == ' ')) continue;
        if (n + 1 < size) text[n++] = upper;
    }
    while (n > 0 && text[n - 1] == ' ') n--;
    text[n] = '\0';
}

}  // namespace

void ShownKeyName(uint32_t vk, char* text, size_t size) {
    if (size == 0) return;
    // What the layout prints on the key; failing that, the position's own
    // name; failing both, its label (a short form such as "CMA").
    ShownName(plat::KeyLabel(vk), text, size);
    if (!text[0]) ShownName(plat::KeyName(vk), text, size);
    if (text[0]) return;
    char label[4];
    ShownKeyLabel(vk, label);
    std::snprintf(text, size, "%s", label);
}

void SeatKeysText(int player, char* text, size_t size) {
    char labels[kSeatKeys][4];
    bool single = true;
    SeatKeyCodes keys = SeatKeys(player);
    for (int k = 0; k < kSeatKeys; k++) {
        ShownKeyLabel(keys[k], labels[k]);
        single = single && std::strlen(labels[k]) == 1;
    }
    std::snprintf(text, size, single ? "%s%s%s" : "%s %s %s", labels[0], labels[1], labels[2]);
}

CRound::CRound()
    : roundCounter(0),
      start{},
      state{},
      local{},
      players{},
      ownKeys{},
      explosionType(0),
      explosionValues{16, 300, 300, 300},
      headMarker(0),
      autoFast(0),
      matchRounds(0),
      safeStarts(0) {
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
