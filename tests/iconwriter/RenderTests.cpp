// What ends up in the pixels: stretching, depth reductions, the mask and the
// blackening, and the fourth byte at 32 bits.

#include "Convert_func.h"
#include "Exception.h"
#include "IconTestSupport.h"

#include <gtest/gtest.h>

#include <map>

using namespace icontest;

namespace {

ReadIcon Render(const TBitmap& source, int width, int height, TPixelFormat format, bool useTransparent = false,
                TColor transparent = clWhite) {
    return ReadIcon(RenderIconEx(source, width, height, useTransparent, transparent, format).FileBytes());
}

std::string Hex(TColor c) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", unsigned(c));
    return text;
}

// --- Stretching ------------------------------------------------------------

struct EnlargeCase {
    int srcW, srcH, dstW, dstH;
};

class Enlarge : public ::testing::TestWithParam<EnlargeCase> {};

TEST_P(Enlarge, RepeatsEachPixelAsABlock) {
    const EnlargeCase c = GetParam();
    const TBitmap source = MakeBitmap(c.srcW, c.srcH, pf24bit, PatternColour);
    const int fx = c.dstW / c.srcW, fy = c.dstH / c.srcH;
    for (TPixelFormat format : {pf24bit, pf32bit}) {
        const ReadIcon icon = Render(source, c.dstW, c.dstH, format);
        for (int y = 0; y < c.dstH; ++y)
            for (int x = 0; x < c.dstW; ++x)
                ASSERT_EQ(Hex(icon.Pixel(x, y)), Hex(PatternColour(x / fx, y / fy)))
                    << "at (" << x << ", " << y << "), " << icon.bits << " bits";
    }
}

// Integer factors, including non-square targets that do not keep the aspect.
INSTANTIATE_TEST_SUITE_P(Factors, Enlarge,
                         ::testing::Values(EnlargeCase{2, 2, 4, 4}, EnlargeCase{2, 2, 6, 4}, EnlargeCase{1, 1, 5, 3},
                                           EnlargeCase{3, 1, 3, 2}, EnlargeCase{4, 3, 32, 9}));

TEST(Shrink, KeepsOnePixelOfEachBlock) {
    // Every 2 x 2 block of the source has four colours found nowhere else.
    const TBitmap source = MakeBitmap(8, 6, pf24bit, PatternColour);
    const ReadIcon icon = Render(source, 4, 3, pf24bit);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const TColor got = icon.Pixel(x, y);
            bool found = false;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    found |= got == PatternColour(2 * x + dx, 2 * y + dy);
            EXPECT_TRUE(found) << "(" << x << ", " << y << ") = " << Hex(got);
        }
}

TEST(Shrink, OneBitReductionLetsBlackWin) {
    // One black pixel in each 2 x 2 block, at a different place each time;
    // the last block is all white and stays white.
    const TBitmap source = MakeBitmap(8, 2, pf24bit, [](int x, int y) {
        const int block = x / 2, spot = (x % 2) + 2 * y;
        return block < 3 && spot == block + 1 ? clBlack : clWhite;
    });
    const ReadIcon icon = Render(source, 4, 1, pf1bit);
    EXPECT_EQ(icon.Pixel(0, 0), clBlack);
    EXPECT_EQ(icon.Pixel(1, 0), clBlack);
    EXPECT_EQ(icon.Pixel(2, 0), clBlack);
    EXPECT_EQ(icon.Pixel(3, 0), clWhite);
    // The same source without the reduction keeps one sample per block.
    EXPECT_EQ(Render(source, 4, 1, pf24bit).Pixel(3, 0), clWhite);
}

// --- Depth reductions --------------------------------------------------------

const std::vector<TColor> kStandard16 = {
    RGBColor(0, 0, 0),       RGBColor(128, 0, 0),     RGBColor(0, 128, 0),   RGBColor(128, 128, 0),
    RGBColor(0, 0, 128),     RGBColor(128, 0, 128),   RGBColor(0, 128, 128), RGBColor(128, 128, 128),
    RGBColor(192, 192, 192), RGBColor(255, 0, 0),     RGBColor(0, 255, 0),   RGBColor(255, 255, 0),
    RGBColor(0, 0, 255),     RGBColor(255, 0, 255),   RGBColor(0, 255, 255), RGBColor(255, 255, 255)};

