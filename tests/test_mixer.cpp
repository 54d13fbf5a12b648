// The voice mixer (levels, pan, resampling, limiting) rendered by hand, and
// CDirectSound's use of it: buffers in turn, the enable flag, volume.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "sound/directsound.h"
#include "tests/testutil.h"

namespace {

// Mono 16-bit source holding one value.
std::vector<int16_t> Constant(int frames, int16_t value) { return std::vector<int16_t>(frames, value); }

int32_t MakeVoice(const std::vector<int16_t>& pcm, uint16_t channels, uint32_t rateHz) {
    return plat::CreateVoice(pcm.data(), pcm.size() * 2, plat::PcmFormat{channels, rateHz, 16});
}

std::vector<int16_t> Render(int frames) {
    std::vector<int16_t> out(2 * frames);
    plat::AudioRender(out.data(), frames);
    return out;
}

// Output frames until the mix falls silent for good.
int SoundingFrames(const std::vector<int16_t>& out) {
    for (int i = static_cast<int>(out.size()) / 2 - 1; i >= 0; --i)
        if (out[2 * i] != 0 || out[2 * i + 1] != 0) return i + 1;
    return 0;
}

int RisingZeroCrossings(const std::vector<int16_t>& out, int frames) {
    int crossings = 0;
    for (int i = 1; i < frames; ++i)
        if (out[2 * (i - 1)] < 0 && out[2 * i] >= 0) crossings++;
    return crossings;
}

TEST(Mixer, PanAndVolumeFollowDecibelLevels) {
    int32_t v = MakeVoice(Constant(4000, 16384), 1, plat::kAudioRateHz);  // 0.5 of full scale
    ASSERT_NE(v, 0);
    struct Case {
        int32_t pan, volume;
        double left, right;
    };
    const Case cases[] = {
        {0, 0, 0.5, 0.5},
        {-10000, 0, 0.5, 0.0},  // left only
        {10000, 0, 0.0, 0.5},
        {600, 0, 0.5 * std::pow(10.0, -0.3), 0.5},  // -6 dB on the other side
        {-600, 0, 0.5, 0.5 * std::pow(10.0, -0.3)},
        {0, -2000, 0.05, 0.05},  // -20 dB
        {300, -1000, 0.5 * std::pow(10.0, -0.65), 0.5 * std::pow(10.0, -0.5)},
        {0, -10000, 0.0, 0.0},  // silence, not just quiet
        {0, -20000, 0.0, 0.0},  // clamped to silence
    };
    for (const Case& c : cases) {
        plat::SetVoicePan(v, c.pan);
        plat::SetVoiceVolume(v, c.volume);
        plat::PlayVoice(v);
        std::vector<int16_t> out = Render(64);
        EXPECT_NEAR(out[100] / 32767.0, c.left, 0.001) << "pan " << c.pan << " volume " << c.volume;
        EXPECT_NEAR(out[101] / 32767.0, c.right, 0.001) << "pan " << c.pan << " volume " << c.volume;
    }
    plat::DestroyVoice(v);
}

TEST(Mixer, SourceFormatsConvertToTheSameLevels) {
    // 8-bit is unsigned around 128; stereo keeps its sides apart.
    const uint8_t eightBitStereo[] = {192, 64, 192, 64, 192, 64, 192, 64};
    int32_t v8 = plat::CreateVoice(eightBitStereo, sizeof eightBitStereo, plat::PcmFormat{2, 44100, 8});
    ASSERT_NE(v8, 0);
    plat::PlayVoice(v8);
    std::vector<int16_t> out = Render(8);
    EXPECT_NEAR(out[2] / 32767.0, 0.5, 0.001);
    EXPECT_NEAR(out[3] / 32767.0, -0.5, 0.001);
    EXPECT_EQ(SoundingFrames(out), 4);
    plat::DestroyVoice(v8);

    EXPECT_EQ(plat::CreateVoice(eightBitStereo, 8, plat::PcmFormat{3, 44100, 8}), 0);
    EXPECT_EQ(plat::CreateVoice(eightBitStereo, 8, plat::PcmFormat{1, 44100, 12}), 0);
    EXPECT_EQ(plat::CreateVoice(eightBitStereo, 8, plat::PcmFormat{1, 0, 8}), 0);
    EXPECT_EQ(plat::CreateVoice(eightBitStereo, 3, plat::PcmFormat{2, 44100, 16}), 0);  // no whole frame
    // Unknown ids are ignored.
    plat::PlayVoice(0);
    plat::SetVoicePan(9999, 0);
    plat::DestroyVoice(-1);
}

TEST(Mixer, RateChangesLengthAndPitch) {
    // 441 Hz at 22050 Hz source rate: 50 source frames per period.
    constexpr int kFrames = 2205;
    std::vector<int16_t> sine(kFrames);
    for (int i = 0; i < kFrames; ++i) sine[i] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * i / 50.0));
    int32_t v = MakeVoice(sine, 1, 22050);
    ASSERT_NE(v, 0);

    plat::PlayVoice(v);  // at its own rate: twice as many output frames, same pitch
    std::vector<int16_t> out = Render(3 * kFrames);
    EXPECT_NEAR(SoundingFrames(out), 2 * kFrames, 2);
    EXPECT_NEAR(RisingZeroCrossings(out, 2 * kFrames), 44, 1);  // 0.1 s of 441 Hz

    plat::SetVoiceRate(v, 44100);  // twice the rate: half the length, an octave up
    plat::PlayVoice(v);
    out = Render(3 * kFrames);
    EXPECT_NEAR(SoundingFrames(out), kFrames, 2);
    EXPECT_NEAR(RisingZeroCrossings(out, kFrames), 44, 1);  // 0.05 s of 882 Hz

    plat::SetVoiceRate(v, 11025);  // half the rate, interpolated: no steps between source frames
    plat::PlayVoice(v);
    out = Render(4 * kFrames);
    EXPECT_NEAR(SoundingFrames(out), 4 * kFrames, 4);
    int largestStep = 0;
    for (int i = 1; i < 4 * kFrames - 4; ++i)
        largestStep = std::max(largestStep, std::abs(out[2 * i] - out[2 * i - 2]));
    EXPECT_LT(largestStep, 600);  // a held sample would jump by ~2000
    plat::DestroyVoice(v);
}

