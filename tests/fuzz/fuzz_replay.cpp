// The replay reader on arbitrary bytes: every input is refused with a reason
// or read whole; what is read writes back to the very same bytes, and its
// event stream walks to its end within the round's frames. Each input is
// also read once more with its header's length and checksum made to fit, so
// that the body's own checks get the mutations the checksum would refuse.
#include <cstdlib>
#include <cstring>

#include "core/bytes.h"
#include "replay/replay.h"
#include "tests/fuzz/fuzzutil.h"

namespace {

ReplayData g_read;
uint8_t g_written[kReplayFileMax];
uint8_t g_sealed[kReplayFileMax];

void CheckRead(const uint8_t* data, size_t size, ReplayReadResult result) {
    if (result != REPLAY_READ_OK) {
        if (!ReplayReadText(result)[0]) std::abort();
        return;
    }
    size_t written = EncodeReplay(g_read, g_written, sizeof g_written);
    if (written != size || std::memcmp(g_written, data, size) != 0) std::abort();
    size_t offset = 0;
    int32_t frame = 0;
    ReplayEvent event;
    while (NextReplayEvent(g_read, &offset, frame, &event)) {
        if (event.frame < frame || event.frame > g_read.lastFrame) std::abort();
        frame = event.frame;
    }
    if (offset != g_read.eventBytes) std::abort();
}

void PutU32(uint8_t* at, uint32_t v) {
    for (int k = 0; k < 4; k++) at[k] = uint8_t(v >> (8 * k));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteInput("replay.rpl", data, size);
    const std::string path = fuzz::GameDir() + "/replay.rpl";
    ReplayReadResult result = LoadReplayFile(path.c_str(), &g_read);
    if (size > kReplayFileMax) return 0;  // the file reader stops at the largest replay
    if (result != DecodeReplay(data, size, &g_read)) std::abort();
    CheckRead(data, size, result);

    if (size < kReplayHeaderBytes) return 0;
    std::memcpy(g_sealed, data, size);
    std::memcpy(g_sealed, kReplayMagic, sizeof kReplayMagic);
    PutU32(g_sealed + 12, uint32_t(size - kReplayHeaderBytes));
    PutU32(g_sealed + 16, Crc32(g_sealed + kReplayHeaderBytes, size - kReplayHeaderBytes));
    CheckRead(g_sealed, size, DecodeReplay(g_sealed, size, &g_read));
    return 0;
}
