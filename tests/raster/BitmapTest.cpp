// The bitmap itself: sizing and its errors, copy-on-write, attributes, masks.

#include "Graphics.h"
#include "RasterTestSupport.h"

#include "Exception.h"

#include <gtest/gtest.h>

#include <climits>

using namespace rastertest;

TEST(Bitmap, NewBitmapIsEmptyTrueColour) {
    TBitmap b;
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 0);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.PixelFormat(), pfDevice);
    EXPECT_TRUE(b.Palette().empty());
    EXPECT_FALSE(b.Transparent());
    EXPECT_FALSE(b.HasAlpha());
}

TEST(Bitmap, NewPixelsAreWhiteOrIndexZero) {
    for (TPixelFormat f : AllFormats()) {
        SCOPED_TRACE(FormatName(f));
        TBitmap b = MakeBitmap(f, 3, 2);
        const TColor blank = f == pf1bit || f == pf4bit || f == pf8bit ? b.Palette()[0] : clWhite;
        for (TColor c : Pixels(b)) EXPECT_EQ(c, blank);
    }
}

TEST(Bitmap, RowPaddingIsZero) {
    for (TPixelFormat f : AllFormats()) {
        TBitmap b = MakeBitmap(f, 1, 2);
        const std::size_t used = std::size_t((BitsPerPixel(f) + 7) / 8);
        for (std::size_t i = used; i < 4; ++i) EXPECT_EQ(b.ScanLine(1)[i], 0) << FormatName(f) << " byte " << i;
    }
}

TEST(Bitmap, ResizeKeepsTheOverlapAndBlanksTheRest) {
    for (TPixelFormat f : AllFormats()) {
        SCOPED_TRACE(FormatName(f));
        TBitmap b = MakeBitmap(f, 9, 3);
        // Black is held exactly by every format; the blank is white or entry 0.
        const TColor mark = f == pf4bit || f == pf8bit ? b.Palette()[9] : (f == pf1bit ? clWhite : clBlack);
        const TColor blank = f == pf1bit || f == pf4bit || f == pf8bit ? b.Palette()[0] : clWhite;
        b.Canvas().SetPixel(8, 2, mark);
        b.Canvas().SetPixel(0, 0, mark);
        b.SetSize(17, 5);
        EXPECT_EQ(b.Canvas().Pixel(8, 2), mark);
        EXPECT_EQ(b.Canvas().Pixel(0, 0), mark);
        EXPECT_EQ(b.Canvas().Pixel(9, 2), blank);
        EXPECT_EQ(b.Canvas().Pixel(16, 4), blank);
        b.SetSize(8, 3);  // drops column 8
        b.SetSize(9, 3);
        EXPECT_EQ(b.Canvas().Pixel(8, 2), blank);
        EXPECT_EQ(b.Canvas().Pixel(0, 0), mark);
    }
}

TEST(Bitmap, SizeErrorsAreRaisedBeforeAnythingChanges) {
    struct Case {
        int width, height;
        TPixelFormat format;
        bool outOfResources;  // else out of memory
    };
    const Case cases[] = {
        {-1, 10, pfDevice, true},
        {10, -1, pf24bit, true},
        {INT_MIN, INT_MIN, pf1bit, true},
        {100000, 100000, pfDevice, false},         // 40 GB
        {INT_MAX, 1, pf32bit, false},              // the row size overflows 32 bits
        {INT_MAX / 16 + 1, 1, pf24bit, false},     // width * 24 overflows 32 bits
        {1, 1 << 30, pf32bit, false},              // 4 GiB in one column
        {100000, 100000, pf1bit, false},           // 1.25 GB, beyond the per-bitmap limit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " " + FormatName(c.format));
        TBitmap b = MakeBitmap(c.format, 4, 3);
        b.Canvas().SetPixel(1, 1, clBlack);
        if (c.outOfResources)
            EXPECT_THROW(b.SetSize(c.width, c.height), EOutOfResources);
        else
            EXPECT_THROW(b.SetSize(c.width, c.height), EOutOfMemory);
        EXPECT_EQ(b.Width(), 4);
        EXPECT_EQ(b.Height(), 3);
        EXPECT_EQ(b.Canvas().Pixel(1, 1), clBlack);
    }
}

