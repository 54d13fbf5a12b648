// The music front on both devices with a short MIDI file the test writes:
// one note in a piece of a quarter of a second. The stream is paused and
// rendered by hand, so the piece's time is the rendered time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/midi.h"
#include "platform/platform.h"
#include "sound/bgm.h"
#include "tests/testutil.h"

namespace {

constexpr int kPieceMs = 250;
constexpr int kBlockMs = 10;

// Format 0, 96 ticks per quarter at 250000 us per quarter: the note sounds
// for the first 125 ms, the track ends at 250 ms.
std::vector<uint8_t> ShortPiece(uint8_t key) {
    std::vector<uint8_t> track = {
        0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90,  // tempo 250000 us
        0x00, 0xC0, 0x00,                          // piano
        0x00, 0x90, key,  0x64, 0x30, 0x80, key,  0x40, 0x30, 0xFF, 0x2F, 0x00,
    };
    std::vector<uint8_t> f = {'M', 'T', 'h', 'd', 0,   0,   0,   6, 0, 0, 0,
                              1,   0,   96,  'M', 'T', 'r', 'k', 0, 0, 0, uint8_t(track.size())};
    for (uint8_t byte : track) f.push_back(byte);
    return f;
}

// Peak level of each 10 ms block.
using Levels = std::vector<int>;

class BgmTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldDir_ = std::filesystem::current_path();
        dir_ = tmp_.path();
        std::filesystem::create_directories(dir_ / "Bgm");
        std::filesystem::current_path(dir_);
        Write("Bgm/a.mid", ShortPiece(60));
        Write("Bgm/b.mid", ShortPiece(67));
        Write("Bgm/broken.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k', 0, 0, 9, 0});
        // The small General MIDI font keeps start-up quick where it exists.
        const char* small = "/usr/share/sounds/sf2/TimGM6mb.sf2";
        plat::MidiUseSoundFont(std::filesystem::exists(small) ? small : nullptr);
        plat::FlushMessages();
    }
    void TearDown() override {
        bgm_.Shutdown();
        plat::MidiSetLevel(0);
        plat::MidiUseSoundFont(nullptr);
        plat::FlushMessages();
        std::filesystem::current_path(oldDir_);
    }
    static void Write(const char* path, const std::vector<uint8_t>& bytes) {
        FILE* f = std::fopen(path, "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    void Start(int device) {
        bgm_.device = static_cast<uint8_t>(device);
        bgm_.StartDirectMusic();
        plat::AudioSetPaused(true);
    }
    static Levels Render(int ms) {
        Levels levels;
        std::vector<int16_t> block(2 * plat::kAudioRateHz * kBlockMs / 1000);
        for (int t = 0; t < ms; t += kBlockMs) {
            plat::AudioRender(block.data(), static_cast<int>(block.size() / 2));
            int peak = 0;
            for (int16_t s : block) peak = std::max(peak, std::abs(int(s)));
            levels.push_back(peak);
        }
        return levels;
    }
    static int Peak(const Levels& levels, int fromMs, int toMs) {
        int peak = 0;
        for (int t = fromMs; t < toMs; t += kBlockMs) peak = std::max(peak, levels[t / kBlockMs]);
        return peak;
    }
    static bool Audible() { return plat::MidiSoundFont()[0] != '\0'; }
    // Renders until the end-of-piece message arrives (or `ms` passes);
    // gives the time it came at, -1 if it did not.
    static int RenderUntilNotified(int ms) {
        for (int t = 0; t < ms; t += kBlockMs) {
            Render(kBlockMs);
            plat::Message msg;
            while (plat::GetMessage(&msg))
                if (msg.type == plat::MSG_MUSICNOTIFY && msg.wParam == 1) return t + kBlockMs;
        }
        return -1;
    }
    static int PendingNotifications() {
        int n = 0;
        plat::Message msg;
        while (plat::GetMessage(&msg)) n += msg.type == plat::MSG_MUSICNOTIFY;
        return n;
    }
    CBgm bgm_;
    testutil::TempDir tmp_{"nuvel-bgm"};  // removed with the fixture, also after a failed assertion
    std::filesystem::path oldDir_, dir_;
};

TEST_F(BgmTest, DirectMusicLoopsByRepeatsAndLoadsOnce) {
    Start(0);
    ASSERT_EQ(bgm_.directMusicUp, 1);
    bgm_.Load("bgm\\A.MID");
    bgm_.Play();
    EXPECT_EQ(bgm_.playing, 1);
    Levels first = Render(3 * kPieceMs);
    bgm_.Load("bgm\\A.MID");  // the same path: the music goes on untouched
    EXPECT_TRUE(plat::MidiIsPlaying());
    Levels later = Render(5 * kPieceMs);
    EXPECT_TRUE(plat::MidiIsPlaying());
    EXPECT_EQ(PendingNotifications(), 0);
    if (Audible()) {
        for (int pass = 0; pass < 3; ++pass)
            EXPECT_GT(Peak(first, pass * kPieceMs, pass * kPieceMs + 100), 1500) << pass;
        EXPECT_GT(Peak(later, 4 * kPieceMs, 4 * kPieceMs + 100), 1500);
    }
    bgm_.Stop();
    EXPECT_EQ(bgm_.playing, 0);
    EXPECT_FALSE(plat::MidiIsPlaying());
    Levels after = Render(100);
    EXPECT_LT(Peak(after, 20, 100), 100);  // stopped at once: no note, only the last of the reverb
}

// The music's own volume scales the music alone: volume 80 is 20 dB down,
// 0 is silent while the piece keeps its time, and an effect voice mixed
// with the silenced music sounds at its own level.
TEST_F(BgmTest, MusicVolumeScalesOnlyTheMusic) {
    Start(1);
    bgm_.Load("Bgm\\a.mid");
    bgm_.Play();
    const int full = Peak(Render(100), 0, 100);
    RenderUntilNotified(1000);
    bgm_.SetVolume(80);
    bgm_.Play();
    const int lower = Peak(Render(100), 0, 100);
    RenderUntilNotified(1000);
    if (Audible()) {
        EXPECT_GT(full, 1500);
        EXPECT_GT(lower, 0);
        EXPECT_LT(lower, full / 5);
    }

    bgm_.SetVolume(0);
    bgm_.Play();
    std::vector<int16_t> tone(4410);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = int16_t(i % 100 < 50 ? 8000 : -8000);
    int32_t voice = plat::CreateVoice(tone.data(), tone.size() * 2, plat::PcmFormat{1, 44100, 16});
    ASSERT_GT(voice, 0);
    EXPECT_EQ(Peak(Render(50), 0, 50), 0);
    plat::PlayVoice(voice);
    EXPECT_GE(Peak(Render(50), 0, 50), 7900);
    plat::DestroyVoice(voice);
    const int at = 100 + RenderUntilNotified(1000);  // since the play began
    EXPECT_GE(at, kPieceMs);
    EXPECT_LE(at, kPieceMs + 3 * kBlockMs);
}

TEST_F(BgmTest, RepeatCountEndsThePieceAfterItsPasses) {
    Start(0);
    ASSERT_TRUE(plat::MidiLoad("Bgm\\b.mid"));
    plat::MidiPlay(2);  // three passes
    Levels levels = Render(3 * kPieceMs - 30);
    EXPECT_TRUE(plat::MidiIsPlaying());
    Render(60);
    EXPECT_FALSE(plat::MidiIsPlaying());
    Levels after = Render(1000);
    if (Audible()) {
        EXPECT_GT(Peak(levels, 2 * kPieceMs, 2 * kPieceMs + 100), 1500);
        EXPECT_LT(Peak(after, 500, 1000), 50);
    }
}

TEST_F(BgmTest, SequencerLoopsByNotification) {
    Start(1);
    bgm_.Load("Bgm\\a.mid");
    EXPECT_EQ(bgm_.mciOpen, 1);
    bgm_.Play();
    int at = RenderUntilNotified(1000);
    EXPECT_GE(at, kPieceMs);
    EXPECT_LE(at, kPieceMs + 3 * kBlockMs);
    EXPECT_FALSE(plat::MidiIsPlaying());
    EXPECT_EQ(PendingNotifications(), 0);  // reported once

    bgm_.Replay();  // what the window procedure does with the message
    EXPECT_TRUE(plat::MidiIsPlaying());
    Levels again = Render(100);
    if (Audible()) {
        EXPECT_GT(Peak(again, 0, 100), 1500);
    }
    at = RenderUntilNotified(1000);
    EXPECT_GE(at, kPieceMs - 100);
    EXPECT_LE(at, kPieceMs - 100 + 3 * kBlockMs);

    // A stop overtakes a report already on its way: the piece stays stopped.
    bgm_.Replay();
    Render(kPieceMs + 50);
    bgm_.Stop();
    EXPECT_EQ(PendingNotifications(), 1);
    bgm_.Replay();
    EXPECT_FALSE(plat::MidiIsPlaying());
    EXPECT_EQ(RenderUntilNotified(600), -1);

    // Stopped before the end: no report at all.
    bgm_.Play();
    Render(100);
    bgm_.Stop();
    EXPECT_EQ(RenderUntilNotified(600), -1);
}

TEST_F(BgmTest, CloseForgetsThePathSoTheSamePieceOpensAgain) {
    Start(1);
    bgm_.Load("Bgm\\a.mid");
    bgm_.Play();
    bgm_.Close();
    EXPECT_EQ(bgm_.mciOpen, 0);
    EXPECT_EQ(bgm_.playing, 0);
    EXPECT_STREQ(bgm_.currentPath, "");
    EXPECT_FALSE(plat::MidiIsPlaying());
    bgm_.Load("Bgm\\a.mid");  // the next match picks the same piece
    EXPECT_EQ(bgm_.mciOpen, 1);
    bgm_.Play();
    EXPECT_TRUE(plat::MidiIsPlaying());
    EXPECT_GT(RenderUntilNotified(1000), 0);
}

TEST_F(BgmTest, SwitchingDeviceLoadsOnTheNewOne) {
    Start(0);
    bgm_.Load("Bgm\\a.mid");
    bgm_.Play();
    Render(50);
    bgm_.device = 1;  // as the options menu does
    bgm_.currentPath[0] = '\0';
    bgm_.Load("Bgm\\a.mid");
    EXPECT_EQ(bgm_.mciOpen, 1);
    EXPECT_FALSE(plat::MidiIsPlaying());  // opening the sequencer replaced the piece
    bgm_.Play();
    EXPECT_GT(RenderUntilNotified(1000), 0);
}

TEST_F(BgmTest, SequencerEndsTheGameOnAFileItCannotPlay) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Start(1);
            bgm_.Load("Bgm\\broken.mid");
        },
        ::testing::ExitedWithCode(1), "Bgm");
    EXPECT_EXIT(
        {
            Start(1);
            bgm_.Load("Bgm\\missing.mid");
        },
        ::testing::ExitedWithCode(1), "missing");
    // Device 0 takes both silently.
    Start(0);
    bgm_.Load("Bgm\\broken.mid");
    bgm_.Play();
    EXPECT_FALSE(plat::MidiIsPlaying());
    EXPECT_EQ(Peak(Render(100), 0, 100), 0);
}

