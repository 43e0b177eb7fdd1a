#pragma once
// One conversion of the command-line converter: a picture file in, an icon
// in memory out.
//
// With the defaults, and whenever only the size, depth and transparency are
// chosen, the icon is byte for byte the one the window writes for the same
// choices. Beyond the window, an icon may hold several sizes, store some of
// them as PNG, keep the picture's own opacity, scale smoothly and keep the
// picture's aspect.
//
// The picture is never held whole. The decoder hands its rows to a sink that
// keeps only what each image needs: for nearest-neighbour sampling the
// sampled rows and columns (and, for a one-bit image, a summary of the rows
// between), for smooth scaling the running sums of the filter. Memory stays
// in proportion to the icon, not to the picture. No Qt here.

#include "ConvertOptions.h"
#include "Convert_func.h"
#include "Graphics.h"
#include "IconFile.h"
#include "Resample.h"

#include <cstdint>
#include <string>
#include <vector>

// How the transparent colour is chosen.
enum class TTransparencyChoice {
    // As the window does with a freshly loaded picture: off, unless the
    // top-left pixel is black, which turns it on with black. Off for a
    // picture with its own opacity when the images are drawn beyond the
    // window's way (smooth scaling, a fit, or the opacity kept).
    WindowDefault,
    Off,
    // On, with TConvertSettings::Colour.
    Colour,
    // On, with the picture's top-left pixel.
    TopLeft,
};

// How a picture whose aspect differs from the icon's fills it.
enum class TFit {
    Stretch,  // the whole picture over the whole icon, as the window does
    Pad,      // the whole picture, centred, keeping its aspect; the rest transparent or the background
    Crop,     // the picture's centred part of the icon's aspect, over the whole icon
};

// One image of the icon: the picture's own size, or a fixed one.
struct TSizeChoice {
    bool Original = true;
    TIconSize Size;

    friend bool operator==(const TSizeChoice&, const TSizeChoice&) = default;
};

struct TConvertSettings {
    // The icon's images in the order they are stored; by default one, at the
    // picture's own size.
    std::vector<TSizeChoice> Sizes{TSizeChoice{}};
    TPixelFormat Depth = pf24bit;
    TTransparencyChoice Transparency = TTransparencyChoice::WindowDefault;
    TColor Colour = clBlack;
    // Icons wider or taller than MaxIconSide are refused unless this is set
    // (the window asks; a script has no one to ask).
    bool AllowLarge = false;

    // The images stored as PNG: every one, or those of these sizes.
    bool PngAll = false;
    std::vector<TSizeChoice> PngSizes;
    // Keep the picture's own opacity in 32-bit images (Depth must be pf32bit).
    // Otherwise a picture's opacity is composed over white, as the window
    // does at 32 bits.
    bool KeepAlpha = false;
    TResampleFilter Filter = TResampleFilter::Nearest;
    TFit Fit = TFit::Stretch;
    // Pad only: the colour around the picture instead of transparency.
    bool UseBackground = false;
    TColor Background = clWhite;
};

struct TConvertedIcon {
    std::vector<TIconEntry> Entries;

    std::vector<std::uint8_t> FileBytes() const { return IconFileBytes(Entries); }
};

// Reads the picture at `path` (UTF-8), choosing the decoder by its extension
// as the window does, and renders its icon. Raises EInvalidImage for an
// unsupported extension or a bad picture, EFOpenError when the file cannot
// be opened, and Exception, once the header is read and before the pixels
// are, for an image larger than MaxIconSide without AllowLarge or a
// picture's own size that another image of the list already has.
TConvertedIcon ConvertPicture(const std::string& path, const TConvertSettings& settings);
