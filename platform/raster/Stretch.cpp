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

#include "StretchSampler.h"

#include "Exception.h"
#include "Palettes.h"
#include "PixelFormats.h"
#include "Reduction.h"
#include "RowOps.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace raster;

namespace {

// Target pixel i of `count` maps to source pixel floor(i * from / count).
// 64-bit throughout: rectangles may be as wide as the int range allows.
inline int SourceIndex(std::int64_t i, int from, std::int64_t count) { return int(i * from / count); }

#if defined(__SSE2__)
// Four pixels of 24-bit data at bytes 0..11 of v moved to 32-bit slots
// (pixel k from byte 3k to byte 4k); the fourth byte of each slot is 0.
inline __m128i SpreadPixels24(__m128i v) {
    const __m128i m0 = _mm_setr_epi32(0x00FFFFFF, 0, 0, 0);
    const __m128i m1 = _mm_setr_epi32(0, 0x00FFFFFF, 0, 0);
    const __m128i m2 = _mm_setr_epi32(0, 0, 0x00FFFFFF, 0);
    const __m128i m3 = _mm_setr_epi32(0, 0, 0, 0x00FFFFFF);
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(v, m0), _mm_and_si128(_mm_slli_si128(v, 1), m1)),
                        _mm_or_si128(_mm_and_si128(_mm_slli_si128(v, 2), m2), _mm_and_si128(_mm_slli_si128(v, 3), m3)));
}

// The linear test of four pixels in 32-bit slots (B, G, R, x): -1 in the
// lanes of the pixels nearer entry 1. `weights` is (b, g, r, 0) twice.
inline __m128i NearerToEntry1(__m128i pixels, __m128i weights, __m128i threshold) {
    const __m128i zero = _mm_setzero_si128();
    // pmaddwd pairs (b, g) and (r, x) of each pixel into 32-bit sums.
    const __m128i m0 = _mm_madd_epi16(_mm_unpacklo_epi8(pixels, zero), weights);
    const __m128i m1 = _mm_madd_epi16(_mm_unpackhi_epi8(pixels, zero), weights);
    const __m128 f0 = _mm_castsi128_ps(m0), f1 = _mm_castsi128_ps(m1);
    const __m128i bg = _mm_castps_si128(_mm_shuffle_ps(f0, f1, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i r = _mm_castps_si128(_mm_shuffle_ps(f0, f1, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_cmpgt_epi32(_mm_add_epi32(bg, r), threshold);
}
#endif

// bits[i] = 1 when pixel first + i of a true-colour row (3 or 4 bytes per
// pixel, B, G, R first) is nearer entry 1 of `two`, for i < count. Every
// pixel of a one-bit shrink passes through here, so it works on 8 pixels at
// a time where SSE2 is there (always on x86-64).
template <int Bytes>
void NearerBits(const std::uint8_t* row, int first, int count, const TwoColorTest& two, std::uint8_t* bits) {
    const std::uint8_t* p = row + std::ptrdiff_t(first) * Bytes;
    int i = 0;
#if defined(__SSE2__)
    const __m128i weights = _mm_setr_epi16(std::int16_t(two.BlueWeight()), std::int16_t(two.GreenWeight()),
                                           std::int16_t(two.RedWeight()), 0, std::int16_t(two.BlueWeight()),
                                           std::int16_t(two.GreenWeight()), std::int16_t(two.RedWeight()), 0);
    const __m128i threshold = _mm_set1_epi32(two.Threshold());
    const __m128i one = _mm_set1_epi8(1);
    for (; i + 8 <= count; i += 8) {
        const std::uint8_t* q = p + std::ptrdiff_t(i) * Bytes;
        __m128i low, high;  // pixels 0..3 and 4..7
        if constexpr (Bytes == 4) {
            low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16));
        } else {
            // Exactly the group's 24 bytes are read: 16, then 8.
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(q + 16));
            low = SpreadPixels24(a);
            high = SpreadPixels24(_mm_or_si128(_mm_srli_si128(a, 12), _mm_slli_si128(b, 4)));
        }
        const __m128i words = _mm_packs_epi32(NearerToEntry1(low, weights, threshold),
                                              NearerToEntry1(high, weights, threshold));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bits + i), _mm_and_si128(_mm_packs_epi16(words, words), one));
    }