TEST_F(BgmTest, WithoutSoundFontTheMusicIsSilentButKeepsTime) {
    plat::MidiUseSoundFont("");
    Start(1);
    EXPECT_STREQ(plat::MidiSoundFont(), "");
    bgm_.Load("Bgm\\a.mid");
    bgm_.Play();
    Levels levels = Render(100);
    EXPECT_EQ(Peak(levels, 0, 100), 0);
    EXPECT_GT(RenderUntilNotified(1000), 0);
}

TEST_F(BgmTest, WithoutAudioDeviceEverythingIsSilent) {
    // SDL reads the driver name each time the audio side starts.
    struct DriverOverride {
        std::string saved;
        bool had;
        DriverOverride() {
            const char* old = std::getenv("SDL_AUDIODRIVER");
            had = old != nullptr;
            saved = had ? old : "";
            setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
        }
        ~DriverOverride() {
            if (had)
                setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
            else
                unsetenv("SDL_AUDIODRIVER");
        }
    } noDevice;
    Start(0);
    EXPECT_EQ(bgm_.directMusicUp, 0);
    EXPECT_FALSE(plat::AudioIsOpen());
    bgm_.Load("Bgm\\a.mid");
    bgm_.Play();
    bgm_.Stop();
    bgm_.device = 1;
    bgm_.Load("Bgm\\b.mid");  // still a playable file: no fatal message
    EXPECT_EQ(bgm_.mciOpen, 1);
    bgm_.Play();
    EXPECT_FALSE(plat::MidiIsPlaying());
    EXPECT_FALSE(plat::AudioIsOpen());
    EXPECT_EQ(RenderUntilNotified(500), -1);
    EXPECT_EQ(Peak(Render(100), 0, 100), 0);
}

// Every piece of the generated game folder is a file the sequencer can play.
TEST(GameData, EveryPieceIsAStandardMidiFile) {
    std::filesystem::path bgm = std::filesystem::path(NUVEL_GAME_DIR) / "Bgm";
    if (!std::filesystem::exists(bgm)) GTEST_SKIP() << "no generated game folder";
    int pieces = 0;
    for (const auto& entry : std::filesystem::directory_iterator(bgm)) {
        if (entry.path().extension() != ".mid") continue;
        EXPECT_TRUE(plat::MidiLoad(entry.path().c_str())) << entry.path();
        pieces++;
    }
    plat::MidiUnload();
    EXPECT_GT(pieces, 0);
}

}  // namespace
