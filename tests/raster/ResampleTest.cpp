// The streaming resampler: the nearest rule, windows and fitted rectangles,
// linear light and premultiplied opacity, the order of the rows, extreme
// shapes, bad rectangles, and turning decoded rows into straight B, G, R, A.
// The comparison with Pillow on real pictures is in ResamplePillowTest.cpp.

#include "Resample.h"

#include "Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>

namespace {

// A straight B, G, R, A picture held whole, as the tests' source.
struct TPicture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> bgra;
    const std::uint8_t* Row(int y) const { return bgra.data() + std::size_t(y) * std::size_t(width) * 4; }
    std::uint8_t* Row(int y) { return bgra.data() + std::size_t(y) * std::size_t(width) * 4; }
};

TPicture RandomPicture(int width, int height, std::uint32_t seed, bool opaque = false) {
    std::mt19937 rng(seed);
    TPicture p{width, height, std::vector<std::uint8_t>(std::size_t(width) * std::size_t(height) * 4)};
    for (std::size_t i = 0; i < p.bgra.size(); ++i) p.bgra[i] = std::uint8_t(rng());
    if (opaque)
        for (std::size_t i = 3; i < p.bgra.size(); i += 4) p.bgra[i] = 255;
    return p;
}

TPicture Filled(int width, int height, std::array<std::uint8_t, 4> pixel) {
    TPicture p{width, height, {}};
    for (int i = 0; i < width * height; ++i) p.bgra.insert(p.bgra.end(), pixel.begin(), pixel.end());
    return p;
}

TPicture CutOut(const TPicture& source, TResampleRect r) {
    TPicture p{r.Width, r.Height, {}};
    for (int y = r.Top; y < r.Top + r.Height; ++y)
        p.bgra.insert(p.bgra.end(), source.Row(y) + std::size_t(r.Left) * 4,
                      source.Row(y) + std::size_t(r.Left + r.Width) * 4);
    return p;
}

TResampleRect Whole(int width, int height) { return {0, 0, width, height}; }

enum class TOrder { TopDown, BottomUp, Shuffled };

// Feeds every row of `source` (the resampler drops those it does not need).
TRgbaImage Resample(const TPicture& source, TResampleRect from, int targetWidth, int targetHeight, TResampleRect to,
                    TResampleFilter filter, TOrder order = TOrder::TopDown) {
    TResampler resampler(source.width, source.height, from, targetWidth, targetHeight, to, filter);
    std::vector<int> rows(std::size_t(source.height));
    std::iota(rows.begin(), rows.end(), 0);
    if (order == TOrder::BottomUp) std::reverse(rows.begin(), rows.end());
    if (order == TOrder::Shuffled) std::shuffle(rows.begin(), rows.end(), std::mt19937(5));
    for (int y : rows) resampler.AddRow(y, source.Row(y));
    return resampler.Result();
}

TRgbaImage Stretch(const TPicture& source, int targetWidth, int targetHeight, TResampleFilter filter) {
    return Resample(source, Whole(source.width, source.height), targetWidth, targetHeight,
                    Whole(targetWidth, targetHeight), filter);
}

