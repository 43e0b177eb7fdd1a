// Pixel format conversion and the nearest-colour search behind it.

#include "Graphics.h"
#include "Palettes.h"
#include "RasterTestSupport.h"

#include "Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

using namespace rastertest;

namespace {

// A 24-bit source with a sweep of hues and greys, random colours, the
// standard colours, and colours exactly between two standard colours.
TBitmap VariedSource() {
    const int w = 40, h = 30;
    TBitmap b = MakeBitmap(pf24bit, w, h);
    std::mt19937 rng(7);
    std::vector<TColor> special = raster::StandardPalette16();
    for (TColor c : {RGBColor(64, 0, 0), RGBColor(160, 160, 160), RGBColor(127, 127, 127), RGBColor(128, 128, 128),
                     RGBColor(96, 96, 0), RGBColor(0, 0, 191), RGBColor(255, 255, 254)})
        special.push_back(c);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int i = y * w + x;
            TColor c;
            if (std::size_t(i) < special.size())
                c = special[std::size_t(i)];
            else if (y < 10)
                c = RGBColor(std::uint8_t(x * 6), std::uint8_t(y * 25), std::uint8_t(255 - x * 6));
            else if (y < 12)
                c = RGBColor(std::uint8_t(i % 256), std::uint8_t(i % 256), std::uint8_t(i % 256));
            else
                c = RandomColor(rng);
            b.Canvas().SetPixel(x, y, c);
        }
    return b;
}

bool Has565Precision(TColor c) {
    const unsigned r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    return r == ((r >> 3) << 3 | r >> 5) && g == ((g >> 2) << 2 | g >> 6) && b == ((b >> 3) << 3 | b >> 5);
}

}  // namespace

