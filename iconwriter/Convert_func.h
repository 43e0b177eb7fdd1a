#pragma once
// The icon writer: turns a bitmap into a Windows icon file (.ico) holding one
// image, a 24-bit (or 32-bit) device-independent bitmap followed by its
// one-bit AND mask.
//
// The work is split in two public steps so that the window and the batch
// converter can share it: RenderIconEx / RenderIcon do all the pixel work and
// return the icon in memory; WriteIconFile stores it. Nothing touches the
// file system before the render step has succeeded.
//
// File layout, all integers little-endian, no padding anywhere:
//   offset 0   6 bytes   directory header (TIcondir without its entries)
//   offset 6   16 bytes  the one directory entry
//   offset 22  40 bytes  bitmap info header (biHeight counts colour + mask rows)
//   offset 62            colour rows, bottom-up, rows padded to 4 bytes
//   then                 mask rows, bottom-up, 1 bit per pixel (1 = transparent)

#include "Graphics.h"
#include "SafeFile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One image of an icon directory. The two one-byte sizes keep only the low
// 8 bits of the real size (256 reads back as 0, 300 as 44); readers take the
// full size from the bitmap info header.
struct TIconDirEntry {
    std::uint8_t bWidth = 0;
    std::uint8_t bHeight = 0;      // the image's height, not doubled
    std::uint8_t bColorCount = 0;  // 0: no palette
    std::uint8_t bReserved = 0;
    std::uint16_t wPlanes = 0;
    std::uint16_t wBitCount = 0;
    std::uint32_t dwBytesInRes = 0;   // info header + colour rows + mask rows
    std::uint32_t dwImageOffset = 0;  // from the start of the file
};

// The icon directory. Only the first idCount entries are ever written.
struct TIcondir {
    std::uint16_t idReserved = 0;
    std::uint16_t idType = 0;  // 1: icon
    std::uint16_t idCount = 0;
    std::array<TIconDirEntry, 20> IdEntries{};
};

// The 40-byte BITMAPINFOHEADER stored in the file before the pixels.
struct TBitmapInfoHeader {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;  // the colour rows only
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

constexpr std::size_t IconDirHeaderSize = 6;
constexpr std::size_t IconDirEntrySize = 16;
constexpr std::size_t BitmapInfoHeaderSize = 40;

// The bytes of the directory as stored: 6 + 16 * idCount. An idCount above
// the 20 entries the record holds raises Exception.
std::vector<std::uint8_t> IconDirBytes(const TIcondir& dir);
std::array<std::uint8_t, BitmapInfoHeaderSize> BitmapInfoHeaderBytes(const TBitmapInfoHeader& header);

// Bytes of a DIB of width x height at bitsPerPixel, rows padded to 4 bytes.
// Raises EOutOfResources when the result would not fit the 32-bit size
// fields of the icon format; width and height must not be negative.
std::uint32_t IconDIBSize(int width, int height, int bitsPerPixel);

// A rendered icon: everything that goes into the file, in file order.
struct TIconImage {
    TIcondir Directory;
    TBitmapInfoHeader Header;
    std::vector<std::uint8_t> ColorBits;  // biSizeImage bytes
    std::vector<std::uint8_t> MaskBits;

    std::size_t FileSize() const;
    // The whole file in memory (for callers that do not write a file).
    std::vector<std::uint8_t> FileBytes() const;
};

// Renders `Bitmap` as a Width x Height icon. The source is reduced to
// `PixelFormat` as it is drawn (nearest-neighbour stretch, no aspect kept);
// the icon is 32-bit for pf32bit and 24-bit for every other format. With
// UseTransparent, pixels of exactly TransparentColor become black in the
// colour rows and set in the mask; at 32 bits the fourth byte is 255 for
// opaque pixels and 0 for transparent ones.
// Errors: pfCustom -> EInvalidGraphic("Invalid pixel format"); a zero size ->
// EInvalidGraphic("Bitmap image is not valid"); a negative size ->
// EOutOfResources; a size beyond the format or memory -> EOutOfResources or
// EOutOfMemory, before the large buffers are allocated.
TIconImage RenderIconEx(const TBitmap& Bitmap, int Width, int Height, bool UseTransparent,
                        TColor TransparentColor, TPixelFormat PixelFormat);

// The desktop's small-icon size here (freedesktop icon themes' smallest
// standard size, the same as on Windows at 100 % scaling).
constexpr int SmallIconSize = 16;
constexpr int LargeIconSize = 48;

// Renders `Bitmap` itself (no reduction) as a 24-bit icon of 16 x 16
// (SmallIcon) or 48 x 48, drawn into a white background. The transparent
// colour is that of the rendered pixel (X, Y), 0-based from the top left;
// a pixel outside the icon raises Exception before any work is done.
TIconImage RenderIcon(const TBitmap& Bitmap, bool SmallIcon, bool UseTransparent, int X, int Y);

// Stores `Image` under `FileName` (UTF-8), replacing an existing file only
// once every byte has been written. Errors: EFCreateError
// "Cannot create file "<full path>". <reason>", EWriteError. Once the new
// file has its name, the call succeeds (see TSafeFile::Commit).
// `write` and `sync` replace the system's write and fsync calls (tests
// simulate a full or failing disk).
void WriteIconFile(const std::string& FileName, const TIconImage& Image, TSafeFile::TWriteFunction write = {},
                   TSafeFile::TSyncFunction sync = {});

// Render, then write.
void SaveBmpAsIconEx(const TBitmap& Bitmap, const std::string& FileName, int Width, int Height,
                     bool UseTransparent, TColor TransparentColor, TPixelFormat PixelFormat);
void SaveBmpAsIcon(const TBitmap& Bitmap, const std::string& FileName, bool SmallIcon,
                   bool UseTransparent, int X, int Y);
