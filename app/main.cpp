#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/shell.h"
#include "screens/online.h"

namespace {

// The command line: one row per option. An option with a value takes the
// next argument; an optional value is taken when the next argument is not
// an option itself. take() returns false when the value is not usable.
struct CommandOption {
    const char* name;
    enum Value { NONE, REQUIRED, OPTIONAL } value;
    const char* help;
    bool (*take)(const char* value);
};

const char* g_replayPath = nullptr;

bool TakeReplay(const char* path) { return g_replayPath = path, true; }

bool TakeHost(const char* port) {
    OnlinePlan& plan = theOnline.plan;
    plan.mode = OnlinePlan::HOST;
    if (!port) return true;
    char* end = nullptr;
    const long p = std::strtol(port, &end, 10);
    plan.port = uint16_t(p);
    return *port && !*end && p >= 1 && p <= 65535;
}

bool TakeJoin(const char* address) {
    OnlinePlan& plan = theOnline.plan;
    plan.mode = OnlinePlan::JOIN;
    char host[sizeof plan.address];
    uint16_t port = kNetDefaultPort;
    std::snprintf(plan.address, sizeof plan.address, "%s", address);
    return std::strlen(address) < sizeof plan.address && ParseAddress(address, host, sizeof host, &port);
}

bool TakeWatch(const char*) { return theOnline.plan.watch = true, true; }
bool TakeSeats(const char* seats) { return ParseSeatKinds(seats, theOnline.plan.seatKinds); }
bool TakeName(const char* name) {
    std::snprintf(theOnline.plan.name, sizeof theOnline.plan.name, "%s", name);
    return std::strlen(name) <= size_t(kNetNameMax) && NetTextOk(name, kNetNameMax);
}

const CommandOption kOptions[] = {
    {"--replay", CommandOption::REQUIRED, "FILE         show a saved round and check it", TakeReplay},
    {"--host", CommandOption::OPTIONAL, "[PORT]         open an online match (port 26471 by default)", TakeHost},
    {"--join", CommandOption::REQUIRED, "HOST[:PORT]    join an online match", TakeJoin},
    {"--watch", CommandOption::NONE, "              with --join: watch without a seat", TakeWatch},
    {"--seats", CommandOption::REQUIRED, "A,B,C,D       with --host: local, remote, easy, normal, hard or non",
     TakeSeats},
    {"--name", CommandOption::REQUIRED, "NAME           the name other machines see online", TakeName},
};

void Usage() {
    std::fprintf(stderr, "usage: nuvel [OPTION]...\n");
    for (const CommandOption& o : kOptions) std::fprintf(stderr, "  %s %s\n", o.name, o.help);
}

// False (after a message) when the command line cannot be used.
bool ParseCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        const CommandOption* row = nullptr;
        for (const CommandOption& o : kOptions)
            if (std::strcmp(argv[i], o.name) == 0) row = &o;
        if (!row) return std::fprintf(stderr, "nuvel: unknown option %s\n", argv[i]), false;
        const char* value = nullptr;
        const bool next = i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0;
        if (row->value == CommandOption::REQUIRED && !next)
            return std::fprintf(stderr, "nuvel: %s needs a value\n", row->name), false;
        if (row->value != CommandOption::NONE && next) value = argv[++i];
        if (!row->take(value))
            return std::fprintf(stderr, "nuvel: %s cannot use '%s'\n", row->name, value ? value : ""), false;
    }
    if (theOnline.plan.watch && theOnline.plan.mode != OnlinePlan::JOIN)
        return std::fprintf(stderr, "nuvel: --watch goes with --join\n"), false;
    if (g_replayPath && argc != 3) return std::fprintf(stderr, "nuvel: --replay takes only its file\n"), false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Run in the game folder, or as an installed game from anywhere.
    plat::ChooseGameFolders();
    if (!ParseCommandLine(argc, argv)) {
        Usage();
        return 1;
    }
    if (g_replayPath) return ReplayMain(g_replayPath);
    return WinMain();
}
