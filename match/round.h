// CRound: the round object with its four player records, the round loop,
// movement and trail collision, the pause menu and the result screen.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "core/app.h"
#include "core/datalist.h"
#include "core/gamedata.h"
#include "core/record.h"
#include "core/seats.h"
#include "graphics/directdraw.h"
#include "match/effects.h"
#include "match/rules.h"
#include "match/stage.h"

extern const char kPlayerTypeNames[kPlayerTypes][20];
// A type outside the table (read from a damaged settings file) stands for
// an empty seat wherever the game looks at it; the stored value is kept.
int EffectivePlayerType(int type);
// The name of a player type; values outside the table read as "NON".
const char* PlayerTypeName(int type);

// What a round (PlayRound), the pause menu and the result screen hand to the match loop.
enum RoundResult : int {
    ROUND_NEXT = 1,  // "NEXT ROUND"
    ROUND_EXIT = 2,  // "EXIT": leave the match
};

// A record of a slot's held-items list: one item kind.
struct HeldItem {
    uint16_t kind;

    template <class F>
    constexpr void Fields(F&& f) const {
        f(kind);
    }
    bool operator==(const HeldItem&) const = default;
};

// A player slot's numbers: one plain record, copied whole. Its held items are
// a list that the round keeps beside the slots (CRound::heldItems). The five
// timers hold the round frame at which their effect ends.
struct PlayerSlot {
    uint8_t alive;
    uint8_t hit;
    int32_t leftTurns;
    int32_t rightTurns;
    int8_t type;
    int32_t totalScore;
    uint16_t matchCounter;
    int32_t roundScore;
    int32_t endFrame;
    int32_t endSecond;
    float x, y;
    int32_t lastPixelX, lastPixelY;
    uint16_t heading;
    uint8_t slowness;
    int32_t mirrorEndFrame;
    int32_t noTrailEndFrame;
    int32_t stoppedUntilFrame;
    int32_t gravityEndFrame;
    int32_t invincibleEndFrame;
    uint8_t useItemRequest;

    template <class F>
    constexpr void Fields(F&& f) const {
        f(alive), f(hit), f(leftTurns), f(rightTurns), f(type), f(totalScore), f(matchCounter), f(roundScore);
        f(endFrame), f(endSecond), f(x), f(y), f(lastPixelX), f(lastPixelY), f(heading), f(slowness);
        f(mirrorEndFrame), f(noTrailEndFrame), f(stoppedUntilFrame), f(gravityEndFrame), f(invincibleEndFrame);
        f(useItemRequest);
    }
    bool operator==(const PlayerSlot&) const = default;
};
static_assert(ListsEveryField<PlayerSlot>());

// A slot acts in a frame when it is alive and no "STOP" holds it.
inline bool SlotActs(const PlayerSlot& slot, int32_t frame) { return slot.alive && slot.stoppedUntilFrame < frame; }

// Key layouts of the four human players, [keyboard type][player][6]: three
// label characters for the round intro, then the virtual keys for turn left
// (+30 degrees), use item and turn right (-30 degrees).
enum : int { KEY_LABEL0 = 0, KEY_LEFT = 3, KEY_ITEM = 4, KEY_RIGHT = 5 };
// Everything that reaches a round from outside in one frame. One source
// fills it once at the start of the frame (this machine's keys and clock, a
// replay, or the online session) and CRound::Frame takes it; the round leaves
// in it what it used, which is what a recording keeps. The computer players
// are no source of it: they choose in the frame itself, seat by seat, from
// the field as the lines before them have left it.
struct FrameInput {
    uint8_t takeovers;  // seats a computer plays from this frame on, one bit each (online)
    uint8_t leave;      // ROUND_NEXT or ROUND_EXIT: the round is left before this frame runs
    uint8_t waitSet;    // WAIT is `wait` from this frame on
    int32_t wait;
    uint8_t tick;             // the one-second clock ticks in this frame
    uint32_t tickState;       // the generator's state where it ticks (a recording checks it)
    uint8_t seats[kPlayers];  // each human seat's presses (SEAT_* bits)
};