#endif
    for (; i < count; ++i) {
        const std::uint8_t* q = p + std::ptrdiff_t(i) * Bytes;
        bits[i] = std::uint8_t(two.Index(q[2], q[1], q[0]));
    }
}

// How a one-bit copy sees the source: its two entries and, for each source
// pixel, which of them it becomes. Shared by the drawing and by the sampler
// that stands in for a picture arriving row by row.
struct OneBitRule {
    TColor Entry0, Entry1;
    TwoColorTest Two;
    // Indexed sources: each palette index mapped to 0 or 1.
    std::array<std::uint8_t, 256> BitOf{};

    // `copyPalette` is the one-bit copy's table; `same` when the source is
    // itself one-bit (its indices are then kept as they are).
    OneBitRule(const std::vector<TColor>& sourcePalette, const std::vector<TColor>& copyPalette, bool same)
        : Entry0(copyPalette.size() > 0 ? copyPalette[0] : clBlack),
          Entry1(copyPalette.size() > 1 ? copyPalette[1] : clBlack),
          Two(Entry0, Entry1) {
        const auto raw = FullPalette(sourcePalette);
        for (std::size_t i = 0; i < 256; ++i) BitOf[i] = std::uint8_t(same ? (i & 1u) : Two.Index(raw[i]));
    }

    // bits[i] = the entry (0 or 1) that source pixel first + i of `row`
    // becomes, for i < count.
    template <class S>
    void RowBits(const std::uint8_t* row, int first, int count, std::uint8_t* bits) const {
        if constexpr (std::is_same_v<S, Format24> || std::is_same_v<S, Format32>) {
            NearerBits<S::kBits / 8>(row, first, count, Two, bits);
        } else if constexpr (S::kIndexed) {
            for (int i = 0; i < count; ++i) bits[i] = BitOf[S::Index(row, first + i)];
        } else {
            for (int i = 0; i < count; ++i) bits[i] = std::uint8_t(Two.Index(S::Color(row, first + i)));
        }
    }
};

// Adds to ones[k] the number of pixels in columns [begins[k], ends[k]) of
// one source row that reduce to entry 1. The spans are consecutive, so the
// row's bits are worked out once over their union and then summed per span.
template <class S>
void CountOnes(const std::uint8_t* row, const int* begins, const int* ends, int n, const OneBitRule& rule,
               std::uint8_t* bits, std::uint64_t* ones) {
    const int first = begins[0];
    rule.RowBits<S>(row, first, ends[n - 1] - first, bits);
    for (int k = 0; k < n; ++k) {
        unsigned sum = 0;
        for (int i = begins[k] - first, end = ends[k] - first; i < end; ++i) sum += bits[i];
        ones[k] += sum;
    }
}

