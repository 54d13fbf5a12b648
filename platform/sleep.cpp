// The system's monotonic clock and sleeping on it.
#include <time.h>

#include <cerrno>

#include "platform/platform_internal.h"

namespace plat {

uint64_t MonotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

void SleepUntilNs(uint64_t deadlineNs) {
    timespec ts;
    ts.tv_sec = time_t(deadlineNs / 1000000000ull);
    ts.tv_nsec = long(deadlineNs % 1000000000ull);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

}  // namespace plat