// What a computer player presses in its thinking step, as a player presses
// keys: turn left (+30 degrees), turn right (-30 degrees), use the held item.
struct SeatPresses {
    bool turnLeft, turnRight, useItem;
    bool operator==(const SeatPresses&) const = default;
};
struct ComputerView;
// A computer player's choice in a frame: the presses of a computer player of
// this type (a PlayerType), from its view of the round. The round asks seat
// by seat; the layer that plays the round hands the computer players in.
using ComputerThink = SeatPresses (*)(int type, const ComputerView& view);
class CItemManager;
extern const uint8_t kKeyLayouts[2][kPlayers][6];
// The layout of one player. The keyboard type comes from the settings file
// unchecked: 0 is the desktop layout, every other value the notebook layout
// (the options menu shows any non-zero type as "NOTE").
const uint8_t* KeyLayout(int keyboardType, int player);

// A seat's three keys as virtual-key codes, in this order.
enum : int { SEAT_KEY_LEFT, SEAT_KEY_ITEM, SEAT_KEY_RIGHT, kSeatKeys };
using SeatKeyCodes = std::array<uint8_t, kSeatKeys>;
// The keys seat `player` plays with: its own keys (CRound::ownKeys, set on
// the key screen or in the settings file) when it has them, else its keys
// in the layout of the keyboard type. The round, the round intro and the
// key screen all read a seat's keys here.
SeatKeyCodes SeatKeys(int player);
// Keys the game answers to itself during a round (pause, the speed keys,
// fast-forward, screenshots, the window switch); no seat may take them.
bool IsReservedKey(uint32_t vk);
// A key's label for the screens: what the keyboard layout prints on it, in
// at most three characters that the font draws ("Q", "l" for the Left
// arrow, "SPC" for Space).
void ShownKeyLabel(uint32_t vk, char (&label)[4]);
// A key's whole name for messages, as the layout prints it: "LEFT ALT",
// "PAGE UP", "SPACE", "KEYPAD 3", in capitals and characters the font
// draws; at most size - 1 characters.
void ShownKeyName(uint32_t vk, char* text, size_t size);
// The seat's keys as the round intro shows them: "QAZ", or the labels with
// blanks between when one is longer than a character ("SPC K L").
void SeatKeysText(int player, char* text, size_t size);

// Shapes drawn on the playfield stay in its interior (right and bottom
// exclusive, as shape clips are).
constexpr ClipRect kPlayClip{kInteriorLeft, kInteriorTop, kInteriorRight + 1, kInteriorBottom + 1};
constexpr int kScrollViewSize = 80;

// The per-round numbers of the round object: one plain record, so that
// setting the live round aside and comparing rounds take it whole. Two
// machines that play the same round have the same RoundState.
struct RoundState {
    // The phase counters (kPhaseCounters); never reset, so a round starts
    // at the phase where the previous one stopped.
    uint8_t phase[kPhaseCounters];
    uint8_t scrollPlay;
    uint16_t stageEffect;  // a StageEffect
    uint16_t stageIndex;   // the entry of the start's stage list
    int32_t roundSeconds;
    int32_t frameCounter;
    int32_t wait;  // GAME_WAIT: the round's speed

    template <class F>
    constexpr void Fields(F&& f) const {
        f(phase), f(scrollPlay), f(stageEffect), f(stageIndex), f(roundSeconds), f(frameCounter), f(wait);
    }
    bool operator==(const RoundState&) const = default;
};
static_assert(ListsEveryField<RoundState>());

// What an empty player panel tells the players: nothing, or, once only
// computer players are left, that the round can be hurried along.
enum RoundHint : uint8_t {
    HINT_NONE = 0,
    HINT_CTRL_FAST,  // "CTRL: FAST FORWARD"
    HINT_AUTO_FAST,  // AUTO_FAST is hurrying it along
};

