// Every format at widths that cross byte and word boundaries: pixel writes
// and reads, the stored row layout, and the device-independent fetch.

#include "Graphics.h"
#include "RasterTestSupport.h"

#include "Exception.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace rastertest;

namespace {

// The colour of pixel x of a stored row, decoded by hand from the layout the
// header documents.
TColor DecodeStored(TPixelFormat f, const std::vector<TColor>& palette, const std::uint8_t* row, int x) {
    auto entry = [&](unsigned i) { return i < palette.size() ? palette[i] : clBlack; };
    auto word = [&] { return unsigned(row[2 * x]) | unsigned(row[2 * x + 1]) << 8; };
    auto five = [](unsigned v) { return std::uint8_t(v << 3 | v >> 2); };
    auto six = [](unsigned v) { return std::uint8_t(v << 2 | v >> 4); };
    switch (f) {
        case pf1bit: return entry((row[x / 8] >> (7 - x % 8)) & 1);
        case pf4bit: return entry(x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 15);
        case pf8bit: return entry(row[x]);
        case pf15bit: {
            const unsigned w = word();
            EXPECT_EQ(w & 0x8000u, 0u);
            return RGBColor(five(w >> 10 & 31), five(w >> 5 & 31), five(w & 31));
        }
        case pf16bit: {
            const unsigned w = word();
            return RGBColor(five(w >> 11), six(w >> 5 & 63), five(w & 31));
        }
        case pf24bit: return RGBColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
        default: return RGBColor(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
    }
}

class FormatAtWidth : public ::testing::TestWithParam<std::tuple<TPixelFormat, int>> {
protected:
    static constexpr int kHeight = 3;
    TPixelFormat format() const { return std::get<0>(GetParam()); }
    int width() const { return std::get<1>(GetParam()); }

    // Random colours written through the canvas; returns what each pixel
    // should now hold.
    std::vector<TColor> Fill(TBitmap& b) const {
        std::mt19937 rng(std::uint32_t(width() * 10 + int(format())));
        std::vector<TColor> expected;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < width(); ++x) {
                TColor c = RandomColor(rng);
                // Indexed formats also get their entries exactly, so every
                // index occurs in the narrow formats.
                if (!b.Palette().empty() && rng() % 2) c = b.Palette()[rng() % b.Palette().size()];
                b.Canvas().SetPixel(x, y, c);
                expected.push_back(ExpectedStored(format(), b.Palette(), c));
            }
        return expected;
    }
};

}  // namespace

TEST_P(FormatAtWidth, WritesStoreTheNearestColourAndReadBack) {
    TBitmap b = MakeBitmap(format(), width(), kHeight);
    const std::vector<TColor> expected = Fill(b);
    EXPECT_EQ(Pixels(b), expected);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < width(); ++x)
            EXPECT_EQ(DecodeStored(format(), b.Palette(), b.ScanLine(y), x), expected[std::size_t(y * width() + x)])
                << "stored layout at " << x << "," << y;
}

