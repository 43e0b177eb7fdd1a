// Stretch drawing: the sampling, the one-bit AND shrink, the transparency
// mark, alpha blending, clipping, and StretchDrawReduced against
// convert-then-draw.

#include "Graphics.h"
#include "RasterTestSupport.h"

#include "Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>

using namespace rastertest;

namespace {

const TColor kRed = RGBColor(255, 0, 0), kGreen = RGBColor(0, 255, 0), kBlue = RGBColor(0, 0, 255);

TBitmap FromRows(TPixelFormat f, const std::vector<std::vector<TColor>>& rows) {
    TBitmap b = MakeBitmap(f, int(rows[0].size()), int(rows.size()));
    for (std::size_t y = 0; y < rows.size(); ++y)
        for (std::size_t x = 0; x < rows[y].size(); ++x) b.Canvas().SetPixel(int(x), int(y), rows[y][x]);
    return b;
}

std::vector<std::vector<TColor>> Rows(const TBitmap& b) {
    std::vector<std::vector<TColor>> rows(std::size_t(b.Height()));
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) rows[std::size_t(y)].push_back(b.Canvas().Pixel(x, y));
    return rows;
}

TBitmap Filled(TPixelFormat f, int w, int h, TColor c) {
    TBitmap b = MakeBitmap(f, w, h);
    b.Canvas().Brush.Color = c;
    b.Canvas().FillRect({0, 0, w, h});
    return b;
}

TBitmap Drawn(const TBitmap& source, int w, int h, TColor background = clWhite) {
    TBitmap target = Filled(pfDevice, w, h, background);
    target.Canvas().StretchDraw({0, 0, w, h}, source);
    return target;
}

// The drawing rules written out pixel by pixel, for comparison.
void ReferenceDraw(TBitmap& target, const TRect& r, const TBitmap& src) {
    const int sw = src.Width(), sh = src.Height(), dw = r.Width(), dh = r.Height();
    const bool keyed = src.Transparent();
    const TColor key = src.TransparentColor();
    const bool blend = !keyed && src.HasAlpha();
    for (int j = 0; j < dh; ++j)
        for (int i = 0; i < dw; ++i) {
            const int x = r.Left + i, y = r.Top + j;
            if (x < 0 || y < 0 || x >= target.Width() || y >= target.Height()) continue;
            const int sx = int(std::int64_t(i) * sw / dw), sy = int(std::int64_t(j) * sh / dh);
            TColor c = src.Canvas().Pixel(sx, sy);
            if (src.PixelFormat() == pf1bit) {
                const int ex = std::max(sx + 1, int(std::int64_t(i + 1) * sw / dw));
                const int ey = std::max(sy + 1, int(std::int64_t(j + 1) * sh / dh));
                c = 0xFFFFFF;
                for (int v = sy; v < ey; ++v)
                    for (int u = sx; u < ex; ++u) c &= src.Canvas().Pixel(u, v);
            }
            if (keyed && c == key) continue;
            if (blend) {
                const unsigned a = src.ScanLine(sy)[4 * sx + 3];
                const TColor d = target.Canvas().Pixel(x, y);
                auto over = [a](unsigned s, unsigned t) { return std::min(255u, s + (t * (255 - a) + 127) / 255); };
                c = RGBColor(std::uint8_t(over(GetRValue(c), GetRValue(d))),
                             std::uint8_t(over(GetGValue(c), GetGValue(d))),
                             std::uint8_t(over(GetBValue(c), GetBValue(d))));
            }
            target.Canvas().SetPixel(x, y, c);
        }
}

struct NamedSource {
    const char* name;
    std::function<TBitmap()> make;
};

TBitmap RandomIndexed(TPixelFormat f, int w, int h, std::vector<TColor> palette, std::uint32_t seed) {
    std::mt19937 rng(seed);
    TBitmap b = MakeBitmap(f, w, h);
    if (!palette.empty()) b.SetPalette(palette);
    const unsigned entries = 1u << BitsPerPixel(f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned i = rng() % entries;
            std::uint8_t* row = b.ScanLine(y);
            if (f == pf8bit) row[x] = std::uint8_t(i);
            if (f == pf4bit) row[x / 2] = std::uint8_t(x % 2 ? (row[x / 2] & 0xF0) | i : (row[x / 2] & 0x0F) | i << 4);
            if (f == pf1bit && i) row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
        }
    return b;
}