// What the round holds on this machine only: the one-second clock's mark,
// its surfaces, among them the one it draws into and tests (the visible
// surface in normal play, the playfield surface in scroll play), and the
// hint it shows.
struct RoundLocals {
    uint32_t lastSecondMs;
    // The one-second clock counts game time, not the wall's: a frame whose
    // wait AUTO_FAST cut short counts as long as its wait would have lasted,
    // so that hurrying a round along changes no second and no score. This
    // is how far game time has run ahead of the wall clock in this round.
    int64_t clockAheadUs;
    uint32_t frameWallMs;     // the wall clock at the last tick check
    uint8_t autoFastedFrame;  // the frame before it was cut short by AUTO_FAST
    SurfaceId playfieldSurface;
    SurfaceId scrollViewSurface;
    SurfaceId fieldSurface;
    uint8_t hint;         // the RoundHint on the visible surface
    uint8_t hintPanel;    // the slot whose empty panel shows it
    uint8_t replayShown;  // a replay plays: "REPLAY" stands on the status line

    bool operator==(const RoundLocals&) const = default;
};

// SAFE_STARTS: the way straight ahead that a random start must find open:
// more than a line runs in its first second at the default WAIT (104
// steps), so that no line dies before a player or a computer can steer.
constexpr int kSafeStartAheadPx = 120;
constexpr int kSafeStartLanePixels = kSafeStartAheadPx + 1;  // the start pixel and each step's
// The pixels of the ways ahead of the lines placed so far.
struct SafeStartLanes {
    int count;
    int16_t x[kPlayers * kSafeStartLanePixels];
    int16_t y[kPlayers * kSafeStartLanePixels];
};

// What one round frame ended with.
enum FrameResult : int {
    FRAME_GO_ON = 0,
    FRAME_PAUSE_NEXT = ROUND_NEXT,  // left through the pause menu
    FRAME_PAUSE_EXIT = ROUND_EXIT,
    FRAME_ROUND_OVER = 3,  // at most one line left; scored
};

class CRound {
public:
    CRound();
    ~CRound();

    // ---- match and player state ----
    void ResetMatch();
    // The round counter: 0 in the first round of a match. The match loop
    // advances it after every round; the intro and the status line show
    // RoundNumber().
    void NextRound() { roundCounter++; }
    int RoundNumber() const { return roundCounter + 1; }
    int CountAlive() const;
    int PickOtherAlive(int i);
    void GiveItems(PlayerSlot& slot, int i, int kind, int n, bool redraw);

    // ---- the round loop ----
    void Setup(const RoundStart& start);
    void LoadStage();
    void DrawStart(PlayerSlot& slot, const StageEntry& stage, int i);
    // SAFE_STARTS: draws slot i's random start again until its way ahead is
    // open, then adds that way to the lanes.
    void RedrawUnsafeStart(PlayerSlot& slot, const StageEntry& stage, int i, SafeStartLanes& lanes);
    static bool StartIsSafe(const PlayerSlot& slot, const SurfaceDesc& field, const SafeStartLanes& lanes);
    void PlotStarts();
    void Countdown();
    // A frame begins: the phase counters and the frame counter move on.
    // Returns the number of the frame, for which its input is then filled.
    int32_t NextFrame();
    // Runs the frame on its input, in the fixed order; returns FRAME_GO_ON,
    // the pause menu's choice (input.leave), or FRAME_ROUND_OVER once the
    // round has been scored. Presses of a seat that did not act are taken
    // out of input.seats. Computer seats choose through think.
    int Frame(FrameInput& input, ComputerThink think);
    void Teardown();
    void TickPhases();
    // The one-second clock ticked: the round's second, the TIME digits, the
    // closing border.
    void TickSecond();
    bool IsOver();
    void ScoreRound();
    void DrawStatus(SurfaceId surface);
    void DrawPanel(SurfaceId surface, int i);
    void ClearPanel(int i);
    void DrawScrollViews(SurfaceId target, bool framed, bool waitVBlank);
    // Where slot i's scroll view stands on the screen (its top-left pixel).
    static void ScrollViewAt(int i, int* x, int* y);
    void ChangeWait(int delta);
    // WAIT kept within 0..9999 (the settings file may hold anything).
    static int32_t LimitWait(int64_t wait) { return int32_t(wait < 0 ? 0 : (wait > kMaxWait ? kMaxWait : wait)); }
    void SprinkleDots(uint8_t* pixels, int pitch);
    void CloseBorder();
    // No human seat is alive: only computer players play on. AUTO_FAST then
    // cuts each frame's wait as a held Control key does.
    bool OnlyComputersLeft() const;
    // The hint wanted now and the slot whose empty panel shows it.
    RoundHint WantedHint(int* panel) const;
    // Puts the wanted hint on the visible surface when it changed.
    void UpdateHint();
    void DrawHint(SurfaceId surface, int panel, RoundHint hint);
    // The winner's match counter rises when a round ends with a winner.
    void CountWin();

