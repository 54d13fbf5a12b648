// Gamepads, driven through SDL's virtual joysticks headless on the test
// clock: slots as pads come and go, a pad steering its seat in a round (and
// only its seat), the pause menu and the title worked with a pad, and a
// round played with pads leaving the settings file alone.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "items/itemmanager.h"
#include "match/round.h"
#include "screens/roundintro.h"
#include "screens/roundplay.h"
#include "screens/stageselect.h"
#include "screens/title.h"
#include "tests/testutil.h"

using testutil::VirtualPad;

namespace {

constexpr uint32_t kNsPerPump = 1500;  // WAIT 80 = 2.4 ms frames

// Seats 1 and 3 are people (seat 3 on the arrow keys), seat 2 a computer.
const char kThreeSeats[] = "FILE=EMPTY.PNG\nTITLE=EMPTY\n1P=100,100,0\n2P=320,240,90\n3P=540,380,180\n4P=-1,-1,-1\n";

class PadRoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        testutil::StartRoundsHeadless(kNsPerPump);
        ASSERT_EQ(plat::ConnectedPads(), 0) << "a pad was left plugged in";
        m_savedWait = theRound.state.wait;
        theRound.state.wait = 80;
        theRound.explosionType = 0;
        theRound.explosionValues[0] = 16;
        theItemManager.itemMax = 0;
        theApp.keyboardType = 0;
        const int8_t types[kPlayers] = {PLAYER_MAN, PLAYER_EASY, PLAYER_MAN, PLAYER_NON};
        for (int i = 0; i < kPlayers; i++) theRound.players[i].type = types[i];
        theRound.roundCounter = 0;
        testutil::WriteStageList(m_dir.path(), kThreeSeats);
    }
    void TearDown() override {
        if (theRound.local.playfieldSurface) theRound.Teardown();
        theRound.state.wait = m_savedWait;
        theItemManager.itemMax = 1;
        for (PlayerSlot& slot : theRound.players) slot.type = PLAYER_MAN;
        plat::FlushMessages();
        theApp.ClearKeys();
    }

    void StartRound() {
        testutil::ScopedCwd cwd(m_dir.path());
        theStageSelect.cursor = SELECT_NORMAL_GAME;
        theRound.Setup(ChosenRoundStart());
        theDirectDraw.CopyScreen(0, theRound.local.playfieldSurface);
        theRound.local.lastSecondMs = plat::TimeMs();
    }

    int Frames(int n) {
        int result = FRAME_GO_ON;
        for (int k = 0; k < n && result == FRAME_GO_ON; k++) result = PlayFrame();
        return result;
    }

    testutil::TempDir m_dir;
    int32_t m_savedWait = 80;
};

}  // namespace

// The lowest free slot goes to each new pad; a fifth waits and takes the
// first slot that frees; unplugging a pad releases what it held.
TEST(PadSlots, LowestFreeSlotAndAWaitingFifthPad) {
    testutil::StartHeadlessDisplay();
    auto a = std::make_unique<VirtualPad>();
    auto b = std::make_unique<VirtualPad>();
    auto c = std::make_unique<VirtualPad>();
    auto d = std::make_unique<VirtualPad>();
    EXPECT_EQ(a->slot(), 0);
    EXPECT_EQ(b->slot(), 1);
    EXPECT_EQ(c->slot(), 2);
    EXPECT_EQ(d->slot(), 3);
    VirtualPad fifth;
    EXPECT_EQ(fifth.slot(), -1);
    fifth.Set(plat::PAD_SOUTH, true);
    for (const auto& pad : theApp.padState) EXPECT_EQ(pad[plat::PAD_SOUTH], 0) << "a pad without a slot is ignored";
    fifth.Set(plat::PAD_SOUTH, false);

    // Pad b holds its d-pad left when it is unplugged: the game sees it let go.
    b->Set(plat::PAD_LEFT, true);
    EXPECT_EQ(theApp.padState[1][plat::PAD_LEFT], 1);
    EXPECT_EQ(theApp.anyKeyFlag, 1);
    b.reset();
    EXPECT_EQ(theApp.padState[1][plat::PAD_LEFT], 0);
    EXPECT_EQ(fifth.slot(), 1) << "the waiting pad takes the freed slot";
    fifth.Set(plat::PAD_RIGHT, true);
    EXPECT_EQ(theApp.padState[1][plat::PAD_RIGHT], 1);
    fifth.Set(plat::PAD_RIGHT, false);
    EXPECT_EQ(theApp.padState[1][plat::PAD_RIGHT], 0);

    a.reset();
    VirtualPad late;
    EXPECT_EQ(late.slot(), 0);
    EXPECT_EQ(plat::ConnectedPads(), 4);
}

