// The PNG decoder: which pixel format each kind of file becomes, the
// composition over black of transparent files, the file's own values for a
// sink that asks for straight alpha, and the files it refuses.
// Small fixtures are written here with a PNG writer of the test's own
// (stored deflate blocks, no libpng), so the bytes are exactly what the case
// needs.

#include "CodecTestSupport.h"
#include "Exception.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

using namespace codectest;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// A minimal PNG writer.

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBE32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    PutBE32(out, std::uint32_t(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBE32(out, Crc32(out.data() + start, out.size() - start));
}

// A zlib stream of stored (uncompressed) deflate blocks.
Bytes ZlibStored(const Bytes& raw) {
    Bytes out = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
        out.push_back(at + n == raw.size() ? 1 : 0);
        out.push_back(std::uint8_t(n));
        out.push_back(std::uint8_t(n >> 8));
        out.push_back(std::uint8_t(~n));
        out.push_back(std::uint8_t(~n >> 8));
        out.insert(out.end(), raw.begin() + std::ptrdiff_t(at), raw.begin() + std::ptrdiff_t(at + n));
        at += n;
    } while (at < raw.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    PutBE32(out, b << 16 | a);
    return out;
}

struct PngLayout {
    std::uint32_t width = 1, height = 1;
    int depth = 8, colourType = 0;
    Bytes plte;                // PLTE chunk data (RGB triples), omitted when empty
    Bytes trns;                // tRNS chunk data, omitted when empty
    std::vector<Bytes> rows;   // raw rows, filter byte (0) added by the writer
};

Bytes MakePng(const PngLayout& layout) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutBE32(ihdr, layout.width);
    PutBE32(ihdr, layout.height);
    ihdr.insert(ihdr.end(), {std::uint8_t(layout.depth), std::uint8_t(layout.colourType), 0, 0, 0});
    PutChunk(out, "IHDR", ihdr);
    if (!layout.plte.empty()) PutChunk(out, "PLTE", layout.plte);
    if (!layout.trns.empty()) PutChunk(out, "tRNS", layout.trns);
    Bytes raw;
    for (const Bytes& row : layout.rows) {
        raw.push_back(0);
        raw.insert(raw.end(), row.begin(), row.end());
    }
    PutChunk(out, "IDAT", ZlibStored(raw));
    PutChunk(out, "IEND", {});
    return out;
}

// Where the chunk of `type` starts (its length field) in a PNG file, if
// it has one.
std::optional<std::size_t> ChunkAt(const Bytes& png, const char* type) {
    for (std::size_t at = 8; at + 8 <= png.size();) {
        const std::uint32_t length = std::uint32_t(png[at]) << 24 | std::uint32_t(png[at + 1]) << 16 |
                                     std::uint32_t(png[at + 2]) << 8 | png[at + 3];
        if (std::equal(type, type + 4, png.begin() + std::ptrdiff_t(at + 4))) return at;
        at += 12 + length;
    }
    return std::nullopt;
}

std::size_t FindChunk(const Bytes& png, const char* type) {
    const std::optional<std::size_t> at = ChunkAt(png, type);
    if (!at) ADD_FAILURE() << "no " << type << " chunk";
    return at.value_or(0);
}

// ---------------------------------------------------------------------------
// Transparent files: composited over black, alpha in the fourth byte.

struct AlphaCase {
    const char* name;
    PngLayout layout;
    std::vector<Rgba> want;  // row 0, premultiplied as stored
};

const AlphaCase kAlphaCases[] = {
    // RGBA: c -> (c * a + 127) / 255.
    {"rgba8",
     {5, 1, 8, 6, {}, {}, {{3, 1, 255, 100, 128, 200, 254, 128, 77, 88, 99, 0, 255, 0, 10, 255, 254, 254, 254, 254}}},
     {{1, 0, 100, 100}, {64, 100, 127, 128}, {0, 0, 0, 0}, {255, 0, 10, 255}, {253, 253, 253, 254}}},
    // 16-bit channels are cut to their high byte first: 0x80FF -> 128.
    {"rgba16",
     {1, 1, 16, 6, {}, {}, {{0x80, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x80, 0xFF}}},
     {{64, 0, 128, 128}}},
    {"grey-alpha8", {2, 1, 8, 4, {}, {}, {{3, 100, 200, 200}}}, {{1, 1, 1, 100}, {157, 157, 157, 200}}},
    // Palette with partial tRNS: c -> (c * a + 255) / 256. Entries beyond
    // tRNS are opaque; index 5 is beyond PLTE and reads opaque black.
    {"palette8-partial",
     {6, 1, 8, 3, {3, 1, 255, 128, 200, 254, 77, 88, 99, 255, 0, 10, 9, 9, 9}, {100, 128, 0}, {{0, 1, 2, 3, 4, 5}}},
     {{2, 1, 100, 100}, {64, 100, 127, 128}, {0, 0, 0, 0}, {255, 0, 10, 255}, {9, 9, 9, 255}, {0, 0, 0, 255}}},
    // The same at 4 bits (indices 0, 1, 2, 3, 1, 0, 2), odd width.
    {"palette4-partial",
     {7, 1, 4, 3, {3, 1, 255, 128, 200, 254, 77, 88, 99, 255, 0, 10}, {100, 128, 0}, {{0x01, 0x23, 0x10, 0x20}}},
     {{2, 1, 100, 100}, {64, 100, 127, 128}, {0, 0, 0, 0}, {255, 0, 10, 255}, {64, 100, 127, 128}, {2, 1, 100, 100},
      {0, 0, 0, 0}}},
    // Only fully transparent and opaque entries: still a transparent file,
    // so the hole stays a hole.
    {"palette8-hole", {2, 1, 8, 3, {10, 20, 30, 40, 50, 60}, {0}, {{0, 1}}}, {{0, 0, 0, 0}, {40, 50, 60, 255}}},
};

TEST(PngAlpha, CompositedOverBlackWithTheKindsRounding) {
    for (const AlphaCase& c : kAlphaCases) {
        SCOPED_TRACE(c.name);
        const TBitmap bitmap = DecodeBytes(MakePng(c.layout), "PNG");
        ASSERT_EQ(bitmap.PixelFormat(), pf32bit);
        ASSERT_TRUE(bitmap.HasAlpha());
        ASSERT_EQ(bitmap.Width(), int(c.want.size()));
        for (std::size_t x = 0; x < c.want.size(); ++x) {
            const std::uint8_t* p = bitmap.ScanLine(0) + 4 * x;
            EXPECT_EQ((Rgba{p[2], p[1], p[0], p[3]}), c.want[x]) << "pixel " << x;
        }
    }
}

// ---------------------------------------------------------------------------
// Straight alpha for a sink that asks for it: the file's values untouched.

struct StraightCase {
    const char* name;
    PngLayout layout;
    bool straight;           // false: delivered as without asking
    std::vector<Rgba> want;  // row 0, straight (when `straight`)
};

