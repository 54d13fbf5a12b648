// The command line. Every option is one row of kOptions: its name, the
// argument it takes, its line of help and what it sets; --help prints the
// rows, so an option added as a row is read and listed at once.
#include "app/cmdline.h"

#include <cstdlib>
#include <cstring>

#include "core/gamedata.h"
#include "screens/online.h"

namespace {

struct CommandLineOption {
    const char* name;
    const char* argument;  // shown in the help; null: the option takes none
    const char* help;
    // Applies the option; false when its argument cannot be used.
    bool (*apply)(StartOptions* options, const char* argument);
    // What an argument it refuses should have been (null: said by the help).
    const char* wanted = nullptr;
};

// An argument as a message shows it: a long one is cut.
constexpr int kShownArgumentMax = 60;
void PrintArgument(const char* argument, const char* quote) {
    const bool cut = std::strlen(argument) > size_t(kShownArgumentMax);
    std::fprintf(stderr, "%s%.*s%s%s", quote, kShownArgumentMax, argument, cut ? "..." : "", quote);
}

// The online options fill the online screen's plan; the lobby opens with it.
bool TakeHost(StartOptions*, const char* port) {
    OnlinePlan& plan = theOnline.plan;
    plan.mode = OnlinePlan::HOST;
    if (!port) return true;
    char* end = nullptr;
    const long p = std::strtol(port, &end, 10);
    plan.port = uint16_t(p);
    return *port && !*end && p >= 1 && p <= 65535;
}

// An address, or an invite code when a match server is given (checked once
// every option is read, as --server may come later).
bool TakeJoin(StartOptions*, const char* address) {
    OnlinePlan& plan = theOnline.plan;
    plan.mode = OnlinePlan::JOIN;
    std::snprintf(plan.address, sizeof plan.address, "%s", address);
    return std::strlen(address) < sizeof plan.address;
}

bool TakeServer(StartOptions*, const char* server) {
    OnlinePlan& plan = theOnline.plan;
    char host[sizeof plan.server];
    uint16_t port = kRvDefaultPort;
    std::snprintf(plan.server, sizeof plan.server, "%s", server);
    return std::strlen(server) < sizeof plan.server && ParseAddress(server, host, sizeof host, &port);
}

// The join's text: with a match server, an invite code; else HOST[:PORT].
bool JoinTextOk(OnlinePlan& plan) {
    char code[kRvCodeLength + 1];
    if (plan.server[0]) {
        if (!RvNormaliseCode(plan.address, code)) {
            std::fprintf(stderr, "nuvel: --join with --server takes an invite code, such as K7QX3M, not '%s'\n",
                         plan.address);
            return false;
        }
        std::snprintf(plan.address, sizeof plan.address, "%s", code);
        plan.byCode = true;
        return true;
    }
    char host[sizeof plan.address];
    uint16_t port = kNetDefaultPort;
    if (ParseAddress(plan.address, host, sizeof host, &port)) return true;
    std::fprintf(stderr, "nuvel: --join cannot use '%s' (see nuvel --help)\n", plan.address);
    return false;
}

bool TakeSeatCount(StartOptions*, const char* count) {
    char* end = nullptr;
    const long n = std::strtol(count, &end, 10);
    theOnline.plan.seatsWanted = uint8_t(n >= 1 && n <= kPlayers ? n : 1);
    return *count && !*end && n >= 1 && n <= kPlayers;
}

bool TakeName(StartOptions*, const char* name) {
    std::snprintf(theOnline.plan.name, sizeof theOnline.plan.name, "%s", name);
    return name[0] && std::strlen(name) <= size_t(kNetNameMax) && NetTextOk(name, kNetNameMax);
}

const CommandLineOption kOptions[] = {
    {"--help", nullptr, "print this help and exit", [](StartOptions* o, const char*) { return o->help = true; }},
    {"--version", nullptr, "print the version and exit",
     [](StartOptions* o, const char*) { return o->version = true; }},
    {"--windowed", nullptr, "start in a window (Alt+Enter switches)",
     [](StartOptions* o, const char*) { return o->windowMode = 1, true; }},
    {"--fullscreen", nullptr, "start full screen (Alt+Enter switches)",
     [](StartOptions* o, const char*) { return o->windowMode = 0, true; }},
    {"--replay", "FILE", "play one replay and exit: 0 when it reproduced its round",
     [](StartOptions* o, const char* file) { return o->replayFile = file, true; }},
    {"--host", "[PORT]", "host an online match (UDP port 26471 unless given)", TakeHost, "a port, 1 to 65535"},
    {"--join", "ADDRESS|CODE", "join an online match: by address, or by invite code through a match server", TakeJoin,
     "a host name or address with a port 1 to 65535, or an invite code"},
    {"--server", "HOST[:PORT]", "meet others through this match server (UDP port 26470 unless given)", TakeServer,
     "a host name or address, with a port 1 to 65535"},
    {"--public", nullptr, "with --host and a match server: list the match in the room list",
     [](StartOptions*, const char*) { return theOnline.plan.isPublic = true; }},
    {"--watch", nullptr, "with --join: watch without a seat",
     [](StartOptions*, const char*) { return theOnline.plan.watch = true; }},
    {"--seats", "A,B,C,D", "with --host: local, remote, easy, normal, hard, master or non",
     [](StartOptions*, const char* seats) { return ParseSeatKinds(seats, theOnline.plan.seatKinds); }},
    {"--several-seats", nullptr, "with --host: a joining machine may take more than one remote seat",
     [](StartOptions*, const char*) { return theOnline.plan.allowSeveralSeats = true; }},
    {"--take", "N", "with --join: ask for N remote seats (1 to 4), if the host allows several", TakeSeatCount,
     "a number of seats, 1 to 4"},
    {"--name", "NAME", "with --host or --join: the name other machines see online", TakeName,
     "a name of 1 to 24 printable ASCII characters"},
};

const CommandLineOption* Find(const char* name) {
    for (const CommandLineOption& option : kOptions)
        if (std::strcmp(option.name, name) == 0) return &option;
    return nullptr;
}

}  // namespace

