// The game folder split in two: the data set read from one folder, the
// game's own files written to another, and how start-up chooses them.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <optional>
#include <string>

#include "config/option.h"
#include "core/app.h"
#include "tests/testutil.h"

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
