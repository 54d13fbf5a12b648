// The game folder split in two: the data set read from one folder, the
// game's own files written to another, and how start-up chooses them.
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "config/option.h"
#include "core/app.h"
#include "items/itemmanager.h"
#include "match/round.h"
#include "replay/replay.h"
#include "tests/testutil.h"

using testutil::ScopedTmpfs;
using testutil::TempDir;

namespace {

// Sets or clears an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Writes the files every start loads, in the letter case given.
void WriteDataSet(const std::string& dir, const char* graphics = "Graphics", const char* stage = "Stage") {
    mkdir((dir + "/" + graphics).c_str(), 0755);
    mkdir((dir + "/" + stage).c_str(), 0755);
    testutil::WriteFile(dir + "/" + graphics + "/font.png", "font");
    testutil::WriteFile(dir + "/" + stage + "/stage.txt", "list");
}

// Every setting as it was before the scope, put back at its end.
class KeepSettings {
public:
    KeepSettings() {
        for (int s = 0; s < S_COUNT; s++) m_values[s] = FetchValue(SettingAt(s));
    }
    ~KeepSettings() {
        for (int s = 0; s < S_COUNT; s++) StoreValue(SettingAt(s), m_values[s]);
    }

private:
    int32_t m_values[S_COUNT];
};

// Every file below a folder with its bytes, to tell that nothing changed.
std::map<std::string, std::string> Contents(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        files[entry.path().string()] = entry.is_regular_file() ? testutil::ReadFile(entry.path()) : "<folder>";
    return files;
}

const char kGameFolderSettings[] =
    "GAME_WAIT=10\r\nITEM_MAX=7\r\nPLAYER_TYPE_1P=4\r\nPLAYER_TYPE_2P=4\r\nPLAYER_TYPE_3P=1\r\n"
    "PLAYER_TYPE_4P=1\r\n";

std::string RealPath(const std::string& path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) ? real : "";
}

// Every test leaves the game folders as the working directory again.
class GameFolders : public testing::Test {
protected:
    void TearDown() override { plat::SetGameFolders("", ""); }
    TempDir m_data;
    TempDir m_writable;
};

}  // namespace

TEST_F(GameFolders, DataSetPathsReadTheDataFolderAndOthersTheWritableFolder) {
    WriteDataSet(m_data.path(), "graphics", "STAGE");
    testutil::WriteFile(m_data.path() + "/option.txt", "not the settings");
    testutil::WriteFile(m_writable.path() + "/Option.txt", "settings");
    mkdir((m_writable.path() + "/Stage").c_str(), 0755);
    ASSERT_TRUE(plat::SetGameFolders(m_data.path().c_str(), m_writable.path().c_str()));

    char out[PATH_MAX];
    EXPECT_TRUE(plat::ResolvePath("Graphics\\FONT.png", out, sizeof out));
    EXPECT_EQ(std::string(out), m_data.path() + "/graphics/font.png");
    EXPECT_TRUE(plat::ResolvePath("stage\\stage.txt", out, sizeof out));
    EXPECT_EQ(std::string(out), m_data.path() + "/STAGE/stage.txt");
    EXPECT_TRUE(plat::ResolvePath("option.txt", out, sizeof out));
    EXPECT_EQ(std::string(out), m_writable.path() + "/Option.txt");
    // Only a whole first component names a data folder.
    EXPECT_FALSE(plat::ResolvePath("Stagehand.txt", out, sizeof out));
    EXPECT_EQ(std::string(out), m_writable.path() + "/Stagehand.txt");
    // Absolute paths are taken as they are.
    std::string absolute = m_data.path() + "/option.txt";
    EXPECT_TRUE(plat::ResolvePath(absolute.c_str(), out, sizeof out));
    EXPECT_EQ(std::string(out), absolute);

    ASSERT_TRUE(plat::WriteFileAtomic("shot_000.png", "png", 3));
    EXPECT_EQ(testutil::ReadFile(m_writable.path() + "/shot_000.png"), "png");
    EXPECT_FALSE(plat::FileExists("Graphics\\shot_000.png"));
    EXPECT_TRUE(plat::RemoveFile("shot_000.png"));
    EXPECT_EQ(testutil::ReadFile(m_data.path() + "/option.txt"), "not the settings");

    // A folder name too long for a path changes nothing.
    std::string tooLong(5000, 'a');
    EXPECT_FALSE(plat::SetGameFolders(tooLong.c_str(), ""));
    EXPECT_STREQ(plat::DataFolder(), m_data.path().c_str());
}

TEST_F(GameFolders, SettingsAndScreenshotsOfTheGameGoToTheWritableFolder) {
    testutil::StartHeadlessDisplay();
    TempDir elsewhere;
    testutil::ScopedCwd cwd(elsewhere.path());
    ASSERT_TRUE(plat::SetGameFolders(m_data.path().c_str(), m_writable.path().c_str()));

    theOption.Save();
    EXPECT_TRUE(theOption.Load());
    theApp.Screenshot();
    EXPECT_FALSE(testutil::ReadFile(m_writable.path() + "/option.txt").empty());
    EXPECT_FALSE(testutil::ReadFile(m_writable.path() + "/shot_000.png").empty());
    // Nothing in the working directory or the data folder.
    plat::SetGameFolders("", "");
    EXPECT_FALSE(plat::FileExists("option.txt"));
    EXPECT_FALSE(plat::FileExists("shot_000.png"));
    EXPECT_FALSE(plat::FileExists((m_data.path() + "/option.txt").c_str()));
}