TEST_P(FormatAtWidth, FetchesRowsBottomUpAndPadded) {
    TBitmap b = MakeBitmap(format(), width(), kHeight);
    const std::vector<TColor> expected = Fill(b);
    for (int bits : {1, 24, 32}) {
        SCOPED_TRACE(bits);
        const std::size_t stride = std::size_t((width() * bits + 31) / 32 * 4);
        const TDIBSizes sizes = GetDIBSizes(b, bits);
        EXPECT_EQ(sizes.InfoHeaderSize, bits == 1 ? 48u : 40u);
        ASSERT_EQ(sizes.ImageSize, stride * kHeight);

        std::vector<std::uint8_t> got(sizes.ImageSize, 0xAA);  // padding must be cleared
        GetDIBits(b, bits, got.data(), got.size());

        std::vector<std::uint8_t> want(sizes.ImageSize, 0);
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = want.data() + stride * std::size_t(kHeight - 1 - y);
            for (int x = 0; x < width(); ++x) {
                const TColor c = expected[std::size_t(y * width() + x)];
                if (bits == 1) {
                    if (Distance(c, clWhite) < Distance(c, clBlack)) row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
                } else {
                    std::uint8_t* p = row + x * (bits / 8);
                    p[0] = GetBValue(c), p[1] = GetGValue(c), p[2] = GetRValue(c);
                    // Writes through the canvas leave the fourth byte 0.
                }
            }
        }
        EXPECT_EQ(got, want);
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, FormatAtWidth,
                         ::testing::Combine(::testing::ValuesIn(AllFormats()),
                                            ::testing::Values(1, 7, 8, 9, 15, 31, 32, 33)),
                         [](const auto& info) {
                             return FormatName(std::get<0>(info.param)) + "_w" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(Dib, ThirtyTwoBitFetchCarriesTheStoredFourthByte) {
    TBitmap b = MakeBitmap(pf32bit, 2, 1);
    b.SetHasAlpha(true);
    std::uint8_t* row = b.ScanLine(0);
    const std::uint8_t stored[] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::copy(std::begin(stored), std::end(stored), row);
    std::vector<std::uint8_t> bits(8);
    GetDIBits(b, 32, bits.data(), bits.size());
    EXPECT_EQ(bits, std::vector<std::uint8_t>(std::begin(stored), std::end(stored)));

    // A device-format bitmap fetches 0 there, whatever its rows hold.
    TBitmap device = MakeBitmap(pfDevice, 2, 1);
    std::copy(std::begin(stored), std::end(stored), device.ScanLine(0));
    GetDIBits(device, 32, bits.data(), bits.size());
    EXPECT_EQ(bits, (std::vector<std::uint8_t>{1, 2, 3, 0, 5, 6, 7, 0}));
}

TEST(Dib, OneBitFetchOfAMaskGivesOneForTheKey) {
    TBitmap b = MakeBitmap(pf24bit, 10, 2);
    b.Canvas().SetPixel(0, 0, clTeal);
    b.Canvas().SetPixel(9, 1, clTeal);
    b.Mask(clTeal);
    std::vector<std::uint8_t> bits(8);
    GetDIBits(b, 1, bits.data(), bits.size());
    // Bottom row first: pixel 9 is bit 6 of the second byte.
    EXPECT_EQ(bits, (std::vector<std::uint8_t>{0x00, 0x40, 0, 0, 0x80, 0x00, 0, 0}));
}

TEST(Dib, OneBitFetchOfAnyColourTakesTheNearerOfBlackAndWhite) {
    const struct {
        TColor color;
        bool white;
    } cases[] = {{RGBColor(127, 127, 127), false}, {RGBColor(128, 128, 128), true}, {RGBColor(255, 0, 0), false},
                 {RGBColor(255, 255, 0), true},    {RGBColor(180, 180, 0), false}, {RGBColor(220, 220, 0), true}};
    for (const auto& c : cases) {
        TBitmap b = MakeBitmap(pf24bit, 1, 1);
        b.Canvas().SetPixel(0, 0, c.color);
        std::uint8_t bits[4] = {};
        GetDIBits(b, 1, bits, sizeof bits);
        EXPECT_EQ(bits[0], c.white ? 0x80 : 0x00) << std::hex << c.color;
    }
}

TEST(Dib, IconSizes) {
    const struct {
        int w, h, bits;
        std::size_t colour, mask;
    } cases[] = {{16, 16, 24, 768, 64},         {16, 16, 32, 1024, 64},      {32, 32, 24, 3072, 128},
                 {48, 48, 24, 6912, 384},        {256, 256, 32, 262144, 8192}, {300, 200, 24, 180000, 8000},
                 {1, 1, 24, 4, 4}};
    for (const auto& c : cases) {
        const TBitmap b = MakeBitmap(pfDevice, c.w, c.h);
        EXPECT_EQ(GetDIBSizes(b, c.bits).ImageSize, c.colour) << c.w << " x " << c.h;
        EXPECT_EQ(GetDIBSizes(b, 1).ImageSize, c.mask) << c.w << " x " << c.h;
    }
}

TEST(Dib, EmptyBitmapsAndBadRequestsAreRefused) {
    for (auto [w, h] : std::initializer_list<std::pair<int, int>>{{0, 0}, {5, 0}, {0, 5}}) {
        const TBitmap b = MakeBitmap(pf24bit, w, h);
        std::uint8_t bits[64] = {};
        for (int depth : {1, 24, 32}) {
            try {
                GetDIBSizes(b, depth);
                ADD_FAILURE() << "sizes of an empty bitmap";
            } catch (const EInvalidGraphic& e) {
                EXPECT_EQ(e.Message(), "Bitmap image is not valid");
            }
            EXPECT_THROW(GetDIBits(b, depth, bits, sizeof bits), EInvalidGraphic);
        }
    }
    const TBitmap b = MakeBitmap(pf24bit, 4, 4);
    std::vector<std::uint8_t> small(GetDIBSizes(b, 24).ImageSize - 1);
    EXPECT_THROW(GetDIBits(b, 24, small.data(), small.size()), EInvalidGraphic);
    std::vector<std::uint8_t> enough(64);
    EXPECT_THROW(GetDIBits(b, 8, enough.data(), enough.size()), EInvalidGraphic);
}
