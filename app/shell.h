// The application shell: the window procedure and the process entries.
#pragma once
#include "app/cmdline.h"
#include "core/app.h"

// The window procedure: every message fetched by CApp::PumpMessages goes here.
long WindowProc(const plat::Message& msg);

// The process entry behind main(): settings, window, start-up, intro, title.
int WinMain(const StartOptions& options = {});
// "nuvel --replay FILE": start-up as far as a window and the data, then one
// replay shown; 0 when it reproduced its round, 1 with a message otherwise.
int ReplayMain(const char* path, const StartOptions& options = {});