// A true-colour picture of a few colours, so that a transparent key occurs.
TBitmap FewColours(int w, int h, std::uint32_t seed) {
    std::mt19937 rng(seed);
    const TColor colours[] = {RGBColor(10, 200, 30), kRed, clTeal, RGBColor(250, 250, 250)};
    TBitmap b = MakeBitmap(pf24bit, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.Canvas().SetPixel(x, y, colours[rng() % 4]);
    return b;
}

std::vector<NamedSource> Sources() {
    std::mt19937 rng(17);
    std::vector<TColor> palette200;
    for (int i = 0; i < 200; ++i) palette200.push_back(RandomColor(rng));
    return {
        {"24-bit", [] { return RandomBitmap(pf24bit, 13, 9, 1); }},
        {"16-bit", [] { return RandomBitmap(pf16bit, 13, 9, 2); }},
        {"32-bit alpha", [] { return RandomAlphaBitmap(13, 9, 3); }},
        {"8-bit indexed", [palette200] { return RandomIndexed(pf8bit, 13, 9, palette200, 4); }},
        {"4-bit", [] { return RandomIndexed(pf4bit, 13, 9, {}, 5); }},
        {"1-bit red-blue", [] { return RandomIndexed(pf1bit, 13, 9, {kRed, kBlue}, 6); }},
        {"1-bit black-white", [] { return RandomIndexed(pf1bit, 13, 9, {}, 7); }},
        {"transparent auto",
         [] {
             TBitmap b = FewColours(13, 9, 8);
             b.SetTransparent(true);
             return b;
         }},
        {"transparent fixed",
         [] {
             TBitmap b = FewColours(13, 9, 9);
             b.SetTransparent(true);
             b.SetTransparentColor(kRed);
             return b;
         }},
        {"1-bit transparent",
         [] {
             TBitmap b = RandomIndexed(pf1bit, 13, 9, {}, 10);
             b.SetTransparent(true);
             return b;
         }},
    };
}

// Enlarging, shrinking, non-square both ways, and clipped at every side.
const TRect kRects[] = {{0, 0, 31, 20}, {0, 0, 5, 4}, {0, 0, 4, 17}, {1, 2, 27, 5}, {-3, -2, 12, 30}, {20, 19, 40, 25}};

}  // namespace

TEST(Stretch, EnlargingRepeatsEachPixel) {
    const TBitmap src = FromRows(pf24bit, {{kRed, kGreen}, {kBlue, clTeal}});
    EXPECT_EQ(Rows(Drawn(src, 4, 4)), (std::vector<std::vector<TColor>>{{kRed, kRed, kGreen, kGreen},
                                                                         {kRed, kRed, kGreen, kGreen},
                                                                         {kBlue, kBlue, clTeal, clTeal},
                                                                         {kBlue, kBlue, clTeal, clTeal}}));
}

TEST(Stretch, ShrinkingKeepsOnePixelOfEachBlock) {
    std::vector<std::vector<TColor>> rows(4, std::vector<TColor>(4));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) rows[std::size_t(y)][std::size_t(x)] = RGBColor(std::uint8_t(x), std::uint8_t(y), 9);
    const TBitmap src = FromRows(pf24bit, rows);
    EXPECT_EQ(Rows(Drawn(src, 2, 2)), (std::vector<std::vector<TColor>>{{RGBColor(0, 0, 9), RGBColor(2, 0, 9)},
                                                                         {RGBColor(0, 2, 9), RGBColor(2, 2, 9)}}));
}

TEST(Stretch, NonSquareTargetsFillTheRectangle) {
    const TBitmap src = FromRows(pf24bit, {{kRed, kGreen, kBlue, clTeal}, {clGray, clBlack, clWhite, kRed}});
    EXPECT_EQ(Rows(Drawn(src, 2, 4)), (std::vector<std::vector<TColor>>{{kRed, kBlue},
                                                                         {kRed, kBlue},
                                                                         {clGray, clWhite},
                                                                         {clGray, clWhite}}));
    EXPECT_EQ(Rows(Drawn(src, 6, 1)),
              (std::vector<std::vector<TColor>>{{kRed, kRed, kGreen, kBlue, kBlue, clTeal}}));
}

