// CDibSection: palettised pictures in memory, PNG files in and out.
//
// Decoding goes through libpng's error jump: a damaged file (truncated, bad
// checksum, garbage after a valid header) ends up in the same fatal message
// with the path as caption as every other decoding failure, after what was
// made so far has been freed.
//
// Encoding builds the whole file in memory and hands it to the platform's
// atomic write, so a full disk or a folder that cannot be written leaves no
// file, or a cut one, behind. WritePng reports a failure to its caller (a
// screenshot that cannot be kept must not end the game); SavePng keeps the
// fatal messages for the callers that cannot go on without the file.
#include "graphics/dibsection.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "core/app.h"
#include "platform/platform.h"

namespace {

const char kCannotOpen[] = "ファイルをオープン出来ません";
const char kNoReadStruct[] = "PNG構造体を作成出来ません";
const char kNoInfoStruct[] = "PNG構造体を初期化出来ません";
const char kTooManyColours[] = "色数が多すぎます";
const char kUnsupportedType[] = "このパレットタイプには対応していません";
const char kDamaged[] = "PNGファイルが壊れています";
const char kCannotCreate[] = "ファイルを作成出来ませんでした";
const char kNoWriteStruct[] = "PNG構造体作成に失敗";

constexpr int kInfoBlockSize = 40 + 256 * 4;
// No screen of the game is wider or taller than this; a header that claims
// more is refused as damaged before anything is allocated.
constexpr png_uint_32 kLargestSide = 4096;
// Deflate cannot expand data by more than about 1032 to 1, so a file of n
// bytes holds at most this many times n bytes of filtered rows. A header that
// claims more is lying about a damaged or truncated file.
constexpr unsigned long long kMostInflation = 1032;

// Silences libpng's warnings; errors arrive through the jump.
void IgnoreWarning(png_structp, png_const_charp) {}
void JumpOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Everything a decode holds, so a failure can free it in one place.
struct DecodeState {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_bytep* rows = nullptr;  // row pointers into the picture being filled
};

void FreeDecode(DecodeState& st) {
    CApp::Free(st.rows);
    st.rows = nullptr;
    if (st.png) png_destroy_read_struct(&st.png, st.info ? &st.info : nullptr, nullptr);
    st.png = nullptr;
    st.info = nullptr;
    if (st.file) fclose(st.file);
    st.file = nullptr;
}

[[noreturn]] void FailDecode(DecodeState& st, CDibSection& dib, const char* text, const char* path) {
    FreeDecode(st);
    dib.Destroy();
    CApp::FatalExit(text, path);
}

// Bytes left in the file from the current position on; 0 when unknown.
unsigned long long BytesLeft(FILE* file) {
    long here = ftell(file);
    if (here < 0 || fseek(file, 0, SEEK_END) != 0) return 0;
    long end = ftell(file);
    fseek(file, here, SEEK_SET);
    return end > here ? static_cast<unsigned long long>(end - here) : 0;
}

// True when the rest of the file is large enough to inflate into the rows the
// header claims (one filter byte per row plus the packed pixels).
bool DataCanFill(unsigned long long bytesLeft, png_uint_32 width, png_uint_32 height, int bitDepth) {
    unsigned long long rowBytes = (static_cast<unsigned long long>(width) * unsigned(bitDepth) + 7) / 8;
    return (rowBytes + 1) * height <= bytesLeft * kMostInflation;
}

// The encoded file as it grows. Its blocks come from CApp::Alloc.
struct PngBytes {
    uint8_t* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
};

void AppendPngBytes(png_structp png, png_bytep bytes, png_size_t length) {
    auto* out = static_cast<PngBytes*>(png_get_io_ptr(png));
    if (length > out->capacity - out->size) {
        size_t capacity = out->capacity ? out->capacity : 64 * 1024;
        while (length > capacity - out->size) capacity *= 2;
        auto* grown = static_cast<uint8_t*>(CApp::Alloc(capacity, "CDibSection::SavePng"));
        if (out->size) std::memcpy(grown, out->data, out->size);
        CApp::Free(out->data);
        out->data = grown;
        out->capacity = capacity;
    }
    std::memcpy(out->data + out->size, bytes, length);
    out->size += length;
}

void FlushNothing(png_structp) {}

// Runs the encoder over rows prepared by the caller. On a library error the
// jump lands here and the caller frees what it made; nothing this function
// changes lives in its own frame, so nothing is lost across the jump.
bool EncodeRows(png_structp png, png_infop info, png_bytep* rows, int width, int height, const png_color* plte,
                PngBytes* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, out, AppendPngBytes, FlushNothing);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, plte, 256);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

CDibSection::CDibSection()
    : m_info(nullptr),
      m_header(nullptr),
      m_colors(nullptr),
      m_stride(0),
      m_rows(0),
      m_imageSize(0),
      m_width(0),
      m_height(0),
      m_bitsPerPixel(0),
      m_bytesPerPixel(0),
      m_pixels(nullptr),
      m_created(0) {}

CDibSection::~CDibSection() { Destroy(); }

