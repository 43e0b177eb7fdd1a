#pragma once
// What converting a bitmap to another pixel format does to its colours, in
// one place, so that SetPixelFormat and StretchDrawReduced agree exactly.

#include "Graphics.h"
#include "Palettes.h"

#include <vector>

namespace raster {

// The palette a bitmap gets when converted from its own format to `format`:
// pf1bit takes the first two entries of the source's table when it has one
// (black where a second entry is missing) and black and white otherwise;
// pf4bit the 16 standard colours; pf8bit the halftone palette, whatever the
// source had. Empty for true-colour formats.
std::vector<TColor> ConversionPalette(TPixelFormat format, const std::vector<TColor>& sourcePalette);
inline std::vector<TColor> ConversionPalette(TPixelFormat format, const TBitmap& source) {
    return ConversionPalette(format, source.Palette());
}

// Maps a plain colour to the colour it becomes in a bitmap of `format` with
// `palette` (the nearest entry, or the nearest 15- or 16-bit colour; true
// colour at 24 and 32 bits is kept).
class ColorReducer {
public:
    ColorReducer(TPixelFormat format, const std::vector<TColor>& palette);

    TColor Reduce(TColor c) {
        switch (kind_) {
            case Kind::Palette: return quantizer_.Reduce(c);
            case Kind::Bits15: return Reduce15(c);
            case Kind::Bits16: return Reduce16(c);
            case Kind::None: break;
        }
        return c;
    }
    void ReduceRow(TColor* colors, int n);
    bool Identity() const { return kind_ == Kind::None; }

private:
    enum class Kind { None, Palette, Bits15, Bits16 };
    Kind kind_;
    Quantizer quantizer_;
};

}  // namespace raster
