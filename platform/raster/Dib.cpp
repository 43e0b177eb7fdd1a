// Fetching a bitmap as a device-independent array: rows bottom-up, each
// padded with zero bytes to a multiple of 4.

#include "Palettes.h"
#include "PixelFormats.h"
#include "RowOps.h"

#include "Exception.h"

#include <cstring>
#include <vector>

using namespace raster;

namespace {

void CheckFetchable(const TBitmap& bitmap, int bitsPerPixel) {
    if (bitmap.Empty()) throw EInvalidGraphic("Bitmap image is not valid");
    if (bitsPerPixel != 1 && bitsPerPixel != 24 && bitsPerPixel != 32) throw EInvalidGraphic("Invalid pixel format");
}

}  // namespace

TDIBSizes GetDIBSizes(const TBitmap& bitmap, int bitsPerPixel) {
    CheckFetchable(bitmap, bitsPerPixel);
    // The one-bit header carries its two-entry colour table.
    const std::size_t header = 40 + (bitsPerPixel == 1 ? 2 * 4 : 0);
    return {header, RowStride(bitmap.Width(), bitsPerPixel) * std::size_t(bitmap.Height())};
}

void GetDIBits(const TBitmap& bitmap, int bitsPerPixel, std::uint8_t* bits, std::size_t size) {
    const TDIBSizes sizes = GetDIBSizes(bitmap, bitsPerPixel);
    if (bits == nullptr || size < sizes.ImageSize)
        throw EInvalidGraphic("The buffer is too small for the bitmap's pixels");

    const int width = bitmap.Width(), height = bitmap.Height();
    const std::size_t stride = RowStride(width, bitsPerPixel);
    const std::array<TColor, 256> palette = FullPalette(bitmap.Palette());
    const bool withFourth = bitsPerPixel == 32 && bitmap.PixelFormat() == pf32bit;
    const TwoColorTest blackOrWhite(clBlack, clWhite);
    std::vector<TColor> colors(static_cast<std::size_t>(width));

    std::memset(bits, 0, sizes.ImageSize);
    DispatchFormat(bitmap.PixelFormat(), [&](auto f) {
        using F = decltype(f);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = bitmap.ScanLine(y);
            std::uint8_t* out = bits + stride * std::size_t(height - 1 - y);
            ReadColors<F>(in, nullptr, 0, width, palette.data(), colors.data());
            if (bitsPerPixel == 1) {
                for (int x = 0; x < width; ++x)
                    if (blackOrWhite.Index(colors[std::size_t(x)])) out[x >> 3] |= std::uint8_t(0x80u >> (x & 7));
            } else if (bitsPerPixel == 24) {
                for (int x = 0; x < width; ++x) Format24::SetColor(out, x, colors[std::size_t(x)], 0);
            } else {
                for (int x = 0; x < width; ++x)
                    Format32::SetColor(out, x, colors[std::size_t(x)], withFourth ? Format32::Fourth(in, x) : 0);
            }
        }
    });
}
