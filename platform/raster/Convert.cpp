// Pixel format conversion (TBitmap::SetPixelFormat) and the colour reduction
// it applies.

#include "BitmapData.h"
#include "Reduction.h"
#include "RowOps.h"

#include "Exception.h"

#include <cstring>

namespace raster {

std::vector<TColor> ConversionPalette(TPixelFormat format, const std::vector<TColor>& own) {
    if (format == pf1bit) {
        if (own.empty()) return MonochromePalette();
        return {own[0], own.size() > 1 ? own[1] : clBlack};
    }
    return DefaultPalette(format);
}

ColorReducer::ColorReducer(TPixelFormat format, const std::vector<TColor>& palette)
    : kind_(IsIndexed(format)      ? Kind::Palette
            : format == pf15bit    ? Kind::Bits15
            : format == pf16bit    ? Kind::Bits16
                                   : Kind::None),
      quantizer_(palette) {}

void ColorReducer::ReduceRow(TColor* colors, int n) {
    switch (kind_) {
        case Kind::Palette:
            for (int k = 0; k < n; ++k) colors[k] = quantizer_.Reduce(colors[k]);
            break;
        case Kind::Bits15:
            for (int k = 0; k < n; ++k) colors[k] = Reduce15(colors[k]);
            break;
        case Kind::Bits16:
            for (int k = 0; k < n; ++k) colors[k] = Reduce16(colors[k]);
            break;
        case Kind::None: break;
    }
}

}  // namespace raster

using namespace raster;

void TBitmap::SetPixelFormat(TPixelFormat format) {
    const int bits = BitsPerPixel(format);  // rejects pfCustom
    Data& d = *data_;
    if (format == d.format) return;

    Data converted = d;
    converted.format = format;
    converted.palette = ConversionPalette(format, *this);
    converted.matcher.reset();
    // Premultiplied colours are kept as stored; only the opacity is dropped.
    converted.hasAlpha = false;
    const std::size_t size = CheckedPixelBytes(d.width, d.height, bits, converted.stride);
    converted.pixels = size > 0 ? AllocatePixels(size) : nullptr;

    if (size > 0) {
        std::memset(converted.pixels->bytes.get(), 0, size);
        const auto source = FullPalette(d.palette);
        Quantizer quantizer(converted.palette);
        // Indexed sources are mapped through their table once, not per pixel.
        std::array<TColor, 256> colorOf{};
        std::array<unsigned, 256> indexOf{};
        for (std::size_t i = 0; i < 256; ++i) {
            colorOf[i] = source[i];
            if (IsIndexed(format)) indexOf[i] = quantizer.Index(source[i]);
        }
        DispatchFormat(d.format, [&](auto s) {
            using S = decltype(s);
            DispatchFormat(format, [&](auto t) {
                using T = decltype(t);
                for (int y = 0; y < d.height; ++y) {
                    const std::uint8_t* in = d.Row(y);
                    std::uint8_t* out = converted.Row(y);
                    // Nested rather than combined conditions: clang checks
                    // the members named in a combined condition's branches
                    // inside these generic lambdas.
                    for (int x = 0; x < d.width; ++x) {
                        if constexpr (S::kIndexed) {
                            if constexpr (T::kIndexed)
                                T::SetIndex(out, x, indexOf[S::Index(in, x)]);
                            else
                                T::SetColor(out, x, colorOf[S::Index(in, x)], 0);
                        } else {
                            if constexpr (T::kIndexed)
                                T::SetIndex(out, x, quantizer.Index(S::Color(in, x)));
                            else
                                T::SetColor(out, x, S::Color(in, x), 0);
                        }
                    }
                }
            });
        });
    }
    d = std::move(converted);
}