// A source that covers RGB space coarsely: 64 x 64 pixels, each channel
// stepping through many values.
TBitmap ColourfulSource() {
    return MakeBitmap(64, 64, pf24bit, [](int x, int y) {
        return RGBColor(std::uint8_t(x * 4 + 1), std::uint8_t(y * 4 + 2), std::uint8_t((x * 7 + y * 13) & 0xFF));
    });
}

// The channel values of a 5- or 6-bit channel widened back to 8 bits: each
// must be determined by its top `bits` bits and stay close to the original.
void ExpectChannelPrecision(const char* name, int bits, const std::vector<std::pair<int, int>>& inOut) {
    std::map<int, int> widenedByLevel;
    const int shift = 8 - bits;
    for (const auto& [in, out] : inOut) {
        EXPECT_LE(std::abs(in - out), 1 << shift) << name << " " << in << " -> " << out;
        const auto [it, fresh] = widenedByLevel.emplace(out >> shift, out);
        EXPECT_EQ(it->second, out) << name << ": two 8-bit values for one " << bits << "-bit level";
    }
    EXPECT_LE(widenedByLevel.size(), std::size_t(1) << bits) << name;
}

TEST(Reduction, EachDepthOnlyUsesItsColours) {
    const TBitmap source = ColourfulSource();
    std::vector<TColor> halftone;
    {
        TBitmap probe = MakeSolid(1, 1, clWhite);
        probe.SetPixelFormat(pf8bit);
        halftone = probe.Palette();
    }
    ASSERT_EQ(halftone.size(), 256u);

    struct {
        TPixelFormat format;
        std::vector<TColor> allowed;
    } const indexed[] = {{pf1bit, {clBlack, clWhite}}, {pf4bit, kStandard16}, {pf8bit, halftone}};
    for (const auto& c : indexed) {
        const ReadIcon icon = Render(source, 64, 64, c.format);
        EXPECT_EQ(icon.bits, 24);
        const std::set<TColor> allowed(c.allowed.begin(), c.allowed.end());
        for (TColor colour : icon.Colours())
            EXPECT_TRUE(allowed.count(colour)) << "format " << c.format << " gave " << Hex(colour);
        EXPECT_GT(icon.Colours().size(), 1u) << "format " << c.format;
    }

    for (TPixelFormat format : {pf15bit, pf16bit}) {
        const ReadIcon icon = Render(source, 64, 64, format);
        EXPECT_EQ(icon.bits, 24);
        std::vector<std::pair<int, int>> red, green, blue;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const TColor in = source.Canvas().Pixel(x, y);
                const TColor out = icon.Pixel(x, y);
                red.emplace_back(GetRValue(in), GetRValue(out));
                green.emplace_back(GetGValue(in), GetGValue(out));
                blue.emplace_back(GetBValue(in), GetBValue(out));
            }
        ExpectChannelPrecision("red", 5, red);
        ExpectChannelPrecision("green", format == pf16bit ? 6 : 5, green);
        ExpectChannelPrecision("blue", 5, blue);
    }
}

TEST(Reduction, NearestColourWins) {
    struct {
        TPixelFormat format;
        TColor in, out;
    } const cases[] = {
        {pf1bit, RGBColor(250, 240, 245), clWhite},  {pf1bit, RGBColor(10, 30, 5), clBlack},
        {pf1bit, RGBColor(200, 90, 200), clWhite},   {pf4bit, RGBColor(130, 2, 0), RGBColor(128, 0, 0)},
        {pf4bit, RGBColor(250, 5, 5), RGBColor(255, 0, 0)}, {pf4bit, RGBColor(0, 128, 128), clTeal},
        {pf4bit, RGBColor(190, 195, 190), RGBColor(192, 192, 192)},
        {pf24bit, RGBColor(1, 2, 3), RGBColor(1, 2, 3)},
    };
    for (const auto& c : cases) {
        const ReadIcon icon = Render(MakeSolid(2, 2, c.in), 2, 2, c.format);
        EXPECT_EQ(Hex(icon.Pixel(1, 1)), Hex(c.out)) << "format " << c.format << " from " << Hex(c.in);
    }
}