TEST(Mixer, LoudSumsAreLimitedNotWrappedOrClipped) {
    int32_t voices[6];
    for (int32_t& v : voices) {
        v = MakeVoice(Constant(1000, 32000), 1, plat::kAudioRateHz);
        plat::PlayVoice(v);
    }
    std::vector<int16_t> out = Render(16);
    EXPECT_GT(out[0], 30000);  // six voices at full scale stay at the top, positive
    EXPECT_LE(out[0], 32767);
    for (int32_t& v : voices) plat::DestroyVoice(v);

    // Below the knee the mix is exact; above it the curve keeps rising.
    int previous = 0;
    for (int level = 4000; level <= 32000; level += 4000) {
        int32_t a = MakeVoice(Constant(64, static_cast<int16_t>(level)), 1, plat::kAudioRateHz);
        int32_t b = MakeVoice(Constant(64, static_cast<int16_t>(level)), 1, plat::kAudioRateHz);
        plat::PlayVoice(a);
        plat::PlayVoice(b);
        out = Render(8);
        if (2 * level <= 24000) {
            EXPECT_NEAR(out[0], 2 * level * 32767.0 / 32768.0, 2);
        }
        EXPECT_GT(out[0], previous);
        previous = out[0];
        plat::DestroyVoice(a);
        plat::DestroyVoice(b);
    }
}