TEST_F(GameFolders, StartedInTheGameFolderEverythingStaysThere) {
    WriteDataSet(m_data.path(), "GRAPHICS", "stage");
    testutil::ScopedCwd cwd(m_data.path());
    ScopedEnv xdg("XDG_DATA_HOME", m_writable.path().c_str());
    plat::ChooseGameFolders(m_writable.path().c_str());
    EXPECT_STREQ(plat::DataFolder(), "");
    EXPECT_STREQ(plat::WritableFolder(), "");
    EXPECT_FALSE(plat::FileExists((m_writable.path() + "/tarnwick").c_str()));
}

TEST_F(GameFolders, AnInstalledGameKeepsItsFilesInThePerUserFolder) {
    WriteDataSet(m_data.path());
    TempDir elsewhere;
    testutil::ScopedCwd cwd(elsewhere.path());
    std::string user = m_writable.path() + "/deep/data";
    ScopedEnv xdg("XDG_DATA_HOME", user.c_str());

    // The first start creates the folder, private to the user.
    std::string relative = "../" + m_data.path().substr(m_data.path().rfind('/') + 1);
    plat::ChooseGameFolders(relative.c_str());
    EXPECT_EQ(std::string(plat::DataFolder()), RealPath(m_data.path()));
    EXPECT_EQ(std::string(plat::WritableFolder()), user + "/tarnwick");
    struct stat st;
    ASSERT_EQ(stat((user + "/tarnwick").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A later start uses the existing folder and what is stored in it.
    testutil::WriteFile(user + "/tarnwick/option.txt", "stored");
    plat::ChooseGameFolders(m_data.path().c_str());
    EXPECT_EQ(std::string(plat::WritableFolder()), user + "/tarnwick");
    EXPECT_EQ(testutil::ReadFile(user + "/tarnwick/option.txt"), "stored");
}

TEST_F(GameFolders, PerUserFolderFollowsTheBaseDirectoryRules) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/data/x");
        EXPECT_EQ(plat::UserDataFolder(), "/data/x/tarnwick");
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative/data");  // invalid: ignored
        EXPECT_EQ(plat::UserDataFolder(), "/home/someone/.local/share/tarnwick");
    }
    ScopedEnv xdg("XDG_DATA_HOME", "");
    EXPECT_EQ(plat::UserDataFolder(), "/home/someone/.local/share/tarnwick");
}

TEST_F(GameFolders, WithoutAPerUserFolderOrADataSetTheGameStillStarts) {
    WriteDataSet(m_data.path());
    TempDir elsewhere;
    testutil::ScopedCwd cwd(elsewhere.path());
    // The per-user folder would have to go below a plain file.
    testutil::WriteFile(m_writable.path() + "/file", "x");
    ScopedEnv xdg("XDG_DATA_HOME", (m_writable.path() + "/file").c_str());
    plat::ChooseGameFolders(m_data.path().c_str());
    EXPECT_EQ(std::string(plat::DataFolder()), RealPath(m_data.path()));
    EXPECT_EQ(std::string(plat::WritableFolder()), RealPath(m_data.path()));

    // No data set anywhere: the working directory, where the loads report it.
    plat::ChooseGameFolders(m_writable.path().c_str());
    EXPECT_STREQ(plat::DataFolder(), "");
    EXPECT_STREQ(plat::WritableFolder(), "");
}

// A game folder that cannot be written (mounted read-only where the tests may
// mount) keeps its own settings: they are read from it while the per-user
// folder has none, saved to the per-user folder, and from then on read from
// there; the game folder is never changed.
TEST_F(GameFolders, AReadOnlyGameFolderKeepsItsOwnSettings) {
    KeepSettings keep;
    ScopedTmpfs readOnly(256);
    const std::string game = readOnly.mounted() ? readOnly.path() : m_data.path();
    WriteDataSet(game);
    testutil::WriteFile(game + "/option.txt", kGameFolderSettings);
    ScopedEnv xdg("XDG_DATA_HOME", m_writable.path().c_str());
    const std::string user = m_writable.path() + "/tarnwick";
    if (readOnly.mounted()) {
        ASSERT_TRUE(readOnly.MakeReadOnly());
        testutil::ScopedCwd cwd(game);
        plat::ChooseGameFolders(m_data.path().c_str());
        ASSERT_STREQ(plat::DataFolder(), "");
        ASSERT_EQ(std::string(plat::WritableFolder()), user);
    } else {
        ASSERT_EQ(mkdir(user.c_str(), 0700), 0);
        ASSERT_TRUE(plat::SetGameFolders(game.c_str(), user.c_str()));
    }
    const auto before = Contents(game);
    testutil::ScopedCwd cwd(game);

    theRound.state.wait = 73;
    EXPECT_TRUE(theOption.Load());
    EXPECT_EQ(theRound.state.wait, 10);
    EXPECT_EQ(theItemManager.itemMax, 7);
    const int8_t seats[kPlayers] = {PLAYER_HARD, PLAYER_HARD, PLAYER_NON, PLAYER_NON};
    for (int p = 0; p < kPlayers; p++) EXPECT_EQ(theRound.players[p].type, seats[p]) << p;

    theRound.state.wait = 20;
    theOption.Save();
    EXPECT_NE(testutil::ReadFile(user + "/option.txt").find("GAME_WAIT=20\r\n"), std::string::npos);
    theRound.state.wait = 73;
    EXPECT_TRUE(theOption.Load());
    EXPECT_EQ(theRound.state.wait, 20);
    EXPECT_EQ(Contents(game), before);
}

