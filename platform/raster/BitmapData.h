#pragma once
// The bitmap's inside, shared by the files that implement TBitmap's members.
// Not part of the raster core's interface.

#include "Graphics.h"
#include "ImageLimits.h"
#include "Palettes.h"
#include "PixelFormats.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace raster {

// One bitmap's pixel bytes. Bitmaps share a buffer after a copy; the first
// one to write gets its own (TBitmap::Unshare).
struct PixelBuffer {
    struct Free {
        void operator()(std::uint8_t* bytes) const;
    };
    std::unique_ptr<std::uint8_t[], Free> bytes;
    std::size_t size = 0;
};

// A buffer of `size` uninitialised bytes; allocation failure raises
// EOutOfMemory. Large buffers are aligned to 2 MiB and offered to the kernel
// for huge pages, which roughly halves what first touching them costs.
std::shared_ptr<PixelBuffer> AllocatePixels(std::size_t size);

// The fourth byte a write stores in a 32-bit pixel: 255 (opaque) in a bitmap
// with per-pixel opacity, else 0.
inline std::uint8_t FourthByte(TPixelFormat format, bool hasAlpha) {
    return format == pf32bit && hasAlpha ? 255 : 0;
}

// Fills row bytes [0, stride) with the blank pixel of the format, white for
// true colour and index 0 for indexed formats, and zero padding.
void FillBlankRow(std::uint8_t* row, std::size_t stride, int width, TPixelFormat format, std::uint8_t fourth);

}  // namespace raster

struct TBitmap::Data {
    int width = 0;
    int height = 0;
    TPixelFormat format = pfDevice;
    std::size_t stride = 0;
    std::vector<TColor> palette;
    std::shared_ptr<raster::PixelBuffer> pixels;  // null while empty
    bool transparent = false;
    TTransparentMode transparentMode = tmAuto;
    TColor transparentColor = clBlack;
    bool hasAlpha = false;
    // The palette's matcher once a pixel write needed it; reset whenever the
    // palette changes.
    std::shared_ptr<raster::PaletteMatcher> matcher;

    std::uint8_t* Row(int y) const { return pixels->bytes.get() + stride * std::size_t(y); }

    // The index of the palette entry nearest to `c` (0 for an empty palette).
    unsigned NearestIndex(TColor c) {
        if (palette.size() <= 2) {
            const TColor p0 = palette.empty() ? clBlack : palette[0];
            return raster::TwoColorTest(p0, palette.size() == 2 ? palette[1] : p0).Index(c);
        }
        if (!matcher) matcher = raster::MatcherFor(palette);
        return matcher->Nearest(c);
    }
};
