// RIFF WAVE reading. A RIFF file is a tree of chunks, each an id of four
// characters, a 32-bit little-endian size and that many bytes of data (plus
// one pad byte when the size is odd). A WAVE file is one "RIFF" chunk of
// form "WAVE" holding a "fmt " chunk and, after it, a "data" chunk; other
// chunks may come between and are skipped. The search for a chunk walks
// forward from where the last one ended, as descending into chunks does.
#include "sound/wavefile.h"

#include <cstring>

#include "core/app.h"
#include "core/bytes.h"

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint32_t kFormatChunkBytes = 18;

struct Chunk {
    char id[4];
    uint32_t bytes;
    long dataAt;  // file offset of the chunk's data
};

bool ReadExact(FILE* f, void* into, size_t bytes) { return std::fread(into, 1, bytes, f) == bytes; }

long FileLength(FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    long length = std::ftell(f);
    if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
    return length;
}

// Reads the chunk header at the current position; the chunk must end by
// `end` (the end of its parent, which itself ends within the file).
bool ReadChunkHeader(FILE* f, long end, Chunk* chunk) {
    long at = std::ftell(f);
    uint8_t header[8];
    if (at < 0 || end - at < 8 || !ReadExact(f, header, sizeof header)) return false;
    std::memcpy(chunk->id, header, 4);
    chunk->bytes = ReadLe32(header + 4);
    chunk->dataAt = at + 8;
    return chunk->bytes <= static_cast<unsigned long>(end - chunk->dataAt);
}

// Moves to just past a chunk and its pad byte (the pad may be missing at
// the very end of the parent).
bool LeaveChunk(FILE* f, const Chunk& chunk, long end) {
    long next = chunk.dataAt + static_cast<long>(chunk.bytes) + (chunk.bytes & 1);
    return std::fseek(f, next < end ? next : end, SEEK_SET) == 0;
}

// Walks forward to the chunk with this id; the position is left at its data.
bool FindChunk(FILE* f, long end, const char* id, Chunk* chunk) {
    for (;;) {
        if (!ReadChunkHeader(f, end, chunk)) return false;
        if (std::memcmp(chunk->id, id, 4) == 0) return true;
        if (!LeaveChunk(f, *chunk, end)) return false;
    }
}

// Enters the "RIFF" chunk of form "WAVE"; gives the end of its data.
bool EnterWaveForm(FILE* f, long fileLength, long* riffEnd) {
    Chunk riff;
    char form[4];
    if (!ReadChunkHeader(f, fileLength, &riff) || std::memcmp(riff.id, "RIFF", 4) != 0) return false;
    if (riff.bytes < 4 || !ReadExact(f, form, 4) || std::memcmp(form, "WAVE", 4) != 0) return false;
    *riffEnd = riff.dataAt + static_cast<long>(riff.bytes);
    return true;
}

bool ReadFormat(FILE* f, long riffEnd, WaveFormat* format) {
    Chunk chunk;
    uint8_t raw[kFormatChunkBytes];
    if (!FindChunk(f, riffEnd, "fmt ", &chunk) || chunk.bytes < kFormatChunkBytes) return false;
    if (!ReadExact(f, raw, sizeof raw)) return false;
    format->formatTag = ReadLe16(raw);
    format->channels = ReadLe16(raw + 2);
    format->samplesPerSec = ReadLe32(raw + 4);
    format->avgBytesPerSec = ReadLe32(raw + 8);
    format->blockAlign = ReadLe16(raw + 12);
    format->bitsPerSample = ReadLe16(raw + 14);
    format->extraBytes = ReadLe16(raw + 16);
    return format->formatTag == kFormatPcm && LeaveChunk(f, chunk, riffEnd);
}

bool ReadSamples(FILE* f, long riffEnd, WaveData* wave) {
    Chunk chunk;
    if (!FindChunk(f, riffEnd, "data", &chunk) || chunk.bytes == 0) return false;
    wave->samples = static_cast<uint8_t*>(CApp::Alloc(chunk.bytes, "Out of memory"));
    wave->bytes = chunk.bytes;
    return ReadExact(f, wave->samples, chunk.bytes);
}

}  // namespace

bool ReadWaveFile(FILE* file, WaveData* wave) {
    *wave = WaveData{};
    long fileLength = FileLength(file);
    long riffEnd = 0;
    bool ok = fileLength >= 0 && EnterWaveForm(file, fileLength, &riffEnd) &&
              ReadFormat(file, riffEnd, &wave->format) && ReadSamples(file, riffEnd, wave);
    if (!ok) {
        CApp::Free(wave->samples);
        wave->samples = nullptr;
        wave->bytes = 0;
    }
    return ok;
}

plat::PcmFormat PcmFormatOf(const WaveFormat& format) {
    return plat::PcmFormat{format.channels, format.samplesPerSec, format.bitsPerSample};
}
