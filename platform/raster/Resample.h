#pragma once
// Smooth scaling of a picture that arrives row by row, for icons made from
// large photos and logos.
//
// The filters follow the usual separable formulation (the one Pillow uses, so
// Pillow's BOX and LANCZOS give the same figures): for target pixel i of an
// axis that maps `in` source pixels onto `out` target pixels,
//     scale   = in / out,  stretch = max(scale, 1),
//     support = filter support * stretch (box 0.5, Lanczos-3 3),
//     center  = (i + 0.5) * scale,
//     taps    = source pixels max(int(center - support + 0.5), 0) up to, not
//               including, min(int(center + support + 0.5), in),
//     weight  = kernel((x - center + 0.5) / stretch), normalised to sum 1,
// with the box kernel 1 on (-0.5, 0.5] and Lanczos-3 sinc(x) * sinc(x / 3)
// on [-3, 3). The axis is the source window `from`: taps never reach outside
// it. Nearest takes source column from.Left + floor(i * from.Width / to.Width)
// (rows alike), the rule the window's stretch uses, and copies that straight
// pixel exactly.
//
// Box and Lanczos-3 work in linear light with premultiplied opacity, so that
// shrinking neither darkens mid-tones nor lets the colour of transparent
// pixels bleed into the edges of a shape: each source channel goes through
// the sRGB curve to linear light and is multiplied by the pixel's opacity;
// the filters run on these values and on the opacity; at the end the colour
// is divided by the opacity again (opacity 0 gives colour 0), turned back to
// sRGB with rounding and clamped to 0..255, and the opacity is rounded and
// clamped.
//
// Memory grows with the target, never with the source: each arriving row is
// filtered across at once into one target-wide row, which is then added with
// its vertical weights into per-target-row sums (4 channels of 64-bit fixed
// point per target pixel). Besides those, the resampler keeps one source row
// of linear values and the horizontal taps, a few numbers per source column;
// the vertical weights are computed per arriving row, not stored. The sums
// are fixed point, not floating point, because fixed-point addition does not
// depend on the order of the terms: rows may arrive in any order (a BMP file
// stores them bottom-up) and the result is the same to the last bit.

#include "Graphics.h"
#include "RgbaImage.h"

#include <cstdint>
#include <vector>

enum class TResampleFilter { Nearest, Box, Lanczos3 };

// A rectangle of pixels: Left and Top of its first pixel, its size.
struct TResampleRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
};

class TResampler {
public:
    // Source: width x height pixels; only the window `from` (inside the
    // source: the whole source to stretch or pad, the centred square to crop)
    // is drawn. Target: targetWidth x targetHeight pixels; the window is drawn
    // into `to` (inside the target: the whole target to stretch or crop, the
    // centred fitted rectangle to pad). Target pixels outside `to` are
    // (0, 0, 0, 0). Raises EInvalidGraphic for a size below 1, an empty
    // rectangle or one that leaves its picture, and for a target beyond the
    // picture limits of ImageLimits.h.
    TResampler(int width, int height, TResampleRect from, int targetWidth, int targetHeight, TResampleRect to,
               TResampleFilter filter);

    // Whether the result depends on source row y (0 = top). Rows outside the
    // window, and with Nearest the rows nobody samples, are not needed.
    bool NeedsRow(int y) const;

    // Takes source row y: `width` pixels of straight (not premultiplied)
    // B, G, R, A bytes. Rows may come in any order, each at most once; rows
    // that are not needed are ignored.
    void AddRow(int y, const std::uint8_t* bgra);

    // The target picture, with straight opacity. Raises EInvalidGraphic when
    // fewer rows than needed were added.
    TRgbaImage Result() const;

private:
    // One axis of a smooth filter: for each target pixel of `to`, the first
    // source pixel of its taps (counted from the window's start) and how many
    // there are.
    struct TAxis {
        std::vector<int> first, count;
        std::vector<double> center;   // (i + 0.5) * scale, for the weights
        std::vector<double> inverse;  // 1 / (sum of the raw weights)
        double stretch = 1;           // max(scale, 1)
    };
    TAxis MakeAxis(int in, int out) const;
    double Kernel(double x) const;
    // The target rows of `to` (counted from to.Top) that window row r feeds:
    // [begin, end).
    void TargetRows(int r, int& begin, int& end) const;

    int targetWidth_, targetHeight_;
    TResampleRect from_, to_;
    TResampleFilter filter_;
    int neededRows_ = 0;
    int addedRows_ = 0;

    // Nearest: the window column and row each target column and row of `to`
    // samples, and the target built as rows arrive.
    std::vector<int> nearestColumn_, nearestRow_;
    TRgbaImage nearest_;

    // Box and Lanczos-3.
    TAxis across_, down_;
    std::vector<float> columnWeights_;     // horizontal taps, per target column in turn
    std::vector<std::size_t> columnStart_; // where each target column's taps begin
    std::vector<float> linear_;            // one source row in linear light, premultiplied (4 per pixel)
    std::vector<float> filtered_;          // that row filtered across (4 per target column)
    std::vector<std::int64_t> sums_;       // per target pixel of `to`, B, G, R, A in fixed point
};

// Turns a decoded row into straight B, G, R, A bytes (width * 4 of them at
// `out`): `row` is laid out as TBitmap::ScanLine describes for `format`, with
// `palette` for the indexed formats. At pf32bit (and pfDevice) the fourth
// byte is the opacity when `hasAlpha`, with the colour premultiplied by it
// unless `straightAlpha`; without `hasAlpha` every pixel is opaque, as it is
// for every other format. pfCustom raises EInvalidGraphic.
void RowToStraightBgra(const std::uint8_t* row, int width, TPixelFormat format, const std::vector<TColor>& palette,
                       bool hasAlpha, bool straightAlpha, std::uint8_t* out);