// Pad 1 steers seat 1: left and right on the d-pad or the shoulders, one
// 30-degree turn per press, nothing more while held; south uses an item once
// per press. Pad 1's d-pad never reaches seat 3, which plays on the arrow
// keys; the computer in seat 2 leaves its pad's presses untaken.
TEST_F(PadRoundTest, APadSteersItsOwnHumanSeatOnly) {
    VirtualPad pad1, pad2;
    ASSERT_EQ(pad1.slot(), 0);
    ASSERT_EQ(pad2.slot(), 1);
    StartRound();
    PlayerSlot& p1 = theRound.players[0];
    PlayerSlot& p3 = theRound.players[2];
    const int h3 = p3.heading;
    const int h1 = p1.heading;

    pad1.Set(plat::PAD_LEFT, true);
    EXPECT_EQ(Frames(5), FRAME_GO_ON);
    EXPECT_EQ(p1.heading, (h1 + 30) % 360);
    EXPECT_EQ(p1.leftTurns, 1) << "held: still one turn";
    pad1.Set(plat::PAD_LEFT, false);
    pad1.Set(plat::PAD_LSHOULDER, true);
    Frames(3);
    EXPECT_EQ(p1.heading, (h1 + 60) % 360);
    pad1.Set(plat::PAD_LSHOULDER, false);
    pad1.Press(plat::PAD_RIGHT, [&] { Frames(2); });
    pad1.Press(plat::PAD_RSHOULDER, [&] { Frames(2); });
    pad1.Press(plat::PAD_RIGHT, [&] { Frames(2); });
    EXPECT_EQ(p1.heading, (h1 + 330) % 360);
    EXPECT_EQ(p1.leftTurns, 2);
    EXPECT_EQ(p1.rightTurns, 3);
    EXPECT_EQ(p3.heading, h3) << "pad 1's d-pad is not the arrow keys";
    EXPECT_EQ(theApp.keyState[plat::VK_LEFT], 0);
    EXPECT_EQ(theApp.keyState[plat::VK_RIGHT], 0);

    // The item button: one use per press.
    pad1.Set(plat::PAD_SOUTH, true);
    EXPECT_EQ(TakeSeatKeys(0), SEAT_ITEM);
    EXPECT_EQ(TakeSeatKeys(0), 0);
    pad1.Set(plat::PAD_SOUTH, false);
    pad1.Set(plat::PAD_SOUTH, true);
    EXPECT_EQ(TakeSeatKeys(0), SEAT_ITEM);
    pad1.Set(plat::PAD_SOUTH, false);

    // Keys and pad together make one set of presses.
    theApp.keyState['Q'] = 1;
    pad1.Set(plat::PAD_RSHOULDER, true);
    EXPECT_EQ(TakeSeatKeys(0), SEAT_LEFT | SEAT_RIGHT);
    pad1.Set(plat::PAD_RSHOULDER, false);

    // Seat 2 is a computer: its pad's press is never taken.
    pad2.Set(plat::PAD_LEFT, true);
    EXPECT_EQ(Frames(3), FRAME_GO_ON);
    EXPECT_EQ(theApp.padState[1][plat::PAD_LEFT], 1);
    EXPECT_EQ(theRound.players[1].leftTurns, 0);
}

// Plugging and unplugging during play: pad 1 is pulled while it holds a
// turn, and the seat's table entry goes up; a new pad takes slot 0 and
// steers seat 1 from its first press.
TEST_F(PadRoundTest, HotPluggingDuringARound) {
    auto pad1 = std::make_unique<VirtualPad>();
    VirtualPad pad2;
    StartRound();
    PlayerSlot& p1 = theRound.players[0];
    const int h1 = p1.heading;
    pad1->Set(plat::PAD_LEFT, true);
    Frames(2);
    EXPECT_EQ(p1.heading, (h1 + 30) % 360);
    pad1.reset();
    EXPECT_EQ(theApp.padState[0][plat::PAD_LEFT], 0);
    EXPECT_EQ(Frames(3), FRAME_GO_ON);
    EXPECT_EQ(p1.heading, (h1 + 30) % 360);

    VirtualPad replacement;
    EXPECT_EQ(replacement.slot(), 0);
    EXPECT_EQ(pad2.slot(), 1);
    replacement.Press(plat::PAD_RIGHT, [&] { EXPECT_EQ(Frames(2), FRAME_GO_ON); });
    EXPECT_EQ(p1.heading, h1);
    EXPECT_EQ(p1.rightTurns, 1);
}

