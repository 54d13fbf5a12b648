// Little-endian numbers in the game's binary files (sounds, replays), and
// their checksum.
#pragma once
#include <cstddef>
#include <cstdint>

// The CRC-32 of the bytes, continuing from crc (the checksums of replays,
// of the data set and of a match's state).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

inline uint16_t ReadLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

inline uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
