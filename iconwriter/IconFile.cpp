#include "IconFile.h"

#include "Exception.h"
#include "LittleEndian.h"

#include <png.h>

#include <cstring>
#include <limits>
#include <new>
#include <set>
#include <utility>

using namespace iconbytes;

namespace {

std::uint32_t GetBE32(const std::uint8_t* in) {
    return std::uint32_t(in[0]) << 24 | std::uint32_t(in[1]) << 16 | std::uint32_t(in[2]) << 8 |
           std::uint32_t(in[3]);
}

std::vector<std::uint8_t> Buffer(std::size_t size) {
    try {
        return std::vector<std::uint8_t>(size);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
}

std::string SizeText(int width, int height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

constexpr std::uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Whether the stored image is one of the entry's stated size, so that the
// directory never describes an image other than the one that follows it.
bool DataMatchesSize(const TIconEntry& entry) {
    const std::vector<std::uint8_t>& d = entry.Data;
    if (entry.Png) {
        // Signature, then the IHDR chunk: length 13, type, width, height.
        return d.size() >= 24 && std::memcmp(d.data(), PngSignature, 8) == 0 &&
               std::memcmp(d.data() + 12, "IHDR", 4) == 0 && GetBE32(d.data() + 16) == std::uint32_t(entry.Width) &&
               GetBE32(d.data() + 20) == std::uint32_t(entry.Height);
    }
    // The info header's height counts the colour rows and the mask rows.
    return d.size() >= BitmapInfoHeaderSize && GetU32(d.data()) == BitmapInfoHeaderSize &&
           GetU32(d.data() + 4) == std::uint32_t(entry.Width) &&
           GetU32(d.data() + 8) == std::uint32_t(entry.Height) * 2;
}

// The order in which the entries' data follow the directory: the PNG images
// first, then the bitmaps, each group in the order given. GdkPixbuf's loader
// reads an icon as a stream: when a larger PNG image lies after the bitmap it
// shows, it has passed that bitmap's rows by the time it knows which image
// to show, and draws garbage. Other readers go by the offsets.
std::vector<std::size_t> DataOrder(const std::vector<TIconEntry>& entries) {
    std::vector<std::size_t> order;
    for (bool png : {true, false})
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].Png == png) order.push_back(i);
    return order;
}

// The directory of `entries` (6 + 16n bytes), after every check that can
// refuse them, so that a refused list never creates a file.
std::vector<std::uint8_t> DirectoryBytes(const std::vector<TIconEntry>& entries) {
    if (entries.empty())
        throw Exception("An icon file needs at least one image");
    if (entries.size() > std::numeric_limits<std::uint16_t>::max())
        throw Exception("An icon file holds at most 65535 images, not " + std::to_string(entries.size()));

    std::set<std::pair<int, int>> sizes;
    for (const TIconEntry& e : entries) {
        if (e.Width <= 0 || e.Height <= 0)
            throw EInvalidGraphic("An icon image of " + SizeText(e.Width, e.Height) + " cannot be stored");
        if (!sizes.insert({e.Width, e.Height}).second)
            throw Exception("The icon would hold two images of " + SizeText(e.Width, e.Height) +
                            "; each size may appear only once");
        if (e.BitCount <= 0 || e.BitCount > std::numeric_limits<std::uint16_t>::max())
            throw Exception("The icon image of " + SizeText(e.Width, e.Height) + " has no valid colour depth");
        if (!DataMatchesSize(e))
            throw EInvalidGraphic(std::string("The icon image of ") + SizeText(e.Width, e.Height) + " does not hold " +
                                  (e.Png ? "a PNG picture" : "a bitmap") + " of that size");
    }

    std::vector<std::uint8_t> bytes = Buffer(IconDirHeaderSize + IconDirEntrySize * entries.size());
    PutU16(&bytes[0], 0);
    PutU16(&bytes[2], 1);
    PutU16(&bytes[4], std::uint16_t(entries.size()));
    std::uint64_t offset = bytes.size();
    for (const std::size_t i : DataOrder(entries)) {
        const TIconEntry& e = entries[i];
        // Every entry must start, and the last one end, within 32-bit offsets.
        if (offset + e.Data.size() > std::numeric_limits<std::uint32_t>::max())
            throw EOutOfResources("The icon is too large for the icon file format");
        std::uint8_t* out = &bytes[IconDirHeaderSize + IconDirEntrySize * i];
        out[0] = std::uint8_t(e.Width & 0xFF);
        out[1] = std::uint8_t(e.Height & 0xFF);
        out[2] = 0;  // no palette
        out[3] = 0;
        PutU16(out + 4, 1);
        PutU16(out + 6, std::uint16_t(e.BitCount));
        PutU32(out + 8, std::uint32_t(e.Data.size()));
        PutU32(out + 12, std::uint32_t(offset));
        offset += e.Data.size();
    }
    return bytes;
}

// `rgba` (width x height, R, G, B, A, rows top-down) as a PNG file.
std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgba) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGBA;

    // The encoder's bound for any content, so that one compression pass is
    // enough; the buffer is cut to the real size afterwards.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    std::vector<std::uint8_t> png = Buffer(size);
    if (!png_image_write_to_memory(&image, png.data(), &size, 0, rgba.data(), 0, nullptr)) {
        const std::string reason = image.message;
        png_image_free(&image);
        throw Exception("The icon image of " + SizeText(width, height) + " could not be stored as PNG: " + reason);
    }
    png.resize(size);
    return png;
}

}  // namespace

