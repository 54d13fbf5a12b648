// CRound: the round object with its four player records.
#pragma once
#include <cstdint>

#include "app/app.h"
#include "app/datalist.h"
#include "match/effects.h"

enum PlayerType : uint8_t {
    PLAYER_MAN = 0,
    PLAYER_NON = 1,
    PLAYER_EASY = 2,
    PLAYER_NORMAL = 3,
    PLAYER_HARD = 4,
};
constexpr int kPlayerTypes = 5;
extern const char kPlayerTypeNames[kPlayerTypes][20];
// A type outside the table (read from a damaged settings file) stands for
// an empty seat wherever the game looks at it; the stored value is kept.
int EffectivePlayerType(int type);
// The name of a player type; values outside the table read as "NON".
const char* PlayerTypeName(int type);

// A record of a slot's held-items list: one item kind.
struct HeldItem {
    uint16_t kind;
};

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
    CDataList heldItems;
    int32_t mirrorEnd;
    int32_t noTrailEnd;
    int32_t stoppedUntil;
    int32_t gravityEnd;
    int32_t invincibleEnd;
    uint8_t useItemRequest;
};

constexpr int kPlayers = 4;

// Key layouts of the four human players, [keyboard type][player][6]: three
// label characters for the round intro, then the virtual keys for turn left
// (+30 degrees), use item and turn right (-30 degrees).
enum : int { KEY_LABEL0 = 0, KEY_LEFT = 3, KEY_ITEM = 4, KEY_RIGHT = 5 };
extern const uint8_t kKeyLayouts[2][kPlayers][6];
// The layout of one player. The keyboard type comes from the settings file
// unchecked: 0 is the desktop layout, every other value the notebook layout
// (the options menu shows any non-zero type as "NOTE").
const uint8_t* KeyLayout(int keyboardType, int player);

class CRound {
public:
    CRound();
    ~CRound();

    void ResetMatch();
    int Run();
    int CountAlive() const;

    uint8_t phase[5];
    uint32_t lastSecondMs;
    SurfaceId scrollViewSurface;
    uint16_t stageEffect;
    int32_t roundSeconds;
    int32_t wait;                   // GAME_WAIT
    SurfaceId playfieldSurface;
    uint16_t stageIndex;
    PlayerSlot players[kPlayers];
    int8_t explosionType;           // EXPLOTION_TYPE
    uint16_t explosionValues[4];    // EXPLOSION_VALUE_*
    int32_t clipLeft, clipTop, clipRight, clipBottom;
    int32_t frameCounter;
    uint8_t scrollPlay;
    SurfaceId fieldSurface;
    CMeteorite meteorite;
};

extern CRound theRound;
