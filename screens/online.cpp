// COnline: online play as the player meets it (see online.h). This file
// holds what the online screens share: reading addresses and seat kinds, the
// data set's digests, and the numbering of the machines. The transport glue,
// the screens and the match flow have a file each (online_link.cpp,
// online_lobby.cpp, online_match.cpp).
#include "screens/online.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/bytes.h"
#include "screens/stageselect.h"

namespace {

uint32_t CrcOfFile(const char* gamePath, uint32_t crc) {
    crc = Crc32(reinterpret_cast<const uint8_t*>(gamePath), std::strlen(gamePath), crc);
    FILE* f = plat::OpenFile(gamePath, "rb");
    if (!f) return Crc32(reinterpret_cast<const uint8_t*>("-"), 1, crc);
    static uint8_t buffer[64 * 1024];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) crc = Crc32(buffer, n, crc);
    std::fclose(f);
    return crc;
}

}  // namespace

// ---- parsing ----------------------------------------------------------------------

bool ParseSeatKinds(const char* text, uint8_t* kinds) {
    int seat = 0;
    for (const char* at = text; seat < kPlayers; seat++) {
        const char* comma = std::strchr(at, ',');
        const size_t n = comma ? size_t(comma - at) : std::strlen(at);
        char name[16];
        if (n == 0 || n >= sizeof name) return false;
        std::memcpy(name, at, n);
        name[n] = 0;
        const int kind = SeatKindByName(name);
        if (kind < 0) return false;
        kinds[seat] = uint8_t(kind);
        if (!comma) return seat == kPlayers - 1;
        at = comma + 1;
    }
    return false;
}

bool ParseAddress(const char* text, char* host, size_t hostSize, uint16_t* port) {
    const char* colon = std::strrchr(text, ':');
    const size_t n = colon ? size_t(colon - text) : std::strlen(text);
    if (n == 0 || n >= hostSize) return false;
    std::memcpy(host, text, n);
    host[n] = 0;
    if (!colon) return true;
    char* end = nullptr;
    const long p = std::strtol(colon + 1, &end, 10);
    if (!colon[1] || *end || p < 1 || p > 65535) return false;
    *port = uint16_t(p);
    return true;
}

namespace {

// Each file of a part in the order every machine lists them: the part's list
// file (when it has one), then its files in the list's order, or the fixed
// names the game uses.
template <class Visit>
void ForEachDataFile(int part, Visit visit) {
    const CStageSelect& s = theStageSelect;
    char path[300];
    if (part == DATA_STAGES) {
        visit("stage\\stage.txt");
        for (int i = 0; i < s.stageCount; i++) {
            std::snprintf(path, sizeof path, "Stage\\%s", s.stages[i].file);
            visit(path);
        }
    } else if (part == DATA_PICTURES) {
        for (const char* name : {"font", "background", "cursor", "title_light"}) {
            std::snprintf(path, sizeof path, "Graphics\\%s.png", name);
            visit(path);
        }
        for (const ItemKeyName& key : kItemKeyNames) {
            std::snprintf(path, sizeof path, "Graphics\\Items\\%s.png", key.text);
            visit(path);
        }
    } else if (part == DATA_SOUNDS) {
        for (const EffectRecord& effect : kEffectTable) {
            std::snprintf(path, sizeof path, "Sound\\%.127s", effect.file);
            visit(path);
        }
    } else if (part == DATA_MUSIC) {
        visit("bgm\\bgm.txt");
        for (int i = 0; i < s.bgmCount; i++) {
            std::snprintf(path, sizeof path, "Bgm\\%s", s.bgms[i].file);
            visit(path);
        }
    }
}

// The player reads a game path with '/' between its folders.
void ShownName(const char* path, char* name) {
    size_t n = 0;
    for (; path[n] && n + 1 < size_t(kDataFileNameMax); n++) name[n] = path[n] == '\\' ? '/' : path[n];
    name[n] = 0;
}

}  // namespace

int DataPartFiles(int part, uint32_t* digests, char (*names)[kDataFileNameMax], int max) {
    int n = 0;
    ForEachDataFile(part, [&](const char* path) {
        if (n == max) return;
        digests[n] = CrcOfFile(path, 0);
        if (names) ShownName(path, names[n]);
        n++;
    });
    return n;
}

void DataSetDigests(uint32_t* digests) {
    static uint32_t files[kNetDataFilesMax];
    for (int part = 0; part < kNetDataParts; part++) {
        const int n = DataPartFiles(part, files, nullptr, kNetDataFilesMax);
        digests[part] = Crc32(reinterpret_cast<const uint8_t*>(files), sizeof files[0] * size_t(n), 0);
    }
}

bool DifferingFileText(int part, const uint32_t* hostDigests, int hostCount, char* text, size_t size) {
    static uint32_t digests[kNetDataFilesMax];
    static char names[kNetDataFilesMax][kDataFileNameMax];
    const int n = DataPartFiles(part, digests, names, kNetDataFilesMax);
    for (int i = 0; i < n; i++) {
        if (i < hostCount && digests[i] == hostDigests[i]) continue;
        if (i < hostCount)
            std::snprintf(text, size, "%s differs from the file on the host.", names[i]);
        else
            std::snprintf(text, size, "%s is on this machine but not on the host.", names[i]);
        return true;
    }
    if (hostCount <= n) return false;
    std::snprintf(text, size, "The host has more %s than this machine.", NetDataPartName(part));
    return true;
}

COnline::COnline()
    : m_hostPeer(-1),
      m_lastPumpMs(0),
      m_open(false),
      m_note{},
      m_lastAddress{},
      m_savedSettings{},
      m_linked(false),
      m_linkLossSaid(false),
      m_kinds{},
      m_codeEnteredMs(0),
      m_lobbyReached(false),
      m_roomShown{} {}

// Machines are numbered by the session: 0 is the host. On the host, peer p
// is machine p + 1; on a joining machine the host's peer is machine 0.
int COnline::MachineOfPeer(int peer) const {
    if (session.Role() == SESSION_HOST) return peer + 1;
    return peer == m_hostPeer ? 0 : -1;
}

int COnline::PeerOfMachine(int machine) const {
    if (session.Role() == SESSION_HOST) return machine - 1;
    return machine == 0 ? m_hostPeer : -1;
}

const char* MatchServerText(const OnlinePlan& plan) { return plan.server[0] ? plan.server : theApp.matchServer; }

bool JoinsByCode(const OnlinePlan& plan, char* code) {
    return plan.byCode && MatchServerText(plan)[0] && RvNormaliseCode(plan.address, code);
}
