// Reading RIFF WAVE files: the part of the multimedia file functions
// (open, descend into a chunk, read, ascend, close) that loading a sound
// effect needs, with every length checked against the file.
#pragma once
#include <cstdint>
#include <cstdio>

#include "platform/audio.h"

// The fields of a "fmt " chunk, the PCM part and the two bytes after it.
struct WaveFormat {
    uint16_t formatTag;  // 1 is PCM
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t extraBytes;
};

struct WaveData {
    WaveFormat format;
    uint8_t* samples;  // the "data" chunk, from CApp::Alloc
    uint32_t bytes;
};

// Reads a PCM WAVE file from its start. False for anything that is not one:
// no "RIFF"/"WAVE" header, a "fmt " chunk shorter than 18 bytes, a format
// other than PCM, no "data" chunk (or an empty one) after the "fmt " chunk,
// a chunk whose size runs past the end of the file, a file cut short. On
// success `samples` holds the data and the caller frees it with
// CApp::Free; on failure nothing is left allocated.
bool ReadWaveFile(FILE* file, WaveData* wave);

// The platform voice format of a wave.
plat::PcmFormat PcmFormatOf(const WaveFormat& format);
