// PNG pictures in and out: palette depths, short palettes, odd widths, the
// fatal messages, damaged files, and conversion onto display surfaces.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <sys/resource.h>

#include <fstream>
#include <vector>

#include "graphics/dibsection.h"
#include "graphics/directdraw.h"
#include "tests/testutil.h"

using testutil::TempDir;

namespace {

struct PngShape {
    int width = 5;
    int height = 3;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_PALETTE;
    int paletteSize = 256;
    int interlace = PNG_INTERLACE_NONE;
};

// Index of pixel (x, y) in the test pictures, within the palette size.
int IndexAt(const PngShape& shape, int x, int y) {
    int colours = shape.colorType == PNG_COLOR_TYPE_PALETTE ? std::min(1 << shape.bitDepth, shape.paletteSize) : 256;
    return (x * 3 + y * 5 + 1) % colours;
}

png_color ColourOf(int i) { return png_color{png_byte(i), png_byte(255 - i), png_byte((i * 3) & 255)}; }

void WritePng(const std::string& path, const PngShape& shape) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, shape.width, shape.height, shape.bitDepth, shape.colorType, shape.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (shape.colorType == PNG_COLOR_TYPE_PALETTE) {
        std::vector<png_color> plte(shape.paletteSize);
        for (int i = 0; i < shape.paletteSize; i++) plte[i] = ColourOf(i);
        png_set_PLTE(png, info, plte.data(), shape.paletteSize);
    }
    png_write_info(png, info);
    int channels = shape.colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
    int bytesPer = shape.bitDepth == 16 ? 2 : 1;
    if (shape.bitDepth < 8) png_set_packing(png);
    std::vector<png_byte> row(size_t(shape.width) * channels * bytesPer);
    int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; pass++) {
        for (int y = 0; y < shape.height; y++) {
            for (int x = 0; x < shape.width; x++)
                for (int c = 0; c < channels * bytesPer; c++)
                    row[size_t(x) * channels * bytesPer + c] = png_byte(IndexAt(shape, x, y));
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    fclose(f);
}

void ExpectDecodes(const PngShape& shape) {
    TempDir dir;
    std::string path = dir.File("pic.png");
    WritePng(path, shape);
    CDibSection dib;
    ASSERT_TRUE(dib.LoadPng(path.c_str()));
    ASSERT_EQ(dib.Width(), shape.width);
    ASSERT_EQ(dib.Height(), shape.height);
    for (int y = 0; y < shape.height; y++)
        for (int x = 0; x < shape.width; x++) ASSERT_EQ(*dib.PixelAddress(x, y), IndexAt(shape, x, y)) << x << "," << y;
    RgbQuad table[256];
    dib.GetColorTable(0, 256, table);
    for (int i = 0; i < 256; i++) {
        png_color c = i < shape.paletteSize ? ColourOf(i) : png_color{0, 0, 0};
        ASSERT_EQ(table[i].red, c.red) << i;
        ASSERT_EQ(table[i].green, c.green) << i;
        ASSERT_EQ(table[i].blue, c.blue) << i;
    }
}

// The file's bytes with the header's width and height replaced (and the
// header's checksum fixed), the way a damaged or forged file would claim them.
std::string WithClaimedSize(std::string bytes, uint32_t width, uint32_t height) {
    const size_t ihdrType = 12;  // after the 8-byte signature and the chunk length
    for (int i = 0; i < 4; i++) {
        bytes[ihdrType + 4 + i] = char(width >> (24 - 8 * i));
        bytes[ihdrType + 8 + i] = char(height >> (24 - 8 * i));
    }
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + ihdrType), 17);
    for (int i = 0; i < 4; i++) bytes[ihdrType + 17 + i] = char(crc >> (24 - 8 * i));
    return bytes;
}

// Caps the process's data memory a few megabytes above what it uses now, so
// that a loader committing memory for a picture the file cannot hold fails to
// allocate instead of passing unnoticed. AddressSanitizer reserves far more
// than any cap, so there the cap is left off.
void CapDataMemory() {
#if !defined(__SANITIZE_ADDRESS__)
    std::ifstream status("/proc/self/status");
    std::string word;
    long usedKb = 0;
    while (status >> word)
        if (word == "VmData:") status >> usedKb;
    rlimit cap{};
    cap.rlim_cur = cap.rlim_max = rlim_t(usedKb + 8 * 1024) * 1024;
    setrlimit(RLIMIT_DATA, &cap);
#endif
}

std::string FatalPattern(const std::string& text) { return ": " + text; }

}  // namespace

