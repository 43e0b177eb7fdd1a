// TCanvas: pixel access and rectangle fill. Stretch drawing is in Stretch.cpp.

#include "BitmapData.h"
#include "Palettes.h"
#include "RowOps.h"

#include <algorithm>

using namespace raster;

TColor TCanvas::Pixel(int x, int y) const {
    const TBitmap::Data& d = *owner_.data_;
    if (x < 0 || y < 0 || x >= d.width || y >= d.height) return 0;
    const std::uint8_t* row = d.Row(y);
    return DispatchFormat(d.format, [&](auto f) -> TColor {
        using F = decltype(f);
        if constexpr (F::kIndexed) {
            const unsigned index = F::Index(row, x);
            return index < d.palette.size() ? d.palette[index] : clBlack;
        } else {
            return F::Color(row, x);
        }
    });
}

void TCanvas::SetPixel(int x, int y, TColor color) {
    TBitmap::Data& d = *owner_.data_;
    if (x < 0 || y < 0 || x >= d.width || y >= d.height) return;
    owner_.Unshare();
    std::uint8_t* row = d.Row(y);
    const std::uint8_t fourth = FourthByte(d.format, d.hasAlpha);
    DispatchFormat(d.format, [&](auto f) {
        using F = decltype(f);
        if constexpr (F::kIndexed) {
            F::SetIndex(row, x, d.NearestIndex(color));
        } else {
            F::SetColor(row, x, color, fourth);
        }
    });
}

void TCanvas::FillRect(const TRect& rect) {
    TBitmap::Data& d = *owner_.data_;
    const int x0 = std::max(rect.Left, 0), x1 = std::min(rect.Right, d.width);
    const int y0 = std::max(rect.Top, 0), y1 = std::min(rect.Bottom, d.height);
    if (x0 >= x1 || y0 >= y1) return;
    owner_.Unshare();
    const TColor color = Brush.Color;
    const std::uint8_t fourth = FourthByte(d.format, d.hasAlpha);
    DispatchFormat(d.format, [&](auto f) {
        using F = decltype(f);
        if constexpr (F::kIndexed) {
            const unsigned index = d.NearestIndex(color);
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) F::SetIndex(d.Row(y), x, index);
        } else {
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) F::SetColor(d.Row(y), x, color, fourth);
        }
    });
}