const StraightCase kStraightCases[] = {
    // Nothing premultiplied, a transparent pixel keeps its colour.
    {"rgba8", {3, 1, 8, 6, {}, {}, {{200, 100, 50, 128, 77, 88, 99, 0, 1, 2, 3, 255}}}, true,
     {{200, 100, 50, 128}, {77, 88, 99, 0}, {1, 2, 3, 255}}},
    // 16 bits: the high byte of every channel, alpha included.
    {"rgba16", {2, 1, 16, 6, {}, {}, {{0x80, 0xFF, 0x00, 0x01, 0xFF, 0xFF, 0x80, 0xFF,  //
                                       0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x00, 0xFF}}},
     true, {{0x80, 0x00, 0xFF, 0x80}, {0x12, 0x56, 0x9A, 0x00}}},
    {"grey-alpha8", {2, 1, 8, 4, {}, {}, {{3, 100, 200, 0}}}, true, {{3, 3, 3, 100}, {200, 200, 200, 0}}},
    // Palette colours as listed; entries beyond tRNS are opaque, index 3 is
    // beyond PLTE and reads opaque black.
    {"palette8-partial", {4, 1, 8, 3, {3, 1, 255, 128, 200, 254, 77, 88, 99}, {100, 0}, {{0, 1, 2, 3}}}, true,
     {{3, 1, 255, 100}, {128, 200, 254, 0}, {77, 88, 99, 255}, {0, 0, 0, 255}}},
    // A tRNS grey level: exactly that level is transparent.
    {"grey8-trns", {3, 1, 8, 0, {}, {0, 50}, {{50, 51, 49}}}, true,
     {{50, 50, 50, 0}, {51, 51, 51, 255}, {49, 49, 49, 255}}},
    // At 16 bits all of the sample counts: 0x12FF has the key's high byte
    // but is another level, so it stays opaque.
    {"grey16-trns", {2, 1, 16, 0, {}, {0x12, 0x34}, {{0x12, 0x34, 0x12, 0xFF}}}, true,
     {{0x12, 0x12, 0x12, 0}, {0x12, 0x12, 0x12, 255}}},
    // 2-bit levels widened to 8 bits; level 2 (170) is the key.
    {"grey2-trns", {4, 1, 2, 0, {}, {0, 2}, {{0x1B}}}, true,
     {{0, 0, 0, 255}, {85, 85, 85, 255}, {170, 170, 170, 0}, {255, 255, 255, 255}}},
    {"rgb8-trns", {2, 1, 8, 2, {}, {0, 1, 0, 2, 0, 3}, {{1, 2, 3, 1, 2, 4}}}, true,
     {{1, 2, 3, 0}, {1, 2, 4, 255}}},
    {"rgb16-trns", {2, 1, 16, 2, {}, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC},
                    {{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBD}}},
     true, {{0x12, 0x56, 0x9A, 0}, {0x12, 0x56, 0x9A, 255}}},
    // No opacity: a grey level no 8-bit sample can have, a palette whose
    // tRNS entries are all opaque, no tRNS at all.
    {"grey8-trns-out-of-range", {2, 1, 8, 0, {}, {0x01, 0x00}, {{0, 1}}}, false, {}},
    {"palette8-opaque-trns", {2, 1, 8, 3, {1, 2, 3, 4, 5, 6}, {255, 255}, {{1, 0}}}, false, {}},
    {"rgb8", {2, 1, 8, 2, {}, {}, {{1, 2, 3, 250, 251, 252}}}, false, {}},
};

TEST(PngStraight, FileValuesUntouchedAndTrnsColourApplied) {
    for (const StraightCase& c : kStraightCases) {
        SCOPED_TRACE(c.name);
        const Bytes png = MakePng(c.layout);
        const StraightPicture got = DecodeStraightBytes(png, "PNG");
        EXPECT_EQ(got.info.StraightAlpha, c.straight);
        if (!c.straight) {
            // As without asking: same format, same bytes.
            const TBitmap plain = DecodeBytes(png, "PNG");
            EXPECT_EQ(got.info.Format, plain.PixelFormat());
            EXPECT_EQ(got.info.HasAlpha, plain.HasAlpha());
            const std::size_t stride = RowStride(plain.Width(), BitsPerPixel(plain.PixelFormat()));
            EXPECT_TRUE(std::equal(plain.ScanLine(0), plain.ScanLine(0) + stride, got.bitmap.ScanLine(0)));
            continue;
        }
        ASSERT_EQ(got.info.Format, pf32bit);
        ASSERT_TRUE(got.info.HasAlpha);
        ASSERT_EQ(got.bitmap.Width(), int(c.want.size()));
        for (std::size_t x = 0; x < c.want.size(); ++x) EXPECT_EQ(got.At(int(x), 0), c.want[x]) << "pixel " << x;
    }
}

// ---------------------------------------------------------------------------
// Stored values: the pixel format follows the bit depth.

struct StoredCase {
    const char* name;
    PngLayout layout;
    TPixelFormat format;
    std::vector<TColor> palette;  // expected palette (indexed formats)
    std::vector<TColor> want;     // colours of row 0
};

constexpr TColor Grey(std::uint8_t v) { return RGBColor(v, v, v); }

