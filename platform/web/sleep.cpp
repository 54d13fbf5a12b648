// The page's clock and sleeping on it. A sleep hands the browser its event
// loop (the game's blocking loops stay as they are: the whole call stack is
// set aside and resumed), so that input, painting and audio go on meanwhile.
#include <emscripten.h>

#include "platform/platform_internal.h"
#include "platform/web/web.h"

namespace plat {

uint64_t MonotonicNs() { return uint64_t(emscripten_get_now() * 1e6); }

void SleepUntilNs(uint64_t deadlineNs) { web_sleep(double(deadlineNs) / 1e6, 0); }

void WaitForEvent(uint64_t ns) { web_sleep(emscripten_get_now() + double(ns) / 1e6, 1); }

}  // namespace plat
