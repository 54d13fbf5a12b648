// CDibSection: an in-memory palettised picture with its own 256-entry colour
// table, the form in which every picture file passes into or out of the game.
// Rows are stored bottom-up with a stride that is a multiple of 32 bits.
#pragma once
#include <cstdint>

struct BitmapInfoHeader {
    uint32_t size;
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "bitmap header is 40 bytes");

struct RgbQuad {
    uint8_t blue, green, red, reserved;
};

// How writing a picture went; on PNG_NOT_WRITTEN errno says why.
enum PngWriteResult { PNG_WRITTEN, PNG_NOT_ENCODED, PNG_NOT_WRITTEN };

class CDibSection {
public:
    CDibSection();
    ~CDibSection();
    CDibSection(const CDibSection&) = delete;
    CDibSection& operator=(const CDibSection&) = delete;

    bool Create(int width, int height, int bitsPerPixel);
    void Destroy();
    uint8_t* PixelAddress(int x, int y) const;
    void SetColorTable(int first, int count, const RgbQuad* entries);
    void GetColorTable(int first, int count, RgbQuad* entries) const;
    bool LoadPng(const char* path);
    // Writes the picture as a PNG file, whole or not at all.
    PngWriteResult WritePng(const char* path) const;
    // WritePng, where a failure is fatal.
    void SavePng(const char* path) const;

    bool Created() const { return m_created != 0; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int Stride() const { return m_stride; }
    int BitsPerPixel() const { return m_bitsPerPixel; }
    const BitmapInfoHeader* Header() const { return m_header; }

private:
    uint8_t* m_info;  // 40-byte header + 256 colour entries, 1064 bytes
    BitmapInfoHeader* m_header;
    RgbQuad* m_colors;
    int32_t m_stride;  // row stride in pixels
    int32_t m_rows;
    int32_t m_imageSize;  // stride x height, pixels
    int32_t m_width;
    int32_t m_height;
    int32_t m_bitsPerPixel;
    int32_t m_bytesPerPixel;
    uint8_t* m_pixels;
    uint8_t m_created;
};