// The older binary file follows the same rule: one in the writable folder is
// read and deleted; the game folder's is read while the writable folder has
// no settings, and stays where it is.
TEST_F(GameFolders, TheGameFoldersOlderSettingsFileIsReadButNeverDeleted) {
    KeepSettings keep;
    uint8_t dat[39] = {};
    dat[0] = 10;  // GAME_WAIT
    dat[4] = 7;   // ITEM_MAX
    const std::string legacy(reinterpret_cast<const char*>(dat), sizeof dat);
    testutil::WriteFile(m_data.path() + "/option.dat", legacy);
    ASSERT_TRUE(plat::SetGameFolders(m_data.path().c_str(), m_writable.path().c_str()));
    theRound.state.wait = 73;
    EXPECT_TRUE(theOption.Load());
    EXPECT_EQ(theRound.state.wait, 10);
    EXPECT_EQ(testutil::ReadFile(m_data.path() + "/option.dat"), legacy);

    dat[0] = 30;
    testutil::WriteFile(m_writable.path() + "/option.dat", std::string(reinterpret_cast<const char*>(dat), 39));
    EXPECT_TRUE(theOption.Load());
    EXPECT_EQ(theRound.state.wait, 30);
    EXPECT_FALSE(plat::FileExists("option.dat"));
    EXPECT_EQ(testutil::ReadFile(m_data.path() + "/option.dat"), legacy);

    // With no place to keep files, the game folder's file is only read.
    ASSERT_TRUE(plat::SetGameFolders(m_data.path().c_str(), m_data.path().c_str(), false));
    EXPECT_TRUE(theOption.Load());
    EXPECT_EQ(theRound.state.wait, 10);
    EXPECT_EQ(testutil::ReadFile(m_data.path() + "/option.dat"), legacy);
}

// An installed game whose home cannot be written (read-only where the tests
// may mount, else with the per-user folder below a plain file) says that it
// keeps nothing, runs with the settings of its data folder, and writes
// nothing anywhere: no settings, no screenshot, no replay.
TEST_F(GameFolders, WithNoPlaceToKeepFilesNothingIsWritten) {
    KeepSettings keep;
    testutil::StartHeadlessDisplay();
    WriteDataSet(m_data.path());
    testutil::WriteFile(m_data.path() + "/option.txt", kGameFolderSettings);
    TempDir elsewhere;
    testutil::ScopedCwd cwd(elsewhere.path());
    ScopedTmpfs home(64);
    std::string homePath = m_writable.path() + "/file";
    if (home.mounted()) {
        ASSERT_TRUE(home.MakeReadOnly());
        homePath = home.path();
    } else {
        testutil::WriteFile(homePath, "x");
    }
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv homeEnv("HOME", homePath.c_str());
    testing::internal::CaptureStderr();
    plat::ChooseGameFolders(m_data.path().c_str());
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("are not kept"), std::string::npos) << said;
    EXPECT_FALSE(plat::CanWriteGameFiles());
    const auto before = Contents(m_data.path());

    EXPECT_TRUE(theOption.Load());
    EXPECT_EQ(theRound.state.wait, 10);
    theOption.Save();
    testing::internal::CaptureStderr();
    theApp.Screenshot();
    said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("no screenshot taken"), std::string::npos) << said;
    const bool wasValid = theReplay.lastValid, saved = theReplay.saveFiles;
    theReplay.lastValid = true;
    theReplay.saveFiles = true;
    EXPECT_FALSE(theReplay.SaveLast());
    theReplay.lastValid = wasValid;
    theReplay.saveFiles = saved;
    EXPECT_FALSE(plat::WriteFileAtomic("shot_000.png", "png", 3));
    EXPECT_EQ(errno, EROFS);
    EXPECT_FALSE(plat::MakeFolder("replays"));
    EXPECT_FALSE(plat::RemoveFile("option.txt"));
    EXPECT_EQ(plat::OpenFile("option.txt", "ab"), nullptr);

    EXPECT_EQ(Contents(m_data.path()), before);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
    if (!home.mounted()) {
        EXPECT_EQ(testutil::ReadFile(homePath), "x");
    }
}
