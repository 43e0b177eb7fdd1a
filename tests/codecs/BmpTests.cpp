// The BMP reader: real files from BMP Suite and image-rs (compared with
// Pillow where it reads them), small files written here for each rule, and
// the speed of reading a large uncompressed picture.

#include "CodecTestSupport.h"

#include "Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace fs = std::filesystem;
using namespace codectest;

namespace {

// ---------------------------------------------------------------------------
// Writing small BMP files.


struct BmpLayout {
    std::uint32_t headerSize = 40;
    int width = 2, height = 2;  // a negative height is top-down
    int planes = 1, bits = 24;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    std::vector<TColor> palette;       // written as B, G, R (, 0xAA: the ignored fourth byte)
    std::vector<std::uint32_t> masks;  // after a 40-byte header, or in a larger one
    std::vector<std::uint8_t> pixels;  // as stored, rows padded by the caller
    std::optional<std::uint32_t> offset;  // default: right after the colour table
};

std::vector<std::uint8_t> MakeBmp(const BmpLayout& s) {
    std::vector<std::uint8_t> v = {'B', 'M'};
    Put32(v, 0);  // file size, patched below
    Put32(v, 0);
    Put32(v, 0);  // pixel offset, patched below
    Put32(v, s.headerSize);
    if (s.headerSize == 12) {
        Put16(v, unsigned(s.width));
        Put16(v, unsigned(s.height));
        Put16(v, unsigned(s.planes));
        Put16(v, unsigned(s.bits));
    } else {
        Put32(v, std::uint32_t(s.width));
        Put32(v, std::uint32_t(s.height));
        Put16(v, unsigned(s.planes));
        Put16(v, unsigned(s.bits));
        Put32(v, s.compression);
        Put32(v, std::uint32_t(s.pixels.size()));
        Put32(v, 2835);
        Put32(v, 2835);
        Put32(v, s.colorsUsed);
        Put32(v, 0);
        std::size_t i = 0;
        for (; v.size() < 14 + s.headerSize; ++i) Put32(v, i < s.masks.size() && s.headerSize > 40 ? s.masks[i] : 0);
        if (s.headerSize == 40)
            for (std::uint32_t m : s.masks) Put32(v, m);
    }
    for (TColor c : s.palette) {
        v.push_back(GetBValue(c));
        v.push_back(GetGValue(c));
        v.push_back(GetRValue(c));
        if (s.headerSize != 12) v.push_back(0xAA);
    }
    const std::uint32_t offset = s.offset ? *s.offset : std::uint32_t(v.size());
    v.resize(std::max<std::size_t>(v.size(), offset), 0);
    v.insert(v.end(), s.pixels.begin(), s.pixels.end());
    v[2] = std::uint8_t(v.size());
    v[3] = std::uint8_t(v.size() >> 8);
    v[10] = std::uint8_t(offset);
    v[11] = std::uint8_t(offset >> 8);
    return v;
}

std::string BytesError(const std::vector<std::uint8_t>& bytes) {
    try {
        DecodeBytes(bytes, "BMP");
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(decoded)";
}

const std::vector<TColor> kFour = {RGBColor(10, 20, 30), RGBColor(200, 0, 0), RGBColor(0, 200, 0), RGBColor(0, 0, 200)};

// ---------------------------------------------------------------------------
// The corpus.

enum class Check {
    None,    // Pillow cannot read it, or reads it differently (see the table)
    Pillow,  // every pixel's colour equals Pillow's
    Levels,  // 15/16-bit: the stored levels are those Pillow widened (level * 255 / max)
    Rgb24,   // no Pillow reading; the same picture as g/rgb24.bmp, every colour equal
    // RLE4, which Pillow 9.4 misreads (it drops every other pixel), and RLE8
    // with skipped pixels, where Pillow 9.4 puts wrong colours on some rows
    // (ImageMagick agrees with us): compared with the uncompressed twin
    // (g/pal4.bmp, g/pal8.bmp); a skipped pixel has palette entry 0's colour.
    Twin4,
    Twin8,
};

struct CorpusCase {
    const char* file;  // under CorpusDir()
    int width, height;
    TPixelFormat format;
    const char* error;  // nullptr when the file loads
    Check check;
};

constexpr TPixelFormat kNoFormat = pfCustom;

// Every BMP of the corpora, with the outcome we hold to. The "q" files are
// questionable: each either loads (read soundly) or is refused cleanly. The
// "b" and image-rs/bad files are refused with a specific message, or read
// where what they hold is sound (noted per file).
const CorpusCase kCorpus[] = {
    {"bmpsuite/g/pal1.bmp", 127, 64, pf1bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal1bg.bmp", 127, 64, pf1bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal1wb.bmp", 127, 64, pf1bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal4.bmp", 127, 64, pf4bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal4gs.bmp", 127, 64, pf4bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal4rle.bmp", 127, 64, pf24bit, nullptr, Check::Twin4},
    {"bmpsuite/g/pal8-0.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8gs.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8nonsquare.bmp", 127, 32, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8os2.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8rle.bmp", 127, 64, pf24bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8topdown.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8v4.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8v5.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8w124.bmp", 124, 61, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8w125.bmp", 125, 62, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/pal8w126.bmp", 126, 63, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/g/rgb16-565.bmp", 127, 64, pf16bit, nullptr, Check::Levels},
    {"bmpsuite/g/rgb16-565pal.bmp", 127, 64, pf16bit, nullptr, Check::Levels},
    {"bmpsuite/g/rgb16.bmp", 127, 64, pf15bit, nullptr, Check::Levels},
    {"bmpsuite/g/rgb16bfdef.bmp", 127, 64, pf15bit, nullptr, Check::Levels},
    {"bmpsuite/g/rgb24.bmp", 127, 64, pf24bit, nullptr, Check::Pillow},
    {"bmpsuite/g/rgb24pal.bmp", 127, 64, pf24bit, nullptr, Check::Pillow},
    {"bmpsuite/g/rgb32.bmp", 127, 64, pf32bit, nullptr, Check::Pillow},
    // Masks ff000000/00000ff0/00ff0000: Pillow refuses the layout.
    {"bmpsuite/g/rgb32bf.bmp", 127, 64, pf24bit, nullptr, Check::Rgb24},
    {"bmpsuite/g/rgb32bfdef.bmp", 127, 64, pf32bit, nullptr, Check::Pillow},
    {"jpeg/shira_bird8.bmp", 192, 144, pf24bit, nullptr, Check::Pillow},
    {"jpeg/vgl_6434_0018a.bmp", 119, 96, pf24bit, nullptr, Check::Pillow},
    {"jpeg/vgl_6548_0026a.bmp", 128, 95, pf24bit, nullptr, Check::Pillow},

    {"bmpsuite/q/pal1huffmsb.bmp", 0, 0, kNoFormat, "BMP: unsupported compression 3", Check::None},
    {"bmpsuite/q/pal1p1.bmp", 127, 64, pf1bit, nullptr, Check::Pillow},
    {"bmpsuite/q/pal2.bmp", 0, 0, kNoFormat, "BMP: unsupported bit count 2", Check::None},
    {"bmpsuite/q/pal2color.bmp", 0, 0, kNoFormat, "BMP: unsupported bit count 2", Check::None},
    // Cut short and with skipped pixels: the skipped ones take index 0's
    // colour.
    {"bmpsuite/q/pal4rlecut.bmp", 127, 64, pf24bit, nullptr, Check::Twin4},
    {"bmpsuite/q/pal4rletrns.bmp", 127, 64, pf24bit, nullptr, Check::Twin4},
    {"bmpsuite/q/pal8offs.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/q/pal8os2-hs.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/q/pal8os2-sz.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    // A colour table shorter than 256 entries, given by the pixel offset.
    {"bmpsuite/q/pal8os2sp.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    // A 16-byte OS/2 2.x header, which Pillow does not know.
    {"bmpsuite/q/pal8os2v2-16.bmp", 127, 64, pf8bit, nullptr, Check::None},
    {"bmpsuite/q/pal8os2v2-40sz.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/q/pal8os2v2-sz.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    {"bmpsuite/q/pal8os2v2.bmp", 127, 64, pf8bit, nullptr, Check::Pillow},
    // 300 table entries at 8 bits: the first 256 are kept (Pillow refuses).
    {"bmpsuite/q/pal8oversizepal.bmp", 127, 64, pf8bit, nullptr, Check::None},
    {"bmpsuite/q/pal8rlecut.bmp", 127, 64, pf24bit, nullptr, Check::Twin8},
    {"bmpsuite/q/pal8rletrns.bmp", 127, 64, pf24bit, nullptr, Check::Twin8},
    {"bmpsuite/q/rgb16-231.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgb16-3103.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgb16faketrns.bmp", 127, 64, pf15bit, nullptr, Check::Levels},
    {"bmpsuite/q/rgb24jpeg.bmp", 0, 0, kNoFormat, "BMP: unsupported compression 4", Check::None},
    {"bmpsuite/q/rgb24largepal.bmp", 127, 64, pf24bit, nullptr, Check::Pillow},
    {"bmpsuite/q/rgb24lprof.bmp", 127, 64, pf24bit, nullptr, Check::Pillow},
    {"bmpsuite/q/rgb24png.bmp", 0, 0, kNoFormat, "BMP: unsupported compression 5", Check::None},
    {"bmpsuite/q/rgb24prof.bmp", 127, 64, pf24bit, nullptr, Check::Pillow},
    {"bmpsuite/q/rgb24prof2.bmp", 127, 64, pf24bit, nullptr, Check::Pillow},
    // OS/2 2.x RLE24.
    {"bmpsuite/q/rgb24rle24.bmp", 0, 0, kNoFormat, "BMP: unsupported compression 4", Check::None},
    {"bmpsuite/q/rgb32-111110.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgb32-7187.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgb32-xbgr.bmp", 127, 64, pf24bit, nullptr, Check::Pillow},
    // The fourth bytes are not 0; a BMP has no opacity, they stay as stored.
    {"bmpsuite/q/rgb32fakealpha.bmp", 127, 64, pf32bit, nullptr, Check::Pillow},
    {"bmpsuite/q/rgb32h52.bmp", 127, 64, pf24bit, nullptr, Check::Rgb24},
    {"bmpsuite/q/rgba16-1924.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgba16-4444.bmp", 127, 64, pf24bit, nullptr, Check::None},
    // Masks 7c00/03e0/001f with an alpha bit: the colours are x1r5g5b5.
    {"bmpsuite/q/rgba16-5551.bmp", 127, 64, pf15bit, nullptr, Check::Levels},
    // Pillow composes nothing but reads opacity we drop; colours compared.
    {"bmpsuite/q/rgba32-1.bmp", 127, 64, pf32bit, nullptr, Check::Pillow},
    {"bmpsuite/q/rgba32-1010102.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgba32-2.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgba32-61754.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgba32-81284.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgba32abf.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgba32h56.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/q/rgba64.bmp", 0, 0, kNoFormat, "BMP: unsupported bit count 64", Check::None},

    {"bmpsuite/b/badbitcount.bmp", 0, 0, kNoFormat, "BMP: unsupported bit count 30000", Check::None},
    // Wrong image size field, resolution or file size: none of them is used,
    // the pixels are all there.
    {"bmpsuite/b/badbitssize.bmp", 127, 64, pf1bit, nullptr, Check::Pillow},
    {"bmpsuite/b/baddens1.bmp", 127, 64, pf1bit, nullptr, Check::Pillow},
    {"bmpsuite/b/baddens2.bmp", 127, 64, pf1bit, nullptr, Check::Pillow},
    {"bmpsuite/b/badfilesize.bmp", 127, 64, pf1bit, nullptr, Check::Pillow},
    {"bmpsuite/b/badheadersize.bmp", 0, 0, kNoFormat, "BMP: unsupported header size 66", Check::None},
    // A colour count of 305402420: the table is what fits before the pixels.
    {"bmpsuite/b/badpalettesize.bmp", 127, 64, pf8bit, nullptr, Check::None},
    {"bmpsuite/b/badplanes.bmp", 0, 0, kNoFormat, "BMP: plane count must be 1", Check::None},
    {"bmpsuite/b/badrle.bmp", 0, 0, kNoFormat, "BMP: RLE data runs past the top row", Check::None},
    {"bmpsuite/b/badrle4.bmp", 0, 0, kNoFormat, "BMP: RLE data runs past the top row", Check::None},
    // A delta beyond the right edge: the run is clipped there.
    {"bmpsuite/b/badrle4bis.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/b/badrle4ter.bmp", 0, 0, kNoFormat, "BMP: RLE data runs past the top row", Check::None},
    {"bmpsuite/b/badrlebis.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/b/badrleter.bmp", 0, 0, kNoFormat, "BMP: RLE data runs past the top row", Check::None},
    {"bmpsuite/b/badwidth.bmp", 0, 0, kNoFormat, "BMP: negative width -127", Check::None},
    // Indices beyond the 101-entry table: they read as black.
    {"bmpsuite/b/pal8badindex.bmp", 127, 64, pf8bit, nullptr, Check::None},
    {"bmpsuite/b/reallybig.bmp", 0, 0, kNoFormat,
     "The picture is too large (3000000 x 2000000 pixels; at most 65535 on a side)", Check::None},
    // Masks ff00/00ff/0000 are contiguous, apart and within 16 bits: read.
    {"bmpsuite/b/rgb16-880.bmp", 127, 64, pf24bit, nullptr, Check::None},
    {"bmpsuite/b/rletopdown.bmp", 0, 0, kNoFormat, "BMP: a compressed bitmap cannot be top-down", Check::None},
    {"bmpsuite/b/shortfile.bmp", 0, 0, kNoFormat, "BMP: truncated pixel data", Check::None},
    {"image-rs/bad/Bad_badbitcount.bmp", 0, 0, kNoFormat, "BMP: unsupported bit count 30000", Check::None},
    // A colour count of 4278190086: six entries fit before the pixels.
    {"image-rs/bad/Bad_clrsUsed.bmp", 6, 6, pf8bit, nullptr, Check::None},
    {"image-rs/bad/Bad_height.bmp", 0, 0, kNoFormat,
     "The picture is too large (6 x 2147483647 pixels; at most 65535 on a side)", Check::None},
    {"image-rs/bad/Bad_reallybig.bmp", 0, 0, kNoFormat,
     "The picture is too large (3000000 x 2000000 pixels; at most 65535 on a side)", Check::None},
    {"image-rs/bad/Bad_shortfile.bmp", 0, 0, kNoFormat, "BMP: truncated pixel data", Check::None},
    {"image-rs/bad/Bad_unusual_extend_buffer_usage.bmp", 0, 0, kNoFormat, "BMP: truncated RLE data", Check::None},
    {"image-rs/bad/Bad_width.bmp", 0, 0, kNoFormat,
     "The picture is too large (2147483647 x 6 pixels; at most 65535 on a side)", Check::None},
    {"bmpsuite/x/ba-bm.bmp", 0, 0, kNoFormat, "BMP: not a bitmap file", Check::None},
};

TEST(BmpCorpus, EveryFileIsInTheTable) {
    std::vector<std::string> listed;
    for (const CorpusCase& c : kCorpus) listed.push_back(c.file);
    ExpectEveryCorpusFileListed({"bmpsuite/g", "bmpsuite/q", "bmpsuite/b", "bmpsuite/x", "image-rs/bad", "jpeg"}, ".bmp",
                                listed);
}

TEST(BmpCorpus, LoadsOrRefusesAsRecorded) {
    for (const CorpusCase& c : kCorpus) {
        SCOPED_TRACE(c.file);
        const fs::path path = CorpusDir() / c.file;
        if (c.error) {
            EXPECT_EQ(DecodeError(path, "BMP"), c.error);
            continue;
        }
        TBitmap bitmap;
        ASSERT_NO_THROW(bitmap = Decode(path, "BMP"));
        EXPECT_EQ(bitmap.Width(), c.width);
        EXPECT_EQ(bitmap.Height(), c.height);
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        EXPECT_FALSE(bitmap.HasAlpha());
    }
}

// Level of a 15- or 16-bit pixel's channel as stored.
struct Levels {
    unsigned r, g, b, gMax;
};
Levels StoredLevels(const TBitmap& bitmap, int x, int y) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    const unsigned w = unsigned(row[2 * x] | (row[2 * x + 1] << 8));
    if (bitmap.PixelFormat() == pf15bit) return {(w >> 10) & 31u, (w >> 5) & 31u, w & 31u, 31};
    return {(w >> 11) & 31u, (w >> 5) & 63u, w & 31u, 63};
}

TEST(BmpCorpus, PixelsMatchPillow) {
    const TBitmap rgb24 = Decode(CorpusDir() / "bmpsuite/g/rgb24.bmp", "BMP");
    for (const CorpusCase& c : kCorpus) {
        if (c.error || c.check == Check::None) continue;
        SCOPED_TRACE(c.file);
        const TBitmap ours = Decode(CorpusDir() / c.file, "BMP");
        int mismatches = 0;
        if (c.check == Check::Twin4 || c.check == Check::Twin8) {
            const TBitmap twin =
                Decode(CorpusDir() / (c.check == Check::Twin4 ? "bmpsuite/g/pal4.bmp" : "bmpsuite/g/pal8.bmp"), "BMP");
            const auto bytes = ReadBytes(CorpusDir() / c.file);
            const TColor entry0 = RGBColor(bytes[56], bytes[55], bytes[54]);
            const bool skips = std::string(c.file).find("/q/") != std::string::npos;
            for (int y = 0; y < ours.Height(); ++y)
                for (int x = 0; x < ours.Width(); ++x) {
                    const TColor got = ours.Canvas().Pixel(x, y);
                    mismatches += got != twin.Canvas().Pixel(x, y) && !(skips && got == entry0);
                }
            EXPECT_EQ(mismatches, 0);
            continue;
        }
        if (c.check == Check::Rgb24) {
            for (int y = 0; y < ours.Height(); ++y)
                for (int x = 0; x < ours.Width(); ++x)
                    mismatches += ours.Canvas().Pixel(x, y) != rgb24.Canvas().Pixel(x, y);
            EXPECT_EQ(mismatches, 0);
            continue;
        }
        const ReferenceImage ref = ReadWithPillow(CorpusDir() / c.file);
        ASSERT_EQ(ref.width, ours.Width());
        ASSERT_EQ(ref.height, ours.Height());
        for (int y = 0; y < ours.Height(); ++y)
            for (int x = 0; x < ours.Width(); ++x) {
                const Rgba want = ref.At(x, y);
                bool same;
                if (c.check == Check::Levels) {
                    // Pillow widens a level as level * 255 / max (rounded
                    // down); the raster core widens by repeating bits. The
                    // stored levels are what both start from.
                    const Levels l = StoredLevels(ours, x, y);
                    same = l.r * 255 / 31 == want.r && l.g * 255 / l.gMax == want.g && l.b * 255 / 31 == want.b;
                } else {
                    const Rgba got = PixelOf(ours, x, y);
                    same = got.r == want.r && got.g == want.g && got.b == want.b;
                }
                if (!same && mismatches++ < 3) ADD_FAILURE() << "pixel " << x << "," << y;
            }
        EXPECT_EQ(mismatches, 0);
    }
}

// Bit fields of any width widen to the nearest 8-bit value. The files hold
// the picture of g/rgb24.bmp (or of q/rgba32-1.bmp, which Pillow reads, for
// those with alpha) reduced to their precision, so each channel is that
// picture's value taken to the field's nearest level and back, give or take
// the writer's own rounding (a level at most, or 2 for wide fields).
// (rgb16-231 is left out: the values of its 2- and 1-bit fields stray from
// the reduced picture by more than a level, as if the writer had dithered;
// it is only loaded.)
TEST(BmpCorpus, BitFieldsOfAnyWidthMatchTheirReducedPicture) {
    const struct {
        const char* file;
        const char* reference;
        int rBits, gBits, bBits;
    } cases[] = {
        {"bmpsuite/q/rgb16-3103.bmp", "bmpsuite/g/rgb24.bmp", 3, 10, 3},
        {"bmpsuite/q/rgb32-111110.bmp", "bmpsuite/g/rgb24.bmp", 11, 11, 10},
        {"bmpsuite/q/rgb32-7187.bmp", "bmpsuite/g/rgb24.bmp", 7, 18, 7},
        {"bmpsuite/b/rgb16-880.bmp", "bmpsuite/g/rgb24.bmp", 8, 8, 0},
        {"bmpsuite/q/rgba16-4444.bmp", "bmpsuite/q/rgba32-1.bmp", 4, 4, 4},
        {"bmpsuite/q/rgba16-1924.bmp", "bmpsuite/q/rgba32-1.bmp", 1, 9, 2},
        {"bmpsuite/q/rgba32-1010102.bmp", "bmpsuite/q/rgba32-1.bmp", 10, 10, 10},
        {"bmpsuite/q/rgba32-2.bmp", "bmpsuite/q/rgba32-1.bmp", 8, 8, 8},
        {"bmpsuite/q/rgba32-61754.bmp", "bmpsuite/q/rgba32-1.bmp", 6, 17, 5},
        {"bmpsuite/q/rgba32-81284.bmp", "bmpsuite/q/rgba32-1.bmp", 8, 12, 8},
        {"bmpsuite/q/rgba32abf.bmp", "bmpsuite/q/rgba32-1.bmp", 8, 8, 8},
        {"bmpsuite/q/rgba32h56.bmp", "bmpsuite/q/rgba32-1.bmp", 8, 8, 8},
    };
    const auto reduced = [](int v, int bits) {
        if (bits == 0) return 0;
        const int max = (1 << std::min(bits, 16)) - 1;
        const long level = (long(v) * max + 127) / 255;
        return int((level * 255 + max / 2) / max);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const TBitmap ours = Decode(CorpusDir() / c.file, "BMP");
        const TBitmap ref = Decode(CorpusDir() / c.reference, "BMP");
        int bad = 0, worst = 0;
        for (int y = 0; y < ours.Height(); ++y)
            for (int x = 0; x < ours.Width(); ++x) {
                const TColor a = ours.Canvas().Pixel(x, y), b = ref.Canvas().Pixel(x, y);
                const int got[3] = {GetRValue(a), GetGValue(a), GetBValue(a)};
                const int was[3] = {GetRValue(b), GetGValue(b), GetBValue(b)};
                const int bits[3] = {c.rBits, c.gBits, c.bBits};
                for (int i = 0; i < 3; ++i) {
                    const int d = std::abs(got[i] - reduced(was[i], bits[i]));
                    worst = std::max(worst, d);
                    // Fields below 8 bits: our value is one of the field's
                    // levels widened, and the writer's rounding may have
                    // picked the neighbouring level.
                    const int step = bits[i] == 0 ? 0 : bits[i] >= 8 ? 2 : 255 / ((1 << bits[i]) - 1) + 2;
                    bad += d > step || (bits[i] < 8 && reduced(got[i], bits[i]) != got[i]);
                }
            }
        EXPECT_EQ(bad, 0) << "largest difference " << worst;
    }
}

// ---------------------------------------------------------------------------
// Rows: order of delivery, padding.

TEST(BmpRows, DeliveredInStoredOrderWithCleanPadding) {
    BmpLayout s;
    s.width = 1;
    s.height = 3;
    // Each row: one pixel and a padding byte set, which must not reach us.
    s.pixels = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE, 7, 8, 9, 0xEE};
    for (int height : {3, -3}) {
        s.height = height;
        TRecordingSink sink;
        const auto bytes = MakeBmp(s);
        DecodeMemory(bytes.data(), bytes.size(), Format("BMP"), sink);
        EXPECT_TRUE(sink.ended);
        EXPECT_EQ(sink.order, height > 0 ? std::vector<int>({2, 1, 0}) : std::vector<int>({0, 1, 2}));

        const TBitmap bitmap = DecodeBytes(MakeBmp(s), "BMP");
        const int bottom = height > 0 ? 2 : 0;
        EXPECT_EQ(bitmap.Canvas().Pixel(0, bottom), RGBColor(3, 2, 1));
        for (int y = 0; y < 3; ++y) EXPECT_EQ(bitmap.ScanLine(y)[3], 0) << "padding of row " << y;
    }
}

TEST(BmpRows, UnusedBitsOfTheLastByteAreCleared) {
    BmpLayout s;
    s.bits = 1;
    s.width = 3;
    s.height = 1;
    s.palette = {clBlack, clWhite};
    s.pixels = {0xBF, 0xFF, 0xFF, 0xFF};  // 1 0 1, then bits beyond the width
    const TBitmap bitmap = DecodeBytes(MakeBmp(s), "BMP");
    EXPECT_EQ(bitmap.ScanLine(0)[0], 0xA0);
    EXPECT_EQ(bitmap.ScanLine(0)[1], 0);
}

TEST(BmpRows, LastRowMayLackItsPadding) {
    BmpLayout s;
    s.width = 1;
    s.height = 2;
    s.pixels = {1, 2, 3, 0, 4, 5, 6};
    const TBitmap bitmap = DecodeBytes(MakeBmp(s), "BMP");
    EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), RGBColor(6, 5, 4));
    s.pixels.pop_back();
    EXPECT_EQ(BytesError(MakeBmp(s)), "BMP: truncated pixel data");
}

// ---------------------------------------------------------------------------
// Depths, headers, colour tables and masks.

TEST(BmpFormats, IndexedPicturesKeepTheirTable) {
    const struct {
        const char* name;
        std::uint32_t header;
        int bits;
        std::vector<TColor> table;
        std::uint32_t colorsUsed;
        std::vector<std::uint8_t> pixels;  // 2 x 1
        TPixelFormat format;
        std::size_t kept;
        TColor left, right;
    } cases[] = {
        {"1 bit", 40, 1, {kFour[0], kFour[1]}, 0, {0x40, 0, 0, 0}, pf1bit, 2, kFour[0], kFour[1]},
        {"4 bits, short table", 40, 4, kFour, 4, {0x31, 0, 0, 0}, pf4bit, 4, kFour[3], kFour[1]},
        {"8 bits, two entries", 40, 8, {kFour[2], kFour[3]}, 2, {1, 0, 0, 0}, pf8bit, 2, kFour[3], kFour[2]},
        {"OS/2 core header", 12, 8, kFour, 0, {2, 3, 0, 0}, pf8bit, 4, kFour[2], kFour[3]},
        {"V4 header", 108, 4, kFour, 4, {0x23, 0, 0, 0}, pf4bit, 4, kFour[2], kFour[3]},
        {"V5 header", 124, 8, kFour, 4, {3, 0, 0, 0}, pf8bit, 4, kFour[3], kFour[0]},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BmpLayout s;
        s.headerSize = c.header;
        s.bits = c.bits;
        s.width = 2;
        s.height = 1;
        s.palette = c.table;
        s.colorsUsed = c.colorsUsed;
        s.pixels = c.pixels;
        const TBitmap bitmap = DecodeBytes(MakeBmp(s), "BMP");
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        EXPECT_EQ(bitmap.Palette().size(), c.kept);
        EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), c.left);
        EXPECT_EQ(bitmap.Canvas().Pixel(1, 0), c.right);
    }
}

TEST(BmpFormats, TableLongerThanTheDepthKeepsTheFirstEntries) {
    BmpLayout s;
    s.bits = 1;
    s.width = 2;
    s.height = 1;
    s.palette = kFour;
    s.colorsUsed = 4;
    s.pixels = {0x40, 0, 0, 0};
    const TBitmap bitmap = DecodeBytes(MakeBmp(s), "BMP");
    EXPECT_EQ(bitmap.Palette(), std::vector<TColor>({kFour[0], kFour[1]}));
    EXPECT_EQ(bitmap.Canvas().Pixel(1, 0), kFour[1]);
}

TEST(BmpFormats, TrueColourDepthsAndMasks) {
    const struct {
        const char* name;
        std::uint32_t header;
        int bits;
        std::uint32_t compression;
        std::vector<std::uint32_t> masks;
        std::vector<std::uint8_t> pixel;  // one pixel, padded to 4 bytes
        TPixelFormat format;
        std::vector<std::uint8_t> stored;  // the first bytes of our row
        TColor color;
    } cases[] = {
        // x1r5g5b5 words: red 31, green 0, blue 1.
        {"16 bits, no masks", 40, 16, 0, {}, {0x01, 0x7C, 0, 0}, pf15bit, {0x01, 0x7C}, RGBColor(255, 0, 8)},
        {"16 bits, 555 masks", 40, 16, 3, {0x7C00, 0x03E0, 0x001F}, {0x01, 0x7C, 0, 0}, pf15bit, {0x01, 0x7C},
         RGBColor(255, 0, 8)},
        {"16 bits, 565 masks", 40, 16, 3, {0xF800, 0x07E0, 0x001F}, {0x20, 0x00, 0, 0}, pf16bit, {0x20, 0x00},
         RGBColor(0, 4, 0)},
        {"16 bits, 565 in a V5 header", 124, 16, 3, {0xF800, 0x07E0, 0x001F}, {0x00, 0xF8, 0, 0}, pf16bit,
         {0x00, 0xF8}, RGBColor(255, 0, 0)},
        // 4-4-4 fields: 0xF -> 255, 0x8 -> 8 * 255 / 15 = 136, 0x1 -> 17.
        {"16 bits, 444 masks", 40, 16, 3, {0x0F00, 0x00F0, 0x000F}, {0x81, 0x0F, 0, 0}, pf24bit, {17, 136, 255},
         RGBColor(255, 136, 17)},
        {"24 bits", 40, 24, 0, {}, {1, 2, 3, 0}, pf24bit, {1, 2, 3}, RGBColor(3, 2, 1)},
        {"32 bits, the fourth byte as stored", 40, 32, 0, {}, {1, 2, 3, 0x7F}, pf32bit, {1, 2, 3, 0x7F},
         RGBColor(3, 2, 1)},
        {"32 bits, default masks", 40, 32, 3, {0xFF0000, 0xFF00, 0xFF}, {1, 2, 3, 4}, pf32bit, {1, 2, 3, 4},
         RGBColor(3, 2, 1)},
        {"32 bits, R G B X masks", 40, 32, 3, {0xFF000000, 0xFF0000, 0xFF00}, {9, 1, 2, 3}, pf24bit, {1, 2, 3},
         RGBColor(3, 2, 1)},
        {"32 bits, alpha bit fields", 40, 32, 6, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, {1, 2, 3, 4}, pf24bit,
         {3, 2, 1}, RGBColor(1, 2, 3)},
        // 10-bit fields round to 8 bits: 1023 -> 255, 512 -> 128, 2 -> 0.
        {"32 bits, 10-10-10", 56, 32, 3, {0x3FF00000, 0xFFC00, 0x3FF, 0}, {0x02, 0x00, 0xF8, 0x3F}, pf24bit,
         {0, 128, 255}, RGBColor(255, 128, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BmpLayout s;
        s.headerSize = c.header;
        s.bits = c.bits;
        s.compression = c.compression;
        s.masks = c.masks;
        s.width = 1;
        s.height = 1;
        s.pixels = c.pixel;
        const TBitmap bitmap = DecodeBytes(MakeBmp(s), "BMP");
        EXPECT_EQ(bitmap.PixelFormat(), c.format);
        EXPECT_FALSE(bitmap.HasAlpha());
        EXPECT_EQ(std::vector<std::uint8_t>(bitmap.ScanLine(0), bitmap.ScanLine(0) + c.stored.size()), c.stored);
        EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), c.color);
    }
}

TEST(BmpFormats, RefusedFiles) {
    BmpLayout good;
    good.bits = 8;
    good.width = 2;
    good.height = 1;
    good.palette = kFour;
    good.colorsUsed = 4;
    good.pixels = {0, 1, 0, 0};
    ASSERT_EQ(BytesError(MakeBmp(good)), "(decoded)");

    using Spoiler = void (*)(BmpLayout&);
    using Bytes = void (*)(std::vector<std::uint8_t>&);
    const struct {
        const char* name;
        Spoiler spoil;  // spoils the description, or null
        Bytes bytes;  // spoils the written file, or null
        const char* error;
    } cases[] = {
        {"no BM", nullptr, [](auto& b) { b[1] = 'A'; }, "BMP: not a bitmap file"},
        {"two planes", [](BmpLayout& s) { s.planes = 2; }, nullptr, "BMP: plane count must be 1"},
        {"no planes", [](BmpLayout& s) { s.planes = 0; }, nullptr, "BMP: plane count must be 1"},
        {"compression 7", [](BmpLayout& s) { s.compression = 7; }, nullptr, "BMP: unsupported compression 7"},
        {"JPEG inside", [](BmpLayout& s) { s.compression = 4; }, nullptr, "BMP: unsupported compression 4"},
        {"PNG inside", [](BmpLayout& s) { s.compression = 5; }, nullptr, "BMP: unsupported compression 5"},
        {"2 bits", [](BmpLayout& s) { s.bits = 2; }, nullptr, "BMP: unsupported bit count 2"},
        {"0 bits", [](BmpLayout& s) { s.bits = 0; }, nullptr, "BMP: unsupported bit count 0"},
        {"RLE8 at 4 bits", [](BmpLayout& s) { s.bits = 4, s.compression = 1; }, nullptr,
         "BMP: RLE8 compression needs 8 bits per pixel"},
        {"RLE4 at 8 bits", [](BmpLayout& s) { s.compression = 2; }, nullptr,
         "BMP: RLE4 compression needs 4 bits per pixel"},
        {"bit fields at 8 bits", [](BmpLayout& s) { s.compression = 3; }, nullptr,
         "BMP: bit fields need 16 or 32 bits per pixel"},
        {"overlapping masks", [](BmpLayout& s) { s.bits = 16, s.compression = 3, s.masks = {0xF800, 0x0FE0, 0x1F}; },
         nullptr, "BMP: invalid bit field masks"},
        {"split mask", [](BmpLayout& s) { s.bits = 16, s.compression = 3, s.masks = {0xF000, 0x0505, 0}; }, nullptr,
         "BMP: invalid bit field masks"},
        {"mask beyond 16 bits", [](BmpLayout& s) { s.bits = 16, s.compression = 3, s.masks = {0x10000, 0xF0, 0xF}; },
         nullptr, "BMP: invalid bit field masks"},
        {"truncated masks", [](BmpLayout& s) { s.bits = 16, s.compression = 3, s.palette.clear(); },
         [](auto& b) { b.resize(14 + 40 + 6); }, "BMP: truncated bit field masks"},
        {"header size 200", nullptr, [](auto& b) { b[14] = 200; }, "BMP: unsupported header size 200"},
        {"truncated header", nullptr, [](auto& b) { b.resize(30); }, "BMP: truncated header"},
        {"truncated palette", nullptr, [](auto& b) { b.resize(14 + 40 + 6); }, "BMP: truncated palette"},
        {"truncated pixels", nullptr, [](auto& b) { b.resize(b.size() - 3); }, "BMP: truncated pixel data"},
        {"offset beyond the end", nullptr, [](auto& b) { b[11] = 0x40; }, "BMP: pixel data offset outside the file"},
        {"offset inside the header", nullptr, [](auto& b) { b[10] = 20; }, "BMP: pixel data offset inside the header"},
        {"no room for the colour table", [](BmpLayout& s) { s.palette.clear(), s.colorsUsed = 0; }, nullptr,
         "BMP: the colour table is missing"},
        {"zero width", [](BmpLayout& s) { s.width = 0; }, nullptr, "The picture has no pixels (0 x 1)"},
        {"top-down RLE", [](BmpLayout& s) { s.height = -1, s.compression = 1; }, nullptr,
         "BMP: a compressed bitmap cannot be top-down"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BmpLayout s = good;
        if (c.spoil) c.spoil(s);
        std::vector<std::uint8_t> bytes = MakeBmp(s);
        if (c.bytes) c.bytes(bytes);
        EXPECT_EQ(BytesError(bytes), c.error);
    }
}

// ---------------------------------------------------------------------------
// RLE.

BmpLayout Rle(int bits, int width, int height, std::vector<std::uint8_t> stream) {
    BmpLayout s;
    s.bits = bits;
    s.compression = bits == 8 ? 1 : 2;
    s.width = width;
    s.height = height;
    s.palette = kFour;
    s.colorsUsed = 4;
    s.pixels = std::move(stream);
    return s;
}

// Rows of colour letters, top row first: a b c d for palette 0..3.
std::vector<std::string> Letters(const TBitmap& bitmap) {
    std::vector<std::string> rows;
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::string row;
        for (int x = 0; x < bitmap.Width(); ++x) {
            const auto at = std::find(kFour.begin(), kFour.end(), bitmap.Canvas().Pixel(x, y));
            row += at == kFour.end() ? '?' : char('a' + (at - kFour.begin()));
        }
        rows.push_back(row);
    }
    return rows;
}

TEST(BmpRle, DecodesRunsAbsoluteRunsAndSkips) {
    const struct {
        const char* name;
        int bits, width, height;
        std::vector<std::uint8_t> stream;
        std::vector<std::string> rows;  // top row first
    } cases[] = {
        {"RLE8 runs, end of line, end of bitmap", 8, 4, 2, {2, 1, 2, 2, 0, 0, 1, 3, 0, 1}, {"daaa", "bbcc"}},
        {"RLE8 absolute run with its pad byte", 8, 4, 1, {0, 3, 1, 2, 3, 0, 1, 1, 0, 1}, {"bcdb"}},
        {"RLE8 delta right and up", 8, 4, 3, {1, 1, 0, 2, 2, 1, 1, 3, 0, 1}, {"aaaa", "aaad", "baaa"}},
        {"RLE8 run past the right edge is clipped", 8, 2, 2, {5, 3, 0, 0, 1, 2, 0, 1}, {"ca", "dd"}},
        {"RLE4 alternating run", 4, 5, 1, {5, 0x12, 0, 1}, {"bcbcb"}},
        {"RLE4 odd absolute run", 4, 3, 1, {0, 3, 0x31, 0x20, 0, 1}, {"dbc"}},
        {"end of data after the last row", 8, 2, 1, {2, 3, 0, 0}, {"dd"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const BmpLayout s = Rle(c.bits, c.width, c.height, c.stream);
        TRecordingSink sink;
        const auto bytes = MakeBmp(s);
        DecodeMemory(bytes.data(), bytes.size(), Format("BMP"), sink);
        std::vector<int> bottomUp;
        for (int y = c.height - 1; y >= 0; --y) bottomUp.push_back(y);
        EXPECT_EQ(sink.order, bottomUp);
        EXPECT_EQ(sink.info.Format, pf24bit);

        const TBitmap bitmap = DecodeBytes(bytes, "BMP");
        EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
        EXPECT_EQ(Letters(bitmap), c.rows);
    }
}

TEST(BmpRle, RefusedStreams) {
    const struct {
        const char* name;
        std::vector<std::uint8_t> stream;
        const char* error;
    } cases[] = {
        {"ends inside a run", {2}, "BMP: truncated RLE data"},
        {"ends before the last row", {2, 1, 0, 0}, "BMP: truncated RLE data"},
        {"ends inside an absolute run", {0, 4, 1, 2}, "BMP: truncated RLE data"},
        {"pixels past the top row", {2, 1, 0, 0, 2, 1, 0, 0, 1, 1}, "BMP: RLE data runs past the top row"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = MakeBmp(Rle(8, 2, 2, c.stream));
        EXPECT_EQ(BytesError(bytes), c.error);
        // Refused before the sink hears of the picture.
        TRecordingSink sink;
        EXPECT_THROW(DecodeMemory(bytes.data(), bytes.size(), Format("BMP"), sink), EInvalidImage);
        EXPECT_FALSE(sink.begun);
    }
}

}  // namespace
