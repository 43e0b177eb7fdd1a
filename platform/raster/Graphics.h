#pragma once
// The raster core: colour values, pixel formats, the bitmap and its canvas.
// Plain C++, no Qt: decoders, the icon writer and the command-line converter
// all stand on this. The window layer converts to QImage at its own edge.
//
// THIS HEADER IS THE CONTRACT between the raster core and its users. The
// signatures below are relied on elsewhere; add to them, do not change them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// A colour value 0x00BBGGRR: red in the low byte. Pixel reads give plain RGB
// values of this form (the high byte is 0).
using TColor = std::uint32_t;

constexpr TColor RGBColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}
constexpr std::uint8_t GetRValue(TColor c) { return std::uint8_t(c); }
constexpr std::uint8_t GetGValue(TColor c) { return std::uint8_t(c >> 8); }
constexpr std::uint8_t GetBValue(TColor c) { return std::uint8_t(c >> 16); }

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;

// In this order; pfDevice is the display's depth, 32-bit true colour here.
enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// Bits per stored pixel of a format (pfDevice: 32). pfCustom raises
// EInvalidGraphic("Invalid pixel format").
int BitsPerPixel(TPixelFormat format);

// Bytes per stored row: rows are padded to 4 bytes, as device-independent
// bitmaps are. Raises EOutOfResources when the size does not fit 32 bits.
std::size_t RowStride(int width, int bitsPerPixel);

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;  // Right and Bottom exclusive
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

class TBitmap;

// How a bitmap's transparent colour is chosen: tmAuto takes it from the
// pixels (see TBitmap::TransparentColor), tmFixed uses the colour that was set.
enum TTransparentMode { tmAuto, tmFixed };

class TCanvas {
public:
    struct TBrush {
        TColor Color = clWhite;
    };
    TBrush Brush;

    // Pixel access in bitmap coordinates (0, 0 top-left). Reads give the
    // pixel's plain colour value, any alpha byte ignored; indexed pixels give
    // their palette entry. Outside the bitmap a read gives 0 and a write does
    // nothing. A write stores the nearest colour the format can hold (in a
    // bitmap with per-pixel opacity, an opaque pixel of that colour).
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

    // Fills the rectangle (clipped to the bitmap) with Brush.Color.
    void FillRect(const TRect& rect);

    // Draws `source` scaled into `rect` (nearest-neighbour; a one-bit source
    // shrinking combines the pixels that fall together with AND; a source
    // marked transparent leaves its transparent colour undrawn; a 32-bit
    // source with premultiplied alpha blends over what is there).
    void StretchDraw(const TRect& rect, const TBitmap& source);

private:
    friend class TBitmap;
    explicit TCanvas(TBitmap& owner) : owner_(owner) {}
    TBitmap& owner_;
};

class TBitmap {
public:
    TBitmap();                       // 0 x 0, pfDevice
    TBitmap(const TBitmap& other);   // shares the pixels until one side writes
    TBitmap& operator=(const TBitmap& other);
    ~TBitmap();

    int Width() const;
    int Height() const;
    bool Empty() const;              // width or height is 0
    // Resizes, keeping the pixels of the overlapping area; new pixels are
    // white for true-colour formats and index 0 for indexed ones. Negative
    // sizes raise EOutOfResources; sizes whose pixels cannot be held raise
    // EOutOfMemory before anything is allocated.
    void SetSize(int width, int height);
    // Resizes for a writer that will fill every row itself, as decoders do:
    // the pixels are dropped and the new bytes are left as the allocator
    // gives them, so a large picture's memory is written once, not twice.
    // Limits and errors as for SetSize.
    void SetSizeForOverwrite(int width, int height);
    void SetWidth(int width) { SetSize(width, Height()); }
    void SetHeight(int height) { SetSize(Width(), height); }

    TPixelFormat PixelFormat() const;
    // Converts the pixels to `format` (nearest colour, no dithering; a copy
    // that already has the format is left as it is). pfCustom raises
    // EInvalidGraphic("Invalid pixel format").
    void SetPixelFormat(TPixelFormat format);

