// CKeyScreen: the key-setting screen, reached from the options menu. A
// player picks a seat and presses its three new keys (turn left, use item,
// turn right); they become the seat's own keys (CRound::ownKeys), which the
// settings file keeps.
#pragma once
#include <cstdint>

#include "core/app.h"
#include "match/round.h"

class CKeyScreen {
public:
    CKeyScreen();

    // The screen; returns when the player leaves it with "EXIT" or Escape.
    void Run();
    // One frame's keys; false when the screen is to be left.
    bool HandleKeys();
    void Draw();

    // Rows: the four seats, then "EXIT".
    static constexpr int kExitRow = kPlayers;
    int32_t cursor;
    // The seat whose keys are being pressed, -1 for none; how many of its
    // three keys are in, and those keys.
    int32_t capturing;
    int32_t captured;
    uint8_t newKeys[kSeatKeys];
    // The line under the table: what to press next, or why a key was refused.
    char message[41];
    SurfaceId titleSurface;

    // A row's text: a seat's keys ("1P Q     A     Z    "), or "EXIT".
    void RowText(int row, char* text, size_t size) const;

private:
    void StartCapture(int seat);
    void TakeCapturedKey(uint32_t vk);
    void ResetSeat(int seat);
};
