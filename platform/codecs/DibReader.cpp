// Device-independent bitmaps: the info header, masks, colour table and row
// unpacking shared by the BMP and icon readers.

#include "DibReader.h"

#include "Exception.h"

#include <bit>
#include <climits>
#include <cstring>
#include <string>

namespace dib {

namespace {

[[noreturn]] void Fail(const char* name, const std::string& what) { throw EInvalidImage(std::string(name) + ": " + what); }

constexpr std::array<std::uint32_t, 4> kDefault16 = {0x7C00, 0x03E0, 0x001F, 0};
constexpr std::array<std::uint32_t, 4> kMasks565 = {0xF800, 0x07E0, 0x001F, 0};
constexpr std::array<std::uint32_t, 4> kDefault32 = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};

bool SameRgb(const std::array<std::uint32_t, 4>& a, const std::array<std::uint32_t, 4>& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

bool Contiguous(std::uint32_t mask) {
    if (mask == 0) return true;
    const std::uint32_t shifted = mask >> std::countr_zero(mask);
    return (shifted & (shifted + 1)) == 0;
}

// One colour channel of a bit-field pixel, widened to 8 bits by rounding
// value * 255 / max to the nearest integer (an 8-bit field is taken as it is).
struct TChannel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit TChannel(std::uint32_t m) : mask(m) {
        if (m != 0) {
            shift = std::countr_zero(m);
            max = m >> shift;
        }
    }
    std::uint8_t operator()(std::uint32_t pixel) const {
        if (max == 0) return 0;
        const std::uint32_t v = (pixel & mask) >> shift;
        if (max == 255) return std::uint8_t(v);
        return std::uint8_t((std::uint64_t(v) * 255 + max / 2) / max);
    }
};

std::uint32_t PixelAt(const std::uint8_t* row, int x, int bits) {
    return bits == 16 ? U16(row + 2 * x) : U32(row + 4 * x);
}

unsigned IndexAt(const std::uint8_t* row, int x, int bits) {
    switch (bits) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
        case 4: return (row[x >> 1] >> (x & 1 ? 0 : 4)) & 15u;
        default: return row[x];
    }
}

}  // namespace

bool ReadExact(std::FILE* file, void* buffer, std::size_t size) {
    return size == 0 || std::fread(buffer, 1, size, file) == size;
}

std::uint64_t FileSize(std::FILE* file, const char* name) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) Fail(name, "cannot read the file");
    const long size = std::ftell(file);
    if (size < 0 || std::fseek(file, here, SEEK_SET) != 0) Fail(name, "cannot read the file");
    return std::uint64_t(size);
}

void SeekTo(std::FILE* file, std::uint64_t offset, const char* name) {
    if (offset > std::uint64_t(LONG_MAX) || std::fseek(file, long(offset), SEEK_SET) != 0)
        Fail(name, "cannot read the file");
}

TDibHeader ReadInfoHeader(std::FILE* file, const char* name) {
    TDibHeader h;
    std::uint8_t b[124] = {};
    if (!ReadExact(file, b, 4)) Fail(name, "truncated header");
    h.HeaderSize = U32(b);
    const std::uint32_t size = h.HeaderSize;
    // Windows headers come in these sizes; the OS/2 2.x header is 16 to 64
    // bytes, its fields beyond the stored size taken as 0.
    const bool windows = size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
    const bool os2 = !windows && size >= 16 && size <= 64;
    if (size == 12) {
        h.Core = true;
        if (!ReadExact(file, b + 4, 8)) Fail(name, "truncated header");
        h.Width = U16(b + 4);
        h.Height = U16(b + 6);
        h.Planes = U16(b + 8);
        h.BitCount = U16(b + 10);
    } else if (windows || os2) {
        if (!ReadExact(file, b + 4, size - 4)) Fail(name, "truncated header");
        h.Width = std::int32_t(U32(b + 4));
        const std::int64_t height = std::int32_t(U32(b + 8));
        h.TopDown = height < 0;
        // The magnitude of INT_MIN does not fit; it is far beyond the limits
        // anyway, so INT_MAX stands for it.
        h.Height = int(height < 0 ? std::min<std::int64_t>(-height, INT_MAX) : height);
        h.Planes = U16(b + 12);
        h.BitCount = U16(b + 14);
        h.Compression = U32(b + 16);
        h.ColorsUsed = U32(b + 32);
        constexpr std::uint32_t kEmbeddedProfile = 0x4D424544;  // 'MBED'
        if (size == 124 && U32(b + 56) == kEmbeddedProfile) {
            h.ProfileOffset = U32(b + 112);
            h.ProfileSize = U32(b + 116);
        }
    } else {
        Fail(name, "unsupported header size " + std::to_string(size));
    }
    h.BytesBeforePalette = size;

    if (h.Planes != 1) Fail(name, "plane count must be 1");
    if (h.Width < 0) Fail(name, "negative width " + std::to_string(h.Width));

    // OS/2 2.x uses 3 and 4 for Huffman and RLE24 coding, which we do not
    // read; JPEG and PNG inside a bitmap are not read either.
    const std::uint32_t c = h.Compression;
    const bool known = c == kRgb || c == kRle8 || c == kRle4 || (!os2 && (c == kBitFields || c == kAlphaBitFields));
    if (!known) Fail(name, "unsupported compression " + std::to_string(c));

    const int bits = h.BitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        Fail(name, "unsupported bit count " + std::to_string(bits));
    if (c == kRle8 && bits != 8) Fail(name, "RLE8 compression needs 8 bits per pixel");
    if (c == kRle4 && bits != 4) Fail(name, "RLE4 compression needs 4 bits per pixel");
    if ((c == kRle8 || c == kRle4) && h.TopDown) Fail(name, "a compressed bitmap cannot be top-down");
    if (c == kBitFields || c == kAlphaBitFields) {
        if (bits != 16 && bits != 32) Fail(name, "bit fields need 16 or 32 bits per pixel");
        if (size == 40) {
            // The masks follow the 40-byte header: red, green, blue, and
            // alpha for BI_ALPHABITFIELDS.
            const std::uint32_t count = c == kAlphaBitFields ? 4 : 3;
            if (!ReadExact(file, b + 40, 4 * count)) Fail(name, "truncated bit field masks");
            for (std::uint32_t i = 0; i < count; ++i) h.Masks[i] = U32(b + 40 + 4 * i);
            h.BytesBeforePalette = 40 + 4 * count;
        } else {
            for (std::uint32_t i = 0; i < 4; ++i)
                if (size >= 44 + 4 * i) h.Masks[i] = U32(b + 40 + 4 * i);
        }
        // A file that asks for bit fields but gives no colour masks at all
        // gets the default layout rather than a black picture.
        if (h.Masks[0] == 0 && h.Masks[1] == 0 && h.Masks[2] == 0) {
            const auto& defaults = bits == 16 ? kDefault16 : kDefault32;
            for (int i = 0; i < 3; ++i) h.Masks[std::size_t(i)] = defaults[std::size_t(i)];
        }
        const std::uint64_t limit = bits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
        std::uint32_t seen = 0;
        for (std::uint32_t m : h.Masks) {
            if (!Contiguous(m) || m > limit || (seen & m) != 0) Fail(name, "invalid bit field masks");
            seen |= m;
        }
    } else if (bits == 16) {
        h.Masks = kDefault16;
    } else if (bits == 32) {
        h.Masks = kDefault32;
    }
    return h;
}

