// The settings file: byte-exact writing, reading with its tolerances, the
// older binary file, and values that do not fit the menu's ranges.
#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "config/option.h"
#include "core/app.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "match/settings.h"
#include "sound/bgm.h"
#include "sound/directsound.h"
#include "tests/testutil.h"

namespace {

namespace fs = std::filesystem;

// Every value the settings file holds, copied out of and back into the owners.
struct SettingsCopy {
    int32_t wait;
    uint8_t keyboardType;
    int32_t itemMax, itemShowTime;
    int8_t itemGetDeath;
    uint8_t itemUseFlush, changeLimitation;
    int8_t explosionType;
    uint16_t explosionValues[4];
    uint8_t meteoriteEnable;
    int32_t meteoriteTime, meteoriteValue;
    uint8_t midiDevice, soundEffect;
    int8_t soundVolume;
    int8_t playerTypes[kPlayers];
    int8_t weights[kItemKinds];

    static SettingsCopy Zeroed() {
        SettingsCopy c;
        std::memset(&c, 0, sizeof(c));
        return c;
    }

    static SettingsCopy Take() {
        SettingsCopy c = Zeroed();
        c.wait = theRound.state.wait;
        c.keyboardType = theApp.keyboardType;
        c.itemMax = theItemManager.itemMax;
        c.itemShowTime = theItemManager.itemShowTime;
        c.itemGetDeath = theItemManager.itemGetDeath;
        c.itemUseFlush = theItemManager.itemUseFlush;
        c.changeLimitation = theItemManager.changeLimitation;
        c.explosionType = theRound.explosionType;
        std::memcpy(c.explosionValues, theRound.explosionValues, sizeof(c.explosionValues));
        c.meteoriteEnable = theRound.meteorite.enable;
        c.meteoriteTime = theRound.meteorite.intervalSeconds;
        c.meteoriteValue = theRound.meteorite.count;
        c.midiDevice = theBgm.device;
        c.soundEffect = theDirectSound.effectsEnabled;
        c.soundVolume = theApp.soundVolume;
        for (int p = 0; p < kPlayers; ++p) c.playerTypes[p] = theRound.players[p].type;
        for (int k = 0; k < kItemKinds; ++k) c.weights[k] = g_itemTable[k].weight;
        return c;
    }

    void Put() const {
        theRound.state.wait = wait;
        theApp.keyboardType = keyboardType;
        theItemManager.itemMax = itemMax;
        theItemManager.itemShowTime = itemShowTime;
        theItemManager.itemGetDeath = itemGetDeath;
        theItemManager.itemUseFlush = itemUseFlush;
        theItemManager.changeLimitation = changeLimitation;
        theRound.explosionType = explosionType;
        std::memcpy(theRound.explosionValues, explosionValues, sizeof(explosionValues));
        theRound.meteorite.enable = meteoriteEnable;
        theRound.meteorite.intervalSeconds = meteoriteTime;
        theRound.meteorite.count = meteoriteValue;
        theBgm.device = midiDevice;
        theDirectSound.effectsEnabled = soundEffect;
        theApp.soundVolume = soundVolume;
        for (int p = 0; p < kPlayers; ++p) theRound.players[p].type = playerTypes[p];
        for (int k = 0; k < kItemKinds; ++k) g_itemTable[k].weight = weights[k];
    }

    static SettingsCopy Defaults() {
        SettingsCopy c = Zeroed();
        c.wait = 80;
        c.itemMax = 1;
        c.itemShowTime = 30;
        c.itemUseFlush = 1;
        c.explosionValues[0] = 16;
        c.explosionValues[1] = c.explosionValues[2] = c.explosionValues[3] = 300;
        c.meteoriteTime = 60;
        c.meteoriteValue = 200;
        c.soundEffect = 1;
        c.soundVolume = 100;
        for (int8_t& w : c.weights) w = 100;
        return c;
    }

