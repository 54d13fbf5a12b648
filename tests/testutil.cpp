#include "tests/testutil.h"

#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "graphics/dibsection.h"
#include "items/itemmanager.h"
#include "screens/stageselect.h"

namespace testutil {

void StartHeadlessDisplay(uint32_t nsPerPump) {
    static bool started = false;
    if (!started) {
        ASSERT_TRUE(plat::Init());
        ASSERT_TRUE(plat::CreateGameWindow("Tarnwick test", 640, 480));
        // The tests read the picture shown by whole pixels (ShownColour).
        plat::Display().scaling = plat::SCALING_WHOLE;
        started = true;
    }
    if (!theDirectDraw.Started()) {
        ASSERT_TRUE(theDirectDraw.StartDirectDraw(640, 480, 8));
    }
    plat::UseTestClock(1000, nsPerPump);
    plat::FlushMessages();
    theApp.ClearKeys();
    theApp.ctrlFlag = 0;
    theApp.anyKeyFlag = 0;
    theDirectDraw.ClearSurface(0);
    theDirectDraw.ClearSurface(1);
    theDirectDraw.SetDestClip(0, 0, 640, 480);
    theDirectDraw.SetSourceClip(0, 0, 640, 480);
}

void SetDistinctPalette() {
    PaletteEntry* palette = theDirectDraw.MasterPalette();
    for (int i = 0; i < 256; i++) palette[i] = PaletteEntry{uint8_t(i), uint8_t((i * 7) & 255), uint8_t(255 - i), 1};
    palette[0] = PaletteEntry{0, 0, 0, 1};
    palette[255] = PaletteEntry{255, 255, 255, 1};
    theDirectDraw.ApplyPalette();
}

uint8_t PixelAt(SurfaceId id, int x, int y) {
    Surface* s = theDirectDraw.GetSurface(id);
    if (!s || x < 0 || y < 0 || x >= s->width || y >= s->height) return 0;
    return s->pixels[y * s->pitch + x];
}

uint32_t ShownColour(int x, int y) {
    // The picture is scaled by whole pixels and centred in the window.
    int width = 0, height = 0;
    while (plat::ShownPixel(width, 0) != plat::kNoPixel) width++;
    while (plat::ShownPixel(0, height) != plat::kNoPixel) height++;
    if (width < 640 || height < 480) return plat::kNoPixel;
    int scale = std::min(width / 640, height / 480);
    return plat::ShownPixel((width - 640 * scale) / 2 + x * scale, (height - 480 * scale) / 2 + y * scale);
}

std::string TempRoot() {
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

namespace {

// The temporary folders of this process that are still there. Whatever is
// left when the process ends through exit() goes then.
class LiveTempDirs {
public:
    void Add(const std::string& path) { m_paths.insert(path); }
    void Remove(const std::string& path) { m_paths.erase(path); }
    ~LiveTempDirs() {
        for (const std::string& path : m_paths) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }

private:
    std::set<std::string> m_paths;
};

LiveTempDirs& Live() {
    static LiveTempDirs live;
    return live;
}

}  // namespace

TempDir::TempDir(const char* prefix) {
    std::string pattern = TempRoot() + "/" + prefix + "-XXXXXX";
    m_made = mkdtemp(pattern.data()) != nullptr;
    if (!m_made) ADD_FAILURE() << "cannot make a temporary folder " << pattern << ": " << std::strerror(errno);
    m_path = pattern;
    if (m_made) Live().Add(m_path);
}

TempDir::~TempDir() {
    if (!m_made) return;
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    Live().Remove(m_path);
}

ScopedCwd::ScopedCwd(const std::string& dir) {
    char buffer[4096];
    m_old = getcwd(buffer, sizeof buffer) ? buffer : ".";
    if (chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot enter " << dir;
}

ScopedCwd::~ScopedCwd() {
    if (chdir(m_old.c_str()) != 0) ADD_FAILURE() << "cannot return to " << m_old;
}

ScopedTmpfs::ScopedTmpfs(size_t kilobytes) : m_mounted(false) {
    if (geteuid() != 0) return;
    std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0755";
    m_mounted = mount("tmpfs", m_dir.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
}

ScopedTmpfs::~ScopedTmpfs() {
    if (m_mounted) umount2(m_dir.path().c_str(), MNT_DETACH);
}

void ScopedTmpfs::Fill(size_t keepBytes) {
    FILE* f = std::fopen(File("filler").c_str(), "wb");
    if (!f) return;
    static const char block[512] = {};
    while (FreeBytes() > keepBytes) {
        size_t n = std::min<uint64_t>(sizeof block, FreeBytes() - keepBytes);
        if (std::fwrite(block, 1, n, f) != n || std::fflush(f) != 0) break;
    }
    std::fclose(f);
}

bool ScopedTmpfs::MakeReadOnly() {
    return m_mounted && mount("tmpfs", m_dir.path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

uint64_t ScopedTmpfs::FreeBytes() const {
    struct statvfs st;
    if (statvfs(m_dir.path().c_str(), &st) != 0) return 0;
    return uint64_t(st.f_bavail) * st.f_frsize;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

void StartRoundsHeadless(uint32_t nsPerPump) {
    StartHeadlessDisplay(nsPerPump);
    LoadGamePictures();
    {
        ScopedCwd cwd(NUVEL_GAME_DIR);
        if (!theItemManager.pictures[0]) theItemManager.LoadPictures();
    }
    theApp.FillDirectionTables();
}

void WriteStageList(const std::string& dir, const std::string& list) {
    ScopedCwd cwd(dir);
    std::filesystem::create_directories(dir + "/stage");
    WriteFile(dir + "/stage/stage.txt", list);
    CDibSection empty;
    ASSERT_TRUE(empty.Create(640, 416, 8));
    RgbQuad colors[256] = {};
    empty.SetColorTable(0, 256, colors);
    empty.SavePng("stage/EMPTY.PNG");
    theStageSelect.LoadStageList();
    theStageSelect.selectedStage = 0;
}

void LoadGamePictures() {
    ScopedCwd cwd(NUVEL_GAME_DIR);
    theDirectDraw.ReleaseSurface(theApp.fontSurface);
    theDirectDraw.ReleaseSurface(theApp.backgroundSurface);
    theDirectDraw.ReleaseSurface(theApp.cursorSurface);
    theDirectDraw.ReleaseSurface(theApp.workSurface);
    theApp.fontSurface = theDirectDraw.LoadPng("Graphics\\font.png", true, false);
    theApp.backgroundSurface = theDirectDraw.LoadPng("Graphics\\background.png", false, false);
    theApp.cursorSurface = theDirectDraw.LoadPng("Graphics\\cursor.png", false, true);
    theApp.workSurface = theDirectDraw.CreateSurface(640, 24, true);
    theApp.SetAlphaTable(&theApp.tintTable, 50, 50, 115);
    for (int k = 0; k < 16; k++) {
        uint8_t add = uint8_t(8 + 10 * k);
        theApp.SetAlphaTable(&theApp.greyTables[k], add, add, add);
    }
}

void PumpFor(uint32_t ms) {
    theApp.StartFrame();
    theApp.WaitFrame(ms);
}

VirtualPad::VirtualPad() : m_handle(plat::AttachVirtualPad()) {
    EXPECT_GE(m_handle, 0) << "no virtual pad";
    PumpFor(2);
}

VirtualPad::~VirtualPad() { Unplug(); }

void VirtualPad::Set(plat::PadButton button, bool down) {
    EXPECT_TRUE(plat::SetVirtualPadButton(m_handle, button, down));
    PumpFor(down ? 2 : 60);
}

void VirtualPad::ScriptPress(uint32_t atMs, plat::PadButton button) {
    plat::ScriptPadButton(atMs, m_handle, button, true);
    plat::ScriptPadButton(atMs + 66, m_handle, button, false);
}

void VirtualPad::Unplug() {
    if (m_handle < 0) return;
    EXPECT_TRUE(plat::DetachVirtualPad(m_handle));
    m_handle = -1;
    PumpFor(2);
}

}  // namespace testutil