    // ---- movement and trail collision ----
    void Advance(PlayerSlot& slot);
    void PlotTrail(PlayerSlot& slot, int i, uint8_t* pixels, int pitch);
    void ResolveHit(PlayerSlot& slot, int i);
    void HandleKeys(PlayerSlot& slot, int i, uint8_t presses);
    void Turn(PlayerSlot& slot, int delta);
    void CircleExplosion(PlayerSlot& slot, int i);
    // The look-ahead ray along a heading of any sign and size: 0 when the way
    // is clear for every step, else the 1-based step at which it is blocked.
    // Items lying on the field do not block it; with diagonalCheck a gap
    // between two corner-touching pixels does. Without `items`, those of
    // the live round.
    static int ProbeClearance(float x, float y, int heading, int steps, const uint8_t* pixels, int pitch,
                              bool diagonalCheck, const CItemManager& items);
    static int ProbeClearance(float x, float y, int heading, int steps, const uint8_t* pixels, int pitch,
                              bool diagonalCheck);

    // ---- computer players ----
    // What seat i's computer player sees in this frame: the round as it
    // stands, read only, with `self` as its slot, the field's pixels and
    // the items lying on it.
    ComputerView ViewFor(int i, const PlayerSlot& self, const uint8_t* pixels, int pitch,
                         const CItemManager& items) const;
    // A computer player's presses act as a player's keys do, through the
    // same turn, but count toward no turn reward; its item is asked for,
    // and served at the start of the slot's next acting frame.
    void ApplyComputerPresses(PlayerSlot& slot, SeatPresses presses);

    // The stage entry of the running round (Setup chose it).
    const StageEntry& Stage() const;

    // Exchanges everything the match and its running round own with another
    // round object: the round counter, the start, the numbers, the slots and
    // their held items, the effect containers with their surfaces. The same
    // call sets the live match aside for a replay and puts it back. The
    // settings kept in the round (explosions) stay; the settings table
    // restores them.
    void Exchange(CRound& other);

    uint16_t roundCounter;
    RoundStart start;
    RoundState state;
    RoundLocals local;
    PlayerSlot players[kPlayers];
    CDataList heldItems[kPlayers];
    // KEYS_1P..KEYS_4P: each seat's own keys, all 0 for its layout (SeatKeys).
    uint8_t ownKeys[kPlayers][kSeatKeys];
    int8_t explosionType;         // EXPLOTION_TYPE
    uint16_t explosionValues[4];  // EXPLOSION_VALUE_*
    uint8_t headMarker;           // HEAD_MARKER: live heads marked on the picture shown
    uint8_t autoFast;             // AUTO_FAST: fast-forward once only computer players are left
    int32_t matchRounds;          // MATCH_ROUNDS: rounds in a match; 0 has no end
    uint8_t safeStarts;           // SAFE_STARTS: random starts drawn again until the way ahead is free
    CMissile missile;
    CParticle particle;
    CMeteorite meteorite;
    CPingPong pingPong;
    CMold mold;
};

extern CRound theRound;