TEST(DibSection, StrideAndHeader) {
    CDibSection dib;
    dib.Create(3, 2, 8);
    EXPECT_EQ(dib.Stride(), 4);
    EXPECT_EQ(dib.Header()->width, 4);
    EXPECT_EQ(dib.Header()->height, 2);
    EXPECT_EQ(dib.Header()->size, 40u);
    // Rows are stored bottom-up.
    EXPECT_EQ(dib.PixelAddress(0, 1) + 4, dib.PixelAddress(0, 0));
    dib.Create(33, 1, 1);
    EXPECT_EQ(dib.Stride(), 64);
}

TEST(DibSection, DecodesEveryPaletteDepthWithShortPalettesAndOddWidths) {
    ExpectDecodes(PngShape{});
    ExpectDecodes(PngShape{3, 4, 8, PNG_COLOR_TYPE_PALETTE, 256, PNG_INTERLACE_NONE});
    ExpectDecodes(PngShape{7, 5, 1, PNG_COLOR_TYPE_PALETTE, 2, PNG_INTERLACE_NONE});
    ExpectDecodes(PngShape{9, 3, 2, PNG_COLOR_TYPE_PALETTE, 3, PNG_INTERLACE_NONE});
    ExpectDecodes(PngShape{13, 6, 4, PNG_COLOR_TYPE_PALETTE, 16, PNG_INTERLACE_NONE});
    ExpectDecodes(PngShape{21, 17, 8, PNG_COLOR_TYPE_PALETTE, 40, PNG_INTERLACE_ADAM7});
}

TEST(DibSection, SaveThenLoadKeepsIndicesAndColours) {
    TempDir dir;
    CDibSection out;
    out.Create(7, 5, 8);
    RgbQuad table[256];
    for (int i = 0; i < 256; i++) table[i] = RgbQuad{uint8_t(i), uint8_t(i ^ 0x55), uint8_t(255 - i), 0};
    out.SetColorTable(0, 256, table);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 7; x++) *out.PixelAddress(x, y) = uint8_t(x * 40 + y);
    std::string path = dir.File("round.png");
    out.SavePng(path.c_str());

    CDibSection in;
    in.LoadPng(path.c_str());
    ASSERT_EQ(in.Width(), 7);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 7; x++) ASSERT_EQ(*in.PixelAddress(x, y), x * 40 + y);
    RgbQuad back[256];
    in.GetColorTable(0, 256, back);
    for (int i = 0; i < 256; i++) {
        ASSERT_EQ(back[i].red, table[i].red);
        ASSERT_EQ(back[i].green, table[i].green);
        ASSERT_EQ(back[i].blue, table[i].blue);
    }
}

TEST(DibSection, RefusedFilesEndWithTheirMessageAndThePathAsCaption) {
    TempDir dir;
    std::string missing = dir.File("missing.png");
    EXPECT_EXIT(CDibSection().LoadPng(missing.c_str()), testing::ExitedWithCode(1),
                FatalPattern("ファイルをオープン出来ません"));

    std::string rgb16 = dir.File("rgb16.png");
    WritePng(rgb16, PngShape{4, 4, 16, PNG_COLOR_TYPE_RGB, 0, PNG_INTERLACE_NONE});
    EXPECT_EXIT(CDibSection().LoadPng(rgb16.c_str()), testing::ExitedWithCode(1), "rgb16.png: 色数が多すぎます");

    std::string grey = dir.File("grey.png");
    WritePng(grey, PngShape{4, 4, 8, PNG_COLOR_TYPE_GRAY, 0, PNG_INTERLACE_NONE});
    EXPECT_EXIT(CDibSection().LoadPng(grey.c_str()), testing::ExitedWithCode(1),
                "grey.png: このパレットタイプには対応していません");

    std::string nowhere = dir.File("no/such/folder/shot.png");
    EXPECT_EXIT(
        {
            CDibSection dib;
            dib.Create(2, 2, 8);
            dib.SavePng(nowhere.c_str());
        },
        testing::ExitedWithCode(1), FatalPattern("ファイルを作成出来ませんでした"));
}

TEST(DibSection, DamagedFilesAreFatalMessagesNotCrashes) {
    TempDir dir;
    std::string good = dir.File("good.png");
    WritePng(good, PngShape{64, 64, 8, PNG_COLOR_TYPE_PALETTE, 256, PNG_INTERLACE_NONE});
    std::string bytes = testutil::ReadFile(good);

    struct Case {
        const char* name;
        std::string data;
    };
    std::string badCrc = bytes;
    badCrc[bytes.find("IDAT") + 10] ^= 0x5A;
    std::string garbage = bytes.substr(0, 33) + std::string(200, '\x7F');
    std::vector<Case> cases = {
        {"truncated.png", bytes.substr(0, bytes.size() / 2)},
        {"header-only.png", bytes.substr(0, 40)},
        {"bad-crc.png", badCrc},
        {"garbage.png", garbage},
        {"not-png.png", std::string("GIF89a this is not a picture")},
        {"empty.png", std::string()},
    };
    for (const Case& c : cases) {
        std::string path = dir.File(c.name);
        testutil::WriteFile(path, c.data);
        EXPECT_EXIT(CDibSection().LoadPng(path.c_str()), testing::ExitedWithCode(1),
                    std::string(c.name) + ": PNGファイルが壊れています")
            << c.name;
    }
}

