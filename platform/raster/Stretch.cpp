// Stretch drawing: TCanvas::StretchDraw and StretchDrawReduced.
//
// Sampling is nearest-neighbour. Target pixel i of a rectangle dstW pixels
// wide takes source column floor(i * srcW / dstW), and rows likewise: a
// 2 x 2 source drawn to 4 x 4 repeats each pixel in a 2 x 2 block, a 4 x 4
// source drawn to 2 x 2 keeps the top-left pixel of each 2 x 2 block.
//
// A one-bit source instead combines every source pixel that falls on a
// target pixel: target column i covers source columns
// [floor(i * srcW / dstW), floor((i + 1) * srcW / dstW)), at least one, and
// rows likewise; the colours found there are joined by bitwise AND, so black
// wins over white. When the one-bit source is enlarged each span is one
// pixel, which is plain sampling again.
//
// Then, in this order of precedence: a source marked transparent leaves the
// pixels of its transparent colour undrawn (for a one-bit source, those whose
// combined colour is the transparent colour); a 32-bit source with
// premultiplied opacity a is blended over the target channel by channel,
//     out = src + round(dst * (255 - a) / 255), at most 255;
// anything else is copied. The target stores the nearest colour its format
// holds.
//
// StretchDrawReduced reduces each sampled source pixel as SetPixelFormat
// would (indexed sources through their palette once), so it draws exactly
// what converting a copy first would, without the copy.

#include "Palettes.h"
#include "PixelFormats.h"
#include "Reduction.h"
#include "RowOps.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

using namespace raster;