    bool operator==(const SettingsCopy& o) const {
        return wait == o.wait && keyboardType == o.keyboardType && itemMax == o.itemMax &&
               itemShowTime == o.itemShowTime && itemGetDeath == o.itemGetDeath && itemUseFlush == o.itemUseFlush &&
               changeLimitation == o.changeLimitation && explosionType == o.explosionType &&
               std::memcmp(explosionValues, o.explosionValues, sizeof(explosionValues)) == 0 &&
               meteoriteEnable == o.meteoriteEnable && meteoriteTime == o.meteoriteTime &&
               meteoriteValue == o.meteoriteValue && midiDevice == o.midiDevice && soundEffect == o.soundEffect &&
               soundVolume == o.soundVolume && std::memcmp(playerTypes, o.playerTypes, sizeof(playerTypes)) == 0 &&
               std::memcmp(weights, o.weights, sizeof(weights)) == 0;
    }
};

// The file the game writes with the default settings, as UTF-8 text with
// bare line feeds; ExpectedFile turns it into the bytes on disk.
const char kDefaultFileUtf8[] =
    ";NUVEL 各種設定ファイル\n"
    ";先頭に「;」が付く行はコメントになります\n"
    "\n"
    ";ここでの設定は、全てOPTION等で変更出来るものです\n"
    ";こちらのデータを下手にいじると、ゲームが起動出来なくなる場合があるかもしれません\n"
    ";その場合、このファイルを削除してからゲームを起動してみて下さい\n"
    "\n"
    ";バージョン\n"
    "VERSION=1.02A\n"
    "\n"
    ";ゲームウェイト\nGAME_WAIT=80\n\n"
    ";キーボードの種類(0:DESK TOP 1:NOTE)\nKEYBORAD_TYPE=0\n\n"
    ";アイテム最大同時表示数\nITEM_MAX=1\n\n"
    ";アイテム表示時間（単位：秒）\nITEM_SHOW_TIME=30\n\n"
    ";アイテム取得死する確率（0～100%）\nITEM_GET_DEATH=0\n\n"
    ";アイテム使用時のフラッシュ（0:off 1:on）\nITEM_USE_FLUSH=1\n\n"
    ";壁際でのアイテム「CHANGE」の使用制限(0:制限無し 1:制限有り)\nCHANGE_LIMITATION=0\n\n"
    ";爆発の種類(0:circle 1:cosmo 2:cosmo spiral 3:cosmo accell)\nEXPLOTION_TYPE=0\n\n"
    ";爆発種類毎の値\n"
    "EXPLOSION_VALUE_CIRCLE=16\nEXPLOSION_VALUE_COSMO=300\nEXPLOSION_VALUE_COSMO_S=300\n"
    "EXPLOSION_VALUE_COSMP_A=300\n\n"
    ";ゲーム中に、隕石を出現させるか(0:off 1:on)\nMETEORITE_ENABLE=0\n\n"
    ";この時間毎に隕石を降り注がせます(単位：秒)\nMETEORITE_TIME=60\n\n"
    ";降らす隕石の数\nMETEORITE_VALUE=200\n\n"
    ";ＢＧＭとして使用するMIDIデバイス(0:DirectMusic 1:Midi Mapper)\nMIDI_DEVICE=0\n\n"
    ";効果音を鳴らすかどうか(0:off 1:on)\nSOUND_EFFECT=1\n\n"
    ";効果音の音量(0～100)\nSOUND_VOLUME=100\n\n"
    ";プレイヤの種類(0:MAN 1:NON 2:EASY COM 3:NORMAL COM 4:HARD COM 5:MASTER COM)\n"
    "PLAYER_TYPE_1P=0\nPLAYER_TYPE_2P=0\nPLAYER_TYPE_3P=0\nPLAYER_TYPE_4P=0\n"
    "\n"
    ";アイテム毎の出現確率(0～100%)\n"
    "ITEM_SPEED_UP=100\nITEM_SPEED_DOWN=100\nITEM_BOMB=100\nITEM_LASER=100\nITEM_CHANGE=100\n"
    "ITEM_WARP=100\nITEM_MISSILE=100\nITEM_COSMO=100\nITEM_JUMP=100\nITEM_BARRIER=100\n"
    "ITEM_LR_FLIP=100\nITEM_CLEAN=100\nITEM_MOVE=100\nITEM_ITEM_DEL=100\nITEM_WALL=100\n"
    "ITEM_QUESTION=100\nITEM_STOP=100\nITEM_LR_MIRROR=100\nITEM_UD_MIRROR=100\nITEM_GRAVITY=100\n"
    "ITEM_PINGPONG=100\nITEM_MOLD=100\nITEM_INVINCIBLE=100\n"
    "\n"
    "\n";

// UTF-8 to code page 932 through the C library, independent of the
// game's own byte tables.
std::string ToCp932(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string in = utf8;
    std::string out(in.size() * 2 + 16, '\0');
    char* src = in.data();
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return {};
    out.resize(out.size() - dstLeft);
    return out;
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (ch == '\n') out += '\r';
        out += ch;
    }
    return out;
}

