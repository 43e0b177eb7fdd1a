#pragma once
// Icon files holding several images, and the images themselves as they are
// stored in such a file. No Qt.
//
// An icon entry is one image of an icon file in its stored form: either a
// bitmap (40-byte BITMAPINFOHEADER, colour rows, AND mask rows; exactly what
// the single-image writer in Convert_func.h stores after its directory) or a
// complete PNG file (8-bit RGBA, not interlaced). The file is the directory
// followed by the entries' bytes:
//   offset 0        6 bytes        idReserved 0, idType 1, idCount n
//   offset 6        16 bytes each  one record per entry, in the order given
//   offset 6 + 16n                 the entries' data, back to back: the PNG
//                                  images first, then the bitmaps, each in the
//                                  order given (a streaming reader, GdkPixbuf,
//                                  misreads a bitmap that a larger PNG image
//                                  follows)
// Each record: bWidth, bHeight = the size's low 8 bits (256 reads as 0),
// bColorCount 0, bReserved 0, wPlanes 1, wBitCount (24 or 32; 32 for PNG),
// dwBytesInRes = the data's size, dwImageOffset = where the data starts.

#include "Convert_func.h"
#include "Graphics.h"
#include "RgbaImage.h"
#include "SafeFile.h"

#include <cstdint>
#include <string>
#include <vector>

struct TIconEntry {
    int Width = 0;
    int Height = 0;
    int BitCount = 0;  // the directory's wBitCount: 24 or 32 for bitmaps, 32 for PNG
    bool Png = false;
    std::vector<std::uint8_t> Data;  // the image as stored in the file
};

// The entry of a RenderIconEx (or RenderIcon) result: its info header, colour
// rows and mask rows, byte for byte as WriteIconFile stores them.
TIconEntry BmpEntry(const TIconImage& rendered);

// One icon image from a picture already at its final size, through the same
// pipeline as a single image. A pixel is transparent when its alpha is 0, or
// when `useKey` is set and its colour after the reduction to `depth` is
// exactly `key`; a transparent pixel is black in the colour rows, set in the
// mask and has opacity 0.
//   - keepAlpha off: the picture's colours (its alpha ignored) are rendered by
//     RenderIconEx at `depth` (so the colour reduction, the key and the mask
//     are the window's), then its alpha-0 pixels are masked as well. At 32
//     bits the fourth byte is 255 for every pixel that is not transparent.
//   - keepAlpha on: `depth` must be pf32bit (anything else raises Exception,
//     since only 32-bit pixels carry an opacity). The entry is 32-bit and each
//     pixel that is not transparent keeps the picture's straight colour and
//     its own alpha in the fourth byte.
//   - png: the same pixels stored as an 8-bit RGBA PNG: the colours as R, G,
//     B and the opacity as alpha (0 exactly where the mask is set). The
//     directory then gives 32 bits per pixel.
// Errors: a picture whose pixel array does not match its size raises
// EInvalidGraphic; sizes are refused as RenderIconEx refuses them; a failure
// of the PNG encoder raises Exception with its reason.
TIconEntry EntryFromRgba(const TRgbaImage& picture, TPixelFormat depth, bool useKey, TColor key, bool keepAlpha,
                         bool png);

// The whole icon file in memory: the directory, then the entries in the order
// given. Refused with Exception: no entry; more than 65535 entries; two
// entries of the same width and height; an entry whose data does not hold an
// image of its stated size (a bitmap's info header or a PNG's IHDR must agree
// with Width and Height). A file beyond the format's 32-bit offsets raises
// EOutOfResources.
std::vector<std::uint8_t> IconFileBytes(const std::vector<TIconEntry>& entries);

// Stores IconFileBytes(entries) under `fileName` (UTF-8) through TSafeFile,
// replacing an existing file only once every byte has been written; the
// errors and the replaceable write and sync calls are those of WriteIconFile.
// Nothing is created when the entries are refused.
void WriteIconEntries(const std::string& fileName, const std::vector<TIconEntry>& entries,
                      TSafeFile::TWriteFunction write = {}, TSafeFile::TSyncFunction sync = {});
