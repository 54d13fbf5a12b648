// Files the game writes, on a disk that fills up or cannot be written: a
// screenshot that cannot be kept is reported and the game goes on, and no
// write ever leaves a partial file or its temporary file behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "config/option.h"
#include "graphics/dibsection.h"
#include "tests/testutil.h"

using testutil::ScopedTmpfs;
using testutil::TempDir;

namespace {

// The names of the files in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A picture that does not compress much, so its file is about 300 KB.
void DrawNoise() {
    const SurfaceDesc& desc = theDirectDraw.Lock(kVisibleSurface);
    uint32_t state = 12345;
    for (int y = 0; y < desc.height; y++)
        for (int x = 0; x < desc.width; x++) {
            state = state * 1103515245u + 12345u;
            desc.pixels[y * desc.pitch + x] = uint8_t(state >> 24);
        }
    theDirectDraw.Unlock(kVisibleSurface);
}

// F6 through the window procedure, as in a round or a menu; returns what
// the game said on standard error.
std::string PressF6() {
    testing::internal::CaptureStderr();
    plat::PostMessage(plat::Message{plat::MSG_KEYDOWN, plat::VK_F6, 0});
    theApp.PumpMessages();
    plat::PostMessage(plat::Message{plat::MSG_KEYUP, plat::VK_F6, 0});
    theApp.PumpMessages();
    return testing::internal::GetCapturedStderr();
}

class WriteFailures : public testing::Test {
protected:
    void SetUp() override {
        testutil::StartHeadlessDisplay();
        testutil::SetDistinctPalette();
    }
    void TearDown() override { plat::SetGameFolders("", ""); }
};

}  // namespace

// A disk with room for part of a screenshot, then one with no room at all:
// each F6 is reported and the game goes on; nothing is left on the disk, and
// the space is free again. Once there is room, the next F6 takes the first
// free number.
TEST_F(WriteFailures, ScreenshotsOnAFullDiskAreReportedAndLeaveNothing) {
    ScopedTmpfs disk(256);
    if (!disk.mounted()) GTEST_SKIP() << "mounting a small file system needs root";
    ASSERT_TRUE(plat::SetGameFolders("", disk.path().c_str()));
    DrawNoise();
    disk.Fill(8 * 1024);
    const uint64_t freeBefore = disk.FreeBytes();

    std::string said = PressF6();
    EXPECT_NE(said.find("shot_000.png could not be written"), std::string::npos) << said;
    EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
    EXPECT_EQ(FilesIn(disk.path()), std::vector<std::string>{"filler"});
    EXPECT_EQ(disk.FreeBytes(), freeBefore);

    disk.Fill(0);
    theDirectDraw.ClearSurface(0);  // a small picture does not fit either
    said = PressF6();
    EXPECT_NE(said.find("could not be written"), std::string::npos) << said;
    EXPECT_EQ(FilesIn(disk.path()), std::vector<std::string>{"filler"});

    ASSERT_EQ(unlink(disk.File("filler").c_str()), 0);
    said = PressF6();
    EXPECT_EQ(said, "");
    EXPECT_EQ(FilesIn(disk.path()), std::vector<std::string>{"shot_000.png"});
    CDibSection shot;
    shot.LoadPng(disk.File("shot_000.png").c_str());
    EXPECT_EQ(shot.Width(), 640);
}

// A folder that cannot be written, and no place to keep anything at all.
TEST_F(WriteFailures, ScreenshotsWhereNothingCanBeWrittenAreReported) {
    ScopedTmpfs disk(64);
    if (disk.mounted()) {
        ASSERT_TRUE(disk.MakeReadOnly());
        ASSERT_TRUE(plat::SetGameFolders("", disk.path().c_str()));
        std::string said = PressF6();
        EXPECT_NE(said.find("Read-only file system"), std::string::npos) << said;
        EXPECT_TRUE(FilesIn(disk.path()).empty());
    }

    TempDir data;
    ASSERT_TRUE(plat::SetGameFolders(data.path().c_str(), data.path().c_str(), false));
    std::string said = PressF6();
    EXPECT_NE(said.find("no screenshot taken"), std::string::npos) << said;
    EXPECT_TRUE(FilesIn(data.path()).empty());
}

// On a full disk the picture is encoded and its file cannot be written: that
// is the cause reported (SavePng's callers end with the file message, not
// with the encoder's), and nothing is left on the disk.
TEST_F(WriteFailures, APictureOnAFullDiskIsNotWrittenForWantOfSpace) {
    ScopedTmpfs disk(64);
    if (!disk.mounted()) GTEST_SKIP() << "mounting a small file system needs root";
    disk.Fill(0);
    CDibSection dib;
    dib.Create(64, 64, 8);
    errno = 0;
    EXPECT_EQ(dib.WritePng(disk.File("picture.png").c_str()), PNG_NOT_WRITTEN);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(FilesIn(disk.path()), std::vector<std::string>{"filler"});
}

// The encoder refuses a picture (no width): the failure comes back to the
// caller with nothing written, and everything the encoder held is freed (the
// sanitizer build checks for leaks at exit).
TEST_F(WriteFailures, AnEncoderErrorWritesNothing) {
    TempDir dir;
    CDibSection dib;
    dib.Create(0, 4, 8);
    std::string path = dir.File("empty.png");
    for (int k = 0; k < 3; k++) EXPECT_EQ(dib.WritePng(path.c_str()), PNG_NOT_ENCODED);
    EXPECT_TRUE(FilesIn(dir.path()).empty());
    EXPECT_EXIT(dib.SavePng(path.c_str()), testing::ExitedWithCode(1), "PNG構造体作成に失敗");
}

// Settings saved to a full disk: the file there stays as it was, whole, and
// the failure is reported.
TEST_F(WriteFailures, SettingsOnAFullDiskKeepTheOldFile) {
    ScopedTmpfs disk(64);
    if (!disk.mounted()) GTEST_SKIP() << "mounting a small file system needs root";
    testutil::WriteFile(disk.File("option.txt"), "ITEM_MAX=7\r\n");
    ASSERT_TRUE(plat::SetGameFolders("", disk.path().c_str()));
    disk.Fill(0);
    testing::internal::CaptureStderr();
    theOption.Save();
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("settings could not be saved"), std::string::npos) << said;
    EXPECT_EQ(testutil::ReadFile(disk.File("option.txt")), "ITEM_MAX=7\r\n");
    EXPECT_EQ(FilesIn(disk.path()), (std::vector<std::string>{"filler", "option.txt"}));
}