namespace {

// Target pixel i of `count` maps to source pixel floor(i * from / count).
inline int SourceIndex(std::int64_t i, int from, int count) { return int(i * from / count); }

void Draw(TBitmap& target, const TRect& rect, const TBitmap& sourceArg, TPixelFormat copyFormat) {
    BitsPerPixel(copyFormat);  // rejects pfCustom before anything else
    const int dstW = rect.Width(), dstH = rect.Height();
    if (target.Empty() || sourceArg.Empty() || dstW <= 0 || dstH <= 0) return;
    const int x0 = std::max(rect.Left, 0), x1 = std::min(rect.Right, target.Width());
    const int y0 = std::max(rect.Top, 0), y1 = std::min(rect.Bottom, target.Height());
    if (x0 >= x1 || y0 >= y1) return;

    // A copy shares the pixels at no cost and stays valid when the target is
    // the source itself: the target's first write then unshares.
    const TBitmap source = sourceArg;
    const TPixelFormat sourceFormat = source.PixelFormat();
    const int srcW = source.Width(), srcH = source.Height();
    const bool same = copyFormat == sourceFormat;
    const std::vector<TColor> copyPalette = same ? source.Palette() : ConversionPalette(copyFormat, source);
    // pf24bit stands for "keep the colours" when nothing is converted.
    ColorReducer reducer(same ? pf24bit : copyFormat, copyPalette);

    // Source palette entries as they come out of the conversion.
    std::array<TColor, 256> sourcePalette = FullPalette(source.Palette());
    if (IsIndexed(sourceFormat))
        for (TColor& c : sourcePalette) c = reducer.Reduce(c);

    bool keyed = source.Transparent();
    TColor key = 0;
    if (keyed) {
        if (same || source.TransparentMode() == tmFixed)
            key = source.TransparentColor();
        else if (copyFormat == pf1bit)
            key = clWhite;
        else
            key = reducer.Reduce(source.Canvas().Pixel(0, srcH - 1));
    }
    const bool blend = !keyed && same && source.HasAlpha();
    const bool oneBit = copyFormat == pf1bit;

    const int n = x1 - x0;
    std::vector<int> columns(std::size_t(n) + 1);
    for (int k = 0; k <= n; ++k) columns[std::size_t(k)] = SourceIndex(x0 - rect.Left + k, srcW, dstW);
    // columns[n] is only a span end and may equal srcW.

    const TPixelFormat targetFormat = target.PixelFormat();
    const std::array<TColor, 256> targetPalette = FullPalette(target.Palette());
    Quantizer targetQuantizer(target.Palette());
    const bool targetAlpha = target.HasAlpha();
    const std::uint8_t targetFourth = targetAlpha ? 255 : 0;

    std::vector<TColor> colors(static_cast<std::size_t>(n));
    std::vector<TColor> under(blend ? std::size_t(n) : 0);
    std::vector<std::uint8_t> alphas(blend ? std::size_t(n) : 0);
    std::vector<std::uint8_t> fourths(blend && targetAlpha ? std::size_t(n) : 0);
    std::vector<std::uint8_t> keep(keyed ? std::size_t(n) : 0);
    std::vector<std::uint8_t> seen(oneBit ? std::size_t(n) : 0);

    // One-bit copies: each source palette index (or colour) mapped to 0 or 1
    // of the copy's two entries.
    const TColor entry0 = copyPalette.size() > 0 ? copyPalette[0] : clBlack;
    const TColor entry1 = copyPalette.size() > 1 ? copyPalette[1] : clBlack;
    const TwoColorTest two(entry0, entry1);
    std::array<std::uint8_t, 256> bitOf{};
    if (oneBit) {
        const auto raw = FullPalette(source.Palette());
        for (std::size_t i = 0; i < 256; ++i) bitOf[i] = std::uint8_t(same ? (i & 1u) : two.Index(raw[i]));
    }

    DispatchFormat(sourceFormat, [&](auto s) {
        using S = decltype(s);
        DispatchFormat(targetFormat, [&](auto t) {
            using T = decltype(t);
            for (int y = y0; y < y1; ++y) {
                const std::int64_t j = y - rect.Top;
                if (oneBit) {
                    const int rowBegin = SourceIndex(j, srcH, dstH);
                    const int rowEnd = std::max(rowBegin + 1, SourceIndex(j + 1, srcH, dstH));
                    std::fill(seen.begin(), seen.end(), std::uint8_t(0));
                    for (int sy = rowBegin; sy < rowEnd; ++sy) {
                        const std::uint8_t* row = source.ScanLine(sy);
                        for (int k = 0; k < n; ++k) {
                            const int begin = columns[std::size_t(k)];
                            const int end = std::max(begin + 1, columns[std::size_t(k) + 1]);
                            unsigned flags = seen[std::size_t(k)];
                            for (int sx = begin; sx < end && flags != 3u; ++sx) {
                                if constexpr (S::kIndexed)
                                    flags |= 1u << bitOf[S::Index(row, sx)];
                                else
                                    flags |= 1u << two.Index(S::Color(row, sx));
                            }
                            seen[std::size_t(k)] = std::uint8_t(flags);
                        }
                    }
                    for (int k = 0; k < n; ++k) {
                        const unsigned flags = seen[std::size_t(k)];
                        colors[std::size_t(k)] = (flags & 1u ? entry0 : 0xFFFFFFu) & (flags & 2u ? entry1 : 0xFFFFFFu);
                    }
                } else {
                    const std::uint8_t* row = source.ScanLine(SourceIndex(j, srcH, dstH));
                    ReadColors<S>(row, columns.data(), 0, n, sourcePalette.data(), colors.data());
                    if constexpr (!S::kIndexed) reducer.ReduceRow(colors.data(), n);
                    if (blend) ReadFourths(row, columns.data(), 0, n, alphas.data());
                }

                std::uint8_t* out = target.ScanLine(y);
                if (keyed)
                    for (int k = 0; k < n; ++k) keep[std::size_t(k)] = colors[std::size_t(k)] != key;
                if (blend) {
                    ReadColors<T>(out, nullptr, x0, n, targetPalette.data(), under.data());
                    if (targetAlpha) ReadFourths(out, nullptr, x0, n, fourths.data());
                    for (int k = 0; k < n; ++k) {
                        const unsigned a = alphas[std::size_t(k)];
                        const auto over = [a](unsigned src, unsigned dst) {
                            return std::min(255u, src + (dst * (255u - a) + 127u) / 255u);
                        };
                        const TColor sc = colors[std::size_t(k)], dc = under[std::size_t(k)];
                        colors[std::size_t(k)] =
                            RGBColor(std::uint8_t(over(GetRValue(sc), GetRValue(dc))),
                                     std::uint8_t(over(GetGValue(sc), GetGValue(dc))),
                                     std::uint8_t(over(GetBValue(sc), GetBValue(dc))));
                        if (targetAlpha) fourths[std::size_t(k)] = std::uint8_t(over(a, fourths[std::size_t(k)]));
                    }
                }
                WriteColors<T>(out, x0, n, colors.data(), keyed ? keep.data() : nullptr, &targetQuantizer,
                               blend && targetAlpha ? fourths.data() : nullptr, targetFourth);
            }
        });
    });
}

}  // namespace

void TCanvas::StretchDraw(const TRect& rect, const TBitmap& source) {
    Draw(owner_, rect, source, source.PixelFormat());
}

void StretchDrawReduced(TBitmap& target, const TRect& rect, const TBitmap& source, TPixelFormat format) {
    Draw(target, rect, source, format);
}