TEST(Reduction, IndexedSourceKeepsItsPaletteAtItsOwnDepth) {
    std::vector<TColor> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[std::size_t(i)] = RGBColor(std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t((i * 3) | 1));
    TBitmap source;
    source.SetPixelFormat(pf8bit);
    source.SetSize(16, 16);
    source.SetPalette(palette);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            source.ScanLine(y)[x] = std::uint8_t(y * 16 + x);

    const ReadIcon same = Render(source, 16, 16, pf8bit);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(Hex(same.Pixel(x, y)), Hex(palette[std::size_t(y * 16 + x)])) << x << ", " << y;

    const ReadIcon four = Render(source, 16, 16, pf4bit);
    const std::set<TColor> standard(kStandard16.begin(), kStandard16.end());
    for (TColor colour : four.Colours())
        EXPECT_TRUE(standard.count(colour)) << Hex(colour);
}

TEST(Reduction, OpacityIsBlendedOnlyAtThirtyTwoBits) {
    // Premultiplied: transparent black, half-opaque red, opaque green.
    TBitmap source;
    source.SetPixelFormat(pf32bit);
    source.SetSize(3, 1);
    const std::uint8_t pixels[] = {0, 0, 0, 0, 0, 0, 128, 128, 0, 200, 0, 255};
    std::copy(std::begin(pixels), std::end(pixels), source.ScanLine(0));
    source.SetHasAlpha(true);

    const ReadIcon blended = Render(source, 3, 1, pf32bit);
    EXPECT_EQ(blended.Pixel(0, 0), clWhite);
    EXPECT_NEAR(GetRValue(blended.Pixel(1, 0)), 255, 1);
    EXPECT_NEAR(GetGValue(blended.Pixel(1, 0)), 127, 1);
    EXPECT_EQ(blended.Pixel(2, 0), RGBColor(0, 200, 0));

    const ReadIcon flat = Render(source, 3, 1, pf24bit);
    EXPECT_EQ(flat.Pixel(0, 0), clBlack);
    EXPECT_EQ(flat.Pixel(2, 0), RGBColor(0, 200, 0));
}

TEST(Reduction, SourceMarkedTransparentShowsTheWhiteBackground) {
    TBitmap source = MakeBitmap(4, 4, pf24bit, [](int x, int y) { return (x + y) % 2 ? clTeal : RGBColor(255, 0, 0); });
    source.SetTransparentColor(RGBColor(255, 0, 0));
    source.SetTransparent(true);
    const ReadIcon icon = Render(source, 4, 4, pf24bit, true, clWhite);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const bool background = (x + y) % 2 == 0;
            EXPECT_EQ(icon.Masked(x, y), background) << x << ", " << y;
            EXPECT_EQ(icon.Pixel(x, y), background ? clBlack : clTeal) << x << ", " << y;
        }
}

// --- Mask, blackening and the fourth byte ---------------------------------

constexpr TColor kKey = RGBColor(255, 0, 255);

// Key-coloured pixels on a diagonal band and at the corners; the rest is the
// pattern, which never contains the key or black.
TBitmap KeyedSource(int width, int height) {
    return MakeBitmap(width, height, pf24bit, [=](int x, int y) {
        const bool corner = (x == 0 || x == width - 1) && (y == 0 || y == height - 1);
        return corner || (x + 2 * y) % 5 == 0 ? kKey : PatternColour(x, y);
    });
}

class MaskAndColour : public ::testing::TestWithParam<int> {};

TEST_P(MaskAndColour, MaskedPixelsAreExactlyTheBlackenedOnes) {
    const int width = GetParam(), height = 5;
    const TBitmap source = KeyedSource(width, height);
    for (TPixelFormat format : {pf24bit, pf32bit}) {
        const ReadIcon icon = Render(source, width, height, format, true, kKey);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const TColor original = source.Canvas().Pixel(x, y);
                const bool key = original == kKey;
                ASSERT_EQ(icon.Masked(x, y), key) << x << ", " << y << " at " << icon.bits;
                ASSERT_EQ(Hex(icon.Pixel(x, y)), Hex(key ? clBlack : original)) << x << ", " << y;
                if (icon.bits == 32) {
                    ASSERT_EQ(icon.Alpha(x, y), key ? 0 : 255) << x << ", " << y;
                }
            }
        // Row padding of the mask stays zero.
        for (int y = 0; y < height; ++y)
            for (int x = width; x < int(icon.maskStride * 8); ++x)
                ASSERT_FALSE(icon.Masked(x, y)) << "padding bit " << x << " of row " << y;
    }
}