TIconEntry BmpEntry(const TIconImage& rendered) {
    const TBitmapInfoHeader& h = rendered.Header;
    TIconEntry entry;
    entry.Width = h.biWidth;
    entry.Height = h.biHeight / 2;
    entry.BitCount = h.biBitCount;
    entry.Png = false;
    entry.Data = Buffer(BitmapInfoHeaderSize + rendered.ColorBits.size() + rendered.MaskBits.size());
    const auto header = BitmapInfoHeaderBytes(h);
    std::uint8_t* out = entry.Data.data();
    std::memcpy(out, header.data(), header.size());
    out += header.size();
    if (!rendered.ColorBits.empty())
        std::memcpy(out, rendered.ColorBits.data(), rendered.ColorBits.size());
    out += rendered.ColorBits.size();
    if (!rendered.MaskBits.empty())
        std::memcpy(out, rendered.MaskBits.data(), rendered.MaskBits.size());
    return entry;
}

TIconEntry EntryFromRgba(const TRgbaImage& picture, TPixelFormat depth, bool useKey, TColor key, bool keepAlpha,
                         bool png) {
    if (keepAlpha && depth != pf32bit)
        throw Exception("The picture's own transparency can only be kept in a 32-bit icon: choose 32 bits per pixel, "
                        "or leave the transparency to the mask");
    const int width = picture.Width, height = picture.Height;
    if (width < 0 || height < 0 || picture.Pixels.size() != std::size_t(width) * std::size_t(height) * 4)
        throw EInvalidGraphic("The picture's pixels do not match its size of " + SizeText(width, height));

    // The colours alone, as the window's renderer takes a picture.
    TBitmap colours;
    colours.SetPixelFormat(pf24bit);
    colours.SetSizeForOverwrite(width, height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = picture.Row(y);
        std::uint8_t* out = colours.ScanLine(y);
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
    TIconImage icon = RenderIconEx(colours, width, height, useKey, key, depth);

    // The picture's opacity on top of the rendered pixels and mask. Both
    // arrays are bottom-up with rows padded to 4 bytes.
    const int bytesPerPixel = icon.Header.biBitCount / 8;
    const std::size_t colourStride = IconDIBSize(width, 1, icon.Header.biBitCount);
    const std::size_t maskStride = IconDIBSize(width, 1, 1);
    for (int y = 0; y < height; ++y) {
        const std::size_t fileRow = std::size_t(height - 1 - y);
        const std::uint8_t* in = picture.Row(y);
        std::uint8_t* pixel = icon.ColorBits.data() + colourStride * fileRow;
        std::uint8_t* mask = icon.MaskBits.data() + maskStride * fileRow;
        for (int x = 0; x < width; ++x, in += 4, pixel += bytesPerPixel) {
            const std::uint8_t bit = std::uint8_t(0x80 >> (x & 7));
            const std::uint8_t alpha = in[3];
            if (alpha == 0) {
                mask[x >> 3] |= bit;
                pixel[0] = pixel[1] = pixel[2] = 0;
                if (bytesPerPixel == 4)
                    pixel[3] = 0;
            } else if (keepAlpha && !(mask[x >> 3] & bit)) {
                pixel[3] = alpha;
            }
        }
    }

    if (!png)
        return BmpEntry(icon);

    // The final pixels as straight RGBA, top-down.
    std::vector<std::uint8_t> rgba = Buffer(std::size_t(width) * std::size_t(height) * 4);
    for (int y = 0; y < height; ++y) {
        const std::size_t fileRow = std::size_t(height - 1 - y);
        const std::uint8_t* pixel = icon.ColorBits.data() + colourStride * fileRow;
        const std::uint8_t* mask = icon.MaskBits.data() + maskStride * fileRow;
        std::uint8_t* out = rgba.data() + std::size_t(y) * std::size_t(width) * 4;
        for (int x = 0; x < width; ++x, pixel += bytesPerPixel, out += 4) {
            const bool transparent = (mask[x >> 3] >> (7 - (x & 7))) & 1;
            out[0] = pixel[2];
            out[1] = pixel[1];
            out[2] = pixel[0];
            out[3] = transparent ? 0 : bytesPerPixel == 4 ? pixel[3] : 255;
        }
    }
    TIconEntry entry;
    entry.Width = width;
    entry.Height = height;
    entry.BitCount = 32;
    entry.Png = true;
    entry.Data = EncodePng(width, height, rgba);
    return entry;
}

std::vector<std::uint8_t> IconFileBytes(const std::vector<TIconEntry>& entries) {
    std::vector<std::uint8_t> bytes = DirectoryBytes(entries);
    std::size_t total = bytes.size();
    for (const TIconEntry& e : entries)
        total += e.Data.size();
    try {
        bytes.reserve(total);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    for (const std::size_t i : DataOrder(entries))
        bytes.insert(bytes.end(), entries[i].Data.begin(), entries[i].Data.end());
    return bytes;
}

void WriteIconEntries(const std::string& fileName, const std::vector<TIconEntry>& entries,
                      TSafeFile::TWriteFunction write, TSafeFile::TSyncFunction sync) {
    const std::vector<std::uint8_t> directory = DirectoryBytes(entries);
    TSafeFile file(fileName, std::move(write), std::move(sync));
    file.Write(directory.data(), directory.size());
    for (const std::size_t i : DataOrder(entries))
        file.Write(entries[i].Data.data(), entries[i].Data.size());
    file.Commit();
}
