#pragma once
// Device-independent bitmaps as the BMP and icon readers share them: the
// info header (the old 12-byte OS/2 header, the OS/2 2.x header, the Windows
// headers of 40, 52, 56, 108 and 124 bytes), the bit-field masks, the colour
// table and the unpacking of stored rows. Private to the codecs library.
//
// Every function that reads takes `name` ("BMP", "ICO") to prefix its error
// messages, so a fault reads the same in both formats.

#include "ImageCodec.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace dib {

// The compression codes of the info header.
enum : std::uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitFields = 3,
    kJpeg = 4,
    kPng = 5,
    kAlphaBitFields = 6,
};

// Little-endian fields.
inline std::uint16_t U16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

// Reads exactly `size` bytes; false when the file ends first.
bool ReadExact(std::FILE* file, void* buffer, std::size_t size);
// The size of the whole file in bytes (the position is kept).
std::uint64_t FileSize(std::FILE* file, const char* name);
// Moves to `offset` from the start of the file.
void SeekTo(std::FILE* file, std::uint64_t offset, const char* name);

struct TDibHeader {
    std::uint32_t HeaderSize = 0;  // as stored
    int Width = 0;
    int Height = 0;                // rows of the stored picture, always positive
    bool TopDown = false;          // a negative stored height: top row first
    int Planes = 0;
    int BitCount = 0;
    std::uint32_t Compression = kRgb;
    std::uint32_t ColorsUsed = 0;
    // Red, green, blue and alpha masks of a 16- or 32-bit picture: those the
    // file gives with BI_BITFIELDS / BI_ALPHABITFIELDS, else the defaults
    // (x1r5g5b5 at 16 bits, x8r8g8b8 at 32); all zero at other depths.
    std::array<std::uint32_t, 4> Masks{};
    bool Core = false;             // the 12-byte header: 3-byte colour table entries
    // An embedded colour profile (124-byte header): its offset from the
    // start of the header and its size; both 0 when there is none.
    std::uint32_t ProfileOffset = 0;
    std::uint32_t ProfileSize = 0;
    // Bytes from the start of the header to the colour table: the header and,
    // after a 40-byte header, the masks that follow it.
    std::uint32_t BytesBeforePalette = 0;
};

// Reads and checks the info header at the current position of `file`, and
// the masks that follow a 40-byte header when the compression says so.
// Checks the plane count (1), a positive width, the bit count (1, 4, 8, 16,
// 24, 32), the compression (none, RLE8 at 8 bits, RLE4 at 4 bits, bit fields
// at 16 or 32 bits) and the masks (contiguous, within the pixel, not
// overlapping). The size itself is left to CheckImageLimits.
TDibHeader ReadInfoHeader(std::FILE* file, const char* name);

// Entries of the colour table as the header describes it: ColorsUsed, or
// 2^BitCount when that is 0; none above 8 bits.
std::uint32_t PaletteEntries(const TDibHeader& header);
// Bytes per colour table entry (3 after the 12-byte header, else 4).
inline std::uint32_t PaletteEntrySize(const TDibHeader& header) { return header.Core ? 3 : 4; }

// Reads the colour table at the current position: the first `count`
// entries, of which at most 2^BitCount are read and kept (entries beyond that
// are left for the caller to skip; the fourth byte of an entry is ignored). A
// file that ends inside the entries read raises "<name>: truncated palette".
std::vector<TColor> ReadPalette(std::FILE* file, const TDibHeader& header, std::uint32_t count, const char* name);

// Bytes per stored row of the picture (padded to 4 bytes).
std::size_t StoredStride(const TDibHeader& header);

// The format a BMP reader delivers an uncompressed picture in: the stored
// depth (1, 4, 8 bits indexed; 16 bits as pf15bit for x1r5g5b5 or pf16bit for
// r5g6b5; 24; 32 as B, G, R, X) when the stored pixels are already in that
// layout, otherwise pf24bit (other bit-field masks, decoded through them).
TPixelFormat NaturalFormat(const TDibHeader& header);
// True when the stored row is already a row of NaturalFormat.
bool StoredAsNatural(const TDibHeader& header);

// Decodes the stored pixels of one row through the bit-field masks into
// B, G, R bytes (pf24bit). 16- and 32-bit pictures only.
void MaskedRowTo24(const TDibHeader& header, const std::uint8_t* stored, std::uint8_t* out);

// Decodes one stored row of any depth into B, G, R, A bytes, straight (not
// premultiplied). The fourth byte is the stored alpha byte of a 32-bit
// picture in the default layout, the alpha mask's value of a picture with
// one, and 255 otherwise. Indices beyond the palette read as black.
void RowToBgra(const TDibHeader& header, const std::vector<TColor>& palette, const std::uint8_t* stored,
               std::uint8_t* out);

}  // namespace dib