TEST(Mixer, PlayRestartsAndStopSilences) {
    int32_t v = MakeVoice(Constant(1000, 8000), 1, plat::kAudioRateHz);
    plat::PlayVoice(v);
    Render(600);
    plat::VoiceState state;
    ASSERT_TRUE(plat::GetVoiceState(v, &state));
    EXPECT_EQ(state.positionFrame, 600u);
    plat::PlayVoice(v);
    ASSERT_TRUE(plat::GetVoiceState(v, &state));
    EXPECT_EQ(state.positionFrame, 0u);
    EXPECT_EQ(SoundingFrames(Render(2000)), 1000);
    plat::PlayVoice(v);
    plat::StopVoice(v);
    EXPECT_EQ(SoundingFrames(Render(100)), 0);
    plat::DestroyVoice(v);
    EXPECT_FALSE(plat::GetVoiceState(v, &state));
}

// The null output opens whether or not the machine has a sound device, and
// pulls the mix on its own (run in a child so the choice does not outlive it).
TEST(Mixer, NullOutputOpensAndPullsTheMix) {
    EXPECT_EXIT(
        {
            plat::AudioUseNullOutput();
            if (!plat::AudioOpen()) exit(2);
            int32_t v = MakeVoice(Constant(plat::kAudioRateHz, 8000), 1, plat::kAudioRateHz);
            plat::PlayVoice(v);
            plat::VoiceState state{};
            for (int i = 0; i < 200 && plat::GetVoiceState(v, &state) && state.positionFrame == 0; i++) usleep(10000);
            plat::AudioClose();
            exit(state.positionFrame > 0 ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}

// ---- CDirectSound on the mixer --------------------------------------------------

// A game folder of its own with a "Sound" folder of small PCM files.
class EffectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldDir_ = std::filesystem::current_path();
        dir_ = tmp_.path();
        std::filesystem::create_directories(dir_ / "Sound");
        std::filesystem::current_path(dir_);
    }
    void TearDown() override { std::filesystem::current_path(oldDir_); }
    static void WriteWave(const char* name, int frames) {
        std::vector<uint8_t> f;
        auto u32 = [&](uint32_t x) {
            for (int i = 0; i < 4; ++i) f.push_back(uint8_t(x >> (8 * i)));
        };
        auto u16 = [&](uint16_t x) {
            f.push_back(uint8_t(x));
            f.push_back(uint8_t(x >> 8));
        };
        auto id = [&](const char* s) {
            for (int i = 0; i < 4; ++i) f.push_back(uint8_t(s[i]));
        };
        id("RIFF");
        u32(4 + 26 + 8 + 2 * frames);
        id("WAVE");
        id("fmt ");
        u32(18);
        u16(1);
        u16(1);
        u32(22050);
        u32(44100);
        u16(2);
        u16(16);
        u16(0);
        id("data");
        u32(2 * frames);
        for (int i = 0; i < frames; ++i) u16(12000);
        FILE* out = std::fopen((std::string("Sound/") + name).c_str(), "wb");
        std::fwrite(f.data(), 1, f.size(), out);
        std::fclose(out);
    }
    // Starts the effects with the stream paused, so only Render moves voices.
    static void Start(CDirectSound* ds, int slots) {
        ds->StartDirectSound(slots);
        ASSERT_EQ(ds->deviceOpen, 1);
        plat::AudioSetPaused(true);
    }
    static plat::VoiceState StateOf(int32_t voice) {
        plat::VoiceState s{};
        plat::GetVoiceState(voice, &s);
        return s;
    }
    testutil::TempDir tmp_{"nuvel-fx"};  // removed with the fixture, also after a failed assertion
    std::filesystem::path oldDir_, dir_;
};

TEST_F(EffectsTest, BuffersAreUsedInTurnAndTheOldestRestarts) {
    WriteWave("cur_move.wav", 4000);
    CDirectSound ds;
    Start(&ds, kEffectCount);
    ds.SetData(SE_CUR_MOVE, "sound\\CUR_MOVE.WAV", 10);  // any letter case
    ASSERT_EQ(ds.deviceOpen, 1);
    const EffectSlot& slot = ds.slots[SE_CUR_MOVE];
    ASSERT_EQ(slot.count, 10);

    for (int i = 0; i < 10; ++i) {
        ds.Play(SE_CUR_MOVE, 0, 0);
        Render(100);
    }
    // Ten copies sound at once, the first one furthest along.
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(StateOf(slot.buffers[i]).playing);
        EXPECT_EQ(StateOf(slot.buffers[i]).positionFrame, 100u * (10 - i) / 2);  // source at half rate
    }
    EXPECT_EQ(slot.next, 0);
    ds.Play(SE_CUR_MOVE, -10000, 44100);  // the eleventh takes the first again, from its start
    EXPECT_EQ(StateOf(slot.buffers[0]).positionFrame, 0u);
    EXPECT_EQ(StateOf(slot.buffers[0]).rateHz, 44100u);
    EXPECT_EQ(StateOf(slot.buffers[0]).panMilliBel, -10000);
    EXPECT_EQ(StateOf(slot.buffers[1]).positionFrame, 450u);
    EXPECT_EQ(slot.next, 1);

    // Frequency 0 keeps the buffer's last rate.
    for (int i = 0; i < 10; ++i) ds.Play(SE_CUR_MOVE, 0, 0);
    EXPECT_EQ(StateOf(slot.buffers[0]).rateHz, 44100u);
    EXPECT_EQ(StateOf(slot.buffers[1]).rateHz, 22050u);
}