const StoredCase kStoredCases[] = {
    // Width 11: the five unused bits of the last byte are set in the file.
    {"grey1", {11, 1, 1, 0, {}, {}, {{0xB1, 0xBF}}}, pf1bit, {Grey(0), Grey(255)},
     {Grey(255), Grey(0), Grey(255), Grey(255), Grey(0), Grey(0), Grey(0), Grey(255), Grey(255), Grey(0), Grey(255)}},
    // 2-bit indices widened to 4 bits; widths 7 and 9 end mid-byte.
    {"grey2", {7, 1, 2, 0, {}, {}, {{0x1B, 0xE4}}}, pf4bit, {Grey(0), Grey(85), Grey(170), Grey(255)},
     {Grey(0), Grey(85), Grey(170), Grey(255), Grey(255), Grey(170), Grey(85)}},
    {"palette2",
     {9, 1, 2, 3, {255, 0, 0, 0, 255, 0, 0, 0, 255}, {}, {{0x24, 0x90, 0x40}}},
     pf4bit,
     {RGBColor(255, 0, 0), RGBColor(0, 255, 0), RGBColor(0, 0, 255)},
     {RGBColor(255, 0, 0), RGBColor(0, 0, 255), RGBColor(0, 255, 0), RGBColor(255, 0, 0), RGBColor(0, 0, 255),
      RGBColor(0, 255, 0), RGBColor(255, 0, 0), RGBColor(255, 0, 0), RGBColor(0, 255, 0)}},
    {"grey4", {3, 1, 4, 0, {}, {}, {{0x0F, 0x70}}}, pf4bit,
     {Grey(0), Grey(17), Grey(34), Grey(51), Grey(68), Grey(85), Grey(102), Grey(119), Grey(136), Grey(153), Grey(170),
      Grey(187), Grey(204), Grey(221), Grey(238), Grey(255)},
     {Grey(0), Grey(255), Grey(119)}},
    {"palette1", {3, 1, 1, 3, {1, 2, 3, 4, 5, 6}, {}, {{0x40}}}, pf1bit, {RGBColor(1, 2, 3), RGBColor(4, 5, 6)},
     {RGBColor(1, 2, 3), RGBColor(4, 5, 6), RGBColor(1, 2, 3)}},
    // A tRNS chunk with every entry opaque changes nothing.
    {"palette8-opaque-trns", {3, 1, 8, 3, {1, 2, 3, 4, 5, 6}, {255, 255}, {{1, 0, 1}}}, pf8bit,
     {RGBColor(1, 2, 3), RGBColor(4, 5, 6)},
     {RGBColor(4, 5, 6), RGBColor(1, 2, 3), RGBColor(4, 5, 6)}},
    // A tRNS colour on grey or RGB files: transparent pixels keep their own
    // colour.
    {"grey8-trns", {2, 1, 8, 0, {}, {0, 50}, {{50, 51}}}, pf24bit, {}, {Grey(50), Grey(51)}},
    {"rgb8", {2, 1, 8, 2, {}, {}, {{1, 2, 3, 250, 251, 252}}}, pf24bit, {}, {RGBColor(1, 2, 3), RGBColor(250, 251, 252)}},
    // 16 bits: the high byte of each channel.
    {"grey16", {2, 1, 16, 0, {}, {}, {{0x12, 0xFF, 0xFE, 0x01}}}, pf24bit, {}, {Grey(0x12), Grey(0xFE)}},
    {"rgb16-trns",
     {1, 1, 16, 2, {}, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, {{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}}},
     pf24bit,
     {},
     {RGBColor(0x12, 0x56, 0x9A)}},
};

TEST(PngStored, FormatFollowsBitDepthAndRowsAreClean) {
    for (const StoredCase& c : kStoredCases) {
        SCOPED_TRACE(c.name);
        const TBitmap bitmap = DecodeBytes(MakePng(c.layout), "PNG");
        ASSERT_EQ(bitmap.PixelFormat(), c.format);
        EXPECT_FALSE(bitmap.HasAlpha());
        EXPECT_EQ(bitmap.Palette(), c.palette);
        ASSERT_EQ(bitmap.Width(), int(c.want.size()));
        for (std::size_t x = 0; x < c.want.size(); ++x)
            EXPECT_EQ(bitmap.Canvas().Pixel(int(x), 0), c.want[x]) << "pixel " << x;
        // Every bit after the last pixel is 0: the unused bits of a packed
        // row's last byte and the padding up to the 4-byte row stride.
        const int bits = BitsPerPixel(c.format);
        const std::size_t usedBits = c.want.size() * std::size_t(bits);
        const std::size_t stride = RowStride(bitmap.Width(), bits);
        const std::uint8_t* row = bitmap.ScanLine(0);
        for (std::size_t bit = usedBits; bit < stride * 8; ++bit)
            EXPECT_EQ((row[bit / 8] >> (7 - bit % 8)) & 1, 0) << "bit " << bit;
    }
}

// Rows arrive once each, top to bottom, for plain and interlaced files alike.
TEST(PngStored, RowsArriveOnceTopDown) {
    for (const char* file : {"basn2c08.png", "ibasn2c08.png"}) {
        SCOPED_TRACE(file);
        TRecordingSink sink;
        DecodeFile((CorpusDir() / "pngsuite" / file).string(), Format("PNG"), sink);
        EXPECT_TRUE(sink.ended);
        ASSERT_EQ(sink.order.size(), 32u);
        for (int y = 0; y < 32; ++y) EXPECT_EQ(sink.order[std::size_t(y)], y);
    }
}

// ---------------------------------------------------------------------------
// Refused files.

Bytes GoodPng() { return MakePng({4, 3, 8, 2, {}, {}, {Bytes(12, 7), Bytes(12, 8), Bytes(12, 9)}}); }

struct ErrorCase {
    const char* name;
    Bytes bytes;
    const char* message;
};

std::vector<ErrorCase> ErrorCases() {
    std::vector<ErrorCase> cases;
    {
        Bytes b = GoodPng();
        b[1] = 'Q';
        cases.push_back({"signature", b, "PNG: Not a PNG file"});
    }
    {
        Bytes b = GoodPng();
        b[FindChunk(b, "IEND") - 1] ^= 0x40;  // the last byte of IDAT's CRC
        cases.push_back({"IDAT CRC", b, "PNG: IDAT: CRC error"});
    }
    {
        // A pixel byte changed and the CRC made to fit: zlib's own checksum
        // of the image data no longer matches.
        Bytes b = GoodPng();
        const std::size_t idat = FindChunk(b, "IDAT");
        const std::size_t length = b[idat + 3];  // under 256 bytes here
        b[idat + 8 + 10] ^= 0x40;
        const std::uint32_t crc = Crc32(b.data() + idat + 4, length + 4);
        for (int i = 0; i < 4; ++i) b[idat + 8 + length + std::size_t(i)] = std::uint8_t(crc >> (24 - 8 * i));
        cases.push_back({"zlib checksum", b, "PNG: IDAT: incorrect data check"});
    }
    {
        Bytes b = GoodPng();
        b.resize(FindChunk(b, "IDAT") + 20);
        cases.push_back({"cut in IDAT", b, "PNG: the file is truncated"});
    }
    {
        Bytes b = GoodPng();
        b.resize(FindChunk(b, "IEND"));
        cases.push_back({"cut before IEND", b, "PNG: the file is truncated"});
    }
    cases.push_back({"too few rows", MakePng({4, 3, 8, 2, {}, {}, {Bytes(12, 7), Bytes(12, 8)}}),
                     "PNG: Not enough image data"});
    cases.push_back({"palette without PLTE", MakePng({2, 1, 8, 3, {}, {}, {{0, 0}}}),
                     "PNG: IDAT: Missing PLTE before IDAT"});
    cases.push_back({"width beyond 65535", MakePng({70000, 1, 1, 0, {}, {}, {}}), "PNG: Invalid IHDR data"});
    cases.push_back({"bad bit depth", MakePng({1, 1, 3, 0, {}, {}, {{0}}}), "PNG: Invalid IHDR data"});
    cases.push_back({"colour type 1", MakePng({1, 1, 8, 1, {}, {}, {{0}}}), "PNG: Invalid IHDR data"});
    {
        Bytes b = GoodPng();
        b[FindChunk(b, "IHDR") + 8 + 13] ^= 1;  // IHDR's CRC
        cases.push_back({"IHDR CRC", b, "PNG: IHDR: CRC error"});
    }
    {
        // The signature's "\r\n" turned into "\n" by a text-mode transfer.
        Bytes b = GoodPng();
        b.erase(b.begin() + 4);
        cases.push_back({"line ends converted", b, "PNG: PNG file corrupted by ASCII conversion"});
    }
    {
        Bytes b = GoodPng();
        const std::size_t idat = FindChunk(b, "IDAT"), iend = FindChunk(b, "IEND");
        b.erase(b.begin() + std::ptrdiff_t(idat), b.begin() + std::ptrdiff_t(iend));
        cases.push_back({"no IDAT", b, "PNG: IEND: out of place"});
    }
    return cases;
}