void Draw(TBitmap& target, const TRect& rect, const TBitmap& sourceArg, TPixelFormat copyFormat) {
    BitsPerPixel(copyFormat);  // rejects pfCustom before anything else
    const std::int64_t dstW = std::int64_t(rect.Right) - rect.Left, dstH = std::int64_t(rect.Bottom) - rect.Top;
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
    for (int k = 0; k <= n; ++k) columns[std::size_t(k)] = SourceIndex(std::int64_t(x0) - rect.Left + k, srcW, dstW);
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
    // One-bit copies: per target column the source span and, summed over
    // the span's rows, how many of its pixels are entry 1.
    std::vector<int> spanBegin(oneBit ? std::size_t(n) : 0), spanEnd(oneBit ? std::size_t(n) : 0);
    std::vector<std::uint64_t> ones(oneBit ? std::size_t(n) : 0);
    std::vector<std::uint8_t> rowBits(oneBit ? std::size_t(srcW) : 0);
    for (std::size_t k = 0; k < spanBegin.size(); ++k) {
        spanBegin[k] = columns[k];
        spanEnd[k] = std::max(columns[k] + 1, columns[k + 1]);
    }

    const OneBitRule rule(source.Palette(), copyPalette, same);
    const TColor entry0 = rule.Entry0, entry1 = rule.Entry1;

    DispatchFormat(sourceFormat, [&](auto s) {
        using S = decltype(s);
        DispatchFormat(targetFormat, [&](auto t) {
            using T = decltype(t);
            for (int y = y0; y < y1; ++y) {
                const std::int64_t j = std::int64_t(y) - rect.Top;
                if (oneBit) {
                    const int rowBegin = SourceIndex(j, srcH, dstH);
                    const int rowEnd = std::max(rowBegin + 1, SourceIndex(j + 1, srcH, dstH));
                    std::fill(ones.begin(), ones.end(), 0u);
                    for (int sy = rowBegin; sy < rowEnd; ++sy)
                        CountOnes<S>(source.ScanLine(sy), spanBegin.data(), spanEnd.data(), n, rule, rowBits.data(),
                                     ones.data());
                    for (int k = 0; k < n; ++k) {
                        const std::size_t i = std::size_t(k);
                        const std::uint64_t total =
                            std::uint64_t(spanEnd[i] - spanBegin[i]) * std::uint64_t(rowEnd - rowBegin);
                        const TColor join0 = ones[i] < total ? entry0 : 0xFFFFFFu;
                        const TColor join1 = ones[i] > 0 ? entry1 : 0xFFFFFFu;
                        colors[i] = join0 & join1;
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

// ---------------------------------------------------------------------------
// TStretchSampler

namespace {

// Source index i of `count` targets over `from` sources, as the drawing
// samples it; for a shrink the indices are strictly increasing.
std::vector<int> SampledIndices(int from, int count) {
    std::vector<int> indices(std::size_t(count) + 1);
    for (int k = 0; k <= count; ++k) indices[std::size_t(k)] = SourceIndex(k, from, count);
    return indices;
}

}  // namespace

TStretchSampler::TStretchSampler(int width, int height, TPixelFormat format, const std::vector<TColor>& palette,
                                 bool hasAlpha, int targetWidth, int targetHeight, TPixelFormat drawFormat)
    : width_(width), height_(height), format_(format), palette_(palette) {
    BitsPerPixel(format);
    BitsPerPixel(drawFormat);
    if (width < 1 || height < 1 || targetWidth < 1 || targetHeight < 1)
        throw EInvalidGraphic("Bitmap image is not valid");
    const bool shrinkColumns = targetWidth < width, shrinkRows = targetHeight < height;
    summarise_ = drawFormat == pf1bit && (shrinkColumns || shrinkRows);
    rowSlot_.assign(std::size_t(height), -1);

    if (!summarise_) {
        // Plain sampling: when a side shrinks, the stand-in keeps the sampled
        // line for each target line (so it maps one to one); otherwise it
        // keeps every line and the drawing samples it as it would the picture.
        const std::vector<int> rows = SampledIndices(height, targetHeight);
        const int keptRows = shrinkRows ? targetHeight : height;
        for (int j = 0; j < keptRows; ++j) rowSlot_[std::size_t(shrinkRows ? rows[std::size_t(j)] : j)] = j;
        if (shrinkColumns) {
            columns_ = SampledIndices(width, targetWidth);
            columns_.pop_back();
        }
        kept_.SetPixelFormat(format);
        kept_.SetHasAlpha(hasAlpha);
        kept_.SetSize(shrinkColumns ? targetWidth : width, keptRows);
        if (!palette.empty()) kept_.SetPalette(palette);
        return;
    }

    // Summarising: the spans the one-bit drawing joins. A span covers at
    // least one source line; when a side does not shrink each span is one.
    const int spans = shrinkColumns ? targetWidth : width;
    columns_.resize(std::size_t(spans));
    spanEnd_.resize(std::size_t(spans));
    const std::vector<int> cols = SampledIndices(width, targetWidth);
    for (int k = 0; k < spans; ++k) {
        columns_[std::size_t(k)] = shrinkColumns ? cols[std::size_t(k)] : k;
        spanEnd_[std::size_t(k)] = shrinkColumns ? std::max(cols[std::size_t(k)] + 1, cols[std::size_t(k) + 1]) : k + 1;
    }
    summaryRows_ = shrinkRows ? targetHeight : height;
    if (shrinkRows) {
        const std::vector<int> rows = SampledIndices(height, targetHeight);
        for (int j = 0; j < targetHeight; ++j)
            for (int y = rows[std::size_t(j)]; y < std::max(rows[std::size_t(j)] + 1, rows[std::size_t(j) + 1]); ++y)
                rowSlot_[std::size_t(y)] = j;
    } else {
        for (int y = 0; y < height; ++y) rowSlot_[std::size_t(y)] = y;
    }
    seen_.assign(std::size_t(spans) * std::size_t(summaryRows_), 0);
    rowBits_.resize(std::size_t(width));
}

void TStretchSampler::AddRow(int y, const std::uint8_t* row) {
    if (!NeedsRow(y)) return;
    const int slot = rowSlot_[std::size_t(y)];
    if (!summarise_) {
        std::uint8_t* out = kept_.ScanLine(slot);
        if (columns_.empty()) {
            std::memcpy(out, row, RowStride(width_, BitsPerPixel(format_)));
            return;
        }
        DispatchFormat(format_, [&](auto s) {
            using S = decltype(s);
            const int n = int(columns_.size());
            if constexpr (S::kBits >= 8) {
                constexpr std::size_t bytes = S::kBits / 8;
                for (int k = 0; k < n; ++k)
                    std::memcpy(out + std::size_t(k) * bytes, row + std::size_t(columns_[std::size_t(k)]) * bytes,
                                bytes);
            } else {
                for (int k = 0; k < n; ++k) S::SetIndex(out, k, S::Index(row, columns_[std::size_t(k)]));
            }
        });
        return;
    }

    const bool same = format_ == pf1bit;
    const OneBitRule rule(palette_, same ? palette_ : ConversionPalette(pf1bit, palette_), same);
    const int first = columns_.front(), count = spanEnd_.back() - first;
    DispatchFormat(format_, [&](auto s) { rule.RowBits<decltype(s)>(row, first, count, rowBits_.data()); });
    std::uint8_t* seen = seen_.data() + std::size_t(slot) * columns_.size();
    for (std::size_t k = 0; k < columns_.size(); ++k) {
        unsigned found = 0;
        for (int i = columns_[k] - first, end = spanEnd_[k] - first; i < end && found != 3; ++i)
            found |= rowBits_[std::size_t(i)] ? 2u : 1u;
        seen[k] |= std::uint8_t(found);
    }
}

TBitmap TStretchSampler::StandIn() const {
    if (!summarise_) return kept_;

    // A one-bit picture whose palette is the copy's two entries and in which
    // each summary cell becomes two pixels along a side the drawing shrinks:
    // (0, 1) when the span held both entries, (0, 0) or (1, 1) when it held
    // one. The drawing joins exactly those two, so each target pixel comes
    // out as it would from the whole span.
    const bool same = format_ == pf1bit;
    const OneBitRule rule(palette_, same ? palette_ : ConversionPalette(pf1bit, palette_), same);
    const int spans = int(columns_.size());
    const bool pairsAcross = spans < width_;
    TBitmap standIn;
    standIn.SetPixelFormat(pf1bit);
    standIn.SetSize(pairsAcross ? spans * 2 : spans, pairsAcross ? summaryRows_ : summaryRows_ * 2);
    standIn.SetPalette({rule.Entry0, rule.Entry1});
    for (int j = 0; j < summaryRows_; ++j) {
        const std::uint8_t* seen = seen_.data() + std::size_t(j) * std::size_t(spans);
        std::uint8_t* first = standIn.ScanLine(pairsAcross ? j : 2 * j);
        std::uint8_t* second = pairsAcross ? first : standIn.ScanLine(2 * j + 1);
        for (int k = 0; k < spans; ++k) {
            const unsigned has0 = seen[k] & 1u, has1 = (seen[k] >> 1) & 1u;
            if (pairsAcross) {
                Format1::SetIndex(first, 2 * k, has0 ? 0 : 1);
                Format1::SetIndex(first, 2 * k + 1, has1 ? 1 : 0);
            } else {
                Format1::SetIndex(first, k, has0 ? 0 : 1);
                Format1::SetIndex(second, k, has1 ? 1 : 0);
            }
        }
    }
    return standIn;
}
