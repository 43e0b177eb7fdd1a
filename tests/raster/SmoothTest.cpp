// SmoothShrink against a plain reference: every target pixel is the rounded
// average of exactly the source pixels that map into it.

#include "Exception.h"
#include "RasterTestSupport.h"

#include <gtest/gtest.h>

using namespace rastertest;

namespace {

struct Average {
    std::uint8_t b, g, r, a;
};

// The average of the source pixels of target pixel (tx, ty), by brute force.
Average Reference(const TBitmap& source, int width, int height, int tx, int ty, bool alpha) {
    std::uint64_t sum[4] = {}, n = 0;
    for (int y = 0; y < source.Height(); ++y) {
        if (std::int64_t(y) * height / source.Height() != ty) continue;
        for (int x = 0; x < source.Width(); ++x) {
            if (std::int64_t(x) * width / source.Width() != tx) continue;
            const TColor c = source.Canvas().Pixel(x, y);
            sum[0] += GetBValue(c);
            sum[1] += GetGValue(c);
            sum[2] += GetRValue(c);
            if (alpha) sum[3] += source.ScanLine(y)[4 * x + 3];
            ++n;
        }
    }
    auto avg = [n](std::uint64_t s) { return std::uint8_t((s + n / 2) / n); };
    return {avg(sum[0]), avg(sum[1]), avg(sum[2]), alpha ? avg(sum[3]) : std::uint8_t(0)};
}

void ExpectMatchesReference(const TBitmap& source, int width, int height) {
    const bool alpha = source.HasAlpha();
    const TBitmap small = SmoothShrink(source, width, height);
    ASSERT_EQ(small.Width(), width);
    ASSERT_EQ(small.Height(), height);
    EXPECT_EQ(small.PixelFormat(), pf32bit);
    EXPECT_EQ(small.HasAlpha(), alpha);
    for (int ty = 0; ty < height; ++ty)
        for (int tx = 0; tx < width; ++tx) {
            const Average want = Reference(source, width, height, tx, ty, alpha);
            const std::uint8_t* got = small.ScanLine(ty) + 4 * tx;
            ASSERT_TRUE(got[0] == want.b && got[1] == want.g && got[2] == want.r && got[3] == want.a)
                << "target (" << tx << ", " << ty << ")";
        }
}

struct ShrinkCase {
    int w, h, tw, th;
};
const ShrinkCase kShrinks[] = {
    {7, 5, 3, 2}, {33, 9, 33, 9}, {300, 200, 256, 170}, {1, 1, 1, 1}, {9, 31, 1, 1}, {64, 3, 17, 3},
};

TEST(SmoothShrink, AveragesExactlyTheMappedPixelsAtEveryFormat) {
    for (TPixelFormat format : AllFormats())
        for (const ShrinkCase& c : kShrinks) {
            SCOPED_TRACE(FormatName(format) + " " + std::to_string(c.w) + "x" + std::to_string(c.h) + " -> " +
                         std::to_string(c.tw) + "x" + std::to_string(c.th));
            ExpectMatchesReference(RandomBitmap(format, c.w, c.h, 7), c.tw, c.th);
        }
}

TEST(SmoothShrink, KeepsPremultipliedOpacity) {
    for (const ShrinkCase& c : kShrinks) ExpectMatchesReference(RandomAlphaBitmap(c.w, c.h, 11), c.tw, c.th);
}

TEST(SmoothShrink, RefusesTargetsOutsideTheSource) {
    const TBitmap source = MakeBitmap(pf24bit, 10, 10);
    for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{11, 5}, std::pair{5, 11}})
        EXPECT_THROW(SmoothShrink(source, w, h), EInvalidGraphic) << w << "x" << h;
}

}  // namespace