std::string ExpectedDefaultFile() { return WithCrLf(ToCp932(kDefaultFileUtf8)); }

// Replaces "KEY=old" by "KEY=value" in a file text.
std::string WithValue(std::string text, const std::string& key, const std::string& value) {
    size_t at = text.find("\n" + key);
    if (at == std::string::npos) return {};
    at += 1 + key.size();
    size_t end = text.find('\r', at);
    return text.replace(at, end - at, value);
}

std::string ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const char* path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Runs each test in a fresh temporary folder with the default settings, and
// puts the folder and every setting back afterwards.
class OptionFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = SettingsCopy::Take();
        // The settings added after 1.02A at their defaults, as a fresh game has them.
        for (int i = S_FIRST_ADDED; i < S_COUNT; ++i) {
            m_added[i - S_FIRST_ADDED] = FetchValue(SettingAt(i));
            StoreValue(SettingAt(i), SettingAt(i).defaultValue);
        }
        m_oldCwd = fs::current_path();
        m_dir = m_tmp.path();
        fs::current_path(m_dir);
        SettingsCopy::Defaults().Put();
    }
    void TearDown() override {
        fs::current_path(m_oldCwd);
        m_saved.Put();
        for (int i = S_FIRST_ADDED; i < S_COUNT; ++i) StoreValue(SettingAt(i), m_added[i - S_FIRST_ADDED]);
    }

    // Loads a file holding exactly these bytes.
    bool LoadText(const std::string& bytes) {
        WriteAll("option.txt", bytes);
        return theOption.Load();
    }

    SettingsCopy m_saved;
    int32_t m_added[S_COUNT - S_FIRST_ADDED];
    fs::path m_oldCwd;
    testutil::TempDir m_tmp{"nuvel-option"};  // removed with the fixture
    fs::path m_dir;
};

TEST_F(OptionFile, DefaultsAreWrittenByteForByte) {
    std::string expected = ExpectedDefaultFile();
    ASSERT_FALSE(expected.empty()) << "the C library cannot convert to CP932";
    theOption.Save();
    EXPECT_EQ(ReadAll("option.txt"), expected);
    // The new file replaced the old one; nothing is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST_F(OptionFile, EverySettingSurvivesSaveAndLoad) {
    SettingsCopy edited = SettingsCopy::Defaults();
    edited.wait = 1234;
    edited.keyboardType = 1;
    edited.itemMax = 42;
    edited.itemShowTime = 999;
    edited.itemGetDeath = 35;
    edited.itemUseFlush = 0;
    edited.changeLimitation = 1;
    edited.explosionType = 3;
    edited.explosionValues[0] = 99;
    edited.explosionValues[1] = 5000;
    edited.explosionValues[2] = 100;
    edited.explosionValues[3] = 4900;
    edited.meteoriteEnable = 1;
    edited.meteoriteTime = 9000;
    edited.meteoriteValue = 100;
    edited.midiDevice = 1;
    edited.soundEffect = 0;
    edited.soundVolume = 55;
    for (int p = 0; p < kPlayers; ++p) edited.playerTypes[p] = static_cast<int8_t>(4 - p);
    for (int k = 0; k < kItemKinds; ++k) edited.weights[k] = static_cast<int8_t>(k * 4);
    edited.Put();
    theOption.Save();
    std::string written = ReadAll("option.txt");
    EXPECT_NE(written.find("\r\nEXPLOSION_VALUE_COSMP_A=4900\r\n"), std::string::npos);
    EXPECT_NE(written.find("\r\nPLAYER_TYPE_1P=4\r\n"), std::string::npos);
    EXPECT_NE(written.find("\r\nITEM_INVINCIBLE=88\r\n"), std::string::npos);

    SettingsCopy::Defaults().Put();
    ASSERT_TRUE(theOption.Load());
    EXPECT_TRUE(SettingsCopy::Take() == edited);

    // Saving what was loaded reproduces the file exactly.
    fs::remove("option.txt");
    theOption.Save();
    EXPECT_EQ(ReadAll("option.txt"), written);
}

