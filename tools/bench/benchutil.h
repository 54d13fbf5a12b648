// Clocks and summaries shared by the benchmark programs. Benchmarks read the
// system's clocks directly: the game's test clock must not measure itself.
#pragma once
#include <sys/resource.h>

#include <algorithm>
#include <ctime>
#include <vector>

namespace bench {

inline double ClockUs(clockid_t clock) {
    timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

inline double NowUs() { return ClockUs(CLOCK_MONOTONIC); }

// User and system CPU time of the whole process.
inline double ProcessCpuMs() {
    rusage use;
    getrusage(RUSAGE_SELF, &use);
    return use.ru_utime.tv_sec * 1e3 + use.ru_utime.tv_usec / 1e3 + use.ru_stime.tv_sec * 1e3 +
           use.ru_stime.tv_usec / 1e3;
}

struct Stats {
    double mean, median, p99, worst;
};

inline Stats Summarise(std::vector<double> v) {
    if (v.empty()) return Stats{0, 0, 0, 0};
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v) sum += x;
    const size_t n = v.size();
    return Stats{sum / double(n), v[n / 2], v[std::min(n - 1, n * 99 / 100)], v.back()};
}

}  // namespace bench
