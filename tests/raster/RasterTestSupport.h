#pragma once
// Small builders and independent reference answers for the raster tests.
// The references are written plainly (full scans, per-pixel loops) so that
// they do not share a fault with the tables and loops under test.

#include "Graphics.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace rastertest {

inline const std::vector<TPixelFormat>& AllFormats() {
    static const std::vector<TPixelFormat> formats{pfDevice, pf1bit, pf4bit, pf8bit,
                                                   pf15bit,  pf16bit, pf24bit, pf32bit};
    return formats;
}

inline std::string FormatName(TPixelFormat f) {
    static const char* const names[] = {"pfDevice", "pf1bit",  "pf4bit",  "pf8bit", "pf15bit",
                                        "pf16bit",  "pf24bit", "pf32bit", "pfCustom"};
    return names[int(f)];
}

inline TBitmap MakeBitmap(TPixelFormat format, int width, int height) {
    TBitmap b;
    b.SetPixelFormat(format);
    b.SetSize(width, height);
    return b;
}

inline int Distance(TColor a, TColor b) {
    const int dr = int(a & 0xFF) - int(b & 0xFF);
    const int dg = int((a >> 8) & 0xFF) - int((b >> 8) & 0xFF);
    const int db = int((a >> 16) & 0xFF) - int((b >> 16) & 0xFF);
    return dr * dr + dg * dg + db * db;
}

// Full scan, ties to the lower index.
inline int NearestIndex(const std::vector<TColor>& palette, TColor c) {
    int best = 0;
    for (int i = 1; i < int(palette.size()); ++i)
        if (Distance(palette[std::size_t(i)], c) < Distance(palette[std::size_t(best)], c)) best = i;
    return best;
}

// The nearest of the 2^bits levels an 8-bit channel can take at 5 or 6
// bits, the levels being widened by repeating their high bits.
inline int NearestChannel(int v, int bits) {
    int best = 0, bestDistance = 1000;
    for (int level = 0; level < (1 << bits); ++level) {
        const int widened = bits == 5 ? (level << 3) | (level >> 2) : (level << 2) | (level >> 4);
        if (std::abs(widened - v) < bestDistance) {
            bestDistance = std::abs(widened - v);
            best = widened;
        }
    }
    return best;
}

// The colour `c` becomes in a bitmap of `format` whose palette is `palette`.
inline TColor ExpectedStored(TPixelFormat format, const std::vector<TColor>& palette, TColor c) {
    const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    switch (format) {
        case pf1bit:
        case pf4bit:
        case pf8bit: return palette.empty() ? clBlack : palette[std::size_t(NearestIndex(palette, c))];
        case pf15bit:
            return RGBColor(std::uint8_t(NearestChannel(r, 5)), std::uint8_t(NearestChannel(g, 5)),
                            std::uint8_t(NearestChannel(b, 5)));
        case pf16bit:
            return RGBColor(std::uint8_t(NearestChannel(r, 5)), std::uint8_t(NearestChannel(g, 6)),
                            std::uint8_t(NearestChannel(b, 5)));
        default: return c & 0xFFFFFF;
    }
}

inline TColor RandomColor(std::mt19937& rng) { return TColor(rng() & 0xFFFFFF); }

// A true-colour bitmap of random colours.
inline TBitmap RandomBitmap(TPixelFormat format, int width, int height, std::uint32_t seed) {
    std::mt19937 rng(seed);
    TBitmap b = MakeBitmap(format, width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) b.Canvas().SetPixel(x, y, RandomColor(rng));
    return b;
}

// A 32-bit bitmap with premultiplied opacity: random alpha (0 and 255
// included) and colour channels at most the alpha.
inline TBitmap RandomAlphaBitmap(int width, int height, std::uint32_t seed) {
    std::mt19937 rng(seed);
    TBitmap b = MakeBitmap(pf32bit, width, height);
    b.SetHasAlpha(true);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const unsigned pick = rng() % 4;
            const unsigned a = pick == 0 ? 0 : pick == 1 ? 255 : rng() % 256;
            for (int c = 0; c < 3; ++c) row[4 * x + c] = std::uint8_t(a == 0 ? 0 : rng() % (a + 1));
            row[4 * x + 3] = std::uint8_t(a);
        }
    }
    return b;
}

inline std::vector<TColor> Pixels(const TBitmap& b) {
    std::vector<TColor> out;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) out.push_back(b.Canvas().Pixel(x, y));
    return out;
}

}  // namespace rastertest
