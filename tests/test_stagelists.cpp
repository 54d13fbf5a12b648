// The stage list and music list parsers, on small list files written into a
// scratch folder that serves as the working directory.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "screens/stageselect.h"
#include "testutil.h"

namespace {

using testutil::ScopedCwd;
using testutil::TempDir;

void WriteList(const TempDir& dir, const std::string& folder, const std::string& name, const std::string& text) {
    std::filesystem::create_directories(dir.File(folder));
    testutil::WriteFile(dir.File(folder + "/" + name), text);
}

// Loads a stage list with the given text from a scratch folder.
void LoadStages(CStageSelect& list, const std::string& text) {
    TempDir dir;
    WriteList(dir, "Stage", "stage.txt", text);
    ScopedCwd cwd(dir.path());
    list.LoadStageList();
}

std::vector<InitialItem> Items(const StageEntry& e, int player) {
    std::vector<InitialItem> out;
    for (DataNode* n = e.initialItems[player].First(); n; n = n->next)
        out.push_back(*CDataList::Record<InitialItem>(n));
    return out;
}

TEST(StageList, EveryKeyFillsTheEntryOpenedByTheLatestFileLine) {
    TempDir dir;
    WriteList(dir, "Stage", "stage.txt",
              "TITLE=BEFORE ANY FILE\n"
              "; comment\n"
              ";FILE=NOT_AN_ENTRY.PNG\n"
              "FILE=meadow.png\n"
              "title=meadow in small letters\n"
              "1P=100,100,0\n"
              "2P=-1,-1,-1\n"
              "1P_ITEM=BOMB,2\n"
              "1P_ITEM=bomb\n"
              "1P_ITEM=NO_SUCH_ITEM,5\n"
              "3P_ITEM=LR_FLIP,3\n"
              "4P_ITEM=ITEM_DEL\n"
              "ITEM_SCOPE=100,50,540,366\n"
              "EFFECT=1\n"
              "\n"
              "FILE=SECOND.PNG\n"
              "TITLE=A TITLE OF FORTY CHARACTERS ABCDEFGHIJKL\n"
              "ITEM_SCOPE=0,0\n"
              "EFFECT=2\n");
    ScopedCwd cwd(dir.path());
    CStageSelect list;
    list.LoadStageList();
    ASSERT_EQ(list.stageCount, 2);

    const StageEntry& a = list.stages[0];
    EXPECT_STREQ(a.file, "MEADOW.PNG");
    EXPECT_STREQ(a.title, "MEADOW IN SMALL LETTERS");
    EXPECT_EQ(a.startX[0], 100);
    EXPECT_EQ(a.startY[0], 100);
    EXPECT_EQ(a.startHeading[0], 0);
    EXPECT_EQ(a.startX[1], 0xFFFF);
    EXPECT_EQ(a.startY[1], 0xFFFF);
    EXPECT_EQ(a.startHeading[1], 0xFFFF);
    EXPECT_EQ(a.startX[2], 0);  // no line: stays zero
    EXPECT_EQ(a.scopeLeft, 100);
    EXPECT_EQ(a.scopeTop, 66);
    EXPECT_EQ(a.scopeRight, 540);
    EXPECT_EQ(a.scopeBottom, 382);
    EXPECT_EQ(a.effect, 1);

    auto p1 = Items(a, 0);
    ASSERT_EQ(p1.size(), 2u);
    EXPECT_EQ(p1[0].kind, 2);  // BOMB
    EXPECT_EQ(p1[0].count, 2);
    EXPECT_EQ(p1[1].kind, 2);
    EXPECT_EQ(p1[1].count, 1);
    EXPECT_TRUE(Items(a, 1).empty());
    auto p3 = Items(a, 2);
    ASSERT_EQ(p3.size(), 1u);
    EXPECT_EQ(p3[0].kind, 10);  // LR FLIP
    EXPECT_EQ(p3[0].count, 3);
    auto p4 = Items(a, 3);
    ASSERT_EQ(p4.size(), 1u);
    EXPECT_EQ(p4[0].kind, 13);  // ITEM_DEL
    for (const CDataList& l : a.initialItems) EXPECT_EQ(l.RecordSize(), 8);

    const StageEntry& b = list.stages[1];
    EXPECT_STREQ(b.file, "SECOND.PNG");
    EXPECT_STREQ(b.title, "A TITLE OF FORTY CHARACTERS AB");
    // Missing scope numbers keep the defaults, and 16 is still added.
    EXPECT_EQ(b.scopeLeft, 0);
    EXPECT_EQ(b.scopeTop, 16);
    EXPECT_EQ(b.scopeRight, 638);
    EXPECT_EQ(b.scopeBottom, 446);
    EXPECT_EQ(b.effect, 2);
    EXPECT_EQ(b.initialItems[0].Count(), 0);
}

TEST(StageList, BadStartValuesBecomeRandomAndUnknownEffectsNone) {
    CStageSelect list;
    LoadStages(list,
               "FILE=A.PNG\n"
               "1P=640,416,360\n"
               "2P=639,415,359\n"
               "3P=200\n"
               "4P=-5,12,90\n"
               "EFFECT=7\n"
               "FILE=B.PNG\n"
               "EFFECT=\n");
    ASSERT_EQ(list.stageCount, 2);
    const StageEntry& a = list.stages[0];
    EXPECT_EQ(a.startX[0], 0xFFFF);
    EXPECT_EQ(a.startY[0], 0xFFFF);
    EXPECT_EQ(a.startHeading[0], 0);  // headings turn modulo 360
    EXPECT_EQ(a.startX[1], 639);
    EXPECT_EQ(a.startY[1], 415);
    EXPECT_EQ(a.startHeading[1], 359);
    EXPECT_EQ(a.startX[2], 200);
    EXPECT_EQ(a.startY[2], 0xFFFF);
    EXPECT_EQ(a.startHeading[2], 0xFFFF);
    EXPECT_EQ(a.startX[3], 0xFFFF);
    EXPECT_EQ(a.startY[3], 12);
    EXPECT_EQ(a.effect, 0);
    EXPECT_EQ(list.stages[1].effect, 0);
}

// Headings are kept in 16 bits as the file gives them and turned modulo 360;
// 0xFFFF (what -1 becomes) is the random marker, other negatives are random.
TEST(StageList, StartHeadingsTurnModulo360) {
    CStageSelect list;
    LoadStages(list,
               "FILE=A.PNG\n"
               "1P=320,200,450\n"
               "2P=1,1,719\n"
               "3P=2,2,65535\n"
               "4P=3,3,65896\n"
               "FILE=B.PNG\n"
               "1P=4,4,131071\n"
               "2P=5,5,-30\n"
               "3P=6,6,720\n"
               "4P=7,7,359\n");
    ASSERT_EQ(list.stageCount, 2);
    const uint16_t a[4] = {90, 359, 0xFFFF, 0}, b[4] = {0xFFFF, 0xFFFF, 0, 359};
    for (int p = 0; p < 4; p++) {
        EXPECT_EQ(list.stages[0].startHeading[p], a[p]) << p;
        EXPECT_EQ(list.stages[1].startHeading[p], b[p]) << p;
    }
    EXPECT_EQ(list.stages[0].startX[0], 320);
    EXPECT_EQ(list.stages[0].startY[0], 200);
}

// Scope numbers at the ends of the 32-bit range: the 16 added to top and
// bottom stops at the limit instead of overflowing, also for numbers too long
// for any integer type.
TEST(StageList, ScopeNearTheIntegerLimitsIsHeldInRange) {
    CStageSelect list;
    LoadStages(list,
               "FILE=A.PNG\n"
               "ITEM_SCOPE=-2147483648,2147483647,2147483647,2147483632\n"
               "FILE=B.PNG\n"
               "ITEM_SCOPE=-5,-2147483648,99999999999,-2147483647\n"
               "FILE=C.PNG\n"
               "ITEM_SCOPE=-99999999999999999999,99999999999999999999,"
               "-99999999999999999999,99999999999999999999\n");
    ASSERT_EQ(list.stageCount, 3);
    const StageEntry& a = list.stages[0];
    EXPECT_EQ(a.scopeLeft, INT32_MIN);
    EXPECT_EQ(a.scopeTop, INT32_MAX);
    EXPECT_EQ(a.scopeRight, INT32_MAX);
    EXPECT_EQ(a.scopeBottom, INT32_MAX);
    const StageEntry& b = list.stages[1];
    EXPECT_EQ(b.scopeLeft, -5);
    EXPECT_EQ(b.scopeTop, INT32_MIN + 16);
    EXPECT_EQ(b.scopeRight, INT32_MAX);
    EXPECT_EQ(b.scopeBottom, INT32_MIN + 17);
    const StageEntry& c = list.stages[2];
    EXPECT_EQ(c.scopeLeft, INT32_MIN);
    EXPECT_EQ(c.scopeTop, INT32_MAX);
    EXPECT_EQ(c.scopeRight, INT32_MIN);
    EXPECT_EQ(c.scopeBottom, INT32_MAX);
}

TEST(StageList, CountsAndParsesTheSamePieces) {
    // Small-letter keys count as entries; a line longer than 1022 characters
    // is read in pieces, and a piece that starts with FILE= opens an entry in
    // both passes alike. CR LF line ends lose the CR.
    TempDir dir;
    std::string longLine = "TITLE=" + std::string(1016, 'X') + "FILE=PIECE.PNG\n";
    WriteList(dir, "stage", "STAGE.TXT", "file=one.png\r\ntitle=first\r\n" + longLine + "File=three.png\n");
    ScopedCwd cwd(dir.path());
    CStageSelect list;
    list.LoadStageList();
    ASSERT_EQ(list.stageCount, 3);
    EXPECT_STREQ(list.stages[0].file, "ONE.PNG");
    EXPECT_STREQ(list.stages[0].title, std::string(30, 'X').c_str());
    EXPECT_STREQ(list.stages[1].file, "PIECE.PNG");
    EXPECT_STREQ(list.stages[2].file, "THREE.PNG");
}

TEST(BgmList, FileAndTitle) {
    TempDir dir;
    WriteList(dir, "Bgm", "bgm.txt",
              "; music\nTITLE=IGNORED\nFILE=first.mid\nTITLE=The First Piece Of Music With A Long Name\n"
              "FILE=SECOND.MID\n1P=1,2,3\n");
    ScopedCwd cwd(dir.path());
    CStageSelect list;
    list.LoadBgmList();
    ASSERT_EQ(list.bgmCount, 2);
    EXPECT_STREQ(list.bgms[0].file, "FIRST.MID");
    EXPECT_STREQ(list.bgms[0].title, "THE FIRST PIECE OF MUSIC WITH ");
    EXPECT_STREQ(list.bgms[1].file, "SECOND.MID");
    EXPECT_STREQ(list.bgms[1].title, "");
}

TEST(ListFiles, MissingOrEmptyListsAreFatal) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    EXPECT_EXIT(CStageSelect().LoadStageList(), testing::ExitedWithCode(1),
                "ステージ定義ファイル\\(STAGE.STAGE\\.TXT\\)をオープン出来ません");
    EXPECT_EXIT(CStageSelect().LoadBgmList(), testing::ExitedWithCode(1),
                "ステージ定義ファイル\\(bgm.bgm\\.txt\\)をオープン出来ません");
    WriteList(dir, "Stage", "stage.txt", "; nothing but a comment\n;FILE=A.PNG\n");
    EXPECT_EXIT(CStageSelect().LoadStageList(), testing::ExitedWithCode(1), "STAGE.TXT");
}

}  // namespace