TEST(Bitmap, OutOfMemoryMessageNamesTheSize) {
    TBitmap b;
    try {
        b.SetSize(100000, 100000);
        FAIL() << "no error";
    } catch (const EOutOfMemory& e) {
        EXPECT_NE(e.Message().find("100000 x 100000"), std::string::npos) << e.Message();
    }
}

TEST(Bitmap, WideningTheFormatChecksTheSizeToo) {
    TBitmap b = MakeBitmap(pf1bit, 16385, 16384);  // 32 MiB at one bit, just over 1 GiB at 32
    EXPECT_THROW(b.SetPixelFormat(pf32bit), EOutOfMemory);
    EXPECT_EQ(b.PixelFormat(), pf1bit);
}

TEST(Bitmap, RowStride) {
    struct Case {
        int width, bits;
        std::size_t stride;
    };
    const Case cases[] = {{0, 24, 0},  {1, 1, 4},   {32, 1, 4},  {33, 1, 8},  {1, 4, 4},    {9, 4, 8},
                          {3, 8, 4},   {5, 8, 8},   {1, 16, 4},  {3, 16, 8},  {1, 24, 4},   {4, 24, 12},
                          {5, 24, 16}, {300, 24, 900}, {1, 32, 4}, {256, 32, 1024}};
    for (const Case& c : cases) EXPECT_EQ(RowStride(c.width, c.bits), c.stride) << c.width << " at " << c.bits;
    EXPECT_THROW(RowStride(-1, 24), EOutOfResources);
    EXPECT_THROW(RowStride(INT_MAX, 32), EOutOfResources);
}

TEST(Bitmap, BitsPerPixel) {
    const int expected[] = {32, 1, 4, 8, 16, 16, 24, 32};
    for (TPixelFormat f : AllFormats()) EXPECT_EQ(BitsPerPixel(f), expected[int(f)]) << FormatName(f);
    EXPECT_THROW(BitsPerPixel(pfCustom), EInvalidGraphic);
}

TEST(Bitmap, CopiesSharePixelsUntilOneSideWrites) {
    TBitmap a = RandomBitmap(pf24bit, 5, 4, 1);
    TBitmap b = a;
    const TBitmap& ca = a;
    const TBitmap& cb = b;
    EXPECT_EQ(ca.ScanLine(0), cb.ScanLine(0)) << "a copy should not copy the pixels";

    const auto before = Pixels(a);
    b.Canvas().SetPixel(2, 2, RGBColor(1, 2, 3));
    EXPECT_EQ(Pixels(a), before);
    EXPECT_EQ(b.Canvas().Pixel(2, 2), RGBColor(1, 2, 3));

    // Each way of writing unshares: scan lines, fills, draws, conversions.
    TBitmap c = a;
    c.ScanLine(0)[0] ^= 0xFF;
    TBitmap d = a;
    d.Canvas().Brush.Color = clBlack;
    d.Canvas().FillRect({0, 0, 5, 4});
    TBitmap e = a;
    e.Canvas().StretchDraw({0, 0, 5, 4}, d);
    TBitmap f = a;
    f.SetPixelFormat(pf1bit);
    TBitmap g = a;
    g.Mask(clBlack);
    EXPECT_EQ(Pixels(a), before);

    // Assignment shares too, and the source of a copy may be written.
    TBitmap h;
    h = a;
    a.Canvas().SetPixel(0, 0, RGBColor(9, 9, 9));
    EXPECT_EQ(Pixels(h), before);
}

TEST(Bitmap, CopyKeepsEverything) {
    TBitmap a = MakeBitmap(pf8bit, 3, 3);
    std::vector<TColor> palette{clTeal, clGray, RGBColor(1, 2, 3)};
    a.SetPalette(palette);
    a.SetTransparent(true);
    a.SetTransparentColor(clGray);
    a.Canvas().SetPixel(1, 1, RGBColor(1, 2, 4));
    const TBitmap b = a;
    EXPECT_EQ(b.PixelFormat(), pf8bit);
    EXPECT_EQ(b.Palette(), palette);
    EXPECT_TRUE(b.Transparent());
    EXPECT_EQ(b.TransparentMode(), tmFixed);
    EXPECT_EQ(b.TransparentColor(), clGray);
    EXPECT_EQ(b.Canvas().Pixel(1, 1), RGBColor(1, 2, 3));
}