std::uint32_t PaletteEntries(const TDibHeader& header) {
    if (header.BitCount <= 8 && header.ColorsUsed == 0) return 1u << header.BitCount;
    return header.ColorsUsed;
}

std::vector<TColor> ReadPalette(std::FILE* file, const TDibHeader& header, std::uint32_t count, const char* name) {
    std::vector<TColor> palette;
    if (header.BitCount > 8) return palette;
    const std::uint32_t keep = std::min(count, 1u << header.BitCount);
    const std::uint32_t entry = PaletteEntrySize(header);
    std::uint8_t bytes[256 * 4];
    if (!ReadExact(file, bytes, std::size_t(keep) * entry)) Fail(name, "truncated palette");
    palette.reserve(keep);
    for (std::uint32_t i = 0; i < keep; ++i) {
        const std::uint8_t* p = bytes + i * entry;
        palette.push_back(RGBColor(p[2], p[1], p[0]));
    }
    return palette;
}

std::size_t StoredStride(const TDibHeader& header) { return RowStride(header.Width, header.BitCount); }

TPixelFormat NaturalFormat(const TDibHeader& header) {
    switch (header.BitCount) {
        case 1: return pf1bit;
        case 4: return pf4bit;
        case 8: return pf8bit;
        case 16:
            if (SameRgb(header.Masks, kDefault16)) return pf15bit;
            if (SameRgb(header.Masks, kMasks565)) return pf16bit;
            return pf24bit;
        case 24: return pf24bit;
        default: return SameRgb(header.Masks, kDefault32) ? pf32bit : pf24bit;
    }
}

bool StoredAsNatural(const TDibHeader& header) { return BitsPerPixel(NaturalFormat(header)) == header.BitCount; }

void MaskedRowTo24(const TDibHeader& header, const std::uint8_t* stored, std::uint8_t* out) {
    const TChannel r(header.Masks[0]), g(header.Masks[1]), b(header.Masks[2]);
    const int bits = header.BitCount;
    for (int x = 0; x < header.Width; ++x, out += 3) {
        const std::uint32_t p = PixelAt(stored, x, bits);
        out[0] = b(p);
        out[1] = g(p);
        out[2] = r(p);
    }
}

void RowToBgra(const TDibHeader& header, const std::vector<TColor>& palette, const std::uint8_t* stored,
               std::uint8_t* out) {
    const int bits = header.BitCount;
    const int width = header.Width;
    if (bits <= 8) {
        for (int x = 0; x < width; ++x, out += 4) {
            const unsigned index = IndexAt(stored, x, bits);
            const TColor c = index < palette.size() ? palette[index] : clBlack;
            out[0] = GetBValue(c);
            out[1] = GetGValue(c);
            out[2] = GetRValue(c);
            out[3] = 255;
        }
    } else if (bits == 24) {
        for (int x = 0; x < width; ++x, out += 4, stored += 3) {
            out[0] = stored[0];
            out[1] = stored[1];
            out[2] = stored[2];
            out[3] = 255;
        }
    } else if (bits == 32 && SameRgb(header.Masks, kDefault32)) {
        std::memcpy(out, stored, std::size_t(width) * 4);
    } else {
        const TChannel r(header.Masks[0]), g(header.Masks[1]), b(header.Masks[2]), a(header.Masks[3]);
        for (int x = 0; x < width; ++x, out += 4) {
            const std::uint32_t p = PixelAt(stored, x, bits);
            out[0] = b(p);
            out[1] = g(p);
            out[2] = r(p);
            out[3] = header.Masks[3] ? a(p) : 255;
        }
    }
}

}  // namespace dib
