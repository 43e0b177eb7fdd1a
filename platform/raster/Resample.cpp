// TResampler: streaming box, Lanczos-3 and nearest scaling (see Resample.h).

#include "Resample.h"

#include "ImageLimits.h"
#include "PixelFormats.h"
#include "RowOps.h"

#include "Exception.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

using namespace raster;

namespace {

// Fixed-point unit of the vertical sums: a term is cut to a multiple of
// 2^-40 (toward zero). Terms stay below 2 in magnitude (premultiplied values
// in 0..1, overshot a little by Lanczos lobes, times weights below 1.3), and
// so do the sums, far from the 2^63 limit; the error of even 65535 terms
// stays below 10^-7, a thousandth of the smallest step of the result.
constexpr double kFixedOne = 1099511627776.0;  // 2^40

// Four channels at once (B, G, R, A), for the compiler's vector units.
using TFour = float __attribute__((vector_size(16)));
inline TFour Load(const float* p) {
    TFour v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// sRGB value to linear light, for all 256 levels.
const std::array<float, 256>& LinearTable() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int v = 0; v < 256; ++v) {
            const double c = v / 255.0;
            t[std::size_t(v)] = float(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        return t;
    }();
    return table;
}

// Linear light (clamped to 0..1) to the nearest sRGB level.
std::uint8_t ToSrgb(double linear) {
    if (!(linear > 0)) return 0;
    if (linear >= 1) return 255;
    const double c = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return std::uint8_t(std::clamp(std::lround(c * 255), 0L, 255L));
}

double Sinc(double x) {
    if (x == 0.0) return 1.0;
    x *= std::numbers::pi;
    return std::sin(x) / x;
}

bool Inside(const TResampleRect& r, int width, int height) {
    return r.Width >= 1 && r.Height >= 1 && r.Left >= 0 && r.Top >= 0 && r.Left <= width - r.Width &&
           r.Top <= height - r.Height;
}

std::string Describe(const TResampleRect& r) {
    return std::to_string(r.Width) + " x " + std::to_string(r.Height) + " at (" + std::to_string(r.Left) + ", " +
           std::to_string(r.Top) + ")";
}

}  // namespace

double TResampler::Kernel(double x) const {
    if (filter_ == TResampleFilter::Box) return x > -0.5 && x <= 0.5 ? 1.0 : 0.0;
    return x >= -3.0 && x < 3.0 ? Sinc(x) * Sinc(x / 3.0) : 0.0;
}

TResampler::TAxis TResampler::MakeAxis(int in, int out) const {
    TAxis axis;
    const double scale = double(in) / double(out);
    axis.stretch = std::max(scale, 1.0);
    const double support = (filter_ == TResampleFilter::Box ? 0.5 : 3.0) * axis.stretch;
    for (int i = 0; i < out; ++i) {
        const double center = (i + 0.5) * scale;
        const int first = std::max(int(center - support + 0.5), 0);
        const int end = std::min(int(center + support + 0.5), in);
        double sum = 0;
        for (int x = first; x < end; ++x) sum += Kernel((x - center + 0.5) / axis.stretch);
        axis.first.push_back(first);
        axis.count.push_back(std::max(end - first, 0));
        axis.center.push_back(center);
        // A sum of 0 leaves the weights as they are, as Pillow does; with
        // these kernels it does not happen.
        axis.inverse.push_back(sum != 0 ? 1.0 / sum : 1.0);
    }
    return axis;
}

