#pragma once
// Drawing a picture that arrives row by row, without ever holding it whole.
//
// StretchDrawReduced (Graphics.h) into a W x H target looks at few of a large
// picture's pixels: when it shrinks, one source column per target column and
// one source row per target row; for a one-bit copy, whether the span of
// source pixels under each target pixel holds pixels of the copy's first
// entry, of its second, or of both. TStretchSampler keeps exactly that while
// the rows go past and then gives a small stand-in picture that draws into
// the W x H target exactly as the whole picture would, byte for byte. Its
// memory grows with the target, never with the picture.

#include "Graphics.h"

#include <cstdint>
#include <vector>

class TStretchSampler {
public:
    // The picture: width x height pixels of `format` (pfCustom raises), with `palette` for an indexed format and, at pf32bit,
    // premultiplied opacity when `hasAlpha`. The drawing it stands in for:
    //     StretchDrawReduced(target, {0, 0, targetWidth, targetHeight},
    //                        picture, drawFormat)
    // into a target of targetWidth x targetHeight. Every size must be at
    // least 1; otherwise EInvalidGraphic.
    TStretchSampler(int width, int height, TPixelFormat format, const std::vector<TColor>& palette, bool hasAlpha,
                    int targetWidth, int targetHeight, TPixelFormat drawFormat);

    // Whether the drawing looks at row y (0 = top) at all.
    bool NeedsRow(int y) const { return y >= 0 && y < height_ && rowSlot_[std::size_t(y)] >= 0; }

    // Takes row y in the picture's ScanLine layout. Rows may come in any
    // order, each at most once; rows the drawing does not need are ignored.
    void AddRow(int y, const std::uint8_t* row);

    // The stand-in, once every needed row has been added: drawn with
    // StretchDrawReduced(target, {0, 0, targetWidth, targetHeight}, StandIn(),
    // drawFormat) it gives what the whole picture gives.
    TBitmap StandIn() const;

private:
    int width_, height_;
    TPixelFormat format_;
    std::vector<TColor> palette_;
    // The one-bit copy of a shrink: spans of source pixels are summarised.
    bool summarise_;
    // The stand-in row (or, when summarising, the summary row) that each
    // source row goes to; -1 for rows the drawing skips.
    std::vector<int> rowSlot_;
    // Source columns kept (plain sampling), or each target column's span
    // [begin, end) of source columns (summarising).
    std::vector<int> columns_, spanEnd_;
    // Plain sampling: the kept pixels, in the picture's format.
    TBitmap kept_;
    // Summarising: per summary row and span, bit 0 = the span holds an
    // entry-0 pixel, bit 1 = an entry-1 pixel.
    std::vector<std::uint8_t> seen_;
    std::vector<std::uint8_t> rowBits_;
    int summaryRows_ = 0;
};