TEST(Bitmap, TransparentColourDefaults) {
    TBitmap mono = MakeBitmap(pf1bit, 2, 2);  // all black
    EXPECT_EQ(mono.TransparentColor(), clWhite);

    TBitmap b = MakeBitmap(pf24bit, 3, 3);
    b.Canvas().SetPixel(0, 2, RGBColor(10, 20, 30));  // bottom-left
    b.Canvas().SetPixel(0, 0, RGBColor(50, 60, 70));
    EXPECT_EQ(b.TransparentMode(), tmAuto);
    EXPECT_EQ(b.TransparentColor(), RGBColor(10, 20, 30));
    b.SetTransparentColor(clTeal);
    EXPECT_EQ(b.TransparentMode(), tmFixed);
    EXPECT_EQ(b.TransparentColor(), clTeal);
    b.SetTransparentMode(tmAuto);
    EXPECT_EQ(b.TransparentColor(), RGBColor(10, 20, 30));
}

TEST(Bitmap, AlphaBelongsTo32BitOnly) {
    TBitmap b = MakeBitmap(pf32bit, 1, 1);
    b.SetHasAlpha(true);
    EXPECT_TRUE(b.HasAlpha());
    TBitmap c = MakeBitmap(pf24bit, 1, 1);
    c.SetHasAlpha(true);
    EXPECT_FALSE(c.HasAlpha());
}

TEST(Bitmap, PaletteRules) {
    TBitmap b = MakeBitmap(pf4bit, 2, 1);
    EXPECT_THROW(b.SetPalette(std::vector<TColor>(17, clBlack)), EInvalidGraphic);
    TBitmap t = MakeBitmap(pf24bit, 2, 1);
    EXPECT_THROW(t.SetPalette({clBlack}), EInvalidGraphic);

    // Indices beyond a short palette read as black; writes choose among the
    // entries that exist.
    b.SetPalette({clWhite, RGBColor(200, 0, 0)});
    b.ScanLine(0)[0] = 0x5F;  // pixel 0 = index 5, pixel 1 = index 15
    EXPECT_EQ(b.Canvas().Pixel(0, 0), clBlack);
    b.Canvas().SetPixel(1, 0, RGBColor(180, 10, 10));
    EXPECT_EQ(b.Canvas().Pixel(1, 0), RGBColor(200, 0, 0));

    // Writes follow a palette replaced after earlier writes.
    TBitmap e = MakeBitmap(pf8bit, 1, 1);
    e.Canvas().SetPixel(0, 0, RGBColor(250, 5, 5));
    EXPECT_EQ(e.Canvas().Pixel(0, 0), RGBColor(255, 0, 0));
    const std::vector<TColor> own{clBlack, RGBColor(240, 10, 10), clWhite};
    e.SetPalette(own);
    e.Canvas().SetPixel(0, 0, RGBColor(250, 5, 5));
    EXPECT_EQ(e.Canvas().Pixel(0, 0), RGBColor(240, 10, 10));
    e.SetPixelFormat(pf4bit);
    e.SetPixelFormat(pf8bit);
    e.Canvas().SetPixel(0, 0, RGBColor(250, 5, 5));
    EXPECT_EQ(e.Canvas().Pixel(0, 0), RGBColor(255, 0, 0));
}

TEST(Bitmap, ScanLineOutsideRaises) {
    TBitmap b = MakeBitmap(pf24bit, 2, 2);
    EXPECT_THROW(b.ScanLine(2), EInvalidGraphic);
    EXPECT_THROW(b.ScanLine(-1), EInvalidGraphic);
    TBitmap empty;
    EXPECT_THROW(empty.ScanLine(0), EInvalidGraphic);
}