bool ReadCommandLine(int argc, char** argv, StartOptions* options) {
    for (int i = 1; i < argc; i++) {
        const CommandLineOption* option = Find(argv[i]);
        if (!option) {
            std::fprintf(stderr, "nuvel: ");
            PrintArgument(argv[i], "");
            std::fprintf(stderr, ": unknown option (see nuvel --help)\n");
            return false;
        }
        const char* argument = nullptr;
        // An optional argument (shown in brackets) is taken when one follows
        // that is not an option ("--host -1" is a port, if a bad one).
        bool optional = option->argument && option->argument[0] == '[';
        if (option->argument && i + 1 < argc && !(optional && std::strncmp(argv[i + 1], "--", 2) == 0))
            argument = argv[++i];
        if (option->argument && !optional && !argument) {
            std::fprintf(stderr, "nuvel: %s needs %s (see nuvel --help)\n", option->name, option->argument);
            return false;
        }
        if (!option->apply(options, argument)) {
            std::fprintf(stderr, "nuvel: %s cannot use ", option->name);
            PrintArgument(argument ? argument : "", "'");
            if (option->wanted)
                std::fprintf(stderr, ": it takes %s\n", option->wanted);
            else
                std::fprintf(stderr, " (see nuvel --help)\n");
            return false;
        }
    }
    if (theOnline.plan.mode == OnlinePlan::JOIN && !JoinTextOk(theOnline.plan)) return false;
    if (theOnline.plan.isPublic && theOnline.plan.mode != OnlinePlan::HOST) {
        std::fprintf(stderr, "nuvel: --public goes with --host\n");
        return false;
    }
    if (theOnline.plan.watch && theOnline.plan.mode != OnlinePlan::JOIN) {
        std::fprintf(stderr, "nuvel: --watch goes with --join\n");
        return false;
    }
    if (theOnline.plan.allowSeveralSeats && theOnline.plan.mode != OnlinePlan::HOST) {
        std::fprintf(stderr, "nuvel: --several-seats goes with --host\n");
        return false;
    }
    if (theOnline.plan.seatsWanted > 1 && (theOnline.plan.mode != OnlinePlan::JOIN || theOnline.plan.watch)) {
        std::fprintf(stderr, "nuvel: --take goes with --join, without --watch\n");
        return false;
    }
    if (theOnline.plan.name[0] && theOnline.plan.mode == OnlinePlan::NONE) {
        std::fprintf(stderr, "nuvel: --name goes with --host or --join\n");
        return false;
    }
    if (options->replayFile && argc != 3) {
        std::fprintf(stderr, "nuvel: --replay takes only its file\n");
        return false;
    }
    return true;
}

void PrintUsage(FILE* out) {
    std::fprintf(out, "usage: nuvel [OPTION]...\nTarnwick %s: a line game for up to four players on one keyboard.\n\n",
                 kGameVersion);
    for (const CommandLineOption& option : kOptions) {
        char left[40];
        std::snprintf(left, sizeof left, "%s%s%s", option.name, option.argument ? " " : "",
                      option.argument ? option.argument : "");
        std::fprintf(out, "  %-22s %s\n", left, option.help);
    }
}
