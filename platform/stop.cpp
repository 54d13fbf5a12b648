// Ending the game from outside, and the message box that must not outlive it.
//
// SIGINT and SIGTERM are stop requests: the handler only notes the signal,
// and the game ends at its next message pump (CApp's dispatch asks
// StopSignal), wherever it is. A second request ends the process at once,
// should the game not pump any more.
//
// A message box blocks, and SDL shows one on X11 from a process of its own
// that it forks and waits for; that process neither ends with the game nor
// answers SIGTERM. So the box is shown by a helper: this program started
// again (the helper process runs RunMessageBoxHelper in main and nothing
// else), in a process group of its own, with a parent-death signal. The game
// waits for it while watching for stop requests; a request, the game's end
// (even by SIGKILL) or SIGTERM to any process of the group ends the whole
// group, SDL's box process with it.
#include <SDL.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/platform_internal.h"

extern char** environ;

namespace plat {

namespace {

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
    if (g_stopSignal) _exit(128 + g_stopSignal);
    g_stopSignal = signal;
}

// The environment entry that marks a process as a box helper, and whether
// this program can start one (its main asks RunMessageBoxHelper first).
constexpr char kHelperMark[] = "NUVEL_MESSAGE_BOX_HELPER=1";
bool g_helperReady = false;
constexpr long kWatchNs = 20 * 1000 * 1000;

// In the helper: any end of the game, or SIGTERM or SIGINT to any process of
// the box's group, ends the whole group.
void EndBoxGroup(int) { kill(0, SIGKILL); }

// Starts the helper; its process id, or -1 when it could not be started.
pid_t StartHelper(const char* text, const char* caption) {
    std::vector<char*> env;
    for (char** e = environ; *e; e++) env.push_back(*e);
    env.push_back(const_cast<char*>(kHelperMark));
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>("nuvel-message-box"), const_cast<char*>(caption), const_cast<char*>(text),
                    nullptr};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    // Only calls that are safe after a fork until the exec.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve("/proc/self/exe", argv, env.data());
    _exit(127);
}

// Waits for the helper to end, or ends it at a stop request. False when it
// could not show the box at all (the exec failed).
bool WaitForHelper(pid_t pid) {
    setpgid(pid, pid);  // also done by the helper; whichever comes first
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return true;
        if (g_stopSignal) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return true;
        }
        const timespec nap{0, kWatchNs};
        nanosleep(&nap, nullptr);  // a stop request cuts it short
    }
    return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

}  // namespace

// A signal the game was started with ignored (SIGINT for a command started
// in the background by a script) stays ignored, as the shell meant.
void InstallStopSignals() {
    // SDL would turn these signals into a quit event, which nothing reads
    // while a box is up.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM}) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
    }
}

int StopSignal() { return g_stopSignal; }

bool RunMessageBoxHelper(int argc, char** argv) {
    const char* mark = std::getenv("NUVEL_MESSAGE_BOX_HELPER");
    if (!mark || argc != 3) {
        g_helperReady = true;
        return false;
    }
    // Only a process that leads its own group may end the group.
    if (getpgrp() == getpid() || setpgid(0, 0) == 0) {
        struct sigaction action {};
        action.sa_handler = EndBoxGroup;
        sigemptyset(&action.sa_mask);
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    }
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, argv[1], argv[2], nullptr);
    return true;
}

void MessageBox(const char* text, const char* caption) {
    caption = caption ? caption : "";
    text = text ? text : "";
    fprintf(stderr, "%s: %s\n", caption, text);
    if (!HasDisplay() || UsingTestClock() || g_stopSignal) return;
    const pid_t helper = g_helperReady ? StartHelper(text, caption) : -1;
    if (helper < 0 || !WaitForHelper(helper)) SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption, text, nullptr);
}

}  // namespace plat