TEST(Bitmap, PixelAccessOutsideIsIgnored) {
    TBitmap b = MakeBitmap(pf24bit, 2, 2);
    const auto before = Pixels(b);
    for (auto [x, y] : std::initializer_list<std::pair<int, int>>{{-1, 0}, {0, -1}, {2, 0}, {0, 2}}) {
        b.Canvas().SetPixel(x, y, clBlack);
        EXPECT_EQ(b.Canvas().Pixel(x, y), 0u);
    }
    EXPECT_EQ(Pixels(b), before);
    TBitmap empty;
    EXPECT_EQ(empty.Canvas().Pixel(0, 0), 0u);
}

TEST(Bitmap, FillRectIsClippedAndStoresTheNearestColour) {
    for (TPixelFormat f : AllFormats()) {
        SCOPED_TRACE(FormatName(f));
        TBitmap b = MakeBitmap(f, 5, 4);
        const auto blank = b.Canvas().Pixel(0, 0);
        b.Canvas().Brush.Color = RGBColor(200, 100, 40);
        b.Canvas().FillRect({3, -2, 9, 2});
        const TColor stored = ExpectedStored(f, b.Palette(), RGBColor(200, 100, 40));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(b.Canvas().Pixel(x, y), x >= 3 && y < 2 ? stored : blank) << x << "," << y;
    }
}

TEST(Bitmap, MaskMarksTheKeyColourExactly) {
    for (TPixelFormat f : {pf24bit, pf32bit, pf8bit}) {
        SCOPED_TRACE(FormatName(f));
        TBitmap b = MakeBitmap(f, 9, 2);
        const TColor key = f == pf8bit ? b.Palette()[40] : RGBColor(10, 20, 30);
        const TColor near = f == pf8bit ? b.Palette()[41] : RGBColor(10, 20, 31);
        b.Canvas().SetPixel(0, 0, key);
        b.Canvas().SetPixel(8, 1, key);
        b.Canvas().SetPixel(1, 0, near);
        b.Canvas().SetPixel(2, 0, key | 0x01000000u);  // the high byte is not stored
        b.Mask(key);
        EXPECT_EQ(b.PixelFormat(), pf1bit);
        EXPECT_EQ(b.Palette(), (std::vector<TColor>{clBlack, clWhite}));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 9; ++x) {
                const bool marked = (x == 0 && y == 0) || (x == 8 && y == 1) || (x == 2 && y == 0);
                EXPECT_EQ(b.Canvas().Pixel(x, y), marked ? clWhite : clBlack) << x << "," << y;
            }
    }
}

TEST(Bitmap, MaskIgnoresTheOpacityByte) {
    TBitmap b = MakeBitmap(pf32bit, 2, 1);
    b.SetHasAlpha(true);
    std::uint8_t* row = b.ScanLine(0);
    row[0] = 3, row[1] = 2, row[2] = 1, row[3] = 255;  // (1, 2, 3) opaque
    row[4] = 3, row[5] = 2, row[6] = 1, row[7] = 7;
    b.Mask(RGBColor(1, 2, 3));
    EXPECT_EQ(b.Canvas().Pixel(0, 0), clWhite);
    EXPECT_EQ(b.Canvas().Pixel(1, 0), clWhite);
    EXPECT_FALSE(b.HasAlpha());
}

namespace {

TEST(SizeForOverwrite, GivesTheSizeAndStrideAndKeepsTheLimits) {
    for (TPixelFormat format : rastertest::AllFormats()) {
        TBitmap b;
        b.SetPixelFormat(format);
        b.SetSizeForOverwrite(33, 7);
        EXPECT_EQ(b.Width(), 33);
        EXPECT_EQ(b.Height(), 7);
        EXPECT_EQ(b.ScanLine(1) - b.ScanLine(0), std::ptrdiff_t(RowStride(33, BitsPerPixel(format))));
    }
    TBitmap b;
    EXPECT_THROW(b.SetSizeForOverwrite(-1, 1), EOutOfResources);
    EXPECT_THROW(b.SetSizeForOverwrite(100000, 100000), EOutOfMemory);
    b.SetSizeForOverwrite(0, 5);
    EXPECT_TRUE(b.Empty());
}

}  // namespace