// Widths across byte and 32-bit word boundaries of the mask rows.
INSTANTIATE_TEST_SUITE_P(Widths, MaskAndColour, ::testing::Values(1, 7, 8, 9, 15, 31, 32, 33, 63, 65));

TEST(Transparency, OffGivesAZeroMaskAndTheSameFileForAnyColour) {
    const TBitmap source = KeyedSource(9, 6);
    for (TPixelFormat format : {pf4bit, pf24bit, pf32bit}) {
        const Bytes reference = RenderIconEx(source, 9, 6, false, kKey, format).FileBytes();
        const ReadIcon icon(reference);
        EXPECT_EQ(icon.MaskBytes(), Bytes(icon.MaskBytes().size(), 0));
        if (format != pf4bit) {
            EXPECT_EQ(icon.Pixel(0, 0), kKey) << "the key colour is kept";
        }
        if (format == pf32bit) {
            for (int x = 0; x < 9; ++x)
                EXPECT_EQ(icon.Alpha(x, 0), 255);
        }
        for (TColor other : {clBlack, clWhite, 0x01FF00FFu, PatternColour(1, 1)})
            EXPECT_EQ(RenderIconEx(source, 9, 6, false, other, format).FileBytes(), reference)
                << "format " << format << " colour " << Hex(other);
    }
}

TEST(Transparency, AbsentOrNonPlainColourMasksNothing) {
    const TBitmap source = KeyedSource(9, 6);
    const Bytes opaque = RenderIconEx(source, 9, 6, false, clWhite, pf24bit).FileBytes();
    // An absent colour, and the key with a high byte set (never a pixel's value).
    for (TColor colour : {RGBColor(1, 2, 3), kKey | 0x02000000u})
        EXPECT_EQ(RenderIconEx(source, 9, 6, true, colour, pf24bit).FileBytes(), opaque) << Hex(colour);
}

TEST(Transparency, BlackAsKeyIsMaskedAndStaysBlack) {
    const TBitmap source = MakeBitmap(8, 2, pf24bit, [](int x, int) { return x % 3 ? clTeal : clBlack; });
    const ReadIcon icon = Render(source, 8, 2, pf32bit, true, clBlack);
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(icon.Masked(x, 1), x % 3 == 0) << x;
        EXPECT_EQ(icon.Pixel(x, 1), x % 3 ? clTeal : clBlack) << x;
        EXPECT_EQ(icon.Alpha(x, 1), x % 3 ? 255 : 0) << x;
    }
}

TEST(Depths, TwentyFourAndThirtyTwoBitsDifferOnlyWhereExpected) {
    const TBitmap source = KeyedSource(13, 4);
    const ReadIcon a(RenderIconEx(source, 13, 4, true, kKey, pf24bit).FileBytes());
    const ReadIcon b(RenderIconEx(source, 13, 4, true, kKey, pf32bit).FileBytes());
    EXPECT_EQ(a.file.size(), 62u + 40 * 4 + 16);
    EXPECT_EQ(b.file.size(), 62u + 52 * 4 + 16);
    // Headers: equal but for the bit counts and the sizes.
    for (std::size_t at = 0; at < 62; ++at) {
        const bool differs = (at >= 12 && at < 18) || (at >= 36 && at < 38) || (at >= 42 && at < 46);
        if (!differs) {
            EXPECT_EQ(a.file[at], b.file[at]) << "header byte " << at;
        }
    }
    EXPECT_EQ(U16(a.file, 12), 24u);
    EXPECT_EQ(U16(b.file, 12), 32u);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 13; ++x)
            EXPECT_EQ(a.Pixel(x, y), b.Pixel(x, y)) << x << ", " << y;
    EXPECT_EQ(a.MaskBytes(), b.MaskBytes());
}

