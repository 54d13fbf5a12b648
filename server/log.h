// One line of the server's log: the time (UTC) and the text. Silent when out
// is null (the tests' servers).
#pragma once
#include <cstdio>

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void ServerLog(FILE* out, const char* format, ...);