TResampler::TResampler(int width, int height, TResampleRect from, int targetWidth, int targetHeight, TResampleRect to,
                       TResampleFilter filter)
    : targetWidth_(targetWidth), targetHeight_(targetHeight), from_(from), to_(to),
      filter_(filter) {
    if (width < 1 || height < 1 || targetWidth < 1 || targetHeight < 1)
        throw EInvalidGraphic("Scaling needs a source and a target of at least 1 x 1 pixels (source " +
                              std::to_string(width) + " x " + std::to_string(height) + ", target " +
                              std::to_string(targetWidth) + " x " + std::to_string(targetHeight) + ")");
    if (targetWidth > kMaxImageSide || targetHeight > kMaxImageSide ||
        std::uint64_t(targetWidth) * std::uint64_t(targetHeight) > kMaxImagePixels)
        throw EInvalidGraphic("The scaled picture would be too large (" + std::to_string(targetWidth) + " x " +
                              std::to_string(targetHeight) + " pixels)");
    if (!Inside(from, width, height))
        throw EInvalidGraphic("The part of the picture to scale (" + Describe(from) +
                              ") is empty or does not lie inside the picture");
    if (!Inside(to, targetWidth, targetHeight))
        throw EInvalidGraphic("The place of the scaled picture (" + Describe(to) +
                              ") is empty or does not lie inside the target");

    if (filter == TResampleFilter::Nearest) {
        for (int i = 0; i < to.Width; ++i)
            nearestColumn_.push_back(int(std::int64_t(i) * from.Width / to.Width));
        for (int j = 0; j < to.Height; ++j) nearestRow_.push_back(int(std::int64_t(j) * from.Height / to.Height));
        // The sampled rows ascend: each new value is one more needed row.
        for (std::size_t j = 0; j < nearestRow_.size(); ++j)
            if (j == 0 || nearestRow_[j] != nearestRow_[j - 1]) ++neededRows_;
        nearest_ = TRgbaImage(targetWidth, targetHeight);
        return;
    }

    across_ = MakeAxis(from.Width, to.Width);
    down_ = MakeAxis(from.Height, to.Height);

    // The horizontal weights, normalised once: the per-row work is then
    // plain multiply-adds.
    for (int i = 0; i < to.Width; ++i) {
        columnStart_.push_back(columnWeights_.size());
        const std::size_t k = std::size_t(i);
        for (int n = 0; n < across_.count[k]; ++n) {
            const double x = across_.first[k] + n;
            columnWeights_.push_back(
                float(Kernel((x - across_.center[k] + 0.5) / across_.stretch) * across_.inverse[k]));
        }
    }
    columnStart_.push_back(columnWeights_.size());

    // The rows any target row reaches: the tap ranges ascend with the target
    // row, so their union is counted in one pass.
    int covered = 0;
    for (std::size_t j = 0; j < down_.first.size(); ++j) {
        const int begin = std::max(down_.first[j], covered);
        const int end = down_.first[j] + down_.count[j];
        if (end > begin) neededRows_ += end - begin;
        covered = std::max(covered, end);
    }

    linear_.assign(std::size_t(from.Width) * 4, 0.0f);
    filtered_.assign(std::size_t(to.Width) * 4, 0.0f);
    sums_.assign(std::size_t(to.Width) * std::size_t(to.Height) * 4, 0);
}

void TResampler::TargetRows(int r, int& begin, int& end) const {
    // Both ends of the tap ranges ascend with the target row: the rows whose
    // range holds r are contiguous.
    const auto& first = down_.first;
    const auto& count = down_.count;
    int lo = 0, hi = int(first.size());
    while (lo < hi) {  // the first target row whose range ends after r
        const int mid = (lo + hi) / 2;
        if (first[std::size_t(mid)] + count[std::size_t(mid)] > r)
            hi = mid;
        else
            lo = mid + 1;
    }
    begin = end = lo;
    while (end < int(first.size()) && first[std::size_t(end)] <= r) ++end;
}

bool TResampler::NeedsRow(int y) const {
    const int r = y - from_.Top;
    if (r < 0 || r >= from_.Height) return false;
    if (filter_ == TResampleFilter::Nearest)
        return std::binary_search(nearestRow_.begin(), nearestRow_.end(), r);
    int begin = 0, end = 0;
    TargetRows(r, begin, end);
    return end > begin;
}

