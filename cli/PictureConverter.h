#pragma once
// One conversion of the command-line converter: a picture file in, an icon
// in memory out, with the same bytes the window writes for the same choices.
//
// The picture is never held whole. The decoder hands its rows to a sink that
// keeps only what nearest-neighbour sampling to the icon's size needs (and,
// for a one-bit icon, the per-pixel summary of the rows between), so memory
// stays in proportion to the icon, not to the picture. No Qt here.

#include "ConvertOptions.h"
#include "Convert_func.h"
#include "Graphics.h"

#include <string>

// How the transparent colour is chosen.
enum class TTransparencyChoice {
    // As the window does with a freshly loaded picture: off, unless the
    // top-left pixel is black, which turns it on with black.
    WindowDefault,
    Off,
    // On, with TConvertSettings::Colour.
    Colour,
    // On, with the picture's top-left pixel.
    TopLeft,
};

struct TConvertSettings {
    // The picture's own size when set; otherwise Size.
    bool OriginalSize = true;
    TIconSize Size;
    TPixelFormat Depth = pf24bit;
    TTransparencyChoice Transparency = TTransparencyChoice::WindowDefault;
    TColor Colour = clBlack;
    // Icons wider or taller than MaxIconSide are refused unless this is set
    // (the window asks; a script has no one to ask).
    bool AllowLarge = false;
};

// Reads the picture at `path` (UTF-8), choosing the decoder by its extension
// as the window does, and renders its icon. Raises EInvalidImage for an
// unsupported extension or a bad picture, EFOpenError when the file cannot
// be opened, and Exception for an icon larger than MaxIconSide without
// AllowLarge (raised once the header is read, before the pixels are).
TIconImage ConvertPicture(const std::string& path, const TConvertSettings& settings);