TEST(Stretch, OneBitShrinkJoinsThePixelsWithAnd) {
    // Each 2 x 2 block: one black pixel (anywhere), none, all black.
    const TBitmap bw = FromRows(pf1bit, {{clWhite, clWhite, clWhite, clWhite, clBlack, clBlack},
                                         {clWhite, clBlack, clWhite, clWhite, clBlack, clBlack}});
    EXPECT_EQ(Rows(Drawn(bw, 3, 1)), (std::vector<std::vector<TColor>>{{clBlack, clWhite, clBlack}}));

    // The colours themselves are joined: red AND blue is black.
    TBitmap rb = MakeBitmap(pf1bit, 4, 1);
    rb.SetPalette({kRed, kBlue});
    rb.ScanLine(0)[0] = 0x30;  // 0 0 1 1
    TBitmap two = rb;
    two.ScanLine(0)[0] = 0x60;  // 0 1 1 0
    EXPECT_EQ(Rows(Drawn(rb, 2, 1)), (std::vector<std::vector<TColor>>{{kRed, kBlue}}));
    EXPECT_EQ(Rows(Drawn(two, 2, 1)), (std::vector<std::vector<TColor>>{{clBlack, clBlack}}));

    // Shrinking one way only combines along that way.
    EXPECT_EQ(Rows(Drawn(bw, 3, 4)), (std::vector<std::vector<TColor>>{{clWhite, clWhite, clBlack},
                                                                        {clWhite, clWhite, clBlack},
                                                                        {clBlack, clWhite, clBlack},
                                                                        {clBlack, clWhite, clBlack}}));
}

TEST(Stretch, OneBitEnlargeIsPlainSampling) {
    const TBitmap bw = FromRows(pf1bit, {{clBlack, clWhite}});
    EXPECT_EQ(Rows(Drawn(bw, 4, 1)), (std::vector<std::vector<TColor>>{{clBlack, clBlack, clWhite, clWhite}}));
}

TEST(Stretch, TheTransparentColourIsNotDrawn) {
    TBitmap src = FromRows(pf24bit, {{clTeal, kRed}, {kGreen, clTeal}});
    src.SetTransparent(true);
    src.SetTransparentColor(clTeal);
    EXPECT_EQ(Rows(Drawn(src, 2, 2, kBlue)), (std::vector<std::vector<TColor>>{{kBlue, kRed}, {kGreen, kBlue}}));

    // Without a set colour the bottom-left pixel's is used.
    src.SetTransparentMode(tmAuto);
    EXPECT_EQ(Rows(Drawn(src, 2, 2, kBlue)), (std::vector<std::vector<TColor>>{{clTeal, kRed}, {kBlue, clTeal}}));

    // Unmarked, everything is drawn.
    src.SetTransparent(false);
    EXPECT_EQ(Rows(Drawn(src, 2, 2, kBlue)), Rows(src));
}

TEST(Stretch, PremultipliedAlphaBlendsOverTheTarget) {
    struct Case {
        std::uint8_t b, g, r, a;
        TColor under, result;
    };
    const Case cases[] = {
        {40, 40, 40, 100, RGBColor(100, 100, 100), RGBColor(101, 101, 101)},  // 40 + 100 * 155 / 255 = 40 + 60.8
        {0, 0, 0, 0, RGBColor(100, 150, 200), RGBColor(100, 150, 200)},       // fully transparent
        {0, 10, 200, 255, clWhite, RGBColor(200, 10, 0)},                     // opaque
        {64, 0, 0, 128, clWhite, RGBColor(127, 127, 191)},                    // 255 * 127 / 255 = 127
        {250, 250, 250, 10, clWhite, clWhite},                                // not premultiplied: clamped
        {0, 0, 0, 1, RGBColor(128, 128, 128), RGBColor(127, 127, 127)},       // 128 * 254 / 255 = 127.498
    };
    for (const Case& c : cases) {
        TBitmap src = MakeBitmap(pf32bit, 1, 1);
        src.SetHasAlpha(true);
        std::uint8_t* p = src.ScanLine(0);
        p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = c.a;
        EXPECT_EQ(Drawn(src, 1, 1, c.under).Canvas().Pixel(0, 0), c.result) << int(c.a);
    }
}

TEST(Stretch, TransparencyMarkWinsOverAlpha) {
    TBitmap src = MakeBitmap(pf32bit, 2, 1);
    src.SetHasAlpha(true);
    std::uint8_t* p = src.ScanLine(0);
    const std::uint8_t bytes[] = {0, 0, 0, 0, 0, 0, 100, 100};
    std::copy(std::begin(bytes), std::end(bytes), p);
    src.SetTransparent(true);
    src.SetTransparentColor(clBlack);
    // Black is left undrawn, and the half-transparent red is copied, not blended.
    EXPECT_EQ(Rows(Drawn(src, 2, 1, kBlue)), (std::vector<std::vector<TColor>>{{kBlue, RGBColor(100, 0, 0)}}));
}

