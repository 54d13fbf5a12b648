// CStageSelect's data: the stage list "stage\stage.txt" and the music list
// "bgm\bgm.txt", read once at start-up into arrays of entries.
//
// Both files are read line by line in pieces of at most 1022 characters. A
// piece loses its line end, is turned into capitals, and is skipped when it
// is empty or a comment (";"). The entries are counted over exactly the same
// pieces that the parse reads, so a key written in small letters counts as
// well as it parses.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/gamedata.h"
#include "match/rules.h"
#include "screens/stageselect.h"

static_assert(sizeof(InitialItem) == 8, "initial-item records are 8 bytes");

namespace {

constexpr int kLineBuffer = 1023;  // 1022 characters and the terminator

const char kStageListPath[] = "stage\\stage.txt";
const char kBgmListPath[] = "bgm\\bgm.txt";
const char kStageOpenFailed[] = "ステージ定義ファイル(STAGE\\STAGE.TXT)をオープン出来ません";
const char kBgmOpenFailed[] = "ステージ定義ファイル(bgm\\bgm.txt)をオープン出来ません";
const char kStageListEmpty[] = "ステージ定義ファイル(STAGE\\STAGE.TXT)にステージがありません";
const char kBgmListEmpty[] = "ステージ定義ファイル(bgm\\bgm.txt)に曲がありません";

// Reads the next piece of the file into line; false at the end of the file.
// Sets useful when the piece holds something to parse.
bool ReadPiece(FILE* file, char* line, bool* useful) {
    if (!std::fgets(line, kLineBuffer, file)) return false;
    size_t len = std::strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
    // Text mode on the original system also dropped the carriage return of
    // a CR LF line end; without this a list saved that way would carry it
    // into every file name.
    if (len > 0 && line[len - 1] == '\r') line[--len] = '\0';
    for (size_t i = 0; i < len; i++)
        if (line[i] >= 'a' && line[i] <= 'z') line[i] = static_cast<char>(line[i] - 'a' + 'A');
    *useful = len > 0 && line[0] != ';';
    return true;
}

int CountEntries(FILE* file) {
    char line[kLineBuffer];
    bool useful = false;
    int count = 0;
    while (ReadPiece(file, line, &useful))
        if (useful && StartsWith("FILE=", line)) count++;
    std::rewind(file);
    return count;
}

FILE* OpenList(const char* path, const char* failure) {
    FILE* file = plat::OpenFile(path, "r");
    if (!file) CApp::FatalExit(failure, NUVEL_CAPTION_FORCED);
    return file;
}

// Copies at most size - 1 characters and always terminates.
void CopyValue(char* dest, size_t size, const char* value) {
    size_t len = strnlen(value, size - 1);
    std::memcpy(dest, value, len);
    dest[len] = '\0';
}

// A start position from a "%dP=" line. -1 and every value the playfield
// cannot hold (outside 0..limit) mean "random", so a bad number never places a
// line outside the field nor writes outside the preview.
uint16_t StartValue(int value, int limit) {
    if (value < 0 || value > limit) return kRandomStart;
    return static_cast<uint16_t>(value);
}

// The item kind whose key name is name; -1 when no kind has that key name.
int ItemKindByKeyName(const char* name) {
    for (int kind = 0; kind < kItemKinds; kind++)
        if (std::strcmp(kItemKeyNames[kind].text, name) == 0) return kind;
    return -1;
}

void OpenStageEntry(StageEntry* entry, const char* file) {
    CopyValue(entry->file, sizeof entry->file, file);
    entry->scopeLeft = kInteriorLeft;
    entry->scopeTop = kInteriorTop;
    entry->scopeRight = kInteriorRight;
    entry->scopeBottom = kInteriorBottom;
    entry->effect = 0;
    for (CDataList& list : entry->initialItems) list.SetRecordSize(sizeof(InitialItem));
}

// A start heading from a "%dP=" line. The value is kept in 16 bits as the
// file gives it and the round turns it modulo 360, so a heading of 450 starts
// at 90 (0xFFFF, which -1 becomes, is the random marker). The turn is made
// here, so that the selector, the round and a replay see the same heading.
// Other negative numbers are not headings and mean "random".
uint16_t StartHeading(int value) {
    if (value < 0) return kRandomStart;
    uint16_t stored = static_cast<uint16_t>(value);
    return stored == kRandomStart ? kRandomStart : static_cast<uint16_t>(stored % 360);
}

void ParseStart(StageEntry* entry, int player, const char* value) {
    int x = -1, y = -1, heading = -1;
    std::sscanf(value, "%d,%d,%d", &x, &y, &heading);
    entry->startX[player] = StartValue(x, kStartXMax);
    entry->startY[player] = StartValue(y, kStartYMax);
    entry->startHeading[player] = StartHeading(heading);
}

void ParseInitialItem(StageEntry* entry, int player, const char* value) {
    char name[kItemNameSize];
    size_t len = std::strcspn(value, ",");
    if (len >= sizeof name) return;  // longer than any key name
    std::memcpy(name, value, len);
    name[len] = '\0';
    int count = 1;
    if (value[len] == ',') std::sscanf(value + len + 1, "%d", &count);
    int kind = ItemKindByKeyName(name);
    if (kind < 0) return;
    InitialItem* item = CDataList::Record<InitialItem>(entry->initialItems[player].Add());
    item->kind = static_cast<uint16_t>(kind);
    item->count = count;
}

// One scope edge plus the playfield's offset, taken wide and limited to the
// 32-bit field, so numbers near its limits neither overflow nor wrap round.
// A number too long for the wide type arrives as that type's limit; it is
// first brought far enough inside for the offset to be added safely.
int32_t ScopeEdge(long long value, int offset) {
    constexpr long long kWideLimit = 1LL << 40;
    if (value > kWideLimit) value = kWideLimit;
    if (value < -kWideLimit) value = -kWideLimit;
    long long edge = value + offset;
    if (edge < INT32_MIN) return INT32_MIN;
    if (edge > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(edge);
}

// Top and bottom are given in playfield rows and stored in screen rows; a
// number the line leaves out keeps its value and still gets the offset.
void ParseScope(StageEntry* entry, const char* value) {
    long long left = entry->scopeLeft, top = entry->scopeTop, right = entry->scopeRight, bottom = entry->scopeBottom;
    std::sscanf(value, "%lld,%lld,%lld,%lld", &left, &top, &right, &bottom);
    entry->scopeLeft = ScopeEdge(left, 0);
    entry->scopeTop = ScopeEdge(top, kFieldTop);
    entry->scopeRight = ScopeEdge(right, 0);
    entry->scopeBottom = ScopeEdge(bottom, kFieldTop);
}

void ParseEffect(StageEntry* entry, const char* value) {
    int effect = 0;
    std::sscanf(value, "%d", &effect);
    // Only 1 (random dots) and 2 (closing border) name an effect.
    entry->effect = static_cast<uint16_t>(
        effect == STAGE_EFFECT_DOTS || effect == STAGE_EFFECT_CLOSING_BORDER ? effect : STAGE_EFFECT_NONE);
}

// One piece of the stage list; entry is the one opened by the latest FILE=.
void ParseStageLine(const char* line, StageEntry* entry) {
    if (StartsWith("TITLE=", line)) CopyValue(entry->title, sizeof entry->title, line + 6);
    char key[16];
    for (int p = 0; p < 4; p++) {
        std::snprintf(key, sizeof key, "%dP=", p + 1);
        if (StartsWith(key, line)) ParseStart(entry, p, line + std::strlen(key));
        std::snprintf(key, sizeof key, "%dP_ITEM=", p + 1);
        if (StartsWith(key, line)) ParseInitialItem(entry, p, line + std::strlen(key));
    }
    if (StartsWith("ITEM_SCOPE=", line)) ParseScope(entry, line + 11);
    if (StartsWith("EFFECT=", line)) ParseEffect(entry, line + 7);
}

void FreeStages(StageEntry*& stages, int32_t& count) {
    if (!stages) return;
    for (int i = 0; i < count; i++) stages[i].~StageEntry();
    CApp::Free(stages);
    stages = nullptr;
    count = 0;
}

void FreeBgms(BgmEntry*& bgms, int32_t& count) {
    if (!bgms) return;
    CApp::Free(bgms);
    bgms = nullptr;
    count = 0;
}

}  // namespace

CStageSelect::CStageSelect()
    : hidden(0),
      preview(0),
      lines{"NORMAL GAME START", "SCROLL GAME START", "SELECT STAGE", "", "SELECT BGM", "", "EXIT"},
      colors{6, 7, 2, 2, 0, 0, 6},
      stages(nullptr),
      bgms(nullptr),
      stageCount(0),
      bgmCount(0),
      selectedStage(0),
      selectedBgm(0),
      cursor(0) {}

CStageSelect::~CStageSelect() {
    FreeStages(stages, stageCount);
    FreeBgms(bgms, bgmCount);
}

void CStageSelect::LoadStageList() {
    FILE* file = OpenList(kStageListPath, kStageOpenFailed);
    int count = CountEntries(file);
    if (count == 0) {
        std::fclose(file);
        CApp::FatalExit(kStageListEmpty, NUVEL_CAPTION_FORCED);
    }
    FreeStages(stages, stageCount);  // a second load replaces the first
    auto* entries = static_cast<StageEntry*>(
        CApp::Alloc(sizeof(StageEntry) * static_cast<size_t>(count), "CStageSelect::LoadStageList(void)"));
    for (int i = 0; i < count; i++) new (&entries[i]) StageEntry();
    stages = entries;
    stageCount = count;

    char line[kLineBuffer];
    bool useful = false;
    int current = -1;
    while (ReadPiece(file, line, &useful)) {
        if (!useful) continue;
        if (StartsWith("FILE=", line) && current + 1 < count) OpenStageEntry(&entries[++current], line + 5);
        // Lines before the first FILE= belong to no entry.
        if (current >= 0) ParseStageLine(line, &entries[current]);
    }
    std::fclose(file);
}

void CStageSelect::LoadBgmList() {
    FILE* file = OpenList(kBgmListPath, kBgmOpenFailed);
    int count = CountEntries(file);
    if (count == 0) {
        std::fclose(file);
        CApp::FatalExit(kBgmListEmpty, NUVEL_CAPTION_FORCED);
    }
    FreeBgms(bgms, bgmCount);
    bgms = static_cast<BgmEntry*>(
        CApp::Alloc(sizeof(BgmEntry) * static_cast<size_t>(count), "CStageSelect::LoadBgmList(void)"));
    bgmCount = count;

    char line[kLineBuffer];
    bool useful = false;
    int current = -1;
    while (ReadPiece(file, line, &useful)) {
        if (!useful) continue;
        if (StartsWith("FILE=", line) && current + 1 < count)
            CopyValue(bgms[++current].file, sizeof bgms[0].file, line + 5);
        if (current >= 0 && StartsWith("TITLE=", line)) CopyValue(bgms[current].title, sizeof bgms[0].title, line + 6);
    }
    std::fclose(file);
}