TEST(Conversion, EachFormatGivesTheExactNearestOfItsColours) {
    const TBitmap source = VariedSource();
    const auto sourcePixels = Pixels(source);
    const std::vector<TColor> blackWhite{clBlack, clWhite};
    const struct {
        TPixelFormat format;
        const std::vector<TColor>* palette;
    } cases[] = {{pf1bit, &blackWhite},
                 {pf4bit, &raster::StandardPalette16()},
                 {pf8bit, &raster::HalftonePalette()},
                 {pf15bit, nullptr},
                 {pf16bit, nullptr},
                 {pf24bit, nullptr},
                 {pf32bit, nullptr},
                 {pfDevice, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(FormatName(c.format));
        TBitmap copy = source;
        copy.SetPixelFormat(c.format);
        EXPECT_EQ(copy.PixelFormat(), c.format);
        EXPECT_EQ(copy.Palette(), c.palette ? *c.palette : std::vector<TColor>{});
        const auto got = Pixels(copy);
        for (std::size_t i = 0; i < got.size(); ++i) {
            const TColor want = ExpectedStored(c.format, copy.Palette(), sourcePixels[i]);
            ASSERT_EQ(got[i], want) << "pixel " << i << " from " << std::hex << sourcePixels[i];
        }
        EXPECT_EQ(Pixels(source), sourcePixels);
    }
}

TEST(Conversion, SixteenBitsKeep565Precision) {
    TBitmap b = MakeBitmap(pf24bit, 256, 3);
    for (int v = 0; v < 256; ++v) {
        b.Canvas().SetPixel(v, 0, RGBColor(std::uint8_t(v), std::uint8_t(v), std::uint8_t(v)));
        b.Canvas().SetPixel(v, 1, RGBColor(std::uint8_t(v), std::uint8_t(255 - v), std::uint8_t(v / 2)));
        b.Canvas().SetPixel(v, 2, RGBColor(std::uint8_t(v * 7), std::uint8_t(v * 3), std::uint8_t(v * 11)));
    }
    TBitmap sixteen = b;
    sixteen.SetPixelFormat(pf16bit);
    for (int y = 0; y < 3; ++y)
        for (int v = 0; v < 256; ++v) {
            const TColor c = sixteen.Canvas().Pixel(v, y);
            ASSERT_TRUE(Has565Precision(c)) << std::hex << c;
            const TColor s = b.Canvas().Pixel(v, y);
            EXPECT_EQ(GetRValue(c), NearestChannel(GetRValue(s), 5));
            EXPECT_EQ(GetGValue(c), NearestChannel(GetGValue(s), 6));
            EXPECT_EQ(GetBValue(c), NearestChannel(GetBValue(s), 5));
        }

    // Every 16-bit colour survives a trip through 24 bits and back.
    TBitmap back = sixteen;
    back.SetPixelFormat(pf24bit);
    back.SetPixelFormat(pf16bit);
    for (int y = 0; y < 3; ++y) EXPECT_EQ(0, std::memcmp(back.ScanLine(y), sixteen.ScanLine(y), 512));
}

TEST(Conversion, OneBitUsesTheFirstTwoEntriesOfAnIndexedSource) {
    TBitmap eight = MakeBitmap(pf8bit, 4, 1);
    eight.SetPalette({RGBColor(255, 0, 0), RGBColor(0, 0, 255), RGBColor(0, 255, 0), clWhite});
    eight.ScanLine(0)[0] = 0;
    eight.ScanLine(0)[1] = 1;
    eight.ScanLine(0)[2] = 2;  // green: as near to red as to blue, so red
    eight.ScanLine(0)[3] = 3;  // white: as near to both, so red
    TBitmap mono = eight;
    mono.SetPixelFormat(pf1bit);
    EXPECT_EQ(mono.Palette(), (std::vector<TColor>{RGBColor(255, 0, 0), RGBColor(0, 0, 255)}));
    EXPECT_EQ(Pixels(mono), (std::vector<TColor>{RGBColor(255, 0, 0), RGBColor(0, 0, 255), RGBColor(255, 0, 0),
                                                RGBColor(255, 0, 0)}));

    // The default 4-bit table starts with black and maroon.
    TBitmap four = MakeBitmap(pf4bit, 2, 1);
    four.Canvas().SetPixel(1, 0, clWhite);
    four.SetPixelFormat(pf1bit);
    EXPECT_EQ(four.Palette(), (std::vector<TColor>{clBlack, RGBColor(128, 0, 0)}));
    EXPECT_EQ(Pixels(four), (std::vector<TColor>{clBlack, RGBColor(128, 0, 0)}));
}

TEST(Conversion, AnIndexedSourceKeepsItsOwnFormatAndPalette) {
    TBitmap eight = MakeBitmap(pf8bit, 5, 2);
    const std::vector<TColor> palette{RGBColor(3, 1, 4), RGBColor(1, 5, 9), RGBColor(2, 6, 5), RGBColor(250, 3, 5)};
    eight.SetPalette(palette);
    for (int x = 0; x < 5; ++x) eight.ScanLine(1)[x] = std::uint8_t(x % 4);
    const auto before = Pixels(eight);

    TBitmap same = eight;
    same.SetPixelFormat(pf8bit);
    EXPECT_EQ(same.Palette(), palette);
    EXPECT_EQ(Pixels(same), before);

    TBitmap four = eight;
    four.SetPixelFormat(pf4bit);
    EXPECT_EQ(four.Palette(), raster::StandardPalette16());
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(Pixels(four)[i], ExpectedStored(pf4bit, four.Palette(), before[i]));

    // Another indexed format becomes halftone, whatever its own table.
    TBitmap back = four;
    back.SetPixelFormat(pf8bit);
    EXPECT_EQ(back.Palette(), raster::HalftonePalette());
    const auto fourPixels = Pixels(four);
    for (std::size_t i = 0; i < fourPixels.size(); ++i)
        EXPECT_EQ(Pixels(back)[i], ExpectedStored(pf8bit, back.Palette(), fourPixels[i]));
}

TEST(Conversion, OpacityIsDroppedAndPremultipliedColoursKept) {
    const TBitmap alpha = RandomAlphaBitmap(7, 3, 11);
    for (TPixelFormat f : {pf24bit, pfDevice, pf16bit}) {
        SCOPED_TRACE(FormatName(f));
        TBitmap copy = alpha;
        copy.SetPixelFormat(f);
        EXPECT_FALSE(copy.HasAlpha());
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x)
                EXPECT_EQ(copy.Canvas().Pixel(x, y), ExpectedStored(f, {}, alpha.Canvas().Pixel(x, y)));
        if (f == pfDevice) {
            for (int x = 0; x < 7; ++x) EXPECT_EQ(copy.ScanLine(0)[4 * x + 3], 0);
        }
    }
    TBitmap same = alpha;
    same.SetPixelFormat(pf32bit);
    EXPECT_TRUE(same.HasAlpha());
    EXPECT_EQ(0, std::memcmp(same.ScanLine(2), alpha.ScanLine(2), 28));
}

TEST(Conversion, TheTransparencyMarkSurvives) {
    for (TPixelFormat f : AllFormats()) {
        SCOPED_TRACE(FormatName(f));
        TBitmap fixed = MakeBitmap(pf24bit, 2, 2);
        fixed.SetTransparent(true);
        fixed.SetTransparentColor(RGBColor(1, 2, 3));
        fixed.SetPixelFormat(f);
        EXPECT_TRUE(fixed.Transparent());
        EXPECT_EQ(fixed.TransparentColor(), RGBColor(1, 2, 3));

        TBitmap automatic = MakeBitmap(pf24bit, 2, 2);
        automatic.Canvas().SetPixel(0, 1, RGBColor(200, 10, 10));
        automatic.SetTransparent(true);
        automatic.SetPixelFormat(f);
        EXPECT_TRUE(automatic.Transparent());
        EXPECT_EQ(automatic.TransparentMode(), tmAuto);
        EXPECT_EQ(automatic.TransparentColor(), f == pf1bit ? clWhite : automatic.Canvas().Pixel(0, 1));
    }
}