TEST(PngErrors, DamagedFilesAreRefusedWithLibpngsMessage) {
    for (const ErrorCase& c : ErrorCases()) {
        SCOPED_TRACE(c.name);
        TRecordingSink sink;
        const fs::path path = WriteFixture("bad.png", c.bytes);
        try {
            DecodeFile(path.string(), Format("PNG"), sink);
            ADD_FAILURE() << "decoded";
        } catch (const EInvalidImage& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_FALSE(sink.ended);
    }
}

// The size is checked after the header, before anything sized from it and
// before the sink hears of it: a 30000 x 30000 header with no pixels.
TEST(PngErrors, OversizedHeaderIsRefusedBeforeBegin) {
    const fs::path path = WriteFixture("huge.png", MakePng({30000, 30000, 8, 6, {}, {}, {}}));
    TRecordingSink sink;
    try {
        DecodeFile(path.string(), Format("PNG"), sink);
        ADD_FAILURE() << "decoded";
    } catch (const EInvalidImage& e) {
        EXPECT_NE(e.Message().find("too large"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(sink.begun);
}

// ---------------------------------------------------------------------------
// Real files, compared with Pillow.

// Pillow reads 16-bit grey files as 32-bit integers and clips them when
// converting to RGBA; for those the reference is the high byte of each
// stored sample, read here.
std::vector<std::uint8_t> PillowGrey16HighBytes(const fs::path& path) {
    const std::string command = "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                "sys.stdout.buffer.write(bytes(v >> 8 for v in Image.open(sys.argv[1]).getdata()))\" '" +
                                path.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::vector<std::uint8_t> out;
    if (!pipe) return out;
    std::array<std::uint8_t, 4096> chunk;
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), pipe.get())) > 0;)
        out.insert(out.end(), chunk.begin(), chunk.begin() + std::ptrdiff_t(n));
    EXPECT_EQ(::pclose(pipe.release()), 0) << "Pillow could not read " << path;
    return out;
}

// Our pixels against Pillow's straight RGBA: stored colours exactly for
// files without alpha; for files with alpha, the premultiplied values our
// rounding gives from Pillow's straight ones.
void ExpectMatchesPillow(const fs::path& path, const TBitmap& ours) {
    const ReferenceImage ref = ReadWithPillow(path);
    ASSERT_EQ(ours.Width(), ref.width);
    ASSERT_EQ(ours.Height(), ref.height);
    const Bytes file = ReadBytes(path);
    const bool palette = file.size() > 25 && file[25] == 3;
    std::vector<std::uint8_t> grey16;
    if (ref.mode.rfind("I", 0) == 0) grey16 = PillowGrey16HighBytes(path);
    int differing = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            Rgba want = ref.At(x, y);
            if (!grey16.empty()) {
                const std::uint8_t v = grey16.at(std::size_t(y) * std::size_t(ref.width) + std::size_t(x));
                want = {v, v, v, 255};
            }
            if (ours.HasAlpha()) {
                const unsigned a = want.a, add = palette ? 255 : 127, div = palette ? 256 : 255;
                want = {std::uint8_t((want.r * a + add) / div), std::uint8_t((want.g * a + add) / div),
                        std::uint8_t((want.b * a + add) / div), want.a};
            } else {
                want.a = 255;  // stored values: a tRNS colour is not applied
            }
            const Rgba got = PixelOf(ours, x, y);
            if (got != want && ++differing <= 3)
                ADD_FAILURE() << path.filename() << " (" << x << ", " << y << "): ours " << int(got.r) << ","
                              << int(got.g) << "," << int(got.b) << "," << int(got.a) << " expected " << int(want.r)
                              << "," << int(want.g) << "," << int(want.b) << "," << int(want.a);
        }
    EXPECT_EQ(differing, 0) << path.filename();
}

struct CorpusCase {
    const char* file;  // under CorpusDir()
    int width, height;
    TPixelFormat format;
    bool alpha;
};