bool CDibSection::Create(int width, int height, int bitsPerPixel) {
    Destroy();
    m_info = static_cast<uint8_t*>(CApp::Alloc(kInfoBlockSize, "CDibSection::Create"));
    m_header = reinterpret_cast<BitmapInfoHeader*>(m_info);
    m_colors = reinterpret_cast<RgbQuad*>(m_info + sizeof(BitmapInfoHeader));

    int perRow = bitsPerPixel < 24 ? 32 / bitsPerPixel : 4;
    m_width = width;
    m_height = height;
    m_stride = (width + perRow - 1) / perRow * perRow;
    m_rows = height;
    m_imageSize = m_stride * height;
    m_bitsPerPixel = bitsPerPixel;
    m_bytesPerPixel = (bitsPerPixel + 7) / 8;

    m_header->size = 40;
    m_header->width = m_stride;
    m_header->height = height;
    m_header->planes = 1;
    m_header->bitCount = uint16_t(bitsPerPixel);

    m_pixels = static_cast<uint8_t*>(CApp::Alloc(size_t(m_imageSize) * size_t(m_bytesPerPixel), "CDibSection::Create"));
    m_created = 1;
    return true;
}

void CDibSection::Destroy() {
    CApp::Free(m_info);
    CApp::Free(m_pixels);
    m_info = nullptr;
    m_header = nullptr;
    m_colors = nullptr;
    m_pixels = nullptr;
    m_created = 0;
}

uint8_t* CDibSection::PixelAddress(int x, int y) const {
    return m_pixels + (size_t(x) + size_t(m_height - y - 1) * size_t(m_stride)) * size_t(m_bytesPerPixel);
}

void CDibSection::SetColorTable(int first, int count, const RgbQuad* entries) {
    if (!m_colors) return;
    for (int i = 0; i < count && first + i < 256; i++) m_colors[first + i] = entries[i];
}

void CDibSection::GetColorTable(int first, int count, RgbQuad* entries) const {
    for (int i = 0; i < count && first + i < 256; i++) entries[i] = m_colors ? m_colors[first + i] : RgbQuad{};
}

bool CDibSection::LoadPng(const char* path) {
    DecodeState st;
    st.file = plat::OpenFile(path, "rb");
    if (!st.file) FailDecode(st, *this, kCannotOpen, path);
    st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, IgnoreWarning);
    if (!st.png) FailDecode(st, *this, kNoReadStruct, path);
    st.info = png_create_info_struct(st.png);
    if (!st.info) FailDecode(st, *this, kNoInfoStruct, path);
    if (setjmp(png_jmpbuf(st.png))) FailDecode(st, *this, kDamaged, path);

    png_set_user_limits(st.png, kLargestSide, kLargestSide);
    png_init_io(st.png, st.file);
    png_read_info(st.png, st.info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(st.png, st.info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);

    if (bitDepth > 8) FailDecode(st, *this, kTooManyColours, path);
    if (colorType != PNG_COLOR_TYPE_PALETTE) FailDecode(st, *this, kUnsupportedType, path);
    if (!DataCanFill(BytesLeft(st.file), width, height, bitDepth)) FailDecode(st, *this, kDamaged, path);
    Create(int(width), int(height), 8);
    png_set_packing(st.png);
    if (interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(st.png);
    png_read_update_info(st.png, st.info);

    png_colorp plte = nullptr;
    int entries = 0;
    if (!png_get_PLTE(st.png, st.info, &plte, &entries)) FailDecode(st, *this, kDamaged, path);
    RgbQuad table[256] = {};
    for (int i = 0; i < entries && i < 256; i++) table[i] = RgbQuad{plte[i].blue, plte[i].green, plte[i].red, 0};
    SetColorTable(0, 256, table);

    // Rows are decoded straight into the picture (its stride is never less than
    // the width), so a picture needs no second copy of itself while loading.
    st.rows = static_cast<png_bytep*>(CApp::Alloc(sizeof(png_bytep) * height, "Out of memory"));
    for (png_uint_32 i = 0; i < height; i++) st.rows[i] = PixelAddress(0, int(i));
    png_read_image(st.png, st.rows);
    png_read_end(st.png, nullptr);
    FreeDecode(st);
    return true;
}

PngWriteResult CDibSection::WritePng(const char* path) const {
    if (!m_created) return PNG_NOT_ENCODED;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, JumpOnError, IgnoreWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    PngBytes encoded;
    bool ok = png && info;
    if (ok) {
        // Rows go out top first.
        png_bytep* rows =
            static_cast<png_bytep*>(CApp::Alloc(sizeof(png_bytep) * size_t(m_height), "CDibSection::SavePng"));
        for (int i = 0; i < m_height; i++) {
            rows[i] = static_cast<png_bytep>(CApp::Alloc(size_t(m_width), "CDibSection::SavePng"));
            memcpy(rows[i], PixelAddress(0, i), size_t(m_width));
        }
        png_color plte[256];
        for (int i = 0; i < 256; i++) plte[i] = png_color{m_colors[i].red, m_colors[i].green, m_colors[i].blue};
        ok = EncodeRows(png, info, rows, m_width, m_height, plte, &encoded);
        for (int i = 0; i < m_height; i++) CApp::Free(rows[i]);
        CApp::Free(rows);
    }
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    bool written = ok && plat::WriteFileAtomic(path, encoded.data, encoded.size);
    int why = errno;
    CApp::Free(encoded.data);
    errno = why;
    if (!ok) return PNG_NOT_ENCODED;
    return written ? PNG_WRITTEN : PNG_NOT_WRITTEN;
}

void CDibSection::SavePng(const char* path) const {
    PngWriteResult result = WritePng(path);
    if (result == PNG_NOT_WRITTEN) CApp::FatalExit(kCannotCreate, path);
    if (result == PNG_NOT_ENCODED) CApp::FatalExit(kNoWriteStruct, path);
}