TEST(DibSection, LoadingConvertsColoursIntoTheDisplayPalette) {
    testutil::StartHeadlessDisplay();
    TempDir dir;
    std::string path = dir.File("pic.png");
    PngShape shape{6, 4, 8, PNG_COLOR_TYPE_PALETTE, 256, PNG_INTERLACE_NONE};
    WritePng(path, shape);

    // With the palette flag the picture's colours become the master palette
    // and every index stays.
    SurfaceId first = theDirectDraw.LoadPng(path.c_str(), true, true);
    EXPECT_EQ(theDirectDraw.PaletteColor(3), uint32_t(3 | 252 << 8 | 9 << 16));
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 6; x++) ASSERT_EQ(testutil::PixelAt(first, x, y), IndexAt(shape, x, y));

    // Another palette: a picture whose colours are not at their own index goes
    // to the nearest entry; the earlier picture keeps its indices.
    PaletteEntry* pal = theDirectDraw.MasterPalette();
    std::vector<PaletteEntry> saved(pal, pal + 256);
    for (int i = 0; i < 256; i++) pal[i] = saved[255 - i];
    SurfaceId second = theDirectDraw.LoadPng(path.c_str(), false, true);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 6; x++) {
            int i = IndexAt(shape, x, y);
            ASSERT_EQ(testutil::PixelAt(second, x, y),
                      theDirectDraw.NearestIndex(ColourOf(i).red, ColourOf(i).green, ColourOf(i).blue));
            ASSERT_EQ(testutil::PixelAt(first, x, y), i);
        }

    // Into an existing surface at an offset, clipped to it, palette untouched.
    SurfaceId target = theDirectDraw.CreateSurface(8, 8, true);
    uint32_t colourBefore = theDirectDraw.PaletteColor(3);
    theDirectDraw.LoadPngInto(target, path.c_str(), 4, 5);
    EXPECT_EQ(theDirectDraw.PaletteColor(3), colourBefore);
    EXPECT_EQ(testutil::PixelAt(target, 3, 5), 0);
    EXPECT_EQ(testutil::PixelAt(target, 4, 5), testutil::PixelAt(second, 0, 0));
    EXPECT_EQ(testutil::PixelAt(target, 7, 7), testutil::PixelAt(second, 3, 2));
    theDirectDraw.ReleaseSurface(first);
    theDirectDraw.ReleaseSurface(second);
    theDirectDraw.ReleaseSurface(target);
}

// Headers that claim more than any screen uses, or far more than the file can
// hold, are refused as damaged before the picture is allocated; the largest
// side still loads.
TEST(DibSection, OversizedOrUnderfilledHeadersAreDamagedFiles) {
    TempDir dir;
    std::string small = dir.File("small.png");
    WritePng(small, PngShape{4, 4, 8, PNG_COLOR_TYPE_PALETTE, 2, PNG_INTERLACE_NONE});
    std::string bytes = testutil::ReadFile(small);
    struct Case {
        const char* name;
        uint32_t width, height;
    };
    const Case cases[] = {
        {"wide.png", 4097, 4},
        {"tall.png", 4, 4097},
        {"huge.png", 16384, 16384},
        {"underfilled.png", 4096, 4096},
        {"underfilled-strip.png", 4096, 600},
    };
    for (const Case& c : cases) {
        std::string path = dir.File(c.name);
        testutil::WriteFile(path, WithClaimedSize(bytes, c.width, c.height));
        EXPECT_EXIT(
            {
                CapDataMemory();
                CDibSection().LoadPng(path.c_str());
            },
            testing::ExitedWithCode(1), std::string(c.name) + ": PNGファイルが壊れています")
            << c.name;
    }
    ExpectDecodes(PngShape{4096, 2, 8, PNG_COLOR_TYPE_PALETTE, 256, PNG_INTERLACE_NONE});
    ExpectDecodes(PngShape{3, 4096, 1, PNG_COLOR_TYPE_PALETTE, 2, PNG_INTERLACE_ADAM7});
}