TEST_F(OptionFile, KeysMatchOnlyAtLineStartInAnyCase) {
    // Only line: lower case is accepted, nothing else changes.
    ASSERT_TRUE(LoadText("item_max=7\n"));
    SettingsCopy expected = SettingsCopy::Defaults();
    expected.itemMax = 7;
    EXPECT_TRUE(SettingsCopy::Take() == expected);

    SettingsCopy::Defaults().Put();
    LoadText(
        " ITEM_MAX=7\r\nITEM_MAX =7\r\nITEM_MAX = 7\r\n;ITEM_MAX=7\r\nITEM_SPEED UP=0\r\n"
        "Item_Show_Time=x\r\nVERSION=9\r\n");
    EXPECT_TRUE(SettingsCopy::Take() == SettingsCopy::Defaults());

    LoadText("ITEM_MAX= 7\nplayer_type_2p=+3\r\nITEM_LR_FLIP=-0\nGAME_WAIT=12abc\n");
    EXPECT_EQ(theItemManager.itemMax, 7);
    EXPECT_EQ(theRound.players[1].type, 3);
    EXPECT_EQ(g_itemTable[10].weight, 0);
    EXPECT_EQ(theRound.state.wait, 12);
}

// A value outside its setting's range, however many digits it has, is
// brought to the nearer limit, said once, and written back limited.
TEST_F(OptionFile, ValuesOutsideTheirRangeAreLimitedAndWrittenLimited) {
    testing::internal::CaptureStderr();
    LoadText(
        "ITEM_GET_DEATH=300\r\nITEM_MAX=-5\r\nEXPLOSION_VALUE_COSMO=70000\r\nKEYBORAD_TYPE=257\r\n"
        "ITEM_USE_FLUSH=255\r\nCHANGE_LIMITATION=-1\r\nGAME_WAIT=4294967297\r\n"
        "METEORITE_TIME=99999999999999999999\r\nMETEORITE_VALUE=-99999999999999999999\r\n");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(theItemManager.itemGetDeath, 100);
    EXPECT_EQ(theItemManager.itemMax, 0);
    EXPECT_EQ(theRound.explosionValues[1], 5000);
    EXPECT_EQ(theApp.keyboardType, 1);
    EXPECT_EQ(theItemManager.itemUseFlush, 1);
    EXPECT_EQ(theItemManager.changeLimitation, 0);
    EXPECT_EQ(theRound.state.wait, 9999);  // not the low 32 bits of 2^32 + 1
    EXPECT_EQ(theRound.meteorite.intervalSeconds, 9000);
    EXPECT_EQ(theRound.meteorite.count, 100);
    EXPECT_NE(said.find("option.txt: GAME_WAIT=4294967297 is out of 0..9999; 9999 is used\n"), std::string::npos)
        << said;
    EXPECT_NE(said.find("option.txt: METEORITE_TIME=9223372036854775807 is out of 1..9000; 9000 is used\n"),
              std::string::npos)
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 9);

    theOption.Save();
    std::string written = ReadAll("option.txt");
    EXPECT_NE(written.find("\r\nITEM_GET_DEATH=100\r\n"), std::string::npos);
    EXPECT_NE(written.find("\r\nITEM_MAX=0\r\n"), std::string::npos);
    EXPECT_NE(written.find("\r\nITEM_USE_FLUSH=1\r\n"), std::string::npos);
    EXPECT_NE(written.find("\r\nKEYBORAD_TYPE=1\r\n"), std::string::npos);
}

// A settings file kept elsewhere behind a symbolic link (or two) is
// written through the links: the file they lead to gets the settings, and
// the links stay links.
TEST_F(OptionFile, ASymlinkedFileIsWrittenThroughTheLink) {
    fs::create_directories("kept/deeper");
    WriteAll("kept/deeper/settings.txt", "ITEM_MAX=7\r\n");
    fs::create_symlink("deeper/settings.txt", "kept/link.txt");
    fs::create_symlink("kept/link.txt", "option.txt");
    ASSERT_TRUE(theOption.Load());
    EXPECT_EQ(theItemManager.itemMax, 7);
    theOption.Save();
    EXPECT_TRUE(fs::is_symlink("option.txt"));
    EXPECT_TRUE(fs::is_symlink("kept/link.txt"));
    EXPECT_EQ(ReadAll("kept/deeper/settings.txt").find(";NUVEL"), 0u);
    EXPECT_NE(ReadAll("kept/deeper/settings.txt").find("\r\nITEM_MAX=7\r\n"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator("kept/deeper"), fs::directory_iterator()), 1);

    // A link to a file not there yet: the save makes it.
    fs::remove("kept/deeper/settings.txt");
    theOption.Save();
    EXPECT_TRUE(fs::is_symlink("option.txt"));
    EXPECT_NE(ReadAll("kept/deeper/settings.txt").find("\r\nITEM_MAX=7\r\n"), std::string::npos);
}

