// The WAVE reader on files the test writes, good and broken, and the rule
// that one effect file that cannot be loaded silences every effect.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/app.h"
#include "platform/audio.h"
#include "sound/directsound.h"
#include "sound/wavefile.h"
#include "tests/testutil.h"

namespace {

// Builds a RIFF file chunk by chunk; the RIFF size is filled in by Bytes.
// Bytes are kept in a string, which holds binary data as well.
using Bytes = std::string;

struct RiffWriter {
    Bytes bytes = Bytes("RIFF\0\0\0\0WAVE", 12);

    static void U16(Bytes* b, uint16_t x) {
        b->push_back(char(x));
        b->push_back(char(x >> 8));
    }
    static void U32(Bytes* b, uint32_t x) {
        for (int i = 0; i < 4; ++i) b->push_back(char(x >> (8 * i)));
    }

    void Chunk(const char* id, const Bytes& data, uint32_t statedSize) {
        bytes.append(id, 4);
        U32(&bytes, statedSize);
        bytes += data;
        if (data.size() & 1) bytes.push_back('\0');
    }
    void Chunk(const char* id, const Bytes& data) { Chunk(id, data, uint32_t(data.size())); }
    void Format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, size_t size = 18) {
        Bytes f;
        uint16_t block = uint16_t(channels * bits / 8);
        U16(&f, tag);
        U16(&f, channels);
        U32(&f, rate);
        U32(&f, rate * block);
        U16(&f, block);
        U16(&f, bits);
        U16(&f, 0);
        f.resize(size);
        Chunk("fmt ", f);
    }
    Bytes Get() const {
        Bytes out = bytes;
        uint32_t riff = uint32_t(out.size() - 8);
        for (int i = 0; i < 4; ++i) out[4 + i] = char(riff >> (8 * i));
        return out;
    }
};

Bytes Samples(size_t n) {
    Bytes s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char(i * 7 + 1);
    return s;
}

class WaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldDir_ = std::filesystem::current_path();
        dir_ = tmp_.path();
        std::filesystem::create_directories(dir_ / "Sound");
        std::filesystem::current_path(dir_);
    }
    void TearDown() override { std::filesystem::current_path(oldDir_); }
    static void Write(const std::string& name, const Bytes& bytes) {
        FILE* f = std::fopen(("Sound/" + name).c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    // Reads a file with the reader; checks that a failure leaves nothing behind.
    static bool Read(const Bytes& bytes, WaveData* wave) {
        Write("t.wav", bytes);
        FILE* f = std::fopen("Sound/t.wav", "rb");
        bool ok = ReadWaveFile(f, wave);
        std::fclose(f);
        if (!ok) {
            EXPECT_EQ(wave->samples, nullptr);
        }
        return ok;
    }
    testutil::TempDir tmp_{"nuvel-wave"};  // removed with the fixture, also after a failed assertion
    std::filesystem::path oldDir_, dir_;
};

TEST_F(WaveTest, ReadsPcmWithOtherChunksAndOddSizes) {
    RiffWriter w;
    w.Chunk("LIST", Samples(5));  // odd size: a pad byte follows
    w.Format(1, 2, 22050, 16);
    w.Chunk("fact", Samples(4));
    w.Chunk("data", Samples(400));
    WaveData wave;
    ASSERT_TRUE(Read(w.Get(), &wave));
    EXPECT_EQ(wave.format.channels, 2);
    EXPECT_EQ(wave.format.samplesPerSec, 22050u);
    EXPECT_EQ(wave.format.bitsPerSample, 16);
    EXPECT_EQ(wave.format.blockAlign, 4);
    ASSERT_EQ(wave.bytes, 400u);
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(wave.samples), 400), Samples(400));
    CApp::Free(wave.samples);

    // A longer "fmt " chunk (with extra format bytes) is read the same way.
    RiffWriter x;
    x.Format(1, 1, 11025, 8, 20);
    x.Chunk("data", Samples(33));
    ASSERT_TRUE(Read(x.Get(), &wave));
    EXPECT_EQ(wave.bytes, 33u);
    CApp::Free(wave.samples);
}

