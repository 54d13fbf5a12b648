// The whole program, headless on the test clock: start-up, logo intro,
// first-run calibration, the title opening and menu, driven by scripted keys.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/shell.h"
#include "tests/testutil.h"

namespace {

// A game folder with the generated data and room for the files the game
// writes, in $TMPDIR, removed at the end of the test. Death tests run the test
// body again in a child process, so the folder has a fixed name (per build and
// test) that the child finds again, and is made afresh each time. The child
// ends inside the death test, through exit(), so only the parent's object
// reaches its destructor: the parent removes the folder, also after a failed
// assertion.
class GameFolder {
public:
    explicit GameFolder(const char* test)
        : m_path(testutil::TempRoot() + "/nuvel-flow-" + test + "-" +
                 std::to_string(std::hash<std::string>{}(NUVEL_GAME_DIR) % 100000)) {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
        for (const auto& entry : std::filesystem::directory_iterator(NUVEL_GAME_DIR))
            std::filesystem::create_symlink(entry.path(), m_path + "/" + entry.path().filename().string());
    }
    ~GameFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    GameFolder(const GameFolder&) = delete;
    GameFolder& operator=(const GameFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

std::string Read(const std::string& dir, const char* name) { return testutil::ReadFile(dir + "/" + name); }

// Runs the program from its entry with the given keys (times in ms of game
// time from start-up) and ends the test process with the program's exit.
[[noreturn]] void RunGame(const std::string& dir, std::initializer_list<std::pair<uint32_t, uint32_t>> keys) {
    if (chdir(dir.c_str()) != 0) _exit(99);
    alarm(120);                     // a screen that never ends fails the test instead of hanging it
    plat::UseTestClock(0, 200000);  // 0.2 ms of game time per message pump
    for (auto [at, vk] : keys) plat::ScriptKey(at, vk);
    WinMain();
    _exit(98);
}

// The title menu is up well within 30 s of game time (logo intro about 5 s,
// calibration 2 s, title opening about 4 s).
constexpr uint32_t kMenuUp = 30000;

}  // namespace

TEST(TitleFlow, ExitSavesTheSettingsAndEndsNormally) {
    GameFolder folder("exit");
    const std::string& dir = folder.path();
    EXPECT_EXIT(RunGame(dir, {{kMenuUp, plat::VK_DOWN},
                              {kMenuUp + 100, plat::VK_DOWN},
                              {kMenuUp + 200, plat::VK_RIGHT},  // 2P: MAN -> NON
                              {kMenuUp + 300, plat::VK_RIGHT},  // NON -> EASY COM
                              {kMenuUp + 400, plat::VK_UP},
                              {kMenuUp + 500, plat::VK_UP},
                              {kMenuUp + 600, plat::VK_UP},  // START -> wraps to EXIT
                              {kMenuUp + 700, plat::VK_RETURN}}),
                testing::ExitedWithCode(0), "");
    std::string saved = Read(dir, "option.txt");
    ASSERT_FALSE(saved.empty()) << "no option.txt written";
    EXPECT_NE(saved.find("PLAYER_TYPE_1P=0\r\n"), std::string::npos);
    EXPECT_NE(saved.find("PLAYER_TYPE_2P=2\r\n"), std::string::npos);
    // The calibration at 0.2 ms per pump: (2.4 - b) / (20 x 0.2) is 0.
    EXPECT_NE(saved.find("GAME_WAIT=0\r\n"), std::string::npos);
}

TEST(TitleFlow, EscapeLeavesWithoutSavingAndStartNeedsTwoPlayers) {
    GameFolder folder("escape");
    const std::string& dir = folder.path();
    testutil::WriteFile(dir + "/option.txt",
                        "PLAYER_TYPE_1P=0\r\nPLAYER_TYPE_2P=1\r\nPLAYER_TYPE_3P=1\r\nPLAYER_TYPE_4P=1\r\n");
    // With one player START does nothing; the screen stays until Escape.
    EXPECT_EXIT(RunGame(dir, {{kMenuUp, plat::VK_RETURN}, {kMenuUp + 500, plat::VK_ESCAPE}}),
                testing::ExitedWithCode(0), "");
    EXPECT_EQ(Read(dir, "option.txt"),
              "PLAYER_TYPE_1P=0\r\nPLAYER_TYPE_2P=1\r\nPLAYER_TYPE_3P=1\r\nPLAYER_TYPE_4P=1\r\n");
}

TEST(TitleFlow, PauseEndsAtOnceAndMissingDataIsAClearMessage) {
    GameFolder folder("pause");
    const std::string& dir = folder.path();
    EXPECT_EXIT(RunGame(dir, {{3000, plat::VK_PAUSE}}), testing::ExitedWithCode(0), "^$");
    EXPECT_FALSE(std::filesystem::exists(dir + "/option.txt"));
    testutil::TempDir empty;
    EXPECT_EXIT(RunGame(empty.path(), {}), testing::ExitedWithCode(1), "font.png: ファイルをオープン出来ません");
}

// Keys pressed while the title opens are kept: the first cuts the opening
// short, and all work the menu in the order they came. Here they make 2P an
// EASY COM and leave through EXIT, which saves it; were they lost, the menu
// would wait for the late Escape and leave without saving. The keys are
// scripted from the first message pump of the opening, wherever that falls.
namespace {

void PressKeysDuringTheOpening() {
    static bool pressed = false;
    if (pressed || !theApp.keepingPresses) return;
    pressed = true;
    const uint32_t keys[] = {plat::VK_DOWN, plat::VK_DOWN, plat::VK_RIGHT, plat::VK_RIGHT,
                             plat::VK_UP,   plat::VK_UP,   plat::VK_UP,    plat::VK_RETURN};
    uint32_t at = plat::TimeMs() + 10;
    for (uint32_t vk : keys) plat::ScriptKey(at += 80, vk);
}

}  // namespace

TEST(TitleFlow, KeysPressedDuringTheOpeningAreNotLost) {
    GameFolder folder("opening");
    const std::string& dir = folder.path();
    testutil::WriteFile(dir + "/option.txt", "GAME_WAIT=80\r\n");  // no calibration
    EXPECT_EXIT(
        {
            CApp::SetPumpHook(PressKeysDuringTheOpening);
            RunGame(dir, {{kMenuUp, plat::VK_ESCAPE}});
        },
        testing::ExitedWithCode(0), "");
    EXPECT_NE(Read(dir, "option.txt").find("PLAYER_TYPE_2P=2\r\n"), std::string::npos);
}