TEST(Stretch, MatchesThePlainRulesForEverySourceAndRectangle) {
    for (const NamedSource& s : Sources()) {
        const TBitmap src = s.make();
        for (const TRect& r : kRects)
            for (TPixelFormat tf : {pfDevice, pf4bit, pf16bit}) {
                SCOPED_TRACE(std::string(s.name) + " into " + FormatName(tf) + " rect " + std::to_string(r.Left) +
                             "," + std::to_string(r.Top) + "," + std::to_string(r.Right) + "," +
                             std::to_string(r.Bottom));
                TBitmap got = Filled(tf, 24, 24, clGray);
                TBitmap want = got;
                got.Canvas().StretchDraw(r, src);
                ReferenceDraw(want, r, src);
                ASSERT_EQ(Rows(got), Rows(want));
            }
    }
}

TEST(Stretch, NothingIsDrawnForEmptyOrInvertedRectanglesOrSources) {
    const TBitmap src = FromRows(pf24bit, {{kRed}});
    for (const TRect& r : {TRect{0, 0, 0, 2}, TRect{2, 2, 0, 0}, TRect{5, 5, 9, 9}, TRect{-4, 0, 0, 2}}) {
        TBitmap target = Filled(pfDevice, 3, 3, kBlue);
        target.Canvas().StretchDraw(r, src);
        EXPECT_EQ(Rows(target), Rows(Filled(pfDevice, 3, 3, kBlue)));
    }
    TBitmap target = Filled(pfDevice, 3, 3, kBlue);
    target.Canvas().StretchDraw({0, 0, 3, 3}, TBitmap());
    EXPECT_EQ(Rows(target), Rows(Filled(pfDevice, 3, 3, kBlue)));
    TBitmap empty;
    empty.Canvas().StretchDraw({0, 0, 3, 3}, src);
    EXPECT_TRUE(empty.Empty());
}

TEST(Stretch, HugeRectanglesSampleWithoutOverflow) {
    const TBitmap src = FromRows(pf24bit, {{kRed, kGreen}});
    TBitmap target = Filled(pfDevice, 2, 1, kBlue);
    target.Canvas().StretchDraw({INT_MIN, 0, INT_MAX, 1}, src);
    // Pixel 0 is i = 2^31 of 2^32 - 1 target columns: source column 1.
    EXPECT_EQ(Rows(target), (std::vector<std::vector<TColor>>{{kGreen, kGreen}}));
}

TEST(Stretch, WritesIntoABitmapWithOpacityComposeIt) {
    TBitmap target = Filled(pf32bit, 3, 1, clWhite);
    target.SetHasAlpha(true);
    target.Canvas().FillRect({0, 0, 3, 1});  // opaque white
    target.ScanLine(0)[11] = 0;              // pixel 2: clear
    target.ScanLine(0)[8] = target.ScanLine(0)[9] = target.ScanLine(0)[10] = 0;
    TBitmap src = MakeBitmap(pf32bit, 3, 1);
    src.SetHasAlpha(true);
    const std::uint8_t bytes[] = {0, 0, 100, 100, 0, 0, 0, 0, 0, 0, 100, 100};
    std::copy(std::begin(bytes), std::end(bytes), src.ScanLine(0));
    target.Canvas().StretchDraw({0, 0, 3, 1}, src);
    const std::uint8_t* out = target.ScanLine(0);
    // Over opaque white: 100 + 155 = 255 red, 155 green and blue, opaque.
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 4), (std::vector<std::uint8_t>{155, 155, 255, 255}));
    // Nothing over opaque white: unchanged.
    EXPECT_EQ(std::vector<std::uint8_t>(out + 4, out + 8), (std::vector<std::uint8_t>{255, 255, 255, 255}));
    // Over a clear pixel: the source itself, with its opacity.
    EXPECT_EQ(std::vector<std::uint8_t>(out + 8, out + 12), (std::vector<std::uint8_t>{0, 0, 100, 100}));
}

TEST(Stretch, DrawingABitmapIntoItselfReadsTheOriginal) {
    TBitmap b = FromRows(pf24bit, {{kRed, kGreen, kBlue, clTeal}});
    b.Canvas().StretchDraw({0, 0, 4, 1}, TBitmap(b));  // sanity: same picture
    b.Canvas().StretchDraw({0, 0, 2, 1}, b);
    EXPECT_EQ(Rows(b), (std::vector<std::vector<TColor>>{{kRed, kBlue, kBlue, clTeal}}));
    TBitmap c = FromRows(pf24bit, {{kRed, clWhite, RGBColor(200, 200, 200), clTeal}});
    StretchDrawReduced(c, {0, 0, 4, 1}, c, pf1bit);
    EXPECT_EQ(Rows(c), (std::vector<std::vector<TColor>>{{clBlack, clWhite, clWhite, clBlack}}));
}