// Every good file of PngSuite and of libpng's test images, with the size
// and the kind our rules give for its colour type, bit depth and tRNS chunk.
const CorpusCase kPngCorpus[] = {
    {"pngsuite/basn0g01.png", 32, 32, pf1bit, false},  // type 0, 1-bit
    {"pngsuite/basn0g02.png", 32, 32, pf4bit, false},  // type 0, 2-bit
    {"pngsuite/basn0g04.png", 32, 32, pf4bit, false},  // type 0, 4-bit
    {"pngsuite/basn0g08.png", 32, 32, pf24bit, false},  // type 0, 8-bit
    {"pngsuite/basn0g16.png", 32, 32, pf24bit, false},  // type 0, 16-bit
    {"pngsuite/basn2c08.png", 32, 32, pf24bit, false},  // type 2, 8-bit
    {"pngsuite/basn2c16.png", 32, 32, pf24bit, false},  // type 2, 16-bit
    {"pngsuite/basn3p01.png", 32, 32, pf1bit, false},  // type 3, 1-bit
    {"pngsuite/basn3p02.png", 32, 32, pf4bit, false},  // type 3, 2-bit
    {"pngsuite/basn3p04.png", 32, 32, pf4bit, false},  // type 3, 4-bit
    {"pngsuite/basn3p08.png", 32, 32, pf8bit, false},  // type 3, 8-bit
    {"pngsuite/basn4a08.png", 32, 32, pf32bit, true},  // type 4, 8-bit
    {"pngsuite/basn4a16.png", 32, 32, pf32bit, true},  // type 4, 16-bit
    {"pngsuite/basn6a08.png", 32, 32, pf32bit, true},  // type 6, 8-bit
    {"pngsuite/basn6a16.png", 32, 32, pf32bit, true},  // type 6, 16-bit
    {"pngsuite/ftbbn0g01.png", 32, 32, pf1bit, false},  // type 0, 1-bit, tRNS
    {"pngsuite/ftbbn0g02.png", 32, 32, pf4bit, false},  // type 0, 2-bit, tRNS
    {"pngsuite/ftbbn0g04.png", 32, 32, pf4bit, false},  // type 0, 4-bit, tRNS
    {"pngsuite/ftbbn2c16.png", 32, 32, pf24bit, false},  // type 2, 16-bit, tRNS
    {"pngsuite/ftbbn3p08.png", 32, 32, pf32bit, true},  // type 3, 8-bit, tRNS
    {"pngsuite/ftbgn2c16.png", 32, 32, pf24bit, false},  // type 2, 16-bit, tRNS
    {"pngsuite/ftbgn3p08.png", 32, 32, pf32bit, true},  // type 3, 8-bit, tRNS
    {"pngsuite/ftbrn2c08.png", 32, 32, pf24bit, false},  // type 2, 8-bit, tRNS
    {"pngsuite/ftbwn0g16.png", 32, 32, pf24bit, false},  // type 0, 16-bit, tRNS
    {"pngsuite/ftbwn3p08.png", 32, 32, pf32bit, true},  // type 3, 8-bit, tRNS
    {"pngsuite/ftbyn3p08.png", 32, 32, pf32bit, true},  // type 3, 8-bit, tRNS
    {"pngsuite/ftp0n0g08.png", 32, 32, pf24bit, false},  // type 0, 8-bit
    {"pngsuite/ftp0n2c08.png", 32, 32, pf24bit, false},  // type 2, 8-bit
    {"pngsuite/ftp0n3p08.png", 32, 32, pf8bit, false},  // type 3, 8-bit
    {"pngsuite/ftp1n3p08.png", 32, 32, pf32bit, true},  // type 3, 8-bit, tRNS
    {"pngsuite/ibasn0g08.png", 32, 32, pf24bit, false},  // type 0, 8-bit, interlaced
    {"pngsuite/ibasn0g16.png", 32, 32, pf24bit, false},  // type 0, 16-bit, interlaced
    {"pngsuite/ibasn2c08.png", 32, 32, pf24bit, false},  // type 2, 8-bit, interlaced
    {"pngsuite/ibasn2c16.png", 32, 32, pf24bit, false},  // type 2, 16-bit, interlaced
    {"pngsuite/ibasn3p08.png", 32, 32, pf8bit, false},  // type 3, 8-bit, interlaced
    {"pngsuite/ibasn4a08.png", 32, 32, pf32bit, true},  // type 4, 8-bit, interlaced
    {"pngsuite/ibasn4a16.png", 32, 32, pf32bit, true},  // type 4, 16-bit, interlaced
    {"pngsuite/ibasn6a08.png", 32, 32, pf32bit, true},  // type 6, 8-bit, interlaced
    {"pngsuite/ibasn6a16.png", 32, 32, pf32bit, true},  // type 6, 16-bit, interlaced
    {"pngsuite/iftbbn2c16.png", 32, 32, pf24bit, false},  // type 2, 16-bit, tRNS
    {"pngsuite/iftbbn3p08.png", 32, 32, pf32bit, true},  // type 3, 8-bit, tRNS, interlaced
    {"pngsuite/iftbgn2c16.png", 32, 32, pf24bit, false},  // type 2, 16-bit, tRNS
    {"pngsuite/iftbgn3p08.png", 32, 32, pf32bit, true},  // type 3, 8-bit, tRNS, interlaced
    {"pngsuite/iftbrn2c08.png", 32, 32, pf24bit, false},  // type 2, 8-bit, tRNS
    {"pngsuite/iftbwn0g16.png", 32, 32, pf24bit, false},  // type 0, 16-bit, tRNS, interlaced
    {"pngsuite/iftbwn3p08.png", 32, 32, pf32bit, true},  // type 3, 8-bit, tRNS, interlaced
    {"pngsuite/iftbyn3p08.png", 32, 32, pf32bit, true},  // type 3, 8-bit, tRNS, interlaced
    {"pngsuite/iftp0n0g08.png", 32, 32, pf24bit, false},  // type 0, 8-bit, interlaced
    {"pngsuite/iftp0n2c08.png", 32, 32, pf24bit, false},  // type 2, 8-bit, interlaced
    {"pngsuite/iftp0n3p08.png", 32, 32, pf8bit, false},  // type 3, 8-bit, interlaced
    {"pngsuite/iftp1n3p08.png", 32, 32, pf32bit, true},  // type 3, 8-bit, tRNS, interlaced
    {"pngsuite/interlaced/ibasn0g01.png", 32, 32, pf1bit, false},  // type 0, 1-bit, interlaced
    {"pngsuite/interlaced/ibasn0g02.png", 32, 32, pf4bit, false},  // type 0, 2-bit, interlaced
    {"pngsuite/interlaced/ibasn0g04.png", 32, 32, pf4bit, false},  // type 0, 4-bit, interlaced
    {"pngsuite/interlaced/ibasn3p01.png", 32, 32, pf1bit, false},  // type 3, 1-bit, interlaced
    {"pngsuite/interlaced/ibasn3p02.png", 32, 32, pf4bit, false},  // type 3, 2-bit, interlaced
    {"pngsuite/interlaced/ibasn3p04.png", 32, 32, pf4bit, false},  // type 3, 4-bit, interlaced
    {"pngsuite/interlaced/iftbbn0g01.png", 32, 32, pf1bit, false},  // type 0, 1-bit, tRNS, interlaced
    {"pngsuite/interlaced/iftbbn0g02.png", 32, 32, pf4bit, false},  // type 0, 2-bit, tRNS, interlaced
    {"pngsuite/interlaced/iftbbn0g04.png", 32, 32, pf4bit, false},  // type 0, 4-bit, tRNS, interlaced
    {"png-testpngs/ch1n3p04.png", 32, 32, pf4bit, false},  // type 3, 4-bit
    {"png-testpngs/ch2n3p08.png", 32, 32, pf8bit, false},  // type 3, 8-bit
    {"png-testpngs/gray-1-1.8-tRNS.png", 2, 1, pf1bit, false},  // type 0, 1-bit, tRNS
    {"png-testpngs/gray-1-1.8.png", 2, 1, pf1bit, false},  // type 0, 1-bit
    {"png-testpngs/gray-1-linear-tRNS.png", 2, 1, pf1bit, false},  // type 0, 1-bit, tRNS
    {"png-testpngs/gray-1-linear.png", 2, 1, pf1bit, false},  // type 0, 1-bit
    {"png-testpngs/gray-1-sRGB-tRNS.png", 2, 1, pf1bit, false},  // type 0, 1-bit, tRNS
    {"png-testpngs/gray-1-sRGB.png", 2, 1, pf1bit, false},  // type 0, 1-bit
    {"png-testpngs/gray-1-tRNS.png", 2, 1, pf1bit, false},  // type 0, 1-bit, tRNS
    {"png-testpngs/gray-1.png", 2, 1, pf1bit, false},  // type 0, 1-bit
    {"png-testpngs/gray-16-1.8-tRNS.png", 256, 256, pf24bit, false},  // type 0, 16-bit
    {"png-testpngs/gray-16-1.8.png", 256, 256, pf24bit, false},  // type 0, 16-bit
    {"png-testpngs/gray-16-linear-tRNS.png", 256, 256, pf24bit, false},  // type 0, 16-bit
    {"png-testpngs/gray-16-linear.png", 256, 256, pf24bit, false},  // type 0, 16-bit
    {"png-testpngs/gray-16-sRGB-tRNS.png", 256, 256, pf24bit, false},  // type 0, 16-bit
    {"png-testpngs/gray-16-sRGB.png", 256, 256, pf24bit, false},  // type 0, 16-bit
    {"png-testpngs/gray-16-tRNS.png", 256, 256, pf24bit, false},  // type 0, 16-bit
    {"png-testpngs/gray-16.png", 256, 256, pf24bit, false},  // type 0, 16-bit
    {"png-testpngs/gray-2-1.8-tRNS.png", 4, 1, pf4bit, false},  // type 0, 2-bit, tRNS
    {"png-testpngs/gray-2-1.8.png", 4, 1, pf4bit, false},  // type 0, 2-bit
    {"png-testpngs/gray-2-linear-tRNS.png", 4, 1, pf4bit, false},  // type 0, 2-bit, tRNS
    {"png-testpngs/gray-2-linear.png", 4, 1, pf4bit, false},  // type 0, 2-bit
    {"png-testpngs/gray-2-sRGB-tRNS.png", 4, 1, pf4bit, false},  // type 0, 2-bit, tRNS
    {"png-testpngs/gray-2-sRGB.png", 4, 1, pf4bit, false},  // type 0, 2-bit
    {"png-testpngs/gray-2-tRNS.png", 4, 1, pf4bit, false},  // type 0, 2-bit, tRNS
    {"png-testpngs/gray-2.png", 4, 1, pf4bit, false},  // type 0, 2-bit
    {"png-testpngs/gray-4-1.8-tRNS.png", 16, 1, pf4bit, false},  // type 0, 4-bit, tRNS
    {"png-testpngs/gray-4-1.8.png", 16, 1, pf4bit, false},  // type 0, 4-bit
    {"png-testpngs/gray-4-linear-tRNS.png", 16, 1, pf4bit, false},  // type 0, 4-bit, tRNS
    {"png-testpngs/gray-4-linear.png", 16, 1, pf4bit, false},  // type 0, 4-bit
    {"png-testpngs/gray-4-sRGB-tRNS.png", 16, 1, pf4bit, false},  // type 0, 4-bit, tRNS
    {"png-testpngs/gray-4-sRGB.png", 16, 1, pf4bit, false},  // type 0, 4-bit
    {"png-testpngs/gray-4-tRNS.png", 16, 1, pf4bit, false},  // type 0, 4-bit, tRNS
    {"png-testpngs/gray-4.png", 16, 1, pf4bit, false},  // type 0, 4-bit
    {"png-testpngs/gray-8-1.8-tRNS.png", 256, 1, pf24bit, false},  // type 0, 8-bit, tRNS
    {"png-testpngs/gray-8-1.8.png", 256, 1, pf24bit, false},  // type 0, 8-bit
    {"png-testpngs/gray-8-linear-tRNS.png", 256, 1, pf24bit, false},  // type 0, 8-bit, tRNS
    {"png-testpngs/gray-8-linear.png", 256, 1, pf24bit, false},  // type 0, 8-bit
    {"png-testpngs/gray-8-sRGB-tRNS.png", 256, 1, pf24bit, false},  // type 0, 8-bit, tRNS
    {"png-testpngs/gray-8-sRGB.png", 256, 1, pf24bit, false},  // type 0, 8-bit
    {"png-testpngs/gray-8-tRNS.png", 256, 1, pf24bit, false},  // type 0, 8-bit, tRNS
    {"png-testpngs/gray-8.png", 256, 1, pf24bit, false},  // type 0, 8-bit
    {"png-testpngs/gray-alpha-16-1.8.png", 256, 256, pf32bit, true},  // type 4, 16-bit
    {"png-testpngs/gray-alpha-16-linear.png", 256, 256, pf32bit, true},  // type 4, 16-bit
    {"png-testpngs/gray-alpha-16-sRGB.png", 256, 256, pf32bit, true},  // type 4, 16-bit
    {"png-testpngs/gray-alpha-16.png", 256, 256, pf32bit, true},  // type 4, 16-bit
    {"png-testpngs/gray-alpha-8-1.8.png", 256, 256, pf32bit, true},  // type 4, 8-bit
    {"png-testpngs/gray-alpha-8-linear.png", 256, 256, pf32bit, true},  // type 4, 8-bit
    {"png-testpngs/gray-alpha-8-sRGB.png", 256, 256, pf32bit, true},  // type 4, 8-bit
    {"png-testpngs/gray-alpha-8.png", 256, 256, pf32bit, true},  // type 4, 8-bit
    {"png-testpngs/palette-1-1.8-tRNS.png", 2, 1, pf32bit, true},  // type 3, 1-bit, tRNS
    {"png-testpngs/palette-1-1.8.png", 2, 1, pf1bit, false},  // type 3, 1-bit
    {"png-testpngs/palette-1-linear-tRNS.png", 2, 1, pf32bit, true},  // type 3, 1-bit, tRNS
    {"png-testpngs/palette-1-linear.png", 2, 1, pf1bit, false},  // type 3, 1-bit
    {"png-testpngs/palette-1-sRGB-tRNS.png", 2, 1, pf32bit, true},  // type 3, 1-bit, tRNS
    {"png-testpngs/palette-1-sRGB.png", 2, 1, pf1bit, false},  // type 3, 1-bit
    {"png-testpngs/palette-1-tRNS.png", 2, 1, pf32bit, true},  // type 3, 1-bit, tRNS
    {"png-testpngs/palette-1.png", 2, 1, pf1bit, false},  // type 3, 1-bit
    {"png-testpngs/palette-2-1.8-tRNS.png", 4, 1, pf32bit, true},  // type 3, 2-bit, tRNS
    {"png-testpngs/palette-2-1.8.png", 4, 1, pf4bit, false},  // type 3, 2-bit
    {"png-testpngs/palette-2-linear-tRNS.png", 4, 1, pf32bit, true},  // type 3, 2-bit, tRNS
    {"png-testpngs/palette-2-linear.png", 4, 1, pf4bit, false},  // type 3, 2-bit
    {"png-testpngs/palette-2-sRGB-tRNS.png", 4, 1, pf32bit, true},  // type 3, 2-bit, tRNS
    {"png-testpngs/palette-2-sRGB.png", 4, 1, pf4bit, false},  // type 3, 2-bit
    {"png-testpngs/palette-2-tRNS.png", 4, 1, pf32bit, true},  // type 3, 2-bit, tRNS
    {"png-testpngs/palette-2.png", 4, 1, pf4bit, false},  // type 3, 2-bit
    {"png-testpngs/palette-4-1.8-tRNS.png", 16, 1, pf32bit, true},  // type 3, 4-bit, tRNS
    {"png-testpngs/palette-4-1.8.png", 16, 1, pf4bit, false},  // type 3, 4-bit
    {"png-testpngs/palette-4-linear-tRNS.png", 16, 1, pf32bit, true},  // type 3, 4-bit, tRNS
    {"png-testpngs/palette-4-linear.png", 16, 1, pf4bit, false},  // type 3, 4-bit
    {"png-testpngs/palette-4-sRGB-tRNS.png", 16, 1, pf32bit, true},  // type 3, 4-bit, tRNS
    {"png-testpngs/palette-4-sRGB.png", 16, 1, pf4bit, false},  // type 3, 4-bit
    {"png-testpngs/palette-4-tRNS.png", 16, 1, pf32bit, true},  // type 3, 4-bit, tRNS
    {"png-testpngs/palette-4.png", 16, 1, pf4bit, false},  // type 3, 4-bit
    {"png-testpngs/palette-8-1.8-tRNS.png", 256, 1, pf32bit, true},  // type 3, 8-bit, tRNS
    {"png-testpngs/palette-8-1.8.png", 256, 1, pf8bit, false},  // type 3, 8-bit
    {"png-testpngs/palette-8-linear-tRNS.png", 256, 1, pf32bit, true},  // type 3, 8-bit, tRNS
    {"png-testpngs/palette-8-linear.png", 256, 1, pf8bit, false},  // type 3, 8-bit
    {"png-testpngs/palette-8-sRGB-tRNS.png", 256, 1, pf32bit, true},  // type 3, 8-bit, tRNS
    {"png-testpngs/palette-8-sRGB.png", 256, 1, pf8bit, false},  // type 3, 8-bit
    {"png-testpngs/palette-8-tRNS.png", 256, 1, pf32bit, true},  // type 3, 8-bit, tRNS
    {"png-testpngs/palette-8.png", 256, 1, pf8bit, false},  // type 3, 8-bit
    {"png-testpngs/rgb-16-1.8-tRNS.png", 256, 256, pf24bit, false},  // type 2, 16-bit
    {"png-testpngs/rgb-16-1.8.png", 256, 256, pf24bit, false},  // type 2, 16-bit
    {"png-testpngs/rgb-16-linear-tRNS.png", 256, 256, pf24bit, false},  // type 2, 16-bit
    {"png-testpngs/rgb-16-linear.png", 256, 256, pf24bit, false},  // type 2, 16-bit
    {"png-testpngs/rgb-16-sRGB-tRNS.png", 256, 256, pf24bit, false},  // type 2, 16-bit
    {"png-testpngs/rgb-16-sRGB.png", 256, 256, pf24bit, false},  // type 2, 16-bit
    {"png-testpngs/rgb-16-tRNS.png", 256, 256, pf24bit, false},  // type 2, 16-bit
    {"png-testpngs/rgb-16.png", 256, 256, pf24bit, false},  // type 2, 16-bit
    {"png-testpngs/rgb-8-1.8-tRNS.png", 256, 256, pf24bit, false},  // type 2, 8-bit, tRNS
    {"png-testpngs/rgb-8-1.8.png", 256, 256, pf24bit, false},  // type 2, 8-bit
    {"png-testpngs/rgb-8-linear-tRNS.png", 256, 256, pf24bit, false},  // type 2, 8-bit, tRNS
    {"png-testpngs/rgb-8-linear.png", 256, 256, pf24bit, false},  // type 2, 8-bit
    {"png-testpngs/rgb-8-sRGB-tRNS.png", 256, 256, pf24bit, false},  // type 2, 8-bit, tRNS
    {"png-testpngs/rgb-8-sRGB.png", 256, 256, pf24bit, false},  // type 2, 8-bit
    {"png-testpngs/rgb-8-tRNS.png", 256, 256, pf24bit, false},  // type 2, 8-bit, tRNS
    {"png-testpngs/rgb-8.png", 256, 256, pf24bit, false},  // type 2, 8-bit
    {"png-testpngs/rgb-alpha-16-1.8.png", 256, 256, pf32bit, true},  // type 6, 16-bit
    {"png-testpngs/rgb-alpha-16-linear.png", 256, 256, pf32bit, true},  // type 6, 16-bit
    {"png-testpngs/rgb-alpha-16-sRGB.png", 256, 256, pf32bit, true},  // type 6, 16-bit
    {"png-testpngs/rgb-alpha-16.png", 256, 256, pf32bit, true},  // type 6, 16-bit
    {"png-testpngs/rgb-alpha-8-1.8.png", 256, 256, pf32bit, true},  // type 6, 8-bit
    {"png-testpngs/rgb-alpha-8-linear.png", 256, 256, pf32bit, true},  // type 6, 8-bit
    {"png-testpngs/rgb-alpha-8-sRGB.png", 256, 256, pf32bit, true},  // type 6, 8-bit
    {"png-testpngs/rgb-alpha-8.png", 256, 256, pf32bit, true},  // type 6, 8-bit
    {"png-testpngs/png-3/cicp-display-p3_reencoded.png", 100, 50, pf8bit, false},  // type 3, 8-bit
};

