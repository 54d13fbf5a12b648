// The command line. Every option is one row of kOptions: its name, the
// argument it takes, its line of help and what it sets; --help prints the
// rows, so an option added as a row is read and listed at once.
#include "app/cmdline.h"

#include <cstring>

#include "core/gamedata.h"

namespace {

struct CommandLineOption {
    const char* name;
    const char* argument;  // shown in the help; null: the option takes none
    const char* help;
    // Applies the option; null for an option this build lists but does not
    // offer (it is then refused when given).
    void (*apply)(StartOptions* options, const char* argument);
};

const CommandLineOption kOptions[] = {
    {"--help", nullptr, "print this help and exit", [](StartOptions* o, const char*) { o->help = true; }},
    {"--version", nullptr, "print the version and exit", [](StartOptions* o, const char*) { o->version = true; }},
    {"--windowed", nullptr, "start in a window (Alt+Enter switches)",
     [](StartOptions* o, const char*) { o->windowMode = 1; }},
    {"--fullscreen", nullptr, "start full screen (Alt+Enter switches)",
     [](StartOptions* o, const char*) { o->windowMode = 0; }},
    {"--replay", "FILE", "play one replay and exit: 0 when it reproduced its round",
     [](StartOptions* o, const char* file) { o->replayFile = file; }},
    {"--host", "[PORT]", "host an online match", nullptr},
    {"--join", "HOST[:PORT]", "join an online match", nullptr},
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
        if (!option || !option->apply) {
            std::fprintf(stderr, "nuvel: %s: %s (see nuvel --help)\n", argv[i],
                         option ? "not available in this build" : "unknown option");
            return false;
        }
        const char* argument = nullptr;
        // An optional argument (shown in brackets) is taken only when one follows.
        bool optional = option->argument && option->argument[0] == '[';
        if (option->argument && i + 1 < argc && !(optional && argv[i + 1][0] == '-')) argument = argv[++i];
        if (option->argument && !optional && !argument) {
            std::fprintf(stderr, "nuvel: %s needs %s (see nuvel --help)\n", option->name, option->argument);
            return false;
        }
        option->apply(options, argument);
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