TEST_F(OptionFile, OverlongLinesAreReadInPieces) {
    // 1022 characters fill one read; the rest of the line is matched on its own.
    std::string text = ";" + std::string(1021, 'x') + "ITEM_MAX=9\r\n" + std::string(5000, 'Y') + "\r\nITEM_MOLD=5\r\n";
    LoadText(text);
    EXPECT_EQ(theItemManager.itemMax, 9);
    EXPECT_EQ(g_itemTable[21].weight, 5);
}

TEST_F(OptionFile, GameFileWithEditedValuesRoundTrips) {
    std::string file = ExpectedDefaultFile();
    file = WithValue(file, "GAME_WAIT=", "7");
    file = WithValue(file, "ITEM_QUESTION=", "35");
    file = WithValue(file, "PLAYER_TYPE_3P=", "5");
    ASSERT_FALSE(file.empty());
    LoadText(file);
    EXPECT_EQ(theRound.state.wait, 7);
    EXPECT_EQ(g_itemTable[15].weight, 35);
    EXPECT_EQ(theRound.players[2].type, 5);
    theOption.Save();
    EXPECT_EQ(ReadAll("option.txt"), file);
}

// The settings added after version 1.02A follow that version's file, each
// only while it differs from its default; at their defaults the file is
// that version's byte for byte. Read back, they come back.
TEST_F(OptionFile, AddedSettingsAreWrittenOnlyWhenChanged) {
    // The seats' keys, written by name, have tests of their own.
    theOption.Save();
    EXPECT_EQ(ReadAll("option.txt"), ExpectedDefaultFile());

    std::string expected =
        ExpectedDefaultFile() + ";Settings added after version 1.02A, written when changed from their defaults\r\n";
    for (int i = S_FIRST_ADDED; i < S_KEYS0; ++i) {
        const Setting& s = SettingAt(i);
        const int32_t changed = s.defaultValue == 0 ? 1 : s.defaultValue - 1;
        StoreValue(s, changed);
        expected += std::string(s.key) + std::to_string(changed) + "\r\n";
    }
    expected += "\r\n";
    theOption.Save();
    EXPECT_EQ(ReadAll("option.txt"), expected);

    for (int i = S_FIRST_ADDED; i < S_KEYS0; ++i) StoreValue(SettingAt(i), SettingAt(i).defaultValue);
    ASSERT_TRUE(theOption.Load());
    for (int i = S_FIRST_ADDED; i < S_KEYS0; ++i)
        EXPECT_NE(FetchValue(SettingAt(i)), SettingAt(i).defaultValue) << SettingAt(i).key;
    // Back at its default, a setting leaves the file again.
    StoreValue(SettingAt(S_FIRST_ADDED), SettingAt(S_FIRST_ADDED).defaultValue);
    theOption.Save();
    EXPECT_EQ(ReadAll("option.txt").find(SettingAt(S_FIRST_ADDED).key), std::string::npos);
}