void TResampler::AddRow(int y, const std::uint8_t* bgra) {
    if (!NeedsRow(y)) return;
    ++addedRows_;
    const int r = y - from_.Top;
    const std::uint8_t* source = bgra + std::size_t(from_.Left) * 4;

    if (filter_ == TResampleFilter::Nearest) {
        const auto range = std::equal_range(nearestRow_.begin(), nearestRow_.end(), r);
        for (auto j = range.first; j != range.second; ++j) {
            std::uint8_t* out = nearest_.Row(to_.Top + int(j - nearestRow_.begin())) + std::size_t(to_.Left) * 4;
            for (int i = 0; i < to_.Width; ++i, out += 4) {
                const std::uint8_t* p = source + std::size_t(nearestColumn_[std::size_t(i)]) * 4;
                out[0] = p[0];
                out[1] = p[1];
                out[2] = p[2];
                out[3] = p[3];
            }
        }
        return;
    }

    // The window's pixels in linear light, premultiplied; opacity in 0..1.
    const std::array<float, 256>& table = LinearTable();
    float* lin = linear_.data();
    for (int x = 0; x < from_.Width; ++x, source += 4, lin += 4) {
        const float a = float(source[3]) * (1.0f / 255.0f);
        lin[0] = table[source[0]] * a;
        lin[1] = table[source[1]] * a;
        lin[2] = table[source[2]] * a;
        lin[3] = a;
    }

    // Across: each target column sums its taps. This is the resampler's main
    // cost, about (source width * 2 * support) multiply-adds of four
    // channels at once.
    const float* weights = columnWeights_.data();
    for (int i = 0; i < to_.Width; ++i) {
        const std::size_t k = std::size_t(i);
        const float* p = linear_.data() + std::size_t(across_.first[k]) * 4;
        // Four partial sums, so that the additions do not wait on each other.
        TFour s0 = {0, 0, 0, 0}, s1 = s0, s2 = s0, s3 = s0;
        std::size_t n = columnStart_[k];
        const std::size_t end = columnStart_[k + 1];
        for (; n + 4 <= end; n += 4, p += 16) {
            s0 += weights[n] * Load(p);
            s1 += weights[n + 1] * Load(p + 4);
            s2 += weights[n + 2] * Load(p + 8);
            s3 += weights[n + 3] * Load(p + 12);
        }
        for (; n < end; ++n, p += 4) s0 += weights[n] * Load(p);
        const TFour sum = (s0 + s1) + (s2 + s3);
        std::memcpy(filtered_.data() + k * 4, &sum, sizeof sum);
    }

    // Down: the filtered row goes into every target row whose taps hold it.
    int begin = 0, end = 0;
    TargetRows(r, begin, end);
    for (int j = begin; j < end; ++j) {
        const std::size_t k = std::size_t(j);
        const double w = Kernel((r - down_.center[k] + 0.5) / down_.stretch) * down_.inverse[k] * kFixedOne;
        if (w == 0) continue;
        std::int64_t* sum = sums_.data() + k * std::size_t(to_.Width) * 4;
        const float* f = filtered_.data();
        for (std::size_t n = 0; n < std::size_t(to_.Width) * 4; ++n) {
            sum[n] += std::int64_t(w * double(f[n]));
        }
    }
}

TRgbaImage TResampler::Result() const {
    if (addedRows_ < neededRows_)
        throw EInvalidGraphic("The picture to scale ended after " + std::to_string(addedRows_) + " of the " +
                              std::to_string(neededRows_) + " rows it needs");
    if (filter_ == TResampleFilter::Nearest) return nearest_;

    TRgbaImage result(targetWidth_, targetHeight_);
    const std::int64_t* sum = sums_.data();
    for (int j = 0; j < to_.Height; ++j) {
        std::uint8_t* out = result.Row(to_.Top + j) + std::size_t(to_.Left) * 4;
        for (int i = 0; i < to_.Width; ++i, sum += 4, out += 4) {
            const double a = double(sum[3]) / kFixedOne;
            const long alpha = std::clamp(std::lround(a * 255), 0L, 255L);
            if (alpha == 0) continue;  // transparent: (0, 0, 0, 0)
            for (int c = 0; c < 3; ++c) out[c] = ToSrgb(double(sum[c]) / kFixedOne / a);
            out[3] = std::uint8_t(alpha);
        }
    }
    return result;
}

void RowToStraightBgra(const std::uint8_t* row, int width, TPixelFormat format, const std::vector<TColor>& palette,
                       bool hasAlpha, bool straightAlpha, std::uint8_t* out) {
    if (format == pf32bit || format == pfDevice) {
        for (int x = 0; x < width; ++x, row += 4, out += 4) {
            if (!hasAlpha) {
                out[0] = row[0];
                out[1] = row[1];
                out[2] = row[2];
                out[3] = 255;
                continue;
            }
            const unsigned a = row[3];
            if (straightAlpha || a == 255) {
                std::copy(row, row + 4, out);
            } else if (a == 0) {
                std::fill(out, out + 4, std::uint8_t(0));
            } else {
                // Premultiplied to straight, rounded to the nearest level.
                for (int c = 0; c < 3; ++c) out[c] = std::uint8_t(std::min(255u, (row[c] * 255u + a / 2) / a));
                out[3] = std::uint8_t(a);
            }
        }
        return;
    }
    const std::array<TColor, 256> full = FullPalette(palette);
    DispatchFormat(format, [&](auto f) {
        using F = decltype(f);
        // In chunks, so that the colours need no buffer as wide as the row.
        constexpr int kChunk = 256;
        std::array<TColor, kChunk> colors;
        for (int x0 = 0; x0 < width; x0 += kChunk) {
            const int n = std::min(kChunk, width - x0);
            ReadColors<F>(row, nullptr, x0, n, full.data(), colors.data());
            for (int k = 0; k < n; ++k, out += 4) {
                const TColor c = colors[std::size_t(k)];
                out[0] = GetBValue(c);
                out[1] = GetGValue(c);
                out[2] = GetRValue(c);
                out[3] = 255;
            }
        }
    });
}
