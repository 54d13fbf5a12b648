// Checks the match runner makes after every round frame: what the engine
// must never do, whatever the computer players and the effects get up to.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class CRoundInvariants {
public:
    // Takes the reference picture right after the round's set-up.
    void Begin();
    // Empty when everything holds, else what broke.
    std::string Check();

private:
    std::string CheckOutsideField();
    // Whether the held pixels of the field (pixels) are what the game's rules
    // make of the reference in one frame: the field rows mirrored (bit 1
    // left to right, bit 2 top to bottom) and the trails of live players
    // cleared, whose bits (bit p: player p) it sets in wiped.
    bool Follows(int mirror, const uint8_t* pixels, int* wiped) const;
    std::string CheckLines();
    std::string CheckItems() const;

    // Pixels of the field surface that the frames must leave as they are,
    // with their offsets into the surface.
    std::vector<uint32_t> m_offsets;
    std::vector<uint8_t> m_values;
    // For each held pixel, the held pixel it comes from under each mirror
    // (index 0: itself).
    std::vector<uint32_t> m_mirrored[4];
    uint8_t m_alive[4] = {};
    int m_aliveCount = 0;
    // Each head's start pixel, and whether the head is still on it: a stage
    // may start a line on the outline, where it lives until its first step.
    int m_startX[4] = {}, m_startY[4] = {};
    bool m_onStart[4] = {};
};