// Pillow reads 16-bit grey files as 32-bit integers, clips them when
// converting to RGBA and compares the tRNS level with the clipped values
// (so a whole picture can turn transparent). The reference for those is
// built from the samples Pillow read: the high byte as the colour, alpha 0
// where the sample equals the tRNS level Pillow found.
std::vector<Rgba> PillowGrey16Straight(const fs::path& path) {
    const std::string command = "/usr/bin/python3 -c \"import sys; from PIL import Image; "
                                "im = Image.open(sys.argv[1]); t = im.info.get('transparency'); "
                                "sys.stdout.buffer.write(bytes(b for v in im.getdata() "
                                "for b in (v >> 8, 0 if v == t else 255)))\" '" +
                                path.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::vector<Rgba> out;
    if (!pipe) return out;
    for (int v, a; (v = std::fgetc(pipe.get())) != EOF && (a = std::fgetc(pipe.get())) != EOF;)
        out.push_back({std::uint8_t(v), std::uint8_t(v), std::uint8_t(v), std::uint8_t(a)});
    EXPECT_EQ(::pclose(pipe.release()), 0) << "Pillow could not read " << path;
    return out;
}

// Every corpus file with an alpha channel or a tRNS chunk, read for a sink
// that wants straight alpha, gives Pillow's straight RGBA exactly; every
// other file comes as it does without asking.
TEST(PngCorpus, StraightAlphaMatchesPillowExactly) {
    int compared = 0;
    for (const CorpusCase& c : kPngCorpus) {
        SCOPED_TRACE(c.file);
        const fs::path path = CorpusDir() / c.file;
        const Bytes file = ReadBytes(path);
        ASSERT_GT(file.size(), 25u);
        const bool opacity = file[25] == 4 || file[25] == 6 || ChunkAt(file, "tRNS").has_value();
        const StraightPicture got = DecodeStraight(path, "PNG");
        ASSERT_EQ(got.info.StraightAlpha, opacity);
        if (!opacity) {
            const TBitmap plain = Decode(path, "PNG");
            ASSERT_EQ(got.info.Format, plain.PixelFormat());
            const std::size_t stride = RowStride(plain.Width(), BitsPerPixel(plain.PixelFormat()));
            for (int y = 0; y < plain.Height(); ++y)
                ASSERT_TRUE(std::equal(plain.ScanLine(y), plain.ScanLine(y) + stride, got.bitmap.ScanLine(y)))
                    << "row " << y;
            continue;
        }
        ASSERT_EQ(got.info.Format, pf32bit);
        ASSERT_TRUE(got.info.HasAlpha);
        const ReferenceImage ref = ReadWithPillow(path);
        ASSERT_EQ(got.bitmap.Width(), ref.width);
        ASSERT_EQ(got.bitmap.Height(), ref.height);
        std::vector<Rgba> want = ref.pixels;
        if (ref.mode.rfind("I", 0) == 0) want = PillowGrey16Straight(path);
        // Pillow widens 1-, 2- and 4-bit grey samples to 8 bits but compares
        // them with the tRNS level as stored, unwidened, so it misses the
        // transparent level (a level of 0 matches by chance). The reference
        // applies the level widened the same way: alpha 0 exactly there.
        const int depth = file[24];
        if (file[25] == 0 && depth < 8 && ChunkAt(file, "tRNS")) {
            const std::size_t trns = *ChunkAt(file, "tRNS") + 8;
            const unsigned level = (unsigned(file[trns]) << 8 | file[trns + 1]) * 255u / ((1u << depth) - 1);
            for (Rgba& p : want) p.a = p.r == level ? 0 : 255;
        }
        ASSERT_EQ(want.size(), ref.pixels.size());
        EXPECT_EQ(CountDifferentPixels(got, want), 0);
        ++compared;
    }
    std::printf("compared %d files with opacity exactly\n", compared);
}

