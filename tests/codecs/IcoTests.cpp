// The icon reader: which image of a file is taken, how its colours, mask and
// opacity become a 32-bit premultiplied picture (or a straight one for a sink
// that asks), PNG entries, refused files, and the real icons of image-rs
// compared with Pillow.

#include "CodecTestSupport.h"

#include "Exception.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <optional>

namespace fs = std::filesystem;
using namespace codectest;

namespace {

std::uint32_t Get32(const std::vector<std::uint8_t>& v, std::size_t at) {
    return std::uint32_t(v[at]) | (std::uint32_t(v[at + 1]) << 8) | (std::uint32_t(v[at + 2]) << 16) |
           (std::uint32_t(v[at + 3]) << 24);
}

// A headerless bitmap as icons store it: a 40-byte header whose height is
// `headerHeight` (twice the image's by default), the colour table, the
// colour rows and the mask rows, both bottom-up and given here padded.
std::vector<std::uint8_t> MakeDib(int width, int height, int bits, const std::vector<TColor>& palette,
                                  const std::vector<std::uint8_t>& colorRows, const std::vector<std::uint8_t>& maskRows,
                                  std::optional<int> headerHeight = {}, std::uint32_t compression = 0) {
    std::vector<std::uint8_t> v;
    Put32(v, 40);
    Put32(v, std::uint32_t(width));
    Put32(v, std::uint32_t(headerHeight ? *headerHeight : 2 * height));
    Put16(v, 1);
    Put16(v, unsigned(bits));
    Put32(v, compression);
    Put32(v, std::uint32_t(colorRows.size() + maskRows.size()));
    Put32(v, 0);
    Put32(v, 0);
    Put32(v, std::uint32_t(palette.size()));
    Put32(v, 0);
    for (TColor c : palette) {
        v.push_back(GetBValue(c));
        v.push_back(GetGValue(c));
        v.push_back(GetRValue(c));
        v.push_back(0);
    }
    v.insert(v.end(), colorRows.begin(), colorRows.end());
    v.insert(v.end(), maskRows.begin(), maskRows.end());
    return v;
}

// A 24-bit image of one colour with an empty mask.
std::vector<std::uint8_t> SolidDib(int width, int height, TColor color) {
    const std::size_t stride = RowStride(width, 24), maskStride = RowStride(width, 1);
    std::vector<std::uint8_t> rows(stride * std::size_t(height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = rows.data() + std::size_t(y) * stride + 3 * std::size_t(x);
            p[0] = GetBValue(color);
            p[1] = GetGValue(color);
            p[2] = GetRValue(color);
        }
    return MakeDib(width, height, 24, {}, rows, std::vector<std::uint8_t>(maskStride * std::size_t(height), 0));
}

struct Entry {
    int width, height;         // 256 is written as 0
    std::uint16_t colors = 0;  // the colour-count byte and the reserved byte
    std::vector<std::uint8_t> data;
};

std::vector<std::uint8_t> MakeIco(const std::vector<Entry>& entries, unsigned type = 1) {
    std::vector<std::uint8_t> v;
    Put16(v, 0);
    Put16(v, type);
    Put16(v, unsigned(entries.size()));
    std::uint32_t offset = 6 + 16 * std::uint32_t(entries.size());
    for (const Entry& e : entries) {
        v.push_back(std::uint8_t(e.width & 255));
        v.push_back(std::uint8_t(e.height & 255));
        Put16(v, e.colors);
        Put16(v, 1);
        Put16(v, 32);
        Put32(v, std::uint32_t(e.data.size()));
        Put32(v, offset);
        offset += std::uint32_t(e.data.size());
    }
    for (const Entry& e : entries) v.insert(v.end(), e.data.begin(), e.data.end());
    return v;
}

std::string BytesError(const std::vector<std::uint8_t>& bytes) {
    try {
        DecodeBytes(bytes, "ICO");
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(decoded)";
}

// Our rounding of a straight channel to a premultiplied one.
std::uint8_t Premultiplied(std::uint8_t c, std::uint8_t a) { return std::uint8_t((unsigned(c) * a + 127) / 255); }

// The raw B, G, R, A bytes of a pixel.
std::array<std::uint8_t, 4> Raw(const TBitmap& bitmap, int x, int y) {
    const std::uint8_t* p = bitmap.ScanLine(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

// ---------------------------------------------------------------------------
// Which image is taken.

TEST(IcoChoice, FollowsTheStandardSizeAndColourRule) {
    struct Size {
        int w, h;
        std::uint16_t colors = 0;
    };
    const struct {
        const char* name;
        std::vector<Size> sizes;
        std::size_t chosen;
    } cases[] = {
        {"16, 32, 48: the standard size", {{16, 16}, {32, 32}, {48, 48}}, 1},
        {"16, 32, 48, 256: not the largest", {{16, 16}, {32, 32}, {48, 48}, {256, 256}}, 1},
        {"largest first", {{256, 256}, {48, 48}, {32, 32}, {16, 16}}, 2},
        {"equal entries: the later wins", {{32, 32}, {32, 32}}, 1},
        {"256 then 48", {{256, 256}, {48, 48}}, 1},
        {"16 then 256", {{16, 16}, {256, 256}}, 0},
        {"24 then 40: equally far, the smaller stays", {{24, 24}, {40, 40}}, 0},
        {"40 then 24: the smaller replaces", {{40, 40}, {24, 24}}, 1},
        {"each side on its own: height farther", {{32, 32}, {32, 48}}, 0},
        {"each side on its own: width nearer", {{48, 48}, {32, 48}}, 1},
        {"unlimited colours after 16", {{32, 32, 16}, {32, 32, 0}}, 1},
        {"16 colours after unlimited", {{32, 32, 0}, {32, 32, 16}}, 0},
        {"fewer colours", {{32, 32, 16}, {32, 32, 2}}, 0},
        {"more colours but farther", {{32, 32, 16}, {16, 16, 0}}, 0},
        {"the reserved byte counts: 256 colours after 16", {{32, 32, 16}, {32, 32, 0x100}}, 1},
        {"the reserved byte counts: 16 after 256", {{32, 32, 0x100}, {32, 32, 16}}, 0},
        {"unlimited after 256", {{32, 32, 0x100}, {32, 32, 0}}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Entry> entries;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            const Size& s = c.sizes[i];
            entries.push_back({s.w, s.h, s.colors, SolidDib(s.w, s.h, RGBColor(std::uint8_t(10 * i + 5), 0, 0))});
        }
        const TBitmap bitmap = DecodeBytes(MakeIco(entries), "ICO");
        const Size& want = c.sizes[c.chosen];
        EXPECT_EQ(bitmap.Width(), want.w);
        EXPECT_EQ(bitmap.Height(), want.h);
        EXPECT_EQ(bitmap.Canvas().Pixel(0, 0), RGBColor(std::uint8_t(10 * c.chosen + 5), 0, 0));
    }
}

// ---------------------------------------------------------------------------
// Pixels: the mask, the opacity, the depths.

TEST(IcoPixels, ImagesWithoutOpacityUseTheMask) {
    const std::vector<TColor> palette = {RGBColor(1, 2, 3), RGBColor(250, 0, 0), RGBColor(0, 250, 0),
                                         RGBColor(0, 0, 250)};
    // 2 x 2 images. Stored rows bottom-up; the mask makes the top-left pixel
    // transparent (mask rows: bottom row 00, top row 80).
    const std::vector<std::uint8_t> mask = {0x00, 0, 0, 0, 0x80, 0, 0, 0};
    const struct {
        const char* name;
        int bits;
        std::vector<TColor> palette;
        std::vector<std::uint8_t> rows;
        TColor topRight, bottomLeft, bottomRight;
    } cases[] = {
        {"1 bit", 1, {palette[0], palette[1]}, {0x40, 0, 0, 0, 0xC0, 0, 0, 0}, palette[1], palette[0], palette[1]},
        {"4 bits", 4, palette, {0x23, 0, 0, 0, 0x11, 0, 0, 0}, palette[1], palette[2], palette[3]},
        {"8 bits", 8, palette, {3, 2, 0, 0, 1, 1, 0, 0}, palette[1], palette[3], palette[2]},
        {"24 bits", 24, {}, {3, 2, 1, 6, 5, 4, 0, 0, 9, 9, 9, 0, 0, 250, 0, 0}, palette[1], RGBColor(1, 2, 3),
         RGBColor(4, 5, 6)},
        // 32 bits whose alpha bytes are all 0: no opacity of its own.
        {"32 bits, all alpha 0", 32, {}, {3, 2, 1, 0, 6, 5, 4, 0, 9, 9, 9, 0, 0, 0, 250, 0}, palette[1],
         RGBColor(1, 2, 3), RGBColor(4, 5, 6)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto ico = MakeIco({{2, 2, 0, MakeDib(2, 2, c.bits, c.palette, c.rows, mask)}});
        TRecordingSink sink;
        DecodeMemory(ico.data(), ico.size(), Format("ICO"), sink);
        EXPECT_EQ(sink.order, std::vector<int>({1, 0}));

        const TBitmap bitmap = DecodeBytes(ico, "ICO");
        ASSERT_EQ(bitmap.PixelFormat(), pf32bit);
        EXPECT_TRUE(bitmap.HasAlpha());
        EXPECT_EQ(Raw(bitmap, 0, 0), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
        const std::pair<std::pair<int, int>, TColor> opaque[] = {
            {{1, 0}, c.topRight}, {{0, 1}, c.bottomLeft}, {{1, 1}, c.bottomRight}};
        for (const auto& [at, color] : opaque) {
            EXPECT_EQ(Raw(bitmap, at.first, at.second),
                      (std::array<std::uint8_t, 4>{GetBValue(color), GetGValue(color), GetRValue(color), 255}))
                << at.first << "," << at.second;
        }
    }
}

TEST(IcoPixels, ImagesWithOpacityArePremultipliedAndIgnoreTheMask) {
    // One row of four pixels, B, G, R, A; the mask marks all of them.
    const std::vector<std::uint8_t> row = {200, 100, 50, 128, 1, 255, 254, 128, 9, 9, 9, 0, 10, 20, 30, 255};
    const std::vector<std::uint8_t> mask = {0xF0, 0, 0, 0};
    const TBitmap bitmap = DecodeBytes(MakeIco({{4, 1, 0, MakeDib(4, 1, 32, {}, row, mask)}}), "ICO");
    ASSERT_TRUE(bitmap.HasAlpha());
    // (c * a + 127) / 255: 200 -> 100, 1 -> 1 (rounded, not cut), 254 -> 127.
    EXPECT_EQ(Raw(bitmap, 0, 0), (std::array<std::uint8_t, 4>{100, 50, 25, 128}));
    EXPECT_EQ(Raw(bitmap, 1, 0), (std::array<std::uint8_t, 4>{1, 128, 127, 128}));
    EXPECT_EQ(Raw(bitmap, 2, 0), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(Raw(bitmap, 3, 0), (std::array<std::uint8_t, 4>{10, 20, 30, 255}));
}

TEST(IcoPixels, HeaderHeightNotDoubledIsAccepted) {
    const auto dib = MakeDib(1, 1, 24, {}, {1, 2, 3, 0}, {0, 0, 0, 0}, 1);
    const TBitmap bitmap = DecodeBytes(MakeIco({{1, 1, 0, dib}}), "ICO");
    EXPECT_EQ(Raw(bitmap, 0, 0), (std::array<std::uint8_t, 4>{1, 2, 3, 255}));
}

TEST(IcoPixels, OpacityMakesAShortMaskHarmless) {
    // The mask is not needed when the image has its own opacity, so a mask
    // cut short is no fault; without opacity it is.
    auto withAlpha = MakeDib(1, 1, 32, {}, {1, 2, 3, 255}, {0, 0, 0, 0});
    withAlpha.resize(withAlpha.size() - 2);
    EXPECT_EQ(BytesError(MakeIco({{1, 1, 0, withAlpha}})), "(decoded)");
    auto without = MakeDib(1, 1, 32, {}, {1, 2, 3, 0}, {0, 0, 0, 0});
    without.resize(without.size() - 2);
    EXPECT_EQ(BytesError(MakeIco({{1, 1, 0, without}})), "ICO: truncated mask");
}

// ---------------------------------------------------------------------------
// Straight alpha for a sink that asks for it.

TEST(IcoStraight, StoredColoursWithTheEntrysOwnOpacity) {
    const std::vector<TColor> palette = {RGBColor(1, 2, 3), RGBColor(250, 0, 0), RGBColor(0, 250, 0),
                                         RGBColor(0, 0, 250)};
    // 2 x 2 images, rows bottom-up; the mask marks the top-left pixel
    // (mask rows: bottom 00, top 80).
    const std::vector<std::uint8_t> mask = {0x00, 0, 0, 0, 0x80, 0, 0, 0};
    const struct {
        const char* name;
        int bits;
        std::vector<TColor> palette;
        std::vector<std::uint8_t> rows;
        std::vector<std::uint8_t> mask;
        Rgba topLeft, topRight, bottomLeft, bottomRight;
    } cases[] = {
        // Below 32 bits the mask decides; a masked pixel keeps its colour.
        {"24 bits", 24, {}, {3, 2, 1, 6, 5, 4, 0, 0, 9, 8, 7, 0, 0, 250, 0, 0}, mask, {7, 8, 9, 0}, {250, 0, 0, 255},
         {1, 2, 3, 255}, {4, 5, 6, 255}},
        {"8 bits", 8, palette, {3, 2, 0, 0, 1, 1, 0, 0}, mask, {250, 0, 0, 0}, {250, 0, 0, 255}, {0, 0, 250, 255},
         {0, 250, 0, 255}},
        // Every alpha byte 0: an older writer's "no alpha", so the mask
        // decides here too. (Pillow takes the alpha bytes and shows the whole
        // image transparent; Windows and browsers use the mask.)
        {"32 bits, all alpha 0", 32, {}, {3, 2, 1, 0, 6, 5, 4, 0, 9, 8, 7, 0, 0, 0, 250, 0}, mask, {7, 8, 9, 0},
         {250, 0, 0, 255}, {1, 2, 3, 255}, {4, 5, 6, 255}},
        // Its own alpha: stored exactly, not premultiplied, the mask (set
        // everywhere) ignored.
        {"32 bits with alpha", 32, {}, {200, 100, 50, 128, 1, 255, 254, 255, 9, 8, 7, 0, 10, 20, 30, 1},
         {0xC0, 0, 0, 0, 0xC0, 0, 0, 0}, {7, 8, 9, 0}, {30, 20, 10, 1}, {50, 100, 200, 128}, {254, 255, 1, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto ico = MakeIco({{2, 2, 0, MakeDib(2, 2, c.bits, c.palette, c.rows, c.mask)}});
        const StraightPicture got = DecodeStraightBytes(ico, "ICO");
        ASSERT_EQ(got.info.Format, pf32bit);
        ASSERT_TRUE(got.info.HasAlpha);
        ASSERT_TRUE(got.info.StraightAlpha);
        EXPECT_EQ(got.At(0, 0), c.topLeft);
        EXPECT_EQ(got.At(1, 0), c.topRight);
        EXPECT_EQ(got.At(0, 1), c.bottomLeft);
        EXPECT_EQ(got.At(1, 1), c.bottomRight);
    }
}

// A PNG entry gives what the PNG decoder gives such a sink (tRNS colours
// applied), widened to 32 bits with alpha 255 when the PNG has no opacity.
TEST(IcoStraight, PngEntriesFollowThePngRule) {
    for (const char* name : {"basn6a08.png", "basn4a16.png", "basn2c08.png", "basn3p04.png", "ftbbn3p08.png",
                             "ftbrn2c08.png", "ftbbn0g04.png"}) {
        SCOPED_TRACE(name);
        const fs::path png = CorpusDir() / "pngsuite" / name;
        const StraightPicture want = DecodeStraight(png, "PNG");
        const StraightPicture got = DecodeStraightBytes(MakeIco({{16, 16, 0, ReadBytes(png)}}), "ICO");
        ASSERT_EQ(got.info.Format, pf32bit);
        ASSERT_TRUE(got.info.StraightAlpha);
        ASSERT_EQ(got.bitmap.Width(), want.bitmap.Width());
        ASSERT_EQ(got.bitmap.Height(), want.bitmap.Height());
        int differing = 0;
        for (int y = 0; y < want.bitmap.Height(); ++y)
            for (int x = 0; x < want.bitmap.Width(); ++x) differing += got.At(x, y) != want.At(x, y);
        EXPECT_EQ(differing, 0);
    }
}

// ---------------------------------------------------------------------------
// Refused files.

TEST(IcoErrors, RefusedWithAReason) {
    const auto one = [] { return MakeIco({{2, 2, 0, SolidDib(2, 2, clWhite)}}); };
    ASSERT_EQ(BytesError(one()), "(decoded)");
    using Spoil = void (*)(std::vector<std::uint8_t>&);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        Spoil spoil;
        const char* error;
    } cases[] = {
        {"cursor", MakeIco({{2, 2, 0, SolidDib(2, 2, clWhite)}}, 2), nullptr, "ICO: not an icon file (cursor)"},
        {"type 3", MakeIco({{2, 2, 0, SolidDib(2, 2, clWhite)}}, 3), nullptr, "ICO: not an icon file"},
        {"reserved not 0", one(), [](auto& b) { b[0] = 1; }, "ICO: not an icon file"},
        {"short header", {0, 0, 1}, nullptr, "ICO: not an icon file"},
        {"no images", MakeIco({}), nullptr, "ICO: the icon holds no images"},
        {"directory cut short", one(), [](auto& b) { b[4] = 200; }, "ICO: truncated directory"},
        {"entry beyond the end", one(), [](auto& b) { b[14] += 1; }, "ICO: image 1 lies outside the file"},
        {"offset plus size wraps", one(), [](auto& b) { b[18] = b[19] = b[20] = b[21] = 0xFF; },
         "ICO: image 1 lies outside the file"},
        {"a second entry beyond the end",
         MakeIco({{2, 2, 0, SolidDib(2, 2, clWhite)}, {2, 2, 0, SolidDib(2, 2, clWhite)}}),
         [](auto& b) { b.resize(b.size() - 1); }, "ICO: image 2 lies outside the file"},
        {"header width disagrees", one(), [](auto& b) { b[6] = 3; },
         "ICO: the image header's size 2 x 4 disagrees with the directory's 3 x 2"},
        {"header height disagrees", MakeIco({{2, 2, 0, MakeDib(2, 2, 24, {}, std::vector<std::uint8_t>(16), std::vector<std::uint8_t>(8), 3)}}),
         nullptr, "ICO: the image header's size 2 x 3 disagrees with the directory's 2 x 2"},
        {"colour rows cut short", one(), [](auto& b) { b[14] = 40 + 8; }, "ICO: truncated image data"},
        {"mask cut short", one(), [](auto& b) { b[14] -= 1; }, "ICO: truncated mask"},
        {"plane count", one(), [](auto& b) { b[22 + 12] = 2; }, "ICO: plane count must be 1"},
        {"RLE", MakeIco({{2, 2, 0, MakeDib(2, 2, 8, {clWhite}, {2, 0, 0, 1}, {}, {}, 1)}}), nullptr,
         "ICO: unsupported compression 1"},
        {"bit count", one(), [](auto& b) { b[22 + 14] = 2; }, "ICO: unsupported bit count 2"},
        {"empty", {}, nullptr, "ICO: the file is empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes = c.bytes;
        if (c.spoil) c.spoil(bytes);
        EXPECT_EQ(BytesError(bytes), c.error);
    }
}

// ---------------------------------------------------------------------------
// PNG entries, and the real icons of image-rs, against Pillow.

// Pillow's straight RGBA turned into our premultiplied pixels.
void ExpectMatchesPillow(const TBitmap& ours, const ReferenceImage& ref) {
    ASSERT_EQ(ours.Width(), ref.width);
    ASSERT_EQ(ours.Height(), ref.height);
    ASSERT_EQ(ours.PixelFormat(), pf32bit);
    ASSERT_TRUE(ours.HasAlpha());
    int mismatches = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const Rgba p = ref.At(x, y);
            const std::array<std::uint8_t, 4> want = {Premultiplied(p.b, p.a), Premultiplied(p.g, p.a),
                                                      Premultiplied(p.r, p.a), p.a};
            if (Raw(ours, x, y) != want && mismatches++ < 3) ADD_FAILURE() << "pixel " << x << "," << y;
        }
    EXPECT_EQ(mismatches, 0);
}

TEST(IcoPng, EntriesAreDecodedAtThePngsOwnSize) {
    // The directory says 16 x 16; the PNGs are 32 x 32.
    for (const char* name : {"basn6a08.png", "basn2c08.png", "basn0g08.png", "basn3p04.png", "basn4a08.png"}) {
        SCOPED_TRACE(name);
        const fs::path png = CorpusDir() / "pngsuite" / name;
        const auto ico = MakeIco({{16, 16, 0, ReadBytes(png)}});
        TBitmap bitmap;
        ASSERT_NO_THROW(bitmap = DecodeBytes(ico, "ICO"));
        ExpectMatchesPillow(bitmap, ReadWithPillow(png));
    }
}

struct IcoCase {
    const char* file;
    int chosen;  // the directory entry we take
    int width, height;
    const char* error;
    // Pillow's colours but every pixel opaque: the file has no mask where
    // Pillow looks for one.
    bool opaque = false;
};

// Every icon of the corpora with the entry we take and the outcome.
const IcoCase kIcons[] = {
    {"image-rs/ico/bmp-24bpp-mask.ico", 0, 32, 32, nullptr},
    {"image-rs/ico/bmp-32bpp-alpha.ico", 0, 32, 32, nullptr},
    // The mask and the alpha disagree: the alpha rules.
    {"image-rs/ico/bmp-32bpp-conflicting-and-mask.ico", 0, 16, 16, nullptr},
    // The colour profile sits where the mask belongs: there is no mask and
    // every pixel is opaque. (Pillow reads the mask from the last bytes of
    // the entry, which are the profile's, and gets random holes.)
    {"image-rs/ico/bmp_v5_with_icc.ico", 0, 127, 64, nullptr, true},
    // A PNG entry with a bit count of 500 and a 0 x 0 (256) directory size.
    {"image-rs/ico/lenient-bpp.ico", 0, 256, 256, nullptr},
    // 32 x 32 at 4 bits (16 colours), then 8 bits, then 32 bits: the last of
    // the 32 x 32 images with unlimited colours.
    {"image-rs/ico/multiple_entries_with_different_bit_depth.ico", 6, 32, 32, nullptr},
    {"image-rs/ico/png-32bpp-alpha.ico", 0, 32, 32, nullptr},
    {"image-rs/ico/png_l8.ico", 0, 32, 32, nullptr},
    {"image-rs/ico/png_rgb8.ico", 0, 32, 32, nullptr},
    {"image-rs/ico/smile.ico", 0, 32, 32, nullptr},
    // 256 bytes of the mask are missing; the image has its own opacity.
    {"image-rs/ico/truncated_mask_32bpp.ico", 0, 64, 64, nullptr},
    // Two equal 48 x 48 entries: the later one (Pillow would take the first).
    {"image-rs/ico/two-entry-order-test.ico", 1, 48, 48, nullptr},
    // The entry claims 372 bytes; its 4-bit image needs 744.
    {"image-rs/bad/Bad_smile-incorrect-image-length.ico", 0, 0, 0, "ICO: truncated image data"},
};

// A file holding only entry `index` of `ico`, for Pillow, which would choose
// differently among several.
std::vector<std::uint8_t> SingleEntry(const std::vector<std::uint8_t>& ico, int index) {
    const std::size_t at = 6 + 16 * std::size_t(index);
    const std::uint32_t bytes = Get32(ico, at + 8), offset = Get32(ico, at + 12);
    std::vector<std::uint8_t> v = {0, 0, 1, 0, 1, 0};
    v.insert(v.end(), ico.begin() + long(at), ico.begin() + long(at) + 12);
    Put32(v, 22);
    v.insert(v.end(), ico.begin() + long(offset), ico.begin() + long(offset) + long(bytes));
    return v;
}

TEST(IcoCorpus, EveryFileIsInTheTable) {
    std::vector<std::string> listed;
    for (const IcoCase& c : kIcons) listed.push_back(c.file);
    ExpectEveryCorpusFileListed({"image-rs/ico", "image-rs/bad"}, ".ico", listed);
}

// The chosen entry, read for a sink that wants straight alpha, equals
// Pillow's straight RGBA of that entry exactly: stored colours everywhere,
// masked ones included.
TEST(IcoCorpus, StraightAlphaMatchesPillowExactly) {
    int compared = 0;
    for (const IcoCase& c : kIcons) {
        if (c.error) continue;
        SCOPED_TRACE(c.file);
        const fs::path path = CorpusDir() / c.file;
        StraightPicture got;
        ASSERT_NO_THROW(got = DecodeStraight(path, "ICO"));
        ASSERT_EQ(got.info.Format, pf32bit);
        ASSERT_TRUE(got.info.StraightAlpha);
        ReferenceImage ref = ReadWithPillow(WriteFixture("single.ico", SingleEntry(ReadBytes(path), c.chosen)));
        if (c.opaque)
            for (Rgba& p : ref.pixels) p.a = 255;
        ASSERT_EQ(got.bitmap.Width(), ref.width);
        ASSERT_EQ(got.bitmap.Height(), ref.height);
        EXPECT_EQ(CountDifferentPixels(got, ref.pixels), 0);
        ++compared;
    }
    std::printf("compared %d icons exactly\n", compared);
}

TEST(IcoCorpus, LoadsTheChosenEntryAsPillowReadsIt) {
    for (const IcoCase& c : kIcons) {
        SCOPED_TRACE(c.file);
        const fs::path path = CorpusDir() / c.file;
        if (c.error) {
            EXPECT_EQ(DecodeError(path, "ICO"), c.error);
            continue;
        }
        TBitmap ours;
        ASSERT_NO_THROW(ours = Decode(path, "ICO"));
        EXPECT_EQ(ours.Width(), c.width);
        EXPECT_EQ(ours.Height(), c.height);
        const fs::path single = WriteFixture("single.ico", SingleEntry(ReadBytes(path), c.chosen));
        // The entry on its own reads the same through us...
        const TBitmap alone = Decode(single, "ICO");
        ASSERT_EQ(alone.Width(), ours.Width());
        for (int y = 0; y < ours.Height(); ++y)
            ASSERT_EQ(std::memcmp(alone.ScanLine(y), ours.ScanLine(y), std::size_t(ours.Width()) * 4), 0) << "row " << y;
        // ...and as Pillow reads it.
        ReferenceImage ref = ReadWithPillow(single);
        if (c.opaque)
            for (Rgba& p : ref.pixels) p.a = 255;
        ExpectMatchesPillow(ours, ref);
    }
}

}  // namespace