TEST(StretchDrawReduced, EqualsConvertingACopyThenDrawing) {
    const TPixelFormat formats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfDevice};
    for (const NamedSource& s : Sources()) {
        const TBitmap src = s.make();
        const auto before = Rows(src);
        for (TPixelFormat f : formats)
            for (const TRect& r : kRects)
                for (TPixelFormat tf : {pfDevice, pf8bit}) {
                    SCOPED_TRACE(std::string(s.name) + " at " + FormatName(f) + " into " + FormatName(tf) +
                                 " rect " + std::to_string(r.Left) + "," + std::to_string(r.Top) + "," +
                                 std::to_string(r.Right) + "," + std::to_string(r.Bottom));
                    TBitmap got = Filled(tf, 24, 24, clGray);
                    TBitmap want = got;
                    StretchDrawReduced(got, r, src, f);
                    TBitmap copy = src;
                    copy.SetPixelFormat(f);
                    want.Canvas().StretchDraw(r, copy);
                    ASSERT_EQ(Rows(got), Rows(want));
                    for (int y = 0; y < 24; ++y)
                        ASSERT_EQ(0, std::memcmp(got.ScanLine(y), want.ScanLine(y), RowStride(24, BitsPerPixel(tf))));
                }
        EXPECT_EQ(Rows(src), before) << s.name;
    }
}

TEST(StretchDrawReduced, RefusesTheCustomFormat) {
    TBitmap target = Filled(pfDevice, 2, 2, kBlue);
    const TBitmap src = FromRows(pf24bit, {{kRed}});
    EXPECT_THROW(StretchDrawReduced(target, {0, 0, 2, 2}, src, pfCustom), EInvalidGraphic);
    EXPECT_EQ(target.Canvas().Pixel(0, 0), kBlue);
}

TEST(StretchDrawReduced, OneBitShrinkOfAPhotoLooksAtEveryPixel) {
    // One dark pixel anywhere in a 10 x 10 block of light ones darkens the block.
    TBitmap photo = Filled(pf24bit, 40, 20, RGBColor(200, 210, 220));
    photo.Canvas().SetPixel(17, 3, RGBColor(20, 30, 40));
    photo.Canvas().SetPixel(39, 19, RGBColor(20, 30, 40));
    TBitmap target = Filled(pfDevice, 4, 2, kBlue);
    StretchDrawReduced(target, {0, 0, 4, 2}, photo, pf1bit);
    EXPECT_EQ(Rows(target), (std::vector<std::vector<TColor>>{{clWhite, clBlack, clWhite, clWhite},
                                                              {clWhite, clWhite, clWhite, clBlack}}));
}

TEST(StretchDrawReduced, WideTrueColourRowsAtOneBit) {
    // Rows long enough for the grouped fast path and its tails, with colours
    // right at the black/white boundary (r + g + b of 382 is black, 383 white).
    const TColor edge[] = {RGBColor(127, 127, 128), RGBColor(128, 127, 128), RGBColor(255, 127, 0),
                           RGBColor(0, 128, 255), clBlack, clWhite};
    for (TPixelFormat sf : {pf24bit, pf32bit, pfDevice}) {
        std::mt19937 rng(21);
        TBitmap src = MakeBitmap(sf, 203, 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 203; ++x)
                src.Canvas().SetPixel(x, y, rng() % 2 ? edge[rng() % 6] : RandomColor(rng));
        if (sf == pf32bit)  // opacity bytes must not count
            for (int x = 0; x < 203; ++x) src.ScanLine(2)[4 * x + 3] = std::uint8_t(rng());
        TBitmap copy = src;
        copy.SetPixelFormat(pf1bit);
        for (const TRect& r : {TRect{0, 0, 203, 5}, TRect{0, 0, 50, 2}, TRect{-5, 0, 70, 9}, TRect{0, 0, 7, 1}}) {
            SCOPED_TRACE(FormatName(sf) + " width " + std::to_string(r.Width()));
            TBitmap got = Filled(pfDevice, 210, 9, clGray);
            TBitmap want = got;
            StretchDrawReduced(got, r, src, pf1bit);
            want.Canvas().StretchDraw(r, copy);
            ASSERT_EQ(Rows(got), Rows(want));
        }
        EXPECT_EQ(copy.Canvas().Pixel(0, 0) == clWhite,
                  Distance(src.Canvas().Pixel(0, 0), clWhite) < Distance(src.Canvas().Pixel(0, 0), clBlack));
    }
}