std::array<std::uint8_t, 4> PixelAt(const TRgbaImage& image, int x, int y) {
    const std::uint8_t* p = image.Row(y) + std::size_t(x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

const char* Name(TResampleFilter f) {
    return f == TResampleFilter::Nearest ? "nearest" : f == TResampleFilter::Box ? "box" : "lanczos";
}

constexpr TResampleFilter kAllFilters[] = {TResampleFilter::Nearest, TResampleFilter::Box, TResampleFilter::Lanczos3};
constexpr TResampleFilter kSmoothFilters[] = {TResampleFilter::Box, TResampleFilter::Lanczos3};

// Nearest copies source pixel (from.Left + i * from.Width / to.Width, rows
// alike) exactly, colour of transparent pixels included, and leaves the rest
// of the target (0, 0, 0, 0).
TEST(Resample, NearestCopiesTheSampledStraightPixels) {
    struct Case {
        const char* name;
        int width, height;
        TResampleRect from;
        int targetWidth, targetHeight;
        TResampleRect to;
    };
    const Case cases[] = {
        {"shrink", 100, 70, {0, 0, 100, 70}, 16, 16, {0, 0, 16, 16}},
        {"enlarge", 5, 3, {0, 0, 5, 3}, 48, 32, {0, 0, 48, 32}},
        {"crop window", 90, 40, {25, 0, 40, 40}, 16, 16, {0, 0, 16, 16}},
        {"pad rectangle", 60, 20, {0, 0, 60, 20}, 32, 32, {0, 11, 32, 11}},
        {"window and rectangle", 33, 17, {3, 2, 20, 9}, 24, 24, {5, 7, 13, 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TPicture source = RandomPicture(c.width, c.height, 21);
        const TRgbaImage result =
            Resample(source, c.from, c.targetWidth, c.targetHeight, c.to, TResampleFilter::Nearest);
        ASSERT_EQ(result.Width, c.targetWidth);
        ASSERT_EQ(result.Height, c.targetHeight);
        for (int y = 0; y < c.targetHeight; ++y)
            for (int x = 0; x < c.targetWidth; ++x) {
                std::array<std::uint8_t, 4> expected{0, 0, 0, 0};
                const int i = x - c.to.Left, j = y - c.to.Top;
                if (i >= 0 && i < c.to.Width && j >= 0 && j < c.to.Height) {
                    const int sx = c.from.Left + i * c.from.Width / c.to.Width;
                    const int sy = c.from.Top + j * c.from.Height / c.to.Height;
                    std::memcpy(expected.data(), source.Row(sy) + sx * 4, 4);
                }
                ASSERT_EQ(PixelAt(result, x, y), expected) << "at " << x << ", " << y;
            }
    }
}

// The rows a resampler asks for: nearest only the sampled ones; the smooth
// filters every row of the window (when shrinking) and none outside it.
TEST(Resample, NeedsOnlyTheRowsItReads) {
    TResampler nearest(50, 100, Whole(50, 100), 10, 10, Whole(10, 10), TResampleFilter::Nearest);
    for (int y = 0; y < 100; ++y) EXPECT_EQ(nearest.NeedsRow(y), y % 10 == 0) << "row " << y;
    for (TResampleFilter filter : kAllFilters) {
        SCOPED_TRACE(Name(filter));
        TResampler window(100, 300, {0, 100, 100, 100}, 16, 16, Whole(16, 16), filter);
        EXPECT_FALSE(window.NeedsRow(-1));
        EXPECT_FALSE(window.NeedsRow(99));
        EXPECT_TRUE(window.NeedsRow(100));
        EXPECT_FALSE(window.NeedsRow(200));
        EXPECT_FALSE(window.NeedsRow(300));
        if (filter != TResampleFilter::Nearest) {
            for (int y = 100; y < 200; ++y) EXPECT_TRUE(window.NeedsRow(y)) << "row " << y;
        }
    }
}

// A window drawn from a large picture equals the same part cut out and drawn
// whole (the taps never reach outside the window), and a fitted rectangle
// equals the picture drawn at that size and placed, with transparent pixels
// around it.
TEST(Resample, WindowsAndRectanglesMatchCutOutAndPlacedPictures) {
    struct Case {
        const char* name;
        int width, height;
        TResampleRect from;
        int target;
        TResampleRect to;
    };
    const Case cases[] = {
        {"crop a landscape", 120, 50, {35, 0, 50, 50}, 16, {0, 0, 16, 16}},
        {"crop a portrait", 30, 77, {0, 23, 30, 30}, 48, {0, 0, 48, 48}},
        {"crop 10000 x 10", 10000, 10, {4995, 0, 10, 10}, 256, {0, 0, 256, 256}},
        {"pad a landscape", 120, 50, {0, 0, 120, 50}, 32, {0, 9, 32, 13}},
        {"pad a portrait", 30, 77, {0, 0, 30, 77}, 48, {15, 0, 19, 48}},
        {"pad 10000 x 10", 10000, 10, {0, 0, 10000, 10}, 256, {0, 127, 256, 1}},
    };
    for (TResampleFilter filter : kAllFilters)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", " + Name(filter));
            const TPicture source = RandomPicture(c.width, c.height, 33);
            const TRgbaImage result = Resample(source, c.from, c.target, c.target, c.to, filter);
            const TPicture part = CutOut(source, c.from);
            const TRgbaImage alone = Stretch(part, c.to.Width, c.to.Height, filter);
            for (int y = 0; y < c.target; ++y)
                for (int x = 0; x < c.target; ++x) {
                    const int i = x - c.to.Left, j = y - c.to.Top;
                    const bool inside = i >= 0 && i < c.to.Width && j >= 0 && j < c.to.Height;
                    const std::array<std::uint8_t, 4> expected =
                        inside ? PixelAt(alone, i, j) : std::array<std::uint8_t, 4>{0, 0, 0, 0};
                    ASSERT_EQ(PixelAt(result, x, y), expected) << "at " << x << ", " << y;
                }
        }
}

// The sums do not depend on the order of the rows, to the last bit: a BMP
// stored bottom-up gives the same icon as the same picture top-down.
TEST(Resample, RowOrderDoesNotChangeTheResult) {
    struct Case {
        int width, height, targetWidth, targetHeight;
    };
    for (const Case c : {Case{97, 61, 16, 16}, Case{13, 7, 40, 30}, Case{300, 200, 48, 48}})
        for (TResampleFilter filter : kAllFilters) {
            SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " + Name(filter));
            const TPicture source = RandomPicture(c.width, c.height, 44);
            const TRgbaImage topDown = Stretch(source, c.targetWidth, c.targetHeight, filter);
            for (TOrder order : {TOrder::BottomUp, TOrder::Shuffled}) {
                const TRgbaImage other = Resample(source, Whole(c.width, c.height), c.targetWidth, c.targetHeight,
                                                  Whole(c.targetWidth, c.targetHeight), filter, order);
                EXPECT_EQ(other.Pixels, topDown.Pixels);
            }
        }
}

// A single pixel fills the whole target with its own value, the round trip
// through linear light included; the smooth filters clear the colour of a
// fully transparent pixel, nearest copies it.
TEST(Resample, OnePixelSourceFillsTheTarget) {
    const std::array<std::uint8_t, 4> pixels[] = {
        {0, 0, 0, 255}, {255, 255, 255, 255}, {12, 200, 77, 255}, {1, 128, 254, 1}, {90, 30, 250, 128}, {9, 8, 7, 0}};
    for (const auto& pixel : pixels)
        for (TResampleFilter filter : kAllFilters)
            for (int size : {16, 256}) {
                SCOPED_TRACE(std::string(Name(filter)) + " to " + std::to_string(size) + ", alpha " +
                             std::to_string(pixel[3]));
                const TRgbaImage result = Stretch(Filled(1, 1, pixel), size, size, filter);
                std::array<std::uint8_t, 4> expected = pixel;
                if (pixel[3] == 0 && filter != TResampleFilter::Nearest) expected = {0, 0, 0, 0};
                for (int y = 0; y < size; ++y)
                    for (int x = 0; x < size; ++x) ASSERT_EQ(PixelAt(result, x, y), expected) << x << ", " << y;
            }
}

// 10000 x 10, a horizontal ramp, stretched into one target row: the ramp
// survives, rising from dark to light, and every filter reads all ten rows.
TEST(Resample, LongThinSourceKeepsItsRamp) {
    TPicture source{10000, 10, {}};
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10000; ++x) {
            const std::uint8_t v = std::uint8_t(x * 256 / 10000);
            source.bgra.insert(source.bgra.end(), {v, v, v, 255});
        }
    for (TResampleFilter filter : kAllFilters) {
        SCOPED_TRACE(Name(filter));
        TResampler probe(10000, 10, Whole(10000, 10), 256, 256, {0, 127, 256, 1}, filter);
        for (int y = 0; y < 10; ++y) EXPECT_EQ(probe.NeedsRow(y), filter != TResampleFilter::Nearest || y == 0);
        const TRgbaImage result = Resample(source, Whole(10000, 10), 256, 256, {0, 127, 256, 1}, filter);
        EXPECT_LE(PixelAt(result, 0, 127)[0], 1);
        EXPECT_GE(PixelAt(result, 255, 127)[0], 250);
        for (int x = 1; x < 256; ++x) EXPECT_GE(PixelAt(result, x, 127)[0], PixelAt(result, x - 1, 127)[0]);
        for (int y : {0, 126, 128, 255}) EXPECT_EQ(PixelAt(result, 100, y), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
    }
}

// Averages are taken in linear light and weighted by opacity: black and
// white mix to sRGB 188 (half the light), not 128; an opaque colour next to
// transparent pixels keeps its colour and only loses opacity.
TEST(Resample, AveragesLightWeightedByOpacity) {
    struct Case {
        const char* name;
        std::array<std::uint8_t, 4> first, second;
        std::array<std::uint8_t, 4> expected;  // the 2 x 2 checkerboard of the two, shrunk to 1 x 1 with box
    };
    const Case cases[] = {
        {"black and white", {0, 0, 0, 255}, {255, 255, 255, 255}, {188, 188, 188, 255}},
        {"white and transparent black", {255, 255, 255, 255}, {0, 0, 0, 0}, {255, 255, 255, 128}},
        {"red and transparent white", {0, 0, 255, 255}, {255, 255, 255, 0}, {0, 0, 255, 128}},
        {"half-transparent blue and opaque green", {255, 0, 0, 85}, {0, 255, 0, 255}, {137, 225, 0, 170}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TPicture board{2, 2, {}};
        for (const auto& p : {c.first, c.second, c.second, c.first}) board.bgra.insert(board.bgra.end(), p.begin(), p.end());
        EXPECT_EQ(PixelAt(Stretch(board, 1, 1, TResampleFilter::Box), 0, 0), c.expected);
    }
}

// A red shape on transparent black: every pixel the shrink leaves visible
// is pure red, whatever its opacity. Filtering straight colour instead would
// darken the edge with the black of the transparent pixels.
TEST(Resample, NoDarkFringeAroundTransparentEdges) {
    TPicture disc = Filled(64, 64, {0, 0, 0, 0});
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            if ((x - 31.5) * (x - 31.5) + (y - 31.5) * (y - 31.5) < 24.3 * 24.3)
                std::memcpy(disc.Row(y) + x * 4, "\0\0\xff\xff", 4);
    for (TResampleFilter filter : kSmoothFilters)
        for (int size : {16, 48}) {
            SCOPED_TRACE(std::string(Name(filter)) + " to " + std::to_string(size));
            const TRgbaImage result = Stretch(disc, size, size, filter);
            int edge = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    const auto p = PixelAt(result, x, y);
                    if (p[3] == 0) {
                        EXPECT_EQ(p, (std::array<std::uint8_t, 4>{0, 0, 0, 0})) << x << ", " << y;
                        continue;
                    }
                    if (p[3] < 255) ++edge;
                    EXPECT_EQ(p[0], 0) << x << ", " << y;
                    EXPECT_EQ(p[1], 0) << x << ", " << y;
                    EXPECT_EQ(p[2], 255) << x << ", " << y;
                }
            EXPECT_GT(edge, 8) << "the edge should be partly transparent";
        }
}

TEST(Resample, FullyTransparentSourceStaysTransparent) {
    TPicture source = RandomPicture(70, 45, 55);
    for (std::size_t i = 3; i < source.bgra.size(); i += 4) source.bgra[i] = 0;
    for (TResampleFilter filter : kAllFilters)
        for (int size : {1, 16, 100}) {
            SCOPED_TRACE(std::string(Name(filter)) + " to " + std::to_string(size));
            const TRgbaImage result = Stretch(source, size, size, filter);
            for (std::size_t i = 0; i < result.Pixels.size(); i += 4) {
                ASSERT_EQ(result.Pixels[i + 3], 0);
                if (filter != TResampleFilter::Nearest) {
                    ASSERT_EQ(result.Pixels[i] | result.Pixels[i + 1] | result.Pixels[i + 2], 0);
                }
            }
        }
}

// A one-pixel black line on white, shrunk 4 times: the smooth filters keep
// it as a grey column; nearest samples columns 0, 4, 8, ... and loses it.
TEST(Resample, ThinLineSurvivesSmoothShrinking) {
    TPicture page = Filled(64, 64, {255, 255, 255, 255});
    for (int y = 0; y < 64; ++y) std::memcpy(page.Row(y) + 29 * 4, "\0\0\0\xff", 4);
    for (TResampleFilter filter : kAllFilters) {
        SCOPED_TRACE(Name(filter));
        const TRgbaImage result = Stretch(page, 16, 16, filter);
        int darkest = 255;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) darkest = std::min<int>(darkest, PixelAt(result, x, y)[0]);
        if (filter == TResampleFilter::Nearest) {
            EXPECT_EQ(darkest, 255);
        } else {
            EXPECT_LT(darkest, 235);
        }
        // The line runs the full height: column 7 (source columns 28..31) is
        // the same in every row.
        for (int y = 1; y < 16; ++y) EXPECT_EQ(PixelAt(result, 7, y), PixelAt(result, 7, 0));
    }
}

TEST(Resample, RefusesEmptyAndStrayRectangles) {
    struct Case {
        const char* name;
        int width, height;
        TResampleRect from;
        int targetWidth, targetHeight;
        TResampleRect to;
    };
    const Case cases[] = {
        {"empty source", 0, 10, {0, 0, 0, 10}, 16, 16, {0, 0, 16, 16}},
        {"empty target", 10, 10, {0, 0, 10, 10}, 16, 0, {0, 0, 16, 0}},
        {"empty window", 10, 10, {2, 2, 0, 5}, 16, 16, {0, 0, 16, 16}},
        {"window past the right edge", 10, 10, {1, 0, 10, 10}, 16, 16, {0, 0, 16, 16}},
        {"window above the top", 10, 10, {0, -1, 10, 10}, 16, 16, {0, 0, 16, 16}},
        {"empty rectangle", 10, 10, {0, 0, 10, 10}, 16, 16, {0, 8, 16, 0}},
        {"rectangle past the bottom", 10, 10, {0, 0, 10, 10}, 16, 16, {0, 1, 16, 16}},
        {"rectangle left of the target", 10, 10, {0, 0, 10, 10}, 16, 16, {-1, 0, 16, 16}},
        {"overflowing window", 10, 10, {2147483647, 0, 10, 10}, 16, 16, {0, 0, 16, 16}},
        {"target too large", 10, 10, {0, 0, 10, 10}, 65536, 1, {0, 0, 65536, 1}},
    };
    for (const Case& c : cases)
        for (TResampleFilter filter : kAllFilters) {
            SCOPED_TRACE(std::string(c.name) + ", " + Name(filter));
            EXPECT_THROW(TResampler(c.width, c.height, c.from, c.targetWidth, c.targetHeight, c.to, filter),
                         EInvalidGraphic);
        }
}

TEST(Resample, ResultBeforeEveryNeededRowRaises) {
    const TPicture source = RandomPicture(20, 20, 66);
    for (TResampleFilter filter : kAllFilters) {
        SCOPED_TRACE(Name(filter));
        TResampler resampler(20, 20, Whole(20, 20), 8, 8, Whole(8, 8), filter);
        for (int y = 0; y < 19; ++y) resampler.AddRow(y, source.Row(y));
        if (filter == TResampleFilter::Nearest) {
            EXPECT_NO_THROW(resampler.Result());  // row 19 is not sampled
        } else {
            EXPECT_THROW(resampler.Result(), EInvalidGraphic);
            resampler.AddRow(19, source.Row(19));
            EXPECT_NO_THROW(resampler.Result());
        }
    }
}

// Decoded rows of every layout to straight B, G, R, A.
TEST(Resample, RowsBecomeStraightBgra) {
    struct Case {
        const char* name;
        TPixelFormat format;
        std::vector<std::uint8_t> row;
        std::vector<TColor> palette;
        bool hasAlpha, straightAlpha;
        std::vector<std::uint8_t> expected;  // two pixels
    };
    const Case cases[] = {
        {"32 bits premultiplied", pf32bit, {64, 32, 128, 128, 9, 9, 9, 0}, {}, true, false,
         {128, 64, 255, 128, 0, 0, 0, 0}},
        {"32 bits premultiplied, nearly transparent", pf32bit, {1, 0, 1, 3, 7, 8, 9, 255}, {}, true, false,
         {85, 0, 85, 3, 7, 8, 9, 255}},
        {"32 bits straight", pf32bit, {64, 32, 128, 128, 9, 9, 9, 0}, {}, true, true, {64, 32, 128, 128, 9, 9, 9, 0}},
        {"32 bits without opacity", pf32bit, {1, 2, 3, 0, 4, 5, 6, 77}, {}, false, false, {1, 2, 3, 255, 4, 5, 6, 255}},
        {"device", pfDevice, {1, 2, 3, 0, 4, 5, 6, 77}, {}, false, false, {1, 2, 3, 255, 4, 5, 6, 255}},
        {"24 bits", pf24bit, {1, 2, 3, 4, 5, 6, 0, 0}, {}, false, false, {1, 2, 3, 255, 4, 5, 6, 255}},
        {"16 bits 5-6-5", pf16bit, {0x1F, 0xF8, 0xE0, 0x07, 0, 0}, {}, false, false, {255, 0, 255, 255, 0, 255, 0, 255}},
        {"15 bits", pf15bit, {0x00, 0x7C, 0x1F, 0x00, 0, 0}, {}, false, false, {0, 0, 255, 255, 255, 0, 0, 255}},
        {"8 bits, index past the table", pf8bit, {1, 2, 0, 0}, {RGBColor(1, 2, 3), RGBColor(10, 20, 30)}, false, false,
         {30, 20, 10, 255, 0, 0, 0, 255}},
        {"4 bits", pf4bit, {0x10, 0, 0, 0}, {RGBColor(1, 2, 3), RGBColor(10, 20, 30)}, false, false,
         {30, 20, 10, 255, 3, 2, 1, 255}},
        {"1 bit", pf1bit, {0x40, 0, 0, 0}, {clBlack, clWhite}, false, false, {0, 0, 0, 255, 255, 255, 255, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> out(8, 0xEE);
        RowToStraightBgra(c.row.data(), 2, c.format, c.palette, c.hasAlpha, c.straightAlpha, out.data());
        EXPECT_EQ(out, c.expected);
    }
    std::uint8_t row[8] = {}, out[8] = {};
    EXPECT_THROW(RowToStraightBgra(row, 2, pfCustom, {}, false, false, out), EInvalidGraphic);
}

// Wide rows of an indexed format go through the colour reader in pieces:
// the pieces must join without a gap.
TEST(Resample, WideIndexedRowsConvertWhole) {
    const int width = 1000;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width));
    std::vector<TColor> palette;
    for (int i = 0; i < 256; ++i) palette.push_back(RGBColor(std::uint8_t(i), std::uint8_t(255 - i), 7));
    for (int x = 0; x < width; ++x) row[std::size_t(x)] = std::uint8_t(x * 7);
    std::vector<std::uint8_t> out(std::size_t(width) * 4);
    RowToStraightBgra(row.data(), width, pf8bit, palette, false, false, out.data());
    for (int x = 0; x < width; ++x) {
        const std::uint8_t i = std::uint8_t(x * 7);
        ASSERT_EQ(out[std::size_t(x) * 4 + 0], 7) << x;
        ASSERT_EQ(out[std::size_t(x) * 4 + 1], std::uint8_t(255 - i)) << x;
        ASSERT_EQ(out[std::size_t(x) * 4 + 2], i) << x;
        ASSERT_EQ(out[std::size_t(x) * 4 + 3], 255) << x;
    }
}

}  // namespace
