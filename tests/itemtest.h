// A round on a test stage for the item tests: a scratch game folder with an
// empty stage, the generated pictures and sounds, the test clock, and ways
// to see which sound effects played and to lay items and walls on the field.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "items/itemmanager.h"
#include "match/round.h"
#include "tests/testutil.h"

class ItemRound : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the stage list (stages on EMPTY.PNG, open ground) and loads it.
    void WriteStages(const std::string& list);
    // Players 1..n as human slots; set-up and a clean picture as the
    // countdown leaves it, without its waits.
    void StartRound(int players, bool scroll);
    int Frames(int n);
    // Runs body(scroll) on a fresh round in normal play, then in scroll play.
    template <class F>
    void InBothPlayModes(int players, F body) {
        for (bool scroll : {false, true}) {
            SCOPED_TRACE(scroll ? "scroll play" : "normal play");
            StartRound(players, scroll);
            body(scroll);
        }
    }

    uint8_t Field(int x, int y) const { return testutil::PixelAt(theRound.local.fieldSurface, x, y); }
    void SetField(int x, int y, uint8_t value);
    std::vector<uint8_t> FieldBytes() const;
    // An item of the kind on the field at (x, y), drawn at once.
    void PlaceItem(int kind, int x, int y);
    // The picture of a kind replaced by a 24x24 one of the test's own.
    void UsePicture(int kind, SurfaceId picture);
    SurfaceId SolidPicture(uint8_t value);

    // Stops every effect voice; afterwards Sounded tells which were played.
    void Silence();
    bool Sounded(int effect) const;

    // Display refreshes waited for since the given test-clock time.
    static int RefreshesSince(uint64_t startUs);

    void Place(int player, float x, float y, int heading);

    testutil::TempDir m_dir;
    SurfaceId m_savedPictures[kItemKinds] = {};
    std::vector<SurfaceId> m_made;
};

// Whether the field rows 16..431 keep their outline and, in scroll play,
// the playfield surface holds nothing outside those rows.
::testing::AssertionResult BorderIntact();
