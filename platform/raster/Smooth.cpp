// SmoothShrink: box-filter reduction for previews.

#include "BitmapData.h"
#include "PixelFormats.h"
#include "RowOps.h"

#include "Exception.h"

#include <algorithm>
#include <array>
#include <vector>

using namespace raster;

namespace {

// Per-target-column sums of one target row. 64-bit: a single target pixel
// may gather up to 2^28 source pixels.
struct RowSums {
    std::vector<std::uint64_t> b, g, r, a;
    explicit RowSums(int width) : b(std::size_t(width)), g(std::size_t(width)), r(std::size_t(width)), a(std::size_t(width)) {}
    void Clear() {
        std::fill(b.begin(), b.end(), 0);
        std::fill(g.begin(), g.end(), 0);
        std::fill(r.begin(), r.end(), 0);
        std::fill(a.begin(), a.end(), 0);
    }
};

// Adds one source row to the sums. The 24- and 32-bit paths read bytes
// directly; the others go through the format's colour reader.
void AddRow(const TBitmap& source, int y, const std::vector<int>& target, const std::array<TColor, 256>& palette,
            bool alpha, std::vector<TColor>& colors, RowSums& sums) {
    const int w = source.Width();
    const std::uint8_t* row = source.ScanLine(y);
    const TPixelFormat format = source.PixelFormat();
    if (format == pf24bit || format == pf32bit || format == pfDevice) {
        const int step = format == pf24bit ? 3 : 4;
        for (int x = 0; x < w; ++x, row += step) {
            const std::size_t t = std::size_t(target[std::size_t(x)]);
            sums.b[t] += row[0];
            sums.g[t] += row[1];
            sums.r[t] += row[2];
            if (alpha) sums.a[t] += row[3];
        }
        return;
    }
    DispatchFormat(format, [&](auto f) {
        using F = decltype(f);
        ReadColors<F>(row, nullptr, 0, w, palette.data(), colors.data());
    });
    for (int x = 0; x < w; ++x) {
        const std::size_t t = std::size_t(target[std::size_t(x)]);
        const TColor c = colors[std::size_t(x)];
        sums.b[t] += GetBValue(c);
        sums.g[t] += GetGValue(c);
        sums.r[t] += GetRValue(c);
    }
}

}  // namespace

TBitmap SmoothShrink(const TBitmap& source, int width, int height) {
    const int w = source.Width(), h = source.Height();
    if (width < 1 || height < 1 || width > w || height > h)
        throw EInvalidGraphic("A smooth reduction needs a target between 1 pixel and the source's size");
    const bool alpha = (source.PixelFormat() == pf32bit || source.PixelFormat() == pfDevice) && source.HasAlpha();

    TBitmap result;
    result.SetPixelFormat(pf32bit);
    result.SetHasAlpha(alpha);
    result.SetSize(width, height);

    // Target column of every source column, and how many source columns
    // each target column gathers.
    std::vector<int> target(static_cast<std::size_t>(w));
    std::vector<std::uint32_t> columns(std::size_t(width), 0);
    for (int x = 0; x < w; ++x) {
        target[std::size_t(x)] = int(std::int64_t(x) * width / w);
        ++columns[std::size_t(target[std::size_t(x)])];
    }
    const std::array<TColor, 256> palette = FullPalette(source.Palette());
    std::vector<TColor> colors(static_cast<std::size_t>(w));
    RowSums sums(width);

    int y = 0;
    for (int ty = 0; ty < height; ++ty) {
        sums.Clear();
        std::uint64_t rows = 0;
        for (; y < h && int(std::int64_t(y) * height / h) == ty; ++y, ++rows)
            AddRow(source, y, target, palette, alpha, colors, sums);
        std::uint8_t* out = result.ScanLine(ty);
        for (int tx = 0; tx < width; ++tx, out += 4) {
            const std::uint64_t n = rows * columns[std::size_t(tx)];
            const std::size_t t = std::size_t(tx);
            // Rounded to the nearest level.
            out[0] = std::uint8_t((sums.b[t] + n / 2) / n);
            out[1] = std::uint8_t((sums.g[t] + n / 2) / n);
            out[2] = std::uint8_t((sums.r[t] + n / 2) / n);
            out[3] = alpha ? std::uint8_t((sums.a[t] + n / 2) / n) : 0;
        }
    }
    return result;
}