// The start button pauses a round, the d-pad and south work the menu
// ("NEXT ROUND"); east resumes from the menu but does not pause play. Nothing
// of it touches the settings file in the game folder.
TEST_F(PadRoundTest, StartPausesAndThePadWorksTheMenu) {
    const std::string options = "; settings\r\nWAIT=80\r\nBGM=3\r\n";
    testutil::WriteFile(m_dir.File("option.txt"), options);
    VirtualPad pad;
    VirtualPad other;
    testutil::ScopedCwd cwd(m_dir.path());
    StartRound();
    Frames(5);

    // East in play: no pause.
    int32_t frame = theRound.state.frameCounter;
    pad.Set(plat::PAD_EAST, true);
    EXPECT_EQ(Frames(1), FRAME_GO_ON);
    EXPECT_EQ(theRound.state.frameCounter, frame + 1);
    pad.Set(plat::PAD_EAST, false);

    // Start from the second pad opens the menu; east there resumes.
    uint32_t t = plat::TimeMs();
    other.Set(plat::PAD_START, true);
    pad.ScriptPress(t + 100, plat::PAD_DOWN);
    pad.ScriptPress(t + 200, plat::PAD_EAST);
    int32_t total = theRound.players[0].totalScore;
    EXPECT_EQ(Frames(1), FRAME_GO_ON);
    EXPECT_GT(plat::TimeMs() - t, 200u) << "the menu was open";
    other.Set(plat::PAD_START, false);

    // Start, Down, South: "NEXT ROUND", without scores.
    t = plat::TimeMs();
    pad.Set(plat::PAD_START, true);
    pad.ScriptPress(t + 100, plat::PAD_DOWN);
    pad.ScriptPress(t + 200, plat::PAD_SOUTH);
    for (int k = 0; k < 3; k++) pad.ScriptPress(t + 1000 + 100 * k, plat::PAD_EAST);  // a missed press ends it anyway
    EXPECT_EQ(Frames(1), FRAME_PAUSE_NEXT);
    EXPECT_EQ(theRound.players[0].totalScore, total);
    pad.Set(plat::PAD_START, false);

    EXPECT_EQ(testutil::ReadFile(m_dir.File("option.txt")), options);
}

// The title menu with a pad: the d-pad moves the cursor and changes a
// player's type once per press, south acts as Return.
TEST(PadMenus, TitleWorkedWithAPad) {
    testutil::StartHeadlessDisplay();
    const int32_t savedCursor = theTitle.cursor;
    const int8_t savedType = theRound.players[0].type;
    theTitle.cursor = 0;  // "START"
    theRound.players[0].type = PLAYER_MAN;
    VirtualPad idle, pad;  // the working pad is number 2: any pad works the menus

    pad.Set(plat::PAD_DOWN, true);
    theTitle.HandleMenuKeys();
    theTitle.HandleMenuKeys();  // held: one step
    EXPECT_EQ(theTitle.cursor, 1);
    pad.Set(plat::PAD_DOWN, false);
    pad.Press(plat::PAD_RIGHT, [] { theTitle.HandleMenuKeys(); });
    EXPECT_NE(theRound.players[0].type, PLAYER_MAN);
    pad.Press(plat::PAD_LEFT, [] { theTitle.HandleMenuKeys(); });
    EXPECT_EQ(theRound.players[0].type, PLAYER_MAN);
    pad.Press(plat::PAD_SOUTH, [] { theTitle.HandleMenuKeys(); });
    EXPECT_NE(theRound.players[0].type, PLAYER_MAN) << "south is Return: it cycles the type";
    pad.Press(plat::PAD_UP, [] { theTitle.HandleMenuKeys(); });
    EXPECT_EQ(theTitle.cursor, 0);
    // The start button is no key in the menus (Escape would leave the game).
    pad.Press(plat::PAD_START, [] { theTitle.HandleMenuKeys(); });
    EXPECT_EQ(theTitle.cursor, 0);

    theTitle.cursor = savedCursor;
    theRound.players[0].type = savedType;
}

// The item button is south, which is Return in menus: holding it as the
// round ends must not choose on the result screen; a new press does.
TEST_F(PadRoundTest, AButtonHeldFromPlayDoesNotChooseOnTheResults) {
    testutil::WriteStageList(m_dir.path(),
                             "FILE=EMPTY.PNG\nTITLE=EMPTY\n1P=100,30,90\n2P=320,240,0\n3P=-1,-1,-1\n4P=-1,-1,-1\n");
    const int8_t types[kPlayers] = {PLAYER_MAN, PLAYER_MAN, PLAYER_NON, PLAYER_NON};
    for (int i = 0; i < kPlayers; i++) theRound.players[i].type = types[i];
    VirtualPad pad;
    testutil::ScopedCwd cwd(m_dir.path());
    theStageSelect.cursor = SELECT_NORMAL_GAME;
    uint32_t t = plat::TimeMs();
    pad.Set(plat::PAD_SOUTH, true);  // held through the countdown and the round
    plat::ScriptPadButton(t + 7900, pad.handle(), plat::PAD_SOUTH, false);
    pad.ScriptPress(t + 8000, plat::PAD_DOWN);
    pad.ScriptPress(t + 8200, plat::PAD_SOUTH);
    EXPECT_EQ(PlayRound(ChosenRoundStart()), ROUND_EXIT);
    EXPECT_GT(plat::TimeMs() - t, 8200u);
    EXPECT_EQ(theRound.players[0].alive, 0);
}