TEST_F(OptionFile, LegacyFileIsReadOnceAndDeleted) {
    const uint8_t dat[39] = {
        0x10, 0x27, 0,    0,                             // GAME_WAIT 10000, above its range
        3,    0,    0,    0,                             // ITEM_MAX
        45,   0,    0,    0,                             // ITEM_SHOW_TIME
        1,                                               // CHANGE_LIMITATION
        0xFF,                                            // EXPLOTION_TYPE -1
        20,   0,    0x88, 0x13, 0x2C, 0x01, 0xFF, 0xFF,  // 20, 5000, 300, 65535
        1,                                               // METEORITE_ENABLE
        30,   0,    0,    0,                             // METEORITE_TIME
        0x84, 0x03, 0,    0,                             // METEORITE_VALUE 900
        1,    0,                                         // MIDI_DEVICE, SOUND_EFFECT
        0x9C,                                            // SOUND_VOLUME -100
        2,    1,    4,    0,                             // player types
        1,                                               // KEYBORAD_TYPE
    };
    WriteAll("option.dat", std::string(reinterpret_cast<const char*>(dat), sizeof(dat)));
    ASSERT_TRUE(theOption.Load());
    EXPECT_FALSE(fs::exists("option.dat"));
    EXPECT_FALSE(fs::exists("option.txt"));

    SettingsCopy expected = SettingsCopy::Defaults();
    // Values outside their range are limited, as from "option.txt".
    expected.wait = 9999;
    expected.itemMax = 3;
    expected.itemShowTime = 45;
    expected.changeLimitation = 1;
    expected.explosionType = 0;
    expected.explosionValues[0] = 20;
    expected.explosionValues[1] = 5000;
    expected.explosionValues[2] = 300;
    expected.explosionValues[3] = 5000;
    expected.meteoriteEnable = 1;
    expected.meteoriteTime = 30;
    expected.meteoriteValue = 900;
    expected.midiDevice = 1;
    expected.soundEffect = 0;
    expected.soundVolume = 0;
    expected.playerTypes[0] = 2;
    expected.playerTypes[1] = 1;
    expected.playerTypes[2] = 4;
    expected.playerTypes[3] = 0;
    expected.keyboardType = 1;
    EXPECT_TRUE(SettingsCopy::Take() == expected);

    // Gone after one read: the next start finds no settings at all.
    SettingsCopy::Defaults().Put();
    EXPECT_FALSE(theOption.Load());
    EXPECT_TRUE(SettingsCopy::Take() == SettingsCopy::Defaults());
}

TEST_F(OptionFile, ShortLegacyFileSetsOnlyWholeFields) {
    // GAME_WAIT complete, ITEM_MAX cut off after two of its four bytes.
    const char dat[] = {0x05, 0, 0, 0, 0x09, 0x00};
    WriteAll("option.dat", std::string(dat, sizeof(dat)));
    EXPECT_TRUE(theOption.Load());
    EXPECT_EQ(theRound.state.wait, 5);
    EXPECT_EQ(theItemManager.itemMax, 1);
    EXPECT_FALSE(fs::exists("option.dat"));

    WriteAll("option.dat", "");
    SettingsCopy::Defaults().Put();
    EXPECT_TRUE(theOption.Load());
    EXPECT_TRUE(SettingsCopy::Take() == SettingsCopy::Defaults());
    EXPECT_FALSE(fs::exists("option.dat"));
}

TEST_F(OptionFile, TextFileWinsOverLegacyFile) {
    const char dat[] = {0x05, 0, 0, 0};
    WriteAll("option.dat", std::string(dat, sizeof(dat)));
    WriteAll("option.txt", "GAME_WAIT=33\r\n");
    EXPECT_TRUE(theOption.Load());
    EXPECT_EQ(theRound.state.wait, 33);
    EXPECT_TRUE(fs::exists("option.dat"));
}

}  // namespace

// The match server is a text: it keeps its letters, an unusable one is said
// and leaves the one there, and neither replays nor an online match's put
// back settings (which carry numbers) touch it.
TEST_F(OptionFile, TheMatchServerIsAWordKeptAsWritten) {
    const Setting& server = SettingAt(S_MATCH_SERVER);
    ASSERT_TRUE(LoadText("MATCH_SERVER=Match.Example.org:26470\r\n"));
    EXPECT_STREQ(theApp.matchServer, "Match.Example.org:26470");
    theOption.Save();
    EXPECT_NE(ReadAll("option.txt").find("\r\nMATCH_SERVER=Match.Example.org:26470\r\n"), std::string::npos);

    EXPECT_EQ(FetchValue(server), 0);
    StoreValue(server, 12345);
    StepSetting(server, 1);
    EXPECT_STREQ(theApp.matchServer, "Match.Example.org:26470");

    for (const std::string& bad : {std::string("two words"), std::string(kSettingTextMax, 'x')}) {
        ASSERT_TRUE(LoadText("MATCH_SERVER=" + bad + "\r\n"));
        EXPECT_STREQ(theApp.matchServer, "Match.Example.org:26470") << bad;
    }
    // Empty is no server, and the file then has no such line.
    ASSERT_TRUE(LoadText("MATCH_SERVER=\r\n"));
    EXPECT_STREQ(theApp.matchServer, "");
    theOption.Save();
    EXPECT_EQ(ReadAll("option.txt"), ExpectedDefaultFile());
}
