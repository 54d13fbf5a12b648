// The replay reader on arbitrary bytes: every input is refused with a reason
// or read whole; what is read writes back to the very same bytes, and its
// event stream walks to its end within the round's frames.
#include <cstdlib>
#include <cstring>

#include "match/replay.h"
#include "tests/fuzz/fuzzutil.h"

namespace {
ReplayData g_read;
uint8_t g_written[kReplayFileMax];
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::WriteInput("replay.rpl", data, size);
    const std::string path = fuzz::GameDir() + "/replay.rpl";
    ReplayReadResult result = LoadReplayFile(path.c_str(), &g_read);
    // The file reader stops at the largest replay; below that both agree.
    if (size <= kReplayFileMax && result != DecodeReplay(data, size, &g_read)) std::abort();
    if (result != REPLAY_READ_OK) {
        if (!ReplayReadText(result)[0]) std::abort();
        return 0;
    }
    size_t written = EncodeReplay(g_read, g_written, sizeof g_written);
    if (written != size || std::memcmp(written ? g_written : data, data, size) != 0) std::abort();
    size_t offset = 0;
    int32_t frame = 0;
    ReplayEvent event;
    while (NextReplayEvent(g_read, &offset, frame, &event)) {
        if (event.frame < frame || event.frame > g_read.lastFrame) std::abort();
        frame = event.frame;
    }
    if (offset != g_read.eventBytes) std::abort();
    return 0;
}