TEST(Rendering, EmptySourceGivesAWhiteIcon) {
    const TBitmap empty;
    for (TPixelFormat format : {pf1bit, pf8bit, pf24bit, pf32bit}) {
        const ReadIcon icon = Render(empty, 5, 3, format);
        EXPECT_EQ(icon.Colours(), std::set<TColor>{clWhite}) << "format " << format;
    }
    const ReadIcon fixed(RenderIcon(empty, true, true, 0, 0).FileBytes());
    EXPECT_EQ(fixed.Colours(), std::set<TColor>{clBlack}) << "white picked as transparent and blackened";
    Bytes everyPixel;
    for (int row = 0; row < 16; ++row)
        everyPixel.insert(everyPixel.end(), {0xFF, 0xFF, 0x00, 0x00});  // 16 bits, then row padding
    EXPECT_EQ(fixed.MaskBytes(), everyPixel);
}

TEST(Rendering, LeavesTheSourceUntouched) {
    const TBitmap source = KeyedSource(6, 6);
    const TBitmap before = source;
    std::vector<TColor> pixels;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            pixels.push_back(source.Canvas().Pixel(x, y));
    RenderIconEx(source, 3, 9, true, kKey, pf1bit);
    RenderIcon(source, true, true, 0, 0);
    EXPECT_EQ(source.PixelFormat(), pf24bit);
    EXPECT_EQ(source.Width(), 6);
    for (int y = 0, i = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x, ++i)
            EXPECT_EQ(source.Canvas().Pixel(x, y), pixels[std::size_t(i)]);
}

// --- The fixed-size form ---------------------------------------------------

TEST(FixedSizeIcon, PicksTheTransparentColourFromTheRenderedPixel) {
    // Quadrants, so every pixel of the icon has a known colour.
    const TBitmap source = MakeBitmap(4, 4, pf32bit, [](int x, int y) {
        return x < 2 ? (y < 2 ? clTeal : clGray) : (y < 2 ? RGBColor(255, 0, 0) : clTeal);
    });
    struct {
        bool small;
        int size;
        int x, y;
        TColor picked;
    } const cases[] = {{true, 16, 0, 0, clTeal}, {false, 48, 0, 0, clTeal}, {false, 48, 47, 0, RGBColor(255, 0, 0)},
                       {true, 16, 3, 15, clGray}};
    for (const auto& c : cases) {
        const ReadIcon icon(RenderIcon(source, c.small, true, c.x, c.y).FileBytes());
        ASSERT_EQ(icon.width, c.size);
        ASSERT_EQ(icon.height, c.size);
        EXPECT_EQ(icon.bits, 24);
        for (int y = 0; y < c.size; ++y)
            for (int x = 0; x < c.size; ++x) {
                const TColor expected = source.Canvas().Pixel(x * 4 / c.size, y * 4 / c.size);
                ASSERT_EQ(icon.Masked(x, y), expected == c.picked) << x << ", " << y;
                ASSERT_EQ(icon.Pixel(x, y), expected == c.picked ? clBlack : expected) << x << ", " << y;
            }
        const ReadIcon opaque(RenderIcon(source, c.small, false, c.x, c.y).FileBytes());
        EXPECT_EQ(opaque.MaskBytes(), Bytes(opaque.MaskBytes().size(), 0));
    }
}

TEST(FixedSizeIcon, RefusesAPixelOutsideTheIcon) {
    const TBitmap source = MakeSolid(2, 2, clTeal);
    const struct {
        bool small;
        int x, y;
    } outside[] = {{true, 16, 0}, {true, 0, 16}, {true, -1, 0}, {false, 0, -1}, {false, 48, 47}, {false, 0, 1 << 30}};
    for (const auto& c : outside) {
        const int size = c.small ? SmallIconSize : LargeIconSize;
        try {
            RenderIcon(source, c.small, false, c.x, c.y);
            ADD_FAILURE() << c.x << ", " << c.y << " accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "The pixel (" + std::to_string(c.x) + ", " + std::to_string(c.y) +
                                       ") lies outside the " + std::to_string(size) + " x " +
                                       std::to_string(size) + " icon");
        }
    }
    EXPECT_NO_THROW(RenderIcon(source, true, false, 15, 15));
}

}  // namespace
