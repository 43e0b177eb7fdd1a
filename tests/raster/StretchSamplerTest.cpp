// The sampler's stand-in must draw exactly what the whole picture draws, for
// every source format, every reduction and every mix of shrinking and
// enlarging, whatever order the rows arrive in.

#include "RasterTestSupport.h"
#include "StretchSampler.h"

#include "Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

using namespace rastertest;

namespace {

struct TTargetSize {
    int cx, cy;
};

struct TSource {
    std::string name;
    TBitmap bitmap;
};

// Indexed pictures with random indices over a random table of `entries`
// colours (fewer than the format holds, to reach the missing-entry rules).
TBitmap RandomIndexed(TPixelFormat format, int entries, int width, int height, std::uint32_t seed) {
    std::mt19937 rng(seed);
    TBitmap b = MakeBitmap(format, width, height);
    std::vector<TColor> palette;
    for (int i = 0; i < entries; ++i) palette.push_back(RandomColor(rng));
    b.SetPalette(palette);
    const int bits = BitsPerPixel(format);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = b.ScanLine(y);
        for (std::size_t i = 0; i < RowStride(width, bits); ++i) row[i] = std::uint8_t(rng());
    }
    return b;
}

std::vector<TSource> Sources(int width, int height) {
    std::vector<TSource> sources;
    for (TPixelFormat f : {pfDevice, pf15bit, pf16bit, pf24bit, pf32bit})
        sources.push_back({FormatName(f), RandomBitmap(f, width, height, 7)});
    sources.push_back({"pf32bit with alpha", RandomAlphaBitmap(width, height, 8)});
    sources.push_back({"pf1bit, 2 entries", RandomIndexed(pf1bit, 2, width, height, 9)});
    sources.push_back({"pf1bit, 1 entry", RandomIndexed(pf1bit, 1, width, height, 10)});
    sources.push_back({"pf4bit, 16 entries", RandomIndexed(pf4bit, 16, width, height, 11)});
    sources.push_back({"pf8bit, 236 entries", RandomIndexed(pf8bit, 236, width, height, 12)});
    // Mostly light with a few dark pixels: one-bit shrinks then mix the two
    // entries in some spans and not in others.
    TBitmap sparse = MakeBitmap(pf24bit, width, height);
    sparse.Canvas().Brush.Color = RGBColor(220, 220, 220);
    sparse.Canvas().FillRect({0, 0, width, height});
    for (int i = 0; i < width * height / 40; ++i) sparse.Canvas().SetPixel((i * 37) % width, (i * 11) % height, clBlack);
    sources.push_back({"sparse dark pixels", sparse});
    return sources;
}

// What the icon writer draws into: a white target of the icon's size.
TBitmap WhiteTarget(int width, int height) {
    TBitmap target;
    target.SetSize(width, height);
    target.Canvas().Brush.Color = clWhite;
    target.Canvas().FillRect({0, 0, width, height});
    return target;
}

std::vector<std::uint8_t> Bytes(const TBitmap& b) {
    std::vector<std::uint8_t> out;
    const std::size_t stride = RowStride(b.Width(), BitsPerPixel(b.PixelFormat()));
    for (int y = 0; y < b.Height(); ++y) out.insert(out.end(), b.ScanLine(y), b.ScanLine(y) + stride);
    return out;
}

}  // namespace

TEST(StretchSampler, StandInDrawsWhatTheWholePictureDraws) {
    constexpr int kWidth = 37, kHeight = 23;
    const TTargetSize targets[] = {{1, 1},   {5, 3},   {36, 22}, {37, 23}, {38, 24},
                             {80, 50}, {10, 40}, {50, 7},  {37, 2},  {2, 23}};
    std::mt19937 rng(3);
    for (const TSource& s : Sources(kWidth, kHeight))
        for (const TTargetSize& t : targets)
            for (TPixelFormat draw : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
                SCOPED_TRACE(s.name + " to " + std::to_string(t.cx) + " x " + std::to_string(t.cy) + " at " +
                             FormatName(draw));
                TStretchSampler sampler(kWidth, kHeight, s.bitmap.PixelFormat(), s.bitmap.Palette(),
                                        s.bitmap.HasAlpha(), t.cx, t.cy, draw);
                // Rows in a shuffled order, every one offered: the sampler
                // keeps what it needs.
                std::vector<int> order(kHeight);
                std::iota(order.begin(), order.end(), 0);
                std::shuffle(order.begin(), order.end(), rng);
                for (int y : order) sampler.AddRow(y, s.bitmap.ScanLine(y));

                const TBitmap standIn = sampler.StandIn();
                EXPECT_LE(standIn.Width(), std::max(2 * t.cx, kWidth));
                EXPECT_LE(standIn.Height(), std::max(2 * t.cy, kHeight));
                TBitmap want = WhiteTarget(t.cx, t.cy), got = WhiteTarget(t.cx, t.cy);
                StretchDrawReduced(want, {0, 0, t.cx, t.cy}, s.bitmap, draw);
                StretchDrawReduced(got, {0, 0, t.cx, t.cy}, standIn, draw);
                ASSERT_EQ(Bytes(got), Bytes(want));
            }
}

TEST(StretchSampler, AShrinkNeedsOnlyTheSampledRows) {
    // 1000 rows to 10: rows 0, 100, ..., 900; a one-bit shrink needs them all.
    TStretchSampler plain(4, 1000, pf24bit, {}, false, 2, 10, pf24bit);
    TStretchSampler oneBit(4, 1000, pf24bit, {}, false, 2, 10, pf1bit);
    int needed = 0, neededOneBit = 0;
    for (int y = 0; y < 1000; ++y) {
        needed += plain.NeedsRow(y);
        neededOneBit += oneBit.NeedsRow(y);
        if (y % 100 == 0) {
            EXPECT_TRUE(plain.NeedsRow(y)) << y;
        }
    }
    EXPECT_EQ(needed, 10);
    EXPECT_EQ(neededOneBit, 1000);
    // An enlargement keeps every row.
    TStretchSampler enlarge(4, 10, pf24bit, {}, false, 2, 300, pf24bit);
    for (int y = 0; y < 10; ++y) EXPECT_TRUE(enlarge.NeedsRow(y));
    EXPECT_FALSE(enlarge.NeedsRow(-1));
    EXPECT_FALSE(enlarge.NeedsRow(10));
}

TEST(StretchSampler, RefusesEmptySizesAndTheCustomFormat) {
    EXPECT_THROW(TStretchSampler(0, 5, pf24bit, {}, false, 16, 16, pf24bit), EInvalidGraphic);
    EXPECT_THROW(TStretchSampler(5, 5, pf24bit, {}, false, 16, 0, pf24bit), EInvalidGraphic);
    EXPECT_THROW(TStretchSampler(5, 5, pfCustom, {}, false, 16, 16, pf24bit), EInvalidGraphic);
    EXPECT_THROW(TStretchSampler(5, 5, pf24bit, {}, false, 16, 16, pfCustom), EInvalidGraphic);
}