TEST(PngCorpus, GoodFilesLoadAndMatchPillow) {
    for (const CorpusCase& c : kPngCorpus) {
        SCOPED_TRACE(c.file);
        const fs::path path = CorpusDir() / c.file;
        const TBitmap bitmap = Decode(path, "PNG");
        EXPECT_EQ(bitmap.Width(), c.width);
        EXPECT_EQ(bitmap.Height(), c.height);
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        EXPECT_EQ(bitmap.HasAlpha(), c.alpha);
        ExpectMatchesPillow(path, bitmap);
    }
}

// libpng's damaged files ("crashers": once crashed some reader) and
// palette files whose pixels use indices beyond their palette ("badpal").
// Each is refused with a message or read safely; indices beyond the palette
// read as black.
struct DamagedCase {
    const char* file;         // under png-testpngs
    const char* error;        // null: the file loads
    int width, height;
    TPixelFormat format;
    bool pillowReads = true;  // Pillow refuses the file: no comparison
};

const DamagedCase kDamagedCorpus[] = {
    {"crashers/bad_iCCP.png", "PNG: IHDR: CRC error", 0, 0, pf1bit},
    {"crashers/badadler.png", "PNG: IDAT: incorrect data check", 0, 0, pf1bit},
    {"crashers/badcrc.png", "PNG: IDAT: CRC error", 0, 0, pf1bit},
    {"crashers/empty_ancillary_chunks.png", nullptr, 1, 1, pf1bit, false},
    {"crashers/huge_IDAT.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_bKGD_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_cHRM_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_eXIf_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_gAMA_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_hIST_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_iCCP_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_iTXt_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_juNK_unsafe_to_copy.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_juNk_safe_to_copy.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_pCAL_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_pHYs_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_sCAL_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_sPLT_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_sRGB_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_sTER_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_tEXt_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_tIME_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"crashers/huge_zTXt_chunk.png", "PNG: the file is truncated", 0, 0, pf1bit},
    {"badpal/regression-palette-8.png", nullptr, 256, 1, pf8bit},
    {"badpal/small-palette-1.png", nullptr, 2, 1, pf1bit},
    {"badpal/small-palette-2.png", nullptr, 4, 1, pf4bit},
    {"badpal/small-palette-4.png", nullptr, 16, 1, pf4bit},
    {"badpal/small-palette-8.png", nullptr, 256, 1, pf8bit},
    {"badpal/test-palette-1.png", nullptr, 64, 64, pf1bit},
    {"badpal/test-palette-2.png", nullptr, 64, 64, pf4bit},
    {"badpal/test-palette-4.png", nullptr, 64, 64, pf4bit},
    {"badpal/test-palette-8.png", nullptr, 256, 256, pf8bit},
};

TEST(PngCorpus, DamagedFilesAreRefusedOrReadSafely) {
    for (const DamagedCase& c : kDamagedCorpus) {
        SCOPED_TRACE(c.file);
        const fs::path path = CorpusDir() / "png-testpngs" / c.file;
        if (c.error) {
            EXPECT_EQ(DecodeError(path, "PNG"), c.error);
            continue;
        }
        const TBitmap bitmap = Decode(path, "PNG");
        EXPECT_EQ(bitmap.Width(), c.width);
        EXPECT_EQ(bitmap.Height(), c.height);
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        if (!c.pillowReads) continue;
        // Pillow shows indices beyond the palette as entries of its own grey
        // ramp; we keep the index and it reads black. Every index within the
        // palette must give Pillow's colour.
        const ReferenceImage ref = ReadWithPillow(path);
        ASSERT_EQ(ref.width, bitmap.Width());
        ASSERT_EQ(ref.height, bitmap.Height());
        const int bits = BitsPerPixel(bitmap.PixelFormat());
        int beyond = 0, differing = 0;
        for (int y = 0; y < ref.height; ++y)
            for (int x = 0; x < ref.width; ++x) {
                const std::size_t bit = std::size_t(x) * std::size_t(bits);
                const unsigned index = (bitmap.ScanLine(y)[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                const Rgba got = PixelOf(bitmap, x, y);
                const Rgba pillow = ref.At(x, y);
                const Rgba want = index < bitmap.Palette().size() ? Rgba{pillow.r, pillow.g, pillow.b, 255}
                                                                  : Rgba{0, 0, 0, 255};
                beyond += index >= bitmap.Palette().size();
                differing += got != want;
            }
        EXPECT_EQ(differing, 0);
        if (std::string(c.file).rfind("badpal/", 0) == 0) {
            EXPECT_GT(beyond, 0);
        }
    }
}

}  // namespace