TEST_F(EffectsTest, DisabledOrOutOfRangePlaysNothing) {
    WriteWave("321.wav", 400);
    CDirectSound ds;
    Start(&ds, kEffectCount);
    ds.SetData(SE_321, "Sound\\321.wav", 3);
    ds.effectsEnabled = 0;
    ds.Play(SE_321, 0, 0);
    EXPECT_FALSE(StateOf(ds.slots[SE_321].buffers[0]).playing);
    EXPECT_EQ(ds.slots[SE_321].next, 0);
    ds.effectsEnabled = 1;
    ds.Play(kEffectCount, 0, 0);
    ds.Play(-1, 0, 0);
    ds.Play(SE_BOMB, 0, 0);  // a slot never loaded
    ds.SetData(kEffectCount, "Sound\\321.wav", 1);
    ds.SetData(SE_BOMB, "Sound\\321.wav", 0);
    EXPECT_EQ(ds.slots[SE_BOMB].buffers, nullptr);
    EXPECT_EQ(SoundingFrames(Render(1000)), 0);
    ds.Play(SE_321, 0, 0);
    EXPECT_GT(SoundingFrames(Render(1000)), 0);
}

TEST_F(EffectsTest, VolumeIsClampedAndAppliedToEveryBuffer) {
    WriteWave("a.wav", 400);
    WriteWave("b.wav", 400);
    CDirectSound ds;
    Start(&ds, 2);
    ds.SetData(0, "Sound\\a.wav", 2);
    ds.SetData(1, "Sound\\b.wav", 3);
    const struct {
        int volume;
        int32_t milliBel;
    } cases[] = {{100, 0}, {50, -5000}, {0, -10000}, {150, 0}, {-5, -10000}};
    for (const auto& c : cases) {
        ds.SetVolume(c.volume);
        for (int s = 0; s < 2; ++s)
            for (int b = 0; b < ds.slots[s].count; ++b)
                EXPECT_EQ(StateOf(ds.slots[s].buffers[b]).volumeMilliBel, c.milliBel) << c.volume;
    }
    ds.Play(0, 0, 0);
    EXPECT_EQ(SoundingFrames(Render(1000)), 0);  // volume 0 is silent
}

TEST_F(EffectsTest, NoDeviceMeansSilenceNotFailure) {
    WriteWave("a.wav", 400);
    const char* old = std::getenv("SDL_AUDIODRIVER");
    std::string saved = old ? old : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    CDirectSound ds;
    ds.StartDirectSound(kEffectCount);
    if (old)
        setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
    EXPECT_EQ(ds.deviceOpen, 0);
    EXPECT_EQ(ds.slots, nullptr);
    ds.SetData(0, "Sound\\a.wav", 2);
    ds.Play(0, 0, 0);
    ds.SetVolume(50);
    ds.Shutdown();
    EXPECT_FALSE(plat::AudioIsOpen());
}

}  // namespace
