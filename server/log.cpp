#include "server/log.h"

#include <cstdarg>
#include <ctime>

void ServerLog(FILE* out, const char* format, ...) {
    if (!out) return;
    char stamp[32];
    const time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
    std::fprintf(out, "%s ", stamp);
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fputc('\n', out);
    std::fflush(out);
}
