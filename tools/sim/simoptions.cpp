// Command line of the match runner. Named options are spelled as the
// settings file's keys and stored through the settings table, so a value
// lands in the same field, with the same width, as when the game reads it.
#include "tools/sim/simoptions.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "items/itemmanager.h"
#include "match/settings.h"
#include "tools/sim/netsim.h"

namespace {

// A named option and the settings key it stands for.
struct NamedSetting {
    const char* option;
    const char* key;
};
const NamedSetting kNamedSettings[] = {
    {"--wait", "GAME_WAIT"},
    {"--explosion", "EXPLOTION_TYPE"},
    {"--meteorites", "METEORITE_ENABLE"},
    {"--meteor-period", "METEORITE_TIME"},
    {"--meteor-count", "METEORITE_VALUE"},
    {"--item-max", "ITEM_MAX"},
    {"--item-time", "ITEM_SHOW_TIME"},
    {"--item-death", "ITEM_GET_DEATH"},
};

// Words accepted in place of numbers.
struct Word {
    const char* word;
    int value;
};
const Word kWords[] = {
    {"off", 0}, {"on", 1}, {"circle", 0}, {"cosmo", 1}, {"cosmo-s", 2}, {"cosmo-a", 3},
};

const char* const kSeatNames[kPlayerTypes] = {"man", "non", "easy", "normal", "hard", "master"};

bool ParseNumber(const std::string& text, int64_t* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *value = v;
    return true;
}

bool ParseValue(const std::string& text, int64_t* value) {
    for (const Word& w : kWords)
        if (strcasecmp(text.c_str(), w.word) == 0) return *value = w.value, true;
    return ParseNumber(text, value);
}

// "hard,normal,easy,non": exactly four computer or empty seats.
bool ParseSeats(const std::string& list, int8_t seats[kPlayers], std::string* error) {
    std::vector<std::string> names;
    for (size_t start = 0;;) {
        size_t comma = list.find(',', start);
        names.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (names.size() != kPlayers)
        return *error = "--seats takes four comma-separated seats, e.g. hard,normal,easy,non", false;
    for (int i = 0; i < kPlayers; i++) {
        int type = -1;
        for (int t = PLAYER_NON; t < kPlayerTypes; t++)
            if (strcasecmp(names[i].c_str(), kSeatNames[t]) == 0) type = t;
        if (type < 0) return *error = "unknown seat type '" + names[i] + "' (master, hard, normal, easy or non)", false;
        seats[i] = int8_t(type);
    }
    return true;
}

const Setting* FindSetting(const std::string& key) {
    std::string withEquals = key + "=";
    for (int s = 0; s < S_COUNT; s++)
        if (strcasecmp(SettingAt(s).key, withEquals.c_str()) == 0) return &SettingAt(s);
    return nullptr;
}

// Weights of every kind: 100 for all, 0 for none, or 100 for one kind only.
bool ApplyItemWeights(const std::string& items, std::string* error) {
    if (items.empty()) return true;
    bool all = strcasecmp(items.c_str(), "all") == 0;
    int only = -1;
    for (int k = 0; k < kItemKinds; k++)
        if (strcasecmp(items.c_str(), kItemKeyNames[k].text) == 0) only = k;
    if (!all && only < 0 && strcasecmp(items.c_str(), "none") != 0)
        return *error = "unknown item kind '" + items + "' (all, none or a key name such as BOMB, SPEED_UP)", false;
    for (int k = 0; k < kItemKinds; k++) g_itemTable[k].weight = int8_t(all || k == only ? 100 : 0);
    return true;
}

// The value that follows option argv[*k], or nullptr at the end.
const char* TakeValue(int argc, char** argv, int* k) { return *k + 1 < argc ? argv[++*k] : nullptr; }

bool ParseOne(const std::string& option, const char* value, SimOptions* o, std::string* error) {
    int64_t n = 0;
    if (option == "--explosion" && strcasecmp(value, "cycle") == 0) return o->cycleExplosions = true;
    for (const NamedSetting& named : kNamedSettings)
        if (option == named.option) return o->settings.emplace_back(named.key, value), true;
    if (option == "--seats") return ParseSeats(value, o->seats, error);
    if (option == "--game") return o->gameDir = value, true;
    if (option == "--net") return ParseNetPlan(value, &o->net, error);
    if (option == "--net-seats") return o->net.seats = value, true;
    if (option == "--items") return o->items = value, true;
    if (option == "--record") return o->recordDir = value, true;
    if (option == "--set") {
        const char* eq = std::strchr(value, '=');
        if (!eq) return *error = "--set takes KEY=VALUE", false;
        o->settings.emplace_back(std::string(value, eq), eq + 1);
        return true;
    }
    if (option == "--stage" && strcasecmp(value, "random") == 0) return o->stage = kRandomStage, true;
    // Seeds are the generator's whole 32-bit state; the counts fit an int.
    const int64_t most = option == "--seed" ? int64_t(UINT32_MAX) : int64_t(INT32_MAX);
    if (!ParseNumber(value, &n) || n < 0 || n > most)
        return *error = option + " takes a whole number, not '" + value + "'", false;
    if (option == "--rounds" && n > 0) return o->rounds = int(n), true;
    if (option == "--seed") return o->seed = uint32_t(n), true;
    if (option == "--stage") return o->stage = int(n), true;
    if (option == "--max-frames" && n > 0) return o->maxFrames = n, true;
    return *error = "unknown option or value: " + option + " " + value, false;
}

}  // namespace

const char* SimUsage() {
    return "usage: nuvel-sim [options]\n"
           "  --seats A,B,C,D      four of master, hard, normal, easy, non (default hard,normal,easy,non)\n"
           "  --rounds N           rounds to play (default 10)\n"
           "  --seed N             random seed, 0..4294967295 (default 1)\n"
           "  --stage N|random     stage index in the stage list (default random)\n"
           "  --scroll             scroll play instead of normal play\n"
           "  --explosion T        circle, cosmo, cosmo-s, cosmo-a, or cycle: each in turn, round by round\n"
           "  --meteorites on|off  --meteor-period SECONDS  --meteor-count VALUE\n"
           "  --items all|none|KIND  item weights: all 100, all 0, or only one kind\n"
           "  --item-max N  --item-time SECONDS  --item-death PERCENT\n"
           "  --wait W             GAME_WAIT: a frame lasts W x 20 pump quanta of game time\n"
           "  --set KEY=VALUE      any key of the settings file\n"
           "  --max-frames N       a round longer than this is a fault (default 2000000)\n"
           "  --game DIR           game folder (default: the working directory or the one next to the program)\n"
           "  --verbose            report every death as it happens\n"
           "  --memory             report resident memory after every round\n"
           "  --record DIR         write a replay of every round into DIR (round-0001.rpl, ...)\n"
           "  --net KEY=V,...      a networked match over a simulated network: peers (machines,\n"
           "                       host included), latency (one way, ms), jitter (ms), loss, dup,\n"
           "                       reorder (percent), drop=M:R:S (machine M goes silent in round R\n"
           "                       at second S), stall=M:R:S:MS (machine M stops for MS ms in\n"
           "                       round R at second S, then goes on), rejoin=1 (a machine let go\n"
           "                       joins again after the round), handshake=MS (the host takes a\n"
           "                       connection MS later and drops what came before), perturb=R[:M],\n"
           "                       watch=1, verify=N\n"
           "  --net-seats A,B,C,D  local, remote, easy, normal, hard, master or non (default "
           "local,remote,remote,hard)\n"
           "  --verify FILE...     play replay files back headless and report OK, MISMATCH or\n"
           "                       UNREADABLE for each; exit 1 if any is not OK\n";
}

bool ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error) {
    for (int k = 1; k < argc; k++) {
        std::string option = argv[k];
        if (option == "--help" || option == "-h") return *error = SimUsage(), false;
        if (option == "--verbose") {
            options->verbose = true;
            continue;
        }
        if (option == "--memory") {
            options->memory = true;
            continue;
        }
        if (option == "--scroll") {
            options->scroll = true;
            continue;
        }
        if (option == "--verify") {
            while (k + 1 < argc) options->verify.push_back(argv[++k]);
            if (options->verify.empty()) return *error = "--verify needs at least one file", false;
            continue;
        }
        const char* value = TakeValue(argc, argv, &k);
        if (!value) return *error = option + " needs a value", false;
        if (!ParseOne(option, value, options, error)) return false;
    }
    return true;
}

bool ApplySimSettings(const SimOptions& options, std::string* error) {
    for (const auto& [key, text] : options.settings) {
        const Setting* setting = FindSetting(key);
        int64_t value = 0;
        if (!setting) return *error = "unknown setting " + key, false;
        if (!ParseValue(text, &value) || value < setting->low || value > setting->high)
            return *error = "setting " + key + " takes " + std::to_string(setting->low) + ".." +
                            std::to_string(setting->high) + ", not '" + text + "'",
                   false;
        StoreValue(*setting, int32_t(value));
    }
    for (int i = 0; i < kPlayers; i++) theRound.players[i].type = options.seats[i];
    return ApplyItemWeights(options.items, error);
}