TEST(Conversion, CustomFormatIsRefused) {
    TBitmap b = MakeBitmap(pf24bit, 2, 2);
    try {
        b.SetPixelFormat(pfCustom);
        FAIL() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "Invalid pixel format");
    }
    EXPECT_EQ(b.PixelFormat(), pf24bit);
}

TEST(Conversion, EmptyBitmapsConvert) {
    for (TPixelFormat f : AllFormats()) {
        TBitmap b;
        b.SetPixelFormat(f);
        EXPECT_EQ(b.PixelFormat(), f);
        EXPECT_EQ(b.Palette(), raster::DefaultPalette(f));
        b.SetSize(3, 0);
        b.SetPixelFormat(f == pf24bit ? pf8bit : pf24bit);
        EXPECT_TRUE(b.Empty());
    }
}

TEST(Palettes, HalftoneIsAGeneralPurposeTableOf256DistinctColours) {
    const auto& h = raster::HalftonePalette();
    ASSERT_EQ(h.size(), 256u);
    EXPECT_EQ(std::set<TColor>(h.begin(), h.end()).size(), 256u);
    EXPECT_TRUE(std::equal(raster::StandardPalette16().begin(), raster::StandardPalette16().end(), h.begin()));
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                EXPECT_NE(std::find(h.begin(), h.end(), RGBColor(std::uint8_t(51 * r), std::uint8_t(51 * g),
                                                                 std::uint8_t(51 * b))),
                          h.end());
    std::vector<int> greys;
    for (TColor c : h)
        if (GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c)) greys.push_back(GetRValue(c));
    std::sort(greys.begin(), greys.end());
    EXPECT_EQ(greys.size(), 40u);
    for (std::size_t i = 1; i < greys.size(); ++i) EXPECT_LE(greys[i] - greys[i - 1], 8);
}

TEST(Palettes, TablesFindExactlyTheNearestEntry) {
    std::mt19937 rng(3);
    std::vector<std::vector<TColor>> palettes{raster::HalftonePalette(), raster::StandardPalette16()};
    for (std::size_t size : {256u, 37u, 3u}) {
        std::vector<TColor> p;
        for (std::size_t i = 0; i < size; ++i) p.push_back(RandomColor(rng));
        palettes.push_back(p);
    }
    // Clustered and repeated entries make many near-ties.
    std::vector<TColor> clustered;
    for (int i = 0; i < 200; ++i)
        clustered.push_back(RGBColor(std::uint8_t(100 + rng() % 8), std::uint8_t(100 + rng() % 8),
                                     std::uint8_t(100 + rng() % 8)));
    palettes.push_back(clustered);

    // Colours on both sides of every table cell boundary, and random ones.
    std::vector<TColor> colors;
    const int edges[] = {0, 15, 16, 47, 48, 95, 96, 111, 112, 127, 128, 200, 207, 208, 254, 255};
    for (int r : edges)
        for (int g : edges)
            for (int b : edges) colors.push_back(RGBColor(std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)));
    for (int i = 0; i < 8000; ++i) colors.push_back(RandomColor(rng));

    for (const auto& palette : palettes) {
        SCOPED_TRACE(palette.size());
        raster::PaletteMatcher matcher(palette);
        for (TColor c : colors) ASSERT_EQ(int(matcher.Nearest(c)), NearestIndex(palette, c)) << std::hex << c;
    }
}

TEST(Palettes, TwoColourTestPicksTheNearer) {
    std::mt19937 rng(5);
    for (int i = 0; i < 2000; ++i) {
        const TColor p0 = RandomColor(rng), p1 = i % 10 == 0 ? p0 : RandomColor(rng);
        const raster::TwoColorTest two(p0, p1);
        for (int k = 0; k < 20; ++k) {
            const TColor c = k == 0 ? RGBColor(std::uint8_t((GetRValue(p0) + GetRValue(p1)) / 2),
                                               std::uint8_t((GetGValue(p0) + GetGValue(p1)) / 2),
                                               std::uint8_t((GetBValue(p0) + GetBValue(p1)) / 2))
                                    : RandomColor(rng);
            ASSERT_EQ(int(two.Index(c)), NearestIndex({p0, p1}, c));
        }
    }
}