    // The colour table at 8 bits or fewer (2, 16 or 256 entries for pf1bit,
    // pf4bit, pf8bit); empty for other formats.
    const std::vector<TColor>& Palette() const;
    // Replaces the colour table (indexed formats only; the size must be at
    // most 2^bits entries).
    void SetPalette(const std::vector<TColor>& palette);

    // The transparency mark: when Transparent is set, StretchDraw leaves the
    // pixels of TransparentColor() undrawn.
    bool Transparent() const;
    void SetTransparent(bool value);
    // The colour set with SetTransparentColor, or, when none was set, white
    // for a one-bit bitmap and the bottom-left pixel's colour otherwise.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor color);
    // tmFixed once SetTransparentColor was called; setting tmAuto goes back
    // to the colour taken from the pixels.
    TTransparentMode TransparentMode() const;
    void SetTransparentMode(TTransparentMode mode);

    // Whether 32-bit pixels carry per-pixel opacity in their fourth byte, the
    // colour channels premultiplied by it. Converting to any other format
    // drops the opacity.
    bool HasAlpha() const;
    void SetHasAlpha(bool value);

    TCanvas& Canvas();
    const TCanvas& Canvas() const;

    // Row y (0 = top) of the stored pixels, RowStride(Width(), bits) bytes:
    // 1 and 4 bits pack the leftmost pixel in the high bits; 15 and 16 bits
    // are little-endian words (x1r5g5b5, r5g6b5); 24 bits are B, G, R; 32 bits
    // (and pfDevice) are B, G, R, A. The writable form unshares the pixels.
    const std::uint8_t* ScanLine(int y) const;
    std::uint8_t* ScanLine(int y);

    // Turns this bitmap into a one-bit bitmap of the same size: bit 1 (white)
    // where the pixel's colour equals `key` exactly, 0 (black) elsewhere.
    void Mask(TColor key);

private:
    struct Data;
    std::shared_ptr<Data> data_;
    TCanvas canvas_;
    void Unshare();
    friend class TCanvas;
};

// The stand-in for the platform's bitmap size query: the byte sizes of the
// header (with colour table) and of the pixels of `bitmap` fetched at
// `bitsPerPixel` (1, 24 or 32), rows bottom-up and padded to 4 bytes.
// An empty bitmap raises EInvalidGraphic("Bitmap image is not valid").
struct TDIBSizes {
    std::size_t InfoHeaderSize;
    std::size_t ImageSize;
};
TDIBSizes GetDIBSizes(const TBitmap& bitmap, int bitsPerPixel);

// The stand-in for fetching a bitmap's rows as a device-independent array:
// writes Height() rows bottom-up at `bitsPerPixel` (1, 24 or 32) into `bits`,
// which holds GetDIBSizes(...).ImageSize bytes. At one bit the leftmost pixel
// is the most significant bit and a pixel is 1 when its colour is the second
// entry of {black, white} nearer to it (for a Mask() result: 1 = key colour).
// At 32 bits the fourth byte is the stored one (0 for pfDevice/24-bit data).
// An empty bitmap raises EInvalidGraphic("Bitmap image is not valid").
void GetDIBits(const TBitmap& bitmap, int bitsPerPixel, std::uint8_t* bits, std::size_t size);

// Draws `source` into `rect` of `target` exactly as
//     TBitmap copy = source; copy.SetPixelFormat(format);
//     target.Canvas().StretchDraw(rect, copy);
// would, but reduces only the source pixels that the sampling keeps (all of
// them for a one-bit shrink) and never makes a full-size copy of `source`.
void StretchDrawReduced(TBitmap& target, const TRect& rect, const TBitmap& source, TPixelFormat format);

// A smooth reduction of `source` to width x height, for showing a large
// picture small: each target pixel is the average of the source pixels that
// fall into it (a box filter; source column x goes to target column
// x * width / source width, rows alike). Each target side must lie in
// [1, source side]. The result is pf32bit; it carries the source's
// premultiplied opacity when the source has it (averaging premultiplied
// values is exact), otherwise the fourth byte is 0. The source is read row by
// row and never copied whole.
TBitmap SmoothShrink(const TBitmap& source, int width, int height);