TEST_F(WaveTest, BrokenFilesAreRejected) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    std::vector<Case> cases;
    auto good = [] {
        RiffWriter w;
        w.Format(1, 1, 22050, 16);
        return w;
    };
    {
        RiffWriter w = good();
        w.Chunk("data", Samples(100));
        Bytes b = w.Get();
        b.resize(60);
        cases.push_back({"truncated", b});
    }
    {
        RiffWriter w;
        w.Format(1, 1, 22050, 16, 16);
        w.Chunk("data", Samples(100));
        cases.push_back({"fmt of 16 bytes", w.Get()});
    }
    {
        RiffWriter w;
        w.Format(3, 1, 22050, 32);
        w.Chunk("data", Samples(100));
        cases.push_back({"float format", w.Get()});
    }
    {
        RiffWriter w;
        w.Format(0xFFFE, 1, 22050, 16);
        w.Chunk("data", Samples(100));
        cases.push_back({"extensible", w.Get()});
    }
    {
        RiffWriter w = good();
        w.Chunk("LIST", Samples(10));
        cases.push_back({"no data chunk", w.Get()});
    }
    {
        RiffWriter w;
        w.Chunk("data", Samples(100));
        w.Format(1, 1, 22050, 16);
        cases.push_back({"data before fmt", w.Get()});
    }
    {
        RiffWriter w;
        w.Chunk("data", Samples(100));
        cases.push_back({"no fmt chunk", w.Get()});
    }
    {
        RiffWriter w = good();
        w.Chunk("data", Samples(100), 0x7FFFFFF0);
        cases.push_back({"data runs past the end", w.Get()});
    }
    {
        RiffWriter w = good();
        w.Chunk("LIST", Samples(8), 4000);
        w.Chunk("data", Samples(100));
        cases.push_back({"skipped chunk runs past the end", w.Get()});
    }
    {
        RiffWriter w = good();
        w.Chunk("data", Samples(100));
        Bytes b = w.Get();
        b[4] = char(0xFF);
        b[5] = char(0xFF);
        cases.push_back({"RIFF size past the end", b});
    }
    {
        RiffWriter w = good();
        w.Chunk("data", Bytes());
        cases.push_back({"empty data", w.Get()});
    }
    {
        RiffWriter w = good();
        w.Chunk("data", Samples(100));
        Bytes b = w.Get();
        b[8] = 'A';
        cases.push_back({"not WAVE", b});
    }
    cases.push_back({"empty file", Bytes()});
    cases.push_back({"eleven bytes", Bytes("RIFF\3\0\0\0WAV", 11)});
    for (const Case& c : cases) {
        WaveData wave;
        EXPECT_FALSE(Read(c.bytes, &wave)) << c.what;
    }
}

// Loads effects 0..2 from the given files into a running CDirectSound.
void LoadThree(CDirectSound* ds, const char* second) {
    ds->StartDirectSound(3);
    ASSERT_EQ(ds->deviceOpen, 1);
    plat::AudioSetPaused(true);
    ds->SetData(0, "Sound\\good.wav", 2);
    ds->SetData(1, second, 2);
    ds->SetData(2, "Sound\\good.wav", 2);
}

TEST_F(WaveTest, OneBadEffectFileSilencesAllEffects) {
    RiffWriter ok;
    ok.Format(1, 1, 22050, 8);
    ok.Chunk("data", Samples(300));
    Write("good.wav", ok.Get());
    RiffWriter bad;
    bad.Format(2, 1, 22050, 4);  // compressed
    bad.Chunk("data", Samples(300));
    Write("bad.wav", bad.Get());
    RiffWriter badBlock;
    badBlock.Format(1, 2, 22050, 16);
    badBlock.Chunk("data", Samples(300));
    Bytes b = badBlock.Get();
    b[20 + 12] = 3;  // block size that does not match two 16-bit channels
    Write("badblock.wav", b);

    for (const char* second : {"Sound\\bad.wav", "Sound\\missing.wav", "Sound\\badblock.wav"}) {
        CDirectSound ds;
        LoadThree(&ds, second);
        EXPECT_EQ(ds.deviceOpen, 0) << second;
        EXPECT_EQ(ds.slots[0].buffers[0], 0) << "voices made before the failure are gone";
        EXPECT_EQ(ds.slots[2].buffers, nullptr) << "nothing is loaded after it";
        ds.Play(0, 0, 0);
        ds.SetVolume(100);
        std::vector<int16_t> out(2 * 1000);
        plat::AudioRender(out.data(), 1000);
        EXPECT_EQ(std::count(out.begin(), out.end(), 0), 2000) << second;
        ds.Shutdown();
        EXPECT_EQ(ds.slots, nullptr);
    }
    EXPECT_FALSE(plat::AudioIsOpen());

    CDirectSound ds;  // the same set with only good files plays
    LoadThree(&ds, "Sound\\GOOD.WAV");
    EXPECT_EQ(ds.deviceOpen, 1);
    ds.Play(1, 0, 0);
    std::vector<int16_t> out(2 * 1000);
    plat::AudioRender(out.data(), 1000);
    EXPECT_LT(std::count(out.begin(), out.end(), 0), 2000);
}

// The generated game folder: every effect of the table loads, so the game
// is not silenced by its own data.
TEST(GameData, EveryEffectOfTheTableLoads) {
    std::filesystem::path game = NUVEL_GAME_DIR;
    if (!std::filesystem::exists(game / "Sound")) GTEST_SKIP() << "no generated game folder";
    std::filesystem::path oldDir = std::filesystem::current_path();
    std::filesystem::current_path(game);
    CDirectSound ds;
    ds.StartDirectSound(kEffectCount);
    ASSERT_EQ(ds.deviceOpen, 1);
    for (int i = 0; i < kEffectCount; ++i) {
        std::string path = std::string("Sound\\") + kEffectTable[i].file;
        ds.SetData(i, path.c_str(), kEffectTable[i].buffers);
        EXPECT_EQ(ds.deviceOpen, 1) << kEffectTable[i].file;
        if (!ds.deviceOpen) break;
    }
    ds.Shutdown();
    std::filesystem::current_path(oldDir);
}

}  // namespace
